// Writes the media data of one audio track into a stream behind a reserved
// header space while filling the track's sample tables (one sample per chunk);
// Finish sets the durations and the 'mdat' header so that the tree can then be
// sized and written into the reserved space.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "boxes.h"

namespace fileutil {

class ITrackWriter {
 public:
  // False when the stream did not take the access unit.
  virtual bool WriteSample(const std::vector<uint8_t>& accessUnit, uint32_t duration) = 0;

 protected:
  ~ITrackWriter() {}
};

class TrackWriter : public BoxVisitor, public ITrackWriter {
 public:
  TrackWriter(BoxList& boxes, std::ostream& out, uint64_t reservedSpace);
  // False when a required box is missing (nothing is written then) or the
  // reserved space could not be written.
  bool Init();
  bool WriteSample(const std::vector<uint8_t>& accessUnit, uint32_t duration) override;
  // The part of the media a player presents: `length` samples after the
  // first `priming` ones (the encoder's delay). Finish then gives the track an
  // edit list, and the movie and track durations become that length.
  void SetPresentation(uint64_t priming, uint64_t length);
  void Finish();
  uint64_t GetTotalDuration() const { return totalDuration_; }

  uint32_t Visit(TrakBox& box) override;
  uint32_t Visit(Mpeg4AudioSampleEntry& box) override;
  uint32_t Visit(ElementaryStreamDescriptorBox& box) override;
  uint32_t Visit(MediaHeaderBox& box) override;
  uint32_t Visit(TrackHeaderBox& box) override;
  uint32_t Visit(MovieHeaderBox& box) override;
  uint32_t Visit(TimeToSampleBox& box) override;
  uint32_t Visit(SampleToChunkBox& box) override;
  uint32_t Visit(ChunkOffsetBox& box) override;
  uint32_t Visit(ChunkLargeOffsetBox& box) override;
  uint32_t Visit(SampleSizeBox& box) override;
  uint32_t Visit(MediaDataBox& box) override;
  using BoxVisitor::Visit;

 private:
  std::ostream& out_;
  BoxList& boxes_;
  uint64_t writeOffset_;
  uint64_t totalDuration_ = 0;
  TrakBox* trak_ = nullptr;
  TimeToSampleBox* stts_ = nullptr;
  SampleToChunkBox* stsc_ = nullptr;
  ChunkOffsetBox* stco_ = nullptr;
  ChunkLargeOffsetBox* co64_ = nullptr;
  SampleSizeBox* stsz_ = nullptr;
  ElementaryStreamDescriptorBox* esds_ = nullptr;
  Mpeg4AudioSampleEntry* mp4a_ = nullptr;
  MediaDataBox* mdat_ = nullptr;
  IChunkOffsetBox* chunks_ = nullptr;
  MovieHeaderBox* mvhd_ = nullptr;
  TrackHeaderBox* tkhd_ = nullptr;
  MediaHeaderBox* mdhd_ = nullptr;
  bool presentation_ = false;
  uint64_t priming_ = 0;
  uint64_t length_ = 0;
};

}  // namespace fileutil
