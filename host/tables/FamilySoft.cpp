// GEO SOFT files of several entities: family SOFT files
// (GSE..._family.soft), whose ^PLATFORM sections hold a platform table and
// whose ^SAMPLE sections each hold one sample's table (ID_REF, VALUE, ...);
// and the platform tables of GEO platform annotation files (GPL....annot)
// and SOFT platform files, which give gene symbols by probe ID.
#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>

#include "tables/GeoText.h"
#include "tables/TableReaders.h"

namespace tarvok {

namespace {

// One ^ENTITY section: its attribute lines and its table (header first).
struct Entity {
  std::string kind, id;  // "platform", "GPL96"
  int line = 0;
  std::vector<const Record*> attributes;  // the '!' lines outside the table
  std::vector<const Record*> table;       // header and rows
};

bool EndsWithAnyCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && SameWordAnyCase(text.substr(text.size() - tail.size()), tail);
}

// The file's entities in order; '#' lines (column descriptions) and lines
// outside any entity are passed over.
std::vector<Entity> SoftEntities(const std::vector<Record>& records) {
  std::vector<Entity> entities;
  const Record* open = nullptr;  // the !..._table_begin line of the table being read
  for (const Record& record : records) {
    const std::string_view first = Trim(record.fields[0]);
    const bool bang = !first.empty() && first[0] == '!';
    if (open != nullptr) {
      if (bang && EndsWithAnyCase(first, "_table_end")) {
        open = nullptr;
      } else {
        entities.back().table.push_back(&record);
      }
      continue;
    }
    std::string key;
    std::string_view value;
    if (!first.empty() && first[0] == '^' && Attribute(record, key, value)) {
      entities.push_back(Entity{key, std::string(value), record.line, {}, {}});
    } else if (bang && !entities.empty()) {
      if (EndsWithAnyCase(first, "_table_begin")) {
        open = &record;
      } else {
        entities.back().attributes.push_back(&record);
      }
    }
  }
  if (open != nullptr) {
    throw TableError(fmt::format("the table of line {} never ends with a !..._table_end line (is the file cut off?)",
                                 open->line));
  }
  return entities;
}

// The value of an entity's attribute key (lower case, as Attribute gives it), or "".
std::string_view AttributeOf(const Entity& entity, std::string_view wanted) {
  std::string key;
  std::string_view value;
  for (const Record* line : entity.attributes) {
    if (Attribute(*line, key, value) && key == wanted) return value;
  }
  return {};
}

// The column of a table header whose name, lower case and without blanks,
// '_' and '-', is one of names (tried in order); -1 for none.
long FindColumn(const Fields& header, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    for (std::size_t c = 0; c < header.size(); ++c) {
      std::string plain;
      for (char ch : Lower(header[c])) {
        if (!IsBlank(ch) && ch != '_' && ch != '-') plain += ch;
      }
      if (plain == name) return static_cast<long>(c);
    }
  }
  return -1;
}

struct Platform {
  std::string id;
  const Entity* entity = nullptr;      // its ^PLATFORM section, if the file has one
  std::vector<const Entity*> samples;  // its ^SAMPLE sections, in order
};

// The platforms in order of first mention (a ^PLATFORM section or a
// sample's !Sample_platform_id), each with its samples.
std::vector<Platform> Platforms(const std::vector<Entity>& entities) {
  std::vector<Platform> platforms;
  auto find = [&](std::string_view id) -> Platform& {
    for (Platform& p : platforms) {
      if (SameWordAnyCase(p.id, id)) return p;
    }
    platforms.push_back(Platform{std::string(id), nullptr, {}});
    return platforms.back();
  };
  for (const Entity& entity : entities) {
    if (entity.kind == "platform") find(entity.id).entity = &entity;
    if (entity.kind != "sample") continue;
    const std::string_view id = AttributeOf(entity, "sample_platform_id");
    if (id.empty()) {
      throw TableError(fmt::format("sample {} (line {}) names no platform (!Sample_platform_id)", entity.id,
                                   entity.line));
    }
    find(id).samples.push_back(&entity);
  }
  return platforms;
}

std::vector<std::string> PlatformCounts(const std::vector<Platform>& platforms) {
  std::vector<std::string> counts;
  for (const Platform& p : platforms) counts.push_back(fmt::format("{} ({})", p.id, Plural(p.samples.size(), "sample")));
  return counts;
}

// The platform to read: the one asked for, or the only one with samples.
const Platform& ChoosePlatform(const std::vector<Platform>& platforms, const std::string& wanted) {
  const std::vector<std::string> counts = PlatformCounts(platforms);
  if (!wanted.empty()) {
    for (const Platform& p : platforms) {
      if (SameWordAnyCase(p.id, Trim(wanted))) return p;
    }
    throw PlatformChoiceError(fmt::format("no platform \"{}\" in the file; it has {}", wanted,
                                          counts.empty() ? std::string("none") : fmt::format("{}", fmt::join(counts, ", "))),
                              counts);
  }
  std::vector<const Platform*> withSamples;
  for (const Platform& p : platforms) {
    if (!p.samples.empty()) withSamples.push_back(&p);
  }
  if (withSamples.empty()) throw TableError("the file has no samples (no ^SAMPLE section)");
  if (withSamples.size() > 1) {
    throw PlatformChoiceError(
        fmt::format("the file holds samples of {} platforms: {}; choose one with --platform", withSamples.size(),
                    fmt::join(counts, ", ")),
        counts);
  }
  return *withSamples[0];
}

// One value of a sample's table: its text and line.
struct Cell {
  std::string_view value;
  int line = 0;
};

// The ID_REF and VALUE of each row of a sample's table, with every ID once.
std::vector<std::pair<std::string_view, Cell>> SampleColumn(const Entity& sample) {
  if (sample.table.empty()) throw TableError(fmt::format("sample {} (line {}) has no table", sample.id, sample.line));
  const Record& header = *sample.table[0];
  const long id = FindColumn(header.fields, {"idref"}), value = FindColumn(header.fields, {"value"});
  if (id < 0 || value < 0) {
    throw TableError(fmt::format("line {}: the table of sample {} has no {} column", header.line, sample.id,
                                 id < 0 ? "ID_REF" : "VALUE"));
  }
  const std::size_t width = static_cast<std::size_t>(std::max(id, value)) + 1;
  std::vector<std::pair<std::string_view, Cell>> column;
  std::unordered_map<std::string_view, int> seen;
  for (std::size_t r = 1; r < sample.table.size(); ++r) {
    const Record& row = *sample.table[r];
    if (row.fields.size() < width) {
      throw TableError(fmt::format("line {}: the row of sample {} has {} for {}", row.line, sample.id,
                                   Plural(row.fields.size(), "field"), Plural(width, "column")));
    }
    const std::string_view key = row.fields[static_cast<std::size_t>(id)];
    auto placed = seen.emplace(key, row.line);
    if (!placed.second) {
      throw TableError(fmt::format("line {}: sample {} has a second row for ID_REF \"{}\" (the first is on line {})",
                                   row.line, sample.id, key, placed.first->second));
    }
    column.emplace_back(key, Cell{row.fields[static_cast<std::size_t>(value)], row.line});
  }
  return column;
}

// The symbol column of a platform table's header (Gene Symbol, GENE_SYMBOL,
// Symbol, ...), or -1.
long SymbolColumn(const Fields& header) { return FindColumn(header, {"genesymbol", "symbol"}); }

// The ID column of a platform table: the one named ID, else the first.
std::size_t IdColumn(const Fields& header) { return static_cast<std::size_t>(std::max(0L, FindColumn(header, {"id"}))); }

// The rows of the matrix: every ID a sample reports, in the platform table's
// order, then the IDs the platform table lacks in the order they first appear.
std::vector<std::string_view> RowOrder(const Platform& platform,
                                       const std::vector<std::vector<std::pair<std::string_view, Cell>>>& columns) {
  std::unordered_map<std::string_view, std::size_t> rank;  // position in the platform table
  if (platform.entity != nullptr && !platform.entity->table.empty()) {
    const std::size_t idColumn = IdColumn(platform.entity->table[0]->fields);
    for (std::size_t r = 1; r < platform.entity->table.size(); ++r) {
      const Fields& row = platform.entity->table[r]->fields;
      if (idColumn < row.size()) rank.emplace(row[idColumn], rank.size());
    }
  }
  std::unordered_map<std::string_view, std::size_t> first;
  std::vector<std::string_view> ids;
  for (const auto& column : columns) {
    for (const auto& [id, cell] : column) {
      if (first.emplace(id, rank.size() + first.size()).second) ids.push_back(id);
    }
  }
  auto order = [&](std::string_view id) {
    auto found = rank.find(id);
    return found != rank.end() ? found->second : first.at(id);
  };
  std::stable_sort(ids.begin(), ids.end(), [&](std::string_view a, std::string_view b) { return order(a) < order(b); });
  return ids;
}

using SymbolMap = std::unordered_map<std::string_view, std::string_view>;

// The symbol of each ID of a platform's table (the first row of an ID
// counts); false when it has no table with a symbol column.
bool SymbolsOf(const Entity& platform, SymbolMap& symbols) {
  if (platform.table.empty()) return false;
  const Fields& header = platform.table[0]->fields;
  const long symbol = SymbolColumn(header);
  if (symbol < 0) return false;
  const std::size_t idColumn = IdColumn(header);
  for (std::size_t r = 1; r < platform.table.size(); ++r) {
    const Fields& row = platform.table[r]->fields;
    if (row.size() > static_cast<std::size_t>(symbol) && idColumn < row.size()) {
      symbols.emplace(row[idColumn], Trim(row[static_cast<std::size_t>(symbol)]));
    }
  }
  return true;
}

// The platform table's symbol of each row key, "" for none; empty when the
// platform has no table with a symbol column.
std::vector<std::string> RowSymbols(const Entity* platform, const std::vector<std::string_view>& ids) {
  SymbolMap symbolOf;
  if (platform == nullptr || !SymbolsOf(*platform, symbolOf)) return {};
  std::vector<std::string> symbols;
  for (std::string_view id : ids) {
    auto found = symbolOf.find(id);
    symbols.emplace_back(found == symbolOf.end() ? std::string_view() : found->second);
  }
  return symbols;
}

// The !Sample_ lines of the samples as a series matrix has them: the n-th
// line of one name in each sample makes one line with a field per sample
// ("" where a sample has fewer), so that SeriesClasses reads them.
std::vector<Record> SampleLines(const std::vector<const Entity*>& samples, std::pmr::memory_resource* memory) {
  std::vector<Record> lines;
  std::unordered_map<std::string, std::size_t> lineOf;  // "name#n" -> line
  for (std::size_t s = 0; s < samples.size(); ++s) {
    std::unordered_map<std::string, int> occurrences;
    for (const Record* attribute : samples[s]->attributes) {
      const std::string_view text = Trim(attribute->fields[0]);
      const std::size_t equals = text.find('=');
      if (equals == std::string::npos) continue;
      const std::string_view name = Trim(text.substr(0, equals));
      const std::string key = fmt::format("{}#{}", Lower(name), occurrences[Lower(name)]++);
      auto placed = lineOf.emplace(key, lines.size());
      if (placed.second) {
        lines.push_back(Record{attribute->line, Fields(samples.size() + 1, std::string_view(), memory)});
        lines.back().fields[0] = name;
      }
      lines[placed.first->second].fields[s + 1] = Trim(text.substr(equals + 1));
    }
  }
  return lines;
}

}  // namespace

RawTable SplitFamilySoft(std::string_view text, const std::string& classesFrom, const std::string& platformId,
                         std::pmr::memory_resource* memory) {
  const std::vector<Record> records = GeoRecords(text, memory);
  const std::vector<Entity> entities = SoftEntities(records);
  const std::vector<Platform> platforms = Platforms(entities);
  const Platform& platform = ChoosePlatform(platforms, platformId);
  RawTable raw;
  raw.format = TableFormat::FamilySoft;
  raw.hasHeaderRow = raw.hasLabelColumn = true;
  raw.lead = 1;
  raw.platforms = PlatformCounts(platforms);
  std::vector<std::vector<std::pair<std::string_view, Cell>>> columns;
  for (const Entity* sample : platform.samples) {
    raw.sampleLabels.push_back(sample->id);
    columns.push_back(SampleColumn(*sample));
  }
  raw.samples = static_cast<int>(raw.sampleLabels.size());
  const std::vector<std::string_view> ids = RowOrder(platform, columns);
  if (ids.empty()) throw TableError(fmt::format("the samples of platform {} have no rows", platform.id));
  std::unordered_map<std::string_view, std::size_t> rowOf;
  for (std::string_view id : ids) {
    rowOf.emplace(id, raw.rows.size());
    raw.rows.push_back(Record{0, Fields(static_cast<std::size_t>(raw.samples) + 1, std::string_view(), memory)});
    raw.rows.back().fields[0] = id;
  }
  raw.cellLines.assign(ids.size() * static_cast<std::size_t>(raw.samples), 0);
  for (std::size_t s = 0; s < columns.size(); ++s) {
    for (const auto& [id, cell] : columns[s]) {
      const std::size_t r = rowOf.at(id);
      raw.rows[r].fields[s + 1] = cell.value;
      raw.cellLines[r * static_cast<std::size_t>(raw.samples) + s] = cell.line;
      if (raw.rows[r].line == 0) raw.rows[r].line = cell.line;
    }
  }
  raw.geneSymbols = RowSymbols(platform.entity, ids);
  raw.layout.push_back(fmt::format("platform {}: the VALUE column of its {}, one column each", platform.id,
                                   Plural(platform.samples.size(), "sample table")));
  raw.layout.push_back(fmt::format(
      "the genes are the ID_REF values of the samples, in the platform table's order{}",
      raw.geneSymbols.empty() ? "; the platform table has no symbol column" : ", with its symbols"));
  if (!classesFrom.empty()) raw.sampleClasses = SeriesClasses(SampleLines(platform.samples, memory), raw, classesFrom);
  return raw;
}

std::unordered_map<std::string, std::string> PlatformSymbols(std::string_view text, const std::string& platformId,
                                                              std::pmr::memory_resource* memory) {
  const std::vector<Record> records = GeoRecords(text, memory);
  const std::vector<Entity> entities = SoftEntities(records);
  std::vector<const Entity*> tables;
  std::vector<std::string> names;
  for (const Entity& entity : entities) {
    if (entity.kind != "platform" || entity.table.empty()) continue;
    if (!platformId.empty() && !SameWordAnyCase(entity.id, Trim(platformId))) continue;
    tables.push_back(&entity);
    names.push_back(entity.id);
  }
  if (tables.size() != 1) {
    throw TableError(tables.empty() ? fmt::format("no platform table{}", platformId.empty() ? std::string()
                                                                                        : " of " + platformId)
                                    : fmt::format("several platform tables ({}); choose one with --platform",
                                                  fmt::join(names, ", ")));
  }
  SymbolMap found;
  if (!SymbolsOf(*tables[0], found)) {
    throw TableError(fmt::format("line {}: the platform table has no gene symbol column (Gene Symbol, "
                                 "GENE_SYMBOL, Symbol)",
                                 tables[0]->table[0]->line));
  }
  std::unordered_map<std::string, std::string> symbols;
  for (const auto& [id, symbol] : found) symbols.emplace(id, symbol);
  return symbols;
}

}  // namespace tarvok
