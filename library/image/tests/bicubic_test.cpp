// Bicubic scaling against Pillow's bicubic resize (made at test time) on the
// pixels whose taps lie inside the image, and the invariants: constant
// images stay constant, unscaled copies are exact, 4:1 averaging equals the
// bilinear scaler's, thin rectangles write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"
#include "kvbicubic.h"
#include "vog_tools.h"

namespace {

template <typename T>
bool Read(const std::string& name, std::vector<T>& out) {
  return vogtest::ReadArray(kvimagetest::FixturePath("image/scale/" + name), out);
}

const int kSW = 20, kSH = 14, kDW = 47, kDH = 33;

// Destination pixels whose four taps lie inside the source on both axes.
bool Interior(int c, int r) {
  const int64_t sx = int64_t(kSW) * 16384 * 16384 / (int64_t(kDW) * 16384);
  const int64_t sy = int64_t(kSH) * 16384 * 16384 / (int64_t(kDH) * 16384);
  const int ix = int((sx / 2 + 8192 + c * sx) >> 14), iy = int((sy / 2 + 8192 + r * sy) >> 14);
  return ix >= 2 && ix + 1 <= kSW - 1 && iy >= 2 && iy + 1 <= kSH - 1;
}

TEST(Bicubic, EnlargementMatchesPillow) {
  std::vector<uint8_t> rgb, want;
  if (!Read("cubic_src_20x14.rgb", rgb) || !Read("cubic_47x33.rgb", want)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  std::vector<uint8_t> src(kSW * kSH * 4), dst(kDW * kDH * 4, 0);
  for (int i = 0; i < kSW * kSH; ++i) {
    for (int ch = 0; ch < 3; ++ch) src[i * 4 + ch] = rgb[i * 3 + 2 - ch];
    src[i * 4 + 3] = 255;
  }
  const int32_t ss[2] = {kSW, kSH}, ds[2] = {kDW, kDH};
  ASSERT_EQ(KvDibScale_BiCubic(dst.data(), ds, kDW * 4, nullptr, src.data(), ss, kSW * 4, nullptr, 4, nullptr, 0),
            S_OK);
  int compared = 0, worst = 0;
  for (int r = 0; r < kDH; ++r)
    for (int c = 0; c < kDW; ++c) {
      EXPECT_EQ(dst[(r * kDW + c) * 4 + 3], 255);
      if (!Interior(c, r)) continue;
      for (int ch = 0; ch < 3; ++ch)
        worst = std::max(worst, std::abs(int(dst[(r * kDW + c) * 4 + 2 - ch]) - int(want[(r * kDW + c) * 3 + ch])));
      ++compared;
    }
  EXPECT_LE(worst, 2);
  EXPECT_GT(compared, 600);

  std::vector<float> f, wantF;
  ASSERT_TRUE(Read("cubic_src_20x14.f32rgb", f));
  ASSERT_TRUE(Read("cubic_47x33.f32rgb", wantF));
  std::vector<float> srcF(kSW * kSH * 4), dstF(kDW * kDH * 4, 0.0f);
  for (int i = 0; i < kSW * kSH; ++i) {
    for (int ch = 0; ch < 3; ++ch) srcF[i * 4 + ch] = f[i * 3 + ch];
    srcF[i * 4 + 3] = 1.0f;
  }
  ASSERT_EQ(KvDibScale_BiCubicSubPixel(reinterpret_cast<BYTE*>(dstF.data()), ds, kDW * 16, nullptr,
                                       reinterpret_cast<const BYTE*>(srcF.data()), ss, kSW * 16, nullptr, 16, nullptr,
                                       0),
            S_OK);
  double worstF = 0;
  for (int r = 0; r < kDH; ++r)
    for (int c = 0; c < kDW; ++c) {
      if (!Interior(c, r)) continue;
      for (int ch = 0; ch < 3; ++ch)
        worstF = std::fmax(worstF, std::fabs(dstF[(r * kDW + c) * 4 + ch] - wantF[(r * kDW + c) * 3 + ch]));
    }
  EXPECT_LT(worstF, 1e-3);
}

TEST(Bicubic, ConstantImagesStayConstant) {
  std::vector<uint8_t> src(17 * 11 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i % 4 == 3 ? 255 : 180 + i % 4);
  const int32_t ss[2] = {17, 11};
  static const int option = 1;
  struct Case {
    int w, h;
    bool reduce;
  } cases[] = {{40, 30, false}, {5, 3, false}, {5, 3, true}, {40, 3, true}, {5, 30, true}, {17, 30, true}};
  for (const Case& c : cases) {
    std::vector<uint8_t> dst(size_t(c.w) * c.h * 4, 0);
    const int32_t ds[2] = {c.w, c.h};
    ASSERT_EQ(KvDibScale_BiCubic(dst.data(), ds, c.w * 4, nullptr, src.data(), ss, 17 * 4, nullptr, 4,
                                 c.reduce ? &option : nullptr, 0),
              S_OK);
    for (size_t i = 0; i < dst.size(); ++i)
      ASSERT_EQ(dst[i], i % 4 == 3 ? 255 : 180 + i % 4) << c.w << "x" << c.h << " reduce " << c.reduce << " at " << i;
  }
}

TEST(Bicubic, CopiesAveragingAndDegenerateRectangles) {
  std::vector<uint8_t> src(16 * 16 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 13 + 5);
  const int32_t ss[2] = {16, 16};
  // Equal rectangles copy bytes.
  std::vector<uint8_t> copy(src.size(), 0);
  ASSERT_EQ(KvDibScale_BiCubic(copy.data(), ss, 64, nullptr, src.data(), ss, 64, nullptr, 4, nullptr, 0), S_OK);
  EXPECT_EQ(copy, src);
  // 4:1 on both axes with averaging is the bilinear scaler's box filter.
  static const int option = 1;
  const int32_t ds[2] = {4, 4};
  std::vector<uint8_t> a(64, 0), b(64, 0);
  ASSERT_EQ(KvDibScale_BiCubicSubPixel(a.data(), ds, 16, nullptr, src.data(), ss, 64, nullptr, 4, &option, 0), S_OK);
  ASSERT_EQ(KvDibScale_BilinearSubPixel(b.data(), ds, 16, nullptr, src.data(), ss, 64, nullptr, 4, &option, 0), S_OK);
  EXPECT_EQ(a, b);
  // A one-pixel-wide column doubled: every tap is the edge sample.
  std::vector<uint8_t> column(1 * 4 * 4);
  for (int y = 0; y < 4; ++y)
    for (int ch = 0; ch < 4; ++ch) column[y * 4 + ch] = uint8_t(60 * y + ch);
  std::vector<uint8_t> wide(2 * 4 * 4, 0);
  const int32_t cs[2] = {1, 4}, ws[2] = {2, 4};
  ASSERT_EQ(KvDibScale_BiCubic(wide.data(), ws, 8, nullptr, column.data(), cs, 4, nullptr, 4, nullptr, 0), S_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 2; ++x)
      for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(wide[(y * 2 + x) * 4 + ch], column[y * 4 + ch]) << x << "," << y;
  // Thin rectangles write nothing.
  std::vector<uint8_t> keep(64, 7);
  const RECT thin = {0, 0, 1023, 4 * 16384};
  ASSERT_EQ(KvDibScale_BiCubicSubPixel(keep.data(), ds, 16, &thin, src.data(), ss, 64, nullptr, 4, nullptr, 0), S_OK);
  const RECT thinSrc = {0, 0, 16383, 4 * 16384};
  ASSERT_EQ(KvDibScale_BiCubicSubPixel(keep.data(), ds, 16, nullptr, src.data(), ss, 64, &thinSrc, 4, nullptr, 0),
            S_OK);
  EXPECT_EQ(keep, std::vector<uint8_t>(64, 7));
  // The weights of every phase sum to 1 within truncation (toward zero, so
  // negative weights can round up).
  for (int ph = 0; ph < 4096; ++ph) {
    const int32_t* w = KvBicubicWeights(ph);
    const int sum = w[0] + w[1] + w[2] + w[3];
    ASSERT_GE(sum, 16380) << ph;
    ASSERT_LE(sum, 16388) << ph;
  }
}

}  // namespace
