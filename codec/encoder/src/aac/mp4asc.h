// The decoder-configuration interface of the encoder: up to ten layers, each
// with its rate, bitrate and frame length and the AudioSpecificConfig record
// that describes it, written into byte slots for the MP4 writer.
#pragma once

#include <cstdint>

#include "audiospecificconfig.h"
#include "errorhnd.h"

enum {
  kMp4AscLayers = 10,
  kMp4AscSlotBytes = 64,
};

struct AscLayer {
  int32_t samplingRate;
  int32_t bitrate;
  int32_t frameLength;   // 1024
  int32_t bitsPerFrame;  // frameLength * bitrate / samplingRate
  int32_t enabled;       // 1 at creation
  int32_t present;       // the caller sets 1 for a layer to be written
  AscWriteRecord asc;
};

struct Mp4AscHandle {
  AscLayer layers[kMp4AscLayers];
};

struct Mp4AscSlot {
  uint8_t bytes[kMp4AscSlotBytes];
  int32_t bits;
};

// programs above 1 or layers above 10 are refused; all ten layers are
// allocated, zero-filled apart from their frame length and enabled word.
CodecError* createMp4Asc(Mp4AscHandle** out, int32_t programs, int32_t layers);
int32_t deleteMp4Asc(Mp4AscHandle* handle);
// Writes every present layer into its slot (bits and bytes, the last byte's
// unused low bits zero); stops at the first error and returns it.
CodecError* writeMp4AscToBuffer(const Mp4AscHandle* handle, Mp4AscSlot* out);
