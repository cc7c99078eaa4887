// MPEG-4 descriptors of the 'esds' and 'iods' boxes: the classes, the setter
// faces the encoder side fills, the tag factory and the expandable length coding.
#pragma once

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <list>
#include <map>
#include <vector>

namespace esds {
class Descriptor;
}

namespace fileutil {

// Reads a length of 7-bit groups (bit 7 = another byte follows). At most
// `maxBytes` bytes are taken; `bytesTaken` receives how many were.
uint32_t ReadExpandableLength(std::istream& in, uint32_t maxBytes, uint32_t& bytesTaken);
// The writer always uses four length bytes.
inline uint32_t EncodeExpandableLength(uint32_t) { return 4; }
uint64_t WriteExpandableLength(std::ostream& out, uint32_t size);

class ISetElementaryStreamInfo {
 public:
  // Appends a Decoder Config descriptor (with a Decoder Specific Info holding a
  // copy of `dsi`) and an SL Config descriptor (predefined 2). `ignored` is unused.
  // False when memory is short (nothing is appended then).
  virtual bool Set(uint8_t objectTypeIndication, uint8_t streamType, uint32_t bufferSizeDB,
                   uint32_t maxBitrate, uint32_t avgBitrate, uint32_t ignored,
                   const std::vector<uint8_t>& dsi) = 0;

 protected:
  ~ISetElementaryStreamInfo() {}
};

class ISetInitialObjectDescriptor {
 public:
  virtual void Set(uint8_t od, uint8_t scene, uint8_t audio, uint8_t visual, uint8_t graphics) = 0;

 protected:
  ~ISetInitialObjectDescriptor() {}
};

}  // namespace fileutil

namespace esds {

class ESIDIncDescriptor;
class InitialObjectDescriptor;
class SLConfigDescriptor;
class DecoderSpecificInfo;
class DecoderConfigDescriptor;
class ElementaryStreamDescriptor;
class UnknownDescriptor;

enum : uint8_t {
  kTagElementaryStream = 0x03,
  kTagDecoderConfig = 0x04,
  kTagDecoderSpecificInfo = 0x05,
  kTagSLConfig = 0x06,
  kTagESIDInc = 0x0E,
  kTagInitialObject = 0x10,
};

class IDescriptorVisitor {
 public:
  virtual void Visit(ESIDIncDescriptor& d) = 0;
  virtual void Visit(InitialObjectDescriptor& d) = 0;
  virtual void Visit(SLConfigDescriptor& d) = 0;
  virtual void Visit(DecoderSpecificInfo& d) = 0;
  virtual void Visit(DecoderConfigDescriptor& d) = 0;
  virtual void Visit(ElementaryStreamDescriptor& d) = 0;
  virtual void Visit(UnknownDescriptor& d) = 0;

 protected:
  ~IDescriptorVisitor() {}
};

typedef std::list<Descriptor*> DescriptorList;

class Descriptor {
 public:
  explicit Descriptor(uint8_t t) : tag(t) {}
  virtual ~Descriptor() {}
  virtual void Accept(IDescriptorVisitor& visitor) = 0;
  // A new default object of the same class (same tag for unknown ones).
  virtual Descriptor* Create() const = 0;
  // A deep copy; null when memory is short.
  virtual Descriptor* Clone() const = 0;

  uint8_t tag;
  uint32_t size = 0;        // payload bytes
  uint32_t totalSize = 0;   // tag + 4 length bytes + payload, set by the size pass
  uint64_t bytesConsumed = 0;

 protected:
  Descriptor(const Descriptor&) = default;
  Descriptor& operator=(const Descriptor&) = delete;
};

// Destroys every descriptor of the list and empties it.
void DeleteDescriptors(DescriptorList& list);
// Deep-copies `from` into `to`; false (with `to` emptied) when memory is short.
bool CloneDescriptors(const DescriptorList& from, DescriptorList& to);

class ElementaryStreamDescriptor : public Descriptor, public fileutil::ISetElementaryStreamInfo {
 public:
  ElementaryStreamDescriptor() : Descriptor(kTagElementaryStream) {}
  ~ElementaryStreamDescriptor() override { DeleteDescriptors(children); }
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;
  bool Set(uint8_t objectTypeIndication, uint8_t streamType, uint32_t bufferSizeDB, uint32_t maxBitrate,
           uint32_t avgBitrate, uint32_t ignored, const std::vector<uint8_t>& dsi) override;

  bool StreamDependenceFlag() const { return (flags & 0x80) != 0; }
  bool UrlFlag() const { return (flags & 0x40) != 0; }
  bool OcrStreamFlag() const { return (flags & 0x20) != 0; }

  uint16_t esId = 0;
  uint8_t flags = 0;
  uint16_t dependsOnEsId = 0;
  std::vector<uint8_t> url;
  uint16_t ocrEsId = 0;
  DescriptorList children;  // owned

 private:
  ElementaryStreamDescriptor(const ElementaryStreamDescriptor& o);
};

class DecoderSpecificInfo : public Descriptor {
 public:
  DecoderSpecificInfo() : Descriptor(kTagDecoderSpecificInfo) {}
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;
  std::vector<uint8_t> bytes;
};

class DecoderConfigDescriptor : public Descriptor {
 public:
  DecoderConfigDescriptor() : Descriptor(kTagDecoderConfig) {}
  ~DecoderConfigDescriptor() override { delete decoderSpecificInfo; }
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;
  uint32_t GetBufferSizeDB() const {
    return (uint32_t(bufferSizeDB[0]) << 16) | (uint32_t(bufferSizeDB[1]) << 8) | bufferSizeDB[2];
  }
  void SetBufferSizeDB(uint32_t v) {
    bufferSizeDB[0] = uint8_t(v >> 16);
    bufferSizeDB[1] = uint8_t(v >> 8);
    bufferSizeDB[2] = uint8_t(v);
  }

  uint8_t objectTypeIndication = 0;
  uint8_t streamType = 0;
  uint8_t upStream = 0;
  uint8_t reserved = 0;
  uint8_t bufferSizeDB[3] = {0, 0, 0};  // most significant first
  uint32_t maxBitrate = 0;
  uint32_t avgBitrate = 0;
  DecoderSpecificInfo* decoderSpecificInfo = nullptr;  // owned

 private:
  DecoderConfigDescriptor(const DecoderConfigDescriptor& o);
};

class SLConfigDescriptor : public Descriptor {
 public:
  SLConfigDescriptor() : Descriptor(kTagSLConfig) {}
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;

  uint8_t predefined = 0;
  uint8_t useAccessUnitStartFlag = 0;
  uint8_t useAccessUnitEndFlag = 0;
  uint8_t useRandomAccessPointFlag = 0;
  uint8_t hasRandomAccessUnitsOnlyFlag = 0;
  uint8_t usePaddingFlag = 0;
  uint8_t useTimeStampsFlag = 0;
  uint8_t useIdleFlag = 0;
  uint8_t durationFlag = 0;
  uint32_t timeStampResolution = 0;
  uint32_t ocrResolution = 0;
  uint8_t timeStampLength = 0;
  uint8_t ocrLength = 0;
  uint8_t auLength = 0;
  uint8_t instantBitrateLength = 0;
  uint32_t degradationPriorityLength = 0;
  uint32_t auSeqNumLength = 0;
  uint32_t packetSeqNumLength = 0;
  uint32_t timeScale = 0;
  uint16_t accessUnitDuration = 0;
  uint16_t compositionUnitDuration = 0;
  uint8_t trailingFlags = 0;
  uint16_t trailingValue = 0;
  std::vector<uint8_t> timeStampBuffer;
};

class InitialObjectDescriptor : public Descriptor, public fileutil::ISetInitialObjectDescriptor {
 public:
  InitialObjectDescriptor() : Descriptor(kTagInitialObject) {}
  ~InitialObjectDescriptor() override { DeleteDescriptors(children); }
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;
  void Set(uint8_t od, uint8_t scene, uint8_t audio, uint8_t visual, uint8_t graphics) override;

  uint16_t idAndFlags = 0x004F;
  uint8_t profileLevels[5] = {0, 0, 0, 0, 0};  // OD, scene, audio, visual, graphics
  DescriptorList children;                     // owned

 private:
  InitialObjectDescriptor(const InitialObjectDescriptor& o);
};

class ESIDIncDescriptor : public Descriptor {
 public:
  ESIDIncDescriptor() : Descriptor(kTagESIDInc) {}
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;
  uint32_t trackId = 0;
};

class UnknownDescriptor : public Descriptor {
 public:
  explicit UnknownDescriptor(uint8_t t) : Descriptor(t) {}
  void Accept(IDescriptorVisitor& v) override { v.Visit(*this); }
  Descriptor* Create() const override;
  Descriptor* Clone() const override;
  std::vector<uint8_t> payload;
};

// Makes descriptors by tag: 3, 4, 5, 6 and 16 are registered; any other tag
// gives an UnknownDescriptor keeping the tag. Null when memory is short.
class DescriptorFactory {
 public:
  DescriptorFactory();
  ~DescriptorFactory();
  DescriptorFactory(const DescriptorFactory&) = delete;
  DescriptorFactory& operator=(const DescriptorFactory&) = delete;
  Descriptor* Create(uint8_t tag) const;

 private:
  std::map<uint8_t, Descriptor*> prototypes_;
};

void CreateDescriptorFactory();
void DestroyDescriptorFactory();
// Creates through the process-wide factory (or directly when there is none).
Descriptor* CreateDescriptor(uint8_t tag);

class OutOfBytes : public std::exception {
 public:
  const char* what() const noexcept override { return "descriptor runs past its bounds"; }
};

// Nesting deeper than this ends the reading of a descriptor tree.
const uint32_t kMaxDescriptorDepth = 16;

// Reads one descriptor (with its children) within a byte budget. Every field,
// header and length byte included, is bounded by the budget and by the
// descriptor's own size; nothing is allocated beyond the bytes that are there.
class DescriptorReader : public IDescriptorVisitor {
 public:
  explicit DescriptorReader(std::istream& in) : in_(in) {}
  Descriptor* ReadDescriptor(uint64_t budget);
  // Bytes taken from the stream so far.
  uint64_t GetPosition() const { return position_; }

  void Visit(ESIDIncDescriptor& d) override;
  void Visit(InitialObjectDescriptor& d) override;
  void Visit(SLConfigDescriptor& d) override;
  void Visit(DecoderSpecificInfo& d) override;
  void Visit(DecoderConfigDescriptor& d) override;
  void Visit(ElementaryStreamDescriptor& d) override;
  void Visit(UnknownDescriptor& d) override;

 private:
  Descriptor* ReadHeader();
  void ReadChild(Descriptor& child);
  uint64_t Available(const Descriptor& d) const;
  void ReadBytes(Descriptor& d, uint8_t* dst, uint32_t n);
  void ReadVector(Descriptor& d, std::vector<uint8_t>& dst, uint64_t n);
  uint8_t Read8(Descriptor& d);
  uint16_t Read16(Descriptor& d);
  uint32_t Read32(Descriptor& d);
  void SkipRest(Descriptor& d);

  std::istream& in_;
  uint64_t budget_ = 0;
  uint64_t position_ = 0;
  uint32_t depth_ = 0;
};

// Computes size and total size of every descriptor of a tree.
class DescriptorPrepareWrite : public IDescriptorVisitor {
 public:
  uint64_t GetTotal() const { return total_; }
  void Visit(ESIDIncDescriptor& d) override;
  void Visit(InitialObjectDescriptor& d) override;
  void Visit(SLConfigDescriptor& d) override;
  void Visit(DecoderSpecificInfo& d) override;
  void Visit(DecoderConfigDescriptor& d) override;
  void Visit(ElementaryStreamDescriptor& d) override;
  void Visit(UnknownDescriptor& d) override;

 private:
  void Finish(Descriptor& d, uint64_t ownBytes, uint64_t before);
  uint64_t total_ = 0;
};

// Writes a sized tree (four length bytes per descriptor).
class DescriptorWriter : public IDescriptorVisitor {
 public:
  explicit DescriptorWriter(std::ostream& out) : out_(out) {}
  uint64_t GetCount() const { return count_; }
  void Visit(ESIDIncDescriptor& d) override;
  void Visit(InitialObjectDescriptor& d) override;
  void Visit(SLConfigDescriptor& d) override;
  void Visit(DecoderSpecificInfo& d) override;
  void Visit(DecoderConfigDescriptor& d) override;
  void Visit(ElementaryStreamDescriptor& d) override;
  void Visit(UnknownDescriptor& d) override;

 private:
  void Header(const Descriptor& d);
  void Put8(uint8_t v);
  void Put16(uint16_t v);
  void Put32(uint32_t v);
  void PutBytes(const uint8_t* p, size_t n);
  std::ostream& out_;
  uint64_t count_ = 0;
};

}  // namespace esds
