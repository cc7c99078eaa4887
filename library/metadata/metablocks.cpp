// Picture and SMFMF blocks and the summary, generic and entry stream layouts.
#include "metablocks.h"

#include <cstring>

namespace fileutil {

uint64_t WideTextByteCount(const std::wstring* text) { return text ? (uint64_t(text->size()) + 1) * 2 : 0; }

void PutWideText(uint8_t* p, const std::wstring& text) {
  for (wchar_t c : text) {
    *p++ = uint8_t(uint32_t(c));
    *p++ = uint8_t(uint32_t(c) >> 8);
  }
  p[0] = 0;
  p[1] = 0;
}

std::wstring GetWideText(const uint8_t* p, uint64_t bytes) {
  std::wstring text;
  uint64_t units = bytes / 2;
  text.reserve(size_t(units));
  for (uint64_t i = 0; i < units; ++i) text.push_back(wchar_t(p[2 * i] | (p[2 * i + 1] << 8)));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

uint64_t PictureBlockSize(const std::wstring* mimeType, const std::wstring* description, uint64_t dataSize) {
  return kPictureBlockHeaderSize + WideTextByteCount(mimeType) + WideTextByteCount(description) + dataSize;
}

void WritePictureBlock(uint8_t* block, uint32_t type, const std::wstring* mimeType, const std::wstring* description,
                       const uint8_t* data, uint32_t dataSize) {
  uint32_t m = uint32_t(WideTextByteCount(mimeType));
  uint32_t d = uint32_t(WideTextByteCount(description));
  PutLE32(block, uint32_t(PictureBlockSize(mimeType, description, dataSize)));
  PutLE32(block + 4, kPictureBlockVersion);
  PutLE32(block + 8, type);
  PutLE32(block + 12, m);
  PutLE32(block + 16, d);
  PutLE32(block + 20, dataSize);
  uint8_t* p = block + kPictureBlockHeaderSize;
  if (mimeType) PutWideText(p, *mimeType);
  p += m;
  if (description) PutWideText(p, *description);
  p += d;
  if (dataSize && data) std::memcpy(p, data, dataSize);
}

bool ReadPictureBlock(const uint8_t* block, size_t size, PictureRecord& out) {
  if (!block || size < kPictureBlockHeaderSize) return false;
  uint64_t m = GetLE32(block + 12), d = GetLE32(block + 16), n = GetLE32(block + 20);
  // The counts come from outside: they must lie within the bytes really held.
  if (kPictureBlockHeaderSize + m + d + n > size) return false;
  const uint8_t* p = block + kPictureBlockHeaderSize;
  out.type = GetLE32(block + 8);
  out.mimeType = GetWideText(p, m);
  out.description = GetWideText(p + m, d);
  out.data.assign(p + m + d, p + m + d + n);
  return true;
}

bool MakePictureBlock(const PictureRecord& picture, ByteVector& out) {
  const std::wstring* mime = picture.mimeType.empty() ? nullptr : &picture.mimeType;
  const std::wstring* desc = picture.description.empty() ? nullptr : &picture.description;
  uint64_t total = PictureBlockSize(mime, desc, picture.data.size());
  if (total > 0xFFFFFFFFu) return false;
  out.assign(size_t(total), 0);
  WritePictureBlock(out.data(), picture.type, mime, desc, picture.data.data(), uint32_t(picture.data.size()));
  return true;
}

void WriteSmfmfBlock(uint8_t* block, const uint8_t* data, uint32_t dataSize) {
  PutLE32(block, dataSize + kSmfmfBlockHeaderSize);
  PutLE32(block + 4, kSmfmfFormatVersion);
  PutLE32(block + 8, kSmfmfBlockVersion);
  PutLE32(block + 12, dataSize);
  if (dataSize && data) std::memcpy(block + kSmfmfBlockHeaderSize, data, dataSize);
}

bool ReadSmfmfBlock(const uint8_t* block, size_t size, ByteVector& data) {
  if (!block || size < kSmfmfBlockHeaderSize) return false;
  uint64_t n = GetLE32(block + 12);
  if (kSmfmfBlockHeaderSize + n > size) return false;
  data.assign(block + kSmfmfBlockHeaderSize, block + kSmfmfBlockHeaderSize + n);
  return true;
}

bool MakeSmfmfBlock(const ByteVector& data, ByteVector& out) {
  if (uint64_t(data.size()) + kSmfmfBlockHeaderSize > 0xFFFFFFFFu) return false;
  out.assign(data.size() + kSmfmfBlockHeaderSize, 0);
  WriteSmfmfBlock(out.data(), data.data(), uint32_t(data.size()));
  return true;
}

// ---------------------------------------------------------------------------
// Streams

static void PutGuid(uint8_t* p, const GUID& guid) { std::memcpy(p, &guid, sizeof(GUID)); }

HRESULT BuildSummaryStream(const MetaDataSet& set, ByteVector& out) {
  const SummaryTextMap& texts = set.Texts();
  uint64_t total = kSummaryHeaderSize;
  for (const auto& t : texts) total += kSummaryItemSize + WideTextByteCount(&t.second);
  if (total > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  out.assign(size_t(total), 0);
  uint8_t* p = out.data();
  PutLE32(p, kSummaryHeaderSize);
  PutLE32(p + 4, kMetaStreamVersion);
  PutLE32(p + 8, uint32_t(texts.size()));
  p += kSummaryHeaderSize;
  // The map's order is the ascending 32-bit id value.
  for (const auto& t : texts) {
    uint32_t bytes = uint32_t(WideTextByteCount(&t.second));
    PutLE32(p, kSummaryItemSize);
    PutLE32(p + 4, t.first);
    PutLE32(p + 8, bytes);
    PutWideText(p + kSummaryItemSize, t.second);
    p += kSummaryItemSize + bytes;
  }
  return S_OK;
}

HRESULT BuildGenericStream(const MetaDataSet& set, const GUID& guid, ByteVector& out) {
  auto range = set.Entries().equal_range(guid);
  uint64_t total = kGenericHeaderSize;
  uint32_t count = 0;
  for (auto it = range.first; it != range.second; ++it, ++count) total += kGenericEntrySize + it->second.size();
  if (total > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  out.assign(size_t(total), 0);
  uint8_t* p = out.data();
  PutLE32(p, kGenericHeaderSize);
  PutLE32(p + 4, kMetaStreamVersion);
  PutLE32(p + 8, count);
  PutGuid(p + 12, guid);
  p += kGenericHeaderSize;
  for (auto it = range.first; it != range.second; ++it) {
    PutLE32(p, kGenericEntrySize);
    PutLE32(p + 4, kMetaStreamVersion);
    PutGuid(p + 8, it->first);
    PutLE32(p + 24, uint32_t(it->second.size()));
    p += kGenericEntrySize;
    if (!it->second.empty()) std::memcpy(p, it->second.data(), it->second.size());
    p += it->second.size();
  }
  return S_OK;
}

HRESULT BuildEntryStream(const MetaDataSet& set, const GUID& guid, ByteVector& out) {
  auto range = set.Entries().equal_range(guid);
  uint64_t total = kEntryHeaderSize;
  uint32_t count = 0;
  for (auto it = range.first; it != range.second; ++it, ++count) total += it->second.size();
  if (total > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  out.assign(size_t(total), 0);
  uint8_t* p = out.data();
  PutLE32(p, kEntryHeaderSize);
  PutLE32(p + 4, kMetaStreamVersion);
  PutLE32(p + 8, count);
  p += kEntryHeaderSize;
  for (auto it = range.first; it != range.second; ++it) {
    if (!it->second.empty()) std::memcpy(p, it->second.data(), it->second.size());
    p += it->second.size();
  }
  return S_OK;
}

}  // namespace fileutil
