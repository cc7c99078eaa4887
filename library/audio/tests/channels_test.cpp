// Channel operations and the mono mix against numpy: random blocks of every
// sample type with ties and clipping edges, expected results computed by
// numpy at test time; plus the rules' own small cases.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "audio_test_util.h"
#include "vog_tools.h"

using namespace kvtest;

namespace {

WAVEFORMATEX Fmt(KVSAMPLETYPE t, WORD ch) {
  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 48000, t, ch);
  return w;
}

}  // namespace

TEST(Channels, AgainstNumpy) {
  std::ifstream man(FixturePath("audio/channels/manifest.txt"));
  if (!man) VOG_TOOL_MISSING("numpy") << "fixture missing";
  std::string line;
  int cases = 0;
  while (std::getline(man, line)) {
    if (line.empty()) continue;
    std::istringstream is(line);
    std::string op, in, ex;
    unsigned t, sch, dch, channel, frames;
    is >> op >> t >> sch >> dch >> channel >> frames >> in >> ex;
    std::vector<uint8_t> src, want;
    ASSERT_TRUE(ReadFile(FixturePath("audio/channels/" + in), src));
    ASSERT_TRUE(ReadFile(FixturePath("audio/channels/" + ex), want));
    const KVSAMPLETYPE type = static_cast<KVSAMPLETYPE>(t);
    WAVEFORMATEX f = Fmt(type, static_cast<WORD>(sch));
    std::vector<uint8_t> buf(std::max(src.size(), want.size()) + 16, 0xEE);
    std::memcpy(buf.data(), src.data(), src.size());
    HRESULT hr = E_UNEXPECTED;
    // Every operation runs in place where the rules allow it.
    if (op == "avg")
      hr = KvAudio_ChannelChangeAvg(buf.data(), 1, buf.data(), &f, static_cast<int32_t>(frames));
    else if (op == "sum")
      hr = KvAudio_ChannelChange(buf.data(), 1, buf.data(), &f, static_cast<int32_t>(frames));
    else if (op == "spread")
      hr = KvAudio_ChannelChange(buf.data(), dch, buf.data(), &f, static_cast<int32_t>(frames));
    else if (op == "monomix")
      hr = KvAudio_MonoChannel(buf.data(), buf.data(), &f, static_cast<int32_t>(frames));
    else if (op == "extract")
      hr = KvAudio_ExtractChannel(buf.data(), static_cast<int32_t>(channel), src.data(), &f,
                                  static_cast<int32_t>(frames));
    else if (op == "swap")
      hr = KvAudio_SwapStereoChannels(buf.data(), &f, static_cast<int32_t>(frames));
    else if (op == "copych")
      hr = KvAudio_CopyChannelToChannel(buf.data(), &f, 0, sch - 1, static_cast<int32_t>(frames));
    // Swap and channel copy handle only the basic types; the others are refused.
    bool basic = t == 16 || t == 17 || t == 18 || t == 19 || t == 32 || t == 33;
    if ((op == "swap" || op == "copych") && !basic) {
      EXPECT_EQ(hr, E_FAIL) << line;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << line;
    ++cases;
    for (size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(buf[i], want[i]) << line << " byte " << i;
    EXPECT_EQ(buf[want.size()], src.size() > want.size() ? src[want.size()] : 0xEE) << line;
  }
  EXPECT_GT(cases, 100);
}

TEST(Channels, NamedCases) {
  // (20000, 20000) summed clips; averaged stays; ties go to even.
  WAVEFORMATEX s16 = Fmt(KVST_S16, 2);
  int16_t in[2] = {20000, 20000}, out[2] = {0, 0};
  EXPECT_EQ(KvAudio_ChannelChange(out, 1, in, &s16, 1), S_OK);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(KvAudio_ChannelChangeAvg(out, 1, in, &s16, 1), S_OK);
  EXPECT_EQ(out[0], 20000);
  int16_t t1[2] = {1, 2}, t2[2] = {1, 4};
  KvAudio_ChannelChangeAvg(out, 1, t1, &s16, 1);
  EXPECT_EQ(out[0], 2);
  KvAudio_ChannelChangeAvg(out, 1, t2, &s16, 1);
  EXPECT_EQ(out[0], 2);
  WAVEFORMATEX u8 = Fmt(KVST_U8, 2);
  uint8_t b[2] = {0x80, 0xFF}, bo = 0;
  KvAudio_ChannelChangeAvg(&bo, 1, b, &u8, 1);
  EXPECT_EQ(bo, 0xC0);
  int16_t m[2] = {-3, 0};
  KvAudio_MonoChannel(m, m, &s16, 1);
  EXPECT_EQ(m[0], -1);
  EXPECT_EQ(m[1], -1);
  // Refusals leave the destination untouched.
  WAVEFORMATEX six = Fmt(KVST_S16, 6);
  int16_t blk[12] = {}, dst[4] = {7, 7, 7, 7};
  EXPECT_EQ(KvAudio_ChannelChange(dst, 2, blk, &six, 2), E_FAIL);
  EXPECT_EQ(dst[0], 7);
  WAVEFORMATEX w48 = Fmt(KVST_S24IN32, 2);
  EXPECT_EQ(KvAudio_ChannelChangeAvg(dst, 1, blk, &w48, 1), E_FAIL);

  // Silence.
  uint8_t sil[20];
  std::memset(sil, 1, sizeof sil);
  EXPECT_EQ(KvAudio_FillSilence(&u8, sil, 10), S_OK);
  for (uint8_t x : sil) EXPECT_EQ(x, 0x80);
  WAVEFORMATEX s8 = u8;
  s8.wFormatTag = 0xFE01;
  EXPECT_EQ(KvAudio_FillSilence(&s8, sil, 10), S_OK);
  for (uint8_t x : sil) EXPECT_EQ(x, 0);
  EXPECT_EQ(KvAudio_FillSilenceChannel(&s16, sil, 2, 1), E_FAIL);
  WAVEFORMATEX mono = Fmt(KVST_S16, 1);
  EXPECT_EQ(KvAudio_FillSilenceChannel(&mono, sil, 1, 1), E_FAIL);
  EXPECT_EQ(KvAudio_MuteChannel(sil, KVST_FE03_16, 2, 0, 1), E_FAIL);
  EXPECT_EQ(KvAudio_DeInterleaveStereo(sil, sil, sil, KVST_S24, 1), E_NOTIMPL);

  // Fill with one frame.
  WAVEFORMATEX fl = Fmt(KVST_FLOAT, 2);
  float pair[2] = {0.5f, -0.5f};
  int16_t fill[6];
  EXPECT_EQ(KvAudio_FillWithSample(&s16, fill, &fl, pair, 3), S_OK);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(fill[2 * i], 16384);
    EXPECT_EQ(fill[2 * i + 1], -16384);
  }
  float ff[6];
  EXPECT_EQ(KvAudio_FillWithSample(&fl, ff, &fl, pair, 3), S_OK);
  EXPECT_EQ(ff[4], 0.5f);
  std::memset(fill, 0x55, sizeof fill);
  EXPECT_EQ(KvAudio_FillWithSample(&s16, fill, &u8, b, 3), S_OK);
  EXPECT_EQ(fill[5], 0);
}

TEST(Channels, StereoSplitJoinAndSpread) {
  std::vector<float> st(64), l(32), r(32), back(64);
  for (int i = 0; i < 64; ++i) st[i] = static_cast<float>(i);
  EXPECT_EQ(KvAudio_DeInterleaveStereo(l.data(), r.data(), st.data(), KVST_FLOAT, 32), S_OK);
  EXPECT_EQ(l[5], 10.0f);
  EXPECT_EQ(r[5], 11.0f);
  EXPECT_EQ(KvAudio_InterleaveStereo(back.data(), l.data(), r.data(), KVST_FLOAT, 32), S_OK);
  EXPECT_EQ(back, st);
  // Aligned (vector path) and unaligned buffers give the same frames, for
  // every count around the eight-frame step.
  alignas(16) float in[2 * 40 + 4], la[44], ra[44], lu[45], ru[45], j1[2 * 40 + 4], j2[2 * 40 + 5];
  for (int i = 0; i < 84; ++i) in[i] = static_cast<float>(i) * 0.5f - 7.0f;
  for (int n = 0; n <= 40; ++n) {
    ASSERT_EQ(KvAudio_DeInterleaveStereo(la, ra, in, KVST_FLOAT, n), S_OK);
    ASSERT_EQ(KvAudio_DeInterleaveStereo(lu + 1, ru + 1, in, KVST_FLOAT, n), S_OK);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(la[i], in[2 * i]);
      ASSERT_EQ(ra[i], in[2 * i + 1]);
      ASSERT_EQ(lu[i + 1], la[i]);
      ASSERT_EQ(ru[i + 1], ra[i]);
    }
    ASSERT_EQ(KvAudio_InterleaveStereo(j1, la, ra, KVST_FLOAT, n), S_OK);
    ASSERT_EQ(KvAudio_InterleaveStereo(j2 + 1, lu + 1, ru + 1, KVST_FLOAT, n), S_OK);
    for (int i = 0; i < 2 * n; ++i) {
      ASSERT_EQ(j1[i], in[i]);
      ASSERT_EQ(j2[i + 1], in[i]);
    }
  }
  // Mono 24-bit to six channels in one buffer.
  uint8_t buf[4 * 6 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(KvAudio_CopyChannelToMultiMono2(buf, 6, buf, 1, 0, 4, KVST_S24), S_OK);
  for (int f = 0; f < 4; ++f)
    for (int c = 0; c < 6; ++c) EXPECT_EQ(buf[(f * 6 + c) * 3], 1 + 3 * f);
}
