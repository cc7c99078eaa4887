// The AAC plug-in's audio read stream.
#include "vogaac2_readaudiostream.h"

#include <new>

#include "ffbase_mpeg4audiodecoder.h"
#include "vogaac2_decompressor.h"

HRESULT VgAacReadAudioStream::CreateDecoder(ffbase::IAudioDecoder** out) {
  if (!out) return E_INVALIDARG;
  VogAacAudioDecompressor* decompressor = new (std::nothrow) VogAacAudioDecompressor();
  if (!decompressor) return E_OUTOFMEMORY;
  ffbase::Mpeg4AudioDecoder* decoder = new (std::nothrow) ffbase::Mpeg4AudioDecoder(decompressor);
  if (!decoder) {
    delete decompressor;
    return E_OUTOFMEMORY;
  }
  *out = decoder;
  return S_OK;
}
