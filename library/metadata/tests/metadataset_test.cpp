// The metadata set's rules: the first value of an id stays (also when several
// readers fill one set), entries keep their order, the representations convert
// into each other, and the file and stream loaders survive damaged input.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "metablocks.h"
#include "metadataset.h"
#include "metatest_util.h"
#include "summaryids.h"
#include "vog_files.h"

using namespace fileutil;
using metatest::W;

namespace {

const GUID kGuidA = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}};
const GUID kGuidB = {0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};

ByteVector BV(const char* s) { return ByteVector(s, s + std::strlen(s)); }

std::string Dump(const MetaDataSet& set) {
  std::wostringstream out;
  set.DumpTexts(out);
  std::string utf8;
  WideToUtf8(out.str(), utf8);
  return utf8;
}

// One call of SetSummaryText as a tag reader makes it.
struct Store {
  const char* reader;
  uint32_t id;
  const char* text;
};

struct FirstValueCase {
  const char* name;
  std::vector<Store> stores;
  const char* expected;  // DumpTexts of the result
};

TEST(MetaDataSet, FirstValueOfAnIdStaysWhateverReaderStoresItLater) {
  const FirstValueCase cases[] = {
      {"one reader, one text", {{"3gpp", kSummaryTitle, "Song"}}, "INAM = \"Song\"\n"},
      {"same id twice", {{"3gpp", kSummaryTitle, "First"}, {"3gpp", kSummaryTitle, "Second"}}, "INAM = \"First\"\n"},
      {"id 0 is never stored", {{"3gpp", 0, "nothing"}}, ""},
      {"empty first text still decides",
       {{"id3", kSummaryArtist, ""}, {"itunes", kSummaryArtist, "Band"}},
       "IART = \"\"\n"},
      {"3GPP then ID3v2 then iTunes: the earliest reader wins per id",
       {{"3gpp", kSummaryTitle, "3gpp title"},
        {"id3", kSummaryTitle, "id3 title"},
        {"id3", kSummaryArtist, "id3 artist"},
        {"itunes", kSummaryTitle, "itunes title"},
        {"itunes", kSummaryArtist, "itunes artist"},
        {"itunes", kSummaryTrack, "7"}},
       // ascending 32-bit value: the last letter is the most significant byte
       "TRCK = \"7\"\nINAM = \"3gpp title\"\nIART = \"id3 artist\"\n"},
      {"non-ASCII text kept as given", {{"itunes", kSummaryTitle, "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5"}},
       "INAM = \"Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\"\n"},
  };
  for (const FirstValueCase& c : cases) {
    MetaDataSet set;
    for (const Store& s : c.stores) set.SetSummaryText(s.id, W(s.text));
    EXPECT_EQ(Dump(set), c.expected) << c.name;
  }
}

TEST(MetaDataSet, PicturesKeepTheFirstOfATypeAndEntriesKeepEveryOneInOrder) {
  MetaDataSet set;
  EXPECT_TRUE(set.IsEmpty());
  const uint8_t first[] = {1, 2, 3}, second[] = {9};
  set.AddPicture(L"image/png", first, sizeof(first), 3);
  set.AddPicture(L"image/jpeg", second, sizeof(second), 3);
  set.AddPicture(L"image/jpeg", second, sizeof(second), 0);
  ASSERT_EQ(set.Pictures().size(), 2u);
  EXPECT_EQ(set.Pictures().at(3).mimeType, L"image/png");
  EXPECT_EQ(set.Pictures().at(3).data, ByteVector(first, first + 3));

  set.AddEntry(kGuidA, BV("one"));
  set.AddEntry(kGuidB, BV("other"));
  set.AddEntry(kGuidA, BV("two"));
  set.AddEntry(kGuidA, BV(""));
  EXPECT_EQ(set.CountEntries(kGuidA), 3u);
  EXPECT_EQ(set.EntriesByteSize(kGuidA), 6u);
  EXPECT_EQ(set.CountEntries(kPictureEntryGuid), 0u);
  std::vector<ByteVector> order;
  auto range = set.Entries().equal_range(kGuidA);
  for (auto it = range.first; it != range.second; ++it) order.push_back(it->second);
  EXPECT_EQ(order, (std::vector<ByteVector>{BV("one"), BV("two"), BV("")}));
  // GUIDs order by their bytes in memory: kGuidB's first byte (04) is below kGuidA's (44).
  EXPECT_TRUE(KvGuidEquals(set.Entries().begin()->first, kGuidB));

  EntryMap copy;
  set.CopyEntries(copy);
  EXPECT_EQ(copy.size(), 4u);

  set.SetSummaryText(kSummaryTitle, L"abc");
  set.SetSummaryText(kSummaryArtist, L"");
  EXPECT_EQ(set.TextsByteSize(), 8u + 2u);
  set.ClearTextsAndPictures();
  EXPECT_TRUE(set.Texts().empty());
  EXPECT_TRUE(set.Pictures().empty());
  EXPECT_FALSE(set.IsEmpty());
  set.Clear();
  EXPECT_TRUE(set.IsEmpty());
}

struct MergeCase {
  const char* name;
  std::vector<std::pair<uint32_t, const char*>> mine, theirs;
  bool withPicture;
  bool expectedDiffer;
  const char* expectedTexts;
};

TEST(MetaDataSet, MergeTextsAddsMissingIdsAndTellsWhetherAnythingDiffers) {
  const MergeCase cases[] = {
      {"both empty", {}, {}, false, false, ""},
      {"same texts", {{kSummaryTitle, "a"}}, {{kSummaryTitle, "a"}}, false, false, "INAM = \"a\"\n"},
      {"same texts, but a picture here", {{kSummaryTitle, "a"}}, {{kSummaryTitle, "a"}}, true, true,
       "INAM = \"a\"\n"},
      {"other text for one id: mine stays", {{kSummaryTitle, "a"}}, {{kSummaryTitle, "b"}}, false, true,
       "INAM = \"a\"\n"},
      {"id only here", {{kSummaryTitle, "a"}}, {}, false, true, "INAM = \"a\"\n"},
      {"id only there is copied", {}, {{kSummaryArtist, "x"}}, false, true, "IART = \"x\"\n"},
  };
  for (const MergeCase& c : cases) {
    MetaDataSet mine, theirs;
    for (auto& t : c.mine) mine.SetSummaryText(t.first, W(t.second));
    for (auto& t : c.theirs) theirs.SetSummaryText(t.first, W(t.second));
    if (c.withPicture) mine.AddPicture(L"image/png", nullptr, 0, 0);
    EXPECT_EQ(mine.MergeTexts(theirs), c.expectedDiffer) << c.name;
    EXPECT_EQ(Dump(mine), c.expectedTexts) << c.name;
  }
}

TEST(MetaDataSet, GuidTextIsBracedLowerCaseAndParsesBackStrictly) {
  EXPECT_EQ(GuidToString(kPictureEntryGuid), L"{20636970-acf2-11d3-8cd1-00c04f8edb8a}");
  EXPECT_EQ(GuidToString(kSmfmfEntryGuid), L"{6d666d73-acf2-11d3-8cd1-00c04f8edb8a}");
  EXPECT_EQ(GuidToString(GUID()), L"{00000000-0000-0000-0000-000000000000}");
  GUID g;
  ASSERT_TRUE(StringToGuid(GuidToString(kGuidA), g));
  EXPECT_TRUE(KvGuidEquals(g, kGuidA));
  ASSERT_TRUE(StringToGuid(L"{20636970-ACF2-11D3-8CD1-00C04F8EDB8A}", g));
  EXPECT_TRUE(KvGuidEquals(g, kPictureEntryGuid));
  const wchar_t* refused[] = {L"", L"20636970-acf2-11d3-8cd1-00c04f8edb8a", L"{20636970-acf2-11d3-8cd1-00c04f8edb8}",
                              L"{20636970-acf2-11d3-8cd1-00c04f8edb8a}x", L"{20636970+acf2-11d3-8cd1-00c04f8edb8a}",
                              L"{2063697g-acf2-11d3-8cd1-00c04f8edb8a}"};
  for (const wchar_t* text : refused) {
    EXPECT_FALSE(StringToGuid(text, g)) << std::string(text, text + std::wcslen(text));
    EXPECT_TRUE(KvGuidEquals(g, GUID()));
  }
}

struct GenericCase {
  const char* name;
  const wchar_t* mime;
  std::wstring description;
  bool accepted;
};

TEST(MetaDataSet, OnlyBinaryItemsNamedAfterANonNullGuidBecomeEntries) {
  const std::wstring a = GuidToString(kGuidA);
  const GenericCase cases[] = {
      {"host record", L"application/binary", L"ORVANE_" + a, true},
      {"all-zero GUID", L"application/binary", L"ORVANE_{00000000-0000-0000-0000-000000000000}", false},
      {"MIME type compared with case", L"Application/Binary", L"ORVANE_" + a, false},
      {"no prefix", L"application/binary", a, false},
      {"prefix in other case", L"application/binary", L"orvane_" + a, false},
      {"not a GUID after the prefix", L"application/binary", L"ORVANE_picture", false},
      {"trailing text after the GUID", L"application/binary", L"ORVANE_" + a + L" ", false},
      {"SMFMF item", L"Application/SMFMF", L"USR_SMFMF", false},
  };
  for (const GenericCase& c : cases) {
    GenericItem item;
    item.mimeType = c.mime;
    item.description = c.description;
    item.data = BV("payload");
    GUID guid;
    ByteVector bytes;
    EXPECT_EQ(GenericItemToEntry(item, guid, bytes), c.accepted) << c.name;
    MetaDataSet set;
    set.AddGenericItem(item);
    set.ExportGenericEntries();
    EXPECT_EQ(set.CountEntries(kGuidA), c.accepted ? 1u : 0u) << c.name;
  }
  GenericItem item = EntryToGenericItem(kGuidA, BV("xyz"));
  EXPECT_EQ(item.mimeType, L"application/binary");
  EXPECT_EQ(item.description, L"ORVANE_" + a);
  EXPECT_EQ(item.fileName, a + L".bin");
  EXPECT_EQ(item.data, BV("xyz"));
}

TEST(MetaDataSet, PicturesAndSmfmfTravelAsBlocksAndBack) {
  MetaDataSet source;
  const uint8_t png[] = {0x89, 'P', 'N', 'G', 0, 1};
  PictureRecord front;
  front.type = 3;
  front.mimeType = L"image/png";
  front.description = W("Fr\xC3\xBChling");
  front.data.assign(png, png + sizeof(png));
  source.AddPicture(front);
  source.AddPicture(L"image/jpeg", png, 2, 0);
  source.AddSmfmf(BV("smf data"));
  source.ExportPictures();
  source.ExportSmfmf();
  ASSERT_EQ(source.CountEntries(kPictureEntryGuid), 2u);
  ASSERT_EQ(source.CountEntries(kSmfmfEntryGuid), 1u);
  const ByteVector& smfmf = source.Entries().find(kSmfmfEntryGuid)->second;
  ASSERT_EQ(smfmf.size(), 16u + 8u);
  EXPECT_EQ(GetLE32(smfmf.data()), 24u);
  EXPECT_EQ(GetLE32(smfmf.data() + 4), 0x10041u);
  EXPECT_EQ(GetLE32(smfmf.data() + 8), 2u);
  EXPECT_EQ(GetLE32(smfmf.data() + 12), 8u);

  MetaDataSet target;
  for (const auto& e : source.Entries()) target.AddEntry(e.first, e.second);
  target.ImportPictures();
  target.ImportSmfmf();
  ASSERT_EQ(target.Pictures().size(), 2u);
  const PictureRecord& back = target.Pictures().at(3);
  EXPECT_EQ(back.mimeType, front.mimeType);
  EXPECT_EQ(back.description, front.description);
  EXPECT_EQ(back.data, front.data);
  EXPECT_EQ(target.Pictures().at(0).description, L"");
  ASSERT_EQ(target.GenericItems().count(kSmfmfMimeType), 1u);
  const GenericItem& smf = target.GenericItems().find(kSmfmfMimeType)->second;
  EXPECT_EQ(smf.description, L"USR_SMFMF");
  EXPECT_EQ(smf.data, BV("smf data"));
}

TEST(MetaDataSet, BlocksWhoseCountsPassTheirBytesAreNotImported) {
  PictureRecord pic;
  pic.type = 0;
  pic.mimeType = L"image/png";
  pic.data = BV("12345678");
  ByteVector block;
  ASSERT_TRUE(MakePictureBlock(pic, block));
  for (size_t cut = 0; cut < block.size(); ++cut) {
    MetaDataSet set;
    set.AddEntry(kPictureEntryGuid, ByteVector(block.begin(), block.begin() + ptrdiff_t(cut)));
    ByteVector huge = block;
    PutLE32(huge.data() + 20, 0xFFFFFFF0u);  // data size far past the block
    set.AddEntry(kPictureEntryGuid, huge);
    set.ImportPictures();
    EXPECT_TRUE(set.Pictures().empty()) << "cut at " << cut;
  }
  MetaDataSet set;
  ByteVector smf = {24, 0, 0, 0, 0x41, 0, 1, 0, 2, 0, 0, 0, 200, 0, 0, 0, 'x'};
  set.AddEntry(kSmfmfEntryGuid, smf);
  set.ImportSmfmf();
  EXPECT_TRUE(set.GenericItems().empty());
}

// A host stream that answers S_OK with nothing once its data is used up.
class EndlessOkSource : public IMetaByteSource {
 public:
  explicit EndlessOkSource(const ByteVector& data, uint32_t step) : data_(data), step_(step) {}
  HRESULT Rewind() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT Read(void* buffer, uint32_t requested, uint32_t* delivered) override {
    ++reads;
    uint32_t n = uint32_t(std::min<size_t>({size_t(requested), size_t(step_), data_.size() - at_}));
    std::memcpy(buffer, data_.data() + at_, n);
    at_ += n;
    *delivered = n;
    return S_OK;
  }
  int reads = 0;

 private:
  ByteVector data_;
  uint32_t step_;
  size_t at_ = 0;
};

TEST(MetaDataSet, EntryFromAStreamEndsWhenTheStreamDeliversNothing) {
  ByteVector data;
  for (int i = 0; i < 10000; ++i) data.push_back(uint8_t(i * 7));
  for (uint32_t step : {1u, 3u, 4096u, 100000u}) {
    EndlessOkSource source(data, step);
    MetaDataSet set;
    set.AddEntryFromSource(kGuidA, source);
    ASSERT_EQ(set.CountEntries(kGuidA), 1u);
    EXPECT_EQ(set.Entries().find(kGuidA)->second, data) << "step " << step;
    EXPECT_LT(source.reads, 20000);
  }
}

TEST(MetaDataSet, PictureFromAShortStreamIsNotKept) {
  std::istringstream in(std::string("abc"));
  MetaDataSet set;
  set.AddPicture(L"image/png", L"d", in, 4, 0);
  EXPECT_TRUE(set.Pictures().empty());
  std::istringstream full(std::string("abcd"));
  set.AddPicture(L"image/png", L"d", full, 4, 0);
  ASSERT_EQ(set.Pictures().size(), 1u);
  EXPECT_EQ(set.Pictures().at(0).data, BV("abcd"));
}

// Files in the working directory of the test (the bin folder).
struct TempFile {
  TempFile(const std::string& name, const std::string& bytes) : path(name) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::wstring Wide() const { return std::wstring(path.begin(), path.end()); }
  std::string path;
};

using vogtest::ReadText;

TEST(MetaDataSet, PictureFilesGiveTypeFromTheNameAndMimeFromTheExtension) {
  TempFile numbered("7cover_meta_test.png", "PNGDATA");
  TempFile plain("front_meta_test.jpeg", "JPEGDATA");
  MetaDataSet set;
  EXPECT_TRUE(set.AddPictureFromFile(numbered.Wide().c_str()));
  EXPECT_TRUE(set.AddPictureFromFile(plain.Wide().c_str()));
  EXPECT_FALSE(set.AddPictureFromFile(L"4_missing_meta_test.png"));
  ASSERT_EQ(set.Pictures().size(), 2u);
  EXPECT_EQ(set.Pictures().at(7).mimeType, L"image/png");
  EXPECT_EQ(set.Pictures().at(7).data, BV("PNGDATA"));
  EXPECT_EQ(set.Pictures().at(0).mimeType, L"image/jpeg");
  EXPECT_EQ(set.Pictures().count(4), 0u);

  // Saved as "<base>.<description>.<type>.<subtype>".
  PictureRecord described;
  described.type = 5;
  described.mimeType = L"image/gif";
  described.description = L"desc";
  described.data = BV("GIF");
  set.AddPicture(described);
  PictureRecord noSlash;
  noSlash.type = 9;
  noSlash.mimeType = L"png";
  set.AddPicture(noSlash);
  ASSERT_TRUE(set.SavePictures(L".", L"saved"));
  EXPECT_EQ(ReadText("saved.NO_DESCRIPTION.7.png"), "PNGDATA");
  EXPECT_EQ(ReadText("saved.NO_DESCRIPTION.0.jpeg"), "JPEGDATA");
  EXPECT_EQ(ReadText("saved.desc.5.gif"), "GIF");
  std::ifstream none("saved.NO_DESCRIPTION.9.png");
  EXPECT_FALSE(none.good());
  for (const char* f : {"saved.NO_DESCRIPTION.7.png", "saved.NO_DESCRIPTION.0.jpeg", "saved.desc.5.gif"})
    std::remove(f);
}

TEST(MetaDataSet, GeobFilesAreParsedInEachEncodingAndRefusedWithoutTerminators) {
  typedef std::string Bytes;
#define S(literal) std::string(literal, sizeof(literal) - 1)
  struct Case {
    const char* name;
    Bytes body;
    bool accepted;
    const char* fileName;
    const char* description;
  } cases[] = {
      {"ISO-8859-1", S("\x00text/plain\x00" "f\xE9.txt\x00" "d\x00" "DATA"), true, "f\xC3\xA9.txt", "d"},
      {"UTF-8", S("\x03text/plain\x00" "f\xC3\xA9\x00" "\x00" "DATA"), true, "f\xC3\xA9", ""},
      {"UTF-16 with mark", S("\x01x/y\x00\xFF\xFE" "a\x00\x00\x00\xFF\xFE" "b\x00\x00\x00" "DATA"), true,
       "a", "b"},
      {"UTF-16 big-endian", S("\x02x/y\x00\x00" "a\x00\x00\x00" "b\x00\x00" "DATA"), true, "a", "b"},
      {"no MIME terminator", S("\x00text/plain"), false, "", ""},
      {"no description terminator", S("\x00x/y\x00" "name\x00" "desc"), false, "", ""},
      {"empty file", Bytes(), false, "", ""},
  };
#undef S
  for (auto& c : cases) {
    TempFile file("geob_meta_test.bin", c.body);
    MetaDataSet set;
    EXPECT_EQ(set.AddGenericItemFromFile(file.Wide().c_str()), c.accepted) << c.name;
    if (!c.accepted) {
      EXPECT_TRUE(set.GenericItems().empty()) << c.name;
      continue;
    }
    ASSERT_EQ(set.GenericItems().size(), 1u) << c.name;
    const GenericItem& item = set.GenericItems().begin()->second;
    EXPECT_EQ(item.fileName, W(c.fileName)) << c.name;
    EXPECT_EQ(item.description, W(c.description)) << c.name;
    EXPECT_EQ(item.data, fileutil::ByteVector({'D', 'A', 'T', 'A'})) << c.name;
  }
  TempFile smf("smf_meta_test.mid", "MThd");
  MetaDataSet set;
  EXPECT_TRUE(set.AddSmfmfFile(smf.Wide().c_str()));
  EXPECT_FALSE(set.AddSmfmfFile(L"missing_meta_test.mid"));
  ASSERT_EQ(set.GenericItems().size(), 1u);
  EXPECT_EQ(set.GenericItems().begin()->first, L"Application/SMFMF");
}

}  // namespace
