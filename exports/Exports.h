// Files that carry a gene-shaving result into the tools users already work
// with: gene sets for enrichment (GMT), Cluster 3.0 / Java TreeView (KGG and
// CDT) and Morpheus (GCT 1.3).
//
// Every face builds one ExportRecord and calls the writers here, so the
// command-line program and the Python and R packages write the same bytes.
//
// A gene's label (the table's first column: a probe ID in GEO files) is its
// key; its symbol, when the table has symbols, travels beside it. Rows are
// never matched by label: each clustered gene names its row of the table,
// so repeated or empty labels stay distinct rows.
// Plain C++ standard library; nothing here prints or ends the process:
// failures throw std::runtime_error (file trouble) or std::invalid_argument
// (a record whose parts disagree).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvok::exports {

// One extracted cluster.
struct ClusterExport {
  std::vector<std::string> genes;         // gene labels, cluster order
  // Each gene's row in ExportRecord::genes (from 0), same order; may be
  // empty only when the record holds no table genes.
  std::vector<size_t> tableRows;
  std::vector<double> scores;             // signed score of each gene, same order
  std::vector<std::vector<double>> rows;  // [gene][sample] centred values, same order
  double eigenvalue = 0.0;                // at the chosen step
  double r2 = 0.0;                        // R^2 in percent at the chosen step
  double gap = 0.0;                       // gap at the chosen step
  std::vector<double> component;          // one value per sample
};

// The cells of CDT rows made ahead of the writer, on a core that is free
// earlier (ExportRecord::cdtCells): gene g's cells are text from ends[g-1]
// (0 for g = 0) to ends[g].
struct CdtCells {
  std::string text;
  std::vector<size_t> ends;
};

// Everything the exports need. Only samples and clusters are required.
struct ExportRecord {
  std::vector<std::string> samples;  // sample labels
  std::vector<std::string> classes;  // class name of each sample, or empty
  // Every gene of the analysed table in table order, for the unclustered
  // rows of the CDT; may be empty. values, when not empty, holds their
  // centred rows ([gene][sample]); without it those rows have empty cells.
  std::vector<std::string> genes;
  // The symbol of each of those genes ("" where a gene has none), or empty
  // when the table has no symbols.
  std::vector<std::string> symbols;
  std::vector<std::vector<double>> values;
  // Instead of values, a record may borrow the rows: rowOf(g) points at
  // gene g's centred row, which must outlive the record.
  std::function<const double*(size_t gene)> rowOf;
  // Optionally, the CDT cells of the first genes made ahead of time, of
  // their rows as they are; the CDT writer formats the cells of the other
  // genes, and of negated rows, itself. Not owned.
  const CdtCells* cdtCells = nullptr;
  std::vector<ClusterExport> clusters;  // clusters 1, 2, ... in order
};

// Throws std::invalid_argument naming the first part of r that disagrees
// with the others (row lengths, score counts, class count, symbol counts,
// table rows outside the table, no clusters).
void CheckRecord(const ExportRecord& r);

// The projection of a gene's centred row on its cluster's component:
// sum over samples s = 0..N-1 of row[s] * component[s], summed from 0.0 in
// sample order. Its sign says whether the gene follows the component (+)
// or mirrors it (-, also for a zero projection). Faces that have only the
// result files, not the analysis's own scores, use it as the score.
double Projection(const std::vector<double>& row, const std::vector<double>& component);

// value as the shortest "%.15g".."%.17g" text that reads back as the same
// double; "" for a value that is not finite (a missing value).
std::string ExactNumber(double value);
// ExactNumber(value) appended to out, for the writers of large tables.
void AppendExactNumber(std::string& out, double value);

// Appends the cells of the next gene, whose values are row, to cells:
// "\t" and ExactNumber(value) for each of the samples values, in order, as
// the CDT holds them (empty for a missing value, "0" for either zero).
void AppendCdtCells(CdtCells& cells, const double* row, size_t samples);

// The text of each file. See the writer of each format for its layout.
std::string GmtText(const ExportRecord& r);  // clusters.gmt
std::string SymbolGmtText(const ExportRecord& r);  // clusters.symbols.gmt
std::string KggText(const ExportRecord& r);  // clusters.kgg
std::string CdtText(const ExportRecord& r);  // STEM.cdt
std::string GctText(const ExportRecord& r);  // clusters.gct

// A symbol that names no gene: empty, or a placeholder such as GEO's
// "--Control" or an annotation's "---" (it starts with "--"). The symbol
// gene sets leave such symbols out.
bool IsPlaceholderSymbol(const std::string& symbol);

// The CDT's name without ".cdt" when no table names it.
inline constexpr const char* kDefaultCdtStem = "clusters";

// The file of the symbol gene sets, written when the record has symbols.
inline constexpr const char* kSymbolGmtName = "clusters.symbols.gmt";

// The names of the four files WriteExports writes for every record, in the
// order written: the CDT is cdtStem + ".cdt" (the program names it after
// the input table), the others are fixed.
std::vector<std::string> ExportFileNames(const std::string& cdtStem = kDefaultCdtStem);
// The names of the files WriteExports writes for r: ExportFileNames(cdtStem),
// then clusters.symbols.gmt when r carries symbols.
std::vector<std::string> ExportFileNames(const ExportRecord& r, const std::string& cdtStem = kDefaultCdtStem);

// Checks r, then writes every export file (ExportFileNames(r, cdtStem))
// into dir (which must exist). Each file goes to a temporary name first;
// only when all are written
// are they renamed into place, so a failure leaves no export file behind
// that belongs to a different record. Throws std::runtime_error "cannot
// write PATH: REASON".
void WriteExports(const ExportRecord& r, const std::string& dir, const std::string& cdtStem = kDefaultCdtStem);

// Checks r, then writes the file of one format ("gmt", "kgg", "cdt", "gct"
// or "symbol-gmt": GmtText, KggText, CdtText, GctText or SymbolGmtText) to
// path atomically, as
// WriteFileAtomically does; for the faces that write one file at a time.
// Throws std::invalid_argument for another format or a record whose parts
// disagree, std::runtime_error "cannot write PATH: REASON".
void WriteExport(const ExportRecord& r, const std::string& format, const std::string& path);

// The temporary name of path: ".NAME.tmp" in the same directory, so that
// the rename stays on one file system; every atomic write of the project
// uses it, so that a leftover is known for what it is.
std::string TemporaryName(const std::string& path);

// Writes content to a temporary file beside path (".NAME.tmp", created
// afresh, never through a link) and renames it to path; with sync, the
// data reach the disk before the rename, so that path holds its earlier
// content or all of the new one even after a crash. A symbolic link,
// device, FIFO or directory at path is refused, never replaced. Throws
// std::runtime_error "cannot write PATH: REASON"; the temporary is removed.
void WriteFileAtomically(const std::string& path, const std::string& content, bool sync = false);

}  // namespace tarvok::exports
