// One pass of the cluster loop: size choice, the cluster's files, and the
// removal of its mean pattern from the working matrix.
#pragma once

#include "numeric/Arrays.h"
#include "shaving/ShaveSequence.h"

// ExtractCluster: finds cluster i (1-based, of K requested) in X, writes
// its gap, variance, data and label files, and orthogonalises X (G x N,
// changed in place) against the cluster's sign-aligned mean gene.
//   R                  (input) the centred data, never orthogonalised; the
//                              data file is written from it
//   B, tolerance       (input) permuted copies; tolerance in percent
//   geneLabels         (input) G labels
//   clusterFileNames, clusterLabelFileNames (input) K file names each
//   transform, c       (input) supervision transform or none
//   sequence           (in/out) schedule in; order and chosen fields out
void ExtractCluster(const DMatrix& X, const DMatrix& R, int G, int N, int B, double tolerance, int i,
                    int K, const CVector& geneLabels, const CVector& clusterFileNames,
                    const CVector& clusterLabelFileNames, const DMatrix& transform, int c,
                    ShaveSequence* sequence);

// WriteClusterFiles: the data file (from R) and the label file of the n
// genes order[0..n-1] of cluster i.
void WriteClusterFiles(const DMatrix& R, int N, int n, const IVector& order,
                       const CVector& clusterLabelFileNames, const CVector& geneLabels,
                       const CVector& clusterFileNames, int i);

// OrthogonalizeMatrix: every row x of X (G x N) becomes x - (x.v / v.v) v,
// through the projector P = I - v v^T / (v.v), each product summed over
// k = 0..N-1 in ascending order. A v of zero length (or so short that
// 1 / v.v overflows) leaves X unchanged: there is no direction to remove,
// and dividing by it would fill X with values that are not numbers.
void OrthogonalizeMatrix(const DMatrix& X, const DVector& v, int G, int N);
