// The rules every face shares: ranges and their messages, missing words and
// the missing-value policy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/Quantiles.h"
#include "core/Rules.h"

namespace {

using tarvok::MissingPolicy;
using tarvok::Parameter;

constexpr double NA = std::numeric_limits<double>::quiet_NaN();

std::string Failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const tarvok::Error& error) {
    return error.what();
  }
  return "";
}

TEST(ParameterRules, RangesAndMessagesInEachFacesUnits) {
  EXPECT_EQ(tarvok::RangeText(Parameter::Shave), "1..97");
  EXPECT_EQ(tarvok::AllowedText(Parameter::Shave), "from 1 to 97 percent");
  EXPECT_EQ(tarvok::AllowedText(Parameter::Tolerance, true), "a fraction from 0 to 1 (in steps of 0.01)");
  EXPECT_EQ(Failure([] { tarvok::CheckParameter(Parameter::Clusters, 2147483648LL, "n_clusters"); }),
            "n_clusters must be from 1 to 100000; got 2147483648");
  EXPECT_EQ(Failure([] { tarvok::CheckParameter(Parameter::Permutations, 1000000, "--permutations"); }), "");
  EXPECT_EQ(tarvok::PercentOfFraction(Parameter::Shave, 0.1, "shave"), 10);
  EXPECT_EQ(tarvok::PercentOfFraction(Parameter::Supervise, 0.29, "supervise"), 29);  // 28.999999999999996
  for (double bad : {0.105, 0.98, 0.0, NA, 1e300}) {
    EXPECT_NE(Failure([&] { tarvok::PercentOfFraction(Parameter::Shave, bad, "shave"); })
                  .find("shave must be a fraction from 0.01 to 0.97 (in steps of 0.01); got "),
              std::string::npos)
        << bad;
  }
}

TEST(MissingWords, EmptyAndTheFourWordsInAnyCaseWithBlanks) {
  for (const char* word : {"", "  ", "NA", "na", " NaN\r", "n/a", "NULL", "\tnull "}) {
    EXPECT_TRUE(tarvok::IsMissingWord(word)) << word;
  }
  for (const char* word : {"0", "N", "NAN1", "none", "-", "nil", "inf"}) EXPECT_FALSE(tarvok::IsMissingWord(word)) << word;
  MissingPolicy policy = MissingPolicy::Error;
  EXPECT_TRUE(tarvok::ParseMissingPolicy("row-mean", &policy));
  EXPECT_EQ(policy, MissingPolicy::RowMean);
  EXPECT_FALSE(tarvok::ParseMissingPolicy("Drop", &policy));
}

TEST(MissingPolicy, EachPolicyOnOneMatrix) {
  // 4 genes x 3 samples: sample 2 is missing in every gene and goes first;
  // gene 2 then has one value, gene 4 none.
  const std::vector<double> table = {1, NA, 3, NA, NA, 5, 7, NA, 8, NA, NA, NA};
  std::vector<double> values = table;
  tarvok::MissingOutcome drop = tarvok::ApplyMissingPolicy(values, 4, 3, MissingPolicy::Drop);
  EXPECT_EQ(drop.keptSamples, (std::vector<int>{0, 2}));
  EXPECT_EQ(drop.keptGenes, (std::vector<int>{0, 2}));
  EXPECT_EQ(values, (std::vector<double>{1, 3, 7, 8}));
  EXPECT_EQ(drop.missingCells, 7);
  EXPECT_EQ(drop.droppedForMissing, 2);

  values = table;
  tarvok::MissingOutcome mean = tarvok::ApplyMissingPolicy(values, 4, 3, MissingPolicy::RowMean);
  EXPECT_EQ(mean.keptGenes, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(values, (std::vector<double>{1, 3, 5, 5, 7, 8}));
  EXPECT_EQ(mean.imputedCells, 1);
  EXPECT_EQ(mean.genesFilled, 1);
  EXPECT_EQ(mean.droppedEmpty, 1);

  values = table;
  try {
    tarvok::ApplyMissingPolicy(values, 4, 3, MissingPolicy::Error);
    ADD_FAILURE() << "no error";
  } catch (const tarvok::MissingValueError& error) {
    EXPECT_EQ(std::string(error.what()), "value of gene 1, sample 2 is missing");
    EXPECT_EQ(error.gene, 0);
    EXPECT_EQ(error.sample, 1);
  }
  // Infinity is no missing value under any policy.
  for (MissingPolicy p : {MissingPolicy::Error, MissingPolicy::Drop, MissingPolicy::RowMean}) {
    values = {1, 2, -std::numeric_limits<double>::infinity(), NA};
    EXPECT_EQ(Failure([&] { tarvok::ApplyMissingPolicy(values, 2, 2, p); }),
              "value of gene 2, sample 1 is not a finite number");
  }
}

// 100 values: one low, 97 mid, two high, so that the quantiles are exact
// (25th percentile mid, 99th high) whatever the interpolation does.
std::vector<double> Spread(double low, double mid, double high) {
  std::vector<double> values(97, mid);
  values.push_back(high);
  values.insert(values.begin() + 40, high);
  values.insert(values.begin() + 7, low);
  return values;
}

TEST(LogScale, QuantileRuleAtItsThresholds) {
  using tarvok::LogChoice;
  const double justAbove100 = std::nextafter(100.0, 200.0);
  struct Case {
    const char* what;
    std::vector<double> values;
    const char* valueType;
    LogChoice choice;
    bool apply;
  };
  const Case cases[] = {
      {"99th percentile at 100", Spread(-5, -1, 100), "", LogChoice::Auto, false},
      {"99th percentile above 100", Spread(-5, -1, justAbove100), "", LogChoice::Auto, true},
      {"range 50", Spread(0, 1, 50), "", LogChoice::Auto, false},
      {"range above 50", Spread(0, 1, 50.5), "", LogChoice::Auto, true},
      {"25th percentile 0", Spread(-1, 0, 60), "", LogChoice::Auto, false},
      {"25th percentile above 0", Spread(-1, 1e-9, 60), "", LogChoice::Auto, true},
      {"missing values ignored", [] { auto v = Spread(-5, -1, 101); v.insert(v.begin(), 30, NA); return v; }(),
       "", LogChoice::Auto, true},
      {"no values", {NA, NA}, "", LogChoice::Auto, false},
      {"counts", Spread(-5, -1, 2), "count", LogChoice::Auto, true},
      {"log2 ratio", Spread(1, 2, 1e5), "log2 ratio", LogChoice::Auto, false},
      {"log ratio", Spread(1, 2, 1e5), "Log Ratio", LogChoice::Auto, false},
      {"transformed count", Spread(1, 2, 1e5), "transformed count", LogChoice::Auto, false},
      {"unknown type: the quantiles", Spread(1, 2, 1e5), "ratio", LogChoice::Auto, true},
      {"yes", Spread(-5, -1, 2), "log2 ratio", LogChoice::Yes, true},
      {"no", Spread(1, 2, 1e5), "count", LogChoice::No, false},
  };
  for (const Case& c : cases) {
    const tarvok::LogDecision d = tarvok::DecideLog2(c.values, c.choice, c.valueType);
    EXPECT_EQ(d.apply, c.apply) << c.what << ": " << d.reason;
    EXPECT_FALSE(d.reason.empty()) << c.what;
  }
  EXPECT_EQ(tarvok::DecideLog2(Spread(-5, -1, 2), LogChoice::Auto, "count").reason,
            "the file's value type is \"count\"");
  EXPECT_EQ(tarvok::LogDecisionText(tarvok::DecideLog2(Spread(0, 1, 50.5), LogChoice::Auto, "")),
            "log2: yes, because the 99th percentile is 50.5, the 25th 1 and the range 50.5 "
            "(range above 50, 25th percentile above 0)");
}

TEST(LogScale, QuantilesTransformAndWords) {
  // R's type 7: h = (n - 1) q, interpolated.
  std::vector<double> x = {4, 1, 3, 2}, one = {7}, none;
  EXPECT_EQ(tarvok::Quantile(x, 0.25), 1.75);
  EXPECT_DOUBLE_EQ(tarvok::Quantile(x, 0.99), 3.97);
  EXPECT_EQ(tarvok::Quantile(x, 1.0), 4.0);
  EXPECT_EQ(tarvok::Quantile(one, 0.5), 7.0);
  EXPECT_TRUE(std::isnan(tarvok::Quantile(none, 0.5)));
  // QuantilesOf brackets the quantiles with a sample of every k-th value;
  // its numbers are Quantile's whether the sample leads it right (ordered,
  // reversed, few distinct values) or astray (every sampled value the
  // same, so that the values are taken whole).
  const std::size_t n = (1 << 18) + 37;
  for (int layout = 0; layout < 4; ++layout) {
    std::vector<double> table(n);
    for (std::size_t i = 0; i < n; ++i) {
      const double v = static_cast<double>(i);
      table[i] = layout == 0 ? v : layout == 1 ? -v : layout == 2 ? static_cast<double>(i % 7) : (i % 4 == 0 ? 5.0 : v);
      if (i % 11 == 3 && layout != 3) table[i] = NA;  // layout 3 keeps every 4th value sampled
    }
    std::vector<double> present;
    for (double v : table) {
      if (!std::isnan(v)) present.push_back(v);
    }
    const tarvok::ValueQuantiles found = tarvok::QuantilesOf(table, {0.99, 0.25, 1.0});
    EXPECT_EQ(found.count, present.size());
    EXPECT_EQ(found.lowest, *std::min_element(present.begin(), present.end()));
    EXPECT_EQ(found.highest, *std::max_element(present.begin(), present.end()));
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(found.quantiles[k], tarvok::Quantile(present, k == 0 ? 0.99 : k == 1 ? 0.25 : 1.0)) << layout;
    }
  }
  EXPECT_TRUE(std::isnan(tarvok::QuantilesOf({NA}, {0.5}).quantiles[0]));
  // Values <= 0 become missing; missing and infinite values stay as they are.
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {8, 0, -1, NA, 1, 0.5, -inf, inf};
  const tarvok::LogOutcome out = tarvok::TransformLog2(values, tarvok::LogChoice::Yes, "");
  EXPECT_EQ(out.nonPositive, 2);
  EXPECT_EQ(values[0], 3.0);
  EXPECT_TRUE(std::isnan(values[1]) && std::isnan(values[2]) && std::isnan(values[3]));
  EXPECT_EQ(values[4], 0.0);
  EXPECT_EQ(values[5], -1.0);
  EXPECT_EQ(values[6], -inf);
  EXPECT_EQ(values[7], inf);
  values = {200, -3};
  EXPECT_EQ(tarvok::TransformLog2(values, tarvok::LogChoice::No, "count").nonPositive, 0);
  EXPECT_EQ(values, (std::vector<double>{200, -3}));
  tarvok::LogChoice choice = tarvok::LogChoice::No;
  EXPECT_TRUE(tarvok::ParseLogChoice("auto", &choice));
  EXPECT_EQ(choice, tarvok::LogChoice::Auto);
  EXPECT_FALSE(tarvok::ParseLogChoice("TRUE", &choice));
  EXPECT_EQ(tarvok::LogChoiceWords(), "auto, yes, no");
}

}  // namespace
