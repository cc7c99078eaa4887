// Truncated and corrupted copies of real files: cut at every box boundary and
// at random points, and with random bytes flipped. Reading them (all three
// read factories, a forward-only stream, the audio samples) must end cleanly;
// the sanitizers of the native build catch any out-of-bounds access or leak.
#include "mp4_test_util.h"

#include <cstdio>
#include <random>

#include "filestream.h"
#include "trackreader.h"
#include "vog_tools.h"

using namespace mp4test;
using namespace fileutil;

namespace {

std::vector<std::string> SourceFiles() {
  std::vector<std::string> names;
  const char* fixtures[] = {"lc_mono_44100.m4a", "fast_stereo_48000.m4a", "ap_tagged.m4a", "ap_tagged_end.m4a",
                            "tagged.3gp",        "av.mp4",                "frag_stereo_44100.m4a", "lc_51_32000.m4a"};
  for (const char* f : fixtures) names.push_back(std::string(VOG_FIXTURE_DIR) + "/mp4/" + f);
  const char* vectors[] = {"64bit.mp4", "afconvert-aac-0.5s.mp4", "covr-junk.m4a", "gnre.m4a", "heaac-3frame_remux.m4a",
                           "ilst-is-last.m4a", "infloop.m4a", "itunes811.m4a", "leading-mdat.m4a", "non-full-meta.m4a",
                           "nonprintable-atom-type.m4a", "short-trkn.m4a", "truncated_remux.m4a", "zero-length-mdat.m4a",
                           "opus.m4a", "sine-3s-xhe-aac-44khz-mono.mp4"};
  for (const char* v : vectors) names.push_back(std::string(VOG_SHARED_DIR) + "/vectors/mp4/" + v);
  return names;
}

bool Load(const std::string& unixPath, Bytes& out) { return LoadFile(HostPath(unixPath), out); }

// Reads the bytes every way the library offers; answers the number of boxes.
size_t Exercise(const Bytes& bytes) {
  size_t boxes = 0;
  IFactory* factories[] = {GetBoxFactory(), GetReadMetaFactory(), GetMetaFactory()};
  for (IFactory* factory : factories) {
    std::istringstream in(bytes);
    BoxReader reader(in);
    BoxList* list = reader.ReadWith(factory);
    if (list && factory == GetBoxFactory()) {
      WalkBoxTree(*list, [&](IBox&, unsigned) { ++boxes; });
      TrackReader track(*list, in);
      if (track.Init()) {
        std::vector<uint8_t> sample;
        for (uint32_t n = 1; n <= track.GetSampleCount(); ++n)
          if (track.SeekSample(n)) track.ReadSample(sample);
      }
    }
    DeleteBoxList(list);
  }
  std::istringstream forward(bytes);
  BoxReader reader(forward, UINT64_MAX);
  DeleteBoxList(reader.ReadAllBoxes());
  return boxes;
}

std::vector<uint64_t> Boundaries(const Bytes& bytes) {
  std::vector<uint64_t> cuts;
  Tree tree(bytes);
  if (!tree.boxes) return cuts;
  WalkBoxTree(*tree.boxes, [&](IBox& b, unsigned) {
    cuts.push_back(b.GetOffset());
    cuts.push_back(b.GetOffset() + 4);
    cuts.push_back(b.GetOffset() + b.GetHeaderSize());
    cuts.push_back(b.GetOffset() + b.GetSize() - 1);
    cuts.push_back(b.GetOffset() + b.GetSize());
  });
  return cuts;
}

}  // namespace

TEST(DamagedFiles, TruncatedAtEveryBoxBoundaryAndAtRandom) {
  const uint32_t seed = 20261210;
  std::mt19937 random(seed);
  size_t files = 0, runs = 0;
  for (const std::string& path : SourceFiles()) {
    Bytes bytes;
    if (!Load(path, bytes)) continue;
    ++files;
    size_t whole = Exercise(bytes);
    std::vector<uint64_t> cuts = Boundaries(bytes);
    for (int i = 0; i < 20; ++i) cuts.push_back(random() % (bytes.size() + 1));
    for (uint64_t cut : cuts) {
      if (cut > bytes.size()) continue;
      size_t n = Exercise(bytes.substr(0, size_t(cut)));
      EXPECT_LE(n, whole) << path << " cut at " << cut << " (seed " << seed << ")";
      ++runs;
    }
  }
  if (files == 0) VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "no source files";
  std::printf("%zu files, %zu truncated copies read\n", files, runs);
}

TEST(DamagedFiles, RandomByteFlips) {
  const uint32_t seed = 4242;
  std::mt19937 random(seed);
  size_t files = 0, runs = 0;
  for (const std::string& path : SourceFiles()) {
    Bytes bytes;
    if (!Load(path, bytes) || bytes.empty()) continue;
    ++files;
    // Flips land mostly in the box headers and tables (the file's non-media
    // part), where they matter, and some anywhere.
    std::vector<uint64_t> hot = Boundaries(bytes);
    for (int copy = 0; copy < 150; ++copy) {
      Bytes damaged = bytes;
      int flips = 1 + int(random() % 8);
      for (int k = 0; k < flips; ++k) {
        size_t at = (hot.empty() || k % 2) ? random() % damaged.size()
                                           : size_t((hot[random() % hot.size()] + random() % 16) % damaged.size());
        damaged[at] = char(damaged[at] ^ (1 << (random() % 8)) ^ ((random() % 4 == 0) ? 0xFF : 0));
      }
      Exercise(damaged);
      ++runs;
    }
  }
  if (files == 0) VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "no source files";
  std::printf("%zu files, %zu corrupted copies read (seed %u)\n", files, runs, seed);
}

// The same through the file layer: truncated copies on disk read by path and
// their samples read through the library's file stream.
TEST(DamagedFiles, TruncatedFilesOnDisk) {
  Bytes bytes;
  if (!Load(std::string(VOG_FIXTURE_DIR) + "/mp4/ap_tagged.m4a", bytes)) VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "fixture missing";
  std::string temp = HostPath(std::string(VOG_FIXTURE_DIR) + "/mp4/cut_tmp.m4a");
  for (uint64_t cut : Boundaries(bytes)) {
    if (cut > bytes.size()) continue;
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), std::streamsize(cut));
    }
    std::wstring wide = Wide(temp);
    BoxReader reader(wide.c_str());
    BoxList* list = reader.ReadAllBoxes();
    if (list) {
      ifstream in(wide.c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess, nullptr);
      TrackReader track(*list, in);
      if (track.Init()) {
        std::vector<uint8_t> sample;
        for (uint32_t n = 1; n <= track.GetSampleCount(); ++n) {
          ASSERT_TRUE(track.SeekSample(n));
          bool read = track.ReadSample(sample);
          EXPECT_EQ(read, track.GetCurrentSampleOffset() + track.GetCurrentSampleSize() <= cut) << cut << " " << n;
        }
      }
    }
    DeleteBoxList(list);
  }
  std::remove(temp.c_str());
}
