// The AAC render loop and metadata write.
#include "vogaac2_renderfile.h"

#include <cstring>
#include <new>

#include "ffbase_audiosamplereader.h"
#include "ffbase_mpeg4audioencoder.h"
#include "kvaudio.h"
#include "kvtemplate.h"
#include "vogaac2_compressor.h"

HRESULT VogAacRenderFile::NewCompressor(const AacPresetRecord& preset, ffbase::IAudioCompressor** out) {
  return CreateAacCompressor(preset, out);
}

HRESULT VogAacRenderFile::WriteFileMetadata(fileutil::MetaDataSet& collection, const wchar_t* path, DWORD) {
  ffbase::Mpeg4AudioEncoder* encoder = new (std::nothrow) ffbase::Mpeg4AudioEncoder(nullptr);
  if (!encoder) return E_OUTOFMEMORY;
  HRESULT hr = encoder->WriteMetadata(collection, path);
  delete encoder;
  return hr;
}

HRESULT VogAacRenderFile::RenderStreams(const wchar_t* path, tagKVTEMPLATExV2* tmpl, ffbase::ReadStreams* sources,
                                        IUnknown* progress) {
  if (!tmpl || !sources || !path) return E_FAIL;
  // A template without a whole preset record (or whose declared size does not
  // hold its codec block) cannot configure an encoder.
  if (tmpl->cbCodecBlock < sizeof(AacPresetRecord) ||
      tmpl->cbSize < kKvTemplateHeaderSize + sizeof(AacPresetRecord))
    return E_INVALIDARG;
  AacPresetRecord preset;
  std::memcpy(&preset, tmpl->abData, sizeof preset);

  // The source is looked up first: without one there is nothing to encode,
  // whatever the encoder could do.
  IKvReadAudioStream* stream = nullptr;
  UINT index = 0;
  HRESULT hr = sources->FindAudioStream(reinterpret_cast<void**>(&stream), &index);
  if (FAILED(hr)) return hr;
  if (!stream) return E_FAIL;

  ffbase::IAudioCompressor* compressor = nullptr;
  hr = NewCompressor(preset, &compressor);
  if (SUCCEEDED(hr) && !compressor) hr = E_OUTOFMEMORY;
  ffbase::Mpeg4AudioEncoder* encoder = nullptr;
  if (SUCCEEDED(hr)) {
    encoder = new (std::nothrow) ffbase::Mpeg4AudioEncoder(compressor);
    if (!encoder) {
      delete compressor;
      hr = E_OUTOFMEMORY;
    }
  }
  WAVEFORMATEX outputFormat;
  std::memset(&outputFormat, 0, sizeof outputFormat);
  // The encoder takes the template's source format, with the channel count
  // its channel mode encodes from: parametric stereo is made from a stereo
  // input, although its templates name one channel.
  _kvwaveformat source;
  std::memset(&source, 0, sizeof source);
  std::memcpy(&source, tmpl->wfSource, sizeof tmpl->wfSource);
  const WORD encoderChannels = AacEncoderInputChannels(preset.channelMode);
  if (encoderChannels && source.nChannels != encoderChannels) {
    source.nChannels = encoderChannels;
    source.UpdateBlockAlign();
  }
  if (SUCCEEDED(hr)) hr = encoder->Init(&source, &outputFormat, tmpl->cbCodecBlock, tmpl->abData);
  if (SUCCEEDED(hr)) hr = encoder->Open(path);
  if (SUCCEEDED(hr)) {
    ffbase::AudioSampleReader* reader = new (std::nothrow) ffbase::AudioSampleReader();
    if (!reader) {
      hr = E_OUTOFMEMORY;
    } else {
      hr = reader->Init(progress, stream);
      if (SUCCEEDED(hr)) hr = reader->SetOutputFormat(&outputFormat);
      if (SUCCEEDED(hr)) {
        hr = encoder->Encode(reader);
        encoder->Close();
      }
      delete reader;
    }
  }
  delete encoder;
  if (stream) stream->Release();
  return hr;
}
