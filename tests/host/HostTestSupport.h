// Running the tarvok program (or another binary) as a subprocess from the
// host tests, and the small synthetic tables those tests feed it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/TempDir.h"

struct ProgramResult {
  int exitStatus = -1;    // exit code, or -1 when ended by a signal
  int signal = 0;         // the ending signal, else 0
  bool timedOut = false;  // killed after the time limit
  std::string out, err;   // standard output and standard error
};

// A program started in the background; its output goes to files in a
// private temporary directory.
struct RunningProgram {
  pid_t pid = -1;
  TempDir* capture = nullptr;  // owned
};

// Starts binary with args (argv[1..]) in the working directory cwd (empty:
// the current one), with standard input from /dev/null.
RunningProgram StartProgram(const std::string& binary, const std::vector<std::string>& args,
                            const std::string& cwd = "");
// Waits up to timeoutSeconds, then kills it (timedOut set). Frees program.
ProgramResult WaitProgram(RunningProgram& program, double timeoutSeconds);
// StartProgram and WaitProgram in one.
ProgramResult RunProgram(const std::string& binary, const std::vector<std::string>& args,
                         double timeoutSeconds = 300, const std::string& cwd = "");
// tarvok with args.
ProgramResult RunTarvok(const std::vector<std::string>& args, double timeoutSeconds = 300);

// A genes x samples table with a planted cluster: genes 0..genes/5-1 follow
// one pattern over the samples, the others are noise. Deterministic.
// sep: '\t' or ','; header and labels: with a header row (corner "gene",
// samples S1..) and a label column (g1..).
std::string SyntheticTable(int genes, int samples, bool header, bool labels, char sep = '\t');
// The values of SyntheticTable, row-major by gene.
std::vector<double> SyntheticValues(int genes, int samples);

// Small GEO files around SyntheticTable's values: a series matrix
// (ID_REF, quoted sample IDs GSM100..., a source-name line and two
// characteristics lines "tissue: ..." and "disease state: ALL/AML"), and a
// DataSet SOFT file with two "disease state" subsets, an IDENTIFIER column
// in which some genes repeat, and a null cell in the last gene. Classes
// alternate ALL, AML over the samples like the planted pattern.
std::string GeoSeriesMatrix(int genes, int samples);
std::string GeoDataSet(int genes, int samples);
// A GEO family SOFT file: platform GPL1 (ID, GB_ACC, Gene Symbol; every
// fifth probe without a symbol, and a probe no sample reports) with the
// samples GSM100... of SyntheticTable's values and the series matrix's
// characteristics, the first sample's rows backwards, the last sample
// without the last probe, the second with a probe "extra_at" the platform
// lacks; then platform GPL2 with two samples of two probes.
std::string GeoFamilySoft(int genes, int samples);

// Lines of a text file, without their "\n".
std::vector<std::string> FileLines(const std::string& path);
