// Packed 4:2:2 conversions and v210 against ffmpeg (frames made at test
// time), and the edge cases and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"
#include "kvyuvpacked.h"
#include "vog_tools.h"

namespace {

bool Read(const std::string& name, std::vector<uint8_t>& out) {
  return vogtest::ReadBytes(kvimagetest::FixturePath("image/yuv/" + name), out);
}

const int kW = 64, kH = 16;

// ffmpeg decodes studio-range YUV to full-range RGB; ours keeps studio range:
// ours = 16 + ffmpeg * 219 / 255 where ffmpeg did not clip.
TEST(YuvPacked, UyvyToRgbMatchesFfmpeg) {
  std::vector<uint8_t> in;
  if (!Read("in.uyvy", in)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  for (int sel : {1, 2}) {
    std::vector<uint8_t> ref;
    ASSERT_TRUE(Read(sel == 1 ? "uyvy_bt601.bgra" : "uyvy_bt709.bgra", ref));
    ASSERT_EQ(ref.size(), size_t(kW * kH * 4));
    std::vector<uint8_t> got(kW * kH * 4), got3(kW * kH * 3);
    ASSERT_EQ(KvUYVY2RGBA(got.data(), in.data(), kW * 4, kW, kH, sel), S_OK);
    ASSERT_EQ(KvUYVY2RGB(got3.data(), in.data(), kW * 3, kW, kH, sel), S_OK);
    int compared = 0, worst = 0;
    for (int i = 0; i < kW * kH; ++i) {
      EXPECT_EQ(got[i * 4 + 3], 255);
      for (int ch = 0; ch < 3; ++ch) {
        ASSERT_EQ(got3[i * 3 + ch], got[i * 4 + ch]) << "pixel " << i;
        const int f = ref[i * 4 + ch];
        if (f == 0 || f == 255) continue;  // clipped by ffmpeg
        const double want = 16 + f * 219.0 / 255;
        const int err = int(std::lround(std::fabs(got[i * 4 + ch] - want)));
        worst = std::max(worst, err);
        ++compared;
      }
    }
    EXPECT_LE(worst, 2) << "selector " << sel;
    EXPECT_GT(compared, kW * kH * 2) << "selector " << sel;
  }
}

// Pixel pairs of one colour, so chroma siting does not matter; ours takes
// studio-range RGB: 16 + v * 219 / 255 of ffmpeg's full-range input.
TEST(YuvPacked, RgbToUyvyMatchesFfmpeg) {
  std::vector<uint8_t> rgb;
  if (!Read("in.rgb24", rgb)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  std::vector<uint8_t> bgra(kW * kH * 4), bgr(kW * kH * 3);
  for (int i = 0; i < kW * kH; ++i)
    for (int ch = 0; ch < 3; ++ch) {
      const uint8_t v = uint8_t(std::lround(16 + rgb[i * 3 + ch] * 219.0 / 255));
      bgra[i * 4 + 2 - ch] = v;
      bgr[i * 3 + 2 - ch] = v;
      bgra[i * 4 + 3] = 0;
    }
  for (int sel : {1, 2}) {
    std::vector<uint8_t> ref;
    ASSERT_TRUE(Read(sel == 1 ? "rgb_bt601.uyvy" : "rgb_bt709.uyvy", ref));
    std::vector<uint8_t> got(kW * kH * 2), got3(kW * kH * 2);
    ASSERT_EQ(KvRGBA2UYVY(got.data(), bgra.data(), kW * 4, kW, kH, sel), S_OK);
    ASSERT_EQ(KvRGB2UYVY(got3.data(), bgr.data(), kW * 3, kW, kH, sel), S_OK);
    EXPECT_EQ(got, got3);
    int worst = 0;
    double sum = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      const int err = std::abs(int(got[i]) - int(ref[i]));
      worst = std::max(worst, err);
      sum += err;
    }
    EXPECT_LE(worst, 2) << "selector " << sel;
    EXPECT_LT(sum / got.size(), 0.6) << "selector " << sel;
  }
}

// v210 written by ffmpeg (rows padded to 128 bytes) repacks to the top 8
// bits of the 10-bit source planes.
TEST(YuvPacked, V210MatchesTheSourcePlanes) {
  int checked = 0;
  for (int w : {96, 1280}) {
    std::vector<uint8_t> v210, planes;
    if (!Read("in" + std::to_string(w) + ".v210", v210) ||
        !Read("in" + std::to_string(w) + ".yuv422p10le", planes))
      continue;
    const int h = 4;
    const int pitch = int(v210.size()) / h;
    ASSERT_EQ(pitch % 128, 0);
    std::vector<uint8_t> got(size_t(w) * 2 * h + 16, 0xEE);
    ASSERT_EQ(KvYUV_v210_TO_UYVY(got.data(), v210.data(), w * 2, pitch, w, h), S_OK);
    auto sample = [&](int plane, int x, int y) {  // 10-bit value of the source planes
      const size_t base = plane == 0 ? 0 : size_t(w) * h + size_t(plane - 1) * (w / 2) * h;
      const size_t idx = base + size_t(y) * (plane == 0 ? w : w / 2) + x;
      return int(planes[2 * idx] | planes[2 * idx + 1] << 8);
    };
    int bad = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; x += 2) {
        const uint8_t* m = &got[size_t(y) * w * 2 + size_t(x) * 2];
        const int want[4] = {sample(1, x / 2, y) >> 2, sample(0, x, y) >> 2, sample(2, x / 2, y) >> 2,
                             sample(0, x + 1, y) >> 2};
        for (int i = 0; i < 4; ++i)
          if (m[i] != want[i] && bad++ < 5)
            ADD_FAILURE() << "width " << w << " pixel " << x << "," << y << " byte " << i << ": got " << int(m[i])
                          << " want " << want[i];
      }
    EXPECT_EQ(got[size_t(w) * 2 * h], 0xEE) << "wrote past the frame";
    ++checked;
  }
  if (!checked) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
}

TEST(YuvPacked, EdgeCases) {
  // UYVY (128, 16, 128, 235) gives studio black and white.
  const uint8_t uyvy[4] = {128, 16, 128, 235};
  uint8_t bgra[8];
  ASSERT_EQ(KvUYVY2RGBA(bgra, uyvy, 8, 2, 1, 1), S_OK);
  const uint8_t want[8] = {16, 16, 16, 255, 235, 235, 235, 255};
  EXPECT_EQ(0, std::memcmp(bgra, want, 8));
  // A black pair: U = V = 128, Y clamped to 1.
  const uint8_t black[8] = {};
  uint8_t out[4];
  ASSERT_EQ(KvRGBA2UYVY(out, black, 8, 2, 1, 2), S_OK);
  const uint8_t wantBlack[4] = {128, 1, 128, 1};
  EXPECT_EQ(0, std::memcmp(out, wantBlack, 4));
  // White never writes 255.
  const uint8_t white[6] = {255, 255, 255, 255, 255, 255};
  ASSERT_EQ(KvRGB2UYVY(out, white, 6, 2, 1, 1), S_OK);
  EXPECT_EQ(out[1], 254);
  // A negative pitch walks the RGB rows upwards.
  uint8_t two[2 * 8] = {};
  const uint8_t rows[8] = {128, 16, 128, 16, 128, 235, 128, 235};
  ASSERT_EQ(KvUYVY2RGBA(two + 8, rows, -8, 2, 2, 1), S_OK);
  EXPECT_EQ(two[8], 16);
  EXPECT_EQ(two[0], 235);
  // A v210 row of width 8: three macropixels from the first group, one from
  // words 0 and 1 of the second.
  uint32_t words[8];
  for (int i = 0; i < 8; ++i) words[i] = (uint32_t(4 * (3 * i)) ) | (uint32_t(4 * (3 * i + 1)) << 10) |
                                        (uint32_t(4 * (3 * i + 2)) << 20);
  uint8_t u[16 + 4];
  std::memset(u, 0xEE, sizeof(u));
  ASSERT_EQ(KvYUV_v210_TO_UYVY(u, reinterpret_cast<uint8_t*>(words), 16, 32, 8, 1), S_OK);
  const uint8_t wantU[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(0, std::memcmp(u, wantU, 16));
  EXPECT_EQ(u[16], 0xEE);
  // Refusals: nothing written.
  EXPECT_EQ(KvUYVY2RGBA(nullptr, uyvy, 8, 2, 1, 1), E_POINTER);
  EXPECT_EQ(KvUYVY2RGBA(bgra, uyvy, 8, 3, 1, 1), E_INVALIDARG);
  EXPECT_EQ(KvUYVY2RGBA(bgra, uyvy, 7, 2, 1, 1), E_INVALIDARG);
  EXPECT_EQ(KvUYVY2RGBA(bgra, uyvy, -7, 2, 1, 1), E_INVALIDARG);
  EXPECT_EQ(KvRGB2UYVY(out, white, 5, 2, 1, 1), E_INVALIDARG);
  EXPECT_EQ(KvRGB2UYVY(out, white, 6, 2, 0, 1), E_INVALIDARG);
  EXPECT_EQ(KvYUV_v210_TO_UYVY(u, reinterpret_cast<uint8_t*>(words), 16, 31, 8, 1), E_INVALIDARG);
  EXPECT_EQ(KvYUV_v210_TO_UYVY(u, reinterpret_cast<uint8_t*>(words), 15, 32, 8, 1), E_INVALIDARG);
  EXPECT_EQ(KvYUV_v210_TO_UYVY(u, reinterpret_cast<uint8_t*>(words), 16, 32, 7, 1), E_INVALIDARG);
  EXPECT_EQ(KvYUV_v210_TO_UYVY(u, reinterpret_cast<uint8_t*>(words), 16, 32, 8, 0), E_INVALIDARG);
  EXPECT_EQ(KvYUV_v210_TO_UYVY(u, nullptr, 16, 32, 8, 1), E_POINTER);
  // Selector 0 picks BT.709 from a height of 720 on.
  std::vector<uint8_t> tall(2 * 720 * 2, 0), a(2 * 720 * 4), b(2 * 720 * 4);
  for (int i = 0; i < 720; ++i) {
    tall[i * 4] = 60;
    tall[i * 4 + 1] = 100;
    tall[i * 4 + 2] = 200;
    tall[i * 4 + 3] = 100;
  }
  ASSERT_EQ(KvUYVY2RGBA(a.data(), tall.data(), 8, 2, 720, 0), S_OK);
  ASSERT_EQ(KvUYVY2RGBA(b.data(), tall.data(), 8, 2, 720, 2), S_OK);
  EXPECT_EQ(a, b);
  ASSERT_EQ(KvUYVY2RGBA(a.data(), tall.data(), 8, 2, 719, 0), S_OK);
  ASSERT_EQ(KvUYVY2RGBA(b.data(), tall.data(), 8, 2, 719, 1), S_OK);
  EXPECT_EQ(a, b);
}

}  // namespace
