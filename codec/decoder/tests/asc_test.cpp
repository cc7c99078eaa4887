// AudioSpecificConfig parsing, the record check at open, copy/compare and
// the text dump.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "aacdecoder.h"
#include "bitwriter.h"
#include "decruntime.h"
#include "mp4AudioDecIfc.h"

namespace {

AudioSpecificConfig parse(const std::vector<uint8_t>& b, int32_t* status) {
  AudioSpecificConfig a;
  std::memset(&a, 0, sizeof(a));
  *status = mp4AudioDecParseAsc(b.data(), static_cast<int32_t>(b.size()), &a);
  return a;
}

// AOT 2 / index / configuration, GA config with the given frame-length flag.
std::vector<uint8_t> lc(int index, int cc, int frameLengthFlag = 0) {
  BitWriter w;
  w.put(2, 5);
  w.put(index, 4);
  w.put(cc, 4);
  w.put(frameLengthFlag, 1);
  w.put(0, 2);
  w.align();
  return w.bytes();
}

struct AscCase {
  const char* what;
  std::vector<uint8_t> bytes;
  int32_t status;
  int32_t aot, origAot, rate, channels, frameLength, sbr, ps, extAot, extRate;
};

TEST(Asc, CaseTable) {
  std::vector<AscCase> cases = {
      {"LC 44.1 stereo", {0x12, 0x10}, 0, 2, 2, 44100, 2, 1024, -1, -1, 0, 0},
      {"ffmpeg LC with sync extension, sbrPresent 0", {0x12, 0x10, 0x56, 0xE5, 0x00}, 0, 2, 2, 44100, 2, 1024, 0, -1, 5, 0},
      {"ffmpeg LC 5.1 48 kHz", {0x11, 0xB0, 0x56, 0xE5, 0x00}, 0, 2, 2, 48000, 6, 1024, 0, -1, 5, 0},
      {"configuration 7", lc(3, 7), 0, 2, 2, 48000, 8, 1024, -1, -1, 0, 0},
      {"configuration 8", lc(3, 8), MP4AUDEC_BAD_CHANNEL_CONFIG, 2, 2, 48000, 0, 0, -1, -1, 0, 0},
      {"960-sample frames", lc(4, 2, 1), 0, 2, 2, 44100, 2, 960, -1, -1, 0, 0},
  };
  {
    BitWriter w;  // explicit SBR: AOT 5, core 24 kHz, extension 48 kHz, core AOT 2
    w.put(5, 5); w.put(6, 4); w.put(1, 4); w.put(3, 4); w.put(2, 5); w.put(0, 3); w.align();
    cases.push_back({"AOT 5", w.bytes(), 0, 2, 5, 24000, 1, 1024, 1, -1, 5, 48000});
  }
  {
    BitWriter w;  // AOT 29: SBR and PS
    w.put(29, 5); w.put(6, 4); w.put(1, 4); w.put(3, 4); w.put(2, 5); w.put(0, 3); w.align();
    cases.push_back({"AOT 29", w.bytes(), 0, 2, 29, 24000, 1, 1024, 1, 1, 5, 48000});
  }
  {
    BitWriter w;  // backward-compatible: LC 22.05 mono, sync 0x2B7, SBR 44.1, sync 0x548, PS
    w.put(2, 5); w.put(7, 4); w.put(1, 4); w.put(0, 3);
    w.put(0x2B7, 11); w.put(5, 5); w.put(1, 1); w.put(4, 4); w.put(0x548, 11); w.put(1, 1); w.align();
    cases.push_back({"sync extensions", w.bytes(), 0, 2, 2, 22050, 1, 1024, 1, 1, 5, 44100});
  }
  {
    BitWriter w;  // explicit 24-bit frequency
    w.put(2, 5); w.put(15, 4); w.put(22000, 24); w.put(2, 4); w.put(0, 3); w.align();
    cases.push_back({"explicit frequency", w.bytes(), 0, 2, 2, 22000, 2, 1024, -1, -1, 0, 0});
  }
  {
    BitWriter w;  // escaped object type 32 + 10 = 42 (USAC)
    w.put(31, 5); w.put(10, 6); w.put(4, 4); w.put(1, 4); w.align();
    cases.push_back({"AOT 42", w.bytes(), MP4AUDEC_UNSUPPORTED_AOT, 42, 42, 44100, 0, 0, -1, -1, 0, 0});
  }
  cases.push_back({"truncated", {0x12}, MP4AUDEC_OUT_OF_MEMORY, 2, 2, 44100, 0, 0, -1, -1, 0, 0});
  for (const AscCase& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t st = 0;
    const AudioSpecificConfig a = parse(c.bytes, &st);
    ASSERT_EQ(st, c.status);
    EXPECT_EQ(a.objectType, c.aot);
    EXPECT_EQ(a.origObjectType, c.origAot);
    EXPECT_EQ(a.samplingFrequency, c.rate);
    if (st) continue;
    EXPECT_EQ(a.channelCount, c.channels);
    EXPECT_EQ(a.frameLength, c.frameLength);
    EXPECT_EQ(a.sbrPresent, c.sbr);
    EXPECT_EQ(a.psPresent, c.ps);
    EXPECT_EQ(a.extensionObjectType, c.extAot);
    if (c.sbr == 1) {
      EXPECT_EQ(a.extensionSamplingFrequency, c.extRate);
    }
  }
}

// dependsOnCoreCoder set and the configuration over before the 14-bit delay
// (ffmpeg plays such AAC-LC streams): the delay is read as 0; only a
// scalable type keeps the flag. Anything but padding where the delay would
// be, or no channel configuration, is still a configuration that ends early.
TEST(Asc, ConfigurationEndingBeforeTheCoreCoderDelay) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t status, depends, delay, validate;
  };
  auto bits = [](std::initializer_list<std::pair<uint32_t, int>> fields) {
    BitWriter w;
    for (const auto& f : fields) w.put(f.first, f.second);
    w.align();
    return w.bytes();
  };
  const Case cases[] = {
      {"LC 44.1 stereo, 12 12", {0x12, 0x12}, 0, 0, 0, 0},
      {"explicit SBR, over at a byte boundary", bits({{5, 5}, {6, 4}, {1, 4}, {3, 4}, {2, 5}, {0, 1}, {1, 1}}), 0, 0, 0, 0},
      {"scalable keeps the flag", bits({{6, 5}, {4, 4}, {2, 4}, {0, 1}, {1, 1}}), 0, 1, 0, 0},
      {"a set bit where the delay would be", {0x12, 0x13}, MP4AUDEC_OUT_OF_MEMORY, 0, 0, 0},
      {"a byte more", {0x12, 0x12, 0x00}, MP4AUDEC_OUT_OF_MEMORY, 0, 0, 0},
      {"no channel configuration", bits({{2, 5}, {4, 4}, {0, 4}, {0, 1}, {1, 1}}), MP4AUDEC_OUT_OF_MEMORY, 0, 0, 0},
      {"the whole delay (LC has no core coder)", bits({{2, 5}, {4, 4}, {2, 4}, {0, 1}, {1, 1}, {77, 14}, {0, 1}}), 0, 1,
       77, MP4AUDEC_ZERO_COUNT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t st = 0;
    AudioSpecificConfig a = parse(c.bytes, &st);
    ASSERT_EQ(st, c.status);
    if (st) continue;
    EXPECT_EQ(a.ga.dependsOnCoreCoder, c.depends);
    EXPECT_EQ(a.ga.coreCoderDelay, c.delay);
    EXPECT_EQ(a.ga.extensionFlag, 0);
    EXPECT_EQ(a.frameLength, 1024);
    if (a.objectType == 2) {
      EXPECT_EQ(ascValidate(&a), c.validate);
    }
  }
  // The stream opens and decodes silence as ffmpeg does.
  int32_t st = 0;
  AudioSpecificConfig a = parse({0x12, 0x12}, &st);
  ASSERT_EQ(st, 0);
  Mp4AudioDec* dec = mp4AudioDecOpenStream(&a);
  ASSERT_NE(dec, nullptr);
  mp4AudioDecClose(&dec);
}

TEST(Asc, ProgramConfigElementGivesTheChannelCount) {
  // ffmpeg's PCE configuration for stereo (-aac_pce 1).
  std::vector<uint8_t> b = {0x12, 0x00, 0x05, 0x04, 0x00, 0x00, 0x20, 0x0D};
  const char* comment = "Lavc59.37.100";
  b.insert(b.end(), comment, comment + 13);
  b.insert(b.end(), {0x56, 0xE5, 0x00});
  int32_t st = 0;
  AudioSpecificConfig a = parse(b, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(a.channelConfiguration, 0);
  EXPECT_EQ(a.channelCount, 2);
  EXPECT_EQ(a.ga.pce.present, 1);
  EXPECT_EQ(a.ga.pce.numFront, 1);
  EXPECT_EQ(a.ga.pce.frontIsCpe[0], 1);
  EXPECT_EQ(a.ga.pce.commentBytes, 13);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.ga.pce.comment), 13), comment);
  EXPECT_EQ(a.extensionObjectType, 5);
  EXPECT_EQ(ascValidate(&a), 0);
}

TEST(Asc, RecordCheck) {
  int32_t st = 0;
  // The sync extension with sbrPresent 0 passes (every ffmpeg LC file has it).
  AudioSpecificConfig a = parse({0x12, 0x10, 0x56, 0xE5, 0x00}, &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(ascValidate(&a), 0);
  EXPECT_EQ(a.extensionSamplingFrequency, 44100);
  // With SBR present, the extension rate must be the core rate or twice it.
  a.sbrPresent = 1;
  a.extensionSamplingFrequencyIndex = 0;  // 96 kHz over a 44.1 kHz core
  EXPECT_EQ(ascValidate(&a), MP4AUDEC_BAD_SAMPLING_FREQUENCY);
  a.extensionSamplingFrequencyIndex = 13;
  EXPECT_EQ(ascValidate(&a), MP4AUDEC_BAD_SAMPLING_FREQUENCY);
  a.extensionSamplingFrequencyIndex = 4;
  EXPECT_EQ(ascValidate(&a), 0);
  // Reserved rate indices and explicit 0 Hz.
  AudioSpecificConfig b = parse({0x12, 0x10}, &st);
  b.samplingFrequencyIndex = 14;
  EXPECT_EQ(ascValidate(&b), MP4AUDEC_BAD_SAMPLING_FREQUENCY);
  b.samplingFrequencyIndex = 15;
  b.samplingFrequency = 0;
  EXPECT_EQ(ascValidate(&b), MP4AUDEC_BAD_SAMPLING_FREQUENCY);
  // GA fields out of range.
  AudioSpecificConfig c = parse({0x12, 0x10}, &st);
  c.ga.extensionFlag = 1;
  EXPECT_EQ(ascValidate(&c), MP4AUDEC_ZERO_COUNT);
}

TEST(Asc, CopyCompareAndText) {
  int32_t st = 0;
  AudioSpecificConfig a = parse({0x12, 0x10, 0x56, 0xE5, 0x00}, &st);
  AudioSpecificConfig b;
  std::memset(&b, 0, sizeof(b));
  ASSERT_EQ(ascCopy(&b, &a), 0);
  EXPECT_EQ(ascCompare(&a, &b), 0);
  b.ga.frameLengthFlag = 1;
  EXPECT_EQ(ascCompare(&a, &b), MP4AUDEC_FAILURE);
  EXPECT_EQ(ascGetAot(&a), 2);
  EXPECT_EQ(ascGetLayerNumber(&a, nullptr), 0);
  char text[2048];
  ASSERT_EQ(ascPrint(&a, text), 0);
  const std::string t(text);
  EXPECT_NE(t.find("            AOT: 2 (AAC_LC)\n"), std::string::npos) << t;
  EXPECT_NE(t.find("  channelConfig: 2 (2 channel(s))\n"), std::string::npos) << t;
  EXPECT_NE(t.find("    framelength: 0 (1024 samples)\n"), std::string::npos) << t;
  EXPECT_NE(t.find("         extAOT: 5\n"), std::string::npos) << t;
  AudioSpecificConfig* recs[1] = {&a};
  char buf[512];
  EXPECT_EQ(mp4AudioDecAscToText(1, recs, sizeof(buf), buf), 0);
  EXPECT_EQ(std::string(buf).rfind("\nAudioSpecificConfig for layer 0:\n", 0), 0u);
  EXPECT_EQ(mp4AudioDecAscToText(0, recs, sizeof(buf), buf), MP4AUDEC_ZERO_COUNT);
  EXPECT_EQ(mp4AudioDecAscToText(14, recs, sizeof(buf), buf), MP4AUDEC_TOO_MANY_LAYERS);
  EXPECT_EQ(mp4AudioDecParseAsc(nullptr, 2, &a), MP4AUDEC_NULL_POINTER);
}

}  // namespace

namespace {

TEST(Asc, LayeredParses) {
  const uint8_t lcBytes[2] = {0x12, 0x10};
  const uint8_t* bytes[2] = {lcBytes, lcBytes};
  const int32_t counts[2] = {2, 2};
  const int32_t params[2] = {1, 1};
  AudioSpecificConfig a, b;
  std::memset(&a, 0, sizeof(a));
  std::memset(&b, 0, sizeof(b));
  AudioSpecificConfig* recs[2] = {&a, &b};
  EXPECT_EQ(mp4AudioDecParseAscLayers(bytes, counts, params, 2, recs), 0);
  EXPECT_EQ(b.layerIndex, 1);
  EXPECT_EQ(b.channelCount, 2);
  EXPECT_EQ(mp4AudioDecParseAscLayers(bytes, counts, params, 14, recs), MP4AUDEC_TOO_MANY_LAYERS);

  AudioSpecificConfig* slots[2] = {nullptr, nullptr};
  int32_t numbers = -1, perLayer[2] = {9, 9};
  EXPECT_EQ(mp4AudioDecParseAscScalable(bytes, 0, counts, 1, &numbers, slots, perLayer), MP4AUDEC_ZERO_COUNT);
  ASSERT_EQ(mp4AudioDecParseAscScalable(bytes, 2, counts, 1, &numbers, slots, perLayer), 0);
  ASSERT_NE(slots[0], nullptr);
  EXPECT_EQ(slots[1]->objectType, 2);
  EXPECT_EQ(numbers, 1);
  EXPECT_EQ(perLayer[0], 2);
  EXPECT_EQ(perLayer[1], 0);
  for (AudioSpecificConfig* s : slots) DEC_FREE(s);  // codec memory
}

}  // namespace
