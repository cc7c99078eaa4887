// The generic read file and its stream collection.
#include "ffbase_readfile.h"

#include <cstring>
#include <new>

#include "ffbase_plugintext.h"
#include "ffbase_readaudiostream.h"
#include "ffbase_streamformat.h"
#include "kvcomobject.h"
#include "kvprintf.h"
#include "kvstr.h"

namespace ffbase {

namespace {
const IID kVideoStreamId = {0x68efe083, 0x5f0c, 0x4415, {0x93, 0x34, 0xf6, 0xce, 0x84, 0x48, 0x78, 0x29}};
}  // namespace

// ---------------------------------------------------------------------------
// ReadStreams

ReadStreams::~ReadStreams() { ReleaseAll(); }

HRESULT ReadStreams::FindStream(void** out, REFIID iid, UINT* index) {
  if (streams_.empty()) return E_FAIL;
  HRESULT hr = E_NOINTERFACE;
  for (auto& entry : streams_) {
    hr = entry.second->QueryInterface(iid, out);
    if (SUCCEEDED(hr)) {
      if (index) *index = entry.first;
      return hr;
    }
  }
  return hr;
}

HRESULT ReadStreams::CloseAll() {
  HRESULT hr = S_OK;
  for (auto& entry : streams_) hr = entry.second->Close();
  streams_.clear();
  return hr;
}

HRESULT ReadStreams::ReleaseAll() {
  std::map<UINT, IKvReadStream*> streams;
  streams.swap(streams_);
  for (auto& entry : streams) {
    entry.second->Close();
    entry.second->Release();
  }
  return S_OK;
}

HRESULT ReadStreams::SetStream(IKvReadStream* stream, UINT index) {
  auto it = streams_.find(index);
  if (it == streams_.end()) {
    if (!stream) return S_OK;
    streams_[index] = stream;
    stream->AddRef();
    return S_OK;
  }
  IKvReadStream* old = it->second;
  if (stream) {
    stream->AddRef();
    it->second = stream;
  } else {
    streams_.erase(it);
  }
  old->Release();
  return S_OK;
}

HRESULT ReadStreams::GetStream(IKvReadStream** out, UINT index) {
  auto it = streams_.find(index);
  if (it == streams_.end()) return E_UNEXPECTED;
  if (!out) return E_INVALIDARG;
  it->second->AddRef();
  *out = it->second;
  return S_OK;
}

HRESULT ReadStreams::FindAudioStream(void** out, UINT* index) { return FindStream(out, IID_IKvReadAudioStream, index); }

HRESULT ReadStreams::FindVideoStream(void** out, UINT* index) { return FindStream(out, kVideoStreamId, index); }

HRESULT ReadStreams::GetCount(UINT* out) {
  if (!out) return E_INVALIDARG;
  *out = static_cast<UINT>(streams_.size());
  return S_OK;
}

// ---------------------------------------------------------------------------
// BaseReadFile

BaseReadFile::BaseReadFile(IKvReadFileClass* owner)
    : refCount_(0), ownerClass_(owner), streams_(new (std::nothrow) ReadStreams()) {
  path_[0] = 0;
}

BaseReadFile::~BaseReadFile() {
  // Streams the host still holds must not refer to this file any more.
  if (streams_) {
    streams_->ForEachStream([](IKvReadStream* stream) {
      BaseReadAudioStream* object = nullptr;
      if (SUCCEEDED(stream->QueryInterface(IID_BaseReadAudioStreamObject, reinterpret_cast<void**>(&object))) &&
          object) {
        object->DetachOwner();
        object->Release();
      }
    });
  }
  delete streams_;
  streams_ = nullptr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::QueryInterface(REFIID riid, void** ppv) {
  IKvReadFile* self = this;
  return kvcom::QueryFaces(this, riid, ppv, {{IID_IKvReadFile, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE BaseReadFile::AddRef() { return kvcom::AddRefCount(refCount_); }

ULONG STDMETHODCALLTYPE BaseReadFile::Release() { return kvcom::ReleaseRef(this, refCount_); }

UINT BaseReadFile::StreamCount() {
  UINT count = 0;
  if (FAILED(GetStreamCount(&count))) return 0;
  return count;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetReadFileClass(IKvReadFileClass** owner) {
  if (!ownerClass_) return S_FALSE;
  if (!owner) return E_INVALIDARG;
  ownerClass_->AddRef();
  *owner = ownerClass_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetInfoText(wchar_t* buf, int cch, UINT id) {
  if (!buf || cch < 1) return E_INVALIDARG;
  buf[0] = 0;
  if (id == 1) {
    KvStrCpyNLen(buf, GetPluginText(0), cch);
    return S_OK;
  }
  if (id == 2) {
    LONGLONG total = 0;
    HRESULT hr = GetTotalBitRate(&total);
    if (FAILED(hr)) return hr;
    wchar_t text[512];
    text[0] = 0;
    KvPrintFN(text, 512, GetPluginText(7), static_cast<int>(total / 1000));
    KvStrCpyNLen(buf, text, cch);
    return hr;
  }
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetStreamInfoText(wchar_t* buf, int cch, UINT stream, UINT id) {
  return AskStreamInfo(stream, [&](IStreamInfo* info) { return info->GetInfoText(buf, cch, id); });
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetInfoValue(void* buf, DWORD cb, UINT id) {
  if (id != 1 || !buf || cb < 8) return S_FALSE;
  LONGLONG total = 0;
  HRESULT hr = GetTotalBitRate(&total);
  LONGLONG value = SUCCEEDED(hr) ? total / 8 : 0;
  std::memcpy(buf, &value, sizeof value);
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetStreamInfoValue(void* buf, DWORD cb, UINT stream, UINT id) {
  return AskStreamInfo(stream, [&](IStreamInfo* info) { return info->GetInfoValue(buf, cb, id); });
}

HRESULT STDMETHODCALLTYPE BaseReadFile::Close() {
  if (!streams_) return E_OUTOFMEMORY;
  streams_->ReleaseAll();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::IsOpen() {
  UINT count = 0;
  if (!streams_ || FAILED(streams_->GetCount(&count))) return S_FALSE;
  return count > 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::Open(DWORD, DWORD) {
  UINT count = StreamCount();
  for (UINT i = 0; i < count; ++i) {
    IKvReadStream* stream = nullptr;
    HRESULT hr = GetStream(&stream, i);
    if (FAILED(hr)) return hr;
    if (!stream) return E_FAIL;
    stream->Release();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::SetPath(const wchar_t* path) {
  if (!path) return E_INVALIDARG;
  // A longer path is refused rather than cut to another file's name.
  if (KvStrLen(path) >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  KvStrCpyNLen(path_, path, MAX_PATH);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetPath(wchar_t* buf, int cch) {
  if (cch < 1) return S_OK;
  if (!buf) return E_INVALIDARG;
  KvStrCpyNLen(buf, path_, cch);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetDuration(LONGLONG* duration) {
  if (!duration) return E_INVALIDARG;
  UINT count = StreamCount();
  if (count == 0) return E_FAIL;
  HRESULT hr = E_FAIL;
  LONGLONG longest = 0;
  bool any = false;
  for (UINT i = 0; i < count; ++i) {
    IKvReadStream* stream = nullptr;
    hr = GetStream(&stream, i);
    if (FAILED(hr)) return hr;
    if (!stream) return E_FAIL;
    LONGLONG value = 0;
    hr = stream->GetDuration(&value);
    stream->Release();
    if (SUCCEEDED(hr) && (!any || value > longest)) {
      longest = value;
      any = true;
    }
  }
  if (any) *duration = longest;
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetStreamTypes(DWORD* mask) {
  UINT count = StreamCount();
  if (count == 0) return E_FAIL;
  HRESULT hr = E_FAIL;
  for (UINT i = 0; i < count; ++i) {
    IKvReadStream* stream = nullptr;
    hr = GetStream(&stream, i);
    if (FAILED(hr)) return hr;
    if (!stream) return E_FAIL;
    DWORD type = 0, sub = 0, reserved = 0;
    hr = stream->GetStreamType(&type, &sub, &reserved);
    if (SUCCEEDED(hr)) {
      if (mask)
        *mask |= type;
      else
        hr = E_INVALIDARG;
    }
    stream->Release();
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* records, UINT first,
                                                            UINT count) {
  const UINT streams = StreamCount();
  // A range past the streams, or starting past them, is an argument error; an
  // empty range inside them is a failure.
  if (static_cast<ULONGLONG>(first) + count > streams || first >= streams) return E_INVALIDARG;
  if (count == 0) return E_FAIL;
  if (!records) return E_INVALIDARG;
  BYTE* record = reinterpret_cast<BYTE*>(records);
  HRESULT hr = S_OK;
  for (UINT index = first; index < first + count; ++index, record += kKvFileStreamFormatInfoV2Size) {
    IStreamInfo* info = nullptr;
    hr = GetStreamInfo(&info, index);
    if (FAILED(hr) || !info) return E_FAIL;
    // Exactly one record is cleared: the caller's array is 184 bytes a step.
    std::memset(record, 0, kKvFileStreamFormatInfoV2Size);
    DWORD size = kKvFileStreamFormatInfoV2Size;
    std::memcpy(record, &size, sizeof size);
    hr = info->GetStreamFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(record));
    info->Release();
    if (FAILED(hr)) return hr;
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetStreamType(UINT stream, DWORD* type, DWORD* subIndex) {
  if (stream >= StreamCount()) return E_FAIL;
  IKvReadStream* s = nullptr;
  HRESULT hr = GetStream(&s, stream);
  if (FAILED(hr)) return hr;
  if (!s) return E_FAIL;
  DWORD reserved = 0;
  hr = s->GetStreamType(type, subIndex, &reserved);
  s->Release();
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::FindStreamIndex(DWORD, DWORD type, UINT* index) {
  UINT count = StreamCount();
  DWORD seen = 0;
  for (UINT i = 0; i < count; ++i) {
    IKvReadStream* stream = nullptr;
    HRESULT hr = GetStream(&stream, i);
    if (FAILED(hr) || !stream) return E_FAIL;
    DWORD t = 0, sub = 0, reserved = 0;
    hr = stream->GetStreamType(&t, &sub, &reserved);
    stream->Release();
    if (FAILED(hr)) return hr;
    if (t == type) {
      if (seen == sub) {
        if (!index) return E_INVALIDARG;
        *index = i;
        return S_OK;
      }
      ++seen;
    }
  }
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::GetStreamByType(IKvReadStream** out, DWORD typeMask, DWORD, DWORD, DWORD) {
  if (!out) return E_INVALIDARG;
  UINT count = StreamCount();
  DWORD seen = 0;
  for (UINT i = 0; i < count; ++i) {
    IKvReadStream* stream = nullptr;
    HRESULT hr = GetStream(&stream, i);
    if (FAILED(hr)) return hr;
    if (!stream) return E_FAIL;
    DWORD t = 0, sub = 0, reserved = 0;
    hr = stream->GetStreamType(&t, &sub, &reserved);
    if (SUCCEEDED(hr) && (t & typeMask) != 0 && seen == sub) {
      *out = stream;
      return S_OK;
    }
    stream->Release();
    ++seen;
  }
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::SetStreamParam(UINT stream, DWORD, DWORD value) {
  if (stream >= StreamCount()) return E_FAIL;
  IStreamInfo* info = nullptr;
  HRESULT hr = GetStreamInfo(&info, stream);
  if (FAILED(hr)) return hr;
  if (!info) return E_FAIL;
  hr = info->SetStreamParam(value);
  info->Release();
  return hr;
}

HRESULT STDMETHODCALLTYPE BaseReadFile::Reserved23(void** out, DWORD, DWORD) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT BaseReadFile::GetStream(IKvReadStream** out, UINT index) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!streams_) return E_OUTOFMEMORY;
  if (SUCCEEDED(streams_->GetStream(out, index)) && *out) return S_OK;
  HRESULT hr = CreateStream(out, index);
  if (FAILED(hr)) return hr;
  if (!*out) return E_FAIL;
  hr = streams_->SetStream(*out, index);
  if (FAILED(hr)) {
    (*out)->Release();
    *out = nullptr;
  }
  return hr;
}

HRESULT BaseReadFile::GetStreamInfo(IStreamInfo** out, UINT index) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  IKvReadStream* stream = nullptr;
  HRESULT hr = GetStream(&stream, index);
  if (FAILED(hr)) return hr;
  if (!stream) return E_FAIL;
  hr = stream->QueryInterface(IID_IStreamInfo, reinterpret_cast<void**>(out));
  stream->Release();
  return hr;
}

HRESULT BaseReadFile::GetTotalBitRate(LONGLONG* out) {
  if (!out) return E_INVALIDARG;
  *out = 0;
  HRESULT hr = S_OK;
  UINT count = StreamCount();
  for (UINT i = 0; i < count; ++i) {
    IStreamInfo* info = nullptr;
    hr = GetStreamInfo(&info, i);
    if (FAILED(hr) || !info) continue;
    LONGLONG value = 0;
    hr = info->GetInfoValue(&value, 8, 2);
    info->Release();
    if (SUCCEEDED(hr)) *out += value;
  }
  return hr;
}

}  // namespace ffbase
