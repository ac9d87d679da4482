#include "engine/TableProbe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/LinePiece.h"
#include "base/NumberGrammar.h"
#include "engine/Tarvok.h"

namespace {

// Lines are read in pieces of at most 255 characters (a 256-byte buffer),
// the line feed included when it fits.
constexpr std::size_t kProbePieceLength = 255;

using tarvok::LinePiece;

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

int IsNumericText(const char* text, std::size_t length) { return tarvok::IsNumericText(text, length) ? 1 : 0; }

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
    if (tarvok::ReadLinePiece(file, kProbePieceLength, piece)) {
      // The corner cell (field 0) is never examined.
      header = FieldIsWord(piece, 1);
      while (!piece.endsLine && tarvok::ReadLinePiece(file, kProbePieceLength, piece)) {
      }
      if (tarvok::ReadLinePiece(file, kProbePieceLength, piece)) labels = FieldIsWord(piece, 0);
    }
    std::fclose(file);
  }
  if (hasHeaderRow != nullptr) *hasHeaderRow = header;
  if (hasLabelColumn != nullptr) *hasLabelColumn = labels;
}
