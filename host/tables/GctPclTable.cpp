// GCT 1.2 and PCL tables: fixed layouts with label columns before the values.
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/NumberGrammar.h"
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

}  // namespace

// GCT 1.2: "#1.2", then the row and column counts, then a header
// "Name<TAB>Description<TAB>samples...", then rows of name, description and
// values. The declared counts must match the file.
RawTable SplitGct(std::string_view text, std::pmr::memory_resource* memory) {
  std::vector<Record> records = SplitRecords(text, '\t', memory);
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
  std::vector<Record> table(std::make_move_iterator(records.begin() + 2),
                            std::make_move_iterator(records.end()));
  DropTrailingEmptyField(table, raw.notes);
  const Record& header = table[0];
  if (header.fields.size() < 3) throw TableError(fmt::format("line {} names no samples", header.line));
  raw.sampleLabels.assign(header.fields.begin() + 2, header.fields.end());
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  raw.rows.assign(std::make_move_iterator(table.begin() + 1), std::make_move_iterator(table.end()));
  if (raw.samples != declaredColumns || static_cast<long>(raw.rows.size()) != declaredRows) {
    throw TableError(
        fmt::format("line {} declares {} rows and {} columns, but the file has {} rows and {} columns",
                    records[1].line, declaredRows, declaredColumns, raw.rows.size(), raw.samples));
  }
  if (raw.rows.empty()) throw TableError("the table has no data rows");
  CheckRowWidths(raw);
  raw.layout.push_back("line 3 names the samples (GCT)");
  raw.layout.push_back("column 1 holds the gene names, column 2 their descriptions (GCT)");
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
