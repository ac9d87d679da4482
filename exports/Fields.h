// Small pieces shared by the export writers.
#pragma once

#include <functional>
#include <string>

#include "exports/Exports.h"

namespace tarvok::exports {

// text made safe for one tab-separated field: tabs, carriage returns and
// line feeds become blanks, so a label can never split a line or a row.
inline std::string Field(const std::string& text) {
  std::string out = text;
  for (char& ch : out) {
    if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
  }
  return out;
}

// The text a writer appends to. With spill set, each piece of about 1 MiB
// is handed over as it is done and the text starts again, so that a large
// table is never held whole; without, the text is kept.
struct TextSink {
  std::string text;
  std::function<void(const std::string&)> spill;

  void Piece() {
    if (spill && text.size() >= (size_t{1} << 20)) {
      spill(text);
      text.clear();
    }
  }
  void End() {
    if (spill) spill(text);
    text.clear();
  }
};

// The writers of the formats, each appending its file to sink.
void WriteGmt(const ExportRecord& r, TextSink& sink);
void WriteSymbolGmt(const ExportRecord& r, TextSink& sink);
void WriteKgg(const ExportRecord& r, TextSink& sink);
void WriteCdt(const ExportRecord& r, TextSink& sink);
void WriteGct(const ExportRecord& r, TextSink& sink);

// The symbol of gene j of c, "" when the record has none.
inline const std::string& SymbolOf(const ExportRecord& r, const ClusterExport& c, size_t j) {
  static const std::string kNone;
  return r.symbols.empty() ? kNone : r.symbols[c.tableRows[j]];
}

// The name a gene is shown by where one name fits: its symbol, else its label.
inline const std::string& ShownName(const std::string& label, const std::string& symbol) {
  return symbol.empty() ? label : symbol;
}

// +1 when a score says the gene follows the component, -1 otherwise
// (a zero score included, as in Projection).
inline int SignOf(double score) { return score > 0.0 ? 1 : -1; }

// value * sign without a negative zero, so that "-0" never appears.
inline double Aligned(double value, int sign) {
  double aligned = sign < 0 ? -value : value;
  return aligned == 0.0 ? 0.0 : aligned;
}

}  // namespace tarvok::exports
