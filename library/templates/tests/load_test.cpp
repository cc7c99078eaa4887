// Loading templates: the stream loader's checks on V2 records, the V1 reader
// and its lift to V2, and the whole-file acceptance rule on the struct-built
// fixture files (with their zlib CRC identities). In the native build these
// run under AddressSanitizer: a malformed record must never make a loader
// read or write outside what it allocated, and every failure frees what was
// allocated.
#include <gtest/gtest.h>

#include <cstring>

#include "kvaudio.h"
#include "template_test_util.h"

namespace {

using kvtemplate::LoadRecord;

std::vector<BYTE> V2Record(DWORD size = 540, DWORD version = 0x2000000) {
  std::vector<BYTE> r(size);
  std::memcpy(r.data(), &size, 4);
  std::memcpy(r.data() + 4, &version, 4);
  return r;
}

void Put32(std::vector<BYTE>& r, size_t at, DWORD v) { std::memcpy(r.data() + at, &v, 4); }

HRESULT Load(const std::vector<BYTE>& bytes, tt::Owned* out, DWORD maxVersion = 0x2000000, bool* wasV1 = nullptr,
             size_t failAt = SIZE_MAX, size_t* consumed = nullptr) {
  tt::MemorySource src(bytes, failAt);
  bool v1 = false;
  HRESULT hr = LoadRecord(out->out(), src, maxVersion, &v1);
  if (wasV1) *wasV1 = v1;
  if (consumed) *consumed = src.Position();
  if (FAILED(hr)) {
    EXPECT_EQ(out->t, nullptr) << "a failed load leaves no record";
  }
  return hr;
}

// ---- V2 records from a stream ----------------------------------------------------

TEST(StreamLoader, V2RecordsAndTheirChecks) {
  struct Case {
    const char* what;
    std::vector<BYTE> bytes;
    HRESULT expected;
  };
  std::vector<Case> cases;
  cases.push_back({"basic 540", V2Record(), S_OK});
  cases.push_back({"536 bytes, no string area", V2Record(536), S_OK});
  {
    auto r = V2Record(540 + 8, 0x2020000);
    Put32(r, 532, 8);
    Put32(r, 528, 2);
    Put32(r, 56, 200);
    Put32(r, 256, 200);
    cases.push_back({"block, strings and both parts", r, S_OK});
  }
  cases.push_back({"size under 536", V2Record(535), KV_E_CORRUPT});
  cases.push_back({"size over 32 MiB", [] { auto r = V2Record(); Put32(r, 0, 0x2000001); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"fewer bytes than the size", [] { auto r = V2Record(); r.resize(539); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"major version 3", V2Record(540, 0x3000000), KV_E_CORRUPT});
  cases.push_back({"major version 0", V2Record(540, 0x00FFFFFF), KV_E_CORRUPT});
  cases.push_back({"two bytes only", {1, 2}, KV_E_CORRUPT});
  cases.push_back({"no version word", {0x1C, 2, 0, 0, 0}, KV_E_CORRUPT});
  cases.push_back({"block beyond the record", [] { auto r = V2Record(); Put32(r, 532, 5); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"strings beyond the record", [] { auto r = V2Record(); Put32(r, 528, 3); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"string length wraps 32 bits", [] { auto r = V2Record(); Put32(r, 528, 0x80000000); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"block size wraps 32 bits", [] { auto r = V2Record(); Put32(r, 532, 0xFFFFFFFE); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"audio part 100", [] { auto r = V2Record(); Put32(r, 56, 100); return r; }(),
                   KV_E_CORRUPT});
  cases.push_back({"video part 1", [] { auto r = V2Record(); Put32(r, 256, 1); return r; }(), KV_E_CORRUPT});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tt::Owned t;
    ASSERT_EQ(Load(c.bytes, &t), c.expected);
    if (c.expected == S_OK) {
      EXPECT_EQ(std::memcmp(t.t, c.bytes.data(), c.bytes.size()), 0);
      tt::Owned copy;
      EXPECT_EQ(KvFio_CopyTemplate(copy.out(), t.t), S_OK);
      KvFio_GetTemplateDataCRC32(t.t, TRUE);
    }
  }
}

TEST(StreamLoader, VersionAboveTheCallersIsRefusedBeforeReadingOn) {
  tt::Owned t;
  size_t consumed = 0;
  EXPECT_EQ(Load(V2Record(), &t, 0x1000000, nullptr, SIZE_MAX, &consumed), KV_E_CORRUPT);
  EXPECT_EQ(consumed, 8u);
  EXPECT_EQ(Load(V2Record(), &t, 0x2FFFFFF), S_OK);
}

TEST(StreamLoader, FailingReadsReturnTheStreamsError) {
  for (size_t failAt : {0, 4, 8, 300}) {
    tt::Owned t;
    EXPECT_EQ(Load(V2Record(), &t, 0x2000000, nullptr, failAt), E_FAIL) << failAt;
  }
  tt::V1Spec s;
  s.audioCodec = {1, 2, 3};
  for (size_t failAt : {8, 1048, 1060, 1100}) {
    tt::Owned t;
    EXPECT_EQ(Load(tt::BuildV1(s), &t, 0x2000000, nullptr, failAt), E_FAIL) << failAt;
  }
}

// ---- V1 records and their lift ---------------------------------------------------

TEST(V1Lift, AudioTemplate) {
  tt::V1Spec s;
  s.version = 0x1000005;
  s.audioStreams = 3;
  for (int i = 0; i < 32; ++i) s.audioExt[i] = static_cast<BYTE>(i);
  s.audioCodec = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  tt::Owned t;
  bool wasV1 = false;
  ASSERT_EQ(Load(tt::BuildV1(s), &t, 0x2000000, &wasV1), S_OK);
  EXPECT_TRUE(wasV1);
  EXPECT_EQ(t->dwVersion, 0x2000005u);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), s.name);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), s.desc);
  EXPECT_EQ(t->cbAudioPart, 200u);
  EXPECT_EQ(t->nAudioStreams, 3u);
  EXPECT_EQ(t->cbVideoPart, 0u);
  EXPECT_EQ(t->cbCodecBlock, 10u);
  EXPECT_EQ(t->cbSize, KvFio_GetTemplateAllocSize(t->cchStrings, 10));
  EXPECT_EQ(std::memcmp(kvtemplate::CodecBlock(t.t), s.audioCodec.data(), 10), 0);
  EXPECT_EQ(std::memcmp(&t->audioExt, s.audioExt, 32), 0);
  _kvwaveformat expected;
  std::memset(&expected, 0, sizeof expected);
  expected.Init(40, s.source);
  EXPECT_EQ(std::memcmp(t->wfSource, &expected, 40), 0);
  BYTE zero[96] = {};
  EXPECT_EQ(std::memcmp(t->wfOutput, zero, 96), 0);
  EXPECT_TRUE(KvGuidEquals(t->guidOwner, GUID{})) << "no render class: no owner";
  EXPECT_TRUE(KvGuidEquals(t->guidTemplate, GUID{}));
  DWORD rate = 0;
  EXPECT_EQ(KvFio_GetTemplateInfo(t.t, 1, &rate, 4, KVFIO_TI_AUDIO_SAMPLE_RATE), S_OK);
  EXPECT_EQ(rate, 44100u);
}

TEST(V1Lift, OutputFormatMustFitItsFieldWhateverItsTag) {
  struct Case {
    WORD tag;
    WORD extra;
    size_t pad;
    HRESULT expected;
  } const cases[] = {
      {0xFF, 2, 0, S_OK},    {0xFF, 78, 0, S_OK},   {0xFF, 79, 0, KV_E_CORRUPT},
      {1, 78, 0, S_OK},      {1, 79, 0, KV_E_CORRUPT}, {3, 400, 0, KV_E_CORRUPT},
      {0xFF, 0, 0, S_OK},    {0xFF, 2, 100, S_OK},  // a block longer than its header needs
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag " << c.tag << " extra " << c.extra);
    tt::V1Spec s;
    s.compressed = tt::CompressedFormat(c.tag, c.extra, c.pad);
    tt::Owned t;
    ASSERT_EQ(Load(tt::BuildV1(s), &t), c.expected);
    if (c.expected != S_OK) continue;
    _kvwaveformat expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Init(96, *reinterpret_cast<const WAVEFORMATEX*>(s.compressed.data()));
    EXPECT_EQ(std::memcmp(t->wfOutput, &expected, 96), 0);
  }
}

TEST(V1Lift, VideoTemplateAndCodecBlocks) {
  tt::V1Spec s;
  s.audioCodec = {1, 2, 3};
  s.video = true;
  s.videoStreams = 2;
  tKVVIDEOEXTENSION ext;
  ext.Init(25.0, 1, 1.5);
  std::memcpy(s.videoExt, &ext, 64);
  s.bihSource = {40, 320, 240, 1, 24, 0, 0, 0, 0, 0, 0};
  s.videoCodec = {0xA, 0xB, 0xC, 0xD, 0xE};
  tt::Owned t;
  ASSERT_EQ(Load(tt::BuildV1(s), &t), S_OK);
  EXPECT_EQ(t->cbVideoPart, 200u);
  EXPECT_EQ(t->nVideoStreams, 2u);
  EXPECT_EQ(std::memcmp(&t->videoExt, &ext, 64), 0);
  EXPECT_EQ(std::memcmp(&t->bihSource, &s.bihSource, 40), 0);
  BYTE zero[40] = {};
  EXPECT_EQ(std::memcmp(&t->bihOutput, zero, 40), 0) << "no output header";
  EXPECT_EQ(t->cbCodecBlock, 8u);
  const BYTE block[8] = {1, 2, 3, 0xA, 0xB, 0xC, 0xD, 0xE};
  EXPECT_EQ(std::memcmp(kvtemplate::CodecBlock(t.t), block, 8), 0);

  s.bihOutput = {40, 320, 240, 1, 24, 0x47504A4D, 0, 0, 0, 0, 0};
  s.audio = false;
  ASSERT_EQ(Load(tt::BuildV1(s), &t), S_OK);
  EXPECT_EQ(t->cbAudioPart, 0u);
  EXPECT_EQ(std::memcmp(&t->bihOutput, &s.bihOutput, 40), 0);
  EXPECT_EQ(t->cbCodecBlock, 5u);
  EXPECT_EQ(std::memcmp(kvtemplate::CodecBlock(t.t), s.videoCodec.data(), 5), 0);
}

TEST(V1Lift, ExtensibleSourceTakesIntegerOrFloatFromTheValidBits) {
  struct Case {
    WORD containerBits, validBits;
    KVSAMPLETYPE type;
  } const cases[] = {{24, 20, KVST_S24}, {32, 24, KVST_S32}, {32, 32, KVST_FLOAT}, {16, 16, KVST_S16}};
  for (const Case& c : cases) {
    tt::V1Spec s;
    s.source = {WAVE_FORMAT_EXTENSIBLE, 2, 48000, 0, 0, c.containerBits, 22};
    WAVEFORMATEXTENSIBLE x = {};
    x.Format = s.source;
    x.Samples.wValidBitsPerSample = c.validBits;
    x.dwChannelMask = 0x3;
    s.compressed.assign(reinterpret_cast<BYTE*>(&x), reinterpret_cast<BYTE*>(&x) + sizeof x);
    tt::Owned t;
    ASSERT_EQ(Load(tt::BuildV1(s), &t), S_OK);
    _kvwaveformat src;
    std::memset(&src, 0, sizeof src);
    std::memcpy(&src, t->wfSource, 40);
    EXPECT_EQ(src.SampleType, c.type) << c.containerBits << "/" << c.validBits;
    EXPECT_EQ(src.nSamplesPerSec, 48000u);
    EXPECT_EQ(src.nChannels, 2);
    EXPECT_EQ(src.dwChannelMask, 3u);
    EXPECT_EQ(src.cbStruct, 32u);
  }
}

TEST(V1Lift, NameFieldsWithoutTerminatorStayInsideTheField) {
  tt::V1Spec s;
  s.name = std::u16string(300, u'N');
  s.desc = std::u16string(260, u'D');
  tt::Owned t;
  ASSERT_EQ(Load(tt::BuildV1(s), &t), S_OK);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), std::u16string(260, u'N'));
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateDescription(t.t)), std::u16string(260, u'D'));
}

TEST(V1Lift, MalformedStreamsAreRefusedAndFreed) {
  struct Case {
    const char* what;
    tt::V1Spec spec;
  };
  std::vector<Case> cases;
  tt::V1Spec full;
  full.compressed = tt::CompressedFormat(0xFF, 4);
  full.audioCodec = std::vector<BYTE>(16, 7);
  full.video = true;
  full.videoCodec = std::vector<BYTE>(12, 9);
  const size_t length = tt::BuildV1(full).size();
  // Every cut of the stream form is refused.
  for (size_t cut : {9, 500, 1047, 1048, 1051, 1060, 1080, 1100, 1130, 1150, 1200, 1250})
    if (cut < length) {
      Case c{"truncated", full};
      c.spec.truncate = cut;
      cases.push_back(c);
    }
  {
    Case c{"truncated one byte short", full};
    c.spec.truncate = length - 1;
    cases.push_back(c);
  }
  {
    Case c{"format block shorter than a header", full};
    c.spec.compressed.resize(10);
    cases.push_back(c);
  }
  {
    Case c{"header announces more extra bytes than the block holds", full};
    c.spec.compressed = tt::CompressedFormat(0xFF, 40);
    c.spec.compressed.resize(30);
    cases.push_back(c);
  }
  {
    Case c{"version 2 in the V1 reader", full};
    c.spec.version = 0x2000000;
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what << " at " << c.spec.truncate);
    tt::Owned t;
    std::vector<BYTE> bytes = tt::BuildV1(c.spec);
    if (c.spec.version >> 24 == 2) {
      // Read straight through the V1 reader (the stream loader would take it as V2).
      KVTEMPLATEV1_AUDIO a = {};
      KVTEMPLATEV1_VIDEO v = {};
      KVTEMPLATExV1 v1 = {};
      v1.pAudio = &a;
      v1.pVideo = &v;
      tt::MemorySource src(bytes);
      EXPECT_EQ(kvtemplate::ReadV1(&v1, src, 0x2000000, false), KV_E_CORRUPT);
      continue;
    }
    EXPECT_EQ(Load(bytes, &t), KV_E_CORRUPT);
  }
}

TEST(V1Lift, HugeSizesAreRefusedBeforeAllocating) {
  tt::V1Spec s;
  std::vector<BYTE> bytes = tt::BuildV1(s);
  // The audio codec-data size word sits after the header, the two name
  // fields, the present word, the WAVEFORMATEX, the count, the format size
  // (0) and the extension.
  const size_t codecSizeAt = 8 + 1040 + 4 + 18 + 4 + 4 + 32;
  for (DWORD size : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x2000001u}) {
    Put32(bytes, codecSizeAt, size);
    tt::Owned t;
    EXPECT_EQ(Load(bytes, &t), KV_E_CORRUPT) << size;
  }
  Put32(bytes, codecSizeAt - 36, 0xFFFFFFF0u);  // the format size
  tt::Owned t;
  EXPECT_EQ(Load(bytes, &t), KV_E_CORRUPT);
}

TEST(V1Reader, ReadsItsOwnHeaderAndChecksTheVersion) {
  tt::V1Spec s;
  s.audioCodec = {5, 6};
  s.compressed = tt::CompressedFormat(0x1600, 2);
  KVTEMPLATEV1_AUDIO a = {};
  KVTEMPLATEV1_VIDEO v = {};
  KVTEMPLATExV1 v1 = {};
  v1.pAudio = &a;
  v1.pVideo = &v;
  {
    tt::MemorySource src(tt::BuildV1(s));
    ASSERT_EQ(kvtemplate::ReadV1(&v1, src, 0x1000000, false), S_OK);
    EXPECT_EQ(v1.dwVersion, 0x1000000u);
    EXPECT_TRUE(v1.bAudio);
    EXPECT_FALSE(v1.bVideo);
    EXPECT_EQ(static_cast<DWORD>(a.cbCodecData), 2u);
    ASSERT_TRUE(a.pwfxCompressed != nullptr);
    EXPECT_EQ(a.pwfxCompressed->wFormatTag, 0x1600);
    kvtemplate::FreeV1Data(&v1);
    EXPECT_TRUE(a.pwfxCompressed == nullptr);
  }
  {
    tt::MemorySource src(tt::BuildV1(s));
    EXPECT_EQ(kvtemplate::ReadV1(&v1, src, 0x0FFFFFF, false), KV_E_CORRUPT) << "caller admits no V1";
  }
  v1.pVideo = nullptr;
  tt::MemorySource src(tt::BuildV1(s));
  EXPECT_EQ(kvtemplate::ReadV1(&v1, src, 0x1000000, false), E_INVALIDARG);
}

// ---- struct-built files and their identities --------------------------------------

TEST(TemplateFiles, AcceptanceAndCrcAgainstPython) {
  std::vector<tt::ManifestRow> rows = tt::ReadManifest();
  ASSERT_GT(rows.size(), 20u) << "fixture manifest missing: " << tt::FixturePath("manifest.tsv");
  for (const tt::ManifestRow& r : rows) {
    SCOPED_TRACE(r.file);
    std::vector<BYTE> data;
    ASSERT_TRUE(tt::ReadFile(tt::FixturePath(r.file), &data));
    // Exactly the file's bytes, so that a sanitizer sees any read past them.
    std::vector<BYTE>* exact = new std::vector<BYTE>(data);
    EXPECT_EQ(kvtemplate::CheckFileImage(exact->empty() ? nullptr : exact->data(), exact->size()), r.expected);
    if (r.crc0 != "-") {
      const tagKVTEMPLATExV2* t = reinterpret_cast<const tagKVTEMPLATExV2*>(exact->data());
      EXPECT_EQ(tt::Hex32(KvFio_GetTemplateDataCRC32(t, FALSE)), r.crc0);
      EXPECT_EQ(tt::Hex32(KvFio_GetTemplateDataCRC32(t, TRUE)), r.crc1);
    }
    delete exact;
  }
}

}  // namespace
