// Operations on one DIB: allocation, fills, single pixels, flips, red/blue
// swaps, fades and field merges.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kvdib.h"
#include "kvpixeltype.h"

namespace {

// A DIB of the library's allocator, freed on scope exit.
struct Dib {
  BITMAPINFOHEADER* h = nullptr;
  Dib(int32_t code, int w, int ht, const RGBQUAD* pal = nullptr, int colours = 0) {
    EXPECT_EQ(KvDibAlloc(&h, code, w, ht, pal, colours, KVDIB_ZEROINIT), S_OK) << code;
  }
  ~Dib() { KvDibFree(h, 0); }
  BYTE* Bits() { return KvDibGetBitsPtr(h); }
  BYTE* Row(int y) { return Bits() + size_t(h->biHeight - 1 - y) * KvDibGetStride(h); }  // y from the top
};

uint64_t Px(uint16_t b, uint16_t g, uint16_t r, uint16_t a) {
  return uint64_t(b) | uint64_t(g) << 16 | uint64_t(r) << 32 | uint64_t(a) << 48;
}

TEST(Dib, AllocAndInfo) {
  struct Case {
    int32_t code;
    int w, h, colours;
    DWORD headerBytes, imageSize;
  } cases[] = {
      {28, 3, 2, 0, 40, 24},   {26, 3, 2, 0, 52, 16},      {30, 1, 1, 0, 52, 4},    {24, 5, 2, 16, 40 + 64, 16},
      {24, 5, 2, 0, 40 + 1020, 16}, {23, 3, 3, 300, 40 + 1024, 12}, {32, 2, 2, 0, 40, 64},
  };
  for (const Case& c : cases) {
    DWORD hb = 0, is = 0;
    struct {
      BITMAPINFOHEADER h;
      RGBQUAD pal[256];
    } info;
    std::vector<RGBQUAD> pal(300, RGBQUAD{1, 2, 3, 0});
    ASSERT_EQ(KvDibInfo(&hb, &is, &info.h, c.code, c.w, c.h, c.colours ? pal.data() : nullptr, c.colours), S_OK);
    EXPECT_EQ(hb, c.headerBytes) << c.code;
    EXPECT_EQ(is, c.imageSize) << c.code;
    Dib d(c.code, c.w, c.h, c.colours ? pal.data() : nullptr, c.colours);
    ASSERT_NE(d.h, nullptr);
    EXPECT_EQ(KvGetPixelType(d.h), c.code);
    EXPECT_EQ(size_t(d.Bits() - reinterpret_cast<BYTE*>(d.h)), size_t(c.headerBytes)) << c.code;
    for (DWORD i = 0; i < c.imageSize; ++i) ASSERT_EQ(d.Bits()[i], 0);
    if (c.colours) {
      const RGBQUAD* p = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<BYTE*>(d.h) + 40);
      EXPECT_EQ(p[0].rgbRed, 3);
    }
  }
  BITMAPINFOHEADER* dib = reinterpret_cast<BITMAPINFOHEADER*>(1);
  EXPECT_EQ(KvDibAlloc(&dib, 40, 4, 4, nullptr, 0, 0), E_INVALIDARG);
  EXPECT_EQ(dib, nullptr);
  EXPECT_EQ(KvDibFree(nullptr, 0), S_OK);
}

TEST(Dib, FillRectangles) {
  Dib d(28, 4, 4);
  const float blue[4] = {1.0f, 0.0f, 0.0f, 1.0f};
  const RECT corner = {2, 2, 10, 10};
  ASSERT_EQ(KvDibFillRect(d.h, nullptr, &corner, 0, blue, 0), S_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const BYTE* p = d.Row(y) + x * 4;
      const bool in = x >= 2 && y >= 2;
      EXPECT_EQ(p[0], in ? 255 : 0) << x << "," << y;
      EXPECT_EQ(p[3], in ? 255 : 0);
    }
  const RECT outside = {5, 5, 6, 6};
  std::vector<BYTE> before(d.Bits(), d.Bits() + 64);
  ASSERT_EQ(KvDibSet(d.h, nullptr, &outside, 0, 1, 1, 1, 1, 0), S_OK);
  EXPECT_EQ(0, std::memcmp(before.data(), d.Bits(), 64));
  // Colour order of the fill: {0, 0, 1, 1} is red: bytes 00 00 FF FF.
  const float red[4] = {0.0f, 0.0f, 1.0f, 1.0f};
  ASSERT_EQ(KvDibFillRect(d.h, nullptr, nullptr, 0, red, 0), S_OK);
  for (int i = 0; i < 16; ++i) {
    const BYTE want[4] = {0, 0, 255, 255};
    ASSERT_EQ(0, std::memcmp(d.Bits() + 4 * i, want, 4)) << i;
  }
  // An 18.14 rectangle: (1.9, 0.5) to (3.99, 1.2) is whole pixels 1..2 x 0..0.
  const RECT fixed = {31130, 8192, 65372, 19660};
  ASSERT_EQ(KvDibSet(d.h, nullptr, &fixed, 0, 0, 1, 0, 0, KVDIB_FIXEDRECT), S_OK);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(d.Row(0)[x * 4 + 1], (x == 1 || x == 2) ? 255 : 0) << x;
  EXPECT_EQ(d.Row(1)[4 + 1], 0);
  // Codes outside the RGB family.
  BITMAPINFOHEADER yuv = *d.h;
  yuv.biCompression = KVBI_UYVY;
  EXPECT_EQ(KvDibSet(&yuv, d.Bits(), nullptr, 0, 1, 1, 1, 1, 0), E_NOTIMPL);
  EXPECT_EQ(KvDibFillRectChannel(d.h, nullptr, nullptr, 0, 0, 1.0f, 0), E_NOTIMPL);
}

// Every code is filled, each row in runs of four and single pixels, and reads
// back the colour at its own precision; palette codes store the nearest entry.
TEST(Dib, FillEveryCodeAndReadBack) {
  RGBQUAD pal[16];
  for (int i = 0; i < 16; ++i) pal[i] = {BYTE(i * 17), BYTE(255 - i * 17), BYTE(i * 8), 0};
  for (int32_t code = 16; code <= 32; ++code) {
    Dib d(code, 11, 3, code == 23 || code == 24 ? pal : nullptr, code == 23 || code == 24 ? 16 : 0);
    const RECT r = {1, 1, 10, 3};
    // Palette entry 5 exactly; grey for grey codes; any colour elsewhere.
    const bool grey = code >= 16 && code <= 22;
    const float red = grey ? 1.0f : 5 * 8 / 255.0f, green = grey ? 1.0f : (255 - 85) / 255.0f,
                blue = grey ? 1.0f : 85 / 255.0f;
    ASSERT_EQ(KvDibSet(d.h, nullptr, &r, 0, red, green, blue, 1.0f, 0x20), S_OK) << code;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 11; ++x) {
        uint64_t px = 0;
        ASSERT_EQ(KvDibGetPixel(d.h, nullptr, 0, x, y, &px), S_OK);
        const bool in = x >= 1 && x < 10 && y >= 1;
        const int got = int((px >> 32) & 0xFFFF) >> 8;  // red, 8 bits
        const int want = in ? int(red * 255.0f) : (code == 23 || code == 24 ? 0 : 0);
        // 5 and 6-bit channels keep their top bits only.
        const int tol = (code == 25 || code == 26) ? 8 : 1;
        EXPECT_NEAR(got, want, tol) << "code " << code << " at " << x << "," << y;
      }
  }
}

TEST(Dib, SinglePixels) {
  Dib d(27, 3, 2);
  EXPECT_EQ(KvDibSetPixel(d.h, nullptr, 0, 1, 0, nullptr), E_POINTER);
  const uint64_t px = Px(0x1100, 0x2200, 0x3300, 0xFFFF);
  ASSERT_EQ(KvDibSetPixel(d.h, nullptr, 0, 2, 1, &px), S_OK);
  EXPECT_EQ(d.Row(1)[6], 0x11);
  EXPECT_EQ(d.Row(1)[8], 0x33);
  uint64_t got = 0;
  ASSERT_EQ(KvDibGetPixel(d.h, nullptr, 0, 2, 1, &got), S_OK);
  EXPECT_EQ(got, Px(0x1111, 0x2222, 0x3333, 0xFFFF));  // quality expansion x257
  // Outside: E_NOTIMPL for reads, E_INVALIDARG for writes.
  for (auto xy : {std::make_pair(3, 0), std::make_pair(0, 2), std::make_pair(-1, 0), std::make_pair(0, -1)}) {
    EXPECT_EQ(KvDibGetPixel(d.h, nullptr, 0, xy.first, xy.second, &got), E_NOTIMPL);
    EXPECT_EQ(KvDibSetPixel(d.h, nullptr, 0, xy.first, xy.second, &px), E_INVALIDARG);
  }
  // Palette bitmaps: a write finds the nearest entry, a read its colour.
  RGBQUAD pal[3] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};
  Dib p(24, 2, 2, pal, 3);
  const uint64_t reddish = Px(0x1000, 0x0800, 0xF000, 0xFFFF);
  ASSERT_EQ(KvDibSetPixel(p.h, nullptr, 0, 1, 0, &reddish), S_OK);
  EXPECT_EQ(p.Row(0)[1], 1);
  ASSERT_EQ(KvDibGetPixel(p.h, nullptr, 0, 1, 0, &got), S_OK);
  EXPECT_EQ(got, Px(0, 0, 0xFF00, 0xFFFF));
  // Float pixels keep their values (not 1.0 everywhere).
  Dib f(32, 1, 1);
  const uint64_t half = Px(0x8000, 0x4000, 0xC000, 0xFFFF);
  ASSERT_EQ(KvDibSetPixel(f.h, nullptr, 0, 0, 0, &half), S_OK);
  const float* v = reinterpret_cast<const float*>(f.Bits());
  EXPECT_NEAR(v[0], 0.5f, 1e-4);
  EXPECT_NEAR(v[1], 0.25f, 1e-4);
  EXPECT_NEAR(v[2], 0.75f, 1e-4);
  EXPECT_NEAR(v[3], 1.0f, 1e-6);
  // 4-bit: the neighbouring pixel of the byte stays.
  RGBQUAD grey[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  Dib n(23, 2, 1, grey, 2);
  n.Bits()[0] = 0x01;
  const uint64_t white = Px(65535, 65535, 65535, 65535);
  ASSERT_EQ(KvDibSetPixel(n.h, nullptr, 0, 0, 0, &white), S_OK);
  EXPECT_EQ(n.Bits()[0], 0x11);
}

TEST(Dib, FlipAndSwap) {
  Dib d(27, 3, 4);
  for (int y = 0; y < 4; ++y)
    for (int i = 0; i < 9; ++i) d.Row(y)[i] = BYTE(y * 16 + i);
  std::vector<BYTE> before(d.Bits(), d.Bits() + 48);
  ASSERT_EQ(KvDibFlip(d.h, nullptr, nullptr, 0, 1, 0), S_OK);
  EXPECT_EQ(0, std::memcmp(before.data(), d.Bits(), 48));
  ASSERT_EQ(KvDibFlip(d.h, nullptr, nullptr, 0, 0, 1), S_OK);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(d.Row(y)[0], BYTE((3 - y) * 16)) << y;
  // A rectangle flips only its own rows and columns.
  const RECT r = {1, 1, 2, 4};
  ASSERT_EQ(KvDibFlip(d.h, nullptr, &r, 0, 0, 1), S_OK);
  EXPECT_EQ(d.Row(0)[3], BYTE(3 * 16 + 3));  // row 0 untouched
  EXPECT_EQ(d.Row(1)[3], BYTE(0 * 16 + 3));  // rows 1 and 3 traded pixel 1
  EXPECT_EQ(d.Row(3)[3], BYTE(2 * 16 + 3));
  EXPECT_EQ(d.Row(1)[0], BYTE(2 * 16 + 0));  // pixel 0 stays
  // Swap red and blue inside a rectangle.
  const RECT one = {2, 0, 3, 1};
  ASSERT_EQ(KvDibSwapRB(d.h, nullptr, &one, 0), S_OK);
  EXPECT_EQ(d.Row(0)[6], BYTE(3 * 16 + 8));
  EXPECT_EQ(d.Row(0)[8], BYTE(3 * 16 + 6));
  EXPECT_EQ(d.Row(0)[3], BYTE(3 * 16 + 3));
  // Codes without a worker.
  Dib x30(30, 2, 2), x25(25, 2, 2), x32(32, 2, 2), x20(20, 2, 2);
  EXPECT_EQ(KvDibFlip(x30.h, nullptr, nullptr, 0, 0, 1), E_NOTIMPL);
  EXPECT_EQ(KvDibFlip(x32.h, nullptr, nullptr, 0, 0, 1), E_NOTIMPL);
  EXPECT_EQ(KvDibFlip(x20.h, nullptr, nullptr, 0, 0, 1), E_NOTIMPL);
  EXPECT_EQ(KvDibSwapRB(x25.h, nullptr, nullptr, 0), E_NOTIMPL);
  // 4-bit rows with odd columns: pixels, not bytes.
  RGBQUAD pal[16] = {};
  Dib n(23, 3, 2, pal, 16);
  n.Row(0)[0] = 0x12;
  n.Row(0)[1] = 0x30;
  n.Row(1)[0] = 0x45;
  n.Row(1)[1] = 0x60;
  const RECT mid = {1, 0, 2, 2};
  ASSERT_EQ(KvDibFlip(n.h, nullptr, &mid, 0, 0, 1), S_OK);
  EXPECT_EQ(n.Row(0)[0], 0x15);
  EXPECT_EQ(n.Row(1)[0], 0x42);
  EXPECT_EQ(n.Row(0)[1], 0x30);
}

TEST(Dib, FadeToColor) {
  Dib d(28, 4, 2);
  for (int i = 0; i < 32; ++i) d.Bits()[i] = BYTE(40 + i);
  const float white[4] = {1, 1, 1, 1};
  // An amount above 1 is 1: everything becomes the colour.
  ASSERT_EQ(KvDibFadeToColor(d.h, nullptr, nullptr, 0, white, 2.0f, 0, 0), S_OK);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(d.Bits()[i], 255) << i;
  // Half way, keeping alpha: v + ((255 - v) * 127 + 128 + ...) >> 8.
  for (int i = 0; i < 32; ++i) d.Bits()[i] = 100;
  const float black[4] = {0, 0, 0, 0};
  ASSERT_EQ(KvDibFadeToColor(d.h, nullptr, nullptr, 0, black, 0.5f, 1, 0), S_OK);
  const int t = (0 - 100) * 127 + 128;
  const int half = 100 + ((t + (t >> 8)) >> 8);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(d.Bits()[i], (i % 4 == 3) ? 100 : half) << i;
  // An 18.14 rectangle from x 0.5 to 2 on row 0: pixel 0 half covered.
  for (int i = 0; i < 32; ++i) d.Bits()[i] = 0;
  const RECT r = {8192, 0, 2 * 16384, 16384};
  ASSERT_EQ(KvDibFadeToColor(d.h, nullptr, &r, 0, white, 1.0f, 0, KVDIB_FIXEDRECT), S_OK);
  const int a = int((int64_t(16384) * 8192 >> 14) * 255 >> 14);  // edge amount in 8 bits
  const int tt = 255 * a + 128;
  EXPECT_EQ(d.Row(0)[0], (tt + (tt >> 8)) >> 8);
  EXPECT_EQ(d.Row(0)[4], 255);
  EXPECT_EQ(d.Row(0)[8], 0);
  EXPECT_EQ(d.Row(1)[0], 0);
  // Float pixels.
  Dib f(32, 2, 1);
  float* v = reinterpret_cast<float*>(f.Bits());
  for (int i = 0; i < 8; ++i) v[i] = 0.2f;
  const float c[4] = {1.0f, 0.0f, 0.6f, 1.0f};
  ASSERT_EQ(KvDibFadeToColor(f.h, nullptr, nullptr, 0, c, 0.25f, 0, 0), S_OK);
  EXPECT_FLOAT_EQ(v[0], 0.2f + 0.8f * 0.25f);
  EXPECT_FLOAT_EQ(v[1], 0.2f - 0.2f * 0.25f);
  Dib x27(27, 2, 2);
  EXPECT_EQ(KvDibFadeToColor(x27.h, nullptr, nullptr, 0, c, 0.5f, 0, 0), E_NOTIMPL);
}

TEST(Dib, MergeFields) {
  for (int rows : {4, 5}) {
    Dib a(27, 2, rows), b(27, 2, rows);
    const DWORD stride = KvDibGetStride(a.h);
    std::memset(b.Bits(), 0x77, stride * rows);
    for (int field : {0, 1}) {
      std::memset(a.Bits(), 0, stride * rows);
      ASSERT_EQ(KvDibMergeFields(a.h, nullptr, 0, b.h, nullptr, 0, field, 0), S_OK);
      // Field 1 is the field of the top image row.
      for (int y = 0; y < rows; ++y) {
        const bool copied = (y % 2 == 0) == (field == 1);
        EXPECT_EQ(a.Row(y)[0], copied ? 0x77 : 0) << rows << " rows, field " << field << ", row " << y;
        EXPECT_EQ(a.Row(y)[5], copied ? 0x77 : 0);
        EXPECT_EQ(a.Row(y)[6], 0);  // past width * 3 bytes: padding stays
      }
    }
  }
  for (int width : {4, 5}) {
    Dib a(28, width, 2), b(28, width, 2);
    std::memset(b.Bits(), 0x55, size_t(width) * 8);
    ASSERT_EQ(KvDibMergeFieldsRotated(a.h, nullptr, 0, b.h, nullptr, 0, 1, 0), S_OK);
    const int first = (1 == 1 - (width & 1)) ? 1 : 0;
    for (int x = 0; x < width; ++x) EXPECT_EQ(a.Row(0)[x * 4], (x % 2 == first) ? 0x55 : 0) << width << " " << x;
  }
  Dib p24(27, 4, 4), p32(28, 4, 4), p32b(28, 4, 5);
  EXPECT_EQ(KvDibMergeFields(p24.h, nullptr, 0, p32.h, nullptr, 0, 0, 0), E_NOTIMPL);
  EXPECT_EQ(KvDibMergeFields(p32.h, nullptr, 0, p32b.h, nullptr, 0, 0, 0), E_NOTIMPL);
  Dib q24(27, 4, 4);
  EXPECT_EQ(KvDibMergeFieldsRotated(p24.h, nullptr, 0, q24.h, nullptr, 0, 0, 0), E_NOTIMPL);
}

}  // namespace
