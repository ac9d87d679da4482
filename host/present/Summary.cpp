#include "present/Summary.h"

#include <algorithm>
#include <map>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "run/AtomicFile.h"
#include "base/Numbers.h"
#include "present/PreciseValues.h"
#include "present/Report.h"
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

std::vector<std::pair<std::string, int>> ClassCounts(const RunInfo& info) {
  const std::vector<std::string> names = SampleClassNames(info);
  std::map<int, std::pair<std::string, int>> byNumber;
  for (size_t s = 0; s < info.classes.size(); ++s) {
    auto& entry = byNumber[info.classes[s]];
    if (entry.second++ == 0) entry.first = s < names.size() ? names[s] : std::to_string(info.classes[s]);
  }
  std::vector<std::pair<std::string, int>> counts;
  for (const auto& entry : byNumber) counts.push_back(entry.second);
  return counts;
}

namespace {

std::string Counted(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string MissingValuesText(const RunInfo& info) {
  std::string text = info.missingPolicy + ": ";
  if (info.missingCells == 0) return text + "none found";
  text += Counted(info.missingCells, "missing cell", "missing cells");
  std::vector<std::string> done;
  if (info.droppedGenes > 0) done.push_back(Counted(info.droppedGenes, "gene", "genes"));
  if (info.droppedSamples > 0) done.push_back(Counted(info.droppedSamples, "sample", "samples"));
  if (!done.empty()) text += "; " + done[0] + (done.size() > 1 ? " and " + done[1] : "") + " left out";
  if (info.imputedCells > 0) {
    text += "; " + Counted(info.imputedCells, "cell", "cells") + " filled with the gene's mean";
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

namespace {

// The run's classes: where they came from, their names with sample counts
// and each sample's class; null without classes.
nlohmann::ordered_json ClassesJson(const RunInfo& info) {
  using json = nlohmann::ordered_json;
  if (info.classes.empty()) return json(nullptr);
  json names = json::array(), counts = json::array();
  for (const auto& entry : ClassCounts(info)) {
    names.push_back(entry.first);
    counts.push_back(entry.second);
  }
  return {{"source", info.classesFile},
          {"field", info.classField.empty() ? json(nullptr) : json(info.classField)},
          {"names", names},
          {"counts", counts},
          {"of_samples", SampleClassNames(info)}};
}

}  // namespace

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
    // Each gene's row of the analysed table (from 1, the line of
    // RowLbls.txt): labels may repeat, rows do not.
    if (c.geneRows.size() == c.geneLabels.size()) {
      json rows = json::array();
      for (int row : c.geneRows) rows.push_back(row + 1);
      cluster["gene_rows"] = rows;
    }
    if (!c.geneSymbols.empty()) cluster["gene_symbols"] = c.geneSymbols;
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
              {"classes", ClassesJson(info)},
              {"log2",
               {{"choice", info.log2Choice},
                {"applied", info.log2.decision.apply},
                {"reason", info.log2.decision.reason},
                {"non_positive_cells", info.log2.nonPositive}}},
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
