// The encoder end to end through its interface: the test signals of the
// fixture folder are encoded at several bitrates, rates and channel counts;
// the access units, the AudioSpecificConfig and the reported delay go to the
// fixture folder, where a shell step wraps them in MP4 files, decodes them
// with ffmpeg and measures them against the input and against ffmpeg's own
// encoder. Here every unit is also decoded by our decoder, and the interface's
// tables, refusals and flush are checked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "aacenc.h"
#include "encoder_test_util.h"
#include "mp4AudioDecIfc.h"
#include "mp4enc.h"

namespace {

struct Case {
  const char* signal;
  int32_t rate;
  int32_t channels;
  int32_t bitRate;
  int32_t channelMode = 0;  // 0: the channel count (1 mono, 2 one pair)
};

const Case kCases[] = {
    {"sweep", 44100, 2, 64000},  {"sweep", 44100, 2, 96000},  {"sweep", 44100, 2, 128000},
    {"pink", 44100, 2, 64000},   {"pink", 44100, 2, 96000},   {"pink", 44100, 2, 128000},
    {"music", 44100, 2, 64000},  {"music", 44100, 2, 96000},  {"music", 44100, 2, 128000},
    {"clicks", 44100, 2, 64000}, {"clicks", 44100, 2, 96000}, {"clicks", 44100, 2, 128000},
    {"music", 44100, 1, 64000},  {"pink", 44100, 1, 56000},   {"music", 48000, 2, 128000},
    {"clicks", 48000, 1, 64000},
    {"music", 44100, 2, 112000, 16},  // two single-channel elements and a PCE
};

std::string caseName(const Case& c) {
  return std::string(c.signal) + "_" + std::to_string(c.rate) + "_" + std::to_string(c.channels) + "_" +
         std::to_string(c.bitRate / 1000) + (c.channelMode ? "_m" + std::to_string(c.channelMode) : "");
}

std::vector<float> readF32(const std::string& path) {
  std::vector<float> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  v.resize(static_cast<size_t>(n) / sizeof(float));
  if (std::fread(v.data(), sizeof(float), v.size(), f) != v.size()) v.clear();
  std::fclose(f);
  return v;
}

struct Encoded {
  std::vector<uint8_t> asc;
  std::vector<std::vector<uint8_t>> units;
  mp4EncInfo info;
};

// Feeds the input in uneven pieces, then flushes until no unit comes.
void encode(const mp4EncConfig& cfg, const std::vector<float>& pcm, Encoded* out) {
  mp4EncHandle h = nullptr;
  ASSERT_EQ(mp4EncOpen(&h, &cfg), 0);
  int32_t frameSamples = 0;
  ASSERT_EQ(mp4EncInit(&h, &frameSamples), 0);
  ASSERT_EQ(frameSamples, 1024 * mp4EncChannelCount(cfg.channelMode));
  ASSERT_EQ(mp4EncGetInfo(h, &out->info), 0);
  out->asc.assign(out->info.asc->data, out->info.asc->data + (out->info.asc->bits + 7) / 8);
  std::vector<uint8_t> buffer(8000 * 4);
  auto take = [&](int32_t bytes, const mp4EncUnits* units) {
    ASSERT_LE(units->count, kMp4EncMaxUnits);
    int32_t pos = 0;
    for (int32_t u = 0; u < units->count; ++u) {
      out->units.emplace_back(buffer.begin() + pos, buffer.begin() + pos + units->sizes[u]);
      pos += units->sizes[u];
    }
    ASSERT_EQ(pos, bytes);
  };
  const size_t pieces[] = {3000, 1, 4096, 777, 2048};
  size_t pos = 0, k = 0;
  while (pos < pcm.size()) {
    const int32_t n = static_cast<int32_t>(std::min(pcm.size() - pos, pieces[k++ % 5]));
    int32_t consumed = 0, next = 0, bytes = 0;
    mp4EncUnits* units = nullptr;
    ASSERT_EQ(mp4EncEncode(h, pcm.data() + pos, n, &consumed, &next, buffer.data(),
                           static_cast<int32_t>(buffer.size()), &bytes, &units), 0);
    ASSERT_EQ(consumed, n);
    take(bytes, units);
    pos += consumed;
  }
  for (int guard = 0; guard < 100; ++guard) {
    int32_t consumed = 0, next = 0, bytes = 0;
    mp4EncUnits* units = nullptr;
    ASSERT_EQ(mp4EncEncode(h, nullptr, 0, &consumed, &next, buffer.data(), static_cast<int32_t>(buffer.size()),
                           &bytes, &units), 0);
    ASSERT_LE(units->count, 1);
    if (units->count == 0) break;
    take(bytes, units);
  }
  EXPECT_EQ(mp4EncClose(&h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(mp4EncClose(&h), 0);  // a cleared handle is accepted
}

// The core encoder alone, for a rate the interface would convert (stereo at
// 32000 bit/s per channel runs at 32 kHz there, and no rate converter is
// built): the same framing, scale and flush as the interface.
void encodeWithCore(const mp4EncConfig& cfg, const std::vector<float>& pcm, Encoded* out) {
  const int32_t channels = mp4EncChannelCount(cfg.channelMode);
  AacCoreConfig core;
  std::memset(&core, 0, sizeof(core));
  core.sampleRate = cfg.sampleRate;
  core.bitRate = cfg.bitRate;
  core.nChannels = channels;
  AacCore* c = nullptr;
  ASSERT_EQ(AacCoreOpen(&c, &core), 0);
  std::memset(&out->info, 0, sizeof(out->info));
  out->info.totalDelay = 2624;
  out->info.sampleRate = cfg.sampleRate;
  // LC, 44.1 kHz, the channel configuration.
  const int32_t index = cfg.sampleRate == 48000 ? 3 : 4;
  out->asc = {static_cast<uint8_t>(0x10 | (index >> 1)), static_cast<uint8_t>(((index & 1) << 7) | (channels << 3))};
  const size_t frame = 1024 * channels;
  std::vector<float> padded(pcm);
  padded.resize(((pcm.size() + 2624 * channels + frame - 1) / frame) * frame, 0.0f);
  std::vector<float> scaled(frame);
  std::vector<uint8_t> unit(6144 * channels / 8);
  for (size_t pos = 0; pos < padded.size(); pos += frame) {
    for (size_t i = 0; i < frame; ++i) scaled[i] = padded[pos + i] * 32768.0f;
    int32_t bytes = 0;
    ASSERT_EQ(AacCoreEncodeFrame(c, scaled.data(), static_cast<int32_t>(frame), unit.data(),
                                 static_cast<int32_t>(unit.size()), &bytes), 0);
    out->units.emplace_back(unit.begin(), unit.begin() + bytes);
  }
  AacCoreClose(c);
}

// Our decoder's PCM (full scale +-1.0) of the units.
std::vector<float> decodeOurs(const Encoded& e, int32_t channels, int32_t rate) {
  std::vector<float> pcm;
  AudioSpecificConfig config;
  std::memset(&config, 0, sizeof(config));
  EXPECT_EQ(mp4AudioDecParseAsc(e.asc.data(), static_cast<int32_t>(e.asc.size()), &config), 0);
  AudioSpecificConfig* records[1] = {&config};
  Mp4AudioDec* dec = mp4AudioDecOpen(records, 1);
  EXPECT_NE(dec, nullptr);
  if (!dec) return pcm;
  AuBuffer* au = auBufferCreate(nullptr, 0);
  CuBuffer* cu = cuBufferCreate(2 * channels, 2048, rate, 2048);
  AuBuffer* aus[1] = {au};
  for (size_t f = 0; f < e.units.size(); ++f) {
    auBufferReset(au);
    int32_t status = auBufferFeed(au, e.units[f].data(), static_cast<int32_t>(e.units[f].size()));
    cuBufferReset(cu);
    if (!status) status = mp4AudioDecDecodeAu(dec, aus, cu);
    EXPECT_EQ(status, 0) << "unit " << f;
    if (status) break;
    int32_t ch = 0, n = 0;
    float* samples = nullptr;
    cuBufferGetChannels(cu, &ch);
    cuBufferGetSamplesPerChannel(cu, &n);
    cuBufferGetSamples(cu, &samples);
    EXPECT_EQ(ch, channels);
    for (int i = 0; i < n * ch; ++i) pcm.push_back(samples[i] / 32768.0f);
  }
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
  return pcm;
}

TEST(EncoderEndToEnd, SignalsEncodeWithinTheUnitLimitAndDecode) {
  std::string list;
  for (const Case& c : kCases) {
    const std::string name = caseName(c);
    SCOPED_TRACE(name);
    const std::vector<float> pcm =
        readF32(fixturePath("sig_" + std::string(c.signal) + "_" + std::to_string(c.rate) + "_" +
                            std::to_string(c.channels) + ".f32"));
    ASSERT_EQ(pcm.size(), static_cast<size_t>(c.rate) * 10 * c.channels);
    const int32_t mode = c.channelMode ? c.channelMode : c.channels;
    const mp4EncConfig cfg = {2, c.bitRate, 1, mode, c.rate, 0, 1};
    Encoded e;
    int32_t lo = 0, def = 0, hi = 0;
    ASSERT_EQ(mp4EncGetRateRange(c.bitRate, mode, 2, 1, &lo, &hi, &def), 0);
    if (c.rate >= lo && c.rate <= hi) encode(cfg, pcm, &e);
    else encodeWithCore(cfg, pcm, &e);
    if (HasFatalFailure()) return;
    EXPECT_EQ(e.info.totalDelay, 2624);
    EXPECT_EQ(e.info.sampleRate, c.rate);
    // Every unit fits 6144 bits per channel; the stream covers input and delay.
    const size_t frames = (pcm.size() / c.channels + 2624 + 1023) / 1024;
    EXPECT_EQ(e.units.size(), frames);
    size_t total = 0;
    for (const auto& u : e.units) {
      EXPECT_LE(u.size() * 8, static_cast<size_t>(6144 * c.channels));
      total += u.size();
    }
    const double rate = total * 8.0 / (e.units.size() * 1024.0 / c.rate);
    EXPECT_NEAR(rate, c.bitRate, 0.05 * c.bitRate);
    const std::vector<float> ours = decodeOurs(e, c.channels, c.rate);
    EXPECT_EQ(ours.size(), e.units.size() * 1024 * c.channels);
    // Files for the ffmpeg step.
    std::vector<uint8_t> units;
    for (const auto& u : e.units) {
      const uint32_t size = static_cast<uint32_t>(u.size());
      for (int i = 0; i < 4; ++i) units.push_back(static_cast<uint8_t>(size >> (8 * i)));
      units.insert(units.end(), u.begin(), u.end());
    }
    EXPECT_TRUE(writeFile(fixturePath("enc_" + name + ".asc"), e.asc.data(), e.asc.size()));
    EXPECT_TRUE(writeFile(fixturePath("enc_" + name + ".units"), units.data(), units.size()));
    EXPECT_TRUE(writeFile(fixturePath("enc_" + name + ".ours.f32"), ours.data(), ours.size() * sizeof(float)));
    list += name + " " + c.signal + " " + std::to_string(c.rate) + " " + std::to_string(c.channels) + " " +
            std::to_string(c.bitRate) + " " + std::to_string(e.info.totalDelay) + "\n";
  }
  EXPECT_TRUE(writeFile(fixturePath("enc_cases.txt"), list.data(), list.size()));
}

TEST(EncoderInterface, TablesAndRefusals) {
  int32_t lo = 0, def = 0, hi = 0;
  // Bitrate 0 with quality mode 0 on mono: 32000 bit/s and its row.
  ASSERT_EQ(mp4EncGetRateRange(0, 1, 2, 0, &lo, &hi, &def), 0);
  EXPECT_EQ(lo, 32000);
  EXPECT_EQ(def, 32000);
  EXPECT_EQ(hi, 32000);
  EXPECT_EQ(mp4EncGetRateRange(128000, 2, 2, 1, nullptr, nullptr, nullptr), 0);
  struct {
    int32_t requested, lo, def, hi, quality, expected;
  } const rates[] = {
      {44100, 32000, 32000, 32000, 1, 32000}, {22050, 32000, 44100, 48000, 1, 44100},
      {48000, 32000, 44100, 48000, 1, 48000}, {96000, 32000, 44100, 48000, 1, 48000},
      {11025, 32000, 44100, 48000, 1, 44100}, {48000, 32000, 44100, 48000, 3, 44100},
  };
  for (const auto& r : rates) {
    EXPECT_EQ(mp4EncSelectRate(r.requested, r.lo, r.def, r.hi, r.quality), r.expected) << r.requested;
  }
  struct {
    mp4EncConfig cfg;
    int open, init;
  } const configs[] = {
      {{2, 32000, 1, 2, 22050, 0, 1}, 0, 0},    // 16000 per channel: on the lower bound
      {{2, 31999, 1, 2, 22050, 0, 1}, 4, -1},   // below it
      {{2, 320000, 1, 2, 48000, 0, 1}, 0, 0},   // upper bound
      {{2, 320001, 1, 2, 48000, 0, 1}, 4, -1},
      {{2, 64000, 1, 64, 44100, 0, 1}, 2, -1},  // parametric stereo needs an SBR type
      {{29, 64000, 1, 2, 44100, 0, 1}, 4, -1},  // range 0-0
      {{2, 64000, 1, 9, 44100, 0, 1}, 4, -1},   // unknown mode
      {{2, 64000, 1, 65, 44100, 0, 1}, 2, -1},
      {{2, 64000, 4, 2, 44100, 0, 1}, 2, -1},   // quality mode
      {{5, 48000, 1, 2, 44100, 0, 1}, 0, 0},    // HE-AAC of one channel pair
      {{5, 24000, 1, 1, 44100, 0, 1}, 0, 0},    // HE-AAC of one single channel
      {{5, 96000, 1, 2, 44100, 0, 1}, 0, 0},    // HE-AAC at the top of the pair's range: still 44.1 kHz
      {{5, 48000, 1, 2, 22050, 0, 1}, 0, 0},    // HE-AAC wants 44.1 kHz here: up through the converter
      {{5, 160000, 1, 5, 44100, 0, 1}, 0, 4},   // SBR over several elements is not coded
      {{2, 128000, 1, 2, 22050, 0, 1}, 0, 0},   // up to the row's 44.1 kHz through the converter
      {{0, 0, 0, 1, 32000, 0, 1}, 0, 0},        // defaults: 32000 bit/s, LC
      {{2, 112000, 1, 16, 44100, 0, 1}, 0, 0},  // two single-channel elements with a PCE
      {{2, 64000, 1, 2, 44100, 0, 1}, 0, 0},    // the rate row is 32000 Hz: down through the converter
      {{2, 320000, 1, 6, 48000, 0, 1}, 0, 0},   // 5.1: five coded channels and the low-frequency one
      {{2, 448000, 1, 7, 48000, 0, 1}, 0, 0},   // 7.1
  };
  for (const auto& c : configs) {
    mp4EncHandle h = nullptr;
    EXPECT_EQ(mp4EncOpen(&h, &c.cfg), c.open) << c.cfg.channelMode << " " << c.cfg.bitRate;
    if (c.open == 0) {
      int32_t n = -1;
      EXPECT_EQ(mp4EncInit(&h, &n), c.init) << c.cfg.channelMode << " " << c.cfg.bitRate;
      if (c.init != 0) {
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(n, 0);
      }
    }
    EXPECT_EQ(mp4EncClose(&h), 0);
    EXPECT_EQ(h, nullptr);
  }
  EXPECT_EQ(mp4EncOpen(nullptr, nullptr), 2);
  EXPECT_EQ(mp4EncClose(nullptr), 0);
  EXPECT_STREQ(mp4EncGetErrorText(0), "Success");
  EXPECT_STREQ(mp4EncGetErrorText(4), "Initialization error");
  EXPECT_STREQ(mp4EncGetErrorText(6), "Illegal error text");
  EXPECT_STREQ(mp4EncGetErrorText(-1), "Unknown error");
}

// One call never yields more than 30 units; the flush appends the delay's
// zeros and the partly filled last frame, one unit per call, then nothing.
TEST(EncoderInterface, ThirtyUnitsPerCallAndTheFlush) {
  const mp4EncConfig cfg = {2, 128000, 1, 2, 44100, 0, 1};
  mp4EncHandle h = nullptr;
  ASSERT_EQ(mp4EncOpen(&h, &cfg), 0);
  int32_t frame = 0;
  ASSERT_EQ(mp4EncInit(&h, &frame), 0);
  ASSERT_EQ(frame, 2048);
  const int32_t total = 40 * 2048 + 1000;  // 40 frames and a partial one
  std::vector<float> x(total);
  for (int32_t i = 0; i < total; ++i) x[i] = static_cast<float>(0.3 * std::sin(0.01 * i));
  std::vector<uint8_t> out(30 * 1536);
  int32_t consumed = 0, next = 0, bytes = 0;
  mp4EncUnits* units = nullptr;
  ASSERT_EQ(mp4EncEncode(h, x.data(), total, &consumed, &next, out.data(), static_cast<int32_t>(out.size()), &bytes,
                         &units), 0);
  EXPECT_EQ(units->count, 30);
  EXPECT_EQ(consumed, 30 * 2048);
  int32_t sum = 0;
  for (int32_t u = 0; u < units->count; ++u) sum += units->sizes[u];
  EXPECT_EQ(sum, bytes);
  int32_t rest = total - consumed;
  ASSERT_EQ(mp4EncEncode(h, x.data() + consumed, rest, &consumed, &next, out.data(),
                         static_cast<int32_t>(out.size()), &bytes, &units), 0);
  EXPECT_EQ(consumed, rest);
  EXPECT_EQ(units->count, 10);
  EXPECT_EQ(next, 2048 - 1000);
  // The flush: 1000 held + 2624 x 2 zeros make 3 more frames.
  int32_t flushed = 0;
  for (int guard = 0; guard < 10; ++guard) {
    ASSERT_EQ(mp4EncEncode(h, nullptr, 0, &consumed, &next, out.data(), static_cast<int32_t>(out.size()), &bytes,
                           &units), 0);
    if (units->count == 0) break;
    EXPECT_EQ(units->count, 1);
    ++flushed;
  }
  EXPECT_EQ(flushed, (1000 + 2624 * 2 + 2047) / 2048);
  // A unit that does not fit the caller's room is refused.
  mp4EncClose(&h);
  ASSERT_EQ(mp4EncOpen(&h, &cfg), 0);
  ASSERT_EQ(mp4EncInit(&h, &frame), 0);
  EXPECT_EQ(mp4EncEncode(h, x.data(), 2048, &consumed, &next, out.data(), 2, &bytes, &units), 5);
  EXPECT_NE(units, nullptr);
  mp4EncClose(&h);
}

TEST(EncoderInterface, CoreRefusalsAndSilence) {
  AacCoreConfig cfg;
  std::memset(&cfg, 0, sizeof(cfg));
  cfg.sampleRate = 8000;
  cfg.bitRate = 43000;
  cfg.nChannels = 1;
  AacCore* core = nullptr;
  EXPECT_EQ(AacCoreOpen(&core, &cfg), 1);  // above 8000 x 5.2734375
  cfg.bitRate = 42000;
  EXPECT_EQ(AacCoreOpen(&core, &cfg), 0);
  AacCoreClose(core);
  cfg.sampleRate = 44100;
  for (int32_t rate : {7999, 160001}) {
    cfg.bitRate = rate;
    EXPECT_EQ(AacCoreOpen(&core, &cfg), 1) << rate;
  }
  cfg.sampleRate = 44000;
  cfg.bitRate = 64000;
  EXPECT_EQ(AacCoreOpen(&core, &cfg), 1);
  cfg.sampleRate = 44100;
  ASSERT_EQ(AacCoreOpen(&core, &cfg), 0);
  std::vector<float> zeros(1024, 0.0f);
  std::vector<uint8_t> out(768);
  int32_t bytes = -1;
  EXPECT_EQ(AacCoreEncodeFrame(core, zeros.data(), 1023, out.data(), 768, &bytes), 6);
  // Silence costs a few bytes, padded by fill elements to the mean rate
  // once the reservoir is full.
  for (int f = 0; f < 5; ++f) {
    ASSERT_EQ(AacCoreEncodeFrame(core, zeros.data(), 1024, out.data(), 768, &bytes), 0);
    EXPECT_NEAR(bytes * 8, 64000 * 1024 / 44100, 24);
  }
  EXPECT_EQ(AacCoreEncodeFrame(core, zeros.data(), 1024, out.data(), 3, &bytes), 7);
  AacCoreClose(core);
  AacCoreClose(nullptr);
}

}  // namespace
