// DllHost.exe for the library's test under Wine: loads Tarvok.dll by path,
// as the host does, and makes the compared call through its two exports.
// Usage: DllHost.exe TARVOK_DLL TABLE. Exit code 2 when the library or an
// export cannot be had.
#include <windows.h>

#include <cstdio>

#include "engine/Tarvok.h"
#include "tests/launcher/windows/ComparedCall.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    std::printf("LoadLibraryA failed with %lu\n", GetLastError());
    return 2;
  }
  auto ruzo = reinterpret_cast<decltype(&RuzoVavav)>(
      reinterpret_cast<void*>(GetProcAddress(library, "RuzoVavav")));
  auto probe = reinterpret_cast<decltype(&tsvFileFormatTest)>(
      reinterpret_cast<void*>(GetProcAddress(library, "tsvFileFormatTest")));
  if (ruzo == nullptr || probe == nullptr) {
    std::printf("an export is missing\n");
    return 2;
  }
  RunComparedCall(ruzo, probe, argv[2]);
  return 0;
}
