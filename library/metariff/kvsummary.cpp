// Summary item lists: editing, comparing and merging in memory, loading
// from and saving to "LIST" "INFO" / "UNFO" chunks of RIFF files.
#include "kvsummary.h"

#include <string.h>

#include "kvbyteorder.h"
#include "kvmemblock.h"
#include "kvriff.h"
#include "kvwidetext.h"

namespace {

const DWORD kInfo = KVRIFF_FOURCC('I', 'N', 'F', 'O');
const DWORD kUnfo = KVRIFF_FOURCC('U', 'N', 'F', 'O');

// Largest list this writer produces: the list must still fit a RIFF file.
const uint64_t kMaxListSize = 0xFFFFFFF7u - 4 - 8;

// A copy of text in its own block; null stays null. *failed tells an
// allocation failure apart from a null text.
WCHAR* CopyText(const WCHAR* text, bool* failed) {
  *failed = false;
  if (!text) return nullptr;
  size_t len = kvwide::Length(text);
  if (len >= 0x7FFFFFFEu) {
    *failed = true;
    return nullptr;
  }
  DWORD bytes = static_cast<DWORD>((len + 1) * sizeof(WCHAR));
  WCHAR* p = static_cast<WCHAR*>(kvblock::Alloc(bytes));
  if (!p) {
    *failed = true;
    return nullptr;
  }
  memcpy(p, text, bytes);
  return p;
}

// Appends one item holding text as it is (the list takes the block over).
HRESULT AppendItem(KvSummary* s, DWORD id, WCHAR* text) {
  if (s->count >= 0x1FFFFFFFu) return E_OUTOFMEMORY;
  DWORD bytes = (s->count + 1) * sizeof(KvSummaryItem);
  KvSummaryItem* items = static_cast<KvSummaryItem*>(kvblock::Resize(s->items, bytes));
  if (!items) return E_OUTOFMEMORY;
  s->items = items;
  s->items[s->count].id = id;
  s->items[s->count].text = text;
  ++s->count;
  return S_OK;
}

// Grows the list by one item with a copy of text (null stays null).
HRESULT GrowSummaryItems(KvSummary* s, DWORD id, const WCHAR* text) {
  bool failed = false;
  WCHAR* copy = CopyText(text, &failed);
  if (failed) return E_OUTOFMEMORY;
  HRESULT hr = AppendItem(s, id, copy);
  if (FAILED(hr)) kvblock::Free(copy);
  return hr;
}

long FindIndex(const KvSummary* s, DWORD id) {
  if (!s || !s->items) return -1;
  for (DWORD i = 0; i < s->count; ++i)
    if (s->items[i].id == id) return static_cast<long>(i);
  return -1;
}

bool Tell(HANDLE file, uint64_t* pos) { return kvfile::Seek(file, 0, FILE_CURRENT, pos); }

bool SeekTo(HANDLE file, uint64_t pos) { return kvfile::Seek(file, static_cast<int64_t>(pos), FILE_BEGIN); }

// Bytes of the file after the current position.
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

// Reads a sub-chunk's data of size bytes (and its pad byte) into a new
// wide text. The size was checked against the list and the file.
HRESULT ReadText(HANDLE file, DWORD size, bool wide, WCHAR** text) {
  *text = nullptr;
  if (size > 0xFFFFFFF0u) return KV_E_READ;
  // Room for the data and a terminator of either width, also after an odd
  // byte count (the last, odd byte of a wide text is not part of it).
  BYTE* raw = static_cast<BYTE*>(kvblock::Alloc(size + 4));
  if (!raw) return E_OUTOFMEMORY;
  HRESULT hr = riff_ReadData(file, raw, size);
  if (FAILED(hr)) {
    kvblock::Free(raw);
    return hr;
  }
  static_assert(sizeof(WCHAR) == 2, "texts are held as the file's 16-bit units");
  if (wide) {
    // size / 2 characters, terminated: the terminator's two bytes start at
    // byte size & ~1, inside the size + 4 allocated.
    *text = reinterpret_cast<WCHAR*>(raw);
    (*text)[size / 2] = 0;
    return S_OK;
  }
  // One character per byte and the terminator.
  if (size >= 0x7FFFFFFFu) {
    kvblock::Free(raw);
    return E_OUTOFMEMORY;
  }
  WCHAR* out = static_cast<WCHAR*>(kvblock::Alloc((size + 1) * sizeof(WCHAR)));
  if (!out) {
    kvblock::Free(raw);
    return E_OUTOFMEMORY;
  }
  // raw[size] is the added terminating zero.
  int n = kvwide::FromAnsi(reinterpret_cast<const char*>(raw), static_cast<int>(size) + 1, out,
                           static_cast<int>(size) + 1);
  if (n <= 0) out[0] = 0;
  out[size] = 0;
  kvblock::Free(raw);
  *text = out;
  return S_OK;
}

HRESULT LoadList(HANDLE file, KvSummary* out, DWORD* listBytes, bool wide) {
  if (!out || !listBytes) return E_INVALIDARG;
  out->count = 0;
  out->items = nullptr;
  DWORD count = 0;
  DWORD bound = *listBytes;
  HRESULT hr = riff_GetNumListEntries(file, &count, &bound);
  if (FAILED(hr)) return hr;
  if (count == 0) return S_OK;
  if (count > 0x1FFFFFFFu) return E_OUTOFMEMORY;
  KvSummaryItem* items = static_cast<KvSummaryItem*>(kvblock::Alloc(count * sizeof(KvSummaryItem)));
  if (!items) return E_OUTOFMEMORY;
  out->items = items;
  DWORD left = *listBytes;
  for (DWORD i = 0; i < count; ++i) {
    DWORD id = 0, size = 0;
    hr = left < 8 ? KV_E_READ : riff_ReadChunkHeader(file, &id, &size);
    if (FAILED(hr)) break;
    left -= 8;
    // The size comes from the file: it must lie within the list and the
    // file before anything is allocated for it.
    uint64_t ahead = 0;
    if (size > left || !BytesAhead(file, &ahead) || size > ahead) {
      hr = KV_E_READ;
      break;
    }
    WCHAR* text = nullptr;
    hr = ReadText(file, size, wide, &text);
    if (FAILED(hr)) break;
    uint64_t padded = static_cast<uint64_t>(size) + (size & 1);
    left = padded >= left ? 0 : static_cast<DWORD>(left - padded);
    out->items[i].id = id;
    out->items[i].text = text;
    out->count = i + 1;
  }
  if (FAILED(hr)) KvSummary_Free(out);
  return hr;
}

HRESULT SaveList(HANDLE file, const KvSummary* s, DWORD* written, bool wide) {
  if (written) *written = 0;
  if (!s) return E_INVALIDARG;
  if (s->count == 0 || !s->items) return S_OK;
  uint64_t start = 0;
  if (!Tell(file, &start)) return KV_E_WRITE;
  HRESULT hr = riff_WriteListHeader(file, wide ? kUnfo : kInfo, 0);
  if (FAILED(hr)) return hr;
  uint64_t listSize = 4;
  for (DWORD i = 0; i < s->count; ++i) {
    const WCHAR* text = s->items[i].text;
    if (!text) continue;
    size_t len = kvwide::Length(text);
    DWORD n = 0;
    char* ansi = nullptr;
    if (wide) {
      if (len >= kMaxListSize / 2) return E_OUTOFMEMORY;
      n = static_cast<DWORD>((len + 1) * 2);
    } else {
      int need = kvwide::ToAnsi(text, nullptr, 0);
      n = need > 0 ? static_cast<DWORD>(need) : 1;
      ansi = static_cast<char*>(kvblock::Alloc(n));
      if (!ansi) return E_OUTOFMEMORY;
      if (need > 0) kvwide::ToAnsi(text, ansi, need);
      ansi[n - 1] = 0;
    }
    uint64_t padded = static_cast<uint64_t>(n) + (n & 1);
    if (listSize + 8 + padded > kMaxListSize) {
      kvblock::Free(ansi);
      return E_OUTOFMEMORY;
    }
    static const BYTE pad = 0;
    bool ok = SUCCEEDED(riff_WriteChunkHeader(file, s->items[i].id, n)) &&
              WriteExact(file, wide ? static_cast<const void*>(text) : ansi, n) && (!(n & 1) || WriteExact(file, &pad, 1));
    kvblock::Free(ansi);
    if (!ok) return KV_E_WRITE;
    listSize += 8 + padded;
  }
  uint64_t end = 0;
  BYTE field[4];
  PutLE32(field, static_cast<DWORD>(listSize));
  if (!Tell(file, &end) || !SeekTo(file, start + 4) || !WriteExact(file, field, 4) || !SeekTo(file, end))
    return KV_E_WRITE;
  if (written) *written = static_cast<DWORD>(listSize + 8);
  return S_OK;
}

}  // namespace

HRESULT KVAPI KvSummary_Free(KvSummary* s) {
  if (!s) return E_INVALIDARG;
  if (s->items) {
    for (DWORD i = 0; i < s->count; ++i) kvblock::Free(s->items[i].text);
    kvblock::Free(s->items);
  }
  s->count = 0;
  s->items = nullptr;
  return S_OK;
}

HRESULT KVAPI KvSummary_GetItemIndex(const KvSummary* s, DWORD id) {
  long i = FindIndex(s, id);
  return i < 0 ? KV_E_NOTFOUND : static_cast<HRESULT>(i);
}

const WCHAR* KVAPI KvSummary_GetItemText(const KvSummary* s, DWORD id) {
  long i = FindIndex(s, id);
  return i < 0 ? nullptr : s->items[i].text;
}

HRESULT KVAPI KvSummary_SetItem(KvSummary* s, DWORD id, const WCHAR* text) {
  if (!s || id == 0) return E_INVALIDARG;
  long i = FindIndex(s, id);
  if (i < 0) return GrowSummaryItems(s, id, text);
  KvSummaryItem& item = s->items[i];
  if (!text) {
    kvblock::Free(item.text);
    item.text = nullptr;
    return S_OK;
  }
  bool failed = false;
  WCHAR* copy = CopyText(text, &failed);
  if (failed) return E_OUTOFMEMORY;
  kvblock::Free(item.text);
  item.text = copy;
  return S_OK;
}

HRESULT KVAPI KvSummary_Copy(KvSummary* dst, const KvSummary* src) {
  if (!dst || !src) return E_INVALIDARG;
  dst->count = 0;
  dst->items = nullptr;
  if (src->count == 0 || !src->items) return S_OK;
  for (DWORD i = 0; i < src->count; ++i) {
    HRESULT hr = GrowSummaryItems(dst, src->items[i].id, src->items[i].text);
    if (FAILED(hr)) {
      KvSummary_Free(dst);
      return hr;
    }
  }
  return S_OK;
}

BOOL KVAPI KvSummary_Compare(const KvSummary* a, const KvSummary* b) {
  if (!a || !b || a->count != b->count) return FALSE;
  for (DWORD i = 0; i < a->count; ++i) {
    const WCHAR* x = a->items[i].text;
    const WCHAR* y = b->items[i].text;
    if (!x && !y) continue;
    if (!x || !y || kvwide::Compare(x, y) != 0) return FALSE;
  }
  return TRUE;
}

HRESULT KVAPI KvSummary_Merge(KvSummary* dst, KvSummary* src, BOOL replace, BOOL move) {
  if (!dst || !src) return E_INVALIDARG;
  if (src->count == 0 || !src->items || dst == src) return S_OK;
  if (!move) {
    for (DWORD i = 0; i < src->count; ++i) {
      const KvSummaryItem& item = src->items[i];
      HRESULT hr = S_OK;
      if (FindIndex(dst, item.id) >= 0) {
        if (replace) hr = KvSummary_SetItem(dst, item.id, item.text);
      } else {
        hr = GrowSummaryItems(dst, item.id, item.text);
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  if (dst->count == 0) {
    KvSummary_Free(dst);
    *dst = *src;
    src->count = 0;
    src->items = nullptr;
    return S_OK;
  }
  HRESULT hr = S_OK;
  for (DWORD i = 0; i < src->count && SUCCEEDED(hr); ++i) {
    KvSummaryItem& item = src->items[i];
    long at = FindIndex(dst, item.id);
    if (at >= 0) {
      if (replace) {
        kvblock::Free(dst->items[at].text);
        dst->items[at].text = item.text;
        item.text = nullptr;
      }
    } else {
      hr = AppendItem(dst, item.id, item.text);
      if (SUCCEEDED(hr)) item.text = nullptr;
    }
  }
  KvSummary_Free(src);
  return hr;
}

HRESULT KVAPI KvSummary_Load(HANDLE file, KvSummary* out, DWORD* listBytes) {
  return LoadList(file, out, listBytes, false);
}

HRESULT KVAPI KvSummary_LoadUNFO(HANDLE file, KvSummary* out, DWORD* listBytes) {
  return LoadList(file, out, listBytes, true);
}

HRESULT KVAPI KvSummary_Save(HANDLE file, const KvSummary* s, DWORD* written) {
  return SaveList(file, s, written, false);
}

HRESULT KVAPI KvSummary_SaveUNFO(HANDLE file, const KvSummary* s, DWORD* written) {
  return SaveList(file, s, written, true);
}

HRESULT KVAPI KvSummary_GetStringFromFile(HANDLE file, DWORD id, WCHAR* buf, int cch, DWORD listBytes) {
  if (!buf || cch < 1) return E_INVALIDARG;
  buf[0] = 0;
  uint64_t start = 0;
  if (!Tell(file, &start)) return KV_E_READ;
  DWORD remaining = listBytes, listSize = 0, size = 0;
  HRESULT hr = riff_FindListChunk(file, kInfo, &listSize, &remaining);
  if (SUCCEEDED(hr)) {
    // The sub-chunks lie within the list and within the bytes searched.
    DWORD inList = listSize < remaining ? listSize : remaining;
    hr = riff_FindChunkHeader(file, id, &size, &inList);
    uint64_t ahead = 0;
    if (SUCCEEDED(hr) && (size > inList || !BytesAhead(file, &ahead) || size > ahead)) hr = KV_E_READ;
  }
  if (SUCCEEDED(hr)) {
    WCHAR* text = nullptr;
    hr = ReadText(file, size, false, &text);
    if (SUCCEEDED(hr)) {
      kvwide::CopyN(buf, text, static_cast<size_t>(cch));
      kvblock::Free(text);
    }
  }
  SeekTo(file, start);
  return hr;
}
