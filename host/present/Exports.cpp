#include "present/Exports.h"

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <stdexcept>

#include "present/FigureFiles.h"
#include "present/Report.h"
#include "run/Runner.h"

namespace tarvok {

namespace {

// Every line of path, without line ends.
std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + " cannot be read");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The table row of each gene of c: its own, or the row of its label when
// the label names exactly one row.
std::vector<size_t> TableRows(const ClusterResult& c, const std::vector<std::string>& genes) {
  std::vector<size_t> rows;
  if (c.geneRows.size() == c.geneLabels.size()) {
    for (int row : c.geneRows) {
      if (row < 0 || static_cast<size_t>(row) >= genes.size()) {
        throw std::runtime_error("cluster " + std::to_string(c.number) + " names row " + std::to_string(row + 1) +
                                 " of a table of " + std::to_string(genes.size()) + " genes");
      }
      rows.push_back(static_cast<size_t>(row));
    }
    return rows;
  }
  std::map<std::string, size_t> rowOf;
  std::set<std::string> repeated;
  for (size_t g = 0; g < genes.size(); ++g) {
    if (!rowOf.emplace(genes[g], g).second) repeated.insert(genes[g]);
  }
  for (const std::string& label : c.geneLabels) {
    auto found = rowOf.find(label);
    if (found == rowOf.end() || repeated.count(label) != 0) {
      throw std::runtime_error("summary.json does not give the table rows of cluster " +
                               std::to_string(c.number) + ", and its gene \"" + label + "\" names " +
                               (found == rowOf.end() ? "no row" : "several rows") + " of RowLbls.txt");
    }
    rows.push_back(found->second);
  }
  return rows;
}

}  // namespace

tarvok::exports::ExportRecord MakeExportRecord(const RunResults& r, const std::vector<std::string>& genes,
                                               const std::vector<std::vector<double>>& values,
                                               const std::vector<std::string>& symbols,
                                               const std::vector<std::string>& classNames) {
  tarvok::exports::ExportRecord record;
  record.samples = r.sampleLabels;
  record.classes = classNames;
  record.genes = genes;
  record.symbols = symbols;
  record.values = values;
  for (const ClusterResult& c : r.clusters) {
    tarvok::exports::ClusterExport e;
    e.genes = c.geneLabels;
    e.tableRows = TableRows(c, genes);
    e.scores = GeneScores(c);
    e.rows = c.data;
    e.eigenvalue = c.eigenvalue;
    e.r2 = c.r2;
    e.gap = c.gap;
    e.component = c.component;
    record.clusters.push_back(std::move(e));
  }
  return record;
}

std::vector<std::string> ReadGeneLabels(const std::string& outDir) { return ReadLines(outDir + "/RowLbls.txt"); }

std::vector<std::string> ReadGeneSymbols(const std::string& outDir, size_t genes) {
  const std::string path = outDir + "/" + kRowSymbolsFile;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  std::vector<std::string> symbols = ReadLines(path);
  if (symbols.size() != genes) {
    throw std::runtime_error(path + " holds " + std::to_string(symbols.size()) + " symbols for " +
                             std::to_string(genes) + " genes");
  }
  return symbols;
}

std::string WritePresentation(const RunResults& r, const RunInfo& info, const std::string& outDir,
                              const PresentationOptions& options, const tarvok::exports::ExportRecord& record) {
  const std::vector<std::string> classes = SampleClassNames(info);
  ReportFiles files;
  files.format = options.figures;
  files.figureFiles = true;
  // The exports (a large table's CDT holds every value) are written on a
  // thread of their own while the figures are drawn; the report, which
  // links them, comes last. A future of std::async waits for its thread when
  // it is destroyed, so a failure here never leaves the thread reading a
  // record that is gone.
  std::future<void> exported;
  const std::string cdtStem = TableName(info.table);
  if (options.exports && !r.clusters.empty()) {
    tarvok::exports::CheckRecord(record);
    exported = std::async(std::launch::async, [&] { tarvok::exports::WriteExports(record, outDir, cdtStem); });
  }
  for (const ClusterResult& c : r.clusters) {
    files.figures.push_back(DrawClusterFigures(c, r.sampleLabels, classes, kHeatmapMaxRows));
  }
  for (const std::vector<ClusterFigure>& figures : files.figures) {
    WriteFigureFiles(figures, outDir, options.figures);
  }
  // The page is made while the exports may still be writing; it is written
  // once they are all in place.
  if (exported.valid()) files.exports = tarvok::exports::ExportFileNames(record, cdtStem);
  const std::string html = ReportHtml(r, info, files);
  if (exported.valid()) exported.get();
  const std::string report = outDir + "/report.html";
  tarvok::exports::WriteFileAtomically(report, html);
  return report;
}

}  // namespace tarvok
