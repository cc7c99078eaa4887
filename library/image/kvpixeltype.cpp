// Pixel-type codes and bitmap records: one table of the codes' bit depths,
// channel bits and header forms, and the functions that read and write
// BITMAPINFOHEADERs by it.
#include "kvpixeltype.h"

#include <cstring>

namespace {

struct PixelTypeInfo {
  int32_t code;
  int32_t bits;
  BYTE channelBits[4];
  DWORD compression;  // biCompression written for the code
};

// Masks written for the two BI_BITFIELDS codes (red, green, blue).
const DWORD kMasks565[3] = {0xF800, 0x07E0, 0x001F};
const DWORD kMasks101010[3] = {0x3FF00000, 0x000FFC00, 0x000003FF};

const PixelTypeInfo kTypes[] = {
    {KVPT_BW1, 1, {0, 0, 0, 1}, BI_RGB},
    {KVPT_GREY1, 1, {0, 0, 0, 1}, KVBI_GREYSCALE},
    {KVPT_GREY2, 2, {0, 0, 0, 2}, KVBI_GREYSCALE},
    {KVPT_GREY4, 4, {0, 0, 0, 4}, KVBI_GREYSCALE},
    {KVPT_GREY8, 8, {0, 0, 0, 8}, KVBI_GREYSCALE},
    {KVPT_GREY16, 16, {0, 0, 0, 16}, KVBI_GREYSCALE},
    {KVPT_GREYF32, 32, {0, 0, 0, 32}, KVBI_GREYSCALE},
    {KVPT_PAL4, 4, {8, 8, 8, 0}, BI_RGB},
    {KVPT_PAL8, 8, {8, 8, 8, 0}, BI_RGB},
    {KVPT_RGB555, 16, {5, 5, 5, 1}, BI_RGB},
    {KVPT_RGB565, 16, {5, 6, 5, 0}, BI_BITFIELDS},
    {KVPT_RGB24, 24, {8, 8, 8, 0}, BI_RGB},
    {KVPT_RGB32, 32, {8, 8, 8, 8}, BI_RGB},
    {KVPT_RGBA32, 32, {8, 8, 8, 8}, KVBI_RGBA},
    {KVPT_RGB101010, 32, {10, 10, 10, 2}, BI_BITFIELDS},
    {KVPT_RGBA64, 64, {16, 16, 16, 16}, KVBI_RGBA},
    {KVPT_RGBAF128, 128, {32, 32, 32, 32}, KVBI_RGBA},
    {KVPT_UYVY, 16, {0, 0, 0, 0}, KVBI_UYVY},
    {KVPT_YUYV, 16, {0, 0, 0, 0}, KVBI_YUYV},
    {KVPT_Y41B, 12, {0, 0, 0, 0}, KVBI_Y41B},
    {KVPT_I420, 12, {0, 0, 0, 0}, KVBI_I420},
    {KVPT_V210, 20, {0, 0, 0, 0}, KVBI_V210},
};

const PixelTypeInfo* FindType(int32_t code) {
  for (const PixelTypeInfo& t : kTypes)
    if (t.code == code) return &t;
  return nullptr;
}

bool IsRgbFamily(int32_t code) { return static_cast<uint32_t>(code - 16) <= 16u; }

// Copies at most cch - 1 characters of an ASCII text and terminates it.
void CopyText(wchar_t* out, int32_t cch, const char* text) {
  if (!out || cch < 1) return;
  int32_t i = 0;
  for (; text[i] && i < cch - 1; ++i) out[i] = static_cast<wchar_t>(text[i]);
  out[i] = 0;
}

// Appends the decimal form of a signed value.
char* AppendInt(char* p, int64_t v) {
  char tmp[24];
  int n = 0;
  uint64_t u = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
  do {
    tmp[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) *p++ = '-';
  while (n) *p++ = tmp[--n];
  return p;
}

// "widthxheightxbits", the attribute text of a header.
void FormatAttribs(const BITMAPINFOHEADER* h, char* out) {
  char* p = AppendInt(out, h->biWidth);
  *p++ = 'x';
  p = AppendInt(p, h->biHeight);
  *p++ = 'x';
  p = AppendInt(p, h->biBitCount);
  *p = 0;
}

uint64_t StrideOf(int64_t width, int64_t bits) {
  return (static_cast<uint64_t>(bits * width + 31) >> 3) & ~uint64_t(3);
}

}  // namespace

int32_t KVAPI KvCountBits(DWORD value) {
  int32_t n = 0;
  for (; value; value &= value - 1) ++n;
  return n;
}

DWORD KVAPI KvCreateBitMask(int32_t first, int32_t count) {
  if (count <= 0 || first < 0 || first > 31) return 0;
  uint64_t ones = count >= 32 ? 0xFFFFFFFFull : ((uint64_t(1) << count) - 1);
  return static_cast<DWORD>(ones << first);
}

int32_t KVAPI KvGetPixelType(const BITMAPINFOHEADER* header) {
  if (!header) return KVPT_UNKNOWN;
  const int bits = header->biBitCount;
  switch (header->biCompression) {
    case BI_RGB:
      switch (bits) {
        case 1: return KVPT_BW1;
        case 4: return KVPT_PAL4;
        case 8: return KVPT_PAL8;
        case 16: return KVPT_RGB555;
        case 24: return KVPT_RGB24;
        case 32: return KVPT_RGB32;
      }
      return KVPT_UNKNOWN;
    case BI_BITFIELDS: {
      // The masks follow the 40-byte header; in the larger header versions
      // they are the header's own fields at the same offset. Only the bit
      // counts are compared, never the masks' positions.
      DWORD masks[3];
      std::memcpy(masks, reinterpret_cast<const BYTE*>(header) + 40, sizeof(masks));
      const int r = KvCountBits(masks[0]), g = KvCountBits(masks[1]), b = KvCountBits(masks[2]);
      if (bits == 16 && r == 5 && b == 5) {
        if (g == 5) return KVPT_RGB555;
        if (g == 6) return KVPT_RGB565;
      }
      if (bits == 32 && r == 8 && g == 8 && b == 8) return KVPT_RGB32;
      if (bits == 32 && r == 10 && g == 10 && b == 10) return KVPT_RGB101010;
      return KVPT_UNKNOWN;
    }
    case KVBI_GREYSCALE:
      switch (bits) {
        case 1: return KVPT_GREY1;
        case 2: return KVPT_GREY2;
        case 4: return KVPT_GREY4;
        case 8: return KVPT_GREY8;
        case 16: return KVPT_GREY16;
        case 32: return KVPT_GREYF32;
      }
      return KVPT_UNKNOWN;
    case KVBI_RGBA:
      switch (bits) {
        case 24: return KVPT_RGB24;
        case 32: return KVPT_RGBA32;
        case 64: return KVPT_RGBA64;
        case 128: return KVPT_RGBAF128;
      }
      return KVPT_UNKNOWN;
    case KVBI_UYVY: return KVPT_UYVY;
    case KVBI_YUYV: return KVPT_YUYV;
    case KVBI_Y41B: return KVPT_Y41B;
    case KVBI_I420: return KVPT_I420;
    case KVBI_V210: return KVPT_V210;
  }
  return KVPT_UNKNOWN;
}

int32_t KVAPI KvGetPixelBitsPerChannel(int32_t code, BYTE* channelBits) {
  const PixelTypeInfo* t = IsRgbFamily(code) ? FindType(code) : nullptr;
  if (channelBits) {
    for (int i = 0; i < 4; ++i) channelBits[i] = t ? t->channelBits[i] : 0;
  }
  return t ? t->bits : 0;
}

int32_t KVAPI KvPixelTypeToBitAttribs(int32_t code, DWORD* compression, DWORD* videoExtension,
                                      DWORD videoExtensionSize, DWORD* masks) {
  const PixelTypeInfo* t = FindType(code);
  if (!t) {
    if (compression) *compression = 0;
    if (masks) masks[0] = masks[1] = masks[2] = 0;
    return 0;
  }
  if (videoExtension && videoExtensionSize < KV_VIDEOEXTENSION_BYTES) return 0;
  if (compression) *compression = t->compression;
  if (masks) {
    const DWORD* m = code == KVPT_RGB565 ? kMasks565 : code == KVPT_RGB101010 ? kMasks101010 : nullptr;
    for (int i = 0; i < 3; ++i) masks[i] = m ? m[i] : 0;
  }
  if (videoExtension) {
    // Size 64, colorimetry not stated (-1; 4096 for grey), field order not
    // given, frame rate 0.0, pixel aspect 1.0, the rest zero.
    BYTE block[KV_VIDEOEXTENSION_BYTES] = {};
    const DWORD size = KV_VIDEOEXTENSION_BYTES;
    const int32_t colorimetry = (code >= KVPT_GREY1 && code <= KVPT_GREYF32) ? 4096 : -1;
    const int32_t fieldOrder = KVIT_NOTGIVEN;
    const double frameRate = 0.0, aspect = 1.0;
    std::memcpy(block + 0, &size, 4);
    std::memcpy(block + 4, &colorimetry, 4);
    std::memcpy(block + 12, &fieldOrder, 4);
    std::memcpy(block + 16, &frameRate, 8);
    std::memcpy(block + 24, &aspect, 8);
    std::memcpy(videoExtension, block, sizeof(block));
  }
  return t->bits;
}

BOOL KVAPI KvVideo_IsCompressed(const BITMAPINFOHEADER* header) {
  if (!header) return TRUE;
  switch (header->biCompression) {
    case BI_RGB:
    case BI_BITFIELDS:
    case KVBI_RGBA:
    case KVBI_GREYSCALE:
      return KvGetPixelType(header) == KVPT_UNKNOWN ? TRUE : FALSE;
  }
  return TRUE;
}

int32_t KVAPI KvVideo_GetFormatText(DWORD compression, wchar_t* text, int32_t cch) {
  switch (compression) {
    case KVBI_GREYSCALE: CopyText(text, cch, "Grayscale"); return 0;
    case KVBI_RGBA: CopyText(text, cch, "RGBA"); return 0;
    case BI_RGB: CopyText(text, cch, "RGB"); return 0;
    case BI_BITFIELDS: CopyText(text, cch, "RGB (bitfields)"); return 0;
  }
  // Any other code as its four characters, unprintable ones shown as '.'.
  // The caller's size is honoured here too (cut and terminated).
  char four[5];
  for (int i = 0; i < 4; ++i) {
    const unsigned c = (compression >> (8 * i)) & 0xFF;
    four[i] = (c >= 32 && c <= 126) ? static_cast<char>(c) : '.';
  }
  four[4] = 0;
  CopyText(text, cch, four);
  return 0;
}

int32_t KVAPI KvVideo_GetAttribsText(const BITMAPINFOHEADER* header, wchar_t* text, int32_t cch) {
  if (!header || !text) return 0;
  char buf[48];
  FormatAttribs(header, buf);
  CopyText(text, cch, buf);
  return 0;
}

int32_t KVAPI KvVideo_GetAttribsTextEx(const BITMAPINFOHEADER* header, DWORD, wchar_t* text, DWORD, DWORD) {
  if (!header || !text) return 0;
  // No size is passed: the caller's buffer holds the longest such text
  // (35 characters with the terminator; the longest written is 30).
  char buf[48];
  FormatAttribs(header, buf);
  CopyText(text, 35, buf);
  return 0;
}

DWORD KVAPI KvYUVImageBytesAndOffsets(const BITMAPINFOHEADER* header, KvYUVPlaneLayout* layout) {
  if (layout) std::memset(layout, 0, sizeof(*layout));
  if (!header || header->biWidth < 0) return 0;
  const uint64_t w = static_cast<uint64_t>(header->biWidth);
  // A top-down frame (negative height) has the same size as a bottom-up one.
  const uint64_t h = header->biHeight < 0 ? uint64_t(0) - static_cast<uint64_t>(int64_t(header->biHeight))
                                          : static_cast<uint64_t>(header->biHeight);
  uint64_t luma = 0, chroma = 0, chromaPitch = 0;
  switch (header->biCompression) {
    case KVBI_YUYV:
    case KVBI_UYVY: luma = w * h * 2; break;
    case KVBI_V210: luma = (w + 5) / 6 * h * 16; break;
    case KVBI_I420: luma = w * h; chroma = luma / 4; chromaPitch = w / 2; break;
    case KVBI_Y41B: luma = w * h; chroma = luma / 4; chromaPitch = w / 4; break;
    default: return 0;
  }
  const uint64_t total = luma + 2 * chroma;
  if (total > 0xFFFFFFFFull) return 0;
  // A frame of no rows has no pitch to report: the layout stays zero.
  if (layout && h != 0) {
    layout->pitch = static_cast<DWORD>(luma / h);
    if (chroma) {
      layout->uOffset = static_cast<DWORD>(luma);
      layout->uPitch = static_cast<DWORD>(chromaPitch);
      layout->vOffset = static_cast<DWORD>(luma + chroma);
      layout->vPitch = static_cast<DWORD>(chromaPitch);
    }
  }
  return static_cast<DWORD>(total);
}

HRESULT KVAPI KvVideo_InitBitmapInfo(BITMAPINFOHEADER* header, int32_t code, int32_t width, int32_t height,
                                     const RGBQUAD* palette, int32_t colours, DWORD* imageSize) {
  DWORD compression = 0, masks[3] = {0, 0, 0};
  const int32_t bits = KvPixelTypeToBitAttribs(code, &compression, nullptr, 0, masks);
  if (!header || bits == 0 || width < 0) return E_INVALIDARG;

  uint64_t size;
  if (compression == KVBI_V210 || compression == KVBI_I420 || compression == KVBI_YUYV ||
      compression == KVBI_UYVY) {
    BITMAPINFOHEADER probe = {};
    probe.biWidth = width;
    probe.biHeight = height;
    probe.biCompression = compression;
    size = KvYUVImageBytesAndOffsets(&probe, nullptr);
  } else {
    const uint64_t rows = height < 0 ? uint64_t(0) - static_cast<uint64_t>(int64_t(height))
                                     : static_cast<uint64_t>(height);
    size = StrideOf(width, bits) * rows;
  }
  // The size field is 32 bits: a larger image cannot be described.
  if (size > 0xFFFFFFFFull) return E_INVALIDARG;

  if (colours < 0) colours = 0;
  if (compression == BI_BITFIELDS) {
    colours = 0;
  } else if (!palette && colours == 0 && bits <= 8) {
    colours = (1 << bits) - 1;
  }

  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = width;
  header->biHeight = height;
  header->biPlanes = 1;
  header->biBitCount = static_cast<WORD>(bits);
  header->biCompression = compression;
  header->biSizeImage = static_cast<DWORD>(size);
  header->biXPelsPerMeter = 0;
  header->biYPelsPerMeter = 0;
  header->biClrUsed = static_cast<DWORD>(colours);
  header->biClrImportant = 0;
  if (imageSize) *imageSize = static_cast<DWORD>(size);

  BYTE* after = reinterpret_cast<BYTE*>(header) + sizeof(BITMAPINFOHEADER);
  if (compression == BI_BITFIELDS) {
    std::memcpy(after, masks, sizeof(masks));
  } else if (palette && colours) {
    std::memcpy(after, palette, static_cast<size_t>(colours) * 4);
  }
  return S_OK;
}

void KVAPI KvVideo_PaletteRGBAFromEntry(BYTE* rgba, const BYTE* entries, int32_t count) {
  if (!rgba || !entries) return;
  for (int32_t i = 0; i < count; ++i, rgba += 4, entries += 4) {
    const BYTE b = entries[0], g = entries[1], r = entries[2];
    rgba[0] = r;
    rgba[1] = g;
    rgba[2] = b;
    rgba[3] = 0;
  }
}

void KVAPI KvVideo_PaletteEntryFromRGBA(BYTE* entries, const BYTE* rgba, int32_t count) {
  if (!rgba || !entries) return;
  for (int32_t i = 0; i < count; ++i, rgba += 4, entries += 4) {
    const BYTE r = rgba[0], g = rgba[1], b = rgba[2];
    entries[0] = b;
    entries[1] = g;
    entries[2] = r;
    entries[3] = 0;
  }
}

namespace {
// Private words that the entry point below touches; they keep the module's
// image code referenced when a host links it statically.
volatile DWORD g_externRef[4];
}  // namespace

int32_t KVAPI KvVideoDSP_ForceExternRef() {
  for (volatile DWORD& w : g_externRef) w = 0;
  return 0;
}

DWORD KvDibGetStride(const BITMAPINFOHEADER* header) {
  if (!header || header->biWidth < 0) return 0;
  return static_cast<DWORD>(StrideOf(header->biWidth, header->biBitCount));
}

const BYTE* KvDibGetBitsPtr(const BITMAPINFOHEADER* header) {
  if (!header) return nullptr;
  const BYTE* base = reinterpret_cast<const BYTE*>(header);
  if (header->biCompression == BI_BITFIELDS) {
    // Three masks follow a 40-byte header; the larger header versions hold
    // them inside the header, so the bits begin right after it.
    return base + (header->biSize == sizeof(BITMAPINFOHEADER) ? sizeof(BITMAPINFOHEADER) + 12 : header->biSize);
  }
  if (header->biCompression == BI_RGB && header->biClrUsed == 0 && header->biBitCount >= 1 &&
      header->biBitCount <= 8)
    return base + header->biSize + (size_t(4) << header->biBitCount);
  return base + header->biSize + size_t(4) * header->biClrUsed;
}

BYTE* KvDibGetBitsPtr(BITMAPINFOHEADER* header) {
  return const_cast<BYTE*>(KvDibGetBitsPtr(static_cast<const BITMAPINFOHEADER*>(header)));
}
