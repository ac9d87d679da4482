// The running-process list: its record, and the parts of listing and
// matching that are plain logic over bytes (the performance-data walk, the
// counter-name list, image names, the echo line). The Win32 layer in
// ProcessCheck.cpp only fetches the bytes and hands them here, so all of
// this builds and is tested on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Storage of an image name: the platform's path limit, terminator included.
inline constexpr std::size_t kImageNameSize = 260;
// Records in the process-wide task table.
inline constexpr std::size_t kTaskTableSize = 256;
// Size of the buffer that formats each echo line.
inline constexpr std::size_t kEchoBufferSize = 10240;
// Id stored for a performance-data instance whose process id is 0.
inline constexpr std::uint32_t kIdleProcessId = 0xFFFFFFFEu;
// Distance between consecutive counter definitions in the performance data.
inline constexpr std::size_t kCounterDefinitionStride = 40;
// Name given to an instance whose name cannot be converted.
inline constexpr const char* kUnknownImageName = "unknown";

// One listed process. The unnamed words and the window title are never
// filled; they keep the table's layout.
struct TaskRecord {
  std::uint32_t processId;
  std::uint32_t reserved1;
  std::uint32_t flags;
  std::uint32_t reserved2;
  char imageName[kImageNameSize];
  char windowTitle[64];
};

// SameImageName: compares two NUL-terminated names, folding only the
// letters A to Z to lower case. Returns true when they are equal.
bool SameImageName(const char* a, const char* b);

// ImageNameFromPath: the file name part of an executable path.
// path     (input)  text of at most pathSize bytes, NUL-terminated within
//                   them or cut at pathSize
// pathSize (input)  bytes of storage behind path
// imageName(output) char[kImageNameSize]: the text after the last
//                   backslash, or the whole text when there is none; cut
//                   to 259 characters
void ImageNameFromPath(const char* path, std::size_t pathSize, char* imageName);

// FormatEchoLine: "%4d %-16s\n" of the record's id (as signed) and image
// name into buffer, cut at bufferSize - 1 characters and terminated.
// buffer (output) char[bufferSize]; returns buffer.
const char* FormatEchoLine(const TaskRecord& record, char* buffer, std::size_t bufferSize);

// What the counter-name list says: the index text of the "process" object
// (the value name for the performance-data query) and the index of the
// "id process" counter. Either may be missing.
struct CounterIndices {
  std::string processIndexText;  // empty when "process" was not found
  bool hasIdProcess = false;
  std::uint32_t idProcessIndex = 0;
};

// ParseCounterNames: walks a REG_MULTI_SZ list of index/name string pairs.
// list (input) size bytes; the walk ends at the first empty string or at
// the end of the bytes, whichever comes first, and never reads past it.
// A name equal to "process" or "id process" (A-Z case folded) takes the
// decimal digits that end the string before it; a later match replaces an
// earlier one, and a preceding string with no such digits (or for the
// counter, more than fit 32 bits) is passed over.
CounterIndices ParseCounterNames(const char* list, std::size_t size);

// Converts one UTF-16 instance name to the 8-bit code page.
// name     (input)  units UTF-16 code units; name[units - 1] is the 0
//                   terminator
// out      (output) char[outSize]: the converted, terminated text
// Returns non-zero on success, 0 when the text cannot be converted or does
// not fit (terminator included).
using InstanceNameConverter = int (*)(const char16_t* name, std::size_t units, char* out,
                                      std::size_t outSize);

// ImageNameFromInstance: the image name of a performance-data instance.
// converted (input)  the converted name, or null when the conversion failed
// imageName (output) char[kImageNameSize]: "unknown" for a failed
//                    conversion; the name followed by ".exe" when that
//                    fits; otherwise empty
void ImageNameFromInstance(const char* converted, char* imageName);

// WalkPerfData: lists the instances of the first object of a performance
// data block (the answer to a query for the Process object).
// data           (input)  size bytes as returned by the query
// idCounterIndex (input)  title index of the process-id counter
// limit          (input)  most records to fill
// convert        (input)  the name conversion
// records        (output) TaskRecord[limit], filled from the first
// Returns the number of records filled: 0 for a block without the "PERF"
// signature, without a counter definition of that index, or with no (or
// PERF_NO_INSTANCES) instances. Every offset and length is checked against
// size: the walk stops before the first instance whose definition or
// process-id value lies outside the data, and a name that is not
// terminated inside the data counts as a failed conversion.
std::size_t WalkPerfData(const unsigned char* data, std::size_t size,
                         std::uint32_t idCounterIndex, std::size_t limit,
                         InstanceNameConverter convert, TaskRecord* records);
