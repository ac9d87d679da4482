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

#include "ByteSource.h"
#include "ClassFile.h"
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
const std::map<std::string, TableFormat> kFormats = {
    {"auto", TableFormat::Auto}, {"tsv", TableFormat::Tsv}, {"csv", TableFormat::Csv},
    {"gct", TableFormat::Gct},   {"pcl", TableFormat::Pcl}, {"series-matrix", TableFormat::SeriesMatrix},
    {"gds", TableFormat::Gds}};
const std::map<std::string, Choice> kChoices = {
    {"auto", Choice::Auto}, {"yes", Choice::Yes}, {"no", Choice::No}};
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
RunInfo MakeRunInfo(const RunOptions& options, const Table& table, const SampleClasses& classes) {
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
  info.classNames = classes.names;
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
  std::string stem = path.stem().string();
  return "output/" + (stem.empty() ? std::string("tarvok") : stem);
}

int RunCommand(const RunOptions& options) {
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
  ComplainAll(options.table, table.notes);
  ComplainAll(classes.source, notes);

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
      WriteClassFile(classes.classes, job.classFile);
    }
  } catch (const std::exception& error) {
    Complain(error.what());
    return kExitUsage;
  }

  Progress progress(std::cerr, StderrIsTerminal(), options.quiet, options.analysis.clusters,
                    options.analysis.permutations, SteadySeconds);
  RunOutcome outcome;
  try {
    outcome = RunAnalysis(job, progress);
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
  return PresentResults(outcome, MakeRunInfo(options, table, classes), job.outDir);
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
  std::cout << text;
  return kExitSuccess;
}

int RunCommandLine(int argc, char** argv) {
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
  TableWords runWords, probeWords;
  std::string missingWord = "error";
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
  runCommand->add_flag("--dump-matrix", run.dumpMatrix, "also write the centred data as origmatrix.txt");
  AddChoice(runCommand, "--missing", missingWord, kPolicies,
            "missing values (empty, NA, NaN): stop with an error, drop the genes, or use the gene's mean");
  runCommand
      ->add_option("--threads", run.threads, "worker threads of the analysis (default: the library's choice)")
      ->check(CLI::Range(1, 1024));
  runCommand->add_flag("--quiet,-q", run.quiet, "show no progress");

  CLI::App* probeCommand =
      app.add_subcommand("probe", "show how a table is read: header row, label column, shape, and why");
  AddTableArguments(probeCommand, probe, probeWords);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    return status == 0 ? kExitSuccess : kExitUsage;
  }
  if (probeCommand->parsed()) {
    ApplyTableWords(probeWords, probe);
    return ProbeCommand(probe.table, TableReadOptions(probe));
  }
  ApplyTableWords(runWords, run);
  run.missing = kPolicies.at(missingWord);
  return RunCommand(run);
}
