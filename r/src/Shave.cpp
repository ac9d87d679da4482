// The R face of the engine: runs the core on an R matrix and hands back
// plain lists for the R side to wrap. R is only called from this thread,
// between the core's steps (the observer), and every jump out of R code
// (an interrupt, a time limit, an error in the progress callback) is caught
// here, turned into a cancelled run, and resumed once the core has unwound
// and joined its workers. Nothing here ends the R process.
//
// Each run also returns its export record (built by the export library from
// the analysis, as every face builds it) as a plain R list, which the
// result keeps, so that the export files can be written later, also from a
// result saved and read back.
//
// The ranges of the parameters, the missing-value policy and the names of
// the stop reasons are the core's (core/Rules.h); its errors become R
// errors with the core's text.
#include <Rcpp.h>

#include <cmath>
#include <exception>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Analysis.h"
#include "core/Orientation.h"
#include "core/Rules.h"
#include "exports/Exports.h"
#include "exports/FromAnalysis.h"

#ifdef __FAST_MATH__
#error "The engine's numbers depend on IEEE arithmetic; build without -ffast-math"
#endif

// configure passes the version of the engine's VERSION file.
#define TARVOK_TEXT(x) #x
#define TARVOK_TEXT_OF(x) TARVOK_TEXT(x)

namespace {

SEXP CheckInterrupt(void*) {
  R_CheckUserInterrupt();
  return R_NilValue;
}

// Polls R for an interrupt and reports progress through an R function.
// A jump out of R is held as `pendingJump` and the run is cancelled.
class RObserver : public tarvok::AnalysisObserver {
 public:
  explicit RObserver(SEXP progress) : progress_(progress) {}

  void DataShaved(int, int) override { Tick(); }
  void CopyShaved(int, int) override { Tick(); }
  bool CancelRequested() override {
    if (jumped_) return true;
    try {
      Rcpp::unwindProtect(&CheckInterrupt, nullptr);
    } catch (const Rcpp::LongjumpException& jump) {
      Hold(jump);
    }
    return jumped_;
  }

  bool Jumped() const { return jumped_; }
  // Continues the jump that stopped the run (once the core has unwound).
  [[noreturn]] void ResumeJump() const { throw Rcpp::LongjumpException(pendingToken_); }

 private:
  void Tick() {
    if (progress_ == R_NilValue || jumped_) return;
    ++done_;
    try {
      Rcpp::Function report(progress_);
      report(done_);
    } catch (const Rcpp::LongjumpException& jump) {
      Hold(jump);
      throw tarvok::Cancelled();
    }
  }
  void Hold(const Rcpp::LongjumpException& jump) {
    jumped_ = true;
    pendingToken_ = jump.token;  // kept preserved by Rcpp until resumed
  }

  SEXP progress_;
  int done_ = 0;
  bool jumped_ = false;
  SEXP pendingToken_ = R_NilValue;
};

Rcpp::List ClusterList(const tarvok::ClusterRecord& record, const tarvok::Analysis& analysis) {
  int n = record.size, samples = analysis.Samples();
  Rcpp::IntegerVector genes(n);
  Rcpp::NumericMatrix centred(n, samples);
  for (int j = 0; j < n; ++j) {
    genes[j] = record.genes[j] + 1;
    const double* row = analysis.CentredRow(record.genes[j]);
    for (int s = 0; s < samples; ++s) centred(j, s) = row[s];
  }
  using Rcpp::_;
  Rcpp::DataFrame curve = Rcpp::DataFrame::create(
      _["size"] = Rcpp::wrap(record.sizes), _["gap"] = Rcpp::wrap(record.gap),
      _["r2"] = Rcpp::wrap(record.r2), _["permutedR2"] = Rcpp::wrap(record.meanPermutedR2),
      _["between"] = Rcpp::wrap(record.between), _["total"] = Rcpp::wrap(record.total),
      _["within"] = Rcpp::wrap(record.within));
  return Rcpp::List::create(_["step"] = record.chosenStep + 1, _["genes"] = genes,
                            _["scores"] = Rcpp::wrap(record.scores),
                            _["eigenvalue"] = record.eigenvalue,
                            _["component"] = Rcpp::wrap(record.component), _["curve"] = curve,
                            _["centred"] = centred);
}

namespace exports = tarvok::exports;

// rows ([row][sample]) as an R matrix, and back.
Rcpp::NumericMatrix RowMatrix(const std::vector<std::vector<double>>& rows, int samples) {
  Rcpp::NumericMatrix m(static_cast<int>(rows.size()), samples);
  for (size_t j = 0; j < rows.size(); ++j) {
    for (int s = 0; s < samples; ++s) m(j, s) = rows[j][s];
  }
  return m;
}

std::vector<std::vector<double>> MatrixRows(const Rcpp::NumericMatrix& m) {
  std::vector<std::vector<double>> rows(m.nrow(), std::vector<double>(m.ncol()));
  for (int j = 0; j < m.nrow(); ++j) {
    for (int s = 0; s < m.ncol(); ++s) rows[j][s] = m(j, s);
  }
  return rows;
}

Rcpp::List RecordList(const exports::ExportRecord& r) {
  using Rcpp::_;
  const int samples = static_cast<int>(r.samples.size());
  Rcpp::List clusters(r.clusters.size());
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const exports::ClusterExport& c = r.clusters[i];
    Rcpp::IntegerVector tableRows(c.tableRows.size());  // from 1, as R counts
    for (size_t j = 0; j < c.tableRows.size(); ++j) tableRows[j] = static_cast<int>(c.tableRows[j]) + 1;
    clusters[i] = Rcpp::List::create(_["genes"] = Rcpp::wrap(c.genes), _["scores"] = Rcpp::wrap(c.scores),
                                     _["rows"] = RowMatrix(c.rows, samples), _["eigenvalue"] = c.eigenvalue,
                                     _["r2"] = c.r2, _["gap"] = c.gap, _["component"] = Rcpp::wrap(c.component),
                                     _["tableRows"] = tableRows);
  }
  return Rcpp::List::create(_["samples"] = Rcpp::wrap(r.samples), _["classes"] = Rcpp::wrap(r.classes),
                            _["genes"] = Rcpp::wrap(r.genes), _["values"] = RowMatrix(r.values, samples),
                            _["clusters"] = clusters, _["symbols"] = Rcpp::wrap(r.symbols));
}

exports::ExportRecord ListRecord(const Rcpp::List& list) {
  exports::ExportRecord r;
  r.samples = Rcpp::as<std::vector<std::string>>(list["samples"]);
  r.classes = Rcpp::as<std::vector<std::string>>(list["classes"]);
  r.genes = Rcpp::as<std::vector<std::string>>(list["genes"]);
  r.values = MatrixRows(Rcpp::NumericMatrix(list["values"]));
  if (!list.containsElementNamed("symbols")) Rcpp::stop("the export record is of an earlier version; run shave() again");
  r.symbols = Rcpp::as<std::vector<std::string>>(list["symbols"]);
  const Rcpp::List clusters(list["clusters"]);
  for (R_xlen_t i = 0; i < clusters.size(); ++i) {
    const Rcpp::List c(clusters[i]);
    exports::ClusterExport e;
    e.genes = Rcpp::as<std::vector<std::string>>(c["genes"]);
    e.scores = Rcpp::as<std::vector<double>>(c["scores"]);
    e.rows = MatrixRows(Rcpp::NumericMatrix(c["rows"]));
    e.eigenvalue = Rcpp::as<double>(c["eigenvalue"]);
    e.r2 = Rcpp::as<double>(c["r2"]);
    e.gap = Rcpp::as<double>(c["gap"]);
    e.component = Rcpp::as<std::vector<double>>(c["component"]);
    for (int row : Rcpp::as<std::vector<int>>(c["tableRows"])) e.tableRows.push_back(static_cast<size_t>(row - 1));
    r.clusters.push_back(std::move(e));
  }
  return r;
}

// Runs a writer; its failure (a file that cannot be written, a record the
// writers refuse) becomes an R error with the writer's message.
template <typename Write>
void Exporting(Write write) {
  std::string failure;
  try {
    write();
    return;
  } catch (const std::exception& error) {
    failure = error.what();
  }
  Rcpp::stop(failure);
}

// The name of row or column `index` (from 1) of x, or the number.
std::string DimName(const Rcpp::NumericMatrix& x, int which, long long index) {
  SEXP names = Rf_getAttrib(x, R_DimNamesSymbol);
  if (names != R_NilValue && VECTOR_ELT(names, which) != R_NilValue)
    return Rcpp::as<std::string>(STRING_ELT(VECTOR_ELT(names, which), index - 1));
  return std::to_string(index);
}

std::string WithoutLineEnd(std::string message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

}  // namespace

// Runs the analysis on x (genes x samples, as R stores it). options holds
// what .parameters returns: clusters, shave, permutations, tolerance and
// supervision in the core's units (percent), threads, the solver (0 exact,
// 1 fast) and the seed; classes holds one integer label per sample (or
// none); progress is NULL or an R function called with the count of shaved
// data sets (the real data and each permuted copy) so far. labels, when not
// NULL, is list(genes, samples, classes) of character vectors (classes may
// be empty), optionally followed by the genes' symbols, and asks for the
// export record, returned as "exports". Each cluster is oriented
// (tarvok::Oriented): more of its genes score positive than negative.
// [[Rcpp::export(name = ".shaveCore", rng = false)]]
Rcpp::List ShaveCore(Rcpp::NumericMatrix x, Rcpp::NumericVector options, Rcpp::IntegerVector classes,
                     SEXP progress, SEXP labels = R_NilValue) {
  const int rows = x.nrow(), columns = x.ncol();
  // The core reads gene g in sample s at g * columns + s.
  std::vector<double> data(static_cast<std::size_t>(rows) * columns);
  for (int g = 0; g < rows; ++g) {
    for (int s = 0; s < columns; ++s) data[static_cast<std::size_t>(g) * columns + s] = x(g, s);
  }
  // Values the analysis cannot hold are named by gene and sample here,
  // before any work starts.
  tarvok::DataCheck check = tarvok::CheckData(data.data(), rows, columns);
  if (!check.message.empty()) {
    Rcpp::stop("x holds a value the analysis cannot take at gene \"%s\", sample \"%s\" (%s); "
               "rescale the data, e.g. log-transform it",
               DimName(x, 0, check.gene), DimName(x, 1, check.sample), check.message);
  }
  if (options.size() != 8) Rcpp::stop("options must hold 8 numbers; got %d", static_cast<int>(options.size()));
  tarvok::AnalysisOptions settings;
  settings.clusters = static_cast<int>(options[0]);
  settings.shavePercent = static_cast<int>(options[1]);
  settings.permutations = static_cast<int>(options[2]);
  settings.tolerancePercent = static_cast<int>(options[3]);
  settings.supervisionPercent = static_cast<int>(options[4]);
  settings.threads = static_cast<int>(options[5]);
  if (options[6] != 0 && options[6] != 1) Rcpp::stop("the solver must be 0 (exact) or 1 (fast); got %g", options[6]);
  settings.solver = options[6] == 1 ? tarvok::Solver::Fast : tarvok::Solver::Exact;
  settings.classes.assign(classes.begin(), classes.end());
  // The seed is the generator's state at the start, as the command-line
  // program's --seed: the default is the state of a fresh process.
  settings.generatorState = static_cast<std::int64_t>(options[7]);

  RObserver observer(progress);
  std::string failure;
  bool cancelled = false;
  try {
    for (int i = 0; i < 8; ++i) {
      if (options[i] != std::floor(options[i])) throw tarvok::Error("options must be whole numbers");
    }
    tarvok::Analysis analysis(data.data(), rows, columns, settings);
    tarvok::AnalysisResult result = analysis.Run(&observer);
    Rcpp::List clusters(result.ClustersDone());
    for (int i = 0; i < result.ClustersDone(); ++i) {
      clusters[i] = ClusterList(tarvok::Oriented(result.clusters[i]), analysis);
    }
    Rcpp::List out = Rcpp::List::create(Rcpp::_["clusters"] = clusters,
                                        Rcpp::_["stopReason"] = tarvok::StopReasonName(result.stopReason));
    if (labels != R_NilValue) {
      const Rcpp::List names(labels);
      exports::RecordNames recordNames;
      recordNames.genes = Rcpp::as<std::vector<std::string>>(names[0]);
      recordNames.samples = Rcpp::as<std::vector<std::string>>(names[1]);
      recordNames.classes = Rcpp::as<std::vector<std::string>>(names[2]);
      if (names.size() > 3) recordNames.symbols = Rcpp::as<std::vector<std::string>>(names[3]);
      out["exports"] = RecordList(exports::RecordOfAnalysis(analysis, result, recordNames));
    }
    return out;
  } catch (const tarvok::Cancelled&) {
    cancelled = true;
  } catch (const tarvok::Error& error) {
    failure = WithoutLineEnd(error.what());
  } catch (const std::bad_alloc&) {
    failure = "not enough memory for this analysis; use fewer genes or samples";
  }
  // An interrupt or error in R code stopped the run: let it go on as it began.
  if (observer.Jumped()) observer.ResumeJump();
  if (cancelled) throw Rcpp::internal::InterruptedException();
  // Raised outside the handlers, after every object of the core is gone.
  Rcpp::stop(failure);
}

// Writes the export file of format ("gmt", "kgg", "cdt", "gct" or "symbol-gmt") of the
// record (the list ShaveCore returned) to path, atomically.
// [[Rcpp::export(name = ".writeExport", rng = false)]]
void WriteExport(Rcpp::List record, std::string format, std::string path) {
  Exporting([&] { exports::WriteExport(ListRecord(record), format, path); });
}

// Writes every export file of the record into dir (which must exist).
// [[Rcpp::export(name = ".writeExports", rng = false)]]
Rcpp::CharacterVector WriteExports(Rcpp::List record, std::string dir) {
  const exports::ExportRecord r = ListRecord(record);
  Exporting([&] { exports::WriteExports(r, dir); });
  return Rcpp::wrap(exports::ExportFileNames(r));
}

namespace {

// A whole number as R passed it: larger than any range, when it is not
// one, so that the range's message names it.
long long WholeOf(double value, bool* whole) {
  *whole = std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 9e15;
  return *whole ? static_cast<long long>(value) : 0;
}

std::string Shown(double value) {
  std::ostringstream text;
  text.precision(15);
  text << value;
  return text.str();
}

void CheckWhole(tarvok::Parameter parameter, double value, const std::string& name) {
  bool whole = false;
  const long long n = WholeOf(value, &whole);
  if (!whole) {
    throw tarvok::Error(name + " must be a whole number " + tarvok::AllowedText(parameter) + "; got " + Shown(value));
  }
  tarvok::CheckParameter(parameter, n, name, false, Shown(value));
}

}  // namespace

// The parameters as the user gave them (fractions for shave, tolerance and
// supervise), checked against the core's ranges: the options .shaveCore
// takes, in the core's units, without the solver. An error carries the
// core's text, with the allowed range.
// [[Rcpp::export(name = ".parameters", rng = false)]]
Rcpp::NumericVector Parameters(double clusters, double shave, double permutations, double tolerance,
                               double supervise, double threads, double seed) {
  using tarvok::Parameter;
  std::string failure;
  try {
    CheckWhole(Parameter::Clusters, clusters, "clusters");
    const int shavePercent = tarvok::PercentOfFraction(Parameter::Shave, shave, "shave");
    CheckWhole(Parameter::Permutations, permutations, "permutations");
    const int tolerancePercent = tarvok::PercentOfFraction(Parameter::Tolerance, tolerance, "tolerance");
    const int supervisePercent = tarvok::PercentOfFraction(Parameter::Supervise, supervise, "supervise");
    CheckWhole(Parameter::Threads, threads, "threads");
    CheckWhole(Parameter::Seed, seed, "seed");
    return Rcpp::NumericVector::create(clusters, shavePercent, permutations, tolerancePercent, supervisePercent,
                                       threads, seed);
  } catch (const tarvok::Error& error) {
    failure = error.what();
  }
  Rcpp::stop(failure);
}

namespace {

// The genes x samples values of x, row-major as the core takes them.
std::vector<double> RowMajor(const Rcpp::NumericMatrix& x) {
  const int rows = x.nrow(), columns = x.ncol();
  std::vector<double> data(static_cast<std::size_t>(rows) * columns);
  for (int g = 0; g < rows; ++g) {
    for (int s = 0; s < columns; ++s) data[static_cast<std::size_t>(g) * columns + s] = x(g, s);
  }
  return data;
}

}  // namespace

// The core's log2 rule on x (genes x samples, NA and NaN missing) under the
// choice named ("auto", "yes", "no"): list(values, applied, reason,
// nonPositive), values with log2 taken and values <= 0 made NaN when the
// rule says so, else x's own.
// [[Rcpp::export(name = ".log2Transform", rng = false)]]
Rcpp::List Log2Transform(Rcpp::NumericMatrix x, std::string choiceName) {
  tarvok::LogChoice choice;
  if (!tarvok::ParseLogChoice(choiceName, &choice)) {
    Rcpp::stop("log2 must be one of " + tarvok::LogChoiceWords() + "; got " + choiceName);
  }
  std::vector<double> data = RowMajor(x);
  const tarvok::LogOutcome outcome = tarvok::TransformLog2(data, choice, "");
  Rcpp::NumericMatrix values = x;
  if (outcome.decision.apply) {
    values = Rcpp::NumericMatrix(x.nrow(), x.ncol());
    for (int g = 0; g < x.nrow(); ++g) {
      for (int s = 0; s < x.ncol(); ++s) values(g, s) = data[static_cast<std::size_t>(g) * x.ncol() + s];
    }
    values.attr("dimnames") = x.attr("dimnames");
  }
  return Rcpp::List::create(Rcpp::_["values"] = values, Rcpp::_["applied"] = outcome.decision.apply,
                            Rcpp::_["reason"] = outcome.decision.reason,
                            Rcpp::_["nonPositive"] = static_cast<double>(outcome.nonPositive));
}

// values (genes x samples, NA and NaN missing) under the missing-value
// policy named: list(values, genes, samples) with the kept genes' and
// samples' positions (from 1), or list(refused) when the policy refuses a
// value: the core's message, its gene and sample (from 1) and whether it is
// infinite, for the R side to name them.
// [[Rcpp::export(name = ".applyMissing", rng = false)]]
Rcpp::List ApplyMissing(Rcpp::NumericMatrix x, std::string policyName) {
  tarvok::MissingPolicy policy;
  if (!tarvok::ParseMissingPolicy(policyName, &policy)) {
    Rcpp::stop("missing must be one of " + tarvok::MissingPolicyWords() + "; got " + policyName);
  }
  const int rows = x.nrow(), columns = x.ncol();
  std::vector<double> data = RowMajor(x);
  try {
    const tarvok::MissingOutcome outcome = tarvok::ApplyMissingPolicy(data, rows, columns, policy);
    const int keptRows = static_cast<int>(outcome.keptGenes.size());
    const int keptColumns = static_cast<int>(outcome.keptSamples.size());
    Rcpp::NumericMatrix values(keptRows, keptColumns);
    for (int g = 0; g < keptRows; ++g) {
      for (int s = 0; s < keptColumns; ++s) values(g, s) = data[static_cast<std::size_t>(g) * keptColumns + s];
    }
    Rcpp::IntegerVector genes(outcome.keptGenes.begin(), outcome.keptGenes.end());
    Rcpp::IntegerVector samples(outcome.keptSamples.begin(), outcome.keptSamples.end());
    return Rcpp::List::create(Rcpp::_["values"] = values, Rcpp::_["genes"] = genes + 1,
                              Rcpp::_["samples"] = samples + 1);
  } catch (const tarvok::MissingValueError& error) {
    return Rcpp::List::create(Rcpp::_["refused"] = Rcpp::List::create(
                                  Rcpp::_["message"] = std::string(error.what()),
                                  Rcpp::_["gene"] = static_cast<double>(error.gene + 1),
                                  Rcpp::_["sample"] = static_cast<double>(error.sample + 1),
                                  Rcpp::_["infinite"] = error.infinite));
  }
}

// The version of the engine this package was built from.
// [[Rcpp::export(name = ".engineVersion", rng = false)]]
std::string EngineVersion() { return TARVOK_TEXT_OF(TARVOK_PACKAGE_VERSION); }
