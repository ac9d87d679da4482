#include "core/Analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "numeric/Arrays.h"
#include "tests/support/ChildProcess.h"

using tarvok::AnalysisObserver;
using tarvok::AnalysisOptions;
using tarvok::AnalysisResult;
using tarvok::ClusterRecord;

namespace {

// A genes x samples table: genes 0..11 follow one pattern with alternating
// signs, the rest are noise from a fixed generator.
std::vector<double> PlantedBlock(int genes, int samples, unsigned seed = 2024) {
  std::vector<double> data;
  unsigned state = seed;
  for (int g = 0; g < genes; ++g) {
    for (int s = 0; s < samples; ++s) {
      state = state * 1664525u + 1013904223u;
      double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
      double pattern = std::sin(1.0 + s * 0.9) * 3;
      data.push_back(g < 12 ? (g % 2 ? -1 : 1) * pattern * (1 + g * 0.05) + 0.1 * noise : noise);
    }
  }
  return data;
}

AnalysisOptions Options(int clusters, int permutations, int threads = 1) {
  AnalysisOptions options;
  options.clusters = clusters;
  options.permutations = permutations;
  options.threads = threads;
  return options;
}

void ExpectSameRecords(const AnalysisResult& a, const AnalysisResult& b) {
  ASSERT_EQ(a.ClustersDone(), b.ClustersDone());
  EXPECT_EQ(a.stopReason, b.stopReason);
  for (int i = 0; i < a.ClustersDone(); ++i) {
    const ClusterRecord& x = a.clusters[i];
    const ClusterRecord& y = b.clusters[i];
    EXPECT_EQ(x.chosenStep, y.chosenStep);
    EXPECT_EQ(x.genes, y.genes);
    EXPECT_EQ(x.scores, y.scores);
    EXPECT_EQ(x.eigenvalue, y.eigenvalue);
    EXPECT_EQ(x.component, y.component);
    EXPECT_EQ(x.gap, y.gap);
    EXPECT_EQ(x.r2, y.r2);
    EXPECT_EQ(x.meanPermutedR2, y.meanPermutedR2);
    EXPECT_EQ(x.between, y.between);
    EXPECT_EQ(x.total, y.total);
    EXPECT_EQ(x.within, y.within);
  }
}

// Writes every event as a word, and cancels when told to.
class Recorder : public AnalysisObserver {
 public:
  std::string events;
  std::function<bool()> cancel = [] { return false; };
  void PassStarted(int i) override { events += "pass " + std::to_string(i) + ";"; }
  void ShavingData(int i) override { events += "shave " + std::to_string(i) + ";"; }
  void DataShaved(int i, int k) override { events += "shaved " + std::to_string(i) + "/" + std::to_string(k) + ";"; }
  void CopyShaved(int b, int n) override { events += "copy " + std::to_string(b) + "/" + std::to_string(n) + ";"; }
  void SizeChosen(int i, const ClusterRecord& r) override {
    events += "chosen " + std::to_string(i) + ":" + std::to_string(r.size) + ";";
  }
  void Orthogonalizing(int i) override { events += "orthogonalize " + std::to_string(i) + ";"; }
  void ClusterDone(int i, const ClusterRecord&) override { events += "done " + std::to_string(i) + ";"; }
  bool CancelRequested() override { return cancel(); }
};

}  // namespace

TEST(Analysis, RejectsOptionsAndDataWithMessages) {
  const std::vector<double> data = PlantedBlock(20, 6);
  struct Case {
    std::function<void(AnalysisOptions&, std::vector<double>&, int&)> change;
    const char* message;
  };
  const Case cases[] = {
      {[](AnalysisOptions& o, auto&, int&) { o.clusters = -1; }, "clusters is -1; allowed: 0 or more\n"},
      {[](AnalysisOptions& o, auto&, int&) { o.shavePercent = 98; }, "shave percent is 98; allowed: 1..97\n"},
      {[](AnalysisOptions& o, auto&, int&) { o.permutations = 0; }, "permutations is 0; allowed: 1 or more\n"},
      {[](AnalysisOptions& o, auto&, int&) { o.tolerancePercent = -1; }, "tolerance percent is -1; allowed: 0..100\n"},
      {[](AnalysisOptions& o, auto&, int&) { o.threads = 1025; }, "threads is 1025; allowed: 1..1024\n"},
      {[](AnalysisOptions& o, auto&, int&) { o.supervisionPercent = 50; },
       "classes has 0 entries; a supervised analysis needs one per sample (6)\n"},
      {[](AnalysisOptions&, auto&, int& genes) { genes = 1; }, "genes is 1; allowed: 2 or more\n"},
      {[](AnalysisOptions&, auto& d, int&) { d[13] = INFINITY; },
       "value of gene 3, sample 2 is not a finite number\n"},
      {[](AnalysisOptions&, auto& d, int&) { d[7] = -3e150; },
       "value of gene 2, sample 2 is -3e+150; allowed: magnitudes up to 1e+140\n"},
  };
  for (const Case& c : cases) {
    AnalysisOptions options = Options(2, 2);
    std::vector<double> values = data;
    int genes = 20;
    c.change(options, values, genes);
    EXPECT_EQ(ErrorMessage([&] { tarvok::Analyze(values.data(), genes, 6, options); }), c.message);
  }
}

TEST(Analysis, EventsComeInTheMonitorOrderAndThreadsChangeNoBit) {
  const std::vector<double> data = PlantedBlock(60, 8);
  Recorder one;
  // Four copies: up to three threads shave the data with the first copy,
  // then the next two together and the last alone; eight one at a time.
  AnalysisResult first = tarvok::Analyze(data.data(), 60, 8, Options(2, 4, 1), &one);
  std::string expected;
  for (int i = 1; i <= 2; ++i) {
    std::string n = std::to_string(i);
    expected += "pass " + n + ";shave " + n + ";shaved " + n + "/2;";
    for (int b = 1; b <= 4; ++b) expected += "copy " + std::to_string(b) + "/4;";
    expected += "chosen " + n + ":" + std::to_string(first.clusters[i - 1].size) + ";orthogonalize " + n +
                ";done " + n + ";";
  }
  EXPECT_EQ(one.events, expected);
  EXPECT_EQ(first.clusters[0].size, 12);
  for (int threads : {2, 3, 8}) {
    Recorder many;
    ExpectSameRecords(tarvok::Analyze(data.data(), 60, 8, Options(2, 4, threads), &many), first);
    EXPECT_EQ(many.events, one.events) << threads;
  }
  // A fresh thread's own generator starts where a fresh process does; a
  // second run on it continues the stream.
  std::thread fresh([&] {
    AnalysisOptions own = Options(2, 4, 2);
    own.generatorState = -1;
    ExpectSameRecords(tarvok::Analyze(data.data(), 60, 8, own), first);
    EXPECT_NE(tarvok::Analyze(data.data(), 60, 8, own).clusters[0].meanPermutedR2, first.clusters[0].meanPermutedR2);
  });
  fresh.join();
}

TEST(Analysis, CancelRequestStopsWithCancelled) {
  const std::vector<double> data = PlantedBlock(300, 10);
  for (int threads : {1, 2}) {
    Recorder recorder;
    int polls = 0;
    recorder.cancel = [&] { return recorder.events.find("copy 2/") != std::string::npos && ++polls > 0; };
    EXPECT_THROW(tarvok::Analyze(data.data(), 300, 10, Options(3, 20, threads), &recorder), tarvok::Cancelled);
    EXPECT_EQ(recorder.events.find("chosen"), std::string::npos) << threads;
  }
}

TEST(Analysis, AllocationFailureInAWorkerSurfacesOnTheCallingThread) {
  // The calling thread makes 19 allocations before the pool starts (data,
  // schedule and the pass's arrays); from then on every allocation is a
  // worker's, and a pass makes far more than 40. Under the sanitizers this
  // also shows that nothing made before the failure leaks.
  const std::vector<double> data = PlantedBlock(40, 6);
  for (long nth = 20; nth <= 40; ++nth) {
    FailAllocationForTesting(nth);
    std::string message = ErrorMessage([&] { tarvok::Analyze(data.data(), 40, 6, Options(2, 4, 2)); });
    FailAllocationForTesting(0);
    const bool allocation = message.rfind("Numerical Recipes: allocation failure", 0) == 0 ||
                            message.rfind("Error creating result structure: ", 0) == 0;
    EXPECT_TRUE(allocation) << nth << ": " << message;
  }
}

TEST(NumericalFaults, ExhaustedVarianceStopsThroughTheEarlyStop) {
  // Centred rows over 12 samples span at most 11 directions, and each pass
  // removes one: after 11 clusters only rounding noise is left.
  const std::vector<double> noise = PlantedBlock(60, 12, 7);
  AnalysisResult all = tarvok::Analyze(noise.data(), 60, 12, Options(60, 2, 2));
  EXPECT_EQ(all.stopReason, tarvok::StopReason::VarianceExhausted);
  EXPECT_EQ(all.ClustersDone(), 11);
  for (const ClusterRecord& c : all.clusters) EXPECT_GT(c.eigenvalue, 1e-6);

  const std::vector<double> constant(20 * 5, 3.5);
  AnalysisResult none = tarvok::Analyze(constant.data(), 20, 5, Options(3, 2));
  EXPECT_EQ(none.stopReason, tarvok::StopReason::VarianceExhausted);
  EXPECT_EQ(none.ClustersDone(), 0);
}

TEST(NumericalFaults, ExtremeMagnitudesGiveTheResultsOfTheDataItself) {
  const std::vector<double> data = PlantedBlock(80, 9);
  const AnalysisResult plain = tarvok::Analyze(data.data(), 80, 9, Options(2, 4));
  for (int exponent : {-900, -400, 400, 460}) {
    std::vector<double> scaled = data;
    for (double& v : scaled) v = std::ldexp(v, exponent);
    AnalysisResult result = tarvok::Analyze(scaled.data(), 80, 9, Options(2, 4));
    ASSERT_EQ(result.ClustersDone(), 2) << exponent;
    for (int i = 0; i < 2; ++i) {
      const ClusterRecord& x = result.clusters[i];
      const ClusterRecord& y = plain.clusters[i];
      EXPECT_EQ(x.genes, y.genes);
      EXPECT_EQ(x.component, y.component);
      EXPECT_EQ(x.gap, y.gap);
      EXPECT_EQ(x.r2, y.r2);
      // Scaled back exactly where the values are representable.
      if (exponent > -500) {
        EXPECT_EQ(x.eigenvalue, std::ldexp(y.eigenvalue, 2 * exponent)) << exponent;
        EXPECT_EQ(x.scores[0], std::ldexp(y.scores[0], exponent));
        EXPECT_EQ(x.total[3], std::ldexp(y.total[3], 2 * exponent));
      }
    }
  }
  // Decimal scales are not exact, but the analysis finds the same clusters.
  for (double factor : {1e100, 1e-100, 1e-300}) {
    std::vector<double> scaled = data;
    for (double& v : scaled) v *= factor;
    AnalysisResult result = tarvok::Analyze(scaled.data(), 80, 9, Options(2, 4));
    ASSERT_EQ(result.ClustersDone(), 2) << factor;
    EXPECT_EQ(result.clusters[0].genes, plain.clusters[0].genes) << factor;
  }
}

namespace {

// A tab-separated table with a header line and a label column; "NA" takes
// its gene's mean over the values present. Empty when the file is missing.
struct TsvTable {
  int genes = 0, samples = 0;
  std::vector<double> values;
  std::vector<int> classes;
};

TsvTable ReadTsv(const std::string& stem) {
  TsvTable table;
  std::ifstream in(stem + ".tsv");
  std::string line;
  if (!std::getline(in, line)) return table;
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::string cell;
    std::getline(cells, cell, '\t');
    std::vector<double> row;
    std::vector<bool> missing;
    while (std::getline(cells, cell, '\t')) {
      missing.push_back(cell == "NA");
      row.push_back(cell == "NA" ? 0.0 : std::stod(cell));
    }
    double sum = 0.0;
    int present = 0;
    for (size_t s = 0; s < row.size(); ++s) {
      if (!missing[s]) sum += row[s], ++present;
    }
    for (size_t s = 0; s < row.size(); ++s) {
      if (missing[s]) row[s] = sum / present;
    }
    table.samples = static_cast<int>(row.size());
    table.values.insert(table.values.end(), row.begin(), row.end());
    ++table.genes;
  }
  std::ifstream classes(stem + ".classes");
  for (int c; classes >> c;) table.classes.push_back(c);
  return table;
}

// Fast against exact: the same chosen sizes and genes, eigenvalues to
// 1e-10 relative, components to 1e-8 in angle, scores equal up to the axis
// sign, the per-step figures close.
void ExpectFastMatchesExact(const AnalysisResult& fast, const AnalysisResult& exact, const std::string& what) {
  ASSERT_EQ(fast.ClustersDone(), exact.ClustersDone()) << what;
  for (int i = 0; i < exact.ClustersDone(); ++i) {
    const ClusterRecord& f = fast.clusters[i];
    const ClusterRecord& e = exact.clusters[i];
    std::string at = what + " cluster " + std::to_string(i + 1);
    EXPECT_EQ(f.chosenStep, e.chosenStep) << at;
    ASSERT_EQ(f.genes, e.genes) << at;
    EXPECT_NEAR(f.eigenvalue, e.eigenvalue, 1e-10 * e.eigenvalue) << at;
    double dot = 0.0, ff = 0.0, ee = 0.0;
    for (size_t s = 0; s < e.component.size(); ++s) {
      dot += f.component[s] * e.component[s];
      ff += f.component[s] * f.component[s];
      ee += e.component[s] * e.component[s];
    }
    const double sign = dot < 0 ? -1.0 : 1.0;
    double chord = 0.0;
    for (size_t s = 0; s < e.component.size(); ++s) {
      double d = f.component[s] / std::sqrt(ff) - sign * e.component[s] / std::sqrt(ee);
      chord += d * d;
    }
    EXPECT_LT(2 * std::asin(std::sqrt(chord) / 2), 1e-8) << at;
    for (size_t t = 0; t < e.scores.size(); ++t) {
      EXPECT_NEAR(f.scores[t], sign * e.scores[t], 1e-8 * std::fabs(e.scores[0])) << at << " score " << t;
    }
    for (size_t k = 0; k < e.r2.size(); ++k) {
      EXPECT_NEAR(f.r2[k], e.r2[k], 1e-6) << at << " step " << k;
      EXPECT_NEAR(f.meanPermutedR2[k], e.meanPermutedR2[k], 1e-6) << at << " step " << k;
    }
  }
}

}  // namespace

// Every bundled data set, unsupervised and supervised: the fast solver
// chooses what the exact one chooses. The shared data sets are skipped
// where they are not installed.
TEST(FastSolver, ChoosesTheExactSolversClustersOnTheDataSets) {
  const std::string shared = "/work/shared/data/";
  for (const std::string& stem : {std::string(TARVOK_DATA_DIR) + "/golub", shared + "sample_eset",
                                  shared + "khan_missing"}) {
    TsvTable table = ReadTsv(stem);
    if (table.genes == 0) continue;
    for (int supervision : {0, 100}) {
      AnalysisOptions options = Options(3, 4, 2);
      options.supervisionPercent = supervision;
      if (supervision != 0) options.classes = table.classes;
      AnalysisResult exact = tarvok::Analyze(table.values.data(), table.genes, table.samples, options);
      options.solver = tarvok::Solver::Fast;
      AnalysisResult fast = tarvok::Analyze(table.values.data(), table.genes, table.samples, options);
      ExpectFastMatchesExact(fast, exact, stem + " supervision " + std::to_string(supervision));
      // Deterministic whatever the thread count.
      options.threads = 1;
      ExpectSameRecords(tarvok::Analyze(table.values.data(), table.genes, table.samples, options), fast);
    }
  }
}

// More samples than the Lanczos basis holds, so the iteration restarts and
// each step starts warm from the step before.
TEST(FastSolver, ManySamplesMatchTheExactSolver) {
  const std::vector<double> data = PlantedBlock(300, 70);
  AnalysisOptions options = Options(2, 3, 2);
  AnalysisResult exact = tarvok::Analyze(data.data(), 300, 70, options);
  options.solver = tarvok::Solver::Fast;
  ExpectFastMatchesExact(tarvok::Analyze(data.data(), 300, 70, options), exact, "planted 300 x 70");
}

namespace {

// Ranks as threads of this process: the exchange ORs every rank's rows
// into one shared table between two barriers.
class ThreadRanks {
 public:
  explicit ThreadRanks(int ranks) : ranks_(ranks) {}
  class Member : public tarvok::CopyDistribution {
   public:
    Member(ThreadRanks& all, int rank) : all_(all), rank_(rank) {}
    int Rank() const override { return rank_; }
    int Ranks() const override { return all_.ranks_; }
    void Exchange(double* rows, int copies, int steps) override {
      const size_t count = static_cast<size_t>(copies) * steps;
      {
        std::lock_guard<std::mutex> lock(all_.mutex_);
        all_.shared_.resize(count, 0);
        for (size_t i = 0; i < count; ++i) {
          std::uint64_t bits;
          std::memcpy(&bits, &rows[i], sizeof bits);
          all_.shared_[i] |= bits;
        }
      }
      all_.Wait();
      for (size_t i = 0; i < count; ++i) std::memcpy(&rows[i], &all_.shared_[i], sizeof rows[i]);
      all_.Wait();
      if (rank_ == 0) all_.shared_.assign(count, 0);
      all_.Wait();
      ++all_.exchanges_[rank_];
    }

   private:
    ThreadRanks& all_;
    int rank_;
  };
  std::vector<int> exchanges_ = std::vector<int>(8, 0);

 private:
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const long generation = generation_;
    if (++arrived_ == ranks_) {
      arrived_ = 0;
      ++generation_;
      arrived_cv_.notify_all();
    } else {
      arrived_cv_.wait(lock, [&] { return generation_ != generation; });
    }
  }
  int ranks_;
  std::mutex mutex_;
  std::condition_variable arrived_cv_;
  int arrived_ = 0;
  long generation_ = 0;
  std::vector<std::uint64_t> shared_;
};

}  // namespace

// Copies shared out across ranks give every rank the single process's
// results bit for bit, for any ranks x threads, more ranks than copies
// included; each rank reports only its own copies.
TEST(CopyDistribution, RanksInLockstepGiveTheOneProcessResults) {
  const std::vector<double> data = PlantedBlock(70, 9);
  for (int supervision : {0, 50}) {
    AnalysisOptions options = Options(2, 5, 1);
    options.supervisionPercent = supervision;
    options.classes = {0, 1, 0, 1, 0, 1, 1, 0, 0};
    const AnalysisResult single = tarvok::Analyze(data.data(), 70, 9, options);
    for (int ranks : {2, 3, 7}) {
      ThreadRanks all(ranks);
      std::vector<AnalysisResult> results(ranks);
      std::vector<std::string> events(ranks);
      std::vector<std::thread> threads;
      for (int r = 0; r < ranks; ++r) {
        threads.emplace_back([&, r] {
          ThreadRanks::Member rank(all, r);
          AnalysisOptions mine = options;
          mine.threads = 1 + r % 2;
          mine.distribution = &rank;
          Recorder recorder;
          results[r] = tarvok::Analyze(data.data(), 70, 9, mine, &recorder);
          events[r] = recorder.events;
        });
      }
      for (std::thread& t : threads) t.join();
      for (int r = 0; r < ranks; ++r) {
        ExpectSameRecords(results[r], single);
        EXPECT_EQ(all.exchanges_[r], single.ClustersDone()) << "one exchange per pass";
      }
      EXPECT_NE(events[0].find("copy 1/5;"), std::string::npos);
      EXPECT_EQ(events[0].find("copy 2/5;"), std::string::npos) << events[0];
      EXPECT_NE(events[1].find("copy 2/5;"), std::string::npos) << events[1];
    }
  }
}
