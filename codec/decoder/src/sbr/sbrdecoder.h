// SBR decoder instance: one per audio element. Turns the core's time signal
// of a single-channel or channel-pair element into the band-extended signal
// at the SBR output rate, with parametric stereo for a mono element.
#pragma once

#include <cstdint>

struct SbrDecoder;

// Configuration record: 17 32-bit words (floats stored bitwise in words 5, 7, 8, 9, 11, 12).
struct SbrConfig {
  int32_t w[17];
};

// The SBR payload of one element and access unit.
struct SbrElementRecord {
  int count = 0;         // number of payloads (more than 1 counts as 1)
  int elementKind = 0;   // 0 single channel, 2 channel pair
  int extType = 13;      // 13 plain, 14 with CRC
  int length = 0;        // payload bytes, starting with the extension-type nibble
  const uint8_t* payload = nullptr;
};

// Result codes of sbrDecoderApply besides 0.
constexpr int SBR_ERR_ELEMENT_KIND = 12;
constexpr int SBR_ERR_RESET = 14;

void sbrDecoderSetDefaults(SbrConfig* cfg, int mode);
// Null for a mode other than 0, a rate outside 8000..48000, a frame length other
// than 960/1024, or a failed allocation.
SbrDecoder* sbrDecoderOpen(int coreSampleRate, int coreFrameLength, const SbrConfig* cfg, int unused);
// timeData: on input the core samples interleaved with stride *numChannels;
// on output outFrameLength samples per channel, interleaved with the stride of
// the output channel count (written into *numChannels). The buffer must hold
// 2 x output frame length floats.
int sbrDecoderApply(SbrDecoder* dec, const SbrElementRecord* rec, float* timeData, int psEnable,
                    int* numChannels, int* psApplied);
void sbrDecoderReset(SbrDecoder* dec);
void sbrDecoderClose(SbrDecoder** dec);
float sbrDecoderGetRateFactor(const SbrDecoder* dec);
void sbrDecoderGetRateConfig(const SbrDecoder* dec, int* lowPower, int* downsampled);
// Output samples per channel and frame.
int sbrDecoderGetOutputFrameLength(const SbrDecoder* dec);
