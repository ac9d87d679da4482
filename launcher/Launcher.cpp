// launcher: starts the SPlus host on the analysis script of this
// installation. A windowless program: one straight sequence of steps, each
// failure shown in a message box and answered with exit code -1.
#include <windows.h>

#include <cstring>
#include <string>

#include "launcher/ProcessCheck.h"
#include "launcher/StartupText.h"

#if !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA");
#endif

namespace {

constexpr const char* kHostImageName = "Splus.exe";
constexpr const char* kHostCommandKey = "AxumGraphSheetFileType\\shell\\New\\command";

// Registry values of up to this many bytes, terminator included, are read.
constexpr DWORD kHostCommandLimit = 259;

// ShowFatalProblem: shows message in an ownerless "Fatal Problems..." box
// with one OK button and returns when it is closed.
void ShowFatalProblem(const std::string& message) {
  MessageBoxA(nullptr, message.c_str(), "Fatal Problems...", MB_OK);
}

// ReadHostCommand: the default value of the host's command key.
// command (output) the value's text up to its first NUL
// Returns 0 on success, -1 when the key cannot be opened, -2 when its
// default value cannot be read (a value over 259 bytes included).
int ReadHostCommand(std::string& command) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kHostCommandKey, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return -1;
  }
  // One byte more than the limit, always zero, so the text is terminated
  // whatever the value holds.
  BYTE buffer[kHostCommandLimit + 1];
  std::memset(buffer, 0, sizeof buffer);
  DWORD size = kHostCommandLimit;
  LONG status = RegQueryValueExA(key, nullptr, nullptr, nullptr, buffer, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return -2;
  command.assign(reinterpret_cast<const char*>(buffer));
  return 0;
}

}  // namespace

// WinMain: the start-up sequence. All four arguments are ignored. Returns 0
// when the host was started, -1 on every other outcome.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (IsProcessRunning(kHostImageName)) {
    MessageBoxA(nullptr,
                "SPlus.exe is already running, please kill it then rerun this launcher.",
                "Problems...", MB_OK);
    return -1;
  }

  // A path of the buffer's full size may have been cut (and, on older
  // systems, left unterminated); it would name the wrong directory, so it
  // counts as a failure.
  char modulePath[kModulePathSize];
  DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), modulePath, kModulePathSize);
  if (length == 0 || length >= kModulePathSize) {
    ShowFatalProblem("GetModuleFileName failed, while trygin to get the path to our EXE location");
    return -1;
  }

  std::string directory;
  if (!InstallationDirectory(modulePath, directory)) {
    ShowFatalProblem(std::string("Couldn't find a backslash in the PathPlusFilename: ") +
                     modulePath);
    return -1;
  }

  if (!SetEnvironmentVariableA("TVHOME", directory.c_str())) {
    ShowFatalProblem("SetEnvironmentVariable failed, while trying to set: TVHOME");
    return -1;
  }

  char outputValue[kOutputValueSize];
  if (GetEnvironmentVariableA("USERPROFILE", outputValue, kOutputValueSize - 1) == 0) {
    ShowFatalProblem("GetEnvironmentVariable failed for USERPROFILE: USERPROFILE");
    return -1;
  }

  // A directory too long to take "output" within the value's storage is
  // reported like a failure to set the variable.
  if (!OutputValue(directory, outputValue) || !SetEnvironmentVariableA("TVOUTPUT", outputValue)) {
    ShowFatalProblem("SetEnvironmentVariable failed on TVOUTPUT: TVOUTPUT");
    return -1;
  }

  std::string hostCommand;
  if (ReadHostCommand(hostCommand) != 0) {
    ShowFatalProblem("Could NOT find the path to SPlus in the registry ");
    return -1;
  }

  char commandLine[kCommandLineSize];
  BuildCommandLine(hostCommand, directory, commandLine);
  const std::string passedLine(commandLine);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &process)) {
    ShowFatalProblem("CreateProcess failed while trying to launch: " + passedLine);
    return -1;
  }
  return 0;
}
