// Running one analysis: the output directory, the label and class files
// the library reads, and the child process that calls RuzoVavav while this
// process follows its monitor lines.
#pragma once

#include <string>
#include <vector>

#include "Progress.h"
#include "shaving/AxisSolver.h"
#include "Table.h"

// The analysis settings the user chooses, with tarvok's defaults: K
// clusters, percent shaved per step, B permuted copies, tolerance percent
// of the size choice, supervision weight percent (0 unsupervised).
struct AnalysisParameters {
  int clusters = 5;
  int shave = 10;
  int permutations = 20;
  int tolerance = 0;
  int supervise = 0;
  // Exact runs through the C ABI's RuzoVavav. Fast, which that ABI does not
  // offer, runs the same driver from the engine linked into this program.
  tarvok::Solver solver = tarvok::Solver::Exact;
};

// Everything the child needs for one RuzoVavav call.
struct AnalysisJob {
  const Table* table = nullptr;  // the matrix; not owned
  AnalysisParameters parameters;
  bool dumpMatrix = false;
  int threads = 0;             // TARVOK_THREADS for the child; 0 leaves it unset
  std::string outDir;          // absolute; becomes TVOUTPUT
  std::string classFile;       // absolute, or empty when unsupervised
  bool generateLabels = true;  // false: the library reads RowLbls.txt/ColLbls.txt
};

struct RunOutcome {
  enum Status { Finished, Failed, Interrupted };
  Status status = Failed;
  int clustersDone = 0;     // Finished: RuzoVavav's clustersDone
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

// The labels of a class file, one per non-blank line in sample order, as
// written (ReadClassFile's reading). Throws TableError.
std::vector<std::string> ReadClassLabels(const std::string& path);

// Reads a class file: one class label per non-blank line, in sample order.
// A byte-order mark, CR line ends and surrounding blanks are ignored. When
// every label is an integer the integers are the classes; otherwise each
// distinct label gets a number 0, 1, ... in order of first appearance and a
// note for the user says so.
//   path  (input) the file
//   notes (output) sentences for the user, appended to
// Throws TableError when the file cannot be read or holds no label.
std::vector<int> ReadClassFile(const std::string& path, std::vector<std::string>& notes);

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
