// The SBR encoder of one channel element (a single channel or a channel
// pair): from the full-rate input it measures the spectral envelope above the
// crossover in the 64-band QMF domain, decides the time grid of each frame,
// estimates the noise floor and the inverse filtering the decoder should
// apply, and writes the frame's SBR payload (sbr_extension_data: the header
// when due, then the element's data) for the core's fill element.
//
// Frames are 2048 input samples per channel, in the scale of 16-bit sample
// values. The payload of a frame describes the same stretch of signal as the
// core frame it rides in: the SBR interface (mp4sbr_ifc) feeds the SBR
// encoder its input delayed by the core's delay.
#pragma once

#include <cstdint>

enum {
  kSbrEncFrameLength = 2048,
  kSbrEncSlots = 32,          // QMF slots of 64 samples per frame
  kSbrEncMaxPayloadBytes = 256,
  kSbrEncOk = 0,
  kSbrEncFailed = 1,
};

struct SbrEncoderConfig {
  int32_t sampleRate;  // input rate, Hz (the core runs at half of it)
  int32_t channels;    // 1 or 2
  int32_t bitRate;     // bit/s of the element (core and SBR)
  // 1: startFreq is the header's start index, in place of the tuning's (the
  // stop index is then chosen for it); 0: the tuning chooses both.
  int32_t fixedStart;
  int32_t startFreq;
};

// The start index (0-15) the tuning picks for an element at a rate, or -1
// when the configuration is out of the encoder's range.
int32_t sbrTuningStartFreq(const SbrEncoderConfig* config);

// The header values a tuning picks; readable for the tests and the tool.
struct SbrEncoderSettings {
  int32_t startFreq, stopFreq;  // header indices
  int32_t ampRes;               // 0: 1.5 dB, 1: 3 dB steps
  int32_t k0, k2;               // first and end QMF band of the SBR range
  int32_t crossoverHz, stopHz;
  int32_t nHigh, nLow, nNoise;  // band counts of the tables
  int32_t headerPeriod;         // frames between two headers
};

struct SbrEncoder;

int sbrEncoderOpen(SbrEncoder** out, const SbrEncoderConfig* config);
void sbrEncoderClose(SbrEncoder* enc);
void sbrEncoderGetSettings(const SbrEncoder* enc, SbrEncoderSettings* settings);

// One frame: 2048 samples per channel, interleaved with `stride` values per
// sample period (channel c at offset c). Writes the payload bits, MSB first,
// into out (kSbrEncMaxPayloadBytes) and their count into *bits. Non-finite
// input counts as silence.
int sbrEncoderEncodeFrame(SbrEncoder* enc, const float* input, int32_t stride, uint8_t* out, int32_t* bits);

// One frame of a single-channel element whose input is already in the QMF
// domain: kSbrEncSlots rows of 64 subband values of the 64-band analysis
// (the parametric-stereo downmix), aligned as sbrEncoderEncodeFrame's
// delayed input would be. psData (psBits bits, MSB first) is the frame's
// parametric-stereo data, sent in the payload's extended data.
int sbrEncoderEncodeQmfFrame(SbrEncoder* enc, float* const* re, float* const* im, const uint8_t* psData,
                             int32_t psBits, uint8_t* out, int32_t* bits);
