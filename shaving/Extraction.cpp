#include "shaving/Extraction.h"

#include <cmath>
#include <string>

#include "engine/Reporting.h"
#include "numeric/VectorClones.h"
#include "results/Labels.h"
#include "results/OutputDirectory.h"
#include "results/Writers.h"
#include "shaving/GapStatistic.h"

void WriteClusterFiles(const DMatrix& R, int N, int n, const IVector& order,
                       const CVector& clusterLabelFileNames, const CVector& geneLabels,
                       const CVector& clusterFileNames, int i) {
  std::string dataPath = OutputPath(clusterFileNames[i - 1]);
  DataDump(R, N, n, &order[0], dataPath.c_str());
  std::string labelPath = OutputPath(clusterLabelFileNames[i - 1]);
  StoreLabels(geneLabels, n, &order[0], labelPath.c_str());
}

TARVOK_VECTOR_CLONES void OrthogonalizeMatrix(const DMatrix& X, const DVector& v, int G, int N) {
  double s = 0.0;
  for (int j = 0; j < N; ++j) s += v[j] * v[j];
  if (!(s > 0.0)) return;
  double f = -1 / s;
  if (!std::isfinite(f)) return;

  DMatrix P = dmatrix(0, N - 1, 0, N - 1);
  for (int i = 0; i < N; ++i) {
    double ci = f * v[i];
    for (int j = 0; j < i; ++j) {
      P[i][j] = ci * v[j];
      P[j][i] = P[i][j];
    }
    P[i][i] = ci * v[i] + 1;
  }
  // Rows are independent, so one row of the result at a time is enough.
  // P is exactly symmetric, so the sum for entry j, over k of P[j][k] x[k],
  // is also one over k of P[k][j] x[k]: read that way, the N sums of a row
  // run side by side in vector lanes, each still over k in order.
  DVector y = dvector(0, N - 1);
  for (int g = 0; g < G; ++g) {
    double* x = &X[g][0];
    SumRowMultiples(
        N, [&P](int k) { return &P[k][0]; }, [x](int k) { return x[k]; }, 0, N, &y[0]);
    for (int j = 0; j < N; ++j) x[j] = y[j];
  }
  ReleaseDvector(y, 0, N - 1);
  ReleaseDmatrix(P, 0, N - 1, 0, N - 1);
}

void ExtractCluster(const DMatrix& X, const DMatrix& R, int G, int N, int B, double tolerance, int i,
                    int K, const CVector& geneLabels, const CVector& clusterFileNames,
                    const CVector& clusterLabelFileNames, const DMatrix& transform, int c,
                    ShaveSequence* sequence) {
  EstimateOptClusterSize(sequence, X, G, N, B, tolerance, i, K, transform, c);
  const int n = sequence->sizes[sequence->chosen];
  WriteClusterFiles(R, N, n, sequence->order, clusterLabelFileNames, geneLabels, clusterFileNames, i);
  DVector mean = dvector(0, N - 1);
  ClusterMeanGene(X, N, n, mean, sequence->order, sequence->chosenScores);
  MonitorLog("%s %d", kMonitorOrthogonalizeMatrix, i);
  OrthogonalizeMatrix(X, mean, G, N);
  ReleaseDvector(mean, 0, N - 1);
}
