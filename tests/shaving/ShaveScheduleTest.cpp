#include <gtest/gtest.h>

#include <vector>

#include "shaving/ShaveSequence.h"

namespace {

std::vector<int> Sizes(int G, int percent) {
  ShaveSequence* s = NewShaveSequence(G, 3, percent * 0.01);
  std::vector<int> sizes(s->sizes.data, s->sizes.data + s->stepCount + 1);
  FreeShaveSequence(s, G, 3);
  return sizes;
}

}  // namespace

TEST(ShaveCount, SmallClustersLoseOneAndHalvesRoundDown) {
  for (int size = 1; size <= 20; ++size) {
    EXPECT_EQ(ShaveCount(size, 0.97), 1);
    EXPECT_EQ(ShaveCount(size, 0.01), 1);
  }
  EXPECT_EQ(ShaveCount(21, 0.01), 1);   // 0.21 rounds up to one
  EXPECT_EQ(ShaveCount(150, 0.01), 1);  // 1.5 rounds down
  EXPECT_EQ(ShaveCount(151, 0.01), 2);
  EXPECT_EQ(ShaveCount(35, 0.1), 3);
  EXPECT_EQ(ShaveCount(45, 0.1), 4);
  EXPECT_EQ(ShaveCount(25, 0.1), 2);
  EXPECT_EQ(ShaveCount(100, 0.1), 10);
  EXPECT_EQ(ShaveCount(66, 0.1), 7);
}

TEST(NewShaveSequence, WorkedSchedules) {
  EXPECT_EQ(Sizes(100, 10),
            (std::vector<int>{100, 90, 81, 73, 66, 59, 53, 48, 43, 39, 35, 32, 29, 26, 23, 21, 19, 18,
                              17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  std::vector<int> thousand = Sizes(1000, 10);
  ASSERT_EQ(thousand.size(), 57u);
  EXPECT_EQ(std::vector<int>(thousand.begin(), thousand.begin() + 41),
            (std::vector<int>{1000, 900, 810, 729, 656, 590, 531, 478, 430, 387, 348, 313, 282, 254,
                              229, 206, 185, 167, 150, 135, 122, 110, 99, 89, 80, 72, 65, 59, 53, 48,
                              43, 39, 35, 32, 29, 26, 23, 21, 19, 18, 17}));
  EXPECT_EQ(Sizes(50, 50),
            (std::vector<int>{50, 25, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  std::vector<int> onePercent = Sizes(21, 1);
  EXPECT_EQ(onePercent.size(), 21u);
  EXPECT_EQ(onePercent.front(), 21);
  EXPECT_EQ(Sizes(5, 10), (std::vector<int>{5, 4, 3, 2, 1}));
  EXPECT_EQ(Sizes(1, 10), (std::vector<int>{1}));
  EXPECT_EQ(Sizes(2, 10), (std::vector<int>{2, 1}));
}

TEST(NewShaveSequence, EverySupportedPercentageEndsAtOneGene) {
  for (int percent = 1; percent <= 97; ++percent) {
    const double fraction = percent * 0.01;
    for (int G = 1; G <= 5000; ++G) {
      int size = G;
      while (size > 1) {
        int next = size - ShaveCount(size, fraction);
        ASSERT_LT(next, size);
        size = next;
      }
      ASSERT_EQ(size, 1) << "G " << G << " at " << percent << "%";
    }
  }
  // At 98% a shave can take the whole cluster, which is why it is refused.
  EXPECT_EQ(21 - ShaveCount(21, 0.98), 0);
}

TEST(CopyShaveSequence, CopiesTheScheduleOnly) {
  ShaveSequence* s = NewShaveSequence(100, 4, 0.1);
  s->chosen = 7;
  s->chosenEigenvalue = 3.5;
  s->order[3] = 42;
  s->chosenComponent[2] = 1.0;
  ShaveSequence* copy = CopyShaveSequence(100, 4, s);
  ASSERT_EQ(copy->stepCount, s->stepCount);
  for (int k = 0; k <= s->stepCount; ++k) EXPECT_EQ(copy->sizes[k], s->sizes[k]);
  EXPECT_EQ(copy->chosen, 0);
  EXPECT_EQ(copy->chosenEigenvalue, 0.0);
  EXPECT_EQ(copy->order[3], 0);
  EXPECT_EQ(copy->chosenComponent[2], 0.0);
  FreeShaveSequence(copy, 100, 4);
  FreeShaveSequence(s, 100, 4);
}
