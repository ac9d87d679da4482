#include "core/Analysis.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "base/Format.h"
#include "core/Rules.h"
#include "numeric/Arrays.h"
#include "shaving/Extraction.h"
#include "shaving/Random.h"
#include "shaving/ShaveSequence.h"
#include "shaving/Supervision.h"

namespace tarvok {

namespace {

// Once what the earlier clusters left holds less than this share of the
// centred data's sum of squares (a norm below 1e-10 of the data's), it is
// rounding noise: orthogonalisation leaves about N * 2^-52 of each value
// per pass, many orders below this, and no real structure is this small.
// Further passes would report that noise as clusters, or fail on it.
constexpr double kExhaustedShare = 1e-20;

// Data whose largest magnitude lies beyond 2^100 or below 2^-100 is
// analysed at a power-of-two scale that brings it near 1: the squares and
// cross-products would otherwise overflow or underflow. Power-of-two scaling
// is exact, and every routine commutes with it, so the results scaled back
// are those of the data itself; data within these bounds is not touched.
constexpr int kScaleBound = 100;

[[noreturn]] void Reject(const char* name, long long value, const char* allowed) {
  throw Error(FormatMessage("%s is %lld; allowed: %s\n", name, value, allowed));
}

void CheckRange(const char* name, long long value, long long lo, long long hi, const char* allowed) {
  if (value < lo || value > hi) Reject(name, value, allowed);
}

// A parameter whose range is the faces' shared rule.
void CheckRule(const char* name, long long value, Parameter parameter) {
  const ParameterRange& range = RangeOf(parameter);
  CheckRange(name, value, range.low, range.high, RangeText(parameter).c_str());
}

// Returns the data's largest magnitude.
double CheckOptions(const double* data, int genes, int samples, const AnalysisOptions& options) {
  const long long maxInt = 0x7fffffff;
  CheckRange("clusters", options.clusters, 0, maxInt, "0 or more");
  CheckRule("shave percent", options.shavePercent, Parameter::Shave);
  CheckRange("permutations", options.permutations, 1, maxInt, "1 or more");
  CheckRule("tolerance percent", options.tolerancePercent, Parameter::Tolerance);
  CheckRule("supervision percent", options.supervisionPercent, Parameter::Supervise);
  CheckRule("threads", options.threads, Parameter::Threads);
  CheckRange("genes", genes, 2, maxInt, "2 or more");
  CheckRange("samples", samples, 2, maxInt, "2 or more");
  CheckRange("generator state", options.generatorState, -1, 0xffffffffLL, "-1 or 0..4294967295");
  if (options.supervisionPercent != 0 && static_cast<long long>(options.classes.size()) != samples) {
    throw Error(FormatMessage("classes has %lld entries; a supervised analysis needs one per sample (%d)\n",
                              static_cast<long long>(options.classes.size()), samples));
  }
  if (options.distribution != nullptr) {
    CheckRange("ranks", options.distribution->Ranks(), 1, maxInt, "1 or more");
    CheckRange("rank", options.distribution->Rank(), 0, options.distribution->Ranks() - 1, "0..ranks-1");
  }
  if (data == nullptr) throw Error("data is a null pointer\n");
  DataCheck check = CheckData(data, genes, samples);
  if (!check.message.empty()) throw Error(check.message + "\n");
  return check.largest;
}

// The power of two that brings the largest magnitude near 1, or 0 when it
// lies within the bounds (or all values are zero).
int ScaleExponent(double largest) {
  if (largest == 0.0) return 0;
  int exponent = std::ilogb(largest);
  if (exponent > kScaleBound || exponent < -kScaleBound) return -exponent;
  return 0;
}

double SumOfSquares(const Matrix& m) {
  double sum = 0.0;
  for (int g = 0; g < m.Rows(); ++g) {
    const double* row = &m[g][0];
    for (int s = 0; s < m.Cols(); ++s) sum += row[s] * row[s];
  }
  return sum;
}

// Brings a pass's figures from the analysis scale back to the data's.
void ScaleBack(ClusterRecord& record, int exponent) {
  if (exponent == 0) return;
  record.eigenvalue = std::ldexp(record.eigenvalue, -2 * exponent);
  for (double& score : record.scores) score = std::ldexp(score, -exponent);
  for (auto* figures : {&record.between, &record.total, &record.within}) {
    for (double& value : *figures) value = std::ldexp(value, -2 * exponent);
  }
}

// Turns one pass's events into the observer's.
class PassAdapter : public PassEvents {
 public:
  PassAdapter(AnalysisObserver& observer, int cluster, int clusters, int exponent)
      : observer_(observer), cluster_(cluster), clusters_(clusters), exponent_(exponent) {}
  void ShavingData() override { observer_.ShavingData(cluster_); }
  void DataShaved() override { observer_.DataShaved(cluster_, clusters_); }
  void CopyShaved(int copy, int copies) override { observer_.CopyShaved(copy, copies); }
  void SizeChosen(const ClusterRecord& record) override {
    record_ = record;
    ScaleBack(record_, exponent_);
    observer_.SizeChosen(cluster_, record_);
  }
  void Orthogonalizing() override { observer_.Orthogonalizing(cluster_); }
  bool CancelRequested() override { return observer_.CancelRequested(); }
  ClusterRecord TakeRecord() { return std::move(record_); }

 private:
  AnalysisObserver& observer_;
  int cluster_, clusters_, exponent_;
  ClusterRecord record_;
};

}  // namespace

struct AnalysisState {
  int genes = 0, samples = 0;
  AnalysisOptions options;
  SupervisionTransform supervision;
  Matrix working;    // centred at the analysis scale; orthogonalised pass by pass
  Matrix reference;  // centred at the data's own scale; never changed
  int exponent = 0;  // working = 2^exponent x the centred data
  double referenceSquares = 0.0;  // sum of squares of working before any pass
  bool ran = false;
};

Analysis::Analysis(const double* data, int genes, int samples, const AnalysisOptions& options)
    : state_(std::make_unique<AnalysisState>()) {
  const double largest = CheckOptions(data, genes, samples, options);
  AnalysisState& state = *state_;
  state.genes = genes;
  state.samples = samples;
  state.options = options;
  state.supervision = BuildSupervisionTransform(options.supervisionPercent, options.classes, samples);

  state.exponent = ScaleExponent(largest);
  state.working = Matrix(genes, samples);
  for (int g = 0; g < genes; ++g) {
    for (int s = 0; s < samples; ++s) {
      double value = data[static_cast<long long>(g) * samples + s];
      state.working[g][s] = state.exponent == 0 ? value : std::ldexp(value, state.exponent);
    }
  }
  CenterRows(state.working, genes, samples);
  state.reference = Matrix(genes, samples);
  for (int g = 0; g < genes; ++g) {
    for (int s = 0; s < samples; ++s) {
      double value = state.working[g][s];
      state.reference[g][s] = state.exponent == 0 ? value : std::ldexp(value, -state.exponent);
    }
  }
  state.referenceSquares = SumOfSquares(state.working);
}

Analysis::~Analysis() = default;

int Analysis::Genes() const { return state_->genes; }

int Analysis::Samples() const { return state_->samples; }

int Analysis::Clusters() const { return state_->options.clusters; }

const double* Analysis::CentredRow(int g) const { return &state_->reference[g][0]; }

AnalysisResult Analysis::Run(AnalysisObserver* observer) {
  AnalysisState& state = *state_;
  if (state.ran) throw Error("an analysis runs once\n");
  state.ran = true;
  AnalysisObserver silent;
  AnalysisObserver& events = observer != nullptr ? *observer : silent;
  const AnalysisOptions& options = state.options;
  const int K = options.clusters;

  AnalysisResult result;
  result.genes = state.genes;
  result.samples = state.samples;
  OwnedShaveSequence sequence(NewShaveSequence(state.genes, state.samples, options.shavePercent * 0.01));

  std::uint32_t ownGenerator = static_cast<std::uint32_t>(options.generatorState);
  GapOptions gap;
  gap.permutations = options.permutations;
  gap.tolerance = options.tolerancePercent;
  gap.threads = options.threads;
  gap.generator = options.generatorState < 0 ? &RandomStateOfThisThread() : &ownGenerator;
  gap.distribution = options.distribution;
  GapWorkspace workspace;
  gap.workspace = &workspace;
  const ShavingInput input{state.working, state.genes, state.samples, &state.supervision, options.solver};

  for (int i = 1; i <= K; ++i) {
    if (events.CancelRequested()) throw Cancelled();
    if (SumOfSquares(state.working) <= kExhaustedShare * state.referenceSquares) {
      result.stopReason = StopReason::VarianceExhausted;
      break;
    }
    events.PassStarted(i);
    PassAdapter pass(events, i, K, state.exponent);
    ExtractCluster(sequence.get(), input, gap, pass);
    result.clusters.push_back(pass.TakeRecord());
    const ClusterRecord& record = result.clusters.back();
    events.ClusterDone(i, record);
    // Step 0 is the whole remaining gene set: nothing smaller stands out in
    // what the earlier clusters left, so further passes would find nothing.
    if (i < K && record.chosenStep == 0) {
      result.stopReason = StopReason::NoClustersLeft;
      break;
    }
  }
  return result;
}

AnalysisResult Analyze(const double* data, int genes, int samples, const AnalysisOptions& options,
                       AnalysisObserver* observer) {
  return Analysis(data, genes, samples, options).Run(observer);
}

}  // namespace tarvok
