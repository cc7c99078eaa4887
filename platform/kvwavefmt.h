// WAVEFORMATEX and WAVEFORMATEXTENSIBLE for code that also builds natively.
// On Windows these come from the platform headers; elsewhere the same packed
// layouts are declared here so that headers written on either build are
// byte-identical.
#pragma once

#include "kvapi.h"

#ifdef _WIN32
#include <mmreg.h>
#else

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
} WAVEFORMATEX;

typedef struct {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
} WAVEFORMATEXTENSIBLE;
#pragma pack(pop)

#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_IEEE_FLOAT 3
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

#endif  // _WIN32

static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE is 40 bytes");
static_assert(offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask) == 20, "mask at 20");
static_assert(offsetof(WAVEFORMATEXTENSIBLE, SubFormat) == 24, "SubFormat at 24");
