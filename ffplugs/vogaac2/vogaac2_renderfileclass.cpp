// The renderer's class object and the making of the preset templates.
#include "vogaac2_renderfileclass.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "attach_services.h"
#include "ffbase_guid.h"
#include "kvaudio.h"
#include "kvlang.h"
#include "kvprintf.h"
#include "kvtemplate.h"
#include "kvtemplate_io.h"
#include "module.h"
#include "vogaac2_about.h"
#include "vogaac2_ids.h"
#include "vogaac2_renderfile.h"
#include "vogres.h"

namespace {

const DWORD kRenderClassFlags = 400422;
const DWORD kTemplateVersion = 0x2020000;
const DWORD kSupportedMetaFlags = 0x006DF805;
const DWORD kScratchTemplateSize = 580;  // the header, the 44-byte codec block
const DWORD kAudioPartTag = 200;
const int kNameCapacity = 260;
// Room for a formatted name or description (numbers with separators and two names).
const int kTextCapacity = 1024;

const FILECLASS_INFO_STRING_MAP kInfoTexts[] = {
    {1, reinterpret_cast<UINT_PTR>(L"AAC")},
    {2, reinterpret_cast<UINT_PTR>(L"AAC Audio")},
    {3, reinterpret_cast<UINT_PTR>(L"")},
    {4, reinterpret_cast<UINT_PTR>(L"*.mp4")},
    {5, IDS_VOGAAC_NAME_AAC},
    {6, IDS_VOGAAC_SAVE_AS},
    {7, reinterpret_cast<UINT_PTR>(L"")},
};

UINT ObjectTypeNameId(DWORD objectType) {
  switch (objectType) {
    case kAacObjectTypeLc: return IDS_VOGAAC_AAC_LC;
    case kAacObjectTypeHe: return IDS_VOGAAC_HE_AAC;
    case kAacObjectTypeHeV2: return IDS_VOGAAC_HE_AAC_V2;
    default: return IDS_VOGAAC_OBJECT_TYPE_UNSUPPORTED;
  }
}

UINT ChannelNameId(DWORD channelMode) {
  switch (channelMode) {
    case kAacChannelModeMono: return IDS_VOGAAC_MONO;
    case kAacChannelModeStereo:
    case kAacChannelModeParametric: return IDS_VOGAAC_STEREO;
    default: return IDS_VOGAAC_CHANNELS_UNSUPPORTED;
  }
}

const wchar_t* Text(UINT id) { return KvGetString(vogaac2::ModuleLanguage(), id); }

}  // namespace

HRESULT STDMETHODCALLTYPE VogAacRenderFileClass::GetFlags(DWORD* flags) {
  if (!flags) return E_INVALIDARG;
  *flags = kRenderClassFlags;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VogAacRenderFileClass::GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count,
                                                              BSTR* texts) {
  return KvFio_FillBstrArrayFromStringResourceMap(vogaac2::ModuleLanguage(), ids, count, texts, kInfoTexts,
                                                 sizeof kInfoTexts / sizeof kInfoTexts[0], L"");
}

HRESULT STDMETHODCALLTYPE VogAacRenderFileClass::FindTemplateByGuid(const GUID* id, int* index) {
  if (!id || !index) return E_INVALIDARG;
  *index = -1;
  for (int i = 0; i < kAacPresetCount; ++i) {
    if (ffbase::IsEqualId(AacPreset(i).guid, *id)) {
      *index = i;
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE VogAacRenderFileClass::ShowAbout(HWND parent) { return ShowPluginAbout(parent); }

HRESULT VogAacRenderFileClass::GetReaderClassGuid(GUID* out) {
  if (!out) return E_INVALIDARG;
  *out = VogAacReaderId;
  return S_OK;
}

HRESULT VogAacRenderFileClass::GetRendererClassGuid(GUID* out) {
  if (!out) return E_INVALIDARG;
  *out = VogAacPluginId;
  return S_OK;
}

HRESULT VogAacRenderFileClass::NewRenderFile(IKvRenderFile** out, tagKVTEMPLATExV2* tmpl) {
  if (!out) {
    std::free(tmpl);
    return E_INVALIDARG;
  }
  VogAacRenderFile* file = new (std::nothrow) VogAacRenderFile(this, tmpl);
  if (!file || !file->IsUsable()) {
    delete file;  // frees the template with it
    if (!file) std::free(tmpl);
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  *out = file;
  return S_OK;
}

DWORD VogAacRenderFileClass::GetTemplateVersion() { return kTemplateVersion; }

HRESULT VogAacRenderFileClass::GetPresetGuid(GUID* out, int index) {
  if (!out || index < 0 || index >= kAacPresetCount) return E_INVALIDARG;
  *out = AacPreset(index).guid;
  return S_OK;
}

HRESULT VogAacRenderFileClass::GetPreset(void* out, DWORD cb, int index) {
  // A negative index is refused as well: it would read before the table.
  if (!out || cb != sizeof(AacPresetRecord) || index < 0 || index >= kAacPresetCount) return E_INVALIDARG;
  std::memcpy(out, &AacPreset(index), sizeof(AacPresetRecord));
  return S_OK;
}

tagKVTEMPLATExV2* VogAacRenderFileClass::MakePresetTemplate(int index) {
  if (index < 0 || index >= kAacPresetCount) index = 0;
  const AacPresetRecord& preset = AacPreset(index);
  alignas(8) BYTE scratch[584];
  std::memset(scratch, 0, sizeof scratch);
  tagKVTEMPLATExV2* t = reinterpret_cast<tagKVTEMPLATExV2*>(scratch);
  t->cbSize = kScratchTemplateSize;
  t->dwVersion = kTemplateVersion;
  t->dwIndex = static_cast<DWORD>(index);
  t->guidOwner = VogAacPluginId;
  t->guidTemplate = preset.guid;
  t->cbAudioPart = kAudioPartTag;
  t->nAudioStreams = 1;
  const WORD channels = AacTemplateChannels(preset.channelMode);
  _kvwaveformat* source = reinterpret_cast<_kvwaveformat*>(t->wfSource);
  source->InitAsWfx(WAVE_FORMAT_IEEE_FLOAT, preset.sampleRate, 32, channels, 0, 0);
  _kvwaveformat* output = reinterpret_cast<_kvwaveformat*>(t->wfOutput);
  output->InitAsWfx(AacOutputFormatTag(preset.objectType), preset.sampleRate, 16, channels, 0, 0);
  std::memcpy(t->reserved244, &preset.codecParam1, sizeof preset.codecParam1);
  t->cchStrings = 0;
  t->cbCodecBlock = sizeof(AacPresetRecord);
  std::memcpy(t->abData, &preset, sizeof preset);

  const wchar_t* channelName = Text(ChannelNameId(preset.channelMode));
  const wchar_t* typeName = Text(ObjectTypeNameId(preset.objectType));
  // The name and description say "Kbps": they get the bit rate in kilobits per
  // second (the record holds bits per second).
  const int kbps = static_cast<int>(preset.bitRate / 1000);
  wchar_t name[kTextCapacity];
  wchar_t description[kTextCapacity];
  name[0] = 0;
  description[0] = 0;
  if (index == 0) {
    const wchar_t* text = Text(IDS_VOGAAC_DEFAULT_TEMPLATE);
    int i = 0;
    for (; i < kNameCapacity - 1 && text[i]; ++i) name[i] = text[i];
    name[i] = 0;
  } else {
    KvPrintF(name, Text(IDS_VOGAAC_TEMPLATE_NAME), static_cast<int>(preset.sampleRate), 16, kbps, channelName,
             typeName);
  }
  KvPrintF(description, Text(IDS_VOGAAC_TEMPLATE_DESCRIPTION), static_cast<int>(preset.sampleRate), 16, kbps,
           channelName, typeName);
  return KvFio_CopyTemplateRenamed(t, name, description);
}

HRESULT VogAacRenderFileClass::GetPresetSourceFormat(int index, WAVEFORMATEX* out) {
  if (!out || index < 0 || index >= kAacPresetCount) return E_INVALIDARG;
  const AacPresetRecord& preset = AacPreset(index);
  out->wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  out->nChannels = preset.channelMode == kAacChannelModeParametric ? 2 : static_cast<WORD>(preset.channelMode);
  out->nSamplesPerSec = preset.sampleRate;
  out->wBitsPerSample = 32;
  out->nBlockAlign = static_cast<WORD>(out->nChannels * 4);
  out->nAvgBytesPerSec = out->nBlockAlign * out->nSamplesPerSec;
  out->cbSize = 0;
  return S_OK;
}

HRESULT VogAacRenderFileClass::ApplySourceFormat(void* preset, DWORD cb, const WAVEFORMATEX* wfx) {
  if (!preset || !wfx || cb != sizeof(AacPresetRecord)) return E_INVALIDARG;
  AacPresetRecord* record = static_cast<AacPresetRecord*>(preset);
  record->channelMode = wfx->nChannels;
  record->sampleRate = wfx->nSamplesPerSec;
  return S_OK;
}

DWORD VogAacRenderFileClass::SupportedMetaFlags() { return kSupportedMetaFlags; }

void VogAacRenderFileClass::ApplyHostLanguage(LCID lcid) {
  KvLang_UpdateKernelLCID(vogaac2::ModuleLanguage(), lcid, 1);
  if (!KvLang_IsLCIDEnglish(lcid)) {
    wchar_t path[MAX_PATH];
    vogaac2::InstallPluginHelpPath(vogaac2::ModuleHandle(), path, MAX_PATH);
  }
}
