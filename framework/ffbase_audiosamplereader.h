// The sample reader of the render road: pulls large raw blocks from the host's
// audio stream (in the host's format, through same-process memory tokens),
// converts them with the format-converter chain to the format the compressor
// asked for, hands out converted frames on demand and reports progress to the
// host's progress sink.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include "ffbase_audioconverter.h"
#include "ffbase_interfaces.h"

namespace ffbase {

// The host's progress sink as the reader calls it: slot 3 once with the total
// frame count, slot 6 with the source position after each read (a failure
// there is the user's cancel). The sink's other slots are the host's.
struct IRenderProgressSink : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Begin(DWORD reserved, LONGLONG totalFrames) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE HostSlot4() = 0;                                 // 4
  virtual HRESULT STDMETHODCALLTYPE HostSlot5() = 0;                                 // 5
  virtual HRESULT STDMETHODCALLTYPE Position(LONGLONG position) = 0;                 // 6
};

// Target frames' worth of bytes read from the host at a time (as a shift).
const DWORD kSampleReaderBlockShift = 14;

class AudioSampleReader : public IAudioSampleReader {
 public:
  AudioSampleReader();
  ~AudioSampleReader() override;
  AudioSampleReader(const AudioSampleReader&) = delete;
  AudioSampleReader& operator=(const AudioSampleReader&) = delete;

  HRESULT GetLength(LONGLONG* frames) override;
  HRESULT Read(void* buffer, DWORD frames, DWORD* framesRead) override;
  HRESULT SetOutputFormat(const WAVEFORMATEX* target) override;

  // Keeps both (neither is counted); the sink may be null.
  HRESULT Init(IUnknown* progress, IKvReadAudioStream* source);
  HRESULT ReadSource();
  HRESULT Refill();

  // The head of the converter chain (for inspection).
  const CAudioConverter* Chain() const { return chain_; }
  const WAVEFORMATEX& SourceFormat() const { return sourceFormat_; }

 private:
  IUnknown* progress_;
  IKvReadAudioStream* source_;
  ULONGLONG position_;
  DWORD sourceBlockAlign_;
  WAVEFORMATEX sourceFormat_;
  WAVEFORMATEX targetFormat_;
  CAudioConverter* chain_;
  BYTE* rawBlock_;
  DWORD rawSize_;
  BYTE* fillPointer_;
  DWORD fillRemaining_;
  const BYTE* outputPointer_;
  DWORD outputAvailable_;
  bool sourceEnded_;
};

}  // namespace ffbase
