// clusters.gmt: the GSEA gene-set format. One line per set, no header:
// name, description, then the genes, all tab-separated. Per cluster i the
// set "clusteri" (every gene, cluster order, a label repeated in the
// cluster kept once), then "clusteri_up" and "clusteri_down": the genes
// whose score is positive, and the others. A cluster is presented with the
// sign that gives most of its genes a positive score, so "up" genes follow
// the cluster's pattern (its component) and "down" genes mirror it.
// Enrichment wants sign-aligned sets, since a cluster's genes may do
// either. A side with no genes is left out: a gene set with no genes is
// not one.
//
// clusters.symbols.gmt holds the same sets by gene symbol, for enrichment
// tools that know genes by symbol: each symbol once per set, genes without
// a symbol or with a placeholder ("--Control") left out. It is written only
// for a table with symbols.
#include <set>

#include "exports/Exports.h"
#include "exports/Fields.h"

namespace tarvok::exports {

namespace {

// The name a set lists gene j of c by: its label, or its symbol ("" to
// leave the gene out).
using SetName = std::string (*)(const ExportRecord& r, const ClusterExport& c, size_t j);

std::string LabelName(const ExportRecord&, const ClusterExport& c, size_t j) { return Field(c.genes[j]); }

std::string SymbolName(const ExportRecord& r, const ClusterExport& c, size_t j) {
  const std::string& symbol = SymbolOf(r, c, j);
  return IsPlaceholderSymbol(symbol) ? std::string() : Field(symbol);
}

// Appends the set's line: genes of c whose sign is wanted (0: every gene),
// by nameOf, duplicates dropped. Writes nothing when no gene qualifies. A
// symbol set's description says how many symbols it holds.
void AppendSet(std::string& out, const std::string& name, const std::string& description,
               const ExportRecord& r, const ClusterExport& c, int wanted, SetName nameOf) {
  std::string genes;
  std::set<std::string> seen;
  size_t count = 0;
  for (size_t j = 0; j < c.genes.size(); ++j) {
    if (wanted != 0 && SignOf(c.scores[j]) != wanted) continue;
    std::string gene = nameOf(r, c, j);
    if (!gene.empty() && seen.insert(gene).second) {
      genes += "\t" + gene;
      ++count;
    }
  }
  if (genes.empty()) return;
  if (nameOf == &SymbolName) {
    out += name + "\t" + description + ", " + std::to_string(count) + " distinct symbols" + genes + "\n";
  } else {
    out += name + "\t" + description + genes + "\n";
  }
}

// The three sets of every cluster of r, genes named by nameOf.
void WriteSets(const ExportRecord& r, TextSink& sink, SetName nameOf) {
  std::string& out = sink.text;
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterExport& c = r.clusters[i];
    const std::string name = "cluster" + std::to_string(i + 1);
    int up = 0;
    for (double score : c.scores) up += SignOf(score) > 0;
    const int down = static_cast<int>(c.genes.size()) - up;
    const std::string figures = "eigenvalue " + ExactNumber(c.eigenvalue) + ", R2 " + ExactNumber(c.r2) +
                                "%, gap " + ExactNumber(c.gap);
    const std::string size = std::to_string(c.genes.size());
    AppendSet(out, name, "gene shaving cluster " + std::to_string(i + 1) + ": " + size + " genes, " + figures,
              r, c, 0, nameOf);
    AppendSet(out, name + "_up",
              std::to_string(up) + " of " + size + " genes following the cluster's pattern, " + figures, r, c, 1,
              nameOf);
    AppendSet(out, name + "_down",
              std::to_string(down) + " of " + size + " genes mirroring the cluster's pattern, " + figures, r, c,
              -1, nameOf);
    sink.Piece();
  }
}

}  // namespace

void WriteGmt(const ExportRecord& r, TextSink& sink) { WriteSets(r, sink, &LabelName); }

void WriteSymbolGmt(const ExportRecord& r, TextSink& sink) { WriteSets(r, sink, &SymbolName); }

std::string GmtText(const ExportRecord& r) {
  TextSink sink;
  WriteGmt(r, sink);
  return sink.text;
}

std::string SymbolGmtText(const ExportRecord& r) {
  TextSink sink;
  WriteSymbolGmt(r, sink);
  return sink.text;
}

}  // namespace tarvok::exports
