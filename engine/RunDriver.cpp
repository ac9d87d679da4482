// RuzoVavav: one whole analysis, from the host's matrix to the last result
// file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/Reporting.h"
#include "engine/Tarvok.h"
#include "numeric/Arrays.h"
#include "results/Labels.h"
#include "results/OutputDirectory.h"
#include "results/Writers.h"
#include "shaving/Extraction.h"
#include "shaving/ShaveSequence.h"
#include "shaving/Supervision.h"
#include "shaving/Workers.h"

namespace {

[[noreturn]] void RejectArgument(const char* name, long long value, const char* allowed) {
  FatalError(FormatMessage("RuzoVavav: %s is %lld; allowed: %s\n", name, value, allowed).c_str());
}

void CheckRange(const char* name, int value, int lo, int hi, const char* allowed) {
  if (value < lo || value > hi) RejectArgument(name, value, allowed);
}

// Every argument is checked before anything is read or written, so that a
// rejected call leaves the output directory exactly as it was.
void CheckArguments(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                    const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                    const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                    const int* dumpMatrix, const int* supervisionPercent,
                    char* const* classificationFile, int* clustersDone) {
  const struct {
    const char* name;
    const void* pointer;
  } pointers[] = {
      {"clusterCount", clusterCount},         {"shavePercent", shavePercent},
      {"permutationCount", permutationCount}, {"gapTolerancePercent", gapTolerancePercent},
      {"dataMatrix", dataMatrix},             {"geneCount", geneCount},
      {"sampleCount", sampleCount},           {"monitorFlag", monitorFlag},
      {"generateLabels", generateLabels},     {"dumpMatrix", dumpMatrix},
      {"supervisionPercent", supervisionPercent}, {"classificationFile", classificationFile},
      {"clustersDone", clustersDone},
  };
  for (const auto& p : pointers) {
    if (p.pointer == nullptr) {
      FatalError(FormatMessage("RuzoVavav: %s is a null pointer; a valid pointer is required\n", p.name).c_str());
    }
  }
  const int maxInt = 0x7fffffff;
  CheckRange("clusterCount", *clusterCount, 0, maxInt, "0 or more");
  CheckRange("shavePercent", *shavePercent, 1, 97, "1..97");
  CheckRange("permutationCount", *permutationCount, 1, maxInt, "1 or more");
  CheckRange("gapTolerancePercent", *gapTolerancePercent, 0, 100, "0..100");
  CheckRange("geneCount", *geneCount, 2, maxInt, "2 or more");
  CheckRange("sampleCount", *sampleCount, 2, maxInt, "2 or more");
  CheckRange("supervisionPercent", *supervisionPercent, 0, 100, "0..100");
  if (*supervisionPercent != 0 && *classificationFile == nullptr) {
    FatalError("RuzoVavav: classificationFile is a null pointer; a supervised run needs a classification file\n");
  }
  int threads = 1;
  if (ThreadCountFromEnvironment(&threads) == 0) {
    FatalError(FormatMessage("RuzoVavav: TARVOK_THREADS is \"%s\"; allowed: a whole number from 1 to 1024\n",
                             std::getenv("TARVOK_THREADS")).c_str());
  }
  SetWorkerThreads(threads);
  // Values that are not finite numbers would spread through every sum and
  // reach the result files; name the first one instead.
  const long long G = *geneCount, N = *sampleCount;
  for (long long g = 0; g < G; ++g) {
    for (long long s = 0; s < N; ++s) {
      if (!std::isfinite(dataMatrix[g * N + s])) {
        FatalError(FormatMessage("RuzoVavav: dataMatrix value of gene %lld, sample %lld is not a finite number\n",
                                 g + 1, s + 1).c_str());
      }
    }
  }
}

void StopEarly(int i, int K) {
  MonitorLog("%s", kMonitorNoClustersLeft);
  std::fprintf(stderr, "No clusters left to extract...\n");
  std::fprintf(stderr, "\tExtracted %d of requested %d\n", i, K);
  std::fflush(stderr);
  std::fputs("\a", stdout);
  std::fflush(stdout);
}

}  // namespace

extern "C" TARVOK_API void TARVOK_CALL RuzoVavav(
    const int* clusterCount, const int* shavePercent, const int* permutationCount,
    const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
    const int* sampleCount, const int* monitorFlag, const int* generateLabels, const int* dumpMatrix,
    const int* supervisionPercent, char* const* classificationFile, int* clustersDone) {
  SetMonitorMode(monitorFlag != nullptr ? *monitorFlag : 0);
  CheckArguments(clusterCount, shavePercent, permutationCount, gapTolerancePercent, dataMatrix,
                 geneCount, sampleCount, monitorFlag, generateLabels, dumpMatrix, supervisionPercent,
                 classificationFile, clustersDone);
  const int K = *clusterCount;
  const int G = *geneCount;
  const int N = *sampleCount;

  DMatrix workingMatrix = dmatrix(0, G - 1, 0, N - 1);
  CVector geneLabels = cvector(G);
  CVector sampleLabels = cvector(N);
  CVector clusterFileNames = cvector(K);
  CVector clusterLabelFileNames = cvector(K);

  int c = 0;
  DMatrix transform =
      BuildSupervisionTransform(*supervisionPercent, *classificationFile, N, &c);

  for (int g = 0; g < G; ++g) {
    for (int s = 0; s < N; ++s) {
      workingMatrix[g][s] = dataMatrix[static_cast<long long>(g) * N + s];
    }
  }
  CenterRows(workingMatrix, G, N);
  DMatrix referenceMatrix = dmatrix(0, G - 1, 0, N - 1);
  for (int g = 0; g < G; ++g)
    for (int s = 0; s < N; ++s) referenceMatrix[g][s] = workingMatrix[g][s];
  if (*dumpMatrix != 0) WriteOrigMatrix(workingMatrix, G, N);

  std::string rowLabelPath = OutputPath("RowLbls.txt");
  std::string columnLabelPath = OutputPath("ColLbls.txt");
  if (*generateLabels != 0) {
    GenerateLabels(geneLabels, G, "GENE", "");
    StoreLabels(geneLabels, G, nullptr, rowLabelPath.c_str());
    GenerateLabels(sampleLabels, N, "sample", "");
    StoreLabels(sampleLabels, N, nullptr, columnLabelPath.c_str());
  } else {
    ReadLabels(geneLabels, G, rowLabelPath.c_str(), "GENE");
    ReadLabels(sampleLabels, N, columnLabelPath.c_str(), "sample");
  }

  GenerateLabels(clusterLabelFileNames, K, "clabels", ".txt");
  StoreLabels(clusterLabelFileNames, K, nullptr, OutputPath("clabels.txt").c_str());
  GenerateLabels(clusterFileNames, K, "cluster", ".txt");
  StoreLabels(clusterFileNames, K, nullptr, OutputPath("clusters.txt").c_str());

  std::string lengthsPath = OutputPath("clusterlengths.txt");
  std::FILE* clusterLengths = std::fopen(lengthsPath.c_str(), "w");
  if (clusterLengths == nullptr) FatalFileError("RuzoVavav", lengthsPath.c_str());

  const double fraction = *shavePercent * 0.01;
  const double tolerance = *gapTolerancePercent;
  ShaveSequence* sequence = NewShaveSequence(G, N, fraction);

  for (int i = 1; i <= K; ++i) {
    MonitorLog("%s %d", kMonitorExtractCluster, i);
    ExtractCluster(workingMatrix, referenceMatrix, G, N, *permutationCount, tolerance, i, K,
                   geneLabels, clusterFileNames, clusterLabelFileNames, transform, c, sequence);
    std::fprintf(clusterLengths, "%d\t %d\n", sequence->chosen + 1, sequence->sizes[sequence->chosen]);
    // Flushed at once so that a run stopped from outside keeps the lines
    // of every finished pass.
    std::fflush(clusterLengths);
    WriteEigenFile(i, sequence->chosenEigenvalue);
    WritePcFile(i, N, sequence->chosenComponent);
    *clustersDone = i;
    // Step 0 is the whole remaining gene set: nothing smaller stands out in
    // what the earlier clusters left, so further passes would find nothing.
    if (i < K && sequence->chosen == 0) {
      StopEarly(i, K);
      break;
    }
  }

  FreeShaveSequence(sequence, G, N);
  std::fclose(clusterLengths);
  ReleaseDmatrix(workingMatrix, 0, G - 1, 0, N - 1);
  ReleaseDmatrix(referenceMatrix, 0, G - 1, 0, N - 1);
  if (transform.rows != nullptr) ReleaseDmatrix(transform, 0, N - 1, 0, c - 1);
  ReleaseCvector(geneLabels, G);
  ReleaseCvector(sampleLabels, N);
  ReleaseCvector(clusterFileNames, K);
  ReleaseCvector(clusterLabelFileNames, K);
}
