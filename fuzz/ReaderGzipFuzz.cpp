// Bytes through the gzip source in reads of varying size, then the text
// check; damaged or cut-off streams must end in a TableError.
#include <memory>

#include "host/tables/ByteSource.h"

using namespace tarvok;  // the readers' names

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    GzipSource source(std::make_unique<MemorySource>(bytes));
    std::string text;
    std::string buffer(chunk, '\0');
    for (std::size_t got; (got = source.Read(buffer.data(), chunk)) > 0;) {
      if (got > chunk) std::abort();
      text.append(buffer.data(), got);
    }
    CheckTextEncoding(text);
  } catch (const TableError&) {
  }
  return 0;
}
