// The stages of reading a table: one reader per format splits the text
// into a RawTable (TableText.h), then FillTable reads its numbers and
// applies the missing-value policy. Internal to the host; ReadTable
// (Table.h) is the entry point.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "tables/TableText.h"

namespace tarvok {

// TSV and CSV (separator ',' or ';'): an optional header row and an
// optional label column, decided by DecideLayout unless the options say.
// The fields view text, or for CSV a copy of it in arena where quoted
// fields are unquoted in place. Every reader keeps its records' fields in
// memory (a FieldArena's).
RawTable SplitPlainTable(std::string_view text, TableFormat format, const ReadOptions& options, FieldArena& arena);

// GCT 1.2 and 1.3, and PCL. forced: the user named the format, so the
// file is checked to be one. classesFrom, when not empty, names the GCT 1.3
// column metadata row that gives each sample's class.
RawTable SplitGct(std::string_view text, const std::string& classesFrom, std::pmr::memory_resource* memory);
RawTable SplitPcl(std::string_view text, bool forced, std::pmr::memory_resource* memory);

// GEO series matrix and GEO DataSet SOFT files; classesFrom, when not empty,
// names the sample annotation that gives each sample's class.
RawTable SplitSeriesMatrix(std::string_view text, const std::string& classesFrom,
                           std::pmr::memory_resource* memory);
RawTable SplitGds(std::string_view text, const std::string& classesFrom, std::pmr::memory_resource* memory);

// GEO family SOFT files: the samples of one platform (platform, or the only
// one with samples), a column each from their tables' VALUE column, a row
// for every ID_REF any of them reports (in the platform table's order, then
// the others as they first appear; a sample without a row for an ID has a
// missing value there), symbols from the platform table's symbol column,
// and classes from the samples' !Sample_ lines as for a series matrix.
// Throws PlatformChoiceError when the file holds samples of several
// platforms and platform is "", or names none of them.
RawTable SplitFamilySoft(std::string_view text, const std::string& classesFrom, const std::string& platform,
                         std::pmr::memory_resource* memory);

// The gene symbol of each probe ID of the platform table of a GEO platform
// annotation file, a SOFT platform file or a family SOFT file: the ID
// column and the symbol column (Gene Symbol, GENE_SYMBOL, Symbol, ...).
// platform chooses among several tables. Throws TableError when there is
// no such table or several, or it has no symbol column.
std::unordered_map<std::string, std::string> PlatformSymbols(std::string_view text, const std::string& platform,
                                                              std::pmr::memory_resource* memory);

// Sets table's symbols from the platform annotation file path by its gene
// labels (the probe IDs, before CleanLabels), "" for an ID the file lacks;
// notes how many it found. Throws TableError when the table has no gene
// labels or the file gives no symbols.
void AddAnnotationSymbols(Table& table, const std::string& path, const std::string& platform);

// Reads the values of raw into table (genes, samples, values, labels,
// symbols, classes), takes log2 as tarvok::TransformLog2 decides for log2
// and raw.valueType, and applies policy through tarvok::ApplyMissingPolicy;
// what the two did goes to table's counts and notes. Throws TableError
// naming the line, column, gene and sample of a cell that is no number, a
// missing value (or one log2 made missing) under MissingCells::Error, or an
// infinite value.
void FillTable(const RawTable& raw, MissingCells policy, tarvok::LogChoice log2, Table& table);

}  // namespace tarvok
