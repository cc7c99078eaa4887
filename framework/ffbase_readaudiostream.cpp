// The generic audio read stream.
#include "ffbase_readaudiostream.h"

#include <cstring>

#include "ffbase_plugintext.h"
#include "ffbase_streamformat.h"
#include "kvcomobject.h"
#include "kvmemorytoken.h"
#include "kvprintf.h"
#include "kvstr.h"

namespace ffbase {

BaseReadAudioStream::BaseReadAudioStream(IKvReadFile* owner)
    : refCount_(0),
      owner_(owner),
      userValue_(0),
      formatLoaded_(false),
      sourceFormat_(),
      pcmFormat_(),
      sampleCount_(0),
      duration_(0),
      decoder_(nullptr) {}

BaseReadAudioStream::~BaseReadAudioStream() {
  delete decoder_;
  decoder_ = nullptr;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::QueryInterface(REFIID riid, void** ppv) {
  IKvReadAudioStream* primary = this;
  const std::initializer_list<kvcom::Face> faces = {{IID_IKvReadAudioStream, primary},
                                                    {IID_IKvReadStream, primary},
                                                    {IID_IUnknown, primary},
                                                    {IID_IStreamInfo, static_cast<IStreamInfo*>(this)},
                                                    {IID_BaseReadAudioStreamObject, this}};
  // A null ppv asks whether the stream answers an id: S_OK for its own ids,
  // and no reference is added.
  if (!ppv) return kvcom::FindFace(riid, faces) ? S_OK : E_NOINTERFACE;
  return kvcom::QueryFaces(this, riid, ppv, faces);
}

ULONG STDMETHODCALLTYPE BaseReadAudioStream::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG STDMETHODCALLTYPE BaseReadAudioStream::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetReadFileClass(IKvReadFileClass** owner) {
  fileutil::MutexLock lock(mutex_);
  if (!owner_) return E_UNEXPECTED;
  return owner_->GetReadFileClass(owner);
}

void BaseReadAudioStream::DetachOwner() {
  fileutil::MutexLock lock(mutex_);
  owner_ = nullptr;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetStreamFlags(DWORD* flags) {
  if (!flags) return E_INVALIDARG;
  *flags = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetStreamType(DWORD* type, DWORD* subIndex, DWORD* reserved) {
  if (type) *type = 1;
  if (subIndex) *subIndex = 0;
  if (reserved) *reserved = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetDuration(LONGLONG* duration) {
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  if (!duration) return E_INVALIDARG;
  *duration = duration_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetStartTime(LONGLONG* start) {
  if (!start) return E_INVALIDARG;
  *start = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::SetUserValue(DWORD value) {
  userValue_ = value;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::Close() {
  fileutil::MutexLock lock(mutex_);
  return decoder_ ? decoder_->Close() : S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetSampleCount(LONGLONG* frames) {
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  if (!frames) return E_INVALIDARG;
  *frames = sampleCount_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetBlockAlign(DWORD* blockAlign) {
  if (!blockAlign) return E_INVALIDARG;
  // The decoder exists only once the format is loaded.
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  *blockAlign = pcmFormat_.nBlockAlign;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) {
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  return SetAudioStreamFormatInfo(info, &pcmFormat_, sampleCount_);
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) {
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  return SetAudioStreamFormatInfo(info, &sourceFormat_, sampleCount_);
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::IsFormatSupported(const _KVFILESTREAMFORMATINFOv2* info) {
  LoadFormat();
  if (!info) return E_INVALIDARG;
  if (IsEmptyStreamFormat(info)) return S_OK;
  return StreamFormatEquals(info, &pcmFormat_) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::ReadSamples(LONGLONG firstSample, _kvmemorytoken buffer, LONG count,
                                                           LONG* done) {
  if (!done) return E_POINTER;
  *done = 0;
  if (count < 0 || firstSample < 0) return E_INVALIDARG;
  if (count == 0) return S_OK;
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  const DWORD blockAlign = pcmFormat_.nBlockAlign;
  if (blockAlign == 0) return E_FAIL;

  CMappingOfKvMemoryToken mapping(buffer, 0);
  BYTE* destination = static_cast<BYTE*>(mapping.Pointer());
  if (!destination) return E_FAIL;  // the host's buffer cannot be reached: nothing is decoded
  // Never more frames than the host's buffer holds.
  LONG room = mapping.DataSize() / static_cast<LONG>(blockAlign);
  LONG remaining = count < room ? count : room;

  LONG total = 0;
  HRESULT result = S_OK;
  {
    fileutil::MutexLock lock(mutex_);
    LONGLONG position = firstSample;
    while (remaining > 0) {
      DWORD got = 0;
      result = decoder_->Read(position, destination, static_cast<DWORD>(remaining), &got);
      if (FAILED(result)) break;
      if (got > static_cast<DWORD>(remaining)) got = static_cast<DWORD>(remaining);
      total += static_cast<LONG>(got);
      position += got;
      remaining -= static_cast<LONG>(got);
      destination += static_cast<size_t>(got) * blockAlign;
      if (result != S_OK) break;  // S_FALSE: the end of the track
      if (got == 0) {             // nothing more can be had
        result = S_FALSE;
        break;
      }
    }
  }
  // A private copy goes back to the owner process here; if it cannot, the
  // host got nothing.
  HRESULT disposed = mapping.Dispose();
  if (FAILED(result)) return result;
  if (FAILED(disposed)) return disposed;
  *done = total;
  return result;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetInfoText(wchar_t* buf, int cch, UINT id) {
  LoadFormat();
  if (!buf || cch < 1) return E_INVALIDARG;
  buf[0] = 0;
  int kbps = static_cast<int>(static_cast<ULONGLONG>(sourceFormat_.nAvgBytesPerSec) * 8 / 1000);
  wchar_t text[512];
  text[0] = 0;
  if (id == 2) {
    const wchar_t* channels = GetPluginText(sourceFormat_.nChannels == 1 ? 3 : 4);
    KvPrintFN(text, 512, GetPluginText(2), kbps, static_cast<long>(sourceFormat_.nSamplesPerSec), channels);
  } else if (id == 1) {
    if (sourceFormat_.nAvgBytesPerSec != 0)
      KvPrintFN(text, 512, GetPluginText(7), kbps);
    else
      KvStrCpyNLen(text, GetPluginText(6), 512);
  } else {
    return S_FALSE;
  }
  KvStrCpyNLen(buf, text, cch);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadAudioStream::GetInfoValue(void* buf, DWORD cb, UINT id) {
  HRESULT hr = LoadFormat();
  if (FAILED(hr)) return hr;
  if (id != 2) return S_FALSE;
  if (buf && cb == 8) {
    LONGLONG kbps = static_cast<LONGLONG>(static_cast<ULONGLONG>(sourceFormat_.nAvgBytesPerSec) * 8 / 1000);
    std::memcpy(buf, &kbps, sizeof kbps);
  }
  return hr;
}

HRESULT BaseReadAudioStream::OpenDecoder() {
  if (!decoder_) {
    IAudioDecoder* created = nullptr;
    HRESULT hr = CreateDecoder(&created);
    if (FAILED(hr)) return hr;
    if (!created) return E_OUTOFMEMORY;
    decoder_ = created;
  }
  if (!owner_) return E_UNEXPECTED;
  wchar_t path[MAX_PATH];
  path[0] = 0;
  HRESULT hr = owner_->GetPath(path, MAX_PATH);
  if (FAILED(hr)) return hr;
  hr = decoder_->SetPath(path);
  if (FAILED(hr)) return hr;
  return decoder_->Open();
}

HRESULT BaseReadAudioStream::LoadFormat() {
  // Under the stream's lock, so that concurrent first queries load once.
  fileutil::MutexLock lock(mutex_);
  if (formatLoaded_) return S_OK;
  HRESULT hr = OpenDecoder();
  if (FAILED(hr)) return hr;
  bool wasOpen = decoder_->IsOpen();
  if (!wasOpen) {
    hr = decoder_->Open();
    if (FAILED(hr)) return hr;
  }
  WAVEFORMATEX* p = nullptr;
  hr = decoder_->GetSourceFormat(&p);
  if (FAILED(hr)) return hr;
  if (p) std::memcpy(&sourceFormat_, p, sizeof sourceFormat_);
  p = nullptr;
  hr = decoder_->GetOutputFormat(&p);
  if (FAILED(hr)) return hr;
  if (p) std::memcpy(&pcmFormat_, p, sizeof pcmFormat_);
  hr = decoder_->GetSampleCount(&sampleCount_);
  if (FAILED(hr)) return hr;
  hr = decoder_->GetDuration(&duration_);
  if (FAILED(hr)) return hr;
  formatLoaded_ = true;
  if (!wasOpen) decoder_->Close();
  return S_OK;
}

}  // namespace ffbase
