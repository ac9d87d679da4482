#include "tests/launcher/WineHarness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

const char* const kWineServer = "wineserver";

// The functions whose calls the trace records.
const char* const kRelayInclude =
    "user32.MessageBoxA;kernel32.GetModuleFileNameA;kernel32.SetEnvironmentVariableA;"
    "advapi32.RegOpenKeyExA";

// The Wine loader for the build's programs: TARVOK_WINE_LOADER, by default
// the 64-bit one.
std::string WineLoader() {
  const char* loader = std::getenv("TARVOK_WINE_LOADER");
  return loader != nullptr && *loader != '\0' ? loader : "/usr/lib/wine/wine64";
}

std::string DirectoryFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    ADD_FAILURE() << name << " is not set; scripts/test-stages/windows.sh sets it";
    std::exit(1);
  }
  fs::create_directories(value);
  return fs::canonical(value).string();
}

// Runs argv (argv[0] looked up on PATH) in the work directory with
// WINEDEBUG set to debug, output captured, within timeout's limit.
ChildResult RunBounded(const std::vector<std::string>& argv, const std::string& debug) {
  return RunInChild([&] {
    if (chdir(WineWorkDir().c_str()) != 0) _exit(126);
    setenv("WINEDEBUG", debug.c_str(), 1);
    std::vector<std::string> full = {"timeout", "-k", "5", "60"};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> pointers;
    for (std::string& arg : full) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    execvp("timeout", pointers.data());
    _exit(127);
  });
}


// Reads a quoted text of the trace at text[at] ('"'), undoing its escapes.
// Returns the position after the closing quote.
std::size_t ReadQuoted(const std::string& text, std::size_t at, std::string& value) {
  value.clear();
  for (++at; at < text.size() && text[at] != '"'; ++at) {
    char c = text[at];
    if (c != '\\' || at + 1 >= text.size()) {
      value += c;
      continue;
    }
    char e = text[++at];
    if (e == 'n') {
      value += '\n';
    } else if (e == 'r') {
      value += '\r';
    } else if (e == 't') {
      value += '\t';
    } else if (e == 'x' && at + 2 < text.size()) {
      value += static_cast<char>(std::stoi(text.substr(at + 1, 2), nullptr, 16));
      at += 2;
    } else {
      value += e;
    }
  }
  return at + 1;
}

// ParseBox: "MessageBoxA(owner,address "text"[...],address "caption",style)".
bool ParseBox(const std::string& line, WineBox& box) {
  std::size_t at = line.find("MessageBoxA(");
  if (at == std::string::npos) return false;
  at = line.find('"', at);
  if (at == std::string::npos) return false;
  at = ReadQuoted(line, at, box.text);
  box.textCut = line.compare(at, 3, "...") == 0;
  at = line.find('"', at);
  if (at == std::string::npos) return false;
  at = ReadQuoted(line, at, box.caption);
  box.style = static_cast<unsigned>(std::stoul(line.substr(at + 1), nullptr, 16));
  return true;
}

void ParseTrace(const std::string& trace, WineRun& run) {
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t echo = line.find(":OutputDebugStringA \"");
    if (echo != std::string::npos) {
      std::string text;
      ReadQuoted(line, line.find('"', echo), text);
      run.echo.push_back(text);
      continue;
    }
    if (line.find(":Call ") == std::string::npos) continue;
    run.calls.push_back(line);
    WineBox box;
    if (ParseBox(line, box)) run.boxes.push_back(box);
  }
}

// A fresh prefix for this run, with the relay list set; the server is
// stopped when the tests end.
class WinePrefix : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string prefix = WineWorkDir() + "/prefix";
    fs::remove_all(prefix);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("DISPLAY", "", 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no installer dialogs
    ChildResult boot = RunBounded({WineLoader(), "wineboot", "-i"}, "-all");
    ASSERT_EQ(boot.exitStatus, 0) << boot.err;
    WaitForWineIdle();
    ImportRegistry("[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n\"RelayInclude\"=" +
                   RegText(kRelayInclude) + "\n");
  }
  void TearDown() override {
    WaitForWineIdle();
    RunBounded({kWineServer, "-k"}, "-all");
  }
};

::testing::Environment* const gWinePrefix = ::testing::AddGlobalTestEnvironment(new WinePrefix);

}  // namespace

void WaitForWineIdle() { RunBounded({kWineServer, "-w"}, "-all"); }

const std::string& WindowsBuildDir() {
  static const std::string dir = DirectoryFromEnvironment("TARVOK_WINDOWS_BUILD");
  return dir;
}

const std::string& WineWorkDir() {
  static const std::string dir = DirectoryFromEnvironment("TARVOK_WINE_WORK");
  return dir;
}

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

WineRun RunWine(const std::vector<std::string>& args, bool trace) {
  std::vector<std::string> argv = {WineLoader()};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildResult result = RunBounded(argv, trace ? "-all,+relay,+debugstr" : "-all");
  WineRun run;
  run.exitStatus = result.exitStatus;
  run.out = result.out;
  if (trace) ParseTrace(result.err, run);
  return run;
}

std::string RegText(const std::string& value) {
  std::string text = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') text += '\\';
    text += c;
  }
  return text + "\"";
}

void ImportRegistry(const std::string& body) {
  std::string file = WineWorkDir() + "/import.reg";
  std::ofstream(file, std::ios::binary) << "Windows Registry Editor Version 5.00\n\n" << body;
  WineRun run = RunWine({"reg", "import", WindowsPath(file)});
  ASSERT_EQ(run.exitStatus, 0) << body;
}

bool WaitForFile(const std::string& path, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void CopyFileTo(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  std::error_code error;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
  ASSERT_FALSE(error) << from << " -> " << to << ": " << error.message();
}

bool HasCall(const WineRun& run, const std::string& function, const std::string& fragment) {
  for (const std::string& line : run.calls) {
    std::size_t at = line.find("." + function + "(");
    if (at != std::string::npos && line.find(fragment, at) != std::string::npos) return true;
  }
  return false;
}
