// The renderer's class object, with its two faces (IKvRenderFileClass and the
// meta-support face). For now it answers only its IUnknown slots; every other
// slot reports E_NOTIMPL until the render side is built.
#pragma once

#include "kvfileio.h"

class VogAacRenderFileClass : public IKvRenderFileClass, public IKvRenderMetaSupport2 {
 public:
  VogAacRenderFileClass();
  virtual ~VogAacRenderFileClass();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IKvRenderFileClass
  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRendererGuid(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT*, ULONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved12(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateRenderFile(IKvRenderFile**, const wchar_t*, int, IKvReadStream**,
                                             const tagKVTEMPLATExV2*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTemplateCount(int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2**, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindTemplateByGuid(const GUID*, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR, DWORD_PTR, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConvertTemplate(void**, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved19(void**, DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTemplateInfo(const tagKVTEMPLATExV2*, void*, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTemplatePageCounts(DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateTemplatePage(DWORD, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PrepareTemplatePages(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved24() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved26(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }

  // IKvRenderMetaSupport2
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Next(void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSupportedMetaFlags(DWORD*, DWORD*) override { return E_NOTIMPL; }

 private:
  ULONG refCount_;  // plain count: the host drives the class from one thread
};
