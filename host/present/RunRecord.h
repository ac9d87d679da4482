// The one record every presentation of a run is built from (summary,
// report, figures, exports): the run's settings and its finished clusters.
// "tarvok run" fills it from the core's result in memory; "tarvok export"
// from a finished run's files.
#pragma once

#include <string>
#include <vector>

#include "core/Analysis.h"
#include "core/Rules.h"

namespace tarvok {

// What the user asked for: shown in the summary files and the report header.
struct RunInfo {
  std::string table;  // path of the input table as given
  int genes = 0, samples = 0;  // shape of the analysed matrix
  int clusters = 0, shave = 0, permutations = 0, tolerance = 0, supervise = 0;
  long long seed = 1;  // the generator's starting state
  // Where the classes came from (a file, or the table with the GEO field
  // that gave them); empty without classes.
  std::string classesFile;
  std::string classField;  // --classes-from's field; empty for a class file
  std::vector<int> classes;  // class of each sample; empty if unsupervised
  std::vector<std::string> classNames;  // class file's label of each sample; may be empty
  std::vector<std::string> sampleLabels;  // one per sample; may be empty
  // How the table's missing values were handled ("error", "drop", "row-mean")
  // and what that changed.
  // Whether log2 was taken of the values, as asked ("auto", "yes", "no"),
  // with the decision, its reason and the values <= 0 it made missing.
  std::string log2Choice = "no";
  tarvok::LogOutcome log2;
  std::string missingPolicy = "error";
  int missingCells = 0, droppedGenes = 0, droppedSamples = 0, imputedCells = 0;
  std::vector<std::string> warnings;  // every warning the run gave, in order
  bool stoppedEarly = false;          // the library found no clusters left
  std::string stopReason = "completed";  // tarvok::StopReasonName of the run's stop
  // Why the results stop short of the run, "" for a run that finished: the
  // library failed or the user interrupted after the clusters shown.
  std::string incomplete;
  // False when the run left no record of its parameters and of how it
  // ended (an export without summary.json): the report says so rather
  // than show defaults.
  bool recorded = true;
};

// The name a run's files take from its input table: the file name without
// directories, a ".gz" ending, leading dots and the last extension
// ("golub" for data/golub.tsv.gz); "stdin" for standard input ("-"),
// "tarvok" when nothing is left.
std::string TableName(const std::string& table);

// One extracted cluster, as the analysis gave it or as read back from its
// per-cluster files.
struct ClusterResult {
  int number = 0;  // 1-based cluster number
  int chosenStep = 0;  // 1-based step of the chosen size in the nested sequence
  int size = 0;  // genes in the cluster
  double eigenvalue = 0.0;  // eigen file
  double r2 = 0.0;  // R^2 in percent at the chosen step
  double gap = 0.0;  // gap at the chosen step
  std::vector<double> component;  // pc file: one value per sample
  // The nested sequence, one entry per step (gap and variance files).
  std::vector<int> sizes;
  std::vector<double> gapCurve, r2Curve, meanPermutedR2, between, total, within;
  std::vector<std::string> geneLabels;  // cluster order
  // Each gene's row in the analysed table (from 0), cluster order; empty
  // when a finished run's files do not say (they name genes by label only).
  std::vector<int> geneRows;
  // Each gene's symbol ("" for none), cluster order; empty when the table
  // has no symbols.
  std::vector<std::string> geneSymbols;
  std::vector<std::vector<double>> data;  // [gene][sample], cluster order, centred values
  // The analysis's own score of each gene, cluster order; empty when read
  // back from the result files, which keep none.
  std::vector<double> scores;
};

struct RunResults {
  std::vector<ClusterResult> clusters;  // clusters 1..clustersDone in order
  std::vector<std::string> sampleLabels;  // ColLbls.txt, one per sample
  int samples = 0;  // N
};

// The score of each gene of c, cluster order: the analysis's own (c.scores)
// when c has them; otherwise, for clusters read back from the result files,
// the projection of its centred row on the component, as
// tarvok::exports::Projection computes it (for the first cluster of an
// unsupervised run the analysis's own score up to the six decimals of the
// files; for later clusters measured on the centred data, not on what the
// earlier clusters left).
std::vector<double> GeneScores(const ClusterResult& c);

// The sign of each gene of c relative to its component: +1 when its
// GeneScores entry is positive, else -1.
// Multiplying a row by its sign makes every gene of the cluster follow the
// component. Result: one entry per gene, cluster order.
std::vector<int> GeneSigns(const ClusterResult& c);

// The record of clusters, which analysis finished: numbers at full
// precision, the analysis's own scores and centred rows, each cluster
// oriented (tarvok::Oriented) as every presentation shows it.
//   geneLabels, sampleLabels (input) one per gene / sample of the analysed matrix
//   geneSymbols              (input) one per gene, or empty
RunResults RunResultsOf(const tarvok::Analysis& analysis, const std::vector<tarvok::ClusterRecord>& clusters,
                        const std::vector<std::string>& geneLabels, const std::vector<std::string>& sampleLabels,
                        const std::vector<std::string>& geneSymbols = {});

// Turns c's component and scores (GeneScores) so that c is shown as
// tarvok::NeedsFlip wants: for clusters read back from a run's files,
// whose components have the decomposition's own sign. Scores that c did
// not keep stay unkept: the projections follow the component.
void OrientCluster(ClusterResult& c);

}  // namespace tarvok
