#include "testsupport.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>

#include "mp4AudioDecIfc.h"
#include "trackinput.h"
#include "vog_files.h"
#include "vog_paths.h"

namespace {

void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2 * 3.14159265358979323846 / static_cast<double>(len);
    const std::complex<double> wl(std::cos(ang), std::sin(ang));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t k = 0; k < len / 2; ++k, w *= wl) {
        const auto u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

std::vector<double> powerSpectrum(const std::vector<float>& x, int channels, int c, size_t start) {
  std::vector<std::complex<double>> a(2048);
  for (size_t i = 0; i < 2048; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * 3.14159265358979323846 * i / 2047.0);
    a[i] = x[(start + i) * channels + c] * w;
  }
  fft(a);
  std::vector<double> p(1025);
  for (size_t i = 0; i <= 1024; ++i) p[i] = std::norm(a[i]);
  return p;
}

}  // namespace

std::string fixturePath(const std::string& name) { return vogtest::FixturePath("aacdec/" + name); }
std::string sharedPath(const std::string& relative) { return vogtest::SharedPath(relative); }

bool fileExists(const std::string& path) { return vogtest::FileExists(path); }

bool decodeFile(const std::string& path, DecodedFile* out, std::string* error) {
  TrackInput track;
  if (!track.open(path, error)) return false;
  AudioSpecificConfig asc;
  std::memset(&asc, 0, sizeof(asc));
  out->parseStatus = mp4AudioDecParseAsc(track.asc().data(), static_cast<int32_t>(track.asc().size()), &asc);
  if (out->parseStatus) return true;
  AudioSpecificConfig* recs[1] = {&asc};
  Mp4AudioDec* dec = mp4AudioDecOpen(recs, 1);
  if (!dec) return true;
  out->opened = true;
  out->channels = asc.channelCount;
  out->rate = asc.samplingFrequency;
  AuBuffer* au = auBufferCreate(nullptr, 0);
  CuBuffer* cu = cuBufferCreate(2 * asc.channelCount, 2 * asc.frameLength, asc.samplingFrequency, 2048);
  AuBuffer* aus[1] = {au};
  std::vector<uint8_t> unit;
  while (track.next(&unit)) {
    auBufferReset(au);
    int32_t r = auBufferFeed(au, unit.data(), static_cast<int32_t>(unit.size()));
    cuBufferReset(cu);
    if (!r) r = mp4AudioDecDecodeAu(dec, aus, cu);
    int32_t ch = 0, n = 0;
    cuBufferGetChannels(cu, &ch);
    cuBufferGetSamplesPerChannel(cu, &n);
    ++out->frames;
    if (r || ch != out->channels || n != asc.frameLength) {
      ++out->failures;
      out->pcm.insert(out->pcm.end(), static_cast<size_t>(asc.frameLength) * out->channels, 0.0f);
      continue;
    }
    float* s = nullptr;
    cuBufferGetSamples(cu, &s);
    for (int i = 0; i < n * ch; ++i) out->pcm.push_back(s[i] / 32768.0f);
    out->channelTypes.assign(static_cast<size_t>(ch), 0);
    for (int c = 0; c < ch; ++c) cuBufferGetChannelType(cu, c, &out->channelTypes[static_cast<size_t>(c)]);
  }
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
  return true;
}

std::vector<float> readF32(const std::string& path) { return vogtest::ReadArray<float>(path); }

Comparison compareChannel(const std::vector<float>& ours, const std::vector<float>& ref, int channels, int c,
                          int refChannel) {
  Comparison r;
  const size_t frames = std::min(ours.size(), ref.size()) / static_cast<size_t>(channels);
  double sig = 0, err = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double a = ref[i * channels + refChannel], b = ours[i * channels + c];
    sig += a * a;
    err += (a - b) * (a - b);
    r.maxAbs = std::max(r.maxAbs, std::fabs(a - b));
  }
  r.compared = frames;
  r.snrDb = err > 0 ? 10 * std::log10(sig / err) : 400.0;
  return r;
}

BandStats bandEnergyStats(const std::vector<float>& ours, const std::vector<float>& ref, int channels) {
  BandStats st;
  const size_t frames = std::min(ours.size(), ref.size()) / static_cast<size_t>(channels);
  std::vector<double> errs;
  for (int c = 0; c < channels; ++c) {
    std::vector<std::vector<double>> A, B;
    // Skip the first (priming) block: the signal starts abruptly there.
    for (size_t s = 1024; s + 2048 <= frames; s += 1024) {
      A.push_back(powerSpectrum(ref, channels, c, s));
      B.push_back(powerSpectrum(ours, channels, c, s));
    }
    if (A.empty()) continue;
    // Bandwidth: highest bin whose long-term power is within 60 dB of the peak.
    std::vector<double> lt(1025, 0.0);
    for (auto& p : A)
      for (size_t i = 0; i <= 1024; ++i) lt[i] += p[i];
    const double peak = *std::max_element(lt.begin(), lt.end());
    size_t top = 2;
    for (size_t i = 0; i <= 1024; ++i)
      if (lt[i] > peak * 1e-6) top = i;
    const double upper = std::max(4.0, top * 0.95);
    std::vector<size_t> edges;
    for (int i = 0; i <= 32; ++i) {
      const size_t e = static_cast<size_t>(std::lround(2.0 * std::pow(upper / 2.0, i / 32.0)));
      if (edges.empty() || e > edges.back()) edges.push_back(e);
    }
    for (size_t f = 0; f < A.size(); ++f) {
      std::vector<double> ea, eb;
      for (size_t b = 0; b + 1 < edges.size(); ++b) {
        double x = 0, y = 0;
        for (size_t i = edges[b]; i < edges[b + 1]; ++i) {
          x += A[f][i];
          y += B[f][i];
        }
        ea.push_back(x);
        eb.push_back(y);
      }
      const double fa = *std::max_element(ea.begin(), ea.end()) * 1e-6;
      const double fb = *std::max_element(eb.begin(), eb.end()) * 1e-6;
      for (size_t b = 0; b < ea.size(); ++b)
        if (ea[b] > fa || eb[b] > fb) errs.push_back(std::fabs(10 * std::log10((eb[b] + 1e-30) / (ea[b] + 1e-30))));
    }
  }
  if (errs.empty()) return st;
  std::sort(errs.begin(), errs.end());
  st.bands = errs.size();
  st.p99 = errs[std::min(errs.size() - 1, static_cast<size_t>(0.99 * errs.size()))];
  st.max = errs.back();
  return st;
}
