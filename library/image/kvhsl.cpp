// HSL conversions (hue in turns) and the broadcast legal-colour checks.
#include "kvhsl.h"

#include <cmath>

namespace {

struct Rgb {
  double r, g, b;
};

// Hue of a colour whose maximum and minimum channel are known, delta > 0.
double Hue(const Rgb& c, double max, double min, double delta) {
  const double rd = (max - c.r) / delta, gd = (max - c.g) / delta, bd = (max - c.b) / delta;
  double h;
  if (c.r == max)
    h = c.g == min ? 5.0 + bd : 1.0 - gd;
  else if (c.g == max)
    h = c.b == min ? 1.0 + rd : 3.0 - bd;
  else
    h = c.r == min ? 3.0 + gd : 5.0 - rd;
  return h / 6.0;
}

void RgbToHsl(const Rgb& c, double alpha, KVHSL* out) {
  out->a = alpha;
  const double max = std::fmax(c.r, std::fmax(c.g, c.b));
  const double min = std::fmin(c.r, std::fmin(c.g, c.b));
  const double l = (max + min) / 2.0;
  out->l = l;
  if (l <= 0.0) {
    out->h = out->s = 0.0;
    return;
  }
  const double delta = max - min;
  if (delta <= 0.0) {
    out->s = delta;
    out->h = 0.0;
    return;
  }
  out->s = l <= 0.5 ? delta / (max + min) : delta / (2.0 - max - min);
  out->h = Hue(c, max, min, delta);
}

// HSL to three colour channels. Returns false (channels untouched) when the
// hue's sextant lies outside 0..6. With checkV a non-positive v gives black.
bool HslToRgb(const KVHSL& in, bool checkV, Rgb* c) {
  const double l = in.l, s = in.s;
  const double v = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
  if (checkV && v <= 0.0) {
    c->r = c->g = c->b = 0.0;
    return true;
  }
  const double h6 = in.h * 6.0;
  // Truncation toward zero; anything outside (-1, 7) cannot give 0..6.
  if (!(h6 > -1.0 && h6 < 7.0)) return false;
  const int sextant = static_cast<int>(h6);
  const double m = 2.0 * l - v;
  const double f = h6 - sextant;
  const double vsf = (v - m) * f;
  const double mid1 = m + vsf, mid2 = v - vsf;
  switch (sextant) {
    case 0:
    case 6: *c = {v, mid1, m}; break;
    case 1: *c = {mid2, v, m}; break;
    case 2: *c = {m, v, mid1}; break;
    case 3: *c = {m, mid2, v}; break;
    case 4: *c = {mid1, m, v}; break;
    case 5: *c = {v, m, mid2}; break;
  }
  return true;
}

// A channel in 0..1 as a byte: times 255, truncated. Values outside the cube
// (from an out-of-range HSL) are clamped instead of wrapping around.
BYTE ToByte(double v) {
  const double x = v * 255.0;
  if (!(x > 0.0)) return 0;
  if (x >= 255.0) return 255;
  return static_cast<BYTE>(x);
}

void FloatPixelToHsl(KVHSL* out, const KVRGBAFLOAT* in) {
  if (!out || !in) return;
  RgbToHsl({in->r, in->g, in->b}, in->a, out);
}

void HslToFloatPixel(KVRGBAFLOAT* out, const KVHSL* in) {
  if (!out || !in) return;
  out->a = static_cast<float>(in->a);
  Rgb c{out->r, out->g, out->b};
  if (HslToRgb(*in, true, &c)) {
    out->r = static_cast<float>(c.r);
    out->g = static_cast<float>(c.g);
    out->b = static_cast<float>(c.b);
  }
}

// Legal-colour checks: BT.709-style transfer curve, a colour matrix, and the
// limit (K - Y)^2 >= C1^2 + C2^2, all in single precision.
struct Matrix {
  float m[3][3];  // rows applied to (blue, green, red) or (Y, C1, C2)
};
const Matrix kRgbToYuv = {{{0.114f, 0.587f, 0.299f},
                           {0.436798f, -0.289391f, -0.147407f},
                           {-0.099978f, -0.514799f, 0.614777f}}};
const Matrix kYuvToRgb = {{{1.0f, 2.028398f, 0.0f}, {1.0f, -0.393931f, -0.580809f}, {1.0f, 0.0f, 1.140251f}}};
const Matrix kRgbToYiq = {{{0.114f, 0.587f, 0.299f},
                           {-0.321746f, -0.274133f, 0.595879f},
                           {0.311878f, -0.523083f, 0.211205f}}};
const Matrix kYiqToRgb = {{{1.0f, -1.104744f, 1.701157f},
                           {1.0f, -0.272558f, -0.646709f},
                           {1.0f, 0.956295f, 0.621025f}}};

enum class Rule { Ntsc, Pal };
struct Check {
  const Matrix* forward;
  const Matrix* inverse;
  float limit;
  Rule rule;
};
const Check kNtscYiq = {&kRgbToYiq, &kYiqToRgb, 1.2162162f, Rule::Ntsc};
const Check kNtscYuv = {&kRgbToYuv, &kYuvToRgb, 1.2162162f, Rule::Ntsc};
const Check kPalYuv = {&kRgbToYuv, &kYuvToRgb, 1.2f, Rule::Pal};

float EncodeTransfer(float v) { return v >= 0.018f ? 1.099f * std::pow(v, 0.45f) - 0.099f : 4.5f * v; }
float DecodeTransfer(float v) {
  return v >= 0.081f ? static_cast<float>(std::pow((double(v) + 0.099) / 1.099, 1.0 / 0.45)) : v / 4.5f;
}

void Apply(const Matrix& m, const float in[3], float out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = m.m[i][0] * in[0] + m.m[i][1] * in[1] + m.m[i][2] * in[2];
}

// Encodes the pixel and returns its (Y, C1, C2); true when illegal.
bool Measure(const Check& k, const KVRGBAFLOAT& p, float yc[3]) {
  const float bgr[3] = {EncodeTransfer(p.b), EncodeTransfer(p.g), EncodeTransfer(p.r)};
  Apply(*k.forward, bgr, yc);
  const float a = k.limit - yc[0];
  return a * a < yc[1] * yc[1] + yc[2] * yc[2];
}

BOOL RunCheck(const Check& k, const KVRGBAFLOAT* p) {
  if (!p) return FALSE;
  float yc[3];
  return Measure(k, *p, yc) ? TRUE : FALSE;
}

BOOL RunCheckReturn(const Check& k, KVRGBAFLOAT* p) {
  if (!p) return FALSE;
  float yc[3];
  if (!Measure(k, *p, yc)) return FALSE;
  const float y = yc[0];
  const float c = std::sqrt(yc[1] * yc[1] + yc[2] * yc[2]);
  float f;
  if (k.rule == Rule::Ntsc) {
    const float cp = 0.925f * c;
    const float t = (0.925f * y + 0.075f) + cp;
    f = (cp - (t - 1.15f)) / cp;
  } else {
    const float t = y + c;
    f = (c - (t - 1.15f)) / c;
  }
  if (f <= 1.0f) {
    yc[1] *= f;
    yc[2] *= f;
  }
  float bgr[3];
  Apply(*k.inverse, yc, bgr);
  float* out[3] = {&p->b, &p->g, &p->r};
  for (int i = 0; i < 3; ++i) {
    const float v = DecodeTransfer(bgr[i]);
    *out[i] = v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
  }
  return TRUE;
}

}  // namespace

void KVAPI KVRGBA_To_KVHSL(KVHSL* out, const KVRGBA* in) {
  if (!out || !in) return;
  RgbToHsl({in->r / 255.0, in->g / 255.0, in->b / 255.0}, in->a / 255.0, out);
}

void KVAPI KVRGBAFLOAT_To_KVHSL(KVHSL* out, const KVRGBAFLOAT* in) { FloatPixelToHsl(out, in); }

void KVAPI KVDIBPIXEL_To_KVHSL(KVHSL* out, const KVDIBPIXEL* in) { FloatPixelToHsl(out, in); }

void KVAPI KVDIBPIXEL_To_KVHSL_Float(KVHSL* out, const KVDIBPIXEL* in) {
  if (!out || !in) return;
  const double e = static_cast<double>(1e-6f);
  Rgb c{in->r, in->g, in->b};
  out->a = in->a;
  double max = std::fmax(c.r, std::fmax(c.g, c.b));
  double min = std::fmin(c.r, std::fmin(c.g, c.b));
  // Sums just below or above 2 and 0 are moved out by e so that the
  // saturation's divisor is never (nearly) zero; the moved extreme replaces
  // the channel that held it.
  // A sum of exactly 2 or 0 with a spread would divide by zero outright: it is
  // moved like the sums just inside.
  const bool spread = max - min >= e;
  double sum = max + min;
  double newMax = max;
  if (sum > 2.0 - e && (sum < 2.0 || (sum == 2.0 && spread)))
    newMax = max - e;
  else if (sum > 2.0 && sum < 2.0 + e)
    newMax = max + e;
  if (newMax != max) {
    if (c.r > c.g && c.r > c.b)
      c.r = newMax;
    else if (c.b < c.g)
      c.g = newMax;
    else
      c.b = newMax;
    max = newMax;
  }
  sum = max + min;
  double newMin = min;
  if (sum > -e && sum < 0.0)
    newMin = min - e;
  else if ((sum > 0.0 || (sum == 0.0 && spread)) && sum < e)
    newMin = min + e;
  if (newMin != min) {
    if (c.r < c.g && c.r < c.b)
      c.r = newMin;
    else if (c.g < c.b)
      c.g = newMin;
    else
      c.b = newMin;
    min = newMin;
  }
  const double l = (max + min) / 2.0;
  const double delta = max - min;
  out->l = l;
  if (delta >= -e && delta < e) {
    out->h = 0.0;
    out->s = delta;
    return;
  }
  double s = l <= 0.5 ? delta / (max + min) : delta / (2.0 - max - min);
  if (l < 0.0 || l > 1.0) s = -s;
  out->s = s;
  out->h = Hue(c, max, min, delta);
}

void KVAPI KVHSL_To_KVRGBA(KVRGBA* out, const KVHSL* in) {
  if (!out || !in) return;
  out->a = ToByte(in->a);
  Rgb c{out->r / 255.0, out->g / 255.0, out->b / 255.0};
  if (HslToRgb(*in, true, &c)) {
    out->r = ToByte(c.r);
    out->g = ToByte(c.g);
    out->b = ToByte(c.b);
  }
}

void KVAPI KVHSL_To_KVRGBAFLOAT(KVRGBAFLOAT* out, const KVHSL* in) { HslToFloatPixel(out, in); }

void KVAPI KVHSL_To_KVDIBPIXEL(KVDIBPIXEL* out, const KVHSL* in) { HslToFloatPixel(out, in); }

void KVAPI KVHSL_To_KVDIBPIXEL_Float(KVDIBPIXEL* out, KVHSL* in) {
  if (!out || !in) return;
  if (in->l < 0.0 || in->l > 1.0) in->s = -in->s;
  out->a = static_cast<float>(in->a);
  Rgb c{out->r, out->g, out->b};
  if (HslToRgb(*in, false, &c)) {
    out->r = static_cast<float>(c.r);
    out->g = static_cast<float>(c.g);
    out->b = static_cast<float>(c.b);
  }
}

BOOL KVAPI HotCheckNTSCYIQ(const KVRGBAFLOAT* p) { return RunCheck(kNtscYiq, p); }
BOOL KVAPI HotCheckNTSCYUV(const KVRGBAFLOAT* p) { return RunCheck(kNtscYuv, p); }
BOOL KVAPI HotCheckPALYUV(const KVRGBAFLOAT* p) { return RunCheck(kPalYuv, p); }
BOOL KVAPI HotCheckNTSCYIQReturn(KVRGBAFLOAT* p) { return RunCheckReturn(kNtscYiq, p); }
BOOL KVAPI HotCheckNTSCYUVReturn(KVRGBAFLOAT* p) { return RunCheckReturn(kNtscYuv, p); }
BOOL KVAPI HotCheckPALYUVReturn(KVRGBAFLOAT* p) { return RunCheckReturn(kPalYuv, p); }
