// The AAC compressor adapter over the AAC encoder: one encoder instance per
// render, fed with blocks of interleaved float samples pulled from the sample
// reader; at the end of the source the encoder's delay line is flushed, so
// that the last samples of the source reach the file.
#include "vogaac2_compressor.h"

#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "descriptors.h"
#include "mp4enc.h"
#include "mp4encunits.h"

namespace {

// The largest access unit accepted from one encode call.
constexpr int32_t kAccessUnitRoom = 8000;

class VogAacAudioCompressor : public ffbase::IAudioCompressor {
 public:
  explicit VogAacAudioCompressor(const AacPresetRecord& preset) {
    config_.objectType = int32_t(preset.objectType);
    config_.bitRate = int32_t(preset.bitRate);
    config_.qualityMode = int32_t(preset.codecParam1);
    config_.channelMode = int32_t(preset.channelMode);
    config_.sampleRate = int32_t(preset.sampleRate);
    config_.erOption = int32_t(preset.codecParam2);
    config_.sbrSignalling = int32_t(preset.codecParam3);
    std::memset(&info_, 0, sizeof info_);
    std::memset(&format_, 0, sizeof format_);
  }
  ~VogAacAudioCompressor() override { mp4EncClose(&encoder_); }
  VogAacAudioCompressor(const VogAacAudioCompressor&) = delete;
  VogAacAudioCompressor& operator=(const VogAacAudioCompressor&) = delete;

  HRESULT Open(void*, const WAVEFORMATEX* source, WAVEFORMATEX* output) override {
    if (!source || !output) return E_INVALIDARG;
    mp4EncClose(&encoder_);
    pending_.clear();
    flushing_ = false;
    ended_ = false;
    std::memcpy(&format_, source, 16);
    format_.cbSize = source->cbSize;
    format_.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format_.wBitsPerSample = 32;
    // The encoder takes the channels of its channel mode (parametric stereo is
    // made from two); the converter chain mixes the source to that count.
    const WORD modeChannels = AacEncoderInputChannels(DWORD(config_.channelMode));
    if (modeChannels) format_.nChannels = modeChannels;
    format_.nBlockAlign = WORD(format_.nChannels * 32 / 8);
    HRESULT hr = S_OK;
    int32_t minRate = 0, maxRate = 0, defaultRate = 0;
    if (mp4EncGetRateRange(config_.bitRate, config_.channelMode, config_.objectType, config_.qualityMode, &minRate,
                           &maxRate, &defaultRate) != kMp4EncOk) {
      hr = E_FAIL;
    } else if (int32_t(format_.nSamplesPerSec) < minRate || int32_t(format_.nSamplesPerSec) > maxRate) {
      format_.nSamplesPerSec = DWORD(defaultRate);
    }
    format_.nAvgBytesPerSec = format_.nBlockAlign * format_.nSamplesPerSec;
    // The encoder is told the rate its input really has: the rate asked of the
    // converter chain.
    config_.sampleRate = int32_t(format_.nSamplesPerSec);
    int32_t blockSamples = 0;
    if (SUCCEEDED(hr) && mp4EncOpen(&encoder_, &config_) != kMp4EncOk) hr = E_FAIL;
    if (SUCCEEDED(hr) && mp4EncInit(&encoder_, &blockSamples) != kMp4EncOk) hr = E_FAIL;
    if (SUCCEEDED(hr) && mp4EncGetInfo(encoder_, &info_) != kMp4EncOk) hr = E_FAIL;
    if (SUCCEEDED(hr) && (blockSamples <= 0 || blockSamples % format_.nChannels != 0 || !info_.asc)) hr = E_FAIL;
    if (FAILED(hr)) {
      mp4EncClose(&encoder_);
      inputBlockSamples_ = 0;
    } else {
      inputBlockSamples_ = DWORD(blockSamples);
      frameLength_ = info_.frameLength > 0 ? DWORD(info_.frameLength) : inputBlockSamples_ / format_.nChannels;
    }
    std::memcpy(output, &format_, sizeof format_);
    return hr;
  }

  HRESULT Encode(std::vector<uint8_t>* accessUnit, ffbase::IAudioSampleReader* reader, DWORD* duration) override {
    if (!accessUnit || !duration) return E_INVALIDARG;
    *duration = 0;
    accessUnit->clear();
    if (!encoder_) return E_FAIL;
    // Units of an earlier call go out one at a time.
    if (!pending_.empty()) return TakePending(accessUnit, duration);
    if (ended_) return S_FALSE;
    if (!flushing_) {
      if (!reader) return E_INVALIDARG;
      samples_.assign(inputBlockSamples_, 0.0f);
      DWORD framesRead = 0;
      HRESULT hr = reader->Read(samples_.data(), inputBlockSamples_ / format_.nChannels, &framesRead);
      if (FAILED(hr)) return hr;
      if (hr != S_OK && hr != S_FALSE) return hr;
      if (framesRead > 0) {
        HRESULT e = RunEncoder(samples_.data(), framesRead * format_.nChannels);
        if (FAILED(e)) return e;
      }
      // The end of the source: the encoder's delay line follows.
      if (hr == S_FALSE) flushing_ = true;
      if (!pending_.empty()) return TakePending(accessUnit, duration);
      return S_OK;
    }
    // One flushed frame per call until the encoder has nothing left.
    HRESULT e = RunEncoder(nullptr, 0);
    if (FAILED(e)) return e;
    if (pending_.empty()) {
      ended_ = true;
      return S_FALSE;
    }
    return TakePending(accessUnit, duration);
  }

  HRESULT SetProfileLevels(fileutil::ISetInitialObjectDescriptor* iod) override {
    if (!iod) return E_INVALIDARG;
    iod->Set(0xFF, 0xFF, uint8_t(info_.profileLevel), 0xFF, 0xFF);
    return S_OK;
  }

  HRESULT FillDecoderConfig(fileutil::ISetElementaryStreamInfo* es) override {
    if (!es) return E_INVALIDARG;
    std::vector<uint8_t> asc;
    if (info_.asc && info_.asc->data && info_.asc->bits > 0)
      asc.assign(info_.asc->data, info_.asc->data + (info_.asc->bits + 7) / 8);
    const uint32_t bufferBytes = uint32_t(info_.maxBitsPerFrame + 7) / 8;
    if (!es->Set(0x40, 5, bufferBytes, uint32_t(info_.maxBitRate), uint32_t(info_.bitRate), 0, asc))
      return E_OUTOFMEMORY;
    return S_OK;
  }

  DWORD GetPrimingFrames() override { return DWORD(mp4EncEditListPriming(config_.objectType, info_.totalDelay)); }

  // Harmless when repeated: the encoder's handle is cleared.
  HRESULT Close() override {
    mp4EncClose(&encoder_);
    return S_OK;
  }

 private:
  // Encodes `count` interleaved samples (0: the next flushed frame) and queues
  // every access unit the call produced, split by the encoder's unit sizes.
  HRESULT RunEncoder(const float* in, DWORD count) {
    unitBytes_.resize(kAccessUnitRoom);
    int32_t consumed = 0, next = 0, outBytes = 0;
    mp4EncUnits* units = nullptr;
    const int r = mp4EncEncode(encoder_, in, int32_t(count), &consumed, &next, unitBytes_.data(), kAccessUnitRoom,
                               &outBytes, &units);
    if (r != kMp4EncOk || outBytes < 0 || outBytes > kAccessUnitRoom) return E_FAIL;
    if (count > 0 && consumed != int32_t(count)) return E_FAIL;
    return mp4EncSplitUnits(unitBytes_.data(), outBytes, units, &pending_) ? S_OK : E_FAIL;
  }

  HRESULT TakePending(std::vector<uint8_t>* accessUnit, DWORD* duration) {
    accessUnit->swap(pending_.front());
    pending_.pop_front();
    *duration = frameLength_;
    return S_OK;
  }

  mp4EncHandle encoder_ = nullptr;
  mp4EncConfig config_;
  mp4EncInfo info_;
  DWORD inputBlockSamples_ = 0;
  DWORD frameLength_ = 0;
  std::vector<float> samples_;
  std::vector<uint8_t> unitBytes_;
  std::deque<std::vector<uint8_t>> pending_;
  WAVEFORMATEX format_;
  bool flushing_ = false;
  bool ended_ = false;
};

}  // namespace

HRESULT CreateAacCompressor(const AacPresetRecord& preset, ffbase::IAudioCompressor** out) {
  if (!out) return E_INVALIDARG;
  *out = new (std::nothrow) VogAacAudioCompressor(preset);
  return *out ? S_OK : E_OUTOFMEMORY;
}
