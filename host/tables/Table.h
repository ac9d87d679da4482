// Expression tables: reading TSV, CSV, GCT, PCL and GEO files (series
// matrix, DataSet SOFT) into a genes x samples matrix with its labels, and
// the missing-value policies.
//
// Every reader reads its input once, through ReadWholeFile (ByteSource.h):
// a file, a pipe or standard input ("-"), gzip-compressed or not. A UTF-8
// byte-order mark and LF, CRLF or CR line ends are accepted; UTF-16 text is
// refused with advice. Completely empty lines are skipped. Missing values
// are empty cells and the words NA, NaN, N/A and null in any case; any other
// cell that is not a finite decimal number is an error naming its line and
// column.
#pragma once

#include <string>
#include <vector>

#include "core/Rules.h"
#include "tables/InputError.h"

namespace tarvok {

enum class TableFormat { Auto, Tsv, Csv, Gct, Pcl, SeriesMatrix, Gds, FamilySoft };
// Keep leaves missing values as NaN: for looking at a table, never for an
// analysis.
enum class MissingCells { Error, Drop, RowMean, Keep };
// An answer the user may give or leave to the reader.
enum class Choice { Auto, Yes, No };

// How to read a table.
struct ReadOptions {
  TableFormat format = TableFormat::Auto;  // Auto: DetectFormat
  MissingCells missing = MissingCells::Error;
  Choice header = Choice::Auto;    // TSV/CSV: is line 1 the sample names?
  Choice rowNames = Choice::Auto;  // TSV/CSV: is column 1 the gene names?
  bool decimalComma = false;       // "1,5" is 1.5 (always so with ';' separators)
  // GEO and GCT 1.3 files: the sample annotation (a GCT column metadata
  // row) giving the classes
  std::string classesFrom;
  // Take log2 of the values before the missing-value policy (tarvok::TransformLog2);
  // Auto decides by the core's rule, from a GDS's value type or the values.
  tarvok::LogChoice log2 = tarvok::LogChoice::No;
  std::string platform;            // family SOFT files: the platform (GPL...) to read
  std::string annotation;          // a GEO platform annotation or SOFT platform file giving symbols
};

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
  // Gene symbols beside the labels (the labels are the rows' keys, probe IDs
  // in GEO files): one per gene, "" where a gene has none; empty when the
  // table carries no symbols.
  std::vector<std::string> geneSymbols;
  // Whether log2 was taken and why, and how many values <= 0 it made missing.
  tarvok::LogOutcome log2;
  int missingCells = 0;                   // missing values handled: found in the file, or made by log2
  // What the missing-value policy did: genes and samples left out, cells
  // filled with the gene's mean.
  int droppedGenes = 0, droppedSamples = 0, imputedCells = 0;
  char separator = '\t';                  // TSV/CSV: the field separator read
  bool decimalComma = false;              // numbers were read with decimal commas
  // What the reader changed, one sentence each, for the user: genes
  // dropped, values replaced, labels rewritten; sentences that start with
  // "warning: " are guesses or doubts the user should look at.
  std::vector<std::string> notes;
  // Why the header row and label column are what they are, one sentence
  // each (tarvok probe shows them).
  std::vector<std::string> layout;
  // With ReadOptions::classesFrom: the class word of each sample.
  std::vector<std::string> sampleClasses;
  // Family SOFT files: every platform with its count, "GPL96 (10 samples)".
  std::vector<std::string> platforms;
};

// A family SOFT file holds samples of several platforms and the options
// chose none of them, or one it does not have.
class PlatformChoiceError : public TableError {
 public:
  PlatformChoiceError(const std::string& message, std::vector<std::string> counts)
      : TableError(message), platforms(std::move(counts)) {}
  std::vector<std::string> platforms;  // as Table::platforms
};

// Reads a table file.
//   path    (input) the file; "-" is standard input; gzip is uncompressed
//   options (input) format, missing-value policy, layout answers
// Returns the table; throws TableError when the file cannot be read, is
// malformed, is not of a format the user forced, has a missing value under
// MissingCells::Error, or leaves fewer than 2 genes or 2 samples; with
// options.classesFrom, also when a sample's class is empty or a missing word.
Table ReadTable(const std::string& path, const ReadOptions& options);
Table ReadTable(const std::string& path, TableFormat format, MissingCells policy);

// ReadTable on text already in memory (UTF-8, no byte-order mark); name
// only serves format detection by its extension.
Table ParseTable(const std::string& text, const std::string& name, const ReadOptions& options);

// Throws TableError when every gene is constant over the samples (all
// zero, say): no variance is left to cluster.
void CheckVariance(const Table& table);

// Throws TableError naming the gene and sample (by their labels) of the
// first value the analysis cannot hold (tarvok::CheckData): a run checks
// this before it creates any file.
void CheckValuesRepresentable(const Table& table);

// The format of a file from its name and content: GEO markers
// (!series_matrix_table_begin, ^DATASET or !dataset_table_begin; ^SERIES,
// ^PLATFORM or ^SAMPLE lines for a family SOFT file) decide first, then
// "#1.2" or "#1.3" on the first line (GCT); then a .gct, .pcl or .csv name
// (a trailing .gz ignored); then a first line whose third tab-separated
// field is GWEIGHT is PCL; a first line with commas or semicolons and no
// tab is CSV; anything else is TSV.
//   path (input) file name, only its extension is looked at
//   text (input) the file's content, byte-order mark already removed
TableFormat DetectFormat(const std::string& path, std::string_view text);

// Lower-case name of a format ("tsv", "csv", "gct", "pcl",
// "series-matrix", "gds", "family-soft", "auto").
const char* FormatName(TableFormat format);

// What CleanLabels changed, by kind; one label may count in several.
struct LabelRepairs {
  int blanks = 0;  // white space replaced by '_'
  int empty = 0;   // empty, named by position
};

// Makes labels safe for the label files, which the library reads as
// blank-separated words: every white-space character becomes '_', and an
// empty label becomes stem%05d of its 1-based position. Labels of any
// length are kept whole.
//   labels  (input/output) the labels, changed in place
//   stem    (input) "GENE" or "sample"
//   repairs (input/output) counts of the changes, added to
void CleanLabels(std::vector<std::string>& labels, const char* stem, LabelRepairs& repairs);

// A missing-value cell: empty, or NA, NaN, N/A or null in any case, with
// spaces, tabs or carriage returns around it (tarvok::IsMissingWord).
bool IsMissingCell(const std::string& cell);

// A decimal number and nothing else, by the shared number grammar
// (tarvok::IsNumericText): optional blanks, an optional sign, digits with an
// optional decimal point, an optional exponent, optional blanks. Words such
// as inf or hexadecimal forms are not numbers.
bool IsDecimalNumber(const std::string& cell);

}  // namespace tarvok
