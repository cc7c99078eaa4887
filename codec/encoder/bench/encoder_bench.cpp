// Benchmarks of the encoder's per-frame kernels: the MDCT of a long frame and
// of the eight windows of a short frame, block switching of one channel, and
// sectioning plus writing of one quantised long frame; and the whole encoder
// through its interface on 10 s of stereo music-like input at 128 kbit/s
// (items per second = seconds of audio per second).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "aac_writer.h"
#include "aactables.h"
#include "bit_buf.h"
#include "block_switch.h"
#include "mp4enc.h"
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

namespace {

void BM_EncodeStereo128k(benchmark::State& state) {
  const int32_t rate = 44100, seconds = 10;
  std::vector<float> x(static_cast<size_t>(rate) * seconds * 2);
  std::mt19937 rng(9);
  std::normal_distribution<float> noise(0.0f, 0.003f);
  for (size_t i = 0; i < x.size() / 2; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double env = std::exp(-4.0 * std::fmod(t, 0.25));
    const double v = env * (0.3 * std::sin(2 * 3.14159265 * 220 * t) + 0.1 * std::sin(2 * 3.14159265 * 660 * t));
    x[2 * i] = static_cast<float>(0.7 * v) + noise(rng);
    x[2 * i + 1] = static_cast<float>(0.4 * v) + noise(rng);
  }
  std::vector<uint8_t> out(30 * 1536);
  for (auto _ : state) {
    const mp4EncConfig cfg = {2, 128000, 1, 2, rate, 0, 1};
    mp4EncHandle h = nullptr;
    int32_t frame = 0;
    if (mp4EncOpen(&h, &cfg) || mp4EncInit(&h, &frame)) {
      state.SkipWithError("encoder did not open");
      mp4EncClose(&h);
      return;
    }
    size_t pos = 0;
    while (pos < x.size()) {
      int32_t consumed = 0, next = 0, bytes = 0;
      mp4EncUnits* units = nullptr;
      const int32_t n = static_cast<int32_t>(std::min<size_t>(x.size() - pos, 16 * 2048));
      mp4EncEncode(h, x.data() + pos, n, &consumed, &next, out.data(), static_cast<int32_t>(out.size()), &bytes,
                   &units);
      if (consumed <= 0) break;
      pos += consumed;
    }
    mp4EncClose(&h);
  }
  state.SetItemsProcessed(state.iterations() * seconds);
}
BENCHMARK(BM_EncodeStereo128k)->Unit(benchmark::kMillisecond);

}  // namespace
