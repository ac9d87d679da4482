// clusters.gct: GCT 1.3, the table format of Morpheus, with metadata.
//
//   #1.3
//   rows  columns  3  classLines
//   id    cluster  score  sign  sample1 ... sampleN
//   class na       na     na    ALL     ...            (only with classes)
//   gene  1        0.731  +1    values
//
// When the record has symbols, a Description column after id holds each
// gene's symbol (4 metadata columns); id is always the gene's label, its
// key. A gene in two clusters has a row in each.
// One row per clustered gene, cluster by cluster in cluster order, with
// the gene's centred values as the analysis saw them (not negated: the
// sign column says which rows mirror the component). Numbers read back as
// the same doubles (ExactNumber).
#include "exports/Exports.h"
#include "exports/Fields.h"

namespace tarvok::exports {

void WriteGct(const ExportRecord& r, TextSink& sink) {
  size_t rows = 0;
  for (const ClusterExport& c : r.clusters) rows += c.genes.size();
  const bool classes = !r.classes.empty(), symbols = !r.symbols.empty();
  std::string& out = sink.text;
  out += "#1.3\n" + std::to_string(rows) + "\t" + std::to_string(r.samples.size()) + (symbols ? "\t4\t" : "\t3\t") +
         (classes ? "1" : "0") + (symbols ? "\nid\tDescription" : "\nid") + "\tcluster\tscore\tsign";
  for (const std::string& sample : r.samples) out += "\t" + Field(sample);
  out += "\n";
  if (classes) {
    out += symbols ? "class\tna\tna\tna\tna" : "class\tna\tna\tna";
    for (const std::string& name : r.classes) out += "\t" + Field(name);
    out += "\n";
  }
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterExport& c = r.clusters[i];
    for (size_t j = 0; j < c.genes.size(); ++j) {
      out += Field(c.genes[j]);
      if (symbols) out += "\t" + Field(SymbolOf(r, c, j));
      out += "\t" + std::to_string(i + 1) + "\t" + ExactNumber(c.scores[j]) +
             (SignOf(c.scores[j]) > 0 ? "\t+1" : "\t-1");
      for (double value : c.rows[j]) {
        out += '\t';
        AppendExactNumber(out, value);
      }
      out += '\n';
      sink.Piece();
    }
  }
}

std::string GctText(const ExportRecord& r) {
  TextSink sink;
  WriteGct(r, sink);
  return sink.text;
}

}  // namespace tarvok::exports
