// The launcher itself, run under Wine: its boxes, exit status, the command
// line and environment that the host receives, and the running-host check.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "tests/launcher/WineHarness.h"
#include "tests/support/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

const char* const kRegistryMessage = "Could NOT find the path to SPlus in the registry ";
const char* const kCommandKey = "HKEY_CLASSES_ROOT\\AxumGraphSheetFileType\\shell\\New\\command";
const int kFailed = 255;  // -1 as Unix sees it

std::string Work(const std::string& name) { return WineWorkDir() + "/" + name; }
std::string Built(const std::string& name) { return WindowsBuildDir() + "/" + name; }

// Where the tests lay things out: the installation, the stand-in host and
// a drive E: whose root holds another copy of the launcher.
std::string InstallDir() { return Work("inst"); }
std::string HostDir() { return Work("host"); }
std::string HostPath() { return WindowsPath(HostDir() + "/Splus.exe"); }
std::string InstallWin() { return WindowsPath(InstallDir()) + "\\"; }

enum class Key { kMissing, kNoDefault, kValue };

// SetRegistry: the host command key (missing, without a default value, or
// with value) and the Windows version Wine reports to launcher.exe ("" for
// its own, an NT version).
void SetRegistry(Key key, const std::string& value = "", const std::string& version = "") {
  std::string body = "[-HKEY_CLASSES_ROOT\\AxumGraphSheetFileType]\n\n"
                     "[-HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\launcher.exe]\n\n";
  if (key != Key::kMissing) {
    body += "[" + std::string(kCommandKey) + "]\n";
    body += key == Key::kValue ? "@=" + RegText(value) + "\n\n" : "\"Other\"=\"x\"\n\n";
  }
  if (!version.empty()) {
    body += "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\launcher.exe]\n\"Version\"=" +
            RegText(version) + "\n";
  }
  ImportRegistry(body);
}

// The host's command in the registry: the stand-in host, then padding.
std::string HostCommand(std::size_t padding = 0) {
  return "\"" + HostPath() + "\" -x" + std::string(padding, 'p');
}

// What the stand-in host wrote: its command line, TVHOME and TVOUTPUT.
std::vector<std::string> HostRecord() {
  std::string path = HostDir() + "/record.txt";
  if (!WaitForFile(path)) return {};
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// ExpectOneBox: exactly one box, with that text, caption and MB_OK. A text
// cut by the trace must match as far as it was shown.
void ExpectOneBox(const WineRun& run, const std::string& text,
                  const std::string& caption = "Fatal Problems...") {
  ASSERT_EQ(run.boxes.size(), 1u);
  const WineBox& box = run.boxes[0];
  if (box.textCut) {
    EXPECT_GE(box.text.size(), 200u);
    EXPECT_EQ(box.text, text.substr(0, box.text.size()));
  } else {
    EXPECT_EQ(box.text, text);
  }
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.style, 0u);
}

class LauncherUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CopyFileTo(Built("launcher/launcher.exe"), InstallDir() + "/launcher.exe");
    CopyFileTo(Built("tests/launcher/windows/Splus.exe"), HostDir() + "/Splus.exe");
    CopyFileTo(Built("tests/launcher/windows/EnvRunner.exe"), Work("runner/EnvRunner.exe"));
  }
  void SetUp() override {
    for (const char* name : {"record.txt", "ready", "stop"}) fs::remove(HostDir() + "/" + name);
  }
  static WineRun Launch(const std::string& launcher = "") {
    return RunWine({launcher.empty() ? WindowsPath(InstallDir() + "/launcher.exe") : launcher},
                   true);
  }
};

TEST_F(LauncherUnderWine, StartsTheHostWithTheBuiltCommandLineAndEnvironment) {
  SetRegistry(Key::kValue, HostCommand());
  WineRun run = Launch();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.out, "");  // the privilege step reported nothing
  std::vector<std::string> record = HostRecord();
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[0], HostCommand() + "  '" + InstallWin() + "\\splus\\Tarvok.ssc'");
  EXPECT_EQ(record[1], InstallWin());
  EXPECT_EQ(record[2], InstallWin() + "output");
}

TEST_F(LauncherUnderWine, InstallationInADriveRoot) {
  fs::path drive = Work("prefix/dosdevices/e:");
  fs::remove(drive);
  fs::create_directories(Work("edrive"));
  fs::create_directory_symlink(Work("edrive"), drive);
  CopyFileTo(Built("launcher/launcher.exe"), Work("edrive/launcher.exe"));
  SetRegistry(Key::kValue, HostCommand());
  WineRun run = Launch("E:\\launcher.exe");
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<std::string> record = HostRecord();
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[0], HostCommand() + "  'E:\\\\splus\\Tarvok.ssc'");
  EXPECT_EQ(record[1], "E:\\");
  EXPECT_EQ(record[2], "E:\\output");
}

TEST_F(LauncherUnderWine, ValuesUpTo259BytesAreReadAndTheLineIsCutAt259) {
  std::string value = HostCommand();
  value += std::string(258 - value.size(), 'p');  // 259 bytes with the terminator
  SetRegistry(Key::kValue, value);
  WineRun run = Launch();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(run.boxes.empty());
  std::vector<std::string> record = HostRecord();
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[0], (value + "  '" + InstallWin()).substr(0, 259));
}

TEST_F(LauncherUnderWine, RegistryFailuresShareOneMessage) {
  for (Key key : {Key::kMissing, Key::kNoDefault, Key::kValue}) {
    std::string value = HostCommand();
    value += std::string(259 - value.size(), 'p');  // 260 bytes: one too many
    SetRegistry(key, value);
    WineRun run = Launch();
    EXPECT_EQ(run.exitStatus, kFailed);
    ExpectOneBox(run, kRegistryMessage);
    EXPECT_TRUE(HasCall(run, "SetEnvironmentVariableA", "\"TVOUTPUT\""));
  }
  EXPECT_FALSE(fs::exists(HostDir() + "/record.txt"));
}

TEST_F(LauncherUnderWine, HostThatCannotStartIsReportedWithTheLinePassed) {
  SetRegistry(Key::kValue, "");  // present but empty: accepted
  WineRun run = Launch();
  EXPECT_EQ(run.exitStatus, kFailed);
  ExpectOneBox(run, "CreateProcess failed while trying to launch:   '" + InstallWin() +
                        "\\splus\\Tarvok.ssc'");

  std::string missing = "\"" + WindowsPath(Work("nowhere/Splus.exe")) + "\" ";
  missing += std::string(230 - missing.size(), 'q');
  SetRegistry(Key::kValue, missing);
  run = Launch();
  EXPECT_EQ(run.exitStatus, kFailed);
  ExpectOneBox(run, "CreateProcess failed while trying to launch: " +
                        (missing + "  '" + InstallWin()).substr(0, 259));
}

TEST_F(LauncherUnderWine, UserProfileMissingOrEmptyStopsWithTvhomeAlreadySet) {
  SetRegistry(Key::kValue, HostCommand());
  std::string runner = WindowsPath(Work("runner/EnvRunner.exe"));
  std::string launcher = WindowsPath(InstallDir() + "/launcher.exe");
  for (const char* change : {"USERPROFILE=", "-USERPROFILE"}) {
    WineRun run = RunWine({runner, change, "--", launcher}, true);
    EXPECT_EQ(run.exitStatus, kFailed) << change;
    ExpectOneBox(run, "GetEnvironmentVariable failed for USERPROFILE: USERPROFILE");
    EXPECT_TRUE(HasCall(run, "SetEnvironmentVariableA", "\"TVHOME\""));
    EXPECT_FALSE(HasCall(run, "SetEnvironmentVariableA", "\"TVOUTPUT\""));
  }
  EXPECT_FALSE(fs::exists(HostDir() + "/record.txt"));

  // Any non-empty value passes, however long, and leaves TVOUTPUT alone.
  WineRun run =
      RunWine({runner, "USERPROFILE=" + std::string(400, 'u'), "--", launcher}, true);
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<std::string> record = HostRecord();
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[2], InstallWin() + "output");
}

TEST_F(LauncherUnderWine, PathsTooLongForTheFixedBuffersAreRefused) {
  // A directory of 254 characters: with a short program name the module
  // path fits, but the directory and "output" do not fit 259 characters.
  std::string directory = WineWorkDir() + "/long";
  while (WindowsPath(directory).size() + 1 < 254 - 100) directory += "/" + std::string(99, 'd');
  directory += "/" + std::string(254 - WindowsPath(directory).size() - 2, 'e');
  ASSERT_EQ(WindowsPath(directory).size() + 1, 254u);
  SetRegistry(Key::kValue, HostCommand());

  CopyFileTo(Built("launcher/launcher.exe"), directory + "/l.exe");
  WineRun run = Launch(WindowsPath(directory + "/l.exe"));
  EXPECT_EQ(run.exitStatus, kFailed);
  ExpectOneBox(run, "SetEnvironmentVariable failed on TVOUTPUT: TVOUTPUT");
  EXPECT_TRUE(HasCall(run, "SetEnvironmentVariableA", "\"TVHOME\""));

  // "launcher.exe" there makes a module path of 266 characters: cut by the
  // platform, so the launcher refuses it rather than guess a directory.
  CopyFileTo(Built("launcher/launcher.exe"), directory + "/launcher.exe");
  run = Launch(WindowsPath(directory + "/launcher.exe"));
  EXPECT_EQ(run.exitStatus, kFailed);
  ExpectOneBox(run, "GetModuleFileName failed, while trygin to get the path to our EXE location");
  EXPECT_FALSE(HasCall(run, "SetEnvironmentVariableA"));
  EXPECT_FALSE(fs::exists(HostDir() + "/record.txt"));
}

// Under the 95 family's version the launcher lists processes with the
// toolhelp snapshot and echoes each one it examines.
TEST_F(LauncherUnderWine, RunningHostStopsTheLauncherBeforeAnythingElse) {
  WaitForWineIdle();  // no stand-in host of an earlier test still ending
  SetRegistry(Key::kValue, HostCommand(), "win98");
  // The stand-in host waits in the background until told to stop.
  pid_t pid = fork();
  if (pid == 0) {
    WineRun run = RunWine({HostPath(), "--wait"});
    _exit(run.exitStatus);
  }
  ASSERT_TRUE(WaitForFile(HostDir() + "/ready"));
  WineRun run = Launch();
  std::ofstream(HostDir() + "/stop") << "stop\n";
  int status = 0;
  waitpid(pid, &status, 0);

  EXPECT_EQ(run.exitStatus, kFailed);
  ExpectOneBox(run, "SPlus.exe is already running, please kill it then rerun this launcher.",
               "Problems...");
  // Nothing after the check: no own path (the runtime asks for it with a
  // null module at start-up), no variables, no registry key.
  for (const std::string& call : run.calls) {
    if (call.find("GetModuleFileNameA(") == std::string::npos) continue;
    EXPECT_NE(call.find("GetModuleFileNameA(00000000,"), std::string::npos) << call;
  }
  EXPECT_FALSE(HasCall(run, "SetEnvironmentVariableA"));
  EXPECT_FALSE(HasCall(run, "RegOpenKeyExA"));
  ASSERT_FALSE(run.echo.empty());
  EXPECT_TRUE(std::regex_match(run.echo.back(), std::regex(" *[0-9]+ Splus\\.exe       \n")))
      << run.echo.back();
  for (const std::string& line : run.echo) {
    EXPECT_TRUE(std::regex_match(line, std::regex("[ 0-9-]{4}[0-9]* .{16,}\n"))) << line;
  }
}

TEST_F(LauncherUnderWine, ToolhelpListWithoutTheHostIsEchoedOnceAndTheHostStarted) {
  WaitForWineIdle();
  SetRegistry(Key::kValue, HostCommand(), "win98");
  WineRun run = Launch();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_TRUE(run.boxes.empty());
  std::set<std::string> distinct(run.echo.begin(), run.echo.end());
  EXPECT_EQ(distinct.size(), run.echo.size());
  EXPECT_TRUE(std::any_of(run.echo.begin(), run.echo.end(), [](const std::string& line) {
    return line.find(" launcher.exe    \n") != std::string::npos;
  }));
  EXPECT_EQ(HostRecord().size(), 3u);
}

TEST_F(LauncherUnderWine, PlatformOfNeitherFamilyIsTakenAsNotRunning) {
  SetRegistry(Key::kValue, HostCommand(), "win31");
  WineRun run = Launch();
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "tlist requires Windows NT or Windows 95\r\n");
  EXPECT_TRUE(run.echo.empty());
  EXPECT_EQ(HostRecord().size(), 3u);
}

}  // namespace
