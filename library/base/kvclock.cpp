// Clocks and timers. One process-wide table of six operations measures time
// against a caller's 64-bit start value; it is filled at library
// initialisation with the tick count, the performance counter or the
// calibrated time-stamp counter, and only read afterwards.
#include "kvclock.h"

#include <x86intrin.h>

namespace {

typedef DWORD(KVAPI* ClockOp)(ULONGLONG* value);

enum { kRaw, kMicro, kMilli, kRawDelta, kMicroDelta, kMilliDelta, kOpCount };

enum ClockKind : DWORD { kTickCount = 0, kPerformanceCounter = 1, kTimeStampCounter = 5 };

struct ClockState {
  DWORD countsPerSecond = 1000;
  DWORD correctionDivisor = 0;
  DWORD countsPerMillisecond = 1;
  DWORD countsPerMicrosecond = 0;
  DWORD scale = 1;
  DWORD kind = kTickCount;
  ULONGLONG start = 0;
  // Time-stamp calibration.
  bool tscUsable = false;
  bool lateDone = false;
  ULONGLONG calibrationStart = 0;
  ULONGLONG tscAtPreparation = 0;
};

ClockState g_clock;

// A 64-by-32-bit quotient kept to its low 32 bits; a zero divisor leaves the
// difference as it is.
DWORD Quotient(ULONGLONG difference, DWORD divisor) {
  return static_cast<DWORD>(divisor ? difference / divisor : difference);
}

// Tick count: milliseconds, compared on their low 32 bits.
DWORD TickElapsed(ULONGLONG* v, bool reset) {
  DWORD now = GetTickCount();
  DWORD elapsed = now - static_cast<DWORD>(*v);
  if (reset) *v = now;
  return elapsed;
}
DWORD KVAPI TickRaw(ULONGLONG* v) { return TickElapsed(v, false); }
DWORD KVAPI TickMicro(ULONGLONG* v) { return TickElapsed(v, false) * 1000u; }
DWORD KVAPI TickMilli(ULONGLONG* v) { return TickElapsed(v, false); }
DWORD KVAPI TickRawDelta(ULONGLONG* v) { return TickElapsed(v, true); }
DWORD KVAPI TickMicroDelta(ULONGLONG* v) { return TickElapsed(v, true) * 1000u; }
DWORD KVAPI TickMilliDelta(ULONGLONG* v) { return TickElapsed(v, true); }

// Performance counter.
ULONGLONG PerfNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<ULONGLONG>(now.QuadPart);
}
ULONGLONG PerfDifference(ULONGLONG* v, bool reset) {
  ULONGLONG now = PerfNow();
  ULONGLONG d = now - *v;
  if (reset) *v = now;
  return d;
}
DWORD PerfMicroOf(ULONGLONG d) {
  DWORD us = Quotient(d, g_clock.countsPerMicrosecond);
  if (g_clock.correctionDivisor)
    us = static_cast<DWORD>(MulDiv(static_cast<int>(us), 1000000, static_cast<int>(g_clock.correctionDivisor)));
  return us;
}
DWORD KVAPI PerfRaw(ULONGLONG* v) { return static_cast<DWORD>(PerfDifference(v, false)); }
DWORD KVAPI PerfMicro(ULONGLONG* v) { return PerfMicroOf(PerfDifference(v, false)); }
DWORD KVAPI PerfMilli(ULONGLONG* v) { return Quotient(PerfDifference(v, false), g_clock.countsPerMillisecond); }
DWORD KVAPI PerfRawDelta(ULONGLONG* v) { return static_cast<DWORD>(PerfDifference(v, true)); }
DWORD KVAPI PerfMicroDelta(ULONGLONG* v) { return PerfMicroOf(PerfDifference(v, true)); }
DWORD KVAPI PerfMilliDelta(ULONGLONG* v) { return Quotient(PerfDifference(v, true), g_clock.countsPerMillisecond); }

// Time-stamp counter.
ULONGLONG TscDifference(ULONGLONG* v, bool reset) {
  ULONGLONG now = __rdtsc();
  ULONGLONG d = now - *v;
  if (reset) *v = now;
  return d;
}
DWORD KVAPI TscRaw(ULONGLONG* v) { return static_cast<DWORD>(TscDifference(v, false)); }
DWORD KVAPI TscMicro(ULONGLONG* v) { return Quotient(TscDifference(v, false), g_clock.countsPerMicrosecond); }
DWORD KVAPI TscMilli(ULONGLONG* v) { return Quotient(TscDifference(v, false), g_clock.countsPerMillisecond); }
DWORD KVAPI TscRawDelta(ULONGLONG* v) { return static_cast<DWORD>(TscDifference(v, true)); }
DWORD KVAPI TscMicroDelta(ULONGLONG* v) { return Quotient(TscDifference(v, true), g_clock.countsPerMicrosecond); }
DWORD KVAPI TscMilliDelta(ULONGLONG* v) { return Quotient(TscDifference(v, true), g_clock.countsPerMillisecond); }

const ClockOp kTickOps[kOpCount] = {TickRaw, TickMicro, TickMilli, TickRawDelta, TickMicroDelta, TickMilliDelta};
const ClockOp kPerfOps[kOpCount] = {PerfRaw, PerfMicro, PerfMilli, PerfRawDelta, PerfMicroDelta, PerfMilliDelta};
const ClockOp kTscOps[kOpCount] = {TscRaw, TscMicro, TscMilli, TscRawDelta, TscMicroDelta, TscMilliDelta};

const ClockOp* g_ops = kTickOps;

bool IsNtPlatform() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return true;
#pragma GCC diagnostic pop
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void PrepareTimeStampCalibration() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  if (si.dwProcessorType < PROCESSOR_INTEL_PENTIUM || IsNtPlatform()) return;
  g_clock.calibrationStart = 0;
  g_ops[kRawDelta](&g_clock.calibrationStart);
  ULONGLONG first = __rdtsc();
  ULONGLONG second = __rdtsc();
  g_clock.tscAtPreparation = second;
  g_clock.tscUsable = second - first <= 1000;
}

}  // namespace

extern "C" {

void KVAPI KvTimer_ComputeConstants(ULONGLONG frequency, KVCLOCKCONSTANTS* out) {
  if (!out) return;
  out->countsPerSecond = static_cast<DWORD>(frequency);
  out->countsPerMillisecond = static_cast<DWORD>(frequency / 1000);
  out->countsPerMicrosecond = static_cast<DWORD>(frequency / 1000000);
  // The microsecond count is corrected when the integer counts per microsecond
  // do not divide the frequency exactly. A counter slower than 1 MHz has no
  // whole count per microsecond: its differences are used as they are.
  DWORD divisor = out->countsPerMicrosecond ? static_cast<DWORD>(frequency / out->countsPerMicrosecond) : 0;
  out->correctionDivisor = divisor == 1000000 ? 0 : divisor;
}

void KVAPI KvTimer_Initialize(DWORD level) {
  LARGE_INTEGER frequency;
  if (level && g_clock.kind == kTickCount && QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
    KVCLOCKCONSTANTS c;
    KvTimer_ComputeConstants(static_cast<ULONGLONG>(frequency.QuadPart), &c);
    g_clock.countsPerSecond = c.countsPerSecond;
    g_clock.countsPerMillisecond = c.countsPerMillisecond ? c.countsPerMillisecond : 1;
    g_clock.countsPerMicrosecond = c.countsPerMicrosecond;
    g_clock.correctionDivisor = c.correctionDivisor;
    g_clock.scale = 1000;
    g_ops = kPerfOps;
    g_clock.kind = kPerformanceCounter;
  }
  g_ops[kRawDelta](&g_clock.start);
  if (level >= 5) PrepareTimeStampCalibration();
}

DWORD KVAPI KvTimer_LateInitialize(void) {
  DWORD result = 0;
  if (g_clock.tscUsable) {
    DWORD elapsed = g_ops[kMilli](&g_clock.calibrationStart);
    DWORD difference = static_cast<DWORD>(__rdtsc() - g_clock.tscAtPreparation);
    if (elapsed < 500) {
      Sleep(500 - elapsed);
      elapsed = g_ops[kMilli](&g_clock.calibrationStart);
      difference = static_cast<DWORD>(__rdtsc() - g_clock.tscAtPreparation);
    }
    if (elapsed >= 450) {
      ULONGLONG perMicro = (static_cast<ULONGLONG>(difference) + static_cast<ULONGLONG>(elapsed) * 500) /
                           (static_cast<ULONGLONG>(elapsed) * 1000);
      g_clock.countsPerMicrosecond = static_cast<DWORD>(perMicro);
      g_clock.correctionDivisor = 0;
      g_clock.scale = 1000;
      g_clock.countsPerMillisecond = g_clock.countsPerMicrosecond * 1000;
      g_clock.countsPerSecond = g_clock.countsPerMicrosecond * 1000000;
      g_ops = kTscOps;
      g_clock.kind = kTimeStampCounter;
      // The library's own start value restarts in the new counter's units.
      g_ops[kRawDelta](&g_clock.start);
      result = g_clock.countsPerSecond;
    } else {
      g_clock.tscUsable = false;
    }
  }
  g_clock.lateDone = true;
  return result;
}

DWORD KVAPI KvTimer_GetClockKind(void) { return g_clock.kind; }

DWORD KVAPI KvGetMillisec(void) { return g_ops[kMilli](&g_clock.start); }
DWORD KVAPI KvGetMicrosec(void) { return g_ops[kMicro](&g_clock.start); }

DWORD KVAPI KvGetMillisecEx(ULONGLONG* value) { return value ? g_ops[kMilli](value) : 0; }
DWORD KVAPI KvDeltaMillisecEx(ULONGLONG* value) { return value ? g_ops[kMilliDelta](value) : 0; }
DWORD KVAPI KvGetMicrosecEx(ULONGLONG* value) { return value ? g_ops[kMicro](value) : 0; }
DWORD KVAPI KvDeltaMicrosecEx(ULONGLONG* value) { return value ? g_ops[kMicroDelta](value) : 0; }

}  // extern "C"
