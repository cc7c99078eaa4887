// aacdec: decodes the AAC track of an MP4 file with the project's decoder;
// the file is read through the container library (box reader, track reader).
//   aacdec IN OUT.wav   32-bit float WAV with every decoded frame (no
//                       edit-list trimming; full scale 1.0)
//   aacdec --bench IN   decodes to nothing and prints audio seconds, wall
//                       time and x real time
// Decoding stops at the first unit whose bytes are not in the file (a file
// cut short); the units the tables list after it are counted on stderr.
// Exit status: 0 every unit decoded, 2 input refused, 3 a unit failed or
// units were missing.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "boxreader.h"
#include "boxtree.h"
#include "factories.h"
#include "filestream.h"
#include "mp4AudioDecIfc.h"
#include "textencoding.h"
#include "toolmain.h"
#include "trackreader.h"

namespace {

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(x & 255);
  v.push_back((x >> 8) & 255);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

std::vector<uint8_t> wavHeader(uint32_t channels, uint32_t rate, uint64_t dataBytes) {
  std::vector<uint8_t> h;
  const bool extensible = channels > 2;
  const uint32_t fmtSize = extensible ? 40 : 18;
  const uint64_t riff = 4 + (8 + fmtSize) + (8 + dataBytes);
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  put32(h, riff > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(riff));
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(h, fmtSize);
  put16(h, extensible ? 0xFFFE : 3);
  put16(h, channels);
  put32(h, rate);
  put32(h, rate * channels * 4);
  put16(h, channels * 4);
  put16(h, 32);
  if (extensible) {
    put16(h, 22);
    put16(h, 32);
    put32(h, 0);  // no speaker positions claimed
    // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
    static const uint8_t guid[16] = {0x03, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    h.insert(h.end(), guid, guid + 16);
  } else {
    put16(h, 0);
  }
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put32(h, dataBytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes));
  return h;
}

// The access units of the file's AAC track, through the container library.
class Track {
 public:
  explicit Track(const std::wstring& path)
      : reader_(path.c_str()),
        in_(path.c_str(), 65536, fileutil::kGenericRead, fileutil::kFileShareRead, nullptr, fileutil::kOpenExisting,
            fileutil::kFlagsRandomAccess, nullptr),
        boxes_(reader_.ReadAllBoxes()),
        track_(boxes_ ? *boxes_ : empty_, in_),
        file_(fileutil::FileOpen(path.c_str(), fileutil::kGenericRead, fileutil::kFileShareRead,
                                 fileutil::kOpenExisting, fileutil::kFlagsSequentialScan)),
        window_(new (std::nothrow) uint8_t[kWindow]) {
    ok_ = boxes_ && track_.Init();
  }
  ~Track() {
    if (boxes_) fileutil::DeleteBoxList(boxes_);
    if (file_ != fileutil::InvalidFileHandle()) fileutil::FileClose(file_);
  }
  bool ok() const { return ok_; }
  // Units the tables list that the file does not hold.
  uint32_t missing() const { return track_.GetMissingSampleCount(); }
  const std::vector<uint8_t>& asc() const { return track_.GetDecoderSpecificInfo(); }
  uint32_t index() { return track_.GetCurrentSample(); }
  // The next access unit; an unreadable one comes back empty (it then
  // decodes as a failure).
  bool next(std::vector<uint8_t>* unit) {
    if (!track_.NextSample()) return false;
    if (!readWindowed(unit) && !track_.ReadSample(*unit)) unit->clear();
    return true;
  }

 private:
  // The unit's bytes from a window of the file read ahead in one piece
  // (units follow each other in the file), so that a unit costs no seek and
  // no read of its own; false leaves the unit to the track reader (a unit
  // past the window's reach, the end of the file, or a read error).
  bool readWindowed(std::vector<uint8_t>* unit) {
    const uint64_t at = track_.GetCurrentSampleOffset(), size = track_.GetCurrentSampleSize();
    if (!window_ || file_ == fileutil::InvalidFileHandle() || size == 0 || size > kWindow / 2) return false;
    if (at < windowAt_ || at + size > windowAt_ + windowFill_) {
      uint64_t pos = 0;
      uint32_t got = 0;
      windowFill_ = 0;
      if (!fileutil::FileSeek(file_, static_cast<int64_t>(at), fileutil::kSeekBegin, pos) || pos != at ||
          !fileutil::FileRead(file_, window_.get(), kWindow, got))
        return false;
      windowAt_ = at;
      windowFill_ = got;
      if (at + size > windowAt_ + windowFill_) return false;
    }
    const uint8_t* p = window_.get() + (at - windowAt_);
    unit->assign(p, p + size);
    return true;
  }

  static const uint32_t kWindow = 1u << 18;
  fileutil::BoxReader reader_;
  fileutil::ifstream in_;
  fileutil::BoxList empty_;
  fileutil::BoxList* boxes_;
  fileutil::TrackReader track_;
  fileutil::FileHandle file_;
  std::unique_ptr<uint8_t[]> window_;  // not zeroed: only bytes read are used
  uint64_t windowAt_ = 0;
  uint32_t windowFill_ = 0;
  bool ok_ = false;
};

int run(const std::vector<std::wstring>& args) {
  bool bench = false;
  std::wstring win, wout;
  if (args.size() == 2 && args[0] == L"--bench") {
    bench = true;
    win = args[1];
  } else if (args.size() == 2) {
    win = args[0];
    wout = args[1];
  } else {
    std::fprintf(stderr, "usage: aacdec IN OUT.wav | aacdec --bench IN\n");
    return 1;
  }
  std::string in, out;
  fileutil::WideToUtf8(win, in);
  fileutil::WideToUtf8(wout, out);
  Track track(win);
  if (!track.ok()) {
    if (track.missing())
      std::fprintf(stderr, "aacdec: %s: the file ends before the first of its %u units\n", in.c_str(), track.missing());
    else
      std::fprintf(stderr, "aacdec: %s: no readable AAC track\n", in.c_str());
    return 2;
  }
  AudioSpecificConfig asc;
  std::memset(&asc, 0, sizeof(asc));
  const int32_t pr = mp4AudioDecParseAsc(track.asc().data(), static_cast<int32_t>(track.asc().size()), &asc);
  if (pr != 0) {
    std::fprintf(stderr, "aacdec: %s: AudioSpecificConfig refused (%d)\n", in.c_str(), pr);
    return 2;
  }
  Mp4AudioDec* dec = mp4AudioDecOpenStream(&asc);
  if (!dec) {
    std::fprintf(stderr, "aacdec: %s: decoder refused object type %d (%s)\n", in.c_str(), asc.objectType,
                 mp4AudioDecAotName(asc.objectType));
    return 2;
  }
  AuBuffer* au = auBufferCreate(nullptr, 0);
  // Room for what the decoder can deliver: twice the frame length (SBR) and
  // two channels for a mono stream (PS).
  CuBuffer* cu = cuBufferCreate(asc.channelCount < 2 ? 2 : asc.channelCount, 2 * asc.frameLength,
                                asc.sbrPresent == 1 ? asc.extensionSamplingFrequency : asc.samplingFrequency, 2048);
  if (!au || !cu) {
    std::fprintf(stderr, "aacdec: out of memory\n");
    return 2;
  }
  // The output format is what the decoder delivers (SBR doubles the rate,
  // parametric stereo makes two channels of one): taken from the first unit
  // that decodes, while nothing has been written yet.
  int channels = asc.channelCount;
  int rate = asc.samplingFrequency;
  int32_t unitFrames = asc.frameLength;
  FILE* f = nullptr;
  if (!bench) {
#ifdef _WIN32
    f = _wfopen(wout.c_str(), L"wb");
#else
    f = std::fopen(out.c_str(), "wb");
#endif
    if (!f) {
      std::fprintf(stderr, "aacdec: cannot write %s\n", out.c_str());
      return 2;
    }
    const std::vector<uint8_t> h = wavHeader(channels, rate, 0);
    if (std::fwrite(h.data(), 1, h.size(), f) != h.size()) return 2;
  }
  std::vector<uint8_t> unit;
  std::vector<float> pcm;
  uint64_t frames = 0;
  int failures = 0;
  const auto t0 = std::chrono::steady_clock::now();
  AuBuffer* aus[1] = {au};
  while (track.next(&unit)) {
    auBufferReset(au);
    int32_t r = auBufferFeed(au, unit.data(), static_cast<int32_t>(unit.size()));
    cuBufferReset(cu);
    if (r == 0 && auBufferHasData(au)) r = mp4AudioDecDecodeAu(dec, aus, cu);
    int32_t ch = 0, n = 0;
    cuBufferGetChannels(cu, &ch);
    cuBufferGetSamplesPerChannel(cu, &n);
    if (r == 0 && n > 0 && frames == 0 && failures == 0) {
      int32_t cuRate = 0;
      cuBufferGetSampleRate(cu, &cuRate);
      channels = ch;
      if (cuRate > 0) rate = cuRate;
      unitFrames = n;
    }
    if (r != 0 || ch != channels || n <= 0) {
      if (failures++ < 10)
        std::fprintf(stderr, "aacdec: unit %llu failed (%d)\n", static_cast<unsigned long long>(track.index()), r);
      n = unitFrames;
      pcm.assign(static_cast<size_t>(n) * channels, 0.0f);
    } else if (bench) {
      // Decoding to nothing: the output is not copied.
    } else {
      float* s = nullptr;
      cuBufferGetSamples(cu, &s);
      pcm.assign(s, s + static_cast<size_t>(n) * channels);
      for (float& v : pcm) v *= 1.0f / 32768.0f;
    }
    frames += static_cast<uint64_t>(n);
    if (f && std::fwrite(pcm.data(), sizeof(float), pcm.size(), f) != pcm.size()) {
      std::fprintf(stderr, "aacdec: write failed\n");
      return 2;
    }
  }
  if (track.missing())
    std::fprintf(stderr, "aacdec: %s: the file ends early: %u units missing\n", in.c_str(), track.missing());
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (f) {
    const std::vector<uint8_t> h = wavHeader(channels, rate, frames * channels * 4);
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fwrite(h.data(), 1, h.size(), f) != h.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "aacdec: write failed\n");
      return 2;
    }
  }
  if (bench) {
    const double secs = static_cast<double>(frames) / rate;
    std::printf("audio %.3f s, wall %.3f s, %.1f x real time\n", secs, wall, wall > 0 ? secs / wall : 0.0);
  }
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
  return failures || track.missing() ? 3 : 0;
}

}  // namespace

VOG_TOOL_MAIN(run)
