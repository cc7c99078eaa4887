// Block switching: per channel and frame, the window sequence, window
// shapes and short-window grouping. The attack detector looks at the newest
// 1024 samples and decides the *next* sequence; the sequence of the frame
// being coded now is the one decided a call earlier, corrected so that short
// frames are entered through a start frame and left through a stop frame.
#pragma once

#include <cstdint>

enum {
  kBlockSwitchWindows = 8,
  kBlockSwitchMaxGroups = 8,
};

struct BlockSwitchingControl {
  const float* timeSignal;  // newest 1024 samples of the channel (set before each call)
  float attackRatio;        // 10.0 or 18.0
  int32_t windowSequence;   // of the frame being coded now
  int32_t nextwindowSequence;
  int32_t windowShape;
  int32_t nextWindowShapeLeft;
  int32_t nextWindowShapeRight;
  int32_t attack;
  int32_t lastattack;
  int32_t attackIndex;
  int32_t lastAttackIndex;
  int32_t noOfGroups;
  int32_t groupLen[kBlockSwitchMaxGroups];
  float windowNrg[2][kBlockSwitchWindows];   // [0] previous frame, [1] newest: plain energies
  float windowNrgF[2][kBlockSwitchWindows];  // the same after the high-pass
  float accWindowNrg;
  float iirStates[2];  // previous input sample, previous filter output
  float attackEnergy;  // filtered energy of the attack window; compared between channels
};

// Sets the state up for a bitrate (bit/s of the element) and channel count;
// returns 1.
int InitBlockSwitching(BlockSwitchingControl* state, int32_t bitRate, int32_t numChannels);
// One frame's decision; returns 1, or 0 (detector not run) when reset is set.
int BlockSwitching(BlockSwitchingControl* state, int32_t reset);
// Makes the two channels of a pair agree; returns 1, or 0 when reset is set.
int SyncBlockSwitching(BlockSwitchingControl* left, BlockSwitchingControl* right, int32_t numChannels,
                       int32_t commonWindow, int32_t reset);

// Fills the newest plain and filtered energies of eight windows of
// windowLength samples from timeSignal; reached through a replaceable
// pointer (the default routine is CalcWindowEnergyGeneric).
typedef void (*CalcWindowEnergyFn)(BlockSwitchingControl* state, int32_t windowLength);
extern CalcWindowEnergyFn CalcWindowEnergy;
void CalcWindowEnergyGeneric(BlockSwitchingControl* state, int32_t windowLength);
