#include "tables/Table.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include "tables/ByteSource.h"
#include "tables/TableReaders.h"
#include "base/NumberGrammar.h"

namespace {

std::string GeneName(const RawTable& raw, std::size_t row) {
  if (raw.hasLabelColumn) return fmt::format("gene \"{}\"", raw.rows[row].fields[raw.nameField]);
  return fmt::format("gene {}", row + 1);
}

std::string CellPlace(const RawTable& raw, std::size_t row, std::size_t sample) {
  std::string place =
      fmt::format("line {}, column {} ({}", raw.rows[row].line, raw.lead + sample + 1, GeneName(raw, row));
  if (!raw.sampleLabels.empty()) place += fmt::format(", sample \"{}\"", raw.sampleLabels[sample]);
  return place + ")";
}

// Reads the numbers of raw into table and applies the missing-value policy.
void FillValues(const RawTable& raw, MissingPolicy policy, Table& table) {
  const std::size_t samples = static_cast<std::size_t>(raw.samples);
  const double missing = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> row(samples);
  std::vector<std::size_t> kept;  // original row of each kept gene
  std::size_t droppedForMissing = 0, droppedEmpty = 0, replaced = 0, genesFilled = 0;
  std::string firstDropped;
  for (std::size_t r = 0; r < raw.rows.size(); ++r) {
    const Record& record = raw.rows[r];
    std::size_t missingHere = 0;
    for (std::size_t s = 0; s < samples; ++s) {
      const std::string& cell = record.fields[raw.lead + s];
      if (IsMissingCell(cell)) {
        if (policy == MissingPolicy::Error) {
          throw TableError(fmt::format(
              "{}: missing value \"{}\"; use --missing drop to leave out genes with missing values, "
              "or --missing row-mean to fill them with the gene's mean",
              CellPlace(raw, r, s), Trim(cell)));
        }
        row[s] = missing;
        ++missingHere;
        continue;
      }
      const std::string number = raw.decimalComma ? WithDecimalPoint(cell) : cell;
      double value = IsDecimalNumber(number) ? std::strtod(number.c_str(), nullptr) : missing;
      if (!std::isfinite(value)) {
        bool comma = !raw.decimalComma && cell.find(',') != std::string::npos &&
                     IsDecimalNumber(WithDecimalPoint(cell));
        throw TableError(fmt::format("{}: \"{}\" is not a {}number{}", CellPlace(raw, r, s), cell,
                                     IsDecimalNumber(number) ? "finite " : "",
                                     comma ? " (for decimal commas use --decimal-comma)" : ""));
      }
      row[s] = value;
    }
    table.missingCells += static_cast<int>(missingHere);
    if (missingHere > 0 && policy == MissingPolicy::Drop) {
      if (droppedForMissing++ == 0) firstDropped = GeneName(raw, r);
      continue;
    }
    if (missingHere > 0 && policy == MissingPolicy::RowMean) {
      if (missingHere == samples) {
        ++droppedEmpty;
        continue;
      }
      double sum = 0.0;  // in sample order
      for (std::size_t s = 0; s < samples; ++s) {
        if (!std::isnan(row[s])) sum += row[s];
      }
      double mean = sum / static_cast<double>(samples - missingHere);
      for (double& value : row) {
        if (std::isnan(value)) value = mean;
      }
      replaced += missingHere;
      ++genesFilled;
    }
    table.values.insert(table.values.end(), row.begin(), row.end());
    kept.push_back(r);
  }
  table.genes = static_cast<int>(kept.size());
  table.droppedGenes = static_cast<int>(raw.rows.size() - kept.size());
  table.imputedCells = static_cast<int>(replaced);
  bool dropped = kept.size() < raw.rows.size();
  if (raw.hasLabelColumn) {
    for (std::size_t r : kept) table.geneLabels.push_back(raw.rows[r].fields[raw.nameField]);
  } else if (dropped) {
    for (std::size_t r : kept) table.geneLabels.push_back(fmt::format("GENE{:05d}", r + 1));
  }
  if (droppedForMissing > 0) {
    table.notes.push_back(fmt::format("dropped {} with missing values (the first is {}); {} left",
                                      Plural(droppedForMissing, "gene"), firstDropped,
                                      Plural(kept.size(), "gene")));
  }
  if (replaced > 0) {
    table.notes.push_back(fmt::format("replaced {} in {} by the gene's mean",
                                      Plural(replaced, "missing value"), Plural(genesFilled, "gene")));
  }
  if (droppedEmpty > 0) {
    table.notes.push_back(fmt::format("dropped {} without any value", Plural(droppedEmpty, "gene")));
  }
  if (dropped && !raw.hasLabelColumn) {
    table.notes.push_back("genes are labelled GENEnnnnn by their row in the table");
  }
}

// Under drop and row-mean, a sample without any value would take every
// gene with it (or leave nothing to average): it is dropped first.
void DropEmptySamples(RawTable& raw, MissingPolicy policy) {
  if (policy != MissingPolicy::Drop && policy != MissingPolicy::RowMean) return;
  std::vector<std::size_t> keep, gone;
  for (std::size_t s = 0; s < static_cast<std::size_t>(raw.samples); ++s) {
    bool empty = std::all_of(raw.rows.begin(), raw.rows.end(),
                             [&](const Record& row) { return IsMissingCell(row.fields[raw.lead + s]); });
    (empty ? gone : keep).push_back(s);
  }
  if (gone.empty() || keep.empty()) return;
  auto name = [&](std::size_t s) {
    return raw.sampleLabels.empty() ? fmt::format("column {}", raw.lead + s + 1)
                                    : fmt::format("\"{}\"", raw.sampleLabels[s]);
  };
  raw.notes.push_back(fmt::format("dropped {} without any value (the first is {}); {} left",
                                  Plural(gone.size(), "sample"), name(gone[0]),
                                  Plural(keep.size(), "sample")));
  auto select = [&](std::vector<std::string>& values, std::size_t offset) {
    if (values.empty()) return;
    std::vector<std::string> kept(values.begin(), values.begin() + static_cast<long>(offset));
    for (std::size_t s : keep) kept.push_back(std::move(values[offset + s]));
    values = std::move(kept);
  };
  for (Record& row : raw.rows) select(row.fields, raw.lead);
  select(raw.sampleLabels, 0);
  select(raw.sampleClasses, 0);
  raw.samples = static_cast<int>(keep.size());
}

// A warning for names given to more than one gene or sample.
void WarnDuplicates(const std::vector<std::string>& labels, const char* kind,
                    std::vector<std::string>& notes) {
  std::map<std::string, int> seen;
  std::size_t repeated = 0, extra = 0;
  std::string first;
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

// The format a file's content shows by markers no plain table has, or Auto.
TableFormat MarkedFormat(const std::string& text) {
  // GEO files open with their own marks; the table markers may follow long
  // metadata, so only the first megabyte is searched for them.
  std::string head = Lower(text.substr(0, 1 << 20));
  if (head.compare(0, 8, "!series_") == 0 || head.find("!series_matrix_table_begin") != std::string::npos) {
    return TableFormat::SeriesMatrix;
  }
  if (head.find("!dataset_table_begin") != std::string::npos || head.compare(0, 9, "^database") == 0 ||
      head.compare(0, 8, "^dataset") == 0) {
    return TableFormat::Gds;
  }
  std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  if (Trim(firstLine.substr(0, firstLine.find('\t'))) == "#1.2") return TableFormat::Gct;
  std::vector<Record> head1 = SplitRecords(firstLine, '\t', false);
  if (!head1.empty() && head1[0].fields.size() >= 3 && Upper(Trim(head1[0].fields[2])) == "GWEIGHT") {
    return TableFormat::Pcl;
  }
  return TableFormat::Auto;
}

// A format the user named must be the file's: a marked file read as
// another format, or a plain table split at the wrong separator, would be
// read wrongly without an error.
void CheckForcedFormat(TableFormat format, const std::string& text) {
  TableFormat marked = MarkedFormat(text);
  if (marked != TableFormat::Auto && marked != format) {
    throw TableError(fmt::format("--format {}, but the file is a {} file (say --format {} or auto)",
                                 FormatName(format), FormatName(marked), FormatName(marked)));
  }
  std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  bool tabs = firstLine.find('\t') != std::string::npos;
  bool commas = firstLine.find_first_of(",;") != std::string::npos;
  if (format == TableFormat::Csv && tabs && !commas) {
    throw TableError("--format csv, but line 1 is separated by tabs, not commas (say --format tsv)");
  }
  if (format == TableFormat::Tsv && !tabs && commas) {
    throw TableError("--format tsv, but line 1 has no tab and is separated by commas (say --format csv)");
  }
}

RawTable SplitTable(const std::string& text, const ReadOptions& options, TableFormat format) {
  if (!options.classesFrom.empty() && format != TableFormat::SeriesMatrix && format != TableFormat::Gds) {
    throw TableError(
        fmt::format("--classes-from reads the sample annotation of a GEO series matrix or GDS "
                    "file, and this is a {} file (give the classes with --classes FILE)",
                    FormatName(format)));
  }
  switch (format) {
    case TableFormat::Gct:
      return SplitGct(text);
    case TableFormat::Pcl:
      return SplitPcl(text, options.format == TableFormat::Pcl);
    case TableFormat::SeriesMatrix:
      return SplitSeriesMatrix(text, options.classesFrom);
    case TableFormat::Gds:
      return SplitGds(text, options.classesFrom);
    default:
      return SplitPlainTable(text, format, options);
  }
}

}  // namespace

bool IsMissingCell(const std::string& cell) {
  std::string word = Upper(Trim(cell));
  return word.empty() || word == "NA" || word == "NAN" || word == "N/A" || word == "NULL";
}

bool IsDecimalNumber(const std::string& cell) { return tarvok::IsNumericText(cell.data(), cell.size()); }

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
    default:
      return "auto";
  }
}

TableFormat DetectFormat(const std::string& path, const std::string& text) {
  TableFormat marked = MarkedFormat(text);
  if (marked == TableFormat::SeriesMatrix || marked == TableFormat::Gds || marked == TableFormat::Gct) {
    return marked;
  }
  std::string name = path;
  if (name.size() > 3 && Upper(name.substr(name.size() - 3)) == ".GZ") name.resize(name.size() - 3);
  std::size_t dot = name.find_last_of("./");
  std::string extension = dot != std::string::npos && name[dot] == '.' ? Upper(name.substr(dot + 1)) : "";
  if (extension == "GCT") return TableFormat::Gct;
  if (extension == "PCL") return TableFormat::Pcl;
  std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  bool tabs = firstLine.find('\t') != std::string::npos;
  bool commas = firstLine.find_first_of(",;") != std::string::npos;
  // A .csv name on a file with tabs and no comma on line 1 is a TSV file
  // saved under the wrong name, which is common.
  if (extension == "CSV" && (commas || !tabs)) return TableFormat::Csv;
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
    if (label.size() > kMaxLabelLength) {
      std::size_t cut = kMaxLabelLength;
      // Never split a UTF-8 sequence: back up over continuation bytes, at
      // most the three a sequence has (a longer run is no UTF-8, and
      // backing over it could empty the label).
      auto continuation = [&](std::size_t at) {
        return (static_cast<unsigned char>(label[at]) & 0xC0) == 0x80;
      };
      while (cut > kMaxLabelLength - 3 && continuation(cut)) --cut;
      if (continuation(cut)) cut = kMaxLabelLength;
      label.resize(cut);
      ++repairs.shortened;
    }
  }
}

Table ParseTable(const std::string& text, const std::string& name, const ReadOptions& options) {
  TableFormat format = options.format;
  if (format == TableFormat::Auto) {
    format = DetectFormat(name, text);
  } else {
    CheckForcedFormat(format, text);
  }
  RawTable raw = SplitTable(text, options, format);
  DropEmptySamples(raw, options.missing);
  Table table;
  table.format = raw.format;
  table.hasHeaderRow = raw.hasHeaderRow;
  table.hasLabelColumn = raw.hasLabelColumn;
  table.samples = raw.samples;
  table.separator = raw.separator;
  table.decimalComma = raw.decimalComma;
  table.notes = std::move(raw.notes);
  table.layout = std::move(raw.layout);
  if (raw.rows.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / raw.samples)) {
    throw TableError("the table is too large");
  }
  FillValues(raw, options.missing, table);
  if (table.genes < 2 || table.samples < 2) {
    throw TableError(fmt::format("the analysis needs at least 2 genes and 2 samples; the table has {} and {}",
                                 Plural(static_cast<std::size_t>(table.genes), "gene"),
                                 Plural(static_cast<std::size_t>(table.samples), "sample")));
  }
  table.sampleLabels = std::move(raw.sampleLabels);
  table.sampleClasses = std::move(raw.sampleClasses);
  LabelRepairs repairs;
  CleanLabels(table.geneLabels, "GENE", repairs);
  CleanLabels(table.sampleLabels, "sample", repairs);
  std::vector<std::string> changes;
  if (repairs.blanks > 0) changes.push_back(fmt::format("{} with blanks (now underscores)", repairs.blanks));
  if (repairs.shortened > 0) {
    changes.push_back(
        fmt::format("{} longer than {} characters (shortened)", repairs.shortened, kMaxLabelLength));
  }
  if (repairs.empty > 0) changes.push_back(fmt::format("{} empty (named by position)", repairs.empty));
  if (!changes.empty()) table.notes.push_back(fmt::format("labels changed: {}", fmt::join(changes, "; ")));
  WarnDuplicates(table.geneLabels, "gene", table.notes);
  WarnDuplicates(table.sampleLabels, "sample", table.notes);
  return table;
}

Table ReadTable(const std::string& path, const ReadOptions& options) {
  std::string text = ReadWholeFile(path);
  CheckTextEncoding(text);
  return ParseTable(text, path, options);
}

Table ReadTable(const std::string& path, TableFormat format, MissingPolicy policy) {
  ReadOptions options;
  options.format = format;
  options.missing = policy;
  return ReadTable(path, options);
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
