// The lock of an output directory, and the files a command reads, which no
// write into that directory may replace.
#pragma once

#include <sys/types.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvok {

// The directory's lock file; it exists while a run or an export holds it.
inline constexpr const char* kLockFileName = ".tarvok.lock";

// Another process holds the lock; holder is its process number, or "" when
// the lock file names none yet.
class DirectoryInUse : public std::runtime_error {
 public:
  explicit DirectoryInUse(const std::string& holderPid)
      : std::runtime_error("the directory is in use by another tarvok process"), holder(holderPid) {}
  std::string holder;
};

// An exclusive lock (flock) on dir/.tarvok.lock, which names this process.
// The file is opened on the directory's descriptor without following a
// link; a link or anything but a regular file there is refused. The file is
// removed when the object goes (however the command ends); a process that
// opened it just before then finds, once it locks, that the file is no
// longer the directory's and takes a fresh one.
class DirectoryLock {
 public:
  // dir: an existing directory. Throws DirectoryInUse when another process
  // holds the lock, std::runtime_error naming the file on other failures.
  explicit DirectoryLock(const std::string& dir);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int dirFd_ = -1, lockFd_ = -1;
};

// The directory path as the system resolves it: every "..", "." and link
// followed as the kernel follows them ("lx/../res" with lx a link is the
// parent of lx's target), made absolute. When create, the missing
// directories are made first, one after another in that same reading.
// Throws std::runtime_error with the system's reason.
std::string PhysicalDirectory(const std::string& dir, bool create);

// A file the command reads, known by device and inode (a link, another
// name or a hard link in the output directory is the same file).
struct InputFile {
  std::string role;  // "the table", "the class file", ...
  std::string name;  // as the user gave it
  dev_t device = 0;
  ino_t inode = 0;
};

// The inputs among paths that exist (stat follows links; "-" is standard
// input), each with its role.
std::vector<InputFile> InputFilesOf(const std::vector<std::pair<std::string, std::string>>& rolesAndPaths);

// Throws std::runtime_error when an entry of dir, or of dir/figures, that
// replaced(name) says the command would remove or overwrite is one of
// inputs, naming it: an input is never lost to the output.
void RefuseReplacingInputs(const std::string& dir, const std::function<bool(const std::string&)>& replaced,
                           const std::vector<InputFile>& inputs);

}  // namespace tarvok
