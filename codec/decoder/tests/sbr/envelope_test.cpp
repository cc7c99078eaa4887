// Envelope and noise-floor decoding: requantisation, delta decoding across
// resolutions, the limits that turn a frame into a concealed one, the 3 dB per
// frame fade of concealment, noise clamping and the coupling formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "env_dec.h"

namespace {

// Frame data for 8 high / 4 low resolution bands, 2 noise bands.
SbrFrameData frameData() {
  SbrFrameData fd;
  fd.nBands[0] = 4;
  fd.nBands[1] = 8;
  fd.resMapOffset = 0;
  fd.nNoiseBands = 2;
  fd.nInvfBands = 2;
  fd.numTimeSlots = 16;
  fd.stopPos = 16;
  fd.grid.numEnv = 1;
  fd.grid.borders[0] = 0;
  fd.grid.borders[1] = 16;
  fd.grid.freqRes[0] = 1;
  fd.grid.numNoiseEnv = 1;
  fd.grid.noiseBorders[0] = 0;
  fd.grid.noiseBorders[1] = 16;
  fd.ampResEff = 1;
  fd.numEnvValues = 8;
  fd.framesDecoded = 1;
  return fd;
}

TEST(SbrEnvelopeDecoding, FrequencyDeltasAndRequantisation) {
  SbrHeader h;
  h.frameError = 0;
  h.prevFrameError = 0;
  SbrFrameData fd = frameData();
  SbrPrevData prev;
  const float coded[8] = {10, 1, -2, 0, 3, 0, -1, 1};  // running sum 10 11 9 9 12 12 11 12
  for (int i = 0; i < 8; i++) fd.env[i] = coded[i];
  fd.domainVec[0] = 0;
  fd.noise[0][0] = 6;
  fd.noise[0][1] = -1;  // running sum 6, 5
  fd.domainVecNoise[0] = 0;
  sbrDecodeFrameData(&h, &fd, &prev, nullptr, nullptr, 0);
  const int expect[8] = {10, 11, 9, 9, 12, 12, 11, 12};
  for (int i = 0; i < 8; i++) {
    EXPECT_FLOAT_EQ(fd.env[i], 64.0f * std::exp2(static_cast<float>(expect[i]))) << i;  // 3 dB steps
    EXPECT_FLOAT_EQ(prev.env[i], static_cast<float>(expect[i]));
  }
  EXPECT_FLOAT_EQ(fd.noise[0][0], 1.0f);  // 2^(6 - 6)
  EXPECT_FLOAT_EQ(fd.noise[0][1], 2.0f);  // 2^(6 - 5)
  EXPECT_EQ(h.frameError, 0);

  // Next frame: low resolution, time-coded: each low band reads the first
  // high band it covers and writes all of them.
  SbrFrameData fd2 = frameData();
  fd2.grid.freqRes[0] = 0;
  fd2.numEnvValues = 4;
  fd2.domainVec[0] = 1;
  fd2.domainVecNoise[0] = 1;
  for (int i = 0; i < 4; i++) fd2.env[i] = 1.0f;
  fd2.noise[0][0] = fd2.noise[0][1] = 0.0f;
  sbrDecodeFrameData(&h, &fd2, &prev, nullptr, nullptr, 0);
  const int expectLow[4] = {11, 10, 13, 12};  // prev[0], prev[2], prev[4], prev[6] plus 1
  for (int i = 0; i < 4; i++) {
    EXPECT_FLOAT_EQ(fd2.env[i], 64.0f * std::exp2(static_cast<float>(expectLow[i])));
    EXPECT_FLOAT_EQ(prev.env[2 * i], static_cast<float>(expectLow[i]));
    EXPECT_FLOAT_EQ(prev.env[2 * i + 1], static_cast<float>(expectLow[i]));
  }
  EXPECT_FLOAT_EQ(fd2.noise[0][0], 1.0f) << "time-coded noise repeats the last values";
}

TEST(SbrEnvelopeDecoding, OutOfRangeValuesConcealTheFrame) {
  struct Case {
    int ampRes;
    float value;
    bool concealed;
  } cases[] = {{1, 35, false}, {1, 36, true}, {0, 70, false}, {0, 71, true}, {1, -1, true}};
  for (const auto& c : cases) {
    SbrHeader h;
    h.frameError = 0;
    h.prevFrameError = 0;
    SbrFrameData fd = frameData();
    fd.ampResEff = c.ampRes;
    SbrPrevData prev;
    for (int i = 0; i < 8; i++) prev.env[i] = 20.0f;
    prev.ampRes = c.ampRes;
    fd.domainVec[0] = 0;
    fd.env[0] = c.value;
    for (int i = 1; i < 8; i++) fd.env[i] = 0.0f;
    sbrDecodeFrameData(&h, &fd, &prev, nullptr, nullptr, 0);
    EXPECT_EQ(h.frameError, c.concealed ? 1 : 0) << c.ampRes << " " << c.value;
  }
}

TEST(SbrEnvelopeDecoding, LostFramesFadeByThreeDecibelsEach) {
  SbrHeader h;
  h.frameError = 0;
  h.prevFrameError = 0;
  SbrFrameData fd = frameData();
  SbrPrevData prev;
  fd.domainVec[0] = 0;
  fd.env[0] = 20.0f;
  for (int i = 1; i < 8; i++) fd.env[i] = 0.0f;
  sbrDecodeFrameData(&h, &fd, &prev, nullptr, nullptr, 0);
  float last = fd.env[3];
  for (int lost = 0; lost < 4; lost++) {
    h.frameError = 1;
    sbrDecodeFrameData(&h, &fd, &prev, nullptr, nullptr, 0);
    EXPECT_EQ(fd.grid.numEnv, 1);
    EXPECT_NEAR(10.0 * std::log10(last / fd.env[3]), 3.0103, 1e-3);
    last = fd.env[3];
  }
}

TEST(SbrEnvelopeDecoding, NoiseIsClampedNotRejected) {
  SbrHeader h;
  h.frameError = 0;
  h.prevFrameError = 0;
  SbrFrameData fd = frameData();
  SbrPrevData prev;
  fd.domainVec[0] = 0;
  for (int i = 0; i < 8; i++) fd.env[i] = i == 0 ? 10.0f : 0.0f;
  fd.domainVecNoise[0] = 0;
  fd.noise[0][0] = 40.0f;
  fd.noise[0][1] = -50.0f;  // running sum -10
  sbrDecodeFrameData(&h, &fd, &prev, nullptr, nullptr, 0);
  EXPECT_EQ(h.frameError, 0);
  EXPECT_FLOAT_EQ(fd.noise[0][0], std::exp2(6.0f - 35.0f));
  EXPECT_FLOAT_EQ(fd.noise[0][1], std::exp2(6.0f));
}

TEST(SbrEnvelopeDecoding, CouplingGivesLevelAndBalance) {
  // Level channel L (3 dB steps) and balance channel B (values as stored after reading, i.e. doubled).
  for (int balance : {24, 30, 16}) {
    SbrHeader h;
    h.frameError = 0;
    h.prevFrameError = 0;
    SbrFrameData l = frameData(), r = frameData();
    SbrPrevData pl, pr;
    l.coupling = 1;
    r.coupling = 2;
    pl.coupling = 1;
    pr.coupling = 2;
    l.domainVec[0] = r.domainVec[0] = 0;
    l.domainVecNoise[0] = r.domainVecNoise[0] = 0;
    for (int i = 0; i < 8; i++) {
      l.env[i] = i == 0 ? 10.0f : 0.0f;
      r.env[i] = i == 0 ? static_cast<float>(balance) : 0.0f;
    }
    l.noise[0][0] = 4.0f;
    l.noise[0][1] = 0.0f;
    r.noise[0][0] = static_cast<float>(balance);
    r.noise[0][1] = 0.0f;
    sbrDecodeFrameData(&h, &l, &pl, &r, &pr, 0);
    // The level energy E = 64 * 2^10 is split between the channels by the ratio 2^(B - 12).
    const double e = 64.0 * 1024.0;
    const double ratio = std::exp2(balance - 12.0);
    EXPECT_NEAR(l.env[0], 2.0 * e * ratio / (1.0 + ratio), 1e-3 * e);
    EXPECT_NEAR(r.env[0], 2.0 * e / (1.0 + ratio), 1e-3 * e);
    const double q = std::exp2(6.0 - 4.0);
    const double nratio = std::exp2(balance - 12.0);
    EXPECT_NEAR(l.noise[0][0], 2.0 * q * nratio / (1.0 + nratio), 1e-6 * q);
    EXPECT_NEAR(r.noise[0][0], 2.0 * q / (1.0 + nratio), 1e-6 * q);
  }
}

}  // namespace
