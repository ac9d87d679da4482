// The report's figures, drawn once with cairo and encoded as PNG, SVG or PDF.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

#include "present/ResultFiles.h"

namespace tarvok {

enum class FigureFormat { Png, Svg, Pdf };

// "png", "svg" or "pdf": the file extension of a format.
const char* FigureExtension(FigureFormat format);

struct Figure {
  int width = 0, height = 0;  // pixels (PNG) or points (SVG, PDF)
  std::string note;  // what was left out (capped rows), empty otherwise
  std::function<void(cairo_t*)> paint;  // draws the figure on a white page

  // The figure encoded in format: paint run on an image (PNG) or a vector
  // surface (SVG, PDF). Throws std::runtime_error when
  // cairo fails.
  std::string Encode(FigureFormat format) const;
};

// Gap against cluster size (logarithmic size axis), the chosen size marked.
Figure DrawGapCurve(const ClusterResult& c);

// R^2 of the real data and mean R^2 of the permuted copies against cluster
// size, the chosen size marked.
Figure DrawVarianceCurves(const ClusterResult& c);

// The cluster's genes over the samples: rows in cluster order, each gene
// multiplied by its sign (GeneSigns) so that all follow the component, on a
// diverging colour scale with a legend. At most maxRows genes are drawn.
//   sampleLabels (input) one per sample, drawn when few enough; may be empty
//   classes      (input) class name of each sample, shown as a strip; may be empty
Figure DrawHeatmap(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                   const std::vector<std::string>& classes, int maxRows);

// The component over the samples as bars, coloured by class with a legend
// of the class names when classes (one per sample) is not empty.
Figure DrawComponent(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                     const std::vector<std::string>& classes);

// Loads the fonts the figures draw with (fontconfig's setup takes tens of
// milliseconds), so that the first figure does not wait for them. May run
// on any thread while no figure is being drawn; never throws.
void WarmUpFigures();

// True when the figures draw every character of text with a real glyph, in
// the default face or the CJK face, rather than as a box.
bool FiguresCanDraw(const std::string& text);

// text cut to at most maxChars characters ("..." marks a cut), with every
// byte that is not part of valid UTF-8 replaced by '?': cairo refuses
// invalid text and labels come from the user's table.
std::string DrawableText(const std::string& text, size_t maxChars);

}  // namespace tarvok
