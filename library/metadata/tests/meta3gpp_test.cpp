// 3GPP asset boxes: the bytes the writer puts into moov/udta, what it replaces
// and keeps, and what the reader takes from asset payloads of every form.
#include "meta3gpp.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace fileutil;
using namespace metatest;

namespace {

const Bytes kMvhd = FB("mvhd", 0, Bytes(96, '\0'));

Bytes Moov(const Bytes& children) { return B("ftyp", "M4A " + U32(0) + "M4A isom") + B("moov", children); }
Bytes Asset(const char* type, const Bytes& text) { return FB(type, 0, U16(0x15C7) + text); }
Bytes Yrrc(const Bytes& payload) { return FB("yrrc", 0, payload); }

std::string Texts(const MetaDataSet& set) {
  std::wostringstream out;
  set.DumpTexts(out);
  std::string utf8;
  WideToUtf8(out.str(), utf8);
  return utf8;
}

TEST(Meta3gpp, LanguageCodesPackIntoThreeFiveBitLetters) {
  EXPECT_EQ(PackLanguageCode("eng"), 0x15C7);
  EXPECT_EQ(PackLanguageCode("und"), 0x55C4);
  EXPECT_EQ(PackLanguageCode("deu"), 0x10B5);
  char letters[3];
  UnpackLanguageCode(0x10B5, letters);
  EXPECT_EQ(std::string(letters, 3), "deu");
}

struct PutCase {
  const char* name;
  Bytes before;  // moov's children
  std::vector<std::pair<uint32_t, const char*>> texts;
  Bytes after;
};

TEST(Meta3gpp, WriterReplacesTheMovieAssetsAndKeepsEverythingElse) {
  const Bytes trackUdta = B("trak", B("udta", Asset("titl", Bytes("Track\0", 6))));
  const PutCase cases[] = {
      {"album with track byte, ascending id order (ISRC before INAM)",
       kMvhd + B("udta", ""),
       {{kSummaryTitle, "T"}, {kSummaryAlbum, "Alb"}, {kSummaryTrack, "5"}},
       kMvhd + B("udta", Asset("albm", Bytes("Alb\0\x05", 5)) + Asset("titl", Bytes("T\0", 2)))},
      {"no udta: one is made as moov's last child",
       kMvhd,
       {{kSummaryArtist, "Gr\xC3\xBC\xC3\x9F" "e"}},
       kMvhd + B("udta", Asset("perf", Bytes("Gr\xC3\xBC\xC3\x9F" "e\0", 8)))},
      {"old assets replaced, other boxes kept in place, a track's user data untouched",
       kMvhd + trackUdta +
           B("udta", Asset("titl", Bytes("Old\0", 4)) + B("xyz ", "keep") + Yrrc(Hex("07CF")) +
                         Asset("gnre", Bytes("Rock\0", 5))),
       {{kSummaryTitle, "New"}, {kSummaryDate, "2005"}},
       kMvhd + trackUdta + B("udta", B("xyz ", "keep") + Yrrc(Hex("07D5")) + Asset("titl", Bytes("New\0", 4)))},
      {"a track number one byte cannot hold is left out",
       kMvhd + B("udta", ""),
       {{kSummaryAlbum, "A"}, {kSummaryTrack, "300"}},
       kMvhd + B("udta", Asset("albm", Bytes("A\0", 2)))},
      {"a track number of 0 writes no track byte; n/m keeps n",
       kMvhd + B("udta", ""),
       {{kSummaryAlbum, "A"}, {kSummaryTrack, "12/20"}},
       kMvhd + B("udta", Asset("albm", Bytes("A\0\x0C", 3)))},
      {"a date that is no number is year 0; texts without asset form write nothing",
       kMvhd,
       {{kSummaryDate, "unknown"}, {kSummaryComment, "c"}, {kSummaryLength, "1000"}},
       kMvhd + B("udta", Yrrc(Hex("0000")))},
      {"description, copyright, genre",
       kMvhd,
       {{kSummarySubject, "d"}, {kSummaryCopyright, "c"}, {kSummaryGenre, "g"}},
       kMvhd + B("udta", Asset("dscp", Bytes("d\0", 2)) + Asset("cprt", Bytes("c\0", 2)) +
                             Asset("gnre", Bytes("g\0", 2)))},
  };
  for (const PutCase& c : cases) {
    WriteTree tree(Moov(c.before));
    ASSERT_TRUE(tree.boxes) << c.name;
    MetaDataSet set;
    for (auto& t : c.texts) set.SetSummaryText(t.first, W(t.second));
    EXPECT_TRUE(Put3gppMetaData(set, *tree.boxes).Apply()) << c.name;
    EXPECT_EQ(Printable(tree.Written()), Printable(Moov(c.after))) << c.name;
  }
}

TEST(Meta3gpp, RemoverLeavesATreeWithoutMoovAlone) {
  WriteTree tree(B("ftyp", "M4A " + U32(0)) + B("free", ""));
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"T");
  EXPECT_FALSE(Put3gppMetaData(set, *tree.boxes).Apply());
  Del3gppMetaData(*tree.boxes).Apply();
  EXPECT_EQ(tree.Written(), B("ftyp", "M4A " + U32(0)) + B("free", ""));
}

struct GetCase {
  const char* name;
  Bytes udta;
  const char* expected;
};

TEST(Meta3gpp, ReaderTakesTextsTrackByteAndYearFromEachPayloadForm) {
  const GetCase cases[] = {
      {"UTF-8 title with terminator", Asset("titl", Bytes("Gr\xC3\xBC\xC3\x9F" "e\0", 8)),
       "INAM = \"Gr\xC3\xBC\xC3\x9F" "e\"\n"},
      {"little-endian UTF-16 with mark", Asset("titl", Hex("FFFE 4800 6900")), "INAM = \"Hi\"\n"},
      {"big-endian UTF-16 with mark", Asset("dscp", Hex("FEFF 0048 00E9 0000")), "ISBJ = \"H\xC3\xA9\"\n"},
      {"one byte", Asset("cprt", "X"), "ICOP = \"X\"\n"},
      {"empty payload stores nothing", Asset("perf", ""), ""},
      {"genre", Asset("gnre", Bytes("Jazz\0", 5)), "IGNR = \"Jazz\"\n"},
      {"album with track byte", Asset("albm", Bytes("Alb\0\x07", 5)), "ISRC = \"Alb\"\nTRCK = \"7\"\n"},
      {"album without track byte", Asset("albm", Bytes("Alb\0", 4)), "ISRC = \"Alb\"\n"},
      {"album without terminator keeps its last letter", Asset("albm", "Album"), "ISRC = \"Album\"\n"},
      {"track byte read unsigned", Asset("albm", Bytes("A\0\x80", 3)), "ISRC = \"A\"\nTRCK = \"128\"\n"},
      {"UTF-16 album with track byte", Asset("albm", Hex("FFFE 4100 0000 07")), "ISRC = \"A\"\nTRCK = \"7\"\n"},
      {"year as 16-bit number", Yrrc(Hex("07D5")), "ICRD = \"2005\"\n"},
      {"year as four ASCII digits", Yrrc("1999"), "ICRD = \"1999\"\n"},
      {"year of 3 bytes is no year", Yrrc(Hex("07D500")), ""},
      {"year 0 is no year", Yrrc(Hex("0000")), ""},
      {"first text of an id stays", Asset("titl", Bytes("A\0", 2)) + Asset("titl", Bytes("B\0", 2)),
       "INAM = \"A\"\n"},
  };
  for (const GetCase& c : cases) {
    mp4test::Tree tree(Moov(kMvhd + B("udta", c.udta)), GetReadMetaFactory());
    ASSERT_TRUE(tree.boxes) << c.name;
    MetaDataSet set;
    Get3gppMetaData(set, *tree.boxes).Apply();
    EXPECT_EQ(Texts(set), c.expected) << c.name;
  }
}

TEST(Meta3gpp, ReaderKeepsTextsAnEarlierReaderStored) {
  mp4test::Tree tree(Moov(B("udta", Asset("titl", Bytes("Asset\0", 6)) + Asset("perf", Bytes("P\0", 2)))),
                     GetReadMetaFactory());
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"Earlier");
  Get3gppMetaData(set, *tree.boxes).Apply();
  EXPECT_EQ(Texts(set), "INAM = \"Earlier\"\nIART = \"P\"\n");
}

Bytes Mdhd(uint32_t timescale, uint32_t duration) {
  return FB("mdhd", 0, U32(0) + U32(0) + U32(timescale) + U32(duration) + U16(0x55C4) + U16(0));
}
Bytes Stsd() {
  Bytes mp4a = B("mp4a", Bytes(6, '\0') + U16(1) + Bytes(8, '\0') + U16(2) + U16(16) + U16(0) + U16(0) +
                             U32(44100u << 16));
  return B("minf", B("stbl", FB("stsd", 0, U32(1) + mp4a)));
}

TEST(Meta3gpp, LengthComesOnlyFromAMediaHeaderAfterTheAudioEntryOfTheSameTrack) {
  struct Case {
    const char* name;
    Bytes moov;
    const char* expected;
  } cases[] = {
      {"usual track order: header before the sample entry", B("trak", B("mdia", Mdhd(1000, 5000) + Stsd())), ""},
      {"a second track's header is not this track's length",
       B("trak", B("mdia", Mdhd(1000, 5000) + Stsd())) + B("trak", B("mdia", Mdhd(600, 900))), ""},
      {"header after the sample entry", B("trak", B("mdia", Stsd() + Mdhd(48000, 96000))),
       "TLEN = \"2000\"\n"},
      {"time scale 0 gives no length", B("trak", B("mdia", Stsd() + Mdhd(0, 96000))), ""},
  };
  for (auto& c : cases) {
    mp4test::Tree tree(Moov(c.moov), GetReadMetaFactory());
    ASSERT_TRUE(tree.boxes) << c.name;
    MetaDataSet set;
    Get3gppMetaData(set, *tree.boxes).Apply();
    EXPECT_EQ(Texts(set), c.expected) << c.name;
  }
}

}  // namespace
