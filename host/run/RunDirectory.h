// The output directory of one run: claimed for that run alone, cleared of
// the results an earlier run left, and told apart from a directory of the
// user's own files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "run/DirectoryLock.h"

namespace tarvok {

// True for the name of a file that tarvok or its library writes into an
// output directory: the whole-run files (RowLbls.txt, summary.json, ...),
// the per-cluster files (gap00001.txt, ...), the lock file and the
// temporary files of atomic writes.
bool IsRunFileName(const std::string& name);

// True for a name, relative to the output directory, that a run removes or
// writes: IsRunFileName, or a figure file in "figures/".
bool ReplacedByRun(const std::string& name);

// An output directory claimed by this process for the length of a run.
// Holds the directory's lock (DirectoryLock) until the object goes.
class RunDirectory {
 public:
  // Makes dir (and its parents) when missing, resolved as the system
  // resolves it (PhysicalDirectory), and claims it:
  //  - refuses, unless force, a directory holding files tarvok did not
  //    write (nothing is created in it then);
  //  - refuses a directory where one of inputs stands under a name tarvok
  //    writes, naming it (nothing is created in it then);
  //  - refuses a directory another run holds, naming that run's process,
  //    without writing anything;
  //  - removes the results an earlier run left, by their exact names, and
  //    nothing else.
  // Throws std::runtime_error with a message for the user.
  RunDirectory(const std::string& dir, bool force, const std::vector<InputFile>& inputs = {});
  RunDirectory(const RunDirectory&) = delete;
  RunDirectory& operator=(const RunDirectory&) = delete;

  // Absolute path, without a trailing '/'.
  const std::string& Path() const { return path_; }
  // Result files in the directory now, figure files included (the lock
  // file and temporaries not counted).
  int CountResultFiles() const;

 private:
  std::string path_;
  std::unique_ptr<DirectoryLock> lock_;
};

}  // namespace tarvok
