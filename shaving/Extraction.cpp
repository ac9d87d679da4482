#include "shaving/Extraction.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/VectorClones.h"

namespace {

// x = P x for every row x of X, P exactly symmetric: the sum for entry j,
// over k of P[j][k] x[k], is also one over k of P[k][j] x[k]. Read that way
// the N sums of a row run side by side in vector lanes, each still over k
// in order. y is scratch for one row.
TARVOK_VECTOR_CLONES void ProjectRows(const DMatrix& X, const DMatrix& P, double* y, int G, int N) {
  for (int g = 0; g < G; ++g) {
    double* x = &X[g][0];
    SumRowMultiples(
        N, [&P](int k) { return &P[k][0]; }, [x](int k) { return x[k]; }, 0, N, y);
    for (int j = 0; j < N; ++j) x[j] = y[j];
  }
}

}  // namespace

// Allocates, so it is not compiled in several versions itself: a failure
// thrown through the loader's choice of version would end the process.
void OrthogonalizeMatrix(const DMatrix& X, const DVector& v, int G, int N, const Matrix* projector) {
  double s = 0.0;
  for (int j = 0; j < N; ++j) s += v[j] * v[j];
  if (!(s > 0.0)) return;
  double f = -1 / s;
  if (!std::isfinite(f)) return;

  Matrix own = projector != nullptr ? Matrix() : Matrix(N, N);
  const Matrix& P = projector != nullptr ? *projector : own;
  for (int i = 0; i < N; ++i) {
    double ci = f * v[i];
    for (int j = 0; j < i; ++j) {
      P[i][j] = ci * v[j];
      P[j][i] = P[i][j];
    }
    P[i][i] = ci * v[i] + 1;
  }
  // Rows are independent, so one row of the result at a time is enough.
  Vector y(N);
  ProjectRows(X, P, y.Data(), G, N);
}

tarvok::ClusterRecord ExtractCluster(ShaveSequence* sequence, const ShavingInput& input,
                                     const GapOptions& options, PassEvents& events) {
  tarvok::ClusterRecord record = EstimateOptClusterSize(sequence, input, options, events);
  events.SizeChosen(record);
  const int N = input.samples;
  Vector mean(N);
  std::vector<std::uint8_t> positive(static_cast<size_t>(input.genes));
  for (int t = 0; t < record.size; ++t) {
    const int gene = sequence->order[t];
    positive[static_cast<size_t>(gene)] = ScoreSign(sequence->chosenScores[gene]);
  }
  ClusterMeanGene(input.data, N, record.size, mean, sequence->order, positive.data());
  events.Orthogonalizing();
  OrthogonalizeMatrix(input.data, mean, input.genes, N,
                      options.workspace != nullptr ? &options.workspace->SquareScratch(N) : nullptr);
  return record;
}
