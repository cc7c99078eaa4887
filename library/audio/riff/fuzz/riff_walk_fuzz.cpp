// libFuzzer target of the RIFF chunk walkers: the input is a RIFF file, held
// in memory. It is walked chunk by chunk, searched for the format, data and
// LIST/INFO chunks, its INFO items are read as ANSI strings, a chunk is read
// into a block, a CD track record is read, and a copy has its JUNK chunk and
// INFO list deleted. The same bytes go through the in-memory RIFF image
// functions. The file must never be read outside its bytes, and a walk must
// end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kvfile.h"
#include "kvmemblock.h"
#include "kvmriff.h"
#include "kvriff.h"

namespace {

const DWORD kFmt = KVRIFF_FOURCC('f', 'm', 't', ' ');
const DWORD kData = KVRIFF_FOURCC('d', 'a', 't', 'a');
const DWORD kInfo = KVRIFF_FOURCC('I', 'N', 'F', 'O');
const DWORD kJunk = KVRIFF_FOURCC('J', 'U', 'N', 'K');
const DWORD kName = KVRIFF_FOURCC('I', 'N', 'A', 'M');

void Walk(HANDLE file) {
  DWORD content = 0, form = 0;
  if (FAILED(riff_ReadFileID(file, &content, &form))) return;
  DWORD remaining = content;
  for (int i = 0; i < 4096 && remaining >= 8; ++i) {
    DWORD id = 0, size = 0;
    if (FAILED(riff_ReadChunkHeader(file, &id, &size))) break;
    remaining -= 8;
    DWORD skipped = riff_SkipChunk(file, size);
    remaining = skipped >= remaining ? 0 : remaining - skipped;
  }
}

void Search(HANDLE file) {
  DWORD size = 0, remaining = 0;
  if (SUCCEEDED(riff_FindChunkHeaderInRIFF(file, kFmt, &size, &remaining))) {
    KVRIFFDATA block = {size < 4096 ? size : 4096, nullptr};
    if (SUCCEEDED(riff_ReadDataAlloc(file, &block))) kvblock::Free(block.data);
  }
  riff_FindChunkHeaderInRIFF(file, kData, &size, &remaining);
  DWORD fileSize = 0;
  riff_GetFileSize(file, &fileSize);
  if (FAILED(riff_FindListChunkFromStart(file, kInfo, &size))) return;
  remaining = size;
  DWORD count = 0;
  if (FAILED(riff_GetNumListEntries(file, &count, &remaining))) return;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    DWORD left = size;
    DWORD start = 0;
    riff_SaveLocation(file, &start);
    if (FAILED(riff_SeekListEntry(file, i, &left))) break;
    DWORD id = 0, itemSize = 0;
    if (FAILED(riff_ReadChunkHeader(file, &id, &itemSize))) break;
    wchar_t text[64];
    riff_ReadANSIString(file, text, 64, &itemSize);
    riff_RestoreLocation(file, start);
  }
  riff_FindChunkHeaderInRIFF(file, kName, &size, &remaining);
}

void Edit(const uint8_t* data, size_t size) {
  KvMemoryFile copy(data, size);
  DWORD removed = 0;
  riff_DeleteChunk(&copy, kJunk, &removed, FALSE);
  riff_DeleteChunk(&copy, kInfo, &removed, TRUE);
  if (copy.Bytes().size() > size) std::abort();
}

void Image(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  _tMRIFF m;
  if (FAILED(mriff_Init(&m, bytes.data(), DWORD(size), DWORD(size)))) return;
  LONG content = 0;
  DWORD form = 0, chunk = 0, remaining = 0;
  mriff_ReadFileID(&m, &content, &form);
  mriff_FindChunkHeaderInRIFF(&m, kFmt, &chunk, &remaining);
  if (SUCCEEDED(mriff_FindChunkHeaderInRIFF(&m, kData, &chunk, &remaining))) {
    KVRIFFDATA block = {chunk < 4096 ? chunk : 4096, nullptr};
    if (SUCCEEDED(mriff_ReadDataAlloc(&m, &block))) kvblock::Free(block.data);
  }
  if (SUCCEEDED(mriff_FindListChunkFromStart(&m, kInfo, &chunk))) {
    remaining = chunk;
    DWORD count = 0;
    mriff_GetNumListEntries(&m, &count, &remaining);
    char text[32];
    remaining = chunk;
    mriff_GetInfoString(&m, kName, text, sizeof text, &remaining);
  }
  WAVEFORMATEX wfx;
  DWORD dataSize = 0;
  mriff_GetWfx(&wfx, bytes.data(), DWORD(size), &dataSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  {
    KvMemoryFile file(data, size);
    Walk(&file);
    kvfile::Seek(&file, 0, FILE_BEGIN);
    Search(&file);
    kvfile::Seek(&file, 0, FILE_BEGIN);
    BYTE record[24];
    riff_ReadRIFFCDDA(&file, record);
  }
  Edit(data, size);
  Image(data, size);
  return 0;
}
