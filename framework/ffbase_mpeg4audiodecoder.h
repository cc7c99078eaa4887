// The compressed-track source behind an audio read stream: opens an MP4 file
// by path, finds its audio track, describes the compressed and decoded
// formats, and serves sample-frame reads at any position through a
// decompressor, one access unit at a time with a one-unit cache.
//
// Positions and lengths are in output sample frames. When a unit decodes to
// more (or fewer) frames than its media duration says (implicitly signalled
// SBR doubles the frame count and the rate), positions are scaled by the
// frames of the first unit over its media duration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boxes.h"
#include "ffbase_interfaces.h"
#include "filestream.h"
#include "trackreader.h"

namespace ffbase {

class Mpeg4AudioDecoder : public IAudioDecoder {
 public:
  // Takes ownership of the decompressor.
  explicit Mpeg4AudioDecoder(IAudioDecompressor* decompressor);
  ~Mpeg4AudioDecoder() override;
  Mpeg4AudioDecoder(const Mpeg4AudioDecoder&) = delete;
  Mpeg4AudioDecoder& operator=(const Mpeg4AudioDecoder&) = delete;

  HRESULT Reserved0() override { return E_NOTIMPL; }
  WORD GetBlockAlign() override { return pcmFormat_.nBlockAlign; }
  bool IsOpen() override;
  HRESULT GetOutputFormat(WAVEFORMATEX** format) override;
  HRESULT GetSourceFormat(WAVEFORMATEX** format) override;
  HRESULT GetSampleCount(LONGLONG* frames) override;
  HRESULT GetByteRate(LONGLONG* bytesPerSecond) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT SetPath(const wchar_t* path) override;
  HRESULT Open() override;
  HRESULT Close() override;
  HRESULT Read(LONGLONG first, void* dest, DWORD count, DWORD* done) override;

 private:
  // Output frames of media time t (and back), by the scale of the first unit.
  uint64_t MediaToFrames(uint64_t t) const;
  uint64_t FramesToMedia(uint64_t frames) const;
  // Decodes the track's current unit into the cache; a failure empties it.
  HRESULT DecodeCurrent(uint64_t unitStart);
  void InvalidateCache();

  std::wstring path_;
  IAudioDecompressor* decompressor_;
  fileutil::ifstream file_;
  fileutil::BoxList* boxes_;
  fileutil::TrackReader* track_;
  WAVEFORMATEX sourceFormat_;
  WAVEFORMATEX pcmFormat_;
  std::vector<BYTE> pcm_;
  uint64_t blockStart_;   // output frame of the first frame in pcm_; UINT64_MAX when empty
  uint64_t totalFrames_;  // track length in output frames
  DWORD blockFrames_;     // frames in pcm_
  uint32_t scaleFrames_;  // output frames of the first unit ...
  uint32_t scaleMedia_;   // ... over its media duration (1/1 until probed)
};

}  // namespace ffbase
