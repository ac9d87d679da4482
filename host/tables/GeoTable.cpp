// GEO files: series matrix files (GSE..._series_matrix.txt) and DataSet
// SOFT files (GDS....soft). Both hold one table between marker lines,
// metadata around it, and annotations that can give each sample a class.
#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "tables/GeoText.h"
#include "tables/TableReaders.h"

namespace tarvok {

namespace {

// A field without the double quotes GEO puts around text.
std::string_view Unquote(std::string_view field) {
  std::string_view text = Trim(field);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

std::vector<Record> GeoRecords(std::string_view text, std::pmr::memory_resource* memory) {
  std::vector<Record> records = SplitRecords(text, '\t', memory);
  for (Record& record : records) {
    for (std::string_view& field : record.fields) field = Unquote(field);
  }
  return records;
}

namespace {

// The index of the line whose first field is marker (any case), or -1.
long FindMarker(const std::vector<Record>& records, const char* marker, std::size_t from = 0) {
  for (std::size_t r = from; r < records.size(); ++r) {
    if (SameWordAnyCase(records[r].fields[0], marker)) return static_cast<long>(r);
  }
  return -1;
}

// The table between begin and end: a header of an ID column (the probes'
// IDs, the genes' keys), optionally an IDENTIFIER column (their symbols),
// and the samples; then one row per probe.
RawTable TableBetween(std::vector<Record>& records, const char* begin, const char* end, TableFormat format) {
  long first = FindMarker(records, begin);
  if (first < 0) throw TableError(fmt::format("the file has no {} line", begin));
  long last = FindMarker(records, end, static_cast<std::size_t>(first));
  if (last < 0) {
    throw TableError(fmt::format("the table of line {} never ends with {} (is the file cut off?)",
                                 records[static_cast<std::size_t>(first)].line, end));
  }
  std::vector<Record> table(std::make_move_iterator(records.begin() + first + 1),
                            std::make_move_iterator(records.begin() + last));
  RawTable raw;
  raw.format = format;
  if (table.empty()) throw TableError(fmt::format("the table after {} has no header line", begin));
  DropTrailingEmptyField(table, raw.notes);
  const Fields& header = table[0].fields;
  raw.hasHeaderRow = raw.hasLabelColumn = true;
  bool identifiers = header.size() > 1 && SameWordAnyCase(header[1], "identifier");
  raw.lead = identifiers ? 2 : 1;
  if (header.size() <= raw.lead) throw TableError(fmt::format("line {} names no samples", table[0].line));
  raw.sampleLabels.assign(header.begin() + static_cast<long>(raw.lead), header.end());
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  raw.rows.assign(std::make_move_iterator(table.begin() + 1), std::make_move_iterator(table.end()));
  if (raw.rows.empty()) throw TableError("the table has no data rows");
  CheckRowWidths(raw);
  if (identifiers) TakeSymbols(raw, 1);
  raw.layout.push_back(fmt::format("line {} names the samples (the header after {})", table[0].line, begin));
  raw.layout.push_back(identifiers ? fmt::format("the genes are keyed by the {} column; the IDENTIFIER column "
                                               "(column 2) gives their symbols",
                                               header[0])
                                   : fmt::format("the genes are keyed by the {} column", header[0]));
  return raw;
}

// A name as the user may write it: no '!', no "Sample_", lower case.
std::string AnnotationKey(std::string_view text) {
  std::string name = Lower(Trim(text));
  if (!name.empty() && name[0] == '!') name.erase(0, 1);
  if (name.compare(0, 7, "sample_") == 0) name.erase(0, 7);
  return name;
}

}  // namespace

std::vector<std::string> SeriesClasses(const std::vector<Record>& meta, const RawTable& raw,
                                       const std::string& name) {
  const std::string wanted = AnnotationKey(name);
  const std::size_t samples = static_cast<std::size_t>(raw.samples);
  std::vector<std::string> lineNames, keys;
  for (const Record& line : meta) {
    std::string key = AnnotationKey(line.fields[0]);
    if (key == "geo_accession" && line.fields.size() == samples + 1 &&
        !std::equal(raw.sampleLabels.begin(), raw.sampleLabels.end(), line.fields.begin() + 1)) {
      throw TableError(
          fmt::format("line {}: the samples are not in the order of the table's header", line.line));
    }
    if (key != wanted) continue;
    if (line.fields.size() != samples + 1) {
      throw TableError(fmt::format("line {} has {} for {}", line.line,
                                   Plural(line.fields.size() - 1, "value"), Plural(samples, "sample")));
    }
    return std::vector<std::string>(line.fields.begin() + 1, line.fields.end());
  }
  std::vector<std::string> classes(samples);
  std::vector<bool> found(samples, false);
  for (const Record& line : meta) {
    if (AnnotationKey(line.fields[0]).compare(0, 15, "characteristics") != 0) continue;
    for (std::size_t s = 0; s < samples && s + 1 < line.fields.size(); ++s) {
      const std::string_view cell = line.fields[s + 1];
      std::size_t colon = cell.find(':');
      if (colon == std::string::npos) continue;
      std::string key = Lower(Trim(cell.substr(0, colon)));
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
      if (key == wanted && !found[s]) {
        classes[s] = Trim(cell.substr(colon + 1));
        found[s] = true;
      }
    }
  }
  auto missing = std::find(found.begin(), found.end(), false);
  if (missing == found.end()) return classes;
  if (std::count(found.begin(), found.end(), true) > 0) {
    throw TableError(fmt::format("sample \"{}\" has no characteristic \"{}\"",
                                 raw.sampleLabels[static_cast<std::size_t>(missing - found.begin())], name));
  }
  for (const Record& line : meta) {
    std::string key = AnnotationKey(line.fields[0]);
    if (std::find(lineNames.begin(), lineNames.end(), key) == lineNames.end()) lineNames.push_back(key);
  }
  throw TableError(
      fmt::format("no sample annotation \"{}\"; the file has the lines {} and the characteristics {}", name,
                  fmt::join(lineNames, ", "),
                  keys.empty() ? std::string("(none)") : fmt::format("\"{}\"", fmt::join(keys, "\", \""))));
}

bool Attribute(const Record& line, std::string& key, std::string_view& value) {
  const std::string_view text = line.fields[0];
  std::size_t equals = text.find('=');
  if (text.empty() || (text[0] != '!' && text[0] != '^') || equals == std::string::npos) return false;
  key = Lower(Trim(text.substr(1, equals - 1)));
  value = Trim(text.substr(equals + 1));
  return true;
}

namespace {

// The class of each sample from the GDS subsets of one type: a sample's
// class is the description of the subset that lists it.
std::vector<std::string> SubsetClasses(const std::vector<Record>& meta, const RawTable& raw,
                                       const std::string& type) {
  struct Subset {
    std::string description, type, samples;
  };
  std::vector<Subset> subsets;
  for (const Record& line : meta) {
    std::string key;
    std::string_view value;
    if (!Attribute(line, key, value)) continue;
    if (key == "subset") subsets.emplace_back();
    if (subsets.empty()) continue;
    if (key == "subset_description") subsets.back().description = value;
    if (key == "subset_type") subsets.back().type = value;
    if (key == "subset_sample_id") subsets.back().samples = value;
  }
  std::map<std::string, std::string> classOf;
  std::vector<std::string> types;
  for (const Subset& subset : subsets) {
    if (std::find(types.begin(), types.end(), subset.type) == types.end()) types.push_back(subset.type);
    if (Lower(subset.type) != Lower(Trim(type))) continue;
    for (const Record& id : SplitRecords(subset.samples, ',')) {
      for (const std::string_view field : id.fields) {
        auto placed = classOf.emplace(Trim(field), subset.description);
        if (!placed.second && placed.first->second != subset.description) {
          throw TableError(fmt::format("sample \"{}\" is in two subsets of type \"{}\": \"{}\" and \"{}\"",
                                       Trim(field), type, placed.first->second, subset.description));
        }
      }
    }
  }
  if (classOf.empty()) {
    throw TableError(fmt::format(
        "no subset of type \"{}\"; the file's subset types are {}", type,
        types.empty() ? std::string("(none)") : fmt::format("\"{}\"", fmt::join(types, "\", \""))));
  }
  std::vector<std::string> classes;
  for (const std::string& sample : raw.sampleLabels) {
    auto found = classOf.find(sample);
    if (found == classOf.end()) {
      throw TableError(fmt::format("sample \"{}\" is in no subset of type \"{}\"", sample, type));
    }
    classes.push_back(found->second);
  }
  return classes;
}

}  // namespace

RawTable SplitSeriesMatrix(std::string_view text, const std::string& classesFrom,
                           std::pmr::memory_resource* memory) {
  std::vector<Record> records = GeoRecords(text, memory);
  std::vector<Record> meta;
  for (const Record& record : records) {
    if (SameWordAnyCase(record.fields[0], "!series_matrix_table_begin")) break;
    if (SameWordAnyCase(record.fields[0].substr(0, 8), "!sample_")) meta.push_back(record);
  }
  RawTable raw = TableBetween(records, "!series_matrix_table_begin", "!series_matrix_table_end",
                              TableFormat::SeriesMatrix);
  if (!classesFrom.empty()) raw.sampleClasses = SeriesClasses(meta, raw, classesFrom);
  return raw;
}

RawTable SplitGds(std::string_view text, const std::string& classesFrom, std::pmr::memory_resource* memory) {
  std::vector<Record> records = GeoRecords(text, memory);
  std::vector<Record> meta;
  for (const Record& record : records) {
    if (SameWordAnyCase(record.fields[0], "!dataset_table_begin")) break;
    meta.push_back(record);
  }
  RawTable raw = TableBetween(records, "!dataset_table_begin", "!dataset_table_end", TableFormat::Gds);
  if (!classesFrom.empty()) raw.sampleClasses = SubsetClasses(meta, raw, classesFrom);
  for (const Record& line : meta) {
    std::string key;
    std::string_view value;
    if (Attribute(line, key, value) && key == "dataset_value_type") raw.valueType = value;
  }
  return raw;
}

}  // namespace tarvok
