// A float WAV converted by ffmpeg (made at test time) and by KvAudio_Copy to
// 16-bit, unsigned 8-bit and 32-bit PCM must match byte for byte, ties
// included, at every processor level.
#include <gtest/gtest.h>

#include "audio_test_util.h"
#include "kvaudio_internal.h"
#include "vog_tools.h"

using namespace kvtest;

TEST(ConvertFfmpeg, FloatToPcmMatchesByteForByte) {
  std::vector<uint8_t> raw;
  if (!ReadFile(FixturePath("audio/conv_f32.raw"), raw)) VOG_TOOL_MISSING("ffmpeg") << "fixture missing";
  const size_t n = raw.size() / 4;
  struct Target {
    const char* file;
    KVSAMPLETYPE type;
  } targets[] = {{"audio/conv_ffmpeg.s16le", KVST_S16}, {"audio/conv_ffmpeg.u8", KVST_U8},
                 {"audio/conv_ffmpeg.s32le", KVST_S32}};
  WAVEFORMATEX src{};
  KvAudio_InitWfx(&src, 48000, KVST_FLOAT, 1);
  for (DWORD allow : {DWORD(0), DWORD(0x30), DWORD(0xFFFFFFF0)}) {
    KvAudioCpu_OnlyAllow(allow);
    for (const Target& t : targets) {
      std::vector<uint8_t> want;
      ASSERT_TRUE(ReadFile(FixturePath(t.file), want)) << t.file;
      const size_t bytes = KvAudio_BytesFromSampleType(t.type);
      ASSERT_EQ(want.size(), n * bytes);
      WAVEFORMATEX dst{};
      KvAudio_InitWfx(&dst, 48000, t.type, 1);
      std::vector<uint8_t> got(want.size());
      ASSERT_EQ(KvAudio_Copy(&dst, got.data(), &src, raw.data(), static_cast<int32_t>(n), 1.0f), S_OK);
      size_t mismatches = 0, first = n;
      for (size_t i = 0; i < n; ++i)
        if (std::memcmp(&got[i * bytes], &want[i * bytes], bytes) != 0) {
          if (first == n) first = i;
          ++mismatches;
        }
      float x = first < n ? reinterpret_cast<const float*>(raw.data())[first] : 0.0f;
      EXPECT_EQ(mismatches, 0u) << t.file << " allow " << allow << " first at " << first << " value " << x;
    }
  }
  KvAudioCpu_AllowAll();
}
