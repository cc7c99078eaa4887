// The size pass, the box writer and copier, the track writer and the checked
// rewrite with its backup name; the audio file writer's gapless comment.
#include "mp4_test_util.h"

#include <cstdio>

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#endif

#include "audiofilewriter.h"
#include "boxes.h"
#include "boxwriter.h"
#include "factories.h"
#include "fileio.h"
#include "preparewrite.h"
#include "rewrite.h"
#include "trackwriter.h"

using namespace mp4test;
using namespace fileutil;

namespace {

// A seekable sink that keeps nothing and may refuse bytes after a limit.
class SinkBuffer : public std::streambuf {
 public:
  explicit SinkBuffer(uint64_t limit = UINT64_MAX) : limit_(limit) {}
  uint64_t position = 0, end = 0;

 protected:
  int_type overflow(int_type c) override {
    if (position >= limit_) return traits_type::eof();
    ++position;
    if (position > end) end = position;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    std::streamsize ok = 0;
    while (ok < n && overflow(0) != traits_type::eof()) ++ok;
    return ok;
  }
  pos_type seekoff(off_type off, std::ios_base::seekdir way, std::ios_base::openmode) override {
    int64_t base = way == std::ios_base::beg ? 0 : way == std::ios_base::cur ? int64_t(position) : int64_t(end);
    position = uint64_t(base + off);
    return pos_type(off_type(position));
  }
  pos_type seekpos(pos_type p, std::ios_base::openmode m) override { return seekoff(off_type(p), std::ios_base::beg, m); }

 private:
  uint64_t limit_;
};

template <class T>
T* Own(BoxList& list, T* box) {
  list.push_back(box);
  return box;
}

struct OwnedList {
  BoxList boxes;
  ~OwnedList() { DeleteBoxes(boxes); }
};

// 'ftyp', 'moov' with an 'mvhd' and an unknown box of `extra` bytes, a 'free'
// box of `freeSize`, then 'mdat', as read from a file.
void ReadLayout(OwnedList& t, uint64_t freeSize, uint64_t moovGrowth) {
  FileTypeBox* ftyp = Own(t.boxes, new FileTypeBox());
  for (const char* b : {"M4A ", "mp42", "isom"}) ftyp->AddBrand(FourCC(b));
  MoovBox* moov = Own(t.boxes, new MoovBox());
  moov->AddChild(new MovieHeaderBox());
  if (moovGrowth) {
    FreeBox* added = new FreeBox();
    added->SetSize(moovGrowth);
    moov->AddChild(added);
  }
  uint64_t at = 28 + 116;
  FreeBox* free = Own(t.boxes, new FreeBox());
  free->SetSize(freeSize);
  free->SetOffset(at);
  MediaDataBox* mdat = Own(t.boxes, new MediaDataBox());
  mdat->SetOffset(at + freeSize);
  mdat->SetSize(5000);
  mdat->SetHeaderSize(8);
  mdat->SetWriteOffset(at + freeSize);
  mdat->SetWriteSize(5000);
}

}  // namespace

TEST(PrepareWrite, InPlaceOrCopy) {
  struct Row {
    const char* name;
    uint64_t freeSize;  // 0: no free box
    uint64_t growth;
    bool copy;
    uint64_t shift;
    uint64_t freeAfter;
  } rows[] = {
      {"ftyp, moov, mdat: no free box", 0, 0, true, uint64_t(0) - 0, 0},
      {"free of 1000 absorbs 200", 1000, 200, false, 0, 800},
      {"992 leaves the bare header", 1000, 992, false, 0, 8},
      {"993 does not fit", 1000, 993, true, 993, 1000},
  };
  for (const Row& r : rows) {
    OwnedList t;
    ReadLayout(t, r.freeSize ? r.freeSize : 8, r.growth);
    if (!r.freeSize) {
      // Drop the free box: 'mdat' follows 'moov' directly.
      IBox* free = *std::next(t.boxes.begin(), 2);
      t.boxes.remove(free);
      delete free;
      t.boxes.back()->SetOffset(144);
      t.boxes.back()->SetWriteOffset(144);
    }
    PrepareWrite pass(t.boxes);
    pass.Run();
    EXPECT_EQ(r.copy, pass.NeedsCopy()) << r.name;
    EXPECT_EQ(r.shift, pass.GetMediaDataShift()) << r.name;
    EXPECT_EQ(0u, t.boxes.front()->GetWriteOffset()) << r.name;
    EXPECT_EQ(28u, t.boxes.front()->GetWriteSize()) << r.name;
    EXPECT_EQ(28u, (*std::next(t.boxes.begin()))->GetWriteOffset()) << r.name;
    EXPECT_EQ(116u + r.growth, (*std::next(t.boxes.begin()))->GetWriteSize()) << r.name;
    if (r.freeSize) {
      EXPECT_EQ(r.freeAfter, (*std::next(t.boxes.begin(), 2))->GetWriteSize()) << r.name;
    }
    EXPECT_EQ(pass.GetTotalSize(), t.boxes.back()->GetWriteOffset() + t.boxes.back()->GetWriteSize()) << r.name;
  }
  // Once the media data had to move, every later pass decides for a copy.
  OwnedList t;
  ReadLayout(t, 1000, 993);
  PrepareWrite first(t.boxes);
  first.Run();
  BoxList* moovChildren = ChildrenOf(**std::next(t.boxes.begin()));
  delete moovChildren->back();  // 'moov' shrinks back to its old size
  moovChildren->pop_back();
  PrepareWrite second(t.boxes);
  second.Run();
  EXPECT_TRUE(second.NeedsCopy());
}

TEST(PrepareWrite, FixedAndContentSizes) {
  struct Row {
    const char* name;
    IBox* box;
    uint64_t size;
  };
  ID3v2MetaBox* id32 = new ID3v2MetaBox();
  MediaHandlerReferenceBox* hdlr = new MediaHandlerReferenceBox();
  hdlr->InitMetadataHandler();
  MoovBox* moov = new MoovBox();
  moov->AddChild(new MovieHeaderBox());
  TitlAssetBox* titl = new TitlAssetBox();
  DataBox1* data = new DataBox1();
  data->payload = {'a', 'b', 'c'};
  ElementaryStreamDescriptorBox* esdsBox = new ElementaryStreamDescriptorBox();
  esds::ElementaryStreamDescriptor* es = new esds::ElementaryStreamDescriptor();
  es->Set(0x40, 5, 0, 0, 0, 0, {0x12, 0x10});
  esdsBox->SetDescriptor(es);
  Row rows[] = {{"ID32 without a tag", id32, 14},  {"metadata hdlr", hdlr, 34}, {"moov with mvhd", moov, 116},
                {"empty titl", titl, 14},         {"data of 3 bytes", data, 19}, {"AAC esds", esdsBox, 51},
                {"tkhd", new TrackHeaderBox(), 92}, {"mdhd", new MediaHeaderBox(), 32}, {"smhd", new SoundMediaInfoHeaderBox(), 16}};
  OwnedList t;
  for (const Row& r : rows) t.boxes.push_back(r.box);
  PrepareWrite pass(t.boxes);
  pass.Run();
  uint64_t offset = 0;
  for (const Row& r : rows) {
    EXPECT_EQ(r.size, r.box->GetWriteSize()) << r.name;
    EXPECT_EQ(offset, r.box->GetWriteOffset()) << r.name;
    offset += r.size;
  }
  // Written, every box comes out at its size.
  std::stringstream out;
  BoxWriter writer(out, t.boxes, 0);
  EXPECT_EQ(offset, writer.Write());
  EXPECT_TRUE(writer.Succeeded());
  EXPECT_EQ(offset, out.str().size());
  // The 'titl' box: v/f and language only.
  EXPECT_EQ(U32(14) + "titl" + U32(0) + U16(0), out.str().substr(14 + 34 + 116, 14));
}

TEST(BoxWriter, HeadersShiftsAndCounts) {
  OwnedList t;
  ChunkOffsetBox* stco = Own(t.boxes, new ChunkOffsetBox());
  stco->AddChunkOffset(100);
  stco->AddChunkOffset(200);
  SampleDescriptionBox* stsd = Own(t.boxes, new SampleDescriptionBox());
  stsd->AddChild(new Mpeg4AudioSampleEntry());
  FreeBox* free = Own(t.boxes, new FreeBox());
  free->SetSize(8);
  UnknownBox* big = Own(t.boxes, new UnknownBox(FourCC("abcd")));
  big->SetSize(0xFFFFFFFFull);
  big->SetHeaderSize(8);
  UnknownBox* huge = Own(t.boxes, new UnknownBox(FourCC("wxyz")));
  huge->SetSize(0x100000000ull);
  huge->SetHeaderSize(16);
  PrepareWrite pass(t.boxes);
  pass.Run();
  // The in-place writer only passes over the unknown contents.
  SinkBuffer sink;
  std::ostream out(&sink);
  BoxWriter writer(out, t.boxes, 993);
  uint64_t n = writer.Write();
  EXPECT_TRUE(writer.Succeeded());
  EXPECT_EQ(pass.GetTotalSize(), n);
  EXPECT_EQ(1093u, stco->GetChunkOffset(0));
  EXPECT_EQ(1193u, stco->GetChunkOffset(1));
  EXPECT_EQ(1u, stsd->entryCount);
  // The same with real bytes for the small boxes.
  OwnedList s;
  ChunkOffsetBox* back = Own(s.boxes, new ChunkOffsetBox());
  back->AddChunkOffset(5000);
  SampleDescriptionBox* d = Own(s.boxes, new SampleDescriptionBox());
  d->AddChild(new Mpeg4AudioSampleEntry());
  FreeBox* f = Own(s.boxes, new FreeBox());
  f->SetSize(8);
  PrepareWrite p2(s.boxes);
  p2.Run();
  std::stringstream bytes;
  BoxWriter w2(bytes, s.boxes, uint64_t(0) - 993);  // the media data moved back
  w2.Write();
  EXPECT_EQ(U32(20) + "stco" + U32(0) + U32(1) + U32(4007), bytes.str().substr(0, 20));
  EXPECT_EQ(U32(52) + "stsd" + U32(0) + U32(1), bytes.str().substr(20, 16));
  EXPECT_EQ(U32(8) + "free", bytes.str().substr(72));
}

TEST(BoxWriter, ReportsAFailingStream) {
  OwnedList t;
  MoovBox* moov = Own(t.boxes, new MoovBox());
  moov->AddChild(new MovieHeaderBox());
  PrepareWrite pass(t.boxes);
  pass.Run();
  SinkBuffer refusing(50);
  std::ostream out(&refusing);
  BoxWriter writer(out, t.boxes, 0);
  writer.Write();
  EXPECT_FALSE(writer.Succeeded());
}

TEST(BoxCopy, CopiesContentsFromTheSource) {
  Bytes source = B("abcd", Bytes(4992, 'h')) + B("mdat", Bytes(9992, 'm')) + B("abcd", "1") + B("wxyz", "22") +
                 B("uuid", Hex("00112233445566778899aabbccddeeff") + "content");
  Tree tree(source, GetMetaFactory());
  ASSERT_TRUE(tree.boxes);
  // Drop the 5000 leading bytes' boxes: the copy starts with 'mdat'.
  while (tree.boxes->front()->GetType() != FourCC("mdat")) {
    delete tree.boxes->front();
    tree.boxes->pop_front();
  }
  PrepareWrite pass(*tree.boxes);
  pass.Run();
  EXPECT_TRUE(pass.NeedsCopy());
  std::istringstream in(source);
  std::stringstream out;
  BoxCopy copy(out, in, *tree.boxes, pass.GetMediaDataShift());
  copy.Write();
  EXPECT_TRUE(copy.Succeeded());
  EXPECT_EQ(source.substr(5000), out.str());
  // A source that ends early fails the copy.
  std::istringstream cut(source.substr(0, 9000));
  std::stringstream out2;
  BoxCopy shortCopy(out2, cut, *tree.boxes, 0);
  shortCopy.Write();
  EXPECT_FALSE(shortCopy.Succeeded());
}

TEST(TrackWriter, TablesAndDurations) {
  OwnedList t;
  MoovBox* moov = Own(t.boxes, new MoovBox());
  MovieHeaderBox* mvhd = new MovieHeaderBox();
  moov->AddChild(mvhd);
  TrakBox* trak = new TrakBox();
  moov->AddChild(trak);
  TrackHeaderBox* tkhd = new TrackHeaderBox();
  trak->AddChild(tkhd);
  MdiaBox* mdia = new MdiaBox();
  trak->AddChild(mdia);
  MediaHeaderBox* mdhd = new MediaHeaderBox();
  mdia->AddChild(mdhd);
  MinfBox* minf = new MinfBox();
  mdia->AddChild(minf);
  StblBox* stbl = new StblBox();
  minf->AddChild(stbl);
  TimeToSampleBox* stts = new TimeToSampleBox();
  SampleDescriptionBox* stsd = new SampleDescriptionBox();
  Mpeg4AudioSampleEntry* mp4a = new Mpeg4AudioSampleEntry();
  mp4a->sampleRate = 44100u << 16;
  stsd->AddChild(mp4a);
  SampleSizeBox* stsz = new SampleSizeBox();
  SampleToChunkBox* stsc = new SampleToChunkBox();
  ChunkOffsetBox* stco = new ChunkOffsetBox();
  for (IBox* b : std::initializer_list<IBox*>{stts, stsd, stsz, stsc, stco}) stbl->AddChild(b);
  MediaDataBox* mdat = Own(t.boxes, new MediaDataBox());
  std::ostringstream out;
  TrackWriter writer(t.boxes, out, 102400);
  ASSERT_TRUE(writer.Init());
  ASSERT_EQ(1u, stsc->entries.size());
  EXPECT_EQ(1u, stsc->entries[0].samplesPerChunk);
  EXPECT_EQ(102400u, out.str().size());
  EXPECT_TRUE(writer.WriteSample(std::vector<uint8_t>(200, 1), 1024));
  EXPECT_TRUE(writer.WriteSample(std::vector<uint8_t>(180, 2), 1024));
  EXPECT_TRUE(writer.WriteSample(std::vector<uint8_t>(210, 3), 1024));
  ASSERT_EQ(1u, stts->entries.size());
  EXPECT_EQ(3u, stts->entries[0].sampleCount);
  EXPECT_EQ((std::vector<uint32_t>{200, 180, 210}), stsz->sizes);
  EXPECT_EQ(3u, stsz->sampleCount);
  EXPECT_EQ((std::vector<uint32_t>{102400, 102600, 102780}), stco->offsets);
  EXPECT_EQ(590u, mdat->payloadLength);
  writer.WriteSample(std::vector<uint8_t>(10, 4), 512);
  writer.WriteSample(std::vector<uint8_t>(10, 5), 1024);
  ASSERT_EQ(3u, stts->entries.size());
  EXPECT_EQ(512u, stts->entries[1].sampleDelta);
  EXPECT_EQ(1u, stts->entries[2].sampleCount);
  writer.Finish();
  EXPECT_EQ(600u, mvhd->timescale);
  EXPECT_EQ(uint32_t((4 * 1024 + 512) * 600 / 44100), mvhd->duration);
  EXPECT_EQ(mvhd->duration, tkhd->duration);
  EXPECT_EQ(1u, tkhd->trackId);
  EXPECT_EQ(44100u, mdhd->timescale);
  EXPECT_EQ(4u * 1024 + 512, mdhd->duration);
  EXPECT_EQ(102392u, mdat->GetOffset());
  EXPECT_EQ(610u + 8, mdat->GetSize());
  EXPECT_EQ(mdat->GetSize(), mdat->GetWriteSize());

  // A tree without 'mvhd' is refused before anything is written.
  OwnedList u;
  Own(u.boxes, new MediaDataBox());
  std::ostringstream none;
  TrackWriter refused(u.boxes, none, 100);
  EXPECT_FALSE(refused.Init());
  EXPECT_TRUE(none.str().empty());
}

// The reading factories keep edit lists as unknown boxes (the read road
// counts every sample); this one parses them.
class EditListFactory : public FourCCFactory {
 public:
  EditListFactory() { RegisterBoxes(); }
  void RegisterBoxes() override {
    Add(new MoovBox());
    Add(new TrakBox());
    Add(new EdtsBox());
    Add(new EditListBox());
  }
};

// Edit lists read and written in both layouts: version 0 with 32-bit fields,
// version 1 with 64-bit ones (kept when read so, chosen when a value needs it).
TEST(EditList, ReadWriteBothLayouts) {
  struct Case {
    const char* name;
    Bytes box;
    uint64_t duration;
    int64_t mediaTime;
  };
  const Case cases[] = {
      {"version 0", FB("elst", 0, U32(1) + U32(66150) + U32(2624) + U32(0x10000)), 66150, 2624},
      {"empty segment", FB("elst", 0, U32(1) + U32(1000) + U32(0xFFFFFFFF) + U32(0x10000)), 1000, -1},
      {"version 1", FB("elst", 1u << 24, U32(1) + U64(0x123456789ull) + U64(2624) + U32(0x10000)), 0x123456789ull, 2624},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = B("moov", B("trak", B("edts", c.box)));
    EditListFactory factory;
    Tree tree(file, &factory);
    EditListBox* elst = tree.Find<EditListBox>("elst");
    ASSERT_NE(elst, nullptr) << tree.Dump();
    ASSERT_EQ(1u, elst->entries.size());
    EXPECT_EQ(c.duration, elst->entries[0].segmentDuration);
    EXPECT_EQ(c.mediaTime, elst->entries[0].mediaTime);
    EXPECT_EQ(1, elst->entries[0].rateInteger);
    EXPECT_EQ(0, elst->entries[0].rateFraction);
    PrepareWrite pass(*tree.boxes);
    pass.Run();
    std::stringstream out;
    BoxWriter writer(out, *tree.boxes, 0);
    EXPECT_EQ(file.size(), writer.Write());
    EXPECT_EQ(file, out.str());
  }
  // A value past 32 bits takes the 64-bit layout.
  OwnedList t;
  EditListBox* wide = Own(t.boxes, new EditListBox());
  wide->entries.push_back(EditListEntry{0x100000000ull, 5, 1, 0});
  PrepareWrite pass(t.boxes);
  pass.Run();
  EXPECT_EQ(12u + 4 + 20, wide->GetWriteSize());
  std::stringstream out;
  BoxWriter writer(out, t.boxes, 0);
  writer.Write();
  EXPECT_EQ(FB("elst", 1u << 24, U32(1) + U64(0x100000000ull) + U64(5) + U32(0x10000)), out.str());
}

// With a presentation set, the track gets an edit list after its header that
// skips the priming samples and ends with the source, and the movie counts in
// samples; the media keeps every sample.
TEST(TrackWriter, EditListSkipsPrimingAndPadding) {
  struct Case {
    uint64_t priming, length;
    uint64_t wantLength;  // what the edit presents
  };
  const Case cases[] = {{2624, 2000, 2000}, {2624, 2500, 5120 - 2624}, {0, 5120, 5120}};
  for (const Case& c : cases) {
    OwnedList t;
    MoovBox* moov = Own(t.boxes, new MoovBox());
    MovieHeaderBox* mvhd = new MovieHeaderBox();
    moov->AddChild(mvhd);
    TrakBox* trak = new TrakBox();
    moov->AddChild(trak);
    TrackHeaderBox* tkhd = new TrackHeaderBox();
    trak->AddChild(tkhd);
    MdiaBox* mdia = new MdiaBox();
    trak->AddChild(mdia);
    MediaHeaderBox* mdhd = new MediaHeaderBox();
    mdia->AddChild(mdhd);
    MinfBox* minf = new MinfBox();
    mdia->AddChild(minf);
    StblBox* stbl = new StblBox();
    minf->AddChild(stbl);
    SampleDescriptionBox* stsd = new SampleDescriptionBox();
    Mpeg4AudioSampleEntry* mp4a = new Mpeg4AudioSampleEntry();
    mp4a->sampleRate = 44100u << 16;
    stsd->AddChild(mp4a);
    for (IBox* b : std::initializer_list<IBox*>{new TimeToSampleBox(), stsd, new SampleSizeBox(), new SampleToChunkBox(),
                                                new ChunkOffsetBox()})
      stbl->AddChild(b);
    Own(t.boxes, new MediaDataBox());
    std::ostringstream out;
    TrackWriter writer(t.boxes, out, 1024);
    ASSERT_TRUE(writer.Init());
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(writer.WriteSample(std::vector<uint8_t>(100, 1), 1024));
    writer.SetPresentation(c.priming, c.length);
    writer.Finish();
    std::vector<uint32_t> types;
    for (IBox* b : trak->Children()) types.push_back(b->GetType().GetValue());
    ASSERT_EQ((std::vector<uint32_t>{FCC("tkhd"), FCC("edts"), FCC("mdia")}), types);
    EdtsBox* edts = dynamic_cast<EdtsBox*>(*std::next(trak->Children().begin()));
    ASSERT_NE(edts, nullptr);
    ASSERT_EQ(1u, edts->Children().size());
    EditListBox* elst = dynamic_cast<EditListBox*>(edts->Children().front());
    ASSERT_NE(elst, nullptr);
    ASSERT_EQ(1u, elst->entries.size());
    EXPECT_EQ(c.wantLength, elst->entries[0].segmentDuration);
    EXPECT_EQ(int64_t(c.priming), elst->entries[0].mediaTime);
    EXPECT_EQ(1, elst->entries[0].rateInteger);
    EXPECT_EQ(44100u, mvhd->timescale);
    EXPECT_EQ(c.wantLength, mvhd->duration);
    EXPECT_EQ(c.wantLength, tkhd->duration);
    EXPECT_EQ(5u * 1024, mdhd->duration);
    // Finishing again replaces the edit list instead of adding one.
    writer.Finish();
    EXPECT_EQ(3u, trak->Children().size());
  }
}

TEST(Rewrite, KeepsTheUsersBackup) {
  Bytes file = B("ftyp", "M4A " + U32(0)) + B("moov", B("udta", "")) + B("mdat", Bytes(3000, 'm'));
  std::string path = HostPath(std::string(VOG_FIXTURE_DIR) + "/rewrite_bak.m4a");
  {
    std::ofstream(path, std::ios::binary) << file;
    std::ofstream(path + ".bak", std::ios::binary) << "mine";
  }
  std::wstring wide = Wide(path);
  EXPECT_EQ(Wide(path + ".bak1"), ChooseBackupPath(wide));
  BoxList* boxes = nullptr;
  {
    BoxReader reader(wide.c_str());
    boxes = reader.ReadBoxesForMetaWrite();
  }
  ASSERT_TRUE(boxes);
  RewriteResult result;
  EXPECT_EQ(S_OK, RewriteBoxFile(wide.c_str(), *boxes, true, &result));
  DeleteBoxList(boxes);
  EXPECT_FALSE(result.inPlace);
  EXPECT_EQ(Wide(path + ".bak1"), result.backupPath);
  Bytes back, mine;
  ASSERT_TRUE(LoadFile(path, back));
  EXPECT_EQ(file, back);
  ASSERT_TRUE(LoadFile(path + ".bak", mine));
  EXPECT_EQ("mine", mine);
  EXPECT_FALSE(FileExists(Wide(path + ".bak1").c_str())) << "our backup is removed after success";
  std::remove(path.c_str());
  std::remove((path + ".bak").c_str());
}

// A box rebuilt from memory that was not read whole would lose bytes: such a
// tree is refused, and the file stays as it was.
TEST(Rewrite, RefusesATreeThatDoesNotHoldEveryByte) {
  struct Row {
    const char* name;
    Bytes file;
  } rows[] = {
      {"stco count not matching its table", B("moov", B("trak", B("mdia", B("minf", B("stbl", FB("stco", 0, U32(3) + U32(100))))))) + B("mdat", "x")},
      {"meta without its full-box word", B("moov", B("udta", B("meta", B("hdlr", Bytes(25, 0)) + B("ilst", "")))) + B("mdat", "x")},
      {"bytes after the last box", B("moov", "") + B("mdat", "x") + "abc"},
  };
  std::string path = HostPath(std::string(VOG_FIXTURE_DIR) + "/refused.m4a");
  for (const Row& r : rows) {
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << r.file; }
    std::wstring wide = Wide(path);
    BoxList* boxes = nullptr;
    {
      BoxReader reader(wide.c_str());
      boxes = reader.ReadBoxesForMetaWrite();
    }
    ASSERT_TRUE(boxes) << r.name;
    EXPECT_EQ(E_FAIL, RewriteBoxFile(wide.c_str(), *boxes)) << r.name;
    DeleteBoxList(boxes);
    Bytes back;
    ASSERT_TRUE(LoadFile(path, back));
    EXPECT_EQ(r.file, back) << r.name;
  }
  std::remove(path.c_str());
}

TEST(PrepareWrite, MediaDataMovingByDifferentDistancesIsRefused) {
  OwnedList t;
  MediaDataBox* first = Own(t.boxes, new MediaDataBox());
  first->SetSize(100);
  MoovBox* moov = Own(t.boxes, new MoovBox());
  moov->SetOffset(100);
  MediaDataBox* second = Own(t.boxes, new MediaDataBox());
  second->SetOffset(108);
  second->SetSize(100);
  second->SetWriteOffset(108);
  second->SetWriteSize(100);
  {
    PrepareWrite pass(t.boxes);
    pass.Run();
    EXPECT_TRUE(pass.CanWrite());  // 'moov' keeps its 8 bytes: both stay
  }
  moov->AddChild(new MovieHeaderBox());  // 'moov' grows between them
  first->copyFlag = 0;
  second->copyFlag = 0;
  PrepareWrite pass(t.boxes);
  pass.Run();
  EXPECT_TRUE(pass.NeedsCopy());
  EXPECT_FALSE(pass.CanWrite());
}

namespace {

// Five units of 1024 samples, presenting `length` after `priming` (none when
// `priming` is 0).
class FiveUnits : public IAccessUnitSource {
 public:
  FiveUnits(uint64_t priming, uint64_t length, size_t unitSize = 50)
      : priming_(priming), length_(length), unitSize_(unitSize) {}
  HRESULT NextAccessUnit(std::vector<uint8_t>* unit, uint32_t* duration) override {
    unit->assign(unitSize_, uint8_t(count_));
    *duration = 1024;
    return ++count_ < 5 ? S_OK : S_FALSE;
  }
  bool GetPresentation(uint64_t* priming, uint64_t* length) override {
    *priming = priming_;
    *length = length_;
    return priming_ > 0;
  }

 private:
  int count_ = 0;
  uint64_t priming_, length_;
  size_t unitSize_;
};

}  // namespace

// The comment sits in moov/udta/meta (with the 'mdir' handler)/ilst as the one
// free-form item; its padding is what follows the presented part of the five
// units, the length is cut to the units written.
TEST(AudioFileWriter, GaplessCommentOnlyWhenAskedAndPresented) {
  struct Case {
    const char* name;
    uint64_t priming, length;
    GaplessComment comment;
    const char* text;  // null: no item list at all
  };
  const char* const kTail = " 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000";
  const Case cases[] = {
      {"asked", 2624, 2000, GaplessComment::kWrite, " 00000000 00000A40 000001F0 00000000000007D0"},
      {"length beyond the units", 2624, 9000, GaplessComment::kWrite, " 00000000 00000A40 00000000 00000000000009C0"},
      {"not asked", 2624, 2000, GaplessComment::kNone, nullptr},
      {"no presentation", 0, 5120, GaplessComment::kWrite, nullptr},
  };
  const std::string path = HostPath(std::string(VOG_FIXTURE_DIR) + "/gapless_comment.m4a");
  for (const Case& c : cases) {
    BoxList boxes;
    ASSERT_EQ(S_OK, BuildAudioFileTree(boxes, 2, 44100, nullptr)) << c.name;
    FiveUnits source(c.priming, c.length);
    EXPECT_EQ(S_OK, WriteAudioFile(Wide(path).c_str(), boxes, source, c.comment)) << c.name;
    DeleteBoxes(boxes);
    Bytes file;
    ASSERT_TRUE(LoadFile(path, file)) << c.name;
    const size_t udta = file.find("udta");
    if (!c.text) {
      EXPECT_EQ(std::string::npos, udta) << c.name;
      continue;
    }
    const std::string text = std::string(c.text) + kTail;
    const Bytes want = B("udta", FB("meta", 0, FB("hdlr", 0, U32(0) + "mdir" + "appl" + U32(0) + U32(0) + Bytes(2, '\0')) +
                                                   B("ilst", B("----", FB("mean", 0, "com.apple.iTunes") +
                                                                          FB("name", 0, "iTunSMPB") +
                                                                          B("data", U32(1) + U32(0) + text)))));
    ASSERT_NE(std::string::npos, udta) << c.name;
    EXPECT_EQ(want, file.substr(udta - 4, want.size())) << c.name;
  }
  std::remove(path.c_str());
}

#ifndef _WIN32
// A volume that fills up while the file is written is reported as full, not
// as a generic failure: in the reserved header space, among the units, or
// not at all when there is room. The small volume is a tmpfs mounted in a
// private mount namespace of this process (it goes with the process); where
// mounting is not allowed the test skips.
TEST(AudioFileWriter, FullVolumeIsReportedAsSuch) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "no private mount namespace here (needs root): the full-volume write is not checked";
  const std::string dir = std::string(VOG_FIXTURE_DIR) + "/small_volume";
  mkdir(dir.c_str(), 0755);
  struct Case {
    const char* size;
    size_t unitSize;
    HRESULT expect;
  } cases[] = {
      {"size=64k", 50, KV_E_DISKFULL},     // the reserved header space does not fit
      {"size=128k", 8000, KV_E_DISKFULL},  // the header fits, the units do not
      {"size=1m", 8000, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, c.size) != 0) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    const std::string path = dir + "/full.m4a";
    BoxList boxes;
    ASSERT_EQ(S_OK, BuildAudioFileTree(boxes, 2, 44100, nullptr));
    FiveUnits source(2624, 2000, c.unitSize);
    EXPECT_EQ(c.expect, WriteAudioFile(Wide(path).c_str(), boxes, source, GaplessComment::kWrite));
    DeleteBoxes(boxes);
    umount2(dir.c_str(), MNT_DETACH);
  }
}
#endif
