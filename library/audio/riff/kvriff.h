// RIFF-family chunk I/O of the utility library on file handles: RIFF
// files with 32-bit sizes (riff_) and 64-bit RIFF files of the Wave64 layout
// (riff64_). No state of their own: every function works at the handle's
// current position; search functions are bounded by a caller-held counter
// of the bytes still ahead in the enclosing body.
#pragma once

#include <stdint.h>

#include "kvapi.h"
#include "kvfile.h"
#include "kvwave64.h"

// Four-character code as a 32-bit value: the first character is the low byte.
#define KVRIFF_FOURCC(a, b, c, d) \
  ((DWORD)(BYTE)(a) | ((DWORD)(BYTE)(b) << 8) | ((DWORD)(BYTE)(c) << 16) | ((DWORD)(BYTE)(d) << 24))

// A block read by the ...ReadDataAlloc functions: zero-filled movable global
// memory, locked; the caller unlocks and frees the global handle of data.
struct KVRIFFDATA {
  DWORD size;
  void* data;
};

KV_EXTERN_C_BEGIN

// ---- RIFF (32-bit sizes, chunks padded to even) ----
// Positions are moved in 64 bits: a size of 2 GiB or more never seeks back,
// so walks end at the file's end. A remaining counter never wraps below 0.
// riff_ReadDataAlloc: block->size is the number of bytes to read (checked
// against the file before allocating). riff_GetFileSize: the RIFF size
// field + 4. riff_GetNumListEntries restores the position and leaves the
// counter as it was. riff_UpdateRIFFSize refuses a size below 4 (0x8004E083)
// and one past 0xFFFFFFF7 (0x8004E03A, the file cut back to old size + 8).
HRESULT KVAPI riff_ValidateChunkHeader(DWORD id, LONG size);
HRESULT KVAPI riff_ReadChunkHeader(HANDLE file, DWORD* id, DWORD* size);
HRESULT KVAPI riff_ReadListHeader(HANDLE file, DWORD* listType, DWORD* size);
HRESULT KVAPI riff_ReadFileID(HANDLE file, DWORD* contentSize, DWORD* formType);
HRESULT KVAPI riff_ReadData(HANDLE file, void* buffer, DWORD size);
HRESULT KVAPI riff_ReadDataBounded(HANDLE file, void* buffer, DWORD bufferSize, DWORD chunkSize);
HRESULT KVAPI riff_ReadDataAlloc(HANDLE file, KVRIFFDATA* block);
HRESULT KVAPI riff_WriteChunkHeader(HANDLE file, DWORD id, DWORD size);
HRESULT KVAPI riff_WriteChunk(HANDLE file, DWORD id, const void* data, DWORD size, DWORD* written);
HRESULT KVAPI riff_WriteListHeader(HANDLE file, DWORD listType, DWORD size);
HRESULT KVAPI riff_WriteFileID(HANDLE file, DWORD formType, DWORD size);
HRESULT KVAPI riff_SeekDataStart(HANDLE file);
HRESULT KVAPI riff_SaveLocation(HANDLE file, DWORD* position);
HRESULT KVAPI riff_RestoreLocation(HANDLE file, DWORD position);
DWORD KVAPI riff_SkipChunk(HANDLE file, DWORD size);
HRESULT KVAPI riff_GetFileSize(HANDLE file, DWORD* size);
HRESULT KVAPI riff_SetRIFFSize(HANDLE file, DWORD size);
HRESULT KVAPI riff_UpdateRIFFSize(HANDLE file, int64_t delta);
HRESULT KVAPI riff_FindChunkHeader(HANDLE file, DWORD id, DWORD* size, DWORD* remaining);
HRESULT KVAPI riff_FindChunkHeaderInRIFF(HANDLE file, DWORD id, DWORD* size, DWORD* remaining);
HRESULT KVAPI riff_FindListChunk(HANDLE file, DWORD listType, DWORD* size, DWORD* remaining);
HRESULT KVAPI riff_FindListChunkFromStart(HANDLE file, DWORD listType, DWORD* size);
HRESULT KVAPI riff_GetNumListEntries(HANDLE file, DWORD* count, DWORD* remaining);
HRESULT KVAPI riff_SeekListEntry(HANDLE file, DWORD index, DWORD* remaining);
HRESULT KVAPI riff_DeleteChunk(HANDLE file, DWORD id, DWORD* removed, BOOL isList);
HRESULT KVAPI riff_WriteANSIString(HANDLE file, const wchar_t* text, DWORD* written);
HRESULT KVAPI riff_ReadANSIString(HANDLE file, wchar_t* buffer, DWORD bufferChars, DWORD* size);
HRESULT KVAPI riff_ReadRIFFCDDA(HANDLE file, BYTE* record24);
HRESULT KVAPI riff_ReadCDAFile(const wchar_t* path, DWORD* track, DWORD* firstSector, DWORD* startFrames,
                               DWORD* lengthSectors, DWORD* serial);

// ---- 64-bit RIFF (GUID ids, 64-bit sizes counting the 24-byte header, 8-byte alignment) ----
HRESULT KVAPI riff64_ValidateChunkHeader(GUID id, uint64_t size);
HRESULT KVAPI riff64_ReadChunkHeader(HANDLE file, GUID* id, uint64_t* size);
HRESULT KVAPI riff64_ReadListHeader(HANDLE file, GUID* listType, int64_t* size);
HRESULT KVAPI riff64_ReadFileID(HANDLE file, uint64_t* contentSize, GUID* formType);
HRESULT KVAPI riff64_ReadData(HANDLE file, void* buffer, uint64_t size);
HRESULT KVAPI riff64_ReadDataBounded(HANDLE file, void* buffer, DWORD bufferSize, DWORD chunkSize);
HRESULT KVAPI riff64_ReadDataAlloc(HANDLE file, KVRIFFDATA* block);
HRESULT KVAPI riff64_WriteChunkHeader(HANDLE file, GUID id, uint64_t dataSize);
HRESULT KVAPI riff64_WriteData(HANDLE file, const void* data, uint64_t size, uint64_t* written);
HRESULT KVAPI riff64_WriteChunk(HANDLE file, GUID id, const void* data, uint64_t size, uint64_t* written);
HRESULT KVAPI riff64_WriteListHeader(HANDLE file, GUID listType, uint64_t size);
HRESULT KVAPI riff64_WriteFileID(HANDLE file, GUID formType, uint64_t size);
HRESULT KVAPI riff64_WriteToFile(HANDLE file, const void* data, uint64_t size);
HRESULT KVAPI riff64_WriteChunkToFile(HANDLE file, GUID id, const void* data, uint64_t size);
HRESULT KVAPI riff64_SeekDataStart(HANDLE file);
HRESULT KVAPI riff64_SaveLocation(HANDLE file, uint64_t* position);
HRESULT KVAPI riff64_RestoreLocation(HANDLE file, uint64_t position);
uint64_t KVAPI riff64_SkipChunk(HANDLE file, uint64_t size);
HRESULT KVAPI riff64_SetRIFFSize(HANDLE file, uint64_t size);
HRESULT KVAPI riff64_UpdateRIFFSize(HANDLE file, int64_t delta);
uint64_t KVAPI riff64_AmountWritten(HANDLE file, uint64_t start);
HRESULT KVAPI riff64_Pad(HANDLE file, uint64_t start);
HRESULT KVAPI riff64_PrepareChunk(HANDLE file, GUID id, uint64_t* start);
HRESULT KVAPI riff64_CompleteChunk(HANDLE file, uint64_t start);
HRESULT KVAPI riff64_PrepareList(HANDLE file, GUID listType, uint64_t* start);
HRESULT KVAPI riff64_FindChunkHeader(HANDLE file, GUID id, uint64_t* size, int64_t* remaining);
HRESULT KVAPI riff64_FindChunkHeaderInRIFF(HANDLE file, GUID id, uint64_t* size, int64_t* remaining);
HRESULT KVAPI riff64_FindListChunk(HANDLE file, GUID listType, uint64_t* size, int64_t* remaining);
HRESULT KVAPI riff64_FindListChunkFromStart(HANDLE file, GUID listType, uint64_t* size);
HRESULT KVAPI riff64_GetNumListEntries(HANDLE file, DWORD* count, int64_t* remaining);
HRESULT KVAPI riff64_SeekListEntry(HANDLE file, DWORD index, int64_t* remaining);
HRESULT KVAPI riff64_DeleteChunk(HANDLE file, GUID id, uint64_t* removed);
// Labels for GUID ids: none are defined; both return 0 and leave the label alone.
HRESULT KVAPI riff64_getGUIDLabel(GUID id, wchar_t* label, DWORD labelChars);
HRESULT KVAPI riff64_getGUIDLabelProperly(GUID id, wchar_t* label, DWORD labelChars);

KV_EXTERN_C_END

// Display-list item: {612CCA25-92BB-4C55-8408-7BDA2F15BD27}
constexpr GUID KVRIFF64_DISPLIST_ITEM = {
    0x612CCA25, 0x92BB, 0x4C55, {0x84, 0x08, 0x7B, 0xDA, 0x2F, 0x15, 0xBD, 0x27}};
