// The short MPEG-4 audio header: object type, sampling frequency and
// channel configuration.
#pragma once

#include <cstdint>

#include "bit_buf.h"
#include "errorhnd.h"

// Channels 1-6 are written as themselves and 8 as configuration 7; 7 or more
// than 8 channels are refused ("Invalid channel number").
CodecError* writeMp4AudioHeader(int32_t samplingRate, int32_t channels, int32_t objectType, bit_buf* buffer);
