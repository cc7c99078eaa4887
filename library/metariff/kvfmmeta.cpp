// Metadata chunks in RIFF-family files and sidecar files: the kinds and
// their GUIDs, the probe of a reader's streams, the deletion of stale
// chunks, the sidecar files, the chunk frame and the dispatcher over the
// reader's streams. The payload of each kind is written by kvmetachunks.cpp.
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
// Deleting one id again and again ends here at the latest (a display list
// has a "DISP" chunk per item; a damaged file cannot make it loop).
const int kMaxRepeats = 256;

struct KindGuid {
  KVFIO_TYPESOFMETADATA kind;
  const GUID* guid;
};

const KindGuid kKinds[] = {
    {KVFIO_META_SUMMARY, &KVFIO_METAGUID_SUMMARY}, {KVFIO_META_TYPE2, &KVFIO_METAGUID_TYPE2},
    {KVFIO_META_MARKERS, &KVFIO_METAGUID_MARKERS}, {KVFIO_META_SCOT, &KVFIO_METAGUID_SCOT},
    {KVFIO_META_PLAYLIST, &KVFIO_METAGUID_PLAYLIST}, {KVFIO_META_TLST, &KVFIO_METAGUID_TLST},
    {KVFIO_META_DISPLAY, &KVFIO_METAGUID_DISPLAY}, {KVFIO_META_SAMPLER, &KVFIO_METAGUID_SAMPLER},
    {KVFIO_META_RAW, &KVFIO_METAGUID_RAW},         {KVFIO_META_STR2, &KVFIO_METAGUID_STR2},
    {KVFIO_META_BMRK, &KVFIO_METAGUID_BMRK},       {KVFIO_META_DTBT, &KVFIO_METAGUID_DTBT},
    {KVFIO_META_KV03, &KVFIO_METAGUID_KV03},       {KVFIO_META_PICTURES, &KVFIO_METAGUID_PICTURES},
    {KVFIO_META_KV04, &KVFIO_METAGUID_KV04},       {KVFIO_META_BMPI, &KVFIO_METAGUID_BMPI},
    {KVFIO_META_BMPM, &KVFIO_METAGUID_BMPM},
};

// The RIFF deletion table, in the order it is walked.
struct RiffRow {
  KVFIO_TYPESOFMETADATA kind;
  DWORD id;
  BOOL isList;
};
const RiffRow kRiffRows[] = {
    {KVFIO_META_SUMMARY, Four("INFO"), TRUE}, {KVFIO_META_MARKERS, Four("cue "), FALSE},
    {KVFIO_META_MARKERS, Four("adtl"), TRUE}, {KVFIO_META_MARKERS, Four("kv01"), FALSE},
    {KVFIO_META_KV04, Four("kv04"), FALSE},   {KVFIO_META_SCOT, Four("scot"), FALSE},
    {KVFIO_META_PLAYLIST, Four("plst"), FALSE}, {KVFIO_META_PLAYLIST, Four("kv02"), FALSE},
    {KVFIO_META_TLST, Four("tlst"), FALSE},   {KVFIO_META_DISPLAY, Four("DISP"), FALSE},
    {KVFIO_META_SAMPLER, Four("smpl"), FALSE}, {KVFIO_META_STR2, Four("str2"), FALSE},
    {KVFIO_META_BMRK, Four("bmrk"), FALSE},   {KVFIO_META_DTBT, Four("dtbt"), FALSE},
    {KVFIO_META_PICTURES, Four("pic "), TRUE}, {KVFIO_META_BMPI, Four("bmpi"), FALSE},
    {KVFIO_META_BMPM, Four("bmpm"), FALSE},
};

// The 64-bit RIFF deletion table: one GUID chunk per kind.
const KVFIO_TYPESOFMETADATA kRiff64Rows[] = {
    KVFIO_META_SUMMARY, KVFIO_META_TYPE2, KVFIO_META_MARKERS, KVFIO_META_KV04, KVFIO_META_SCOT,
    KVFIO_META_PLAYLIST, KVFIO_META_TLST, KVFIO_META_DISPLAY, KVFIO_META_SAMPLER, KVFIO_META_STR2,
    KVFIO_META_BMRK, KVFIO_META_DTBT, KVFIO_META_PICTURES, KVFIO_META_BMPI, KVFIO_META_BMPM,
};

HANDLE OpenFile(const wchar_t* path, bool write, DWORD disposition) {
  return CreateFileW(path, GENERIC_READ | (write ? GENERIC_WRITE : 0), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HRESULT LastError() { return KvErrorHandler_TranslateWin32Error(GetLastError()); }

bool Seek(HANDLE file, int64_t pos) { return KvSetFilePointer(file, pos, FILE_BEGIN) == pos; }

uint64_t FileLength(HANDLE file) {
  LARGE_INTEGER n;
  return GetFileSizeEx(file, &n) ? static_cast<uint64_t>(n.QuadPart) : 0;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD put = 0;
  return size == 0 || (WriteFile(file, data, size, &put, nullptr) && put == size);
}

bool ReadAll(HANDLE file, void* data, DWORD size) {
  DWORD got = 0;
  return ReadFile(file, data, size, &got, nullptr) && got == size;
}

// Deletes every top-level chunk with the id (absent is fine).
HRESULT DeleteAll(HANDLE file, DWORD id, BOOL isList) {
  for (int i = 0; i < kMaxRepeats; ++i) {
    HRESULT hr = riff_DeleteChunk(file, id, nullptr, isList);
    if (hr == KV_E_NOTFOUND) return S_OK;
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT DeleteAll64(HANDLE file, const GUID& id) {
  for (int i = 0; i < kMaxRepeats; ++i) {
    HRESULT hr = riff64_DeleteChunk(file, id, nullptr);
    if (hr == KV_E_NOTFOUND) return S_OK;
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT DeleteAllIff(HANDLE file, DWORD id) {
  for (int i = 0; i < kMaxRepeats; ++i) {
    HRESULT hr = iff_DeleteChunk(file, id, nullptr);
    if (hr == KV_E_NOTFOUND) return S_OK;
    if (FAILED(hr)) return hr;
  }
  return S_OK;
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

bool IsAiff(HANDLE file) {
  DWORD formSize = 0;
  return iff_IsAIFFFile(file, &formSize) != FALSE;
}

HRESULT WriteChunksOf(HANDLE file, unsigned long rate, IKvReadMeta* meta, KVFIO_TYPESOFMETADATA kinds,
                      bool riff64) {
  if (!meta) return S_OK;
  // An AIFF file takes only its own instrument and markers.
  if (!riff64 && IsAiff(file)) kinds &= KVFIO_META_AIFFINST;
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

// ---- kinds ----

KVFIO_TYPESOFMETADATA KvFMMeta_KindFromGuid(const GUID& guid) {
  for (const KindGuid& k : kKinds)
    if (IsEqualGUID(guid, *k.guid)) return k.kind;
  return 0;
}

const GUID* KvFMMeta_GuidFromKind(KVFIO_TYPESOFMETADATA kind) {
  if (kind == KVFIO_META_AIFFINST) kind = KVFIO_META_SAMPLER;
  for (const KindGuid& k : kKinds)
    if (k.kind == kind) return k.guid;
  return nullptr;
}

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

// ---- deletion ----

HRESULT KvFMMeta_DeleteChunksOfKinds(HANDLE file, KVFIO_TYPESOFMETADATA kinds) {
  // An AIFF file has only its own instrument and markers to lose.
  if (IsAiff(file)) {
    if (!(kinds & KVFIO_META_AIFFINST)) return S_OK;
    HRESULT hr = DeleteAllIff(file, KVIFF_INST);
    return SUCCEEDED(hr) ? DeleteAllIff(file, KVIFF_MARK) : hr;
  }
  for (const RiffRow& row : kRiffRows) {
    if (!(kinds & row.kind)) continue;
    HRESULT hr = DeleteAll(file, row.id, row.isList);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT KvFMMeta64_DeleteChunksOfKinds(HANDLE file, KVFIO_TYPESOFMETADATA kinds) {
  for (KVFIO_TYPESOFMETADATA kind : kRiff64Rows) {
    if (!(kinds & kind)) continue;
    HRESULT hr = DeleteAll64(file, *KvFMMeta_GuidFromKind(kind));
    if (FAILED(hr)) return hr;
  }
  return S_OK;
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

// ---- the chunk frame ----

HRESULT KvFMMeta_BeginChunk(HANDLE file, DWORD id, int64_t* sizePos) {
  DWORD content = 0, form = 0;
  if (!Seek(file, 0)) return KV_E_READ;
  HRESULT hr = riff_ReadFileID(file, &content, &form);
  if (FAILED(hr)) return hr;
  // The end of the RIFF content; a size that claims more than the file
  // holds would leave a gap of undefined bytes before the chunk.
  uint64_t end = static_cast<uint64_t>(content) + 12;
  if (end > FileLength(file)) return KV_E_BADLENGTH;
  if (!Seek(file, static_cast<int64_t>(end))) return KV_E_WRITE;
  hr = riff_WriteChunkHeader(file, id, 0);
  if (FAILED(hr)) return hr;
  if (sizePos) *sizePos = static_cast<int64_t>(end) + 4;
  return S_OK;
}

HRESULT KvFMMeta_EndChunk(HANDLE file, int64_t sizePos, DWORD size) {
  if (size & 1) {
    if (size == 0xFFFFFFFFu) return KV_E_TOOBIG;
    BYTE zero = 0;
    if (!WriteAll(file, &zero, 1)) return KV_E_WRITE;
    ++size;
  }
  if (!Seek(file, sizePos) || !WriteAll(file, &size, 4)) return KV_E_WRITE;
  HRESULT hr = riff_UpdateRIFFSize(file, static_cast<int64_t>(size) + 8);
  if (FAILED(hr)) return hr;
  Seek(file, sizePos + 4 + size);
  return S_OK;
}

HRESULT KvFMMeta64_BeginChunk(HANDLE file, const GUID& id, int64_t* sizePos) {
  uint64_t riffSize = 0;
  GUID riff;
  if (!Seek(file, 0) || !ReadAll(file, &riff, sizeof(riff)) || !ReadAll(file, &riffSize, 8))
    return KV_E_READ;
  if (!IsEqualGUID(riff, KVRIFF64_RIFF)) return KV_E_NORIFF;
  if (riffSize < 40 || riffSize > FileLength(file) || riffSize > static_cast<uint64_t>(INT64_MAX))
    return KV_E_BADLENGTH;
  if (!Seek(file, static_cast<int64_t>(riffSize))) return KV_E_WRITE;
  uint64_t zero = 0;
  if (!WriteAll(file, &id, sizeof(GUID)) || !WriteAll(file, &zero, 8)) return KV_E_WRITE;
  if (sizePos) *sizePos = static_cast<int64_t>(riffSize) + 16;
  return S_OK;
}

HRESULT KvFMMeta64_EndChunk(HANDLE file, int64_t sizePos, uint64_t size) {
  static const BYTE zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  DWORD pad = static_cast<DWORD>((8 - (size & 7)) & 7);
  if (!WriteAll(file, zeros, pad)) return KV_E_WRITE;
  uint64_t total = size + pad + 24;
  if (!Seek(file, sizePos) || !WriteAll(file, &total, 8)) return KV_E_WRITE;
  HRESULT hr = riff64_UpdateRIFFSize(file, static_cast<int64_t>(total));
  if (FAILED(hr)) return hr;
  Seek(file, sizePos - 16 + static_cast<int64_t>(total));
  return S_OK;
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
  DWORD content = 0, form = 0, size = 0;
  if (SUCCEEDED(riff_ReadFileID(file, &content, &form)) && form == kFormKvpl &&
      SUCCEEDED(riff_FindChunkHeader(file, kKvpi, &size, &content))) {
    char ansi[kMaxPath] = {};
    DWORD n = size < kMaxPath - 1 ? size : kMaxPath - 1;
    if (ReadAll(file, ansi, n)) {
      ansi[n] = 0;
      wchar_t wide[kMaxPath];
      KvMultiByteToWide(wide, ansi, kMaxPath, static_cast<int>(strlen(ansi)), CP_ACP);
      const wchar_t* name = KvGetFileNamePtrW(mediaPath);
      match = lstrcmpW(wide, name ? name : mediaPath) == 0;
    }
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
  HRESULT hr = DeleteAll(file, kKvpi, FALSE);
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
