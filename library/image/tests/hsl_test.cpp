// HSL conversions against Python's colorsys (tables made at test time), and
// the legal-colour checks against a numpy evaluation of the same limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "image_test_util.h"
#include "kvhsl.h"
#include "vog_tools.h"

using kvimagetest::ReadTable;

namespace {

// Hue is in turns; pure red is 1.0 here and 0.0 in colorsys.
double HueDistance(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 1.0);
  return std::fmin(d, 1.0 - d);
}

TEST(Hsl, FloatPixelsMatchColorsys) {
  auto rows = ReadTable("image/hsl_rgb.txt", 6);
  if (rows.empty()) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  int checked = 0;
  for (const auto& r : rows) {
    KVRGBAFLOAT p{float(r[2]), float(r[1]), float(r[0]), 0.75f};
    KVHSL a{}, b{}, c{};
    KVRGBAFLOAT_To_KVHSL(&a, &p);
    KVDIBPIXEL_To_KVHSL(&b, &p);
    KVDIBPIXEL_To_KVHSL_Float(&c, &p);
    for (const KVHSL* h : {&a, &b}) {
      EXPECT_NEAR(h->l, r[4], 1e-12) << r[0] << " " << r[1] << " " << r[2];
      EXPECT_NEAR(h->s, r[5], 1e-12) << r[0] << " " << r[1] << " " << r[2];
      if (r[5] > 0) { EXPECT_LT(HueDistance(h->h, r[3]), 1e-12) << r[0] << " " << r[1] << " " << r[2]; }
      EXPECT_EQ(h->a, 0.75);
    }
    // The unbounded form agrees inside the cube within its nudge of 1e-6.
    EXPECT_NEAR(c.l, r[4], 1e-6);
    EXPECT_NEAR(c.s, r[5], 1e-5) << r[0] << " " << r[1] << " " << r[2];
    if (r[5] > 1e-5) { EXPECT_LT(HueDistance(c.h, r[3]), 1e-5) << r[0] << " " << r[1] << " " << r[2]; }
    ++checked;
  }
  EXPECT_EQ(checked, 17 * 17 * 17);
}

TEST(Hsl, BytePixelsMatchColorsys) {
  auto rows = ReadTable("image/hsl_bytes.txt", 6);
  if (rows.empty()) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  for (const auto& r : rows) {
    KVRGBA p{BYTE(r[2]), BYTE(r[1]), BYTE(r[0]), 51};
    KVHSL h{};
    KVRGBA_To_KVHSL(&h, &p);
    EXPECT_NEAR(h.l, r[4], 1e-12);
    EXPECT_NEAR(h.s, r[5], 1e-12);
    if (r[5] > 0) { EXPECT_LT(HueDistance(h.h, r[3]), 1e-12); }
    EXPECT_NEAR(h.a, 0.2, 1e-15);
    // Back to bytes: truncation of each channel, so at most one below.
    KVRGBA q{};
    KVHSL_To_KVRGBA(&q, &h);
    EXPECT_LE(p.r - q.r, 1);
    EXPECT_GE(p.r - q.r, 0);
    EXPECT_LE(p.g - q.g, 1);
    EXPECT_GE(p.g - q.g, 0);
    EXPECT_LE(p.b - q.b, 1);
    EXPECT_GE(p.b - q.b, 0);
    EXPECT_EQ(q.a, 51);
  }
}

TEST(Hsl, HslToRgbMatchesColorsys) {
  auto rows = ReadTable("image/hls_rgb.txt", 6);
  if (rows.empty()) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  for (const auto& r : rows) {
    KVHSL h{r[0], r[2], r[1], 0.5};
    KVRGBAFLOAT f{};
    KVDIBPIXEL d{};
    KVDIBPIXEL e{};
    KVHSL_To_KVRGBAFLOAT(&f, &h);
    KVHSL_To_KVDIBPIXEL(&d, &h);
    KVHSL copy = h;
    KVHSL_To_KVDIBPIXEL_Float(&e, &copy);
    for (const KVRGBAFLOAT* p : {&f, &d, &e}) {
      EXPECT_NEAR(p->r, r[3], 1e-6) << "h " << r[0] << " l " << r[1] << " s " << r[2];
      EXPECT_NEAR(p->g, r[4], 1e-6) << "h " << r[0] << " l " << r[1] << " s " << r[2];
      EXPECT_NEAR(p->b, r[5], 1e-6) << "h " << r[0] << " l " << r[1] << " s " << r[2];
      EXPECT_EQ(p->a, 0.5f);
    }
    KVRGBA q{};
    KVHSL_To_KVRGBA(&q, &h);
    // Truncated bytes of the exact values (a rounding hair below an integer
    // may lose one more).
    EXPECT_NEAR(q.r, std::floor(r[3] * 255 + 1e-9), 1) << r[0] << " " << r[1] << " " << r[2];
    EXPECT_NEAR(q.g, std::floor(r[4] * 255 + 1e-9), 1);
    EXPECT_NEAR(q.b, std::floor(r[5] * 255 + 1e-9), 1);
    EXPECT_EQ(q.a, 127);
  }
}

TEST(Hsl, EdgeCases) {
  struct Case {
    float r, g, b;
    double h, s, l;
  } cases[] = {
      {0.5f, 0.5f, 0.5f, 0, 0, 0.5}, {0, 0, 0, 0, 0, 0},         {1, 0, 0, 1.0, 1, 0.5},
      {0, 1, 0, 1.0 / 3, 1, 0.5},    {0, 0, 1, 2.0 / 3, 1, 0.5}, {1, 1, 0, 1.0 / 6, 1, 0.5},
      {1, 0, 1, 5.0 / 6, 1, 0.5},    {0, 1, 1, 0.5, 1, 0.5},     {1, 1, 1, 0, 0, 1},
  };
  for (const Case& c : cases) {
    KVRGBAFLOAT p{c.b, c.g, c.r, 1};
    KVHSL h{};
    KVRGBAFLOAT_To_KVHSL(&h, &p);
    EXPECT_NEAR(h.h, c.h, 1e-12) << c.r << " " << c.g << " " << c.b;
    EXPECT_NEAR(h.s, c.s, 1e-12);
    EXPECT_NEAR(h.l, c.l, 1e-12);
  }
  // Hue 1.0 (sextant 6) is red.
  KVHSL red{1.0, 1.0, 0.5, 1.0};
  KVRGBA q{};
  KVHSL_To_KVRGBA(&q, &red);
  EXPECT_EQ(q.r, 255);
  EXPECT_EQ(q.g, 0);
  EXPECT_EQ(q.b, 0);
  EXPECT_EQ(q.a, 255);
  // A hue outside 0..7 sextants leaves the colour channels as they were.
  for (double badHue : {1.5, -0.5, std::nan("")}) {
    KVHSL bad{badHue, 1.0, 0.5, 0.0};
    KVRGBA keep{1, 2, 3, 4};
    KVHSL_To_KVRGBA(&keep, &bad);
    EXPECT_EQ(keep.b, 1);
    EXPECT_EQ(keep.g, 2);
    EXPECT_EQ(keep.r, 3);
    EXPECT_EQ(keep.a, 0);
  }
  // Out-of-range HSL gives channels above 1: bytes clamp at 255 rather than
  // wrapping to small values; the float forms keep them.
  KVHSL bright{0.0, 1.5, 0.9, 2.0};
  KVRGBA b8{};
  KVHSL_To_KVRGBA(&b8, &bright);
  EXPECT_EQ(b8.r, 255);
  EXPECT_EQ(b8.a, 255);
  KVRGBAFLOAT bf{};
  KVHSL_To_KVRGBAFLOAT(&bf, &bright);
  EXPECT_GT(bf.r, 1.0f);
  KVHSL dark{0.0, 1.0, -0.3, 0.0};
  KVRGBA d8{9, 9, 9, 9};
  KVHSL_To_KVRGBA(&d8, &dark);
  EXPECT_EQ(d8.r, 0);
  EXPECT_EQ(d8.g, 0);
}

// Values outside the cube: the unbounded forms keep the sign of an inverted
// saturation and round-trip; the sums near 0 and 2 are nudged, not divided by 0.
TEST(Hsl, UnboundedValues) {
  const float cases[][3] = {{1.5f, 0.2f, -0.1f}, {-0.2f, -0.4f, -0.9f}, {2.0f, 1.2f, 1.1f},
                            {0.3f, 1.7f, 0.9f},  {-0.5f, 0.25f, 0.1f}};
  for (const auto& c : cases) {
    KVDIBPIXEL p{c[2], c[1], c[0], 1};
    KVHSL h{};
    KVDIBPIXEL_To_KVHSL_Float(&h, &p);
    KVDIBPIXEL back{};
    KVHSL_To_KVDIBPIXEL_Float(&back, &h);
    EXPECT_NEAR(back.r, c[0], 1e-5) << c[0] << " " << c[1] << " " << c[2];
    EXPECT_NEAR(back.g, c[1], 1e-5) << c[0] << " " << c[1] << " " << c[2];
    EXPECT_NEAR(back.b, c[2], 1e-5) << c[0] << " " << c[1] << " " << c[2];
  }
  // max + min exactly 0 or 2 with a spread: the saturation stays finite.
  KVDIBPIXEL z{-0.5f, 0.0f, 0.5f, 1};
  KVHSL h{};
  KVDIBPIXEL_To_KVHSL_Float(&h, &z);
  EXPECT_TRUE(std::isfinite(h.s));
  KVDIBPIXEL nearTwo{0.5f, 1.0f, 1.5f, 1};
  KVDIBPIXEL_To_KVHSL_Float(&h, &nearTwo);
  EXPECT_TRUE(std::isfinite(h.s));
  EXPECT_LT(std::fabs(h.s), 1e7);
}

using CheckFn = BOOL(KVAPI*)(const KVRGBAFLOAT*);
using ReturnFn = BOOL(KVAPI*)(KVRGBAFLOAT*);

TEST(LegalColour, ChecksMatchNumpyLimits) {
  auto rows = ReadTable("image/hot.txt", 6);
  if (rows.empty()) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  const CheckFn checks[3] = {HotCheckNTSCYIQ, HotCheckNTSCYUV, HotCheckPALYUV};
  const ReturnFn fixes[3] = {HotCheckNTSCYIQReturn, HotCheckNTSCYUVReturn, HotCheckPALYUVReturn};
  int illegal[3] = {0, 0, 0};
  for (const auto& r : rows) {
    const KVRGBAFLOAT p{float(r[0]), float(r[1]), float(r[2]), 0.25f};
    for (int k = 0; k < 3; ++k) {
      const double margin = r[3 + k];
      const BOOL got = checks[k](&p);
      // Single against double precision: only colours clear of the limit.
      if (std::fabs(margin) > 1e-4) {
        EXPECT_EQ(got, margin < 0 ? 1 : 0) << "check " << k << " bgr " << r[0] << " " << r[1] << " " << r[2];
      }
      KVRGBAFLOAT q = p;
      EXPECT_EQ(fixes[k](&q), got);
      if (!got) {
        EXPECT_EQ(0, std::memcmp(&q, &p, sizeof(p))) << "a legal colour was changed";
        continue;
      }
      ++illegal[k];
      // The corrected colour lies in the cube and passes (within rounding:
      // one more pass changes it by no more than a hair).
      EXPECT_EQ(q.a, 0.25f);
      for (float v : {q.b, q.g, q.r}) {
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
      }
      KVRGBAFLOAT again = q;
      if (fixes[k](&again)) {
        EXPECT_NEAR(again.b, q.b, 2e-3) << "check " << k;
        EXPECT_NEAR(again.g, q.g, 2e-3) << "check " << k;
        EXPECT_NEAR(again.r, q.r, 2e-3) << "check " << k;
      }
    }
  }
  for (int k = 0; k < 3; ++k) EXPECT_GT(illegal[k], 10) << "check " << k << " saw too few illegal colours";
}

TEST(LegalColour, EdgeCases) {
  const KVRGBAFLOAT yellow{0, 1, 1, 1}, white{1, 1, 1, 1}, black{0, 0, 0, 1};
  EXPECT_EQ(HotCheckNTSCYIQ(&yellow), 1);
  EXPECT_EQ(HotCheckNTSCYUV(&yellow), 1);
  EXPECT_EQ(HotCheckPALYUV(&yellow), 1);
  for (const KVRGBAFLOAT* p : {&white, &black}) {
    EXPECT_EQ(HotCheckNTSCYIQ(p), 0);
    EXPECT_EQ(HotCheckNTSCYUV(p), 0);
    EXPECT_EQ(HotCheckPALYUV(p), 0);
  }
  KVRGBAFLOAT fixed = yellow;
  EXPECT_EQ(HotCheckNTSCYIQReturn(&fixed), 1);
  EXPECT_EQ(HotCheckNTSCYIQ(&fixed), 0) << fixed.r << " " << fixed.g << " " << fixed.b;
  EXPECT_LT(fixed.b + 0.0f, 1.0f);
  EXPECT_EQ(HotCheckNTSCYIQ(nullptr), 0);
  EXPECT_EQ(HotCheckPALYUVReturn(nullptr), 0);
}

}  // namespace
