// Class-file text through the class reader and the checks against a table.
#include <cstdint>
#include <cstdlib>

#include "host/tables/ClassFile.h"

using namespace tarvok;  // the readers' names

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> notes;
  try {
    SampleClasses classes = ParseClassText(text, notes);
    if (classes.classes.empty()) std::abort();
    for (int c : classes.classes) {  // words name every class, integers none
      if (!classes.names.empty() && classes.names.count(c) == 0) std::abort();
    }
    CheckClasses(classes, static_cast<int>(classes.classes.size()), (data[0] & 1) != 0);
    CheckClasses(classes, data[0] >> 1, false);
  } catch (const TableError&) {
  }
  return 0;
}
