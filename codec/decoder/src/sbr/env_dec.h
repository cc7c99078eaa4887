// SBR envelope and noise-floor decoding: delta decoding, requantisation,
// coupling, checks and concealment.
#pragma once

#include "sbr_int.h"

void sbrDecodeFrameData(SbrHeader* h, SbrFrameData* fd0, SbrPrevData* prev0, SbrFrameData* fd1,
                        SbrPrevData* prev1, int mode);
