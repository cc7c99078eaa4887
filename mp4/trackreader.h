// Sample-by-sample access to the audio track ('mp4a') of a box tree read with
// the box factory: sample number to byte range, media time to sample, and the
// decoder configuration. The tables are checked once by Init; a sample outside
// them is refused.
#pragma once

#include <cstdint>
#include <istream>
#include <vector>

#include "boxes.h"
#include "descriptors.h"

namespace esds {

// Finds the Decoder Config descriptor and its Decoder Specific Info.
class InitTrackReader : public IDescriptorVisitor {
 public:
  void Visit(ESIDIncDescriptor&) override {}
  void Visit(InitialObjectDescriptor&) override {}
  void Visit(SLConfigDescriptor&) override {}
  void Visit(DecoderSpecificInfo& d) override { decoderSpecificInfo = &d; }
  void Visit(DecoderConfigDescriptor& d) override;
  void Visit(ElementaryStreamDescriptor& d) override;
  void Visit(UnknownDescriptor&) override {}

  DecoderSpecificInfo* decoderSpecificInfo = nullptr;
  DecoderConfigDescriptor* decoderConfig = nullptr;
};

}  // namespace esds

namespace fileutil {

// A sample larger than this is refused (an AAC access unit is a few KiB).
const uint32_t kMaxSampleSize = 1u << 20;

// Collects the boxes of the first track that holds an 'mp4a' entry. Tables of
// other tracks are never mixed in.
class InitTrackReader : public BoxVisitor {
 public:
  uint32_t Visit(TrakBox& box) override;
  uint32_t Visit(Mpeg4AudioSampleEntry& box) override;
  uint32_t Visit(ElementaryStreamDescriptorBox& box) override;
  uint32_t Visit(MediaHeaderBox& box) override;
  uint32_t Visit(TimeToSampleBox& box) override;
  uint32_t Visit(SampleToChunkBox& box) override;
  uint32_t Visit(ChunkOffsetBox& box) override;
  uint32_t Visit(ChunkLargeOffsetBox& box) override;
  uint32_t Visit(SampleSizeBox& box) override;
  using BoxVisitor::Visit;

  TrakBox* trak = nullptr;
  TimeToSampleBox* stts = nullptr;
  SampleToChunkBox* stsc = nullptr;
  ChunkOffsetBox* stco = nullptr;
  ChunkLargeOffsetBox* co64 = nullptr;
  SampleSizeBox* stsz = nullptr;
  MediaHeaderBox* mdhd = nullptr;
  ElementaryStreamDescriptorBox* esds = nullptr;
  esds::DecoderSpecificInfo* decoderSpecificInfo = nullptr;
  esds::DecoderConfigDescriptor* decoderConfig = nullptr;
  Mpeg4AudioSampleEntry* mp4a = nullptr;

 private:
  void ResetTables();
};

class ITrackReader {
 public:
  virtual uint32_t GetSampleCount() = 0;
  // Makes sample n (1-based) current; false (and no current sample) when n is
  // outside 1..count or its chunk is not in the tables.
  virtual bool SeekSample(uint32_t n) = 0;
  virtual uint32_t GetCurrentSample() = 0;
  // False when there is no current sample or its bytes cannot be read whole.
  virtual bool ReadSample(std::vector<uint8_t>& out) = 0;

 protected:
  ~ITrackReader() {}
};

class TrackReader final : public ITrackReader {
 public:
  TrackReader(BoxList& boxes, std::istream& in);
  // False when no track holds an 'mp4a' entry, a table or the decoder
  // configuration is missing or broken, or no sample can be reached (a
  // fragmented file's tables are empty); the reader then offers no sample.
  // The samples offered are those every table lists (sizes, chunk runs over
  // the chunks that have offsets, durations) up to the first one whose bytes
  // are not wholly inside the source.
  bool Init();

  uint32_t GetSampleCount() override { return sampleCount_; }
  // Samples the tables list after the last one offered: those of a file cut
  // short (or pointing past its end).
  uint32_t GetMissingSampleCount() const { return missingCount_; }
  bool SeekSample(uint32_t n) override;
  uint32_t GetCurrentSample() override { return current_; }
  bool ReadSample(std::vector<uint8_t>& out) override;

  bool NextSample() { return SeekSample(current_ + 1); }
  bool SeekTime(uint64_t t, uint64_t& sampleStart, uint32_t& sampleDelta);
  uint64_t GetDuration() const;
  uint64_t GetAverageBitrate() const;
  const std::vector<uint8_t>& GetDecoderSpecificInfo() const;
  uint16_t GetChannelCount() const { return mp4a_ ? mp4a_->channelCount : 0; }
  uint16_t GetSampleSize() const { return mp4a_ ? mp4a_->sampleSize : 0; }
  uint32_t GetSampleRate() const { return mp4a_ ? mp4a_->GetIntegerSampleRate() : 0; }
  uint32_t GetTimescale() const { return mdhd_ ? mdhd_->timescale : 0; }
  uint32_t GetCurrentSampleSize() const { return currentSize_; }
  uint64_t GetCurrentSampleOffset() const { return currentOffset_; }

  bool FindChunkForSample(uint32_t s, uint32_t& chunk, uint32_t& descriptionIndex, uint32_t& firstSampleOfChunk) const;
  bool FindSampleForTime(uint64_t t, uint32_t& sample, uint64_t& sampleStart, uint32_t& sampleDelta) const;

 private:
  uint32_t SizeOf(uint32_t n) const;
  uint64_t CountListedSamples() const;
  uint32_t CountSamplesInSource(uint64_t listed) const;

  std::istream& in_;
  BoxList& boxes_;
  uint32_t current_ = 0;
  uint32_t currentSize_ = 0;
  uint64_t currentOffset_ = 0;
  uint32_t currentChunk_ = 0;
  uint32_t sampleCount_ = 0;
  uint32_t missingCount_ = 0;
  uint64_t sourceSize_ = 0;
  TrakBox* trak_ = nullptr;
  TimeToSampleBox* stts_ = nullptr;
  SampleToChunkBox* stsc_ = nullptr;
  ChunkOffsetBox* stco_ = nullptr;
  ChunkLargeOffsetBox* co64_ = nullptr;
  SampleSizeBox* stsz_ = nullptr;
  MediaHeaderBox* mdhd_ = nullptr;
  esds::DecoderSpecificInfo* dsi_ = nullptr;
  esds::DecoderConfigDescriptor* config_ = nullptr;
  Mpeg4AudioSampleEntry* mp4a_ = nullptr;
  IChunkOffsetBox* chunks_ = nullptr;
};

}  // namespace fileutil
