#include "launcher/ProcessList.h"

#include <cstdio>
#include <cstring>

namespace {

// Offsets of the fields read, in the published 32-bit layouts (the same on
// 64-bit Windows, where the title pointers are stored as 32-bit words).
constexpr std::size_t kBlockHeaderLength = 24;        // PERF_DATA_BLOCK
constexpr std::size_t kObjectDefinitionLength = 4;    // PERF_OBJECT_TYPE
constexpr std::size_t kObjectHeaderLength = 8;
constexpr std::size_t kObjectNumCounters = 32;
constexpr std::size_t kObjectNumInstances = 40;
constexpr std::size_t kCounterNameTitleIndex = 4;     // PERF_COUNTER_DEFINITION
constexpr std::size_t kCounterOffset = 36;
constexpr std::size_t kInstanceByteLength = 0;        // PERF_INSTANCE_DEFINITION
constexpr std::size_t kInstanceNameOffset = 16;
constexpr std::size_t kInstanceDefinitionSize = 24;

char FoldAToZ(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when [offset, offset + length) lies inside size bytes; safe for any
// offset and length.
bool Inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

// Little-endian 32-bit word at offset; the caller has checked the bounds.
std::uint32_t Word(const unsigned char* data, std::uint64_t offset) {
  const unsigned char* p = data + offset;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// CopyText: copies at most size - 1 characters of text and terminates.
void CopyText(char* out, std::size_t size, const char* text, std::size_t length) {
  if (length > size - 1) length = size - 1;
  std::memcpy(out, text, length);
  out[length] = '\0';
}

// FindCounterOffset: the CounterOffset of the first of the object's
// counter definitions whose title index is index. Returns false when none
// (inside the data) has it.
bool FindCounterOffset(const unsigned char* data, std::size_t size, std::uint64_t object,
                       std::uint32_t index, std::uint32_t* counterOffset) {
  std::uint64_t definition = object + Word(data, object + kObjectHeaderLength);
  std::uint32_t count = Word(data, object + kObjectNumCounters);
  for (std::uint32_t i = 0; i < count; ++i, definition += kCounterDefinitionStride) {
    if (!Inside(definition, kCounterDefinitionStride, size)) return false;
    if (Word(data, definition + kCounterNameTitleIndex) == index) {
      *counterOffset = Word(data, definition + kCounterOffset);
      return true;
    }
  }
  return false;
}

// ConvertInstanceName: converts the terminated UTF-16 name at offset into
// out[kImageNameSize]. Returns false when the name does not lie, with its
// terminator, inside the data, or the conversion fails.
bool ConvertInstanceName(const unsigned char* data, std::size_t size, std::uint64_t offset,
                         InstanceNameConverter convert, char* out) {
  std::u16string name;
  for (;; offset += 2) {
    if (!Inside(offset, 2, size)) return false;
    char16_t unit = static_cast<char16_t>(data[offset] | data[offset + 1] << 8);
    name.push_back(unit);
    if (unit == 0) break;
  }
  return convert(name.data(), name.size(), out, kImageNameSize) != 0;
}

}  // namespace

bool SameImageName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (FoldAToZ(*a) != FoldAToZ(*b)) return false;
    if (*a == '\0') return true;
  }
}

void ImageNameFromPath(const char* path, std::size_t pathSize, char* imageName) {
  const void* end = std::memchr(path, '\0', pathSize);
  std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - path)
                           : pathSize;
  std::size_t start = length;
  while (start > 0 && path[start - 1] != '\\') --start;
  CopyText(imageName, kImageNameSize, path + start, length - start);
}

const char* FormatEchoLine(const TaskRecord& record, char* buffer, std::size_t bufferSize) {
  std::snprintf(buffer, bufferSize, "%4d %-16s\n", static_cast<int>(record.processId),
                record.imageName);
  return buffer;
}

CounterIndices ParseCounterNames(const char* list, std::size_t size) {
  CounterIndices result;
  const char* previous = nullptr;
  std::size_t previousLength = 0;
  std::size_t at = 0;
  while (at < size && list[at] != '\0') {
    const void* end = std::memchr(list + at, '\0', size - at);
    std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - list) - at
                             : size - at;
    std::string text(list + at, length);
    bool isProcess = SameImageName(text.c_str(), "process");
    bool isIdProcess = SameImageName(text.c_str(), "id process");
    if ((isProcess || isIdProcess) && previous != nullptr) {
      std::size_t digits = 0;
      while (digits < previousLength && IsDigit(previous[previousLength - 1 - digits])) ++digits;
      const char* run = previous + previousLength - digits;
      if (isProcess && digits > 0) result.processIndexText.assign(run, digits);
      if (isIdProcess && digits > 0) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < digits && value <= 0xFFFFFFFFu; ++i) {
          value = value * 10 + static_cast<std::uint64_t>(run[i] - '0');
        }
        if (value <= 0xFFFFFFFFu) {
          result.hasIdProcess = true;
          result.idProcessIndex = static_cast<std::uint32_t>(value);
        }
      }
    }
    previous = list + at;
    previousLength = length;
    at += length + 1;
  }
  return result;
}

void ImageNameFromInstance(const char* converted, char* imageName) {
  static const char kSuffix[] = ".exe";
  if (converted == nullptr) {
    CopyText(imageName, kImageNameSize, kUnknownImageName, std::strlen(kUnknownImageName));
    return;
  }
  std::size_t length = std::strlen(converted);
  if (length + sizeof kSuffix > kImageNameSize) {
    imageName[0] = '\0';
    return;
  }
  std::memcpy(imageName, converted, length);
  std::memcpy(imageName + length, kSuffix, sizeof kSuffix);
}

std::size_t WalkPerfData(const unsigned char* data, std::size_t size,
                         std::uint32_t idCounterIndex, std::size_t limit,
                         InstanceNameConverter convert, TaskRecord* records) {
  static const unsigned char kSignature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
  if (!Inside(0, kBlockHeaderLength + 4, size) ||
      std::memcmp(data, kSignature, sizeof kSignature) != 0) {
    return 0;
  }
  std::uint64_t object = Word(data, kBlockHeaderLength);
  if (!Inside(object, kObjectNumInstances + 4, size)) return 0;

  std::uint32_t counterOffset = 0;
  if (!FindCounterOffset(data, size, object, idCounterIndex, &counterOffset)) return 0;

  // NumInstances is signed; PERF_NO_INSTANCES (-1) and any other negative
  // count mean there is nothing to list.
  auto instances = static_cast<std::int32_t>(Word(data, object + kObjectNumInstances));
  if (instances <= 0) return 0;
  std::size_t count = static_cast<std::size_t>(instances) < limit
                          ? static_cast<std::size_t>(instances) : limit;

  std::uint64_t instance = object + Word(data, object + kObjectDefinitionLength);
  for (std::size_t i = 0; i < count; ++i) {
    if (!Inside(instance, kInstanceDefinitionSize, size)) return i;
    std::uint64_t counterBlock = instance + Word(data, instance + kInstanceByteLength);
    if (!Inside(counterBlock, 4, size) ||
        !Inside(counterBlock + counterOffset, 4, size)) {
      return i;
    }
    TaskRecord& record = records[i];
    char converted[kImageNameSize];
    bool ok = ConvertInstanceName(data, size, instance + Word(data, instance + kInstanceNameOffset),
                                  convert, converted);
    ImageNameFromInstance(ok ? converted : nullptr, record.imageName);
    record.flags = 0;
    std::uint32_t id = Word(data, counterBlock + counterOffset);
    record.processId = id == 0 ? kIdleProcessId : id;
    instance = counterBlock + Word(data, counterBlock);
  }
  return count;
}
