// Straight-line complex FFTs of fixed lengths (4, 8, 16, 32, 240, 480) on
// interleaved (re, im) data, in place, sign -1, unscaled.
#pragma once

#include <cstdint>

// cos(2 pi m / 32), m = 0 .. 8: the quarter wave every rotation of these
// transforms is taken from (sin(2 pi m / 32) = cos(2 pi (8 - m) / 32)).
constexpr float kCos32[9] = {1.0f,
                             0.98078528040323044913f,
                             0.92387953251128675613f,
                             0.83146961230254523708f,
                             0.70710678118654752440f,
                             0.55557023301960222474f,
                             0.38268343236508977173f,
                             0.19509032201612826785f,
                             0.0f};

// Transforms in place when n is 4, 8, 16, 32, 240 or 480; any other n does
// nothing.
void fixedSizeFft(float* data, int32_t n);

void fft4(float* data);
void fft8(float* data);
void fft16(float* data);
void fft32(float* data);
void fft15(float* data);
void fft240(float* data);
void fft480(float* data);
