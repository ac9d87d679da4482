// The values of a table: every cell read in place into a genes x samples
// matrix with NaN for a missing value, then the core's missing-value policy
// (tarvok::ApplyMissingPolicy), its refusals told by line, column and names.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include "core/Rules.h"
#include "tables/ByteSource.h"
#include "tables/TableReaders.h"

namespace tarvok {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

std::string GeneName(const RawTable& raw, std::size_t row) {
  if (raw.hasLabelColumn) return fmt::format("gene \"{}\"", raw.rows[row].fields[raw.nameField]);
  return fmt::format("gene {}", row + 1);
}

std::string CellPlace(const RawTable& raw, std::size_t row, std::size_t sample) {
  std::string place;
  if (raw.cellLines.empty()) {
    place = fmt::format("line {}, column {} ({}", raw.rows[row].line, raw.lead + sample + 1, GeneName(raw, row));
  } else {
    const int line = raw.cellLines[row * static_cast<std::size_t>(raw.samples) + sample];
    place = line > 0 ? fmt::format("line {} ({}", line, GeneName(raw, row))
                     : fmt::format("no row in the sample's table ({}", GeneName(raw, row));
  }
  if (!raw.sampleLabels.empty()) place += fmt::format(", sample \"{}\"", raw.sampleLabels[sample]);
  return place + ")";
}

// The error for a cell the policy refuses: a missing value under Error
// (in the file, or a number <= 0 that log2 made missing), or an infinite
// value (a number too large for a double) under any policy.
[[noreturn]] void RefuseCell(const RawTable& raw, std::size_t row, std::size_t sample, bool infinite) {
  const std::string_view cell = raw.rows[row].fields[raw.lead + sample];
  if (infinite) {
    throw TableError(fmt::format("{}: \"{}\" is not a finite number", CellPlace(raw, row, sample), cell));
  }
  double value = 0.0;
  if (ReadCell(cell, raw.decimalComma, value) == CellKind::Number) {
    throw TableError(fmt::format(
        "{}: \"{}\" has no log2, so it is a missing value; use --missing drop or --missing row-mean, "
        "or --log2 no to analyse the values as they are",
        CellPlace(raw, row, sample), Trim(cell)));
  }
  throw TableError(fmt::format(
      "{}: missing value \"{}\"; use --missing drop to leave out genes with missing values, "
      "or --missing row-mean to fill them with the gene's mean",
      CellPlace(raw, row, sample), Trim(cell)));
}

[[noreturn]] void RefuseWord(const RawTable& raw, std::size_t row, std::size_t sample, CellKind kind) {
  const std::string_view cell = raw.rows[row].fields[raw.lead + sample];
  if (kind == CellKind::Ambiguous) {
    std::string comma(Trim(cell)), whole = comma;
    comma[comma.find('.')] = ',';
    whole.erase(whole.find('.'), 1);
    throw TableError(fmt::format(
        "{}: \"{}\" is ambiguous in a file with decimal commas (a point may separate thousands): write "
        "\"{}\" for the decimal or \"{}\" for the whole number",
        CellPlace(raw, row, sample), Trim(cell), comma, whole));
  }
  double value = 0.0;
  const bool comma = !raw.decimalComma && ReadCell(cell, true, value) == CellKind::Number;
  throw TableError(fmt::format("{}: \"{}\" is not a number{}", CellPlace(raw, row, sample), cell,
                               comma ? " (for decimal commas use --decimal-comma)" : ""));
}

// What reading rows begin..end found: the first cell the policy refuses
// and the first cell that is no number, where reading stopped (as indexes
// into the matrix; kNone for none), with what that cell is.
struct RowsRead {
  std::size_t refused = kNone, word = kNone;
  CellKind wordKind = CellKind::Word;
};

// Reads the value cells of rows begin..end of raw into values (the whole
// matrix), NaN for a missing one, up to the first cell that is no number.
RowsRead ReadRows(const RawTable& raw, MissingCells policy, std::size_t begin, std::size_t end, double* values) {
  const std::size_t samples = static_cast<std::size_t>(raw.samples);
  const double missing = std::numeric_limits<double>::quiet_NaN();
  RowsRead found;
  for (std::size_t r = begin; r < end; ++r) {
    const std::string_view* cells = raw.rows[r].fields.data() + raw.lead;
    double* out = values + r * samples;
    for (std::size_t s = 0; s < samples; ++s) {
      const CellKind kind = ReadCell(cells[s], raw.decimalComma, out[s]);
      switch (kind) {
        case CellKind::Number:
          if (std::isinf(out[s]) && found.refused == kNone) found.refused = r * samples + s;
          break;
        case CellKind::Missing:
          out[s] = missing;
          if (policy == MissingCells::Error && found.refused == kNone) found.refused = r * samples + s;
          break;
        case CellKind::Word:
        case CellKind::Ambiguous:
          found.word = r * samples + s;
          found.wordKind = kind;
          return found;
      }
    }
  }
  return found;
}

// Tables of at least this many cells are read on two threads, where there
// are two cores: each cell is read alone, so the values are the same.
constexpr std::size_t kCellsForTwoThreads = std::size_t{1} << 18;

// Every value cell of raw, row by row, NaN for a missing one. A cell that
// is no number is an error, unless a cell before it is one the policy
// refuses: cells are judged in reading order.
std::vector<double> ReadMatrix(const RawTable& raw, MissingCells policy) {
  const std::size_t rows = raw.rows.size(), samples = static_cast<std::size_t>(raw.samples);
  std::vector<double> values;
  values.reserve(rows * samples);
  AdviseHugePages(values.data(), values.capacity() * sizeof(double));
  values.resize(values.capacity());
  const bool two = rows * samples >= kCellsForTwoThreads && std::thread::hardware_concurrency() >= 2;
  const std::size_t half = two ? rows / 2 : rows;
  std::future<RowsRead> second;
  if (two) second = std::async(std::launch::async, ReadRows, std::cref(raw), policy, half, rows, values.data());
  const RowsRead first = ReadRows(raw, policy, 0, half, values.data());
  const RowsRead later = second.valid() ? second.get() : RowsRead{};
  // The cells of the second half count only when the first holds no word.
  RowsRead all = first;
  if (first.word == kNone) {
    if (all.refused == kNone) all.refused = later.refused;
    all.word = later.word;
    all.wordKind = later.wordKind;
  }
  if (all.word != kNone) {
    if (all.refused != kNone) {
      RefuseCell(raw, all.refused / samples, all.refused % samples, std::isinf(values[all.refused]));
    }
    RefuseWord(raw, all.word / samples, all.word % samples, all.wordKind);
  }
  return values;
}

tarvok::MissingPolicy CorePolicy(MissingCells policy) {
  switch (policy) {
    case MissingCells::Drop:
      return tarvok::MissingPolicy::Drop;
    case MissingCells::RowMean:
      return tarvok::MissingPolicy::RowMean;
    default:
      return tarvok::MissingPolicy::Error;
  }
}

// Keep: every cell as read, for looking at the table; infinite values are
// still refused.
tarvok::MissingOutcome KeepAll(const RawTable& raw, const std::vector<double>& values) {
  const std::size_t samples = static_cast<std::size_t>(raw.samples);
  tarvok::MissingOutcome outcome;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (std::isinf(values[i])) RefuseCell(raw, i / samples, i % samples, true);
    if (std::isnan(values[i])) ++outcome.missingCells;
  }
  for (int g = 0; g < static_cast<int>(raw.rows.size()); ++g) outcome.keptGenes.push_back(g);
  for (int s = 0; s < raw.samples; ++s) outcome.keptSamples.push_back(s);
  return outcome;
}

std::vector<std::string> Kept(const std::vector<std::string>& all, const std::vector<int>& kept) {
  if (all.empty()) return all;
  std::vector<std::string> chosen;
  for (int k : kept) chosen.push_back(all[static_cast<std::size_t>(k)]);
  return chosen;
}

// The samples: labels, classes, and a note on those left out.
void TakeSamples(const RawTable& raw, const tarvok::MissingOutcome& outcome, Table& table) {
  const std::vector<int>& kept = outcome.keptSamples;
  table.samples = static_cast<int>(kept.size());
  table.droppedSamples = raw.samples - table.samples;
  table.sampleLabels = Kept(raw.sampleLabels, kept);
  table.sampleClasses = Kept(raw.sampleClasses, kept);
  if (table.droppedSamples == 0) return;
  std::size_t first = 0;
  while (first < kept.size() && kept[first] == static_cast<int>(first)) ++first;
  std::string name = raw.sampleLabels.empty() ? fmt::format("column {}", raw.lead + first + 1)
                                              : fmt::format("\"{}\"", raw.sampleLabels[first]);
  table.notes.push_back(fmt::format("dropped {} without any value (the first is {}); {} left",
                                    Plural(static_cast<std::size_t>(table.droppedSamples), "sample"), name,
                                    Plural(kept.size(), "sample")));
}

// The genes: labels and symbols of those kept, and notes on what the
// policy did to them.
void TakeGenes(const RawTable& raw, const tarvok::MissingOutcome& outcome, Table& table) {
  const std::vector<int>& kept = outcome.keptGenes;
  table.genes = static_cast<int>(kept.size());
  table.droppedGenes = static_cast<int>(raw.rows.size() - kept.size());
  table.missingCells = static_cast<int>(outcome.missingCells);
  table.imputedCells = static_cast<int>(outcome.imputedCells);
  const bool dropped = table.droppedGenes > 0;
  table.geneSymbols = Kept(raw.geneSymbols, kept);
  for (int g : kept) {
    const std::size_t r = static_cast<std::size_t>(g);
    if (raw.hasLabelColumn) {
      table.geneLabels.emplace_back(raw.rows[r].fields[raw.nameField]);
    } else if (dropped) {
      table.geneLabels.push_back(fmt::format("GENE{:05d}", r + 1));
    }
  }
  if (outcome.droppedForMissing > 0) {
    std::size_t first = 0;
    while (first < kept.size() && kept[first] == static_cast<int>(first)) ++first;
    table.notes.push_back(fmt::format("dropped {} with missing values (the first is {}); {} left",
                                      Plural(static_cast<std::size_t>(outcome.droppedForMissing), "gene"),
                                      GeneName(raw, first), Plural(kept.size(), "gene")));
  }
  if (outcome.imputedCells > 0) {
    table.notes.push_back(fmt::format("replaced {} in {} by the gene's mean",
                                      Plural(static_cast<std::size_t>(outcome.imputedCells), "missing value"),
                                      Plural(static_cast<std::size_t>(outcome.genesFilled), "gene")));
  }
  if (outcome.droppedEmpty > 0) {
    table.notes.push_back(fmt::format("dropped {} without any value",
                                      Plural(static_cast<std::size_t>(outcome.droppedEmpty), "gene")));
  }
  if (dropped && !raw.hasLabelColumn) {
    table.notes.push_back("genes are labelled GENEnnnnn by their row in the table");
  }
}

}  // namespace

void FillTable(const RawTable& raw, MissingCells policy, tarvok::LogChoice log2, Table& table) {
  if (raw.rows.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / raw.samples)) {
    throw TableError("the table is too large");
  }
  table.values = ReadMatrix(raw, policy);
  table.log2 = tarvok::TransformLog2(table.values, log2, raw.valueType);
  if (table.log2.nonPositive > 0) {
    table.notes.push_back(fmt::format("{} at or below 0 became missing (they have no log2)",
                                      Plural(static_cast<std::size_t>(table.log2.nonPositive), "value")));
  }
  tarvok::MissingOutcome outcome;
  if (policy == MissingCells::Keep) {
    outcome = KeepAll(raw, table.values);
  } else {
    try {
      outcome = tarvok::ApplyMissingPolicy(table.values, static_cast<int>(raw.rows.size()), raw.samples,
                                           CorePolicy(policy));
    } catch (const tarvok::MissingValueError& error) {
      RefuseCell(raw, static_cast<std::size_t>(error.gene), static_cast<std::size_t>(error.sample),
                 error.infinite);
    }
  }
  TakeSamples(raw, outcome, table);
  TakeGenes(raw, outcome, table);
}

}  // namespace tarvok
