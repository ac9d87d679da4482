// The self-contained HTML report of an analysis.
#pragma once

#include <string>
#include <vector>

#include "present/FigureFiles.h"
#include "present/ResultFiles.h"

namespace tarvok {

// The files written beside the report, for its links.
struct ReportFiles {
  std::vector<std::string> exports;  // export file names, relative to the report
  // Figures already drawn, one list per cluster (DrawClusterFigures); empty:
  // the report draws them itself.
  std::vector<std::vector<ClusterFigure>> figures;
  bool figureFiles = false;  // figures/<stem>.<format> and .tsv were written
  FigureFormat format = FigureFormat::Svg;
};

// Writes the report page to path: a header with the table, the parameters and
// the date, the summary table, download links for the exports and, per
// cluster, four figures embedded as SVG data URIs (gap curve, real against
// permuted R^2, heatmap, component), links to the figure files and their
// data, and the cluster's genes with their scores (GeneScores).
//   r     (input) the results read back from the output directory
//   info  (input) the run's table, parameters and sample classes
//   path  (input) file to create or overwrite
//   files (input) what was written beside the report
// Written atomically; throws std::runtime_error naming the file and the
// system's reason when it cannot be written.
void WriteReport(const RunResults& r, const RunInfo& info, const std::string& path,
                 const ReportFiles& files = {});

// The page WriteReport writes.
std::string ReportHtml(const RunResults& r, const RunInfo& info, const ReportFiles& files);

// The class name of each sample for figures and legends: info.classNames,
// else info.classes as numbers, else empty.
std::vector<std::string> SampleClassNames(const RunInfo& info);

// Escapes text for HTML element content and attribute values (& < > " '),
// with U+FFFD for bytes that are not valid UTF-8.
std::string HtmlEscape(const std::string& text);

}  // namespace tarvok
