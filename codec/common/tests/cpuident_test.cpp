// Processor identification against /proc/cpuinfo (read by the fixture step,
// the same file for the native and the Wine run), forced records for
// processors without cpuid or with only one of SSE/SSE2, and the slots that
// VecMathInit changes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "cpuident.h"
#include "testdata.h"
#include "vecmath.h"
#include "vog_tools.h"

namespace {

std::map<std::string, std::string> expectedFlags() {
  std::map<std::string, std::string> flags;
  std::istringstream lines(codectest::readText("cpu/flags.txt"));
  std::string line;
  while (std::getline(lines, line)) {
    auto space = line.find(' ');
    if (space != std::string::npos) flags[line.substr(0, space)] = line.substr(space + 1);
  }
  return flags;
}

int changedSlots(bool* changed) {
  int count = 0;
  for (int i = 0; i < kVecMathSlots; ++i) {
    changed[i] = vecMathSlot(vecMathTable, i) != vecMathSlot(vecMathGenericTable(), i);
    count += changed[i];
  }
  return count;
}

CpuidRecord recordWith(uint32_t edx, uint32_t ecx = 0) {
  CpuidRecord r;
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.vendor, "GenuineIntel", 12);
  r.signature = 0x6D0;  // family 6, model 13
  r.leaf1Edx = edx;
  r.leaf1Ecx = ecx;
  r.status = 1;
  return r;
}

constexpr uint32_t kFpu = 1u << 0, kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;

// Restores the processor's own record and kernels after each forced case.
class ForcedCpu : public testing::Test {
 protected:
  void TearDown() override {
    cpuidForceRecord(nullptr);
    VecMathInit();
  }
};

}  // namespace

// Runs first in this program: nothing has installed kernels yet.
TEST(VecMathTable, HoldsGenericRoutinesBeforeInit) {
  bool changed[kVecMathSlots];
  EXPECT_EQ(changedSlots(changed), 0);
  float x[3] = {2.5f, -2.5f, 40000.0f}, z[3];
  vecRoundClip16(x, z, 3);
  EXPECT_EQ(z[0], 3.0f);
  EXPECT_EQ(z[1], -3.0f);
  EXPECT_EQ(z[2], 32767.0f);
}

TEST(CpuIdent, FeaturesAgreeWithProcCpuinfo) {
  auto flags = expectedFlags();
  if (flags.empty()) VOG_TOOL_MISSING("numpy") << "fixture missing";
  const struct { CpuFeature feature; const char* name; } features[] = {
      {kCpuFeatureFpu, "fpu"}, {kCpuFeatureMmx, "mmx"}, {kCpuFeatureSse, "sse"},
      {kCpuFeatureSse2, "sse2"}, {kCpuFeatureSse3, "sse3"}};
  for (const auto& f : features)
    EXPECT_EQ(cpuHasFeature(f.feature), static_cast<uint32_t>(std::stoi(flags[f.name]))) << f.name;
  EXPECT_EQ(cpuHasFeature(kCpuFeatureSse3 + 1), 0u);
  EXPECT_EQ(cpuHasFeature(-1), 0u);
  EXPECT_EQ(cpuidRecord().status, 1u);
  EXPECT_EQ(std::string(cpuidRecord().vendor), flags["vendor"]);
  const std::map<std::string, uint32_t> vendorIds = {
      {"AuthenticAMD", 1}, {"GenuineIntel", 2}, {"CyrixInstead", 3}, {"CentaurHauls", 4}};
  auto it = vendorIds.find(flags["vendor"]);
  EXPECT_EQ(cpuQueryInfo(0), it == vendorIds.end() ? 0u : it->second);
  // The brand string is printable text within its 48 bytes. It is not compared
  // with the kernel's model name: under a hypervisor the two may differ.
  size_t length = strnlen(cpuidRecord().brand, 48);
  EXPECT_LT(length, 48u);
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(cpuidRecord().brand[i]);
    EXPECT_TRUE(c >= 32 && c < 127) << "byte " << i;
  }
}

TEST(CpuIdent, InitInstallsKernelsForThisProcessor) {
  int32_t sse2 = VecMathInit();
  EXPECT_EQ(static_cast<uint32_t>(sse2), cpuHasFeature(kCpuFeatureSse2));
  bool changed[kVecMathSlots];
  int count = changedSlots(changed);
  int expected = (cpuHasFeature(kCpuFeatureSse) ? 86 : 0);
  if (cpuHasFeature(kCpuFeatureSse2)) expected += cpuHasFeature(kCpuFeatureSse) ? 2 : 4;
  EXPECT_EQ(count, expected);
  EXPECT_EQ(VecMathInit(), sse2) << "a second call writes the same values";
  EXPECT_EQ(changedSlots(changed), count);
}

TEST_F(ForcedCpu, NoCpuidAnswersZeroAndKeepsGenericRoutines) {
  CpuidRecord r;
  std::memset(&r, 0, sizeof r);
  r.status = kCpuidNoCpuid;
  cpuidForceRecord(&r);
  for (uint32_t q = 0; q <= 64; ++q) EXPECT_EQ(cpuQueryInfo(q), 0u) << q;
  for (int f = -1; f <= 5; ++f) EXPECT_EQ(cpuHasFeature(f), 0u) << f;
  vecMathInstall(false, false);
  EXPECT_EQ(VecMathInit(), 0);
  bool changed[kVecMathSlots];
  EXPECT_EQ(changedSlots(changed), 0);
}

TEST_F(ForcedCpu, SseWithoutSse2Changes86Slots) {
  CpuidRecord r = recordWith(kFpu | kMmx | kSse);
  cpuidForceRecord(&r);
  EXPECT_EQ(cpuHasFeature(kCpuFeatureSse), 1u);
  EXPECT_EQ(cpuHasFeature(kCpuFeatureSse2), 0u);
  vecMathInstall(false, false);
  EXPECT_EQ(VecMathInit(), 0);
  bool changed[kVecMathSlots];
  EXPECT_EQ(changedSlots(changed), 86);
  for (int slot : {8, 17, 39, 66, 72, 73, 92, 93, 94, 95, 96, 97})
    EXPECT_FALSE(changed[slot]) << "slot " << slot;
  EXPECT_EQ(vecMathSlot(vecMathTable, 37), vecMathSlot(vecMathSseTable(), 37));
  EXPECT_EQ(vecMathSlot(vecMathTable, 35), vecMathSlot(vecMathSseTable(), 35));
  // The packed SSE path rounds halves to even, the tail away from zero.
  alignas(16) float x[5] = {2.5f, 3.5f, -2.5f, 0.5f, 2.5f};
  alignas(16) float z[5];
  vecRoundClip16(x, z, 5);
  EXPECT_EQ(z[0], 2.0f);
  EXPECT_EQ(z[1], 4.0f);
  EXPECT_EQ(z[2], -2.0f);
  EXPECT_EQ(z[3], 0.0f);
  EXPECT_EQ(z[4], 3.0f);
}

TEST_F(ForcedCpu, Sse2WithoutSseChangesFourSlots) {
  CpuidRecord r = recordWith(kFpu | kSse2);
  cpuidForceRecord(&r);
  vecMathInstall(false, false);
  EXPECT_EQ(VecMathInit(), 1);
  bool changed[kVecMathSlots];
  EXPECT_EQ(changedSlots(changed), 4);
  for (int slot : {37, 71, 72, 73}) EXPECT_TRUE(changed[slot]) << "slot " << slot;
}

TEST_F(ForcedCpu, SseAndSse2Change88Slots) {
  CpuidRecord r = recordWith(kFpu | kMmx | kSse | kSse2, 1);
  cpuidForceRecord(&r);
  EXPECT_EQ(cpuHasFeature(kCpuFeatureSse3), 1u);
  EXPECT_EQ(VecMathInit(), 1);
  bool changed[kVecMathSlots];
  EXPECT_EQ(changedSlots(changed), 88);
  for (int slot : {37, 71, 72, 73})
    EXPECT_EQ(vecMathSlot(vecMathTable, slot), vecMathSlot(vecMathSse2Table(), slot)) << slot;
  EXPECT_EQ(vecMathSlot(vecMathTable, 8), vecMathSlot(vecMathGenericTable(), 8))
      << "division is never replaced";
}

TEST_F(ForcedCpu, QueriesOfVendorClassAndCacheFields) {
  struct Case {
    const char* vendor;
    uint32_t signature, ebx, extEbx;
    uint32_t query, answer;
  } cases[] = {
      {"GenuineIntel", 0x6D0, 0, 0, 1, 29},
      {"GenuineIntel", 0x450, 0, 0, 1, 20},
      {"GenuineIntel", 0xF20, 0, 0, 1, 30},
      {"GenuineIntel", 0x390, 0, 0, 1, 0},
      {"AuthenticAMD", 0x640, 0, 0, 1, 6},
      {"AuthenticAMD", 0x680, 0, 0, 1, 8},
      {"AuthenticAMD", 0x580, 0, 0, 1, 4},
      {"AuthenticAMD", 0xF40, 0, 0x100, 1, 10},   // brand index 4 from extEbx
      {"AuthenticAMD", 0xF40, 0x21, 0, 1, 10},    // brand id 0x21: ((0x20 << 3) | 1) >> 6 = 4
      {"AuthenticAMD", 0xF40, 0, 0x740, 1, 13},   // brand index 29 from extEbx
      {"CyrixInstead", 0x540, 0, 0, 0, 3},
      {"CyrixInstead", 0x540, 0, 0, 1, 0},
      {"SomeoneElse!", 0x540, 0, 0, 0, 0},
      {"GenuineIntel", 0x6D0, 0, 0, 2, 0xFFFFFFFFu},
      {"GenuineIntel", 0x6D0, 0, 0, 61, 0xFFFFFFFFu},
      {"AuthenticAMD", 0x6D0, 0, 0, 2, 0},
      {"AuthenticAMD", 0x6D0, 0, 0, 61, 0},
      {"GenuineIntel", 0x6D0, 0, 0, 4, 1},
  };
  for (const Case& c : cases) {
    CpuidRecord r = recordWith(kFpu);
    std::memcpy(r.vendor, c.vendor, 12);
    r.signature = c.signature;
    r.leaf1Ebx = c.ebx;
    r.extEbx = c.extEbx;
    cpuidForceRecord(&r);
    EXPECT_EQ(cpuQueryInfo(c.query), c.answer) << c.vendor << " " << std::hex << c.signature
                                               << " query " << std::dec << c.query;
  }
  // AMD cache fields: class 6 (K7) reads l1 EAX and l2 EAX/EBX, others l1 EBX/ECX/EDX and l2 ECX.
  CpuidRecord amd = recordWith(kFpu);
  std::memcpy(amd.vendor, "AuthenticAMD", 12);
  amd.signature = 0x680;  // class 8
  amd.l1Info[0] = 0x11223344;
  amd.l1Info[1] = 0x55667788;
  amd.l2Info[2] = 0x12345678;
  cpuidForceRecord(&amd);
  EXPECT_EQ(cpuQueryInfo(33), 0x55u);
  EXPECT_EQ(cpuQueryInfo(36), 0x88u);
  EXPECT_EQ(cpuQueryInfo(37), 0u);
  EXPECT_EQ(cpuQueryInfo(49), 0x1234u);
  EXPECT_EQ(cpuQueryInfo(50), 0x5u);
  EXPECT_EQ(cpuQueryInfo(51), 0x6u);
  EXPECT_EQ(cpuQueryInfo(52), 0x78u);
  amd.signature = 0x640;  // class 6
  cpuidForceRecord(&amd);
  EXPECT_EQ(cpuQueryInfo(33), 0u);
  EXPECT_EQ(cpuQueryInfo(37), 0x11u);
  EXPECT_EQ(cpuQueryInfo(40), 0x44u);
}
