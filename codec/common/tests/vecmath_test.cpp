// The vector operations against numpy references (float32, sequential
// rules), through the generic routines, the SSE kernels and the SSE2 kernels,
// on 16-byte-aligned and on misaligned arrays. The packed reductions and
// conversions are compared with numpy emulations of their exact order of
// operations, so every kernel has one exact expectation on both builds; only
// the elementary functions (sin, exp, log, pow, ...) of the platform's math
// library are allowed 1 ulp. mingw's sin and cos reduce arguments of 2^63 and
// more with a short approximation of pi, so those few elements are not
// compared for the two trigonometric operations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "cpuident.h"
#include "testdata.h"
#include "vecmath.h"
#include "vog_tools.h"

using codectest::readArray;

namespace {

// Keep in step with make_references.py.
constexpr int N = 1007, NS = 333, SX = 3, SY = 2, SZ = 3, L = 2 * N;
constexpr float C = 1.7f, CPOW = 1.5f, LO = -50.0f, HI = 75.0f;
constexpr int32_t IC = -3, ILO = -1000, IHI = 5000;
constexpr float A_LOG = 0.75f, B_LOG = 3.0f, OFFSET = 0.5f, SCALE = 1000.0f;

// Element counts of the calls (the zero-count test sets both to 0).
int gN = N, gNS = NS;

enum class Out { F32, I32, I16, U8, Reduction };

struct Bufs {
  float *x, *y, *fin, *fy, *zf;
  int32_t *ia, *ib, *zi;
  int16_t* zs;
  uint8_t* zb;
};

using Call = std::function<float(const VecMathTable&, const Bufs&)>;

struct Case {
  const char* name;
  Out out;
  int ulps;
  Call call;
};

#define V(body) [](const VecMathTable& t, const Bufs& b) -> float { body; return 0.0f; }
#define R(body) [](const VecMathTable& t, const Bufs& b) -> float { return body; }

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"vecSum", Out::Reduction, 0, R(t.vecSum(b.fin, gN))},
      {"vecAdd", Out::F32, 0, V(t.vecAdd(b.x, b.y, b.zf, gN))},
      {"vecAddStrided", Out::F32, 0, V(t.vecAddStrided(b.x, SX, b.y, SY, b.zf, SZ, gNS))},
      {"vecAddScalar", Out::F32, 0, V(t.vecAddScalar(C, b.x, b.zf, gN))},
      {"vecSub", Out::F32, 0, V(t.vecSub(b.x, b.y, b.zf, gN))},
      {"vecSubStrided", Out::F32, 0, V(t.vecSubStrided(b.x, SX, b.y, SY, b.zf, SZ, gNS))},
      {"vecMul", Out::F32, 0, V(t.vecMul(b.x, b.y, b.zf, gN))},
      {"vecMulStrided", Out::F32, 0, V(t.vecMulStrided(b.x, SX, b.y, SY, b.zf, SZ, gNS))},
      {"vecDiv", Out::F32, 0, V(t.vecDiv(b.x, b.y, b.zf, gN))},
      {"vecDivStrided", Out::F32, 0, V(t.vecDivStrided(b.x, SX, b.y, SY, b.zf, SZ, gNS))},
      {"vecCopy", Out::F32, 0, V(t.vecCopy(b.x, b.zf, gN))},
      {"vecCopyStrided", Out::F32, 0, V(t.vecCopyStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecScale", Out::F32, 0, V(t.vecScale(C, b.x, b.zf, gN))},
      {"vecScaleStrided", Out::F32, 0, V(t.vecScaleStrided(C, b.x, SX, b.zf, SZ, gNS))},
      {"vecFill", Out::F32, 0, V(t.vecFill(C, b.zf, gN))},
      {"vecFillStrided", Out::F32, 0, V(t.vecFillStrided(C, b.zf, SZ, gNS))},
      {"vecDotProduct", Out::Reduction, 0, R(t.vecDotProduct(b.fin, b.fy, gN))},
      {"vecDotProductStrided", Out::Reduction, 0, R(t.vecDotProductStrided(b.fin, SX, b.fy, SY, gNS))},
      {"vecSquaredDistance", Out::Reduction, 0, R(t.vecSquaredDistance(b.fin, b.fy, gN))},
      {"vecSquaredDistanceStrided", Out::Reduction, 0,
       R(t.vecSquaredDistanceStrided(b.fin, SX, b.fy, SY, gNS))},
      {"vecEnergy", Out::Reduction, 0, R(t.vecEnergy(b.fin, gN))},
      {"vecComplexMagnitude", Out::F32, 0, V(t.vecComplexMagnitude(b.x, b.zf, gN))},
      {"vecComplexPower", Out::F32, 0, V(t.vecComplexPower(b.x, b.zf, gN))},
      {"ivecAdd", Out::I32, 0, V(t.ivecAdd(b.ia, b.ib, b.zi, gN))},
      {"ivecAddStrided", Out::I32, 0, V(t.ivecAddStrided(b.ia, SX, b.ib, SY, b.zi, SZ, gNS))},
      {"ivecSub", Out::I32, 0, V(t.ivecSub(b.ia, b.ib, b.zi, gN))},
      {"ivecSubStrided", Out::I32, 0, V(t.ivecSubStrided(b.ia, SX, b.ib, SY, b.zi, SZ, gNS))},
      {"ivecMul", Out::I32, 0, V(t.ivecMul(b.ia, b.ib, b.zi, gN))},
      {"ivecMulStrided", Out::I32, 0, V(t.ivecMulStrided(b.ia, SX, b.ib, SY, b.zi, SZ, gNS))},
      {"ivecDiv", Out::I32, 0, V(t.ivecDiv(b.ia, b.ib, b.zi, gN))},
      {"ivecDivStrided", Out::I32, 0, V(t.ivecDivStrided(b.ia, SX, b.ib, SY, b.zi, SZ, gNS))},
      {"ivecScale", Out::I32, 0, V(t.ivecScale(IC, b.ia, b.zi, gN))},
      {"ivecScaleStrided", Out::I32, 0, V(t.ivecScaleStrided(IC, b.ia, SX, b.zi, SZ, gNS))},
      {"vecScaleInPlace", Out::F32, 0, V(t.vecScaleInPlace(C, b.zf, gN))},
      {"ivecScaleInPlace", Out::I32, 0, V(t.ivecScaleInPlace(IC, b.zi, gN))},
      {"ivecCopy", Out::I32, 0, V(t.ivecCopy(b.ia, b.zi, gN))},
      {"ivecCopyStrided", Out::I32, 0, V(t.ivecCopyStrided(b.ia, SX, b.zi, SZ, gNS))},
      {"ivecFill", Out::I32, 0, V(t.ivecFill(IC, b.zi, gN))},
      {"ivecFillStrided", Out::I32, 0, V(t.ivecFillStrided(IC, b.zi, SZ, gNS))},
      {"bvecCopy", Out::U8, 0, V(t.bvecCopy(reinterpret_cast<const uint8_t*>(b.x), b.zb, gN))},
      {"vecMin", Out::F32, 0, V(t.vecMin(b.x, b.y, b.zf, gN))},
      {"vecMinStrided", Out::F32, 0, V(t.vecMinStrided(b.x, SX, b.y, SY, b.zf, SZ, gNS))},
      {"vecMinValue", Out::Reduction, 0, R(t.vecMinValue(b.fin, gN))},
      {"vecMax", Out::F32, 0, V(t.vecMax(b.x, b.y, b.zf, gN))},
      {"vecMaxStrided", Out::F32, 0, V(t.vecMaxStrided(b.x, SX, b.y, SY, b.zf, SZ, gNS))},
      {"vecMaxValue", Out::Reduction, 0, R(t.vecMaxValue(b.fin, gN))},
      {"vecAbs", Out::F32, 0, V(t.vecAbs(b.x, b.zf, gN))},
      {"vecAbsStrided", Out::F32, 0, V(t.vecAbsStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecClip", Out::F32, 0, V(t.vecClip(LO, HI, b.x, b.zf, gN))},
      {"vecClipStrided", Out::F32, 0, V(t.vecClipStrided(LO, HI, b.x, SX, b.zf, SZ, gNS))},
      {"vecSign", Out::F32, 0, V(t.vecSign(b.x, b.zf, gN))},
      {"vecSignStrided", Out::F32, 0, V(t.vecSignStrided(b.x, SX, b.zf, SZ, gNS))},
      {"ivecMin", Out::I32, 0, V(t.ivecMin(b.ia, b.ib, b.zi, gN))},
      {"ivecMinStrided", Out::I32, 0, V(t.ivecMinStrided(b.ia, SX, b.ib, SY, b.zi, SZ, gNS))},
      {"ivecMax", Out::I32, 0, V(t.ivecMax(b.ia, b.ib, b.zi, gN))},
      {"ivecMaxStrided", Out::I32, 0, V(t.ivecMaxStrided(b.ia, SX, b.ib, SY, b.zi, SZ, gNS))},
      {"ivecAbs", Out::I32, 0, V(t.ivecAbs(b.ia, b.zi, gN))},
      {"ivecAbsStrided", Out::I32, 0, V(t.ivecAbsStrided(b.ia, SX, b.zi, SZ, gNS))},
      {"ivecClip", Out::I32, 0, V(t.ivecClip(ILO, IHI, b.ia, b.zi, gN))},
      {"ivecClipStrided", Out::I32, 0, V(t.ivecClipStrided(ILO, IHI, b.ia, SX, b.zi, SZ, gNS))},
      {"ivecSign", Out::I32, 0, V(t.ivecSign(b.ia, b.zi, gN))},
      {"ivecSignStrided", Out::I32, 0, V(t.ivecSignStrided(b.ia, SX, b.zi, SZ, gNS))},
      {"vecFloor", Out::F32, 0, V(t.vecFloor(b.x, b.zf, gN))},
      {"vecFloorStrided", Out::F32, 0, V(t.vecFloorStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecCeil", Out::F32, 0, V(t.vecCeil(b.x, b.zf, gN))},
      {"vecCeilStrided", Out::F32, 0, V(t.vecCeilStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecRound", Out::F32, 0, V(t.vecRound(b.x, b.zf, gN))},
      {"vecRoundStrided", Out::F32, 0, V(t.vecRoundStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecTrunc", Out::F32, 0, V(t.vecTrunc(b.x, b.zf, gN))},
      {"vecTruncStrided", Out::F32, 0, V(t.vecTruncStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecRoundClip16", Out::F32, 0, V(t.vecRoundClip16(b.x, b.zf, gN))},
      {"vecFloatToInt", Out::I32, 0, V(t.vecFloatToInt(b.x, b.zi, gN))},
      {"vecFloatToShort", Out::I16, 0, V(t.vecFloatToShort(b.x, b.zs, gN))},
      {"vecSin", Out::F32, 1, V(t.vecSin(b.x, b.zf, gN))},
      {"vecSinStrided", Out::F32, 1, V(t.vecSinStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecCos", Out::F32, 1, V(t.vecCos(b.x, b.zf, gN))},
      {"vecCosStrided", Out::F32, 1, V(t.vecCosStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecExp", Out::F32, 1, V(t.vecExp(b.x, b.zf, gN))},
      {"vecExpStrided", Out::F32, 1, V(t.vecExpStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecPow", Out::F32, 1, V(t.vecPow(CPOW, b.x, b.zf, gN))},
      {"vecPowStrided", Out::F32, 1, V(t.vecPowStrided(CPOW, b.x, SX, b.zf, SZ, gNS))},
      {"vecLog", Out::F32, 1, V(t.vecLog(b.x, b.zf, gN))},
      {"vecLogStrided", Out::F32, 1, V(t.vecLogStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecLog2", Out::F32, 1, V(t.vecLog2(b.x, b.zf, gN))},
      {"vecLog2Strided", Out::F32, 1, V(t.vecLog2Strided(b.x, SX, b.zf, SZ, gNS))},
      {"vecLog10", Out::F32, 1, V(t.vecLog10(b.x, b.zf, gN))},
      {"vecLog10Strided", Out::F32, 1, V(t.vecLog10Strided(b.x, SX, b.zf, SZ, gNS))},
      {"vecScaledLog", Out::F32, 1, V(t.vecScaledLog(A_LOG, B_LOG, b.x, b.zf, gN))},
      {"vecScaledLogStrided", Out::F32, 1,
       V(t.vecScaledLogStrided(A_LOG, B_LOG, b.x, SX, b.zf, SZ, gNS))},
      {"vecSqrt", Out::F32, 0, V(t.vecSqrt(b.x, b.zf, gN))},
      {"vecSqrtStrided", Out::F32, 0, V(t.vecSqrtStrided(b.x, SX, b.zf, SZ, gNS))},
      {"vecFloatToIntScaled", Out::I32, 0, V(t.vecFloatToIntScaled(OFFSET, SCALE, b.x, b.zi, gN))},
  };
  return all;
}

#undef V
#undef R

// 16-byte-aligned storage; `shift` bytes moves every array off the boundary.
struct Arena {
  std::vector<unsigned char> raw;
  size_t used = 0;
  explicit Arena(size_t bytes) : raw(bytes) {}
  template <class T>
  T* place(const std::vector<T>& init, size_t shift) {
    uintptr_t base = reinterpret_cast<uintptr_t>(raw.data()) + used;
    base = (base + 15) & ~uintptr_t{15};
    T* p = reinterpret_cast<T*>(base + shift);
    std::memcpy(p, init.data(), init.size() * sizeof(T));
    used = base + shift + init.size() * sizeof(T) + 16 - reinterpret_cast<uintptr_t>(raw.data());
    return p;
  }
};

struct Inputs {
  std::vector<float> x, y, fin, fy, zf;
  std::vector<int32_t> ia, ib, zi;
  std::vector<int16_t> zs;
  bool ok() const {
    return x.size() == L && y.size() == L && fin.size() == L && ia.size() == L &&
           ib.size() == L && zf.size() == L && zi.size() == L && zs.size() == L;
  }
};

Inputs loadInputs() {
  Inputs in;
  in.x = readArray<float>("vec/in_x.bin");
  in.y = readArray<float>("vec/in_y.bin");
  in.fin = readArray<float>("vec/in_fin.bin");
  in.zf = readArray<float>("vec/in_zf.bin");
  in.ia = readArray<int32_t>("vec/in_ia.bin");
  in.ib = readArray<int32_t>("vec/in_ib.bin");
  in.zi = readArray<int32_t>("vec/in_zi.bin");
  in.zs = readArray<int16_t>("vec/in_zs.bin");
  if (in.fin.size() == L) in.fy.assign(in.fin.begin() + N, in.fin.end());
  return in;
}

bool sameFloat(float a, float b, int ulps) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (ulps == 0 || std::isinf(a) || std::isinf(b)) {
    uint32_t ua, ub;
    std::memcpy(&ua, &a, 4);
    std::memcpy(&ub, &b, 4);
    return ua == ub;
  }
  if (a == b) return true;
  int32_t ia, ib;
  std::memcpy(&ia, &a, 4);
  std::memcpy(&ib, &b, 4);
  if ((ia < 0) != (ib < 0)) return false;
  int64_t d = static_cast<int64_t>(ia) - ib;
  return (d < 0 ? -d : d) <= ulps;
}

// Runs one case on one routine table and compares the whole output buffer
// (so that elements a call must not touch are checked too).
void runCase(const Case& c, const VecMathTable& table, const Inputs& in, size_t shift,
             const std::string& refName, const char* path) {
  SCOPED_TRACE(std::string(c.name) + " via " + path + (shift ? ", misaligned" : ", aligned") +
               ", reference " + refName);
  Arena arena(24 * L * sizeof(float));
  Bufs b;
  b.x = arena.place(in.x, shift);
  b.y = arena.place(in.y, shift);
  b.fin = arena.place(in.fin, shift);
  b.fy = arena.place(in.fy, shift);
  b.zf = arena.place(in.zf, shift);
  b.ia = arena.place(in.ia, shift);
  b.ib = arena.place(in.ib, shift);
  b.zi = arena.place(in.zi, shift);
  b.zs = arena.place(in.zs, shift);
  b.zb = reinterpret_cast<uint8_t*>(b.zs);
  float value = c.call(table, b);

  int bad = 0;
  std::string first;
  auto note = [&](int i, const std::string& expected, const std::string& actual) {
    if (bad++ == 0)
      first = "index " + std::to_string(i) + " (x = " + std::to_string(in.x[i % L]) +
              "): expected " + expected + ", got " + actual;
  };
  // Integer outputs equal their reference element for element.
  auto compareExact = [&](const auto* got, int count) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(got)>>;
    auto ref = readArray<T>("vec/ref_" + refName + ".bin");
    ASSERT_EQ(ref.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
      if (got[i] != ref[i]) note(i, std::to_string(ref[i]), std::to_string(got[i]));
  };
  switch (c.out) {
    case Out::Reduction: {
      auto ref = readArray<float>("vec/ref_" + refName + ".bin");
      ASSERT_EQ(ref.size(), 1u);
      if (!sameFloat(value, ref[0], c.ulps)) note(0, std::to_string(ref[0]), std::to_string(value));
      break;
    }
    case Out::F32: {
      auto ref = readArray<float>("vec/ref_" + refName + ".bin");
      ASSERT_EQ(ref.size(), static_cast<size_t>(L));
      const std::string name = c.name;
      const bool trig = name.compare(0, 6, "vecSin") == 0 || name.compare(0, 6, "vecCos") == 0;
      const bool strided = name.find("Strided") != std::string::npos;
      for (int i = 0; i < L; ++i) {
        if (trig) {
          int src = strided ? (i % SZ == 0 && i / SZ < NS ? i / SZ * SX : -1) : (i < N ? i : -1);
          if (src >= 0 && std::fabs(in.x[src]) >= 9.2233720368547758e18f) continue;
        }
        if (!sameFloat(b.zf[i], ref[i], c.ulps)) {
          char e[64], a[64];
          std::snprintf(e, sizeof e, "%.9g", ref[i]);
          std::snprintf(a, sizeof a, "%.9g", b.zf[i]);
          note(i, e, a);
        }
      }
      break;
    }
    case Out::I32: compareExact(b.zi, L); break;
    case Out::I16: compareExact(b.zs, L); break;
    case Out::U8: compareExact(b.zb, 2 * L); break;
  }
  EXPECT_EQ(bad, 0) << bad << " elements differ; first at " << first;
}

const void* slotOf(const VecMathTable& t, const char* name) {
  // The case table is in slot order with gaps; find the slot by comparing
  // names with the operation list.
  static const char* const kNames[] = {
#define VECMATH_NAME(slot, name, ret, params, args, sse, sse2) #name,
      VECMATH_OPS(VECMATH_NAME)
#undef VECMATH_NAME
  };
  for (int i = 0; i < kVecMathSlots; ++i)
    if (std::strcmp(kNames[i], name) == 0) return vecMathSlot(t, i);
  return nullptr;
}

class VectorTable : public testing::Test {
 protected:
  static void SetUpTestSuite() { inputs_ = new Inputs(loadInputs()); }
  static void TearDownTestSuite() {
    delete inputs_;
    inputs_ = nullptr;
  }
  void SetUp() override {
    if (!inputs_->ok()) VOG_TOOL_MISSING("numpy") << "fixture missing";
  }
  static Inputs* inputs_;
};
Inputs* VectorTable::inputs_ = nullptr;

}  // namespace

TEST_F(VectorTable, GenericRoutinesMatchNumpy) {
  for (const Case& c : cases()) {
    for (size_t shift : {size_t{0}, size_t{4}})
      runCase(c, vecMathGenericTable(), *inputs_, shift, c.name, "generic");
  }
}

// SSE kernels: the packed path on aligned arrays (with its own reference
// where its rounding differs), the generic result on misaligned arrays.
TEST_F(VectorTable, SseKernelsMatchTheirReferences) {
  if (!cpuHasFeature(kCpuFeatureSse)) GTEST_SKIP() << "no SSE";
  int covered = 0;
  for (const Case& c : cases()) {
    if (!slotOf(vecMathSseTable(), c.name)) continue;
    ++covered;
    std::string packed = std::string(c.name) + ".sse";
    bool differs = codectest::fixtureExists("vec/ref_" + packed + ".bin");
    runCase(c, vecMathSseTable(), *inputs_, 0, differs ? packed : c.name, "SSE");
    runCase(c, vecMathSseTable(), *inputs_, 4, c.name, "SSE");
  }
  EXPECT_EQ(covered, 87) << "86 kernels and the generic rewrite of vecDiv";
}

// SSE2 kernels: block conversions on aligned and misaligned arrays.
TEST_F(VectorTable, Sse2KernelsMatchTheirReferences) {
  if (!cpuHasFeature(kCpuFeatureSse2)) GTEST_SKIP() << "no SSE2";
  int covered = 0;
  for (const Case& c : cases()) {
    if (!slotOf(vecMathSse2Table(), c.name)) continue;
    ++covered;
    std::string packed = std::string(c.name) + ".sse2";
    bool differs = codectest::fixtureExists("vec/ref_" + packed + ".bin");
    for (size_t shift : {size_t{0}, size_t{4}})
      runCase(c, vecMathSse2Table(), *inputs_, shift, differs ? packed : c.name, "SSE2");
  }
  EXPECT_EQ(covered, 4);
}

// n = 0: nothing is written and the reductions return 0, on every path.
TEST_F(VectorTable, ZeroCountsWriteNothing) {
  const VecMathTable* tables[3] = {&vecMathGenericTable(), &vecMathSseTable(), &vecMathSse2Table()};
  gN = gNS = 0;
  for (const VecMathTable* t : tables) {
    for (const Case& c : cases()) {
      if (!slotOf(*t, c.name)) continue;
      SCOPED_TRACE(c.name);
      Arena arena(24 * L * sizeof(float));
      Bufs b;
      b.x = arena.place(inputs_->x, 0);
      b.y = arena.place(inputs_->y, 0);
      b.fin = arena.place(inputs_->fin, 0);
      b.fy = arena.place(inputs_->fy, 0);
      b.zf = arena.place(inputs_->zf, 0);
      b.ia = arena.place(inputs_->ia, 0);
      b.ib = arena.place(inputs_->ib, 0);
      b.zi = arena.place(inputs_->zi, 0);
      b.zs = arena.place(inputs_->zs, 0);
      b.zb = reinterpret_cast<uint8_t*>(b.zs);
      float r = c.call(*t, b);
      if (c.out == Out::Reduction) {
        EXPECT_EQ(r, 0.0f);
      }
      EXPECT_EQ(std::memcmp(b.zf, inputs_->zf.data(), L * 4), 0);
      EXPECT_EQ(std::memcmp(b.zi, inputs_->zi.data(), L * 4), 0);
      EXPECT_EQ(std::memcmp(b.zs, inputs_->zs.data(), L * 2), 0);
    }
  }
  gN = N;
  gNS = NS;
}

namespace {

std::vector<const VecMathTable*> tablesWith(const char* name) {
  std::vector<const VecMathTable*> out;
  for (const VecMathTable* t : {&vecMathGenericTable(), &vecMathSseTable(), &vecMathSse2Table()})
    if (slotOf(*t, name)) out.push_back(t);
  return out;
}

}  // namespace

TEST(VectorEdgeCases, CopiesKeepSignallingNaNBits) {
  alignas(16) uint32_t src[12], dst[12];
  for (int i = 0; i < 12; ++i) src[i] = 0x7FA00001u + static_cast<uint32_t>(i);  // signalling NaNs
  for (const VecMathTable* t : tablesWith("vecCopy")) {
    std::memset(dst, 0, sizeof dst);
    t->vecCopy(reinterpret_cast<const float*>(src), reinterpret_cast<float*>(dst), 12);
    EXPECT_EQ(std::memcmp(src, dst, sizeof src), 0);
  }
  for (const VecMathTable* t : tablesWith("ivecCopy")) {
    std::memset(dst, 0, sizeof dst);
    t->ivecCopy(reinterpret_cast<const int32_t*>(src), reinterpret_cast<int32_t*>(dst), 12);
    EXPECT_EQ(std::memcmp(src, dst, sizeof src), 0);
  }
  for (const VecMathTable* t : tablesWith("vecCopyStrided")) {
    std::memset(dst, 0, sizeof dst);
    t->vecCopyStrided(reinterpret_cast<const float*>(src), 1, reinterpret_cast<float*>(dst), 1, 12);
    EXPECT_EQ(std::memcmp(src, dst, sizeof src), 0);
  }
}

TEST(VectorEdgeCases, InPlaceAndOverlappingCalls) {
  for (const VecMathTable* t : tablesWith("vecScale")) {
    alignas(16) float x[13];
    for (int i = 0; i < 13; ++i) x[i] = static_cast<float>(i) + 0.5f;
    t->vecScale(2.0f, x, x, 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(x[i], 2.0f * i + 1.0f) << "scaled once";
  }
  // In-place channel reorder of interleaved frames: take channel 1 of three
  // into channel 0, source and destination one element apart.
  for (const VecMathTable* t : tablesWith("vecCopyStrided")) {
    float frames[30];
    for (int i = 0; i < 30; ++i) frames[i] = static_cast<float>(i);
    t->vecCopyStrided(frames + 1, 3, frames, 3, 10);
    for (int f = 0; f < 10; ++f) {
      EXPECT_EQ(frames[3 * f], 3.0f * f + 1);
      EXPECT_EQ(frames[3 * f + 1], 3.0f * f + 1);
      EXPECT_EQ(frames[3 * f + 2], 3.0f * f + 2);
    }
  }
}

TEST(VectorEdgeCases, MinMaxValueNaNAndShortCounts) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  float a[3] = {3, nan, 1}, b[2] = {nan, 1};
  EXPECT_EQ(vecMathGenericTable().vecMinValue(a, 3), 1.0f);
  EXPECT_TRUE(std::isnan(vecMathGenericTable().vecMinValue(b, 2)));
  EXPECT_EQ(vecMathGenericTable().vecMaxValue(a, 3), 3.0f);
  EXPECT_EQ(vecMathGenericTable().vecMinValue(a, 1), 3.0f);
  // Counts below 1 give 0 without reading the array.
  EXPECT_EQ(vecMathGenericTable().vecMinValue(nullptr, 0), 0.0f);
  EXPECT_EQ(vecMathGenericTable().vecMaxValue(nullptr, -3), 0.0f);
  EXPECT_EQ(vecMathGenericTable().vecSquaredDistance(nullptr, nullptr, 0), 0.0f);
}

TEST(VectorEdgeCases, Ilog2Ceil) {
  struct Case {
    int32_t n, bits;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}, {5, 3}, {8, 3}, {9, 4}, {1024, 10}, {1025, 11}, {-7, 0},
               {INT32_MAX, 31}};
  for (const Case& c : cases) EXPECT_EQ(ilog2Ceil(c.n), c.bits) << c.n;
}

TEST(VectorEdgeCases, IntegerDivisionNeverFaults) {
  const int32_t x[3] = {7, INT32_MIN, -7}, y[3] = {0, -1, 2};
  int32_t z[3];
  for (const VecMathTable* t : tablesWith("ivecDiv")) {
    t->ivecDiv(x, y, z, 3);
    EXPECT_EQ(z[0], 0);
    EXPECT_EQ(z[1], INT32_MIN);
    EXPECT_EQ(z[2], -3);
  }
}

// Entry functions call whatever VecMathInit installed.
TEST(VectorEdgeCases, EntryFunctionsUseTheInstalledRoutines) {
  VecMathInit();
  alignas(16) float x[8] = {2.5f, 2.5f, 2.5f, 2.5f, 2.5f, 2.5f, 2.5f, 2.5f};
  alignas(16) float z[8], w[8];
  vecRoundClip16(x, z, 8);
  vecMathTable.vecRoundClip16(x, w, 8);
  EXPECT_EQ(std::memcmp(z, w, sizeof z), 0);
  EXPECT_EQ(z[0], (cpuHasFeature(kCpuFeatureSse) || cpuHasFeature(kCpuFeatureSse2)) ? 2.0f : 3.0f);
  vecMathInstall(false, false);
  vecRoundClip16(x, z, 8);
  EXPECT_EQ(z[0], 3.0f);
  VecMathInit();
}
