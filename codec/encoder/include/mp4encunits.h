// The access units of one encode call: mp4EncEncode writes them one after the
// other into the caller's buffer and lists their sizes; every caller that
// hands units on one at a time splits them here, with the sizes checked
// against the bytes written.
#pragma once

#include <cstdint>
#include <vector>

#include "mp4enc.h"

// Appends each unit of `bytes` (`count` bytes written by one call) to `out`,
// skipping empty ones. Without a size list the bytes are one unit. False when
// the sizes are negative or do not add up to `count`.
template <class Queue>
bool mp4EncSplitUnits(const uint8_t* bytes, int32_t count, const mp4EncUnits* units, Queue* out) {
  if (count <= 0) return count == 0;
  if (!units || units->count <= 0 || !units->sizes) {
    out->emplace_back(bytes, bytes + count);
    return true;
  }
  int32_t offset = 0;
  for (int32_t i = 0; i < units->count; ++i) {
    const int32_t size = units->sizes[i];
    if (size < 0 || size > count - offset) return false;
    if (size > 0) out->emplace_back(bytes + offset, bytes + offset + size);
    offset += size;
  }
  return offset == count;
}
