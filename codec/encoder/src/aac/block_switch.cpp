// Attack detection, window-sequence decision and pair synchronisation.
#include "block_switch.h"

#include <cmath>

namespace {

// Short-window grouping of a frame that turned short, by its attack window.
const int32_t kGroupLengths[8][4] = {
    {1, 3, 3, 1}, {1, 1, 3, 3}, {2, 1, 3, 2}, {3, 1, 3, 1},
    {3, 1, 1, 3}, {3, 2, 1, 2}, {3, 3, 1, 1}, {3, 3, 1, 1},
};

// The common sequence of a pair, by (left, right).
const int32_t kSyncTable[4][4] = {
    {0, 1, 2, 3},
    {1, 1, 2, 2},
    {2, 2, 2, 2},
    {3, 2, 2, 3},
};

const float kMinEnergy = 0.001f;

void oneGroup(BlockSwitchingControl* s) {
  s->noOfGroups = 1;
  s->groupLen[0] = 1;
  for (int i = 1; i < kBlockSwitchMaxGroups; ++i) s->groupLen[i] = 0;
}

int32_t clampSequence(int32_t sequence) { return sequence < 0 ? 0 : (sequence > 3 ? 3 : sequence); }

}  // namespace

CalcWindowEnergyFn CalcWindowEnergy = CalcWindowEnergyGeneric;

void CalcWindowEnergyGeneric(BlockSwitchingControl* s, int32_t windowLength) {
  // First-order high-pass with the single-precision coefficients, run in
  // double precision and stored in single precision.
  const double a = static_cast<double>(0.7548f);
  const double b = static_cast<double>(-0.5095f);
  float xPrev = s->iirStates[0];
  float yPrev = s->iirStates[1];
  const float* x = s->timeSignal;
  for (int w = 0; w < kBlockSwitchWindows; ++w) {
    float plain = 0.0f, filtered = 0.0f;
    for (int32_t i = 0; i < windowLength; ++i) {
      const float in = x[w * windowLength + i];
      float y = static_cast<float>(a * (static_cast<double>(in) - static_cast<double>(xPrev)) -
                                   b * static_cast<double>(yPrev));
      if (std::fabs(y) < 1e-19f) y = 0.0f;
      xPrev = in;
      yPrev = y;
      plain += in * in;
      filtered += y * y;
    }
    s->windowNrg[1][w] = plain;
    s->windowNrgF[1][w] = filtered;
  }
  s->iirStates[0] = xPrev;
  s->iirStates[1] = yPrev;
}

int InitBlockSwitching(BlockSwitchingControl* s, int32_t bitRate, int32_t numChannels) {
  const bool high = (numChannels == 1 && bitRate > 24000) ||
                    (numChannels > 1 && bitRate / numChannels > 16000);
  s->attackRatio = high ? 10.0f : 18.0f;
  s->iirStates[0] = s->iirStates[1] = 0.0f;
  for (int k = 0; k < 2; ++k)
    for (int w = 0; w < kBlockSwitchWindows; ++w) s->windowNrg[k][w] = s->windowNrgF[k][w] = 0.0f;
  s->windowSequence = 0;
  s->nextwindowSequence = 0;
  s->attack = 0;
  s->lastattack = 0;
  s->attackIndex = 0;
  s->lastAttackIndex = 0;
  s->attackEnergy = 0.0f;
  s->accWindowNrg = kMinEnergy;
  s->windowShape = 1;
  s->nextWindowShapeLeft = 1;
  s->nextWindowShapeRight = 1;
  oneGroup(s);
  return 1;
}

int BlockSwitching(BlockSwitchingControl* s, int32_t reset) {
  if (reset) {
    s->noOfGroups = 1;
    s->groupLen[0] = 1;
    s->windowSequence = 0;
    s->windowShape = 0;
    s->nextWindowShapeLeft = 0;
    s->nextWindowShapeRight = 0;
    return 0;
  }
  for (int i = 0; i < kBlockSwitchMaxGroups; ++i) s->groupLen[i] = 0;
  s->attackEnergy = s->attack ? s->windowNrgF[1][s->attackIndex] : 0.0f;

  // The frame coded now is the one whose attack was found a call earlier.
  s->lastAttackIndex = s->attackIndex;
  s->noOfGroups = 4;
  for (int g = 0; g < 4; ++g) s->groupLen[g] = kGroupLengths[s->lastAttackIndex][g];

  for (int w = 0; w < kBlockSwitchWindows; ++w) {
    s->windowNrg[0][w] = s->windowNrg[1][w];
    s->windowNrgF[0][w] = s->windowNrgF[1][w];
  }
  CalcWindowEnergy(s, 128);

  s->attack = 0;
  float maximum = 0.0f;
  float previous = s->windowNrgF[0][kBlockSwitchWindows - 1];
  for (int w = 0; w < kBlockSwitchWindows; ++w) {
    const float energy = s->windowNrgF[1][w];
    s->accWindowNrg = 0.3f * previous + 0.7f * s->accWindowNrg;
    if (s->accWindowNrg < kMinEnergy) s->accWindowNrg = kMinEnergy;
    if (s->accWindowNrg * s->attackRatio < energy) {
      s->attack = 1;
      s->attackIndex = w;
      s->accWindowNrg = energy;
    }
    previous = energy;
    if (energy > maximum) maximum = energy;
  }
  if (maximum < kMinEnergy) s->attack = 0;

  // An attack in the last window also marks the following frame.
  if (!s->attack && s->lastattack) {
    if (s->lastAttackIndex == kBlockSwitchWindows - 1) s->attack = 1;
    s->lastattack = 0;
  } else {
    s->lastattack = s->attack;
  }

  s->windowSequence = clampSequence(s->nextwindowSequence);
  s->nextwindowSequence = s->attack ? 2 : 0;
  if (s->nextwindowSequence == 2) {
    if (s->windowSequence == 0) {
      s->windowSequence = 1;
    } else if (s->windowSequence == 3) {
      s->windowSequence = 2;
      s->noOfGroups = 3;
      s->groupLen[0] = 3;
      s->groupLen[1] = 3;
      s->groupLen[2] = 2;
      s->groupLen[3] = 0;
    }
  }
  if (s->nextwindowSequence == 0 && s->windowSequence == 2) s->nextwindowSequence = 3;

  s->windowShape = s->nextWindowShapeLeft;
  switch (s->nextwindowSequence) {
    case 0: s->nextWindowShapeLeft = 1; s->nextWindowShapeRight = 1; break;
    case 1: s->nextWindowShapeLeft = 1; s->nextWindowShapeRight = 0; break;
    case 2: s->nextWindowShapeLeft = 0; s->nextWindowShapeRight = 0; break;
    default: s->nextWindowShapeLeft = 0; s->nextWindowShapeRight = 1; break;
  }
  return 1;
}

int SyncBlockSwitching(BlockSwitchingControl* left, BlockSwitchingControl* right, int32_t numChannels,
                       int32_t commonWindow, int32_t reset) {
  if (reset) return 0;
  if (numChannels == 2 && commonWindow) {
    const int32_t common = kSyncTable[clampSequence(left->windowSequence)][clampSequence(right->windowSequence)];
    left->windowSequence = right->windowSequence = common;
    const int32_t shape = (common == 0 || common == 3) ? 1 : 0;
    left->windowShape = right->windowShape = shape;
    if (common != 2) {
      oneGroup(left);
      oneGroup(right);
    } else {
      // The channel whose attack window was louder gives its grouping.
      BlockSwitchingControl* from = left->attackEnergy > right->attackEnergy ? left : right;
      BlockSwitchingControl* to = from == left ? right : left;
      to->noOfGroups = from->noOfGroups;
      for (int i = 0; i < kBlockSwitchMaxGroups; ++i) to->groupLen[i] = from->groupLen[i];
    }
  } else if (numChannels == 2) {
    if (left->windowSequence != 2) oneGroup(left);
    if (right->windowSequence != 2) oneGroup(right);
  } else {
    if (left->windowSequence != 2) oneGroup(left);
  }
  return 1;
}
