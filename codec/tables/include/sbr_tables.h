// Constant tables of the SBR tool and of parametric stereo.
//
// The large tables (QMF prototype, noise table, Huffman trees) are generated
// into sbr_tables_data.cpp by gen_sbr_tables.py from the JSON copies of the
// standard's tables; the small ones are written out here.
#pragma once

namespace sbrtab {

// QMF prototype window, stored rotated by one: qmfPrototype[i] = c[(i + 1) mod 640].
extern const float qmfPrototype[640];
// Complex random-noise table of the noise floor (re, im).
extern const float noiseTable[512][2];

// Huffman trees: pairs of signed bytes, walk from node 0 by one bit at a time;
// a negative entry ends the walk, the decoded value being entry + 64.
using HuffTree = const signed char (*)[2];

extern const signed char sbrHuff_t_huffman_env_1_5dB[120][2];
extern const signed char sbrHuff_f_huffman_env_1_5dB[120][2];
extern const signed char sbrHuff_t_huffman_env_bal_1_5dB[48][2];
extern const signed char sbrHuff_f_huffman_env_bal_1_5dB[48][2];
extern const signed char sbrHuff_t_huffman_env_3_0dB[62][2];
extern const signed char sbrHuff_f_huffman_env_3_0dB[62][2];
extern const signed char sbrHuff_t_huffman_env_bal_3_0dB[24][2];
extern const signed char sbrHuff_f_huffman_env_bal_3_0dB[24][2];
extern const signed char sbrHuff_t_huffman_noise_3_0dB[62][2];
extern const signed char sbrHuff_t_huffman_noise_bal_3_0dB[24][2];

extern const signed char psHuff_iid_df_normal[28][2];
extern const signed char psHuff_iid_dt_normal[28][2];
extern const signed char psHuff_iid_df_fine[60][2];
extern const signed char psHuff_iid_dt_fine[60][2];
extern const signed char psHuff_icc_df[14][2];
extern const signed char psHuff_icc_dt[14][2];
extern const signed char psHuff_ipd_df[7][2];
extern const signed char psHuff_ipd_dt[7][2];
extern const signed char psHuff_opd_df[7][2];
extern const signed char psHuff_opd_dt[7][2];

// Start-channel offset rows, indexed by bs_start_freq.
constexpr int startOffsetR16[16] = {-8, -7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7};
constexpr int startOffsetR22[16] = {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13};
constexpr int startOffsetR24[16] = {-5, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16};
constexpr int startOffsetR32[16] = {-6, -4, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16};
constexpr int startOffsetR48[16] = {-4, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20};
constexpr int startOffsetR96[16] = {-2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20, 24};
constexpr int startOffsetR0[16] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20, 24, 28, 33};

// Envelope adjuster constants.
constexpr float limiterGains[4] = {0.5011932f, 1.0f, 1.9952693f, 1e20f};  // energy ratios
constexpr float limiterBandsPerOctave[4] = {1.0f, 1.2f, 2.0f, 3.0f};
constexpr float hSmooth[5] = {0.33333333333333f, 0.30150283239582f, 0.21816949906249f,
                              0.11516383427084f, 0.03183050093751f};
constexpr float harmonicPhaseRe[4] = {1.0f, 0.0f, -1.0f, 0.0f};
constexpr float harmonicPhaseIm[4] = {0.0f, 1.0f, 0.0f, -1.0f};

// Parametric stereo.
constexpr float psIidNormalDb[15] = {-25, -18, -14, -10, -7, -4, -2, 0, 2, 4, 7, 10, 14, 18, 25};
constexpr float psIidFineDb[31] = {-50, -45, -40, -35, -30, -25, -22, -19, -16, -13, -10,
                                   -8,  -6,  -4,  -2,  0,   2,   4,   6,   8,   10,  13,
                                   16,  19,  22,  25,  30,  35,  40,  45,  50};
constexpr float psIccValues[8] = {1.0f, 0.937f, 0.84118f, 0.60092f, 0.36764f, 0.0f, -0.589f, -1.0f};
constexpr int psNumEnvFix[4] = {0, 1, 2, 4};
constexpr int psNrIidPar[3] = {10, 20, 34};
constexpr int psNrIpdOpdPar[3] = {5, 11, 17};
// Hybrid prototypes, taps 0..6 of 13 (tap 12 - n equals tap n).
constexpr double psG8Qmf0[7] = {0.00746082949812, 0.02270420949825, 0.04546865930473, 0.07266113929591,
                                0.09885108575264, 0.11793710567217, 0.125};
constexpr double psG2Qmf12[7] = {0.0, 0.01899487526049, 0.0, -0.07293139167538, 0.0, 0.30596630545168, 0.5};
// Parameter band of each of the 71 hybrid/QMF bands of the 20-band set-up.
constexpr int psKToI20[71] = {1,  0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 14,
                              15, 15, 15, 16, 16, 16, 16, 17, 17, 17, 17, 17, 18, 18, 18, 18, 18, 18,
                              18, 18, 18, 18, 18, 18, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19,
                              19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19};
constexpr int psFCenter20Times8[10] = {-3, -1, 1, 3, 5, 7, 10, 14, 18, 22};
constexpr double psAllpassA[3] = {0.65143905753106, 0.56471812200776, 0.48954165955695};
constexpr int psAllpassDelay[3] = {3, 4, 5};
constexpr double psFracDelayQ[3] = {0.43, 0.75, 0.347};
constexpr double psFracDelayQPhi = 0.39;
constexpr float psPeakDecay = 0.76592833836465f;
constexpr float psSmoothing = 0.25f;
constexpr float psTransientImpact = 1.5f;

}  // namespace sbrtab
