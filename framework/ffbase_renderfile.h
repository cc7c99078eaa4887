// The generic render file: one save operation (target path, source streams,
// source metadata, template), rendered by the plug-in's render loop, followed
// by the gathering of the source's metadata into one collection that the
// plug-in writes into the finished file.
#pragma once

#include <windows.h>

#include "ffbase_readfile.h"
#include "kvfileio.h"

namespace fileutil {
class MetaDataSet;
}

namespace ffbase {

class BaseRenderFile : public IKvRenderFile {
 public:
  // Takes over `tmpl` (freed with free).
  BaseRenderFile(IKvRenderFileClass* owner, tagKVTEMPLATExV2* tmpl);
  virtual ~BaseRenderFile();
  BaseRenderFile(const BaseRenderFile&) = delete;
  BaseRenderFile& operator=(const BaseRenderFile&) = delete;
  // False when the source collection could not be made.
  bool IsUsable() const { return sources_ != nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetRenderFileClass(IKvRenderFileClass** owner) override;
  HRESULT STDMETHODCALLTYPE ReleaseSources() override;
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPath(const wchar_t* path) override;
  HRESULT STDMETHODCALLTYPE GetPath(wchar_t* buf, int cch) override;
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE Reserved10(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved11(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSourceStream(IKvReadStream* stream, UINT index) override;
  HRESULT STDMETHODCALLTYPE SetSourceMeta(IKvReadMeta* meta) override;
  HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2** tmpl, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE Reserved15(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Render(IUnknown* progress) override;
  HRESULT STDMETHODCALLTYPE WriteMetadata(DWORD sampleRate, DWORD reserved) override;

  // The plug-in's part.
  virtual HRESULT WriteFileMetadata(fileutil::MetaDataSet& collection, const wchar_t* path, DWORD sampleRate) = 0;
  virtual HRESULT RenderStreams(const wchar_t* path, tagKVTEMPLATExV2* tmpl, ReadStreams* sources,
                                IUnknown* progress) = 0;

 protected:
  // The host's metadata gathered and written into the file at `path`.
  HRESULT WriteMetadataTo(const wchar_t* path, DWORD sampleRate);
  HRESULT CollectSummaryMeta(fileutil::MetaDataSet& collection);
  HRESULT CollectGenericMeta(fileutil::MetaDataSet& collection);
  HRESULT CollectProjectLinkMeta(fileutil::MetaDataSet& collection);
  HRESULT CollectUserDefMeta(fileutil::MetaDataSet& collection);
  HRESULT CollectPlimMeta(fileutil::MetaDataSet& collection);
  HRESULT CollectMarkerMeta(fileutil::MetaDataSet& collection, DWORD sampleRate);

  LONG refCount_;
  wchar_t path_[MAX_PATH];
  IKvReadMeta* sourceMeta_;
  ReadStreams* sources_;
  tagKVTEMPLATExV2* tmpl_;
  IKvRenderFileClass* owner_;  // not counted: the class outlives its files
};

}  // namespace ffbase
