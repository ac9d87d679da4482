// The exported RuzoVavav: the engine's whole run on the exact solver, a
// failure ending the process (engine/RunDriver.h). Kept in a file of its
// own so that a program linking the engine's static archive for
// RunToFiles still takes RuzoVavav from the shared library.
#include "engine/RunDriver.h"
#include "engine/Tarvok.h"

extern "C" TARVOK_API void TARVOK_CALL RuzoVavav(
    const int* clusterCount, const int* shavePercent, const int* permutationCount,
    const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
    const int* sampleCount, const int* monitorFlag, const int* generateLabels, const int* dumpMatrix,
    const int* supervisionPercent, char* const* classificationFile, int* clustersDone) {
  tarvok::RunToFilesOrEnd(clusterCount, shavePercent, permutationCount, gapTolerancePercent, dataMatrix,
                          geneCount, sampleCount, monitorFlag, generateLabels, dumpMatrix, supervisionPercent,
                          classificationFile, clustersDone, {});
}
