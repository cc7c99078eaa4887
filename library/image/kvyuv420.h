// Planar 8-bit YUV (4:2:0 and 4:2:2, separate planes with their own
// pitches) to 8-bit BGRA, at full size or reduced by 2 or 4 with box
// averaging, with the chroma pairing of interlaced 4:2:0 material. Luma is
// not rescaled: studio-range RGB out, alpha 255.
#pragma once

#include "kvbitmapinfo.h"

// The Q14 part of a colour-matrix record: (U, V) coefficient pairs for B, G,
// R, A and the offsets with the chroma bias and a rounding half folded in.
struct KvYUVMatrixQ14 {
  int16_t chromaQ14[8];
  int32_t offsetQ14[4];
};
extern const KvYUVMatrixQ14 KvYUVMatrixQ14_BT601;
extern const KvYUVMatrixQ14 KvYUVMatrixQ14_BT709;

// The record for a colorimetry code (515 BT.601, 516 BT.709, otherwise
// BT.709 from a height of 720 on).
const KvYUVMatrixQ14& KvYUVChooseMatrix(int32_t colorimetry, int32_t height);

extern "C" {

// Arguments: frame width and height, BGRA destination and its signed pitch,
// the Y, U and V planes with their pitches, the field order (1 or 2:
// interlaced) and the colorimetry code.
#define KV_YUV420_ARGS                                                                                       \
  int32_t width, int32_t height, BYTE *dst, int32_t dstPitch, const BYTE *y, int32_t yPitch, const BYTE *u, \
      int32_t uPitch, const BYTE *v, int32_t vPitch, int32_t fieldOrder, int32_t colorimetry
HRESULT KVAPI KvYUV420ToRGBA(KV_YUV420_ARGS);
HRESULT KVAPI KvYUV420ToRGBA_HalfHorz(KV_YUV420_ARGS);
HRESULT KVAPI KvYUV420ToRGBA_Half_BlendFields(KV_YUV420_ARGS);
HRESULT KVAPI KvYUV420ToRGBA_Half(KV_YUV420_ARGS);
HRESULT KVAPI KvYUV420ToRGBA_QuarterHorz_HalfVert_BlendFields(KV_YUV420_ARGS);
HRESULT KVAPI KvYUV420ToRGBA_Quarter_BlendFields(KV_YUV420_ARGS);
HRESULT KVAPI KvYUV420ToRGBA_Quarter(KV_YUV420_ARGS);
#undef KV_YUV420_ARGS
HRESULT KVAPI KvYUV422PlanarToRGBA(int32_t width, int32_t height, BYTE* dst, int32_t dstPitch, const BYTE* y,
                                   int32_t yPitch, const BYTE* u, int32_t uPitch, const BYTE* v, int32_t vPitch,
                                   int32_t colorimetry);

}  // extern "C"


// KvYUV420ToRGBA (reduction 0), KvYUV420ToRGBA_Half (1) or
// KvYUV420ToRGBA_Quarter (2) for the frame converters: the same bytes, the
// output rows (or row pairs) divided among the threads.
HRESULT KvYUV420ToRGBAFrame(int32_t reduction, int32_t width, int32_t height, BYTE* dst, int32_t dstPitch,
                            const BYTE* y, int32_t yPitch, const BYTE* u, int32_t uPitch, const BYTE* v,
                            int32_t vPitch, int32_t fieldOrder, int32_t colorimetry);
