// The library services of the attach and detach steps. Each is a stand-in
// until the part of the library that owns it is linked into the module; then
// its body becomes the call into that part.
#include "attach_services.h"

#include <map>
#include <string>

namespace vogaac2 {

// Library initialisation is not linked in yet: nothing to set up.
BOOL InitializeLibrary(HMODULE) { return TRUE; }
void TerminateLibrary() {}

// No help library yet: no help file, an empty path.
void InstallPluginHelpPath(HMODULE, wchar_t* path, int cch) {
  if (path && cch > 0) path[0] = 0;
}

// No metadata factories yet.
void CreateMetaFactories() {}
void DestroyMetaFactories() {}

namespace {

// Strings loaded from the module's own string table (English), kept until the
// handle is closed so that the pointers handed out stay valid.
struct LanguageCache {
  LanguageCache() { InitializeCriticalSection(&lock); }
  ~LanguageCache() { DeleteCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  HMODULE module = nullptr;
  std::map<UINT, std::wstring> strings;
};

LanguageCache g_cache;

LanguageCache& Cache() { return g_cache; }

class CacheLock {
 public:
  explicit CacheLock(LanguageCache& cache) : cache_(cache) { EnterCriticalSection(&cache_.lock); }
  ~CacheLock() { LeaveCriticalSection(&cache_.lock); }
  CacheLock(const CacheLock&) = delete;
  CacheLock& operator=(const CacheLock&) = delete;

 private:
  LanguageCache& cache_;
};

const wchar_t kEmpty[] = L"";

}  // namespace

HRESULT OpenModuleLanguage(HMODULE module) {
  LanguageCache& cache = Cache();
  CacheLock guard(cache);
  cache.module = module;
  cache.strings.clear();
  return S_OK;
}

void CloseModuleLanguage() {
  LanguageCache& cache = Cache();
  CacheLock guard(cache);
  cache.module = nullptr;
  cache.strings.clear();
}

const wchar_t* ModuleString(UINT stringId) {
  LanguageCache& cache = Cache();
  CacheLock guard(cache);
  if (!cache.module) return kEmpty;
  auto found = cache.strings.find(stringId);
  if (found != cache.strings.end()) return found->second.c_str();
  // With a zero buffer size LoadStringW hands out a read-only pointer to the
  // resource text, which is not terminated; its length is the result.
  const wchar_t* text = nullptr;
  int length = LoadStringW(cache.module, stringId, reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || !text) return kEmpty;  // an unknown id is not cached
  try {
    return cache.strings.emplace(stringId, std::wstring(text, length)).first->second.c_str();
  } catch (...) {
    return kEmpty;
  }
}

}  // namespace vogaac2
