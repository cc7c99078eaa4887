// Fetch and store kernels of the exchange: the behaviour tables, round trips
// of every type through its own kernels, and BMP files written by Pillow and
// ffmpeg fetched pixel by pixel against Pillow's decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "image_test_util.h"
#include "kvpixeltype.h"
#include "kvxchg.h"
#include "vog_tools.h"

namespace {

struct Exchange {
  KvXchgContext c;
  explicit Exchange(int32_t dst, int32_t src, uint32_t flags = 0) {
    EXPECT_EQ(KvXCHGGetFunctionPointers(dst, src, flags, &c, nullptr, 0.0, 0.0), S_OK);
  }
  void From(const void* p, uint32_t bit = 0) {
    c.sourcePtr = static_cast<const uint8_t*>(p);
    c.sourceBit = bit;
  }
  void To(void* p, uint32_t bit = 0) {
    c.destPtr = static_cast<uint8_t*>(p);
    c.destBit = bit;
  }
  std::vector<uint32_t> Slot(int i) {
    if (c.intermediateKind == KVXCHG_16BIT) return {c.Slot16(i)[0], c.Slot16(i)[1], c.Slot16(i)[2], c.Slot16(i)[3]};
    return {c.Slot8(i)[0], c.Slot8(i)[1], c.Slot8(i)[2], c.Slot8(i)[3]};
  }
  void Set16(int i, uint16_t b, uint16_t g, uint16_t r, uint16_t a) {
    uint16_t* s = c.Slot16(i);
    s[0] = b;
    s[1] = g;
    s[2] = r;
    s[3] = a;
  }
};

using V = std::vector<uint32_t>;

TEST(XchgKernels, FetchesTo16Bits) {
  {
    const uint8_t grey = 0xFF;
    Exchange plain(31, 20), quality(31, 20, 0x20);
    plain.From(&grey);
    plain.c.fetchOne(&plain.c);
    quality.From(&grey);
    quality.c.fetchOne(&quality.c);
    EXPECT_EQ(plain.Slot(0), (V{65280, 65280, 65280, 65535}));
    EXPECT_EQ(quality.Slot(0), (V{65535, 65535, 65535, 65535}));
    EXPECT_EQ(plain.c.sourcePtr, &grey + 1);
  }
  {
    // 5-5-5 without bit replication, and back.
    const uint16_t px = 0x7FFF;
    uint16_t out = 0xFFFF;
    Exchange x(25, 25);
    x.From(&px);
    x.To(&out);
    x.c.fetchOne(&x.c);
    EXPECT_EQ(x.Slot(0), (V{63488, 63488, 63488, 65535}));
    x.c.storeOne(&x.c);
    EXPECT_EQ(out, 0x7FFF);
  }
  struct Case {
    int32_t type;
    std::vector<uint8_t> bytes;
    uint32_t bit;
    uint32_t flags;
    V want;
  } cases[] = {
      {16, {0x01}, 7, 0, {65535, 65535, 65535, 65535}},
      {17, {0x80}, 1, 0, {0, 0, 0, 65535}},
      {18, {0x27}, 2, 0, {43690, 43690, 43690, 65535}},  // bits 5-4 = 10
      {19, {0x3C}, 4, 0, {12 * 4369, 12 * 4369, 12 * 4369, 65535}},
      {21, {0x34, 0x12}, 0, 0, {0x1234, 0x1234, 0x1234, 65535}},
      {26, {0x1F, 0xF8}, 0, 0, {0xF800, 0, 0xF800, 65535}},
      {26, {0xE0, 0x07}, 0, 0, {0, 0xFC00, 0, 65535}},
      {27, {1, 2, 3}, 0, 0, {256, 512, 768, 65535}},
      {27, {1, 2, 3}, 0, 0x30, {257, 514, 771, 65535}},
      {28, {1, 2, 3, 4}, 0, 0x10, {256, 512, 768, 1024}},
      {29, {1, 2, 3, 255}, 0, 0x30, {257, 514, 771, 65535}},
      {30, {0xFF, 0x03, 0x00, 0x80}, 0, 0, {0xFFC0, 0, 0, 43690}},
      {30, {0x00, 0xFC, 0x0F, 0x40}, 0, 0, {0, 0xFFC0, 0, 21845}},
      {31, {1, 2, 3, 4, 5, 6, 7, 8}, 0, 0, {0x0201, 0x0403, 0x0605, 0x0807}},
  };
  for (const Case& k : cases) {
    Exchange x(31, k.type, k.flags);
    ASSERT_EQ(x.c.intermediateKind, KVXCHG_16BIT);
    x.From(k.bytes.data(), k.bit);
    x.c.fetchOne(&x.c);
    EXPECT_EQ(x.Slot(0), k.want) << "type " << k.type << " bit " << k.bit;
  }
}

TEST(XchgKernels, FloatFetchesAndStores) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float px[8] = {1.5f, -0.1f, nan, 0.5f, 0.25f, 1.0f, 0.0f, 2.0f};
  Exchange x(31, 32);
  x.From(px);
  x.c.fetchOne(&x.c);
  EXPECT_EQ(x.Slot(0), (V{65535, 0, 0, 32768}));
  x.c.fetchOne(&x.c);
  EXPECT_EQ(x.Slot(0), (V{16384, 65535, 0, 65535}));
  // Grey float: 0.5 fetches as 32768 (the curve of a grey side is the
  // identity, not a cleared curve that would turn everything into 1.0).
  const float grey[2] = {0.5f, 0.25f};
  Exchange g(31, 22);
  g.From(grey);
  g.c.fetchOne(&g.c);
  EXPECT_EQ(g.Slot(0), (V{32768, 32768, 32768, 65535}));
  float out[2] = {9, 9};
  Exchange gs(22, 31);
  gs.To(out);
  gs.Set16(0, 0, 32768, 65535, 0);
  gs.c.storeOne(&gs.c);
  EXPECT_FLOAT_EQ(out[0], float(32767 * (1.0 / 65535)));
  // A float pair forced to 16 bits keeps its values within 16-bit precision.
  const float in[4] = {0.1f, 0.6f, 0.9f, 0.3f};
  float back[4] = {};
  Exchange f(32, 32, 0x10);
  f.From(in);
  f.To(back);
  f.c.fetchOne(&f.c);
  f.c.storeOne(&f.c);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(back[i], in[i], 1.0 / 65535) << i;
  // With a gamma ratio the source curve is applied: 0.5 at ratio 2.2 gives
  // the curve's value, not 0.5.
  KvXchgContext gc;
  ASSERT_EQ(KvXCHGGetFunctionPointers(31, 32, 0, &gc, nullptr, 1.0, 2.2), S_OK);
  const float half[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  gc.sourcePtr = reinterpret_cast<const uint8_t*>(half);
  gc.fetchOne(&gc);
  KvGammaCurve ref(2.2f);
  EXPECT_NEAR(gc.Slot16(0)[0], std::trunc(ref.Evaluate(0.5f) * 65535.0f + 0.5f), 1);
  EXPECT_LT(gc.Slot16(0)[0], 30000);
}

TEST(XchgKernels, GreyAndSubByteStores) {
  // 1-bit: B + G + R = 98303 is white for the single store, black for the run.
  uint8_t one = 0x00, run = 0xFF;
  Exchange s(16, 31);
  s.To(&one);
  s.Set16(0, 32767, 32768, 32768, 0);
  s.c.storeOne(&s.c);
  EXPECT_EQ(one, 0x80);
  s.To(&run);
  for (int i = 0; i < 4; ++i) s.Set16(i, 32767, 32768, 32768, 0);
  s.c.storeRun(&s.c);
  EXPECT_EQ(run, 0x0F);
  EXPECT_EQ(s.c.destPtr, &run);
  EXPECT_EQ(s.c.destBit, 4u);
  // 2-bit and 4-bit stores keep the byte's other pixels.
  uint8_t two = 0xFF;
  Exchange t(18, 31);
  t.To(&two, 2);
  t.Set16(0, 0x4000, 0x4000, 0x4000, 0);
  t.c.storeOne(&t.c);
  EXPECT_EQ(two, 0xDF);  // bits 5-4 = 01
  uint8_t pal4[2] = {0xAB, 0xCD};
  std::vector<uint8_t> map(32768, 0);
  map[(31 << 10) | (0 << 5) | 1] = 0x7;
  Exchange p(23, 31);
  p.c.inverseMap = map.data();
  p.To(pal4);
  p.Set16(0, 0x0800, 0, 0xF800, 0);
  p.c.storeOne(&p.c);
  EXPECT_EQ(pal4[0], 0x7B);  // high nibble first
  p.c.storeOne(&p.c);
  EXPECT_EQ(pal4[0], 0x77);
  EXPECT_EQ(pal4[1], 0xCD);
  // A palette store without an inverse map leaves the pixel alone.
  uint8_t keep = 0x42;
  Exchange q(24, 31);
  q.To(&keep);
  q.c.storeOne(&q.c);
  EXPECT_EQ(keep, 0x42);
  EXPECT_EQ(q.c.destPtr, &keep + 1);
}

// A 1-bit source at bit 7 interpolates with the first pixel of the next byte.
TEST(XchgKernels, InterpolatingFetches) {
  const uint8_t rows[2][2] = {{0x01, 0x00}, {0x00, 0x80}};
  Exchange x(31, 16, 0x20);
  x.From(rows[0], 7);
  x.c.sourceStride = 2;
  x.c.weightX = 8192;
  x.c.weightY = 8192;
  x.c.fetchBilinear(&x.c);
  // T0 white, T1 black, B0 black, B1 white: half grey.
  EXPECT_EQ(x.Slot(0)[0], (uint32_t(65535) * 4096 * 2) >> 14);
  EXPECT_EQ(x.c.sourcePtr, rows[0]);
  x.c.weightX = 16384;
  x.c.weightY = 16384;
  x.c.fetchBilinear(&x.c);
  EXPECT_EQ(x.Slot(0)[0], 65535u);
  x.c.fetchQuad(&x.c);
  EXPECT_EQ(x.Slot(0)[0], 65535u);
  EXPECT_EQ(x.Slot(1)[0], 0u);
  EXPECT_EQ(x.Slot(2)[0], 0u);
  EXPECT_EQ(x.Slot(3)[0], 65535u);
  // Vertical, 8-bit grey: ((T (16384 - w) + B w) * 257) / 16384.
  const uint8_t g[2] = {10, 200};
  Exchange v(31, 20, 0x20);
  v.From(g);
  v.c.sourceStride = 1;
  v.c.weightY = 5000;
  v.c.fetchVertical(&v.c);
  EXPECT_EQ(v.Slot(0)[0], uint32_t((10 * (16384 - 5000) + 200 * 5000) * 257 / 16384));
  // At 8 bits the result stays in 8-bit units.
  const uint8_t rgb[2][6] = {{0, 0, 0, 100, 100, 100}, {200, 200, 200, 50, 50, 50}};
  Exchange e(28, 27, 0x20);
  ASSERT_EQ(e.c.intermediateKind, KVXCHG_8BIT);
  e.From(rgb[0]);
  e.c.sourceStride = 6;
  e.c.weightX = 4096;
  e.c.weightY = 12288;
  e.c.fetchBilinear(&e.c);
  // Weights of T0, T1, B0, B1 for wx = 4096, wy = 12288.
  const uint32_t a = (4096 * 12288) / 16384, b = (4096 * 4096) / 16384, cc = (12288 * 12288) / 16384,
                 d = (12288 * 4096) / 16384;
  EXPECT_EQ(e.Slot(0)[0], (0 * a + 100 * b + 200 * cc + 50 * d) >> 14);
  EXPECT_EQ(e.Slot(0)[3], 255u);
  // The quad fetch of 24-bit pixels leaves the pointer on the row below.
  e.From(rgb[0]);
  e.c.fetchQuad(&e.c);
  EXPECT_EQ(e.c.sourcePtr, rgb[1]);
  EXPECT_EQ(e.Slot(3), (V{50, 50, 50, 255}));
  // Weights outside 0..16384 are held at the ends.
  e.From(rgb[0]);
  e.c.weightX = -5;
  e.c.weightY = 99999;
  e.c.fetchBilinear(&e.c);
  EXPECT_EQ(e.Slot(0), (V{200, 200, 200, 255}));
}

TEST(XchgKernels, BoxAverageOf24BitPixels) {
  // 4x3 pixels, rows 4 pixels long; box from (0.5, 0.25) of 3 x 2.5 pixels
  // covers whole pixels x 1..2 (x < 3.5) and y 1..1 (y < 2.75).
  std::vector<uint8_t> px(4 * 3 * 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      for (int ch = 0; ch < 3; ++ch) px[(y * 4 + x) * 3 + ch] = uint8_t(10 * (y * 4 + x) + ch);
  Exchange x(28, 27, 0x20);
  x.From(px.data());
  x.c.sourceStride = 4;
  x.c.weightX = 8192;
  x.c.weightY = 4096;
  x.c.boxWidth = 3 * 16384;
  x.c.boxHeight = 40960;
  x.c.fetchBilinear2(&x.c);
  // Pixels (1,1) and (2,1): values 50 and 60.
  EXPECT_EQ(x.Slot(0), (V{55, 56, 57, 255}));
  x.c.boxWidth = 8000;  // no whole pixel inside
  x.c.fetchBilinear2(&x.c);
  EXPECT_EQ(x.Slot(0), (V{0, 0, 0, 0}));
}

// Random pixels of every type go through fetchRun/storeRun (and the single
// kernels) of the same type unchanged, in both rows of the 16-bit kind.
TEST(XchgKernels, EveryTypeRoundTrips) {
  std::mt19937 rng(1234);
  // A palette of distinct 5-bit colours and the inverse map that finds them.
  std::vector<uint32_t> palette(256);
  std::vector<uint8_t> map(32768, 0);
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t cell = (i * 1237u + 11u) & 0x7FFF;
    const uint32_t r = (cell >> 10) << 3, g = ((cell >> 5) & 31) << 3, b = (cell & 31) << 3;
    palette[i] = b | (g << 8) | (r << 16);
    map[cell] = uint8_t(i);
  }
  for (int32_t type = 16; type <= 32; ++type) {
    for (uint32_t flags : {0x10u, 0x30u, 0u}) {
      const int bits = KvGetPixelBitsPerChannel(type, nullptr);
      const int pixels = 24;
      std::vector<uint8_t> src((pixels * bits + 7) / 8 + 8), dst(src.size(), 0);
      for (uint8_t& b : src) b = uint8_t(rng());
      if (type == 25)
        for (size_t i = 1; i < src.size(); i += 2) src[i] &= 0x7F;
      if (type == 22 || type == 32) {
        for (size_t i = 0; i + 4 <= src.size(); i += 4) {
          const float f = (rng() % 65536) / 65535.0f;
          std::memcpy(&src[i], &f, 4);
        }
      }
      Exchange x(type, type, flags);
      x.c.sourcePalette = palette.data();
      x.c.inverseMap = map.data();
      x.From(src.data());
      x.To(dst.data());
      for (int i = 0; i < pixels; i += 4) {
        if (i % 8 == 0) {
          x.c.fetchRun(&x.c);
          x.c.storeRun(&x.c);
        } else {
          for (int k = 0; k < 4; ++k) {
            x.c.fetchOne(&x.c);
            x.c.storeOne(&x.c);
          }
        }
      }
      const size_t bytes = size_t(pixels * bits) / 8;
      if (type == 22 || type == 32) {
        for (size_t i = 0; i < bytes; i += 4) {
          float a, b;
          std::memcpy(&a, &src[i], 4);
          std::memcpy(&b, &dst[i], 4);
          EXPECT_NEAR(a, b, 0.5 / 65535) << "type " << type << " flags " << flags << " at " << i;
        }
      } else {
        EXPECT_EQ(0, std::memcmp(src.data(), dst.data(), bytes)) << "type " << type << " flags " << flags;
      }
      EXPECT_EQ(x.c.sourcePtr, src.data() + bytes) << type;
      EXPECT_EQ(x.c.destPtr, dst.data() + bytes) << type;
    }
  }
}

// BMP files of Pillow and ffmpeg, fetched by the exchange, against Pillow's
// own decoding of them.
TEST(XchgKernels, FetchedPixelsMatchPillow) {
  struct Case {
    const char* name;
    int32_t type;
    int keepBits;  // compare the top bits of each channel only
  } cases[] = {{"x_1", 16, 8},       {"x_P", 24, 8},        {"x_RGB", 27, 8},
               {"x_RGBA", 28, 8},    {"x_rgb565le", 26, 5}, {"x_rgb555le", 25, 5}};
  int checked = 0;
  for (const Case& k : cases) {
    std::vector<uint8_t> file, want;
    auto read = [](const std::string& path, std::vector<uint8_t>& out) {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (!f) return false;
      uint8_t buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.insert(out.end(), buf, buf + n);
      std::fclose(f);
      return true;
    };
    if (!read(kvimagetest::FixturePath(std::string("image/") + k.name + ".bmp"), file) ||
        !read(kvimagetest::FixturePath(std::string("image/") + k.name + ".rgb"), want))
      continue;
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(&file[14]);
    ASSERT_EQ(KvGetPixelType(h), k.type) << k.name;
    const int w = h->biWidth, rows = h->biHeight;
    ASSERT_EQ(want.size(), size_t(w) * rows * 3) << k.name;
    const uint8_t* bits = KvDibGetBitsPtr(h);
    const DWORD stride = KvDibGetStride(h);
    std::vector<uint32_t> palette(256, 0);
    if (h->biBitCount <= 8) {
      const size_t n = h->biClrUsed ? h->biClrUsed : (size_t(1) << h->biBitCount);
      std::memcpy(palette.data(), reinterpret_cast<const uint8_t*>(h) + h->biSize, n * 4);
    }
    // Type 16 fetches black and white whatever the palette; Pillow's 1-bit
    // files carry a black and white palette.
    for (uint32_t flags : {0x10u, 0x30u, 0u}) {
      Exchange x(28, k.type, flags);
      x.c.sourcePalette = palette.data();
      const int shift = x.c.intermediateKind == KVXCHG_16BIT ? 8 : 0;
      const uint32_t keep = (0xFFu << (8 - k.keepBits)) & 0xFF;
      int bad = 0;
      for (int y = 0; y < rows && bad < 5; ++y) {
        x.From(bits + size_t(rows - 1 - y) * stride);
        for (int px = 0; px < w; ++px) {
          x.c.fetchOne(&x.c);
          const V s = x.Slot(0);
          const uint8_t* ref = &want[(size_t(y) * w + px) * 3];
          // Slots are blue, green, red; Pillow gives red, green, blue.
          for (int ch = 0; ch < 3; ++ch) {
            const uint32_t got = (s[2 - ch] >> shift) & keep, exp = ref[ch] & keep;
            if (got != exp && bad++ < 5)
              ADD_FAILURE() << k.name << " flags " << flags << " pixel " << px << "," << y << " channel " << ch
                            << ": got " << got << " want " << exp;
          }
        }
      }
      ++checked;
    }
  }
  if (!checked) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixtures missing (Pillow)";
}

}  // namespace
