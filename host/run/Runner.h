// Running one analysis in this process: the core through its API, the
// classic result files written by results/ as the run goes, the progress
// display fed by the core's events, and SIGINT/SIGTERM turned into a
// cancellation that keeps every finished cluster.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Analysis.h"
#include "core/Rules.h"
#include "run/Progress.h"
#include "tables/Table.h"

namespace tarvok {

// The analysis settings the user chooses, with tarvok's defaults: K
// clusters, percent shaved per step, B permuted copies, tolerance percent
// of the size choice, supervision weight percent (0 unsupervised).
struct AnalysisParameters {
  int clusters = 5;
  int shave = 10;
  int permutations = 20;
  int tolerance = 0;
  int supervise = 0;
  // The generator's starting state; the fixed start unless --seed is given.
  long long seed = tarvok::kDefaultSeed;
  // How each step finds its leading axis; the C ABI offers only Exact.
  tarvok::Solver solver = tarvok::Solver::Exact;
};

// Everything one analysis needs.
struct AnalysisJob {
  const Table* table = nullptr;  // the matrix; not owned
  AnalysisParameters parameters;
  bool dumpMatrix = false;
  int threads = 0;             // worker threads; 0: as TARVOK_THREADS says, else all cores
  std::string outDir;          // absolute; the result files go here
  std::vector<int> classes;    // class of each sample; used when supervised
  bool generateLabels = true;  // false: the result files take the table's labels, whole
  // Work that needs only the analysis's centred rows (making the exports'
  // text ahead, say), given the analysis once it is set up.
  // AnalyzeInThisProcess does it on a thread of its own while the analysis
  // runs when the analysis leaves a core free, and not at all otherwise;
  // it is over when the run returns, and its failure fails the run.
  std::function<void(const tarvok::Analysis&)> alongside;
};

// How a run ended, with everything it finished.
struct RunOutcome {
  enum Status { Finished, Failed, Interrupted };
  Status status = Failed;
  // The analysis that ran (its centred rows), or null when it could not
  // even be set up; the clusters it finished, in order; why it stopped.
  std::shared_ptr<const tarvok::Analysis> analysis;
  std::vector<tarvok::ClusterRecord> clusters;
  tarvok::StopReason stopReason = tarvok::StopReason::Completed;
  std::string message;      // Failed: why, in one line
  std::exception_ptr failure;  // Failed: what was thrown, for a runner that tells failures apart
  int clustersStarted = 0;  // passes begun
  int signal = 0;           // Interrupted: SIGINT or SIGTERM (0: cancelled otherwise)

  // The core's result record of what finished.
  tarvok::AnalysisResult Result() const;
};

// The gene symbols of a run, one a line in table order, beside RowLbls.txt:
// written only for a table with symbols, for "tarvok export".
inline constexpr const char* kRowSymbolsFile = "RowSymbols.txt";

// Writes "RowLbls.txt" and "ColLbls.txt" into dir when the table has gene
// or sample labels, making up the missing side as GENE%05d / sample%05d,
// and RowSymbols.txt when it has symbols.
// Returns false then (the result files take them), true when the table has
// no labels at all and the labels are generated. Throws std::runtime_error
// when a file cannot be written.
bool WriteLabelFiles(const Table& table, const std::string& dir);

// The table's gene (sample) labels, or GENE%05d (sample%05d) for a table
// without them: the names every presentation uses.
std::vector<std::string> GeneLabelsOf(const Table& table);
std::vector<std::string> SampleLabelsOf(const Table& table);

// Writes the classes, one integer per line, to path. Throws
// std::runtime_error on failure.
void WriteClassFile(const std::vector<int>& classes, const std::string& path);

// The core's options for job: its parameters, classes, solver, seed and
// threads (job.threads, else TARVOK_THREADS, else every core). Throws
// std::runtime_error for a bad TARVOK_THREADS.
tarvok::AnalysisOptions AnalysisOptionsOf(const AnalysisJob& job);

// Runs job's analysis in this process with options, the result files into
// job.outDir; observer hears every event and may cancel. A failure of the
// analysis, a writer or the observer ends as Failed with its message, a
// cancellation as Interrupted; either keeps the clusters finished before.
RunOutcome AnalyzeInThisProcess(const AnalysisJob& job, const tarvok::AnalysisOptions& options,
                                tarvok::AnalysisObserver& observer);

// Whether an analysis on threads worker threads leaves a core free, so that
// AnalyzeInThisProcess runs job.alongside beside it.
bool LeavesACoreFree(int threads);

// How a prepared job is run: AnalyzeInThisProcess with AnalysisOptionsOf,
// or another program's own (the MPI runner's) in its place.
using JobRunner = std::function<RunOutcome(const AnalysisJob& job, tarvok::AnalysisObserver& observer)>;

// Runs job through runner (empty: the default) with progress watching, and
// SIGINT or SIGTERM to this process cancelling the run (a second signal
// ends the process as the signal would); Interrupted then carries the signal.
RunOutcome RunAnalysis(const AnalysisJob& job, Progress& progress, const JobRunner& runner = {});

// Plain words for one of the library's numerical failure messages ("No
// convergence in 30 SVDCMP iterations", "allocation failure in dvector()",
// "choldc failed", ...), to be shown beside it; "" for any other message,
// which speaks for itself.
std::string ExplainFailure(const std::string& message);

}  // namespace tarvok
