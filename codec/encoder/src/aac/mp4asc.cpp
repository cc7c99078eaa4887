// The decoder-configuration interface: layers and their AudioSpecificConfig bytes.
#include "mp4asc.h"

#include <cstring>

#include "utillib.h"

CodecError* createMp4Asc(Mp4AscHandle** out, int32_t programs, int32_t layers) {
  if (!out) return createError(__FILE__, __LINE__, "createMp4Asc", "null argument");
  *out = nullptr;
  if (programs > 1) return createError(__FILE__, __LINE__, "createMp4Asc", "invalid number of programs");
  if (layers > kMp4AscLayers) return createError(__FILE__, __LINE__, "createMp4Asc", "invalid number of layers");
  Mp4AscHandle* h = static_cast<Mp4AscHandle*>(utilCalloc(1, sizeof(Mp4AscHandle), __FILE__, __LINE__));
  if (!h) return createError(__FILE__, __LINE__, "createMp4Asc", "not enough memory available");
  for (AscLayer& layer : h->layers) {
    layer.frameLength = 1024;
    layer.enabled = 1;
  }
  *out = h;
  return nullptr;
}

int32_t deleteMp4Asc(Mp4AscHandle* handle) {
  utilFree(handle, __FILE__, __LINE__);
  return 0;
}

CodecError* writeMp4AscToBuffer(const Mp4AscHandle* handle, Mp4AscSlot* out) {
  if (!handle || !out) return createError(__FILE__, __LINE__, "writeMp4AscToBuffer", "null argument");
  bit_buf* b = CreateBitBuffer(512 * 8);
  if (!b) return createError(__FILE__, __LINE__, "writeMp4AscToBuffer", "not enough memory available");
  CodecError* err = nullptr;
  // Every slot has a defined count, also after an error stopped the writing.
  for (int32_t i = 0; i < kMp4AscLayers; ++i) out[i].bits = 0;
  for (int32_t i = 0; i < kMp4AscLayers && !err; ++i) {
    const AscLayer& layer = handle->layers[i];
    Mp4AscSlot& slot = out[i];
    if (!layer.present) continue;
    const int32_t before = GetBitsAvail(b);
    err = writeAudioSpecificConfig(&layer.asc, b);
    if (err) break;
    const int32_t count = GetBitsAvail(b) - before;
    // A slot holds 64 bytes; a longer configuration (a PCE with a long
    // comment) is refused rather than cut.
    if (count > kMp4AscSlotBytes * 8) {
      err = createError(__FILE__, __LINE__, "writeMp4AscToBuffer", "AudioSpecificConfig longer than %d bytes",
                        static_cast<int>(kMp4AscSlotBytes));
      break;
    }
    slot.bits = count;
    std::memset(slot.bytes, 0, sizeof(slot.bytes));
    ReadBytes(b, slot.bytes, (count + 7) / 8);
  }
  DeleteBitBuffer(b);
  return err;
}
