// aacenc: encodes a WAV file with the project's AAC encoder at the settings of
// one of the render presets (or the options below) and writes an MP4 file
// through the same writer as the plug-in's render road, or a bare AAC stream.
//   aacenc IN.wav OUT [options]          encodes; OUT ending in .aac gets an
//                                        ADTS stream, any other name an MP4 file
//   aacenc --bench IN.wav [options]      encodes to nothing and prints audio
//                                        seconds, CPU time and x real time
// Options:
//   --preset N     a render preset's settings, N = 0-14 (default 4: AAC-LC
//                  128 kbit/s); the options below override them
//   --aot T        object type (2 AAC-LC, 5 HE-AAC, 29 HE-AAC v2, 129 AAC-LC
//                  without temporal noise shaping, ...)
//   --bitrate B    bit/s of the whole stream
//   --channels N   channels coded: 1-6 or 8 (6 is 5.1, 8 is 7.1 with the
//                  low-frequency channel); a WAV of 6 or 8 channels is read in
//                  the WAV order (L R C LFE, then the surrounds)
//   --mode M       an encoder channel mode instead (e.g. 16-24: all single
//                  channel or all pair elements, up to 12 channels)
//   --rate R       the rate asked for; the source must be at R (status 2
//                  otherwise). The encoder codes at the source's rate when
//                  the bitrate's rate range holds it, else it converts the
//                  source to the range's nearest standard rate
//   --adif         a .aac stream with one ADIF header instead of ADTS
//   --crc          ADTS headers with their CRC word
// The input is 16-bit PCM or 32-bit float WAV of 1 to 12 channels, with a
// plain or an extensible format chunk. A mono source feeds every
// channel of a multichannel setting and a multichannel source is mixed down
// for a mono one.
// Exit status: 0 written, 1 usage, 2 input refused, 3 encoder or write failure.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <ctime>
#include <string>
#include <vector>

#include "audiofilewriter.h"
#include "factories.h"
#include "mp4enc.h"
#include "mp4encunits.h"
#include "textencoding.h"
#include "toolmain.h"

namespace {

// The encoder settings of the fifteen render presets, in template order: the
// values the plug-in's preset table hands its compressor.
struct PresetSettings {
  int32_t sampleRate, bitRate, objectType, channelMode, quality, erOption, sbrSignalling;
};

// How the stream leaves the encoder.
struct Output {
  int32_t transport = 0;  // 0 MP4 access units, 1 ADIF, 2 ADTS
  int32_t crc = 0;
  int32_t rate = 0;       // the rate asked for; 0: the source's
};

// WAV channel order (L R C LFE, surrounds) to the stream's element order
// (C, L R, pairs front to back, LFE) for 5.1 and 7.1.
const int32_t kWavOrder6[6] = {2, 0, 1, 4, 5, 3};
const int32_t kWavOrder8[8] = {2, 0, 1, 6, 7, 4, 5, 3};
const PresetSettings kPresets[] = {
    {44100, 128000, 2, 2, 1, 0, 1}, {44100, 256000, 2, 2, 1, 0, 1}, {44100, 192000, 2, 2, 1, 0, 1},
    {44100, 160000, 2, 2, 1, 0, 1}, {44100, 128000, 2, 2, 1, 0, 1}, {44100, 96000, 2, 2, 1, 0, 1},
    {32000, 64000, 2, 2, 1, 0, 1},  {22050, 32000, 2, 2, 1, 0, 1},  {32000, 32000, 2, 1, 1, 0, 1},
    {44100, 96000, 5, 2, 1, 0, 1},  {44100, 64000, 5, 2, 1, 0, 1},  {44100, 48000, 5, 2, 1, 0, 1},
    {44100, 48000, 29, 64, 1, 0, 1}, {44100, 32000, 29, 64, 1, 0, 1}, {44100, 32000, 5, 2, 1, 0, 1},
};
const int kPresetCount = int(sizeof kPresets / sizeof kPresets[0]);

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

struct Wav {
  int channels = 0;
  int rate = 0;
  std::vector<float> samples;  // interleaved, full scale 1.0
};

bool readFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
#ifdef _WIN32
  FILE* f = _wfopen(path.c_str(), L"rb");
#else
  std::string p;
  fileutil::WideToUtf8(path, p);
  FILE* f = std::fopen(p.c_str(), "rb");
#endif
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

// The most channels an encoder channel mode takes (modes 20 and 24: twelve
// single-channel or six pair elements).
const int kMaxWavChannels = 12;

// 16-bit PCM or 32-bit float, plain or extensible format chunk (the
// extensible one names the sample format in its subformat GUID, whose first
// two bytes are the plain format tag).
const char* parseWav(const std::vector<uint8_t>& d, Wav& w) {
  if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) || std::memcmp(d.data() + 8, "WAVE", 4)) return "not a WAV file";
  int format = 0, bits = 0;
  size_t pos = 12;
  while (pos + 8 <= d.size()) {
    const uint32_t size = le32(&d[pos + 4]);
    const size_t body = pos + 8;
    const size_t avail = d.size() - body;
    if (!std::memcmp(&d[pos], "fmt ", 4)) {
      if (size < 16 || avail < 16) return "short format chunk";
      format = int(le16(&d[body]));
      w.channels = int(le16(&d[body + 2]));
      w.rate = int(le32(&d[body + 4]));
      bits = int(le16(&d[body + 14]));
      if (format == 0xFFFE && size >= 40 && avail >= 40) format = int(le16(&d[body + 24]));
    } else if (!std::memcmp(&d[pos], "data", 4)) {
      if (w.channels < 1 || w.channels > kMaxWavChannels || w.rate <= 0) return "no usable format chunk before the data";
      const size_t bytes = std::min<size_t>(size, avail);
      if (format == 1 && bits == 16) {
        const size_t n = bytes / 2 / w.channels * w.channels;
        w.samples.resize(n);
        for (size_t i = 0; i < n; ++i) w.samples[i] = float(int16_t(le16(&d[body + 2 * i]))) / 32768.0f;
      } else if (format == 3 && bits == 32) {
        const size_t n = bytes / 4 / w.channels * w.channels;
        w.samples.resize(n);
        std::memcpy(w.samples.data(), &d[body], n * 4);
      } else {
        return "only 16-bit PCM and 32-bit float WAV are read";
      }
      return nullptr;
    }
    pos = body + size + (size & 1);
  }
  return "no data chunk";
}

// The encoder of one preset, as the file writer sees it.
class Encoder : public fileutil::IAudioTrackDescription, public fileutil::IAccessUnitSource {
 public:
  ~Encoder() { mp4EncClose(&enc_); }

  const char* Open(const PresetSettings& p, const Output& o, const Wav& wav) {
    mp4EncConfig c;
    std::memset(&c, 0, sizeof c);
    c.objectType = p.objectType;
    objectType_ = p.objectType;
    c.bitRate = p.bitRate;
    c.qualityMode = p.quality;
    c.channelMode = p.channelMode;
    c.sampleRate = wav.rate;
    c.erOption = p.erOption;
    c.sbrSignalling = p.sbrSignalling;
    channels_ = mp4EncChannelCount(p.channelMode);
    if (channels_ == 0) return "unknown channel mode";
    if (o.rate != 0 && o.rate != wav.rate) return "the source is not at the rate asked for";
    int32_t block = 0;
    int r = mp4EncOpen(&enc_, &c);
    if (r == kMp4EncOk) r = mp4EncSetTransport(enc_, o.transport, o.crc);
    if (r == kMp4EncOk && wav.channels == channels_ && (channels_ == 6 || channels_ == 8) && p.channelMode < 16)
      r = mp4EncSetChannelOrder(enc_, channels_, channels_ == 6 ? kWavOrder6 : kWavOrder8);
    if (r == kMp4EncOk) r = mp4EncInit(&enc_, &block);
    if (r == kMp4EncOk) r = mp4EncGetInfo(enc_, &info_);
    if (r != kMp4EncOk || block <= 0 || block % channels_ != 0) {
      error_ = std::string("the encoder refused the settings: ") + mp4EncGetErrorText(r);
      return error_.c_str();
    }
    block_ = block;
    inputRate_ = wav.rate;
    // The source in the encoder's channel count.
    const size_t frames = wav.samples.size() / wav.channels;
    input_.resize(frames * channels_);
    for (size_t i = 0; i < frames; ++i) {
      const float* s = &wav.samples[i * wav.channels];
      if (channels_ == 1 || (wav.channels > channels_ && wav.channels != 2)) {
        float sum = 0;
        for (int k = 0; k < wav.channels; ++k) sum += s[k];
        for (int k = 0; k < channels_; ++k) input_[i * channels_ + k] = sum / float(wav.channels);
      } else {
        for (int k = 0; k < channels_; ++k) input_[i * channels_ + k] = s[wav.channels == 1 ? 0 : k % wav.channels];
      }
    }
    return nullptr;
  }

  int Channels() const { return channels_; }
  uint32_t Rate() const { return uint32_t(info_.sampleRate); }
  size_t SourceFrames() const { return input_.size() / channels_; }

  HRESULT SetProfileLevels(fileutil::ISetInitialObjectDescriptor* iod) override {
    iod->Set(0xFF, 0xFF, uint8_t(info_.profileLevel), 0xFF, 0xFF);
    return S_OK;
  }
  HRESULT FillDecoderConfig(fileutil::ISetElementaryStreamInfo* es) override {
    std::vector<uint8_t> asc(info_.asc->data, info_.asc->data + (info_.asc->bits + 7) / 8);
    const uint32_t bufferBytes = uint32_t(info_.maxBitsPerFrame + 7) / 8;
    return es->Set(0x40, 5, bufferBytes, uint32_t(info_.maxBitRate), uint32_t(info_.bitRate), 0, asc) ? S_OK
                                                                                                      : E_OUTOFMEMORY;
  }

  // One access unit a call: the source in blocks, then the flushed delay.
  HRESULT NextAccessUnit(std::vector<uint8_t>* unit, uint32_t* duration) override {
    unit->clear();
    *duration = 0;
    while (pending_.empty()) {
      if (ended_) return S_FALSE;
      int32_t consumed = 0, next = 0, bytes = 0;
      mp4EncUnits* units = nullptr;
      buffer_.resize(8000);
      int r;
      if (pos_ < input_.size()) {
        const int32_t n = int32_t(std::min<size_t>(block_, input_.size() - pos_));
        r = mp4EncEncode(enc_, &input_[pos_], n, &consumed, &next, buffer_.data(), int32_t(buffer_.size()), &bytes,
                         &units);
        if (r == kMp4EncOk && consumed != n) r = kMp4EncFatal;
        pos_ += size_t(consumed);
      } else {
        r = mp4EncEncode(enc_, nullptr, 0, &consumed, &next, buffer_.data(), int32_t(buffer_.size()), &bytes, &units);
        if (r == kMp4EncOk && bytes == 0) ended_ = true;
      }
      if (r != kMp4EncOk || bytes < 0 || bytes > int32_t(buffer_.size())) return E_FAIL;
      if (!mp4EncSplitUnits(buffer_.data(), bytes, units, &pending_)) return E_FAIL;
    }
    unit->swap(pending_.front());
    pending_.erase(pending_.begin());
    *duration = uint32_t(info_.frameLength);
    bytes_ += unit->size();
    ++units_;
    return S_OK;
  }

  // Players start after the encoder's delay and stop at the source's end,
  // as in the plug-in's renders.
  // The encoder counts its delay at the source's rate; the track counts at
  // the encoder's.
  bool GetPresentation(uint64_t* priming, uint64_t* length) override {
    const int32_t primingSamples = mp4EncEditListPriming(objectType_, info_.totalDelay);
    if (primingSamples <= 0 || inputRate_ <= 0) return false;
    *priming = uint64_t(primingSamples) * uint64_t(info_.sampleRate) / uint64_t(inputRate_);
    *length = uint64_t(SourceFrames()) * uint64_t(info_.sampleRate) / uint64_t(inputRate_);
    return true;
  }

  uint64_t Bytes() const { return bytes_; }
  uint64_t Units() const { return units_; }
  int32_t Delay() const { return info_.totalDelay; }
  int32_t FrameLength() const { return info_.frameLength; }
  void SbrRange(int32_t* crossover, int32_t* stop) const { mp4EncGetSbrRange(enc_, crossover, stop); }
  int32_t BitRate() const { return info_.bitRate; }

 private:
  mp4EncHandle enc_ = nullptr;
  mp4EncInfo info_{};
  int channels_ = 0;
  int32_t objectType_ = 0;
  int32_t block_ = 0;
  std::string error_;
  int32_t inputRate_ = 0;
  std::vector<float> input_;
  size_t pos_ = 0;
  std::vector<uint8_t> buffer_;
  std::vector<std::vector<uint8_t>> pending_;
  bool ended_ = false;
  uint64_t bytes_ = 0, units_ = 0;
};

int usage() {
  std::fprintf(stderr,
               "usage: aacenc IN.wav OUT.m4a|OUT.aac [options]\n       aacenc --bench IN.wav [options]\n"
               "options: --preset N --aot T --bitrate B --channels N --mode M --rate R --adif --crc\n");
  return 1;
}

bool endsWith(const std::wstring& s, const wchar_t* tail) {
  const size_t n = std::wcslen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (wchar_t(std::towlower(wint_t(s[s.size() - n + i]))) != tail[i]) return false;
  return true;
}

// A whole number option value; false for anything else.
bool number(const std::wstring& text, long* value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  *value = std::wcstol(text.c_str(), &end, 10);
  return end && *end == 0;
}

int32_t modeOfChannels(long n) {
  switch (n) {
    case 1: case 2: case 3: case 4: case 5: return int32_t(n);
    case 6: return 6;
    case 8: return 7;
    default: return 0;
  }
}

bool writeStream(const std::wstring& path, Encoder& enc) {
#ifdef _WIN32
  FILE* f = _wfopen(path.c_str(), L"wb");
#else
  std::string p;
  fileutil::WideToUtf8(path, p);
  FILE* f = std::fopen(p.c_str(), "wb");
#endif
  if (!f) return false;
  std::vector<uint8_t> unit;
  uint32_t duration = 0;
  HRESULT hr;
  bool ok = true;
  while ((hr = enc.NextAccessUnit(&unit, &duration)) == S_OK)
    if (!unit.empty() && std::fwrite(unit.data(), 1, unit.size(), f) != unit.size()) ok = false;
  if (FAILED(hr)) ok = false;
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
#ifdef _WIN32
    _wremove(path.c_str());
#else
    std::remove(p.c_str());
#endif
  }
  return ok;
}

int run(const std::vector<std::wstring>& args) {
  bool bench = false, adif = false, crc = false;
  int preset = 4;
  long aot = -1, bitrate = -1, channels = -1, mode = -1, rate = -1;
  std::vector<std::wstring> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    long v = 0;
    if (args[i] == L"--bench") {
      bench = true;
    } else if (args[i] == L"--adif") {
      adif = true;
    } else if (args[i] == L"--crc") {
      crc = true;
    } else if (args[i] == L"--preset" && hasValue) {
      if (!number(args[++i], &v) || v < 0 || v >= kPresetCount) return usage();
      preset = int(v);
    } else if ((args[i] == L"--aot" || args[i] == L"--bitrate" || args[i] == L"--channels" || args[i] == L"--mode" ||
                args[i] == L"--rate") &&
               hasValue) {
      const std::wstring& name = args[i];
      if (!number(args[++i], &v) || v < 0) return usage();
      if (name == L"--aot") aot = v;
      else if (name == L"--bitrate") bitrate = v;
      else if (name == L"--channels") channels = v;
      else if (name == L"--mode") mode = v;
      else rate = v;
    } else if (args[i].size() > 1 && args[i][0] == L'-' && args[i][1] == L'-') {
      return usage();
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != (bench ? 1u : 2u)) return usage();
  PresetSettings settings = kPresets[preset];
  if (aot >= 0) settings.objectType = int32_t(aot);
  if (bitrate >= 0) settings.bitRate = int32_t(bitrate);
  if (channels >= 0) {
    settings.channelMode = modeOfChannels(channels);
    if (settings.channelMode == 0) return usage();
  }
  if (mode >= 0) settings.channelMode = int32_t(mode);
  Output output;
  const bool stream = !bench && endsWith(files[1], L".aac");
  if ((adif || crc) && !stream) return usage();
  if (adif && crc) return usage();
  output.transport = stream ? (adif ? 1 : 2) : 0;
  output.crc = crc ? 1 : 0;
  std::vector<uint8_t> bytes;
  if (!readFile(files[0], bytes)) {
    std::fprintf(stderr, "aacenc: cannot read the input\n");
    return 2;
  }
  Wav wav;
  if (const char* e = parseWav(bytes, wav)) {
    std::fprintf(stderr, "aacenc: %s\n", e);
    return 2;
  }
  bytes.clear();
  if (rate > 0) output.rate = int32_t(rate);
  Encoder enc;
  if (const char* e = enc.Open(settings, output, wav)) {
    std::fprintf(stderr, "aacenc: preset %d: %s\n", preset, e);
    return 2;
  }
  const double seconds = double(enc.SourceFrames()) / wav.rate;
  if (bench) {
    const std::clock_t c0 = std::clock();
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<uint8_t> unit;
    uint32_t duration = 0;
    HRESULT hr = S_OK;
    while (hr == S_OK) hr = enc.NextAccessUnit(&unit, &duration);
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (FAILED(hr)) {
      std::fprintf(stderr, "aacenc: the encoder failed\n");
      return 3;
    }
    std::printf("preset %d: %.3f audio seconds, %.3f s CPU, %.3f s wall, %.1f x real time, %.1f kbit/s\n", preset,
                seconds, cpu, wall, cpu > 0 ? seconds / cpu : 0.0,
                seconds > 0 ? enc.Bytes() * 8.0 / seconds / 1000.0 : 0.0);
    return 0;
  }
  if (stream) {
    if (!writeStream(files[1], enc)) {
      std::fprintf(stderr, "aacenc: encoding or writing the stream failed\n");
      return 3;
    }
    std::fprintf(stderr, "aacenc: %s stream, %.3f s, %llu units, %d Hz, %d bit/s\n", adif ? "ADIF" : "ADTS", seconds,
                 static_cast<unsigned long long>(enc.Units()), int(enc.Rate()), int(enc.BitRate()));
    return 0;
  }
  fileutil::BoxList boxes;
  HRESULT hr = fileutil::BuildAudioFileTree(boxes, uint16_t(enc.Channels()), enc.Rate(), &enc);
  if (SUCCEEDED(hr)) hr = fileutil::WriteAudioFile(files[1].c_str(), boxes, enc);
  fileutil::DeleteBoxes(boxes);
  if (FAILED(hr)) {
    std::fprintf(stderr, "aacenc: writing the file failed (0x%08x)\n", unsigned(hr));
    return 3;
  }
  int32_t crossover = 0, stop = 0;
  enc.SbrRange(&crossover, &stop);
  std::fprintf(stderr, "aacenc: preset %d, %.3f s, %llu units, delay %d, sbr %d-%d Hz, %d bit/s\n", preset, seconds,
               static_cast<unsigned long long>(enc.Units()), enc.Delay(), int(crossover), int(stop),
               int(enc.BitRate()));
  return 0;
}

}  // namespace

VOG_TOOL_MAIN(run)
