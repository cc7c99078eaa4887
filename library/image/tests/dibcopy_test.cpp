// KvDibCopy, KvDibPrepareRects and KvDibCopyInterlace: conversions between
// codes, scaled and sub-pixel copies, edge treatment, row converters with
// dither and gamma, and the interlace field rebuild.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kvdib.h"
#include "kvdibcopy.h"
#include "kvgammacurve.h"
#include "kvpixeltype.h"

namespace {

struct Dib {
  BITMAPINFOHEADER* h = nullptr;
  Dib(int32_t code, int w, int ht, const RGBQUAD* pal = nullptr, int colours = 0) {
    EXPECT_EQ(KvDibAlloc(&h, code, w, ht, pal, colours, KVDIB_ZEROINIT), S_OK) << code;
  }
  ~Dib() { KvDibFree(h, 0); }
  BYTE* Bits() { return KvDibGetBitsPtr(h); }
  BYTE* Row(int y) { return Bits() + size_t(h->biHeight - 1 - y) * KvDibGetStride(h); }
  DWORD Size() { return h->biSizeImage; }
};

const int kOne = 16384;

TEST(DibCopy, SameSizeCopiesBetween32BitCodes) {
  Dib a(28, 5, 3), b(29, 5, 3), c(29, 5, 3);
  for (DWORD i = 0; i < a.Size(); ++i) a.Bits()[i] = BYTE(i * 11 + 3);
  ASSERT_EQ(KvDibCopy(b.h, nullptr, nullptr, 0, a.h, nullptr, nullptr, 0, 3, 0, 0), S_OK);  // the scaler
  ASSERT_EQ(KvDibCopy(c.h, nullptr, nullptr, 0, a.h, nullptr, nullptr, 0, 0, 0, 0), S_OK);  // the exchange
  EXPECT_EQ(0, std::memcmp(a.Bits(), b.Bits(), a.Size()));
  EXPECT_EQ(0, std::memcmp(a.Bits(), c.Bits(), a.Size()));
  // A rectangle copy lands at the destination rectangle.
  Dib d(28, 5, 3);
  const RECT from = {1, 1, 3, 2}, to = {3, 2, 5, 3};
  ASSERT_EQ(KvDibCopy(d.h, nullptr, &to, 0, a.h, nullptr, &from, 0, 3, 0, 0), S_OK);
  EXPECT_EQ(0, std::memcmp(d.Row(2) + 12, a.Row(1) + 4, 8));
  EXPECT_EQ(d.Row(2)[0], 0);
  EXPECT_EQ(d.Row(1)[12], 0);
}

TEST(DibCopy, PaletteConversions) {
  RGBQUAD pal[4] = {{0, 0, 0, 0}, {10, 20, 30, 0}, {200, 100, 50, 0}, {255, 255, 255, 0}};
  Dib p(24, 4, 2, pal, 4), q(28, 4, 2), back(24, 4, 2, pal, 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) p.Row(y)[x] = BYTE((x + y) % 4);
  ASSERT_EQ(KvDibCopy(q.h, nullptr, nullptr, 0, p.h, nullptr, nullptr, 0, 0, 0, 0), S_OK);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      const RGBQUAD& e = pal[(x + y) % 4];
      EXPECT_EQ(q.Row(y)[x * 4 + 0], e.rgbBlue) << x << "," << y;
      EXPECT_EQ(q.Row(y)[x * 4 + 1], e.rgbGreen);
      EXPECT_EQ(q.Row(y)[x * 4 + 2], e.rgbRed);
    }
  // Back into the palette: the quantiser of the destination palette finds
  // the same entries.
  ASSERT_EQ(KvDibCopy(back.h, nullptr, nullptr, 0, q.h, nullptr, nullptr, 0, 0, 0, 0), S_OK);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(back.Row(y)[x], (x + y) % 4) << x << "," << y;
  BITMAPINFOHEADER yuv = *q.h;
  yuv.biCompression = KVBI_UYVY;
  EXPECT_EQ(KvDibCopy(q.h, nullptr, nullptr, 0, &yuv, q.Bits(), nullptr, 0, 0, 0, 0), E_NOTIMPL);
}

TEST(DibCopy, FloatRowConverters) {
  Dib f(32, 4, 4), plain(28, 4, 4), dithered(28, 4, 4), rgb(27, 4, 4), back(32, 4, 4);
  float* v = reinterpret_cast<float*>(f.Bits());
  for (int i = 0; i < 16; ++i) {
    v[i * 4 + 0] = 0.5f;
    v[i * 4 + 1] = -0.2f;
    v[i * 4 + 2] = 1.5f;
    v[i * 4 + 3] = 0.25f;
  }
  ASSERT_EQ(KvDibCopy(plain.h, nullptr, nullptr, 0, f.h, nullptr, nullptr, 0, 0, 0, 0), S_OK);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(plain.Bits()[i * 4 + 0], 127);
    EXPECT_EQ(plain.Bits()[i * 4 + 1], 0);
    EXPECT_EQ(plain.Bits()[i * 4 + 2], 255);
    EXPECT_EQ(plain.Bits()[i * 4 + 3], 63);
  }
  // Ordered dither: 127.5 becomes 127 and 128 in equal parts over a 4x4 block.
  ASSERT_EQ(KvDibCopy(dithered.h, nullptr, nullptr, 0, f.h, nullptr, nullptr, 0, 3, 0, 0), S_OK);
  int sum = 0;
  for (int i = 0; i < 16; ++i) {
    sum += dithered.Bits()[i * 4];
    EXPECT_GE(dithered.Bits()[i * 4], 127);
    EXPECT_LE(dithered.Bits()[i * 4], 128);
  }
  EXPECT_EQ(sum, 16 * 127 + 8);
  ASSERT_EQ(KvDibCopy(rgb.h, nullptr, nullptr, 0, f.h, nullptr, nullptr, 0, 0, 0, 0), S_OK);
  EXPECT_EQ(rgb.Bits()[0], 127);
  EXPECT_EQ(rgb.Bits()[2], 255);
  // Bytes to floats: i / 255, alpha 1.0 from 24-bit pixels.
  rgb.Row(0)[0] = 51;
  ASSERT_EQ(KvDibCopy(back.h, nullptr, nullptr, 0, rgb.h, nullptr, nullptr, 0, 0, 0, 0), S_OK);
  const float* b = reinterpret_cast<const float*>(back.Row(0));
  EXPECT_FLOAT_EQ(b[0], 51 / 255.0f);
  EXPECT_FLOAT_EQ(b[3], 1.0f);
  // With a gamma ratio the bytes come from the curve's 4097-entry table.
  Dib g(28, 4, 4);
  ASSERT_EQ(KvDibCopy(g.h, nullptr, nullptr, 0, f.h, nullptr, nullptr, 0, 0, 1.0, 2.2), S_OK);
  KvGammaCurve curve(2.2f);
  EXPECT_EQ(g.Bits()[0], std::nearbyint(curve.Evaluate(float(std::nearbyint(0.5f * 4095.0f) / 4095.0)) * 255.0));
  EXPECT_NE(g.Bits()[0], 127);
}

TEST(DibCopy, ScaledWholePixelCopies) {
  Dib s(27, 4, 3), d(28, 8, 6), one(28, 1, 1), row(28, 7, 1);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 12; ++i) s.Row(y)[i] = 90;
  for (uint32_t mode : {0u, 3u}) {
    ASSERT_EQ(KvDibCopy(d.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, mode, 0, 0), S_OK);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(d.Row(y)[x * 4 + 1], 90) << mode << " " << x << "," << y;
    // Extents of one pixel (no division by zero).
    ASSERT_EQ(KvDibCopy(one.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, mode, 0, 0), S_OK);
    EXPECT_EQ(one.Bits()[0], 90);
    ASSERT_EQ(KvDibCopy(row.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, mode, 0, 0), S_OK);
    EXPECT_EQ(row.Bits()[24], 90);
  }
  // A left-to-right ramp keeps its ends when enlarged.
  for (int x = 0; x < 4; ++x) s.Row(0)[x * 3] = BYTE(x * 60);
  Dib r(28, 10, 3);
  ASSERT_EQ(KvDibCopy(r.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, 3, 0, 0), S_OK);
  EXPECT_EQ(r.Row(0)[0], 0);
  // The step is truncated: the last pixel lands a hair before the last source
  // pixel.
  EXPECT_NEAR(r.Row(0)[9 * 4], 180, 1);
  for (int x = 1; x < 10; ++x) EXPECT_GE(r.Row(0)[x * 4], r.Row(0)[(x - 1) * 4]) << x;
}

TEST(DibCopy, SubPixelRectangles) {
  Dib s(27, 6, 4), whole(28, 6, 4), sub(28, 6, 4);
  for (int y = 0; y < 4; ++y)
    for (int i = 0; i < 18; ++i) s.Row(y)[i] = BYTE(y * 40 + i * 3);
  // Multiples of 16384 behave as whole pixels.
  const RECT w = {1, 1, 5, 3}, f = {kOne, kOne, 5 * kOne, 3 * kOne};
  ASSERT_EQ(KvDibCopy(whole.h, nullptr, &w, 0, s.h, nullptr, &w, 0, 3, 0, 0), S_OK);
  ASSERT_EQ(KvDibCopy(sub.h, nullptr, &f, 0, s.h, nullptr, &f, 0, 3 | KVDIBCOPY_FIXEDRECT, 0, 0), S_OK);
  EXPECT_EQ(0, std::memcmp(whole.Bits(), sub.Bits(), whole.Size()));
  // A destination starting half way into a pixel: interior pixels take the
  // (constant) source, the half-covered first column is blended half way
  // with what was there.
  Dib flat(27, 4, 4), dst(28, 6, 4);
  std::memset(flat.Bits(), 200, flat.Size());
  std::memset(dst.Bits(), 0, dst.Size());
  const RECT half = {kOne / 2, 0, 4 * kOne + kOne / 2, 4 * kOne};
  ASSERT_EQ(KvDibCopy(dst.h, nullptr, &half, 0, flat.h, nullptr, nullptr, 0, 3 | KVDIBCOPY_FIXEDRECT, 0, 0), S_OK);
  EXPECT_EQ(dst.Row(1)[4 * 1], 200);
  EXPECT_NEAR(dst.Row(1)[0], 100, 2);
  EXPECT_NEAR(dst.Row(1)[4 * 4], 100, 2);
  EXPECT_EQ(dst.Row(1)[4 * 5], 0);
}

// The last source column with a vertical fraction: only the pixel below is
// read, never one to the right of the row (the sanitizer build reports it).
TEST(DibCopy, SubPixelLastColumnReadsNoNeighbourToTheRight) {
  Dib s(27, 2, 3), d(28, 2, 3);
  std::memset(s.Bits(), 100, s.Size());
  const RECT from = {0, kOne / 2, 2 * kOne, 3 * kOne}, to = {0, 0, 2 * kOne, 3 * kOne - kOne / 2};
  ASSERT_EQ(KvDibCopy(d.h, nullptr, &to, 0, s.h, nullptr, &from, 0, 3 | KVDIBCOPY_FIXEDRECT, 0, 0), S_OK);
  EXPECT_EQ(d.Row(0)[4], 100);
  EXPECT_EQ(d.Row(1)[4], 100);
}

TEST(DibCopy, EdgeTreatment) {
  Dib s(28, 6, 2), d(28, 6, 2);
  std::memset(s.Bits(), 240, s.Size());
  std::memset(d.Bits(), 0, d.Size());
  // Margin 2 on the first column: depth 2 at x = 0, 1 at x = 1, 0 beyond.
  const uint32_t flags = KVDIBCOPY_EDGE_FIRSTCOL | (2u << KVDIBCOPY_MARGIN_SHIFT);
  ASSERT_EQ(KvDibCopy(d.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, flags, 0, 0), S_OK);
  const int x0 = d.Row(0)[0], x1 = d.Row(0)[4], x2 = d.Row(0)[8];
  EXPECT_LT(x0, x1);
  EXPECT_LT(x1, x2);
  EXPECT_EQ(x2, 240);
  EXPECT_NEAR(x0, 240 - 240 * 2 / 3, 2);
  EXPECT_NEAR(x1, 240 - 240 / 3, 2);
}

TEST(DibCopy, PrepareRects) {
  Dib d(28, 10, 10), s(28, 20, 20);
  struct Case {
    RECT dst, src;
    RECT wantDst, wantSrc, wantCut;
  } cases[] = {
      {{0, 0, 10, 10}, {0, 0, 20, 20}, {0, 0, 10, 10}, {0, 0, 20, 20}, {0, 0, 0, 0}},
      // Destination sticks out by 5 on the left: the source loses 10.
      {{-5, 0, 5, 10}, {0, 0, 20, 20}, {0, 0, 5, 10}, {10, 0, 20, 20}, {10, 0, 0, 0}},
      // Source sticks out by 4 at the bottom: the destination loses 2.
      {{0, 0, 10, 10}, {0, 4, 20, 24}, {0, 0, 10, 8}, {0, 4, 20, 20}, {0, 0, 0, 4}},
      // No overlap, and no extent: empty.
      {{20, 0, 30, 10}, {0, 0, 20, 20}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {{3, 3, 3, 8}, {0, 0, 20, 20}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    RECT od, os, cut;
    ASSERT_EQ(KvDibPrepareRects(d.h, &od, &c.dst, s.h, &os, &c.src, &cut), S_OK);
    EXPECT_EQ(0, std::memcmp(&od, &c.wantDst, sizeof(RECT))) << od.left << " " << od.top << " " << od.right << " "
                                                             << od.bottom;
    EXPECT_EQ(0, std::memcmp(&os, &c.wantSrc, sizeof(RECT))) << os.left << " " << os.top << " " << os.right << " "
                                                             << os.bottom;
    EXPECT_EQ(0, std::memcmp(&cut, &c.wantCut, sizeof(RECT)))
        << cut.left << " " << cut.top << " " << cut.right << " " << cut.bottom;
  }
  RECT od, os, cut = {1, 1, 1, 1};
  ASSERT_EQ(KvDibPrepareRects(d.h, &od, nullptr, s.h, &os, nullptr, &cut), S_OK);
  EXPECT_EQ(od.right, 10);
  EXPECT_EQ(os.right, 20);
  EXPECT_EQ(cut.left, 0);
}

TEST(DibCopy, InterlaceKeepsOneFieldAndRebuildsTheOther) {
  Dib s(28, 3, 6);
  for (int y = 0; y < 6; ++y)
    for (int i = 0; i < 12; ++i) s.Row(y)[i] = BYTE(y * y * 7);
  std::vector<int> kept[2];
  for (uint32_t field : {0u, 1u}) {
    Dib d(28, 3, 6);
    ASSERT_EQ(KvDibCopyInterlace(d.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, field, 0), S_OK);
    for (int y = 0; y < 6; ++y) {
      const int v = d.Row(y)[0];
      if (v == y * y * 7) {
        kept[field].push_back(y);
      } else {
        // Rebuilt: the mean of the neighbours (one neighbour at the ends).
        const int up = y > 0 ? y - 1 : y + 1, down = y < 5 ? y + 1 : up;
        EXPECT_EQ(v, (up * up * 7 + down * down * 7) / 2) << "field " << field << " row " << y;
      }
    }
    EXPECT_EQ(kept[field].size(), 3u) << field;
  }
  for (int y : kept[0])
    for (int z : kept[1]) EXPECT_NE(y, z);
  Dib small(28, 3, 5);
  EXPECT_EQ(KvDibCopyInterlace(small.h, nullptr, nullptr, 0, s.h, nullptr, nullptr, 0, 0, 0), E_NOTIMPL);
}

}  // namespace
