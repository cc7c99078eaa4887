// The wave-format record (_kvwaveformat) and the copies between records,
// WAVEFORMATEX and WAVEFORMATEXTENSIBLE headers.
//
// Size rule of the record: it is stored with cbStruct = 32 + cbExtra (render
// templates keep records written that way), while its bytes end at
// 34 + cbExtra. Every reader here takes the extra count of a compressed
// record whose cbStruct passes 32 and copies 34 + cbExtra bytes, so no copy
// loses extra bytes.
#include <cstring>

#include "kvaudio_internal.h"
#include "kvguids.h"

namespace {

DWORD DefaultMask(DWORD channels) { return channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1; }
bool IsDefaultMask(DWORD mask, DWORD channels) { return mask == 0 || mask == DefaultMask(channels); }
DWORD EffectiveMask(const _kvwaveformat& f) { return f.dwChannelMask ? f.dwChannelMask : DefaultMask(f.nChannels); }

// Room for extra bytes in a record of the given size.
DWORD Room(DWORD size) {
  if (size <= 34) return 0;
  DWORD r = size - 34;
  return r > KVWFX_MAX_EXTRA ? KVWFX_MAX_EXTRA : r;
}

// The count field at offset 32 exists only in records longer than 32 bytes.
// It is read through a volatile pointer so that the compiler, which takes
// the whole declared record as addressable, never loads it ahead of the test
// that guards it (a plain 32-byte record may end at a page boundary).
WORD LoadExtraField(const _kvwaveformat& f) {
  const volatile BYTE* p = reinterpret_cast<const volatile BYTE*>(&f) + 32;
  return static_cast<WORD>(p[0] | (p[1] << 8));
}

// Extra bytes a record really carries.
DWORD ExtraCount(const _kvwaveformat& f) {
  if (!(f.dwFlags & KVWFX_FLAG_COMPRESSED) || f.cbStruct <= 32) return 0;
  DWORD n = LoadExtraField(f);
  if (n > f.cbStruct - 32) n = f.cbStruct - 32;
  return n > KVWFX_MAX_EXTRA ? KVWFX_MAX_EXTRA : n;
}

void ApplySize(_kvwaveformat* f, DWORD size) {
  if (size <= 32) {
    std::memset(reinterpret_cast<BYTE*>(f) + 4, 0, 28);
    f->cbStruct = 32;
  } else {
    std::memset(f, 0, size);
    f->cbStruct = size;
  }
}

int PopCount(DWORD m) {
  int c = 0;
  for (; m; m &= m - 1) ++c;
  return c;
}

void WritePlain(WAVEFORMATEX* dst, WORD tag, DWORD rate, WORD bits, WORD channels, WORD align, DWORD avg) {
  dst->wFormatTag = tag;
  dst->nChannels = channels;
  dst->nSamplesPerSec = rate;
  dst->nAvgBytesPerSec = avg;
  dst->nBlockAlign = align;
  dst->wBitsPerSample = bits;
  dst->cbSize = 0;
}

void WriteExtensibleTail(WAVEFORMATEX* dst, WORD tag, WORD validBits, DWORD mask) {
  WAVEFORMATEXTENSIBLE* x = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(dst);
  dst->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  dst->cbSize = 22;
  x->Samples.wValidBitsPerSample = validBits;
  x->dwChannelMask = mask;
  GUID g = KvSubtypeFromTag(tag);
  std::memcpy(&x->SubFormat, &g, sizeof g);
}

DWORD HeaderMask(const WAVEFORMATEX& w) {
  if (w.wFormatTag != WAVE_FORMAT_EXTENSIBLE || w.cbSize < 22) return 0;
  return reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(w).dwChannelMask;
}

}  // namespace

// ---- members ----------------------------------------------------------------

void _kvwaveformat::Init(DWORD rate, KVSAMPLETYPE type, DWORD channels, DWORD mask, DWORD size) {
  ApplySize(this, size);
  nSamplesPerSec = rate;
  SampleType = type;
  nChannels = static_cast<WORD>(channels);
  dwChannelMask = mask;
  nBlockAlign = static_cast<WORD>(KvAudio_BytesFromSampleType(type) * channels);
  nAvgBytesPerSec = static_cast<DWORD>(nBlockAlign) * rate;
}

void _kvwaveformat::InitAsWfx(WORD tag, DWORD rate, WORD bits, WORD channels, DWORD mask, DWORD size) {
  ApplySize(this, size);
  if (tag == 1 && bits == 20) bits = 24;
  SampleType = KvAudio_GetSampleType2(tag, bits);
  if (SampleType == KVST_NONE) {
    dwFlags |= KVWFX_FLAG_COMPRESSED;
    wFormatTag = tag;
    wBitsPerSample = bits;
  }
  nChannels = channels;
  dwChannelMask = mask;
  nBlockAlign = static_cast<WORD>(static_cast<DWORD>(channels) * bits / 8);
  nSamplesPerSec = rate;
  nAvgBytesPerSec = static_cast<DWORD>(nBlockAlign) * rate;
}

void _kvwaveformat::Init(DWORD size, const WAVEFORMATEX& wfx) {
  ApplySize(this, size);
  nSamplesPerSec = wfx.nSamplesPerSec;
  nChannels = wfx.nChannels;
  nBlockAlign = wfx.nBlockAlign;
  nAvgBytesPerSec = wfx.nAvgBytesPerSec;
  SampleType = KvAudio_GetSampleType(&wfx);
  DWORD kept = 0;
  if (wfx.wFormatTag == 1) {
    WAVEFORMATEX copy;
    std::memcpy(&copy, &wfx, sizeof copy);
    KvAudio_FixBadWfx(&copy);
    nBlockAlign = copy.nBlockAlign;
  }
  // The extensible fields are read only when cbSize announces them.
  if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx.cbSize >= 22) {
    const WAVEFORMATEXTENSIBLE& x = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx);
    dwFlags |= KVWFX_FLAG_EXTENSIBLE;
    dwChannelMask = x.dwChannelMask;
    static const GUID kNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    GUID sub;
    std::memcpy(&sub, &x.SubFormat, sizeof sub);
    if (SampleType == KVST_NONE && KvGuidEquals(sub, kNull) && wfx.cbSize == 22 &&
        static_cast<DWORD>(wfx.nChannels) * wfx.wBitsPerSample / 8 == wfx.nBlockAlign &&
        wfx.nSamplesPerSec * wfx.nBlockAlign == wfx.nAvgBytesPerSec) {
      switch (wfx.wBitsPerSample) {
        case 8: SampleType = KVST_U8; break;
        case 16: SampleType = KVST_S16; break;
        case 24: SampleType = KVST_S24; break;
        case 32: SampleType = KVST_FLOAT; break;
        case 64: SampleType = KVST_DOUBLE; break;
        default: break;
      }
    }
  }
  if (SampleType == KVST_NONE) {
    wFormatTag = KvAudio_GetWaveFormatTag(&wfx);
    dwFlags |= KVWFX_FLAG_COMPRESSED;
    wBitsPerSample = wfx.wBitsPerSample;
    DWORD count = 0;
    const BYTE* from = nullptr;
    const BYTE* base = reinterpret_cast<const BYTE*>(&wfx);
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
      if (wfx.cbSize > 22) {
        count = wfx.cbSize - 22u;
        from = base + 40;
      }
    } else if (wfx.wFormatTag != 1 && wfx.wFormatTag != 3) {
      count = wfx.cbSize;
      from = base + 18;
    }
    kept = count < Room(size) ? count : Room(size);
    if (kept) {
      cbExtra = static_cast<WORD>(kept);
      std::memcpy(abExtra, from, kept);
    }
  }
  cbStruct = size < 34 ? 32 : 32 + kept;
}

DWORD _kvwaveformat::UpdateBlockAlign() {
  if (SampleType != KVST_NONE) {
    nBlockAlign = static_cast<WORD>(KvAudio_BytesFromSampleType(SampleType) * nChannels);
    nAvgBytesPerSec = static_cast<DWORD>(nBlockAlign) * nSamplesPerSec;
  }
  return nBlockAlign;
}

WORD _kvwaveformat::FormatTag() const {
  return IsCompressed() ? wFormatTag : static_cast<WORD>(KvAudio_FormatTagFromSampleType(SampleType));
}
WORD _kvwaveformat::BitsPerSample() const {
  return IsCompressed() ? wBitsPerSample : static_cast<WORD>(KvAudio_BitsFromSampleType(SampleType));
}
WORD _kvwaveformat::BytesPerSample() const { return static_cast<WORD>(BitsPerSample() / 8); }
bool _kvwaveformat::IsCompressed() const { return (dwFlags & KVWFX_FLAG_COMPRESSED) != 0; }

bool _kvwaveformat::operator==(const _kvwaveformat& o) const {
  if (SampleType != o.SampleType || nSamplesPerSec != o.nSamplesPerSec || nChannels != o.nChannels) return false;
  if (IsCompressed() != o.IsCompressed()) return false;
  if (dwChannelMask != o.dwChannelMask && EffectiveMask(*this) != EffectiveMask(o)) return false;
  if (!IsCompressed()) return true;
  if (wFormatTag != o.wFormatTag || nAvgBytesPerSec != o.nAvgBytesPerSec || wBitsPerSample != o.wBitsPerSample)
    return false;
  DWORD n = ExtraCount(*this);
  return n == ExtraCount(o) && std::memcmp(abExtra, o.abExtra, n) == 0;
}

bool _kvwaveformat::operator==(const WAVEFORMATEX& w) const {
  if (nSamplesPerSec != w.nSamplesPerSec || nChannels != w.nChannels) return false;
  if (IsCompressed()) {
    if (wFormatTag != w.wFormatTag || nAvgBytesPerSec != w.nAvgBytesPerSec || wBitsPerSample != w.wBitsPerSample)
      return false;
  } else if (SampleType != KvAudio_GetSampleType(&w)) {
    return false;
  }
  DWORD hmask = HeaderMask(w);
  if (hmask != dwChannelMask) {
    if (hmask == 0) hmask = DefaultMask(w.nChannels);
    if (hmask != EffectiveMask(*this)) return false;
  }
  if (!IsCompressed()) return true;
  DWORD n = ExtraCount(*this);
  DWORD hn;
  const BYTE* hb;
  if (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    hn = static_cast<WORD>(w.cbSize - 22);
    hb = reinterpret_cast<const BYTE*>(&w) + 40;
  } else {
    hn = w.cbSize;
    hb = reinterpret_cast<const BYTE*>(&w) + 18;
  }
  return n == hn && std::memcmp(abExtra, hb, n) == 0;
}

// ---- header copies -------------------------------------------------------

extern "C" void KVAPI KvAudio_InitWfxFlex(WAVEFORMATEX* dst, DWORD tag, DWORD rate, DWORD bits, DWORD channels,
                                          DWORD mask, DWORD dstSize) {
  const DWORD given = mask;
  bool low = false;
  if (mask) {
    int c = PopCount(mask);
    low = (mask & (mask + 1)) == 0;
    if (static_cast<DWORD>(c) != channels) {
      if (!low && static_cast<DWORD>(c) > channels)
        while (static_cast<DWORD>(PopCount(mask)) > channels) mask &= mask - 1;
      if (low || static_cast<DWORD>(c) < channels) mask = 0;
    }
  }
  WORD align = static_cast<WORD>(bits / 8 * channels);
  WritePlain(dst, static_cast<WORD>(tag), rate, static_cast<WORD>(bits), static_cast<WORD>(channels), align,
             static_cast<DWORD>(align) * rate);
  if (given && !low && dstSize >= 40)
    WriteExtensibleTail(dst, static_cast<WORD>(tag), static_cast<WORD>(bits), mask ? mask : DefaultMask(channels));
}

WAVEFORMATEX* KVAPI KvAudio_GeneralCopyWfx(WAVEFORMATEX* dst, DWORD dstSize, const _kvwaveformat& f,
                                          KVWAVEFORMAT_COPY_DEST mode) {
  if (!dst || dstSize < 18) return dst;
  DWORD mask = f.dwChannelMask;
  bool force = false;
  switch (mode) {
    case KVWFX_COPY_AUTO:
      force = (f.dwFlags & KVWFX_FLAG_EXTENSIBLE) || !IsDefaultMask(f.dwChannelMask, f.nChannels);
      break;
    case KVWFX_COPY_PLAIN: mask = 0; break;
    case KVWFX_COPY_MULTICHANNEL: force = f.nChannels > 2; break;
    case KVWFX_COPY_EXTENSIBLE: force = true; break;
    default: break;
  }
  // The extensible form is written only where it fits.
  if (dstSize < 40) force = false;
  if (f.IsCompressed()) {
    DWORD n = ExtraCount(f);
    WritePlain(dst, f.wFormatTag, f.nSamplesPerSec, f.wBitsPerSample, f.nChannels, f.nBlockAlign, f.nAvgBytesPerSec);
    if (force || (f.dwChannelMask && !IsDefaultMask(f.dwChannelMask, f.nChannels) && dstSize >= n + 40))
      WriteExtensibleTail(dst, f.wFormatTag, f.wBitsPerSample, f.dwChannelMask);
    int64_t room = static_cast<int64_t>(dstSize) - 18 - dst->cbSize;
    if (n > 0 && room > 0) {
      DWORD k = room < n ? static_cast<DWORD>(room) : n;
      std::memcpy(reinterpret_cast<BYTE*>(dst) + 18 + dst->cbSize, f.abExtra, k);
      dst->cbSize = static_cast<WORD>(dst->cbSize + k);
    }
    return dst;
  }
  WORD tag = static_cast<WORD>(KvAudio_FormatTagFromSampleType(f.SampleType));
  WORD bits = static_cast<WORD>(KvAudio_BitsFromSampleType(f.SampleType));
  if (force) {
    WORD align = static_cast<WORD>(bits / 8 * f.nChannels);
    WritePlain(dst, tag, f.nSamplesPerSec, bits, f.nChannels, align, static_cast<DWORD>(align) * f.nSamplesPerSec);
    WriteExtensibleTail(dst, tag, bits, f.dwChannelMask ? f.dwChannelMask : DefaultMask(f.nChannels));
    return dst;
  }
  KvAudio_InitWfxFlex(dst, tag, f.nSamplesPerSec, bits, f.nChannels, mask, dstSize);
  return dst;
}

_kvwaveformat* KVAPI KvAudio_GeneralCopyKvWaveFormat(_kvwaveformat* dst, DWORD dstSize, const _kvwaveformat& src,
                                                     KVWAVEFORMAT_COPY_DEST) {
  if (!dst) return dst;
  if (dstSize == 0) dstSize = 32;
  DWORD n = ExtraCount(src);
  DWORD srcBytes = n ? 34 + n : 32;
  DWORD copy = dstSize < srcBytes ? dstSize : srcBytes;
  std::memmove(dst, &src, copy);
  if (dstSize > copy) std::memset(reinterpret_cast<BYTE*>(dst) + copy, 0, dstSize - copy);
  if (dstSize >= 34 && Room(dstSize) < n) dst->cbExtra = 0;
  dst->cbStruct = dstSize < 34 ? 32 : 32 + LoadExtraField(*dst);
  return dst;
}

WAVEFORMATEX* KVAPI KvAudio_AllocAndCopyWfx(const _kvwaveformat& f, KVWAVEFORMAT_COPY_DEST mode) {
  DWORD size = 18;
  const bool nonDefault = !IsDefaultMask(f.dwChannelMask, f.nChannels);
  switch (mode) {
    case KVWFX_COPY_AUTO: size = ((f.dwFlags & KVWFX_FLAG_EXTENSIBLE) || nonDefault) ? 40 : 18; break;
    case KVWFX_COPY_BYMASK: size = nonDefault ? 40 : 18; break;
    case KVWFX_COPY_MULTICHANNEL: size = f.nChannels < 3 ? 18 : 40; break;
    case KVWFX_COPY_EXTENSIBLE: size = 40; break;
    default: size = 18; break;
  }
  size += ExtraCount(f);
  WAVEFORMATEX* p = static_cast<WAVEFORMATEX*>(KvAudioMem_Alloc(size));
  if (!p) return nullptr;
  return KvAudio_GeneralCopyWfx(p, size, f, mode);
}

WAVEFORMATEX* KVAPI KvAudio_AllocAndCopyWfx(const _kvwaveformat* f, KVWAVEFORMAT_COPY_DEST mode) {
  return f ? KvAudio_AllocAndCopyWfx(*f, mode) : nullptr;
}

extern "C" WAVEFORMATEX* KVAPI KvAudio_AllocAndCopyWfx(const WAVEFORMATEX* wfx, KVWAVEFORMAT_COPY_DEST mode) {
  if (!wfx) return nullptr;
  const bool ext = wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE;
  if (mode == KVWFX_COPY_AUTO || (ext && mode == KVWFX_COPY_EXTENSIBLE) ||
      (!ext && (mode == KVWFX_COPY_BYMASK || mode == KVWFX_COPY_PLAIN))) {
    size_t n = 18u + wfx->cbSize;
    void* p = KvAudioMem_Alloc(n);
    if (p) std::memcpy(p, wfx, n);
    return static_cast<WAVEFORMATEX*>(p);
  }
  _kvwaveformat rec;
  rec.Init(128, *wfx);
  return KvAudio_AllocAndCopyWfx(rec, mode);
}

extern "C" void KVAPI KvAudio_CopyWfx(WAVEFORMATEX* dst, DWORD dstSize, const WAVEFORMATEX* src,
                                      KVWAVEFORMAT_COPY_DEST mode) {
  _kvwaveformat rec;
  rec.Init(128, *src);
  KvAudio_GeneralCopyWfx(dst, dstSize, rec, mode);
}

extern "C" void KVAPI KvAudio_CopyWfExt(WAVEFORMATEXTENSIBLE* dst, const WAVEFORMATEX* src,
                                        KVWAVEFORMAT_COPY_DEST mode) {
  KvAudio_CopyWfx(&dst->Format, 40, src, mode);
}

extern "C" WAVEFORMATEXTENSIBLE* KVAPI KvAudio_CopyWfxToWfExt(const WAVEFORMATEX* src, WAVEFORMATEXTENSIBLE* dst) {
  size_t n = 18u + src->cbSize;
  if (n > 40) n = 40;
  std::memcpy(dst, src, n);
  return dst;
}

extern "C" WAVEFORMATEX* KVAPI KvAudio_CopyWfExtToWfx(const WAVEFORMATEXTENSIBLE* src, WAVEFORMATEX* dst) {
  if (src->Format.wFormatTag != WAVE_FORMAT_EXTENSIBLE) {
    std::memcpy(dst, src, 18);
    return dst;
  }
  DWORD tag = 0;
  if (!KvAudio_GetFormatTagExtensible(const_cast<WAVEFORMATEXTENSIBLE*>(src), &tag)) return nullptr;
  std::memcpy(dst, src, 16);
  dst->wFormatTag = static_cast<WORD>(tag);
  dst->cbSize = 0;
  return dst;
}

_kvwaveformat_wfxcopyhelper::_kvwaveformat_wfxcopyhelper(const _kvwaveformat& f) {
  std::memset(&wfx, 0, sizeof wfx);
  if (f.IsCompressed())
    WritePlain(&wfx, f.wFormatTag, f.nSamplesPerSec, f.wBitsPerSample, f.nChannels, f.nBlockAlign, f.nAvgBytesPerSec);
  else
    KvAudio_InitWfxFlex(&wfx, KvAudio_FormatTagFromSampleType(f.SampleType), f.nSamplesPerSec,
                        KvAudio_BitsFromSampleType(f.SampleType), f.nChannels, f.dwChannelMask, 18);
}

_kvwaveformat_wfxecopyhelper::_kvwaveformat_wfxecopyhelper(const _kvwaveformat& f) {
  std::memset(&wfx, 0, sizeof wfx);
  KvAudio_GeneralCopyWfx(&wfx.Format, 40, f, KVWFX_COPY_AUTO);
}

void _kvwaveformat_wfxplus::Init(const WAVEFORMATEX* src, KVWAVEFORMAT_COPY_DEST mode) {
  std::memset(bytes, 0, sizeof bytes);
  KvAudio_CopyWfx(&wfx, sizeof bytes, src, mode);
}
