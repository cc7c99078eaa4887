// The render road's sample reader.
#include "ffbase_audiosamplereader.h"

#include <cstring>
#include <new>

#include "kvaudio.h"
#include "kvtemplate.h"

namespace ffbase {

namespace {

}  // namespace

AudioSampleReader::AudioSampleReader()
    : progress_(nullptr),
      source_(nullptr),
      position_(0),
      sourceBlockAlign_(0),
      chain_(nullptr),
      rawBlock_(nullptr),
      rawSize_(0),
      fillPointer_(nullptr),
      fillRemaining_(0),
      outputPointer_(nullptr),
      outputAvailable_(0),
      sourceEnded_(false) {
  std::memset(&sourceFormat_, 0, sizeof sourceFormat_);
  std::memset(&targetFormat_, 0, sizeof targetFormat_);
}

AudioSampleReader::~AudioSampleReader() {
  delete chain_;
  delete[] rawBlock_;
}

HRESULT AudioSampleReader::GetLength(LONGLONG* frames) {
  if (!source_) return E_FAIL;
  if (!frames) return E_INVALIDARG;
  return source_->GetSampleCount(frames);
}

HRESULT AudioSampleReader::Init(IUnknown* progress, IKvReadAudioStream* source) {
  progress_ = progress;
  source_ = source;
  position_ = 0;
  outputAvailable_ = 0;
  sourceEnded_ = false;
  if (!source) return E_INVALIDARG;
  HRESULT hr = source->GetBlockAlign(&sourceBlockAlign_);
  if (FAILED(hr)) return hr;
  LONGLONG length = 0;
  hr = source->GetSampleCount(&length);
  if (FAILED(hr)) return hr;
  if (progress) return static_cast<IRenderProgressSink*>(progress)->Begin(0, length);
  return S_OK;
}

HRESULT AudioSampleReader::SetOutputFormat(const WAVEFORMATEX* target) {
  if (!source_ || !target) return E_FAIL;
  targetFormat_ = *target;
  targetFormat_.cbSize = 0;
  _KVFILESTREAMFORMATINFOv2 info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  HRESULT hr = source_->GetSourceFormatInfo(&info);
  if (FAILED(hr)) return hr;
  _kvwaveformat_wfxcopyhelper wfx(*reinterpret_cast<const _kvwaveformat*>(info.format));
  sourceFormat_ = wfx.wfx;
  sourceFormat_.cbSize = 0;
  // The stream's frame size must be the one of the format it names, or the
  // converters would read the blocks wrong.
  if (sourceBlockAlign_ == 0 || sourceFormat_.nBlockAlign != sourceBlockAlign_ || targetFormat_.nBlockAlign == 0)
    return E_FAIL;
  // Blocks of about 16384 target frames' worth of bytes, cut to whole source
  // frames so that a read never asks for less than one frame.
  DWORD frames = (DWORD(targetFormat_.nBlockAlign) << kSampleReaderBlockShift) / sourceBlockAlign_;
  if (frames == 0) frames = 1;
  delete chain_;
  chain_ = CreateAudioConverterChain(frames, targetFormat_, sourceFormat_);
  if (!chain_) return E_FAIL;
  delete[] rawBlock_;
  rawSize_ = frames * sourceBlockAlign_;
  rawBlock_ = new (std::nothrow) BYTE[rawSize_];
  if (!rawBlock_) {
    delete chain_;
    chain_ = nullptr;
    return E_OUTOFMEMORY;
  }
  std::memset(rawBlock_, 0, rawSize_);
  fillPointer_ = rawBlock_;
  fillRemaining_ = rawSize_;
  outputPointer_ = nullptr;
  outputAvailable_ = 0;
  return hr;
}

HRESULT AudioSampleReader::ReadSource() {
  fillRemaining_ = rawSize_;
  fillPointer_ = rawBlock_;
  if (rawSize_ == 0) return S_OK;
  HRESULT hr = S_OK;
  // Stops at the end of the block, at a result other than S_OK, or when the
  // source delivers nothing (a source that answers S_OK with no frames would
  // otherwise be asked forever).
  while (fillRemaining_ >= sourceBlockAlign_) {
    _kvmemorytoken token;
    std::memset(&token, 0, sizeof token);
    token.base = reinterpret_cast<DWORD_PTR>(fillPointer_);
    token.size = fillRemaining_;
    token.size2 = fillRemaining_;
    token.ownerProcessId = GetCurrentProcessId();
    const LONG wanted = static_cast<LONG>(fillRemaining_ / sourceBlockAlign_);
    LONG done = 0;
    hr = source_->ReadSamples(static_cast<LONGLONG>(position_), token, wanted, &done);
    if (done < 0 || done > wanted) return E_FAIL;
    fillPointer_ += DWORD(done) * sourceBlockAlign_;
    fillRemaining_ -= DWORD(done) * sourceBlockAlign_;
    position_ += ULONGLONG(done);
    if (hr != S_OK) break;
    if (done == 0) {
      hr = S_FALSE;
      break;
    }
  }
  return hr;
}

HRESULT AudioSampleReader::Refill() {
  HRESULT hr = ReadSource();
  const DWORD filled = (rawSize_ - fillRemaining_) / (sourceBlockAlign_ ? sourceBlockAlign_ : 1);
  DWORD framesOut = 0;
  outputPointer_ = nullptr;
  if (SUCCEEDED(hr) && filled > 0) {
    outputPointer_ = static_cast<const BYTE*>(CAudioConverter::RunChain(chain_, rawBlock_, filled, &framesOut));
    if (!outputPointer_) {
      outputAvailable_ = 0;
      return E_FAIL;
    }
  }
  outputAvailable_ = targetFormat_.nBlockAlign * framesOut;
  if (hr != S_OK) sourceEnded_ = true;
  return hr;
}

HRESULT AudioSampleReader::Read(void* buffer, DWORD frames, DWORD* framesRead) {
  if (!framesRead) return E_INVALIDARG;
  *framesRead = 0;
  if (!chain_ || !rawBlock_) return E_FAIL;
  if (frames && !buffer) return E_INVALIDARG;
  const uint64_t wanted64 = uint64_t(targetFormat_.nBlockAlign) * frames;
  if (wanted64 > 0x7FFFFFFF) return E_INVALIDARG;
  const DWORD wanted = DWORD(wanted64);
  DWORD copied = 0;
  HRESULT r = S_OK;
  BYTE* out = static_cast<BYTE*>(buffer);
  while (copied < wanted) {
    if (outputAvailable_ == 0) {
      // Once the source has ended nothing more comes.
      if (sourceEnded_) break;
      r = Refill();
      if (FAILED(r)) break;
      if (outputAvailable_ == 0) {
        if (r == S_OK) continue;
        break;
      }
    }
    const DWORD n = wanted - copied < outputAvailable_ ? wanted - copied : outputAvailable_;
    std::memcpy(out + copied, outputPointer_, n);
    copied += n;
    outputPointer_ += n;
    outputAvailable_ -= n;
  }
  *framesRead = copied / targetFormat_.nBlockAlign;
  if (FAILED(r)) return r;
  r = (copied > 0 || outputAvailable_ > 0) ? S_OK : S_FALSE;
  if (r != S_OK) return r;
  if (progress_) {
    HRESULT p = static_cast<IRenderProgressSink*>(progress_)->Position(static_cast<LONGLONG>(position_));
    if (FAILED(p)) return KV_E_CANCELLED;
    return p;
  }
  return S_OK;
}

}  // namespace ffbase
