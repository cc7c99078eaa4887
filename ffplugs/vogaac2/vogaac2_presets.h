// The AAC render presets: the 44-byte preset record that is stored as the codec
// block of every AAC render template (its layout is a file format), and the
// fifteen built-in presets in template-index order.
#pragma once

#include <windows.h>

#include <cstddef>

#pragma pack(push, 4)
struct AacPresetRecord {
  GUID guid;          // 0: template id (Windows byte order)
  DWORD sampleRate;   // 16: Hz
  DWORD bitRate;      // 20: bits per second
  DWORD objectType;   // 24: 2 AAC-LC, 5 HE-AAC, 29 HE-AAC v2
  DWORD channelMode;  // 28: 1 mono, 2 stereo, 64 parametric stereo
  DWORD codecParam1;  // 32: encoder settings, passed through
  DWORD codecParam2;  // 36
  DWORD codecParam3;  // 40
};
#pragma pack(pop)
static_assert(sizeof(AacPresetRecord) == 44, "the preset record is 44 bytes");
static_assert(offsetof(AacPresetRecord, channelMode) == 28, "layout");

constexpr int kAacPresetCount = 15;
constexpr DWORD kAacObjectTypeLc = 2;
constexpr DWORD kAacObjectTypeHe = 5;
constexpr DWORD kAacObjectTypeHeV2 = 29;
constexpr DWORD kAacChannelModeMono = 1;
constexpr DWORD kAacChannelModeStereo = 2;
constexpr DWORD kAacChannelModeParametric = 64;

// The preset table (read-only).
const AacPresetRecord& AacPreset(int index);

// Channels that the encoder takes for a channel mode: parametric stereo is
// encoded from a stereo input. 0 for an unknown mode.
WORD AacEncoderInputChannels(DWORD channelMode);
// Channels written into a template's formats for a channel mode (parametric
// stereo counts as 1 there). 0 for an unknown mode.
WORD AacTemplateChannels(DWORD channelMode);
// The output format tag of an object type (0xAAC0, 0xAAC1, 0xAAC2; 0 unknown).
WORD AacOutputFormatTag(DWORD objectType);
