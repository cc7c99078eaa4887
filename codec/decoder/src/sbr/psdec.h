// Parametric-stereo decoder: turns the QMF slots of a mono SBR channel into
// two channels (20-band configuration).
#pragma once

#include "sbr_int.h"

struct PsDec;

// 0 on success, 1 on failure (nothing left allocated).
int psDecoderCreate(PsDec** out, int channels, int slotsPerFrame);
void psDecoderDelete(PsDec** ps);
// Parses one ps_data() block; returns the bits consumed (at most bitsAvail).
int psReadData(PsDec* ps, SbrBitReader* br, int bitsAvail);
// 1 when a valid PS block arrived since the last parameter decoding.
int psHasNewData(const PsDec* ps);
void psDecodeParameters(PsDec* ps);
// Processes slots [firstSlot, firstSlot + slotsPerFrame) of the left matrices
// into left and right. QMF bands 0..2 are also read in the 6 slots after
// them (the matrices must hold them). noPsData: right becomes a copy of left.
void psApply(PsDec* ps, int noPsData, float** lRe, float** lIm, float** rRe, float** rIm, int firstSlot);
void psReset(PsDec* ps);
