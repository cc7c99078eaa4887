// Whole-frame YUV to bitmap conversion: the dispatch, the float rules
// against ffmpeg's float output, the reductions against the same-size
// conversions at the sampled positions, the matrix and gamma decisions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"
#include "kvgammacurve.h"
#include "kvyuv420.h"
#include "kvyuvframe.h"
#include "kvyuvpacked.h"
#include "vog_tools.h"

namespace {

bool Read(const std::string& name, std::vector<uint8_t>& out) {
  return vogtest::ReadBytes(kvimagetest::FixturePath("image/yuv/" + name), out);
}

// A video extension: colorimetry, field order and gamma.
std::vector<uint8_t> Ext(int32_t colorimetry, int32_t fieldOrder = 0, double gamma = 0.0) {
  std::vector<uint8_t> e(64, 0);
  const uint32_t size = 64;
  std::memcpy(&e[0], &size, 4);
  std::memcpy(&e[4], &colorimetry, 4);
  std::memcpy(&e[12], &fieldOrder, 4);
  std::memcpy(&e[32], &gamma, 8);
  return e;
}

struct Bitmap {
  BITMAPINFOHEADER h;
  std::vector<uint8_t> bits;
  Bitmap(int32_t code, int w, int ht) {
    KvVideo_InitBitmapInfo(&h, code, w, ht, nullptr, 0, nullptr);
    bits.assign(KvDibGetStride(&h) * size_t(ht), 0);
  }
  // Row r from the top (the bitmap is bottom-up).
  const uint8_t* Row(int r) const { return &bits[size_t(h.biHeight - 1 - r) * KvDibGetStride(&h)]; }
  const float* RowF(int r) const { return reinterpret_cast<const float*>(Row(r)); }
};

BITMAPINFOHEADER YuvHeader(DWORD fourcc, int w, int h) {
  BITMAPINFOHEADER y = {};
  y.biSize = 40;
  y.biWidth = w;
  y.biHeight = h;
  y.biCompression = fourcc;
  return y;
}

HRESULT Convert(Bitmap& b, const BITMAPINFOHEADER& yh, const std::vector<uint8_t>& ext, const uint8_t* data, int s,
                double gamma = 0.0) {
  return KvYUV_YUVToRGB(&b.h, gamma, b.bits.data(), 0, &yh, ext.data(), data, nullptr, s, 0);
}

TEST(YuvFrame, FloatOutputMatchesFfmpeg) {
  struct Case {
    const char* in;
    const char* ref;
    DWORD fourcc;
    int w, h;
  } cases[] = {{"in.uyvy", "uyvy_bt601.gbrpf32", KVBI_UYVY, 64, 16}, {"in420.yuv", "in420.gbrpf32", KVBI_I420, 64, 36}};
  int checked = 0;
  for (const Case& c : cases) {
    std::vector<uint8_t> in, ref;
    if (!Read(c.in, in) || !Read(c.ref, ref)) continue;
    const float* g = reinterpret_cast<const float*>(ref.data());
    const float* planes[3] = {g + c.w * c.h, g, g + 2 * c.w * c.h};  // B, G, R
    Bitmap b(32, c.w, c.h);
    const auto ext = Ext(515);
    ASSERT_EQ(Convert(b, YuvHeader(c.fourcc, c.w, c.h), ext, in.data(), 0), S_OK);
    double worst = 0;
    for (int r = 0; r < c.h; ++r)
      for (int x = 0; x < c.w; ++x) {
        const float* px = b.RowF(r) + x * 4;
        EXPECT_EQ(px[3], 1.0f);
        for (int ch = 0; ch < 3; ++ch) {
          const float want = planes[ch][r * c.w + x];
          if (want <= 0.0f || want >= 1.0f) continue;  // ffmpeg clamps, these rules do not
          worst = std::fmax(worst, std::fabs(px[ch] - want));
        }
      }
    EXPECT_LT(worst, 1.0 / 255) << c.in;
    ++checked;
  }
  if (!checked) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
}

TEST(YuvFrame, EightBitEntriesAndReductions) {
  std::vector<uint8_t> uyvy;
  if (!Read("in.uyvy", uyvy)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  const int W = 64, H = 16;
  const auto ext = Ext(515);
  // "UYVY" same size is KvUYVY2RGBA, bottom-up.
  Bitmap a(28, W, H);
  ASSERT_EQ(Convert(a, YuvHeader(KVBI_UYVY, W, H), ext, uyvy.data(), 0), S_OK);
  std::vector<uint8_t> direct(W * H * 4);
  ASSERT_EQ(KvUYVY2RGBA(direct.data(), uyvy.data(), W * 4, W, H, 1), S_OK);
  for (int r = 0; r < H; ++r) ASSERT_EQ(0, std::memcmp(a.Row(r), &direct[r * W * 4], W * 4)) << r;
  // "YUYV" of the same samples: the float studio rule, within 1 of it.
  std::vector<uint8_t> yuyv(uyvy.size());
  for (size_t i = 0; i < uyvy.size(); i += 4) {
    yuyv[i] = uyvy[i + 1];
    yuyv[i + 1] = uyvy[i];
    yuyv[i + 2] = uyvy[i + 3];
    yuyv[i + 3] = uyvy[i + 2];
  }
  Bitmap y0(28, W, H);
  ASSERT_EQ(Convert(y0, YuvHeader(KVBI_YUYV, W, H), ext, yuyv.data(), 0), S_OK);
  for (int r = 0; r < H; ++r)
    for (int i = 0; i < W * 4; ++i) ASSERT_NEAR(y0.Row(r)[i], direct[r * W * 4 + i], 1) << r << " " << i;
  // Reductions sample the same-size result: pixel x of row r is pixel
  // x << s of row r << s.
  for (int s = 1; s <= 3; ++s) {
    for (const auto* src : {&uyvy, &yuyv}) {
      const DWORD fourcc = src == &uyvy ? KVBI_UYVY : KVBI_YUYV;
      Bitmap red(28, W >> s, H >> s);
      ASSERT_EQ(Convert(red, YuvHeader(fourcc, W, H), ext, src->data(), s), S_OK);
      for (int r = 0; r < (H >> s); ++r)
        for (int x = 0; x < (W >> s); ++x)
          ASSERT_EQ(0, std::memcmp(red.Row(r) + x * 4, y0.Row(r << s) + (x << s) * 4, 4)) << s << " " << x << "," << r;
    }
  }
  EXPECT_EQ(Convert(a, YuvHeader(KV_FOURCC('N', 'V', '1', '2'), W, H), ext, uyvy.data(), 0), E_FAIL);
  EXPECT_EQ(Convert(a, YuvHeader(KVBI_UYVY, W, H), ext, uyvy.data(), 4), E_FAIL);
}

TEST(YuvFrame, V210AndI420) {
  // v210 of Y10 = 940, U10 = V10 = 512: 235 at 8 bits, 1.0 as floats.
  std::vector<uint32_t> words(4 * 2);
  // Words: U Y V | Y U Y | V Y U | Y V Y.
  const uint32_t w0 = 512 | 940u << 10 | 512u << 20, w1 = 940 | 512u << 10 | 940u << 20;
  const uint32_t w2 = w0, w3 = w1;
  for (int g = 0; g < 2; ++g) {
    words[g * 4] = w0;
    words[g * 4 + 1] = w1;
    words[g * 4 + 2] = w2;
    words[g * 4 + 3] = w3;
  }
  const auto ext = Ext(-1);
  Bitmap b8(28, 6, 2), bf(32, 6, 2);
  const auto yh = YuvHeader(KVBI_V210, 6, 2);
  ASSERT_EQ(KvYUV_YUVToRGB(&b8.h, 0, b8.bits.data(), 0, &yh, ext.data(), reinterpret_cast<uint8_t*>(words.data()),
                           nullptr, 0, 0),
            S_OK);
  ASSERT_EQ(KvYUV_YUVToRGB(&bf.h, 0, bf.bits.data(), 0, &yh, ext.data(), reinterpret_cast<uint8_t*>(words.data()),
                           nullptr, 0, 0),
            S_OK);
  for (int x = 0; x < 6; ++x)
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_EQ(b8.Row(1)[x * 4 + ch], 235);
      EXPECT_FLOAT_EQ(bf.RowF(1)[x * 4 + ch], 1.0f);
    }
  // I420: same size and the two reductions are the 4:2:0 kernels, bottom-up;
  // the eighth samples chroma of the first field when interlaced.
  std::vector<uint8_t> raw;
  if (!Read("in420.yuv", raw)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  const int W = 64, H = 36;
  for (int fo : {0, 2}) {
    const auto e = Ext(515, fo);
    Bitmap full(28, W, H);
    ASSERT_EQ(Convert(full, YuvHeader(KVBI_I420, W, H), e, raw.data(), 0), S_OK);
    std::vector<uint8_t> direct(W * H * 4);
    ASSERT_EQ(KvYUV420ToRGBA(W, H, direct.data(), W * 4, raw.data(), W, raw.data() + W * H, W / 2,
                             raw.data() + W * H + W * H / 4, W / 2, fo, 515),
              S_OK);
    for (int r = 0; r < H; ++r) ASSERT_EQ(0, std::memcmp(full.Row(r), &direct[r * W * 4], W * 4)) << fo << " " << r;
    Bitmap eighth(28, W / 8, H / 8);
    ASSERT_EQ(Convert(eighth, YuvHeader(KVBI_I420, W, H), e, raw.data(), 3), S_OK);
    for (int r = 0; r < H / 8; ++r) {
      const int cr = (r << 2) & (fo ? ~1 : ~0);
      EXPECT_EQ(cr % 2, 0);
      const int Y = raw[(r * 8) * W], V = raw[W * H + W * H / 4 + cr * (W / 2)];
      EXPECT_NEAR(eighth.Row(r)[2], Y + 1.37070537 * (V - 128), 0.5 + 1e-4) << r;
    }
  }
}

TEST(YuvFrame, MatrixAndGammaDecisions) {
  float ratio = 0;
  EXPECT_FALSE(KvYUVGammaRatio(2.2222222222222223, 0.0, &ratio));
  EXPECT_TRUE(KvYUVGammaRatio(2.2222222222222223, 1.0, &ratio));
  EXPECT_NEAR(ratio, 2.2222222, 1e-6);
  EXPECT_TRUE(KvYUVGammaRatio(1.0, 2.2222222222222223, &ratio));
  EXPECT_NEAR(ratio, 0.45, 1e-6);
  EXPECT_TRUE(KvYUVGammaRatio(0.3, 5.0, &ratio));
  EXPECT_NEAR(ratio, 0.125, 1e-7);
  EXPECT_EQ(&KvYUVChooseMatrixFloat(-1, 1080), &KvYUVChooseMatrixFloat(516, 10));
  EXPECT_EQ(&KvYUVChooseMatrixFloat(-1, 576), &KvYUVChooseMatrixFloat(515, 2000));
  // A reduced conversion of a 1080-line frame tests the reduced height.
  std::vector<uint8_t> frame(4 * 1080 * 2);
  for (size_t i = 0; i < frame.size(); i += 4) {
    frame[i] = 200;
    frame[i + 1] = 100;
    frame[i + 2] = 60;
    frame[i + 3] = 100;
  }
  Bitmap q(28, 1, 270), q601(28, 1, 270), full(28, 4, 1080), full709(28, 4, 1080);
  const auto yh = YuvHeader(KVBI_YUYV, 4, 1080);
  std::vector<uint8_t> yuyv(frame.size());
  for (size_t i = 0; i < frame.size(); i += 4) {
    yuyv[i] = frame[i + 1];
    yuyv[i + 1] = frame[i];
    yuyv[i + 2] = frame[i + 3];
    yuyv[i + 3] = frame[i + 2];
  }
  ASSERT_EQ(Convert(q, yh, Ext(-1), yuyv.data(), 2), S_OK);
  ASSERT_EQ(Convert(q601, yh, Ext(515), yuyv.data(), 2), S_OK);
  EXPECT_EQ(0, std::memcmp(q.Row(0), q601.Row(0), 4));
  ASSERT_EQ(Convert(full, yh, Ext(-1), yuyv.data(), 0), S_OK);
  ASSERT_EQ(Convert(full709, yh, Ext(516), yuyv.data(), 0), S_OK);
  EXPECT_EQ(0, std::memcmp(full.Row(0), full709.Row(0), 16));
  EXPECT_NE(0, std::memcmp(full.Row(0), q601.Row(0), 4));
  // Float output with a curve: material at 2.2222 shown with gamma 1.0 is
  // linearised.
  Bitmap lin(32, 2, 1), plain(32, 2, 1);
  std::vector<uint8_t> grey = {126, 128, 126, 128};  // YUYV: Y = 126, no chroma
  const auto gh = YuvHeader(KVBI_YUYV, 2, 1);
  const auto e = Ext(515, 0, 2.2222222222222223);
  EXPECT_EQ(KvYUV_YUVToRGB(&plain.h, 0.0, plain.bits.data(), 0, &gh, e.data(), nullptr, nullptr, 0, 0), E_POINTER);
  ASSERT_EQ(KvYUV_YUVToRGB(&plain.h, 0.0, plain.bits.data(), 0, &gh, e.data(), grey.data(), nullptr, 0, 0), S_OK);
  ASSERT_EQ(KvYUV_YUVToRGB(&lin.h, 1.0, lin.bits.data(), 0, &gh, e.data(), grey.data(), nullptr, 0, 0), S_OK);
  const float p = plain.RowF(0)[0], l = lin.RowF(0)[0];
  EXPECT_NEAR(p, (126 - 16) / 219.0, 1e-5);
  KvGammaCurve c(2.2222222f);
  EXPECT_NEAR(l, c.Evaluate(p), 2e-3);
  EXPECT_LT(l, p);
}

}  // namespace
