// The generic renderer class object: IKvRenderFileClass and the meta-support
// face, with the manager link, template hand-out and render-file creation.
// The plug-in supplies its presets, ids and render files through the virtuals
// that follow the interface slots.
#pragma once

#include <windows.h>

#include "kvfileio.h"

namespace ffbase {

class BaseRenderFileClass : public IKvRenderFileClass, public IKvRenderMetaSupport2 {
 public:
  BaseRenderFileClass();
  virtual ~BaseRenderFileClass();
  BaseRenderFileClass(const BaseRenderFileClass&) = delete;
  BaseRenderFileClass& operator=(const BaseRenderFileClass&) = delete;

  // IUnknown (one count for both faces).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IKvRenderFileClass
  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD index) override;
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD* index) override;
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager* manager) override;
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager** manager) override;
  HRESULT STDMETHODCALLTYPE GetRendererGuid(GUID* id) override;
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* version) override;
  HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** reader) override;
  HRESULT STDMETHODCALLTYPE Reserved12(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateRenderFile(IKvRenderFile** file, const wchar_t* path, int streamCount,
                                             IKvReadStream** streams, const tagKVTEMPLATExV2* tmpl) override;
  HRESULT STDMETHODCALLTYPE GetTemplateCount(int* count) override;
  HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2** tmpl, int index) override;
  // Generic form: compares with each preset's GUID as GetPresetGuid gives it.
  HRESULT STDMETHODCALLTYPE FindTemplateByGuid(const GUID* id, int* index) override;
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR, DWORD_PTR, DWORD* out) override;
  HRESULT STDMETHODCALLTYPE ConvertTemplate(void** out, DWORD_PTR, DWORD_PTR) override;
  HRESULT STDMETHODCALLTYPE Reserved19(void** out, DWORD_PTR, DWORD_PTR, DWORD_PTR) override;
  HRESULT STDMETHODCALLTYPE GetTemplateInfo(const tagKVTEMPLATExV2*, void*, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTemplatePageCounts(DWORD* pages, DWORD* extraPages, DWORD* flags) override;
  HRESULT STDMETHODCALLTYPE CreateTemplatePage(DWORD, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PrepareTemplatePages(DWORD_PTR) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Reserved24() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reserved26(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }

  // IKvRenderMetaSupport2 (the second face)
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Next(void* item, DWORD* size) override;
  HRESULT STDMETHODCALLTYPE GetSupportedMetaFlags(DWORD* flags, DWORD* flags2) override;

  // The plug-in's part, in this order.
  virtual HRESULT GetReaderClassGuid(GUID* out) = 0;
  virtual HRESULT GetRendererClassGuid(GUID* out) = 0;
  // Makes a render file over `tmpl`, which it owns from then on (also on failure).
  virtual HRESULT NewRenderFile(IKvRenderFile** out, tagKVTEMPLATExV2* tmpl) = 0;
  virtual int GetPresetCount() = 0;
  virtual DWORD GetPresetSize() = 0;
  virtual DWORD GetTemplateVersion() = 0;
  virtual HRESULT GetPresetGuid(GUID* out, int index) = 0;
  virtual HRESULT GetPreset(void* out, DWORD cb, int index) = 0;
  // A new heap template (freed with free), or null when memory is short.
  virtual tagKVTEMPLATExV2* MakePresetTemplate(int index) = 0;
  virtual HRESULT GetPresetSourceFormat(int index, WAVEFORMATEX* out) = 0;
  virtual HRESULT ApplySourceFormat(void* preset, DWORD cb, const WAVEFORMATEX* wfx) = 0;
  virtual HRESULT GetMetaSupportItem(void* out, int index) = 0;
  // Metadata kinds the renderer writes (first word; the second is 0).
  virtual DWORD SupportedMetaFlags() = 0;
  // Switches the module's texts to the host's language.
  virtual void ApplyHostLanguage(LCID) {}

 protected:
  DWORD metaEnumIndex_;
  ULONG refCount_;  // plain count: the host drives the class from one thread
  DWORD classIndex_;
  IKvDizuVOManager* manager_;  // one counted reference, or null
};

}  // namespace ffbase
