// The AAC compressor adapter: drives the AAC encoder for one preset behind the
// framework's compressor interface (decoder configuration for 'esds', profile
// levels for 'iods', access units from blocks of float samples).
#pragma once

#include <windows.h>

#include "ffbase_interfaces.h"
#include "vogaac2_presets.h"

// Makes the compressor for a preset's seven encoder settings (object type, bit
// rate, first encoder word, channel mode, sample rate, second and third words).
// E_INVALIDARG for a null out-pointer, E_OUTOFMEMORY. Settings the encoder
// cannot take make the compressor's Open fail (E_FAIL), before any file exists.
HRESULT CreateAacCompressor(const AacPresetRecord& preset, ffbase::IAudioCompressor** out);
