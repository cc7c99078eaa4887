// ID3v2 tags in MP4 files: the tag built from a set (frame order, encoding,
// pictures and objects, entries), where the 'ID32' box goes, and the set read
// back from a written file.
#include <functional>

#include "metaid3.h"
#include "metaitunes.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace fileutil;
using namespace metatest;

namespace {

const Bytes kMvhd = FB("mvhd", 0, Bytes(96, '\0'));
const Bytes kId3Hdlr = FB("hdlr", 0, U32(0) + "ID32" + U32(0) + U32(0) + U32(0) + Bytes(1, '\0'));
const Bytes kMdirHdlr = FB("hdlr", 0, U32(0) + "mdir" + "appl" + U32(0) + U32(0) + Bytes(2, '\0'));

Bytes Moov(const Bytes& children) { return B("ftyp", "mp42" + U32(0) + "mp42isom") + B("moov", children); }
Bytes Syncsafe(uint32_t v) { return U32(id3meta::EncodeSyncsafe(v)); }
Bytes Frame(const char* id, const Bytes& payload) { return Bytes(id) + U32(uint32_t(payload.size())) + U16(0) + payload; }
Bytes Tag(const Bytes& frames) { return Bytes("ID3") + U8(3) + U8(0) + U8(0) + Syncsafe(uint32_t(frames.size())) + frames; }
Bytes Id32(const Bytes& tag) { return FB("ID32", 0, U16(0x15C7) + tag); }
// UTF-16 with a big-endian byte-order mark and terminator, as the writer encodes every text.
Bytes Utf16(const char* ascii) {
  Bytes out = Hex("FE FF");
  for (const char* p = ascii; *p; ++p) out += U16(uint16_t(uint8_t(*p)));
  return out + U16(0);
}
Bytes Latin(const char* s) { return Bytes(s) + U8(0); }

// A set read back from a written file with the read factory.
MetaDataSet ReadBack(const Bytes& file) {
  mp4test::Tree tree(file, GetReadMetaFactory());
  MetaDataSet set;
  if (tree.boxes) GetId3v2MetaData(set, *tree.boxes).Apply();
  return set;
}

const GUID kHostGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(PutId3v2MetaData, TagFramesAndPlacement) {
  GenericItem item;
  item.mimeType = L"text/plain";
  item.fileName = L"n";
  item.description = L"d";
  item.data = {'x'};
  struct Case {
    const char* name;
    Bytes before;  // moov's children
    std::function<void(MetaDataSet&)> fill;
    Bytes after;
  } cases[] = {
      {"INAM and IART: TIT2 then TOPE, UTF-16 with mark; moov/meta(hdlr ID32, ID32) made", kMvhd,
       [](MetaDataSet& s) {
         s.SetSummaryText(kSummaryArtist, L"Art");
         s.SetSummaryText(kSummaryTitle, L"Ti");
       },
       kMvhd + FB("meta", 0, kId3Hdlr + Id32(Tag(Frame("TIT2", U8(1) + Utf16("Ti")) + Frame("TOPE", U8(1) + Utf16("Art")))))},
      {"ICRD is TYER; texts without a frame are left out", kMvhd,
       [](MetaDataSet& s) {
         s.SetSummaryText(kSummaryDate, L"2001");
         s.SetSummaryText(kSummaryComment, L"no frame");
         s.SetSummaryText(kSummaryKeywords, L"no frame");
       },
       kMvhd + FB("meta", 0, kId3Hdlr + Id32(Tag(Frame("TYER", U8(1) + Utf16("2001")))))},
      {"an existing tag is replaced where it is", kMvhd + B("udta", FB("meta", 0, kMdirHdlr + Id32(Tag(Frame("TALB", U8(0) + "old"))))),
       [](MetaDataSet& s) { s.SetSummaryText(kSummaryTrack, L"4"); },
       kMvhd + B("udta", FB("meta", 0, kMdirHdlr + Id32(Tag(Frame("TRCK", U8(1) + Utf16("4"))))))},
      {"an item list's meta box is left alone; the moov-level ID32 meta is used",
       kMvhd + B("udta", FB("meta", 0, kMdirHdlr + B("ilst", ""))) + FB("meta", 0, kId3Hdlr),
       [](MetaDataSet& s) { s.SetSummaryText(kSummaryTitle, L"T"); },
       kMvhd + B("udta", FB("meta", 0, kMdirHdlr + B("ilst", ""))) +
           FB("meta", 0, kId3Hdlr + Id32(Tag(Frame("TIT2", U8(1) + Utf16("T")))))},
      {"pictures by type, then generic items, then entries; picture, summary-list and SMFMF entries are not copied",
       kMvhd,
       [&item](MetaDataSet& s) {
         s.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("P3"), 2, 3);
         s.AddPicture(L"image/jpeg", reinterpret_cast<const uint8_t*>("P0"), 2, 0);
         s.AddGenericItem(item);
         s.AddEntry(kHostGuid, {9, 9});
         s.AddEntry(kPictureEntryGuid, {1});
         s.AddEntry(kSmfmfEntryGuid, {1});
         s.AddEntry(kRiff64SummaryListGuid, {1});
       },
       kMvhd + FB("meta", 0, kId3Hdlr +
                                Id32(Tag(Frame("APIC", U8(1) + Latin("image/jpeg") + U8(0) + Utf16("") + "P0") +
                                         Frame("APIC", U8(1) + Latin("image/png") + U8(3) + Utf16("") + "P3") +
                                         Frame("GEOB", U8(1) + Latin("text/plain") + Utf16("n") + Utf16("d") + "x") +
                                         Frame("GEOB", U8(1) + Latin("application/binary") +
                                                           Utf16("{12345678-9abc-def0-0102-030405060708}.bin") +
                                                           Utf16("ORVANE_{12345678-9abc-def0-0102-030405060708}") +
                                                           Hex("09 09")))))},
  };
  for (const Case& c : cases) {
    WriteTree tree(Moov(c.before));
    ASSERT_TRUE(tree.boxes) << c.name;
    MetaDataSet set;
    c.fill(set);
    EXPECT_TRUE(PutId3v2MetaData(set, *tree.boxes).Apply()) << c.name;
    EXPECT_EQ(Printable(tree.Written()), Printable(Moov(c.after))) << c.name;
  }
}

TEST(PutId3v2MetaData, AfterTheItemListWriter) {
  // The iTunes writer's meta box holds the items; the ID3 tag gets a meta box of its own.
  WriteTree tree(Moov(kMvhd));
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"T");
  EXPECT_TRUE(PutiTunesMetaData(set, *tree.boxes).Apply());
  EXPECT_TRUE(PutId3v2MetaData(set, *tree.boxes).Apply());
  Bytes written = tree.Written();
  EXPECT_EQ(Printable(written),
            Printable(Moov(kMvhd + B("udta", FB("meta", 0, kMdirHdlr + B("ilst", B("\xA9nam", B("data", U32(1) + U32(0) + "T"))))) +
                           FB("meta", 0, kId3Hdlr + Id32(Tag(Frame("TIT2", U8(1) + Utf16("T"))))))));
  // Written twice: still one tag.
  WriteTree again(written);
  set.Clear();
  set.SetSummaryText(kSummaryTitle, L"U");
  EXPECT_TRUE(PutId3v2MetaData(set, *again.boxes).Apply());
  Bytes twice = again.Written();
  EXPECT_EQ(twice.find("ID3\x03"), twice.rfind("ID3\x03"));
  EXPECT_EQ(ReadBack(twice).GetSummaryText(kSummaryTitle), L"U");
}

TEST(PutId3v2MetaData, WithoutMoovNothingChanges) {
  const Bytes file = B("ftyp", "mp42" + U32(0)) + B("free", "");
  WriteTree tree(file);
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"T");
  EXPECT_FALSE(PutId3v2MetaData(set, *tree.boxes).Apply());
  EXPECT_EQ(Printable(tree.Written()), Printable(file));
}

TEST(GetId3v2MetaData, WrittenSetsReadBack) {
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, W("Grüße ☃"));
  set.SetSummaryText(kSummaryArtist, L"Artist");
  set.SetSummaryText(kSummaryAlbum, L"Album");
  set.SetSummaryText(kSummaryAlbumArtist, L"Album Artist");
  set.SetSummaryText(kSummaryTrack, L"3/12");
  set.SetSummaryText(kSummaryDate, L"1999");
  set.SetSummaryText(kSummaryComposer, L"Comp");
  set.SetSummaryText(kSummaryLength, L"1234");
  set.SetSummaryText(kSummaryTitleId3, L"Sub");
  set.SetSummaryText(kSummaryCopyright, L"(c)");
  set.SetSummaryText(kSummarySubject, L"Group");
  set.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("png"), 3, 3);
  set.AddPicture(L"image/jpeg", reinterpret_cast<const uint8_t*>("jpeg"), 4, 0);
  set.AddSmfmf({1, 2, 3});
  set.AddEntry(kHostGuid, {7, 8, 9});
  WriteTree tree(Moov(kMvhd));
  ASSERT_TRUE(PutId3v2MetaData(set, *tree.boxes).Apply());
  MetaDataSet back = ReadBack(tree.Written());
  EXPECT_EQ(back.Texts(), set.Texts());
  ASSERT_EQ(back.Pictures().size(), 2u);
  EXPECT_EQ(back.Pictures().at(0).mimeType, L"image/jpeg");
  EXPECT_EQ(back.Pictures().at(3).data, (ByteVector{'p', 'n', 'g'}));
  // The opaque record comes back as the same entry; the SMFMF data as its item.
  back.ExportGenericEntries();
  ASSERT_EQ(back.CountEntries(kHostGuid), 1u);
  EXPECT_EQ(back.Entries().find(kHostGuid)->second, (ByteVector{7, 8, 9}));
  back.ExportSmfmf();
  EXPECT_EQ(back.CountEntries(kSmfmfEntryGuid), 1u);
}

TEST(GetId3v2MetaData, FirstValueStaysAndUnknownFramesGiveNothing) {
  const Bytes tag = Tag(Frame("TPE1", U8(0) + Latin("first")) + Frame("TOPE", U8(0) + Latin("second")) +
                        Frame("TCON", U8(0) + Latin("Rock")) + Frame("XYZW", "raw") +
                        Frame("APIC", U8(0) + Latin("image/png") + U8(3) + Latin("") + "A") +
                        Frame("APIC", U8(0) + Latin("image/gif") + U8(3) + Latin("") + "B") +
                        Frame("APIC", U8(0) + Latin("image/png") + U8(0) + Latin("") + "C") +
                        Frame("TIT2", U8(0) + Latin("later")));
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"earlier");
  mp4test::Tree tree(Moov(kMvhd + FB("meta", 0, kId3Hdlr + Id32(tag))),
                     GetReadMetaFactory());
  ASSERT_TRUE(tree.boxes);
  GetId3v2MetaData(set, *tree.boxes).Apply();
  EXPECT_EQ(set.GetSummaryText(kSummaryArtist), L"first");
  EXPECT_EQ(set.GetSummaryText(kSummaryTitle), L"earlier");
  EXPECT_EQ(set.Texts().size(), 2u);
  ASSERT_EQ(set.Pictures().size(), 2u);
  EXPECT_EQ(set.Pictures().at(3).data, (ByteVector{'A'}));
  EXPECT_EQ(set.Pictures().at(0).data, (ByteVector{'C'}));
}

}  // namespace
