// libFuzzer target of the decoder: an AudioSpecificConfig, then a sequence
// of access units. Input layout: one byte n, n configuration bytes, then
// units as a 2-byte big-endian length followed by that many bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mp4AudioDecIfc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t ascLen = data[0];
  if (size < 1 + ascLen) return 0;
  AudioSpecificConfig asc;
  std::memset(&asc, 0, sizeof(asc));
  if (mp4AudioDecParseAsc(data + 1, static_cast<int32_t>(ascLen), &asc) != 0) return 0;
  char text[2048];
  ascPrint(&asc, text);
  AudioSpecificConfig* recs[1] = {&asc};
  Mp4AudioDec* dec = mp4AudioDecOpen(recs, 1);
  if (!dec) return 0;
  AuBuffer* au = auBufferCreate(nullptr, 0);
  const int32_t channels = asc.channelCount > 0 ? asc.channelCount : 1;
  CuBuffer* cu = cuBufferCreate(channels * 2 > 100 ? 100 : channels * 2, 2 * asc.frameLength, asc.samplingFrequency, 2048);
  AuBuffer* aus[1] = {au};
  size_t pos = 1 + ascLen;
  int units = 0;
  while (au && cu && pos + 2 <= size && units < 64) {
    const size_t len = (static_cast<size_t>(data[pos]) << 8) | data[pos + 1];
    pos += 2;
    const size_t n = len < size - pos ? len : size - pos;
    auBufferReset(au);
    auBufferFeed(au, data + pos, static_cast<int32_t>(n));
    cuBufferReset(cu);
    if (mp4AudioDecDecodeAu(dec, aus, cu) == 0) {
      float* s = nullptr;
      int32_t ch = 0, spc = 0;
      cuBufferGetSamples(cu, &s);
      cuBufferGetChannels(cu, &ch);
      cuBufferGetSamplesPerChannel(cu, &spc);
      // Touch every sample: they must be finite.
      for (int32_t i = 0; i < ch * spc; ++i)
        if (!(s[i] == s[i]) || s[i] > 3.0e38f || s[i] < -3.0e38f) __builtin_trap();
    }
    if (units == 10) mp4AudioDecConcealAu(dec, cu);
    pos += n;
    ++units;
  }
  cuBufferDestroy(&cu);
  auBufferDestroy(&au);
  mp4AudioDecClose(&dec);
  return 0;
}
