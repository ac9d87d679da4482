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
#include <memory>
#include <sstream>

#include "AtomicFile.h"
#include "ExportCommand.h"
#include "Progress.h"
#include "Report.h"
#include "ResultFiles.h"
#include "RunDirectory.h"
#include "Runner.h"
#include "Summary.h"
#include "Tarvok.h"
#include "base/ThreadCount.h"

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
const std::map<std::string, FigureFormat> kFigureFormats = {
    {"png", FigureFormat::Png}, {"svg", FigureFormat::Svg}, {"pdf", FigureFormat::Pdf}};
const std::map<std::string, bool> kExportChoices = {{"all", true}, {"none", false}};
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
RunInfo MakeRunInfo(const RunOptions& options, const Table& table, const std::vector<int>& classes,
                    const std::vector<std::string>& warnings) {
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
  for (const auto& policy : kPolicies) {
    if (policy.second == options.missing) info.missingPolicy = policy.first;
  }
  info.missingCells = table.missingCells;
  info.droppedGenes = table.droppedGenes;
  info.droppedSamples = table.droppedSamples;
  info.imputedCells = table.imputedCells;
  info.warnings = warnings;
  return info;
}

// TARVOK_THREADS unset, or set as the library will accept it. Checked here
// so that a bad value is a usage error before the run, not a failure of the
// analysis.
bool ThreadsFromEnvironmentValid() {
  const char* text = std::getenv("TARVOK_THREADS");
  int threads = 0;
  return text == nullptr || tarvok::ParseThreadCount(text, &threads);
}

// Reads the result files and presents them: the summary table on standard
// output, summary.tsv, summary.json, the exports, the figure files and
// report.html in the output directory. A run that did not finish
// (info.incomplete set) presents the clusters it completed of the
// clustersStarted it began, if any. Returns false when the results could
// not be presented, after saying why.
//   centred (input) the table's centred rows, for the unclustered genes of
//           the CDT
bool PresentResults(const RunInfo& info, const std::string& outDir, int clustersDone, int clustersStarted,
                    const PresentationOptions& presentation, const std::vector<std::vector<double>>& centred) {
  try {
    RunResults results = info.incomplete.empty() ? ReadRunResults(outDir, clustersDone)
                                                 : ReadFinishedResults(outDir, clustersStarted);
    if (!info.incomplete.empty() && results.clusters.empty()) return true;  // nothing finished to show
    std::ostringstream table;
    PrintSummary(results, table);
    WriteSummaryFiles(results, info, outDir);
    std::string report =
        WritePresentation(results, info, outDir, presentation, ReadGeneLabels(outDir), centred);
    table << "\nReport: " << report << '\n';
    std::string failure = WriteStandardOutput(table.str());
    if (!failure.empty()) {
      Complain(fmt::format("cannot write to standard output: {}", failure));
      return false;
    }
  } catch (const std::exception& error) {
    Complain(fmt::format("{}, but its results could not be presented: {}",
                         info.incomplete.empty() ? "the analysis finished" : "the analysis stopped", error.what()));
    return false;
  }
  return true;
}

// Says how the run ended and presents what it produced: every cluster of a
// finished run; the finished clusters of a failed or interrupted one, marked
// incomplete. Returns the exit status.
int Conclude(const RunOutcome& outcome, RunInfo info, const RunDirectory& outDir,
             const PresentationOptions& presentation, const std::vector<std::vector<double>>& centred) {
  const int started = outcome.clustersStarted;
  switch (outcome.status) {
    case RunOutcome::Interrupted: {
      const int signal = outcome.signal == SIGTERM ? SIGTERM : SIGINT;
      std::string during = started > 0 ? fmt::format("during cluster {} of {} ({} finished)", started,
                                                     info.clusters, started - 1)
                                       : std::string("before the first cluster");
      info.incomplete = fmt::format("interrupted by {} {}", signal == SIGTERM ? "SIGTERM" : "SIGINT", during);
      PresentResults(info, outDir.Path(), 0, started, presentation, centred);
      Complain(fmt::format("interrupted {}; {} files written so far are in {}", during,
                           outDir.CountResultFiles(), outDir.Path()));
      return signal == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    case RunOutcome::Failed: {
      Complain(fmt::format("analysis failed: {}", outcome.message));
      std::string meaning = ExplainFailure(outcome.message);
      if (!meaning.empty()) Complain(fmt::format("in plain words: {}", meaning));
      info.incomplete = "the analysis failed: " + outcome.message;
      PresentResults(info, outDir.Path(), 0, started, presentation, centred);
      return kExitAnalysisFailed;
    }
    case RunOutcome::Finished:
      break;
  }
  return PresentResults(info, outDir.Path(), outcome.clustersDone, started, presentation, centred)
             ? kExitSuccess
             : kExitAnalysisFailed;
}

}  // namespace

std::string DefaultOutputDirectory(const std::string& table) {
  std::string name = fs::path(table).filename().string();
  name.erase(0, name.find_first_not_of('.') == std::string::npos ? name.size() : name.find_first_not_of('.'));
  std::string stem = fs::path(name).stem().string();
  return "output/" + (stem.empty() ? std::string("tarvok") : stem);
}

int RunCommand(const RunOptions& options) {
  if (options.threads == 0 && !ThreadsFromEnvironmentValid()) {
    Complain(fmt::format("TARVOK_THREADS is \"{}\"; it must be a whole number from 1 to {} (or use --threads)",
                         std::getenv("TARVOK_THREADS"), tarvok::kMaxThreads));
    return kExitUsage;
  }
  if (options.analysis.supervise > 0 && options.classes.empty()) {
    Complain("--supervise needs --classes FILE, the class of each sample");
    return kExitUsage;
  }
  Table table;
  std::vector<int> classes;
  std::vector<std::string> notes;
  std::vector<std::string> classNames;
  std::string reading = options.table;  // the file being read, for messages
  try {
    table = ReadTable(options.table, options.format, options.missing);
    reading = options.classes;
    if (!options.classes.empty()) {
      classes = ReadClassFile(options.classes, notes);
      classNames = ReadClassLabels(options.classes);  // the labels as written, for legends
    }
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
  std::vector<std::string> warnings;
  for (const std::string& note : table.notes) warnings.push_back(fmt::format("{}: {}", options.table, note));
  for (const std::string& note : notes) warnings.push_back(fmt::format("{}: {}", options.classes, note));
  for (const std::string& warning : warnings) Complain(warning);

  AnalysisJob job;
  job.table = &table;
  job.parameters = options.analysis;
  job.dumpMatrix = options.dumpMatrix;
  job.threads = options.threads;
  std::unique_ptr<RunDirectory> outDir;
  try {
    outDir = std::make_unique<RunDirectory>(
        options.out.empty() ? DefaultOutputDirectory(options.table) : options.out, options.force);
    job.outDir = outDir->Path();
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
  for (const std::string& message : progress.Messages()) warnings.push_back(message);
  if (static_cast<int>(classes.size()) != table.samples) classes.clear();
  RunInfo info = MakeRunInfo(options, table, classes, warnings);
  if (!classes.empty()) info.classNames = classNames;
  info.stoppedEarly = progress.StoppedEarly();
  return Conclude(outcome, info, *outDir, options.presentation, CentredRows(table));
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
  std::string failure = WriteStandardOutput(fmt::format(
      "format: {}\nhasHeaderRow: {}\nhasLabelColumn: {}\ngenes: {}\nsamples: {}\nmissing values: {}\n",
      FormatName(table.format), table.hasHeaderRow ? 1 : 0, table.hasLabelColumn ? 1 : 0, table.genes,
      table.samples, table.missingCells));
  if (!failure.empty()) {
    Complain(fmt::format("cannot write to standard output: {}", failure));
    return kExitAnalysisFailed;
  }
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
  runCommand->add_flag("--force", run.force,
                       "write into an output directory that also holds files tarvok did not write");
  runCommand->add_flag("--dump-matrix", run.dumpMatrix, "also write the centred data as origmatrix.txt");
  AddChoice(runCommand, "--missing", missingWord, kPolicies,
            "missing values (empty, NA, NaN): stop with an error, drop the genes, or use the gene's mean");
  runCommand
      ->add_option("--threads", run.threads, "worker threads of the analysis (default: the library's choice)")
      ->check(CLI::Range(1, tarvok::kMaxThreads));
  runCommand->add_flag("--quiet,-q", run.quiet, "show no progress");
  AddChoice(runCommand, "--solver", solverWord, kSolvers,
            "leading axis of each step: the exact decomposition, or Lanczos iteration for many samples");

  std::string figuresWord = "svg", exportsWord = "all";
  const char* figuresHelp = "format of the figure files beside the report (the report embeds SVG)";
  AddChoice(runCommand, "--figures", figuresWord, kFigureFormats, figuresHelp);
  AddChoice(runCommand, "--exports", exportsWord, kExportChoices,
            "write clusters.gmt, clusters.kgg, TABLE.cdt and clusters.gct, or none");

  ExportOptions exportOptions;
  CLI::App* exportCommand = app.add_subcommand(
      "export", "write the exports, figure files and report of a finished run again, from its files");
  exportCommand->add_option("OUTDIR", exportOptions.outDir, "output directory of a run")->required();
  exportCommand->add_option("--classes", exportOptions.classes, "class file naming the class of each sample")
      ->check(CLI::ExistingFile);
  AddChoice(exportCommand, "--figures", figuresWord, kFigureFormats, figuresHelp);

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
  if (runCommand->parsed() && runCommand->count("--out") > 0 && run.out.empty()) {
    Complain("--out needs a directory name; leave the option out for output/TABLE-NAME");
    return kExitUsage;
  }
  TableFormat format = kFormats.at(formatWord);
  if (probeCommand->parsed()) return ProbeCommand(probeTable, format);
  if (exportCommand->parsed()) {
    exportOptions.figures = kFigureFormats.at(figuresWord);
    return ExportCommand(exportOptions);
  }
  run.presentation.figures = kFigureFormats.at(figuresWord);
  run.presentation.exports = kExportChoices.at(exportsWord);
  run.format = format;
  run.missing = kPolicies.at(missingWord);
  run.analysis.solver = kSolvers.at(solverWord);
  return RunCommand(run);
}
