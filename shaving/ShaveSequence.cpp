#include "shaving/ShaveSequence.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/Error.h"
#include "base/Format.h"

namespace {

ShaveSequence* AllocateRecord() {
  void* record = ZeroAllocate(1, sizeof(ShaveSequence));
  if (record == nullptr) {
    throw tarvok::Error(tarvok::FormatMessage("Error creating result structure: %s\n", std::strerror(errno)));
  }
  return static_cast<ShaveSequence*>(record);
}

void AllocateRecordArrays(ShaveSequence* sequence, int G, int N) {
  sequence->order = ivector(0, G - 1);
  sequence->chosenScores = dvector(0, G - 1);
  sequence->chosenComponent = dvector(0, N - 1);
}

}  // namespace

int ShaveCount(int size, double fraction) {
  if (size < 21) return 1;
  double x = size * fraction;
  double ip = 0.0;
  double fp = std::modf(x, &ip);
  // Nearest integer with exact halves going down (3.5 shaves 3); a product
  // below one still shaves one gene so that the schedule always moves.
  if (fp > 0.5) return static_cast<int>(std::ceil(x));
  if (ip == 0.0) return static_cast<int>(std::ceil(x));
  return static_cast<int>(std::floor(x));
}

ShaveSequence* NewShaveSequence(int G, int N, double fraction) {
  OwnedShaveSequence sequence(AllocateRecord());
  int steps = 0;
  for (int remaining = G; remaining > 1; remaining -= ShaveCount(remaining, fraction)) ++steps;
  sequence->stepCount = steps;
  sequence->sizes = ivector(0, steps);
  sequence->sizes[0] = G;
  for (int k = 1; k <= steps; ++k) {
    sequence->sizes[k] = sequence->sizes[k - 1] - ShaveCount(sequence->sizes[k - 1], fraction);
  }
  AllocateRecordArrays(sequence.get(), G, N);
  return sequence.release();
}

ShaveSequence* CopyShaveSequence(int G, int N, const ShaveSequence* source) {
  OwnedShaveSequence sequence(AllocateRecord());
  sequence->stepCount = source->stepCount;
  sequence->sizes = ivector(0, source->stepCount);
  for (int k = 0; k <= source->stepCount; ++k) sequence->sizes[k] = source->sizes[k];
  AllocateRecordArrays(sequence.get(), G, N);
  return sequence.release();
}

void ShaveSequenceDeleter::operator()(ShaveSequence* sequence) const {
  // The release calls need no bounds beyond the handles themselves.
  FreeShaveSequence(sequence, 0, 0);
}

void FreeShaveSequence(ShaveSequence* sequence, int G, int N) {
  if (sequence == nullptr) return;
  ReleaseIvector(sequence->sizes, 0, sequence->stepCount);
  ReleaseIvector(sequence->order, 0, G - 1);
  ReleaseDvector(sequence->chosenScores, 0, G - 1);
  ReleaseDvector(sequence->chosenComponent, 0, N - 1);
  std::free(sequence);
}
