#include "present/Utf8.h"

namespace tarvok {

std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char b = s[at];
  std::size_t length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                                    : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((s[at + k] & 0xC0) != 0x80) return 0;
  }
  // Overlong forms and surrogates (3 bytes); overlong and beyond U+10FFFF (4 bytes).
  if (length == 3 && ((b == 0xE0 && s[at + 1] < 0xA0) || (b == 0xED && s[at + 1] >= 0xA0))) return 0;
  if (length == 4 && ((b == 0xF0 && s[at + 1] < 0x90) || (b == 0xF4 && s[at + 1] >= 0x90))) return 0;
  return length;
}

std::string ReplaceInvalidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace tarvok
