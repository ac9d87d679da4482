// Numbers as text without the C library's locale: printf's "%.Nf" and
// "%.Ng" layouts, byte for byte as in the "C" locale, whatever locale a
// host has set. Every number the engine writes goes through here or
// {fmt}, never through printf, so a German locale never turns a decimal
// point into a comma.
#pragma once

#include <charconv>
#include <string>

namespace tarvok {

// Appends value as printf("%.<precision>f") in the "C" locale, right-aligned
// with blanks to at least width characters.
inline void AppendFixed(std::string& out, double value, int precision, int width = 0) {
  char text[400];  // fixed notation of the largest double with a few decimals fits
  auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
  const std::size_t length = static_cast<std::size_t>(written.ptr - text);
  if (static_cast<std::size_t>(width) > length) out.append(static_cast<std::size_t>(width) - length, ' ');
  out.append(text, length);
}

// Appends value as printf("%.<precision>g") in the "C" locale.
inline void AppendGeneral(std::string& out, double value, int precision) {
  char text[64];
  auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
  out.append(text, written.ptr);
}

inline std::string Fixed(double value, int precision) {
  std::string text;
  AppendFixed(text, value, precision);
  return text;
}

inline std::string General(double value, int precision) {
  std::string text;
  AppendGeneral(text, value, precision);
  return text;
}

}  // namespace tarvok
