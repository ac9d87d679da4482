#include "cli/ExportCommand.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "tables/ClassFile.h"
#include "cli/Cli.h"
#include "present/Exports.h"
#include "present/OutputGuide.h"
#include "present/PreciseValues.h"
#include "present/Report.h"
#include "present/ResultFiles.h"
#include "base/ResultNames.h"
#include "exports/Exports.h"
#include "present/FigureFiles.h"
#include "run/AtomicFile.h"
#include "run/DirectoryLock.h"
#include "run/RunDirectory.h"
#include "run/Runner.h"

namespace tarvok {

namespace fs = std::filesystem;

namespace {

// Bad input: the message for the user, exit status 2.
class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ExportError(fmt::format("{} cannot be read", path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// origmatrix.txt: one line of " %g" values per gene. Empty when the run did
// not keep it.
std::vector<std::vector<double>> CentredMatrix(const std::string& dir, size_t genes, size_t samples) {
  const std::string path = dir + "/origmatrix.txt";
  std::vector<std::vector<double>> rows;
  if (!fs::exists(path)) return rows;
  for (const std::string& line : Lines(path)) {
    std::vector<double> row;
    bool whole = true;
    for (const char *p = line.data(), *end = line.data() + line.size(); p < end;) {
      while (p < end && *p == ' ') ++p;
      if (p == end) break;
      double value = 0.0;
      auto [next, error] = std::from_chars(p, end, value);
      whole = whole && error == std::errc() && (next == end || *next == ' ');
      if (!whole) break;
      row.push_back(value);
      p = next;
    }
    if (row.size() != samples || !whole) {
      throw ExportError(fmt::format("{}: line {} does not hold {} numbers", path, rows.size() + 1, samples));
    }
    rows.push_back(std::move(row));
  }
  if (rows.size() != genes) {
    throw ExportError(fmt::format("{} holds {} rows for {} genes in RowLbls.txt", path, rows.size(), genes));
  }
  return rows;
}

// The run's summary.json; null when the run left none. One that is there
// but not what tarvok writes (empty, cut off, NaN, a value of the wrong
// type) is refused: its numbers are never quietly replaced by the six
// decimals of the result files.
nlohmann::json ReadSummaryJson(const std::string& dir) {
  const std::string path = dir + "/summary.json";
  std::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return nullptr;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ExportError(fmt::format("{} cannot be read", path));
  try {
    nlohmann::json doc = nlohmann::json::parse(in);
    if (doc.is_object()) return doc;
  } catch (const nlohmann::json::exception&) {
  }
  throw ExportError(fmt::format("{} is damaged (not the JSON object tarvok writes); restore it, or remove it "
                                "to export from the result files alone",
                                path));
}

[[noreturn]] void SummaryDisagrees(const std::string& dir, const std::string& what) {
  throw ExportError(fmt::format("{}/summary.json is damaged: {}; restore it, or remove it to export from the "
                                "result files alone",
                                dir, what));
}

// The run's table, parameters and end from its summary (a null summary:
// only what the result files tell, the rest marked as not recorded).
//   requested (input) the clusters the run asked for, from clusters.txt
RunInfo ReadRunInfo(const nlohmann::json& doc, const RunResults& r, size_t genes, int requested,
                    const std::string& dir) {
  RunInfo info;
  info.genes = static_cast<int>(genes);
  info.samples = r.samples;
  info.clusters = requested;
  if (doc.is_null()) {
    info.recorded = false;
    return info;
  }
  try {
    info.table = doc.at("table").get<std::string>();
    const nlohmann::json& p = doc.at("parameters");
    info.clusters = p.at("clusters").get<int>();
    info.shave = p.at("shave_percent").get<int>();
    info.permutations = p.at("permutations").get<int>();
    info.tolerance = p.at("tolerance_percent").get<int>();
    info.supervise = p.at("supervise_percent").get<int>();
    if (p.contains("classes_file") && !p["classes_file"].is_null()) info.classesFile = p["classes_file"];
    if (!doc.at("complete").get<bool>()) info.incomplete = doc.at("incomplete_reason").get<std::string>();
    info.stoppedEarly = doc.value("stopped_early", false);
    info.stopReason = doc.value("stop_reason", info.stopReason);
  } catch (const nlohmann::json::exception& error) {
    SummaryDisagrees(dir, error.what());
  }
  return info;
}

// What the summary recorded of the run's inputs: the classes (names of
// each sample), the log decision, the missing-value handling and the
// warnings, for the report.
void ReadRecordedInputs(const nlohmann::json& doc, RunInfo& info, const std::string& dir) {
  if (doc.is_null()) return;
  try {
    const nlohmann::json classes = doc.value("classes", nlohmann::json());
    if (classes.is_object()) {
      info.classNames = classes.at("of_samples").get<std::vector<std::string>>();
      if (classes.value("field", nlohmann::json()).is_string()) info.classField = classes["field"];
    }
    const nlohmann::json log2 = doc.value("log2", nlohmann::json::object());
    info.log2Choice = log2.value("choice", info.log2Choice);
    info.log2.decision.apply = log2.value("applied", false);
    info.log2.decision.reason = log2.value("reason", std::string());
    info.log2.nonPositive = log2.value("non_positive_cells", 0LL);
    const nlohmann::json missing = doc.value("missing_values", nlohmann::json::object());
    info.missingPolicy = missing.value("policy", info.missingPolicy);
    info.missingCells = missing.value("missing_cells", 0);
    info.droppedGenes = missing.value("dropped_genes", 0);
    info.droppedSamples = missing.value("dropped_samples", 0);
    info.imputedCells = missing.value("imputed_cells", 0);
    info.warnings = doc.value("warnings", std::vector<std::string>());
  } catch (const nlohmann::json::exception& error) {
    SummaryDisagrees(dir, error.what());
  }
}

// Puts the summary's full-precision numbers into every cluster of r, so that
// the exports are the run's own.
void TakeSummaryNumbers(const nlohmann::json& doc, RunResults& r, const std::string& dir) {
  if (doc.is_null()) return;
  std::vector<PreciseCluster> precise;
  if (doc.contains("clusters") && doc["clusters"].is_array()) {
    for (const nlohmann::json& cluster : doc["clusters"]) {
      PreciseCluster p;
      if (!ParsePrecise(cluster, &p)) SummaryDisagrees(dir, fmt::format("cluster {} is not whole", precise.size() + 1));
      precise.push_back(p);
    }
  }
  if (precise.size() != r.clusters.size()) {
    SummaryDisagrees(dir, fmt::format("it holds {} clusters, the result files {}", precise.size(), r.clusters.size()));
  }
  const int taken = TakePreciseValues(r, precise);
  if (taken != static_cast<int>(r.clusters.size())) {
    SummaryDisagrees(dir, "its clusters differ from those of the result files");
  }
}

std::vector<std::string> ClassNames(const ExportOptions& options, const std::string& dir, int samples) {
  std::string path = options.classes;
  if (path.empty()) {
    path = dir + "/classes.txt";  // what a supervised run gave the library
    if (!fs::exists(path)) return {};
  }
  std::vector<std::string> names;
  try {
    names = ReadClassLabels(path);
  } catch (const TableError& error) {
    throw ExportError(fmt::format("{}: {}", path, error.what()));
  }
  if (static_cast<int>(names.size()) != samples) {
    throw ExportError(
        fmt::format("{} holds {} classes, but the run has {} samples", path, names.size(), samples));
  }
  return names;
}

// True for a name, relative to the run's directory, that an export writes:
// the exports (the CDT under any table's name), report.html, the output
// guide and the figures, or the temporary of one.
bool ReplacedByExport(const std::string& name) {
  if (name.rfind(std::string(kFigureDirectory) + "/", 0) == 0) return ReplacedByRun(name);
  const std::string tmp = ".tmp";
  const bool temporary = name.size() > tmp.size() + 1 && name[0] == '.' &&
                         name.compare(name.size() - tmp.size(), tmp.size(), tmp) == 0;
  const std::string file = temporary ? name.substr(1, name.size() - 1 - tmp.size()) : name;
  if (!IsRunFileName(file) || file[0] == '.') return false;
  const std::string cdt = ".cdt";
  if (file.size() > cdt.size() && file.compare(file.size() - cdt.size(), cdt.size(), cdt) == 0) return true;
  for (const std::string& written : tarvok::exports::ExportFileNames()) {
    if (file == written) return true;
  }
  return file == "report.html" || file == kOutputGuideFile;
}

// The directory of the run, as the system resolves it; refused (status 2)
// when it is no run, or when the export would replace one of its inputs.
std::string RunDirectoryOf(const ExportOptions& options) {
  if (!fs::is_directory(options.outDir)) throw ExportError(fmt::format("{} is not a directory", options.outDir));
  std::string dir;
  try {
    dir = PhysicalDirectory(options.outDir, false);
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
  for (const char* needed : {"ColLbls.txt", "RowLbls.txt", "clusterlengths.txt"}) {
    if (!fs::exists(dir + "/" + needed)) {
      throw ExportError(fmt::format("{} is not the output directory of a run: {} is missing", options.outDir, needed));
    }
  }
  try {
    RefuseReplacingInputs(dir, ReplacedByExport, InputFilesOf({{"the class file", options.classes}}));
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
  return dir;
}

// The run's directory held for the export: a live run is refused.
std::unique_ptr<DirectoryLock> LockRun(const std::string& dir) {
  try {
    return std::make_unique<DirectoryLock>(dir);
  } catch (const DirectoryInUse& busy) {
    throw ExportError(fmt::format("{} is in use by a tarvok run{}; export it once that run has ended", dir,
                                  busy.holder.empty() ? std::string() : fmt::format(" (process {})", busy.holder)));
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
}

// Reads the run's results back: the clusters it finished, with the
// summary's numbers when it left one. Bad or damaged files: status 2.
RunResults ReadRun(const std::string& dir, const nlohmann::json& summary, std::vector<std::string>& genes,
                   std::vector<std::string>& symbols) {
  // Only finished clusters have a line in clusterlengths.txt.
  const int done = static_cast<int>(Lines(dir + "/clusterlengths.txt").size());
  if (done == 0) throw ExportError(fmt::format("the run in {} extracted no clusters: nothing to export", dir));
  RunResults r;
  try {
    r = ReadRunResults(dir, done);
    genes = ReadGeneLabels(dir);
    symbols = ReadGeneSymbols(dir, genes.size());
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
  TakeSummaryNumbers(summary, r, dir);
  return r;
}

int Export(const ExportOptions& options) {
  const std::string dir = RunDirectoryOf(options);
  const std::unique_ptr<DirectoryLock> lock = LockRun(dir);
  const nlohmann::json summary = ReadSummaryJson(dir);
  std::vector<std::string> genes, symbols;
  RunResults r = ReadRun(dir, summary, genes, symbols);
  // The result files keep the decomposition's sign; the run presented each
  // cluster oriented, and so does this.
  for (ClusterResult& c : r.clusters) OrientCluster(c);
  // clusters.txt names every cluster the run asked for, finished or not.
  const int requested = static_cast<int>(Lines(dir + "/" + tarvok::kClusterListFile).size());
  RunInfo info = ReadRunInfo(summary, r, genes.size(), requested, dir);
  ReadRecordedInputs(summary, info, dir);
  // A class file given now names the classes; else the summary's record;
  // else the numbers a supervised run gave the library.
  if (!options.classes.empty() || info.classNames.size() != static_cast<size_t>(r.samples)) {
    info.classNames = ClassNames(options, dir, r.samples);
  }
  info.classes.clear();  // numbered by first appearance, for the report's counts
  for (const std::string& name : info.classNames) {
    info.classes.push_back(static_cast<int>(
        std::find(info.classNames.begin(), info.classNames.end(), name) - info.classNames.begin()));
  }
  PresentationOptions presentation;
  presentation.figures = options.figures;
  const std::vector<std::string> classes = SampleClassNames(info);
  tarvok::exports::ExportRecord record;
  try {
    record = MakeExportRecord(r, genes, CentredMatrix(dir, genes.size(), r.samples), symbols,
                              classes.size() == r.sampleLabels.size() ? classes : std::vector<std::string>());
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
  for (size_t i = 0; i < r.clusters.size() && !symbols.empty(); ++i) {
    ClusterResult& c = r.clusters[i];
    c.geneSymbols.clear();
    for (size_t row : record.clusters[i].tableRows) c.geneSymbols.push_back(symbols[row]);
  }
  const std::string report = WritePresentation(r, info, dir, presentation, record);
  WriteOutputGuide(dir, TableName(info.table));
  const std::string failure = WriteStandardOutput(
      fmt::format("Exports of {} clusters written to {}\nReport: {}\n", r.clusters.size(), dir, report));
  if (!failure.empty()) {
    Complain(fmt::format("cannot write to standard output: {}", failure));
    return kExitAnalysisFailed;
  }
  return kExitSuccess;
}

}  // namespace

int ExportCommand(const ExportOptions& options) {
  try {
    return Export(options);
  } catch (const ExportError& error) {
    std::fprintf(stderr, "tarvok: %s\n", error.what());
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarvok: the exports could not be written: %s\n", error.what());
    return kExitAnalysisFailed;
  }
}

}  // namespace tarvok
