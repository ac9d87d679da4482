#include "present/ResultFiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tables/ByteSource.h"
#include "base/ResultNames.h"
#include "exports/Exports.h"

namespace tarvok {

namespace {

// One result file split into lines, each error naming the file and line.
struct LineFile {
  std::string path;
  std::vector<std::string> lines;

  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error(path + ": " + what);
  }
  [[noreturn]] void FailAt(size_t line, const std::string& what) const {
    Fail("line " + std::to_string(line + 1) + ": " + what);
  }
};

// Reads path whole. A non-empty file must end with "\n": a cut-off last line
// is the mark of an interrupted write and is never taken for a value.
LineFile ReadLines(const std::string& path) {
  LineFile file{path, {}};
  std::string text;
  try {
    text = ReadWholeFile(path);
  } catch (const TableError& error) {
    file.Fail(error.what());
  }
  if (!text.empty() && text.back() != '\n') file.Fail("ends in an incomplete line");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    file.lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return file;
}

void ExpectLines(const LineFile& file, size_t count) {
  if (file.lines.size() != count) {
    file.Fail("expected " + std::to_string(count) + " lines, found " +
              std::to_string(file.lines.size()));
  }
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t end = line.find('\t', start);
    fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

std::vector<std::string> Fields(const LineFile& file, size_t line, size_t count) {
  std::vector<std::string> fields = SplitTabs(file.lines[line]);
  if (fields.size() != count) {
    file.FailAt(line, "expected " + std::to_string(count) + " tab-separated fields, found " +
                          std::to_string(fields.size()));
  }
  return fields;
}

// text in double quotes with control characters shown as \r, \t or \xNN.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char ch : text) {
    if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\t') {
      out += "\\t";
    } else if (ch < 0x20 || ch == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", ch);
      out += code;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

// Leading blanks are allowed (the library writes "%d\t %d"); anything after
// the number is not.
double ParseDouble(const LineFile& file, size_t line, const std::string& text) {
  const char* begin = text.data();
  const char* const end = text.data() + text.size();
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  double value = 0.0;
  auto [stop, error] = std::from_chars(begin, end, value);  // locale-free
  if (error != std::errc() || stop != end) file.FailAt(line, Quoted(text) + " is not a number");
  if (!std::isfinite(value)) file.FailAt(line, Quoted(text) + " is not a finite number");
  return value;
}

int ParseInt(const LineFile& file, size_t line, const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0' || errno == ERANGE || value < -2147483647L - 1 ||
      value > 2147483647L) {
    file.FailAt(line, Quoted(text) + " is not an integer");
  }
  return static_cast<int>(value);
}

// Entry number-1 of a name list ("clusters.txt", "clabels.txt"): a plain file
// name inside the output directory.
std::string ListedName(const LineFile& list, int number) {
  const std::string& name = list.lines[number - 1];
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    list.FailAt(number - 1, Quoted(name) + " is not a file name");
  }
  return name;
}

// The gap and variance files of one cluster: the nested sequence.
void ReadCurves(const std::string& dir, ClusterResult& c) {
  LineFile gap = ReadLines(dir + "/" + tarvok::ClusterFileName("gap", c.number));
  if (gap.lines.empty()) gap.Fail("holds no steps");
  for (size_t k = 0; k < gap.lines.size(); ++k) {
    std::vector<std::string> f = Fields(gap, k, 2);
    int size = ParseInt(gap, k, f[0]);
    if (size < 1) gap.FailAt(k, "cluster size " + f[0] + " is not positive");
    c.sizes.push_back(size);
    c.gapCurve.push_back(ParseDouble(gap, k, f[1]));
  }
  LineFile variance = ReadLines(dir + "/" + tarvok::ClusterFileName("variance", c.number));
  ExpectLines(variance, gap.lines.size());
  for (size_t k = 0; k < variance.lines.size(); ++k) {
    std::vector<std::string> f = Fields(variance, k, 6);
    if (ParseInt(variance, k, f[0]) != c.sizes[k]) {
      variance.FailAt(k, "cluster size " + f[0] + " differs from the gap file's " +
                             std::to_string(c.sizes[k]));
    }
    c.r2Curve.push_back(ParseDouble(variance, k, f[1]));
    c.meanPermutedR2.push_back(ParseDouble(variance, k, f[2]));
    c.between.push_back(ParseDouble(variance, k, f[3]));
    c.total.push_back(ParseDouble(variance, k, f[4]));
    c.within.push_back(ParseDouble(variance, k, f[5]));
  }
}

// Cluster data (sample-major, genes in cluster order) and gene labels.
void ReadMembers(const std::string& dir, const std::string& dataName,
                 const std::string& labelName, int samples, ClusterResult& c) {
  LineFile labels = ReadLines(dir + "/" + labelName);
  ExpectLines(labels, c.size);
  c.geneLabels = labels.lines;
  LineFile data = ReadLines(dir + "/" + dataName);
  ExpectLines(data, static_cast<size_t>(samples) * c.size);
  c.data.assign(c.size, std::vector<double>(samples));
  for (int s = 0; s < samples; ++s) {
    for (int j = 0; j < c.size; ++j) {
      size_t line = static_cast<size_t>(s) * c.size + j;
      c.data[j][s] = ParseDouble(data, line, data.lines[line]);
    }
  }
}

RunResults ReadResults(const std::string& outDir, int clustersDone) {
  if (clustersDone < 0) throw std::runtime_error("negative cluster count");
  RunResults r;
  LineFile columns = ReadLines(outDir + "/" + tarvok::kColumnLabelsFile);
  if (columns.lines.empty()) columns.Fail("holds no sample labels");
  r.sampleLabels = columns.lines;
  r.samples = static_cast<int>(columns.lines.size());
  if (clustersDone == 0) return r;

  LineFile lengths = ReadLines(outDir + "/" + tarvok::kClusterLengthsFile);
  LineFile dataNames = ReadLines(outDir + "/" + tarvok::kClusterListFile);
  LineFile labelNames = ReadLines(outDir + "/" + tarvok::kClusterLabelListFile);
  // An interrupted run may have announced more clusters than it finished.
  for (const LineFile* file : {&lengths, &dataNames, &labelNames}) {
    if (file->lines.size() < static_cast<size_t>(clustersDone)) {
      file->Fail("expected at least " + std::to_string(clustersDone) + " lines, found " +
                 std::to_string(file->lines.size()));
    }
  }

  for (int i = 1; i <= clustersDone; ++i) {
    ClusterResult c;
    c.number = i;
    size_t line = i - 1;
    std::vector<std::string> f = Fields(lengths, line, 2);
    c.chosenStep = ParseInt(lengths, line, f[0]);
    c.size = ParseInt(lengths, line, f[1]);

    ReadCurves(outDir, c);
    if (c.chosenStep < 1 || c.chosenStep > static_cast<int>(c.sizes.size())) {
      lengths.FailAt(line, "step " + std::to_string(c.chosenStep) + " lies outside the " +
                               std::to_string(c.sizes.size()) + " steps of " +
                               tarvok::ClusterFileName("gap", i));
    }
    if (c.sizes[c.chosenStep - 1] != c.size) {
      lengths.FailAt(line, "size " + std::to_string(c.size) + " differs from " +
                               std::to_string(c.sizes[c.chosenStep - 1]) + " at step " +
                               std::to_string(c.chosenStep) + " of " +
                               tarvok::ClusterFileName("gap", i));
    }
    c.gap = c.gapCurve[c.chosenStep - 1];
    c.r2 = c.r2Curve[c.chosenStep - 1];

    ReadMembers(outDir, ListedName(dataNames, i), ListedName(labelNames, i), r.samples, c);

    LineFile eigen = ReadLines(outDir + "/" + tarvok::ClusterFileName("eigen", i));
    ExpectLines(eigen, 1);
    c.eigenvalue = ParseDouble(eigen, 0, eigen.lines[0]);

    LineFile pc = ReadLines(outDir + "/" + tarvok::ClusterFileName("pc", i));
    ExpectLines(pc, r.samples);
    for (size_t s = 0; s < pc.lines.size(); ++s) {
      c.component.push_back(ParseDouble(pc, s, pc.lines[s]));
    }
    r.clusters.push_back(std::move(c));
  }
  return r;
}

}  // namespace

RunResults ReadRunResults(const std::string& outDir, int clustersDone) {
  return ReadResults(outDir, clustersDone);
}

}  // namespace tarvok
