// Text pieces every table reader uses: records, trimming, shared checks.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "tables/TableReaders.h"

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Plural(std::size_t count, const char* word) {
  return fmt::format("{} {}{}", count, word, count == 1 ? "" : "s");
}

std::vector<Record> SplitRecords(const std::string& text, char separator, bool quotes) {
  std::vector<Record> records;
  Record current;
  current.line = 1;
  std::string field;
  bool quotedField = false;
  int line = 1;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto isLineEnd = [](char c) { return c == '\n' || c == '\r'; };
  // Steps over the line end at i, counting the line.
  auto skipLineEnd = [&]() {
    if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
    ++i;
    ++line;
  };
  auto endRecord = [&]() {
    bool blankLine = current.fields.empty() && field.empty() && !quotedField;
    current.fields.push_back(std::move(field));
    field.clear();
    quotedField = false;
    if (!blankLine) records.push_back(std::move(current));
    current = Record();
    current.line = line;
  };
  while (i < n) {
    char c = text[i];
    if (quotes && c == '"' && field.empty() && !quotedField) {
      quotedField = true;
      int startLine = line;
      ++i;
      for (;;) {
        if (i >= n) throw TableError(fmt::format("line {}: a quoted field is never closed", startLine));
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (isLineEnd(text[i])) {
          field += '\n';
          skipLineEnd();
          continue;
        }
        field += text[i++];
      }
      if (i < n && text[i] != separator && !isLineEnd(text[i])) {
        throw TableError(fmt::format("line {}, column {}: text after the closing quote of a field", line,
                                     current.fields.size() + 1));
      }
      continue;
    }
    if (c == separator) {
      current.fields.push_back(std::move(field));
      field.clear();
      quotedField = false;
      ++i;
    } else if (isLineEnd(c)) {
      skipLineEnd();
      endRecord();
    } else {
      field += c;
      ++i;
    }
  }
  if (!field.empty() || !current.fields.empty() || quotedField) endRecord();
  return records;
}

std::string WithDecimalPoint(const std::string& cell) {
  std::size_t comma = cell.find(',');
  if (comma == std::string::npos || cell.find_first_of(",.", comma + 1) != std::string::npos ||
      cell.find('.') < comma) {
    return cell;
  }
  std::string point = cell;
  point[comma] = '.';
  return point;
}

bool IsDataCell(const std::string& cell, bool decimalComma) {
  return IsMissingCell(cell) || IsDecimalNumber(decimalComma ? WithDecimalPoint(cell) : cell);
}

void DropTrailingEmptyField(std::vector<Record>& records, std::vector<std::string>& notes) {
  if (records.empty()) return;
  for (const Record& record : records) {
    if (record.fields.size() < 2 || !Trim(record.fields.back()).empty()) return;
  }
  for (Record& record : records) record.fields.pop_back();
  notes.push_back("every line ends in a separator: the empty last column is ignored");
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
