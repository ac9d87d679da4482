// RuzoVavav: one whole analysis, from the host's matrix to the last result
// file. The analysis itself is the core's; this face checks the host's
// arguments, settles the labels, writes every result file at its moment,
// prints the monitor lines, and turns any failure into the fatal report.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "base/Error.h"
#include "base/ResultNames.h"
#include "base/ThreadCount.h"
#include "core/Analysis.h"
#include "engine/Classification.h"
#include "engine/Reporting.h"
#include "engine/RunDriver.h"
#include "engine/Tarvok.h"
#include "numeric/Arrays.h"
#include "results/Labels.h"
#include "results/OutputDirectory.h"
#include "results/Writers.h"

namespace {

[[noreturn]] void RejectArgument(const char* name, long long value, const char* allowed) {
  throw tarvok::Error(FormatMessage("RuzoVavav: %s is %lld; allowed: %s\n", name, value, allowed));
}

// The thread count that TARVOK_THREADS asks for: 1 when set to a positive
// decimal integer (written to *count, at most 1024), 0 when set to anything
// else, and -1 when unset (*count then holds the number of hardware threads).
int ThreadCountFromEnvironment(int* count) {
  const char* text = std::getenv("TARVOK_THREADS");
  if (text == nullptr) {
    unsigned hardware = std::thread::hardware_concurrency();
    const unsigned most = static_cast<unsigned>(tarvok::kMaxThreads);
    *count = hardware == 0 ? 1 : static_cast<int>(hardware > most ? most : hardware);
    return -1;
  }
  return tarvok::ParseThreadCount(text, count) ? 1 : 0;
}

void CheckRange(const char* name, int value, int lo, int hi, const char* allowed) {
  if (value < lo || value > hi) RejectArgument(name, value, allowed);
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
  CheckRange("shavePercent", *shavePercent, 1, 97, "1..97");
  CheckRange("permutationCount", *permutationCount, 1, maxInt, "1 or more");
  CheckRange("gapTolerancePercent", *gapTolerancePercent, 0, 100, "0..100");
  CheckRange("geneCount", *geneCount, 2, maxInt, "2 or more");
  CheckRange("sampleCount", *sampleCount, 2, maxInt, "2 or more");
  CheckRange("supervisionPercent", *supervisionPercent, 0, 100, "0..100");
  if (*supervisionPercent != 0 && *classificationFile == nullptr) {
    throw tarvok::Error("RuzoVavav: classificationFile is a null pointer; a supervised run needs a classification file\n");
  }
  int threads = 1;
  if (ThreadCountFromEnvironment(&threads) == 0) {
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

void StopEarly(int i, int K) {
  MonitorLog("%s", kMonitorNoClustersLeft);
  std::fprintf(stderr, "No clusters left to extract...\n");
  std::fprintf(stderr, "\tExtracted %d of requested %d\n", i, K);
  std::fflush(stderr);
  std::fputs("\a", stdout);
  std::fflush(stdout);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// An owned label table.
struct Labels {
  explicit Labels(int size) : count(size), labels(cvector(size)) {}
  ~Labels() { ReleaseCvector(labels, count); }
  int count;
  CVector labels;
};

// The run's monitor lines and per-cluster result files, at the moments of
// the run's events.
class ResultFileWriter : public tarvok::AnalysisObserver {
 public:
  ResultFileWriter(const tarvok::Analysis& analysis, const CVector& geneLabels, const CVector& clusterFileNames,
                   const CVector& clusterLabelFileNames, std::FILE* clusterLengths, int* clustersDone)
      : analysis_(analysis), geneLabels_(geneLabels), clusterFileNames_(clusterFileNames),
        clusterLabelFileNames_(clusterLabelFileNames), clusterLengths_(clusterLengths),
        clustersDone_(clustersDone) {}

  void PassStarted(int i) override { MonitorLog("%s %d", kMonitorExtractCluster, i); }
  void ShavingData(int) override { MonitorLog("%s", kMonitorShaveInitNestedSequence); }
  void DataShaved(int i, int K) override { MonitorLog("%s %d %d", kMonitorEstimateOptClusterSize, i, K); }
  void CopyShaved(int b, int B) override {
    MonitorLog("%s", kMonitorRandomizeMatrix);
    MonitorLog("%s %d %d", kMonitorShaveRandNestedSequence, b, B);
  }
  void SizeChosen(int i, const tarvok::ClusterRecord& record) override {
    WriteGapFile(i, record);
    WriteVarianceFile(i, record);
    // The data file holds the centred data, never orthogonalised.
    std::string dataPath = OutputPath(clusterFileNames_[i - 1]);
    DataDump([this](int gene) { return analysis_.CentredRow(gene); }, analysis_.Samples(), record.size,
             record.genes.data(), dataPath.c_str());
    std::string labelPath = OutputPath(clusterLabelFileNames_[i - 1]);
    StoreLabels(geneLabels_, record.size, record.genes.data(), labelPath.c_str());
  }
  void Orthogonalizing(int i) override { MonitorLog("%s %d", kMonitorOrthogonalizeMatrix, i); }
  void ClusterDone(int i, const tarvok::ClusterRecord& record) override {
    std::fprintf(clusterLengths_, "%d\t %d\n", record.chosenStep + 1, record.size);
    // Flushed at once so that a run stopped from outside keeps the lines
    // of every finished pass.
    std::fflush(clusterLengths_);
    WriteEigenFile(i, record.eigenvalue);
    WritePcFile(i, record.component);
    *clustersDone_ = i;
  }

 private:
  const tarvok::Analysis& analysis_;
  const CVector& geneLabels_;
  const CVector& clusterFileNames_;
  const CVector& clusterLabelFileNames_;
  std::FILE* clusterLengths_;
  int* clustersDone_;
};

void RunAnalysis(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                 const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                 const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                 const int* dumpMatrix, const int* supervisionPercent, char* const* classificationFile,
                 int* clustersDone, const tarvok::OptionsHook& hook) {
  const int threads = CheckArguments(clusterCount, shavePercent, permutationCount, gapTolerancePercent,
                                     dataMatrix, geneCount, sampleCount, monitorFlag, generateLabels,
                                     dumpMatrix, supervisionPercent, classificationFile, clustersDone);
  const int K = *clusterCount;
  const int G = *geneCount;
  const int N = *sampleCount;

  Labels geneLabels(G);
  Labels sampleLabels(N);
  Labels clusterFileNames(K);
  Labels clusterLabelFileNames(K);

  tarvok::AnalysisOptions options;
  options.clusters = K;
  options.shavePercent = *shavePercent;
  options.permutations = *permutationCount;
  options.tolerancePercent = *gapTolerancePercent;
  options.supervisionPercent = *supervisionPercent;
  if (*supervisionPercent != 0) options.classes = ReadClassificationFile(*classificationFile, N);
  options.threads = threads;
  options.generatorState = -1;  // the calling thread's generator, continued from run to run
  if (hook) hook(options);
  tarvok::Analysis analysis(dataMatrix, G, N, options);

  if (*dumpMatrix != 0) WriteOrigMatrix([&](int gene) { return analysis.CentredRow(gene); }, G, N);

  std::string rowLabelPath = OutputPath(tarvok::kRowLabelsFile);
  std::string columnLabelPath = OutputPath(tarvok::kColumnLabelsFile);
  if (*generateLabels != 0) {
    GenerateLabels(geneLabels.labels, G, "GENE", "");
    StoreLabels(geneLabels.labels, G, nullptr, rowLabelPath.c_str());
    GenerateLabels(sampleLabels.labels, N, "sample", "");
    StoreLabels(sampleLabels.labels, N, nullptr, columnLabelPath.c_str());
  } else {
    ReadLabels(geneLabels.labels, G, rowLabelPath.c_str(), "GENE");
    ReadLabels(sampleLabels.labels, N, columnLabelPath.c_str(), "sample");
  }

  GenerateLabels(clusterLabelFileNames.labels, K, "clabels", ".txt");
  StoreLabels(clusterLabelFileNames.labels, K, nullptr, OutputPath(tarvok::kClusterLabelListFile).c_str());
  GenerateLabels(clusterFileNames.labels, K, "cluster", ".txt");
  StoreLabels(clusterFileNames.labels, K, nullptr, OutputPath(tarvok::kClusterListFile).c_str());

  std::string lengthsPath = OutputPath(tarvok::kClusterLengthsFile);
  std::unique_ptr<std::FILE, FileCloser> clusterLengths(std::fopen(lengthsPath.c_str(), "w"));
  if (!clusterLengths) throw tarvok::Error(tarvok::FileErrorMessage("RuzoVavav", lengthsPath.c_str()));

  ResultFileWriter writer(analysis, geneLabels.labels, clusterFileNames.labels, clusterLabelFileNames.labels,
                          clusterLengths.get(), clustersDone);
  tarvok::AnalysisResult result = analysis.Run(&writer);
  if (K > 0 && result.ClustersDone() == 0) *clustersDone = 0;
  if (result.stopReason != tarvok::StopReason::Completed) StopEarly(result.ClustersDone(), K);
}

}  // namespace

namespace tarvok {

void RunToFiles(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                const int* dumpMatrix, const int* supervisionPercent, char* const* classificationFile,
                int* clustersDone, const OptionsHook& hook) {
  SetMonitorMode(monitorFlag != nullptr ? *monitorFlag : 0);
  RunAnalysis(clusterCount, shavePercent, permutationCount, gapTolerancePercent, dataMatrix, geneCount,
              sampleCount, monitorFlag, generateLabels, dumpMatrix, supervisionPercent, classificationFile,
              clustersDone, hook);
}

void RunToFilesOrEnd(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                     const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                     const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                     const int* dumpMatrix, const int* supervisionPercent, char* const* classificationFile,
                     int* clustersDone, const OptionsHook& hook) {
  // The one place a failure of the library ends the process.
  try {
    RunToFiles(clusterCount, shavePercent, permutationCount, gapTolerancePercent, dataMatrix, geneCount,
               sampleCount, monitorFlag, generateLabels, dumpMatrix, supervisionPercent, classificationFile,
               clustersDone, hook);
  } catch (const std::bad_alloc&) {
    FatalError("RuzoVavav: out of memory\n");
  } catch (const std::exception& failure) {
    FatalError(failure.what());
  }
}

}  // namespace tarvok
