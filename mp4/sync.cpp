// A recursive mutex (Win32 mutex object on Windows) and the box clock.
#include "sync.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
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

uint64_t UnixTimeToBoxTime(int64_t unixSeconds) { return uint64_t(unixSeconds) + kBoxEpochOffset; }

uint64_t GetCurrentBoxTime() { return UnixTimeToBoxTime(int64_t(std::time(nullptr))); }

}  // namespace fileutil
