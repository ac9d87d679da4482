// clusters.gmt: the GSEA gene-set format. One line per set, no header:
// name, description, then the genes, all tab-separated. Per cluster i the
// set "clusteri" (every gene, cluster order, a label repeated in the
// cluster kept once), then "clusteri_up" and "clusteri_down": the genes
// whose score is positive, and the others. Enrichment wants sign-aligned
// sets, since a cluster's genes may follow or mirror its component. A side
// with no genes is left out: a gene set with no genes is not one.
#include <set>

#include "exports/Exports.h"
#include "exports/Fields.h"

namespace tarvok::exports {

namespace {

// Appends the set's line: genes of c whose sign is wanted (0: every gene),
// duplicates dropped. Writes nothing when no gene qualifies.
void AppendSet(std::string& out, const std::string& name, const std::string& description,
               const ClusterExport& c, int wanted) {
  std::string genes;
  std::set<std::string> seen;
  for (size_t j = 0; j < c.genes.size(); ++j) {
    if (wanted != 0 && SignOf(c.scores[j]) != wanted) continue;
    std::string gene = Field(c.genes[j]);
    if (seen.insert(gene).second) genes += "\t" + gene;
  }
  if (!genes.empty()) out += name + "\t" + description + genes + "\n";
}

}  // namespace

void WriteGmt(const ExportRecord& r, TextSink& sink) {
  std::string& out = sink.text;
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterExport& c = r.clusters[i];
    const std::string name = "cluster" + std::to_string(i + 1);
    int up = 0;
    for (double score : c.scores) up += SignOf(score) > 0;
    const std::string figures = "eigenvalue " + ExactNumber(c.eigenvalue) + ", R2 " + ExactNumber(c.r2) +
                                "%, gap " + ExactNumber(c.gap);
    const std::string size = std::to_string(c.genes.size());
    AppendSet(out, name, "gene shaving cluster " + std::to_string(i + 1) + ": " + size + " genes, " + figures,
              c, 0);
    AppendSet(out, name + "_up",
              std::to_string(up) + " of " + size + " genes following the component, " + figures, c, 1);
    AppendSet(
        out, name + "_down",
        std::to_string(c.genes.size() - up) + " of " + size + " genes mirroring the component, " + figures, c,
        -1);
    sink.Piece();
  }
}

std::string GmtText(const ExportRecord& r) {
  TextSink sink;
  WriteGmt(r, sink);
  return sink.text;
}

}  // namespace tarvok::exports
