// SMPTE time codes: conversions between hours:minutes:seconds:frames labels,
// frame counts and nano time (100-nanosecond units) for 30, 29.97 drop and
// non-drop, 25, 24 and 23.976 frames per second.
#pragma once

#include "kvapi.h"


// Format codes of a time code value.
enum {
  KVSMPTE_30 = 1,
  KVSMPTE_2997_DROP = 2,
  KVSMPTE_25 = 3,
  KVSMPTE_24 = 4,
  KVSMPTE_2997_NONDROP = 5,
  KVSMPTE_23976 = 6,
};

struct _smpteval {
  DWORD format;   // 1..6 (0 = plain hours, minutes, seconds, frames at some rate)
  DWORD hours;    // 0..23
  DWORD minutes;  // 0..59
  DWORD seconds;  // 0..59
  DWORD frames;   // 0..labels per second - 1
};

extern "C" {
DWORD KVAPI KVSMPTE_SMPTEToFrameCount(const _smpteval* value);
void KVAPI KVSMPTE_FrameCountToSMPTE(_smpteval* value, DWORD frames);
void KVAPI KVSMPTE_AddSMPTE(_smpteval* a, const _smpteval* b);
void KVAPI KVSMPTE_SubtractSMPTE(_smpteval* a, const _smpteval* b);
void KVAPI KVSMPTE_NanoToSMPTE(LONGLONG time, _smpteval* value);
LONGLONG KVAPI KVSMPTE_SMPTEToNanos(const _smpteval* value);
LONGLONG KVAPI KVSMPTE_SmpteLikeToNanos(double rate, const _smpteval* value);
int KVAPI KVSMPTE_SMPTECompare(const _smpteval* a, const _smpteval* b);
void KVAPI KVSMPTE_IncrementByFrame(_smpteval* value, DWORD unused);
void KVAPI KVSMPTE_DeccrementByFrame(_smpteval* value, DWORD unused);
WCHAR KVAPI KVSMPTE_TextToSMPTE(const wchar_t* text, _smpteval* value);
}

// Library-internal: frame labels per second of a format code (30 for codes outside 1..6).
DWORD KvSmpteLabelsPerSecond(DWORD format);
// Frames in 24 hours of a format code (0 for codes outside 1..6).
DWORD KvSmpteFramesPerDay(DWORD format);
// Real frame rate of a format code (30 for codes outside 1..6).
double KvSmpteRate(DWORD format);
