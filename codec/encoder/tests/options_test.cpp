// The encoder interface's options for running streams, read back by our
// decoder: the caller's ancillary bytes come out, in order and whole, in the
// data stream elements of the frames; a bitrate change mid-stream takes
// effect on the next frames without a jump in the decoded signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "cubuffer_c.h"
#include "aubuffer_c.h"
#include "mp4AudioDecIfc.h"
#include "mp4enc.h"

namespace {

const int32_t kRate = 44100;
const double kPi = 3.14159265358979323846;

// Two tones, stereo, full scale 1.0.
std::vector<float> tones(int32_t frames) {
  std::vector<float> x(2 * static_cast<size_t>(frames));
  for (int32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    x[2 * i] = static_cast<float>(0.3 * std::sin(2 * kPi * 1000 * t) + 0.05 * std::sin(2 * kPi * 5000 * t));
    x[2 * i + 1] = static_cast<float>(0.25 * std::sin(2 * kPi * 1500 * t));
  }
  return x;
}

struct Stream {
  std::vector<uint8_t> asc;
  std::vector<std::vector<uint8_t>> units;
};

// Encodes one frame of input a call (then the flush); before the frame that
// starts at input frame changeAt, calls change.
template <typename Change>
void encode(mp4EncHandle h, const std::vector<float>& pcm, int32_t changeAt, Change change, Stream* out) {
  mp4EncInfo info;
  ASSERT_EQ(mp4EncGetInfo(h, &info), 0);
  out->asc.assign(info.asc->data, info.asc->data + (info.asc->bits + 7) / 8);
  std::vector<uint8_t> buffer(16000);
  size_t pos = 0;
  for (int guard = 0; guard < 10000; ++guard) {
    if (changeAt >= 0 && pos == static_cast<size_t>(changeAt) * 2) change();
    const int32_t n = static_cast<int32_t>(std::min<size_t>(2048, pcm.size() - pos));
    int32_t consumed = 0, next = 0, bytes = 0;
    mp4EncUnits* units = nullptr;
    ASSERT_EQ(mp4EncEncode(h, n ? pcm.data() + pos : nullptr, n, &consumed, &next, buffer.data(),
                           static_cast<int32_t>(buffer.size()), &bytes, &units), 0);
    if (n) pos += static_cast<size_t>(consumed);  // the flush counts its zeros
    int32_t at = 0;
    for (int32_t u = 0; u < units->count; ++u) {
      out->units.emplace_back(buffer.begin() + at, buffer.begin() + at + units->sizes[u]);
      at += units->sizes[u];
    }
    if (n == 0 && units->count == 0) return;
  }
  FAIL() << "the flush did not end";
}

// Decodes with our decoder: the PCM (full scale 1.0, priming kept) and the
// bytes of the data stream elements of each unit.
void decode(const Stream& s, std::vector<float>* pcm, std::vector<std::vector<uint8_t>>* dse) {
  AudioSpecificConfig config;
  std::memset(&config, 0, sizeof(config));
  ASSERT_EQ(mp4AudioDecParseAsc(s.asc.data(), static_cast<int32_t>(s.asc.size()), &config), 0);
  AudioSpecificConfig* records[1] = {&config};
  Mp4AudioDec* dec = mp4AudioDecOpen(records, 1);
  ASSERT_NE(dec, nullptr);
  AuBuffer* au = auBufferCreate(nullptr, 0);
  CuBuffer* cu = cuBufferCreate(4, 2048, kRate, 2048);
  AuBuffer* aus[1] = {au};
  for (size_t f = 0; f < s.units.size(); ++f) {
    auBufferReset(au);
    int32_t status = auBufferFeed(au, s.units[f].data(), static_cast<int32_t>(s.units[f].size()));
    cuBufferReset(cu);
    if (!status) status = mp4AudioDecDecodeAu(dec, aus, cu);
    ASSERT_EQ(status, 0) << "unit " << f;
    int32_t ch = 0, n = 0, entries = 0, used = 0;
    float* samples = nullptr;
    cuBufferGetChannels(cu, &ch);
    cuBufferGetSamplesPerChannel(cu, &n);
    cuBufferGetSamples(cu, &samples);
    for (int i = 0; i < n * ch; ++i) pcm->push_back(samples[i] / 32768.0f);
    std::vector<uint8_t> bytes;
    cuBufferGetAncillaryInfo(cu, &entries, &used);
    for (int32_t e = 0; e < entries; ++e) {
      const uint8_t* data = nullptr;
      int32_t size = 0, type = 0;
      cuBufferGetAncillary(cu, e, &data, &size, &type);
      if (type == CU_ANC_DSE) bytes.insert(bytes.end(), data, data + size);
    }
    dse->push_back(bytes);
  }
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
}

mp4EncHandle open(int32_t bitRate, int32_t* frameSamples) {
  const mp4EncConfig cfg = {2, bitRate, 1, 2, kRate, 0, 1};
  mp4EncHandle h = nullptr;
  EXPECT_EQ(mp4EncOpen(&h, &cfg), 0);
  EXPECT_EQ(mp4EncInit(&h, frameSamples), 0);
  return h;
}

// A host record: the words the interface reads, the others filled with junk.
std::vector<int32_t> hostRecord(int32_t type, int32_t bitRate, int32_t quality, int32_t mode, int32_t rate) {
  std::vector<int32_t> r(24, -77);
  r[0] = type;
  r[7] = bitRate;
  r[8] = quality;
  r[5] = mode;
  r[1] = rate;
  r[22] = 0;
  r[10] = 1;
  return r;
}

}  // namespace

TEST(EncoderOptions, UserDataComesOutInDataStreamElementsInOrder) {
  int32_t frameSamples = 0;
  mp4EncHandle h = open(128000, &frameSamples);
  ASSERT_NE(h, nullptr);
  mp4EncInfo info;
  ASSERT_EQ(mp4EncGetInfo(h, &info), 0);
  // A twentieth of the sample rate: 2205 bit/s, 6 bytes a frame at 44.1 kHz.
  EXPECT_EQ(info.ancillaryBytes, 2205 * 1024 / kRate / 8);
  std::vector<uint8_t> user(200);
  for (size_t i = 0; i < user.size(); ++i) user[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  int32_t count = static_cast<int32_t>(user.size());
  int32_t none = 0;
  EXPECT_EQ(mp4EncSetUserData(h, nullptr, &count), 2);
  EXPECT_EQ(mp4EncSetUserData(h, user.data(), nullptr), 2);
  EXPECT_EQ(mp4EncSetUserData(h, user.data(), &none), 0);
  ASSERT_EQ(mp4EncSetUserData(h, user.data(), &count), 0);
  Stream s;
  encode(h, tones(kRate), -1, [] {}, &s);
  mp4EncClose(&h);
  EXPECT_EQ(count, 0);
  std::vector<float> pcm;
  std::vector<std::vector<uint8_t>> dse;
  decode(s, &pcm, &dse);
  std::vector<uint8_t> received;
  for (const auto& unit : dse) {
    EXPECT_LE(unit.size(), static_cast<size_t>(info.ancillaryBytes));
    received.insert(received.end(), unit.begin(), unit.end());
  }
  EXPECT_EQ(received, user);
  // Frames are filled to their share while bytes are left.
  ASSERT_GE(dse.size(), 2u);
  EXPECT_EQ(dse[0].size(), static_cast<size_t>(info.ancillaryBytes));
}

TEST(EncoderOptions, BitrateChangesMidStreamWithoutAJump) {
  int32_t frameSamples = 0;
  mp4EncHandle h = open(128000, &frameSamples);
  ASSERT_NE(h, nullptr);
  // Refused while running: another channel mode, a rate row that would move
  // the encoder rate, type with SBR; a null record.
  EXPECT_EQ(mp4EncReconfigure(h, hostRecord(2, 128000, 1, 1, kRate).data()), 4);
  EXPECT_EQ(mp4EncReconfigure(h, hostRecord(2, 32000, 1, 2, kRate).data()), 4);
  EXPECT_EQ(mp4EncReconfigure(h, hostRecord(5, 64000, 1, 2, kRate).data()), 4);
  EXPECT_EQ(mp4EncReconfigure(h, nullptr), 2);
  const int32_t frames = 3 * kRate;
  const int32_t changeAt = 64 * 1024;
  const std::vector<float> x = tones(frames);
  Stream s;
  // 48 kbit/s per channel keeps 44.1 kHz (64 would move to 32 kHz).
  const std::vector<int32_t> record = hostRecord(2, 96000, 1, 2, kRate);
  int changed = -1;
  encode(h, x, changeAt, [&] { changed = mp4EncReconfigure(h, record.data()); }, &s);
  mp4EncInfo info;
  ASSERT_EQ(mp4EncGetInfo(h, &info), 0);
  mp4EncClose(&h);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(info.bitRate, 96000);
  // The units before the change average 128 kbit/s, those well after it 96.
  auto rate = [&](size_t from, size_t to) {
    size_t bytes = 0;
    for (size_t u = from; u < to; ++u) bytes += s.units[u].size();
    return 8.0 * bytes * kRate / (1024.0 * (to - from));
  };
  EXPECT_NEAR(rate(16, 60), 128000, 128000 * 0.1);
  EXPECT_NEAR(rate(80, 125), 96000, 96000 * 0.1);
  std::vector<float> y;
  std::vector<std::vector<uint8_t>> dse;
  decode(s, &y, &dse);
  // Our decoder keeps the encoder's 2624 priming samples.
  ASSERT_GE(y.size(), x.size() + 2 * 2624);
  auto worstError = [&](int32_t from, int32_t to) {
    double worst = 0.0;
    for (int32_t i = 2 * from; i < 2 * to; ++i) worst = std::max(worst, std::fabs(double(y[i + 2 * 2624]) - x[i]));
    return worst;
  };
  const double steadyLow = worstError(changeAt + 16 * 1024, frames - 4096);
  const double steadyHigh = worstError(8 * 1024, changeAt - 4 * 1024);
  const double atChange = worstError(changeAt - 4 * 1024, changeAt + 4 * 1024);
  EXPECT_LE(atChange, 1.5 * std::max(steadyHigh, steadyLow)) << "high " << steadyHigh << " low " << steadyLow;
}

TEST(EncoderOptions, ReconfigureBeforeInitConfiguresAnew) {
  const mp4EncConfig cfg = {2, 128000, 1, 2, kRate, 0, 1};
  mp4EncHandle h = nullptr;
  ASSERT_EQ(mp4EncOpen(&h, &cfg), 0);
  EXPECT_EQ(mp4EncReconfigure(h, hostRecord(2, 96000, 1, 1, kRate).data()), 0);
  int32_t frameSamples = 0;
  ASSERT_EQ(mp4EncInit(&h, &frameSamples), 0);
  EXPECT_EQ(frameSamples, 1024);  // mono now
  mp4EncInfo info;
  ASSERT_EQ(mp4EncGetInfo(h, &info), 0);
  EXPECT_EQ(info.bitRate, 96000);
  mp4EncClose(&h);
}
