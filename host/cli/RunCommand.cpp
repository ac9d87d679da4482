// "tarvok run": read the table and classes, run the analysis in this
// process through the core, and present its record.
#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

#include "base/ThreadCount.h"
#include "cli/Cli.h"
#include "exports/FromAnalysis.h"
#include "present/Exports.h"
#include "present/Figures.h"
#include "present/OutputGuide.h"
#include "present/Report.h"
#include "present/Summary.h"
#include "run/AtomicFile.h"
#include "run/RunDirectory.h"
#include "tables/ClassFile.h"

namespace tarvok {

namespace {

bool StderrIsTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && !(term != nullptr && std::string(term) == "dumb");
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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
  info.seed = p.seed;
  if (!classes.classes.empty()) info.classesFile = classes.source;
  if (!classes.classes.empty()) info.classField = options.classesFrom;
  info.classes = classes.classes;
  // The word of each sample's class, for legends and exports; integer
  // classes have no words and are named by SampleClassNames.
  if (!classes.names.empty()) {
    for (int c : classes.classes) info.classNames.push_back(ClassName(classes, c));
  }
  info.sampleLabels = table.sampleLabels;
  info.log2Choice = tarvok::LogChoiceName(options.log2);
  info.log2 = table.log2;
  info.missingPolicy = MissingPolicyWord(options.missing);
  info.missingCells = table.missingCells;
  info.droppedGenes = table.droppedGenes;
  info.droppedSamples = table.droppedSamples;
  info.imputedCells = table.imputedCells;
  info.warnings = warnings;
  return info;
}

// The table, its classes and the warnings of reading them; false after
// saying why they cannot be used.
bool ReadInputs(const RunOptions& options, Table& table, SampleClasses& classes,
                std::vector<std::string>& warnings) {
  std::vector<std::string> notes;
  std::string reading = options.table;  // the file being read, for messages
  try {
    table = ReadTable(options.table, TableReadOptions(options));
    CheckVariance(table);
    CheckValuesRepresentable(table);
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
    return false;
  }
  // A log taken changes every number: say so and why (summary.json and the
  // report keep the decision either way).
  if (table.log2.decision.apply) {
    Complain(fmt::format("{}: {}", options.table, tarvok::LogDecisionText(table.log2.decision)));
  }
  for (const std::string& note : table.notes) warnings.push_back(fmt::format("{}: {}", options.table, note));
  for (const std::string& note : notes) warnings.push_back(fmt::format("{}: {}", classes.source, note));
  for (const std::string& warning : warnings) Complain(warning);
  return true;
}

// Presents what the run finished: the summary table on standard output,
// summary.tsv, summary.json, the exports, the figure files and report.html
// in the output directory, all from the core's record. A run that did not
// finish (info.incomplete set) presents the clusters it completed, if any.
// Returns false when the results could not be presented, after saying why.
bool PresentResults(const RunInfo& info, const std::string& outDir, const RunOutcome& outcome,
                    const PresentationOptions& presentation, const Table& table,
                    const tarvok::exports::CdtCells& cdtCells) {
  if (!outcome.analysis || (!info.incomplete.empty() && outcome.clusters.empty())) return true;
  try {
    tarvok::exports::RecordNames names;
    names.genes = GeneLabelsOf(table);
    names.samples = SampleLabelsOf(table);
    names.symbols = table.geneSymbols;
    RunResults results =
        RunResultsOf(*outcome.analysis, outcome.clusters, names.genes, names.samples, names.symbols);
    names.classes = SampleClassNames(info);
    if (names.classes.size() != names.samples.size()) names.classes.clear();
    tarvok::exports::ExportRecord record =
        tarvok::exports::RecordOfAnalysis(*outcome.analysis, outcome.Result(), names, true);
    record.cdtCells = &cdtCells;
    std::ostringstream text;
    PrintSummary(results, text);
    WriteSummaryFiles(results, info, outDir);
    text << "\nReport: " << WritePresentation(results, info, outDir, presentation, record) << '\n';
    std::string failure = WriteStandardOutput(text.str());
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
             const PresentationOptions& presentation, const Table& table,
             const tarvok::exports::CdtCells& cdtCells) {
  const int finished = static_cast<int>(outcome.clusters.size());
  switch (outcome.status) {
    case RunOutcome::Interrupted: {
      const int signal = outcome.signal == SIGTERM ? SIGTERM : SIGINT;
      std::string during = outcome.clustersStarted > 0
                               ? fmt::format("during cluster {} of {} ({} finished)", finished + 1,
                                             info.clusters, finished)
                               : std::string("before the first cluster");
      info.incomplete = fmt::format("interrupted by {} {}", signal == SIGTERM ? "SIGTERM" : "SIGINT", during);
      PresentResults(info, outDir.Path(), outcome, presentation, table, cdtCells);
      Complain(fmt::format("interrupted {}; {} files written so far are in {}", during,
                           outDir.CountResultFiles(), outDir.Path()));
      return signal == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    case RunOutcome::Failed: {
      Complain(fmt::format("analysis failed: {}", outcome.message));
      std::string meaning = ExplainFailure(outcome.message);
      if (!meaning.empty()) Complain(fmt::format("in plain words: {}", meaning));
      info.incomplete = "the analysis failed: " + outcome.message;
      PresentResults(info, outDir.Path(), outcome, presentation, table, cdtCells);
      return kExitAnalysisFailed;
    }
    case RunOutcome::Finished:
      break;
  }
  const bool presented = PresentResults(info, outDir.Path(), outcome, presentation, table, cdtCells);
  return presented ? kExitSuccess : kExitAnalysisFailed;
}

// The usage errors no single option shows; "" when there is none.
std::string UsageProblem(const RunOptions& options) {
  int threads = 0;
  if (options.threads == 0 && tarvok::ThreadCountFromEnvironment(&threads) == 0) {
    return fmt::format("TARVOK_THREADS is \"{}\"; it must be a whole number from 1 to {} (or use --threads)",
                       std::getenv("TARVOK_THREADS"), tarvok::kMaxThreads);
  }
  if (!options.classes.empty() && !options.classesFrom.empty()) {
    return "give the classes either with --classes FILE or with --classes-from NAME, not both";
  }
  if (options.analysis.supervise > 0 && options.classes.empty() && options.classesFrom.empty()) {
    return "--supervise needs --classes FILE (or --classes-from NAME for a GEO or GCT 1.3 file), the class of each "
           "sample";
  }
  return "";
}

}  // namespace

int RunCommand(const RunOptions& options) {
  const std::string problem = UsageProblem(options);
  if (!problem.empty()) {
    Complain(problem);
    return kExitUsage;
  }
  Table table;
  SampleClasses classes;
  std::vector<std::string> warnings;
  if (!ReadInputs(options, table, classes, warnings)) return kExitUsage;

  AnalysisJob job;
  job.table = &table;
  job.parameters = options.analysis;
  job.dumpMatrix = options.dumpMatrix;
  job.threads = options.threads;
  std::unique_ptr<RunDirectory> outDir;
  try {
    // Compared by device and inode: a run never replaces what it reads.
    const std::vector<InputFile> inputs =
        InputFilesOf({{"the table", options.table}, {"the class file", options.classes}});
    outDir = std::make_unique<RunDirectory>(
        options.out.empty() ? DefaultOutputDirectory(options.table) : options.out, options.force, inputs);
  } catch (const std::exception& error) {
    Complain(error.what());
    return kExitUsage;
  }
  job.outDir = outDir->Path();
  try {
    WriteOutputGuide(job.outDir, TableName(options.table));
    job.generateLabels = WriteLabelFiles(table, job.outDir);
    if (options.analysis.supervise > 0) {
      job.classes = classes.classes;
      WriteClassFile(classes.classes, job.outDir + "/classes.txt");
    }
  } catch (const std::exception& error) {  // a full disk: not the user's doing
    Complain(error.what());
    return kExitAnalysisFailed;
  }

  // When the analysis leaves a core free, the figures' fonts load and the
  // CDT's cells of every row are made there, one after the other, while it
  // runs (the exports then copy the cells); otherwise the fonts load on a
  // thread of their own (its future waits for them when it goes, whatever
  // happens). One thread beside the analysis never takes its core.
  tarvok::exports::CdtCells cdtCells;
  bool coreFree = false;
  try {
    coreFree = !options.runner && LeavesACoreFree(AnalysisOptionsOf(job).threads);
  } catch (const std::exception&) {
    // A bad TARVOK_THREADS, refused above already; the analysis would say so.
  }
  std::future<void> fonts;
  if (coreFree) {
    job.alongside = [&cdtCells, exports = options.presentation.exports](const tarvok::Analysis& analysis) {
      WarmUpFigures();
      if (exports) cdtCells = tarvok::exports::CdtCellsOf(analysis);
    };
  } else {
    fonts = std::async(std::launch::async, WarmUpFigures);
  }
  Progress progress(std::cerr, StderrIsTerminal(), options.quiet, options.analysis.clusters,
                    options.analysis.permutations, SteadySeconds);
  RunOutcome outcome;
  try {
    outcome = RunAnalysis(job, progress, options.runner);
  } catch (const std::exception& error) {
    progress.Finish();
    Complain(fmt::format("cannot start the analysis: {}", error.what()));
    return kExitAnalysisFailed;
  }
  const bool stoppedEarly =
      outcome.status == RunOutcome::Finished && outcome.stopReason != tarvok::StopReason::Completed;
  if (stoppedEarly) progress.StoppedEarly(static_cast<int>(outcome.clusters.size()), options.analysis.clusters);
  progress.Finish();
  if (fonts.valid()) fonts.wait();  // the figures are drawn next
  for (const std::string& message : progress.Messages()) warnings.push_back(message);
  RunInfo info = MakeRunInfo(options, table, classes, warnings);
  info.stoppedEarly = stoppedEarly;
  info.stopReason = tarvok::StopReasonName(outcome.stopReason);
  return Conclude(outcome, info, *outDir, options.presentation, table, cdtCells);
}

}  // namespace tarvok
