#include "present/RunRecord.h"

#include <filesystem>

#include "core/Orientation.h"
#include "exports/Exports.h"
#include "tables/ByteSource.h"

namespace tarvok {

std::string TableName(const std::string& table) {
  if (IsStandardInput(table)) return "stdin";
  std::filesystem::path path(table);
  if (path.extension() == ".gz" || path.extension() == ".GZ") path = path.stem();
  // Leading dots dropped: a table named ".tsv" must not make a hidden name.
  std::string name = path.filename().string();
  name.erase(0, name.find_first_not_of('.') == std::string::npos ? name.size() : name.find_first_not_of('.'));
  std::string stem = std::filesystem::path(name).stem().string();
  return stem.empty() ? std::string("tarvok") : stem;
}

RunResults RunResultsOf(const tarvok::Analysis& analysis, const std::vector<tarvok::ClusterRecord>& clusters,
                        const std::vector<std::string>& geneLabels, const std::vector<std::string>& sampleLabels,
                        const std::vector<std::string>& geneSymbols) {
  RunResults r;
  r.samples = analysis.Samples();
  r.sampleLabels = sampleLabels;
  int number = 0;
  for (const tarvok::ClusterRecord& raw : clusters) {
    const tarvok::ClusterRecord record = tarvok::Oriented(raw);
    ClusterResult c;
    c.number = ++number;
    c.chosenStep = record.chosenStep + 1;
    c.size = record.size;
    c.eigenvalue = record.eigenvalue;
    c.r2 = record.r2[record.chosenStep];
    c.gap = record.gap[record.chosenStep];
    c.component = record.component;
    c.sizes = record.sizes;
    c.gapCurve = record.gap;
    c.r2Curve = record.r2;
    c.meanPermutedR2 = record.meanPermutedR2;
    c.between = record.between;
    c.total = record.total;
    c.within = record.within;
    for (int gene : record.genes) {
      c.geneLabels.push_back(geneLabels[static_cast<size_t>(gene)]);
      c.geneRows.push_back(gene);
      if (!geneSymbols.empty()) c.geneSymbols.push_back(geneSymbols[static_cast<size_t>(gene)]);
      const double* row = analysis.CentredRow(gene);
      c.data.emplace_back(row, row + r.samples);
    }
    c.scores = record.scores;
    r.clusters.push_back(std::move(c));
  }
  return r;
}

std::vector<double> GeneScores(const ClusterResult& c) {
  if (!c.scores.empty()) return c.scores;
  std::vector<double> scores;
  for (const std::vector<double>& row : c.data) {
    scores.push_back(tarvok::exports::Projection(row, c.component));
  }
  return scores;
}

void OrientCluster(ClusterResult& c) {
  if (!tarvok::NeedsFlip(GeneScores(c))) return;
  tarvok::Negate(c.component);
  tarvok::Negate(c.scores);
}

std::vector<int> GeneSigns(const ClusterResult& c) {
  std::vector<int> signs;
  for (double score : GeneScores(c)) signs.push_back(score > 0.0 ? 1 : -1);
  return signs;
}

}  // namespace tarvok
