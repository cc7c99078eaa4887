// The time buffer: ring writes with the mirrored tail kept in step.
#include "timebuffer.h"

#include <cstring>

#include "utillib.h"

namespace {

void writeFrames(TimeBuffer* b, int32_t at, const float* left, const float* right, int32_t stride, float gain,
                 int32_t n) {
  float* dst = b->data + static_cast<size_t>(at) * b->channels;
  for (int32_t c = 0; c < b->channels; ++c) {
    const float* src = c == 0 ? left : right;
    float* d = dst + c;
    if (!src) {
      for (int32_t i = 0; i < n; ++i) d[static_cast<size_t>(i) * b->channels] = 0.0f;
    } else if (gain == 1.0f) {
      for (int32_t i = 0; i < n; ++i) d[static_cast<size_t>(i) * b->channels] = src[static_cast<size_t>(i) * stride];
    } else {
      for (int32_t i = 0; i < n; ++i)
        d[static_cast<size_t>(i) * b->channels] = gain * src[static_cast<size_t>(i) * stride];
    }
  }
}

// Copies frames [from, to) of the ring start behind the ring end.
void mirror(TimeBuffer* b, int32_t from, int32_t to) {
  if (to > b->extra) to = b->extra;
  if (from >= to) return;
  std::memcpy(b->data + static_cast<size_t>(b->length + from) * b->channels,
              b->data + static_cast<size_t>(from) * b->channels,
              sizeof(float) * static_cast<size_t>(to - from) * b->channels);
}

int write(TimeBuffer* b, const float* left, const float* right, int32_t stride, float gain, int32_t n) {
  const int32_t start = b->writePos;
  int32_t first = b->length - start;
  if (first > n) first = n;
  writeFrames(b, start, left, right, stride, gain, first);
  if (n > first) {
    const int32_t rest = n - first;
    const size_t skip = static_cast<size_t>(first) * stride;
    writeFrames(b, 0, left ? left + skip : nullptr, right ? right + skip : nullptr, stride, gain, rest);
    mirror(b, 0, rest);
  }
  if (start < b->extra) mirror(b, start, b->extra);
  b->writePos = (start + n) % b->length;
  return 0;
}

}  // namespace

int CreateTimeBuffer(TimeBuffer** handle, int32_t length, int32_t extra, int32_t channels, int32_t delay) {
  if (!handle) return 1;
  *handle = nullptr;
  // A write position at or beyond the ring, or a mirror longer than the
  // ring, would make writes land outside the storage.
  if (length < 1 || extra < 0 || delay < 0 || delay >= length || extra > length) return 1;
  if (channels != 1 && channels != 2) return 1;
  TimeBuffer* b = static_cast<TimeBuffer*>(utilCalloc(1, sizeof(TimeBuffer), __FILE__, __LINE__));
  if (!b) return 1;
  const uint64_t floats = (static_cast<uint64_t>(length) + static_cast<uint64_t>(extra)) * static_cast<uint64_t>(channels);
  b->data = floats <= 0xFFFFFFFFu / sizeof(float)
                ? static_cast<float*>(utilCalloc(static_cast<uint32_t>(floats), sizeof(float), __FILE__, __LINE__))
                : nullptr;
  if (!b->data) {
    utilFree(b, __FILE__, __LINE__);
    return 1;
  }
  b->length = length;
  b->extra = extra;
  b->channels = channels;
  b->readPos = 0;
  b->writePos = delay;
  *handle = b;
  return 0;
}

void DeleteTimeBuffer(TimeBuffer** handle) {
  if (!handle || !*handle) return;
  utilFree((*handle)->data, __FILE__, __LINE__);
  utilFree(*handle, __FILE__, __LINE__);
  *handle = nullptr;
}

int WriteTimeBuffer(TimeBuffer* buffer, const float* left, const float* right, int32_t inputStride, float gain,
                    int32_t n) {
  if (!buffer) return 1;
  if (n < 0 || n > buffer->length) return 1;
  return write(buffer, left, right, inputStride, gain, n);
}

int WriteTimeBufferMono(TimeBuffer* buffer, const float* input, float gain, int32_t n) {
  if (!buffer) return 1;
  const int result = (n > buffer->length || n < 0 ? 1 : 0) + (buffer->channels != 1 ? 1 : 0);
  if (result) return result;
  return write(buffer, input, nullptr, 1, gain, n);
}

float* GetTimeBufferPtr(TimeBuffer* buffer, int32_t offset, int32_t channel) {
  if (!buffer || channel < 0 || channel >= buffer->channels) return nullptr;
  int64_t frame = (static_cast<int64_t>(buffer->readPos) + offset) % buffer->length;
  if (frame < 0) frame += buffer->length;
  return buffer->data + static_cast<size_t>(frame) * buffer->channels + channel;
}

int AdvanceTimeBuffer(TimeBuffer* buffer, int32_t n) {
  if (!buffer) return 0;
  int64_t pos = (static_cast<int64_t>(buffer->readPos) + n) % buffer->length;
  if (pos < 0) pos += buffer->length;
  buffer->readPos = static_cast<int32_t>(pos);
  return 0;
}
