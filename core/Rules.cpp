#include "core/Rules.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/Format.h"
#include "base/ThreadCount.h"
#include "core/Quantiles.h"

namespace tarvok {

namespace {

// Indexed by Parameter.
constexpr ParameterRange kRanges[] = {
    {"clusters", 1, 100000, false},    {"shave", 1, 97, true},     {"permutations", 1, 1000000, false},
    {"tolerance", 0, 100, true},       {"supervise", 0, 100, true}, {"threads", 1, kMaxThreads, false},
    {"seed", 0, 4294967295LL, false},
};

std::string Fraction(long long percent) {
  // Percents are whole, so two decimals say it exactly; trailing zeros go.
  std::string text = std::to_string(percent / 100) + "." + std::to_string(percent % 100 / 10) +
                     std::to_string(percent % 10);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string Cell(long long gene, long long sample) {
  return "value of gene " + std::to_string(gene + 1) + ", sample " + std::to_string(sample + 1);
}

}  // namespace

const ParameterRange& RangeOf(Parameter parameter) { return kRanges[static_cast<int>(parameter)]; }

std::string AllowedText(Parameter parameter, bool asFraction) {
  const ParameterRange& r = RangeOf(parameter);
  if (r.percent && asFraction) {
    return "a fraction from " + Fraction(r.low) + " to " + Fraction(r.high) + " (in steps of 0.01)";
  }
  return "from " + std::to_string(r.low) + " to " + std::to_string(r.high) + (r.percent ? " percent" : "");
}

std::string RangeText(Parameter parameter) {
  const ParameterRange& r = RangeOf(parameter);
  return std::to_string(r.low) + ".." + std::to_string(r.high);
}

void CheckParameter(Parameter parameter, long long value, const std::string& name, bool asFraction,
                    const std::string& valueText) {
  const ParameterRange& r = RangeOf(parameter);
  if (value >= r.low && value <= r.high) return;
  throw Error(name + " must be " + AllowedText(parameter, asFraction) + "; got " +
              (valueText.empty() ? std::to_string(value) : valueText));
}

int PercentOfFraction(Parameter parameter, double fraction, const std::string& name) {
  char text[32];
  auto written = std::to_chars(text, text + sizeof text, fraction);
  std::string shown(text, written.ptr);
  const double scaled = fraction * 100.0;
  const ParameterRange& r = RangeOf(parameter);
  const double percent = std::isfinite(scaled) ? std::round(scaled) : -1.0;
  const bool whole = std::isfinite(scaled) && std::fabs(scaled - percent) <= 1e-9 * std::fmax(1.0, std::fabs(scaled));
  if (!whole || percent < static_cast<double>(r.low) || percent > static_cast<double>(r.high)) {
    throw Error(name + " must be " + AllowedText(parameter, true) + "; got " + shown);
  }
  return static_cast<int>(percent);
}

const char* MissingPolicyName(MissingPolicy policy) {
  switch (policy) {
    case MissingPolicy::Drop:
      return "drop";
    case MissingPolicy::RowMean:
      return "row-mean";
    case MissingPolicy::Error:
      break;
  }
  return "error";
}

bool ParseMissingPolicy(std::string_view word, MissingPolicy* policy) {
  for (MissingPolicy p : {MissingPolicy::Error, MissingPolicy::Drop, MissingPolicy::RowMean}) {
    if (word == MissingPolicyName(p)) {
      *policy = p;
      return true;
    }
  }
  return false;
}

std::string MissingPolicyWords() { return "error, drop, row-mean"; }

bool IsMissingWord(std::string_view cell) {
  std::size_t begin = 0, end = cell.size();
  while (begin < end && (cell[begin] == ' ' || cell[begin] == '\t' || cell[begin] == '\r')) ++begin;
  while (end > begin && (cell[end - 1] == ' ' || cell[end - 1] == '\t' || cell[end - 1] == '\r')) --end;
  std::string_view word = cell.substr(begin, end - begin);
  switch (word.size()) {
    case 0:
      return true;
    case 2:
      return SameWord(word, "na");
    case 3:
      return SameWord(word, "nan") || SameWord(word, "n/a");
    case 4:
      return SameWord(word, "null");
    default:
      return false;
  }
}

MissingOutcome ApplyMissingPolicy(std::vector<double>& values, int genes, int samples, MissingPolicy policy) {
  const std::size_t N = static_cast<std::size_t>(samples);
  MissingOutcome out;
  // Every cell once: infinite values are refused whatever the policy, and
  // under Error the first missing one too, in reading order.
  std::vector<int> missingInSample(N, 0);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double v = values[i];
    if (std::isinf(v)) {
      throw MissingValueError(Cell(i / N, i % N) + " is not a finite number", i / N, i % N, true);
    }
    if (std::isnan(v)) {
      if (policy == MissingPolicy::Error) {
        throw MissingValueError(Cell(i / N, i % N) + " is missing", i / N, i % N, false);
      }
      ++out.missingCells;
      ++missingInSample[i % N];
    }
  }
  for (int s = 0; s < samples; ++s) {
    if (missingInSample[s] < genes) out.keptSamples.push_back(s);
  }
  // No sample left would mean no data at all: keep them and let the genes go.
  if (out.keptSamples.empty()) {
    for (int s = 0; s < samples; ++s) out.keptSamples.push_back(s);
  }
  const std::size_t kept = out.keptSamples.size();
  std::size_t write = 0;
  std::vector<double> row(kept);
  for (int g = 0; g < genes; ++g) {
    const double* source = values.data() + static_cast<std::size_t>(g) * N;
    std::size_t missingHere = 0;
    for (std::size_t k = 0; k < kept; ++k) {
      row[k] = source[out.keptSamples[k]];
      if (std::isnan(row[k])) ++missingHere;
    }
    if (missingHere > 0 && policy == MissingPolicy::Drop) {
      ++out.droppedForMissing;
      continue;
    }
    if (missingHere > 0) {  // RowMean
      if (missingHere == kept) {
        ++out.droppedEmpty;
        continue;
      }
      double sum = 0.0;  // in sample order
      for (double v : row) {
        if (!std::isnan(v)) sum += v;
      }
      const double mean = sum / static_cast<double>(kept - missingHere);
      for (double& v : row) {
        if (std::isnan(v)) v = mean;
      }
      out.imputedCells += static_cast<long long>(missingHere);
      ++out.genesFilled;
    }
    // Rows only move towards the front, so writing in place is safe.
    for (std::size_t k = 0; k < kept; ++k) values[write * kept + k] = row[k];
    ++write;
    out.keptGenes.push_back(g);
  }
  values.resize(write * kept);
  return out;
}

DataCheck CheckData(const double* data, int genes, int samples) {
  DataCheck check;
  long long largestAt = -1;
  double largest = 0.0;
  const long long count = static_cast<long long>(genes) * samples;
  for (long long i = 0; i < count; ++i) {
    if (!std::isfinite(data[i])) {
      check.gene = i / samples + 1;
      check.sample = i % samples + 1;
      check.finite = false;
      check.message = FormatMessage("value of gene %lld, sample %lld is not a finite number", check.gene,
                                    check.sample);
      return check;
    }
    if (std::fabs(data[i]) > largest) {
      largest = std::fabs(data[i]);
      largestAt = i;
    }
  }
  check.largest = largest;
  if (largest > kLargestMagnitude) {
    check.gene = largestAt / samples + 1;
    check.sample = largestAt % samples + 1;
    check.message = FormatMessage("value of gene %lld, sample %lld is %g; allowed: magnitudes up to %g",
                                  check.gene, check.sample, data[largestAt], kLargestMagnitude);
  }
  return check;
}

const char* LogChoiceName(LogChoice choice) {
  switch (choice) {
    case LogChoice::Yes:
      return "yes";
    case LogChoice::No:
      return "no";
    case LogChoice::Auto:
      break;
  }
  return "auto";
}

bool ParseLogChoice(std::string_view word, LogChoice* choice) {
  for (LogChoice c : {LogChoice::Auto, LogChoice::Yes, LogChoice::No}) {
    if (word == LogChoiceName(c)) {
      *choice = c;
      return true;
    }
  }
  return false;
}

std::string LogChoiceWords() { return "auto, yes, no"; }

namespace {

// What a GEO value type says: 1 log, 0 as is, -1 nothing known.
int ValueTypeSays(std::string_view valueType) {
  std::string type;
  for (char c : valueType) type += Lower(c);
  while (!type.empty() && type.back() == ' ') type.pop_back();
  while (!type.empty() && type.front() == ' ') type.erase(0, 1);
  if (type == "count") return 1;
  if (type.find("log") != std::string::npos || type == "transformed count") return 0;
  return -1;
}

std::string Number(double value) {
  char text[32];
  auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  return std::string(text, written.ptr);
}

// The quantile rule on the values that are not missing.
LogDecision QuantileRule(const std::vector<double>& values) {
  const ValueQuantiles found = QuantilesOf(values, {0.99, 0.25});
  if (found.count == 0) return {false, "there are no values"};
  const double range = found.highest - found.lowest;
  const double q99 = found.quantiles[0], q25 = found.quantiles[1];
  const std::string quantiles = "the 99th percentile is " + Number(q99) + ", the 25th " + Number(q25) +
                                " and the range " + Number(range);
  if (q99 > 100.0) return {true, quantiles + " (99th percentile above 100)"};
  if (range > 50.0 && q25 > 0.0) return {true, quantiles + " (range above 50, 25th percentile above 0)"};
  return {false, quantiles + " (99th percentile at most 100; range at most 50 or 25th percentile at most 0)"};
}

}  // namespace

LogDecision DecideLog2(const std::vector<double>& values, LogChoice choice, std::string_view valueType) {
  if (choice == LogChoice::Yes) return {true, "asked for"};
  if (choice == LogChoice::No) return {false, "asked for"};
  const int says = ValueTypeSays(valueType);
  if (says >= 0) {
    return {says == 1, "the file's value type is \"" + std::string(valueType) + "\""};
  }
  return QuantileRule(values);
}

LogOutcome TransformLog2(std::vector<double>& values, LogChoice choice, std::string_view valueType) {
  LogOutcome out;
  out.decision = DecideLog2(values, choice, valueType);
  if (!out.decision.apply) return out;
  const double missing = std::nan("");
  for (double& v : values) {
    if (v > 0.0) {
      v = std::log2(v);
    } else if (v <= 0.0 && !std::isinf(v)) {  // -inf is refused as infinite
      v = missing;
      ++out.nonPositive;
    }
  }
  return out;
}

std::string LogDecisionText(const LogDecision& decision) {
  return std::string("log2: ") + (decision.apply ? "yes" : "no") + ", " +
         (decision.reason == "asked for" ? decision.reason : "because " + decision.reason);
}

const char* StopReasonName(StopReason reason) {
  switch (reason) {
    case StopReason::NoClustersLeft:
      return "no_clusters_left";
    case StopReason::VarianceExhausted:
      return "variance_exhausted";
    case StopReason::Completed:
      break;
  }
  return "completed";
}

}  // namespace tarvok

namespace tarvok {

std::string CleanSymbol(std::string_view symbol) {
  const char* const blanks = " \t\n\v\f\r";
  const size_t begin = symbol.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return "";
  const std::string_view trimmed = symbol.substr(begin, symbol.find_last_not_of(blanks) - begin + 1);
  if (IsMissingWord(trimmed)) return "";
  std::string text(trimmed);
  for (char& ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  }
  return text;
}

}  // namespace tarvok
