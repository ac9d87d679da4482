// Splus.exe for the launcher's tests under Wine: a stand-in for the host.
//
// Started by the launcher, it writes "record.txt" beside itself: its
// command line, then TVHOME and TVOUTPUT as it inherited them ("<unset>"
// when missing), one per line. Started with "--wait", it writes "ready"
// beside itself and stays until a file "stop" appears there (60 s at
// most), so that a test can run the launcher while it is listed.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Directory of this executable, with its trailing backslash.
std::string OwnDirectory() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
  return text.substr(0, text.rfind('\\') + 1);
}

std::string Variable(const char* name) {
  char value[4096];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return "<unset>";
  return std::string(value, length);
}

// Writes text to a temporary file and renames it into place, so that a
// test polling for the file never sees it half written.
void WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int main() {
  const std::string directory = OwnDirectory();
  const std::string commandLine = GetCommandLineA();
  if (commandLine.find("--wait") != std::string::npos) {
    WriteFileAtomically(directory + "ready", "ready\n");
    for (int i = 0; i < 600 && GetFileAttributesA((directory + "stop").c_str()) ==
                                   INVALID_FILE_ATTRIBUTES; ++i) {
      Sleep(100);
    }
    return 0;
  }
  WriteFileAtomically(directory + "record.txt", commandLine + "\n" + Variable("TVHOME") + "\n" +
                                                    Variable("TVOUTPUT") + "\n");
  return 0;
}
