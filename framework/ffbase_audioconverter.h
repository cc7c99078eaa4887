// The format-converter chain of the render road: links that change the
// channel count, the sample rate and the sample format of interleaved PCM,
// each with one output buffer allocated once. A reduction of channels comes
// before resampling, an increase after it, and the sample-format conversion
// last.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include "kvaudio.h"

struct tKVRESAMPLEINSTANCE;

namespace ffbase {

class CAudioConverter {
 public:
  virtual ~CAudioConverter();
  CAudioConverter(const CAudioConverter&) = delete;
  CAudioConverter& operator=(const CAudioConverter&) = delete;

  // Converts `frames` input frames (at most MaxInputFrames) into the link's
  // output buffer; null when the conversion failed.
  virtual const void* Convert(const void* in, DWORD frames, DWORD* framesOut) = 0;

  // Runs every link from `head` on; null when a link failed. Without links the
  // input is passed on unchanged.
  static const void* RunChain(CAudioConverter* head, const void* in, DWORD frames, DWORD* framesOut);

  const WAVEFORMATEX& InputFormat() const { return inputFormat; }
  const WAVEFORMATEX& OutputFormat() const { return outputFormat; }
  DWORD MaxInputFrames() const { return maxInputFrames; }
  DWORD MaxOutputFrames() const { return maxOutputFrames; }
  DWORD OutputSize() const { return outputSize; }

  CAudioConverter* next = nullptr;  // owned: destroying a link destroys the rest

 protected:
  // `input` is the previous link's output format; `maxFrames` the most input
  // frames one call takes. The output format starts as the input format.
  CAudioConverter(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames);
  // Allocates the output buffer for `outFrames` frames of the output format.
  bool AllocateOutput(DWORD outFrames);

  WAVEFORMATEX targetFormat;
  WAVEFORMATEX inputFormat;
  WAVEFORMATEX outputFormat;
  BYTE* outputBuffer = nullptr;
  DWORD outputSize = 0;
  DWORD maxInputFrames = 0;
  DWORD maxOutputFrames = 0;
};

class CAudioPassThrough : public CAudioConverter {
 public:
  CAudioPassThrough(const WAVEFORMATEX& target, const WAVEFORMATEX& source, DWORD maxFrames, bool* ok);
  const void* Convert(const void* in, DWORD frames, DWORD* framesOut) override;
};

// Fewer channels. To one channel: the mean of all channels. To two or more
// channels D from S: output channel c = (D x input c + the sum of the input
// channels D..S-1) / S, so that every input channel weighs the same in the
// mix, the channels beyond the target count are shared equally by all output
// channels, and the mix cannot clip.
class CAudioChannelAverage : public CAudioConverter {
 public:
  CAudioChannelAverage(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames, bool* ok);
  ~CAudioChannelAverage() override;
  const void* Convert(const void* in, DWORD frames, DWORD* framesOut) override;

 private:
  double* mix_ = nullptr;  // two or more output channels: the block as doubles
  tKvAudioCopyFunc toDouble_ = nullptr;
  tKvAudioCopyFunc fromDouble_ = nullptr;
};

class CAudioResample : public CAudioConverter {
 public:
  CAudioResample(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames, bool* ok);
  ~CAudioResample() override;
  const void* Convert(const void* in, DWORD frames, DWORD* framesOut) override;

 private:
  tKVRESAMPLEINSTANCE* instance_ = nullptr;
};

// More channels: from one channel only (the one channel is copied to all).
class CAudioChannelChange : public CAudioConverter {
 public:
  CAudioChannelChange(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames, bool* ok);
  const void* Convert(const void* in, DWORD frames, DWORD* framesOut) override;
};

class CAudioBitDepth : public CAudioConverter {
 public:
  CAudioBitDepth(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames, bool* ok);
  const void* Convert(const void* in, DWORD frames, DWORD* framesOut) override;

 private:
  tKvAudioCopyFunc copy_ = nullptr;
};

// Builds the chain from `source` to `target` for blocks of up to `maxFrames`
// source frames. Null when a link cannot be made: memory short, a format the
// kernels do not handle, or a channel increase from more than one channel.
CAudioConverter* CreateAudioConverterChain(DWORD maxFrames, const WAVEFORMATEX& target, const WAVEFORMATEX& source);

}  // namespace ffbase
