// The MP4 audio decoder.
#include "ffbase_mpeg4audiodecoder.h"

#include <cstring>
#include <new>

#include "boxreader.h"

namespace ffbase {

namespace {
const uint64_t kNoBlock = UINT64_MAX;
const uint32_t kFileBufferSize = 4096;
}  // namespace

Mpeg4AudioDecoder::Mpeg4AudioDecoder(IAudioDecompressor* decompressor)
    : decompressor_(decompressor),
      boxes_(nullptr),
      track_(nullptr),
      sourceFormat_(),
      pcmFormat_(),
      blockStart_(kNoBlock),
      totalFrames_(0),
      blockFrames_(0),
      scaleFrames_(1),
      scaleMedia_(1) {}

Mpeg4AudioDecoder::~Mpeg4AudioDecoder() {
  delete decompressor_;
  decompressor_ = nullptr;
  Close();
  file_.close();
}

bool Mpeg4AudioDecoder::IsOpen() { return file_.is_open() && boxes_ != nullptr; }

HRESULT Mpeg4AudioDecoder::GetOutputFormat(WAVEFORMATEX** format) {
  if (!format) return E_INVALIDARG;
  *format = &pcmFormat_;
  return S_OK;
}

HRESULT Mpeg4AudioDecoder::GetSourceFormat(WAVEFORMATEX** format) {
  if (!format) return E_INVALIDARG;
  *format = &sourceFormat_;
  return S_OK;
}

HRESULT Mpeg4AudioDecoder::GetSampleCount(LONGLONG* frames) {
  if (!frames) return E_INVALIDARG;
  *frames = static_cast<LONGLONG>(totalFrames_);
  return S_OK;
}

HRESULT Mpeg4AudioDecoder::GetByteRate(LONGLONG* bytesPerSecond) {
  if (!bytesPerSecond) return E_INVALIDARG;
  *bytesPerSecond = track_ ? static_cast<LONGLONG>(track_->GetAverageBitrate() / 8) : 0;
  return S_OK;
}

HRESULT Mpeg4AudioDecoder::GetDuration(LONGLONG* duration) {
  LONGLONG frames = 0;
  GetSampleCount(&frames);
  if (!duration) return E_INVALIDARG;
  if (pcmFormat_.nSamplesPerSec == 0) return E_FAIL;
  *duration = static_cast<LONGLONG>(static_cast<uint64_t>(frames) * 10000000ull / pcmFormat_.nSamplesPerSec);
  return S_OK;
}

HRESULT Mpeg4AudioDecoder::SetPath(const wchar_t* path) {
  if (!path) return E_INVALIDARG;
  path_ = path;
  return S_OK;
}

uint64_t Mpeg4AudioDecoder::MediaToFrames(uint64_t t) const { return t / scaleMedia_ * scaleFrames_ + (t % scaleMedia_) * scaleFrames_ / scaleMedia_; }

uint64_t Mpeg4AudioDecoder::FramesToMedia(uint64_t f) const { return f / scaleFrames_ * scaleMedia_ + (f % scaleFrames_) * scaleMedia_ / scaleFrames_; }

void Mpeg4AudioDecoder::InvalidateCache() {
  blockStart_ = kNoBlock;
  blockFrames_ = 0;
}

HRESULT Mpeg4AudioDecoder::DecodeCurrent(uint64_t unitStart) {
  DWORD frames = 0;
  HRESULT hr = decompressor_->Decode(&pcm_, track_, &frames);
  if (FAILED(hr)) {
    InvalidateCache();
    return hr;
  }
  // The cache never claims more frames than the bytes it holds.
  const DWORD align = pcmFormat_.nBlockAlign;
  if (align == 0 || static_cast<uint64_t>(frames) * align > pcm_.size()) {
    InvalidateCache();
    return E_FAIL;
  }
  blockStart_ = unitStart;
  blockFrames_ = frames;
  return hr;
}

HRESULT Mpeg4AudioDecoder::Open() {
  // A reopening starts from a clean state: the previous tree and track go.
  Close();
  InvalidateCache();
  scaleFrames_ = scaleMedia_ = 1;
  totalFrames_ = 0;
  if (!decompressor_) return E_UNEXPECTED;

  file_.clear();
  file_.open(path_.c_str(), kFileBufferSize, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!file_.is_open()) return E_FAIL;

  {
    fileutil::BoxReader reader(file_);
    boxes_ = reader.ReadAllBoxes();
  }
  if (!boxes_) {
    file_.close();
    return E_FAIL;
  }
  track_ = new (std::nothrow) fileutil::TrackReader(*boxes_, file_);
  if (!track_) {
    fileutil::DeleteBoxList(boxes_);
    boxes_ = nullptr;
    file_.close();
    return E_OUTOFMEMORY;
  }
  if (!track_->Init()) return E_FAIL;

  WORD tag = 0;
  decompressor_->GetFormatTag(&tag);
  std::memset(&sourceFormat_, 0, sizeof sourceFormat_);
  sourceFormat_.wFormatTag = tag;
  sourceFormat_.nChannels = track_->GetChannelCount();
  sourceFormat_.nSamplesPerSec = track_->GetSampleRate();
  sourceFormat_.wBitsPerSample = track_->GetSampleSize();
  sourceFormat_.nAvgBytesPerSec = static_cast<DWORD>(track_->GetAverageBitrate() / 8);
  sourceFormat_.nBlockAlign = static_cast<WORD>(sourceFormat_.nChannels * sourceFormat_.wBitsPerSample / 8);

  // The decoded samples are 16-bit whatever the sample entry's size field says.
  std::memset(&pcmFormat_, 0, sizeof pcmFormat_);
  pcmFormat_.wFormatTag = WAVE_FORMAT_PCM;
  pcmFormat_.nChannels = sourceFormat_.nChannels;
  pcmFormat_.nSamplesPerSec = sourceFormat_.nSamplesPerSec;
  pcmFormat_.wBitsPerSample = 16;
  pcmFormat_.nBlockAlign = static_cast<WORD>(pcmFormat_.nChannels * 2);
  pcmFormat_.nAvgBytesPerSec = pcmFormat_.nBlockAlign * pcmFormat_.nSamplesPerSec;

  uint64_t mediaLength = track_->GetDuration();
  HRESULT hr = decompressor_->Open(&track_->GetDecoderSpecificInfo(), &pcmFormat_);
  if (FAILED(hr)) {
    totalFrames_ = mediaLength;
    return hr;
  }
  // The source tag reflects the configuration just opened.
  if (SUCCEEDED(decompressor_->GetFormatTag(&tag))) sourceFormat_.wFormatTag = tag;

  // The first unit tells what the decoder really delivers: its channel count
  // and how many frames a unit of media time becomes.
  uint64_t firstStart = 0;
  uint32_t firstDelta = 0;
  if (track_->SeekTime(0, firstStart, firstDelta) && firstDelta > 0) {
    DWORD frames = 0;
    if (SUCCEEDED(decompressor_->Decode(&pcm_, track_, &frames)) && frames > 0 && pcm_.size() % (frames * 2ull) == 0) {
      WORD channels = static_cast<WORD>(pcm_.size() / (frames * 2ull));
      if (channels > 0) {
        uint64_t timescale = track_->GetTimescale() ? track_->GetTimescale() : sourceFormat_.nSamplesPerSec;
        pcmFormat_.nChannels = channels;
        pcmFormat_.nBlockAlign = static_cast<WORD>(channels * 2);
        if (frames != firstDelta) {
          scaleFrames_ = frames;
          scaleMedia_ = firstDelta;
          pcmFormat_.nSamplesPerSec = static_cast<DWORD>(timescale * frames / firstDelta);
        } else if (track_->GetTimescale()) {
          pcmFormat_.nSamplesPerSec = track_->GetTimescale();
        }
        pcmFormat_.nAvgBytesPerSec = pcmFormat_.nBlockAlign * pcmFormat_.nSamplesPerSec;
        blockStart_ = 0;
        blockFrames_ = frames;
      }
    }
  }
  totalFrames_ = MediaToFrames(mediaLength);
  return hr;
}

HRESULT Mpeg4AudioDecoder::Close() {
  delete track_;
  track_ = nullptr;
  if (boxes_) fileutil::DeleteBoxList(boxes_);
  boxes_ = nullptr;
  return S_OK;
}

HRESULT Mpeg4AudioDecoder::Read(LONGLONG first, void* dest, DWORD count, DWORD* done) {
  if (!done) return E_INVALIDARG;
  if (first < 0) return E_INVALIDARG;
  if (static_cast<uint64_t>(first) >= totalFrames_) {
    *done = 0;
    return S_FALSE;
  }
  if (!IsOpen()) {
    HRESULT hr = Open();
    if (FAILED(hr)) return hr;
    if (static_cast<uint64_t>(first) >= totalFrames_) {
      *done = 0;
      return S_FALSE;
    }
  }
  if (!track_ || !dest) return E_INVALIDARG;
  const uint64_t position = static_cast<uint64_t>(first);
  const DWORD align = pcmFormat_.nBlockAlign;
  // Never beyond the track's length (the last unit may decode more frames than it lasts).
  uint64_t left = totalFrames_ - position;
  if (count > left) count = static_cast<DWORD>(left);

  HRESULT hr = S_OK;
  if (blockStart_ != kNoBlock && position == blockStart_ + blockFrames_) {
    // Sequential: the next unit starts where the cached one ends.
    if (!track_->NextSample()) {
      InvalidateCache();
      *done = 0;
      return S_FALSE;
    }
    hr = DecodeCurrent(position);
    if (FAILED(hr)) return hr;
    DWORD n = count < blockFrames_ ? count : blockFrames_;
    std::memcpy(dest, pcm_.data(), static_cast<size_t>(n) * align);
    *done = n;
    return hr;
  }

  // Positioned: the unit holding `position`, decoded unless it is the cached one.
  uint64_t unitStartMedia = 0;
  uint32_t unitDelta = 0;
  if (!track_->SeekTime(FramesToMedia(position), unitStartMedia, unitDelta)) {
    InvalidateCache();
    *done = 0;
    return S_FALSE;
  }
  uint64_t unitStart = MediaToFrames(unitStartMedia);
  if (unitStart != blockStart_) {
    hr = DecodeCurrent(unitStart);
    if (FAILED(hr)) return hr;
  } else {
    // The cached unit stays current for the next sequential read.
    hr = S_OK;
  }
  if (unitStart > position) return E_FAIL;
  uint64_t skip = position - unitStart;
  if (skip >= blockFrames_) return E_FAIL;
  uint64_t offset = skip * align;
  if (offset >= pcm_.size()) return E_FAIL;
  DWORD n = count < blockFrames_ - skip ? count : static_cast<DWORD>(blockFrames_ - skip);
  if (static_cast<uint64_t>(n) * align > pcm_.size() - offset) return E_FAIL;
  std::memcpy(dest, pcm_.data() + offset, static_cast<size_t>(n) * align);
  *done = n;
  return S_OK;
}

}  // namespace ffbase
