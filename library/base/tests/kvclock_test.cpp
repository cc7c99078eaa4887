// Clocks: readings never run backwards, the delta forms restart a caller's
// measurement, and the performance-counter constants follow the frequency.
// No timing is asserted beyond order.
#include <gtest/gtest.h>

#include "kvclock.h"

namespace {

TEST(KvClock, ReadingsAreMonotonicBeforeAndAfterInitialisation) {
  for (int phase = 0; phase < 2; ++phase) {
    SCOPED_TRACE(phase ? "performance counter" : "tick count");
    if (phase == 1) {
      KvTimer_Initialize(4);
      KvTimer_LateInitialize();
      EXPECT_EQ(KvTimer_GetClockKind(), 1u);  // a performance counter is always there on NT
    }
    DWORD lastMs = KvGetMillisec();
    DWORD lastUs = KvGetMicrosec();
    ULONGLONG mine = 0;
    KvDeltaMicrosecEx(&mine);  // starts the measurement
    EXPECT_NE(mine, 0u);
    DWORD lastMine = 0;
    for (int i = 0; i < 2000; ++i) {
      DWORD ms = KvGetMillisec();
      DWORD us = KvGetMicrosec();
      DWORD m = KvGetMicrosecEx(&mine);
      EXPECT_GE(ms, lastMs);
      EXPECT_GE(us, lastUs);
      EXPECT_GE(m, lastMine);
      lastMs = ms;
      lastUs = us;
      lastMine = m;
    }
    // Milliseconds and microseconds of one start value agree in scale.
    ULONGLONG a = 0;
    KvDeltaMillisecEx(&a);
    ULONGLONG b = a;
    Sleep(30);
    DWORD ms = KvGetMillisecEx(&a);
    DWORD us = KvGetMicrosecEx(&b);
    EXPECT_GE(ms, 1u);
    EXPECT_LE(ms, us / 1000 + 20);
    EXPECT_GE(ms + 20, us / 1000);
    // A delta restarts the measurement from now.
    ULONGLONG c = 0;
    KvDeltaMillisecEx(&c);
    Sleep(20);
    DWORD first = KvDeltaMillisecEx(&c);
    DWORD second = KvDeltaMillisecEx(&c);
    EXPECT_GE(first, 1u);
    EXPECT_LE(second, first);
  }
  EXPECT_EQ(KvGetMillisecEx(nullptr), 0u);
}

TEST(KvClock, PerformanceCounterConstants) {
  struct Case {
    ULONGLONG frequency;
    DWORD perMs, perUs, divisor;
  } cases[] = {
      {3579545, 3579, 3, 1193181},
      {1000000, 1000, 1, 0},
      {10000000, 10000, 10, 0},
      {2500000, 2500, 2, 1250000},
      {32768, 32, 0, 0},  // slower than 1 MHz: no correction, no division by zero
  };
  for (const auto& c : cases) {
    KVCLOCKCONSTANTS k;
    KvTimer_ComputeConstants(c.frequency, &k);
    EXPECT_EQ(k.countsPerSecond, static_cast<DWORD>(c.frequency));
    EXPECT_EQ(k.countsPerMillisecond, c.perMs) << c.frequency;
    EXPECT_EQ(k.countsPerMicrosecond, c.perUs) << c.frequency;
    EXPECT_EQ(k.correctionDivisor, c.divisor) << c.frequency;
  }
}

}  // namespace
