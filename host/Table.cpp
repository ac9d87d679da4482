#include "Table.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "Tarvok.h"

namespace {

// One line of a file split into fields (a CSV record may span lines).
struct Record {
  int line = 0;  // 1-based line where the record starts
  std::vector<std::string> fields;
};

// The file split into rows before any number is read.
struct RawTable {
  TableFormat format = TableFormat::Tsv;
  bool hasHeaderRow = false, hasLabelColumn = false;
  std::vector<std::string> sampleLabels;  // from the header; empty without one
  std::vector<Record> rows;               // data rows only
  std::size_t lead = 0;                   // fields before the first value
  int samples = 0;
  std::vector<std::string> notes;  // layout corrections, for the user
};

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

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TableError(fmt::format("cannot open for reading: {}", std::strerror(errno)));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw TableError(fmt::format("cannot read: {}", std::strerror(errno)));
  std::string text = content.str();
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

// Splits text into records. Line ends are LF, CRLF or CR. With quotes, a
// field that starts with '"' runs to the next lone '"' (RFC 4180): it may
// hold separators and line ends, and "" stands for one quote. A line with
// nothing on it is no record.
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

// A number or a missing-value word: a cell that can only be data.
bool IsDataCell(const std::string& cell) { return IsDecimalNumber(cell) || IsMissingCell(cell); }

// The header and label questions answered from the first two records, as
// the library's probe answers them for a TSV file.
void ProbeRecords(const std::vector<Record>& records, bool& hasHeaderRow, bool& hasLabelColumn) {
  hasHeaderRow = !records.empty() && records[0].fields.size() > 1 && !IsDataCell(records[0].fields[1]);
  hasLabelColumn = records.size() > 1 && !IsDataCell(records[1].fields[0]);
}

// The probe judges from one cell each, so a missing value in the wrong place
// ("NA" as the first value of line 2) would turn a column of numbers into
// labels, or a line of numbers into sample names. A header row whose cells
// can all only be data, and a label column likewise, are read as data.
void CorrectLayout(const std::vector<Record>& records, bool& hasHeaderRow, bool& hasLabelColumn,
                   std::vector<std::string>& notes) {
  auto allData = [](auto begin, auto end) {
    return std::all_of(begin, end, [](const std::string& cell) { return IsDataCell(cell); });
  };
  if (hasHeaderRow && !records.empty()) {
    const std::vector<std::string>& first = records[0].fields;
    if (allData(first.begin() + (hasLabelColumn ? 1 : 0), first.end())) {
      hasHeaderRow = false;
      notes.push_back(fmt::format(
          "line {} holds only numbers and missing values: read as data, not as a header", records[0].line));
    }
  }
  std::size_t first = hasHeaderRow ? 1 : 0;
  if (hasLabelColumn && records.size() > first &&
      std::all_of(records.begin() + static_cast<long>(first), records.end(),
                  [](const Record& row) { return IsDataCell(row.fields[0]); })) {
    hasLabelColumn = false;
    notes.push_back("the first column holds only numbers and missing values: read as data, not as labels");
  }
}

// Checks that every data row has lead + samples fields.
void CheckRowWidths(const RawTable& raw) {
  std::size_t expected = raw.lead + static_cast<std::size_t>(raw.samples);
  for (const Record& row : raw.rows) {
    if (row.fields.size() != expected) {
      throw TableError(fmt::format("line {} has {} fields, but line {} has {}", row.line, row.fields.size(),
                                   raw.rows[0].line, expected));
    }
  }
}

// TSV and CSV: an optional header row and an optional label column. The
// header may leave out the corner cell above the labels.
RawTable SplitPlainTable(std::vector<Record> records, TableFormat format, bool hasHeaderRow,
                         bool hasLabelColumn) {
  RawTable raw;
  CorrectLayout(records, hasHeaderRow, hasLabelColumn, raw.notes);
  raw.format = format;
  raw.hasHeaderRow = hasHeaderRow;
  raw.hasLabelColumn = hasLabelColumn;
  raw.lead = hasLabelColumn ? 1 : 0;
  std::size_t first = hasHeaderRow ? 1 : 0;
  if (records.size() <= first) throw TableError("the table has no data rows");
  const Record& firstRow = records[first];
  if (firstRow.fields.size() <= raw.lead) {
    throw TableError(fmt::format("line {} has no values", firstRow.line));
  }
  raw.samples = static_cast<int>(firstRow.fields.size() - raw.lead);
  if (hasHeaderRow) {
    const std::vector<std::string>& names = records[0].fields;
    std::size_t samples = static_cast<std::size_t>(raw.samples);
    if (names.size() == samples + raw.lead) {
      raw.sampleLabels.assign(names.begin() + static_cast<long>(raw.lead), names.end());
    } else if (names.size() == samples && raw.lead == 1) {
      raw.sampleLabels = names;
    } else {
      throw TableError(fmt::format("line {} names {} columns, but line {} has {} values", records[0].line,
                                   names.size(), firstRow.line, samples));
    }
  }
  raw.rows.assign(std::make_move_iterator(records.begin() + static_cast<long>(first)),
                  std::make_move_iterator(records.end()));
  CheckRowWidths(raw);
  return raw;
}

int ParseCount(const std::string& text, int line) {
  std::string cell = Trim(text);
  char* end = nullptr;
  long value = std::strtol(cell.c_str(), &end, 10);
  if (cell.empty() || *end != '\0' || value < 0 || value > std::numeric_limits<int>::max()) {
    throw TableError(fmt::format("line {}: \"{}\" is not a count", line, text));
  }
  return static_cast<int>(value);
}

// GCT 1.2: "#1.2", then the row and column counts, then a header
// "Name<TAB>Description<TAB>samples...", then rows of name, description and
// values. The declared counts must match the file.
RawTable SplitGct(std::vector<Record> records) {
  if (records.empty() || Trim(records[0].fields[0]) != "#1.2") {
    throw TableError("a GCT file starts with the line #1.2");
  }
  if (records.size() < 3 || records[1].fields.size() < 2) {
    throw TableError("a GCT file needs a line with the row and column counts and a header line");
  }
  int declaredRows = ParseCount(records[1].fields[0], records[1].line);
  int declaredColumns = ParseCount(records[1].fields[1], records[1].line);
  RawTable raw;
  raw.format = TableFormat::Gct;
  raw.hasHeaderRow = raw.hasLabelColumn = true;
  raw.lead = 2;
  const Record& header = records[2];
  if (header.fields.size() < 3) throw TableError(fmt::format("line {} names no samples", header.line));
  raw.sampleLabels.assign(header.fields.begin() + 2, header.fields.end());
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  raw.rows.assign(std::make_move_iterator(records.begin() + 3), std::make_move_iterator(records.end()));
  if (raw.samples != declaredColumns || static_cast<long>(raw.rows.size()) != declaredRows) {
    throw TableError(
        fmt::format("line {} declares {} rows and {} columns, but the file has {} rows and {} columns",
                    records[1].line, declaredRows, declaredColumns, raw.rows.size(), raw.samples));
  }
  if (raw.rows.empty()) throw TableError("the table has no data rows");
  CheckRowWidths(raw);
  return raw;
}

// PCL: a header "UID<TAB>NAME<TAB>GWEIGHT<TAB>samples..." (GWEIGHT may be
// absent), an optional EWEIGHT row of array weights, then rows of id, name,
// weight and values. The weights are not used.
RawTable SplitPcl(std::vector<Record> records) {
  if (records.empty()) throw TableError("the table is empty");
  const Record& header = records[0];
  RawTable raw;
  raw.format = TableFormat::Pcl;
  raw.hasHeaderRow = raw.hasLabelColumn = true;
  raw.lead = header.fields.size() >= 3 && Upper(Trim(header.fields[2])) == "GWEIGHT" ? 3 : 2;
  if (header.fields.size() <= raw.lead)
    throw TableError(fmt::format("line {} names no samples", header.line));
  raw.sampleLabels.assign(header.fields.begin() + static_cast<long>(raw.lead), header.fields.end());
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  std::size_t first = 1;
  if (records.size() > 1 && Upper(Trim(records[1].fields[0])) == "EWEIGHT") first = 2;
  raw.rows.assign(std::make_move_iterator(records.begin() + static_cast<long>(first)),
                  std::make_move_iterator(records.end()));
  if (raw.rows.empty()) throw TableError("the table has no data rows");
  CheckRowWidths(raw);
  return raw;
}

RawTable SplitTable(const std::string& path, const std::string& text, TableFormat format) {
  switch (format) {
    case TableFormat::Gct:
      return SplitGct(SplitRecords(text, '\t', false));
    case TableFormat::Pcl:
      return SplitPcl(SplitRecords(text, '\t', false));
    case TableFormat::Csv: {
      std::vector<Record> records = SplitRecords(text, ',', true);
      bool hasHeaderRow = false, hasLabelColumn = false;
      ProbeRecords(records, hasHeaderRow, hasLabelColumn);
      return SplitPlainTable(std::move(records), format, hasHeaderRow, hasLabelColumn);
    }
    default: {
      int hasHeaderRow = 0, hasLabelColumn = 0;
      std::string probePath = path;
      char* probeArgument = probePath.data();
      tsvFileFormatTest(&probeArgument, &hasHeaderRow, &hasLabelColumn);
      return SplitPlainTable(SplitRecords(text, '\t', false), TableFormat::Tsv, hasHeaderRow != 0,
                             hasLabelColumn != 0);
    }
  }
}

std::string GeneName(const RawTable& raw, std::size_t row) {
  if (raw.hasLabelColumn) return fmt::format("gene \"{}\"", raw.rows[row].fields[0]);
  return fmt::format("gene {}", row + 1);
}

std::string CellPlace(const RawTable& raw, std::size_t row, std::size_t sample) {
  std::string place =
      fmt::format("line {}, column {} ({}", raw.rows[row].line, raw.lead + sample + 1, GeneName(raw, row));
  if (!raw.sampleLabels.empty()) place += fmt::format(", sample \"{}\"", raw.sampleLabels[sample]);
  return place + ")";
}

std::string Plural(std::size_t count, const char* word) {
  return fmt::format("{} {}{}", count, word, count == 1 ? "" : "s");
}

// Reads the numbers of raw into table and applies the missing-value policy.
void FillValues(const RawTable& raw, MissingPolicy policy, Table& table) {
  const std::size_t samples = static_cast<std::size_t>(raw.samples);
  const double missing = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> row(samples);
  std::vector<std::size_t> kept;  // original row of each kept gene
  std::size_t droppedForMissing = 0, droppedEmpty = 0, replaced = 0, genesFilled = 0;
  std::string firstDropped;
  for (std::size_t r = 0; r < raw.rows.size(); ++r) {
    const Record& record = raw.rows[r];
    std::size_t missingHere = 0;
    for (std::size_t s = 0; s < samples; ++s) {
      const std::string& cell = record.fields[raw.lead + s];
      if (IsMissingCell(cell)) {
        if (policy == MissingPolicy::Error) {
          throw TableError(fmt::format(
              "{}: missing value \"{}\"; use --missing drop to leave out genes with missing values, "
              "or --missing row-mean to fill them with the gene's mean",
              CellPlace(raw, r, s), Trim(cell)));
        }
        row[s] = missing;
        ++missingHere;
        continue;
      }
      double value = IsDecimalNumber(cell) ? std::strtod(cell.c_str(), nullptr) : missing;
      if (!std::isfinite(value)) {
        throw TableError(fmt::format("{}: \"{}\" is not a {}number", CellPlace(raw, r, s), cell,
                                     IsDecimalNumber(cell) ? "finite " : ""));
      }
      row[s] = value;
    }
    table.missingCells += static_cast<int>(missingHere);
    if (missingHere > 0 && policy == MissingPolicy::Drop) {
      if (droppedForMissing++ == 0) firstDropped = GeneName(raw, r);
      continue;
    }
    if (missingHere > 0 && policy == MissingPolicy::RowMean) {
      if (missingHere == samples) {
        ++droppedEmpty;
        continue;
      }
      double sum = 0.0;  // in sample order
      for (std::size_t s = 0; s < samples; ++s) {
        if (!std::isnan(row[s])) sum += row[s];
      }
      double mean = sum / static_cast<double>(samples - missingHere);
      for (double& value : row) {
        if (std::isnan(value)) value = mean;
      }
      replaced += missingHere;
      ++genesFilled;
    }
    table.values.insert(table.values.end(), row.begin(), row.end());
    kept.push_back(r);
  }
  table.genes = static_cast<int>(kept.size());
  table.droppedGenes = static_cast<int>(raw.rows.size() - kept.size());
  table.imputedCells = static_cast<int>(replaced);
  bool dropped = kept.size() < raw.rows.size();
  if (raw.hasLabelColumn) {
    for (std::size_t r : kept) table.geneLabels.push_back(raw.rows[r].fields[0]);
  } else if (dropped) {
    for (std::size_t r : kept) table.geneLabels.push_back(fmt::format("GENE{:05d}", r + 1));
  }
  if (droppedForMissing > 0) {
    table.notes.push_back(fmt::format("dropped {} with missing values (the first is {}); {} left",
                                      Plural(droppedForMissing, "gene"), firstDropped,
                                      Plural(kept.size(), "gene")));
  }
  if (replaced > 0) {
    table.notes.push_back(fmt::format("replaced {} in {} by the gene's mean",
                                      Plural(replaced, "missing value"), Plural(genesFilled, "gene")));
  }
  if (droppedEmpty > 0) {
    table.notes.push_back(fmt::format("dropped {} without any value", Plural(droppedEmpty, "gene")));
  }
  if (dropped && !raw.hasLabelColumn) {
    table.notes.push_back("genes are labelled GENEnnnnn by their row in the table");
  }
}

}  // namespace

bool IsMissingCell(const std::string& cell) {
  std::string word = Upper(Trim(cell));
  return word.empty() || word == "NA" || word == "NAN" || word == "N/A";
}

bool IsDecimalNumber(const std::string& cell) {
  std::size_t i = 0;
  const std::size_t n = cell.size();
  auto digits = [&]() {
    std::size_t start = i;
    while (i < n && std::isdigit(static_cast<unsigned char>(cell[i]))) ++i;
    return i - start;
  };
  while (i < n && IsBlank(cell[i])) ++i;
  if (i < n && (cell[i] == '+' || cell[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < n && cell[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < n && (cell[i] == 'e' || cell[i] == 'E')) {
    ++i;
    if (i < n && (cell[i] == '+' || cell[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  while (i < n && IsBlank(cell[i])) ++i;
  return i == n;
}

const char* FormatName(TableFormat format) {
  switch (format) {
    case TableFormat::Tsv:
      return "tsv";
    case TableFormat::Csv:
      return "csv";
    case TableFormat::Gct:
      return "gct";
    case TableFormat::Pcl:
      return "pcl";
    default:
      return "auto";
  }
}

TableFormat DetectFormat(const std::string& path, const std::string& text) {
  std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  if (Trim(firstLine.substr(0, firstLine.find('\t'))) == "#1.2") return TableFormat::Gct;
  std::size_t dot = path.find_last_of("./");
  std::string extension = dot != std::string::npos && path[dot] == '.' ? Upper(path.substr(dot + 1)) : "";
  if (extension == "GCT") return TableFormat::Gct;
  if (extension == "PCL") return TableFormat::Pcl;
  if (extension == "CSV") return TableFormat::Csv;
  std::vector<Record> head = SplitRecords(firstLine, '\t', false);
  if (!head.empty() && head[0].fields.size() >= 3 && Upper(Trim(head[0].fields[2])) == "GWEIGHT") {
    return TableFormat::Pcl;
  }
  if (firstLine.find('\t') == std::string::npos && firstLine.find(',') != std::string::npos) {
    return TableFormat::Csv;
  }
  return TableFormat::Tsv;
}

void CleanLabels(std::vector<std::string>& labels, const char* stem, LabelRepairs& repairs) {
  for (std::size_t j = 0; j < labels.size(); ++j) {
    std::string& label = labels[j];
    if (label.empty()) {
      label = fmt::format("{}{:05d}", stem, j + 1);
      ++repairs.empty;
    }
    bool hadBlank = false;
    for (char& c : label) {
      if (IsBlank(c)) {
        c = '_';
        hadBlank = true;
      }
    }
    repairs.blanks += hadBlank ? 1 : 0;
    if (label.size() > kMaxLabelLength) {
      std::size_t cut = kMaxLabelLength;
      // Never split a UTF-8 sequence: back up over continuation bytes.
      while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) --cut;
      label.resize(cut);
      ++repairs.shortened;
    }
  }
}

Table ReadTable(const std::string& path, TableFormat format, MissingPolicy policy) {
  std::string text = ReadWholeFile(path);
  if (format == TableFormat::Auto) format = DetectFormat(path, text);
  RawTable raw = SplitTable(path, text, format);
  Table table;
  table.format = raw.format;
  table.hasHeaderRow = raw.hasHeaderRow;
  table.hasLabelColumn = raw.hasLabelColumn;
  table.samples = raw.samples;
  table.notes = std::move(raw.notes);
  if (raw.rows.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / raw.samples)) {
    throw TableError("the table is too large");
  }
  FillValues(raw, policy, table);
  if (table.genes < 2 || table.samples < 2) {
    throw TableError(fmt::format("the analysis needs at least 2 genes and 2 samples; the table has {} and {}",
                                 Plural(static_cast<std::size_t>(table.genes), "gene"),
                                 Plural(static_cast<std::size_t>(table.samples), "sample")));
  }
  table.sampleLabels = std::move(raw.sampleLabels);
  LabelRepairs repairs;
  CleanLabels(table.geneLabels, "GENE", repairs);
  CleanLabels(table.sampleLabels, "sample", repairs);
  std::vector<std::string> changes;
  if (repairs.blanks > 0) changes.push_back(fmt::format("{} with blanks (now underscores)", repairs.blanks));
  if (repairs.shortened > 0) {
    changes.push_back(
        fmt::format("{} longer than {} characters (shortened)", repairs.shortened, kMaxLabelLength));
  }
  if (repairs.empty > 0) changes.push_back(fmt::format("{} empty (named by position)", repairs.empty));
  if (!changes.empty()) table.notes.push_back(fmt::format("labels changed: {}", fmt::join(changes, "; ")));
  return table;
}
