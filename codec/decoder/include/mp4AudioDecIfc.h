// The decoder interface: the one door through which the rest of the system
// drives the AAC decoder. Parse an AudioSpecificConfig into a record, open a
// handle from it, then per access unit feed an AU buffer, reset a CU buffer
// and decode; the CU buffer then holds interleaved float PCM on the 16-bit
// scale (full scale 32768) in output channel order.
#pragma once

#include <cstdint>

#include "asc.h"
#include "aubuffer_c.h"
#include "cubuffer_c.h"

// Status codes (0 = success).
enum {
  MP4AUDEC_OK = 0,
  MP4AUDEC_SBR_CHANNEL_MODE = -69,
  MP4AUDEC_EP_CONFIG_INVALID = -71,
  MP4AUDEC_TOO_MANY_SAMPLES = -72,
  MP4AUDEC_TOO_MANY_CHANNELS = -73,
  MP4AUDEC_NO_PROPERTY = -74,
  MP4AUDEC_NO_ANCILLARY = -75,
  MP4AUDEC_BAD_CHANNEL_INDEX = -76,
  MP4AUDEC_NO_CHANNEL_TYPE = -77,
  MP4AUDEC_AU_BUFFER_FULL = -78,
  MP4AUDEC_CELP_LAYER = -80,
  MP4AUDEC_NO_CHANNEL_MAP = -82,
  MP4AUDEC_TOO_MANY_LAYERS = -83,
  MP4AUDEC_NO_FRAME_LENGTH = -84,
  MP4AUDEC_DECODE_ERROR = -85,
  MP4AUDEC_UNSUPPORTED_AOT = -86,
  MP4AUDEC_NOT_SUPPORTED = -87,
  MP4AUDEC_OUT_OF_MEMORY = -88,
  MP4AUDEC_EP_CONFIG_RANGE = -89,
  MP4AUDEC_SAMPLE_MISMATCH = -90,
  MP4AUDEC_BAD_SAMPLING_FREQUENCY = -91,
  MP4AUDEC_CHANNEL_MISMATCH = -92,
  MP4AUDEC_BAD_CHANNEL_CONFIG = -93,
  MP4AUDEC_INVALID_CU_BUFFER = -94,
  MP4AUDEC_INVALID_AU_BUFFER = -95,
  MP4AUDEC_ZERO_COUNT = -96,
  MP4AUDEC_INVALID_ARGUMENT = -97,
  MP4AUDEC_NULL_POINTER = -98,
  MP4AUDEC_INVALID_HANDLE = -99,
  MP4AUDEC_FAILURE = -100,
};

// Parameter ids of mp4AudioDecSetParameter.
enum {
  MP4AUDEC_PARAM_IMPLICIT_SIGNALLING = 1001,
  MP4AUDEC_PARAM_SBR_ACTIVE = 1002,
  MP4AUDEC_PARAM_PS_ENABLE = 1003,
  MP4AUDEC_PARAM_SBR_LOW_POWER = 1019,
  MP4AUDEC_PARAM_1020 = 1020,
};

// Channel type codes of the CU buffer's channel map.
enum {
  MP4AUDEC_CH_UNSPECIFIED = 1,
  MP4AUDEC_CH_FRONT_CENTRE = 8,
  MP4AUDEC_CH_BACK_CENTRE = 9,
  MP4AUDEC_CH_FRONT_LEFT = 16,
  MP4AUDEC_CH_OUTER_FRONT_LEFT = 17,
  MP4AUDEC_CH_SURROUND_LEFT = 48,
  MP4AUDEC_CH_FRONT_RIGHT = 80,
  MP4AUDEC_CH_OUTER_FRONT_RIGHT = 81,
  MP4AUDEC_CH_SURROUND_RIGHT = 112,
  MP4AUDEC_CH_LFE = 144,
};

const uint32_t kMp4AudioDecMagic = 0xA0DE0DECu;
enum { kMp4AudioDecMaxLayers = 13 };

// One layer's configuration as the decoder uses it (twenty 32-bit words).
struct Mp4AudioDecLayer {
  int32_t streamParam;
  int32_t samplingFrequencyIndex;
  int32_t samplingFrequency;
  int32_t one;
  int32_t channelConfiguration;
  int32_t channelCount;
  int32_t unused7;
  int32_t frameLength;
  int32_t eight;
  int32_t frameLengthDiv8;
  int32_t hcr;    // spectral data resilience
  int32_t vcb11;  // section data resilience
  int32_t rvlc;   // scale factor data resilience
  int32_t sbrPresent;
  int32_t psPresent;
  int32_t extensionObjectType;
  int32_t extensionSamplingFrequencyIndex;
  int32_t extensionSamplingFrequency;
  int32_t objectType;
  int32_t predictionKind;
};

struct AacDecoderCore;
struct Mp4AudioDec;

int32_t mp4AudioDecParseAsc(const uint8_t* bytes, int32_t count, AudioSpecificConfig* asc);
Mp4AudioDec* mp4AudioDecOpen(AudioSpecificConfig* const* records, int32_t count);
// Opens a decoder for one stream's configuration. A configuration that says
// outright that it carries no parametric stereo keeps the stream mono;
// otherwise the PS default holds, so implicitly signalled PS is still found.
Mp4AudioDec* mp4AudioDecOpenStream(AudioSpecificConfig* asc);
int32_t mp4AudioDecDecodeAu(Mp4AudioDec* dec, AuBuffer* const* auBuffers, CuBuffer* cu);
int32_t mp4AudioDecConcealAu(Mp4AudioDec* dec, CuBuffer* cu);
int32_t mp4AudioDecSetParameter(Mp4AudioDec* dec, int32_t id, float value);
int32_t mp4AudioDecGetParameter(Mp4AudioDec* dec, int32_t id, int32_t* value);
int32_t mp4AudioDecReset(Mp4AudioDec* dec, int32_t flags);
int32_t mp4AudioDecSelectLayer(Mp4AudioDec* dec, int32_t layer);
int32_t mp4AudioDecGetFrameSize(Mp4AudioDec* dec, int32_t* out);
int32_t mp4AudioDecGetLastError(Mp4AudioDec* dec);
int32_t mp4AudioDecGetLibInfo(char* info);
int32_t mp4AudioDecClose(Mp4AudioDec** dec);
int32_t mp4AudioDecSamplingFrequencyIndex(int32_t samplingFrequency, int32_t mode);
const char* mp4AudioDecAotName(int32_t aot);
// Reorders the CU buffer's channels from element order into output order and
// sets the channel-type map.
int32_t mp4AudioDecMapChannels(int32_t channelConfiguration, CuBuffer* cu);
// The decoder's layer record (for tests and the SBR step).
const Mp4AudioDecLayer* mp4AudioDecGetLayer(const Mp4AudioDec* dec, int32_t layer);
