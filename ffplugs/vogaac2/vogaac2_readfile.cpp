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

// The metadata reader of the file. Until the file's tags are read, it is the
// empty reader: every face answers as for a file without metadata.
HRESULT STDMETHODCALLTYPE VogAacReadFile::GetReadMeta(IKvReadMeta** meta) {
  if (!meta) return E_INVALIDARG;
  *meta = nullptr;
  VogAacReadMeta* reader = new (std::nothrow) VogAacReadMeta();
  if (!reader) return E_OUTOFMEMORY;
  reader->AddRef();
  HRESULT hr = reader->QueryInterface(IID_IKvReadMeta, reinterpret_cast<void**>(meta));
  reader->Release();
  return hr;
}
