// Texts that name a format for the user (Windows only): own tags from the
// library's string table, foreign tags and compressed formats from the
// audio compression manager.
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstring>

#include "kvaudio_internal.h"
#include "kvguids.h"
#include "kvlang.h"
#include "kvprintf.h"
#include "kvstr.h"

namespace {

enum : UINT {
  kIdPcm = 48230,
  kIdUnknown = 48236,
  kIdMono = 48237,
  kIdStereo = 48238,
  kIdChannels = 48239,
  kIdAttribs = 48240,
  kIdAttribsFloat = 48241,
  kId51 = 48718,
  kId71 = 48719,
};

const wchar_t* Text(UINT id) { return KvGetString(KvLang_GetLibraryHandle(), id); }

HRESULT UnknownText(wchar_t* out, int cch) {
  if (out) KvStrCpyN(out, Text(kIdUnknown), cch);
  return E_FAIL;
}

}  // namespace

extern "C" HRESULT KVAPI KvAudio_GetTagText(DWORD tag, wchar_t* out, int cch) {
  int index = -1;
  switch (tag) {
    case 1: index = 0; break;
    case 3: index = 1; break;
    case 0xFE00: index = 2; break;
    case 0xFE01: index = 3; break;
    case 0xFE02: index = 4; break;
    default: break;
  }
  if (index >= 0) {
    if (out && cch >= 1) {
      const wchar_t* t = Text(kIdPcm + index);
      int i = 0;
      for (; i < cch - 1 && t[i]; ++i) out[i] = t[i];
      for (; i < cch; ++i) out[i] = 0;  // the rest is zero-padded
    }
    return S_OK;
  }
  ACMFORMATTAGDETAILSW d;
  std::memset(&d, 0, sizeof d);
  d.cbStruct = sizeof d;
  d.dwFormatTag = tag;
  if (acmFormatTagDetailsW(nullptr, &d, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0) {
    if (out) KvStrCpyN(out, d.szFormatTag, cch);
    return S_OK;
  }
  return UnknownText(out, cch);
}

HRESULT KVAPI KvAudio_GetAttribsText(const WAVEFORMATEX* wfx, wchar_t* out, int cch) {
  if (!wfx) return UnknownText(out, cch);
  if (KvAudio_IsCompressed(wfx)) {
    // The manager wants a writable header of 16 bytes for tags 1 and 3, else
    // 18 + cbSize.
    DWORD size = (wfx->wFormatTag == 1 || wfx->wFormatTag == 3) ? 16 : 18u + wfx->cbSize;
    BYTE* copy = static_cast<BYTE*>(KvAudioMem_Alloc(size < 18 ? 18 : size));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, wfx, size);
    ACMFORMATDETAILSW d;
    std::memset(&d, 0, sizeof d);
    d.cbStruct = sizeof d;
    d.dwFormatTag = wfx->wFormatTag;
    d.pwfx = reinterpret_cast<WAVEFORMATEX*>(copy);
    d.cbwfx = size;
    MMRESULT mr = acmFormatDetailsW(nullptr, &d, ACM_FORMATDETAILSF_FORMAT);
    KvAudioMem_Free(copy);
    if (mr == 0) {
      if (out) KvStrCpyN(out, d.szFormat, cch);
      return S_OK;
    }
    return UnknownText(out, cch);
  }
  bool isFloat = wfx->wFormatTag == 3;
  wchar_t channels[64];
  const wchar_t* chText = nullptr;
  const WORD n = wfx->nChannels;
  if (n == 1) chText = Text(kIdMono);
  if (n == 2) chText = Text(kIdStereo);
  if (wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE && wfx->cbSize >= 22) {
    const WAVEFORMATEXTENSIBLE* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wfx);
    GUID sub;
    std::memcpy(&sub, &x->SubFormat, sizeof sub);
    isFloat = KvGuidEquals(sub, kKvSubtypeFloat);
    const DWORD mask = x->dwChannelMask;
    if (n == 6 && (mask == 0x3F || mask == 0x60F)) chText = Text(kId51);
    if (n == 8 && (mask == 0xFF || mask == 0x63F)) chText = Text(kId71);
  }
  if (!chText) {
    KvPrintFN(channels, 64, Text(kIdChannels), static_cast<int>(n));
    chText = channels;
  }
  // Formatted with a bound: a small buffer never overflows.
  if (out && cch > 0)
    KvPrintFN(out, cch, Text(isFloat ? kIdAttribsFloat : kIdAttribs), static_cast<int>(wfx->nSamplesPerSec),
              static_cast<int>(wfx->wBitsPerSample), chText);
  return S_OK;
}

HRESULT KVAPI KvAudio_GetAttribsText(const _kvwaveformat* fmt, wchar_t* out, DWORD cch) {
  if (!fmt) return UnknownText(out, static_cast<int>(cch));
  alignas(8) BYTE header[80] = {};
  KvAudio_GeneralCopyWfx(reinterpret_cast<WAVEFORMATEX*>(header), sizeof header, *fmt, KVWFX_COPY_BYMASK);
  return KvAudio_GetAttribsText(reinterpret_cast<const WAVEFORMATEX*>(header), out, static_cast<int>(cch));
}
