#include "present/Report.h"

#include "exports/Exports.h"

#include <ctime>
#include <map>
#include <sstream>
#include <stdexcept>

#include "run/AtomicFile.h"
#include "present/Figures.h"
#include "present/Summary.h"
#include "present/Utf8.h"

namespace tarvok {

namespace {

// Appends bytes in base64 to out, written in place: a figure is up to a
// megabyte.
void AppendBase64(std::string& out, const std::string& bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const size_t start = out.size();
  out.resize(start + (bytes.size() + 2) / 3 * 4, '=');
  char* to = out.data() + start;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3, to += 4) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                 static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    to[0] = kDigits[v >> 18];
    to[1] = kDigits[(v >> 12) & 63];
    to[2] = kDigits[(v >> 6) & 63];
    to[3] = kDigits[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    to[0] = kDigits[v >> 18];
    to[1] = kDigits[(v >> 12) & 63];
    if (i + 1 < bytes.size()) to[2] = kDigits[(v >> 6) & 63];
  }
}

// A figure to be embedded at a place in the page once the rest is made, so
// that its megabyte of base64 goes straight into the page, never through a
// growing stream.
struct Embed {
  std::streamoff at;
  const std::string* svg;  // lives as long as the ReportFiles it comes from
};

// Browsers show SVG in an img element at any zoom, so the page embeds
// every figure as SVG whatever the format of the figure files.
void Image(std::ostream& html, const ClusterFigure& f, const ReportFiles& files, std::vector<Embed>* embeds) {
  const Figure& figure = f.figure;
  html << "<figure><img src=\"data:image/svg+xml;base64,";
  if (embeds != nullptr) {
    embeds->push_back({html.tellp(), &f.svg});
  } else {
    std::string base64;
    AppendBase64(base64, f.svg);
    html << base64;
  }
  html << "\" width=\"" << figure.width << "\" height=\"" << figure.height << "\" alt=\""
       << HtmlEscape(f.alt) << "\"><figcaption>" << HtmlEscape(f.caption);
  if (!figure.note.empty()) html << " " << HtmlEscape(figure.note);
  if (files.figureFiles) {
    const std::string path = std::string(kFigureDirectory) + "/" + f.stem;
    html << " <a href=\"" << HtmlEscape(path + "." + FigureExtension(files.format)) << "\" download>"
         << FigureExtension(files.format) << "</a> <a href=\"" << HtmlEscape(path + ".tsv")
         << "\" download>data</a>";
  }
  html << "</figcaption></figure>\n";
}

// What each export is for, shown beside its download link; the CDT is
// named after the table and known by its extension.
const std::map<std::string, const char*> kExportPurposes = {
    {"clusters.gmt",
     "gene sets per cluster by gene label, with _up (follows the cluster's pattern) and _down (mirrors it) sets "
     "(GSEA, enrichment tools)"},
    {"clusters.symbols.gmt", "the same gene sets by gene symbol, placeholders such as --Control left out"},
    {"clusters.kgg", "gene to cluster groups (Cluster 3.0, Java TreeView)"},
    {".cdt", "data cluster by cluster, sign-aligned (Java TreeView)"},
    {"clusters.gct", "clustered genes with cluster, score and sign (GCT 1.3, Morpheus)"}};

const char* ExportPurpose(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  auto purpose = kExportPurposes.find(name);
  if (purpose == kExportPurposes.end() && dot != std::string::npos) purpose = kExportPurposes.find(name.substr(dot));
  return purpose == kExportPurposes.end() ? nullptr : purpose->second;
}

void Downloads(std::ostream& html, const ReportFiles& files) {
  if (files.exports.empty()) return;
  html << "<h2>Downloads</h2>\n<ul class=\"downloads\">\n";
  for (const std::string& name : files.exports) {
    const char* purpose = ExportPurpose(name);
    html << "<li><a href=\"" << HtmlEscape(name) << "\" download>" << HtmlEscape(name) << "</a>"
         << (purpose == nullptr ? "" : std::string(": ") + purpose) << "</li>\n";
  }
  html << "</ul>\n";
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", std::localtime(&now));
  return text;
}

const char kStyle[] = R"(<style>
body { font-family: sans-serif; margin: 2em auto; padding: 0 1em; max-width: 1300px; color: #222; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; }
th, td { padding: 0.25em 0.7em; border-bottom: 1px solid #ddd; text-align: right; }
th { background: #f3f3f3; }
td.genes, th.genes, table.params td, table.params th { text-align: left; }
section { border-top: 2px solid #ccc; margin-top: 2em; }
figure { display: inline-block; margin: 0.5em 1em 0.5em 0; vertical-align: top; }
figcaption { font-size: 0.85em; color: #555; max-width: 560px; }
.incomplete { background: #fff3cd; border: 1px solid #e0c36a; padding: 0.5em 0.8em; }
.labels { font-family: monospace; font-size: 0.85em; word-wrap: break-word; }
</style>
)";

// Counts the figures that actually decoded, for readers and for tests that
// load the page in a headless browser.
const char kScript[] = R"(<script>
window.addEventListener("load", function () {
  var images = document.images, loaded = 0;
  for (var i = 0; i < images.length; i++) {
    if (images[i].complete && images[i].naturalWidth > 0) loaded++;
  }
  document.body.dataset.figures = loaded + "/" + images.length;
});
</script>
)";

// A parameter of the run, or that it is not known.
std::string Known(const RunInfo& info, const std::string& text) { return info.recorded ? text : "not recorded"; }

// The log decision as the parameter table shows it.
std::string LogScaleText(const RunInfo& info) {
  const tarvok::LogOutcome& log2 = info.log2;
  std::string text = log2.decision.apply ? "log2 of the values" : "values as they are";
  text += " (--log2 " + info.log2Choice;
  if (!log2.decision.reason.empty() && log2.decision.reason != "asked for") text += ": " + log2.decision.reason;
  text += ")";
  if (log2.nonPositive > 0) {
    text += "; " + std::to_string(log2.nonPositive) + " values at or below 0 became missing";
  }
  return text;
}

void Header(std::ostream& html, const RunResults& r, const RunInfo& info) {
  html << "<h1>Gene shaving report</h1>\n<table class=\"params\">\n"
       << "<tr><th>Table</th><td>" << HtmlEscape(Known(info, info.table)) << "</td></tr>\n"
       << "<tr><th>Shape</th><td>" << info.genes << " genes \xC3\x97 " << info.samples
       << " samples</td></tr>\n"
       << "<tr><th>Clusters</th><td>" << r.clusters.size() << " extracted of " << info.clusters
       << " requested</td></tr>\n"
       << "<tr><th>Shave</th><td>" << Known(info, std::to_string(info.shave) + "% per step") << "</td></tr>\n"
       << "<tr><th>Permutations</th><td>" << Known(info, std::to_string(info.permutations)) << "</td></tr>\n"
       << "<tr><th>Gap tolerance</th><td>" << Known(info, std::to_string(info.tolerance) + "%") << "</td></tr>\n"
       << "<tr><th>Supervision</th><td>";
  if (!info.recorded) {
    html << "not recorded";
  } else if (info.supervise == 0) {
    html << "none";
  } else {
    html << info.supervise << "% by classes from " << HtmlEscape(info.classesFile);
  }
  html << "</td></tr>\n";
  const std::vector<std::pair<std::string, int>> classes = ClassCounts(info);
  if (!classes.empty()) {
    html << "<tr><th>Classes</th><td>";
    for (size_t k = 0; k < classes.size(); ++k) {
      html << (k > 0 ? ", " : "") << HtmlEscape(classes[k].first) << " (" << classes[k].second << ")";
    }
    html << " from " << HtmlEscape(info.classesFile) << "</td></tr>\n";
  }
  html << "<tr><th>Log scale</th><td>" << HtmlEscape(LogScaleText(info)) << "</td></tr>\n"
       << "<tr><th>Missing values</th><td>" << HtmlEscape(MissingValuesText(info)) << "</td></tr>\n"
       << "<tr><th>Written</th><td>" << Today() << "</td></tr>\n</table>\n";
  if (!info.warnings.empty()) {
    html << "<details class=\"warnings\" open><summary>" << info.warnings.size()
         << (info.warnings.size() == 1 ? " warning" : " warnings") << "</summary>\n<ul>\n";
    for (const std::string& warning : info.warnings) html << "<li>" << HtmlEscape(warning) << "</li>\n";
    html << "</ul></details>\n";
  }
  if (!info.incomplete.empty()) {
    html << "<p class=\"incomplete\"><strong>Incomplete results:</strong> " << HtmlEscape(info.incomplete)
         << ". Only the " << r.clusters.size() << (r.clusters.size() == 1 ? " cluster" : " clusters")
         << " finished before that are shown.</p>\n";
  } else if (static_cast<int>(r.clusters.size()) < info.clusters && !info.recorded) {
    html << "<p class=\"incomplete\">The run stopped after " << r.clusters.size() << " of " << info.clusters
         << " clusters. Why is not recorded (the run left no summary.json): it may have found no cluster left, "
            "or it may have been interrupted.</p>\n";
  } else if (static_cast<int>(r.clusters.size()) < info.clusters) {
    html << "<p>The run stopped after " << r.clusters.size() << " of " << info.clusters
         << " clusters: no smaller cluster stood out in what the earlier ones left.</p>\n";
  }
}

void SummaryTable(std::ostream& html, const RunResults& r) {
  html << "<h2>Summary</h2>\n<table class=\"summary\">\n<tr><th>Cluster</th><th>Genes</th>"
          "<th>Step</th><th>Eigenvalue</th><th>R\xC2\xB2 %</th><th>Gap</th>"
          "<th class=\"genes\">First genes</th></tr>\n";
  for (const ClusterResult& c : r.clusters) {
    html << "<tr><td><a href=\"#cluster-" << c.number << "\">" << c.number << "</a></td><td>"
         << c.size << "</td><td>" << c.chosenStep << "</td><td>" << SignificantDigits(c.eigenvalue)
         << "</td><td>" << SignificantDigits(c.r2) << "</td><td>" << SignificantDigits(c.gap)
         << "</td><td class=\"genes\">" << HtmlEscape(FirstGenes(c, kSummaryFirstGenes))
         << "</td></tr>\n";
  }
  html << "</table>\n";
}

void ClusterSection(std::ostream& html, const ClusterResult& c, const RunResults& r,
                    const RunInfo& info, const ReportFiles& files, std::vector<Embed>& embeds) {
  const std::string name = "Cluster " + std::to_string(c.number);
  html << "<section id=\"cluster-" << c.number << "\">\n<h2>" << name << "</h2>\n<p>" << c.size
       << (c.size == 1 ? " gene" : " genes") << ", chosen at step " << c.chosenStep << " of "
       << c.sizes.size() << "; eigenvalue " << SignificantDigits(c.eigenvalue) << ", R\xC2\xB2 "
       << SignificantDigits(c.r2) << "%, gap " << SignificantDigits(c.gap) << ".</p>\n";
  const size_t index = static_cast<size_t>(c.number - 1);
  if (index < files.figures.size()) {
    for (const ClusterFigure& f : files.figures[index]) Image(html, f, files, &embeds);
  } else {
    for (const ClusterFigure& f : DrawClusterFigures(c, r.sampleLabels, SampleClassNames(info), kHeatmapMaxRows)) {
      Image(html, f, files, nullptr);
    }
  }
  // Scores: the analysis's own (or, for a run read back from its files, the
  // projection of each gene's centred row on the component); a negative
  // score marks a gene that mirrors the cluster's pattern. Genes are listed
  // by label (the key), with the symbol beside it when the table has them.
  const std::vector<double> scores = GeneScores(c);
  const bool symbols = c.geneSymbols.size() == c.geneLabels.size() && !c.geneSymbols.empty();
  html << "<details><summary>All " << c.size << " genes with their scores</summary>\n"
       << "<table class=\"genes\"><tr><th>#</th><th class=\"genes\">Gene</th>"
       << (symbols ? "<th class=\"genes\">Symbol</th>" : "") << "<th>Score</th></tr>\n";
  for (size_t j = 0; j < c.geneLabels.size(); ++j) {
    html << "<tr><td>" << j + 1 << "</td><td class=\"genes\">" << HtmlEscape(c.geneLabels[j]) << "</td>";
    if (symbols) html << "<td class=\"genes\">" << HtmlEscape(c.geneSymbols[j]) << "</td>";
    html << "<td>" << SignificantDigits(scores[j]) << "</td></tr>\n";
  }
  html << "</table></details>\n</section>\n";
}

}  // namespace

std::vector<std::string> SampleClassNames(const RunInfo& info) {
  if (!info.classNames.empty()) return info.classNames;
  std::vector<std::string> names;
  for (int c : info.classes) names.push_back(std::to_string(c));
  return names;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char ch : ReplaceInvalidUtf8(text)) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string ReportHtml(const RunResults& r, const RunInfo& info, const ReportFiles& files) {
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       << "<title>Gene shaving report: " << HtmlEscape(info.table) << "</title>\n"
       << kStyle << "</head>\n<body>\n";
  Header(html, r, info);
  SummaryTable(html, r);
  Downloads(html, files);
  std::vector<Embed> embeds;
  for (const ClusterResult& c : r.clusters) ClusterSection(html, c, r, info, files, embeds);
  html << kScript << "</body>\n</html>\n";
  const std::string page = html.str();
  size_t size = page.size();
  for (const Embed& e : embeds) size += (e.svg->size() + 2) / 3 * 4;
  std::string out;
  out.reserve(size);
  size_t from = 0;
  for (const Embed& e : embeds) {
    const size_t at = static_cast<size_t>(e.at);
    out.append(page, from, at - from);
    AppendBase64(out, *e.svg);
    from = at;
  }
  out.append(page, from, std::string::npos);
  return out;
}

void WriteReport(const RunResults& r, const RunInfo& info, const std::string& path,
                 const ReportFiles& files) {
  // Not synced to the disk: the report is drawn again from summary.json by
  // "tarvok export", and syncing its megabytes of figures costs more than the
  // rest of writing it.
  tarvok::exports::WriteFileAtomically(path, ReportHtml(r, info, files));
}

}  // namespace tarvok
