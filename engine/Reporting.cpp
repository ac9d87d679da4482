#include "engine/Reporting.h"

#include <cstdlib>

void FatalError(const char* message) {
  ReportFailure(message);
  std::exit(1);
}
