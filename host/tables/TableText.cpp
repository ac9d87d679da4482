// Text pieces every table reader uses: records, trimming, reading a cell,
// shared checks. Nothing here calls back into the readers or the driver.
#include "tables/TableText.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <thread>

#include "base/NumberGrammar.h"
#include "core/Rules.h"
#include "tables/ByteSource.h"

namespace tarvok {

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Texts of at least this many bytes are split on two threads.
constexpr std::size_t kBytesForTwoThreads = std::size_t{1} << 20;

// Splits text into records; in quoted mode (out not null, viewing the
// same bytes as text) quoted fields are rewritten in place through out.
class Splitter {
 public:
  Splitter(std::string_view text, char separator, char* out, std::pmr::memory_resource* memory)
      : text_(text.data()), out_(out), size_(text.size()), separator_(separator), memory_(memory) {}

  std::vector<Record> All() {
    std::vector<Record> records;
    std::size_t width = 0;
    while (at_ < size_) {
      if (IsLineEnd(text_[at_])) {  // a line with nothing on it
        SkipLineEnd();
        continue;
      }
      Record record{line_, Fields(memory_)};
      if (out_ == nullptr) {
        // Room for as many fields as the last record had, but never more
        // than this line can hold: the memory stays in proportion to the text.
        lineEnd_ = LineEnd();
        record.fields.reserve(std::min(width, lineEnd_ - at_ + 1));
      }
      for (;;) {
        const bool quoted = out_ != nullptr && at_ < size_ && text_[at_] == '"';
        record.fields.push_back(quoted ? QuotedField(record.fields.size() + 1) : PlainField());
        if (at_ >= size_ || text_[at_] != separator_) break;
        ++at_;
      }
      if (at_ < size_) SkipLineEnd();
      width = record.fields.size();
      records.push_back(std::move(record));
    }
    return records;
  }

  // The line the next record would start on.
  int Line() const { return line_; }

 private:
  // Steps over the line end at at_, counting the line.
  void SkipLineEnd() {
    if (text_[at_] == '\r' && at_ + 1 < size_ && text_[at_ + 1] == '\n') ++at_;
    ++at_;
    ++line_;
  }

  // Without quotes a record is a line: the end of the line at at_ (its
  // first LF or CR, or the end of the text). The next LF is remembered, so
  // a file of CR line ends is not searched to its end for each line.
  std::size_t LineEnd() {
    if (nextLf_ < at_ || !lfSought_) {
      const void* lf = std::memchr(text_ + at_, '\n', size_ - at_);
      nextLf_ = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - text_) : size_;
      lfSought_ = true;
    }
    const void* cr = std::memchr(text_ + at_, '\r', nextLf_ - at_);
    return cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - text_) : nextLf_;
  }

  std::string_view PlainField() {
    const std::size_t begin = at_;
    if (out_ == nullptr) {
      const void* found = std::memchr(text_ + at_, separator_, lineEnd_ - at_);
      at_ = found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text_) : lineEnd_;
    } else {
      while (at_ < size_) {
        const char c = text_[at_];
        if (c == separator_ || c == '\n' || c == '\r') break;
        ++at_;
      }
    }
    return {text_ + begin, at_ - begin};
  }

  // The field whose opening quote is at at_, unquoted into its own bytes
  // (the result is never longer than the quoted text).
  std::string_view QuotedField(std::size_t column) {
    const int startLine = line_;
    const std::size_t begin = at_;
    std::size_t write = at_;
    ++at_;
    for (;;) {
      if (at_ >= size_) throw TableError(fmt::format("line {}: a quoted field is never closed", startLine));
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        if (at_ >= size_ || text_[at_] != '"') break;
        out_[write++] = '"';
        ++at_;
      } else if (IsLineEnd(c)) {
        out_[write++] = '\n';
        SkipLineEnd();
      } else {
        out_[write++] = c;
        ++at_;
      }
    }
    if (at_ < size_ && text_[at_] != separator_ && !IsLineEnd(text_[at_])) {
      throw TableError(
          fmt::format("line {}, column {}: text after the closing quote of a field", line_, column));
    }
    return {text_ + begin, write - begin};
  }

  const char* text_;
  char* out_;
  std::size_t size_, at_ = 0;
  std::size_t lineEnd_ = 0, nextLf_ = 0;  // without quotes: this line's end, the next LF
  bool lfSought_ = false;
  char separator_;
  std::pmr::memory_resource* memory_;
  int line_ = 1;
};

// What strtod gives for a number out of a double's range: infinity when
// the number is large, zero when it is small, either with the number's
// sign. text is the number (grammar checked, no blanks, no '+').
double OutOfRangeValue(std::string_view text) {
  const bool negative = text[0] == '-';
  std::size_t at = negative ? 1 : 0;
  // The decimal exponent of the first nonzero digit, before the written exponent.
  long long scale = 0;
  bool found = false, point = false;
  for (; at < text.size() && text[at] != 'e' && text[at] != 'E'; ++at) {
    if (text[at] == '.') {
      point = true;
    } else if (!found && text[at] != '0') {
      found = true;
      scale = point ? scale - 1 : 0;  // fraction zeros before it are counted already
    } else if (found != point) {
      scale += found ? 1 : -1;  // integer digits after the first nonzero one, or fraction zeros before it
    }
  }
  long long exponent = 0;
  if (at < text.size()) {
    const bool down = text[at + 1] == '-';
    for (at += (text[at + 1] == '-' || text[at + 1] == '+') ? 2 : 1; at < text.size(); ++at) {
      exponent = std::min(exponent * 10 + (text[at] - '0'), 1LL << 40);
    }
    if (down) exponent = -exponent;
  }
  const double magnitude = scale + exponent < 0 ? 0.0 : std::numeric_limits<double>::infinity();
  return negative ? -magnitude : magnitude;
}

// The value of a cell the grammar accepts as a number.
double NumberValue(std::string_view cell) {
  std::size_t begin = 0, end = cell.size();
  while (IsBlank(cell[begin])) ++begin;
  while (IsBlank(cell[end - 1])) --end;
  if (cell[begin] == '+') ++begin;
  std::string_view number = cell.substr(begin, end - begin);
  double value = 0.0;
  if (std::from_chars(number.data(), number.data() + number.size(), value).ec == std::errc::result_out_of_range) {
    value = OutOfRangeValue(number);
  }
  return value;
}

// A cell with a comma: with its one comma made a point when that is its
// only decimal mark ("-1,5"), a number; "1.234,5" and "1,2,3" are not.
CellKind ReadCommaCell(std::string_view cell, double& value) {
  const std::size_t comma = cell.find(',');
  if (cell.find_first_of(",.", comma + 1) != std::string_view::npos || cell.find('.') < comma) {
    return CellKind::Word;  // a comma is never part of a missing word
  }
  std::string point(cell);
  point[comma] = '.';
  if (!tarvok::IsNumericText(point.data(), point.size())) return CellKind::Word;
  value = NumberValue(point);
  return CellKind::Number;
}

// "1.500", "-12.345": a point after 1 to 3 digits (the first not 0) and
// before exactly 3, which in a file of decimal commas may group thousands.
bool MayGroupThousands(std::string_view cell) {
  std::string_view t = Trim(cell);
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  const std::size_t point = t.find('.');
  if (point == std::string_view::npos || point < 1 || point > 3 || t[0] == '0' || t.size() != point + 4) {
    return false;
  }
  return std::all_of(t.begin(), t.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

}  // namespace

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool SameWordAnyCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

std::string Plural(std::size_t count, const char* word) {
  return fmt::format("{} {}{}", count, word, count == 1 ? "" : "s");
}

FieldArena::FieldArena(std::size_t bytes)
    : block_(new char[std::max<std::size_t>(bytes, 1 << 16)]),
      secondBlock_(new char[std::max<std::size_t>(bytes, 1 << 16)]),
      resource_(block_.get(), std::max<std::size_t>(bytes, 1 << 16)),
      secondResource_(secondBlock_.get(), std::max<std::size_t>(bytes, 1 << 16)) {
  AdviseHugePages(block_.get(), bytes);
  AdviseHugePages(secondBlock_.get(), bytes);
}

std::vector<Record> SplitRecords(std::string_view text, char separator, std::pmr::memory_resource* memory) {
  return Splitter(text, separator, nullptr, memory).All();
}

std::vector<Record> SplitRecords(std::string_view text, char separator, FieldArena& arena) {
  const std::size_t middle = text.size() >= kBytesForTwoThreads && std::thread::hardware_concurrency() >= 2
                                 ? text.find('\n', text.size() / 2)
                                 : std::string_view::npos;
  if (middle == std::string_view::npos) return SplitRecords(text, separator, arena.Memory());
  const std::string_view back = text.substr(middle + 1);
  std::future<std::vector<Record>> later = std::async(std::launch::async, [back, separator, &arena] {
    return Splitter(back, separator, nullptr, arena.SecondMemory()).All();
  });
  Splitter front(text.substr(0, middle + 1), separator, nullptr, arena.Memory());
  std::vector<Record> records = front.All();
  std::vector<Record> rest = later.get();
  // The back half's lines count on from the front's.
  const int before = front.Line() - 1;
  records.reserve(records.size() + rest.size());
  for (Record& record : rest) {
    record.line += before;
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<Record> SplitQuotedRecords(std::string& text, char separator, std::pmr::memory_resource* memory) {
  return Splitter(text, separator, text.data(), memory).All();
}

CellKind ReadCell(std::string_view cell, bool decimalComma, double& value) {
  // Most cells are plain numbers ("-1.25", "3e-5"): read in one step when
  // the number is the whole cell, which is then one the grammar accepts too
  // (it starts with a digit or a point, after a minus); blanks, a plus, an
  // out-of-range value and anything else take the grammar's way.
  if (!cell.empty()) {
    const char lead = cell[0] == '-' && cell.size() > 1 ? cell[1] : cell[0];
    double read = 0.0;
    if ((lead >= '0' && lead <= '9') || lead == '.') {
      const std::from_chars_result r = std::from_chars(cell.data(), cell.data() + cell.size(), read);
      if (r.ec == std::errc() && r.ptr == cell.data() + cell.size()) {
        value = read;
        return decimalComma && MayGroupThousands(cell) ? CellKind::Ambiguous : CellKind::Number;
      }
    }
  }
  if (tarvok::IsNumericText(cell.data(), cell.size())) {
    value = NumberValue(cell);
    return decimalComma && MayGroupThousands(cell) ? CellKind::Ambiguous : CellKind::Number;
  }
  if (tarvok::IsMissingWord(cell)) return CellKind::Missing;
  if (decimalComma && cell.find(',') != std::string_view::npos) return ReadCommaCell(cell, value);
  return CellKind::Word;
}

bool IsDataCell(std::string_view cell, bool decimalComma) {
  double value = 0.0;
  return ReadCell(cell, decimalComma, value) != CellKind::Word;
}

bool IsMissingCell(const std::string& cell) { return tarvok::IsMissingWord(cell); }

bool IsDecimalNumber(const std::string& cell) { return tarvok::IsNumericText(cell.data(), cell.size()); }

void DropTrailingEmptyField(std::vector<Record>& records, std::vector<std::string>& notes) {
  if (records.empty()) return;
  for (const Record& record : records) {
    if (record.fields.size() < 2 || !Trim(record.fields.back()).empty()) return;
  }
  for (Record& record : records) record.fields.pop_back();
  notes.push_back("every line ends in a separator: the empty last column is ignored");
}

void TakeSymbols(RawTable& raw, std::size_t field) {
  raw.geneSymbols.clear();
  for (const Record& row : raw.rows) raw.geneSymbols.push_back(tarvok::CleanSymbol(row.fields[field]));
}

void CheckRowWidths(const RawTable& raw) {
  std::size_t expected = raw.lead + static_cast<std::size_t>(raw.samples);
  for (const Record& row : raw.rows) {
    if (row.fields.size() != expected) {
      throw TableError(fmt::format("line {} has {} fields, but line {} has {}", row.line, row.fields.size(),
                                   raw.rows[0].line, expected));
    }
  }
}

}  // namespace tarvok
