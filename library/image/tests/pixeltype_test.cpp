// Pixel-type codes and bitmap records: header classification, bit layouts,
// strides, header building, frame sizes, texts and palette conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kvpixeltype.h"

namespace {

// A header with room for three masks or a 256-entry palette after it.
struct HeaderBlock {
  BITMAPINFOHEADER h;
  DWORD after[256];
};

HeaderBlock MakeHeader(DWORD compression, int bits, DWORD r = 0, DWORD g = 0, DWORD b = 0) {
  HeaderBlock blk;
  std::memset(&blk, 0, sizeof(blk));
  blk.h.biSize = 40;
  blk.h.biWidth = 4;
  blk.h.biHeight = 2;
  blk.h.biPlanes = 1;
  blk.h.biBitCount = static_cast<WORD>(bits);
  blk.h.biCompression = compression;
  blk.after[0] = r;
  blk.after[1] = g;
  blk.after[2] = b;
  return blk;
}

std::string Narrow(const wchar_t* w) {
  std::string s;
  for (; *w; ++w) s += static_cast<char>(*w);
  return s;
}

TEST(PixelType, HeadersClassify) {
  struct Case {
    DWORD compression;
    int bits;
    DWORD r, g, b;
    int32_t code;
  } cases[] = {
      {BI_RGB, 1, 0, 0, 0, 16},   {BI_RGB, 2, 0, 0, 0, 0},    {BI_RGB, 4, 0, 0, 0, 23},
      {BI_RGB, 8, 0, 0, 0, 24},   {BI_RGB, 16, 0, 0, 0, 25},  {BI_RGB, 24, 0, 0, 0, 27},
      {BI_RGB, 32, 0, 0, 0, 28},  {BI_RGB, 64, 0, 0, 0, 0},
      // Bit fields: only the bit counts of the masks count, never their places.
      {BI_BITFIELDS, 16, 0x7C00, 0x03E0, 0x001F, 25},
      {BI_BITFIELDS, 16, 0x001F, 0x03E0, 0x7C00, 25},
      {BI_BITFIELDS, 16, 0xF800, 0x07E0, 0x001F, 26},
      {BI_BITFIELDS, 16, 0x0F00, 0x00F0, 0x000F, 0},
      {BI_BITFIELDS, 16, 0x003F, 0x07C0, 0xF800, 0},  // red 6 bits
      {BI_BITFIELDS, 32, 0xFF0000, 0xFF00, 0xFF, 28},
      {BI_BITFIELDS, 32, 0x3FF00000, 0x000FFC00, 0x000003FF, 30},
      {BI_BITFIELDS, 32, 0x3FF, 0xFFC00, 0x3FF00000, 30},
      {BI_BITFIELDS, 24, 0xFF0000, 0xFF00, 0xFF, 0},
      {KVBI_GREYSCALE, 1, 0, 0, 0, 17}, {KVBI_GREYSCALE, 2, 0, 0, 0, 18}, {KVBI_GREYSCALE, 4, 0, 0, 0, 19},
      {KVBI_GREYSCALE, 8, 0, 0, 0, 20}, {KVBI_GREYSCALE, 16, 0, 0, 0, 21}, {KVBI_GREYSCALE, 32, 0, 0, 0, 22},
      {KVBI_GREYSCALE, 24, 0, 0, 0, 0},
      {KVBI_RGBA, 24, 0, 0, 0, 27},     {KVBI_RGBA, 32, 0, 0, 0, 29},      {KVBI_RGBA, 64, 0, 0, 0, 31},
      {KVBI_RGBA, 128, 0, 0, 0, 32},    {KVBI_RGBA, 16, 0, 0, 0, 0},
      {KVBI_UYVY, 16, 0, 0, 0, 64},     {KVBI_YUYV, 16, 0, 0, 0, 65},      {KVBI_Y41B, 12, 0, 0, 0, 66},
      {KVBI_I420, 12, 0, 0, 0, 67},     {KVBI_V210, 20, 0, 0, 0, 68},
      {KV_FOURCC('M', 'J', 'P', 'G'), 24, 0, 0, 0, 0}, {1, 8, 0, 0, 0, 0},  // BI_RLE8
  };
  for (const Case& c : cases) {
    HeaderBlock blk = MakeHeader(c.compression, c.bits, c.r, c.g, c.b);
    EXPECT_EQ(KvGetPixelType(&blk.h), c.code)
        << "compression 0x" << std::hex << c.compression << std::dec << " bits " << c.bits;
    // Raw RGB-family headers are "uncompressed"; everything else is.
    const bool raw = c.code >= 16 && c.code <= 32;
    EXPECT_EQ(KvVideo_IsCompressed(&blk.h), raw ? 0 : 1) << "compression " << c.compression << " bits " << c.bits;
  }
  EXPECT_EQ(KvGetPixelType(nullptr), 0);
}

// Every code writes a header that reads back as the same code, with the bits
// and channel bits of the table.
TEST(PixelType, EveryCodeRoundTripsThroughItsHeader) {
  struct Row {
    int32_t code;
    int bits;
    BYTE channels[4];
  } rows[] = {
      {16, 1, {0, 0, 0, 1}},     {17, 1, {0, 0, 0, 1}},     {18, 2, {0, 0, 0, 2}},      {19, 4, {0, 0, 0, 4}},
      {20, 8, {0, 0, 0, 8}},     {21, 16, {0, 0, 0, 16}},   {22, 32, {0, 0, 0, 32}},    {23, 4, {8, 8, 8, 0}},
      {24, 8, {8, 8, 8, 0}},     {25, 16, {5, 5, 5, 1}},    {26, 16, {5, 6, 5, 0}},     {27, 24, {8, 8, 8, 0}},
      {28, 32, {8, 8, 8, 8}},    {29, 32, {8, 8, 8, 8}},    {30, 32, {10, 10, 10, 2}},  {31, 64, {16, 16, 16, 16}},
      {32, 128, {32, 32, 32, 32}},
  };
  for (const Row& r : rows) {
    BYTE ch[4] = {99, 99, 99, 99};
    EXPECT_EQ(KvGetPixelBitsPerChannel(r.code, ch), r.bits) << r.code;
    EXPECT_EQ(0, std::memcmp(ch, r.channels, 4)) << r.code;
    HeaderBlock blk;
    std::memset(&blk, 0xCD, sizeof(blk));
    ASSERT_EQ(KvVideo_InitBitmapInfo(&blk.h, r.code, 9, 3, nullptr, 0, nullptr), S_OK) << r.code;
    EXPECT_EQ(KvGetPixelType(&blk.h), r.code) << r.code;
    EXPECT_EQ(blk.h.biBitCount, r.bits);
    EXPECT_EQ(KvVideo_IsCompressed(&blk.h), 0) << r.code;
  }
  // YUV codes and codes outside the RGB family have no channel bits.
  for (int32_t code : {0, 15, 33, 40, 63, 64, 66, 68, 69}) {
    BYTE ch[4] = {9, 9, 9, 9};
    EXPECT_EQ(KvGetPixelBitsPerChannel(code, ch), 0) << code;
    EXPECT_EQ(ch[0] | ch[1] | ch[2] | ch[3], 0) << code;
  }
}

TEST(PixelType, BitAttribs) {
  struct Case {
    int32_t code;
    int bits;
    DWORD compression;
    DWORD masks[3];
  } cases[] = {
      {16, 1, BI_RGB, {0, 0, 0}},          {20, 8, KVBI_GREYSCALE, {0, 0, 0}},
      {25, 16, BI_RGB, {0, 0, 0}},         {26, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}},
      {27, 24, BI_RGB, {0, 0, 0}},         {29, 32, KVBI_RGBA, {0, 0, 0}},
      {30, 32, BI_BITFIELDS, {0x3FF00000, 0x000FFC00, 0x000003FF}},
      {32, 128, KVBI_RGBA, {0, 0, 0}},     {64, 16, KVBI_UYVY, {0, 0, 0}},
      {65, 16, KVBI_YUYV, {0, 0, 0}},      {66, 12, KVBI_Y41B, {0, 0, 0}},
      {67, 12, KVBI_I420, {0, 0, 0}},      {68, 20, KVBI_V210, {0, 0, 0}},
      {0, 0, 0, {0, 0, 0}},                {33, 0, 0, {0, 0, 0}},
      {40, 0, 0, {0, 0, 0}},               {63, 0, 0, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    DWORD comp = 0xDEAD, masks[3] = {1, 1, 1};
    EXPECT_EQ(KvPixelTypeToBitAttribs(c.code, &comp, nullptr, 0, masks), c.bits) << c.code;
    EXPECT_EQ(comp, c.compression) << c.code;
    EXPECT_EQ(0, std::memcmp(masks, c.masks, sizeof(masks))) << c.code;
  }
  // Every output is optional.
  EXPECT_EQ(KvPixelTypeToBitAttribs(27, nullptr, nullptr, 0, nullptr), 24);
}

TEST(PixelType, VideoExtensionBlock) {
  for (int32_t code : {16, 17, 22, 28, 64}) {
    BYTE ext[64];
    std::memset(ext, 0xAB, sizeof(ext));
    ASSERT_GT(KvPixelTypeToBitAttribs(code, nullptr, reinterpret_cast<DWORD*>(ext), 64, nullptr), 0) << code;
    DWORD size;
    int32_t colorimetry, word2, fieldOrder;
    double rate, aspect, gamma;
    std::memcpy(&size, ext, 4);
    std::memcpy(&colorimetry, ext + 4, 4);
    std::memcpy(&word2, ext + 8, 4);
    std::memcpy(&fieldOrder, ext + 12, 4);
    std::memcpy(&rate, ext + 16, 8);
    std::memcpy(&aspect, ext + 24, 8);
    std::memcpy(&gamma, ext + 32, 8);
    EXPECT_EQ(size, 64u);
    EXPECT_EQ(colorimetry, (code >= 17 && code <= 22) ? 4096 : -1) << code;
    EXPECT_EQ(word2, 0);
    EXPECT_EQ(fieldOrder, -1);
    EXPECT_EQ(rate, 0.0);
    EXPECT_EQ(aspect, 1.0);
    EXPECT_EQ(gamma, 0.0);
    for (int i = 40; i < 64; ++i) EXPECT_EQ(ext[i], 0) << i;
  }
  // A block smaller than 64 bytes: nothing copied, result 0, even for a valid code.
  BYTE small[64];
  std::memset(small, 0x5A, sizeof(small));
  DWORD comp = 0x77;
  EXPECT_EQ(KvPixelTypeToBitAttribs(28, &comp, reinterpret_cast<DWORD*>(small), 63, nullptr), 0);
  for (BYTE b : small) ASSERT_EQ(b, 0x5A);
}

TEST(PixelType, CountBitsAndMasks) {
  EXPECT_EQ(KvCountBits(0), 0);
  EXPECT_EQ(KvCountBits(0xFFFFFFFFu), 32);
  EXPECT_EQ(KvCountBits(0xF800), 5);
  EXPECT_EQ(KvCountBits(0x3FF00000), 10);
  struct Case {
    int32_t first, count;
    DWORD mask;
  } cases[] = {{0, 5, 0x1F},   {11, 5, 0xF800},        {5, 6, 0x7E0},   {20, 10, 0x3FF00000},
               {0, 0, 0},      {3, -2, 0},             {0, 32, 0xFFFFFFFFu}, {31, 1, 0x80000000u},
               {28, 8, 0xF0000000u}, {32, 4, 0},       {-1, 4, 0}};
  for (const Case& c : cases) EXPECT_EQ(KvCreateBitMask(c.first, c.count), c.mask) << c.first << "," << c.count;
}

TEST(PixelType, StrideAndBitsPointer) {
  struct Case {
    int width, bits;
    DWORD stride;
  } cases[] = {{1, 1, 4},   {32, 1, 4},  {33, 1, 8},   {7, 2, 4},    {17, 4, 12}, {3, 8, 4},
               {5, 8, 8},   {3, 16, 8},  {13, 24, 40}, {1, 24, 4},   {3, 32, 12}, {5, 64, 40},
               {3, 128, 48}, {0, 24, 0}, {1920, 24, 5760}};
  for (const Case& c : cases) {
    HeaderBlock blk = MakeHeader(BI_RGB, c.bits);
    blk.h.biWidth = c.width;
    EXPECT_EQ(KvDibGetStride(&blk.h), c.stride) << c.width << "x" << c.bits;
  }
  struct Ptr {
    DWORD size, compression;
    int bits;
    DWORD clrUsed;
    size_t offset;
  } ptrs[] = {
      {40, BI_RGB, 8, 0, 40 + 1024},  {40, BI_RGB, 8, 16, 40 + 64},   {40, BI_RGB, 1, 0, 48},
      {40, BI_RGB, 4, 0, 40 + 64},    {40, BI_RGB, 24, 0, 40},        {40, BI_RGB, 24, 3, 52},
      {40, BI_BITFIELDS, 16, 0, 52},  {40, KVBI_GREYSCALE, 8, 0, 40}, {40, KVBI_RGBA, 32, 0, 40},
      // Larger header versions hold the masks inside: the bits follow the header.
      {108, BI_BITFIELDS, 16, 0, 108}, {124, BI_BITFIELDS, 32, 0, 124}, {124, BI_RGB, 8, 0, 124 + 1024},
  };
  for (const Ptr& p : ptrs) {
    HeaderBlock blk = MakeHeader(p.compression, p.bits);
    blk.h.biSize = p.size;
    blk.h.biClrUsed = p.clrUsed;
    EXPECT_EQ(static_cast<size_t>(KvDibGetBitsPtr(&blk.h) - reinterpret_cast<BYTE*>(&blk.h)), p.offset)
        << "size " << p.size << " compression " << p.compression << " bits " << p.bits;
  }
}

TEST(PixelType, InitBitmapInfo) {
  // 8-bit palette without a palette: 255 colours, bits 40 + 1020 bytes on.
  HeaderBlock blk;
  DWORD size = 0;
  ASSERT_EQ(KvVideo_InitBitmapInfo(&blk.h, 24, 10, 3, nullptr, 0, &size), S_OK);
  EXPECT_EQ(blk.h.biClrUsed, 255u);
  EXPECT_EQ(KvDibGetBitsPtr(&blk.h) - reinterpret_cast<BYTE*>(&blk.h), 40 + 1020);
  EXPECT_EQ(size, 12u * 3);
  EXPECT_EQ(blk.h.biSizeImage, size);
  EXPECT_EQ(blk.h.biSize, 40u);
  EXPECT_EQ(blk.h.biPlanes, 1);
  EXPECT_EQ(blk.h.biClrImportant, 0u);
  EXPECT_EQ(blk.h.biXPelsPerMeter, 0);

  struct Case {
    int32_t code;
    int w, h, colours;
    DWORD clrUsed, size;
  } cases[] = {
      {16, 33, 2, 0, 1, 16},       {23, 5, 2, 0, 15, 8},        {23, 5, 2, -4, 15, 8},
      {25, 3, 3, 0, 0, 24},        {26, 3, 3, 7, 0, 24},        {27, 13, 5, 0, 0, 200},
      {28, 3, 2, 0, 0, 24},        {32, 2, 2, 0, 0, 64},        {20, 3, 1, 0, 255, 4},
      {21, 3, 1, 0, 0, 8},
      // YUV frames take their layout's size; Y41B keeps the stride rule.
      {64, 720, 576, 0, 0, 829440}, {67, 720, 576, 0, 0, 622080}, {68, 1920, 1080, 0, 0, 5529600},
      {66, 10, 4, 0, 0, 16 * 4},
      // A top-down bitmap (negative height) has the size of its rows.
      {27, 13, -5, 0, 0, 200},
  };
  for (const Case& c : cases) {
    HeaderBlock b;
    DWORD sz = 0;
    ASSERT_EQ(KvVideo_InitBitmapInfo(&b.h, c.code, c.w, c.h, nullptr, c.colours, &sz), S_OK) << c.code;
    EXPECT_EQ(b.h.biClrUsed, c.clrUsed) << c.code;
    EXPECT_EQ(sz, c.size) << c.code << " " << c.w << "x" << c.h;
    EXPECT_EQ(b.h.biHeight, c.h);
  }
  // Y41B: ((12 * w + 31) >> 3, low two bits cleared) * h.
  for (int w : {1, 2, 7, 8, 100, 1281}) {
    HeaderBlock b;
    DWORD sz = 0;
    ASSERT_EQ(KvVideo_InitBitmapInfo(&b.h, 66, w, 9, nullptr, 0, &sz), S_OK);
    EXPECT_EQ(sz, DWORD(((12 * w + 31) >> 3) & ~3) * 9) << w;
  }
  // Bit fields: masks after the header, palette and count ignored.
  RGBQUAD pal[4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  HeaderBlock bf;
  std::memset(&bf, 0xEE, sizeof(bf));
  ASSERT_EQ(KvVideo_InitBitmapInfo(&bf.h, 30, 4, 4, pal, 4, nullptr), S_OK);
  EXPECT_EQ(bf.h.biClrUsed, 0u);
  EXPECT_EQ(bf.after[0], 0x3FF00000u);
  EXPECT_EQ(bf.after[1], 0x000FFC00u);
  EXPECT_EQ(bf.after[2], 0x000003FFu);
  EXPECT_EQ(bf.after[3], 0xEEEEEEEEu);
  // A palette given is copied, count entries.
  HeaderBlock pb;
  std::memset(&pb, 0xEE, sizeof(pb));
  ASSERT_EQ(KvVideo_InitBitmapInfo(&pb.h, 24, 4, 4, pal, 3, nullptr), S_OK);
  EXPECT_EQ(pb.h.biClrUsed, 3u);
  EXPECT_EQ(0, std::memcmp(pb.after, pal, 12));
  EXPECT_EQ(pb.after[3], 0xEEEEEEEEu);

  // Refusals: no header, unknown codes, codes 33..63, negative width, and an
  // image larger than the 32-bit size field.
  EXPECT_EQ(KvVideo_InitBitmapInfo(nullptr, 28, 4, 4, nullptr, 0, nullptr), E_INVALIDARG);
  for (int32_t code : {0, 15, 33, 40, 63, 69}) {
    HeaderBlock b;
    EXPECT_EQ(KvVideo_InitBitmapInfo(&b.h, code, 4, 4, nullptr, 0, nullptr), E_INVALIDARG) << code;
  }
  HeaderBlock b;
  EXPECT_EQ(KvVideo_InitBitmapInfo(&b.h, 28, -4, 4, nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(KvVideo_InitBitmapInfo(&b.h, 32, 70000, 70000, nullptr, 0, nullptr), E_INVALIDARG);
}

TEST(PixelType, YuvFrameSizes) {
  struct Case {
    DWORD compression;
    int w, h;
    DWORD total;
    KvYUVPlaneLayout layout;
  } cases[] = {
      {KVBI_V210, 1920, 1080, 5529600, {5120, 0, 0, 0, 0}},
      {KVBI_V210, 1280, 720, 3424 * 720, {3424, 0, 0, 0, 0}},
      {KVBI_V210, 8, 2, 64, {32, 0, 0, 0, 0}},
      {KVBI_I420, 720, 576, 622080, {720, 414720, 360, 518400, 360}},
      {KVBI_Y41B, 720, 480, 518400, {720, 345600, 180, 432000, 180}},
      {KVBI_UYVY, 720, 486, 699840, {1440, 0, 0, 0, 0}},
      {KVBI_YUYV, 2, 1, 4, {4, 0, 0, 0, 0}},
      {BI_RGB, 720, 576, 0, {0, 0, 0, 0, 0}},
      {KV_FOURCC('N', 'V', '1', '2'), 720, 576, 0, {0, 0, 0, 0, 0}},
      // No rows: no size, and the layout stays zero (no division by the height).
      {KVBI_I420, 720, 0, 0, {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    HeaderBlock blk = MakeHeader(c.compression, 16);
    blk.h.biWidth = c.w;
    blk.h.biHeight = c.h;
    KvYUVPlaneLayout l;
    std::memset(&l, 0xFF, sizeof(l));
    EXPECT_EQ(KvYUVImageBytesAndOffsets(&blk.h, &l), c.total) << c.w << "x" << c.h;
    EXPECT_EQ(0, std::memcmp(&l, &c.layout, sizeof(l)))
        << c.w << "x" << c.h << ": " << l.pitch << " " << l.uOffset << " " << l.uPitch << " " << l.vOffset << " "
        << l.vPitch;
    EXPECT_EQ(KvYUVImageBytesAndOffsets(&blk.h, nullptr), c.total);
  }
}

TEST(PixelType, FormatTexts) {
  struct Case {
    DWORD compression;
    int cch;
    const char* text;
  } cases[] = {
      {KVBI_GREYSCALE, 64, "Grayscale"}, {KVBI_RGBA, 64, "RGBA"},     {BI_RGB, 64, "RGB"},
      {BI_BITFIELDS, 64, "RGB (bitfields)"}, {BI_RGB, 3, "RG"},      {BI_BITFIELDS, 1, ""},
      {KVBI_UYVY, 64, "UYVY"},           {KVBI_V210, 5, "v210"},
      {KV_FOURCC('A', 1, 0x7F, ' '), 8, "A.. "},
      // The caller's size is honoured on the FourCC path too.
      {KVBI_UYVY, 3, "UY"},
  };
  for (const Case& c : cases) {
    wchar_t buf[32];
    for (wchar_t& w : buf) w = L'#';
    EXPECT_EQ(KvVideo_GetFormatText(c.compression, buf, c.cch), 0);
    EXPECT_EQ(Narrow(buf), c.text) << c.compression << " cch " << c.cch;
    EXPECT_EQ(buf[std::strlen(c.text) + 1], L'#') << "wrote past the terminator";
  }
  wchar_t untouched[4] = {L'#', L'#', L'#', 0};
  KvVideo_GetFormatText(BI_RGB, untouched, 0);
  EXPECT_EQ(untouched[0], L'#');
  EXPECT_EQ(KvVideo_GetFormatText(KVBI_UYVY, nullptr, 10), 0);

  HeaderBlock blk = MakeHeader(BI_RGB, 24);
  blk.h.biWidth = 1920;
  blk.h.biHeight = -1080;
  wchar_t buf[40];
  EXPECT_EQ(KvVideo_GetAttribsText(&blk.h, buf, 40), 0);
  EXPECT_EQ(Narrow(buf), "1920x-1080x24");
  EXPECT_EQ(KvVideo_GetAttribsText(&blk.h, buf, 6), 0);
  EXPECT_EQ(Narrow(buf), "1920x");
  blk.h.biWidth = -2147483647 - 1;
  blk.h.biHeight = -2147483647 - 1;
  blk.h.biBitCount = 65535;
  EXPECT_EQ(KvVideo_GetAttribsTextEx(&blk.h, 0, buf, 0, 0), 0);
  EXPECT_EQ(Narrow(buf), "-2147483648x-2147483648x65535");
  EXPECT_EQ(KvVideo_GetAttribsText(&blk.h, nullptr, 10), 0);
}

TEST(PixelType, PaletteConversions) {
  const BYTE entries[8] = {10, 20, 30, 40, 1, 2, 3, 4};  // blue, green, red, reserved
  BYTE rgba[12];
  std::memset(rgba, 0xAA, sizeof(rgba));
  KvVideo_PaletteRGBAFromEntry(rgba, entries, 2);
  const BYTE wantRgba[12] = {30, 20, 10, 0, 3, 2, 1, 0, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(0, std::memcmp(rgba, wantRgba, 12));
  BYTE back[8];
  KvVideo_PaletteEntryFromRGBA(back, rgba, 2);
  const BYTE wantBack[8] = {10, 20, 30, 0, 1, 2, 3, 0};
  EXPECT_EQ(0, std::memcmp(back, wantBack, 8));
  // In place, and counts of 0 or less do nothing.
  BYTE inplace[4] = {1, 2, 3, 4};
  KvVideo_PaletteRGBAFromEntry(inplace, inplace, 1);
  const BYTE wantInplace[4] = {3, 2, 1, 0};
  EXPECT_EQ(0, std::memcmp(inplace, wantInplace, 4));
  KvVideo_PaletteEntryFromRGBA(inplace, entries, 0);
  KvVideo_PaletteEntryFromRGBA(inplace, entries, -3);
  EXPECT_EQ(0, std::memcmp(inplace, wantInplace, 4));
  EXPECT_EQ(KvVideoDSP_ForceExternRef(), 0);
}

}  // namespace
