// GCT 1.3 text through its reader, forced or detected, with and without
// classes taken from a column metadata row.
#include "ReaderFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kClasses[] = {"", "class", "disease", "na"};
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReadOptions options = FuzzReadOptions(data[0] & 3, (data[0] & 4) != 0 ? TableFormat::Gct : TableFormat::Auto);
  options.classesFrom = kClasses[(data[0] >> 4) & 3];
  ParseAndCheck(text, "t.gct", options);
  return 0;
}
