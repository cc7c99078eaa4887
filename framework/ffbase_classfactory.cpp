// The creator chain of the class factory and the server lock count.
#include "ffbase_classfactory.h"

#include <exception>

namespace ffbase {

namespace {
LONG g_serverLocks = 0;
}

HRESULT RunCreatorChain(const ClassCreator* creators, size_t count, REFIID riid, void** ppv) {
  // No exception may leave a COM call: a constructor that runs out of memory
  // is reported as E_OUTOFMEMORY.
  try {
    for (size_t i = 0; i < count; ++i) {
      void* object = nullptr;
      HRESULT hr = creators[i](riid, &object);
      if (hr == kCreatorNotMine) continue;
      if (hr == S_OK) {
        *ppv = object;
        return S_OK;
      }
      if (hr == E_OUTOFMEMORY) return E_OUTOFMEMORY;
      return E_NOINTERFACE;
    }
    return E_NOINTERFACE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void ChangeServerLock(bool lock) {
  if (lock)
    ++g_serverLocks;
  else
    --g_serverLocks;
}

LONG ServerLockCount() { return g_serverLocks; }

}  // namespace ffbase
