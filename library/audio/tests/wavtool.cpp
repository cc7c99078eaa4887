// Test helper of the wave-format checks: "write <dir>" writes WAV files whose
// fmt chunks come from records through KvAudio_GeneralCopyWfx (data converted
// from a float sine with KvAudio_Copy); "readfmt <file>" reads the fmt chunk
// of a WAV file (exactly its size, zero-padded to 18 bytes) into a record
// and prints the record's fields.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvaudio.h"

namespace {

bool WriteWav(const std::string& path, const _kvwaveformat& rec, KVWAVEFORMAT_COPY_DEST mode) {
  BYTE fmt[64] = {};
  KvAudio_GeneralCopyWfx(reinterpret_cast<WAVEFORMATEX*>(fmt), sizeof fmt, rec, mode);
  const WAVEFORMATEX* w = reinterpret_cast<const WAVEFORMATEX*>(fmt);
  const DWORD fmtSize = 18u + w->cbSize;
  const DWORD frames = 4800;
  std::vector<float> sine(frames * rec.nChannels);
  for (DWORD i = 0; i < frames; ++i)
    for (DWORD c = 0; c < rec.nChannels; ++c)
      sine[i * rec.nChannels + c] = static_cast<float>(0.5 * std::sin(2 * 3.14159265358979 * 440.0 * (c + 1) * i / 48000));
  _kvwaveformat src;
  src.Init(rec.nSamplesPerSec, KVST_FLOAT, rec.nChannels, 0, 32);
  std::vector<BYTE> data(static_cast<size_t>(frames) * w->nBlockAlign);
  if (KvAudio_Copy(w, data.data(), &src, sine.data(), static_cast<int32_t>(frames), 1.0f) != S_OK) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  auto u32 = [&](DWORD v) { std::fwrite(&v, 4, 1, f); };
  std::fwrite("RIFF", 1, 4, f);
  u32(4 + 8 + fmtSize + 8 + static_cast<DWORD>(data.size()));
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(fmtSize);
  std::fwrite(fmt, 1, fmtSize, f);
  std::fwrite("data", 1, 4, f);
  u32(static_cast<DWORD>(data.size()));
  std::fwrite(data.data(), 1, data.size(), f);
  return std::fclose(f) == 0;
}

int Write(const std::string& dir) {
  struct Item {
    const char* name;
    KVSAMPLETYPE type;
    WORD ch;
    DWORD mask;
    KVWAVEFORMAT_COPY_DEST mode;
  } items[] = {
      {"ours_mask3f.wav", KVST_S16, 6, 0x3F, KVWFX_COPY_EXTENSIBLE},
      {"ours_mask60f.wav", KVST_S16, 6, 0x60F, KVWFX_COPY_AUTO},
      {"ours_mask63f.wav", KVST_S24, 8, 0x63F, KVWFX_COPY_AUTO},
      {"ours_24in32.wav", KVST_S24IN32, 2, 0, KVWFX_COPY_EXTENSIBLE},
      {"ours_float.wav", KVST_FLOAT, 2, 0, KVWFX_COPY_AUTO},
      {"ours_floatext.wav", KVST_FLOAT, 2, 0, KVWFX_COPY_EXTENSIBLE},
      {"ours_s32.wav", KVST_S32, 1, 0, KVWFX_COPY_AUTO},
      {"ours_u8.wav", KVST_U8, 2, 0, KVWFX_COPY_AUTO},
  };
  for (const Item& it : items) {
    _kvwaveformat rec;
    rec.Init(48000, it.type, it.ch, it.mask, 32);
    if (!WriteWav(dir + "/" + it.name, rec, it.mode)) {
      std::fprintf(stderr, "cannot write %s\n", it.name);
      return 1;
    }
  }
  return 0;
}

int ReadFmt(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 1;
  std::vector<BYTE> b;
  BYTE buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
  std::fclose(f);
  for (size_t p = 12; p + 8 <= b.size();) {
    DWORD size;
    std::memcpy(&size, &b[p + 4], 4);
    if (std::memcmp(&b[p], "fmt ", 4) == 0 && p + 8 + size <= b.size()) {
      // A heap block of exactly the chunk's size (at least the 18 bytes the
      // record reads), so that the sanitizer sees any read past it.
      size_t alloc = size < 18 ? 18 : size;
      BYTE* h = static_cast<BYTE*>(std::calloc(1, alloc));
      std::memcpy(h, &b[p + 8], size);
      _kvwaveformat* rec = static_cast<_kvwaveformat*>(std::calloc(1, 128));
      rec->Init(128, *reinterpret_cast<WAVEFORMATEX*>(h));
      std::printf("fmt=%u type=%u rate=%u ch=%u align=%u mask=0x%x flags=%u tag=0x%x bits=%u extra=%u\n",
                  static_cast<unsigned>(size), static_cast<unsigned>(rec->SampleType),
                  static_cast<unsigned>(rec->nSamplesPerSec), rec->nChannels, rec->nBlockAlign,
                  static_cast<unsigned>(rec->dwChannelMask), static_cast<unsigned>(rec->dwFlags), rec->FormatTag(),
                  rec->BitsPerSample(), rec->IsCompressed() ? rec->cbExtra : 0u);
      std::free(rec);
      std::free(h);
      return 0;
    }
    p += 8 + size + (size & 1);
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "write") return Write(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "readfmt") return ReadFmt(argv[2]);
  std::fprintf(stderr, "usage: kvaudio_wavtool write <dir> | readfmt <file>\n");
  return 64;
}
