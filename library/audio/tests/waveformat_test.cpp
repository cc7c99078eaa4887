// The wave-format record and the header copies: the rules' own cases as
// tables, the extra-byte size rule, and short headers that must not be read
// past their announced size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "audio_test_util.h"
#include "kvaudio_internal.h"
#include "kvguids.h"

namespace {

GUID SubOf(const WAVEFORMATEX* w) {
  GUID g;
  std::memcpy(&g, &reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(w)->SubFormat, sizeof g);
  return g;
}

}  // namespace

TEST(SampleTypes, Tables) {
  struct {
    DWORD tag, bits;
    KVSAMPLETYPE want;
  } st2[] = {{1, 8, KVST_U8},      {1, 16, KVST_S16},     {1, 20, KVST_S24},         {1, 24, KVST_S24},
             {1, 32, KVST_S32},    {3, 32, KVST_FLOAT},   {3, 64, KVST_DOUBLE},      {3, 16, KVST_NONE},
             {0xFE00, 24, KVST_S24IN32}, {0xFE00, 32, KVST_S24IN32}, {0xFE01, 8, KVST_S8}, {0xFE01, 16, KVST_S16},
             {0xFE02, 8, KVST_U8}, {0xFE02, 16, KVST_S16BE}, {0xFE02, 24, KVST_S24BE}, {0xFE02, 32, KVST_S32BE},
             {0xFE03, 16, KVST_FE03_16}, {0xFE03, 24, KVST_FE03_24}, {2, 4, KVST_NONE}, {1, 12, KVST_NONE}};
  for (auto& c : st2) EXPECT_EQ(KvAudio_GetSampleType2(c.tag, c.bits), c.want) << c.tag << "/" << c.bits;
  EXPECT_EQ(KvAudio_FormatTagFromSampleType(KVST_FE03_16), 0u);
  EXPECT_EQ(KvAudio_BytesFromSampleType(KVST_S24BE), 3u);
  EXPECT_EQ(KvAudio_BitsFromSampleType(KVST_S24IN32), 32u);
  EXPECT_EQ(KvAudio_GetNormalizeFactor(24), 8388608.0);
  EXPECT_EQ(KvAudio_GetNormalizeFactor(12), 1.0);

  WAVEFORMATEXTENSIBLE x = kvtest::MakeExt(32, 24, 2, 3, kKvSubtypePcm);
  EXPECT_EQ(KvAudio_GetSampleType(&x.Format), KVST_S24IN32);
  x.Samples.wValidBitsPerSample = 32;
  EXPECT_EQ(KvAudio_GetSampleType(&x.Format), KVST_S32);
  GUID foreign = {0x12345678, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
  x = kvtest::MakeExt(16, 16, 2, 3, foreign);
  EXPECT_EQ(KvAudio_GetSampleType(&x.Format), KVST_NONE);
  EXPECT_EQ(KvAudio_GetWaveFormatTag(&x.Format), 0);
  // An extensible tag with a short cbSize is not read past its 18 bytes.
  x = kvtest::MakeExt(16, 16, 2, 3, kKvSubtypePcm);
  x.Format.cbSize = 20;
  EXPECT_EQ(KvAudio_GetWaveFormatTag(&x.Format), 0xFFFE);
  EXPECT_EQ(KvAudio_GetSampleType(&x.Format), KVST_NONE);

  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 44100, KVST_S16, 2);
  EXPECT_EQ(KvAudio_IsCompressed(&w), 0);
  w.nBlockAlign = 2;
  EXPECT_EQ(KvAudio_IsCompressed(&w), 1);
  EXPECT_EQ(KvAudio_FixBadWfx(&w), 1);
  EXPECT_EQ(w.nBlockAlign, 4);

  EXPECT_EQ(KvAudio_ClipRound(2.5, -128, 127), 2);
  EXPECT_EQ(KvAudio_ClipRound(127.6, -128, 127), 127);
  EXPECT_EQ(KvAudio_ClipRound(-200.0, -128, 127), -128);
  BYTE b[3];
  KvAudio_PackInt24(9000000, b);
  EXPECT_EQ(KvAudio_UnpackInt24(b), 8388607);
  KvAudio_PackInt24BE(b, -2);
  EXPECT_EQ(KvAudio_UnpackInt24BE(b), -2);
  EXPECT_EQ(KvAudio_SwapInt32(0x01020304), 0x04030201);
}

TEST(WaveFormat, RecordInitialisers) {
  _kvwaveformat r;
  r.InitAsWfx(1, 44100, 20, 2, 0, 32);
  EXPECT_EQ(r.SampleType, KVST_S24);
  EXPECT_EQ(r.nBlockAlign, 6);
  EXPECT_EQ(r.nAvgBytesPerSec, 264600u);
  EXPECT_EQ(r.cbStruct, 32u);

  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 44100, KVST_S16, 2);
  w.nBlockAlign = 2;
  r.Init(32, w);
  EXPECT_EQ(r.nBlockAlign, 4);
  EXPECT_EQ(r.nAvgBytesPerSec, 44100u * 4);

  GUID null{};
  WAVEFORMATEXTENSIBLE x = kvtest::MakeExt(8, 8, 1, 4, null, 22050);
  r.Init(32, x.Format);
  EXPECT_EQ(r.SampleType, KVST_U8);
  EXPECT_EQ(r.dwFlags, DWORD(KVWFX_FLAG_EXTENSIBLE));

  x = kvtest::MakeExt(32, 24, 2, 3, kKvSubtypePcm);
  r.Init(40, x.Format);
  EXPECT_EQ(r.SampleType, KVST_S24IN32);

  // Compressed header with 30 extra bytes: a 40-byte record keeps 6, a 96-byte
  // one all 30; cbStruct is 32 + cbExtra.
  std::vector<BYTE> hdr = kvtest::MakeCompressedHeader(2, 2, 44100, 22000, 2048, 4, 30);
  WAVEFORMATEX* c = reinterpret_cast<WAVEFORMATEX*>(hdr.data());
  for (int i = 0; i < 30; ++i) hdr[18 + i] = static_cast<BYTE>(i + 1);
  std::vector<BYTE> small(40), big(96);
  _kvwaveformat* r40 = reinterpret_cast<_kvwaveformat*>(small.data());
  _kvwaveformat* r96 = reinterpret_cast<_kvwaveformat*>(big.data());
  r40->Init(40, *c);
  r96->Init(96, *c);
  EXPECT_EQ(r40->cbExtra, 6);
  EXPECT_EQ(r40->cbStruct, 38u);
  EXPECT_EQ(r96->cbExtra, 30);
  EXPECT_EQ(r96->cbStruct, 62u);
  EXPECT_TRUE(r96->IsCompressed());
  EXPECT_EQ(r96->FormatTag(), 2);
  EXPECT_TRUE(*r96 == *c);

  // A copy keeps every extra byte (the size field does not count the count
  // field, the copy does), also a single one.
  std::vector<BYTE> copy(96, 0xEE);
  _kvwaveformat* rc = reinterpret_cast<_kvwaveformat*>(copy.data());
  KvAudio_GeneralCopyKvWaveFormat(rc, 96, *r96, KVWFX_COPY_AUTO);
  EXPECT_EQ(rc->cbExtra, 30);
  EXPECT_EQ(rc->abExtra[29], 30);
  EXPECT_TRUE(*rc == *r96);
  c->cbSize = 1;
  r96->Init(96, *c);
  EXPECT_EQ(r96->cbStruct, 33u);
  KvAudio_GeneralCopyKvWaveFormat(rc, 96, *r96, KVWFX_COPY_AUTO);
  EXPECT_EQ(rc->cbExtra, 1);
  EXPECT_EQ(rc->abExtra[0], 1);
  // Into a record without room: no extra bytes at all.
  KvAudio_GeneralCopyKvWaveFormat(r40, 34, *rc, KVWFX_COPY_AUTO);
  EXPECT_EQ(r40->cbExtra, 0);
  EXPECT_EQ(r40->cbStruct, 32u);

  // Records differing only in block align compare equal.
  _kvwaveformat a, b;
  a.Init(48000, KVST_FLOAT, 2, 0, 32);
  b = a;
  b.nBlockAlign = 99;
  EXPECT_TRUE(a == b);
  b.dwChannelMask = 3;  // the default mask of two channels
  EXPECT_TRUE(a == b);
  b.dwChannelMask = 0x600;
  EXPECT_FALSE(a == b);
}

TEST(WaveFormat, HeaderCopies) {
  _kvwaveformat r;
  r.Init(44100, KVST_S16, 2, 0, 32);
  WAVEFORMATEXTENSIBLE x;
  std::memset(&x, 0xCC, sizeof x);
  KvAudio_GeneralCopyWfx(&x.Format, 40, r, KVWFX_COPY_AUTO);
  EXPECT_EQ(x.Format.wFormatTag, 1);
  EXPECT_EQ(x.Format.cbSize, 0);
  KvAudio_GeneralCopyWfx(&x.Format, 40, r, KVWFX_COPY_EXTENSIBLE);
  EXPECT_EQ(x.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(x.Format.cbSize, 22);
  EXPECT_EQ(x.dwChannelMask, 3u);
  EXPECT_TRUE(KvGuidEquals(SubOf(&x.Format), kKvSubtypePcm));

  r.Init(48000, KVST_S16, 6, 0x3F, 32);
  KvAudio_GeneralCopyWfx(&x.Format, 40, r, KVWFX_COPY_BYMASK);
  EXPECT_EQ(x.Format.wFormatTag, 1);
  r.dwChannelMask = 0x60F;
  KvAudio_GeneralCopyWfx(&x.Format, 18, r, KVWFX_COPY_BYMASK);
  EXPECT_EQ(x.Format.wFormatTag, 1);
  KvAudio_GeneralCopyWfx(&x.Format, 40, r, KVWFX_COPY_BYMASK);
  EXPECT_EQ(x.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(x.dwChannelMask, 0x60Fu);

  KvAudio_InitWfxFlex(&x.Format, 1, 44100, 16, 2, 0x60F, 40);
  EXPECT_EQ(x.Format.wFormatTag, 0xFFFE);
  EXPECT_EQ(x.dwChannelMask, 0x600u);

  // Forced extensible into a destination of 18 bytes stays plain and writes
  // nothing past the 18 bytes.
  BYTE buf[24];
  std::memset(buf, 0xAB, sizeof buf);
  r.Init(48000, KVST_S16, 2, 0, 32);
  KvAudio_GeneralCopyWfx(reinterpret_cast<WAVEFORMATEX*>(buf), 18, r, KVWFX_COPY_EXTENSIBLE);
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(buf)->wFormatTag, 1);
  for (int i = 18; i < 24; ++i) EXPECT_EQ(buf[i], 0xAB);

  // Allocated copies.
  r.Init(96000, KVST_S24IN32, 8, 0x63F, 32);
  WAVEFORMATEX* p = KvAudio_AllocAndCopyWfx(r, KVWFX_COPY_AUTO);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->wFormatTag, 0xFFFE);
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEXTENSIBLE*>(p)->dwChannelMask, 0x63Fu);
  EXPECT_EQ(KvAudio_GetSampleType(p), KVST_S24IN32);
  _kvwaveformat back;
  back.Init(32, *p);
  EXPECT_TRUE(back == r);
  EXPECT_TRUE(r == *p);
  KvAudioMem_Free(p);

  // Extensible to plain.
  WAVEFORMATEXTENSIBLE fl = kvtest::MakeExt(32, 32, 2, 3, kKvSubtypeFloat);
  WAVEFORMATEX plain;
  ASSERT_NE(KvAudio_CopyWfExtToWfx(&fl, &plain), nullptr);
  EXPECT_EQ(plain.wFormatTag, 3);
  EXPECT_EQ(plain.cbSize, 0);
  GUID foreign = {0x12345678, 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
  fl = kvtest::MakeExt(32, 32, 2, 3, foreign);
  EXPECT_EQ(KvAudio_CopyWfExtToWfx(&fl, &plain), nullptr);

  _kvwaveformat_wfxplus plus;
  WAVEFORMATEX w{};
  KvAudio_InitWfx(&w, 44100, KVST_S16, 6);
  plus.Init(&w, KVWFX_COPY_MULTICHANNEL);
  EXPECT_EQ(plus.wfx.wFormatTag, 0xFFFE);
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEXTENSIBLE*>(plus.bytes)->dwChannelMask, 0x3Fu);
}

// Headers exactly as long as they claim (heap blocks, so the sanitizer sees
// any read past them): short extensible headers and lying cbSize values.
TEST(WaveFormat, ShortHeadersAreNotOverRead) {
  for (WORD cb : {0, 10, 21, 22}) {
    size_t n = 18 + cb;
    BYTE* h = static_cast<BYTE*>(std::malloc(n));
    WAVEFORMATEXTENSIBLE x = kvtest::MakeExt(16, 16, 2, 3, kKvSubtypePcm);
    x.Format.cbSize = cb;
    std::memcpy(h, &x, n);
    _kvwaveformat r;
    r.Init(128, *reinterpret_cast<WAVEFORMATEX*>(h));
    EXPECT_EQ(r.SampleType, cb == 22 ? KVST_S16 : KVST_NONE) << cb;
    EXPECT_EQ(KvAudio_GetSampleType(reinterpret_cast<WAVEFORMATEX*>(h)), cb == 22 ? KVST_S16 : KVST_NONE);
    std::free(h);
  }
}

// Random headers (each in a heap block of exactly 18 + cbSize bytes) through
// every record and header copy, into records and headers of random sizes
// (also exact heap blocks): under the sanitizer nothing is read or written
// past a block.
TEST(WaveFormat, RandomHeadersStayInBounds) {
  std::mt19937 rng(2024);
  const WORD tags[] = {1, 2, 3, 0x11, 0x55, 0xFE00, 0xFE01, 0xFE02, 0xFE03, 0xFFFE, 0x1234};
  const WORD bits[] = {0, 4, 8, 16, 20, 24, 32, 64};
  const DWORD recSizes[] = {0, 32, 33, 34, 35, 40, 96, 128};
  for (int iter = 0; iter < 3000; ++iter) {
    WORD cb = static_cast<WORD>(rng() % 64);
    if (rng() % 4 == 0) cb = 22;
    BYTE* h = static_cast<BYTE*>(std::malloc(18 + cb));
    for (int i = 0; i < 18 + cb; ++i) h[i] = static_cast<BYTE>(rng());
    WAVEFORMATEX* w = reinterpret_cast<WAVEFORMATEX*>(h);
    w->wFormatTag = tags[rng() % 11];
    w->wBitsPerSample = bits[rng() % 8];
    w->nChannels = static_cast<WORD>(rng() % 9);
    w->cbSize = cb;
    if (cb >= 22 && rng() % 2) {
      GUID g = KvSubtypeFromTag(tags[rng() % 9]);
      std::memcpy(h + 24, &g, 16);
    }
    const DWORD rs = recSizes[rng() % 8];
    const DWORD alloc = rs < 34 ? 34 : rs;  // the record's fixed part is always there
    _kvwaveformat* r = static_cast<_kvwaveformat*>(std::malloc(alloc));
    r->cbStruct = 0;
    r->Init(rs, *w);
    (void)KvAudio_GetSampleType(w);
    (void)KvAudio_GetWaveFormatTag(w);
    (void)KvAudio_IsCompressed(w);
    (void)(*r == *w);
    (void)(*r == *r);
    const DWORD hs = 18 + static_cast<DWORD>(rng() % 120);
    BYTE* out = static_cast<BYTE*>(std::malloc(hs));
    for (int m = 0; m <= 5; ++m) {
      KvAudio_GeneralCopyWfx(reinterpret_cast<WAVEFORMATEX*>(out), hs, *r, static_cast<KVWAVEFORMAT_COPY_DEST>(m));
      WAVEFORMATEX* o = reinterpret_cast<WAVEFORMATEX*>(out);
      ASSERT_LE(18u + o->cbSize, hs) << "header claims more bytes than its block";
      KvAudio_CopyWfx(reinterpret_cast<WAVEFORMATEX*>(out), hs, w, static_cast<KVWAVEFORMAT_COPY_DEST>(m));
      WAVEFORMATEX* a = KvAudio_AllocAndCopyWfx(*r, static_cast<KVWAVEFORMAT_COPY_DEST>(m));
      KvAudioMem_Free(a);
      a = KvAudio_AllocAndCopyWfx(w, static_cast<KVWAVEFORMAT_COPY_DEST>(m));
      KvAudioMem_Free(a);
    }
    const DWORD ds = recSizes[rng() % 8];
    _kvwaveformat* d = static_cast<_kvwaveformat*>(std::malloc(ds < 34 ? 34 : ds));
    KvAudio_GeneralCopyKvWaveFormat(d, ds, *r, KVWFX_COPY_AUTO);
    std::free(d);
    std::free(out);
    std::free(r);
    std::free(h);
  }
}
