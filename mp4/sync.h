// A recursive mutex with a scoped lock, an auto-reset event, a thread with an
// exit hook (Windows), and the clock of the header boxes.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <condition_variable>
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

// An auto-reset event, not signalled at first: a Set wakes one Wait.
class Event {
 public:
  static const uint32_t kInfinite = 0xFFFFFFFFu;
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  void Set();
  void Reset();
  // False only when `timeoutMs` passed without the event being set; a true
  // answer consumes the signal.
  bool Wait(uint32_t timeoutMs);
  bool IsSet() { return Wait(0); }

 private:
#ifdef _WIN32
  void* handle_;
#else
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
#endif
};

#ifdef _WIN32
// A thread of its own: Start runs Run on a new thread, then OnExit with its
// result, whose answer becomes the thread's exit code.
class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  virtual uint32_t Run() = 0;
  virtual uint32_t OnExit(uint32_t code) { return code; }
  virtual ~Thread();
  // True when the thread runs (also when it already ran before the call).
  bool Start();
  // Waits for the thread and answers its exit code; 0 when it was not started.
  uint32_t Join();
  // Ends the thread at once with exit code 0: a last resort, nothing it holds
  // is released.
  void Terminate();
  bool IsRunning() const { return running_; }
  uint32_t GetThreadId() const { return threadId_; }

 private:
  static unsigned __stdcall Procedure(void* self);
  void* handle_ = nullptr;
  uint32_t threadId_ = 0;
  bool running_ = false;
};
#endif

// Seconds between 1904-01-01 (the epoch of the header boxes) and 1970-01-01.
const uint64_t kBoxEpochOffset = 2082844800u;

// Seconds since 1904-01-01 00:00:00 UTC.
uint64_t GetCurrentBoxTime();
uint64_t UnixTimeToBoxTime(int64_t unixSeconds);

}  // namespace fileutil
