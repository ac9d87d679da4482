// What tarvok writes beside the result files: the exports (through the
// shared export library), the figure files and the report. Used by
// "tarvok run" after the analysis and by "tarvok export" on a finished run.
#pragma once

#include <string>
#include <vector>

#include "exports/Exports.h"
#include "present/Figures.h"
#include "present/RunRecord.h"

namespace tarvok {

struct PresentationOptions {
  bool exports = true;  // clusters.gmt, clusters.kgg, TABLE-NAME.cdt, clusters.gct (clusters.symbols.gmt)
  FigureFormat figures = FigureFormat::Svg;  // format of the figure files
};

// The export record of r, for a run read back from its files ("tarvok run"
// builds its own from the analysis, as the packages do). Scores are
// GeneScores. Each clustered gene's table row is its ClusterResult::geneRows
// entry; a run whose files do not give them (from before they were kept)
// is matched by label, which only serves when no label is repeated.
//   genes, values (input) every gene label of the table and, optionally,
//                 its centred row (empty: unknown); see ExportRecord
//   symbols       (input) every gene's symbol, or empty
//   classNames    (input) class name of each sample, or empty
// Throws std::runtime_error when a gene's row cannot be told.
tarvok::exports::ExportRecord MakeExportRecord(const RunResults& r, const std::vector<std::string>& genes,
                                               const std::vector<std::vector<double>>& values,
                                               const std::vector<std::string>& symbols,
                                               const std::vector<std::string>& classNames);

// The gene labels of the run in outDir (RowLbls.txt, one per line).
// Throws std::runtime_error when the file cannot be read.
std::vector<std::string> ReadGeneLabels(const std::string& outDir);

// The gene symbols of the run in outDir (RowSymbols.txt), or none when the
// run's table had none. Throws std::runtime_error when the file exists but
// cannot be read or holds another count than genes.
std::vector<std::string> ReadGeneSymbols(const std::string& outDir, size_t genes);

// Writes the exports of record (when asked and r holds clusters; on a
// thread of their own while the figures are drawn), the figure files and
// report.html into outDir. Every file is written atomically, and the four
// exports all or none. Returns the report's path. Throws std::runtime_error (or
// std::invalid_argument for a record whose parts disagree).
std::string WritePresentation(const RunResults& r, const RunInfo& info, const std::string& outDir,
                              const PresentationOptions& options, const tarvok::exports::ExportRecord& record);

}  // namespace tarvok
