#include "shaving/Extraction.h"

#include <cmath>

void OrthogonalizeMatrix(const DMatrix& X, const DVector& v, int G, int N) {
  double s = 0.0;
  for (int j = 0; j < N; ++j) s += v[j] * v[j];
  if (!(s > 0.0)) return;
  double f = -1 / s;
  if (!std::isfinite(f)) return;

  Matrix P(N, N);
  for (int i = 0; i < N; ++i) {
    double ci = f * v[i];
    for (int j = 0; j < i; ++j) {
      P[i][j] = ci * v[j];
      P[j][i] = P[i][j];
    }
    P[i][i] = ci * v[i] + 1;
  }
  // Rows are independent, so one row of the result at a time is enough.
  // P is exactly symmetric, so P[k][j] is read as P[j][k], along a row.
  Vector y(N);
  for (int g = 0; g < G; ++g) {
    double* x = &X[g][0];
    for (int j = 0; j < N; ++j) {
      const double* pj = &P[j][0];
      double sum = 0.0;
      for (int k = 0; k < N; ++k) sum += pj[k] * x[k];
      y[j] = sum;
    }
    for (int j = 0; j < N; ++j) x[j] = y[j];
  }
}

tarvok::ClusterRecord ExtractCluster(ShaveSequence* sequence, const ShavingInput& input,
                                     const GapOptions& options, PassEvents& events) {
  tarvok::ClusterRecord record = EstimateOptClusterSize(sequence, input, options, events);
  events.SizeChosen(record);
  const int N = input.samples;
  Vector mean(N);
  ClusterMeanGene(input.data, N, record.size, mean, sequence->order, sequence->chosenScores);
  events.Orthogonalizing();
  OrthogonalizeMatrix(input.data, mean, input.genes, N);
  return record;
}
