// The generic reader class object: IKvReadFileClass with the manager link,
// identification by path and the opening of read files. The plug-in supplies
// the identification rule, its texts and flags, and creates its read files.
#pragma once

#include <windows.h>

#include "kvfileio.h"
#include "kvlang.h"

namespace ffbase {

class BaseReadFileClass : public IKvReadFileClass {
 public:
  BaseReadFileClass();
  virtual ~BaseReadFileClass();
  BaseReadFileClass(const BaseReadFileClass&) = delete;
  BaseReadFileClass& operator=(const BaseReadFileClass&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD index) override;
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD* index) override;
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager* manager) override;
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager** manager) override;
  HRESULT STDMETHODCALLTYPE GetReaderGuid(GUID* id) override;
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* version) override;
  HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** renderer) override;
  // Reads up to 4096 bytes of the file and identifies them.
  HRESULT STDMETHODCALLTYPE IsFileSupported(const wchar_t* path) override;
  HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenReadFile(IKvReadFile** file, HANDLE handle, DWORD ownerProcessId,
                                         const wchar_t* path, BOOL open) override;
  HRESULT STDMETHODCALLTYPE Reserved16() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }

  // The plug-in's part.
  virtual HRESULT CreateReadFile(IKvReadFile** out) = 0;
  virtual const GUID* ReaderClassGuid() = 0;
  virtual const GUID* RendererClassGuid() = 0;
  // Switches the module's texts to the host's language (called when a manager
  // is set and answers its language).
  virtual void ApplyHostLanguage(LCID lcid) {}

 protected:
  ULONG refCount_;  // plain count: the host drives the class from one thread
  DWORD classIndex_;
  IKvDizuVOManager* manager_;  // kept without a reference
};

}  // namespace ffbase
