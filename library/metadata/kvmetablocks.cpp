// The exported picture and SMFMF block functions over the block layouts.
#include "kvmetablocks.h"

#include <cstring>
#include <string>

#include "metablocks.h"
#include "metastream.h"

static_assert(sizeof(KvPicture) == fileutil::kPictureBlockHeaderSize, "picture block header");
static_assert(sizeof(KvSmfmf) == fileutil::kSmfmfBlockHeaderSize, "SMFMF block header");

static uint64_t TextBytes(const wchar_t* text) { return text ? (uint64_t(wcslen(text)) + 1) * 2 : 0; }

static uint64_t PictureSize(const wchar_t* mimeType, const wchar_t* description, DWORD dataSize) {
  return fileutil::kPictureBlockHeaderSize + TextBytes(mimeType) + TextBytes(description) + dataSize;
}

DWORD KVAPI KvPicture_GetMetaSizeNeeded(const wchar_t* mimeType, const wchar_t* description, DWORD dataSize) {
  uint64_t size = PictureSize(mimeType, description, dataSize);
  // A wrapped size would let a too-small block through; 0 is refused by SetMeta.
  return size > 0xFFFFFFFFu ? 0 : DWORD(size);
}

HRESULT KVAPI KvPicture_SetMeta(KvPicture* block, DWORD blockSize, DWORD pictureType, const wchar_t* mimeType,
                                const wchar_t* description, DWORD dataSize, const void* data) {
  if (!block || blockSize == 0 || (dataSize && !data)) return E_INVALIDARG;
  uint64_t needed = PictureSize(mimeType, description, dataSize);
  if (needed > 0xFFFFFFFFu) return E_INVALIDARG;
  if (blockSize != 0xFFFFFFFFu && blockSize < needed) return KV_E_BUFFERTOOSMALL;
  BYTE* p = reinterpret_cast<BYTE*>(block);
  DWORD m = DWORD(TextBytes(mimeType)), d = DWORD(TextBytes(description));
  block->totalSize = DWORD(needed);
  block->structVersion = fileutil::kPictureBlockVersion;
  block->pictureType = pictureType;
  block->mimeTypeByteCount = m;
  block->descriptionByteCount = d;
  block->pictureDataSize = dataSize;
  p += sizeof(KvPicture);
  if (m) std::memcpy(p, mimeType, m);
  p += m;
  if (d) std::memcpy(p, description, d);
  p += d;
  if (dataSize) std::memcpy(p, data, dataSize);
  return S_OK;
}

KvPicture* KVAPI KvPicture_CreateMeta(DWORD pictureType, const wchar_t* mimeType, const wchar_t* description,
                                      DWORD dataSize, const void* data) {
  DWORD size = KvPicture_GetMetaSizeNeeded(mimeType, description, dataSize);
  if (size == 0 || (dataSize && !data)) return nullptr;
  KvPicture* block = static_cast<KvPicture*>(fileutil::AllocLockedGlobal(size));
  if (!block) return nullptr;
  if (FAILED(KvPicture_SetMeta(block, size, pictureType, mimeType, description, dataSize, data))) {
    fileutil::FreeLockedGlobal(block);
    return nullptr;
  }
  return block;
}

DWORD KVAPI KvPicture_GetPictureTotalSize(const KvPicture* block) { return block ? block->totalSize : 0; }
DWORD KVAPI KvPicture_GetStructVersion(const KvPicture* block) { return block ? block->structVersion : 0; }
DWORD KVAPI KvPicture_GetPictureType(const KvPicture* block) {
  return block && block->pictureDataSize ? block->pictureType : fileutil::kPictureTypeNone;
}
DWORD KVAPI KvPicture_GetMimeTypeByteCount(const KvPicture* block) { return block ? block->mimeTypeByteCount : 0; }
DWORD KVAPI KvPicture_GetDescriptionByteCount(const KvPicture* block) {
  return block ? block->descriptionByteCount : 0;
}
DWORD KVAPI KvPicture_GetPictureDataSize(const KvPicture* block) { return block ? block->pictureDataSize : 0; }

wchar_t* KVAPI KvPicture_GetMimeType(KvPicture* block) {
  if (!block || !block->mimeTypeByteCount) return nullptr;
  return reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(block) + sizeof(KvPicture));
}
wchar_t* KVAPI KvPicture_GetDescription(KvPicture* block) {
  if (!block || !block->descriptionByteCount) return nullptr;
  return reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(block) + sizeof(KvPicture) + block->mimeTypeByteCount);
}
BYTE* KVAPI KvPicture_GetPictureData(KvPicture* block) {
  if (!block || !block->pictureDataSize) return nullptr;
  return reinterpret_cast<BYTE*>(block) + sizeof(KvPicture) + block->mimeTypeByteCount +
         block->descriptionByteCount;
}

DWORD KVAPI KvSmfmf_GetMetaSizeNeeded(DWORD dataSize) {
  // As for pictures: a size that wraps is answered as 0.
  return dataSize > 0xFFFFFFFFu - sizeof(KvSmfmf) ? 0 : DWORD(dataSize + sizeof(KvSmfmf));
}

static void WriteSmfmfHeader(KvSmfmf* block, DWORD dataSize) {
  block->totalSize = dataSize + DWORD(sizeof(KvSmfmf));
  block->smfmfVersion = fileutil::kSmfmfFormatVersion;
  block->structVersion = fileutil::kSmfmfBlockVersion;
  block->dataSize = dataSize;
}

KvSmfmf* KVAPI KvSmfmf_CreateMeta(DWORD dataSize, const void* data) {
  DWORD size = KvSmfmf_GetMetaSizeNeeded(dataSize);
  if (size == 0 || (dataSize && !data)) return nullptr;
  KvSmfmf* block = static_cast<KvSmfmf*>(fileutil::AllocLockedGlobal(size));
  if (!block) return nullptr;
  WriteSmfmfHeader(block, dataSize);
  if (dataSize) std::memcpy(reinterpret_cast<BYTE*>(block) + sizeof(KvSmfmf), data, dataSize);
  return block;
}

HRESULT KVAPI KvSmfmf_SetMeta(KvSmfmf* block, DWORD dataSize, const void* data) {
  if (!block || !data) return E_INVALIDARG;
  WriteSmfmfHeader(block, dataSize);
  if (dataSize) std::memcpy(reinterpret_cast<BYTE*>(block) + sizeof(KvSmfmf), data, dataSize);
  return S_OK;
}

DWORD KVAPI KvSmfmf_GetTotalSize(const KvSmfmf* block) { return block ? block->totalSize : 0; }
DWORD KVAPI KvSmfmf_GetSmfmfVersion(const KvSmfmf* block) { return block ? block->smfmfVersion : 0; }
DWORD KVAPI KvSmfmf_GetStructVersion(const KvSmfmf* block) { return block ? block->structVersion : 0; }
DWORD KVAPI KvSmfmf_GetDataSize(const KvSmfmf* block) { return block ? block->dataSize : 0; }
BYTE* KVAPI KvSmfmf_GetData(KvSmfmf* block) {
  if (!block || !block->dataSize) return nullptr;
  return reinterpret_cast<BYTE*>(block) + sizeof(KvSmfmf);
}
