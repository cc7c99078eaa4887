// Summary item lists: editing, comparing and merging in memory, loading
// from and saving to "LIST" "INFO" / "UNFO" chunks of RIFF files.
#include "kvsummary.h"

#include <string.h>

#include "kvbyteorder.h"
#include "kvglobalblock.h"
#include "kvriff.h"

namespace {

const DWORD kInfo = KVRIFF_FOURCC('I', 'N', 'F', 'O');
const DWORD kUnfo = KVRIFF_FOURCC('U', 'N', 'F', 'O');

// Largest list this writer produces: the list must still fit a RIFF file.
const uint64_t kMaxListSize = 0xFFFFFFF7u - 4 - 8;

// A copy of text in its own block; null stays null. *failed tells an
// allocation failure apart from a null text.
wchar_t* CopyText(const wchar_t* text, bool* failed) {
  *failed = false;
  if (!text) return nullptr;
  size_t len = wcslen(text);
  if (len >= 0x7FFFFFFEu) {
    *failed = true;
    return nullptr;
  }
  DWORD bytes = static_cast<DWORD>((len + 1) * sizeof(wchar_t));
  wchar_t* p = static_cast<wchar_t*>(kvblock::Alloc(bytes));
  if (!p) {
    *failed = true;
    return nullptr;
  }
  memcpy(p, text, bytes);
  return p;
}

// Appends one item holding text as it is (the list takes the block over).
HRESULT AppendItem(KvSummary* s, DWORD id, wchar_t* text) {
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
HRESULT GrowSummaryItems(KvSummary* s, DWORD id, const wchar_t* text) {
  bool failed = false;
  wchar_t* copy = CopyText(text, &failed);
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

bool Tell(HANDLE file, uint64_t* pos) {
  LARGE_INTEGER zero, now;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(file, zero, &now, FILE_CURRENT)) return false;
  *pos = static_cast<uint64_t>(now.QuadPart);
  return true;
}

bool SeekTo(HANDLE file, uint64_t pos) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

// Bytes of the file after the current position.
bool BytesAhead(HANDLE file, uint64_t* ahead) {
  uint64_t pos = 0;
  LARGE_INTEGER len;
  if (!Tell(file, &pos) || !GetFileSizeEx(file, &len)) return false;
  uint64_t l = static_cast<uint64_t>(len.QuadPart);
  *ahead = l > pos ? l - pos : 0;
  return true;
}

bool WriteExact(HANDLE file, const void* data, DWORD size) {
  DWORD put = 0;
  if (size == 0) return true;
  return WriteFile(file, data, size, &put, nullptr) && put == size;
}

// Reads a sub-chunk's data of size bytes (and its pad byte) into a new
// wide text. The size was checked against the list and the file.
HRESULT ReadText(HANDLE file, DWORD size, bool wide, wchar_t** text) {
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
  if (wide) {
    // size / 2 characters, terminated.
    *text = reinterpret_cast<wchar_t*>(raw);
    (*text)[size / 2] = 0;
    return S_OK;
  }
  wchar_t* out = static_cast<wchar_t*>(kvblock::Alloc(size * 2 + 2));
  if (!out) {
    kvblock::Free(raw);
    return E_OUTOFMEMORY;
  }
  // raw[size] is the added terminating zero.
  int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<const char*>(raw), static_cast<int>(size) + 1,
                              out, static_cast<int>(size) + 1);
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
    wchar_t* text = nullptr;
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
    const wchar_t* text = s->items[i].text;
    if (!text) continue;
    size_t len = wcslen(text);
    DWORD n = 0;
    char* ansi = nullptr;
    if (wide) {
      if (len >= kMaxListSize / 2) return E_OUTOFMEMORY;
      n = static_cast<DWORD>((len + 1) * 2);
    } else {
      int need = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
      n = need > 0 ? static_cast<DWORD>(need) : 1;
      ansi = static_cast<char*>(kvblock::Alloc(n));
      if (!ansi) return E_OUTOFMEMORY;
      if (need > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, need, nullptr, nullptr);
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

const wchar_t* KVAPI KvSummary_GetItemText(const KvSummary* s, DWORD id) {
  long i = FindIndex(s, id);
  return i < 0 ? nullptr : s->items[i].text;
}

HRESULT KVAPI KvSummary_SetItem(KvSummary* s, DWORD id, const wchar_t* text) {
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
  wchar_t* copy = CopyText(text, &failed);
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
    const wchar_t* x = a->items[i].text;
    const wchar_t* y = b->items[i].text;
    if (!x && !y) continue;
    if (!x || !y || lstrcmpW(x, y) != 0) return FALSE;
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

HRESULT KVAPI KvSummary_GetStringFromFile(HANDLE file, DWORD id, wchar_t* buf, int cch, DWORD listBytes) {
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
    wchar_t* text = nullptr;
    hr = ReadText(file, size, false, &text);
    if (SUCCEEDED(hr)) {
      lstrcpynW(buf, text, cch);
      buf[cch - 1] = 0;
      kvblock::Free(text);
    }
  }
  SeekTo(file, start);
  return hr;
}
