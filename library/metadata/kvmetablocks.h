// The exported picture and SMFMF block functions. A block is movable,
// zero-filled global memory kept locked for its life; whoever receives one
// frees it with GlobalUnlock and GlobalFree of GlobalHandle(block).
//
// Picture block: this header, then the MIME type and the description as UTF-16
// with their NULs (byte counts (characters + 1) x 2, 0 when absent), then the
// picture data. SMFMF block: this header, then the data.
#pragma once

#include "kvapi.h"

typedef struct KvPicture {
  DWORD totalSize;             // 24 + m + d + n
  DWORD structVersion;         // 2
  DWORD pictureType;           // ID3v2 APIC picture type
  DWORD mimeTypeByteCount;     // m
  DWORD descriptionByteCount;  // d
  DWORD pictureDataSize;       // n
} KvPicture;

typedef struct KvSmfmf {
  DWORD totalSize;      // data size + 16
  DWORD smfmfVersion;   // 0x10041
  DWORD structVersion;  // 2
  DWORD dataSize;
} KvSmfmf;

KV_EXTERN_C_BEGIN

// 24 + m + d + dataSize (a null text counts 0); 0 when that passes 32 bits.
DWORD KVAPI KvPicture_GetMetaSizeNeeded(const wchar_t* mimeType, const wchar_t* description, DWORD dataSize);
// A new block, or null when the memory cannot be had.
KvPicture* KVAPI KvPicture_CreateMeta(DWORD pictureType, const wchar_t* mimeType, const wchar_t* description,
                                      DWORD dataSize, const void* data);
// E_INVALIDARG for a null block, a block size of 0 or missing data; 0x8004E03C
// when the block is smaller than needed (0xFFFFFFFF means unlimited).
HRESULT KVAPI KvPicture_SetMeta(KvPicture* block, DWORD blockSize, DWORD pictureType, const wchar_t* mimeType,
                                const wchar_t* description, DWORD dataSize, const void* data);
DWORD KVAPI KvPicture_GetPictureTotalSize(const KvPicture* block);
DWORD KVAPI KvPicture_GetStructVersion(const KvPicture* block);
// 255 for a null block or a block without picture data.
DWORD KVAPI KvPicture_GetPictureType(const KvPicture* block);
// Null when the text is absent.
wchar_t* KVAPI KvPicture_GetMimeType(KvPicture* block);
wchar_t* KVAPI KvPicture_GetDescription(KvPicture* block);
DWORD KVAPI KvPicture_GetMimeTypeByteCount(const KvPicture* block);
DWORD KVAPI KvPicture_GetDescriptionByteCount(const KvPicture* block);
DWORD KVAPI KvPicture_GetPictureDataSize(const KvPicture* block);
// Null when there is no data.
BYTE* KVAPI KvPicture_GetPictureData(KvPicture* block);

DWORD KVAPI KvSmfmf_GetMetaSizeNeeded(DWORD dataSize);
KvSmfmf* KVAPI KvSmfmf_CreateMeta(DWORD dataSize, const void* data);
// E_INVALIDARG for a null block or null data; the caller sizes the block with
// KvSmfmf_GetMetaSizeNeeded.
HRESULT KVAPI KvSmfmf_SetMeta(KvSmfmf* block, DWORD dataSize, const void* data);
DWORD KVAPI KvSmfmf_GetTotalSize(const KvSmfmf* block);
DWORD KVAPI KvSmfmf_GetSmfmfVersion(const KvSmfmf* block);
DWORD KVAPI KvSmfmf_GetStructVersion(const KvSmfmf* block);
DWORD KVAPI KvSmfmf_GetDataSize(const KvSmfmf* block);
BYTE* KVAPI KvSmfmf_GetData(KvSmfmf* block);

KV_EXTERN_C_END
