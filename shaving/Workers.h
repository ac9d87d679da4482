// How many threads make the permuted copies of the gap statistic.
//
// The copies are independent once each copy's generator state is known, so
// they run on worker threads with private scratch; results, monitor lines
// and the generator's final state are exactly those of one thread. The run
// driver sets the count once per run, from the environment variable
// TARVOK_THREADS or, without it, the number of hardware threads.
#pragma once

// Sets the thread count (values below 1 count as 1).
void SetWorkerThreads(int count);
int WorkerThreads();

// The count that TARVOK_THREADS asks for: 1 when set to a positive decimal
// integer (written to *count, at most 1024), 0 when set to anything else,
// and -1 when unset (*count then holds the number of hardware threads).
int ThreadCountFromEnvironment(int* count);
