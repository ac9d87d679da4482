#include "cli/ExportCommand.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "tables/ClassFile.h"
#include "cli/Cli.h"
#include "present/Exports.h"
#include "present/OutputGuide.h"
#include "present/PreciseValues.h"
#include "present/Report.h"
#include "present/ResultFiles.h"
#include "run/AtomicFile.h"
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

// The run's summary.json, or a discarded value when it is missing or damaged.
nlohmann::json ReadSummaryJson(const std::string& dir) {
  std::ifstream in(dir + "/summary.json", std::ios::binary);
  if (!in) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(in, nullptr, false);
}

// The run's table and parameters from its summary, as far as it has them.
RunInfo ReadRunInfo(const nlohmann::json& doc, const RunResults& r, size_t genes) {
  RunInfo info;
  info.genes = static_cast<int>(genes);
  info.samples = r.samples;
  info.clusters = static_cast<int>(r.clusters.size());
  // The report's header only: a damaged summary leaves it short, nothing more.
  try {
    if (doc.is_discarded() || !doc.is_object()) return info;
    info.table = doc.value("table", std::string());
    const nlohmann::json p = doc.value("parameters", nlohmann::json::object());
    if (!p.is_object()) return info;
    info.clusters = p.value("clusters", info.clusters);
    info.shave = p.value("shave_percent", 0);
    info.permutations = p.value("permutations", 0);
    info.tolerance = p.value("tolerance_percent", 0);
    info.supervise = p.value("supervise_percent", 0);
    if (p.contains("classes_file") && p["classes_file"].is_string()) info.classesFile = p["classes_file"];
  } catch (const nlohmann::json::exception&) {
  }
  return info;
}

// What the summary recorded of the run's inputs: the classes (names of
// each sample), the missing-value handling and the warnings, for the report.
void ReadRecordedInputs(const nlohmann::json& doc, RunInfo& info) {
  if (doc.is_discarded() || !doc.is_object()) return;
  try {
    const nlohmann::json classes = doc.value("classes", nlohmann::json());
    if (classes.is_object()) {
      info.classNames = classes.at("of_samples").get<std::vector<std::string>>();
      if (classes.value("field", nlohmann::json()).is_string()) info.classField = classes["field"];
    }
    const nlohmann::json missing = doc.value("missing_values", nlohmann::json::object());
    info.missingPolicy = missing.value("policy", info.missingPolicy);
    info.missingCells = missing.value("missing_cells", 0);
    info.droppedGenes = missing.value("dropped_genes", 0);
    info.droppedSamples = missing.value("dropped_samples", 0);
    info.imputedCells = missing.value("imputed_cells", 0);
    info.warnings = doc.value("warnings", std::vector<std::string>());
  } catch (const nlohmann::json::exception&) {
  }
}

// The clusters' full-precision numbers that the summary keeps, so that the
// exports are the run's own; a cluster the summary lacks keeps the result
// files' six decimals.
std::vector<PreciseCluster> ReadPreciseClusters(const nlohmann::json& doc) {
  std::vector<PreciseCluster> precise;
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("clusters") || !doc["clusters"].is_array()) {
    return precise;
  }
  for (const nlohmann::json& cluster : doc["clusters"]) {
    PreciseCluster p;
    if (ParsePrecise(cluster, &p)) precise.push_back(p);
  }
  return precise;
}

std::vector<std::string> ClassNames(const ExportOptions& options, int samples) {
  std::string path = options.classes;
  if (path.empty()) {
    path = options.outDir + "/classes.txt";  // what a supervised run gave the library
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

int Export(const ExportOptions& options) {
  const std::string& dir = options.outDir;
  if (!fs::is_directory(dir)) throw ExportError(fmt::format("{} is not a directory", dir));
  for (const char* needed : {"ColLbls.txt", "RowLbls.txt", "clusterlengths.txt"}) {
    if (!fs::exists(dir + "/" + needed)) {
      throw ExportError(fmt::format("{} is not the output directory of a run: {} is missing", dir, needed));
    }
  }
  // Only finished clusters have a line in clusterlengths.txt.
  const int done = static_cast<int>(Lines(dir + "/clusterlengths.txt").size());
  if (done == 0)
    throw ExportError(fmt::format("the run in {} extracted no clusters: nothing to export", dir));
  RunResults r;
  try {
    r = ReadRunResults(dir, done);
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
  std::vector<std::string> genes, symbols;
  try {
    genes = ReadGeneLabels(dir);
    symbols = ReadGeneSymbols(dir, genes.size());
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what());
  }
  const nlohmann::json summary = ReadSummaryJson(dir);
  TakePreciseValues(r, ReadPreciseClusters(summary));
  // The result files keep the decomposition's sign; the run presented each
  // cluster oriented, and so does this.
  for (ClusterResult& c : r.clusters) OrientCluster(c);
  RunInfo info = ReadRunInfo(summary, r, genes.size());
  ReadRecordedInputs(summary, info);
  // A class file given now names the classes; else the summary's record;
  // else the numbers a supervised run gave the library.
  if (!options.classes.empty() || info.classNames.size() != static_cast<size_t>(r.samples)) {
    info.classNames = ClassNames(options, r.samples);
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
