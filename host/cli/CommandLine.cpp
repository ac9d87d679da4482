#include "cli/Cli.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <map>

#include "cli/ExportCommand.h"
#include "core/Rules.h"
#include "present/RunRecord.h"
#include "tables/ByteSource.h"

namespace tarvok {

namespace {

// Option words and what they mean.
const std::map<std::string, TableFormat> kFormats = {
    {"auto", TableFormat::Auto}, {"tsv", TableFormat::Tsv}, {"csv", TableFormat::Csv},
    {"gct", TableFormat::Gct},   {"pcl", TableFormat::Pcl}, {"series-matrix", TableFormat::SeriesMatrix},
    {"gds", TableFormat::Gds},   {"family-soft", TableFormat::FamilySoft}};
const std::map<std::string, Choice> kChoices = {
    {"auto", Choice::Auto}, {"yes", Choice::Yes}, {"no", Choice::No}};
const std::map<std::string, tarvok::LogChoice> kLogChoices = {
    {tarvok::LogChoiceName(tarvok::LogChoice::Auto), tarvok::LogChoice::Auto},
    {tarvok::LogChoiceName(tarvok::LogChoice::Yes), tarvok::LogChoice::Yes},
    {tarvok::LogChoiceName(tarvok::LogChoice::No), tarvok::LogChoice::No}};
const std::map<std::string, tarvok::Solver> kSolvers = {{"exact", tarvok::Solver::Exact},
                                                       {"fast", tarvok::Solver::Fast}};
const std::map<std::string, FigureFormat> kFigureFormats = {
    {"png", FigureFormat::Png}, {"svg", FigureFormat::Svg}, {"pdf", FigureFormat::Pdf}};
const std::map<std::string, bool> kExportChoices = {{"all", true}, {"none", false}};
const std::map<std::string, MissingCells> kPolicies = {
    {tarvok::MissingPolicyName(tarvok::MissingPolicy::Error), MissingCells::Error},
    {tarvok::MissingPolicyName(tarvok::MissingPolicy::Drop), MissingCells::Drop},
    {tarvok::MissingPolicyName(tarvok::MissingPolicy::RowMean), MissingCells::RowMean}};

// A whole-number option whose range is the core's rule for parameter.
template <typename Number>
CLI::Option* AddParameter(CLI::App* command, const std::string& name, Number& value, tarvok::Parameter parameter,
                          const std::string& help) {
  const tarvok::ParameterRange& range = tarvok::RangeOf(parameter);
  return command->add_option(name, value, help)
      ->capture_default_str()
      ->check(CLI::Range(static_cast<Number>(range.low), static_cast<Number>(range.high)));
}

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
  std::string format = "auto", header = "auto", rowNames = "auto", log2 = "auto";
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
                      "GEO and GCT 1.3 files: the sample annotation giving each sample's class, e.g. "
                      "\"disease state\" (a characteristics key or a !Sample_ line of a series matrix or family "
                      "SOFT file, a GDS subset type, a GCT column metadata row)");
  AddChoice(command, "--log2", words.log2, kLogChoices,
            "take log2 of the values first (values <= 0 become missing); auto: a GDS's value type decides, "
            "else the values' quantiles (99th percentile above 100, or range above 50 with the 25th "
            "percentile above 0)");
  command->add_option("--platform", options.platform,
                      "family SOFT files: the platform (GPL...) whose samples to read");
  command
      ->add_option("--annotation", options.annotation,
                   "gene symbols by probe ID from a GEO platform annotation (GPL....annot[.gz]) or SOFT "
                   "platform file")
      ->check(CLI::ExistingFile);
}

void ApplyTableWords(const TableWords& words, RunOptions& options) {
  options.format = kFormats.at(words.format);
  options.header = kChoices.at(words.header);
  options.rowNames = kChoices.at(words.rowNames);
  options.log2 = kLogChoices.at(words.log2);
}

// The words of "tarvok run"'s choices, turned into RunOptions after parsing.
struct RunWords {
  TableWords table;
  std::string missing = "error", solver = "exact", figures = "svg", exports = "all";
};

constexpr const char* kFiguresHelp = "format of the figure files beside the report (the report embeds SVG)";

CLI::App* AddRunCommand(CLI::App& app, RunOptions& run, RunWords& words) {
  using tarvok::Parameter;
  CLI::App* command = app.add_subcommand("run", "analyse a table and write the results and report.html");
  AddTableArguments(command, run, words.table);
  AddParameter(command, "--clusters", run.analysis.clusters, Parameter::Clusters, "clusters to extract, K");
  AddParameter(command, "--shave", run.analysis.shave, Parameter::Shave,
               "percent of a cluster's genes shaved off per step");
  AddParameter(command, "--permutations", run.analysis.permutations, Parameter::Permutations,
               "permuted copies of the data for the gap statistic");
  AddParameter(command, "--tolerance", run.analysis.tolerance, Parameter::Tolerance,
               "percent of the largest gap a larger cluster may lose");
  AddParameter(command, "--supervise", run.analysis.supervise, Parameter::Supervise,
               "weight of the sample classes in percent: 0 unsupervised, 100 fully supervised");
  AddParameter(command, "--seed", run.analysis.seed, Parameter::Seed,
               "the random generator's starting state; the same seed gives the same results in every face");
  command
      ->add_option("--classes", run.classes,
                   "class file: one class label per sample, one per line; colours the report, and "
                   "--supervise needs it")
      ->check(CLI::ExistingFile);
  command->add_option("--out", run.out, "output directory, created when missing (default: output/TABLE-NAME)");
  command->add_flag("--force", run.force, "write into an output directory that also holds files tarvok did not write");
  command->add_flag("--dump-matrix", run.dumpMatrix, "also write the centred data as origmatrix.txt");
  AddChoice(command, "--missing", words.missing, kPolicies,
            "missing values (empty, NA, NaN): stop with an error, drop the genes, or use the gene's mean");
  const tarvok::ParameterRange& threads = tarvok::RangeOf(Parameter::Threads);
  command->add_option("--threads", run.threads, "worker threads of the analysis (default: the library's choice)")
      ->check(CLI::Range(static_cast<int>(threads.low), static_cast<int>(threads.high)));
  command->add_flag("--quiet,-q", run.quiet, "show no progress");
  AddChoice(command, "--solver", words.solver, kSolvers,
            "leading axis of each step: the exact decomposition, or Lanczos iteration for many samples");
  AddChoice(command, "--figures", words.figures, kFigureFormats, kFiguresHelp);
  AddChoice(command, "--exports", words.exports, kExportChoices,
            "write clusters.gmt, clusters.kgg, TABLE-NAME.cdt and clusters.gct, or none");
  return command;
}

void ApplyRunWords(const RunWords& words, RunOptions& run) {
  run.presentation.figures = kFigureFormats.at(words.figures);
  run.presentation.exports = kExportChoices.at(words.exports);
  ApplyTableWords(words.table, run);
  run.missing = kPolicies.at(words.missing);
  run.analysis.solver = kSolvers.at(words.solver);
}

}  // namespace

void Complain(const std::string& text) {
  std::string line = fmt::format("tarvok: {}\n", text);
  if (std::fwrite(line.data(), 1, line.size(), stderr) != line.size()) std::clearerr(stderr);
}

std::string MissingPolicyWord(MissingCells policy) {
  for (const auto& [word, value] : kPolicies) {
    if (value == policy) return word;
  }
  return "keep";
}

ReadOptions TableReadOptions(const RunOptions& options) {
  ReadOptions read;
  read.format = options.format;
  read.missing = options.missing;
  read.header = options.header;
  read.rowNames = options.rowNames;
  read.decimalComma = options.decimalComma;
  read.classesFrom = options.classesFrom;
  read.log2 = options.log2;
  read.platform = options.platform;
  read.annotation = options.annotation;
  return read;
}

std::string DefaultOutputDirectory(const std::string& table) { return "output/" + TableName(table); }

int RunCommandLine(int argc, char** argv, const JobRunner& runner) {
  // A reader that goes away early (a pager quit, "| head") closes standard
  // output or error: writes to it fail from then on, but the analysis goes
  // on and its results, summary and report still reach the output directory.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "Finds clusters of genes with similar expression patterns by gene shaving.\n"
      "Run 'tarvok SUBCOMMAND --help' for the options of a subcommand.",
      "tarvok"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("tarvok ") + TARVOK_VERSION);

  RunOptions run, probe;
  run.runner = runner;
  RunWords runWords;
  TableWords probeWords;
  CLI::App* runCommand = AddRunCommand(app, run, runWords);

  ExportOptions exportOptions;
  std::string exportFigures = "svg";
  CLI::App* exportCommand = app.add_subcommand(
      "export", "write the exports, figure files and report of a finished run again, from its files");
  exportCommand->add_option("OUTDIR", exportOptions.outDir, "output directory of a run")->required();
  exportCommand->add_option("--classes", exportOptions.classes, "class file naming the class of each sample")
      ->check(CLI::ExistingFile);
  AddChoice(exportCommand, "--figures", exportFigures, kFigureFormats, kFiguresHelp);

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
    exportOptions.figures = kFigureFormats.at(exportFigures);
    return ExportCommand(exportOptions);
  }
  ApplyRunWords(runWords, run);
  return RunCommand(run);
}

}  // namespace tarvok
