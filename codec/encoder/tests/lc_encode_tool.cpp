// A small command-line front end of the AAC-LC encoder for the quality and
// speed comparisons with other encoders: reads a WAV file (16-bit PCM or
// 32-bit float), encodes it through the encoder interface at a bitrate and
// writes the access units as an ADTS stream, which any decoder reads without
// a container. Prints the encoder's delay, bandwidth and the unit count.
//
// Usage: lc_encode_tool IN.wav OUT.aac BITRATE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mp4enc.h"

namespace {

struct Wav {
  int32_t rate = 0;
  int32_t channels = 0;
  std::vector<float> samples;  // interleaved, full scale +-1.0
};

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool readWav(const char* path, Wav* w) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<uint8_t> d;
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
  std::fclose(f);
  if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) || std::memcmp(d.data() + 8, "WAVE", 4)) return false;
  int32_t format = 0, bits = 0;
  size_t pos = 12;
  while (pos + 8 <= d.size()) {
    const uint32_t size = le32(&d[pos + 4]);
    const size_t body = pos + 8;
    const size_t avail = std::min<size_t>(size, d.size() - body);
    if (!std::memcmp(&d[pos], "fmt ", 4) && avail >= 16) {
      format = le16(&d[body]);
      w->channels = le16(&d[body + 2]);
      w->rate = static_cast<int32_t>(le32(&d[body + 4]));
      bits = le16(&d[body + 14]);
      if (format == 0xfffe && avail >= 26) format = le16(&d[body + 24]);
    } else if (!std::memcmp(&d[pos], "data", 4)) {
      if (format == 1 && bits == 16) {
        w->samples.resize(avail / 2);
        for (size_t i = 0; i < w->samples.size(); ++i)
          w->samples[i] = static_cast<int16_t>(le16(&d[body + 2 * i])) / 32768.0f;
      } else if (format == 3 && bits == 32) {
        w->samples.resize(avail / 4);
        std::memcpy(w->samples.data(), &d[body], w->samples.size() * 4);
      } else {
        return false;
      }
      return w->channels > 0;
    }
    pos = body + size + (size & 1);
  }
  return false;
}

int32_t rateIndex(int32_t rate) {
  static const int32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
  for (int32_t i = 0; i < 12; ++i)
    if (kRates[i] == rate) return i;
  return -1;
}

void writeAdts(FILE* f, const uint8_t* unit, int32_t bytes, int32_t index, int32_t channels) {
  const int32_t length = bytes + 7;
  const uint8_t h[7] = {0xff, 0xf1, static_cast<uint8_t>((1 << 6) | (index << 2) | (channels >> 2)),
                        static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
                        static_cast<uint8_t>((length >> 3) & 0xff), static_cast<uint8_t>(((length & 7) << 5) | 0x1f),
                        0xfc};
  std::fwrite(h, 1, 7, f);
  std::fwrite(unit, 1, static_cast<size_t>(bytes), f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IN.wav OUT.aac BITRATE\n", argv[0]);
    return 2;
  }
  Wav wav;
  if (!readWav(argv[1], &wav) || (wav.channels != 1 && wav.channels != 2) || rateIndex(wav.rate) < 0) {
    std::fprintf(stderr, "cannot read %s (16-bit or float WAV, mono or stereo, a standard rate)\n", argv[1]);
    return 1;
  }
  mp4EncConfig cfg;
  std::memset(&cfg, 0, sizeof cfg);
  cfg.objectType = 2;
  cfg.bitRate = std::atoi(argv[3]);
  cfg.channelMode = wav.channels;
  cfg.sampleRate = wav.rate;
  mp4EncHandle h = nullptr;
  int32_t frameSamples = 0;
  if (mp4EncOpen(&h, &cfg) || mp4EncInit(&h, &frameSamples)) {
    std::fprintf(stderr, "the encoder refuses %d bit/s at %d Hz, %d channels\n", cfg.bitRate, wav.rate, wav.channels);
    mp4EncClose(&h);
    return 1;
  }
  mp4EncInfo info;
  mp4EncGetInfo(h, &info);
  if (info.sampleRate != wav.rate) {
    std::fprintf(stderr, "the encoder would convert %d Hz to %d Hz\n", wav.rate, info.sampleRate);
    mp4EncClose(&h);
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  const int32_t index = rateIndex(info.sampleRate);
  std::vector<uint8_t> buffer(static_cast<size_t>(kMp4EncMaxUnits) * 6144 / 8 * wav.channels);
  int64_t units = 0, total = 0;
  auto take = [&](int32_t bytes, const mp4EncUnits* u) {
    int32_t pos = 0;
    for (int32_t k = 0; k < u->count; ++k) {
      writeAdts(out, buffer.data() + pos, u->sizes[k], index, wav.channels);
      pos += u->sizes[k];
      ++units;
    }
    total += bytes;
  };
  size_t pos = 0;
  int status = 0;
  while (pos < wav.samples.size() && !status) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(wav.samples.size() - pos, 64 * 1024));
    int32_t consumed = 0, next = 0, bytes = 0;
    mp4EncUnits* u = nullptr;
    status = mp4EncEncode(h, wav.samples.data() + pos, n, &consumed, &next, buffer.data(),
                          static_cast<int32_t>(buffer.size()), &bytes, &u);
    if (!status) take(bytes, u);
    pos += static_cast<size_t>(consumed);
    if (consumed == 0 && !status) break;
  }
  for (int guard = 0; guard < 100 && !status; ++guard) {
    int32_t consumed = 0, next = 0, bytes = 0;
    mp4EncUnits* u = nullptr;
    status = mp4EncEncode(h, nullptr, 0, &consumed, &next, buffer.data(), static_cast<int32_t>(buffer.size()), &bytes,
                          &u);
    if (status || u->count == 0) break;
    take(bytes, u);
  }
  mp4EncClose(&h);
  std::fclose(out);
  if (status) {
    std::fprintf(stderr, "encoding failed (%d)\n", status);
    return 1;
  }
  std::printf("delay %d bandwidth %.0f units %lld bytes %lld\n", info.totalDelay, info.bandwidth,
              static_cast<long long>(units), static_cast<long long>(total));
  return 0;
}
