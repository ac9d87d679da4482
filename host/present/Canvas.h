// The drawing kit of the report's figures: colours, text in the right face,
// axes, lines, dots and legends on a cairo context. Figures.cpp draws the
// figures with it.
#pragma once

#include <cairo.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "present/Figures.h"

namespace tarvok {

namespace canvas {

struct Rgb {
  double r, g, b;
};

// A plot area and its data ranges; the y range is widened to whole ticks.
struct Axes {
  double left, top, width, height;
  double x0, x1, y0, y1, yStep;
  bool logX;

  double X(double v) const {
    double t = logX ? (std::log(v) - std::log(x0)) / (std::log(x1) - std::log(x0))
                    : (v - x0) / (x1 - x0);
    return left + t * width;
  }
  double Y(double v) const { return top + height - (v - y0) / (y1 - y0) * height; }
};

inline const Rgb kInk{0.15, 0.15, 0.15};
inline const Rgb kGrid{0.88, 0.88, 0.88};
inline const Rgb kBlue{0.13, 0.40, 0.67};
inline const Rgb kRed{0.70, 0.09, 0.17};
inline const Rgb kPermuted{0.55, 0.55, 0.55};
inline const Rgb kPalette[] = {{0.12, 0.47, 0.71}, {1.00, 0.50, 0.05}, {0.17, 0.63, 0.17},
                               {0.84, 0.15, 0.16}, {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29},
                               {0.89, 0.47, 0.76}, {0.50, 0.50, 0.50}};
inline constexpr int kPaletteSize = sizeof kPalette / sizeof kPalette[0];
inline constexpr double kPi = 3.14159265358979323846;
// Beyond these, per-sample labels would overlap and are left out.
inline constexpr int kMaxLabelledSamples = 80;
inline constexpr int kMaxLabelledGenes = 70;
inline constexpr size_t kLabelChars = 18;
// The face for text the default face has no glyphs for (fonts-noto-cjk).
inline constexpr const char* kCjkFamily = "Noto Sans CJK SC";
inline constexpr size_t kMaxLegendClasses = 11;

// A 1 x 1 image with a drawing context set up as Figure::Encode sets up its
// own: for measuring text before a figure's size is known.
class ScratchContext {
 public:
  ScratchContext();
  ~ScratchContext();
  ScratchContext(const ScratchContext&) = delete;
  ScratchContext& operator=(const ScratchContext&) = delete;
  cairo_t* cr() const { return cr_; }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

// cairo's write callback: appends the bytes to the std::string closure.
cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length);
// Throws std::runtime_error "drawing a figure failed: ..." unless status is success.
void CheckCairo(cairo_status_t status);
// True when the context's face has a glyph for every character of text.
bool FaceCovers(cairo_t* cr, const std::string& text);
// Text the default face cannot draw in the CJK face; the caller saves and
// restores the context.
void SelectFaceFor(cairo_t* cr, const std::string& text);
// Width of text as Text draws it.
double TextWidth(cairo_t* cr, const std::string& text);

void SetColour(cairo_t* cr, Rgb c);

// A figure whose drawing runs on whatever surface Encode gives it. The
// drawing is kept as code, not as a cairo recording: cairo 1.16 leaves a font
// reference behind when a recording is replayed onto an SVG surface.
Figure MakeFigure(int width, int height, std::function<void(cairo_t*)> paint);

// Text anchored at (x, y): xAlign 0 left, 0.5 centre, 1 right; vertically
// centred on y.
void Text(cairo_t* cr, double x, double y, const std::string& text, double xAlign);

// Room below a plot for the sample labels written upwards in 9-pixel type:
// the longest label as drawn, so that short labels leave no blank band.
double SampleLabelDepth(const std::vector<std::string>& labels);

// Text turned a quarter to the left, its end at (x, y) when xAlign is 1.
void UpwardText(cairo_t* cr, double x, double y, const std::string& text, double xAlign);

void Title(cairo_t* cr, double x, double y, const std::string& text);

std::string TickLabel(double value);

// 1, 2 or 5 times a power of ten, near range/5.
double NiceStep(double range);

// The axes of frame (plot area, data ranges, log x): a log range widened
// by 15 % each way, an empty range opened up, the y range widened to whole
// ticks of yStep.
Axes MakeAxes(Axes frame);

// Grid, frame, ticks and axis titles.
void DrawAxes(cairo_t* cr, const Axes& a, const std::string& xTitle, const std::string& yTitle);

void Polyline(cairo_t* cr, const Axes& a, const std::vector<int>& xs,
              const std::vector<double>& ys, Rgb colour, bool dashed);

void Dots(cairo_t* cr, const Axes& a, const std::vector<int>& xs, const std::vector<double>& ys,
          Rgb colour, double radius);

// Dashed vertical line at the chosen size, with its size written beside it.
void MarkChosen(cairo_t* cr, const Axes& a, const ClusterResult& c, double y);

void LegendEntry(cairo_t* cr, double x, double y, Rgb colour, const std::string& label);

std::pair<double, double> Extent(std::initializer_list<const std::vector<double>*> series);

Rgb Mix(Rgb from, Rgb to, double t);

// Blue below zero, white at zero, red above, saturated at +-scale.
Rgb Diverging(double value, double scale);

// Class index (first-occurrence order) of every sample; empty when classes
// do not match the samples.
std::vector<int> ClassSlots(const std::vector<std::string>& classes, size_t samples,
                            std::vector<std::string>* distinct);

// The legend text of a class: "class 2" for a number, else the name.
std::string ClassLegend(const std::string& name);

}  // namespace canvas

}  // namespace tarvok
