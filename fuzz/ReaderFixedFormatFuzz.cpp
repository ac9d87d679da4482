// GCT and PCL text through their readers, forced or detected.
#include "ReaderFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const TableFormat kFormats[] = {TableFormat::Gct, TableFormat::Pcl, TableFormat::Auto,
                                         TableFormat::Auto};
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* name = (data[0] & 64) != 0 ? "t.gct" : "t.pcl";
  ParseAndCheck(text, name, FuzzReadOptions(data[0] & 3, kFormats[(data[0] >> 4) & 3]));
  return 0;
}
