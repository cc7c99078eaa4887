// Metadata chunks in media files and sidecars: sidecar names, the "KVPI"
// match, the lifecycle of sidecars through the write and update entry
// points, the chunk frame's padding and RIFF size, the dispatcher's choice
// of kinds, and the deletion of stale chunks in RIFF, Wave64 and AIFF files
// that ffmpeg made.
#include <gtest/gtest.h>

#include "chunk_test_util.h"
#include "kvfmmeta.h"
#include "kviff.h"
#include "vog_tools.h"

using namespace chunktest;
using metariff::ScratchDir;
using rifftest::FixturePath;
using rifftest::ReadAll;

namespace {

const HRESULT kAbsent = static_cast<HRESULT>(0x8004E00A);

bool HaveMedia() { return rifftest::FixtureExists("metachunks/plain.wav"); }

std::wstring CopyMedia(ScratchDir& dir, const char* from, const std::wstring& to) {
  std::wstring p = dir.Path(to);
  CopyFileW(FixturePath(std::string("metachunks/") + from).c_str(), p.c_str(), FALSE);
  return p;
}

bool Exists(const std::wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

Buf Bmpi(size_t n) {
  Buf b;
  for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(0xA0 + i));
  return b;
}

TEST(FMMetaName, ReplacedAndAppendedNames) {
  struct Case {
    const wchar_t* path;
    BOOL append;
    long cch;
    HRESULT hr;
    const wchar_t* want;
  } cases[] = {
      {L"C:\\a\\song.wav", FALSE, 260, S_OK, L"C:\\a\\song.kvl"},
      {L"C:\\a\\song.wav", TRUE, 260, S_OK, L"C:\\a\\song.wav.kvl"},
      {L"C:\\a\\song", FALSE, 260, S_OK, L"C:\\a\\song.kvl"},
      {L"C:\\a\\song", TRUE, 260, S_OK, L"C:\\a\\song.kvl"},
      // A dot in a folder name is no extension of the file.
      {L"C:\\a.b\\song", FALSE, 260, S_OK, L"C:\\a.b\\song.kvl"},
      {L"C:\\a\\song.take2.wav", FALSE, 260, S_OK, L"C:\\a\\song.take2.kvl"},
      // Room: length + 4 + 1 characters.
      {L"C:\\a\\song.wav", TRUE, 18, S_OK, L"C:\\a\\song.wav.kvl"},
      {L"C:\\a\\song.wav", TRUE, 17, E_INVALIDARG, nullptr},
      {L"C:\\a\\song.wav", FALSE, 17, E_INVALIDARG, nullptr},
  };
  for (const Case& c : cases) {
    wchar_t out[260] = L"untouched";
    EXPECT_EQ(c.hr, KvFMMeta_CreateMetaName(c.path, out, c.cch, c.append)) << rifftest::Narrow(c.path);
    if (c.want) {
      EXPECT_STREQ(c.want, out);
    }
  }
  wchar_t out[8];
  EXPECT_TRUE(FAILED(KvFMMeta_CreateMetaName(nullptr, out, 8, TRUE)));
  EXPECT_TRUE(FAILED(KvFMMeta_CreateMetaName(L"x.wav", nullptr, 8, TRUE)));
}

TEST(FMMetaKinds, GuidsMapToTheirBits) {
  EXPECT_EQ(0x1u, KvFMMeta_KindFromGuid(KVFIO_METAGUID_SUMMARY));
  EXPECT_EQ(0x4u, KvFMMeta_KindFromGuid(KVFIO_METAGUID_MARKERS));
  EXPECT_EQ(0x100u, KvFMMeta_KindFromGuid(KVFIO_METAGUID_SAMPLER)) << "the sampler GUID is asked as 0x200 too";
  EXPECT_EQ(0x400000u, KvFMMeta_KindFromGuid(KVFIO_METAGUID_BMPM));
  EXPECT_EQ(0u, KvFMMeta_KindFromGuid(GUID_NULL));
  // Every kind with a GUID maps back to itself.
  for (DWORD bit = 1; bit; bit <<= 1) {
    const GUID* g = KvFMMeta_GuidFromKind(bit);
    if (g && bit != 0x200) {
      EXPECT_EQ(bit, KvFMMeta_KindFromGuid(*g)) << std::hex << bit;
    }
  }
}

TEST(FMMetaProbe, WriteFormSkipsEmptyKindsUpdateFormCountsThem) {
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(10)}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_TLST, {}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_SAMPLER, {Buf(36, 0)}));
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({});
  EXPECT_EQ(0x200000u, KvFMMeta_ProbeKinds(&meta, 0x200044 | 0x1, FALSE));
  EXPECT_EQ(0x200044u, KvFMMeta_ProbeKinds(&meta, 0x200044 | 0x1, TRUE));
  EXPECT_EQ(0x100u, KvFMMeta_ProbeKinds(&meta, 0x100, FALSE));
  EXPECT_EQ(0x200u, KvFMMeta_ProbeKinds(&meta, 0x300, FALSE)) << "asked as 0x200, the sampler is 0x200";
  EXPECT_EQ(0, meta.Leaked());
  EXPECT_EQ(1, meta.refs);
}

TEST(FMMetaFrame, OddPayloadIsPaddedAndCounted) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring wav = CopyMedia(dir, "plain.wav", L"frame.wav");
  Buf before = ReadAll(wav);
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(47)}));
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x200000, 0));
  Buf after = ReadAll(wav);
  ASSERT_EQ(before.size() + 56, after.size());
  EXPECT_EQ(GetU32(before, 4) + 56, GetU32(after, 4));
  EXPECT_TRUE(std::equal(before.begin() + 8, before.end(), after.begin() + 8)) << "the file before the chunk is untouched";
  size_t at = before.size();
  EXPECT_EQ(rifftest::FourCC("bmpi"), GetU32(after, at));
  EXPECT_EQ(48u, GetU32(after, at + 4)) << "the size field holds the padded size";
  EXPECT_TRUE(std::equal(after.begin() + at + 8, after.begin() + at + 55, Bmpi(47).begin()));
  EXPECT_EQ(0, after[at + 55]);

  // Written again: the old chunk goes first, one copy stays.
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x200000, 0));
  EXPECT_EQ(after, ReadAll(wav));
  // With keepChunks the old one stays and a second is appended.
  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x200000));
  EXPECT_EQ(2u, Named(Walk(ReadAll(wav)), "bmpi").size());
}

TEST(FMMetaFrame, Riff64ChunksAreAlignedAndCountTheirHeader) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring w64 = CopyMedia(dir, "plain.w64", L"frame.w64");
  Buf before = ReadAll(w64);
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(47)}));
  ASSERT_EQ(S_OK, KvFMMeta64_openAndWriteMetaStream(w64.c_str(), FALSE, 44100, &meta, 0x200000, 0));
  Buf after = ReadAll(w64);
  ASSERT_EQ(before.size() + 72, after.size()) << "24-byte header, 47 bytes padded to 48";
  auto chunks = WithGuid(Walk64(after), KVFIO_METAGUID_BMPI);
  ASSERT_EQ(1u, chunks.size());
  EXPECT_EQ(72u, chunks[0].size);
  EXPECT_EQ(after.size(), static_cast<size_t>(GetU32(after, 16)));
  // Deleted again by the 64-bit deletion.
  EXPECT_EQ(S_OK, KvFMMeta_DeleteMetaChunksEx(w64.c_str(), 0x200000, TRUE));
  EXPECT_EQ(before, ReadAll(w64));
}

TEST(FMMetaSidecar, WrittenFoundMatchedAndReplaced) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring wav = CopyMedia(dir, "plain.wav", L"song.wav");
  std::wstring appended = dir.Path(L"song.wav.kvl"), replaced = dir.Path(L"song.kvl");
  Buf media = ReadAll(wav);
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(20)}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_STR2, {Bmpi(5)}));

  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(wav.c_str(), TRUE, 44100, &meta, 0x204000));
  EXPECT_EQ(media, ReadAll(wav)) << "the media file is not touched";
  ASSERT_TRUE(Exists(appended));
  Buf side = ReadAll(appended);
  EXPECT_EQ(0, memcmp(side.data(), "RIFF", 4));
  EXPECT_EQ(0, memcmp(side.data() + 8, "KVPL", 4));
  EXPECT_EQ(side.size() - 8, GetU32(side, 4));
  auto cs = Walk(side);
  ASSERT_EQ(3u, cs.size());
  EXPECT_EQ("bmpi", cs[0].id);
  EXPECT_EQ("str2", cs[1].id);
  EXPECT_EQ("KVPI", cs.back().id);
  // "song.wav" and its zero: 9 bytes, padded to 10 in the size field.
  EXPECT_EQ(10u, cs.back().size);
  EXPECT_EQ(std::string("song.wav") + '\0' + '\0', std::string(cs.back().data.begin(), cs.back().data.end()));
  EXPECT_TRUE(KvFMMeta_IsMetaFile(wav.c_str(), appended.c_str()));
  EXPECT_FALSE(KvFMMeta_IsMetaFile(dir.Path(L"other.wav").c_str(), appended.c_str()));
  EXPECT_FALSE(KvFMMeta_IsMetaFile(wav.c_str(), wav.c_str())) << "a media file is no sidecar";
  wchar_t found[260];
  EXPECT_TRUE(KvFMMeta_FindMetaFile(wav.c_str(), found, 260));
  EXPECT_EQ(appended, std::wstring(found));

  // A sidecar of the replaced name that names another file stays; ours is
  // removed and made again.
  std::wstring other = dir.Path(L"other.wav");
  rifftest::WriteAll(other, media);
  ASSERT_EQ(S_OK, KvFMMeta_ChangeAttachedFilename(appended.c_str(), other.c_str()));
  ASSERT_TRUE(MoveFileW(appended.c_str(), replaced.c_str()));
  EXPECT_TRUE(KvFMMeta_IsMetaFile(other.c_str(), replaced.c_str()));
  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(wav.c_str(), TRUE, 44100, &meta, 0x200000));
  EXPECT_TRUE(Exists(replaced)) << "another media file's sidecar is not deleted";
  ASSERT_TRUE(Exists(appended));
  EXPECT_EQ(2u, Walk(ReadAll(appended)).size()) << "a new sidecar with bmpi and KVPI only";

  // A reader without any of the kinds: old sidecar removed, none made.
  StandInMeta empty;
  empty.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {}));
  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(wav.c_str(), TRUE, 44100, &empty, 0x200000));
  EXPECT_FALSE(Exists(appended));
  EXPECT_TRUE(Exists(replaced));

  // The 64-bit form deletes whatever has the appended name.
  ASSERT_EQ(S_OK, KvFMMeta_ChangeAttachedFilename(replaced.c_str(), other.c_str()));
  ASSERT_TRUE(CopyFileW(replaced.c_str(), appended.c_str(), FALSE));
  ASSERT_EQ(S_OK, KvFMMeta64_openAndWriteMetaStream(wav.c_str(), FALSE, 44100, &empty, 0, 0));
  EXPECT_FALSE(Exists(appended));
  EXPECT_EQ(0, meta.Leaked());
}

TEST(FMMetaSidecar, UpdateKeepsTheSidecarAndMovesKinds) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring wav = CopyMedia(dir, "plain.wav", L"move.wav");
  std::wstring side = dir.Path(L"move.wav.kvl");
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(9)}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_STR2, {Bmpi(3)}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_TLST, {}));

  // Both kinds into a new sidecar; then again: replaced, not doubled.
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStream2(wav.c_str(), 44100, &meta, 0, 0x204000));
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStream2(wav.c_str(), 44100, &meta, 0, 0x204000));
  auto cs = Walk(ReadAll(side));
  EXPECT_EQ(1u, Named(cs, "bmpi").size());
  EXPECT_EQ(1u, Named(cs, "str2").size());
  EXPECT_EQ(1u, Named(cs, "KVPI").size());

  // "bmpi" moves into the media file: gone from the sidecar.
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStream2(wav.c_str(), 44100, &meta, 0x200000, 0));
  cs = Walk(ReadAll(side));
  EXPECT_EQ(0u, Named(cs, "bmpi").size());
  EXPECT_EQ(1u, Named(cs, "str2").size());
  EXPECT_EQ(1u, Named(Walk(ReadAll(wav)), "bmpi").size());

  // An empty stream counts for the update form: the old "tlst" of the media
  // file goes, and nothing new is written.
  StandInMeta full;
  full.generic.push_back(Generic(KVFIO_METAGUID_TLST, {Bmpi(24)}));
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStreamEx(wav.c_str(), FALSE, 44100, &full, 0x40));
  EXPECT_EQ(1u, Named(Walk(ReadAll(wav)), "tlst").size());
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x40));
  EXPECT_EQ(0u, Named(Walk(ReadAll(wav)), "tlst").size());
  // The write form skips it: no sidecar for an empty kind, the update form
  // keeps one.
  std::wstring wav2 = CopyMedia(dir, "plain.wav", L"empty.wav");
  std::wstring side2 = dir.Path(L"empty.wav.kvl");
  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(wav2.c_str(), TRUE, 44100, &meta, 0x40));
  EXPECT_FALSE(Exists(side2));
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStreamEx(wav2.c_str(), TRUE, 44100, &meta, 0x40));
  ASSERT_TRUE(Exists(side2));
  EXPECT_EQ(1u, Walk(ReadAll(side2)).size()) << "only the KVPI chunk";
  EXPECT_EQ(0, full.Leaked());
  EXPECT_EQ(0, meta.Leaked());
}

TEST(FMMetaDelete, KindsByTableAiffOnlyForAiff) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring wav = CopyMedia(dir, "plain.wav", L"del.wav");
  Buf plain = ReadAll(wav);
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(9)}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_DTBT, {Bmpi(12), Bmpi(12)}));
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{10000000, 0, false, L""}});
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x210004, 0));
  EXPECT_EQ(S_OK, KvFMMeta_LookForMarkers(wav.c_str()));
  Buf written = ReadAll(wav);
  // 0x200 on a RIFF file removes nothing.
  EXPECT_EQ(S_OK, KvFMMeta_DeleteMetaChunksEx(wav.c_str(), 0x200, FALSE));
  EXPECT_EQ(written, ReadAll(wav));
  EXPECT_EQ(S_OK, KvFMMeta_DeleteMetaChunks(wav.c_str()));
  EXPECT_EQ(kAbsent, KvFMMeta_LookForMarkers(wav.c_str()));
  EXPECT_EQ(S_OK, KvFMMeta_DeleteMetaChunksEx(wav.c_str(), 0x210000, FALSE));
  EXPECT_EQ(plain, ReadAll(wav)) << "every chunk written is gone again";
  // Files that do not open.
  EXPECT_EQ(S_OK, KvFMMeta_DeleteMetaChunksEx(dir.Path(L"none.wav").c_str(), 0xFFFFFF, FALSE));
  EXPECT_EQ(kAbsent, KvFMMeta_LookForMarkers(dir.Path(L"none.wav").c_str()));
  EXPECT_TRUE(FAILED(KvFMMeta_openAndWriteMetaStreamEx(dir.Path(L"none.wav").c_str(), FALSE, 44100, &meta, 4, 0)));
  EXPECT_FALSE(Exists(dir.Path(L"none.wav"))) << "a missing media file is not created";
  EXPECT_EQ(E_FAIL, KvFMMeta_ChangeAttachedFilename(nullptr, wav.c_str()));
  EXPECT_EQ(0, meta.Leaked());
}

TEST(FMMetaDelete, AiffInstrumentAndMarkersReplaced) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring aiff = CopyMedia(dir, "plain.aiff", L"inst.aiff");
  Buf plain = ReadAll(aiff);
  Buf smpl(36, 0);
  smpl[12] = 60;
  smpl[28] = 1;
  Put32(smpl, 7);
  Put32(smpl, 0);
  Put64(smpl, 1000);
  Put64(smpl, 500);
  Put32(smpl, 0);
  Put32(smpl, 0);
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_SAMPLER, {smpl}));
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(aiff.c_str(), FALSE, 44100, &meta, 0x200, 0));
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(aiff.c_str(), FALSE, 44100, &meta, 0x200, 0));
  Buf written = ReadAll(aiff);
  EXPECT_EQ(plain.size() + 8 + 20 + 8 + 34, written.size()) << "one INST and one MARK after two writes";
  EXPECT_EQ(S_OK, KvFMMeta_DeleteMetaChunksEx(aiff.c_str(), 0x200, FALSE));
  EXPECT_EQ(plain, ReadAll(aiff));
}

}  // namespace

namespace {

TEST(FMMetaSidecar, OwnReplacedNameSidecarRemovedAndWave64Update) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring w64 = CopyMedia(dir, "plain.w64", L"take.w64");
  std::wstring replaced = dir.Path(L"take.kvl"), appended = dir.Path(L"take.w64.kvl");
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(9)}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_STR2, {Bmpi(3)}));
  // A sidecar under the replaced name that names this file is this file's.
  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(w64.c_str(), TRUE, 44100, &meta, 0x200000));
  ASSERT_TRUE(MoveFileW(appended.c_str(), replaced.c_str()));
  wchar_t found[260];
  EXPECT_TRUE(KvFMMeta_FindMetaFile(w64.c_str(), found, 260));
  EXPECT_EQ(replaced, std::wstring(found));
  // The 64-bit update finds it, moves "bmpi" into the Wave64 file and keeps
  // the sidecar a RIFF file.
  ASSERT_EQ(S_OK, KvFMMeta64_UpdateMetaStream(w64.c_str(), 44100, &meta, 0x200000, 0x4000));
  EXPECT_FALSE(Exists(appended));
  auto side = Walk(ReadAll(replaced));
  EXPECT_EQ(0u, Named(side, "bmpi").size());
  EXPECT_EQ(1u, Named(side, "str2").size());
  EXPECT_EQ(1u, WithGuid(Walk64(ReadAll(w64)), KVFIO_METAGUID_BMPI).size());
  // Written again through the RIFF form: the old sidecar of either name goes.
  ASSERT_EQ(S_OK, KvFMMeta_WriteMetaStreamEx(w64.c_str(), TRUE, 44100, &meta, 0x4000));
  EXPECT_FALSE(Exists(replaced));
  EXPECT_TRUE(Exists(appended));
  EXPECT_EQ(0, meta.Leaked());
}

TEST(FMMetaFiles, DamagedFilesGiveCleanErrors) {
  ScratchDir dir;
  using rifftest::Bytes;
  struct Case {
    const char* name;
    Buf bytes;
    bool deleteFails, writeFails;
  } cases[] = {
      {"empty file", Buf(), true, true},
      {"six bytes", Buf{'R', 'I', 'F', 'F', 4, 0}, true, true},
      {"not RIFF", Bytes().Tag("FORX").U32(4).Tag("WAVE").b, true, true},
      {"RIFF size past the end", Bytes().Tag("RIFF").U32(1000).Tag("WAVE").b, false, true},
      {"chunk size past the end", Bytes().Tag("RIFF").U32(20).Tag("WAVE").Tag("zzzz").U32(0xFFFFFFF0).Fill(4, 1).b,
       false, true},
      // The RIFF size is right; only the chunk inside is damaged.
      {"KVPI size past the end", Bytes().Tag("RIFF").U32(16).Tag("KVPL").Tag("KVPI").U32(0xFFFFFFF0).Tag("a.wa").b,
       false, false},
  };
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(9)}));
  for (const Case& c : cases) {
    std::wstring p = dir.Path(L"damaged.wav");
    rifftest::WriteAll(p, c.bytes);
    EXPECT_TRUE(FAILED(KvFMMeta64_openAndWriteMetaStream(p.c_str(), TRUE, 44100, &meta, 0x200000, 0))) << c.name;
    EXPECT_EQ(c.bytes, ReadAll(p)) << c.name << ": nothing written";
    HRESULT hr = KvFMMeta_openAndWriteMetaStreamEx(p.c_str(), TRUE, 44100, &meta, 0x200000, 0);
    if (c.writeFails) {
      EXPECT_TRUE(FAILED(hr)) << c.name;
      EXPECT_EQ(c.bytes, ReadAll(p)) << c.name << ": nothing written";
    }
    hr = KvFMMeta_DeleteMetaChunksEx(p.c_str(), 0xFFFFFF, FALSE);
    if (c.deleteFails) {
      EXPECT_TRUE(FAILED(hr)) << c.name;
    }
    EXPECT_FALSE(KvFMMeta_IsMetaFile(L"C:\\x\\a.wav", p.c_str())) << c.name;
    EXPECT_EQ(0x8004E00A, static_cast<DWORD>(KvFMMeta_LookForMarkers(p.c_str()))) << c.name;
  }
}

}  // namespace

namespace {

// A sidecar made by the project-link saver keeps the unpadded size 9 in its
// "KVPI" header; it is recognised all the same and takes metadata chunks.
TEST(FMMetaSidecar, ProjectLinkSidecarRecognised) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring wav = CopyMedia(dir, "plain.wav", L"song.wav");
  std::wstring side = dir.Path(L"song.wav.kvl");
  rifftest::Bytes b;
  b.Tag("RIFF").U32(0).Tag("KVPL").Tag("KVPI").U32(9).Tag("song").Tag(".wav").Fill(2, 0).Chunk("splv", 4, 1);
  b.FixRIFF();
  rifftest::WriteAll(side, b.b);
  EXPECT_TRUE(KvFMMeta_IsMetaFile(wav.c_str(), side.c_str()));
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Bmpi(9)}));
  ASSERT_EQ(S_OK, KvFMMeta_UpdateMetaStreamEx(wav.c_str(), TRUE, 44100, &meta, 0x200000));
  auto cs = Walk(ReadAll(side));
  ASSERT_EQ(3u, cs.size()) << "the link stays, the chunk is added";
  EXPECT_EQ("KVPI", cs[0].id);
  EXPECT_EQ("splv", cs[1].id);
  EXPECT_EQ("bmpi", cs[2].id);
  // Legacy markers need a sample rate.
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{10000000, 0, false, L""}});
  Buf before = ReadAll(wav);
  EXPECT_EQ(E_INVALIDARG, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 0, &meta, 0x4, 0));
  EXPECT_EQ(before, ReadAll(wav));
}

}  // namespace
