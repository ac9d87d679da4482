// Runs a piece of code in a forked child process with its standard output
// and standard error captured. The library ends its process on every fatal
// error, so fatal paths are observed from outside.
#pragma once

#include <functional>
#include <string>

struct ChildResult {
  int exitStatus = -1;  // exit code, or -1 when the child died by a signal
  std::string out;      // everything written to standard output
  std::string err;      // everything written to standard error
};

// Runs body() in a child; a body that returns normally exits with 0.
ChildResult RunInChild(const std::function<void()>& body);

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// The message of the tarvok::Error that body() throws, or "(no error)".
// Failures below the C face throw instead of ending the process, so they
// are observed in-process.
std::string ErrorMessage(const std::function<void()>& body);
