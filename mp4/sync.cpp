// A recursive mutex (Win32 mutex object on Windows) and the box clock.
#include "sync.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <chrono>
#endif

namespace fileutil {

#ifdef _WIN32
Mutex::Mutex() : handle_(CreateMutexW(nullptr, FALSE, nullptr)) {}
Mutex::~Mutex() {
  if (handle_) CloseHandle(handle_);
}
void Mutex::Lock() { WaitForSingleObject(handle_, INFINITE); }
void Mutex::Unlock() { ReleaseMutex(handle_); }
bool Mutex::IsBusy() { return WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }
#else
Mutex::Mutex() {}
Mutex::~Mutex() {}
void Mutex::Lock() { mutex_.lock(); }
void Mutex::Unlock() { mutex_.unlock(); }
bool Mutex::IsBusy() { return !mutex_.try_lock(); }
#endif

#ifdef _WIN32
Event::Event() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
Event::~Event() {
  if (handle_) CloseHandle(handle_);
}
void Event::Set() { SetEvent(handle_); }
void Event::Reset() { ResetEvent(handle_); }
bool Event::Wait(uint32_t timeoutMs) { return WaitForSingleObject(handle_, timeoutMs) != WAIT_TIMEOUT; }

unsigned __stdcall Thread::Procedure(void* self) {
  Thread* t = static_cast<Thread*>(self);
  return t->OnExit(t->Run());
}

bool Thread::Start() {
  if (running_) return true;
  unsigned id = 0;
  handle_ = reinterpret_cast<void*>(_beginthreadex(nullptr, 0, &Thread::Procedure, this, 0, &id));
  threadId_ = id;
  running_ = handle_ != nullptr;
  return running_;
}

uint32_t Thread::Join() {
  if (!running_) return 0;
  WaitForSingleObject(handle_, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(handle_, &code);
  CloseHandle(handle_);
  handle_ = nullptr;
  running_ = false;
  return code;
}

void Thread::Terminate() {
  if (!running_) return;
  // TerminateThread only asks: wait until the thread is really gone, so a
  // caller that starts another one right away does not race the dying one.
  TerminateThread(handle_, 0);
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  handle_ = nullptr;
  running_ = false;
}

Thread::~Thread() { Terminate(); }
#else
Event::Event() {}
Event::~Event() {}
void Event::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = true;
  changed_.notify_one();
}
void Event::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}
bool Event::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeoutMs == kInfinite)
    changed_.wait(lock, [this] { return set_; });
  else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; }))
    return false;
  set_ = false;  // auto-reset
  return true;
}
#endif

uint64_t UnixTimeToBoxTime(int64_t unixSeconds) { return uint64_t(unixSeconds) + kBoxEpochOffset; }

uint64_t GetCurrentBoxTime() { return UnixTimeToBoxTime(int64_t(std::time(nullptr))); }

}  // namespace fileutil
