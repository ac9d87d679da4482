// Reading the result files of a finished analysis back into memory, for
// "tarvok export".
#pragma once

#include <string>

#include "present/RunRecord.h"

namespace tarvok {

// Reads every result file of clusters 1..clustersDone from outDir.
//   outDir       (input) the directory the library wrote into
//   clustersDone (input) how many clusters the run completed, >= 0
// Throws std::runtime_error naming the offending file when a file is missing,
// ends in a cut-off line, has the wrong number of lines or fields, holds text
// that is not a finite number, or disagrees with the other files of its cluster.
RunResults ReadRunResults(const std::string& outDir, int clustersDone);

}  // namespace tarvok
