// The exchange context and the choice of its intermediate and kernels for a
// pair of pixel types.
#include "kvxchg.h"

#include <cstring>

KvXchgContext::KvXchgContext() { Reset(); }

KvXchgContext::~KvXchgContext() = default;

void KvXchgContext::Reset() {
  flags = 0;
  sourceType = destType = 0;
  fetchOne = storeOne = fetchBilinear = fetchQuad = fetchRun = storeRun = fetchVertical = nullptr;
  opOne = nullptr;
  opRun = nullptr;
  keyMaskOne = keyMaskRun = fetchBilinear2 = nullptr;
  intermediateKind = 0;
  std::memset(&slots, 0, sizeof(slots));
  sourcePtr = nullptr;
  sourceBit = 0;
  destPtr = nullptr;
  destBit = 0;
  reserved36[0] = reserved36[1] = 0;
  sourceStride = weightX = weightY = boxWidth = boxHeight = 0;
  userByte = 0;
  sourcePalette = nullptr;
  reserved45 = 0;
  inverseMap = nullptr;
  std::memset(opParams, 0, sizeof(opParams));
  // The curves are set back to the identity rather than cleared: a cleared
  // curve (exponent 0) is no identity and would turn every float into 1.0,
  // and clearing would lose the tables of a reused context.
  destCurve.SetGamma(1.0f);
  sourceCurve.SetGamma(1.0f);
  lookup8 = nullptr;
  lookup16 = nullptr;
}

bool KvXchgCurveIsIdentity(const KvGammaCurve& curve) {
  return curve.gamma >= 0.9990000128746033f && curve.gamma <= 1.0010000467300415f;
}

namespace {

bool InRange(int32_t type) { return static_cast<uint32_t>(type - 16) <= 16u; }

// Gamma of a side: 0 means not stated (1/0.45); kept within 0.5..4.0.
double EffectiveGamma(double g) {
  if (g == 0.0) g = 2.2222222222222223;
  if (g < 0.5) g = 0.5;
  if (g > 4.0) g = 4.0;
  return g;
}

}  // namespace

HRESULT KVAPI KvXCHGGetFunctionPointers(int32_t destType, int32_t sourceType, uint32_t flags,
                                        KvXchgContext* context, const uint32_t* opParams, double gammaA,
                                        double gammaB) {
  if (!context) return E_POINTER;
  context->Reset();
  if (!InRange(sourceType) || !InRange(destType)) return E_INVALIDARG;

  // Both types must have a store kernel of the kind's base row.
  const bool can8 = KvXchgKernels(sourceType, 2).storeOne && KvXchgKernels(destType, 2).storeOne;
  // The compositing operations exist for the 8-bit and 16-bit intermediates
  // only: with an operation, float pixels are exchanged at 16 bits.
  const bool canFloat =
      !opParams && KvXchgKernels(sourceType, 4).storeOne && KvXchgKernels(destType, 4).storeOne;

  switch (flags & KVXCHG_PRESET_MASK) {
    case 1: flags = (flags & 0x07FFF1F0u) | 0x180u; break;
    case 2: flags = (flags & 0x07FFF1F0u) | 0x1C0u; break;
    case 3: flags = (flags & 0x07FFF1F0u) | 0x1E0u; break;
    case 4: flags = (flags & 0x07FFF1F0u) | 0x1F0u; break;
  }
  if (!can8 && !canFloat) flags |= KVXCHG_FORCE16;

  int row = 0;
  context->intermediateKind = KVXCHG_16BIT;
  if (!(flags & KVXCHG_FORCE16) && can8) {
    context->intermediateKind = KVXCHG_8BIT;
    row = 2;
  }
  if (!(flags & KVXCHG_FORCE16) && canFloat) {
    context->intermediateKind = KVXCHG_FLOAT;
    row = 4;
  }
  if (flags & KVXCHG_QUALITY) ++row;

  context->flags = flags;
  context->userByte = (flags >> 16) & 0xFF;
  context->sourceType = sourceType;
  context->destType = destType;

  if (opParams) {
    std::memcpy(context->opParams, opParams, sizeof(context->opParams));
    // The tables hold twenty operations per row: another code would index
    // past them.
    const uint32_t code = opParams[0];
    if (code > 19) return E_INVALIDARG;
    int opRow = (!(flags & KVXCHG_FORCE16) && can8) ? 2 : 0;
    if (flags & KVXCHG_OPVARIANT) ++opRow;
    const KvXchgOpSet& ops = KvXchgOperations((flags & KVXCHG_OPALTERNATE) != 0, opRow, code);
    context->opOne = ops.opOne;
    context->opRun = ops.opRun;
    context->keyMaskOne = ops.keyMaskOne;
    context->keyMaskRun = ops.keyMaskRun;
    if (!context->opOne) return E_NOTIMPL;
  }

  const KvXchgKernelSet& src = KvXchgKernels(sourceType, row);
  const KvXchgKernelSet& dst = KvXchgKernels(destType, row);
  context->fetchOne = src.fetchOne;
  context->fetchVertical = src.fetchVertical;
  context->fetchBilinear = src.fetchBilinear;
  context->fetchQuad = src.fetchQuad;
  context->fetchRun = src.fetchRun;
  context->fetchBilinear2 = src.fetchBilinear2;
  context->storeOne = dst.storeOne;
  context->storeRun = dst.storeRun;

  if (sourceType == 32 || destType == 32) {
    const float ratio = static_cast<float>(EffectiveGamma(gammaB) / EffectiveGamma(gammaA));
    (sourceType == 32 ? context->sourceCurve : context->destCurve).SetGamma(ratio);
  }
  return S_OK;
}
