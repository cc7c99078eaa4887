// resample_tool: converts raw 32-bit float interleaved samples with the
// encoder's converter, or prints design values, for checks by independent
// programs.
//   resample_tool run IN_RATE OUT_RATE CHANNELS OUT_BLOCK IN.f32 OUT.f32 [EDGE WIDTH ATT]
//     prints "delay D kind K inputs N outputs N blocks N pass HZ stop HZ"
//   resample_tool window N BETA        prints N window values
//   resample_tool beta A               prints the Kaiser beta
//   resample_tool i0 X                 prints I0(X)
//   resample_tool bench IN_RATE OUT_RATE CHANNELS SECONDS
//                                      converts noise, prints the speed
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "polyphase.h"
#include "resampler.h"

namespace {

int runFile(int argc, char** argv) {
  if (argc != 8 && argc != 11) return 2;
  uint32_t inRate = static_cast<uint32_t>(std::atol(argv[2]));
  uint32_t outRate = static_cast<uint32_t>(std::atol(argv[3]));
  int32_t ch = std::atoi(argv[4]);
  int32_t block = std::atoi(argv[5]);
  float tuning[3] = {0, 0, 0};
  const float* tp = nullptr;
  if (argc == 11) {
    tuning[0] = static_cast<float>(std::atof(argv[8]));
    tuning[1] = static_cast<float>(std::atof(argv[9]));
    tuning[2] = static_cast<float>(std::atof(argv[10]));
    tp = tuning;
  }
  FILE* f = std::fopen(argv[6], "rb");
  if (f == nullptr) return 3;
  std::vector<float> in;
  float buf[4096];
  size_t got;
  while ((got = std::fread(buf, sizeof(float), 4096, f)) > 0) in.insert(in.end(), buf, buf + got);
  std::fclose(f);
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  int rc = CreateResampler(&r, tp, inRate, outRate, ch, block, &need, &outBlock);
  if (rc != 0) {
    std::printf("create failed %d\n", rc);
    return 1;
  }
  int32_t delay = GetResamplerDelay(r);
  double passEdge = 0.0, stopEdge = 0.0;
  ResamplerBands(r, &passEdge, &stopEdge);
  // Enough output for every input frame to come out past the delay.
  size_t wantFrames = static_cast<size_t>(static_cast<double>(in.size() / ch) * outRate / inRate) + delay;
  std::vector<float> out;
  size_t pos = 0;
  long blocks = 0;
  std::vector<float> chunk;
  while (out.size() / ch < wantFrames) {
    chunk.assign(static_cast<size_t>(need), 0.0f);
    for (int32_t i = 0; i < need && pos + i < in.size(); ++i) chunk[i] = in[pos + i];
    pos += need;
    float* o = nullptr;
    int32_t made = 0;
    rc = RunResampler(r, need, chunk.data(), &o, &made, &need);
    if (rc != 0) {
      std::printf("run failed %d\n", rc);
      return 1;
    }
    out.insert(out.end(), o, o + made);
    ++blocks;
  }
  std::printf("delay %d kind %d inputs %zu outputs %zu blocks %ld pass %.3f stop %.3f\n", delay,
              ResamplerKind(r), in.size() / ch, out.size() / ch, blocks, passEdge, stopEdge);
  DeleteResampler(&r);
  f = std::fopen(argv[7], "wb");
  if (f == nullptr) return 3;
  bool ok = std::fwrite(out.data(), sizeof(float), out.size(), f) == out.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 3;
}

int bench(uint32_t inRate, uint32_t outRate, int32_t ch, double seconds) {
  HANDLE_RESAMPLER r = nullptr;
  int32_t need = 0, outBlock = 0;
  if (CreateResampler(&r, nullptr, inRate, outRate, ch, 1024 * ch, &need, &outBlock) != 0) return 1;
  std::vector<float> in(static_cast<size_t>(4096) * ch);
  uint32_t seed = 1;
  for (auto& v : in) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / (1 << 23);
  }
  const double frames = seconds * outRate;
  double made = 0.0;
  auto t0 = std::chrono::steady_clock::now();
  while (made < frames) {
    float* o = nullptr;
    int32_t n = 0;
    if (RunResampler(r, need, in.data(), &o, &n, &need) != 0) return 1;
    made += n / ch;
  }
  double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%u -> %u Hz, %d channels, delay %d: %.1f s of audio in %.3f s, %.0fx real time\n", inRate, outRate,
              ch, GetResamplerDelay(r), seconds, dt, seconds / dt);
  DeleteResampler(&r);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return runFile(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "window") == 0) {
    int32_t n = std::atoi(argv[2]);
    std::vector<double> w(static_cast<size_t>(n));
    polyphaseKaiserWindow(std::atof(argv[3]), n, w.data());
    for (double v : w) std::printf("%.17g\n", v);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "beta") == 0) {
    std::printf("%.9g\n", polyphaseKaiserBeta(std::atof(argv[2])));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "i0") == 0) {
    std::printf("%.17g\n", polyphaseBesselI0(std::atof(argv[2])));
    return 0;
  }
  if (argc == 6 && std::strcmp(argv[1], "bench") == 0)
    return bench(static_cast<uint32_t>(std::atol(argv[2])), static_cast<uint32_t>(std::atol(argv[3])),
                 std::atoi(argv[4]), std::atof(argv[5]));
  std::fprintf(stderr, "usage: resample_tool run|window|beta|i0|bench ...\n");
  return 2;
}
