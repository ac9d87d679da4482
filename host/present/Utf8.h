// UTF-8 checks for text that comes from the user's files: labels need not
// be valid UTF-8, but the HTML, TSV and JSON we write must be.
#pragma once

#include <cstddef>
#include <string>

namespace tarvok {

// Length (1..4) of the well-formed UTF-8 sequence that starts text[at], or
// 0 when the bytes there are not one (a stray continuation byte, an overlong
// form, a surrogate, a code point above U+10FFFF, a cut-off sequence).
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at);

// text with every byte that is not part of a well-formed sequence replaced
// by U+FFFD, the replacement character.
std::string ReplaceInvalidUtf8(const std::string& text);

}  // namespace tarvok
