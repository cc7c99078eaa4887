// The MP4 audio file writer: builds the box tree of a one-track audio file,
// streams the access units of a compressor into its media data behind a
// reserved header space, completes the sample tables and rewrites the header
// boxes into that space. Without a compressor it adds metadata to a finished
// file.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <string>
#include <vector>

#include "audiofilewriter.h"
#include "boxes.h"
#include "ffbase_interfaces.h"

namespace ffbase {

// Bytes kept free in front of the media data for the header boxes.
const uint64_t kMpeg4ReservedHeaderSpace = fileutil::kAudioFileReservedHeaderSpace;

class Mpeg4AudioEncoder : public IAudioEncoder {
 public:
  // Takes over `compressor` (may be null: metadata only).
  explicit Mpeg4AudioEncoder(IAudioCompressor* compressor);
  ~Mpeg4AudioEncoder() override;
  Mpeg4AudioEncoder(const Mpeg4AudioEncoder&) = delete;
  Mpeg4AudioEncoder& operator=(const Mpeg4AudioEncoder&) = delete;

  HRESULT Init(const _kvwaveformat* source, WAVEFORMATEX* output, DWORD cbCodecData, const void* codecData) override;
  HRESULT Open(const wchar_t* path) override;
  HRESULT Encode(IAudioSampleReader* reader) override;
  HRESULT Close() override;
  HRESULT WriteMetadata(fileutil::MetaDataSet& collection, const wchar_t* path) override;

  // The tree being written (for inspection).
  fileutil::BoxList& Boxes() { return boxes_; }

 private:
  HRESULT BuildTree();

  WAVEFORMATEX outputFormat_;
  IAudioCompressor* compressor_;
  std::vector<BYTE> decoderInfo_;
  fileutil::BoxList boxes_;
  std::wstring path_;
};

// Rewrites the file at `path` from `boxes` (in place when the 'free' box before
// the media data absorbs the change, otherwise through a backup copy that is
// removed afterwards). S_OK, or E_FAIL with the file as it was.
HRESULT RewriteFile(const wchar_t* path, fileutil::BoxList& boxes);

}  // namespace ffbase
