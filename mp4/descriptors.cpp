// MPEG-4 descriptors: classes, factory, length coding, reader, size pass, writer.
#include "descriptors.h"

#include "kvbyteorder.h"

#include <istream>
#include <new>
#include <ostream>

namespace fileutil {

uint32_t ReadExpandableLength(std::istream& in, uint32_t maxBytes, uint32_t& bytesTaken) {
  uint32_t value = 0;
  bytesTaken = 0;
  while (bytesTaken < maxBytes) {
    int c = in.get();
    if (c == std::char_traits<char>::eof()) break;
    ++bytesTaken;
    value = (value << 7) | uint32_t(c & 0x7F);
    if (!(c & 0x80)) break;
  }
  return value;
}

uint64_t WriteExpandableLength(std::ostream& out, uint32_t size) {
  out.put(char(((size >> 21) & 0x7F) | 0x80));
  out.put(char(((size >> 14) & 0x7F) | 0x80));
  out.put(char(((size >> 7) & 0x7F) | 0x80));
  out.put(char(size & 0x7F));
  return 4;
}

}  // namespace fileutil

namespace esds {

void DeleteDescriptors(DescriptorList& list) {
  for (Descriptor* d : list) delete d;
  list.clear();
}

bool CloneDescriptors(const DescriptorList& from, DescriptorList& to) {
  for (const Descriptor* d : from) {
    Descriptor* c = d->Clone();
    if (!c) {
      DeleteDescriptors(to);
      return false;
    }
    to.push_back(c);
  }
  return true;
}

Descriptor* ElementaryStreamDescriptor::Create() const { return new (std::nothrow) ElementaryStreamDescriptor(); }
Descriptor* DecoderSpecificInfo::Create() const { return new (std::nothrow) DecoderSpecificInfo(); }
Descriptor* DecoderConfigDescriptor::Create() const { return new (std::nothrow) DecoderConfigDescriptor(); }
Descriptor* SLConfigDescriptor::Create() const { return new (std::nothrow) SLConfigDescriptor(); }
Descriptor* InitialObjectDescriptor::Create() const { return new (std::nothrow) InitialObjectDescriptor(); }
Descriptor* ESIDIncDescriptor::Create() const { return new (std::nothrow) ESIDIncDescriptor(); }
Descriptor* UnknownDescriptor::Create() const { return new (std::nothrow) UnknownDescriptor(tag); }

ElementaryStreamDescriptor::ElementaryStreamDescriptor(const ElementaryStreamDescriptor& o)
    : Descriptor(o), fileutil::ISetElementaryStreamInfo(), esId(o.esId), flags(o.flags),
      dependsOnEsId(o.dependsOnEsId), url(o.url), ocrEsId(o.ocrEsId) {}

Descriptor* ElementaryStreamDescriptor::Clone() const {
  ElementaryStreamDescriptor* c = new (std::nothrow) ElementaryStreamDescriptor(*this);
  if (c && !CloneDescriptors(children, c->children)) {
    delete c;
    return nullptr;
  }
  return c;
}

Descriptor* DecoderSpecificInfo::Clone() const { return new (std::nothrow) DecoderSpecificInfo(*this); }

DecoderConfigDescriptor::DecoderConfigDescriptor(const DecoderConfigDescriptor& o)
    : Descriptor(o), objectTypeIndication(o.objectTypeIndication), streamType(o.streamType),
      upStream(o.upStream), reserved(o.reserved), maxBitrate(o.maxBitrate), avgBitrate(o.avgBitrate),
      decoderSpecificInfo(nullptr) {
  for (int i = 0; i < 3; ++i) bufferSizeDB[i] = o.bufferSizeDB[i];
}

Descriptor* DecoderConfigDescriptor::Clone() const {
  DecoderConfigDescriptor* c = new (std::nothrow) DecoderConfigDescriptor(*this);
  if (c && decoderSpecificInfo) {
    c->decoderSpecificInfo = static_cast<DecoderSpecificInfo*>(decoderSpecificInfo->Clone());
    if (!c->decoderSpecificInfo) {
      delete c;
      return nullptr;
    }
  }
  return c;
}

Descriptor* SLConfigDescriptor::Clone() const { return new (std::nothrow) SLConfigDescriptor(*this); }

InitialObjectDescriptor::InitialObjectDescriptor(const InitialObjectDescriptor& o)
    : Descriptor(o), fileutil::ISetInitialObjectDescriptor(), idAndFlags(o.idAndFlags) {
  for (int i = 0; i < 5; ++i) profileLevels[i] = o.profileLevels[i];
}

Descriptor* InitialObjectDescriptor::Clone() const {
  InitialObjectDescriptor* c = new (std::nothrow) InitialObjectDescriptor(*this);
  if (c && !CloneDescriptors(children, c->children)) {
    delete c;
    return nullptr;
  }
  return c;
}

Descriptor* ESIDIncDescriptor::Clone() const { return new (std::nothrow) ESIDIncDescriptor(*this); }
Descriptor* UnknownDescriptor::Clone() const { return new (std::nothrow) UnknownDescriptor(*this); }

bool ElementaryStreamDescriptor::Set(uint8_t objectTypeIndication, uint8_t streamType, uint32_t bufferSizeDB,
                                     uint32_t maxBitrate, uint32_t avgBitrate, uint32_t,
                                     const std::vector<uint8_t>& dsi) {
  DecoderConfigDescriptor* config = new (std::nothrow) DecoderConfigDescriptor();
  DecoderSpecificInfo* info = new (std::nothrow) DecoderSpecificInfo();
  SLConfigDescriptor* sl = new (std::nothrow) SLConfigDescriptor();
  if (!config || !info || !sl) {
    delete config;
    delete info;
    delete sl;
    return false;
  }
  config->objectTypeIndication = objectTypeIndication;
  config->streamType = uint8_t(streamType & 0x3F);
  config->upStream = 0;
  config->reserved = 1;
  config->SetBufferSizeDB(bufferSizeDB & 0xFFFFFF);
  config->maxBitrate = maxBitrate;
  config->avgBitrate = avgBitrate;
  info->bytes = dsi;
  config->decoderSpecificInfo = info;
  sl->predefined = 2;
  sl->useTimeStampsFlag = 1;
  children.push_back(config);
  children.push_back(sl);
  return true;
}

void InitialObjectDescriptor::Set(uint8_t od, uint8_t scene, uint8_t audio, uint8_t visual, uint8_t graphics) {
  profileLevels[0] = od;
  profileLevels[1] = scene;
  profileLevels[2] = audio;
  profileLevels[3] = visual;
  profileLevels[4] = graphics;
}

// ---------------------------------------------------------------------------
// Factory

DescriptorFactory::DescriptorFactory() {
  Descriptor* protos[] = {new (std::nothrow) ElementaryStreamDescriptor(),
                          new (std::nothrow) DecoderConfigDescriptor(), new (std::nothrow) DecoderSpecificInfo(),
                          new (std::nothrow) SLConfigDescriptor(), new (std::nothrow) InitialObjectDescriptor()};
  for (Descriptor* p : protos)
    if (p && !prototypes_.emplace(p->tag, p).second) delete p;
}

DescriptorFactory::~DescriptorFactory() {
  for (auto& entry : prototypes_) delete entry.second;
  prototypes_.clear();
}

Descriptor* DescriptorFactory::Create(uint8_t tag) const {
  auto it = prototypes_.find(tag);
  if (it != prototypes_.end()) return it->second->Create();
  return new (std::nothrow) UnknownDescriptor(tag);
}

static DescriptorFactory* g_descriptorFactory = nullptr;

void CreateDescriptorFactory() {
  if (!g_descriptorFactory) g_descriptorFactory = new (std::nothrow) DescriptorFactory();
}

void DestroyDescriptorFactory() {
  delete g_descriptorFactory;
  g_descriptorFactory = nullptr;
}

Descriptor* CreateDescriptor(uint8_t tag) {
  if (g_descriptorFactory) return g_descriptorFactory->Create(tag);
  DescriptorFactory local;
  return local.Create(tag);
}

// ---------------------------------------------------------------------------
// Reader

uint64_t DescriptorReader::Available(const Descriptor& d) const {
  uint64_t own = d.bytesConsumed < d.size ? d.size - d.bytesConsumed : 0;
  uint64_t rest = position_ < budget_ ? budget_ - position_ : 0;
  return own < rest ? own : rest;
}

void DescriptorReader::ReadBytes(Descriptor& d, uint8_t* dst, uint32_t n) {
  if (n == 0) return;
  if (Available(d) < n) throw OutOfBytes();
  in_.read(reinterpret_cast<char*>(dst), n);
  uint64_t got = uint64_t(in_.gcount());
  d.bytesConsumed += got;
  position_ += got;
  if (got < n) throw OutOfBytes();
}

void DescriptorReader::ReadVector(Descriptor& d, std::vector<uint8_t>& dst, uint64_t n) {
  dst.clear();
  if (n == 0) return;
  if (Available(d) < n) throw OutOfBytes();
  // Grown block by block: only bytes the stream really delivers are held.
  const uint64_t kBlock = 65536;
  while (dst.size() < n) {
    uint64_t step = n - dst.size();
    if (step > kBlock) step = kBlock;
    size_t at = dst.size();
    dst.resize(at + size_t(step));
    ReadBytes(d, dst.data() + at, uint32_t(step));
  }
}

uint8_t DescriptorReader::Read8(Descriptor& d) {
  uint8_t b = 0;
  ReadBytes(d, &b, 1);
  return b;
}

uint16_t DescriptorReader::Read16(Descriptor& d) {
  uint8_t b[2];
  ReadBytes(d, b, 2);
  return GetBE16(b);
}

uint32_t DescriptorReader::Read32(Descriptor& d) {
  uint8_t b[4];
  ReadBytes(d, b, 4);
  return GetBE32(b);
}

void DescriptorReader::SkipRest(Descriptor& d) {
  uint64_t n = Available(d);
  while (n > 0) {
    std::streamsize step = n > 0x40000000u ? 0x40000000 : std::streamsize(n);
    in_.ignore(step);
    uint64_t got = uint64_t(in_.gcount());
    position_ += got;
    d.bytesConsumed += got;
    n -= got;
    if (got < uint64_t(step)) break;
  }
}

// Tag and length, both bounded by the budget; at most four length bytes.
Descriptor* DescriptorReader::ReadHeader() {
  if (position_ >= budget_) throw OutOfBytes();
  int tag = in_.get();
  if (tag == std::char_traits<char>::eof()) throw OutOfBytes();
  ++position_;
  uint64_t rest = budget_ - position_;
  uint32_t taken = 0;
  uint32_t size = fileutil::ReadExpandableLength(in_, rest < 4 ? uint32_t(rest) : 4u, taken);
  position_ += taken;
  if (taken == 0) throw OutOfBytes();
  Descriptor* d = CreateDescriptor(uint8_t(tag));
  if (!d) throw std::bad_alloc();
  d->size = size;
  return d;
}

// Reads a child's payload and passes over what its class did not take, so that
// the next child starts at this one's declared end (bounded by the budget).
void DescriptorReader::ReadChild(Descriptor& child) {
  if (depth_ >= kMaxDescriptorDepth) throw OutOfBytes();
  ++depth_;
  try {
    child.Accept(*this);
  } catch (...) {
    --depth_;
    throw;
  }
  --depth_;
  SkipRest(child);
}

Descriptor* DescriptorReader::ReadDescriptor(uint64_t budget) {
  budget_ = position_ + budget;
  Descriptor* d = nullptr;
  try {
    d = ReadHeader();
    ReadChild(*d);
  } catch (const OutOfBytes&) {
  }
  // Whatever is left of the budget belongs to the descriptor's box.
  while (position_ < budget_) {
    uint64_t n = budget_ - position_;
    std::streamsize step = n > 0x40000000u ? 0x40000000 : std::streamsize(n);
    in_.ignore(step);
    uint64_t got = uint64_t(in_.gcount());
    position_ += got;
    if (got < uint64_t(step)) break;
  }
  return d;
}

void DescriptorReader::Visit(ESIDIncDescriptor& d) { d.trackId = Read32(d); }

void DescriptorReader::Visit(InitialObjectDescriptor& d) {
  d.idAndFlags = Read16(d);
  ReadBytes(d, d.profileLevels, 5);
}

void DescriptorReader::Visit(SLConfigDescriptor& d) {
  d.predefined = Read8(d);
  if (d.predefined == 0) {
    uint8_t f = Read8(d);
    d.useAccessUnitStartFlag = (f >> 7) & 1;
    d.useAccessUnitEndFlag = (f >> 6) & 1;
    d.useRandomAccessPointFlag = (f >> 5) & 1;
    d.hasRandomAccessUnitsOnlyFlag = (f >> 4) & 1;
    d.usePaddingFlag = (f >> 3) & 1;
    d.useTimeStampsFlag = (f >> 2) & 1;
    d.useIdleFlag = (f >> 1) & 1;
    d.durationFlag = f & 1;
    d.timeStampResolution = Read32(d);
    d.ocrResolution = Read32(d);
    d.timeStampLength = Read8(d);
    d.ocrLength = Read8(d);
    d.auLength = Read8(d);
    d.instantBitrateLength = Read8(d);
    uint16_t w = Read16(d);
    d.degradationPriorityLength = (w >> 12) & 0xF;
    d.auSeqNumLength = (w >> 7) & 0x1F;
    d.packetSeqNumLength = (w >> 2) & 0x1F;
    if (d.durationFlag) {
      d.timeScale = Read32(d);
      d.accessUnitDuration = Read16(d);
      d.compositionUnitDuration = Read16(d);
    }
    if (!d.useTimeStampsFlag) ReadVector(d, d.timeStampBuffer, (uint32_t(d.timeStampLength) + 7) / 8);
  }
  if (d.size > d.bytesConsumed) {
    d.trailingFlags = Read8(d);
    if (d.trailingFlags & 0x02) d.trailingValue = Read16(d);
  }
}

void DescriptorReader::Visit(DecoderSpecificInfo& d) { ReadVector(d, d.bytes, d.size); }

void DescriptorReader::Visit(DecoderConfigDescriptor& d) {
  d.objectTypeIndication = Read8(d);
  uint8_t b = Read8(d);
  d.streamType = b >> 2;
  d.upStream = (b >> 1) & 1;
  d.reserved = b & 1;
  ReadBytes(d, d.bufferSizeDB, 3);
  d.maxBitrate = Read32(d);
  d.avgBitrate = Read32(d);
  if (d.bytesConsumed >= d.size) return;
  // One child, kept only when it is the Decoder Specific Info. Its bytes count
  // as this descriptor's payload.
  uint64_t start = position_;
  Descriptor* child = nullptr;
  try {
    uint64_t savedBudget = budget_;
    uint64_t end = position_ + (d.size - d.bytesConsumed);
    if (end < budget_) budget_ = end;
    try {
      child = ReadHeader();
      if (child->tag == kTagDecoderSpecificInfo) {
        d.decoderSpecificInfo = static_cast<DecoderSpecificInfo*>(child);
        child = nullptr;
        ReadChild(*d.decoderSpecificInfo);
      }
    } catch (...) {
      budget_ = savedBudget;
      throw;
    }
    budget_ = savedBudget;
  } catch (...) {
    delete child;
    d.bytesConsumed += position_ - start;
    throw;
  }
  delete child;
  d.bytesConsumed += position_ - start;
}

void DescriptorReader::Visit(ElementaryStreamDescriptor& d) {
  uint64_t start = position_ - d.bytesConsumed;
  d.esId = Read16(d);
  d.flags = Read8(d);
  if (d.StreamDependenceFlag()) d.dependsOnEsId = Read16(d);
  if (d.UrlFlag()) {
    uint8_t length = Read8(d);
    ReadVector(d, d.url, length);
  }
  if (d.OcrStreamFlag()) d.ocrEsId = Read16(d);
  // Children are read to the end of the budget.
  try {
    while (position_ < budget_) {
      Descriptor* child = ReadHeader();
      d.children.push_back(child);
      ReadChild(*child);
    }
  } catch (...) {
    d.bytesConsumed = position_ - start;
    throw;
  }
  d.bytesConsumed = position_ - start;
}

void DescriptorReader::Visit(UnknownDescriptor& d) {
  if (d.size > d.bytesConsumed) ReadVector(d, d.payload, d.size - d.bytesConsumed);
}

// ---------------------------------------------------------------------------
// Size pass

void DescriptorPrepareWrite::Finish(Descriptor& d, uint64_t ownBytes, uint64_t before) {
  uint64_t children = total_ - before;
  d.size = uint32_t(ownBytes + children);
  d.totalSize = d.size + 5;
  total_ = before + d.totalSize;
}

void DescriptorPrepareWrite::Visit(ESIDIncDescriptor& d) { Finish(d, 4, total_); }

void DescriptorPrepareWrite::Visit(InitialObjectDescriptor& d) {
  uint64_t before = total_;
  for (Descriptor* c : d.children) c->Accept(*this);
  Finish(d, 7, before);
}

// The writer writes an SL Config descriptor only in its predefined-2 form; any
// other form is left out, and so it is counted as nothing here.
void DescriptorPrepareWrite::Visit(SLConfigDescriptor& d) {
  if (d.predefined == 2) {
    Finish(d, 1, total_);
  } else {
    d.totalSize = 0;
  }
}

void DescriptorPrepareWrite::Visit(DecoderSpecificInfo& d) { Finish(d, d.bytes.size(), total_); }

void DescriptorPrepareWrite::Visit(DecoderConfigDescriptor& d) {
  uint64_t before = total_;
  if (d.decoderSpecificInfo) d.decoderSpecificInfo->Accept(*this);
  Finish(d, 13, before);
}

void DescriptorPrepareWrite::Visit(ElementaryStreamDescriptor& d) {
  uint64_t before = total_;
  for (Descriptor* c : d.children) c->Accept(*this);
  Finish(d, 3, before);
}

void DescriptorPrepareWrite::Visit(UnknownDescriptor&) {}

// ---------------------------------------------------------------------------
// Writer

void DescriptorWriter::Put8(uint8_t v) {
  out_.put(char(v));
  ++count_;
}
void DescriptorWriter::Put16(uint16_t v) {
  Put8(uint8_t(v >> 8));
  Put8(uint8_t(v));
}
void DescriptorWriter::Put32(uint32_t v) {
  Put16(uint16_t(v >> 16));
  Put16(uint16_t(v));
}
void DescriptorWriter::PutBytes(const uint8_t* p, size_t n) {
  if (n) out_.write(reinterpret_cast<const char*>(p), std::streamsize(n));
  count_ += n;
}
void DescriptorWriter::Header(const Descriptor& d) {
  Put8(d.tag);
  count_ += fileutil::WriteExpandableLength(out_, d.size);
}

void DescriptorWriter::Visit(ESIDIncDescriptor& d) {
  Header(d);
  Put32(d.trackId);
}

void DescriptorWriter::Visit(InitialObjectDescriptor& d) {
  Header(d);
  Put16(d.idAndFlags);
  PutBytes(d.profileLevels, 5);
  for (Descriptor* c : d.children) c->Accept(*this);
}

void DescriptorWriter::Visit(SLConfigDescriptor& d) {
  if (d.predefined != 2) return;
  Header(d);
  Put8(d.predefined);
}

void DescriptorWriter::Visit(DecoderSpecificInfo& d) {
  Header(d);
  PutBytes(d.bytes.data(), d.bytes.size());
}

void DescriptorWriter::Visit(DecoderConfigDescriptor& d) {
  Header(d);
  Put8(d.objectTypeIndication);
  Put8(uint8_t((d.streamType << 2) | ((d.upStream & 1) << 1) | (d.reserved & 1)));
  PutBytes(d.bufferSizeDB, 3);
  Put32(d.maxBitrate);
  Put32(d.avgBitrate);
  if (d.decoderSpecificInfo) d.decoderSpecificInfo->Accept(*this);
}

// The optional fields are never written, so the flags that announce them are
// written cleared: the written descriptor stays parseable.
void DescriptorWriter::Visit(ElementaryStreamDescriptor& d) {
  Header(d);
  Put16(d.esId);
  Put8(uint8_t(d.flags & 0x1F));
  for (Descriptor* c : d.children) c->Accept(*this);
}

void DescriptorWriter::Visit(UnknownDescriptor&) {}

}  // namespace esds
