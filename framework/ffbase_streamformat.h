// The 184-byte stream-format record that read files and streams hand out:
// size, stream type, 64-bit length, a 64-byte extension area and a 96-byte
// format area (an audio stream's `_kvwaveformat`).
#pragma once

#include <windows.h>
#include <mmreg.h>

#include "kvfileio.h"

namespace ffbase {

constexpr DWORD kStreamFormatTypeAudio = 1;
constexpr size_t kStreamFormatLengthOffset = 8;
constexpr size_t kStreamFormatFormatOffset = 88;
constexpr size_t kStreamFormatFormatSize = 96;

// Clears the record, sets its size (184), type 1 and `length`, and fills its
// format area from `format` when given.
HRESULT SetAudioStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format, LONGLONG length);

// True when the record names no format at all: size or type 0, or an empty
// format area (a compressed format with tag 0, else a sample type of 0).
bool IsEmptyStreamFormat(const _KVFILESTREAMFORMATINFOv2* record);

// True when the record's format area describes the same format as `format`.
bool StreamFormatEquals(const _KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format);

}  // namespace ffbase
