// GEO family SOFT text through its reader: with and without a platform
// chosen, classes from the samples' !Sample_ lines, and each log2 choice.
#include "ReaderFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const kPlatforms[] = {"", "GPL1", "gpl2", "GPL9"};
  static const char* const kClasses[] = {"", "disease state", "title", "!Sample_characteristics_ch1"};
  static const tarvok::LogChoice kLogs[] = {tarvok::LogChoice::No, tarvok::LogChoice::Auto, tarvok::LogChoice::Yes,
                                            tarvok::LogChoice::Auto};
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  ReadOptions options = FuzzReadOptions(data[0] & 3, (data[0] & 4) != 0 ? TableFormat::FamilySoft : TableFormat::Auto);
  options.platform = kPlatforms[(data[0] >> 4) & 3];
  options.classesFrom = kClasses[(data[0] >> 6) & 3];
  options.log2 = kLogs[data[1] & 3];
  ParseAndCheck(text, "GSE1_family.soft", options);
  return 0;
}
