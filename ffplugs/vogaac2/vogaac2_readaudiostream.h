// The AAC plug-in's audio read stream: an AAC decompressor inside the MP4
// audio decoder.
#pragma once

#include "ffbase_readaudiostream.h"

class VgAacReadAudioStream : public ffbase::BaseReadAudioStream {
 public:
  explicit VgAacReadAudioStream(IKvReadFile* owner) : ffbase::BaseReadAudioStream(owner) {}
  const char* CodecId() override { return "VOGAAC2"; }
  HRESULT CreateDecoder(ffbase::IAudioDecoder** out) override;
};
