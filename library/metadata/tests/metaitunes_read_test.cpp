// The iTunes item reader: payload forms of the items (texts with NULs, track
// numbers, numeric genres, covers, free-form items), first value stays, and
// the track length.
#include <random>

#include "factories.h"
#include "metaid3.h"
#include "metaitunes.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace fileutil;
using namespace metatest;

namespace {

const Bytes kHdlr = FB("hdlr", 0, U32(0) + "mdir" + "appl" + U32(0) + U32(0) + Bytes(2, '\0'));

Bytes Moov(const Bytes& children) { return B("ftyp", "M4A " + U32(0) + "M4A isom") + B("moov", children); }
Bytes Items(const Bytes& items) { return B("udta", FB("meta", 0, kHdlr + B("ilst", items))); }
Bytes Data(uint32_t type, const Bytes& payload) { return B("data", U32(type) + U32(0) + payload); }
Bytes Item(const char* type, uint32_t dataType, const Bytes& payload) { return B(type, Data(dataType, payload)); }

MetaDataSet Read(const Bytes& file, MetaDataSet set = MetaDataSet()) {
  mp4test::Tree tree(file, GetReadMetaFactory());
  EXPECT_TRUE(tree.boxes);
  if (tree.boxes) GetiTunesMetaData(set, *tree.boxes).Apply();
  return set;
}

TEST(GetiTunesMetaData, ItemPayloads) {
  struct Case {
    const char* name;
    Bytes items;
    std::map<std::string, std::string> texts;  // summary id -> UTF-8 text
  } cases[] = {
      {"title with two NULs", Item("\xA9nam", 1, Bytes("Tïtl\0\0", 7)), {{"INAM", "Tïtl"}}},
      {"every text item",
       Item("\xA9" "ART", 1, "a") + Item("aART", 1, "b") + Item("\xA9" "cmt", 1, "c") + Item("\xA9" "day", 1, "d") +
           Item("\xA9" "alb", 1, "e") + Item("\xA9" "too", 1, "f") + Item("\xA9" "gen", 1, "g") +
           Item("\xA9" "cpy", 1, "h") + Item("\xA9" "des", 1, "i") + Item("keyw", 1, "j"),
       {{"IART", "a"}, {"IAAT", "b"}, {"ICMT", "c"}, {"ICRD", "d"}, {"ISRC", "e"}, {"ISFT", "f"}, {"IGNR", "g"},
        {"ICOP", "h"}, {"ISBJ", "i"}, {"IKEY", "j"}}},
      {"Macintosh text", Item("\xA9nam", 3, "caf\x8E"), {{"INAM", "café"}}},
      {"empty or NUL-only text stores nothing", Item("\xA9nam", 1, "") + Item("\xA9" "ART", 1, Bytes(2, '\0')), {}},
      {"two titles: the first stays", Item("\xA9nam", 1, "one") + Item("\xA9nam", 1, "two"), {{"INAM", "one"}}},
      {"track 7 of 12", Item("trkn", 0, Hex("0000 0007 000C 0000")), {{"TRCK", "7"}}},
      {"track payload of 4 bytes", Item("trkn", 0, Hex("0000 0102")), {{"TRCK", "258"}}},
      {"track payload of 3 bytes: nothing", Item("trkn", 0, Hex("0000 01")), {}},
      {"track payload of 2 bytes: nothing", Item("trkn", 0, Hex("0000")), {}},
      {"genre 00 11", Item("gnre", 0, Hex("0011")), {{"IGNR", "Reggae"}}},
      {"genre as one byte", Item("gnre", 0, Hex("01")), {{"IGNR", "Blues"}}},
      {"genre 148", Item("gnre", 0, Hex("0094")), {{"IGNR", "SynthPop"}}},
      {"genre 0 or 149: nothing", Item("gnre", 0, Hex("0000")) + Item("gnre", 0, Hex("0095")), {}},
      {"data types without a text form", Item("\xA9nam", 21, "x") + Item("\xA9nam", 2, "x") + Item("cpil", 21, "\x01"),
       {}},
      {"free-form item of the table",
       B("----", FB("mean", 0, "com.apple.iTunes") + FB("name", 0, "ILIC") + Data(1, "licence")),
       {{"ILIC", "licence"}}},
      {"free-form item of no row",
       B("----", FB("mean", 0, "com.apple.iTunes") + FB("name", 0, "iTunSMPB") + Data(1, "x")) +
           B("----", FB("mean", 0, "org.other") + FB("name", 0, "ILIC") + Data(1, "y")),
       {}},
      {"a text item after a free-form item", B("----", FB("mean", 0, "x") + FB("name", 0, "y") + Data(1, "z")) +
                                                 Item("\xA9nam", 1, "T"),
       {{"INAM", "T"}}},
  };
  for (const Case& c : cases) {
    MetaDataSet set = Read(Moov(Items(c.items)));
    std::map<std::string, std::string> got;
    for (const auto& t : set.Texts()) {
      std::string utf8;
      WideToUtf8(t.second, utf8);
      got[std::string{char(t.first), char(t.first >> 8), char(t.first >> 16), char(t.first >> 24)}] = utf8;
    }
    EXPECT_EQ(got, c.texts) << c.name;
    EXPECT_TRUE(set.Pictures().empty()) << c.name;
  }
}

TEST(GetiTunesMetaData, CoversAndEarlierTexts) {
  MetaDataSet earlier;
  earlier.SetSummaryText(kSummaryTitle, L"from ID3");
  MetaDataSet set = Read(Moov(Items(Item("\xA9nam", 1, "from items") +
                                    B("covr", Data(14, "PNG") + Data(13, "JPEG")) + B("covr", Data(27, "BMP")))),
                         earlier);
  EXPECT_EQ(set.GetSummaryText(kSummaryTitle), L"from ID3");
  ASSERT_EQ(set.Pictures().size(), 1u);
  const PictureRecord& p = set.Pictures().at(0);
  EXPECT_EQ(p.mimeType, L"image/png");
  EXPECT_EQ(p.data, (ByteVector{'P', 'N', 'G'}));
  EXPECT_EQ(p.description, L"");

  for (auto c : {std::make_pair(13, L"image/jpg"), std::make_pair(27, L"image/bmp")}) {
    MetaDataSet one = Read(Moov(Items(B("covr", Data(c.first, "I")))));
    ASSERT_EQ(one.Pictures().count(0), 1u);
    EXPECT_EQ(one.Pictures().at(0).mimeType, c.second);
  }
  // Picture data outside a covr item is not a cover.
  EXPECT_TRUE(Read(Moov(Items(Item("\xA9nam", 14, "PNG")))).Pictures().empty());
}

// The length comes from the media header visited after an audio sample entry,
// within the same track.
TEST(GetiTunesMetaData, TrackLength) {
  auto trak = [](uint32_t timescale, uint32_t duration, bool audio) {
    Bytes mdhd = FB("mdhd", 0, U32(0) + U32(0) + U32(timescale) + U32(duration) + U16(0x55C4) + U16(0));
    Bytes entry = audio ? B("mp4a", Bytes(28, '\0')) : B("text", Bytes(8, '\0'));
    Bytes stsd = FB("stsd", 0, U32(1) + entry);
    return B("trak", B("mdia", mdhd + B("minf", B("stbl", stsd))));
  };
  auto lengthOf = [](const Bytes& moov) { return Read(Moov(moov)).GetSummaryText(kSummaryLength); };
  EXPECT_EQ(lengthOf(trak(44100, 44100 * 3, true)), L"");  // a single track: its header comes first
  // A media header after the sample entry within the track gives the length;
  // another track's header never does.
  Bytes entryFirst = B("trak", B("mdia", B("minf", B("stbl", FB("stsd", 0, U32(1) + B("mp4a", Bytes(28, '\0'))))) +
                                             FB("mdhd", 0, U32(0) + U32(0) + U32(1000) + U32(2500) + U32(0))));
  EXPECT_EQ(lengthOf(entryFirst), L"2500");
  EXPECT_EQ(lengthOf(trak(44100, 1, true) + trak(1000, 7000, false)), L"");
  Bytes zeroScale = B("trak", B("mdia", B("minf", B("stbl", FB("stsd", 0, U32(1) + B("mp4a", Bytes(28, '\0'))))) +
                                            FB("mdhd", 0, U32(0) + U32(0) + U32(0) + U32(2500) + U32(0))));
  EXPECT_EQ(lengthOf(zeroScale), L"");
}

// What the writer puts, the reader takes back.
TEST(GetiTunesMetaData, ReadsTheWritersItems) {
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, W("Grüße ☃"));
  set.SetSummaryText(kSummaryArtist, L"A");
  set.SetSummaryText(kSummaryTrack, L"12");
  set.SetSummaryText(kSummaryGenre, L"Jazz");
  set.SetSummaryText(kSummaryKeywords, L"k");
  set.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("P"), 1, 0);
  WriteTree tree(Moov(FB("mvhd", 0, Bytes(96, '\0'))));
  ASSERT_TRUE(PutiTunesMetaData(set, *tree.boxes).Apply());
  MetaDataSet back = Read(tree.Written());
  EXPECT_EQ(back.Texts(), set.Texts());
  ASSERT_EQ(back.Pictures().count(0), 1u);
  EXPECT_EQ(back.Pictures().at(0).data, ByteVector{'P'});
}

}  // namespace

// Randomly damaged files with item lists and an ID3v2 tag: the readers stay in
// bounds (AddressSanitizer in the native build) and end.
#include <random>

#include "metaid3.h"

namespace {

TEST(TagReaders, DamagedFilesStayInBounds) {
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"Title");
  set.SetSummaryText(kSummaryTrack, L"3");
  set.SetSummaryText(kSummaryArtist, W("Künstler"));
  set.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("PNGDATA"), 7, 0);
  set.AddEntry(GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, {1, 2, 3});
  WriteTree tree(Moov(FB("mvhd", 0, Bytes(96, '\0'))));
  ASSERT_TRUE(PutiTunesMetaData(set, *tree.boxes).Apply());
  ASSERT_TRUE(PutId3v2MetaData(set, *tree.boxes).Apply());
  const Bytes whole = tree.Written() + Items(Item("gnre", 0, Hex("0011")) + B("----", FB("mean", 0, "m") + FB("name", 0, "n")));
  std::mt19937 rng(77);
  for (int round = 0; round < 2000; ++round) {
    Bytes b = whole;
    int edits = 1 + int(rng() % 5);
    for (int i = 0; i < edits; ++i) {
      size_t at = rng() % b.size();
      switch (rng() % 4) {
        case 0: b[at] = char(rng()); break;
        case 1: b[at] = char(0xFF); break;
        case 2: b[at] = char(0); break;
        default: b.resize(at + 1); break;
      }
    }
    mp4test::Tree t(b, GetReadMetaFactory());
    if (!t.boxes) continue;
    MetaDataSet out;
    GetId3v2MetaData(out, *t.boxes).Apply();
    GetiTunesMetaData(out, *t.boxes).Apply();
  }
}

}  // namespace
