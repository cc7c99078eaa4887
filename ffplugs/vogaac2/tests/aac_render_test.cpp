// AAC renders end to end through the DLL's render class: a stand-in host
// stream of 440 Hz plus noise (stereo and mono) goes through every AAC-LC and
// HE-AAC preset into an MP4 file, which aac_render_oracles.sh and
// he_render_oracles.sh then check with ffmpeg, ffprobe, mediainfo, faad and
// numpy against the source written beside it. Presets the encoder cannot
// take fail before any file exists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "descriptors.h"
#include "kvfileio.h"
#include "kvtemplate.h"
#include "read_support.h"
#include "render_class_fixture.h"
#include "standin_host.h"
#include "vogaac2_compressor.h"
#include "vogaac2_presets.h"
#include "vog_files.h"

namespace {

std::string OutDir() {
  const std::string dir = std::string(VOG_FIXTURE_DIR) + "/aacrender";
  CreateDirectoryW(WinePath(dir).c_str(), nullptr);
  return dir + "/";
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// 1.5 s of a 440 Hz tone at half scale plus uniform noise at 1/100, as
// interleaved float; the channels carry different noise.
std::vector<float> MakeSource(DWORD rate, WORD channels, size_t frames) {
  std::vector<float> s(frames * channels);
  uint32_t seed = 12345;
  for (size_t i = 0; i < frames; ++i) {
    const float tone = 0.5f * float(std::sin(2.0 * 3.14159265358979 * 440.0 * double(i) / double(rate)));
    for (WORD c = 0; c < channels; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const float noise = (float((seed >> 8) & 0xFFFF) / 32768.0f - 1.0f) * 0.01f;
      s[i * channels + c] = tone + noise;
    }
  }
  return s;
}

bool WriteFloats(const std::string& unix, const std::vector<float>& s) {
  return vogtest::WriteBytes(WinePath(unix), s.data(), s.size() * sizeof(float));
}

class AacRenderTest : public RenderClassFixture {
 protected:
  // Renders `source` (interleaved float at `rate`) with template `index`.
  // objectType, when not 0, replaces the template's object type.
  HRESULT Render(int index, const std::vector<float>& source, DWORD rate, WORD channels, const std::wstring& path,
                 DWORD objectType = 0) {
    const std::vector<BYTE> bytes(reinterpret_cast<const BYTE*>(source.data()),
                                  reinterpret_cast<const BYTE*>(source.data() + source.size()));
    const WAVEFORMATEX format = {WAVE_FORMAT_IEEE_FLOAT, channels, rate, rate * 4u * channels,
                                 WORD(4 * channels), 32, 0};
    StandInStream stream(bytes, format);
    IKvReadStream* src = &stream;
    tagKVTEMPLATExV2* t = nullptr;
    if (cls_->GetTemplate(&t, index) != S_OK) return E_UNEXPECTED;
    if (objectType) std::memcpy(t->abData + offsetof(AacPresetRecord, objectType), &objectType, sizeof objectType);
    IKvRenderFile* file = nullptr;
    HRESULT hr = cls_->CreateRenderFile(&file, path.c_str(), 1, &src, t);
    std::free(t);
    if (FAILED(hr)) return hr;
    ProgressSink sink;
    hr = file->Render(&sink);
    file->ReleaseSources();
    EXPECT_EQ(0u, file->Release());
    return hr;
  }
};

// Every AAC-LC preset, from a stereo and a mono source at the preset's rate.
// The files and their sources stay in the fixture folder for the oracles.
TEST_F(AacRenderTest, LcPresetsRenderStereoAndMonoSources) {
  const std::string dir = OutDir();
  FILE* list = _wfopen(WinePath(dir + "renders.txt").c_str(), L"wb");
  ASSERT_NE(list, nullptr);
  for (int index = 0; index < kAacPresetCount; ++index) {
    const AacPresetRecord& p = AacPreset(index);
    if (p.objectType != kAacObjectTypeLc) continue;
    for (WORD channels : {WORD(2), WORD(1)}) {
      SCOPED_TRACE("preset " + std::to_string(index) + ", " + std::to_string(channels) + " channels");
      const size_t frames = size_t(p.sampleRate) * 3 / 2;
      const std::vector<float> source = MakeSource(p.sampleRate, channels, frames);
      const std::string base = dir + "p" + std::to_string(index) + "_" + std::to_string(channels) + "ch";
      ASSERT_TRUE(WriteFloats(base + ".f32", source));
      const std::wstring path = WinePath(base + ".m4a");
      DeleteFileW(path.c_str());
      ASSERT_EQ(S_OK, Render(index, source, p.sampleRate, channels, path));
      ASSERT_TRUE(Exists(path));
      // name, source channels, source frames, preset rate, preset channels, bit rate
      std::fprintf(list, "%s %u %u %lu %u %lu\n", base.c_str(), unsigned(channels), unsigned(frames),
                   static_cast<unsigned long>(p.sampleRate), unsigned(AacTemplateChannels(p.channelMode)),
                   static_cast<unsigned long>(p.bitRate));
    }
  }
  fclose(list);
}

// The HE-AAC presets (v2 with parametric stereo too), from a stereo and a
// mono source at 44.1 kHz: the files and their sources stay in the fixture
// folder for the oracles, listed in he_renders.txt with the profile ffprobe
// should see and the encoder's delay.
TEST_F(AacRenderTest, HePresetsRenderStereoAndMonoSources) {
  const std::string dir = OutDir();
  FILE* list = _wfopen(WinePath(dir + "he_renders.txt").c_str(), L"wb");
  ASSERT_NE(list, nullptr);
  int rendered = 0;
  for (int index = 0; index < kAacPresetCount; ++index) {
    const AacPresetRecord& p = AacPreset(index);
    if (p.objectType != kAacObjectTypeHe && p.objectType != kAacObjectTypeHeV2) continue;
    const bool v2 = p.objectType == kAacObjectTypeHeV2;
    for (WORD channels : {WORD(2), WORD(1)}) {
      SCOPED_TRACE("preset " + std::to_string(index) + ", " + std::to_string(channels) + " channels");
      const size_t frames = size_t(p.sampleRate) * 3 / 2;
      const std::vector<float> source = MakeSource(p.sampleRate, channels, frames);
      const std::string base = dir + "he" + std::to_string(index) + "_" + std::to_string(channels) + "ch";
      ASSERT_TRUE(WriteFloats(base + ".f32", source));
      const std::wstring path = WinePath(base + ".m4a");
      DeleteFileW(path.c_str());
      ASSERT_EQ(S_OK, Render(index, source, p.sampleRate, channels, path));
      ASSERT_TRUE(Exists(path));
      // name, source channels, source frames, rate, decoded channels (the
      // parametric-stereo core is mono, its decode stereo), bit rate,
      // profile, delay (v2: the 64-band analysis and 32-band synthesis in
      // place of the 2:1 converter, and the core's delay rounded up to whole
      // QMF slots)
      std::fprintf(list, "%s %u %u %lu %u %lu %s %d\n", base.c_str(), unsigned(channels), unsigned(frames),
                   static_cast<unsigned long>(p.sampleRate), v2 ? 2u : unsigned(AacTemplateChannels(p.channelMode)),
                   static_cast<unsigned long>(p.bitRate), v2 ? "HE-AACv2" : "HE-AAC", v2 ? 6787 : 6324);
      ++rendered;
    }
  }
  fclose(list);
  EXPECT_EQ(12, rendered) << "presets 9, 10, 11, 14, 12 and 13";
}


// Settings the encoder cannot take (HE-AAC without parametric stereo in the
// parametric-stereo channel mode): the render fails with E_FAIL and leaves no
// file (nor touches one that was there).
TEST_F(AacRenderTest, SettingsTheEncoderCannotTakeFailBeforeAnyFile) {
  const std::string dir = OutDir();
  for (int index : {12, 13}) {
    SCOPED_TRACE("preset " + std::to_string(index));
    const std::vector<float> source = MakeSource(44100, 2, 4096);
    const std::wstring path = WinePath(dir + "refused_" + std::to_string(index) + ".m4a");
    DeleteFileW(path.c_str());
    EXPECT_EQ(E_FAIL, Render(index, source, 44100, 2, path, kAacObjectTypeHe));
    EXPECT_FALSE(Exists(path));
  }
  // A file already under the name is left as it was.
  const std::wstring kept = WinePath(dir + "kept.m4a");
  FILE* f = _wfopen(kept.c_str(), L"wb");
  ASSERT_NE(f, nullptr);
  fputs("keep me", f);
  fclose(f);
  EXPECT_EQ(E_FAIL, Render(12, MakeSource(44100, 2, 4096), 44100, 2, kept, kAacObjectTypeHe));
  WIN32_FILE_ATTRIBUTE_DATA a;
  ASSERT_TRUE(GetFileAttributesExW(kept.c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(7u, a.nFileSizeLow);
}

// A sample reader over a float block, at most `chunk` frames a read, S_FALSE
// once it is empty.
class BlockReader : public ffbase::IAudioSampleReader {
 public:
  BlockReader(std::vector<float> s, WORD ch) : s_(std::move(s)), ch_(ch) {}
  HRESULT GetLength(LONGLONG* frames) override {
    *frames = LONGLONG(s_.size() / ch_);
    return S_OK;
  }
  HRESULT Read(void* buffer, DWORD frames, DWORD* framesRead) override {
    const size_t left = (s_.size() - pos_) / ch_;
    const DWORD n = DWORD(left < frames ? left : frames);
    std::memcpy(buffer, s_.data() + pos_, size_t(n) * ch_ * sizeof(float));
    pos_ += size_t(n) * ch_;
    *framesRead = n;
    return n ? S_OK : S_FALSE;
  }
  HRESULT SetOutputFormat(const WAVEFORMATEX*) override { return S_OK; }

 private:
  std::vector<float> s_;
  size_t pos_ = 0;
  WORD ch_;
};

struct IodRecorder : fileutil::ISetInitialObjectDescriptor {
  void Set(uint8_t od, uint8_t scene, uint8_t audio, uint8_t visual, uint8_t graphics) override {
    levels = {od, scene, audio, visual, graphics};
  }
  std::vector<uint8_t> levels;
};

struct EsRecorder : fileutil::ISetElementaryStreamInfo {
  bool Set(uint8_t oti, uint8_t st, uint32_t buffer, uint32_t maxRate, uint32_t avgRate, uint32_t,
           const std::vector<uint8_t>& dsi) override {
    values = {oti, st, buffer, maxRate, avgRate};
    asc = dsi;
    return true;
  }
  std::vector<uint32_t> values;
  std::vector<uint8_t> asc;
};

// The adapter alone: the format it asks for, the units it yields (every
// source frame plus the encoder's delay, flushed), its descriptors, and a
// second Close.
TEST(AacCompressor, OpenEncodeFlushDescriptorsClose) {
  struct Case {
    int preset;
    WORD sourceChannels;
    DWORD sourceRate;
    WORD wantChannels;
    DWORD wantRate;
  } cases[] = {
      {4, 2, 44100, 2, 44100},
      {8, 2, 32000, 1, 32000},  // a mono preset takes one channel whatever the source has
      {4, 1, 44100, 2, 44100},
      {6, 2, 8000, 2, 32000},   // a rate outside the range becomes the encoder's default
      {10, 2, 44100, 2, 44100}, // HE-AAC: 2048-frame units, SBR signalled
      {9, 2, 48000, 2, 48000},  // HE-AAC takes 48 kHz as it is
      {12, 2, 44100, 2, 44100}, // HE-AAC v2: two input channels, a mono core
      {13, 1, 44100, 2, 44100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("preset " + std::to_string(c.preset) + " from " + std::to_string(c.sourceRate));
    ffbase::IAudioCompressor* comp = nullptr;
    ASSERT_EQ(S_OK, CreateAacCompressor(AacPreset(c.preset), &comp));
    WAVEFORMATEX source = {WAVE_FORMAT_PCM, c.sourceChannels, c.sourceRate, c.sourceRate * 2u * c.sourceChannels,
                           WORD(2 * c.sourceChannels), 16, 0};
    WAVEFORMATEX out = {};
    ASSERT_EQ(S_OK, comp->Open(nullptr, &source, &out));
    EXPECT_EQ(WAVE_FORMAT_IEEE_FLOAT, out.wFormatTag);
    EXPECT_EQ(32, out.wBitsPerSample);
    EXPECT_EQ(c.wantChannels, out.nChannels);
    EXPECT_EQ(c.wantRate, out.nSamplesPerSec);
    EXPECT_EQ(DWORD(c.wantChannels * 4), out.nBlockAlign);
    EXPECT_EQ(out.nBlockAlign * out.nSamplesPerSec, out.nAvgBytesPerSec);

    const size_t frames = 10000;
    const bool v2 = AacPreset(c.preset).objectType == kAacObjectTypeHeV2;
    const bool he = AacPreset(c.preset).objectType == kAacObjectTypeHe || v2;
    // LC: 1024-frame units behind the core's 2624 frames. HE-AAC: 2048-frame
    // units behind the core's delay at the full rate (5248), the 2:1
    // converter's (114) and the decoder's SBR banks' (962). HE-AAC v2: the
    // core's delay rounded up to whole QMF slots (5248 + 64), the encoder's
    // 64-band analysis and 32-band synthesis (577) and the decoder's banks.
    const DWORD unitFrames = he ? 2048 : 1024;
    const size_t delay = v2 ? 6787 : he ? 6324 : 2624;
    std::vector<uint8_t> unit;
    uint64_t total = 0;
    int units = 0, calls = 0;
    HRESULT hr = S_OK;
    BlockReader reader2(MakeSource(out.nSamplesPerSec, out.nChannels, frames), out.nChannels);
    for (calls = 0; calls < 1000; ++calls) {
      DWORD duration = 99;
      hr = comp->Encode(&unit, &reader2, &duration);
      if (hr != S_OK) break;
      if (!unit.empty()) {
        ++units;
        total += duration;
        EXPECT_EQ(unitFrames, duration);
        EXPECT_LE(unit.size(), 8000u);
      } else {
        EXPECT_EQ(0u, duration);
      }
    }
    EXPECT_EQ(S_FALSE, hr);
    // Every source frame and the encoder's delay are in the units, padded to
    // a whole frame.
    EXPECT_EQ((frames + delay + unitFrames - 1) / unitFrames, size_t(units));
    EXPECT_GE(total, frames + delay);
    DWORD d = 5;
    EXPECT_EQ(S_FALSE, comp->Encode(&unit, &reader2, &d)) << "stays ended";
    EXPECT_TRUE(unit.empty());

    EXPECT_EQ(E_INVALIDARG, comp->SetProfileLevels(nullptr));
    EXPECT_EQ(E_INVALIDARG, comp->FillDecoderConfig(nullptr));
    IodRecorder iod;
    EXPECT_EQ(S_OK, comp->SetProfileLevels(&iod));
    ASSERT_EQ(5u, iod.levels.size());
    EXPECT_EQ(0xFF, iod.levels[0]);
    EXPECT_EQ(0xFF, iod.levels[1]);
    EXPECT_GE(iod.levels[2], 0x28);  // an AAC profile level
    EXPECT_LE(iod.levels[2], 0x33);
    EsRecorder es;
    EXPECT_EQ(S_OK, comp->FillDecoderConfig(&es));
    ASSERT_EQ(5u, es.values.size());
    EXPECT_EQ(0x40u, es.values[0]);
    EXPECT_EQ(5u, es.values[1]);
    EXPECT_GT(es.values[2], 0u);
    EXPECT_GE(es.values[3], es.values[4]);
    // The maximum is no less than the largest unit (the buffer size) at the
    // unit rate: a second of the stream never carries more.
    EXPECT_GE(uint64_t(es.values[3]) * unitFrames, uint64_t(es.values[2]) * 8 * c.wantRate);
    EXPECT_EQ(AacPreset(c.preset).bitRate, es.values[4]);
    // The delay the file's edit list skips; SBR streams get no edit list.
    EXPECT_EQ(he ? 0u : 2624u, comp->GetPrimingFrames());
    ASSERT_GE(es.asc.size(), 2u);
    if (he) {
      // Type 5, the core's rate index, the channels, the output rate's
      // index, then type 2.
      ASSERT_GE(es.asc.size(), 4u);
      EXPECT_EQ(v2 ? 29 : 5, es.asc[0] >> 3) << "SBR (or parametric-stereo) object type first";
      EXPECT_EQ(c.wantRate == 44100 ? 7 : 6, ((es.asc[0] & 7) << 1) | (es.asc[1] >> 7)) << "the core's rate";
      EXPECT_EQ(v2 ? 1 : c.wantChannels, (es.asc[1] >> 3) & 15) << "a mono core under parametric stereo";
      EXPECT_EQ(c.wantRate == 44100 ? 4 : 3, ((es.asc[1] & 7) << 1) | (es.asc[2] >> 7)) << "the output rate";
      EXPECT_EQ(2, (es.asc[2] >> 2) & 31) << "AAC-LC core";
    } else {
      EXPECT_EQ(2, es.asc[0] >> 3) << "AAC-LC object type";
      EXPECT_EQ(c.wantChannels, (es.asc[1] >> 3) & 15);
    }

    EXPECT_EQ(S_OK, comp->Close());
    EXPECT_EQ(S_OK, comp->Close()) << "a second Close is harmless";
    EXPECT_EQ(E_FAIL, comp->Encode(&unit, &reader2, &d)) << "closed";
    delete comp;
  }
}

// The encoder's refusals surface as E_FAIL from Open, with the format it
// would have asked for still written.
TEST(AacCompressor, RefusedSettingsFailOpen) {
  for (int preset : {12, 13}) {
    // HE-AAC without parametric stereo cannot take the parametric-stereo mode.
    SCOPED_TRACE("preset " + std::to_string(preset) + " as HE-AAC");
    AacPresetRecord record = AacPreset(preset);
    record.objectType = kAacObjectTypeHe;
    ffbase::IAudioCompressor* comp = nullptr;
    ASSERT_EQ(S_OK, CreateAacCompressor(record, &comp));
    WAVEFORMATEX source = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    WAVEFORMATEX out = {};
    EXPECT_EQ(E_FAIL, comp->Open(nullptr, &source, &out));
    EXPECT_EQ(WAVE_FORMAT_IEEE_FLOAT, out.wFormatTag);
    std::vector<uint8_t> unit;
    DWORD d = 0;
    EXPECT_EQ(E_FAIL, comp->Encode(&unit, nullptr, &d));
    EXPECT_EQ(S_OK, comp->Close());
    delete comp;
  }
  EXPECT_EQ(E_INVALIDARG, CreateAacCompressor(AacPreset(0), nullptr));
}

}  // namespace
