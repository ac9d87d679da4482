// clusters.kgg: the gene-to-group file of Cluster 3.0 and Java TreeView.
// Header "UNIQID\tGROUP" (the CDT's first column name), then one
// "gene\tcluster" line per clustered gene, cluster by cluster in cluster
// order, the row order of the CDT. A gene in two clusters has two lines.
#include "exports/Exports.h"
#include "exports/Fields.h"

namespace tarvok::exports {

void WriteKgg(const ExportRecord& r, TextSink& sink) {
  sink.text += "UNIQID\tGROUP\n";
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    for (const std::string& gene : r.clusters[i].genes) {
      sink.text += Field(gene) + "\t" + std::to_string(i + 1) + "\n";
    }
    sink.Piece();
  }
}

std::string KggText(const ExportRecord& r) {
  TextSink sink;
  WriteKgg(r, sink);
  return sink.text;
}

}  // namespace tarvok::exports
