// The channel elements of an encoder channel mode, as the SBR interface sees
// them: per element its type, channel count, share of the total bitrate and
// the input channels it takes. The layout is the core encoder's: the centre
// single-channel element first, then the pairs front to back, the
// low-frequency element last; or all single-channel elements, or all pairs.
#pragma once

#include <cstdint>

#include "errorhnd.h"

enum {
  kChannelElementSce = 0,
  kChannelElementCpe = 1,
  kChannelElementLfe = 2,  // and above: elements that carry no SBR
  kChannelMappingMaxElements = 15,
};

struct ChannelElement {
  int32_t type;      // kChannelElementSce, kChannelElementCpe or kChannelElementLfe
  int32_t channels;  // 1 or 2
  float share;       // share of the total bitrate
  int32_t first;     // input channel of the first channel
  int32_t second;    // input channel of the second channel (pairs), else the first's
};

struct ChannelMapping {
  int32_t channels;  // total channel count
  int32_t count;     // elements
  ChannelElement elements[kChannelMappingMaxElements];
};

// The channel mode of a coded channel count and variant (0: configurations
// 1-7, 1: all single-channel elements, 2: all pairs). Error for a count the
// variant has no mode for.
CodecError* DetermineEncoderMode(int32_t* mode, int32_t channels, int32_t variant);
// The mapping of a channel mode (1-7, 16-24); *mapping is null on error.
// flags must be 0.
CodecError* InitChannelMapping(int32_t mode, ChannelMapping** mapping, int32_t flags);
// order[i]: the input channel of stream channel i (a permutation of the
// mapping's channels). 0 on success; 1 (nothing changed) for a null mapping
// or order, or an order that is no permutation.
int SetChannelOrder(ChannelMapping* mapping, const int32_t* order);
void DeleteChannelMapping(ChannelMapping* mapping);
