#include "results/Writers.h"

#include <cstdio>

#include "base/Error.h"
#include "base/Format.h"
#include "base/ResultNames.h"
#include "results/OutputDirectory.h"

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
ClusterFile OpenClusterFile(const char* stem, int i) {
  ClusterFile file{tarvok::ClusterFileName(stem, i), nullptr};
  std::string path = OutputPath(file.name.c_str());
  file.stream = std::fopen(path.c_str(), "w");
  if (file.stream == nullptr) std::perror(path.c_str());
  return file;
}

// Closes the per-cluster file and adds its name to list. The flag is cleared
// only once the list has been truncated: were it cleared by a failed first
// open, a later write would append to a list left by an earlier process.
void FinishClusterFile(ClusterFile& file, IndexList& list) {
  std::fclose(file.stream);
  file.stream = nullptr;
  FILE* stream = nullptr;
  if (list.firstWrite) {
    list.path = OutputPath(list.name);
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

}  // namespace

void DataDump(const MatrixRows& row, int N, int n, const int* order, const char* path) {
  FILE* file = std::fopen(path, "w");
  if (file == nullptr) throw tarvok::Error(tarvok::FileErrorMessage("DataDump", path));
  for (int s = 0; s < N; ++s) {
    for (int j = 0; j < n; ++j) std::fprintf(file, "%8.6f\n", row(order[j])[s]);
  }
  std::fclose(file);
}

void WriteOrigMatrix(const MatrixRows& row, int G, int N) {
  std::string path = OutputPath("origmatrix.txt");
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw tarvok::Error(tarvok::FileErrorMessage("RuzoVavav", path.c_str()));
  for (int g = 0; g < G; ++g) {
    const double* values = row(g);
    for (int s = 0; s < N; ++s) std::fprintf(file, " %g", values[s]);
    std::fputs("\n", file);
  }
  std::fclose(file);
}

void WriteGapFile(int i, const tarvok::ClusterRecord& record) {
  ClusterFile file = OpenClusterFile("gap", i);
  if (file.stream == nullptr) return;
  for (size_t k = 0; k < record.sizes.size(); ++k) {
    std::fprintf(file.stream, "%d\t%f\n", record.sizes[k], record.gap[k]);
  }
  FinishClusterFile(file, gapList);
}

void WriteVarianceFile(int i, const tarvok::ClusterRecord& record) {
  ClusterFile file = OpenClusterFile("variance", i);
  if (file.stream == nullptr) return;
  for (size_t k = 0; k < record.sizes.size(); ++k) {
    std::fprintf(file.stream, "%d\t%f\t%f\t%f\t%f\t%f\n", record.sizes[k], record.r2[k],
                 record.meanPermutedR2[k], record.between[k], record.total[k], record.within[k]);
  }
  FinishClusterFile(file, varianceList);
}

void WriteEigenFile(int i, double eigenvalue) {
  ClusterFile file = OpenClusterFile("eigen", i);
  if (file.stream == nullptr) return;
  std::fprintf(file.stream, "%f\n", eigenvalue);
  FinishClusterFile(file, eigenList);
}

void WritePcFile(int i, const std::vector<double>& component) {
  ClusterFile file = OpenClusterFile("pc", i);
  if (file.stream == nullptr) return;
  for (double value : component) std::fprintf(file.stream, "%f\n", value);
  FinishClusterFile(file, pcList);
}

void ResetIndexListsForTesting() {
  for (IndexList* list : {&gapList, &varianceList, &eigenList, &pcList}) {
    list->firstWrite = true;
    list->path.clear();
  }
}
