#include "results/Labels.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "base/Error.h"
#include "base/Format.h"

namespace {

bool IsSeparator(int c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Reads the next token of file into label (at most 79 characters kept, the
// rest of the token skipped). Returns false at the end of the file.
bool ReadToken(FILE* file, char* label) {
  int c = std::getc(file);
  while (c != EOF && IsSeparator(c)) c = std::getc(file);
  if (c == EOF) return false;
  int length = 0;
  while (c != EOF && !IsSeparator(c)) {
    if (length < kLabelSize - 1) label[length++] = static_cast<char>(c);
    c = std::getc(file);
  }
  label[length] = '\0';
  return true;
}

}  // namespace

void GenerateLabels(const CVector& labels, int count, const char* stem, const char* suffix) {
  for (int j = 0; j < count; ++j) std::snprintf(labels[j], kLabelSize, "%s%05d%s", stem, j + 1, suffix);
}

namespace {

// Writes count lines "%s\n" to path, line j holding label(indices[j]) or label(j).
template <typename Label>
void StoreLines(Label label, int count, const int* indices, const char* path, WriteChecks checks) {
  ResultStream file(path, "w", checks);
  if (!file.IsOpen()) throw tarvok::Error(tarvok::FileErrorMessage("StoreLabels", path));
  std::string text;
  for (int j = 0; j < count; ++j) {
    text += label(indices != nullptr ? indices[j] : j);
    text += '\n';
  }
  file.Put(text);
  file.Close();
}

}  // namespace

void StoreLabels(const CVector& labels, int count, const int* indices, const char* path, WriteChecks checks) {
  StoreLines([&](int j) { return labels[j]; }, count, indices, path, checks);
}

void StoreLabels(const std::vector<std::string>& labels, int count, const int* indices, const char* path,
                 WriteChecks checks) {
  StoreLines([&](int j) { return labels[static_cast<std::size_t>(j)].c_str(); }, count, indices, path, checks);
}

void ReadLabels(const CVector& labels, int count, const char* path, const char* generatedStem) {
  FILE* file = std::fopen(path, "r");
  if (file == nullptr) throw tarvok::Error(tarvok::FileErrorMessage("RuzoVavav", path));
  int found = 0;
  while (found < count && ReadToken(file, labels[found])) ++found;
  std::fclose(file);
  if (found >= count) return;
  for (int j = found; j < count; ++j) std::snprintf(labels[j], kLabelSize, "%s%05d", generatedStem, j + 1);
  std::fprintf(stderr, "%s: %d of %d labels missing; generated labels used for them\n", path, count - found,
               count);
}
