// AudioSpecificConfig and program-config writers: byte-exact configurations
// of the product's presets and the standard's signalling forms, read back by
// the decoder's parser, and the refusals. The preset configurations are also
// written to the fixture folder, where a shell step puts each into an MP4
// file for mediainfo and ffprobe.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asc.h"
#include "audiospecificconfig.h"
#include "encoder_test_util.h"
#include "mp4AudioDecIfc.h"
#include "mp4asc.h"
#include "mp4audioheader.h"
#include "prconfig.h"
#include "utillib.h"

namespace {

// Independent MSB-first bit string builder for expected bytes.
class Bits {
 public:
  Bits& put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (count_ % 8 == 0) bytes_.push_back(0);
      if ((v >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (count_ % 8));
      ++count_;
    }
    return *this;
  }
  int count() const { return count_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int count_ = 0;
};

struct Config {
  int32_t core = 2;
  int32_t rate = 44100;
  int32_t channelConfiguration = 2;
  int32_t extension = 0;
  int32_t signalling = 0;
  int32_t sbr = 0;
  int32_t ps = 0;
  int32_t extensionRate = 0;
  PceRecord* pce = nullptr;
};

struct Written {
  CodecError* error = nullptr;
  int32_t bits = 0;
  std::vector<uint8_t> bytes;
};

// Writes one configuration through the layer interface, as the encoder
// interface does.
Written writeConfig(const Config& c) {
  Written w;
  Mp4AscHandle* h = nullptr;
  EXPECT_EQ(createMp4Asc(&h, 1, 1), nullptr);
  if (!h) return w;
  GaSpecificConfigRecord ga;
  std::memset(&ga, 0, sizeof(ga));
  ga.frameLength = 1024;
  ga.pce = c.pce;
  AscLayer& layer = h->layers[0];
  layer.present = 1;
  layer.samplingRate = c.rate;
  layer.asc.objectType = c.core;
  layer.asc.samplingFrequency = c.rate;
  layer.asc.channelConfiguration = c.channelConfiguration;
  layer.asc.extensionObjectType = c.extension;
  layer.asc.sbrSignalling = c.signalling;
  layer.asc.sbrPresentFlag = c.sbr;
  layer.asc.psPresentFlag = c.ps;
  layer.asc.extensionSamplingFrequency = c.extensionRate;
  layer.asc.ga = &ga;
  layer.asc.specificWriter = writeGaSpecificConfig;
  Mp4AscSlot slots[kMp4AscLayers];
  std::memset(slots, 0xEE, sizeof(slots));
  w.error = writeMp4AscToBuffer(h, slots);
  w.bits = slots[0].bits;
  w.bytes.assign(slots[0].bytes, slots[0].bytes + (slots[0].bits + 7) / 8);
  for (int i = 1; i < kMp4AscLayers; ++i) EXPECT_EQ(slots[i].bits, 0);
  deleteMp4Asc(h);
  return w;
}

std::string hex(const std::vector<uint8_t>& b) {
  std::string s;
  char t[4];
  for (uint8_t x : b) {
    std::snprintf(t, sizeof(t), "%02x ", x);
    s += t;
  }
  return s;
}

struct PresetCase {
  const char* name;
  Config config;
  int bits;
  std::vector<uint8_t> expected;
  // What the decoder's parser must read back.
  int32_t aot, rate, channels, sbr, ps, extensionRate;
};

std::vector<PresetCase> presetCases() {
  Config lc44;
  Config lc32;
  lc32.rate = 32000;
  Config lc22;
  lc22.rate = 22050;
  Config mono32;
  mono32.rate = 32000;
  mono32.channelConfiguration = 1;
  Config he;
  he.rate = 22050;
  he.extension = 5;
  he.signalling = kAscSbrBackwardCompatible;
  he.sbr = 1;
  he.extensionRate = 44100;
  Config hev2 = he;
  hev2.channelConfiguration = 1;
  hev2.extension = 29;
  hev2.ps = 1;
  return {
      {"lc44_stereo", lc44, 16, {0x12, 0x10}, 2, 44100, 2, -1, -1, 0},
      {"lc32_stereo", lc32, 16, {0x12, 0x90}, 2, 32000, 2, -1, -1, 0},
      // At 24 kHz or less the sync extension says explicitly: no SBR.
      {"lc22_stereo", lc22, 33, {0x13, 0x90, 0x56, 0xe5, 0x00}, 2, 22050, 2, 0, -1, 0},
      {"lc32_mono", mono32, 16, {0x12, 0x88}, 2, 32000, 1, -1, -1, 0},
      {"he_stereo", he, 37, {0x13, 0x90, 0x56, 0xe5, 0xa0}, 2, 22050, 2, 1, -1, 44100},
      {"hev2", hev2, 49, {0x13, 0x88, 0x56, 0xe5, 0xa5, 0x48, 0x80}, 2, 22050, 1, 1, 1, 44100},
  };
}

AudioSpecificConfig parseBack(const std::vector<uint8_t>& bytes, int32_t* status) {
  AudioSpecificConfig a;
  std::memset(&a, 0, sizeof(a));
  *status = mp4AudioDecParseAsc(bytes.data(), static_cast<int32_t>(bytes.size()), &a);
  return a;
}

TEST(AudioSpecificConfig, PresetsAreByteExactAndParseBack) {
  for (const PresetCase& p : presetCases()) {
    SCOPED_TRACE(p.name);
    Written w = writeConfig(p.config);
    ASSERT_EQ(w.error, nullptr);
    EXPECT_EQ(w.bits, p.bits);
    EXPECT_EQ(hex(w.bytes), hex(p.expected));
    int32_t status = -1;
    AudioSpecificConfig a = parseBack(w.bytes, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(a.objectType, p.aot);
    EXPECT_EQ(a.samplingFrequency, p.rate);
    EXPECT_EQ(a.channelConfiguration, p.channels);
    EXPECT_EQ(a.frameLength, 1024);
    EXPECT_EQ(a.sbrPresent, p.sbr);
    EXPECT_EQ(a.psPresent, p.ps);
    if (p.sbr == 1) {
      EXPECT_EQ(a.extensionObjectType, 5);
      EXPECT_EQ(a.extensionSamplingFrequency, p.extensionRate);
    }
    // For the MP4 check of the shell step.
    EXPECT_TRUE(writeFile(fixturePath(std::string("asc_") + p.name + ".bin"), w.bytes.data(), w.bytes.size()));
  }
}

// The other signalling forms, each against a bit string built from the
// standard's syntax, and parsed back.
TEST(AudioSpecificConfig, SignallingFormsAndEscapes) {
  struct Case {
    const char* what;
    Config config;
    Bits expected;
    int32_t aot, rate, sbr, ps, extensionRate;
  };
  std::vector<Case> cases;
  {
    Config c;  // hierarchical: AOT 5, core rate, configuration, extension rate, core type, GA
    c.rate = 24000; c.extension = 5; c.signalling = kAscSbrHierarchical; c.sbr = 1; c.extensionRate = 48000;
    Bits b;
    b.put(5, 5).put(6, 4).put(2, 4).put(3, 4).put(2, 5).put(0, 3);
    cases.push_back({"hierarchical SBR", c, b, 2, 24000, 1, -1, 48000});
  }
  {
    Config c;  // hierarchical with PS
    c.rate = 24000; c.channelConfiguration = 1; c.extension = 29; c.signalling = kAscSbrHierarchical;
    c.sbr = 1; c.ps = 1; c.extensionRate = 48000;
    Bits b;
    b.put(29, 5).put(6, 4).put(1, 4).put(3, 4).put(2, 5).put(0, 3);
    cases.push_back({"hierarchical PS", c, b, 2, 24000, 1, 1, 48000});
  }
  {
    Config c;  // implicit: nothing but the core configuration
    c.rate = 24000; c.extension = 5; c.signalling = kAscSbrImplicit; c.sbr = 1; c.extensionRate = 48000;
    Bits b;
    b.put(2, 5).put(6, 4).put(2, 4).put(0, 3);
    cases.push_back({"implicit", c, b, 2, 24000, -1, -1, 0});
  }
  {
    Config c;  // backward-compatible with sbrPresentFlag 0 ends after the flag
    c.rate = 48000; c.extension = 5; c.signalling = kAscSbrBackwardCompatible; c.sbr = 0;
    Bits b;
    b.put(2, 5).put(3, 4).put(2, 4).put(0, 3).put(0x2b7, 11).put(5, 5).put(0, 1);
    cases.push_back({"sync extension without SBR", c, b, 2, 48000, 0, -1, 0});
  }
  {
    Config c;  // a rate outside the table: index 15 and 24 bits
    c.rate = 50000;
    Bits b;
    b.put(2, 5).put(15, 4).put(50000, 24).put(2, 4).put(0, 3);
    cases.push_back({"50000 Hz", c, b, 2, 50000, -1, -1, 0});
  }
  {
    Config c;  // 128-130: object types 1-3 without SBR signalling
    c.core = kAscCoreLcNoSbr; c.extension = 5; c.signalling = kAscSbrBackwardCompatible; c.sbr = 1;
    c.extensionRate = 88200;
    Bits b;
    b.put(2, 5).put(4, 4).put(2, 4).put(0, 3);
    cases.push_back({"type 129", c, b, 2, 44100, -1, -1, 0});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Written w = writeConfig(c.config);
    ASSERT_EQ(w.error, nullptr);
    EXPECT_EQ(w.bits, c.expected.count());
    EXPECT_EQ(hex(w.bytes), hex(c.expected.bytes()));
    int32_t status = -1;
    AudioSpecificConfig a = parseBack(w.bytes, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(a.objectType, c.aot);
    EXPECT_EQ(a.samplingFrequency, c.rate);
    EXPECT_EQ(a.sbrPresent, c.sbr);
    EXPECT_EQ(a.psPresent, c.ps);
    if (c.sbr == 1) {
      EXPECT_EQ(a.extensionSamplingFrequency, c.extensionRate);
    }
  }
}

// Error-resilient AAC LC: extensionFlag 1 with the three resilience flags and
// extensionFlag3, then epConfig; epConfig 3 appends the prepared
// ErrorProtectionSpecificConfig bits and directMapping.
TEST(AudioSpecificConfig, ErrorResilientTypes) {
  for (int32_t epConfig : {0, 3}) {
    SCOPED_TRACE(epConfig);
    GaSpecificConfigRecord ga;
    std::memset(&ga, 0, sizeof(ga));
    ga.frameLength = 960;
    AscWriteRecord r;
    std::memset(&r, 0, sizeof(r));
    r.objectType = 17;
    r.samplingFrequency = 48000;
    r.channelConfiguration = 1;
    r.ga = &ga;
    r.specificWriter = writeGaSpecificConfig;
    r.epConfig = epConfig;
    r.directMapping = 1;
    EXPECT_EQ(setErResilienceFlags(&r, 1, 0, 1), &ga);
    bit_buf* ep = CreateBitBuffer(64);
    WriteBits(ep, 0x2D, 7);  // stands for a prepared ErrorProtectionSpecificConfig
    r.errorProtectionConfig = ep;
    bit_buf* b = CreateBitBuffer(256);
    ASSERT_EQ(writeAudioSpecificConfig(&r, b), nullptr);
    Bits want;
    want.put(17, 5).put(3, 4).put(1, 4);
    want.put(1, 1).put(0, 1).put(1, 1);            // 960 frames, no core coder, extensionFlag
    want.put(1, 1).put(0, 1).put(1, 1).put(0, 1);  // section, scalefactor, spectral resilience; extensionFlag3
    want.put(static_cast<uint32_t>(epConfig), 2);
    if (epConfig == 3) want.put(0x2D, 7).put(1, 1);
    EXPECT_EQ(GetBitsAvail(b), want.count());
    std::vector<uint8_t> bytes(want.bytes().size());
    ReadBytes(b, bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(hex(bytes), hex(want.bytes()));
    DeleteBitBuffer(b);
    DeleteBitBuffer(ep);
  }
  EXPECT_EQ(setErResilienceFlags(nullptr, 1, 1, 1), nullptr);
}

// A configuration that does not fit a 64-byte slot is refused, not cut.
TEST(AudioSpecificConfig, LongConfigurationIsRefused) {
  const PceElement list[2] = {PceElement{kPceSce, 0, 0, 0}, PceElement{kPceCpe, 0, 0, 0}};
  PceRecord* pce = nullptr;
  ASSERT_EQ(createPce(&pce, 2, 0, 44100, 2, list, nullptr), nullptr);
  pce->commentFieldBytes = 80;
  pce->comment = static_cast<uint8_t*>(utilCalloc(80, 1, __FILE__, __LINE__));
  Config c;
  c.channelConfiguration = 0;
  c.pce = pce;
  Written w = writeConfig(c);
  ASSERT_NE(w.error, nullptr);
  EXPECT_EQ(w.bits, 0);
  deleteError(w.error);
  pce->commentFieldBytes = 3;
  std::memcpy(pce->comment, "vog", 3);
  w = writeConfig(c);
  ASSERT_EQ(w.error, nullptr);
  int32_t status = -1;
  AudioSpecificConfig a = parseBack(w.bytes, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(a.ga.pce.commentBytes, 3);
  EXPECT_EQ(std::memcmp(a.ga.pce.comment, "vog", 3), 0);
  EXPECT_EQ(a.channelCount, 3);
  deletePce(pce);
}

TEST(AudioSpecificConfig, RefusedConfigurations) {
  struct Case {
    const char* what;
    Config config;
    const char* message;
  };
  Config badMode;
  badMode.extension = 5; badMode.signalling = 0; badMode.sbr = 1;
  Config badMode4 = badMode;
  badMode4.signalling = 4;
  Config noSbr;
  noSbr.extension = 5; noSbr.signalling = kAscSbrHierarchical; noSbr.sbr = 0;
  Config noPs;
  noPs.extension = 29; noPs.signalling = kAscSbrHierarchical; noPs.sbr = 1; noPs.ps = 0;
  const Case cases[] = {
      {"signalling 0 with an extension", badMode, "Invalid SBR signaling mode."},
      {"signalling 4", badMode4, "Invalid SBR signaling mode."},
      {"AOT 5 without SBR", noSbr, "Invalid AOT_SBR configuration."},
      {"AOT 29 without PS", noPs, "Invalid AOT_PS configuration."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Written w = writeConfig(c.config);
    ASSERT_NE(w.error, nullptr);
    EXPECT_STREQ(w.error->message, c.message);
    deleteError(w.error);
  }
  Mp4AscHandle* h = nullptr;
  CodecError* e = createMp4Asc(&h, 2, 1);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "invalid number of programs");
  deleteError(e);
  e = createMp4Asc(&h, 1, 11);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "invalid number of layers");
  deleteError(e);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(deleteMp4Asc(nullptr), 0);
}

PceElement element(int32_t type, int32_t tag) { return PceElement{type, tag, 0, 0}; }

// Channel configuration 0 with a PCE of four single-channel elements,
// against the standard's syntax, and read back by the decoder.
TEST(ProgramConfig, FourSingleChannelElementsInTheFront) {
  const PceElement list[4] = {element(kPceSce, 0), element(kPceSce, 1), element(kPceSce, 2), element(kPceSce, 3)};
  PceRecord* pce = nullptr;
  ASSERT_EQ(createPce(&pce, 2, 0, 48000, 4, list, nullptr), nullptr);
  EXPECT_EQ(pce->numFront, 4);
  EXPECT_EQ(pceGetChannelCount(pce), 4);
  EXPECT_EQ(pceGetObjectType(pce), 1);
  Config c;
  c.rate = 48000;
  c.channelConfiguration = 0;
  c.pce = pce;
  Written w = writeConfig(c);
  ASSERT_EQ(w.error, nullptr);
  Bits b;
  b.put(2, 5).put(3, 4).put(0, 4);   // LC, 48 kHz, configuration 0
  b.put(0, 1).put(0, 1).put(0, 1);   // frameLength, dependsOnCoreCoder, extensionFlag
  b.put(0, 4).put(1, 2).put(3, 4);   // tag, object type, rate index
  b.put(4, 4).put(0, 4).put(0, 4).put(0, 2).put(0, 3).put(0, 4);
  b.put(0, 1).put(0, 1).put(0, 1);   // no mixdowns
  for (int i = 0; i < 4; ++i) b.put(0, 1).put(static_cast<uint32_t>(i), 4);
  b.put(0, (8 - b.count() % 8) % 8);  // byte alignment from the configuration's start
  b.put(0, 8);                        // no comment
  EXPECT_EQ(w.bits, b.count());
  EXPECT_EQ(hex(w.bytes), hex(b.bytes()));
  int32_t status = -1;
  AudioSpecificConfig a = parseBack(w.bytes, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(a.ga.pce.numFront, 4);
  EXPECT_EQ(a.ga.pce.channelCount, 4);
  EXPECT_EQ(a.channelCount, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a.ga.pce.frontIsCpe[i], 0);
    EXPECT_EQ(a.ga.pce.frontTag[i], i);
  }
  deletePce(pce);
}

TEST(ProgramConfig, ElementListsAndConfigurations) {
  // All pairs: the first is the front pair, later ones go to the side.
  const PceElement pairs[3] = {element(kPceCpe, 0), element(kPceCpe, 1), element(kPceCpe, 2)};
  PceRecord* pce = nullptr;
  ASSERT_EQ(createPce(&pce, 2, 0, 44100, 3, pairs, nullptr), nullptr);
  EXPECT_EQ(pce->numFront, 1);
  EXPECT_EQ(pce->numSide, 2);
  EXPECT_EQ(pceGetChannelCount(pce), 6);
  deletePce(pce);
  // Speaker positions place single and pair elements; LFE, data and coupling
  // elements go to their own lists.
  const PceElement mixed[5] = {element(kPceSce, 0), element(kPceCpe, 0), element(kPceCpe, 1), element(kPceLfe, 0),
                               element(kPceDse, 0)};
  const int32_t positions[5] = {0, 0, 2, 0, 0};
  ASSERT_EQ(createPce(&pce, 2, 0, 44100, 5, mixed, positions), nullptr);
  EXPECT_EQ(pce->numFront, 2);
  EXPECT_EQ(pce->numBack, 1);
  EXPECT_EQ(pce->numLfe, 1);
  EXPECT_EQ(pce->numAssocData, 1);
  EXPECT_EQ(pceGetChannelCount(pce), 6);
  {
    // Written with its element id and read back by the decoder's PCE parser
    // (which expects the id and tag to have been read).
    bit_buf* b = CreateBitBuffer(1024);
    ASSERT_EQ(writePce(pce, b, 1), nullptr);
    const int32_t bits = GetBitsAvail(b);
    std::vector<uint8_t> bytes((bits + 7) / 8);
    ReadBytes(b, bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(bytes[0] >> 5, 5);  // the element id
    DeleteBitBuffer(b);
  }
  deletePce(pce);
  // Configurations 1-7 build their elements; 0, 8 and 9 are refused.
  const int32_t channels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
  for (int cc = 1; cc <= 7; ++cc) {
    SCOPED_TRACE(cc);
    ASSERT_EQ(createPce(&pce, 2, cc, 44100, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(pceGetChannelCount(pce), channels[cc]);
    deletePce(pce);
  }
  const struct { int32_t cc; const char* message; } refused[] = {
      {0, "PCE MODE needs element list"},
      {8, "this speaker mapping is not yet supported"},
      {9, "Invalid channel configuration"},
  };
  for (const auto& r : refused) {
    CodecError* e = createPce(&pce, 2, r.cc, 44100, 0, nullptr, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->message, r.message);
    deleteError(e);
    EXPECT_NE(pce, nullptr);  // kept for the caller to delete
    deletePce(pce);
  }
  CodecError* e = createPce(&pce, 5, 2, 44100, 0, nullptr, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "Audio Object Type not supported by PCE!");
  deleteError(e);
  EXPECT_EQ(pceGetObjectType(nullptr), -1);
}

TEST(AudioHeader, ObjectTypeRateAndChannels) {
  struct Case {
    int32_t rate, channels, aot;
    Bits expected;
    const char* error;
  };
  std::vector<Case> cases;
  cases.push_back({44100, 2, 2, Bits().put(2, 5).put(4, 4).put(2, 4), nullptr});
  cases.push_back({48000, 8, 2, Bits().put(2, 5).put(3, 4).put(7, 4), nullptr});
  cases.push_back({50000, 1, 5, Bits().put(5, 5).put(15, 4).put(50000, 24).put(1, 4), nullptr});
  cases.push_back({44100, 7, 2, Bits(), "Invalid channel number"});
  cases.push_back({44100, 9, 2, Bits(), "Invalid channel number"});
  for (const Case& c : cases) {
    bit_buf* b = CreateBitBuffer(256);
    CodecError* e = writeMp4AudioHeader(c.rate, c.channels, c.aot, b);
    if (c.error) {
      ASSERT_NE(e, nullptr);
      EXPECT_STREQ(e->message, c.error);
      EXPECT_EQ(GetBitsAvail(b), 0);
      deleteError(e);
    } else {
      ASSERT_EQ(e, nullptr);
      EXPECT_EQ(GetBitsAvail(b), c.expected.count());
      std::vector<uint8_t> bytes(c.expected.bytes().size());
      ReadBytes(b, bytes.data(), static_cast<int32_t>(bytes.size()));
      EXPECT_EQ(hex(bytes), hex(c.expected.bytes()));
    }
    DeleteBitBuffer(b);
  }
  EXPECT_EQ(getSamplingFrequencyIndex(7350), 12);
  EXPECT_EQ(getSamplingFrequencyIndex(44099), 15);
  EXPECT_EQ(findSamplingRateIndex(44099), -1);
}

}  // namespace
