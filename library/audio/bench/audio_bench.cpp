// Benchmarks of the audio kernels on the render road: sample conversion
// (generic and processor-specific), channel average, resampling and IIR
// filtering, per block of 4096 frames.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "kvconvert.h"
#include "kviir.h"
#include "kvresample.h"

namespace {

std::vector<float> Sine(size_t n) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(0.7 * std::sin(0.01 * static_cast<double>(i)));
  return v;
}

void Convert(benchmark::State& state, tKvAudioCopyFunc f, size_t srcBytes, size_t dstBytes) {
  const size_t n = 8192;
  std::vector<float> s = Sine(n * 2);
  std::vector<uint8_t> src(n * srcBytes), dst(n * dstBytes);
  std::memcpy(src.data(), s.data(), std::min(src.size(), s.size() * 4));
  for (auto _ : state) {
    f(dst.data(), src.data(), static_cast<int32_t>(n), 1.0f);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_S16FromFloat_Generic(benchmark::State& s) { Convert(s, KvConvert_Generic(KVST_S16, KVST_FLOAT), 4, 2); }
void BM_S16FromFloat_Sse(benchmark::State& s) { Convert(s, KvCvt_F32ToS16_Sse, 4, 2); }
void BM_FloatFromS16_Generic(benchmark::State& s) { Convert(s, KvConvert_Generic(KVST_FLOAT, KVST_S16), 2, 4); }
void BM_FloatFromS16_Sse2(benchmark::State& s) { Convert(s, KvCvt_S16ToF32_Sse2, 2, 4); }
void BM_FloatFromS24_Generic(benchmark::State& s) { Convert(s, KvConvert_Generic(KVST_FLOAT, KVST_S24), 3, 4); }
BENCHMARK(BM_S16FromFloat_Generic);
BENCHMARK(BM_S16FromFloat_Sse);
BENCHMARK(BM_FloatFromS16_Generic);
BENCHMARK(BM_FloatFromS16_Sse2);
BENCHMARK(BM_FloatFromS24_Generic);

void BM_Resample(benchmark::State& state, KVSAMPLETYPE type, DWORD flags) {
  const int32_t frames = 4096;
  std::vector<uint8_t> src(frames * 2 * 8, 0), dst(frames * 3 * 8);
  tKVRESAMPLEINSTANCE* rs = nullptr;
  KvAudio_ResampleOpen(&rs, type, 44100, 48000, 2, flags);
  for (auto _ : state) benchmark::DoNotOptimize(KvAudio_ResampleEx(rs, dst.data(), src.data(), frames));
  KvAudio_ResampleClose(rs);
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK_CAPTURE(BM_Resample, float_linear, KVST_FLOAT, 2);
BENCHMARK_CAPTURE(BM_Resample, s16_linear, KVST_S16, 2);
BENCHMARK_CAPTURE(BM_Resample, float_sinc, KVST_FLOAT, 3);

void BM_IIR(benchmark::State& state) {
  CKvIIR iir;
  iir.Design(KVIIR_LOWPASS, KVIIR_CHEBYSHEV, 6, 0.2, 1, 0, 2, 0);
  std::vector<double> buf(4096 * 2, 0.1);
  for (auto _ : state) iir.ProcessDouble(buf.data(), buf.data(), 4096, 3);
  state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_IIR);

void BM_ChannelAverage(benchmark::State& state) {
  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 48000, KVST_FLOAT, 6);
  std::vector<float> src(4096 * 6, 0.25f), dst(4096);
  for (auto _ : state) KvAudio_ChannelChangeAvg(dst.data(), 1, src.data(), &w, 4096);
  state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_ChannelAverage);

}  // namespace
