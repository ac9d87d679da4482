// The stages of reading a table: one reader per format splits the text
// into a RawTable (TableText.h), then FillTable reads its numbers and
// applies the missing-value policy. Internal to the host; ReadTable
// (Table.h) is the entry point.
#pragma once

#include <string>
#include <string_view>

#include "tables/TableText.h"

namespace tarvok {

// TSV and CSV (separator ',' or ';'): an optional header row and an
// optional label column, decided by DecideLayout unless the options say.
// The fields view text; quoted CSV fields are unquoted in place. Every
// reader keeps its records' fields in memory (a FieldArena's).
RawTable SplitPlainTable(std::string& text, TableFormat format, const ReadOptions& options, FieldArena& arena);

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

// Reads the values of raw into table (genes, samples, values, labels,
// classes) and applies policy through tarvok::ApplyMissingPolicy; what the
// policy did goes to table's counts and notes. Throws TableError naming the
// line, column, gene and sample of a cell that is no number, a missing
// value under MissingCells::Error, or an infinite value.
void FillTable(const RawTable& raw, MissingCells policy, Table& table);

}  // namespace tarvok
