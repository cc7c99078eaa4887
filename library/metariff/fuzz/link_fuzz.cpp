// libFuzzer target of the project-link records: the first input byte picks
// RIFF (even) or 64-bit RIFF (odd), the rest is the file, held in memory. The
// record is loaded; a loaded record's texts are copied out into small
// buffers, its project-data list is searched, it is saved into a new file of
// the same family and loaded back, where every field must be the same bytes,
// and it is saved over the input file itself (whose hostile chunks the
// in-place rewrite must walk, and which grows by the record's chunks only). The file must never be read or written
// outside its bytes, every block must be released, and a walk must end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kvfile.h"
#include "kvlinkstorage.h"
#include "kvriff.h"

namespace {

HRESULT Load(HANDLE h, bool is64, CKvLinkProjectInfo* info, int* loaded) {
  return is64 ? ProjectLinkRiff64_LoadInfo(h, info, loaded) : ProjectLinkRiff_LoadInfo(h, info, loaded);
}

HRESULT Save(HANDLE h, bool is64, CKvLinkProjectInfo* info) {
  return is64 ? ProjectLinkRiff64_SaveInfo(h, info) : ProjectLinkRiff_SaveInfo(h, info);
}

bool SameBytes(const void* a, DWORD na, const void* b, DWORD nb) {
  return na == nb && (na == 0 || (a && b && std::memcmp(a, b, na) == 0));
}

// Every field of two records holds the same bytes.
bool Same(CKvLinkProjectInfo& a, CKvLinkProjectInfo& b) {
  return SameBytes(a.GetProjectPath(), a.GetProjectPathSize(), b.GetProjectPath(), b.GetProjectPathSize()) &&
         SameBytes(a.GetCommandLineW(), a.GetCommandLineSize(), b.GetCommandLineW(), b.GetCommandLineSize()) &&
         SameBytes(a.GetTemplateName(), a.GetTemplateNameSize(), b.GetTemplateName(), b.GetTemplateNameSize()) &&
         SameBytes(a.GetTemplateData(), a.GetTemplateDataSize(), b.GetTemplateData(), b.GetTemplateDataSize()) &&
         SameBytes(a.GetAppTemplateData(), a.GetAppTemplateDataSize(), b.GetAppTemplateData(),
                   b.GetAppTemplateDataSize()) &&
         SameBytes(a.GetCreatorAppInfo(), a.GetCreatorAppInfoSize(), b.GetCreatorAppInfo(),
                   b.GetCreatorAppInfoSize()) &&
         SameBytes(a.GetCreatorAppWindowClassName(), a.GetCreatorAppWindowClassNameSize(),
                   b.GetCreatorAppWindowClassName(), b.GetCreatorAppWindowClassNameSize()) &&
         SameBytes(a.GetProjectData(), a.GetProjectDataSize(), b.GetProjectData(), b.GetProjectDataSize()) &&
         std::memcmp(a.GetRendererGuid(), b.GetRendererGuid(), sizeof(GUID)) == 0;
}

void Use(CKvLinkProjectInfo& info) {
  for (int cch : {1, 2, 7, 300}) {
    WCHAR buf[300];
    int (CKvLinkProjectInfo::*const getters[])(WCHAR*, int) = {
        &CKvLinkProjectInfo::GetProjectPath, &CKvLinkProjectInfo::GetCommandLineW,
        &CKvLinkProjectInfo::GetTemplateName, &CKvLinkProjectInfo::GetCreatorAppInfo,
        &CKvLinkProjectInfo::GetCreatorAppWindowClassName};
    for (auto get : getters) {
      int n = (info.*get)(buf, cch);
      if (n < 0 || n >= cch || buf[n] != 0) abort();
    }
  }
  // The project-data list, searched for a few ids, into buffers of several sizes.
  static const DWORD kIds[] = {KVRIFF_FOURCC('s', 'p', 'e', 'd'), KVRIFF_FOURCC('J', 'U', 'N', 'K'), 0};
  for (DWORD id : kIds) {
    BYTE buf[64];
    DWORD n = sizeof(buf);
    info.GetProjectData(id, buf, &n);
    n = 0;
    info.GetProjectData(id, nullptr, &n);
  }
  info.Validate();
}

void SaveAndReload(CKvLinkProjectInfo& info, bool is64) {
  KvMemoryFile out;
  HANDLE h = &out;
  HRESULT hr = is64 ? riff64_WriteFileID(h, KVRIFF64_WAVE, 16) : riff_WriteFileID(h, KVRIFF_FOURCC('W', 'A', 'V', 'E'), 4);
  if (FAILED(hr)) abort();
  if (FAILED(Save(h, is64, &info))) return;  // a record that is not a valid link is not saved
  CKvLinkProjectInfo back;
  int loaded = 0;
  if (FAILED(Load(h, is64, &back, &loaded)) || !loaded || !Same(info, back)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool is64 = data[0] & 1;
  KvMemoryFile file(data + 1, size - 1);
  HANDLE h = &file;
  CKvLinkProjectInfo info;
  int loaded = 0;
  HRESULT hr = Load(h, is64, &info, &loaded);
  if (FAILED(hr)) {
    if (info.GetProjectPath() || info.GetProjectData() || info.GetTemplateData()) abort();  // released
    return 0;
  }
  Use(info);
  SaveAndReload(info, is64);
  // Saved over the input, the file grows by the record's chunks at most:
  // never by what a header claims beyond the file's end.
  const uint64_t record = uint64_t(info.GetProjectPathSize()) + info.GetCommandLineSize() +
                          info.GetTemplateNameSize() + info.GetTemplateDataSize() + info.GetAppTemplateDataSize() +
                          info.GetCreatorAppInfoSize() + info.GetCreatorAppWindowClassNameSize() +
                          info.GetProjectDataSize() + sizeof(GUID) + 4;
  Save(h, is64, &info);
  if (file.Bytes().size() > size + record + 10 * 32) abort();
  return 0;
}
