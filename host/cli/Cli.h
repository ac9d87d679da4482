// The tarvok command line: subcommands "run" (RunCommand.cpp), "export"
// (ExportCommand.cpp) and "probe" (ProbeCommand.cpp), parsed in
// CommandLine.cpp.
#pragma once

#include <functional>
#include <string>

#include "present/Exports.h"
#include "run/Runner.h"
#include "tables/Table.h"

namespace tarvok {

// Exit statuses of tarvok.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitAnalysisFailed = 1;  // the library's fatal error
inline constexpr int kExitUsage = 2;           // bad usage or input, before anything runs
inline constexpr int kExitInterrupted = 130;   // SIGINT during the run (128 + 2)
inline constexpr int kExitTerminated = 143;    // SIGTERM during the run (128 + 15)

// The options of "tarvok run", with their defaults.
struct RunOptions {
  std::string table;  // "-": standard input
  TableFormat format = TableFormat::Auto;
  Choice header = Choice::Auto, rowNames = Choice::Auto;  // layout answers for TSV/CSV
  bool decimalComma = false;
  std::string classesFrom;  // GEO sample annotation giving the classes
  tarvok::LogChoice log2 = tarvok::LogChoice::Auto;  // take log2 of the values first
  std::string platform;     // family SOFT: the platform to read
  std::string annotation;   // platform annotation file giving gene symbols
  AnalysisParameters analysis;
  std::string classes;  // class file; supervision needs it or classesFrom
  std::string out;      // empty: "output/<table name without extension>"
  bool force = false;   // write into a directory that holds other files
  bool dumpMatrix = false;
  MissingCells missing = MissingCells::Error;
  int threads = 0;  // 0: the library's choice
  bool quiet = false;
  PresentationOptions presentation;  // exports and figure files
  // Runs the prepared job; empty: the analysis in this process. Another
  // program (the MPI runner) puts its own here and keeps everything else.
  JobRunner runner;
};

// Parses argv and runs the subcommand. Returns the process exit status.
//   argc, argv (input) as main received them
//   runner (input) for RunOptions::runner
int RunCommandLine(int argc, char** argv, const JobRunner& runner = {});

// One message on standard error, "tarvok: " first; a closed stream loses the
// message, never the run.
void Complain(const std::string& text);

// The word of a missing-value policy, as --missing takes it.
std::string MissingPolicyWord(MissingCells policy);

// "tarvok run": reads the table, runs the analysis, writes the summaries and
// the report. Returns the exit status.
int RunCommand(const RunOptions& options);

// How RunOptions ask for the table to be read.
ReadOptions TableReadOptions(const RunOptions& options);

// "tarvok probe": prints the format, the layout with the reasons for it,
// the shape, the number of missing values and the classes found by
// --classes-from of a table. Returns the exit status.
int ProbeCommand(const std::string& table, const ReadOptions& options);

// The default output directory for a table: "output/" and the table's file
// name without its extension (and without ".gz") and without leading dots
// (".tsv" gives "output/tsv", never a hidden directory); "output/stdin" for "-".
std::string DefaultOutputDirectory(const std::string& table);

}  // namespace tarvok
