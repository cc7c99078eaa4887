// Stand-ins for the host's side of a render: an audio stream that serves a
// byte block in one PCM format through same-process memory tokens, and a
// progress sink that records its calls and can refuse (the user's cancel).
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstring>
#include <utility>
#include <vector>

#include "kvfileio.h"
#include "kvtemplate.h"

// The host's audio stream, serving a byte block in one format. Reads answer
// S_FALSE at the end with fewer frames than asked, and S_OK with no frames for
// a count of 0. `zeroForever` makes every read answer S_OK with no frames.
class StandInStream : public IKvReadAudioStream {
 public:
  StandInStream(std::vector<BYTE> data, const WAVEFORMATEX& format) : data_(std::move(data)), format_(format) {}
  // Lives on the caller's stack: references are not counted.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IKvReadAudioStream) || IsEqualGUID(riid, IID_IKvReadStream) ||
        IsEqualGUID(riid, IID_IUnknown)) {
      *ppv = static_cast<IKvReadAudioStream*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass**) override { return E_NOTIMPL; }
  IKvReadFile* STDMETHODCALLTYPE GetReadFile() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE GetStreamFlags(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStreamType(DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStartTime(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetUserValue(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSampleCount(LONGLONG* frames) override {
    *frames = LONGLONG(data_.size() / format_.nBlockAlign);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBlockAlign(DWORD* blockAlign) override {
    *blockAlign = format_.nBlockAlign;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override {
    LONGLONG frames = 0;
    GetSampleCount(&frames);
    return KvFio_SetStreamFormatInfo(info, &format_, nullptr, frames);
  }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const _KVFILESTREAMFORMATINFOv2*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadSamples(LONGLONG first, _kvmemorytoken token, LONG count, LONG* done) override {
    ++reads;
    *done = 0;
    if (zeroForever) return S_OK;
    if (token.ownerProcessId != GetCurrentProcessId() || token.isMapping || token.size != token.size2) return E_FAIL;
    if (count < 0 || DWORD(count) * format_.nBlockAlign > token.size) return E_INVALIDARG;
    if (count == 0) return S_OK;
    if (first != position) return E_FAIL;  // the reader reads in order
    const LONGLONG total = LONGLONG(data_.size() / format_.nBlockAlign);
    LONG n = count;
    if (first + n > total) n = LONG(total - first);
    BYTE* dst = reinterpret_cast<BYTE*>(UINT_PTR(token.base) + token.offset);
    std::memcpy(dst, data_.data() + size_t(first) * format_.nBlockAlign, size_t(n) * format_.nBlockAlign);
    *done = n;
    position += n;
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR) override { return E_NOTIMPL; }

  bool zeroForever = false;
  int reads = 0;
  LONGLONG position = 0;

 private:
  std::vector<BYTE> data_;
  WAVEFORMATEX format_;
};

// The host's progress sink (slots 3 and 6); refuses from call `cancelAt` on.
struct ProgressSink : public IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  virtual HRESULT STDMETHODCALLTYPE Begin(DWORD reserved, LONGLONG total) {
    begins.push_back(total);
    beginReserved = reserved;
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE Slot4() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Slot5() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Position(LONGLONG position) {
    positions.push_back(position);
    return int(positions.size()) >= cancelAt ? E_ABORT : S_OK;
  }
  std::vector<LONGLONG> begins;
  DWORD beginReserved = 99;
  std::vector<LONGLONG> positions;
  int cancelAt = 1 << 30;
};
