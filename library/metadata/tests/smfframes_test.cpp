// Audio-feature frames read through the process-wide factory: the class of
// each id, the big-endian header and payloads, unknown ids kept as read, and
// streams that end early or claim more than they hold.
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "metatest_util.h"
#include "smfframes.h"

namespace {

using metatest::Bytes;
using metatest::Hex;
using metatest::U16;
using metatest::U32;

// Records which class a frame was visited as.
class ClassName : public smf::Visitor {
 public:
  std::string name;
  void Visit(smf::BPMFrame&) override { name = "BPM"; }
  void Visit(smf::RMSFrame&) override { name = "RMS"; }
  void Visit(smf::VolumeFrame&) override { name = "Volume"; }
  void Visit(smf::BasicFeaturesFrame&) override { name = "BasicFeatures"; }
  void Visit(smf::ChorusPhraseFrame&) override { name = "ChorusPhrase"; }
  void Visit(smf::MoodWordFrame&) override { name = "MoodWord"; }
  void Visit(smf::HighLevelFeaturesFrame&) override { name = "HighLevelFeatures"; }
  void Visit(smf::UnknownFrame&) override { name = "Unknown"; }
};

// The process-wide factory for the tests of this file.
class SmfFrames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!smf::GetFactory()) {
      ASSERT_TRUE(smf::CreateFactory());
      made_ = true;
    }
  }
  static void TearDownTestSuite() {
    if (made_) smf::DestroyFactory();
    made_ = false;
  }
  static bool made_;

  // Header: id, "TAG1", "TAG2", A = 0x0102, B = 0x0304, size.
  static Bytes Frame(const char* id, uint32_t size, const Bytes& payload) {
    return Bytes(id, 4) + "TAG1" + "TAG2" + U16(0x0102) + U16(0x0304) + U32(size) + payload;
  }
  static std::unique_ptr<smf::Frame> Read(const Bytes& bytes) {
    std::istringstream in(bytes);
    return std::unique_ptr<smf::Frame>(smf::GetFactory()->Read(in));
  }
  static std::string ClassOf(smf::Frame& f) {
    ClassName v;
    f.Accept(v);
    return v.name;
  }
};
bool SmfFrames::made_ = false;

TEST_F(SmfFrames, EveryIdMakesItsClassWithItsName) {
  struct Row {
    const char* id;
    const char* cls;
    const wchar_t* name;
  } rows[] = {{"GBPM", "BPM", L"Generic BPM"},
              {"GVNM", "RMS", L"Peak Volume / RMS Data"},
              {"STNM", "Volume", L"Volume Frame"},
              {"STBF", "BasicFeatures", L"Basic Features"},
              {"STSA", "ChorusPhrase", L"Chorus Phrase"},
              {"STMO", "MoodWord", L"Mood Word"},
              {"STHF", "HighLevelFeatures", L"High Level Features"},
              {"gbpm", "Unknown", L"UNKNOWN FRAME"},
              {"ABCD", "Unknown", L"UNKNOWN FRAME"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    std::unique_ptr<smf::Frame> made(smf::GetFactory()->Create(smf::FourCC(r.id)));
    ASSERT_TRUE(made);
    EXPECT_EQ(r.cls, ClassOf(*made));
    EXPECT_EQ(r.name, made->name);
    // A fresh frame carries the defaults.
    EXPECT_EQ(Bytes("STAE"), Bytes(reinterpret_cast<char*>(made->firstTag), 4));
    EXPECT_EQ(Bytes("MMLW"), Bytes(reinterpret_cast<char*>(made->secondTag), 4));
    EXPECT_EQ(0x8000, made->valueA);
    EXPECT_EQ(0, made->valueB);
    EXPECT_EQ(0u, made->payloadSize);
    // Read from a stream, the frame keeps the id it was read with.
    std::unique_ptr<smf::Frame> read = Read(Frame(r.id, 0, Bytes(8, '\0')));
    ASSERT_TRUE(read);
    EXPECT_EQ(r.cls, ClassOf(*read));
    EXPECT_EQ(smf::FourCC(r.id), read->id);
  }
}

TEST_F(SmfFrames, HeaderAndPayloadsAreBigEndian) {
  auto bpm = Read(Frame("GBPM", 4, Hex("00000078")));
  ASSERT_TRUE(bpm);
  EXPECT_EQ(120u, static_cast<smf::BPMFrame&>(*bpm).bpm);
  EXPECT_EQ(Bytes("TAG1"), Bytes(reinterpret_cast<char*>(bpm->firstTag), 4));
  EXPECT_EQ(Bytes("TAG2"), Bytes(reinterpret_cast<char*>(bpm->secondTag), 4));
  EXPECT_EQ(0x0102, bpm->valueA);
  EXPECT_EQ(0x0304, bpm->valueB);
  EXPECT_EQ(4u, bpm->payloadSize);

  auto rms = Read(Frame("GVNM", 8, Hex("0000FFFF 12345678")));
  EXPECT_EQ(0xFFFFu, static_cast<smf::RMSFrame&>(*rms).peak);
  EXPECT_EQ(0x12345678u, static_cast<smf::RMSFrame&>(*rms).rms);

  auto vol = Read(Frame("STNM", 6, Hex("80000001 ABCD")));
  EXPECT_EQ(0x80000001u, static_cast<smf::VolumeFrame&>(*vol).volume);
  EXPECT_EQ(0xABCD, static_cast<smf::VolumeFrame&>(*vol).extra);

  auto basic = Read(Frame("STBF", 5, Hex("0102030405")));
  EXPECT_EQ(Hex("0102030405"), Bytes(static_cast<smf::BasicFeaturesFrame&>(*basic).data.begin(),
                                     static_cast<smf::BasicFeaturesFrame&>(*basic).data.end()));

  auto chorus = Read(Frame("STSA", 12, Hex("00000001 00000002 00000003")));
  auto& c = static_cast<smf::ChorusPhraseFrame&>(*chorus);
  EXPECT_EQ(1u, c.first);
  EXPECT_EQ((std::vector<uint32_t>{2, 3}), c.further);

  for (const char* id : {"STMO", "STHF"}) {
    SCOPED_TRACE(id);
    auto f = Read(Frame(id, 9, Hex("0102 03 04 FFFE 05 06 AA")));  // 9 bytes: two entries
    const std::vector<smf::FeatureEntry>& e = std::string(id) == "STMO"
                                                  ? static_cast<smf::MoodWordFrame&>(*f).entries
                                                  : static_cast<smf::HighLevelFeaturesFrame&>(*f).entries;
    ASSERT_EQ(2u, e.size());
    EXPECT_EQ(0x0102, e[0].value);
    EXPECT_EQ(3, e[0].first);
    EXPECT_EQ(4, e[0].second);
    EXPECT_EQ(0xFFFE, e[1].value);
    EXPECT_EQ(5, e[1].first);
    EXPECT_EQ(6, e[1].second);
  }
}

TEST_F(SmfFrames, UnknownFrameKeepsItsIdAndRawBytes) {
  auto f = Read(Hex("41424344") + "TAG1TAG2" + U16(1) + U16(2) + U32(3) + Hex("DDEEFF 99"));
  ASSERT_TRUE(f);
  EXPECT_EQ("Unknown", ClassOf(*f));
  EXPECT_EQ(smf::FourCC("ABCD"), f->id);
  EXPECT_EQ(L"UNKNOWN FRAME", f->name);
  auto& u = static_cast<smf::UnknownFrame&>(*f);
  EXPECT_EQ(Hex("DDEEFF"), Bytes(u.data.begin(), u.data.end()));
}

TEST_F(SmfFrames, ChorusPhraseSizes) {
  struct Case {
    uint32_t size;
    Bytes payload;
    uint32_t first;
    size_t further;
  } cases[] = {{4, Hex("00000009 00000007"), 9, 0},  // one value, the next word is not taken
               {0, Hex("00000009 00000007"), 9, 0},  // under four bytes: no further values
               {3, Hex("00000009"), 9, 0},
               {16, Hex("00000001 00000002"), 1, 1},  // claims three further, the stream holds one
               {0xFFFFFFFF, Hex("00000001 00000002 00000003"), 1, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    auto f = Read(Frame("STSA", c.size, c.payload));
    auto& s = static_cast<smf::ChorusPhraseFrame&>(*f);
    EXPECT_EQ(c.first, s.first);
    EXPECT_EQ(c.further, s.further.size());
  }
}

// Sizes claimed beyond the stream keep what the stream held; a header cut
// short leaves the fields it did not reach at their defaults.
TEST_F(SmfFrames, ShortStreams) {
  for (const char* id : {"STBF", "ABCD"}) {
    auto f = Read(Frame(id, 0xFFFFFFF0u, Hex("0102")));
    const std::vector<uint8_t>& data = std::string(id) == "STBF" ? static_cast<smf::BasicFeaturesFrame&>(*f).data
                                                                 : static_cast<smf::UnknownFrame&>(*f).data;
    EXPECT_EQ(Hex("0102"), Bytes(data.begin(), data.end())) << id;
  }
  auto moods = Read(Frame("STMO", 0xFFFFFFFCu, Hex("00010203 000405")));
  EXPECT_EQ(1u, static_cast<smf::MoodWordFrame&>(*moods).entries.size());

  Bytes whole = Frame("GBPM", 4, Hex("00000078"));
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    auto f = Read(whole.substr(0, cut));
    if (cut < 4) {
      EXPECT_FALSE(f);
      continue;
    }
    ASSERT_TRUE(f);
    EXPECT_EQ(smf::FourCC("GBPM"), f->id);
    EXPECT_EQ(cut >= 8 ? Bytes("TAG1") : Bytes("STAE"), Bytes(reinterpret_cast<char*>(f->firstTag), 4));
    EXPECT_EQ(cut >= 14 ? 0x0102 : 0x8000, f->valueA);
    EXPECT_EQ(cut >= 20 ? 4u : 0u, f->payloadSize);
    EXPECT_EQ(0u, static_cast<smf::BPMFrame&>(*f).bpm);
  }
}

TEST_F(SmfFrames, FramesReadOneAfterAnother) {
  std::istringstream in(Frame("GBPM", 4, Hex("0000008C")) + Frame("STNM", 6, Hex("00000010 0020")) +
                        Frame("ZZZZ", 2, Hex("ABCD")));
  std::vector<std::string> classes;
  while (smf::Frame* f = smf::GetFactory()->Read(in)) {
    classes.push_back(ClassOf(*f));
    delete f;
  }
  EXPECT_EQ((std::vector<std::string>{"BPM", "Volume", "Unknown"}), classes);
}

TEST(SmfFactory, CreateAndDestroyAreRepeatable) {
  bool had = smf::GetFactory() != nullptr;
  if (had) return;
  ASSERT_TRUE(smf::CreateFactory());
  smf::Factory* first = smf::GetFactory();
  EXPECT_TRUE(smf::CreateFactory());
  EXPECT_EQ(first, smf::GetFactory());
  smf::DestroyFactory();
  EXPECT_EQ(nullptr, smf::GetFactory());
  smf::DestroyFactory();
  ASSERT_TRUE(smf::CreateFactory());
  EXPECT_NE(nullptr, smf::GetFactory()->Lookup(smf::FourCC("GBPM")));
  smf::DestroyFactory();
}

}  // namespace
