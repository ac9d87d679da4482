// Feeds arbitrary bytes to the table probe as a file, and to the number
// test as a field. The probe must return normally on every input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/TableProbe.h"
#include "engine/Tarvok.h"

namespace {

// One scratch file for the whole run, named after this process and
// removed when it ends.
const std::string& ScratchPath() {
  static const std::string path = "/tmp/tarvok-probe-fuzz-" + std::to_string(getpid()) + ".tsv";
  static const int removeAtExit = std::atexit([] { std::remove(ScratchPath().c_str()); });
  (void)removeAtExit;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)IsNumericField(text.c_str());
  (void)IsNumericText(text.data(), text.size());

  std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  int header = -1;
  int labels = -1;
  char* path = const_cast<char*>(ScratchPath().c_str());
  tsvFileFormatTest(&path, &header, &labels);
  if ((header != 0 && header != 1) || (labels != 0 && labels != 1)) std::abort();
  return 0;
}
