// Frequency band tables: the worked values, the standard's start/stop tables,
// and invariants over a grid of start/stop/scale/crossover settings.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "env_calc.h"
#include "freq_sca.h"
#include "lpp_tran.h"
#include "test_util.h"

namespace {

TEST(SbrFreqTables, WorkedValues) {
  EXPECT_EQ(sbrGetStartChannel(64, 44100, 5, 0), 14);
  EXPECT_EQ(sbrGetStartChannel(64, 22050, 8, 1), 17 + 9);  // startMin round(64*6000/22050) = 17, R0 row
  int k0, k2;
  // Stop index 14 doubles k0 and is capped at 64.
  ASSERT_EQ(sbrFindStartAndStopBand(32000, 64, 15, 14, 1, &k0, &k2), nullptr);
  EXPECT_EQ(k0, 16 + 33);
  EXPECT_EQ(k2, 64);
  // 48 kHz: 33 bands fail, 32 pass.
  int master[64], n;
  EXPECT_STREQ(calcMasterFrequencyBandTable(master, &n, 10, 21, 0, 0), nullptr);
  EXPECT_EQ(n, 10);
  EXPECT_EQ(master[10], 21);
  EXPECT_EQ(master[10] - master[9], 2);
  for (int i = 0; i < 9; i++) EXPECT_EQ(master[i + 1] - master[i], 1);
}

TEST(SbrFreqTables, BandCountLimitsAt48kHz) {
  // Find settings that give 33 and 32 bands at 48 kHz through the stop index.
  bool saw33 = false, saw32 = false;
  for (int s = 0; s < 16; s++)
    for (int e = 0; e < 16; e++) {
      int k0, k2;
      SbrError err = sbrFindStartAndStopBand(48000, 64, s, e, 0, &k0, &k2);
      int d = k2 - k0;
      if (d == 33) {
        saw33 = true;
        EXPECT_STREQ(err, "Number of bands exceeds valid range of MAX_FREQ_COEFFS for fs>=48kHz");
      }
      if (d == 32) {
        saw32 = true;
        EXPECT_EQ(err, nullptr);
      }
    }
  EXPECT_TRUE(saw33);
  EXPECT_TRUE(saw32);
}

TEST(SbrFreqTables, StartAndStopChannelsMatchTheStandardsTables) {
  std::ifstream rows(sbrtest::fixturePath("start_rows.txt"));
  std::ifstream ss(sbrtest::fixturePath("start_stop.txt"));
  if (!rows || !ss) GTEST_SKIP() << "tables not generated";
  std::string line;
  std::map<int, int> startMin;
  std::map<int, std::vector<int>> stopOffsets;
  std::map<int, int> stopMin;
  while (std::getline(ss, line)) {
    std::istringstream is(line);
    int fs, a, b;
    is >> fs >> a >> b;
    startMin[fs] = a;
    stopMin[fs] = b;
    int v;
    while (is >> v) stopOffsets[fs].push_back(v);
  }
  int checked = 0;
  while (std::getline(rows, line)) {
    std::istringstream is(line);
    int fs;
    is >> fs;
    if (!startMin.count(fs)) continue;
    for (int i = 0; i < 16; i++) {
      int off;
      is >> off;
      EXPECT_EQ(sbrGetStartChannel(64, fs, i, 0), startMin[fs] + off) << fs << " " << i;
      checked++;
    }
  }
  for (auto& [fs, offs] : stopOffsets)
    for (int i = 0; i < 14; i++) {
      EXPECT_EQ(sbrGetStopChannel(64, fs, i), std::min(64, stopMin[fs] + offs[i])) << fs << " " << i;
      checked++;
    }
  EXPECT_GT(checked, 100);
}

TEST(SbrFreqTables, InvariantsOverAGridOfSettings) {
  const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
  int good = 0;
  for (int fs : rates)
    for (int start = 0; start < 16; start++)
      for (int stop = 0; stop < 16; stop++)
        for (int scale = 0; scale < 4; scale++)
          for (int alter = 0; alter < 2; alter++)
            for (int xover = 0; xover < 8; xover++) {
              SbrHeader h;
              h.startFreq = start;
              h.stopFreq = stop;
              h.freqScale = scale;
              h.alterScale = alter;
              h.xoverBand = xover;
              h.noiseBands = 2;
              SbrEnvCalc ec;
              if (resetSbrEnvelopeCalc(&ec, &h, fs, 64, 32, 0)) continue;
              good++;
              const SbrFreqTables& t = ec.ft;
              ASSERT_GE(t.nHigh, 1);
              ASSERT_LE(t.nHigh, 48);
              for (int i = 0; i < t.nMaster; i++) ASSERT_LT(t.master[i], t.master[i + 1]);
              for (int i = 0; i < t.nHigh; i++) ASSERT_LT(t.high[i], t.high[i + 1]);
              for (int i = 0; i < t.nLow; i++) ASSERT_LT(t.low[i], t.low[i + 1]);
              ASSERT_EQ(t.low[0], t.high[0]);
              ASSERT_EQ(t.low[t.nLow], t.high[t.nHigh]);
              ASSERT_EQ(t.noise[0], t.low[0]);
              ASSERT_EQ(t.noise[t.nNoise], t.low[t.nLow]);
              for (int i = 0; i < t.nNoise; i++) ASSERT_LT(t.noise[i], t.noise[i + 1]);
              ASSERT_LE(t.usb, 64);
              // Patches tile the SBR range from lsb to usb with sources below lsb.
              LppTrans lpp;
              lpp.patchStartSubband = 1;
              if (sbrResetPatches(&lpp, t.lsb, t.master, t.nMaster, t.noise, t.nNoise, fs, 64, 0)) continue;
              int target = t.lsb;
              for (int p = 0; p < lpp.numPatches; p++) {
                ASSERT_EQ(lpp.patches[p].targetStart, target);
                ASSERT_GE(lpp.patches[p].sourceStart, 1);
                ASSERT_LE(lpp.patches[p].sourceStop, t.lsb);
                ASSERT_EQ(lpp.patches[p].offset % 2, 0) << "patches keep the spectral orientation";
                target += lpp.patches[p].numBands;
              }
              ASSERT_LE(lpp.numPatches, 6);
              int lim[64], nLim;
              for (int lb = 0; lb < 4; lb++) {
                ASSERT_EQ(sbrResetLimiterBands(lim, &nLim, t.low, t.nLow, &lpp, lb), nullptr);
                ASSERT_EQ(lim[0], 0);
                ASSERT_EQ(lim[nLim], t.usb - t.lsb);
                for (int i = 0; i < nLim; i++) ASSERT_LT(lim[i], lim[i + 1]);
                if (lb == 0) {
                  ASSERT_EQ(nLim, 1);
                }
              }
            }
  EXPECT_GT(good, 1000);
}

TEST(SbrFreqTables, NoiseBandsZeroGivesOneAndTooManyFail) {
  SbrHeader h;
  h.startFreq = 0;
  h.stopFreq = 14;
  h.freqScale = 0;
  h.alterScale = 0;
  h.xoverBand = 0;
  h.noiseBands = 0;
  SbrEnvCalc ec;
  ASSERT_EQ(resetSbrEnvelopeCalc(&ec, &h, 44100, 64, 32, 0), nullptr);
  EXPECT_EQ(ec.ft.nNoise, 1);
  h.noiseBands = 3;  // 3 * log2(usb/lsb) with usb = 2 lsb... rises with wider ranges
  h.stopFreq = 15;
  SbrError err = resetSbrEnvelopeCalc(&ec, &h, 16000, 64, 32, 0);
  if (err != nullptr) {
    EXPECT_STREQ(err, "noNoiseBands exeeds MAX_NOISE_COEFFS");
  } else {
    EXPECT_LE(ec.ft.nNoise, 5);
  }
}

// Low-power transposer: a tone at the border of two source bands marks the
// border (in the target band the patch maps the upper source band to) with
// full aliasing degree; odd bands are spectrally inverted, so the same edge
// shows opposite reflection signs in even and odd bands. The complex mode
// leaves the degrees alone.
TEST(SbrTransposer, LowPowerAliasingDegreeMarksTheBorderOfAToneInTheTargetBand) {
  struct Case {
    int lowBand;     // the tone sits at the top of this source band
    double omega;    // the tone's frequency in the subband signals (0..pi)
    bool both;       // the tone shows in both bands of the border
    int markedBand;  // target band whose degree is 1; all others 0
  };
  // Top edge of an even band is near pi in its subband signal, of an odd band near 0.
  const Case cases[] = {{6, 0.95 * M_PI, true, 7 + 16}, {7, 0.05 * M_PI, true, 8 + 16},
                        {7, 0.05 * M_PI, false, 8 + 16}, {6, 0.95 * M_PI, false, 7 + 16}};
  for (const Case& c : cases) {
    for (int lowPower = 0; lowPower < 2; lowPower++) {
      LppTrans t;
      t.slotsPerFrame = 32;
      t.numPatches = 1;
      t.patches[0].sourceStart = 4;
      t.patches[0].sourceStop = 12;
      t.patches[0].targetStart = 20;
      t.patches[0].offset = 16;
      t.patches[0].numBands = 8;
      t.lowestSource = 4;
      t.highestSourceStop = 12;
      t.highestTargetStop = 28;
      t.nNoise = 1;
      t.noiseBorders[0] = 20;
      t.noiseBorders[1] = 28;
      std::vector<std::vector<float>> reRows(SBR_TOTAL_SLOTS, std::vector<float>(64, 0.0f)),
          imRows(SBR_TOTAL_SLOTS, std::vector<float>(64, 0.0f));
      std::vector<float*> re, im;
      for (int n = 0; n < SBR_TOTAL_SLOTS; n++) {
        reRows[n][c.lowBand] = static_cast<float>(std::cos(c.omega * n));
        if (c.both) reRows[n][c.lowBand + 1] = static_cast<float>(std::cos(c.omega * n + 0.3));
        re.push_back(reRows[n].data());
        im.push_back(imRows[n].data());
      }
      SbrFrameData fd;
      for (float& d : fd.degreeAlias) d = 0.5f;
      sbrTranspose(re.data(), im.data(), &fd, &t, 28, 0, lowPower);
      for (int k = 0; k < 64; k++) {
        float want = lowPower ? (k == c.markedBand ? 1.0f : 0.0f) : 0.5f;
        EXPECT_NEAR(fd.degreeAlias[k], want, 1e-3) << "band " << k << " low band " << c.lowBand << " both "
                                                   << c.both << " lowPower " << lowPower;
      }
    }
  }
}

}  // namespace
