// The AAC decompressor adapter on its own: sample conversion, format tags,
// configurations that cannot be opened, and priming on random access (units
// are taken from an ffmpeg file through the track reader; the calls the
// adapter makes on the track are logged).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "boxreader.h"
#include "descriptors.h"
#include "factories.h"
#include "filestream.h"
#include "read_support.h"
#include "trackreader.h"
#include "vogaac2_decompressor.h"

namespace {

TEST(Decompressor, SampleConversionClipsThenTruncates) {
  struct Case {
    float in;
    short out;
  };
  const Case cases[] = {
      {1.5e5f, 32767},   {-1.5e5f, -32768}, {12.9f, 12},        {-12.9f, -12},      {32767.0f, 32767},
      {32766.9f, 32766}, {-32768.0f, -32768}, {-32767.9f, -32767}, {0.99f, 0},        {-0.99f, 0},
      {std::numeric_limits<float>::infinity(), 32767}, {-std::numeric_limits<float>::infinity(), -32768},
      {std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(VogAacAudioDecompressor::ConvertSample(c.in), c.out) << c.in;
}

TEST(Decompressor, TagsAndConfigurations) {
  VogAacAudioDecompressor d;
  WORD tag = 0;
  EXPECT_EQ(d.GetFormatTag(&tag), S_OK);
  EXPECT_EQ(tag, 0xAAC0);

  WAVEFORMATEX f = {};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.wBitsPerSample = 16;
  f.nChannels = 2;
  f.nSamplesPerSec = 44100;
  std::vector<BYTE> empty;
  EXPECT_EQ(d.Open(&empty, &f), E_FAIL);
  EXPECT_EQ(d.GetFormatTag(&tag), S_OK);
  EXPECT_EQ(tag, 0xAAC0);
  std::vector<BYTE> junk = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(d.Open(&junk, &f), E_FAIL);

  struct Case {
    std::vector<BYTE> asc;
    WORD tag;
    WORD channels;
    DWORD rate;
  };
  const Case cases[] = {
      {{0x12, 0x10}, 0xAAC0, 2, 44100},               // LC 44.1 kHz stereo
      {{0x11, 0x88}, 0xAAC0, 1, 48000},               // LC 48 kHz mono
      {{0x2D, 0x8C, 0x08, 0x00}, 0xAAC1, 1, 16000},   // explicit SBR: the extension rate
      {{0xED, 0x8C, 0x08, 0x00}, 0xAAC2, 2, 16000},   // explicit PS on a mono core: two channels
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.asc[0]) << " " << int(c.asc[1]));
    WAVEFORMATEX g = f;
    ASSERT_EQ(d.Open(&c.asc, &g), S_OK);
    EXPECT_EQ(d.GetFormatTag(&tag), S_OK);
    EXPECT_EQ(tag, c.tag);
    EXPECT_EQ(g.nChannels, c.channels);
    EXPECT_EQ(g.nSamplesPerSec, c.rate);
    EXPECT_EQ(g.nBlockAlign, 2 * c.channels);
    EXPECT_EQ(g.nAvgBytesPerSec, g.nBlockAlign * c.rate);
  }
  EXPECT_EQ(d.Close(), S_OK);
}

// A track reader over a real file that logs the adapter's seeks.
class LoggingTrack : public fileutil::ITrackReader {
 public:
  explicit LoggingTrack(fileutil::TrackReader* track) : track_(track) {}
  uint32_t GetSampleCount() override { return track_->GetSampleCount(); }
  bool SeekSample(uint32_t n) override {
    seeks.push_back(n);
    return track_->SeekSample(n);
  }
  uint32_t GetCurrentSample() override { return track_->GetCurrentSample(); }
  bool ReadSample(std::vector<uint8_t>& out) override {
    reads.push_back(track_->GetCurrentSample());
    return track_->ReadSample(out);
  }
  std::vector<uint32_t> seeks, reads;

 private:
  fileutil::TrackReader* track_;
};

TEST(Decompressor, PrimingOnRandomAccess) {
  fileutil::CreateGlobalFactories();
  esds::CreateDescriptorFactory();
  fileutil::ifstream in;
  in.open(WinePath(ReadFixtureDir() + "lc_2ch_44100.m4a").c_str(), 4096, GENERIC_READ, FILE_SHARE_READ, nullptr,
          OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(in.is_open());
  fileutil::BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(in);
    boxes = reader.ReadAllBoxes();
  }
  ASSERT_NE(boxes, nullptr);
  {
    fileutil::TrackReader track(*boxes, in);
    ASSERT_TRUE(track.Init());
    LoggingTrack log(&track);
    VogAacAudioDecompressor d;
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.wBitsPerSample = 16;
    ASSERT_EQ(d.Open(&track.GetDecoderSpecificInfo(), &f), S_OK);
    std::vector<BYTE> pcm;
    DWORD frames = 0;

    struct Step {
      uint32_t unit;
      std::vector<uint32_t> reads;  // units read for this decode
    };
    const Step steps[] = {
        {1, {1}},     // the first unit: no predecessor
        {2, {2}},     // sequential
        {4, {3, 4}},  // after 2: primed with 3
        {5, {5}},     // after 4: no priming
        {2, {1, 2}},  // backwards: primed with 1
        {1, {1}},     // the first unit again, from a fresh decoder
    };
    std::vector<std::vector<short>> decoded(6);
    for (const Step& s : steps) {
      SCOPED_TRACE(s.unit);
      ASSERT_TRUE(track.SeekSample(s.unit));
      log.reads.clear();
      ASSERT_EQ(d.Decode(&pcm, &log, &frames), S_OK);
      EXPECT_EQ(log.reads, s.reads);
      EXPECT_EQ(frames, 1024u);
      EXPECT_EQ(track.GetCurrentSample(), s.unit);  // the track is left at the unit asked for
      std::vector<short> samples(reinterpret_cast<short*>(pcm.data()), reinterpret_cast<short*>(pcm.data()) + 2048);
      if (decoded[s.unit].empty())
        decoded[s.unit] = samples;
      else
        EXPECT_EQ(samples, decoded[s.unit]) << "a unit decodes the same after priming";
    }
  }
  fileutil::DeleteBoxList(boxes);
}

}  // namespace
