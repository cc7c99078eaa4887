// libFuzzer target: arbitrary bytes as a WAVE fmt chunk (in a block of
// exactly its size, at least 18 bytes, with cbSize limited to what the block
// holds) through the record and every header copy.
#include <cstdlib>
#include <cstring>

#include "kvaudio.h"
#include "kvaudio_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 20) return 0;
  const uint8_t recSel = data[0], mode = data[1] % 6;
  data += 2;
  size -= 2;
  if (size > 1200) size = 1200;
  BYTE* h = static_cast<BYTE*>(std::malloc(size));
  std::memcpy(h, data, size);
  WAVEFORMATEX* w = reinterpret_cast<WAVEFORMATEX*>(h);
  // The caller's contract: the header holds 18 + cbSize bytes.
  if (18u + w->cbSize > size) w->cbSize = static_cast<WORD>(size - 18);
  const DWORD sizes[] = {32, 33, 34, 35, 40, 96, 128, 1058};
  const DWORD rs = sizes[recSel % 8];
  _kvwaveformat* r = static_cast<_kvwaveformat*>(std::malloc(rs));
  r->Init(rs, *w);
  (void)KvAudio_GetSampleType(w);
  (void)(*r == *w);
  const DWORD hs = 18 + (recSel % 150);
  BYTE* out = static_cast<BYTE*>(std::malloc(hs));
  KvAudio_GeneralCopyWfx(reinterpret_cast<WAVEFORMATEX*>(out), hs, *r, static_cast<KVWAVEFORMAT_COPY_DEST>(mode));
  KvAudio_CopyWfx(reinterpret_cast<WAVEFORMATEX*>(out), hs, w, static_cast<KVWAVEFORMAT_COPY_DEST>(mode));
  KvAudioMem_Free(KvAudio_AllocAndCopyWfx(*r, static_cast<KVWAVEFORMAT_COPY_DEST>(mode)));
  KvAudioMem_Free(KvAudio_AllocAndCopyWfx(w, static_cast<KVWAVEFORMAT_COPY_DEST>(mode)));
  _kvwaveformat* d = static_cast<_kvwaveformat*>(std::malloc(rs));
  KvAudio_GeneralCopyKvWaveFormat(d, rs, *r, KVWFX_COPY_AUTO);
  std::free(d);
  std::free(out);
  std::free(r);
  std::free(h);
  return 0;
}
