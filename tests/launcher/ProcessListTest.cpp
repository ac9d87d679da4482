#include "launcher/ProcessList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/launcher/PerfDataBlock.h"

namespace {

// Runs the walk on an exact-size copy of bytes (so that the sanitizers see
// any read past the end) with the table pre-filled with a marker.
struct Walk {
  std::vector<TaskRecord> records;
  std::size_t count = 0;
};

Walk RunWalk(const std::vector<unsigned char>& bytes, std::size_t size, std::size_t limit = 255,
             std::uint32_t index = kIdProcessIndex) {
  std::vector<unsigned char> data(bytes.begin(), bytes.begin() + static_cast<long>(size));
  Walk walk;
  walk.records.resize(kTaskTableSize);
  for (TaskRecord& record : walk.records) {
    std::memset(&record, 0x7A, sizeof record);
    record.imageName[kImageNameSize - 1] = '\0';
  }
  walk.count = WalkPerfData(data.data(), data.size(), index, limit, AsciiConverter,
                            walk.records.data());
  return walk;
}

Walk RunWalk(const std::vector<unsigned char>& bytes) { return RunWalk(bytes, bytes.size()); }

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

PerfBlockSpec ThreeProcesses() {
  PerfBlockSpec layout;
  layout.instances = {{u"Idle", 0}, {u"System", 4}, {u"splus", 1234}};
  return layout;
}

}  // namespace

TEST(WalkPerfData, ListsEveryInstanceWithNameAndId) {
  Walk walk = RunWalk(BuildPerfBlock(ThreeProcesses()));
  ASSERT_EQ(walk.count, 3u);
  EXPECT_STREQ(walk.records[0].imageName, "Idle.exe");
  EXPECT_EQ(walk.records[0].processId, 0xFFFFFFFEu);
  EXPECT_STREQ(walk.records[1].imageName, "System.exe");
  EXPECT_EQ(walk.records[1].processId, 4u);
  EXPECT_STREQ(walk.records[2].imageName, "splus.exe");
  EXPECT_EQ(walk.records[2].processId, 1234u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(walk.records[i].flags, 0u);
  // Records past the count are not touched.
  EXPECT_EQ(walk.records[3].processId, 0x7A7A7A7Au);
}

TEST(WalkPerfData, CounterDefinitionsAreSteppedAtFortyBytesWhateverTheirLength) {
  PerfBlockSpec layout = ThreeProcesses();
  layout.definitionByteLength = 24;
  layout.counterIndices = {6, 12, 784, 784};
  layout.idCounterOffset = 12;
  std::vector<unsigned char> bytes = BuildPerfBlock(layout);
  // The second definition of the same index must not be taken.
  PutWord(bytes, kBlockHeaderSize + kObjectHeaderSize + 3 * 40 + 36, 4);
  Walk walk = RunWalk(bytes);
  ASSERT_EQ(walk.count, 3u);
  EXPECT_EQ(walk.records[2].processId, 1234u);
}

TEST(WalkPerfData, LimitsTheRecordsAndTheInstanceCount) {
  PerfBlockSpec layout;
  for (std::uint32_t i = 0; i < 300; ++i) layout.instances.push_back({u"p", 100 + i});
  std::vector<unsigned char> bytes = BuildPerfBlock(layout);
  Walk walk = RunWalk(bytes);
  ASSERT_EQ(walk.count, 255u);
  EXPECT_EQ(walk.records[254].processId, 354u);
  EXPECT_EQ(walk.records[255].processId, 0x7A7A7A7Au);

  EXPECT_EQ(RunWalk(bytes, bytes.size(), 10).count, 10u);

  layout.instances.resize(3);
  layout.numInstances = 2;
  EXPECT_EQ(RunWalk(BuildPerfBlock(layout)).count, 2u);
}

TEST(WalkPerfData, NamesTooLongForTheImageNameAreEmptyAndUnconvertibleOnesUnknown) {
  PerfBlockSpec layout;
  layout.instances = {{Repeat(u'a', 255), 1}, {Repeat(u'b', 256), 2}, {Repeat(u'c', 259), 3},
                    {Repeat(u'd', 260), 4}, {u"caf\u00e9", 5},       {u"", 6}};
  Walk walk = RunWalk(BuildPerfBlock(layout));
  ASSERT_EQ(walk.count, 6u);
  EXPECT_EQ(std::string(walk.records[0].imageName), std::string(255, 'a') + ".exe");
  EXPECT_STREQ(walk.records[1].imageName, "");
  EXPECT_STREQ(walk.records[2].imageName, "");
  EXPECT_STREQ(walk.records[3].imageName, "unknown");  // 261 bytes do not fit the buffer
  EXPECT_STREQ(walk.records[4].imageName, "unknown");
  EXPECT_STREQ(walk.records[5].imageName, ".exe");
  EXPECT_EQ(walk.records[4].processId, 5u);
}

TEST(WalkPerfData, BlocksWithNothingToListGiveZero) {
  PerfBlockSpec layout = ThreeProcesses();
  std::vector<unsigned char> good = BuildPerfBlock(layout);
  EXPECT_EQ(RunWalk(good, 0).count, 0u);
  EXPECT_EQ(RunWalk(good, good.size(), 0).count, 0u);

  std::vector<unsigned char> badSignature = good;
  badSignature[6] = 'X';
  EXPECT_EQ(RunWalk(badSignature).count, 0u);

  EXPECT_EQ(RunWalk(good, good.size(), 255, 999).count, 0u);  // no such counter

  for (std::int32_t instances : {0, -1, -7}) {
    layout.numInstances = instances;
    EXPECT_EQ(RunWalk(BuildPerfBlock(layout)).count, 0u) << instances;
  }
}

TEST(WalkPerfData, OffsetsPointingOutsideTheDataStopTheWalk) {
  const std::vector<unsigned char> good = BuildPerfBlock(ThreeProcesses());
  const std::size_t object = kBlockHeaderSize;
  const std::size_t firstInstance = object + kObjectHeaderSize + 3 * 40;

  std::vector<unsigned char> bytes = good;
  PutWord(bytes, 24, 0xFFFFFFF0u);  // block HeaderLength
  EXPECT_EQ(RunWalk(bytes).count, 0u);

  bytes = good;
  PutWord(bytes, object + 8, 0x7FFFFFFFu);  // object HeaderLength
  EXPECT_EQ(RunWalk(bytes).count, 0u);

  bytes = good;
  PutWord(bytes, object + 32, 0xFFFFFFFFu);  // NumCounters past the data
  PutWord(bytes, object + kObjectHeaderSize + 40 + 4, 1);
  EXPECT_EQ(RunWalk(bytes).count, 0u);

  bytes = good;
  PutWord(bytes, object + 4, static_cast<std::uint32_t>(good.size()));  // DefinitionLength
  EXPECT_EQ(RunWalk(bytes).count, 0u);

  bytes = good;
  PutWord(bytes, object + kObjectHeaderSize + 40 + 36, 0xFFFFFFFDu);  // CounterOffset
  EXPECT_EQ(RunWalk(bytes).count, 0u);

  // The second instance's counter block points past the end: the first
  // record stays, the walk stops there.
  bytes = good;
  std::size_t firstCounters = firstInstance + (bytes[firstInstance] | bytes[firstInstance + 1] << 8);
  std::size_t second = firstCounters + kCounterBlockSize;
  PutWord(bytes, second, 0xFFFFFF00u);
  Walk walk = RunWalk(bytes);
  EXPECT_EQ(walk.count, 1u);
  EXPECT_STREQ(walk.records[0].imageName, "Idle.exe");

  bytes = good;
  PutWord(bytes, firstCounters, 0x80000000u);  // next instance far away
  EXPECT_EQ(RunWalk(bytes).count, 1u);

  // A name outside the data, or one without its terminator, cannot be
  // converted; the id is still read.
  bytes = good;
  PutWord(bytes, firstInstance + 16, 0xFFFFFFFEu);
  walk = RunWalk(bytes);
  ASSERT_EQ(walk.count, 3u);
  EXPECT_STREQ(walk.records[0].imageName, "unknown");
  EXPECT_EQ(walk.records[0].processId, 0xFFFFFFFEu);
}

TEST(WalkPerfData, EveryCutOfAValidBlockStaysInsideTheData) {
  PerfBlockSpec layout = ThreeProcesses();
  layout.instances.push_back({Repeat(u'z', 40), 77});
  const std::vector<unsigned char> bytes = BuildPerfBlock(layout);
  std::size_t previous = 0;
  for (std::size_t size = 0; size <= bytes.size(); ++size) {
    Walk walk = RunWalk(bytes, size);
    EXPECT_GE(walk.count, previous) << size;  // a longer cut never lists less
    previous = walk.count;
  }
  EXPECT_EQ(previous, 4u);
  // Only the words read must lie inside: the id ends 4 bytes before the
  // block does.
  EXPECT_EQ(RunWalk(bytes, bytes.size() - 4).count, 4u);
  EXPECT_EQ(RunWalk(bytes, bytes.size() - 5).count, 3u);

  // The last name moved onto its counter block and the block cut so that
  // it runs to the end of the data with no terminator: unknown.
  std::vector<unsigned char> moved = bytes;
  const std::size_t lastInstance = bytes.size() - kCounterBlockSize - 112;
  PutWord(moved, lastInstance + 16, 112 + 4);
  Walk walk = RunWalk(moved, moved.size() - 4);
  ASSERT_EQ(walk.count, 4u);
  EXPECT_STREQ(walk.records[3].imageName, "unknown");
  EXPECT_EQ(walk.records[3].processId, 77u);
}

TEST(ParseCounterNames, FindsTheProcessObjectAndTheIdCounter) {
  const char list[] = "1\0" "1847\0" "2\0" "System\0" "230\0" "Process\0" "784\0" "ID Process\0"
                      "6\0" "% Processor Time\0";
  CounterIndices found = ParseCounterNames(list, sizeof list);
  EXPECT_EQ(found.processIndexText, "230");
  EXPECT_TRUE(found.hasIdProcess);
  EXPECT_EQ(found.idProcessIndex, 784u);
}

TEST(ParseCounterNames, MatchesIgnoreCaseAndLaterMatchesWin) {
  const char list[] = "230\0PROCESS\0" "784\0id process\0" "999\0pRoCeSs\0" "1000\0Id Process\0"
                      "12\0Processor\0" "13\0Process ID\0" "14\0process \0";
  CounterIndices found = ParseCounterNames(list, sizeof list);
  EXPECT_EQ(found.processIndexText, "999");
  EXPECT_EQ(found.idProcessIndex, 1000u);
}

TEST(ParseCounterNames, TakesTheDigitsThatEndThePreviousString) {
  const char list[] = "x12\0process\0" "no digits\0ID Process\0" "7a\0process\0";
  CounterIndices found = ParseCounterNames(list, sizeof list);
  EXPECT_EQ(found.processIndexText, "12");  // "7a" has no digits at its end
  EXPECT_FALSE(found.hasIdProcess);

  const char overflow[] = "4294967296\0id process\0";
  EXPECT_FALSE(ParseCounterNames(overflow, sizeof overflow).hasIdProcess);
  const char largest[] = "0004294967295\0id process\0";
  EXPECT_EQ(ParseCounterNames(largest, sizeof largest).idProcessIndex, 4294967295u);
}

TEST(ParseCounterNames, StopsAtTheEmptyStringOrTheEndOfTheBytes) {
  const char ended[] = "230\0process\0\0" "784\0id process\0";
  CounterIndices found = ParseCounterNames(ended, sizeof ended);
  EXPECT_EQ(found.processIndexText, "230");
  EXPECT_FALSE(found.hasIdProcess);

  const char* first = "process";  // no string before it
  EXPECT_EQ(ParseCounterNames(first, 8).processIndexText, "");

  // A list cut inside its last string, with no terminator at all.
  std::string cut("230\0process\0" "784\0id proc", 23);
  std::vector<char> exact(cut.begin(), cut.end());
  found = ParseCounterNames(exact.data(), exact.size());
  EXPECT_EQ(found.processIndexText, "230");
  EXPECT_FALSE(found.hasIdProcess);
  EXPECT_EQ(ParseCounterNames(exact.data(), 0).processIndexText, "");
}

TEST(ImageNames, PathGivesTheTextAfterTheLastBackslash) {
  char name[kImageNameSize];
  const struct {
    const char* path;
    const char* expected;
  } cases[] = {{"D:\\A\\splus.exe", "splus.exe"}, {"splus.exe", "splus.exe"}, {"", ""},
               {"D:\\A\\", ""}, {"\\\\server\\share\\SPLUS.EXE", "SPLUS.EXE"}};
  for (const auto& c : cases) {
    ImageNameFromPath(c.path, std::strlen(c.path) + 1, name);
    EXPECT_STREQ(name, c.expected) << c.path;
  }
  std::vector<char> unterminated(260, 'q');
  ImageNameFromPath(unterminated.data(), unterminated.size(), name);
  EXPECT_EQ(std::string(name), std::string(259, 'q'));
}

TEST(ImageNames, InstanceNameGetsExeOrIsUnknown) {
  char name[kImageNameSize];
  ImageNameFromInstance(nullptr, name);
  EXPECT_STREQ(name, "unknown");
  ImageNameFromInstance("Splus", name);
  EXPECT_STREQ(name, "Splus.exe");
}

TEST(ImageNames, CompareFoldsOnlyTheLettersAToZ) {
  EXPECT_TRUE(SameImageName("SPLUS.EXE", "Splus.exe"));
  EXPECT_TRUE(SameImageName("splus.exe", "Splus.exe"));
  EXPECT_TRUE(SameImageName("", ""));
  EXPECT_FALSE(SameImageName("Splus.ex", "Splus.exe"));
  EXPECT_FALSE(SameImageName("Splus.exe", "Splus.ex"));
  EXPECT_FALSE(SameImageName("unknown", "Splus.exe"));
  // Characters 0x20 apart that are not letters A-Z / a-z, and letters
  // beyond ASCII, are not folded.
  EXPECT_FALSE(SameImageName("[", "{"));
  EXPECT_FALSE(SameImageName("@", "`"));
  EXPECT_FALSE(SameImageName("\xC4", "\xE4"));
}

TEST(FormatEchoLine, RightAlignsTheSignedIdAndPadsTheName) {
  char buffer[kEchoBufferSize];
  TaskRecord record{};
  record.processId = kIdleProcessId;
  std::strcpy(record.imageName, "Idle.exe");
  EXPECT_STREQ(FormatEchoLine(record, buffer, sizeof buffer), "  -2 Idle.exe        \n");
  record.processId = 123456;
  std::strcpy(record.imageName, "a-name-longer-than-16.exe");
  EXPECT_STREQ(FormatEchoLine(record, buffer, sizeof buffer), "123456 a-name-longer-than-16.exe\n");
  char small[8];
  record.processId = 4;
  EXPECT_STREQ(FormatEchoLine(record, small, sizeof small), "   4 a-");
}
