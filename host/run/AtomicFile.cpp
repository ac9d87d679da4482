#include "run/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "exports/Exports.h"

namespace tarvok {

std::string TemporaryFileName(const std::string& name) { return tarvok::exports::TemporaryName(name); }

void WriteFileAtomically(const std::string& path, const std::string& content) {
  tarvok::exports::WriteFileAtomically(path, content, true);
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

}  // namespace tarvok
