// One nested shaving sequence: from all genes, repeatedly find the leading
// principal axis of the current cluster and shave the genes that follow it
// least, down to the sizes of the schedule.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "numeric/Arrays.h"
#include "numeric/Lanczos.h"
#include "numeric/Svd.h"
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

// Which genes score positive at each step: S rows of G bytes, 1 where the
// gene's score is > 0 (zero and not-a-number count as negative). The
// cluster variances need no more of a score than this, at an eighth of a
// score table's memory.
class SignTable {
 public:
  SignTable() = default;
  SignTable(int steps, int genes);
  std::uint8_t* Row(int k) const { return cells_.get() + static_cast<std::size_t>(k) * genes_; }
  int Steps() const { return steps_; }
  int Genes() const { return genes_; }

 private:
  struct Free {
    void operator()(std::uint8_t* cells) const { std::free(cells); }
  };
  int steps_ = 0, genes_ = 0;
  std::unique_ptr<std::uint8_t[], Free> cells_;
};

// A score's entry in a SignTable.
inline std::uint8_t ScoreSign(double score) { return score > 0 ? 1 : 0; }

// Where a nested sequence leaves its per-step results.
struct StepOutputs {
  PVector components;   // S slots, or entries == nullptr for none; slot k
                        // receives a new dvector 0..N-1 (the caller frees)
  DMatrix scores;       // S x G, or rows == nullptr for none: row k gets the
                        // signed score of each gene of step k's cluster
  DVector eigenvalues;  // 0..S-1, or data == nullptr for none
  const SignTable* signs = nullptr;  // S x G, required: row k gets the sign of
                                     // each gene of step k's cluster, nothing else
  DMatrix axes;  // S x m, or rows == nullptr for none: row k gets step k's
                 // axis in the space shaved (StepScores recomputes its scores)

  // Signs only: the mode of the permuted copies.
  static StepOutputs SignsOnly(const SignTable& signs) {
    return StepOutputs{PVector{}, DMatrix{}, DVector{}, &signs, DMatrix{}};
  }
};

// The dimension a nested sequence of input shaves in: the samples, or the
// supervision transform's columns.
int ShavedDimension(const ShavingInput& input);

// The work arrays of a nested sequence. A worker that shaves one sequence
// after another keeps one and hands it to each, so the large blocks (the
// m x m cross-product matrix above all) are allocated once per analysis
// rather than once per sequence. Nothing carries over from one sequence to
// the next: every array is written before it is read.
struct SequenceScratch {
  Matrix K;            // m x m
  AxisScratch axis;    // the exact solver's decomposition of K
  Matrix transformed;  // G x c, supervised only
  Vector D, A, component, u, previousAxis;
  IntVector tree;
  std::unique_ptr<LanczosWorkspace> lanczos;
};

// ShaveNestedSequence: shaves input.data on the schedule of `sequence` and
// leaves the nested clusters in sequence->order. With a supervision
// transform every axis is found in the space of data x transform with rows
// re-centred. With Solver::Fast each step's axis comes from
// LeadingAxisLanczos warm-started from the step before's. When stop is
// given and becomes true, throws Cancelled at the next step. scratch, when
// given, supplies the work arrays (sized here as needed).
void ShaveNestedSequence(ShaveSequence* sequence, const ShavingInput& input, const StepOutputs& outputs,
                         const std::atomic<bool>* stop = nullptr, SequenceScratch* scratch = nullptr);

// ShaveNestedSequencePair: two independent sequences on one thread, each
// with its own scratch, giving each the results it gets alone. Sequences
// on the same schedule and in the same space go step by step together, and
// with the exact solver each step finds both axes at once (LeadingAxes),
// whose QR sweeps then overlap; others run one after the other.
void ShaveNestedSequencePair(ShaveSequence* const sequences[2], const ShavingInput inputs[2],
                             const StepOutputs outputs[2], const std::atomic<bool>* stop,
                             SequenceScratch* const scratch[2]);

// TransformRows: W[i][j] = sum over s (ascending) of data[i][s] * transform[s][j].
void TransformRows(const DMatrix& W, const DMatrix& data, int G, int N, const DMatrix& transform,
                   int c);

// CrossProductMatrix: K = sum over the first g genes of order of w w^T
// (w a row of W with m entries), each entry summed in order position order;
// computed for j <= i and mirrored so K is exactly symmetric.
void CrossProductMatrix(const DMatrix& K, const DMatrix& W, int m, int g, const IVector& order);

// GeneScores: for p = 0..g-1, s = projection of rows[order[p]] (length
// entries) on axis; scoreRow[order[p]] = s when scoreRow.data is set,
// signRow[order[p]] = (s > 0) when signRow is, and A[p] = |s| always.
void GeneScores(const IVector& order, const DMatrix& rows, int g, int length, const DVector& axis,
                const DVector& scoreRow, const DVector& A, std::uint8_t* signRow = nullptr);

// StepScores: scoreRow[order[p]] for p = 0..n-1, the signed scores of the
// genes of a step's cluster on that step's axis (from StepOutputs::axes),
// the same bits GeneScores gave them while the sequence ran. Keeping a
// step's axis instead of its G scores leaves only the chosen step's to
// compute.
void StepScores(const ShavingInput& input, const IVector& order, int n, const DVector& axis,
                const DVector& scoreRow);

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
