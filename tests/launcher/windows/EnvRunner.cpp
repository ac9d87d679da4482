// EnvRunner.exe for the launcher's tests under Wine: runs a program with
// variables changed, which Wine does not allow from outside for some
// (it sets USERPROFILE itself).
//
// Usage: EnvRunner.exe [NAME=VALUE | -NAME]... -- PROGRAM [ARG]...
// NAME=VALUE sets a variable (an empty VALUE makes it empty), -NAME
// removes it. Waits for the program and exits with its exit code, or 120
// when it cannot be started.
#include <windows.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    std::string change = argv[i];
    if (change[0] == '-') {
      SetEnvironmentVariableA(change.c_str() + 1, nullptr);
    } else {
      std::size_t equals = change.find('=');
      if (equals == std::string::npos) return 120;
      SetEnvironmentVariableA(change.substr(0, equals).c_str(), change.c_str() + equals + 1);
    }
  }
  std::string commandLine;
  for (++i; i < argc; ++i) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += '"' + std::string(argv[i]) + '"';
  }
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (commandLine.empty() || !CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                             nullptr, nullptr, &startup, &process)) {
    return 120;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 120;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
