// The SBR interface: the layer between the encoder interface (mp4enc) and
// the SBR encoders of HE-AAC and HE-AAC with parametric stereo. It splits the
// full-rate input into the channel elements of the channel mode, runs one SBR
// encoder per single-channel or channel-pair element, and keeps each
// element's payloads for the core encoder in a ring of ten slots: a frame's
// SBR encoding fills the slot at the write position, the core takes the slot
// at the read position, in the order in which they were filled. With
// parametric stereo it also hands the core the half-rate mono downmix.
//
// Calling order: sbrIfcCreate, sbrIfcGetSideInfoBitrate; sbrIfcInit,
// sbrIfcGetSlotValue, sbrIfcGetSbrDelay, sbrIfcSetCoreDelay; per frame
// sbrIfcEncodeFrame, with parametric stereo sbrIfcGetCoreInput, and
// sbrIfcNextPayload for the core; sbrIfcDestroy.
#pragma once

#include <cstdint>

#include "channel_map.h"
#include "errorhnd.h"
#include "sbr_main.h"

struct TimeBuffer;

enum {
  kSbrIfcSlots = 10,
  kSbrIfcMaxElements = kChannelMappingMaxElements,
  kSbrIfcFrameLength = 2048,     // full-rate frames per SBR frame
  kSbrIfcCoreFrameLength = 1024,
  kSbrIfcSideInfoPerChannel = 2500,  // bit/s of SBR side information per channel
};

// Five 32-bit integers, in this order.
struct SbrIfcConfig {
  int32_t channels;    // coded channels (parametric stereo: 1)
  int32_t variant;     // channel-mode variant (0, 1, 2)
  int32_t bitRate;     // total bit/s
  int32_t sampleRate;  // input (full) rate, Hz
  int32_t psMode;      // 1: parametric stereo
};

struct SbrIfc {
  int32_t sampleRate;
  int32_t psMode;
  ChannelMapping* mapping;
  SbrConfig* elementConfig[kSbrIfcMaxElements];  // null for elements without SBR
  TimeBuffer* inputBufferA[kSbrIfcMaxElements];  // the element's channels (parametric stereo: left)
  TimeBuffer* inputBufferB[kSbrIfcMaxElements];  // parametric stereo: right
  TimeBuffer* coreBuffer[kSbrIfcMaxElements];    // parametric stereo: the held-back downmix
  int32_t writeIndex;  // slot the next SBR frame fills
  int32_t readIndex;   // slot the core takes next
  int32_t pending;     // filled and not yet taken
  SbrPayload* payload[kSbrIfcSlots][kSbrIfcMaxElements];
  SbrElementEncoder* encoder[kSbrIfcMaxElements];
  int32_t timingIn[kSbrIfcMaxElements];
  int32_t timingOut[kSbrIfcMaxElements];
  int32_t coreCount;  // samples the parametric-stereo part reported for the core
};

// Creates and configures the interface. *handle is set also when an error is
// returned (unless the record itself could not be allocated); the caller then
// destroys it.
CodecError* sbrIfcCreate(SbrIfc** handle, const SbrIfcConfig* config);
// Resets the ring, creates each SBR element's ten payload slots and opens its
// SBR encoder; returns the last SBR element's two timing values.
CodecError* sbrIfcInit(SbrIfc* handle, int32_t* coreDelayIn, int32_t* coreDelayOut);
// Creates the input buffers once the core delay (full-rate samples) is
// known; with parametric stereo encodes the silent frames that consume the
// delay. 0 on success, 1 on failure or for a null handle.
int sbrIfcSetCoreDelay(SbrIfc* handle, int32_t coreDelay);
// One full-rate frame of interleaved input (sampleCount values over all
// channels; null: silence) through every SBR encoder into the slot at the
// write position. 0, or 1 when a buffer write or an SBR encoder failed.
int sbrIfcEncodeFrame(SbrIfc* handle, const float* samples, int32_t sampleCount);
// Parametric stereo: the core's input for the frame (1024 half-rate
// samples), held back as sbrIfcSetCoreDelay set. 0, or 1 on failure.
int sbrIfcGetCoreInput(SbrIfc* handle, const float** samples, int32_t* count);
// The slots at the read position (element e's slot at [e]); moves the read
// position on. Null for a null handle or when no slot is pending.
SbrPayload** sbrIfcNextPayload(SbrIfc* handle);
// The crossover (Hz) the slot at the read position holds; 0 when absent.
float sbrIfcGetSlotValue(const SbrIfc* handle);
// SetChannelOrder on the mapping; 1 for a null handle.
int sbrIfcSetChannelOrder(SbrIfc* handle, const int32_t* order);
// Element 0's SBR encoder delay (sbrEncoderGetDelay); 0 without one.
int32_t sbrIfcGetSbrDelay(const SbrIfc* handle);
// 2500 bit/s per channel of each SBR element (the parametric-stereo share
// adds nothing); 0 for a null handle.
int32_t sbrIfcGetSideInfoBitrate(const SbrIfc* handle);
int sbrIfcHasSbr(const SbrIfc* handle);
int sbrIfcHasPs(const SbrIfc* handle);
// Element 0's header values (zeros without an SBR encoder).
void sbrIfcGetSettings(const SbrIfc* handle, SbrEncoderSettings* settings);
// Frees everything; null is accepted. Returns 0.
int sbrIfcDestroy(SbrIfc* handle);
