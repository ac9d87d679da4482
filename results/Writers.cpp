#include "results/Writers.h"

#include <cstdio>

#include "base/Error.h"
#include "base/Format.h"
#include "base/ResultNames.h"
#include "base/Numbers.h"

namespace {

// One index list: its file name, whether the next write is the first of the
// process, and the path formed at that first write.
struct IndexList {
  const char* name;
  bool firstWrite;
  std::string path;
};

IndexList gapList{"glabels.txt", true, {}};
IndexList varianceList{"vlabels.txt", true, {}};
IndexList eigenList{"elabels.txt", true, {}};
IndexList pcList{"pclabels.txt", true, {}};

// Writes text to "<stem><i>.txt" in the output directory, then adds the
// file's name to list. A file that cannot be opened is reported in the
// perror form and skipped with its index line (Classic), or throws (Every).
// The flag is cleared only once the list has been truncated: were it
// cleared by a failed first open, a later write would append to a list
// left by an earlier process.
void WriteClusterFile(const std::string& dir, const char* stem, int i, const std::string& text, IndexList& list,
                      WriteChecks checks) {
  const std::string name = tarvok::ClusterFileName(stem, i);
  {
    ResultStream file(dir + "/" + name, "w", checks);
    if (!file.IsOpen()) {
      std::perror(file.Path().c_str());
      return;
    }
    file.Put(text);
    file.Close();
  }
  const bool first = list.firstWrite;
  ResultStream index(first ? dir + "/" + list.name : list.path, first ? "w" : "a", checks);
  if (!index.IsOpen()) {
    std::perror(index.Path().c_str());
    return;
  }
  if (first) {
    list.path = index.Path();
    list.firstWrite = false;
  }
  index.Put(name + "\n");
  index.Close();
}

// The files are built in memory and written in large pieces rather than
// with a library call per value.
constexpr std::size_t kPiece = 1 << 16;

}  // namespace

void DataDump(const MatrixRows& row, int N, int n, const int* order, const char* path, WriteChecks checks) {
  ResultStream file(path, "w", checks);
  if (!file.IsOpen()) throw tarvok::Error(tarvok::FileErrorMessage("DataDump", path));
  std::string text;
  for (int s = 0; s < N; ++s) {
    for (int j = 0; j < n; ++j) {
      tarvok::AppendFixed(text, row(order[j])[s], 6, 8);
      text += '\n';
    }
    if (text.size() > kPiece) {
      file.Put(text);
      text.clear();
    }
  }
  file.Put(text);
  file.Close();
}

void WriteOrigMatrix(const std::string& dir, const MatrixRows& row, int G, int N, WriteChecks checks) {
  std::string path = dir + "/" + tarvok::kOrigMatrixFile;
  ResultStream file(path, "w", checks);
  if (!file.IsOpen()) throw tarvok::Error(tarvok::FileErrorMessage("RuzoVavav", path.c_str()));
  std::string text;
  for (int g = 0; g < G; ++g) {
    const double* values = row(g);
    for (int s = 0; s < N; ++s) {
      text += ' ';
      tarvok::AppendGeneral(text, values[s], 6);
    }
    text += '\n';
    if (text.size() > kPiece) {
      file.Put(text);
      text.clear();
    }
  }
  file.Put(text);
  file.Close();
}

void WriteGapFile(const std::string& dir, int i, const tarvok::ClusterRecord& record, WriteChecks checks) {
  std::string text;
  for (size_t k = 0; k < record.sizes.size(); ++k) {
    text += std::to_string(record.sizes[k]) + '\t';
    tarvok::AppendFixed(text, record.gap[k], 6);
    text += '\n';
  }
  WriteClusterFile(dir, "gap", i, text, gapList, checks);
}

void WriteVarianceFile(const std::string& dir, int i, const tarvok::ClusterRecord& record, WriteChecks checks) {
  std::string text;
  for (size_t k = 0; k < record.sizes.size(); ++k) {
    text += std::to_string(record.sizes[k]);
    for (double value : {record.r2[k], record.meanPermutedR2[k], record.between[k], record.total[k],
                         record.within[k]}) {
      text += '\t';
      tarvok::AppendFixed(text, value, 6);
    }
    text += '\n';
  }
  WriteClusterFile(dir, "variance", i, text, varianceList, checks);
}

void WriteEigenFile(const std::string& dir, int i, double eigenvalue, WriteChecks checks) {
  WriteClusterFile(dir, "eigen", i, tarvok::Fixed(eigenvalue, 6) + '\n', eigenList, checks);
}

void WritePcFile(const std::string& dir, int i, const std::vector<double>& component, WriteChecks checks) {
  std::string text;
  for (double value : component) {
    tarvok::AppendFixed(text, value, 6);
    text += '\n';
  }
  WriteClusterFile(dir, "pc", i, text, pcList, checks);
}

void ResetIndexListsForTesting() {
  for (IndexList* list : {&gapList, &varianceList, &eigenList, &pcList}) {
    list->firstWrite = true;
    list->path.clear();
  }
}
