// The generic read file: IKvReadFile over an ordered collection of streams
// that are created lazily, on first demand, by the plug-in's CreateStream.
#pragma once

#include <windows.h>

#include <map>

#include "ffbase_interfaces.h"
#include "kvfileio.h"

namespace ffbase {

// Streams by index, in ascending index order; each holds one reference.
class ReadStreams {
 public:
  ReadStreams() {}
  virtual ~ReadStreams();
  ReadStreams(const ReadStreams&) = delete;
  ReadStreams& operator=(const ReadStreams&) = delete;

  virtual HRESULT FindStream(void** out, REFIID iid, UINT* index);
  virtual HRESULT CloseAll();
  virtual HRESULT ReleaseAll();
  virtual HRESULT SetStream(IKvReadStream* stream, UINT index);
  virtual HRESULT GetStream(IKvReadStream** out, UINT index);
  virtual HRESULT FindAudioStream(void** out, UINT* index);
  virtual HRESULT FindVideoStream(void** out, UINT* index);
  virtual HRESULT GetCount(UINT* out);

  // Calls f(stream) for every stored stream, in index order.
  template <class F>
  void ForEachStream(F f) {
    for (auto& entry : streams_) f(entry.second);
  }

 private:
  std::map<UINT, IKvReadStream*> streams_;
};

class BaseReadFile : public IKvReadFile {
 public:
  explicit BaseReadFile(IKvReadFileClass* owner);
  virtual ~BaseReadFile();
  BaseReadFile(const BaseReadFile&) = delete;
  BaseReadFile& operator=(const BaseReadFile&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) override;
  HRESULT STDMETHODCALLTYPE GetInfoText(wchar_t* buf, int cch, UINT id) override;
  HRESULT STDMETHODCALLTYPE GetStreamInfoText(wchar_t* buf, int cch, UINT stream, UINT id) override;
  HRESULT STDMETHODCALLTYPE GetInfoValue(void* buf, DWORD cb, UINT id) override;
  HRESULT STDMETHODCALLTYPE GetStreamInfoValue(void* buf, DWORD cb, UINT stream, UINT id) override;
  HRESULT STDMETHODCALLTYPE Clone(IKvReadFile**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE IsOpen() override;
  HRESULT STDMETHODCALLTYPE Open(DWORD access, DWORD share) override;
  HRESULT STDMETHODCALLTYPE SetPath(const wchar_t* path) override;
  HRESULT STDMETHODCALLTYPE GetPath(wchar_t* buf, int cch) override;
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
  HRESULT STDMETHODCALLTYPE GetStreamTypes(DWORD* mask) override;
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* records, UINT first, UINT count) override;
  HRESULT STDMETHODCALLTYPE GetStreamType(UINT stream, DWORD* type, DWORD* subIndex) override;
  HRESULT STDMETHODCALLTYPE FindStreamIndex(DWORD ignored, DWORD type, UINT* index) override;
  HRESULT STDMETHODCALLTYPE GetStreamByType(IKvReadStream** out, DWORD typeMask, DWORD, DWORD, DWORD) override;
  HRESULT STDMETHODCALLTYPE SetStreamParam(UINT stream, DWORD ignored, DWORD value) override;
  HRESULT STDMETHODCALLTYPE Reserved23(void** out, DWORD, DWORD) override;

  // The framework's own.
  virtual HRESULT GetStream(IKvReadStream** out, UINT index);
  virtual HRESULT GetStreamInfo(IStreamInfo** out, UINT index);
  virtual HRESULT CreateStream(IKvReadStream** out, UINT index) = 0;
  virtual HRESULT GetTotalBitRate(LONGLONG* out);

  // False when the stream collection could not be allocated.
  bool IsUsable() const { return streams_ != nullptr; }

 protected:
  UINT StreamCount();
  // Asks ask(info) of the information face of an existing stream.
  template <class Ask>
  HRESULT AskStreamInfo(UINT stream, Ask ask) {
    if (stream >= StreamCount()) return E_FAIL;
    IStreamInfo* info = nullptr;
    HRESULT hr = GetStreamInfo(&info, stream);
    if (FAILED(hr)) return hr;
    if (!info) return E_FAIL;
    hr = ask(info);
    info->Release();
    return hr;
  }

  volatile LONG refCount_;
  wchar_t path_[MAX_PATH];
  IKvReadFileClass* ownerClass_;  // kept without a reference
  ReadStreams* streams_;
};

}  // namespace ffbase
