// Render templates from files and streams, and the render class's part in
// loading them.
#include <cstdlib>
#include <cstring>

#include "kvtemplate_internal.h"
#include "kvtemplate_io.h"

using namespace kvtemplate;

namespace {

// A stream as the loaders' byte source.
class StreamSource : public ByteSource {
 public:
  explicit StreamSource(IStream* stream) : stream_(stream) {}
  HRESULT Read(void* dst, DWORD n, DWORD* got) override {
    ULONG done = 0;
    HRESULT hr = stream_->Read(dst, n, &done);
    *got = done;
    return FAILED(hr) ? hr : S_OK;
  }

 private:
  IStream* stream_;
};

constexpr ULONGLONG kFileLimit = 0x100000000ull;  // 4 GiB
constexpr DWORD kReadChunk = 1u << 24;

// The template GUID of a lifted V1 record: its CRC with the V1 mark.
GUID LiftedTemplateId(const tagKVTEMPLATExV2* t) {
  GUID id = {KvFio_GetTemplateDataCRC32(t, FALSE), 0, 0x1010, {0x80, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00}};
  return id;
}

}  // namespace

HRESULT KVAPI KvFio_LoadTemplateData(tagKVTEMPLATExV2** out, HANDLE file) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!file || file == INVALID_HANDLE_VALUE) return E_INVALIDARG;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return KV_E_READ;
  if (size.QuadPart <= 0 || static_cast<ULONGLONG>(size.QuadPart) >= kFileLimit) return KV_E_CORRUPT;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return KV_E_READ;
  const DWORD bytes = static_cast<DWORD>(size.QuadPart);
  // Never less than the declared record, so that every field is addressable.
  BYTE* buffer = static_cast<BYTE*>(std::calloc(1, bytes < kKvTemplateBasicSize ? kKvTemplateBasicSize : bytes));
  if (!buffer) return E_OUTOFMEMORY;
  DWORD total = 0;
  while (total < bytes) {
    DWORD want = bytes - total < kReadChunk ? bytes - total : kReadChunk;
    DWORD got = 0;
    if (!ReadFile(file, buffer + total, want, &got, nullptr)) {
      std::free(buffer);
      return KV_E_READ;
    }
    if (got == 0) break;
    total += got;
  }
  HRESULT hr = CheckFileImage(buffer, total);
  if (FAILED(hr)) {
    std::free(buffer);
    return hr;
  }
  *out = reinterpret_cast<tagKVTEMPLATExV2*>(buffer);
  return S_OK;
}

HRESULT KVAPI KvFio_LoadTemplateData(tagKVTEMPLATExV2** out, IStream* stream, DWORD maxVersion,
                                     IKvRenderFileClass* renderClass) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!stream) return E_INVALIDARG;
  StreamSource source(stream);
  tagKVTEMPLATExV2* t = nullptr;
  bool wasV1 = false;
  HRESULT hr = LoadRecord(&t, source, maxVersion, &wasV1);
  if (FAILED(hr)) return hr;
  if (wasV1 && t->cbCodecBlock != 0 && renderClass) {
    GUID owner;
    if (SUCCEEDED(renderClass->GetRendererGuid(&owner))) t->guidOwner = owner;
    t->guidTemplate = LiftedTemplateId(t);
    void* converted = nullptr;
    HRESULT c = renderClass->ConvertTemplate(&converted, reinterpret_cast<DWORD_PTR>(t), 1);
    if (c != E_NOTIMPL) {
      if (FAILED(c)) {
        std::free(t);
        return c;
      }
      if (converted && converted != t) {
        std::free(t);
        t = static_cast<tagKVTEMPLATExV2*>(converted);
      }
    }
  }
  *out = t;
  return hr;
}

HRESULT KVAPI KvFio_LoadTemplateDataV1(KVTEMPLATExV1* v1, IStream* stream, DWORD maxVersion, BOOL headerRead) {
  if (!v1 || !stream) return E_INVALIDARG;
  StreamSource source(stream);
  return ReadV1(v1, source, maxVersion, headerRead != FALSE);
}

HRESULT KVAPI KvFio_LoadRawUserTemplate(IKvRenderFileClass* renderClass, const wchar_t* path,
                                        tagKVTEMPLATExV2** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!path) return E_INVALIDARG;
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return KV_E_OPEN;
  tagKVTEMPLATExV2* t = nullptr;
  HRESULT hr = KvFio_LoadTemplateData(&t, file);
  CloseHandle(file);
  if (FAILED(hr)) return hr;
  const DWORD major = t->dwVersion >> 24;
  if (major > 2) {
    // A later record form is not a V2 record: nobody here may read it as one.
    std::free(t);
    return KV_E_CORRUPT;
  }
  if (major == 1) {
    IStream* stream = nullptr;
    hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (SUCCEEDED(hr)) {
      ULONG written = 0;
      hr = stream->Write(t, t->cbSize, &written);
      if (SUCCEEDED(hr) && written != t->cbSize) hr = KV_E_READ;
      LARGE_INTEGER zero = {};
      if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
      std::free(t);
      t = nullptr;
      if (SUCCEEDED(hr)) hr = KvFio_LoadTemplateData(&t, stream, kKvTemplateVersion2, renderClass);
      stream->Release();
    } else {
      std::free(t);
      t = nullptr;
    }
    if (FAILED(hr)) return hr;
  }
  *out = t;
  return S_OK;
}

// No rule places a render class's legacy template folder: the path cannot be
// built.
HRESULT KVAPI KvFio_LoadRawLegacyTemplate(IKvRenderFileClass* renderClass, long index, tagKVTEMPLATExV2** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return E_UNEXPECTED;
}

HRESULT KVAPI KvFio_MakeProjectDefaultTemplate(IKvRenderFileClass* renderClass, const tagKVTEMPLATExV2* tmpl,
                                               tagKVTEMPLATExV2** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!renderClass) return E_INVALIDARG;
  void* converted = nullptr;
  HRESULT hr = renderClass->ConvertTemplate(&converted, reinterpret_cast<DWORD_PTR>(tmpl), 2);
  *out = static_cast<tagKVTEMPLATExV2*>(converted);
  return hr;
}

void KVAPI KvFio_ReleaseTemplate(IKvDizuVOMgrForApp*, tagKVTEMPLATExV2* tmpl) { KvFio_ReleaseTemplate(tmpl); }
void KVAPI KvFio_ReleaseTemplate(IKvRenderFileClass*, tagKVTEMPLATExV2* tmpl) { KvFio_ReleaseTemplate(tmpl); }

HRESULT KVAPI KvFio_AddTemplatesToListFromIStream(tKVLIST* list, IStream* stream) {
  if (!list || !stream) return E_INVALIDARG;
  const bool allocated = (list->options & KVLIST_ALLOCATED_ITEMS) != 0;
  if (!allocated && list->stride != sizeof(void*)) return E_INVALIDARG;
  LARGE_INTEGER zero = {};
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  DWORD header[3] = {};
  ULONG got = 0;
  hr = stream->Read(header, sizeof header, &got);
  if (FAILED(hr)) return hr;
  if (got < sizeof header) return KV_E_CORRUPT;
  for (DWORD i = 0; i < header[2]; ++i) {
    tagKVTEMPLATExV2* t = nullptr;
    hr = KvFio_LoadTemplateData(&t, stream, kKvTemplateVersion2, nullptr);
    if (FAILED(hr)) return hr;
    if (allocated) {
      hr = KvList_AllocAndInsertItem(list, t, t->cbSize, list->count, nullptr);
      std::free(t);
    } else {
      hr = KvList_InsertList(list, list->count, &t, 1);
      if (FAILED(hr)) std::free(t);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
