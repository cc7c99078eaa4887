// The AAC-LC core encoder: frames of 1024 samples per channel (in the scale
// of 16-bit sample values) to one raw_data_block each, with the channel
// elements of the channel configuration, the psychoacoustic model one frame
// ahead of quantisation, threshold adjustment, the rate loop and a bit
// reservoir whose overflow is written as fill elements.
#pragma once

#include <cstdint>

enum {
  kAacCoreDelay = 2624,
  kAacCoreOk = 0,
  kAacCoreFailed = 1,
  kAacCoreWriterFailed = 2,
  kAacCoreWrongLength = 6,
  kAacCoreOutputTooSmall = 7,
};

// The 22-word core configuration.
struct AacCoreConfig {
  int32_t sampleRate;
  int32_t bitRate;        // 0: the default of the quality mode
  int32_t nChannels;      // 1-12
  int32_t reserved3;
  int32_t qualityMode;    // 0-2
  int32_t channelVariant; // 0 configurations 1-7 (6 channels: 5.1, 8: 7.1, the
                          // low-frequency channel last), 1 all single-channel
                          // elements, 2 all pairs
  int32_t toolOption;
  int32_t psyOption;
  int32_t ltpFlag;
  int32_t crcOption;      // with ADTS: each header carries the CRC word
  int32_t ancillaryOption;  // bit/s of ancillary data: -1 a twentieth of the
                            // sample rate, 0 none, else below 22500 and at
                            // most half the sample rate
  int32_t transportType;  // 0 raw data blocks only, 1 ADIF header first, 2 ADTS headers
  int32_t writerOption;
  int32_t bandwidth;      // Hz coded; 0: from the bitrate per channel
  int32_t reservedRate;   // bit/s taken off the budget
  int32_t erFlag;
  int32_t erTools[3];
  int32_t channelMapping; // 0: from the channel count
  int32_t reserved20[2];
};

struct AacCoreInfo {
  float bandwidth;
  int32_t delay;
  int32_t maxBytesPerFrame;
  int32_t ancillaryBytes;
  char version[8];
  char buildDate[16];
};

struct AacCore;

// Default bitrate (bit/s) for a quality mode (0-2) and channel count.
int32_t AacCoreMaxBitrate(int32_t qualityMode, int32_t channels, int32_t variant);
// Audio bandwidth (Hz) coded at a bitrate per channel and sample rate.
int32_t AacCoreBandwidth(int32_t bitRatePerChannel, int32_t sampleRate);

int AacCoreOpen(AacCore** core, const AacCoreConfig* config);
// input: channels x 1024 interleaved samples (sampleCount counts them all).
int AacCoreEncodeFrame(AacCore* core, const float* input, int32_t sampleCount, uint8_t* out, int32_t outSize,
                       int32_t* outBytes);
void AacCoreClose(AacCore* core);
int AacCoreGetInfo(const AacCore* core, AacCoreInfo* info);
// The SBR payload of the next frame (bits MSB first, copied): written in a
// fill element right after the channel element, its bits taken off that
// frame's budget. A payload that cannot be carried is refused (failure);
// 0 bits clears it.
int AacCoreSetSbrPayload(AacCore* core, const uint8_t* payload, int32_t bits);
// The caller's ancillary bytes: each frame takes up to its ancillary share
// (AacCoreInfo::ancillaryBytes) from bytes, in order, writes them in a data
// stream element after the channel elements and takes them off *count. The
// record stays the caller's; a new call starts again at bytes. Null clears.
int AacCoreSetUserData(AacCore* core, const uint8_t* bytes, int32_t* count);
// A new bitrate from the next frame on (the same checks as at open); the
// bandwidth and the band layout stay, the reservoir keeps its fill up to its
// new size.
int AacCoreSetBitrate(AacCore* core, int32_t bitRate);
