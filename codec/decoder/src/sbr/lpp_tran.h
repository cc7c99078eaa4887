// LPC patch transposer: builds the high band from the low band.
#pragma once

#include "freq_sca.h"
#include "sbr_int.h"

SbrError createLppTrans(LppTrans** out, const int* config, int channels, int mode, int slotsPerFrame);
void deleteLppTrans(LppTrans** t);
SbrError sbrResetPatches(LppTrans* t, int lsb, const int* master, int nMaster, const int* noise, int nNoise,
                         int fs, int channels, int mode);
// re/im: the whole slot matrix (SBR_TOTAL_SLOTS rows); the frame's grid slots
// start at row SBR_HF_ADJ. In low-power mode (real slots) it also writes the
// aliasing degree per QMF band into fd->degreeAlias.
void sbrTranspose(float** re, float** im, SbrFrameData* fd, LppTrans* t, int usb, int psStartBand,
                  int lowPower = 0);
