// Names of media formats for the user. The name tables are kept sorted by
// their unsigned key and searched by binary search; keys below 16 are bitmap
// compression constants, the others four-character codes (first character in
// the lowest byte) or wave format tags.
#include "kvformatnames.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <vector>

#include "kvlang.h"
#include "kvnumtext.h"
#include "kvprintf.h"
#include "kvstr.h"
#include "kvtemplate.h"

namespace {

// String ids of the texts that are translated.
enum : UINT {
  kIdMono = 48237,
  kIdStereo = 48238,
  kIdChannels = 48239,
  kId51 = 48718,
  kId71 = 48719,
  kIdBits = 48800,
  kIdBitsFloat = 48801,
  kIdBits24Unpacked = 48802,
  kIdBits8Signed = 48803,
  kIdBitsBigEndian = 48804,
  kIdBitsRightAligned = 48805,
  kIdQuotedCompression = 48806,
  kIdAudio = 48807,
  kIdVideo = 48808,
  kIdMultistream = 48809,
  kIdStreams = 48810,
  kIdProjectFrameRate = 48811,
  kIdFpsWhole = 48812,
  kIdFps = 48813,
  kIdPulldown2332 = 48814,
  kIdPulldown32 = 48815,
  kIdProjectFrameSize = 48816,
  kIdProgressive = 48817,  // ... 48821: the five field orders
  kIdVbr = 48822,
  kIdPixelAspect = 48823,
  kIdOptionElementary = 48824,  // ... 48830: the seven options
  kIdRgbUncompressed = 48831,
  kIdGreyscale = 48832,
  kIdHz = 48833,
};

const wchar_t* Text(UINT id) { return KvGetString(KvLang_GetLibraryHandle(), id); }

constexpr DWORD Fcc(const char (&c)[5]) {
  return static_cast<DWORD>(static_cast<BYTE>(c[0])) | static_cast<DWORD>(static_cast<BYTE>(c[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(c[2])) << 16 | static_cast<DWORD>(static_cast<BYTE>(c[3])) << 24;
}

struct NameRow {
  DWORD key;
  UINT id;  // a string of the table in the host's language, or 0 for `text`
  const wchar_t* text;
  const wchar_t* Name() const { return id ? Text(id) : text; }
};

struct CodeRow {
  DWORD key;
  DWORD value;
};

// The rows as written below (grouped for reading) sorted once by key.
template <class Row>
class SortedTable {
 public:
  template <size_t N>
  explicit SortedTable(const Row (&rows)[N]) : rows_(rows, rows + N) {
    std::sort(rows_.begin(), rows_.end(), [](const Row& a, const Row& b) { return a.key < b.key; });
  }
  const Row* Find(DWORD key) const {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), key, [](const Row& r, DWORD k) { return r.key < k; });
    return it != rows_.end() && it->key == key ? &*it : nullptr;
  }

 private:
  std::vector<Row> rows_;
};

// Video: the preferred names (checked first unless the plain form is asked).
const NameRow kVideoShortRows[] = {
    {0, kIdRgbUncompressed, nullptr},
    {3, kIdRgbUncompressed, nullptr},
    {Fcc("SVQ1"), 0, L"Sorenson Video 1"},
    {Fcc("WMV1"), 0, L"Windows Media Video 7"},
    {Fcc("WMV2"), 0, L"Windows Media Video 8.1"},
    {Fcc("SVQ3"), 0, L"Sorenson Video 3"},
    {Fcc("WMV3"), 0, L"Windows Media Video 9"},
    {Fcc("WMVA"), 0, L"Windows Media Video 9 Advanced"},
    {Fcc("MJ2C"), 0, L"Motion JPEG 2000"},
    {Fcc("MSVC"), 0, L"Microsoft Video 1"},
    {Fcc("wdvn"), 0, L"NTSC DV Widescreen"},
    {Fcc("wdvp"), 0, L"PAL DV Widescreen"},
};

const NameRow kVideoRows[] = {
    {0, 0, L"RGB"},
    {1, 0, L"RLE (8 bit)"},
    {2, 0, L"RLE (4 bit)"},
    {3, 0, L"RGB"},
    {4, 0, L"JPEG"},
    {5, 0, L"PNG"},
    {Fcc("v210"), 0, L"YUV (10 bit)"},
    {Fcc("I420"), 0, L"YUV"},
    {Fcc("rv20"), 0, L"RealVideo G2"},
    {Fcc("rv30"), 0, L"RealVideo 8"},
    {Fcc("IV40"), 0, L"Indeo 5.0"},
    {Fcc("RV40"), 0, L"RealVideo 10"},
    {Fcc("DX50"), 0, L"DivX 5"},
    {Fcc("M101"), 0, L"Matrox SD"},
    {Fcc("IR21"), 0, L"Indeo 2.1"},
    {Fcc("M261"), 0, L"MS H.261"},
    {Fcc("MPG1"), 0, L"MPEG 1"},
    {Fcc("SVQ1"), 0, L"Sorenson V1"},
    {Fcc("VCR1"), 0, L"ATI Video 1"},
    {Fcc("3IV1"), 0, L"3ivx"},
    {Fcc("WMV1"), 0, L"WMV 7"},
    {Fcc("dmb1"), 0, L"Motion JPEG"},
    {Fcc("M102"), 0, L"Matrox HD"},
    {Fcc("h422"), 0, L"MXF HD 422"},
    {Fcc("IV32"), 0, L"Indeo 3.2"},
    {Fcc("MPG2"), 0, L"MPEG 2"},
    {Fcc("VCR2"), 0, L"ATI Video 2"},
    {Fcc("3IV2"), 0, L"3ivx"},
    {Fcc("WMV2"), 0, L"WMV 8.1"},
    {Fcc("M103"), 0, L"Matrox Alpha SD"},
    {Fcc("M263"), 0, L"MS H.263"},
    {Fcc("SVQ3"), 0, L"Sorenson V3"},
    {Fcc("WMV3"), 0, L"WMV"},
    {Fcc("imx3"), 0, L"D10"},
    {Fcc("M104"), 0, L"Matrox Alpha HD"},
    {Fcc("MPG4"), 0, L"MPEG 4"},
    {Fcc("imx4"), 0, L"D10"},
    {Fcc("imx5"), 0, L"D10"},
    {Fcc("YVU9"), 0, L"ATI YUV"},
    {Fcc("WMVA"), 0, L"WMV Advanced"},
    {Fcc("Y41B"), 0, L"YUV"},
    {Fcc("MJ2C"), 0, L"MJPEG 2000"},
    {Fcc("MSVC"), 0, L"MS Video 1"},
    {Fcc("CFHD"), 0, L"CineForm HDV"},
    {Fcc("XVID"), 0, L"Xvid"},
    {Fcc("MRLE"), 0, L"MS RLE"},
    {Fcc("MPEG"), 0, L"MPEG"},
    {Fcc("MJPG"), 0, L"Motion JPEG"},
    {Fcc("HFYU"), 0, L"Huffman YUV"},
    {Fcc("YUYV"), 0, L"YUV"},
    {Fcc("DIVX"), 0, L"DivX"},
    {Fcc("GREY"), kIdGreyscale, nullptr},
    {Fcc("VYUY"), 0, L"ATI YUV"},
    {Fcc("UYVY"), 0, L"YUV"},
    {Fcc("imx_"), 0, L"D10"},
    {Fcc("dvsd"), 0, L"DV"},
    {Fcc("hmxf"), 0, L"MXF HD"},
    {Fcc("_dvn"), 0, L"NTSC DV"},
    {Fcc("wdvn"), 0, L"NTSC DV Wide"},
    {Fcc("_dvp"), 0, L"PAL DV"},
    {Fcc("wdvp"), 0, L"PAL DV Wide"},
    {Fcc("m2ts"), 0, L"MPEG 2"},
};

// Codes that other writers use for the same compression.
const CodeRow kVideoCanonicalRows[] = {
    {Fcc("Y8  "), Fcc("GREY")}, {Fcc("DIB "), 0},           {Fcc("RLE "), 2},
    {Fcc("Y800"), Fcc("GREY")}, {Fcc("YV12"), Fcc("I420")}, {Fcc("MP42"), Fcc("MPG4")},
    {Fcc("mp42"), Fcc("MPG4")}, {Fcc("YUY2"), Fcc("YUYV")}, {Fcc("MP43"), Fcc("MPG4")},
    {Fcc("mp43"), Fcc("MPG4")}, {Fcc("RLE4"), 2},           {Fcc("RLE8"), 1},
    {Fcc("JPEG"), 4},           {Fcc("IYUV"), Fcc("I420")}, {Fcc("cfhd"), Fcc("CFHD")},
    {Fcc("mrle"), Fcc("MRLE")}, {Fcc("None"), 0},           {Fcc("jpeg"), 4},
    {Fcc("mpeg"), Fcc("MPEG")}, {0x77617200, 0},            {Fcc("divx"), Fcc("DIVX")},
};

// Audio: the long names (checked first unless the short form is asked).
const NameRow kAudioLongRows[] = {
    {0x0003, 0, L"IEEE Float"},
    {0x0050, 0, L"MPEG Audio"},
    {0x0055, 0, L"MPEG Layer 3"},
    {0x0092, 0, L"Dolby AC3"},
    {0x0161, 0, L"Windows Media Audio 9"},
    {0x0162, 0, L"Windows Media Audio 9 Professional"},
    {0x0163, 0, L"Windows Media Audio Lossless"},
    {0x674F, 0, L"Ogg Vorbis 1"},
    {0x6750, 0, L"Ogg Vorbis 2"},
    {0x6751, 0, L"Ogg Vorbis 3"},
    {0x676F, 0, L"Ogg Vorbis 1+"},
    {0x6770, 0, L"Ogg Vorbis 2+"},
    {0x6771, 0, L"Ogg Vorbis 3+"},
    {0xA106, 0, L"MPEG-4 Advanced Audio Coding"},
    // The plug-in's own tags: the three AAC object types it writes.
    {0xAAC0, 0, L"MPEG-4 AAC Low Complexity"},
    {0xAAC1, 0, L"MPEG-4 High Efficiency AAC"},
    {0xAAC2, 0, L"MPEG-4 High Efficiency AAC v2"},
    {0xF1AC, 0, L"Free Lossless Audio Codec"},
    {0xFE00, 0, L"PCM Unpacked"},
    {0xFE01, 0, L"PCM Signed"},
    {0xFE02, 0, L"PCM Big Endian"},
    {0xFE03, 0, L"PCM Right Aligned"},
};

const NameRow kAudioShortRows[] = {
    {0x0001, 0, L"PCM"},          {0x0002, 0, L"ADPCM"},           {0x0003, 0, L"Float"},
    {0x0006, 0, L"ALaw"},         {0x0007, 0, L"uLaw"},            {0x000A, 0, L"WMA Voice"},
    {0x000B, 0, L"RT Voice"},     {0x0022, 0, L"TrueSpeech"},      {0x0050, 0, L"MPEG"},
    {0x0055, 0, L"MP3"},          {0x0062, 0, L"Voxware"},         {0x0092, 0, L"AC3"},
    {0x0160, 0, L"MS Audio"},     {0x0161, 0, L"WMA"},             {0x0162, 0, L"WMA Pro"},
    {0x0163, 0, L"WMA Lossless"}, {0x0164, 0, L"WMA SPDIF"},       {0x0200, 0, L"ADPCM"},
    {0x0216, 0, L"DV"},           {0x0401, 0, L"IMC"},             {0x0500, 0, L"On2 VP7"},
    {0x0501, 0, L"On2 VP6"},      {0x2000, 0, L"AC3"},             {0x2001, 0, L"Dolby DTS"},
    {0x2002, 0, L"RealAudio"},    {0x2004, 0, L"RealAudio G2"},    {0x2005, 0, L"RealAudio Music"},
    {0x2006, 0, L"RealAudio 10"}, {0x2007, 0, L"RealAudio 10"},    {0x3313, 0, L"AVIS"},
    {0x6771, 0, L"Ogg"},          {0xA106, 0, L"AAC"},             {0xAAC0, 0, L"LC-AAC"},
    {0xAAC1, 0, L"HE-AAC"},       {0xAAC2, 0, L"HE-AAC V2"},       {0xF1AC, 0, L"FLAC"},
    {0xFE00, 0, L"PCM"},          {0xFE01, 0, L"PCM"},             {0xFE02, 0, L"PCM"},
    {0xFE03, 0, L"PCM"},          {0xFFCA, 0, L"DV"},
};

const CodeRow kAudioCanonicalRows[] = {
    {0x0014, 0x0002}, {0x0017, 0x0002}, {0x0040, 0x0002}, {0x00D8, 0xFFCA},
    {0x00FF, 0xA106}, {0x0180, 0xA106}, {0x4143, 0xA106}, {0x706D, 0xA106},
    {0x0215, 0x0216}, {0x2003, 0x2002}, {0x674F, 0x6771}, {0x6750, 0x6771},
    {0x6751, 0x6771}, {0x676F, 0x6771}, {0x6770, 0x6771}, {0x6771, 0x6771},
};

const SortedTable<NameRow>& VideoShort() {
  static const SortedTable<NameRow> t(kVideoShortRows);
  return t;
}
const SortedTable<NameRow>& VideoMain() {
  static const SortedTable<NameRow> t(kVideoRows);
  return t;
}
const SortedTable<CodeRow>& VideoCanonical() {
  static const SortedTable<CodeRow> t(kVideoCanonicalRows);
  return t;
}
const SortedTable<NameRow>& AudioLong() {
  static const SortedTable<NameRow> t(kAudioLongRows);
  return t;
}
const SortedTable<NameRow>& AudioShort() {
  static const SortedTable<NameRow> t(kAudioShortRows);
  return t;
}
const SortedTable<CodeRow>& AudioCanonical() {
  static const SortedTable<CodeRow> t(kAudioCanonicalRows);
  return t;
}

void Copy(wchar_t* out, int cch, const wchar_t* text) {
  if (out && cch > 0) KvStrCpyN(out, text, cch);
}

// Text built piece by piece into the caller's bounded buffer.
class Builder {
 public:
  Builder(wchar_t* out, int cch) : out_(out), cch_(cch) {
    if (out_ && cch_ > 0) out_[0] = 0;
  }
  void Add(const wchar_t* format, ...) {
    if (!out_ || len_ >= cch_ - 1) return;
    va_list args;
    va_start(args, format);
    len_ += KvVPrintFN(out_ + len_, cch_ - len_, format, args);
    va_end(args);
  }
  void Separator() { Add(L"$, "); }
  int Length() const { return len_; }
  // More than three characters of room left.
  bool HasRoom() const { return cch_ - len_ > 3; }
  bool EndsWithLineFeed() const { return len_ > 0 && out_[len_ - 1] == L'\n'; }

 private:
  wchar_t* out_;
  int cch_;
  int len_ = 0;
};

struct DepthRow {
  KVSAMPLETYPE type;
  UINT id;    // the sample type's text
  int shown;  // the number in that text
  int significant;
  int container;
};

const DepthRow kDepthRows[] = {
    {KVST_U8, kIdBits, 8, 8, 8},
    {KVST_S16, kIdBits, 16, 16, 16},
    {KVST_S24, kIdBits, 24, 24, 24},
    {KVST_S32, kIdBits, 32, 32, 32},
    {KVST_FLOAT, kIdBitsFloat, 32, 24, 32},
    {KVST_DOUBLE, kIdBitsFloat, 64, 53, 64},
    {KVST_S24IN32, kIdBits24Unpacked, 24, 24, 24},
    {KVST_S8, kIdBits8Signed, 8, 8, 8},
    {KVST_S16BE, kIdBitsBigEndian, 16, 16, 16},
    {KVST_S24BE, kIdBitsBigEndian, 24, 24, 24},
    {KVST_S32BE, kIdBitsBigEndian, 32, 32, 32},
    {KVST_FE03_16, kIdBitsRightAligned, 16, 16, 32},
    {KVST_FE03_24, kIdBitsRightAligned, 24, 24, 32},
};

const DepthRow* FindDepth(KVSAMPLETYPE type) {
  for (const DepthRow& r : kDepthRows)
    if (r.type == type) return &r;
  return nullptr;
}

DWORD DefaultMask(DWORD channels) { return channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1; }

const _kvwaveformat* TemplateAudioFormat(const tagKVTEMPLATExV2* t) {
  const _kvwaveformat* output = reinterpret_cast<const _kvwaveformat*>(t->wfOutput);
  if (output->cbStruct != 0) return output;
  return reinterpret_cast<const _kvwaveformat*>(t->wfSource);
}

void StreamPiece(Builder& b, DWORD count) {
  if (count <= 1) return;
  if (count == KVFIO_MULTISTREAM)
    b.Add(Text(kIdMultistream));
  else
    b.Add(Text(kIdStreams), static_cast<int>(count));
  b.Separator();
}

}  // namespace

extern "C" wchar_t* KVAPI KvVideo_FOURCCtoPrintString(DWORD fourcc, wchar_t* out, int cch) {
  if (!out || cch <= 0) return out;
  int shift = 0;
  while (shift < 32 && ((fourcc >> shift) & 0xFF) == 0) shift += 8;
  int n = 0;
  const int room = std::min(cch - 1, 4);
  for (; shift < 32 && n < room; shift += 8) {
    const wchar_t c = static_cast<wchar_t>((fourcc >> shift) & 0xFF);
    out[n++] = (c >= 1 && c <= 31) ? L'?' : c;
  }
  out[n] = 0;
  return out;
}

extern "C" wchar_t* KVAPI KvVideo_FOURCCtoPrintStringW(DWORD fourcc, wchar_t* out, int cch) {
  return KvVideo_FOURCCtoPrintString(fourcc, out, cch);
}

extern "C" wchar_t* KVAPI KvVideo_DebugPrintBiCompression(DWORD compression, wchar_t* out, int cch, BOOL fccForm) {
  static const wchar_t* const kNames[] = {L"BI_RGB", L"BI_RLE8", L"BI_RLE4", L"BI_BITFIELDS", L"BI_JPEG", L"BI_PNG"};
  if (!out || cch < 1) return out;
  if (compression <= 5) {
    KvStrCpyN(out, kNames[compression], cch);
    return out;
  }
  wchar_t code[5];
  KvVideo_FOURCCtoPrintString(compression, code, 5);
  if (fccForm && cch >= 13)
    KvPrintFN(out, cch, L"FCC('%s')", code);
  else
    KvStrCpyN(out, code, cch);
  return out;
}

extern "C" DWORD KVAPI KvVideo_ConvertToCanonicalCompressionFormat(DWORD compression) {
  const CodeRow* r = VideoCanonical().Find(compression);
  return r ? r->value : compression;
}

extern "C" HRESULT KVAPI KvVideo_GetCompressionTypeName(DWORD compression, wchar_t* out, int cch, BOOL plain) {
  const NameRow* r = plain ? nullptr : VideoShort().Find(compression);
  if (!r) r = VideoMain().Find(compression);
  if (!r) {
    const DWORD canonical = KvVideo_ConvertToCanonicalCompressionFormat(compression);
    if (canonical != compression) r = VideoMain().Find(canonical);
  }
  if (r) {
    Copy(out, cch, r->Name());
    return S_OK;
  }
  wchar_t code[5];
  KvVideo_FOURCCtoPrintString(compression, code, 5);
  if (plain)
    Copy(out, cch, code);
  else if (out && cch > 0)
    KvPrintFN(out, cch, Text(kIdQuotedCompression), code);
  return S_OK;
}

extern "C" DWORD KVAPI KvAudio_ConvertToCanonicalWaveFormatTag(DWORD tag) {
  const CodeRow* r = AudioCanonical().Find(tag);
  return r ? r->value : tag;
}

extern "C" HRESULT KVAPI KvAudio_GetCompressionTypeName(DWORD tag, wchar_t* out, int cch, BOOL shortForm) {
  const NameRow* r = shortForm ? nullptr : AudioLong().Find(tag);
  if (!r) r = AudioShort().Find(tag);
  if (!r) {
    const DWORD canonical = KvAudio_ConvertToCanonicalWaveFormatTag(tag) & 0xFFFF;
    if (canonical != tag) r = AudioShort().Find(canonical);
  }
  if (r) {
    Copy(out, cch, r->Name());
    return S_OK;
  }
  wchar_t hex[16];
  KvPrintFN(hex, 16, L"0x%04X", static_cast<unsigned>(tag));
  if (shortForm)
    Copy(out, cch, hex);
  else if (out && cch > 0)
    KvPrintFN(out, cch, Text(kIdQuotedCompression), hex);
  return S_OK;
}

const wchar_t* KVAPI KvAudio_GetSampleTypeText(KVSAMPLETYPE type, wchar_t* out, int cch) {
  if (out && cch > 0) out[0] = 0;
  const DepthRow* r = FindDepth(type);
  if (!r || !out || cch <= 0) return out ? out : L"";
  KvPrintFN(out, cch, Text(r->id), r->shown);
  return out;
}

const wchar_t* KVAPI KvAudio_GetSampleTypeText(const _kvwaveformat* fmt, wchar_t* out, int cch) {
  return KvAudio_GetSampleTypeText(fmt ? fmt->SampleType : KVST_NONE, out, cch);
}

const wchar_t* KVAPI KvAudio_GetBitDepthText(KVSAMPLETYPE type, wchar_t* out, int cch, BOOL significant) {
  if (out && cch > 0) out[0] = 0;
  const DepthRow* r = FindDepth(type);
  if (!r || !out || cch <= 0) return out ? out : L"";
  KvPrintFN(out, cch, Text(kIdBits), significant ? r->significant : r->container);
  return out;
}

const wchar_t* KVAPI KvAudio_GetBitDepthText(const _kvwaveformat* fmt, wchar_t* out, int cch, BOOL significant) {
  return KvAudio_GetBitDepthText(fmt ? fmt->SampleType : KVST_NONE, out, cch, significant);
}

const wchar_t* KVAPI KvAudio_GetChannelsText(DWORD channels, DWORD mask, wchar_t* out, int cch) {
  if (channels == 1) return Text(kIdMono);
  if (channels == 2) return Text(kIdStereo);
  if (mask == 0x3F || mask == 0x60F) return Text(kId51);
  if (mask == 0xFF || mask == 0x63F) return Text(kId71);
  if (!out || cch <= 0) return L"";
  KvPrintFN(out, cch, Text(kIdChannels), static_cast<int>(channels));
  return out;
}

const wchar_t* KVAPI KvAudio_GetChannelsText(const _kvwaveformat* fmt, wchar_t* out, int cch) {
  if (!fmt) return KvAudio_GetChannelsText(0, 0, out, cch);
  const DWORD mask = fmt->dwChannelMask ? fmt->dwChannelMask : DefaultMask(fmt->nChannels);
  return KvAudio_GetChannelsText(fmt->nChannels, mask, out, cch);
}

extern "C" wchar_t* KVAPI KvAudio_GetFormatText(const _kvwaveformat* fmt, wchar_t* out, int cch, DWORD flags) {
  if (!out || cch <= 0) return out;
  out[0] = 0;
  if (!fmt) return out;
  _kvwaveformat pcm;
  if (fmt->IsCompressed()) {
    if (flags & KVFMTTEXT_COMPRESSED_AS_PCM) {
      // What a decoder of this format hands out.
      pcm.Init(fmt->nSamplesPerSec, fmt->wBitsPerSample > 16 ? KVST_S24 : KVST_S16, fmt->nChannels,
               fmt->dwChannelMask, 40);
      fmt = &pcm;
      flags &= ~static_cast<DWORD>(KVFMTTEXT_COMPRESSED_AS_PCM);
    } else if (flags & KVFMTTEXT_ATTRIBUTES) {
      KvAudio_GetAttribsText(fmt, out, static_cast<DWORD>(cch));
      return out;
    }
  }
  Builder b(out, cch);
  if ((flags & KVFMTTEXT_BIT_RATE) && fmt->IsCompressed() && fmt->nAvgBytesPerSec != 0 &&
      static_cast<ULONGLONG>(fmt->nAvgBytesPerSec) * 8 !=
          static_cast<ULONGLONG>(fmt->wBitsPerSample) * fmt->nChannels * fmt->nSamplesPerSec) {
    wchar_t rate[64];
    KvFormatBitRateText(static_cast<LONGLONG>(fmt->nAvgBytesPerSec) * 8, rate, 64);
    b.Add(L"%s", rate);
    b.Separator();
  }
  b.Add(Text(kIdHz), static_cast<int>(fmt->nSamplesPerSec));
  wchar_t piece[64];
  piece[0] = 0;
  if (fmt->SampleType != KVST_NONE) {
    if (flags & KVFMTTEXT_BIT_DEPTH)
      KvAudio_GetBitDepthText(fmt->SampleType, piece, 64, TRUE);
    else
      KvAudio_GetSampleTypeText(fmt->SampleType, piece, 64);
  } else if (fmt->wBitsPerSample != 0 && fmt->nBlockAlign != 0) {
    KvPrintFN(piece, 64, Text(kIdBits), static_cast<int>(fmt->wBitsPerSample));
  }
  if (piece[0]) {
    b.Separator();
    b.Add(L"%s", piece);
  }
  b.Separator();
  b.Add(L"%s", KvAudio_GetChannelsText(fmt, piece, 64));
  if (!(flags & KVFMTTEXT_NO_TAG_NAME)) {
    const WORD tag = fmt->FormatTag();
    if (!((flags & KVFMTTEXT_BIT_DEPTH) && (tag == 1 || tag == 3))) {
      KvAudio_GetCompressionTypeName(tag, piece, 64, !(flags & KVFMTTEXT_LONG_TAG_NAME));
      b.Separator();
      b.Add(L"%s", piece);
    }
  }
  return out;
}

extern "C" HRESULT KVAPI KvFio_MakeTemplateDescription(const tagKVTEMPLATExV2* t, DWORD parts, wchar_t* out,
                                                       int cch) {
  if (!t || !out) return E_POINTER;
  if (cch <= 0) return E_INVALIDARG;
  if (parts == 0) parts = kKvTemplatePartAudio | kKvTemplatePartVideo;
  Builder b(out, cch);
  const bool audio = (parts & kKvTemplatePartAudio) && t->nAudioStreams != 0;
  const bool video = (parts & kKvTemplatePartVideo) && t->nVideoStreams != 0;
  if (audio) {
    b.Add(Text(kIdAudio));
    StreamPiece(b, t->nAudioStreams);
    wchar_t format[256];
    KvAudio_GetFormatText(TemplateAudioFormat(t), format, 256, KVFMTTEXT_BIT_RATE);
    b.Add(L"%s", format);
  }
  if (video) {
    if (b.Length() > 0 && b.HasRoom()) b.Add(L"\r\n");
    b.Add(Text(kIdVideo));
    StreamPiece(b, t->nVideoStreams);
    const double fps = t->videoExt.frameRate;
    if (fps == 0.0) {
      b.Add(Text(kIdProjectFrameRate));
    } else {
      if (fps == static_cast<double>(static_cast<LONGLONG>(fps)))
        b.Add(Text(kIdFpsWhole), static_cast<int>(fps));
      else
        b.Add(Text(kIdFps), fps);
      if (t->dwVideoFlags & kKvTemplateVideoPulldown)
        b.Add(Text((t->dwVideoFlags & 3) == 3 ? kIdPulldown2332 : kIdPulldown32));
    }
    b.Separator();
    const bool outputSize = t->bihOutput.biWidth != 0 && t->bihOutput.biHeight != 0;
    if (outputSize)
      b.Add(L"%dx%d", static_cast<int>(t->bihOutput.biWidth), static_cast<int>(t->bihOutput.biHeight));
    else if (t->bihSource.biWidth != 0 && t->bihSource.biHeight != 0)
      b.Add(L"%dx%d", static_cast<int>(t->bihSource.biWidth), static_cast<int>(t->bihSource.biHeight));
    else
      b.Add(Text(kIdProjectFrameSize));
    if (t->videoExt.fieldOrder <= 4) b.Add(L" %s", Text(kIdProgressive + t->videoExt.fieldOrder));
    if (outputSize && t->bihOutput.biCompression != 0) {
      wchar_t name[128];
      KvVideo_GetCompressionTypeName(t->bihOutput.biCompression, name, 128, TRUE);
      b.Separator();
      b.Add(L"%s", name);
    }
    if (t->dwVideoFlags & 0x20) {
      b.Separator();
      b.Add(Text(kIdVbr));
    } else if ((t->dwVideoFlags & 0x10) && t->llVideoDataRate != 0) {
      wchar_t rate[64];
      KvFormatBitRateText(t->llVideoDataRate * 8, rate, 64);
      b.Separator();
      b.Add(L"%s", rate);
    }
    if (t->videoExt.pixelAspect != 0.0) {
      b.Add(L"\r\n");
      b.Add(Text(kIdPixelAspect), t->videoExt.pixelAspect);
    }
  }
  if (b.Length() > 0 && b.HasRoom()) b.Add(L"\r\n");
  struct Option {
    DWORD bits;
    bool needsBoth;
  };
  static const Option kOptions[] = {
      {KVFIO_TEMPLATE_OPTION_ELEMENTARY, false}, {KVFIO_TEMPLATE_OPTION_TRANSPORT, false},
      {KVFIO_TEMPLATE_OPTION_MULTIFILE, false},  {KVFIO_TEMPLATE_OPTION_MUI, false},
      {KVFIO_TEMPLATE_OPTION_NO_INTERLEAVE, true}, {KVFIO_TEMPLATE_OPTION_EXTERNAL_META, false},
      {KVFIO_TEMPLATE_OPTION_NO_EXTERNAL_META, false},
  };
  for (size_t i = 0; i < sizeof kOptions / sizeof kOptions[0]; ++i) {
    const Option& o = kOptions[i];
    if ((t->dwOptions & o.bits) != o.bits) continue;
    if (o.needsBoth && !(audio && video)) continue;
    b.Add(L"$, %s", Text(kIdOptionElementary + static_cast<UINT>(i)));
  }
  if (b.Length() > 0 && b.HasRoom() && !b.EndsWithLineFeed()) b.Add(L"\r\n");
  return S_OK;
}
