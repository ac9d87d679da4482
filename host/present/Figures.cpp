#include "present/Figures.h"

#include "base/Numbers.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <dlfcn.h>

#include <algorithm>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "present/Utf8.h"

namespace {

struct Rgb {
  double r, g, b;
};
const Rgb kInk{0.15, 0.15, 0.15};
const Rgb kGrid{0.88, 0.88, 0.88};
const Rgb kBlue{0.13, 0.40, 0.67};
const Rgb kRed{0.70, 0.09, 0.17};
const Rgb kPermuted{0.55, 0.55, 0.55};
const Rgb kPalette[] = {{0.12, 0.47, 0.71}, {1.00, 0.50, 0.05}, {0.17, 0.63, 0.17},
                        {0.84, 0.15, 0.16}, {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29},
                        {0.89, 0.47, 0.76}, {0.50, 0.50, 0.50}};
constexpr int kPaletteSize = sizeof kPalette / sizeof kPalette[0];
constexpr double kPi = 3.14159265358979323846;
// Beyond these, per-sample labels would overlap and are left out.
constexpr int kMaxLabelledSamples = 80;
constexpr int kMaxLabelledGenes = 70;
constexpr size_t kLabelChars = 18;
// The face for text the default face has no glyphs for (fonts-noto-cjk).
constexpr const char* kCjkFamily = "Noto Sans CJK SC";
constexpr size_t kMaxLegendClasses = 11;

void SetColour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

void CheckCairo(cairo_status_t status) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error(std::string("drawing a figure failed: ") +
                             cairo_status_to_string(status));
  }
}

// Frees cairo's and fontconfig's process-wide font caches at exit, so that
// leak checkers see a clean process. Safe then: surfaces and contexts live
// only inside Figure::Encode, so no cairo object is alive. fontconfig is
// cairo's own dependency, not linked by us, hence the lookup.
void ReleaseFontCaches() {
  cairo_debug_reset_static_data();
  if (void* fini = dlsym(RTLD_DEFAULT, "FcFini")) reinterpret_cast<void (*)()>(fini)();
}

// Registers ReleaseFontCaches once, before the first use of cairo's fonts.
void ReleaseFontCachesAtExit() {
  static const bool atExit = std::atexit(ReleaseFontCaches) == 0;
  (void)atExit;
}

// A 1 x 1 image with a drawing context set up as Figure::Encode sets up its
// own: for measuring text before a figure's size is known.
class ScratchContext {
 public:
  ScratchContext() {
    ReleaseFontCachesAtExit();
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cr_ = cairo_create(surface_);
    cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, 11);
  }
  ~ScratchContext() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  ScratchContext(const ScratchContext&) = delete;
  ScratchContext& operator=(const ScratchContext&) = delete;
  cairo_t* cr() const { return cr_; }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

// A figure whose drawing runs on whatever surface Encode gives it. The
// drawing is kept as code, not as a cairo recording: cairo 1.16 leaves a font
// reference behind when a recording is replayed onto an SVG surface.
Figure MakeFigure(int width, int height, std::function<void(cairo_t*)> paint) {
  ReleaseFontCachesAtExit();
  Figure figure;
  figure.width = width;
  figure.height = height;
  figure.paint = std::move(paint);
  return figure;
}

// True when the context's face has a glyph for every character of text.
bool FaceCovers(cairo_t* cr, const std::string& text) {
  cairo_glyph_t* glyphs = nullptr;
  int count = 0;
  if (cairo_scaled_font_text_to_glyphs(cairo_get_scaled_font(cr), 0, 0, text.c_str(),
                                       static_cast<int>(text.size()), &glyphs, &count, nullptr, nullptr,
                                       nullptr) != CAIRO_STATUS_SUCCESS) {
    return false;
  }
  bool covered = true;
  for (int k = 0; k < count; ++k) covered = covered && glyphs[k].index != 0;
  cairo_glyph_free(glyphs);
  return covered;
}

// cairo's text calls draw a whole string in one face and fall back to no
// other, so a label in Chinese, Japanese or Korean would show as boxes in the
// default face. Such text is drawn in the CJK face (fonts-noto-cjk), which
// also holds Latin letters; the caller saves and restores the context.
void SelectFaceFor(cairo_t* cr, const std::string& text) {
  if (FaceCovers(cr, text)) return;
  cairo_select_font_face(cr, kCjkFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
}

// Width of text as Text draws it.
double TextWidth(cairo_t* cr, const std::string& text) {
  cairo_save(cr);
  SelectFaceFor(cr, text);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_restore(cr);
  return extents.x_advance;
}

// Text anchored at (x, y): xAlign 0 left, 0.5 centre, 1 right; vertically
// centred on y.
void Text(cairo_t* cr, double x, double y, const std::string& text, double xAlign) {
  cairo_save(cr);
  SelectFaceFor(cr, text);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_move_to(cr, x - xAlign * extents.x_advance, y + 0.35 * 11);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

// Room below a plot for the sample labels written upwards in 9-pixel type:
// the longest label as drawn, so that short labels leave no blank band.
double SampleLabelDepth(const std::vector<std::string>& labels) {
  ScratchContext measure;
  cairo_set_font_size(measure.cr(), 9);
  double longest = 0.0;
  for (const std::string& label : labels) {
    longest = std::max(longest, TextWidth(measure.cr(), DrawableText(label, kLabelChars)));
  }
  return std::ceil(longest) + 12;
}

// Text turned a quarter to the left, its end at (x, y) when xAlign is 1.
void UpwardText(cairo_t* cr, double x, double y, const std::string& text, double xAlign) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -kPi / 2);
  Text(cr, 0, 0, text, xAlign);
  cairo_restore(cr);
}

void Title(cairo_t* cr, double x, double y, const std::string& text) {
  cairo_save(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 13);
  SetColour(cr, kInk);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

std::string TickLabel(double value) { return tarvok::General(std::fabs(value) < 1e-12 ? 0.0 : value, 6); }

// 1, 2 or 5 times a power of ten, near range/5.
double NiceStep(double range) {
  double raw = range / 5.0;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  double f = raw / power;
  return (f < 1.5 ? 1.0 : f < 3.0 ? 2.0 : f < 7.0 ? 5.0 : 10.0) * power;
}

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

Axes MakeAxes(double left, double top, double width, double height, double x0, double x1,
              double y0, double y1, bool logX) {
  if (logX) {
    x0 = std::max(1.0, x0) / 1.15;
    x1 = std::max(x1 * 1.15, x0 * 2.0);
  } else if (x1 <= x0) {
    x0 -= 0.5, x1 += 0.5;
  }
  if (y1 <= y0) {
    double pad = std::max(1.0, std::fabs(y0) * 0.1);
    y0 -= pad, y1 += pad;
  }
  double step = NiceStep(y1 - y0);
  y0 = std::floor(y0 / step) * step;
  y1 = std::ceil(y1 / step) * step;
  return {left, top, width, height, x0, x1, y0, y1, step, logX};
}

// Grid, frame, ticks and axis titles.
void DrawAxes(cairo_t* cr, const Axes& a, const std::string& xTitle, const std::string& yTitle) {
  std::vector<double> xTicks;
  if (a.logX) {
    for (double decade = 1; decade <= a.x1; decade *= 10) {
      for (double m : {1.0, 2.0, 5.0}) {
        if (m * decade >= a.x0 && m * decade <= a.x1) xTicks.push_back(m * decade);
      }
    }
  } else {
    double step = NiceStep(a.x1 - a.x0);
    for (double v = std::ceil(a.x0 / step) * step; v <= a.x1 + 1e-9 * step; v += step) {
      xTicks.push_back(v);
    }
  }
  std::vector<double> yTicks;
  int yCount = static_cast<int>(std::lround((a.y1 - a.y0) / a.yStep));
  for (int k = 0; k <= yCount; ++k) yTicks.push_back(a.y0 + k * a.yStep);

  SetColour(cr, kGrid);
  for (double v : xTicks) {
    cairo_move_to(cr, std::round(a.X(v)) + 0.5, a.top);
    cairo_line_to(cr, std::round(a.X(v)) + 0.5, a.top + a.height);
  }
  for (double v : yTicks) {
    cairo_move_to(cr, a.left, std::round(a.Y(v)) + 0.5);
    cairo_line_to(cr, a.left + a.width, std::round(a.Y(v)) + 0.5);
  }
  cairo_stroke(cr);

  SetColour(cr, kInk);
  cairo_rectangle(cr, a.left + 0.5, a.top + 0.5, a.width, a.height);
  cairo_stroke(cr);
  for (double v : xTicks) Text(cr, a.X(v), a.top + a.height + 12, TickLabel(v), 0.5);
  for (double v : yTicks) Text(cr, a.left - 6, a.Y(v), TickLabel(v), 1.0);
  Text(cr, a.left + a.width / 2, a.top + a.height + 32, xTitle, 0.5);
  UpwardText(cr, a.left - 48, a.top + a.height / 2, yTitle, 0.5);
}

void Polyline(cairo_t* cr, const Axes& a, const std::vector<int>& xs,
              const std::vector<double>& ys, Rgb colour, bool dashed) {
  cairo_save(cr);
  SetColour(cr, colour);
  cairo_set_line_width(cr, 1.6);
  if (dashed) {
    const double dash[] = {5.0, 3.0};
    cairo_set_dash(cr, dash, 2, 0);
  }
  for (size_t k = 0; k < xs.size(); ++k) {
    if (k == 0) {
      cairo_move_to(cr, a.X(xs[k]), a.Y(ys[k]));
    } else {
      cairo_line_to(cr, a.X(xs[k]), a.Y(ys[k]));
    }
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

void Dots(cairo_t* cr, const Axes& a, const std::vector<int>& xs, const std::vector<double>& ys,
          Rgb colour, double radius) {
  SetColour(cr, colour);
  for (size_t k = 0; k < xs.size(); ++k) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, a.X(xs[k]), a.Y(ys[k]), radius, 0, 2 * kPi);
  }
  cairo_fill(cr);
}

// Dashed vertical line at the chosen size, with its size written beside it.
void MarkChosen(cairo_t* cr, const Axes& a, const ClusterResult& c, double y) {
  cairo_save(cr);
  SetColour(cr, kRed);
  const double dash[] = {4.0, 3.0};
  cairo_set_dash(cr, dash, 2, 0);
  double x = a.X(c.size);
  cairo_move_to(cr, x, a.top);
  cairo_line_to(cr, x, a.top + a.height);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_arc(cr, x, a.Y(y), 5, 0, 2 * kPi);
  cairo_fill(cr);
  std::string label = "chosen: " + std::to_string(c.size) + (c.size == 1 ? " gene" : " genes");
  bool rightHalf = x > a.left + a.width / 2;
  Text(cr, rightHalf ? x - 6 : x + 6, a.top + 12, label, rightHalf ? 1.0 : 0.0);
  cairo_restore(cr);
}

void LegendEntry(cairo_t* cr, double x, double y, Rgb colour, const std::string& label) {
  SetColour(cr, colour);
  cairo_rectangle(cr, x, y - 5, 10, 10);
  cairo_fill(cr);
  SetColour(cr, kInk);
  Text(cr, x + 15, y, label, 0.0);
}

std::pair<double, double> Extent(std::initializer_list<const std::vector<double>*> series) {
  double lo = 0.0, hi = 0.0;
  bool first = true;
  for (const std::vector<double>* s : series) {
    for (double v : *s) {
      lo = first ? v : std::min(lo, v);
      hi = first ? v : std::max(hi, v);
      first = false;
    }
  }
  return {lo, hi};
}

constexpr int kCurveWidth = 560, kCurveHeight = 340;
constexpr double kLeft = 70, kTop = 36, kRight = 20, kBottom = 50;

Rgb Mix(Rgb from, Rgb to, double t) {
  return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t,
          from.b + (to.b - from.b) * t};
}

// Blue below zero, white at zero, red above, saturated at +-scale.
Rgb Diverging(double value, double scale) {
  double t = std::max(-1.0, std::min(1.0, value / scale));
  return t >= 0 ? Mix({1, 1, 1}, kRed, t) : Mix({1, 1, 1}, kBlue, -t);
}

// Class index (first-occurrence order) of every sample; empty when classes
// do not match the samples.
std::vector<int> ClassSlots(const std::vector<std::string>& classes, size_t samples,
                            std::vector<std::string>* distinct) {
  std::vector<int> slots;
  if (classes.size() != samples) return slots;
  for (const std::string& label : classes) {
    auto found = std::find(distinct->begin(), distinct->end(), label);
    slots.push_back(static_cast<int>(found - distinct->begin()));
    if (found == distinct->end()) distinct->push_back(label);
  }
  return slots;
}

// The legend text of a class: "class 2" for a number, else the name.
std::string ClassLegend(const std::string& name) {
  bool number = !name.empty() && name.find_first_not_of("-0123456789") == std::string::npos;
  return DrawableText(number ? "class " + name : name, kLabelChars);
}

}  // namespace

const char* FigureExtension(FigureFormat format) {
  switch (format) {
    case FigureFormat::Svg: return "svg";
    case FigureFormat::Pdf: return "pdf";
    case FigureFormat::Png: break;
  }
  return "png";
}

std::string Figure::Encode(FigureFormat format) const {
  std::string bytes;
  cairo_surface_t* target = nullptr;
  if (format == FigureFormat::Png) {
    target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  } else if (format == FigureFormat::Svg) {
    target = cairo_svg_surface_create_for_stream(AppendBytes, &bytes, width, height);
  } else {
    target = cairo_pdf_surface_create_for_stream(AppendBytes, &bytes, width, height);
  }
  cairo_t* cr = cairo_create(target);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 11);
  cairo_set_line_width(cr, 1.0);
  cairo_status_t status = cairo_status(cr);
  if (status == CAIRO_STATUS_SUCCESS && paint) {
    try {
      paint(cr);
    } catch (...) {
      cairo_destroy(cr);
      cairo_surface_destroy(target);
      throw;
    }
    status = cairo_status(cr);
  }
  cairo_destroy(cr);
  if (status == CAIRO_STATUS_SUCCESS && format == FigureFormat::Png) {
    status = cairo_surface_write_to_png_stream(target, AppendBytes, &bytes);
  }
  cairo_surface_finish(target);  // vector surfaces write their last bytes here
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(target);
  cairo_surface_destroy(target);
  CheckCairo(status);
  return bytes;
}

bool FiguresCanDraw(const std::string& text) {
  ScratchContext measure;
  SelectFaceFor(measure.cr(), text);
  return FaceCovers(measure.cr(), text);
}

std::string DrawableText(const std::string& text, size_t maxChars) {
  std::string out;
  size_t chars = 0, cut = std::string::npos;
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8SequenceLength(text, i);
    const bool valid = length > 0;
    if (chars + 1 == maxChars) cut = out.size();
    if (valid && b >= 0x20 && b != 0x7F) {
      out.append(text, i, length);
      i += length;
    } else {
      out += '?';
      i += valid ? length : 1;
    }
    ++chars;
  }
  if (chars > maxChars && cut != std::string::npos) {
    out.resize(cut);
    out += "\xE2\x80\xA6";
  }
  return out;
}

Figure DrawGapCurve(const ClusterResult& c) {
  return MakeFigure(kCurveWidth, kCurveHeight, [c](cairo_t* cr) {
    auto [lo, hi] = Extent({&c.gapCurve});
    Axes a = MakeAxes(kLeft, kTop, kCurveWidth - kLeft - kRight, kCurveHeight - kTop - kBottom,
                      c.sizes.back(), c.sizes.front(), std::min(lo, 0.0), std::max(hi, 0.0),
                      true);
    DrawAxes(cr, a, "cluster size (genes, log scale)", "gap (R\xC2\xB2 real \xE2\x88\x92 permuted)");
    Title(cr, kLeft, 22, "Cluster " + std::to_string(c.number) + ": gap statistic");
    Polyline(cr, a, c.sizes, c.gapCurve, kBlue, false);
    Dots(cr, a, c.sizes, c.gapCurve, kBlue, 2.2);
    MarkChosen(cr, a, c, c.gap);
  });
}

Figure DrawVarianceCurves(const ClusterResult& c) {
  return MakeFigure(kCurveWidth, kCurveHeight, [c](cairo_t* cr) {
    auto [lo, hi] = Extent({&c.r2Curve, &c.meanPermutedR2});
    Axes a = MakeAxes(kLeft, kTop, kCurveWidth - kLeft - kRight, kCurveHeight - kTop - kBottom,
                      c.sizes.back(), c.sizes.front(), std::min(lo, 0.0), hi, true);
    DrawAxes(cr, a, "cluster size (genes, log scale)", "R\xC2\xB2 (% of variance between samples)");
    Title(cr, kLeft, 22, "Cluster " + std::to_string(c.number) + ": real and permuted R\xC2\xB2");
    Polyline(cr, a, c.sizes, c.meanPermutedR2, kPermuted, true);
    Polyline(cr, a, c.sizes, c.r2Curve, kBlue, false);
    MarkChosen(cr, a, c, c.r2);
    double legendX = a.left + a.width - 150, legendY = a.top + 30;
    SetColour(cr, {1, 1, 1});
    cairo_rectangle(cr, legendX - 6, legendY - 10, 150, 38);
    cairo_fill(cr);
    LegendEntry(cr, legendX, legendY, kBlue, "real data");
    LegendEntry(cr, legendX, legendY + 18, kPermuted, "permuted (mean)");
  });
}

namespace {

// The heatmap's geometry, in pixels (points for vector formats).
constexpr int kMapWidth = 640, kMapHeight = 560;  // the cells share about this much
constexpr int kMaxCellWidth = 24, kMaxCellHeight = 14, kMinCellHeight = 2;
constexpr int kLabelledCell = 8;  // cells at least this large carry their gene or sample label
constexpr double kMapLeft = 20, kMapTop = 40;
constexpr double kStripHeight = 10, kStripSpace = 16;  // the class strip above the map
constexpr double kGeneLabelWidth = 120;
constexpr double kKeyGap = 8, kKeyWidth = 14, kKeyMinHeight = 140;  // the colour key right of the map
constexpr double kClassRowHeight = 18;
constexpr int kMinHeatmapWidth = 420;
// Colours saturate at this quantile of |value|, so that a few extreme cells
// do not wash out the rest.
constexpr double kSaturationQuantile = 0.98;

struct HeatmapLayout {
  int samples = 0, rows = 0;
  int cellW = 0, cellH = 0;
  bool geneLabels = false, sampleText = false;
  double left = kMapLeft, top = kMapTop, mapW = 0, mapH = 0;
  double keyX = 0, keyH = 0;     // the colour key
  double classTop = 0;           // the class names under the key
  size_t classRows = 0;
  int width = 0, height = 0;
};

HeatmapLayout LayOutHeatmap(int samples, int rows, bool strip, size_t classes,
                            const std::vector<std::string>& sampleLabels) {
  HeatmapLayout l;
  l.samples = samples;
  l.rows = rows;
  l.cellW = std::max(1, std::min(kMaxCellWidth, kMapWidth / std::max(1, samples)));
  l.cellH = std::max(kMinCellHeight, std::min(kMaxCellHeight, kMapHeight / std::max(1, rows)));
  l.geneLabels = rows <= kMaxLabelledGenes && l.cellH >= kLabelledCell;
  l.sampleText = !sampleLabels.empty() && static_cast<int>(sampleLabels.size()) == samples &&
                 samples <= kMaxLabelledSamples && l.cellW >= kLabelledCell;
  l.top = strip ? kMapTop + kStripSpace : kMapTop;
  l.mapW = samples * l.cellW;
  l.mapH = rows * l.cellH;
  l.keyX = l.left + l.mapW + kKeyGap + (l.geneLabels ? kGeneLabelWidth : 0);
  l.keyH = std::max(l.mapH, kKeyMinHeight);
  l.classRows = std::min<size_t>(classes, kMaxLegendClasses);
  l.classTop = l.top + l.keyH + 24;
  l.width = static_cast<int>(std::max<double>(kMinHeatmapWidth, l.keyX + (l.classRows > 0 ? 140 : 90)));
  // Below the map: the sample labels, or a margin; the key may reach further.
  const double below = l.mapH + (l.sampleText ? SampleLabelDepth(sampleLabels) : 24.0);
  const double legendBottom = l.classRows > 0 ? l.classTop + kClassRowHeight * l.classRows + 6 : 0.0;
  l.height = static_cast<int>(std::max(l.top + std::max(below, l.keyH + 12), legendBottom));
  return l;
}

// The magnitude at which the colours saturate.
double SaturationScale(const ClusterResult& c, int rows) {
  std::vector<double> magnitudes;
  for (int j = 0; j < rows; ++j) {
    for (double v : c.data[j]) magnitudes.push_back(std::fabs(v));
  }
  if (magnitudes.empty()) return 1.0;
  size_t at = static_cast<size_t>(kSaturationQuantile * (magnitudes.size() - 1));
  std::nth_element(magnitudes.begin(), magnitudes.begin() + at, magnitudes.end());
  double scale = magnitudes[at];
  if (!(scale > 0)) scale = *std::max_element(magnitudes.begin(), magnitudes.end());
  return scale > 0 ? scale : 1.0;
}

// The cells, each gene multiplied by its sign, and the class strip above them.
void PaintCells(cairo_t* cr, const HeatmapLayout& l, const ClusterResult& c, const std::vector<int>& signs,
                const std::vector<int>& slots, double scale) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  for (int j = 0; j < l.rows; ++j) {
    for (int s = 0; s < l.samples; ++s) {
      SetColour(cr, Diverging(signs[j] * c.data[j][s], scale));
      cairo_rectangle(cr, l.left + s * l.cellW, l.top + j * l.cellH, l.cellW, l.cellH);
      cairo_fill(cr);
    }
  }
  for (size_t s = 0; s < slots.size(); ++s) {
    SetColour(cr, kPalette[slots[s] % kPaletteSize]);
    cairo_rectangle(cr, l.left + s * l.cellW, l.top - kStripSpace + 2, l.cellW, kStripHeight);
    cairo_fill(cr);
  }
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

// The colour key: a vertical bar from +scale (top) to -scale (bottom).
void PaintColourKey(cairo_t* cr, const HeatmapLayout& l, double scale) {
  cairo_pattern_t* ramp = cairo_pattern_create_linear(0, l.top, 0, l.top + l.keyH);
  cairo_pattern_add_color_stop_rgb(ramp, 0.0, kRed.r, kRed.g, kRed.b);
  cairo_pattern_add_color_stop_rgb(ramp, 0.5, 1, 1, 1);
  cairo_pattern_add_color_stop_rgb(ramp, 1.0, kBlue.r, kBlue.g, kBlue.b);
  cairo_set_source(cr, ramp);
  cairo_rectangle(cr, l.keyX, l.top, kKeyWidth, l.keyH);
  cairo_fill(cr);
  cairo_pattern_destroy(ramp);
  SetColour(cr, kInk);
  cairo_rectangle(cr, l.keyX + 0.5, l.top + 0.5, kKeyWidth, l.keyH);
  cairo_stroke(cr);
  const double textX = l.keyX + kKeyWidth + 4;
  Text(cr, textX, l.top + 4, "+" + tarvok::General(scale, 3), 0.0);
  Text(cr, textX, l.top + l.keyH / 2, "0", 0.0);
  Text(cr, textX, l.top + l.keyH - 4, "\xE2\x88\x92" + tarvok::General(scale, 3), 0.0);
}

}  // namespace

Figure DrawHeatmap(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                   const std::vector<std::string>& classes, int maxRows) {
  const int samples = static_cast<int>(c.component.size());
  const int rows = std::max(0, std::min(c.size, maxRows));
  const std::vector<int> signs = GeneSigns(c);
  std::vector<std::string> distinct;
  const std::vector<int> slots = ClassSlots(classes, samples, &distinct);
  const double scale = SaturationScale(c, rows);
  const HeatmapLayout l = LayOutHeatmap(samples, rows, !slots.empty(), distinct.size(), sampleLabels);

  Figure figure = MakeFigure(l.width, l.height, [=](cairo_t* cr) {
    Title(cr, l.left, 22, "Cluster " + std::to_string(c.number) + ": genes over samples");
    PaintCells(cr, l, c, signs, slots, scale);
    SetColour(cr, kInk);
    cairo_set_font_size(cr, 9);
    for (int j = 0; l.geneLabels && j < rows; ++j) {
      std::string label = (signs[j] < 0 ? "\xE2\x88\x92 " : "") + c.geneLabels[j];
      Text(cr, l.left + l.mapW + 4, l.top + (j + 0.5) * l.cellH - 1, DrawableText(label, kLabelChars), 0.0);
    }
    for (int s = 0; l.sampleText && s < samples; ++s) {
      UpwardText(cr, l.left + (s + 0.5) * l.cellW - 1, l.top + l.mapH + 4, DrawableText(sampleLabels[s], kLabelChars),
                 1.0);
    }
    PaintColourKey(cr, l, scale);
    cairo_set_font_size(cr, 11);
    for (size_t k = 0; k < l.classRows; ++k) {
      LegendEntry(cr, l.keyX, l.classTop + kClassRowHeight * k, kPalette[k % kPaletteSize], ClassLegend(distinct[k]));
    }
  });
  if (rows < c.size) {
    figure.note = "The heatmap shows the first " + std::to_string(rows) + " of " +
                  std::to_string(c.size) + " genes in cluster order.";
  }
  return figure;
}

Figure DrawComponent(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                     const std::vector<std::string>& classes) {
  const int samples = static_cast<int>(c.component.size());
  std::vector<std::string> distinct;
  const std::vector<int> slots = ClassSlots(classes, samples, &distinct);
  const bool sampleText = static_cast<int>(sampleLabels.size()) == samples &&
                          samples <= kMaxLabelledSamples;
  const double legendW = slots.empty() ? 0 : 110;
  const int width = static_cast<int>(kLeft + 620 + kRight + legendW);
  const int height = static_cast<int>(kTop + 230 + (sampleText ? SampleLabelDepth(sampleLabels) : kBottom));

  return MakeFigure(width, height, [=](cairo_t* cr) {
    auto [lo, hi] = Extent({&c.component});
    Axes a = MakeAxes(kLeft, kTop, 620, 230, 0, samples, std::min(lo, 0.0), std::max(hi, 0.0),
                      false);
    Title(cr, kLeft, 22, "Cluster " + std::to_string(c.number) + ": component over the samples");
    // Sample axis without numeric ticks: bars stand for samples, not values.
    SetColour(cr, kInk);
    cairo_rectangle(cr, a.left + 0.5, a.top + 0.5, a.width, a.height);
    cairo_stroke(cr);
    int yCount = static_cast<int>(std::lround((a.y1 - a.y0) / a.yStep));
    for (int k = 0; k <= yCount; ++k) {
      double v = a.y0 + k * a.yStep;
      Text(cr, a.left - 6, a.Y(v), TickLabel(v), 1.0);
    }
    UpwardText(cr, a.left - 48, a.top + a.height / 2, "component", 0.5);
    if (!sampleText) {
      Text(cr, a.left + a.width / 2, a.top + a.height + 20,
           "samples 1\xE2\x80\x93" + std::to_string(samples), 0.5);
    }

    const double barW = a.width / std::max(1, samples);
    for (int s = 0; s < samples; ++s) {
      SetColour(cr, slots.empty() ? kBlue : kPalette[slots[s] % kPaletteSize]);
      double y0 = a.Y(0.0), y1 = a.Y(c.component[s]);
      cairo_rectangle(cr, a.left + s * barW + barW * 0.1, std::min(y0, y1), barW * 0.8,
                      std::max(std::fabs(y1 - y0), 0.5));
      cairo_fill(cr);
    }
    SetColour(cr, kInk);
    cairo_move_to(cr, a.left, a.Y(0.0));
    cairo_line_to(cr, a.left + a.width, a.Y(0.0));
    cairo_stroke(cr);

    cairo_set_font_size(cr, 9);
    for (int s = 0; sampleText && s < samples; ++s) {
      UpwardText(cr, a.left + (s + 0.5) * barW, a.top + a.height + 4,
                 DrawableText(sampleLabels[s], kLabelChars), 1.0);
    }
    cairo_set_font_size(cr, 11);
    const size_t shown = std::min<size_t>(distinct.size(), kMaxLegendClasses);
    for (size_t k = 0; k < shown; ++k) {
      LegendEntry(cr, a.left + a.width + 16, a.top + 8 + 18 * k,
                  kPalette[k % kPaletteSize], ClassLegend(distinct[k]));
    }
    if (shown < distinct.size()) {
      Text(cr, a.left + a.width + 16, a.top + 8 + 18 * shown,
           "+" + std::to_string(distinct.size() - shown) + " more", 0.0);
    }
  });
}
