// The exported conversion self-test passes at every processor level, runs the
// nodes its level allows, and leaves the floating-point control words alone.
#include <gtest/gtest.h>

#include "audio_test_util.h"
#include "kvaudio_selftest.h"

TEST(SelfTest, PassesAtEveryLevel) {
  const DWORD raw = KvAudioCpu_GetSupportRaw(0);
  struct {
    DWORD allow;
    int nodes;
    DWORD need;
  } levels[] = {{0, 14, 0}, {2, 20, 0}, {0x30, 23, 0x20}, {0x70, 26, 0x40}};
  const uint16_t cw = kvtest::X87ControlWord();
  const uint32_t mx = kvtest::Mxcsr();
  for (auto& l : levels) {
    if ((raw & l.need) != l.need) continue;
    KvAudioCpu_OnlyAllow(l.allow);
    KvAudioSelfTestReport report;
    EXPECT_EQ(KvAudioCopy_RunSelfTest(&report), S_OK) << report.details;
    EXPECT_EQ(report.nodesRun, l.nodes) << "allow " << l.allow;
    EXPECT_TRUE(report.details.empty());
  }
  KvAudioCpu_AllowAll();
  EXPECT_EQ(KvAudioCopy_UnitTest(nullptr), S_OK);
  EXPECT_EQ(kvtest::X87ControlWord(), cw);
  EXPECT_EQ(kvtest::Mxcsr(), mx);
}
