// The colour quantiser (every cell gets a palette entry at the smallest
// city-block distance, checked by brute force) and the palette choice.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "kvpixeltype.h"
#include "kvquantize.h"

namespace {

struct PaletteDib {
  BITMAPINFOHEADER h;
  RGBQUAD pal[256];
};

int CellDistance(int cell, const RGBQUAD& e) {
  const int r = cell >> 10, g = (cell >> 5) & 31, b = cell & 31;
  return std::abs(r - (e.rgbRed >> 3)) + std::abs(g - (e.rgbGreen >> 3)) + std::abs(b - (e.rgbBlue >> 3));
}

TEST(ColorQuantizer, EveryCellGetsANearestEntry) {
  std::mt19937 rng(77);
  for (int count : {1, 2, 3, 16, 100, 255, 256}) {
    PaletteDib d;
    ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, 24, 8, 8, nullptr, count, nullptr), S_OK);
    for (int i = 0; i < count; ++i) {
      d.pal[i] = {BYTE(rng()), BYTE(rng()), BYTE(rng()), 0};
      if (i % 10 == 9) d.pal[i] = d.pal[i - 3];  // duplicates
    }
    BYTE* table = nullptr;
    ASSERT_EQ(KvDibCreateColorQuantizer(&table, &d.h), S_OK) << count;
    ASSERT_NE(table, nullptr);
    int bad = 0;
    for (int cell = 0; cell < 32768 && bad < 5; ++cell) {
      int best = 1000, lowest = -1;
      for (int i = 0; i < count; ++i) {
        const int dist = CellDistance(cell, d.pal[i]);
        if (dist < best) {
          best = dist;
          lowest = i;
        }
      }
      const int got = table[cell];
      if (got >= count || CellDistance(cell, d.pal[got]) != best) {
        ADD_FAILURE() << count << " entries: cell " << cell << " got index " << got << " best distance " << best
                      << " (index " << lowest << ")";
        ++bad;
      }
    }
    // An entry's own cell maps to the first entry of that colour.
    for (int i = 0; i < count; ++i) {
      const int cell = ((d.pal[i].rgbRed >> 3) << 10) | ((d.pal[i].rgbGreen >> 3) << 5) | (d.pal[i].rgbBlue >> 3);
      int first = 0;
      while (CellDistance(cell, d.pal[first]) != 0) ++first;
      EXPECT_EQ(table[cell], first) << count << " entries, entry " << i;
    }
    KvDibFreeColorQuantizer(table);
  }
}

TEST(ColorQuantizer, OneColourAndRefusals) {
  PaletteDib d;
  ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, 23, 8, 8, nullptr, 1, nullptr), S_OK);
  d.pal[0] = {1, 2, 3, 0};
  BYTE* table = nullptr;
  ASSERT_EQ(KvDibCreateColorQuantizer(&table, &d.h), S_OK);
  for (int cell = 0; cell < 32768; ++cell) ASSERT_EQ(table[cell], 0) << cell;
  KvDibFreeColorQuantizer(table);
  d.h.biClrUsed = 0;
  table = reinterpret_cast<BYTE*>(&d);
  EXPECT_EQ(KvDibCreateColorQuantizer(&table, &d.h), E_INVALIDARG);
  EXPECT_EQ(table, nullptr);
  d.h.biClrUsed = 257;
  EXPECT_EQ(KvDibCreateColorQuantizer(&table, &d.h), E_INVALIDARG);
  EXPECT_EQ(KvDibCreateColorQuantizer(nullptr, &d.h), E_POINTER);
  EXPECT_EQ(KvDibCreateColorQuantizer(&table, nullptr), E_INVALIDARG);
}

// A 32-bit source bitmap of w x h pixels.
struct Source {
  BITMAPINFOHEADER h;
  std::vector<BYTE> bits;
  Source(int w, int ht) : bits(size_t(w) * ht * 4, 0) {
    KvVideo_InitBitmapInfo(&h, 28, w, ht, nullptr, 0, nullptr);
  }
  void Set(int x, int y, BYTE r, BYTE g, BYTE b) {  // y = 0 is the top row
    BYTE* p = &bits[(size_t(h.biHeight - 1 - y) * h.biWidth + x) * 4];
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = 255;
  }
};

int Written(const PaletteDib& d) {
  int n = 0;
  for (int i = 0; i < 256; ++i) n += d.pal[i].rgbReserved == 0;
  return n;
}

TEST(QuantizePalette, ChoosesPalettes) {
  // One colour into 256 entries: exactly one entry, the cell times 8.
  Source one(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) one.Set(x, y, 200, 100, 13);
  PaletteDib d;
  ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, 24, 4, 4, nullptr, 256, nullptr), S_OK);
  std::memset(d.pal, 0xEE, sizeof(d.pal));
  ASSERT_EQ(KvDibQuantizePalette(&d.h, &one.h, one.bits.data(), nullptr, 0, 0), S_OK);
  EXPECT_EQ(Written(d), 1);
  EXPECT_EQ(d.pal[0].rgbRed, 200);
  EXPECT_EQ(d.pal[0].rgbGreen, 96);
  EXPECT_EQ(d.pal[0].rgbBlue, 8);
  EXPECT_EQ(d.h.biClrUsed, 256u);

  // Well separated colours: one entry each, in cell order.
  Source few(4, 2);
  const BYTE colours[4][3] = {{250, 10, 10}, {10, 250, 10}, {10, 10, 250}, {130, 130, 130}};
  for (int i = 0; i < 8; ++i) few.Set(i % 4, i / 4, colours[i % 4][0], colours[i % 4][1], colours[i % 4][2]);
  std::memset(d.pal, 0xEE, sizeof(d.pal));
  ASSERT_EQ(KvDibQuantizePalette(&d.h, &few.h, few.bits.data(), nullptr, 0, 0), S_OK);
  ASSERT_EQ(Written(d), 4);
  std::set<std::vector<int>> want, got;
  for (const auto& c : colours) want.insert({c[0] >> 3 << 3, c[1] >> 3 << 3, c[2] >> 3 << 3});
  for (int i = 0; i < 4; ++i) got.insert({d.pal[i].rgbRed, d.pal[i].rgbGreen, d.pal[i].rgbBlue});
  EXPECT_EQ(got, want);

  // Only the rectangle counts; an empty rectangle changes nothing.
  const RECT left = {0, 0, 1, 1};
  std::memset(d.pal, 0xEE, sizeof(d.pal));
  ASSERT_EQ(KvDibQuantizePalette(&d.h, &few.h, few.bits.data(), &left, 0, 0), S_OK);
  EXPECT_EQ(Written(d), 1);
  EXPECT_EQ(d.pal[0].rgbRed, 248);
  const RECT outside = {10, 10, 20, 20};
  std::memset(d.pal, 0xEE, sizeof(d.pal));
  ASSERT_EQ(KvDibQuantizePalette(&d.h, &few.h, few.bits.data(), &outside, 0, 0), S_OK);
  EXPECT_EQ(Written(d), 0);
}

// Many colours into small palettes: never more entries than the palette
// holds, also where no box size fits (three primaries into two entries,
// random colours into a handful) and the search must end.
TEST(QuantizePalette, NeverMoreThanThePaletteHolds) {
  std::mt19937 rng(3);
  Source noise(64, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) noise.Set(x, y, BYTE(rng()), BYTE(rng()), BYTE(rng()));
  Source primaries(3, 1);
  primaries.Set(0, 0, 255, 0, 0);
  primaries.Set(1, 0, 0, 255, 0);
  primaries.Set(2, 0, 0, 0, 255);
  for (int code : {23, 24}) {
    for (int capacity : {1, 2, 3, 5, 7, 16, 200, 256}) {
      if (code == 23 && capacity > 16) continue;
      for (const Source* s : {&noise, &primaries}) {
        PaletteDib d;
        ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, code, 4, 4, nullptr, capacity, nullptr), S_OK);
        std::memset(d.pal, 0xEE, sizeof(d.pal));
        ASSERT_EQ(KvDibQuantizePalette(&d.h, &s->h, s->bits.data(), nullptr, 0, 0), S_OK);
        const int n = Written(d);
        EXPECT_GE(n, 1);
        EXPECT_LE(n, capacity) << "code " << code;
        for (int i = n; i < 256; ++i) ASSERT_EQ(d.pal[i].rgbReserved, 0xEE);
      }
    }
  }
}

TEST(QuantizePalette, Refusals) {
  Source s(2, 2);
  PaletteDib d;
  ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, 28, 4, 4, nullptr, 0, nullptr), S_OK);
  EXPECT_EQ(KvDibQuantizePalette(&d.h, &s.h, nullptr, nullptr, 0, 0), E_NOTIMPL);
  ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, 24, 4, 4, nullptr, 0, nullptr), S_OK);
  d.h.biClrUsed = 0;
  EXPECT_EQ(KvDibQuantizePalette(&d.h, &s.h, nullptr, nullptr, 0, 0), E_INVALIDARG);
  ASSERT_EQ(KvVideo_InitBitmapInfo(&d.h, 24, 4, 4, nullptr, 16, nullptr), S_OK);
  BITMAPINFOHEADER yuv = s.h;
  yuv.biCompression = KVBI_UYVY;
  EXPECT_EQ(KvDibQuantizePalette(&d.h, &yuv, s.bits.data(), nullptr, 0, 0), E_NOTIMPL);
}

}  // namespace
