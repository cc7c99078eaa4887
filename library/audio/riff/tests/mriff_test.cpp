// RIFF images in memory: the cursor record's clamping, reads and writes at
// the ends of the block (blocks placed against a no-access page, so that any
// access past them faults), parsing images of files written by ffmpeg and
// sox, and wave headers written here that riff_check_mriff.sh hands to
// ffprobe, sox and Python's wave module.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kvmriff.h"
#include "riff_test_util.h"
#include "vog_tools.h"

using namespace rifftest;

namespace {

// A block of n bytes that ends where a no-access page begins.
class GuardedBlock {
 public:
  GuardedBlock(const void* src, size_t n) {
    pages_ = (n + 4095) / 4096 + 1;
    mem_ = static_cast<BYTE*>(VirtualAlloc(nullptr, pages_ * 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(mem_ + (pages_ - 1) * 4096, 4096, PAGE_NOACCESS, &old);
    data_ = mem_ + (pages_ - 1) * 4096 - n;
    if (src && n) memcpy(data_, src, n);
  }
  ~GuardedBlock() { VirtualFree(mem_, 0, MEM_RELEASE); }
  BYTE* data() { return data_; }

 private:
  size_t pages_;
  BYTE* mem_;
  BYTE* data_;
};

std::vector<uint8_t> Fixture(const char* name) { return ReadAll(FixturePath(std::string("riff/") + name)); }

#define SKIP_WITHOUT_FIXTURES()                                                 \
  if (!FixtureExists("riff/ffmpeg_info.layout")) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures"; \
  static_assert(true, "")

size_t Off(const _tMRIFF& m) { return static_cast<size_t>(m.cursor - m.base); }
size_t DataLen(const _tMRIFF& m) { return static_cast<size_t>(m.dataEnd - m.base); }

}  // namespace

// ---- The cursor record ----

TEST(MriffRecord, InitChecksItsArguments) {
  BYTE block[16] = {};
  _tMRIFF m;
  EXPECT_EQ(mriff_Init(nullptr, block, 4, 16), E_POINTER);
  EXPECT_EQ(mriff_Init(&m, block, 17, 16), E_INVALIDARG);
  EXPECT_EQ(mriff_Init(&m, nullptr, 0, 16), E_INVALIDARG);
  ASSERT_EQ(mriff_Init(&m, block, 4, 16), S_OK);
  EXPECT_EQ(m.base, block);
  EXPECT_EQ(m.cursor, block);
  EXPECT_EQ(m.dataEnd, block + 4);
  EXPECT_EQ(m.capacityEnd, block + 16);
  EXPECT_EQ(m.dataSize, 4u);
  EXPECT_EQ(m.capacity, 16u);
  EXPECT_EQ(mriff_GetFilePointer(&m), block);

  // An empty block: every read fails and copies nothing.
  GuardedBlock g(nullptr, 0);
  ASSERT_EQ(mriff_Init(&m, g.data(), 0, 0), S_OK);
  DWORD id = 0x11111111, size = 0x22222222, got = 5, count = 3;
  BYTE buf[4] = {9, 9, 9, 9};
  EXPECT_EQ(mriff_ReadChunkHeader(&m, &id, &size), KV_E_READ);
  EXPECT_EQ(mriff_ReadData(&m, buf, 4), KV_E_READ);
  EXPECT_EQ(buf[0], 9);
  EXPECT_FALSE(mriff_ReadFile(&m, buf, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(mriff_ReadFile(&m, buf, 0, &got, nullptr));
  EXPECT_EQ(mriff_ReadFileID(&m, nullptr, nullptr), KV_E_READ);
  EXPECT_EQ(mriff_FindChunkHeader(&m, FourCC("data"), &size, nullptr), KV_E_READ);
  EXPECT_EQ(mriff_GetNumListEntries(&m, &count, nullptr), KV_E_READ);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(mriff_WriteChunkHeader(&m, 1, 2), KV_E_WRITE);
  EXPECT_TRUE(mriff_WriteFile(&m, buf, 4, &got, nullptr));
  EXPECT_EQ(got, 0u);
}

TEST(MriffRecord, PositioningClampsToTheData) {
  BYTE block[64] = {};
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, block, 40, 64), S_OK);
  struct Case {
    DWORD startAt;
    LONG distance;
    DWORD method;
    DWORD want;
  } cases[] = {
      {0, 10, FILE_BEGIN, 10},       {0, -5, FILE_BEGIN, 0},
      {0, 100, FILE_BEGIN, 40},      {10, 5, FILE_CURRENT, 15},
      {10, -20, FILE_CURRENT, 0},    {10, 31, FILE_CURRENT, 40},
      {0, -4, FILE_END, 36},         {0, 4, FILE_END, 40},
      {0, -41, FILE_END, 0},         {25, 3, 7, 25},  // other methods keep it
      {0, 0x7FFFFFFF, FILE_END, 40}, {30, static_cast<LONG>(0x80000000u), FILE_CURRENT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.startAt << " " << c.distance << " " << c.method);
    m.cursor = block + c.startAt;
    LONG high = 99;
    EXPECT_EQ(mriff_SetFilePointer(&m, c.distance, &high, c.method), c.want);
    EXPECT_EQ(Off(m), c.want);
    m.cursor = block + c.startAt;
    EXPECT_EQ(mriff_KvSetFilePointer(&m, c.distance, c.method), c.want);
  }
  // Save and restore, the data start, skips; all within the data.
  DWORD at = 0;
  m.cursor = block + 50;  // a cursor moved past the data end by hand is clamped
  ASSERT_EQ(mriff_SaveLocation(&m, &at), S_OK);
  EXPECT_EQ(at, 40u);
  ASSERT_EQ(mriff_RestoreLocation(&m, 7), S_OK);
  EXPECT_EQ(Off(m), 7u);
  ASSERT_EQ(mriff_RestoreLocation(&m, 1000), S_OK);
  EXPECT_EQ(Off(m), 40u);
  ASSERT_EQ(mriff_SeekDataStart(&m), S_OK);
  EXPECT_EQ(Off(m), 12u);
  EXPECT_EQ(mriff_SkipChunk(&m, 5), 6u);
  EXPECT_EQ(Off(m), 18u);
  EXPECT_EQ(mriff_SkipChunk(&m, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(Off(m), 40u);
  ASSERT_EQ(mriff_Init(&m, block, 8, 64), S_OK);
  ASSERT_EQ(mriff_SeekDataStart(&m), S_OK);
  EXPECT_EQ(Off(m), 8u);
}

TEST(MriffRecord, WritesStopAtTheCapacity) {
  GuardedBlock g(nullptr, 32);
  memset(g.data(), 0xEE, 32);
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, g.data(), 8, 32), S_OK);
  const char text[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  DWORD n = 0;
  // Inside the data, then into the spare capacity: the data end follows.
  ASSERT_TRUE(mriff_WriteFile(&m, text, 4, &n, nullptr));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(DataLen(m), 8u);
  ASSERT_TRUE(mriff_WriteFile(&m, text, 10, &n, nullptr));
  EXPECT_EQ(DataLen(m), 14u);
  // Larger than the room left: only the room is written, still TRUE.
  ASSERT_TRUE(mriff_WriteFile(&m, text, 30, &n, nullptr));
  EXPECT_EQ(n, 18u);
  EXPECT_EQ(DataLen(m), 32u);
  EXPECT_EQ(memcmp(g.data() + 14, text, 18), 0);
  // Header writers report what does not fit whole, after writing what fits.
  mriff_KvSetFilePointer(&m, -6, FILE_END);
  EXPECT_EQ(mriff_WriteChunkHeader(&m, FourCC("abcd"), 0x04030201), KV_E_WRITE);
  EXPECT_EQ(memcmp(g.data() + 26, "abcd\x01\x02", 6), 0);
  mriff_KvSetFilePointer(&m, -10, FILE_END);
  EXPECT_EQ(mriff_WriteListHeader(&m, FourCC("INFO"), 4), KV_E_WRITE);
  EXPECT_EQ(memcmp(g.data() + 22, "LIST\x04\0\0\0IN", 10), 0);
  mriff_KvSetFilePointer(&m, -12, FILE_END);
  EXPECT_EQ(mriff_WriteFileID(&m, FourCC("WAVE"), 4), S_OK);
  EXPECT_EQ(Off(m), 32u);
}

TEST(MriffRecord, UpdateDataSizeStaysInsideTheBlock) {
  BYTE block[32] = {};
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, block, 10, 32), S_OK);
  EXPECT_EQ(mriff_UpdateDataSize(&m, 5), 5);
  EXPECT_EQ(DataLen(m), 15u);
  EXPECT_EQ(mriff_UpdateDataSize(&m, 100), 17);
  EXPECT_EQ(DataLen(m), 32u);
  // Lowering stops at the cursor.
  m.cursor = block + 20;
  EXPECT_EQ(mriff_UpdateDataSize(&m, -4), -4);
  EXPECT_EQ(DataLen(m), 28u);
  EXPECT_EQ(mriff_UpdateDataSize(&m, -100), -8);
  EXPECT_EQ(DataLen(m), 20u);
  EXPECT_EQ(Off(m), 20u);
}

// ---- Reading ----

TEST(MriffRead, ShortReadsCopyWhatIsThere) {
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Chunk("abcd", 5, 0x33).Tag("LIST").U32(2).Fill(2, 0);
  b.FixRIFF();
  GuardedBlock g(b.b.data(), b.b.size());
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, g.data(), static_cast<DWORD>(b.b.size()), static_cast<DWORD>(b.b.size())), S_OK);
  LONG content = 0;
  DWORD form = 0, id = 0, size = 0;
  ASSERT_EQ(mriff_ReadFileID(&m, &content, &form), S_OK);
  EXPECT_EQ(content, static_cast<LONG>(b.b.size() - 12));
  EXPECT_EQ(form, FourCC("WAVE"));
  ASSERT_EQ(mriff_ReadChunkHeader(&m, &id, &size), S_OK);
  BYTE buf[8] = {};
  // A bounded read: 3 of 5 bytes, then over the rest and the pad.
  ASSERT_EQ(mriff_ReadDataBounded(&m, buf, 3, size), S_OK);
  EXPECT_EQ(Off(m), 26u);
  EXPECT_EQ(buf[2], 0x33);
  EXPECT_EQ(buf[3], 0);
  DWORD type = 0;
  EXPECT_EQ(mriff_ReadListHeader(&m, &type, &size), KV_E_BADLENGTH);
  m.cursor = m.base + 12;
  EXPECT_EQ(mriff_ReadListHeader(&m, &type, &size), KV_E_NOLIST);
  // Past the end: the bytes that are there are copied and consumed.
  m.cursor = m.base + 30;
  memset(buf, 0, sizeof buf);
  EXPECT_EQ(mriff_ReadData(&m, buf, 8), KV_E_READ);
  EXPECT_EQ(Off(m), 36u);
  EXPECT_EQ(buf[0], 2);
  m.cursor = m.base + 30;
  EXPECT_EQ(mriff_ReadDataBounded(&m, buf, 8, 100), KV_E_READ);
  EXPECT_EQ(Off(m), 36u);
  m.cursor = m.base + 30;
  KVRIFFDATA block = {7, reinterpret_cast<void*>(1)};
  EXPECT_EQ(mriff_ReadDataAlloc(&m, &block), KV_E_READ);
  EXPECT_EQ(block.data, nullptr);
  EXPECT_EQ(Off(m), 30u);
  block.size = 6;
  ASSERT_EQ(mriff_ReadDataAlloc(&m, &block), S_OK);
  EXPECT_EQ(memcmp(block.data, g.data() + 30, 6), 0);
  FreeBlock(block.data);
  // A short header: the bytes there are taken, the read reports failure.
  m.cursor = m.base + 32;
  EXPECT_EQ(mriff_ReadChunkHeader(&m, &id, &size), KV_E_READ);
  EXPECT_EQ(Off(m), 36u);
  m.cursor = m.base + 12;
  EXPECT_EQ(mriff_ReadFileID(&m, &content, &form), KV_E_NORIFF);
  EXPECT_EQ(content, 0);
}

TEST(MriffRead, ImagesOfFfmpegAndSoxFiles) {
  SKIP_WITHOUT_FIXTURES();
  for (const char* name : {"ffmpeg_info", "sox_u8_odd", "sox_s24_fact"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> file = Fixture((std::string(name) + ".wav").c_str());
    std::vector<uint8_t> pcm = Fixture((std::string(name) + ".pcm").c_str());
    Layout lay;
    ASSERT_TRUE(ReadLayout(std::string("riff/") + name + ".layout", &lay));
    GuardedBlock g(file.data(), file.size());
    _tMRIFF m;
    ASSERT_EQ(mriff_Init(&m, g.data(), static_cast<DWORD>(file.size()), static_cast<DWORD>(file.size())), S_OK);
    for (const LayoutItem& c : lay.Of("chunk")) {
      SCOPED_TRACE(c.id);
      mriff_RestoreLocation(&m, 0);
      DWORD size = 0, remaining = static_cast<DWORD>(file.size());
      ASSERT_EQ(mriff_FindChunkHeaderInRIFF(&m, TokenCode(c.id), &size, &remaining), S_OK);
      EXPECT_EQ(size, c.size);
      EXPECT_EQ(Off(m), c.offset + 8);
      EXPECT_EQ(remaining, file.size() - c.offset - 8);
      if (c.id == "data") {
        KVRIFFDATA block = {size, nullptr};
        ASSERT_EQ(mriff_ReadDataAlloc(&m, &block), S_OK);
        ASSERT_EQ(block.size, pcm.size());
        EXPECT_EQ(memcmp(block.data, pcm.data(), pcm.size()), 0);
        FreeBlock(block.data);
        EXPECT_EQ(Off(m), file.size());
      }
    }
    // Fewer than 12 bytes counted: not even the RIFF header.
    mriff_RestoreLocation(&m, 0);
    DWORD size = 0, remaining = 11;
    EXPECT_EQ(mriff_FindChunkHeaderInRIFF(&m, FourCC("fmt "), &size, &remaining), KV_E_NOTFOUND);
    EXPECT_EQ(Off(m), 0u);

    // The format through both forms; the record form takes the extensible part.
    WAVEFORMATEX wfx;
    DWORD dataSize = 0;
    ASSERT_EQ(mriff_GetWfx(&wfx, g.data(), static_cast<DWORD>(file.size()), &dataSize), S_OK);
    EXPECT_EQ(dataSize, pcm.size());
    WAVEFORMATEX want;
    memcpy(&want, file.data() + 20, 16);
    EXPECT_EQ(wfx.nChannels, want.nChannels);
    EXPECT_EQ(wfx.nSamplesPerSec, want.nSamplesPerSec);
    EXPECT_EQ(wfx.wBitsPerSample, want.wBitsPerSample);
    EXPECT_EQ(wfx.wFormatTag, want.wFormatTag);
    EXPECT_EQ(wfx.cbSize, GetU32(file, 16) >= 18 ? file[36] | (file[37] << 8) : 0);
    _kvwaveformat rec;
    memset(&rec, 0xCC, sizeof rec);
    ASSERT_EQ(mriff_GetWfx(&rec, g.data(), static_cast<DWORD>(file.size()), nullptr), S_OK);
    EXPECT_EQ(rec.cbStruct, 32u);
    EXPECT_EQ(rec.nChannels, want.nChannels);
    EXPECT_EQ(rec.nSamplesPerSec, want.nSamplesPerSec);
    const std::string n(name);
    EXPECT_EQ(rec.SampleType, n == "sox_u8_odd" ? KVST_U8 : n == "sox_s24_fact" ? KVST_S24 : KVST_S16);
  }
}

TEST(MriffRead, InfoListOfAnFfmpegFile) {
  SKIP_WITHOUT_FIXTURES();
  std::vector<uint8_t> file = Fixture("ffmpeg_info.wav");
  Layout lay;
  ASSERT_TRUE(ReadLayout("riff/ffmpeg_info.layout", &lay));
  std::vector<LayoutItem> entries = lay.Of("entry", "INFO");
  GuardedBlock g(file.data(), file.size());
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, g.data(), static_cast<DWORD>(file.size()), static_cast<DWORD>(file.size())), S_OK);
  DWORD size = 0;
  ASSERT_EQ(mriff_FindListChunkFromStart(&m, FourCC("INFO"), &size), S_OK);
  EXPECT_EQ(size, lay.Of("list")[0].size);
  const size_t listAt = Off(m);
  DWORD count = 0, remaining = size;
  ASSERT_EQ(mriff_GetNumListEntries(&m, &count, &remaining), S_OK);
  EXPECT_EQ(count, entries.size());
  EXPECT_EQ(Off(m), listAt);
  // The same list found from the body's start with a counter.
  mriff_SeekDataStart(&m);
  remaining = static_cast<DWORD>(file.size() - 12);
  ASSERT_EQ(mriff_FindListChunk(&m, FourCC("INFO"), &size, &remaining), S_OK);
  EXPECT_EQ(Off(m), listAt);

  // Every item's text; the cursor stays where it was.
  for (const LayoutItem& e : entries) {
    SCOPED_TRACE(e.id);
    for (DWORD* counter : {static_cast<DWORD*>(nullptr), &remaining}) {
      remaining = static_cast<DWORD>(file.size() - 12);
      mriff_SeekDataStart(&m);
      char text[64];
      ASSERT_EQ(mriff_GetInfoString(&m, TokenCode(e.id), text, sizeof text, counter), S_OK);
      EXPECT_EQ(std::string(text), e.text);
      EXPECT_EQ(Off(m), 12u);
    }
  }
  // A buffer shorter than the text still ends in a zero.
  mriff_SeekDataStart(&m);
  char shortText[5];
  ASSERT_EQ(mriff_GetInfoString(&m, FourCC("INAM"), shortText, sizeof shortText, nullptr), S_OK);
  EXPECT_STREQ(shortText, "Riff");
  char text[16];
  remaining = static_cast<DWORD>(file.size() - 12);
  EXPECT_EQ(mriff_GetInfoString(&m, FourCC("IXXX"), text, sizeof text, &remaining), KV_E_NOTFOUND);
  EXPECT_EQ(Off(m), 12u);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(mriff_GetInfoString(&m, FourCC("INAM"), text, 0, nullptr), E_INVALIDARG);
}

// Every prefix of a file's head as an image of its own, against a no-access
// page: nothing reads past it, and each operation succeeds exactly when the
// bytes it needs are there.
TEST(MriffRead, TruncatedImagesAreNeverReadPast) {
  SKIP_WITHOUT_FIXTURES();
  std::vector<uint8_t> file = Fixture("ffmpeg_info.wav");
  Layout lay;
  ASSERT_TRUE(ReadLayout("riff/ffmpeg_info.layout", &lay));
  size_t dataAt = 0, inamAt = 0, listEnd = 0;
  for (const LayoutItem& i : lay.items) {
    if (i.kind == "chunk" && i.id == "data") dataAt = i.offset;
    if (i.kind == "entry" && i.id == "INAM") inamAt = i.offset;
    if (i.kind == "list") listEnd = i.offset + 12 + i.size;
  }
  ASSERT_GT(dataAt, 0u);
  for (size_t n = 0; n <= dataAt + 24; ++n) {
    SCOPED_TRACE(n);
    GuardedBlock g(file.data(), n);
    const DWORD len = static_cast<DWORD>(n);
    _tMRIFF m;
    ASSERT_EQ(mriff_Init(&m, g.data(), len, len), S_OK);

    WAVEFORMATEX wfx;
    DWORD dataSize = 0;
    EXPECT_EQ(SUCCEEDED(mriff_GetWfx(&wfx, g.data(), len, &dataSize)), n >= dataAt + 8);
    _kvwaveformat rec;
    EXPECT_EQ(SUCCEEDED(mriff_GetWfx(&rec, g.data(), len, &dataSize)), n >= dataAt + 8);

    char text[64];
    mriff_SeekDataStart(&m);
    EXPECT_EQ(SUCCEEDED(mriff_GetInfoString(&m, FourCC("INAM"), text, sizeof text, nullptr)), n >= listEnd);
    EXPECT_EQ(SUCCEEDED(mriff_GetInfoString(&m, FourCC("INAM"), text, 12, nullptr)), n >= inamAt + 8 + 12);
    EXPECT_EQ(Off(m), n < 12 ? n : 12u);

    DWORD size = 0, count = 0, remaining = len;
    mriff_FindListChunkFromStart(&m, FourCC("INFO"), &size);
    mriff_GetNumListEntries(&m, &count, &size);
    mriff_GetNumListEntries(&m, &count, nullptr);
    m.cursor = m.base;
    mriff_FindChunkHeaderInRIFF(&m, FourCC("data"), &size, &remaining);
    KVRIFFDATA block = {44100, nullptr};
    EXPECT_EQ(mriff_ReadDataAlloc(&m, &block), KV_E_READ);
    m.cursor = m.base;
    mriff_FindChunkHeader(&m, FourCC("none"), &size, nullptr);
    EXPECT_EQ(Off(m), n);
  }
}

// ---- Wave headers ----

TEST(MriffWave, PcmHeaderLayout) {
  // 16-bit stereo at 44,100 Hz, 1000 data bytes, no extra chunks: 44 bytes.
  WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 44100, 0, 0, 16, 0};
  for (DWORD cap = 0; cap <= 48; ++cap) {
    SCOPED_TRACE(cap);
    GuardedBlock g(nullptr, cap);
    _tMRIFF m;
    ASSERT_EQ(mriff_Init(&m, g.data(), 0, cap), S_OK);
    HRESULT hr = mriff_WriteWaveHeader(&m, &wfx, 1000, 0);
    EXPECT_EQ(hr, cap >= 44 ? S_OK : KV_E_WRITE);
    EXPECT_EQ(DataLen(m), cap < 44 ? cap : 44u);
    if (cap < 44) continue;
    std::vector<uint8_t> h(g.data(), g.data() + 44);
    Bytes want;
    want.Tag("RIFF").U32(1036).Tag("WAVE").Tag("fmt ").U32(16);
    want.b.insert(want.b.end(), {1, 0, 2, 0});
    want.U32(44100).U32(176400);
    want.b.insert(want.b.end(), {4, 0, 16, 0});
    want.Tag("data").U32(1000);
    EXPECT_EQ(h, want.b);
  }
  // The RIFF size is made even and refused past the format's limit.
  BYTE block[64];
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, block, 0, sizeof block), S_OK);
  ASSERT_EQ(mriff_WriteWaveHeader(&m, &wfx, 1000, 3), S_OK);
  EXPECT_EQ(GetU32(std::vector<uint8_t>(block, block + 8), 4), 1000u + 16 + 3 + 20 + 1);
  ASSERT_EQ(mriff_Init(&m, block, 0, sizeof block), S_OK);
  EXPECT_EQ(mriff_WriteWaveHeader(&m, &wfx, 0xFFFFFFF0u, 0), KV_E_TOOBIG);
  EXPECT_EQ(DataLen(m), 0u);
}

TEST(MriffWave, WrittenFilesForOtherReaders) {
  // PCM 16-bit stereo with a chunk after the data, a 24-bit record with the
  // 5.1 side layout (written extensible) and float mono: each written as image + samples,
  // then handed to ffprobe, sox and Python's wave module.
  struct Case {
    const char* out;
    KVSAMPLETYPE type;
    DWORD rate, channels, mask;
    DWORD frames;
    bool trailer;
  } cases[] = {
      {"mriff_pcm16.wav", KVST_S16, 44100, 2, 0, 250, true},
      {"mriff_s24_51side.wav", KVST_S24, 48000, 6, 0x60F, 101, false},
      {"mriff_float.wav", KVST_FLOAT, 32000, 1, 0, 77, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    _kvwaveformat fmt;
    fmt.Init(c.rate, c.type, c.channels, c.mask, 40);
    DWORD bytes = fmt.nBlockAlign * c.frames;
    std::vector<uint8_t> image(4096);
    _tMRIFF m;
    ASSERT_EQ(mriff_Init(&m, image.data(), 0, static_cast<DWORD>(image.size())), S_OK);
    const DWORD trailer = c.trailer ? 8 + 6 : 0;
    ASSERT_EQ(mriff_WriteWaveHeader(&m, &fmt, bytes, trailer), S_OK);
    std::vector<uint8_t> samples(bytes);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 37 + (i >> 8));
    if (c.type == KVST_FLOAT)
      for (size_t i = 0; i < samples.size() / 4; ++i) {
        float v = static_cast<float>(i % 50) / 50.0f - 0.5f;
        memcpy(&samples[i * 4], &v, 4);
      }
    DWORD n = 0;
    ASSERT_TRUE(mriff_WriteFile(&m, samples.data(), bytes, &n, nullptr));
    ASSERT_EQ(n, bytes);
    if (bytes & 1) mriff_WriteFile(&m, "", 1, &n, nullptr);
    if (c.trailer) {
      ASSERT_EQ(mriff_WriteChunkHeader(&m, FourCC("test"), 6), S_OK);
      ASSERT_TRUE(mriff_WriteFile(&m, "trail!", 6, &n, nullptr));
    }
    image.resize(DataLen(m));
    EXPECT_EQ(GetU32(image, 4), image.size() - 8);

    // Read back through the memory functions and through the file functions.
    _kvwaveformat back;
    DWORD dataSize = 0;
    ASSERT_EQ(mriff_GetWfx(&back, image.data(), static_cast<DWORD>(image.size()), &dataSize), S_OK);
    EXPECT_EQ(dataSize, bytes);
    EXPECT_EQ(back.SampleType, c.type);
    EXPECT_EQ(back.nChannels, c.channels);
    EXPECT_EQ(back.nSamplesPerSec, c.rate);
    ASSERT_TRUE(WriteAll(FixturePath(std::string("riff/out/") + c.out), image));
    ASSERT_TRUE(WriteAll(FixturePath(std::string("riff/out/") + c.out + ".raw"), samples));
    Handle f(FixturePath(std::string("riff/out/") + c.out), false);
    DWORD size = 0;
    ASSERT_EQ(riff_FindChunkHeaderInRIFF(f, FourCC("data"), &size, nullptr), S_OK);
    EXPECT_EQ(size, bytes);
  }
}

TEST(MriffWave, FormatBodiesOfSixteenAndMoreBytes) {
  // A 16-byte fmt body fills 16 bytes and leaves cbSize 0; an 18-byte one
  // with cbSize 22 but no extension gives a record without reading past.
  Bytes b16;
  b16.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(16);
  b16.b.insert(b16.b.end(), {1, 0, 1, 0});
  b16.U32(8000).U32(16000);
  b16.b.insert(b16.b.end(), {2, 0, 16, 0});
  b16.Chunk("data", 4, 0);
  b16.FixRIFF();
  Bytes bext;
  bext.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(18);
  bext.b.insert(bext.b.end(), {0xFE, 0xFF, 2, 0});
  bext.U32(8000).U32(32000);
  bext.b.insert(bext.b.end(), {4, 0, 16, 0, 22, 0});
  bext.Chunk("data", 4, 0);
  bext.FixRIFF();
  Bytes notWave;
  notWave.Tag("RIFF").U32(4).Tag("AVI ");
  for (const Bytes* b : {&b16, &bext}) {
    GuardedBlock g(b->b.data(), b->b.size());
    WAVEFORMATEX wfx;
    memset(&wfx, 0xCC, sizeof wfx);
    DWORD dataSize = 0;
    ASSERT_EQ(mriff_GetWfx(&wfx, g.data(), static_cast<DWORD>(b->b.size()), &dataSize), S_OK);
    EXPECT_EQ(dataSize, 4u);
    EXPECT_EQ(wfx.nSamplesPerSec, 8000u);
    EXPECT_EQ(wfx.cbSize, b == &b16 ? 0 : 22);
    _kvwaveformat rec;
    ASSERT_EQ(mriff_GetWfx(&rec, g.data(), static_cast<DWORD>(b->b.size()), nullptr), S_OK);
    EXPECT_EQ(rec.nSamplesPerSec, 8000u);
  }
  WAVEFORMATEX wfx;
  EXPECT_EQ(mriff_GetWfx(&wfx, notWave.b.data(), static_cast<DWORD>(notWave.b.size()), nullptr), E_FAIL);
  EXPECT_EQ(mriff_GetWfx(&wfx, nullptr, 10, nullptr), E_INVALIDARG);
}

// An image built with the memory functions reads the same through the file
// functions, and the file readers see its list.
TEST(MriffWave, ImageWithListReadByFileFunctions) {
  std::vector<uint8_t> image(256);
  _tMRIFF m;
  ASSERT_EQ(mriff_Init(&m, image.data(), 0, static_cast<DWORD>(image.size())), S_OK);
  WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 1, 8000, 0, 0, 8, 0};
  ASSERT_EQ(mriff_WriteWaveHeader(&m, &wfx, 3, 4 + 8 + 10 + 8 + 4 + 8), S_OK);
  DWORD n = 0;
  ASSERT_TRUE(mriff_WriteFile(&m, "\x80\x90\xA0\0", 4, &n, nullptr));
  ASSERT_EQ(mriff_WriteListHeader(&m, FourCC("INFO"), 4 + 8 + 10 + 8 + 4), S_OK);
  ASSERT_EQ(mriff_WriteChunkHeader(&m, FourCC("INAM"), 10), S_OK);
  ASSERT_TRUE(mriff_WriteFile(&m, "In Memory\0", 10, &n, nullptr));
  ASSERT_EQ(mriff_WriteChunkHeader(&m, FourCC("ICMT"), 4), S_OK);
  ASSERT_TRUE(mriff_WriteFile(&m, "abc", 4, &n, nullptr));
  image.resize(DataLen(m));
  EXPECT_EQ(GetU32(image, 4), image.size() - 8);
  ASSERT_TRUE(WriteAll(FixturePath("riff/out/mriff_list.wav"), image));

  Handle f(FixturePath("riff/out/mriff_list.wav"), false);
  DWORD size = 0, count = 0;
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
  DWORD remaining = size;
  ASSERT_EQ(riff_GetNumListEntries(f, &count, &remaining), S_OK);
  EXPECT_EQ(count, 2u);
  remaining = size;
  ASSERT_EQ(riff_FindChunkHeader(f, FourCC("INAM"), &size, &remaining), S_OK);
  wchar_t text[16];
  ASSERT_EQ(riff_ReadANSIString(f, text, 16, &size), S_OK);
  EXPECT_STREQ(text, L"In Memory");
}

// Images of an ffmpeg file with random bytes of its headers changed (sizes
// above all), against a no-access page: every walk ends, nothing is read or
// written past the block, and the cursor stays inside it.
TEST(MriffRead, CorruptedHeadersAreWalkedSafely) {
  SKIP_WITHOUT_FIXTURES();
  std::vector<uint8_t> file = Fixture("ffmpeg_info.wav");
  ASSERT_GT(file.size(), 200u);
  file.resize(200);  // the headers and the start of the samples
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int iter = 0; iter < 3000; ++iter) {
    const uint32_t caseSeed = seed;
    std::vector<uint8_t> img = file;
    int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = next() % 132;
      if (next() % 2) {
        img[at] = static_cast<uint8_t>(next());
      } else {
        // A whole size field at a 4-byte boundary: small, huge or odd.
        at &= ~static_cast<size_t>(3);
        const uint32_t sizes[] = {0, 1, 3, 7, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF7u, 0xFFFFFFFFu, next()};
        uint32_t v = sizes[next() % 9];
        for (int i = 0; i < 4; ++i) img[at + i] = static_cast<uint8_t>(v >> (8 * i));
      }
    }
    const size_t len = next() % 2 ? img.size() : next() % img.size();
    SCOPED_TRACE(testing::Message() << "case seed " << caseSeed << " length " << len);
    GuardedBlock g(img.data(), len);
    const DWORD n = static_cast<DWORD>(len);
    _tMRIFF m;
    ASSERT_EQ(mriff_Init(&m, g.data(), n, n), S_OK);
    DWORD size = 0, remaining = n, count = 0;
    char text[32];
    mriff_FindChunkHeaderInRIFF(&m, FourCC("data"), &size, &remaining);
    KVRIFFDATA block = {size, nullptr};
    if (SUCCEEDED(mriff_ReadDataAlloc(&m, &block))) FreeBlock(block.data);
    m.cursor = m.base;
    mriff_FindChunkHeaderInRIFF(&m, FourCC("none"), &size, nullptr);
    if (SUCCEEDED(mriff_FindListChunkFromStart(&m, FourCC("INFO"), &size))) {
      remaining = size;
      mriff_GetNumListEntries(&m, &count, &remaining);
      mriff_GetNumListEntries(&m, &count, nullptr);
    }
    mriff_SeekDataStart(&m);
    remaining = n;
    mriff_GetInfoString(&m, FourCC("INAM"), text, sizeof text, &remaining);
    mriff_GetInfoString(&m, FourCC("ISFT"), text, sizeof text, nullptr);
    WAVEFORMATEX wfx;
    mriff_GetWfx(&wfx, g.data(), n, &size);
    _kvwaveformat rec;
    mriff_GetWfx(&rec, g.data(), n, &size);
    EXPECT_LE(DataLen(m), len);
    EXPECT_LE(Off(m), DataLen(m));
    if (HasFatalFailure() || HasFailure()) break;
  }
}
