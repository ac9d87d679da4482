// The one error type of the library. Its message is the exact text a
// failure reports: the C face prints it as it stands and ends the process
// with status 1; every other face turns it into its own error.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvok {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The caller asked the analysis to stop (through its observer); nothing
// failed. Distinct so that faces can report an interrupt, not an error.
class Cancelled : public Error {
 public:
  Cancelled() : Error("Analysis cancelled\n") {}
};

// "Numerical Recipes: <message>": the form of every failure of the
// numerical routines and array allocators.
[[noreturn]] void NumericalError(const char* message);

}  // namespace tarvok
