// The ID3v2 tag model: size fields, frame layouts, the forms other programs
// write (extended headers, unsynchronisation, data length indicators,
// compressed frames), damaged tags, the genre list.
#include "id3meta.h"

#include <memory>
#include <random>
#include <sstream>

#include "metaid3.h"
#include "metatest_util.h"
#include "summaryids.h"

using namespace id3meta;
using namespace metatest;
using fileutil::FCC;

namespace {

Bytes Syncsafe(uint32_t v) { return U32(EncodeSyncsafe(v)); }

// A tag header followed by a body.
Bytes Tag(uint8_t major, uint8_t flags, const Bytes& body) {
  return Bytes("ID3") + U8(major) + U8(0) + U8(flags) + Syncsafe(uint32_t(body.size())) + body;
}
Bytes Frame3(const char* id, const Bytes& payload, uint16_t flags = 0) {
  return Bytes(id) + U32(uint32_t(payload.size())) + U16(flags) + payload;
}
Bytes Frame4(const char* id, const Bytes& payload, uint16_t flags = 0) {
  return Bytes(id) + Syncsafe(uint32_t(payload.size())) + U16(flags) + payload;
}
Bytes Latin(const char* s) { return U8(0) + s; }

Header* Read(const Bytes& bytes) {
  std::istringstream in(bytes);
  return ReadTag(in, uint32_t(bytes.size()));
}

Bytes Written(Header& tag) {
  std::ostringstream out;
  uint64_t n = tag.WriteTag(out);
  EXPECT_EQ(n, out.str().size());
  return out.str();
}

// The texts a tag gives a metadata set.
fileutil::MetaDataSet Collect(Header* tag) {
  fileutil::MetaDataSet set;
  CollectVisitor collect(set);
  VisitFrames(tag, collect);
  return set;
}

std::vector<std::string> FrameIds(Header* tag) {
  std::vector<std::string> ids;
  if (!tag) return ids;
  for (Frame* f : tag->Frames()) {
    uint32_t id = f->GetHeader().id;
    ids.push_back(std::string{char(id), char(id >> 8), char(id >> 16), char(id >> 24)});
  }
  return ids;
}

TEST(Id3Sizes, SyncsafeAndFrameSizeFields) {
  EXPECT_EQ(EncodeSyncsafe(0x3FFF), 0x00007F7Fu);
  EXPECT_EQ(DecodeSyncsafe(0x00007F7F), 0x3FFFu);
  for (uint32_t v : {0u, 1u, 127u, 128u, 200u, 0x3FFFu, 0x4000u, 0x123456u, kMaxSyncsafe})
    EXPECT_EQ(DecodeSyncsafe(EncodeSyncsafe(v)), v) << v;

  struct Case {
    uint8_t major;
    const char* sizeBytes;
  } cases[] = {{4, "00 00 01 48"}, {3, "00 00 00 C8"}};
  for (const Case& c : cases) {
    std::unique_ptr<Header> tag(CreateTag(c.major));
    ASSERT_TRUE(tag);
    UnknownFrame* f = static_cast<UnknownFrame*>(tag->GetFactory().CreateFrame(FCC("XXXX")));
    f->data.assign(200, 0x41);
    tag->AddFrame(f);
    EXPECT_EQ(tag->UpdateSize(0), 10u + 10u + 200u);
    Bytes w = Written(*tag);
    EXPECT_EQ(w.substr(14, 4), Hex(c.sizeBytes)) << int(c.major);
    EXPECT_EQ(w.substr(6, 4), Syncsafe(210));
  }

  // A tag whose frames add up to 0x3FFF bytes states 00 00 7F 7F.
  std::unique_ptr<Header> tag(CreateTag(3));
  UnknownFrame* f = static_cast<UnknownFrame*>(tag->GetFactory().CreateFrame(FCC("XXXX")));
  f->data.assign(0x3FFF - 10, 0);
  tag->AddFrame(f);
  tag->UpdateSize(0);
  EXPECT_EQ(Written(*tag).substr(6, 4), Hex("00 00 7F 7F"));
  EXPECT_EQ(tag->GetTagSize(), 0x3FFFu + 10);
}

TEST(Id3Sizes, LayoutGivesOffsetsAndPayloadSizes) {
  std::unique_ptr<Header> tag(CreateTag(3));
  TextFrame* a = static_cast<TextFrame*>(tag->GetFactory().CreateFrame(FCC("TIT2")));
  a->SetEncoding(1);
  a->text = L"abc";
  tag->AddFrame(a);
  TextFrame* b = static_cast<TextFrame*>(tag->GetFactory().CreateFrame(FCC("TALB")));
  b->SetEncoding(3);
  b->text = W("Grüße");
  tag->AddFrame(b);
  EXPECT_EQ(tag->UpdateSize(100), 10u + (10 + 1 + 2 * 3 + 4) + (10 + 1 + 7 + 1));
  EXPECT_EQ(a->GetHeader().offset, 110u);
  EXPECT_EQ(a->GetHeader().size, 11u);
  EXPECT_EQ(b->GetHeader().offset, 131u);
  EXPECT_EQ(b->GetHeader().size, 9u);
  const Bytes utf16 = Hex("01 FE FF 00 61 00 62 00 63 00 00");
  const Bytes utf8 = U8(3) + "Gr\xC3\xBC\xC3\x9F" + "e" + U8(0);
  EXPECT_EQ(Written(*tag), Tag(3, 0, Frame3("TIT2", utf16) + Frame3("TALB", utf8)));
}

// Every frame kind in both versions and all four encodings, read back field by field.
TEST(Id3Frames, EveryKindRoundTrips) {
  for (uint8_t major : {3, 4}) {
    for (uint8_t enc : {0, 1, 2, 3}) {
      std::unique_ptr<Header> tag(CreateTag(major));
      Factory& f = tag->GetFactory();
      const std::wstring text = enc == 0 ? W("Tëxt") : W("Tëxt ☃ 日本");
      auto* t = static_cast<TextFrame*>(f.CreateFrame(FCC("TIT2")));
      t->text = text;
      auto* c = static_cast<CommentFrame*>(f.CreateFrame(FCC("COMM")));
      c->description = L"d";
      c->text = text;
      auto* u = static_cast<UserTextFrame*>(f.CreateFrame(FCC("TXXX")));
      u->description = L"key";
      u->value = text;
      auto* id = static_cast<UniqueFileIdFrame*>(f.CreateFrame(FCC("UFID")));
      id->owner = L"http://owner";
      id->identifier = {1, 2, 0, 3};
      auto* p = static_cast<PictureFrame*>(f.CreateFrame(FCC("APIC")));
      p->picture.type = 3;
      p->picture.mimeType = L"image/png";
      p->picture.description = text;
      p->picture.data = {0x89, 'P', 'N', 'G', 0, 0};
      auto* g = static_cast<GeneralObjectFrame*>(f.CreateFrame(FCC("GEOB")));
      g->item.mimeType = L"application/binary";
      g->item.fileName = L"f.bin";
      g->item.description = text;
      g->item.data = {0, 0, 0};
      for (Frame* fr : std::vector<Frame*>{t, c, u, id, p, g}) {
        fr->SetEncoding(enc);
        tag->AddFrame(fr);
      }
      uint32_t size = tag->UpdateSize(0);
      Bytes bytes = Written(*tag);
      ASSERT_EQ(bytes.size(), size);
      std::unique_ptr<Header> back(Read(bytes));
      ASSERT_TRUE(back);
      ASSERT_EQ(FrameIds(back.get()), (std::vector<std::string>{"TIT2", "COMM", "TXXX", "UFID", "APIC", "GEOB"}));
      auto it = back->Frames().begin();
      EXPECT_EQ(static_cast<TextFrame*>(*it++)->text, text);
      auto* c2 = static_cast<CommentFrame*>(*it++);
      EXPECT_EQ(std::string(c2->language, 3), "eng");
      EXPECT_EQ(c2->description, L"d");
      EXPECT_EQ(c2->text, text);
      auto* u2 = static_cast<UserTextFrame*>(*it++);
      EXPECT_EQ(u2->description, L"key");
      EXPECT_EQ(u2->value, text);
      auto* id2 = static_cast<UniqueFileIdFrame*>(*it++);
      EXPECT_EQ(id2->owner, L"http://owner");
      EXPECT_EQ(id2->identifier, id->identifier);
      auto* p2 = static_cast<PictureFrame*>(*it++);
      EXPECT_EQ(p2->picture.type, 3u);
      EXPECT_EQ(p2->picture.mimeType, L"image/png");
      EXPECT_EQ(p2->picture.description, text);
      EXPECT_EQ(p2->picture.data, p->picture.data);
      auto* g2 = static_cast<GeneralObjectFrame*>(*it++);
      EXPECT_EQ(g2->item.fileName, L"f.bin");
      EXPECT_EQ(g2->item.description, text);
      EXPECT_EQ(g2->item.data, g->item.data);
      for (Frame* fr : back->Frames()) {
        if (fr->GetHeader().id != FCC("UFID")) {
          EXPECT_EQ(fr->GetHeader().encodingByte, enc);
        }
      }
      // The copy writes the same bytes.
      std::unique_ptr<Header> copy(back->Clone());
      ASSERT_TRUE(copy);
      EXPECT_EQ(Written(*copy), bytes);
    }
  }
}

TEST(Id3Frames, IdsMapToSummaryIds) {
  struct Case {
    uint8_t major;
    const char* frame;
    const char* summary;
  } cases[] = {
      {3, "TIT2", "INAM"}, {3, "TIT1", "ISBJ"}, {3, "TOPE", "IART"}, {3, "TPE1", "IART"}, {3, "TPE2", "IAAT"},
      {3, "TALB", "ISRC"}, {3, "TRCK", "TRCK"}, {3, "TIT3", "TIT2"}, {3, "TCOP", "ICOP"}, {3, "TCOM", "TCOM"},
      {3, "TLEN", "TLEN"}, {3, "TYER", "ICRD"}, {4, "TDTG", "ICRD"}, {4, "TDRC", "ICRD"}, {4, "TIT2", "INAM"},
  };
  for (const Case& c : cases) {
    Bytes frame = c.major == 3 ? Frame3(c.frame, Latin("v")) : Frame4(c.frame, Latin("v"));
    std::unique_ptr<Header> tag(Read(Tag(c.major, 0, frame)));
    fileutil::MetaDataSet set = Collect(tag.get());
    EXPECT_EQ(set.GetSummaryText(fileutil::FourCC(c.summary).GetValue()), L"v") << c.frame;
  }
  // A year frame of the other version, a comment and TCON carry no summary id.
  for (const char* id : {"TDTG", "COMM", "TCON"}) {
    std::unique_ptr<Header> tag(Read(Tag(3, 0, Frame3(id, Latin("v")))));
    EXPECT_TRUE(Collect(tag.get()).Texts().empty()) << id;
  }
  // Writing: IART becomes TOPE; the year TYER in 2.3, TDTG in 2.4.
  std::unique_ptr<Header> v3(CreateTag(3)), v4(CreateTag(4));
  std::unique_ptr<Frame> a(v3->GetFactory().FindByHostId(fileutil::kSummaryArtist));
  std::unique_ptr<Frame> y3(v3->GetFactory().FindByHostId(fileutil::kSummaryDate));
  std::unique_ptr<Frame> y4(v4->GetFactory().FindByHostId(fileutil::kSummaryDate));
  EXPECT_EQ(a->GetHeader().id, FCC("TOPE"));
  EXPECT_EQ(y3->GetHeader().id, FCC("TYER"));
  EXPECT_EQ(y4->GetHeader().id, FCC("TDTG"));
  EXPECT_EQ(v3->GetFactory().FindByHostId(fileutil::kSummaryComment), nullptr);
  // The first of TOPE and TPE1 wins.
  std::unique_ptr<Header> both(Read(Tag(3, 0, Frame3("TPE1", Latin("lead")) + Frame3("TOPE", Latin("orig")))));
  EXPECT_EQ(Collect(both.get()).GetSummaryText(fileutil::kSummaryArtist), L"lead");
}

TEST(Id3Frames, ListEndsAtAnIdThatIsNotUpperCaseOrDigits) {
  std::unique_ptr<Header> tag(
      Read(Tag(3, 0, Frame3("TIT2", Latin("a")) + Frame3("tit2", Latin("b")) + Frame3("TALB", Latin("c")))));
  ASSERT_TRUE(tag);
  EXPECT_EQ(FrameIds(tag.get()), std::vector<std::string>{"TIT2"});
  // Padding after the frames ends it too.
  std::unique_ptr<Header> padded(Read(Tag(4, 0, Frame4("TIT2", Latin("a")) + Bytes(64, '\0'))));
  EXPECT_EQ(FrameIds(padded.get()), std::vector<std::string>{"TIT2"});
}

TEST(Id3Frames, UserTextAndFileIdOutsideTheTableGiveNothing) {
  std::unique_ptr<Header> tag(Read(
      Tag(3, 0, Frame3("TXXX", Latin("not a key") + U8(0) + "value") + Frame3("UFID", Bytes("own") + U8(0) + "id"))));
  ASSERT_EQ(FrameIds(tag.get()), (std::vector<std::string>{"TXXX", "UFID"}));
  EXPECT_EQ(static_cast<UserTextFrame*>(tag->Frames().front())->value, L"value");
  EXPECT_TRUE(Collect(tag.get()).IsEmpty());
}

TEST(Id3Frames, TextsOfEveryEncoding) {
  struct Case {
    const char* payload;
    const char* text;
  } cases[] = {
      {"00 47 72 FC DF 65", "Grüße"},          // ISO-8859-1, no terminator
      {"00 41 00 42", "A"},                    // ISO-8859-1, text ends at its terminator
      {"01 FF FE 41 00 3A 26 00 00", "A☺"},    // UTF-16, little-endian mark
      {"01 FE FF 00 41 26 3A 00 00", "A☺"},    // UTF-16, big-endian mark
      {"02 00 41 26 3A", "A☺"},                // big-endian UTF-16
      {"03 41 E2 98 BA 00", "A☺"},             // UTF-8
      {"03 F0 9D 84 9E", "\xF0\x9D\x84\x9E"},  // UTF-8 outside the basic plane
      {"01", ""},                              // under 2 bytes: nothing
      {"01 FF FE 41", ""},                     // half a character
  };
  for (const Case& c : cases) {
    std::unique_ptr<Header> tag(Read(Tag(4, 0, Frame4("TIT2", Hex(c.payload)))));
    ASSERT_TRUE(tag);
    ASSERT_EQ(tag->Frames().size(), 1u) << c.payload;
    EXPECT_EQ(static_cast<TextFrame*>(tag->Frames().front())->text, W(c.text)) << c.payload;
  }
}

// Forms written by other programs: extended headers, unsynchronisation (of
// the whole tag in 2.3, of frames in 2.4), data length indicators, and frames
// that stay raw (compressed, encrypted, grouped).
TEST(Id3Forms, ExtendedHeadersUnsynchronisationAndOpaqueFrames) {
  const Bytes title = Frame3("TIT2", Latin("title"));
  const Bytes title4 = Frame4("TIT2", Latin("title"));
  // Unsynchronised picture data: FF E0 is stored as FF 00 E0, FF 00 as FF 00 00.
  const Bytes rawPic = Hex("FF E0 FF 00 12 FF");
  const Bytes apicBody = Latin("image/jpeg") + U8(0) + U8(3) + U8(0) + rawPic;
  auto unsync = [](const Bytes& b) {
    Bytes out;
    for (size_t i = 0; i < b.size(); ++i) {
      out += b[i];
      if (uint8_t(b[i]) == 0xFF && (i + 1 == b.size() || (uint8_t(b[i + 1]) & 0xE0) == 0xE0 || b[i + 1] == 0))
        out += '\0';
    }
    return out;
  };
  struct Case {
    const char* name;
    Bytes tag;
  } cases[] = {
      {"2.3 extended header", Tag(3, 0x40, U32(6) + U16(0) + U32(0) + title + Frame3("APIC", apicBody))},
      {"2.3 extended header with CRC",
       Tag(3, 0x40, U32(10) + U16(0x8000) + U32(0) + U32(0x1234) + title + Frame3("APIC", apicBody))},
      {"2.4 extended header", Tag(4, 0x40, Syncsafe(6) + U8(1) + U8(0) + title4 + Frame4("APIC", apicBody))},
      {"2.3 unsynchronised tag", Tag(3, 0x80, unsync(title + Frame3("APIC", apicBody)))},
      {"2.3 unsynchronised tag with extended header",
       Tag(3, 0xC0, unsync(U32(6) + U16(0) + U32(0xFF) + title + Frame3("APIC", apicBody)))},
      {"2.4 unsynchronised frame", Tag(4, 0, title4 + Frame4("APIC", unsync(apicBody), 0x0002))},
      {"2.4 unsynchronised tag", Tag(4, 0x80, title4 + Frame4("APIC", unsync(apicBody), 0x0002))},
      {"2.4 data length indicator",
       Tag(4, 0, title4 + Frame4("APIC", Syncsafe(uint32_t(apicBody.size())) + unsync(apicBody), 0x0003))},
      {"2.4 footer flag", Tag(4, 0x10, title4 + Frame4("APIC", apicBody))},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Header> tag(Read(c.tag));
    ASSERT_TRUE(tag) << c.name;
    ASSERT_EQ(FrameIds(tag.get()), (std::vector<std::string>{"TIT2", "APIC"})) << c.name;
    fileutil::MetaDataSet set = Collect(tag.get());
    EXPECT_EQ(set.GetSummaryText(fileutil::kSummaryTitle), L"title") << c.name;
    ASSERT_EQ(set.Pictures().count(3), 1u) << c.name;
    EXPECT_EQ(set.Pictures().at(3).data, ByteVector(rawPic.begin(), rawPic.end())) << c.name;
    // Written back plainly: no extended header, no unsynchronisation; the same frames.
    Bytes again = Written(*tag);
    EXPECT_EQ(uint8_t(again[5]), 0) << c.name;
    std::unique_ptr<Header> back(Read(again));
    EXPECT_EQ(Collect(back.get()).Pictures().at(3).data, ByteVector(rawPic.begin(), rawPic.end())) << c.name;
  }

  // Compressed, encrypted and grouped frames are kept as stored and written back unchanged.
  struct Opaque {
    uint8_t major;
    uint16_t flags;
  } opaque[] = {{3, 0x0080}, {3, 0x0040}, {3, 0x0020}, {4, 0x0008}, {4, 0x0004}, {4, 0x0040}};
  for (const Opaque& o : opaque) {
    Bytes payload = Hex("00 00 00 10 78 9C 01 02");
    Bytes frame = o.major == 3 ? Frame3("TIT2", payload, o.flags) : Frame4("TIT2", payload, o.flags);
    Bytes bytes = Tag(o.major, 0, frame);
    std::unique_ptr<Header> tag(Read(bytes));
    ASSERT_EQ(tag->Frames().size(), 1u);
    EXPECT_NE(dynamic_cast<UnknownFrame*>(tag->Frames().front()), nullptr) << o.flags;
    EXPECT_TRUE(Collect(tag.get()).IsEmpty());
    EXPECT_EQ(Written(*tag), bytes) << o.flags;
  }

  // A frame that reads fewer bytes than it declares (a 2.4 list of values)
  // does not shift the frames after it.
  std::unique_ptr<Header> multi(Read(Tag(4, 0, Frame4("TPE1", Latin("one") + U8(0) + "two") + title4)));
  EXPECT_EQ(FrameIds(multi.get()), (std::vector<std::string>{"TPE1", "TIT2"}));
  EXPECT_EQ(Collect(multi.get()).GetSummaryText(fileutil::kSummaryArtist), L"one");
}

TEST(Id3Forms, NotATag) {
  for (const Bytes& b : {Bytes(), Bytes("ID3"), Hex("49 44 33 03 00 00 00 00 00"), Bytes("TAG") + Bytes(7, '\0'),
                         Tag(2, 0, Frame3("TT2", Latin("x"))), Tag(5, 0, Bytes())}) {
    std::unique_ptr<Header> tag(Read(b));
    EXPECT_FALSE(tag) << Printable(b);
  }
  // A tag with no frames is a tag.
  std::unique_ptr<Header> empty(Read(Tag(3, 0, Bytes())));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->Frames().empty());
  // A size past the bytes given reads only those bytes.
  Bytes whole = Tag(3, 0, Frame3("TIT2", Latin("abc")) + Frame3("TALB", Latin("def")));
  std::istringstream in(whole + "trailing bytes");
  std::unique_ptr<Header> tag(ReadTag(in, uint32_t(whole.size() - 3)));
  ASSERT_TRUE(tag);
  EXPECT_EQ(Collect(tag.get()).GetSummaryText(fileutil::kSummaryAlbum), L"");
  EXPECT_EQ(in.tellg(), std::streampos(whole.size() - 3));
}

// Every prefix and random damage of a full tag: no read out of bounds (the
// native build runs under AddressSanitizer), no hang, sizes that match the bytes.
TEST(Id3Forms, DamagedTagsStayInBounds) {
  fileutil::MetaDataSet set;
  set.SetSummaryText(fileutil::kSummaryTitle, L"Title");
  set.SetSummaryText(fileutil::kSummaryArtist, W("Künstler"));
  set.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("\x89PNG\r\n\x1a\n"), 8, 3);
  fileutil::GenericItem item;
  item.mimeType = L"text/plain";
  item.fileName = L"a.txt";
  item.description = L"desc";
  item.data = {1, 2, 3};
  set.AddGenericItem(item);
  std::unique_ptr<Header> built(fileutil::BuildId3v2Tag(set));
  Bytes whole = Written(*built);
  for (size_t n = 0; n <= whole.size(); ++n) {
    Bytes prefix = whole.substr(0, n);
    std::unique_ptr<Header> tag(Read(prefix));
    if (n >= 10) {
      ASSERT_TRUE(tag) << n;
      Collect(tag.get());
    }
  }
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    Bytes b = whole;
    int edits = 1 + int(rng() % 6);
    for (int i = 0; i < edits; ++i) {
      size_t at = 3 + rng() % (b.size() - 3);
      b[at] = char(rng() % 3 == 0 ? 0xFF : rng());
    }
    if (rng() % 4 == 0) b[5] = char(rng() & 0xF0);  // flags: extended header, unsynchronisation
    std::istringstream in(b);
    std::unique_ptr<Header> tag(ReadTag(in, uint32_t(rng() % (b.size() + 20))));
    if (!tag) continue;
    fileutil::MetaDataSet out = Collect(tag.get());
    std::ostringstream printed;
    PrintVisitor(printed).Print(tag.get());
    uint32_t size = tag->UpdateSize(0);
    EXPECT_EQ(Written(*tag).size(), size) << "round " << round;
  }
}

TEST(Id3Genres, List) {
  EXPECT_EQ(Id3v1GenreCount(), 148u);
  EXPECT_EQ(Id3v1GenreName(1), L"Blues");
  EXPECT_EQ(Id3v1GenreName(17), L"Reggae");
  EXPECT_EQ(Id3v1GenreName(148), L"SynthPop");
  EXPECT_EQ(Id3v1GenreName(0), L"");
  EXPECT_EQ(Id3v1GenreName(149), L"");
  EXPECT_EQ(Id3v1GenreFromName(L"synthpop"), 148u);
  EXPECT_EQ(Id3v1GenreFromName(L"BLUES"), 1u);
  EXPECT_EQ(Id3v1GenreFromName(L"Rock & Roll"), 79u);
  EXPECT_EQ(Id3v1GenreFromName(L"Not a genre"), 255u);
  EXPECT_EQ(Id3v1GenreFromName(L"Blue"), 255u);
  EXPECT_EQ(Id3v1GenreFromName(L""), 255u);
  for (uint32_t n = 1; n <= 148; ++n) EXPECT_EQ(Id3v1GenreFromName(Id3v1GenreName(n)), n);
}

TEST(Id3Print, Dump) {
  std::ostringstream null;
  PrintVisitor(null).Print(nullptr);
  EXPECT_EQ(null.str(), "<header>NULL</header>\n");
  std::unique_ptr<Header> tag(Read(Tag(3, 0, Frame3("TIT2", Latin("a<b")))));
  std::ostringstream out;
  PrintVisitor(out).Print(tag.get());
  EXPECT_NE(out.str().find("<version>ID3v2.3</version>"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("<frame id='TIT2' size='4'"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("<text type='text'>a&lt;b</text>"), std::string::npos) << out.str();
}

}  // namespace
