// libFuzzer target of the wave-file header repair: the input is a damaged
// WAVE or Wave64 file, held in memory; its first byte chooses the form, the
// header room searched and whether a fallback format is given. A repair that
// succeeds must leave a file whose header reads again: the RIFF (or Wave64)
// header, a format chunk and a data chunk. The repaired bytes are then read
// as a file of the system by the format reader (WAVE, Wave64, AIFF).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "kvfile.h"
#include "kvriff.h"
#include "kvwavfile.h"

namespace {

const DWORD kFmt = KVRIFF_FOURCC('f', 'm', 't', ' ');
const DWORD kData = KVRIFF_FOURCC('d', 'a', 't', 'a');

void CheckWave(HANDLE file) {
  kvfile::Seek(file, 0, FILE_BEGIN);
  DWORD content = 0, form = 0, size = 0;
  if (FAILED(riff_ReadFileID(file, &content, &form))) std::abort();
  DWORD remaining = content;
  if (FAILED(riff_FindChunkHeader(file, kFmt, &size, &remaining))) std::abort();
  kvfile::Seek(file, 12, FILE_BEGIN);
  remaining = content;
  if (FAILED(riff_FindChunkHeader(file, kData, &size, &remaining))) std::abort();
}

void CheckWave64(HANDLE file) {
  kvfile::Seek(file, 0, FILE_BEGIN);
  uint64_t content = 0, size = 0;
  GUID form;
  if (FAILED(riff64_ReadFileID(file, &content, &form))) std::abort();
  int64_t remaining = 0;
  if (FAILED(riff64_FindChunkHeaderInRIFF(file, KVRIFF64_FMT, &size, &remaining))) std::abort();
  if (FAILED(riff64_FindChunkHeaderInRIFF(file, KVRIFF64_DATA, &size, &remaining))) std::abort();
}

// The bytes as a file of the system, read by path.
void ReadByPath(const std::vector<uint8_t>& bytes) {
  static const std::string path = "/tmp/kvriff-wavrepair-" + std::to_string(getpid()) + ".wav";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  const std::wstring wide(path.begin(), path.end());
  uint64_t frames = 0, offset = 0;
  WAVEFORMATEX* wfx = KvGetFileWfx(wide.c_str(), &frames, &offset);
  std::free(wfx);
  KvFileIsWave(wide.c_str(), TRUE);
  KvFileIsWave64(wide.c_str(), TRUE);
  KvFileIsAiff(wide.c_str());
  std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const uint8_t options = data[0];
  ++data;
  --size;
  WAVEFORMATEX fallback = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  const WAVEFORMATEX* given = (options & 2) ? &fallback : nullptr;
  static const DWORD kLimits[4] = {44, 4096, 0x10000, 0xFFFFFFFFu};
  const DWORD limit = kLimits[(options >> 2) & 3];
  KvMemoryFile file(data, size);
  if (options & 1) {
    if (KvFixTrashedW64(&file, given, limit) == S_OK) CheckWave64(&file);
  } else {
    if (KvFixTrashedWav(&file, given, limit) == S_OK) CheckWave(&file);
  }
  if (options & 16) ReadByPath(file.Bytes());
  return 0;
}
