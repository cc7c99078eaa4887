// IFF and AIFF/AIFC chunk I/O: files written by sox, ffmpeg and Python's
// aifc read against ffprobe's report and an independent chunk walker; 80-bit
// rates against Python's aifc; damaged files; files written here are checked
// by ffmpeg and sox in iff_check.sh.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "iff_testutil.h"
#include "kviff.h"
#include "vog_tools.h"

using namespace kvrifftest;

namespace {

// 80-bit extended form of an integer rate, by integer arithmetic: the
// mantissa is the rate shifted up to bit 63.
void Extended(uint32_t rate, Bytes& b) {
  if (rate == 0) {
    b.zeros(10);
    return;
  }
  int e = 31;
  while (!(rate & (1u << e))) --e;
  uint64_t m = static_cast<uint64_t>(rate) << (63 - e);
  b.be16(16383 + e).be32(static_cast<uint32_t>(m >> 32)).be32(static_cast<uint32_t>(m));
}

Bytes Comm(uint16_t channels, uint32_t frames, uint16_t bits, uint32_t rate, const char* compression = nullptr) {
  Bytes b;
  b.be16(channels).be32(frames).be16(bits);
  Extended(rate, b);
  if (compression) b.str(compression).u8(0).u8(0);  // empty pascal name + pad
  return b;
}

Bytes Chunk(const char* id, const Bytes& body) {
  Bytes b;
  b.str(id).be32(static_cast<uint32_t>(body.size())).bytes(body);
  if (body.size() & 1) b.u8(0);
  return b;
}

Bytes Form(const char* type, const Bytes& chunks) {
  Bytes b;
  b.str("FORM").be32(static_cast<uint32_t>(chunks.size() + 4)).str(type).bytes(chunks);
  return b;
}

Bytes Ssnd(size_t dataBytes, uint32_t offset = 0) {
  Bytes b;
  b.be32(offset).be32(0).zeros(offset);
  for (size_t i = 0; i < dataBytes; ++i) b.u8(static_cast<uint8_t>(i * 7));
  return b;
}

std::vector<std::string> Lines(const std::string& rel) {
  std::vector<std::string> out;
  std::string p = std::string(VOG_FIXTURE_DIR) + "/" + rel;
  std::ifstream in(p);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

HANDLE OpenRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(IffBasics, SwapsReadsAndWritesAreBigEndian) {
  uint8_t w[6] = {1, 2, 3, 4, 5, 6};
  iff_ByteSwap16(w, 3);
  EXPECT_EQ(0, memcmp(w, "\x02\x01\x04\x03\x06\x05", 6));
  aiff_WriteByteSwap16(w, 2);
  EXPECT_EQ(0, memcmp(w, "\x01\x02\x03\x04\x06\x05", 6));
  uint8_t d[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  iff_ByteSwap32(d, 2);
  EXPECT_EQ(0, memcmp(d, "\x04\x03\x02\x01\x08\x07\x06\x05", 8));
  aiff_WriteByteSwap32(d, 1);
  EXPECT_EQ(0, memcmp(d, "\x01\x02\x03\x04\x08\x07\x06\x05", 8));

  TempFile f;
  const DWORD hdr[2] = {KVIFF_COMM, 0x01020304};
  ASSERT_EQ(S_OK, iff_WriteFileID(f.handle(), KVIFF_AIFF, 0x11223344));
  ASSERT_EQ(S_OK, iff_WriteChunk(f.handle(), hdr));
  ASSERT_EQ(S_OK, iff_WriteDWORD(f.handle(), 0xA1B2C3D4));
  ASSERT_EQ(S_OK, iff_WriteWORD(f.handle(), 0xE5F6));
  Bytes want;
  want.str("FORM").be32(0x11223344).str("AIFF").str("COMM").be32(0x01020304).be32(0xA1B2C3D4).be16(0xE5F6);
  EXPECT_EQ(want.v, f.Bytes());

  f.Seek(0);
  DWORD h[2], form;
  ASSERT_EQ(S_OK, iff_ReadFormType(f.handle(), h, &form));
  EXPECT_EQ(KVIFF_FORM, h[0]);
  EXPECT_EQ(0x11223344u, h[1]);
  EXPECT_EQ(KVIFF_AIFF, form);
  ASSERT_EQ(S_OK, iff_ReadChunkHdr(f.handle(), h));
  EXPECT_EQ(KVIFF_COMM, h[0]);
  DWORD dw;
  WORD wd;
  ASSERT_EQ(S_OK, iff_ReadDWORD(f.handle(), &dw));
  EXPECT_EQ(0xA1B2C3D4u, dw);
  ASSERT_EQ(S_OK, iff_ReadWORD(f.handle(), &wd));
  EXPECT_EQ(0xE5F6, wd);
  // At the end every read is short.
  EXPECT_EQ(KV_E_READ, iff_ReadWORD(f.handle(), &wd));
  EXPECT_EQ(KV_E_READ, iff_ReadDWORD(f.handle(), &dw));
  EXPECT_EQ(KV_E_READ, iff_ReadChunkHdr(f.handle(), h));
  // A form whose id is not "FORM".
  f.Seek(12);
  EXPECT_EQ(KV_E_CORRUPT, iff_ReadFormType(f.handle(), h, &form));
  // Odd sizes are skipped with their pad byte.
  f.Seek(0);
  EXPECT_EQ(6u, iff_SkipChunk(f.handle(), 5));
  EXPECT_EQ(6u, f.Position());
  EXPECT_EQ(4u, iff_SkipChunk(f.handle(), 4));
  EXPECT_EQ(10u, f.Position());
}

// Python's aifc writes the same 80-bit bytes, and every rate reads back.
TEST(IffRates, CreateRateMatchesPythonAifcAndConvertsBack) {
  auto lines = Lines("iff/rates.txt");
  if (lines.empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "rates fixture missing";
  for (const std::string& line : lines) {
    std::istringstream in(line);
    uint32_t rate;
    unsigned e, w0, w1, w2, w3;
    in >> std::dec >> rate >> std::hex >> e >> w0 >> w1 >> w2 >> w3;
    WORD exponent = 0, m[4] = {1, 1, 1, 1};
    aiff_CreateRate(rate, &exponent, m);
    EXPECT_EQ(e, exponent) << rate;
    EXPECT_EQ(w0, m[0]) << rate;
    EXPECT_EQ(w1, m[1]) << rate;
    EXPECT_EQ(w2, m[2]) << rate;
    EXPECT_EQ(w3, m[3]) << rate;
    EXPECT_EQ(rate, aiff_ConvertRate(exponent, m)) << rate;
  }
}

TEST(IffRates, EdgeValues) {
  WORD e, m[4];
  aiff_CreateRate(44100, &e, m);
  EXPECT_EQ(0x400E, e);
  EXPECT_EQ(0xAC44, m[0]);
  EXPECT_EQ(0, m[1] | m[2] | m[3]);
  aiff_CreateRate(1, &e, m);
  EXPECT_EQ(0x3FFF, e);
  EXPECT_EQ(0x8000, m[0]);
  aiff_CreateRate(0, &e, m);
  EXPECT_EQ(0x3FFF, e);
  EXPECT_EQ(0, m[0] | m[1] | m[2] | m[3]);
  EXPECT_EQ(0u, aiff_ConvertRate(e, m));
  // Python writes 0 Hz as all zeros: also 0.
  const WORD zero[4] = {0, 0, 0, 0};
  EXPECT_EQ(0u, aiff_ConvertRate(0, zero));
  // A negative rate stands for the CD rate.
  const WORD m44[4] = {0xAC44, 0, 0, 0};
  EXPECT_EQ(44100u, aiff_ConvertRate(0xC00E, m44));
  // 384 kHz and 352.8 kHz are read as they are.
  const WORD m384[4] = {0xBB80, 0, 0, 0};
  EXPECT_EQ(384000u, aiff_ConvertRate(0x4011, m384));
  EXPECT_EQ(352800u, aiff_ConvertRate(0x4011, m44));
  // A fraction is truncated; below 1 Hz is 0; values past 32 bits and the
  // infinities stand for the CD rate.
  const WORD half[4] = {0xAC44, 0x8000, 0, 0};  // 44100.5
  EXPECT_EQ(44100u, aiff_ConvertRate(0x400E, half));
  EXPECT_EQ(0u, aiff_ConvertRate(0x3FFE, m44));
  EXPECT_EQ(44100u, aiff_ConvertRate(0x401F, m44));
  EXPECT_EQ(44100u, aiff_ConvertRate(0x7FFF, m44));
  const WORD top[4] = {0xFFFF, 0xFFFF, 0, 0};
  EXPECT_EQ(0xFFFFFFFFu, aiff_ConvertRate(0x401E, top));
}

// Every AIFF/AIFC file of the fixture table reads as ffprobe reports it.
TEST(IffFixtures, FormatFramesAndOffsetMatchFfprobe) {
  auto lines = Lines("iff/cases.txt");
  if (lines.empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "AIFF fixtures missing";
  EXPECT_GE(lines.size(), 60u);
  for (const std::string& line : lines) {
    std::istringstream in(line);
    std::string name, codec;
    unsigned channels, rate, bits, frames, offset;
    in >> name >> codec >> channels >> rate >> bits >> frames >> offset;
    SCOPED_TRACE(line);
    HANDLE h = OpenRead(FixtureW("iff/" + name));
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD formSize = 0, isAIFC = 7, isLE = 7;
    EXPECT_TRUE(iff_IsAIFFFileEx(h, &formSize, &isAIFC, &isLE));
    EXPECT_EQ(GetFileSize(h, nullptr) - 8, formSize);
    bool aifc = name.find(".aifc") != std::string::npos || codec == "pcm_s16le";
    EXPECT_EQ(aifc ? 1u : 0u, isAIFC);
    EXPECT_EQ(codec == "pcm_s16le" ? 1u : 0u, isLE);

    WAVEFORMATEX wfx;
    memset(&wfx, 0xCC, sizeof(wfx));
    DWORD gotFrames = 0, gotOffset = 0;
    ASSERT_EQ(S_OK, iff_GetAIFFWfx(h, &wfx, &gotFrames, &gotOffset));
    WORD tag = codec == "pcm_s8" ? 0xFE01 : codec == "pcm_s16le" ? 1 : 0xFE02;
    EXPECT_EQ(tag, wfx.wFormatTag);
    EXPECT_EQ(channels, wfx.nChannels);
    EXPECT_EQ(rate, wfx.nSamplesPerSec);
    EXPECT_EQ(bits, wfx.wBitsPerSample);
    EXPECT_EQ(channels * bits / 8, wfx.nBlockAlign);
    EXPECT_EQ(channels * bits / 8 * rate, wfx.nAvgBytesPerSec);
    EXPECT_EQ(0xCCCC, wfx.cbSize);  // not written
    EXPECT_EQ(frames, gotFrames);
    EXPECT_EQ(offset, gotOffset);
    // Without the optional outputs.
    EXPECT_EQ(S_OK, iff_GetAIFFWfx(h, nullptr, nullptr, nullptr));
    CloseHandle(h);
  }
}

TEST(IffFixtures, CompressedAifcIsRefused) {
  for (const char* name : {"iff/fl32.aiff", "iff/alaw.aiff"}) {
    if (!FixtureExists(name)) VOG_TOOL_MISSING("ffmpeg/sox") << "fixture missing";
    HANDLE h = OpenRead(FixtureW(name));
    DWORD formSize = 0, isAIFC = 0, isLE = 1;
    EXPECT_FALSE(iff_IsAIFFFileEx(h, &formSize, &isAIFC, &isLE)) << name;
    EXPECT_EQ(1u, isAIFC);
    EXPECT_EQ(0u, isLE);
    EXPECT_FALSE(iff_IsAIFFFile(h, nullptr));
    WAVEFORMATEX wfx{};
    EXPECT_EQ(KV_E_CORRUPT, iff_GetAIFFWfx(h, &wfx, nullptr, nullptr)) << name;
    CloseHandle(h);
  }
}

TEST(IffMarkers, FindsMarkersOfPythonAifc) {
  if (!FixtureExists("iff/markers.aiff")) VOG_TOOL_MISSING("ffmpeg/sox") << "fixture missing";
  HANDLE h = OpenRead(FixtureW("iff/markers.aiff"));
  struct {
    WORD id;
    DWORD position;
    const char* name;
  } want[] = {{1, 10, "start"}, {2, 500, "mi"}, {7, 999, ""}};
  for (auto& w : want) {
    KVIFFMARKER m{};
    ASSERT_EQ(S_OK, iff_FindMarker(h, &m, w.id));
    EXPECT_EQ(w.id, m.id);
    EXPECT_EQ(w.position, m.position);
    ASSERT_EQ(strlen(w.name), m.nameLength);
    char name[256] = {};
    DWORD got = 0;
    if (m.nameLength) ReadFile(h, name, m.nameLength, &got, nullptr);
    EXPECT_STREQ(w.name, name);
  }
  KVIFFMARKER m{};
  EXPECT_EQ(KV_E_NOTFOUND, iff_FindMarker(h, &m, 3));
  EXPECT_EQ(7, m.id);  // the third and last record was read
  CloseHandle(h);
}

TEST(IffMarkers, DamagedMarkChunks) {
  Bytes comm = Chunk("COMM", Comm(1, 4, 16, 8000));
  Bytes ssnd = Chunk("SSND", Ssnd(8));
  // No MARK: not found.
  {
    TempFile f(Form("AIFF", Bytes().bytes(comm).bytes(ssnd)).v);
    KVIFFMARKER m{};
    EXPECT_EQ(KV_E_NOTFOUND, iff_FindMarker(f.handle(), &m, 1));
  }
  // A count of 0.
  {
    TempFile f(Form("AIFF", Bytes().bytes(comm).bytes(Chunk("MARK", Bytes().be16(0)))).v);
    KVIFFMARKER m{};
    EXPECT_EQ(KV_E_NOTFOUND, iff_FindMarker(f.handle(), &m, 1));
  }
  // A count of 9 in a chunk with one record: the walk stops at the chunk's
  // end instead of reading the next chunk's bytes as markers.
  {
    Bytes mark;
    mark.be16(9).be16(1).be32(5).u8(1).str("a");
    Bytes evil;  // a "marker" with id 2 in the chunk after MARK
    evil.be16(2).be32(77).u8(0).u8(0);
    TempFile f(Form("AIFF", Bytes().bytes(comm).bytes(Chunk("MARK", mark)).bytes(Chunk("JUNK", evil))).v);
    KVIFFMARKER m{};
    EXPECT_EQ(S_OK, iff_FindMarker(f.handle(), &m, 1));
    EXPECT_EQ(5u, m.position);
    EXPECT_EQ(KV_E_NOTFOUND, iff_FindMarker(f.handle(), &m, 2));
  }
  // A file cut inside the record.
  {
    Bytes mark;
    mark.be16(2).be16(1).be32(5).u8(1).str("a").be16(4).be32(9).u8(0).u8(0);
    Bytes file = Form("AIFF", Bytes().bytes(comm).bytes(Chunk("MARK", mark)));
    file.v.resize(file.v.size() - 4);
    TempFile f(file.v);
    KVIFFMARKER m{};
    EXPECT_EQ(KV_E_NORIFF, iff_FindMarker(f.handle(), &m, 4));
  }
  // Not an IFF file.
  {
    TempFile f(Bytes().str("RIFF").le32(4).str("WAVE").v);
    KVIFFMARKER m{};
    EXPECT_EQ(KV_E_NORIFF, iff_FindMarker(f.handle(), &m, 1));
    DWORD size = 5;
    EXPECT_EQ(KV_E_NORIFF, iff_FindChunkFromStart(f.handle(), KVIFF_MARK, &size));
    EXPECT_EQ(0u, size);
  }
}

TEST(IffSearch, RemainingCounterBoundsTheWalk) {
  Bytes body;
  body.bytes(Chunk("AAAA", Bytes().zeros(3))).bytes(Chunk("BBBB", Bytes().zeros(4))).bytes(Chunk("CCCC", Bytes()));
  TempFile f(Form("AIFF", body).v);
  // Found: the file stands at the data, remaining counts from there.
  f.Seek(12);
  DWORD size = 0, remaining = static_cast<DWORD>(body.size());
  ASSERT_EQ(S_OK, iff_FindChunkHeader(f.handle(), KVIFF_FOURCC('B', 'B', 'B', 'B'), &size, &remaining));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(12u + 12 + 8, f.Position());
  EXPECT_EQ(body.size() - 12 - 8, remaining);
  // Fewer than 8 bytes: not found without reading.
  f.Seek(12);
  remaining = 7;
  EXPECT_EQ(KV_E_NOTFOUND, iff_FindChunkHeader(f.handle(), KVIFF_FOURCC('A', 'A', 'A', 'A'), &size, &remaining));
  EXPECT_EQ(12u, f.Position());
  EXPECT_EQ(7u, remaining);
  // A bound that ends inside the first chunk: the count floors at 0.
  f.Seek(12);
  remaining = 10;
  EXPECT_EQ(KV_E_NOTFOUND, iff_FindChunkHeader(f.handle(), KVIFF_FOURCC('B', 'B', 'B', 'B'), &size, &remaining));
  EXPECT_EQ(0u, remaining);
  // Unbounded: the end of the file is a short read.
  f.Seek(12);
  EXPECT_EQ(KV_E_READ, iff_SeekChunkHeader(f.handle(), KVIFF_FOURCC('Z', 'Z', 'Z', 'Z'), &size));
  EXPECT_EQ(S_OK, iff_FindChunkFromStart(f.handle(), KVIFF_FOURCC('C', 'C', 'C', 'C'), &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(KV_E_NOTFOUND, iff_FindChunkFromStart(f.handle(), KVIFF_FOURCC('Z', 'Z', 'Z', 'Z'), &size));
}

// Hand-made damaged files: every case gives a clean result and never a
// count that runs past the file's data.
TEST(IffDamage, FormatOfDamagedFiles) {
  Bytes comm = Chunk("COMM", Comm(2, 100, 16, 44100));
  struct Case {
    const char* what;
    Bytes file;
    HRESULT hr;
    DWORD frames;
  };
  auto ssndWithSize = [](uint32_t size, uint32_t offset, size_t present) {
    Bytes b;
    b.str("SSND").be32(size).be32(offset).be32(0).zeros(present);
    return b;
  };
  std::vector<Case> cases;
  cases.push_back({"sound", Form("AIFF", Bytes().bytes(comm).bytes(Chunk("SSND", Ssnd(400)))), S_OK, 100});
  cases.push_back({"fewer data bytes than COMM frames", Form("AIFF", Bytes().bytes(comm).bytes(Chunk("SSND", Ssnd(41)))),
                   S_OK, 10});
  cases.push_back({"SSND smaller than its offset", Form("AIFF", Bytes().bytes(comm).bytes(ssndWithSize(8, 16, 400))),
                   S_OK, 0});
  cases.push_back({"SSND size below its fields", Form("AIFF", Bytes().bytes(comm).bytes(ssndWithSize(2, 0, 400))), S_OK,
                   0});
  cases.push_back({"SSND larger than the file", Form("AIFF", Bytes().bytes(comm).bytes(ssndWithSize(0xFFFFFFF0u, 0, 40))),
                   S_OK, 10});
  cases.push_back({"SSND offset past the end",
                   Form("AIFF", Bytes().bytes(comm).bytes(ssndWithSize(0x80000000u, 0x7FFFFFF0u, 40))), KV_E_CORRUPT,
                   0});
  cases.push_back({"COMM too short", Form("AIFF", Bytes().bytes(Chunk("COMM", Bytes().be16(2).be32(100).be16(16)))
                                                       .bytes(Chunk("SSND", Ssnd(400)))),
                   KV_E_CORRUPT, 0});
  cases.push_back({"AIFC COMM without its compression type",
                   Form("AIFC", Bytes().bytes(comm).bytes(Chunk("SSND", Ssnd(400)))), KV_E_CORRUPT, 0});
  cases.push_back({"no COMM", Form("AIFF", Bytes().bytes(Chunk("SSND", Ssnd(400)))), KV_E_NOTFOUND, 0});
  cases.push_back({"no SSND", Form("AIFF", comm), KV_E_NOTFOUND, 0});
  Bytes cut = Form("AIFF", Bytes().bytes(comm).bytes(Chunk("SSND", Ssnd(400))));
  cut.v.resize(12 + 8 + 10);
  cases.push_back({"cut inside COMM", cut, KV_E_READ, 0});
  Bytes cutSsnd = Form("AIFF", Bytes().bytes(comm).bytes(Chunk("SSND", Ssnd(400))));
  cutSsnd.v.resize(12 + comm.size() + 12);
  cases.push_back({"cut inside the SSND fields", cutSsnd, KV_E_READ, 0});
  cases.push_back({"huge chunk before COMM",
                   Form("AIFF", Bytes().str("JUNK").be32(0xFFFFFFF1u).bytes(comm).bytes(Chunk("SSND", Ssnd(400)))),
                   KV_E_NOTFOUND, 0});
  cases.push_back({"RIFF file", Bytes().str("RIFF").le32(4).str("WAVE"), KV_E_CORRUPT, 0});
  cases.push_back({"empty file", Bytes(), KV_E_CORRUPT, 0});
  cases.push_back({"other form", Form("8SVX", comm), KV_E_CORRUPT, 0});
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFile f(c.file.v);
    WAVEFORMATEX wfx{};
    DWORD frames = 12345, offset = 0;
    EXPECT_EQ(c.hr, iff_GetAIFFWfx(f.handle(), &wfx, &frames, &offset));
    if (c.hr == S_OK) {
      EXPECT_EQ(c.frames, frames);
      EXPECT_LE(offset + static_cast<uint64_t>(frames) * wfx.nBlockAlign, c.file.size());
    }
  }
}

TEST(IffDamage, SampleSizesAndCounts) {
  struct Case {
    uint16_t channels, bits;
    uint32_t rate;
    WORD tag, align;
  } cases[] = {
      {1, 8, 8000, 0xFE01, 1},     {2, 8, 8000, 0xFE01, 2},   {2, 12, 22050, 0xFE02, 4},
      {1, 20, 48000, 0xFE02, 3},   {6, 24, 96000, 0xFE02, 18}, {2, 32, 192000, 0xFE02, 8},
      {0, 16, 44100, 0xFE02, 1},   // no channels: block align floored at 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    TempFile f(Form("AIFF", Bytes().bytes(Chunk("COMM", Comm(c.channels, 10, c.bits, c.rate)))
                                .bytes(Chunk("SSND", Ssnd(c.align * 10u))))
                   .v);
    WAVEFORMATEX wfx{};
    DWORD frames = 0;
    ASSERT_EQ(S_OK, iff_GetAIFFWfx(f.handle(), &wfx, &frames, nullptr));
    EXPECT_EQ(c.tag, wfx.wFormatTag);
    EXPECT_EQ(c.align, wfx.nBlockAlign);
    EXPECT_EQ(c.channels ? c.align * c.rate : 0u, wfx.nAvgBytesPerSec);
    EXPECT_EQ(c.bits, wfx.wBitsPerSample);
    EXPECT_EQ(10u, frames);
  }
  // AIFC "sowt" with 8 bits is still the signed 8-bit tag.
  TempFile f(Form("AIFC", Bytes().bytes(Chunk("COMM", Comm(1, 4, 8, 8000, "sowt"))).bytes(Chunk("SSND", Ssnd(4)))).v);
  WAVEFORMATEX wfx{};
  ASSERT_EQ(S_OK, iff_GetAIFFWfx(f.handle(), &wfx, nullptr, nullptr));
  EXPECT_EQ(0xFE01, wfx.wFormatTag);
}

// Writes an AIFF (or AIFC "sowt") file with this family's writers and the
// raw sample bytes next to it; iff_check.sh decodes both with ffmpeg and sox.
void WriteOurs(const std::string& name, uint16_t channels, uint16_t bits, uint32_t rate, uint32_t frames, bool sowt,
               uint32_t ssndOffset) {
  const uint32_t align = channels * bits / 8;
  std::vector<uint8_t> pcm(static_cast<size_t>(align) * frames);
  uint32_t x = 12345 + rate;
  for (uint8_t& b : pcm) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  std::wstring path = FixtureW("iff/out/" + name + ".aiff");
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  const DWORD commSize = sowt ? 24 : 18;
  const DWORD ssndSize = 8 + ssndOffset + static_cast<DWORD>(pcm.size());
  const DWORD formSize = 4 + (sowt ? 12 : 0) + 8 + commSize + 8 + ssndSize + (ssndSize & 1);
  ASSERT_EQ(S_OK, iff_WriteFileID(h, sowt ? KVIFF_AIFC : KVIFF_AIFF, formSize));
  if (sowt) {
    const DWORD fver[2] = {KVIFF_FOURCC('F', 'V', 'E', 'R'), 4};
    ASSERT_EQ(S_OK, iff_WriteChunk(h, fver));
    ASSERT_EQ(S_OK, iff_WriteDWORD(h, 0xA2805140));
  }
  const DWORD comm[2] = {KVIFF_COMM, commSize};
  ASSERT_EQ(S_OK, iff_WriteChunk(h, comm));
  ASSERT_EQ(S_OK, iff_WriteWORD(h, channels));
  ASSERT_EQ(S_OK, iff_WriteDWORD(h, frames));
  ASSERT_EQ(S_OK, iff_WriteWORD(h, bits));
  WORD e, m[4];
  aiff_CreateRate(rate, &e, m);
  ASSERT_EQ(S_OK, iff_WriteWORD(h, e));
  aiff_WriteByteSwap16(m, 4);
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(h, m, 8, &put, nullptr));
  if (sowt) {
    ASSERT_EQ(S_OK, iff_WriteDWORD(h, KVIFF_SOWT));
    ASSERT_EQ(S_OK, iff_WriteWORD(h, 0));  // empty name + pad
  }
  const DWORD ssnd[2] = {KVIFF_SSND, ssndSize};
  ASSERT_EQ(S_OK, iff_WriteChunk(h, ssnd));
  ASSERT_EQ(S_OK, iff_WriteDWORD(h, ssndOffset));
  ASSERT_EQ(S_OK, iff_WriteDWORD(h, 0));
  std::vector<uint8_t> gap(ssndOffset, 0x55);
  if (ssndOffset) {
    ASSERT_TRUE(WriteFile(h, gap.data(), ssndOffset, &put, nullptr));
  }
  ASSERT_TRUE(WriteFile(h, pcm.data(), static_cast<DWORD>(pcm.size()), &put, nullptr));
  const BYTE pad = 0;
  if (ssndSize & 1) {
    ASSERT_TRUE(WriteFile(h, &pad, 1, &put, nullptr));
  }
  // Read back through the family.
  WAVEFORMATEX wfx{};
  DWORD gotFrames = 0, offset = 0;
  ASSERT_EQ(S_OK, iff_GetAIFFWfx(h, &wfx, &gotFrames, &offset));
  EXPECT_EQ(rate, wfx.nSamplesPerSec);
  EXPECT_EQ(channels, wfx.nChannels);
  EXPECT_EQ(frames, gotFrames);
  EXPECT_EQ(8 + formSize, GetFileSize(h, nullptr));
  CloseHandle(h);
  ASSERT_TRUE(SaveFile(FixtureW("iff/out/" + name + ".raw"), pcm));
}

TEST(IffWrite, FilesForFfmpegAndSox) {
  if (!FixtureExists("iff/out")) VOG_TOOL_MISSING("ffmpeg/sox") << "fixture folder missing";
  WriteOurs("ours_s16_44100", 2, 16, 44100, 4410, false, 0);
  WriteOurs("ours_s24_96000", 1, 24, 96000, 1001, false, 0);
  WriteOurs("ours_s8_22050", 1, 8, 22050, 2205, false, 0);
  WriteOurs("ours_s32_8000", 3, 32, 8000, 800, false, 12);
  WriteOurs("ours_sowt_48000", 2, 16, 48000, 4800, true, 0);
  WriteOurs("ours_s16_384000", 2, 16, 384000, 3840, false, 0);
}

// Deleting chunks: byte layout here, decoded PCM in iff_check.sh.
TEST(IffDelete, DeletesChunksAndKeepsTheForm) {
  if (!FixtureExists("iff/sox16_44100.aiff")) VOG_TOOL_MISSING("ffmpeg/sox") << "fixture missing";
  // sox writes COMT before COMM: removing it moves the whole rest down.
  auto src = LoadFile(FixtureW("iff/sox16_44100.aiff"));
  ASSERT_GT(src.size(), 60u);
  ASSERT_EQ(0, memcmp(&src[12], "COMT", 4));
  const DWORD comt = GetBE32(src, 16);
  const DWORD total = 8 + comt + (comt & 1);
  ASSERT_TRUE(SaveFile(FixtureW("iff/out/del_comt.aiff"), src));
  HANDLE h = CreateFileW(FixtureW("iff/out/del_comt.aiff").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  DWORD removed = 0;
  ASSERT_EQ(S_OK, iff_DeleteChunk(h, KVIFF_FOURCC('C', 'O', 'M', 'T'), &removed));
  EXPECT_EQ(total, removed);
  CloseHandle(h);
  auto got = LoadFile(FixtureW("iff/out/del_comt.aiff"));
  ASSERT_EQ(src.size() - total, got.size());
  EXPECT_EQ(GetBE32(src, 4) - total, GetBE32(got, 4));
  EXPECT_EQ(0, memcmp(got.data() + 12, src.data() + 12 + total, got.size() - 12));

  // The last chunk, and a tail of exactly one move block.
  Bytes body;
  body.bytes(Chunk("COMM", Comm(1, 2048, 16, 8000))).bytes(Chunk("SSND", Ssnd(4096 - 8)));
  Bytes file = Form("AIFF", Bytes().bytes(Chunk("APPL", Bytes().zeros(5))).bytes(body).bytes(Chunk("MARK", Bytes().be16(0))));
  {
    TempFile f(file.v);
    ASSERT_EQ(S_OK, iff_DeleteChunk(f.handle(), KVIFF_MARK, &removed));
    EXPECT_EQ(10u, removed);
    auto b = f.Bytes();
    ASSERT_EQ(file.size() - 10, b.size());
    EXPECT_EQ(b.size() - 8, GetBE32(b, 4));
    ASSERT_EQ(S_OK, iff_DeleteChunk(f.handle(), KVIFF_FOURCC('A', 'P', 'P', 'L'), &removed));
    EXPECT_EQ(14u, removed);
    b = f.Bytes();
    Bytes want = Form("AIFF", body);
    EXPECT_EQ(want.v, b);
    // Absent: nothing changes.
    EXPECT_EQ(KV_E_NOTFOUND, iff_DeleteChunk(f.handle(), KVIFF_MARK, &removed));
    EXPECT_EQ(0u, removed);
    EXPECT_EQ(want.v, f.Bytes());
  }
  // A chunk claiming more than the file holds is refused and nothing moves.
  {
    Bytes bad = Form("AIFF", Bytes().bytes(Chunk("COMM", Comm(1, 2, 16, 8000))).str("APPL").be32(5000).zeros(20));
    TempFile f(bad.v);
    EXPECT_EQ(KV_E_CORRUPT, iff_DeleteChunk(f.handle(), KVIFF_FOURCC('A', 'P', 'P', 'L'), &removed));
    EXPECT_EQ(bad.v, f.Bytes());
  }
  // Not AIFF.
  {
    Bytes other = Form("8SVX", Chunk("MARK", Bytes().be16(0)));
    TempFile f(other.v);
    EXPECT_EQ(KV_E_CORRUPT, iff_DeleteChunk(f.handle(), KVIFF_MARK, &removed));
    EXPECT_EQ(other.v, f.Bytes());
  }
}

}  // namespace
