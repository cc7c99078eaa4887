// Box classes: constructor defaults, ownership of descriptors and tags, the
// default walking visitor.
#include "boxes.h"

#include <cstdint>

#include "descriptors.h"
#include "kvbyteorder.h"
#include "sync.h"

namespace fileutil {

const uint32_t kUnityMatrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

const GUID kUserSpecificMetaDataGuid = {0x55534D54, 0x21D2, 0x4FCE, {0xBB, 0x88, 0x69, 0x5C, 0xFA, 0xC9, 0xC7, 0x40}};
const GUID kMetaDataSampleDataGuid = {0x4D545344, 0x21D2, 0x4FCE, {0xBB, 0x88, 0x69, 0x5C, 0xFA, 0xC9, 0xC7, 0x40}};

void DeleteBoxes(BoxList& boxes) {
  for (IBox* box : boxes) delete box;
  boxes.clear();
}

void DeleteBoxList(BoxList* boxes) {
  if (!boxes) return;
  DeleteBoxes(*boxes);
  delete boxes;
}

void VisitBoxes(BoxList& boxes, IBoxVisitor& visitor) {
  for (IBox* box : boxes) box->Accept(visitor);
}

void GuidFromBytes(const uint8_t b[16], GUID& g) {
  g.Data1 = GetBE32(b);
  g.Data2 = GetBE16(b + 4);
  g.Data3 = GetBE16(b + 6);
  for (int i = 0; i < 8; ++i) g.Data4[i] = b[8 + i];
}

void GuidToBytes(const GUID& g, uint8_t b[16]) {
  PutBE32(b, g.Data1);
  PutBE16(b + 4, g.Data2);
  PutBE16(b + 6, g.Data3);
  for (int i = 0; i < 8; ++i) b[8 + i] = g.Data4[i];
}

MovieHeaderBox::MovieHeaderBox()
    : creationTime(uint32_t(GetCurrentBoxTime())), modificationTime(creationTime) {
  for (int i = 0; i < 9; ++i) matrix[i] = kUnityMatrix[i];
}

TrackHeaderBox::TrackHeaderBox()
    : creationTime(uint32_t(GetCurrentBoxTime())), modificationTime(creationTime) {
  versionAndFlags = 7;
  for (int i = 0; i < 9; ++i) matrix[i] = kUnityMatrix[i];
}

MediaHeaderBox::MediaHeaderBox()
    : creationTime(uint32_t(GetCurrentBoxTime())), modificationTime(creationTime) {}

void MediaHandlerReferenceBox::InitSoundHandler() {
  preDefined = 0;
  handlerType = FourCC(FCC("soun"));
  reserved[0] = reserved[1] = reserved[2] = 0;
  name.assign({'s', 'o', 'u', 'n', 0});
}

void MediaHandlerReferenceBox::InitMetadataHandler() {
  preDefined = 0;
  handlerType = FourCC(FCC("mdir"));
  reserved[0] = FCC("appl");
  reserved[1] = reserved[2] = 0;
  name.assign({0, 0});
}

MetaBox* NewMetaBox(FourCC handlerType) {
  MetaBox* meta = new (std::nothrow) MetaBox();
  MediaHandlerReferenceBox* hdlr = new (std::nothrow) MediaHandlerReferenceBox();
  if (!meta || !hdlr) {
    delete meta;
    delete hdlr;
    return nullptr;
  }
  if (handlerType == FourCC(FCC("mdir"))) {
    hdlr->InitMetadataHandler();
  } else {
    hdlr->handlerType = handlerType;
    hdlr->name.assign(1, 0);
  }
  meta->AddChild(hdlr);
  return meta;
}

uint64_t TimeToSampleBox::GetTotalDuration() const {
  uint64_t total = 0;
  for (const TimeToSampleEntry& e : entries) total += uint64_t(e.sampleCount) * e.sampleDelta;
  return total;
}

uint32_t EditListBox::WriteVersion() const {
  if ((versionAndFlags >> 24) == 1) return 1;
  for (const EditListEntry& e : entries)
    if (e.segmentDuration > 0xFFFFFFFFull || e.mediaTime > INT32_MAX || e.mediaTime < INT32_MIN) return 1;
  return 0;
}

ElementaryStreamDescriptorBox::ElementaryStreamDescriptorBox(const ElementaryStreamDescriptorBox& o)
    : FullBox<FCC("esds")>(o), descriptor_(nullptr) {}

ElementaryStreamDescriptorBox::~ElementaryStreamDescriptorBox() { delete descriptor_; }

void ElementaryStreamDescriptorBox::SetDescriptor(esds::Descriptor* d) {
  if (d != descriptor_) delete descriptor_;
  descriptor_ = d;
}

InitialObjectDescriptorBox::InitialObjectDescriptorBox(const InitialObjectDescriptorBox& o)
    : FullBox<FCC("iods")>(o), descriptor_(nullptr) {}

InitialObjectDescriptorBox::~InitialObjectDescriptorBox() { delete descriptor_; }

void InitialObjectDescriptorBox::SetDescriptor(esds::Descriptor* d) {
  if (d != descriptor_) delete descriptor_;
  descriptor_ = d;
}

static const Id3TagOperations* g_id3Operations = nullptr;

void SetId3TagOperations(const Id3TagOperations* ops) { g_id3Operations = ops; }
const Id3TagOperations* GetId3TagOperations() { return g_id3Operations; }

ID3v2MetaBox::ID3v2MetaBox(const ID3v2MetaBox& o)
    : FullBox<FCC("ID32")>(o), language(o.language), tag(nullptr), rawTag(o.rawTag) {}

ID3v2MetaBox::~ID3v2MetaBox() {
  if (tag && g_id3Operations && g_id3Operations->destroy) g_id3Operations->destroy(tag);
}

// ---------------------------------------------------------------------------
// Default visitor

void BoxVisitor::VisitChildren(BoxList& children) {
  for (IBox* child : children) child->Accept(*this);
}

#define WALK(C)                        \
  uint32_t BoxVisitor::Visit(C& box) { \
    VisitChildren(box.Children());     \
    return 0;                          \
  }
#define NO_WALK(C) \
  uint32_t BoxVisitor::Visit(C&) { return 0; }

NO_WALK(PNGSampleEntryBox)
NO_WALK(MetaDataSampleTableBox)
NO_WALK(MetaDataSampleManagerHeaderBox)
NO_WALK(MetaDataBox)
NO_WALK(MetaTypeDefinitionBox)
NO_WALK(MetaDataSampleData)
WALK(MTSMBox)
WALK(UserSpecificMetaData)
NO_WALK(UnknownGuidBox)
NO_WALK(NameBox)
NO_WALK(MeanBox)
NO_WALK(UrlBox)
NO_WALK(DataReferenceBox)
NO_WALK(SoundMediaInfoHeaderBox)
NO_WALK(MediaHeaderBox)
NO_WALK(TrackHeaderBox)
NO_WALK(MovieHeaderBox)
NO_WALK(FreeBox)
NO_WALK(ID3v2MetaBox)
NO_WALK(RecordingYearBox)
FILEUTIL_ASSET_BOX_CLASSES(NO_WALK)
FILEUTIL_DATA_BOX_CLASSES(NO_WALK)
WALK(FreeformItemBox)
NO_WALK(DinfBox)
NO_WALK(TrknItemBox)
NO_WALK(KeywItemBox)
NO_WALK(DesItemBox)
NO_WALK(CpyItemBox)
NO_WALK(GnreItemBox)
NO_WALK(GenItemBox)
NO_WALK(TooItemBox)
NO_WALK(AlbItemBox)
NO_WALK(NamItemBox)
NO_WALK(DayItemBox)
NO_WALK(CmtItemBox)
NO_WALK(AARTItemBox)
NO_WALK(ARTItemBox)
NO_WALK(CovrBox)
WALK(Mpeg4AudioSampleEntry)
NO_WALK(InitialObjectDescriptorBox)
NO_WALK(ElementaryStreamDescriptorBox)
WALK(SampleDescriptionBox)
NO_WALK(SampleToChunkBox)
NO_WALK(SampleSizeBox)
NO_WALK(TimeToSampleBox)
NO_WALK(ChunkLargeOffsetBox)
NO_WALK(ChunkOffsetBox)
NO_WALK(MediaHandlerReferenceBox)
WALK(IlstBox)
WALK(MetaBox)
WALK(StblBox)
NO_WALK(MediaDataBox)
WALK(MinfBox)
WALK(MdiaBox)
WALK(TrakBox)
WALK(MoovBox)
WALK(UdtaBox)
NO_WALK(UnknownBox)
NO_WALK(FileTypeBox)
WALK(EdtsBox)
NO_WALK(EditListBox)

#undef WALK
#undef NO_WALK

}  // namespace fileutil
