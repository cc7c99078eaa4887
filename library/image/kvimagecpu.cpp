// The image library's processor query and module pin (see kvimagecpu.h).
#include "kvimagecpu.h"

#include <atomic>

#ifdef _WIN32

#include <windows.h>

#include "kvcpu.h"

DWORD KvImageCpu_GetSupport(DWORD mask) { return KvGetCPUSupport(mask); }
void KvImageCpu_Disallow(DWORD bits) { KvDisallowCPUSupport(bits); }
void KvImageCpu_AllowAll() { KvAllowCPUSupport(KVCPU_SIMD_MASK); }

void KvImagePinModule() {
  static std::atomic<bool> pinned{false};
  if (pinned.load(std::memory_order_acquire)) return;
  HMODULE self = nullptr;
  // The module holding this function, whether that is the DLL or a program
  // linking the library; pinning is for the life of the process.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&KvImagePinModule)), &self);
  pinned.store(true, std::memory_order_release);
}

#else

namespace {

DWORD Detect() {
  DWORD word = 0;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("mmx")) word |= KVCPU_MMX;
  if (__builtin_cpu_supports("sse")) word |= KVCPU_SSE;
  if (__builtin_cpu_supports("sse2")) word |= KVCPU_SSE2;
  if (word & KVCPU_SSE2)
    word |= KVCPU_CLASS_PENTIUM_4;
  else if (word & KVCPU_SSE)
    word |= KVCPU_CLASS_PENTIUM_III;
  else if (word & KVCPU_MMX)
    word |= KVCPU_CLASS_PENTIUM_II;
#endif
  return word;
}

std::atomic<DWORD> g_allowed{0xFFFFFFFFu};

}  // namespace

DWORD KvImageCpu_GetSupport(DWORD mask) {
  static const DWORD detected = Detect();
  const DWORD m = mask ? mask : 0xFFFFFFFFu;
  return detected & (g_allowed.load() | KVCPU_CLASS_MASK) & m;
}
void KvImageCpu_Disallow(DWORD bits) { g_allowed &= ~bits; }
void KvImageCpu_AllowAll() { g_allowed = 0xFFFFFFFFu; }
void KvImagePinModule() {}

#endif
