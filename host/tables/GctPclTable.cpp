// GCT 1.2 and PCL tables: fixed layouts with label columns before the values.
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/NumberGrammar.h"
#include "core/Rules.h"
#include "tables/TableReaders.h"

namespace tarvok {

namespace {

int ParseCount(std::string_view text, int line) {
  std::string_view cell = Trim(text);
  if (!cell.empty() && cell[0] == '+') cell.remove_prefix(1);
  long value = -1;
  auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (cell.empty() || error != std::errc() || end != cell.data() + cell.size() || value < 0 ||
      value > std::numeric_limits<int>::max()) {
    throw TableError(fmt::format("line {}: \"{}\" is not a count", line, text));
  }
  return static_cast<int>(value);
}

// The counts of a GCT file's second line: rows and columns, and in GCT 1.3
// the row metadata fields and column metadata rows.
struct GctShape {
  int rows = 0, columns = 0, rowFields = 1, columnRows = 0;
};

GctShape ReadGctShape(const std::vector<Record>& records, bool version13) {
  const std::size_t counts = version13 ? 4 : 2;
  if (records.size() < 3 || records[1].fields.size() < counts) {
    throw TableError(version13 ? "a GCT 1.3 file needs a line with the counts of rows, columns, row metadata "
                                 "fields and column metadata rows, and a header line"
                               : "a GCT file needs a line with the row and column counts and a header line");
  }
  const Record& line = records[1];
  GctShape shape;
  shape.rows = ParseCount(line.fields[0], line.line);
  shape.columns = ParseCount(line.fields[1], line.line);
  if (version13) {
    shape.rowFields = ParseCount(line.fields[2], line.line);
    shape.columnRows = ParseCount(line.fields[3], line.line);
  }
  return shape;
}

// The row metadata field that holds gene symbols: the first whose title is
// a description or symbol ("Description", "Gene Symbol", "gene_name"), or 0.
std::size_t SymbolField(const Fields& header, std::size_t lead) {
  static const char* const kTitles[] = {"description", "symbol", "symbols", "genesymbol", "gene", "genename",
                                        "name", "hgncsymbol"};
  for (std::size_t f = 1; f < lead; ++f) {
    std::string key;
    for (char c : Lower(Trim(header[f]))) {
      if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) key += c;
    }
    for (const char* title : kTitles) {
      if (key == title) return f;
    }
  }
  return 0;
}

// The class of each sample from the column metadata row named name.
std::vector<std::string> MetadataClasses(const std::vector<Record>& meta, const RawTable& raw,
                                         const std::string& name) {
  std::vector<std::string> names;
  for (const Record& row : meta) {
    if (SameWordAnyCase(Trim(row.fields[0]), Trim(name))) {
      std::vector<std::string> classes;
      for (std::size_t f = raw.lead; f < row.fields.size(); ++f) classes.emplace_back(Trim(row.fields[f]));
      return classes;
    }
    names.emplace_back(Trim(row.fields[0]));
  }
  throw TableError(fmt::format(
      "no column metadata row \"{}\"; the file's column metadata rows are {}", name,
      names.empty() ? std::string("(none)") : fmt::format("\"{}\"", fmt::join(names, "\", \""))));
}

}  // namespace

// GCT 1.2: "#1.2", then the row and column counts, then a header
// "Name<TAB>Description<TAB>samples...", then rows of name, description and
// values. GCT 1.3: "#1.3", then the counts of rows, columns, row metadata
// fields and column metadata rows; a header "id<TAB>fields...<TAB>samples...";
// the column metadata rows ("name<TAB>fillers...<TAB>a value per sample");
// then rows of id, metadata fields and values. The declared counts must
// match the file. A Description or symbol field gives the gene symbols.
RawTable SplitGct(std::string_view text, const std::string& classesFrom, std::pmr::memory_resource* memory) {
  std::vector<Record> records = SplitRecords(text, '\t', memory);
  const std::string_view version = records.empty() ? std::string_view() : Trim(records[0].fields[0]);
  if (version != "#1.2" && version != "#1.3") throw TableError("a GCT file starts with the line #1.2 or #1.3");
  const bool version13 = version == "#1.3";
  if (!version13 && !classesFrom.empty()) {
    throw TableError("--classes-from reads a column metadata row of a GCT 1.3 file, and this GCT 1.2 file has none");
  }
  const GctShape shape = ReadGctShape(records, version13);
  RawTable raw;
  raw.format = TableFormat::Gct;
  raw.hasHeaderRow = raw.hasLabelColumn = true;
  raw.lead = 1 + static_cast<std::size_t>(shape.rowFields);
  std::vector<Record> table(std::make_move_iterator(records.begin() + 2),
                            std::make_move_iterator(records.end()));
  DropTrailingEmptyField(table, raw.notes);
  const Record& header = table[0];
  if (header.fields.size() <= raw.lead) throw TableError(fmt::format("line {} names no samples", header.line));
  raw.sampleLabels.assign(header.fields.begin() + static_cast<long>(raw.lead), header.fields.end());
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  const std::size_t symbols = SymbolField(header.fields, raw.lead);
  const std::size_t firstRow = 1 + static_cast<std::size_t>(shape.columnRows);
  if (table.size() < firstRow) {
    throw TableError(fmt::format("line {} declares {}, but the file ends before them", records[1].line,
                                 Plural(firstRow - 1, "column metadata row")));
  }
  std::vector<Record> meta(std::make_move_iterator(table.begin() + 1),
                           std::make_move_iterator(table.begin() + static_cast<long>(firstRow)));
  raw.rows.assign(std::make_move_iterator(table.begin() + static_cast<long>(firstRow)),
                  std::make_move_iterator(table.end()));
  if (raw.samples != shape.columns || static_cast<long>(raw.rows.size()) != shape.rows) {
    throw TableError(
        fmt::format("line {} declares {} rows and {} columns, but the file has {} rows and {} columns",
                    records[1].line, shape.rows, shape.columns, raw.rows.size(), raw.samples));
  }
  std::swap(meta, raw.rows);  // the metadata rows have the data rows' width
  CheckRowWidths(raw);
  std::swap(meta, raw.rows);
  if (raw.rows.empty()) throw TableError("the table has no data rows");
  CheckRowWidths(raw);
  if (symbols > 0) TakeSymbols(raw, symbols);
  if (!classesFrom.empty()) raw.sampleClasses = MetadataClasses(meta, raw, classesFrom);
  raw.layout.push_back(fmt::format("line 3 names the samples (GCT {})", version13 ? "1.3" : "1.2"));
  raw.layout.push_back(
      version13 ? fmt::format("column 1 holds the gene names, then {} (GCT 1.3)",
                              Plural(static_cast<std::size_t>(shape.rowFields), "row metadata field"))
                : std::string("column 1 holds the gene names, column 2 their descriptions (GCT)"));
  return raw;
}

// PCL: a header "UID<TAB>NAME<TAB>GWEIGHT<TAB>samples..." (GWEIGHT may be
// absent), an optional EWEIGHT row of array weights, then rows of id, name,
// weight and values. The weights are not used. A forced PCL whose second
// column holds numbers on every line is a plain table, whose first sample
// the NAME column would silently swallow.
RawTable SplitPcl(std::string_view text, bool forced, std::pmr::memory_resource* memory) {
  std::vector<Record> records = SplitRecords(text, '\t', memory);
  if (records.empty()) throw TableError("the table is empty");
  RawTable raw;
  DropTrailingEmptyField(records, raw.notes);
  const Record& header = records[0];
  raw.format = TableFormat::Pcl;
  raw.hasHeaderRow = raw.hasLabelColumn = true;
  raw.lead = header.fields.size() >= 3 && SameWordAnyCase(Trim(header.fields[2]), "gweight") ? 3 : 2;
  if (header.fields.size() <= raw.lead)
    throw TableError(fmt::format("line {} names no samples", header.line));
  raw.sampleLabels.assign(header.fields.begin() + static_cast<long>(raw.lead), header.fields.end());
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  std::size_t first = 1;
  if (records.size() > 1 && SameWordAnyCase(Trim(records[1].fields[0]), "eweight")) first = 2;
  raw.rows.assign(std::make_move_iterator(records.begin() + static_cast<long>(first)),
                  std::make_move_iterator(records.end()));
  if (raw.rows.empty()) throw TableError("the table has no data rows");
  if (forced && raw.lead == 2 && std::all_of(raw.rows.begin(), raw.rows.end(), [](const Record& row) {
        return row.fields.size() > 1 && tarvok::IsNumericText(row.fields[1].data(), row.fields[1].size());
      })) {
    throw TableError(
        "--format pcl, but column 2 holds numbers on every line where a PCL file has gene names: this "
        "looks like a plain table (--format tsv), and reading it as PCL would lose a sample");
  }
  CheckRowWidths(raw);
  raw.layout.push_back("line 1 names the samples (PCL)");
  raw.layout.push_back(fmt::format("column 1 holds the gene IDs, column 2 their names{} (PCL)",
                                   raw.lead == 3 ? ", column 3 their weights" : ""));
  return raw;
}

}  // namespace tarvok
