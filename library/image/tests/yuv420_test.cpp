// Planar 4:2:0 and 4:2:2 to BGRA against ffmpeg (frames made at test time):
// full size directly, the reductions against block means of ffmpeg's full
// size output (the conversion is affine before clamping), the interlaced
// chroma pairing against the fields converted alone, and the edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"
#include "kvyuv420.h"
#include "vog_tools.h"

namespace {

const int kW = 64, kH = 36;

bool Read(const std::string& name, std::vector<uint8_t>& out) {
  return vogtest::ReadBytes(kvimagetest::FixturePath("image/yuv/" + name), out);
}

// ffmpeg's full-range output mapped to studio range (ours).
double Studio(uint8_t v) { return 16 + v * 219.0 / 255; }

typedef HRESULT(KVAPI* Converter)(int32_t, int32_t, BYTE*, int32_t, const BYTE*, int32_t, const BYTE*, int32_t,
                                  const BYTE*, int32_t, int32_t, int32_t);

struct Frame {
  std::vector<uint8_t> y, u, v;  // separate planes: reads past them are caught
  int w, h;
  Frame(const std::vector<uint8_t>& raw, int width, int height, int chromaRows)
      : y(raw.begin(), raw.begin() + width * height),
        u(raw.begin() + width * height, raw.begin() + width * height + width / 2 * chromaRows),
        v(raw.begin() + width * height + width / 2 * chromaRows,
          raw.begin() + width * height + width * chromaRows),
        w(width),
        h(height) {}
  std::vector<uint8_t> Convert(Converter f, int outW, int outH, int fieldOrder, int colorimetry = 515,
                               int height = -1) const {
    std::vector<uint8_t> out(size_t(outW) * outH * 4, 0);
    EXPECT_EQ(f(w, height < 0 ? h : height, out.data(), outW * 4, y.data(), w, u.data(), w / 2, v.data(), w / 2,
                fieldOrder, colorimetry),
              S_OK);
    return out;
  }
};

TEST(Yuv420, FullSizeAndReductionsMatchFfmpeg) {
  std::vector<uint8_t> raw, ref;
  if (!Read("in420.yuv", raw) || !Read("in420.bgra", ref)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  const Frame f(raw, kW, kH, kH / 2);
  const auto full = f.Convert(KvYUV420ToRGBA, kW, kH, 0);
  int worst = 0;
  for (int i = 0; i < kW * kH; ++i) {
    EXPECT_EQ(full[i * 4 + 3], 255);
    for (int c = 0; c < 3; ++c)
      worst = std::max(worst, int(std::lround(std::fabs(full[i * 4 + c] - Studio(ref[i * 4 + c])))));
  }
  EXPECT_LE(worst, 2);
  // Reductions: means of ffmpeg's pixels over each output's block.
  struct Case {
    Converter f;
    int bw, bh;
    const char* name;
  } cases[] = {{KvYUV420ToRGBA_HalfHorz, 2, 1, "half width"},
               {KvYUV420ToRGBA_Half_BlendFields, 2, 2, "half blend"},
               {KvYUV420ToRGBA_Half, 2, 2, "half"},
               {KvYUV420ToRGBA_QuarterHorz_HalfVert_BlendFields, 4, 2, "quarter width half height"},
               {KvYUV420ToRGBA_Quarter_BlendFields, 4, 4, "quarter blend"},
               {KvYUV420ToRGBA_Quarter, 4, 4, "quarter"}};
  for (const Case& c : cases) {
    const int ow = kW / c.bw, oh = kH / c.bh;
    const auto got = f.Convert(c.f, ow, oh, 0);
    int worstR = 0;
    for (int y = 0; y < oh; ++y)
      for (int x = 0; x < ow; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          double sum = 0;
          for (int r = 0; r < c.bh; ++r)
            for (int k = 0; k < c.bw; ++k) sum += Studio(ref[((y * c.bh + r) * kW + x * c.bw + k) * 4 + ch]);
          const double want = sum / (c.bw * c.bh);
          worstR = std::max(worstR, int(std::lround(std::fabs(got[(y * ow + x) * 4 + ch] - want))));
        }
    EXPECT_LE(worstR, 2) << c.name;
  }
}

// Interlaced material: each field is a 4:2:0 picture of its own (field 0 has
// luma rows 0, 2, 4 ... and chroma rows 0, 2, 4 ...). The frame converted as
// interlaced equals the fields converted alone; with an odd number of row
// pairs the last pair is converted progressively.
TEST(Yuv420, InterlacedChromaPairsWithinFields) {
  std::vector<uint8_t> raw;
  if (!Read("in420.yuv", raw)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  for (int h : {36, 34}) {
    const Frame f(raw, kW, h, h / 2);
    const auto inter = f.Convert(KvYUV420ToRGBA, kW, h, 1);
    const int fieldRows = (h / 2) % 2 ? h - 2 : h;  // rows in the paired groups
    for (int field = 0; field < 2; ++field) {
      std::vector<uint8_t> one(size_t(kW) * (fieldRows / 2) * 4);
      ASSERT_EQ(KvYUV420ToRGBA(kW, fieldRows / 2, one.data(), kW * 4, f.y.data() + field * kW, kW * 2,
                               f.u.data() + field * kW / 2, kW, f.v.data() + field * kW / 2, kW, 0, 515),
                S_OK);
      for (int r = 0; r < fieldRows / 2; ++r)
        ASSERT_EQ(0, std::memcmp(&inter[size_t(2 * r + field) * kW * 4], &one[size_t(r) * kW * 4], kW * 4))
            << "h " << h << " field " << field << " row " << r;
    }
    if (fieldRows != h) {
      const auto prog = f.Convert(KvYUV420ToRGBA, kW, h, 0);
      EXPECT_EQ(0, std::memcmp(&inter[size_t(h - 2) * kW * 4], &prog[size_t(h - 2) * kW * 4], 2 * kW * 4));
    }
    // The blends of interlaced frames read only existing chroma rows.
    f.Convert(KvYUV420ToRGBA_Half_BlendFields, kW / 2, h / 2, 2);
    f.Convert(KvYUV420ToRGBA_QuarterHorz_HalfVert_BlendFields, kW / 4, h / 2, 1);
    // One field: both field orders give the picture of the first line's field.
    if ((h / 2) % 2 == 0) {
      EXPECT_EQ(f.Convert(KvYUV420ToRGBA_Half, kW / 2, h / 2, 1), f.Convert(KvYUV420ToRGBA_Half, kW / 2, h / 2, 2));
    }
  }
}

TEST(Yuv420, Planar422MatchesFfmpeg) {
  std::vector<uint8_t> raw, ref;
  if (!Read("in422.yuv", raw) || !Read("in422.bgra", ref)) VOG_TOOL_MISSING("ffmpeg/Pillow/numpy") << "fixture missing";
  const Frame f(raw, kW, kH, kH);
  std::vector<uint8_t> out(kW * kH * 4);
  ASSERT_EQ(KvYUV422PlanarToRGBA(kW, kH, out.data(), kW * 4, f.y.data(), kW, f.u.data(), kW / 2, f.v.data(), kW / 2,
                                 515),
            S_OK);
  int worst = 0;
  for (int i = 0; i < kW * kH * 4; ++i)
    if (i % 4 != 3) worst = std::max(worst, int(std::lround(std::fabs(out[i] - Studio(ref[i])))));
  EXPECT_LE(worst, 2);
  EXPECT_EQ(KvYUV422PlanarToRGBA(3, 2, out.data(), 12, f.y.data(), 3, f.u.data(), 2, f.v.data(), 2, 0), E_INVALIDARG);
  EXPECT_EQ(KvYUV422PlanarToRGBA(4, 0, nullptr, 16, nullptr, 4, nullptr, 2, nullptr, 2, 0), S_OK);
}

TEST(Yuv420, EdgeCases) {
  std::vector<uint8_t> y(4, 235), u(1, 128), v(1, 128), out(16, 0);
  ASSERT_EQ(KvYUV420ToRGBA(2, 2, out.data(), 8, y.data(), 2, u.data(), 1, v.data(), 1, 0, 515), S_OK);
  EXPECT_EQ(out[0], 235);
  EXPECT_EQ(out[1], 235);
  EXPECT_EQ(out[2], 235);
  EXPECT_EQ(out[3], 255);
  y.assign(4, 16);
  v[0] = 255;
  ASSERT_EQ(KvYUV420ToRGBA(2, 2, out.data(), 8, y.data(), 2, u.data(), 1, v.data(), 1, 0, 515), S_OK);
  EXPECT_EQ(out[2], 190);
  // BT.709 from 720 lines when no colorimetry is stated; 515 forces BT.601.
  EXPECT_EQ(&KvYUVChooseMatrix(0, 1080), &KvYUVMatrixQ14_BT709);
  EXPECT_EQ(&KvYUVChooseMatrix(-1, 576), &KvYUVMatrixQ14_BT601);
  EXPECT_EQ(&KvYUVChooseMatrix(515, 1080), &KvYUVMatrixQ14_BT601);
  EXPECT_EQ(&KvYUVChooseMatrix(516, 576), &KvYUVMatrixQ14_BT709);
  // Size rules.
  std::vector<uint8_t> big(720 * 8 * 4);
  EXPECT_EQ(KvYUV420ToRGBA(719, 2, big.data(), 2876, big.data(), 719, big.data(), 360, big.data(), 360, 0, 0),
            E_INVALIDARG);
  EXPECT_EQ(KvYUV420ToRGBA_Quarter_BlendFields(8, 6, big.data(), 8, big.data(), 8, big.data(), 4, big.data(), 4, 0, 0),
            E_INVALIDARG);
  EXPECT_EQ(KvYUV420ToRGBA(0, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0), S_OK);
  EXPECT_EQ(KvYUV420ToRGBA(2, 2, nullptr, 8, y.data(), 2, u.data(), 1, v.data(), 1, 0, 0), E_POINTER);
}

}  // namespace
