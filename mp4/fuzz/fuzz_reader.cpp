// libFuzzer target over the box reader: the input is read with each of the
// three read factories, through a seekable stream and a forward-only one; the
// audio track's samples are then walked and read, all of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "boxreader.h"
#include "descriptors.h"
#include "factories.h"
#include "trackreader.h"

namespace {

struct Globals {
  Globals() {
    fileutil::CreateGlobalFactories();
    esds::CreateDescriptorFactory();
  }
};

// Every sample the track reader counts lies wholly inside the file and takes
// at least one of its bytes (or four of its size table), so the count is
// bounded by the file's length, and every sample is walked.
void WalkTrack(fileutil::BoxList& boxes, std::istream& in, size_t fileSize) {
  fileutil::TrackReader track(boxes, in);
  if (!track.Init()) return;
  std::vector<uint8_t> bytes;
  uint32_t count = track.GetSampleCount();
  if (count > fileSize) abort();
  for (uint32_t n = 1; n <= count; ++n) {
    if (track.SeekSample(n)) track.ReadSample(bytes);
  }
  uint64_t start = 0;
  uint32_t delta = 0;
  track.SeekTime(track.GetDuration() / 2, start, delta);
  track.SeekSample(count + 1);
  track.ReadSample(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Globals globals;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fileutil::IFactory* factories[] = {fileutil::GetBoxFactory(), fileutil::GetReadMetaFactory(),
                                     fileutil::GetMetaFactory()};
  for (fileutil::IFactory* factory : factories) {
    std::istringstream in(bytes);
    fileutil::BoxReader reader(in);
    fileutil::BoxList* boxes = reader.ReadWith(factory);
    if (boxes && factory == fileutil::GetBoxFactory()) WalkTrack(*boxes, in, size);
    fileutil::DeleteBoxList(boxes);
  }
  {
    std::istringstream in(bytes);
    fileutil::BoxReader reader(in, UINT64_MAX);
    fileutil::DeleteBoxList(reader.ReadAllBoxes());
  }
  return 0;
}
