// Reads arbitrary bytes as a classification file. The first byte sets the
// sample count N; the rest is the file. The labels are read and grouped
// into classes; when the count agrees with N the checked reader must accept
// the file, and the class matrix (and, for small N, the half-supervised
// transform) is built.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <vector>

#include "engine/Classification.h"
#include "numeric/Arrays.h"
#include "shaving/Supervision.h"

namespace {

const std::string& ScratchPath() {
  static const std::string path = "/tmp/tarvok-class-fuzz-" + std::to_string(getpid()) + ".txt";
  static const int removeAtExit = std::atexit([] { std::remove(ScratchPath().c_str()); });
  (void)removeAtExit;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int n = data[0];
  std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data + 1, 1, size - 1, file);
  std::fclose(file);

  const std::vector<int> labels = ReadClassLabels(ScratchPath().c_str());
  const int samples = static_cast<int>(labels.size());
  ClassList list;
  for (int s = 0; s < samples; ++s) AppendToClassList(list, labels[s], s);
  int members = 0;
  for (ClassNode* node = list.head; node != nullptr; node = node->next) {
    if (node->count < 1 || FindClass(list.head, node->label) != node) std::abort();
    for (int i = 0; i < node->count; ++i) {
      if (node->members[i] < 0 || node->members[i] >= samples) std::abort();
    }
    members += node->count;
  }
  if (members != samples) std::abort();
  DestroyClassList(list);
  if (samples != n) return 0;

  if (ReadClassificationFile(ScratchPath().c_str(), n) != labels) std::abort();
  int a = 0;
  Matrix q = ComputeQ(n, labels, &a);
  for (int s = 0; s < n; ++s) {
    int nonZero = 0;
    for (int k = 0; k < a; ++k) nonZero += q[s][k] != 0.0;
    if (nonZero != 1) std::abort();
  }
  if (n <= 32) {
    SupervisionTransform t = BuildSupervisionTransform(50, labels, n);
    if (t.columns != n) std::abort();
    for (int i = 0; i < n; ++i) {
      if (!(t.transform[i][i] > 0.0)) std::abort();
    }
  }
  return 0;
}
