// The grammar of a thread count given as text (TARVOK_THREADS), shared by
// the library that obeys it and the hosts that check it before a run.
#pragma once

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

}  // namespace tarvok
