#include "base/Format.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Error.h"

namespace tarvok {

std::string FormatMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormatMessage(format, args);
  va_end(args);
  return text;
}

std::string VFormatMessage(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char line[128];
  int length = std::vsnprintf(line, sizeof line, format, args);
  std::string text;
  if (length >= 0 && static_cast<size_t>(length) < sizeof line) {
    text.assign(line, static_cast<size_t>(length));
  } else if (length >= 0) {
    std::vector<char> whole(static_cast<size_t>(length) + 1);
    std::vsnprintf(whole.data(), whole.size(), format, again);
    text.assign(whole.data(), static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}

std::string FileErrorMessage(const char* operation, const char* path) {
  const char* reason = std::strerror(errno);
  return FormatMessage("%s(\"%s\"): %s\n", operation, path, reason);
}

void NumericalError(const char* message) {
  throw Error(FormatMessage("Numerical Recipes: %s", message));
}

}  // namespace tarvok
