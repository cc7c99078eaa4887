// Helpers of the decoder tests: fixture paths (Unix paths become Z: paths
// under Wine), decoding a whole file through the decoder interface, reading
// ffmpeg's reference PCM, and the comparison measures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string fixturePath(const std::string& name);   // in the fixture folder's aacdec/
std::string sharedPath(const std::string& relative);  // in the shared folder
bool fileExists(const std::string& path);

struct DecodedFile {
  int32_t parseStatus = 0;  // mp4AudioDecParseAsc result
  bool opened = false;
  int channels = 0;
  int rate = 0;
  int frames = 0;
  int failures = 0;
  std::vector<float> pcm;  // interleaved, full scale 1.0
  std::vector<int32_t> channelTypes;
};

// Decodes every access unit of the file's AAC track; a failed unit gives a
// frame of silence and counts as a failure.
bool decodeFile(const std::string& path, DecodedFile* out, std::string* error);
std::vector<float> readF32(const std::string& path);

struct Comparison {
  double snrDb = 0;
  double maxAbs = 0;
  size_t compared = 0;
};
// Compares interleaved channel `c` of `ours` (n channels) with channel
// `refChannel` of `ref` (n channels).
Comparison compareChannel(const std::vector<float>& ours, const std::vector<float>& ref, int channels, int c,
                          int refChannel);

struct BandStats {
  double p99 = 0;
  double max = 0;
  size_t bands = 0;
};
// Band-energy differences (dB) in 2048-point Hann frames, 32 log-spaced bands
// up to the reference's bandwidth.
BandStats bandEnergyStats(const std::vector<float>& ours, const std::vector<float>& ref, int channels);
