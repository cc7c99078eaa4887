// The AAC plug-in's read file.
#include "vogaac2_readfile.h"

#include <new>

#include "vogaac2_readaudiostream.h"
#include "vogaac2_readmeta.h"

HRESULT STDMETHODCALLTYPE VogAacReadFile::GetStreamCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 1;
  return S_OK;
}

HRESULT VogAacReadFile::CreateStream(IKvReadStream** out, UINT) {
  if (!out) return E_INVALIDARG;
  VgAacReadAudioStream* stream = new (std::nothrow) VgAacReadAudioStream(this);
  if (!stream) return E_OUTOFMEMORY;
  stream->AddRef();
  *out = static_cast<IKvReadAudioStream*>(stream);
  return S_OK;
}

// The metadata reader of the file, loaded with the file's tags (a file whose
// tags cannot be read gives a reader without metadata).
HRESULT STDMETHODCALLTYPE VogAacReadFile::GetReadMeta(IKvReadMeta** meta) {
  if (!meta) return E_INVALIDARG;
  *meta = nullptr;
  VogAacReadMeta* reader = new (std::nothrow) VogAacReadMeta();
  if (!reader) return E_OUTOFMEMORY;
  reader->AddRef();
  HRESULT hr = reader->Load(path_);
  if (SUCCEEDED(hr)) hr = reader->QueryInterface(IID_IKvReadMeta, reinterpret_cast<void**>(meta));
  reader->Release();
  return hr;
}
