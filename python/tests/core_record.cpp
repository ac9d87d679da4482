// Prints the core's result record at full precision (hex floats), each
// cluster oriented as every face presents it, for the
// Python package's exactness test: this program links the core as CMake
// builds it for the shared library, the package compiles its own copy.
//
// Usage: core_record MATRIX GENES SAMPLES CLUSTERS SHAVE PERMUTATIONS TOLERANCE SUPERVISION [CLASS...]
// MATRIX holds GENES x SAMPLES float64 values, row-major by gene.
// With TARVOK_EXPORTS_DIR set it also writes the export files there, as the
// export library builds them from the analysis: genes GENE00001, ...,
// samples sample00001, ..., and the classes (when given) named by number.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Analysis.h"
#include "core/Orientation.h"
#include "exports/FromAnalysis.h"

namespace {

void PrintInts(const char* name, const std::vector<int>& values) {
  std::printf("%s", name);
  for (int value : values) std::printf(" %d", value);
  std::printf("\n");
}

void PrintDoubles(const char* name, const std::vector<double>& values) {
  std::printf("%s", name);
  for (double value : values) std::printf(" %a", value);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 9) return 2;
  int genes = std::atoi(argv[2]), samples = std::atoi(argv[3]);
  std::vector<double> data(static_cast<std::size_t>(genes) * samples);
  FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr || std::fread(data.data(), sizeof(double), data.size(), file) != data.size()) return 2;
  std::fclose(file);
  tarvok::AnalysisOptions options;
  options.clusters = std::atoi(argv[4]);
  options.shavePercent = std::atoi(argv[5]);
  options.permutations = std::atoi(argv[6]);
  options.tolerancePercent = std::atoi(argv[7]);
  options.supervisionPercent = std::atoi(argv[8]);
  for (int a = 9; a < argc; ++a) options.classes.push_back(std::atoi(argv[a]));
  tarvok::Analysis analysis(data.data(), genes, samples, options);
  tarvok::AnalysisResult result = analysis.Run();
  for (const tarvok::ClusterRecord& raw : result.clusters) {
    const tarvok::ClusterRecord record = tarvok::Oriented(raw);
    std::printf("cluster %d %d %a\n", record.chosenStep, record.size, record.eigenvalue);
    PrintInts("genes", record.genes);
    PrintDoubles("scores", record.scores);
    PrintDoubles("component", record.component);
    PrintInts("sizes", record.sizes);
    PrintDoubles("gap", record.gap);
    PrintDoubles("r2", record.r2);
    PrintDoubles("r2_permuted", record.meanPermutedR2);
    PrintDoubles("between", record.between);
    PrintDoubles("total", record.total);
    PrintDoubles("within", record.within);
  }
  std::printf("stop %d\n", static_cast<int>(result.stopReason));
  if (const char* dir = std::getenv("TARVOK_EXPORTS_DIR")) {
    auto numbered = [](const char* format, int count) {
      std::vector<std::string> labels;
      char label[32];
      for (int j = 1; j <= count; ++j) labels.push_back((std::snprintf(label, sizeof label, format, j), label));
      return labels;
    };
    std::vector<std::string> geneLabels = numbered("GENE%05d", genes), sampleLabels = numbered("sample%05d", samples);
    std::vector<std::string> classNames;
    for (int c : options.classes) classNames.push_back(std::to_string(c));
    tarvok::exports::WriteExports(
        tarvok::exports::RecordOfAnalysis(analysis, result, {geneLabels, sampleLabels, classNames, {}}), dir);
  }
  return 0;
}
