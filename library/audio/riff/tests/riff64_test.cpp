// 64-bit RIFF (Wave64) chunk I/O on real files under Wine: layouts byte by
// byte, searches and list walks, edits, hostile sizes, and Wave64 files made
// by ffmpeg and sox. Files written here for the external programs go to the
// fixture folder's "riff64/written" (checked afterwards by riff64_check.sh).
#include <windows.h>
#include <mmreg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kvriff.h"
#include "riff64_test_util.h"
#include "vog_tools.h"

namespace {

using namespace riff64test;

// {3F1E0A55-1A2B-4C3D-8E9F-0A1B2C3D4E5F}: a chunk id of the tests' own.
constexpr GUID kTestA = {0x3F1E0A55, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
constexpr GUID kTestB = {0x3F1E0A56, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
constexpr GUID kTestC = {0x3F1E0A57, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
constexpr GUID kTestD = {0x3F1E0A58, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
constexpr GUID kListX = {0x3F1E0A60, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};
constexpr GUID kListY = {0x3F1E0A61, 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}};

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring FixturePath(const std::string& name) { return FixtureIn("riff64", name); }

bool FixturesPresent() { return GetFileAttributesW(FixturePath("source.raw").c_str()) != INVALID_FILE_ATTRIBUTES; }

uint64_t U64At(const Bytes& b, size_t off) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b.at(off + i);
  return v;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(seed + 7 * i + 1);
  return d;
}

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

DWORD WINAPI RunCall(LPVOID p) {
  (*static_cast<std::function<void()>*>(p))();
  return 0;
}

// Runs a call that must end; a walk that loops forever fails the test
// instead of hanging the run.
void MustFinish(const char* what, std::function<void()> call) {
  HANDLE t = CreateThread(nullptr, 0, RunCall, &call, 0, nullptr);
  ASSERT_NE(t, nullptr);
  DWORD w = WaitForSingleObject(t, 10000);
  if (w != WAIT_OBJECT_0) {
    ADD_FAILURE() << what << " did not finish";
    TerminateProcess(GetCurrentProcess(), 3);
  }
  CloseHandle(t);
}

// ---------------------------------------------------------------------------
// Layouts of written chunks, byte for byte.

TEST(Riff64Write, ChunksCountTheHeaderAndPadToEight) {
  for (size_t n : {0u, 1u, 5u, 7u, 8u, 18u, 23u, 4099u}) {
    SCOPED_TRACE(n);
    TempFile f;
    Bytes data = Pattern(n, 3);
    uint64_t written = 99;
    ASSERT_EQ(riff64_WriteChunk(f.h(), kTestA, data.data(), n, &written), S_OK);
    Layout expect;
    expect.Chunk(kTestA, data);
    EXPECT_EQ(written, expect.b.size());
    EXPECT_EQ(f.Content(), expect.b);
    EXPECT_EQ(f.Pos(), expect.b.size());
  }
  // The case the format is known by: 18 bytes -> size field 42, 6 pad bytes, 48 written.
  TempFile f;
  Bytes data = Pattern(18, 9);
  uint64_t written = 0;
  ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_FMT, data.data(), 18, &written), S_OK);
  Bytes b = f.Content();
  ASSERT_EQ(b.size(), 48u);
  EXPECT_EQ(U64At(b, 16), 42u);
  EXPECT_EQ(written, 48u);
  EXPECT_EQ(Bytes(b.begin() + 42, b.end()), Bytes(6, 0));
}

TEST(Riff64Write, HeadersListsAndFileId) {
  TempFile f;
  ASSERT_EQ(riff64_WriteFileID(f.h(), KVRIFF64_WAVE, 1000), S_OK);
  ASSERT_EQ(riff64_WriteListHeader(f.h(), kListX, 56), S_OK);
  ASSERT_EQ(riff64_WriteChunkHeader(f.h(), kTestB, 3), S_OK);
  Layout e;
  e.Guid(KVRIFF64_RIFF).U64(1024).Guid(KVRIFF64_WAVE).Guid(KVRIFF64_LIST).U64(80).Guid(kListX).Guid(kTestB).U64(27);
  EXPECT_EQ(f.Content(), e.b);

  // WriteData pads what it writes; WriteToFile writes exactly.
  TempFile g;
  uint64_t written = 0;
  Bytes d = Pattern(11, 1);
  ASSERT_EQ(riff64_WriteData(g.h(), d.data(), 11, &written), S_OK);
  EXPECT_EQ(written, 16u);
  ASSERT_EQ(riff64_WriteToFile(g.h(), d.data(), 3), S_OK);
  Bytes expect = d;
  expect.resize(16, 0);
  expect.insert(expect.end(), d.begin(), d.begin() + 3);
  EXPECT_EQ(g.Content(), expect);
}

TEST(Riff64Write, PreparedChunksCountTheirPadding) {
  // 5 data bytes: size field 32 = 24 + 5 + 3 pad; the file stands at the end.
  TempFile f;
  Layout lead;
  lead.Fill(8, 0xEE);  // the chunk need not start at offset 0
  f.Put(lead.b);
  f.Seek(8);
  uint64_t start = 0;
  ASSERT_EQ(riff64_PrepareChunk(f.h(), kTestA, &start), S_OK);
  EXPECT_EQ(start, 8u);
  Bytes d = Pattern(5, 2);
  ASSERT_EQ(riff64_WriteToFile(f.h(), d.data(), 5), S_OK);
  EXPECT_EQ(riff64_AmountWritten(f.h(), start), 29u);
  ASSERT_EQ(riff64_CompleteChunk(f.h(), start), S_OK);
  EXPECT_EQ(f.Pos(), 40u);
  Bytes b = f.Content();
  ASSERT_EQ(b.size(), 40u);
  EXPECT_EQ(U64At(b, 24), 32u);
  EXPECT_EQ(Bytes(b.begin() + 37, b.end()), Bytes(3, 0));

  // The one-call form gives the same bytes.
  TempFile g;
  g.Put(lead.b);
  g.Seek(8);
  ASSERT_EQ(riff64_WriteChunkToFile(g.h(), kTestA, d.data(), 5), S_OK);
  EXPECT_EQ(g.Content(), b);

  // A prepared list: its size covers header, type and the chunks inside.
  TempFile l;
  ASSERT_EQ(riff64_PrepareList(l.h(), kListX, &start), S_OK);
  EXPECT_EQ(start, 0u);
  ASSERT_EQ(riff64_WriteChunk(l.h(), kTestB, d.data(), 5, nullptr), S_OK);
  ASSERT_EQ(riff64_CompleteChunk(l.h(), start), S_OK);
  Bytes lb = l.Content();
  ASSERT_EQ(lb.size(), 72u);
  EXPECT_EQ(U64At(lb, 16), 72u);
  EXPECT_TRUE(SameGuid(*reinterpret_cast<const GUID*>(lb.data() + 24), kListX));

  // Pad from an arbitrary start.
  TempFile p;
  p.Put(Bytes(13, 1));
  p.Seek(13);
  ASSERT_EQ(riff64_Pad(p.h(), 2), S_OK);  // 11 bytes since 2: 5 zeros to 16
  EXPECT_EQ(p.Length(), 18u);
}

TEST(Riff64Header, ValidateAndReadSizes) {
  struct {
    uint64_t size;
    HRESULT expect;
  } validate[] = {
      {12, KV_E_BADLENGTH},          {0x800000000ULL, KV_E_BADLENGTH}, {16, S_OK},
      {0, KV_E_ZEROLENGTH},          {0x800000008ULL, KV_E_BADLENGTH}, {0x1000000000ULL, S_OK},
      {0xFFFFFFF8ULL, S_OK},             {7, KV_E_BADLENGTH},
  };
  for (const auto& v : validate) EXPECT_EQ(riff64_ValidateChunkHeader(kTestA, v.size), v.expect) << v.size;

  // Size fields below 24, and fields that are negative as signed values, read as empty chunks.
  struct {
    uint64_t field, data;
  } reads[] = {{10, 0}, {0, 0}, {24, 0}, {25, 1}, {42, 18}, {0xFFFFFFFFFFFFFFFFULL, 0},
               {0x8000000000000018ULL, 0}, {0x8000000000000017ULL, 0x7FFFFFFFFFFFFFFFULL}, {0x7FFFFFFFFFFFFFFFULL, 0x7FFFFFFFFFFFFFE7ULL}};
  for (const auto& r : reads) {
    Layout l;
    l.Guid(kTestC).U64(r.field);
    TempFile f(l.b);
    GUID id{};
    uint64_t size = 1234;
    ASSERT_EQ(riff64_ReadChunkHeader(f.h(), &id, &size), S_OK);
    EXPECT_EQ(size, r.data) << r.field;
    EXPECT_TRUE(SameGuid(id, kTestC));
  }
  // A short header is a read failure.
  TempFile s(Bytes(23, 0));
  GUID id;
  uint64_t size;
  EXPECT_EQ(riff64_ReadChunkHeader(s.h(), &id, &size), KV_E_READ);

  // File ids: content size = file length - 40; other ids are refused.
  Bytes file = Layout::File(KVRIFF64_WAVE, Layout().Chunk(kTestA, Pattern(9, 1)).b);
  TempFile g(file);
  uint64_t content = 0;
  GUID form{};
  ASSERT_EQ(riff64_ReadFileID(g.h(), &content, &form), S_OK);
  EXPECT_EQ(content, file.size() - 40);
  EXPECT_TRUE(SameGuid(form, KVRIFF64_WAVE));
  EXPECT_EQ(g.Pos(), 40u);
  TempFile notRiff(Layout().Chunk(kTestA, Pattern(40, 1)).b);
  EXPECT_EQ(riff64_ReadFileID(notRiff.h(), &content, &form), KV_E_NORIFF);
  TempFile empty;
  EXPECT_EQ(riff64_ReadFileID(empty.h(), &content, &form), KV_E_NORIFF);
  EXPECT_EQ(content, 0u);

  // A list header: data size less the type.
  Layout lh;
  lh.Guid(KVRIFF64_LIST).U64(24 + 16 + 48).Guid(kListY);
  TempFile lf(lh.b);
  int64_t lsize = 0;
  GUID type{};
  ASSERT_EQ(riff64_ReadListHeader(lf.h(), &type, &lsize), S_OK);
  EXPECT_EQ(lsize, 48);
  EXPECT_TRUE(SameGuid(type, kListY));
  TempFile nl(Layout().Guid(kTestA).U64(64).Guid(kListY).b);
  EXPECT_EQ(riff64_ReadListHeader(nl.h(), &type, &lsize), KV_E_NOLIST);
}

TEST(Riff64Read, DataSkipsPaddingAndAllocatedBlocks) {
  Bytes a = Pattern(13, 4), b = Pattern(6, 8);
  Layout l;
  l.Chunk(kTestA, a).Chunk(kTestB, b);
  TempFile f(l.b);
  f.Seek(24);
  Bytes got(13);
  ASSERT_EQ(riff64_ReadData(f.h(), got.data(), 13), S_OK);
  EXPECT_EQ(got, a);
  EXPECT_EQ(f.Pos(), 40u);  // padding to 16 skipped
  // Bounded: a 4-byte buffer over the 6-byte chunk skips the rest and the pad.
  f.Seek(64);
  Bytes four(4);
  ASSERT_EQ(riff64_ReadDataBounded(f.h(), four.data(), 4, 6), S_OK);
  EXPECT_EQ(four, Bytes(b.begin(), b.begin() + 4));
  EXPECT_EQ(f.Pos(), 72u);
  // Bounded by a buffer larger than the chunk.
  f.Seek(24);
  Bytes big(100, 0xCC);
  ASSERT_EQ(riff64_ReadDataBounded(f.h(), big.data(), 100, 13), S_OK);
  EXPECT_EQ(Bytes(big.begin(), big.begin() + 13), a);
  EXPECT_EQ(big[13], 0xCC);
  EXPECT_EQ(f.Pos(), 40u);

  // Allocated: zero-filled movable global memory, locked, holding the data.
  f.Seek(24);
  KVRIFFDATA block{13, nullptr};
  ASSERT_EQ(riff64_ReadDataAlloc(f.h(), &block), S_OK);
  ASSERT_NE(block.data, nullptr);
  EXPECT_EQ(Bytes(static_cast<uint8_t*>(block.data), static_cast<uint8_t*>(block.data) + 13), a);
  HGLOBAL mem = GlobalHandle(block.data);
  ASSERT_NE(mem, nullptr);
  EXPECT_GE(GlobalSize(mem), 13u);
  GlobalUnlock(mem);
  EXPECT_EQ(GlobalFree(mem), nullptr);
  EXPECT_EQ(f.Pos(), 40u);

  KVRIFFDATA none{0, reinterpret_cast<void*>(1)};
  EXPECT_EQ(riff64_ReadDataAlloc(f.h(), &none), S_OK);
  EXPECT_EQ(none.data, nullptr);

  // A size from a corrupt header larger than the file: refused before allocating.
  f.Seek(64);
  KVRIFFDATA lie{0x7FFFFFF0, reinterpret_cast<void*>(1)};
  EXPECT_EQ(riff64_ReadDataAlloc(f.h(), &lie), KV_E_READ);
  EXPECT_EQ(lie.data, nullptr);
  // Reads that come up short.
  f.Seek(64);
  Bytes over(20);
  EXPECT_EQ(riff64_ReadData(f.h(), over.data(), 20), KV_E_READ);
  // A size past what one read can take is refused, not cut.
  EXPECT_EQ(riff64_ReadData(f.h(), over.data(), 0x100000000ULL + 4), E_INVALIDARG);
}

// A file of the tests' own: A(3), list X {B(10), C(0)}, D(16), list Y {A(1)}.
Bytes SampleFile() {
  Layout inner;
  inner.Chunk(kTestB, Pattern(10, 5)).Chunk(kTestC, {});
  Layout list;
  list.Guid(KVRIFF64_LIST).U64(24 + 16 + inner.b.size()).Guid(kListX).Raw(inner.b);
  Layout listY;
  Layout innerY;
  innerY.Chunk(kTestA, Pattern(1, 6));
  listY.Guid(KVRIFF64_LIST).U64(24 + 16 + innerY.b.size()).Guid(kListY).Raw(innerY.b);
  Layout body;
  body.Chunk(kTestA, Pattern(3, 1)).Raw(list.b).Chunk(kTestD, Pattern(16, 2)).Raw(listY.b);
  return Layout::File(KVRIFF64_WAVE, body.b);
}

TEST(Riff64Search, ChunksListsAndEntries) {
  Bytes file = SampleFile();
  TempFile f(file);
  // Offsets: A at 40 (32 bytes), list X at 72: header 24 + type 16 + B 40 + C 24 = 104, D at 176, list Y at 216.
  uint64_t size = 0;
  int64_t remaining = 0;
  ASSERT_EQ(riff64_FindChunkHeaderInRIFF(f.h(), kTestD, &size, &remaining), S_OK);
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(f.Pos(), 200u);
  EXPECT_EQ(remaining, static_cast<int64_t>(file.size() - 200));
  // Chunks inside lists are not seen by a walk of the body.
  EXPECT_EQ(riff64_FindChunkHeaderInRIFF(f.h(), kTestB, &size, &remaining), KV_E_NOTFOUND);
  // Fewer than 24 bytes left: not found, nothing read.
  f.Seek(40);
  remaining = 23;
  EXPECT_EQ(riff64_FindChunkHeader(f.h(), kTestA, &size, &remaining), KV_E_NOTFOUND);
  EXPECT_EQ(f.Pos(), 40u);
  EXPECT_EQ(remaining, 23);
  remaining = -5;
  EXPECT_EQ(riff64_FindChunkHeader(f.h(), kTestA, &size, &remaining), KV_E_NOTFOUND);
  EXPECT_EQ(f.Pos(), 40u);
  // Unbounded from the body start.
  f.Seek(40);
  ASSERT_EQ(riff64_FindChunkHeader(f.h(), kTestD, &size, nullptr), S_OK);
  EXPECT_EQ(f.Pos(), 200u);
  f.Seek(40);
  EXPECT_EQ(riff64_FindChunkHeader(f.h(), kTestB, &size, nullptr), KV_E_READ);  // runs into the end

  // Lists: the second list is found past the first, the size excludes the type.
  ASSERT_EQ(riff64_FindListChunkFromStart(f.h(), kListY, &size), S_OK);
  EXPECT_EQ(size, 32u);
  EXPECT_EQ(f.Pos(), 256u);
  ASSERT_EQ(riff64_FindListChunkFromStart(f.h(), kListX, &size), S_OK);
  EXPECT_EQ(size, 64u);
  EXPECT_EQ(f.Pos(), 112u);
  EXPECT_EQ(riff64_FindListChunkFromStart(f.h(), kTestA, &size), KV_E_NOTFOUND);
  f.Seek(40);
  remaining = static_cast<int64_t>(file.size() - 40);
  ASSERT_EQ(riff64_FindListChunk(f.h(), kListY, &size, &remaining), S_OK);
  EXPECT_EQ(remaining, 32);
  f.Seek(40);
  ASSERT_EQ(riff64_FindListChunk(f.h(), kListY, &size, nullptr), S_OK);
  EXPECT_EQ(f.Pos(), 256u);

  // Entries of list X: two chunks; counting leaves position and counter alone.
  f.Seek(112);
  remaining = 64;
  DWORD count = 0;
  ASSERT_EQ(riff64_GetNumListEntries(f.h(), &count, &remaining), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(f.Pos(), 112u);
  EXPECT_EQ(remaining, 64);
  // Unbounded: counts to the end of the file.
  f.Seek(40);
  ASSERT_EQ(riff64_GetNumListEntries(f.h(), &count, nullptr), S_OK);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(f.Pos(), 40u);
  // Seek to entry 1 (C) and read its header.
  remaining = 64;
  ASSERT_EQ(riff64_SeekListEntry(f.h(), 0, &remaining), S_OK);
  f.Seek(112);
  ASSERT_EQ(riff64_SeekListEntry(f.h(), 1, &remaining), S_OK);
  EXPECT_EQ(remaining, 24);
  GUID id;
  ASSERT_EQ(riff64_ReadChunkHeader(f.h(), &id, &size), S_OK);
  EXPECT_TRUE(SameGuid(id, kTestC));
  f.Seek(112);
  remaining = 64;
  EXPECT_EQ(riff64_SeekListEntry(f.h(), 3, &remaining), KV_E_NOTFOUND);

  // Positions.
  uint64_t pos = 0;
  f.Seek(77);
  ASSERT_EQ(riff64_SaveLocation(f.h(), &pos), S_OK);
  EXPECT_EQ(pos, 77u);
  ASSERT_EQ(riff64_SeekDataStart(f.h()), S_OK);
  EXPECT_EQ(f.Pos(), 40u);
  ASSERT_EQ(riff64_RestoreLocation(f.h(), 77), S_OK);
  EXPECT_EQ(f.Pos(), 77u);
  f.Seek(40);
  EXPECT_EQ(riff64_SkipChunk(f.h(), 13), 16u);
  EXPECT_EQ(f.Pos(), 56u);
  EXPECT_EQ(riff64_SkipChunk(f.h(), 16), 16u);
  EXPECT_EQ(f.Pos(), 72u);
}

TEST(Riff64Edit, SizeUpdatesAndDeletes) {
  Bytes file = SampleFile();
  TempFile f(file);
  f.Seek(100);
  ASSERT_EQ(riff64_UpdateRIFFSize(f.h(), -20), S_OK);
  EXPECT_EQ(U64At(f.Content(), 16), file.size() - 20);
  EXPECT_EQ(f.Pos(), 100u);
  ASSERT_EQ(riff64_SetRIFFSize(f.h(), 5000), S_OK);
  EXPECT_EQ(U64At(f.Content(), 16), 5024u);
  EXPECT_EQ(f.Pos(), 100u);
  ASSERT_EQ(riff64_SetRIFFSize(f.h(), file.size() - 24), S_OK);
  EXPECT_EQ(f.Content(), file);

  // Delete D (in the middle): the file shrinks by 24 + 16 and the riff size with it.
  uint64_t removed = 0;
  ASSERT_EQ(riff64_DeleteChunk(f.h(), kTestD, &removed), S_OK);
  EXPECT_EQ(removed, 40u);
  Bytes expect(file.begin(), file.begin() + 176);
  expect.insert(expect.end(), file.begin() + 216, file.end());
  for (int i = 0; i < 8; ++i) expect[16 + i] = static_cast<uint8_t>(static_cast<uint64_t>(expect.size()) >> (8 * i));
  EXPECT_EQ(f.Content(), expect);
  // Delete the first chunk, then one that is gone.
  ASSERT_EQ(riff64_DeleteChunk(f.h(), kTestA, &removed), S_OK);
  EXPECT_EQ(removed, 32u);
  EXPECT_EQ(f.Length(), expect.size() - 32);
  EXPECT_EQ(U64At(f.Content(), 16), expect.size() - 32);
  Bytes before = f.Content();
  EXPECT_EQ(riff64_DeleteChunk(f.h(), kTestD, &removed), KV_E_NOTFOUND);
  EXPECT_EQ(removed, 0u);
  EXPECT_EQ(f.Content(), before);
  // The last chunk: the file ends where it started.
  Bytes two = Layout::File(KVRIFF64_WAVE, Layout().Chunk(kTestA, Pattern(3, 1)).Chunk(kTestB, Pattern(9, 1)).b);
  TempFile g(two);
  ASSERT_EQ(riff64_DeleteChunk(g.h(), kTestB, &removed), S_OK);
  EXPECT_EQ(removed, 40u);
  EXPECT_EQ(g.Length(), 72u);
  EXPECT_EQ(U64At(g.Content(), 16), 72u);
  // A tail of exactly 4,096 bytes.
  Bytes tailed = Layout::File(KVRIFF64_WAVE, Layout().Chunk(kTestA, Pattern(3, 1)).Chunk(kTestB, Pattern(4072, 9)).b);
  TempFile t(tailed);
  ASSERT_EQ(riff64_DeleteChunk(t.h(), kTestA, &removed), S_OK);
  Bytes tailExpect = Layout::File(KVRIFF64_WAVE, Layout().Chunk(kTestB, Pattern(4072, 9)).b);
  EXPECT_EQ(t.Content(), tailExpect);
  // A chunk whose size runs past the end of the file is not cut: the file stays.
  Layout bad;
  bad.Chunk(kTestA, Pattern(8, 1)).Guid(kTestB).U64(24 + 1000).Raw(Pattern(16, 2));
  Bytes badFile = Layout::File(KVRIFF64_WAVE, bad.b);
  TempFile h(badFile);
  EXPECT_EQ(riff64_DeleteChunk(h.h(), kTestB, &removed), KV_E_CORRUPT);
  EXPECT_EQ(h.Content(), badFile);
  // Not a 64-bit RIFF file.
  TempFile n(Layout().Chunk(kTestA, Pattern(30, 1)).b);
  EXPECT_EQ(riff64_DeleteChunk(n.h(), kTestA, &removed), KV_E_NORIFF);
}

TEST(Riff64Edit, FailedSizeUpdateIsReported) {
  // A handle opened for reading only: nothing can be written, and the failure shows.
  Bytes file = SampleFile();
  TempFile f(file);
  wchar_t dir[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"r6r", 0, name);
  HANDLE w = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put = 0;
  WriteFile(w, file.data(), static_cast<DWORD>(file.size()), &put, nullptr);
  CloseHandle(w);
  HANDLE r = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(r, INVALID_HANDLE_VALUE);
  EXPECT_EQ(riff64_UpdateRIFFSize(r, 8), KV_E_WRITE);
  EXPECT_EQ(riff64_SetRIFFSize(r, 8), KV_E_WRITE);
  uint64_t removed = 0;
  EXPECT_NE(riff64_DeleteChunk(r, kTestD, &removed), S_OK);
  uint64_t written = 0;
  EXPECT_EQ(riff64_WriteChunk(r, kTestA, file.data(), 4, &written), KV_E_WRITE);
  CloseHandle(r);
  EXPECT_EQ(ReadWhole(name), file);
  DeleteFileW(name);
}

// ---------------------------------------------------------------------------
// Hostile sizes: every walk ends, whatever the size fields say.

TEST(Riff64Corrupt, WalksAlwaysEnd) {
  struct Case {
    const char* name;
    Bytes body;
  };
  auto header = [](const GUID& id, uint64_t field) { return Layout().Guid(id).U64(field).b; };
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  std::vector<Case> cases = {
      {"zero sizes", cat({header(kTestA, 0), header(kTestB, 0), header(kTestC, 0)})},
      {"sizes below the header", cat({header(kTestA, 10), header(kTestB, 23)})},
      {"size of all ones", cat({header(kTestA, ~0ULL), Pattern(64, 1)})},
      {"negative size", cat({header(kTestA, 0x8000000000000000ULL), Pattern(64, 1)})},
      {"huge positive size", cat({header(kTestA, 0x7FFFFFFFFFFFFFF0ULL), Pattern(64, 1)})},
      {"largest data size", cat({header(kTestA, 0x8000000000000017ULL), Pattern(64, 1)})},
      {"list shorter than its type", cat({header(KVRIFF64_LIST, 24), Pattern(16, 0), header(KVRIFF64_LIST, 30),
                                          Pattern(40, 0), header(kTestA, 24)})},
      {"list of size 0", cat({header(KVRIFF64_LIST, 0), Pattern(16, 0), header(KVRIFF64_LIST, 0), Pattern(16, 0)})},
      {"truncated header", cat({header(kTestA, 24), Bytes(10, 0)})},
  };
  for (uint64_t riffSize : {0ULL, 40ULL, 0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " riff size " + std::to_string(riffSize));
      Layout l;
      l.Guid(KVRIFF64_RIFF).U64(riffSize ? riffSize : 40 + c.body.size()).Guid(KVRIFF64_WAVE).Raw(c.body);
      TempFile f(l.b);
      MustFinish("walks", [&] {
        uint64_t size = 0;
        int64_t remaining = 0;
        EXPECT_NE(riff64_FindChunkHeaderInRIFF(f.h(), kTestD, &size, &remaining), S_OK);
        EXPECT_NE(riff64_FindListChunkFromStart(f.h(), kListX, &size), S_OK);
        f.Seek(40);
        EXPECT_NE(riff64_FindChunkHeader(f.h(), kTestD, &size, nullptr), S_OK);
        f.Seek(40);
        EXPECT_NE(riff64_FindListChunk(f.h(), kListX, &size, nullptr), S_OK);
        for (int64_t bound : {int64_t(0), int64_t(24), int64_t(1000), INT64_MAX}) {
          f.Seek(40);
          remaining = bound;
          EXPECT_NE(riff64_FindListChunk(f.h(), kListX, &size, &remaining), S_OK);
          f.Seek(40);
          remaining = bound;
          DWORD count = 0;
          riff64_GetNumListEntries(f.h(), &count, &remaining);
          EXPECT_LE(count, 8u);
          f.Seek(40);
          remaining = bound;
          riff64_SeekListEntry(f.h(), 1000, &remaining);
        }
        f.Seek(40);
        DWORD count = 0;
        riff64_GetNumListEntries(f.h(), &count, nullptr);
        EXPECT_LE(count, 8u);
        f.Seek(40);
        EXPECT_NE(riff64_SeekListEntry(f.h(), 1000, nullptr), S_OK);
        uint64_t removed = 0;
        Bytes before = f.Content();
        EXPECT_NE(riff64_DeleteChunk(f.h(), kTestD, &removed), S_OK);
        EXPECT_EQ(f.Content(), before);
        // Reading the data of a found chunk never goes past the file.
        f.Seek(40);
        if (riff64_FindChunkHeader(f.h(), kTestA, &size, nullptr) == S_OK) {
          KVRIFFDATA block{static_cast<DWORD>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size), nullptr};
          if (riff64_ReadDataAlloc(f.h(), &block) == S_OK && block.data) {
            HGLOBAL mem = GlobalHandle(block.data);
            GlobalUnlock(mem);
            GlobalFree(mem);
          }
        }
      });
    }
  }
}

// Positions past 4 GiB: a sparse file with a 5 GiB data chunk and a chunk
// behind it.
TEST(Riff64Large, PositionsPastFourGiB) {
  TempFile f;
  const uint64_t dataSize = 5ULL << 30;
  ASSERT_EQ(riff64_WriteFileID(f.h(), KVRIFF64_WAVE, 0), S_OK);
  ASSERT_EQ(riff64_WriteChunkHeader(f.h(), KVRIFF64_DATA, dataSize), S_OK);
  f.Seek(64 + dataSize);
  Bytes tail = Pattern(12, 7);
  uint64_t written = 0;
  ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_JUNK, tail.data(), tail.size(), &written), S_OK);
  ASSERT_EQ(riff64_SetRIFFSize(f.h(), f.Pos() - 24), S_OK);
  const uint64_t length = 64 + dataSize + 40;
  ASSERT_EQ(f.Length(), length);

  uint64_t size = 0;
  int64_t remaining = 0;
  ASSERT_EQ(riff64_FindChunkHeaderInRIFF(f.h(), KVRIFF64_JUNK, &size, &remaining), S_OK);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(remaining, 16);
  uint64_t pos = 0;
  ASSERT_EQ(riff64_SaveLocation(f.h(), &pos), S_OK);
  EXPECT_EQ(pos, 64 + dataSize + 24);
  Bytes got(12);
  ASSERT_EQ(riff64_ReadData(f.h(), got.data(), 12), S_OK);
  EXPECT_EQ(got, tail);
  EXPECT_EQ(f.Pos(), length);
  ASSERT_EQ(riff64_RestoreLocation(f.h(), pos), S_OK);
  EXPECT_EQ(f.Pos(), pos);
  ASSERT_EQ(riff64_FindChunkHeaderInRIFF(f.h(), KVRIFF64_DATA, &size, &remaining), S_OK);
  EXPECT_EQ(size, dataSize);
  ASSERT_EQ(riff64_UpdateRIFFSize(f.h(), 8), S_OK);
  Bytes head(24);
  f.Seek(0);
  DWORD n = 0;
  ReadFile(f.h(), head.data(), 24, &n, nullptr);
  EXPECT_EQ(U64At(head, 16), length + 8);
  // Deleting the chunk behind the data touches nothing before it.
  ASSERT_EQ(riff64_UpdateRIFFSize(f.h(), -8), S_OK);
  uint64_t removed = 0;
  ASSERT_EQ(riff64_DeleteChunk(f.h(), KVRIFF64_JUNK, &removed), S_OK);
  EXPECT_EQ(removed, 40u);
  EXPECT_EQ(f.Length(), 64 + dataSize);
  f.Seek(0);
  ReadFile(f.h(), head.data(), 24, &n, nullptr);
  EXPECT_EQ(U64At(head, 16), 64 + dataSize);
  // Two-step writing past 4 GiB.
  f.Seek(64 + dataSize);
  uint64_t start = 0;
  ASSERT_EQ(riff64_PrepareChunk(f.h(), kTestA, &start), S_OK);
  EXPECT_EQ(start, 64 + dataSize);
  ASSERT_EQ(riff64_WriteToFile(f.h(), tail.data(), 5), S_OK);
  ASSERT_EQ(riff64_CompleteChunk(f.h(), start), S_OK);
  EXPECT_EQ(f.Pos(), start + 32);
  f.Seek(start);
  GUID id;
  ASSERT_EQ(riff64_ReadChunkHeader(f.h(), &id, &size), S_OK);
  EXPECT_EQ(size, 8u);
}

TEST(Riff64Labels, ProduceNothing) {
  wchar_t label[8] = L"keep";
  EXPECT_EQ(riff64_getGUIDLabel(KVRIFF64_FMT, label, 8), S_OK);
  EXPECT_EQ(riff64_getGUIDLabelProperly(KVRIFF64_DATA, label, 8), S_OK);
  EXPECT_STREQ(label, L"keep");
}

// ---------------------------------------------------------------------------
// Wave64 files of ffmpeg and sox, and files of our own for them to read.

class Riff64Files : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FixturesPresent()) VOG_TOOL_MISSING("ffmpeg/sox") << "Wave64 fixtures absent";
    pcm_ = ReadWhole(FixturePath("source.raw"));
    ASSERT_EQ(pcm_.size(), 40024u);
  }
  static WAVEFORMATEX Format() {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = 2;
    w.nSamplesPerSec = 44100;
    w.wBitsPerSample = 16;
    w.nBlockAlign = 4;
    w.nAvgBytesPerSec = 44100 * 4;
    w.cbSize = 0;
    return w;
  }
  // Writes a file into the shared folder for the shell check.
  static void Keep(const std::string& name, const Bytes& content) {
    std::wstring p = FixturePath("written/" + name);
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &put, nullptr);
    CloseHandle(h);
    ASSERT_EQ(put, content.size());
  }
  Bytes pcm_;
};

TEST_F(Riff64Files, ReadsWhatFfmpegAndSoxWrite) {
  for (const char* name : {"ffmpeg.w64", "sox.w64"}) {
    SCOPED_TRACE(name);
    Bytes file = ReadWhole(FixturePath(name));
    TempFile f(file);
    uint64_t content = 0;
    GUID form{};
    ASSERT_EQ(riff64_ReadFileID(f.h(), &content, &form), S_OK);
    EXPECT_TRUE(SameGuid(form, KVRIFF64_WAVE));
    EXPECT_EQ(content, file.size() - 40);
    uint64_t size = 0;
    int64_t remaining = 0;
    ASSERT_EQ(riff64_FindChunkHeaderInRIFF(f.h(), KVRIFF64_FMT, &size, &remaining), S_OK);
    ASSERT_GE(size, 16u);
    WAVEFORMATEX w{};
    ASSERT_EQ(riff64_ReadDataBounded(f.h(), &w, sizeof(w), static_cast<DWORD>(size)), S_OK);
    EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(w.nChannels, 2);
    EXPECT_EQ(w.nSamplesPerSec, 44100u);
    EXPECT_EQ(w.wBitsPerSample, 16);
    EXPECT_EQ(w.nBlockAlign, 4);
    // data follows within what is left of the body.
    remaining -= static_cast<int64_t>((size + 7) & ~7ULL);
    ASSERT_EQ(riff64_FindChunkHeader(f.h(), KVRIFF64_DATA, &size, &remaining), S_OK);
    EXPECT_EQ(size, pcm_.size());
    KVRIFFDATA block{static_cast<DWORD>(size), nullptr};
    ASSERT_EQ(riff64_ReadDataAlloc(f.h(), &block), S_OK);
    EXPECT_TRUE(memcmp(block.data, pcm_.data(), pcm_.size()) == 0);
    HGLOBAL mem = GlobalHandle(block.data);
    GlobalUnlock(mem);
    GlobalFree(mem);
    DWORD count = 0;
    ASSERT_EQ(riff64_SeekDataStart(f.h()), S_OK);
    remaining = static_cast<int64_t>(content);
    ASSERT_EQ(riff64_GetNumListEntries(f.h(), &count, &remaining), S_OK);
    EXPECT_GE(count, 2u);
  }
}

TEST_F(Riff64Files, WritesFilesOthersDecode) {
  WAVEFORMATEX w = Format();
  // From scratch: header, fmt from the WAVEFORMATEX (18 bytes), data through
  // prepare/complete (40,024 bytes: no padding to count), then the riff size.
  {
    TempFile f;
    ASSERT_EQ(riff64_WriteFileID(f.h(), KVRIFF64_WAVE, 0), S_OK);
    uint64_t written = 0;
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_FMT, &w, sizeof(WAVEFORMATEX), &written), S_OK);
    EXPECT_EQ(written, 48u);
    uint64_t start = 0;
    ASSERT_EQ(riff64_PrepareChunk(f.h(), KVRIFF64_DATA, &start), S_OK);
    ASSERT_EQ(riff64_WriteData(f.h(), pcm_.data(), pcm_.size(), &written), S_OK);
    ASSERT_EQ(riff64_CompleteChunk(f.h(), start), S_OK);
    ASSERT_EQ(riff64_SetRIFFSize(f.h(), f.Pos() - 24), S_OK);
    Bytes b = f.Content();
    EXPECT_EQ(b.size(), 40u + 48u + 24u + pcm_.size());
    Keep("scratch.w64", b);
  }
  // One frame short of that: the data chunk is written with its exact size and
  // 4 bytes of padding that the size does not count.
  {
    TempFile f;
    ASSERT_EQ(riff64_WriteFileID(f.h(), KVRIFF64_WAVE, 0), S_OK);
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_FMT, &w, sizeof(WAVEFORMATEX), nullptr), S_OK);
    uint64_t written = 0;
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_DATA, pcm_.data(), pcm_.size() - 4, &written), S_OK);
    EXPECT_EQ(written, 24u + pcm_.size());
    ASSERT_EQ(riff64_UpdateRIFFSize(f.h(), static_cast<int64_t>(f.Pos()) - 24), S_OK);
    Keep("short.w64", f.Content());
  }
  // With junk chunks before and after the data, then both deleted again.
  {
    TempFile f;
    ASSERT_EQ(riff64_WriteFileID(f.h(), KVRIFF64_WAVE, 0), S_OK);
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_FMT, &w, sizeof(WAVEFORMATEX), nullptr), S_OK);
    Bytes junk = Pattern(101, 0x40);
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_JUNK, junk.data(), junk.size(), nullptr), S_OK);
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_DATA, pcm_.data(), pcm_.size(), nullptr), S_OK);
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_JUNK, junk.data(), 13, nullptr), S_OK);
    ASSERT_EQ(riff64_SetRIFFSize(f.h(), f.Pos() - 24), S_OK);
    Keep("junk.w64", f.Content());
    uint64_t removed = 0;
    ASSERT_EQ(riff64_DeleteChunk(f.h(), KVRIFF64_JUNK, &removed), S_OK);
    EXPECT_EQ(removed, 24u + 104u);
    ASSERT_EQ(riff64_DeleteChunk(f.h(), KVRIFF64_JUNK, &removed), S_OK);
    EXPECT_EQ(removed, 24u + 16u);
    EXPECT_EQ(riff64_DeleteChunk(f.h(), KVRIFF64_JUNK, &removed), KV_E_NOTFOUND);
    Bytes b = f.Content();
    EXPECT_EQ(b.size(), 40u + 48u + 24u + pcm_.size());
    Keep("junk_deleted.w64", b);
  }
  // ffmpeg's file with a junk chunk appended and deleted again is ffmpeg's file.
  {
    Bytes original = ReadWhole(FixturePath("ffmpeg.w64"));
    TempFile f(original);
    f.Seek(f.Length());
    uint64_t written = 0;
    ASSERT_EQ(riff64_WriteChunk(f.h(), KVRIFF64_JUNK, pcm_.data(), 5000, &written), S_OK);
    ASSERT_EQ(riff64_UpdateRIFFSize(f.h(), static_cast<int64_t>(written)), S_OK);
    Keep("ffmpeg_junk.w64", f.Content());
    uint64_t removed = 0;
    ASSERT_EQ(riff64_DeleteChunk(f.h(), KVRIFF64_JUNK, &removed), S_OK);
    EXPECT_EQ(removed, written);
    EXPECT_EQ(f.Content(), original);
  }
}

}  // namespace
