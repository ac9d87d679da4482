#include "run/DirectoryLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

namespace tarvok {

namespace {

struct DirCloser {
  void operator()(DIR* listing) const { closedir(listing); }
};

std::string Reason(int error) { return std::strerror(error); }

// The process number the lock file names, or "" when it names none yet.
std::string LockHolder(int fd) {
  char text[32] = {};
  ssize_t count = pread(fd, text, sizeof text - 1, 0);
  std::string holder = count > 0 ? std::string(text, static_cast<std::size_t>(count)) : "";
  while (!holder.empty() && !std::isdigit(static_cast<unsigned char>(holder.back()))) holder.pop_back();
  return holder.find_first_not_of("0123456789") == std::string::npos ? holder : "";
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when the directory's entry name is still the file open as fd.
bool StillNamed(int dirFd, const char* name, int fd) {
  struct stat open {}, named {};
  return fstat(fd, &open) == 0 && fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(open, named);
}

// Opens and locks the lock file once; -1 when the file locked was removed
// by its last holder in the meantime (try again).
int TryLock(int dirFd, const std::string& path) {
  int fd = openat(dirFd, kLockFileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP) throw std::runtime_error(fmt::format("{} is a symbolic link; tarvok will not follow it", path));
    throw std::runtime_error(fmt::format("cannot create {}: {}", path, Reason(error)));
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    throw std::runtime_error(fmt::format("{} is not a regular file; tarvok will not use it as its lock", path));
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    std::string holder = LockHolder(fd);
    close(fd);
    if (error == EWOULDBLOCK) throw DirectoryInUse(holder);
    throw std::runtime_error(fmt::format("cannot lock {}: {}", path, Reason(error)));
  }
  if (!StillNamed(dirFd, kLockFileName, fd)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

DirectoryLock::DirectoryLock(const std::string& dir) {
  const std::string path = dir + "/" + kLockFileName;
  dirFd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0) throw std::runtime_error(fmt::format("cannot open directory {}: {}", dir, Reason(errno)));
  try {
    for (int attempt = 0; lockFd_ < 0; ++attempt) {
      if (attempt == 100) throw DirectoryInUse("");  // others keep taking and freeing it
      lockFd_ = TryLock(dirFd_, path);
    }
  } catch (...) {
    close(dirFd_);
    throw;
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(lockFd_, 0) != 0 || pwrite(lockFd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    const int error = errno;
    unlinkat(dirFd_, kLockFileName, 0);
    close(lockFd_);
    close(dirFd_);
    throw std::runtime_error(fmt::format("cannot write {}: {}", path, Reason(error)));
  }
}

DirectoryLock::~DirectoryLock() {
  // Removed while still held, so no one locks a file that is going away
  // unseen (TryLock looks again after locking).
  if (StillNamed(dirFd_, kLockFileName, lockFd_)) unlinkat(dirFd_, kLockFileName, 0);
  close(lockFd_);
  close(dirFd_);
}

std::string PhysicalDirectory(const std::string& dir, bool create) {
  if (create) {
    // Each prefix in turn, as written: the kernel resolves "lx/.." through
    // the link, which a textual clean-up of the path would not.
    for (std::size_t slash = dir.find('/', 1); ; slash = dir.find('/', slash + 1)) {
      const std::string prefix = dir.substr(0, slash);
      if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
        throw std::runtime_error(fmt::format("cannot create output directory {}: {}", dir, Reason(errno)));
      }
      if (slash == std::string::npos) break;
    }
  }
  std::unique_ptr<char, decltype(&free)> resolved(realpath(dir.c_str(), nullptr), &free);
  if (!resolved) throw std::runtime_error(fmt::format("directory {}: {}", dir, Reason(errno)));
  struct stat info {};
  if (stat(resolved.get(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw std::runtime_error(fmt::format("{} exists and is not a directory", dir));
  }
  return resolved.get();
}

std::vector<InputFile> InputFilesOf(const std::vector<std::pair<std::string, std::string>>& rolesAndPaths) {
  std::vector<InputFile> inputs;
  for (const auto& [role, name] : rolesAndPaths) {
    struct stat info {};
    const bool found = name == "-" ? fstat(STDIN_FILENO, &info) == 0 : (!name.empty() && stat(name.c_str(), &info) == 0);
    if (found) inputs.push_back({role, name == "-" ? std::string("standard input") : name, info.st_dev, info.st_ino});
  }
  return inputs;
}

void RefuseReplacingInputs(const std::string& dir, const std::function<bool(const std::string&)>& replaced,
                           const std::vector<InputFile>& inputs) {
  if (inputs.empty()) return;
  for (const std::string sub : {"", "figures/"}) {
    std::unique_ptr<DIR, DirCloser> listing(opendir((dir + "/" + sub).c_str()));
    if (!listing) continue;
    while (const dirent* entry = readdir(listing.get())) {
      const std::string name = sub + entry->d_name;
      struct stat info {};
      if (!replaced(name) || lstat((dir + "/" + name).c_str(), &info) != 0) continue;
      for (const InputFile& input : inputs) {
        if (info.st_dev != input.device || info.st_ino != input.inode) continue;
        throw std::runtime_error(fmt::format(
            "{} ({}) is {}/{}, which tarvok would replace with its own; move it out of {} or choose another "
            "output directory",
            input.role, input.name, dir, name, dir));
      }
    }
  }
}

}  // namespace tarvok
