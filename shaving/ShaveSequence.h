// The shave schedule and the record of one nested shaving sequence.
#pragma once

#include <memory>

#include "numeric/Arrays.h"

// One nested sequence of clusters and the cluster chosen from it.
// Steps are numbered 0..stepCount-1; the cluster of step k is
// order[0..sizes[k]-1]. sizes[stepCount] is only the size the last step
// shaves to, never a candidate. The record owns its four arrays; whoever
// frees it passes the gene count G and sample count N again.
struct ShaveSequence {
  int stepCount;            // S
  IVector sizes;            // 0..S: sizes[0] = G, strictly decreasing to 1
  IVector order;            // 0..G-1: a permutation of the genes
  int chosen;               // chosen step, 0..S-1
  double chosenEigenvalue;  // leading eigenvalue of the chosen step
  DVector chosenComponent;  // 0..N-1: component of the chosen step
  DVector chosenScores;     // 0..G-1: signed scores of the chosen cluster's genes, by gene (others stale)
};

// ShaveCount: genes to remove from a cluster of `size` genes. Clusters of
// 20 genes or fewer lose one; larger ones the product size * fraction
// rounded to nearest with exact halves rounded down, and at least 1 when the
// product lies in (0, 1).
int ShaveCount(int size, double fraction);

// NewShaveSequence: a zero-filled record with the schedule for G genes at
// the given shave fraction, and order/chosenScores (G) and chosenComponent
// (N) allocated. The fraction must lie in (0, 0.98) so that the schedule
// ends at exactly one gene; the run driver checks the percentage first.
// Throws Error ("Error creating result structure: ...", or an array's
// allocation message), having released whatever it had made.
ShaveSequence* NewShaveSequence(int G, int N, double fraction);

// CopyShaveSequence: a new record with the same stepCount and sizes as
// source and fresh zero-filled arrays for everything else.
ShaveSequence* CopyShaveSequence(int G, int N, const ShaveSequence* source);

// FreeShaveSequence: releases the record and its arrays (null: nothing).
void FreeShaveSequence(ShaveSequence* sequence, int G, int N);

// A record that frees itself.
struct ShaveSequenceDeleter {
  void operator()(ShaveSequence* sequence) const;
};
using OwnedShaveSequence = std::unique_ptr<ShaveSequence, ShaveSequenceDeleter>;
