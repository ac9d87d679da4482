#include "present/Figures.h"

#include "base/Numbers.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <dlfcn.h>

#include <algorithm>
#include <functional>
#include <map>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "present/Canvas.h"
#include "present/Utf8.h"

namespace tarvok {

using namespace canvas;  // the drawing kit, in this file only

namespace {

constexpr int kCurveWidth = 560, kCurveHeight = 340;
constexpr double kLeft = 70, kTop = 36, kRight = 20, kBottom = 50;

}  // namespace


const char* FigureExtension(FigureFormat format) {
  switch (format) {
    case FigureFormat::Svg: return "svg";
    case FigureFormat::Pdf: return "pdf";
    case FigureFormat::Png: break;
  }
  return "png";
}

namespace {

// cairo numbers the surfaces of a process as it makes them and names the
// SVG's groups by them ("surface12"): renumbered from 1 in the order they
// appear, a figure's bytes no longer depend on what was drawn before it, or
// on another thread at the same time.
void NumberSurfacesFromOne(std::string& svg) {
  static const std::string kName = "surface";
  std::map<std::string, std::string> renamed;
  std::string out;
  out.reserve(svg.size());
  size_t from = 0;
  for (size_t at = svg.find(kName); at != std::string::npos; at = svg.find(kName, at + kName.size())) {
    const size_t digits = at + kName.size();
    size_t end = digits;
    while (end < svg.size() && svg[end] >= '0' && svg[end] <= '9') ++end;
    if (end == digits || (at > 0 && svg[at - 1] != '"' && svg[at - 1] != '#')) continue;
    const std::string number = svg.substr(digits, end - digits);
    auto [entry, added] = renamed.try_emplace(number, std::to_string(renamed.size() + 1));
    out.append(svg, from, digits - from);
    out += entry->second;
    from = end;
  }
  out.append(svg, from, std::string::npos);
  svg = std::move(out);
}

}  // namespace

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
  if (format == FigureFormat::Svg) NumberSurfacesFromOne(bytes);
  return bytes;
}

void WarmUpFigures() {
  try {
    FiguresCanDraw("Cluster 1");
  } catch (...) {
  }
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
    Axes a = MakeAxes({kLeft, kTop, kCurveWidth - kLeft - kRight, kCurveHeight - kTop - kBottom,
                       static_cast<double>(c.sizes.back()), static_cast<double>(c.sizes.front()),
                       std::min(lo, 0.0), std::max(hi, 0.0), 0.0, true});
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
    Axes a = MakeAxes({kLeft, kTop, kCurveWidth - kLeft - kRight, kCurveHeight - kTop - kBottom,
                       static_cast<double>(c.sizes.back()), static_cast<double>(c.sizes.front()),
                       std::min(lo, 0.0), hi, 0.0, true});
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
    Axes a = MakeAxes({kLeft, kTop, 620, 230, 0, static_cast<double>(samples), std::min(lo, 0.0),
                       std::max(hi, 0.0), 0.0, false});
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

}  // namespace tarvok
