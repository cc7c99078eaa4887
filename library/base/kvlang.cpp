// Language handles: satellite module choice, string loading with a sorted
// per-handle cache, the scratch ring of text conversions, language ids and the
// user's language choice in the registry.
#include "kvlang.h"

#include <commctrl.h>
#include <string.h>

#include <string>

#include "kvlist.h"
#include "kvstr.h"

struct KvLangHandle {
  HMODULE module;
  DWORD lockInitialised;
  CRITICAL_SECTION lock;
  DWORD scratchSize;
  DWORD scratchReserve;
  DWORD scratchPosition;
  wchar_t* scratch;
  DWORD satelliteActive;
  HMODULE satellite;  // the "<module>.LNG" file, or the module itself
  LCID lcid;
  DWORD zero;
  tKVLIST* cache;  // items {string id, text}, sorted by id
  HMODULE loadedSatellite;  // the satellite this handle loaded and must free
};

namespace {

const wchar_t kEmptyText[] = L"";
char kEmptyNarrowText[] = "";

const DWORD kDefaultScratchChars = 8192;
const DWORD kMinScratchChars = 2048;
const DWORD kScratchReserve = 1024;
const int kLoadBufferChars = 1024;
const DWORD kCacheOptions = KVLIST_NO_OWNER_CHECK | KVLIST_ALLOCATED_ITEMS;
const LANGID kEnglishUS = 1033;

HKVLANG g_library = nullptr;

struct CacheItem {
  DWORD id;
  wchar_t text[1];
};

int KVAPI CompareCacheIds(DWORD, const void* key, const void* item) {
  DWORD a = *static_cast<const DWORD*>(key);
  DWORD b = static_cast<const CacheItem*>(item)->id;
  return a < b ? -1 : a > b ? 1 : 0;
}

class Locked {
 public:
  explicit Locked(HKVLANG h) : h_(h->lockInitialised ? h : nullptr) {
    if (h_) EnterCriticalSection(&h_->lock);
  }
  ~Locked() {
    if (h_) LeaveCriticalSection(&h_->lock);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  HKVLANG h_;
};

// Loads the satellite named like the module with the extension "LNG"; the
// module itself when there is no such file.
HMODULE OpenSatellite(HMODULE module, HMODULE* loaded) {
  *loaded = nullptr;
  wchar_t path[1024];
  DWORD n = GetModuleFileNameW(module, path, 1024);
  if (n == 0 || n >= 1024 - 4) return module;
  wchar_t* name = path;
  for (wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  wchar_t* dot = nullptr;
  for (wchar_t* p = name; *p; ++p)
    if (*p == L'.') dot = p;
  if (dot)
    dot[1] = 0;
  else
    KvStrCat(path, L".");
  KvStrCat(path, L"LNG");
  HMODULE sat = LoadLibraryW(path);
  if (!sat) return module;
  *loaded = sat;
  return sat;
}

// One string of a module's string table in one language: the table block
// (id >> 4) + 1 holds 16 counted strings. Copies at most cch - 1 characters
// and terminates; returns the characters copied (0: no such string).
int LoadStringFromBlock(HMODULE module, LANGID lang, UINT id, wchar_t* buf, int cch) {
  HRSRC res = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), lang);
  if (!res) return 0;
  HGLOBAL global = LoadResource(module, res);
  const WORD* p = global ? static_cast<const WORD*>(LockResource(global)) : nullptr;
  if (!p) return 0;
  const WORD* end = p + SizeofResource(module, res) / sizeof(WORD);
  for (UINT i = 0; i < (id & 15); ++i) {
    if (p >= end) return 0;
    p += 1 + *p;
  }
  if (p >= end) return 0;
  int len = *p++;
  if (len > end - p) len = static_cast<int>(end - p);
  // The copy, not the entry's length, is reported: a truncated text is
  // cch - 1 characters long, like LoadStringW's.
  int n = len < cch - 1 ? len : cch - 1;
  memcpy(buf, p, static_cast<size_t>(n) * sizeof(wchar_t));
  buf[n] = 0;
  return n;
}

void EmptyCache(HKVLANG h) {
  if (h->cache) KvList_DeleteList(h->cache, 0, -1, TRUE);
}

bool IsRtlLanguage(LCID lcid) {
  DWORD primary = lcid & 0x3FF;
  return primary == 0x01 || primary == 0x0D || primary == 0x20 || primary == 0x29;
}

KVINTERNATIONALS MakeDefaultInternationals() {
  KVINTERNATIONALS r;
  memset(&r, 0, sizeof(r));
  r.recordSize = sizeof(KVINTERNATIONALS);
  return r;
}

KVINTERNATIONALS g_inat = MakeDefaultInternationals();

void SetField(wchar_t* field, DWORD* length, int capacity, const wchar_t* text) {
  *length = static_cast<DWORD>(KvStrCpyNLen(field, text, capacity));
}

void ReadLocaleText(LCTYPE type, wchar_t* field, DWORD* length, int capacity) {
  wchar_t buf[256];
  if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 256)) buf[0] = 0;
  SetField(field, length, capacity, buf);
}

DWORD ReadLocaleNumber(LCTYPE type, int base) {
  wchar_t buf[64];
  if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 64)) return 0;
  return static_cast<DWORD>(wcstoul(buf, nullptr, base));
}

std::wstring LangMetricKey(const wchar_t* app, DWORD version) {
  return std::wstring(L"Software\\Calbrey\\") + app + L"\\" + std::to_wstring(version >> 24) + L"." +
         std::to_wstring((version >> 16) & 255) + L"\\Lang";
}

struct EnumLanguages {
  wchar_t* out;
  int cch;
  int length;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  EnumLanguages* e = reinterpret_cast<EnumLanguages*>(param);
  wchar_t abbrev[16];
  if (!GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_SABBREVLANGNAME, abbrev, 16)) return TRUE;
  if (e->length > 0) KvStrCatN(e->out, L",", e->cch);
  KvStrCatN(e->out, abbrev, e->cch);
  e->length = KvStrLen(e->out);
  return TRUE;
}

}  // namespace

extern "C" {

HKVLANG KVAPI KvLang_GetLibraryHandle(void) { return g_library; }

void KVAPI KvLang_SetLibraryHandle(HKVLANG lang) { g_library = lang; }

HRESULT KVAPI KvLang_Open(HKVLANG* out, HMODULE module, LCID lcid, DWORD scratchChars) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (scratchChars == 0)
    scratchChars = kDefaultScratchChars;
  else if (scratchChars < kMinScratchChars)
    scratchChars = kMinScratchChars;
  if (scratchChars > 0x10000000) return E_OUTOFMEMORY;

  HKVLANG h = static_cast<HKVLANG>(GlobalAlloc(GPTR, sizeof(KvLangHandle)));
  if (!h) return E_OUTOFMEMORY;
  h->module = module;
  h->scratch = static_cast<wchar_t*>(GlobalAlloc(GPTR, scratchChars * sizeof(wchar_t)));
  if (!h->scratch) {
    GlobalFree(h);
    return E_OUTOFMEMORY;
  }
  InitializeCriticalSection(&h->lock);
  h->lockInitialised = 1;
  h->scratchSize = scratchChars;
  h->scratchReserve = kScratchReserve;
  h->scratchPosition = 0;
  h->satelliteActive = 0;
  h->lcid = lcid;
  h->zero = 0;
  HRESULT hr = KvList_CreateExZ(&h->cache, 8, 0, 0, kCacheOptions, 0, 0, 0);
  if (FAILED(hr)) {
    // Nothing is left behind when the cache cannot be made.
    DeleteCriticalSection(&h->lock);
    GlobalFree(h->scratch);
    GlobalFree(h);
    return hr;
  }
  h->satellite = OpenSatellite(module, &h->loadedSatellite);
  *out = h;
  return S_OK;
}

HRESULT KVAPI KvLang_Close(HKVLANG h) {
  if (!h) return S_OK;
  if (h->lockInitialised) DeleteCriticalSection(&h->lock);
  h->lockInitialised = 0;
  if (h->loadedSatellite && h->loadedSatellite != h->module) FreeLibrary(h->loadedSatellite);
  if (h->scratch) GlobalFree(h->scratch);
  KvList_Destroy(h->cache);
  if (g_library == h) g_library = nullptr;
  GlobalFree(h);
  return S_OK;
}

BOOL KVAPI KvLang_UpdateKernelLCID(HKVLANG h, LCID lcid, DWORD) {
  HKVLANG library = g_library;
  if (!h || !library) return FALSE;
  if (lcid == 0) lcid = kEnglishUS;
  const DWORD active = KvLang_IsLCIDEnglish(lcid) ? 0 : 1;
  // Language, satellite flag and cache change together under each handle's
  // lock, so a lookup never caches a text of the other language.
  HKVLANG handles[2] = {h, library};
  for (HKVLANG x : handles) {
    Locked hold(x);
    if (x->lcid != lcid) {
      x->lcid = lcid;
      EmptyCache(x);
    }
    x->satelliteActive = active;
  }
  SetProcessDefaultLayout(KvLang_UseRTL(h) ? LAYOUT_RTL : 0);
  return TRUE;
}

BOOL KVAPI KvLang_ChangeLangInst(HKVLANG h, HMODULE satellite) {
  HKVLANG library = g_library;
  if (!h || !library) return FALSE;
  if (!satellite) return TRUE;
  HKVLANG handles[2] = {h, library};
  for (HKVLANG x : handles) {
    Locked hold(x);
    x->satellite = satellite;
  }
  return TRUE;
}

HMODULE KVAPI KvLang_InstFromLang(HKVLANG h) {
  if (!h) return nullptr;
  return h->satelliteActive && h->satellite ? h->satellite : h->module;
}

LCID KVAPI KvLang_GetLCID(HKVLANG h) { return h ? h->lcid : 0; }

BOOL KVAPI KvLang_GetModules(HKVLANG h, HMODULE* module, HMODULE* satellite, BOOL* satelliteActive) {
  if (!h) return FALSE;
  if (module) *module = h->module;
  if (satellite) *satellite = h->satellite;
  if (satelliteActive) *satelliteActive = h->satelliteActive && h->satellite ? TRUE : FALSE;
  return TRUE;
}

BOOL KVAPI KvLang_IsLCIDEnglish(LCID lcid) { return (lcid & 0x3FF) == LANG_ENGLISH; }

LCID KVAPI KvLang_GetConditionedLCID(LCID lcid) {
  DWORD primary = lcid & 0x3FF;
  if (primary == 0x16) return lcid;
  if (primary == LANG_CHINESE) {
    DWORD sub = (lcid >> 10) & 0x3F;
    return sub == 1 || sub == 3 || sub == 5 ? 0x0404 : 0x0804;
  }
  return primary | 0x400;
}

BOOL KVAPI KvLang_UseRTL(HKVLANG h) { return h && IsRtlLanguage(h->lcid) ? TRUE : FALSE; }

void KVAPI KvLang_EnableProcessMirroring(void) { SetProcessDefaultLayout(LAYOUT_RTL); }

void KVAPI KvLang_DisableProcessMirroring(void) { SetProcessDefaultLayout(0); }

BOOL KVAPI KvLang_IsNameOrderReversed(HKVLANG h) { return h && h->lcid == 1041 ? TRUE : FALSE; }

int KVAPI KvLang_LocalizeUserName(HKVLANG h, const wchar_t* first, const wchar_t* last, wchar_t* out, int cch) {
  if (!out || cch < 1) return 0;
  std::wstring a = first ? first : L"";
  std::wstring b = last ? last : L"";
  std::wstring name = KvLang_IsNameOrderReversed(h) ? b + L" " + a : a + L" " + b;
  return KvStrCpyNLen(out, name.c_str(), cch);
}

BOOL KVAPI KvLang_GetLangAbbrev(HKVLANG h, wchar_t* out, int cch) {
  if (!h || !out || cch < 1) return FALSE;
  if (!GetLocaleInfoW(KvLang_GetConditionedLCID(h->lcid), LOCALE_SABBREVLANGNAME, out, cch)) {
    out[0] = 0;
    return FALSE;
  }
  return TRUE;
}

int KVAPI KvSetLangID(const wchar_t* abbrev) {
  if (!abbrev || !*abbrev) abbrev = L"ENU";
  SetField(g_inat.languageAbbreviation, &g_inat.languageAbbreviationLength, 4, abbrev);
  return static_cast<int>(g_inat.languageAbbreviationLength);
}

void KVAPI KvLang_UpdateThreadLocale(HKVLANG h) {
  LCID lcid = h ? h->lcid : 0;
  SetThreadLocale(lcid);
  InitMUILanguage(LANGIDFROMLCID(lcid));
}

int KVAPI KvEnumResourceLanguages(HKVLANG h, WORD id, wchar_t* out, int cch) {
  if (!out || cch < 1) return 0;
  out[0] = 0;
  if (!h || !h->satelliteActive || !h->satellite) return 0;
  EnumLanguages e = {out, cch, 0};
  EnumResourceLanguagesW(h->satellite, RT_VERSION, MAKEINTRESOURCEW(id), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&e));
  return KvStrLen(out);
}

BOOL KVAPI KvLang_LoadUserLCIDMetric(const wchar_t* app, DWORD version, DWORD* langId) {
  if (!app || !langId) return FALSE;
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, LangMetricKey(app, version).c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return FALSE;
  DWORD type = 0, value = 0, size = sizeof(value);
  LONG r = RegQueryValueExW(key, L"ULangID", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return FALSE;
  *langId = value & 0xFFFF;
  return TRUE;
}

BOOL KVAPI KvLang_SaveUserLCIDMetric(const wchar_t* app, DWORD version, WORD langId) {
  if (!app) return FALSE;
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, LangMetricKey(app, version).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return FALSE;
  DWORD value = langId;
  LONG r = RegSetValueExW(key, L"ULangID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

int KVAPI KvLoadString(HKVLANG h, UINT id, wchar_t* buf, int cch) {
  if (!buf || cch < 1) return 0;
  buf[0] = 0;
  if (!h) return 0;
  int n = 0;
  if (h->satelliteActive && h->satellite)
    n = LoadStringFromBlock(h->satellite, LANGIDFROMLCID(h->lcid), id, buf, cch);
  if (n == 0) {
    if (h->module == h->satellite)
      n = LoadStringFromBlock(h->module, kEnglishUS, id, buf, cch);
    else
      n = LoadStringW(h->module, id, buf, cch);
    if (n < 0) n = 0;
    if (n > cch - 1) n = cch - 1;
    buf[n] = 0;
  }
  if (n >= 2 && buf[0] == L'^' && buf[1] == L'*') {
    memmove(buf, buf + 2, static_cast<size_t>(n - 1) * sizeof(wchar_t));
    n -= 2;
  }
  return n;
}

const wchar_t* KVAPI KvGetString(HKVLANG h, UINT id) {
  if (!h || !h->cache) return kEmptyText;
  Locked hold(h);
  DWORD key = id;
  int at = KvList_FindSortedItemRange(h->cache, &key, 0, -1, CompareCacheIds);
  if (at >= 0) return static_cast<const CacheItem*>(*reinterpret_cast<void**>(h->cache->items + at * sizeof(void*)))->text;
  wchar_t buf[kLoadBufferChars];
  int n = KvLoadString(h, id, buf, kLoadBufferChars);
  if (n <= 0) return kEmptyText;  // nothing cached: a later call loads again
  at = KvList_FindSortedInsertIndexRange(h->cache, &key, 0, -1, CompareCacheIds);
  int inserted = -1;
  DWORD size = static_cast<DWORD>(sizeof(DWORD) + (n + 1) * sizeof(wchar_t));
  if (FAILED(KvList_AllocAndInsertItem(h->cache, nullptr, size, at, &inserted)) || inserted < 0) return kEmptyText;
  CacheItem* item = static_cast<CacheItem*>(*reinterpret_cast<void**>(h->cache->items + inserted * sizeof(void*)));
  item->id = id;
  memcpy(item->text, buf, static_cast<size_t>(n + 1) * sizeof(wchar_t));
  return item->text;
}

const wchar_t* KVAPI KvGetMenuString(HKVLANG h, UINT id) {
  const wchar_t* text = KvGetString(h, id);
  if (text == kEmptyText) return text;
  Locked hold(h);
  // The cached text itself changes: tabs become character 8.
  for (wchar_t* p = const_cast<wchar_t*>(text); *p; ++p)
    if (*p == L'\t') *p = 8;
  return text;
}

wchar_t* KVAPI KvGetTempStringBuffer(HKVLANG h, int cch) {
  if (!h || !h->scratch) return nullptr;
  // A request larger than the reserve could run past the end of the ring.
  if (cch < 0 || static_cast<DWORD>(cch) > h->scratchReserve) return nullptr;
  Locked hold(h);
  if (h->scratchPosition > h->scratchSize - h->scratchReserve) h->scratchPosition = 0;
  wchar_t* result = h->scratch + h->scratchPosition;
  if (cch == 0) result[0] = 0;
  h->scratchPosition = (h->scratchPosition + static_cast<DWORD>(cch) + 2) & ~1u;
  return result;
}

char* KVAPI KvGetMultiByteFromPrintString(HKVLANG h, const wchar_t* text) {
  if (!h || !h->scratch) return kEmptyNarrowText;
  int len = KvStrLen(text);
  // Twice the length plus 2 bytes: len + 1 characters of the ring.
  char* out = reinterpret_cast<char*>(KvGetTempStringBuffer(h, len + 1));
  if (!out) return kEmptyNarrowText;
  int bytes = 2 * len + 2;
  int n = len > 0 ? WideCharToMultiByte(CP_ACP, 0, text, len, out, bytes - 1, nullptr, nullptr) : 0;
  out[n > 0 ? n : 0] = 0;
  return out;
}

wchar_t* KVAPI KvGetPrintFromMultiByteString(HKVLANG h, const char* text) {
  if (!h || !h->scratch) return const_cast<wchar_t*>(kEmptyText);
  int bytes = text ? static_cast<int>(strlen(text)) : 0;
  wchar_t* out = KvGetTempStringBuffer(h, bytes + 1);
  if (!out) return const_cast<wchar_t*>(kEmptyText);
  int n = bytes > 0 ? MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, bytes, out, bytes) : 0;
  out[n > 0 ? n : 0] = 0;
  return out;
}

const wchar_t* KVAPI KvGetWideFromPrintString(HKVLANG h, const wchar_t* text) {
  if (!h || !h->scratch || !text) return kEmptyText;
  return text;
}

const wchar_t* KVAPI KvGetPrintFromWideString(HKVLANG h, const wchar_t* text) {
  return KvGetWideFromPrintString(h, text);
}

DWORD KVAPI KvLang_FixDecimalSeparator(wchar_t* decimal, DWORD decimalLength, const wchar_t* thousand,
                                       DWORD thousandLength) {
  // An empty thousand separator cannot be confused with the decimal one.
  if (!decimal || !thousand || thousandLength == 0) return decimalLength;
  if (wcsncmp(decimal, thousand, thousandLength) != 0) return decimalLength;
  decimal[0] = thousand[0] == L'.' ? L',' : L'.';
  decimal[1] = 0;
  return 1;
}

int KVAPI KvLang_GetInternationals(void* out, DWORD size) {
  if (out) {
    DWORD n = size < sizeof(KVINTERNATIONALS) ? size : sizeof(KVINTERNATIONALS);
    memcpy(out, &g_inat, n);
    if (n >= sizeof(DWORD)) *static_cast<DWORD*>(out) = n;
    return 0;
  }
  KVINTERNATIONALS r = MakeDefaultInternationals();
  r.systemLCID = GetSystemDefaultLCID();
  r.languageId = ReadLocaleNumber(LOCALE_ILANGUAGE, 16);
  ReadLocaleText(LOCALE_SLANGUAGE, r.languageName, &r.languageNameLength, 64);
  ReadLocaleText(LOCALE_SENGLANGUAGE, r.englishLanguageName, &r.englishLanguageNameLength, 64);
  r.countryCode = ReadLocaleNumber(LOCALE_ICOUNTRY, 10);
  ReadLocaleText(LOCALE_SCOUNTRY, r.countryName, &r.countryNameLength, 64);
  ReadLocaleText(LOCALE_SENGCOUNTRY, r.englishCountryName, &r.englishCountryNameLength, 64);
  ReadLocaleText(LOCALE_SNEGATIVESIGN, r.negativeSign, &r.negativeSignLength, 8);
  SetField(r.minusSign, &r.minusSignLength, 8, L"-");
  ReadLocaleText(LOCALE_STHOUSAND, r.thousandSeparator, &r.thousandSeparatorLength, 8);
  ReadLocaleText(LOCALE_SDECIMAL, r.decimalSeparator, &r.decimalSeparatorLength, 8);
  r.decimalSeparatorLength = KvLang_FixDecimalSeparator(r.decimalSeparator, r.decimalSeparatorLength,
                                                        r.thousandSeparator, r.thousandSeparatorLength);
  r.grouping = ReadLocaleNumber(LOCALE_SGROUPING, 10);
  r.fractionDigits = ReadLocaleNumber(LOCALE_IDIGITS, 10);
  r.leadingZero = ReadLocaleNumber(LOCALE_ILZERO, 10);
  ReadLocaleText(LOCALE_STIME, r.timeSeparator, &r.timeSeparatorLength, 8);
  ReadLocaleText(LOCALE_SLIST, r.listSeparator, &r.listSeparatorLength, 8);
  r.measurementSystem = ReadLocaleNumber(LOCALE_IMEASURE, 10);
  SetField(r.smpteWholeSeparator, &r.smpteWholeSeparatorLength, 8, L":");
  SetField(r.smpteNonDropSeparator, &r.smpteNonDropSeparatorLength, 8, L".");
  SetField(r.smpteDropSeparator, &r.smpteDropSeparatorLength, 8, L",");
  SetField(r.measureBeatSeparator, &r.measureBeatSeparatorLength, 8, L".");
  SetField(r.beatTickSeparator, &r.beatTickSeparatorLength, 8, L".");
  g_inat = r;
  KvLang_RegisterSeparatorTokens(&g_inat);
  return 0;
}

int KVAPI KvGetInat(int id, wchar_t* out) {
  if (out) out[0] = 0;
  const wchar_t* text = nullptr;
  DWORD length = 0;
  switch (id) {
    case KVINAT_SYSTEM_LCID: return static_cast<int>(g_inat.systemLCID);
    case KVINAT_LANGUAGE_ID: return static_cast<int>(g_inat.languageId);
    case KVINAT_COUNTRY_CODE: return static_cast<int>(g_inat.countryCode);
    case KVINAT_LANGUAGE_NAME: text = g_inat.languageName; length = g_inat.languageNameLength; break;
    case KVINAT_ENGLISH_LANGUAGE_NAME:
      text = g_inat.englishLanguageName;
      length = g_inat.englishLanguageNameLength;
      break;
    case KVINAT_DECIMAL_SEPARATOR: text = g_inat.decimalSeparator; length = g_inat.decimalSeparatorLength; break;
    case KVINAT_LIST_SEPARATOR: text = g_inat.listSeparator; length = g_inat.listSeparatorLength; break;
    case KVINAT_TIME_SEPARATOR: text = g_inat.timeSeparator; length = g_inat.timeSeparatorLength; break;
    case KVINAT_SMPTE_WHOLE: text = g_inat.smpteWholeSeparator; length = g_inat.smpteWholeSeparatorLength; break;
    case KVINAT_SMPTE_NONDROP:
      text = g_inat.smpteNonDropSeparator;
      length = g_inat.smpteNonDropSeparatorLength;
      break;
    case KVINAT_SMPTE_DROP: text = g_inat.smpteDropSeparator; length = g_inat.smpteDropSeparatorLength; break;
    case KVINAT_MEASURE_BEAT: text = g_inat.measureBeatSeparator; length = g_inat.measureBeatSeparatorLength; break;
    case KVINAT_BEAT_TICK: text = g_inat.beatTickSeparator; length = g_inat.beatTickSeparatorLength; break;
    default: return 0;
  }
  if (out) KvStrCpy(out, text);
  return static_cast<int>(length);
}

}  // extern "C"

static_assert(sizeof(KVINTERNATIONALS) == 796, "the international record is 796 bytes");
