// The SSE2 twins against their plain kernels, the processor gate that picks
// them, the MMX-gated "YUYV" encoder against its floating-point form, and
// every parallel row loop giving the same bytes on one thread as on many.
#include <gtest/gtest.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kvbicubic.h"
#include "kvdibcopy.h"
#include "kvimagecpu.h"
#include "kvpixeltype.h"
#include "kvsubpixel.h"
#include "kvyuvframe.h"
#include "kvyuvkernels.h"
#include "kvyuvpacked.h"

namespace {

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = uint8_t(seed >> 24);
  }
  return v;
}

// A row buffer starting `misalign` bytes past a 16-byte boundary, with a
// guard band after it that must stay untouched.
struct Row {
  std::vector<uint8_t> store;
  size_t offset;
  size_t size;
  Row(size_t bytes, size_t misalign, uint32_t seed) : store(Random(bytes + 64, seed)), size(bytes) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(store.data());
    offset = ((16 - base % 16) % 16) + misalign;
  }
  uint8_t* data() { return store.data() + offset; }
};

struct Standard {
  const char* name;
  int32_t selector;
  const KvYUVMatrixQ14* matrix;
};
const Standard kStandards[] = {{"BT.601", 1, &KvYUVMatrixQ14_BT601}, {"BT.709", 2, &KvYUVMatrixQ14_BT709}};

// Runs one row kernel of both tables on the same input, input and output at
// every misalignment; widths cover every remainder of the eight-pixel steps,
// odd widths (the last pixel is left alone) and a full HD row.
void CompareTwins(
    const char* what, size_t inBytesPerPixel, size_t outBytesPerPixel,
    const std::function<void(const KvYuvRowKernels&, uint8_t*, uint8_t*, int32_t, const Standard&)>& run) {
  const KvYuvRowKernels& plain = KvYuvKernelsPlain();
  const KvYuvRowKernels& sse2 = KvYuvKernelsSse2();
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 41; ++w) widths.push_back(w);
  widths.push_back(1919);
  widths.push_back(1920);
  uint32_t seed = 1;
  for (const Standard& st : kStandards)
    for (int32_t w : widths)
      for (size_t mis : {0, 1, 3, 7, 13}) {
        Row in(size_t(w) * inBytesPerPixel + 8, mis, ++seed);
        Row a(size_t(w) * outBytesPerPixel, (mis * 5) % 16, ++seed), b = a;
        run(plain, a.data(), in.data(), w, st);
        run(sse2, b.data(), in.data(), w, st);
        ASSERT_EQ(a.store, b.store) << what << " " << st.name << " width " << w << " misaligned by " << mis;
      }
}

TEST(ImageSimd, UyvyToBgraTwinsAgree) {
  CompareTwins("UYVY to BGRA", 2, 4,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.uyvyToBgra(out, in, w, KvUyvyCoefficients(st.selector, 0));
               });
}

TEST(ImageSimd, BgraToUyvyTwinsAgree) {
  CompareTwins("BGRA to UYVY", 4, 2,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.bgraToUyvy(out, in, w, KvUyvyCoefficients(st.selector, 0));
               });
}

TEST(ImageSimd, UyvyToBgrTwinsAgree) {
  CompareTwins("UYVY to BGR", 2, 3,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.uyvyToBgr(out, in, w, KvUyvyCoefficients(st.selector, 0));
               });
}

TEST(ImageSimd, BgrToUyvyTwinsAgree) {
  CompareTwins("BGR to UYVY", 3, 2,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.bgrToUyvy(out, in, w, KvUyvyCoefficients(st.selector, 0));
               });
}

TEST(ImageSimd, PackedToBgraInFloatsTwinsAgree) {
  for (bool uyvy : {false, true})
    CompareTwins(uyvy ? "UYVY to BGRA in floats" : "YUYV to BGRA in floats", 2, 4,
                 [uyvy](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                   k.packedToBgra(out, in, w, uyvy, KvYUVChooseMatrixFloat(st.selector == 1 ? 515 : 516, 0).studio8);
                 });
}

TEST(ImageSimd, V210ToBgraInFloatsTwinsAgree) {
  // Input: whole groups of 16 bytes for every pixel the row touches.
  CompareTwins("v210 to BGRA in floats", 3, 4,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.v210ToBgra(out, in, w, KvYUVChooseMatrixFloat(st.selector == 1 ? 515 : 516, 0).studio10);
               });
}

TEST(ImageSimd, PointSampledToBgraTwinsAgree) {
  // Luma and chroma steps of the reductions: packed 4:2:2 at half, quarter
  // and eighth size (one step for all three), the planar eighth size, and
  // a luma step that is no multiple of the chroma one.
  struct Steps {
    int32_t y, c;
  };
  for (Steps st : {Steps{4, 4}, Steps{8, 8}, Steps{16, 16}, Steps{8, 4}, Steps{3, 5}})
    CompareTwins(("point-sampled to BGRA, steps " + std::to_string(st.y) + "/" + std::to_string(st.c)).c_str(), 16,
                 4, [st](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& s) {
                   // Three sample rows side by side: luma, then U and V one
                   // and two bytes further on.
                   k.sampledToBgra(out, in, in + 1, in + 2, w, st.y, st.c,
                                   KvYUVChooseMatrixFloat(s.selector == 1 ? 515 : 516, 0).studio8);
                 });
}

TEST(ImageSimd, BgraToYuyvFixedTwinsAgree) {
  CompareTwins("BGRA to YUYV, fixed", 4, 2,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.bgraToYuyvFixed(out, in, w, st.selector == 2);
               });
}

TEST(ImageSimd, PlanarToBgraTwinsAgree) {
  // Luma, then the chroma rows: w + 1 bytes of U and of V after it.
  CompareTwins("planar to BGRA", 2, 4,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.planarFull(out, in, in + w, in + w + (w + 1) / 2, w, *st.matrix);
               });
}

TEST(ImageSimd, PlanarHalfTwinsAgree) {
  // w output pixels: two luma rows of 2w, two chroma rows of w each.
  for (bool blend : {false, true})
    CompareTwins(blend ? "planar half blend" : "planar half width", 6, 4,
                 [blend](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                   k.planarHalf(out, in, in + 2 * w, in + 4 * w, in + 5 * w, in + 5 * w + 3, in + 4 * w + 1, w, blend,
                                *st.matrix);
                 });
}

TEST(ImageSimd, PlanarQuarterTwinsAgree) {
  // w output pixels: lumaRows luma rows of 4w, two U and two V rows of 2w,
  // all at different misalignments inside the input.
  for (int lumaRows : {2, 4})
    CompareTwins(lumaRows == 2 ? "planar quarter width, half height" : "planar quarter", 24, 4,
                 [lumaRows](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                   const uint8_t* y[4] = {in, in + 4 * w + 1, in + 8 * w + 2, in + 12 * w + 3};
                   const uint8_t* c = in + 16 * w + 4;
                   k.planarQuarter(out, y, lumaRows, c, c + 2 * w + 1, c + 4 * w + 2, c + 6 * w - 1, w, *st.matrix);
                 });
}

// The 8-bit "I420" encoder's weights (BT.601 and BT.709) and a dither row.
KvI420Weights EncoderWeights(const Standard& st) {
  if (st.selector == 1)
    return {
        {0.299f, 0.587f, 0.114f}, {-0.1687f, -0.3313f, 0.5f}, {0.5f, -0.4187f, -0.0813f}, 0.25f * 1.0228310823440552f};
  return {
      {0.2126f, 0.7152f, 0.0722f}, {-0.1146f, -0.3854f, 0.5f}, {0.5f, -0.4542f, -0.0458f}, 0.25f * 1.0228310823440552f};
}
const float kDitherRow[4] = {0.1875f, 0.6875f, 0.0625f, 0.5625f};

TEST(ImageSimd, BgraToLumaTwinsAgree) {
  CompareTwins("BGRA to luma", 4, 1,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.bgraToLuma(out, in, w, EncoderWeights(st), kDitherRow);
               });
}

TEST(ImageSimd, BgraToChromaTwinsAgree) {
  // w blocks: two BGRA rows of 2w pixels; U then V, w bytes each.
  CompareTwins("BGRA to chroma", 16, 2,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.bgraToChroma(out, out + w, in, in + int64_t(w) * 8, w, EncoderWeights(st), kDitherRow);
               });
}

// The 8-bit "v210" encoder's weights: chroma scaled by 224 / 219 only.
KvI420Weights V210Weights(const Standard& st) {
  KvI420Weights w = EncoderWeights(st);
  w.chromaScale = 1.0228310823440552f;
  return w;
}

TEST(ImageSimd, BgraToV210TwinsAgree) {
  // 16 bytes per group of six pixels: three per pixel, the band after the
  // row holding a partial last group's rest. The output starts as random
  // bytes, so the kept bits 30-31 of whole groups and the zeroed partial
  // group are compared too.
  CompareTwins("BGRA to v210", 4, 3,
               [](const KvYuvRowKernels& k, uint8_t* out, uint8_t* in, int32_t w, const Standard& st) {
                 k.bgraToV210(out, in, w, V210Weights(st), kDitherRow);
               });
}

// The extremes of every input byte, where the clamps and saturating packs
// work: all 0, all 255 and alternating.
TEST(ImageSimd, TwinsAgreeOnExtremes) {
  const KvYuvRowKernels& plain = KvYuvKernelsPlain();
  const KvYuvRowKernels& sse2 = KvYuvKernelsSse2();
  const int32_t w = 64;
  for (const Standard& st : kStandards)
    for (uint8_t lo : {0, 16, 235, 255})
      for (uint8_t hi : {0, 128, 240, 255}) {
        std::vector<uint8_t> in(size_t(w) * 4);
        for (size_t i = 0; i < in.size(); ++i) in[i] = (i % 3) ? lo : hi;
        std::vector<uint8_t> a(size_t(w) * 4, 7), b = a;
        const KvUyvyFixed& f = KvUyvyCoefficients(st.selector, 0);
        plain.uyvyToBgra(a.data(), in.data(), w, f);
        sse2.uyvyToBgra(b.data(), in.data(), w, f);
        EXPECT_EQ(a, b) << "UYVY " << int(lo) << "/" << int(hi);
        plain.bgraToUyvy(a.data(), in.data(), w, f);
        sse2.bgraToUyvy(b.data(), in.data(), w, f);
        EXPECT_EQ(a, b) << "BGRA " << int(lo) << "/" << int(hi);
        plain.planarFull(a.data(), in.data(), in.data() + w, in.data() + 2 * w, w, *st.matrix);
        sse2.planarFull(b.data(), in.data(), in.data() + w, in.data() + 2 * w, w, *st.matrix);
        EXPECT_EQ(a, b) << "planar " << int(lo) << "/" << int(hi);
        for (bool blend : {false, true}) {
          plain.planarHalf(a.data(), in.data(), in.data() + 64, in.data() + 128, in.data() + 160, in.data() + 192,
                           in.data() + 224, 24, blend, *st.matrix);
          sse2.planarHalf(b.data(), in.data(), in.data() + 64, in.data() + 128, in.data() + 160, in.data() + 192,
                          in.data() + 224, 24, blend, *st.matrix);
          EXPECT_EQ(a, b) << "half " << blend << " " << int(lo) << "/" << int(hi);
        }
        for (bool uyvy : {false, true}) {
          const float* k = KvYUVChooseMatrixFloat(st.selector == 1 ? 515 : 516, 0).studio8;
          plain.packedToBgra(a.data(), in.data(), w, uyvy, k);
          sse2.packedToBgra(b.data(), in.data(), w, uyvy, k);
          EXPECT_EQ(a, b) << "packed in floats " << uyvy << " " << int(lo) << "/" << int(hi);
        }
        {
          const float* k = KvYUVChooseMatrixFloat(st.selector == 1 ? 515 : 516, 0).studio10;
          plain.v210ToBgra(a.data(), in.data(), w, k);
          sse2.v210ToBgra(b.data(), in.data(), w, k);
          EXPECT_EQ(a, b) << "v210 " << int(lo) << "/" << int(hi);
        }
        plain.bgraToYuyvFixed(a.data(), in.data(), w, st.selector == 2);
        sse2.bgraToYuyvFixed(b.data(), in.data(), w, st.selector == 2);
        EXPECT_EQ(a, b) << "YUYV fixed " << int(lo) << "/" << int(hi);
        plain.uyvyToBgr(a.data(), in.data(), w, f);
        sse2.uyvyToBgr(b.data(), in.data(), w, f);
        EXPECT_EQ(a, b) << "UYVY to BGR " << int(lo) << "/" << int(hi);
        plain.bgrToUyvy(a.data(), in.data(), w, f);
        sse2.bgrToUyvy(b.data(), in.data(), w, f);
        EXPECT_EQ(a, b) << "BGR " << int(lo) << "/" << int(hi);
        for (int lumaRows : {2, 4}) {
          const uint8_t* y[4] = {in.data(), in.data() + 64, in.data() + 128, in.data() + 192};
          plain.planarQuarter(a.data(), y, lumaRows, in.data() + 5, in.data() + 37, in.data() + 70, in.data() + 99, 14,
                              *st.matrix);
          sse2.planarQuarter(b.data(), y, lumaRows, in.data() + 5, in.data() + 37, in.data() + 70, in.data() + 99, 14,
                             *st.matrix);
          EXPECT_EQ(a, b) << "quarter " << lumaRows << " " << int(lo) << "/" << int(hi);
        }
        plain.bgraToLuma(a.data(), in.data(), w, EncoderWeights(st), kDitherRow);
        sse2.bgraToLuma(b.data(), in.data(), w, EncoderWeights(st), kDitherRow);
        EXPECT_EQ(a, b) << "luma " << int(lo) << "/" << int(hi);
        plain.bgraToChroma(a.data(), a.data() + w / 4, in.data(), in.data() + w * 2, w / 4, EncoderWeights(st),
                           kDitherRow);
        sse2.bgraToChroma(b.data(), b.data() + w / 4, in.data(), in.data() + w * 2, w / 4, EncoderWeights(st),
                          kDitherRow);
        EXPECT_EQ(a, b) << "chroma " << int(lo) << "/" << int(hi);
        plain.bgraToV210(a.data(), in.data(), w, V210Weights(st), kDitherRow);
        sse2.bgraToV210(b.data(), in.data(), w, V210Weights(st), kDitherRow);
        EXPECT_EQ(a, b) << "v210 encoder " << int(lo) << "/" << int(hi);
      }
}

// The table in use follows the processor query: with SSE2 disallowed the
// query picks the plain kernels.
TEST(ImageSimd, DisallowingSse2PicksThePlainKernels) {
  const bool hasSse2 = (KvImageCpu_GetSupport(KVCPU_SSE2) & KVCPU_SSE2) != 0;
  EXPECT_EQ(&KvYuvKernelsFor(KvImageCpu_GetSupport(KVCPU_SSE2)), hasSse2 ? &KvYuvKernelsSse2() : &KvYuvKernelsPlain());
  KvImageCpu_Disallow(KVCPU_SSE2);
  EXPECT_EQ(KvImageCpu_GetSupport(KVCPU_SSE2) & KVCPU_SSE2, 0u);
  EXPECT_EQ(&KvYuvKernelsFor(KvImageCpu_GetSupport(KVCPU_SSE2)), &KvYuvKernelsPlain());
  KvImageCpu_AllowAll();
  EXPECT_EQ(KvImageCpu_GetSupport(KVCPU_SSE2) & KVCPU_SSE2, hasSse2 ? DWORD(KVCPU_SSE2) : 0u);
}

// The bilinear scaler's interior rows of 8-bit pixels: the driver picks the
// SSE2 kernel or the plain one from the processor query on every call, so the
// same call with SSE2 allowed and disallowed must give the same bytes. Odd
// sizes, rows misaligned by their start and by a stride that is not a
// multiple of 16, fractional rectangles (blended edges), reductions taken by
// the enlarging path, and blending on and off.
TEST(ImageSimd, BilinearInteriorRowsTwinsAgree) {
  struct Case {
    int32_t sw, sh, dw, dh;
    RECT dst;  // 18.14; all zero: the whole bitmap
    int32_t noBlend;
  } cases[] = {
      {97, 61, 301, 203, {3 * 16384 + 5000, 2 * 16384 + 7000, 298 * 16384 - 3000, 202 * 16384 - 9000}, 0},
      {97, 61, 301, 203, {3 * 16384 + 5000, 2 * 16384 + 7000, 298 * 16384 - 3000, 202 * 16384 - 9000}, 1},
      {301, 203, 97, 61, {0, 0, 0, 0}, 0},
      {1920, 9, 961, 7, {0, 0, 0, 0}, 0},
      {5, 5, 3, 9, {0, 0, 0, 0}, 0},
      {2, 3, 7, 11, {16384 / 3, 0, 6 * 16384 + 77, 11 * 16384}, 0},
      {33, 17, 40, 17, {0, 0, 0, 0}, 1},
  };
  const bool hasSse2 = (KvImageCpu_GetSupport(KVCPU_SSE2) & KVCPU_SSE2) != 0;
  if (!hasSse2) GTEST_SKIP() << "no SSE2";
  uint32_t seed = 40;
  for (const Case& c : cases)
    for (size_t mis : {0, 4, 9}) {
      const int32_t srcStride = c.sw * 4 + 12, dstStride = c.dw * 4 + 20;
      Row src(size_t(srcStride) * c.sh, mis, ++seed);
      Row a(size_t(dstStride) * c.dh, (mis * 3) % 16, ++seed), b = a;
      const int32_t ss[2] = {c.sw, c.sh}, ds[2] = {c.dw, c.dh};
      const RECT* r = c.dst.right ? &c.dst : nullptr;
      ASSERT_EQ(KvDibScale_BilinearSubPixel(a.data(), ds, dstStride, r, src.data(), ss, srcStride, nullptr, 4, nullptr,
                                            c.noBlend),
                S_OK);
      KvImageCpu_Disallow(KVCPU_SSE2);
      const HRESULT hr = KvDibScale_BilinearSubPixel(b.data(), ds, dstStride, r, src.data(), ss, srcStride, nullptr, 4,
                                                     nullptr, c.noBlend);
      KvImageCpu_AllowAll();
      ASSERT_EQ(hr, S_OK);
      EXPECT_TRUE(a.store == b.store) << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " noBlend "
                                      << c.noBlend << " misaligned by " << mis;
    }
}

// --- The 8-bit "YUYV" encoder: integer form with MMX, float form without ----

struct Frame {
  BITMAPINFOHEADER dib{}, yuv{};
  std::vector<uint8_t> bits, out;
  Frame(DWORD fourcc, int32_t w, int32_t h, int32_t dibCode, uint32_t seed) {
    KvVideo_InitBitmapInfo(&dib, dibCode, w, h, nullptr, 0, nullptr);
    yuv.biSize = sizeof(yuv);
    yuv.biWidth = w;
    yuv.biHeight = h;
    yuv.biCompression = fourcc;
    yuv.biBitCount = fourcc == KVBI_I420 ? 12 : fourcc == KVBI_V210 ? 20 : 16;
    bits = Random(size_t(KvDibGetStride(&dib)) * h, seed);
    if (dibCode == KVPT_RGBAF128) {
      // Floats in 0..1 (with a few outside) rather than random bit patterns.
      float* f = reinterpret_cast<float*>(bits.data());
      for (size_t i = 0; i < bits.size() / 4; ++i) f[i] = float(int(bits[i] % 200) - 20) / 160.0f;
    }
    KvYUVPlaneLayout layout;
    out.assign(KvYUVImageBytesAndOffsets(&yuv, &layout) + 64, 0);
  }
};

TEST(ImageYuyvEncoder, FloatFormAgreesWithTheIntegerForm) {
  for (int32_t h : {480, 720}) {  // BT.601 and BT.709 by height
    Frame integer(KVBI_YUYV, 64, h, KVPT_RGB32, 5), floating = integer;
    ASSERT_EQ(KvYUV_RGBToYUV(&integer.yuv, nullptr, integer.out.data(), nullptr, &integer.dib, 0.0, integer.bits.data(),
                             0, 0, 0),
              S_OK);
    KvImageCpu_Disallow(KVCPU_MMX);
    const HRESULT hr = KvYUV_RGBToYUV(&floating.yuv, nullptr, floating.out.data(), nullptr, &floating.dib, 0.0,
                                      floating.bits.data(), 0, 0, 0);
    KvImageCpu_AllowAll();
    ASSERT_EQ(hr, S_OK);
    int maxDiff = 0, differing = 0;
    for (size_t i = 0; i < integer.out.size(); ++i) {
      const int d = std::abs(int(integer.out[i]) - int(floating.out[i]));
      maxDiff = d > maxDiff ? d : maxDiff;
      differing += d != 0;
    }
    // The two forms round differently (truncating shifts against rounding to
    // nearest) but agree to one step; most values are equal.
    EXPECT_LE(maxDiff, 1) << "height " << h;
    EXPECT_LT(differing, int(integer.out.size() / 2)) << "height " << h;
  }
}

TEST(ImageYuyvEncoder, FloatFormValues) {
  struct Case {
    uint8_t b, g, r;
    int32_t height;
    uint8_t y, u, v;
  } cases[] = {
      {255, 255, 255, 480, 255, 128, 128},                                 // white: full luma, neutral chroma
      {0, 0, 0, 720, 0, 128, 128},         {0, 0, 255, 480, 76, 83, 255},  // red, BT.601: Y 76.245, V above 255 clamps
      {255, 0, 0, 720, 18, 255, 116},                                      // blue, BT.709: Y 18.3855, U 255.67 clamps
      {40, 200, 90, 480, 149, 63, 84},                                     // Y 148.87, U 62.6, V 84.2
      {40, 200, 90, 720, 165, 61, 80},                                     // Y 165.089, U 61.3, V 79.8
  };
  for (const Case& c : cases) {
    Frame f(KVBI_YUYV, 2, c.height, KVPT_RGB32, 1);
    for (size_t i = 0; i + 3 < f.bits.size(); i += 4) {
      f.bits[i] = c.b;
      f.bits[i + 1] = c.g;
      f.bits[i + 2] = c.r;
    }
    KvImageCpu_Disallow(KVCPU_MMX);
    const HRESULT hr = KvYUV_RGBToYUV(&f.yuv, nullptr, f.out.data(), nullptr, &f.dib, 0.0, f.bits.data(), 0, 0, 0);
    KvImageCpu_AllowAll();
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(f.out[0], c.y) << int(c.b) << "," << int(c.g) << "," << int(c.r);
    EXPECT_EQ(f.out[1], c.u) << int(c.b) << "," << int(c.g) << "," << int(c.r);
    EXPECT_EQ(f.out[2], c.y);
    EXPECT_EQ(f.out[3], c.v) << int(c.b) << "," << int(c.g) << "," << int(c.r);
  }
}

// --- One thread and many give the same bytes ---------------------------------

void SetThreads(int n) {
#ifdef _OPENMP
  omp_set_num_threads(n);
#else
  (void)n;
#endif
}

// The default: one thread a processor.
int AllThreads() {
#ifdef _OPENMP
  return omp_get_num_procs();
#else
  return 1;
#endif
}

// Every parallel row loop, each as one conversion giving one output buffer.
struct Conversion {
  std::string name;
  std::function<std::vector<uint8_t>()> run;
};

std::vector<uint8_t> ToRgb(DWORD fourcc, int32_t code, int32_t shift, int32_t fieldOrder, double extGamma) {
  const int32_t w = 388, h = 60;  // not a multiple of 8 (nor of 6 for v210) wide
  Frame f(fourcc, w, h, code, 11);
  std::vector<uint8_t> yuv = Random(f.out.size(), 12);
  BITMAPINFOHEADER dib;
  KvVideo_InitBitmapInfo(&dib, code, w >> shift, h >> shift, nullptr, 0, nullptr);
  std::vector<uint8_t> out(size_t(KvDibGetStride(&dib)) * (h >> shift), 0);
  std::vector<uint8_t> ext(64, 0);
  const int32_t colorimetry = -1;
  std::memcpy(&ext[4], &colorimetry, 4);
  std::memcpy(&ext[12], &fieldOrder, 4);
  std::memcpy(&ext[32], &extGamma, 8);
  if (KvYUV_YUVToRGB(&dib, 1.0, out.data(), 0, &f.yuv, ext.data(), yuv.data(), nullptr, shift, 0) != S_OK) out.clear();
  return out;
}

std::vector<uint8_t> ToYuv(DWORD fourcc, int32_t code, int32_t fieldOrder, double extGamma) {
  Frame f(fourcc, 388, 62, code, 13);
  std::vector<uint8_t> ext(64, 0);
  std::memcpy(&ext[12], &fieldOrder, 4);
  std::memcpy(&ext[32], &extGamma, 8);
  if (KvYUV_RGBToYUV(&f.yuv, ext.data(), f.out.data(), nullptr, &f.dib, 1.0, f.bits.data(), 0, 0, 0) != S_OK)
    f.out.clear();
  return f.out;
}

std::vector<uint8_t> Scaled(bool bicubic, int32_t bytes, int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
  std::vector<uint8_t> src = Random(size_t(sw) * sh * bytes, 21);
  if (bytes == 16) {
    float* f = reinterpret_cast<float*>(src.data());
    for (size_t i = 0; i < src.size() / 4; ++i) f[i] = float(src[i]) / 255.0f;
  }
  std::vector<uint8_t> dst = Random(size_t(dw) * dh * bytes, 22);
  const int32_t ss[2] = {sw, sh}, ds[2] = {dw, dh};
  // A destination rectangle with fractional edges, so the first and last rows
  // blend.
  const RECT r = {3 * 16384 + 5000, 2 * 16384 + 7000, (dw - 2) * 16384 - 3000, (dh - 1) * 16384 - 9000};
  const HRESULT hr = (bicubic ? KvDibScale_BiCubicSubPixel : KvDibScale_BilinearSubPixel)(
      dst.data(), ds, dw * bytes, &r, src.data(), ss, sw * bytes, nullptr, bytes, nullptr, 0);
  if (hr != S_OK) dst.clear();
  return dst;
}

std::vector<uint8_t> Copied(int32_t srcCode, int32_t dstCode, uint32_t flags, double gamma) {
  BITMAPINFOHEADER s, d;
  KvVideo_InitBitmapInfo(&s, srcCode, 333, 171, nullptr, 0, nullptr);
  KvVideo_InitBitmapInfo(&d, dstCode, 333, 171, nullptr, 0, nullptr);
  std::vector<uint8_t> src = Random(KvDibGetStride(&s) * 171, 31);
  if (srcCode == KVPT_RGBAF128) {
    float* f = reinterpret_cast<float*>(src.data());
    for (size_t i = 0; i < src.size() / 4; ++i) f[i] = float(src[i]) / 250.0f;
  }
  std::vector<uint8_t> dst(KvDibGetStride(&d) * 171, 0);
  if (FAILED(KvDibCopy(&d, dst.data(), nullptr, 0, &s, src.data(), nullptr, 0, flags, gamma, 1.0))) dst.clear();
  return dst;
}

std::vector<Conversion> AllConversions() {
  std::vector<Conversion> c;
  const struct {
    const char* name;
    DWORD fourcc;
  } layouts[] = {{"UYVY", KVBI_UYVY}, {"YUYV", KVBI_YUYV}, {"v210", KVBI_V210}, {"I420", KVBI_I420}};
  for (const auto& l : layouts) {
    for (int32_t shift = 0; shift <= 3; ++shift)
      for (int32_t code : {KVPT_RGB32, KVPT_RGBAF128})
        for (int32_t fo : {0, 2}) {
          const DWORD fourcc = l.fourcc;
          c.push_back({std::string("to RGB ") + l.name + " shift " + std::to_string(shift) + " pixel type " +
                           std::to_string(code) + " field order " + std::to_string(fo),
                       [=] { return ToRgb(fourcc, code, shift, fo, code == KVPT_RGBAF128 ? 2.2 : 0.0); }});
        }
    for (int32_t code : {KVPT_RGB32, KVPT_RGBAF128})
      for (int32_t fo : {0, 1}) {
        const DWORD fourcc = l.fourcc;
        c.push_back({std::string("to YUV ") + l.name + " pixel type " + std::to_string(code) + " field order " +
                         std::to_string(fo),
                     [=] { return ToYuv(fourcc, code, fo, code == KVPT_RGBAF128 ? 1.8 : 0.0); }});
      }
  }
  for (bool bicubic : {false, true})
    for (int32_t bytes : {4, 16}) {
      const std::string kind = std::string(bicubic ? "bicubic" : "bilinear") + (bytes == 4 ? " 8-bit" : " float");
      c.push_back({kind + " enlarged", [=] { return Scaled(bicubic, bytes, 97, 61, 301, 203); }});
      c.push_back({kind + " reduced", [=] { return Scaled(bicubic, bytes, 301, 203, 97, 61); }});
    }
  c.push_back({"copy 24 to 32", [] { return Copied(KVPT_RGB24, KVPT_RGB32, 0, 0.0); }});
  c.push_back({"copy float to 32 dithered", [] { return Copied(KVPT_RGBAF128, KVPT_RGB32, 3, 0.0); }});
  c.push_back({"copy float to 32 with gamma", [] { return Copied(KVPT_RGBAF128, KVPT_RGB32, 0, 2.2); }});
  c.push_back({"copy 32 to float with gamma", [] { return Copied(KVPT_RGB32, KVPT_RGBAF128, 0, 2.2); }});
  return c;
}

TEST(ImageParallel, OneThreadAndManyGiveTheSameBytes) {
  for (const Conversion& conv : AllConversions()) {
    SetThreads(1);
    const std::vector<uint8_t> one = conv.run();
    SetThreads(3);  // rows split unevenly
    const std::vector<uint8_t> three = conv.run();
    SetThreads(AllThreads());
    const std::vector<uint8_t> all = conv.run();
    ASSERT_FALSE(one.empty()) << conv.name;
    EXPECT_TRUE(one == three) << conv.name << ": 1 and 3 threads differ";
    EXPECT_TRUE(one == all) << conv.name << ": 1 thread and the default differ";
  }
  SetThreads(AllThreads());
}

}  // namespace
