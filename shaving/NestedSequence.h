// One nested shaving sequence: from all genes, repeatedly find the leading
// principal axis of the current cluster and shave the genes that follow it
// least, down to the sizes of the schedule.
#pragma once

#include <atomic>

#include "numeric/Arrays.h"
#include "shaving/AxisSolver.h"
#include "shaving/ShaveSequence.h"
#include "shaving/Supervision.h"

// The matrix a nested sequence shaves and the space it is shaved in.
struct ShavingInput {
  DMatrix data;  // genes x samples, rows centred; read only, not owned
  int genes = 0;
  int samples = 0;
  const SupervisionTransform* supervision = nullptr;  // none: unsupervised
  tarvok::Solver solver = tarvok::Solver::Exact;      // how each step's axis is found
};

// Where a nested sequence leaves its per-step results.
struct StepOutputs {
  PVector components;   // S slots, or entries == nullptr for none; slot k
                        // receives a new dvector 0..N-1 (the caller frees)
  DMatrix scores;       // S x G, required: row k gets the signed score of
                        // each gene of step k's cluster, nothing else
  DVector eigenvalues;  // 0..S-1, or data == nullptr for none

  // Scores only: the mode of the permuted copies.
  static StepOutputs ScoresOnly(const DMatrix& scores) { return StepOutputs{PVector{}, scores, DVector{}}; }
};

// ShaveNestedSequence: shaves input.data on the schedule of `sequence` and
// leaves the nested clusters in sequence->order. With a supervision
// transform every axis is found in the space of data x transform with rows
// re-centred. With Solver::Fast each step's axis comes from
// LeadingAxisLanczos warm-started from the step before's. When stop is given and becomes true, throws Cancelled at the
// next step.
void ShaveNestedSequence(ShaveSequence* sequence, const ShavingInput& input, const StepOutputs& outputs,
                         const std::atomic<bool>* stop = nullptr);

// TransformRows: W[i][j] = sum over s (ascending) of data[i][s] * transform[s][j].
void TransformRows(const DMatrix& W, const DMatrix& data, int G, int N, const DMatrix& transform,
                   int c);

// CrossProductMatrix: K = sum over the first g genes of order of w w^T
// (w a row of W with m entries), each entry summed in order position order;
// computed for j <= i and mirrored so K is exactly symmetric.
void CrossProductMatrix(const DMatrix& K, const DMatrix& W, int m, int g, const IVector& order);

// GeneScores: for p = 0..g-1, s = projection of rows[order[p]] (length
// entries) on axis; scoreRow[order[p]] = s when scoreRow.data is set, and
// A[p] = |s| always.
void GeneScores(const IVector& order, const DMatrix& rows, int g, int length, const DVector& axis,
                const DVector& scoreRow, const DVector& A);

// MoveLowestToEnd: selection from the tail. Moves the g - h lowest values of
// A (and their genes in order) to positions h..g-1, the lowest last. Ties:
// a tail value that is itself minimal stays; otherwise the lowest-indexed
// minimum moves.
void MoveLowestToEnd(const DVector& A, const IVector& order, int g, int h);

// The same result, faster when many genes go: tree (0..SelectionTreeSize(G)
// - 1, scratch) holds a tournament tree; with tree.data null, or when A
// holds a value that is not a number, the plain selection runs instead.
void MoveLowestToEnd(const DVector& A, const IVector& order, int g, int h, const IVector& tree);
int SelectionTreeSize(int G);

// DowndateCrossProduct: K -= w_r w_r^T for each listed gene r in turn,
// subtracting the same product from both triangles.
void DowndateCrossProduct(const DMatrix& K, const DMatrix& W, int m, int count, const int* genes);
