// The encoder interface: configuration, rate tables, one instance per
// stream, buffering of interleaved float input (full scale +-1.0) into
// frames, the AAC-LC core encoder, the AudioSpecificConfig, and the flush of
// the encoder's delay at the end of the stream.
#pragma once

#include <cstdint>

enum {
  kMp4EncOk = 0,
  kMp4EncUnknown = 1,
  kMp4EncBadParameter = 2,
  kMp4EncMemory = 3,
  kMp4EncInit = 4,
  kMp4EncFatal = 5,
  kMp4EncMaxUnits = 30,
};

struct mp4EncConfig {
  int32_t objectType;      // 0 = from the bitrate; 2, 4, 5, 17, 19, 29, 129, 132
  int32_t bitRate;         // bit/s of the stream; 0 = the quality mode's default
  int32_t qualityMode;     // 0-3
  int32_t channelMode;     // 1-7, 16-24, 64
  int32_t sampleRate;      // input rate, Hz
  int32_t erOption;
  int32_t sbrSignalling;   // 0, 1, 2
};

struct mp4EncAsc {
  int32_t bits;
  uint8_t* data;  // 64 bytes
};

struct mp4EncUnits {
  int32_t count;
  int32_t* sizes;  // 30 entries, bytes
};

struct mp4EncInfo {
  float bandwidth;
  int32_t totalDelay;
  int32_t maxBytesPerFrame;
  int32_t bitRate;
  int32_t maxBitRate;
  int32_t maxBitsPerFrame;
  int32_t sampleRate;
  int32_t frameLength;
  int32_t ancillaryBytes;
  mp4EncAsc* asc;
  int32_t profileLevel;
  char version[50];
  char buildDate[12];
};

struct mp4EncInstance;
typedef mp4EncInstance* mp4EncHandle;

// True for the object types whose stream carries SBR: 5, 29 and 132 (frames
// of 2048 samples, a core at half the rate).
inline bool mp4EncObjectTypeHasSbr(int32_t objectType) {
  return objectType == 5 || objectType == 29 || objectType == 132;
}

// The priming samples a file's edit list should hide, or 0 for none. SBR
// streams get none: ffmpeg applies an edit list's start twice on them (at the
// core rate and again at the output rate), so a correct list would cut the
// source's first samples and its end for every player built on it.
inline int32_t mp4EncEditListPriming(int32_t objectType, int32_t totalDelay) {
  return (mp4EncObjectTypeHasSbr(objectType) || totalDelay <= 0) ? 0 : totalDelay;
}

// Channels carried by a channel mode (0 for an unknown mode).
int32_t mp4EncChannelCount(int32_t channelMode);
// Bitrate range of a mode and object type (whole stream); 0, 2 or 4.
int mp4EncBitrateRange(int32_t channelMode, int32_t objectType, int32_t* minRate, int32_t* maxRate);
// Rate row for a bitrate per coded channel; 0, or 4 when there is none.
int mp4EncRateRow(int32_t bitRatePerChannel, int32_t channelMode, int32_t objectType, int32_t* minRate,
                  int32_t* defaultRate, int32_t* maxRate);
// The encoding rate for a requested rate (0 when there is none).
int32_t mp4EncSelectRate(int32_t requested, int32_t minRate, int32_t defaultRate, int32_t maxRate,
                         int32_t qualityMode);

int mp4EncGetRateRange(int32_t bitRate, int32_t channelMode, int32_t objectType, int32_t qualityMode,
                       int32_t* minRate, int32_t* maxRate, int32_t* defaultRate);
int mp4EncOpen(mp4EncHandle* handle, const mp4EncConfig* config);
int mp4EncInit(mp4EncHandle* handle, int32_t* inputSamplesPerFrame);
// The stream's transport, between open and init: 0 bare access units (the
// MP4 road, the default), 1 an ADIF header in front of the first unit, 2 an
// ADTS header in front of every unit, with its CRC word when withCrc is set.
// 2 for bad values, 4 once the encoder is initialised. The error-resilient
// types (17, 19) have no transport header: with one, mp4EncInit gives 4.
int mp4EncSetTransport(mp4EncHandle handle, int32_t transport, int32_t withCrc);
// The input channel that carries each channel of the stream, in the stream's
// element order: centre, the pairs front to back (left before right), the
// low-frequency channel last. count must be the mode's channel count and the
// list a permutation (2 otherwise). The default is the input in that order.
// A 5.1 WAV (L R C LFE Ls Rs) takes {2, 0, 1, 4, 5, 3}.
int mp4EncSetChannelOrder(mp4EncHandle handle, int32_t count, const int32_t* inputChannels);
// Configures again from a host record of at least 23 words: word 0 object
// type, 7 bitrate, 8 quality mode, 5 channel mode, 1 input rate, 22
// error-resilience option, 10 SBR signalling. Before mp4EncInit the
// instance is configured anew (the statuses of mp4EncOpen). Once it runs,
// only the bitrate of a stream without SBR may change, from the next frame
// on, and only where the new bitrate keeps the encoder rate; anything else
// gives 4 and leaves the stream as it was.
int mp4EncReconfigure(mp4EncHandle handle, const int32_t* record);
// Ancillary data for the stream: every frame takes up to its share
// (mp4EncInfo::ancillaryBytes) from bytes, in order, carries them in a data
// stream element after its channel elements, and takes them off *count. Both
// stay the caller's until the count reaches 0 or another call replaces them.
// 2 for null arguments or a negative count.
int mp4EncSetUserData(mp4EncHandle handle, const uint8_t* bytes, int32_t* count);
int mp4EncGetInfo(mp4EncHandle handle, mp4EncInfo* info);
// sampleCount counts all interleaved samples; 0 flushes, one frame a call.
int mp4EncEncode(mp4EncHandle handle, const float* input, int32_t sampleCount, int32_t* consumed,
                 int32_t* nextFrameSamples, uint8_t* out, int32_t outSize, int32_t* outBytes, mp4EncUnits** units);
// Frees everything and clears the handle; a null or cleared handle is
// accepted. Always 0.
int mp4EncClose(mp4EncHandle* handle);
const char* mp4EncGetErrorText(int code);
// The frequency range (Hz) that SBR codes: from the crossover (the core's
// bandwidth) to the stop frequency; both 0 without SBR. 0, or 2 for a bad
// handle.
int mp4EncGetSbrRange(mp4EncHandle handle, int32_t* crossoverHz, int32_t* stopHz);
