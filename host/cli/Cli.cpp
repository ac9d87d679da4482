#include "cli/Cli.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
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

#include "run/AtomicFile.h"
#include "tables/ByteSource.h"
#include "tables/ClassFile.h"
#include "cli/ExportCommand.h"
#include "run/Progress.h"
#include "present/Report.h"
#include "present/ResultFiles.h"
#include "run/RunDirectory.h"
#include "run/Runner.h"
#include "present/Summary.h"
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
const std::map<std::string, TableFormat> kFormats = {
    {"auto", TableFormat::Auto}, {"tsv", TableFormat::Tsv}, {"csv", TableFormat::Csv},
    {"gct", TableFormat::Gct},   {"pcl", TableFormat::Pcl}, {"series-matrix", TableFormat::SeriesMatrix},
    {"gds", TableFormat::Gds}};
const std::map<std::string, Choice> kChoices = {
    {"auto", Choice::Auto}, {"yes", Choice::Yes}, {"no", Choice::No}};
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

// The words of the table options, turned into RunOptions after parsing.
struct TableWords {
  std::string format = "auto", header = "auto", rowNames = "auto";
};

void AddTableArguments(CLI::App* command, RunOptions& options, TableWords& words) {
  command
      ->add_option("TABLE", options.table,
                   "expression table: genes in rows, samples in columns; gzip is read as it is; - reads "
                   "standard input")
      ->required()
      ->check(CLI::ExistingFile | CLI::IsMember({"-"}));
  AddChoice(command, "--format", words.format, kFormats, "table format; auto decides by name and content");
  AddChoice(command, "--header", words.header, kChoices,
            "TSV/CSV: does line 1 name the samples? auto decides by content");
  AddChoice(command, "--row-names", words.rowNames, kChoices,
            "TSV/CSV: does column 1 name the genes? auto decides by content");
  command->add_flag("--decimal-comma", options.decimalComma,
                    "numbers are written with decimal commas (1,5); automatic for ';'-separated CSV");
  command->add_option("--classes-from", options.classesFrom,
                      "GEO files: the sample annotation giving each sample's class, e.g. \"disease state\" "
                      "(a characteristics key or a !Sample_ line of a series matrix, a GDS subset type)");
}

void ApplyTableWords(const TableWords& words, RunOptions& options) {
  options.format = kFormats.at(words.format);
  options.header = kChoices.at(words.header);
  options.rowNames = kChoices.at(words.rowNames);
}

// The warnings and notes of reading, each on its own line.
void ComplainAll(const std::string& source, const std::vector<std::string>& notes) {
  for (const std::string& note : notes) Complain(fmt::format("{}: {}", source, note));
}

// What the analysis will be told about the run, for the summary and report.
RunInfo MakeRunInfo(const RunOptions& options, const Table& table, const SampleClasses& classes,
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
  if (p.supervise > 0) info.classesFile = classes.source;
  info.classes = classes.classes;
  // The word of each sample's class, for legends and exports; integer
  // classes have no words and are named by SampleClassNames.
  if (!classes.names.empty()) {
    for (int c : classes.classes) info.classNames.push_back(ClassName(classes, c));
  }
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
  int threads = 0;
  return tarvok::ThreadCountFromEnvironment(&threads) != 0;
}

// Reads the result files and presents them: the summary table on standard
// output, summary.tsv, summary.json, the exports, the figure files and
// report.html in the output directory. A run that did not finish
// (info.incomplete set) presents the clusters it completed of those it
// began, if any. The numbers are the analysis's own, at full precision,
// where the outcome holds them. Returns false when the results could
// not be presented, after saying why.
//   centred (input) the table's centred rows, for the unclustered genes of
//           the CDT
bool PresentResults(const RunInfo& info, const std::string& outDir, const RunOutcome& outcome,
                    const PresentationOptions& presentation, const std::vector<std::vector<double>>& centred) {
  try {
    RunResults results = info.incomplete.empty() ? ReadRunResults(outDir, outcome.clustersDone)
                                                 : ReadFinishedResults(outDir, outcome.clustersStarted);
    TakePreciseValues(results, outcome.precise);
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
      // The clusters whose files are whole: a stop can come after a
      // cluster's last file and before the next pass says it began.
      int finished = started > 0 ? started - 1 : 0;
      try {
        finished = std::max(finished, static_cast<int>(ReadFinishedResults(outDir.Path(), started).clusters.size()));
      } catch (const std::exception&) {
      }
      std::string during = started > 0 ? fmt::format("during cluster {} of {} ({} finished)", finished + 1,
                                                     info.clusters, finished)
                                       : std::string("before the first cluster");
      info.incomplete = fmt::format("interrupted by {} {}", signal == SIGTERM ? "SIGTERM" : "SIGINT", during);
      PresentResults(info, outDir.Path(), outcome, presentation, centred);
      Complain(fmt::format("interrupted {}; {} files written so far are in {}", during,
                           outDir.CountResultFiles(), outDir.Path()));
      return signal == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    case RunOutcome::Failed: {
      Complain(fmt::format("analysis failed: {}", outcome.message));
      std::string meaning = ExplainFailure(outcome.message);
      if (!meaning.empty()) Complain(fmt::format("in plain words: {}", meaning));
      info.incomplete = "the analysis failed: " + outcome.message;
      PresentResults(info, outDir.Path(), outcome, presentation, centred);
      return kExitAnalysisFailed;
    }
    case RunOutcome::Finished:
      break;
  }
  return PresentResults(info, outDir.Path(), outcome, presentation, centred)
             ? kExitSuccess
             : kExitAnalysisFailed;
}

}  // namespace

ReadOptions TableReadOptions(const RunOptions& options) {
  ReadOptions read;
  read.format = options.format;
  read.missing = options.missing;
  read.header = options.header;
  read.rowNames = options.rowNames;
  read.decimalComma = options.decimalComma;
  read.classesFrom = options.classesFrom;
  return read;
}

std::string DefaultOutputDirectory(const std::string& table) {
  if (IsStandardInput(table)) return "output/stdin";
  fs::path path(table);
  if (path.extension() == ".gz" || path.extension() == ".GZ") path = path.stem();
  // Leading dots dropped: a table named ".tsv" must not make a hidden directory.
  std::string name = path.filename().string();
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
  if (!options.classes.empty() && !options.classesFrom.empty()) {
    Complain("give the classes either with --classes FILE or with --classes-from NAME, not both");
    return kExitUsage;
  }
  if (options.analysis.supervise > 0 && options.classes.empty() && options.classesFrom.empty()) {
    Complain(
        "--supervise needs --classes FILE (or --classes-from NAME for a GEO file), the class of each sample");
    return kExitUsage;
  }
  Table table;
  SampleClasses classes;
  std::vector<std::string> notes;
  std::vector<std::string> classNames;
  std::string reading = options.table;  // the file being read, for messages
  try {
    table = ReadTable(options.table, TableReadOptions(options));
    CheckVariance(table);
    if (!options.classes.empty()) {
      reading = options.classes;
      classes = ReadClassFile(options.classes, notes);
    } else if (!options.classesFrom.empty()) {
      reading = fmt::format("{} (--classes-from \"{}\")", options.table, options.classesFrom);
      classes = ClassesFromWords(table.sampleClasses, notes);
      classes.source = reading;
    }
    // Classes are checked for every run: supervised runs need them, and
    // unsupervised runs colour the report with them.
    if (!classes.classes.empty()) CheckClasses(classes, table.samples, options.analysis.supervise > 0);
  } catch (const TableError& error) {
    Complain(fmt::format("{}: {}", reading, error.what()));
    return kExitUsage;
  }
  std::vector<std::string> warnings;
  for (const std::string& note : table.notes) warnings.push_back(fmt::format("{}: {}", options.table, note));
  for (const std::string& note : notes) warnings.push_back(fmt::format("{}: {}", classes.source, note));
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
      job.classes = classes.classes;
      WriteClassFile(classes.classes, job.outDir + "/classes.txt");
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
  RunInfo info = MakeRunInfo(options, table, classes, warnings);
  info.stoppedEarly = progress.StoppedEarly();
  return Conclude(outcome, info, *outDir, options.presentation, CentredRows(table));
}

int ProbeCommand(const std::string& path, const ReadOptions& options) {
  ReadOptions read = options;
  read.missing = MissingPolicy::Keep;
  Table table;
  SampleClasses classes;
  std::vector<std::string> notes;
  try {
    table = ReadTable(path, read);
    if (!table.sampleClasses.empty()) classes = ClassesFromWords(table.sampleClasses, notes);
  } catch (const TableError& error) {
    Complain(fmt::format("{}: {}", path, error.what()));
    return kExitUsage;
  }
  ComplainAll(path, table.notes);
  std::string text = fmt::format(
      "format: {}\nhasHeaderRow: {}\nhasLabelColumn: {}\ngenes: {}\nsamples: {}\nmissing values: {}\n",
      FormatName(table.format), table.hasHeaderRow ? 1 : 0, table.hasLabelColumn ? 1 : 0, table.genes,
      table.samples, table.missingCells);
  if (table.format == TableFormat::Csv || table.decimalComma) {
    text += fmt::format("separator: {}\ndecimal mark: {}\n",
                        table.separator == '\t' ? "tab" : std::string(1, table.separator),
                        table.decimalComma ? "comma" : "point");
  }
  for (const std::string& why : table.layout) text += fmt::format("why: {}\n", why);
  if (!classes.classes.empty()) {
    std::map<int, int> counts;
    for (int c : classes.classes) ++counts[c];
    std::vector<std::string> parts;
    for (const auto& [number, count] : counts) {
      parts.push_back(fmt::format("{} ({})", ClassName(classes, number), count));
    }
    text += fmt::format("classes: {}\n", fmt::join(parts, ", "));
  }
  std::string failure = WriteStandardOutput(text);
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

  RunOptions run, probe;
  run.runner = runner;
  TableWords runWords, probeWords;
  std::string missingWord = "error", solverWord = "exact";
  CLI::App* runCommand = app.add_subcommand("run", "analyse a table and write the results and report.html");
  AddTableArguments(runCommand, run, runWords);
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
  runCommand
      ->add_option("--classes", run.classes,
                   "class file: one class label per sample, one per line; colours the report, and "
                   "--supervise needs it")
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

  CLI::App* probeCommand =
      app.add_subcommand("probe", "show how a table is read: header row, label column, shape, and why");
  AddTableArguments(probeCommand, probe, probeWords);

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
  if (probeCommand->parsed()) {
    ApplyTableWords(probeWords, probe);
    return ProbeCommand(probe.table, TableReadOptions(probe));
  }
  if (exportCommand->parsed()) {
    exportOptions.figures = kFigureFormats.at(figuresWord);
    return ExportCommand(exportOptions);
  }
  run.presentation.figures = kFigureFormats.at(figuresWord);
  run.presentation.exports = kExportChoices.at(exportsWord);
  ApplyTableWords(runWords, run);
  run.missing = kPolicies.at(missingWord);
  run.analysis.solver = kSolvers.at(solverWord);
  return RunCommand(run);
}
