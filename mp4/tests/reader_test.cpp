// The box reader: header rules, payload layouts, factories per context, and
// hostile sizes and counts that must give a shorter tree, never a large
// allocation or a read past a box.
#include "mp4_test_util.h"

#include "boxes.h"
#include "vog_tools.h"

using namespace mp4test;
using namespace fileutil;

namespace {

const Bytes kFtyp = B("ftyp", "M4A " + U32(0) + "isom");

struct TreeCase {
  const char* name;
  Bytes file;
  const char* expected;  // "depth type offset size" lines
};

}  // namespace

TEST(BoxReader, HeaderRules) {
  const TreeCase cases[] = {
      {"mdat of size 0 runs to the end", kFtyp + U32(0) + "mdat" + "abcdef",
       "0 ftyp 0 20\n0 mdat 20 14\n"},
      {"free of size 0 ends the file", kFtyp + U32(0) + "free" + "abcdef", "0 ftyp 0 20\n"},
      {"64-bit size 24: 16-byte header, 8 bytes payload", U32(1) + "free" + U64(24) + "12345678" + kFtyp,
       "0 free 0 24\n0 ftyp 24 20\n"},
      {"64-bit size below its header is refused", U32(1) + "free" + U64(12) + "1234" + kFtyp, "(null)"},
      {"size 7 ends the list", kFtyp + U32(7) + "free" + Bytes(20, 'x'), "0 ftyp 0 20\n"},
      {"a box larger than the file is refused", kFtyp + U32(1000) + "free" + Bytes(20, 'x'), "0 ftyp 0 20\n"},
      {"moov whose second child has size 4 keeps its first child; the next box is read",
       B("moov", B("free", "ab") + U32(4) + "free" + Bytes(8, 'z')) + kFtyp,
       "0 moov 0 34\n1 free 8 10\n0 ftyp 34 20\n"},
      {"mvhd is an unknown box", B("moov", FB("mvhd", 0, Bytes(96, 0)) + B("trak", "")) + kFtyp,
       "0 moov 0 124\n1 mvhd 8 108\n1 trak 116 8\n0 ftyp 124 20\n"},
      {"uuid below 24 bytes is refused", kFtyp + B("uuid", Bytes(10, 1)), "0 ftyp 0 20\n"},
      {"data below 12 bytes is refused",
       B("moov", B("udta", B("meta", U32(0) + B("ilst", B("\xA9nam", B("data", "ab")))))),
       "0 moov 0 54\n1 udta 8 46\n2 meta 16 38\n3 ilst 28 26\n4 \xA9nam 36 18\n"},
      {"trailing bytes shorter than a header end the file", kFtyp + "abc", "0 ftyp 0 20\n"},
  };
  for (const TreeCase& c : cases) {
    Tree tree(c.file);
    EXPECT_EQ(c.expected, tree.Dump()) << c.name;
  }
}

TEST(BoxReader, MediaDataKeepsItsPlace) {
  Tree tree(kFtyp + U32(0) + "mdat" + Bytes(100, 7));
  MediaDataBox* mdat = tree.Find<MediaDataBox>("mdat");
  ASSERT_TRUE(mdat);
  EXPECT_EQ(108u, mdat->GetSize());
  EXPECT_EQ(mdat->GetSize(), mdat->GetWriteSize());
  EXPECT_EQ(mdat->GetOffset(), mdat->GetWriteOffset());
}

TEST(BoxReader, FileTypeBrands) {
  Bytes brands99, brands100;
  for (int i = 0; i < 99; ++i) brands99 += "isom";
  brands100 = brands99 + "mp42";
  Tree a(B("ftyp", "M4A " + U32(0) + brands99)), b(B("ftyp", "M4A " + U32(0) + brands100));
  ASSERT_TRUE(a.Find<FileTypeBox>("ftyp") && b.Find<FileTypeBox>("ftyp"));
  EXPECT_EQ(99u, a.Find<FileTypeBox>("ftyp")->compatibleBrands.size());
  EXPECT_EQ(0u, b.Find<FileTypeBox>("ftyp")->compatibleBrands.size());
  EXPECT_EQ(FourCC("M4A "), a.Find<FileTypeBox>("ftyp")->majorBrand);
}

TEST(BoxReader, SampleTables) {
  Bytes sizes;
  for (int i = 0; i < 12; ++i) sizes += U32(100 + i);
  Bytes stbl = B("stbl", FB("stsz", 0, U32(0) + U32(10) + sizes) +
                               FB("stco", 0, U32(3) + U32(100) + U32(200)) +
                               FB("co64", 0, U32(2) + U64(1ull << 33) + U64(5)) +
                               FB("stts", 0, U32(1) + U32(5) + U32(1024) + "xyz") +
                               FB("stsc", 0, U32(1) + U32(1) + U32(10) + U32(1)));
  Tree tree(B("moov", B("trak", B("mdia", B("minf", stbl)))));
  SampleSizeBox* stsz = tree.Find<SampleSizeBox>("stsz");
  ChunkOffsetBox* stco = tree.Find<ChunkOffsetBox>("stco");
  ChunkLargeOffsetBox* co64 = tree.Find<ChunkLargeOffsetBox>("co64");
  TimeToSampleBox* stts = tree.Find<TimeToSampleBox>("stts");
  SampleToChunkBox* stsc = tree.Find<SampleToChunkBox>("stsc");
  ASSERT_TRUE(stsz && stco && co64 && stts && stsc) << tree.Dump();
  EXPECT_EQ(12u, stsz->sizes.size());  // the table follows the payload, not the count
  EXPECT_EQ(10u, stsz->sampleCount);
  // An offset table whose payload does not match its count is not taken.
  EXPECT_EQ(3u, stco->entryCount);
  EXPECT_EQ(0u, stco->GetChunkCount());
  ASSERT_EQ(2u, co64->GetChunkCount());
  EXPECT_EQ(1ull << 33, co64->GetChunkOffset(0));
  ASSERT_EQ(1u, stts->entries.size());
  EXPECT_EQ(1024u, stts->entries[0].sampleDelta);
  ASSERT_EQ(1u, stsc->entries.size());
  EXPECT_EQ(10u, stsc->entries[0].samplesPerChunk);
}

TEST(BoxReader, MetadataItemsAndData) {
  Bytes ilst = B("ilst", B("gnre", B("data", U32(0) + U32(0) + U16(3))) +
                               B("\xA9nam", B("data", U32(1) + U32(0) + "abc")) +
                               B("\xA9" "alb", B("data", U32(0x15) + "xy")) +
                               B("\xA9" "ART", B("data", U32(0x42) + U32(0))));
  Bytes udta = B("udta", B("meta", U32(0) + ilst) + FB("gnre", 0, U16(0x15C7) + "Rock"));
  Tree tree(B("moov", udta));
  EXPECT_TRUE(tree.Find<GnreItemBox>("gnre", 0)) << "gnre inside ilst is an item container";
  EXPECT_TRUE(tree.Find<GnreAssetBox>("gnre", 1)) << "gnre under udta is a 3GPP asset box";
  EXPECT_EQ(0x15C7, tree.Find<GnreAssetBox>("gnre", 1)->language);
  DataBox1* text = tree.Find<DataBox1>("data", 1);
  ASSERT_TRUE(text);
  EXPECT_EQ("abc", std::string(text->payload.begin(), text->payload.end()));
  DataBox21* shortValue = tree.Find<DataBox21>("data", 2);
  ASSERT_TRUE(shortValue);
  EXPECT_EQ("xy", std::string(shortValue->payload.begin(), shortValue->payload.end()));
  UnknownDataBox* unknown = tree.Find<UnknownDataBox>("data", 3);
  ASSERT_TRUE(unknown);
  EXPECT_EQ(0x42u, unknown->GetDataType());
  EXPECT_TRUE(unknown->payload.empty());
}

TEST(BoxReader, MediaHeaderVersions) {
  Tree v0(B("moov", B("trak", B("mdia", FB("mdhd", 0, U32(1) + U32(2) + U32(44100) + U32(441000) +
                                                                       U16(0x55C4) + U16(0))))));
  Tree v1(B("moov", B("trak", B("mdia", FB("mdhd", 0x01000000, U64(1) + U64(2) + U32(48000) +
                                                                              U64(1ull << 32) + U16(0x15C7) + U16(0))))));
  MediaHeaderBox* a = v0.Find<MediaHeaderBox>("mdhd");
  MediaHeaderBox* b = v1.Find<MediaHeaderBox>("mdhd");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(44100u, a->timescale);
  EXPECT_EQ(441000u, a->duration);
  // A version-1 box is read in its own 64-bit layout.
  EXPECT_EQ(48000u, b->timescale);
  EXPECT_EQ(1ull << 32, b->duration);
  EXPECT_EQ(0x15C7, b->language);
}

TEST(BoxReader, UuidBoxes) {
  Bytes card = Hex("55534d5421d24fcebb88695cfac9c740");
  Bytes other = Hex("00112233445566778899aabbccddeeff");
  Tree tree(B("uuid", card + B("MTSM", "")) + B("uuid", other + "payload"));
  EXPECT_EQ("0 uuid 0 32\n1 MTSM 24 8\n0 uuid 32 31\n", tree.Dump());
  EXPECT_TRUE(tree.Find<UserSpecificMetaData>("uuid", 0));
  EXPECT_TRUE(tree.Find<UnknownGuidBox>("uuid", 1));
}

TEST(BoxReader, FactoriesDecideWhatIsParsed) {
  Bytes stbl = B("stbl", FB("stts", 0, U32(0)) + FB("stco", 0, U32(0)));
  Bytes file = kFtyp + B("moov", FB("mvhd", 0, Bytes(96, 0)) + FB("iods", 0, Hex("10 07 00 4f ff ff ff ff ff")) +
                               B("trak", FB("tkhd", 0, Bytes(80, 0)) + B("mdia", B("minf", stbl)))) +
               B("mdat", "x");
  Tree all(file, GetBoxFactory()), meta(file, GetReadMetaFactory()), write(file, GetMetaFactory());
  EXPECT_TRUE(all.Find<UnknownBox>("mvhd") && all.Find<UnknownBox>("tkhd") && all.Find<UnknownBox>("iods"));
  EXPECT_TRUE(all.Find<TimeToSampleBox>("stts") && all.Find<MediaDataBox>("mdat"));
  EXPECT_TRUE(meta.Find<UnknownBox>("stts") && meta.Find<UnknownBox>("stco") && meta.Find<UnknownBox>("mdat"));
  EXPECT_TRUE(write.Find<UnknownBox>("ftyp") && write.Find<UnknownBox>("stts"));
  EXPECT_TRUE(write.Find<ChunkOffsetBox>("stco") && write.Find<MediaDataBox>("mdat"));
  // The same tree shape whatever the factory.
  EXPECT_EQ(all.Dump(), write.Dump());
}

TEST(BoxReader, ForwardOnlyStreamOfUnknownSize) {
  Bytes file = kFtyp + B("moov", B("trak", "")) + B("free", "abc");
  std::istringstream in(file);
  BoxReader reader(in, UINT64_MAX);
  BoxList* boxes = reader.ReadAllBoxes();
  ASSERT_TRUE(boxes);
  EXPECT_EQ(3u, boxes->size());
  DeleteBoxList(boxes);
}

// Sizes and counts from the file never size an allocation beyond the bytes
// that are there, and a box never consumes more than its size.
TEST(BoxReader, HostileSizesAndCounts) {
  const Bytes stbl = "stbl";
  struct Row {
    const char* name;
    Bytes box;
  } rows[] = {
      {"stco count 0xFFFFFFFF", FB("stco", 0, U32(0xFFFFFFFF) + U32(1))},
      {"co64 count 0x20000000", FB("co64", 0, U32(0x20000000))},
      {"esds descriptor length 0x0FFFFFFF", FB("esds", 0, Hex("03 ff ff ff 7f 00 01 00 04 ff ff ff 7f 40"))},
      {"esds DSI length far past the box", FB("esds", 0, Hex("03 19 00 01 00 04 11 40 15 00 00 00 00 00 00 00 00 00 00 00 05 ff ff ff 7f 12"))},
      {"esds length of many bytes", FB("esds", 0, Hex("03 80 80 80 80 80 80 80 80 80 80 05"))},
      {"deep descriptor nesting", FB("esds", 0, Bytes(40, '\x03') + Bytes(40, '\x01'))},
      {"MTDT entry length below 10", B("MTDT", U16(2) + U16(3) + U32(1) + U16(0) + U16(0))},
      {"MTDT data past the box", B("MTDT", U16(1) + U16(60000) + U32(1) + U16(0) + U16(0) + "ab")},
      {"MDST count huge", FB("MDST", 0, U32(0xFFFFFFFF) + Bytes(7, 0))},
  };
  for (const Row& r : rows) {
    Bytes file = B("moov", B("trak", B("mdia", B("minf", B("stbl", r.box))))) + kFtyp;
    Tree tree(file);
    // The box after the damaged one is still found at its place.
    std::string dump = tree.Dump();
    EXPECT_NE(std::string::npos, dump.find("0 ftyp " + std::to_string(file.size() - kFtyp.size()) + " 20"))
        << r.name << "\n" << dump;
  }
}

TEST(BoxReader, DescriptorOfTheAudioEntry) {
  // The 'esds' payload ffmpeg writes for a 5-byte DSI (ES_ID 1).
  Bytes esds = FB("esds", 0, Hex("03 80 80 80 25 00 01 00 04 80 80 80 17 40 15 00 00 00 00 01 f4 00 00 00 5d c0"
                                      " 05 80 80 80 05 15 88 56 e5 00 06 80 80 80 01 02"));
  Bytes mp4a = B("mp4a", Bytes(6, 0) + U16(1) + Bytes(8, 0) + U16(1) + U16(16) + U32(0) + U32(8000u << 16) + esds);
  Tree tree(B("moov", B("trak", B("mdia", B("minf", B("stbl", FB("stsd", 0, U32(1) + mp4a)))))));
  ElementaryStreamDescriptorBox* box = tree.Find<ElementaryStreamDescriptorBox>("esds");
  ASSERT_TRUE(box && box->GetDescriptor()) << tree.Dump();
  esds::ElementaryStreamDescriptor* es = dynamic_cast<esds::ElementaryStreamDescriptor*>(box->GetDescriptor());
  ASSERT_TRUE(es);
  EXPECT_EQ(1, es->esId);
  ASSERT_EQ(2u, es->children.size());
  esds::DecoderConfigDescriptor* config = dynamic_cast<esds::DecoderConfigDescriptor*>(es->children.front());
  ASSERT_TRUE(config && config->decoderSpecificInfo);
  EXPECT_EQ(0x40, config->objectTypeIndication);
  EXPECT_EQ(5, config->streamType);
  EXPECT_EQ(0u, config->GetBufferSizeDB());
  EXPECT_EQ(128000u, config->maxBitrate);
  EXPECT_EQ(24000u, config->avgBitrate);
  EXPECT_EQ(Hex("15 88 56 e5 00"), std::string(config->decoderSpecificInfo->bytes.begin(),
                                               config->decoderSpecificInfo->bytes.end()));
  Mpeg4AudioSampleEntry* entry = tree.Find<Mpeg4AudioSampleEntry>("mp4a");
  ASSERT_TRUE(entry);
  EXPECT_EQ(8000u, entry->GetIntegerSampleRate());
  EXPECT_EQ(1, entry->channelCount);
}

TEST(BoxReader, ReadsFilesByPath) {
  std::string path = FixturePath("lc_stereo_48000.m4a");
  Bytes bytes;
  if (!LoadFile(VOG_FIXTURE_DIR + std::string("/mp4/lc_stereo_48000.m4a"), bytes) && !LoadFile(path, bytes))
    VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "fixture missing";
  BoxReader byPath(Wide(path).c_str());
  BoxList* a = byPath.ReadAllBoxes();
  Tree b(bytes);
  ASSERT_TRUE(a);
  std::ostringstream dump;
  WalkBoxTree(*a, [&](IBox& x, unsigned d) { dump << d << ' ' << x.GetType() << ' ' << x.GetOffset() << ' ' << x.GetSize() << '\n'; });
  EXPECT_EQ(b.Dump(), dump.str());
  DeleteBoxList(a);
  BoxReader missing(L"/nonexistent/file.m4a");
  EXPECT_EQ(nullptr, missing.ReadAllBoxes());
}

TEST(BoxReader, NestingDeeperThanTheLimit) {
  Bytes nested = B("free", "");
  for (int i = 0; i < 200; ++i) nested = B("moov", nested);
  Tree tree(nested + kFtyp);
  ASSERT_TRUE(tree.boxes);
  unsigned deepest = 0;
  size_t count = 0;
  WalkBoxTree(*tree.boxes, [&](IBox&, unsigned depth) {
    deepest = depth > deepest ? depth : deepest;
    ++count;
  });
  EXPECT_EQ(kMaxBoxDepth, deepest);
  EXPECT_EQ(kMaxBoxDepth + 2, count) << "the boxes down to the limit, then the 'ftyp' after them";
  EXPECT_EQ(FourCC("ftyp"), tree.boxes->back()->GetType());
}

TEST(BoxReader, ItemsOfAnAtomicParsleyFile) {
  Bytes file;
  if (!LoadFile(std::string(VOG_FIXTURE_DIR) + "/mp4/ap_tagged.m4a", file) &&
      !LoadFile(FixturePath("ap_tagged.m4a"), file))
    VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "fixture missing";
  Tree tree(file, GetReadMetaFactory());
  NamItemBox* title = tree.Find<NamItemBox>("\xA9nam");
  ARTItemBox* artist = tree.Find<ARTItemBox>("\xA9" "ART");
  ASSERT_TRUE(title && artist) << tree.Dump();
  DataBox1* t = dynamic_cast<DataBox1*>(title->Children().front());
  DataBox1* a = dynamic_cast<DataBox1*>(artist->Children().front());
  ASSERT_TRUE(t && a);
  EXPECT_EQ("T", std::string(t->payload.begin(), t->payload.end()));
  EXPECT_EQ("A", std::string(a->payload.begin(), a->payload.end()));
  TrknItemBox* track = tree.Find<TrknItemBox>("trkn");
  ASSERT_TRUE(track);
  DataBox0* n = dynamic_cast<DataBox0*>(track->Children().front());
  ASSERT_TRUE(n);
  EXPECT_EQ((ByteVector{0, 0, 0, 3, 0, 9, 0, 0}), n->payload);
}
