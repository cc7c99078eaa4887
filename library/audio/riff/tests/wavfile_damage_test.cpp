// Randomly damaged WAVE, Wave64 and AIFF files (bytes of the headers
// overwritten, files cut short) through every reader and the repairs: no
// crash or hang, counts that stay inside the file, and repairs that either
// leave the file untouched or leave one that the readers accept.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "iff_testutil.h"
#include "kviff.h"
#include "kvwavfile.h"
#include "vog_tools.h"

using namespace kvrifftest;

namespace {

struct Rng {
  uint32_t s;
  uint32_t Next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
};

std::vector<uint8_t> Damaged(const std::vector<uint8_t>& src, Rng& rng) {
  std::vector<uint8_t> b = src;
  const uint32_t head = static_cast<uint32_t>(b.size() < 160 ? b.size() : 160);
  const uint32_t edits = 1 + rng.Below(6);
  for (uint32_t i = 0; i < edits; ++i) {
    uint32_t at = rng.Below(head);
    switch (rng.Below(4)) {
      case 0: b[at] = static_cast<uint8_t>(rng.Next()); break;
      case 1: b[at] = 0; break;
      case 2: b[at] = 0xFF; break;
      default:  // a size-like field: zero, huge or small
        for (uint32_t k = 0; k < 4 && at + k < b.size(); ++k)
          b[at + k] = rng.Below(2) ? 0xFF : static_cast<uint8_t>(rng.Below(3));
    }
  }
  if (rng.Below(3) == 0) b.resize(rng.Below(static_cast<uint32_t>(b.size())));
  return b;
}

TEST(WavDamage, RandomDamageStaysInBounds) {
  const char* sources[] = {"wavfile/sox_s16.wav", "wavfile/ff_s16.wav",  "wavfile/sox_s24.wav",
                           "wavfile/sox_f32.wav", "wavfile/sox_s16.w64", "wavfile/ff_s16.w64",
                           "wavfile/sox_s16.aiff", "wavfile/ff_sowt.aiff"};
  std::vector<std::vector<uint8_t>> files;
  for (const char* s : sources) {
    if (!FixtureExists(s)) VOG_TOOL_MISSING("ffmpeg/sox") << "fixtures missing";
    auto b = LoadFile(FixtureW(s));
    b.resize(b.size() < 3000 ? b.size() : 3000);  // small files: quick rounds
    files.push_back(b);
  }
  Rng rng{20261210};
  int accepted = 0, repaired = 0;
  for (int round = 0; round < 240; ++round) {
    const auto& src = files[rng.Below(static_cast<uint32_t>(files.size()))];
    std::vector<uint8_t> b = Damaged(src, rng);
    SCOPED_TRACE(round);
    TempFile f(b, L"dmg");
    // Readers on the handle.
    WAVEFORMATEX wfx{};
    DWORD frames = 0, offset = 0;
    if (SUCCEEDED(iff_GetAIFFWfx(f.handle(), &wfx, &frames, &offset))) {
      EXPECT_LE(offset + static_cast<uint64_t>(frames) * wfx.nBlockAlign, b.size());
    }
    KVIFFMARKER marker{};
    iff_FindMarker(f.handle(), &marker, 1);
    f.Close();
    // Readers by path.
    KvFileIsWave(f.path().c_str(), TRUE);
    KvFileIsWave64(f.path().c_str(), TRUE);
    KvFileIsAiff(f.path().c_str());
    uint64_t n = 0, at = 0;
    WAVEFORMATEX* w = KvGetFileWfx(f.path().c_str(), &n, &at);
    if (w) {
      ++accepted;
      EXPECT_GT(w->nBlockAlign, 0);
      EXPECT_LE(at + n * w->nBlockAlign, b.size());
      free(w);
    }
    // Repairs on copies: untouched on failure, readable on success.
    for (int kind = 0; kind < 2; ++kind) {
      TempFile c(b, L"fix");
      HRESULT hr = kind ? KvFixTrashedW64(c.handle(), nullptr, 4096) : KvFixTrashedWav(c.handle(), nullptr, 4096);
      auto after = c.Bytes();
      if (FAILED(hr)) {
        EXPECT_EQ(b, after) << std::hex << hr;
        continue;
      }
      ++repaired;
      EXPECT_EQ(b.size(), after.size());
      c.Close();
      uint64_t rn = 0, ra = 0;
      WAVEFORMATEX* rw = KvGetFileWfx(c.path().c_str(), &rn, &ra);
      ASSERT_NE(nullptr, rw) << "kind " << kind;
      EXPECT_EQ(b.size(), ra + rn * rw->nBlockAlign + (b.size() - ra) % rw->nBlockAlign);
      free(rw);
    }
    // Deleting a chunk: on success the file is shorter by what was removed.
    TempFile d(b, L"del");
    DWORD removed = 0;
    if (SUCCEEDED(iff_DeleteChunk(d.handle(), KVIFF_COMM, &removed))) {
      EXPECT_EQ(b.size() - removed, d.Bytes().size());
    }
  }
  // The rounds reach both outcomes.
  EXPECT_GT(accepted, 20);
  EXPECT_GT(repaired, 20);
}

}  // namespace
