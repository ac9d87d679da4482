#include "launcher/ProcessCheck.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN64)
// The published 32-bit sizes of the structures handed to the platform.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32");
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "TOKEN_PRIVILEGES");
#endif

namespace {

// Process-wide, zero at start: the table of the last scan, its count and
// the echo line buffer.
TaskRecord gTaskTable[kTaskTableSize];
std::size_t gTaskCount = 0;
char gEchoBuffer[kEchoBufferSize];

// The performance-data buffer starts at this size and grows by the step.
constexpr DWORD kPerfDataInitialSize = 51200;
constexpr DWORD kPerfDataGrowth = 25600;

using CreateSnapshotFunction = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFunction = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);

// NoPrivilegeStep: the 95 family's stand-in for AcquireDebugPrivilege.
int NoPrivilegeStep() { return 1; }

// ConvertWithCodePage: the instance-name conversion of the walk, through
// the ANSI code page.
int ConvertWithCodePage(const char16_t* name, std::size_t units, char* out, std::size_t outSize) {
  return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(name),
                             static_cast<int>(units), out, static_cast<int>(outSize), nullptr,
                             nullptr) != 0;
}

// ReadCounterIndices: reads the "Counters" list of the open perflib key.
// Returns false when it cannot be read.
bool ReadCounterIndices(HKEY names, CounterIndices& indices) {
  DWORD size = 0;
  if (RegQueryValueExA(names, "Counters", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  auto* list = static_cast<char*>(std::calloc(size == 0 ? 1 : size, 1));
  if (list == nullptr) return false;
  bool ok = RegQueryValueExA(names, "Counters", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(list), &size) == ERROR_SUCCESS;
  if (ok) indices = ParseCounterNames(list, size);
  std::free(list);
  return ok;
}

// QueryProcessObject: queries the performance data for the object whose
// index text is valueName into a buffer that grows until the data fits.
// data (output) the buffer, to be freed by the caller; size (output) the
// bytes returned. Returns false (with nothing to free) on failure.
bool QueryProcessObject(const char* valueName, unsigned char*& data, DWORD& size) {
  DWORD capacity = kPerfDataInitialSize;
  data = static_cast<unsigned char*>(std::calloc(capacity, 1));
  if (data == nullptr) return false;
  for (;;) {
    size = capacity;
    LONG status = RegQueryValueExA(HKEY_PERFORMANCE_DATA, valueName, nullptr, nullptr, data, &size);
    if (status == ERROR_SUCCESS) return true;
    if (status != ERROR_MORE_DATA) break;
    // The size left by a short query need not be the size needed (it may
    // even be smaller than the buffer), so growth starts from the larger
    // of the two and every attempt gets a bigger buffer.
    DWORD base = size > capacity ? size : capacity;
    if (base > MAXDWORD - kPerfDataGrowth) break;
    capacity = base + kPerfDataGrowth;
    auto* grown = static_cast<unsigned char*>(std::realloc(data, capacity));
    if (grown == nullptr) break;
    data = grown;
    std::memset(data, 0, capacity);
  }
  std::free(data);
  data = nullptr;
  return false;
}

// ListPerfDataProcesses: the part of CollectProcessesPerfData between
// opening and closing its keys.
std::size_t ListPerfDataProcesses(HKEY names, TaskRecord* table, std::size_t limit) {
  CounterIndices indices;
  if (!ReadCounterIndices(names, indices)) return 0;
  if (indices.processIndexText.empty() || !indices.hasIdProcess) return 0;
  unsigned char* data = nullptr;
  DWORD size = 0;
  if (!QueryProcessObject(indices.processIndexText.c_str(), data, size)) return 0;
  std::size_t count =
      WalkPerfData(data, size, indices.idProcessIndex, limit, ConvertWithCodePage, table);
  std::free(data);
  return count;
}

}  // namespace

int AcquireDebugPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    std::printf("OpenProcessToken failed with %d\n", static_cast<int>(GetLastError()));
    return 0;
  }
  LUID debugPrivilege;
  if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &debugPrivilege)) {
    std::printf("LookupPrivilegeValue failed with %d\n", static_cast<int>(GetLastError()));
    return 0;
  }
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = debugPrivilege;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  if (GetLastError() != 0) {
    std::printf("AdjustTokenPrivileges failed with %d\n", static_cast<int>(GetLastError()));
    return 0;
  }
  return 1;
}

std::size_t CollectProcessesToolhelp(TaskRecord* table, std::size_t capacity) {
  if (capacity == 0) return 0;
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  if (kernel == nullptr) return 0;
  auto createSnapshot = reinterpret_cast<CreateSnapshotFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
  auto processFirst = reinterpret_cast<ProcessWalkFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Process32First")));
  auto processNext = reinterpret_cast<ProcessWalkFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Process32Next")));
  if (createSnapshot == nullptr || processFirst == nullptr || processNext == nullptr) return 0;

  HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  if (!processFirst(snapshot, &entry)) {
    CloseHandle(snapshot);
    return 0;
  }
  std::size_t count = 0;
  do {
    TaskRecord& record = table[count];
    ImageNameFromPath(entry.szExeFile, sizeof entry.szExeFile, record.imageName);
    record.flags = 0;
    record.processId = entry.th32ProcessID;
    ++count;
  } while (count < capacity && processNext(snapshot, &entry));
  CloseHandle(snapshot);
  return count;
}

std::size_t CollectProcessesPerfData(TaskRecord* table, std::size_t capacity) {
  if (capacity == 0) return 0;
  char keyPath[96];
  std::snprintf(keyPath, sizeof keyPath, "%s\\%03x",
                "software\\microsoft\\windows nt\\currentversion\\perflib", 9);
  std::size_t count = 0;
  HKEY names = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &names) == ERROR_SUCCESS) {
    count = ListPerfDataProcesses(names, table, capacity - 1);
    RegCloseKey(names);
  }
  RegCloseKey(HKEY_PERFORMANCE_DATA);
  return count;
}

int IsProcessRunning(const char* imageName) {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);

  int (*privilegeStep)() = nullptr;
  std::size_t (*collector)(TaskRecord*, std::size_t) = nullptr;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    privilegeStep = NoPrivilegeStep;
    collector = CollectProcessesToolhelp;
  } else if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    privilegeStep = AcquireDebugPrivilege;
    collector = CollectProcessesPerfData;
  } else {
    std::printf("tlist requires Windows NT or Windows 95\n");
    return 0;
  }
  privilegeStep();

  gTaskCount = collector(gTaskTable, kTaskTableSize);
  for (std::size_t i = 0; i < gTaskCount; ++i) {
    OutputDebugStringA(FormatEchoLine(gTaskTable[i], gEchoBuffer, sizeof gEchoBuffer));
    if (SameImageName(gTaskTable[i].imageName, imageName)) return 1;
  }
  return 0;
}
