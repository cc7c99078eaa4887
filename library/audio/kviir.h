// IIR filters: low-pass, high-pass, band-stop and band-pass designs from
// analogue prototypes (Butterworth, Chebyshev with 0.5 dB ripple, Bessel) or
// two-pole resonators, as a cascade of at most 15 biquads in double
// precision, filtering interleaved float or double audio of one or two
// channels. Frequencies are normalised to the sample rate (0.5 = Nyquist).
#pragma once

#include "kvportable.h"

enum KVIIR_TYPE : uint32_t { KVIIR_LOWPASS = 0, KVIIR_HIGHPASS = 1, KVIIR_BANDSTOP = 2, KVIIR_BANDPASS = 3 };
enum KVIIR_DESIGN : uint32_t {
  KVIIR_BUTTERWORTH = 0,
  KVIIR_CHEBYSHEV = 1,  // 0.5 dB pass-band ripple
  KVIIR_BESSEL = 2,     // orders 1 to 10
  KVIIR_RESONATOR = 3,  // band-stop and band-pass only; bandwidth is Q
};

// One second-order section: feed-forward b0..b2, feedback a1, a2 (with the
// sign that is added), delay elements z1 and z2 of channels 0 and 1.
struct tKVIIR_BIQUAD {
  double b0, b1, b2, a1, a2;
  double z1[2];
  double z2[2];
};

// Reserved polynomial record (cleared, not filled by any design).
struct tKVIIR_POLYNOMIAL {
  uint32_t order;
  double coef[16];
};

class CKvIIR {
 public:
  static const unsigned kMaxBiquads = 15;

  CKvIIR();
  explicit CKvIIR(const CKvIIR* other);
  CKvIIR& operator=(const CKvIIR& other);

  HRESULT Design(KVIIR_TYPE type, KVIIR_DESIGN design, unsigned int order, double freq, double bandwidth,
                 double gainDb, unsigned int channels, unsigned long flags);
  void ProcessFloat(float* out, const float* in, unsigned int frames, unsigned long mask);
  void ProcessDouble(double* out, const double* in, unsigned int frames, unsigned long mask);
  void Reset(unsigned long mask);
  void ResetAll();
  void SetDelayElementsFrom(const CKvIIR* source);
  unsigned int getChannels() const { return m_channels; }
  unsigned int getNumBiquads() const { return m_numBiquads; }

 protected:
  unsigned int getLastChannelMask() const { return m_lastMask; }
  double getGain() const { return m_gain; }
  double getDry() const { return m_dry; }
  const tKVIIR_POLYNOMIAL* getPolynomial(unsigned int i) const;
  const tKVIIR_BIQUAD* getBiquad(unsigned int i) const;

 private:
  void Clear();
  unsigned long UpdateMask(unsigned long mask);

  uint32_t m_channels;
  uint32_t m_lastMask;
  tKVIIR_POLYNOMIAL m_poly[2];
  uint32_t m_numBiquads;
  tKVIIR_BIQUAD m_biquads[kMaxBiquads];
  double m_gain;
  double m_dry;
  uint32_t m_twoChannelKernel;
};
