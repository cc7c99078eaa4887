// The read metadata object with its six faces. Until files can be read it is
// always the object that was never loaded (the one the class factory makes):
// it answers every face as an empty metadata reader.
#pragma once

#include "kvfileio.h"

class VogAacReadMeta : public IKvReadMeta,
                       public IKvReadGenericMeta,
                       public IKvReadProjectLinkMeta,
                       public IKvReadProjectLinkMetaEx,
                       public IKvReadMediaMgrMeta,
                       public IKvReadPlimMeta {
 public:
  VogAacReadMeta();
  virtual ~VogAacReadMeta();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IKvReadMeta
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream** markers) override;
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT key, wchar_t* buf, int cch) override;
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream** summary) override;

  // IKvReadGenericMeta
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Next(IStream** entries) override;

  // IKvReadProjectLinkMeta: fields 1 to 9
  HRESULT STDMETHODCALLTYPE GetProjectPath(IStream** field) override { return GetField(field, 1); }
  HRESULT STDMETHODCALLTYPE GetCommandLine(IStream** field) override { return GetField(field, 2); }
  HRESULT STDMETHODCALLTYPE GetRendererGuid(IStream** field) override { return GetField(field, 3); }
  HRESULT STDMETHODCALLTYPE GetTemplateName(IStream** field) override { return GetField(field, 4); }
  HRESULT STDMETHODCALLTYPE GetTemplateData(IStream** field) override { return GetField(field, 5); }
  HRESULT STDMETHODCALLTYPE GetAppTemplateData(IStream** field) override { return GetField(field, 6); }
  HRESULT STDMETHODCALLTYPE GetProjectData(IStream** field) override { return GetField(field, 7); }
  HRESULT STDMETHODCALLTYPE GetCreatorAppInfo(IStream** field) override { return GetField(field, 8); }
  HRESULT STDMETHODCALLTYPE GetCreatorAppWindowClassName(IStream** field) override { return GetField(field, 9); }

  // IKvReadProjectLinkMetaEx
  HRESULT STDMETHODCALLTYPE GetField(IStream** field, UINT fieldId) override;

  // IKvReadMediaMgrMeta
  HRESULT STDMETHODCALLTYPE GetUserDefStream(IStream** entries) override;
  HRESULT STDMETHODCALLTYPE GetUserDefInfo(BYTE* record12) override;

  // IKvReadPlimMeta
  HRESULT STDMETHODCALLTYPE GetPlimInfo(BYTE* record24) override;
  HRESULT STDMETHODCALLTYPE GetPlimInfoEx(BYTE* record28) override;
  HRESULT STDMETHODCALLTYPE GetPlimStream(IStream** entries) override;

 private:
  volatile LONG refCount_;  // interlocked: metadata objects may be shared between threads
};
