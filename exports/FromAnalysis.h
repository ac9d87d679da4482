// The export record of an analysis run in memory, for the faces that link
// the core (the Python and R packages): the analysis's own scores and the
// full-precision centred rows, where the result files hold neither.
#pragma once

#include <string>
#include <vector>

#include "core/Analysis.h"
#include "exports/Exports.h"

namespace tarvok::exports {

// The record of result, which analysis computed.
//   analysis     (input) the analysis that ran; gives the centred rows
//   result       (input) what its Run returned
//   geneLabels   (input) one label per gene of the analysed matrix
//   sampleLabels (input) one label per sample
//   classNames   (input) class name of each sample, or empty
//   borrowRows   (input) true: the record reads every gene's centred row
//                from analysis (ExportRecord::rowOf), which must then
//                outlive it; false: it keeps copies
// Throws std::invalid_argument when the label counts do not fit the data.
ExportRecord RecordOfAnalysis(const Analysis& analysis, const AnalysisResult& result,
                              const std::vector<std::string>& geneLabels,
                              const std::vector<std::string>& sampleLabels,
                              const std::vector<std::string>& classNames, bool borrowRows = false);

// The CDT cells of every gene of analysis (its centred rows), for
// ExportRecord::cdtCells.
CdtCells CdtCellsOf(const Analysis& analysis);

}  // namespace tarvok::exports
