// SBR payload syntax: header, element data, grid, envelope and noise data,
// extended data, CRC.
#pragma once

#include "sbr_int.h"

struct PsDec;

int sbrReadHeader(SbrHeader* h, SbrBitReader* br, int elementKind, int skipReserved, int prevHeaderState);
int sbrReadSingleChannelElement(SbrHeader* h, SbrFrameData* fd, SbrBitReader* br, int mode, PsDec* ps);
int sbrReadChannelPairElement(SbrHeader* h, SbrFrameData* fd0, SbrFrameData* fd1, SbrBitReader* br, int mode,
                              PsDec* ps);
int sbrReadFrameGrid(SbrGrid* g, SbrBitReader* br, int numTimeSlots);
int sbrCheckFrameGrid(const SbrGrid* g, int prevStopPos, int numTimeSlots, int prevFrameError);
int sbrCheckCrc(SbrBitReader* br, int numBits);
// Sets the default grid: one FIXFIX envelope over the frame.
void sbrInitDefaultGrid(SbrGrid* g, int numTimeSlots);
