// The error of every input reader of the host.
#pragma once

#include <stdexcept>

namespace tarvok {

// Bad input: the message names the file position where it can.
class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tarvok
