// The AAC decompressor adapter.
#include "vogaac2_decompressor.h"

#include <cmath>
#include <cstring>
#include <new>

#include "mp4AudioDecIfc.h"
#include "trackreader.h"

namespace {
const DWORD kNoUnit = 0xFFFFFFFFu;
const WORD kTagAac = 0xAAC0;
const WORD kTagSbr = 0xAAC1;
const WORD kTagPs = 0xAAC2;
}  // namespace

VogAacAudioDecompressor::VogAacAudioDecompressor()
    : format_(),
      decoder_(nullptr),
      auBuffer_(nullptr),
      cuBuffer_(nullptr),
      asc_(nullptr),
      lastUnit_(kNoUnit),
      isOpen_(0),
      formatConfirmed_(false),
      decoderUsed_(false) {}

VogAacAudioDecompressor::~VogAacAudioDecompressor() { Close(); }

short VogAacAudioDecompressor::ConvertSample(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 32767.0f) return 32767;
  if (value <= -32768.0f) return -32768;
  return static_cast<short>(value);  // truncation toward zero
}

HRESULT VogAacAudioDecompressor::Close() {
  isOpen_ = 0;
  if (cuBuffer_) cuBufferDestroy(&cuBuffer_);
  if (auBuffer_) auBufferDestroy(&auBuffer_);
  if (decoder_) mp4AudioDecClose(&decoder_);
  cuBuffer_ = nullptr;
  auBuffer_ = nullptr;
  decoder_ = nullptr;
  delete asc_;
  asc_ = nullptr;
  return S_OK;
}

HRESULT VogAacAudioDecompressor::Open(const std::vector<BYTE>* config, WAVEFORMATEX* format) {
  if (isOpen_ || asc_) Close();
  lastUnit_ = kNoUnit;
  formatConfirmed_ = false;
  decoderUsed_ = false;
  if (!format) return E_INVALIDARG;
  if (config)
    config_ = *config;
  else
    config_.clear();

  HRESULT hr = E_FAIL;
  asc_ = new (std::nothrow) AudioSpecificConfig;
  if (asc_) std::memset(asc_, 0, sizeof *asc_);
  if (asc_ && !config_.empty() &&
      mp4AudioDecParseAsc(config_.data(), static_cast<int32_t>(config_.size()), asc_) == 0) {
    decoder_ = mp4AudioDecOpenStream(asc_);
    if (decoder_) auBuffer_ = auBufferCreate(nullptr, 0);
    if (decoder_ && auBuffer_) {
      int32_t rate = asc_->sbrPresent == 1 ? asc_->extensionSamplingFrequency : asc_->samplingFrequency;
      int32_t channels = asc_->psPresent == 1 ? 2 : asc_->channelCount;
      cuBuffer_ = cuBufferCreate(2 * asc_->channelCount, 2 * asc_->frameLength, rate, 2048);
      if (cuBuffer_ && channels > 0 && rate > 0) {
        format->nChannels = static_cast<WORD>(channels);
        format->nBlockAlign = static_cast<WORD>(format->wBitsPerSample * channels / 8);
        format->nSamplesPerSec = static_cast<DWORD>(rate);
        format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
        isOpen_ = 1;
        hr = S_OK;
      }
    }
  }
  if (FAILED(hr)) Close();
  std::memcpy(&format_, format, sizeof format_);
  return hr;
}

HRESULT VogAacAudioDecompressor::GetFormatTag(WORD* tag) {
  if (!tag) return E_INVALIDARG;
  if (!asc_)
    *tag = kTagAac;
  else if (asc_->psPresent == 1)
    *tag = kTagPs;
  else if (asc_->sbrPresent == 1)
    *tag = kTagSbr;
  else
    *tag = kTagAac;
  return S_OK;
}

HRESULT VogAacAudioDecompressor::Decode(std::vector<BYTE>* pcm, fileutil::ITrackReader* source, DWORD* frames) {
  if (!pcm || !source || !frames) return E_INVALIDARG;
  if (!isOpen_) return E_FAIL;
  DWORD current = source->GetCurrentSample();
  HRESULT hr;
  if (current == 1 && decoderUsed_) {
    // The track's first unit has no predecessor: it is decoded from a fresh
    // decoder, as when the track is played from its start, not over the
    // state another unit left behind.
    mp4AudioDecClose(&decoder_);
    decoder_ = mp4AudioDecOpenStream(asc_);
    decoderUsed_ = false;
    lastUnit_ = kNoUnit;
    if (!decoder_) {
      Close();
      return E_FAIL;
    }
  }
  if (current > 1 && lastUnit_ != current - 1) {
    // Random access: the preceding unit primes the decoder's overlap state.
    lastUnit_ = kNoUnit;
    source->SeekSample(current - 1);
    hr = DecodeAccessUnit(pcm, source, frames);
    source->SeekSample(current);
    if (FAILED(hr)) return hr;
    hr = DecodeAccessUnit(pcm, source, frames);
  } else {
    hr = DecodeAccessUnit(pcm, source, frames);
  }
  lastUnit_ = SUCCEEDED(hr) ? current : kNoUnit;
  return hr;
}

HRESULT VogAacAudioDecompressor::DecodeAccessUnit(std::vector<BYTE>* pcm, fileutil::ITrackReader* source,
                                                  DWORD* frames) {
  *frames = 0;
  if (!source->ReadSample(unit_) || unit_.empty()) return E_FAIL;
  auBufferReset(auBuffer_);
  if (auBufferFeed(auBuffer_, unit_.data(), static_cast<int32_t>(unit_.size())) < 0 || !auBufferHasData(auBuffer_))
    return E_FAIL;
  cuBufferReset(cuBuffer_);
  decoderUsed_ = true;
  if (mp4AudioDecDecodeAu(decoder_, &auBuffer_, cuBuffer_) != 0) return E_FAIL;

  float* samples = nullptr;
  int32_t n = 0, channels = 0, rate = 0;
  if (cuBufferGetSamples(cuBuffer_, &samples) != 0 || !samples) return E_FAIL;
  if (cuBufferGetSamplesPerChannel(cuBuffer_, &n) != 0 || n <= 0) return E_FAIL;
  if (cuBufferGetChannels(cuBuffer_, &channels) != 0 || channels <= 0) return E_FAIL;
  cuBufferGetSampleRate(cuBuffer_, &rate);

  // The first unit shows what the decoder really delivers (implicitly
  // signalled SBR or PS changes the rate and channel count); later units must
  // keep that channel count.
  if (format_.wFormatTag != WAVE_FORMAT_PCM || format_.wBitsPerSample != 16) return E_FAIL;
  if (!formatConfirmed_) {
    format_.nChannels = static_cast<WORD>(channels);
    format_.nBlockAlign = static_cast<WORD>(channels * 2);
    if (rate > 0) format_.nSamplesPerSec = static_cast<DWORD>(rate);
    format_.nAvgBytesPerSec = format_.nBlockAlign * format_.nSamplesPerSec;
    formatConfirmed_ = true;
  } else if (format_.nChannels != channels) {
    return E_FAIL;
  }

  size_t count = static_cast<size_t>(channels) * static_cast<size_t>(n);
  size_t bytes = static_cast<size_t>(format_.nBlockAlign) * static_cast<size_t>(n);
  if (pcm->size() != bytes) pcm->resize(bytes);
  short* out = reinterpret_cast<short*>(pcm->data());
  for (size_t i = 0; i < count; ++i) out[i] = ConvertSample(samples[i]);
  *frames = static_cast<DWORD>(n);
  return S_OK;
}
