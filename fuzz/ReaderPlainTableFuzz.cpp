// TSV and CSV text (comma or semicolon) through the plain-table reader
// with every layout answer, missing-value policy and decimal mark, and
// with the format left to detection.
#include "ReaderFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const TableFormat kFormats[] = {TableFormat::Auto, TableFormat::Tsv, TableFormat::Csv,
                                         TableFormat::Auto};
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  ParseAndCheck(text, (data[0] & 128) != 0 ? "t.csv" : "t.tsv",
                FuzzReadOptions(data[0], kFormats[(data[0] >> 5) & 3]));
  return 0;
}
