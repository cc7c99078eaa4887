// The box classes of the container library: plain data holders with their
// constructor defaults. Reading, sizing, writing and cloning are visitors.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "box.h"
#include "kvportable.h"

namespace esds {
class Descriptor;
}  // namespace esds

namespace fileutil {

typedef std::vector<uint8_t> ByteVector;

#define FILEUTIL_ACCEPT \
  uint32_t Accept(IBoxVisitor& visitor) override { return visitor.Visit(*this); }

// Unity transformation matrix of the movie and track headers.
extern const uint32_t kUnityMatrix[9];

// "und" packed as three 5-bit letters.
const uint16_t kLanguageUndetermined = 0x55C4;

template <uint32_t Code>
class SampleEntry : public Box<Code> {
 public:
  uint8_t reserved[6] = {0, 0, 0, 0, 0, 0};
  uint16_t dataReferenceIndex = 0;
};

template <uint32_t Code>
class AudioSampleEntry : public SampleEntry<Code> {
 public:
  uint8_t reserved2[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint16_t channelCount = 0;
  uint16_t sampleSize = 0;
  uint16_t preDefined = 0;
  uint16_t reserved3 = 0;
  uint32_t sampleRate = 0;  // 16.16 fixed point
  uint32_t GetIntegerSampleRate() const { return sampleRate >> 16; }
};

template <uint32_t Code>
class VisualSampleEntry : public SampleEntry<Code> {
 public:
  uint16_t preDefined1 = 0;
  uint16_t reserved2 = 0;
  uint8_t preDefined2[12] = {0};
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t horizResolution = 0x00480000;
  uint32_t vertResolution = 0x00480000;
  uint32_t reserved3 = 0;
  uint16_t frameCount = 1;
  uint8_t compressorName[32] = {0};
  uint16_t depth = 0x0018;
  int16_t preDefined3 = -1;
};

template <uint32_t Code>
class TagBox : public FullBox<Code> {
 public:
  TagBox() = default;
  explicit TagBox(const char* text) {
    if (text) text_.assign(text, text + std::strlen(text));
  }
  ByteVector text_;
  FILEUTIL_ACCEPT
};

template <uint32_t Code>
class ThreeGPPAssetMetaBox : public FullBox<Code> {
 public:
  ByteVector text_;
  uint16_t language = 0;
  FILEUTIL_ACCEPT
};

template <uint32_t N>
class DataBox : public Box<FCC("data")>, public IDataBox {
 public:
  uint32_t GetDataType() const override { return N; }
  ByteVector& Data() override { return payload; }
  IBox* GetBox() override { return this; }
  ByteVector payload;
  FILEUTIL_ACCEPT
};

class UnknownDataBox : public Box<FCC("data")>, public IDataBox {
 public:
  explicit UnknownDataBox(uint32_t type) : dataType(type) {}
  uint32_t GetDataType() const override { return dataType; }
  ByteVector& Data() override { return payload; }
  IBox* GetBox() override { return this; }
  uint32_t dataType;
  ByteVector payload;
  FILEUTIL_ACCEPT
};

class FileTypeBox : public Box<FCC("ftyp")> {
 public:
  FourCC majorBrand;
  FourCC minorVersion;  // the four bytes as stored
  std::vector<FourCC> compatibleBrands;
  void AddBrand(FourCC brand) { compatibleBrands.push_back(brand); }
  FILEUTIL_ACCEPT
};

class MediaDataBox : public Box<FCC("mdat")> {
 public:
  uint64_t firstValue = 0;
  uint64_t payloadLength = 0;  // grown by the track writer
  uint8_t copyFlag = 0;        // set by the size pass once the media data must move
  uint64_t payloadOffset = 0;  // file offset of the first payload byte (track writer)
  FILEUTIL_ACCEPT
};

class FreeBox : public Box<FCC("free")> {
 public:
  FILEUTIL_ACCEPT
};

// A box of a type no factory knows: its payload stays in the file.
class UnknownBox : public Box<FCC("    ")> {
 public:
  explicit UnknownBox(FourCC code) : code_(code) {}
  FourCC GetType() const override { return code_; }
  FILEUTIL_ACCEPT
 private:
  FourCC code_;
};

class GuidBox : public Box<FCC("uuid")> {
 public:
  explicit GuidBox(const GUID& guid) : guid_(guid) {}
  const GUID& GetGuid() const { return guid_; }
 private:
  GUID guid_;
};

class UnknownGuidBox : public GuidBox {
 public:
  explicit UnknownGuidBox(const GUID& guid) : GuidBox(guid) {}
  FILEUTIL_ACCEPT
};

extern const GUID kUserSpecificMetaDataGuid;  // {55534D54-21D2-4FCE-BB88-695CFAC9C740}
extern const GUID kMetaDataSampleDataGuid;    // {4D545344-21D2-4FCE-BB88-695CFAC9C740}

class UserSpecificMetaData : public GuidBox, public ChildBoxes {
 public:
  UserSpecificMetaData() : GuidBox(kUserSpecificMetaDataGuid) {}
  FILEUTIL_ACCEPT
};

class MetaDataSampleData : public GuidBox {
 public:
  MetaDataSampleData() : GuidBox(kMetaDataSampleDataGuid) {}
  FILEUTIL_ACCEPT
};

class MovieHeaderBox : public FullBox<FCC("mvhd")> {
 public:
  MovieHeaderBox();
  uint32_t creationTime;
  uint32_t modificationTime;
  uint32_t timescale = 0;
  uint32_t duration = 0;
  uint32_t rate = 0x00010000;
  uint16_t volume = 0x0100;
  uint16_t reserved1 = 0;
  uint32_t reserved2[2] = {0, 0};
  uint32_t matrix[9];
  uint32_t preDefined[6] = {0, 0, 0, 0, 0, 0};
  uint32_t nextTrackId = 0;
  FILEUTIL_ACCEPT
};

class TrackHeaderBox : public FullBox<FCC("tkhd")> {
 public:
  TrackHeaderBox();
  uint32_t creationTime;
  uint32_t modificationTime;
  uint32_t trackId = 0;
  uint32_t reserved1 = 0;
  uint32_t duration = 0;
  uint32_t reserved2[2] = {0, 0};
  uint16_t layer = 0;
  uint16_t alternateGroup = 0;
  uint16_t volume = 0x0100;
  uint16_t reserved3 = 0;
  uint32_t matrix[9];
  uint32_t width = 0;
  uint32_t height = 0;
  FILEUTIL_ACCEPT
};

// Times and duration are held 64 bits wide so that a version-1 box read from a
// file keeps its values; a box built here is version 0.
class MediaHeaderBox : public FullBox<FCC("mdhd")> {
 public:
  MediaHeaderBox();
  uint64_t creationTime;
  uint64_t modificationTime;
  uint32_t timescale = 0;
  uint64_t duration = 0;
  uint16_t language = kLanguageUndetermined;
  uint16_t preDefined = 0;
  FILEUTIL_ACCEPT
};

class MediaHandlerReferenceBox : public FullBox<FCC("hdlr")> {
 public:
  uint32_t preDefined = 0;  // as stored
  FourCC handlerType;
  uint32_t reserved[3] = {0, 0, 0};  // as stored
  ByteVector name;
  void InitSoundHandler();
  void InitMetadataHandler();
  FILEUTIL_ACCEPT
};

class SoundMediaInfoHeaderBox : public FullBox<FCC("smhd")> {
 public:
  int16_t balance = 0;
  uint16_t reserved = 0;
  FILEUTIL_ACCEPT
};

class DataReferenceBox : public FullBox<FCC("dref")>, public ChildBoxes {
 public:
  uint32_t entryCount = 0;
  FILEUTIL_ACCEPT
};

class UrlBox : public FullBox<FCC("url ")> {
 public:
  UrlBox() { versionAndFlags = 1; }
  ByteVector location;
  FILEUTIL_ACCEPT
};

class SampleDescriptionBox : public FullBox<FCC("stsd")>, public ChildBoxes {
 public:
  uint32_t entryCount = 0;
  FILEUTIL_ACCEPT
};

class Mpeg4AudioSampleEntry : public AudioSampleEntry<FCC("mp4a")>, public ChildBoxes {
 public:
  FILEUTIL_ACCEPT
};

class PNGSampleEntryBox : public VisualSampleEntry<FCC("PNG ")> {
 public:
  FILEUTIL_ACCEPT
};

// Owns its descriptor tree.
class ElementaryStreamDescriptorBox : public FullBox<FCC("esds")> {
 public:
  ElementaryStreamDescriptorBox() = default;
  ElementaryStreamDescriptorBox(const ElementaryStreamDescriptorBox& o);
  ~ElementaryStreamDescriptorBox() override;
  // The root descriptor (an Elementary Stream descriptor in a sound file).
  esds::Descriptor* GetDescriptor() const { return descriptor_; }
  void SetDescriptor(esds::Descriptor* d);  // takes ownership
  FILEUTIL_ACCEPT
 private:
  esds::Descriptor* descriptor_ = nullptr;
};

class InitialObjectDescriptorBox : public FullBox<FCC("iods")> {
 public:
  InitialObjectDescriptorBox() = default;
  InitialObjectDescriptorBox(const InitialObjectDescriptorBox& o);
  ~InitialObjectDescriptorBox() override;
  esds::Descriptor* GetDescriptor() const { return descriptor_; }
  void SetDescriptor(esds::Descriptor* d);  // takes ownership
  FILEUTIL_ACCEPT
 private:
  esds::Descriptor* descriptor_ = nullptr;
};

struct TimeToSampleEntry {
  uint32_t sampleCount;
  uint32_t sampleDelta;
};

class TimeToSampleBox : public FullBox<FCC("stts")> {
 public:
  uint32_t entryCount = 0;
  std::vector<TimeToSampleEntry> entries;
  uint64_t GetTotalDuration() const;
  FILEUTIL_ACCEPT
};

// One segment of a track's presentation: `segmentDuration` in the movie's
// timescale, starting at `mediaTime` in the media's timescale (-1: an empty
// segment), played at rate 1.
struct EditListEntry {
  uint64_t segmentDuration;
  int64_t mediaTime;
  int16_t rateInteger;
  int16_t rateFraction;
};

// 'elst': version 0 holds 32-bit durations and times, version 1 64-bit ones.
class EditListBox : public FullBox<FCC("elst")> {
 public:
  uint32_t entryCount = 0;
  std::vector<EditListEntry> entries;
  // The version the box is written with: 1 when it was read so or a value
  // does not fit 32 bits, else 0.
  uint32_t WriteVersion() const;
  FILEUTIL_ACCEPT
};

struct SampleToChunkEntry {
  uint32_t firstChunk;
  uint32_t samplesPerChunk;
  uint32_t sampleDescriptionIndex;
};

class SampleToChunkBox : public FullBox<FCC("stsc")> {
 public:
  uint32_t entryCount = 0;
  std::vector<SampleToChunkEntry> entries;
  FILEUTIL_ACCEPT
};

class SampleSizeBox : public FullBox<FCC("stsz")> {
 public:
  uint32_t sampleSize = 0;
  uint32_t sampleCount = 0;
  std::vector<uint32_t> sizes;
  FILEUTIL_ACCEPT
};

class ChunkOffsetBox : public FullBox<FCC("stco")>, public IChunkOffsetBox {
 public:
  uint32_t entryCount = 0;
  std::vector<uint32_t> offsets;
  uint64_t GetChunkOffset(uint32_t index) const override {
    return index < offsets.size() ? offsets[index] : 0;
  }
  void AddChunkOffset(uint64_t offset) override {
    offsets.push_back(uint32_t(offset));
    ++entryCount;
  }
  uint32_t GetChunkCount() const override { return uint32_t(offsets.size()); }
  FILEUTIL_ACCEPT
};

class ChunkLargeOffsetBox : public FullBox<FCC("co64")>, public IChunkOffsetBox {
 public:
  uint32_t entryCount = 0;
  std::vector<uint64_t> offsets;
  uint64_t GetChunkOffset(uint32_t index) const override {
    return index < offsets.size() ? offsets[index] : 0;
  }
  void AddChunkOffset(uint64_t offset) override {
    offsets.push_back(offset);
    ++entryCount;
  }
  uint32_t GetChunkCount() const override { return uint32_t(offsets.size()); }
  FILEUTIL_ACCEPT
};

class MetaBox : public FullBox<FCC("meta")>, public ChildBoxes {
 public:
  FILEUTIL_ACCEPT
};

// A new meta box holding its handler box: the item list's handler for 'mdir',
// else the given type with an empty name. Null when memory runs out.
MetaBox* NewMetaBox(FourCC handlerType);

class RecordingYearBox : public FullBox<FCC("yrrc")> {
 public:
  ByteVector payload;
  FILEUTIL_ACCEPT
};

// The ID3v2 tag of an 'ID32' box. The tag object belongs to the metadata
// services, which install the operations below; without them the tag is kept
// as its raw bytes and written back unchanged.
struct Id3TagOperations {
  void* (*read)(std::istream& in, uint32_t size);
  uint32_t (*updateAndGetSize)(void* tag, uint64_t offset);
  uint64_t (*write)(void* tag, std::ostream& out);
  void* (*clone)(const void* tag);
  void (*destroy)(void* tag);
};
void SetId3TagOperations(const Id3TagOperations* ops);
const Id3TagOperations* GetId3TagOperations();

class ID3v2MetaBox : public FullBox<FCC("ID32")> {
 public:
  ID3v2MetaBox() = default;
  ID3v2MetaBox(const ID3v2MetaBox& o);
  ~ID3v2MetaBox() override;
  uint16_t language = 0;
  void* tag = nullptr;  // owned, through the installed operations
  ByteVector rawTag;    // the tag bytes when no operations are installed
  FILEUTIL_ACCEPT
};

class MetaDataSampleManagerHeaderBox : public FullBox<FCC("MTHD")> {
 public:
  uint32_t values[5] = {0, 0, 0, 0, 0};
  FILEUTIL_ACCEPT
};

struct MetaDataSampleTableEntry {
  uint32_t values[3];
  uint8_t stored[8];
};

class MetaDataSampleTableBox : public FullBox<FCC("MDST")> {
 public:
  uint32_t entryCount = 0;
  std::vector<MetaDataSampleTableEntry> entries;
  FILEUTIL_ACCEPT
};

struct MetaTypeDefinitionEntry {
  uint16_t entryLength;
  uint32_t id;
  uint8_t stored[2];
  uint16_t value;
  ByteVector data;
};

class MetaTypeDefinitionBox : public Box<FCC("MTDF")> {
 public:
  uint16_t entryCount = 0;
  std::vector<MetaTypeDefinitionEntry> entries;
  FILEUTIL_ACCEPT
};

struct MetaDataEntry {
  uint16_t entryLength;
  uint32_t id;
  uint16_t value1;
  uint16_t value2;
  ByteVector data;
};

class MetaDataBox : public Box<FCC("MTDT")> {
 public:
  uint16_t entryCount = 0;
  std::vector<MetaDataEntry> entries;
  FILEUTIL_ACCEPT
};

#undef FILEUTIL_ACCEPT

// Big-endian GUID form of the 'uuid' extended type.
void GuidFromBytes(const uint8_t bytes[16], GUID& out);
void GuidToBytes(const GUID& guid, uint8_t bytes[16]);

}  // namespace fileutil
