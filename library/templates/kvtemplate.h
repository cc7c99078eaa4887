// Render templates: the self-contained byte record that says how a file is to
// be written (streams, source and output formats, codec block, name and
// description), the stream-format record that templates are made from, the
// video extension record, and the functions that build, copy, compare,
// identify and query templates.
//
// Records are little-endian and position-independent; strings are UTF-16.
// A template handed out by these functions is one block from the C runtime's
// zero-filling allocator (calloc) and is released with free() or
// KvFio_ReleaseTemplate. This header builds on both the Windows and the
// native build; the loaders from files and streams are in kvtemplate_io.h.
#pragma once

#include "kvapi.h"
#include "kvbitmapinfo.h"
#include "kvwavefmt.h"

struct _kvwaveformat;

// Field order of a video stream.
#ifndef KV_INTERLACETYPE_DEFINED
#define KV_INTERLACETYPE_DEFINED
enum KVINTERLACETYPE : int32_t {
  KVINTERLACE_UNSET = -1,
  KVINTERLACE_PROGRESSIVE = 0,
  KVINTERLACE_UPPER_FIRST = 1,
  KVINTERLACE_LOWER_FIRST = 2,
  KVINTERLACE_ONE_FIELD_HALF = 3,
  KVINTERLACE_ONE_FIELD_DOUBLED = 4,
};
#endif

#pragma pack(push, 4)

// Audio extension: 32 bytes that templates and stream-format records carry
// as one block.
struct tKVAUDIOEXTENSION {
  BYTE bytes[32];
};
static_assert(sizeof(tKVAUDIOEXTENSION) == 32, "tKVAUDIOEXTENSION is 32 bytes");

// Video extension (16 words).
struct tKVVIDEOEXTENSION {
  DWORD cbSize;           // 64
  LONG colorimetry;       // 515 BT.601, 516 BT.709, -1 (or anything else) not stated
  DWORD reserved;         // 0
  DWORD fieldOrder;       // a KVINTERLACETYPE
  double frameRate;       // frames per second
  double pixelAspect;     // 1.0 for square pixels
  double gamma;           // 0.0 = not stated
  DWORD zero[6];

  // Size 64, colorimetry -1, the given field order and frame rate, the pixel
  // aspect (1.0 when the value given is 0 or less), gamma 0, the rest zero.
  void Init(double frameRate, DWORD fieldOrder, double pixelAspect);
};
static_assert(sizeof(tKVVIDEOEXTENSION) == 64, "tKVVIDEOEXTENSION is 64 bytes");
static_assert(offsetof(tKVVIDEOEXTENSION, frameRate) == 16, "layout");
static_assert(offsetof(tKVVIDEOEXTENSION, gamma) == 32, "layout");

// One stream's format as read files report it and templates are made from.
constexpr DWORD kKvStreamFormatInfoSize = 184;
constexpr DWORD kKvStreamTypeAudio = 1;
constexpr DWORD kKvStreamTypeVideo = 2;
struct _KVFILESTREAMFORMATINFOv2 {
  DWORD cbSize;       // 184
  DWORD streamType;   // 1 audio, 2 video, 0 empty
  LONGLONG length;    // samples (audio) or frames (video)
  BYTE reserved[8];
  // Audio: the 32-byte audio extension and 32 zero bytes; video: the 64-byte
  // video extension.
  BYTE extension[64];
  // Audio: a 96-byte _kvwaveformat; video: a BITMAPINFOHEADER and zeros.
  BYTE format[96];
};
static_assert(sizeof(_KVFILESTREAMFORMATINFOv2) == 184, "_KVFILESTREAMFORMATINFOv2 is 184 bytes");
static_assert(offsetof(_KVFILESTREAMFORMATINFOv2, extension) == 24, "layout");
static_assert(offsetof(_KVFILESTREAMFORMATINFOv2, format) == 88, "layout");

// Sizes and marks of the V2 template record.
constexpr DWORD kKvTemplateBasicSize = 540;    // header and body, four zero bytes of string area
constexpr DWORD kKvTemplateHeaderSize = 536;   // everything before the codec block
constexpr DWORD kKvTemplateBodyOffset = 56;    // the hashed body: offsets 56..527
constexpr DWORD kKvTemplateBodySize = 472;
constexpr DWORD kKvTemplateVersion2 = 0x2000000;
constexpr DWORD kKvTemplatePartSize = 200;     // audio or video part in use
constexpr DWORD kKvTemplateAudioVariableRate = 0x20;
constexpr DWORD kKvTemplateVideoPulldown = 0x1;
constexpr DWORD kKvTemplateSourceAudioSize = 40;
constexpr DWORD kKvTemplateOutputAudioSize = 96;

// The render-template record. Its codec block and string area follow the
// fixed part; the declared size (540) is that of a basic template.
struct tagKVTEMPLATExV2 {
  DWORD cbSize;              // 0: total bytes, block and strings included
  DWORD dwVersion;           // 4: major version in the high byte
  DWORD reserved8;           // 8
  DWORD dwIndex;             // 12: preset index of a render class
  BYTE reserved16[8];        // 16
  GUID guidOwner;            // 24: renderer GUID of the owning render class
  GUID guidTemplate;         // 40: identity
  // Body (hashed): 56..527.
  DWORD cbAudioPart;         // 56: 200 when audio is in use
  DWORD nAudioStreams;       // 60
  BYTE reserved64[8];        // 64
  BYTE wfSource[40];         // 72: 40-byte _kvwaveformat (uncompressed)
  tKVAUDIOEXTENSION audioExt;  // 112
  BYTE wfOutput[96];         // 144: 96-byte _kvwaveformat, zero = the source format
  DWORD dwAudioFlags;        // 240
  BYTE reserved244[12];      // 244
  DWORD cbVideoPart;         // 256: 200 when video is in use
  DWORD nVideoStreams;       // 260
  BITMAPINFOHEADER bihSource;  // 264
  tKVVIDEOEXTENSION videoExt;  // 304
  BITMAPINFOHEADER bihOutput;  // 368: zero when the output is uncompressed
  BYTE reserved408[16];      // 408
  DWORD dwVideoFlags;        // 424
  BYTE reserved428[12];      // 428
  LONGLONG llVideoDataRate;  // 440: bytes per second, 0 or less = derived
  DWORD dwOptions;           // 448: output options (KVFIO_TEMPLATE_OPTION_*)
  BYTE reserved452[76];      // 452
  DWORD cchStrings;          // 528: string-area length in UTF-16 code units
  DWORD cbCodecBlock;        // 532
  BYTE abData[4];            // 536: codec block, then the string area
};
#pragma pack(pop)
static_assert(sizeof(tagKVTEMPLATExV2) == 540, "basic template is 540 bytes");
static_assert(offsetof(tagKVTEMPLATExV2, guidTemplate) == 40, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, wfSource) == 72, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, wfOutput) == 144, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, dwAudioFlags) == 240, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, bihSource) == 264, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, videoExt) == 304, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, bihOutput) == 368, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, dwVideoFlags) == 424, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, llVideoDataRate) == 440, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, dwOptions) == 448, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, cchStrings) == 528, "layout");
static_assert(offsetof(tagKVTEMPLATExV2, abData) == 536, "layout");

// Information ids of KvFio_GetTemplateInfo.
enum KVFIO_TEMPLATE_INFO : uint32_t {
  KVFIO_TI_AUDIO_FORMAT_TAG = 1,      // 16-bit
  KVFIO_TI_VIDEO_COMPRESSION = 2,     // 32-bit
  KVFIO_TI_AUDIO_BIT_RATE = 3,        // 32-bit, bits per second
  KVFIO_TI_VIDEO_BIT_RATE = 4,        // 64-bit, bits per second
  KVFIO_TI_AUDIO_STREAMS = 10,        // 32-bit
  KVFIO_TI_VIDEO_STREAMS = 11,        // 32-bit
  KVFIO_TI_AUDIO_SAMPLE_RATE = 12,    // 32-bit
  KVFIO_TI_AUDIO_BITS = 13,           // 16-bit
  KVFIO_TI_AUDIO_CHANNELS = 14,       // 16-bit
  KVFIO_TI_AUDIO_CHANNEL_MASK = 15,   // 32-bit
  KVFIO_TI_VIDEO_WIDTH = 16,          // 32-bit
  KVFIO_TI_VIDEO_HEIGHT = 17,         // 32-bit
  KVFIO_TI_VIDEO_FRAME_RATE = 18,     // double
  KVFIO_TI_VIDEO_PIXEL_ASPECT = 19,   // double
  KVFIO_TI_VIDEO_SIZE = 20,           // two 32-bit values: width, height
  KVFIO_TI_VIDEO_EXTENSION = 21,      // the 64-byte video extension
  KVFIO_TI_AUDIO_EXTENSION = 22,      // the 32-byte audio extension
};

// Parts admitted by KvFio_GetTemplateInfo.
constexpr DWORD kKvTemplatePartAudio = 1;
constexpr DWORD kKvTemplatePartVideo = 2;

// Flags of KvFio_SetTemplate.
constexpr DWORD kKvSetTemplateCompare = 0x10000;
constexpr DWORD kKvSetTemplateCopy = 0x20000;

// Functions with one form are exported under their plain (decorated stdcall)
// names; overloaded ones carry C++ names.
extern "C" {

// ---- building -----------------------------------------------------------------

// Clears 540 bytes of `tmpl` and fills a basic V2 template with the given
// audio and video streams. S_OK.
HRESULT KVAPI KvFio_InitBasicTemplate(tagKVTEMPLATExV2& tmpl, long audioCount, const _kvwaveformat* audio,
                                      long videoCount, const BITMAPINFOHEADER* video, double frameRate,
                                      KVINTERLACETYPE interlace, double pixelAspect);
// One audio stream, no video; with a channel mask that disagrees with the
// channel count the source format stays zero. E_INVALIDARG for a null format.
HRESULT KVAPI KvFio_InitBasicAudioTemplate(tagKVTEMPLATExV2& tmpl, const _kvwaveformat* audio);

}  // extern "C"

// Bytes a record with `stringChars` UTF-16 units of strings and a codec block
// of `blockSize` bytes needs: 536 + round4(block) + 2 * chars (at least 540);
// 0 when that does not fit in 32 bits.
extern "C" DWORD KVAPI KvFio_GetTemplateAllocSize(DWORD stringChars, DWORD blockSize);
// A zeroed record of that size with total size, string-area length and block
// size set; null when memory runs out.
tagKVTEMPLATExV2* KVAPI KvFio_AllocTemplate(DWORD stringChars, DWORD blockSize);
// The same in the caller's buffer of `bufferSize` bytes; null when the record
// does not fit.
tagKVTEMPLATExV2* KVAPI KvFio_AllocTemplate(tagKVTEMPLATExV2* buffer, DWORD bufferSize, DWORD stringChars,
                                            DWORD blockSize);
// A record holding `name` and `description` (null = empty) and a zeroed codec
// block of `blockSize` bytes; when both a block size and `owner` are given the
// owner GUID is set. Null when memory runs out.
tagKVTEMPLATExV2* KVAPI KvFio_AllocTemplate(const WCHAR* name, const WCHAR* description, DWORD blockSize,
                                            const GUID* owner);

extern "C" {

// ---- strings ------------------------------------------------------------------

// The template's name and description: always NUL-terminated strings inside
// the string area, or an empty string (no area, or no terminator inside it).
const WCHAR* KVAPI KvFio_GetTemplateName(const tagKVTEMPLATExV2* tmpl);
const WCHAR* KVAPI KvFio_GetTemplateDescription(const tagKVTEMPLATExV2* tmpl);
// Rewrites the string area: the name truncated to fit, then the description in
// what is left. A null name or description keeps the record's current one.
HRESULT KVAPI KvFio_SetTemplateStrings(tagKVTEMPLATExV2* tmpl, const WCHAR* name, const WCHAR* description);

// ---- copies and ownership -----------------------------------------------------

HRESULT KVAPI KvFio_CopyTemplate(tagKVTEMPLATExV2** out, const tagKVTEMPLATExV2* src);
// A new record with the header, body and codec block of `tmpl` and a new
// string area; a null name or description keeps the template's own. Null when
// memory runs out or `tmpl` is null.
tagKVTEMPLATExV2* KVAPI KvFio_CopyTemplateRenamed(const tagKVTEMPLATExV2* tmpl, const WCHAR* name,
                                                  const WCHAR* description);
// Replaces the record `dst` owns (flags: compare 0x10000, copy 0x20000).
HRESULT KVAPI KvFio_SetTemplate(tagKVTEMPLATExV2*& dst, const tagKVTEMPLATExV2* src, DWORD flags);

// ---- queries and identity -----------------------------------------------------

HRESULT KVAPI KvFio_GetTemplateInfo(const tagKVTEMPLATExV2* tmpl, DWORD parts, void* buf, UINT cb,
                                    KVFIO_TEMPLATE_INFO id);
// zlib's CRC-32 of the body, the codec block and (withStrings) the strings.
DWORD KVAPI KvFio_GetTemplateDataCRC32(const tagKVTEMPLATExV2* tmpl, BOOL withStrings);
// A name-based (version 3) GUID from the MD5 of the same data; E_NOTIMPL when
// no MD5 provider is available (always so in the native build).
HRESULT KVAPI KvFio_InitGUIDFromTemplateMD5DataHash(GUID* out, const tagKVTEMPLATExV2* tmpl, BOOL withStrings);
// TRUE for a record made by lifting a V1 template with a render class.
BOOL KVAPI KvFio_IsUpliftedV1Template(const tagKVTEMPLATExV2* tmpl);

}  // extern "C"

// Frees a template (free()); null is ignored.
void KVAPI KvFio_ReleaseTemplate(tagKVTEMPLATExV2* tmpl);

// ---- stream-format records ----------------------------------------------------

// Each clears the 184-byte record and sets its size, stream type and length; a
// null format or extension leaves its field zero. E_INVALIDARG for a null record.
HRESULT KVAPI KvFio_SetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const _kvwaveformat* format,
                                        const tKVAUDIOEXTENSION* extension, LONGLONG length);
HRESULT KVAPI KvFio_SetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format,
                                        const tKVAUDIOEXTENSION* extension, LONGLONG length);
HRESULT KVAPI KvFio_SetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const BITMAPINFOHEADER* format,
                                        const tKVVIDEOEXTENSION* extension, LONGLONG length);
