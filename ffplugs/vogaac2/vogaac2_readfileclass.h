// The reader's class object. For now it answers only its IUnknown slots; every
// other slot reports E_NOTIMPL until the reader side is built.
#pragma once

#include "kvfileio.h"

class VogAacReadFileClass : public IKvReadFileClass {
 public:
  VogAacReadFileClass();
  virtual ~VogAacReadFileClass();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderGuid(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT*, ULONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IdentifyFile(HANDLE, const BYTE*, DWORD, const wchar_t*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsFileSupported(const wchar_t*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenReadFile(IKvReadFile**, HANDLE, DWORD, const wchar_t*, BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reserved16() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }

 private:
  ULONG refCount_;  // plain count: the host drives the class from one thread
};
