// Filter bank of the AAC-LC core: inverse MDCT of long and short blocks,
// windowing with the sine and KBD shapes, and overlap-add with the previous
// frame.
#include <cmath>
#include <cstring>

#include "channel_parts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace aacchannel {
namespace {

// Inverse MDCT of m coefficients into 2m samples (scale already applied).
void imdct(DecDct* dct, const float* in, float* tmp, float* out, int m) {
  decDctRun(dct, in, tmp);
  const int h = m / 2;
  for (int n = 0; n < h; ++n) out[n] = tmp[h + n];
  for (int n = h; n < 3 * h; ++n) out[n] = -tmp[3 * h - 1 - n];
  for (int n = 3 * h; n < 2 * m; ++n) out[n] = -tmp[n - 3 * h];
}

// Non-finite values (possible only from hostile streams) become silence, so
// that they never reach an integer conversion or the next frame's overlap.
void scrubNonFinite(float* x, int n) {
  // A value is not finite when all its exponent bits are set; adding one
  // exponent step then carries into the sign bit. OR-ing that over the
  // block vectorises, so the common all-finite case costs little.
  uint32_t any = 0;
  for (int i = 0; i < n; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &x[i], sizeof(bits));
    any |= (bits & 0x7F800000u) + 0x00800000u;
  }
  if (!(any & 0x80000000u)) return;
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(x[i])) x[i] = 0.0f;
}

}  // namespace

void filterBank(AacChannel* ch, const AacChannelContext* ctx) {
  const int frameLength = ctx->frameLength;
  const AacIcsInfo& ics = ch->ics;
  const int N = frameLength, Ns = N / 8, off = (N - Ns) / 2;
  const float* wPrev = ctx->longWindow[ch->prevWindowShape & 1];
  const float* wCur = ctx->longWindow[ics.windowShape & 1];
  const float* sPrev = ctx->shortWindow[ch->prevWindowShape & 1];
  const float* sCur = ctx->shortWindow[ics.windowShape & 1];
  float* x = ch->work;
  float* out = ch->out;
  float* ov = ch->overlap;
  float tmp[1024];
  if (ics.windowSequence == AAC_EIGHT_SHORT) {
    float buf[2048];
    std::memset(buf, 0, sizeof(float) * 2 * N);
    for (int w = 0; w < 8; ++w) {
      imdct(ch->dctShort, ch->spec + w * Ns, tmp, x, Ns);
      const float* rise = w == 0 ? sPrev : sCur;
      float* dst = buf + off + w * Ns;
      for (int n = 0; n < Ns; ++n) dst[n] += x[n] * rise[n];
      for (int n = 0; n < Ns; ++n) dst[Ns + n] += x[Ns + n] * sCur[Ns - 1 - n];
    }
    for (int n = 0; n < N; ++n) out[n] = ov[n] + buf[n];
    std::memcpy(ov, buf + N, sizeof(float) * N);
  } else if (ics.windowSequence == AAC_ONLY_LONG) {
    // The common case, unfolded straight from the DCT-IV output y:
    // x[n] = y[h + n] (n < h), -y[3h - 1 - n] (h <= n < 3h), -y[n - 3h].
    decDctRun(ch->dctLong, ch->spec, tmp);
    const int h = N / 2;
    uint32_t any = 0;
#if defined(__SSE2__)
    if ((h & 3) == 0) {
      // A sum of the outputs is not finite when any of them is not (or, on
      // overflow of huge values, harmlessly triggers the scrub).
      __m128 acc = _mm_setzero_ps();
      auto note = [&](__m128 v) { acc = _mm_add_ps(acc, v); };
      auto rev = [](__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); };
      for (int n = 0; n < h; n += 4) {
        const __m128 v = _mm_add_ps(_mm_loadu_ps(ov + n), _mm_mul_ps(_mm_loadu_ps(tmp + h + n), _mm_loadu_ps(wPrev + n)));
        _mm_storeu_ps(out + n, v);
        note(v);
      }
      for (int n = h; n < N; n += 4) {
        const __m128 t = rev(_mm_loadu_ps(tmp + (3 * h - 4 - n)));
        const __m128 v = _mm_sub_ps(_mm_loadu_ps(ov + n), _mm_mul_ps(t, _mm_loadu_ps(wPrev + n)));
        _mm_storeu_ps(out + n, v);
        note(v);
      }
      const __m128 neg = _mm_set1_ps(-0.0f);
      for (int n = 0; n < h; n += 4) {
        const __m128 t = rev(_mm_loadu_ps(tmp + (h - 4 - n)));
        const __m128 w = rev(_mm_loadu_ps(wCur + (N - 4 - n)));
        const __m128 v = _mm_xor_ps(_mm_mul_ps(t, w), neg);
        _mm_storeu_ps(ov + n, v);
        note(v);
      }
      for (int n = h; n < N; n += 4) {
        const __m128 w = rev(_mm_loadu_ps(wCur + (N - 4 - n)));
        const __m128 v = _mm_xor_ps(_mm_mul_ps(_mm_loadu_ps(tmp + (n - h)), w), neg);
        _mm_storeu_ps(ov + n, v);
        note(v);
      }
      alignas(16) float lanes[4];
      _mm_store_ps(lanes, acc);
      for (int i = 0; i < 4; ++i) {
        uint32_t b;
        std::memcpy(&b, &lanes[i], sizeof(b));
        any |= (b & 0x7F800000u) + 0x00800000u;
      }
    } else
#endif
    {
      for (int n = 0; n < h; ++n) {
        const float v = ov[n] + tmp[h + n] * wPrev[n];
        out[n] = v;
        uint32_t b;
        std::memcpy(&b, &v, sizeof(b));
        any |= (b & 0x7F800000u) + 0x00800000u;
      }
      for (int n = h; n < N; ++n) {
        const float v = ov[n] - tmp[3 * h - 1 - n] * wPrev[n];
        out[n] = v;
        uint32_t b;
        std::memcpy(&b, &v, sizeof(b));
        any |= (b & 0x7F800000u) + 0x00800000u;
      }
      for (int n = 0; n < h; ++n) {
        const float v = -tmp[h - 1 - n] * wCur[N - 1 - n];
        ov[n] = v;
        uint32_t b;
        std::memcpy(&b, &v, sizeof(b));
        any |= (b & 0x7F800000u) + 0x00800000u;
      }
      for (int n = h; n < N; ++n) {
        const float v = -tmp[n - h] * wCur[N - 1 - n];
        ov[n] = v;
        uint32_t b;
        std::memcpy(&b, &v, sizeof(b));
        any |= (b & 0x7F800000u) + 0x00800000u;
      }
    }
    if (any & 0x80000000u) {
      scrubNonFinite(out, N);
      scrubNonFinite(ov, N);
    }
    ch->prevWindowShape = ics.windowShape;
    ch->prevWindowSequence = ics.windowSequence;
    return;
  } else {
    imdct(ch->dctLong, ch->spec, tmp, x, N);
    if (ics.windowSequence == AAC_LONG_STOP) {
      for (int n = 0; n < off; ++n) out[n] = ov[n];
      for (int n = 0; n < Ns; ++n) out[off + n] = ov[off + n] + x[off + n] * sPrev[n];
      for (int n = off + Ns; n < N; ++n) out[n] = ov[n] + x[n];
    } else {
      for (int n = 0; n < N; ++n) out[n] = ov[n] + x[n] * wPrev[n];
    }
    if (ics.windowSequence == AAC_LONG_START) {
      for (int n = 0; n < off; ++n) ov[n] = x[N + n];
      for (int n = 0; n < Ns; ++n) ov[off + n] = x[N + off + n] * sCur[Ns - 1 - n];
      for (int n = off + Ns; n < N; ++n) ov[n] = 0.0f;
    } else {
      for (int n = 0; n < N; ++n) ov[n] = x[N + n] * wCur[N - 1 - n];
    }
  }
  scrubNonFinite(out, N);
  scrubNonFinite(ov, N);
  ch->prevWindowShape = ics.windowShape;
  ch->prevWindowSequence = ics.windowSequence;
}

}  // namespace aacchannel
