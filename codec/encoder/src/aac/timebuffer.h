// A ring of float sample frames (one or two interleaved channels) with a
// start delay and a mirrored tail: the first `extra` frames are repeated
// behind the ring's end, so a reader can take up to `extra` frames from any
// read position as one contiguous run.
#pragma once

#include <cstdint>

struct TimeBuffer {
  float* data;        // (length + extra) * channels floats
  int32_t readPos;    // frames
  int32_t writePos;   // frames
  int32_t length;     // ring length in frames
  int32_t extra;      // frames mirrored behind the end
  int32_t channels;   // 1 or 2
};

// 0 on success; non-zero (nothing allocated, *handle null) when length is
// below 1, extra or delay negative, delay not below length, extra above
// length, channels not 1 or 2, or memory runs out. The ring starts with
// `delay` zero frames before the first written one.
int CreateTimeBuffer(TimeBuffer** handle, int32_t length, int32_t extra, int32_t channels, int32_t delay);
// Frees storage and record and clears *handle; null is ignored.
void DeleteTimeBuffer(TimeBuffer** handle);
// Writes n frames at the write position: left (and right for two channels)
// are read every inputStride floats and multiplied by gain (exactly 1.0
// copies); a null pointer writes zeros for that channel. Returns 1 (nothing
// written) when n exceeds the ring length or is negative, else 0.
int WriteTimeBuffer(TimeBuffer* buffer, const float* left, const float* right, int32_t inputStride, float gain,
                    int32_t n);
// Writes n contiguous samples into a one-channel ring (null writes zeros).
// Returns (n > length) + (channels != 1); nothing is written unless 0.
int WriteTimeBufferMono(TimeBuffer* buffer, const float* input, float gain, int32_t n);
// Address of frame (read position + offset) modulo length, channel c; null
// for a null buffer or a channel outside the ring's.
float* GetTimeBufferPtr(TimeBuffer* buffer, int32_t offset, int32_t channel);
// Read position = (read position + n) modulo length; returns 0.
int AdvanceTimeBuffer(TimeBuffer* buffer, int32_t n);
