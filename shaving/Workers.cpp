#include "shaving/Workers.h"

#include <cstdlib>
#include <thread>

#include "base/ThreadCount.h"

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
  return tarvok::ParseThreadCount(text, count) ? 1 : 0;
}
