// The compressor factory. The module carries no AAC encoder yet: every render
// stops here with E_NOTIMPL, before any file is created.
#include "vogaac2_compressor.h"

HRESULT CreateAacCompressor(const AacPresetRecord&, ffbase::IAudioCompressor** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
