// Builds performance-data blocks in the published 32-bit layout for the
// launcher's tests and fuzz seeds: a PERF_DATA_BLOCK, one Process object,
// its counter definitions and its instances, each instance followed by a
// counter block that holds the process id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PerfInstanceSpec {
  std::u16string name;
  std::uint32_t processId;
};

struct PerfBlockSpec {
  std::vector<std::uint32_t> counterIndices{6, 784, 12};  // title index of each definition
  std::uint32_t idCounterOffset = 8;      // CounterOffset of the process-id counter
  std::uint32_t definitionByteLength = 40;  // each definition's own ByteLength field
  std::int32_t numInstances = -2;          // -2: the number of instances given
  std::vector<PerfInstanceSpec> instances;
};

inline constexpr std::uint32_t kIdProcessIndex = 784;
inline constexpr std::size_t kBlockHeaderSize = 88;
inline constexpr std::size_t kObjectHeaderSize = 64;
inline constexpr std::size_t kCounterBlockSize = 16;

inline void PutWord(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// BuildPerfBlock: the bytes of a block described by layout. The object
// starts at 88, its counter definitions at object + 64, its instances
// after the last definition. The other counters' values are 0x55 bytes.
inline std::vector<unsigned char> BuildPerfBlock(const PerfBlockSpec& layout) {
  std::vector<unsigned char> bytes(kBlockHeaderSize + kObjectHeaderSize, 0);
  const char16_t signature[] = u"PERF";
  for (int i = 0; i < 4; ++i) {
    bytes[2 * i] = static_cast<unsigned char>(signature[i]);
  }
  PutWord(bytes, 8, 1);                       // LittleEndian
  PutWord(bytes, 24, kBlockHeaderSize);       // HeaderLength
  PutWord(bytes, 28, 1);                      // NumObjectTypes
  const std::size_t object = kBlockHeaderSize;
  const std::size_t definitions = layout.counterIndices.size();
  PutWord(bytes, object + 4, static_cast<std::uint32_t>(kObjectHeaderSize + 40 * definitions));
  PutWord(bytes, object + 8, kObjectHeaderSize);
  PutWord(bytes, object + 12, 230);
  PutWord(bytes, object + 32, static_cast<std::uint32_t>(definitions));
  PutWord(bytes, object + 40,
          static_cast<std::uint32_t>(layout.numInstances == -2
                                         ? static_cast<std::int32_t>(layout.instances.size())
                                         : layout.numInstances));
  for (std::size_t i = 0; i < definitions; ++i) {
    std::size_t at = object + kObjectHeaderSize + 40 * i;
    PutWord(bytes, at, layout.definitionByteLength);
    PutWord(bytes, at + 4, layout.counterIndices[i]);
    PutWord(bytes, at + 32, 4);
    PutWord(bytes, at + 36, layout.counterIndices[i] == kIdProcessIndex ? layout.idCounterOffset : 4);
  }
  for (const PerfInstanceSpec& instance : layout.instances) {
    std::size_t at = bytes.size();
    std::size_t nameBytes = 2 * (instance.name.size() + 1);
    std::size_t definitionLength = (24 + nameBytes + 7) / 8 * 8;
    bytes.resize(at + definitionLength + kCounterBlockSize, 0);
    PutWord(bytes, at, static_cast<std::uint32_t>(definitionLength));
    PutWord(bytes, at + 16, 24);
    PutWord(bytes, at + 20, static_cast<std::uint32_t>(nameBytes));
    for (std::size_t i = 0; i < instance.name.size(); ++i) {
      bytes[at + 24 + 2 * i] = static_cast<unsigned char>(instance.name[i]);
      bytes[at + 25 + 2 * i] = static_cast<unsigned char>(instance.name[i] >> 8);
    }
    std::size_t counters = at + definitionLength;
    PutWord(bytes, counters, kCounterBlockSize);
    PutWord(bytes, counters + 4, 0x55555555u);
    PutWord(bytes, counters + layout.idCounterOffset, instance.processId);
  }
  PutWord(bytes, 20, static_cast<std::uint32_t>(bytes.size()));  // TotalByteLength
  PutWord(bytes, object, static_cast<std::uint32_t>(bytes.size() - object));
  return bytes;
}

// AsciiConverter: a stand-in for the code-page conversion that converts
// only 7-bit characters and fails on anything else or on a short buffer.
inline int AsciiConverter(const char16_t* name, std::size_t units, char* out,
                          std::size_t outSize) {
  if (units > outSize) return 0;
  for (std::size_t i = 0; i < units; ++i) {
    if (name[i] > 0x7F) return 0;
    out[i] = static_cast<char>(name[i]);
  }
  return 1;
}
