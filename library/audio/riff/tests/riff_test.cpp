// RIFF chunk I/O on file handles: reading and searching files written by
// ffmpeg and sox (layouts from Python's struct walk, data against ffmpeg's
// decode), editing copies of them (the edited files go to the fixture folder
// for riff_check_outputs.sh, which decodes them with ffmpeg and sox), and the
// edge cases of sizes, pads, bounds and corrupt headers on files built here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kvriff.h"
#include "riff_test_util.h"
#include "vog_tools.h"

using namespace rifftest;

namespace {

const char* const kWavFixtures[] = {"ffmpeg_info", "sox_u8_odd", "sox_s24_fact"};

#define SKIP_WITHOUT_FIXTURES()                                                 \
  if (!FixtureExists("riff/ffmpeg_info.layout")) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures"; \
  static_assert(true, "")

std::wstring OutPath(const char* name) { return FixturePath(std::string("riff/out/") + name); }

// Copies a fixture into the scratch folder and returns the copy's path.
std::wstring CopyFixture(ScratchDir& dir, const std::string& name) {
  std::wstring to = dir.Path(Widen(name));
  CopyFileW(FixturePath("riff/" + name).c_str(), to.c_str(), FALSE);
  return to;
}

// Makes a file from bytes in the scratch folder.
std::wstring MakeFile(ScratchDir& dir, const wchar_t* name, const std::vector<uint8_t>& bytes) {
  std::wstring p = dir.Path(name);
  WriteAll(p, bytes);
  return p;
}

}  // namespace

// ---- Reading files of other writers ----

TEST(RiffRead, ChunksAreFoundWhereStructSeesThem) {
  SKIP_WITHOUT_FIXTURES();
  for (const char* name : kWavFixtures) {
    SCOPED_TRACE(name);
    Layout lay;
    ASSERT_TRUE(ReadLayout(std::string("riff/") + name + ".layout", &lay));
    Handle f(FixturePath(std::string("riff/") + name + ".wav"), false);
    ASSERT_TRUE(f.ok());

    DWORD content = 0, form = 0;
    ASSERT_EQ(riff_ReadFileID(f, &content, &form), S_OK);
    EXPECT_EQ(content, lay.riffSize - 4);
    EXPECT_EQ(form, TokenCode(lay.form));
    DWORD fileSize = 0;
    ASSERT_EQ(riff_GetFileSize(f, &fileSize), S_OK);
    EXPECT_EQ(fileSize, lay.riffSize + 4);

    for (const LayoutItem& c : lay.Of("chunk")) {
      SCOPED_TRACE(c.id);
      DWORD size = 0, remaining = 0;
      ASSERT_EQ(riff_FindChunkHeaderInRIFF(f, TokenCode(c.id), &size, &remaining), S_OK);
      EXPECT_EQ(size, c.size);
      EXPECT_EQ(f.Pos(), c.offset + 8);
      // The bytes after the header up to the end of the RIFF body.
      EXPECT_EQ(remaining, lay.riffSize - c.offset);
      DWORD pos = 0;
      ASSERT_EQ(riff_SaveLocation(f, &pos), S_OK);
      EXPECT_EQ(pos, c.offset + 8);
    }
    for (const LayoutItem& l : lay.Of("list")) {
      DWORD size = 0;
      ASSERT_EQ(riff_FindListChunkFromStart(f, TokenCode(l.id), &size), S_OK);
      EXPECT_EQ(size, l.size);
      EXPECT_EQ(f.Pos(), l.offset + 12);
      // The same list through an explicit walk from the body's start.
      riff_SeekDataStart(f);
      DWORD remaining = content;
      ASSERT_EQ(riff_FindListChunk(f, TokenCode(l.id), &size, &remaining), S_OK);
      EXPECT_EQ(size, l.size);
      EXPECT_EQ(remaining, lay.riffSize - l.offset - 4);
      f.SetPos(l.offset);
      DWORD type = 0, lsize = 0;
      ASSERT_EQ(riff_ReadListHeader(f, &type, &lsize), S_OK);
      EXPECT_EQ(type, TokenCode(l.id));
      EXPECT_EQ(lsize, l.size);
    }
    // Absent ids: a chunk and a list type.
    DWORD size = 0, remaining = 0;
    EXPECT_EQ(riff_FindChunkHeaderInRIFF(f, FourCC("none"), &size, &remaining), KV_E_NOTFOUND);
    EXPECT_LT(remaining, 8u);
    EXPECT_EQ(riff_FindListChunkFromStart(f, FourCC("none"), &size), KV_E_NOTFOUND);
  }
}

TEST(RiffRead, DataChunkHoldsWhatFfmpegDecodes) {
  SKIP_WITHOUT_FIXTURES();
  for (const char* name : kWavFixtures) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> pcm = ReadAll(FixturePath(std::string("riff/") + name + ".pcm"));
    ASSERT_FALSE(pcm.empty());
    Handle f(FixturePath(std::string("riff/") + name + ".wav"), false);
    KVRIFFDATA block = {0, nullptr};
    ASSERT_EQ(riff_FindChunkHeaderInRIFF(f, FourCC("data"), &block.size, nullptr), S_OK);
    ASSERT_EQ(block.size, pcm.size());
    ASSERT_EQ(riff_ReadDataAlloc(f, &block), S_OK);
    ASSERT_NE(block.data, nullptr);
    EXPECT_NE(GlobalHandle(block.data), nullptr);
    EXPECT_EQ(memcmp(block.data, pcm.data(), pcm.size()), 0);
    FreeBlock(block.data);
    // The data chunk is the last: reading it, pad byte included, reaches the end.
    EXPECT_EQ(f.Pos(), f.Length());

    // The bounded read takes the first bytes and lands after the chunk just the same.
    DWORD size = 0;
    ASSERT_EQ(riff_FindChunkHeaderInRIFF(f, FourCC("data"), &size, nullptr), S_OK);
    uint8_t head[7] = {};
    ASSERT_EQ(riff_ReadDataBounded(f, head, sizeof head, size), S_OK);
    EXPECT_EQ(memcmp(head, pcm.data(), sizeof head), 0);
    EXPECT_EQ(f.Pos(), f.Length());
  }
}

TEST(RiffRead, InfoListEntriesAreCountedSoughtAndRead) {
  SKIP_WITHOUT_FIXTURES();
  Layout lay;
  ASSERT_TRUE(ReadLayout("riff/ffmpeg_info.layout", &lay));
  std::vector<LayoutItem> lists = lay.Of("list"), entries = lay.Of("entry", "INFO");
  ASSERT_EQ(lists.size(), 1u);
  ASSERT_GE(entries.size(), 3u);  // IART, ICMT, INAM and the encoder's ISFT
  const uint64_t listEnd = lists[0].offset + 12 + lists[0].size;
  Handle f(FixturePath("riff/ffmpeg_info.wav"), false);

  DWORD listSize = 0;
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &listSize), S_OK);
  uint64_t at = f.Pos();
  DWORD remaining = listSize, count = 0;
  ASSERT_EQ(riff_GetNumListEntries(f, &count, &remaining), S_OK);
  EXPECT_EQ(count, entries.size());
  EXPECT_EQ(f.Pos(), at);
  EXPECT_EQ(remaining, listSize);

  for (size_t i = 0; i <= entries.size() + 1; ++i) {
    SCOPED_TRACE(i);
    f.SetPos(at);
    remaining = listSize;
    HRESULT hr = riff_SeekListEntry(f, static_cast<DWORD>(i), &remaining);
    if (i == entries.size()) {
      // Stepping over every entry lands at the list's end.
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(f.Pos(), listEnd);
      EXPECT_EQ(remaining, 0u);
      continue;
    }
    if (i > entries.size()) {
      EXPECT_EQ(hr, KV_E_NOTFOUND);
      EXPECT_EQ(remaining, 0u);
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(f.Pos(), entries[i].offset);
    EXPECT_EQ(remaining, listEnd - entries[i].offset);
    DWORD id = 0, size = 0;
    ASSERT_EQ(riff_ReadChunkHeader(f, &id, &size), S_OK);
    EXPECT_EQ(id, TokenCode(entries[i].id));
    EXPECT_EQ(size, entries[i].size);
    // Each item's text through the ANSI reader; it lands after the pad byte.
    wchar_t text[64];
    DWORD n = size;
    ASSERT_EQ(riff_ReadANSIString(f, text, 64, &n), S_OK);
    EXPECT_EQ(Narrow(text), entries[i].text);
    EXPECT_EQ(n, size + 1);
    EXPECT_EQ(f.Pos(), entries[i].offset + 8 + size + (size & 1));
  }

  // The title by id inside the list, and a text cut to a short buffer.
  f.SetPos(at);
  remaining = listSize;
  DWORD size = 0;
  ASSERT_EQ(riff_FindChunkHeader(f, FourCC("INAM"), &size, &remaining), S_OK);
  wchar_t shortText[5];
  ASSERT_EQ(riff_ReadANSIString(f, shortText, 5, &size), S_OK);
  EXPECT_STREQ(shortText, L"Riff");
  f.SetPos(at);
  remaining = listSize;
  EXPECT_EQ(riff_FindChunkHeader(f, FourCC("data"), &size, &remaining), KV_E_NOTFOUND);
}

// ---- Editing copies ----

TEST(RiffEdit, DeletingChunksKeepsTheAudio) {
  SKIP_WITHOUT_FIXTURES();
  ScratchDir dir;
  struct Case {
    const char* fixture;
    const char* id;
    BOOL isList;
    const char* out;
  } cases[] = {
      {"ffmpeg_info", "INFO", TRUE, "ffmpeg_noinfo.wav"},
      {"sox_s24_fact", "fact", FALSE, "sox_s24_nofact.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    Layout lay;
    ASSERT_TRUE(ReadLayout(std::string("riff/") + c.fixture + ".layout", &lay));
    uint64_t expectRemoved = 0;
    for (const LayoutItem& i : lay.items)
      if ((i.kind == "list") == (c.isList != 0) && i.id == c.id)
        expectRemoved = (c.isList ? 12 : 8) + i.size + (i.size & 1);
    ASSERT_NE(expectRemoved, 0u);
    std::wstring path = CopyFixture(dir, std::string(c.fixture) + ".wav");
    {
      Handle f(path);
      f.SetPos(17);
      DWORD removed = 0;
      ASSERT_EQ(riff_DeleteChunk(f, FourCC(c.id), &removed, c.isList), S_OK);
      EXPECT_EQ(removed, expectRemoved);
      EXPECT_EQ(f.Length(), lay.fileLength - expectRemoved);
      DWORD size = 0;
      EXPECT_EQ(c.isList ? riff_FindListChunkFromStart(f, FourCC(c.id), &size)
                         : riff_FindChunkHeaderInRIFF(f, FourCC(c.id), &size, nullptr),
                KV_E_NOTFOUND);
      // Deleting again finds nothing and changes nothing.
      EXPECT_EQ(riff_DeleteChunk(f, FourCC(c.id), &removed, c.isList), KV_E_NOTFOUND);
      EXPECT_EQ(removed, 0u);
    }
    std::vector<uint8_t> b = ReadAll(path);
    EXPECT_EQ(GetU32(b, 4), lay.riffSize - expectRemoved);
    ASSERT_TRUE(WriteAll(OutPath(c.out), b));
  }
}

TEST(RiffEdit, AppendedChunksAndListRoundTrip) {
  SKIP_WITHOUT_FIXTURES();
  ScratchDir dir;
  std::wstring path = CopyFixture(dir, "sox_u8_odd.wav");
  std::vector<uint8_t> original = ReadAll(path);
  {
    Handle f(path);
    f.SetPos(f.Length());
    DWORD written = 0, total = 0;
    // An odd chunk: header, 5 bytes, pad.
    ASSERT_EQ(riff_WriteChunk(f, FourCC("test"), "hello", 5, &written), S_OK);
    EXPECT_EQ(written, 14u);
    total += written;
    // LIST INFO with two texts, sized after the fact.
    DWORD listAt = static_cast<DWORD>(f.Pos());
    ASSERT_EQ(riff_WriteListHeader(f, FourCC("INFO"), 0), S_OK);
    DWORD listBody = 4;
    const struct {
      const char* id;
      const wchar_t* text;
    } items[] = {{"INAM", L"Appended"}, {"IART", L"Me"}};
    for (const auto& it : items) {
      ASSERT_EQ(riff_WriteChunkHeader(f, FourCC(it.id), static_cast<DWORD>(wcslen(it.text) + 1)), S_OK);
      ASSERT_EQ(riff_WriteANSIString(f, it.text, &written), S_OK);
      listBody += 8 + written;
    }
    EXPECT_EQ(listBody, 4u + 8 + 10 + 8 + 4);
    DWORD end = 0;
    ASSERT_EQ(riff_SaveLocation(f, &end), S_OK);
    ASSERT_EQ(riff_RestoreLocation(f, listAt), S_OK);
    ASSERT_EQ(riff_WriteListHeader(f, FourCC("INFO"), listBody), S_OK);
    ASSERT_EQ(riff_RestoreLocation(f, end), S_OK);
    total += 8 + listBody;
    ASSERT_EQ(riff_UpdateRIFFSize(f, total), S_OK);
    EXPECT_EQ(f.Pos(), end);
    EXPECT_EQ(f.Length(), original.size() + total);

    // Read back through the library.
    DWORD size = 0;
    ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
    EXPECT_EQ(size, listBody - 4);
    DWORD count = 0, remaining = size;
    ASSERT_EQ(riff_GetNumListEntries(f, &count, &remaining), S_OK);
    EXPECT_EQ(count, 2u);
  }
  ASSERT_TRUE(WriteAll(OutPath("sox_u8_appended.wav"), ReadAll(path)));

  // Deleting the list, then the chunk (each the last in the file) gives the
  // original file back byte for byte.
  {
    Handle f(path);
    DWORD removed = 0;
    ASSERT_EQ(riff_DeleteChunk(f, FourCC("INFO"), &removed, TRUE), S_OK);
    EXPECT_EQ(removed, 8u + 4 + 8 + 10 + 8 + 4);
    ASSERT_EQ(riff_DeleteChunk(f, FourCC("test"), &removed, FALSE), S_OK);
    EXPECT_EQ(removed, 14u);
  }
  EXPECT_EQ(ReadAll(path), original);
}

// A chunk deleted from the middle of a file built here: the tail moves down
// in blocks, whatever its length against the block size.
TEST(RiffEdit, DeleteMovesTailsOfEveryLength) {
  ScratchDir dir;
  const size_t tails[] = {0, 1, 4095, 4096, 4097, 8192, 8195};
  const size_t sizes[] = {1, 2, 4096};
  for (size_t victim : sizes) {
    for (size_t tail : tails) {
      SCOPED_TRACE(testing::Message() << "victim " << victim << " tail " << tail);
      Bytes before;
      before.Tag("RIFF").U32(0).Tag("WAVE").Chunk("fmt ", 16, 0x11);
      Bytes after = before;
      before.Chunk("kill", victim, 0x22);
      // The tail: a chunk of tail - 8 bytes when it can hold one, else raw bytes.
      Bytes tailBytes;
      if (tail >= 8) tailBytes.Tag("tail").U32(static_cast<uint32_t>(tail - 8));
      for (size_t i = tailBytes.b.size(); i < tail; ++i) tailBytes.b.push_back(static_cast<uint8_t>(i * 7 + 1));
      before.b.insert(before.b.end(), tailBytes.b.begin(), tailBytes.b.end());
      after.b.insert(after.b.end(), tailBytes.b.begin(), tailBytes.b.end());
      before.FixRIFF();
      after.FixRIFF();
      std::wstring path = MakeFile(dir, L"tail.wav", before.b);
      {
        Handle f(path);
        DWORD removed = 0;
        ASSERT_EQ(riff_DeleteChunk(f, FourCC("kill"), &removed, FALSE), S_OK);
        EXPECT_EQ(removed, 8 + victim + (victim & 1));
      }
      EXPECT_EQ(ReadAll(path), after.b);
    }
  }
}

TEST(RiffEdit, DeleteOfAChunkRunningPastTheEndRemovesOnlyWhatIsThere) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Chunk("fmt ", 16, 1).Tag("kill").U32(1000).Fill(10, 2);
  b.FixRIFF();
  std::wstring path = MakeFile(dir, L"short.wav", b.b);
  {
    Handle f(path);
    DWORD removed = 0;
    ASSERT_EQ(riff_DeleteChunk(f, FourCC("kill"), &removed, FALSE), S_OK);
    EXPECT_EQ(removed, 18u);
  }
  std::vector<uint8_t> got = ReadAll(path);
  ASSERT_EQ(got.size(), 36u);
  EXPECT_EQ(GetU32(got, 4), 28u);
}

// ---- Sizes ----

TEST(RiffSize, UpdateRIFFSizeStopsAtTheFormatsLimit) {
  ScratchDir dir;
  struct Case {
    uint32_t field;
    int64_t delta;
    HRESULT hr;
    uint32_t fieldAfter;
    size_t lengthAfter;
  } cases[] = {
      {100, 20, S_OK, 120, 500},
      {100, -96, S_OK, 4, 500},
      {100, -97, KV_E_BADLENGTH, 100, 500},           // below the form type: unchanged
      {100, -1000, KV_E_BADLENGTH, 100, 500},         // would wrap: unchanged
      {100, 0xFFFFFFF7LL - 100, S_OK, 0xFFFFFFF7u, 500},  // exactly the limit
      {100, 0xFFFFFFF8LL - 100, KV_E_TOOBIG, 100, 108},
      {100, 0x100000000LL, KV_E_TOOBIG, 100, 108},
      {0xFFFFFFF0u, 7, S_OK, 0xFFFFFFF7u, 500},
      {0xFFFFFFF7u, 1, KV_E_TOOBIG, 0xFFFFFFF7u, 500},  // never lengthens the file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "field " << c.field << " delta " << c.delta);
    Bytes b;
    b.Tag("RIFF").U32(c.field).Tag("WAVE").Fill(488, 0x5A);
    std::wstring path = MakeFile(dir, L"size.wav", b.b);
    {
      Handle f(path);
      f.SetPos(33);
      EXPECT_EQ(riff_UpdateRIFFSize(f, c.delta), c.hr);
      EXPECT_EQ(f.Pos(), 33u);
    }
    std::vector<uint8_t> got = ReadAll(path);
    ASSERT_EQ(got.size(), c.lengthAfter);
    EXPECT_EQ(GetU32(got, 4), c.fieldAfter);
  }
}

TEST(RiffSize, SetAndGetTheRIFFSize) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Chunk("fmt ", 16, 0);
  std::wstring path = MakeFile(dir, L"set.wav", b.b);
  Handle f(path);
  f.SetPos(20);
  ASSERT_EQ(riff_SetRIFFSize(f, 28), S_OK);
  EXPECT_EQ(f.Pos(), 20u);
  DWORD size = 0;
  ASSERT_EQ(riff_GetFileSize(f, &size), S_OK);
  EXPECT_EQ(size, 32u);  // the RIFF size field + 4
  // A field whose sum does not fit 32 bits is reported, not wrapped.
  ASSERT_EQ(riff_SetRIFFSize(f, 0xFFFFFFFCu), S_OK);
  EXPECT_EQ(riff_GetFileSize(f, &size), KV_E_TOOBIG);
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(riff_SetRIFFSize(f, 0xFFFFFFF7u), S_OK);
  ASSERT_EQ(riff_GetFileSize(f, &size), S_OK);
  EXPECT_EQ(size, 0xFFFFFFFBu);
}

TEST(RiffSize, PositionsPast4GiBAreNotCut) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(4).Tag("WAVE");
  Handle f(MakeFile(dir, L"far.wav", b.b));
  f.SetPos(0x140000000ull);  // past the end: nothing is written
  DWORD pos = 0x1234;
  EXPECT_EQ(riff_SaveLocation(f, &pos), KV_E_TOOBIG);
  EXPECT_EQ(pos, 0x1234u);
  f.SetPos(0xFFFFFFFFull);
  ASSERT_EQ(riff_SaveLocation(f, &pos), S_OK);
  EXPECT_EQ(pos, 0xFFFFFFFFu);
  // RestoreLocation reaches the whole unsigned 32-bit range.
  ASSERT_EQ(riff_RestoreLocation(f, 0xFFFFFFF0u), S_OK);
  EXPECT_EQ(f.Pos(), 0xFFFFFFF0ull);
  // A skip of an odd size near 4 GiB moves forward by the padded size.
  f.SetPos(16);
  EXPECT_EQ(riff_SkipChunk(f, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(f.Pos(), 16 + 0x100000000ull);
}

// ---- Writing ----

TEST(RiffWrite, ChunksArePaddedToEvenSizes) {
  ScratchDir dir;
  const DWORD sizes[] = {0, 1, 2, 5, 6};
  for (DWORD n : sizes) {
    SCOPED_TRACE(n);
    std::wstring path = MakeFile(dir, L"chunk.bin", {});
    std::vector<uint8_t> payload(n, 0xAB);
    {
      Handle f(path);
      DWORD written = 0;
      ASSERT_EQ(riff_WriteChunk(f, FourCC("abcd"), payload.data(), n, &written), S_OK);
      EXPECT_EQ(written, 8 + n + (n & 1));
      ASSERT_EQ(riff_WriteChunk(f, FourCC("next"), payload.data(), n, nullptr), S_OK);
      f.SetPos(0);
      DWORD id = 0, size = 0;
      ASSERT_EQ(riff_ReadChunkHeader(f, &id, &size), S_OK);
      EXPECT_EQ(riff_SkipChunk(f, size), n + (n & 1));
      ASSERT_EQ(riff_ReadChunkHeader(f, &id, &size), S_OK);
      EXPECT_EQ(id, FourCC("next"));
      std::vector<uint8_t> back(n + 1, 0);
      ASSERT_EQ(riff_ReadData(f, back.data(), n), S_OK);
      EXPECT_EQ(f.Pos(), f.Length());
    }
    Bytes want;
    want.Chunk("abcd", n, 0xAB).Chunk("next", n, 0xAB);
    EXPECT_EQ(ReadAll(path), want.b);
  }
}

TEST(RiffWrite, HeadersAndAnsiStrings) {
  ScratchDir dir;
  std::wstring path = MakeFile(dir, L"hdr.bin", {});
  Handle f(path);
  ASSERT_EQ(riff_WriteFileID(f, FourCC("WAVE"), 0x01020304), S_OK);
  ASSERT_EQ(riff_WriteListHeader(f, FourCC("INFO"), 0x0A0B0C0D), S_OK);
  ASSERT_EQ(riff_WriteChunkHeader(f, FourCC("fmt "), 16), S_OK);
  struct {
    const wchar_t* text;
    DWORD written;
    const char* bytes;
  } strings[] = {{L"", 2, "\0\0"}, {L"a", 2, "a\0"}, {L"ab", 4, "ab\0\0"}, {L"abc", 4, "abc\0"}, {nullptr, 2, "\0\0"}};
  Bytes want;
  want.Tag("RIFF").U32(0x01020304).Tag("WAVE").Tag("LIST").U32(0x0A0B0C0D).Tag("INFO").Tag("fmt ").U32(16);
  for (const auto& s : strings) {
    DWORD written = 99;
    ASSERT_EQ(riff_WriteANSIString(f, s.text, &written), S_OK);
    EXPECT_EQ(written, s.written);
    want.b.insert(want.b.end(), s.bytes, s.bytes + s.written);
  }
  EXPECT_EQ(riff_WriteANSIString(f, L"x", nullptr), E_INVALIDARG);
  f.Close();
  EXPECT_EQ(ReadAll(path), want.b);
}

TEST(RiffWrite, WritesToAReadOnlyHandleFail) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(4).Tag("WAVE");
  Handle f(MakeFile(dir, L"ro.wav", b.b), false);
  DWORD written = 7;
  EXPECT_EQ(riff_WriteChunk(f, FourCC("abcd"), "x", 1, &written), KV_E_WRITE);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(riff_WriteFileID(f, FourCC("WAVE"), 4), KV_E_WRITE);
  EXPECT_EQ(riff_SetRIFFSize(f, 8), KV_E_WRITE);
  EXPECT_EQ(riff_UpdateRIFFSize(f, 2), KV_E_WRITE);
  EXPECT_EQ(riff_WriteANSIString(f, L"abc", &written), KV_E_WRITE);
}

// ---- Bounds and corrupt headers ----

TEST(RiffSearch, CountersBoundTheWalk) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Chunk("aaaa", 3, 1).Chunk("bbbb", 4, 2).Chunk("cccc", 0, 0);
  b.FixRIFF();
  Handle f(MakeFile(dir, L"bound.wav", b.b));
  struct Case {
    const char* id;
    DWORD remaining;
    HRESULT hr;
    DWORD remainingAfter;
    uint64_t posAfter;
  } cases[] = {
      {"aaaa", 7, KV_E_NOTFOUND, 7, 12},  // fewer than 8 bytes: nothing is read
      {"aaaa", 8, S_OK, 0, 20},
      {"bbbb", 23, S_OK, 3, 32},
      {"bbbb", 18, KV_E_NOTFOUND, 6, 24},  // 6 bytes after the first chunk: too few
      {"cccc", 100, S_OK, 100 - 32, 44},
      {"dddd", 36, KV_E_NOTFOUND, 4, 44},
      {"dddd", 200, KV_E_READ, 200 - 32, 44},  // the body claims more than the file holds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.id << " " << c.remaining);
    riff_SeekDataStart(f);
    DWORD size = 77, remaining = c.remaining;
    EXPECT_EQ(riff_FindChunkHeader(f, FourCC(c.id), &size, &remaining), c.hr);
    EXPECT_EQ(remaining, c.remainingAfter);
    EXPECT_EQ(f.Pos(), c.posAfter);
  }
  // Without a counter the walk ends at the file's end.
  riff_SeekDataStart(f);
  EXPECT_EQ(riff_FindChunkHeader(f, FourCC("dddd"), nullptr, nullptr), KV_E_READ);
}

TEST(RiffSearch, CorruptSizesEndTheWalk) {
  // Sizes of 2 GiB and more move forward, never back: every walk ends.
  ScratchDir dir;
  const uint32_t sizes[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu};
  for (uint32_t s : sizes) {
    SCOPED_TRACE(s);
    Bytes b;
    b.Tag("RIFF").U32(0xFFFFFFF0u).Tag("WAVE").Chunk("aaaa", 4, 1).Tag("huge").U32(s).Chunk("bbbb", 4, 2);
    Handle f(MakeFile(dir, L"corrupt.wav", b.b));
    // Bounded by the RIFF size the walk runs out of counter or of file.
    DWORD size = 0, remaining = 0;
    HRESULT hr = riff_FindChunkHeaderInRIFF(f, FourCC("bbbb"), &size, &remaining);
    EXPECT_TRUE(hr == KV_E_READ || hr == KV_E_NOTFOUND) << std::hex << hr;
    riff_SeekDataStart(f);
    EXPECT_EQ(riff_FindChunkHeader(f, FourCC("bbbb"), &size, nullptr), KV_E_READ);
    riff_SeekDataStart(f);
    EXPECT_EQ(riff_FindListChunk(f, FourCC("INFO"), &size, nullptr), KV_E_READ);
    riff_SeekDataStart(f);
    DWORD count = 0;
    EXPECT_EQ(riff_GetNumListEntries(f, &count, nullptr), KV_E_READ);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(f.Pos(), 12u);
    DWORD removed = 5;
    hr = riff_DeleteChunk(f, FourCC("bbbb"), &removed, FALSE);
    EXPECT_TRUE(hr == KV_E_READ || hr == KV_E_NOTFOUND) << std::hex << hr;
    EXPECT_EQ(removed, 0u);
    EXPECT_EQ(f.Length(), b.b.size());
  }
}

TEST(RiffSearch, ListEntriesPastTheListsEndAreNotWalkedInto) {
  ScratchDir dir;
  Bytes b;
  // A list whose last entry claims more than the list holds, then a chunk
  // that belongs to the body, not to the list.
  b.Tag("RIFF").U32(0).Tag("WAVE").Tag("LIST").U32(4 + 10 + 12).Tag("INFO");
  b.Chunk("IAAA", 2, 'a').Tag("IBBB").U32(100).Fill(4, 'b');
  b.Chunk("afte", 8, 0).Chunk("more", 8, 0);
  b.FixRIFF();
  Handle f(MakeFile(dir, L"entries.wav", b.b));
  DWORD size = 0;
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
  ASSERT_EQ(size, 22u);
  DWORD count = 0, remaining = size;
  ASSERT_EQ(riff_GetNumListEntries(f, &count, &remaining), S_OK);
  EXPECT_EQ(count, 2u);
  remaining = size;
  EXPECT_EQ(riff_SeekListEntry(f, 2, &remaining), S_OK);
  EXPECT_EQ(remaining, 0u);
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
  remaining = size;
  EXPECT_EQ(riff_SeekListEntry(f, 3, &remaining), KV_E_NOTFOUND);
  // Index 0 is where the walk starts.
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
  uint64_t at = f.Pos();
  remaining = size;
  EXPECT_EQ(riff_SeekListEntry(f, 0, &remaining), S_OK);
  EXPECT_EQ(f.Pos(), at);
  EXPECT_EQ(remaining, size);
}

TEST(RiffSearch, ShortAndMissingHeaders) {
  ScratchDir dir;
  // A LIST too short for its type is stepped over; the list after it is found.
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Tag("LIST").U32(2).Fill(2, 0);
  b.Tag("LIST").U32(4 + 10).Tag("adtl").Chunk("labl", 2, 1);
  b.Tag("LIST").U32(4 + 10).Tag("INFO").Chunk("INAM", 2, 'x');
  b.FixRIFF();
  Handle f(MakeFile(dir, L"lists.wav", b.b));
  DWORD size = 0, type = 0;
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(f.Pos(), 12u + 10 + 22 + 12);
  f.SetPos(12);
  EXPECT_EQ(riff_ReadListHeader(f, &type, &size), KV_E_BADLENGTH);
  f.SetPos(22);
  ASSERT_EQ(riff_ReadListHeader(f, &type, &size), S_OK);
  EXPECT_EQ(type, FourCC("adtl"));
  EXPECT_EQ(size, 10u);
  f.SetPos(34);
  EXPECT_EQ(riff_ReadListHeader(f, &type, &size), KV_E_NOLIST);
  // The list type with fewer than 4 bytes counted after the LIST header.
  riff_SeekDataStart(f);
  DWORD remaining = 8 + 2 + 8 + 3;
  EXPECT_EQ(riff_FindListChunk(f, FourCC("adtl"), &size, &remaining), KV_E_NOTFOUND);
  // A list deleted by type.
  DWORD removed = 0;
  ASSERT_EQ(riff_DeleteChunk(f, FourCC("adtl"), &removed, TRUE), S_OK);
  EXPECT_EQ(removed, 22u);
  ASSERT_EQ(riff_FindListChunkFromStart(f, FourCC("INFO"), &size), S_OK);
  EXPECT_EQ(f.Pos(), 12u + 10 + 12);

  struct Case {
    std::vector<uint8_t> bytes;
    HRESULT hr;
  } files[] = {
      {Bytes().Tag("RIFX").U32(4).Tag("WAVE").b, KV_E_NORIFF},
      {Bytes().Tag("RIFF").U32(2).Tag("WAVE").b, KV_E_BADLENGTH},
      {Bytes().Tag("RIFF").U32(4).Fill(2, 0).b, KV_E_READ},
      {Bytes().Tag("RIF").b, KV_E_READ},
      {{}, KV_E_READ},
  };
  for (const Case& c : files) {
    SCOPED_TRACE(c.bytes.size());
    Handle g(MakeFile(dir, L"hdr.wav", c.bytes));
    DWORD content = 55, form = 0;
    EXPECT_EQ(riff_ReadFileID(g, &content, &form), c.hr);
    EXPECT_EQ(content, 0u);
    DWORD fsize = 9;
    EXPECT_EQ(riff_GetFileSize(g, &fsize), c.hr);
    EXPECT_EQ(fsize, 0u);
    EXPECT_EQ(riff_FindChunkHeaderInRIFF(g, FourCC("fmt "), &size, &remaining), c.hr);
    EXPECT_EQ(riff_DeleteChunk(g, FourCC("fmt "), &removed, FALSE), c.hr);
    EXPECT_EQ(g.Length(), c.bytes.size());
  }
}

TEST(RiffRead, DataReadsStayInsideTheirBuffersAndTheFile) {
  ScratchDir dir;
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Chunk("aaaa", 5, 0x33).Tag("bbbb").U32(1000000).Fill(10, 0x44);
  b.FixRIFF();
  Handle f(MakeFile(dir, L"data.wav", b.b));
  // A block larger than the rest of the file is refused before allocating.
  f.SetPos(12 + 14 + 8);
  KVRIFFDATA block = {1000000, reinterpret_cast<void*>(1)};
  EXPECT_EQ(riff_ReadDataAlloc(f, &block), KV_E_READ);
  EXPECT_EQ(block.data, nullptr);
  block.size = 0;
  EXPECT_EQ(riff_ReadDataAlloc(f, &block), S_OK);
  EXPECT_EQ(block.data, nullptr);
  // A bounded read copies no more than the buffer holds.
  f.SetPos(20);
  uint8_t buf[4] = {0, 0, 0, 0};
  ASSERT_EQ(riff_ReadDataBounded(f, buf, 3, 5), S_OK);
  EXPECT_EQ(buf[2], 0x33);
  EXPECT_EQ(buf[3], 0);
  EXPECT_EQ(f.Pos(), 26u);
  f.SetPos(20);
  ASSERT_EQ(riff_ReadDataBounded(f, buf, 4, 0), S_OK);
  EXPECT_EQ(f.Pos(), 20u);
  f.SetPos(34);
  uint8_t big[64];
  EXPECT_EQ(riff_ReadData(f, big, 64), KV_E_READ);

  // ANSI strings: an empty chunk, and a buffer of one character.
  wchar_t text[8] = {L'z', L'z', 0};
  DWORD n = 0;
  f.SetPos(20);
  ASSERT_EQ(riff_ReadANSIString(f, text, 8, &n), S_OK);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(f.Pos(), 20u);
  n = 5;
  text[0] = L'z';
  ASSERT_EQ(riff_ReadANSIString(f, text, 1, &n), S_OK);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(f.Pos(), 26u);
  n = 5;
  EXPECT_EQ(riff_ReadANSIString(f, text, 0, &n), E_INVALIDARG);
  EXPECT_EQ(riff_ReadANSIString(f, nullptr, 8, &n), E_INVALIDARG);
  EXPECT_EQ(riff_ReadANSIString(f, text, 8, nullptr), E_INVALIDARG);
}

TEST(RiffRead, ValidateChunkHeader) {
  EXPECT_EQ(riff_ValidateChunkHeader(FourCC("abcd"), -1), KV_E_BADLENGTH);
  EXPECT_EQ(riff_ValidateChunkHeader(FourCC("abcd"), static_cast<LONG>(0x80000000u)), KV_E_BADLENGTH);
  EXPECT_EQ(riff_ValidateChunkHeader(0, 0), KV_E_ZEROLENGTH);
  EXPECT_EQ(riff_ValidateChunkHeader(0, 1), S_OK);
  EXPECT_EQ(riff_ValidateChunkHeader(0, 0x7FFFFFFF), S_OK);
}

// ---- CD track files ----

TEST(RiffCda, TrackFilesAreRead) {
  SKIP_WITHOUT_FIXTURES();
  DWORD track = 0, first = 0, start = 0, length = 0, serial = 0;
  ASSERT_EQ(riff_ReadCDAFile(FixturePath("riff/track05.cda").c_str(), &track, &first, &start, &length, &serial), S_OK);
  EXPECT_EQ(track, 5u);
  EXPECT_EQ(first, 12345u);
  EXPECT_EQ(start, (2u * 60 + 3) * 75 + 4);
  EXPECT_EQ(length, 6789u);
  EXPECT_EQ(serial, 0x1234ABCDu);
  EXPECT_EQ(riff_ReadCDAFile(FixturePath("riff/track05.cda").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr),
            S_OK);

  Handle f(FixturePath("riff/track05.cda"), false);
  BYTE rec[24];
  ASSERT_EQ(riff_ReadRIFFCDDA(f, rec), S_OK);
  EXPECT_EQ(rec[0], 1);
  EXPECT_EQ(rec[22], 1);  // length minutes
  EXPECT_EQ(f.Pos(), 44u);
}

TEST(RiffCda, FailuresStillSetEveryOutput) {
  ScratchDir dir;
  Bytes fmt16;
  fmt16.Tag("RIFF").U32(0).Tag("CDDA").Chunk("fmt ", 16, 9);
  fmt16.FixRIFF();
  Bytes wave;
  wave.Tag("RIFF").U32(0).Tag("WAVE").Chunk("fmt ", 24, 9);
  wave.FixRIFF();
  Bytes nofmt;
  nofmt.Tag("RIFF").U32(0).Tag("CDDA").Chunk("data", 24, 9);
  nofmt.FixRIFF();
  struct Case {
    std::wstring path;
    HRESULT hr;
  } cases[] = {
      {dir.Path(L"missing.cda"), KV_E_OPEN},
      {MakeFile(dir, L"fmt16.cda", fmt16.b), KV_E_VERSION},
      {MakeFile(dir, L"wave.cda", wave.b), KV_E_CORRUPT},
      {MakeFile(dir, L"nofmt.cda", nofmt.b), KV_E_NOTFOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.path));
    DWORD v[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(riff_ReadCDAFile(c.path.c_str(), &v[0], &v[1], &v[2], &v[3], &v[4]), c.hr);
    for (DWORD x : v) EXPECT_EQ(x, 0u);
  }
  DWORD t = 7;
  EXPECT_EQ(riff_ReadCDAFile(nullptr, &t, nullptr, nullptr, nullptr, nullptr), KV_E_OPEN);
  EXPECT_EQ(t, 0u);
}

// Files made of an ffmpeg file's head with random header bytes changed
// (sizes above all): every walk ends, and a delete that succeeds removes
// exactly what it reports from both the file and the RIFF size.
TEST(RiffSearch, CorruptedHeadersAreWalkedSafely) {
  SKIP_WITHOUT_FIXTURES();
  std::vector<uint8_t> file = ReadAll(FixturePath("riff/ffmpeg_info.wav"));
  ASSERT_GT(file.size(), 200u);
  file.resize(200);
  ScratchDir dir;
  std::wstring path = dir.Path(L"corrupt.wav");
  uint32_t seed = 777;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int iter = 0; iter < 400; ++iter) {
    const uint32_t caseSeed = seed;
    std::vector<uint8_t> img = file;
    int edits = 1 + static_cast<int>(next() % 3);
    for (int e = 0; e < edits; ++e) {
      size_t at = (next() % 132) & ~static_cast<size_t>(3);
      const uint32_t sizes[] = {0, 1, 3, 7, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF7u, 0xFFFFFFFFu, next()};
      uint32_t v = sizes[next() % 9];
      for (int i = 0; i < 4; ++i) img[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    SCOPED_TRACE(testing::Message() << "case seed " << caseSeed);
    ASSERT_TRUE(WriteAll(path, img));
    Handle f(path);
    DWORD size = 0, remaining = 0, count = 0, fsize = 0;
    riff_GetFileSize(f, &fsize);
    riff_FindChunkHeaderInRIFF(f, FourCC("data"), &size, &remaining);
    riff_FindChunkHeaderInRIFF(f, FourCC("none"), &size, &remaining);
    if (SUCCEEDED(riff_FindListChunkFromStart(f, FourCC("INFO"), &size))) {
      uint64_t at = f.Pos();
      remaining = size;
      riff_GetNumListEntries(f, &count, &remaining);
      EXPECT_EQ(f.Pos(), at);
      riff_GetNumListEntries(f, &count, nullptr);
      riff_SeekListEntry(f, 3, nullptr);
    }
    riff_SeekDataStart(f);
    riff_FindChunkHeader(f, FourCC("none"), &size, nullptr);
    const uint32_t riffBefore = GetU32(img, 4);
    DWORD removed = 0;
    HRESULT hr = riff_DeleteChunk(f, FourCC("INFO"), &removed, TRUE);
    f.Close();
    std::vector<uint8_t> after = ReadAll(path);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(after.size(), img.size() - removed);
      EXPECT_EQ(GetU32(after, 4), riffBefore - removed);
    } else {
      EXPECT_EQ(removed, 0u);
      EXPECT_EQ(after.size(), img.size());
    }
    if (HasFailure()) break;
  }
}
