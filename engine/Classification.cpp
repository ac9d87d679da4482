#include "engine/Classification.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/Error.h"
#include "base/Format.h"
#include "base/LinePiece.h"
#include "results/OutputDirectory.h"

namespace {

// Longest piece of a classification line taken as one sample.
constexpr std::size_t kPieceLength = 254;

// The integer at the start of text as atoi reads it (leading white space,
// optional sign, decimal digits), 0 when there is none. Values beyond the
// int range saturate instead of being undefined.
int ParseLabel(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::vector<int> ReadClassLabels(const char* path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
  if (!file) throw tarvok::Error(tarvok::FileErrorMessage("ComputeQ", path));
  std::vector<int> classes;
  tarvok::LinePiece piece;
  while (tarvok::ReadLinePiece(file.get(), kPieceLength, piece)) {
    if (piece.length > 0) classes.push_back(ParseLabel(piece.text));
  }
  return classes;
}

std::vector<int> ReadClassificationFile(const char* path, int N) {
  if (path == nullptr || !IsRegularFile(path)) {
    throw tarvok::Error(tarvok::FormatMessage("RuzoVavav(\"%s\"): %s\n", path != nullptr ? path : "(null)",
                                              "not a regular file"));
  }
  std::vector<int> classes = ReadClassLabels(path);
  if (classes.size() != static_cast<size_t>(N)) {
    throw tarvok::Error(tarvok::FormatMessage("Classification file line count(%lld) must equal columns(%d)\n",
                                              static_cast<long long>(classes.size()), N));
  }
  return classes;
}
