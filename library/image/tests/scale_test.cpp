// Bilinear and area-averaging scaling against scipy's linear zoom and numpy
// block means (made at test time), and the geometry record, copies, coverage
// blending and degenerate rectangles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"
#include "kvsubpixel.h"
#include "vog_tools.h"

namespace {

template <typename T>
bool Read(const std::string& name, std::vector<T>& out) {
  return vogtest::ReadArray(kvimagetest::FixturePath("image/scale/" + name), out);
}

const int32_t kFull = 16384;

// Scales a whole 8-bit image into a whole destination of w x h.
std::vector<uint8_t> Scale8(const std::vector<uint8_t>& src, int sw, int sh, int w, int h, bool reduce) {
  std::vector<uint8_t> dst(size_t(w) * h * 4, 0);
  const int32_t ss[2] = {sw, sh}, ds[2] = {w, h};
  static const int option = 1;
  EXPECT_EQ(KvDibScale_BilinearSubPixel(dst.data(), ds, w * 4, nullptr, src.data(), ss, sw * 4, nullptr, 4,
                                        reduce ? &option : nullptr, 0),
            S_OK);
  return dst;
}

double Worst(const std::vector<uint8_t>& got, const std::vector<double>& want) {
  double worst = 0;
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) worst = std::fmax(worst, std::fabs(got[i] - want[i]));
  return got.size() == want.size() ? worst : 1e9;
}

TEST(Scale, EnlargementMatchesScipyZoom) {
  std::vector<uint8_t> src;
  std::vector<double> want;
  if (!Read("src_13x9.bgra", src) || !Read("zoom_40x29.f64", want)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  // Both the averaging and the interpolating choice enlarge the same way. The
  // read area and the steps are truncated in 18.14 (the far edge lands about
  // 1/500 pixel short), and weights and sums are truncated: within 2.
  for (bool reduce : {false, true}) EXPECT_LE(Worst(Scale8(src, 13, 9, 40, 29, reduce), want), 2.0) << reduce;
  // Reduction without the option interpolates at the end-point positions.
  ASSERT_TRUE(Read("zoom_7x5.f64", want));
  EXPECT_LE(Worst(Scale8(src, 13, 9, 7, 5, false), want), 2.0);
  // Float pixels.
  std::vector<float> srcf;
  ASSERT_TRUE(Read("src_13x9.f32", srcf));
  ASSERT_TRUE(Read("zoomf_40x29.f64", want));
  std::vector<float> dst(40 * 29 * 4, 0.0f);
  const int32_t ss[2] = {13, 9}, ds[2] = {40, 29};
  KvDibScale_BilinearSubPixel(reinterpret_cast<BYTE*>(dst.data()), ds, 40 * 16, nullptr,
                              reinterpret_cast<const BYTE*>(srcf.data()), ss, 13 * 16, nullptr, 16, nullptr, 0);
  double worst = 0;
  for (size_t i = 0; i < dst.size(); ++i) worst = std::fmax(worst, std::fabs(dst[i] - want[i]));
  EXPECT_LT(worst, 4e-3);
}

TEST(Scale, ReductionsAverageBlocks) {
  std::vector<uint8_t> src;
  std::vector<double> want;
  if (!Read("src_48x36.bgra", src)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  for (int n : {3, 4}) {
    ASSERT_TRUE(Read("mean" + std::to_string(n) + ".f64", want));
    const auto got = Scale8(src, 48, 36, 48 / n, 36 / n, true);
    // Sums divided by the span, truncated: within one below the mean.
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_LE(got[i], want[i] + 1e-9) << "factor " << n << " at " << i;
      ASSERT_GT(got[i], want[i] - 1.0) << "factor " << n << " at " << i;
    }
  }
  // Vertical reduction only: box vertically, the unchanged width interpolated
  // at whole positions.
  ASSERT_TRUE(Read("meanv4.f64", want));
  const auto got = Scale8(src, 48, 36, 48, 9, true);
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_LE(got[i], want[i] + 1e-9) << i;
    ASSERT_GT(got[i], want[i] - 1.0) << i;
  }
  // Horizontal only: the transposed question on a transposed image.
  std::vector<uint8_t> t(src.size());
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 48; ++x) std::memcpy(&t[(size_t(x) * 36 + y) * 4], &src[(size_t(y) * 48 + x) * 4], 4);
  const auto gotT = Scale8(t, 36, 48, 9, 48, true);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 48; ++x)
      for (int c = 0; c < 4; ++c) ASSERT_EQ(gotT[(size_t(x) * 9 + y) * 4 + c], got[(size_t(y) * 48 + x) * 4 + c]);
}

TEST(Scale, GeometryRecord) {
  KvSubpixelParam p;
  BYTE d = 0, s = 0;
  const int32_t ds[2] = {20, 20}, ss[2] = {10, 10};
  ASSERT_EQ(KvPrepareSubpixelParam(&p, &d, ds, 80, nullptr, &s, ss, -40, nullptr), 1);
  EXPECT_EQ(p.scaleStepX, 8192);
  EXPECT_EQ(p.scaleStepY, 8192);
  EXPECT_EQ(p.endStepX, int32_t(int64_t(9 * kFull) * kFull / (19 * kFull)));
  EXPECT_EQ(p.srcRead.right, 10 * kFull);
  EXPECT_EQ(p.dstClip.right, 20 * kFull);
  EXPECT_EQ(p.dstBits, &d);
  EXPECT_EQ(p.srcStride, -40);
  // A destination half outside the bitmap reads only the matching half.
  const RECT half = {10 * kFull, 0, 30 * kFull, 20 * kFull};
  ASSERT_EQ(KvPrepareSubpixelParam(&p, &d, ds, 80, &half, &s, ss, 40, nullptr), 1);
  EXPECT_EQ(p.dstClip.left, 10 * kFull);
  EXPECT_EQ(p.dstClip.right, 20 * kFull);
  EXPECT_EQ(p.srcRead.left, 0);
  EXPECT_EQ(p.srcRead.right, 5 * kFull);
  // Empty geometries.
  const RECT thinSrc = {0, 0, kFull - 1, 5 * kFull};
  EXPECT_EQ(KvPrepareSubpixelParam(&p, &d, ds, 80, nullptr, &s, ss, 40, &thinSrc), 0);
  const RECT tinyDst = {0, 0, 1023, 5 * kFull};
  EXPECT_EQ(KvPrepareSubpixelParam(&p, &d, ds, 80, &tinyDst, &s, ss, 40, nullptr), 0);
  const RECT away = {40 * kFull, 0, 50 * kFull, 5 * kFull};
  EXPECT_EQ(KvPrepareSubpixelParam(&p, &d, ds, 80, &away, &s, ss, 40, nullptr), 0);
  // A destination far more than 16384 times wider than the source: no step.
  const int32_t one[2] = {1, 1}, wide[2] = {100000, 1};
  const RECT huge = {0, 0, 20000 * kFull, kFull};
  EXPECT_EQ(KvPrepareSubpixelParam(&p, &d, wide, 80, &huge, &s, one, 4, nullptr), 0);
}

TEST(Scale, CopiesBlendsAndDegenerateRectangles) {
  std::vector<uint8_t> src(6 * 4 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7);
  const int32_t ss[2] = {6, 4};
  // Unscaled whole-pixel rectangles copy bytes, including a 3-byte layout.
  std::vector<uint8_t> dst(8 * 5 * 4, 0xAA);
  const int32_t ds[2] = {8, 5};
  const RECT from = {1, 1, 4, 3}, to = {2, 0, 5, 2};
  ASSERT_EQ(KvDibScale_Bilinear(dst.data(), ds, 32, &to, src.data(), ss, 24, &from, 4, nullptr, 0), S_OK);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool in = x >= 2 && x < 5 && y < 2;
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(dst[(y * 8 + x) * 4 + c], in ? src[((y + 1) * 6 + x - 1) * 4 + c] : 0xAA) << x << "," << y;
    }
  // The same step through the sub-pixel entry takes the enlarging path,
  // which reproduces the pixels too.
  std::vector<uint8_t> same(6 * 4 * 4, 0);
  ASSERT_EQ(KvDibScale_BilinearSubPixel(same.data(), ss, 24, nullptr, src.data(), ss, 24, nullptr, 4, nullptr, 0),
            S_OK);
  EXPECT_EQ(same, src);
  // A half-covered first column is blended half way; with noBlend replaced.
  std::vector<uint8_t> white(4 * 4, 255), base(4 * 4, 0);
  const int32_t s2[2] = {2, 2}, d2[2] = {2, 2};
  const RECT shifted = {kFull / 2, 0, 2 * kFull, 2 * kFull};
  ASSERT_EQ(KvDibScale_BilinearSubPixel(base.data(), d2, 8, &shifted, white.data(), s2, 8, nullptr, 4, nullptr, 0),
            S_OK);
  const int alpha = 8192 * 255 / 16384, t = 255 * alpha + 128;
  EXPECT_EQ(base[0], (t + (t >> 8)) >> 8);
  EXPECT_EQ(base[4], 255);
  std::vector<uint8_t> over(4 * 4, 0);
  ASSERT_EQ(KvDibScale_BilinearSubPixel(over.data(), d2, 8, &shifted, white.data(), s2, 8, nullptr, 4, nullptr, 1),
            S_OK);
  EXPECT_EQ(over[0], 255);
  // A destination one column wide is drawn.
  std::vector<uint8_t> col(1 * 3 * 4, 0);
  const int32_t d13[2] = {1, 3};
  static const int option = 1;
  ASSERT_EQ(KvDibScale_BilinearSubPixel(col.data(), d13, 4, nullptr, white.data(), s2, 8, nullptr, 4, &option, 0),
            S_OK);
  EXPECT_EQ(col[0], 255);
  EXPECT_EQ(col[8], 255);
  // Nothing is written for a source under one pixel, or null bits.
  std::vector<uint8_t> keep(4 * 4, 9);
  const RECT thin = {0, 0, kFull / 2, 2 * kFull};
  ASSERT_EQ(KvDibScale_BilinearSubPixel(keep.data(), d2, 8, nullptr, white.data(), s2, 8, &thin, 4, nullptr, 0),
            S_OK);
  EXPECT_EQ(keep, std::vector<uint8_t>(16, 9));
  EXPECT_EQ(KvDibScale_Bilinear(nullptr, d2, 8, nullptr, white.data(), s2, 8, nullptr, 4, nullptr, 0), S_OK);
  // A large reduction onto a partly covered destination: no reads outside.
  std::vector<uint8_t> bigSrc(300 * 200 * 4, 77), small(3 * 3 * 4, 0);
  const int32_t bs[2] = {300, 200}, d3[2] = {3, 3};
  const RECT part = {kFull / 3, kFull / 5, 3 * kFull - 100, 3 * kFull - 7};
  ASSERT_EQ(KvDibScale_BilinearSubPixel(small.data(), d3, 12, &part, bigSrc.data(), bs, 1200, nullptr, 4, &option, 1),
            S_OK);
  for (uint8_t v : small) EXPECT_LE(v, 77);
  EXPECT_EQ(small[4 * 4], 77);  // the centre pixel, fully covered
}

}  // namespace
