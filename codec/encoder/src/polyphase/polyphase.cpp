// Polyphase sample-rate converter: Kaiser-window design and block processing.
#include "polyphase.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <new>

#include "cpuident.h"
#include "utillib.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Largest up or down factor of the reduced ratio, and largest prototype.
constexpr int32_t kMaxFactor = 8192;
constexpr double kMaxRatio = 32.0;
constexpr double kMaxLength = 4194304.0;
// The designed transition band spans this many times the tuning's width
// parameter: the length estimate divides by 14.36 * 1.66 * width.
constexpr double kTransitionSpan = 1.66;
// Values the coefficient and work buffers hold past their end, so that a
// dot product's last partial SSE block may be read whole.
constexpr uint32_t kReadPad = 8;

uint32_t gcd(uint32_t a, uint32_t b) {
  while (b != 0) {
    uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

struct PolyphaseConverter {
  uint32_t inRate = 0;
  uint32_t outRate = 0;
  int32_t channels = 0;
  int32_t up = 1;            // L
  int32_t down = 1;          // M
  int32_t length = 0;        // prototype length N
  int32_t taps = 0;          // K = ceil(N / L)
  int32_t structure = 0;     // 2/12 fixed output, 3/13 fixed input
  int32_t outBlockFrames = 0;
  int32_t inBlockFrames = 0;
  int32_t maxInFrames = 0;   // largest input one run may take
  int32_t outCapacityFrames = 0;
  double passEdge = 0.0;
  double stopEdge = 0.0;
  double beta = 0.0;
  float gain = 1.0f;
  float* coeffs = nullptr;   // up rows of taps coefficients, reversed in time
  float* work = nullptr;     // per channel: taps history frames, then maxInFrames
  float* output = nullptr;   // interleaved output
  int32_t workStride = 0;
  uint64_t consumed = 0;     // input frames taken so far
  uint64_t produced = 0;     // output frames made so far
};

float polyphaseKaiserBeta(double a) {
  // Above 140 dB the linear rule still holds; a rectangular window there
  // would give only about 21 dB.
  double beta = 0.0;
  if (a > 50.0) {
    beta = 0.1102 * (a - 8.7);
  } else if (a >= 25.0) {
    beta = 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
  }
  return static_cast<float>(beta);
}

double polyphaseKaiserLength(double a, double df, bool keepReal) {
  double n = (a - 7.95) / (df * 23.837599520683288);
  if (keepReal) return n;
  return std::trunc(n + 1.0);
}

double polyphaseBesselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  double half = x / 2.0;
  for (int k = 1; k < 1000; ++k) {
    double f = half / k;
    term *= f * f;
    sum += term;
    if (term <= 1e-21 * sum) break;
  }
  return sum;
}

void polyphaseKaiserWindow(double beta, int32_t n, double* w) {
  if (n <= 0) return;
  double norm = polyphaseBesselI0(beta);
  if (n % 2 == 1) {
    int32_t half = (n - 1) / 2;
    w[half] = 1.0;
    for (int32_t k = 1; k <= half; ++k) {
      double x = static_cast<double>(k) / half;
      double v = polyphaseBesselI0(beta * std::sqrt(std::fmax(1.0 - x * x + 4e-16, 0.0))) / norm;
      w[half + k] = v;
      w[half - k] = v;
    }
  } else {
    int32_t half = n / 2;
    for (int32_t k = 0; k < half; ++k) {
      double x = (k + 0.5) / half;
      double v = polyphaseBesselI0(beta * std::sqrt(std::fmax(1.0 - x * x - 4e-16, 0.0))) / norm;
      w[half + k] = v;
      w[half - 1 - k] = v;
    }
  }
}

float polyphaseConvolvePlain(const float* c, const float* x, int32_t n) {
  float sum = 0.0f;
  for (int32_t j = 0; j < n; ++j) sum += c[j] * x[j];
  return sum;
}

float polyphaseConvolveSse(const float* c, const float* x, int32_t n) {
  __m128 acc0 = _mm_setzero_ps();
  __m128 acc1 = _mm_setzero_ps();
  int32_t j = 0;
  for (; j + 8 <= n; j += 8) {
    acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_loadu_ps(c + j), _mm_loadu_ps(x + j)));
    acc1 = _mm_add_ps(acc1, _mm_mul_ps(_mm_loadu_ps(c + j + 4), _mm_loadu_ps(x + j + 4)));
  }
  acc0 = _mm_add_ps(acc0, acc1);
  float lanes[4];
  _mm_storeu_ps(lanes, acc0);
  float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  for (; j < n; ++j) sum += c[j] * x[j];
  return sum;
}

namespace {

// Sums the lanes of two SSE accumulators and the scalar tail the way
// polyphaseConvolveSse does, so that every shared-coefficient routine below
// gives each output exactly the value the one-output routine gives.
// The last n - j (below 8) products are formed in two SSE multiplies and
// added one by one in order, as the scalar tail adds them; the multiplies
// read up to 8 values from j on, which the converter's padded buffers hold.
inline float finishSse(__m128 acc0, __m128 acc1, const float* c, const float* x, int32_t j, int32_t n) {
  acc0 = _mm_add_ps(acc0, acc1);
  float lanes[4];
  _mm_storeu_ps(lanes, acc0);
  float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  const int32_t rest = n - j;
  if (rest == 0) return sum;
  float p[8];
  _mm_storeu_ps(p, _mm_mul_ps(_mm_loadu_ps(c + j), _mm_loadu_ps(x + j)));
  _mm_storeu_ps(p + 4, _mm_mul_ps(_mm_loadu_ps(c + j + 4), _mm_loadu_ps(x + j + 4)));
  switch (rest) {
    case 1: return sum + p[0];
    case 2: return (sum + p[0]) + p[1];
    case 3: return ((sum + p[0]) + p[1]) + p[2];
    case 4: return (((sum + p[0]) + p[1]) + p[2]) + p[3];
    case 5: return ((((sum + p[0]) + p[1]) + p[2]) + p[3]) + p[4];
    case 6: return (((((sum + p[0]) + p[1]) + p[2]) + p[3]) + p[4]) + p[5];
    default: return ((((((sum + p[0]) + p[1]) + p[2]) + p[3]) + p[4]) + p[5]) + p[6];
  }
}

// Rows dot products over the same coefficients: each coefficient block is
// loaded once for every sample row (two or four rows; the loops over the
// rows are unrolled, so the accumulators stay in registers).
template <int Rows>
void convolveRows(const float* c, const float* const x[Rows], int32_t n, float* const out[Rows]) {
  __m128 acc[Rows][2];
  for (int r = 0; r < Rows; ++r) acc[r][0] = acc[r][1] = _mm_setzero_ps();
  int32_t j = 0;
  for (; j + 8 <= n; j += 8) {
    const __m128 c0 = _mm_loadu_ps(c + j);
    const __m128 c1 = _mm_loadu_ps(c + j + 4);
    for (int r = 0; r < Rows; ++r) {
      acc[r][0] = _mm_add_ps(acc[r][0], _mm_mul_ps(c0, _mm_loadu_ps(x[r] + j)));
      acc[r][1] = _mm_add_ps(acc[r][1], _mm_mul_ps(c1, _mm_loadu_ps(x[r] + j + 4)));
    }
  }
  for (int r = 0; r < Rows; ++r) *out[r] = finishSse(acc[r][0], acc[r][1], c, x[r], j, n);
}

void convolveSse2(const float* c, const float* xa, const float* xb, int32_t n, float* outA, float* outB) {
  const float* const x[2] = {xa, xb};
  float* const out[2] = {outA, outB};
  convolveRows<2>(c, x, n, out);
}

}  // namespace

PolyphaseConvolveFn polyphaseConvolve = polyphaseConvolvePlain;

void polyphaseInitConvolve() {
  polyphaseConvolve = cpuHasFeature(kCpuFeatureSse) ? polyphaseConvolveSse : polyphaseConvolvePlain;
}

namespace {

// Structure code for a quality code; 0 for an unknown quality.
int32_t structureFor(int32_t quality, uint32_t inRate, uint32_t outRate, int32_t threshold) {
  switch (quality) {
    case 8:
    case 81: return 3;
    case 9:
    case 91: return 2;
    case 90: return 12;
    case 80: return 13;
    case 7: {
      // High rates on both sides: the plain structures; otherwise the
      // alternates. Decimation works to a fixed output block, interpolation
      // to a fixed input block.
      bool high = inRate >= static_cast<uint32_t>(threshold) || outRate >= static_cast<uint32_t>(threshold);
      if (inRate >= outRate) return high ? 2 : 12;
      return high ? 3 : 13;
    }
    default: return 0;
  }
}

bool fixedOutput(int32_t structure) { return structure == 2 || structure == 12; }

// Output frames that input frames [0, inputEnd) complete, counted from 0.
uint64_t framesCompleted(const PolyphaseConverter* c, uint64_t inputEnd) {
  // Output n needs input floor(n*M/L); it is complete when that is < inputEnd.
  // Count n with n*M < inputEnd*L, i.e. ceil(inputEnd*L / M).
  uint64_t num = inputEnd * static_cast<uint64_t>(c->up);
  return (num + c->down - 1) / c->down;
}

CodecError* design(PolyphaseConverter* c, const PolyphaseTuning& t) {
  double nyquist = 0.5 * static_cast<double>(c->inRate < c->outRate ? c->inRate : c->outRate);
  double att = t.attenuation > 0.0f ? t.attenuation : 90.0;
  double width = t.transition > 0.0f ? t.transition : 0.06 * nyquist;
  if (kTransitionSpan * width > 0.5 * nyquist) width = 0.5 * nyquist / kTransitionSpan;
  double edge = t.passEdge > 0.0f ? t.passEdge : nyquist - kTransitionSpan * width;
  // The stop band must begin at or below the lower Nyquist frequency, or
  // the conversion aliases: a pass edge too close to it is moved down.
  if (edge + kTransitionSpan * width > nyquist) edge = nyquist - kTransitionSpan * width;
  c->passEdge = edge;
  c->stopEdge = edge + kTransitionSpan * width;
  double protoRate = static_cast<double>(c->inRate) * c->up;
  double n = polyphaseKaiserLength(att, width / protoRate, false);
  if (!(n <= kMaxLength)) return createError(__FILE__, __LINE__, __func__, "Filter length too large !");
  if (n < 1.0) n = 1.0;
  c->length = static_cast<int32_t>(n);
  c->beta = polyphaseKaiserBeta(att);
  c->taps = (c->length + c->up - 1) / c->up;
  if (c->taps < 1) return createError(__FILE__, __LINE__, __func__, "invalid number of filter coefficients");

  double* w = static_cast<double*>(utilMalloc(static_cast<uint32_t>(c->length) * sizeof(double), __FILE__, __LINE__));
  // kReadPad zeros after the last row: the shared-coefficient routines read
  // whole SSE blocks past a row's end.
  c->coeffs = static_cast<float*>(
      utilCalloc(static_cast<uint32_t>(c->up) * c->taps + kReadPad, sizeof(float), __FILE__, __LINE__));
  if (w == nullptr || c->coeffs == nullptr) {
    utilFree(w, __FILE__, __LINE__);
    return createError(__FILE__, __LINE__, __func__, "out of memory !");
  }
  polyphaseKaiserWindow(c->beta, c->length, w);
  double fc = (c->passEdge + 0.5 * kTransitionSpan * width) / protoRate;  // cycles per prototype sample
  double centre = 0.5 * (c->length - 1);
  // Interpolation by L puts 1/L of the energy into the base band: the
  // prototype carries gain L so that the pass band has the tuning's gain.
  double scale = static_cast<double>(c->up) * t.gain;
  for (int32_t m = 0; m < c->length; ++m) {
    double x = m - centre;
    double s = x == 0.0 ? 2.0 * fc : std::sin(2.0 * kPi * fc * x) / (kPi * x);
    int32_t phase = m % c->up;
    int32_t k = m / c->up;
    // Reversed in time so that the dot product runs forward over the input.
    c->coeffs[phase * c->taps + (c->taps - 1 - k)] = static_cast<float>(s * w[m] * scale);
  }
  utilFree(w, __FILE__, __LINE__);
  return nullptr;
}

}  // namespace

CodecError* polyphaseCreate(PolyphaseConverter** out, uint32_t inRate, uint32_t outRate,
                            int32_t channels, int32_t inBufferSamples, int32_t outBlockSamples,
                            int32_t inBlockSamples, int32_t variant, int32_t quality,
                            const PolyphaseTuning* tuning) {
  if (out == nullptr) return createError(__FILE__, __LINE__, __func__, "Unknown mode !");
  *out = nullptr;
  if (inRate == 0 || outRate == 0 || channels <= 0)
    return createError(__FILE__, __LINE__, __func__, "Invalid input frequencies !");
  if (variant < 0 || variant > 7) return createError(__FILE__, __LINE__, __func__, "Unknown mode !");
  PolyphaseTuning t = tuning != nullptr ? *tuning : PolyphaseTuning{0.0f, 0.0f, 0.0f, 1.0f, 0};
  if (t.rateThreshold <= 0) t.rateThreshold = 50000;
  int32_t structure = structureFor(quality, inRate, outRate, t.rateThreshold);
  if (structure == 0) return createError(__FILE__, __LINE__, __func__, "Unknown mode !");
  double ratio = static_cast<double>(inRate) / outRate;
  if (ratio > kMaxRatio || ratio < 1.0 / kMaxRatio)
    return createError(__FILE__, __LINE__, __func__, "sampling rate conversion ratio too large !");
  uint32_t g = gcd(inRate, outRate);
  if (outRate / g > static_cast<uint32_t>(kMaxFactor) || inRate / g > static_cast<uint32_t>(kMaxFactor))
    return createError(__FILE__, __LINE__, __func__, "sampling rate conversion ratio too large !");

  PolyphaseConverter* c = new (std::nothrow) PolyphaseConverter();
  if (c == nullptr) return createError(__FILE__, __LINE__, __func__, "Out of memory !");
  c->inRate = inRate;
  c->outRate = outRate;
  c->channels = channels;
  c->up = static_cast<int32_t>(outRate / g);
  c->down = static_cast<int32_t>(inRate / g);
  c->structure = structure;
  c->gain = t.gain;

  CodecError* err = nullptr;
  if (fixedOutput(structure)) {
    if (outBlockSamples <= 0 || outBlockSamples % channels != 0) {
      err = createError(__FILE__, __LINE__, __func__, "output block size inconsistent");
    } else {
      c->outBlockFrames = outBlockSamples / channels;
      // A block of B outputs needs ceil(B*M/L) or one fewer input frames.
      int64_t need = (static_cast<int64_t>(c->outBlockFrames) * c->down + c->up - 1) / c->up;
      c->maxInFrames = static_cast<int32_t>(need);
      c->outCapacityFrames = c->outBlockFrames;
      if (inBufferSamples > 0 && need > inBufferSamples / channels)
        err = createError(__FILE__, __LINE__, __func__, "input block size inconsistent");
    }
  } else {
    if (inBlockSamples <= 0 || inBlockSamples % channels != 0) {
      err = createError(__FILE__, __LINE__, __func__, "input block size inconsistent");
    } else {
      c->inBlockFrames = inBlockSamples / channels;
      c->maxInFrames = c->inBlockFrames;
      int64_t most = (static_cast<int64_t>(c->inBlockFrames) * c->up + c->down - 1) / c->down;
      c->outCapacityFrames = static_cast<int32_t>(most);
      if (most > 0x7FFFFFFF / channels)
        err = createError(__FILE__, __LINE__, __func__, "output block size inconsistent");
    }
  }
  if (err == nullptr) err = design(c, t);
  if (err == nullptr) {
    int64_t stride = static_cast<int64_t>(c->taps) + c->maxInFrames;
    if (stride * channels > 0x3FFFFFFF) {
      err = createError(__FILE__, __LINE__, __func__, "Filter length exceeds transformation size !");
    } else {
      c->workStride = static_cast<int32_t>(stride);
      c->work = static_cast<float*>(
          utilCalloc(static_cast<uint32_t>(stride * channels) + kReadPad, sizeof(float), __FILE__, __LINE__));
      c->output = static_cast<float*>(utilCalloc(static_cast<uint32_t>(c->outCapacityFrames) * channels, sizeof(float), __FILE__, __LINE__));
      if (c->work == nullptr || c->output == nullptr) err = createError(__FILE__, __LINE__, __func__, "out of memory !");
    }
  }
  if (err != nullptr) {
    polyphaseDelete(c);
    return err;
  }
  *out = c;
  return nullptr;
}

void polyphaseDelete(PolyphaseConverter* c) {
  if (c == nullptr) return;
  utilFree(c->coeffs, __FILE__, __LINE__);
  utilFree(c->work, __FILE__, __LINE__);
  utilFree(c->output, __FILE__, __LINE__);
  delete c;
}

int32_t polyphaseNextInput(const PolyphaseConverter* c) {
  if (c == nullptr) return 0;
  if (!fixedOutput(c->structure)) return c->inBlockFrames * c->channels;
  uint64_t last = c->produced + c->outBlockFrames - 1;
  uint64_t lastInput = last * c->down / c->up;
  return static_cast<int32_t>(lastInput + 1 - c->consumed) * c->channels;
}

namespace {

// Output n of this run: its coefficient row and where its samples start in
// each channel's work row.
inline void locate(const PolyphaseConverter* c, int32_t n, const float** coeff, size_t* at) {
  uint64_t t = (c->produced + n) * static_cast<uint64_t>(c->down);
  uint64_t i = t / c->up;
  int32_t phase = static_cast<int32_t>(t % c->up);
  // Work index 0 holds input frame consumed - K, so x[i-K+1 .. i] starts
  // at i - consumed + 1.
  *at = static_cast<size_t>(i + 1 - c->consumed);
  *coeff = c->coeffs + static_cast<size_t>(phase) * c->taps;
}

void runEach(PolyphaseConverter* c, int32_t made) {
  const int32_t ch = c->channels;
  for (int32_t n = 0; n < made; ++n) {
    const float* coeff = nullptr;
    size_t at = 0;
    locate(c, n, &coeff, &at);
    for (int32_t k = 0; k < ch; ++k)
      c->output[static_cast<size_t>(n) * ch + k] =
          polyphaseConvolve(coeff, c->work + static_cast<size_t>(k) * c->workStride + at, c->taps);
  }
}

// The same outputs with the coefficients shared: all channels of one output
// use one coefficient row, and with pure decimation (one phase) two
// neighbouring outputs use it too. Each output is summed exactly as
// polyphaseConvolveSse sums it.
void runShared(PolyphaseConverter* c, int32_t made) {
  const int32_t ch = c->channels;
  const int32_t taps = c->taps;
  float* const o = c->output;
  int32_t n = 0;
  if (c->up == 1) {
    const size_t step = static_cast<size_t>(c->down);
    for (; n + 2 <= made; n += 2) {
      const float* coeff = nullptr;
      size_t at = 0;
      locate(c, n, &coeff, &at);
      int32_t k = 0;
      for (; k + 2 <= ch; k += 2) {
        const float* xa = c->work + static_cast<size_t>(k) * c->workStride + at;
        const float* xb = xa + c->workStride;
        const float* const x[4] = {xa, xa + step, xb, xb + step};
        float* const out[4] = {o + static_cast<size_t>(n) * ch + k, o + static_cast<size_t>(n + 1) * ch + k,
                               o + static_cast<size_t>(n) * ch + k + 1,
                               o + static_cast<size_t>(n + 1) * ch + k + 1};
        convolveRows<4>(coeff, x, taps, out);
      }
      if (k < ch) {
        const float* xa = c->work + static_cast<size_t>(k) * c->workStride + at;
        convolveSse2(coeff, xa, xa + step, taps, o + static_cast<size_t>(n) * ch + k,
                     o + static_cast<size_t>(n + 1) * ch + k);
      }
    }
  }
  for (; n < made; ++n) {
    const float* coeff = nullptr;
    size_t at = 0;
    locate(c, n, &coeff, &at);
    int32_t k = 0;
    for (; k + 2 <= ch; k += 2) {
      const float* xa = c->work + static_cast<size_t>(k) * c->workStride + at;
      convolveSse2(coeff, xa, xa + c->workStride, taps, o + static_cast<size_t>(n) * ch + k,
                   o + static_cast<size_t>(n) * ch + k + 1);
    }
    if (k < ch)
      o[static_cast<size_t>(n) * ch + k] =
          polyphaseConvolveSse(coeff, c->work + static_cast<size_t>(k) * c->workStride + at, taps);
  }
}

}  // namespace

CodecError* polyphaseRun(PolyphaseConverter* c, const float* in, int32_t inSamples, float** out,
                         int32_t* outSamples, int32_t* nextInSamples) {
  if (c == nullptr) return createError(__FILE__, __LINE__, __func__, "Unknown mode !");
  if (inSamples != polyphaseNextInput(c))
    return createError(__FILE__, __LINE__, __func__, "input block size inconsistent");
  const int32_t ch = c->channels;
  const int32_t frames = inSamples / ch;
  // One frame more than the filter spans: with up-sampling a fixed output
  // block can leave an output pending whose newest input is the last frame
  // of the previous block.
  const int32_t hist = c->taps;
  for (int32_t k = 0; k < ch; ++k) {
    float* w = c->work + static_cast<size_t>(k) * c->workStride + hist;
    if (in == nullptr) {
      std::memset(w, 0, sizeof(float) * frames);
    } else {
      for (int32_t i = 0; i < frames; ++i) w[i] = in[static_cast<size_t>(i) * ch + k];
    }
  }
  uint64_t end = c->consumed + frames;
  uint64_t target = framesCompleted(c, end);
  uint64_t ready = target - c->produced;
  if (fixedOutput(c->structure) && ready > static_cast<uint64_t>(c->outBlockFrames)) ready = c->outBlockFrames;
  int32_t made = static_cast<int32_t>(ready);
  if (polyphaseConvolve == polyphaseConvolveSse) {
    runShared(c, made);
  } else {
    runEach(c, made);
  }
  // Keep the newest K frames as history for the next block.
  for (int32_t k = 0; k < ch; ++k) {
    float* w = c->work + static_cast<size_t>(k) * c->workStride;
    std::memmove(w, w + frames, sizeof(float) * hist);
  }
  c->consumed = end;
  c->produced += ready;
  *out = c->output;
  *outSamples = made * ch;
  *nextInSamples = polyphaseNextInput(c);
  return nullptr;
}

int32_t polyphaseOutputCapacity(const PolyphaseConverter* c) {
  return c == nullptr ? 0 : c->outCapacityFrames * c->channels;
}

double polyphaseDelay(const PolyphaseConverter* c) {
  return c == nullptr ? 0.0 : 0.5 * (c->length - 1) / c->down;
}

int32_t polyphaseStructure(const PolyphaseConverter* c) { return c == nullptr ? 0 : c->structure; }

void polyphaseGetDesign(const PolyphaseConverter* c, PolyphaseDesign* d) {
  d->up = c->up;
  d->down = c->down;
  d->length = c->length;
  d->tapsPerPhase = c->taps;
  d->passEdge = c->passEdge;
  d->stopEdge = c->stopEdge;
  d->beta = c->beta;
}
