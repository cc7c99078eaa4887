// Envelope adjuster: sinusoids it inserts, heard through the synthesis bank.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "env_calc.h"
#include "qmf_dec.h"

namespace {

// Inserts a steady sinusoid into one high-resolution band for several frames
// and synthesises the result. Returns the energy left after removing the
// best-fitting sinusoid at the band's centre frequency, relative to the
// sinusoid's energy, in dB; *band receives the QMF band that carried it.
double sinusoidResidualDb(int lowPower, int sfBand, int* band) {
  SbrHeader h;
  h.startFreq = 5;
  h.stopFreq = 9;
  h.freqScale = 2;
  h.alterScale = 1;
  h.xoverBand = 0;
  h.noiseBands = 2;
  SbrEnvCalc ec;
  if (resetSbrEnvelopeCalc(&ec, &h, 44100, 64, 32, 0) != nullptr) return 1e9;
  if (sbrResetLimiterBands(ec.ft.lim, &ec.ft.nLim, ec.ft.low, ec.ft.nLow, nullptr, 0) != nullptr) return 1e9;
  *band = (ec.ft.high[sfBand] + ec.ft.high[sfBand + 1]) >> 1;

  QmfBank* syn = nullptr;
  if (createCplxSynthesisQmfBank(&syn, 0, 1, 2048, 1.0f, 1.0f, lowPower) != nullptr) return 1e9;
  std::vector<std::vector<float>> reRows(SBR_TOTAL_SLOTS, std::vector<float>(64)),
      imRows(SBR_TOTAL_SLOTS, std::vector<float>(64));
  std::vector<float*> re, im;
  for (int n = 0; n < SBR_TOTAL_SLOTS; n++) {
    re.push_back(reRows[n].data());
    im.push_back(imRows[n].data());
  }
  const int frames = 8, settle = 2;
  std::vector<float> out(2048 * frames);
  for (int f = 0; f < frames; f++) {
    for (auto& r : reRows) std::fill(r.begin(), r.end(), 0.0f);
    for (auto& r : imRows) std::fill(r.begin(), r.end(), 0.0f);
    SbrFrameData fd;
    fd.grid.transientIdx = -1;
    fd.env[sfBand] = 1e6f;
    fd.addHarmonic[sfBand] = 1;
    sbrAdjustEnvelope(&ec, &h, &fd, re.data(), im.data(), lowPower, 0);
    qmfSynthesisFiltering(re.data() + SBR_HF_ADJ, im.data() + SBR_HF_ADJ, out.data() + 2048 * f, syn);
  }
  deleteQmfBank(&syn);
  // The sinusoid sits at the band centre, (k + 1/2) / 128 cycles per sample:
  // a whole number of cycles over whole frames, so the fit is exact.
  const double w = 2 * M_PI * (*band + 0.5) / 128.0;
  double c = 0, s = 0, total = 0;
  const int n0 = 2048 * settle, n = 2048 * (frames - settle);
  for (int i = 0; i < n; i++) {
    double x = out[n0 + i];
    c += x * std::cos(w * i);
    s += x * std::sin(w * i);
    total += x * x;
  }
  const double tone = 2.0 * (c * c + s * s) / n;
  return 10 * std::log10((total - tone) / tone);
}

// The real-valued synthesis bank only renders a clean sinusoid when its
// neighbouring bands carry the small cancelling terms; the complex bank
// needs none. Even and odd bands mirror each other, so both are checked.
TEST(SbrEnvelopeAdjuster, InsertedSinusoidsComeOutCleanInBothPaths) {
  for (int lowPower = 0; lowPower < 2; lowPower++)
    for (int sfBand : {2, 3, 4, 5}) {
      int band = 0;
      double residual = sinusoidResidualDb(lowPower, sfBand, &band);
      EXPECT_LT(residual, -60.0) << "lowPower " << lowPower << " QMF band " << band;
    }
}

}  // namespace
