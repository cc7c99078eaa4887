// Self-contained AAC streams from the core encoder: ADTS (with and without
// the CRC word) and ADIF at every sampling rate the core codes, mono and
// stereo. Here the headers are read back field by field; the streams go to
// the fixture folder, where transport_check.py has ffmpeg and faad decode
// them and measures the decoded tones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "aacenc.h"
#include "encoder_test_util.h"
#include "mp4enc.h"

namespace {

const double kPi = 3.14159265358979323846;

const int32_t kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};

struct Kind {
  const char* name;
  int32_t transport;
  int32_t crc;
};
const Kind kKinds[] = {{"adts", 2, 0}, {"adtscrc", 2, 1}, {"adif", 1, 0}};

// A tone per channel (rate / 16 and rate / 10 Hz, both inside the coded
// band at every rate) with a little noise.
std::vector<float> signal(int32_t rate, int32_t channels, int32_t frames) {
  std::vector<float> x(static_cast<size_t>(frames) * 1024 * channels);
  uint32_t seed = 12345;
  for (size_t i = 0; i < x.size() / channels; ++i) {
    for (int32_t c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 200.0;
      const double f = rate / (c == 0 ? 16.0 : 10.0);
      x[i * channels + c] = static_cast<float>(8000.0 * std::sin(2.0 * kPi * f * i / rate) + noise);
    }
  }
  return x;
}

uint32_t bitsAt(const uint8_t* p, int32_t first, int32_t n) {
  uint32_t v = 0;
  for (int32_t i = first; i < first + n; ++i) v = (v << 1) | ((p[i / 8] >> (7 - i % 8)) & 1u);
  return v;
}

TEST(Transport, AdtsAndAdifStreamsAtEveryRate) {
  std::string list;
  for (int32_t index = 0; index < 12; ++index) {
    const int32_t rate = kRates[index];
    const int32_t rateIndex = 11 - index;  // the table runs from 96000 down
    for (int32_t channels : {1, 2}) {
      for (const Kind& kind : kKinds) {
        const std::string name = std::string(kind.name) + "_" + std::to_string(rate) + "_" + std::to_string(channels);
        SCOPED_TRACE(name);
        AacCoreConfig cfg;
        std::memset(&cfg, 0, sizeof(cfg));
        cfg.sampleRate = rate;
        // 48 kbit/s per channel, or what the low rates allow.
        cfg.bitRate = channels * std::min(48000, rate * 4);
        cfg.nChannels = channels;
        cfg.qualityMode = 1;
        cfg.transportType = kind.transport;
        cfg.crcOption = kind.crc;
        AacCore* core = nullptr;
        ASSERT_EQ(AacCoreOpen(&core, &cfg), 0);
        const int32_t frames = 40;
        const std::vector<float> x = signal(rate, channels, frames);
        std::vector<uint8_t> stream;
        std::vector<uint8_t> out(channels * 768 + 64);
        for (int32_t f = 0; f < frames; ++f) {
          int32_t bytes = 0;
          ASSERT_EQ(AacCoreEncodeFrame(core, &x[static_cast<size_t>(f) * 1024 * channels], 1024 * channels,
                                       out.data(), static_cast<int32_t>(out.size()), &bytes),
                    0);
          ASSERT_GT(bytes, 0);
          const uint8_t* u = out.data();
          if (kind.transport == 2) {
            ASSERT_GE(bytes, 7);
            EXPECT_EQ(bitsAt(u, 0, 12), 0xFFFu);
            EXPECT_EQ(bitsAt(u, 15, 1), kind.crc ? 0u : 1u);  // protection_absent
            EXPECT_EQ(bitsAt(u, 16, 2), 1u);                   // AAC-LC
            EXPECT_EQ(bitsAt(u, 18, 4), static_cast<uint32_t>(rateIndex));
            EXPECT_EQ(bitsAt(u, 23, 3), static_cast<uint32_t>(channels));
            EXPECT_EQ(bitsAt(u, 30, 13), static_cast<uint32_t>(bytes));
            EXPECT_EQ(bitsAt(u, 54, 2), 0u);
          } else {
            // "ADIF" opens the first unit only.
            EXPECT_EQ(f == 0, bytes >= 4 && std::memcmp(u, "ADIF", 4) == 0);
          }
          stream.insert(stream.end(), u, u + bytes);
        }
        AacCoreClose(core);
        EXPECT_TRUE(writeFile(fixturePath("tr_" + name + ".aac"), stream.data(), stream.size()));
        list += name + " " + std::to_string(rate) + " " + std::to_string(channels) + " " + kind.name + "\n";
      }
    }
  }
  EXPECT_TRUE(writeFile(fixturePath("tr_cases.txt"), list.data(), list.size()));
}

TEST(Transport, RefusedTransport) {
  AacCoreConfig cfg;
  std::memset(&cfg, 0, sizeof(cfg));
  cfg.sampleRate = 44100;
  cfg.bitRate = 64000;
  cfg.nChannels = 1;
  AacCore* core = nullptr;
  for (int32_t t : {-1, 3}) {
    cfg.transportType = t;
    EXPECT_EQ(AacCoreOpen(&core, &cfg), 1) << t;
    EXPECT_EQ(core, nullptr);
  }
}

// Input at another rate than the encoder's: a 3 kHz tone burst (0.25 s of
// silence, 1 s of tone, silence) through the interface's converter, written
// as an ADTS stream with the reported delay for transport_check.py, which
// holds the decoded pitch and the burst's length and place.
TEST(Transport, ConvertedInputKeepsPitchAndLength) {
  struct Conversion {
    int32_t inputRate, qualityMode, expectedRate;
  };
  // Quality mode 3 takes the rate table's default (44.1 kHz at 64 kbit/s
  // per channel); 96 kHz is above every row and comes down to 48 kHz.
  const Conversion kConversions[] = {{48000, 3, 44100}, {96000, 1, 48000}, {32000, 3, 44100}};
  std::string list;
  for (const Conversion& cv : kConversions) {
    const std::string name = std::to_string(cv.inputRate) + "_" + std::to_string(cv.expectedRate);
    SCOPED_TRACE(name);
    mp4EncConfig cfg = {2, 128000, cv.qualityMode, 2, cv.inputRate, 0, 0};
    mp4EncHandle enc = nullptr;
    ASSERT_EQ(mp4EncOpen(&enc, &cfg), kMp4EncOk);
    ASSERT_EQ(mp4EncSetTransport(enc, 2, 0), kMp4EncOk);
    int32_t block = 0;
    ASSERT_EQ(mp4EncInit(&enc, &block), kMp4EncOk);
    ASSERT_EQ(mp4EncSetTransport(enc, 0, 0), kMp4EncInit);  // too late
    mp4EncInfo info;
    ASSERT_EQ(mp4EncGetInfo(enc, &info), kMp4EncOk);
    EXPECT_EQ(info.sampleRate, cv.expectedRate);
    const int32_t n = cv.inputRate * 2;
    std::vector<float> x(static_cast<size_t>(n) * 2, 0.0f);
    for (int32_t i = cv.inputRate / 4; i < cv.inputRate / 4 + cv.inputRate; ++i)
      x[2 * i] = x[2 * i + 1] = static_cast<float>(0.25 * std::sin(2.0 * kPi * 3000.0 * i / cv.inputRate));
    std::vector<uint8_t> stream, out(30 * 1600);
    int32_t pos = 0;
    for (int guard = 0; guard < 100000; ++guard) {
      int32_t consumed = 0, next = 0, bytes = 0;
      mp4EncUnits* units = nullptr;
      const int32_t give = pos < 2 * n ? std::min(2 * n - pos, 4000) : 0;
      ASSERT_EQ(mp4EncEncode(enc, give ? &x[pos] : nullptr, give, &consumed, &next, out.data(),
                             static_cast<int32_t>(out.size()), &bytes, &units),
                kMp4EncOk);
      pos += consumed;
      stream.insert(stream.end(), out.begin(), out.begin() + bytes);
      if (give == 0 && bytes == 0) break;
    }
    mp4EncClose(&enc);
    EXPECT_TRUE(writeFile(fixturePath("cv_" + name + ".aac"), stream.data(), stream.size()));
    list += name + " " + std::to_string(cv.inputRate) + " " + std::to_string(cv.expectedRate) + " " +
            std::to_string(info.totalDelay) + "\n";
  }
  EXPECT_TRUE(writeFile(fixturePath("cv_cases.txt"), list.data(), list.size()));
}

}  // namespace
