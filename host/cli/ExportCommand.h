// "tarvok export OUTDIR": the exports, figure files and report of a
// finished run, built again from its result files.
#pragma once

#include <string>

#include "present/Figures.h"

namespace tarvok {

struct ExportOptions {
  std::string outDir;   // the run's output directory
  std::string classes;  // class file naming each sample's class; may be empty
  FigureFormat figures = FigureFormat::Svg;
};

// Reads the run in options.outDir (how many clusters: the lines of
// clusterlengths.txt; the table's gene labels: RowLbls.txt; the centred
// rows of unclustered genes: origmatrix.txt when the run kept it; the
// parameters: summary.json when present; the classes: options.classes, else
// the classes.txt of a supervised run) and writes the exports, the figure
// files and report.html into it. A directory that is not a run, a run with
// no cluster and missing or damaged files get a message on standard error
// and exit status 2 before any file is written. Returns the exit status.
int ExportCommand(const ExportOptions& options);

}  // namespace tarvok
