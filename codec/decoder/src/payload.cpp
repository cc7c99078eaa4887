// Fill-element extension payloads and data stream elements of the AAC-LC
// core, stored as the CU buffer's ancillary entries.
#include <cstdint>

#include "channel_parts.h"
#include "cubuffer_c.h"

using aacchannel::rd;

namespace {

// Stores a payload as ancillary entries of at most 1024 bytes each; the
// full chunks of a longer payload are marked 253. A full ancillary area
// does not fail the block.
void storePayload(CuBuffer* cu, int32_t type, const uint8_t* data, int32_t size) {
  if (!cu) return;
  while (size > 1024) {
    cuBufferAddAncillary(cu, CU_ANC_CHUNK, data, 1024);
    data += 1024;
    size -= 1024;
  }
  cuBufferAddAncillary(cu, type, data, size);
}

}  // namespace

int32_t aacReadDataStreamElement(AacBitstream* bs, int32_t tag, CuBuffer* cu) {
  const int align = rd(bs, 1);
  int count = rd(bs, 8);
  if (count == 255) count += rd(bs, 8);
  if (align) aacByteAlign(bs);
  uint8_t data[512];
  for (int i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
  storePayload(cu, CU_ANC_DSE + tag, data, count);
  return 0;
}

int32_t aacReadExtensionPayload(AacBitstream* bs, int32_t count, int32_t afterCpe, CuBuffer* cu) {
  uint8_t data[272];
  const int type = rd(bs, 4);
  if (type == 2) {  // data element
    const int version = rd(bs, 4);
    if (version == 0) {
      int length = 0, loops = 0, part;
      do {
        part = rd(bs, 8);
        length += part;
        ++loops;
      } while (part == 255 && loops < count);
      // The element must fit in what the fill element has left.
      if (length + loops + 1 > count) return AAC_ERR_CHANNEL_STREAM;
      for (int i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
      storePayload(cu, CU_ANC_DATA_ELEMENT, data, length);
      return length + loops + 1;
    }
    for (int i = 0; i < count - 1; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
    storePayload(cu, CU_ANC_DATA_ELEMENT_OTHER, data, count - 1);
    return count;
  }
  int32_t anc;
  switch (type) {
    case 0: anc = CU_ANC_FILL; break;
    case 1: anc = CU_ANC_FILL_DATA; break;
    case 11: anc = CU_ANC_DRC; break;
    case 12: anc = CU_ANC_SPATIAL; break;
    case 13: anc = afterCpe ? CU_ANC_SBR_CPE : CU_ANC_SBR_SCE; break;
    case 14: anc = afterCpe ? CU_ANC_SBR_CRC_CPE : CU_ANC_SBR_CRC_SCE; break;
    default: anc = CU_ANC_OTHER; break;
  }
  data[0] = static_cast<uint8_t>(rd(bs, 4));
  for (int i = 1; i < count; ++i) data[i] = static_cast<uint8_t>(rd(bs, 8));
  storePayload(cu, anc, data, count);
  return count;
}
