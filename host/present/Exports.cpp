#include "present/Exports.h"

#include <fstream>
#include <future>
#include <stdexcept>

#include "present/FigureFiles.h"
#include "present/Report.h"

namespace tarvok {

tarvok::exports::ExportRecord MakeExportRecord(const RunResults& r, const std::vector<std::string>& genes,
                                               const std::vector<std::vector<double>>& values,
                                               const std::vector<std::string>& classNames) {
  tarvok::exports::ExportRecord record;
  record.samples = r.sampleLabels;
  record.classes = classNames;
  record.genes = genes;
  record.values = values;
  for (const ClusterResult& c : r.clusters) {
    tarvok::exports::ClusterExport e;
    e.genes = c.geneLabels;
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

std::vector<std::string> ReadGeneLabels(const std::string& outDir) {
  const std::string path = outDir + "/RowLbls.txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + " cannot be read");
  std::vector<std::string> labels;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    labels.push_back(line);
  }
  return labels;
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
  if (exported.valid()) files.exports = tarvok::exports::ExportFileNames(cdtStem);
  const std::string html = ReportHtml(r, info, files);
  if (exported.valid()) exported.get();
  const std::string report = outDir + "/report.html";
  tarvok::exports::WriteFileAtomically(report, html);
  return report;
}

}  // namespace tarvok
