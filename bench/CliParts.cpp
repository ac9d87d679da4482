// Times the parts of one "tarvok run" in this process, each on its own:
// reading the table, the analysis in memory, the analysis with the classic
// result files, the summary files, the CDT's cells (which "tarvok run" makes
// beside the analysis when a core is free), the exports (copying those
// cells), the figures and the report. Prints one line per part with its
// wall time in seconds.
//
// Usage: bench_cli_parts TABLE CLUSTERS PERMUTATIONS OUTDIR
// (shave 10 percent, one thread, unsupervised, as "tarvok run" defaults).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "exports/FromAnalysis.h"
#include "present/Exports.h"
#include "present/FigureFiles.h"
#include "present/Report.h"
#include "present/Summary.h"
#include "results/RunFiles.h"
#include "run/Runner.h"
#include "tables/Table.h"

using namespace tarvok;  // the host's code

namespace {

double Seconds(const std::function<void()>& part) {
  auto start = std::chrono::steady_clock::now();
  part();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* part, double seconds) { std::printf("%-22s %8.3f s\n", part, seconds); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_cli_parts TABLE CLUSTERS PERMUTATIONS OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[4];
  std::filesystem::create_directories(dir);
  tarvok::AnalysisOptions options;
  options.clusters = std::atoi(argv[2]);
  options.permutations = std::atoi(argv[3]);
  options.threads = 1;

  Table table;
  Report("read", Seconds([&] { table = ReadTable(argv[1], ReadOptions()); }));
  Report("analysis in memory", Seconds([&] {
           tarvok::Analyze(table.values.data(), table.genes, table.samples, options);
         }));
  tarvok::Analysis analysis(table.values.data(), table.genes, table.samples, options);
  tarvok::AnalysisResult result;
  Report("analysis with files", Seconds([&] {
           WriteLabelFiles(table, dir);
           ResultFiles files(table.genes, table.samples, options.clusters);
           ResultFilesOptions written;
           written.dir = dir;
           written.generateLabels = false;
           int done = 0;
           result = files.Run(analysis, written, &done);
         }));
  const std::vector<std::string> genes = GeneLabelsOf(table), samples = SampleLabelsOf(table);
  RunResults r;
  tarvok::exports::ExportRecord record;
  Report("records", Seconds([&] {
           r = RunResultsOf(analysis, result.clusters, genes, samples, table.geneSymbols);
           record = tarvok::exports::RecordOfAnalysis(analysis, result, {genes, samples, {}, table.geneSymbols});
         }));
  RunInfo info;
  info.table = argv[1];
  info.genes = table.genes;
  info.samples = table.samples;
  Report("summary", Seconds([&] { WriteSummaryFiles(r, info, dir); }));
  tarvok::exports::CdtCells cells;
  Report("cdt cells", Seconds([&] { cells = tarvok::exports::CdtCellsOf(analysis); }));
  record.cdtCells = &cells;
  Report("exports", Seconds([&] { tarvok::exports::WriteExports(record, dir); }));
  ReportFiles files;
  Report("figures", Seconds([&] {
           for (const ClusterResult& c : r.clusters) {
             files.figures.push_back(DrawClusterFigures(c, r.sampleLabels, {}, kHeatmapMaxRows));
             WriteFigureFiles(files.figures.back(), dir, FigureFormat::Svg);
           }
         }));
  files.figureFiles = true;
  Report("report", Seconds([&] { WriteReport(r, info, dir + "/report.html", files); }));
  return 0;
}
