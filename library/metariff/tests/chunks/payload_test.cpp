// Chunk payloads kind by kind, checked byte for byte against layouts built
// here from the reader's items, and files left for the independent readers
// (exiftool, ffprobe, sox, mediainfo and a Python walk in chunk_oracles.sh):
// markers and regions, the summary list, sampler, play list, private
// records, raw chunks, display lists, the AIFF instrument and the 64-bit
// forms. Malformed reader streams give 0x8004E008 and leave the file as it was.
#include <gtest/gtest.h>

#include <array>

#include "chunk_test_util.h"
#include "kvfmmeta.h"
#include "vog_tools.h"

using namespace chunktest;
using metariff::ScratchDir;
using rifftest::FixturePath;
using rifftest::ReadAll;

namespace {

const HRESULT kShort = static_cast<HRESULT>(0x8004E008);
const uint64_t kSecond = 10000000;  // 100-ns units

bool HaveMedia() { return rifftest::FixtureExists("metachunks/plain.wav"); }

std::wstring CopyMedia(ScratchDir& dir, const char* from, const std::wstring& to) {
  std::wstring p = dir.Path(to);
  CopyFileW(FixturePath(std::string("metachunks/") + from).c_str(), p.c_str(), FALSE);
  return p;
}

// A file for the oracle script, in the folder of written files.
std::wstring Written(const char* from, const char* to) {
  std::wstring p = FixturePath(std::string("metachunks/written/") + to);
  CopyFileW(FixturePath(std::string("metachunks/") + from).c_str(), p.c_str(), FALSE);
  return p;
}

// The chunks appended to a fresh copy of plain.wav by writing kinds.
std::vector<Chunk> WriteInto(ScratchDir& dir, StandInMeta& meta, DWORD kinds, HRESULT* hr = nullptr) {
  std::wstring wav = CopyMedia(dir, "plain.wav", L"p.wav");
  Buf plain = ReadAll(wav);
  HRESULT r = KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, kinds, 0);
  if (hr) *hr = r;
  else EXPECT_EQ(S_OK, r);
  Buf after = ReadAll(wav);
  EXPECT_EQ(after.size() - 8, GetU32(after, 4)) << "the RIFF size covers the file";
  std::vector<Chunk> all = Walk(after), added;
  for (const Chunk& c : all)
    if (c.offset >= plain.size()) added.push_back(c);
  return added;
}

Buf Bytes(std::initializer_list<uint32_t> words) {
  Buf b;
  for (uint32_t w : words) Put32(b, w);
  return b;
}

Buf Text(const std::string& s) { return Buf(s.begin(), s.end()); }

Buf Cue(uint32_t id, uint32_t pos) {
  Buf b = Bytes({id, pos});
  Append(b, Text("data"));
  Append(b, Bytes({0, 0, pos}));
  return b;
}

TEST(MarkerPayload, PointMarkersWithoutTextWriteOnlyCue) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  StandInMeta meta;
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{kSecond, 0, false, L""}, {2 * kSecond, 0, false, L""}, {kSecond / 2, 0, false, L""}});
  auto cs = WriteInto(dir, meta, 0x4);
  ASSERT_EQ(1u, cs.size());
  EXPECT_EQ("cue ", cs[0].id);
  Buf want = Bytes({3});
  Append(want, Cue(1, 44100));
  Append(want, Cue(2, 88200));
  Append(want, Cue(3, 22050));
  EXPECT_EQ(want, cs[0].data);
}

TEST(MarkerPayload, RegionsAndLabelsInAdtl) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  StandInMeta meta;
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{kSecond, kSecond / 2, true, L"Verse"}, {2 * kSecond, 0, false, L"abcd"}});
  auto cs = WriteInto(dir, meta, 0x4);
  ASSERT_EQ(2u, cs.size());
  Buf cue = Bytes({2});
  Append(cue, Cue(1, 44100));
  Append(cue, Cue(2, 88200));
  EXPECT_EQ(cue, cs[0].data);
  EXPECT_EQ("LIST", cs[1].id);
  Buf adtl = Text("adtl");
  Append(adtl, Text("ltxt"));
  Append(adtl, Bytes({20, 1, 22050}));
  Append(adtl, Text("rgn "));
  Append(adtl, Buf(8, 0));
  Append(adtl, Text("labl"));
  Append(adtl, Bytes({10, 1}));
  Append(adtl, Text(std::string("Verse") + '\0'));
  Append(adtl, Text("labl"));
  Append(adtl, Bytes({9, 2}));
  Append(adtl, Text(std::string("abcd") + '\0' + '\0'));  // size 9, then the pad byte
  EXPECT_EQ(adtl, cs[1].data);
  EXPECT_EQ(adtl.size(), cs[1].size) << "the list counts the pad byte";
}

TEST(MarkerPayload, GenericStreamWinsAndLongPositionsGoToKv01) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  StandInMeta meta;
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{kSecond, 0, false, L"legacy"}});
  meta.generic.push_back(Generic(KVFIO_METAGUID_MARKERS, {MarkerItem(7, 1000, 0, L""),
                                                          MarkerItem(8, 0x100000000ull, 5, L"far"),
                                                          MarkerItem(9, 3000, 400, L"")}));
  auto cs = WriteInto(dir, meta, 0x4);
  ASSERT_EQ(3u, cs.size());
  EXPECT_EQ("cue ", cs[0].id);
  Buf cue = Bytes({2});
  Append(cue, Cue(7, 1000));
  Append(cue, Cue(9, 3000));
  EXPECT_EQ(cue, cs[0].data) << "the count is that of the points written";
  EXPECT_EQ("kv01", cs[1].id);
  Buf kv01 = Bytes({3});
  auto entry = [&](uint32_t id, uint64_t pos, uint64_t len, const std::wstring& t) {
    Append(kv01, Bytes({id, 0}));
    Put64(kv01, pos);
    Put64(kv01, len);
    Append(kv01, Bytes({static_cast<uint32_t>((t.size() + 1) * 2), 0}));
    PutWide(kv01, t);
  };
  entry(7, 1000, 0, L"");
  entry(8, 0x100000000ull, 5, L"far");
  entry(9, 3000, 400, L"");
  EXPECT_EQ(kv01, cs[1].data);
  EXPECT_EQ("LIST", cs[2].id);
  Buf adtl = Text("adtl");
  Append(adtl, Text("ltxt"));
  Append(adtl, Bytes({20, 9, 400}));
  Append(adtl, Text("rgn "));
  Append(adtl, Buf(8, 0));
  EXPECT_EQ(adtl, cs[2].data) << "only the generic stream, and only the points in cue";
  EXPECT_EQ(0, meta.Leaked());
}

TEST(PlayListPayload, LongLengthsOnlyInKv02) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  auto item = [](uint32_t cue, uint64_t len, uint32_t loops) {
    Buf b = Bytes({cue, 0});
    Put64(b, len);
    Append(b, Bytes({loops, 0}));
    return b;
  };
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_PLAYLIST, {item(1, 500, 2), item(2, 0x123456789ull, 1)}));
  auto cs = WriteInto(dir, meta, 0x20);
  ASSERT_EQ(2u, cs.size());
  EXPECT_EQ(Bytes({1, 1, 500, 2}), cs[0].data);
  EXPECT_EQ("kv02", cs[1].id);
  Buf kv02 = Bytes({2});
  Append(kv02, item(1, 500, 2));
  Append(kv02, item(2, 0x123456789ull, 1));
  EXPECT_EQ(kv02, cs[1].data);
}

Buf SamplerItem(uint8_t unityNote, const std::vector<std::array<uint64_t, 3>>& loops, const Buf& extra) {
  Buf b = Bytes({0, 0, 22675, unityNote, 0, 0, 0, static_cast<uint32_t>(loops.size()),
                 static_cast<uint32_t>(extra.size())});
  uint32_t id = 1;
  for (const auto& l : loops) {
    Append(b, Bytes({id++, static_cast<uint32_t>(l[2])}));
    Put64(b, l[0]);
    Put64(b, l[1]);
    Append(b, Bytes({0, 0}));
  }
  Append(b, extra);
  return b;
}

TEST(SamplerPayload, LoopsAsStartAndEnd) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_SAMPLER,
                                 {SamplerItem(60, {{1000, 1000, 0}, {0x100000000ull, 10, 0}, {50, 0, 1}},
                                              Text("xyz1"))}));
  auto cs = WriteInto(dir, meta, 0x100);
  ASSERT_EQ(1u, cs.size());
  EXPECT_EQ("smpl", cs[0].id);
  Buf want = Bytes({0, 0, 22675, 60, 0, 0, 0, 2, 4});
  Append(want, Bytes({1, 0, 1000, 1999, 0, 0}));
  Append(want, Bytes({3, 1, 50, 50, 0, 0}));  // length 0 ends where it starts
  Append(want, Text("xyz1"));
  EXPECT_EQ(want, cs[0].data) << "loop count = loops written";
}

TEST(PrivatePayloads, RecordsListsAndEntries) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  Buf scot(430, 0x5C), dtbt1(12, 1), dtbt2(12, 2);
  Buf kv03a = Bytes({8, 4, 0xAABBCCDD});
  Buf kv03b = Bytes({12, 0, 7});
  Append(kv03b, Buf(3, 9));  // longer than head + data: cut
  // kv04: the 62-byte fixed part, then the two parts.
  Buf kv04 = Bytes({99, 11, 12, 13, 14, 15, 0xFF});
  PutWide(kv04, L"name", false);
  kv04.resize(52, 0);
  kv04.push_back(0xEE);
  kv04.push_back(0xEE);
  Append(kv04, Bytes({3, 4}));
  Append(kv04, Text("abcWXYZ"));
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_SCOT, {scot}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_DTBT, {dtbt1, dtbt2}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_KV03, {kv03a, kv03b}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_KV04, {kv04}));
  meta.generic.push_back(Generic(KVFIO_METAGUID_STR2, {Buf(25, 0x22)}));
  auto cs = WriteInto(dir, meta, 0x134010);
  ASSERT_EQ(5u, cs.size());
  EXPECT_EQ("scot", cs[0].id);
  EXPECT_EQ(Buf(424, 0x5C), cs[0].data);
  Buf dtbt = Bytes({2});
  Append(dtbt, dtbt1);
  Append(dtbt, dtbt2);
  EXPECT_EQ(dtbt, cs[1].data);
  Buf kv03 = Bytes({2});
  Append(kv03, kv03a);
  Append(kv03, Bytes({12, 0, 7}));
  EXPECT_EQ(kv03, cs[2].data);
  Buf kv04w = Bytes({1, 11, 0, 12, 13, 14, 15, 7});
  PutWide(kv04w, L"name", false);
  kv04w.resize(4 + 52, 0);
  Append(kv04w, Bytes({0, 3, 4}));
  Append(kv04w, Text("abcWXYZ"));
  kv04w.push_back(0);  // the frame's pad byte, counted in the size field
  EXPECT_EQ("kv04", cs[3].id);
  EXPECT_EQ(kv04w, cs[3].data);
  EXPECT_EQ(Buf(20, 0x22), cs[4].data) << "str2: one record of at most 20 bytes";
}

TEST(RawPayload, ChunksCopiedPaddedAndAudioRefused) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  Buf odd = Text("abcd");
  Append(odd, Bytes({5}));
  Append(odd, Text("hello"));
  Buf even = Text("wxyz");
  Append(even, Bytes({2}));
  Append(even, Text("ok"));
  Buf data = Text("data");
  Append(data, Bytes({2}));
  Append(data, Text("no"));
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_RAW, {odd, data, even}));
  std::wstring wav = CopyMedia(dir, "plain.wav", L"raw.wav");
  Buf plain = ReadAll(wav);
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x400, 0));
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &meta, 0x400, 0));
  Buf after = ReadAll(wav);
  ASSERT_EQ(plain.size() + 14 + 10, after.size()) << "the odd chunk gains its pad byte; rewritten, not doubled";
  auto cs = Walk(after);
  EXPECT_EQ(1u, Named(cs, "data").size()) << "the audio is never a raw chunk";
  ASSERT_EQ(1u, Named(cs, "abcd").size());
  EXPECT_EQ(Text("hello"), Named(cs, "abcd")[0].data);
  ASSERT_EQ(1u, Named(cs, "wxyz").size());
  EXPECT_EQ(0u, Named(cs, "wxyz")[0].offset % 2);
}

TEST(SummaryPayload, GenericAndLegacyAsInfoList) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_SUMMARY, {SummaryItem("INAM", L"Gen"), SummaryItem("INAM", L"x"),
                                                          SummaryItem("ICMT", L"abc")}));
  meta.hasSummary = true;
  meta.summary = LegacySummary({SummaryItem("IART", L"legacy")});
  auto cs = WriteInto(dir, meta, 0x1);
  ASSERT_EQ(1u, cs.size()) << "the legacy stream is not written after the generic one";
  Buf want = Text("INFO");
  Append(want, Text("INAM"));
  Append(want, Bytes({4}));
  Append(want, Text(std::string("Gen") + '\0'));
  Append(want, Text("ICMT"));
  Append(want, Bytes({4}));
  Append(want, Text(std::string("abc") + '\0'));
  EXPECT_EQ(want, cs[0].data);

  StandInMeta legacy;
  legacy.hasSummary = true;
  legacy.summary = LegacySummary({SummaryItem("IART", L"legacy")});
  cs = WriteInto(dir, legacy, 0x1);
  ASSERT_EQ(1u, cs.size());
  want = Text("INFO");
  Append(want, Text("IART"));
  Append(want, Bytes({7}));
  Append(want, Text(std::string("legacy") + '\0' + '\0'));
  EXPECT_EQ(want, cs[0].data);
}

TEST(DisplayPayload, ItemsAsDispChunks) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  Buf rec = Bytes({1, 1, 6});
  Append(rec, Text(std::string("hello") + '\0'));
  StandInMeta meta;
  meta.generic.push_back(Generic(KVFIO_METAGUID_DISPLAY, {rec}));
  auto cs = WriteInto(dir, meta, 0x80);
  ASSERT_EQ(1u, cs.size());
  EXPECT_EQ("DISP", cs[0].id);
  Buf want = Bytes({1});
  Append(want, Text(std::string("hello") + '\0'));
  EXPECT_EQ(want, cs[0].data);

  // Two items (text and picture) make two "DISP" chunks; written again, both
  // old ones go.
  Buf two = Bytes({2, 1, 3});
  Append(two, Text("ab"));
  two.push_back(0);
  Append(two, Bytes({8, 5}));
  Append(two, Text("DIBxy"));
  StandInMeta both;
  both.generic.push_back(Generic(KVFIO_METAGUID_DISPLAY, {two}));
  std::wstring wav = CopyMedia(dir, "plain.wav", L"disp.wav");
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &both, 0x80, 0));
  ASSERT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), FALSE, 44100, &both, 0x80, 0));
  auto disp = Named(Walk(ReadAll(wav)), "DISP");
  ASSERT_EQ(2u, disp.size());
  EXPECT_EQ(1u, GetU32(disp[0].data, 0));
  EXPECT_EQ(8u, GetU32(disp[1].data, 0));
}

TEST(Riff64Payload, KindsUnderTheirGuids) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  std::wstring w64 = CopyMedia(dir, "plain.w64", L"k.w64");
  Buf plain = ReadAll(w64);
  StandInMeta meta;
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{kSecond, kSecond / 2, true, L"Verse"}});
  meta.hasSummary = true;
  meta.summary = LegacySummary({SummaryItem("INAM", L"Wide")});
  Buf odd = Text("abcd");
  Append(odd, Bytes({1}));
  odd.push_back('z');
  meta.generic.push_back(Generic(KVFIO_METAGUID_RAW, {odd}));
  ASSERT_EQ(S_OK, KvFMMeta64_openAndWriteMetaStream(w64.c_str(), FALSE, 44100, &meta, 0x405, 0));
  Buf after = ReadAll(w64);
  auto cs = Walk64(after);
  auto markers = WithGuid(cs, KVFIO_METAGUID_MARKERS);
  ASSERT_EQ(1u, markers.size());
  Buf kv01 = Bytes({1, 1, 0});
  Put64(kv01, 44100);
  Put64(kv01, 22050);
  Append(kv01, Bytes({12, 0}));
  PutWide(kv01, L"Verse");
  EXPECT_EQ(kv01.size(), markers[0].size - 24 - ((8 - kv01.size() % 8) % 8));
  EXPECT_TRUE(std::equal(kv01.begin(), kv01.end(), markers[0].data.begin()));
  auto summary = WithGuid(cs, KVFIO_METAGUID_SUMMARY);
  ASSERT_EQ(1u, summary.size());
  Buf s = Bytes({1});
  Append(s, Text("INAM"));
  Append(s, Bytes({10}));
  PutWide(s, L"Wide");
  EXPECT_TRUE(std::equal(s.begin(), s.end(), summary[0].data.begin()));
  EXPECT_EQ(2u, cs.size() - Walk64(plain).size()) << "no raw chunks in 64-bit RIFF files";
  for (const Chunk& c : cs) EXPECT_EQ(0u, c.offset % 8);
}

// Malformed reader streams: a clean error, the file as it was.
TEST(MalformedStreams, RefusedBeforeAnythingIsWritten) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  ScratchDir dir;
  Buf kv04 = Bytes({0, 1, 2, 3, 4, 5, 6});
  kv04.resize(54, 0);
  Append(kv04, Bytes({4000, 100}));
  Append(kv04, Buf(4100, 1));
  Buf summaryLong = Bytes({12, rifftest::FourCC("INAM"), 100});
  Append(summaryLong, Text("ab"));
  Buf markerShort = MarkerItem(1, 5, 0, L"");
  markerShort.resize(20);
  Buf rawLong = Text("abcd");
  Append(rawLong, Bytes({50}));
  Buf smplShort = SamplerItem(60, {{1, 1, 0}, {2, 2, 0}}, Buf());
  smplShort.resize(36 + 40);
  Buf generic = Generic(KVFIO_METAGUID_BMRK, {Buf(52, 1), Buf(52, 2)});
  generic.resize(generic.size() - 10);
  struct Case {
    const char* name;
    Buf stream;
    DWORD kinds;
  } cases[] = {
      {"entry header size 27", Generic(KVFIO_METAGUID_BMPI, {Buf(4, 1)}, 27), 0x200000},
      {"entry version 99", Generic(KVFIO_METAGUID_BMPI, {Buf(4, 1)}, 28, 99), 0x200000},
      {"list item of another size", Generic(KVFIO_METAGUID_TLST, {Buf(24, 1), Buf(23, 1)}), 0x40},
      {"scot shorter than its record", Generic(KVFIO_METAGUID_SCOT, {Buf(423, 1)}), 0x10},
      {"kv04 parts over 4096 bytes", Generic(KVFIO_METAGUID_KV04, {kv04}), 0x100000},
      {"kv03 head and data past the item", Generic(KVFIO_METAGUID_KV03, {Bytes({8, 20})}), 0x20000},
      {"summary text past the item", Generic(KVFIO_METAGUID_SUMMARY, {summaryLong}), 0x1},
      {"marker record cut", Generic(KVFIO_METAGUID_MARKERS, {markerShort}), 0x4},
      {"raw chunk size past the item", Generic(KVFIO_METAGUID_RAW, {rawLong}), 0x400},
      {"sampler loops past the item", Generic(KVFIO_METAGUID_SAMPLER, {smplShort}), 0x100},
      {"stream ends inside an item", generic, 0x8000},
  };
  for (const Case& c : cases) {
    std::wstring wav = CopyMedia(dir, "plain.wav", L"bad.wav");
    Buf plain = ReadAll(wav);
    StandInMeta meta;
    meta.generic.push_back(c.stream);
    EXPECT_EQ(kShort, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), TRUE, 44100, &meta, c.kinds, 0)) << c.name;
    EXPECT_EQ(plain, ReadAll(wav)) << c.name;
    EXPECT_EQ(0, meta.Leaked()) << c.name;
  }
  // A legacy marker stream whose text runs past its end.
  std::wstring wav = CopyMedia(dir, "plain.wav", L"bad.wav");
  Buf plain = ReadAll(wav);
  StandInMeta meta;
  meta.hasMarkers = true;
  meta.markers = LegacyMarkers({{kSecond, 0, false, L"text"}});
  meta.markers.resize(meta.markers.size() - 3);
  EXPECT_EQ(kShort, KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), TRUE, 44100, &meta, 0x4, 0));
  EXPECT_EQ(plain, ReadAll(wav));
  // A file whose RIFF size claims more than it holds takes no chunk.
  Buf bad = plain;
  bad[4] = 0xF0;
  bad[5] = 0xFF;
  bad[6] = 0xFF;
  bad[7] = 0x7F;
  rifftest::WriteAll(wav, bad);
  StandInMeta ok;
  ok.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Buf(4, 1)}));
  EXPECT_TRUE(FAILED(KvFMMeta_openAndWriteMetaStreamEx(wav.c_str(), TRUE, 44100, &ok, 0x200000, 0)));
  EXPECT_EQ(bad, ReadAll(wav));
}

// Files for the independent readers of chunk_oracles.sh.
TEST(OracleFiles, WrittenForTheIndependentReaders) {
  if (!HaveMedia()) VOG_TOOL_MISSING("ffmpeg") << "no fixtures";
  {
    // Legacy markers and regions, the summary, a sampler and a play list.
    StandInMeta meta;
    meta.hasMarkers = true;
    meta.markers = LegacyMarkers({{kSecond, kSecond / 2, true, L"Verse"}, {2 * kSecond, 0, false, L"Chorus"}});
    meta.hasSummary = true;
    meta.summary = LegacySummary({SummaryItem("INAM", L"Chunk Title"), SummaryItem("IART", L"Chunk Artist"),
                                  SummaryItem("ICMT", L"written by us")});
    meta.generic.push_back(Generic(KVFIO_METAGUID_SAMPLER, {SamplerItem(60, {{1000, 1000, 0}}, Buf())}));
    Buf play = Bytes({1, 0, 500, 0, 2, 0});
    meta.generic.push_back(Generic(KVFIO_METAGUID_PLAYLIST, {play}));
    std::wstring p = Written("plain.wav", "markers.wav");
    EXPECT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(p.c_str(), FALSE, 44100, &meta, 0x125, 0));
    // Written twice: still one copy of each.
    EXPECT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(p.c_str(), FALSE, 44100, &meta, 0x125, 0));
  }
  {
    // Generic markers, summary, private records and raw chunks of odd size.
    StandInMeta meta;
    meta.generic.push_back(Generic(KVFIO_METAGUID_MARKERS, {MarkerItem(1, 22050, 0, L"Intro"),
                                                            MarkerItem(2, 66150, 44100, L"Bridge")}));
    meta.generic.push_back(Generic(KVFIO_METAGUID_SUMMARY, {SummaryItem("INAM", L"Generic Title"),
                                                            SummaryItem("IGNR", L"Jazz")}));
    meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Buf(47, 7)}));
    Buf raw = Text("zodd");
    Append(raw, Bytes({3}));
    Append(raw, Text("abc"));
    meta.generic.push_back(Generic(KVFIO_METAGUID_RAW, {raw}));
    std::wstring p = Written("plain.wav", "generic.wav");
    EXPECT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(p.c_str(), FALSE, 44100, &meta, 0x200405, 0));
  }
  {
    // The AIFF instrument with a sustain and a release loop.
    StandInMeta meta;
    meta.generic.push_back(
        Generic(KVFIO_METAGUID_SAMPLER, {SamplerItem(64, {{1000, 2000, 0}, {5000, 1000, 1}}, Buf())}));
    std::wstring p = Written("plain.aiff", "sampler.aiff");
    EXPECT_EQ(S_OK, KvFMMeta_openAndWriteMetaStreamEx(p.c_str(), FALSE, 44100, &meta, 0x200, 0));
  }
  {
    // Wave64: every 64-bit form.
    StandInMeta meta;
    meta.hasMarkers = true;
    meta.markers = LegacyMarkers({{kSecond, kSecond / 2, true, L"Verse"}});
    meta.generic.push_back(Generic(KVFIO_METAGUID_SUMMARY, {SummaryItem("INAM", L"W64 Title")}));
    meta.generic.push_back(Generic(KVFIO_METAGUID_SAMPLER, {SamplerItem(60, {{10, 20, 0}}, Text("x"))}));
    meta.generic.push_back(Generic(KVFIO_METAGUID_BMPI, {Buf(47, 7)}));
    Buf rec = Bytes({1, 1, 3});
    Append(rec, Text("hi"));
    rec.push_back(0);
    meta.generic.push_back(Generic(KVFIO_METAGUID_DISPLAY, {rec}));
    std::wstring p = Written("plain.w64", "all.w64");
    EXPECT_EQ(S_OK, KvFMMeta64_openAndWriteMetaStream(p.c_str(), FALSE, 44100, &meta, 0x200185, 0));
  }
  {
    // A media file and its sidecar.
    StandInMeta meta;
    meta.hasMarkers = true;
    meta.markers = LegacyMarkers({{kSecond, 0, false, L"Side"}});
    meta.hasSummary = true;
    meta.summary = LegacySummary({SummaryItem("INAM", L"Sidecar Title")});
    std::wstring p = Written("plain.wav", "song.wav");
    EXPECT_EQ(S_OK, KvFMMeta_WriteMetaStream(p.c_str(), TRUE, 44100, &meta));
  }
}

}  // namespace
