// libFuzzer target of the 64-bit RIFF (Wave64) chunk walkers: the input is a
// Wave64 file, held in memory. It is walked chunk by chunk, searched for the
// format, data and LIST chunks, a LIST's entries are counted and visited, a
// chunk is read into a block, a copy has its JUNK chunk deleted, and its
// display list is loaded. 64-bit sizes from the file must never move the
// walk backwards or make it read outside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kvdisplist.h"
#include "kvfile.h"
#include "kvmemblock.h"
#include "kvriff.h"

namespace {

void Walk(HANDLE file) {
  uint64_t content = 0;
  GUID form;
  if (FAILED(riff64_ReadFileID(file, &content, &form))) return;
  for (int i = 0; i < 4096; ++i) {
    GUID id;
    uint64_t size = 0;
    if (FAILED(riff64_ReadChunkHeader(file, &id, &size))) break;
    if (riff64_SkipChunk(file, size) == 0) break;
  }
}

void Search(HANDLE file) {
  uint64_t size = 0;
  int64_t remaining = 0;
  if (SUCCEEDED(riff64_FindChunkHeaderInRIFF(file, KVRIFF64_FMT, &size, &remaining))) {
    KVRIFFDATA block = {DWORD(size < 4096 ? size : 4096), nullptr};
    if (SUCCEEDED(riff64_ReadDataAlloc(file, &block))) kvblock::Free(block.data);
  }
  riff64_FindChunkHeaderInRIFF(file, KVRIFF64_DATA, &size, &remaining);
  if (SUCCEEDED(riff64_FindListChunkFromStart(file, KVRIFF64_LIST, &size))) {
    uint64_t start = 0;
    riff64_SaveLocation(file, &start);
    int64_t left = int64_t(size > uint64_t(INT64_MAX) ? INT64_MAX : size);
    DWORD count = 0;
    riff64_GetNumListEntries(file, &count, &left);
    for (DWORD i = 0; i < count && i < 64; ++i) {
      riff64_RestoreLocation(file, start);
      left = int64_t(size > uint64_t(INT64_MAX) ? INT64_MAX : size);
      if (FAILED(riff64_SeekListEntry(file, i, &left))) break;
    }
  }
  // The display list among the chunks after the form.
  riff64_SeekDataStart(file);
  displist* list = displist_Create();
  if (list) {
    uint64_t length = 0;
    kvfile::Length(file, &length);
    int64_t left = length > 40 ? int64_t(length - 40) : 0;
    riff64_SeekDataStart(file);
    displist64_Load(file, list, &left);
    displist_Destroy(list);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  {
    KvMemoryFile file(data, size);
    Walk(&file);
    kvfile::Seek(&file, 0, FILE_BEGIN);
    Search(&file);
  }
  KvMemoryFile copy(data, size);
  uint64_t removed = 0;
  riff64_DeleteChunk(&copy, KVRIFF64_JUNK, &removed);
  if (copy.Bytes().size() > size) std::abort();
  return 0;
}
