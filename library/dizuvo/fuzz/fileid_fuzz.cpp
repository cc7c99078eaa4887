// libFuzzer target: arbitrary bytes as a whole file (in a block of exactly
// its size) through the identification table, with the first byte choosing
// the flags and an extension.
#include <cstdlib>
#include <cstring>

#include "kvfileid_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const char* const kExtensions[] = {"", ".ac3", ".mp2", ".wma", ".mxf", ".vox", ".avc", "?"};
  const uint8_t select = data[0];
  ++data;
  --size;
  uint8_t* file = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(file, data, size);
  KvFileIdMemoryReader reader(file, uint32_t(size));
  KvFileIdInput in;
  in.bytes = file;
  in.count = uint32_t(size < KVFILEID_HEADER_BYTES ? size : KVFILEID_HEADER_BYTES);
  in.extension = kExtensions[select & 7];
  in.flags = select >> 3;
  in.file = (select & 0x80) ? nullptr : &reader;
  KVFILEID_IDENTIFIED_TYPE type = KvFileId_Identify(in);
  if (type == KVFILEID_UNDECIDED) std::abort();
  std::free(file);
  return 0;
}
