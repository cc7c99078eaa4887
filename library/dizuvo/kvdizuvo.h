// The file-IO plug-in manager, as far as plug-ins call it: its interface (the
// first slots, which plug-ins use) and the handle duplication between a
// manager's process and a plug-in's.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "kvapi.h"
#include "kvfileio.h"

inline constexpr IID IID_IKvDizuVOManager = {0xd4ff4749, 0x8ace, 0x457e, {0xa8, 0x78, 0xd4, 0xad, 0x33, 0x21, 0x74, 0xba}};

// The manager as plug-ins see it. Slot order is fixed; the slots after
// GetRendererClass are the manager's own business and are not declared here.
struct IKvDizuVOManager : public IUnknown {
  // The host's language (the manager module's language handle); reserved must be 0.
  virtual HRESULT STDMETHODCALLTYPE GetLanguageID(LCID* lcid, DWORD reserved) = 0;                   // 3
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;                                                 // 4
  virtual HRESULT STDMETHODCALLTYPE Metric5(DWORD_PTR a, DWORD_PTR b) = 0;                           // 5
  virtual HRESULT STDMETHODCALLTYPE Metric6(DWORD_PTR a, DWORD_PTR b) = 0;                           // 6
  virtual HRESULT STDMETHODCALLTYPE Metric7(DWORD_PTR a, DWORD_PTR b) = 0;                           // 7
  virtual HRESULT STDMETHODCALLTYPE Metric8(DWORD_PTR a, DWORD_PTR b) = 0;                           // 8
  virtual HRESULT STDMETHODCALLTYPE Metric9(DWORD_PTR a, DWORD_PTR b) = 0;                           // 9
  virtual HRESULT STDMETHODCALLTYPE Metric10(DWORD_PTR a, DWORD_PTR b) = 0;                          // 10
  virtual HRESULT STDMETHODCALLTYPE Metric11(DWORD_PTR a, DWORD_PTR b) = 0;                          // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                                // 12
  virtual HRESULT STDMETHODCALLTYPE GetReaderClassByFormatId(IKvReadFileClass** out, DWORD formatId) = 0;  // 13
  virtual HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** out, const GUID* readerId) = 0;       // 14
  virtual HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** out, const GUID* rendererId) = 0;  // 15
};

__CRT_UUID_DECL(IKvDizuVOManager, 0xd4ff4749, 0x8ace, 0x457e, 0xa8, 0x78, 0xd4, 0xad, 0x33, 0x21, 0x74, 0xba)

KV_EXTERN_C_BEGIN
// Duplicates `handle`, valid in process `processId`, into this process with
// the same access (not inheritable). S_OK, or the Win32 error as an HRESULT.
HRESULT KVAPI DuplicateHandleFromProcessId(HANDLE handle, DWORD processId, HANDLE* out);
KV_EXTERN_C_END
