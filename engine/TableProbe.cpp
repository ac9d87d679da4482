#include "engine/TableProbe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/Tarvok.h"

namespace {

// Lines are read in pieces of at most 255 characters (a 256-byte buffer),
// the line feed included when it fits.
constexpr std::size_t kProbeBufferSize = 256;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One piece of a line: its characters without the line end, and whether the
// line end was reached (a line feed, or the end of the file).
struct LinePiece {
  char text[kProbeBufferSize];
  std::size_t length = 0;
  bool endsLine = false;
};

// ReadPiece: reads up to 255 characters from file, stopping after a line
// feed. Returns false when nothing at all could be read (end of file or a
// read error, which counts as the end). A CR right before the line feed or
// the end of the file belongs to the line end, so CR+LF files read like LF
// files; a full piece ending in CR looks one character ahead for that.
bool ReadPiece(std::FILE* file, LinePiece& piece) {
  std::size_t length = 0;
  int c = EOF;
  while (length < kProbeBufferSize - 1 && (c = std::getc(file)) != EOF) {
    if (c == '\n') break;
    piece.text[length++] = static_cast<char>(c);
  }
  if (c == EOF && length == 0) return false;
  piece.endsLine = c == '\n' || c == EOF;
  if (!piece.endsLine && piece.text[length - 1] == '\r') {
    int next = std::getc(file);
    piece.endsLine = next == '\n' || next == EOF;
    if (!piece.endsLine) std::ungetc(next, file);  // a CR in mid-line stays
  }
  if (piece.endsLine && length > 0 && piece.text[length - 1] == '\r') --length;
  piece.length = length;
  return true;
}

// FindField: the index-th field (0-based) of the piece, as start and
// length. Tabs separate fields; runs of tabs count as one and leading tabs
// are skipped, so empty cells are not fields. Returns false when the piece
// has fewer fields.
bool FindField(const LinePiece& piece, int index, std::size_t& start, std::size_t& length) {
  std::size_t at = 0;
  for (int field = 0;; ++field) {
    while (at < piece.length && piece.text[at] == '\t') ++at;
    if (at == piece.length) return false;
    std::size_t begin = at;
    while (at < piece.length && piece.text[at] != '\t') ++at;
    if (field == index) {
      start = begin;
      length = at - begin;
      return true;
    }
  }
}

// FieldIsWord: 1 when the piece has the index-th field and it is not a
// number; 0 when it is a number or missing.
int FieldIsWord(const LinePiece& piece, int index) {
  std::size_t start = 0;
  std::size_t length = 0;
  if (!FindField(piece, index, start, length)) return 0;
  return IsNumericText(piece.text + start, length) ? 0 : 1;
}

}  // namespace

int IsNumericText(const char* text, std::size_t length) {
  std::size_t at = 0;
  while (at < length && IsBlank(text[at])) ++at;
  if (at < length && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t digits = 0;
  while (at < length && IsDigit(text[at])) ++at, ++digits;
  if (at < length && text[at] == '.') {
    ++at;
    while (at < length && IsDigit(text[at])) ++at, ++digits;
  }
  if (digits == 0) return 0;
  if (at < length && (text[at] == 'e' || text[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < length && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < length && IsDigit(text[exponent])) {
      while (exponent < length && IsDigit(text[exponent])) ++exponent;
      at = exponent;
    }
    // Otherwise the number ends before the "e", which then starts a word.
  }
  while (at < length && IsBlank(text[at])) ++at;
  return at == length ? 1 : 0;
}

int IsNumericField(const char* field) {
  if (field == nullptr) return 0;
  return IsNumericText(field, std::strlen(field));
}

extern "C" TARVOK_API void TARVOK_CALL tsvFileFormatTest(char* const* tableFile, int* hasHeaderRow,
                                                         int* hasLabelColumn) {
  // Answers go to locals first so that a null answer pointer is merely not
  // written, and the probe returns normally whatever it is given.
  int header = 0;
  int labels = 0;
  const char* path = tableFile != nullptr ? *tableFile : nullptr;
  std::FILE* file = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (file == nullptr) {
    if (path == nullptr) errno = EINVAL;
    std::fprintf(stderr, "Cannot open <%s> for reading - %s.\n", path != nullptr ? path : "(null)",
                 std::strerror(errno));
  } else {
    LinePiece piece;
    if (ReadPiece(file, piece)) {
      // The corner cell (field 0) is never examined.
      header = FieldIsWord(piece, 1);
      while (!piece.endsLine && ReadPiece(file, piece)) {
      }
      if (ReadPiece(file, piece)) labels = FieldIsWord(piece, 0);
    }
    std::fclose(file);
  }
  if (hasHeaderRow != nullptr) *hasHeaderRow = header;
  if (hasLabelColumn != nullptr) *hasLabelColumn = labels;
}
