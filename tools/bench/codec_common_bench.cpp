// Codec runtime benchmarks: the DCT-IV of the decoder's long and short
// blocks, the complex FFTs behind it, and the vector routines through the
// generic routines and through the kernels installed for this processor.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "cfftn.h"
#include "fixedfft.h"
#include "nyx_dct.h"
#include "vecmath.h"

namespace {

// 16-byte-aligned float arrays, so the packed kernels run.
struct Aligned {
  std::vector<float> raw;
  float* p;
  explicit Aligned(size_t n) : raw(n + 4) {
    uintptr_t a = reinterpret_cast<uintptr_t>(raw.data());
    p = reinterpret_cast<float*>((a + 15) & ~uintptr_t{15});
    for (size_t i = 0; i < n; ++i) p[i] = std::sin(0.013f * i) * 20000.0f;
  }
};

void BM_Dct(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  DctHandle* h = nullptr;
  createDct(&h, n);
  Aligned in(n), out(n);
  for (auto _ : state) {
    runDct(h, in.p, out.p);
    benchmark::DoNotOptimize(out.p[0]);
  }
  state.SetItemsProcessed(state.iterations() * n);
  deleteDct(&h);
}
BENCHMARK(BM_Dct)->Arg(1024)->Arg(128)->Arg(960)->Arg(120);

void BM_CfftnInterleaved(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Aligned d(2 * n);
  for (auto _ : state) {
    cfftnInterleaved(d.p, n, -1);
    benchmark::DoNotOptimize(d.p[0]);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CfftnInterleaved)->Arg(512)->Arg(64)->Arg(480);

void BM_FixedFft(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Aligned d(2 * n);
  for (auto _ : state) {
    fixedSizeFft(d.p, n);
    benchmark::DoNotOptimize(d.p[0]);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FixedFft)->Arg(32)->Arg(480);

// Vector routines on 2048 elements; argument 0 = generic, 1 = installed kernels.
constexpr int kN = 2048;

void install(benchmark::State& state) {
  if (state.range(0) == 0) {
    vecMathInstall(false, false);
    state.SetLabel("generic");
  } else {
    VecMathInit();
    state.SetLabel("installed");
  }
}

#define VEC_BENCH(name, call)                             \
  void BM_##name(benchmark::State& state) {               \
    install(state);                                       \
    Aligned x(2 * kN), y(2 * kN), z(2 * kN);              \
    alignas(16) static int32_t zia[kN];                   \
    alignas(16) static int16_t zsa[kN];                   \
    (void)zia;                                            \
    (void)zsa;                                            \
    for (auto _ : state) {                                \
      call;                                               \
      benchmark::ClobberMemory();                         \
    }                                                     \
    state.SetItemsProcessed(state.iterations() * kN);     \
  }                                                       \
  BENCHMARK(BM_##name)->Arg(0)->Arg(1);

VEC_BENCH(vecCopy, vecCopy(x.p, z.p, kN))
VEC_BENCH(vecAdd, vecAdd(x.p, y.p, z.p, kN))
VEC_BENCH(vecMul, vecMul(x.p, y.p, z.p, kN))
VEC_BENCH(vecScale, vecScale(0.5f, x.p, z.p, kN))
VEC_BENCH(vecFill, vecFill(0.25f, z.p, kN))
VEC_BENCH(vecClip, vecClip(-100.0f, 100.0f, x.p, z.p, kN))
VEC_BENCH(vecMax, vecMax(x.p, y.p, z.p, kN))
VEC_BENCH(vecSum, benchmark::DoNotOptimize(vecSum(x.p, kN)))
VEC_BENCH(vecDotProduct, benchmark::DoNotOptimize(vecDotProduct(x.p, y.p, kN)))
VEC_BENCH(vecEnergy, benchmark::DoNotOptimize(vecEnergy(x.p, kN)))
VEC_BENCH(vecComplexPower, vecComplexPower(x.p, z.p, kN))
VEC_BENCH(vecRoundClip16, vecRoundClip16(x.p, z.p, kN))
VEC_BENCH(vecFloatToInt, vecFloatToInt(x.p, zia, kN))
VEC_BENCH(vecFloatToShort, vecFloatToShort(x.p, zsa, kN))
VEC_BENCH(vecCopyStrided, vecCopyStrided(x.p, 2, z.p, 2, kN / 2))

}  // namespace
