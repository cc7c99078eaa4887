// Sample types: the KVSAMPLETYPE table, its mapping to and from WAVE format
// tags and headers, plain header tests and repairs, and per-sample helpers.
#include <cstring>

#include "kvaudio_internal.h"
#include "kvguids.h"

namespace {

struct TypeRow {
  KVSAMPLETYPE type;
  WORD tag, bits, bytes;
};
constexpr TypeRow kTable[] = {
    {KVST_U8, 1, 8, 1},          {KVST_S16, 1, 16, 2},        {KVST_S24, 1, 24, 3},
    {KVST_S32, 1, 32, 4},        {KVST_FLOAT, 3, 32, 4},      {KVST_DOUBLE, 3, 64, 8},
    {KVST_S24IN32, 0xFE00, 32, 4}, {KVST_S8, 0xFE01, 8, 1},  {KVST_S16BE, 0xFE02, 16, 2},
    {KVST_S24BE, 0xFE02, 24, 3}, {KVST_S32BE, 0xFE02, 32, 4},
};

const TypeRow* Row(KVSAMPLETYPE t) {
  for (const TypeRow& r : kTable)
    if (r.type == t) return &r;
  return nullptr;
}

// Bytes 2..15 of a sub-format equal those of the base GUID: the first 16 bits
// then carry a format tag.
bool IsBaseForm(const GUID& g) {
  return std::memcmp(reinterpret_cast<const BYTE*>(&g) + 2, reinterpret_cast<const BYTE*>(&kKvSubtypeBase) + 2, 14) ==
         0;
}

}  // namespace

extern "C" {

DWORD KVAPI KvAudio_FormatTagFromSampleType(KVSAMPLETYPE type) {
  const TypeRow* r = Row(type);
  return r ? r->tag : 0;
}
DWORD KVAPI KvAudio_BitsFromSampleType(KVSAMPLETYPE type) {
  const TypeRow* r = Row(type);
  return r ? r->bits : 0;
}
DWORD KVAPI KvAudio_BytesFromSampleType(KVSAMPLETYPE type) {
  const TypeRow* r = Row(type);
  return r ? r->bytes : 0;
}

KVSAMPLETYPE KVAPI KvAudio_GetSampleType2(DWORD tag, DWORD bits) {
  switch (tag) {
    case 1:
    case 0xFE01:
      switch (bits) {
        case 8: return tag == 1 ? KVST_U8 : KVST_S8;
        case 16: return KVST_S16;
        case 20:
        case 24: return KVST_S24;
        case 32: return KVST_S32;
      }
      break;
    case 3:
      if (bits == 32) return KVST_FLOAT;
      if (bits == 64) return KVST_DOUBLE;
      break;
    case 0xFE00:
      if (bits == 24 || bits == 32) return KVST_S24IN32;
      break;
    case 0xFE02:
      switch (bits) {
        case 8: return KVST_U8;
        case 16: return KVST_S16BE;
        case 24: return KVST_S24BE;
        case 32: return KVST_S32BE;
      }
      break;
    case 0xFE03:
      if (bits == 16) return KVST_FE03_16;
      if (bits == 24) return KVST_FE03_24;
      break;
  }
  return KVST_NONE;
}

KVSAMPLETYPE KVAPI KvAudio_GetSampleType(const WAVEFORMATEX* wfx) {
  if (!wfx) return KVST_NONE;
  if (wfx->wFormatTag != WAVE_FORMAT_EXTENSIBLE) return KvAudio_GetSampleType2(wfx->wFormatTag, wfx->wBitsPerSample);
  // The extensible fields exist only when cbSize announces them; a shorter
  // header is not read past its 18 bytes.
  if (wfx->cbSize < 22) return KVST_NONE;
  const WAVEFORMATEXTENSIBLE* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx);
  GUID sub;
  std::memcpy(&sub, &x->SubFormat, sizeof sub);
  if (!IsBaseForm(sub)) return KVST_NONE;
  KVSAMPLETYPE t = KvAudio_GetSampleType2(sub.Data1 & 0xFFFF, wfx->wBitsPerSample);
  if (t == KVST_S32 && x->Samples.wValidBitsPerSample == 24) t = KVST_S24IN32;
  return t;
}

double KVAPI KvAudio_GetNormalizeFactor(int32_t bits) {
  switch (bits) {
    case 8: return 128.0;
    case 16: return 32768.0;
    case 24: return 8388608.0;
    case 32: return 2147483648.0;
    default: return 1.0;
  }
}

void KVAPI KvAudio_InitWfx(WAVEFORMATEX* wfx, DWORD rate, KVSAMPLETYPE type, DWORD channels) {
  wfx->wFormatTag = static_cast<WORD>(KvAudio_FormatTagFromSampleType(type));
  wfx->wBitsPerSample = static_cast<WORD>(KvAudio_BitsFromSampleType(type));
  wfx->nChannels = static_cast<WORD>(channels);
  wfx->nSamplesPerSec = rate;
  wfx->nBlockAlign = static_cast<WORD>(wfx->wBitsPerSample / 8 * channels);
  wfx->nAvgBytesPerSec = wfx->nBlockAlign * rate;
  wfx->cbSize = 0;
}

int KVAPI KvAudio_IsEqualFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  return a->nChannels == b->nChannels && a->nSamplesPerSec == b->nSamplesPerSec && a->wFormatTag == b->wFormatTag &&
                 a->wBitsPerSample == b->wBitsPerSample
             ? 1
             : 0;
}

int KVAPI KvAudio_IsCompressedExtensible(WAVEFORMATEXTENSIBLE* wfx) {
  if (wfx->Format.cbSize < 22) return 1;
  GUID sub;
  std::memcpy(&sub, &wfx->SubFormat, sizeof sub);
  if (KvGuidEquals(sub, kKvSubtypePcm) || KvGuidEquals(sub, kKvSubtypeFloat)) return 0;
  return 1;
}

int KVAPI KvAudio_IsCompressed(const WAVEFORMATEX* wfx) {
  WORD tag = wfx->wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE)
    return KvAudio_IsCompressedExtensible(const_cast<WAVEFORMATEXTENSIBLE*>(reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx)));
  if (tag > 0xFE02) return 1;
  if (tag == 1 || tag == 3 || (tag >= 0xFE00 && tag <= 0xFE02))
    return wfx->nBlockAlign != wfx->wBitsPerSample / 8 * wfx->nChannels ? 1 : 0;
  return 1;
}

WORD KVAPI KvAudio_GetWaveFormatTag(const WAVEFORMATEX* wfx) {
  if (!wfx) return 0;
  if (wfx->wFormatTag != WAVE_FORMAT_EXTENSIBLE || wfx->cbSize < 22) return wfx->wFormatTag;
  GUID sub;
  std::memcpy(&sub, &reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx)->SubFormat, sizeof sub);
  if (IsBaseForm(sub)) return static_cast<WORD>(sub.Data1 & 0xFFFF);
  return 0;
}

int KVAPI KvAudio_GetFormatTagExtensible(WAVEFORMATEXTENSIBLE* wfx, DWORD* tag) {
  if (wfx->Format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || wfx->Format.cbSize < 22) return 0;
  GUID sub;
  std::memcpy(&sub, &wfx->SubFormat, sizeof sub);
  if (KvGuidEquals(sub, kKvSubtypePcm)) {
    *tag = 1;
    return 1;
  }
  if (KvGuidEquals(sub, kKvSubtypeFloat)) {
    *tag = 3;
    return 1;
  }
  return 0;
}

int KVAPI KvAudio_FixBadWfx(WAVEFORMATEX* wfx) {
  if (wfx->wFormatTag != 1) return 0;
  int changed = 0;
  if (wfx->wBitsPerSample == 20) {
    wfx->wBitsPerSample = 24;
    changed = 1;
  }
  WORD align = static_cast<WORD>(wfx->wBitsPerSample / 8 * wfx->nChannels);
  if (wfx->nBlockAlign != align) {
    wfx->nBlockAlign = align;
    changed = 1;
  }
  return changed;
}

}  // extern "C"

// ---- per-sample helpers ---------------------------------------------------

int32_t KvAudio_ClipRound(double x, int32_t low, int32_t high) {
  if (x < low) return low;
  if (x > high) return high;
  return KvRoundHalfEven(x);
}

void KvAudio_PackInt24(int32_t v, BYTE* out) {
  if (v < -8388608) v = -8388608;
  if (v > 8388607) v = 8388607;
  out[0] = static_cast<BYTE>(v);
  out[1] = static_cast<BYTE>(v >> 8);
  out[2] = static_cast<BYTE>(v >> 16);
}

int32_t KvAudio_UnpackInt24(const BYTE* in) {
  return static_cast<int32_t>(static_cast<uint32_t>(in[0] | (in[1] << 8) | (in[2] << 16)) << 8) >> 8;
}

int32_t KvAudio_UnpackInt24BE(const BYTE* in) {
  return static_cast<int32_t>(static_cast<uint32_t>(in[2] | (in[1] << 8) | (in[0] << 16)) << 8) >> 8;
}

void KvAudio_PackInt24BE(BYTE* out, int32_t v) {
  out[0] = static_cast<BYTE>(v >> 16);
  out[1] = static_cast<BYTE>(v >> 8);
  out[2] = static_cast<BYTE>(v);
}

int32_t KvAudio_SwapInt32(int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  return static_cast<int32_t>((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24));
}

void KvAudio_Int16ToInt24(BYTE* out, WORD v) {
  out[0] = 0;
  out[1] = static_cast<BYTE>(v);
  out[2] = static_cast<BYTE>(v >> 8);
}

int32_t KvAudio_Int24ToInt32(const BYTE* in) {
  return static_cast<int32_t>(static_cast<uint32_t>(in[0] | (in[1] << 8) | (in[2] << 16)) << 8);
}

void KvAudio_CopyOneSample(KVSAMPLETYPE type, void* dst, const void* src) {
  DWORD n = KvAudio_BytesFromSampleType(type);
  if (n) std::memmove(dst, src, n);
}
