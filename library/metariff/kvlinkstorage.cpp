// Project links in RIFF and 64-bit RIFF files and from a reader's
// project-link faces.
#include "kvlinkstorage.h"

#include <string.h>

#include "kvbyteorder.h"
#include "kvmemblock.h"
#include "kvriff.h"
#ifdef _WIN32
#include "kverror.h"
#include "kvfmmeta.h"
#include "kvstr.h"
#endif

// Field access for the loaders: they fill buffers, sizes and bits directly.
struct KvLinkProjectAccess {
  static DWORD& Flags(CKvLinkProjectInfo* r) { return r->m_flags; }
  static DWORD& Version(CKvLinkProjectInfo* r) { return r->m_version; }
  static GUID& Guid(CKvLinkProjectInfo* r) { return r->m_rendererGuid; }
  // The pointer and size of a buffer field by its presence bit.
  static bool Field(CKvLinkProjectInfo* r, DWORD bit, void*** ptr, DWORD** size) {
    switch (bit) {
      case KVLINK_PROJECTPATH:
        *ptr = reinterpret_cast<void**>(&r->m_projectPath);
        *size = &r->m_projectPathSize;
        return true;
      case KVLINK_COMMANDLINE:
        *ptr = reinterpret_cast<void**>(&r->m_commandLine);
        *size = &r->m_commandLineSize;
        return true;
      case KVLINK_TEMPLATENAME:
        *ptr = reinterpret_cast<void**>(&r->m_templateName);
        *size = &r->m_templateNameSize;
        return true;
      case KVLINK_TEMPLATEDATA:
        *ptr = &r->m_templateData;
        *size = &r->m_templateDataSize;
        return true;
      case KVLINK_APPTEMPLATEDATA:
        *ptr = &r->m_appTemplateData;
        *size = &r->m_appTemplateDataSize;
        return true;
      case KVLINK_CREATORAPPINFO:
        *ptr = reinterpret_cast<void**>(&r->m_creatorAppInfo);
        *size = &r->m_creatorAppInfoSize;
        return true;
      case KVLINK_CREATORAPPWINDOWCLASSNAME:
        *ptr = reinterpret_cast<void**>(&r->m_creatorAppWindowClassName);
        *size = &r->m_creatorAppWindowClassNameSize;
        return true;
      case KVLINK_PROJECTDATA:
        *ptr = &r->m_projectData;
        *size = &r->m_projectDataSize;
        return true;
      default:
        return false;
    }
  }
};

namespace {

using Access = KvLinkProjectAccess;

constexpr DWORD Four(const char (&s)[5]) { return KVRIFF_FOURCC(s[0], s[1], s[2], s[3]); }

const DWORD kVersionId = Four("splv");
const DWORD kJunk = Four("JUNK");

// The fields in the order they are loaded and saved, with their chunk ids
// and the smallest chunk size that is loaded.
struct FieldChunk {
  DWORD bit;
  DWORD id;
  const GUID* guid;
  DWORD minSize;    // RIFF
  DWORD minSize64;  // 64-bit RIFF
  bool required64;
};

const FieldChunk kFields[] = {
    {KVLINK_PROJECTPATH, Four("splp"), &KVLINK64_PROJECTPATH, 3, 3, true},
    {KVLINK_COMMANDLINE, Four("spcl"), &KVLINK64_COMMANDLINE, 2, 2, true},
    {KVLINK_RENDERERGUID, Four("sprg"), &KVLINK64_RENDERERGUID, 16, 16, false},
    {KVLINK_TEMPLATENAME, Four("srtn"), &KVLINK64_TEMPLATENAME, 1, 1, false},
    {KVLINK_TEMPLATEDATA, Four("srtd"), &KVLINK64_TEMPLATEDATA, 1, 1, false},
    {KVLINK_APPTEMPLATEDATA, Four("srat"), &KVLINK64_APPTEMPLATEDATA, 1, 1, false},
    {KVLINK_CREATORAPPINFO, Four("spca"), &KVLINK64_CREATORAPPINFO, 1, 1, false},
    {KVLINK_CREATORAPPWINDOWCLASSNAME, Four("spcc"), &KVLINK64_CREATORAPPWINDOWCLASSNAME, 1, 1, false},
    {KVLINK_PROJECTDATA, Four("spem"), &KVLINK64_PROJECTDATA, 1, 1, false},
};

// Deletion order of the ten chunks.
const DWORD kDeleteIds[] = {Four("splv"), Four("spca"), Four("spcc"), Four("splp"), Four("spcl"),
                            Four("spem"), Four("sprg"), Four("srtn"), Four("srtd"), Four("srat")};
const GUID* const kDeleteGuids[] = {&KVLINK64_VERSION,      &KVLINK64_CREATORAPPINFO,
                                    &KVLINK64_CREATORAPPWINDOWCLASSNAME, &KVLINK64_PROJECTPATH,
                                    &KVLINK64_COMMANDLINE,  &KVLINK64_PROJECTDATA,
                                    &KVLINK64_RENDERERGUID, &KVLINK64_TEMPLATENAME,
                                    &KVLINK64_TEMPLATEDATA, &KVLINK64_APPTEMPLATEDATA};

bool VersionAccepted(DWORD v) { return (v & 0xFF000000u) <= 0x01000000u; }

bool SeekTo(HANDLE file, uint64_t pos) { return kvfile::Seek(file, static_cast<int64_t>(pos), FILE_BEGIN); }

bool Tell(HANDLE file, uint64_t* pos) { return kvfile::Seek(file, 0, FILE_CURRENT, pos); }

bool BytesAhead(HANDLE file, uint64_t* ahead) {
  uint64_t pos = 0, l = 0;
  if (!Tell(file, &pos) || !kvfile::Length(file, &l)) return false;
  *ahead = l > pos ? l - pos : 0;
  return true;
}

bool WriteExact(HANDLE file, const void* data, DWORD size) {
  DWORD put = 0;
  if (size == 0) return true;
  return kvfile::Write(file, data, size, &put) && put == size;
}

// The end of the RIFF content lies within the file.
bool ContentInFile(HANDLE file, uint64_t end) {
  uint64_t length = 0;
  return kvfile::Length(file, &length) && end <= length;
}

bool WriteZeros(HANDLE file, DWORD count) {
  static const BYTE zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  return WriteExact(file, zeros, count);
}

// Reads the chunk data at the current position into a new buffer field.
// The buffer holds four zero bytes more than the chunk, so a text field
// without its terminator (even of an odd byte count) still ends in one;
// the recorded size is the chunk's. The size is checked against the file before allocating.
HRESULT LoadBuffer(HANDLE file, CKvLinkProjectInfo* info, DWORD bit, DWORD size, bool wide64) {
  uint64_t ahead = 0;
  if (!BytesAhead(file, &ahead) || size > ahead || size > 0xFFFFFFF0u) return KV_E_READ;
  void** ptr = nullptr;
  DWORD* fieldSize = nullptr;
  if (!Access::Field(info, bit, &ptr, &fieldSize)) return E_UNEXPECTED;
  void* p = kvblock::Alloc(size + 4);
  if (!p) return E_OUTOFMEMORY;
  HRESULT hr = wide64 ? riff64_ReadDataBounded(file, p, size, size) : riff_ReadDataBounded(file, p, size, size);
  if (FAILED(hr)) {
    kvblock::Free(p);
    return KV_E_READ;
  }
  kvblock::Free(*ptr);
  *ptr = p;
  *fieldSize = size;
  Access::Flags(info) |= bit;
  return S_OK;
}

// Finds a top-level chunk by restarting at the body with the content size
// as the bound. S_OK with *size, 0x8004E00A when absent.
HRESULT FindRiff(HANDLE file, DWORD body, DWORD content, DWORD id, DWORD* size) {
  riff_RestoreLocation(file, body);
  DWORD remaining = content;
  return riff_FindChunkHeader(file, id, size, &remaining);
}

HRESULT FindRiff64(HANDLE file, uint64_t body, uint64_t content, const GUID& id, DWORD* size) {
  HRESULT hr = riff64_RestoreLocation(file, body);
  if (FAILED(hr)) return hr;
  int64_t remaining = content > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(content);
  uint64_t full = 0;
  hr = riff64_FindChunkHeader(file, id, &full, &remaining);
  // Only the low 32 bits of the size are used.
  *size = static_cast<DWORD>(full);
  return hr;
}

HRESULT ReleaseWith(CKvLinkProjectInfo* info, HRESULT hr) {
  info->FreeMemory();
  return hr;
}

template <bool Is64>
HRESULT LoadInfo(HANDLE file, CKvLinkProjectInfo* info, int* loaded) {
  if (!info || !loaded) return E_INVALIDARG;
  *loaded = 0;
  uint64_t body = 0, content = 0;
  HRESULT hr;
  if (Is64) {
    hr = riff64_RestoreLocation(file, 0);
    if (SUCCEEDED(hr)) hr = riff64_ReadFileID(file, &content, nullptr);
    if (FAILED(hr)) return hr;
    riff64_SaveLocation(file, &body);
  } else {
    DWORD c = 0;
    riff_RestoreLocation(file, 0);
    hr = riff_ReadFileID(file, &c, nullptr);
    if (FAILED(hr)) return hr;
    content = c;
    DWORD b = 0;
    riff_SaveLocation(file, &b);
    body = b;
  }
  info->Init();

  auto find = [&](DWORD id, const GUID* guid, DWORD* size) {
    return Is64 ? FindRiff64(file, body, content, *guid, size)
                : FindRiff(file, static_cast<DWORD>(body), static_cast<DWORD>(content), id, size);
  };

  DWORD size = 0;
  hr = find(kVersionId, &KVLINK64_VERSION, &size);
  if (FAILED(hr) || size != 4) return ReleaseWith(info, KV_E_CORRUPT);
  BYTE v[4] = {0, 0, 0, 0};
  hr = Is64 ? riff64_ReadDataBounded(file, v, 4, 4) : riff_ReadDataBounded(file, v, 4, 4);
  if (FAILED(hr)) return ReleaseWith(info, KV_E_READ);
  DWORD version = GetLE32(v);
  if (!VersionAccepted(version)) return ReleaseWith(info, KV_E_VERSION);
  Access::Version(info) = version;

  for (const FieldChunk& f : kFields) {
    if (f.bit == KVLINK_APPTEMPLATEDATA && !(Access::Flags(info) & KVLINK_TEMPLATEDATA)) continue;
    hr = find(f.id, f.guid, &size);
    DWORD minSize = Is64 ? f.minSize64 : f.minSize;
    bool present = SUCCEEDED(hr) && size >= minSize;
    if (f.bit == KVLINK_RENDERERGUID) present = SUCCEEDED(hr) && size == sizeof(GUID);
    if (!present) {
      if (Is64 && f.required64) return ReleaseWith(info, KV_E_CORRUPT);
      continue;
    }
    if (f.bit == KVLINK_RENDERERGUID) {
      GUID g;
      hr = Is64 ? riff64_ReadDataBounded(file, &g, sizeof(g), size) : riff_ReadDataBounded(file, &g, sizeof(g), size);
      if (FAILED(hr)) return ReleaseWith(info, KV_E_READ);
      Access::Guid(info) = g;
      Access::Flags(info) |= KVLINK_RENDERERGUID;
      continue;
    }
    hr = LoadBuffer(file, info, f.bit, size, Is64);
    if (FAILED(hr)) return ReleaseWith(info, hr);
  }
  if (Is64 || Access::Flags(info) != 0) *loaded = 1;
  return S_OK;
}

// The fields of a record to save, in order, with their bytes.
struct SaveItem {
  const FieldChunk* chunk;
  const void* data;
  DWORD size;
};

int CollectSaveItems(CKvLinkProjectInfo* info, SaveItem* out) {
  int n = 0;
  DWORD flags = Access::Flags(info);
  for (const FieldChunk& f : kFields) {
    if (!(flags & f.bit)) continue;
    // App template data goes only with template data.
    if (f.bit == KVLINK_APPTEMPLATEDATA && !(flags & KVLINK_TEMPLATEDATA)) continue;
    if (f.bit == KVLINK_RENDERERGUID) {
      out[n++] = {&f, &Access::Guid(info), sizeof(GUID)};
      continue;
    }
    void** ptr = nullptr;
    DWORD* size = nullptr;
    Access::Field(info, f.bit, &ptr, &size);
    out[n++] = {&f, *ptr, *size};
  }
  return n;
}

}  // namespace

HRESULT KVAPI ProjectLinkRiff_LoadInfo(HANDLE file, CKvLinkProjectInfo* info, int* loaded) {
  return LoadInfo<false>(file, info, loaded);
}

HRESULT KVAPI ProjectLinkRiff64_LoadInfo(HANDLE file, CKvLinkProjectInfo* info, int* loaded) {
  return LoadInfo<true>(file, info, loaded);
}

HRESULT KVAPI ProjectLinkRiff_WriteChunk(HANDLE file, DWORD id, const void* data, DWORD size, DWORD* added) {
  if (added) *added = 0;
  if (!data && size) return E_INVALIDARG;
  DWORD content = 0;
  riff_RestoreLocation(file, 0);
  HRESULT hr = riff_ReadFileID(file, &content, nullptr);
  if (FAILED(hr)) return hr;
  const uint64_t body = 12;
  DWORD remaining = content, old = 0;
  hr = riff_FindChunkHeader(file, id, &old, &remaining);
  if (FAILED(hr) && hr != KV_E_NOTFOUND) return hr;
  uint64_t padNew = static_cast<uint64_t>(size) + (size & 1);
  bool inPlace = false;
  uint64_t filler = 0;  // bytes after the new data that become a JUNK chunk
  uint64_t header = 0;
  if (SUCCEEDED(hr)) {
    uint64_t pos = 0;
    if (!Tell(file, &pos)) return KV_E_READ;
    header = pos - 8;
    uint64_t padOld = static_cast<uint64_t>(old) + (old & 1), ahead = 0;
    // The old chunk can take the new data when its (whole) payload is as
    // large; what is left over must hold a JUNK header of its own.
    if (BytesAhead(file, &ahead) && padOld <= ahead + (old & 1) && old >= size &&
        (padOld == padNew || padOld - padNew >= 8)) {
      inPlace = true;
      filler = padOld - padNew;
    } else {
      // Too small: the old chunk stays in place as padding.
      if (!SeekTo(file, header) || !WriteExact(file, &kJunk, 4)) return KV_E_WRITE;
    }
  }
  DWORD growth = 0;
  if (inPlace) {
    if (!SeekTo(file, header)) return KV_E_WRITE;
  } else {
    if (static_cast<uint64_t>(content) + 8 + padNew > 0xFFFFFFF7u - 4) return KV_E_TOOBIG;
    // A RIFF size that claims more than the file holds would put the chunk
    // past the end, after a gap of undefined bytes.
    if (!ContentInFile(file, body + content)) return KV_E_BADLENGTH;
    if (!SeekTo(file, body + content)) return KV_E_WRITE;
    growth = static_cast<DWORD>(8 + padNew);
  }
  hr = riff_WriteChunkHeader(file, id, size);
  if (FAILED(hr)) return hr;
  if (!WriteExact(file, data, size)) return KV_E_WRITE;
  if ((size & 1) && !WriteZeros(file, 1)) return KV_E_WRITE;
  if (filler) {
    hr = riff_WriteChunkHeader(file, kJunk, static_cast<DWORD>(filler - 8));
    if (FAILED(hr)) return hr;
  }
  if (added) *added = growth;
  if (growth) return riff_UpdateRIFFSize(file, growth);
  return S_OK;
}

HRESULT KVAPI ProjectLinkRiff64_WriteChunk(HANDLE file, const GUID* id, const void* data, uint64_t size,
                                           uint64_t* added) {
  if (added) *added = 0;
  if (!id || (!data && size)) return E_INVALIDARG;
  if (size > 0xFFFFFFF0u) return E_INVALIDARG;
  uint64_t content = 0;
  HRESULT hr = riff64_RestoreLocation(file, 0);
  if (SUCCEEDED(hr)) hr = riff64_ReadFileID(file, &content, nullptr);
  if (FAILED(hr)) return hr;
  const uint64_t body = 40;
  int64_t remaining = content > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(content);
  uint64_t old = 0;
  hr = riff64_FindChunkHeader(file, *id, &old, &remaining);
  if (FAILED(hr) && hr != KV_E_NOTFOUND) return hr;
  auto round8 = [](uint64_t n) { return (n + 7) & ~uint64_t(7); };
  uint64_t padNew = round8(size);
  bool inPlace = false;
  uint64_t filler = 0, header = 0;
  if (SUCCEEDED(hr)) {
    uint64_t pos = 0, ahead = 0;
    if (!Tell(file, &pos)) return KV_E_READ;
    header = pos - 24;
    uint64_t padOld = old > UINT64_MAX - 7 ? UINT64_MAX : round8(old);
    if (BytesAhead(file, &ahead) && old <= ahead && old >= size && (padOld == padNew || padOld - padNew >= 24)) {
      inPlace = true;
      filler = padOld - padNew;
    } else {
      static const BYTE zeroId[16] = {0};
      if (!SeekTo(file, header) || !WriteExact(file, zeroId, 16)) return KV_E_WRITE;
    }
  }
  uint64_t growth = 0;
  if (inPlace) {
    if (!SeekTo(file, header)) return KV_E_WRITE;
  } else {
    if (content > UINT64_MAX - body || !ContentInFile(file, body + content)) return KV_E_BADLENGTH;
    if (!SeekTo(file, body + content)) return KV_E_WRITE;
    growth = 24 + padNew;
  }
  hr = riff64_WriteChunkHeader(file, *id, size);
  if (FAILED(hr)) return hr;
  if (!WriteExact(file, data, static_cast<DWORD>(size))) return KV_E_WRITE;
  if (!WriteZeros(file, static_cast<DWORD>(padNew - size))) return KV_E_WRITE;
  if (filler) {
    GUID none;
    memset(&none, 0, sizeof(none));
    hr = riff64_WriteChunkHeader(file, none, filler - 24);
    if (FAILED(hr)) return hr;
  }
  if (added) *added = growth;
  if (growth) return riff64_UpdateRIFFSize(file, static_cast<int64_t>(growth));
  return S_OK;
}

HRESULT KVAPI ProjectLinkRiff64_DeleteChunks(HANDLE file, uint64_t* removed) {
  if (removed) *removed = 0;
  for (const GUID* g : kDeleteGuids) {
    uint64_t n = 0;
    HRESULT hr = riff64_DeleteChunk(file, *g, &n);
    if (hr == KV_E_NOTFOUND) continue;
    if (FAILED(hr)) return hr;
    if (removed) *removed += n;
  }
  return S_OK;
}

HRESULT KVAPI ProjectLinkRiff_SaveInfo(HANDLE file, CKvLinkProjectInfo* info) {
  if (!info) return E_INVALIDARG;
  if (FAILED(info->Validate())) return KV_E_INVALIDLINK;
  for (DWORD id : kDeleteIds) {
    HRESULT hr = riff_DeleteChunk(file, id, nullptr, FALSE);
    if (FAILED(hr) && hr != KV_E_NOTFOUND) return hr;
  }
  SaveItem items[10];
  int n = CollectSaveItems(info, items);
  for (int i = 0; i < n; ++i) {
    HRESULT hr = ProjectLinkRiff_WriteChunk(file, items[i].chunk->id, items[i].data, items[i].size, nullptr);
    if (FAILED(hr)) return hr;
  }
  if (n == 0) return S_OK;
  const BYTE version[4] = {0x00, 0x01, 0x00, 0x01};
  return ProjectLinkRiff_WriteChunk(file, kVersionId, version, 4, nullptr);
}

HRESULT KVAPI ProjectLinkRiff64_SaveInfo(HANDLE file, CKvLinkProjectInfo* info) {
  if (!info) return E_INVALIDARG;
  if (FAILED(info->Validate())) return KV_E_INVALIDLINK;
  HRESULT hr = ProjectLinkRiff64_DeleteChunks(file, nullptr);
  if (FAILED(hr)) return hr;
  SaveItem items[10];
  int n = CollectSaveItems(info, items);
  for (int i = 0; i < n; ++i) {
    hr = ProjectLinkRiff64_WriteChunk(file, items[i].chunk->guid, items[i].data, items[i].size, nullptr);
    if (FAILED(hr)) return hr;
  }
  if (n == 0) return S_OK;
  const BYTE version[4] = {0x00, 0x01, 0x00, 0x01};
  return ProjectLinkRiff64_WriteChunk(file, &KVLINK64_VERSION, version, 4, nullptr);
}

// ---- readers ----

namespace {

// The size of a stream from its end; the stream is left at its start.
HRESULT StreamSize(IStream* stream, uint64_t* size) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER end;
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_END, &end);
  if (FAILED(hr)) return hr;
  hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  *size = end.QuadPart;
  return S_OK;
}

// Reads exactly n bytes (in as many calls as the stream needs).
bool ReadExactly(IStream* stream, void* buf, DWORD n) {
  BYTE* p = static_cast<BYTE*>(buf);
  while (n) {
    ULONG got = 0;
    HRESULT hr = stream->Read(p, n, &got);
    if (FAILED(hr) || got == 0 || got > n) return false;
    p += got;
    n -= got;
  }
  return true;
}

}  // namespace

HRESULT KVAPI ProjectLinkReadMeta_ReadAll(IStream* stream, void** block, DWORD* size) {
  if (!stream) return E_INVALIDARG;
  if (block) *block = nullptr;
  if (size) *size = 0;
  uint64_t n = 0;
  HRESULT hr = StreamSize(stream, &n);
  if (FAILED(hr)) return hr;
  // Zero bytes follow the data, so the limit keeps that sum in 32 bits.
  if (n >= 0xFFFFFFF0u) return KV_E_STREAMREAD;
  if (n != 0 && block) {
    void* p = kvblock::Alloc(static_cast<DWORD>(n) + 4);
    if (!p) return E_OUTOFMEMORY;
    if (!ReadExactly(stream, p, static_cast<DWORD>(n))) {
      kvblock::Free(p);
      return KV_E_STREAMREAD;
    }
    *block = p;
  }
  if (size) *size = static_cast<DWORD>(n);
  return S_OK;
}

HRESULT KVAPI ProjectLinkReadMeta_ReadFixed(IStream* stream, void* buf, DWORD bufSize, DWORD* size) {
  if (!stream) return E_INVALIDARG;
  if (size) *size = 0;
  uint64_t n = 0;
  HRESULT hr = StreamSize(stream, &n);
  if (FAILED(hr)) return hr;
  if (n > 0xFFFFFFFFu) return KV_E_STREAMREAD;
  DWORD want = n < bufSize ? static_cast<DWORD>(n) : bufSize;
  if (want && !buf) return E_INVALIDARG;
  if (want && !ReadExactly(stream, buf, want)) return KV_E_STREAMREAD;
  if (size) *size = static_cast<DWORD>(n);
  return S_OK;
}

#ifdef _WIN32
HRESULT KVAPI ProjectLinkReadMeta_LoadInfoFrom(IKvReadMeta* meta, IKvReadProjectLinkMeta* link,
                                               CKvLinkProjectInfo* info) {
  if (!meta || !link || !info) return E_INVALIDARG;
  IKvReadProjectLinkMetaEx* ex = nullptr;
  if (FAILED(meta->QueryInterface(IID_IKvReadProjectLinkMetaEx, reinterpret_cast<void**>(&ex)))) ex = nullptr;

  typedef HRESULT (STDMETHODCALLTYPE IKvReadProjectLinkMeta::*Getter)(IStream**);
  struct {
    DWORD bit;
    Getter get;
  } const order[] = {
      {KVLINK_PROJECTPATH, &IKvReadProjectLinkMeta::GetProjectPath},
      {KVLINK_COMMANDLINE, &IKvReadProjectLinkMeta::GetCommandLine},
      {KVLINK_RENDERERGUID, &IKvReadProjectLinkMeta::GetRendererGuid},
      {KVLINK_TEMPLATENAME, &IKvReadProjectLinkMeta::GetTemplateName},
      {KVLINK_TEMPLATEDATA, &IKvReadProjectLinkMeta::GetTemplateData},
      {KVLINK_APPTEMPLATEDATA, &IKvReadProjectLinkMeta::GetAppTemplateData},
      {KVLINK_CREATORAPPINFO, &IKvReadProjectLinkMeta::GetCreatorAppInfo},
      {KVLINK_CREATORAPPWINDOWCLASSNAME, &IKvReadProjectLinkMeta::GetCreatorAppWindowClassName},
      {KVLINK_PROJECTDATA, &IKvReadProjectLinkMeta::GetProjectData},
  };
  HRESULT hr = S_OK;
  for (const auto& f : order) {
    IStream* stream = nullptr;
    hr = (link->*f.get)(&stream);
    if (hr == KV_E_NOTFOUND || (SUCCEEDED(hr) && !stream)) {
      hr = S_OK;
      continue;
    }
    if (FAILED(hr)) break;
    if (f.bit == KVLINK_RENDERERGUID) {
      GUID g;
      DWORD n = 0;
      hr = ProjectLinkReadMeta_ReadFixed(stream, &g, sizeof(g), &n);
      stream->Release();
      if (FAILED(hr)) break;
      if (n == sizeof(GUID)) info->SetRendererGuid(g);
      continue;
    }
    void** ptr = nullptr;
    DWORD* size = nullptr;
    Access::Field(info, f.bit, &ptr, &size);
    void* block = nullptr;
    DWORD n = 0;
    hr = ProjectLinkReadMeta_ReadAll(stream, &block, &n);
    stream->Release();
    if (FAILED(hr)) break;
    kvblock::Free(*ptr);
    *ptr = block;
    *size = n;
    Access::Flags(info) |= f.bit;
  }

  DWORD version = KVLINK_VERSION;
  if (ex) {
    IStream* stream = nullptr;
    if (SUCCEEDED(ex->GetField(&stream, KVLINK_FIELD_VERSION)) && stream) {
      BYTE v[4] = {0x00, 0x01, 0x00, 0x01};
      DWORD n = 0;
      if (SUCCEEDED(ProjectLinkReadMeta_ReadFixed(stream, v, 4, &n)))
        version = GetLE32(v);
      stream->Release();
    }
    ex->Release();
  }
  Access::Version(info) = version;
  if (Access::Flags(info) == 0) return FAILED(hr) ? hr : S_FALSE;
  return SUCCEEDED(hr) ? info->Validate() : hr;
}

HRESULT KVAPI ProjectLinkReadMeta_LoadInfo(IKvReadMeta* meta, CKvLinkProjectInfo* info, int* loaded) {
  if (!meta || !info || !loaded) return E_INVALIDARG;
  *loaded = 0;
  IKvReadProjectLinkMeta* link = nullptr;
  HRESULT hr = meta->QueryInterface(IID_IKvReadProjectLinkMeta, reinterpret_cast<void**>(&link));
  if (FAILED(hr)) return hr;
  if (!link) return hr;
  ProjectLinkReadMeta_LoadInfoFrom(meta, link, info);
  hr = info->Validate();
  if (SUCCEEDED(hr)) *loaded = 1;
  link->Release();
  return hr;
}

// ---- copies of a reader's link into files ----

namespace {

const DWORD kFormKvpl = KVRIFF_FOURCC('K', 'V', 'P', 'L');
const DWORD kKvpi = KVRIFF_FOURCC('K', 'V', 'P', 'I');
const int kMaxPath = 260;

// Starts a new sidecar: the RIFF header and the "KVPI" chunk naming the
// media file (its name without the folder, in the ANSI code page, with its
// terminating zero).
HRESULT StartSidecar(HANDLE file, const wchar_t* mediaPath) {
  const wchar_t* name = mediaPath;
  for (const wchar_t* p = mediaPath; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  char ansi[kMaxPath];
  int n = KvWideToMultiByte(ansi, name, kMaxPath, CP_ACP);
  if (n < 0) n = 0;
  HRESULT hr = riff_WriteFileID(file, kFormKvpl, 4);
  if (FAILED(hr)) return hr;
  DWORD written = 0;
  hr = riff_WriteChunk(file, kKvpi, ansi, static_cast<DWORD>(n) + 1, &written);
  if (FAILED(hr)) return hr;
  return riff_UpdateRIFFSize(file, written);
}

template <bool Is64>
HRESULT SaveFromReadMeta(const wchar_t* mediaPath, IKvReadMeta* meta, bool sidecar) {
  if (!meta) return S_OK;
  if (!mediaPath || !*mediaPath) return E_INVALIDARG;
  wchar_t target[kMaxPath];
  if (sidecar) {
    HRESULT named = KvFMMeta_CreateMetaName(mediaPath, target, kMaxPath, TRUE);
    if (FAILED(named)) return named;
  } else {
    if (wcslen(mediaPath) + 1 > static_cast<size_t>(kMaxPath)) return E_INVALIDARG;
    wcscpy(target, mediaPath);
  }

  IKvReadProjectLinkMeta* link = nullptr;
  if (FAILED(meta->QueryInterface(IID_IKvReadProjectLinkMeta, reinterpret_cast<void**>(&link))) || !link)
    return S_OK;
  // The media file itself is never created here: a missing one is an error,
  // not an empty file left behind.
  HANDLE file = CreateFileW(target, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            sidecar ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  if (file == INVALID_HANDLE_VALUE) {
    link->Release();
    return KvErrorHandler_TranslateWin32Error(error);
  }
  bool created = sidecar && error != ERROR_ALREADY_EXISTS;
  HRESULT hr = created ? StartSidecar(file, mediaPath) : S_OK;
  bool saved = false;
  if (SUCCEEDED(hr)) {
    CKvLinkProjectInfo info;
    hr = ProjectLinkReadMeta_LoadInfoFrom(meta, link, &info);
    if (hr == S_OK) {
      hr = Is64 ? ProjectLinkRiff64_SaveInfo(file, &info) : ProjectLinkRiff_SaveInfo(file, &info);
      saved = SUCCEEDED(hr);
    } else if (hr == S_FALSE) {
      hr = S_OK;
    }
  }
  CloseHandle(file);
  if (created && !saved) DeleteFileW(target);
  link->Release();
  return hr;
}

}  // namespace

HRESULT KVAPI ProjectLinkRiff_SaveFromReadMeta(const wchar_t* mediaPath, IKvReadMeta* meta, BOOL sidecar) {
  return SaveFromReadMeta<false>(mediaPath, meta, sidecar != FALSE);
}

HRESULT KVAPI ProjectLinkRiff64_SaveFromReadMeta(const wchar_t* path, IKvReadMeta* meta) {
  return SaveFromReadMeta<true>(path, meta, false);
}
#endif  // _WIN32
