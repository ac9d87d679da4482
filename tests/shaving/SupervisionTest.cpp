#include "shaving/Supervision.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/Classification.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

// A class as read: label and members.
struct ReadClass {
  int label;
  std::vector<int> members;
  bool operator==(const ReadClass& o) const { return label == o.label && members == o.members; }
};

void PrintTo(const ReadClass& c, std::ostream* os) {
  *os << c.label << ":{";
  for (int m : c.members) *os << m << ",";
  *os << "}";
}

std::vector<ReadClass> Classes(const ClassList& list) {
  std::vector<ReadClass> out;
  for (ClassNode* n = list.head; n != nullptr; n = n->next) {
    out.push_back({n->label, std::vector<int>(n->members, n->members + n->count)});
  }
  return out;
}

// Reads content as a classification file: the classes and the sample count.
std::vector<ReadClass> ReadContent(const std::string& content, int* sampleCount = nullptr) {
  TempDir dir;
  dir.Write("classes", content);
  std::vector<int> labels = ReadClassLabels(dir.File("classes").c_str());
  if (sampleCount != nullptr) *sampleCount = static_cast<int>(labels.size());
  ClassList list;
  for (size_t s = 0; s < labels.size(); ++s) AppendToClassList(list, labels[s], static_cast<int>(s));
  std::vector<ReadClass> classes = Classes(list);
  DestroyClassList(list);
  return classes;
}

// The same text with every LF written as CR+LF.
std::string WithCrLf(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
    text.insert(at, 1, '\r');
  }
  return text;
}

// The transform for labels; c receives its columns.
SupervisionTransform Transform(int percent, const std::vector<int>& labels, int* c) {
  SupervisionTransform t = BuildSupervisionTransform(percent, labels, static_cast<int>(labels.size()));
  *c = t.columns;
  return t;
}

}  // namespace

TEST(ClassList, KeepsClassesInOrderOfFirstAppearance) {
  ClassList list;
  DestroyClassList(list);  // empty: nothing to do
  EXPECT_EQ(list.head, nullptr);
  const int labels[] = {2, 1, 2, 3, 1};
  for (int s = 0; s < 5; ++s) AppendToClassList(list, labels[s], s);
  EXPECT_EQ(ClassCount(list.head), 3);
  EXPECT_EQ(Classes(list), (std::vector<ReadClass>{{2, {0, 2}}, {1, {1, 4}}, {3, {3}}}));
  EXPECT_EQ(FindClass(list.head, 3), list.head->next->next);
  EXPECT_EQ(FindClass(list.head, 4), nullptr);
  EXPECT_EQ(FindClass(nullptr, 2), nullptr);
  // A class grows past several doublings of its member array intact.
  for (int s = 5; s < 105; ++s) AppendToClassList(list, 1, s);
  ClassNode* one = FindClass(list.head, 1);
  ASSERT_EQ(one->count, 102);
  EXPECT_EQ(one->members[1], 4);
  for (int i = 2; i < 102; ++i) EXPECT_EQ(one->members[i], i + 3);
  DestroyClassList(list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(ClassCount(list.head), 0);
}

TEST(ComputeQ, ColumnsFollowTheClassesWithUnitNorm) {
  int a = 0;
  Matrix q = ComputeQ(5, {2, 1, 2, 3, 1}, &a);
  ASSERT_EQ(a, 3);
  const double h = 1.0 / std::sqrt(2.0);
  const double expected[5][3] = {{h, 0, 0}, {0, h, 0}, {h, 0, 0}, {0, 0, 1}, {0, h, 0}};
  for (int s = 0; s < 5; ++s)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(q[s][k], expected[s][k]) << s << "," << k;

  Matrix single = ComputeQ(7, {4, 4, 4, 4, 4, 4, 4}, &a);  // a single class of all samples
  ASSERT_EQ(a, 1);
  for (int s = 0; s < 7; ++s) EXPECT_EQ(single[s][0], 1.0 / std::sqrt(7.0));
}

TEST(ReadClassification, LabelsAreTheLeadingIntegerOfEachNonEmptyLine) {
  int samples = 0;
  // Blank lines are skipped; a line of blanks is a sample of class 0.
  EXPECT_EQ(ReadContent("\n5\n\n\n5\n   \n\n", &samples),
            (std::vector<ReadClass>{{5, {0, 1}}, {0, {2}}}));
  EXPECT_EQ(samples, 3);
  EXPECT_EQ(ReadContent("abc\n 7 x\n-3\n3.9\n+8\n\t12\n", &samples),
            (std::vector<ReadClass>{{0, {0}}, {7, {1}}, {-3, {2}}, {3, {3}}, {8, {4}}, {12, {5}}}));
  EXPECT_EQ(samples, 6);
  // Out-of-range labels saturate; no final line end is needed.
  EXPECT_EQ(ReadContent("99999999999\n-99999999999\n2147483647", &samples),
            (std::vector<ReadClass>{{INT_MAX, {0, 2}}, {INT_MIN, {1}}}));
  EXPECT_EQ(ReadContent("", &samples), std::vector<ReadClass>{});
  EXPECT_EQ(samples, 0);
  // A NUL byte is content: the line is a sample, and its label stops there.
  EXPECT_EQ(ReadContent(std::string("\0\n1\0009\n", 6), &samples),
            (std::vector<ReadClass>{{0, {0}}, {1, {1}}}));
}

TEST(ReadClassification, LongLinesAreReadInPiecesOf254) {
  int samples = 0;
  // 300 characters: a piece of 254 (label 5) and one of 46 (label 0).
  ReadContent("5" + std::string(299, 'x') + "\n1\n", &samples);
  EXPECT_EQ(samples, 3);
  EXPECT_EQ(ReadContent("6" + std::string(253, 'x') + "\n1\n", &samples),
            (std::vector<ReadClass>{{6, {0}}, {1, {1}}}));  // 254 then LF
  EXPECT_EQ(ReadContent("6" + std::string(253, 'x') + "1\n", &samples),
            (std::vector<ReadClass>{{6, {0}}, {1, {1}}}));  // the 255th starts a piece
  ReadContent(std::string(254 * 3, '2'), &samples);
  EXPECT_EQ(samples, 3);
}

TEST(ReadClassification, CrLfFilesGiveTheSameSamplesAsLfFiles) {
  const std::string texts[] = {
      "2\n1\n2\n3\n1\n", "\n\n4\n\n4\n", "  \n7\n", "1\n2",
      "6" + std::string(252, 'x') + "\n3\n",  // CR becomes the 254th character
      "6" + std::string(253, 'x') + "\n3\n",  // LF read on its own
      "6" + std::string(254, 'x') + "\n3\n",
  };
  for (const std::string& text : texts) {
    int lf = 0;
    int crlf = 0;
    EXPECT_EQ(ReadContent(WithCrLf(text), &crlf), ReadContent(text, &lf)) << text;
    EXPECT_EQ(crlf, lf) << text;
  }
  int samples = 0;
  EXPECT_EQ(ReadContent("1\r\n2\r", &samples), (std::vector<ReadClass>{{1, {0}}, {2, {1}}}));
  EXPECT_EQ(ReadContent("\r\n\r\n\r", &samples), std::vector<ReadClass>{});
  // A CR inside a line is content: the line is a sample.
  EXPECT_EQ(ReadContent("\r1\n", &samples), (std::vector<ReadClass>{{1, {0}}}));
  EXPECT_EQ(ReadContent("3\r\r\n", &samples), (std::vector<ReadClass>{{3, {0}}}));
}

TEST(SupervisionTransform, NoneWhenUnsupervised) {
  SupervisionTransform t = BuildSupervisionTransform(0, {}, 4);
  EXPECT_FALSE(t.Present());
  EXPECT_EQ(t.columns, 0);
}

TEST(SupervisionTransform, FullSupervisionIsQWithoutFactorisation) {
  // Q Q^T is singular here, so a factorisation would end the run.
  const std::vector<int> labels = {2, 1, 2, 3, 1, 3};
  int c = 0;
  SupervisionTransform t = Transform(100, labels, &c);
  ASSERT_EQ(c, 3);
  int a = 0;
  Matrix q = ComputeQ(6, labels, &a);
  for (int s = 0; s < 6; ++s)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(t.transform[s][k], q[s][k]);
}

TEST(SupervisionTransform, HalfSupervisionOfThreeSamples) {
  int c = 0;
  Matrix t = Transform(50, {1, 1, 2}, &c).transform;
  ASSERT_EQ(c, 3);
  std::string rows;
  char cell[32];
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) {
      std::snprintf(cell, sizeof cell, k == 0 ? "%.7f" : " %.7f", t[i][k]);
      rows += cell;
    }
    rows += "\n";
  }
  EXPECT_EQ(rows,
            "0.8660254 0.0000000 0.0000000\n"
            "0.2886751 0.8164966 0.0000000\n"
            "0.0000000 0.0000000 1.0000000\n");
}

TEST(SupervisionTransform, FactorReproducesTheMixture) {
  std::mt19937 generator(20240611);
  std::vector<int> labels(17);
  for (int& label : labels) label = static_cast<int>(generator() % 4);
  const int n = static_cast<int>(labels.size());
  std::vector<int> classSize(4, 0);
  for (int label : labels) ++classSize[label];
  for (int percent : {1, 30, 50, 99, -40}) {
    const double alpha = percent * 0.01;
    int c = 0;
    Matrix t = Transform(percent, labels, &c).transform;
    ASSERT_EQ(c, n);
    for (int i = 0; i < n; ++i) {
      EXPECT_GT(t[i][i], 0.0);
      for (int k = i + 1; k < n; ++k) EXPECT_EQ(t[i][k], 0.0);
      for (int j = 0; j < n; ++j) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += t[i][k] * t[j][k];
        double qq = labels[i] == labels[j] ? 1.0 / classSize[labels[i]] : 0.0;
        double expected = alpha * qq + (i == j ? 1.0 - alpha : 0.0);
        EXPECT_NEAR(sum, expected, 1e-12) << percent << ": " << i << "," << j;
      }
    }
  }
}

TEST(SupervisionTransform, AboveFullSupervisionWorksOnlyForSingletons) {
  int c = 0;
  Matrix t = Transform(150, {4, 9, 2, 7}, &c).transform;  // M = I for any weight
  ASSERT_EQ(c, 4);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) EXPECT_EQ(t[i][k], i == k ? 1.0 : 0.0);

  EXPECT_EQ(ErrorMessage([] {
              int columns = 0;
              Transform(150, {1, 2, 1}, &columns);
            }),
            "Numerical Recipes: choldc failed");
}

TEST(SupervisionTransform, RealClassificationAtBothWeights) {
  const std::string path = std::string(TARVOK_DATA_DIR) + "/golub.classes";
  const std::vector<int> classes = ReadClassificationFile(path.c_str(), 38);
  SupervisionTransform fullTransform = BuildSupervisionTransform(100, classes, 38);
  const Matrix& full = fullTransform.transform;
  ASSERT_EQ(fullTransform.columns, 2);
  EXPECT_EQ(full[0][0], 1.0 / std::sqrt(27.0));  // ALL: samples 0..26
  EXPECT_EQ(full[37][1], 1.0 / std::sqrt(11.0)); // AML: samples 27..37
  EXPECT_EQ(full[37][0], 0.0);
  SupervisionTransform halfTransform = BuildSupervisionTransform(50, classes, 38);
  const Matrix& half = halfTransform.transform;
  ASSERT_EQ(halfTransform.columns, 38);
  double sum = 0.0;
  for (int k = 0; k < 38; ++k) sum += half[26][k] * half[27][k];
  EXPECT_NEAR(sum, 0.0, 1e-12);  // different classes
}

TEST(SupervisionFailures, EachThrowsItsMessage) {
  TempDir dir;
  const std::string missing = dir.File("missing");
  dir.Write("four", "1\n2\n\n1\n2\n");
  dir.Write("empty", "");
  struct Case {
    std::string expected;
    std::function<void()> body;
  };
  const Case cases[] = {
      {"RuzoVavav(\"" + missing + "\"): not a regular file\n",
       [&] { ReadClassificationFile(missing.c_str(), 4); }},
      {"RuzoVavav(\"" + dir.path() + "\"): not a regular file\n",
       [&] { ReadClassificationFile(dir.path().c_str(), 4); }},
      {"RuzoVavav(\"(null)\"): not a regular file\n", [&] { ReadClassificationFile(nullptr, 4); }},
      {"Classification file line count(4) must equal columns(3)\n",
       [&] { ReadClassificationFile(dir.File("four").c_str(), 3); }},
      {"Classification file line count(0) must equal columns(3)\n",
       [&] { ReadClassificationFile(dir.File("empty").c_str(), 3); }},
      {"ComputeQ(\"" + missing + "\"): No such file or directory\n", [&] { ReadClassLabels(missing.c_str()); }},
  };
  for (const Case& k : cases) EXPECT_EQ(ErrorMessage(k.body), k.expected);
}

TEST(SupervisionFailures, ListAllocationFailuresThrowAndLeakNothing) {
  struct Case {
    const char* expected;
    long nth;   // which allocation from now fails
    int label;  // label appended after {1}
  };
  const Case cases[] = {
      {"Error creating list node: Cannot allocate memory\n", 1, 2},
      {"Error creating list node item: Cannot allocate memory\n", 2, 2},
      {"Error inserting into list: Cannot allocate memory\n", 1, 1},
  };
  for (const Case& k : cases) {
    ClassList list;
    AppendToClassList(list, 1, 0);
    EXPECT_EQ(ErrorMessage([&] {
                FailAllocationForTesting(k.nth);
                errno = ENOMEM;
                AppendToClassList(list, k.label, 1);
              }),
              k.expected);
    FailAllocationForTesting(0);
    DestroyClassList(list);
  }
  // Through ComputeQ the partly built list is released as well: the third
  // allocation is the second class's node.
  FailAllocationForTesting(3);
  errno = ENOMEM;
  EXPECT_EQ(ErrorMessage([] {
              int a = 0;
              ComputeQ(3, {1, 2, 3}, &a);
            }),
            "Error creating list node: Cannot allocate memory\n");
  FailAllocationForTesting(0);
}
