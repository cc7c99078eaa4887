// The decoder interface: handle checks, status codes, channel mapping,
// parameters, concealment and the fixed texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mp4AudioDecIfc.h"

namespace {

AudioSpecificConfig parsed(std::vector<uint8_t> b) {
  AudioSpecificConfig a;
  std::memset(&a, 0, sizeof(a));
  EXPECT_EQ(mp4AudioDecParseAsc(b.data(), static_cast<int32_t>(b.size()), &a), 0);
  return a;
}

TEST(DecoderInterface, OpenAndCloseChecks) {
  AudioSpecificConfig a = parsed({0x12, 0x10, 0x56, 0xE5, 0x00});
  AudioSpecificConfig* two[2] = {&a, &a};
  EXPECT_EQ(mp4AudioDecOpen(two, 2), nullptr);
  EXPECT_EQ(mp4AudioDecOpen(nullptr, 1), nullptr);
  AudioSpecificConfig main = parsed({0x0A, 0x10});  // AOT 1
  AudioSpecificConfig* m[1] = {&main};
  EXPECT_EQ(mp4AudioDecOpen(m, 1), nullptr);
  AudioSpecificConfig* one[1] = {&a};
  Mp4AudioDec* d = mp4AudioDecOpen(one, 1);
  ASSERT_NE(d, nullptr);
  const Mp4AudioDecLayer* l = mp4AudioDecGetLayer(d, 0);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->samplingFrequency, 44100);
  EXPECT_EQ(l->samplingFrequencyIndex, 4);
  EXPECT_EQ(l->channelCount, 2);
  EXPECT_EQ(l->frameLength, 1024);
  EXPECT_EQ(l->frameLengthDiv8, 128);
  EXPECT_EQ(l->objectType, 2);
  int32_t fs = 0;
  EXPECT_EQ(mp4AudioDecGetFrameSize(d, &fs), 0);
  EXPECT_EQ(fs, 1024);
  EXPECT_EQ(mp4AudioDecDecodeAu(d, nullptr, nullptr), MP4AUDEC_INVALID_CU_BUFFER);
  CuBuffer* cu = cuBufferCreate(4, 2048, 44100, 2048);
  EXPECT_EQ(mp4AudioDecDecodeAu(d, nullptr, cu), MP4AUDEC_INVALID_AU_BUFFER);
  EXPECT_EQ(mp4AudioDecGetLastError(d), MP4AUDEC_INVALID_AU_BUFFER);
  EXPECT_EQ(mp4AudioDecSelectLayer(d, 5), 0);
  EXPECT_EQ(mp4AudioDecGetLastError(d), 0);
  EXPECT_EQ(mp4AudioDecReset(d, 1), MP4AUDEC_NOT_SUPPORTED);
  EXPECT_EQ(mp4AudioDecReset(d, 0), 0);
  EXPECT_EQ(mp4AudioDecSetParameter(d, 1000, 1.0f), MP4AUDEC_INVALID_ARGUMENT);
  EXPECT_EQ(mp4AudioDecSetParameter(d, MP4AUDEC_PARAM_SBR_LOW_POWER, 1.0f), MP4AUDEC_NOT_SUPPORTED)
      << "low-power SBR while PS is enabled";
  EXPECT_EQ(mp4AudioDecSetParameter(d, MP4AUDEC_PARAM_IMPLICIT_SIGNALLING, 0.0f), 0);
  EXPECT_EQ(mp4AudioDecSetParameter(d, MP4AUDEC_PARAM_SBR_LOW_POWER, 1.0f), 0)
      << "without PS the SBR wrapper re-creates its decoders in low-power mode";
  int32_t v = 7;
  EXPECT_EQ(mp4AudioDecGetParameter(d, 1001, &v), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(mp4AudioDecClose(&d), 0);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(mp4AudioDecClose(&d), MP4AUDEC_INVALID_HANDLE);
  EXPECT_EQ(mp4AudioDecClose(nullptr), MP4AUDEC_NULL_POINTER);
  EXPECT_EQ(mp4AudioDecGetLastError(nullptr), MP4AUDEC_INVALID_HANDLE);
  cuBufferDestroy(&cu);
}

TEST(DecoderInterface, ChannelMappingPerConfiguration) {
  struct Case {
    int cc;
    std::vector<int> inputOfOutput;
    std::vector<int32_t> types;
  };
  const Case cases[] = {
      {1, {0}, {8}},
      {2, {0, 1}, {16, 80}},
      {3, {1, 2, 0}, {16, 80, 8}},
      {4, {1, 2, 0, 3}, {16, 80, 8, 9}},
      {5, {1, 2, 0, 3, 4}, {16, 80, 8, 48, 112}},
      {6, {1, 2, 0, 5, 3, 4}, {16, 80, 8, 144, 48, 112}},
      {7, {3, 4, 0, 7, 5, 6, 1, 2}, {17, 81, 8, 144, 48, 112, 16, 80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cc);
    const int n = static_cast<int>(c.types.size());
    CuBuffer* cu = cuBufferCreate(8, 16, 48000, 0);
    std::vector<std::vector<float>> chans(n, std::vector<float>(16));
    std::vector<const float*> ptrs;
    for (int ch = 0; ch < n; ++ch) {
      for (int i = 0; i < 16; ++i) chans[ch][i] = static_cast<float>(ch * 100 + i);
      ptrs.push_back(chans[ch].data());
    }
    ASSERT_EQ(cuBufferWritePcm(cu, ptrs.data(), 1, n, 16, 48000, CU_WRITE_APPEND), 0);
    ASSERT_EQ(mp4AudioDecMapChannels(c.cc, cu), 0);
    float* s = nullptr;
    cuBufferGetSamples(cu, &s);
    for (int o = 0; o < n; ++o) {
      EXPECT_EQ(s[5 * n + o], static_cast<float>(c.inputOfOutput[o] * 100 + 5)) << "output " << o;
      int32_t t = 0;
      cuBufferGetChannelType(cu, o, &t);
      EXPECT_EQ(t, c.types[o]) << "output " << o;
    }
    cuBufferDestroy(&cu);
  }
  CuBuffer* cu = cuBufferCreate(8, 16, 48000, 0);
  EXPECT_EQ(mp4AudioDecMapChannels(8, cu), MP4AUDEC_BAD_CHANNEL_CONFIG);
  EXPECT_EQ(mp4AudioDecMapChannels(99, cu), MP4AUDEC_BAD_CHANNEL_CONFIG);
  cuBufferDestroy(&cu);
}

TEST(DecoderInterface, ConcealmentFadesToSilence) {
  AudioSpecificConfig a = parsed({0x12, 0x08});  // mono
  AudioSpecificConfig* one[1] = {&a};
  Mp4AudioDec* d = mp4AudioDecOpen(one, 1);
  ASSERT_NE(d, nullptr);
  CuBuffer* cu = cuBufferCreate(2, 2048, 44100, 0);
  ASSERT_EQ(mp4AudioDecConcealAu(d, cu), 0);
  int32_t n = 0;
  cuBufferGetSamplesPerChannel(cu, &n);
  EXPECT_EQ(n, 1024);
  float* s = nullptr;
  cuBufferGetSamples(cu, &s);
  for (int i = 0; i < n; ++i) EXPECT_EQ(s[i], 0.0f);
  mp4AudioDecClose(&d);
  cuBufferDestroy(&cu);
}

TEST(DecoderInterface, FixedTables) {
  const struct { int32_t hz, mode, index; } rates[] = {
      {96000, 0, 0}, {92017, 0, 0}, {92016, 0, 1}, {44100, 0, 4}, {7350, 0, 11}, {9391, 0, 10},
      {44100, 1, 4}, {44000, 1, 4}, {100000, 1, 0}, {8000, 1, 11}, {5000, 1, 11}};
  for (auto& r : rates) EXPECT_EQ(mp4AudioDecSamplingFrequencyIndex(r.hz, r.mode), r.index) << r.hz << " " << r.mode;
  EXPECT_STREQ(mp4AudioDecAotName(2), "AAC_LC");
  EXPECT_STREQ(mp4AudioDecAotName(29), "PS");
  EXPECT_STREQ(mp4AudioDecAotName(40), "<reserved>");
  EXPECT_STREQ(mp4AudioDecAotName(95), "<reserved>");
  EXPECT_STREQ(mp4AudioDecAotName(129), "virtual AOT: MPEG-2 AAC LC Profile");
  EXPECT_STREQ(mp4AudioDecAotName(-1), "invalid");
  EXPECT_STREQ(mp4AudioDecAotName(100), "invalid");
  char info[356];
  EXPECT_EQ(mp4AudioDecGetLibInfo(info), 0);
  EXPECT_STREQ(info, "Dec  7 2007 (11:11:21)");
  EXPECT_STREQ(info + 80, "1.565.11.1");
  EXPECT_STREQ(info + 100, "AAC-lc SBR PS mc-core vc1400 ");
  EXPECT_EQ(mp4AudioDecGetLibInfo(nullptr), MP4AUDEC_NULL_POINTER);
}

}  // namespace
