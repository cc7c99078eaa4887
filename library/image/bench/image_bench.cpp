// Benchmarks of the image library on 1920 x 1080 frames: YUV to and from
// BGRA, bilinear and bicubic scaling, and the general copy through the
// pixel-format exchange. The row loops use OMP_NUM_THREADS threads (default:
// one a processor); times are wall-clock.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "kvbicubic.h"
#include "kvdibcopy.h"
#include "kvsubpixel.h"
#include "kvyuv420.h"
#include "kvyuvframe.h"
#include "kvyuvkernels.h"
#include "kvyuvpacked.h"

namespace {

const int kW = 1920, kH = 1080;

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t s = 12345;
  for (uint8_t& b : v) {
    s = s * 1103515245u + 12345u;
    b = uint8_t(64 + ((s >> 16) & 127));
  }
  return v;
}

void Frames(benchmark::State& state) { state.SetItemsProcessed(state.iterations()); }

// The header of a 1080p YUV frame of the given fourcc (and bit count, where
// the format names one).
BITMAPINFOHEADER YuvHeader(DWORD fourcc, WORD bitCount = 0) {
  BITMAPINFOHEADER yuv = {};
  yuv.biSize = 40;
  yuv.biWidth = kW;
  yuv.biHeight = kH;
  yuv.biBitCount = bitCount;
  yuv.biCompression = fourcc;
  return yuv;
}

// A frame through KvYUV_YUVToRGB, the parallel frame converter.
void YuvToBgra(benchmark::State& state, DWORD fourcc, size_t bytes) {
  BITMAPINFOHEADER dib, yuv = YuvHeader(fourcc);
  KvVideo_InitBitmapInfo(&dib, 28, kW, kH, nullptr, 0, nullptr);
  const auto src = Noise(bytes);
  std::vector<uint8_t> dst(kW * kH * 4);
  for (auto _ : state) {
    KvYUV_YUVToRGB(&dib, 0.0, dst.data(), 0, &yuv, nullptr, src.data(), nullptr, 0, 0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}
void BM_UYVYToBGRA(benchmark::State& state) { YuvToBgra(state, KVBI_UYVY, kW * kH * 2); }
void BM_I420ToBGRA(benchmark::State& state) { YuvToBgra(state, KVBI_I420, kW * kH * 3 / 2); }

// The 4:2:0 export itself, which converts on the calling thread.
void BM_I420ToBGRAExport(benchmark::State& state) {
  const auto src = Noise(kW * kH * 3 / 2);
  std::vector<uint8_t> dst(kW * kH * 4);
  for (auto _ : state) {
    KvYUV420ToRGBA(kW, kH, dst.data(), kW * 4, src.data(), kW, src.data() + kW * kH, kW / 2,
                   src.data() + kW * kH * 5 / 4, kW / 2, 0, 0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}

void BM_BGRAToI420(benchmark::State& state) {
  BITMAPINFOHEADER dib, yuv = YuvHeader(KVBI_I420);
  KvVideo_InitBitmapInfo(&dib, 28, kW, kH, nullptr, 0, nullptr);
  const auto src = Noise(kW * kH * 4);
  std::vector<uint8_t> dst(kW * kH * 3 / 2);
  for (auto _ : state) {
    KvYUV_RGBToYUV(&yuv, nullptr, dst.data(), nullptr, &dib, 0.0, src.data(), 0, 0, 0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}

void BM_BGRAToV210(benchmark::State& state) {
  BITMAPINFOHEADER dib, yuv = YuvHeader(KVBI_V210, 20);
  KvVideo_InitBitmapInfo(&dib, 28, kW, kH, nullptr, 0, nullptr);
  const auto src = Noise(kW * kH * 4);
  std::vector<uint8_t> dst(KvYUVImageBytesAndOffsets(&yuv, nullptr));
  for (auto _ : state) {
    KvYUV_RGBToYUV(&yuv, nullptr, dst.data(), nullptr, &dib, 0.0, src.data(), 0, 0, 0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}

// The v210 encoder's row kernel on one thread over a frame: plain and SSE2.
void V210Rows(benchmark::State& state, const KvYuvRowKernels& k) {
  const KvI420Weights w = {{0.2126f, 0.7152f, 0.0722f},
                           {-0.1146f, -0.3854f, 0.5f},
                           {0.5f, -0.4542f, -0.0458f},
                           1.0228310823440552f};
  const float dither[4] = {0.0f, 0.5f, 0.125f, 0.625f};
  const auto src = Noise(kW * kH * 4);
  const size_t pitch = (kW + 5) / 6 * 16;
  std::vector<uint8_t> dst(pitch * kH);
  for (auto _ : state) {
    for (int r = 0; r < kH; ++r) k.bgraToV210(dst.data() + pitch * r, src.data() + size_t(kW) * 4 * r, kW, w, dither);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}
void BM_BGRAToV210RowsPlain(benchmark::State& state) { V210Rows(state, KvYuvKernelsPlain()); }
void BM_BGRAToV210RowsSse2(benchmark::State& state) { V210Rows(state, KvYuvKernelsSse2()); }

void Scale(benchmark::State& state, bool bicubic, int dw, int dh, bool average) {
  const auto src = Noise(kW * kH * 4);
  std::vector<uint8_t> dst(size_t(dw) * dh * 4);
  const int32_t ss[2] = {kW, kH}, ds[2] = {dw, dh};
  static const int option = 1;
  for (auto _ : state) {
    (bicubic ? KvDibScale_BiCubic : KvDibScale_Bilinear)(dst.data(), ds, dw * 4, nullptr, src.data(), ss, kW * 4,
                                                         nullptr, 4, average ? &option : nullptr, 0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}
void BM_BilinearTo1280x720(benchmark::State& s) { Scale(s, false, 1280, 720, false); }
void BM_BilinearTo960x540(benchmark::State& s) { Scale(s, false, 960, 540, false); }
void BM_BoxTo480x270(benchmark::State& s) { Scale(s, false, 480, 270, true); }
void BM_BicubicTo2560x1440(benchmark::State& s) { Scale(s, true, 2560, 1440, false); }

void BM_DibCopy24To32(benchmark::State& state) {
  BITMAPINFOHEADER s, d;
  KvVideo_InitBitmapInfo(&s, 27, kW, kH, nullptr, 0, nullptr);
  KvVideo_InitBitmapInfo(&d, 28, kW, kH, nullptr, 0, nullptr);
  const auto src = Noise(kW * kH * 3);
  std::vector<uint8_t> dst(kW * kH * 4);
  for (auto _ : state) {
    KvDibCopy(&d, dst.data(), nullptr, 0, &s, src.data(), nullptr, 0, 0, 0.0, 0.0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}

void BM_DibCopy555To32Scaled(benchmark::State& state) {
  BITMAPINFOHEADER s, d;
  KvVideo_InitBitmapInfo(&s, 25, kW, kH, nullptr, 0, nullptr);
  KvVideo_InitBitmapInfo(&d, 28, 1280, 720, nullptr, 0, nullptr);
  const auto src = Noise(kW * kH * 2);
  std::vector<uint8_t> dst(1280 * 720 * 4);
  for (auto _ : state) {
    KvDibCopy(&d, dst.data(), nullptr, 0, &s, src.data(), nullptr, 0, 3, 0.0, 0.0);
    benchmark::DoNotOptimize(dst.data());
  }
  Frames(state);
}

BENCHMARK(BM_UYVYToBGRA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_I420ToBGRA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_I420ToBGRAExport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BGRAToI420)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BGRAToV210)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BGRAToV210RowsPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BGRAToV210RowsSse2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BilinearTo1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BilinearTo960x540)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BoxTo480x270)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BicubicTo2560x1440)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DibCopy24To32)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DibCopy555To32Scaled)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
