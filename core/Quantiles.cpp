#include "core/Quantiles.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <cmath>
#include <limits>

#include "shaving/ParallelFor.h"

namespace tarvok {

namespace {

constexpr std::size_t kSample = 1 << 14;  // values sampled to bracket the quantiles
constexpr std::size_t kValuesForTwoParts = std::size_t{1} << 18;

// floor((n - 1) q), the rank (from 0) of the lower value a quantile needs.
std::size_t LowerRank(std::size_t n, double q) {
  return static_cast<std::size_t>(std::floor(static_cast<double>(n - 1) * q));
}

// The quantile q of n values from x, which holds the values of ranks
// offset, offset + 1, ... (at least up to the two the quantile needs) in
// any order: selects the lower one and, unless it is the largest of all,
// takes the least of those above it as the next.
double Selected(std::vector<double>& x, std::size_t offset, std::size_t n, double q) {
  const std::size_t rank = LowerRank(n, q);
  const auto at = x.begin() + static_cast<std::ptrdiff_t>(rank - offset);
  std::nth_element(x.begin(), at, x.end());
  if (rank + 1 == n) return *at;
  const double h = static_cast<double>(n - 1) * q;
  return *at + (h - std::floor(h)) * (*std::min_element(at + 1, x.end()) - *at);
}

// The values between two bounds of the sample, and how many lie below.
struct Bracket {
  double below = -std::numeric_limits<double>::infinity(), above = std::numeric_limits<double>::infinity();
  std::size_t under = 0;  // values < below
  std::vector<double> inside;  // values in [below, above]
};

// Counts the values below b's bracket and keeps those inside (a NaN is
// neither). Both loops are without a branch on the values, which random
// data would mispredict: the first counts, so that the second, storing
// each value past the last one kept and keeping it when inside, needs no
// growing (fresh memory is costly to touch).
void Gather(const double* begin, const double* end, Bracket& b) {
  const double below = b.below, above = b.above;
  std::size_t under = 0, inside = 0;
  for (const double* v = begin; v != end; ++v) {
    under += *v < below ? 1 : 0;
    inside += (*v >= below) & (*v <= above) ? 1 : 0;
  }
  b.inside.resize(inside + 1);
  double* out = b.inside.data();
  std::size_t kept = 0;
  for (const double* v = begin; v != end; ++v) {
    out[kept] = *v;
    kept += (*v >= below) & (*v <= above) ? 1 : 0;
  }
  b.inside.resize(kept);
  b.under = under;
}

// What one part of the values holds: its count and extremes (without the
// NaNs), a sample of its values, and then its share of each bracket.
struct Part {
  std::size_t count = 0;
  double lowest = std::numeric_limits<double>::infinity(), highest = -std::numeric_limits<double>::infinity();
  std::vector<double> sample;
  std::vector<Bracket> brackets;
};

// Fills p's count, extremes and sample (every step-th value, NaNs left
// out). The extremes run in four lanes, so that no value waits for the
// comparison before it; a zero extreme may come out as -0 or +0 (see
// QuantilesOf).
void Survey(const double* begin, const double* end, std::size_t step, Part& p) {
  constexpr int kLanes = 4;
  std::size_t count[kLanes] = {};
  double lowest[kLanes], highest[kLanes];
  std::fill(lowest, lowest + kLanes, p.lowest);
  std::fill(highest, highest + kLanes, p.highest);
  const std::size_t size = static_cast<std::size_t>(end - begin);
  for (std::size_t i = 0; i < size; ++i) {
    const double v = begin[i];
    const std::size_t lane = i % kLanes;
    count[lane] += std::isnan(v) ? 0 : 1;
    lowest[lane] = v < lowest[lane] ? v : lowest[lane];  // a NaN compares false
    highest[lane] = v > highest[lane] ? v : highest[lane];
  }
  for (int lane = 0; lane < kLanes; ++lane) {
    p.count += count[lane];
    p.lowest = lowest[lane] < p.lowest ? lowest[lane] : p.lowest;
    p.highest = highest[lane] > p.highest ? highest[lane] : p.highest;
  }
  for (std::size_t i = 0; i < size; i += step) {
    if (!std::isnan(begin[i])) p.sample.push_back(begin[i]);
  }
}

// The quantile q of n values from the values in its bracket, or NaN when
// the two ranks it needs are not both inside.
double FromBracket(Bracket& b, std::size_t n, double q) {
  const std::size_t rank = LowerRank(n, q), needed = rank + 1 < n ? 2 : 1;
  if (b.under > rank || b.under + b.inside.size() < rank + needed) return std::nan("");
  return Selected(b.inside, b.under, n, q);
}

}  // namespace

double Quantile(std::vector<double>& x, double q) {
  return x.empty() ? std::nan("") : Selected(x, 0, x.size(), q);
}

ValueQuantiles QuantilesOf(const std::vector<double>& values, const std::vector<double>& qs) {
  // Large matrices are read in two parts on two threads; each part's
  // figures are exact, so they join to the same numbers in any case.
  const int parts = values.size() >= kValuesForTwoParts && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
  const std::size_t step = std::max<std::size_t>(1, values.size() / kSample);
  std::vector<Part> part(static_cast<std::size_t>(parts));
  auto each = [&](const std::function<void(Part&, const double*, const double*)>& work) {
    ParallelFor(
        parts, parts,
        [&](int, int index, const std::atomic<bool>&) {
          const std::size_t i = static_cast<std::size_t>(index), size = values.size();
          work(part[i], values.data() + i * size / parts, values.data() + (i + 1) * size / parts);
        },
        [](int) {}, [] { return false; });
  };
  each([step](Part& p, const double* begin, const double* end) { Survey(begin, end, step, p); });
  ValueQuantiles out;
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  std::vector<double> sample;
  for (const Part& p : part) {  // in order, so that the first of equal extremes stays, as in one pass
    out.count += p.count;
    lowest = p.lowest < lowest ? p.lowest : lowest;
    highest = p.highest > highest ? p.highest : highest;
    sample.insert(sample.end(), p.sample.begin(), p.sample.end());
  }
  const std::size_t n = out.count;
  if (n == 0) {
    out.lowest = out.highest = std::nan("");
    out.quantiles.assign(qs.size(), std::nan(""));
    return out;
  }
  out.lowest = lowest + 0.0;  // -0 + 0 is +0: a zero extreme has one sign, whatever the order
  out.highest = highest + 0.0;
  // Each quantile's place in the sorted sample, widened by several
  // standard deviations of a sample's rank, gives its bracket.
  std::sort(sample.begin(), sample.end());
  const double m = static_cast<double>(sample.size());
  std::vector<Bracket> brackets(qs.size());
  for (std::size_t i = 0; i < qs.size(); ++i) {
    const double spread = 6.0 * std::sqrt(m * qs[i] * (1.0 - qs[i])) + 16.0;
    const double centre = qs[i] * (m - 1.0);
    if (centre - spread >= 0.0) brackets[i].below = sample[static_cast<std::size_t>(centre - spread)];
    if (centre + spread < m - 1.0) brackets[i].above = sample[static_cast<std::size_t>(centre + spread) + 1];
  }
  for (Part& p : part) p.brackets = brackets;
  each([](Part& p, const double* begin, const double* end) {
    for (Bracket& b : p.brackets) Gather(begin, end, b);
  });
  for (const Part& p : part) {
    for (std::size_t i = 0; i < qs.size(); ++i) {
      brackets[i].under += p.brackets[i].under;
      brackets[i].inside.insert(brackets[i].inside.end(), p.brackets[i].inside.begin(), p.brackets[i].inside.end());
    }
  }
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
