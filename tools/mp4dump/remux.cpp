// The one-track file: 'ftyp', 'moov' (with 'iods' and one sound track whose
// 'esds' carries the source's decoder configuration), a 'free' box and 'mdat',
// media data behind 102400 reserved bytes, then the rewrite of the header boxes
// in place or through a copy.
#include "remux.h"

#include <cstdio>
#include <vector>

#include "boxreader.h"
#include "filestream.h"
#include "rewrite.h"
#include "textencoding.h"
#include "trackreader.h"
#include "trackwriter.h"

using namespace fileutil;

namespace {

const uint64_t kReservedSpace = 102400;

template <class T>
T* Add(ChildBoxes& parent) {
  T* box = new T();
  parent.AddChild(box);
  return box;
}

BoxList* BuildTree(const TrackReader& source, const esds::DecoderConfigDescriptor& config) {
  BoxList* boxes = new BoxList();
  FileTypeBox* ftyp = new FileTypeBox();
  ftyp->majorBrand = FourCC("mp42");
  for (const char* b : {"isom", "3gp4", "3gp5", "3gp6", "3gp7"}) ftyp->AddBrand(FourCC(b));
  boxes->push_back(ftyp);
  MoovBox* moov = new MoovBox();
  boxes->push_back(moov);
  Add<MovieHeaderBox>(*moov)->nextTrackId = 2;
  InitialObjectDescriptorBox* iods = Add<InitialObjectDescriptorBox>(*moov);
  esds::InitialObjectDescriptor* iod = new esds::InitialObjectDescriptor();
  esds::ESIDIncDescriptor* inc = new esds::ESIDIncDescriptor();
  inc->trackId = 1;
  iod->children.push_back(inc);
  iod->Set(0xFF, 0xFF, 0x29, 0xFF, 0xFF);
  iods->SetDescriptor(iod);
  TrakBox* trak = Add<TrakBox>(*moov);
  Add<TrackHeaderBox>(*trak);
  MdiaBox* mdia = Add<MdiaBox>(*trak);
  Add<MediaHeaderBox>(*mdia);
  Add<MediaHandlerReferenceBox>(*mdia)->InitSoundHandler();
  MinfBox* minf = Add<MinfBox>(*mdia);
  Add<SoundMediaInfoHeaderBox>(*minf);
  Add<UrlBox>(*Add<DataReferenceBox>(*Add<DinfBox>(*minf)));
  StblBox* stbl = Add<StblBox>(*minf);
  Add<TimeToSampleBox>(*stbl);
  SampleDescriptionBox* stsd = Add<SampleDescriptionBox>(*stbl);
  Mpeg4AudioSampleEntry* mp4a = Add<Mpeg4AudioSampleEntry>(*stsd);
  mp4a->dataReferenceIndex = 1;
  mp4a->channelCount = source.GetChannelCount();
  mp4a->sampleSize = 16;
  mp4a->sampleRate = source.GetSampleRate() << 16;
  ElementaryStreamDescriptorBox* esdsBox = Add<ElementaryStreamDescriptorBox>(*mp4a);
  esds::ElementaryStreamDescriptor* es = new esds::ElementaryStreamDescriptor();
  es->Set(config.objectTypeIndication, config.streamType, config.GetBufferSizeDB(), config.maxBitrate,
          config.avgBitrate, 0, source.GetDecoderSpecificInfo());
  esdsBox->SetDescriptor(es);
  Add<SampleSizeBox>(*stbl);
  Add<SampleToChunkBox>(*stbl);
  Add<ChunkOffsetBox>(*stbl);
  FreeBox* free = new FreeBox();
  free->SetSize(8);
  boxes->push_back(free);
  boxes->push_back(new MediaDataBox());
  return boxes;
}

class FindConfig : public BoxVisitor {
 public:
  uint32_t Visit(ElementaryStreamDescriptorBox& box) override {
    if (!config && box.GetDescriptor()) {
      esds::InitTrackReader finder;
      box.GetDescriptor()->Accept(finder);
      config = finder.decoderConfig;
    }
    return 0;
  }
  using BoxVisitor::Visit;
  esds::DecoderConfigDescriptor* config = nullptr;
};

}  // namespace

int Remux(const std::wstring& input, const std::wstring& output) {
  BoxReader reader(input.c_str());
  BoxList* sourceBoxes = reader.ReadAllBoxes();
  ifstream in(input.c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsSequentialScan, nullptr);
  if (!sourceBoxes || !in.is_open()) {
    std::fprintf(stderr, "mp4dump: cannot read the source\n");
    DeleteBoxList(sourceBoxes);
    return 1;
  }
  TrackReader source(*sourceBoxes, in);
  FindConfig find;
  VisitBoxes(*sourceBoxes, find);
  if (!source.Init() || !find.config) {
    std::fprintf(stderr, "mp4dump: no audio track\n");
    DeleteBoxList(sourceBoxes);
    return 1;
  }
  BoxList* boxes = BuildTree(source, *find.config);
  int status = 0;
  {
    ofstream out(output.c_str(), 65536, kGenericWrite, 0, nullptr, kCreateAlways, kFlagsNormal, nullptr);
    TrackWriter writer(*boxes, out, kReservedSpace);
    if (!out.is_open() || !writer.Init()) {
      status = 1;
    } else {
      std::vector<uint8_t> unit;
      uint64_t time = 0;
      for (uint32_t n = 1; n <= source.GetSampleCount() && status == 0; ++n) {
        uint32_t found = 0, delta = 0;
        uint64_t start = 0;
        if (!source.FindSampleForTime(time, found, start, delta) || found != n || !source.SeekSample(n) ||
            !source.ReadSample(unit) || !writer.WriteSample(unit, delta))
          status = 1;
        time += delta;
      }
      writer.Finish();
    }
    if (!out.close()) status = 1;
  }
  if (status == 0) {
    RewriteResult result;
    HRESULT hr = RewriteBoxFile(output.c_str(), *boxes, false, &result);
    if (FAILED(hr)) {
      status = 6;
      std::printf("failed\n");
    } else {
      std::printf("%s\n", result.inPlace ? "in place" : "copy");
    }
  } else {
    std::fprintf(stderr, "mp4dump: writing the media data failed\n");
  }
  DeleteBoxList(boxes);
  DeleteBoxList(sourceBoxes);
  return status;
}
