// Display lists: creation and editing, "DISP" chunks in RIFF files, GUID
// chunks in 64-bit RIFF files, stream records, and GDI bitmaps from the
// CF_DIB item of a file.
//
// Item data lives in zero-filled movable global memory that the item keeps
// locked. Sizes read from files and streams are checked against the bytes
// that are really there before anything is allocated, and a DIB is checked
// to hold its header, colour table and bits before GDI sees it.
#include "kvdisplist.h"
#include "kvmemblock.h"
#include "kvriff_io.h"

#include <new>
#include <string.h>

namespace {

using kvriffio::Forward;
using kvriffio::GetPos;
using kvriffio::ReadAll;
using kvriffio::SetPos;
using kvriffio::WriteAll;

constexpr DWORD kRoomOfNewList = 2;
constexpr DWORD kRiffHeader = 8;
constexpr uint64_t kRiff64Header = 24;

void ReleaseData(displist_item* item) {
  kvblock::Free(item->data);
  item->data = nullptr;
  item->size = 0;
}

// A zero-filled, movable, locked block of size bytes, or null.
void* AllocLocked(DWORD size) { return kvblock::Alloc(size); }

displist_item* FindItem(displist* list, DWORD format) {
  if (!list || !list->items) return nullptr;
  for (DWORD i = 0; i < list->count && i < list->room; ++i)
    if (list->items[i].format == format) return &list->items[i];
  return nullptr;
}

// Moves back by amount bytes (never before the start of the file).
bool Back(HANDLE file, uint64_t amount) {
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return false;
  return SetPos(file, pos > amount ? pos - amount : 0);
}

uint64_t BytesAhead(HANDLE file) {
  uint64_t ahead = 0;
  return kvriffio::BytesAhead(file, &ahead) ? ahead : 0;
}

// Reads size bytes of an item's data into a fresh block and gives it to the
// item (its previous block released); the caller has checked that the file
// holds them.
HRESULT ReadItemData(HANDLE file, displist_item* item, DWORD size) {
  void* p = AllocLocked(size ? size : 1);
  if (!p) return E_OUTOFMEMORY;
  if (!ReadAll(file, p, size)) {
    kvblock::Free(p);
    return KV_E_READ;
  }
  ReleaseData(item);
  item->data = p;
  item->size = size;
  return S_OK;
}

// Width in bytes of one row of a DIB: rows are padded to 32 bits.
uint64_t DibStride(int32_t width, WORD bits) {
  return ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
}

}  // namespace

bool DibIsWhole(const void* dib, DWORD size) {
  if (!dib || size < sizeof(BITMAPCOREHEADER)) return false;
  const BYTE* p = static_cast<const BYTE*>(dib);
  DWORD headerSize;
  memcpy(&headerSize, p, 4);
  uint64_t table = 0, bitsSize = 0;
  if (headerSize == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER h;
    memcpy(&h, p, sizeof(h));
    if (h.bcPlanes != 1 || h.bcWidth == 0 || h.bcHeight == 0) return false;
    if (h.bcBitCount != 1 && h.bcBitCount != 4 && h.bcBitCount != 8 && h.bcBitCount != 24) return false;
    table = DibColorTableSize(dib);
    bitsSize = DibStride(h.bcWidth, h.bcBitCount) * h.bcHeight;
  } else {
    if (headerSize < sizeof(BITMAPINFOHEADER) || headerSize > size) return false;
    BITMAPINFOHEADER h;
    memcpy(&h, p, sizeof(h));
    if (h.biPlanes != 1 || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
    switch (h.biBitCount) {
      case 1: case 4: case 8: case 16: case 24: case 32: break;
      default: return false;
    }
    table = DibColorTableSize(dib);
    // BI_BITFIELDS: three colour masks follow a 40-byte header.
    if (h.biCompression == BI_BITFIELDS && headerSize == sizeof(BITMAPINFOHEADER)) table += 12;
    uint64_t rows = static_cast<uint64_t>(h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight);
    if (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS) {
      bitsSize = DibStride(h.biWidth, h.biBitCount) * rows;
    } else if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) {
      if (h.biSizeImage == 0 || h.biHeight < 0) return false;
      bitsSize = h.biSizeImage;
    } else {
      return false;
    }
  }
  return static_cast<uint64_t>(headerSize) + table + bitsSize <= size;
}

DWORD DibColorTableSize(const void* dib) {
  const BYTE* p = static_cast<const BYTE*>(dib);
  DWORD headerSize;
  memcpy(&headerSize, p, 4);
  WORD bits;
  DWORD perEntry = 4, entries = 0;
  if (headerSize == sizeof(BITMAPCOREHEADER)) {
    perEntry = 3;
    memcpy(&bits, p + offsetof(BITMAPCOREHEADER, bcBitCount), 2);
  } else {
    memcpy(&bits, p + offsetof(BITMAPINFOHEADER, biBitCount), 2);
    DWORD used;
    memcpy(&used, p + offsetof(BITMAPINFOHEADER, biClrUsed), 4);
    entries = used & 0xFFFF;
  }
  if (entries == 0) entries = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  return entries * perEntry;
}

#ifdef _WIN32
HBITMAP CreateBitmapFromDib(const void* dib, HPALETTE palette) {
  HDC dc = GetDC(nullptr);
  if (!dc) return nullptr;
  HPALETTE old = nullptr;
  if (palette) {
    old = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(dib);
  DWORD table = DibColorTableSize(dib);
  if (header->biSize == sizeof(BITMAPINFOHEADER) && header->biCompression == BI_BITFIELDS) table += 12;
  const BYTE* bits = static_cast<const BYTE*>(dib) + header->biSize + table;
  HBITMAP bmp = CreateDIBitmap(dc, header, CBM_INIT, bits, reinterpret_cast<const BITMAPINFO*>(header),
                               DIB_RGB_COLORS);
  if (palette) SelectPalette(dc, old, FALSE);
  ReleaseDC(nullptr, dc);
  return bmp;
}
#endif  // _WIN32

extern "C" {

displist* KVAPI displist_Create(void) {
  displist* list = new (std::nothrow) displist;
  if (!list) return nullptr;
  list->items = new (std::nothrow) displist_item[kRoomOfNewList];
  if (!list->items) {
    delete list;
    return nullptr;
  }
  list->room = kRoomOfNewList;
  list->count = kRoomOfNewList;
  list->items[0] = {CF_TEXT, 0, nullptr};
  list->items[1] = {CF_DIB, 0, nullptr};
  return list;
}

void KVAPI displist_Destroy(displist* list) {
  if (!list) return;
  displist_Free(list);
  delete[] list->items;
  delete list;
}

HRESULT KVAPI displist_Free(displist* list) {
  if (!list) return E_INVALIDARG;
  if (list->items)
    for (DWORD i = 0; i < list->room; ++i) ReleaseData(&list->items[i]);
  return S_OK;
}

displist_item* KVAPI displist_GetItem(displist* list, DWORD format) { return FindItem(list, format); }

LONG KVAPI displist_SetItem(displist* list, DWORD format, DWORD size, const void* data) {
  if (!list || list->count < 1) return -1;
  displist_item* item = FindItem(list, format);
  if (!item) return -1;
  if (!data || size == 0) {
    ReleaseData(item);
    return 0;
  }
  // A fresh block first: when memory runs out the item keeps what it had.
  void* p = AllocLocked(size);
  if (!p) return -1;
  memcpy(p, data, size);
  ReleaseData(item);
  item->data = p;
  item->size = size;
  return 0;
}

HRESULT KVAPI displist_Save(HANDLE file, displist* list, DWORD* written) {
  if (written) *written = 0;
  if (!list) return E_INVALIDARG;
  DWORD total = 0;
  for (DWORD i = 0; i < list->count && i < list->room; ++i) {
    const displist_item& item = list->items[i];
    if (!item.data || item.size == 0) continue;
    // The chunk size (data + 4) must fit 32 bits with its pad byte.
    if (item.size > 0xFFFFFFF7u - 4 - kRiffHeader) return KV_E_TOOBIG;
    HRESULT hr = riff_WriteChunkHeader(file, KVDISPLIST_CHUNK, item.size + 4);
    if (FAILED(hr)) return hr;
    if (!WriteAll(file, &item.format, 4) || !WriteAll(file, item.data, item.size)) return KV_E_WRITE;
    DWORD pad = item.size & 1;
    if (pad) {
      BYTE zero = 0;
      if (!WriteAll(file, &zero, 1)) return KV_E_WRITE;
    }
    total += item.size + pad + 12;
  }
  if (written) *written = total;
  return S_OK;
}

HRESULT KVAPI displist_Load(HANDLE file, displist* list, DWORD* remaining) {
  if (!list || !remaining) return E_INVALIDARG;
  if (list->count == 0) return S_OK;
  uint64_t start = 0;
  if (!GetPos(file, &start)) return KV_E_READ;
  HRESULT hr = S_OK;
  while (*remaining >= kRiffHeader) {
    DWORD id = 0, size = 0;
    hr = riff_ReadChunkHeader(file, &id, &size);
    if (FAILED(hr)) {
      SetPos(file, start);
      return hr;
    }
    *remaining -= kRiffHeader;
    uint64_t padded = static_cast<uint64_t>(size) + (size & 1);
    DWORD format = 0;
    displist_item* item = nullptr;
    // A "DISP" chunk too short for its format is skipped as corrupt.
    if (id == KVDISPLIST_CHUNK && size >= 4) {
      if (!ReadAll(file, &format, 4)) {
        hr = KV_E_READ;
        break;
      }
      item = FindItem(list, format);
      if (!item) Back(file, 4);
    }
    if (item) {
      DWORD dataSize = size - 4;
      if (dataSize > BytesAhead(file)) {
        hr = KV_E_READ;
        break;
      }
      hr = ReadItemData(file, item, dataSize);
      if (FAILED(hr)) break;
      if (size & 1) Forward(file, 1);
    } else if (!Forward(file, padded)) {
      hr = KV_E_READ;
      break;
    }
    *remaining = padded > *remaining ? 0 : *remaining - static_cast<DWORD>(padded);
  }
  if (FAILED(hr)) displist_Free(list);
  SetPos(file, start);
  return hr;
}

HRESULT KVAPI displist_LoadFromStream(displist* list, IStream* stream) {
  if (!list || !stream) return E_INVALIDARG;
  // Bytes of the stream still ahead, when the stream can tell (its end found
  // by a move there and back).
  uint64_t ahead = UINT64_MAX;
  LARGE_INTEGER zero, back;
  zero.QuadPart = 0;
  ULARGE_INTEGER pos, end;
  if (SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &pos)) && pos.QuadPart <= uint64_t(INT64_MAX)) {
    back.QuadPart = static_cast<LONGLONG>(pos.QuadPart);
    if (SUCCEEDED(stream->Seek(zero, STREAM_SEEK_END, &end))) {
      if (FAILED(stream->Seek(back, STREAM_SEEK_SET, nullptr))) return KV_E_READ;
      ahead = end.QuadPart > pos.QuadPart ? end.QuadPart - pos.QuadPart : 0;
    }
  }
  auto readAll = [&](void* buffer, DWORD size) {
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer, size, &got);
    if (FAILED(hr) || got != size) return false;
    if (ahead != UINT64_MAX) ahead -= got;
    return true;
  };
  DWORD count = 0;
  if (!readAll(&count, 4)) return KV_E_READ;
  // The list cannot take more items than its array has room for.
  if (count > list->room || !list->items) return KV_E_CORRUPT;
  list->count = count;
  for (DWORD i = 0; i < count; ++i) {
    displist_item* item = &list->items[i];
    DWORD head[2];
    if (!readAll(head, 8)) return KV_E_READ;
    ReleaseData(item);
    item->format = head[0];
    if (head[1] == 0) continue;
    if (head[1] > ahead) return KV_E_READ;
    void* p = AllocLocked(head[1]);
    if (!p) return E_OUTOFMEMORY;
    if (!readAll(p, head[1])) {
      kvblock::Free(p);
      return KV_E_READ;
    }
    item->data = p;
    item->size = head[1];
  }
  return S_OK;
}

HRESULT KVAPI displist64_Save(HANDLE file, displist* list, uint64_t* written) {
  if (written) *written = 0;
  if (!list) return E_INVALIDARG;
  uint64_t total = 0;
  for (DWORD i = 0; i < list->count && i < list->room; ++i) {
    const displist_item& item = list->items[i];
    if (!item.data || item.size == 0) continue;
    uint64_t start = 0;
    HRESULT hr = riff64_PrepareChunk(file, KVRIFF64_DISPLIST_ITEM, &start);
    if (FAILED(hr)) return hr;
    if (!WriteAll(file, &item.format, 4) || !WriteAll(file, item.data, item.size)) return KV_E_WRITE;
    // The padding to 8 is counted in the chunk's size field.
    hr = riff64_CompleteChunk(file, start);
    if (FAILED(hr)) return hr;
    total += riff64_AmountWritten(file, start);
  }
  if (written) *written = total;
  return S_OK;
}

HRESULT KVAPI displist64_Load(HANDLE file, displist* list, int64_t* remaining) {
  if (!list || !remaining) return E_INVALIDARG;
  if (list->count == 0) return S_OK;
  uint64_t start = 0;
  if (!GetPos(file, &start)) return KV_E_READ;
  HRESULT hr = S_OK;
  while (*remaining >= static_cast<int64_t>(kRiff64Header)) {
    GUID id;
    uint64_t size = 0;
    hr = riff64_ReadChunkHeader(file, &id, &size);
    if (FAILED(hr)) {
      SetPos(file, start);
      return hr;
    }
    *remaining -= static_cast<int64_t>(kRiff64Header);
    uint64_t padded = (size + 7) & ~uint64_t(7);  // size < 2^63: no overflow
    DWORD format = 0;
    displist_item* item = nullptr;
    if (KvGuidEquals(id, KVRIFF64_DISPLIST_ITEM) && size >= 4) {
      if (!ReadAll(file, &format, 4)) {
        hr = KV_E_READ;
        break;
      }
      item = FindItem(list, format);
      if (!item) Back(file, 4);
    }
    if (item) {
      uint64_t dataSize = size - 4;
      if (dataSize > 0xFFFFFFFFu || dataSize > BytesAhead(file)) {
        hr = KV_E_READ;
        break;
      }
      hr = ReadItemData(file, item, static_cast<DWORD>(dataSize));
      if (FAILED(hr)) break;
      // The chunk's own padding to 8 (none when its size counts it).
      if (!Forward(file, padded - size)) {
        hr = KV_E_READ;
        break;
      }
    } else if (!Forward(file, padded)) {
      hr = KV_E_READ;
      break;
    }
    *remaining = static_cast<uint64_t>(*remaining) < padded ? 0 : *remaining - static_cast<int64_t>(padded);
  }
  if (FAILED(hr)) displist_Free(list);
  SetPos(file, start);
  return hr;
}

#ifdef _WIN32
HBITMAP KVAPI displist_CreateBitmapFromFile(const wchar_t* path) {
  if (!path) return nullptr;
  displist_item item = {CF_DIB, 0, nullptr};
  displist list = {1, &item, 1};
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD content = 0, form = 0;
  HRESULT hr = riff_ReadFileID(file, &content, &form);
  if (SUCCEEDED(hr)) hr = displist_Load(file, &list, &content);
  CloseHandle(file);
  HBITMAP bmp = nullptr;
  if (SUCCEEDED(hr) && item.data && item.size && DibIsWhole(item.data, item.size))
    bmp = CreateBitmapFromDib(item.data, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
  ReleaseData(&item);
  return bmp;
}
#endif  // _WIN32

}  // extern "C"
