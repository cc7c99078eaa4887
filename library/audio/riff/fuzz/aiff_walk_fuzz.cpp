// libFuzzer target of the IFF/AIFF chunk walkers: the input is an AIFF or
// AIFC file, held in memory. It is identified, its wave format and frame
// count are read from "COMM" and "SSND", markers are looked up, chunks are
// searched from the start, and a copy has a chunk deleted. Big-endian sizes
// and the 80-bit rate from the file must never lead outside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kvfile.h"
#include "kviff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  {
    KvMemoryFile file(data, size);
    DWORD formSize = 0, aifc = 0, little = 0;
    iff_IsAIFFFileEx(&file, &formSize, &aifc, &little);
    kvfile::Seek(&file, 0, FILE_BEGIN);
    WAVEFORMATEX wfx;
    DWORD frames = 0, offset = 0;
    iff_GetAIFFWfx(&file, &wfx, &frames, &offset);
    for (WORD id = 0; id < 4; ++id) {
      kvfile::Seek(&file, 0, FILE_BEGIN);
      KVIFFMARKER marker;
      iff_FindMarker(&file, &marker, id);
    }
    const DWORD ids[] = {KVIFF_COMM, KVIFF_SSND, KVIFF_MARK, KVIFF_INST};
    for (DWORD id : ids) {
      DWORD chunk = 0;
      iff_FindChunkFromStart(&file, id, &chunk);
    }
  }
  KvMemoryFile copy(data, size);
  DWORD removed = 0;
  iff_DeleteChunk(&copy, KVIFF_MARK, &removed);
  if (copy.Bytes().size() > size) std::abort();
  return 0;
}
