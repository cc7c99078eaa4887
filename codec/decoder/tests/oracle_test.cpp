// Whole files decoded through the decoder interface against ffmpeg's float
// decode of the same frames (made by make_fixtures.sh): rates, layouts, PCE,
// short windows, M/S, intensity, TNS; PNS by band energy; ffmpeg-made AOT 1
// and 4 files and the xHE-AAC vector refused at open.
#include <gtest/gtest.h>

#include <cstdio>

#include "mp4AudioDecIfc.h"
#include "testsupport.h"

namespace {

struct OracleCase {
  const char* name;
  int channels;
  int rate;
};

// ffmpeg's decoder puts the two front pairs of channel configuration 7 the
// other way round: it calls the first pair (our Lc Rc, output channels 6-7)
// front left/right. Reference channel of each of our output channels:
const int kMap71[8] = {6, 7, 2, 3, 4, 5, 0, 1};

class OracleTest : public ::testing::TestWithParam<OracleCase> {};

TEST_P(OracleTest, MatchesFfmpegWithin100dB) {
  const OracleCase& c = GetParam();
  const std::string file = fixturePath(std::string(c.name) + ".m4a");
  ASSERT_TRUE(fileExists(file)) << file;
  DecodedFile d;
  std::string err;
  ASSERT_TRUE(decodeFile(file, &d, &err)) << err;
  ASSERT_EQ(d.parseStatus, 0);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.rate, c.rate);
  EXPECT_EQ(d.failures, 0);
  const std::vector<float> ref = readF32(fixturePath(std::string(c.name) + ".f32"));
  ASSERT_EQ(ref.size(), d.pcm.size()) << "ffmpeg and we decode a different number of samples";
  for (int ch = 0; ch < c.channels; ++ch) {
    const int refCh = c.channels == 8 ? kMap71[ch] : ch;
    const Comparison r = compareChannel(d.pcm, ref, c.channels, ch, refCh);
    EXPECT_GE(r.snrDb, 100.0) << c.name << " channel " << ch;
    EXPECT_LE(r.maxAbs, 1e-4) << c.name << " channel " << ch;
    std::printf("%-8s ch%d  SNR %.1f dB  max |diff| %.3g\n", c.name, ch, r.snrDb, r.maxAbs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, OracleTest,
    ::testing::Values(OracleCase{"st8k", 2, 8000}, OracleCase{"st11k", 2, 11025}, OracleCase{"st16k", 2, 16000},
                      OracleCase{"st22k", 2, 22050}, OracleCase{"st32k", 2, 32000}, OracleCase{"st44k", 2, 44100},
                      OracleCase{"st48k", 2, 48000}, OracleCase{"st88k", 2, 88200}, OracleCase{"st96k", 2, 96000},
                      OracleCase{"mono44k", 1, 44100}, OracleCase{"mono22k", 1, 22050},
                      OracleCase{"ch51", 6, 48000}, OracleCase{"ch71", 8, 48000}, OracleCase{"pce", 2, 44100},
                      OracleCase{"pce51", 6, 44100}, OracleCase{"clicks", 2, 44100}, OracleCase{"ms", 2, 44100},
                      OracleCase{"is", 2, 44100}, OracleCase{"tns", 2, 44100},
                      OracleCase{"f960", 2, 48000}),
    [](const ::testing::TestParamInfo<OracleCase>& i) { return std::string(i.param.name); });

TEST(OracleNoise, PnsBandEnergiesWithin1_5dB) {
  for (const OracleCase c : {OracleCase{"pns", 2, 44100}, OracleCase{"pnsmono", 1, 32000}}) {
    DecodedFile d;
    std::string err;
    ASSERT_TRUE(decodeFile(fixturePath(std::string(c.name) + ".m4a"), &d, &err)) << err;
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.failures, 0);
    const std::vector<float> ref = readF32(fixturePath(std::string(c.name) + ".f32"));
    ASSERT_EQ(ref.size(), d.pcm.size());
    const BandStats s = bandEnergyStats(d.pcm, ref, c.channels);
    EXPECT_GT(s.bands, 1000u);
    EXPECT_LE(s.p99, 1.5) << c.name;
    std::printf("%-8s band energy |diff| p99 %.2f dB max %.2f dB over %zu bands\n", c.name, s.p99, s.max, s.bands);
  }
}

TEST(OracleLayouts, ChannelTypesOfTheOutputOrder) {
  DecodedFile d;
  std::string err;
  ASSERT_TRUE(decodeFile(fixturePath("ch51.m4a"), &d, &err)) << err;
  EXPECT_EQ(d.channelTypes, (std::vector<int32_t>{16, 80, 8, 144, 48, 112}));
  DecodedFile p;
  ASSERT_TRUE(decodeFile(fixturePath("pce51.m4a"), &p, &err)) << err;
  EXPECT_EQ(p.channelTypes, (std::vector<int32_t>(6, 1)));
}

TEST(OracleVectors, SharedLcVectorsMatchFfmpeg) {
  const char* vectors[] = {"count-deutsch-audio.mp4", "test-pod.m4a", "afconvert-aac-0.5s.mp4", "itunes811.m4a"};
  int run = 0;
  for (const char* v : vectors) {
    const std::string file = sharedPath(std::string("vectors/mp4/") + v);
    const std::string refFile = fixturePath(std::string("vec_") + v + ".f32");
    if (!fileExists(file) || !fileExists(refFile)) continue;
    ++run;
    DecodedFile d;
    std::string err;
    ASSERT_TRUE(decodeFile(file, &d, &err)) << v << ": " << err;
    ASSERT_TRUE(d.opened) << v;
    EXPECT_EQ(d.failures, 0) << v;
    const std::vector<float> ref = readF32(refFile);
    ASSERT_EQ(ref.size(), d.pcm.size()) << v;
    for (int ch = 0; ch < d.channels; ++ch) {
      const Comparison r = compareChannel(d.pcm, ref, d.channels, ch, ch);
      EXPECT_GE(r.snrDb, 100.0) << v << " channel " << ch;
      EXPECT_LE(r.maxAbs, 1e-4) << v << " channel " << ch;
      std::printf("%-24s ch%d  SNR %.1f dB  max |diff| %.3g\n", v, ch, r.snrDb, r.maxAbs);
    }
  }
  if (!run) GTEST_SKIP() << "shared test vectors absent";
}

TEST(OracleRefusals, OtherObjectTypesAreRefusedAtOpen) {
  // Main profile and LTP (ffmpeg encodes them): the configuration parses, the
  // decoder refuses to open.
  for (const char* name : {"main.m4a", "ltp.m4a"}) {
    const std::string file = fixturePath(name);
    if (!fileExists(file)) continue;
    DecodedFile d;
    std::string err;
    ASSERT_TRUE(decodeFile(file, &d, &err)) << err;
    EXPECT_EQ(d.parseStatus, 0) << name;
    EXPECT_FALSE(d.opened) << name;
  }
  // USAC (object type 42): the parser refuses it with -86.
  const std::string xhe = sharedPath("vectors/mp4/sine-3s-xhe-aac-44khz-mono.mp4");
  if (fileExists(xhe)) {
    DecodedFile d;
    std::string err;
    ASSERT_TRUE(decodeFile(xhe, &d, &err)) << err;
    EXPECT_EQ(d.parseStatus, MP4AUDEC_UNSUPPORTED_AOT);
    EXPECT_FALSE(d.opened);
  }
}

}  // namespace
