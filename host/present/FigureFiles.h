// The figures of each cluster as files beside the report, each with the
// numbers it plots as a small TSV.
#pragma once

#include <string>
#include <vector>

#include "present/Figures.h"
#include "present/ResultFiles.h"

namespace tarvok {

// One figure of a cluster, drawn, with what the report says about it.
struct ClusterFigure {
  std::string stem;     // file name without extension: "cluster1_gap"
  std::string alt;      // short description: "Cluster 1 gap curve"
  std::string caption;  // the report's caption
  Figure figure;
  std::string data;  // the plotted numbers as TSV text, with a header line
  std::string svg;   // figure encoded as SVG, once: the report embeds it, and SVG files are it
};

// Heatmap rows beyond this many genes would be thinner than a pixel or two.
inline constexpr int kHeatmapMaxRows = 200;

// Draws the four figures of c: gap curve, real and permuted R^2, heatmap
// (at most maxHeatmapRows genes), component; each encoded as SVG.
//   sampleLabels (input) one per sample; may be empty
//   classes      (input) class name of each sample; may be empty
std::vector<ClusterFigure> DrawClusterFigures(const ClusterResult& c,
                                              const std::vector<std::string>& sampleLabels,
                                              const std::vector<std::string>& classes, int maxHeatmapRows);

// The subdirectory of the output directory that holds the figure files.
inline constexpr const char* kFigureDirectory = "figures";

// Writes every figure as dir/figures/<stem>.<format> and its numbers as
// dir/figures/<stem>.tsv, each file atomically (not synced to the disk:
// they are drawn again from summary.json by "tarvok export"); creates the
// subdirectory.
// Throws std::runtime_error naming the file that cannot be written.
void WriteFigureFiles(const std::vector<ClusterFigure>& figures, const std::string& dir, FigureFormat format);

// True for the name of a file WriteFigureFiles writes
// ("cluster<n>_<figure>.<png|svg|pdf|tsv>") or of its temporary.
bool IsFigureFileName(const std::string& name);

// True when dir/figures is a directory holding only figure files (or
// nothing): one that a run wrote, not the user.
bool HoldsOnlyFigureFiles(const std::string& dir);

// Removes from dir/figures every figure and data file (IsFigureFileName),
// then the subdirectory itself when that leaves it empty, so that a new run
// never sits beside figures of clusters it did not find. Other files stay.
// Errors are ignored.
void RemoveFigureFiles(const std::string& dir);

}  // namespace tarvok
