// The export record of an analysis run in memory, for the faces that link
// the core (the command-line program, the Python and R packages): the
// analysis's own scores and the full-precision centred rows, where the
// result files hold neither.
#pragma once

#include <string>
#include <vector>

#include "core/Analysis.h"
#include "exports/Exports.h"

namespace tarvok::exports {

// The names a record gives the analysed matrix's rows and columns.
struct RecordNames {
  std::vector<std::string> genes;    // one label per gene: the rows' keys
  std::vector<std::string> samples;  // one label per sample
  std::vector<std::string> classes;  // class name of each sample, or empty
  std::vector<std::string> symbols;  // one symbol per gene ("" for none), or empty
};

// The record of result, which analysis computed, each cluster oriented
// (tarvok::Oriented) as every presentation shows it.
//   analysis   (input) the analysis that ran; gives the centred rows
//   result     (input) what its Run returned
//   names      (input) labels, classes and symbols (each made tarvok::CleanSymbol)
//   borrowRows (input) true: the record reads every gene's centred row
//              from analysis (ExportRecord::rowOf), which must then
//              outlive it; false: it keeps copies
// Throws std::invalid_argument when the name counts do not fit the data.
ExportRecord RecordOfAnalysis(const Analysis& analysis, const AnalysisResult& result, const RecordNames& names,
                              bool borrowRows = false);

// The CDT cells of every gene of analysis (its centred rows), for
// ExportRecord::cdtCells.
CdtCells CdtCellsOf(const Analysis& analysis);

}  // namespace tarvok::exports
