// The CDT (named after the input table): the clustered data table of Cluster 3.0 and Java TreeView.
//
//   UNIQID  NAME                 GWEIGHT  sample1 ... sampleN
//   EWEIGHT                               1       ... 1
//   gene    gene (cluster 1 +)   1        values
//
// Rows go cluster by cluster in cluster order, then the genes of the table
// that are in no cluster, in table order. A clustered gene's values are its
// centred row times its sign, so that every row of a cluster follows the
// component; NAME says which cluster and whether the row was negated (-).
// Unclustered rows carry their centred values, or empty cells (missing)
// when the record has none. Values are written so that they read back as
// the same doubles (ExactNumber); a missing value is an empty cell.
//
// No GID column: GID links rows to a gene tree (.gtr), which gene shaving
// does not make, and readers of tree-less files (Bio.Cluster among them)
// take the first column as the gene's identifier.
#include <set>

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
  std::set<std::string> clustered;
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterExport& c = r.clusters[i];
    for (size_t j = 0; j < c.genes.size(); ++j) {
      int sign = SignOf(c.scores[j]);
      std::string name = c.genes[j] + " (cluster " + std::to_string(i + 1) + (sign > 0 ? " +)" : " -)");
      AppendLabels(out, c.genes[j], name);
      AppendCells(out, c.rows[j].data(), sign, samples);
      out += '\n';
      clustered.insert(c.genes[j]);
      sink.Piece();
    }
  }
  // Genes are matched by label: a table gene whose label names a clustered
  // gene counts as clustered.
  for (size_t g = 0; g < r.genes.size(); ++g) {
    if (clustered.count(r.genes[g]) != 0) continue;
    const double* row = !r.values.empty() ? r.values[g].data() : (r.rowOf ? r.rowOf(g) : nullptr);
    AppendLabels(out, r.genes[g], r.genes[g]);
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
