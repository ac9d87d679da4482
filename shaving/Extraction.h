// One pass of the cluster loop: the size choice and the removal of the
// cluster's mean pattern from the working matrix.
#pragma once

#include "numeric/Arrays.h"
#include "core/ClusterRecord.h"
#include "shaving/GapStatistic.h"
#include "shaving/ShaveSequence.h"

// ExtractCluster: finds the next cluster in input.data (the working matrix,
// G x N, which this pass orthogonalises in place against the cluster's
// sign-aligned mean gene) and returns its record. Events: those of
// EstimateOptClusterSize, then SizeChosen with the record, then
// Orthogonalizing right before the working matrix changes.
tarvok::ClusterRecord ExtractCluster(ShaveSequence* sequence, const ShavingInput& input,
                                     const GapOptions& options, PassEvents& events);

// OrthogonalizeMatrix: every row x of X (G x N) becomes x - (x.v / v.v) v,
// through the projector P = I - v v^T / (v.v), each product summed over
// k = 0..N-1 in ascending order. A v of zero length (or so short that
// 1 / v.v overflows) leaves X unchanged: there is no direction to remove,
// and dividing by it would fill X with values that are not numbers.
// projector, when given, is N x N scratch for P; otherwise P is allocated.
void OrthogonalizeMatrix(const DMatrix& X, const DVector& v, int G, int N, const Matrix* projector = nullptr);
