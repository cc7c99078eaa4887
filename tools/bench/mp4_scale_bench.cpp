// Scale benchmark of the MP4 reading side (run by tools/bench/mp4_scale.sh).
//
//   mp4_scale_bench make HOURS FILE
//     writes a one-track 44.1 kHz stereo AAC file of HOURS hours (1024 samples
//     per access unit) with the container library's track writer: the access
//     units are synthetic (small, of varying sizes), since only the tables
//     matter here; one sample per chunk, as the plug-in's writer lays them out.
//   mp4_scale_bench read FILE
//     reads the box tree, initialises the track reader and maps every sample
//     to its byte range and its time, and prints one line:
//     "samples N tree_ms T init_ms T walk_ms T peak_rss_kb K base_rss_kb K"
//     (peak and base resident set sizes of this process; base is before reading).
#include <sys/resource.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "boxreader.h"
#include "descriptors.h"
#include "factories.h"
#include "filestream.h"
#include "remux.h"
#include "rewrite.h"
#include "trackreader.h"
#include "trackwriter.h"

using namespace fileutil;

namespace {

const uint32_t kRate = 44100;
const uint32_t kFrame = 1024;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int Make(double hours, const std::string& path) {
  const uint64_t units = uint64_t(hours * 3600 * kRate / kFrame);
  AudioTrackParams params;
  params.decoderSpecificInfo = {0x12, 0x10};  // AAC-LC, 44.1 kHz, 2 channels
  params.avgBitrate = 128000;
  BoxList* boxes = BuildAudioTrackTree(params);
  const std::wstring wpath = Wide(path);
  bool ok = true;
  {
    ofstream out(wpath.c_str(), 1 << 20, kGenericWrite, 0, nullptr, kCreateAlways, kFlagsNormal, nullptr);
    // Room for the whole 'moov' (about 8 bytes of tables per sample), so the
    // header is written in place.
    TrackWriter writer(*boxes, out, units * 8 + 65536);
    ok = out.is_open() && writer.Init();
    std::vector<uint8_t> unit;
    uint32_t state = 12345;
    for (uint64_t n = 0; ok && n < units; ++n) {
      state = state * 1103515245u + 12345u;
      unit.assign(8 + (state >> 16) % 56, uint8_t(n));
      ok = writer.WriteSample(unit, kFrame);
    }
    writer.Finish();
    ok = out.close() && ok;
  }
  if (ok) ok = SUCCEEDED(RewriteBoxFile(wpath.c_str(), *boxes));
  DeleteBoxList(boxes);
  if (!ok) {
    std::fprintf(stderr, "mp4_scale_bench: writing %s failed\n", path.c_str());
    return 1;
  }
  std::printf("%" PRIu64 " samples\n", units);
  return 0;
}

int Read(const std::string& path) {
  const long base = PeakRssKb();
  const std::wstring wpath = Wide(path);
  auto start = std::chrono::steady_clock::now();
  BoxReader reader(wpath.c_str());
  BoxList* boxes = reader.ReadAllBoxes();
  const double treeMs = MsSince(start);
  if (!boxes) {
    std::fprintf(stderr, "mp4_scale_bench: no box tree in %s\n", path.c_str());
    return 1;
  }
  ifstream in(wpath.c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess, nullptr);
  start = std::chrono::steady_clock::now();
  TrackReader track(*boxes, in);
  const bool init = track.Init();
  const double initMs = MsSince(start);
  if (!init) {
    std::fprintf(stderr, "mp4_scale_bench: no track in %s\n", path.c_str());
    DeleteBoxList(boxes);
    return 1;
  }
  // Every sample's byte range and start time; the sums keep the work alive.
  start = std::chrono::steady_clock::now();
  uint64_t bytes = 0, time = 0, checksum = 0;
  const uint32_t count = track.GetSampleCount();
  for (uint32_t n = 1; n <= count; ++n) {
    uint32_t found = 0, delta = 0;
    uint64_t sampleStart = 0;
    if (!track.SeekSample(n) || !track.FindSampleForTime(time, found, sampleStart, delta) || found != n) {
      std::fprintf(stderr, "mp4_scale_bench: sample %u not mapped\n", n);
      DeleteBoxList(boxes);
      return 1;
    }
    bytes += track.GetCurrentSampleSize();
    checksum += track.GetCurrentSampleOffset();
    time += delta;
  }
  const double walkMs = MsSince(start);
  std::printf("samples %u tree_ms %.1f init_ms %.1f walk_ms %.1f peak_rss_kb %ld base_rss_kb %ld\n", count, treeMs,
              initMs, walkMs, PeakRssKb(), base);
  if (bytes == 0 || checksum == 0 || time != uint64_t(count) * kFrame) return 1;
  DeleteBoxList(boxes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CreateGlobalFactories();
  esds::CreateDescriptorFactory();
  int status = 2;
  if (argc == 4 && std::string(argv[1]) == "make") {
    status = Make(std::atof(argv[2]), argv[3]);
  } else if (argc == 3 && std::string(argv[1]) == "read") {
    status = Read(argv[2]);
  } else {
    std::fprintf(stderr, "usage: mp4_scale_bench make HOURS FILE | read FILE\n");
  }
  esds::DestroyDescriptorFactory();
  DestroyGlobalFactories();
  return status;
}
