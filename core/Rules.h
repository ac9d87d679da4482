// The rules every face of the engine shares: the range of each analysis
// parameter, the missing-value policy, the spelling of the stop reasons.
// The command-line program, the Python and R packages and the MPI runner
// call these and turn a failure into their own error; none keeps a copy.
//
// The C face keeps the argument checks and messages of its own contract
// (engine/), which are wider: it takes what any caller of the library may
// pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "core/Analysis.h"

namespace tarvok {

// The parameters a user sets, by the name every face documents.
enum class Parameter { Clusters, Shave, Permutations, Tolerance, Supervise, Threads, Seed };

struct ParameterRange {
  const char* name;  // "clusters", "shave", "permutations", "tolerance", "supervise", "threads", "seed"
  long long low, high;
  bool percent;  // a whole percent: the CLI takes it as such, the packages as a fraction (percent / 100)
};

const ParameterRange& RangeOf(Parameter parameter);

// "from 1 to 97 percent", "from 1 to 100000"; asFraction gives a percent
// parameter's range as the packages take it: "a fraction from 0.01 to 0.97
// (in steps of 0.01)".
std::string AllowedText(Parameter parameter, bool asFraction = false);

// "1..97": the range as the C face and the core's own checks write it.
std::string RangeText(Parameter parameter);

// Throws Error "NAME must be ALLOWED; got VALUE" (no trailing newline) when
// value lies outside the range. name is the face's own spelling of the
// parameter ("--shave", "n_clusters"); valueText, when not empty, is how the
// user wrote the value (a fraction, say), else value itself is shown.
void CheckParameter(Parameter parameter, long long value, const std::string& name, bool asFraction = false,
                    const std::string& valueText = "");

// A percent parameter given as a fraction (0.10 for 10 percent): the whole
// percent, or Error as CheckParameter says when the fraction is not a whole
// percent within the range (or not finite).
int PercentOfFraction(Parameter parameter, double fraction, const std::string& name);

// The generator state of a seed: every face starts the same state for the
// same seed, and without one the fixed start of a fresh process (1).
inline constexpr std::int64_t kDefaultSeed = 1;

// --- Missing values ---------------------------------------------------

// What a run does with a missing value (NaN in a matrix; an empty cell or
// one of the missing words in a table):
//   Error   refuse the data, naming the first missing value;
//   Drop    leave out every gene with a missing value;
//   RowMean fill each missing value with its gene's mean over the values it
//           has (summed from 0.0 in sample order), leaving out genes with none.
// Under Drop and RowMean, a sample missing in every gene is left out first
// (it would take every gene with it). Infinite values are never missing:
// they are refused under every policy.
enum class MissingPolicy { Error, Drop, RowMean };

const char* MissingPolicyName(MissingPolicy policy);  // "error", "drop", "row-mean"
// The policy named word (as MissingPolicyName spells it); false for another word.
bool ParseMissingPolicy(std::string_view word, MissingPolicy* policy);
// "error, drop, row-mean": the words, for messages and help.
std::string MissingPolicyWords();

// A table cell that stands for a missing value: empty or blank, or NA, NaN,
// N/A or null in any case, with blanks around it.
bool IsMissingWord(std::string_view cell);

// A gene symbol as every face presents it: trimmed of blanks, "" for a
// missing word (IsMissingWord), control characters as blanks, so that it
// stays one line and one field.
std::string CleanSymbol(std::string_view symbol);

// The first value a policy refuses, counted from 0 in the matrix it was given.
class MissingValueError : public Error {
 public:
  MissingValueError(const std::string& message, long long atGene, long long atSample, bool isInfinite)
      : Error(message), gene(atGene), sample(atSample), infinite(isInfinite) {}
  long long gene, sample;
  bool infinite;  // an infinite value, not a missing one
};

struct MissingOutcome {
  std::vector<int> keptGenes;    // row of the given matrix of each gene kept, in order
  std::vector<int> keptSamples;  // column of each sample kept, in order
  long long missingCells = 0;    // missing values found
  long long imputedCells = 0;    // of them, filled by RowMean
  int genesFilled = 0;           // genes RowMean filled
  int droppedForMissing = 0;     // genes Drop left out
  int droppedEmpty = 0;          // genes without any value (RowMean)
};

// Applies policy to the genes x samples matrix values (row-major, NaN for a
// missing value), which becomes the kept genes x kept samples. Throws
// MissingValueError ("value of gene G, sample S is missing" / "... is not a
// finite number", counted from 1) for a missing value under Error and an
// infinite value under any policy.
MissingOutcome ApplyMissingPolicy(std::vector<double>& values, int genes, int samples, MissingPolicy policy);

// --- Representable values -------------------------------------------

// The largest magnitude analysed: beyond it the variances themselves (sums
// of squares over up to 10^28 values) could not be held in a double.
inline constexpr double kLargestMagnitude = 1e140;

// What is wrong with a genes x samples table of values, for faces that check
// before they call: the first value that is not a finite number, else the
// largest magnitude when it lies beyond kLargestMagnitude; an empty message
// when the data is fine. gene and sample count from 1.
struct DataCheck {
  std::string message;
  long long gene = 0, sample = 0;
  double largest = 0.0;  // the largest magnitude (when every value is finite)
  bool finite = true;    // false: the value named is not a finite number
};
DataCheck CheckData(const double* data, int genes, int samples);

// --- Log scale ----------------------------------------------------------

// Whether a run takes log2 of its values: Auto decides by LogDecision's
// rule, Yes and No decide themselves.
enum class LogChoice { Auto, Yes, No };

const char* LogChoiceName(LogChoice choice);  // "auto", "yes", "no"
// The choice named word (as LogChoiceName spells it); false for another word.
bool ParseLogChoice(std::string_view word, LogChoice* choice);
// "auto, yes, no": the words, for messages and help.
std::string LogChoiceWords();

struct LogDecision {
  bool apply = false;
  std::string reason;  // one clause for the user: "the file's value type is \"count\"", ...
};

// Decides whether to take log2 of values (a matrix, NaN for a missing value).
// Under Auto, valueType (a GEO DataSet's !dataset_value_type, "" when the
// data carry none) decides when known: "count" means log; a type that names
// a log ("log ratio", "log2 ratio", "log10 ratio", ...) or "transformed
// count" means as is. Otherwise the quantiles of the values that are not
// missing decide (QuantilesOf, Quantiles.h): log when the 99th percentile is above 100,
// or when the range (maximum - minimum) is above 50 and the 25th percentile
// is above 0. No values at all means as is.
LogDecision DecideLog2(const std::vector<double>& values, LogChoice choice, std::string_view valueType);

struct LogOutcome {
  LogDecision decision;
  long long nonPositive = 0;  // values <= 0 made missing
};

// DecideLog2, then, when it says so, every value v > 0 becomes log2(v) and
// every finite value <= 0 becomes NaN, a missing value for ApplyMissingPolicy
// to handle next. NaN stays NaN; infinite values stay so (the policy refuses them).
LogOutcome TransformLog2(std::vector<double>& values, LogChoice choice, std::string_view valueType);

// The decision in one line: "log2: yes, because ..." / "log2: no, because ...".
std::string LogDecisionText(const LogDecision& decision);

// --- Outcomes ---------------------------------------------------------

// The one spelling of a stop reason: "completed", "no_clusters_left",
// "variance_exhausted".
const char* StopReasonName(StopReason reason);

}  // namespace tarvok
