// Windowing, folding and DCT-IV of the encoder's MDCT.
#include "transform.h"

#include <cmath>
#include <mutex>

#include "aactables.h"
#include "cpuident.h"
#include "nyx_dct.h"
#include "utillib.h"

namespace {

struct WindowTables {
  float longSine[1024], longKbd[1024], shortSine[128], shortKbd[128];
};

// The windows are kept rounded to six decimal places, the precision of the
// encoder's stored tables.
const WindowTables& windowTables() {
  static WindowTables tables;
  static std::once_flag once;
  std::call_once(once, [] {
    auto fill = [](float* dst, int half, int shape) {
      const float* src = aacWindowHalf(half, shape);
      for (int i = 0; i < half; ++i) dst[i] = static_cast<float>(std::round(static_cast<double>(src[i]) * 1e6) / 1e6);
    };
    fill(tables.longSine, 1024, 0);
    fill(tables.longKbd, 1024, 1);
    fill(tables.shortSine, 128, 0);
    fill(tables.shortKbd, 128, 1);
  });
  return tables;
}

// Long halves: any non-zero shape is KBD; short halves: only 1 is.
const float* longWindow(int shape) { return shape ? windowTables().longKbd : windowTables().longSine; }
const float* shortWindow(int shape) { return shape == 1 ? windowTables().shortKbd : windowTables().shortSine; }

int defaultSetup(TransformFftHandle* handle, int log2Points) {
  // log2Points is that of the long transform's complex FFT (9: 512 points);
  // the DCT-IV lengths are four times and half of the FFT length.
  const int32_t points = 1 << log2Points;
  if (createDct(&handle->dctLong, 2 * points) != 0) return 1;
  if (createDct(&handle->dctShort, points / 4) != 0) {
    deleteDct(&handle->dctLong);
    return 1;
  }
  return 0;
}

int defaultRelease(TransformFftHandle* handle) {
  deleteDct(&handle->dctLong);
  deleteDct(&handle->dctShort);
  return 0;
}

int defaultDct4(TransformFftHandle* handle, const float* input, float* output, int n) {
  return runDct(n == 1024 ? handle->dctLong : handle->dctShort, input, output);
}

// Folds the windowed block z (2N values) to the N inputs of the DCT-IV.
void fold(const float* z, float* u, int n) {
  const int half = n / 2;
  for (int i = 0; i < half; ++i) {
    u[half + i] = z[i] - z[n - 1 - i];
    u[half - 1 - i] = -(z[n + i] + z[2 * n - 1 - i]);
  }
}

}  // namespace

TransformKernels transformKernels = {defaultSetup, defaultRelease, defaultDct4};

int transformCreate(TransformObject** out) {
  if (!out) return 1;
  *out = nullptr;
  TransformObject* object = static_cast<TransformObject*>(utilCalloc(1, sizeof(TransformObject), __FILE__, __LINE__));
  if (!object) return 1;
  object->fft = static_cast<TransformFftHandle*>(utilCalloc(1, sizeof(TransformFftHandle), __FILE__, __LINE__));
  if (!object->fft) {
    utilFree(object, __FILE__, __LINE__);
    return 1;
  }
  windowTables();
  *out = object;
  return transformKernels.setup(object->fft, 9);
}

int transformDelete(TransformObject** object) {
  if (!object || !*object) return 0;
  int result = 0;
  if ((*object)->fft) {
    result = transformKernels.release((*object)->fft);
    utilFree((*object)->fft, __FILE__, __LINE__);
  }
  utilFree(*object, __FILE__, __LINE__);
  *object = nullptr;
  return result;
}

int Transform(TransformObject* object, const float* x, float* spectrum, int windowSequence, int windowShape,
              int previousWindowShape) {
  if (!object || !object->fft || !x || !spectrum) return 0;
  if (windowSequence < 0 || windowSequence > 3) return 0;
  float z[2048];
  float u[1024];
  if (windowSequence == kEightShortSequence) {
    const float* rise = shortWindow(previousWindowShape);
    const float* fall = shortWindow(windowShape);
    for (int n = 0; n < 128; ++n) {
      z[n] = x[n] * rise[n];
      z[128 + n] = x[128 + n] * fall[127 - n];
    }
    fold(z, u, 128);
    transformKernels.dct4(object->fft, u, spectrum, 128);
    return 0;
  }
  if (windowSequence == kLongStopSequence) {
    const float* rise = shortWindow(previousWindowShape);
    for (int n = 0; n < 448; ++n) z[n] = 0.0f;
    for (int j = 0; j < 128; ++j) z[448 + j] = x[448 + j] * rise[j];
    for (int n = 576; n < 1024; ++n) z[n] = x[n];
  } else {
    const float* rise = longWindow(previousWindowShape);
    for (int n = 0; n < 1024; ++n) z[n] = x[n] * rise[n];
  }
  if (windowSequence == kLongStartSequence) {
    const float* fall = shortWindow(windowShape);
    for (int n = 1024; n < 1472; ++n) z[n] = x[n];
    for (int j = 0; j < 128; ++j) z[1472 + j] = x[1472 + j] * fall[127 - j];
    for (int n = 1600; n < 2048; ++n) z[n] = 0.0f;
  } else {
    const float* fall = longWindow(windowShape);
    for (int n = 0; n < 1024; ++n) z[1024 + n] = x[1024 + n] * fall[1023 - n];
  }
  fold(z, u, 1024);
  transformKernels.dct4(object->fft, u, spectrum, 1024);
  return 0;
}

void transformSetKernels() {
  // The DCT-IV runs on the runtime's FFT, whose vector routines the
  // runtime's VecMathInit selects; the processor query only makes sure the
  // feature record is read once, at open, and not in the middle of a frame.
  (void)cpuHasFeature(kCpuFeatureSse);
}

const float* transformWindow(int halfLength, int shape) {
  if (shape != 0 && shape != 1) return nullptr;
  if (halfLength == 1024) return longWindow(shape);
  if (halfLength == 128) return shortWindow(shape);
  return nullptr;
}
