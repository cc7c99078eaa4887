// Wave-file headers: byte layouts of created and inserted headers, formats of
// files written by sox, ffmpeg and Python against ffprobe's report, damaged
// headers, repairs and format changes. The files written here are decoded
// by ffmpeg and sox in wavfile_check.sh.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "iff_testutil.h"
#include "kviff.h"
#include "kvwavfile.h"
#include "vog_tools.h"

using namespace kvrifftest;

namespace {

WAVEFORMATEX Pcm(WORD tag, WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX w{};
  w.wFormatTag = tag;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.wBitsPerSample = bits;
  w.nBlockAlign = static_cast<WORD>(channels * (bits / 8));
  w.nAvgBytesPerSec = w.nBlockAlign * rate;
  return w;
}

std::vector<uint8_t> Fmt18(const WAVEFORMATEX& w) {
  std::vector<uint8_t> b(18);
  memcpy(b.data(), &w, 16);
  return b;
}

std::wstring TempPath(const wchar_t* tag) {
  wchar_t dir[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, tag, 0, name);
  return name;
}

std::vector<std::string> Lines(const std::string& rel) {
  std::vector<std::string> out;
  std::ifstream in(std::string(VOG_FIXTURE_DIR) + "/" + rel);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return v;
}

void Append(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFilePointer(h, 0, nullptr, FILE_END);
  DWORD put = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(h);
}

HANDLE OpenRW(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// ---- created and inserted headers ----------------------------------------

TEST(WavHeaders, InitializeWritesTheCanonicalHeader) {
  std::wstring path = TempPath(L"wvi");
  WAVEFORMATEX w = Pcm(1, 2, 44100, 16);
  ASSERT_EQ(S_OK, KvInitializeWav(path.c_str(), &w, CREATE_ALWAYS));
  Bytes want;
  want.str("RIFF").le32(38).str("WAVE").str("fmt ").le32(18).raw(Fmt18(w).data(), 18).str("data").le32(0);
  EXPECT_EQ(want.v, LoadFile(path));

  // A refused format changes nothing, also not with a disposition that
  // would empty the file.
  SaveFile(path, {1, 2, 3});
  WAVEFORMATEX bad = w;
  bad.nBlockAlign = 3;
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvInitializeWav(path.c_str(), &bad, CREATE_ALWAYS));
  WAVEFORMATEX b20 = Pcm(1, 2, 44100, 20);
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvInitializeWav(path.c_str(), &b20, CREATE_ALWAYS));
  WAVEFORMATEX extra = w;
  extra.cbSize = 2;
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvInitializeWav(path.c_str(), &extra, CREATE_ALWAYS));
  EXPECT_EQ(E_INVALIDARG, KvInitializeWav(path.c_str(), nullptr, CREATE_ALWAYS));
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), LoadFile(path));

  // Open-existing and open-always empty an existing file.
  ASSERT_EQ(S_OK, KvInitializeWav(path.c_str(), &w, OPEN_EXISTING));
  EXPECT_EQ(46u, LoadFile(path).size());
  SaveFile(path, std::vector<uint8_t>(500, 7));
  ASSERT_EQ(S_OK, KvInitializeWav(path.c_str(), &w, OPEN_ALWAYS));
  EXPECT_EQ(want.v, LoadFile(path));
  EXPECT_EQ(KV_E_OPEN, KvInitializeWav(path.c_str(), &w, CREATE_NEW));
  DeleteFileW(path.c_str());
  EXPECT_EQ(KV_E_OPEN, KvInitializeWav(path.c_str(), &w, OPEN_EXISTING));
  EXPECT_EQ(KV_E_OPEN, KvInitializeWav(L"Z:\\no\\such\\folder\\x.wav", &w, CREATE_ALWAYS));
}

TEST(WavHeaders, HeadersWithJunk) {
  std::wstring path = TempPath(L"wvj");
  WAVEFORMATEX w = Pcm(3, 2, 48000, 32);
  ASSERT_EQ(S_OK, KvInitializeWavWithJunk(path.c_str(), &w, CREATE_ALWAYS, 99));
  Bytes want;
  want.str("RIFF").le32(92).str("WAVE").str("fmt ").le32(18).raw(Fmt18(w).data(), 18);
  want.str("JUNK").le32(46).zeros(46).str("data").le32(0);
  EXPECT_EQ(want.v, LoadFile(path));
  ASSERT_EQ(S_OK, KvInitializeWavWithJunk(path.c_str(), &w, CREATE_ALWAYS, 54));
  auto b = LoadFile(path);
  ASSERT_EQ(54u, b.size());
  EXPECT_EQ(0, memcmp(&b[38], "JUNK\0\0\0\0data\0\0\0\0", 16));
  // A header too small for a JUNK chunk is refused before the file is touched.
  SaveFile(path, {9, 9});
  for (DWORD h : {0u, 45u, 46u, 51u, 52u}) {
    EXPECT_EQ(E_INVALIDARG, KvInitializeWavWithJunk(path.c_str(), &w, CREATE_ALWAYS, h)) << h;
  }
  EXPECT_EQ((std::vector<uint8_t>{9, 9}), LoadFile(path));
  DeleteFileW(path.c_str());
}

TEST(WavHeaders, InsertRewritesTheHeaderOfAnOpenFile) {
  WAVEFORMATEX w = Pcm(1, 2, 44100, 16);
  TempFile f(std::vector<uint8_t>(300, 0xEE));
  f.Seek(123);
  ASSERT_EQ(S_OK, KvInsertWavHeader(f.handle(), &w, 200, 54));
  EXPECT_EQ(123u, f.Position());
  auto b = f.Bytes();
  EXPECT_EQ(200u + 54 - 8, GetLE32(b, 4));
  EXPECT_EQ(0, memcmp(&b[38], "JUNK\0\0\0\0data", 12));
  EXPECT_EQ(200u, GetLE32(b, 50));
  EXPECT_EQ(0xEE, b[54]);

  struct {
    DWORD header;
    HRESULT hr;
  } sizes[] = {{46, S_OK}, {48, KV_E_BADLENGTH}, {50, KV_E_BADLENGTH}, {52, KV_E_BADLENGTH},
               {47, KV_E_BADLENGTH}, {44, KV_E_BADLENGTH}, {56, S_OK}, {0, KV_E_BADLENGTH}};
  for (auto& s : sizes) {
    TempFile g(std::vector<uint8_t>(100, 0xEE));
    g.Seek(7);
    EXPECT_EQ(s.hr, KvInsertWavHeader(g.handle(), &w, 10, s.header)) << s.header;
    EXPECT_EQ(7u, g.Position());
    if (s.hr != S_OK) {
      EXPECT_EQ(std::vector<uint8_t>(100, 0xEE), g.Bytes());
    }
  }
  // A file shorter than the header.
  TempFile small(std::vector<uint8_t>(45, 0));
  EXPECT_EQ(KV_E_BADLENGTH, KvInsertWavHeader(small.handle(), &w, 0, 46));
  // The RIFF size field cannot pass 0xFFFFFFF7: nothing is written.
  TempFile big(std::vector<uint8_t>(100, 0xEE));
  EXPECT_EQ(S_OK, KvInsertWavHeader(big.handle(), &w, 0xFFFFFFF7u - 38, 46));
  EXPECT_EQ(0xFFFFFFF7u, GetLE32(big.Bytes(), 4));
  TempFile big2(std::vector<uint8_t>(100, 0xEE));
  EXPECT_EQ(KV_E_TOOBIG, KvInsertWavHeader(big2.handle(), &w, 0xFFFFFFF7u - 37, 46));
  EXPECT_EQ(KV_E_TOOBIG, KvInsertWavHeader(big2.handle(), &w, 0xFFFFFFF0u, 100));
  EXPECT_EQ(std::vector<uint8_t>(100, 0xEE), big2.Bytes());
}

TEST(WavHeaders, Wave64Layouts) {
  std::wstring path = TempPath(L"w64");
  WAVEFORMATEX w = Pcm(1, 2, 44100, 16);
  ASSERT_EQ(S_OK, KvInitializeWav64(path.c_str(), &w, CREATE_ALWAYS));
  Bytes want;
  want.raw(&KVRIFF64_RIFF, 16).le64(112).raw(&KVRIFF64_WAVE, 16);
  want.raw(&KVRIFF64_FMT, 16).le64(42).raw(Fmt18(w).data(), 18).zeros(6);
  want.raw(&KVRIFF64_DATA, 16).le64(24);
  EXPECT_EQ(want.v, LoadFile(path));
  DeleteFileW(path.c_str());

  TempFile f(std::vector<uint8_t>(400, 0xEE));
  ASSERT_EQ(S_OK, KvInsertW64Header(f.handle(), &w, 240, 160));
  auto b = f.Bytes();
  uint64_t riff, junk, data;
  memcpy(&riff, &b[16], 8);
  memcpy(&junk, &b[88 + 16], 8);
  memcpy(&data, &b[136 + 16], 8);
  EXPECT_EQ(400u, riff);
  EXPECT_EQ(0, memcmp(&b[88], &KVRIFF64_JUNK, 16));
  EXPECT_EQ(24u + 24, junk);
  EXPECT_EQ(0, memcmp(&b[136], &KVRIFF64_DATA, 16));
  EXPECT_EQ(264u, data);
  for (uint64_t h : {104ull, 113ull, 120ull, 128ull, 0ull}) {
    TempFile g(std::vector<uint8_t>(200, 0xEE));
    EXPECT_EQ(KV_E_BADLENGTH, KvInsertW64Header(g.handle(), &w, 8, h)) << h;
    EXPECT_EQ(std::vector<uint8_t>(200, 0xEE), g.Bytes());
  }
  TempFile small(std::vector<uint8_t>(111, 0));
  EXPECT_EQ(KV_E_BADLENGTH, KvInsertW64Header(small.handle(), &w, 0, 112));
}

TEST(WavHeaders, RecordOverloads) {
  std::wstring path = TempPath(L"wvr");
  _kvwaveformat rec;
  rec.Init(44100, KVST_S24, 2, 0, 40);
  ASSERT_EQ(S_OK, KvInitializeWav(path.c_str(), rec, CREATE_ALWAYS));
  auto b = LoadFile(path);
  ASSERT_EQ(46u, b.size());
  EXPECT_EQ(1, GetLE16(b, 20));
  EXPECT_EQ(24, GetLE16(b, 34));
  EXPECT_EQ(6, GetLE16(b, 32));
  // A layout that needs the extensible header is refused: the header
  // written here has no room for it.
  _kvwaveformat side;
  side.Init(48000, KVST_S16, 6, 0x60F, 40);
  SaveFile(path, {5});
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvInitializeWav(path.c_str(), side, CREATE_ALWAYS));
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvInitializeWav64(path.c_str(), side, CREATE_ALWAYS));
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvInitializeWavWithJunk(path.c_str(), side, CREATE_ALWAYS, 100));
  EXPECT_EQ((std::vector<uint8_t>{5}), LoadFile(path));
  // Six channels with the default layout go into the plain header.
  _kvwaveformat six;
  six.Init(48000, KVST_S16, 6, 0, 40);
  EXPECT_EQ(S_OK, KvInitializeWav64(path.c_str(), six, CREATE_ALWAYS));
  EXPECT_EQ(112u, LoadFile(path).size());
  DeleteFileW(path.c_str());
}

// Headers for ffmpeg and sox: a header made first with size 0 and completed
// by insertion after the data, or inserted into reserved room.
void WriteForCheck(const std::string& name, const WAVEFORMATEX& w, DWORD frames, bool w64, DWORD header) {
  std::wstring path = FixtureW("wavfile/out/" + name);
  auto pcm = Pattern(static_cast<size_t>(w.nBlockAlign) * frames, frames);
  if (w64) {
    if (header == 112) {
      ASSERT_EQ(S_OK, KvInitializeWav64(path.c_str(), &w, CREATE_ALWAYS));
    } else {
      SaveFile(path, std::vector<uint8_t>(header, 0));
    }
    Append(path, pcm);
    HANDLE h = OpenRW(path);
    ASSERT_EQ(S_OK, KvInsertW64Header(h, &w, pcm.size(), header));
    CloseHandle(h);
  } else {
    if (header == 46) {
      ASSERT_EQ(S_OK, KvInitializeWav(path.c_str(), &w, CREATE_ALWAYS));
    } else {
      ASSERT_EQ(S_OK, KvInitializeWavWithJunk(path.c_str(), &w, CREATE_ALWAYS, header));
    }
    Append(path, pcm);
    HANDLE h = OpenRW(path);
    ASSERT_EQ(S_OK, KvInsertWavHeader(h, &w, static_cast<DWORD>(pcm.size()), header));
    CloseHandle(h);
  }
  ASSERT_TRUE(SaveFile(FixtureW("wavfile/out/" + name + ".raw"), pcm));
}

TEST(WavHeaders, FilesForFfmpegAndSox) {
  if (!FixtureExists("wavfile/out")) VOG_TOOL_MISSING("ffmpeg/sox") << "fixture folder missing";
  WriteForCheck("ours_s16.wav", Pcm(1, 2, 44100, 16), 4410, false, 46);
  WriteForCheck("ours_s24.wav", Pcm(1, 1, 96000, 24), 9601, false, 100);
  WriteForCheck("ours_f32.wav", Pcm(3, 2, 48000, 32), 4800, false, 54);
  WriteForCheck("ours_u8.wav", Pcm(1, 1, 22050, 8), 2205, false, 4096);
  WriteForCheck("ours_6ch.wav", Pcm(1, 6, 48000, 16), 4800, false, 46);
  WriteForCheck("ours_s16.w64", Pcm(1, 2, 44100, 16), 4410, true, 112);
  WriteForCheck("ours_s24.w64", Pcm(1, 1, 192000, 24), 19201, true, 160);
  WriteForCheck("ours_f64.w64", Pcm(3, 2, 44100, 64), 1000, true, 4096);
}

// ---- identification and formats ------------------------------------------

TEST(WavIdentify, FilesOfOtherWritersMatchFfprobe) {
  auto lines = Lines("wavfile/cases.txt");
  if (lines.empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "fixtures missing";
  EXPECT_GE(lines.size(), 19u);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    std::istringstream in(line);
    std::string name, kind, tag;
    unsigned channels, rate, bits;
    uint64_t frames, offset;
    in >> name >> kind >> tag >> channels >> rate >> bits >> frames >> offset;
    std::wstring path = FixtureW("wavfile/" + name);
    const bool accepted = tag != "-";
    EXPECT_EQ(kind == "wav" && accepted, !!KvFileIsWave(path.c_str(), FALSE));
    EXPECT_EQ(kind == "wav", !!KvFileIsWave(path.c_str(), TRUE));
    EXPECT_EQ(kind == "w64" && accepted, !!KvFileIsWave64(path.c_str(), FALSE));
    EXPECT_EQ(kind == "w64", !!KvFileIsWave64(path.c_str(), TRUE));
    // "fl32" is AIFC, but not one that is identified.
    EXPECT_EQ(kind == "aiff" && accepted, !!KvFileIsAiff(path.c_str()));

    uint64_t gotFrames = 77, gotOffset = 77;
    WAVEFORMATEX* wfx = KvGetFileWfx(path.c_str(), &gotFrames, &gotOffset);
    if (!accepted) {
      EXPECT_EQ(nullptr, wfx);
      EXPECT_EQ(77u, gotFrames);
      EXPECT_EQ(77u, gotOffset);
      free(wfx);
      continue;
    }
    ASSERT_NE(nullptr, wfx);
    EXPECT_EQ(strtoul(tag.c_str(), nullptr, 0), wfx->wFormatTag);
    EXPECT_EQ(channels, wfx->nChannels);
    EXPECT_EQ(rate, wfx->nSamplesPerSec);
    EXPECT_EQ(bits, wfx->wBitsPerSample);
    EXPECT_EQ(channels * bits / 8, wfx->nBlockAlign);
    if (wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
      EXPECT_EQ(22, wfx->cbSize);
    } else {
      EXPECT_EQ(0, wfx->cbSize);  // also for 16-byte fmt chunks
    }
    EXPECT_EQ(frames, gotFrames);
    EXPECT_EQ(offset, gotOffset);
    free(wfx);
  }
  EXPECT_EQ(nullptr, KvGetFileWfx(L"Z:\\no\\such\\file.wav", nullptr, nullptr));
  EXPECT_FALSE(KvFileIsWave(L"Z:\\no\\such\\file.wav", TRUE));
  EXPECT_FALSE(KvFileIsWave64(nullptr, TRUE));
  EXPECT_FALSE(KvFileIsAiff(L"Z:\\no\\such\\file.aif"));
}

Bytes Wav(const Bytes& fmtBody, const Bytes& rest) {
  Bytes body;
  body.str("WAVE").str("fmt ").le32(static_cast<uint32_t>(fmtBody.size())).bytes(fmtBody);
  if (fmtBody.size() & 1) body.u8(0);
  body.bytes(rest);
  Bytes file;
  file.str("RIFF").le32(static_cast<uint32_t>(body.size())).bytes(body);
  return file;
}

Bytes FmtBody(WORD tag, WORD ch, DWORD rate, WORD align, WORD bits) {
  Bytes b;
  b.le16(tag).le16(ch).le32(rate).le32(rate * align).le16(align).le16(bits);
  return b;
}

TEST(WavIdentify, DamagedHeadersGiveNullOrBoundedCounts) {
  Bytes data;
  data.str("data").le32(400).zeros(400);
  struct Case {
    const char* what;
    Bytes file;
    bool ok;
    uint64_t frames;
    WORD bits, align;
  } cases[] = {
      {"16-byte fmt", Wav(FmtBody(1, 2, 44100, 4, 16), data), true, 100, 16, 4},
      {"fmt of 10 bytes", Wav(Bytes().le16(1).le16(2).le32(44100).le16(0), data), false, 0, 0, 0},
      {"cbSize past the chunk", Wav(FmtBody(1, 2, 44100, 4, 16).le16(200), data), true, 100, 16, 4},
      {"extensible without its fields", Wav(FmtBody(0xFFFE, 2, 44100, 4, 16).le16(22), data), false, 0, 0, 0},
      {"fmt larger than 4 KiB", Wav(FmtBody(1, 2, 44100, 4, 16).le16(0).zeros(5000), data), false, 0, 0, 0},
      {"no channels", Wav(FmtBody(1, 0, 44100, 0, 16), data), false, 0, 0, 0},
      {"20-bit PCM read as 24", Wav(FmtBody(1, 2, 44100, 6, 20), data), true, 66, 24, 6},
      {"20-bit PCM with a 5-byte block", Wav(FmtBody(1, 2, 44100, 5, 20), data), false, 0, 0, 0},
      {"inconsistent block align", Wav(FmtBody(1, 2, 44100, 4, 24), data), false, 0, 0, 0},
      {"compressed tag", Wav(FmtBody(0x55, 2, 44100, 1, 0), data), false, 0, 0, 0},
      {"data size past the end", Wav(FmtBody(1, 1, 8000, 2, 16), Bytes().str("data").le32(0xFFFFFF00u).zeros(33)),
       true, 16, 16, 2},
      {"no data chunk", Wav(FmtBody(1, 2, 44100, 4, 16), Bytes()), false, 0, 0, 0},
      {"truncated fmt", Bytes().str("RIFF").le32(100).str("WAVEfmt ").le32(16).le16(1), false, 0, 0, 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFile f(c.file.v);
    f.Close();
    uint64_t frames = 0, offset = 0;
    WAVEFORMATEX* w = KvGetFileWfx(f.path().c_str(), &frames, &offset);
    EXPECT_EQ(c.ok, w != nullptr);
    if (w) {
      EXPECT_EQ(c.frames, frames);
      EXPECT_EQ(c.bits, w->wBitsPerSample);
      EXPECT_EQ(c.align, w->nBlockAlign);
      EXPECT_LE(offset + frames * w->nBlockAlign, c.file.size());
    }
    free(w);
  }
}

// ---- repair -------------------------------------------------------------

struct Repaired {
  HRESULT hr;
  std::vector<uint8_t> bytes;
};

Repaired Fix(const std::vector<uint8_t>& in, const WAVEFORMATEX* fallback, DWORD limit, bool w64 = false) {
  TempFile f(in);
  f.Seek(5);
  Repaired r;
  r.hr = w64 ? KvFixTrashedW64(f.handle(), fallback, limit) : KvFixTrashedWav(f.handle(), fallback, limit);
  EXPECT_EQ(5u, f.Position());
  r.bytes = f.Bytes();
  return r;
}

TEST(WavRepair, FormatFieldsAreMadePlausible) {
  // 0 Hz, 7 channels, tag 0x55, 0 bits, no fallback.
  Bytes file;
  file.str("RIFF").le32(0).str("WAVE").str("fmt ").le32(18).le16(0x55).le16(7).le32(0).le32(0).le16(0).le16(0).le16(0);
  file.str("data").le32(0).bytes(Bytes().raw(Pattern(1001, 3).data(), 1001));
  Repaired r = Fix(file.v, nullptr, 4096);
  ASSERT_EQ(S_OK, r.hr);
  WAVEFORMATEX want = Pcm(1, 2, 44100, 16);
  EXPECT_EQ(0, memcmp(&r.bytes[20], &want, 16));
  EXPECT_EQ(176400u, GetLE32(r.bytes, 28));
  EXPECT_EQ(0, GetLE16(r.bytes, 36));
  EXPECT_EQ(1000u, GetLE32(r.bytes, 42));  // 1,001 bytes, block 4
  EXPECT_EQ(1000u + 46 - 8, GetLE32(r.bytes, 4));
  EXPECT_EQ(file.size(), r.bytes.size());

  struct {
    WORD tag, ch;
    DWORD rate;
    WORD bits;
    WAVEFORMATEX fallback;
    WORD wantTag, wantCh;
    DWORD wantRate;
    WORD wantBits;
  } cases[] = {
      {3, 1, 48000, 32, Pcm(1, 2, 44100, 16), 3, 1, 48000, 32},
      {3, 1, 48000, 16, Pcm(1, 2, 44100, 16), 3, 1, 48000, 32},
      {3, 1, 48000, 16, Pcm(3, 2, 44100, 64), 3, 1, 48000, 64},
      {1, 2, 1999, 12, Pcm(1, 1, 22050, 24), 1, 2, 22050, 24},
      {1, 2, 192001, 24, Pcm(1, 1, 8000, 64), 1, 2, 8000, 24},
      {2, 9, 96000, 11, Pcm(1, 1, 8000, 64), 1, 1, 96000, 32},
  };
  for (auto& c : cases) {
    Bytes g;
    g.str("RIFF").le32(0).str("WAVE").str("fmt ").le32(18).le16(c.tag).le16(c.ch).le32(c.rate).le32(0).le16(0);
    g.le16(c.bits).le16(0).str("data").le32(0).zeros(64);
    Repaired rr = Fix(g.v, &c.fallback, 4096);
    ASSERT_EQ(S_OK, rr.hr);
    EXPECT_EQ(c.wantTag, GetLE16(rr.bytes, 20));
    EXPECT_EQ(c.wantCh, GetLE16(rr.bytes, 22));
    EXPECT_EQ(c.wantRate, GetLE32(rr.bytes, 24));
    EXPECT_EQ(c.wantBits, GetLE16(rr.bytes, 34));
    EXPECT_EQ(c.wantCh * (c.wantBits / 8), GetLE16(rr.bytes, 32));
  }
}

TEST(WavRepair, DataThatCannotBeLocatedIsNotTouched) {
  // No "data" anywhere and audio-like bytes in the header room: refused.
  Bytes noData;
  noData.str("RIFF").le32(0).str("WAVE").str("fmt ").le32(16).raw(Pattern(16, 1).data(), 16);
  noData.raw(Pattern(3000, 9).data(), 3000);
  Repaired r = Fix(noData.v, nullptr, 1000);
  EXPECT_EQ(KV_E_NOTFOUND, r.hr);
  EXPECT_EQ(noData.v, r.bytes);
  Repaired r64 = Fix(noData.v, nullptr, 1000, true);
  EXPECT_EQ(KV_E_NOTFOUND, r64.hr);
  EXPECT_EQ(noData.v, r64.bytes);
  // Too short for a format body.
  Repaired tiny = Fix(std::vector<uint8_t>(30, 0), nullptr, 1000);
  EXPECT_EQ(KV_E_READ, tiny.hr);
  EXPECT_EQ(std::vector<uint8_t>(30, 0), tiny.bytes);
  // Room reserved for a header and never written: the audio starts at the
  // limit.
  Bytes reserved;
  reserved.zeros(512).raw(Pattern(2000, 4).data(), 2000);
  Repaired res = Fix(reserved.v, nullptr, 512);
  ASSERT_EQ(S_OK, res.hr);
  EXPECT_EQ(0, memcmp(&res.bytes[504], "data", 4));
  EXPECT_EQ(2000u, GetLE32(res.bytes, 508));
  EXPECT_EQ(0, memcmp(&res.bytes[512], reserved.v.data() + 512, 2000));
  Repaired res64 = Fix(reserved.v, nullptr, 515, true);  // the limit is taken down to 512
  ASSERT_EQ(S_OK, res64.hr);
  EXPECT_EQ(0, memcmp(&res64.bytes[488], &KVRIFF64_DATA, 16));
  EXPECT_EQ(0, memcmp(&res64.bytes[512], reserved.v.data() + 512, 2000));
}

// Damaged copies of sox/ffmpeg files and of our own, repaired into
// wavfile/out for wavfile_check.sh; the expected samples go next to them.
void Damage(std::vector<uint8_t>& b, bool w64, uint64_t dataOffset) {
  if (w64) {
    memset(&b[16], 0, 8);
    memset(&b[dataOffset - 8], 0, 8);
  } else {
    memset(&b[4], 0, 4);
    memset(&b[dataOffset - 4], 0xFF, 4);  // a stale size past the end
  }
}

void RepairForCheck(const std::string& src, const std::string& name, bool w64, uint64_t cut, DWORD limit) {
  std::wstring in = FixtureW("wavfile/" + src);
  uint64_t frames = 0, offset = 0;
  WAVEFORMATEX* w = KvGetFileWfx(in.c_str(), &frames, &offset);
  ASSERT_NE(nullptr, w) << src;
  const WORD align = w->nBlockAlign;
  free(w);
  auto bytes = LoadFile(in);
  if (cut) bytes.resize(static_cast<size_t>(cut));
  Damage(bytes, w64, offset);
  uint64_t whole = (bytes.size() - offset) / align * align;
  std::vector<uint8_t> pcm(bytes.begin() + static_cast<ptrdiff_t>(offset),
                           bytes.begin() + static_cast<ptrdiff_t>(offset + whole));
  std::wstring out = FixtureW("wavfile/out/" + name);
  ASSERT_TRUE(SaveFile(out, bytes));
  HANDLE h = OpenRW(out);
  HRESULT hr = w64 ? KvFixTrashedW64(h, nullptr, limit) : KvFixTrashedWav(h, nullptr, limit);
  CloseHandle(h);
  ASSERT_EQ(S_OK, hr) << name;
  ASSERT_TRUE(SaveFile(out + L".raw", pcm));
  // Read back through the probe.
  WAVEFORMATEX* back = KvGetFileWfx(out.c_str(), &frames, &offset);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(whole / align, frames) << name;
  free(back);
}

TEST(WavRepair, RepairedFilesForFfmpegAndSox) {
  if (!FixtureExists("wavfile/sox_s16.wav")) VOG_TOOL_MISSING("ffmpeg/sox") << "fixtures missing";
  RepairForCheck("sox_s16.wav", "fix_sox_s16.wav", false, 0, 4096);               // 44-byte header
  RepairForCheck("sox_s16.wav", "fix_sox_cut.wav", false, 44 + 4 * 1000 + 3, 4096);  // cut mid-frame
  RepairForCheck("ff_s16.wav", "fix_ff_s16.wav", false, 0, 4096);                 // LIST before data
  RepairForCheck("sox_f32.wav", "fix_sox_f32.wav", false, 0, 4096);
  RepairForCheck("sox_s16.w64", "fix_sox_s16.w64", true, 0, 4096);
  RepairForCheck("ff_s16.w64", "fix_ff_s16.w64", true, 0, 4096);
  if (FixtureExists("wavfile/out/ours_s24.w64")) {
    RepairForCheck("out/ours_s24.w64", "fix_ours_s24.w64", true, 0, 4096);
    RepairForCheck("out/ours_s24.wav", "fix_ours_s24.wav", false, 0, 4096);
  }
  // A recorder that crashed right after its 46-byte header: sizes still 0.
  std::wstring path = FixtureW("wavfile/out/fix_crash.wav");
  WAVEFORMATEX w = Pcm(1, 2, 44100, 16);
  ASSERT_EQ(S_OK, KvInitializeWav(path.c_str(), &w, CREATE_ALWAYS));
  auto pcm = Pattern(4 * 3000, 11);
  Append(path, pcm);
  HANDLE h = OpenRW(path);
  ASSERT_EQ(S_OK, KvFixTrashedWav(h, nullptr, 0xFFFFFFFFu));
  CloseHandle(h);
  ASSERT_TRUE(SaveFile(path + L".raw", pcm));
}

// ---- format changes -----------------------------------------------------

TEST(WavSetFormat, ReplacesTheFormatOfWaveAndAiff) {
  if (!FixtureExists("wavfile/sox_s24.wav")) VOG_TOOL_MISSING("ffmpeg/sox") << "fixtures missing";
  // A 40-byte extensible fmt becomes 18 bytes and a JUNK chunk of the rest.
  std::wstring ext = FixtureW("wavfile/out/set_ext.wav");
  auto src = LoadFile(FixtureW("wavfile/sox_s24.wav"));
  ASSERT_TRUE(SaveFile(ext, src));
  WAVEFORMATEX w = Pcm(1, 3, 32000, 16);  // 6 bytes a frame, as before
  ASSERT_EQ(S_OK, KvSetFileWfx(ext.c_str(), &w));
  auto b = LoadFile(ext);
  ASSERT_EQ(src.size(), b.size());
  EXPECT_EQ(18u, GetLE32(b, 16));
  EXPECT_EQ(0, memcmp(&b[20], &w, 16));
  EXPECT_EQ(0, memcmp(&b[38], "JUNK", 4));
  EXPECT_EQ(14u, GetLE32(b, 42));
  EXPECT_EQ(0, memcmp(&b[60], &src[60], src.size() - 60));
  uint64_t frames = 0, offset = 0;
  WAVEFORMATEX* got = KvGetFileWfx(ext.c_str(), &frames, &offset);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(3, got->nChannels);
  EXPECT_EQ(9601u * 6 / 6, frames);
  free(got);

  // A 16-byte fmt has no room for the new one: refused, nothing written.
  std::wstring s16 = FixtureW("wavfile/out/set_fmt16.wav");
  auto src16 = LoadFile(FixtureW("wavfile/sox_s16.wav"));
  ASSERT_TRUE(SaveFile(s16, src16));
  EXPECT_EQ(KV_E_UNSUPPORTEDFILE, KvSetFileWfx(s16.c_str(), &w));
  EXPECT_EQ(src16, LoadFile(s16));

  // AIFF: the COMM chunk takes the new channels, bits and rate; frames stay.
  std::wstring aiff = FixtureW("wavfile/out/set.aiff");
  auto srcA = LoadFile(FixtureW("wavfile/sox_s16.aiff"));
  ASSERT_TRUE(SaveFile(aiff, srcA));
  WAVEFORMATEX mono = Pcm(1, 1, 22050, 32);  // 4 bytes a frame, as before
  ASSERT_EQ(S_OK, KvSetFileWfx(aiff.c_str(), &mono));
  got = KvGetFileWfx(aiff.c_str(), &frames, nullptr);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(1, got->nChannels);
  EXPECT_EQ(22050u, got->nSamplesPerSec);
  EXPECT_EQ(32, got->wBitsPerSample);
  EXPECT_EQ(4410u, frames);
  free(got);
  WAVEFORMATEX flt = Pcm(3, 1, 22050, 32);
  EXPECT_EQ(KV_E_UNSUPPORTEDFILE, KvSetFileWfx(aiff.c_str(), &flt));

  // Neither WAVE nor AIFF; refused formats; missing files.
  TempFile other(Bytes().str("OggS").zeros(100).v);
  other.Close();
  EXPECT_EQ(KV_E_CORRUPT, KvSetFileWfx(other.path().c_str(), &w));
  WAVEFORMATEX bad = w;
  bad.nBlockAlign = 5;
  EXPECT_EQ(KV_E_UNSUPPORTEDMEDIA, KvSetFileWfx(ext.c_str(), &bad));
  EXPECT_EQ(KV_E_OPEN, KvSetFileWfx(L"Z:\\no\\such\\file.wav", &w));
}

TEST(WavSetFormat, FmtChunksOfOddSizes) {
  WAVEFORMATEX w = Pcm(1, 2, 8000, 16);
  Bytes data;
  data.str("data").le32(8).zeros(8);
  // 18 bytes: replaced in place.
  {
    TempFile f(Wav(FmtBody(1, 1, 44100, 2, 16).le16(0), data).v);
    f.Close();
    ASSERT_EQ(S_OK, KvSetFileWfx(f.path().c_str(), &w));
    f.Open();
    auto b = f.Bytes();
    EXPECT_EQ(18u, GetLE32(b, 16));
    EXPECT_EQ(0, memcmp(&b[20], &w, 16));
    EXPECT_EQ(0, memcmp(&b[38], "data", 4));
  }
  // 21 bytes (22 with the pad): the size stays, the tail is zeroed.
  {
    TempFile f(Wav(FmtBody(1, 1, 44100, 2, 16).le16(3).u8(1).u8(2).u8(3), data).v);
    f.Close();
    ASSERT_EQ(S_OK, KvSetFileWfx(f.path().c_str(), &w));
    f.Open();
    auto b = f.Bytes();
    EXPECT_EQ(21u, GetLE32(b, 16));
    EXPECT_EQ(0, GetLE16(b, 36));
    EXPECT_EQ(0, b[38] | b[39] | b[40] | b[41]);
    EXPECT_EQ(0, memcmp(&b[42], "data", 4));
    f.Close();
    uint64_t frames = 0;
    WAVEFORMATEX* got = KvGetFileWfx(f.path().c_str(), &frames, nullptr);
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(2u, frames);
    free(got);
  }
}

}  // namespace
