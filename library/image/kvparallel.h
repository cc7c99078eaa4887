// The row loops of the image library: a range of rows divided among the
// OpenMP threads with static scheduling, each thread doing whole rows, the
// calling thread taking part and waiting for the others. Without OpenMP the
// rows run in order on the calling thread.
#pragma once

#include <cstdint>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "kvimagecpu.h"

// The most threads a row loop uses (1 without OpenMP).
inline int KvParallelThreads() {
#ifdef _OPENMP
  return omp_get_max_threads();
#else
  return 1;
#endif
}

// body(row) for every row of [begin, end). The bodies must not throw.
template <class Body>
void KvParallelRows(int32_t begin, int32_t end, const Body& body) {
  if (end <= begin) return;
  KvImagePinModule();
#pragma omp parallel for schedule(static)
  for (int32_t r = begin; r < end; ++r) body(r);
}

// body(row, thread) for every row of [begin, end), with the index of the
// thread running it (0 .. KvParallelThreads() - 1), for per-thread work space
// prepared before the loop. The bodies must not throw.
template <class Body>
void KvParallelRowsPerThread(int32_t begin, int32_t end, int threads, const Body& body) {
  if (end <= begin) return;
  KvImagePinModule();
#pragma omp parallel num_threads(threads)
  {
#ifdef _OPENMP
    const int t = omp_get_thread_num();
#else
    const int t = 0;
#endif
#pragma omp for schedule(static)
    for (int32_t r = begin; r < end; ++r) body(r, t);
  }
}
