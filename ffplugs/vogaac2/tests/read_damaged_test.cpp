// The read road over damaged variants of the stereo 44.1 kHz fixture: tables
// that claim 0xFFFFFFFF samples where the time table lists the real ones, a
// file cut halfway through unit 21, and a decoder configuration that ends
// before the core coder delay (12 12). The length stays the time table's; a
// read gives the units the file holds, as ffmpeg decodes the whole file, and
// nothing past them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "read_support.h"

namespace {

struct Damaged {
  const char* name;
  LONGLONG readable;  // frames a read gives; -1: the whole length
};

class ReadDamaged : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(reader_.cls(), nullptr) << "no reader class from vogaac2.dll";
    std::ifstream txt(ReadFixtureDir() + "lc_2ch_44100.txt");
    int channels = 0;
    DWORD rate = 0;
    txt >> channels >> rate >> length_;
    ASSERT_GT(length_, 0) << "fixture list missing";
    reference_ = ReferenceSamples(ReadFixtureDir() + "lc_2ch_44100.f32");
    ASSERT_FALSE(reference_.empty());
  }
  Reader reader_;
  LONGLONG length_ = 0;
  std::vector<short> reference_;
};

TEST_F(ReadDamaged, LengthFromTheTimeTableReadsStopAtTheData) {
  const Damaged cases[] = {{"damaged_huge.m4a", -1}, {"damaged_cut.m4a", 20 * 1024}, {"damaged_asc.m4a", -1}};
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.name);
    IKvReadFile* file = nullptr;
    ASSERT_EQ(reader_.OpenFile(WinePath(ReadFixtureDir() + c.name), &file), S_OK);
    IKvReadAudioStream* audio = Reader::Audio(file);
    ASSERT_NE(audio, nullptr);
    LONGLONG frames = 0, duration = 0;
    ASSERT_EQ(audio->GetSampleCount(&frames), S_OK);
    ASSERT_EQ(audio->GetDuration(&duration), S_OK);
    EXPECT_EQ(frames, length_);
    EXPECT_EQ(duration, frames * 10000000 / 44100);
    const LONGLONG readable = c.readable < 0 ? frames : c.readable;

    HRESULT last = S_OK;
    LONG total = 0;
    std::vector<short> got = Reader::ReadRange(audio, 0, static_cast<LONG>(frames) + 5000, 4096, 2, &last, &total);
    EXPECT_EQ(last, S_FALSE);
    EXPECT_EQ(total, readable);
    ASSERT_LE(got.size(), reference_.size());
    size_t bad = 0;
    for (size_t i = 0; i < got.size(); ++i)
      if (std::abs(got[i] - reference_[i]) > 1) ++bad;
    EXPECT_EQ(bad, 0u);

    // Positioned reads past the data give nothing, at once.
    std::vector<short> buffer(2048 * 2);
    for (LONGLONG at : {readable, readable + 1500, frames - 1, frames, frames + 100000}) {
      if (at < readable) continue;
      LONG done = 7;
      HRESULT hr = audio->ReadSamples(at, LocalToken(buffer.data(), static_cast<DWORD>(buffer.size() * 2)), 1024, &done);
      EXPECT_EQ(hr, S_FALSE) << "at " << at;
      EXPECT_EQ(done, 0) << "at " << at;
    }
    audio->Release();
    file->Release();
  }
}

}  // namespace
