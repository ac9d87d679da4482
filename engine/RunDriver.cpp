// RuzoVavav: one whole analysis, from the host's matrix to the last result
// file. The analysis itself is the core's; this face checks the host's
// arguments, settles the labels, writes every result file at its moment,
// prints the monitor lines, and turns any failure into the fatal report.
#include <cstdlib>
#include <new>

#include "base/Error.h"
#include "base/ResultNames.h"
#include "base/ThreadCount.h"
#include "core/Analysis.h"
#include "core/Rules.h"
#include "engine/Classification.h"
#include "engine/Reporting.h"
#include "engine/Tarvok.h"
#include "results/OutputDirectory.h"
#include "results/RunFiles.h"

namespace {

[[noreturn]] void RejectArgument(const char* name, long long value, const char* allowed) {
  throw tarvok::Error(FormatMessage("RuzoVavav: %s is %lld; allowed: %s\n", name, value, allowed));
}

void CheckRange(const char* name, int value, int lo, int hi, const char* allowed) {
  if (value < lo || value > hi) RejectArgument(name, value, allowed);
}

// A percent whose range every face shares (core/Rules.h).
void CheckRule(const char* name, int value, tarvok::Parameter parameter) {
  const tarvok::ParameterRange& range = tarvok::RangeOf(parameter);
  CheckRange(name, value, static_cast<int>(range.low), static_cast<int>(range.high),
             tarvok::RangeText(parameter).c_str());
}

// Every argument is checked before anything is read or written, so that a
// rejected call leaves the output directory exactly as it was. Returns the
// thread count.
int CheckArguments(const int* clusterCount, const int* shavePercent, const int* permutationCount,
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
      throw tarvok::Error(FormatMessage("RuzoVavav: %s is a null pointer; a valid pointer is required\n", p.name));
    }
  }
  const int maxInt = 0x7fffffff;
  CheckRange("clusterCount", *clusterCount, 0, maxInt, "0 or more");
  CheckRule("shavePercent", *shavePercent, tarvok::Parameter::Shave);
  CheckRange("permutationCount", *permutationCount, 1, maxInt, "1 or more");
  CheckRule("gapTolerancePercent", *gapTolerancePercent, tarvok::Parameter::Tolerance);
  CheckRange("geneCount", *geneCount, 2, maxInt, "2 or more");
  CheckRange("sampleCount", *sampleCount, 2, maxInt, "2 or more");
  CheckRule("supervisionPercent", *supervisionPercent, tarvok::Parameter::Supervise);
  if (*supervisionPercent != 0 && *classificationFile == nullptr) {
    throw tarvok::Error("RuzoVavav: classificationFile is a null pointer; a supervised run needs a classification file\n");
  }
  int threads = 1;
  if (tarvok::ThreadCountFromEnvironment(&threads) == 0) {
    throw tarvok::Error(FormatMessage("RuzoVavav: TARVOK_THREADS is \"%s\"; allowed: a whole number from 1 to 1024\n",
                                      std::getenv("TARVOK_THREADS")));
  }
  // Values that are not finite numbers would spread through every sum and
  // reach the result files, and values too large for their variances to be
  // held would overflow them; name the first (or largest) one instead.
  tarvok::DataCheck check = tarvok::CheckData(dataMatrix, *geneCount, *sampleCount);
  if (!check.message.empty()) throw tarvok::Error("RuzoVavav: dataMatrix " + check.message + "\n");
  return threads;
}

void RunAnalysis(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                 const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                 const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                 const int* dumpMatrix, const int* supervisionPercent, char* const* classificationFile,
                 int* clustersDone) {
  const int threads = CheckArguments(clusterCount, shavePercent, permutationCount, gapTolerancePercent,
                                     dataMatrix, geneCount, sampleCount, monitorFlag, generateLabels,
                                     dumpMatrix, supervisionPercent, classificationFile, clustersDone);
  const int N = *sampleCount;
  ResultFiles files(*geneCount, N, *clusterCount);
  tarvok::AnalysisOptions options;
  options.clusters = *clusterCount;
  options.shavePercent = *shavePercent;
  options.permutations = *permutationCount;
  options.tolerancePercent = *gapTolerancePercent;
  options.supervisionPercent = *supervisionPercent;
  if (*supervisionPercent != 0) options.classes = ReadClassificationFile(*classificationFile, N);
  options.threads = threads;
  options.generatorState = -1;  // the calling thread's generator, continued from run to run
  tarvok::Analysis analysis(dataMatrix, *geneCount, N, options);
  ResultFilesOptions written;
  written.dir = OutputDirectory();
  written.generateLabels = *generateLabels != 0;
  written.dumpMatrix = *dumpMatrix != 0;
  files.Run(analysis, written, clustersDone);
}

}  // namespace

extern "C" TARVOK_API void TARVOK_CALL RuzoVavav(
    const int* clusterCount, const int* shavePercent, const int* permutationCount,
    const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
    const int* sampleCount, const int* monitorFlag, const int* generateLabels, const int* dumpMatrix,
    const int* supervisionPercent, char* const* classificationFile, int* clustersDone) {
  SetMonitorMode(monitorFlag != nullptr ? *monitorFlag : 0);
  // The one place a failure of the library ends the process.
  try {
    RunAnalysis(clusterCount, shavePercent, permutationCount, gapTolerancePercent, dataMatrix, geneCount,
                sampleCount, monitorFlag, generateLabels, dumpMatrix, supervisionPercent, classificationFile,
                clustersDone);
  } catch (const std::bad_alloc&) {
    FatalError("RuzoVavav: out of memory\n");
  } catch (const std::exception& failure) {
    FatalError(failure.what());
  }
}
