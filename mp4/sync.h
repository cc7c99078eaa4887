// A recursive mutex with a scoped lock, and the clock of the header boxes.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <mutex>
#endif

namespace fileutil {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();
  // True when another thread holds the mutex. When false, the calling thread
  // now holds it and must Unlock it.
  bool IsBusy();

 private:
#ifdef _WIN32
  void* handle_;
#else
  std::recursive_mutex mutex_;
#endif
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Seconds between 1904-01-01 (the epoch of the header boxes) and 1970-01-01.
const uint64_t kBoxEpochOffset = 2082844800u;

// Seconds since 1904-01-01 00:00:00 UTC.
uint64_t GetCurrentBoxTime();
uint64_t UnixTimeToBoxTime(int64_t unixSeconds);

}  // namespace fileutil
