// The track reader.
#include "trackreader.h"

#include <algorithm>

namespace esds {

void InitTrackReader::Visit(DecoderConfigDescriptor& d) {
  if (d.decoderSpecificInfo) d.decoderSpecificInfo->Accept(*this);
  decoderConfig = &d;
}

void InitTrackReader::Visit(ElementaryStreamDescriptor& d) {
  for (Descriptor* child : d.children) child->Accept(*this);
}

}  // namespace esds

namespace fileutil {

void InitTrackReader::ResetTables() {
  stts = nullptr;
  stsc = nullptr;
  stco = nullptr;
  co64 = nullptr;
  stsz = nullptr;
  mdhd = nullptr;
  esds = nullptr;
  decoderSpecificInfo = nullptr;
  decoderConfig = nullptr;
}

// Tracks are walked until one holds an 'mp4a' entry; each track starts with
// no tables, so only the audio track's own tables are kept.
uint32_t InitTrackReader::Visit(TrakBox& box) {
  if (mp4a) return 0;
  trak = &box;
  ResetTables();
  VisitChildren(box.Children());
  if (!mp4a) {
    trak = nullptr;
    ResetTables();
  }
  return 0;
}

uint32_t InitTrackReader::Visit(Mpeg4AudioSampleEntry& box) {
  if (mp4a) return 0;  // the first audio entry of the track
  mp4a = &box;
  VisitChildren(box.Children());
  return 0;
}

uint32_t InitTrackReader::Visit(ElementaryStreamDescriptorBox& box) {
  if (esds) return 0;
  esds = &box;
  if (box.GetDescriptor()) {
    esds::InitTrackReader finder;
    box.GetDescriptor()->Accept(finder);
    decoderSpecificInfo = finder.decoderSpecificInfo;
    decoderConfig = finder.decoderConfig;
  }
  return 0;
}

uint32_t InitTrackReader::Visit(MediaHeaderBox& box) {
  mdhd = &box;
  return 0;
}
uint32_t InitTrackReader::Visit(TimeToSampleBox& box) {
  stts = &box;
  return 0;
}
uint32_t InitTrackReader::Visit(SampleToChunkBox& box) {
  stsc = &box;
  return 0;
}
uint32_t InitTrackReader::Visit(ChunkOffsetBox& box) {
  stco = &box;
  return 0;
}
uint32_t InitTrackReader::Visit(ChunkLargeOffsetBox& box) {
  co64 = &box;
  return 0;
}
uint32_t InitTrackReader::Visit(SampleSizeBox& box) {
  stsz = &box;
  return 0;
}

TrackReader::TrackReader(BoxList& boxes, std::istream& in) : in_(in), boxes_(boxes) {}

bool TrackReader::Init() {
  InitTrackReader collect;
  VisitBoxes(boxes_, collect);
  trak_ = collect.trak;
  stts_ = collect.stts;
  stsc_ = collect.stsc;
  stco_ = collect.stco;
  co64_ = collect.co64;
  stsz_ = collect.stsz;
  mdhd_ = collect.mdhd;
  dsi_ = collect.decoderSpecificInfo;
  config_ = collect.decoderConfig;
  mp4a_ = collect.mp4a;
  chunks_ = stco_ ? static_cast<IChunkOffsetBox*>(stco_) : static_cast<IChunkOffsetBox*>(co64_);
  current_ = 0;
  sampleCount_ = 0;
  missingCount_ = 0;
  if (!trak_ || !stts_ || !stsc_ || !chunks_ || !stsz_ || !mdhd_ || !dsi_ || !config_ || !mp4a_) return false;

  // The sample-to-chunk runs: first chunks strictly increasing from 1, at least
  // one sample per chunk, up to the first run past the chunks that exist.
  const uint32_t chunkCount = chunks_->GetChunkCount();
  const std::vector<SampleToChunkEntry>& runs = stsc_->entries;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].samplesPerChunk == 0 || runs[i].firstChunk == 0) return false;
    if (i == 0 && runs[i].firstChunk != 1) return false;
    if (i > 0 && runs[i].firstChunk <= runs[i - 1].firstChunk) return false;
    if (runs[i].firstChunk > chunkCount) break;
  }

  std::streampos here = in_.tellg();
  in_.clear();
  in_.seekg(0, std::ios_base::end);
  std::streamoff end = std::streamoff(in_.tellg());
  sourceSize_ = end > 0 ? uint64_t(end) : 0;
  in_.clear();
  if (here != std::streampos(-1)) in_.seekg(here);

  const uint64_t listed = CountListedSamples();
  sampleCount_ = CountSamplesInSource(listed);
  missingCount_ = uint32_t(listed - sampleCount_);
  // A track none of whose samples can be reached is refused rather than
  // offered as an empty stream: a fragmented file keeps its samples in 'moof'
  // boxes and leaves these tables empty.
  return sampleCount_ != 0;
}

// The samples every table agrees on: the sizes table's count (and its entries),
// the samples the chunk runs give the chunks that have offsets, and the
// samples the time table gives durations. Never more than 2^32 - 1.
uint64_t TrackReader::CountListedSamples() const {
  uint64_t count = stsz_->sampleCount;
  if (stsz_->sampleSize == 0 && stsz_->sizes.size() < count) count = stsz_->sizes.size();

  const uint32_t chunkCount = chunks_->GetChunkCount();
  const std::vector<SampleToChunkEntry>& runs = stsc_->entries;
  uint64_t mapped = 0;
  for (size_t i = 0; i < runs.size() && runs[i].firstChunk <= chunkCount; ++i) {
    uint64_t last = (i + 1 < runs.size() && runs[i + 1].firstChunk - 1 < chunkCount) ? runs[i + 1].firstChunk - 1
                                                                                     : chunkCount;
    mapped += (last - runs[i].firstChunk + 1) * uint64_t(runs[i].samplesPerChunk);
  }
  if (mapped < count) count = mapped;

  uint64_t timed = 0;
  for (const TimeToSampleEntry& e : stts_->entries) timed += e.sampleCount;
  if (timed < count) count = timed;
  return count;
}

// Of the first `listed` samples, those before the first one whose bytes do not
// lie wholly inside the source. The samples of a track are distinct byte
// ranges, so together they cannot hold more bytes than the source either. The
// walk goes chunk by chunk: a run of equal-sized samples costs one step per
// chunk, not one per sample.
uint32_t TrackReader::CountSamplesInSource(uint64_t listed) const {
  const uint32_t chunkCount = chunks_->GetChunkCount();
  const std::vector<SampleToChunkEntry>& runs = stsc_->entries;
  const uint32_t fixedSize = stsz_->sampleSize;
  uint64_t counted = 0, bytes = 0;
  for (size_t i = 0; i < runs.size() && runs[i].firstChunk <= chunkCount && counted < listed; ++i) {
    const uint64_t last = i + 1 < runs.size() ? uint64_t(runs[i + 1].firstChunk) - 1 : chunkCount;
    for (uint64_t c = runs[i].firstChunk; c <= last && c <= chunkCount && counted < listed; ++c) {
      const uint64_t inChunk = std::min<uint64_t>(runs[i].samplesPerChunk, listed - counted);
      const uint64_t offset = chunks_->GetChunkOffset(uint32_t(c - 1));
      if (offset > sourceSize_) return uint32_t(counted);
      const uint64_t room = std::min(sourceSize_ - offset, sourceSize_ - bytes);
      if (fixedSize) {
        const uint64_t fit = std::min<uint64_t>(inChunk, room / fixedSize);
        counted += fit;
        bytes += fit * fixedSize;
        if (fit < inChunk) return uint32_t(counted);
        continue;
      }
      uint64_t used = 0;
      for (uint64_t k = 0; k < inChunk; ++k) {
        const uint32_t size = stsz_->sizes[size_t(counted)];
        if (size > room - used) return uint32_t(counted);
        used += size;
        ++counted;
      }
      bytes += used;
    }
  }
  return uint32_t(counted);
}

uint32_t TrackReader::SizeOf(uint32_t n) const {
  return stsz_->sampleSize ? stsz_->sampleSize : stsz_->sizes[n - 1];
}

bool TrackReader::FindChunkForSample(uint32_t s, uint32_t& chunk, uint32_t& descriptionIndex,
                                     uint32_t& firstSampleOfChunk) const {
  if (!stsc_ || stsc_->entries.empty() || s == 0) return false;
  const std::vector<SampleToChunkEntry>& runs = stsc_->entries;
  uint64_t runFirstSample = 1;
  size_t i = 0;
  for (; i + 1 < runs.size(); ++i) {
    if (runs[i + 1].firstChunk <= runs[i].firstChunk || runs[i].samplesPerChunk == 0) return false;
    uint64_t next = uint64_t(runs[i + 1].firstChunk - runs[i].firstChunk) * runs[i].samplesPerChunk + runFirstSample;
    if (s < next) break;
    runFirstSample = next;
  }
  const SampleToChunkEntry& run = runs[i];
  if (run.samplesPerChunk == 0) return false;
  uint64_t c = (s - runFirstSample) / run.samplesPerChunk + run.firstChunk;
  if (c > UINT32_MAX) return false;
  chunk = uint32_t(c);
  descriptionIndex = run.sampleDescriptionIndex;
  firstSampleOfChunk = uint32_t((c - run.firstChunk) * run.samplesPerChunk + runFirstSample);
  return true;
}

bool TrackReader::SeekSample(uint32_t n) {
  const uint32_t previous = current_, previousSize = currentSize_, previousChunk = currentChunk_;
  const uint64_t previousOffset = currentOffset_;
  current_ = 0;
  currentSize_ = 0;
  if (n == 0 || n > sampleCount_ || !chunks_) return false;
  uint32_t chunk = 0, index = 0, first = 0;
  if (!FindChunkForSample(n, chunk, index, first)) return false;
  if (chunk == 0 || chunk > chunks_->GetChunkCount()) return false;
  uint64_t inChunk = 0;
  if (stsz_->sampleSize) {
    inChunk = uint64_t(n - first) * stsz_->sampleSize;
  } else if (previous != 0 && n == previous + 1 && chunk == previousChunk) {
    // The next sample of the same chunk follows the previous one.
    inChunk = previousOffset + previousSize - chunks_->GetChunkOffset(chunk - 1);
  } else {
    for (uint32_t k = first; k < n; ++k) inChunk += stsz_->sizes[k - 1];
  }
  current_ = n;
  currentChunk_ = chunk;
  currentSize_ = SizeOf(n);
  currentOffset_ = chunks_->GetChunkOffset(chunk - 1) + inChunk;
  return true;
}

bool TrackReader::ReadSample(std::vector<uint8_t>& out) {
  out.clear();
  if (current_ == 0 || currentSize_ > kMaxSampleSize) return false;
  if (currentOffset_ > sourceSize_ || currentSize_ > sourceSize_ - currentOffset_) return false;
  if (currentSize_ == 0) return true;
  out.resize(currentSize_);
  in_.clear();
  in_.seekg(std::streamoff(currentOffset_), std::ios_base::beg);
  in_.read(reinterpret_cast<char*>(out.data()), std::streamsize(currentSize_));
  if (uint64_t(in_.gcount()) != currentSize_) {
    out.clear();
    return false;
  }
  return true;
}

bool TrackReader::FindSampleForTime(uint64_t t, uint32_t& sample, uint64_t& sampleStart, uint32_t& sampleDelta) const {
  if (!stts_) return false;
  uint64_t start = 0, firstSample = 1;
  for (const TimeToSampleEntry& e : stts_->entries) {
    uint64_t end = start + uint64_t(e.sampleCount) * e.sampleDelta;
    if (end > t) {
      uint64_t k = (t - start) / e.sampleDelta;
      if (firstSample + k > UINT32_MAX) return false;
      sample = uint32_t(firstSample + k);
      sampleStart = start + k * e.sampleDelta;
      sampleDelta = e.sampleDelta;
      return true;
    }
    start = end;
    firstSample += e.sampleCount;
  }
  return false;
}

bool TrackReader::SeekTime(uint64_t t, uint64_t& sampleStart, uint32_t& sampleDelta) {
  current_ = 0;
  uint32_t sample = 0;
  if (!FindSampleForTime(t, sample, sampleStart, sampleDelta)) return false;
  return SeekSample(sample);
}

uint64_t TrackReader::GetDuration() const { return stts_ ? stts_->GetTotalDuration() : 0; }

uint64_t TrackReader::GetAverageBitrate() const { return config_ ? config_->avgBitrate : 0; }

const std::vector<uint8_t>& TrackReader::GetDecoderSpecificInfo() const {
  static const std::vector<uint8_t> kEmpty;
  return dsi_ ? dsi_->bytes : kEmpty;
}

}  // namespace fileutil
