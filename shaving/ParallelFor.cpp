#include "shaving/ParallelFor.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/Error.h"

namespace tarvok {

namespace {

void RunOnCallingThread(int count,
                        const std::function<void(int, int, const std::atomic<bool>&)>& task,
                        const std::function<void(int)>& done, const std::function<bool()>& cancelled) {
  const std::atomic<bool> stop{false};
  for (int index = 0; index < count; ++index) {
    if (cancelled()) throw Cancelled();
    task(0, index, stop);
    done(index);
  }
}

// What the workers and the calling thread share.
struct Pool {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<char> finished;   // by index
  std::exception_ptr failure;   // the first one
  std::atomic<bool> stop{false};
  std::atomic<int> next{0};

  void Fail(std::exception_ptr error) {
    std::lock_guard<std::mutex> guard(lock);
    if (!failure) failure = error;
    stop = true;
    changed.notify_all();
  }
};

// Joins the workers however the calling thread leaves.
struct Joiner {
  Pool& pool;
  std::vector<std::thread>& workers;
  ~Joiner() {
    pool.stop = true;
    for (std::thread& worker : workers) worker.join();
  }
};

}  // namespace

void ParallelFor(int threads, int count,
                 const std::function<void(int, int, const std::atomic<bool>&)>& task,
                 const std::function<void(int)>& done, const std::function<bool()>& cancelled) {
  if (count <= 0) return;
#ifdef TARVOK_SEQUENTIAL
  threads = 0;
#endif
  if (threads > count) threads = count;
  Pool pool;
  pool.finished.assign(static_cast<size_t>(count), 0);

  auto work = [&](int worker) {
    for (int index = pool.next++; index < count && !pool.stop; index = pool.next++) {
      try {
        task(worker, index, pool.stop);
      } catch (...) {
        pool.Fail(std::current_exception());
        return;
      }
      std::lock_guard<std::mutex> guard(pool.lock);
      pool.finished[static_cast<size_t>(index)] = 1;
      pool.changed.notify_all();
    }
  };

  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    try {
      workers.emplace_back(work, t);
    } catch (const std::system_error&) {
      break;  // the threads started take every task
    }
  }
  if (workers.empty()) {
    RunOnCallingThread(count, task, done, cancelled);
    return;
  }

  {
    Joiner joiner{pool, workers};
    try {
      for (int index = 0; index < count; ++index) {
        std::unique_lock<std::mutex> wait(pool.lock);
        while (!pool.finished[static_cast<size_t>(index)] && !pool.failure) {
          wait.unlock();
          if (cancelled()) throw Cancelled();
          wait.lock();
          pool.changed.wait_for(wait, std::chrono::milliseconds(100), [&] {
            return pool.finished[static_cast<size_t>(index)] || pool.failure;
          });
        }
        if (pool.failure) break;
        wait.unlock();
        if (cancelled()) throw Cancelled();
        done(index);
      }
    } catch (...) {
      pool.Fail(std::current_exception());
    }
  }
  if (pool.failure) std::rethrow_exception(pool.failure);
}

}  // namespace tarvok
