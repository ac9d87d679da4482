#include "run/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void FailWrite(const std::string& path, int error) {
  throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
}

}  // namespace

std::string TemporaryFileName(const std::string& name) { return "." + name + ".tmp"; }

void WriteFileAtomically(const std::string& path, const std::string& content) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string temporary = dir + TemporaryFileName(name);
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) FailWrite(path, errno);
  std::size_t written = 0;
  int error = 0;
  while (written < content.size()) {
    ssize_t count = write(fd, content.data() + written, content.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = count < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<std::size_t>(count);
  }
  // A full disk may only show when the data reach it.
  if (error == 0 && fsync(fd) != 0 && errno != EINVAL) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    FailWrite(path, error);
  }
}

std::string WriteStandardOutput(const std::string& text) {
  errno = 0;
  bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  ok = std::fflush(stdout) == 0 && ok;
  if (ok) return "";
  int error = errno;
  std::clearerr(stdout);
  if (error == EPIPE) return "";
  return error != 0 ? std::strerror(error) : "write failed";
}
