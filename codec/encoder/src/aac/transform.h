// The encoder's forward transform: windowing of one block for the AAC window
// sequences and shapes, then the MDCT (2048 samples to 1024 lines, or 256
// samples to 128 lines for one window of an eight-short frame).
//
// The result is X[k] = sum_n z[n] cos(2 pi / (2N) (n + N/2 + 1/2)(k + 1/2)),
// the MDCT of the standard without its factor 2 (the caller multiplies by 2).
#pragma once

#include <cstdint>

enum WindowSequence {
  kOnlyLongSequence = 0,
  kLongStartSequence = 1,
  kEightShortSequence = 2,
  kLongStopSequence = 3,
};

enum WindowShape {
  kSineWindow = 0,
  kKbdWindow = 1,
};

struct DctHandle;

// The transform's DCT-IV kernels of 1024 and 128 points (the runtime's
// FFT-based DCT-IV), created by the set-up routine.
struct TransformFftHandle {
  DctHandle* dctLong;
  DctHandle* dctShort;
};

struct TransformObject {
  TransformFftHandle* fft;
};

// Replaceable routines of the transform: the set-up and release of the
// kernel handle, and the DCT-IV of n points (1024 or 128).
struct TransformKernels {
  int (*setup)(TransformFftHandle* handle, int log2Points);
  int (*release)(TransformFftHandle* handle);
  int (*dct4)(TransformFftHandle* handle, const float* input, float* output, int n);
};
extern TransformKernels transformKernels;

// 1 when an allocation fails, else the set-up's result (0 on success).
int transformCreate(TransformObject** out);
// Releases the kernels and frees the object; clears *object; returns the
// release's result (0 when there was nothing to release).
int transformDelete(TransformObject** object);
// Windows and transforms one block: sequences 0, 1 and 3 read 2048 samples
// and write 1024 lines; sequence 2 reads 256 samples and writes 128 lines. The
// rising half uses the previous shape, the falling half the current one. A
// sequence outside 0..3 does nothing. Returns 0.
int Transform(TransformObject* object, const float* timeIn, float* spectrum, int windowSequence, int windowShape,
              int previousWindowShape);
// Installs the faster kernels the processor allows (the runtime's DCT-IV
// already picks its vector routines through the runtime's dispatch table).
void transformSetKernels();

// The stored rising window halves (the standard's windows rounded to six
// decimals): halfLength 1024 or 128, shape 0 sine or 1 KBD; null otherwise.
const float* transformWindow(int halfLength, int shape);
