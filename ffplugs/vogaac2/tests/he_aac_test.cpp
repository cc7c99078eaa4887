// HE-AAC files (explicit, AOT 29 and implicit signalling, a three-frame file,
// a cut file, a mono file that says it has no PS) read at the rate and channel count ffprobe reports, and close to
// ffmpeg's decode (at least 55 dB after both are cut to 16 bits). The output
// format is what the decoder delivers, so a file that comes out at its core
// rate means SBR was not applied.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "read_support.h"

namespace {

struct HeFile {
  std::string name;
  DWORD rate;
  int channels;
};

TEST(HeAac, RateChannelsAndSamplesAgainstFfmpeg) {
  std::ifstream list(ReadFixtureDir() + "he_list.txt");
  if (!list) GTEST_SKIP() << "no HE-AAC fixtures (shared vectors absent)";
  std::vector<HeFile> files;
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream in(line);
    HeFile f;
    if (in >> f.name >> f.rate >> f.channels) files.push_back(f);
  }
  ASSERT_EQ(files.size(), 6u);
  Reader reader;
  ASSERT_NE(reader.cls(), nullptr);
  for (const HeFile& f : files) {
    SCOPED_TRACE(f.name);
    IKvReadFile* file = nullptr;
    ASSERT_EQ(reader.OpenFile(WinePath(ReadFixtureDir() + f.name), &file), S_OK);
    IKvReadAudioStream* audio = Reader::Audio(file);
    ASSERT_NE(audio, nullptr);
    BYTE record[184] = {};
    ASSERT_EQ(audio->GetStreamFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(record)), S_OK);
    WORD channels = 0;
    DWORD rate = 0;
    RecordFormat(record, &channels, &rate);
    LONGLONG frames = 0, duration = 0;
    ASSERT_EQ(audio->GetSampleCount(&frames), S_OK);
    ASSERT_EQ(audio->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, frames * 10000000 / rate);
    {
      EXPECT_EQ(rate, f.rate);
      EXPECT_EQ(channels, f.channels);
      std::vector<short> got = Reader::ReadRange(audio, 0, static_cast<LONG>(frames), 4096, channels);
      std::vector<short> ref = ReferenceSamples(ReadFixtureDir() + f.name + ".f32");
      size_t n = std::min(got.size(), ref.size());
      EXPECT_GE(n + 2048 * channels, ref.size()) << "the read is far shorter than ffmpeg's";
      double signal = 0, noise = 0;
      for (size_t i = 0; i < n; ++i) {
        signal += double(ref[i]) * ref[i];
        noise += double(got[i] - ref[i]) * (got[i] - ref[i]);
      }
      double snr = noise > 0 ? 10 * std::log10(signal / noise) : 200;
      EXPECT_GE(snr, 55.0) << "SNR against ffmpeg";
      std::printf("%s: %u Hz, %u channels, %.1f dB against ffmpeg\n", f.name.c_str(), unsigned(rate), unsigned(channels), snr);
    }
    audio->Release();
    file->Release();
  }
}

}  // namespace
