// The reader's class object: identifies MP4 files by their 'ftyp' box and
// opens them as read files.
#pragma once

#include "ffbase_readfileclass.h"

class VogAacReadFileClass : public ffbase::BaseReadFileClass {
 public:
  VogAacReadFileClass() {}
  ~VogAacReadFileClass() override {}

  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) override;
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count, BSTR* texts) override;
  HRESULT STDMETHODCALLTYPE IdentifyFile(HANDLE file, const BYTE* header, DWORD cb, const wchar_t* extension) override;
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND parent) override;

  HRESULT CreateReadFile(IKvReadFile** out) override;
  const GUID* ReaderClassGuid() override;
  const GUID* RendererClassGuid() override;
  void ApplyHostLanguage(LCID lcid) override;
};
