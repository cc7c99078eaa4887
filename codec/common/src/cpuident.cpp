// Processor identification through cpuid. cpuid is executed with the
// compiler's <cpuid.h>; on 32-bit x86 its presence is tested first by
// toggling the ID flag of EFLAGS, so no exception guard is needed.
#include "cpuident.h"

#include <cstring>
#include <mutex>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VOG_HAS_CPUID 1
#else
#define VOG_HAS_CPUID 0
#endif

namespace {

CpuidRecord gRecord;
std::once_flag gRecordOnce;
CpuidRecord gForced;
bool gUseForced = false;  // set only by the test hook
std::mutex gForcedMutex;

#if VOG_HAS_CPUID
void runCpuid(uint32_t leaf, uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
  __cpuid(leaf, *a, *b, *c, *d);
}
#endif

const CpuidRecord& activeRecord() {
  std::call_once(gRecordOnce, [] {
    std::memset(&gRecord, 0, sizeof gRecord);
    gRecord.status = cpuidReadLeaves(&gRecord);
  });
  if (__atomic_load_n(&gUseForced, __ATOMIC_ACQUIRE)) return gForced;
  return gRecord;
}

inline uint32_t bit(uint32_t word, int b) { return (word >> b) & 1u; }

uint32_t vendorId(const CpuidRecord& r) {
  static const char* const kVendors[] = {"AuthenticAMD", "GenuineIntel", "CyrixInstead",
                                         "CentaurHauls"};
  for (int i = 0; i < 4; ++i)
    if (std::memcmp(r.vendor, kVendors[i], 12) == 0) return static_cast<uint32_t>(i + 1);
  return 0;
}

uint32_t processorClass(const CpuidRecord& r, uint32_t vendor) {
  const uint32_t family = (r.signature >> 8) & 0xF;
  const uint32_t model = (r.signature >> 4) & 0xF;
  if (family < 4) return 0;
  if (vendor == 1) {
    switch (family) {
      case 4: return 1;
      case 5:
        if (model <= 3) return 2;
        if (model <= 7) return 3;
        if (model == 8) return 4;
        return 5;
      case 6:
        if (model == 0 || model == 1 || model == 2 || model == 4) return 6;
        if (model == 3 || model == 7) return 7;
        return 8;
      case 15: {
        uint32_t id = r.leaf1Ebx & 0xFF;
        uint32_t b = id != 0 ? ((((id & 0xE0) << 3) | (id & 0x1F)) >> 6) : ((r.extEbx & 0xFFF) >> 6);
        if (b == 4) return 10;
        if (b == 5) return 14;
        if (b == 6) return 15;
        if (b >= 8 && b <= 10) return 11;
        if ((b >= 14 && b <= 16) || (b >= 18 && b <= 20) || b == 22 || b == 23) return 12;
        if (b == 29 || b == 30 || (b >= 32 && b <= 35)) return 13;
        if (b == 36) return 9;
        return 0;
      }
      default: return 0;
    }
  }
  if (vendor == 2) {
    switch (family) {
      case 4:
        if (model <= 1) return 16;
        if (model == 2) return 17;
        if (model == 3) return 18;
        if (model == 4) return 19;
        if (model == 5) return 20;
        if (model == 7) return 21;
        if (model == 8) return 22;
        return 0;
      case 5:
        if (model >= 1 && model <= 3) return 23;
        if (model == 4) return 24;
        return 0;
      case 6:
        if (model == 1) return 25;
        if (model == 3 || model == 5) return 26;
        if (model == 6) return 27;
        if (model == 7) return 28;
        if (model == 13) return 29;
        return 0;
      case 15: return model <= 4 ? 30 : 0;
      default: return 0;
    }
  }
  return 0;
}

uint32_t byteOf(uint32_t word, int index) { return (word >> (8 * index)) & 0xFF; }

uint32_t answer(const CpuidRecord& r, uint32_t q) {
  const uint32_t vendor = vendorId(r);
  const uint32_t edx = r.leaf1Edx;
  if (q == 0) return vendor;
  if (q == 1) return processorClass(r, vendor);
  if (q == 4) return 1;
  if (q >= 5 && q <= 14) return bit(edx, static_cast<int>(q - 5));
  if (q >= 15 && q <= 19) return bit(edx, static_cast<int>(q - 4));
  if (q == 20 || q == 21) return bit(edx, static_cast<int>(q - 4));
  if (q == 22) return bit(edx, 25) | bit(r.extEdx, 22);
  if (q == 23 || q == 24) return bit(edx, static_cast<int>(q));
  if (q == 25) return bit(r.extEdx, 30);
  if (q == 26) return bit(r.extEdx, 31);
  if (q == 27) return bit(r.extEdx, 22);
  if (q == 28) return bit(edx, 25);
  if (q == 29) return bit(edx, 26);
  if (q == 31) return bit(r.leaf1Ecx, 0);
  if (q == 32) {
    if (!bit(edx, 28)) return 0;
    if (vendor == 1 && bit(r.extEcx, 1)) return 0;
    return ((r.leaf1Ebx >> 16) & 0xFF) > 1 ? 1 : 0;
  }
  // 2, 3, 30 and 33 and above: AMD only.
  if (vendor != 1) return 0xFFFFFFFFu;
  if (q == 2 || q == 3 || q == 30) return 0;
  if (q > 60) return 0;
  const bool k7 = processorClass(r, vendor) == 6;
  if (q >= 33 && q <= 36) return k7 ? 0 : byteOf(r.l1Info[1], static_cast<int>(36 - q));
  if (q >= 37 && q <= 40) return k7 ? byteOf(r.l1Info[0], static_cast<int>(40 - q)) : 0;
  if (q >= 41 && q <= 44) return k7 ? 0 : byteOf(r.l1Info[2], static_cast<int>(44 - q));
  if (q >= 45 && q <= 48) return k7 ? 0 : byteOf(r.l1Info[3], static_cast<int>(48 - q));
  const uint32_t l2a = r.l2Info[0], l2b = r.l2Info[1], l2c = r.l2Info[2];
  switch (q) {
    case 49: return k7 ? 0 : (l2c >> 16) & 0xFFFF;
    case 50: return k7 ? 0 : (l2c >> 12) & 0xF;
    case 51: return k7 ? 0 : (l2c >> 8) & 0xF;
    case 52: return k7 ? 0 : l2c & 0xFF;
    case 53: return k7 ? (l2a >> 28) & 0xF : 0;
    case 54: return k7 ? (l2a >> 16) & 0xFFF : 0;
    case 55: return k7 ? (l2a >> 12) & 0xF : 0;
    case 56: return k7 ? l2a & 0xFFF : 0;
    case 57: return k7 ? (l2b >> 28) & 0xF : 0;
    case 58: return k7 ? (l2b >> 16) & 0xFFF : 0;
    case 59: return k7 ? (l2b >> 12) & 0xF : 0;
    case 60: return k7 ? l2b & 0xFFF : 0;
    default: return 0;
  }
}

}  // namespace

int32_t cpuidProbe() {
#if VOG_HAS_CPUID
#if defined(__i386__)
  // A processor has cpuid when the ID bit (21) of EFLAGS can be toggled.
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "popfl\n\t"
      : "=&r"(before), "=&r"(after)
      :
      : "cc");
  return ((before ^ after) & 0x200000u) ? 0 : -1;
#else
  return 0;  // every x86-64 processor has cpuid
#endif
#else
  return -1;
#endif
}

uint32_t cpuidReadLeaves(CpuidRecord* r) {
  if (cpuidProbe() != 0) return kCpuidNoCpuid;
#if VOG_HAS_CPUID
  uint32_t a, b, c, d;
  runCpuid(0, &a, &b, &c, &d);
  std::memset(r->vendor, 0, sizeof r->vendor);
  std::memcpy(r->vendor, &b, 4);
  std::memcpy(r->vendor + 4, &d, 4);
  std::memcpy(r->vendor + 8, &c, 4);
  if (a > 0) {
    runCpuid(1, &a, &b, &c, &d);
    r->signature = a;
    r->leaf1Ebx = b;
    r->leaf1Edx = d;
    r->leaf1Ecx = c;
  }
  runCpuid(0x80000000u, &a, &b, &c, &d);
  uint32_t highest = a > 0x80000006u ? 0x80000006u : a;
  if (highest < 0x80000001u) return 1;
  if (highest >= 0x80000006u) runCpuid(0x80000006u, &r->l2Info[0], &r->l2Info[1], &r->l2Info[2], &r->l2Info[3]);
  if (highest >= 0x80000005u) runCpuid(0x80000005u, &r->l1Info[0], &r->l1Info[1], &r->l1Info[2], &r->l1Info[3]);
  for (uint32_t leaf = 0x80000004u; leaf >= 0x80000002u; --leaf) {
    if (highest < leaf) continue;
    uint32_t regs[4];
    runCpuid(leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
    std::memcpy(r->brand + 16 * (leaf - 0x80000002u), regs, 16);
  }
  runCpuid(0x80000001u, &a, &b, &c, &d);
  r->extEdx = d;
  r->extEbx = b;
  r->extEcx = c;
  return 1;
#else
  return kCpuidNoCpuid;
#endif
}

const CpuidRecord& cpuidRecord() { return activeRecord(); }

uint32_t cpuQueryInfo(uint32_t query) {
  const CpuidRecord& r = activeRecord();
  if (r.status == kCpuidNoCpuid) return 0;
  return answer(r, query);
}

uint32_t cpuHasFeature(int32_t feature) {
  // The numbered query answering each CpuFeature, in order.
  static const uint32_t kQueries[5] = {5, 23, 28, 29, 31};
  if (feature < kCpuFeatureFpu || feature > kCpuFeatureSse3) return 0;
  return cpuQueryInfo(kQueries[feature]) == 1 ? 1u : 0u;
}

void cpuidForceRecord(const CpuidRecord* record) {
  std::lock_guard<std::mutex> lock(gForcedMutex);
  activeRecord();
  __atomic_store_n(&gUseForced, false, __ATOMIC_RELEASE);
  if (record) {
    gForced = *record;
    __atomic_store_n(&gUseForced, true, __ATOMIC_RELEASE);
  }
}
