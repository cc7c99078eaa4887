// Bitmaps to YUV frames: ffmpeg's encodings of the same pictures (made at
// test time), round trips through the decoders, v210 packing and the edge
// values of the dithered, clamped encoders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"
#include "kvyuvframe.h"
#include "vog_tools.h"

namespace {

bool Read(const std::string& name, std::vector<uint8_t>& out) {
  return vogtest::ReadBytes(kvimagetest::FixturePath("image/yuv/" + name), out);
}

std::vector<uint8_t> Ext(int32_t colorimetry, int32_t fieldOrder = 0) {
  std::vector<uint8_t> e(64, 0);
  std::memcpy(&e[4], &colorimetry, 4);
  std::memcpy(&e[12], &fieldOrder, 4);
  return e;
}

struct Bitmap {
  BITMAPINFOHEADER h;
  std::vector<uint8_t> bits;
  Bitmap(int32_t code, int w, int ht) {
    KvVideo_InitBitmapInfo(&h, code, w, ht, nullptr, 0, nullptr);
    bits.assign(KvDibGetStride(&h) * size_t(ht), 0);
  }
  uint8_t* Row(int r) { return &bits[size_t(h.biHeight - 1 - r) * KvDibGetStride(&h)]; }
  float* RowF(int r) { return reinterpret_cast<float*>(Row(r)); }
};

BITMAPINFOHEADER YuvHeader(DWORD fourcc, int w, int h) {
  BITMAPINFOHEADER y = {};
  y.biSize = 40;
  y.biWidth = w;
  y.biHeight = h;
  y.biCompression = fourcc;
  return y;
}

// The fixture's RGB bytes into an 8-bit (studio range) or float bitmap.
Bitmap FromRgb(const std::vector<uint8_t>& rgb, int w, int h, bool asFloat) {
  Bitmap b(asFloat ? 32 : 28, w, h);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const uint8_t v = rgb[(size_t(r) * w + x) * 3 + c];
        if (asFloat)
          b.RowF(r)[x * 4 + 2 - c] = v / 255.0f;
        else
          b.Row(r)[x * 4 + 2 - c] = uint8_t(std::lround(16 + v * 219.0 / 255));
      }
  return b;
}

int Worst(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = a.size() == b.size() ? 0 : 999;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

TEST(YuvEncode, MatchesFfmpeg) {
  std::vector<uint8_t> rgb, uyvyRef, block, i420Ref;
  if (!Read("in.rgb24", rgb) || !Read("rgb_bt601.uyvy", uyvyRef) || !Read("block.rgb24", block) ||
      !Read("block.yuv420p", i420Ref))
    VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  const auto ext = Ext(515);
  for (bool asFloat : {false, true}) {
    Bitmap b = FromRgb(rgb, 64, 16, asFloat);
    const auto yh = YuvHeader(KVBI_UYVY, 64, 16);
    std::vector<uint8_t> out(64 * 16 * 2);
    ASSERT_EQ(KvYUV_RGBToYUV(&yh, ext.data(), out.data(), nullptr, &b.h, 0.0, b.bits.data(), 0, 0, 0), S_OK);
    EXPECT_LE(Worst(out, uyvyRef), 2) << "float " << asFloat;
    Bitmap k = FromRgb(block, 64, 16, asFloat);
    const auto ih = YuvHeader(KVBI_I420, 64, 16);
    std::vector<uint8_t> planes(64 * 16 * 3 / 2);
    ASSERT_EQ(KvYUV_RGBToYUV(&ih, ext.data(), planes.data(), nullptr, &k.h, 0.0, k.bits.data(), 0, 0, 0), S_OK);
    EXPECT_LE(Worst(planes, i420Ref), 2) << "float " << asFloat;
  }
}

// Encoded and decoded again, every layout returns the picture (interlaced
// 4:2:0 too: encoder and decoders pair rows within fields alike).
TEST(YuvEncode, RoundTrips) {
  std::vector<uint8_t> block;
  if (!Read("block.rgb24", block)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  for (DWORD fourcc : {KVBI_UYVY, KVBI_YUYV, KVBI_V210, KVBI_I420, DWORD(0)}) {
    // 0 stands for interlaced I420.
    const bool interlaced = fourcc == 0;
    const auto ext = Ext(515, interlaced ? 1 : 0);
    if (interlaced) fourcc = KVBI_I420;
    // Interlaced, the colours pair within fields: rows 0 and 2 alike, 1 and 3.
    std::vector<uint8_t> picture(block);
    if (interlaced)
      for (int r = 0; r < 16; ++r)
        std::memcpy(&picture[size_t(r) * 64 * 3], &block[size_t(2 * ((r / 4) * 2 + (r & 1))) * 64 * 3], 64 * 3);
    for (bool asFloat : {false, true}) {
      Bitmap in = FromRgb(picture, 64, 16, asFloat), back(asFloat ? 32 : 28, 64, 16);
      const auto yh = YuvHeader(fourcc, 64, 16);
      std::vector<uint8_t> frame(KvYUVImageBytesAndOffsets(&yh, nullptr));
      ASSERT_EQ(KvYUV_RGBToYUV(&yh, ext.data(), frame.data(), nullptr, &in.h, 0.0, in.bits.data(), 0, 0, 0), S_OK);
      ASSERT_EQ(KvYUV_YUVToRGB(&back.h, 0.0, back.bits.data(), 0, &yh, ext.data(), frame.data(), nullptr, 0, 0), S_OK);
      double worst = 0;
      for (int r = 0; r < 16; ++r)
        for (int x = 0; x < 64; ++x)
          for (int c = 0; c < 3; ++c) {
            const double a = asFloat ? in.RowF(r)[x * 4 + c] * 255.0 : in.Row(r)[x * 4 + c];
            const double b = asFloat ? back.RowF(r)[x * 4 + c] * 255.0 : back.Row(r)[x * 4 + c];
            // Out-of-gamut studio values clip in 8 bits on the way back.
            if (!asFloat && (a < 17 || a > 234)) continue;
            worst = std::fmax(worst, std::fabs(a - b));
          }
      // Dithered rounding and 8-bit chroma. The fixed-coefficient 8-bit
      // "YUYV" encoder has chroma gains of its own (not the 224/219 scaling
      // the decoder inverts), so its colours come back less exactly.
      const double tolerance = asFloat ? 3.5 : fourcc == KVBI_YUYV ? 8.0 : 3.0;
      EXPECT_LE(worst, tolerance) << std::hex << fourcc << " float " << asFloat;
    }
  }
}

TEST(YuvEncode, EdgeValuesAndV210Packing) {
  const auto ext = Ext(515);
  // 8-bit black into I420: Y clamped up to 1, U = V = 128.
  Bitmap black(28, 4, 4);
  const auto ih = YuvHeader(KVBI_I420, 4, 4);
  std::vector<uint8_t> planes(24, 0xEE);
  ASSERT_EQ(KvYUV_RGBToYUV(&ih, ext.data(), planes.data(), nullptr, &black.h, 0, black.bits.data(), 0, 0, 0), S_OK);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(planes[i], 1);
  for (int i = 16; i < 24; ++i) EXPECT_EQ(planes[i], 128);
  // Float white into UYVY: 235 and 128; above 1.2 clamps at 254.
  Bitmap white(32, 2, 1);
  for (int i = 0; i < 8; ++i) white.RowF(0)[i] = 1.0f;
  const auto uh = YuvHeader(KVBI_UYVY, 2, 1);
  uint8_t m[4];
  ASSERT_EQ(KvYUV_RGBToYUV(&uh, ext.data(), m, nullptr, &white.h, 0, white.bits.data(), 0, 0, 0), S_OK);
  EXPECT_EQ(m[0], 128);
  EXPECT_EQ(m[1], 235);
  EXPECT_EQ(m[2], 128);
  EXPECT_EQ(m[3], 235);
  for (int i = 0; i < 8; ++i) white.RowF(0)[i] = 1.5f;
  ASSERT_EQ(KvYUV_RGBToYUV(&uh, ext.data(), m, nullptr, &white.h, 0, white.bits.data(), 0, 0, 0), S_OK);
  EXPECT_EQ(m[1], 254);
  // 8-bit grey into YUYV with the fixed coefficients.
  Bitmap grey(28, 2, 1);
  std::memset(grey.bits.data(), 128, grey.bits.size());
  const auto yh = YuvHeader(KVBI_YUYV, 2, 1);
  ASSERT_EQ(KvYUV_RGBToYUV(&yh, ext.data(), m, nullptr, &grey.h, 0, grey.bits.data(), 0, 0, 0), S_OK);
  EXPECT_EQ(m[0], 128);
  EXPECT_EQ(m[1], 128);
  EXPECT_EQ(m[3], 128);
  // Float v210 of width 8: white 940, black 64; the second group is zeroed
  // first and keeps only the fields of its two pixels.
  Bitmap wb(32, 8, 1);
  for (int x = 0; x < 8; ++x)
    for (int c = 0; c < 3; ++c) wb.RowF(0)[x * 4 + c] = x < 4 ? 1.0f : 0.0f;
  const auto vh = YuvHeader(KVBI_V210, 8, 1);
  uint32_t words[8];
  for (uint32_t& w : words) w = 0xC0000000u;
  ASSERT_EQ(KvYUV_RGBToYUV(&vh, ext.data(), reinterpret_cast<uint8_t*>(words), nullptr, &wb.h, 0, wb.bits.data(), 0,
                           0, 0),
            S_OK);
  EXPECT_EQ((words[0] >> 10) & 0x3FF, 940u);  // Y0
  EXPECT_EQ(words[0] >> 30, 3u);              // whole groups keep bits 30-31
  EXPECT_EQ((words[3] >> 20) & 0x3FF, 64u);   // Y5
  EXPECT_EQ((words[4] >> 10) & 0x3FF, 64u);   // second group Y0
  EXPECT_EQ(words[4] >> 30, 0u);
  EXPECT_EQ(words[6], 0u);
  EXPECT_EQ(words[7], 0u);
  // Refusals.
  EXPECT_EQ(KvYUV_RGBToYUV(&vh, ext.data(), m, nullptr, &wb.h, 0, wb.bits.data(), 0, 1, 0), E_FAIL);
  const auto nh = YuvHeader(KV_FOURCC('N', 'V', '1', '2'), 8, 1);
  EXPECT_EQ(KvYUV_RGBToYUV(&nh, ext.data(), m, nullptr, &wb.h, 0, wb.bits.data(), 0, 0, 0), E_FAIL);
}

}  // namespace
