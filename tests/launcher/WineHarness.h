// Runs the Windows artifacts under Wine for the tests: one fresh prefix per
// test run, every Wine call bounded by `timeout`, the message boxes and
// debugger-output lines read back from Wine's trace.
//
// The test program is given two directories through the environment:
// TARVOK_WINDOWS_BUILD, a MinGW build of the tree, and TARVOK_WINE_WORK,
// where the prefix and the tests' installations are laid out anew; and
// TARVOK_WINE_LOADER, the Wine loader for that build's programs (by
// default the 64-bit one).
#pragma once

#include <string>
#include <vector>

// One MessageBoxA call. A long text is cut by the trace: textCut tells,
// and text then holds the start that was shown.
struct WineBox {
  std::string text;
  std::string caption;
  unsigned style = 0;
  bool textCut = false;
};

// What one program run under Wine left behind.
struct WineRun {
  int exitStatus = -1;             // 0..255 as Unix sees it (-1 from Windows is 255)
  std::string out;                 // standard output
  std::vector<WineBox> boxes;      // message boxes, in order
  std::vector<std::string> echo;   // OutputDebugStringA texts, in order
  std::vector<std::string> calls;  // traced "Call" lines, raw
};

// Paths given by the environment, made absolute; the prefix is created on
// first use.
const std::string& WindowsBuildDir();
const std::string& WineWorkDir();

// WindowsPath: the Z: drive form of an absolute Unix path.
std::string WindowsPath(const std::string& unixPath);

// RunWine: runs the Wine loader on args (a program and its
// arguments) in the work directory, within 60 seconds. trace: also record
// message boxes, debugger output and the calls named in the prefix's
// relay list (MessageBoxA, GetModuleFileNameA, SetEnvironmentVariableA,
// RegOpenKeyExA).
WineRun RunWine(const std::vector<std::string>& args, bool trace = false);

// WaitForWineIdle: waits until every program under Wine has ended (and
// the server after them).
void WaitForWineIdle();

// ImportRegistry: imports .reg text (without its header line) into the
// prefix; fails the test when reg.exe reports an error.
void ImportRegistry(const std::string& body);

// RegText: a value as written in .reg files (quoted, escaped).
std::string RegText(const std::string& value);

// WaitForFile: waits up to seconds for path to exist. Returns whether it
// does.
bool WaitForFile(const std::string& path, double seconds = 30);

// CopyFileTo: copies a file, creating the target's directory; fails the
// test on error.
void CopyFileTo(const std::string& from, const std::string& to);

// HasCall: whether a traced call of function has an argument text that
// contains fragment (empty: any call).
bool HasCall(const WineRun& run, const std::string& function, const std::string& fragment = "");
