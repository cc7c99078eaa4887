#include "kvmetric.h"

#include "kvguard.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "kverror.h"
#include "kvreg.h"
#include "kvstr.h"

struct KvMetricHandle {
  wchar_t machinePath[MAX_PATH];
  HKEY machineKey;
  wchar_t userPath[MAX_PATH];
  HKEY userKey;
};

namespace {

const wchar_t kAppTemplate[] = L"Software\\Calbrey\\%s\\Metrics";
const wchar_t kServiceTemplate[] = L"SYSTEM\\CurrentControlSet\\Services\\%s\\%d.%d\\Metrics";
const int kMaxStream = 2048;

HKEY KeyOf(HKVMETRIC m) {
  if (!m || m == KV_METRIC_DEFAULT) return nullptr;
  return m->userKey;
}

unsigned Magnitude(int id) { return id < 0 ? 0u - static_cast<unsigned>(id) : static_cast<unsigned>(id); }

void NameFor(wchar_t* out, const wchar_t* prefix, int id) {
  _snwprintf(out, 15, L"%s%u", prefix, Magnitude(id));
  out[15] = 0;
}

// The name rule of the existence test and deletion: 1 "S", 3 "B", 4 plain, others "Z".
void NameByType(wchar_t* out, int id, DWORD type) {
  NameFor(out, type == REG_SZ ? L"S" : type == REG_BINARY ? L"B" : type == REG_DWORD ? L"" : L"Z", id);
}

void Format(wchar_t* out, int cch, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(out, cch - 1, format, args);
  va_end(args);
  if (n < 0 || n > cch - 1) n = cch - 1;
  out[n] = 0;
}

HKVMETRIC NewHandle() {
  HKVMETRIC m = static_cast<HKVMETRIC>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(KvMetricHandle)));
  return m;
}

void AppTreePath(wchar_t* out, const wchar_t* application, DWORD version, const wchar_t* subKey) {
  if (subKey)
    Format(out, MAX_PATH, L"Software\\Calbrey\\%s\\%d.%d\\Metrics\\%s", application, version >> 24,
           (version >> 16) & 255, subKey);
  else
    Format(out, MAX_PATH, L"Software\\Calbrey\\%s\\%d.%d\\Metrics", application, version >> 24, (version >> 16) & 255);
}

void ServiceTreePath(wchar_t* out, const wchar_t* service, DWORD version, const wchar_t* subKey) {
  wchar_t base[MAX_PATH];
  Format(base, MAX_PATH, kServiceTemplate, service, version >> 24, (version >> 16) & 255);
  if (subKey)
    Format(out, MAX_PATH, L"%s\\%s", base, subKey);
  else
    KvStrCpyN(out, base, MAX_PATH);
}

// Reads a value into buffer (at most size bytes); type and stored size out.
LONG Query(HKEY key, const wchar_t* name, void* buffer, DWORD size, DWORD* type, DWORD* stored) {
  *stored = size;
  return RegQueryValueExW(key, name, nullptr, type, static_cast<BYTE*>(buffer), stored);
}

int TextGetter(HKVMETRIC m, const wchar_t* prefix, DWORD wantType, int id, wchar_t* buffer, int chars,
               const wchar_t* defaultText, BOOL keepEmpty) {
  if (!buffer || chars < 1) return 0;
  memset(buffer, 0, chars * sizeof(wchar_t));
  HKEY key = KeyOf(m);
  int length = -1;  // -1: nothing usable stored
  if (key) {
    wchar_t name[16];
    NameFor(name, prefix, id);
    DWORD type = 0, needed = 0;
    // The stored size first: the platform may count a terminator that the
    // stored text lacks, so the text is read into a block of its own size.
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &needed) == ERROR_SUCCESS && type == wantType) {
      std::vector<wchar_t> block(needed / sizeof(wchar_t) + 2, 0);
      DWORD stored = 0;
      if (Query(key, name, block.data(), static_cast<DWORD>(block.size() * sizeof(wchar_t)), &type, &stored) ==
              ERROR_SUCCESS &&
          type == wantType) {
        int n = static_cast<int>(stored / sizeof(wchar_t));
        if (n > 0 && block[n - 1] == 0) --n;  // the stored terminator
        // A text that does not fit the buffer is not read (as the platform
        // refuses it); one that just fills it keeps a terminator.
        if (n <= chars) {
          if (n > chars - 1) n = chars - 1;
          memcpy(buffer, block.data(), n * sizeof(wchar_t));
          buffer[n] = 0;
          length = n;
        }
      }
    }
  }
  if (length > 0) return length;
  if ((length == 0 && keepEmpty) || !defaultText) return 0;
  return KvStrCpyNLen(buffer, defaultText, chars);
}

HRESULT SetValue(HKVMETRIC m, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = KeyOf(m);
  if (!key) return E_FAIL;
  return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS ? S_OK : E_FAIL;
}

bool ReadDword(HKVMETRIC m, const wchar_t* name, DWORD* value) {
  HKEY key = KeyOf(m);
  if (!key) return false;
  DWORD type = 0, stored = 0;
  return Query(key, name, value, sizeof(DWORD), &type, &stored) == ERROR_SUCCESS && type == REG_DWORD &&
         stored == sizeof(DWORD);
}

}  // namespace

extern "C" HRESULT KVAPI KvMetric_Open(HKVMETRIC* out, const wchar_t* application, DWORD version,
                                       const wchar_t* subKey) {
  wchar_t appVersion[MAX_PATH];
  Format(appVersion, MAX_PATH, L"%s\\%d.%d", application ? application : L"", version >> 24, (version >> 16) & 255);
  return KvMetric_OpenAppVersion(out, appVersion, subKey);
}

extern "C" HRESULT KVAPI KvMetric_OpenAppVersion(HKVMETRIC* out, const wchar_t* applicationAndVersion,
                                                 const wchar_t* subKey) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  HKVMETRIC m = NewHandle();
  if (!m) return E_OUTOFMEMORY;
  wchar_t base[MAX_PATH];
  Format(base, MAX_PATH, kAppTemplate, applicationAndVersion ? applicationAndVersion : L"");
  if (subKey)
    Format(m->userPath, MAX_PATH, L"%s\\%s", base, subKey);
  else
    KvStrCpyN(m->userPath, base, MAX_PATH);
  if (RegCreateKeyW(HKEY_CURRENT_USER, m->userPath, &m->userKey) != ERROR_SUCCESS) m->userKey = nullptr;
  *out = m;
  return S_OK;
}

extern "C" HRESULT KVAPI KvMetric_OpenService(HKVMETRIC* out, const wchar_t* service, DWORD version,
                                              const wchar_t* subKey) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  HKVMETRIC m = NewHandle();
  if (!m) return E_OUTOFMEMORY;
  ServiceTreePath(m->machinePath, service ? service : L"", version, subKey);
  KvStrCpyN(m->userPath, m->machinePath, MAX_PATH);
  if (RegCreateKeyW(HKEY_LOCAL_MACHINE, m->machinePath, &m->machineKey) != ERROR_SUCCESS) m->machineKey = nullptr;
  if (RegCreateKeyW(HKEY_CURRENT_USER, m->userPath, &m->userKey) != ERROR_SUCCESS) m->userKey = nullptr;
  *out = m;
  return S_OK;
}

extern "C" HRESULT KVAPI KvMetric_OpenSubKey(HKVMETRIC* out, HKVMETRIC parent, const wchar_t* subKey) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!parent || parent == KV_METRIC_DEFAULT) return E_FAIL;
  // The application name starts where the template's "%s" stands.
  const int start = static_cast<int>(wcschr(kAppTemplate, L'%') - kAppTemplate);
  const wchar_t* path = parent->userPath;
  if (KvStrLen(path) < start) return E_FAIL;
  const wchar_t* name = path + start;
  const wchar_t* slash = wcschr(name, L'\\');
  if (!slash) return E_FAIL;
  wchar_t application[MAX_PATH];
  KvStrCpyN(application, name, static_cast<int>(slash - name) + 1 < MAX_PATH ? static_cast<int>(slash - name) + 1
                                                                               : MAX_PATH);
  const wchar_t* p = slash + 1;
  DWORD major = 0, minor = 0;
  while (*p >= L'0' && *p <= L'9') major = major * 10 + (*p++ - L'0');
  if (*p == L'.') ++p;
  while (*p >= L'0' && *p <= L'9') minor = minor * 10 + (*p++ - L'0');
  return KvMetric_Open(out, application, ((minor & 255) | ((major & 255) << 8)) << 16, subKey);
}

extern "C" HRESULT KVAPI KvMetric_Close(HKVMETRIC metric) {
  if (!metric || metric == KV_METRIC_DEFAULT) return S_OK;
  if (metric->machineKey) RegCloseKey(metric->machineKey);
  if (metric->userKey) RegCloseKey(metric->userKey);
  HeapFree(GetProcessHeap(), 0, metric);
  return S_OK;
}

extern "C" HRESULT KVAPI KvMetric_CloseAndDeleteKey(HKVMETRIC metric) {
  if (!metric || metric == KV_METRIC_DEFAULT) return E_FAIL;
  if (metric->machineKey) RegCloseKey(metric->machineKey);
  if (metric->userKey) RegCloseKey(metric->userKey);
  KvRegDeleteKey(HKEY_CURRENT_USER, metric->userPath);
  HeapFree(GetProcessHeap(), 0, metric);
  return S_OK;
}

extern "C" HRESULT KVAPI KvMetric_DeleteAll(const wchar_t* application, DWORD version) {
  return KvMetric_DeleteKey(application, version, nullptr);
}

extern "C" HRESULT KVAPI KvMetric_DeleteKey(const wchar_t* application, DWORD version, const wchar_t* subKey) {
  wchar_t path[MAX_PATH];
  AppTreePath(path, application ? application : L"", version, subKey);
  KvRegDeleteKey(HKEY_LOCAL_MACHINE, path);
  KvRegDeleteKey(HKEY_CURRENT_USER, path);
  return S_OK;
}

extern "C" HRESULT KVAPI KvMetric_DeleteAllService(const wchar_t* service, DWORD version) {
  return KvMetric_DeleteKeyService(service, version, nullptr);
}

extern "C" HRESULT KVAPI KvMetric_DeleteKeyService(const wchar_t* service, DWORD version, const wchar_t* subKey) {
  wchar_t path[MAX_PATH];
  ServiceTreePath(path, service ? service : L"", version, subKey);
  KvRegDeleteKey(HKEY_LOCAL_MACHINE, path);
  return S_OK;
}

extern "C" int KVAPI KvMetricGetName(int id, DWORD type, wchar_t* buffer) {
  if (!buffer) return 0;
  NameFor(buffer, type == 1 ? L"S" : type == 3 ? L"B" : type == 4 ? L"D" : L"Z", id);
  return KvStrLen(buffer);
}

extern "C" DWORD KVAPI KvGetMetric(HKVMETRIC metric, int id) {
  wchar_t name[16];
  NameFor(name, L"", id);
  DWORD value = 0;
  return ReadDword(metric, name, &value) ? value : 0;
}

extern "C" int KVAPI KvGetMetricEx(HKVMETRIC metric, int id, int minimum, int maximum, int defaultValue) {
  if (!KeyOf(metric)) return defaultValue;
  wchar_t name[16];
  NameFor(name, L"", id);
  DWORD stored = 0;
  int value = ReadDword(metric, name, &stored) ? static_cast<int>(stored) : defaultValue;
  if (minimum != maximum) {
    if (value < minimum) value = minimum;
    if (value > maximum) value = maximum;
  }
  return value;
}

extern "C" BOOL KVAPI KvGetMetricBool(HKVMETRIC metric, int id, BOOL defaultValue) {
  if (!KeyOf(metric)) return defaultValue;
  wchar_t name[16];
  NameFor(name, L"", id);
  DWORD stored = 0;
  if (ReadDword(metric, name, &stored)) return stored ? 1 : 0;
  return defaultValue ? 1 : 0;
}

extern "C" HRESULT KVAPI KvSetMetric(HKVMETRIC metric, int id, DWORD value) {
  wchar_t name[16];
  NameFor(name, L"", id);
  return SetValue(metric, name, REG_DWORD, &value, sizeof(value));
}

extern "C" DWORD KVAPI KvGetMetricUsingName(HKVMETRIC metric, const wchar_t* name, DWORD defaultValue) {
  DWORD value = 0;
  return name && ReadDword(metric, name, &value) ? value : defaultValue;
}

extern "C" HRESULT KVAPI KvSetMetricUsingName(HKVMETRIC metric, const wchar_t* name, DWORD value) {
  if (!name) return E_FAIL;
  return SetValue(metric, name, REG_DWORD, &value, sizeof(value));
}

extern "C" int KVAPI KvGetMetricStringEx(HKVMETRIC metric, int id, wchar_t* buffer, int chars,
                                         const wchar_t* defaultText, BOOL keepEmpty) {
  return KvGuard<int>(0, [&]() -> int {
  return TextGetter(metric, L"S", REG_SZ, id, buffer, chars, defaultText, keepEmpty);
  });
}

extern "C" HRESULT KVAPI KvSetMetricString(HKVMETRIC metric, int id, const wchar_t* text) {
  if (metric == KV_METRIC_DEFAULT || !text) return E_FAIL;
  wchar_t name[16];
  NameFor(name, L"S", id);
  return SetValue(metric, name, REG_SZ, text, (KvStrLen(text) + 1) * sizeof(wchar_t));
}

extern "C" int KVAPI KvGetMetricMultiStringEx(HKVMETRIC metric, int id, wchar_t* buffer, int chars,
                                              const wchar_t* defaultText, BOOL keepEmpty) {
  return KvGuard<int>(0, [&]() -> int {
  return TextGetter(metric, L"Z", REG_MULTI_SZ, id, buffer, chars, defaultText, keepEmpty);
  });
}

extern "C" HRESULT KVAPI KvSetMetricMultiString(HKVMETRIC metric, int id, const wchar_t* data, int chars) {
  if (metric == KV_METRIC_DEFAULT || !data || chars < 0) return E_FAIL;
  wchar_t name[16];
  NameFor(name, L"Z", id);
  return SetValue(metric, name, REG_MULTI_SZ, data, chars * sizeof(wchar_t));
}

extern "C" DWORD KVAPI KvGetMetricBinary(HKVMETRIC metric, int id, void* buffer, DWORD size) {
  if (buffer && size) memset(buffer, 0, size);
  HKEY key = KeyOf(metric);
  if (!key || !buffer) return 0;
  wchar_t name[16];
  NameFor(name, L"B", id);
  DWORD type = 0, stored = 0;
  if (Query(key, name, buffer, size, &type, &stored) != ERROR_SUCCESS || type != REG_BINARY) {
    memset(buffer, 0, size);
    return 0;
  }
  return stored;
}

extern "C" HRESULT KVAPI KvGetMetricBinaryEx(HKVMETRIC metric, int id, void* buffer, DWORD size, DWORD* storedSize) {
  if (!storedSize) return E_INVALIDARG;
  if (buffer && size) memset(buffer, 0, size);
  HKEY key = KeyOf(metric);
  if (!key) return KV_E_NOTFOUND;
  wchar_t name[16];
  NameFor(name, L"B", id);
  DWORD type = 0, needed = 0;
  LONG e = RegQueryValueExW(key, name, nullptr, &type, nullptr, &needed);
  if (e != ERROR_SUCCESS || type != REG_BINARY) {
    *storedSize = 0;
    return S_FALSE;
  }
  if (!buffer || needed > size) {
    *storedSize = needed;
    return KV_E_BUFFERTOOSMALL;
  }
  DWORD stored = 0;
  if (Query(key, name, buffer, size, &type, &stored) != ERROR_SUCCESS || type != REG_BINARY) {
    memset(buffer, 0, size);
    *storedSize = 0;
    return S_FALSE;
  }
  *storedSize = stored;
  return S_OK;
}

extern "C" HRESULT KVAPI KvSetMetricBinary(HKVMETRIC metric, int id, const void* data, DWORD size) {
  if (metric == KV_METRIC_DEFAULT || (!data && size)) return E_FAIL;
  wchar_t name[16];
  NameFor(name, L"B", id);
  return SetValue(metric, name, REG_BINARY, data, size);
}

extern "C" HRESULT KVAPI KvSetMetricStream(HKVMETRIC metric, int id, IStream* stream) {
  if (!stream) return E_POINTER;
  LARGE_INTEGER zero = {};
  ULARGE_INTEGER position = {};
  if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &position))) return E_UNEXPECTED;
  if (position.QuadPart >= 0x100000000ull || position.QuadPart > kMaxStream) return E_INVALIDARG;
  if (position.QuadPart == 0) return E_UNEXPECTED;
  HGLOBAL memory = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &memory))) return E_UNEXPECTED;
  void* data = GlobalLock(memory);
  if (!data) return E_UNEXPECTED;
  HRESULT hr = KvSetMetricBinary(metric, id, data, static_cast<DWORD>(position.QuadPart));
  GlobalUnlock(memory);
  return hr;
}

extern "C" HRESULT KVAPI KvGetMetricStream(HKVMETRIC metric, int id, IStream* stream) {
  return KvGuard<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
  if (!stream) return E_POINTER;
  DWORD size = 0;
  KvGetMetricBinaryEx(metric, id, nullptr, 0, &size);
  if (size == 0) return E_UNEXPECTED;
  std::vector<BYTE> block;
  try {
    block.assign(size, 0);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (KvGetMetricBinary(metric, id, block.data(), size) != size) return E_UNEXPECTED;
  LARGE_INTEGER zero = {};
  if (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) return E_UNEXPECTED;
  ULONG written = 0;
  if (FAILED(stream->Write(block.data(), size, &written)) || written != size) return E_UNEXPECTED;
  return S_OK;
  });
}

extern "C" HRESULT KVAPI KvGetMetricAny(HKVMETRIC metric, int id, DWORD type, void* buffer, DWORD size,
                                        DWORD* storedSize) {
  HKEY key = KeyOf(metric);
  if (!key) return E_UNEXPECTED;
  wchar_t name[16];
  NameFor(name, L"", id);
  DWORD storedType = 0, needed = 0;
  if (RegQueryValueExW(key, name, nullptr, &storedType, nullptr, &needed) != ERROR_SUCCESS || storedType != type)
    return KV_E_NOTFOUND;
  if (!buffer || needed > size) {
    if (storedSize) *storedSize = needed;
    return KV_E_BUFFERTOOSMALL;
  }
  DWORD stored = 0;
  if (Query(key, name, buffer, size, &storedType, &stored) != ERROR_SUCCESS) return KV_E_NOTFOUND;
  HRESULT hr = S_OK;
  if (type == REG_SZ) {
    wchar_t* text = static_cast<wchar_t*>(buffer);
    DWORD chars = stored / sizeof(wchar_t);
    if (chars == 0 || text[chars - 1] != 0) {
      if ((chars + 1) * sizeof(wchar_t) <= size) {
        text[chars] = 0;
      } else if (chars > 0) {
        text[chars - 1] = 0;
        stored += sizeof(wchar_t);
        hr = KV_E_BUFFERTOOSMALL;
      }
    }
  }
  if (storedSize) *storedSize = stored;
  return hr;
}

extern "C" HRESULT KVAPI KvDoesMetricExist(HKVMETRIC metric, int id, DWORD type) {
  HKEY key = KeyOf(metric);
  if (!key) return S_FALSE;
  wchar_t name[16];
  NameByType(name, id, type);
  BYTE probe = 0;
  DWORD storedType = 0, size = 1;
  LONG e = RegQueryValueExW(key, name, nullptr, &storedType, &probe, &size);
  return (e == ERROR_SUCCESS || e == ERROR_MORE_DATA) && storedType == type ? S_OK : S_FALSE;
}

extern "C" HRESULT KVAPI KvDeleteMetric(HKVMETRIC metric, int id, DWORD type) {
  wchar_t name[16];
  NameByType(name, id, type);
  return KvDeleteMetricUsingName(metric, name, type);
}

extern "C" HRESULT KVAPI KvDeleteMetricUsingName(HKVMETRIC metric, const wchar_t* name, DWORD type) {
  HKEY key = KeyOf(metric);
  if (!key) return S_FALSE;
  return RegDeleteValueW(key, name) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
