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

// The per-cluster file in progress: its name (without directory) and stream.
struct ClusterFile {
  std::string name;
  FILE* stream;
};

// Opens "<stem><i>.txt" in the output directory for writing. When that
// fails, reports the path in the perror form and returns a null stream: the
// caller then writes nothing and leaves the index list alone.
ClusterFile OpenClusterFile(const std::string& dir, const char* stem, int i) {
  ClusterFile file{tarvok::ClusterFileName(stem, i), nullptr};
  std::string path = dir + "/" + file.name;
  file.stream = std::fopen(path.c_str(), "w");
  if (file.stream == nullptr) std::perror(path.c_str());
  return file;
}

// Closes the per-cluster file and adds its name to list. The flag is cleared
// only once the list has been truncated: were it cleared by a failed first
// open, a later write would append to a list left by an earlier process.
void FinishClusterFile(const std::string& dir, ClusterFile& file, IndexList& list) {
  std::fclose(file.stream);
  file.stream = nullptr;
  FILE* stream = nullptr;
  if (list.firstWrite) {
    list.path = dir + "/" + list.name;
    stream = std::fopen(list.path.c_str(), "w");
    if (stream != nullptr) list.firstWrite = false;
  } else {
    stream = std::fopen(list.path.c_str(), "a");
  }
  if (stream == nullptr) {
    std::perror(list.path.c_str());
    return;
  }
  std::fprintf(stream, "%s\n", file.name.c_str());
  std::fclose(stream);
}

// Writes text to stream: the files are built in memory and written in
// large pieces rather than with a library call per value.
void Put(FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

}  // namespace

void DataDump(const MatrixRows& row, int N, int n, const int* order, const char* path) {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) throw tarvok::Error(tarvok::FileErrorMessage("DataDump", path));
  std::string text;
  for (int s = 0; s < N; ++s) {
    for (int j = 0; j < n; ++j) {
      tarvok::AppendFixed(text, row(order[j])[s], 6, 8);
      text += '\n';
    }
    if (text.size() > (1 << 16)) {
      Put(file, text);
      text.clear();
    }
  }
  Put(file, text);
  std::fclose(file);
}

void WriteOrigMatrix(const std::string& dir, const MatrixRows& row, int G, int N) {
  std::string path = dir + "/" + tarvok::kOrigMatrixFile;
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw tarvok::Error(tarvok::FileErrorMessage("RuzoVavav", path.c_str()));
  std::string text;
  for (int g = 0; g < G; ++g) {
    const double* values = row(g);
    for (int s = 0; s < N; ++s) {
      text += ' ';
      tarvok::AppendGeneral(text, values[s], 6);
    }
    text += '\n';
    if (text.size() > (1 << 16)) {
      Put(file, text);
      text.clear();
    }
  }
  Put(file, text);
  std::fclose(file);
}

void WriteGapFile(const std::string& dir, int i, const tarvok::ClusterRecord& record) {
  ClusterFile file = OpenClusterFile(dir, "gap", i);
  if (file.stream == nullptr) return;
  std::string text;
  for (size_t k = 0; k < record.sizes.size(); ++k) {
    text += std::to_string(record.sizes[k]) + '\t';
    tarvok::AppendFixed(text, record.gap[k], 6);
    text += '\n';
  }
  Put(file.stream, text);
  FinishClusterFile(dir, file, gapList);
}

void WriteVarianceFile(const std::string& dir, int i, const tarvok::ClusterRecord& record) {
  ClusterFile file = OpenClusterFile(dir, "variance", i);
  if (file.stream == nullptr) return;
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
  Put(file.stream, text);
  FinishClusterFile(dir, file, varianceList);
}

void WriteEigenFile(const std::string& dir, int i, double eigenvalue) {
  ClusterFile file = OpenClusterFile(dir, "eigen", i);
  if (file.stream == nullptr) return;
  Put(file.stream, tarvok::Fixed(eigenvalue, 6) + '\n');
  FinishClusterFile(dir, file, eigenList);
}

void WritePcFile(const std::string& dir, int i, const std::vector<double>& component) {
  ClusterFile file = OpenClusterFile(dir, "pc", i);
  if (file.stream == nullptr) return;
  std::string text;
  for (double value : component) {
    tarvok::AppendFixed(text, value, 6);
    text += '\n';
  }
  Put(file.stream, text);
  FinishClusterFile(dir, file, pcList);
}

void ResetIndexListsForTesting() {
  for (IndexList* list : {&gapList, &varianceList, &eigenList, &pcList}) {
    list->firstWrite = true;
    list->path.clear();
  }
}
