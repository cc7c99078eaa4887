// The one-track MP4 audio file: builds its box tree (ftyp, moov with one
// sound track whose 'iods' and 'esds' the caller's track description fills,
// free, mdat) and writes a stream of access units into it: the units go into
// the media data behind a reserved header space, then the completed header
// boxes are rewritten into that space. Used by the plug-in's render road and
// by the native encoder tool, so both write the same file.
#pragma once

#include <cstdint>
#include <vector>

#include "boxes.h"
#include "descriptors.h"
#include "kvresult.h"

namespace fileutil {

// Bytes kept free in front of the media data for the header boxes.
const uint64_t kAudioFileReservedHeaderSpace = 102400;

// What the encoder tells the tree: the profile levels of the initial object
// descriptor and the decoder configuration of the elementary stream.
class IAudioTrackDescription {
 public:
  virtual HRESULT SetProfileLevels(ISetInitialObjectDescriptor* iod) = 0;
  virtual HRESULT FillDecoderConfig(ISetElementaryStreamInfo* es) = 0;

 protected:
  ~IAudioTrackDescription() {}
};

// The stream of access units. S_OK: `unit` holds the next unit (it may be
// empty) and more follow; S_FALSE: the end (a unit given with it is still
// written); a failure ends the write with that result.
class IAccessUnitSource {
 public:
  virtual HRESULT NextAccessUnit(std::vector<uint8_t>* unit, uint32_t* duration) = 0;
  // Asked once every unit is written: the samples a player presents, `length`
  // of them after the first `priming` (the encoder's delay). True gives the
  // track an edit list; false presents every sample.
  virtual bool GetPresentation(uint64_t* priming, uint64_t* length) {
    (void)priming;
    (void)length;
    return false;
  }

 protected:
  ~IAccessUnitSource() {}
};

// Appends the tree of a one-track audio file of `channels` at `sampleRate` Hz
// to `boxes` (which should be empty). `description` may be null (its
// descriptors then stay empty). E_FAIL when memory is short or the
// description failed; the caller deletes what was appended.
HRESULT BuildAudioFileTree(BoxList& boxes, uint16_t channels, uint32_t sampleRate,
                           IAudioTrackDescription* description);

// Whether the track's presentation is also written as the gapless comment.
enum class GaplessComment { kNone, kWrite };

// Creates the file at `path`, streams every unit of `source` into it and
// rewrites the completed header. When the source gives a presentation, the
// track gets an edit list, and with `comment` kWrite also the gapless comment.
// S_OK, the source's failure, KV_E_DISKFULL when the volume filled up, or
// E_FAIL when the tree lacks a required box, memory ran short or a byte did
// not reach the file.
HRESULT WriteAudioFile(const wchar_t* path, BoxList& boxes, IAccessUnitSource& source,
                       GaplessComment comment = GaplessComment::kNone);

}  // namespace fileutil
