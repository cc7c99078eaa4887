// The format-converter chain.
#include "ffbase_audioconverter.h"

#include <cstring>
#include <new>

#include "kvresample.h"

namespace ffbase {

namespace {

// The resampler's mode: linear interpolation (with the anti-alias low-pass for
// float and double).
const DWORD kResampleMode = 2;
// Frames the resampler may write beyond floor(frames x ratio) in one call.
const DWORD kResampleSlack = 2;

bool UsableFormat(const WAVEFORMATEX& f) {
  return f.nChannels > 0 && f.nSamplesPerSec > 0 && f.nBlockAlign > 0 && f.nBlockAlign % f.nChannels == 0;
}

}  // namespace

CAudioConverter::CAudioConverter(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames)
    : targetFormat(target), inputFormat(input), outputFormat(input), maxInputFrames(maxFrames) {
  targetFormat.cbSize = 0;
  inputFormat.cbSize = 0;
  outputFormat.cbSize = 0;
}

CAudioConverter::~CAudioConverter() {
  delete[] outputBuffer;
  delete next;
}

bool CAudioConverter::AllocateOutput(DWORD outFrames) {
  const uint64_t bytes = uint64_t(outFrames) * outputFormat.nBlockAlign;
  if (bytes == 0 || bytes > 0x7FFFFFFF) return false;
  outputBuffer = new (std::nothrow) BYTE[size_t(bytes)];
  if (!outputBuffer) return false;
  outputSize = DWORD(bytes);
  maxOutputFrames = outFrames;
  return true;
}

const void* CAudioConverter::RunChain(CAudioConverter* head, const void* in, DWORD frames, DWORD* framesOut) {
  const void* data = in;
  DWORD count = frames;
  for (CAudioConverter* link = head; link && data; link = link->next) data = link->Convert(data, count, &count);
  *framesOut = data ? count : 0;
  return data;
}

// ---------------------------------------------------------------------------

CAudioPassThrough::CAudioPassThrough(const WAVEFORMATEX& target, const WAVEFORMATEX& source, DWORD maxFrames,
                                     bool* ok)
    : CAudioConverter(target, source, maxFrames) {
  *ok = AllocateOutput(maxFrames);
}

const void* CAudioPassThrough::Convert(const void* in, DWORD frames, DWORD* framesOut) {
  if (frames > maxInputFrames) return nullptr;
  std::memcpy(outputBuffer, in, size_t(frames) * inputFormat.nBlockAlign);
  *framesOut = frames;
  return outputBuffer;
}

// ---------------------------------------------------------------------------

CAudioChannelAverage::CAudioChannelAverage(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames,
                                           bool* ok)
    : CAudioConverter(target, input, maxFrames) {
  *ok = false;
  outputFormat.nChannels = target.nChannels;
  outputFormat.nBlockAlign = WORD(input.nBlockAlign / input.nChannels * target.nChannels);
  outputFormat.nAvgBytesPerSec = outputFormat.nBlockAlign * outputFormat.nSamplesPerSec;
  if (target.nChannels == 0 || target.nChannels >= input.nChannels) return;
  if (target.nChannels >= 2) {
    // The library's average goes to one channel only: wider mixes go through
    // doubles with the library's sample conversions.
    const KVSAMPLETYPE type = KvAudio_GetSampleType(&input);
    toDouble_ = KvAudio_GetCopyFunction2(KVST_DOUBLE, type);
    fromDouble_ = KvAudio_GetCopyFunction2(type, KVST_DOUBLE);
    if (!toDouble_ || !fromDouble_) return;
    mix_ = new (std::nothrow) double[size_t(maxFrames) * input.nChannels];
    if (!mix_) return;
  }
  *ok = AllocateOutput(maxFrames);
}

CAudioChannelAverage::~CAudioChannelAverage() { delete[] mix_; }

const void* CAudioChannelAverage::Convert(const void* in, DWORD frames, DWORD* framesOut) {
  if (frames > maxInputFrames) return nullptr;
  *framesOut = frames;
  if (!mix_) {
    if (FAILED(KvAudio_ChannelChangeAvg(outputBuffer, outputFormat.nChannels, in, &inputFormat, int32_t(frames))))
      return nullptr;
    return outputBuffer;
  }
  const DWORD S = inputFormat.nChannels;
  const DWORD D = outputFormat.nChannels;
  toDouble_(mix_, in, int32_t(frames * S), 1.0f);
  // In place: output frame i (D values) lies at or before input frame i.
  for (DWORD i = 0; i < frames; ++i) {
    const double* f = mix_ + size_t(i) * S;
    double extra = 0.0;
    for (DWORD c = D; c < S; ++c) extra += f[c];
    double* o = mix_ + size_t(i) * D;
    double out[256];
    for (DWORD c = 0; c < D; ++c) out[c] = (D * f[c] + extra) / S;
    for (DWORD c = 0; c < D; ++c) o[c] = out[c];
  }
  fromDouble_(outputBuffer, mix_, int32_t(frames * D), 1.0f);
  return outputBuffer;
}

// ---------------------------------------------------------------------------

CAudioResample::CAudioResample(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames, bool* ok)
    : CAudioConverter(target, input, maxFrames) {
  *ok = false;
  outputFormat.nSamplesPerSec = target.nSamplesPerSec;
  outputFormat.nAvgBytesPerSec = outputFormat.nBlockAlign * outputFormat.nSamplesPerSec;
  if (FAILED(KvAudio_ResampleOpen(&instance_, KvAudio_GetSampleType(&inputFormat), int32_t(input.nSamplesPerSec),
                                  int32_t(target.nSamplesPerSec), input.nChannels, kResampleMode)) ||
      !instance_)
    return;
  // The buffer holds what the largest input block can give at this ratio.
  const uint64_t outFrames =
      uint64_t(maxFrames) * target.nSamplesPerSec / input.nSamplesPerSec + 1 + kResampleSlack;
  if (outFrames > 0x7FFFFFFF) return;
  *ok = AllocateOutput(DWORD(outFrames));
}

CAudioResample::~CAudioResample() {
  if (instance_) KvAudio_ResampleClose(instance_);
}

const void* CAudioResample::Convert(const void* in, DWORD frames, DWORD* framesOut) {
  if (frames > maxInputFrames) return nullptr;
  const int64_t made = KvAudio_ResampleEx(instance_, outputBuffer, in, int32_t(frames));
  if (made < 0 || uint64_t(made) > maxOutputFrames) return nullptr;
  *framesOut = DWORD(made);
  return outputBuffer;
}

// ---------------------------------------------------------------------------

CAudioChannelChange::CAudioChannelChange(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames,
                                         bool* ok)
    : CAudioConverter(target, input, maxFrames) {
  *ok = false;
  outputFormat.nChannels = target.nChannels;
  outputFormat.nBlockAlign = WORD(input.nBlockAlign / input.nChannels * target.nChannels);
  outputFormat.nAvgBytesPerSec = outputFormat.nBlockAlign * outputFormat.nSamplesPerSec;
  // The library spreads one channel over many; other increases have no rule.
  if (input.nChannels != 1 || target.nChannels <= 1) return;
  *ok = AllocateOutput(maxFrames);
}

const void* CAudioChannelChange::Convert(const void* in, DWORD frames, DWORD* framesOut) {
  if (frames > maxInputFrames) return nullptr;
  if (FAILED(KvAudio_ChannelChange(outputBuffer, outputFormat.nChannels, in, &inputFormat, int32_t(frames))))
    return nullptr;
  *framesOut = frames;
  return outputBuffer;
}

// ---------------------------------------------------------------------------

CAudioBitDepth::CAudioBitDepth(const WAVEFORMATEX& target, const WAVEFORMATEX& input, DWORD maxFrames, bool* ok)
    : CAudioConverter(target, input, maxFrames) {
  *ok = false;
  outputFormat.wFormatTag = target.wFormatTag;
  outputFormat.nBlockAlign = target.nBlockAlign;
  outputFormat.wBitsPerSample = target.wBitsPerSample;
  outputFormat.nAvgBytesPerSec = outputFormat.nBlockAlign * outputFormat.nSamplesPerSec;
  if (target.nChannels != input.nChannels) return;
  copy_ = KvAudio_GetCopyFunction(&targetFormat, &inputFormat);
  if (!copy_) return;
  *ok = AllocateOutput(maxFrames);
}

const void* CAudioBitDepth::Convert(const void* in, DWORD frames, DWORD* framesOut) {
  if (frames > maxInputFrames) return nullptr;
  copy_(outputBuffer, in, int32_t(frames * inputFormat.nChannels), 1.0f);
  *framesOut = frames;
  return outputBuffer;
}

// ---------------------------------------------------------------------------

namespace {

// Appends a link of class Link after `tail`; false when it cannot be made.
template <class Link>
bool Append(CAudioConverter*& tail, const WAVEFORMATEX& target) {
  bool ok = false;
  Link* link = new (std::nothrow) Link(target, tail->OutputFormat(), tail->MaxOutputFrames(), &ok);
  if (!link) return false;
  if (!ok) {
    delete link;
    return false;
  }
  tail->next = link;
  tail = link;
  return true;
}

}  // namespace

CAudioConverter* CreateAudioConverterChain(DWORD maxFrames, const WAVEFORMATEX& target, const WAVEFORMATEX& source) {
  if (!UsableFormat(target) || !UsableFormat(source) || maxFrames == 0) return nullptr;
  if (target.nChannels > 256 || source.nChannels > 256) return nullptr;
  bool ok = false;
  CAudioConverter* head = new (std::nothrow) CAudioPassThrough(target, source, maxFrames, &ok);
  if (!head) return nullptr;
  if (!ok) {
    delete head;
    return nullptr;
  }
  CAudioConverter* tail = head;
  bool built = true;
  if (target.nChannels < source.nChannels) built = Append<CAudioChannelAverage>(tail, target);
  if (built && target.nSamplesPerSec != source.nSamplesPerSec) built = Append<CAudioResample>(tail, target);
  if (built && target.nChannels > source.nChannels) built = Append<CAudioChannelChange>(tail, target);
  if (built && (target.wBitsPerSample != source.wBitsPerSample || target.wFormatTag != source.wFormatTag))
    built = Append<CAudioBitDepth>(tail, target);
  if (!built) {
    delete head;
    return nullptr;
  }
  // With real links the pass-through copy is not needed.
  if (head->next) {
    CAudioConverter* second = head->next;
    head->next = nullptr;
    delete head;
    head = second;
  }
  return head;
}

}  // namespace ffbase
