// The renderer's class object through the DLL: the fifteen preset templates
// against a table of their settings (read back through the template library's
// own queries), the texts, the template look-ups and the slots a host calls;
// and the plug-in virtuals of the class object itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "kvaudio.h"
#include "fake_dizuvo_manager.h"
#include "kvdizuvo.h"
#include "kvfileio.h"
#include "kvtemplate.h"
#include "plugin_dll.h"
#include "render_class_fixture.h"
#include "vogaac2_renderfileclass.h"

namespace {


struct Row {
  GUID guid;
  DWORD rate, bitRate, objectType, channelMode;
  WORD channels;  // in the template's formats
  WORD tag;       // output format tag
  const char* channelName;
  const char* typeName;
};

// The presets as the host sees them.
const Row kRows[15] = {
    {{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, 44100, 128000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x97fc8cd9, 0xa785, 0x4930, {0x89, 0x91, 0x4a, 0x14, 0xe9, 0xa4, 0x4b, 0xd4}}, 44100, 256000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x9eb4dd00, 0x5876, 0x11db, {0x8e, 0x08, 0x00, 0x02, 0xa5, 0xd5, 0xc5, 0x1b}}, 44100, 192000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x943be4e0, 0x5876, 0x11db, {0x99, 0x24, 0x00, 0x02, 0xa5, 0xd5, 0xc5, 0x1b}}, 44100, 160000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x0f6e1f44, 0x92c3, 0x49f9, {0xbe, 0x29, 0xea, 0x31, 0x01, 0x47, 0x22, 0x1d}}, 44100, 128000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x32cc186a, 0x7539, 0x42e0, {0x85, 0xdf, 0xdf, 0x55, 0xc7, 0xc5, 0x6b, 0xd3}}, 44100, 96000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0xd3e3cbae, 0xd334, 0x494e, {0x92, 0xa2, 0xeb, 0xf2, 0xa8, 0xfc, 0xd5, 0xa6}}, 32000, 64000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x339c7585, 0x9f70, 0x47cb, {0x83, 0x2d, 0x9f, 0xb9, 0x4b, 0x9c, 0x6a, 0x90}}, 22050, 32000, 2, 2, 2, 0xAAC0, "Stereo", "AAC-LC"},
    {{0x5def2a22, 0x2d55, 0x4f31, {0xa3, 0x3a, 0xb4, 0x6b, 0xe9, 0xfd, 0x1f, 0x72}}, 32000, 32000, 2, 1, 1, 0xAAC0, "Mono", "AAC-LC"},
    {{0xee82f7f2, 0xc83a, 0x4e1d, {0xb2, 0x8b, 0x4a, 0x93, 0x90, 0xe2, 0x2f, 0x4c}}, 44100, 96000, 5, 2, 2, 0xAAC1, "Stereo", "HE-AAC"},
    {{0x08bf6666, 0x96a8, 0x4c32, {0x90, 0x85, 0xa1, 0xe4, 0xb8, 0x49, 0xbc, 0x4d}}, 44100, 64000, 5, 2, 2, 0xAAC1, "Stereo", "HE-AAC"},
    {{0x44ee9556, 0x786e, 0x454a, {0xa3, 0xf5, 0x73, 0xf7, 0xa3, 0x67, 0xe3, 0xd9}}, 44100, 48000, 5, 2, 2, 0xAAC1, "Stereo", "HE-AAC"},
    {{0x6a6c48be, 0x544a, 0x42d0, {0x8f, 0x5a, 0x4b, 0x59, 0x9e, 0x58, 0xe1, 0x87}}, 44100, 48000, 29, 64, 1, 0xAAC2, "Stereo", "HE-AAC v2"},
    {{0xdc86d33f, 0xb969, 0x47c4, {0xab, 0xd1, 0xe8, 0x6a, 0x8e, 0x41, 0xe4, 0xab}}, 44100, 32000, 29, 64, 1, 0xAAC2, "Stereo", "HE-AAC v2"},
    {{0xeadde075, 0xceb7, 0x4a71, {0x96, 0x5c, 0xc7, 0xbe, 0x14, 0x48, 0x8e, 0x10}}, 44100, 32000, 5, 2, 2, 0xAAC1, "Stereo", "HE-AAC"},
};

std::wstring Wide(const char* s) { return std::wstring(s, s + std::strlen(s)); }

class RenderFileClass : public RenderClassFixture {};

TEST_F(RenderFileClass, PresetTemplatesCarryTheirSettings) {
  int count = 0;
  ASSERT_EQ(S_OK, cls_->GetTemplateCount(&count));
  ASSERT_EQ(15, count);
  EXPECT_EQ(S_OK, cls_->GetTemplateCount(nullptr));
  for (int i = 0; i < 15; ++i) {
    SCOPED_TRACE("preset " + std::to_string(i));
    const Row& r = kRows[i];
    tagKVTEMPLATExV2* t = nullptr;
    ASSERT_EQ(S_OK, cls_->GetTemplate(&t, i));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(0x2020000u, t->dwVersion);
    EXPECT_EQ(DWORD(i), t->dwIndex);
    EXPECT_TRUE(IsEqualGUID(kRendererId, t->guidOwner));
    EXPECT_TRUE(IsEqualGUID(r.guid, t->guidTemplate));
    EXPECT_EQ(200u, t->cbAudioPart);
    EXPECT_EQ(44u, t->cbCodecBlock);
    EXPECT_EQ(t->cbSize, 536 + 44 + t->cchStrings * 2);
    DWORD word244 = 0;
    std::memcpy(&word244, t->reserved244, 4);
    EXPECT_EQ(1u, word244);
    // The codec block is the preset record.
    AacPresetRecord rec;
    std::memcpy(&rec, t->abData, sizeof rec);
    EXPECT_TRUE(IsEqualGUID(r.guid, rec.guid));
    EXPECT_EQ(r.rate, rec.sampleRate);
    EXPECT_EQ(r.bitRate, rec.bitRate);
    EXPECT_EQ(r.objectType, rec.objectType);
    EXPECT_EQ(r.channelMode, rec.channelMode);
    EXPECT_EQ(1u, rec.codecParam1);
    EXPECT_EQ(0u, rec.codecParam2);
    EXPECT_EQ(1u, rec.codecParam3);
    // The template library reads the output and stream values back.
    WORD tag = 0, bits = 0, channels = 0;
    DWORD rate = 0, streams = 0;
    EXPECT_EQ(S_OK, KvFio_GetTemplateInfo(t, kKvTemplatePartAudio, &tag, sizeof tag, KVFIO_TI_AUDIO_FORMAT_TAG));
    EXPECT_EQ(S_OK, KvFio_GetTemplateInfo(t, kKvTemplatePartAudio, &rate, sizeof rate, KVFIO_TI_AUDIO_SAMPLE_RATE));
    EXPECT_EQ(S_OK, KvFio_GetTemplateInfo(t, kKvTemplatePartAudio, &bits, sizeof bits, KVFIO_TI_AUDIO_BITS));
    EXPECT_EQ(S_OK, KvFio_GetTemplateInfo(t, kKvTemplatePartAudio, &channels, sizeof channels,
                                          KVFIO_TI_AUDIO_CHANNELS));
    EXPECT_EQ(S_OK, KvFio_GetTemplateInfo(t, kKvTemplatePartAudio, &streams, sizeof streams,
                                          KVFIO_TI_AUDIO_STREAMS));
    EXPECT_EQ(r.tag, tag);
    EXPECT_EQ(r.rate, rate);
    EXPECT_EQ(16, bits);
    EXPECT_EQ(r.channels, channels);
    EXPECT_EQ(1u, streams);
    // The source format: IEEE float, 32 bits, the same rate and channels.
    const _kvwaveformat* src = reinterpret_cast<const _kvwaveformat*>(t->wfSource);
    EXPECT_EQ(WAVE_FORMAT_IEEE_FLOAT, src->FormatTag());
    EXPECT_EQ(32, src->BitsPerSample());
    EXPECT_EQ(r.rate, src->nSamplesPerSec);
    EXPECT_EQ(r.channels, src->nChannels);
    // Names: the default template by its name, the others by their settings
    // (the bit rate in kilobits per second).
    std::wstring name = KvFio_GetTemplateName(t);
    std::wstring description = KvFio_GetTemplateDescription(t);
    std::wstring settings = std::to_wstring(r.bitRate / 1000) + L" Kbps, " + Wide(r.channelName) + L", " +
                            Wide(r.typeName);
    if (i == 0) {
      EXPECT_EQ(L"Default Template", name);
    } else {
      EXPECT_NE(std::wstring::npos, name.find(L" Hz, 16 Bit, ")) << std::string(name.begin(), name.end());
      EXPECT_EQ(settings, name.substr(name.size() - std::min(name.size(), settings.size())));
    }
    EXPECT_EQ(0u, description.find(L"Audio: "));
    EXPECT_EQ(settings, description.substr(description.size() - std::min(description.size(), settings.size())));
    std::free(t);
  }
  // Presets 0 and 4 differ only by their id and name.
  tagKVTEMPLATExV2 *a = nullptr, *b = nullptr;
  ASSERT_EQ(S_OK, cls_->GetTemplate(&a, 0));
  ASSERT_EQ(S_OK, cls_->GetTemplate(&b, 4));
  EXPECT_EQ(0, std::memcmp(a->abData + 16, b->abData + 16, 28));
  EXPECT_EQ(0, std::memcmp(&a->cbAudioPart, &b->cbAudioPart, 528 - 56));
  std::free(a);
  std::free(b);
}

TEST_F(RenderFileClass, LookUpsAndRefusals) {
  int index = 7;
  EXPECT_EQ(S_OK, cls_->FindTemplateByGuid(&GUID_NULL, &index));
  EXPECT_EQ(0, index);
  EXPECT_EQ(S_OK, cls_->FindTemplateByGuid(&kRows[13].guid, &index));
  EXPECT_EQ(13, index);
  EXPECT_EQ(S_FALSE, cls_->FindTemplateByGuid(&kRendererId, &index));
  EXPECT_EQ(-1, index);
  EXPECT_EQ(E_INVALIDARG, cls_->FindTemplateByGuid(nullptr, &index));
  EXPECT_EQ(E_INVALIDARG, cls_->FindTemplateByGuid(&GUID_NULL, nullptr));

  for (int bad : {15, -1, 1000}) {
    tagKVTEMPLATExV2* t = reinterpret_cast<tagKVTEMPLATExV2*>(UntouchedPointer());
    EXPECT_EQ(E_INVALIDARG, cls_->GetTemplate(&t, bad)) << bad;
    EXPECT_EQ(nullptr, t);
  }
  EXPECT_EQ(E_POINTER, cls_->GetTemplate(nullptr, 0));

  DWORD v = 0;
  EXPECT_EQ(S_OK, cls_->GetFlags(&v));
  EXPECT_EQ(400422u, v);
  EXPECT_EQ(S_OK, cls_->GetClassVersion(&v));
  EXPECT_EQ(1u, v);
  GUID id = {};
  EXPECT_EQ(S_OK, cls_->GetRendererGuid(&id));
  EXPECT_TRUE(IsEqualGUID(kRendererId, id));
  IKvReadFileClass* reader = nullptr;
  EXPECT_EQ(HRESULT(0x8004E00A), cls_->GetReaderClass(&reader));
  DWORD pages = 9, extra = 9, flags = 9;
  EXPECT_EQ(S_OK, cls_->GetTemplatePageCounts(&pages, &extra, &flags));
  EXPECT_EQ(0u, pages + extra + flags);
  EXPECT_EQ(E_INVALIDARG, cls_->GetTemplatePageCounts(&pages, nullptr, &flags));
  DWORD out = 9;
  EXPECT_EQ(E_NOTIMPL, cls_->Reserved17(0, 0, &out));
  EXPECT_EQ(0u, out);
  void* p = UntouchedPointer();
  EXPECT_EQ(E_NOTIMPL, cls_->ConvertTemplate(&p, 0, 0));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(S_FALSE, cls_->PrepareTemplatePages(0));
  EXPECT_EQ(E_NOTIMPL, cls_->CreateTemplatePage(0, nullptr));

  IKvRenderMetaSupport2* meta = nullptr;
  ASSERT_EQ(S_OK, cls_->QueryInterface(IID_IKvRenderMetaSupport, reinterpret_cast<void**>(&meta)));
  DWORD item[256];
  item[0] = 0xFFFFFFFF;
  DWORD size = 5;
  EXPECT_EQ(E_NOTIMPL, meta->Next(item, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(0u, item[0]);
  EXPECT_EQ(S_OK, meta->Reset());
  DWORD f1 = 0, f2 = 9;
  EXPECT_EQ(S_OK, meta->GetSupportedMetaFlags(&f1, &f2));
  EXPECT_EQ(0x006DF805u, f1);
  EXPECT_EQ(0u, f2);
  meta->Release();
}

TEST_F(RenderFileClass, InformationTexts) {
  const KVFIO_FILECLASS_INFO_TEXT ids[] = {1, 2, 3, 4, 5, 6, 7};
  BSTR texts[7] = {};
  ASSERT_EQ(S_OK, cls_->GetInfoTexts(ids, 7, texts));
  const wchar_t* expected[] = {L"AAC", L"AAC Audio", L"", L"*.mp4", L"Tessaly AAC", L"Save as AAC file", L""};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(std::wstring(expected[i]), std::wstring(texts[i] ? texts[i] : L"")) << "id " << ids[i];
    SysFreeString(texts[i]);
  }
}

// The manager is kept with a reference of its own; handing in the same
// manager again never frees it in between.
TEST_F(RenderFileClass, KeepsItsManagerCounted) {
  const GUID readerId = {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}};
  vogtest::FakeDizuVOManager manager;
  EXPECT_EQ(S_OK, cls_->SetDizuVOManager(&manager));
  EXPECT_EQ(2, manager.refs);
  manager.refs = 1;  // the host lets go of its own reference: the class holds the last one
  EXPECT_EQ(S_OK, cls_->SetDizuVOManager(&manager));
  EXPECT_EQ(1, manager.refs);
  EXPECT_EQ(0, manager.underflows);
  IKvDizuVOManager* kept = nullptr;
  EXPECT_EQ(S_OK, cls_->GetDizuVOManager(&kept));
  EXPECT_EQ(&manager, kept);
  EXPECT_EQ(2, manager.refs);
  kept->Release();
  IKvReadFileClass* reader = nullptr;
  EXPECT_EQ(HRESULT(0x8004E016), cls_->GetReaderClass(&reader));
  EXPECT_TRUE(IsEqualGUID(readerId, manager.askedReader));
  EXPECT_EQ(S_OK, cls_->SetDizuVOManager(nullptr));
  EXPECT_EQ(0, manager.refs);
  EXPECT_EQ(0, manager.underflows);
  EXPECT_EQ(S_OK, cls_->GetDizuVOManager(&kept));
  EXPECT_EQ(nullptr, kept);
}

// The plug-in virtuals on an object of the class itself.
TEST(RenderFileClassVirtuals, SourceFormatsAndPresetRecords) {
  VogAacRenderFileClass* cls = new VogAacRenderFileClass();
  cls->AddRef();
  struct Case {
    int index;
    WORD channels;
    DWORD rate;
  } cases[] = {{0, 2, 44100}, {8, 1, 32000}, {12, 2, 44100}, {13, 2, 44100}, {7, 2, 22050}};
  for (const Case& c : cases) {
    WAVEFORMATEX w = {};
    ASSERT_EQ(S_OK, cls->GetPresetSourceFormat(c.index, &w));
    EXPECT_EQ(WAVE_FORMAT_IEEE_FLOAT, w.wFormatTag);
    EXPECT_EQ(c.channels, w.nChannels) << c.index;
    EXPECT_EQ(c.rate, w.nSamplesPerSec);
    EXPECT_EQ(32, w.wBitsPerSample);
    EXPECT_EQ(c.channels * 4, w.nBlockAlign);
    EXPECT_EQ(c.channels * 4 * c.rate, w.nAvgBytesPerSec);
  }
  WAVEFORMATEX w = {};
  EXPECT_EQ(E_INVALIDARG, cls->GetPresetSourceFormat(0, nullptr));
  EXPECT_EQ(E_INVALIDARG, cls->GetPresetSourceFormat(15, &w));

  AacPresetRecord rec;
  EXPECT_EQ(E_INVALIDARG, cls->GetPreset(&rec, 43, 0));
  EXPECT_EQ(E_INVALIDARG, cls->GetPreset(&rec, 44, 15));
  EXPECT_EQ(E_INVALIDARG, cls->GetPreset(&rec, 44, -1));
  ASSERT_EQ(S_OK, cls->GetPreset(&rec, 44, 12));
  EXPECT_EQ(64u, rec.channelMode);
  w = {WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 384000, 8, 32, 0};
  EXPECT_EQ(S_OK, cls->ApplySourceFormat(&rec, 44, &w));
  EXPECT_EQ(2u, rec.channelMode);
  EXPECT_EQ(48000u, rec.sampleRate);
  EXPECT_EQ(E_INVALIDARG, cls->ApplySourceFormat(&rec, 40, &w));
  EXPECT_EQ(E_INVALIDARG, cls->ApplySourceFormat(&rec, 44, nullptr));
  EXPECT_EQ(E_INVALIDARG, cls->ApplySourceFormat(nullptr, 44, &w));

  GUID g;
  EXPECT_EQ(E_INVALIDARG, cls->GetPresetGuid(&g, 15));
  EXPECT_EQ(E_INVALIDARG, cls->GetPresetGuid(nullptr, 0));
  EXPECT_EQ(0x2020000u, cls->GetTemplateVersion());
  // An index past the table builds the default template.
  tagKVTEMPLATExV2* t = cls->MakePresetTemplate(15);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(0u, t->dwIndex);
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, t->guidTemplate));
  std::free(t);
  EXPECT_EQ(0u, cls->Release());
}

}  // namespace
