// Wave-file headers of the utility library: create, insert and repair the
// header of a PCM wave file (RIFF "WAVE") or of its 64-bit form (Wave64),
// read a file's wave format, and identify WAVE, Wave64 and AIFF files.
// Every function that takes a WAVEFORMATEX has an overload taking the
// library's wave-format record, which is converted to a plain header first.
#pragma once

#include <stdint.h>

#include "kvriff.h"
#include "kvwavefmt.h"

#include "kvaudio.h"

// Creation dispositions are CreateFileW's; open-existing and open-always
// become truncate-existing and create-always: an existing file is emptied.

KV_EXTERN_C_BEGIN

BOOL KVAPI KvFileIsWave(const wchar_t* path, BOOL allowCompressed);
BOOL KVAPI KvFileIsWave64(const wchar_t* path, BOOL allowCompressed);
BOOL KVAPI KvFileIsAiff(const wchar_t* path);

HRESULT KVAPI KvInitializeWav(const wchar_t* path, const WAVEFORMATEX* wfx, DWORD disposition);
HRESULT KVAPI KvInitializeWav64(const wchar_t* path, const WAVEFORMATEX* wfx, DWORD disposition);
HRESULT KVAPI KvInitializeWavWithJunk(const wchar_t* path, const WAVEFORMATEX* wfx, DWORD disposition,
                                      DWORD headerSize);
HRESULT KVAPI KvInsertWavHeader(HANDLE file, const WAVEFORMATEX* wfx, DWORD dataSize, DWORD headerSize);
HRESULT KVAPI KvInsertW64Header(HANDLE file, const WAVEFORMATEX* wfx, uint64_t dataSize, uint64_t headerSize);
HRESULT KVAPI KvFixTrashedWav(HANDLE file, const WAVEFORMATEX* fallback, DWORD headerLimit);
HRESULT KVAPI KvFixTrashedW64(HANDLE file, const WAVEFORMATEX* fallback, uint64_t headerLimit);

// A new record (the runtime's calloc; the caller frees it with free), or null.
WAVEFORMATEX* KVAPI KvGetFileWfx(const wchar_t* path, uint64_t* frameCount, uint64_t* dataOffset);
HRESULT KVAPI KvSetFileWfx(const wchar_t* path, const WAVEFORMATEX* wfx);

// SetFilePointer with a 64-bit distance: the new 64-bit position, or -1.
int64_t KVAPI KvSetFilePointer(HANDLE file, int64_t distance, DWORD method);

KV_EXTERN_C_END

HRESULT KVAPI KvInitializeWav(const wchar_t* path, const _kvwaveformat& fmt, DWORD disposition);
HRESULT KVAPI KvInitializeWav64(const wchar_t* path, const _kvwaveformat& fmt, DWORD disposition);
HRESULT KVAPI KvInitializeWavWithJunk(const wchar_t* path, const _kvwaveformat& fmt, DWORD disposition,
                                      DWORD headerSize);
HRESULT KVAPI KvInsertWavHeader(HANDLE file, const _kvwaveformat& fmt, DWORD dataSize, DWORD headerSize);
HRESULT KVAPI KvInsertW64Header(HANDLE file, const _kvwaveformat& fmt, uint64_t dataSize, uint64_t headerSize);
HRESULT KVAPI KvFixTrashedWav(HANDLE file, const _kvwaveformat& fallback, DWORD headerLimit);
HRESULT KVAPI KvFixTrashedW64(HANDLE file, const _kvwaveformat& fallback, uint64_t headerLimit);
HRESULT KVAPI KvSetFileWfx(const wchar_t* path, const _kvwaveformat& fmt);
