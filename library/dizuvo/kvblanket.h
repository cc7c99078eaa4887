// Blankets: host-side wrappers that make a plug-in interface callable from any
// thread. A blanket exposes exactly the interface it wraps; the wrapped pointer
// is registered in the COM Global Interface Table and every calling thread is
// served through its own proxy (see kvgitholder.h). Interfaces that a wrapped
// call hands back are wrapped in new blankets, so the host never holds a bare
// cross-apartment proxy of the eight plug-in interfaces:
//   IKvReadFileClass, IKvRenderFileClass, IKvReadFile, IKvRenderFile,
//   IKvReadStream, IKvReadAudioStream, IKvReadVideoStream, IKvReadMeta.
//
// Parents, outers and managers are plain pointers: a blanket must not outlive
// the blanket (or manager) it was made from while it is still called. Callers
// release children before parents.
//
// Calling threads must be in a COM apartment (or in a process whose
// multithreaded apartment exists). A forwarded slot called on a thread that
// cannot get a proxy returns the Global Interface Table's failure (for
// example CO_E_NOTINITIALIZED) without calling anything, and tries again on
// the thread's next call. A proxy cached for a thread that has since left its
// apartment (or for an ended thread whose id a new thread got) is replaced
// and the call made once more when it reports that it cannot reach the object.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvfileio.h"

// A video stream of a read file. No plug-in of this program implements it;
// only the blanket forwards it. Slots 11, 13, 14, 21 and 22 carry one word.
struct IKvReadVideoStream : public IKvReadStream {
  virtual HRESULT STDMETHODCALLTYPE Reserved11(DWORD_PTR a) = 0;                                          // 11
  virtual HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) = 0;             // 12
  virtual HRESULT STDMETHODCALLTYPE Reserved13(DWORD_PTR a) = 0;                                          // 13
  virtual HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR a) = 0;                                          // 14
  virtual HRESULT STDMETHODCALLTYPE Reserved15(DWORD a, DWORD b, DWORD c, DWORD d) = 0;                   // 15
  virtual HRESULT STDMETHODCALLTYPE Reserved16(DWORD a, DWORD b, DWORD c, DWORD d) = 0;                   // 16
  virtual HRESULT STDMETHODCALLTYPE ReadFrames(DWORD a, DWORD b, DWORD c, _kvmemorytoken buffer, DWORD d,
                                               DWORD e) = 0;                                              // 17
  virtual HRESULT STDMETHODCALLTYPE Reserved18(DWORD a, DWORD b, DWORD c) = 0;                            // 18
  virtual HRESULT STDMETHODCALLTYPE Reserved19(DWORD a, DWORD b, DWORD c) = 0;                            // 19
  virtual HRESULT STDMETHODCALLTYPE SetDoubleParam(double value) = 0;                                     // 20
  virtual HRESULT STDMETHODCALLTYPE Reserved21(DWORD_PTR a) = 0;                                          // 21
  virtual HRESULT STDMETHODCALLTYPE Reserved22(DWORD_PTR a) = 0;                                          // 22
};

__CRT_UUID_DECL(IKvReadVideoStream, 0xd8e86f3c, 0x4c2f, 0x403c, 0xac, 0x5b, 0x43, 0xf0, 0x2a, 0xf1, 0xb4, 0x27)

// Wraps the interface in *pointer (which holds one reference) in a new
// blanket when `iid` is one of the eight plug-in interfaces.
// - *pointer null: E_OUTOFMEMORY, nothing changed (a wrapped call that
//   succeeded without an interface ends here). `pointer` itself null: E_POINTER.
// - another interface id: S_OK, the pointer stays as it is (not released).
// - otherwise the caller's reference is released and *pointer receives the
//   blanket (one reference), S_OK; when no blanket can be made (out of
//   memory, or the pointer cannot be registered for other threads) *pointer
//   is null and the failure is returned.
// `outer` is the blanket whose QueryInterface made this one, or null; `parent`
// is the blanket (or, for the two class blankets, the manager) that made it.
// Neither is referenced.
HRESULT KVAPI KvFio_CreateBlanket(REFIID iid, void** pointer, IUnknown* outer, IUnknown* parent);
