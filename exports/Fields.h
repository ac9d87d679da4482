// Small pieces shared by the export writers.
#pragma once

#include <string>

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

// +1 when a score says the gene follows the component, -1 otherwise
// (a zero score included, as in Projection).
inline int SignOf(double score) { return score > 0.0 ? 1 : -1; }

// value * sign without a negative zero, so that "-0" never appears.
inline double Aligned(double value, int sign) {
  double aligned = sign < 0 ? -value : value;
  return aligned == 0.0 ? 0.0 : aligned;
}

}  // namespace tarvok::exports
