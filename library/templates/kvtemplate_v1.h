// The earlier template record (V1), as far as reading and lifting it needs.
// V1 templates are never written; they are read from streams and files and
// lifted to V2. Stream form: total size, version (major byte 1), the name in
// 260 UTF-16 units, the description in 260 units, an audio-present word and,
// when non-zero, the audio description (18-byte WAVEFORMATEX, stream count,
// size + bytes of the compressed format, 32-byte audio extension, size +
// bytes of codec data); then a video-present word and, when non-zero, the
// video description (stream count, 64-byte video extension, source and output
// BITMAPINFOHEADERs, size + bytes of codec data).
#pragma once

#include "kvtemplate.h"

#pragma pack(push, 1)
// Audio description (66 bytes in the 32-bit build).
struct KVTEMPLATEV1_AUDIO {
  WAVEFORMATEX wfxSource;        // the source format (an 18-byte header)
  DWORD nStreams;
  WAVEFORMATEX* pwfxCompressed;  // the output format (18 + cbSize bytes), or null
  tKVAUDIOEXTENSION ext;
  DWORD cbCodecData;
  BYTE* pCodecData;
};
// Video description.
struct KVTEMPLATEV1_VIDEO {
  DWORD nStreams;
  tKVVIDEOEXTENSION ext;
  BITMAPINFOHEADER bihSource;
  BITMAPINFOHEADER bihOutput;    // all zero when there is no output header
  DWORD cbCodecData;
  BYTE* pCodecData;
};
#pragma pack(pop)

constexpr DWORD kKvTemplateV1NameChars = 260;

struct KVTEMPLATExV1 {
  DWORD cbSize;
  DWORD dwVersion;
  WCHAR szName[kKvTemplateV1NameChars];         // NUL-terminated within the field
  WCHAR szDescription[kKvTemplateV1NameChars];  // NUL-terminated within the field
  BOOL bAudio;
  KVTEMPLATEV1_AUDIO* pAudio;  // provided by the caller
  BOOL bVideo;
  KVTEMPLATEV1_VIDEO* pVideo;  // provided by the caller
};
