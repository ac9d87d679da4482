#include "launcher/StartupText.h"

#include <gtest/gtest.h>

#include <string>

TEST(InstallationDirectory, KeepsTheTrailingBackslash) {
  std::string directory = "untouched";
  EXPECT_TRUE(InstallationDirectory("D:\\Tools\\Analysis\\launcher.exe", directory));
  EXPECT_EQ(directory, "D:\\Tools\\Analysis\\");
  EXPECT_TRUE(InstallationDirectory("E:\\launcher.exe", directory));
  EXPECT_EQ(directory, "E:\\");
  EXPECT_TRUE(InstallationDirectory("\\\\server\\share\\launcher.exe", directory));
  EXPECT_EQ(directory, "\\\\server\\share\\");

  directory = "untouched";
  EXPECT_FALSE(InstallationDirectory("launcher.exe", directory));
  EXPECT_FALSE(InstallationDirectory("D:/A/launcher.exe", directory));
  EXPECT_EQ(directory, "untouched");
}

TEST(OutputValue, AppendsOutputWithinTheBuffer) {
  char value[kOutputValueSize];
  EXPECT_TRUE(OutputValue("D:\\A\\", value));
  EXPECT_STREQ(value, "D:\\A\\output");
  EXPECT_TRUE(OutputValue("E:\\", value));
  EXPECT_STREQ(value, "E:\\output");

  std::string longest = "C:\\" + std::string(249, 'd') + "\\";  // 253 + 6 = 259 characters
  EXPECT_TRUE(OutputValue(longest, value));
  EXPECT_EQ(std::string(value), longest + "output");
  EXPECT_FALSE(OutputValue("C:\\" + std::string(250, 'd') + "\\", value));
  EXPECT_STREQ(value, "");
}

TEST(BuildCommandLine, AppendsTheQuotedScriptPathWithItsDoubledBackslash) {
  char line[kCommandLineSize];
  BuildCommandLine("\"C:\\Program Files\\splus\\cmd\\Splus.exe\" /BATCH", "D:\\A\\", line);
  EXPECT_STREQ(line,
               "\"C:\\Program Files\\splus\\cmd\\Splus.exe\" /BATCH  'D:\\A\\\\splus\\Tarvok.ssc'");
  BuildCommandLine("", "E:\\", line);
  EXPECT_STREQ(line, "  'E:\\\\splus\\Tarvok.ssc'");
}

TEST(BuildCommandLine, CutsAfterTheTwoHundredFiftyNinthCharacter) {
  char line[kCommandLineSize];
  const std::string directory = "D:\\A\\";
  const std::string tail = "  'D:\\A\\\\splus\\Tarvok.ssc'";  // 26 characters
  std::string fits(259 - tail.size(), 'v');
  BuildCommandLine(fits, directory, line);
  EXPECT_EQ(std::string(line), fits + tail);

  std::string over = fits + "w";  // the closing apostrophe is lost
  BuildCommandLine(over, directory, line);
  EXPECT_EQ(std::string(line), over + tail.substr(0, tail.size() - 1));

  BuildCommandLine(std::string(600, 'x'), directory, line);
  EXPECT_EQ(std::string(line), std::string(259, 'x'));
}
