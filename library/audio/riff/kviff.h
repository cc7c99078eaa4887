// IFF chunk I/O of the utility library on file handles, with the AIFF
// and AIFC audio forms: big-endian chunk headers and numbers, identification,
// the wave format of an AIFF file, markers, chunk deletion and the 80-bit
// extended sample rate of the "COMM" chunk. Result codes are the RIFF
// family's (kvriff.h).
#pragma once

#include <stdint.h>

#include "kvriff.h"
#include "kvwavefmt.h"

// Four-character code of this family: the first character is the most
// significant byte ("FORM" is 0x464F524D).
#define KVIFF_FOURCC(a, b, c, d) \
  (((DWORD)(BYTE)(a) << 24) | ((DWORD)(BYTE)(b) << 16) | ((DWORD)(BYTE)(c) << 8) | (DWORD)(BYTE)(d))

#define KVIFF_FORM KVIFF_FOURCC('F', 'O', 'R', 'M')
#define KVIFF_AIFF KVIFF_FOURCC('A', 'I', 'F', 'F')
#define KVIFF_AIFC KVIFF_FOURCC('A', 'I', 'F', 'C')
#define KVIFF_COMM KVIFF_FOURCC('C', 'O', 'M', 'M')
#define KVIFF_SSND KVIFF_FOURCC('S', 'S', 'N', 'D')
#define KVIFF_MARK KVIFF_FOURCC('M', 'A', 'R', 'K')
#define KVIFF_INST KVIFF_FOURCC('I', 'N', 'S', 'T')
#define KVIFF_NONE KVIFF_FOURCC('N', 'O', 'N', 'E')
#define KVIFF_SOWT KVIFF_FOURCC('s', 'o', 'w', 't')

// A marker of a "MARK" chunk as handed to callers, in native byte order; the
// file stands at the marker's name characters after it was found.
#pragma pack(push, 1)
struct KVIFFMARKER {
  WORD id;
  DWORD position;  // in sample frames
  BYTE nameLength;
};
#pragma pack(pop)
static_assert(sizeof(KVIFFMARKER) == 7, "marker record layout");

KV_EXTERN_C_BEGIN

void KVAPI iff_ByteSwap16(void* data, DWORD count);
void KVAPI iff_ByteSwap32(void* data, DWORD count);
void KVAPI aiff_WriteByteSwap16(void* data, DWORD count);
void KVAPI aiff_WriteByteSwap32(void* data, DWORD count);

HRESULT KVAPI iff_ReadChunkHdr(HANDLE file, DWORD header[2]);
HRESULT KVAPI iff_ReadDWORD(HANDLE file, DWORD* value);
HRESULT KVAPI iff_ReadWORD(HANDLE file, WORD* value);
HRESULT KVAPI iff_WriteChunk(HANDLE file, const DWORD header[2]);
HRESULT KVAPI iff_WriteDWORD(HANDLE file, DWORD value);
HRESULT KVAPI iff_WriteWORD(HANDLE file, WORD value);
HRESULT KVAPI iff_WriteFileID(HANDLE file, DWORD formType, DWORD size);
HRESULT KVAPI iff_ReadFormType(HANDLE file, DWORD header[2], DWORD* formType);
DWORD KVAPI iff_SkipChunk(HANDLE file, DWORD size);
HRESULT KVAPI iff_FindChunkHeader(HANDLE file, DWORD id, DWORD* size, DWORD* remaining);
HRESULT KVAPI iff_SeekChunkHeader(HANDLE file, DWORD id, DWORD* size);
HRESULT KVAPI iff_FindChunkFromStart(HANDLE file, DWORD id, DWORD* size);

BOOL KVAPI iff_IsAIFFFileEx(HANDLE file, DWORD* formSize, DWORD* isAIFC, DWORD* isLittleEndian);
BOOL KVAPI iff_IsAIFFFile(HANDLE file, DWORD* formSize);
HRESULT KVAPI iff_GetAIFFWfx(HANDLE file, WAVEFORMATEX* out, DWORD* frames, DWORD* dataOffset);
HRESULT KVAPI iff_FindMarker(HANDLE file, KVIFFMARKER* marker, WORD markerId);
HRESULT KVAPI iff_DeleteChunk(HANDLE file, DWORD id, DWORD* removed);

DWORD KVAPI aiff_ConvertRate(WORD exponent, const WORD mantissa[4]);
void KVAPI aiff_CreateRate(DWORD rate, WORD* exponent, WORD mantissa[4]);

KV_EXTERN_C_END
