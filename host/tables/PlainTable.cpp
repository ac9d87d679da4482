// TSV and CSV tables: the separator, the decimal mark, and whether line 1
// names the samples and column 1 names the genes.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "core/Rules.h"
#include "tables/TableReaders.h"

namespace tarvok {

namespace {

// Lines looked at for the layout; more add nothing but time.
constexpr std::size_t kLayoutRows = 500;

bool IsInteger(std::string_view cell) {
  std::string_view t = Trim(cell);
  std::size_t start = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
  return t.size() > start && std::all_of(t.begin() + static_cast<long>(start), t.end(),
                                         [](char c) { return c >= '0' && c <= '9'; });
}

// The cell without its digits, lower case: "g12" and "g7" share "g".
std::string Stem(std::string_view cell) {
  std::string stem;
  for (char c : Lower(Trim(cell))) {
    if (c < '0' || c > '9') stem += c;
  }
  return stem;
}

// The words of a cell, lower case, split at every other character and at
// camel-case joins: "EntrezID" is entrez and id, "probeSetID" probe, set
// and id, "ID_REF" id and ref, "IDRef" id and ref.
std::vector<std::string> TitleWords(std::string_view cell) {
  auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  auto lower = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < cell.size(); ++i) {
    const char c = cell[i];
    if (!upper(c) && !lower(c)) {
      if (!words.back().empty()) words.emplace_back();
      continue;
    }
    const bool join = upper(c) && i > 0 && !words.back().empty() &&
                      (lower(cell[i - 1]) || (i + 1 < cell.size() && upper(cell[i - 1]) && lower(cell[i + 1]) &&
                                              !(cell[i + 1] >= '0' && cell[i + 1] <= '9')));
    if (join) words.emplace_back();
    words.back() += Lower(std::string_view(&c, 1));
  }
  if (words.back().empty()) words.pop_back();
  return words;
}

// A corner cell that titles a column of gene names or IDs, in any case: a
// title word as the whole cell ("GENEID", "X", as R names a column of row
// names) or as one of its words ("Gene", "ID_REF", "probe set", "EntrezID").
bool IsNameTitle(std::string_view cell) {
  static const std::set<std::string> kTitles = {
      "gene",    "genes",      "id",         "ids",  "geneid", "probe",  "probes",  "probeid",  "probeset",
      "set",     "probesetid", "symbol",     "name", "names",  "entrez", "refseq",  "ensembl",  "accession",
      "feature", "features",   "identifier", "uid",  "orf",    "locus",  "ref",     "rownames", "transcript",
      "entrezid", "geneids",   "symbols"};
  const std::string whole = Lower(Trim(cell));
  if (whole == "x" || kTitles.count(whole) > 0) return true;
  for (const std::string& word : TitleWords(cell)) {
    if (kTitles.count(word) > 0) return true;
  }
  return false;
}

// ',' or ';' for a CSV file: ';' when line 1 has semicolons and every comma
// on it sits between digits (a decimal comma).
char CsvSeparator(std::string_view text) {
  std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  if (line.find(';') == std::string::npos) return ',';
  for (std::size_t at = line.find(','); at != std::string::npos; at = line.find(',', at + 1)) {
    bool between = at > 0 && at + 1 < line.size() && std::isdigit(static_cast<unsigned char>(line[at - 1])) &&
                   std::isdigit(static_cast<unsigned char>(line[at + 1]));
    if (!between) return ',';
  }
  return ';';
}

struct LayoutInput {
  const std::vector<Record>& records;
  bool decimalComma;
  bool IsWord(std::string_view cell) const { return !IsDataCell(cell, decimalComma); }
  bool IsFraction(std::string_view cell) const {
    double value = 0.0;
    return ReadCell(cell, decimalComma, value) == CellKind::Number && !IsInteger(cell);
  }
};

std::string Quoted(std::string_view cell) { return fmt::format("\"{}\"", Trim(cell)); }

// Is line 1 the sample names? why gets the reason; guessed is set when the
// answer rests on a guess the user should know about.
bool DecideHeader(const LayoutInput& in, std::string& why, bool& guessed) {
  const std::vector<Record>& records = in.records;
  const Fields& first = records[0].fields;
  const std::string_view corner = first[0];
  auto word = std::find_if(first.begin() + 1, first.end(), [&](std::string_view c) { return in.IsWord(c); });
  if (word != first.end()) {
    why = fmt::format("line 1 names the samples: it holds words such as {}", Quoted(*word));
    return true;
  }
  bool secondHasName = records.size() > 1 && in.IsWord(records[1].fields[0]);
  if (secondHasName && records[1].fields.size() == first.size() + 1) {
    why = "line 1 names the samples: it has one field fewer than line 2, which starts with a gene name";
    return true;
  }
  if (secondHasName && Trim(corner).empty() && first.size() > 1) {
    why = "line 1 names the samples: its empty first cell sits above the gene names";
    return true;
  }
  if (!in.IsWord(corner)) {
    why = "line 1 is data: it holds only numbers and missing values";
    return false;
  }
  if (std::any_of(first.begin() + 1, first.end(), [&](std::string_view c) { return in.IsFraction(c); })) {
    why = fmt::format("line 1 is data: it holds decimal numbers after {}, the first gene's name",
                      Quoted(corner));
    return false;
  }
  guessed = true;
  bool laterFractions = false;
  for (std::size_t r = 1; r < records.size() && r <= kLayoutRows && !laterFractions; ++r) {
    laterFractions = std::any_of(records[r].fields.begin() + 1, records[r].fields.end(),
                                 [&](std::string_view c) { return in.IsFraction(c); });
  }
  if (laterFractions) {
    why = fmt::format(
        "line 1 names the samples: after {} it holds whole numbers only, unlike the data, so "
        "they are taken for numeric sample names",
        Quoted(corner));
    return true;
  }
  if (IsNameTitle(corner) || !secondHasName || Stem(corner) != Stem(records[1].fields[0])) {
    why = fmt::format(
        "line 1 names the samples: {} reads as a column title, so the whole numbers after it "
        "are taken for sample names",
        Quoted(corner));
    return true;
  }
  why = fmt::format("line 1 is data: {} looks like the gene names below it", Quoted(corner));
  return false;
}

// Is column 1 the gene names, given the header answer?
bool DecideLabels(const LayoutInput& in, bool header, std::string& why, bool& guessed) {
  const std::vector<Record>& records = in.records;
  std::size_t start = header ? 1 : 0;
  if (header && records.size() > 1 && records[1].fields.size() == records[0].fields.size() + 1) {
    why = "column 1 holds the gene names: the header names one column fewer than the rows hold";
    return true;
  }
  bool missing = false, fractions = false, integers = true;
  std::set<std::string_view> ids;
  for (std::size_t r = start; r < records.size(); ++r) {
    const std::string_view cell = records[r].fields[0];
    if (in.IsWord(cell)) {
      why = fmt::format("column 1 holds the gene names, such as {}", Quoted(cell));
      return true;
    }
    if (r > start + kLayoutRows) continue;  // words are looked for everywhere, the rest in a sample
    missing = missing || tarvok::IsMissingWord(cell);
    integers = integers && IsInteger(cell);
    ids.insert(Trim(cell));
    fractions = fractions || std::any_of(records[r].fields.begin() + 1, records[r].fields.end(),
                                         [&](std::string_view c) { return in.IsFraction(c); });
  }
  const std::string_view corner = records[0].fields[0];
  if (records.size() > start && !missing) {
    // IDs may repeat (a gene listed twice): the column stays the IDs, and
    // the reason, which the warning quotes, says so.
    const std::size_t looked = std::min(records.size() - start, kLayoutRows + 1);
    const std::size_t repeats = looked - ids.size();
    const std::string repeated = repeats > 0 ? fmt::format(" ({} repeated)", Plural(repeats, "value")) : "";
    if (header && in.IsWord(corner) && IsNameTitle(corner)) {
      guessed = true;
      why = fmt::format("column 1 holds gene IDs, though they are numbers{}: its title {} names them", repeated,
                        Quoted(corner));
      return true;
    }
    if (header && integers && Trim(corner).empty()) {
      guessed = true;
      why = fmt::format("column 1 holds gene IDs: whole numbers{} under an empty corner cell", repeated);
      return true;
    }
    if (integers && fractions && repeats <= std::max<std::size_t>(1, looked / 10)) {
      guessed = true;
      why = fmt::format("column 1 holds gene IDs: {}whole numbers{}, while the other columns hold decimals",
                        repeats > 0 ? "" : "distinct ", repeated);
      return true;
    }
  }
  why = "column 1 is data: it holds only numbers and missing values";
  return false;
}

void DecideLayout(const std::vector<Record>& records, const ReadOptions& options, bool decimalComma,
                  RawTable& raw) {
  LayoutInput in{records, decimalComma};
  std::string why;
  bool guessedHeader = false, guessedLabels = false;
  if (options.header == Choice::Auto) {
    raw.hasHeaderRow = DecideHeader(in, why, guessedHeader);
  } else {
    raw.hasHeaderRow = options.header == Choice::Yes;
    why = fmt::format("line 1 {} (--header {})", raw.hasHeaderRow ? "names the samples" : "is data",
                      raw.hasHeaderRow ? "yes" : "no");
  }
  raw.layout.push_back(why);
  if (options.rowNames == Choice::Auto) {
    raw.hasLabelColumn = DecideLabels(in, raw.hasHeaderRow, why, guessedLabels);
  } else {
    raw.hasLabelColumn = options.rowNames == Choice::Yes;
    why = fmt::format("column 1 {} (--row-names {})", raw.hasLabelColumn ? "holds the gene names" : "is data",
                      raw.hasLabelColumn ? "yes" : "no");
  }
  raw.layout.push_back(why);
  if (guessedHeader) {
    raw.notes.push_back(fmt::format("warning: a guess decided that {}; say --header {} if that is wrong",
                                    raw.layout[0], raw.hasHeaderRow ? "no" : "yes"));
  }
  if (guessedLabels) {
    raw.notes.push_back(fmt::format("warning: a guess decided that {}; say --row-names {} if that is wrong",
                                    raw.layout[1], raw.hasLabelColumn ? "no" : "yes"));
  }
}

// Is column 2 a second label column, the genes' symbols? It is when its
// title is IDENTIFIER (GEO's symbol column), or when it holds words and
// no numbers in every data row of at least three fields.
bool SymbolColumn(const LayoutInput& in, bool header, std::string& why) {
  const std::vector<Record>& records = in.records;
  if (records[0].fields.size() < 3) return false;
  if (header && SameWordAnyCase(Trim(records[0].fields[1]), "identifier")) {
    why = "column 2, IDENTIFIER, gives the genes' symbols; column 1 stays their key";
    return true;
  }
  std::string_view word;
  for (std::size_t r = header ? 1 : 0; r < records.size(); ++r) {
    const Fields& fields = records[r].fields;
    if (fields.size() < 3) return false;
    if (in.IsWord(fields[1])) {
      if (word.empty()) word = fields[1];
    } else if (!tarvok::IsMissingWord(fields[1])) {
      return false;  // a number: column 2 is data
    }
  }
  if (word.empty()) return false;
  why = fmt::format("column 2 gives the genes' symbols: it holds words such as {} and no numbers; column 1 "
                    "stays their key",
                    Quoted(word));
  return true;
}

}  // namespace

RawTable SplitPlainTable(std::string_view text, TableFormat format, const ReadOptions& options, FieldArena& arena) {
  RawTable raw;
  raw.format = format;
  raw.separator = format == TableFormat::Csv ? CsvSeparator(text) : '\t';
  raw.decimalComma = options.decimalComma || raw.separator == ';';
  std::vector<Record> records =
      raw.separator == '\t' ? SplitRecords(text, raw.separator, arena)
                             : SplitQuotedRecords(arena.Copy(text), raw.separator, arena.Memory());
  if (records.empty()) throw TableError("the table has no data rows");
  DropTrailingEmptyField(records, raw.notes);
  DecideLayout(records, options, raw.decimalComma, raw);
  raw.lead = raw.hasLabelColumn ? 1 : 0;
  std::size_t first = raw.hasHeaderRow ? 1 : 0;
  if (records.size() <= first) throw TableError("the table has no data rows");
  // A second label column (a table exported from GEO keeps its IDENTIFIER
  // column beside the probe IDs; others put a symbol after the ID): the
  // first column stays the genes' key, the second gives their symbols.
  std::string why;
  bool symbols = false;
  if (raw.hasLabelColumn && SymbolColumn(LayoutInput{records, raw.decimalComma}, raw.hasHeaderRow, why)) {
    raw.lead = 2;
    symbols = true;
    raw.layout.push_back(why);
  }
  const Record& firstRow = records[first];
  if (firstRow.fields.size() <= raw.lead) {
    throw TableError(fmt::format("line {} has no values", firstRow.line));
  }
  raw.samples = static_cast<int>(firstRow.fields.size() - raw.lead);
  if (raw.hasHeaderRow) {
    const Fields& names = records[0].fields;
    std::size_t samples = static_cast<std::size_t>(raw.samples);
    if (names.size() == samples + raw.lead) {
      raw.sampleLabels.assign(names.begin() + static_cast<long>(raw.lead), names.end());
    } else if (names.size() == samples && raw.lead == 1) {
      raw.sampleLabels.assign(names.begin(), names.end());
    } else {
      throw TableError(fmt::format("line {} names {} columns, but line {} has {} values", records[0].line,
                                   names.size(), firstRow.line, samples));
    }
  }
  raw.rows.assign(std::make_move_iterator(records.begin() + static_cast<long>(first)),
                  std::make_move_iterator(records.end()));
  CheckRowWidths(raw);
  if (symbols) TakeSymbols(raw, 1);
  return raw;
}

}  // namespace tarvok
