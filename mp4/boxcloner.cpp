// Deep copies of boxes.
#include "boxcloner.h"

#include "descriptors.h"

namespace fileutil {

IBox* BoxCloner::Clone(IBox& box) {
  BoxCloner cloner;
  box.Accept(cloner);
  return cloner.result_;
}

IDataBox* BoxCloner::CloneDataBox(IBox& box) {
  BoxCloner cloner;
  box.Accept(cloner);
  if (!cloner.dataResult_) {
    delete cloner.result_;
    return nullptr;
  }
  return cloner.dataResult_;
}

template <class T>
uint32_t BoxCloner::Copy(T& box) {
  result_ = new (std::nothrow) T(box);
  return 0;
}

template <class T>
uint32_t BoxCloner::CopyData(T& box) {
  T* copy = new (std::nothrow) T(box);
  result_ = copy;
  dataResult_ = copy;
  return 0;
}

template <class T>
uint32_t BoxCloner::CopyWithChildren(T& box) {
  T* copy = new (std::nothrow) T(box);
  if (!copy) return 0;
  for (IBox* child : box.Children()) {
    IBox* c = Clone(*child);
    if (!c) {
      delete copy;
      return 0;
    }
    copy->Children().push_back(c);
  }
  result_ = copy;
  return 0;
}

template <class T>
uint32_t BoxCloner::NewDefault(T&) {
  result_ = new (std::nothrow) T();
  return 0;
}

#define COPY(C) \
  uint32_t BoxCloner::Visit(C& box) { return Copy(box); }
#define COPY_DATA(C) \
  uint32_t BoxCloner::Visit(C& box) { return CopyData(box); }
#define DEEP(C) \
  uint32_t BoxCloner::Visit(C& box) { return CopyWithChildren(box); }
#define DEFAULT(C) \
  uint32_t BoxCloner::Visit(C& box) { return NewDefault(box); }

COPY(PNGSampleEntryBox)
COPY(MetaDataSampleTableBox)
COPY(MetaDataSampleManagerHeaderBox)
COPY(MetaDataBox)
COPY(MetaTypeDefinitionBox)
COPY(MetaDataSampleData)
DEEP(MTSMBox)
DEEP(UserSpecificMetaData)
COPY(UnknownGuidBox)
COPY(NameBox)
COPY(MeanBox)
DEFAULT(UrlBox)
DEFAULT(DataReferenceBox)
DEFAULT(SoundMediaInfoHeaderBox)
DEFAULT(MediaHeaderBox)
DEFAULT(TrackHeaderBox)
DEFAULT(MovieHeaderBox)
COPY(FreeBox)
COPY(RecordingYearBox)
FILEUTIL_ASSET_BOX_CLASSES(COPY)
FILEUTIL_DATA_BOX_CLASSES(COPY_DATA)
DEEP(FreeformItemBox)
DEEP(DinfBox)
DEEP(TrknItemBox)
DEEP(KeywItemBox)
DEEP(DesItemBox)
DEEP(CpyItemBox)
DEEP(GnreItemBox)
DEEP(GenItemBox)
DEEP(TooItemBox)
DEEP(AlbItemBox)
DEEP(NamItemBox)
DEEP(DayItemBox)
DEEP(CmtItemBox)
DEEP(AARTItemBox)
DEEP(ARTItemBox)
DEEP(CovrBox)
DEEP(Mpeg4AudioSampleEntry)
DEEP(SampleDescriptionBox)
COPY(SampleToChunkBox)
COPY(SampleSizeBox)
COPY(TimeToSampleBox)
COPY(ChunkLargeOffsetBox)
COPY(ChunkOffsetBox)
COPY(MediaHandlerReferenceBox)
DEEP(IlstBox)
DEEP(MetaBox)
DEEP(StblBox)
COPY(MediaDataBox)
DEEP(MinfBox)
DEEP(MdiaBox)
DEEP(TrakBox)
DEEP(MoovBox)
DEEP(UdtaBox)
DEEP(EdtsBox)
COPY(EditListBox)
COPY(UnknownBox)
COPY(FileTypeBox)

// A box that holds a descriptor tree ('esds', 'iods') gets its own copy of it.
template <class T>
uint32_t BoxCloner::CopyWithDescriptor(T& box) {
  T* copy = new (std::nothrow) T(box);
  if (!copy) return 0;
  if (box.GetDescriptor()) {
    esds::Descriptor* d = box.GetDescriptor()->Clone();
    if (!d) {
      delete copy;
      return 0;
    }
    copy->SetDescriptor(d);
  }
  result_ = copy;
  return 0;
}
uint32_t BoxCloner::Visit(ElementaryStreamDescriptorBox& box) { return CopyWithDescriptor(box); }
uint32_t BoxCloner::Visit(InitialObjectDescriptorBox& box) { return CopyWithDescriptor(box); }

uint32_t BoxCloner::Visit(ID3v2MetaBox& box) {
  ID3v2MetaBox* copy = new (std::nothrow) ID3v2MetaBox(box);
  if (!copy) return 0;
  if (box.tag) {
    const Id3TagOperations* ops = GetId3TagOperations();
    copy->tag = (ops && ops->clone) ? ops->clone(box.tag) : nullptr;
    if (!copy->tag) {
      delete copy;
      return 0;
    }
  }
  result_ = copy;
  return 0;
}

}  // namespace fileutil
