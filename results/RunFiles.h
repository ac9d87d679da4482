// One analysis run with its classic result files and monitor lines: the
// label and list files before the first pass, each cluster's files at the
// moment its pass reaches them, and the early-stop notice. The C face and
// the command-line program's analysis process both run through here, so
// their files are the same.
#pragma once

#include <string>
#include <vector>

#include "core/Analysis.h"
#include "numeric/Arrays.h"
#include "results/ResultStream.h"

// How a run writes its files.
struct ResultFilesOptions {
  std::string dir;  // the existing output directory every file goes into
  // true: write GENE%05d / sample%05d labels; false: read RowLbls.txt and
  // ColLbls.txt from the directory.
  bool generateLabels = true;
  // With generateLabels false and not null: the gene labels, one per gene,
  // kept whole in the cluster label files; RowLbls.txt and ColLbls.txt are
  // then the host's and not read back (that keeps 79 bytes of each label).
  const std::vector<std::string>* geneLabels = nullptr;
  bool dumpMatrix = false;  // also write the centred matrix (origmatrix.txt)
  // Tell an early stop on standard error, as the C face does; a host that
  // reports the stop reason itself turns this off.
  bool announceEarlyStop = true;
  // Classic for the C face; the command-line program checks every write.
  WriteChecks checks = WriteChecks::Classic;
};

// The label tables of one run, allocated before anything else of the run
// (so an allocation failure is the first thing a run with huge counts
// reports), then the run itself.
class ResultFiles {
 public:
  ResultFiles(int genes, int samples, int clusters);
  ~ResultFiles();
  ResultFiles(const ResultFiles&) = delete;
  ResultFiles& operator=(const ResultFiles&) = delete;

  // Runs analysis (not yet run; of the genes, samples and clusters given to
  // the constructor), writing into the output directory.
  //   options        (input) directory, labels, matrix dump, early-stop notice
  //   clustersDone   (output) set to each cluster's number as its files are
  //                  complete, so a failure leaves the count of whole clusters
  //   also           (input) when not null, told every event after the files
  //                  of that event are written
  // Returns the analysis's result. Throws what the analysis or a writer throws.
  tarvok::AnalysisResult Run(tarvok::Analysis& analysis, const ResultFilesOptions& options, int* clustersDone,
                             tarvok::AnalysisObserver* also = nullptr);

 private:
  std::string Path(const char* name) const { return dir_ + "/" + name; }

  std::string dir_;
  int genes_, samples_, clusters_;
  CVector geneLabels_, sampleLabels_, clusterFileNames_, clusterLabelFileNames_;
};
