// Access-unit and composition-unit buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aacbits.h"
#include "mp4AudioDecIfc.h"

namespace {

TEST(AuBuffer, CreationLimits) {
  AuBuffer* own = auBufferCreate(nullptr, 0);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->capacity, 65536);
  EXPECT_EQ(auBufferHasData(own), 1);
  static uint8_t mem[16];
  EXPECT_EQ(auBufferCreate(mem, 65537), nullptr);
  EXPECT_EQ(auBufferCreate(mem, 0), nullptr);
  AuBuffer* lent = auBufferCreate(mem, 16);
  ASSERT_NE(lent, nullptr);
  const uint8_t data[17] = {0};
  EXPECT_EQ(auBufferFeed(lent, data, 17), MP4AUDEC_AU_BUFFER_FULL);
  EXPECT_EQ(auBufferFeed(lent, data, 16), 0);
  EXPECT_EQ(auBufferFeed(lent, data, 1), MP4AUDEC_AU_BUFFER_FULL);
  EXPECT_EQ(auBufferDestroy(&lent), 0);
  EXPECT_EQ(lent, nullptr);
  EXPECT_EQ(auBufferDestroy(&own), 0);
  EXPECT_EQ(auBufferDestroy(&own), MP4AUDEC_INVALID_AU_BUFFER);
  EXPECT_EQ(auBufferCheck(nullptr), MP4AUDEC_INVALID_AU_BUFFER);
  EXPECT_EQ(auBufferHasData(nullptr), 0);
}

TEST(AuBuffer, SeventeenthUnitJoinsTheSixteenth) {
  AuBuffer* au = auBufferCreate(nullptr, 0);
  uint8_t data[40];
  for (int i = 0; i < 17; ++i) {
    std::memset(data, i, sizeof(data));
    ASSERT_EQ(auBufferFeed(au, data, i + 1), 0) << i;
  }
  EXPECT_EQ(auBufferGetUnitCount(au), 16);
  const uint8_t* start = nullptr;
  int32_t size = 0;
  EXPECT_EQ(auBufferGetUnit(au, 15, &start, &size), 0);
  EXPECT_EQ(size, 16 + 17);
  EXPECT_EQ(start[0], 15);
  EXPECT_EQ(start[16], 16);
  EXPECT_EQ(auBufferGetUnit(au, 40, &start, &size), 1);
  auBufferDestroy(&au);
}

TEST(AuBuffer, ReadingPastTheEndGivesZerosAndNeverWraps) {
  AuBuffer* au = auBufferCreate(nullptr, 0);
  const uint8_t data[2] = {0xA5, 0xFF};
  auBufferFeed(au, data, 2);
  AacBitstream* bs = auBufferGetBitstream(au);
  EXPECT_EQ(aacReadBits(bs, 0, 8), 0xA5u);
  EXPECT_EQ(aacReadBits(bs, 0, 8), 0xFFu);
  EXPECT_EQ(aacGetBitsLeft(bs), 0);
  // The first byte is not read again.
  EXPECT_EQ(aacReadBits(bs, 0, 16), 0u);
  EXPECT_EQ(aacReadBits(bs, 0, 8), 0u);
  EXPECT_LT(aacGetBitsLeft(bs), 0);
  EXPECT_EQ(auBufferOverrun(au), 1);
  // Rewind starts over.
  auBufferRewind(au);
  EXPECT_EQ(aacReadBits(bs, 0, 4), 0xAu);
  EXPECT_EQ(aacGetBitsUsed(bs), 4);
  aacPushBack(bs, 4);
  EXPECT_EQ(aacReadBits(bs, 0, 12), 0xA5Fu);
  aacByteAlign(bs);
  EXPECT_EQ(aacGetBitsUsed(bs), 16);
  auBufferDestroy(&au);
}

TEST(AuBuffer, PushBackBeyondTheCacheReloads) {
  AuBuffer* au = auBufferCreate(nullptr, 0);
  uint8_t data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<uint8_t>(i * 17);
  auBufferFeed(au, data, 16);
  AacBitstream* raw = auBufferGetBitstream(au);
  for (int i = 0; i < 8; ++i) raw->read(raw, 8);
  raw->pushBack(raw, 40);  // beyond the 32-bit cache: repositions the byte reader
  EXPECT_EQ(raw->bitsUsed(raw), 24);
  EXPECT_EQ(raw->read(raw, 8), 3u * 17);
  auBufferSetEof(au);
  EXPECT_EQ(auBufferHasData(au), 0);
  auBufferDestroy(&au);
}

TEST(CuBuffer, CreationLimitsAndReset) {
  EXPECT_EQ(cuBufferCreate(101, 1024, 44100, 0), nullptr);
  EXPECT_EQ(cuBufferCreate(0, 1024, 44100, 0), nullptr);
  EXPECT_EQ(cuBufferCreate(2, 4097, 44100, 0), nullptr);
  EXPECT_EQ(cuBufferCreate(2, 1024, 44100, 65537), nullptr);
  CuBuffer* cu = cuBufferCreate(2, 1024, 44100, 0);
  ASSERT_NE(cu, nullptr);
  const uint8_t* p = nullptr;
  int32_t size = 0, type = 0, v = 0;
  EXPECT_EQ(cuBufferGetAncillary(cu, 0, &p, &size, &type), MP4AUDEC_NO_ANCILLARY);
  EXPECT_EQ(cuBufferAddAncillary(cu, 12, reinterpret_cast<const uint8_t*>("x"), 1), MP4AUDEC_OUT_OF_MEMORY);
  EXPECT_EQ(cuBufferGetProperty(cu, CU_PROP_SAMPLES_PER_CHANNEL, &v), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(cuBufferGetProperty(cu, CU_PROP_SBR_APPLIED, &v), MP4AUDEC_NO_PROPERTY);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(cuBufferSetProperty(cu, 10009, 1), MP4AUDEC_NOT_SUPPORTED);
  EXPECT_EQ(cuBufferSetFlag(cu, CU_PROP_SBR_APPLIED), 0);
  EXPECT_EQ(cuBufferGetProperty(cu, CU_PROP_SBR_APPLIED, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(cuBufferSetChannels(cu, 3), MP4AUDEC_TOO_MANY_CHANNELS);
  EXPECT_EQ(cuBufferSetSamplesPerChannel(cu, 1025), MP4AUDEC_TOO_MANY_SAMPLES);
  EXPECT_EQ(cuBufferSetChannelType(cu, 2, 16), MP4AUDEC_BAD_CHANNEL_INDEX);
  EXPECT_EQ(cuBufferSetChannelType(cu, 1, 80), 0);
  int32_t idx = -1;
  EXPECT_EQ(cuBufferFindChannelType(cu, 80, &idx), 0);
  EXPECT_EQ(idx, 1);
  EXPECT_EQ(cuBufferFindChannelType(cu, 160, &idx), MP4AUDEC_NO_CHANNEL_TYPE);
  EXPECT_EQ(cuBufferGetChannelType(cu, 7, &v), 0);
  EXPECT_EQ(v, 0);
  cuBufferReset(cu);
  EXPECT_EQ(cuBufferFindChannelType(cu, 80, &idx), MP4AUDEC_NO_CHANNEL_TYPE);
  EXPECT_EQ(cuBufferDestroy(&cu), 0);
  EXPECT_EQ(cu, nullptr);
  EXPECT_EQ(cuBufferDestroy(&cu), MP4AUDEC_INVALID_CU_BUFFER);
}

TEST(CuBuffer, FullAncillaryAreaKeepsTheTruncatedEntry) {
  CuBuffer* cu = cuBufferCreate(2, 1024, 44100, 2048);
  std::vector<uint8_t> big(3000, 0x5A);
  EXPECT_EQ(cuBufferAddAncillary(cu, 8, big.data(), 3000), MP4AUDEC_OUT_OF_MEMORY);
  int32_t count = 0, used = 0;
  cuBufferGetAncillaryInfo(cu, &count, &used);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(used, 2048);
  const uint8_t* p = nullptr;
  int32_t size = 0, type = 0;
  ASSERT_EQ(cuBufferGetAncillary(cu, 0, &p, &size, &type), 0);
  EXPECT_EQ(type, CU_ANC_TRUNCATED);
  EXPECT_EQ(size, 2048);
  EXPECT_EQ(p[2047], 0x5A);
  EXPECT_EQ(cuBufferAddAncillary(cu, 8, big.data(), 1), MP4AUDEC_OUT_OF_MEMORY);
  EXPECT_EQ(cuBufferAddAncillary(cu, 8, nullptr, 1), MP4AUDEC_INVALID_ARGUMENT);
  EXPECT_EQ(cuBufferGetAncillary(cu, 1, &p, &size, &type), MP4AUDEC_NO_ANCILLARY);
  cuBufferDestroy(&cu);
}

TEST(CuBuffer, WritePcmAppendsOrReplacesInterleaved) {
  CuBuffer* cu = cuBufferCreate(2, 8, 44100, 0);
  const float a[4] = {1, 2, 3, 4}, b[4] = {-1, -2, -3, -4};
  const float* chans[2] = {a, b};
  ASSERT_EQ(cuBufferWritePcm(cu, chans, 1, 2, 4, 44100, CU_WRITE_APPEND), 0);
  ASSERT_EQ(cuBufferWritePcm(cu, chans, 1, 2, 4, 44100, CU_WRITE_APPEND), 0);
  int32_t n = 0;
  cuBufferGetSamplesPerChannel(cu, &n);
  EXPECT_EQ(n, 8);
  float* s = nullptr;
  cuBufferGetSamples(cu, &s);
  EXPECT_EQ(s[0], 1);
  EXPECT_EQ(s[1], -1);
  EXPECT_EQ(s[9], -1);
  EXPECT_EQ(cuBufferWritePcm(cu, chans, 1, 2, 4, 44100, CU_WRITE_APPEND), MP4AUDEC_TOO_MANY_SAMPLES);
  EXPECT_EQ(cuBufferWritePcm(cu, chans, 1, 1, 4, 44100, CU_WRITE_APPEND), MP4AUDEC_CHANNEL_MISMATCH);
  EXPECT_EQ(cuBufferWritePcm(cu, chans, 1, 2, 4, 44100, CU_WRITE_REPLACE), MP4AUDEC_SAMPLE_MISMATCH);
  const float c[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  const float* one[2] = {c, nullptr};
  ASSERT_EQ(cuBufferWritePcm(cu, one, 1, 2, 8, 44100, CU_WRITE_REPLACE), 0);
  EXPECT_EQ(s[0], 9);
  EXPECT_EQ(s[1], -1) << "a null channel pointer leaves that channel as it was";
  cuBufferDestroy(&cu);
}

}  // namespace
