// The render road's sample reader and its converter chain, over a stand-in
// host stream that serves PCM files made by numpy and sox (make_render_fixtures.sh).
// Exact conversions (sample format, channel mixes) are compared here with the
// numpy references; resampled outputs are written to $VOG_FIXTURE_DIR/render
// for render_chain_oracles.py, which compares them with sox.
#include <windows.h>
#include <mmreg.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "ffbase_audiosamplereader.h"
#include "kvaudio.h"
#include "kvtemplate.h"
#include "standin_host.h"
#include "vog_files.h"
#include "vog_paths.h"

namespace {

std::string PcmDir() { return std::string(VOG_FIXTURE_DIR) + "/renderpcm/"; }

using vogtest::WinePath;

std::vector<BYTE> Load(const std::string& name) { return vogtest::ReadBytes(WinePath(PcmDir() + name)); }

std::vector<float> LoadFloats(const std::string& name) {
  std::vector<BYTE> b = Load(name);
  std::vector<float> f(b.size() / 4);
  if (!f.empty()) std::memcpy(f.data(), b.data(), f.size() * 4);
  return f;
}

void SaveFloats(const std::string& name, const std::vector<float>& data) {
  std::string dir = std::string(VOG_FIXTURE_DIR) + "/render";
  CreateDirectoryW(WinePath(dir).c_str(), nullptr);
  FILE* f = _wfopen(WinePath(dir + "/" + name).c_str(), L"wb");
  ASSERT_TRUE(f);
  fwrite(data.data(), 4, data.size(), f);
  fclose(f);
}

WAVEFORMATEX Format(WORD tag, WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX w = {};
  w.wFormatTag = tag;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.wBitsPerSample = bits;
  w.nBlockAlign = WORD(channels * bits / 8);
  w.nAvgBytesPerSec = w.nBlockAlign * rate;
  return w;
}

WAVEFORMATEX Float(WORD channels, DWORD rate) { return Format(WAVE_FORMAT_IEEE_FLOAT, channels, rate, 32); }

// Reads everything in varying block sizes; the result of the last read in `last`.
std::vector<float> ReadAll(ffbase::AudioSampleReader& reader, WORD channels, HRESULT* last) {
  static const DWORD kSizes[] = {1000, 1, 4097, 333, 16384, 2};
  std::vector<float> all;
  std::vector<float> block;
  HRESULT hr = S_OK;
  for (int i = 0; hr == S_OK && i < 100000; ++i) {
    const DWORD frames = kSizes[i % 6];
    block.assign(size_t(frames) * channels, -9.0f);
    DWORD got = 0;
    hr = reader.Read(block.data(), frames, &got);
    EXPECT_LE(got, frames);
    all.insert(all.end(), block.begin(), block.begin() + size_t(got) * channels);
  }
  *last = hr;
  return all;
}

struct Case {
  const char* source;
  WAVEFORMATEX sourceFormat;
  WAVEFORMATEX target;
  std::vector<const char*> links;  // expected chain, by class
  const char* reference;           // numpy reference compared here (null: none)
  double tolerance;
  const char* output;              // written for the sox comparison (null: none)
};

const char* LinkName(const ffbase::CAudioConverter* link) {
  if (dynamic_cast<const ffbase::CAudioPassThrough*>(link)) return "pass";
  if (dynamic_cast<const ffbase::CAudioChannelAverage*>(link)) return "average";
  if (dynamic_cast<const ffbase::CAudioResample*>(link)) return "resample";
  if (dynamic_cast<const ffbase::CAudioChannelChange*>(link)) return "spread";
  if (dynamic_cast<const ffbase::CAudioBitDepth*>(link)) return "bitdepth";
  return "?";
}

TEST(AudioSampleReader, ConvertsHostPcmToTheCompressorsFormat) {
  const WAVEFORMATEX s16x2 = Format(WAVE_FORMAT_PCM, 2, 44100, 16);
  const WAVEFORMATEX s24x6 = Format(WAVE_FORMAT_PCM, 6, 48000, 24);
  const Case cases[] = {
      {"s16_2ch_44100.raw", s16x2, Float(2, 44100), {"bitdepth"}, "ref_s16_2ch_f32.f32", 1e-7, nullptr},
      {"s24_6ch_48000.raw", s24x6, Float(2, 48000), {"average", "bitdepth"}, "ref_s24_6ch_mix2.f32", 3e-7, nullptr},
      {"s24_6ch_48000.raw", s24x6, Float(1, 48000), {"average", "bitdepth"}, "ref_s24_6ch_mix1.f32", 3e-7, nullptr},
      {"s16_3ch_44100.raw", Format(WAVE_FORMAT_PCM, 3, 44100, 16), Float(2, 44100), {"average", "bitdepth"},
       "ref_s16_3ch_mix2.f32", 1.6e-5, nullptr},
      {"u8_1ch_44100.raw", Format(WAVE_FORMAT_PCM, 1, 44100, 8), Float(1, 44100), {"bitdepth"}, "ref_u8_f32.f32",
       1e-7, nullptr},
      {"s24_6ch_48000.raw", s24x6, Float(2, 44100), {"average", "resample", "bitdepth"}, nullptr, 0,
       "conv_s24_6ch_2ch_44100.f32"},
      {"s16_2ch_44100.raw", s16x2, Float(2, 48000), {"resample", "bitdepth"}, nullptr, 0,
       "conv_s16_2ch_2ch_48000.f32"},
      {"f32_1ch_22050.raw", Float(1, 22050), Float(2, 44100), {"resample", "spread"}, nullptr, 0,
       "conv_f32_1ch_2ch_44100.f32"},
      {"f32_1ch_22050.raw", Float(1, 22050), Float(1, 22050), {"pass"}, "f32_1ch_22050.raw", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + std::to_string(c.target.nChannels) + " ch " +
                 std::to_string(c.target.nSamplesPerSec) + " Hz");
    std::vector<BYTE> data = Load(c.source);
    ASSERT_FALSE(data.empty());
    const size_t sourceFrames = data.size() / c.sourceFormat.nBlockAlign;
    StandInStream stream(data, c.sourceFormat);
    ffbase::AudioSampleReader reader;
    ASSERT_EQ(S_OK, reader.Init(nullptr, &stream));
    ASSERT_EQ(S_OK, reader.SetOutputFormat(&c.target));
    std::vector<const char*> links;
    for (const ffbase::CAudioConverter* l = reader.Chain(); l; l = l->next) links.push_back(LinkName(l));
    EXPECT_EQ(c.links.size(), links.size());
    for (size_t i = 0; i < links.size() && i < c.links.size(); ++i) EXPECT_STREQ(c.links[i], links[i]);

    HRESULT last = S_OK;
    std::vector<float> out = ReadAll(reader, c.target.nChannels, &last);
    EXPECT_EQ(S_FALSE, last);
    EXPECT_EQ(LONGLONG(sourceFrames), stream.position) << "every source frame is read once";
    const size_t frames = out.size() / c.target.nChannels;
    const double expected = double(sourceFrames) * c.target.nSamplesPerSec / c.sourceFormat.nSamplesPerSec;
    EXPECT_NEAR(expected, double(frames), 2.0);
    if (c.reference) {
      std::vector<float> ref = LoadFloats(c.reference);
      ASSERT_EQ(ref.size(), out.size());
      double worst = 0;
      size_t at = 0;
      for (size_t i = 0; i < ref.size(); ++i) {
        double d = std::fabs(double(ref[i]) - out[i]);
        if (d > worst) worst = d, at = i;
      }
      EXPECT_LE(worst, c.tolerance) << "sample " << at << ": expected " << ref[at] << ", got " << out[at];
    }
    if (c.target.nChannels == 2 && c.sourceFormat.nChannels == 1) {
      size_t differ = 0;
      for (size_t i = 0; i + 1 < out.size(); i += 2) differ += out[i] != out[i + 1];
      EXPECT_EQ(0u, differ) << "a mono source is copied to both channels";
    }
    if (c.output) SaveFloats(c.output, out);
  }
}

// A channel increase from more than one channel has no rule: the reader
// refuses the format before reading anything.
TEST(AudioSampleReader, RefusesConversionsWithoutARule) {
  StandInStream stream(Load("s16_2ch_44100.raw"), Format(WAVE_FORMAT_PCM, 2, 44100, 16));
  ffbase::AudioSampleReader reader;
  ASSERT_EQ(S_OK, reader.Init(nullptr, &stream));
  const WAVEFORMATEX six = Float(6, 44100);
  EXPECT_EQ(E_FAIL, reader.SetOutputFormat(&six));
  DWORD got = 7;
  float sink[16];
  EXPECT_EQ(E_FAIL, reader.Read(sink, 2, &got));
  EXPECT_EQ(0u, got);
  EXPECT_EQ(0, stream.reads);
  // A source whose frame size disagrees with its format is refused too.
  ffbase::AudioSampleReader unset;
  EXPECT_EQ(E_INVALIDARG, unset.Init(nullptr, nullptr));
  const WAVEFORMATEX two = Float(2, 44100);
  EXPECT_EQ(E_FAIL, unset.SetOutputFormat(&two));
}

TEST(AudioSampleReader, ProgressEndAndCancel) {
  const WAVEFORMATEX s24x6 = Format(WAVE_FORMAT_PCM, 6, 48000, 24);
  const WAVEFORMATEX target = Float(2, 44100);
  std::vector<BYTE> data = Load("s24_6ch_48000.raw");
  ASSERT_FALSE(data.empty());

  // Frames 0 on a fresh reader: nothing is waiting.
  {
    StandInStream stream(data, s24x6);
    ffbase::AudioSampleReader reader;
    ASSERT_EQ(S_OK, reader.Init(nullptr, &stream));
    ASSERT_EQ(S_OK, reader.SetOutputFormat(&target));
    DWORD got = 5;
    EXPECT_EQ(S_FALSE, reader.Read(nullptr, 0, &got));
    EXPECT_EQ(0u, got);
    EXPECT_EQ(E_INVALIDARG, reader.Read(nullptr, 0, nullptr));
  }
  // With a sink: one start report with the total, then the source position
  // after each read; the output is the same as without a sink.
  std::vector<float> withoutSink, withSink;
  {
    StandInStream stream(data, s24x6);
    ffbase::AudioSampleReader reader;
    ASSERT_EQ(S_OK, reader.Init(nullptr, &stream));
    ASSERT_EQ(S_OK, reader.SetOutputFormat(&target));
    HRESULT last;
    withoutSink = ReadAll(reader, 2, &last);
  }
  {
    StandInStream stream(data, s24x6);
    ProgressSink sink;
    ffbase::AudioSampleReader reader;
    ASSERT_EQ(S_OK, reader.Init(&sink, &stream));
    ASSERT_EQ(S_OK, reader.SetOutputFormat(&target));
    HRESULT last;
    withSink = ReadAll(reader, 2, &last);
    EXPECT_EQ(S_FALSE, last);
    ASSERT_EQ(1u, sink.begins.size());
    EXPECT_EQ(LONGLONG(data.size() / 18), sink.begins[0]);
    EXPECT_EQ(0u, sink.beginReserved);
    ASSERT_FALSE(sink.positions.empty());
    for (size_t i = 1; i < sink.positions.size(); ++i) EXPECT_LE(sink.positions[i - 1], sink.positions[i]);
    EXPECT_EQ(LONGLONG(data.size() / 18), sink.positions.back());
  }
  EXPECT_TRUE(withoutSink == withSink);
  // A refusal of the sink is the user's cancel.
  {
    StandInStream stream(data, s24x6);
    ProgressSink sink;
    sink.cancelAt = 3;
    ffbase::AudioSampleReader reader;
    ASSERT_EQ(S_OK, reader.Init(&sink, &stream));
    ASSERT_EQ(S_OK, reader.SetOutputFormat(&target));
    HRESULT last;
    ReadAll(reader, 2, &last);
    EXPECT_EQ(HRESULT(0x8004E00C), last);
    EXPECT_EQ(3u, sink.positions.size());
  }
  // A source that keeps answering S_OK without frames ends the reading
  // instead of being asked forever.
  {
    StandInStream stream(data, s24x6);
    stream.zeroForever = true;
    ffbase::AudioSampleReader reader;
    ASSERT_EQ(S_OK, reader.Init(nullptr, &stream));
    ASSERT_EQ(S_OK, reader.SetOutputFormat(&target));
    float block[64];
    DWORD got = 9;
    EXPECT_EQ(S_FALSE, reader.Read(block, 32, &got));
    EXPECT_EQ(0u, got);
    EXPECT_LE(stream.reads, 2);
  }
}

}  // namespace
