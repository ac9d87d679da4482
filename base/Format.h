// printf into a std::string of whatever length the text needs, so that long
// paths are never cut or overrun.
#pragma once

#include <cstdarg>
#include <string>

namespace tarvok {

std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatMessage(const char* format, va_list args);

// "<operation>(\"<path>\"): <strerror(errno)>\n", the common form of the
// file errors. Reads errno itself, so call it right after the failure.
std::string FileErrorMessage(const char* operation, const char* path);

}  // namespace tarvok
