#include "mpi/MpiRanks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tarvok::mpi {

namespace {

// Large tables go in pieces: MPI counts are ints.
constexpr long long kPiece = 1LL << 26;

void BroadcastDoubles(double* values, long long count, MPI_Comm comm) {
  for (long long at = 0; at < count; at += kPiece) {
    MPI_Bcast(values + at, static_cast<int>(std::min(kPiece, count - at)), MPI_DOUBLE, 0, comm);
  }
}

}  // namespace

MpiRanks::MpiRanks(MPI_Comm comm) : comm_(comm) {
  MPI_Comm_rank(comm_, &rank_);
  MPI_Comm_size(comm_, &ranks_);
}

void MpiRanks::Agree(bool ok, const std::string& message, int status) {
  int mine = ok ? ranks_ : rank_;
  int first = ranks_;
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, comm_);
  if (first == ranks_) return;
  int header[2] = {static_cast<int>(message.size()), status};
  MPI_Bcast(header, 2, MPI_INT, first, comm_);
  std::string text = rank_ == first ? message : std::string(static_cast<size_t>(header[0]), ' ');
  MPI_Bcast(text.data(), header[0], MPI_CHAR, first, comm_);
  throw RanksFailed(text, header[1]);
}

void MpiRanks::Exchange(double* rows, int copies, int steps) {
  Agree(true, "", 0);
  const long long count = static_cast<long long>(copies) * steps;
  static_assert(sizeof(double) == sizeof(std::uint64_t), "doubles travel as their bits");
  for (long long at = 0; at < count; at += kPiece) {
    MPI_Allreduce(MPI_IN_PLACE, rows + at, static_cast<int>(std::min(kPiece, count - at)), MPI_UINT64_T, MPI_BOR,
                  comm_);
  }
}

void MpiRanks::SendJob(const AnalysisOptions& options, const double* data, int genes, int samples) {
  Agree(true, "", 0);
  long long header[12] = {1,
                          options.clusters,
                          options.shavePercent,
                          options.permutations,
                          options.tolerancePercent,
                          options.supervisionPercent,
                          options.threads,
                          options.generatorState,
                          static_cast<long long>(options.solver),
                          genes,
                          samples,
                          static_cast<long long>(options.classes.size())};
  MPI_Bcast(header, 12, MPI_LONG_LONG, 0, comm_);
  std::vector<int> classes = options.classes;
  MPI_Bcast(classes.data(), static_cast<int>(classes.size()), MPI_INT, 0, comm_);
  BroadcastDoubles(const_cast<double*>(data), static_cast<long long>(genes) * samples, comm_);
}

bool MpiRanks::ReceiveJob(SharedJob& job, int* status) {
  Agree(true, "", 0);
  long long header[12] = {};
  MPI_Bcast(header, 12, MPI_LONG_LONG, 0, comm_);
  if (header[0] == 0) {
    *status = static_cast<int>(header[1]);
    return false;
  }
  AnalysisOptions& o = job.options;
  o.clusters = static_cast<int>(header[1]);
  o.shavePercent = static_cast<int>(header[2]);
  o.permutations = static_cast<int>(header[3]);
  o.tolerancePercent = static_cast<int>(header[4]);
  o.supervisionPercent = static_cast<int>(header[5]);
  o.threads = static_cast<int>(header[6]);
  o.generatorState = header[7];
  o.solver = static_cast<Solver>(header[8]);
  job.genes = static_cast<int>(header[9]);
  job.samples = static_cast<int>(header[10]);
  o.classes.assign(static_cast<size_t>(header[11]), 0);
  MPI_Bcast(o.classes.data(), static_cast<int>(o.classes.size()), MPI_INT, 0, comm_);
  job.data.assign(static_cast<size_t>(job.genes) * static_cast<size_t>(job.samples), 0.0);
  BroadcastDoubles(job.data.data(), static_cast<long long>(job.data.size()), comm_);
  return true;
}

void MpiRanks::Dismiss(int status) {
  Agree(true, "", 0);
  long long header[12] = {0, status};
  MPI_Bcast(header, 12, MPI_LONG_LONG, 0, comm_);
}

void MpiRanks::Finish() { Agree(true, "", 0); }

RanksFailed MpiRanks::Fail(const std::string& message, int status) {
  try {
    Agree(false, message, status);
  } catch (const RanksFailed& agreed) {
    return agreed;
  }
  return RanksFailed(message, status);  // not reached: this rank failed
}

}  // namespace tarvok::mpi
