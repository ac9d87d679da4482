// Names of the result files, shared by the library that writes them and
// the programs that read them back.
#pragma once

#include <cstdio>
#include <string>

namespace tarvok {

// ClusterFileName: "%s%05d%s" of stem, the 1-based cluster number and
// ".txt" (gap00001.txt); a number of six digits or more is kept whole.
inline std::string ClusterFileName(const char* stem, int number) {
  char name[96];
  std::snprintf(name, sizeof name, "%s%05d%s", stem, number, ".txt");
  return name;
}

// The whole-run files and index lists.
inline constexpr const char* kRowLabelsFile = "RowLbls.txt";
inline constexpr const char* kColumnLabelsFile = "ColLbls.txt";
inline constexpr const char* kClusterLabelListFile = "clabels.txt";
inline constexpr const char* kClusterListFile = "clusters.txt";
inline constexpr const char* kClusterLengthsFile = "clusterlengths.txt";
inline constexpr const char* kOrigMatrixFile = "origmatrix.txt";

}  // namespace tarvok
