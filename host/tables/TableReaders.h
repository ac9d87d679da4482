// The pieces the table readers share: text split into records, the raw
// table every reader produces before any number is read, and one reader
// per format. Internal to the host; ReadTable (Table.h) is the entry point.
#pragma once

#include <string>
#include <vector>

#include "tables/Table.h"

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
  std::size_t nameField = 0;              // field of the gene name, when hasLabelColumn
  int samples = 0;
  char separator = '\t';
  bool decimalComma = false;               // "1,5" is one and a half
  std::vector<std::string> sampleClasses;  // --classes-from: one word per sample
  std::vector<std::string> notes;          // layout corrections and warnings, for the user
  std::vector<std::string> layout;         // why the layout is what it is
};

bool IsBlank(char c);
std::string Trim(const std::string& text);
std::string Upper(std::string text);
std::string Lower(std::string text);
std::string Plural(std::size_t count, const char* word);

// Splits text into records. Line ends are LF, CRLF or CR. With quotes, a
// field that starts with '"' runs to the next lone '"' (RFC 4180): it may
// hold separators and line ends, and "" stands for one quote. A line with
// nothing on it is no record.
std::vector<Record> SplitRecords(const std::string& text, char separator, bool quotes);

// A cell with its one decimal comma made a point ("-1,5" -> "-1.5"); any
// other cell unchanged, so "1.234,5" stays no number.
std::string WithDecimalPoint(const std::string& cell);

// A number or a missing-value word: a cell that can only be data.
bool IsDataCell(const std::string& cell, bool decimalComma);

// Removes the last field of every record when it is empty on every line
// (a separator at the end of each line), with a note.
void DropTrailingEmptyField(std::vector<Record>& records, std::vector<std::string>& notes);

// Checks that every data row has lead + samples fields.
void CheckRowWidths(const RawTable& raw);

// TSV and CSV (separator ',' or ';'): an optional header row and an
// optional label column, decided by DecideLayout unless the options say.
RawTable SplitPlainTable(const std::string& text, TableFormat format, const ReadOptions& options);

// GCT 1.2 and PCL. forced: the user named the format, so the file is
// checked to be one.
RawTable SplitGct(const std::string& text);
RawTable SplitPcl(const std::string& text, bool forced);

// GEO series matrix and GEO DataSet SOFT files; classesFrom, when not empty,
// names the sample annotation that gives each sample's class.
RawTable SplitSeriesMatrix(const std::string& text, const std::string& classesFrom);
RawTable SplitGds(const std::string& text, const std::string& classesFrom);
