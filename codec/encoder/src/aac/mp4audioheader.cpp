// The short MPEG-4 audio header.
#include "mp4audioheader.h"

#include "audiospecificconfig.h"

CodecError* writeMp4AudioHeader(int32_t samplingRate, int32_t channels, int32_t objectType, bit_buf* buffer) {
  int32_t configuration;
  if (channels >= 0 && channels <= 6) configuration = channels;
  else if (channels == 8) configuration = 7;
  else return createError(__FILE__, __LINE__, "writeMp4AudioHeader", "Invalid channel number");
  WriteBits(buffer, static_cast<uint32_t>(objectType), 5);
  const int32_t index = getSamplingFrequencyIndex(samplingRate);
  WriteBits(buffer, static_cast<uint32_t>(index), 4);
  if (index == 15) WriteBits(buffer, static_cast<uint32_t>(samplingRate), 24);
  WriteBits(buffer, static_cast<uint32_t>(configuration), 4);
  return nullptr;
}
