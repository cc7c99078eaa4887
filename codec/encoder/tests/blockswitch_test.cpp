// Block switching: the decisions for tables of filtered window energies,
// the high-pass energies against scipy, the pair synchronisation table, and
// a click signal that must get short blocks at each click and only there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "block_switch.h"
#include "encoder_test_util.h"

namespace {

// Feeds the detector energies from a table instead of a signal.
const float* gEnergies = nullptr;
void tableEnergies(BlockSwitchingControl* s, int32_t) {
  for (int w = 0; w < 8; ++w) {
    s->windowNrg[1][w] = gEnergies[w];
    s->windowNrgF[1][w] = gEnergies[w];
  }
}

struct EnergyTable {
  CalcWindowEnergyFn saved = CalcWindowEnergy;
  EnergyTable() { CalcWindowEnergy = tableEnergies; }
  ~EnergyTable() { CalcWindowEnergy = saved; }
};

struct Decision {
  int32_t sequence, next, shape, groups;
  std::vector<int32_t> lengths;
};

std::string describe(const BlockSwitchingControl& s) {
  std::string t = "seq " + std::to_string(s.windowSequence) + " next " + std::to_string(s.nextwindowSequence) +
                  " shape " + std::to_string(s.windowShape) + " groups";
  for (int g = 0; g < s.noOfGroups; ++g) t += " " + std::to_string(s.groupLen[g]);
  return t;
}

std::string describe(const Decision& d) {
  std::string t = "seq " + std::to_string(d.sequence) + " next " + std::to_string(d.next) + " shape " +
                  std::to_string(d.shape) + " groups";
  for (int32_t l : d.lengths) t += " " + std::to_string(l);
  return t;
}

// Runs one mono channel over frames of eight energies (a frame holding an
// attack at window w has 1000 there; everything else is below the energy
// floor) and checks each frame's decision after the synchronisation step.
void runTable(const char* what, int32_t bitRate, const std::vector<int>& attacks, const std::vector<Decision>& want) {
  SCOPED_TRACE(what);
  EnergyTable table;
  BlockSwitchingControl s;
  InitBlockSwitching(&s, bitRate, 1);
  ASSERT_EQ(attacks.size(), want.size());
  for (size_t f = 0; f < attacks.size(); ++f) {
    float e[8];
    for (int w = 0; w < 8; ++w) e[w] = 0.0001f;
    if (attacks[f] >= 0) e[attacks[f]] = 1000.0f;
    gEnergies = e;
    EXPECT_EQ(BlockSwitching(&s, 0), 1);
    EXPECT_EQ(SyncBlockSwitching(&s, nullptr, 1, 0, 0), 1);
    EXPECT_EQ(describe(s), describe(want[f])) << "frame " << f;
  }
}

TEST(BlockSwitching, DecisionTables) {
  // Long frames carry the KBD shape; a short frame is entered through a start
  // frame and left through a stop frame; the grouping comes from the attack
  // window of the frame that turned short.
  runTable("attack in window 3", 64000, {-1, 3, -1, -1, -1},
           {{0, 0, 1, 1, {1}}, {1, 2, 1, 1, {1}}, {2, 3, 0, 4, {3, 1, 3, 1}}, {3, 0, 0, 1, {1}}, {0, 0, 1, 1, {1}}});
  runTable("attack in window 0", 64000, {-1, 0, -1, -1},
           {{0, 0, 1, 1, {1}}, {1, 2, 1, 1, {1}}, {2, 3, 0, 4, {1, 3, 3, 1}}, {3, 0, 0, 1, {1}}});
  // An attack in the last window makes the following frame short as well.
  runTable("attack in window 7", 64000, {-1, 7, -1, -1, -1},
           {{0, 0, 1, 1, {1}}, {1, 2, 1, 1, {1}}, {2, 2, 0, 4, {3, 3, 1, 1}}, {2, 3, 0, 4, {3, 3, 1, 1}},
            {3, 0, 0, 1, {1}}});
  // A new attack while a stop frame is due turns that frame short with the
  // grouping 3, 3, 2.
  runTable("attack during the stop frame", 64000, {-1, 2, -1, 5, -1, -1},
           {{0, 0, 1, 1, {1}}, {1, 2, 1, 1, {1}}, {2, 3, 0, 4, {2, 1, 3, 2}}, {2, 2, 0, 3, {3, 3, 2}},
            {2, 3, 0, 4, {3, 2, 1, 2}}, {3, 0, 0, 1, {1}}});
  runTable("attacks in consecutive frames", 64000, {1, 4, 6, -1},
           {{1, 2, 1, 1, {1}}, {2, 2, 0, 4, {1, 1, 3, 3}}, {2, 2, 0, 4, {3, 1, 1, 3}}, {2, 3, 0, 4, {3, 3, 1, 1}}});
}

// A rise of 15 times the smoothed energy is an attack with ratio 10 (more
// than 24000 bit/s mono, more than 16000 per channel) and none with 18.
TEST(BlockSwitching, AttackRatioFollowsTheBitrate) {
  struct Case {
    int32_t bitRate, channels;
    bool attack;
  } cases[] = {{24001, 1, true}, {24000, 1, false}, {32002, 2, true}, {32000, 2, false}, {96000, 6, false}};
  EnergyTable table;
  for (const Case& c : cases) {
    BlockSwitchingControl s;
    InitBlockSwitching(&s, c.bitRate, c.channels);
    float steady[8], rise[8];
    for (int w = 0; w < 8; ++w) steady[w] = rise[w] = 100.0f;
    rise[4] = 1500.0f;
    gEnergies = steady;
    for (int i = 0; i < 20; ++i) BlockSwitching(&s, 0);
    gEnergies = rise;
    BlockSwitching(&s, 0);
    EXPECT_EQ(s.nextwindowSequence == 2, c.attack) << c.bitRate << "/" << c.channels;
  }
}

TEST(BlockSwitching, ResetAndSilence) {
  BlockSwitchingControl s;
  InitBlockSwitching(&s, 64000, 1);
  std::vector<float> silence(1024, 0.0f);
  s.timeSignal = silence.data();
  for (int f = 0; f < 5; ++f) {
    EXPECT_EQ(BlockSwitching(&s, 0), 1);
    EXPECT_EQ(s.attack, 0);
    EXPECT_EQ(s.windowSequence, 0);
  }
  s.nextwindowSequence = 2;
  s.windowSequence = 2;
  s.noOfGroups = 3;
  EXPECT_EQ(BlockSwitching(&s, 1), 0);
  EXPECT_EQ(s.windowSequence, 0);
  EXPECT_EQ(s.noOfGroups, 1);
  EXPECT_EQ(s.groupLen[0], 1);
  EXPECT_EQ(s.windowShape, 0);
  EXPECT_EQ(s.nextwindowSequence, 2);  // kept
  EXPECT_EQ(SyncBlockSwitching(&s, &s, 2, 1, 1), 0);
}

// Plain and high-pass energies of 24 windows (three frames, state carried)
// against scipy's lfilter.
TEST(BlockSwitching, WindowEnergiesMatchScipy) {
  const std::vector<double> x = readF64(fixturePath("bs_signal.f64"));
  const std::vector<double> e = readF64(fixturePath("bs_energies.f64"));
  ASSERT_EQ(x.size(), 3072u) << "missing fixture";
  ASSERT_EQ(e.size(), 48u);
  std::vector<float> xf(x.begin(), x.end());
  BlockSwitchingControl s;
  InitBlockSwitching(&s, 64000, 1);
  for (int f = 0; f < 3; ++f) {
    s.timeSignal = &xf[f * 1024];
    CalcWindowEnergy(&s, 128);
    for (int w = 0; w < 8; ++w) {
      EXPECT_NEAR(s.windowNrg[1][w], e[f * 8 + w], 1e-5 * e[f * 8 + w]) << f << "/" << w;
      EXPECT_NEAR(s.windowNrgF[1][w], e[24 + f * 8 + w], 1e-5 * e[24 + f * 8 + w]) << f << "/" << w;
    }
  }
}

TEST(SyncBlockSwitching, PairTable) {
  const int32_t table[4][4] = {{0, 1, 2, 3}, {1, 1, 2, 2}, {2, 2, 2, 2}, {3, 2, 2, 3}};
  for (int l = 0; l < 4; ++l) {
    for (int r = 0; r < 4; ++r) {
      BlockSwitchingControl a, b;
      InitBlockSwitching(&a, 64000, 2);
      InitBlockSwitching(&b, 64000, 2);
      a.windowSequence = l;
      b.windowSequence = r;
      a.noOfGroups = 4; a.groupLen[0] = 1; a.groupLen[1] = 1; a.groupLen[2] = 3; a.groupLen[3] = 3;
      b.noOfGroups = 3; b.groupLen[0] = 3; b.groupLen[1] = 3; b.groupLen[2] = 2; b.groupLen[3] = 0;
      a.attackEnergy = 5.0f;
      b.attackEnergy = 2.0f;
      EXPECT_EQ(SyncBlockSwitching(&a, &b, 2, 1, 0), 1);
      const int32_t common = table[l][r];
      EXPECT_EQ(a.windowSequence, common) << l << r;
      EXPECT_EQ(b.windowSequence, common) << l << r;
      EXPECT_EQ(a.windowShape, (common == 0 || common == 3) ? 1 : 0);
      EXPECT_EQ(b.windowShape, a.windowShape);
      if (common == 2) {
        // The left channel's attack was louder: its grouping wins.
        EXPECT_EQ(describe(b), describe(a));
        EXPECT_EQ(b.noOfGroups, 4);
        EXPECT_EQ(b.groupLen[2], 3);
      } else {
        EXPECT_EQ(a.noOfGroups, 1);
        EXPECT_EQ(b.noOfGroups, 1);
        EXPECT_EQ(b.groupLen[1], 0);
      }
    }
  }
  // Equal attack energies: the right channel's grouping is copied.
  BlockSwitchingControl a, b;
  InitBlockSwitching(&a, 64000, 2);
  InitBlockSwitching(&b, 64000, 2);
  a.windowSequence = b.windowSequence = 2;
  a.noOfGroups = 4; a.groupLen[0] = 2;
  b.noOfGroups = 3; b.groupLen[0] = 3; b.groupLen[1] = 3; b.groupLen[2] = 2;
  SyncBlockSwitching(&a, &b, 2, 1, 0);
  EXPECT_EQ(a.noOfGroups, 3);
  EXPECT_EQ(a.groupLen[0], 3);
  // Without a common window each channel keeps its sequence; long ones get one group.
  a.windowSequence = 0; a.noOfGroups = 4;
  b.windowSequence = 2; b.noOfGroups = 3;
  SyncBlockSwitching(&a, &b, 2, 0, 0);
  EXPECT_EQ(a.windowSequence, 0);
  EXPECT_EQ(a.noOfGroups, 1);
  EXPECT_EQ(b.windowSequence, 2);
  EXPECT_EQ(b.noOfGroups, 3);
}

// 16-bit-scale signal at 44.1 kHz: a quiet 500 Hz tone (-34 dB) with 4 ms
// noise bursts every 200 ms. Every frame whose newest samples hold a burst's
// onset must decide "short next" (a burst in the last window also the frame
// after it), and so must the first frame, where the tone starts after
// silence; no other frame may; the coded sequences must be legal.
TEST(BlockSwitching, ClickSignalGetsShortBlocksAtTheClicksOnly) {
  const int frames = 60;
  std::vector<float> x(static_cast<size_t>(frames) * 1024);
  uint32_t seed = 12345;
  std::vector<int> onsets;
  for (int k = 1; 8820 * k + 300 < static_cast<int>(x.size()); ++k) onsets.push_back(8820 * k + 300);
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = static_cast<float>(0.02 * 32767.0 * std::sin(2 * 3.14159265358979 * 500.0 * i / 44100.0));
    for (int o : onsets) {
      if (static_cast<int>(i) >= o && static_cast<int>(i) < o + 176) {
        seed = seed * 1664525u + 1013904223u;
        x[i] += static_cast<float>((static_cast<int32_t>(seed >> 8) % 16384) * 1.0);
      }
    }
  }
  std::vector<bool> expectAttack(frames, false);
  expectAttack[0] = true;  // the tone starts after the silence before the signal
  for (int o : onsets) {
    expectAttack[o / 1024] = true;
    if ((o % 1024) / 128 == 7 && o / 1024 + 1 < frames) expectAttack[o / 1024 + 1] = true;
  }
  BlockSwitchingControl s;
  InitBlockSwitching(&s, 128000, 2);
  int previous = 0;
  int shortFrames = 0;
  for (int f = 0; f < frames; ++f) {
    s.timeSignal = &x[static_cast<size_t>(f) * 1024];
    BlockSwitching(&s, 0);
    SyncBlockSwitching(&s, nullptr, 1, 0, 0);
    EXPECT_EQ(s.nextwindowSequence == 2, expectAttack[f]) << "frame " << f;
    const int seq = s.windowSequence;
    const bool legal = (previous == 0 && (seq == 0 || seq == 1)) || (previous == 1 && seq == 2) ||
                       (previous == 2 && (seq == 2 || seq == 3)) || (previous == 3 && seq != 3);
    EXPECT_TRUE(legal) << "frame " << f << ": " << previous << " -> " << seq;
    previous = seq;
    shortFrames += seq == 2;
  }
  // Each frame decided "short next" makes the frame after it short.
  int expectedShort = 0;
  for (int f = 1; f < frames; ++f) expectedShort += expectAttack[f - 1];
  EXPECT_EQ(shortFrames, expectedShort);
}

}  // namespace
