#include "shaving/Workers.h"

#include <cstdlib>
#include <thread>

namespace {

int workerThreads = 1;

}  // namespace

void SetWorkerThreads(int count) { workerThreads = count < 1 ? 1 : count; }

int WorkerThreads() {
#ifdef TARVOK_SEQUENTIAL
  return 1;
#else
  return workerThreads;
#endif
}

int ThreadCountFromEnvironment(int* count) {
  const char* text = std::getenv("TARVOK_THREADS");
  if (text == nullptr) {
    unsigned hardware = std::thread::hardware_concurrency();
    *count = hardware == 0 ? 1 : static_cast<int>(hardware);
    return -1;
  }
  long value = 0;
  const char* p = text;
  if (*p == '\0') return 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 1024) return 0;
  }
  if (*p != '\0' || value < 1) return 0;
  *count = static_cast<int>(value);
  return 1;
}
