// Sharing each pass's permuted copies among cooperating processes (ranks)
// that run the same analysis in lockstep. The shaving code knows only this
// interface; the transport (MPI, in mpi/) lives outside the library.
#pragma once

namespace tarvok {

class CopyDistribution {
 public:
  virtual ~CopyDistribution() = default;
  virtual int Rank() const = 0;   // this process, 0..Ranks()-1
  virtual int Ranks() const = 0;  // R, >= 1
  // Called once per pass on every rank, after the rank has shaved its own
  // copies: copy b (0-based) belongs to rank b % R, and its generator state
  // is jumped to b * G * N draws after the pass's start exactly as a thread
  // would. rows is copies x steps, row-major, the permuted R2 of each copy;
  // this rank's rows are filled, every other row is all zero bits. On
  // return every row must hold its owner's values bit for bit, on every
  // rank. May throw; the pass then fails with that exception.
  virtual void Exchange(double* rows, int copies, int steps) = 0;
};

}  // namespace tarvok
