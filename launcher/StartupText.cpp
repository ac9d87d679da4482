#include "launcher/StartupText.h"

#include <cstring>

bool InstallationDirectory(const char* modulePath, std::string& directory) {
  const char* lastBackslash = std::strrchr(modulePath, '\\');
  if (lastBackslash == nullptr) return false;
  directory.assign(modulePath, static_cast<std::size_t>(lastBackslash - modulePath) + 1);
  return true;
}

bool OutputValue(const std::string& directory, char* value) {
  std::string text = directory + "output";
  if (text.size() >= kOutputValueSize) {
    value[0] = '\0';
    return false;
  }
  std::memcpy(value, text.c_str(), text.size() + 1);
  return true;
}

void BuildCommandLine(const std::string& hostCommand, const std::string& directory,
                      char* commandLine) {
  std::string command = hostCommand + "  '" + directory + "\\splus\\Tarvok.ssc'";
  std::size_t length = command.size() < kCommandLineSize - 1 ? command.size() : kCommandLineSize - 1;
  std::memcpy(commandLine, command.data(), length);
  commandLine[length] = '\0';
}
