// What one pass of the cluster loop finds: the chosen cluster and the
// nested sequence it was chosen from.
#pragma once

#include <vector>

namespace tarvok {

// One extracted cluster and the nested sequence it was chosen from.
struct ClusterRecord {
  int chosenStep = 0;  // 0-based step of the chosen size in the nested sequence
  int size = 0;        // genes in the cluster, sizes[chosenStep]
  std::vector<int> genes;       // row indices of the cluster's genes, cluster order
  std::vector<double> scores;   // signed score of each of those genes at the chosen step
  double eigenvalue = 0.0;      // leading eigenvalue at the chosen step
  std::vector<double> component;  // the chosen step's component, one entry per sample
  // Per step k = 0..S-1 of the nested sequence:
  std::vector<int> sizes;               // genes in the step's cluster
  std::vector<double> gap;              // r2 - meanPermutedR2
  std::vector<double> r2;               // percent of variance between samples, real data
  std::vector<double> meanPermutedR2;   // its mean over the permuted copies
  std::vector<double> between, total, within;  // the real data's variances
};

}  // namespace tarvok
