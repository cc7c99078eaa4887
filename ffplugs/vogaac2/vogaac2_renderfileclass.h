// The renderer's class object: the framework's render class filled with the
// fifteen AAC presets, handed out as render templates.
#pragma once

#include "ffbase_renderfileclass.h"
#include "vogaac2_presets.h"

class VogAacRenderFileClass : public ffbase::BaseRenderFileClass {
 public:
  VogAacRenderFileClass() {}
  ~VogAacRenderFileClass() override {}

  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) override;
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count, BSTR* texts) override;
  // A direct scan of the preset table.
  HRESULT STDMETHODCALLTYPE FindTemplateByGuid(const GUID* id, int* index) override;
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND parent) override;

  HRESULT GetReaderClassGuid(GUID* out) override;
  HRESULT GetRendererClassGuid(GUID* out) override;
  HRESULT NewRenderFile(IKvRenderFile** out, tagKVTEMPLATExV2* tmpl) override;
  int GetPresetCount() override { return kAacPresetCount; }
  DWORD GetPresetSize() override { return sizeof(AacPresetRecord); }
  DWORD GetTemplateVersion() override;
  HRESULT GetPresetGuid(GUID* out, int index) override;
  HRESULT GetPreset(void* out, DWORD cb, int index) override;
  tagKVTEMPLATExV2* MakePresetTemplate(int index) override;
  HRESULT GetPresetSourceFormat(int index, WAVEFORMATEX* out) override;
  HRESULT ApplySourceFormat(void* preset, DWORD cb, const WAVEFORMATEX* wfx) override;
  HRESULT GetMetaSupportItem(void*, int) override { return E_NOTIMPL; }
  DWORD SupportedMetaFlags() override;
  void ApplyHostLanguage(LCID lcid) override;
};
