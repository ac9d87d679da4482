// Tarvok.dll under Wine against the Linux library: the same call must
// write the same result files and the same monitor lines.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "engine/Tarvok.h"
#include "tests/launcher/WineHarness.h"
#include "tests/launcher/windows/ComparedCall.h"
#include "tests/support/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> FilesIn(const std::string& directory) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return files;
}

// The Windows runtime writes text files in text mode: each line feed as
// carriage return and line feed. Every other byte must be the same.
std::string InTextMode(const std::string& text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

void ExpectSameText(const std::string& windows, const std::string& onLinux, const std::string& name) {
  if (windows == onLinux) return;
  EXPECT_EQ(windows, InTextMode(onLinux)) << name;
}

TEST(TarvokDllUnderWine, ResultFilesAndMonitorLinesEqualTheLinuxLibrarys) {
  const std::string work = WineWorkDir() + "/dll";
  fs::remove_all(work);
  for (const char* sub : {"linux", "windows"}) fs::create_directories(work + "/" + sub);
  const std::string table = work + "/table.tsv";
  std::ofstream(table) << "gene\ts1\ts2\nG1\t1.5\t2\n";

  ChildResult linuxRun = RunInChild([&] {
    setenv("TVOUTPUT", (work + "/linux").c_str(), 1);
    RunComparedCall(RuzoVavav, tsvFileFormatTest, table.c_str());
  });
  ASSERT_EQ(linuxRun.exitStatus, 0) << linuxRun.out << linuxRun.err;
  ASSERT_NE(linuxRun.out.find("tsvFileFormatTest 1 1\n"), std::string::npos);
  ASSERT_NE(linuxRun.out.find("clustersDone 2\n"), std::string::npos) << linuxRun.out;

  CopyFileTo(WindowsBuildDir() + "/engine/Tarvok.dll", work + "/bin/Tarvok.dll");
  CopyFileTo(WindowsBuildDir() + "/tests/launcher/windows/DllHost.exe", work + "/bin/DllHost.exe");
  setenv("TVOUTPUT", WindowsPath(work + "/windows").c_str(), 1);
  WineRun windows = RunWine({WindowsPath(work + "/bin/DllHost.exe"),
                             WindowsPath(work + "/bin/Tarvok.dll"), WindowsPath(table)});
  unsetenv("TVOUTPUT");
  ASSERT_EQ(windows.exitStatus, 0) << windows.out;
  ExpectSameText(windows.out, linuxRun.out, "standard output");

  std::map<std::string, std::string> linuxFiles = FilesIn(work + "/linux");
  std::map<std::string, std::string> windowsFiles = FilesIn(work + "/windows");
  EXPECT_GE(linuxFiles.size(), 15u);
  ASSERT_EQ(windowsFiles.size(), linuxFiles.size());
  for (const auto& [name, content] : linuxFiles) {
    ASSERT_EQ(windowsFiles.count(name), 1u) << name;
    ExpectSameText(windowsFiles[name], content, name);
  }
}

}  // namespace
