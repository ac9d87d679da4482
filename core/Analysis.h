// The gene-shaving analysis as an in-memory C++ API: options in, result
// record out, progress and cancellation through an observer. Every face of
// the engine (the C ABI, the command-line program, the Python and R
// packages) runs the method through this header and nothing below it.
//
// Failures throw tarvok::Error, whose message is the exact text the C face
// prints; a cancelled run throws tarvok::Cancelled. Nothing here ends the
// process, writes a file or prints.
//
// Reproducibility: every number depends only on the data, the options and
// the generator's starting state, never on the thread count.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Error.h"
#include "shaving/AxisSolver.h"
#include "core/ClusterRecord.h"
#include "shaving/CopyDistribution.h"

namespace tarvok {

// What to run. The defaults are those of the command-line program.
struct AnalysisOptions {
  int clusters = 5;            // K, clusters requested, >= 0
  int shavePercent = 10;       // percent of a cluster shaved per step, 1..97
  int permutations = 20;       // B, row-permuted copies per cluster, >= 1
  int tolerancePercent = 0;    // tolerance of the size choice, 0..100
  int supervisionPercent = 0;  // 0 unsupervised, 100 fully supervised, else a mixture
  // One class label per sample; required (and only read) when
  // supervisionPercent is not 0. Classes are numbered in order of first
  // appearance, as a classification file's lines would be.
  std::vector<int> classes;
  int threads = 1;  // worker threads for the permuted copies, 1..1024
  // Generator state at the start (1 is the state of a fresh process), or
  // -1 for the calling thread's own generator, which the run then advances
  // so that a second run on the same thread continues its stream.
  std::int64_t generatorState = 1;
  // How each shaving step finds its leading axis (shaving/AxisSolver.h):
  // Exact by default; Fast for many samples, where the decomposition's
  // O(samples^3) per step dominates. Fast's axes can carry the other sign.
  Solver solver = Solver::Exact;
  // Processes that run this same analysis in lockstep and share each
  // pass's permuted copies (shaving/CopyDistribution.h); not owned. Every
  // rank must be given the same data and options (threads aside) and a
  // generator in the same state; the results are then those of one process.
  // A rank's observer hears CopyShaved only for the rank's own copies.
  CopyDistribution* distribution = nullptr;
};

enum class StopReason {
  Completed,          // every requested cluster was extracted
  NoClustersLeft,     // a pass before the last chose the whole remaining gene set
  VarianceExhausted,  // what the earlier clusters left holds no variance beyond rounding
};

struct AnalysisResult {
  int genes = 0, samples = 0;
  std::vector<ClusterRecord> clusters;  // clusters 1..clustersDone, in order
  StopReason stopReason = StopReason::Completed;
  int ClustersDone() const { return static_cast<int>(clusters.size()); }
};

// Receives the events of a run, on the calling thread, in the order of the
// run's monitor lines. Every method may throw; the run then unwinds (its
// workers joined) and the exception reaches the caller of Run.
class AnalysisObserver {
 public:
  virtual ~AnalysisObserver() = default;
  virtual void PassStarted(int /*cluster*/) {}               // pass i (from 1) begins
  virtual void ShavingData(int /*cluster*/) {}               // the data's nested sequence starts
  virtual void DataShaved(int /*cluster*/, int /*clusters*/) {}  // ... and is done
  virtual void CopyShaved(int /*copy*/, int /*copies*/) {}   // permuted copy b (from 1) of B done
  // The pass's size is chosen; the record is complete.
  virtual void SizeChosen(int /*cluster*/, const ClusterRecord& /*record*/) {}
  virtual void Orthogonalizing(int /*cluster*/) {}           // the mean pattern is about to be removed
  virtual void ClusterDone(int /*cluster*/, const ClusterRecord& /*record*/) {}
  // Polled on the calling thread at least once per permuted copy and about
  // every 0.1 s while workers run; true stops the run with Cancelled.
  virtual bool CancelRequested() { return false; }
};

// An observer that passes every event on to next; a face derives from it
// and overrides only the events it adds something to (calling the base to
// pass them on).
class RelayObserver : public AnalysisObserver {
 public:
  explicit RelayObserver(AnalysisObserver& next) : next_(next) {}
  void PassStarted(int i) override { next_.PassStarted(i); }
  void ShavingData(int i) override { next_.ShavingData(i); }
  void DataShaved(int i, int K) override { next_.DataShaved(i, K); }
  void CopyShaved(int b, int B) override { next_.CopyShaved(b, B); }
  void SizeChosen(int i, const ClusterRecord& record) override { next_.SizeChosen(i, record); }
  void Orthogonalizing(int i) override { next_.Orthogonalizing(i); }
  void ClusterDone(int i, const ClusterRecord& record) override { next_.ClusterDone(i, record); }
  bool CancelRequested() override { return next_.CancelRequested(); }

 private:
  AnalysisObserver& next_;
};

class AnalysisState;

// One analysis, configured once and then run. Construction checks the
// options, builds the supervision transform, copies the data and centres
// every gene; Run extracts the clusters.
class Analysis {
 public:
  // data: genes x samples, row-major by gene (the value of gene g in sample
  // s at g * samples + s); copied, never kept. Throws Error for options out
  // of range, fewer than 2 genes or samples, values that are not finite, or
  // classes that do not fit.
  Analysis(const double* data, int genes, int samples, const AnalysisOptions& options);
  ~Analysis();
  Analysis(const Analysis&) = delete;
  Analysis& operator=(const Analysis&) = delete;

  int Genes() const;
  int Samples() const;
  int Clusters() const;  // clusters requested
  // The centred data (never orthogonalised): gene g's samples values.
  const double* CentredRow(int g) const;

  // Extracts up to options.clusters clusters. Call once.
  AnalysisResult Run(AnalysisObserver* observer = nullptr);

 private:
  std::unique_ptr<AnalysisState> state_;
};

// Analyze: Analysis(data, genes, samples, options).Run(observer).
AnalysisResult Analyze(const double* data, int genes, int samples, const AnalysisOptions& options,
                       AnalysisObserver* observer = nullptr);

}  // namespace tarvok
