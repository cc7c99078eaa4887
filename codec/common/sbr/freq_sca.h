// SBR frequency band tables: start/stop channels, master, high, low and
// noise-floor tables. Failures return a message (null on success).
#pragma once

using SbrError = const char*;

int sbrGetStartChannel(int channels, int fs, int startFreq, int tableSelect);
int sbrGetStopChannel(int channels, int fs, int stopFreq);
SbrError sbrFindStartAndStopBand(int fs, int channels, int startFreq, int stopFreq, int tableSelect,
                                 int* k0, int* k2);
SbrError calcMasterFrequencyBandTable(int* master, int* nMaster, int k0, int k2, int freqScale,
                                      int alterScale);
void updateHighResFreqTable(int* high, int* nHigh, const int* master, int nMaster, int xoverBand);
void updateLowResFreqTable(int* low, int* nLow, const int* high, int nHigh);
void updateNoiseFreqTable(int* noise, int nq, const int* low, int nLow);
int sbrGetStartFreqHz(int startFreq, int channels, int fs, int tableSelect);
int sbrGetStopFreqHz(int stopFreq, int channels, int fs);
