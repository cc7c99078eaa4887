// The parametric-stereo encoder of HE-AAC v2. It takes the two input
// channels into the 64-band QMF domain, mixes them down to one channel there
// (keeping each band's energy at the mean of the two channels'), and
// measures per parameter band and frame how the channels differ: their level
// difference and their coherence, quantised to the decoder's grids and coded
// as ps_data for the SBR payload's extended data.
//
// It also stands in for the 2:1 converter of plain HE-AAC: a 32-band QMF
// synthesis of the downmix's lower half gives the core its half-rate mono
// input, and the SBR encoder works on the downmix's QMF slots directly.
//
// Timing: the SBR and stereo parameters sent with a core frame must describe
// the signal that frame decodes to. The encoder measures each frame a fixed
// number of slots behind the newest it has analysed (the newer ones serve as
// the measurements' look-ahead); the rest of the lag (whole frames, from the
// core's delay and the banks between the encoder's downmix and the decoder's
// QMF domain) is the caller's: the SBR interface keeps the payloads in its
// ring and holds the core's input back.
//
// Frames are 2048 input samples per channel, in the scale of 16-bit sample
// values.
#pragma once

#include <cstdint>

enum {
  kPsEncFrameLength = 2048,
  kPsEncCoreFrameLength = 1024,
  kPsEncSlots = 32,
  kPsEncBands = 64,
  kPsEncMaxBytes = 64,  // ps_data of one frame, at most
  kPsEncOk = 0,
  kPsEncFailed = 1,
};

struct PsEncoderConfig {
  int32_t sampleRate;  // input rate, Hz
  int32_t bitRate;     // bit/s of the whole stream: picks 10 or 20 parameter bands
};

struct PsEncoder;

int psEncoderOpen(PsEncoder** out, const PsEncoderConfig* config);
void psEncoderClose(PsEncoder* enc);

// Input samples (full rate) from the encoder's input to the core's input:
// the 64-band analysis and the 32-band synthesis.
int32_t psEncoderDelay(const PsEncoder* enc);
// Input samples by which the frame the parameters describe trails the newest
// input analysed, less the lag of a 32-band synthesis and the decoder's
// 32-band analysis between the core's input and the decoder's QMF domain:
// the part of the alignment the encoder does itself.
int32_t psEncoderLag(const PsEncoder* enc);
// Parameter bands the encoder sends (10 or 20).
int32_t psEncoderParameterBands(const PsEncoder* enc);

struct PsEncoderFrame {
  // The core's input: 1024 half-rate samples of the downmix.
  const float* core;
  // The downmix's QMF slots of the frame that the parameters describe, for
  // the SBR encoder: kPsEncSlots rows of kPsEncBands values, in the 64-band
  // analysis bank's scale.
  float* const* re;
  float* const* im;
  // ps_data, MSB first, and its length in bits.
  const uint8_t* data;
  int32_t bits;
};

// One frame: 2048 samples of each channel, read every `stride` floats from
// left and right. withHeader
// sends the stereo header (band counts and the tools on) and codes every
// parameter without reference to an earlier frame, so that a decoder can
// start there. Non-finite input counts as silence. The frame's results stay
// valid until the next call.
int psEncoderEncodeFrame(PsEncoder* enc, const float* left, const float* right, int32_t stride, bool withHeader,
                         PsEncoderFrame* frame);

// The quantisation and coding steps, for the tests: the index of the level
// difference grid (normal resolution, -7..7) nearest to dB, and of the
// coherence grid (0..7) nearest to rho.
int psQuantiseIid(double dB);
int psQuantiseIcc(double rho);
