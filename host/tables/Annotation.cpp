// Gene symbols for a table's probe IDs from a GEO platform annotation file
// (GPL....annot) or SOFT platform file.
#include <fmt/format.h>

#include "tables/ByteSource.h"
#include "tables/TableReaders.h"

namespace tarvok {

void AddAnnotationSymbols(Table& table, const std::string& path, const std::string& platform) {
  if (!table.hasLabelColumn) {
    throw TableError("--annotation finds symbols by probe ID, and the table has no column of gene IDs");
  }
  std::string text = ReadWholeFile(path);
  CheckTextEncoding(text);
  FieldArena arena(text.size());
  std::unordered_map<std::string, std::string> symbols;
  try {
    symbols = PlatformSymbols(text, platform, arena.Memory());
  } catch (const TableError& error) {
    throw TableError(fmt::format("--annotation {}: {}", path, error.what()));
  }
  std::size_t found = 0;
  table.geneSymbols.clear();
  for (const std::string& id : table.geneLabels) {
    auto symbol = symbols.find(id);
    table.geneSymbols.push_back(symbol == symbols.end() ? std::string() : symbol->second);
    if (symbol != symbols.end()) ++found;
  }
  if (found == 0) {
    table.notes.push_back(fmt::format("warning: none of the {} is in {}; the genes have no symbols",
                                      Plural(table.geneLabels.size(), "gene ID"), path));
  } else {
    table.notes.push_back(fmt::format("symbols for {} of {} from {}", found,
                                      Plural(table.geneLabels.size(), "gene ID"), path));
  }
}

}  // namespace tarvok
