// The stream-format records that read files and streams hand out, as the
// generic read classes fill and compare them. The record itself and its
// filling belong to the render-template library (kvtemplate.h).
#pragma once

#include <windows.h>
#include <mmreg.h>

#include "kvfileio.h"
#include "kvtemplate.h"

namespace ffbase {

// Clears the record, sets its size (184), type 1 and `length`, and fills its
// format area from `format` when given (its 18-byte header only).
HRESULT SetAudioStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format, LONGLONG length);

// True when the record names no format at all: size or type 0, or an empty
// format area (a compressed format with tag 0, else a sample type of 0).
bool IsEmptyStreamFormat(const _KVFILESTREAMFORMATINFOv2* record);

// True when the record's format area describes the same format as `format`.
bool StreamFormatEquals(const _KVFILESTREAMFORMATINFOv2* record, const WAVEFORMATEX* format);

}  // namespace ffbase
