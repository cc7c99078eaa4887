// MPEG-4 descriptors: the AAC tree the encoder side builds, its sizes and bytes
// against ffmpeg's 'esds', length coding, and reading of damaged descriptors.
#include "mp4_test_util.h"

#include "boxes.h"
#include "descriptorprinter.h"
#include "trackreader.h"
#include "vog_tools.h"

using namespace mp4test;
using namespace fileutil;

namespace {

Bytes Write(esds::Descriptor& d) {
  esds::DescriptorPrepareWrite size;
  d.Accept(size);
  std::ostringstream out;
  esds::DescriptorWriter writer(out);
  d.Accept(writer);
  EXPECT_EQ(size.GetTotal(), writer.GetCount());
  EXPECT_EQ(writer.GetCount(), out.str().size());
  return out.str();
}

esds::Descriptor* Read(const Bytes& bytes, uint64_t budget) {
  std::istringstream in(bytes);
  esds::DescriptorReader reader(in);
  return reader.ReadDescriptor(budget);
}

}  // namespace

TEST(Descriptors, AacTreeSizesAndBytes) {
  esds::ElementaryStreamDescriptor es;
  ASSERT_TRUE(es.Set(0x40, 5, 0, 128000, 64000, 0, {0x12, 0x10}));
  Bytes bytes = Write(es);
  ASSERT_EQ(2u, es.children.size());
  esds::DecoderConfigDescriptor* config = static_cast<esds::DecoderConfigDescriptor*>(es.children.front());
  EXPECT_EQ(2u, config->decoderSpecificInfo->size);
  EXPECT_EQ(7u, config->decoderSpecificInfo->totalSize);
  EXPECT_EQ(20u, config->size);
  EXPECT_EQ(25u, config->totalSize);
  EXPECT_EQ(1u, es.children.back()->size);
  EXPECT_EQ(6u, es.children.back()->totalSize);
  EXPECT_EQ(34u, es.size);
  EXPECT_EQ(39u, es.totalSize);
  EXPECT_EQ(Hex("03 80 80 80 22 00 00 00 04 80 80 80 14 40 15 00 00 00 00 01 f4 00 00 00 fa 00"
                " 05 80 80 80 02 12 10 06 80 80 80 01 02"),
            bytes);
}

// Our 'esds' payload equals the one ffmpeg wrote for the same values, but for
// the ES_ID (ffmpeg 1, ours 0).
TEST(Descriptors, EqualsFfmpegEsdsExceptEsId) {
  for (const char* name : {"lc_stereo_48000.m4a", "tagged.3gp", "lc_51_32000.m4a"}) {
    Bytes file;
    if (!LoadFile(std::string(VOG_FIXTURE_DIR) + "/mp4/" + name, file) && !LoadFile(FixturePath(name), file))
      VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "fixture missing";
    Tree tree(file);
    ElementaryStreamDescriptorBox* box = tree.Find<ElementaryStreamDescriptorBox>("esds");
    ASSERT_TRUE(box && box->GetDescriptor()) << name;
    esds::InitTrackReader found;
    box->GetDescriptor()->Accept(found);
    ASSERT_TRUE(found.decoderConfig && found.decoderSpecificInfo) << name;
    esds::ElementaryStreamDescriptor ours;
    ours.Set(found.decoderConfig->objectTypeIndication, found.decoderConfig->streamType,
             found.decoderConfig->GetBufferSizeDB(), found.decoderConfig->maxBitrate, found.decoderConfig->avgBitrate,
             0, found.decoderSpecificInfo->bytes);
    Bytes written = Write(ours);
    Bytes theirs = file.substr(size_t(box->GetOffset() + 12), size_t(box->GetSize() - 12));
    ASSERT_EQ(theirs.size(), written.size()) << name;
    theirs[6] = 0;  // ES_ID low byte
    EXPECT_EQ(theirs, written) << name;
  }
}

TEST(Descriptors, LengthCoding) {
  uint32_t taken = 0;
  std::istringstream a(Hex("82 2c"));
  EXPECT_EQ(300u, ReadExpandableLength(a, 4, taken));
  EXPECT_EQ(2u, taken);
  std::ostringstream out;
  EXPECT_EQ(4u, WriteExpandableLength(out, 300));
  EXPECT_EQ(Hex("80 80 82 2c"), out.str());
  std::istringstream b(Hex("80 80 80 80 80 05"));
  ReadExpandableLength(b, 4, taken);
  EXPECT_EQ(4u, taken) << "at most four length bytes";
}

TEST(Descriptors, Defaults) {
  esds::ElementaryStreamDescriptor es;
  es.Set(0x40, 5, 0, 0, 0, 0, {});
  esds::DecoderConfigDescriptor* config = static_cast<esds::DecoderConfigDescriptor*>(es.children.front());
  EXPECT_EQ(Hex("40 15"), Write(*config).substr(5, 2));
  esds::InitialObjectDescriptor iod;
  EXPECT_EQ(Hex("10 80 80 80 07 00 4f 00 00 00 00 00"), Write(iod));
  iod.Set(1, 2, 3, 4, 5);
  esds::ESIDIncDescriptor* inc = new esds::ESIDIncDescriptor();
  inc->trackId = 1;
  iod.children.push_back(inc);
  Bytes bytes = Write(iod);
  EXPECT_EQ(21u, bytes.size()) << "'iods' box of 33 bytes";
  EXPECT_EQ(Hex("10 80 80 80 10 00 4f 01 02 03 04 05 0e 80 80 80 04 00 00 00 01"), bytes);
}

TEST(Descriptors, UnknownAndShortDescriptors) {
  // An unknown child (tag 0x14) is kept on reading and left out on writing.
  Bytes es = Hex("03 0c 00 01 00 14 02 aa bb 06 01 02 05 00");
  std::unique_ptr<esds::Descriptor> d(Read(es, es.size()));
  esds::ElementaryStreamDescriptor* e = dynamic_cast<esds::ElementaryStreamDescriptor*>(d.get());
  ASSERT_TRUE(e);
  ASSERT_EQ(3u, e->children.size());
  esds::UnknownDescriptor* u = dynamic_cast<esds::UnknownDescriptor*>(e->children.front());
  ASSERT_TRUE(u);
  EXPECT_EQ(0x14, u->tag);
  EXPECT_EQ(Hex("aa bb"), std::string(u->payload.begin(), u->payload.end()));
  EXPECT_EQ(Hex("03 80 80 80 0e 00 01 00 06 80 80 80 01 02 05 80 80 80 00"), Write(*e));

  // A Decoder Config of exactly 13 bytes has no decoder specific info.
  std::unique_ptr<esds::Descriptor> c(Read(Hex("04 0d 40 15 00 00 00 00 00 00 00 00 00 00 00"), 15));
  ASSERT_TRUE(dynamic_cast<esds::DecoderConfigDescriptor*>(c.get()));
  EXPECT_EQ(nullptr, static_cast<esds::DecoderConfigDescriptor*>(c.get())->decoderSpecificInfo);

  // A descriptor claiming more than the budget keeps what was there.
  Bytes claim = Hex("03 7f 00 02 00 04 7f 40 15 00 00 00");
  std::istringstream in(claim + "tail");
  esds::DescriptorReader reader(in);
  std::unique_ptr<esds::Descriptor> partial(reader.ReadDescriptor(claim.size()));
  ASSERT_TRUE(partial);
  EXPECT_EQ(2, static_cast<esds::ElementaryStreamDescriptor*>(partial.get())->esId);
  EXPECT_EQ(claim.size(), reader.GetPosition()) << "stops at the budget";
  std::string rest;
  in >> rest;
  EXPECT_EQ("tail", rest);
}

TEST(Descriptors, ClonesAreDeep) {
  esds::ElementaryStreamDescriptor es;
  es.Set(0x40, 5, 0, 0, 0, 0, {1, 2, 3});
  std::unique_ptr<esds::Descriptor> copy(es.Clone());
  esds::ElementaryStreamDescriptor* c = static_cast<esds::ElementaryStreamDescriptor*>(copy.get());
  ASSERT_EQ(2u, c->children.size());
  EXPECT_NE(es.children.front(), c->children.front());
  EXPECT_EQ(Write(es), Write(*c));
}

TEST(Descriptors, PrinterAndByteDump) {
  esds::ElementaryStreamDescriptor es;
  es.Set(0x40, 5, 0, 128000, 64000, 0, {0x12, 0x10});
  esds::DescriptorPrepareWrite size;
  es.Accept(size);
  std::wostringstream out;
  esds::DescriptorPrinter printer(out, 0);
  es.Accept(printer);
  std::wstring text = out.str();
  EXPECT_EQ(0u, text.find(L"<ElementaryStream tag='0x03'>\n <size>34</size>\n <ESID>0</ESID>\n"));
  EXPECT_NE(std::wstring::npos, text.find(L" <DecoderConfigDescriptor tag='0x04'>\n  <size>20</size>\n"));
  EXPECT_NE(std::wstring::npos, text.find(L"  <AvgBitrate>64000</AvgBitrate>\n"));
  EXPECT_NE(std::wstring::npos, text.find(L" <SLConfigDescriptor tag='0x06'>\n  <size>1</size>\n  <PreDefined>2</PreDefined>\n"));
  EXPECT_NE(std::wstring::npos, text.find(L"0000: 12 10 "));
  EXPECT_EQ(text.size() - 20, text.rfind(L"</ElementaryStream>\n"));

  std::wostringstream dump;
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 20; ++i) bytes.push_back(uint8_t(0x41 + i));
  bytes[1] = 0x01;
  PrintBytes(dump, bytes, 1);
  std::wstring d = dump.str();
  std::wstring heading = L"\r\n       ";
  for (const wchar_t* c : {L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"a", L"b", L"c", L"d", L"e", L"f"})
    heading += std::wstring(L"  ") + c;
  heading += L" | 0123456789abcdef\r\n  " + std::wstring(54, L'_') + L"|" + std::wstring(17, L'_') + L"\r\n";
  EXPECT_EQ(0u, d.find(heading));
  EXPECT_NE(std::wstring::npos, d.find(L"  0000: 41 01 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50 | A.CDEFGHIJKLMNOP\r\n"));
  EXPECT_NE(std::wstring::npos,
            d.find(L"  0010: 51 52 53 54 " + std::wstring(36, L' ') + L"| QRST            \r\n"));
}
