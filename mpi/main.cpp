// tarvok-mpi: "tarvok run" as one analysis across the ranks of an MPI job.
//
// Rank 0 is tarvok itself (same options, messages, files, summary and
// report) except that it runs the analysis in its own process and, once
// the options are settled, sends them and the table to the other ranks.
// Every rank then runs the analysis in lockstep; each pass's permuted
// copies are shared out (copy b on rank b % R) and their R2 rows exchanged,
// so every rank goes on identically and rank 0's files are those of one
// process. The other ranks read and write nothing.
//
// A failure on any rank reaches every rank at the next collective step;
// rank 0 prints it once and every rank exits with its status. SIGINT and
// SIGTERM stop rank 0 as they stop tarvok (the finished clusters are
// presented, marked incomplete); the other ranks ignore them and stop when
// rank 0 tells them, after that.
// TARVOK_MPI_FAIL_RANK=r (r >= 1) makes rank r fail at its first permuted
// copy, for testing that path.
#include <fmt/format.h>
#include <mpi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "run/Runner.h"
#include "mpi/MpiRanks.h"

namespace {

using tarvok::mpi::MpiRanks;
using tarvok::mpi::RanksFailed;

std::string OneLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The message of whatever the current exception is, on one line.
std::string CurrentFailure() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& failure) {
    return OneLine(failure.what());
  }
}

int LeadRank(MpiRanks& ranks, int argc, char** argv) {
  // agreed: the ranks know how the run ended; stopped: a stop signal ended
  // it, and the others are told only once the partial results are presented.
  bool sent = false, agreed = false, stopped = false;
  auto runner = [&](const tarvok::AnalysisJob& job, tarvok::AnalysisObserver& observer) {
    tarvok::RunOutcome outcome;
    try {
      tarvok::AnalysisOptions options = tarvok::AnalysisOptionsOf(job);
      const tarvok::Table& table = *job.table;
      ranks.SendJob(options, table.values.data(), table.genes, table.samples);
      sent = true;
      options.distribution = &ranks;
      outcome = tarvok::AnalyzeInThisProcess(job, options, observer);
    } catch (...) {
      outcome.message = CurrentFailure();
    }
    // The other ranks learn of a failure or a stop here; one that came from
    // them (a rank's own failure) is theirs already.
    if (outcome.failure) {
      try {
        std::rethrow_exception(outcome.failure);
      } catch (const RanksFailed&) {
        agreed = true;
      } catch (...) {
      }
    }
    if (outcome.status == tarvok::RunOutcome::Interrupted && sent && !agreed) {
      // Presenting first: mpirun ends every rank soon after it passes a
      // signal on, and the others may be a whole pass away from their next
      // collective step.
      stopped = true;
    } else if (outcome.status != tarvok::RunOutcome::Finished && !agreed) {
      const bool failed = outcome.status == tarvok::RunOutcome::Failed;
      RanksFailed agreement = ranks.Fail(failed ? outcome.message : "interrupted", 1);
      if (failed) outcome.message = agreement.what();
      agreed = true;
    }
    return outcome;
  };
  int status = tarvok::RunCommandLine(argc, argv, runner);
  if (stopped) {
    ranks.Fail("interrupted", status);
    return status;
  }
  if (agreed) return status;
  if (!sent) {
    ranks.Dismiss(status);
    return status;
  }
  try {
    ranks.Finish();
  } catch (const RanksFailed& failed) {
    std::fputs(fmt::format("tarvok: analysis failed: {}\n", failed.what()).c_str(), stderr);
    return failed.status;
  }
  return status;
}

// Fails at the rank's first permuted copy, for the tests.
class InjectedFailure : public tarvok::AnalysisObserver {
 public:
  void CopyShaved(int, int) override { throw tarvok::Error("failure injected for testing"); }
};

int FollowRank(MpiRanks& ranks) {
  tarvok::mpi::SharedJob job;
  // A stop signal is rank 0's to act on (mpirun passes it to every rank, a
  // terminal to the whole group): rank 0 presents what finished and then
  // tells the others, which end at their next collective step.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTERM, SIG_IGN);
  try {
    int status = 0;
    if (!ranks.ReceiveJob(job, &status)) return status;
    job.options.distribution = &ranks;
    const char* failRank = std::getenv("TARVOK_MPI_FAIL_RANK");
    InjectedFailure failure;
    tarvok::AnalysisObserver silent;
    bool fail = failRank != nullptr && std::atoi(failRank) == ranks.Rank();
    tarvok::Analyze(job.data.data(), job.genes, job.samples, job.options, fail ? &failure : &silent);
    ranks.Finish();
    return 0;
  } catch (const RanksFailed& failed) {
    return failed.status;
  } catch (...) {
    return ranks.Fail(fmt::format("rank {}: {}", ranks.Rank(), CurrentFailure()), 1).status;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int provided = 0;
  // Only the thread that runs the analysis calls MPI; its workers never do.
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  int status = 0;
  {
    MpiRanks ranks(MPI_COMM_WORLD);
    status = ranks.Rank() == 0 ? LeadRank(ranks, argc, argv) : FollowRank(ranks);
  }
  MPI_Finalize();
  return status;
}
