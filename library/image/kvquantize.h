// Palettes of the palette pixel types (4 and 8-bit): the inverse colour map
// that tells for any colour which palette entry stands for it, and the choice
// of a palette from the colours of a rectangle of another bitmap.
#pragma once

#include "kvbitmapinfo.h"

// Colour cells: 5 bits a channel, red in the high bits.
#define KV_COLOR_CELLS 32768

extern "C" {

// A 32768-byte table (cell -> palette index) for the palette of paletteDib.
// The table is zero-filled global memory kept locked; the caller frees it
// (GlobalHandle, GlobalUnlock, GlobalFree; KvDibFreeColorQuantizer does so).
HRESULT KVAPI KvDibCreateColorQuantizer(BYTE** table, const BITMAPINFOHEADER* paletteDib);

// Chooses the palette of paletteDib (code 23 or 24) from the colours of a
// rectangle of source (null: all of it); writes at most biClrUsed entries.
HRESULT KVAPI KvDibQuantizePalette(BITMAPINFOHEADER* paletteDib, const BITMAPINFOHEADER* source,
                                   const BYTE* sourceBits, const RECT* rect, int32_t sourceStride, uint32_t mode);

}  // extern "C"

void KvDibFreeColorQuantizer(BYTE* table);
