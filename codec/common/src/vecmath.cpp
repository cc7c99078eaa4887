// The vector-math table: generic routines from load, kernels installed by
// VecMathInit, and the entry functions that call through the slots.
//
// Slots are read and written with relaxed atomic accesses: a routine fetched
// while VecMathInit runs on another thread is either the generic routine or
// the kernel, both correct, and there is no data race.
#include <cstring>

#include "cpuident.h"
#include "vecmath_kernels.h"

namespace {

const VecMathTable kGeneric = {
#define VECMATH_GENERIC_ENTRY(slot, name, ret, params, args, sse, sse2) &name##Generic,
    VECMATH_OPS(VECMATH_GENERIC_ENTRY)
#undef VECMATH_GENERIC_ENTRY
};

static_assert(sizeof(VecMathTable) == kVecMathSlots * sizeof(void (*)()),
              "one routine pointer per slot");

template <class F>
inline F loadSlot(F* slot) {
  return __atomic_load_n(slot, __ATOMIC_RELAXED);
}
template <class F>
inline void storeSlot(F* slot, F value) {
  if (__atomic_load_n(slot, __ATOMIC_RELAXED) != value)
    __atomic_store_n(slot, value, __ATOMIC_RELAXED);
}

}  // namespace

VecMathTable vecMathTable = kGeneric;

#define VECMATH_DEFINE_ENTRY(slot, name, ret, params, args, sse, sse2) \
  ret name params { return loadSlot(&vecMathTable.name) args; }
VECMATH_OPS(VECMATH_DEFINE_ENTRY)
#undef VECMATH_DEFINE_ENTRY

void vecMathInstall(bool sse, bool sse2) {
#define VECMATH_INSTALL(slot, name, ret, params, args, sse_kind, sse2_kind)                \
  {                                                                                       \
    auto chosen = kGeneric.name;                                                          \
    if (sse && kVecMathSseKernels.name) chosen = kVecMathSseKernels.name;                 \
    if (sse2 && kVecMathSse2Kernels.name) chosen = kVecMathSse2Kernels.name;              \
    storeSlot(&vecMathTable.name, chosen);                                                \
  }
  VECMATH_OPS(VECMATH_INSTALL)
#undef VECMATH_INSTALL
}

int32_t VecMathInit() {
  const bool sse = cpuHasFeature(kCpuFeatureSse) == 1;
  const uint32_t sse2 = cpuHasFeature(kCpuFeatureSse2);
  vecMathInstall(sse, sse2 == 1);
  return static_cast<int32_t>(sse2);
}

const VecMathTable& vecMathGenericTable() { return kGeneric; }
const VecMathTable& vecMathSseTable() { return kVecMathSseKernels; }
const VecMathTable& vecMathSse2Table() { return kVecMathSse2Kernels; }

const void* vecMathSlot(const VecMathTable& table, int i) {
  if (i < 0 || i >= kVecMathSlots) return nullptr;
  void (*fn)();
  std::memcpy(&fn, reinterpret_cast<const char*>(&table) + i * sizeof(fn), sizeof(fn));
  return reinterpret_cast<const void*>(fn);
}
