// The one parallel-for of the engine: independent tasks on worker threads,
// each worker with scratch of its own, results reported on the calling
// thread in task order.
#pragma once

#include <atomic>
#include <functional>

namespace tarvok {

// ParallelFor: runs task(worker, index, stop) once for every index in
// 0..count-1 on up to `threads` worker threads, taking indices in ascending
// order as workers come free. worker (0..threads-1) identifies the thread,
// so scratch indexed by it is never used by two tasks at once. A long task
// should look at stop now and then and throw Cancelled when it is set.
//
// The calling thread runs no task: it calls done(index) for index 0, 1, ...
// in order, each as soon as that task has finished, and calls cancelled()
// before each done and about every 0.1 s while it waits.
//
// A failure in a task or in done, or cancelled() returning true (which
// throws Cancelled), stops the pool: no task starts after it, every worker
// is joined, and the first failure is rethrown on the calling thread.
// Threads that cannot be started leave their share to the others; with
// none at all (or in a build without threads) the tasks run on the calling
// thread, each followed by its done.
void ParallelFor(int threads, int count,
                 const std::function<void(int worker, int index, const std::atomic<bool>& stop)>& task,
                 const std::function<void(int index)>& done, const std::function<bool()>& cancelled);

}  // namespace tarvok
