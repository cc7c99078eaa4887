// The template record: basic templates, allocation and strings, copies and
// ownership, information values, stream-format records and the video
// extension.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kvaudio.h"
#include "template_test_util.h"

namespace {

constexpr DWORD FourCC(char a, char b, char c, char d) {
  return DWORD(BYTE(a)) | DWORD(BYTE(b)) << 8 | DWORD(BYTE(c)) << 16 | DWORD(BYTE(d)) << 24;
}

// A full wave-format record (its declaration is far larger than the stored forms).
struct Wave {
  _kvwaveformat f;
  Wave() { std::memset(&f, 0, sizeof f); }
};

Wave Pcm(DWORD rate, WORD channels, WORD bits, DWORD mask = 0) {
  Wave w;
  w.f.InitAsWfx(1, rate, bits, channels, mask, 40);
  return w;
}

// A compressed format (tag 0xFF) with `extra` extra bytes.
Wave Compressed(DWORD rate, WORD channels, DWORD mask, DWORD byteRate, WORD extra) {
  Wave w;
  std::vector<BYTE> wfx = tt::CompressedFormat(0xFF, extra);
  WAVEFORMATEX* h = reinterpret_cast<WAVEFORMATEX*>(wfx.data());
  h->nSamplesPerSec = rate;
  h->nChannels = channels;
  h->nAvgBytesPerSec = byteRate;
  w.f.Init(96, *h);
  w.f.dwChannelMask = mask;
  return w;
}

BITMAPINFOHEADER Bih(LONG w, LONG h, WORD bits, DWORD compression) {
  BITMAPINFOHEADER b = {};
  b.biSize = 40;
  b.biWidth = w;
  b.biHeight = h;
  b.biPlanes = 1;
  b.biBitCount = bits;
  b.biCompression = compression;
  return b;
}

Wave Field(const BYTE* field, size_t n) {
  Wave w;
  std::memcpy(&w.f, field, n);
  return w;
}

bool AllZero(const void* p, size_t n) {
  const BYTE* b = static_cast<const BYTE*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i]) return false;
  return true;
}

// ---- basic templates --------------------------------------------------------------

TEST(BasicTemplate, UncompressedAudioGoesToTheSourceField) {
  tagKVTEMPLATExV2 t;
  std::memset(&t, 0xAB, sizeof t);
  Wave pcm = Pcm(48000, 2, 24);
  ASSERT_EQ(KvFio_InitBasicTemplate(t, 1, &pcm.f, 0, nullptr, 0, KVINTERLACE_PROGRESSIVE, 0), S_OK);
  EXPECT_EQ(t.cbSize, 540u);
  EXPECT_EQ(t.dwVersion, 0x2000000u);
  EXPECT_EQ(t.dwIndex, 0u);
  EXPECT_EQ(t.cbAudioPart, 200u);
  EXPECT_EQ(t.nAudioStreams, 1u);
  EXPECT_EQ(t.cbVideoPart, 0u);
  EXPECT_EQ(t.nVideoStreams, 0u);
  EXPECT_EQ(t.cchStrings, 0u);
  EXPECT_EQ(t.cbCodecBlock, 0u);
  Wave src = Field(t.wfSource, 40);
  EXPECT_TRUE(src.f == pcm.f);
  EXPECT_TRUE(AllZero(t.wfOutput, 96));
  EXPECT_TRUE(AllZero(&t.bihSource, 40));
  EXPECT_TRUE(AllZero(&t.videoExt, 64));
  EXPECT_TRUE(AllZero(kvtemplate::CodecBlock(&t), 4)) << "four zero bytes where the string area begins";
}

struct CompressedCase {
  WORD channels;
  DWORD mask;
  bool sourceBuilt;
};

TEST(BasicTemplate, CompressedAudioGetsA16BitPcmSourceUnlessTheMaskDisagrees) {
  const CompressedCase cases[] = {{2, 0, true}, {2, 3, true}, {6, 0x3F, true}, {2, 7, false}, {1, 3, false}};
  for (const CompressedCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "channels " << c.channels << " mask " << c.mask);
    Wave aac = Compressed(44100, c.channels, c.mask, 16000, 2);
    tagKVTEMPLATExV2 t;
    ASSERT_EQ(KvFio_InitBasicTemplate(t, 2, &aac.f, 0, nullptr, 0, KVINTERLACE_PROGRESSIVE, 0), S_OK);
    EXPECT_EQ(t.nAudioStreams, 2u);
    Wave out = Field(t.wfOutput, 96);
    EXPECT_TRUE(out.f.IsCompressed());
    EXPECT_EQ(out.f.FormatTag(), 0xFF);
    EXPECT_EQ(out.f.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(out.f.cbExtra, 2);
    if (c.sourceBuilt) {
      Wave expected = Pcm(44100, c.channels, 16, c.mask);
      Wave src = Field(t.wfSource, 40);
      EXPECT_TRUE(src.f == expected.f);
      EXPECT_EQ(src.f.FormatTag(), 1);
      EXPECT_EQ(src.f.BitsPerSample(), 16);
    } else {
      EXPECT_TRUE(AllZero(t.wfSource, 40));
    }
    tagKVTEMPLATExV2 a;
    ASSERT_EQ(KvFio_InitBasicAudioTemplate(a, &aac.f), S_OK);
    EXPECT_EQ(a.nAudioStreams, 1u);
    EXPECT_EQ(std::memcmp(a.wfSource, t.wfSource, 40), 0);
  }
}

TEST(BasicTemplate, VideoSourceAndOutputHeaders) {
  tagKVTEMPLATExV2 t;
  BITMAPINFOHEADER rgb = Bih(640, 480, 24, 0);
  ASSERT_EQ(KvFio_InitBasicTemplate(t, 0, nullptr, 1, &rgb, 25.0, KVINTERLACE_UPPER_FIRST, 0.0), S_OK);
  EXPECT_EQ(t.cbAudioPart, 0u);
  EXPECT_EQ(t.cbVideoPart, 200u);
  EXPECT_EQ(t.nVideoStreams, 1u);
  EXPECT_EQ(std::memcmp(&t.bihSource, &rgb, 40), 0);
  EXPECT_TRUE(AllZero(&t.bihOutput, 40));
  EXPECT_EQ(t.videoExt.cbSize, 64u);
  EXPECT_EQ(t.videoExt.colorimetry, -1);
  EXPECT_EQ(t.videoExt.fieldOrder, 1u);
  EXPECT_EQ(t.videoExt.frameRate, 25.0);
  EXPECT_EQ(t.videoExt.pixelAspect, 1.0) << "0 or less is stored as 1.0";

  BITMAPINFOHEADER mjpg = Bih(720, 576, 24, FourCC('M', 'J', 'P', 'G'));
  ASSERT_EQ(KvFio_InitBasicTemplate(t, 0, nullptr, 3, &mjpg, 30.0, KVINTERLACE_PROGRESSIVE, 1.0667), S_OK);
  EXPECT_EQ(t.nVideoStreams, 3u);
  EXPECT_EQ(std::memcmp(&t.bihOutput, &mjpg, 40), 0);
  // The source is 32-bit RGB of the same size.
  EXPECT_EQ(t.bihSource.biSize, 40u);
  EXPECT_EQ(t.bihSource.biWidth, 720);
  EXPECT_EQ(t.bihSource.biHeight, 576);
  EXPECT_EQ(t.bihSource.biPlanes, 1);
  EXPECT_EQ(t.bihSource.biBitCount, 32);
  EXPECT_EQ(t.bihSource.biCompression, 0u);
  EXPECT_EQ(t.bihSource.biSizeImage, 720u * 576u * 4u);
  EXPECT_EQ(t.videoExt.pixelAspect, 1.0667);
}

TEST(VideoExtension, InitFillsTheSixteenWords) {
  tKVVIDEOEXTENSION e;
  std::memset(&e, 0x5A, sizeof e);
  e.Init(29.97, 2, -3.0);
  EXPECT_EQ(e.cbSize, 64u);
  EXPECT_EQ(e.colorimetry, -1);
  EXPECT_EQ(e.reserved, 0u);
  EXPECT_EQ(e.fieldOrder, 2u);
  EXPECT_EQ(e.frameRate, 29.97);
  EXPECT_EQ(e.pixelAspect, 1.0);
  EXPECT_EQ(e.gamma, 0.0);
  EXPECT_TRUE(AllZero(e.zero, sizeof e.zero));
}

// ---- allocation and strings -------------------------------------------------------

TEST(TemplateAllocation, SizesFollowTheLayoutRule) {
  struct Case {
    DWORD chars, block, size;
  } const cases[] = {{0, 0, 540}, {1, 0, 540}, {2, 0, 540}, {3, 0, 542}, {0, 5, 544}, {4, 44, 588},
                     {0xFFFFFFFF, 0, 0}, {0, 0xFFFFFFFF, 0}, {0x7FFFFFFF, 0x10, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(KvFio_GetTemplateAllocSize(c.chars, c.block), c.size) << c.chars << " chars, block " << c.block;
    tt::Owned t(c.size && c.size < 100000 ? KvFio_AllocTemplate(c.chars, c.block) : nullptr);
    if (!t.t) continue;
    EXPECT_EQ(t->cbSize, c.size);
    EXPECT_EQ(t->cchStrings, c.chars);
    EXPECT_EQ(t->cbCodecBlock, c.block);
  }
  BYTE buffer[600];
  tagKVTEMPLATExV2* in = reinterpret_cast<tagKVTEMPLATExV2*>(buffer);
  EXPECT_EQ(KvFio_AllocTemplate(in, sizeof buffer, 20, 20), in);
  EXPECT_EQ(in->cbSize, 596u);
  EXPECT_EQ(KvFio_AllocTemplate(in, sizeof buffer, 40, 20), nullptr) << "does not fit the caller's buffer";
}

TEST(TemplateStrings, NamedAllocationAndReadBack) {
  const GUID owner = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};
  tt::Owned t(KvFio_AllocTemplate(W16("AAC 128"), W16("Stereo"), 44, &owner));
  ASSERT_TRUE(t.t);
  EXPECT_EQ(t->cchStrings, 7u + 1 + 6 + 1);
  EXPECT_EQ(t->cbSize, 536u + 44 + 2 * 15);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"AAC 128");
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), u"Stereo");
  EXPECT_TRUE(KvGuidEquals(t->guidOwner, owner));
  tt::Owned noBlock(KvFio_AllocTemplate(W16("x"), nullptr, 0, &owner));
  EXPECT_TRUE(AllZero(&noBlock->guidOwner, 16)) << "the owner needs a block size as well";
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(noBlock.t)), u"");

  tagKVTEMPLATExV2 basic;
  KvFio_InitBasicTemplate(basic, 0, nullptr, 0, nullptr, 0, KVINTERLACE_PROGRESSIVE, 0);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(&basic)), u"");
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(&basic)), u"");
}

TEST(TemplateStrings, SettingTruncatesToTheArea) {
  struct Case {
    const char16_t* name;
    const char16_t* desc;
    const char16_t* wantName;
    const char16_t* wantDesc;
  } const cases[] = {
      {u"abc", u"de", u"abc", u"de"},         // 3 + 1 + 2 + 1 = 7 of 8
      {u"abcdefghij", u"xyz", u"abcdefg", u""},  // name cut to 7
      {u"abcde", u"vwxyz", u"abcde", u"v"},   // description cut to what is left
      {u"", u"description", u"", u"descri"},
  };
  for (const Case& c : cases) {
    tt::Owned t(KvFio_AllocTemplate(8, 3));
    ASSERT_EQ(KvFio_SetTemplateStrings(t.t, reinterpret_cast<const WCHAR*>(c.name),
                                       reinterpret_cast<const WCHAR*>(c.desc)), S_OK);
    EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), c.wantName);
    EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), c.wantDesc);
  }
}

TEST(TemplateStrings, NullKeepsAndSelfReferencesAreSafe) {
  tt::Owned t(KvFio_AllocTemplate(W16("first"), W16("a long description"), 0, nullptr));
  ASSERT_EQ(KvFio_SetTemplateStrings(t.t, W16("new"), nullptr), S_OK);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"new");
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), u"a long description");
  // The description moves although it is read from where the name now goes.
  ASSERT_EQ(KvFio_SetTemplateStrings(t.t, W16("a much longer name"), KvFio_GetTemplateDescription(t.t)), S_OK);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"a much longer name");
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), u"a lon");
  ASSERT_EQ(KvFio_SetTemplateStrings(t.t, nullptr, KvFio_GetTemplateName(t.t)), S_OK);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), u"a muc");
}

TEST(TemplateStrings, UnterminatedAreasReadAsEmpty) {
  tt::Owned t(KvFio_AllocTemplate(4, 0));
  WCHAR* area = reinterpret_cast<WCHAR*>(kvtemplate::CodecBlock(t.t));
  for (int i = 0; i < 4; ++i) area[i] = 'A' + i;
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"");
  area[1] = 0;  // "A", then "CD" without terminator
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"A");
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), u"");
  // An area length beyond the record is cut to the record.
  t->cchStrings = 0x7FFFFFFF;
  area[3] = 0;
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), u"C");
  t->cbCodecBlock = 0xFFFFFFF0;
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"");
}

// ---- copies and ownership ---------------------------------------------------------

tagKVTEMPLATExV2* Sample(const char16_t* name, BYTE fill, DWORD block = 12) {
  tagKVTEMPLATExV2* t = KvFio_AllocTemplate(reinterpret_cast<const WCHAR*>(name), W16("text"), block, nullptr);
  t->dwIndex = fill;
  std::memset(reinterpret_cast<BYTE*>(t) + 56, fill, 472);
  t->cbAudioPart = 200;
  std::memset(kvtemplate::CodecBlock(t), fill + 1, block);
  return t;
}

TEST(TemplateCopy, CopyAndRenamedCopy) {
  tt::Owned src(Sample(u"name", 7));
  tt::Owned copy;
  ASSERT_EQ(KvFio_CopyTemplate(copy.out(), src.t), S_OK);
  EXPECT_EQ(std::memcmp(copy.t, src.t, src->cbSize), 0);
  EXPECT_EQ(KvFio_CopyTemplate(nullptr, src.t), E_INVALIDARG);

  tt::Owned renamed(KvFio_CopyTemplateRenamed(src.t, W16("a longer new name"), nullptr));
  ASSERT_TRUE(renamed.t);
  EXPECT_EQ(std::memcmp(reinterpret_cast<BYTE*>(renamed.t) + 4, reinterpret_cast<BYTE*>(src.t) + 4, 524), 0);
  EXPECT_EQ(renamed->cbCodecBlock, 12u);
  EXPECT_EQ(std::memcmp(kvtemplate::CodecBlock(renamed.t), kvtemplate::CodecBlock(src.t), 12), 0);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(renamed.t)), u"a longer new name");
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(renamed.t)), u"text");
  EXPECT_EQ(renamed->cbSize, 536u + 12 + 2 * (17 + 1 + 4 + 1));
  EXPECT_EQ(KvFio_GetTemplateDataCRC32(renamed.t, FALSE), KvFio_GetTemplateDataCRC32(src.t, FALSE));
  EXPECT_EQ(KvFio_CopyTemplateRenamed(nullptr, W16("x"), W16("y")), nullptr);
}

TEST(TemplateCopy, SetTemplateComparesCopiesAndTakesOver) {
  // Compare flag: S_FALSE for null/null, the same pointer and equal bytes.
  tagKVTEMPLATExV2* dst = nullptr;
  EXPECT_EQ(KvFio_SetTemplate(dst, nullptr, kKvSetTemplateCompare), S_FALSE);
  tagKVTEMPLATExV2* a = Sample(u"same", 3);
  tagKVTEMPLATExV2* b = Sample(u"same", 3);
  tagKVTEMPLATExV2* c = Sample(u"different", 3);
  dst = a;
  EXPECT_EQ(KvFio_SetTemplate(dst, a, kKvSetTemplateCompare), S_FALSE);
  EXPECT_EQ(dst, a);
  // Equal records: S_FALSE, and the replacement still happens (a is freed).
  EXPECT_EQ(KvFio_SetTemplate(dst, b, kKvSetTemplateCompare), S_FALSE);
  EXPECT_EQ(dst, b);
  // A larger source: a new copy replaces (and frees) b.
  EXPECT_EQ(KvFio_SetTemplate(dst, c, kKvSetTemplateCompare | kKvSetTemplateCopy), S_OK);
  EXPECT_NE(dst, c);
  EXPECT_EQ(std::memcmp(dst, c, c->cbSize), 0);
  // A smaller source is copied into the record dst already owns.
  tagKVTEMPLATExV2* small = Sample(u"s", 9, 0);
  tagKVTEMPLATExV2* before = dst;
  EXPECT_EQ(KvFio_SetTemplate(dst, small, kKvSetTemplateCopy), S_OK);
  EXPECT_EQ(dst, before);
  EXPECT_EQ(dst->cbSize, small->cbSize);
  EXPECT_EQ(std::memcmp(dst, small, small->cbSize), 0);
  // Null source with copy: dst freed and null.
  EXPECT_EQ(KvFio_SetTemplate(dst, nullptr, kKvSetTemplateCopy), S_OK);
  EXPECT_EQ(dst, nullptr);
  // A private copy for an empty holder.
  EXPECT_EQ(KvFio_SetTemplate(dst, small, kKvSetTemplateCopy), S_OK);
  EXPECT_NE(dst, small);
  EXPECT_EQ(std::memcmp(dst, small, small->cbSize), 0);
  KvFio_ReleaseTemplate(dst);
  KvFio_ReleaseTemplate(small);
  KvFio_ReleaseTemplate(c);
}

// ---- information values -----------------------------------------------------------

struct InfoCase {
  KVFIO_TEMPLATE_INFO id;
  UINT width;
  std::vector<BYTE> expected;
};

template <typename T>
std::vector<BYTE> Le(T v) {
  std::vector<BYTE> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

TEST(TemplateInfo, IdsOneToTwentyTwo) {
  tagKVTEMPLATExV2 t;
  Wave aac = Compressed(32000, 2, 0, 16000, 2);
  BITMAPINFOHEADER yuyv = Bih(720, 480, 16, FourCC('Y', 'U', 'Y', 'V'));
  ASSERT_EQ(KvFio_InitBasicTemplate(t, 2, &aac.f, 1, &yuyv, 24.0, KVINTERLACE_LOWER_FIRST, 0.9), S_OK);
  std::memset(&t.audioExt, 0x11, sizeof t.audioExt);
  const std::vector<BYTE> videoExt(reinterpret_cast<BYTE*>(&t.videoExt), reinterpret_cast<BYTE*>(&t.videoExt) + 64);
  const std::vector<InfoCase> cases = {
      {KVFIO_TI_AUDIO_FORMAT_TAG, 2, Le<WORD>(0xFF)},
      {KVFIO_TI_VIDEO_COMPRESSION, 4, Le<DWORD>(FourCC('Y', 'U', 'Y', 'V'))},
      {KVFIO_TI_AUDIO_BIT_RATE, 4, Le<DWORD>(128000)},
      // YUYV output: width x height x 2 bytes a frame, 24 frames a second.
      {KVFIO_TI_VIDEO_BIT_RATE, 8, Le<LONGLONG>(720LL * 480 * 2 * 8 * 24)},
      {KVFIO_TI_AUDIO_STREAMS, 4, Le<DWORD>(2)},
      {KVFIO_TI_VIDEO_STREAMS, 4, Le<DWORD>(1)},
      {KVFIO_TI_AUDIO_SAMPLE_RATE, 4, Le<DWORD>(32000)},
      {KVFIO_TI_AUDIO_BITS, 2, Le<WORD>(0)},
      {KVFIO_TI_AUDIO_CHANNELS, 2, Le<WORD>(2)},
      {KVFIO_TI_AUDIO_CHANNEL_MASK, 4, Le<DWORD>(3)},
      {KVFIO_TI_VIDEO_WIDTH, 4, Le<DWORD>(720)},
      {KVFIO_TI_VIDEO_HEIGHT, 4, Le<DWORD>(480)},
      {KVFIO_TI_VIDEO_FRAME_RATE, 8, Le<double>(24.0)},
      {KVFIO_TI_VIDEO_PIXEL_ASPECT, 8, Le<double>(0.9)},
      {KVFIO_TI_VIDEO_SIZE, 8, [] { std::vector<BYTE> v = Le<DWORD>(720), h = Le<DWORD>(480); v.insert(v.end(), h.begin(), h.end()); return v; }()},
      {KVFIO_TI_VIDEO_EXTENSION, 64, videoExt},
      {KVFIO_TI_AUDIO_EXTENSION, 32, std::vector<BYTE>(32, 0x11)},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "id " << c.id);
    BYTE buf[80];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_EQ(KvFio_GetTemplateInfo(&t, 3, buf, sizeof buf, c.id), S_OK);
    EXPECT_EQ(tt::HexBytes(buf, c.width), tt::HexBytes(c.expected.data(), c.expected.size()));
    EXPECT_TRUE(AllZero(buf + c.width, sizeof buf - c.width)) << "the rest of the buffer is zeroed";
    // The value's own width is enough; one byte less is too small.
    std::vector<BYTE> exact(c.width);
    EXPECT_EQ(KvFio_GetTemplateInfo(&t, 3, exact.data(), c.width, c.id), S_OK);
    std::vector<BYTE> shorter(c.width - 1 ? c.width - 1 : 1, 0xEE);
    EXPECT_EQ(KvFio_GetTemplateInfo(&t, 3, shorter.data(), static_cast<UINT>(shorter.size()), c.id),
              KV_E_BUFFERTOOSMALL);
    EXPECT_TRUE(AllZero(shorter.data(), shorter.size()));
    // A part that is not admitted: S_FALSE and zeros.
    const bool audioId = c.id == 1 || c.id == 3 || c.id == 10 || (c.id >= 12 && c.id <= 15) || c.id == 22;
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(KvFio_GetTemplateInfo(&t, audioId ? 2 : 1, buf, sizeof buf, c.id), S_FALSE);
    EXPECT_TRUE(AllZero(buf, sizeof buf));
  }
}

TEST(TemplateInfo, AudioFormatChoiceRatesAndRefusals) {
  tagKVTEMPLATExV2 t;
  Wave pcm = Pcm(44100, 2, 16);
  KvFio_InitBasicTemplate(t, 1, &pcm.f, 0, nullptr, 0, KVINTERLACE_PROGRESSIVE, 0);
  DWORD v = 0;
  WORD w = 0;
  // Without an output format the source format answers.
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 1, &w, 2, KVFIO_TI_AUDIO_FORMAT_TAG), S_OK);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 1, &w, 2, KVFIO_TI_AUDIO_BITS), S_OK);
  EXPECT_EQ(w, 16);
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 1, &v, 4, KVFIO_TI_AUDIO_BIT_RATE), S_OK);
  EXPECT_EQ(v, 1411200u);
  t.dwAudioFlags = kKvTemplateAudioVariableRate;
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 1, &v, 4, KVFIO_TI_AUDIO_BIT_RATE), S_OK);
  EXPECT_EQ(v, 0u);
  // No video streams: video ids are not answered.
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 3, &v, 4, KVFIO_TI_VIDEO_WIDTH), S_FALSE);
  // Unknown ids, null arguments, empty and one-byte buffers.
  for (DWORD id : {0u, 5u, 9u, 23u, 0xFFFFFFFFu})
    EXPECT_EQ(KvFio_GetTemplateInfo(&t, 3, &v, 4, static_cast<KVFIO_TEMPLATE_INFO>(id)), S_FALSE) << id;
  EXPECT_EQ(KvFio_GetTemplateInfo(nullptr, 3, &v, 4, KVFIO_TI_AUDIO_STREAMS), E_INVALIDARG);
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 3, nullptr, 4, KVFIO_TI_AUDIO_STREAMS), E_INVALIDARG);
  EXPECT_EQ(KvFio_GetTemplateInfo(&t, 3, &v, 0, KVFIO_TI_AUDIO_STREAMS), E_INVALIDARG);
  BYTE guard[2] = {0xEE, 0xEE};
  for (KVFIO_TEMPLATE_INFO id : {KVFIO_TI_AUDIO_FORMAT_TAG, KVFIO_TI_AUDIO_BITS, KVFIO_TI_AUDIO_CHANNELS}) {
    EXPECT_EQ(KvFio_GetTemplateInfo(&t, 1, guard, 1, id), KV_E_BUFFERTOOSMALL) << id;
    EXPECT_EQ(guard[1], 0xEE) << "nothing written past a one-byte buffer";
  }
}

TEST(TemplateInfo, VideoBitRate) {
  struct Case {
    BITMAPINFOHEADER header;
    double fps;
    DWORD flags;
    LONGLONG dataRate;
    LONGLONG bits;
  } const cases[] = {
      {Bih(640, 480, 24, 0), 25.0, 0, 0, 640LL * 3 * 480 * 8 * 25},
      {Bih(641, -480, 24, 0), 25.0, 0, 0, (24LL * 641 + 31) / 32 * 4 * 480 * 8 * 25},
      {Bih(640, 480, 24, 0), 24.0, kKvTemplateVideoPulldown, 0, 640LL * 3 * 480 * 8 * 30},
      {Bih(640, 480, 24, 0), 25.0, 0, 1000000, 8000000},
      {Bih(640, 480, 24, 0), 25.0, 0, 0x7FFFFFFFFFFFFFFFll, 0x7FFFFFFFFFFFFFFFll / 8 * 8},
      {Bih(1920, 1080, 20, FourCC('v', '2', '1', '0')), 30.0, 0, 0, 320LL * 1080 * 16 * 8 * 30},
      {Bih(720, 576, 12, FourCC('I', '4', '2', '0')), 25.0, 0, 0, 622080LL * 8 * 25},
      {Bih(720, 576, 16, FourCC('U', 'Y', 'V', 'Y')), 25.0, 0, 0, 720LL * 576 * 2 * 8 * 25},
  };
  for (const Case& c : cases) {
    tagKVTEMPLATExV2 t;
    KvFio_InitBasicTemplate(t, 0, nullptr, 1, &c.header, c.fps, KVINTERLACE_PROGRESSIVE, 1.0);
    t.dwVideoFlags = c.flags;
    t.llVideoDataRate = c.dataRate;
    LONGLONG bits = -1;
    ASSERT_EQ(KvFio_GetTemplateInfo(&t, 2, &bits, 8, KVFIO_TI_VIDEO_BIT_RATE), S_OK);
    EXPECT_EQ(bits, c.bits) << "width " << c.header.biWidth << " compression " << c.header.biCompression;
  }
}

// ---- identity marks ----------------------------------------------------------------

TEST(TemplateIdentity, UpliftedV1Mark) {
  tagKVTEMPLATExV2 t;
  KvFio_InitBasicTemplate(t, 0, nullptr, 0, nullptr, 0, KVINTERLACE_PROGRESSIVE, 0);
  const GUID mark = {0x12345678, 0, 0x1010, {0x80, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00}};
  t.guidTemplate = mark;
  EXPECT_TRUE(KvFio_IsUpliftedV1Template(&t));
  t.dwVersion = 0x2000001;
  EXPECT_FALSE(KvFio_IsUpliftedV1Template(&t)) << "a minor version other than 0";
  t.dwVersion = 0x2000000;
  t.guidTemplate.Data2 = 7;  // outside bytes 6..15: still the mark
  EXPECT_TRUE(KvFio_IsUpliftedV1Template(&t));
  t.guidTemplate.Data4[7] = 1;
  EXPECT_FALSE(KvFio_IsUpliftedV1Template(&t));
  EXPECT_FALSE(KvFio_IsUpliftedV1Template(nullptr));
}

TEST(TemplateIdentity, CrcCoversBodyBlockAndStringsOnly) {
  tt::Owned a(Sample(u"one", 5));
  tt::Owned b(Sample(u"two", 5));
  EXPECT_EQ(KvFio_GetTemplateDataCRC32(a.t, FALSE), KvFio_GetTemplateDataCRC32(b.t, FALSE));
  EXPECT_NE(KvFio_GetTemplateDataCRC32(a.t, TRUE), KvFio_GetTemplateDataCRC32(b.t, TRUE));
  const DWORD before = KvFio_GetTemplateDataCRC32(a.t, TRUE);
  a->dwIndex = 99;
  a->guidOwner.Data1 ^= 1;
  a->guidTemplate.Data1 ^= 1;
  a->dwVersion ^= 1;
  EXPECT_EQ(KvFio_GetTemplateDataCRC32(a.t, TRUE), before) << "the header is never hashed";
  kvtemplate::CodecBlock(a.t)[11] ^= 1;
  EXPECT_NE(KvFio_GetTemplateDataCRC32(a.t, TRUE), before);
}

// ---- stream-format records ---------------------------------------------------------

TEST(StreamFormatInfo, ThreeForms) {
  _KVFILESTREAMFORMATINFOv2 r;
  tKVAUDIOEXTENSION aext;
  std::memset(&aext, 0x42, sizeof aext);
  WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

  std::memset(&r, 0xCC, sizeof r);
  ASSERT_EQ(KvFio_SetStreamFormatInfo(&r, &wfx, &aext, 123456789012LL), S_OK);
  EXPECT_EQ(r.cbSize, 184u);
  EXPECT_EQ(r.streamType, 1u);
  EXPECT_EQ(r.length, 123456789012LL);
  EXPECT_TRUE(AllZero(r.reserved, 8));
  EXPECT_EQ(std::memcmp(r.extension, &aext, 32), 0);
  EXPECT_TRUE(AllZero(r.extension + 32, 32));
  Wave expected;
  expected.f.Init(96, wfx);
  EXPECT_EQ(std::memcmp(r.format, &expected.f, 96), 0);

  Wave kv = Compressed(48000, 2, 3, 24000, 4);
  std::memset(&r, 0xCC, sizeof r);
  ASSERT_EQ(KvFio_SetStreamFormatInfo(&r, &kv.f, nullptr, 5), S_OK);
  EXPECT_EQ(r.streamType, 1u);
  EXPECT_TRUE(AllZero(r.extension, 64));
  Wave back = Field(r.format, 96);
  EXPECT_TRUE(back.f == kv.f);

  std::memset(&r, 0xCC, sizeof r);
  ASSERT_EQ(KvFio_SetStreamFormatInfo(&r, static_cast<const WAVEFORMATEX*>(nullptr), nullptr, 0), S_OK);
  EXPECT_TRUE(AllZero(r.format, 96));

  BITMAPINFOHEADER bih = Bih(320, 240, 32, 0);
  tKVVIDEOEXTENSION vext;
  vext.Init(50.0, 1, 1.0);
  std::memset(&r, 0xCC, sizeof r);
  ASSERT_EQ(KvFio_SetStreamFormatInfo(&r, &bih, &vext, 1000), S_OK);
  EXPECT_EQ(r.cbSize, 184u);
  EXPECT_EQ(r.streamType, 2u);
  EXPECT_EQ(r.length, 1000);
  EXPECT_EQ(std::memcmp(r.extension, &vext, 64), 0);
  EXPECT_EQ(std::memcmp(r.format, &bih, 40), 0);
  EXPECT_TRUE(AllZero(r.format + 40, 56));

  EXPECT_EQ(KvFio_SetStreamFormatInfo(nullptr, &bih, &vext, 0), E_INVALIDARG);
}

}  // namespace
