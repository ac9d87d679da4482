#include "exports/FromAnalysis.h"

#include <stdexcept>

#include "base/HugePages.h"
#include "core/Orientation.h"
#include "core/Rules.h"

namespace tarvok::exports {

namespace {

std::vector<double> CentredRow(const Analysis& analysis, int gene) {
  const double* row = analysis.CentredRow(gene);
  return std::vector<double>(row, row + analysis.Samples());
}

void CheckNames(const Analysis& analysis, const RecordNames& names) {
  const int genes = analysis.Genes();
  if (static_cast<int>(names.genes.size()) != genes ||
      static_cast<int>(names.samples.size()) != analysis.Samples() ||
      (!names.symbols.empty() && static_cast<int>(names.symbols.size()) != genes)) {
    throw std::invalid_argument(std::to_string(names.genes.size()) + " gene labels, " +
                                std::to_string(names.symbols.size()) + " symbols and " +
                                std::to_string(names.samples.size()) + " sample labels for data of " +
                                std::to_string(genes) + " genes and " + std::to_string(analysis.Samples()) +
                                " samples");
  }
}

}  // namespace

ExportRecord RecordOfAnalysis(const Analysis& analysis, const AnalysisResult& result, const RecordNames& names,
                              bool borrowRows) {
  CheckNames(analysis, names);
  ExportRecord record;
  record.samples = names.samples;
  record.classes = names.classes;
  record.genes = names.genes;
  for (const std::string& symbol : names.symbols) record.symbols.push_back(CleanSymbol(symbol));
  if (borrowRows) {
    record.rowOf = [&analysis](size_t gene) { return analysis.CentredRow(static_cast<int>(gene)); };
  } else {
    for (int g = 0; g < analysis.Genes(); ++g) record.values.push_back(CentredRow(analysis, g));
  }
  for (const ClusterRecord& raw : result.clusters) {
    const ClusterRecord c = Oriented(raw);
    ClusterExport e;
    for (int gene : c.genes) {
      e.genes.push_back(names.genes[static_cast<size_t>(gene)]);
      e.tableRows.push_back(static_cast<size_t>(gene));
      e.rows.push_back(CentredRow(analysis, gene));
    }
    e.scores = c.scores;
    e.eigenvalue = c.eigenvalue;
    e.r2 = c.r2[c.chosenStep];
    e.gap = c.gap[c.chosenStep];
    e.component = c.component;
    record.clusters.push_back(std::move(e));
  }
  return record;
}

CdtCells CdtCellsOf(const Analysis& analysis) {
  const size_t genes = static_cast<size_t>(analysis.Genes()), samples = static_cast<size_t>(analysis.Samples());
  CdtCells cells;
  // A cell takes at most 25 characters ("\t-1.2345678901234567e-100"):
  // reserved once, and only the part written is ever touched.
  cells.text.reserve(genes * samples * 25);
  AdviseHugePages(cells.text.data(), cells.text.capacity());
  cells.ends.reserve(genes);
  for (size_t g = 0; g < genes; ++g) AppendCdtCells(cells, analysis.CentredRow(static_cast<int>(g)), samples);
  return cells;
}

}  // namespace tarvok::exports
