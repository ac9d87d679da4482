#include "core/Quantiles.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvok {

namespace {

constexpr std::size_t kSample = 1 << 14;  // values sampled to bracket the quantiles

// floor((n - 1) q), the rank (from 0) of the lower value a quantile needs.
std::size_t LowerRank(std::size_t n, double q) {
  return static_cast<std::size_t>(std::floor(static_cast<double>(n - 1) * q));
}

double Interpolated(std::size_t n, double q, double low, double next) {
  const double h = static_cast<double>(n - 1) * q;
  return low + (h - std::floor(h)) * (next - low);
}

// The values between two bounds of the sample, and how many lie below.
struct Bracket {
  double below = -std::numeric_limits<double>::infinity(), above = std::numeric_limits<double>::infinity();
  std::size_t under = 0;  // values < below
  std::vector<double> inside;  // values in [below, above]
};

// Counts the values below b's bracket and keeps those inside (a NaN is
// neither). The count is kept without a branch, which random data would
// mispredict; few values are inside, so that branch is foreseen.
void Gather(const std::vector<double>& values, Bracket& b) {
  const double below = b.below, above = b.above;
  std::size_t under = 0;
  for (double v : values) {
    under += v < below ? 1 : 0;
    if (v >= below && v <= above) b.inside.push_back(v);
  }
  b.under = under;
}

// The quantile q of n values from the values in its bracket, or NaN when
// the two ranks it needs are not both inside.
double FromBracket(Bracket& b, std::size_t n, double q) {
  const std::size_t rank = LowerRank(n, q), needed = rank + 1 < n ? 2 : 1;
  if (b.under > rank || b.under + b.inside.size() < rank + needed) return std::nan("");
  const auto at = b.inside.begin() + static_cast<std::ptrdiff_t>(rank - b.under);
  std::nth_element(b.inside.begin(), at, b.inside.end());
  if (needed == 1) return *at;
  return Interpolated(n, q, *at, *std::min_element(at + 1, b.inside.end()));
}

}  // namespace

double Quantile(std::vector<double>& x, double q) {
  if (x.empty()) return std::nan("");
  const auto at = x.begin() + static_cast<std::ptrdiff_t>(LowerRank(x.size(), q));
  std::nth_element(x.begin(), at, x.end());
  if (at + 1 == x.end()) return *at;
  return Interpolated(x.size(), q, *at, *std::min_element(at + 1, x.end()));
}

ValueQuantiles QuantilesOf(const std::vector<double>& values, const std::vector<double>& qs) {
  ValueQuantiles out;
  // Every step-th value that is not missing, sorted: each quantile's place
  // in it, widened by several standard deviations of a sample's rank,
  // gives its bracket.
  const std::size_t step = std::max<std::size_t>(1, values.size() / kSample);
  std::vector<double> sample;
  sample.reserve(values.size() / step + 1);
  std::size_t n = 0, skip = 0;  // skip: values to pass before the next sampled one
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  for (double v : values) {
    if (std::isnan(v)) continue;
    ++n;
    lowest = v < lowest ? v : lowest;
    highest = v > highest ? v : highest;
    if (skip == 0) {
      sample.push_back(v);
      skip = step;
    }
    --skip;
  }
  out.count = n;
  if (n == 0) {
    out.lowest = out.highest = std::nan("");
    out.quantiles.assign(qs.size(), std::nan(""));
    return out;
  }
  out.lowest = lowest;
  out.highest = highest;
  std::sort(sample.begin(), sample.end());
  const double m = static_cast<double>(sample.size());
  std::vector<Bracket> brackets(qs.size());
  for (std::size_t i = 0; i < qs.size(); ++i) {
    const double spread = 6.0 * std::sqrt(m * qs[i] * (1.0 - qs[i])) + 16.0;
    const double centre = qs[i] * (m - 1.0);
    if (centre - spread >= 0.0) brackets[i].below = sample[static_cast<std::size_t>(centre - spread)];
    if (centre + spread < m - 1.0) brackets[i].above = sample[static_cast<std::size_t>(centre + spread) + 1];
  }
  for (Bracket& b : brackets) Gather(values, b);
  std::vector<double> all;  // every value, only when a bracket missed
  for (std::size_t i = 0; i < qs.size(); ++i) {
    double q = FromBracket(brackets[i], n, qs[i]);
    if (std::isnan(q)) {
      if (all.empty()) {
        all.reserve(n);
        for (double v : values) {
          if (!std::isnan(v)) all.push_back(v);
        }
      }
      q = Quantile(all, qs[i]);
    }
    out.quantiles.push_back(q);
  }
  return out;
}

}  // namespace tarvok
