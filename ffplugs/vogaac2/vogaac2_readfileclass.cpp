// The reader's class object.
#include "vogaac2_readfileclass.h"

#include <new>

#include "attach_services.h"
#include "kvlang.h"
#include "kvtemplate_io.h"
#include "module.h"
#include "vogaac2_about.h"
#include "vogaac2_ids.h"
#include "vogaac2_readfile.h"
#include "vogres.h"

namespace {

const DWORD kReadClassFlags = 1782;
// Too few bytes to identify a file (the library's open-failed code).

const FILECLASS_INFO_STRING_MAP kInfoTexts[] = {
    {1, reinterpret_cast<UINT_PTR>(L"AAC")},
    {2, reinterpret_cast<UINT_PTR>(L"AAC Audio")},
    {3, reinterpret_cast<UINT_PTR>(L"")},
    {4, IDS_VOGAAC_FILE_PATTERN},
    {5, IDS_VOGAAC_NAME_AAC},
    {6, IDS_VOGAAC_NAME_HEAAC},
    {7, reinterpret_cast<UINT_PTR>(L"")},
};

}  // namespace

HRESULT STDMETHODCALLTYPE VogAacReadFileClass::GetFlags(DWORD* flags) {
  if (!flags) return E_INVALIDARG;
  *flags = kReadClassFlags;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE VogAacReadFileClass::GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count,
                                                            BSTR* texts) {
  return KvFio_FillBstrArrayFromStringResourceMap(vogaac2::ModuleLanguage(), ids, count, texts, kInfoTexts,
                                                 sizeof kInfoTexts / sizeof kInfoTexts[0], L"");
}

// An MP4 file has its 'ftyp' box type at bytes 4 to 7; nothing else is checked.
HRESULT STDMETHODCALLTYPE VogAacReadFileClass::IdentifyFile(HANDLE, const BYTE* header, DWORD cb, const wchar_t*) {
  if (cb < 9) return KV_E_OPEN;
  if (!header) return E_INVALIDARG;
  if (header[4] == 'f' && header[5] == 't' && header[6] == 'y' && header[7] == 'p') return S_OK;
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE VogAacReadFileClass::ShowAbout(HWND parent) { return ShowPluginAbout(parent); }

HRESULT VogAacReadFileClass::CreateReadFile(IKvReadFile** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  VogAacReadFile* file = new (std::nothrow) VogAacReadFile(this);
  if (!file) return E_OUTOFMEMORY;
  if (!file->IsUsable()) {
    delete file;
    return E_OUTOFMEMORY;
  }
  file->AddRef();
  *out = file;
  return S_OK;
}

const GUID* VogAacReadFileClass::ReaderClassGuid() { return &VogAacReaderId; }

const GUID* VogAacReadFileClass::RendererClassGuid() { return &VogAacPluginId; }

void VogAacReadFileClass::ApplyHostLanguage(LCID lcid) {
  KvLang_UpdateKernelLCID(vogaac2::ModuleLanguage(), lcid, 1);
  if (!KvLang_IsLCIDEnglish(lcid)) {
    wchar_t path[MAX_PATH];
    vogaac2::InstallPluginHelpPath(vogaac2::ModuleHandle(), path, MAX_PATH);
  }
}
