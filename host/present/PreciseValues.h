// The numbers of finished clusters at full precision. The result files hold
// six decimals; the analysis process hands tarvok each cluster's numbers as
// a JSON line, and summary.json keeps them in the same shape, so that
// "tarvok export" works from the same numbers as the run did.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "present/ResultFiles.h"
#include "core/ClusterRecord.h"

namespace tarvok {

struct PreciseCluster {
  int number = 0;      // 1-based cluster number
  int chosenStep = 0;  // 1-based step of the chosen size
  int size = 0;
  double eigenvalue = 0.0;
  std::vector<double> component;
  std::vector<double> scores;  // the analysis's own score of each gene, cluster order
  std::vector<int> geneRows;   // each gene's table row from 0, cluster order; empty: unknown
  std::vector<std::string> geneSymbols;  // each gene's symbol, cluster order; empty: none
  std::vector<int> sizes;  // per step, as the curves below
  std::vector<double> gap, r2, meanPermutedR2, between, total, within;
};

PreciseCluster PreciseFromResult(const ClusterResult& cluster);

// The keys of one cluster of summary.json: "cluster", "genes", "step",
// "eigenvalue", "r2_percent", "gap" (at the chosen step), "component" and
// "scores" (each gene's, cluster order) and "steps" (the per-step curves).
// Numbers read back as the same doubles.
nlohmann::ordered_json PreciseJson(const PreciseCluster& p);

// The cluster in j, or false when j lacks a key or holds a value of the
// wrong type or length. "gene_rows" (from 1) and "gene_symbols" are
// optional.
bool ParsePrecise(const nlohmann::json& j, PreciseCluster* p);

// Replaces the six-decimal numbers of every cluster of r that has a precise
// counterpart of the same number, size and steps, and gives it the
// counterpart's table rows and symbols; other clusters keep theirs.
// Returns how many clusters took precise values.
int TakePreciseValues(RunResults& r, const std::vector<PreciseCluster>& precise);

}  // namespace tarvok
