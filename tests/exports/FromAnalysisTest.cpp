// The record of an analysis run in memory carries the analysis's own
// scores (each cluster oriented so that most of its genes score positive),
// each gene's table row and centred row; the scores a face derives from the result files
// (Projection of the centred row on the component) agree with them on the
// first cluster of an unsupervised run.
#include <gtest/gtest.h>

#include <cmath>

#include "core/Orientation.h"
#include "exports/FromAnalysis.h"

namespace {

using namespace tarvok::exports;

TEST(RecordOfAnalysis, OwnScoresCentredRowsAndTheChosenStep) {
  const int genes = 40, samples = 6;
  std::vector<double> data;
  std::vector<std::string> geneLabels, sampleLabels;
  for (int g = 0; g < genes; ++g) {
    geneLabels.push_back("g" + std::to_string(g));
    for (int s = 0; s < samples; ++s) {
      double pattern = (s % 3 == 0 ? 2.0 : -1.0) * (g % 2 == 0 ? 1 : -1);  // half mirror the rest
      double noise = std::sin(1.7 * g + 2.3 * s + 0.1 * g * s);
      data.push_back(5.0 + (g < 10 ? 3.0 * pattern : 0.0) + noise);
    }
  }
  for (int s = 0; s < samples; ++s) sampleLabels.push_back("s" + std::to_string(s));
  tarvok::AnalysisOptions options;
  options.clusters = 2;
  options.permutations = 3;
  tarvok::Analysis analysis(data.data(), genes, samples, options);
  tarvok::AnalysisResult result = analysis.Run();
  ASSERT_GE(result.ClustersDone(), 1);

  std::vector<std::string> symbols(genes, "");
  symbols[3] = "SYM3";
  ExportRecord r =
      RecordOfAnalysis(analysis, result, {geneLabels, sampleLabels, {"a", "b", "c", "a", "b", "c"}, symbols});
  CheckRecord(r);
  EXPECT_EQ(r.symbols, symbols);
  ASSERT_EQ(r.clusters.size(), result.clusters.size());
  ASSERT_EQ(r.values.size(), static_cast<size_t>(genes));
  for (int s = 0; s < samples; ++s) EXPECT_EQ(r.values[7][s], analysis.CentredRow(7)[s]);
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const tarvok::ClusterRecord& c = result.clusters[i];
    const ClusterExport& e = r.clusters[i];
    const double sign = tarvok::NeedsFlip(c.scores) ? -1.0 : 1.0;
    EXPECT_FALSE(tarvok::NeedsFlip(e.scores));
    for (size_t j = 0; j < e.scores.size(); ++j) EXPECT_EQ(e.scores[j], sign * c.scores[j]);
    for (size_t s = 0; s < e.component.size(); ++s) EXPECT_EQ(e.component[s], sign * c.component[s]);
    EXPECT_EQ(e.r2, c.r2[c.chosenStep]);
    EXPECT_EQ(e.gap, c.gap[c.chosenStep]);
    for (size_t j = 0; j < e.genes.size(); ++j) {
      EXPECT_EQ(e.genes[j], geneLabels[c.genes[j]]);
      EXPECT_EQ(e.tableRows[j], static_cast<size_t>(c.genes[j]));
      EXPECT_EQ(e.rows[j], r.values[c.genes[j]]);
    }
  }
  // Cluster 1 is shaved from the centred data itself: the projection of the
  // centred row is the analysis's score, up to rounding.
  const ClusterExport& first = r.clusters[0];
  for (size_t j = 0; j < first.genes.size(); ++j) {
    double projection = Projection(first.rows[j], first.component);
    EXPECT_NEAR(projection, first.scores[j], 1e-9 * (1 + std::fabs(first.scores[j]))) << first.genes[j];
    EXPECT_EQ(projection > 0, first.scores[j] > 0) << first.genes[j];
  }
  EXPECT_THROW(RecordOfAnalysis(analysis, result, {{"x"}, sampleLabels, {}, {}}), std::invalid_argument);
  EXPECT_THROW(RecordOfAnalysis(analysis, result, {geneLabels, sampleLabels, {}, {"x"}}), std::invalid_argument);
}

}  // namespace

namespace {

TEST(Orientation, MorePositiveScoresThenTheLargerSum) {
  struct Case {
    std::vector<double> scores;
    bool flip;
  };
  const Case cases[] = {
      {{1.0, 2.0, -5.0}, false},   // more positive, whatever the sum
      {{-1.0, -2.0, 5.0}, true},   // more negative
      {{1.0, -3.0}, true},         // a tie: the sum decides
      {{3.0, -1.0, 0.0}, false},   // zeros count on neither side
      {{0.0, 0.0}, false},         // nothing to decide by: as it is
  };
  for (const Case& c : cases) EXPECT_EQ(tarvok::NeedsFlip(c.scores), c.flip) << c.scores[0];
  tarvok::ClusterRecord record;
  record.scores = {-1.0, -2.0, 0.0};
  record.component = {0.5, -0.0, -0.25};
  record.eigenvalue = 4.0;
  const tarvok::ClusterRecord oriented = tarvok::Oriented(record);
  EXPECT_EQ(oriented.scores, (std::vector<double>{1.0, 2.0, 0.0}));
  EXPECT_EQ(oriented.component, (std::vector<double>{-0.5, 0.0, 0.25}));
  EXPECT_FALSE(std::signbit(oriented.scores[2]));  // never "-0"
  EXPECT_FALSE(std::signbit(oriented.component[1]));
  EXPECT_EQ(oriented.eigenvalue, 4.0);
}

}  // namespace
