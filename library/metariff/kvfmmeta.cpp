// Metadata chunks in RIFF-family files and sidecar files: the probe of a
// reader's streams, the sidecar files and the dispatcher over the reader's
// streams. The kinds, the deletion of stale chunks and the chunk frame are in
// kvmetaframe.cpp; the payload of each kind is written by kvmetachunks.cpp.
#include "kvfmmeta.h"

#include <string.h>

#include "kverror.h"
#include "kviff.h"
#include "kvmetachunks.h"
#include "kvpath.h"
#include "kvriff.h"
#include "kvstr.h"
#include "kvwavfile.h"

namespace {

constexpr DWORD Four(const char (&s)[5]) { return KVRIFF_FOURCC(s[0], s[1], s[2], s[3]); }

const DWORD kFormKvpl = Four("KVPL");
const DWORD kKvpi = Four("KVPI");
const long kMaxPath = 260;

HANDLE OpenFile(const wchar_t* path, bool write, DWORD disposition) {
  return CreateFileW(path, GENERIC_READ | (write ? GENERIC_WRITE : 0), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HRESULT LastError() { return KvErrorHandler_TranslateWin32Error(GetLastError()); }

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD put = 0;
  return size == 0 || (WriteFile(file, data, size, &put, nullptr) && put == size);
}

// Calls visit(stream, header kind, item count) for each generic stream of the
// reader, the stream standing after its 28-byte header; stops at the first
// failure of visit, which is returned. A reader without generic streams: S_OK.
template <class Visit>
HRESULT ForEachGenericStream(IKvReadMeta* meta, Visit visit) {
  IKvReadGenericMeta* generic = nullptr;
  if (FAILED(meta->QueryInterface(IID_IKvReadGenericMeta, reinterpret_cast<void**>(&generic))) || !generic)
    return S_OK;
  HRESULT result = S_OK;
  if (SUCCEEDED(generic->Reset())) {
    for (;;) {
      IStream* stream = nullptr;
      HRESULT hr = generic->Next(&stream);
      if (hr != S_OK || !stream) {
        if (stream) stream->Release();
        break;
      }
      LARGE_INTEGER zero;
      zero.QuadPart = 0;
      struct {
        DWORD size, version, count;
        GUID kind;
      } header;
      hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
      if (SUCCEEDED(hr)) hr = KvMetaChunks_Read(stream, &header, sizeof(header));
      if (SUCCEEDED(hr)) hr = visit(stream, header.kind, header.count);
      stream->Release();
      if (FAILED(hr)) {
        result = hr;
        break;
      }
    }
  }
  generic->Release();
  return result;
}

// The 12-byte header's count of a legacy stream; false without a stream.
bool LegacyHasItems(IStream* stream) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  DWORD header[3] = {0, 0, 0};
  return SUCCEEDED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)) &&
         SUCCEEDED(KvMetaChunks_Read(stream, header, sizeof(header))) && header[2] > 0;
}

HRESULT WriteChunksOf(HANDLE file, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds,
                      bool riff64) {
  if (!meta) return S_OK;
  // An AIFF file takes only its own instrument and markers.
  DWORD formSize = 0;
  if (!riff64 && iff_IsAIFFFile(file, &formSize)) kinds &= KVFIO_META_AIFFINST;
  HRESULT hr = KvFMMeta_WriteGenericStreams(file, meta, &kinds, riff64 ? TRUE : FALSE);
  if (FAILED(hr)) return hr;
  if (kinds & KVFIO_META_MARKERS) {
    IStream* markers = nullptr;
    if (SUCCEEDED(meta->GetMarkers(&markers)) && markers) {
      hr = KvMetaChunks_WriteLegacyMarkers(file, markers, rate, riff64 ? TRUE : FALSE);
      markers->Release();
      if (FAILED(hr)) return hr;
    }
  }
  if (kinds & KVFIO_META_SUMMARY) {
    IStream* summary = nullptr;
    if (SUCCEEDED(meta->GetSummaryStream(&summary)) && summary) {
      hr = KvMetaChunks_WriteLegacySummary(file, summary, riff64 ? TRUE : FALSE);
      summary->Release();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT DeleteKindsAndRaw(HANDLE file, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds, bool riff64) {
  HRESULT hr = riff64 ? KvFMMeta64_DeleteChunksOfKinds(file, kinds) : KvFMMeta_DeleteChunksOfKinds(file, kinds);
  if (SUCCEEDED(hr) && !riff64 && (kinds & KVFIO_META_RAW)) hr = KvFMMeta_DeleteRawChunks(file, meta);
  return hr;
}

// Deletes the media file's old sidecars (replaced-extension and appended names).
HRESULT RemoveOldSidecars(const wchar_t* path) {
  for (BOOL append = FALSE; append <= TRUE; ++append) {
    wchar_t name[kMaxPath];
    HRESULT hr = KvFMMeta_CreateMetaName(path, name, kMaxPath, append);
    if (FAILED(hr)) return hr;
    if (KvFMMeta_IsMetaFile(path, name)) DeleteFileW(name);
  }
  return S_OK;
}

// The media file: delete (unless keepChunks) and write the kinds.
HRESULT WriteMediaFile(const wchar_t* path, int keepChunks, unsigned long rate, IKvReadMeta* meta,
                       KVFIO_TYPESOFMETADATA kinds, bool riff64) {
  HANDLE file = OpenFile(path, true, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = keepChunks ? S_OK : DeleteKindsAndRaw(file, meta, kinds, riff64);
  if (SUCCEEDED(hr)) hr = WriteChunksOf(file, rate, meta, kinds, riff64);
  CloseHandle(file);
  return hr;
}

HRESULT OpenAndWrite(const wchar_t* path, int keepChunks, unsigned long rate, IKvReadMeta* meta,
                     KVFIO_TYPESOFMETADATA fileKinds, KVFIO_TYPESOFMETADATA sidecarKinds) {
  if (!path || !*path) return E_INVALIDARG;
  KVFIO_TYPESOFMETADATA s = meta ? KvFMMeta_ProbeKinds(meta, sidecarKinds, FALSE) : 0;
  HRESULT hr = RemoveOldSidecars(path);
  if (FAILED(hr)) return hr;
  if (s) {
    wchar_t side[kMaxPath];
    hr = KvFMMeta_CreateMetaName(path, side, kMaxPath, TRUE);
    if (SUCCEEDED(hr)) hr = KvFMMeta_CreateSidecar(path, side, rate, meta, s);
    if (FAILED(hr)) return hr;
  }
  if (fileKinds) return WriteMediaFile(path, keepChunks, rate, meta, fileKinds, false);
  return S_OK;
}

HRESULT Update(const wchar_t* path, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA fileKinds,
               KVFIO_TYPESOFMETADATA sidecarKinds, bool riff64) {
  if (!path || !*path) return E_INVALIDARG;
  if (!meta) return S_OK;
  KVFIO_TYPESOFMETADATA s = KvFMMeta_ProbeKinds(meta, sidecarKinds, TRUE);
  KVFIO_TYPESOFMETADATA f = KvFMMeta_ProbeKinds(meta, fileKinds, TRUE);
  HRESULT hr = S_OK;
  if (s) {
    hr = KvFMMeta_UpdateSidecar(path, rate, meta, s);
    if (FAILED(hr)) return hr;
  }
  if (!f) return S_OK;
  // The kinds move from the sidecar into the media file.
  wchar_t side[kMaxPath];
  if (KvFMMeta_FindMetaFile(path, side, kMaxPath)) {
    HANDLE file = OpenFile(side, true, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    hr = DeleteKindsAndRaw(file, meta, fileKinds, false);
    CloseHandle(file);
    if (FAILED(hr)) return hr;
  }
  return WriteMediaFile(path, FALSE, rate, meta, fileKinds, riff64);
}

}  // namespace

KVFIO_TYPESOFMETADATA KvFMMeta_ProbeKinds(IKvReadMeta* meta, KVFIO_TYPESOFMETADATA wanted, BOOL acceptEmpty) {
  if (!meta || !wanted) return 0;
  KVFIO_TYPESOFMETADATA found = 0;
  ForEachGenericStream(meta, [&](IStream*, const GUID& guid, DWORD count) -> HRESULT {
    if (count >= 1 || acceptEmpty) {
      KVFIO_TYPESOFMETADATA kind = KvFMMeta_KindFromGuid(guid);
      if ((wanted & KVFIO_META_AIFFINST) && kind == KVFIO_META_SAMPLER) kind = KVFIO_META_AIFFINST;
      found |= kind & wanted;
    }
    return S_OK;
  });
  struct Legacy {
    KVFIO_TYPESOFMETADATA kind;
    HRESULT (STDMETHODCALLTYPE IKvReadMeta::*get)(IStream**);
  };
  const Legacy legacy[] = {{KVFIO_META_MARKERS, &IKvReadMeta::GetMarkers},
                           {KVFIO_META_TYPE2, &IKvReadMeta::GetType2Stream},
                           {KVFIO_META_SUMMARY, &IKvReadMeta::GetSummaryStream}};
  for (const Legacy& l : legacy) {
    if (!(wanted & l.kind)) continue;
    IStream* stream = nullptr;
    if (FAILED((meta->*l.get)(&stream)) || !stream) continue;
    if (acceptEmpty || LegacyHasItems(stream)) found |= l.kind;
    stream->Release();
  }
  return found;
}

HRESULT KvFMMeta_DeleteRawChunks(HANDLE file, IKvReadMeta* meta) {
  if (!meta) return S_OK;
  return ForEachGenericStream(meta, [&](IStream* stream, const GUID& guid, DWORD count) -> HRESULT {
    if (KvFMMeta_KindFromGuid(guid) != KVFIO_META_RAW) return S_OK;
    for (DWORD i = 0; i < count; ++i) {
      DWORD size = 0;
      HRESULT hr = KvMetaChunks_ReadEntryHeader(stream, &size);
      if (FAILED(hr)) return hr;
      if (size < 8) return KV_E_READ;
      DWORD head[2];
      hr = KvMetaChunks_Read(stream, head, 8);
      if (FAILED(hr)) return hr;
      // The chunks that carry the audio are never a reader's to remove.
      if (!KvMetaChunks_IsAudioChunk(head[0])) riff_DeleteChunk(file, head[0], nullptr, FALSE);
      hr = KvMetaChunks_Skip(stream, size - 8);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  });
}

// ---- the dispatcher ----

HRESULT KvFMMeta_WriteGenericStreams(HANDLE file, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA* kinds, BOOL riff64) {
  if (!meta || !kinds) return S_OK;
  return ForEachGenericStream(meta, [&](IStream* stream, const GUID& guid, DWORD count) -> HRESULT {
    if (count < 1) return S_OK;
    KVFIO_TYPESOFMETADATA kind = KvFMMeta_KindFromGuid(guid);
    BOOL asAiff = FALSE;
    if (kind == KVFIO_META_SAMPLER) {
      if (*kinds & KVFIO_META_SAMPLER) {
      } else if (!riff64 && (*kinds & KVFIO_META_AIFFINST)) {
        asAiff = TRUE;
      } else {
        return S_OK;
      }
    } else if (!(kind & *kinds) || kind == KVFIO_META_TYPE2 || kind == KVFIO_META_PICTURES) {
      return S_OK;
    } else if (kind == KVFIO_META_RAW && riff64) {
      return S_OK;
    }
    HRESULT hr = KvMetaChunks_WriteGeneric(file, stream, count, kind, riff64, asAiff);
    if (SUCCEEDED(hr) && (kind == KVFIO_META_MARKERS || kind == KVFIO_META_SUMMARY || kind == KVFIO_META_KV03))
      *kinds &= ~kind;
    return hr;
  });
}

HRESULT KvFMMeta_WriteChunks(HANDLE file, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds) {
  return WriteChunksOf(file, rate, meta, kinds, false);
}

HRESULT KvFMMeta64_WriteChunks(HANDLE file, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds) {
  return WriteChunksOf(file, rate, meta, kinds, true);
}

// ---- sidecar files ----

HRESULT KVAPI KvFMMeta_CreateMetaName(const wchar_t* mediaPath, wchar_t* out, long cch, BOOL append) {
  if (!mediaPath || !out) return E_POINTER;
  size_t len = wcslen(mediaPath);
  if (cch < 0 || len + 4 + 1 > static_cast<size_t>(cch)) return E_INVALIDARG;
  wcscpy(out, mediaPath);
  if (!append) {
    // The extension is looked for in the file name only, never in a folder.
    wchar_t* name = KvGetFileNamePtrW(out);
    wchar_t* ext = KvGetFileNameExtensionPtrW(name ? name : out);
    if (ext) *ext = 0;
  }
  wcscat(out, L".kvl");
  return S_OK;
}

BOOL KVAPI KvFMMeta_IsMetaFile(const wchar_t* mediaPath, const wchar_t* sidecarPath) {
  if (!mediaPath || !sidecarPath) return FALSE;
  HANDLE file = OpenFile(sidecarPath, false, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  BOOL match = FALSE;
  char ansi[kMaxPath] = {};
  if (SUCCEEDED(KvFMMeta_ReadAttachedName(file, ansi, kMaxPath))) {
    wchar_t wide[kMaxPath];
    KvMultiByteToWide(wide, ansi, kMaxPath, static_cast<int>(strlen(ansi)), CP_ACP);
    const wchar_t* name = KvGetFileNamePtrW(mediaPath);
    match = lstrcmpW(wide, name ? name : mediaPath) == 0;
  }
  CloseHandle(file);
  return match;
}

HRESULT KvFMMeta_WriteAttachedFilename(HANDLE file, const wchar_t* mediaPath) {
  if (!mediaPath) return E_POINTER;
  const wchar_t* name = KvGetFileNamePtrW(mediaPath);
  char ansi[kMaxPath];
  int n = KvWideToMultiByte(ansi, name ? name : mediaPath, kMaxPath, CP_ACP);
  if (n < 0) n = 0;
  int64_t sizePos = 0;
  HRESULT hr = KvFMMeta_BeginChunk(file, kKvpi, &sizePos);
  if (FAILED(hr)) return hr;
  if (!WriteAll(file, ansi, static_cast<DWORD>(n) + 1)) return KV_E_WRITE;
  return KvFMMeta_EndChunk(file, sizePos, static_cast<DWORD>(n) + 1);
}

BOOL KvFMMeta_FindMetaFile(const wchar_t* mediaPath, wchar_t* out, long cch) {
  if (FAILED(KvFMMeta_CreateMetaName(mediaPath, out, cch, FALSE))) return FALSE;
  if (KvFMMeta_IsMetaFile(mediaPath, out)) return TRUE;
  if (FAILED(KvFMMeta_CreateMetaName(mediaPath, out, cch, TRUE))) return FALSE;
  return KvFMMeta_IsMetaFile(mediaPath, out);
}

HRESULT KvFMMeta_CreateSidecar(const wchar_t* mediaPath, const wchar_t* sidecarPath, unsigned long rate,
                               IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds) {
  HANDLE file = OpenFile(sidecarPath, true, CREATE_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = riff_WriteFileID(file, kFormKvpl, 4);
  if (SUCCEEDED(hr)) hr = KvFMMeta_WriteChunks(file, rate, meta, kinds);
  if (SUCCEEDED(hr)) hr = KvFMMeta_WriteAttachedFilename(file, mediaPath);
  CloseHandle(file);
  // A sidecar that could not be completed names no media file and would
  // never be found or removed again: it goes.
  if (FAILED(hr)) DeleteFileW(sidecarPath);
  return hr;
}

HRESULT KvFMMeta_UpdateSidecar(const wchar_t* mediaPath, unsigned long rate, IKvReadMeta* meta,
                               KVFIO_TYPESOFMETADATA kinds) {
  wchar_t side[kMaxPath];
  if (!KvFMMeta_FindMetaFile(mediaPath, side, kMaxPath)) {
    HRESULT hr = KvFMMeta_CreateMetaName(mediaPath, side, kMaxPath, TRUE);
    if (FAILED(hr)) return hr;
    return KvFMMeta_CreateSidecar(mediaPath, side, rate, meta, kinds);
  }
  HANDLE file = OpenFile(side, true, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = DeleteKindsAndRaw(file, meta, kinds, false);
  if (SUCCEEDED(hr)) hr = KvFMMeta_WriteChunks(file, rate, meta, kinds);
  CloseHandle(file);
  return hr;
}

// ---- exports ----

HRESULT KVAPI KvFMMeta_ChangeAttachedFilename(const wchar_t* sidecarPath, const wchar_t* mediaPath) {
  if (!sidecarPath || !mediaPath) return E_FAIL;
  HANDLE file = OpenFile(sidecarPath, true, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = KvFMMeta_DeleteAll(file, kKvpi, FALSE);
  if (SUCCEEDED(hr)) hr = KvFMMeta_WriteAttachedFilename(file, mediaPath);
  CloseHandle(file);
  return hr;
}

HRESULT KVAPI KvFMMeta_LookForMarkers(const wchar_t* path) {
  if (!path) return KV_E_NOTFOUND;
  HANDLE file = OpenFile(path, false, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return KV_E_NOTFOUND;
  DWORD size = 0;
  HRESULT hr = riff_FindChunkHeaderInRIFF(file, Four("cue "), &size, nullptr);
  CloseHandle(file);
  return SUCCEEDED(hr) ? S_OK : KV_E_NOTFOUND;
}

HRESULT KVAPI KvFMMeta_DeleteMetaChunksEx(const wchar_t* path, KVFIO_TYPESOFMETADATA kinds, BOOL riff64) {
  if (!path) return S_OK;
  HANDLE file = OpenFile(path, true, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return S_OK;
  HRESULT hr = riff64 ? KvFMMeta64_DeleteChunksOfKinds(file, kinds) : KvFMMeta_DeleteChunksOfKinds(file, kinds);
  CloseHandle(file);
  return hr;
}

HRESULT KVAPI KvFMMeta_DeleteMetaChunks(const wchar_t* path) {
  return KvFMMeta_DeleteMetaChunksEx(path, KVFIO_META_MARKERS, FALSE);
}

HRESULT KVAPI KvFMMeta_openAndWriteMetaStreamEx(const wchar_t* path, int keepChunks, unsigned long rate,
                                                IKvReadMeta* meta, KVFIO_TYPESOFMETADATA fileKinds,
                                                KVFIO_TYPESOFMETADATA sidecarKinds) {
  return OpenAndWrite(path, keepChunks, rate, meta, fileKinds, sidecarKinds);
}

HRESULT KVAPI KvFMMeta_openAndWriteMetaStream(const wchar_t* path, int keepChunks, BOOL toSidecar,
                                              unsigned long rate, IKvReadMeta* meta) {
  const KVFIO_TYPESOFMETADATA kinds = KVFIO_META_SUMMARY | KVFIO_META_MARKERS;
  return OpenAndWrite(path, keepChunks, rate, meta, toSidecar ? 0 : kinds, toSidecar ? kinds : 0);
}

HRESULT KVAPI KvFMMeta_WriteMetaStream(const wchar_t* path, BOOL toSidecar, unsigned long rate, IKvReadMeta* meta) {
  return KvFMMeta_openAndWriteMetaStream(path, TRUE, toSidecar, rate, meta);
}

HRESULT KVAPI KvFMMeta_WriteMetaStreamEx(const wchar_t* path, BOOL toSidecar, unsigned long rate, IKvReadMeta* meta,
                                         KVFIO_TYPESOFMETADATA kinds) {
  return OpenAndWrite(path, TRUE, rate, meta, toSidecar ? 0 : kinds, toSidecar ? kinds : 0);
}

HRESULT KVAPI KvFMMeta_UpdateMetaStream2(const wchar_t* path, unsigned long rate, IKvReadMeta* meta,
                                         KVFIO_TYPESOFMETADATA fileKinds, KVFIO_TYPESOFMETADATA sidecarKinds) {
  return Update(path, rate, meta, fileKinds, sidecarKinds, false);
}

HRESULT KVAPI KvFMMeta_UpdateMetaStream(const wchar_t* path, BOOL toSidecar, unsigned long rate,
                                        IKvReadMeta* meta) {
  return KvFMMeta_UpdateMetaStreamEx(path, toSidecar, rate, meta, KVFIO_META_MARKERS);
}

HRESULT KVAPI KvFMMeta_UpdateMetaStreamEx(const wchar_t* path, BOOL toSidecar, unsigned long rate,
                                          IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds) {
  return Update(path, rate, meta, toSidecar ? 0 : kinds, toSidecar ? kinds : 0, false);
}

HRESULT KVAPI KvFMMeta64_openAndWriteMetaStream(const wchar_t* path, int keepChunks, unsigned long rate,
                                                IKvReadMeta* meta, KVFIO_TYPESOFMETADATA fileKinds,
                                                KVFIO_TYPESOFMETADATA sidecarKinds) {
  if (!path || !*path) return E_INVALIDARG;
  wchar_t side[kMaxPath];
  HRESULT hr = KvFMMeta_CreateMetaName(path, side, kMaxPath, TRUE);
  if (FAILED(hr)) return hr;
  DeleteFileW(side);
  if (sidecarKinds && meta) {
    hr = KvFMMeta_CreateSidecar(path, side, rate, meta, sidecarKinds);
    if (FAILED(hr)) return hr;
  }
  if (fileKinds) return WriteMediaFile(path, keepChunks, rate, meta, fileKinds, true);
  return S_OK;
}

HRESULT KVAPI KvFMMeta64_UpdateMetaStream(const wchar_t* path, unsigned long rate, IKvReadMeta* meta,
                                          KVFIO_TYPESOFMETADATA fileKinds, KVFIO_TYPESOFMETADATA sidecarKinds) {
  return Update(path, rate, meta, fileKinds, sidecarKinds, true);
}
