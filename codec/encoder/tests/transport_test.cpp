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

namespace {

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
      x[i * channels + c] = static_cast<float>(8000.0 * std::sin(2.0 * M_PI * f * i / rate) + noise);
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

}  // namespace
