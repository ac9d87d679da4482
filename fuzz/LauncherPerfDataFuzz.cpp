// Fuzzes the launcher's walk over performance data and its counter-name
// list parse: neither may read outside the data it is given, whatever the
// lengths and offsets inside say.
//
// An input whose first byte is odd is laid over a well-formed block (the
// rest of the input, XORed byte by byte, sets the block's length too), so
// that mutations reach every field of a real walk at once; other inputs
// are taken as raw blocks. Every block is an exact-size heap copy, so the
// sanitizers see a read past its end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "launcher/ProcessList.h"
#include "tests/launcher/PerfDataBlock.h"

namespace {

std::vector<unsigned char> Template() {
  PerfBlockSpec layout;
  layout.instances = {{u"Idle", 0}, {u"System", 4}, {u"Splus", 1234}, {u"caf\u00e9", 9}};
  return BuildPerfBlock(layout);
}

TaskRecord records[kTaskTableSize];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<unsigned char> kTemplate = Template();
  std::vector<unsigned char> block;
  if (size > 0 && (data[0] & 1) != 0) {
    block.assign(size - 1, 0);
    for (std::size_t i = 0; i + 1 < size; ++i) {
      block[i] = static_cast<unsigned char>((i < kTemplate.size() ? kTemplate[i] : 0) ^ data[i + 1]);
    }
  } else {
    block.assign(data, data + size);
  }
  std::size_t count = WalkPerfData(block.data(), block.size(), kIdProcessIndex, kTaskTableSize - 1,
                                   AsciiConverter, records);
  char echo[kEchoBufferSize];
  for (std::size_t i = 0; i < count; ++i) {
    if (std::memchr(records[i].imageName, '\0', kImageNameSize) == nullptr) __builtin_trap();
    FormatEchoLine(records[i], echo, sizeof echo);
    SameImageName(records[i].imageName, "Splus.exe");
  }
  ParseCounterNames(reinterpret_cast<const char*>(block.data()), block.size());
  return 0;
}
