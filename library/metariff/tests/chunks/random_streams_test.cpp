// Randomly made and randomly damaged reader streams of every kind, written
// into a small RIFF file and a small 64-bit RIFF file: every call returns,
// and whatever it wrote leaves a file whose chunks walk exactly to its end.
#include <gtest/gtest.h>

#include <random>

#include "chunk_test_util.h"
#include "kvfmmeta.h"
#include "kvriff.h"

using namespace chunktest;

namespace {

const GUID* const kGuids[] = {&KVFIO_METAGUID_SUMMARY, &KVFIO_METAGUID_MARKERS, &KVFIO_METAGUID_SCOT,
                              &KVFIO_METAGUID_PLAYLIST, &KVFIO_METAGUID_TLST,   &KVFIO_METAGUID_DISPLAY,
                              &KVFIO_METAGUID_SAMPLER,  &KVFIO_METAGUID_RAW,    &KVFIO_METAGUID_STR2,
                              &KVFIO_METAGUID_BMRK,     &KVFIO_METAGUID_DTBT,   &KVFIO_METAGUID_KV03,
                              &KVFIO_METAGUID_KV04,     &KVFIO_METAGUID_BMPI,   &KVFIO_METAGUID_BMPM};

// An item of a likely size for its kind, with random bytes and random small
// numbers where sizes and counts live.
Buf RandomItem(std::mt19937& rng) {
  static const size_t sizes[] = {0, 3, 8, 12, 20, 24, 28, 36, 47, 52, 56, 62, 68, 100, 424, 430};
  Buf b(sizes[rng() % 16] + rng() % 3);
  for (auto& x : b) x = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : rng() % 8);
  return b;
}

bool WalksToTheEnd(const Buf& f, bool riff64) {
  if (riff64) {
    uint64_t size = static_cast<uint64_t>(GetU32(f, 16)) | (static_cast<uint64_t>(GetU32(f, 20)) << 32);
    if (size != f.size()) return false;
    uint64_t p = 40;
    for (const Chunk& c : Walk64(f)) p = c.offset + ((c.size + 7) & ~uint64_t(7));
    return p == f.size();
  }
  if (static_cast<uint64_t>(GetU32(f, 4)) + 8 != f.size()) return false;
  uint64_t p = 12;
  for (const Chunk& c : Walk(f)) p = c.offset + 8 + c.size + (c.size & 1);
  return p == f.size();
}

TEST(RandomStreams, FilesStayWalkable) {
  metariff::ScratchDir dir;
  std::wstring wav = dir.Path(L"r.wav"), w64 = dir.Path(L"r.w64");
  rifftest::Bytes riff;
  riff.Tag("RIFF").U32(0).Tag("WAVE").Chunk("fmt ", 16, 1).Chunk("data", 40, 0).FixRIFF();
  Buf riff64;
  PutGuid(riff64, KVRIFF64_RIFF);
  Put64(riff64, 40 + 24 + 16);
  PutGuid(riff64, KVRIFF64_WAVE);
  PutGuid(riff64, KVRIFF64_DATA);
  Put64(riff64, 24 + 16);
  riff64.resize(riff64.size() + 16, 0);
  std::mt19937 rng(20261210);
  int written = 0, refused = 0;
  for (int round = 0; round < 300; ++round) {
    StandInMeta meta;
    int streams = 1 + rng() % 3;
    for (int s = 0; s < streams; ++s) {
      std::vector<Buf> items;
      int n = rng() % 4;
      for (int i = 0; i < n; ++i) items.push_back(RandomItem(rng));
      Buf g = Generic(*kGuids[rng() % 15], items, rng() % 10 ? 28 : 27, rng() % 10 ? 100 : 101);
      if (rng() % 4 == 0 && g.size() > 28) g.resize(28 + rng() % (g.size() - 28));  // cut short
      if (rng() % 4 == 0 && g.size() > 12) g[8 + rng() % 4] = static_cast<uint8_t>(rng());  // count damaged
      meta.generic.push_back(g);
    }
    if (rng() % 2) {
      meta.hasMarkers = true;
      meta.markers = LegacyMarkers({{rng() % 100000000, rng() % 10000000, rng() % 2 != 0, L"m"}});
      if (rng() % 3 == 0) meta.markers.resize(rng() % meta.markers.size());
    }
    bool is64 = rng() % 3 == 0;
    const std::wstring& path = is64 ? w64 : wav;
    rifftest::WriteAll(path, is64 ? riff64 : riff.b);
    DWORD kinds = rng() % 2 ? 0xFFFFFFFFu : static_cast<DWORD>(rng());
    HRESULT hr = is64 ? KvFMMeta64_openAndWriteMetaStream(path.c_str(), FALSE, 44100, &meta, kinds, 0)
                      : KvFMMeta_openAndWriteMetaStreamEx(path.c_str(), FALSE, 44100, &meta, kinds, 0);
    (SUCCEEDED(hr) ? written : refused)++;
    Buf after = rifftest::ReadAll(path);
    ASSERT_TRUE(WalksToTheEnd(after, is64)) << "round " << round << " hr " << std::hex << hr;
    EXPECT_EQ(0, meta.Leaked()) << "round " << round;
  }
  // Both outcomes occur: the table of damage is not all refused or all taken.
  EXPECT_GT(written, 20);
  EXPECT_GT(refused, 20);
}

}  // namespace
