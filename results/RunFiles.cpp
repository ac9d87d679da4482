#include "results/RunFiles.h"

#include <cstdio>
#include <memory>
#include <string>

#include "base/Error.h"
#include "base/ResultNames.h"
#include "numeric/Arrays.h"
#include "results/Labels.h"
#include "results/Monitor.h"
#include "results/Writers.h"

namespace {

void StopEarly(int i, int K) {
  MonitorLog("%s", kMonitorNoClustersLeft);
  std::fprintf(stderr, "No clusters left to extract...\n");
  std::fprintf(stderr, "\tExtracted %d of requested %d\n", i, K);
  std::fflush(stderr);
  std::fputs("\a", stdout);
  std::fflush(stdout);
}

// No one else to tell.
tarvok::AnalysisObserver nobody;

// The run's monitor lines and per-cluster result files, at the moments of
// the run's events, each event then passed on to next.
// Where a run's files go: the directory and the label tables they name.
struct RunTargets {
  const std::string& dir;
  const std::vector<std::string>& geneLabels;
  const CVector& clusterFileNames;
  const CVector& clusterLabelFileNames;
  WriteChecks checks;
};

class ResultFileWriter : public tarvok::RelayObserver {
 public:
  ResultFileWriter(const RunTargets& targets, const tarvok::Analysis& analysis, ResultStream& clusterLengths,
                   int* clustersDone, tarvok::AnalysisObserver& next)
      : RelayObserver(next), dir_(targets.dir), analysis_(analysis), geneLabels_(targets.geneLabels),
        clusterFileNames_(targets.clusterFileNames), clusterLabelFileNames_(targets.clusterLabelFileNames),
        checks_(targets.checks), clusterLengths_(clusterLengths), clustersDone_(clustersDone) {}

  void PassStarted(int i) override {
    MonitorLog("%s %d", kMonitorExtractCluster, i);
    RelayObserver::PassStarted(i);
  }
  void ShavingData(int i) override {
    MonitorLog("%s", kMonitorShaveInitNestedSequence);
    RelayObserver::ShavingData(i);
  }
  void DataShaved(int i, int K) override {
    MonitorLog("%s %d %d", kMonitorEstimateOptClusterSize, i, K);
    RelayObserver::DataShaved(i, K);
  }
  void CopyShaved(int b, int B) override {
    MonitorLog("%s", kMonitorRandomizeMatrix);
    MonitorLog("%s %d %d", kMonitorShaveRandNestedSequence, b, B);
    RelayObserver::CopyShaved(b, B);
  }
  void SizeChosen(int i, const tarvok::ClusterRecord& record) override {
    WriteGapFile(dir_, i, record, checks_);
    WriteVarianceFile(dir_, i, record, checks_);
    // The data file holds the centred data, never orthogonalised.
    std::string dataPath = dir_ + "/" + clusterFileNames_[i - 1];
    DataDump([this](int gene) { return analysis_.CentredRow(gene); }, analysis_.Samples(), record.size,
             record.genes.data(), dataPath.c_str(), checks_);
    std::string labelPath = dir_ + "/" + clusterLabelFileNames_[i - 1];
    StoreLabels(geneLabels_, record.size, record.genes.data(), labelPath.c_str(), checks_);
    RelayObserver::SizeChosen(i, record);
  }
  void Orthogonalizing(int i) override {
    MonitorLog("%s %d", kMonitorOrthogonalizeMatrix, i);
    RelayObserver::Orthogonalizing(i);
  }
  void ClusterDone(int i, const tarvok::ClusterRecord& record) override {
    clusterLengths_.Put(std::to_string(record.chosenStep + 1) + "\t " + std::to_string(record.size) + "\n");
    // Flushed at once so that a run stopped from outside keeps the lines
    // of every finished pass.
    clusterLengths_.Flush();
    WriteEigenFile(dir_, i, record.eigenvalue, checks_);
    WritePcFile(dir_, i, record.component, checks_);
    *clustersDone_ = i;
    RelayObserver::ClusterDone(i, record);
  }

 private:
  const std::string& dir_;
  const tarvok::Analysis& analysis_;
  const std::vector<std::string>& geneLabels_;
  const CVector& clusterFileNames_;
  const CVector& clusterLabelFileNames_;
  WriteChecks checks_;
  ResultStream& clusterLengths_;
  int* clustersDone_;
};

}  // namespace

ResultFiles::ResultFiles(int genes, int samples, int clusters)
    : genes_(genes), samples_(samples), clusters_(clusters), geneLabels_(cvector(genes)),
      sampleLabels_(cvector(samples)), clusterFileNames_(cvector(clusters)),
      clusterLabelFileNames_(cvector(clusters)) {}

ResultFiles::~ResultFiles() {
  ReleaseCvector(geneLabels_, genes_);
  ReleaseCvector(sampleLabels_, samples_);
  ReleaseCvector(clusterFileNames_, clusters_);
  ReleaseCvector(clusterLabelFileNames_, clusters_);
}

tarvok::AnalysisResult ResultFiles::Run(tarvok::Analysis& analysis, const ResultFilesOptions& options,
                                        int* clustersDone, tarvok::AnalysisObserver* also) {
  dir_ = options.dir;
  const int K = clusters_;
  const int G = genes_;
  const int N = samples_;
  if (analysis.Genes() != G || analysis.Samples() != N || analysis.Clusters() != K) {
    throw tarvok::Error("ResultFiles: the analysis is not of the size the files were made for\n");
  }

  const WriteChecks checks = options.checks;
  if (options.dumpMatrix) WriteOrigMatrix(dir_, [&](int gene) { return analysis.CentredRow(gene); }, G, N, checks);

  std::string rowLabelPath = Path(tarvok::kRowLabelsFile);
  std::string columnLabelPath = Path(tarvok::kColumnLabelsFile);
  const bool hostLabels = !options.generateLabels && options.geneLabels != nullptr;
  if (hostLabels && static_cast<int>(options.geneLabels->size()) != G) {
    throw tarvok::Error("ResultFiles: the gene labels are not one per gene\n");
  }
  if (options.generateLabels) {
    GenerateLabels(geneLabels_, G, "GENE", "");
    StoreLabels(geneLabels_, G, nullptr, rowLabelPath.c_str(), checks);
    GenerateLabels(sampleLabels_, N, "sample", "");
    StoreLabels(sampleLabels_, N, nullptr, columnLabelPath.c_str(), checks);
  } else if (!hostLabels) {
    ReadLabels(geneLabels_, G, rowLabelPath.c_str(), "GENE");
    ReadLabels(sampleLabels_, N, columnLabelPath.c_str(), "sample");
  }
  std::vector<std::string> heldLabels;
  if (!hostLabels) heldLabels.assign(geneLabels_.strings, geneLabels_.strings + G);
  const std::vector<std::string>& labels = hostLabels ? *options.geneLabels : heldLabels;

  GenerateLabels(clusterLabelFileNames_, K, "clabels", ".txt");
  StoreLabels(clusterLabelFileNames_, K, nullptr, Path(tarvok::kClusterLabelListFile).c_str(), checks);
  GenerateLabels(clusterFileNames_, K, "cluster", ".txt");
  StoreLabels(clusterFileNames_, K, nullptr, Path(tarvok::kClusterListFile).c_str(), checks);

  std::string lengthsPath = Path(tarvok::kClusterLengthsFile);
  ResultStream clusterLengths(lengthsPath, "w", checks);
  if (!clusterLengths.IsOpen()) throw tarvok::Error(tarvok::FileErrorMessage("RuzoVavav", lengthsPath.c_str()));

  ResultFileWriter writer({dir_, labels, clusterFileNames_, clusterLabelFileNames_, checks}, analysis,
                          clusterLengths, clustersDone, also != nullptr ? *also : nobody);
  tarvok::AnalysisResult result = analysis.Run(&writer);
  clusterLengths.Close();
  if (K > 0 && result.ClustersDone() == 0) *clustersDone = 0;
  if (result.stopReason != tarvok::StopReason::Completed && options.announceEarlyStop) {
    StopEarly(result.ClustersDone(), K);
  }
  return result;
}
