// The MP4 audio decoder's positioning over a fake decompressor whose samples
// encode (unit, frame): left = unit number, right = frame within the unit.
// Every read must return exactly the frames of that position, whatever the
// order of reads; the cache decodes a unit once; a failed decode leaves no
// stale frames; reads stop at the track length.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "descriptors.h"
#include "factories.h"
#include "ffbase_mpeg4audiodecoder.h"
#include "metafactories.h"
#include "trackreader.h"
#include "vog_paths.h"

namespace {

std::wstring FixturePath(const char* name) { return vogtest::WineFixturePath(std::string("readroad/") + name); }

struct FakeLog {
  int decodes = 0;
  std::vector<DWORD> units;  // units decoded, in order
  DWORD failOnce = 0;        // this unit fails the first time it is decoded
};

// Stereo 16-bit; each unit decodes to `frames` frames.
class FakeDecompressor : public ffbase::IAudioDecompressor {
 public:
  FakeDecompressor(FakeLog* log, DWORD frames) : log_(log), frames_(frames) {}
  HRESULT Open(const std::vector<BYTE>*, WAVEFORMATEX* format) override {
    format->nChannels = 2;
    format->nBlockAlign = 4;
    format->nAvgBytesPerSec = format->nSamplesPerSec * 4;
    return S_OK;
  }
  HRESULT Decode(std::vector<BYTE>* pcm, fileutil::ITrackReader* source, DWORD* frames) override {
    DWORD unit = source->GetCurrentSample();
    ++log_->decodes;
    log_->units.push_back(unit);
    if (unit == log_->failOnce) {
      log_->failOnce = 0;
      return E_FAIL;
    }
    pcm->resize(frames_ * 4);
    short* s = reinterpret_cast<short*>(pcm->data());
    for (DWORD f = 0; f < frames_; ++f) {
      s[2 * f] = static_cast<short>(unit);
      s[2 * f + 1] = static_cast<short>(f);
    }
    *frames = frames_;
    return S_OK;
  }
  HRESULT GetFormatTag(WORD* tag) override {
    *tag = 0xAAC0;
    return S_OK;
  }
  HRESULT Close() override { return S_OK; }

 private:
  FakeLog* log_;
  DWORD frames_;
};

// The process-wide box, tag and descriptor factories, as the module makes
// them at attach (for every test of this program).
class Factories : public ::testing::Environment {
 public:
  void SetUp() override { InitMetaFactories(); }
  void TearDown() override { TermMetaFactories(); }
};
::testing::Environment* const kFactories = ::testing::AddGlobalTestEnvironment(new Factories);

class DecoderPositions : public ::testing::Test {
 protected:
  // Opens the 1.5 s stereo 44.1 kHz fixture (units of 1024 media units).
  void OpenWith(DWORD framesPerUnit) {
    decoder_.reset(new ffbase::Mpeg4AudioDecoder(new FakeDecompressor(&log_, framesPerUnit)));
    ASSERT_EQ(decoder_->SetPath(FixturePath("lc_2ch_44100.m4a").c_str()), S_OK);
    ASSERT_EQ(decoder_->Open(), S_OK);
    ASSERT_EQ(decoder_->GetSampleCount(&total_), S_OK);
    scale_ = framesPerUnit / 1024.0;
    log_.decodes = 0;
    log_.units.clear();
  }
  // Checks frames [first, first + n) of a read against the (unit, frame) code.
  void Expect(LONGLONG first, const std::vector<short>& got, DWORD n, DWORD framesPerUnit) {
    for (DWORD i = 0; i < n; ++i) {
      LONGLONG p = first + i;
      ASSERT_EQ(got[2 * i], static_cast<short>(p / framesPerUnit + 1)) << "frame " << p;
      ASSERT_EQ(got[2 * i + 1], static_cast<short>(p % framesPerUnit)) << "frame " << p;
    }
  }
  HRESULT Read(LONGLONG first, DWORD count, std::vector<short>* out, DWORD* done) {
    out->assign(static_cast<size_t>(count) * 2 + 2, 0x7777);
    return decoder_->Read(first, out->data(), count, done);
  }

  FakeLog log_;
  std::unique_ptr<ffbase::Mpeg4AudioDecoder> decoder_;
  LONGLONG total_ = 0;
  double scale_ = 1;
};

TEST_F(DecoderPositions, LengthAndFormats) {
  OpenWith(1024);
  std::string txt;
  EXPECT_EQ(total_, 67174);  // ffprobe's duration_ts of the fixture (checked again against ffprobe by the plug-in tests)
  LONGLONG duration = 0;
  ASSERT_EQ(decoder_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 67174LL * 10000000 / 44100);
  WAVEFORMATEX* pcm = nullptr;
  ASSERT_EQ(decoder_->GetOutputFormat(&pcm), S_OK);
  EXPECT_EQ(pcm->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(pcm->wBitsPerSample, 16);
  EXPECT_EQ(pcm->nSamplesPerSec, 44100u);
  EXPECT_EQ(decoder_->GetBlockAlign(), 4);
}

TEST_F(DecoderPositions, TableOfReads) {
  struct Step {
    LONGLONG first;
    DWORD count;
    DWORD expectDone;
    HRESULT expect;
    int maxDecodes;  // decodes this step may take
  };
  // After opening, unit 1 is cached (the decoder probes it to learn the real format).
  const Step steps[] = {
      {0, 1024, 1024, S_OK, 0},       // the cached first unit
      {1024, 1024, 1024, S_OK, 1},    // sequential
      {2048, 100, 100, S_OK, 1},      // sequential, part of a unit
      {2148, 100, 100, S_OK, 0},      // same unit from the cache
      {1500, 4000, 548, S_OK, 2},     // back one unit: primes and decodes
      {0, 100, 100, S_OK, 1},
      {100, 100, 100, S_OK, 0},
      {67173, 10, 1, S_OK, 1},        // the last frame
      {67174, 10, 0, S_FALSE, 0},     // at the end
      {67000, 1024, 174, S_OK, 1},    // across the end: clamped to the length
      {66560, 1024, 614, S_OK, 1},    // the last unit holds only 614 frames of the track
      {90000, 10, 0, S_FALSE, 0},
  };
  OpenWith(1024);
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "read " << s.count << " at " << s.first);
    std::vector<short> out;
    DWORD done = 12345;
    int before = log_.decodes;
    EXPECT_EQ(Read(s.first, s.count, &out, &done), s.expect);
    EXPECT_EQ(done, s.expectDone);
    EXPECT_LE(log_.decodes - before, s.maxDecodes);
    Expect(s.first, out, done, 1024);
    // Nothing is written past what was delivered.
    EXPECT_EQ(out[2 * done], 0x7777);
  }
}

TEST_F(DecoderPositions, RightAfterOpenAtPosition1500) {
  OpenWith(1024);
  // Reopen so that nothing beyond the probe is cached, then read unit 2 first.
  std::vector<short> out;
  DWORD done = 0;
  ASSERT_EQ(Read(1500, 2000, &out, &done), S_OK);
  EXPECT_EQ(done, 548u);
  Expect(1500, out, done, 1024);
}

TEST_F(DecoderPositions, RandomSeeksAndFullSequentialRead) {
  for (DWORD framesPerUnit : {1024u, 2048u}) {
    SCOPED_TRACE(framesPerUnit);
    OpenWith(framesPerUnit);
    const LONGLONG total = total_;
    EXPECT_EQ(total, static_cast<LONGLONG>(67174 * scale_));
    // One full sequential read, unit by unit.
    LONGLONG position = 0;
    std::vector<short> out;
    while (true) {
      DWORD done = 0;
      HRESULT hr = Read(position, 4096, &out, &done);
      ASSERT_TRUE(hr == S_OK || hr == S_FALSE);
      Expect(position, out, done, framesPerUnit);
      position += done;
      if (hr == S_FALSE || done == 0) break;
    }
    EXPECT_EQ(position, total);
    std::mt19937 random(1234 + framesPerUnit);
    for (int i = 0; i < 50; ++i) {
      LONGLONG first = random() % (total + 100);
      DWORD count = 1 + random() % 3000;
      DWORD done = 0;
      HRESULT hr = Read(first, count, &out, &done);
      if (first >= total) {
        EXPECT_EQ(hr, S_FALSE);
        EXPECT_EQ(done, 0u);
        continue;
      }
      ASSERT_EQ(hr, S_OK) << first;
      ASSERT_GT(done, 0u);
      ASSERT_LE(first + done, total);
      Expect(first, out, done, framesPerUnit);
    }
  }
}

TEST_F(DecoderPositions, FailedDecodeLeavesNoStaleFrames) {
  OpenWith(1024);
  std::vector<short> out;
  DWORD done = 0;
  ASSERT_EQ(Read(5 * 1024, 10, &out, &done), S_OK);  // unit 6 cached
  log_.failOnce = 8;
  done = 99;
  EXPECT_EQ(Read(7 * 1024, 10, &out, &done), E_FAIL);
  // The retry at the same unit decodes it again and gets its own frames.
  int before = log_.decodes;
  ASSERT_EQ(Read(7 * 1024, 10, &out, &done), S_OK);
  EXPECT_EQ(log_.decodes - before, 1);
  Expect(7 * 1024, out, done, 1024);
  // Also after a failed sequential decode.
  log_.failOnce = 9;
  ASSERT_EQ(Read(8 * 1024 - 10, 10, &out, &done), S_OK);
  EXPECT_EQ(Read(8 * 1024, 10, &out, &done), E_FAIL);
  ASSERT_EQ(Read(8 * 1024, 10, &out, &done), S_OK);
  Expect(8 * 1024, out, done, 1024);
}

TEST_F(DecoderPositions, BadArgumentsAndUnopened) {
  OpenWith(1024);
  std::vector<short> out(100);
  DWORD done = 7;
  EXPECT_EQ(decoder_->Read(-1, out.data(), 10, &done), E_INVALIDARG);
  EXPECT_EQ(decoder_->Read(-5000, out.data(), 10, &done), E_INVALIDARG);
  EXPECT_EQ(decoder_->Read(0, out.data(), 10, nullptr), E_INVALIDARG);

  // A decoder never opened has no length, answers reads with S_FALSE, and has
  // no rate to turn frames into time.
  FakeLog log;
  ffbase::Mpeg4AudioDecoder unopened(new FakeDecompressor(&log, 1024));
  done = 7;
  EXPECT_EQ(unopened.Read(0, out.data(), 10, &done), S_FALSE);
  EXPECT_EQ(done, 0u);
  LONGLONG duration = 0;
  EXPECT_EQ(unopened.GetDuration(&duration), E_FAIL);

  // A file that is not MP4, and one that does not exist.
  ffbase::Mpeg4AudioDecoder other(new FakeDecompressor(&log, 1024));
  ASSERT_EQ(other.SetPath(FixturePath("lc_2ch_44100.f32").c_str()), S_OK);
  EXPECT_EQ(other.Open(), E_FAIL);
  EXPECT_EQ(other.Open(), E_FAIL);  // reopening after a failure is clean
  ASSERT_EQ(other.SetPath(FixturePath("no-such-file.m4a").c_str()), S_OK);
  EXPECT_EQ(other.Open(), E_FAIL);
}

TEST_F(DecoderPositions, ReopenKeepsPositionsRight) {
  OpenWith(1024);
  std::vector<short> out;
  DWORD done = 0;
  ASSERT_EQ(Read(3000, 100, &out, &done), S_OK);
  ASSERT_EQ(decoder_->Close(), S_OK);
  EXPECT_FALSE(decoder_->IsOpen());
  // A read after Close reopens the file.
  ASSERT_EQ(Read(3100, 100, &out, &done), S_OK);
  EXPECT_TRUE(decoder_->IsOpen());
  Expect(3100, out, done, 1024);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(decoder_->Open(), S_OK);
  ASSERT_EQ(Read(40000, 100, &out, &done), S_OK);
  Expect(40000, out, done, 1024);
}

}  // namespace
