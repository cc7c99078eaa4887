// The template record: basic templates, allocation, strings, copies,
// information values, the CRC identity and the stream-format records.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kvaudio.h"
#include "kvtemplate_internal.h"

namespace kvtemplate {

namespace {

BYTE* Bytes(tagKVTEMPLATExV2* t) { return reinterpret_cast<BYTE*>(t); }
const BYTE* Bytes(const tagKVTEMPLATExV2* t) { return reinterpret_cast<const BYTE*>(t); }

const WCHAR kEmpty[1] = {0};

int PopCount(DWORD m) {
  int c = 0;
  for (; m; m &= m - 1) ++c;
  return c;
}

constexpr DWORD FourCC(char a, char b, char c, char d) {
  return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}

// zlib's CRC-32 (reflected polynomial 0xEDB88320).
struct CrcTable {
  DWORD v[256];
  constexpr CrcTable() : v() {
    for (DWORD i = 0; i < 256; ++i) {
      DWORD c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      v[i] = c;
    }
  }
};
constexpr CrcTable kCrc;

DWORD CrcUpdate(DWORD crc, const void* data, size_t n) {
  const BYTE* p = static_cast<const BYTE*>(data);
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = kCrc.v[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// A stored wave-format field as a whole record (the rest zero).
void ReadFormatField(const BYTE* field, DWORD size, _kvwaveformat* out) {
  std::memset(out, 0, sizeof *out);
  std::memcpy(out, field, size);
}

// Bytes of one image, as the image library sizes it for the packed YUV
// layouts, and by the 32-bit-aligned row rule for every other header.
uint64_t ImageBytes(const BITMAPINFOHEADER& h) {
  const uint64_t w = static_cast<uint64_t>(std::llabs(h.biWidth));
  const uint64_t ht = static_cast<uint64_t>(std::llabs(h.biHeight));
  switch (h.biCompression) {
    case FourCC('Y', 'U', 'Y', 'V'):
    case FourCC('U', 'Y', 'V', 'Y'): return w * ht * 2;
    case FourCC('v', '2', '1', '0'): return (w + 5) / 6 * ht * 16;
    case FourCC('I', '4', '2', '0'): return w * ht + 2 * ((w * ht) / 4);
    default: return (h.biBitCount * w + 31) / 32 * 4 * ht;
  }
}

// A 32-bit RGB header of the given size (the image library's pixel-format
// code 28), the uncompressed source of a template whose output is compressed.
void InitRgb32Header(BITMAPINFOHEADER* h, LONG width, LONG height) {
  std::memset(h, 0, sizeof *h);
  h->biSize = 40;
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = 32;
  h->biCompression = 0;
  uint64_t bytes = ImageBytes(*h);
  h->biSizeImage = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes);
}

// Writes the strings into an area of `chars` units at `area`: the name cut to
// chars - 1 units, then the description in what is left. The area is zeroed.
void WriteStrings(WCHAR* area, size_t chars, const WCHAR* name, size_t nameLen, const WCHAR* desc, size_t descLen) {
  std::memset(area, 0, chars * sizeof(WCHAR));
  if (chars == 0) return;
  size_t n = nameLen < chars - 1 ? nameLen : chars - 1;
  std::memcpy(area, name, n * sizeof(WCHAR));
  size_t left = chars - n - 1;
  if (left == 0) return;
  size_t d = descLen < left - 1 ? descLen : left - 1;
  std::memcpy(area + n + 1, desc, d * sizeof(WCHAR));
}

// A private copy of a string (empty for null); null when memory runs out.
WCHAR* DupString(const WCHAR* s, size_t* len) {
  *len = StrLen16(s);
  WCHAR* copy = static_cast<WCHAR*>(std::calloc(*len + 1, sizeof(WCHAR)));
  if (copy && *len) std::memcpy(copy, s, *len * sizeof(WCHAR));
  return copy;
}

}  // namespace

size_t StrLen16(const WCHAR* s) {
  size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

long BoundedStrLen16(const WCHAR* s, size_t limit) {
  for (size_t i = 0; i < limit; ++i)
    if (s[i] == 0) return static_cast<long>(i);
  return -1;
}

Layout RecordLayout(const tagKVTEMPLATExV2* t) {
  Layout l = {0, kKvTemplateHeaderSize, 0};
  const uint64_t total = t->cbSize < kKvTemplateHeaderSize ? kKvTemplateHeaderSize : t->cbSize;
  const uint64_t room = total - kKvTemplateHeaderSize;
  l.blockBytes = static_cast<DWORD>(t->cbCodecBlock < room ? t->cbCodecBlock : room);
  const uint64_t offset = kKvTemplateHeaderSize + Round4(t->cbCodecBlock);
  if (offset >= total) {
    l.stringOffset = static_cast<DWORD>(total);
    return l;
  }
  l.stringOffset = static_cast<DWORD>(offset);
  const uint64_t chars = (total - offset) / 2;
  l.stringChars = static_cast<DWORD>(t->cchStrings < chars ? t->cchStrings : chars);
  return l;
}

bool V2LayoutIsSound(const tagKVTEMPLATExV2* t, uint64_t available, DWORD minimum) {
  if (t->cbSize < minimum || t->cbSize > available) return false;
  if (LayoutBytes(t->cbCodecBlock, t->cchStrings) > t->cbSize) return false;
  if (t->cbAudioPart != 0 && t->cbAudioPart != kKvTemplatePartSize) return false;
  if (t->cbVideoPart != 0 && t->cbVideoPart != kKvTemplatePartSize) return false;
  return true;
}

HRESULT CheckFileImage(const BYTE* data, uint64_t bytesRead) {
  if (!data || bytesRead < kKvTemplateBasicSize) return KV_E_CORRUPT;
  const tagKVTEMPLATExV2* t = reinterpret_cast<const tagKVTEMPLATExV2*>(data);
  if (t->cbSize > bytesRead || t->dwVersion < 0x1000000) return KV_E_CORRUPT;
  const DWORD major = t->dwVersion >> 24;
  if (major == 2 && !V2LayoutIsSound(t, bytesRead, kKvTemplateBasicSize)) return KV_E_CORRUPT;
  return S_OK;
}

}  // namespace kvtemplate

using namespace kvtemplate;

// ---- video extension ------------------------------------------------------------

void tKVVIDEOEXTENSION::Init(double rate, DWORD order, double aspect) {
  std::memset(this, 0, sizeof *this);
  cbSize = sizeof *this;
  colorimetry = -1;
  fieldOrder = order;
  frameRate = rate;
  pixelAspect = aspect > 0.0 ? aspect : 1.0;
  gamma = 0.0;
}

// ---- building -------------------------------------------------------------------

namespace {

// The audio part of a basic template. False when the format is compressed and
// its channel mask disagrees with its channel count (the source stays zero).
bool FillAudioPart(tagKVTEMPLATExV2& t, long count, const _kvwaveformat* audio) {
  t.cbAudioPart = kKvTemplatePartSize;
  t.nAudioStreams = static_cast<DWORD>(count);
  if (!audio) return true;
  _kvwaveformat record;
  _kvwaveformat* f = &record;
  std::memset(f, 0, sizeof *f);
  bool matched = true;
  if (audio->IsCompressed()) {
    KvAudio_GeneralCopyKvWaveFormat(f, kKvTemplateOutputAudioSize, *audio, KVWFX_COPY_AUTO);
    std::memcpy(t.wfOutput, f, kKvTemplateOutputAudioSize);
    if (audio->dwChannelMask != 0 && PopCount(audio->dwChannelMask) != audio->nChannels) {
      matched = false;
    } else {
      std::memset(f, 0, sizeof *f);
      f->InitAsWfx(1, audio->nSamplesPerSec, 16, audio->nChannels, audio->dwChannelMask, kKvTemplateSourceAudioSize);
      std::memcpy(t.wfSource, f, kKvTemplateSourceAudioSize);
    }
  } else {
    KvAudio_GeneralCopyKvWaveFormat(f, kKvTemplateSourceAudioSize, *audio, KVWFX_COPY_AUTO);
    std::memcpy(t.wfSource, f, kKvTemplateSourceAudioSize);
  }
  return matched;
}

void InitHeader(tagKVTEMPLATExV2& t) {
  std::memset(&t, 0, kKvTemplateBasicSize);
  t.cbSize = kKvTemplateBasicSize;
  t.dwVersion = kKvTemplateVersion2;
  t.dwIndex = 0;
}

}  // namespace

HRESULT KVAPI KvFio_InitBasicTemplate(tagKVTEMPLATExV2& t, long audioCount, const _kvwaveformat* audio,
                                      long videoCount, const BITMAPINFOHEADER* video, double frameRate,
                                      KVINTERLACETYPE interlace, double pixelAspect) {
  InitHeader(t);
  if (audioCount > 0) FillAudioPart(t, audioCount, audio);
  if (videoCount < 1) return S_OK;
  t.cbVideoPart = kKvTemplatePartSize;
  t.nVideoStreams = static_cast<DWORD>(videoCount);
  t.videoExt.Init(frameRate, static_cast<DWORD>(interlace), pixelAspect);
  if (!video) return S_OK;
  if (video->biCompression != 0) {
    std::memcpy(&t.bihOutput, video, sizeof t.bihOutput);
    InitRgb32Header(&t.bihSource, video->biWidth, video->biHeight);
  } else {
    std::memcpy(&t.bihSource, video, sizeof t.bihSource);
  }
  return S_OK;
}

HRESULT KVAPI KvFio_InitBasicAudioTemplate(tagKVTEMPLATExV2& t, const _kvwaveformat* audio) {
  InitHeader(t);
  if (!audio) return E_INVALIDARG;
  FillAudioPart(t, 1, audio);
  return S_OK;
}

DWORD KVAPI KvFio_GetTemplateAllocSize(DWORD stringChars, DWORD blockSize) {
  uint64_t n = LayoutBytes(blockSize, stringChars);
  if (n < kKvTemplateBasicSize) n = kKvTemplateBasicSize;
  return n > 0xFFFFFFFFu ? 0 : static_cast<DWORD>(n);
}

tagKVTEMPLATExV2* KVAPI KvFio_AllocTemplate(tagKVTEMPLATExV2* buffer, DWORD bufferSize, DWORD stringChars,
                                            DWORD blockSize) {
  DWORD size = KvFio_GetTemplateAllocSize(stringChars, blockSize);
  if (!buffer || size == 0 || size > bufferSize) return nullptr;
  std::memset(buffer, 0, size);
  buffer->cbSize = size;
  buffer->cchStrings = stringChars;
  buffer->cbCodecBlock = blockSize;
  return buffer;
}

tagKVTEMPLATExV2* KVAPI KvFio_AllocTemplate(DWORD stringChars, DWORD blockSize) {
  DWORD size = KvFio_GetTemplateAllocSize(stringChars, blockSize);
  if (size == 0) return nullptr;
  void* p = std::calloc(1, size);
  if (!p) return nullptr;
  return KvFio_AllocTemplate(static_cast<tagKVTEMPLATExV2*>(p), size, stringChars, blockSize);
}

tagKVTEMPLATExV2* KVAPI KvFio_AllocTemplate(const WCHAR* name, const WCHAR* description, DWORD blockSize,
                                            const GUID* owner) {
  const size_t nameLen = StrLen16(name), descLen = StrLen16(description);
  const uint64_t chars = uint64_t(nameLen) + 1 + descLen + 1;
  if (chars > 0x7FFFFFFF) return nullptr;
  tagKVTEMPLATExV2* t = KvFio_AllocTemplate(static_cast<DWORD>(chars), blockSize);
  if (!t) return nullptr;
  WCHAR* area = reinterpret_cast<WCHAR*>(Bytes(t) + RecordLayout(t).stringOffset);
  WriteStrings(area, static_cast<size_t>(chars), name ? name : kEmpty, nameLen, description ? description : kEmpty,
               descLen);
  if (blockSize && owner) t->guidOwner = *owner;
  return t;
}

// ---- strings ------------------------------------------------------------------

const WCHAR* KVAPI KvFio_GetTemplateName(const tagKVTEMPLATExV2* t) {
  if (!t) return kEmpty;
  Layout l = RecordLayout(t);
  if (l.stringChars == 0) return kEmpty;
  const WCHAR* area = reinterpret_cast<const WCHAR*>(Bytes(t) + l.stringOffset);
  return BoundedStrLen16(area, l.stringChars) < 0 ? kEmpty : area;
}

const WCHAR* KVAPI KvFio_GetTemplateDescription(const tagKVTEMPLATExV2* t) {
  if (!t) return kEmpty;
  Layout l = RecordLayout(t);
  if (l.stringChars == 0) return kEmpty;
  const WCHAR* area = reinterpret_cast<const WCHAR*>(Bytes(t) + l.stringOffset);
  long nameLen = BoundedStrLen16(area, l.stringChars);
  if (nameLen < 0 || static_cast<DWORD>(nameLen) + 1 >= l.stringChars) return kEmpty;
  const WCHAR* desc = area + nameLen + 1;
  return BoundedStrLen16(desc, l.stringChars - nameLen - 1) < 0 ? kEmpty : desc;
}

HRESULT KVAPI KvFio_SetTemplateStrings(tagKVTEMPLATExV2* t, const WCHAR* name, const WCHAR* description) {
  if (!t) return E_INVALIDARG;
  // Both strings are copied aside first: either may point into the record.
  size_t nameLen = 0, descLen = 0;
  WCHAR* n = DupString(name ? name : KvFio_GetTemplateName(t), &nameLen);
  WCHAR* d = DupString(description ? description : KvFio_GetTemplateDescription(t), &descLen);
  HRESULT hr = E_OUTOFMEMORY;
  if (n && d) {
    Layout l = RecordLayout(t);
    WriteStrings(reinterpret_cast<WCHAR*>(Bytes(t) + l.stringOffset), l.stringChars, n, nameLen, d, descLen);
    hr = S_OK;
  }
  std::free(n);
  std::free(d);
  return hr;
}

// ---- copies and ownership -----------------------------------------------------

HRESULT KVAPI KvFio_CopyTemplate(tagKVTEMPLATExV2** out, const tagKVTEMPLATExV2* src) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!src || src->cbSize < kKvTemplateHeaderSize) return E_INVALIDARG;
  // Never less than the declared record, so that every field is addressable.
  const size_t alloc = src->cbSize < kKvTemplateBasicSize ? kKvTemplateBasicSize : src->cbSize;
  void* p = std::calloc(1, alloc);
  if (!p) return E_OUTOFMEMORY;
  std::memcpy(p, src, src->cbSize);
  *out = static_cast<tagKVTEMPLATExV2*>(p);
  return S_OK;
}

tagKVTEMPLATExV2* KVAPI KvFio_CopyTemplateRenamed(const tagKVTEMPLATExV2* t, const WCHAR* name,
                                                  const WCHAR* description) {
  if (!t) return nullptr;
  size_t nameLen = 0, descLen = 0;
  WCHAR* n = DupString(name ? name : KvFio_GetTemplateName(t), &nameLen);
  WCHAR* d = DupString(description ? description : KvFio_GetTemplateDescription(t), &descLen);
  tagKVTEMPLATExV2* copy = nullptr;
  const Layout src = RecordLayout(t);
  const uint64_t chars = uint64_t(nameLen) + 1 + descLen + 1;
  if (n && d && chars <= 0x7FFFFFFF) copy = KvFio_AllocTemplate(static_cast<DWORD>(chars), t->cbCodecBlock);
  if (copy) {
    const DWORD size = copy->cbSize;
    std::memcpy(copy, t, kKvTemplateHeaderSize);
    copy->cbSize = size;
    copy->cchStrings = static_cast<DWORD>(chars);
    copy->cbCodecBlock = t->cbCodecBlock;
    std::memcpy(kvtemplate::CodecBlock(copy), kvtemplate::CodecBlock(t), src.blockBytes);
    Layout l = RecordLayout(copy);
    WriteStrings(reinterpret_cast<WCHAR*>(Bytes(copy) + l.stringOffset), l.stringChars, n, nameLen, d, descLen);
  }
  std::free(n);
  std::free(d);
  return copy;
}

HRESULT KVAPI KvFio_SetTemplate(tagKVTEMPLATExV2*& dst, const tagKVTEMPLATExV2* src, DWORD flags) {
  HRESULT hr = S_OK;
  if (flags & kKvSetTemplateCompare) {
    if ((!dst && !src) || dst == src ||
        (dst && src && dst->cbSize == src->cbSize && std::memcmp(dst, src, src->cbSize) == 0))
      hr = S_FALSE;
  }
  tagKVTEMPLATExV2* old = dst;
  tagKVTEMPLATExV2* next = const_cast<tagKVTEMPLATExV2*>(src);
  if ((flags & kKvSetTemplateCopy) && src) {
    if (old && old != src && old->cbSize >= src->cbSize) {
      std::memcpy(old, src, src->cbSize);
      next = old;
    } else {
      HRESULT c = KvFio_CopyTemplate(&next, src);
      if (FAILED(c)) return c;
    }
  }
  if (old && old != next) std::free(old);
  dst = next;
  return hr;
}

void KVAPI KvFio_ReleaseTemplate(tagKVTEMPLATExV2* t) { std::free(t); }

// ---- queries and identity -----------------------------------------------------

namespace {

// Value of one information id; false when the id is unknown or its part is
// not admitted. `width` receives the value's width in bytes.
bool TemplateValue(const tagKVTEMPLATExV2* t, DWORD parts, KVFIO_TEMPLATE_INFO id, BYTE value[64], UINT* width) {
  const bool audio = (parts & kKvTemplatePartAudio) && t->nAudioStreams > 0;
  const bool video = (parts & kKvTemplatePartVideo) && t->nVideoStreams > 0;
  std::memset(value, 0, 64);
  auto put32 = [&](DWORD v) { std::memcpy(value, &v, 4); *width = 4; return true; };
  auto put16 = [&](DWORD v) { WORD w = static_cast<WORD>(v); std::memcpy(value, &w, 2); *width = 2; return true; };
  auto putBytes = [&](const void* p, UINT n) { std::memcpy(value, p, n); *width = n; return true; };

  _kvwaveformat fmtRecord, sourceRecord;
  _kvwaveformat* fmt = nullptr;
  _kvwaveformat* source = nullptr;
  bool result = false;
  if (audio) {
    fmt = &fmtRecord;
    source = &sourceRecord;
    ReadFormatField(t->wfSource, kKvTemplateSourceAudioSize, source);
    ReadFormatField(t->wfOutput, kKvTemplateOutputAudioSize, fmt);
    if (fmt->FormatTag() == 0) std::memcpy(fmt, source, sizeof *fmt);
  }
  switch (id) {
    case KVFIO_TI_AUDIO_FORMAT_TAG: result = audio && put16(fmt->FormatTag()); break;
    case KVFIO_TI_AUDIO_BIT_RATE:
      result = audio && put32((t->dwAudioFlags & kKvTemplateAudioVariableRate) ? 0 : 8 * fmt->nAvgBytesPerSec);
      break;
    case KVFIO_TI_AUDIO_STREAMS: result = audio && put32(t->nAudioStreams); break;
    case KVFIO_TI_AUDIO_SAMPLE_RATE: result = audio && put32(fmt->nSamplesPerSec); break;
    case KVFIO_TI_AUDIO_BITS: result = audio && put16(fmt->BitsPerSample()); break;
    case KVFIO_TI_AUDIO_CHANNELS: result = audio && put16(fmt->nChannels); break;
    case KVFIO_TI_AUDIO_CHANNEL_MASK: {
      DWORD mask = source ? source->dwChannelMask : 0;
      if (audio && mask == 0) mask = source->nChannels >= 32 ? 0xFFFFFFFFu : (1u << source->nChannels) - 1;
      result = audio && put32(mask);
      break;
    }
    case KVFIO_TI_AUDIO_EXTENSION: result = audio && putBytes(&t->audioExt, sizeof t->audioExt); break;
    case KVFIO_TI_VIDEO_COMPRESSION:
      result = video && put32(t->bihOutput.biCompression ? t->bihOutput.biCompression : t->bihSource.biCompression);
      break;
    case KVFIO_TI_VIDEO_BIT_RATE: {
      if (!video) break;
      LONGLONG bits;
      if (t->llVideoDataRate > 0) {
        // Rates beyond what 64 bits hold in bits per second are held at the limit.
        const LONGLONG limit = 0x7FFFFFFFFFFFFFFFll / 8;
        bits = (t->llVideoDataRate > limit ? limit : t->llVideoDataRate) * 8;
      } else {
        // The written image: the output header when there is one.
        const BITMAPINFOHEADER& h = t->bihOutput.biCompression ? t->bihOutput : t->bihSource;
        double fps = t->videoExt.frameRate;
        if (t->dwVideoFlags & kKvTemplateVideoPulldown) fps = fps * 5.0 / 4.0;
        double b = static_cast<double>(ImageBytes(h)) * 8.0 * fps;
        bits = (b > 0.0 && b < 9.2e18) ? static_cast<LONGLONG>(std::llround(b)) : 0;
      }
      std::memcpy(value, &bits, 8);
      *width = 8;
      result = true;
      break;
    }
    case KVFIO_TI_VIDEO_STREAMS: result = video && put32(t->nVideoStreams); break;
    case KVFIO_TI_VIDEO_WIDTH: result = video && put32(static_cast<DWORD>(t->bihSource.biWidth)); break;
    case KVFIO_TI_VIDEO_HEIGHT: result = video && put32(static_cast<DWORD>(t->bihSource.biHeight)); break;
    case KVFIO_TI_VIDEO_FRAME_RATE: result = video && putBytes(&t->videoExt.frameRate, 8); break;
    case KVFIO_TI_VIDEO_PIXEL_ASPECT: result = video && putBytes(&t->videoExt.pixelAspect, 8); break;
    case KVFIO_TI_VIDEO_SIZE:
      if (video) {
        LONG wh[2] = {t->bihSource.biWidth, t->bihSource.biHeight};
        result = putBytes(wh, 8);
      }
      break;
    case KVFIO_TI_VIDEO_EXTENSION: result = video && putBytes(&t->videoExt, sizeof t->videoExt); break;
    default: break;
  }
  return result;
}

// Width of an id's value in bytes; 0 for an unknown id.
UINT InfoWidth(DWORD id) {
  switch (id) {
    case 1: case 13: case 14: return 2;
    case 2: case 3: case 10: case 11: case 12: case 15: case 16: case 17: return 4;
    case 4: case 18: case 19: case 20: return 8;
    case 21: return 64;
    case 22: return 32;
    default: return 0;
  }
}

}  // namespace

HRESULT KVAPI KvFio_GetTemplateInfo(const tagKVTEMPLATExV2* t, DWORD parts, void* buf, UINT cb,
                                    KVFIO_TEMPLATE_INFO id) {
  if (!t || !buf || cb == 0) return E_INVALIDARG;
  std::memset(buf, 0, cb);
  const UINT need = InfoWidth(id);
  if (need == 0) return S_FALSE;
  // The 16-bit values need two bytes (a one-byte buffer is refused, not
  // overrun); every other value at least four and its full width.
  if (need == 2 ? cb < 2 : (cb < 4 || cb < need)) return KV_E_BUFFERTOOSMALL;
  BYTE value[64];
  UINT width = 0;
  if (!TemplateValue(t, parts, id, value, &width)) return S_FALSE;
  std::memcpy(buf, value, width);
  return S_OK;
}

DWORD KVAPI KvFio_GetTemplateDataCRC32(const tagKVTEMPLATExV2* t, BOOL withStrings) {
  if (!t) return 0;
  DWORD crc = CrcUpdate(0, Bytes(t) + kKvTemplateBodyOffset, kKvTemplateBodySize);
  Layout l = RecordLayout(t);
  if (l.blockBytes) crc = CrcUpdate(crc, kvtemplate::CodecBlock(t), l.blockBytes);
  if (withStrings) {
    const WCHAR* name = KvFio_GetTemplateName(t);
    const WCHAR* desc = KvFio_GetTemplateDescription(t);
    crc = CrcUpdate(crc, name, StrLen16(name) * sizeof(WCHAR));
    crc = CrcUpdate(crc, desc, StrLen16(desc) * sizeof(WCHAR));
  }
  return crc;
}

BOOL KVAPI KvFio_IsUpliftedV1Template(const tagKVTEMPLATExV2* t) {
  static const BYTE kMark[10] = {0x10, 0x10, 0x80, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00};
  if (!t || t->dwVersion != kKvTemplateVersion2) return FALSE;
  return std::memcmp(reinterpret_cast<const BYTE*>(&t->guidTemplate) + 6, kMark, sizeof kMark) == 0 ? TRUE : FALSE;
}

// ---- stream-format records ----------------------------------------------------

namespace {
void ClearStreamFormat(_KVFILESTREAMFORMATINFOv2* r, DWORD type, LONGLONG length) {
  std::memset(r, 0, sizeof *r);
  r->cbSize = kKvStreamFormatInfoSize;
  r->streamType = type;
  r->length = length;
}
}  // namespace

HRESULT KVAPI KvFio_SetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* r, const _kvwaveformat* format,
                                        const tKVAUDIOEXTENSION* extension, LONGLONG length) {
  if (!r) return E_INVALIDARG;
  ClearStreamFormat(r, kKvStreamTypeAudio, length);
  if (extension) std::memcpy(r->extension, extension, sizeof *extension);
  if (format) {
    _kvwaveformat record;
    _kvwaveformat* f = &record;
    std::memset(f, 0, sizeof *f);
    KvAudio_GeneralCopyKvWaveFormat(f, sizeof r->format, *format, KVWFX_COPY_AUTO);
    std::memcpy(r->format, f, sizeof r->format);
  }
  return S_OK;
}

HRESULT KVAPI KvFio_SetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* r, const WAVEFORMATEX* format,
                                        const tKVAUDIOEXTENSION* extension, LONGLONG length) {
  if (!r) return E_INVALIDARG;
  ClearStreamFormat(r, kKvStreamTypeAudio, length);
  if (extension) std::memcpy(r->extension, extension, sizeof *extension);
  if (format) {
    _kvwaveformat record;
    _kvwaveformat* f = &record;
    std::memset(f, 0, sizeof *f);
    f->Init(sizeof r->format, *format);
    std::memcpy(r->format, f, sizeof r->format);
  }
  return S_OK;
}

HRESULT KVAPI KvFio_SetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* r, const BITMAPINFOHEADER* format,
                                        const tKVVIDEOEXTENSION* extension, LONGLONG length) {
  if (!r) return E_INVALIDARG;
  ClearStreamFormat(r, kKvStreamTypeVideo, length);
  if (extension) std::memcpy(r->extension, extension, sizeof *extension);
  if (format) std::memcpy(r->format, format, sizeof *format);
  return S_OK;
}
