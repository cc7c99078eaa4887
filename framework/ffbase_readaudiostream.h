// The generic audio read stream: the host's IKvReadAudioStream and the
// framework's IStreamInfo over one IAudioDecoder that the plug-in creates.
// Formats and lengths are loaded once, on first demand; reads are serialised
// with the stream's mutex.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include "ffbase_interfaces.h"
#include "kvfileio.h"
#include "sync.h"

namespace ffbase {

// Asked of a stream by the file that made it: answers the framework stream
// object itself (a counted reference), so that the file can detach itself.
inline constexpr IID IID_BaseReadAudioStreamObject = {0x3d0b6f52, 0x8e1a, 0x4c37, {0x9b, 0x64, 0x51, 0x2e, 0xa8, 0x0c, 0x7d, 0x19}};

class BaseReadAudioStream : public IKvReadAudioStream, public IStreamInfo {
 public:
  explicit BaseReadAudioStream(IKvReadFile* owner);
  virtual ~BaseReadAudioStream();
  BaseReadAudioStream(const BaseReadAudioStream&) = delete;
  BaseReadAudioStream& operator=(const BaseReadAudioStream&) = delete;

  // IUnknown (both faces)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IKvReadStream
  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) override;
  IKvReadFile* STDMETHODCALLTYPE GetReadFile() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE GetStreamFlags(DWORD* flags) override;
  HRESULT STDMETHODCALLTYPE GetStreamType(DWORD* type, DWORD* subIndex, DWORD* reserved) override;
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
  HRESULT STDMETHODCALLTYPE GetStartTime(LONGLONG* start) override;
  HRESULT STDMETHODCALLTYPE SetUserValue(DWORD value) override;
  HRESULT STDMETHODCALLTYPE Close() override;

  // IKvReadAudioStream
  HRESULT STDMETHODCALLTYPE GetSampleCount(LONGLONG* frames) override;
  HRESULT STDMETHODCALLTYPE GetBlockAlign(DWORD* blockAlign) override;
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override;
  HRESULT STDMETHODCALLTYPE GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const _KVFILESTREAMFORMATINFOv2* info) override;
  HRESULT STDMETHODCALLTYPE ReadSamples(LONGLONG firstSample, _kvmemorytoken buffer, LONG count,
                                        LONG* done) override;
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR) override { return S_OK; }

  // IStreamInfo
  HRESULT STDMETHODCALLTYPE GetInfoText(wchar_t* buf, int cch, UINT id) override;
  HRESULT STDMETHODCALLTYPE GetInfoValue(void* buf, DWORD cb, UINT id) override;
  HRESULT STDMETHODCALLTYPE SetStreamParam(DWORD) override { return S_OK; }

  // The plug-in's part.
  virtual const char* CodecId() = 0;
  virtual HRESULT CreateDecoder(IAudioDecoder** out) = 0;

  // Creates (when needed) and opens the decoder on the owner's path.
  virtual HRESULT OpenDecoder();
  // Loads and caches the formats and lengths.
  virtual HRESULT LoadFormat();

  // The owning file is going away: the stream no longer refers to it (a
  // stream the host still holds answers E_UNEXPECTED where it needs the file).
  void DetachOwner();

 protected:
  volatile LONG refCount_;
  IKvReadFile* owner_;  // kept without a reference
  DWORD userValue_;
  fileutil::Mutex mutex_;
  bool formatLoaded_;
  WAVEFORMATEX sourceFormat_;
  WAVEFORMATEX pcmFormat_;
  LONGLONG sampleCount_;
  LONGLONG duration_;
  IAudioDecoder* decoder_;
};

}  // namespace ffbase
