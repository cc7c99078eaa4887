// Helpers of the template tests: fixture paths and files, the fixture
// manifest, a memory byte source and a builder of V1 stream forms.
#pragma once

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kvtemplate_internal.h"
#include "vog_files.h"
#include "vog_paths.h"

// A UTF-16 literal as the record's character type.
#ifdef _WIN32
#define W16(s) L##s
#else
#define W16(s) u##s
#endif

namespace tt {

// A fixture file's path as the test program's C runtime opens it (through
// Wine's Z: drive in the Windows build).
inline std::string FixturePath(const std::string& name) { return vogtest::FixturePath("templates/" + name); }

inline bool ReadFile(const std::string& path, std::vector<BYTE>* out) { return vogtest::ReadBytes(path, *out); }

struct ManifestRow {
  std::string file;
  HRESULT expected;
  std::string crc0, crc1, md5_0, md5_1;
};

inline std::vector<ManifestRow> ReadManifest() {
  std::vector<ManifestRow> rows;
  std::ifstream in(FixturePath("manifest.tsv").c_str());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    ManifestRow r;
    std::string hr;
    if (!(f >> r.file >> hr >> r.crc0 >> r.crc1 >> r.md5_0 >> r.md5_1)) continue;
    r.expected = static_cast<HRESULT>(std::strtoul(hr.c_str(), nullptr, 16));
    rows.push_back(r);
  }
  return rows;
}

inline std::string Hex32(DWORD v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(v));
  return b;
}

inline std::string HexBytes(const void* p, size_t n) {
  std::string s;
  const BYTE* b = static_cast<const BYTE*>(p);
  char t[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, "%02x", b[i]);
    s += t;
  }
  return s;
}

// Bytes in memory as a loader's source; `failAt` makes a read that would
// reach past that offset fail with E_FAIL.
class MemorySource : public kvtemplate::ByteSource {
 public:
  explicit MemorySource(std::vector<BYTE> data, size_t failAt = SIZE_MAX) : data_(std::move(data)), failAt_(failAt) {}
  HRESULT Read(void* dst, DWORD n, DWORD* got) override {
    *got = 0;
    if (pos_ + n > failAt_) return E_FAIL;
    size_t left = data_.size() - pos_;
    size_t k = n < left ? n : left;
    std::memcpy(dst, data_.data() + pos_, k);
    pos_ += k;
    *got = static_cast<DWORD>(k);
    return S_OK;
  }
  size_t Position() const { return pos_; }

 private:
  std::vector<BYTE> data_;
  size_t failAt_;
  size_t pos_ = 0;
};

// Little-endian writer for stream forms.
struct Bytes {
  std::vector<BYTE> v;
  Bytes& u32(DWORD x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<BYTE>(x >> (8 * i)));
    return *this;
  }
  Bytes& raw(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    v.insert(v.end(), b, b + n);
    return *this;
  }
  Bytes& fill(BYTE value, size_t n) {
    v.insert(v.end(), n, value);
    return *this;
  }
  // A UTF-16 text in a fixed field of `chars` units (zero-filled, cut to fit).
  Bytes& field16(const std::u16string& s, size_t chars) {
    for (size_t i = 0; i < chars; ++i) {
      char16_t c = i < s.size() ? s[i] : 0;
      v.push_back(static_cast<BYTE>(c));
      v.push_back(static_cast<BYTE>(c >> 8));
    }
    return *this;
  }
};

// What a V1 stream form carries.
struct V1Spec {
  DWORD version = 0x1000000;
  std::u16string name = u"Old template";
  std::u16string desc = u"From an earlier version";
  bool audio = true;
  WAVEFORMATEX source = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  DWORD audioStreams = 1;
  std::vector<BYTE> compressed;  // the output format bytes (size word + bytes)
  BYTE audioExt[32] = {};
  std::vector<BYTE> audioCodec;
  bool video = false;
  DWORD videoStreams = 1;
  BYTE videoExt[64] = {};
  BITMAPINFOHEADER bihSource = {};
  BITMAPINFOHEADER bihOutput = {};
  std::vector<BYTE> videoCodec;
  // Cuts the stream to this many bytes (0 = whole).
  size_t truncate = 0;
};

inline std::vector<BYTE> BuildV1(const V1Spec& s) {
  Bytes b;
  b.u32(0).u32(s.version).field16(s.name, 260).field16(s.desc, 260);
  b.u32(s.audio ? 1 : 0);
  if (s.audio) {
    b.raw(&s.source, 18).u32(s.audioStreams);
    b.u32(static_cast<DWORD>(s.compressed.size())).raw(s.compressed.data(), s.compressed.size());
    b.raw(s.audioExt, 32).u32(static_cast<DWORD>(s.audioCodec.size())).raw(s.audioCodec.data(), s.audioCodec.size());
  }
  b.u32(s.video ? 1 : 0);
  if (s.video) {
    b.u32(s.videoStreams).raw(s.videoExt, 64).raw(&s.bihSource, 40).raw(&s.bihOutput, 40);
    b.u32(static_cast<DWORD>(s.videoCodec.size())).raw(s.videoCodec.data(), s.videoCodec.size());
  }
  DWORD total = static_cast<DWORD>(b.v.size());
  std::memcpy(b.v.data(), &total, 4);
  if (s.truncate) b.v.resize(s.truncate);
  return b.v;
}

// A compressed WAVEFORMATEX of `tag` with `extra` extra bytes (values 1, 2, ...).
inline std::vector<BYTE> CompressedFormat(WORD tag, WORD extra, size_t pad = 0) {
  WAVEFORMATEX w = {tag, 2, 44100, 16000, 1, 0, extra};
  std::vector<BYTE> v(reinterpret_cast<BYTE*>(&w), reinterpret_cast<BYTE*>(&w) + 18);
  for (WORD i = 0; i < extra; ++i) v.push_back(static_cast<BYTE>(i + 1));
  v.resize(v.size() + pad);
  return v;
}

inline std::u16string ToU16(const WCHAR* s) {
  std::u16string r;
  for (; s && *s; ++s) r += static_cast<char16_t>(*s);
  return r;
}

// A record owned by the test.
struct Owned {
  tagKVTEMPLATExV2* t = nullptr;
  Owned() = default;
  explicit Owned(tagKVTEMPLATExV2* p) : t(p) {}
  ~Owned() { std::free(t); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  tagKVTEMPLATExV2* operator->() const { return t; }
  tagKVTEMPLATExV2** out() {
    std::free(t);
    t = nullptr;
    return &t;
  }
};

}  // namespace tt
