#include "shaving/Supervision.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/Reporting.h"
#include "numeric/Cholesky.h"
#include "results/OutputDirectory.h"

namespace {

// Longest piece of a classification line taken as one sample.
constexpr int kPieceLength = 254;

[[noreturn]] void ListFailure(const char* format) {
  FatalError(FormatMessage(format, std::strerror(errno)).c_str());
}

// ReadPiece: reads the next piece of file into text (char[kPieceLength + 1],
// NUL-terminated) and returns its length without the line end, or -1 at
// the end of the file (a read error counts as the end). A CR right before
// the line feed or the end of the file is part of the line end, so CR+LF
// files give the same samples as LF files. (A full piece that ends in CR
// needs no such care: it is a sample either way, with the same label.)
int ReadPiece(std::FILE* file, char* text) {
  int length = 0;
  int c = EOF;
  while (length < kPieceLength && (c = std::getc(file)) != EOF) {
    if (c == '\n') break;
    text[length++] = static_cast<char>(c);
  }
  if (c == EOF && length == 0) return -1;
  bool lineEnd = c == '\n' || c == EOF;
  if (lineEnd && length > 0 && text[length - 1] == '\r') --length;
  text[length] = '\0';
  return length;
}

// ParseLabel: the integer at the start of text as atoi reads it (leading
// white space, optional sign, decimal digits), 0 when there is none. Values
// beyond the int range saturate instead of being undefined.
int ParseLabel(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

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
  if (node->members == nullptr) ListFailure("Error creating list node item: %s\n");
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

int ReadClassification(const char* path, ClassList& list) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) FatalFileError("ComputeQ", path);
  char text[kPieceLength + 1];
  int sampleCount = 0;
  int length;
  while ((length = ReadPiece(file, text)) >= 0) {
    if (length == 0) continue;
    // The count saturates rather than overflow; sample numbers then stay
    // below any N that it can equal.
    if (sampleCount == INT_MAX) continue;
    AppendToClassList(list, ParseLabel(text), sampleCount);
    ++sampleCount;
  }
  std::fclose(file);
  return sampleCount;
}

DMatrix ComputeQ(int N, const char* path, int* classCount) {
  ClassList list;
  int sampleCount = ReadClassification(path, list);
  int a = ClassCount(list.head);
  if (sampleCount != N) {
    FatalError(FormatMessage("Classification file line count(%d) must equal columns(%d)\n",
                             sampleCount, N)
                   .c_str());
  }
  DMatrix q = dmatrix(0, N - 1, 0, a - 1);
  int k = 0;
  for (ClassNode* node = list.head; node != nullptr; node = node->next, ++k) {
    FillClassColumn(q, k, node->count, node->members);
  }
  DestroyClassList(list);
  *classCount = a;
  return q;
}

DMatrix BuildSupervisionTransform(int supervisionPercent, const char* classificationFile, int N, int* c) {
  if (supervisionPercent == 0) return DMatrix{};
  if (classificationFile == nullptr || !IsRegularFile(classificationFile)) {
    FatalError(FormatMessage("RuzoVavav(\"%s\"): %s\n",
                             classificationFile != nullptr ? classificationFile : "(null)",
                             "not a regular file")
                   .c_str());
  }
  int a = 0;
  DMatrix q = ComputeQ(N, classificationFile, &a);
  if (supervisionPercent == 100) {
    *c = a;
    return q;
  }

  double alpha = supervisionPercent * 0.01;
  DVector diagonal = dvector(1, N);
  DMatrix m = dmatrix(1, N, 1, N);
  DMatrix t = dmatrix(0, N - 1, 0, N - 1);
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
  ReleaseDmatrix(q, 0, N - 1, 0, a - 1);
  ReleaseDvector(diagonal, 1, N);
  ReleaseDmatrix(m, 1, N, 1, N);
  *c = N;
  return t;
}
