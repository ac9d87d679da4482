// Shared by the reader fuzz targets: options from the first input byte and
// the invariants every table that reads without an error must keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/tables/Table.h"

// The readers' names, in these fuzz targets only.
using namespace tarvok;

// Reading options from the bits of one byte.
inline ReadOptions FuzzReadOptions(std::uint8_t bits, TableFormat format) {
  static const MissingCells kPolicies[] = {MissingCells::Error, MissingCells::Drop, MissingCells::RowMean,
                                            MissingCells::Keep};
  static const Choice kChoices[] = {Choice::Auto, Choice::Yes, Choice::No, Choice::Auto};
  ReadOptions options;
  options.format = format;
  options.missing = kPolicies[bits & 3];
  options.header = kChoices[(bits >> 2) & 3];
  options.rowNames = kChoices[(bits >> 4) & 3];
  options.decimalComma = (bits & 64) != 0;
  return options;
}

// Parses text; a TableError is a fine answer, anything else a fault, and so
// is a table whose parts disagree.
inline void ParseAndCheck(const std::string& text, const char* name, const ReadOptions& options) {
  Table table;
  try {
    table = ParseTable(text, name, options);
    CheckVariance(table);
  } catch (const TableError&) {
    return;
  }
  const std::size_t genes = static_cast<std::size_t>(table.genes),
                    samples = static_cast<std::size_t>(table.samples);
  if (genes < 2 || samples < 2 || table.values.size() != genes * samples) std::abort();
  if (!table.geneLabels.empty() && table.geneLabels.size() != genes) std::abort();
  if (!table.sampleLabels.empty() && table.sampleLabels.size() != samples) std::abort();
  if (!table.sampleClasses.empty() && table.sampleClasses.size() != samples) std::abort();
  if (!table.geneSymbols.empty() && table.geneSymbols.size() != genes) std::abort();
  for (const std::string& label : table.geneLabels) {
    if (label.empty()) std::abort();
  }
}
