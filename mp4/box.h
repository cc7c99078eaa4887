// The box model: the interface every box class shares, the container and data
// faces, the visitor with one slot per box class, and the default walking visitor.
//
// Ownership: a container owns its children and destroys them with itself; a
// top-level list is released with DeleteBoxList (or its boxes with DeleteBoxes).
#pragma once

#include <cstdint>
#include <list>
#include <vector>

#include "fourcc.h"

namespace fileutil {

class IBox;
class IBoxVisitor;

// An ordered list of boxes in file order.
typedef std::list<IBox*> BoxList;

// Destroys every box of the list (and with it their subtrees) and empties it.
void DeleteBoxes(BoxList& boxes);
// Destroys the boxes of a list made by the reader, then the list itself.
void DeleteBoxList(BoxList* boxes);

class IBox {
 public:
  virtual ~IBox() {}
  virtual uint32_t Accept(IBoxVisitor& visitor) = 0;
  virtual void SetSize(uint64_t size) = 0;
  virtual void SetOffset(uint64_t offset) = 0;
  virtual void SetWriteSize(uint64_t size) = 0;
  virtual void SetWriteOffset(uint64_t offset) = 0;
  virtual void SetHeaderSize(uint32_t size) = 0;
  virtual FourCC GetType() const = 0;
  virtual uint64_t& BytesRead() = 0;
  virtual uint64_t GetSize() const = 0;
  virtual uint64_t GetOffset() const = 0;
  virtual uint64_t GetWriteSize() const = 0;
  virtual uint64_t GetWriteOffset() const = 0;
  virtual uint32_t GetHeaderSize() const = 0;
  // Set by the reader when the box's payload could not be taken into memory
  // whole (a field, a table or a child that did not fit): such a box cannot be
  // rebuilt from memory without losing bytes.
  virtual bool IsIncomplete() const = 0;
  virtual void SetIncomplete(bool incomplete) = 0;
};

class IContainerBox {
 public:
  virtual ~IContainerBox() {}
  virtual BoxList& Children() = 0;
};

class IDataBox {
 public:
  virtual ~IDataBox() {}
  virtual uint32_t GetDataType() const = 0;
  virtual std::vector<uint8_t>& Data() = 0;
  virtual IBox* GetBox() = 0;
};

class IChunkOffsetBox {
 public:
  // 0-based; an index at or past the entry count answers 0 (callers check the count).
  virtual uint64_t GetChunkOffset(uint32_t index) const = 0;
  virtual void AddChunkOffset(uint64_t offset) = 0;
  virtual uint32_t GetChunkCount() const = 0;

 protected:
  ~IChunkOffsetBox() {}
};

// The common fields of every box.
class BoxBase : public IBox {
 public:
  void SetSize(uint64_t size) override { size_ = size; }
  void SetOffset(uint64_t offset) override { offset_ = offset; }
  void SetWriteSize(uint64_t size) override { writeSize_ = size; }
  void SetWriteOffset(uint64_t offset) override { writeOffset_ = offset; }
  void SetHeaderSize(uint32_t size) override { headerSize_ = size; }
  uint64_t& BytesRead() override { return bytesRead_; }
  uint64_t GetSize() const override { return size_; }
  uint64_t GetOffset() const override { return offset_; }
  uint64_t GetWriteSize() const override { return writeSize_; }
  uint64_t GetWriteOffset() const override { return writeOffset_; }
  uint32_t GetHeaderSize() const override { return headerSize_; }
  bool IsIncomplete() const override { return incomplete_; }
  void SetIncomplete(bool incomplete) override { incomplete_ = incomplete; }

 protected:
  BoxBase() = default;
  BoxBase(const BoxBase&) = default;
  BoxBase& operator=(const BoxBase&) = delete;

 private:
  uint32_t headerSize_ = 0;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
  uint64_t writeSize_ = 0;
  uint64_t writeOffset_ = 0;
  uint64_t bytesRead_ = 0;
  bool incomplete_ = false;
};

template <uint32_t Code>
class Box : public BoxBase {
 public:
  static constexpr uint32_t kType = Code;
  FourCC GetType() const override { return FourCC(Code); }
};

template <uint32_t Code>
class FullBox : public Box<Code> {
 public:
  uint32_t versionAndFlags = 0;
  uint8_t Version() const { return uint8_t(versionAndFlags >> 24); }
};

// Children owned by their parent; copies start with no children (the cloner
// fills them with clones).
class ChildBoxes : public IContainerBox {
 public:
  ChildBoxes() = default;
  ChildBoxes(const ChildBoxes&) : children_() {}
  ~ChildBoxes() override { DeleteBoxes(children_); }
  BoxList& Children() override { return children_; }
  void AddChild(IBox* box) { children_.push_back(box); }

 private:
  BoxList children_;
};

template <uint32_t Code>
class ContainerBox : public Box<Code>, public ChildBoxes {
 public:
  uint32_t Accept(IBoxVisitor& visitor) override;
};

template <uint32_t Code> class TagBox;
template <uint32_t Code> class ThreeGPPAssetMetaBox;
template <uint32_t N> class DataBox;

class PNGSampleEntryBox;
class MetaDataSampleTableBox;
class MetaDataSampleManagerHeaderBox;
class MetaDataBox;
class MetaTypeDefinitionBox;
class MetaDataSampleData;
class UserSpecificMetaData;
class UnknownGuidBox;
class UrlBox;
class DataReferenceBox;
class SoundMediaInfoHeaderBox;
class MediaHeaderBox;
class TrackHeaderBox;
class MovieHeaderBox;
class FreeBox;
class ID3v2MetaBox;
class RecordingYearBox;
class UnknownDataBox;
class Mpeg4AudioSampleEntry;
class InitialObjectDescriptorBox;
class ElementaryStreamDescriptorBox;
class SampleDescriptionBox;
class SampleToChunkBox;
class SampleSizeBox;
class TimeToSampleBox;
class ChunkLargeOffsetBox;
class ChunkOffsetBox;
class MediaHandlerReferenceBox;
class MetaBox;
class MediaDataBox;
class UnknownBox;
class FileTypeBox;
class EditListBox;

typedef ContainerBox<FCC("MTSM")> MTSMBox;
typedef TagBox<FCC("name")> NameBox;
typedef TagBox<FCC("mean")> MeanBox;
typedef ThreeGPPAssetMetaBox<FCC("albm")> AlbmAssetBox;
typedef ThreeGPPAssetMetaBox<FCC("gnre")> GnreAssetBox;
typedef ThreeGPPAssetMetaBox<FCC("perf")> PerfAssetBox;
typedef ThreeGPPAssetMetaBox<FCC("cprt")> CprtAssetBox;
typedef ThreeGPPAssetMetaBox<FCC("dscp")> DscpAssetBox;
typedef ThreeGPPAssetMetaBox<FCC("titl")> TitlAssetBox;
typedef DataBox<27> DataBox27;
typedef DataBox<24> DataBox24;
typedef DataBox<23> DataBox23;
typedef DataBox<22> DataBox22;
typedef DataBox<21> DataBox21;
typedef DataBox<14> DataBox14;
typedef DataBox<13> DataBox13;
typedef DataBox<3> DataBox3;
typedef DataBox<2> DataBox2;
typedef DataBox<1> DataBox1;
typedef DataBox<0> DataBox0;
typedef ContainerBox<FCC("----")> FreeformItemBox;
typedef ContainerBox<FCC("dinf")> DinfBox;
typedef ContainerBox<FCC("trkn")> TrknItemBox;
typedef ContainerBox<FCC("keyw")> KeywItemBox;
typedef ContainerBox<FCC("\xA9" "des")> DesItemBox;
typedef ContainerBox<FCC("\xA9" "cpy")> CpyItemBox;
typedef ContainerBox<FCC("gnre")> GnreItemBox;
typedef ContainerBox<FCC("\xA9" "gen")> GenItemBox;
typedef ContainerBox<FCC("\xA9" "too")> TooItemBox;
typedef ContainerBox<FCC("\xA9" "alb")> AlbItemBox;
typedef ContainerBox<FCC("\xA9" "nam")> NamItemBox;
typedef ContainerBox<FCC("\xA9" "day")> DayItemBox;
typedef ContainerBox<FCC("\xA9" "cmt")> CmtItemBox;
typedef ContainerBox<FCC("aART")> AARTItemBox;
typedef ContainerBox<FCC("\xA9" "ART")> ARTItemBox;
typedef ContainerBox<FCC("covr")> CovrBox;
typedef ContainerBox<FCC("ilst")> IlstBox;
typedef ContainerBox<FCC("stbl")> StblBox;
typedef ContainerBox<FCC("minf")> MinfBox;
typedef ContainerBox<FCC("mdia")> MdiaBox;
typedef ContainerBox<FCC("trak")> TrakBox;
typedef ContainerBox<FCC("moov")> MoovBox;
typedef ContainerBox<FCC("udta")> UdtaBox;
typedef ContainerBox<FCC("edts")> EdtsBox;

// The 3GPP asset boxes ('albm' .. 'titl') and the 'data' boxes by data type,
// each in visitor slot order: the visitors treat the members of a group alike.
#define FILEUTIL_ASSET_BOX_CLASSES(X) \
  X(AlbmAssetBox) X(GnreAssetBox) X(PerfAssetBox) X(CprtAssetBox) X(DscpAssetBox) X(TitlAssetBox)
#define FILEUTIL_DATA_BOX_CLASSES(X)                                                                    \
  X(DataBox27) X(DataBox24) X(DataBox23) X(DataBox22) X(DataBox21) X(DataBox14) X(DataBox13) X(DataBox3) \
  X(DataBox2) X(DataBox1) X(DataBox0) X(UnknownDataBox)

// Every box class, in visitor slot order.
#define FILEUTIL_BOX_CLASSES(X)                                                                   \
  X(PNGSampleEntryBox) X(MetaDataSampleTableBox) X(MetaDataSampleManagerHeaderBox) X(MetaDataBox) \
  X(MetaTypeDefinitionBox) X(MetaDataSampleData) X(MTSMBox) X(UserSpecificMetaData)                \
  X(UnknownGuidBox) X(NameBox) X(MeanBox) X(UrlBox) X(DataReferenceBox) X(SoundMediaInfoHeaderBox) \
  X(MediaHeaderBox) X(TrackHeaderBox) X(MovieHeaderBox) X(FreeBox) X(ID3v2MetaBox)                 \
  X(RecordingYearBox) FILEUTIL_ASSET_BOX_CLASSES(X) FILEUTIL_DATA_BOX_CLASSES(X)                   \
  X(FreeformItemBox) X(DinfBox) X(TrknItemBox) X(KeywItemBox) X(DesItemBox) X(CpyItemBox)          \
  X(GnreItemBox) X(GenItemBox) X(TooItemBox) X(AlbItemBox) X(NamItemBox) X(DayItemBox)             \
  X(CmtItemBox) X(AARTItemBox) X(ARTItemBox) X(CovrBox) X(Mpeg4AudioSampleEntry)                   \
  X(InitialObjectDescriptorBox) X(ElementaryStreamDescriptorBox) X(SampleDescriptionBox)           \
  X(SampleToChunkBox) X(SampleSizeBox) X(TimeToSampleBox) X(ChunkLargeOffsetBox) X(ChunkOffsetBox) \
  X(MediaHandlerReferenceBox) X(IlstBox) X(MetaBox) X(StblBox) X(MediaDataBox) X(MinfBox)          \
  X(MdiaBox) X(TrakBox) X(MoovBox) X(UdtaBox) X(UnknownBox) X(FileTypeBox) X(EdtsBox)          \
  X(EditListBox)

class IBoxVisitor {
 public:
#define FILEUTIL_VISIT_SLOT(C) virtual uint32_t Visit(C& box) = 0;
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_SLOT)
#undef FILEUTIL_VISIT_SLOT

 protected:
  ~IBoxVisitor() {}
};

// The default visitor: walks the children of 'MTSM', the card user-data box,
// '----', 'mp4a', 'stsd', 'ilst', 'meta', 'stbl', 'minf', 'mdia', 'trak', 'moov',
// 'udta' and 'edts'; every other slot does nothing.
class BoxVisitor : public IBoxVisitor {
 public:
#define FILEUTIL_VISIT_DECL(C) uint32_t Visit(C& box) override;
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_DECL)
#undef FILEUTIL_VISIT_DECL

 protected:
  ~BoxVisitor() {}
  void VisitChildren(BoxList& children);
};

// Lets every box of the list accept the visitor, in order.
void VisitBoxes(BoxList& boxes, IBoxVisitor& visitor);

template <uint32_t Code>
uint32_t ContainerBox<Code>::Accept(IBoxVisitor& visitor) {
  return visitor.Visit(*this);
}

}  // namespace fileutil
