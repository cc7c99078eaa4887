// The summary, generic and entry stream layouts and the picture block size,
// written from a set and loaded back, also from truncated and lying streams.
#include "metablocks.h"
#include "metadataset.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace fileutil;

namespace {

const GUID kGuidA = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}};

std::vector<uint32_t> Words(const ByteVector& b, size_t from, size_t count) {
  std::vector<uint32_t> w;
  for (size_t i = 0; i < count; ++i) w.push_back(GetLE32(b.data() + from + 4 * i));
  return w;
}

TEST(MetaStreamLayout, SummaryStreamHoldsTheTextsInIdOrderWithTheirNuls) {
  MetaDataSet set;
  ByteVector empty;
  ASSERT_EQ(BuildSummaryStream(set, empty), S_OK);
  EXPECT_EQ(empty, ByteVector({12, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0}));

  set.SetSummaryText(kSummaryTitle, L"abc");
  set.SetSummaryText(kSummaryTrack, L"7");
  ByteVector s;
  ASSERT_EQ(BuildSummaryStream(set, s), S_OK);
  // (2 items + 1) x 12 + byte counts 4 and 8.
  ASSERT_EQ(s.size(), 3u * 12 + 4 + 8);
  EXPECT_EQ(Words(s, 0, 3), (std::vector<uint32_t>{12, 100, 2}));
  EXPECT_EQ(Words(s, 12, 3), (std::vector<uint32_t>{12, kSummaryTrack, 4}));
  EXPECT_EQ(ByteVector(s.begin() + 24, s.begin() + 28), ByteVector({'7', 0, 0, 0}));
  EXPECT_EQ(Words(s, 28, 3), (std::vector<uint32_t>{12, kSummaryTitle, 8}));
  EXPECT_EQ(ByteVector(s.begin() + 40, s.end()), ByteVector({'a', 0, 'b', 0, 'c', 0, 0, 0}));

  MetaDataSet back;
  MemoryByteSource source(s.data(), s.size());
  back.LoadSummarySource(source);
  EXPECT_EQ(back.Texts(), set.Texts());
}

TEST(MetaStreamLayout, GenericAndEntryStreamsCarryTheEntriesOfOneGuid) {
  MetaDataSet set;
  set.AddEntry(kGuidA, ByteVector({1, 2, 3}));
  set.AddEntry(kPictureEntryGuid, ByteVector({9}));
  set.AddEntry(kGuidA, ByteVector({4, 5}));
  ByteVector g;
  ASSERT_EQ(BuildGenericStream(set, kGuidA, g), S_OK);
  ASSERT_EQ(g.size(), 3u * 28 + 5);
  EXPECT_EQ(Words(g, 0, 3), (std::vector<uint32_t>{28, 100, 2}));
  EXPECT_EQ(std::memcmp(g.data() + 12, &kGuidA, 16), 0);
  EXPECT_EQ(Words(g, 28, 2), (std::vector<uint32_t>{28, 100}));
  EXPECT_EQ(std::memcmp(g.data() + 36, &kGuidA, 16), 0);
  EXPECT_EQ(GetLE32(g.data() + 52), 3u);
  EXPECT_EQ(ByteVector(g.begin() + 56, g.begin() + 59), ByteVector({1, 2, 3}));
  EXPECT_EQ(GetLE32(g.data() + 59 + 24), 2u);

  ByteVector e;
  ASSERT_EQ(BuildEntryStream(set, kGuidA, e), S_OK);
  EXPECT_EQ(e, ByteVector({12, 0, 0, 0, 100, 0, 0, 0, 2, 0, 0, 0, 1, 2, 3, 4, 5}));

  MetaDataSet back;
  MemoryByteSource source(g.data(), g.size());
  back.LoadGenericSource(source);
  ASSERT_EQ(back.CountEntries(kGuidA), 2u);
  EXPECT_EQ(back.Entries().find(kGuidA)->second, ByteVector({1, 2, 3}));
  EXPECT_EQ(back.CountEntries(kPictureEntryGuid), 0u);
}

TEST(MetaStreamLayout, PictureBlockSizeCountsTextsWithTheirNuls) {
  std::wstring png = L"image/png";
  EXPECT_EQ(PictureBlockSize(&png, nullptr, 100), 24u + 20 + 0 + 100);
  std::wstring empty;
  EXPECT_EQ(PictureBlockSize(&empty, &empty, 0), 24u + 2 + 2);
}

TEST(MetaStreamLayout, TruncatedStreamsLoadTheirWholeItemsOnly) {
  MetaDataSet set;
  set.SetSummaryText(kSummaryArtist, L"Band");
  set.SetSummaryText(kSummaryTitle, L"Title");
  set.AddEntry(kGuidA, ByteVector(40, 7));
  set.AddEntry(kGuidA, ByteVector(3, 1));
  ByteVector s, g;
  ASSERT_EQ(BuildSummaryStream(set, s), S_OK);
  ASSERT_EQ(BuildGenericStream(set, kGuidA, g), S_OK);
  for (size_t cut = 0; cut <= s.size(); ++cut) {
    MetaDataSet back;
    MemoryByteSource source(s.data(), cut);
    back.LoadSummarySource(source);
    // INAM ("Title", 12 bytes of text) comes before IART.
    size_t expected = cut >= s.size() ? 2 : cut >= 12 + 12 + 12 ? 1 : 0;
    EXPECT_EQ(back.Texts().size(), expected) << "cut at " << cut;
  }
  for (size_t cut = 0; cut <= g.size(); ++cut) {
    MetaDataSet back;
    MemoryByteSource source(g.data(), cut);
    back.LoadGenericSource(source);
    size_t expected = cut >= g.size() ? 2 : cut >= 28 + 28 + 40 ? 1 : 0;
    EXPECT_EQ(back.CountEntries(kGuidA), expected) << "cut at " << cut;
    for (auto& e : back.Entries()) EXPECT_TRUE(e.second == ByteVector(40, 7) || e.second == ByteVector(3, 1));
  }
}

TEST(MetaStreamLayout, SizesClaimedByAStreamAllocateNoMoreThanItHolds) {
  // A summary item and a generic entry each claiming almost 4 GB of data.
  ByteVector s = {12, 0, 0, 0, 100, 0, 0, 0, 1, 0, 0, 0, 12, 0, 0, 0, 'I', 'N', 'A', 'M', 0xF0, 0xFF, 0xFF, 0xFF,
                  'a', 0};
  MetaDataSet a;
  MemoryByteSource sa(s.data(), s.size());
  a.LoadSummarySource(sa);
  EXPECT_TRUE(a.Texts().empty());

  ByteVector g(56, 0);
  PutLE32(g.data(), 28);
  PutLE32(g.data() + 4, 100);
  PutLE32(g.data() + 8, 0x7FFFFFFF);  // count
  PutLE32(g.data() + 28, 28);
  PutLE32(g.data() + 52, 0xFFFFFFF0u);
  MetaDataSet b;
  MemoryByteSource sb(g.data(), g.size());
  b.LoadGenericSource(sb);
  EXPECT_TRUE(b.Entries().empty());

  // A negative count loads nothing.
  PutLE32(g.data() + 8, 0x80000000u);
  MetaDataSet c;
  MemoryByteSource sc(g.data(), g.size());
  c.LoadGenericSource(sc);
  EXPECT_TRUE(c.Entries().empty());
}

TEST(MetaStreamLayout, AOneByteTextIsSkippedAndTheNextItemStillFound) {
  ByteVector s = {12, 0, 0, 0, 100, 0, 0, 0, 2, 0, 0, 0,
                  12, 0, 0, 0, 'T', 'R', 'A', 'I', 1, 0, 0, 0, 'x',
                  12, 0, 0, 0, 'I', 'N', 'A', 'M', 4, 0, 0, 0, 'o', 0, 0, 0};
  MetaDataSet set;
  MemoryByteSource source(s.data(), s.size());
  set.LoadSummarySource(source);
  EXPECT_FALSE(set.HasSummaryText(FCC("TRAI")));
  EXPECT_EQ(set.GetSummaryText(kSummaryTitle), L"o");
}

}  // namespace
