// FFT front end over cfftn and rfftn.
#include "nyx_fft.h"

#include "cfftn.h"
#include "utillib.h"
#include "vecmath.h"

namespace {

int32_t orderOf(int32_t n) {
  int32_t order = 0;
  while (order < 31 && (int64_t{1} << order) < n) ++order;
  return order;
}

}  // namespace

int createCplxFft(CplxFft** handle, int32_t n, int32_t sign) {
  if (!handle) return 1;
  *handle = nullptr;
  if (sign != -1 && sign != 1) return 1;
  CplxFft* h = static_cast<CplxFft*>(utilCalloc(1, sizeof(CplxFft), "nyx_fft", 528));
  if (!h) return 1;
  h->sign = sign;
  h->n = n;
  h->order = orderOf(n);
  h->unused = 0;
  *handle = h;
  return 0;
}

int runCplxFft(const CplxFft* h, const float* srcReal, const float* srcImag, float* dstReal,
               float* dstImag) {
  if (!h) return 1;
  return cfftnCopy(srcReal, srcImag, dstReal, dstImag, h->n, h->sign) ? 0 : 1;
}

int deleteCplxFft(CplxFft** handle) {
  if (!handle || !*handle) return 0;
  utilFree(*handle, "nyx_fft", 848);
  *handle = nullptr;
  return 0;
}

int createRealFft(RealFft** handle, int32_t n, int32_t sign) {
  if (!handle) return 1;
  *handle = nullptr;
  if (sign != -1 && sign != 1) return 1;
  if (n < 2 || (n & 1) != 0) return 1;
  RealFft* h = static_cast<RealFft*>(utilCalloc(1, sizeof(RealFft), "nyx_fft", 110));
  if (!h) return 1;
  h->sign = sign;
  h->n = n;
  h->order = orderOf(n);
  h->table = rfftnCreateTable(n);
  if (!h->table) {
    utilFree(h, "nyx_fft", 358);
    return 1;
  }
  *handle = h;
  return 0;
}

int runRealFft(const RealFft* h, const float* input, float* output) {
  if (!h) return 1;
  if (input != output) vecCopy(input, output, h->n);
  rfftn(output, h->table, h->n, h->sign);
  return 0;
}

int deleteRealFft(RealFft** handle) {
  if (!handle || !*handle) return 0;
  rfftnDeleteTable((*handle)->table);
  utilFree(*handle, "nyx_fft", 358);
  *handle = nullptr;
  return 0;
}
