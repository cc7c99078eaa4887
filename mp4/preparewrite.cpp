// The size pass.
#include "preparewrite.h"

#include "descriptors.h"

namespace fileutil {

void ApplyToBoxes(BoxList& boxes, IBoxVisitor& visitor) { VisitBoxes(boxes, visitor); }

PrepareWrite::PrepareWrite(BoxList& boxes) : boxes_(boxes) {}

void PrepareWrite::Run() {
  parents_.push_back(&boxes_);
  for (IBox* box : boxes_) box->Accept(*this);
  parents_.pop_back();
  if (anyMediaDataMoves_) copyNeeded_ = true;
}

uint64_t PrepareWrite::GetMediaDataShift() const {
  return mediaData_ ? mediaData_->GetWriteOffset() - mediaData_->GetOffset() : 0;
}

void PrepareWrite::Place(IBox& box, uint64_t size) {
  if (box.IsIncomplete()) incomplete_ = true;
  box.SetWriteOffset(runningOffset_);
  box.SetWriteSize(size);
  runningSize_ += size;
  runningOffset_ += size;
}

// Boxes whose content stays in the file (passed over in place, copied by the
// copier): their size as read. In place this is right only where the box keeps
// its offset; otherwise the file must be copied.
void PrepareWrite::PlaceKept(IBox& box) {
  if (runningOffset_ != box.GetOffset()) copyNeeded_ = true;
  box.SetWriteOffset(runningOffset_);
  box.SetWriteSize(box.GetSize());
  runningSize_ += box.GetSize();
  runningOffset_ += box.GetSize();
}

void PrepareWrite::Container(IBox& box, BoxList& children, uint64_t header) {
  if (box.IsIncomplete()) incomplete_ = true;
  uint64_t before = runningSize_;
  box.SetWriteOffset(runningOffset_);
  runningSize_ += header;
  runningOffset_ += header;
  parents_.push_back(&children);
  for (IBox* child : children) child->Accept(*this);
  parents_.pop_back();
  box.SetWriteSize(runningSize_ - before);
}

#define CONTAINER(C, H)                \
  uint32_t PrepareWrite::Visit(C& box) { \
    Container(box, box.Children(), H);   \
    return 0;                            \
  }
CONTAINER(FreeformItemBox, 8)
CONTAINER(DinfBox, 8)
CONTAINER(TrknItemBox, 8)
CONTAINER(KeywItemBox, 8)
CONTAINER(DesItemBox, 8)
CONTAINER(CpyItemBox, 8)
CONTAINER(GnreItemBox, 8)
CONTAINER(GenItemBox, 8)
CONTAINER(TooItemBox, 8)
CONTAINER(AlbItemBox, 8)
CONTAINER(NamItemBox, 8)
CONTAINER(DayItemBox, 8)
CONTAINER(CmtItemBox, 8)
CONTAINER(AARTItemBox, 8)
CONTAINER(ARTItemBox, 8)
CONTAINER(CovrBox, 8)
CONTAINER(IlstBox, 8)
CONTAINER(StblBox, 8)
CONTAINER(MinfBox, 8)
CONTAINER(MdiaBox, 8)
CONTAINER(TrakBox, 8)
CONTAINER(MoovBox, 8)
CONTAINER(UdtaBox, 8)
CONTAINER(EdtsBox, 8)
CONTAINER(MetaBox, 12)
CONTAINER(SampleDescriptionBox, 16)
CONTAINER(DataReferenceBox, 16)
CONTAINER(Mpeg4AudioSampleEntry, 36)
CONTAINER(UserSpecificMetaData, 24)
#undef CONTAINER

#define KEPT(C)                        \
  uint32_t PrepareWrite::Visit(C& box) { \
    PlaceKept(box);                      \
    return 0;                            \
  }
KEPT(UnknownBox)
KEPT(UnknownGuidBox)
// The card boxes and the PNG entry are not rebuilt from memory: their bytes
// are kept as they stand (passed over in place, copied by the copier).
KEPT(PNGSampleEntryBox)
KEPT(MetaDataSampleTableBox)
KEPT(MetaDataSampleManagerHeaderBox)
KEPT(MetaDataBox)
KEPT(MetaTypeDefinitionBox)
KEPT(MetaDataSampleData)
KEPT(MTSMBox)
#undef KEPT

// A free box's content is written as zeros: nothing of it is lost.
uint32_t PrepareWrite::Visit(FreeBox& box) {
  box.SetWriteOffset(runningOffset_);
  box.SetWriteSize(box.GetSize());
  runningSize_ += box.GetSize();
  runningOffset_ += box.GetSize();
  freeBoxes_.push_back(&box);
  return 0;
}

uint32_t PrepareWrite::Visit(FileTypeBox& box) {
  Place(box, 16 + 4 * uint64_t(box.compatibleBrands.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(MovieHeaderBox& box) {
  Place(box, 108);
  return 0;
}
uint32_t PrepareWrite::Visit(TrackHeaderBox& box) {
  Place(box, 92);
  return 0;
}
// A version-1 media header keeps its 64-bit layout.
uint32_t PrepareWrite::Visit(MediaHeaderBox& box) {
  Place(box, box.Version() == 1 ? 44 : 32);
  return 0;
}
uint32_t PrepareWrite::Visit(SoundMediaInfoHeaderBox& box) {
  Place(box, 16);
  return 0;
}
uint32_t PrepareWrite::Visit(MediaHandlerReferenceBox& box) {
  Place(box, 32 + uint64_t(box.name.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(TimeToSampleBox& box) {
  Place(box, 16 + 8 * uint64_t(box.entries.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(EditListBox& box) {
  Place(box, 16 + (box.WriteVersion() == 1 ? 20 : 12) * uint64_t(box.entries.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(SampleToChunkBox& box) {
  Place(box, 16 + 12 * uint64_t(box.entries.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(SampleSizeBox& box) {
  Place(box, 20 + 4 * uint64_t(box.sizes.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(ChunkOffsetBox& box) {
  Place(box, 16 + 4 * uint64_t(box.offsets.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(ChunkLargeOffsetBox& box) {
  Place(box, 16 + 8 * uint64_t(box.offsets.size()));
  return 0;
}

static uint64_t DescriptorBytes(esds::Descriptor* d) {
  if (!d) return 0;
  esds::DescriptorPrepareWrite size;
  d->Accept(size);
  return size.GetTotal();
}

uint32_t PrepareWrite::Visit(ElementaryStreamDescriptorBox& box) {
  Place(box, 12 + DescriptorBytes(box.GetDescriptor()));
  return 0;
}
uint32_t PrepareWrite::Visit(InitialObjectDescriptorBox& box) {
  Place(box, 12 + DescriptorBytes(box.GetDescriptor()));
  return 0;
}
uint32_t PrepareWrite::Visit(UrlBox& box) {
  Place(box, 12 + uint64_t(box.location.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(NameBox& box) {
  Place(box, 12 + uint64_t(box.text_.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(MeanBox& box) {
  Place(box, 12 + uint64_t(box.text_.size()));
  return 0;
}
uint32_t PrepareWrite::Visit(RecordingYearBox& box) {
  Place(box, 12 + uint64_t(box.payload.size()));
  return 0;
}

#define ASSET(C)                               \
  uint32_t PrepareWrite::Visit(C& box) {       \
    Place(box, 14 + uint64_t(box.text_.size())); \
    return 0;                                  \
  }
FILEUTIL_ASSET_BOX_CLASSES(ASSET)
#undef ASSET

uint32_t PrepareWrite::Visit(ID3v2MetaBox& box) {
  uint64_t tag = 0;
  const Id3TagOperations* ops = GetId3TagOperations();
  if (box.tag && ops && ops->updateAndGetSize)
    tag = ops->updateAndGetSize(box.tag, runningOffset_);
  else
    tag = box.rawTag.size();
  Place(box, 14 + tag);
  return 0;
}

#define DATA(C)                                        \
  uint32_t PrepareWrite::Visit(C& box) {               \
    Place(box, 16 + uint64_t(box.Data().size()));      \
    return 0;                                          \
  }
FILEUTIL_DATA_BOX_CLASSES(DATA)
#undef DATA

uint32_t PrepareWrite::Visit(MediaDataBox& box) {
  // Media data boxes that would move by different distances cannot share the
  // one shift the writer adds to the chunk offsets.
  MediaDataBox* previous = mediaData_;
  struct ShiftCheck {
    PrepareWrite& pass;
    MediaDataBox* previous;
    MediaDataBox& box;
    ~ShiftCheck() {
      if (previous && previous->GetWriteOffset() - previous->GetOffset() != box.GetWriteOffset() - box.GetOffset())
        pass.incomplete_ = true;
    }
  } check{*this, previous, box};
  mediaData_ = &box;
  bool copy = false;
  if (box.copyFlag) {
    copy = true;
  } else {
    // The free box right before the media data, when this pass placed it.
    BoxList* list = parents_.back();
    FreeBox* free = nullptr;
    for (auto it = list->begin(); it != list->end(); ++it) {
      if (*it != &box) continue;
      if (it != list->begin()) {
        IBox* before = *std::prev(it);
        for (FreeBox* f : freeBoxes_)
          if (f == before) free = f;
      }
      break;
    }
    if (!free) {
      copy = true;
    } else {
      uint64_t start = free->GetWriteOffset();
      if (start + 8 > box.GetWriteOffset()) {
        copy = true;
      } else {
        uint64_t grown = box.GetWriteOffset() - start;
        runningSize_ += grown - free->GetWriteSize();
        runningOffset_ += grown - free->GetWriteSize();
        free->SetWriteSize(grown);
        if (runningOffset_ == box.GetWriteOffset()) {
          runningSize_ += box.GetSize();
          runningOffset_ += box.GetSize();
        } else {
          copy = true;
        }
      }
    }
    box.copyFlag = copy ? 1 : 0;
  }
  if (copy) {
    anyMediaDataMoves_ = true;
    box.SetWriteOffset(runningOffset_);
    box.SetWriteSize(box.GetSize());
    runningSize_ += box.GetSize();
    runningOffset_ += box.GetSize();
  }
  return 0;
}

}  // namespace fileutil
