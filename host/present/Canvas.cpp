#include "present/Canvas.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "base/Numbers.h"
#include "present/Utf8.h"

namespace tarvok {

namespace canvas {

namespace {

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

}  // namespace


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


ScratchContext::ScratchContext() {
  ReleaseFontCachesAtExit();
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cr_ = cairo_create(surface_);
  cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, 11);
}

ScratchContext::~ScratchContext() {
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

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


Axes MakeAxes(Axes frame) {
  double &x0 = frame.x0, &x1 = frame.x1, &y0 = frame.y0, &y1 = frame.y1;
  if (frame.logX) {
    x0 = std::max(1.0, x0) / 1.15;
    x1 = std::max(x1 * 1.15, x0 * 2.0);
  } else if (x1 <= x0) {
    x0 -= 0.5, x1 += 0.5;
  }
  if (y1 <= y0) {
    double pad = std::max(1.0, std::fabs(y0) * 0.1);
    y0 -= pad, y1 += pad;
  }
  frame.yStep = NiceStep(y1 - y0);
  y0 = std::floor(y0 / frame.yStep) * frame.yStep;
  y1 = std::ceil(y1 / frame.yStep) * frame.yStep;
  return frame;
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

}  // namespace canvas

}  // namespace tarvok
