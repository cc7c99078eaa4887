// The AAC decompressor adapter: one MP4 sample (an AAC access unit) in,
// interleaved 16-bit PCM out, through the codec's decoder interface. Random
// access primes the decoder with the preceding unit.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <vector>

#include "ffbase_interfaces.h"

struct AudioSpecificConfig;
struct Mp4AudioDec;
struct AuBuffer;
struct CuBuffer;

class VogAacAudioDecompressor : public ffbase::IAudioDecompressor {
 public:
  VogAacAudioDecompressor();
  ~VogAacAudioDecompressor() override;
  VogAacAudioDecompressor(const VogAacAudioDecompressor&) = delete;
  VogAacAudioDecompressor& operator=(const VogAacAudioDecompressor&) = delete;

  HRESULT Open(const std::vector<BYTE>* config, WAVEFORMATEX* format) override;
  HRESULT Decode(std::vector<BYTE>* pcm, fileutil::ITrackReader* source, DWORD* frames) override;
  HRESULT GetFormatTag(WORD* tag) override;
  HRESULT Close() override;

  virtual HRESULT DecodeAccessUnit(std::vector<BYTE>* pcm, fileutil::ITrackReader* source, DWORD* frames);

  // The decoder's float sample (16-bit scale) as a 16-bit sample: clipped,
  // then truncated toward zero; NaN gives 0.
  static short ConvertSample(float value);

 private:
  std::vector<BYTE> config_;
  std::vector<BYTE> unit_;
  WAVEFORMATEX format_;
  Mp4AudioDec* decoder_;
  AuBuffer* auBuffer_;
  CuBuffer* cuBuffer_;
  AudioSpecificConfig* asc_;
  DWORD lastUnit_;
  DWORD isOpen_;
  bool formatConfirmed_;  // the first decoded unit has set the channel count
  bool decoderUsed_;      // the decoder holds state of a decoded unit
};
