// The report's figures, drawn with cairo and encoded as PNG.
#pragma once

#include <string>
#include <vector>

#include "ResultFiles.h"

struct Figure {
  int width = 0, height = 0;  // pixels
  std::string png;  // the encoded image
  std::string note;  // what was left out (capped rows), empty otherwise
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
//   classes      (input) class of each sample, shown as a strip; may be empty
Figure DrawHeatmap(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                   const std::vector<int>& classes, int maxRows);

// The component over the samples as bars, coloured by class with a legend
// when classes (one per sample) is not empty.
Figure DrawComponent(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                     const std::vector<int>& classes);

// True when the figures draw every character of text with a real glyph, in
// the default face or the CJK face, rather than as a box.
bool FiguresCanDraw(const std::string& text);

// text cut to at most maxChars characters ("..." marks a cut), with every
// byte that is not part of valid UTF-8 replaced by '?': cairo refuses
// invalid text and labels come from the user's table.
std::string DrawableText(const std::string& text, size_t maxChars);
