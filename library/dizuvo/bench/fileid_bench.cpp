// Benchmarks of quick identification: a file decided by an early test (RIFF
// WAVE), an MP4 whose boxes are walked (AAC in an mp42 file), and 64 KiB of
// noise that every test rejects (the worst case: two frame scans over the
// header and the MXF search over 64 KiB).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "kvfileid_rules.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Box(const char* type, const Bytes& payload) {
  Bytes b(payload.size() + 8);
  uint32_t size = uint32_t(b.size());
  for (int i = 0; i < 4; ++i) b[size_t(i)] = uint8_t(size >> (24 - 8 * i));
  std::memcpy(b.data() + 4, type, 4);
  if (!payload.empty()) std::memcpy(b.data() + 8, payload.data(), payload.size());
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  size_t total = 0;
  for (const Bytes& p : parts) total += p.size();
  Bytes out(total);
  size_t at = 0;
  for (const Bytes& p : parts) {
    if (!p.empty()) std::memcpy(out.data() + at, p.data(), p.size());
    at += p.size();
  }
  return out;
}

Bytes Mp42Aac() {
  Bytes brands(16, 0);
  std::memcpy(brands.data(), "mp42\0\0\2\0mp42isom", 16);
  Bytes ftyp = Box("ftyp", brands);
  Bytes esds = {0, 0, 0, 0, 3, 25, 0, 1, 0, 4, 17, 0x40, 0x15, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 5, 2, 0x12, 0x10,
                6, 1, 2};
  Bytes entry(28, 0);
  entry[7] = 1;
  Bytes mp4a = Box("mp4a", Cat({entry, Box("esds", esds)}));
  Bytes stsd = Cat({Bytes{0, 0, 0, 0, 0, 0, 0, 1}, mp4a});
  Bytes hdlr(25, 0);
  std::memcpy(hdlr.data() + 8, "soun", 4);
  Bytes mdia = Cat({Box("hdlr", hdlr), Box("minf", Box("stbl", Box("stsd", stsd)))});
  Bytes moov = Cat({Box("mvhd", Bytes(100, 0)), Box("trak", Box("mdia", mdia))});
  return Cat({ftyp, Box("mdat", Bytes(200000, 0x5A)), Box("moov", moov)});
}

void Identify(benchmark::State& state, const Bytes& file, KVFILEID_IDENTIFIED_TYPE expected) {
  KvFileIdMemoryReader reader(file.data(), uint32_t(file.size()));
  KvFileIdInput in;
  in.bytes = file.data();
  in.count = uint32_t(file.size() < KVFILEID_HEADER_BYTES ? file.size() : KVFILEID_HEADER_BYTES);
  in.file = &reader;
  for (auto _ : state) {
    KVFILEID_IDENTIFIED_TYPE type = KvFileId_Identify(in);
    if (type != expected) state.SkipWithError("unexpected code");
    benchmark::DoNotOptimize(type);
  }
}

void BM_Wave(benchmark::State& state) {
  Bytes wave = {'R', 'I', 'F', 'F', 100, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
  wave.resize(4096, 0);
  Identify(state, wave, KVFILEID_WAVE);
}
BENCHMARK(BM_Wave);

void BM_Mp42AacBoxWalk(benchmark::State& state) { Identify(state, Mp42Aac(), KVFILEID_MP4_AAC); }
BENCHMARK(BM_Mp42AacBoxWalk);

void BM_NoiseRejectedByAll(benchmark::State& state) {
  std::mt19937 rng(1);
  Bytes noise(65536);
  // Noise without 0xFF bytes: no frame header anywhere, every test fails.
  for (auto& b : noise) b = uint8_t(rng() % 255);
  noise[0] = 0x80;
  Identify(state, noise, KVFILEID_NOT_IDENTIFIED);
}
BENCHMARK(BM_NoiseRejectedByAll);

}  // namespace
