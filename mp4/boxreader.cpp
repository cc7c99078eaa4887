// The box reader.
#include "boxreader.h"

#include <memory>
#include <new>
#include <sstream>
#include <type_traits>

#include "descriptors.h"
#include "kvbyteorder.h"

namespace fileutil {

BoxReader::BoxReader(std::istream& in) : handler_(CreateFileStreamHandler(in)), budget_(0) {
  if (handler_ && !handler_->GetSize(budget_)) budget_ = UINT64_MAX;
}

BoxReader::BoxReader(std::istream& in, uint64_t budget) : handler_(CreateStreamHandler(in)), budget_(budget) {}

BoxReader::BoxReader(const wchar_t* path) : handler_(CreateFileHandler(path)), budget_(0) {
  if (handler_ && !handler_->GetSize(budget_)) budget_ = UINT64_MAX;
}

BoxReader::~BoxReader() { delete handler_; }

BoxList* BoxReader::ReadAllBoxes() { return ReadWith(GetBoxFactory()); }
BoxList* BoxReader::ReadMetaBoxes() { return ReadWith(GetReadMetaFactory()); }
BoxList* BoxReader::ReadBoxesForMetaWrite() { return ReadWith(GetMetaFactory()); }

BoxList* BoxReader::ReadWith(IFactory* factory) {
  if (!handler_ || !factory) return nullptr;
  factory_ = factory;
  position_ = 0;
  depth_ = 0;
  boxCount_ = 0;
  stop_ = false;
  BoxList* list = new (std::nothrow) BoxList();
  if (!list) return nullptr;
  try {
    ReadBoxes(*list, budget_);
  } catch (const std::bad_alloc&) {
    // Memory ran short: the boxes read so far are kept.
  }
  if (list->empty()) {
    delete list;
    return nullptr;
  }
  return list;
}

void BoxReader::Advance(IBox& box, uint64_t n) {
  position_ += n;
  box.BytesRead() += n;
}

uint64_t BoxReader::Left(IBox& box) const {
  uint64_t end = box.GetOffset() + box.GetSize();
  return position_ < end ? end - position_ : 0;
}

bool BoxReader::ReadRaw(IBox& box, void* dst, uint32_t n) {
  if (stop_ || Left(box) < n) return false;
  std::istream& in = handler_->GetStream();
  in.read(static_cast<char*>(dst), std::streamsize(n));
  uint64_t got = uint64_t(in.gcount());
  Advance(box, got);
  if (got < n) {
    stop_ = true;
    return false;
  }
  return true;
}

bool BoxReader::Read16(IBox& box, uint16_t& v) {
  uint8_t b[2];
  if (!ReadRaw(box, b, 2)) return false;
  v = uint16_t((b[0] << 8) | b[1]);
  return true;
}

bool BoxReader::Read32(IBox& box, uint32_t& v) {
  uint8_t b[4];
  if (!ReadRaw(box, b, 4)) return false;
  v = GetBE32(b);
  return true;
}

bool BoxReader::Read64(IBox& box, uint64_t& v) {
  uint32_t hi, lo;
  if (!Read32(box, hi) || !Read32(box, lo)) return false;
  v = (uint64_t(hi) << 32) | lo;
  return true;
}

// Grown block by block, so that a size claimed by a short source never
// allocates more than the source delivers.
bool BoxReader::ReadBytes(IBox& box, ByteVector& out, uint64_t n) {
  out.clear();
  if (Left(box) < n) return false;
  const uint64_t kBlock = 1 << 20;
  while (out.size() < n) {
    uint64_t step = n - out.size();
    if (step > kBlock) step = kBlock;
    size_t at = out.size();
    out.resize(at + size_t(step));
    if (!ReadRaw(box, out.data() + at, uint32_t(step))) {
      out.resize(at);
      return false;
    }
  }
  return true;
}

bool BoxReader::SkipBytes(IBox& box, uint64_t n) {
  if (Left(box) < n) return false;
  std::istream& in = handler_->GetStream();
  in.ignore(std::streamsize(n));
  uint64_t got = uint64_t(in.gcount());
  Advance(box, got);
  if (got < n) {
    stop_ = true;
    return false;
  }
  return true;
}

IBox* BoxReader::ReadBox(uint64_t limit) {
  if (stop_ || limit < 8) return nullptr;
  std::istream& in = handler_->GetStream();
  const uint64_t offset = position_;
  uint8_t h[8];
  in.read(reinterpret_cast<char*>(h), 8);
  uint64_t got = uint64_t(in.gcount());
  position_ += got;
  if (got < 8) {
    stop_ = true;
    return nullptr;
  }
  uint64_t size = GetBE32(h);
  FourCC type(GetLE32(h + 4));
  uint32_t headerSize = 8;
  if (size == 1) {
    if (limit < 16) return nullptr;
    uint8_t l[8];
    in.read(reinterpret_cast<char*>(l), 8);
    got = uint64_t(in.gcount());
    position_ += got;
    if (got < 8) {
      stop_ = true;
      return nullptr;
    }
    size = 0;
    for (int i = 0; i < 8; ++i) size = (size << 8) | l[i];
    headerSize = 16;
  } else if (size == 0) {
    if (type != FourCC(FCC("mdat"))) return nullptr;
    size = limit;
  }
  // Refused: a size below its own header and identification bytes, or one
  // that passes the enclosing space.
  uint64_t minimum = headerSize;
  IFactory* factory = factory_;
  uint64_t identification = 0;
  if (type == FourCC(FCC("uuid"))) {
    factory = GetGuidBoxFactory();
    identification = 16;
  } else if (type == FourCC(FCC("data"))) {
    factory = GetDataBoxFactory();
    identification = 4;
  }
  minimum += identification;
  if (size < minimum || size > limit || !factory) return nullptr;
  if (++boxCount_ > kMaxBoxCount) {
    stop_ = true;
    return nullptr;
  }

  IBox* made = nullptr;
  uint64_t taken = factory->Create(made, type, in);
  std::unique_ptr<IBox> box(made);
  position_ += taken;
  if (taken < identification) {
    stop_ = true;
    return nullptr;
  }
  if (!box) throw std::bad_alloc();
  box->SetSize(size);
  box->SetOffset(offset);
  box->SetHeaderSize(headerSize);
  box->BytesRead() = headerSize + taken;

  if (box->BytesRead() < size && depth_ < kMaxBoxDepth) {
    ++depth_;
    box->Accept(*this);
    --depth_;
  }

  // Re-synchronise to the box's end whatever its visit took.
  const uint64_t end = offset + size;
  if (position_ != end) box->SetIncomplete(true);
  if (position_ < end && !stop_) {
    uint64_t rest = end - position_;
    uint64_t before = position_;
    if (!handler_->Skip(rest)) stop_ = true;
    position_ = before + rest;
  }
  if (position_ != end) stop_ = true;
  box->BytesRead() = size;
  return box.release();
}

uint64_t BoxReader::ReadBoxes(BoxList& list, uint64_t budget) {
  uint64_t total = 0;
  while (!stop_ && total < budget) {
    IBox* box = ReadBox(budget - total);
    if (!box) break;
    try {
      list.push_back(box);
    } catch (...) {
      delete box;
      throw;
    }
    total += box->GetSize();
  }
  return total;
}

void BoxReader::ReadChildren(IBox& box, BoxList& children) {
  uint64_t left = Left(box);
  if (left > 0) ReadBoxes(children, left);
}

// ---------------------------------------------------------------------------
// Containers

#define CONTAINER(C)                     \
  uint32_t BoxReader::Visit(C& box) {    \
    ReadChildren(box, box.Children());   \
    return 1;                            \
  }

CONTAINER(MTSMBox)
CONTAINER(UserSpecificMetaData)
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
CONTAINER(StblBox)
CONTAINER(MinfBox)
CONTAINER(MdiaBox)
CONTAINER(TrakBox)
CONTAINER(MoovBox)
CONTAINER(UdtaBox)
CONTAINER(EdtsBox)
#undef CONTAINER

uint32_t BoxReader::Visit(IlstBox& box) {
  IFactory* saved = factory_;
  ITunesReadFactory* items = GetITunesReadFactory();
  if (items) factory_ = items;
  try {
    ReadChildren(box, box.Children());
  } catch (...) {
    factory_ = saved;
    throw;
  }
  factory_ = saved;
  return 1;
}

uint32_t BoxReader::Visit(MetaBox& box) {
  if (!ReadWord(box, box.versionAndFlags)) return 0;
  ReadChildren(box, box.Children());
  return 1;
}

uint32_t BoxReader::Visit(SampleDescriptionBox& box) {
  if (!Read32(box, box.versionAndFlags) || !Read32(box, box.entryCount)) return 0;
  ReadChildren(box, box.Children());
  return 1;
}

uint32_t BoxReader::Visit(Mpeg4AudioSampleEntry& box) {
  if (!ReadRaw(box, box.reserved, 6) || !Read16(box, box.dataReferenceIndex) || !ReadRaw(box, box.reserved2, 8) ||
      !Read16(box, box.channelCount) || !Read16(box, box.sampleSize) || !Read16(box, box.preDefined) ||
      !Read16(box, box.reserved3) || !Read32(box, box.sampleRate))
    return 0;
  ReadChildren(box, box.Children());
  return 1;
}

uint32_t BoxReader::Visit(PNGSampleEntryBox& box) {
  if (!ReadRaw(box, box.reserved, 6) || !Read16(box, box.dataReferenceIndex) || !Read16(box, box.preDefined1) ||
      !Read16(box, box.reserved2) || !ReadRaw(box, box.preDefined2, 12) || !Read16(box, box.width) ||
      !Read16(box, box.height) || !Read32(box, box.horizResolution) || !Read32(box, box.vertResolution) ||
      !Read32(box, box.reserved3) || !Read16(box, box.frameCount) || !ReadRaw(box, box.compressorName, 32) ||
      !Read16(box, box.depth))
    return 0;
  uint16_t pre = 0;
  if (!Read16(box, pre)) return 0;
  box.preDefined3 = int16_t(pre);
  return 1;
}

// ---------------------------------------------------------------------------
// Header and table boxes

uint32_t BoxReader::Visit(MediaHeaderBox& box) {
  if (!Read32(box, box.versionAndFlags)) return 0;
  // A version-1 box carries 64-bit times and duration.
  if (box.Version() == 1) {
    return Read64(box, box.creationTime) && Read64(box, box.modificationTime) && Read32(box, box.timescale) &&
           Read64(box, box.duration) && Read16(box, box.language) && Read16(box, box.preDefined);
  }
  uint32_t c, m, d;
  if (!Read32(box, c) || !Read32(box, m) || !Read32(box, box.timescale) || !Read32(box, d)) return 0;
  box.creationTime = c;
  box.modificationTime = m;
  box.duration = d;
  return Read16(box, box.language) && Read16(box, box.preDefined);
}

uint32_t BoxReader::Visit(MediaHandlerReferenceBox& box) {
  uint32_t type = 0;
  if (!ReadWord(box, box.versionAndFlags) || !ReadWord(box, box.preDefined) || !ReadWord(box, type) ||
      !ReadRaw(box, box.reserved, 12))
    return 0;
  box.handlerType = FourCC(type);
  return ReadRest(box, box.name);
}

uint32_t BoxReader::Visit(TimeToSampleBox& box) {
  if (!Read32(box, box.versionAndFlags) || !Read32(box, box.entryCount)) return 0;
  ByteVector raw;
  if (!ReadBytes(box, raw, Left(box) / 8 * 8)) return 0;
  box.entries.resize(raw.size() / 8);
  for (size_t i = 0; i < box.entries.size(); ++i) {
    const uint8_t* p = &raw[i * 8];
    box.entries[i].sampleCount = GetBE32(p);
    box.entries[i].sampleDelta = GetBE32(p + 4);
  }
  return 1;
}

uint32_t BoxReader::Visit(EditListBox& box) {
  if (!Read32(box, box.versionAndFlags) || !Read32(box, box.entryCount)) return 0;
  const bool wide = (box.versionAndFlags >> 24) == 1;
  const uint64_t size = wide ? 20 : 12;
  ByteVector raw;
  if (!ReadBytes(box, raw, Left(box) / size * size)) return 0;
  box.entries.resize(raw.size() / size);
  for (size_t i = 0; i < box.entries.size(); ++i) {
    const uint8_t* p = &raw[i * size];
    EditListEntry& e = box.entries[i];
    if (wide) {
      e.segmentDuration = uint64_t(GetBE32(p)) << 32 | GetBE32(p + 4);
      e.mediaTime = int64_t(uint64_t(GetBE32(p + 8)) << 32 | GetBE32(p + 12));
      p += 16;
    } else {
      e.segmentDuration = GetBE32(p);
      e.mediaTime = int32_t(GetBE32(p + 4));
      p += 8;
    }
    e.rateInteger = int16_t(p[0] << 8 | p[1]);
    e.rateFraction = int16_t(p[2] << 8 | p[3]);
  }
  return 1;
}

uint32_t BoxReader::Visit(SampleToChunkBox& box) {
  if (!Read32(box, box.versionAndFlags) || !Read32(box, box.entryCount)) return 0;
  ByteVector raw;
  if (!ReadBytes(box, raw, Left(box) / 12 * 12)) return 0;
  box.entries.resize(raw.size() / 12);
  for (size_t i = 0; i < box.entries.size(); ++i) {
    const uint8_t* p = &raw[i * 12];
    box.entries[i] = SampleToChunkEntry{GetBE32(p), GetBE32(p + 4), GetBE32(p + 8)};
  }
  return 1;
}

uint32_t BoxReader::Visit(SampleSizeBox& box) {
  if (!Read32(box, box.versionAndFlags) || !Read32(box, box.sampleSize) || !Read32(box, box.sampleCount)) return 0;
  ByteVector raw;
  if (!ReadBytes(box, raw, Left(box) / 4 * 4)) return 0;
  box.sizes.resize(raw.size() / 4);
  for (size_t i = 0; i < box.sizes.size(); ++i) box.sizes[i] = GetBE32(&raw[i * 4]);
  return 1;
}

// 'stco' (4-byte offsets) and 'co64' (8-byte offsets). The table is taken
// only when the payload holds exactly the announced count.
template <class T>
uint32_t BoxReader::ReadChunkOffsets(T& box, unsigned width) {
  typedef typename std::decay<decltype(box.offsets[0])>::type Offset;
  if (!ReadWord(box, box.versionAndFlags) || !Read32(box, box.entryCount)) return 0;
  if (Left(box) != uint64_t(box.entryCount) * width) return 0;
  ByteVector raw;
  if (!ReadBytes(box, raw, Left(box))) return 0;
  box.offsets.resize(raw.size() / width);
  for (size_t i = 0; i < box.offsets.size(); ++i) {
    const uint8_t* p = &raw[i * width];
    box.offsets[i] = Offset(width == 8 ? (uint64_t(GetBE32(p)) << 32) | GetBE32(p + 4) : GetBE32(p));
  }
  return 1;
}
uint32_t BoxReader::Visit(ChunkOffsetBox& box) { return ReadChunkOffsets(box, 4); }
uint32_t BoxReader::Visit(ChunkLargeOffsetBox& box) { return ReadChunkOffsets(box, 8); }

uint32_t BoxReader::Visit(ElementaryStreamDescriptorBox& box) {
  if (!Read32(box, box.versionAndFlags)) return 0;
  uint64_t left = Left(box);
  if (left == 0 || stop_) return 1;
  esds::DescriptorReader reader(handler_->GetStream());
  box.SetDescriptor(reader.ReadDescriptor(left));
  Advance(box, reader.GetPosition());
  if (reader.GetPosition() < left) stop_ = true;  // the stream ended inside the box
  return 1;
}

uint32_t BoxReader::Visit(InitialObjectDescriptorBox& box) {
  if (!Read32(box, box.versionAndFlags)) return 0;
  uint64_t left = Left(box);
  if (left == 0 || stop_) return 1;
  esds::DescriptorReader reader(handler_->GetStream());
  box.SetDescriptor(reader.ReadDescriptor(left));
  Advance(box, reader.GetPosition());
  if (reader.GetPosition() < left) stop_ = true;
  return 1;
}

uint32_t BoxReader::Visit(FileTypeBox& box) {
  uint32_t major = 0, minor = 0;
  if (!ReadWord(box, major) || !ReadWord(box, minor)) return 0;
  box.majorBrand = FourCC(major);
  box.minorVersion = FourCC(minor);
  uint64_t count = Left(box) / 4;
  if (count >= kMaxFileTypeBrands) return 1;
  ByteVector raw;
  if (!ReadBytes(box, raw, count * 4)) return 0;
  for (size_t i = 0; i + 4 <= raw.size(); i += 4)
    box.compatibleBrands.push_back(
        FourCC(GetLE32(&raw[i])));
  return 1;
}

// ---------------------------------------------------------------------------
// Metadata boxes

template <class T>
uint32_t BoxReader::ReadDataBox(T& box) {
  if (Left(box) >= 4 && !SkipBytes(box, 4)) return 0;
  return ReadRest(box, box.Data());
}

#define DATA(C) \
  uint32_t BoxReader::Visit(C& box) { return ReadDataBox(box); }
FILEUTIL_DATA_BOX_CLASSES(DATA)
#undef DATA

template <class T>
uint32_t BoxReader::ReadTextBox(T& box, bool hasLanguage) {
  if (!ReadWord(box, box.versionAndFlags)) return 0;
  return ReadRest(box, box.text_);
}

uint32_t BoxReader::Visit(NameBox& box) { return ReadTextBox(box, false); }
uint32_t BoxReader::Visit(MeanBox& box) { return ReadTextBox(box, false); }

uint32_t BoxReader::Visit(RecordingYearBox& box) {
  if (!ReadWord(box, box.versionAndFlags)) return 0;
  return ReadRest(box, box.payload);
}

#define ASSET(C)                                                     \
  uint32_t BoxReader::Visit(C& box) {                                \
    if (!ReadWord(box, box.versionAndFlags)) return 0;               \
    if (!Read16(box, box.language)) return 0;                        \
    return ReadRest(box, box.text_);                                 \
  }
FILEUTIL_ASSET_BOX_CLASSES(ASSET)
#undef ASSET

// The tag bytes are read within the box first; the tag reader of the
// metadata services then parses them from memory, so it cannot read past the box.
uint32_t BoxReader::Visit(ID3v2MetaBox& box) {
  if (!ReadWord(box, box.versionAndFlags) || !Read16(box, box.language)) return 0;
  if (!ReadRest(box, box.rawTag)) return 0;
  const Id3TagOperations* ops = GetId3TagOperations();
  if (ops && ops->read && !box.rawTag.empty()) {
    std::istringstream tagStream(std::string(box.rawTag.begin(), box.rawTag.end()));
    box.tag = ops->read(tagStream, uint32_t(box.rawTag.size()));
  }
  return 1;
}

uint32_t BoxReader::Visit(MetaDataSampleManagerHeaderBox& box) {
  if (!ReadWord(box, box.versionAndFlags)) return 0;
  for (uint32_t& v : box.values)
    if (!Read32(box, v)) return 0;
  return 1;
}

uint32_t BoxReader::Visit(MetaDataSampleTableBox& box) {
  if (!ReadWord(box, box.versionAndFlags) || !Read32(box, box.entryCount)) return 0;
  ByteVector raw;
  if (!ReadBytes(box, raw, Left(box) / 20 * 20)) return 0;
  box.entries.resize(raw.size() / 20);
  for (size_t i = 0; i < box.entries.size(); ++i) {
    const uint8_t* p = &raw[i * 20];
    for (int k = 0; k < 3; ++k) box.entries[i].values[k] = GetBE32(p + 4 * k);
    for (int k = 0; k < 8; ++k) box.entries[i].stored[k] = p[12 + k];
  }
  return 1;
}

// Entries whose length is below their 10 fixed bytes or whose data passes the
// box end end the list.
uint32_t BoxReader::Visit(MetaDataBox& box) {
  if (!Read16(box, box.entryCount)) return 0;
  for (uint32_t i = 0; i < box.entryCount; ++i) {
    MetaDataEntry e{};
    if (!Read16(box, e.entryLength) || !Read32(box, e.id) || !Read16(box, e.value1) || !Read16(box, e.value2))
      return 0;
    if (e.entryLength < 10 || !ReadBytes(box, e.data, e.entryLength - 10u)) return 0;
    box.entries.push_back(std::move(e));
  }
  return 1;
}

uint32_t BoxReader::Visit(MetaTypeDefinitionBox& box) {
  if (!Read16(box, box.entryCount)) return 0;
  for (uint32_t i = 0; i < box.entryCount; ++i) {
    MetaTypeDefinitionEntry e{};
    if (!Read16(box, e.entryLength) || !Read32(box, e.id) || !ReadRaw(box, e.stored, 2) || !Read16(box, e.value))
      return 0;
    if (e.entryLength < 10 || !ReadBytes(box, e.data, e.entryLength - 10u)) return 0;
    box.entries.push_back(std::move(e));
  }
  return 1;
}

uint32_t BoxReader::Visit(MediaDataBox& box) {
  box.SetWriteSize(box.GetSize());
  box.SetWriteOffset(box.GetOffset());
  return 1;
}

// Payload passed over by the re-synchronisation after the visit.
#define SKIPPED(C) \
  uint32_t BoxReader::Visit(C&) { return 1; }
SKIPPED(MetaDataSampleData)
SKIPPED(UnknownGuidBox)
SKIPPED(FreeBox)
SKIPPED(UnknownBox)
SKIPPED(UrlBox)
SKIPPED(DataReferenceBox)
SKIPPED(SoundMediaInfoHeaderBox)
SKIPPED(TrackHeaderBox)
SKIPPED(MovieHeaderBox)
#undef SKIPPED

}  // namespace fileutil
