// Planar 4:2:0 and 4:2:2 to BGRA in Q14 fixed point.
#include "kvyuv420.h"

#include "kvparallel.h"
#include "kvyuvkernels.h"

const KvYUVMatrixQ14 KvYUVMatrixQ14_BT601 = {{28384, 0, -5510, -11437, 0, 22458, 0, 0},
                                             {-3624960, 2177408, -2866432, 4194304}};
const KvYUVMatrixQ14 KvYUVMatrixQ14_BT709 = {{29725, 0, -2995, -7493, 0, 25229, 0, 0},
                                             {-3796864, 1350656, -3221120, 4194304}};

const KvYUVMatrixQ14& KvYUVChooseMatrix(int32_t colorimetry, int32_t height) {
  if (colorimetry == 515) return KvYUVMatrixQ14_BT601;
  if (colorimetry == 516) return KvYUVMatrixQ14_BT709;
  return height >= 720 ? KvYUVMatrixQ14_BT709 : KvYUVMatrixQ14_BT601;
}

namespace {

struct Planes {
  int32_t w, h;
  BYTE* dst;
  int32_t dstPitch;
  const BYTE *y, *u, *v;
  int32_t yPitch, uPitch, vPitch;
  bool interlaced;
  const KvYUVMatrixQ14* m;
  const BYTE* Y(int32_t row, int32_t col) const { return y + int64_t(row) * yPitch + col; }
  BYTE* Out(int32_t row, int32_t col) const { return dst + int64_t(row) * dstPitch + int64_t(col) * 4; }
};

// The chroma row of luma row `row` in a frame of h rows: progressive k/2;
// interlaced, rows pair within a field ((0, 2) -> 0, (1, 3) -> 1, (4, 6) ->
// 2 ...). When the number of row pairs is odd the last pair is progressive.
int32_t ChromaRow(const Planes& p, int32_t row) {
  const int32_t pairs = p.h / 2;
  if (!p.interlaced || ((pairs & 1) && row >= p.h - 2)) return row / 2;
  return (row / 4) * 2 + (row & 1);
}

// Output row j of the blends covers luma rows 2j, 2j + 1; interlaced, two
// consecutive output rows share chroma rows 2m and 2m + 1 (m = j / 2). A
// lone last output row (an odd number of row pairs) counts its own chroma
// row twice, as progressive material does, instead of reading a row past
// the planes.
bool BlendChromaRows(const Planes& p, int32_t j, int32_t* r0, int32_t* r1) {
  const int32_t pairs = p.h / 2;
  if (!p.interlaced || ((pairs & 1) && j == pairs - 1)) {
    *r0 = *r1 = j;
    return false;
  }
  *r0 = (j / 2) * 2;
  *r1 = *r0 + 1;
  return true;
}

// Output row `row` of each kernel.
void FullSizeRow(const Planes& p, const KvYuvRowKernels& kernels, int32_t row) {
  const int32_t cr = ChromaRow(p, row);
  kernels.planarFull(p.Out(row, 0), p.Y(row, 0), &p.u[int64_t(cr) * p.uPitch], &p.v[int64_t(cr) * p.vPitch], p.w,
                     *p.m);
}

void HalfWidthRow(const Planes& p, const KvYuvRowKernels& kernels, int32_t row) {
  const int32_t cr = ChromaRow(p, row);
  const BYTE* y = p.Y(row, 0);
  const BYTE* u = &p.u[int64_t(cr) * p.uPitch];
  const BYTE* v = &p.v[int64_t(cr) * p.vPitch];
  kernels.planarHalf(p.Out(row, 0), y, y, u, u, v, v, p.w / 2, false, *p.m);
}

void HalfBlendRow(const Planes& p, const KvYuvRowKernels& kernels, int32_t j) {
  int32_t c0, c1;
  BlendChromaRows(p, j, &c0, &c1);
  kernels.planarHalf(p.Out(j, 0), p.Y(2 * j, 0), p.Y(2 * j + 1, 0), &p.u[int64_t(c0) * p.uPitch],
                     &p.u[int64_t(c1) * p.uPitch], &p.v[int64_t(c0) * p.vPitch], &p.v[int64_t(c1) * p.vPitch],
                     p.w / 2, true, *p.m);
}

void QuarterWidthHalfHeightRow(const Planes& p, const KvYuvRowKernels& kernels, int32_t j) {
  int32_t c0, c1;
  BlendChromaRows(p, j, &c0, &c1);
  const BYTE* const y[2] = {p.Y(2 * j, 0), p.Y(2 * j + 1, 0)};
  kernels.planarQuarter(p.Out(j, 0), y, 2, &p.u[int64_t(c0) * p.uPitch], &p.u[int64_t(c1) * p.uPitch],
                        &p.v[int64_t(c0) * p.vPitch], &p.v[int64_t(c1) * p.vPitch], p.w / 4, *p.m);
}

void QuarterBlendRow(const Planes& p, const KvYuvRowKernels& kernels, int32_t j) {
  const BYTE* const y[4] = {p.Y(4 * j, 0), p.Y(4 * j + 1, 0), p.Y(4 * j + 2, 0), p.Y(4 * j + 3, 0)};
  kernels.planarQuarter(p.Out(j, 0), y, 4, &p.u[int64_t(2 * j) * p.uPitch], &p.u[int64_t(2 * j + 1) * p.uPitch],
                        &p.v[int64_t(2 * j) * p.vPitch], &p.v[int64_t(2 * j + 1) * p.vPitch], p.w / 4, *p.m);
}

enum Kernel { kFull, kHalfWidth, kHalfBlend, kQuarterHalf, kQuarterBlend };

// The exports convert on the calling thread; the frame converters divide
// the output rows among the threads (whole rows each, the same bytes).
HRESULT Run(Kernel k, bool parallel, int32_t w, int32_t h, BYTE* dst, int32_t dstPitch, const BYTE* y, int32_t yPitch,
            const BYTE* u, int32_t uPitch, const BYTE* v, int32_t vPitch, int32_t fieldOrder, int32_t colorimetry,
            int32_t frameHeight) {
  const Planes p{w, h, dst, dstPitch, y, u, v, yPitch, uPitch, vPitch, fieldOrder == 1 || fieldOrder == 2,
                 &KvYUVChooseMatrix(colorimetry, frameHeight)};
  const KvYuvRowKernels& kernels = KvYuvKernels();
  const int32_t rows = k == kFull || k == kHalfWidth ? h : k == kQuarterBlend ? h / 4 : h / 2;
  auto row = [&](int32_t r) {
    switch (k) {
      case kFull: FullSizeRow(p, kernels, r); break;
      case kHalfWidth: HalfWidthRow(p, kernels, r); break;
      case kHalfBlend: HalfBlendRow(p, kernels, r); break;
      case kQuarterHalf: QuarterWidthHalfHeightRow(p, kernels, r); break;
      case kQuarterBlend: QuarterBlendRow(p, kernels, r); break;
    }
  };
  if (parallel) {
    KvParallelRows(0, rows, row);
  } else {
    for (int32_t r = 0; r < rows; ++r) row(r);
  }
  return S_OK;
}

HRESULT Check(int32_t w, int32_t h, const BYTE* dst, const BYTE* y, const BYTE* u, const BYTE* v, int wMod,
              int hMod) {
  if (w < 0 || h < 0 || (w % wMod) || (h % hMod)) return E_INVALIDARG;
  if (w && h && (!dst || !y || !u || !v)) return E_POINTER;
  return S_OK;
}

// One field: the field of the frame's first line, with doubled pitches and
// half the rows, converted as progressive.
HRESULT OneField(Kernel k, bool parallel, int32_t w, int32_t h, BYTE* dst, int32_t dstPitch, const BYTE* y,
                 int32_t yPitch, const BYTE* u, int32_t uPitch, const BYTE* v, int32_t vPitch, int32_t colorimetry) {
  return Run(k, parallel, w, h / 2, dst, dstPitch, y, yPitch * 2, u, uPitch * 2, v, vPitch * 2, 0, colorimetry, h);
}

bool Interlaced(int32_t fieldOrder) { return fieldOrder == 1 || fieldOrder == 2; }

}  // namespace

#define KV_ARGS                                                                                              \
  int32_t w, int32_t h, BYTE *dst, int32_t dstPitch, const BYTE *y, int32_t yPitch, const BYTE *u,           \
      int32_t uPitch, const BYTE *v, int32_t vPitch, int32_t fieldOrder, int32_t colorimetry
#define KV_PASS w, h, dst, dstPitch, y, yPitch, u, uPitch, v, vPitch, fieldOrder, colorimetry, h
#define KV_FORWARD w, h, dst, dstPitch, y, yPitch, u, uPitch, v, vPitch, fieldOrder, colorimetry

namespace {

HRESULT Full(bool par, KV_ARGS) {
  const HRESULT hr = Check(w, h, dst, y, u, v, 2, 2);
  return FAILED(hr) ? hr : Run(kFull, par, KV_PASS);
}

HRESULT HalfHorz(bool par, KV_ARGS) {
  const HRESULT hr = Check(w, h, dst, y, u, v, 2, 2);
  return FAILED(hr) ? hr : Run(kHalfWidth, par, KV_PASS);
}

HRESULT HalfBlendFields(bool par, KV_ARGS) {
  const HRESULT hr = Check(w, h, dst, y, u, v, 2, 2);
  return FAILED(hr) ? hr : Run(kHalfBlend, par, KV_PASS);
}

HRESULT Half(bool par, KV_ARGS) {
  if (Interlaced(fieldOrder)) {
    const HRESULT hr = Check(w, h / 2, dst, y, u, v, 2, 2);
    if (h < 0) return E_INVALIDARG;
    return FAILED(hr) ? hr
                      : OneField(kHalfWidth, par, w, h, dst, dstPitch, y, yPitch, u, uPitch, v, vPitch, colorimetry);
  }
  const HRESULT hr = Check(w, h, dst, y, u, v, 2, 2);
  return FAILED(hr) ? hr : Run(kHalfBlend, par, KV_PASS);
}

HRESULT QuarterHorzHalfVert(bool par, KV_ARGS) {
  const HRESULT hr = Check(w, h, dst, y, u, v, 4, 2);
  return FAILED(hr) ? hr : Run(kQuarterHalf, par, KV_PASS);
}

HRESULT QuarterBlendFields(bool par, KV_ARGS) {
  const HRESULT hr = Check(w, h, dst, y, u, v, 4, 4);
  return FAILED(hr) ? hr : Run(kQuarterBlend, par, KV_PASS);
}

HRESULT Quarter(bool par, KV_ARGS) {
  if (Interlaced(fieldOrder)) {
    const HRESULT hr = Check(w, h / 2, dst, y, u, v, 4, 2);
    if (h < 0) return E_INVALIDARG;
    return FAILED(hr)
               ? hr
               : OneField(kQuarterHalf, par, w, h, dst, dstPitch, y, yPitch, u, uPitch, v, vPitch, colorimetry);
  }
  const HRESULT hr = Check(w, h, dst, y, u, v, 4, 4);
  return FAILED(hr) ? hr : Run(kQuarterBlend, par, KV_PASS);
}

}  // namespace

HRESULT KVAPI KvYUV420ToRGBA(KV_ARGS) { return Full(false, KV_FORWARD); }
HRESULT KVAPI KvYUV420ToRGBA_HalfHorz(KV_ARGS) { return HalfHorz(false, KV_FORWARD); }
HRESULT KVAPI KvYUV420ToRGBA_Half_BlendFields(KV_ARGS) { return HalfBlendFields(false, KV_FORWARD); }
HRESULT KVAPI KvYUV420ToRGBA_Half(KV_ARGS) { return Half(false, KV_FORWARD); }
HRESULT KVAPI KvYUV420ToRGBA_QuarterHorz_HalfVert_BlendFields(KV_ARGS) {
  return QuarterHorzHalfVert(false, KV_FORWARD);
}
HRESULT KVAPI KvYUV420ToRGBA_Quarter_BlendFields(KV_ARGS) { return QuarterBlendFields(false, KV_FORWARD); }
HRESULT KVAPI KvYUV420ToRGBA_Quarter(KV_ARGS) { return Quarter(false, KV_FORWARD); }

HRESULT KvYUV420ToRGBAFrame(int32_t reduction, KV_ARGS) {
  switch (reduction) {
    case 0: return Full(true, KV_FORWARD);
    case 1: return Half(true, KV_FORWARD);
    default: return Quarter(true, KV_FORWARD);
  }
}

HRESULT KVAPI KvYUV422PlanarToRGBA(int32_t w, int32_t h, BYTE* dst, int32_t dstPitch, const BYTE* y, int32_t yPitch,
                                   const BYTE* u, int32_t uPitch, const BYTE* v, int32_t vPitch, int32_t colorimetry) {
  if (w < 0 || (w & 1)) return E_INVALIDARG;
  if (h < 1 || w == 0) return S_OK;
  if (!dst || !y || !u || !v) return E_POINTER;
  const KvYUVMatrixQ14& m = KvYUVChooseMatrix(colorimetry, h);
  const KvYuvRowKernels& kernels = KvYuvKernels();
  for (int32_t row = 0; row < h; ++row)
    kernels.planarFull(dst + int64_t(row) * dstPitch, y + int64_t(row) * yPitch, u + int64_t(row) * uPitch,
                       v + int64_t(row) * vPitch, w, m);
  return S_OK;
}

