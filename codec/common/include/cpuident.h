// The codec's own processor identification: cpuid leaves read once per
// process into cpuidRecord, numbered queries, and five feature flags.
#pragma once

#include <cstdint>

struct CpuidRecord {
  char vendor[13];       // leaf 0 EBX, EDX, ECX, then a zero byte
  uint32_t signature;    // leaf 1 EAX
  uint32_t leaf1Ebx;     // brand id bits 0-7, logical processors bits 16-23
  uint32_t leaf1Edx;
  uint32_t leaf1Ecx;
  uint32_t extEdx;       // leaf 0x80000001
  uint32_t extEbx;
  uint32_t extEcx;
  char brand[48];        // leaves 0x80000002..4, EAX EBX ECX EDX each
  uint32_t l1Info[4];    // leaf 0x80000005 EAX EBX ECX EDX
  uint32_t l2Info[4];    // leaf 0x80000006
  uint32_t status;       // 0 not read, 1 read, 0xFFFFFFFF no cpuid
};

constexpr uint32_t kCpuidNoCpuid = 0xFFFFFFFFu;

// 0 when cpuid leaf 0 can be executed, -1 when the processor has no cpuid
// (or the host is not an x86 processor).
int32_t cpuidProbe();

// Reads the leaves into the record; 1 on success, 0xFFFFFFFF (nothing stored)
// when cpuidProbe fails.
uint32_t cpuidReadLeaves(CpuidRecord* record);

// The answer to one numbered question about the processor (vendor 0, class 1,
// feature bits 5-32, AMD cache fields 33-60). Reads the leaves on first use;
// without cpuid every query answers 0.
uint32_t cpuQueryInfo(uint32_t query);

// The feature numbers cpuHasFeature answers for.
enum CpuFeature : int32_t {
  kCpuFeatureFpu = 0,
  kCpuFeatureMmx = 1,
  kCpuFeatureSse = 2,
  kCpuFeatureSse2 = 3,
  kCpuFeatureSse3 = 4,
};

// 1 or 0 for one of the CpuFeature numbers; 0 for any other number. Only the
// cpuid bits are consulted.
uint32_t cpuHasFeature(int32_t feature);

// The record the queries answer from (read on first use).
const CpuidRecord& cpuidRecord();

// Test hook: answer from the given record instead of the processor's (null
// goes back to the processor's). The record is copied.
void cpuidForceRecord(const CpuidRecord* record);
