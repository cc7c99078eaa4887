// Verb "info": asks the plug-in info object for its items, as the file-IO
// manager does when it discovers a plug-in module.
#include <cstdio>

#include "host_output.h"
#include "host_verbs.h"
#include "kvfileio.h"

int RunInfoVerb(PluginModule& plugin, int, wchar_t**) {
  IKvUnsharedFIOPluginInfo* info = nullptr;
  HRESULT hr = plugin.Create(CLSID_KvUnsharedFIOPluginInfo, IID_IKvUnsharedFIOPluginInfo, reinterpret_cast<void**>(&info));
  if (FAILED(hr) || !info) {
    std::fprintf(stderr, "host: creating the plug-in info object failed: %s\n", FormatResult(hr).c_str());
    return 1;
  }
  int status = 0;
  UINT count = 0;
  hr = info->Initialize(0, 0, 0);
  if (SUCCEEDED(hr)) hr = info->GetItemCount(&count);
  if (FAILED(hr)) {
    std::fprintf(stderr, "host: plug-in info: %s\n", FormatResult(hr).c_str());
    status = 1;
  } else {
    std::printf("items %u\n", count);
    for (UINT i = 0; i < count; ++i) {
      GUID id = {};
      wchar_t name[MAX_PATH] = {};
      DWORD v[8] = {};
      hr = info->GetItem(static_cast<int>(i), &id, name, MAX_PATH, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                         &v[7]);
      if (FAILED(hr)) {
        std::fprintf(stderr, "host: GetItem(%u): %s\n", i, FormatResult(hr).c_str());
        status = 1;
        continue;
      }
      std::printf("item %u %s \"%s\" access=%s type=%s level=%s v4=%s v5=%s v6=%s zero=%s last=%s\n", i,
                  FormatGuid(id).c_str(), ToUtf8(name).c_str(), FormatHex(v[0]).c_str(), FormatHex(v[1]).c_str(),
                  FormatHex(v[2]).c_str(), FormatHex(v[3]).c_str(), FormatHex(v[4]).c_str(), FormatHex(v[5]).c_str(),
                  FormatHex(v[6]).c_str(), FormatHex(v[7]).c_str());
    }
  }
  info->Release();
  return status;
}
