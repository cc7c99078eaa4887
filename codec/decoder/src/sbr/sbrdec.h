// SBR and PS wrapper of the AAC decoder: collects the SBR payloads of one
// decoded frame, runs one SBR decoder per audio element (parametric stereo for
// a mono stream) and writes the band-extended PCM back at the output rate.
#pragma once

#include <cstdint>

// Ancillary entry written by the core for a fill-element extension payload.
// Types 8/9: SBR after a single-channel/channel-pair element; 10/11: the same with CRC.
struct SbrAncillary {
  int type = 0;
  const uint8_t* data = nullptr;
  int size = 0;
};

// The decoded frame as the wrapper sees the composition-unit buffer.
struct SbrCuFrame {
  float* samples = nullptr;     // interleaved core output; receives the SBR output
  int capacity = 0;             // floats available in samples
  int channels = 0;             // stream channels (interleave stride of the core output)
  int samplesPerChannel = 0;    // core frame length on input
  const SbrAncillary* anc = nullptr;
  int numAnc = 0;
  // Properties written by sbrDecApply (10001, 10002, 10003, 10004, 10005).
  int outChannels = 0;
  int outSamplesPerChannel = 0;
  int outSampleRate = 0;
  int sbrApplied = 0;
  int psApplied = 0;
};

// The parts of the decoder's layer record that the wrapper reads and completes.
struct SbrLayerInfo {
  int objectType = 2;        // core object type; 556 selects core-only PS off
  int coreSampleRate = 0;
  int frameLength = 1024;
  int channelConfig = 0;
  int channels = 0;
  int sbrPresent = -1;       // -1 not signalled, 0 absent, 1 present
  int extSampleRate = 0;
  int extObjectType = 0;
};

struct SbrWrapper;

// Result codes: 0 on success, the SBR library's own failure codes (positive)
// as it returns them, and the wrapper's own failures below. They are a range
// of their own, apart from the decoder interface's codes; the interface
// translates them into its table.
constexpr int SBRDEC_ERR_MODE = -201;        // an element is neither mono nor stereo
constexpr int SBRDEC_ERR_CU_SIZE = -202;     // the output does not fit the CU buffer
constexpr int SBRDEC_ERR_NO_SAMPLES = -203;  // the frame has no sample buffer
constexpr int SBRDEC_ERR_CONFIG = -204;      // channel configuration without a layout, or work area too small
constexpr int SBRDEC_ERR_CHANNELS = -205;    // channel count the layout cannot carry
constexpr int SBRDEC_ERR_MEMORY = -206;

int sbrDecOpen(SbrWrapper** out, const SbrLayerInfo* layer);
int sbrDecReconfigure(SbrWrapper* w, const SbrLayerInfo* layer, int lowPower);
int sbrDecApply(SbrWrapper* w, SbrCuFrame* cu, SbrLayerInfo* layer);
int sbrDecSetElementModes(SbrWrapper* w, const SbrLayerInfo* layer);
int sbrDecReset(SbrWrapper* w);
void sbrDecClose(SbrWrapper** w);
void sbrDecSetPsEnable(SbrWrapper* w, int enable);
int sbrDecGetPsEnable(const SbrWrapper* w);
