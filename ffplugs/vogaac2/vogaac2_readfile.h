// The AAC plug-in's read file: one audio stream and the metadata reader.
#pragma once

#include "ffbase_readfile.h"

class VogAacReadFile : public ffbase::BaseReadFile {
 public:
  explicit VogAacReadFile(IKvReadFileClass* owner) : ffbase::BaseReadFile(owner) {}

  HRESULT STDMETHODCALLTYPE GetStreamCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetReadMeta(IKvReadMeta** meta) override;
  HRESULT CreateStream(IKvReadStream** out, UINT index) override;
};
