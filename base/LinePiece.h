// Reading a text file in pieces of bounded length, the way the table probe
// and the classification reader take their lines.
#pragma once

#include <cstddef>
#include <cstdio>

namespace tarvok {

// One piece of a line: its characters without the line end, and whether the
// line end was reached (a line feed, or the end of the file).
struct LinePiece {
  static constexpr std::size_t kCapacity = 256;
  char text[kCapacity];  // NUL-terminated
  std::size_t length = 0;
  bool endsLine = false;
};

// ReadLinePiece: reads up to limit (< LinePiece::kCapacity) characters from
// file, stopping after a line feed. Returns false when nothing at all could
// be read (end of file, or a read error, which counts as the end). A CR
// right before the line feed or the end of the file belongs to the line
// end, so CR+LF files read like LF files; a full piece ending in CR looks
// one character ahead for that.
inline bool ReadLinePiece(std::FILE* file, std::size_t limit, LinePiece& piece) {
  std::size_t length = 0;
  int c = EOF;
  while (length < limit && (c = std::getc(file)) != EOF) {
    if (c == '\n') break;
    piece.text[length++] = static_cast<char>(c);
  }
  if (c == EOF && length == 0) return false;
  piece.endsLine = c == '\n' || c == EOF;
  if (!piece.endsLine && length > 0 && piece.text[length - 1] == '\r') {
    int next = std::getc(file);
    piece.endsLine = next == '\n' || next == EOF;
    if (!piece.endsLine) std::ungetc(next, file);  // a CR in mid-line stays
  }
  if (piece.endsLine && length > 0 && piece.text[length - 1] == '\r') --length;
  piece.text[length] = '\0';
  piece.length = length;
  return true;
}

}  // namespace tarvok
