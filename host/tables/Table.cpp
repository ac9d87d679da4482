#include "tables/Table.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "core/Rules.h"
#include "tables/ByteSource.h"
#include "tables/TableReaders.h"

namespace tarvok {

namespace {

// A warning for names given to more than one gene or sample.
void WarnDuplicates(const std::vector<std::string>& labels, const char* kind,
                    std::vector<std::string>& notes) {
  std::unordered_map<std::string_view, int> seen;  // views of labels, which outlive it
  seen.reserve(labels.size());
  std::size_t repeated = 0, extra = 0;
  std::string_view first;
  for (const std::string& label : labels) {
    int& count = seen[label];
    if (++count == 2) {
      if (repeated++ == 0) first = label;
    }
    if (count >= 2) ++extra;
  }
  if (repeated == 0) return;
  notes.push_back(fmt::format("warning: {} {} used more than once, by {} {}s in all (the first is \"{}\")",
                              Plural(repeated, fmt::format("{} name", kind).c_str()),
                              repeated == 1 ? "is" : "are", extra + repeated, kind, first));
}

// Some line of head (lower case) starts with word.
bool LineStarts(const std::string& head, const char* word) {
  if (head.compare(0, std::strlen(word), word) == 0) return true;
  for (const char* end : {"\n", "\r"}) {
    if (head.find(std::string(end) + word) != std::string::npos) return true;
  }
  return false;
}

// The format a file's content shows by markers no plain table has, or Auto.
TableFormat MarkedFormat(std::string_view text) {
  // GEO files open with their own marks; the table markers may follow long
  // metadata, so only the first megabyte is searched for them.
  const std::string_view window = text.substr(0, 1 << 20);
  // Every mark starts with '!' or '^'; most tables have neither, and are
  // spared the lowering of a megabyte.
  const bool marks = window.find('!') != std::string_view::npos || window.find('^') != std::string_view::npos;
  std::string head = marks ? Lower(window) : std::string();
  if (head.compare(0, 8, "!series_") == 0 || head.find("!series_matrix_table_begin") != std::string::npos) {
    return TableFormat::SeriesMatrix;
  }
  const bool dataset = head.find("!dataset_table_begin") != std::string::npos || LineStarts(head, "^dataset");
  if (!dataset && (LineStarts(head, "^series") || LineStarts(head, "^platform") || LineStarts(head, "^sample"))) {
    return TableFormat::FamilySoft;
  }
  if (dataset || head.compare(0, 9, "^database") == 0) return TableFormat::Gds;
  std::string_view firstLine = text.substr(0, text.find_first_of("\r\n"));
  const std::string_view version = Trim(firstLine.substr(0, firstLine.find('\t')));
  if (version == "#1.2" || version == "#1.3") return TableFormat::Gct;
  std::vector<Record> head1 = SplitRecords(firstLine, '\t');
  if (!head1.empty() && head1[0].fields.size() >= 3 && SameWordAnyCase(Trim(head1[0].fields[2]), "gweight")) {
    return TableFormat::Pcl;
  }
  return TableFormat::Auto;
}

// A format the user named must be the file's: a marked file read as
// another format, or a plain table split at the wrong separator, would be
// read wrongly without an error.
void CheckForcedFormat(TableFormat format, std::string_view text) {
  TableFormat marked = MarkedFormat(text);
  if (marked != TableFormat::Auto && marked != format) {
    throw TableError(fmt::format("--format {}, but the file is a {} file (say --format {} or auto)",
                                 FormatName(format), FormatName(marked), FormatName(marked)));
  }
  std::string_view firstLine = text.substr(0, text.find_first_of("\r\n"));
  bool tabs = firstLine.find('\t') != std::string::npos;
  bool commas = firstLine.find_first_of(",;") != std::string::npos;
  if (format == TableFormat::Csv && tabs && !commas) {
    throw TableError("--format csv, but line 1 is separated by tabs, not commas (say --format tsv)");
  }
  if (format == TableFormat::Tsv && !tabs && commas) {
    throw TableError("--format tsv, but line 1 has no tab and is separated by commas (say --format csv)");
  }
}

// The text split by the reader of format; a CSV file is copied into arena,
// where its quoted fields are unquoted.
RawTable SplitTable(std::string_view text, const ReadOptions& options, TableFormat format, FieldArena& arena) {
  std::pmr::memory_resource* memory = arena.Memory();
  const bool annotated = format == TableFormat::SeriesMatrix || format == TableFormat::Gds ||
                         format == TableFormat::FamilySoft || format == TableFormat::Gct;
  if (!options.classesFrom.empty() && !annotated) {
    throw TableError(
        fmt::format("--classes-from reads the sample annotation of a GEO series matrix, GDS or family SOFT "
                    "file, or a column metadata row of a GCT 1.3 file, and this is a {} file (give the "
                    "classes with --classes FILE)",
                    FormatName(format)));
  }
  if (!options.platform.empty() && format != TableFormat::FamilySoft && options.annotation.empty()) {
    throw TableError(fmt::format("--platform chooses the platform of a family SOFT file or of --annotation, and "
                                 "this is a {} file",
                                 FormatName(format)));
  }
  switch (format) {
    case TableFormat::Gct:
      return SplitGct(text, options.classesFrom, memory);
    case TableFormat::Pcl:
      return SplitPcl(text, options.format == TableFormat::Pcl, memory);
    case TableFormat::SeriesMatrix:
      return SplitSeriesMatrix(text, options.classesFrom, memory);
    case TableFormat::Gds:
      return SplitGds(text, options.classesFrom, memory);
    case TableFormat::FamilySoft:
      return SplitFamilySoft(text, options.classesFrom, options.platform, memory);
    default:
      return SplitPlainTable(text, format, options, arena);
  }
}

// Every sample needs a class: an empty class or a missing word (NA) from
// --classes-from is refused, as in a class file, naming the samples.
void CheckClassWords(const RawTable& raw, const std::string& classesFrom) {
  constexpr std::size_t kNamed = 10;
  std::vector<std::string> without;
  std::size_t count = 0;
  for (std::size_t s = 0; s < raw.sampleClasses.size(); ++s) {
    const std::string_view word = Trim(raw.sampleClasses[s]);
    if (!tarvok::IsMissingWord(word)) continue;
    if (++count > kNamed) continue;
    without.push_back(fmt::format("\"{}\" ({})", raw.sampleLabels[s],
                                  word.empty() ? std::string("empty") : fmt::format("\"{}\"", word)));
  }
  if (count == 0) return;
  if (count > kNamed) without.push_back(fmt::format("and {} more", count - kNamed));
  throw TableError(fmt::format(
      "--classes-from \"{}\" gives no class to {}: {}; every sample needs a class (give the classes "
      "with --classes FILE, or leave those samples out)",
      classesFrom, Plural(count, "sample"), fmt::join(without, ", ")));
}

}  // namespace

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
    case TableFormat::SeriesMatrix:
      return "series-matrix";
    case TableFormat::Gds:
      return "gds";
    case TableFormat::FamilySoft:
      return "family-soft";
    default:
      return "auto";
  }
}

TableFormat DetectFormat(const std::string& path, std::string_view text) {
  TableFormat marked = MarkedFormat(text);
  if (marked == TableFormat::SeriesMatrix || marked == TableFormat::Gds || marked == TableFormat::FamilySoft ||
      marked == TableFormat::Gct) {
    return marked;
  }
  std::string_view name = path;
  if (name.size() > 3 && SameWordAnyCase(name.substr(name.size() - 3), ".gz")) name.remove_suffix(3);
  std::size_t dot = name.find_last_of("./");
  std::string_view extension = dot != std::string::npos && name[dot] == '.' ? name.substr(dot + 1) : "";
  if (SameWordAnyCase(extension, "gct")) return TableFormat::Gct;
  if (SameWordAnyCase(extension, "pcl")) return TableFormat::Pcl;
  std::string_view firstLine = std::string_view(text).substr(0, text.find_first_of("\r\n"));
  bool tabs = firstLine.find('\t') != std::string::npos;
  bool commas = firstLine.find_first_of(",;") != std::string::npos;
  // A .csv name on a file with tabs and no comma on line 1 is a TSV file
  // saved under the wrong name, which is common.
  if (SameWordAnyCase(extension, "csv") && (commas || !tabs)) return TableFormat::Csv;
  if (marked == TableFormat::Pcl) return marked;
  return !tabs && commas ? TableFormat::Csv : TableFormat::Tsv;
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
  }
}

namespace {

// Cleans the labels (CleanLabels) and notes what changed, then warns of
// names given twice.
void RepairLabels(Table& table) {
  LabelRepairs repairs;
  CleanLabels(table.geneLabels, "GENE", repairs);
  CleanLabels(table.sampleLabels, "sample", repairs);
  std::vector<std::string> changes;
  if (repairs.blanks > 0) changes.push_back(fmt::format("{} with blanks (now underscores)", repairs.blanks));
  if (repairs.empty > 0) changes.push_back(fmt::format("{} empty (named by position)", repairs.empty));
  if (!changes.empty()) table.notes.push_back(fmt::format("labels changed: {}", fmt::join(changes, "; ")));
  WarnDuplicates(table.geneLabels, "gene", table.notes);
  WarnDuplicates(table.sampleLabels, "sample", table.notes);
}

// ParseTable on text: the cells are views into it until the table is made.
Table ParseText(std::string_view text, const std::string& name, const ReadOptions& options) {
  TableFormat format = options.format;
  if (format == TableFormat::Auto) {
    format = DetectFormat(name, text);
  } else {
    CheckForcedFormat(format, text);
  }
  FieldArena arena(text.size());
  RawTable raw = SplitTable(text, options, format, arena);
  if (!options.classesFrom.empty()) CheckClassWords(raw, options.classesFrom);
  Table table;
  table.format = raw.format;
  table.hasHeaderRow = raw.hasHeaderRow;
  table.hasLabelColumn = raw.hasLabelColumn;
  table.separator = raw.separator;
  table.decimalComma = raw.decimalComma;
  table.notes = std::move(raw.notes);
  table.layout = std::move(raw.layout);
  table.platforms = std::move(raw.platforms);
  FillTable(raw, options.missing, options.log2, table);
  if (!options.annotation.empty()) AddAnnotationSymbols(table, options.annotation, options.platform);
  if (table.genes < 2 || table.samples < 2) {
    throw TableError(fmt::format("the analysis needs at least 2 genes and 2 samples; the table has {} and {}",
                                 Plural(static_cast<std::size_t>(table.genes), "gene"),
                                 Plural(static_cast<std::size_t>(table.samples), "sample")));
  }
  RepairLabels(table);
  return table;
}

}  // namespace

Table ParseTable(const std::string& text, const std::string& name, const ReadOptions& options) {
  return ParseText(text, name, options);
}

Table ReadTable(const std::string& path, const ReadOptions& options) {
  InputBytes input(path);
  try {
    Table table = ParseText(CheckedText(input.View()), path, options);
    input.Check();
    return table;
  } catch (const TableError&) {
    input.Check();  // a file cut short explains whatever went wrong
    throw;
  }
}

Table ReadTable(const std::string& path, TableFormat format, MissingCells policy) {
  ReadOptions options;
  options.format = format;
  options.missing = policy;
  return ReadTable(path, options);
}

void CheckValuesRepresentable(const Table& table) {
  const tarvok::DataCheck check = tarvok::CheckData(table.values.data(), table.genes, table.samples);
  if (check.message.empty()) return;
  const std::size_t gene = static_cast<std::size_t>(check.gene - 1),
                    sample = static_cast<std::size_t>(check.sample - 1);
  const std::string place = fmt::format(
      "gene {}, sample {}",
      gene < table.geneLabels.size() ? fmt::format("\"{}\"", table.geneLabels[gene]) : std::to_string(gene + 1),
      sample < table.sampleLabels.size() ? fmt::format("\"{}\"", table.sampleLabels[sample])
                                         : std::to_string(sample + 1));
  if (!check.finite) throw TableError(fmt::format("the value of {} is not a finite number", place));
  throw TableError(fmt::format(
      "the value of {} is {}, beyond what the analysis can hold (magnitudes up to {}); rescale the data, "
      "for example take logarithms",
      place, table.values[gene * static_cast<std::size_t>(table.samples) + sample], tarvok::kLargestMagnitude));
}

void CheckVariance(const Table& table) {
  const std::size_t samples = static_cast<std::size_t>(table.samples);
  for (std::size_t g = 0; g < static_cast<std::size_t>(table.genes); ++g) {
    const double* row = table.values.data() + g * samples;
    if (std::any_of(row + 1, row + samples, [&](double value) { return value != row[0]; })) return;
  }
  throw TableError(
      fmt::format("every gene has the same value in all {}: the data have no variance, so there "
                  "is nothing to cluster",
                  Plural(samples, "sample")));
}

}  // namespace tarvok
