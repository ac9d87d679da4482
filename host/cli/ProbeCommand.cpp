// "tarvok probe": how a table is read, without analysing it.
#include <fmt/format.h>

#include <map>

#include "cli/Cli.h"
#include "run/AtomicFile.h"
#include "tables/ClassFile.h"

namespace tarvok {

namespace {

// Writes text to standard output; the exit status.
int Print(const std::string& text) {
  std::string failure = WriteStandardOutput(text);
  if (!failure.empty()) {
    Complain(fmt::format("cannot write to standard output: {}", failure));
    return kExitAnalysisFailed;
  }
  return kExitSuccess;
}

}  // namespace

int ProbeCommand(const std::string& path, const ReadOptions& options) {
  ReadOptions read = options;
  read.missing = MissingCells::Keep;
  Table table;
  SampleClasses classes;
  std::vector<std::string> notes;
  try {
    table = ReadTable(path, read);
    if (!table.sampleClasses.empty()) classes = ClassesFromWords(table.sampleClasses, notes);
  } catch (const PlatformChoiceError& error) {
    if (!read.platform.empty()) {
      Complain(fmt::format("{}: {}", path, error.what()));
      return kExitUsage;
    }
    // Listing the platforms is what probing such a file can do.
    Complain(fmt::format("{}: {}", path, error.what()));
    return Print(fmt::format("format: {}\nplatforms: {}\n", FormatName(TableFormat::FamilySoft),
                             fmt::join(error.platforms, ", ")));
  } catch (const TableError& error) {
    Complain(fmt::format("{}: {}", path, error.what()));
    return kExitUsage;
  }
  for (const std::string& note : table.notes) Complain(fmt::format("{}: {}", path, note));
  std::string text = fmt::format(
      "format: {}\nhasHeaderRow: {}\nhasLabelColumn: {}\ngenes: {}\nsamples: {}\nmissing values: {}\n",
      FormatName(table.format), table.hasHeaderRow ? 1 : 0, table.hasLabelColumn ? 1 : 0, table.genes,
      table.samples, table.missingCells);
  if (table.format == TableFormat::Csv || table.decimalComma) {
    text += fmt::format("separator: {}\ndecimal mark: {}\n",
                        table.separator == '\t' ? "tab" : std::string(1, table.separator),
                        table.decimalComma ? "comma" : "point");
  }
  if (!table.platforms.empty()) text += fmt::format("platforms: {}\n", fmt::join(table.platforms, ", "));
  text += tarvok::LogDecisionText(table.log2.decision) + "\n";
  for (const std::string& why : table.layout) text += fmt::format("why: {}\n", why);
  if (!classes.classes.empty()) {
    std::map<int, int> counts;
    for (int c : classes.classes) ++counts[c];
    std::vector<std::string> parts;
    for (const auto& [number, count] : counts) {
      parts.push_back(fmt::format("{} ({})", ClassName(classes, number), count));
    }
    text += fmt::format("classes: {}\n", fmt::join(parts, ", "));
  }
  return Print(text);
}

}  // namespace tarvok
