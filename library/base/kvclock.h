// Clocks and timers: elapsed milliseconds and microseconds measured with the
// best counter the machine offers (tick count, performance counter or the
// processor's time-stamp counter), through one process-wide operation table.
#pragma once

#include "kvapi.h"

KV_EXTERN_C_BEGIN

// Exported.
DWORD KVAPI KvTimer_LateInitialize(void);
DWORD KVAPI KvGetMillisec(void);
DWORD KVAPI KvGetMicrosec(void);
DWORD KVAPI KvGetMillisecEx(ULONGLONG* value);
DWORD KVAPI KvDeltaMillisecEx(ULONGLONG* value);
DWORD KVAPI KvGetMicrosecEx(ULONGLONG* value);
DWORD KVAPI KvDeltaMicrosecEx(ULONGLONG* value);

// Library-internal (not exported): the clock set-up that library
// initialisation runs before KvTimer_LateInitialize. A non-zero level picks
// the performance counter when there is one; level 5 or more also prepares the
// time-stamp counter calibration.
void KVAPI KvTimer_Initialize(DWORD level);

// Library-internal: the performance-counter constants derived from a
// frequency, as the initialisation computes them.
typedef struct KVCLOCKCONSTANTS {
  DWORD countsPerSecond;
  DWORD countsPerMillisecond;
  DWORD countsPerMicrosecond;
  DWORD correctionDivisor;  // 0 when no correction is needed
} KVCLOCKCONSTANTS;
void KVAPI KvTimer_ComputeConstants(ULONGLONG frequency, KVCLOCKCONSTANTS* out);
// Library-internal: the clock kind in use (0 tick count, 1 performance
// counter, 5 time-stamp counter).
DWORD KVAPI KvTimer_GetClockKind(void);

KV_EXTERN_C_END
