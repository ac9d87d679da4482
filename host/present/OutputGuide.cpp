#include "present/OutputGuide.h"

#include <algorithm>

#include "exports/Exports.h"

namespace tarvok {

namespace {

// NNNNN stands for the cluster number (five digits or more) and K for the
// cluster number without zeros.
const char kGuide[] = R"(Files of a gene-shaving run (tarvok)

Units: values are the input table's values, centred (each gene's mean over
the samples subtracted) and, when the run took logarithms, log2 first.
Variances are in squared units of those values. R^2 is the share of a
cluster's total variance that lies between samples, in percent; the gap is
R^2 minus the mean R^2 of the row-permuted copies, in percentage points.
Every text file is tab-separated unless said otherwise.

Start here
  report.html        the report: parameters, summary, figures, downloads
  summary.tsv        one line per cluster: cluster, genes, step (of the
                     nested sequence, 1-based), eigenvalue, r2_percent, gap,
                     gene_labels (blank-separated)
  summary.json       the run in full: program, version, parameters, classes,
                     the log2 decision and its reason, missing values,
                     warnings, how the run ended, and per cluster its
                     numbers at full precision, genes and scores
  README.txt         this guide

Exports (for other tools)
  clusters.gmt       gene sets per cluster (GSEA and enrichment tools), by
                     gene label; the _up set holds the genes that follow
                     the cluster's pattern, the _down set those that
                     mirror it
  clusters.symbols.gmt
                     (a table with gene symbols) the same sets by symbol,
                     each once, placeholders such as --Control left out
  clusters.kgg       gene, cluster number (Cluster 3.0, Java TreeView)
  @CDT@  the centred data cluster by cluster, each row signed
                     to follow its cluster, then every gene in no cluster;
                     UNIQID is the gene label, NAME its symbol (Java
                     TreeView)
  clusters.gct       the clustered genes' centred values, GCT 1.3, with
                     symbol (Description, given symbols), cluster, score
                     and sign per gene (Morpheus)

Figures (figures/, each drawing with the data it shows as .tsv)
  clusterK_gap       size (genes), gap, chosen (1 at the chosen size)
  clusterK_r2        size, r2_percent, mean_permuted_r2_percent, chosen
  clusterK_heatmap   gene, sign (+1 follows, -1 mirrors), one centred value
                     per sample
  clusterK_component sample, class, component (unit length)

The library's result files (fixed formats, six decimals)
  RowLbls.txt        gene labels, one per line, in the order analysed: the
                     genes' keys (a GEO file's probe IDs)
  RowSymbols.txt     (a table with gene symbols) each gene's symbol, one
                     per line, as RowLbls.txt; empty lines for none
  ColLbls.txt        sample labels, one per line
  clusterlengths.txt one line per cluster: chosen step, genes
  clusters.txt       names of the clusterNNNNN.txt files, one per cluster
                     asked for (also when the run stopped earlier)
  clabels.txt        names of the clabelsNNNNN.txt files, likewise
  glabels.txt, vlabels.txt, elabels.txt, pclabels.txt
                     names of the gap, variance, eigen and pc files written
  classes.txt        (supervised runs) the class number of each sample
  origmatrix.txt     (with --dump-matrix) the centred matrix, one line per
                     gene, values separated by blanks
  clusterNNNNN.txt   the cluster's centred values, one per line: sample by
                     sample, the cluster's genes in cluster order
  clabelsNNNNN.txt   the cluster's gene labels, cluster order
  gapNNNNN.txt       per step of the nested sequence: size, gap
  varianceNNNNN.txt  per step: size, R^2 (%), mean R^2 of the permuted
                     copies (%), between-sample variance, total variance,
                     within variance
  eigenNNNNN.txt     the eigenvalue of the chosen cluster (squared units)
  pcNNNNN.txt        the cluster's component, one value per sample, with
                     the sign the decomposition gave it; the report, the
                     figures, the exports and summary.json sign each
                     cluster so that most of its genes follow it
)";

}  // namespace

std::string OutputGuideText(const std::string& tableName) {
  std::string text = kGuide;
  std::string cdt = tableName + ".cdt";
  // The column of descriptions starts at the 22nd character.
  cdt.resize(std::max<std::size_t>(cdt.size(), 17), ' ');
  text.replace(text.find("@CDT@"), 5, cdt);
  return text;
}

void WriteOutputGuide(const std::string& dir, const std::string& tableName) {
  tarvok::exports::WriteFileAtomically(dir + "/" + kOutputGuideFile, OutputGuideText(tableName));
}

}  // namespace tarvok
