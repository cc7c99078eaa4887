// The Cardwell metadata reader over files built here box by box: the user
// box's texts and PNG thumbnails land in the set; damaged tables and cut files
// give fewer texts or pictures, never a read outside the bytes.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metacardwell.h"
#include "metatest_util.h"
#include "summaryids.h"

namespace {

using fileutil::FCC;
using metatest::B;
using metatest::Bytes;
using metatest::FB;
using metatest::U16;
using metatest::U32;
using metatest::U8;

// Big-endian GUID bytes of the two 'uuid' boxes.
const Bytes kUserGuid = metatest::Hex("55534D54 21D2 4FCE BB88 695CFAC9C740");
const Bytes kSampleDataGuid = metatest::Hex("4D545344 21D2 4FCE BB88 695CFAC9C740");

Bytes Uuid(const Bytes& guid, const Bytes& payload) { return U32(uint32_t(24 + payload.size())) + "uuid" + guid + payload; }

Bytes Utf16BE(const std::wstring& text) {
  Bytes out;
  for (wchar_t c : text) out += U16(uint16_t(c));
  return out;
}

// An 'MTDT' item: length, key, language, encoding, data.
Bytes Item(uint32_t key, uint16_t encoding, const Bytes& data, uint16_t length = 0) {
  return U16(length ? length : uint16_t(10 + data.size())) + U32(key) + U16(0x15C7) + U16(encoding) + data;
}

Bytes Mtdt(const std::vector<Bytes>& items, int count = -1) {
  Bytes body = U16(uint16_t(count < 0 ? items.size() : size_t(count)));
  for (const Bytes& i : items) body += i;
  return B("MTDT", body);
}

struct TableEntry {
  uint32_t index, offset, size;
};

Bytes Mdst(const std::vector<TableEntry>& entries) {
  Bytes body = U32(uint32_t(entries.size()));
  for (const TableEntry& e : entries) body += U32(e.index) + U32(e.offset) + U32(e.size) + Bytes(8, '\0');
  return FB("MDST", 0, body);
}

Bytes PngEntry(uint16_t width, uint16_t height) {
  Bytes p = Bytes(6, '\0') + U16(1) + U16(0) + U16(0) + Bytes(12, '\0') + U16(width) + U16(height) + U32(0x00480000) +
            U32(0x00480000) + U32(0) + U16(1) + Bytes(32, '\0') + U16(0x18) + U16(0xFFFF);
  return B("PNG ", p);
}

Bytes Stsd(const std::vector<Bytes>& entries) {
  Bytes body = U32(uint32_t(entries.size()));
  for (const Bytes& e : entries) body += e;
  return FB("stsd", 0, body);
}

Bytes Mthd() { return FB("MTHD", 0, U32(1) + U32(2) + U32(3) + U32(4) + U32(5)); }
Bytes Mtdf() { return B("MTDF", U16(1) + U16(12) + U32(1) + U16(0) + U16(0) + U16(0x0101)); }

const Bytes kFtyp = B("ftyp", Bytes("mp42") + U32(0) + "mp42isom");
const Bytes kMoov = B("moov", FB("mvhd", 0, Bytes(96, '\0')));

// Thumbnail sample bytes: a PNG signature and a marker.
Bytes Png(char marker, size_t n) { return metatest::Hex("89504E470D0A1A0A") + Bytes(n, marker); }

void ReadInto(const Bytes& file, fileutil::MetaDataSet& set, std::string* dump = nullptr) {
  mp4test::Tree tree(file, fileutil::GetReadMetaFactory());
  if (dump) *dump = tree.Dump();
  if (!tree.boxes) return;
  tree.in.clear();
  fileutil::GetCardwellMetaData reader(set, *tree.boxes, tree.in);
  reader.Apply();
}

// A typical file: ftyp, moov, the user box and the sample data box, whose
// offsets count from the sample data box's start (24-byte header).
Bytes TypicalFile(std::vector<Bytes> items, std::vector<TableEntry> table, std::vector<Bytes> descriptions,
                  const Bytes& samples) {
  Bytes mtsm = B("MTSM", Mthd() + Mtdt(items) + Mtdf() + Mdst(table) + Stsd(descriptions));
  return kFtyp + kMoov + Uuid(kUserGuid, mtsm) + Uuid(kSampleDataGuid, samples);
}

TEST(CardwellReader, KeyTableMapsEveryRow) {
  struct Row {
    uint32_t key;
    uint32_t id;
  } rows[] = {{1, FCC("INAM")}, {2, FCC("TIT2")}, {3, FCC("ICRD")}, {4, FCC("ISFT")}, {5, FCC("ISFT")},
              {6, FCC("ISBJ")}, {7, FCC("ICMT")}, {8, FCC("IKEY")}, {0x0A02, FCC("VCHP")}, {0, 0},
              {9, 0},           {0x0A01, 0},      {0xFFFFFFFF, 0}};
  for (const Row& r : rows) EXPECT_EQ(r.id, fileutil::CardwellKeyToSummaryId(r.key)) << std::hex << r.key;
}

TEST(CardwellReader, TextsAndThumbnailsOfATypicalFile) {
  Bytes a = Png('a', 40), b = Png('b', 25);
  Bytes file = TypicalFile(
      {Item(1, 1, Utf16BE(L"Main title") + U16(0) + U16(0)), Item(2, 1, Utf16BE(L"Sub title")),
       Item(3, 1, Utf16BE(L"2024-05-06")), Item(4, 1, Utf16BE(L"FirmWare 1.2")), Item(5, 1, Utf16BE(L"Product X")),
       Item(6, 0, Utf16BE(L"not UTF-16")), Item(7, 1, Utf16BE(L"A comment \x00e9\x4e2d")),
       Item(8, 2, Utf16BE(L"keywords")), Item(9, 1, Utf16BE(L"no id")), Item(0x0A02, 1, Utf16BE(L"chapter"))},
      // Index 2 has no PNG description: skipped without using a type.
      {{1, 24, uint32_t(a.size())}, {2, 24, 4}, {3, uint32_t(24 + a.size()), uint32_t(b.size())}},
      {PngEntry(160, 120), B("mp4v", Bytes(78, '\0')), PngEntry(160, 120)}, a + b);
  fileutil::MetaDataSet set;
  std::string dump;
  ReadInto(file, set, &dump);

  EXPECT_EQ(L"Main title", set.GetSummaryText(fileutil::kSummaryTitle));
  EXPECT_EQ(L"Sub title", set.GetSummaryText(fileutil::kSummaryTitleId3));
  EXPECT_EQ(L"2024-05-06", set.GetSummaryText(fileutil::kSummaryDate));
  EXPECT_EQ(L"FirmWare 1.2", set.GetSummaryText(fileutil::kSummarySoftware));  // key 4 before key 5
  EXPECT_FALSE(set.HasSummaryText(fileutil::kSummarySubject));                 // encoding 0
  EXPECT_EQ(L"A comment \x00e9\x4e2d", set.GetSummaryText(fileutil::kSummaryComment));
  EXPECT_FALSE(set.HasSummaryText(fileutil::kSummaryKeywords));  // encoding 2
  EXPECT_EQ(L"chapter", set.GetSummaryText(FCC("VCHP")));
  EXPECT_EQ(6u, set.Texts().size()) << dump;

  ASSERT_EQ(2u, set.Pictures().size()) << dump;
  const fileutil::PictureRecord& p0 = set.Pictures().at(0xFF00);
  const fileutil::PictureRecord& p1 = set.Pictures().at(0xFF01);
  EXPECT_EQ(L"image/png", p0.mimeType);
  EXPECT_EQ(L"160x120", p0.description);
  EXPECT_EQ(a, Bytes(p0.data.begin(), p0.data.end()));
  EXPECT_EQ(L"image/png", p1.mimeType);
  EXPECT_EQ(L"160x120", p1.description);
  EXPECT_EQ(b, Bytes(p1.data.begin(), p1.data.end()));
}

TEST(CardwellReader, DescriptionsAreTakenByIndexWithTheirOwnSizes) {
  Bytes a = Png('a', 10), b = Png('b', 12);
  // Two descriptions; the table refers to the second first, and twice.
  Bytes file = TypicalFile({}, {{2, 24 + uint32_t(a.size()), uint32_t(b.size())}, {1, 24, uint32_t(a.size())},
                                {2, 24 + uint32_t(a.size()), uint32_t(b.size())}},
                           {PngEntry(320, 240), PngEntry(96, 64)}, a + b);
  fileutil::MetaDataSet set;
  ReadInto(file, set);
  ASSERT_EQ(3u, set.Pictures().size());
  EXPECT_EQ(L"96x64", set.Pictures().at(0xFF00).description);
  EXPECT_EQ(L"320x240", set.Pictures().at(0xFF01).description);
  EXPECT_EQ(L"96x64", set.Pictures().at(0xFF02).description);
  EXPECT_EQ(a, Bytes(set.Pictures().at(0xFF01).data.begin(), set.Pictures().at(0xFF01).data.end()));
}

TEST(CardwellReader, OnlyTheUserBoxCounts) {
  Bytes a = Png('a', 8);
  Bytes mtsm = B("MTSM", Mtdt({Item(1, 1, Utf16BE(L"outside"))}) + Mdst({{1, 24, uint32_t(a.size())}}) +
                             Stsd({PngEntry(160, 120)}));
  // The same container outside the user box, in moov and at the top level.
  Bytes file = kFtyp + B("moov", mtsm) + mtsm + Uuid(kSampleDataGuid, a);
  fileutil::MetaDataSet set;
  ReadInto(file, set);
  EXPECT_TRUE(set.IsEmpty());

  // A PNG description outside the user box gives no thumbnail either.
  Bytes inner = B("MTSM", Mdst({{1, 24, uint32_t(a.size())}}));
  file = kFtyp + B("moov", Stsd({PngEntry(160, 120)})) + Uuid(kUserGuid, inner) + Uuid(kSampleDataGuid, a);
  fileutil::MetaDataSet set2;
  ReadInto(file, set2);
  EXPECT_TRUE(set2.Pictures().empty());
}

TEST(CardwellReader, TextsAndPicturesAlreadyInTheSetStay) {
  Bytes a = Png('a', 8);
  Bytes file = TypicalFile({Item(1, 1, Utf16BE(L"new")), Item(4, 1, Bytes()), Item(5, 1, Utf16BE(L"five"))},
                           {{1, 24, uint32_t(a.size())}}, {PngEntry(160, 120)}, a);
  fileutil::MetaDataSet set;
  set.SetSummaryText(fileutil::kSummaryTitle, L"old");
  set.AddPicture(L"image/jpeg", reinterpret_cast<const uint8_t*>("xyz"), 3, 0xFF00);
  ReadInto(file, set);
  EXPECT_EQ(L"old", set.GetSummaryText(fileutil::kSummaryTitle));
  // An empty key-4 item does not keep key 5 out.
  EXPECT_EQ(L"five", set.GetSummaryText(fileutil::kSummarySoftware));
  ASSERT_EQ(1u, set.Pictures().size());
  EXPECT_EQ(L"image/jpeg", set.Pictures().at(0xFF00).mimeType);
}

// Damaged tables: each case says how many texts and pictures (and of which
// size) survive. Nothing may be read outside the file (ASan build).
TEST(CardwellReader, DamagedTablesGiveAShorterSet) {
  const Bytes a = Png('a', 30);
  const uint32_t n = uint32_t(a.size());
  struct Case {
    const char* name;
    std::vector<Bytes> items;
    int itemCount;
    std::vector<TableEntry> table;
    size_t texts;
    std::vector<size_t> pictureSizes;
  } cases[] = {
      {"size past the end is held to the file", {}, -1, {{1, 24, 0xFFFFFFFFu}}, 0, {n}},
      {"offset past the end", {}, -1, {{1, 0xFFFFFF00u, 16}}, 0, {}},
      {"offset and size wrap in 32 bits", {}, -1, {{1, 0xFFFFFFF0u, 0x20}}, 0, {}},
      {"zero size", {}, -1, {{1, 24, 0}, {1, 24, n}}, 0, {n}},
      {"index 0 and an index without a description", {}, -1, {{0, 24, n}, {7, 24, n}, {1, 24, 4}}, 0, {4}},
      {"item shorter than its fixed part ends the items",
       {Item(1, 1, Utf16BE(L"kept")), Item(2, 1, Utf16BE(L"x"), 9), Item(3, 1, Utf16BE(L"lost"))}, -1, {}, 1, {}},
      {"item longer than its box", {Item(1, 1, Utf16BE(L"kept")), Item(2, 1, Utf16BE(L"cut"), 0xFFFF)}, -1, {}, 1, {}},
      {"more items counted than present", {Item(1, 1, Utf16BE(L"kept"))}, 0xFFFF, {}, 1, {}},
      {"odd byte count drops the last byte", {Item(1, 1, Utf16BE(L"odd") + U8('!'))}, -1, {}, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes mtsm = B("MTSM", Mtdt(c.items, c.itemCount) + Mdst(c.table) + Stsd({PngEntry(160, 120)}));
    Bytes file = kFtyp + kMoov + Uuid(kUserGuid, mtsm) + Uuid(kSampleDataGuid, a);
    fileutil::MetaDataSet set;
    ReadInto(file, set);
    EXPECT_EQ(c.texts, set.Texts().size());
    std::vector<size_t> sizes;
    for (const auto& p : set.Pictures()) sizes.push_back(p.second.data.size());
    EXPECT_EQ(c.pictureSizes, sizes);
  }
  {
    fileutil::MetaDataSet set;
    Bytes mtsm = B("MTSM", Mtdt({Item(1, 1, Utf16BE(L"odd") + U8('!'))}));
    ReadInto(kFtyp + Uuid(kUserGuid, mtsm), set);
    EXPECT_EQ(L"odd", set.GetSummaryText(fileutil::kSummaryTitle));
  }
}

// The typical file cut at every length: never more than the whole file gives,
// a picture only with its bytes complete or cut by the end of the file.
TEST(CardwellReader, FileCutAtEveryLength) {
  Bytes a = Png('a', 20), b = Png('b', 20);
  Bytes file = TypicalFile({Item(1, 1, Utf16BE(L"Title")), Item(7, 1, Utf16BE(L"Comment"))},
                           {{1, 24, uint32_t(a.size())}, {1, uint32_t(24 + a.size()), uint32_t(b.size())}},
                           {PngEntry(160, 120)}, a + b);
  for (size_t cut = 0; cut <= file.size(); ++cut) {
    SCOPED_TRACE(cut);
    fileutil::MetaDataSet set;
    ReadInto(file.substr(0, cut), set);
    EXPECT_LE(set.Texts().size(), 2u);
    EXPECT_LE(set.Pictures().size(), 2u);
    for (const auto& p : set.Pictures()) {
      EXPECT_LE(p.second.data.size(), 28u);
      EXPECT_FALSE(p.second.data.empty());
    }
    if (cut == file.size()) {
      EXPECT_EQ(2u, set.Texts().size());
      EXPECT_EQ(2u, set.Pictures().size());
    }
  }
}

}  // namespace
