#include "present/PreciseValues.h"

namespace tarvok {

PreciseCluster PreciseFromResult(const ClusterResult& c) {
  PreciseCluster p;
  p.number = c.number;
  p.chosenStep = c.chosenStep;
  p.size = c.size;
  p.eigenvalue = c.eigenvalue;
  p.component = c.component;
  p.scores = c.scores;
  p.sizes = c.sizes;
  p.gap = c.gapCurve;
  p.r2 = c.r2Curve;
  p.meanPermutedR2 = c.meanPermutedR2;
  p.between = c.between;
  p.total = c.total;
  p.within = c.within;
  return p;
}

nlohmann::ordered_json PreciseJson(const PreciseCluster& p) {
  const size_t step = static_cast<size_t>(p.chosenStep - 1);
  const bool chosen = p.chosenStep >= 1 && step < p.gap.size() && step < p.r2.size();
  return {{"cluster", p.number},
          {"genes", p.size},
          {"step", p.chosenStep},
          {"eigenvalue", p.eigenvalue},
          {"r2_percent", chosen ? p.r2[step] : 0.0},
          {"gap", chosen ? p.gap[step] : 0.0},
          {"component", p.component},
          {"scores", p.scores},
          {"steps",
           {{"genes", p.sizes},
            {"gap", p.gap},
            {"r2_percent", p.r2},
            {"mean_permuted_r2_percent", p.meanPermutedR2},
            {"between", p.between},
            {"total", p.total},
            {"within", p.within}}}};
}

namespace {

template <typename T>
bool Take(const nlohmann::json& j, const char* key, T* value) {
  if (!j.is_object() || !j.contains(key)) return false;
  try {
    *value = j.at(key).get<T>();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return true;
}

}  // namespace

bool ParsePrecise(const nlohmann::json& j, PreciseCluster* p) {
  if (!j.is_object() || !j.contains("steps")) return false;
  const nlohmann::json& steps = j["steps"];
  if (!Take(j, "cluster", &p->number) || !Take(j, "genes", &p->size) || !Take(j, "step", &p->chosenStep) ||
      !Take(j, "eigenvalue", &p->eigenvalue) || !Take(j, "component", &p->component) ||
      !Take(steps, "genes", &p->sizes) || !Take(steps, "gap", &p->gap) || !Take(steps, "r2_percent", &p->r2) ||
      !Take(steps, "mean_permuted_r2_percent", &p->meanPermutedR2) || !Take(steps, "between", &p->between) ||
      !Take(steps, "total", &p->total) || !Take(steps, "within", &p->within)) {
    return false;
  }
  // Scores came later than the rest: a summary without them (or with none,
  // from a run read back from its files) still serves.
  if (j.contains("scores") &&
      (!Take(j, "scores", &p->scores) || (!p->scores.empty() && static_cast<int>(p->scores.size()) != p->size))) {
    return false;
  }
  // Table rows and symbols came later still.
  if (j.contains("gene_rows")) {
    if (!Take(j, "gene_rows", &p->geneRows) || static_cast<int>(p->geneRows.size()) != p->size) return false;
    for (int& row : p->geneRows) {
      if (row < 1) return false;
      row -= 1;
    }
  }
  if (j.contains("gene_symbols") &&
      (!Take(j, "gene_symbols", &p->geneSymbols) || static_cast<int>(p->geneSymbols.size()) != p->size)) {
    return false;
  }
  const size_t n = p->sizes.size();
  return p->chosenStep >= 1 && static_cast<size_t>(p->chosenStep) <= n && p->gap.size() == n &&
         p->r2.size() == n && p->meanPermutedR2.size() == n && p->between.size() == n && p->total.size() == n &&
         p->within.size() == n;
}

int TakePreciseValues(RunResults& r, const std::vector<PreciseCluster>& precise) {
  int taken = 0;
  for (ClusterResult& c : r.clusters) {
    for (const PreciseCluster& p : precise) {
      if (p.number != c.number || p.size != c.size || p.chosenStep != c.chosenStep || p.sizes != c.sizes ||
          p.component.size() != c.component.size()) {
        continue;
      }
      const size_t step = static_cast<size_t>(p.chosenStep - 1);
      c.eigenvalue = p.eigenvalue;
      c.component = p.component;
      c.scores = p.scores;
      c.geneRows = p.geneRows;
      c.geneSymbols = p.geneSymbols;
      c.gapCurve = p.gap;
      c.r2Curve = p.r2;
      c.meanPermutedR2 = p.meanPermutedR2;
      c.between = p.between;
      c.total = p.total;
      c.within = p.within;
      c.gap = p.gap[step];
      c.r2 = p.r2[step];
      ++taken;
      break;
    }
  }
  return taken;
}

}  // namespace tarvok
