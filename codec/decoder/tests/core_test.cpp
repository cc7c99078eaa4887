// The AAC-LC core on hand-made raw data blocks: element loop limits, the
// bound checks on side information, fill/data/PCE payloads, and units that
// end early or never end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "aactables.h"
#include "bitwriter.h"
#include "mp4AudioDecIfc.h"

namespace {

// An open decoder with its buffers for one configuration.
class Decoder {
 public:
  explicit Decoder(std::vector<uint8_t> ascBytes) {
    std::memset(&asc_, 0, sizeof(asc_));
    status_ = mp4AudioDecParseAsc(ascBytes.data(), static_cast<int32_t>(ascBytes.size()), &asc_);
    AudioSpecificConfig* recs[1] = {&asc_};
    if (!status_) dec_ = mp4AudioDecOpen(recs, 1);
    au_ = auBufferCreate(nullptr, 0);
    cu_ = cuBufferCreate(2 * (asc_.channelCount ? asc_.channelCount : 1), 2048, 44100, 2048);
  }
  ~Decoder() {
    mp4AudioDecClose(&dec_);
    auBufferDestroy(&au_);
    cuBufferDestroy(&cu_);
  }
  bool open() const { return dec_ != nullptr; }
  int32_t decode(const std::vector<uint8_t>& unit) {
    auBufferReset(au_);
    if (!unit.empty()) auBufferFeed(au_, unit.data(), static_cast<int32_t>(unit.size()));
    cuBufferReset(cu_);
    AuBuffer* aus[1] = {au_};
    return mp4AudioDecDecodeAu(dec_, aus, cu_);
  }
  CuBuffer* cu() { return cu_; }
  AuBuffer* au() { return au_; }
  Mp4AudioDec* dec() { return dec_; }

 private:
  AudioSpecificConfig asc_;
  int32_t status_ = 0;
  Mp4AudioDec* dec_ = nullptr;
  AuBuffer* au_ = nullptr;
  CuBuffer* cu_ = nullptr;
};

const std::vector<uint8_t> kMono44 = {0x12, 0x08};    // LC 44.1 kHz, configuration 1
const std::vector<uint8_t> kStereo44 = {0x12, 0x10};  // configuration 2

void putCode(BitWriter& w, const AacHuffmanBook& b, int symbol) { w.put(b.codes[symbol], b.lengths[symbol]); }

// Options for one hand-made long-window channel stream over band 0.
struct Ics {
  int globalGain = 100;
  int maxSfb = 1;
  int codebook = 1;
  int sfDelta = 0;        // scale-factor difference coded for band 0
  bool predictor = false;
  bool pulse = false;
  int pulseStart = 0;
  bool tns = false;
  int tnsOrder = 0;
  bool escapeRun = false;  // codebook 11 escape with a 13-bit prefix
};

void writeIcs(BitWriter& w, const Ics& o, bool withInfo = true) {
  w.put(o.globalGain, 8);
  if (withInfo) {
    w.put(0, 1);  // reserved
    w.put(0, 2);  // only long
    w.put(0, 1);  // sine
    w.put(o.maxSfb, 6);
    w.put(o.predictor ? 1 : 0, 1);
  }
  for (int s = 0; s < o.maxSfb; ++s) {  // one section per band
    w.put(o.codebook, 4);
    w.put(1, 5);
  }
  for (int s = 0; s < o.maxSfb; ++s)
    if (o.codebook != 0) putCode(w, kAacScalefactorBook, 60 + (s == 0 ? o.sfDelta : 0));
  w.put(o.pulse ? 1 : 0, 1);
  if (o.pulse) {
    w.put(0, 2);
    w.put(o.pulseStart, 6);
    w.put(1, 5);
    w.put(3, 4);
  }
  w.put(o.tns ? 1 : 0, 1);
  if (o.tns) {
    w.put(1, 2);   // one filter
    w.put(0, 1);   // coefficient resolution 3 bits
    w.put(10, 6);  // length
    w.put(o.tnsOrder, 5);
    if (o.tnsOrder) {
      w.put(0, 1);
      w.put(0, 1);
      for (int i = 0; i < o.tnsOrder; ++i) w.put(1, 3);
    }
  }
  w.put(0, 1);  // gain control
  // Spectral data: band 0 of the 44.1 kHz layout has 4 lines.
  for (int s = 0; s < o.maxSfb; ++s) {
    if (o.codebook == 0 || o.codebook > 11 || s >= kAacRateTables[4].numLong1024) continue;
    const AacHuffmanBook& b = kAacSpectralBooks[o.codebook];
    const int width = kAacRateTables[4].long1024[s + 1] - kAacRateTables[4].long1024[s];
    for (int k = 0; k < width; k += b.dimension) {
      if (o.escapeRun && s == 0 && k == 0) {
        putCode(w, b, 16 * 17 + 0);  // (16, 0): escape on the first value
        w.put(0, 1);                  // its sign
        for (int i = 0; i < 9; ++i) w.put(1, 1);  // N would grow past 12
        w.put(0, 1);
        w.put(0, 13);
        continue;
      }
      // All-zero tuple.
      const int zero = b.dimension == 4 ? ((b.valueOffset * b.modulo + b.valueOffset) * b.modulo + b.valueOffset) * b.modulo + b.valueOffset
                                        : b.valueOffset * b.modulo + b.valueOffset;
      putCode(w, b, zero);
    }
  }
}

std::vector<uint8_t> sceUnit(const Ics& o) {
  BitWriter w;
  w.put(0, 3);
  w.put(0, 4);
  writeIcs(w, o);
  w.put(7, 3);
  w.align();
  return w.bytes();
}

std::vector<uint8_t> cpeUnit(const Ics& o, int count = 1) {
  BitWriter w;
  for (int i = 0; i < count; ++i) {
    w.put(1, 3);
    w.put(i, 4);
    w.put(0, 1);  // separate windows
    writeIcs(w, o);
    writeIcs(w, o);
  }
  w.put(7, 3);
  w.align();
  return w.bytes();
}

TEST(Core, MinimalBlocksDecodeToSilence) {
  Decoder mono(kMono44);
  ASSERT_TRUE(mono.open());
  Ics empty;
  empty.maxSfb = 0;
  EXPECT_EQ(mono.decode(sceUnit(empty)), 0);
  EXPECT_EQ(mono.decode(sceUnit(Ics())), 0);
  int32_t n = 0, ch = 0;
  cuBufferGetSamplesPerChannel(mono.cu(), &n);
  cuBufferGetChannels(mono.cu(), &ch);
  EXPECT_EQ(n, 1024);
  EXPECT_EQ(ch, 1);
  Decoder stereo(kStereo44);
  EXPECT_EQ(stereo.decode(cpeUnit(Ics())), 0);
}

TEST(Core, SideInformationOutOfRangeFailsTheBlock) {
  struct Case {
    const char* what;
    Ics ics;
  };
  std::vector<Case> cases;
  Ics i;
  i.codebook = 12;
  cases.push_back({"reserved codebook 12", i});
  i = Ics();
  i.predictor = true;
  cases.push_back({"prediction (not an LC tool)", i});
  i = Ics();
  i.maxSfb = 50;  // 49 bands at 44.1 kHz
  cases.push_back({"max band beyond the band count", i});
  i = Ics();
  i.globalGain = 255;
  i.sfDelta = 60;
  cases.push_back({"scale factor above 255", i});
  i = Ics();
  i.pulse = true;
  i.pulseStart = 60;
  cases.push_back({"pulse start band beyond the layout", i});
  i = Ics();
  i.tns = true;
  i.tnsOrder = 21;
  cases.push_back({"TNS order 21 on a long window", i});
  i = Ics();
  i.codebook = 11;
  i.escapeRun = true;
  cases.push_back({"escape longer than 12 bits", i});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Decoder d(kMono44);
    EXPECT_EQ(d.decode(sceUnit(Ics())), 0);
    EXPECT_EQ(d.decode(sceUnit(c.ics)), MP4AUDEC_DECODE_ERROR);
    EXPECT_EQ(mp4AudioDecGetLastError(d.dec()), MP4AUDEC_DECODE_ERROR);
    // The handle stays usable.
    EXPECT_EQ(d.decode(sceUnit(Ics())), 0);
  }
  Ics ok;
  ok.tns = true;
  ok.tnsOrder = 20;
  Decoder d(kMono44);
  EXPECT_EQ(d.decode(sceUnit(ok)), 0) << "order 20 is accepted";
  ok = Ics();
  ok.pulse = true;
  ok.pulseStart = 48;
  EXPECT_EQ(d.decode(sceUnit(ok)), 0) << "pulse in the last band";
}

TEST(Core, SectionRunningPastMaxBandFails) {
  BitWriter w;
  w.put(0, 3);
  w.put(0, 4);
  w.put(100, 8);
  w.put(0, 4);
  w.put(2, 6);  // max band 2
  w.put(0, 1);
  w.put(1, 4);
  w.put(3, 5);  // a section of 3 bands
  w.put(7, 3);
  w.align();
  Decoder d(kMono44);
  EXPECT_EQ(d.decode(w.bytes()), MP4AUDEC_DECODE_ERROR);
}

TEST(Core, ChannelCountMustMatchTheStream) {
  Decoder stereo(kStereo44);
  EXPECT_EQ(stereo.decode(cpeUnit(Ics(), 2)), MP4AUDEC_DECODE_ERROR) << "two pairs in a stereo stream";
  EXPECT_EQ(stereo.decode(sceUnit(Ics())), MP4AUDEC_DECODE_ERROR) << "fewer channels than the stream has";
  int32_t ch = 0;
  cuBufferGetChannels(stereo.cu(), &ch);
  EXPECT_EQ(ch, 0) << "a failed block writes nothing";
  EXPECT_EQ(stereo.decode(cpeUnit(Ics())), 0);
}

TEST(Core, ProgramConfigStreamLearnsItsChannelCount) {
  // Configuration 0 with a PCE of one front SCE.
  BitWriter w;
  w.put(2, 5); w.put(4, 4); w.put(0, 4); w.put(0, 3);
  w.put(0, 4); w.put(1, 2); w.put(4, 4);
  w.put(1, 4); w.put(0, 4); w.put(0, 4); w.put(0, 2); w.put(0, 3); w.put(0, 4);
  w.put(0, 1); w.put(0, 1); w.put(0, 1);
  w.put(0, 1); w.put(0, 4);  // front: SCE tag 0
  w.align();
  w.put(0, 8);  // no comment
  Decoder d(w.bytes());
  ASSERT_TRUE(d.open());
  EXPECT_EQ(d.decode(sceUnit(Ics())), 0);
  BitWriter two;
  for (int t = 0; t < 2; ++t) {
    two.put(0, 3);
    two.put(t, 4);
    writeIcs(two, Ics());
  }
  two.put(7, 3);
  two.align();
  EXPECT_EQ(d.decode(two.bytes()), MP4AUDEC_DECODE_ERROR);
  int32_t type = 0;
  EXPECT_EQ(d.decode(sceUnit(Ics())), 0);
  cuBufferGetChannelType(d.cu(), 0, &type);
  EXPECT_EQ(type, MP4AUDEC_CH_UNSPECIFIED);
}

TEST(Core, FillDataAndPceStoreAncillaryEntries) {
  Decoder d(kStereo44);
  BitWriter w;
  w.put(1, 3); w.put(0, 4); w.put(0, 1);
  writeIcs(w, Ics());
  writeIcs(w, Ics());
  // FIL after a CPE: count 15 + escape 255 = 269 bytes of SBR data (type 13).
  w.put(6, 3);
  w.put(15, 4);
  w.put(255, 8);
  w.put(13, 4);
  w.put(0xA, 4);
  for (int i = 0; i < 268; ++i) w.put(i & 255, 8);
  // FIL: a data element of version 0 with 3 bytes.
  w.put(6, 3);
  w.put(5, 4);
  w.put(2, 4); w.put(0, 4); w.put(3, 8); w.put(0x11, 8); w.put(0x22, 8); w.put(0x33, 8);
  // DSE tag 2 with 2 bytes, byte-aligned.
  w.put(4, 3); w.put(2, 4); w.put(1, 1); w.put(2, 8); w.align(); w.put(0xDE, 8); w.put(0xAD, 8);
  // PCE tag 3 with a 2-byte comment.
  w.put(5, 3); w.put(3, 4);
  w.put(1, 2); w.put(4, 4); w.put(1, 4); w.put(0, 4); w.put(0, 4); w.put(0, 2); w.put(0, 3); w.put(0, 4);
  w.put(0, 3);
  w.put(1, 1); w.put(0, 4);
  w.align();
  w.put(2, 8); w.put('h', 8); w.put('i', 8);
  w.put(7, 3);
  w.align();
  ASSERT_EQ(d.decode(w.bytes()), 0);
  int32_t count = 0, used = 0;
  cuBufferGetAncillaryInfo(d.cu(), &count, &used);
  ASSERT_EQ(count, 4);
  const uint8_t* p = nullptr;
  int32_t size = 0, type = 0;
  cuBufferGetAncillary(d.cu(), 0, &p, &size, &type);
  EXPECT_EQ(type, CU_ANC_SBR_CPE);
  EXPECT_EQ(size, 269);
  EXPECT_EQ(p[0], 0xA);
  EXPECT_EQ(p[268], 267 & 255);
  cuBufferGetAncillary(d.cu(), 1, &p, &size, &type);
  EXPECT_EQ(type, CU_ANC_DATA_ELEMENT);
  ASSERT_EQ(size, 3);
  EXPECT_EQ(p[2], 0x33);
  cuBufferGetAncillary(d.cu(), 2, &p, &size, &type);
  EXPECT_EQ(type, CU_ANC_DSE + 2);
  ASSERT_EQ(size, 2);
  EXPECT_EQ(p[1], 0xAD);
  cuBufferGetAncillary(d.cu(), 3, &p, &size, &type);
  EXPECT_EQ(type, CU_ANC_PCE_COMMENT + 3);
  ASSERT_EQ(size, 2);
  EXPECT_EQ(p[0], 'h');
}

TEST(Core, UnitsThatEndEarlyOrNeverEndFail) {
  Decoder d(kStereo44);
  // Eight copies of "FIL, count 0": never reaches END; must fail, not hang.
  EXPECT_EQ(d.decode({0xC1, 0x83, 0x06, 0x0C, 0x18, 0x30, 0x60}), MP4AUDEC_DECODE_ERROR);
  // No data at all.
  EXPECT_EQ(d.decode({}), MP4AUDEC_DECODE_ERROR);
  auBufferSetEof(d.au());
  AuBuffer* aus[1] = {d.au()};
  EXPECT_EQ(mp4AudioDecDecodeAu(d.dec(), aus, d.cu()), MP4AUDEC_DECODE_ERROR);
  // A valid block cut short.
  std::vector<uint8_t> unit = cpeUnit(Ics());
  EXPECT_EQ(d.decode(unit), 0);
  unit.resize(unit.size() / 2);
  EXPECT_EQ(d.decode(unit), MP4AUDEC_DECODE_ERROR);
  // Too many fill elements.
  BitWriter w;
  for (int i = 0; i < 100; ++i) {
    w.put(6, 3);
    w.put(0, 4);
  }
  w.put(7, 3);
  w.align();
  EXPECT_EQ(d.decode(w.bytes()), MP4AUDEC_DECODE_ERROR);
}

}  // namespace
