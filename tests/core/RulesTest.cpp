// The rules every face shares: ranges and their messages, missing words and
// the missing-value policy.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

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

}  // namespace
