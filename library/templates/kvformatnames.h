// Names of media formats for the user: four-character codes as text, video
// compression names, audio format-tag names, sample-type, bit-depth and
// channel texts, a one-line audio format summary and the description of a
// render template. Every text is wide; numbers follow the user's locale
// through the format engine, and the words come from the library's string
// table in the host's language. Windows only (string tables).
#pragma once

#include "kvaudio.h"
#include "kvportable.h"

struct tagKVTEMPLATExV2;

// Flags of KvAudio_GetFormatText.
#define KVFMTTEXT_COMPRESSED_AS_PCM 0x1   // a compressed format as the PCM format it decodes to
#define KVFMTTEXT_BIT_DEPTH 0x2           // significant bits instead of the sample type; no PCM/float name
#define KVFMTTEXT_NO_TAG_NAME 0x4         // leave the format tag's name out
#define KVFMTTEXT_LONG_TAG_NAME 0x8       // the long form of the tag's name
#define KVFMTTEXT_ATTRIBUTES 0x10         // a compressed format by the audio utilities' attribute text
#define KVFMTTEXT_BIT_RATE 0x20           // the bit rate of a compressed format first

// Output options of a template (tagKVTEMPLATExV2::dwOptions).
#define KVFIO_TEMPLATE_OPTION_ELEMENTARY 0x1
#define KVFIO_TEMPLATE_OPTION_TRANSPORT 0x2
#define KVFIO_TEMPLATE_OPTION_NO_INTERLEAVE 0x4
#define KVFIO_TEMPLATE_OPTION_MULTIFILE 0x10
#define KVFIO_TEMPLATE_OPTION_EXTERNAL_META 0x20
#define KVFIO_TEMPLATE_OPTION_NO_EXTERNAL_META 0x40
#define KVFIO_TEMPLATE_OPTION_MUI 0x1000

// A stream count meaning "several streams, number not fixed".
#define KVFIO_MULTISTREAM 0xFFFFFF00u

extern "C" {
// The code's characters (first character in the lowest byte), leading zero
// bytes dropped, control characters as "?"; at most min(cch - 1, 4)
// characters, terminated; nothing for cch 0. Answers `out`.
wchar_t* KVAPI KvVideo_FOURCCtoPrintString(DWORD fourcc, wchar_t* out, int cch);
wchar_t* KVAPI KvVideo_FOURCCtoPrintStringW(DWORD fourcc, wchar_t* out, int cch);
// BI_RGB ... BI_PNG by name; other codes as their characters, wrapped as
// FCC('....') when `fccForm` is set and there is room for it.
wchar_t* KVAPI KvVideo_DebugPrintBiCompression(DWORD compression, wchar_t* out, int cch, BOOL fccForm);
// The code that names the same compression in the name tables (YV12 -> I420,
// 'DIB ' -> BI_RGB, ...), or the code itself.
DWORD KVAPI KvVideo_ConvertToCanonicalCompressionFormat(DWORD compression);
// The compression's name; unknown codes as their characters, wrapped as
// "'....' Compression" unless `plain`. Answers S_OK.
HRESULT KVAPI KvVideo_GetCompressionTypeName(DWORD compression, wchar_t* out, int cch, BOOL plain);
// The tag that names the same format in the name tables, or the tag itself.
DWORD KVAPI KvAudio_ConvertToCanonicalWaveFormatTag(DWORD tag);
// The format tag's name (the long form unless `shortForm`); unknown tags as
// "0x" and four upper-case hexadecimal digits, wrapped as "'0x....'
// Compression" unless `shortForm`. Answers S_OK.
HRESULT KVAPI KvAudio_GetCompressionTypeName(DWORD tag, wchar_t* out, int cch, BOOL shortForm);
// One line: bit rate, sample rate, sample type, channels, format name (flags
// KVFMTTEXT_*). Answers `out`.
wchar_t* KVAPI KvAudio_GetFormatText(const _kvwaveformat* fmt, wchar_t* out, int cch, DWORD flags);
// The template's audio and video settings and its options, one line each
// (`parts`: KVFIO_TEMPLATE_PART_* bits, 0 for both), into `out` (emptied
// first). E_POINTER for a null template or buffer, E_INVALIDARG for cch 0.
HRESULT KVAPI KvFio_MakeTemplateDescription(const tagKVTEMPLATExV2* tmpl, DWORD parts, wchar_t* out, int cch);
}

// Sample-type text ("16 Bit", "32 Bit (IEEE Float)", ...); empty for none or
// an unknown type. `out` is emptied first; the answer is the text.
const wchar_t* KVAPI KvAudio_GetSampleTypeText(KVSAMPLETYPE type, wchar_t* out, int cch);
const wchar_t* KVAPI KvAudio_GetSampleTypeText(const _kvwaveformat* fmt, wchar_t* out, int cch);
// Bit depth: the significant bits ("53 Bit" for double) or the container's.
const wchar_t* KVAPI KvAudio_GetBitDepthText(KVSAMPLETYPE type, wchar_t* out, int cch, BOOL significant);
const wchar_t* KVAPI KvAudio_GetBitDepthText(const _kvwaveformat* fmt, wchar_t* out, int cch, BOOL significant);
// "Mono", "Stereo", "5.1", "7.1" or "N Channel"; the record form uses its
// mask, or the first `channels` positions when the mask is 0.
const wchar_t* KVAPI KvAudio_GetChannelsText(DWORD channels, DWORD mask, wchar_t* out, int cch);
const wchar_t* KVAPI KvAudio_GetChannelsText(const _kvwaveformat* fmt, wchar_t* out, int cch);
