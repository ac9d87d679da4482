// Running one analysis: the output directory, the label and class files,
// and the child process that runs the analysis and writes its result files
// while this process follows its monitor lines.
#pragma once

#include <string>
#include <vector>

#include "present/PreciseValues.h"
#include "run/Progress.h"
#include "tables/Table.h"
#include "core/Analysis.h"

// The analysis settings the user chooses, with tarvok's defaults: K
// clusters, percent shaved per step, B permuted copies, tolerance percent
// of the size choice, supervision weight percent (0 unsupervised).
struct AnalysisParameters {
  int clusters = 5;
  int shave = 10;
  int permutations = 20;
  int tolerance = 0;
  int supervise = 0;
  // How each step finds its leading axis; the C ABI offers only Exact.
  tarvok::Solver solver = tarvok::Solver::Exact;
};

// Everything the child needs for one analysis.
struct AnalysisJob {
  const Table* table = nullptr;  // the matrix; not owned
  AnalysisParameters parameters;
  bool dumpMatrix = false;
  int threads = 0;             // worker threads; 0: as TARVOK_THREADS says, else all cores
  std::string outDir;          // absolute; becomes TVOUTPUT
  std::vector<int> classes;    // class of each sample; used when supervised
  bool generateLabels = true;  // false: the child reads RowLbls.txt/ColLbls.txt
};

struct RunOutcome {
  enum Status { Finished, Failed, Interrupted };
  Status status = Failed;
  int clustersDone = 0;     // Finished: the clusters the analysis extracted
  std::vector<PreciseCluster> precise;  // every finished cluster's numbers, in order
  std::string message;      // Failed: why, in one line
  int clustersStarted = 0;  // passes begun, as the monitor lines told
  int signal = 0;           // Interrupted: SIGINT or SIGTERM, the signal that stopped the run
};

// Writes "RowLbls.txt" and "ColLbls.txt" into dir when the table has gene
// or sample labels, making up the missing side as GENE%05d / sample%05d.
// Returns false then (the library must read them), true when the table has
// no labels at all and the library should generate them. Throws
// std::runtime_error when a file cannot be written.
bool WriteLabelFiles(const Table& table, const std::string& dir);

// Writes the classes, one integer per line, to path (the file the library
// reads when supervised). Throws std::runtime_error on failure.
void WriteClassFile(const std::vector<int>& classes, const std::string& path);

// The core's options for job: its parameters, classes, solver and threads
// (job.threads, else TARVOK_THREADS, else every core), on the calling
// thread's generator. Throws std::runtime_error for a bad TARVOK_THREADS.
tarvok::AnalysisOptions AnalysisOptionsOf(const AnalysisJob& job);

// Runs job's analysis in this process with options: the result files into
// the output directory (TVOUTPUT, which must name job.outDir), monitor
// lines in monitor mode (results/Monitor.h). *clustersDone follows the
// clusters whose files are whole; also, when not null, is told every
// event. Throws what the analysis or a writer throws.
void AnalyzeInThisProcess(const AnalysisJob& job, const tarvok::AnalysisOptions& options, int* clustersDone,
                          tarvok::AnalysisObserver* also);

// Runs the analysis in a child process with monitor mode on and waits for
// it. The parent turns the child's monitor lines into progress events,
// passes its standard error through progress.Message, and keeps the fatal
// message. SIGINT or SIGTERM to this process ends the child (SIGTERM, then
// SIGKILL after three seconds) and gives Interrupted with that signal; the
// files written so far stay.
RunOutcome RunAnalysis(const AnalysisJob& job, Progress& progress);

// Plain words for one of the library's numerical failure messages ("No
// convergence in 30 SVDCMP iterations", "allocation failure in dvector()",
// "choldc failed", ...), to be shown beside it; "" for any other message,
// which speaks for itself.
std::string ExplainFailure(const std::string& message);
