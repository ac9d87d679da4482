// GEO series matrix and DataSet SOFT text through their readers, with and
// without classes taken from the sample annotation.
#include "ReaderFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const TableFormat kFormats[] = {TableFormat::SeriesMatrix, TableFormat::Gds, TableFormat::Auto,
                                         TableFormat::Auto};
  static const char* const kClasses[] = {"", "disease state", "source_name_ch1", "!Sample_title"};
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReadOptions options = FuzzReadOptions(data[0] & 3, kFormats[(data[0] >> 2) & 3]);
  options.classesFrom = kClasses[(data[0] >> 4) & 3];
  ParseAndCheck(text, "GSE1_series_matrix.txt", options);
  return 0;
}
