// One AAC render: the render loop (source stream -> sample reader -> AAC
// compressor -> MP4 writer) and the metadata write by file extension.
#pragma once

#include "ffbase_interfaces.h"
#include "ffbase_renderfile.h"
#include "vogaac2_presets.h"

class VogAacRenderFile : public ffbase::BaseRenderFile {
 public:
  VogAacRenderFile(IKvRenderFileClass* owner, tagKVTEMPLATExV2* tmpl) : BaseRenderFile(owner, tmpl) {}

  HRESULT WriteFileMetadata(fileutil::MetaDataSet& collection, const wchar_t* path, DWORD sampleRate) override;
  HRESULT RenderStreams(const wchar_t* path, tagKVTEMPLATExV2* tmpl, ffbase::ReadStreams* sources,
                        IUnknown* progress) override;

 protected:
  // The compressor of a preset (the AAC adapter).
  virtual HRESULT NewCompressor(const AacPresetRecord& preset, ffbase::IAudioCompressor** out);
};
