// Zero-filled blocks for the image library's tables: global memory kept
// locked for its life on Windows, the C heap elsewhere.
#pragma once

#include <cstddef>

void* KvImageAllocZeroed(size_t bytes);
void KvImageFree(void* p);
