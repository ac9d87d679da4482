// Supervised analyses of the Golub leukaemia data (27 ALL, 11 AML samples).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Tarvok.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kTable = std::string(TARVOK_DATA_DIR) + "/golub.tsv";
const std::string kClasses = std::string(TARVOK_DATA_DIR) + "/golub.classes";

void ReadGolub(std::vector<double>& values, int& genes, int& samples) {
  std::ifstream in(kTable);
  std::string line;
  std::getline(in, line);
  genes = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string cell;
    std::getline(fields, cell, '\t');
    samples = 0;
    while (std::getline(fields, cell, '\t')) {
      values.push_back(std::strtod(cell.c_str(), nullptr));
      ++samples;
    }
    ++genes;
  }
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> numbers;
  std::istringstream in(text);
  for (double v; in >> v;) numbers.push_back(v);
  return numbers;
}

size_t LineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

// The measure of separation: sorted by the first cluster's component, the
// samples fall into two runs, every sample of one class on one side of every
// sample of the other, and the gap between the runs is wider than the
// spread of the component within the narrower class.
TEST(SupervisedRun, GolubComponentSeparatesTheClasses) {
  std::vector<double> data;
  int G = 0, N = 0;
  ReadGolub(data, G, N);
  ASSERT_EQ(G, 3051);
  ASSERT_EQ(N, 38);
  std::vector<int> classes;
  for (double c : Numbers(ReadFile(kClasses))) classes.push_back(static_cast<int>(c));
  ASSERT_EQ(classes.size(), 38u);

  for (int supervise : {100, 50}) {
    TempDir out;
    ChildResult r = RunInChild([&] {
      setenv("TVOUTPUT", out.path().c_str(), 1);
      int K = 2, shave = 10, B = 4, tolerance = 0, monitor = 0, generate = 1, dump = 0, done = 0;
      char* path = const_cast<char*>(kClasses.c_str());
      RuzoVavav(&K, &shave, &B, &tolerance, data.data(), &G, &N, &monitor, &generate, &dump, &supervise, &path,
                &done);
      if (done != 2) std::exit(3);
    });
    ASSERT_EQ(r.exitStatus, 0) << supervise << ": " << r.out << r.err;

    std::vector<double> lengths = Numbers(ReadFile(out.File("clusterlengths.txt")));
    ASSERT_EQ(lengths.size(), 4u);
    for (int i = 1; i <= 2; ++i) {
      const std::string n = "0000" + std::to_string(i) + ".txt";
      const size_t size = static_cast<size_t>(lengths[2 * (i - 1) + 1]);
      EXPECT_EQ(LineCount(ReadFile(out.File("clabels" + n))), size);
      EXPECT_EQ(LineCount(ReadFile(out.File("cluster" + n))), size * 38);
      EXPECT_EQ(LineCount(ReadFile(out.File("pc" + n))), 38u);
      EXPECT_EQ(LineCount(ReadFile(out.File("gap" + n))), LineCount(ReadFile(out.File("variance" + n))));
    }

    std::vector<double> component = Numbers(ReadFile(out.File("pc00001.txt")));
    double low[2] = {1e300, 1e300}, high[2] = {-1e300, -1e300};
    for (int s = 0; s < N; ++s) {
      low[classes[s]] = std::min(low[classes[s]], component[s]);
      high[classes[s]] = std::max(high[classes[s]], component[s]);
    }
    const int upper = low[1] > high[0] ? 1 : 0;  // the class on the high side
    const double gap = low[upper] - high[1 - upper];
    const double spread = std::min(high[0] - low[0], high[1] - low[1]);
    EXPECT_GT(gap, 0.0) << supervise << "%: the classes overlap";
    EXPECT_GT(gap, spread) << supervise << "%";
  }
}
