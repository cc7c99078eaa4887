// The SBR interface: element set-up from the channel mode, the errors it
// refuses with, the shared crossover, the input rings' hold and the ring of
// payload slots between the SBR encoders and the core.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mp4sbr_ifc.h"
#include "timebuffer.h"

namespace {

constexpr int kFrame = kSbrIfcFrameLength;

std::string firstMessage(const CodecError* e) { return e && e->message ? e->message : ""; }

std::string lastFile(const CodecError* e) {
  while (e && e->next) e = e->next;
  return e && e->file ? e->file : "";
}

struct Ifc {
  SbrIfc* h = nullptr;
  ~Ifc() { sbrIfcDestroy(h); }
};

// Create and init; fails the test on an error.
void open(Ifc& ifc, SbrIfcConfig c) {
  CodecError* e = sbrIfcCreate(&ifc.h, &c);
  EXPECT_EQ(e, nullptr) << firstMessage(e);
  deleteError(e);
  ASSERT_NE(ifc.h, nullptr);
  e = sbrIfcInit(ifc.h, nullptr, nullptr);
  EXPECT_EQ(e, nullptr) << firstMessage(e);
  deleteError(e);
}

int32_t holdFor(const SbrIfc* h, int32_t e, int32_t coreDelay) {
  return h->timingOut[e] + (coreDelay - h->timingIn[e]) + 1;
}

TEST(SbrIfc, RefusesConfigurationsWithTheirMessages) {
  struct Case {
    SbrIfcConfig config;
    const char* message;  // of the chain's first record; null: the tuning's own
  } cases[] = {
      {{2, 0, 24000, 44100, 1}, "Invalid Mode"},                  // parametric stereo needs a mono core
      {{7, 0, 64000, 44100, 0}, "DetermineEncoderMode failed"},   // no configuration of seven channels
      {{3, 2, 64000, 44100, 0}, "DetermineEncoderMode failed"},   // pairs of an odd count
      {{2, 3, 64000, 44100, 0}, "DetermineEncoderMode failed"},   // no such variant
      {{0, 0, 64000, 44100, 0}, "DetermineEncoderMode failed"},
      {{2, 0, 64000, 100000, 0}, nullptr},                        // core rate beyond 48 kHz
      {{2, 0, 64000, 11025, 0}, nullptr},                         // core rate below 8 kHz
      {{2, 0, 0, 44100, 0}, nullptr},                             // no bitrate
  };
  for (const Case& c : cases) {
    SbrIfc* h = nullptr;
    CodecError* e = sbrIfcCreate(&h, &c.config);
    ASSERT_NE(e, nullptr) << c.config.channels << " " << c.config.sampleRate;
    if (c.message) {
      EXPECT_EQ(firstMessage(e), c.message);
    }
    // The error names this module, and the partly built record is handed out
    // for the caller to destroy.
    EXPECT_EQ(lastFile(e), "mp4sbr_ifc.cpp");
    EXPECT_NE(h, nullptr);
    deleteError(e);
    EXPECT_EQ(sbrIfcDestroy(h), 0);
  }
  CodecError* e = sbrIfcCreate(nullptr, &cases[0].config);
  EXPECT_NE(e, nullptr);
  deleteError(e);
}

TEST(SbrIfc, ElementsOfTheChannelModes) {
  struct Case {
    int32_t channels, variant;
    std::vector<int32_t> types;  // element types of the mapping
  } cases[] = {
      {1, 0, {kChannelElementSce}},
      {2, 0, {kChannelElementCpe}},
      {5, 0, {kChannelElementSce, kChannelElementCpe, kChannelElementCpe}},
      {6, 0, {kChannelElementSce, kChannelElementCpe, kChannelElementCpe, kChannelElementLfe}},
      {8, 0, {kChannelElementSce, kChannelElementCpe, kChannelElementCpe, kChannelElementCpe, kChannelElementLfe}},
      {4, 1, {kChannelElementSce, kChannelElementSce, kChannelElementSce, kChannelElementSce}},
      {6, 2, {kChannelElementCpe, kChannelElementCpe, kChannelElementCpe}},
  };
  for (const Case& c : cases) {
    Ifc ifc;
    open(ifc, {c.channels, c.variant, 32000 * c.channels, 44100, 0});
    const SbrIfc* h = ifc.h;
    ASSERT_EQ(h->mapping->count, static_cast<int32_t>(c.types.size())) << c.channels << "/" << c.variant;
    int32_t sbrChannels = 0, channel = 0;
    float shares = 0;
    for (int32_t e = 0; e < h->mapping->count; ++e) {
      const ChannelElement& el = h->mapping->elements[e];
      EXPECT_EQ(el.type, c.types[e]);
      EXPECT_EQ(el.first, channel);
      channel += el.channels;
      shares += el.share;
      const bool sbr = el.type != kChannelElementLfe;
      // An element without SBR has no configuration, encoder or slots.
      EXPECT_EQ(h->elementConfig[e] != nullptr, sbr);
      EXPECT_EQ(h->encoder[e] != nullptr, sbr);
      for (int32_t s = 0; s < kSbrIfcSlots; ++s) EXPECT_EQ(h->payload[s][e] != nullptr, sbr);
      if (sbr) sbrChannels += el.channels;
    }
    EXPECT_EQ(channel, c.channels);
    EXPECT_NEAR(shares, 1.0f, 1e-5f);
    EXPECT_EQ(sbrIfcGetSideInfoBitrate(h), kSbrIfcSideInfoPerChannel * sbrChannels);
    EXPECT_EQ(sbrIfcHasSbr(h), 1);
    EXPECT_EQ(sbrIfcHasPs(h), 0);
  }
}

// Elements whose own tunings would start at different frequencies share the
// lowest start index; one element keeps its tuning's.
TEST(SbrIfc, ElementsShareTheLowestStart) {
  // Five channels: a centre SCE with a fifth of the bitrate, two pairs with
  // two fifths each (per channel the same); six channels add an LFE whose
  // small share leaves the others more.
  for (int32_t channels : {2, 5, 6}) {
    Ifc ifc;
    open(ifc, {channels, 0, 20000 * channels, 44100, 0});
    int32_t lowest = 16;
    for (int32_t e = 0; e < ifc.h->mapping->count; ++e) {
      const ChannelElement& el = ifc.h->mapping->elements[e];
      if (el.type == kChannelElementLfe) continue;
      SbrConfig own;
      ASSERT_EQ(sbrInitConfigDefaults(&own, 0, 2, 1024), nullptr);
      ASSERT_EQ(sbrApplyTuning(&own, static_cast<int32_t>(20000.0f * channels * el.share), el.channels, 22050, 0),
                nullptr);
      lowest = std::min(lowest, own.startFreq);
    }
    for (int32_t e = 0; e < ifc.h->mapping->count; ++e) {
      if (!ifc.h->encoder[e]) continue;
      EXPECT_EQ(ifc.h->elementConfig[e]->startFreq, lowest) << channels << " channels, element " << e;
      SbrEncoderSettings set;
      sbrEncoderGetElementSettings(ifc.h->encoder[e], &set);
      EXPECT_EQ(set.startFreq, lowest);
    }
  }
  // Different bitrates pick different starts: the shared one is the lower.
  SbrConfig low, high;
  ASSERT_EQ(sbrInitConfigDefaults(&low, 0, 2, 1024), nullptr);
  ASSERT_EQ(sbrInitConfigDefaults(&high, 0, 2, 1024), nullptr);
  ASSERT_EQ(sbrApplyTuning(&low, 12000, 1, 22050, 0), nullptr);
  ASSERT_EQ(sbrApplyTuning(&high, 48000, 1, 22050, 0), nullptr);
  EXPECT_LT(low.startFreq, high.startFreq);
}

TEST(SbrIfc, ConfigurationDefaultsAndTuningRanges) {
  SbrConfig c;
  struct Defaults {
    int32_t codec, factor, length;
    bool ok;
  } defaults[] = {{0, 2, 1024, true}, {1, 2, 1024, false}, {0, 1, 1024, false}, {0, 2, 960, false}};
  for (const Defaults& d : defaults) {
    CodecError* e = sbrInitConfigDefaults(&c, d.codec, d.factor, d.length);
    EXPECT_EQ(e == nullptr, d.ok) << d.codec << " " << d.factor << " " << d.length;
    deleteError(e);
  }
  struct Tuning {
    int32_t bitRate, channels, coreRate, psMode;
    bool ok;
  } tunings[] = {{24000, 1, 22050, 0, true},  {64000, 2, 24000, 0, true}, {24000, 1, 8000, 0, true},
                 {24000, 1, 48000, 0, true},  {24000, 1, 22050, 1, true}, {24000, 2, 22050, 1, false},
                 {24000, 3, 22050, 0, false}, {24000, 0, 22050, 0, false}, {24000, 1, 7999, 0, false},
                 {24000, 1, 48001, 0, false}, {0, 1, 22050, 0, false}};
  for (const Tuning& t : tunings) {
    ASSERT_EQ(sbrInitConfigDefaults(&c, 0, 2, 1024), nullptr);
    CodecError* e = sbrApplyTuning(&c, t.bitRate, t.channels, t.coreRate, t.psMode);
    EXPECT_EQ(e == nullptr, t.ok) << t.bitRate << " " << t.channels << " " << t.coreRate << " " << t.psMode;
    if (!e) {
      EXPECT_TRUE(c.startFreq >= 0 && c.startFreq <= 15);
    }
    deleteError(e);
  }
}

// The crossover each slot carries is the SBR encoder's; the core reads it
// from the slot at the read position.
TEST(SbrIfc, SlotValueIsTheCrossover) {
  Ifc ifc;
  open(ifc, {2, 0, 48000, 44100, 0});
  SbrEncoderSettings set;
  sbrIfcGetSettings(ifc.h, &set);
  EXPECT_GT(set.crossoverHz, 3000);
  EXPECT_EQ(sbrIfcGetSlotValue(ifc.h), static_cast<float>(set.crossoverHz));
  for (int32_t s = 0; s < kSbrIfcSlots; ++s) {
    EXPECT_EQ(ifc.h->payload[s][0]->crossover, static_cast<float>(set.crossoverHz));
    EXPECT_EQ(ifc.h->payload[s][0]->capacity, kSbrPayloadBytes);
    for (int32_t t = 0; t < s; ++t) EXPECT_NE(ifc.h->payload[s][0]->data, ifc.h->payload[t][0]->data);
  }
  EXPECT_EQ(sbrIfcGetSlotValue(nullptr), 0.0f);
}

// The core takes the slots in the order they were filled; the write position
// wraps after ten frames and the read position follows on its own.
TEST(SbrIfc, RingHandsOutSlotsInTheOrderTheyWereFilled) {
  Ifc ifc;
  open(ifc, {2, 0, 48000, 44100, 0});
  ASSERT_EQ(sbrIfcSetCoreDelay(ifc.h, 5362), 0);
  std::vector<float> in(2 * kFrame, 0.0f);
  EXPECT_EQ(sbrIfcNextPayload(ifc.h), nullptr);  // nothing filled yet
  // Fill three ahead, then one in and one out for 25 frames.
  int32_t filled = 0, taken = 0;
  for (; filled < 3; ++filled) ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 2 * kFrame), 0);
  for (int32_t f = 0; f < 25; ++f) {
    ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 2 * kFrame), 0);
    ++filled;
    EXPECT_EQ(ifc.h->writeIndex, filled % kSbrIfcSlots);
    EXPECT_EQ(ifc.h->pending, filled - taken);
    SbrPayload** slots = sbrIfcNextPayload(ifc.h);
    ASSERT_NE(slots, nullptr);
    EXPECT_EQ(slots, ifc.h->payload[taken % kSbrIfcSlots]) << "frame " << f;
    EXPECT_GT(slots[0]->bits, 0);
    ++taken;
    EXPECT_EQ(ifc.h->readIndex, taken % kSbrIfcSlots);
  }
  // A full ring refuses a frame that would overwrite a slot not yet taken.
  while (ifc.h->pending < kSbrIfcSlots) ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 2 * kFrame), 0);
  EXPECT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 2 * kFrame), 1);
  for (int32_t i = 0; i < kSbrIfcSlots; ++i) ASSERT_NE(sbrIfcNextPayload(ifc.h), nullptr);
  EXPECT_EQ(sbrIfcNextPayload(ifc.h), nullptr);
  EXPECT_EQ(ifc.h->pending, 0);
}

// The payload the core takes for frame n is the one an SBR encoder of the
// same tuning writes for the input delayed by the core path: the interface's
// hold and ring add no frame and lose none.
TEST(SbrIfc, PayloadsAreThoseOfTheDelayedInput) {
  const int32_t coreDelay = 5362;
  const int32_t frames = 12;
  std::vector<float> signal(static_cast<size_t>(frames) * kFrame * 2);
  uint32_t seed = 1;
  for (size_t i = 0; i < signal.size() / 2; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const float noise = (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 8000.0f;
    const float burst = (i / 4096) % 3 == 1 ? noise : 0.1f * noise;
    signal[2 * i] = burst + 6000.0f * std::sin(0.37f * static_cast<float>(i));
    signal[2 * i + 1] = 0.5f * burst + 3000.0f * std::sin(0.91f * static_cast<float>(i));
  }
  Ifc ifc;
  open(ifc, {2, 0, 48000, 44100, 0});
  ASSERT_EQ(sbrIfcSetCoreDelay(ifc.h, coreDelay), 0);
  const SbrEncoderConfig rc = {44100, 2, 48000, 1, ifc.h->elementConfig[0]->startFreq};
  SbrEncoder* ref = nullptr;
  ASSERT_EQ(sbrEncoderOpen(&ref, &rc), kSbrEncOk);
  std::vector<float> delayed(static_cast<size_t>(coreDelay) * 2, 0.0f);
  delayed.insert(delayed.end(), signal.begin(), signal.end());
  uint8_t expected[kSbrEncMaxPayloadBytes];
  for (int32_t f = 0; f < frames; ++f) {
    ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, &signal[static_cast<size_t>(f) * kFrame * 2], 2 * kFrame), 0);
    SbrPayload** slots = sbrIfcNextPayload(ifc.h);
    ASSERT_NE(slots, nullptr);
    int32_t bits = 0;
    ASSERT_EQ(sbrEncoderEncodeFrame(ref, &delayed[static_cast<size_t>(f) * kFrame * 2], 2, expected, &bits),
              kSbrEncOk);
    ASSERT_EQ(slots[0]->bits, bits) << "frame " << f;
    EXPECT_EQ(std::memcmp(slots[0]->data, expected, static_cast<size_t>(bits + 7) / 8), 0) << "frame " << f;
  }
  sbrEncoderClose(ref);
}

// Without parametric stereo the element's input is held back by the hold of
// the timing values and the core delay, and each call adds a whole frame: a
// short last frame is completed with zeros.
TEST(SbrIfc, InputHoldAndShortFrames) {
  for (int32_t coreDelay : {5362, 2048, 100, 1}) {
    Ifc ifc;
    open(ifc, {2, 0, 48000, 44100, 0});
    int32_t in = -1, out = -1;
    CodecError* e = sbrIfcInit(ifc.h, &in, &out);  // a second init keeps the encoders
    ASSERT_EQ(e, nullptr);
    EXPECT_EQ(in, ifc.h->timingIn[0]);
    EXPECT_EQ(out, ifc.h->timingOut[0]);
    const int32_t d = holdFor(ifc.h, 0, coreDelay);
    // The SBR encoder needs the core path's delay, no more, no less.
    EXPECT_EQ(d, coreDelay);
    ASSERT_EQ(sbrIfcSetCoreDelay(ifc.h, coreDelay), 0);
    EXPECT_EQ(sbrIfcSetCoreDelay(ifc.h, coreDelay), 1);  // once only
    const TimeBuffer* a = ifc.h->inputBufferA[0];
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->length, d + kFrame);
    EXPECT_EQ(a->channels, 2);
    // 100 frames of (1, -1), then the frame's rest as zeros.
    std::vector<float> frame(200);
    for (int i = 0; i < 100; ++i) frame[2 * i] = 1.0f, frame[2 * i + 1] = -1.0f;
    const int32_t at = a->writePos;
    ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, frame.data(), 200), 0);
    EXPECT_EQ(a->writePos, (at + kFrame) % a->length);
    EXPECT_EQ(a->readPos, kFrame % a->length);
    for (int i = 0; i < kFrame; i += 50) {
      const float* p = a->data + static_cast<size_t>((at + i) % a->length) * 2;
      EXPECT_EQ(p[0], i < 100 ? 1.0f : 0.0f) << "frame " << i;
      EXPECT_EQ(p[1], i < 100 ? -1.0f : 0.0f) << "frame " << i;
    }
  }
}

// With parametric stereo the hold is taken by whole silent frames whose
// payloads wait in the ring, and the core's input is held back by the rest
// (half-rate samples); the given frames are written as they are.
TEST(SbrIfc, ParametricStereoPreRollAndCoreHold) {
  for (int32_t coreDelay : {5248, 5200, 4000, 7000}) {
    Ifc ifc;
    open(ifc, {1, 0, 32000, 44100, 1});
    EXPECT_EQ(sbrIfcHasPs(ifc.h), 1);
    const int32_t d = holdFor(ifc.h, 0, coreDelay);
    ASSERT_GT(d, 0);
    const int32_t frames = (d + kFrame - 1) / kFrame;
    const int32_t hold = (frames * kFrame - d) / 2;
    ASSERT_EQ(sbrIfcSetCoreDelay(ifc.h, coreDelay), 0) << coreDelay;
    EXPECT_EQ(ifc.h->pending, frames) << coreDelay;
    EXPECT_EQ(ifc.h->coreBuffer[0]->length, hold + kSbrIfcCoreFrameLength);
    // The core delay of the encoder interface leaves the core's input where
    // it is: one whole frame of payloads waits.
    if (coreDelay == 5248) {
      EXPECT_EQ(hold, 0);
      EXPECT_EQ(frames, 1);
    }
    // An impulse in both channels reaches the core's input after the stereo
    // encoder's banks and the hold.
    const int32_t pos = 1000;
    std::vector<float> core;
    std::vector<float> in(2 * kFrame, 0.0f);
    for (int32_t f = 0; f < 3; ++f) {
      std::fill(in.begin(), in.end(), 0.0f);
      if (f == 0) in[2 * pos] = in[2 * pos + 1] = 30000.0f;
      ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 2 * kFrame), 0);
      const float* p = nullptr;
      int32_t n = 0;
      ASSERT_EQ(sbrIfcGetCoreInput(ifc.h, &p, &n), 0);
      ASSERT_EQ(n, kSbrIfcCoreFrameLength);
      core.insert(core.end(), p, p + n);
      ASSERT_NE(sbrIfcNextPayload(ifc.h), nullptr);
    }
    size_t m = 1;
    for (size_t i = 1; i + 1 < core.size(); ++i)
      if (std::fabs(core[i]) > std::fabs(core[m])) m = i;
    // The peak between samples, by a parabola through the three largest.
    const double a = core[m - 1], b = core[m], c = core[m + 1];
    const double lag = 2.0 * (m + 0.5 * (a - c) / (a - 2 * b + c)) - pos;
    EXPECT_NEAR(lag, sbrIfcGetSbrDelay(ifc.h) + 2 * hold, 1.0) << coreDelay;
  }
  // A hold beyond what the ring can carry is refused.
  Ifc ifc;
  open(ifc, {1, 0, 32000, 44100, 1});
  EXPECT_EQ(sbrIfcSetCoreDelay(ifc.h, 30000), 1);
}

TEST(SbrIfc, ParametricStereoWritesExactlyTheGivenFrames) {
  Ifc ifc;
  open(ifc, {1, 0, 32000, 44100, 1});
  ASSERT_EQ(sbrIfcSetCoreDelay(ifc.h, 5248), 0);
  std::vector<float> in(2 * kFrame);
  for (int i = 0; i < kFrame; ++i) in[2 * i] = 5.0f, in[2 * i + 1] = 7.0f;
  ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 2 * kFrame), 0);
  for (int i = 0; i < 100; ++i) in[2 * i] = 1.0f, in[2 * i + 1] = 2.0f;
  ASSERT_EQ(sbrIfcEncodeFrame(ifc.h, in.data(), 200), 0);
  const TimeBuffer* a = ifc.h->inputBufferA[0];
  const TimeBuffer* b = ifc.h->inputBufferB[0];
  for (int i = 0; i < kFrame; i += 50) {
    EXPECT_EQ(a->data[i], i < 100 ? 1.0f : 5.0f) << i;
    EXPECT_EQ(b->data[i], i < 100 ? 2.0f : 7.0f) << i;
  }
}

// The mapping's input channels follow a channel order; what is not a
// permutation is refused and changes nothing.
TEST(SbrIfc, ChannelOrder) {
  Ifc ifc;
  open(ifc, {5, 0, 160000, 44100, 0});
  const int32_t order[5] = {2, 0, 1, 4, 3};
  ASSERT_EQ(sbrIfcSetChannelOrder(ifc.h, order), 0);
  const ChannelElement* el = ifc.h->mapping->elements;
  EXPECT_EQ(el[0].first, 2);
  EXPECT_EQ(el[1].first, 0);
  EXPECT_EQ(el[1].second, 1);
  EXPECT_EQ(el[2].first, 4);
  EXPECT_EQ(el[2].second, 3);
  const int32_t bad[][5] = {{0, 0, 1, 2, 3}, {0, 1, 2, 3, 5}, {-1, 0, 1, 2, 3}};
  for (const auto& o : bad) EXPECT_EQ(sbrIfcSetChannelOrder(ifc.h, o), 1);
  EXPECT_EQ(el[0].first, 2);
  EXPECT_EQ(sbrIfcSetChannelOrder(nullptr, order), 1);
}

TEST(SbrIfc, NullHandles) {
  EXPECT_EQ(sbrIfcSetCoreDelay(nullptr, 5362), 1);
  EXPECT_EQ(sbrIfcEncodeFrame(nullptr, nullptr, 0), 1);
  EXPECT_EQ(sbrIfcNextPayload(nullptr), nullptr);
  EXPECT_EQ(sbrIfcGetSideInfoBitrate(nullptr), 0);
  EXPECT_EQ(sbrIfcGetSbrDelay(nullptr), 0);
  EXPECT_EQ(sbrIfcHasSbr(nullptr), 0);
  EXPECT_EQ(sbrIfcHasPs(nullptr), 0);
  EXPECT_EQ(sbrIfcDestroy(nullptr), 0);
  const float* p = nullptr;
  int32_t n = 0;
  EXPECT_EQ(sbrIfcGetCoreInput(nullptr, &p, &n), 1);
  CodecError* e = sbrIfcInit(nullptr, nullptr, nullptr);
  EXPECT_EQ(firstMessage(e), "Invalid SBR Encoder handle");
  deleteError(e);
  // Frames before the buffers exist are refused.
  Ifc ifc;
  open(ifc, {1, 0, 24000, 44100, 0});
  EXPECT_EQ(sbrIfcEncodeFrame(ifc.h, nullptr, 0), 1);
  EXPECT_EQ(sbrIfcGetCoreInput(ifc.h, &p, &n), 1);  // no parametric stereo
}

}  // namespace
