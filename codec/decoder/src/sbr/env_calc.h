// SBR envelope adjuster: band tables of the current header, gains, noise,
// sinusoids, limiter and smoothing.
#pragma once

#include "freq_sca.h"
#include "sbr_int.h"

SbrError createSbrEnvelopeCalc(SbrEnvCalc** out, int slotsPerFrame, int timeSlots, int mode);
void deleteSbrEnvelopeCalc(SbrEnvCalc** ec);
SbrError resetSbrEnvelopeCalc(SbrEnvCalc* ec, SbrHeader* h, int fs, int channels, int slotsPerFrame, int mode);
SbrError sbrResetLimiterBands(int* lim, int* nLim, const int* low, int nLow, const LppTrans* t, int limiterBands);
// re/im: the whole slot matrix; the frame's grid slots start at row SBR_HF_ADJ.
// lowPower: the slots hold real values only (imaginary rows are ignored).
void sbrAdjustEnvelope(SbrEnvCalc* ec, const SbrHeader* h, SbrFrameData* fd, float** re, float** im,
                       int lowPower, int psStartBand);
