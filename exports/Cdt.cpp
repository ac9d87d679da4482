// The CDT (named after the input table): the clustered data table of Cluster 3.0 and Java TreeView.
//
//   UNIQID  NAME                 GWEIGHT  sample1 ... sampleN
//   EWEIGHT                               1       ... 1
//   gene    name (cluster 1 +)   1        values
//
// UNIQID is the gene's label (its key), NAME its symbol, or its label when
// it has none. Rows go cluster by cluster in cluster order, then the genes
// of the table that are in no cluster, in table order: every row of the
// table appears, told apart by its row, never by its label, so repeated
// and empty labels stay distinct rows. A clustered gene's values are its
// centred row times its sign, so that every row of a cluster follows the
// component; NAME says which cluster and whether the row was negated (-).
// Unclustered rows carry their centred values, or empty cells (missing)
// when the record has none. Values are written so that they read back as
// the same doubles (ExactNumber); a missing value is an empty cell.
//
// No GID column: GID links rows to a gene tree (.gtr), which gene shaving
// does not make, and readers of tree-less files (Bio.Cluster among them)
// take the first column as the gene's identifier.
#include <vector>

#include "exports/Exports.h"
#include "exports/Fields.h"

namespace tarvok::exports {

namespace {

void AppendLabels(std::string& out, const std::string& gene, const std::string& name) {
  out += Field(gene);
  out += '\t';
  out += Field(name);
  out += "\t1";
}

// The cells of values times sign; empty cells when values is null.
void AppendCells(std::string& out, const double* values, int sign, size_t samples) {
  for (size_t s = 0; s < samples; ++s) {
    out += '\t';
    if (values != nullptr) AppendExactNumber(out, Aligned(values[s], sign));
  }
}

// The cells of gene, whose row is values: those made ahead when the record
// has them and the row is written as it is (cells made ahead are never
// negated), else formatted here.
void AppendCellsOf(std::string& out, const ExportRecord& r, size_t gene, const double* values, int sign) {
  const CdtCells* ahead = r.cdtCells;
  if (sign > 0 && ahead != nullptr && gene < ahead->ends.size()) {
    const size_t begin = gene == 0 ? 0 : ahead->ends[gene - 1];
    out.append(ahead->text, begin, ahead->ends[gene] - begin);
  } else {
    AppendCells(out, values, sign, r.samples.size());
  }
}

}  // namespace

void AppendCdtCells(CdtCells& cells, const double* row, size_t samples) {
  AppendCells(cells.text, row, 1, samples);
  cells.ends.push_back(cells.text.size());
}

void WriteCdt(const ExportRecord& r, TextSink& sink) {
  const size_t samples = r.samples.size();
  std::string& out = sink.text;
  out += "UNIQID\tNAME\tGWEIGHT";
  for (const std::string& sample : r.samples) out += "\t" + Field(sample);
  out += "\nEWEIGHT\t\t";
  for (size_t s = 0; s < samples; ++s) out += "\t1";
  out += "\n";
  std::vector<bool> clustered(r.genes.size(), false);
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterExport& c = r.clusters[i];
    for (size_t j = 0; j < c.genes.size(); ++j) {
      int sign = SignOf(c.scores[j]);
      std::string name = ShownName(c.genes[j], SymbolOf(r, c, j)) + " (cluster " + std::to_string(i + 1) +
                         (sign > 0 ? " +)" : " -)");
      AppendLabels(out, c.genes[j], name);
      if (c.tableRows.empty()) {
        AppendCells(out, c.rows[j].data(), sign, samples);
      } else {
        AppendCellsOf(out, r, c.tableRows[j], c.rows[j].data(), sign);
        clustered[c.tableRows[j]] = true;
      }
      out += '\n';
      sink.Piece();
    }
  }
  for (size_t g = 0; g < r.genes.size(); ++g) {
    if (clustered[g]) continue;
    const double* row = !r.values.empty() ? r.values[g].data() : (r.rowOf ? r.rowOf(g) : nullptr);
    AppendLabels(out, r.genes[g], ShownName(r.genes[g], r.symbols.empty() ? "" : r.symbols[g]));
    AppendCellsOf(out, r, g, row, 1);
    out += '\n';
    sink.Piece();
  }
}

std::string CdtText(const ExportRecord& r) {
  TextSink sink;
  // About 20 characters a value: reserved once rather than grown by copying.
  sink.text.reserve((r.genes.size() + 2) * (r.samples.size() + 3) * 20);
  WriteCdt(r, sink);
  return sink.text;
}

}  // namespace tarvok::exports
