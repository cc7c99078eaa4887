// RIFF images in memory (the mriff_ family): the chunk operations of the
// riff_ family over a block the caller owns, so that a RIFF image can be
// built or parsed without a file. A cursor record stands in for the file
// handle; the block is never allocated, grown or freed here.
//
// Every operation keeps base <= cursor <= data end <= capacity end: reads
// stop at the data end, writes at the capacity end (moving the data end up
// when they pass it). Layout, four-character codes and result codes are
// those of kvriff.h.
#pragma once

#include "kvaudio.h"
#include "kvriff.h"

struct _tMRIFF {
  BYTE* base;         // start of the block
  BYTE* cursor;       // current position
  BYTE* dataEnd;      // end of the valid data; moves up as writes pass it
  BYTE* capacityEnd;  // end of the block
  DWORD dataSize;     // data size given at init (not updated afterwards)
  DWORD capacity;     // block size given at init
};

KV_EXTERN_C_BEGIN

HRESULT KVAPI mriff_Init(_tMRIFF* m, void* base, DWORD dataSize, DWORD capacity);
BYTE* KVAPI mriff_GetFilePointer(_tMRIFF* m);
// method: 0 from the base, 1 from the cursor, 2 from the data end; the
// result is clamped to [base, data end]; returns the new offset from base.
DWORD KVAPI mriff_SetFilePointer(_tMRIFF* m, LONG distance, LONG* high, DWORD method);
DWORD KVAPI mriff_KvSetFilePointer(_tMRIFF* m, LONG distance, DWORD method);
BOOL KVAPI mriff_ReadFile(_tMRIFF* m, void* buffer, DWORD count, DWORD* read, void* overlapped);
BOOL KVAPI mriff_WriteFile(_tMRIFF* m, const void* data, DWORD count, DWORD* written, void* overlapped);
HRESULT KVAPI mriff_WriteChunkHeader(_tMRIFF* m, DWORD id, DWORD size);
HRESULT KVAPI mriff_WriteListHeader(_tMRIFF* m, DWORD listType, DWORD size);
HRESULT KVAPI mriff_WriteFileID(_tMRIFF* m, DWORD formType, DWORD size);
LONG KVAPI mriff_UpdateDataSize(_tMRIFF* m, LONG amount);
HRESULT KVAPI mriff_SaveLocation(_tMRIFF* m, DWORD* offset);
HRESULT KVAPI mriff_RestoreLocation(_tMRIFF* m, DWORD offset);
DWORD KVAPI mriff_SkipChunk(_tMRIFF* m, DWORD size);
HRESULT KVAPI mriff_SeekDataStart(_tMRIFF* m);
HRESULT KVAPI mriff_ReadData(_tMRIFF* m, void* buffer, DWORD size);
HRESULT KVAPI mriff_ReadDataBounded(_tMRIFF* m, void* buffer, DWORD bufferSize, DWORD chunkSize);
HRESULT KVAPI mriff_ReadDataAlloc(_tMRIFF* m, KVRIFFDATA* block);
HRESULT KVAPI mriff_ReadChunkHeader(_tMRIFF* m, DWORD* id, DWORD* size);
HRESULT KVAPI mriff_ReadListHeader(_tMRIFF* m, DWORD* listType, DWORD* size);
HRESULT KVAPI mriff_ReadFileID(_tMRIFF* m, LONG* contentSize, DWORD* formType);
HRESULT KVAPI mriff_FindChunkHeader(_tMRIFF* m, DWORD id, DWORD* size, DWORD* remaining);
HRESULT KVAPI mriff_FindChunkHeaderInRIFF(_tMRIFF* m, DWORD id, DWORD* size, DWORD* remaining);
HRESULT KVAPI mriff_FindListChunk(_tMRIFF* m, DWORD listType, DWORD* size, DWORD* remaining);
HRESULT KVAPI mriff_FindListChunkFromStart(_tMRIFF* m, DWORD listType, DWORD* size);
// Copies an item of the "INFO" list (its text first) into buffer; the
// buffer always ends in a zero within bufferSize. The cursor is kept.
HRESULT KVAPI mriff_GetInfoString(_tMRIFF* m, DWORD id, void* buffer, DWORD bufferSize, DWORD* remaining);
HRESULT KVAPI mriff_GetNumListEntries(_tMRIFF* m, DWORD* count, DWORD* remaining);
// Writes "RIFF", "WAVE", "fmt " and the "data" header; extraSize reserves
// room in the RIFF size for chunks the caller adds after the data.
HRESULT KVAPI mriff_WriteWaveHeader(_tMRIFF* m, const WAVEFORMATEX* wfx, DWORD dataSize, DWORD extraSize);
// Reads the format (its first 18 bytes) and the data size of a WAVE image.
HRESULT KVAPI mriff_GetWfx(WAVEFORMATEX* out, const void* block, DWORD blockSize, DWORD* dataSize);

KV_EXTERN_C_END

HRESULT KVAPI mriff_WriteWaveHeader(_tMRIFF* m, const _kvwaveformat* fmt, DWORD dataSize, DWORD extraSize);
HRESULT KVAPI mriff_GetWfx(_kvwaveformat* out, const void* block, DWORD blockSize, DWORD* dataSize);
