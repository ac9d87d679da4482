// The texts that the launcher's start-up sequence builds: the installation
// directory from its own path, the output-directory value and the host's
// command line. Plain string work, built and tested on every platform.
#pragma once

#include <cstddef>
#include <string>

// Fixed buffers of the start-up sequence: the platform's path limit,
// terminator included.
inline constexpr std::size_t kModulePathSize = 260;
inline constexpr std::size_t kOutputValueSize = 260;
inline constexpr std::size_t kCommandLineSize = 260;

// InstallationDirectory: the module path cut right after its last
// backslash, so that it keeps the backslash ("D:\A\launcher.exe" gives
// "D:\A\").
// modulePath (input)  NUL-terminated path of the launcher's executable
// directory  (output) the directory; untouched when there is no backslash
// Returns false when the path holds no backslash.
bool InstallationDirectory(const char* modulePath, std::string& directory);

// OutputValue: the installation directory followed by "output".
// directory (input)  the installation directory
// value     (output) char[kOutputValueSize], the terminated text
// Returns false, leaving value empty, when the text would not fit.
bool OutputValue(const std::string& directory, char* value);

// BuildCommandLine: the host command, two blanks and an apostrophe, the
// installation directory, "\splus\Tarvok.ssc" and the closing apostrophe,
// cut after its 259th character.
// hostCommand (input)  the registry's command for the host
// directory   (input)  the installation directory (ends with a backslash,
//                      so the script path holds two in a row)
// commandLine (output) char[kCommandLineSize], the terminated, cut line
void BuildCommandLine(const std::string& hostCommand, const std::string& directory,
                      char* commandLine);
