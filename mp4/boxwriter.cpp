// The box writer and the box copier.
#include "boxwriter.h"

#include "descriptors.h"
#include "textencoding.h"

namespace fileutil {

BoxWriter::BoxWriter(std::ostream& stream, BoxList& boxes, uint64_t shift)
    : out_(stream), boxes_(boxes), shift_(shift) {}

uint64_t BoxWriter::Write() {
  uint64_t n = WriteBoxes(boxes_);
  out_.flush();
  if (!out_) failed_ = true;
  return n;
}

void BoxWriter::Put8(uint8_t v) {
  out_.put(char(v));
  Count(1);
}
void BoxWriter::Put16(uint16_t v) {
  Put8(uint8_t(v >> 8));
  Put8(uint8_t(v));
}
void BoxWriter::Put32(uint32_t v) {
  Put16(uint16_t(v >> 16));
  Put16(uint16_t(v));
}
void BoxWriter::Put64(uint64_t v) {
  Put32(uint32_t(v >> 32));
  Put32(uint32_t(v));
}
void BoxWriter::PutRaw(const void* p, size_t n) {
  if (n) out_.write(static_cast<const char*>(p), std::streamsize(n));
  Count(n);
}
void BoxWriter::PutCode(FourCC c) {
  uint32_t v = c.GetValue();
  PutRaw(&v, 4);  // the bytes as held are the file order
}
void BoxWriter::PutZeros(uint64_t n) {
  static const char zeros[4096] = {0};
  while (n > 0) {
    uint64_t step = n < sizeof(zeros) ? n : sizeof(zeros);
    PutRaw(zeros, size_t(step));
    n -= step;
  }
}

// 8 bytes below 2^32, else 16; a box whose content is kept keeps the header
// form it was read with, so its content starts where it did.
void BoxWriter::Header(IBox& box, uint32_t headerSize) {
  uint64_t size = box.GetWriteSize();
  if (headerSize == 16 || size > 0xFFFFFFFFull) {
    Put32(1);
    PutCode(box.GetType());
    Put64(size);
  } else {
    Put32(uint32_t(size));
    PutCode(box.GetType());
  }
}


uint64_t BoxWriter::WriteBoxes(BoxList& list) {
  uint64_t total = 0;
  for (IBox* box : list) {
    open_.push_back(0);
    box->Accept(*this);  // header and body
    uint64_t n = open_.back();
    open_.pop_back();
    if (n != box->GetWriteSize()) failed_ = true;
    total += n;
    if (!open_.empty()) open_.back() += n;
  }
  return total;
}

uint32_t BoxWriter::Kept(IBox& box) {
  uint32_t header = box.GetHeaderSize() == 16 ? 16 : 8;
  if (box.GetWriteSize() != box.GetSize() || box.GetSize() < header) {
    failed_ = true;
    return 0;
  }
  Header(box, header);
  KeptContent(box);
  return 0;
}

void BoxWriter::KeptContent(IBox& box) {
  uint64_t n = box.GetSize() - (box.GetHeaderSize() == 16 ? 16 : 8);
  if (n) out_.seekp(std::streamoff(n), std::ios_base::cur);
  if (!out_) failed_ = true;
  Count(n);
}

template <class T>
uint32_t BoxWriter::Children(T& box) {
  WriteBoxes(box.Children());
  return 0;
}

#define CONTAINER(C)                  \
  uint32_t BoxWriter::Visit(C& box) { \
    Header(box, 8);                   \
    return Children(box);             \
  }
CONTAINER(FreeformItemBox)
CONTAINER(DinfBox)
CONTAINER(TrknItemBox)
CONTAINER(KeywItemBox)
CONTAINER(DesItemBox)
CONTAINER(CpyItemBox)
CONTAINER(GnreItemBox)
CONTAINER(GenItemBox)
CONTAINER(TooItemBox)
CONTAINER(AlbItemBox)
CONTAINER(NamItemBox)
CONTAINER(DayItemBox)
CONTAINER(CmtItemBox)
CONTAINER(AARTItemBox)
CONTAINER(ARTItemBox)
CONTAINER(CovrBox)
CONTAINER(IlstBox)
CONTAINER(StblBox)
CONTAINER(MinfBox)
CONTAINER(MdiaBox)
CONTAINER(TrakBox)
CONTAINER(MoovBox)
CONTAINER(UdtaBox)
CONTAINER(EdtsBox)
#undef CONTAINER

#define KEPT(C) \
  uint32_t BoxWriter::Visit(C& box) { return Kept(box); }
KEPT(UnknownBox)
KEPT(UnknownGuidBox)
KEPT(MediaDataBox)
KEPT(PNGSampleEntryBox)
KEPT(MetaDataSampleTableBox)
KEPT(MetaDataSampleManagerHeaderBox)
KEPT(MetaDataBox)
KEPT(MetaTypeDefinitionBox)
KEPT(MetaDataSampleData)
KEPT(MTSMBox)
#undef KEPT

uint32_t BoxWriter::Visit(MetaBox& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  return Children(box);
}

uint32_t BoxWriter::Visit(SampleDescriptionBox& box) {
  box.entryCount = uint32_t(box.Children().size());
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(box.entryCount);
  return Children(box);
}

uint32_t BoxWriter::Visit(DataReferenceBox& box) {
  box.entryCount = uint32_t(box.Children().size());
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(box.entryCount);
  return Children(box);
}

uint32_t BoxWriter::Visit(Mpeg4AudioSampleEntry& box) {
  Header(box, 8);
  PutRaw(box.reserved, 6);
  Put16(box.dataReferenceIndex);
  PutRaw(box.reserved2, 8);
  Put16(box.channelCount);
  Put16(box.sampleSize);
  Put16(box.preDefined);
  Put16(box.reserved3);
  Put32(box.sampleRate);
  return Children(box);
}

uint32_t BoxWriter::Visit(UserSpecificMetaData& box) {
  Header(box, 8);
  uint8_t guid[16];
  GuidToBytes(box.GetGuid(), guid);
  PutRaw(guid, 16);
  return Children(box);
}

uint32_t BoxWriter::Visit(FreeBox& box) {
  Header(box, 8);
  PutZeros(box.GetWriteSize() - 8);
  return 0;
}

uint32_t BoxWriter::Visit(FileTypeBox& box) {
  Header(box, 8);
  PutCode(box.majorBrand);
  PutCode(box.minorVersion);
  for (FourCC b : box.compatibleBrands) PutCode(b);
  return 0;
}

uint32_t BoxWriter::Visit(MovieHeaderBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(box.creationTime);
  Put32(box.modificationTime);
  Put32(box.timescale);
  Put32(box.duration);
  Put32(box.rate);
  Put16(box.volume);
  Put16(box.reserved1);
  for (uint32_t v : box.reserved2) Put32(v);
  for (uint32_t v : box.matrix) Put32(v);
  for (uint32_t v : box.preDefined) Put32(v);
  Put32(box.nextTrackId);
  return 0;
}

uint32_t BoxWriter::Visit(TrackHeaderBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(box.creationTime);
  Put32(box.modificationTime);
  Put32(box.trackId);
  Put32(box.reserved1);
  Put32(box.duration);
  for (uint32_t v : box.reserved2) Put32(v);
  Put16(box.layer);
  Put16(box.alternateGroup);
  Put16(box.volume);
  Put16(box.reserved3);
  for (uint32_t v : box.matrix) Put32(v);
  Put32(box.width);
  Put32(box.height);
  return 0;
}

uint32_t BoxWriter::Visit(MediaHeaderBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  if (box.Version() == 1) {
    Put64(box.creationTime);
    Put64(box.modificationTime);
    Put32(box.timescale);
    Put64(box.duration);
  } else {
    Put32(uint32_t(box.creationTime));
    Put32(uint32_t(box.modificationTime));
    Put32(box.timescale);
    Put32(uint32_t(box.duration));
  }
  Put16(box.language);
  Put16(box.preDefined);
  return 0;
}

uint32_t BoxWriter::Visit(SoundMediaInfoHeaderBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put16(uint16_t(box.balance));
  Put16(box.reserved);
  return 0;
}

uint32_t BoxWriter::Visit(MediaHandlerReferenceBox& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  PutRaw(&box.preDefined, 4);
  PutCode(box.handlerType);
  PutRaw(box.reserved, 12);
  PutRaw(box.name.data(), box.name.size());
  return 0;
}

// The count written is the number of entries held, so that the box stays
// consistent whatever count field it was read with.
uint32_t BoxWriter::Visit(TimeToSampleBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(uint32_t(box.entries.size()));
  for (const TimeToSampleEntry& e : box.entries) {
    Put32(e.sampleCount);
    Put32(e.sampleDelta);
  }
  return 0;
}

// 64-bit fields when the box was read with them or a value needs them.
uint32_t BoxWriter::Visit(EditListBox& box) {
  Header(box, 8);
  const uint32_t version = box.WriteVersion();
  Put32(version << 24 | (box.versionAndFlags & 0xFFFFFFu));
  Put32(uint32_t(box.entries.size()));
  for (const EditListEntry& e : box.entries) {
    if (version == 1) {
      Put64(e.segmentDuration);
      Put64(uint64_t(e.mediaTime));
    } else {
      Put32(uint32_t(e.segmentDuration));
      Put32(uint32_t(int32_t(e.mediaTime)));
    }
    Put32(uint32_t(uint16_t(e.rateInteger)) << 16 | uint16_t(e.rateFraction));
  }
  return 0;
}

uint32_t BoxWriter::Visit(SampleToChunkBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(uint32_t(box.entries.size()));
  for (const SampleToChunkEntry& e : box.entries) {
    Put32(e.firstChunk);
    Put32(e.samplesPerChunk);
    Put32(e.sampleDescriptionIndex);
  }
  return 0;
}

uint32_t BoxWriter::Visit(SampleSizeBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  Put32(box.sampleSize);
  Put32(box.sampleCount);
  for (uint32_t s : box.sizes) Put32(s);
  return 0;
}

// The shift is added in the box itself, so that the tree describes the new
// file; an offset that no longer fits 32 bits fails the write.
uint32_t BoxWriter::Visit(ChunkOffsetBox& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  Put32(uint32_t(box.offsets.size()));
  for (uint32_t& o : box.offsets) {
    uint64_t moved = uint64_t(o) + shift_;  // modulo 2^64: a move back subtracts
    if (moved > 0xFFFFFFFFull) failed_ = true;
    o = uint32_t(moved);
    Put32(o);
  }
  box.entryCount = uint32_t(box.offsets.size());
  return 0;
}

uint32_t BoxWriter::Visit(ChunkLargeOffsetBox& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  Put32(uint32_t(box.offsets.size()));
  for (uint64_t& o : box.offsets) {
    o += shift_;
    Put64(o);
  }
  box.entryCount = uint32_t(box.offsets.size());
  return 0;
}

static uint32_t WriteDescriptor(std::ostream& out, esds::Descriptor* d, uint64_t& count) {
  if (!d) return 0;
  esds::DescriptorPrepareWrite size;
  d->Accept(size);
  esds::DescriptorWriter writer(out);
  d->Accept(writer);
  count = writer.GetCount();
  return 0;
}

// 'esds' and 'iods': the full-box word, then the descriptor tree.
template <class T>
uint32_t BoxWriter::WithDescriptor(T& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  uint64_t n = 0;
  WriteDescriptor(out_, box.GetDescriptor(), n);
  Count(n);
  return 0;
}
uint32_t BoxWriter::Visit(ElementaryStreamDescriptorBox& box) { return WithDescriptor(box); }
uint32_t BoxWriter::Visit(InitialObjectDescriptorBox& box) { return WithDescriptor(box); }

uint32_t BoxWriter::Visit(UrlBox& box) {
  Header(box, 8);
  Put32(box.versionAndFlags);
  PutRaw(box.location.data(), box.location.size());
  return 0;
}

// 'name' and 'mean': the full-box word as read, then the text bytes.
template <class T>
uint32_t BoxWriter::Text(T& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  PutRaw(box.text_.data(), box.text_.size());
  return 0;
}
uint32_t BoxWriter::Visit(NameBox& box) { return Text(box); }
uint32_t BoxWriter::Visit(MeanBox& box) { return Text(box); }

uint32_t BoxWriter::Visit(RecordingYearBox& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  PutRaw(box.payload.data(), box.payload.size());
  return 0;
}

template <class T>
uint32_t BoxWriter::Asset(T& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  Put16(box.language);
  PutRaw(box.text_.data(), box.text_.size());
  return 0;
}
#define ASSET_SLOT(C) \
  uint32_t BoxWriter::Visit(C& box) { return Asset(box); }
FILEUTIL_ASSET_BOX_CLASSES(ASSET_SLOT)
#undef ASSET_SLOT

uint32_t BoxWriter::Visit(ID3v2MetaBox& box) {
  Header(box, 8);
  PutRaw(&box.versionAndFlags, 4);
  Put16(box.language);
  const Id3TagOperations* ops = GetId3TagOperations();
  if (box.tag && ops && ops->write)
    Count(ops->write(box.tag, out_));
  else
    PutRaw(box.rawTag.data(), box.rawTag.size());
  return 0;
}

// The data type, a locale of four zero bytes, the value.
template <class T>
uint32_t BoxWriter::Data(T& box) {
  Header(box, 8);
  Put32(box.GetDataType());
  Put32(0);
  PutRaw(box.Data().data(), box.Data().size());
  return 0;
}
#define DATA_SLOT(C) \
  uint32_t BoxWriter::Visit(C& box) { return Data(box); }
FILEUTIL_DATA_BOX_CLASSES(DATA_SLOT)
#undef DATA_SLOT

// ---------------------------------------------------------------------------
// Copier

BoxCopy::BoxCopy(std::ostream& output, std::istream& source, BoxList& boxes, uint64_t shift)
    : BoxWriter(output, boxes, shift), source_(&source) {}

// Copies the content from the old file, which is read forward; a short read
// fails the copy (nothing is made up).
void BoxCopy::KeptContent(IBox& box) {
  uint64_t header = box.GetHeaderSize() == 16 ? 16 : 8;
  uint64_t n = box.GetSize() - header;
  uint64_t start = box.GetOffset() + header;
  if (start < sourcePosition_) {
    source_->clear();
    source_->seekg(std::streamoff(start));
    if (!*source_) Fail();
    sourcePosition_ = start;
  }
  while (sourcePosition_ < start && *source_) {
    uint64_t step = start - sourcePosition_;
    if (step > 0x40000000u) step = 0x40000000u;
    source_->ignore(std::streamsize(step));
    uint64_t got = uint64_t(source_->gcount());
    sourcePosition_ += got;
    if (got < step) break;
  }
  if (sourcePosition_ != start) Fail();
  uint64_t copied = CopyStreamBytes(out_, *source_, n);
  sourcePosition_ += copied;
  if (copied != n) Fail();
  Count(n);
}

}  // namespace fileutil
