// Benchmarks of the encoder's per-frame kernels: the MDCT of a long frame and
// of the eight windows of a short frame, block switching of one channel, and
// sectioning plus writing of one quantised long frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "aac_writer.h"
#include "aactables.h"
#include "bit_buf.h"
#include "block_switch.h"
#include "transform.h"

namespace {

std::vector<float> Noise(size_t n) {
  std::mt19937 rng(5);
  std::normal_distribution<float> d(0.0f, 3000.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng);
  return v;
}

void BM_TransformLong(benchmark::State& state) {
  TransformObject* t = nullptr;
  transformCreate(&t);
  std::vector<float> x = Noise(2048), y(1024);
  for (auto _ : state) {
    Transform(t, x.data(), y.data(), kOnlyLongSequence, kKbdWindow, kKbdWindow);
    benchmark::DoNotOptimize(y.data());
  }
  transformDelete(&t);
  state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_TransformLong);

void BM_TransformEightShort(benchmark::State& state) {
  TransformObject* t = nullptr;
  transformCreate(&t);
  std::vector<float> x = Noise(2048), y(1024);
  for (auto _ : state) {
    for (int w = 0; w < 8; ++w)
      Transform(t, &x[448 + 128 * w], &y[128 * w], kEightShortSequence, kSineWindow, kSineWindow);
    benchmark::DoNotOptimize(y.data());
  }
  transformDelete(&t);
  state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_TransformEightShort);

void BM_BlockSwitching(benchmark::State& state) {
  std::vector<float> x = Noise(1024);
  BlockSwitchingControl s;
  InitBlockSwitching(&s, 128000, 2);
  s.timeSignal = x.data();
  for (auto _ : state) {
    BlockSwitching(&s, 0);
    benchmark::DoNotOptimize(s.nextwindowSequence);
  }
  state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_BlockSwitching);

void BM_SectionAndWriteLongFrame(benchmark::State& state) {
  AacIcs ics;
  std::memset(&ics, 0, sizeof(ics));
  ics.samplingRateIndex = 4;
  ics.windowShape = 1;
  ics.maxSfb = 49;
  ics.numWindowGroups = 1;
  ics.windowGroupLength[0] = 1;
  std::mt19937 rng(3);
  // A typical spectrum: values falling from about 20 to 0 over the bands.
  for (int i = 0; i < 1024; ++i) {
    const int range = std::max(0, 20 - i / 40);
    ics.quant[i] = static_cast<int16_t>(range ? static_cast<int>(rng() % (2 * range + 1)) - range : 0);
  }
  for (int k = 0; k < 49; ++k) ics.scalefactor[0][k] = 100;
  bit_buf* b = CreateBitBuffer(6144 * 2);
  for (auto _ : state) {
    aacSectionChannel(&ics);
    const int32_t bits = aacWriteSingleChannelElement(b, 0, &ics);
    ReadBits(b, 0);
    SeekReadPosition(b, bits);
    benchmark::DoNotOptimize(bits);
  }
  DeleteBitBuffer(b);
  state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_SectionAndWriteLongFrame);

}  // namespace
