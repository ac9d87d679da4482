// Quantiles of a matrix's values, as R's quantile() gives them by default
// (type 7), for the rule that decides whether data are on a log scale. The
// values are many (a whole table), so they are selected, never sorted.
#pragma once

#include <cstddef>
#include <vector>

namespace tarvok {

// The quantile q (0..1) of the values x (none missing): R's default (type 7),
// s[h] + (h - floor(h)) * (s[floor(h) + 1] - s[floor(h)]) with s the values
// in order and h = (n - 1) q counted from 0; NaN when x is empty. x is
// reordered (partly sorted), so that no full sort is needed.
double Quantile(std::vector<double>& x, double q);

struct ValueQuantiles {
  std::size_t count = 0;  // values that are not missing; the rest is 0 or NaN when none
  double lowest = 0.0, highest = 0.0;  // a zero extreme as +0
  std::vector<double> quantiles;  // one for each q asked, as Quantile gives it
};

// The quantiles qs (each 0..1) of the values that are not NaN, with their
// count and extremes. The same numbers as Quantile on a copy of those values,
// but the copy is only of the few values near each quantile: a sample of
// every k-th value brackets each one, and when a bracket misses (the sample
// is never wrong about the result, only about where to look) the values are
// copied whole.
ValueQuantiles QuantilesOf(const std::vector<double>& values, const std::vector<double>& qs);

}  // namespace tarvok
