#include "engine/TableProbe.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/Tarvok.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

struct Answers {
  int hasHeaderRow;
  int hasLabelColumn;
  bool operator==(const Answers& o) const {
    return hasHeaderRow == o.hasHeaderRow && hasLabelColumn == o.hasLabelColumn;
  }
};

std::ostream& operator<<(std::ostream& os, const Answers& a) {
  return os << "{header " << a.hasHeaderRow << ", labels " << a.hasLabelColumn << "}";
}

// Probes a path; the answers start at 7 so that an unwritten one shows.
Answers ProbePath(const std::string& path) {
  Answers a{7, 7};
  char* name = const_cast<char*>(path.c_str());
  tsvFileFormatTest(&name, &a.hasHeaderRow, &a.hasLabelColumn);
  return a;
}

Answers Probe(const std::string& content) {
  TempDir dir;
  dir.Write("table.tsv", content);
  return ProbePath(dir.File("table.tsv"));
}

// The same text with every LF written as CR+LF.
std::string WithCrLf(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
    text.insert(at, 1, '\r');
  }
  return text;
}

}  // namespace

TEST(IsNumericField, AcceptsOneDecimalNumberWithBlanksAround) {
  for (const char* field : {"12", "-3.5e2", " 7 ", ".5", "5.", "+4", "1E+05", "2e-3", "0",
                            "12\t", "\t12\r\n", "007"}) {
    EXPECT_EQ(IsNumericField(field), 1) << '"' << field << '"';
  }
}

TEST(IsNumericField, RejectsWordsTrailersAndForeignNumberForms) {
  for (const char* field : {"12abc", "1 2", "abc", "   ", "", "inf", "nan", "NaN", "-infinity",
                            "0x10", "1e", "1e+", "1E-x", ".", "+", "-", "-e5", "e5", "1.2.3",
                            "--1", "+-1", "1,5", "5 .", "1e5.0"}) {
    EXPECT_EQ(IsNumericField(field), 0) << '"' << field << '"';
  }
  EXPECT_EQ(IsNumericField(nullptr), 0);
  EXPECT_EQ(IsNumericText("1\0", 2), 0);  // an embedded NUL is not white space
  EXPECT_EQ(IsNumericText("15x", 2), 1);  // only the given length is looked at
}

TEST(TableProbe, AnswersFromTheFirstTwoLines) {
  EXPECT_EQ(Probe("\tS1\tS2\ng1\t1\t2\n"), (Answers{1, 1}));
  EXPECT_EQ(Probe("gene\t2\t3\ng1\t1\t2\n"), (Answers{0, 1}));  // numeric header
  EXPECT_EQ(Probe("1.5\t2.5\n3\t4\n"), (Answers{0, 0}));
  EXPECT_EQ(Probe("1.5\t2.5\n"), (Answers{0, 0}));
  // The corner cell is never examined; empty cells are not fields.
  EXPECT_EQ(Probe("7\t\t\tS1\n\t\tg1\n"), (Answers{1, 1}));
  // The label test looks at line 2 whatever line 1 was.
  EXPECT_EQ(Probe("1\t2\ng1\t3\n"), (Answers{0, 1}));
  // Only the first two lines count.
  EXPECT_EQ(Probe("a\tb\n1\t2\ng3\tS\n"), (Answers{1, 0}));
}

TEST(TableProbe, ShortFilesAndMissingFieldsAnswerZero) {
  EXPECT_EQ(Probe(""), (Answers{0, 0}));
  EXPECT_EQ(Probe("gene\tS1\tS2\n"), (Answers{1, 0}));  // header only
  EXPECT_EQ(Probe("gene\tS1\tS2"), (Answers{1, 0}));    // no final line end
  EXPECT_EQ(Probe("gene\ng1\t1\n"), (Answers{0, 1}));   // one field on line 1
  EXPECT_EQ(Probe("\n\n"), (Answers{0, 0}));
  EXPECT_EQ(Probe("a\tb\n\ng1\n"), (Answers{1, 0}));    // empty line 2
  EXPECT_EQ(Probe("a\tb\n\t\t\n"), (Answers{1, 0}));    // tabs only: no field
}

TEST(TableProbe, LongFirstLineIsSkippedToItsEnd) {
  // 255 characters fit one read; the rest of line 1 starts with a number
  // and must not be taken for line 2.
  std::string first = "c\tS\t" + std::string(251, 'x');
  ASSERT_EQ(first.size(), 255u);
  EXPECT_EQ(Probe(first + "\t5\t6\ng1\t1\n"), (Answers{1, 1}));
  EXPECT_EQ(Probe(first + "\t5\t6\n2\t1\n"), (Answers{1, 0}));
  EXPECT_EQ(Probe(first + std::string(600, 'y') + "\n7\n"), (Answers{1, 0}));
  // Exactly 255 characters and then the line end, with LF and CR+LF.
  EXPECT_EQ(Probe(first + "\ng1\n"), (Answers{1, 1}));
  EXPECT_EQ(Probe(first + "\r\ng1\r\n"), (Answers{1, 1}));
  EXPECT_EQ(Probe(first.substr(0, 254) + "\r\n4\r\n"), (Answers{1, 0}));
  // Second field cut by the read: only its first part is tested.
  EXPECT_EQ(Probe("c\t" + std::string(253, '1') + "x\nS\n"), (Answers{0, 1}));
  // A long line 2 is tested on its first piece.
  EXPECT_EQ(Probe("a\t1\n" + std::string(300, '9') + "\n"), (Answers{0, 0}));
}

TEST(TableProbe, CrLfFilesAnswerLikeLfFiles) {
  for (const char* text : {"\tS1\tS2\ng1\t1\n", "gene\t2\n3\t4\n", "x\t\n\n", "x\t\n\ny\n",
                           "a\tb\n\t\n", "a\t1\n", "a\t1", "\n", "c\t2\n\t5\n"}) {
    EXPECT_EQ(Probe(WithCrLf(text)), Probe(text)) << text;
  }
  // A carriage return inside a line is an ordinary blank of the field.
  EXPECT_EQ(Probe("c\t2\r3\n"), (Answers{1, 0}));
  EXPECT_EQ(Probe("c\t2\r\n\r4\r\n"), (Answers{0, 0}));
  // A CR that ends a full 255-character read before the LF is a line end
  // too: no "\r" field on line 1, no field at all on line 2.
  EXPECT_EQ(Probe("c" + std::string(253, '\t') + "\r\n" + std::string(254, '\t') + "\r\n"),
            (Answers{0, 0}));
  // A lone CR before the end of the file is a line end too.
  EXPECT_EQ(Probe("c\tS\n\r"), (Answers{1, 0}));
}

TEST(TableProbe, UnreadablePathsAreReportedAndPassedOver) {
  TempDir dir;
  std::string missing = dir.File("missing.tsv");
  ChildResult r = RunInChild([&] {
    Answers a = ProbePath(missing);
    std::printf("%d %d", a.hasHeaderRow, a.hasLabelColumn);
  });
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "0 0");
  EXPECT_EQ(r.err, "Cannot open <" + missing + "> for reading - No such file or directory.\n");

  ChildResult none = RunInChild([] {
    int header = 7;
    int labels = 7;
    char* name = nullptr;
    tsvFileFormatTest(&name, &header, &labels);
    tsvFileFormatTest(nullptr, nullptr, nullptr);
    std::printf("%d %d", header, labels);
  });
  EXPECT_EQ(none.exitStatus, 0);
  EXPECT_EQ(none.out, "0 0");
  EXPECT_EQ(none.err, "Cannot open <(null)> for reading - Invalid argument.\n"
                      "Cannot open <(null)> for reading - Invalid argument.\n");

  // A directory opens on some systems but reads as nothing.
  EXPECT_EQ(ProbePath(dir.path()), (Answers{0, 0}));
}
