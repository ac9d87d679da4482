// The low-level pieces every table reader uses: a file's text split into
// records of fields, the raw table each reader produces before any number
// is read, and the reading of one cell. Fields are views into the file's
// bytes, never copies; internal to the host.
#pragma once

#include <list>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "tables/Table.h"

namespace tarvok {

// The fields of a record: views of the text it was split from, which must
// outlive them.
using Fields = std::pmr::vector<std::string_view>;

// One line of a file split into fields (a CSV record may span lines).
struct Record {
  int line = 0;  // 1-based line where the record starts
  Fields fields;
};

// Memory for the fields of a table's records: one block, advised for huge
// pages, handed out in order and freed at once (a table of 12625 x 128
// cells has 26 MB of views; thousands of separate allocations, each
// touching fresh pages, cost more than splitting the text). Beyond the
// block, the memory comes from the heap. A second block, as large, serves
// a second thread (SplitRecords on an arena). Untouched, a block costs
// only address space.
class FieldArena {
 public:
  // bytes: the text's size, which bounds the views of most tables.
  explicit FieldArena(std::size_t bytes);
  std::pmr::memory_resource* Memory() { return &resource_; }
  std::pmr::memory_resource* SecondMemory() { return &secondResource_; }
  // A copy of text that lives as long as the arena, for readers that change
  // their text (CSV fields are unquoted in place).
  std::string& Copy(std::string_view text) { return copies_.emplace_back(text); }

 private:
  std::list<std::string> copies_;
  std::unique_ptr<char[]> block_, secondBlock_;
  std::pmr::monotonic_buffer_resource resource_, secondResource_;
};

// The file split into rows before any number is read.
struct RawTable {
  TableFormat format = TableFormat::Tsv;
  bool hasHeaderRow = false, hasLabelColumn = false;
  std::vector<std::string> sampleLabels;  // from the header; empty without one
  std::vector<Record> rows;               // data rows only
  std::size_t lead = 0;                   // fields before the first value
  std::size_t nameField = 0;              // field of the gene name, when hasLabelColumn
  int samples = 0;
  char separator = '\t';
  bool decimalComma = false;               // "1,5" is one and a half
  std::vector<std::string> sampleClasses;  // --classes-from: one word per sample
  std::vector<std::string> geneSymbols;    // one per row, or empty: symbols beside the row keys
  std::string valueType;                   // a GDS's !dataset_value_type, "" when none
  // The line of each value cell (rows x samples), 0 where the file has no
  // cell; empty when every cell is on its row's line at column lead + sample + 1.
  std::vector<int> cellLines;
  std::vector<std::string> platforms;      // family SOFT: "GPL96 (10 samples)", each platform
  std::vector<std::string> notes;          // layout corrections and warnings, for the user
  std::vector<std::string> layout;         // why the layout is what it is
};

bool IsBlank(char c);
std::string_view Trim(std::string_view text);
// a and b are the same but for the case of ASCII letters.
bool SameWordAnyCase(std::string_view a, std::string_view b);
std::string Lower(std::string_view text);
std::string Plural(std::size_t count, const char* word);

// Splits text into records at separator and line ends (LF, CRLF or CR);
// the fields view text and are kept in memory. A line with nothing on it is
// no record.
std::vector<Record> SplitRecords(std::string_view text, char separator,
                                 std::pmr::memory_resource* memory = std::pmr::get_default_resource());
// The same records, the fields in arena's memory; a large text is split on
// two threads (at a line end near its middle) where there are two cores.
std::vector<Record> SplitRecords(std::string_view text, char separator, FieldArena& arena);

// SplitRecords for CSV: a field that starts with '"' runs to the next lone
// '"' (RFC 4180); it may hold separators and line ends, and "" stands for
// one quote. Such a field is rewritten in place, within its own bytes (its
// quotes gone, "" made one quote, each line end one LF), so text changes.
std::vector<Record> SplitQuotedRecords(std::string& text, char separator, std::pmr::memory_resource* memory);

// What a cell holds. Ambiguous: with decimal commas, a number whose point
// may as well be a thousands separator ("1.500": 1.5 or 1500).
enum class CellKind { Number, Missing, Word, Ambiguous };

// Reads one cell: a number by the shared grammar (IsDecimalNumber), with
// decimalComma a cell whose one decimal mark is a comma too ("-1,5"; not
// "1.234,5"), and Ambiguous for 1 to 3 digits (not starting with 0), a
// point and 3 digits; a missing value by tarvok::IsMissingWord; else a word.
// value gets the number, as strtod would give it (correctly rounded, an
// overflow infinite, an underflow a signed zero).
CellKind ReadCell(std::string_view cell, bool decimalComma, double& value);

// A number or a missing-value word: a cell that can only be data.
bool IsDataCell(std::string_view cell, bool decimalComma);

// Removes the last field of every record when it is empty on every line
// (a separator at the end of each line), with a note.
void DropTrailingEmptyField(std::vector<Record>& records, std::vector<std::string>& notes);

// Checks that every data row has lead + samples fields.
void CheckRowWidths(const RawTable& raw);

// Fills raw.geneSymbols from field of every row, each made
// tarvok::CleanSymbol (trimmed, "" for a missing word).
void TakeSymbols(RawTable& raw, std::size_t field);

}  // namespace tarvok
