// The track writer.
#include "trackwriter.h"

#include <new>

namespace fileutil {

TrackWriter::TrackWriter(BoxList& boxes, std::ostream& out, uint64_t reservedSpace)
    : out_(out), boxes_(boxes), writeOffset_(reservedSpace) {}

uint32_t TrackWriter::Visit(TrakBox& box) {
  if (!trak_) trak_ = &box;
  VisitChildren(box.Children());
  return 0;
}
uint32_t TrackWriter::Visit(Mpeg4AudioSampleEntry& box) {
  if (!mp4a_) mp4a_ = &box;
  VisitChildren(box.Children());
  return 0;
}
uint32_t TrackWriter::Visit(ElementaryStreamDescriptorBox& box) {
  if (!esds_) esds_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(MediaHeaderBox& box) {
  mdhd_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(TrackHeaderBox& box) {
  tkhd_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(MovieHeaderBox& box) {
  mvhd_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(TimeToSampleBox& box) {
  stts_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(SampleToChunkBox& box) {
  stsc_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(ChunkOffsetBox& box) {
  stco_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(ChunkLargeOffsetBox& box) {
  co64_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(SampleSizeBox& box) {
  stsz_ = &box;
  return 0;
}
uint32_t TrackWriter::Visit(MediaDataBox& box) {
  mdat_ = &box;
  return 0;
}

bool TrackWriter::Init() {
  totalDuration_ = 0;
  VisitBoxes(boxes_, *this);
  chunks_ = stco_ ? static_cast<IChunkOffsetBox*>(stco_) : static_cast<IChunkOffsetBox*>(co64_);
  if (!trak_ || !stts_ || !stsc_ || !chunks_ || !stsz_ || !mp4a_ || !mdat_ || !mvhd_) return false;
  stsc_->entries.push_back(SampleToChunkEntry{1, 1, 1});
  ++stsc_->entryCount;
  static const char zeros[4096] = {0};
  for (uint64_t left = writeOffset_; left > 0;) {
    uint64_t step = left < sizeof(zeros) ? left : sizeof(zeros);
    out_.write(zeros, std::streamsize(step));
    left -= step;
  }
  mdat_->payloadOffset = writeOffset_;
  return bool(out_);
}

bool TrackWriter::WriteSample(const std::vector<uint8_t>& accessUnit, uint32_t duration) {
  if (!chunks_) return false;
  totalDuration_ += duration;
  if (!accessUnit.empty()) out_.write(reinterpret_cast<const char*>(accessUnit.data()), std::streamsize(accessUnit.size()));
  if (!stts_->entries.empty() && stts_->entries.back().sampleDelta == duration) {
    ++stts_->entries.back().sampleCount;
  } else {
    stts_->entries.push_back(TimeToSampleEntry{1, duration});
    ++stts_->entryCount;
  }
  stsz_->sizes.push_back(uint32_t(accessUnit.size()));
  ++stsz_->sampleCount;
  mdat_->payloadLength += accessUnit.size();
  chunks_->AddChunkOffset(writeOffset_);
  writeOffset_ += accessUnit.size();
  return bool(out_);
}

void TrackWriter::SetPresentation(uint64_t priming, uint64_t length) {
  presentation_ = true;
  priming_ = priming;
  length_ = length;
}

namespace {

// The track's edit list ('edts' with one 'elst'), placed after its header box;
// an earlier one is replaced.
bool PutEditList(TrakBox& trak, const EditListEntry& entry) {
  BoxList& children = trak.Children();
  for (auto it = children.begin(); it != children.end();) {
    if ((*it)->GetType() == FourCC(FCC("edts"))) {
      delete *it;
      it = children.erase(it);
    } else {
      ++it;
    }
  }
  EdtsBox* edts = new (std::nothrow) EdtsBox();
  EditListBox* elst = new (std::nothrow) EditListBox();
  if (!edts || !elst) {
    delete edts;
    delete elst;
    return false;
  }
  elst->entries.push_back(entry);
  elst->entryCount = 1;
  edts->AddChild(elst);
  auto at = children.begin();
  if (at != children.end() && (*at)->GetType() == FourCC(FCC("tkhd"))) ++at;
  children.insert(at, edts);
  return true;
}

}  // namespace

void TrackWriter::Finish() {
  if (!mdat_) return;
  uint32_t header = (mdat_->payloadLength + 8 > 0xFFFFFFFFull) ? 16 : 8;
  mdat_->SetOffset(mdat_->payloadOffset - header);
  mdat_->SetWriteOffset(mdat_->payloadOffset - header);
  mdat_->SetHeaderSize(header);
  mdat_->SetSize(mdat_->payloadLength + header);
  mdat_->SetWriteSize(mdat_->payloadLength + header);
  uint32_t rate = mp4a_ ? mp4a_->GetIntegerSampleRate() : 0;
  // Movie and track durations at timescale 600; without a rate they stay 0.
  uint32_t movieTimescale = 600;
  uint64_t movieDuration = rate ? totalDuration_ * 600 / rate : 0;
  if (presentation_ && rate && trak_ && priming_ < totalDuration_) {
    // The presentation skips the priming samples and ends with the source. The
    // movie counts in samples so that the edit is exact to the sample.
    const uint64_t length = priming_ + length_ > totalDuration_ ? totalDuration_ - priming_ : length_;
    const EditListEntry entry{length, int64_t(priming_), 1, 0};
    if (PutEditList(*trak_, entry)) {
      movieTimescale = rate;
      movieDuration = length;
    }
  }
  if (mvhd_) {
    mvhd_->timescale = movieTimescale;
    mvhd_->duration = uint32_t(movieDuration);
  }
  if (tkhd_) {
    tkhd_->duration = uint32_t(movieDuration);
    tkhd_->trackId = 1;
  }
  if (mdhd_) {
    mdhd_->timescale = rate;
    mdhd_->duration = totalDuration_;
    // A duration past 32 bits (27 hours at 44.1 kHz) takes the 64-bit layout.
    if (totalDuration_ > 0xFFFFFFFFull) mdhd_->versionAndFlags = (1u << 24) | (mdhd_->versionAndFlags & 0xFFFFFFu);
  }
}

}  // namespace fileutil
