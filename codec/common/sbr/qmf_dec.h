// QMF analysis and synthesis banks of the SBR decoder (complex and
// real-valued low-power kernels).
#pragma once

#include "freq_sca.h"  // SbrError

struct QmfBank {
  int M = 0;            // channels: 64 / D
  int L = 0;            // prototype length used: 640 / D
  int D = 1;            // decimation of the prototype
  int slots = 0;        // QMF slots per frame: frame length / M
  int firstBand = 0;    // band window
  int endBand = 0;
  int lowPower = 0;
  int analysis = 0;
  float scaleLow = 0;   // gain of bands below the window (synthesis)
  float scaleIn = 0;    // gain of bands inside the window (synthesis)
  float* cosTab = nullptr;  // modulation, M x 2M
  float* sinTab = nullptr;
  float* window = nullptr;  // c[D * n], n = 0 .. L - 1
  float* state = nullptr;   // synthesis: v history, newest first (slots x 2M + 2L values)
  // Fast complex kernels: DCT-IV/DST-IV of M points through an M/2-point FFT.
  float* preRot = nullptr;   // M/2 complex: exp(-i pi (j + 1/4) / M)
  float* postRot = nullptr;  // M/2 complex: exp(-i pi j / M)
  float* bandRot = nullptr;  // M complex: per-band rotation of the analysis/synthesis
  float* work = nullptr;     // 4M floats of scratch
};

// Analysis bank: D = rate numerator (2 gives 32 channels), A = rate denominator.
SbrError createCplxAnalysisQmfBank(QmfBank** bank, int mode, int D, int A, int frameLength, int lowPower);
// Synthesis bank: D = rate denominator (1 gives 64 channels), g1/g2 scale values.
SbrError createCplxSynthesisQmfBank(QmfBank** bank, int mode, int D, int frameLength, float g1, float g2,
                                    int lowPower);
void deleteQmfBank(QmfBank** bank);
// Analysis of bank->slots slots. input holds L - M samples of history followed by
// the frame (oldest first). Rows re[s], im[s] receive M bands each. Returns the slot count.
int qmfAnalysisFiltering(const float* input, float** re, float** im, QmfBank* bank);
// Synthesis of bank->slots slots into slots x M output samples.
void qmfSynthesisFiltering(float** re, float** im, float* output, QmfBank* bank);
// Clears the synthesis state.
void qmfResetState(QmfBank* bank);
