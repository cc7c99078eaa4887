// Writes the access units of a file's audio track into a new one-track MP4
// file built the way the plug-in's audio writer builds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boxes.h"

// What the one-track tree records of its audio track.
struct AudioTrackParams {
  uint16_t channelCount = 2;
  uint32_t sampleRate = 44100;
  uint8_t objectTypeIndication = 0x40;  // MPEG-4 audio
  uint8_t streamType = 0x05;            // audio stream
  uint32_t bufferSizeDB = 0;
  uint32_t maxBitrate = 0;
  uint32_t avgBitrate = 0;
  std::vector<uint8_t> decoderSpecificInfo;
};

// The one-track tree: 'ftyp', 'moov' (with 'iods' and one sound track whose
// 'esds' carries the decoder configuration; empty sample tables), a 'free' box
// and an empty 'mdat', ready for a fileutil::TrackWriter.
fileutil::BoxList* BuildAudioTrackTree(const AudioTrackParams& track);

int Remux(const std::wstring& input, const std::wstring& output);
