// Expression tables: reading TSV, CSV, GCT and PCL files into a genes x
// samples matrix with its labels, and the missing-value policies.
//
// Every reader accepts a UTF-8 byte-order mark and LF, CRLF or CR line ends.
// Completely empty lines are skipped. Missing values are empty cells and the
// words NA, NaN and N/A in any case; any other cell that is not a finite
// decimal number is an error naming its line and column.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

enum class TableFormat { Auto, Tsv, Csv, Gct, Pcl };
// Keep leaves missing values as NaN: for looking at a table, never for an
// analysis.
enum class MissingPolicy { Error, Drop, RowMean, Keep };

// Labels longer than this many bytes are shortened: the library keeps a
// label in an 80-byte string.
inline constexpr std::size_t kMaxLabelLength = 79;

// A table ready for the analysis.
struct Table {
  TableFormat format = TableFormat::Tsv;  // the format actually read
  bool hasHeaderRow = false;              // layout of the file, as detected
  bool hasLabelColumn = false;
  int genes = 0, samples = 0;
  std::vector<double> values;  // genes x samples, row-major by gene
  // Gene labels, one per gene, or empty when the table has none. When genes
  // were dropped from a table without labels, they hold GENE%05d of each
  // gene's original position so that results still name the right rows.
  std::vector<std::string> geneLabels;
  std::vector<std::string> sampleLabels;  // one per sample, or empty
  int missingCells = 0;                   // missing values found in the file
  // What the missing-value policy did: genes and samples left out, cells
  // filled with the gene's mean.
  int droppedGenes = 0, droppedSamples = 0, imputedCells = 0;
  // What the reader changed, one sentence each, for the user: genes
  // dropped, values replaced, labels rewritten.
  std::vector<std::string> notes;
};

// Bad input: the message names the file position where it can.
class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a table file.
//   path   (input) the file
//   format (input) the file's format, or Auto to detect it (DetectFormat)
//   policy (input) what to do with missing values
// Returns the table; throws TableError when the file cannot be read, is
// malformed, has a missing value under MissingPolicy::Error, or leaves fewer
// than 2 genes or 2 samples.
Table ReadTable(const std::string& path, TableFormat format, MissingPolicy policy);

// The format of a file from its name and content: "#1.2" on the first line
// is GCT; a .gct, .pcl or .csv name decides next; a first line whose third
// tab-separated field is GWEIGHT is PCL; a first line with commas and no
// tab is CSV; anything else is TSV.
//   path (input) file name, only its extension is looked at
//   text (input) the file's content, byte-order mark already removed
TableFormat DetectFormat(const std::string& path, const std::string& text);

// Lower-case name of a format ("tsv", "csv", "gct", "pcl", "auto").
const char* FormatName(TableFormat format);

// What CleanLabels changed, by kind; one label may count in several.
struct LabelRepairs {
  int blanks = 0;     // white space replaced by '_'
  int shortened = 0;  // cut to kMaxLabelLength bytes
  int empty = 0;      // empty, named by position
};

// Makes labels safe for the label files, which the library reads as
// blank-separated words: every white-space character becomes '_', an empty
// label becomes stem%05d of its 1-based position, and a label longer than
// kMaxLabelLength bytes is cut at a UTF-8 character boundary.
//   labels  (input/output) the labels, changed in place
//   stem    (input) "GENE" or "sample"
//   repairs (input/output) counts of the changes, added to
void CleanLabels(std::vector<std::string>& labels, const char* stem, LabelRepairs& repairs);

// A missing-value cell: empty, or NA, NaN or N/A in any case (surrounding
// blanks ignored).
bool IsMissingCell(const std::string& cell);

// A decimal number and nothing else: optional blanks, an optional sign,
// digits with an optional decimal point, an optional exponent, optional
// blanks. Words such as inf or hexadecimal forms are not numbers.
bool IsDecimalNumber(const std::string& cell);
