// The ranks of an MPI job as the analysis's copy distribution, and the few
// collective steps the runner takes around it. Every collective step begins
// with an agreement on failure: a rank that failed anywhere joins the next
// step with its message, and every rank then learns the message of the
// lowest failing rank and stops, so no rank waits for one that gave up.
#pragma once

#include <mpi.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/Analysis.h"

namespace tarvok::mpi {

// Thrown on every rank when the ranks agreed that one of them failed.
class RanksFailed : public std::runtime_error {
 public:
  RanksFailed(const std::string& message, int exitStatus) : std::runtime_error(message), status(exitStatus) {}
  int status;  // the exit status every rank ends with
};

// What rank 0 hands every other rank: the analysis to run in lockstep.
struct SharedJob {
  AnalysisOptions options;  // generatorState explicit, distribution unset
  int genes = 0, samples = 0;
  std::vector<double> data;  // genes x samples, row-major
};

class MpiRanks : public CopyDistribution {
 public:
  explicit MpiRanks(MPI_Comm comm);
  int Rank() const override { return rank_; }
  int Ranks() const override { return ranks_; }

  // The permuted R2 rows of every rank to every rank: bitwise OR of the
  // tables, each rank having filled its own rows and left the others zero,
  // so every value arrives bit for bit.
  void Exchange(double* rows, int copies, int steps) override;

  // Rank 0: sends the job (options as the analysis will use them, and the
  // data). Other ranks: receive it, or nothing when rank 0 stopped before
  // the run (then *status holds rank 0's exit status).
  void SendJob(const AnalysisOptions& options, const double* data, int genes, int samples);
  bool ReceiveJob(SharedJob& job, int* status);
  // Rank 0, when it ends without a job: lets the others go with status.
  void Dismiss(int status);

  // The last step of a run that went well on this rank; throws RanksFailed
  // when another rank failed.
  void Finish();
  // This rank failed with message: joins the pending collective step and
  // returns what the ranks agreed on (the lowest failing rank's message).
  RanksFailed Fail(const std::string& message, int status);

 private:
  // The agreement on failure; throws RanksFailed when any rank failed.
  void Agree(bool ok, const std::string& message, int status);
  MPI_Comm comm_;
  int rank_ = 0, ranks_ = 1;
};

}  // namespace tarvok::mpi
