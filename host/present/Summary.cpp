#include "present/Summary.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "run/AtomicFile.h"
#include "base/Numbers.h"
#include "present/PreciseValues.h"
#include "present/Utf8.h"

namespace tarvok {

std::string SignificantDigits(double value) { return tarvok::General(value, 7); }

std::string FirstGenes(const ClusterResult& c, size_t count) {
  std::string text;
  for (size_t j = 0; j < c.geneLabels.size() && j < count; ++j) {
    if (j > 0) text += ' ';
    text += c.geneLabels[j];
  }
  if (c.geneLabels.size() > count) {
    text += " (+" + std::to_string(c.geneLabels.size() - count) + " more)";
  }
  return text;
}

void PrintSummary(const RunResults& r, std::ostream& out) {
  if (r.clusters.empty()) {
    out << "No clusters were extracted.\n";
    return;
  }
  const std::vector<std::string> header = {"cluster", "genes", "step", "eigenvalue",
                                           "R^2 %",   "gap",   "first genes"};
  std::vector<std::vector<std::string>> rows = {header};
  for (const ClusterResult& c : r.clusters) {
    rows.push_back({std::to_string(c.number), std::to_string(c.size),
                    std::to_string(c.chosenStep), SignificantDigits(c.eigenvalue), SignificantDigits(c.r2),
                    SignificantDigits(c.gap), FirstGenes(c, kSummaryFirstGenes)});
  }
  // Numbers right-aligned; the gene list is last and left as it is.
  std::vector<size_t> width(header.size() - 1, 0);
  for (const auto& row : rows) {
    for (size_t k = 0; k < width.size(); ++k) width[k] = std::max(width[k], row[k].size());
  }
  for (const auto& row : rows) {
    for (size_t k = 0; k < width.size(); ++k) {
      out << std::string(width[k] - row[k].size(), ' ') << row[k] << "  ";
    }
    out << row.back() << '\n';
  }
}

void WriteSummaryFiles(const RunResults& r, const RunInfo& info, const std::string& outDir) {
  std::ostringstream tsv;
  tsv << "cluster\tgenes\tstep\teigenvalue\tr2_percent\tgap\tgene_labels\n";
  for (const ClusterResult& c : r.clusters) {
    tsv << c.number << '\t' << c.size << '\t' << c.chosenStep << '\t' << SignificantDigits(c.eigenvalue)
        << '\t' << SignificantDigits(c.r2) << '\t' << SignificantDigits(c.gap) << '\t'
        << ReplaceInvalidUtf8(FirstGenes(c, c.geneLabels.size())) << '\n';
  }
  WriteFileAtomically(outDir + "/summary.tsv", tsv.str());

  using json = nlohmann::ordered_json;  // keys in the order written
  json clusters = json::array();
  for (const ClusterResult& c : r.clusters) {
    json cluster = PreciseJson(PreciseFromResult(c));
    cluster["gene_labels"] = c.geneLabels;
    clusters.push_back(cluster);
  }
  json doc = {{"program", "tarvok"},
              {"version", TARVOK_VERSION},
              {"table", info.table},
              {"genes", info.genes},
              {"samples", info.samples},
              {"parameters",
               {{"clusters", info.clusters},
                {"shave_percent", info.shave},
                {"permutations", info.permutations},
                {"tolerance_percent", info.tolerance},
                {"supervise_percent", info.supervise},
                {"seed", info.seed},
                {"classes_file", info.classesFile.empty() ? json(nullptr) : json(info.classesFile)}}},
              {"missing_values",
               {{"policy", info.missingPolicy},
                {"missing_cells", info.missingCells},
                {"dropped_genes", info.droppedGenes},
                {"dropped_samples", info.droppedSamples},
                {"imputed_cells", info.imputedCells}}},
              {"warnings", info.warnings},
              {"complete", info.incomplete.empty()},
              {"incomplete_reason", info.incomplete.empty() ? json(nullptr) : json(info.incomplete)},
              {"stopped_early", info.stoppedEarly},
              {"stop_reason", info.stopReason},
              {"clusters_done", r.clusters.size()},
              {"clusters", clusters}};
  // Labels come from the user's table and need not be UTF-8: replace bad
  // bytes rather than fail after the whole analysis has run. Numbers are
  // written so that reading them back gives the same doubles.
  WriteFileAtomically(outDir + "/summary.json", doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace tarvok
