// The number grammar shared by the table probe, the table readers and the
// tests: is a piece of text one decimal number and nothing else?
#pragma once

#include <cstddef>
#include <cstring>

namespace tarvok {

// IsNumericText: true when the first length bytes of text (no NUL needed;
// an embedded NUL is an ordinary non-blank character) are one number: leading
// white space, an optional sign, digits with an optional decimal point (at
// least one digit in all), an optional exponent "e"/"E" with an optional
// sign and at least one digit, then only white space. An "e" without
// exponent digits ends the number before the "e", which then starts a word:
// "1e" is not numeric. inf, nan and hexadecimal forms are not numbers here.
inline bool IsNumericText(const char* text, std::size_t length) {
  auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t at = 0;
  while (at < length && blank(text[at])) ++at;
  if (at < length && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t digits = 0;
  while (at < length && digit(text[at])) ++at, ++digits;
  if (at < length && text[at] == '.') {
    ++at;
    while (at < length && digit(text[at])) ++at, ++digits;
  }
  if (digits == 0) return false;
  if (at < length && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < length && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < length && digit(text[exponent])) {
      while (exponent < length && digit(text[exponent])) ++exponent;
      at = exponent;
    }
  }
  while (at < length && blank(text[at])) ++at;
  return at == length;
}

inline bool IsNumericText(const char* text) {
  return text != nullptr && IsNumericText(text, std::strlen(text));
}

}  // namespace tarvok
