// report.html: every figure embedded and decodable at its stated size, the
// heatmap sign-aligned, classes coloured, labels escaped; and the page
// loaded in a headless browser when one is installed.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/present/FigureFiles.h"
#include "host/present/Figures.h"
#include "host/present/Report.h"
#include "host/present/Summary.h"
#include "tests/host/HostTestSupport.h"
#include "tests/host/SyntheticResults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

std::string FromBase64(const std::string& text) {
  std::string out;
  unsigned bits = 0, count = 0;
  for (char ch : text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = ch ? std::strchr(digits, ch) : nullptr;
    if (at == nullptr) break;  // '=' padding
    bits = bits << 6 | static_cast<unsigned>(at - digits);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// A decoded PNG, or a surface in an error state when the bytes are not one.
struct Image {
  cairo_surface_t* surface;
  explicit Image(const std::string& png) {
    std::pair<const std::string*, size_t> source{&png, 0};
    surface = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
          auto* s = static_cast<std::pair<const std::string*, size_t>*>(closure);
          if (s->second + length > s->first->size()) return CAIRO_STATUS_READ_ERROR;
          std::memcpy(data, s->first->data() + s->second, length);
          s->second += length;
          return CAIRO_STATUS_SUCCESS;
        },
        &source);
  }
  ~Image() { cairo_surface_destroy(surface); }
  bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(surface); }
  int height() const { return cairo_image_surface_get_height(surface); }
  uint32_t Pixel(int x, int y) const {  // 0xRRGGBB
    const unsigned char* row =
        cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
  }
};

RunInfo Info(int samples) {
  RunInfo info;
  info.table = "data/a<script>.tsv";
  info.genes = 14;
  info.samples = samples;
  info.clusters = 2;
  info.shave = 10;
  info.permutations = 20;
  return info;
}

bool HasChromium() { return std::system("test -x /usr/bin/chromium") == 0; }

std::string Chromium(const TempDir& profile, const std::string& arguments) {
  return "timeout 60 /usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
         "--no-first-run --disable-background-networking --disable-component-update "
         "--disable-sync --user-data-dir=" +
         profile.path() + " --virtual-time-budget=5000 " + arguments;
}

}  // namespace

TEST(WriteReport, EmbedsFourSvgFiguresPerClusterAtTheirStatedSize) {
  TempDir dir;
  WriteReport(MakeResults(6, 2), Info(6), dir.File("report.html"));
  std::string html = ReadFile(dir.File("report.html"));
  const std::string prefix = "<img src=\"data:image/svg+xml;base64,";
  int figures = 0;
  for (size_t at = html.find("<img"); at != std::string::npos; at = html.find("<img", at + 1)) {
    SCOPED_TRACE(figures++);
    ASSERT_EQ(html.compare(at, prefix.size(), prefix), 0);
    size_t data = at + prefix.size(), end = html.find('"', data);
    int width = 0, height = 0;
    ASSERT_EQ(std::sscanf(html.c_str() + end, "\" width=\"%d\" height=\"%d\"", &width, &height), 2);
    std::string svg = FromBase64(html.substr(data, end - data));
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(
        svg.find("width=\"" + std::to_string(width) + "pt\" height=\"" + std::to_string(height) + "pt\""),
        std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
  }
  EXPECT_EQ(figures, 8);
  EXPECT_NE(html.find("document.body.dataset.figures"), std::string::npos);
  // Without files beside it the report links none.
  EXPECT_EQ(html.find("download"), std::string::npos);
}

TEST(Figure, EncodesTheSameDrawingAsPngSvgAndPdfAtItsStatedSize) {
  std::vector<ClusterFigure> figures = DrawClusterFigures(MakeCluster(1, 5, 9, 2), {}, {}, kHeatmapMaxRows);
  ASSERT_EQ(figures.size(), 4u);
  TempDir dir;
  const bool pdfinfo = std::system("test -x /usr/bin/pdfinfo") == 0;
  for (const ClusterFigure& f : figures) {
    SCOPED_TRACE(f.stem);
    // Drawn again after others, the same bytes: nothing in them counts the
    // process's earlier drawings.
    EXPECT_EQ(f.figure.Encode(FigureFormat::Svg), f.svg);
    Image png(f.figure.Encode(FigureFormat::Png));
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png.width(), f.figure.width);
    EXPECT_EQ(png.height(), f.figure.height);
    std::string pdf = f.figure.Encode(FigureFormat::Pdf);
    EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
    if (pdfinfo) {
      dir.Write("f.pdf", pdf);
      ProgramResult info = RunProgram("/usr/bin/pdfinfo", {dir.File("f.pdf")});
      EXPECT_EQ(info.exitStatus, 0);
      EXPECT_NE(info.out.find("Pages:           1\n"), std::string::npos) << info.out;
      EXPECT_NE(info.out.find("Page size:       " + std::to_string(f.figure.width) + " x " +
                              std::to_string(f.figure.height) + " pts"),
                std::string::npos)
          << info.out;
    }
  }
}

TEST(WriteReport, LinksEveryExportAndFigureFileAndListsScores) {
  TempDir dir;
  RunResults r = MakeResults(4, 2);
  ReportFiles files;
  files.exports = {"clusters.gmt", "golub.cdt"};
  files.figureFiles = true;
  files.format = FigureFormat::Pdf;
  WriteReport(r, Info(4), dir.File("report.html"), files);
  std::string html = ReadFile(dir.File("report.html"));
  EXPECT_NE(html.find("<a href=\"clusters.gmt\" download>clusters.gmt</a>"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"golub.cdt\" download>golub.cdt</a>: data cluster by cluster"), std::string::npos);
  for (const char* stem : {"cluster1_gap", "cluster1_r2", "cluster1_heatmap", "cluster2_component"}) {
    EXPECT_NE(html.find("<a href=\"figures/" + std::string(stem) +
                        ".pdf\" download>pdf</a> <a href=\"figures/" + stem + ".tsv\" download>data</a>"),
              std::string::npos)
        << stem;
  }
  // Gene 0 follows the component, gene 1 mirrors it: scores of opposite sign.
  const std::vector<double> scores = GeneScores(r.clusters[0]);
  EXPECT_GT(scores[0], 0);
  EXPECT_LT(scores[1], 0);
  EXPECT_NE(
      html.find("<tr><td>2</td><td class=\"genes\">G1_1</td><td>" + SignificantDigits(scores[1]) + "</td></tr>"),
      std::string::npos);
}

TEST(WriteReport, EscapesLabelsAndPaths) {
  EXPECT_EQ(HtmlEscape("<b>x&y\"z'</b>"), "&lt;b&gt;x&amp;y&quot;z&#39;&lt;/b&gt;");
  TempDir dir;
  RunResults r = MakeResults(4, 1);
  r.clusters[0].geneLabels[0] = "<img_src=x_onerror=alert(1)>";
  RunInfo info = Info(4);
  info.supervise = 50;
  info.classesFile = "\"classes\".txt";
  info.classes = {1, 1, 2, 2};
  info.classNames = {"<ALL>", "<ALL>", "AML", "AML"};
  WriteReport(r, info, dir.File("report.html"));
  std::string html = ReadFile(dir.File("report.html"));
  EXPECT_EQ(html.find("<img_src"), std::string::npos);
  EXPECT_EQ(html.find("a<script>"), std::string::npos);
  EXPECT_NE(html.find("&lt;img_src=x_onerror=alert(1)&gt;"), std::string::npos);
  EXPECT_NE(html.find("data/a&lt;script&gt;.tsv"), std::string::npos);
  EXPECT_NE(html.find("50% by classes from &quot;classes&quot;.txt"), std::string::npos);
  // Bytes that are not UTF-8 (Latin-1 here) become U+FFFD, so the page stays valid UTF-8.
  EXPECT_EQ(HtmlEscape("caf\xE9 <\xC3\xA9>"), "caf\xEF\xBF\xBD &lt;\xC3\xA9&gt;");
}

TEST(WriteReport, AnIncompleteRunSaysWhyAndShowsItsFinishedClusters) {
  TempDir dir;
  RunInfo info = Info(5);
  info.clusters = 4;
  info.incomplete = "the analysis failed: Numerical Recipes: No convergence in 30 SVDCMP iterations";
  WriteReport(MakeResults(5, 2), info, dir.File("report.html"));
  std::string html = ReadFile(dir.File("report.html"));
  EXPECT_NE(html.find("<strong>Incomplete results:</strong> the analysis failed: Numerical Recipes: No "
                      "convergence in 30 SVDCMP iterations. Only the 2 clusters finished before that are shown."),
            std::string::npos);
  EXPECT_EQ(html.find("no smaller cluster stood out"), std::string::npos);
  EXPECT_NE(html.find("id=\"cluster-2\""), std::string::npos);
}

TEST(DrawHeatmap, TurnsOpposedGenesToFollowTheComponent) {
  ClusterResult c = MakeCluster(1, 4, 2, 1);
  ASSERT_EQ(c.size, 2);
  c.data[1] = {-c.data[0][0], -c.data[0][1], -c.data[0][2], -c.data[0][3]};
  Image image(DrawHeatmap(c, {}, {}, 200).Encode(FigureFormat::Png));
  ASSERT_TRUE(image.ok());
  // Cells are 24 x 14 pixels from (20, 40) for four samples and two genes.
  for (int s = 0; s < 4; ++s) {
    SCOPED_TRACE(s);
    uint32_t follows = image.Pixel(20 + 24 * s + 12, 47), opposed = image.Pixel(20 + 24 * s + 12, 61);
    EXPECT_EQ(follows, opposed);
    bool red = (follows >> 16) > (follows & 0xFF);
    EXPECT_EQ(red, c.component[s] > 0);
  }
}

TEST(DrawHeatmap, CapsTheRowsOfLargeClustersAndSaysSo) {
  ClusterResult c = MakeCluster(1, 5, 250, 1);
  Figure figure = DrawHeatmap(c, {}, {}, 200);
  EXPECT_EQ(figure.note, "The heatmap shows the first 200 of 250 genes in cluster order.");
  EXPECT_LE(figure.height, 600);
  EXPECT_TRUE(DrawHeatmap(MakeCluster(1, 5, 20, 1), {}, {}, 200).note.empty());
}

TEST(DrawComponent, ColoursBarsByClassAndNamesTheClassesInTheLegend) {
  ClusterResult c = MakeCluster(1, 4, 3, 1);
  c.component = {1, 1, 1, 1};
  // Bars 155 pixels wide from x = 70, spanning y = 36..266.
  auto barColours = [&](const std::vector<std::string>& classes) {
    Image image(DrawComponent(c, {"a", "b", "c", "d"}, classes).Encode(FigureFormat::Png));
    std::vector<uint32_t> colours;
    for (int s = 0; s < 4; ++s) colours.push_back(image.Pixel(70 + 155 * s + 77, 150));
    return colours;
  };
  std::vector<uint32_t> byClass = barColours({"ALL", "ALL", "AML", "AML"});
  EXPECT_EQ(byClass[0], byClass[1]);
  EXPECT_EQ(byClass[2], byClass[3]);
  EXPECT_NE(byClass[0], byClass[2]);
  // The legend names the classes: other names, other pixels, same bars.
  auto png = [&](const std::vector<std::string>& classes) {
    return DrawComponent(c, {"a", "b", "c", "d"}, classes).Encode(FigureFormat::Png);
  };
  EXPECT_NE(png({"ALL", "ALL", "AML", "AML"}), png({"B", "B", "T", "T"}));
  EXPECT_EQ(barColours({"B", "B", "T", "T"}), byClass);
  std::vector<uint32_t> plain = barColours({});
  EXPECT_EQ(plain, std::vector<uint32_t>(4, plain[0]));
  EXPECT_NE(plain[0], 0xFFFFFFu);
}

TEST(DrawableText, CutsLongTextAndReplacesInvalidBytes) {
  EXPECT_EQ(DrawableText("GENE00001", 18), "GENE00001");
  EXPECT_EQ(DrawableText("abcdefghij", 5), "abcd\xE2\x80\xA6");
  EXPECT_EQ(DrawableText("caf\xC3\xA9", 18), "caf\xC3\xA9");       // UTF-8 kept
  EXPECT_EQ(DrawableText("caf\xE9!", 18), "caf?!");                // Latin-1 byte
  EXPECT_EQ(DrawableText("tab\there\xE2\x80", 18), "tab?here??");  // control, cut sequence
  // A figure with such labels still draws.
  ClusterResult c = MakeCluster(1, 3, 4, 1);
  c.geneLabels[0] = "\xFF\xFE";
  EXPECT_TRUE(Image(DrawHeatmap(c, {"\xC0", "b", "c"}, {}, 200).Encode(FigureFormat::Png)).ok());
}

// Rows of white at the bottom of a figure.
int BlankRowsAtTheBottom(const Image& image) {
  for (int y = image.height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.Pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) return image.height() - 1 - y;
    }
  }
  return image.height();
}

TEST(Figures, SampleLabelsTakeOnlyTheRoomTheyNeed) {
  ClusterResult c = MakeCluster(1, 6, 8, 1);
  const std::vector<std::string> shortLabels = {"A1", "A2", "A3", "B1", "B2", "B3"};
  const std::vector<std::string> longLabels(6, "a_rather_long_sample_label");
  for (bool heatmap : {true, false}) {
    SCOPED_TRACE(heatmap ? "heatmap" : "component");
    auto draw = [&](const std::vector<std::string>& labels) {
      return heatmap ? DrawHeatmap(c, labels, {}, 200) : DrawComponent(c, labels, {});
    };
    Image small(draw(shortLabels).Encode(FigureFormat::Png)), large(draw(longLabels).Encode(FigureFormat::Png));
    EXPECT_LE(BlankRowsAtTheBottom(small), 14);
    EXPECT_LE(BlankRowsAtTheBottom(large), 14);
    EXPECT_GT(large.height(), small.height() + 40);
  }
}

TEST(Figures, CjkLabelsDrawAsGlyphs) {
  EXPECT_TRUE(FiguresCanDraw("GENE00001"));
  EXPECT_TRUE(FiguresCanDraw("\xE5\x9F\xBA\xE5\x9B\xA0 \xEC\x9C\xA0\xEC\xA0\x84\xEC\x9E\x90 "
                             "\xE9\x81\xBA\xE4\xBC\x9D\xE5\xAD\x90-TP53"));  // Chinese, Korean, Japanese
  EXPECT_FALSE(FiguresCanDraw("\xCD\xB8"));  // U+0378, assigned to nothing
  ClusterResult c = MakeCluster(1, 3, 4, 1);
  c.geneLabels[0] = "\xE5\x9F\xBA\xE5\x9B\xA0";
  EXPECT_TRUE(Image(DrawHeatmap(c, {"\xE6\xA0\xB7\xE6\x9C\xAC", "b", "c"}, {}, 200).Encode(FigureFormat::Png)).ok());
}

TEST(Figures, DrawFlatAndSingleStepClusters) {
  ClusterResult c = MakeCluster(1, 3, 1, 1);  // one step of one gene, all values zero
  c.data = {{0, 0, 0}};
  c.component = {0, 0, 0};
  c.gapCurve = c.r2Curve = c.meanPermutedR2 = {0};
  for (const Figure& figure :
       {DrawGapCurve(c), DrawVarianceCurves(c), DrawHeatmap(c, {}, {}, 200), DrawComponent(c, {}, {})}) {
    EXPECT_TRUE(Image(figure.Encode(FigureFormat::Png)).ok());
  }
}

TEST(WriteReport, NamesTheFileItCannotWrite) {
  TempDir dir;
  std::string path = dir.File("missing/report.html");
  try {
    WriteReport(MakeResults(3, 1), Info(3), path);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write " + path + ": No such file or directory");
  }
}

TEST(WriteReport, LoadsEveryFigureInAHeadlessBrowser) {
  if (!HasChromium()) GTEST_SKIP() << "/usr/bin/chromium is not installed";
  TempDir dir, profile;
  // The page as a run writes it: classes named, exports and figure files
  // linked beside the embedded SVG figures.
  RunInfo info = Info(8);
  info.classNames = {"ALL", "ALL", "ALL", "AML", "AML", "AML", "T", "T"};
  ReportFiles files;
  files.exports = {"clusters.gmt", "clusters.kgg", "golub.cdt", "clusters.gct"};
  files.figureFiles = true;
  WriteReport(MakeResults(8, 3), info, dir.File("report.html"), files);
  std::string dom = dir.File("dom.html"), shot = dir.File("shot.png");
  ASSERT_EQ(std::system((Chromium(profile, "--dump-dom file://" + dir.File("report.html")) + " > " + dom +
                         " 2>/dev/null")
                            .c_str()),
            0);
  EXPECT_NE(ReadFile(dom).find("data-figures=\"12/12\""), std::string::npos);

  ASSERT_EQ(std::system((Chromium(profile, "--screenshot=" + shot + " --window-size=1200,2000 file://" +
                                               dir.File("report.html")) +
                         " > /dev/null 2>&1")
                            .c_str()),
            0);
  Image image(ReadFile(shot));
  ASSERT_TRUE(image.ok());
  long coloured = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) coloured += image.Pixel(x, y) != 0xFFFFFF;
  }
  EXPECT_GT(coloured, image.width() * image.height() / 50);
}
