// The plug-in module's class factory. The class is chosen by the interface id
// the caller asks for, not by the class id: a chain of creators is tried in
// order, each keyed by one interface id.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <new>

#include "ffbase_guid.h"
#include "kvcomobject.h"

namespace ffbase {

// A creator's answer when the requested interface is not its key: the chain
// goes on with the next creator.
constexpr HRESULT kCreatorNotMine = 1;

// Creates an object for `riid` into *ppv, or answers kCreatorNotMine.
typedef HRESULT (*ClassCreator)(REFIID riid, void** ppv);

// Creator of class T, keyed by the interface id `Key`, handing out face I.
// The object starts with reference count 0; the creator adds the first one.
template <class T, class I, const IID& Key>
HRESULT CreateForKey(REFIID riid, void** ppv) {
  if (!IsEqualId(riid, Key)) return kCreatorNotMine;
  T* object = new (std::nothrow) T();
  if (!object) return E_OUTOFMEMORY;
  I* face = object;
  face->AddRef();
  *ppv = face;
  return S_OK;
}

// Runs the creators in order: the first S_OK, E_NOINTERFACE or E_OUTOFMEMORY
// ends the chain; kCreatorNotMine goes on; anything else, and an id that no
// creator takes, is E_NOINTERFACE. *ppv is written only on success.
HRESULT RunCreatorChain(const ClassCreator* creators, size_t count, REFIID riid, void** ppv);

// Changes the module's server lock count (read by nothing: the module never
// unloads on request).
void ChangeServerLock(bool lock);
LONG ServerLockCount();

// TCreators supplies `static constexpr ClassCreator kCreators[]`, the chain.
template <class TCreators>
class TemplClassFactory : public IClassFactory {
 public:
  explicit TemplClassFactory(const CLSID* classId) : refCount_(0), classId_(classId ? *classId : CLSID{}) {}
  virtual ~TemplClassFactory() {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    IClassFactory* self = this;
    return kvcom::QueryFaces(this, riid, ppv, {{IID_IUnknown, self}, {IID_IClassFactory, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refCount_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = --refCount_;
    if (count == 0) delete this;
    return count;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    return RunCreatorChain(TCreators::kCreators, sizeof(TCreators::kCreators) / sizeof(TCreators::kCreators[0]),
                           riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    ChangeServerLock(lock != FALSE);
    return S_OK;
  }

 private:
  ULONG refCount_;        // plain count: the host drives a class object from one thread
  CLSID classId_;  // the class id given to DllGetClassObject; kept, never read
};

}  // namespace ffbase
