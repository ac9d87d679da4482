// The grammar of a thread count given as text (TARVOK_THREADS), shared by
// the library that obeys it and the hosts that check it before a run.
#pragma once

#include <cstdlib>
#include <thread>

namespace tarvok {

inline constexpr int kMaxThreads = 1024;

// True when text is a whole number from 1 to kMaxThreads in plain decimal
// digits (no sign, blanks or other characters); the number goes to *count.
inline bool ParseThreadCount(const char* text, int* count) {
  long value = 0;
  const char* p = text;
  if (*p == '\0') return false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kMaxThreads) return false;
  }
  if (*p != '\0' || value < 1) return false;
  *count = static_cast<int>(value);
  return true;
}

// The thread count that TARVOK_THREADS asks for: 1 when set to a positive
// decimal integer (written to *count, at most kMaxThreads), 0 when set to
// anything else, and -1 when unset (*count then holds the number of
// hardware threads, at most kMaxThreads).
inline int ThreadCountFromEnvironment(int* count) {
  const char* text = std::getenv("TARVOK_THREADS");
  if (text == nullptr) {
    unsigned hardware = std::thread::hardware_concurrency();
    const unsigned most = static_cast<unsigned>(kMaxThreads);
    *count = hardware == 0 ? 1 : static_cast<int>(hardware > most ? most : hardware);
    return -1;
  }
  return ParseThreadCount(text, count) ? 1 : 0;
}

}  // namespace tarvok
