#include "Cli.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>

#include "Progress.h"
#include "Report.h"
#include "ResultFiles.h"
#include "Runner.h"
#include "Summary.h"
#include "Tarvok.h"

namespace fs = std::filesystem;

namespace {

// One message on standard error; a closed stream loses the message, never the run.
void Complain(const std::string& text) {
  std::string line = fmt::format("tarvok: {}\n", text);
  if (std::fwrite(line.data(), 1, line.size(), stderr) != line.size()) std::clearerr(stderr);
}

bool StderrIsTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && !(term != nullptr && std::string(term) == "dumb");
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Option words and what they mean.
const std::map<std::string, TableFormat> kFormats = {{"auto", TableFormat::Auto},
                                                     {"tsv", TableFormat::Tsv},
                                                     {"csv", TableFormat::Csv},
                                                     {"gct", TableFormat::Gct},
                                                     {"pcl", TableFormat::Pcl}};
const std::map<std::string, tarvok::Solver> kSolvers = {{"exact", tarvok::Solver::Exact},
                                                       {"fast", tarvok::Solver::Fast}};
const std::map<std::string, MissingPolicy> kPolicies = {
    {"error", MissingPolicy::Error}, {"drop", MissingPolicy::Drop}, {"row-mean", MissingPolicy::RowMean}};

// Adds an option that takes one of the words of choices; the lower-case
// word is stored in word.
template <typename Value>
CLI::Option* AddChoice(CLI::App* command, const std::string& name, std::string& word,
                       const std::map<std::string, Value>& choices, const std::string& help) {
  std::vector<std::string> words;
  for (const auto& choice : choices) words.push_back(choice.first);
  return command->add_option(name, word, help)
      ->transform(CLI::IsMember(words, CLI::ignore_case).description(""))
      ->type_name(fmt::format("{{{}}}", fmt::join(words, ",")))
      ->capture_default_str();
}

void AddTableArguments(CLI::App* command, std::string& table, std::string& format) {
  command->add_option("TABLE", table, "expression table: genes in rows, samples in columns")
      ->required()
      ->check(CLI::ExistingFile);
  AddChoice(command, "--format", format, kFormats, "table format; auto decides by name and content");
}

// What the analysis will be told about the run, for the summary and report.
RunInfo MakeRunInfo(const RunOptions& options, const Table& table, const std::vector<int>& classes) {
  RunInfo info;
  info.table = options.table;
  info.genes = table.genes;
  info.samples = table.samples;
  const AnalysisParameters& p = options.analysis;
  info.clusters = p.clusters;
  info.shave = p.shave;
  info.permutations = p.permutations;
  info.tolerance = p.tolerance;
  info.supervise = p.supervise;
  if (p.supervise > 0) info.classesFile = options.classes;
  info.classes = classes;
  info.sampleLabels = table.sampleLabels;
  return info;
}

int ReportInterruption(const RunOutcome& outcome, const RunOptions& options, const std::string& outDir) {
  int started = outcome.clustersStarted;
  std::string during = started > 0 ? fmt::format("during cluster {} of {} ({} finished)", started,
                                                 options.analysis.clusters, started - 1)
                                   : std::string("before the first cluster");
  Complain(
      fmt::format("interrupted {}; {} files written so far are in {}", during, CountFiles(outDir), outDir));
  return kExitInterrupted;
}

// Reads the result files and presents them: the summary table on standard
// output, summary.tsv, summary.json and report.html in the output directory.
int PresentResults(const RunOutcome& outcome, const RunInfo& info, const std::string& outDir) {
  try {
    RunResults results = ReadRunResults(outDir, outcome.clustersDone);
    PrintSummary(results, std::cout);
    WriteSummaryFiles(results, info, outDir);
    std::string report = outDir + "/report.html";
    WriteReport(results, info, report);
    std::cout << "\nReport: " << report << std::endl;
  } catch (const std::exception& error) {
    Complain(fmt::format("the analysis finished, but its results could not be presented: {}", error.what()));
    return kExitAnalysisFailed;
  }
  return kExitSuccess;
}

}  // namespace

std::string DefaultOutputDirectory(const std::string& table) {
  std::string stem = fs::path(table).stem().string();
  return "output/" + (stem.empty() ? std::string("tarvok") : stem);
}

int RunCommand(const RunOptions& options) {
  if (options.analysis.supervise > 0 && options.classes.empty()) {
    Complain("--supervise needs --classes FILE, the class of each sample");
    return kExitUsage;
  }
  Table table;
  std::vector<int> classes;
  std::vector<std::string> notes;
  std::string reading = options.table;  // the file being read, for messages
  try {
    table = ReadTable(options.table, options.format, options.missing);
    reading = options.classes;
    if (!options.classes.empty()) classes = ReadClassFile(options.classes, notes);
  } catch (const TableError& error) {
    Complain(fmt::format("{}: {}", reading, error.what()));
    return kExitUsage;
  }
  // Supervised runs leave the class count to the library, which ends the
  // run with its own message; otherwise the classes only colour the report.
  if (!classes.empty() && options.analysis.supervise == 0 &&
      static_cast<int>(classes.size()) != table.samples) {
    Complain(fmt::format("{} holds {} classes, but the table has {} samples", options.classes, classes.size(),
                         table.samples));
    return kExitUsage;
  }
  for (const std::string& note : table.notes) Complain(fmt::format("{}: {}", options.table, note));
  for (const std::string& note : notes) Complain(fmt::format("{}: {}", options.classes, note));

  AnalysisJob job;
  job.table = &table;
  job.parameters = options.analysis;
  job.dumpMatrix = options.dumpMatrix;
  job.threads = options.threads;
  try {
    job.outDir =
        PrepareOutputDirectory(options.out.empty() ? DefaultOutputDirectory(options.table) : options.out);
    job.generateLabels = WriteLabelFiles(table, job.outDir);
    if (options.analysis.supervise > 0) {
      job.classFile = job.outDir + "/classes.txt";
      WriteClassFile(classes, job.classFile);
    }
  } catch (const std::exception& error) {
    Complain(error.what());
    return kExitUsage;
  }

  Progress progress(std::cerr, StderrIsTerminal(), options.quiet, options.analysis.clusters,
                    options.analysis.permutations, SteadySeconds);
  RunOutcome outcome;
  try {
    outcome = options.runner ? options.runner(job, progress) : RunAnalysis(job, progress);
  } catch (const std::exception& error) {
    progress.Finish();
    Complain(fmt::format("cannot start the analysis: {}", error.what()));
    return kExitAnalysisFailed;
  }
  progress.Finish();
  switch (outcome.status) {
    case RunOutcome::Interrupted:
      return ReportInterruption(outcome, options, job.outDir);
    case RunOutcome::Failed:
      Complain(fmt::format("analysis failed: {}", outcome.message));
      return kExitAnalysisFailed;
    case RunOutcome::Finished:
      break;
  }
  if (static_cast<int>(classes.size()) != table.samples) classes.clear();
  return PresentResults(outcome, MakeRunInfo(options, table, classes), job.outDir);
}

int ProbeCommand(const std::string& path, TableFormat format) {
  Table table;
  try {
    table = ReadTable(path, format, MissingPolicy::Keep);
  } catch (const TableError& error) {
    Complain(fmt::format("{}: {}", path, error.what()));
    return kExitUsage;
  }
  for (const std::string& note : table.notes) Complain(fmt::format("{}: {}", path, note));
  std::cout << fmt::format(
      "format: {}\nhasHeaderRow: {}\nhasLabelColumn: {}\ngenes: {}\nsamples: {}\nmissing values: {}\n",
      FormatName(table.format), table.hasHeaderRow ? 1 : 0, table.hasLabelColumn ? 1 : 0, table.genes,
      table.samples, table.missingCells);
  return kExitSuccess;
}

int RunCommandLine(int argc, char** argv, const decltype(RunOptions::runner)& runner) {
  // A reader that goes away early (a pager quit, "| head") closes standard
  // output or error: writes to it fail from then on, but the analysis goes
  // on and its results, summary and report still reach the output directory.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "Finds clusters of genes with similar expression patterns by gene shaving.\n"
      "Run 'tarvok SUBCOMMAND --help' for the options of a subcommand.",
      "tarvok"};
  app.require_subcommand(1);

  RunOptions run;
  run.runner = runner;
  std::string formatWord = "auto", missingWord = "error", solverWord = "exact";
  CLI::App* runCommand = app.add_subcommand("run", "analyse a table and write the results and report.html");
  AddTableArguments(runCommand, run.table, formatWord);
  runCommand->add_option("--clusters", run.analysis.clusters, "clusters to extract, K")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  runCommand->add_option("--shave", run.analysis.shave, "percent of a cluster's genes shaved off per step")
      ->capture_default_str()
      ->check(CLI::Range(1, 97));
  runCommand
      ->add_option("--permutations", run.analysis.permutations,
                   "permuted copies of the data for the gap statistic")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  runCommand
      ->add_option("--tolerance", run.analysis.tolerance,
                   "percent of the largest gap a larger cluster may lose")
      ->capture_default_str()
      ->check(CLI::Range(0, 100));
  runCommand
      ->add_option("--supervise", run.analysis.supervise,
                   "weight of the sample classes in percent: 0 unsupervised, 100 fully supervised")
      ->capture_default_str()
      ->check(CLI::Range(0, 100));
  runCommand->add_option("--classes", run.classes, "class file: one class label per sample, one per line")
      ->check(CLI::ExistingFile);
  runCommand->add_option("--out", run.out,
                         "output directory, created when missing (default: output/TABLE-NAME)");
  runCommand->add_flag("--dump-matrix", run.dumpMatrix, "also write the centred data as origmatrix.txt");
  AddChoice(runCommand, "--missing", missingWord, kPolicies,
            "missing values (empty, NA, NaN): stop with an error, drop the genes, or use the gene's mean");
  runCommand
      ->add_option("--threads", run.threads, "worker threads of the analysis (default: the library's choice)")
      ->check(CLI::Range(1, 1024));
  runCommand->add_flag("--quiet,-q", run.quiet, "show no progress");
  AddChoice(runCommand, "--solver", solverWord, kSolvers,
            "leading axis of each step: the exact decomposition, or Lanczos iteration for many samples");

  std::string probeTable;
  CLI::App* probeCommand =
      app.add_subcommand("probe", "show how a table is read: header row, label column, shape");
  AddTableArguments(probeCommand, probeTable, formatWord);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    return status == 0 ? kExitSuccess : kExitUsage;
  }
  TableFormat format = kFormats.at(formatWord);
  if (probeCommand->parsed()) return ProbeCommand(probeTable, format);
  run.format = format;
  run.missing = kPolicies.at(missingWord);
  run.analysis.solver = kSolvers.at(solverWord);
  return RunCommand(run);
}
