// The read metadata object with its six faces. Loaded from a file, it holds
// the file's tags as read by the 3GPP, ID3v2 and iTunes readers (in that
// order: the first reader that finds an id decides its text) and answers the
// summary and generic faces from them. The object the class factory makes is
// never loaded and answers every face as an empty metadata reader. Markers,
// project-link fields, media-manager and Plim data come from the host's
// entries in the same set.
#pragma once

#include <string>

#include "ffbase_hostmeta.h"
#include "kvfileio.h"
#include "metadataset.h"

class VogAacReadMeta : public IKvReadMeta,
                       public IKvReadGenericMeta,
                       public IKvReadProjectLinkMeta,
                       public IKvReadProjectLinkMetaEx,
                       public IKvReadMediaMgrMeta,
                       public IKvReadPlimMeta {
 public:
  VogAacReadMeta();
  virtual ~VogAacReadMeta();

  // Reads the file's tags (a file that cannot be read gives an empty set) and
  // restarts the generic enumeration. E_OUTOFMEMORY when the set cannot be made.
  HRESULT Load(const wchar_t* path);

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
  void Unload();

  volatile LONG refCount_;  // interlocked: metadata objects may be shared between threads
  fileutil::MetaDataSet* collection_;  // owned; null until loaded
  ffbase::ProjectLinkFieldMap* projectLink_;  // owned; null until loaded
  ffbase::UserDefManager* userDef_;           // owned; null until loaded
  ffbase::PlimManager* plim_;                 // owned; null until loaded
  std::wstring path_;                         // the loaded file, for its time scale
  fileutil::EntryMap genericList_;     // the entries the generic face hands out
  fileutil::EntryMap::const_iterator genericNext_;
};
