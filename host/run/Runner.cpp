#include "run/Runner.h"

#include <fmt/format.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <future>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/ResultNames.h"
#include "base/ThreadCount.h"
#include "results/RunFiles.h"
#include "run/AtomicFile.h"

namespace tarvok {

namespace {

// The stop signal taken, 0 while none came. Written by the handler, which
// may run on any thread; read by the observer on the calling thread. A
// lock-free atomic is safe in a handler and seen across threads.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag must be usable in a signal handler");

extern "C" void OnStopSignal(int signal) {
  stopSignal.store(signal);
  // A second Ctrl-C ends the process at once, as it would without tarvok.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGINT, &fallback, nullptr);
  sigaction(SIGTERM, &fallback, nullptr);
}

// Installs the stop handlers for the life of one run and restores the
// previous ones afterwards.
class StopSignals {
 public:
  StopSignals() {
    stopSignal.store(0);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction oldInt_ {
  }, oldTerm_{};
};

// Passes the run's events to the progress display, and asks the core to
// stop once a stop signal came. The core polls it on the calling thread.
class Watch : public tarvok::RelayObserver {
 public:
  explicit Watch(Progress& progress) : RelayObserver(progress), progress_(progress) {}
  bool CancelRequested() override {
    progress_.Tick();
    return stopSignal.load() != 0;
  }

 private:
  Progress& progress_;
};

// Keeps each finished cluster and the passes begun, then passes every
// event on.
class Collector : public tarvok::RelayObserver {
 public:
  Collector(RunOutcome& outcome, tarvok::AnalysisObserver& next) : RelayObserver(next), outcome_(outcome) {}
  void PassStarted(int i) override {
    outcome_.clustersStarted = i;
    RelayObserver::PassStarted(i);
  }
  void ClusterDone(int i, const tarvok::ClusterRecord& record) override {
    outcome_.clusters.push_back(record);
    RelayObserver::ClusterDone(i, record);
  }

 private:
  RunOutcome& outcome_;
};

std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

std::vector<std::string> LabelsOrGenerated(const std::vector<std::string>& labels, int count, const char* stem) {
  if (!labels.empty()) return labels;
  std::vector<std::string> generated;
  for (int j = 1; j <= count; ++j) generated.push_back(fmt::format("{}{:05d}", stem, j));
  return generated;
}

void WriteLines(const std::vector<std::string>& lines, const std::string& path) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  WriteFileAtomically(path, text);
}

// job's work beside the analysis, started on a thread of its own when the
// analysis leaves a core free; an empty future when there is none.
std::future<void> StartAlongside(const AnalysisJob& job, const tarvok::AnalysisOptions& options,
                                 const tarvok::Analysis& analysis) {
  if (!job.alongside || !LeavesACoreFree(options.threads)) return {};
  return std::async(std::launch::async, job.alongside, std::cref(analysis));
}

}  // namespace

bool LeavesACoreFree(int threads) {
  return threads > 0 && static_cast<unsigned>(threads) < std::thread::hardware_concurrency();
}

tarvok::AnalysisResult RunOutcome::Result() const {
  tarvok::AnalysisResult result;
  if (analysis) {
    result.genes = analysis->Genes();
    result.samples = analysis->Samples();
  }
  result.clusters = clusters;
  result.stopReason = stopReason;
  return result;
}

std::vector<std::string> GeneLabelsOf(const Table& table) {
  return LabelsOrGenerated(table.geneLabels, table.genes, "GENE");
}

std::vector<std::string> SampleLabelsOf(const Table& table) {
  return LabelsOrGenerated(table.sampleLabels, table.samples, "sample");
}

tarvok::AnalysisOptions AnalysisOptionsOf(const AnalysisJob& job) {
  const AnalysisParameters& p = job.parameters;
  tarvok::AnalysisOptions options;
  options.clusters = p.clusters;
  options.shavePercent = p.shave;
  options.permutations = p.permutations;
  options.tolerancePercent = p.tolerance;
  options.supervisionPercent = p.supervise;
  if (p.supervise != 0) options.classes = job.classes;
  options.solver = p.solver;
  options.generatorState = p.seed;
  options.threads = job.threads;
  if (options.threads <= 0 && tarvok::ThreadCountFromEnvironment(&options.threads) == 0) {
    throw std::runtime_error("TARVOK_THREADS is not a whole number from 1 to 1024");
  }
  return options;
}

RunOutcome AnalyzeInThisProcess(const AnalysisJob& job, const tarvok::AnalysisOptions& options,
                                tarvok::AnalysisObserver& observer) {
  RunOutcome outcome;
  Collector collector(outcome, observer);
  try {
    const Table& table = *job.table;
    tarvok::DataCheck check = tarvok::CheckData(table.values.data(), table.genes, table.samples);
    if (!check.message.empty()) throw std::runtime_error("the table's " + check.message);
    ResultFiles files(table.genes, table.samples, options.clusters);
    auto analysis = std::make_shared<tarvok::Analysis>(table.values.data(), table.genes, table.samples, options);
    outcome.analysis = analysis;
    ResultFilesOptions written;
    written.dir = job.outDir;
    written.generateLabels = job.generateLabels;
    // The table's labels, whole, for the cluster label files.
    const std::vector<std::string> geneLabels = GeneLabelsOf(table);
    written.geneLabels = &geneLabels;
    written.dumpMatrix = job.dumpMatrix;
    written.announceEarlyStop = false;  // tarvok says so itself
    written.checks = WriteChecks::Every;  // a full disk is said as such, never skipped
    int clustersDone = 0;
    // Destroyed first, the future waits for the work beside the analysis
    // however the analysis ends.
    std::future<void> alongside = StartAlongside(job, options, *analysis);
    tarvok::AnalysisResult result = files.Run(*analysis, written, &clustersDone, &collector);
    if (alongside.valid()) alongside.get();
    outcome.stopReason = result.stopReason;
    outcome.status = RunOutcome::Finished;
  } catch (const tarvok::Cancelled&) {
    outcome.status = RunOutcome::Interrupted;
  } catch (const std::bad_alloc&) {
    outcome.message = "out of memory";
    outcome.failure = std::current_exception();
  } catch (const std::exception& failure) {
    outcome.message = OneLine(failure.what());
    outcome.failure = std::current_exception();
  }
  return outcome;
}

bool WriteLabelFiles(const Table& table, const std::string& dir) {
  if (table.geneLabels.empty() && table.sampleLabels.empty()) return true;
  WriteLines(GeneLabelsOf(table), dir + "/" + tarvok::kRowLabelsFile);
  WriteLines(SampleLabelsOf(table), dir + "/" + tarvok::kColumnLabelsFile);
  if (!table.geneSymbols.empty()) WriteLines(table.geneSymbols, dir + "/" + kRowSymbolsFile);
  return false;
}

void WriteClassFile(const std::vector<int>& classes, const std::string& path) {
  std::vector<std::string> lines;
  for (int c : classes) lines.push_back(std::to_string(c));
  WriteLines(lines, path);
}

RunOutcome RunAnalysis(const AnalysisJob& job, Progress& progress, const JobRunner& runner) {
  StopSignals stopSignals;
  Watch watch(progress);
  RunOutcome outcome = runner ? runner(job, watch) : AnalyzeInThisProcess(job, AnalysisOptionsOf(job), watch);
  if (const int signal = stopSignal.load(); signal != 0) {
    // A signal that came after the last poll still counts: the user asked to stop.
    outcome.signal = signal;
    if (outcome.status == RunOutcome::Failed) outcome.status = RunOutcome::Interrupted;
  }
  return outcome;
}

std::string ExplainFailure(const std::string& message) {
  struct Known {
    const char* words;  // a piece of the library's message
    const char* meaning;
  };
  static const Known known[] = {
      {"allocation failure",
       "the analysis ran out of memory; try fewer genes (filter the table first) or fewer permutations, or a "
       "machine with more memory"},
      {"No convergence in 30 SVDCMP",
       "the singular value decomposition of a cluster's data did not settle within its iteration limit; this "
       "happens with extreme or nearly identical values: check the table for outliers and constant genes, or "
       "transform it (for example to logarithms)"},
      {"SVDCMP: You must augment A",
       "a cluster's data matrix had a shape the decomposition cannot take; please report this with the table"},
      {"choldc failed",
       "the supervision's weighting of the classes could not be factorised (it is not positive definite), "
       "which a supervision weight of at most 100 should never cause; please report it with the table and "
       "class file"},
  };
  for (const Known& k : known) {
    if (message.find(k.words) != std::string::npos) return k.meaning;
  }
  return "";
}

}  // namespace tarvok
