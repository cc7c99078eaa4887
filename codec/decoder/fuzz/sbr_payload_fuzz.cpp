// libFuzzer target of the SBR payload parser with the decoding it feeds (the
// frequency tables its header resets, the envelope and noise data, the
// patches and the adjuster), on one SBR element without the AAC core.
// Input layout: one byte of set-up (bits 0-2 the core rate, bit 3 frames of
// 960 samples, bit 4 a channel pair, bit 5 payloads with CRC, bit 6
// parametric stereo allowed), then payloads as a 1-byte length followed by
// that many bytes; a length of 0 is a frame without SBR data.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sbrdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int kRates[8] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
  const uint8_t setup = data[0];
  const int coreRate = kRates[setup & 7];
  const int frameLength = (setup & 8) ? 960 : 1024;
  const int elementKind = (setup & 16) ? 2 : 0;
  const int channels = elementKind == 2 ? 2 : 1;
  const int psEnable = (setup & 64) ? 1 : 0;
  SbrConfig cfg;
  sbrDecoderSetDefaults(&cfg, 0);
  SbrDecoder* dec = sbrDecoderOpen(coreRate, frameLength, &cfg, 0);
  if (!dec) std::abort();
  // Exactly the room the decoder is documented to need: twice the core frame
  // per output channel.
  const int outChannels = (psEnable && channels == 1) ? 2 : channels;
  std::vector<float> time(size_t(2 * frameLength * outChannels));
  size_t pos = 1;
  int frames = 0;
  while (pos < size && frames < 12) {
    const size_t len = data[pos++];
    const size_t n = len < size - pos ? len : size - pos;
    // A quiet core signal, so that the envelope adjuster sees energy.
    for (int i = 0; i < frameLength * channels; ++i)
      time[size_t(i)] = float(((i * 7919 + frames * 104729) % 2001) - 1000);
    SbrElementRecord rec;
    rec.count = n ? 1 : 0;
    rec.elementKind = elementKind;
    rec.extType = (setup & 32) ? 14 : 13;
    rec.length = int(n);
    rec.payload = n ? data + pos : nullptr;
    int numChannels = channels;
    int psApplied = 0;
    sbrDecoderApply(dec, &rec, time.data(), psEnable, &numChannels, &psApplied);
    const int outLength = sbrDecoderGetOutputFrameLength(dec);
    if (numChannels < 1 || numChannels > 2 || size_t(outLength) * size_t(numChannels) > time.size()) std::abort();
    for (size_t i = 0; i < size_t(outLength) * size_t(numChannels); ++i)
      if (!std::isfinite(time[i])) std::abort();
    pos += n;
    ++frames;
  }
  sbrDecoderClose(&dec);
  return 0;
}
