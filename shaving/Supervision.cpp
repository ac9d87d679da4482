#include "shaving/Supervision.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/Error.h"
#include "base/Format.h"
#include "numeric/Cholesky.h"

namespace {

[[noreturn]] void ListFailure(const char* format) {
  throw tarvok::Error(tarvok::FormatMessage(format, std::strerror(errno)));
}

// Destroys the list however the scope is left.
struct ClassListGuard {
  ClassList& list;
  ~ClassListGuard() { DestroyClassList(list); }
};

}  // namespace

void AppendToClassList(ClassList& list, int label, int sample) {
  ClassNode* last = nullptr;
  for (ClassNode* node = list.head; node != nullptr; node = node->next) last = node;
  ClassNode* found = FindClass(list.head, label);
  if (found != nullptr) {
    // Member arrays grow to the next power of two, so a large class costs
    // amortised constant time per sample; the entries past count are unused.
    int count = found->count;
    if ((count & (count - 1)) == 0) {
      void* grown = ZeroAllocate(static_cast<std::size_t>(count) * 2, sizeof(int));
      if (grown == nullptr) ListFailure("Error inserting into list: %s\n");
      std::memcpy(grown, found->members, static_cast<std::size_t>(count) * sizeof(int));
      std::free(found->members);
      found->members = static_cast<int*>(grown);
    }
    found->members[count] = sample;
    found->count = count + 1;
    return;
  }
  auto* node = static_cast<ClassNode*>(ZeroAllocate(1, sizeof(ClassNode)));
  if (node == nullptr) ListFailure("Error creating list node: %s\n");
  node->label = label;
  node->members = static_cast<int*>(ZeroAllocate(1, sizeof(int)));
  if (node->members == nullptr) {
    const int error = errno;
    std::free(node);  // not linked yet: nothing else would release it
    errno = error;
    ListFailure("Error creating list node item: %s\n");
  }
  node->members[0] = sample;
  node->count = 1;
  node->next = nullptr;
  if (last == nullptr) {
    list.head = node;
  } else {
    last->next = node;
  }
}

ClassNode* FindClass(ClassNode* head, int label) {
  for (ClassNode* node = head; node != nullptr; node = node->next) {
    if (node->label == label) return node;
  }
  return nullptr;
}

int ClassCount(const ClassNode* head) {
  int count = 0;
  for (const ClassNode* node = head; node != nullptr; node = node->next) ++count;
  return count;
}

void DestroyClassList(ClassList& list) {
  // Iterative, so that a file with very many classes cannot exhaust the
  // stack.
  ClassNode* node = list.head;
  while (node != nullptr) {
    ClassNode* next = node->next;
    std::free(node->members);
    std::free(node);
    node = next;
  }
  list.head = nullptr;
}

void FillClassColumn(const DMatrix& q, int k, int count, const int* members) {
  if (count <= 0) return;
  double value = 1.0 / std::sqrt(static_cast<double>(count));
  for (int i = 0; i < count; ++i) q[members[i]][k] = value;
}

Matrix ComputeQ(int N, const std::vector<int>& classes, int* classCount) {
  ClassList list;
  ClassListGuard guard{list};
  for (int s = 0; s < static_cast<int>(classes.size()); ++s) AppendToClassList(list, classes[s], s);
  int a = ClassCount(list.head);
  Matrix q(N, a);
  int k = 0;
  for (ClassNode* node = list.head; node != nullptr; node = node->next, ++k) {
    FillClassColumn(q, k, node->count, node->members);
  }
  *classCount = a;
  return q;
}

SupervisionTransform BuildSupervisionTransform(int supervisionPercent, const std::vector<int>& classes, int N) {
  SupervisionTransform result;
  if (supervisionPercent == 0) return result;
  int a = 0;
  Matrix q = ComputeQ(N, classes, &a);
  if (supervisionPercent == 100) {
    result.transform = std::move(q);
    result.columns = a;
    return result;
  }

  double alpha = supervisionPercent * 0.01;
  Vector diagonal(1, N);
  Matrix m(1, N, 1, N);
  Matrix t(N, N);
  // M = alpha Q Q^T + (1 - alpha) I, every inner product summed over the
  // classes in ascending order from 0.0.
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) {
      double sum = 0.0;
      for (int k = 0; k < a; ++k) sum += q[j][k] * q[i][k];
      m[i + 1][j + 1] = alpha * sum;
    }
    m[i + 1][i + 1] = (1.0 - alpha) + m[i + 1][i + 1];
  }
  choldc(m, N, diagonal);
  // T = L: the factor's strictly lower part from M, its diagonal from the
  // vector, zeros above (already there from allocation).
  for (int i = 0; i < N; ++i) {
    for (int k = 0; k < i; ++k) t[i][k] = m[i + 1][k + 1];
    t[i][i] = diagonal[i + 1];
  }
  result.transform = std::move(t);
  result.columns = N;
  return result;
}
