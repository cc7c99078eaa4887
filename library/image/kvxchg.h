// The pixel-format exchange: a context that a caller fills for a pair of
// RGB-family pixel types (16..32) with KvXCHGGetFunctionPointers, and then
// drives pixel by pixel. Fetch kernels turn source pixels into intermediate
// pixels (four channels blue, green, red, alpha at 8 bits, 16 bits or 32-bit
// float), store kernels turn intermediate pixels into destination pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kvbitmapinfo.h"
#include "kvgammacurve.h"

struct KvXchgContext;

// Every kernel takes the context as its only argument, except the operation
// run, which takes the caller's four-slot buffer first.
typedef void(KVAPI* KvXchgKernel)(KvXchgContext* context);
typedef void(KVAPI* KvXchgOpRunKernel)(void* slots, KvXchgContext* context);

// Intermediate pixel kinds.
enum KVXCHG_INTERMEDIATE : uint32_t {
  KVXCHG_8BIT = 0,
  KVXCHG_16BIT = 1,
  KVXCHG_FLOAT = 2,
};

// Flag bits.
#define KVXCHG_PRESET_MASK 0x0000000Fu  // values 1..4 select a preset
#define KVXCHG_FORCE16 0x00000010u      // force the 16-bit intermediate
#define KVXCHG_QUALITY 0x00000020u      // exact expansion, interpolating fetches
#define KVXCHG_OPVARIANT 0x00000040u    // operation variant rows
#define KVXCHG_OPALTERNATE 0x00000080u  // alternate operation tables

// Four intermediate slots: slot i at byte 8 * i for the 8-bit and 16-bit
// kinds (4 bytes or four 16-bit values), at byte 16 * i for floats.
union KvXchgSlots {
  uint8_t b[64];
  uint16_t w[32];
  float f[16];
};

// The exchange context. In the 32-bit build it is the published record of
// 81 32-bit words; natively the pointers are wider, the order is the same.
struct KvXchgContext {
  KvXchgContext();
  ~KvXchgContext();
  KvXchgContext(const KvXchgContext&) = delete;
  KvXchgContext& operator=(const KvXchgContext&) = delete;

  // Clears every word and sets both curves back to the identity.
  void Reset();

  uint8_t* Slot8(int i) { return &slots.b[8 * i]; }
  uint16_t* Slot16(int i) { return &slots.w[4 * i]; }
  float* SlotF(int i) { return &slots.f[4 * i]; }

  uint32_t flags;            // the effective flags
  int32_t sourceType;
  int32_t destType;
  KvXchgKernel fetchOne;     // one source pixel into slot 0, advance
  KvXchgKernel storeOne;     // slot 0 as one destination pixel, advance
  KvXchgKernel fetchBilinear;  // 2x2 interpolation into slot 0 (quality rows)
  KvXchgKernel fetchQuad;    // a 2x2 neighbourhood into slots 0-3
  KvXchgKernel fetchRun;     // four pixels into slots 0-3, advance by four
  KvXchgKernel storeRun;     // slots 0-3 as four pixels, advance by four
  KvXchgKernel fetchVertical;  // interpolation with the row below (quality rows)
  KvXchgKernel opOne;        // compositing operation on one pixel
  KvXchgOpRunKernel opRun;   // compositing operation on four pixels
  KvXchgKernel keyMaskOne;
  KvXchgKernel keyMaskRun;
  KvXchgKernel fetchBilinear2;  // as fetchBilinear; box average for 24-bit at 8 bits
  uint32_t intermediateKind;  // KVXCHG_INTERMEDIATE
  KvXchgSlots slots;
  const uint8_t* sourcePtr;  // current source byte
  uint32_t sourceBit;        // bit offset from the byte's top for 1, 2, 4-bit types
  uint8_t* destPtr;
  uint32_t destBit;
  uint32_t reserved36[2];
  int32_t sourceStride;      // bytes to the pixel below (box average: row length in pixels)
  int32_t weightX;           // 0..16384, weight of the right-hand neighbour (box: x0, 18.14)
  int32_t weightY;           // 0..16384, weight of the row below (box: y0, 18.14)
  int32_t boxWidth;          // 18.14
  int32_t boxHeight;         // 18.14
  uint32_t userByte;         // bits 16-23 of the effective flags
  const uint32_t* sourcePalette;  // blue bits 0-7, green 8-15, red 16-23
  uint32_t reserved45;
  const uint8_t* inverseMap;  // 32768 entries (R5 << 10 | G5 << 5 | B5) -> index
  uint32_t opParams[14];
  KvGammaCurve destCurve;    // applied when storing float pixels
  KvGammaCurve sourceCurve;  // applied when fetching float pixels
  const uint8_t* lookup8;    // optional 256-entry table of operations 15 and 17
  const uint16_t* lookup16;  // optional 65536-entry table of operations 15 and 17
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(KvXchgContext) == 81 * 4, "81 words");
static_assert(offsetof(KvXchgContext, slots) == 16 * 4, "slots at word 16");
static_assert(offsetof(KvXchgContext, sourceStride) == 38 * 4, "stride at word 38");
static_assert(offsetof(KvXchgContext, opParams) == 47 * 4, "operation block at word 47");
static_assert(offsetof(KvXchgContext, destCurve) == 61 * 4, "curves at word 61");
static_assert(offsetof(KvXchgContext, lookup16) == 80 * 4, "last word 80");
#endif

extern "C" {

// Fills the context for an exchange from sourceType to destType. S_OK;
// E_INVALIDARG when a type lies outside 16..32 or the operation code outside
// 0..19; E_NOTIMPL when no kernel exists for the requested operation.
HRESULT KVAPI KvXCHGGetFunctionPointers(int32_t destType, int32_t sourceType, uint32_t flags,
                                        KvXchgContext* context, const uint32_t* opParams, double gammaA,
                                        double gammaB);

}  // extern "C"

// True when a curve's exponent is within 0.999..1.001: float kernels then
// copy values instead of evaluating the curve.
bool KvXchgCurveIsIdentity(const KvGammaCurve& curve);

// The kernel tables (the exchange's selection reads them).
struct KvXchgKernelSet {
  KvXchgKernel fetchOne, storeOne, fetchBilinear, fetchBilinear2, fetchVertical, fetchQuad, fetchRun, storeRun;
};
// Kernels of a pixel type in a table row (0/1: 16 bits without and with the
// quality flag, 2/3: 8 bits, 4/5: float); null entries where none exist.
const KvXchgKernelSet& KvXchgKernels(int32_t type, int row);
// Operation kernels of a row and code; all null where none exist.
struct KvXchgOpSet {
  KvXchgKernel opOne;
  KvXchgOpRunKernel opRun;
  KvXchgKernel keyMaskOne, keyMaskRun;
};
const KvXchgOpSet& KvXchgOperations(bool alternate, int row, uint32_t code);
