// The kinds of metadata chunks and the file-level operations on them: the
// kind tables, the deletion of stale chunks of given kinds, the chunk frame
// and the sidecar's "KVPI" name. Built natively as well (fuzz target and
// sanitizers); the reader-facing writers are in kvfmmeta.cpp.
#include "kvmetakinds.h"

#include "kvguid.h"
#include "kviff.h"
#include "kvresult.h"
#include "kvriff.h"
#include "kvriff_io.h"

namespace {

constexpr DWORD Four(const char (&s)[5]) { return KVRIFF_FOURCC(s[0], s[1], s[2], s[3]); }

const DWORD kFormKvpl = Four("KVPL");
const DWORD kKvpi = Four("KVPI");
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

bool IsAiff(HANDLE file) {
  DWORD formSize = 0;
  return iff_IsAIFFFile(file, &formSize) != FALSE;
}

bool Seek(HANDLE file, int64_t pos) { return pos >= 0 && kvriffio::SetPos(file, static_cast<uint64_t>(pos)); }

}  // namespace

// ---- kinds ----

KVFIO_TYPESOFMETADATA KvFMMeta_KindFromGuid(const GUID& guid) {
  for (const KindGuid& k : kKinds)
    if (KvGuidEquals(guid, *k.guid)) return k.kind;
  return 0;
}

const GUID* KvFMMeta_GuidFromKind(KVFIO_TYPESOFMETADATA kind) {
  if (kind == KVFIO_META_AIFFINST) kind = KVFIO_META_SAMPLER;
  for (const KindGuid& k : kKinds)
    if (k.kind == kind) return k.guid;
  return nullptr;
}

// ---- deletion ----

HRESULT KvFMMeta_DeleteAll(HANDLE file, DWORD id, BOOL isList) {
  for (int i = 0; i < kMaxRepeats; ++i) {
    HRESULT hr = riff_DeleteChunk(file, id, nullptr, isList);
    if (hr == KV_E_NOTFOUND) return S_OK;
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT KvFMMeta_DeleteChunksOfKinds(HANDLE file, KVFIO_TYPESOFMETADATA kinds) {
  // An AIFF file has only its own instrument and markers to lose.
  if (IsAiff(file)) {
    if (!(kinds & KVFIO_META_AIFFINST)) return S_OK;
    HRESULT hr = DeleteAllIff(file, KVIFF_INST);
    return SUCCEEDED(hr) ? DeleteAllIff(file, KVIFF_MARK) : hr;
  }
  for (const RiffRow& row : kRiffRows) {
    if (!(kinds & row.kind)) continue;
    HRESULT hr = KvFMMeta_DeleteAll(file, row.id, row.isList);
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

// ---- the sidecar's name ----

HRESULT KvFMMeta_ReadAttachedName(HANDLE file, char* out, DWORD cch) {
  if (!out || cch == 0) return E_INVALIDARG;
  out[0] = 0;
  DWORD content = 0, form = 0, size = 0;
  if (!Seek(file, 0) || FAILED(riff_ReadFileID(file, &content, &form)) || form != kFormKvpl ||
      FAILED(riff_FindChunkHeader(file, kKvpi, &size, &content)))
    return KV_E_NOTFOUND;
  DWORD n = size < cch - 1 ? size : cch - 1;
  if (!kvriffio::ReadAll(file, out, n)) return KV_E_READ;
  out[n] = 0;
  return S_OK;
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
  if (end > kvriffio::FileLength(file)) return KV_E_BADLENGTH;
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
    if (!kvriffio::WriteAll(file, &zero, 1)) return KV_E_WRITE;
    ++size;
  }
  if (!Seek(file, sizePos) || !kvriffio::WriteAll(file, &size, 4)) return KV_E_WRITE;
  HRESULT hr = riff_UpdateRIFFSize(file, static_cast<int64_t>(size) + 8);
  if (FAILED(hr)) return hr;
  Seek(file, sizePos + 4 + size);
  return S_OK;
}

HRESULT KvFMMeta64_BeginChunk(HANDLE file, const GUID& id, int64_t* sizePos) {
  uint64_t riffSize = 0;
  GUID riff;
  if (!Seek(file, 0) || !kvriffio::ReadAll(file, &riff, sizeof(riff)) || !kvriffio::ReadAll(file, &riffSize, 8))
    return KV_E_READ;
  if (!KvGuidEquals(riff, KVRIFF64_RIFF)) return KV_E_NORIFF;
  if (riffSize < 40 || riffSize > kvriffio::FileLength(file) || riffSize > static_cast<uint64_t>(INT64_MAX))
    return KV_E_BADLENGTH;
  if (!Seek(file, static_cast<int64_t>(riffSize))) return KV_E_WRITE;
  uint64_t zero = 0;
  if (!kvriffio::WriteAll(file, &id, sizeof(GUID)) || !kvriffio::WriteAll(file, &zero, 8)) return KV_E_WRITE;
  if (sizePos) *sizePos = static_cast<int64_t>(riffSize) + 16;
  return S_OK;
}

HRESULT KvFMMeta64_EndChunk(HANDLE file, int64_t sizePos, uint64_t size) {
  static const BYTE zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  DWORD pad = static_cast<DWORD>((8 - (size & 7)) & 7);
  if (!kvriffio::WriteAll(file, zeros, pad)) return KV_E_WRITE;
  uint64_t total = size + pad + 24;
  if (!Seek(file, sizePos) || !kvriffio::WriteAll(file, &total, 8)) return KV_E_WRITE;
  HRESULT hr = riff64_UpdateRIFFSize(file, static_cast<int64_t>(total));
  if (FAILED(hr)) return hr;
  Seek(file, sizePos - 16 + static_cast<int64_t>(total));
  return S_OK;
}

