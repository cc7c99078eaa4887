// The iTunes item list writer: the bytes of moov/udta/meta, the order of the
// items, the track number, the one cover picture, what it replaces and the
// gapless comment it keeps.
#include "metaitunes.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace fileutil;
using namespace metatest;

namespace {

const Bytes kMvhd = FB("mvhd", 0, Bytes(96, '\0'));
const Bytes kHdlr = FB("hdlr", 0, U32(0) + "mdir" + "appl" + U32(0) + U32(0) + Bytes(2, '\0'));

Bytes Moov(const Bytes& children) { return B("ftyp", "M4A " + U32(0) + "M4A isom") + B("moov", children); }
Bytes Meta(const Bytes& items) { return FB("meta", 0, kHdlr + B("ilst", items)); }
Bytes Data(uint32_t type, const Bytes& payload) { return B("data", U32(type) + U32(0) + payload); }
Bytes Item(const char* type, uint32_t dataType, const Bytes& payload) { return B(type, Data(dataType, payload)); }
Bytes Freeform(const char* mean, const char* name, const Bytes& text) {
  return B("----", FB("mean", 0, mean) + FB("name", 0, name) + Data(1, text));
}
const Bytes kGapless =
    Freeform("com.apple.iTunes", "iTunSMPB", " 00000000 00000A40 000002C0 0000000000015888 00000000");

struct PutCase {
  const char* name;
  Bytes before;  // moov's children
  std::vector<std::pair<uint32_t, const char*>> texts;
  std::vector<std::pair<uint32_t, const char*>> pictures;  // type, MIME type; data "P<type>"
  Bytes after;
};

TEST(PutiTunesMetaData, WritesOneItemListWithItemsInIdOrderAndOneCover) {
  const Bytes trackUdta = B("trak", B("udta", Meta(Item("\xA9nam", 1, "track"))));
  const PutCase cases[] = {
      {"no udta: moov/udta/meta(hdlr, ilst) is made; trkn before nam",
       kMvhd,
       {{kSummaryTitle, "Title"}, {kSummaryTrack, "7"}},
       {},
       kMvhd + B("udta", Meta(Item("trkn", 0, Hex("0000 0007 0000 0000")) + Item("\xA9nam", 1, "Title")))},
      {"an older item list goes entirely; other user data and a track's list stay",
       kMvhd + trackUdta + B("udta", B("xyz ", "keep") + Meta(Item("\xA9" "ART", 1, "Old") + Item("cpil", 21, "x"))),
       {{kSummaryAlbum, "Alb"}},
       {},
       kMvhd + trackUdta + B("udta", B("xyz ", "keep") + Meta(Item("\xA9" "alb", 1, "Alb")))},
      {"every text item; the ones without item form write nothing",
       kMvhd,
       {{kSummaryArtist, "a"}, {kSummaryAlbumArtist, "b"}, {kSummaryComment, "c"}, {kSummaryDate, "2001"},
        {kSummarySoftware, "s"}, {kSummaryGenre, "g"}, {kSummaryCopyright, "r"}, {kSummarySubject, "d"},
        {kSummaryKeywords, "k"}, {kSummaryLength, "1000"}, {kSummaryTitleId3, "t"}, {kSummaryComposer, "m"}},
       {},
       // ascending 32-bit id value (the last letter is the most significant byte):
       // ICRD ISBJ ICOP IGNR IAAT ISFT ICMT IART IKEY
       kMvhd + B("udta", Meta(Item("\xA9" "day", 1, "2001") + Item("\xA9" "des", 1, "d") +
                              Item("\xA9" "cpy", 1, "r") + Item("\xA9" "gen", 1, "g") + Item("aART", 1, "b") +
                              Item("\xA9" "too", 1, "s") + Item("\xA9" "cmt", 1, "c") +
                              Item("\xA9" "ART", 1, "a") + Item("keyw", 1, "k")))},
      {"only a length: an empty list", kMvhd, {{kSummaryLength, "1000"}}, {}, kMvhd + B("udta", Meta(""))},
      {"non-ASCII text as UTF-8, track n/m keeps n",
       kMvhd,
       {{kSummaryTitle, "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5"}, {kSummaryTrack, "3/12"}},
       {},
       kMvhd + B("udta", Meta(Item("trkn", 0, Hex("0000 0003 0000 0000")) +
                              Item("\xA9nam", 1, "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5")))},
      {"track text without a number is 0", kMvhd, {{kSummaryTrack, "x"}}, {},
       kMvhd + B("udta", Meta(Item("trkn", 0, Bytes(8, '\0'))))},
      {"pictures 3 and 0: type 0", kMvhd, {}, {{3, "image/png"}, {0, "image/jpeg"}},
       kMvhd + B("udta", Meta(B("covr", Data(13, "P0"))))},
      {"pictures 3 and 4: type 3", kMvhd, {}, {{4, "image/jpeg"}, {3, "image/png"}},
       kMvhd + B("udta", Meta(B("covr", Data(14, "P3"))))},
      {"pictures 4 and 6: the lowest type", kMvhd, {}, {{6, "image/png"}, {4, "image/bmp"}},
       kMvhd + B("udta", Meta(B("covr", Data(27, "P4"))))},
      {"image/jpg is a JPEG cover", kMvhd, {}, {{0, "image/jpg"}}, kMvhd + B("udta", Meta(B("covr", Data(13, "P0"))))},
      {"a GIF picture writes no cover", kMvhd, {}, {{0, "image/gif"}}, kMvhd + B("udta", Meta(""))},
      {"MIME types compare with case", kMvhd, {}, {{0, "image/JPEG"}}, kMvhd + B("udta", Meta(""))},
      {"cover after the text items", kMvhd, {{kSummaryTitle, "T"}}, {{0, "image/png"}},
       kMvhd + B("udta", Meta(Item("\xA9nam", 1, "T") + B("covr", Data(14, "P0"))))},
      {"the older list's gapless comment stays, after the new items and the cover",
       kMvhd + B("udta", Meta(kGapless + Item("\xA9" "ART", 1, "Old"))),
       {{kSummaryTitle, "T"}},
       {{0, "image/png"}},
       kMvhd + B("udta", Meta(Item("\xA9nam", 1, "T") + B("covr", Data(14, "P0")) + kGapless))},
      {"the gapless comment stays with nothing else to write", kMvhd + B("udta", Meta(kGapless)), {}, {},
       kMvhd + B("udta", Meta(kGapless))},
      {"other free-form items go, the comment of another namespace too",
       kMvhd + B("udta", Meta(Freeform("com.apple.iTunes", "iTunNORM", " 0") +
                              Freeform("org.example", "iTunSMPB", " 0") + kGapless)),
       {{kSummaryTitle, "T"}},
       {},
       kMvhd + B("udta", Meta(Item("\xA9nam", 1, "T") + kGapless))},
  };
  for (const PutCase& c : cases) {
    WriteTree tree(Moov(c.before));
    ASSERT_TRUE(tree.boxes) << c.name;
    MetaDataSet set;
    for (auto& t : c.texts) set.SetSummaryText(t.first, W(t.second));
    for (auto& p : c.pictures) {
      std::string data = "P" + std::to_string(p.first);
      set.AddPicture(W(p.second), reinterpret_cast<const uint8_t*>(data.data()), data.size(), p.first);
    }
    EXPECT_TRUE(PutiTunesMetaData(set, *tree.boxes).Apply()) << c.name;
    EXPECT_EQ(Printable(tree.Written()), Printable(Moov(c.after))) << c.name;
  }
}

TEST(PutiTunesMetaData, ATreeWithoutMoovIsLeftAsItIs) {
  const Bytes file = B("ftyp", "M4A " + U32(0)) + B("udta", B("meta", U32(0) + B("ilst", "")));
  WriteTree tree(file);
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"T");
  EXPECT_FALSE(PutiTunesMetaData(set, *tree.boxes).Apply());
  EXPECT_EQ(Printable(tree.Written()), Printable(file));
}

TEST(PutiTunesMetaData, ItemListExtensionsAreTheFourMpeg4AudioOnesInAnyCase) {
  struct Case {
    const wchar_t* path;
    bool itunes;
  } cases[] = {{L"a.m4a", true},  {L"C:\\x\\a.M4A", true}, {L"a.m4v", true},     {L"a.M4b", true},
               {L"a.m4p", true},  {L"a.mp4", false},       {L"a.3gp", false},     {L"m4a", false},
               {L"a.m4a.mp4", false}, {L"a.m4aa", false},  {L"dir.m4a\\file", false}};
  for (auto& c : cases) EXPECT_EQ(UsesITunesTags(c.path), c.itunes) << std::string(c.path, c.path + wcslen(c.path));
}

}  // namespace
