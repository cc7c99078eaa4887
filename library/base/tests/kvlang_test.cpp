// Language handles. Every string id of vogaac2.dll resolves in every language
// through KvGetString exactly as the DLL's and the satellite's string tables
// read with pefile say (fixture string_tables.tsv); the satellite choice and
// its fall-backs; "^*" markers, truncation and the cache; language-id rules;
// the international record; the scratch ring; the registry language value;
// the DLL's exports.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kvlang.h"
#include "kvstr.h"
#include "string_tables.h"
#include "vog_exports.h"

using namespace kvtest;

namespace {

std::wstring Unmarked(const std::wstring& s) { return s.compare(0, 2, L"^*") == 0 ? s.substr(2) : s; }

// Opens a handle on a module and makes a second one the library's handle.
struct Handles {
  explicit Handles(HMODULE module) {
    EXPECT_EQ(KvLang_Open(&h, module, 0, 0), S_OK);
    EXPECT_EQ(KvLang_Open(&library, module, 0, 0), S_OK);
    KvLang_SetLibraryHandle(library);
  }
  ~Handles() {
    KvLang_Close(h);
    KvLang_Close(library);
    KvLang_SetLibraryHandle(nullptr);
  }
  HKVLANG h = nullptr;
  HKVLANG library = nullptr;
};

HMODULE Dll() {
  static HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  return dll;
}

TEST(KvLangStrings, FixtureListsTheDllAndEveryLanguage) {
  const StringTables& t = Tables();
  ASSERT_FALSE(t.dllIds.empty()) << "string_tables.tsv missing or empty";
  for (int id = 1000; id <= 1019; ++id) EXPECT_TRUE(t.dllIds.count(id)) << id;
  for (int id = 48379; id <= 48382; ++id) EXPECT_TRUE(t.dllIds.count(id)) << id;
  // The satellite carries every id of the DLL in each of the five languages,
  // and its English is the DLL's.
  EXPECT_EQ(t.lngIds, t.dllIds);
  for (int id : t.dllIds) {
    for (LCID lang : kLanguages) EXPECT_TRUE(t.Find("lng", lang, id)) << "id " << id << " language " << lang;
    ASSERT_TRUE(t.Find("dll", 1033, id));
    EXPECT_EQ(*t.Find("lng", 1033, id), *t.Find("dll", 1033, id)) << id;
  }
  // The English texts that other parts of the system rely on.
  struct Case {
    int id;
    const wchar_t* text;
  } english[] = {
      {1000, L"$d Kbps, $ld Hz, %s"},
      {1001, L"$ld Hz$, $d Bit$, VBR$, %s"},
      {1005, L"Tessaly AAC"},
      {1007, L"*.mp4"},
      {1010, L"$d Hz$, $d Bit$, $d Kbps, %s, %s"},
      {1014, L"<unsupported>"},
      {1016, L"%s File Format Plug-In"},
      {1019, L"Save as AAC file"},
      {48381, L"ms%sbt%stk"},
      {48382, L"measures%sbeats%sticks"},
  };
  for (const auto& c : english) EXPECT_EQ(*t.Find("dll", 1033, c.id), c.text) << c.id;
}

TEST(KvLangStrings, EveryIdResolvesInEveryLanguage) {
  const StringTables& t = Tables();
  ASSERT_FALSE(t.dllIds.empty());
  ASSERT_NE(Dll(), nullptr);
  Handles handles(Dll());
  for (LCID lang : kLanguages) {
    SCOPED_TRACE(testing::Message() << "language " << lang);
    ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, lang, 0));
    EXPECT_EQ(KvLang_GetLCID(handles.h), lang);
    EXPECT_EQ(KvLang_GetLCID(handles.library), lang);
    int translated = 0;
    for (int id : t.dllIds) {
      const std::wstring* own = t.Find("lng", lang, id);
      std::wstring expected = Unmarked(lang != 1033 && own ? *own : *t.Find("dll", 1033, id));
      const wchar_t* got = KvGetString(handles.h, id);
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(std::wstring(got), expected) << "id " << id;
      EXPECT_EQ(std::wstring(KvGetString(handles.library, id)), expected) << "id " << id;
      EXPECT_EQ(KvGetString(handles.h, id), got) << "cached pointer is stable";
      if (expected != Unmarked(*t.Find("dll", 1033, id))) ++translated;
    }
    if (lang != 1033) {
      EXPECT_GT(translated, 0) << "texts come from the satellite";
    }
  }
}

TEST(KvLangStrings, ConcurrentLookupsShareOneCache) {
  const StringTables& t = Tables();
  ASSERT_FALSE(t.dllIds.empty());
  ASSERT_NE(Dll(), nullptr);
  Handles handles(Dll());
  ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, 1041, 0));
  std::vector<int> ids(t.dllIds.begin(), t.dllIds.end());
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w)
    workers.emplace_back([&, w] {
      for (int round = 0; round < 50; ++round)
        for (size_t i = 0; i < ids.size(); ++i) {
          int id = ids[(i * (w + 1) + round) % ids.size()];
          if (std::wstring(KvGetString(handles.h, id)) != Unmarked(*t.Find("lng", 1041, id))) ++wrong[w];
        }
    });
  for (auto& w : workers) w.join();
  for (int w = 0; w < 4; ++w) EXPECT_EQ(wrong[w], 0) << "thread " << w;
}

TEST(KvLangStrings, WithoutSatelliteEveryLanguageGivesTheDllEnglish) {
  const StringTables& t = Tables();
  ASSERT_FALSE(t.dllIds.empty());
  wchar_t temp[MAX_PATH], copy[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  KvStrCpy(copy, temp);
  KvStrCat(copy, L"kvlang_solo.dll");
  ASSERT_TRUE(CopyFileW(L"vogaac2.dll", copy, FALSE));
  HMODULE solo = LoadLibraryW(copy);
  ASSERT_NE(solo, nullptr);
  {
    Handles handles(solo);
    for (LCID lang : kLanguages) {
      SCOPED_TRACE(testing::Message() << "language " << lang);
      ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, lang, 0));
      EXPECT_EQ(KvLang_InstFromLang(handles.h), solo);
      for (int id : t.dllIds)
        EXPECT_EQ(std::wstring(KvGetString(handles.h, id)), Unmarked(*t.Find("dll", 1033, id))) << "id " << id;
    }
  }
  FreeLibrary(solo);
  DeleteFileW(copy);
}

TEST(KvLangHandle, SatelliteFollowsTheLanguage) {
  ASSERT_NE(Dll(), nullptr);
  Handles handles(Dll());
  HMODULE satellite = GetModuleHandleW(L"vogaac2.LNG");
  ASSERT_NE(satellite, nullptr);
  EXPECT_EQ(KvLang_GetLCID(handles.h), 0u);
  EXPECT_EQ(KvLang_InstFromLang(handles.h), Dll());  // inactive after opening

  struct Case {
    LCID lcid;
    LCID stored;
    bool active;
  } cases[] = {{1031, 1031, true}, {1033, 1033, false}, {1041, 1041, true}, {0, 1033, false}, {0x0809, 0x0809, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "lcid " << c.lcid);
    ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, c.lcid, 0));
    EXPECT_EQ(KvLang_GetLCID(handles.h), c.stored);
    EXPECT_EQ(KvLang_InstFromLang(handles.h), c.active ? satellite : Dll());
    EXPECT_EQ(KvLang_InstFromLang(handles.library), c.active ? satellite : Dll());
  }
  // A language change empties the cache: the German text replaces the English.
  ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, 1033, 0));
  EXPECT_EQ(std::wstring(KvGetString(handles.h, 1019)), L"Save as AAC file");
  ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, 1031, 0));
  EXPECT_EQ(std::wstring(KvGetString(handles.h, 1019)), L"Als AAC-Datei speichern");
  // No version resources in the satellite: no languages to list.
  wchar_t list[64] = L"x";
  EXPECT_EQ(KvEnumResourceLanguages(handles.h, 1, list, 64), 0);
  EXPECT_EQ(list[0], 0);

  EXPECT_FALSE(KvLang_UpdateKernelLCID(nullptr, 1031, 0));
  const wchar_t* german = KvGetString(handles.h, 1019);
  EXPECT_TRUE(KvLang_ChangeLangInst(handles.h, nullptr));
  EXPECT_TRUE(KvLang_ChangeLangInst(handles.h, GetModuleHandleW(nullptr)));
  EXPECT_EQ(KvLang_InstFromLang(handles.h), GetModuleHandleW(nullptr));
  EXPECT_EQ(KvLang_InstFromLang(handles.library), GetModuleHandleW(nullptr));
  // Texts already handed out stay valid; the program has no German strings,
  // so new lookups fall back to the DLL's own text.
  EXPECT_EQ(KvGetString(handles.h, 1019), german);
  EXPECT_EQ(std::wstring(german), L"Als AAC-Datei speichern");
  EXPECT_EQ(std::wstring(KvGetString(handles.h, 1004)), L"Default Template");
  KvLang_SetLibraryHandle(nullptr);
  EXPECT_FALSE(KvLang_UpdateKernelLCID(handles.h, 1033, 0));
  EXPECT_FALSE(KvLang_ChangeLangInst(handles.h, Dll()));
  KvLang_SetLibraryHandle(handles.library);
}

// Strings of this test program itself (kvlang_test.rc): a module without
// satellite, read through the module's own English table.
TEST(KvLangStrings, MarkersTruncationAndBounds) {
  struct Case {
    UINT id;
    int cch;
    const wchar_t* text;
    int length;
  } cases[] = {
      {100, 1024, L"Open", 4},
      {100, 4, L"O", 1},  // "^*O" copied, then the marker removed
      {101, 1024, L"abcdefghijklmnopqrstuvwxyz", 26},
      {101, 5, L"abcd", 4},
      {101, 1, L"", 0},
      {102, 1024, L"", 0},
      {104, 1024, L"^Plain", 6},
      {4095, 1024, L"last of a block", 15},
      {999, 1024, L"", 0},
      {4094, 1024, L"", 0},
  };
  HKVLANG h = nullptr;
  ASSERT_EQ(KvLang_Open(&h, GetModuleHandleW(nullptr), 0, 0), S_OK);
  for (int pass = 0; pass < 2; ++pass) {
    // Second pass: satellite active in German; the program is its own
    // satellite and has only English.
    if (pass == 1) {
      KvLang_SetLibraryHandle(h);
      ASSERT_TRUE(KvLang_UpdateKernelLCID(h, 1031, 0));
    }
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "pass " << pass << " id " << c.id << " cch " << c.cch);
      wchar_t buf[40];
      for (auto& ch : buf) ch = L'#';
      int n = KvLoadString(h, c.id, buf, c.cch < 40 ? c.cch : 40);
      EXPECT_EQ(n, c.length);
      EXPECT_EQ(std::wstring(buf), c.text);
      for (int i = c.cch; i < 40; ++i) EXPECT_EQ(buf[i], L'#') << "index " << i;
    }
  }
  wchar_t untouched[2] = {L'#', L'#'};
  EXPECT_EQ(KvLoadString(h, 100, untouched, 0), 0);
  EXPECT_EQ(untouched[0], L'#');

  EXPECT_EQ(std::wstring(KvGetString(h, 100)), L"Open");
  // A missing string (or one that is empty after its marker) is the one
  // static empty text, never a cache entry.
  const wchar_t* missing = KvGetString(h, 999);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing[0], 0);
  EXPECT_EQ(KvGetString(h, 102), missing);
  EXPECT_EQ(KvGetString(h, 999), missing);
  EXPECT_EQ(KvGetString(nullptr, 100), missing);
  // Menu strings: the cached text itself has its tabs turned into 8.
  EXPECT_EQ(std::wstring(KvGetMenuString(h, 103)), L"Name\bCtrl+N");
  EXPECT_EQ(std::wstring(KvGetString(h, 103)), L"Name\bCtrl+N");
  KvLang_SetLibraryHandle(nullptr);
  KvLang_Close(h);
  EXPECT_EQ(KvLang_Close(nullptr), S_OK);
}

TEST(KvLangHandle, ResourceLanguagesAndThreadLocale) {
  // This program is its own satellite; it holds version resource 1 in German
  // and English.
  HKVLANG h = nullptr;
  ASSERT_EQ(KvLang_Open(&h, GetModuleHandleW(nullptr), 0, 0), S_OK);
  KvLang_SetLibraryHandle(h);
  wchar_t list[64];
  EXPECT_EQ(KvEnumResourceLanguages(h, 1, list, 64), 0);  // satellite inactive in English
  ASSERT_TRUE(KvLang_UpdateKernelLCID(h, 1036, 0));
  EXPECT_EQ(KvEnumResourceLanguages(h, 1, list, 64), 7);
  EXPECT_EQ(std::wstring(list), L"DEU,ENU");
  EXPECT_EQ(KvEnumResourceLanguages(h, 1, list, 5), 4);  // bounded
  EXPECT_EQ(std::wstring(list), L"DEU,");
  EXPECT_EQ(KvEnumResourceLanguages(h, 2, list, 64), 0);

  LCID before = GetThreadLocale();
  ASSERT_TRUE(KvLang_UpdateKernelLCID(h, 1031, 0));
  KvLang_UpdateThreadLocale(h);
  EXPECT_EQ(GetThreadLocale(), 1031u);
  SetThreadLocale(before);
  KvLang_SetLibraryHandle(nullptr);
  KvLang_Close(h);
}

TEST(KvLangStrings, TruncationOnTheSatelliteAndThePlatformPath) {
  ASSERT_NE(Dll(), nullptr);
  Handles handles(Dll());
  struct Case {
    LCID lcid;
    const wchar_t* five;
  } cases[] = {{1033, L"Save"}, {1031, L"Als "}, {1036, L"Enre"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(KvLang_UpdateKernelLCID(handles.h, c.lcid, 0));
    wchar_t buf[16];
    for (auto& ch : buf) ch = L'#';
    EXPECT_EQ(KvLoadString(handles.h, 1019, buf, 5), 4) << c.lcid;
    EXPECT_EQ(std::wstring(buf), c.five);
    for (int i = 5; i < 16; ++i) EXPECT_EQ(buf[i], L'#');
  }
}

TEST(KvLangIds, ConditionedAndLanguageRules) {
  struct Case {
    LCID in, out;
  } conditioned[] = {{0x0C04, 0x0404}, {0x1004, 0x0804}, {0x0816, 0x0816}, {0x0807, 0x0407}, {0x1404, 0x0404},
                     {0x0804, 0x0804}, {0x0404, 0x0404}, {0x0409, 0x0409}, {0x0411, 0x0411}, {0x0416, 0x0416}};
  for (const auto& c : conditioned) EXPECT_EQ(KvLang_GetConditionedLCID(c.in), c.out) << std::hex << c.in;
  EXPECT_TRUE(KvLang_IsLCIDEnglish(0x0409));
  EXPECT_TRUE(KvLang_IsLCIDEnglish(0x0809));
  EXPECT_FALSE(KvLang_IsLCIDEnglish(0x0407));

  struct HandleCase {
    LCID lcid;
    BOOL rtl, reversed;
    const wchar_t* name;
    const wchar_t* abbrev;
  } handles[] = {
      {0x0401, TRUE, FALSE, L"Taro Yamada", nullptr}, {0x040D, TRUE, FALSE, L"Taro Yamada", nullptr},
      {0x0409, FALSE, FALSE, L"Taro Yamada", L"ENU"}, {0x0407, FALSE, FALSE, L"Taro Yamada", L"DEU"},
      {0x0411, FALSE, TRUE, L"Yamada Taro", L"JPN"},  {0x040C, FALSE, FALSE, L"Taro Yamada", L"FRA"},
  };
  for (const auto& c : handles) {
    SCOPED_TRACE(testing::Message() << std::hex << c.lcid);
    HKVLANG h = nullptr;
    ASSERT_EQ(KvLang_Open(&h, GetModuleHandleW(nullptr), c.lcid, 0), S_OK);
    EXPECT_EQ(KvLang_GetLCID(h), c.lcid);
    EXPECT_EQ(KvLang_UseRTL(h), c.rtl);
    EXPECT_EQ(KvLang_IsNameOrderReversed(h), c.reversed);
    wchar_t name[32];
    EXPECT_EQ(KvLang_LocalizeUserName(h, L"Taro", L"Yamada", name, 32), 11);
    EXPECT_EQ(std::wstring(name), c.name);
    EXPECT_EQ(KvLang_LocalizeUserName(h, L"Taro", L"Yamada", name, 5), 4);
    if (c.abbrev) {
      wchar_t abbrev[8];
      EXPECT_TRUE(KvLang_GetLangAbbrev(h, abbrev, 8));
      EXPECT_EQ(std::wstring(abbrev), c.abbrev);
    }
    KvLang_Close(h);
  }
  EXPECT_FALSE(KvLang_UseRTL(nullptr));
  EXPECT_EQ(KvLang_GetLCID(nullptr), 0u);
  wchar_t abbrev[8] = L"x";
  EXPECT_FALSE(KvLang_GetLangAbbrev(nullptr, abbrev, 8));
  EXPECT_EQ(abbrev[0], L'x');
}

TEST(KvLangInternationals, RecordFollowsTheLocale) {
  EXPECT_EQ(KvLang_GetInternationals(nullptr, 0), 0);
  BYTE record[1000];
  memset(record, 0xAB, sizeof(record));
  KvLang_GetInternationals(record, 1000);
  EXPECT_EQ(*reinterpret_cast<DWORD*>(record), 796u);
  EXPECT_EQ(record[796], 0xAB);
  memset(record, 0xAB, sizeof(record));
  KvLang_GetInternationals(record, 10);
  EXPECT_EQ(*reinterpret_cast<DWORD*>(record), 10u);
  EXPECT_EQ(record[10], 0xAB);

  // Against the platform's own answers.
  auto locale = [](LCTYPE type) {
    wchar_t buf[128];
    GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 128);
    return std::wstring(buf);
  };
  wchar_t out[128];
  struct Case {
    int id;
    std::wstring text;
  } texts[] = {
      {KVINAT_LIST_SEPARATOR, locale(LOCALE_SLIST)},    {KVINAT_TIME_SEPARATOR, locale(LOCALE_STIME)},
      {KVINAT_LANGUAGE_NAME, locale(LOCALE_SLANGUAGE)}, {KVINAT_ENGLISH_LANGUAGE_NAME, locale(LOCALE_SENGLANGUAGE)},
      {KVINAT_SMPTE_WHOLE, L":"},                        {KVINAT_SMPTE_NONDROP, L"."},
      {KVINAT_SMPTE_DROP, L","},                         {KVINAT_MEASURE_BEAT, L"."},
      {KVINAT_BEAT_TICK, L"."},
  };
  for (const auto& c : texts) {
    EXPECT_EQ(KvGetInat(c.id, out), static_cast<int>(c.text.size())) << c.id;
    EXPECT_EQ(std::wstring(out), c.text) << c.id;
  }
  std::wstring decimal = locale(LOCALE_SDECIMAL), thousand = locale(LOCALE_STHOUSAND);
  if (decimal.compare(0, thousand.size(), thousand) != 0) {
    KvGetInat(KVINAT_DECIMAL_SEPARATOR, out);
    EXPECT_EQ(std::wstring(out), decimal);
  }
  EXPECT_EQ(static_cast<LCID>(KvGetInat(KVINAT_SYSTEM_LCID, out)), GetSystemDefaultLCID());
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(static_cast<LANGID>(KvGetInat(KVINAT_LANGUAGE_ID, nullptr)), LANGIDFROMLCID(GetUserDefaultLCID()));
  EXPECT_EQ(KvGetInat(5, out), 0);

  const KVINTERNATIONALS* r = reinterpret_cast<const KVINTERNATIONALS*>(record);
  KvLang_GetInternationals(record, sizeof(record));
  EXPECT_EQ(r->languageAbbreviationLength, 0u);  // a reload empties it
  EXPECT_EQ(std::wstring(r->minusSign), L"-");
  EXPECT_EQ(KvSetLangID(L"DEUX"), 3);
  KvLang_GetInternationals(record, sizeof(record));
  EXPECT_EQ(std::wstring(r->languageAbbreviation), L"DEU");
  EXPECT_EQ(KvSetLangID(nullptr), 3);
  KvLang_GetInternationals(record, sizeof(record));
  EXPECT_EQ(std::wstring(r->languageAbbreviation), L"ENU");
}

TEST(KvLangInternationals, DecimalSeparatorThatLooksLikeTheThousandSeparator) {
  struct Case {
    const wchar_t* thousand;
    const wchar_t* decimal;
    const wchar_t* result;
  } cases[] = {
      {L".", L".", L","}, {L",", L",", L"."}, {L"'", L".", L"."},  {L".", L",", L","},
      {L"", L".", L"."},  {L"..", L".", L"."}, {L" ", L" ,", L"."}, {L".x", L".x", L","},
  };
  for (const auto& c : cases) {
    wchar_t decimal[8];
    KvStrCpy(decimal, c.decimal);
    DWORD n = KvLang_FixDecimalSeparator(decimal, KvStrLen(decimal), c.thousand, KvStrLen(c.thousand));
    EXPECT_EQ(std::wstring(decimal), c.result) << "thousand '" << c.thousand << "' decimal '" << c.decimal << "'";
    EXPECT_EQ(n, static_cast<DWORD>(KvStrLen(c.result)));
  }
}

TEST(KvLangScratch, RingServesAndWrapsWithinItsSize) {
  struct Case {
    DWORD requested;
    DWORD size;
  } cases[] = {{0, 8192}, {1, 2048}, {2048, 2048}, {5000, 5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "scratch " << c.requested);
    HKVLANG h = nullptr;
    ASSERT_EQ(KvLang_Open(&h, GetModuleHandleW(nullptr), 0, c.requested), S_OK);
    wchar_t* base = KvGetTempStringBuffer(h, 0);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base[0], 0);
    EXPECT_EQ(KvGetTempStringBuffer(h, 1025), nullptr);  // larger than the reserve
    DWORD position = 2;
    for (int i = 0; i < 40; ++i) {
      wchar_t* p = KvGetTempStringBuffer(h, 1000);
      if (position > c.size - 1024) position = 0;
      EXPECT_EQ(p, base + position) << "request " << i;
      for (int k = 0; k < 1000; ++k) p[k] = L'x';  // the whole request is usable
      position = (position + 1002) & ~1u;
    }
    KvLang_Close(h);
  }
}

TEST(KvLangScratch, Conversions) {
  HKVLANG h = nullptr;
  ASSERT_EQ(KvLang_Open(&h, GetModuleHandleW(nullptr), 0, 0), S_OK);
  EXPECT_STREQ(KvGetMultiByteFromPrintString(h, L"abc"), "abc");
  EXPECT_STREQ(KvGetMultiByteFromPrintString(h, L""), "");
  EXPECT_EQ(std::wstring(KvGetPrintFromMultiByteString(h, "xyz")), L"xyz");
  // Texts larger than the ring's reserve give the empty text instead of
  // running past the ring.
  std::wstring longText(3000, L'a');
  EXPECT_STREQ(KvGetMultiByteFromPrintString(h, longText.c_str()), "");
  std::string longNarrow(3000, 'a');
  EXPECT_EQ(std::wstring(KvGetPrintFromMultiByteString(h, longNarrow.c_str())), L"");
  const wchar_t* text = L"wide";
  EXPECT_EQ(KvGetWideFromPrintString(h, text), text);
  EXPECT_EQ(KvGetPrintFromWideString(h, text), text);
  EXPECT_EQ(std::wstring(KvGetWideFromPrintString(nullptr, text)), L"");
  EXPECT_STREQ(KvGetMultiByteFromPrintString(nullptr, text), "");
  EXPECT_EQ(KvGetTempStringBuffer(nullptr, 4), nullptr);
  KvLang_Close(h);
}

TEST(KvLangRegistry, UserLanguageRoundTrip) {
  const wchar_t* app = L"KvLangTestApp";
  const DWORD version = 0x02030000;  // 2.3
  DWORD lang = 0;
  EXPECT_FALSE(KvLang_LoadUserLCIDMetric(app, version, &lang));  // no value yet
  ASSERT_TRUE(KvLang_SaveUserLCIDMetric(app, version, 0x0407));
  EXPECT_TRUE(KvLang_LoadUserLCIDMetric(app, version, &lang));
  EXPECT_EQ(lang, 0x0407u);
  // Read back independently.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Calbrey\\KvLangTestApp\\2.3\\Lang", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0, value = 0, size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(key, L"ULangID", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 0x0407u);
  RegCloseKey(key);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Calbrey\\KvLangTestApp");
  EXPECT_FALSE(KvLang_LoadUserLCIDMetric(nullptr, version, &lang));
}

TEST(KvBaseExports, EveryListedNameResolvesAndWorks) {
  ASSERT_NE(Dll(), nullptr);
  std::ifstream def(WinePath(KVBASE_EXPORTS_DEF).c_str());
  std::string line;
  int names = 0;
  while (std::getline(def, line)) {
    std::istringstream fields(line);
    std::string exported;
    fields >> exported;
    if (exported.empty()) continue;
    ++names;
    EXPECT_NE(GetProcAddress(Dll(), VogExportName(exported).c_str()), nullptr) << exported;
  }
  EXPECT_GE(names, 84);
  // The language functions through the DLL's exports.
  typedef HRESULT(__stdcall * OpenFn)(HKVLANG*, HMODULE, LCID, DWORD);
  typedef const wchar_t*(__stdcall * GetStringFn)(HKVLANG, UINT);
  typedef HRESULT(__stdcall * CloseFn)(HKVLANG);
  auto open = reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(Dll(), VogExportName("_KvLang_Open@16").c_str())));
  auto get = reinterpret_cast<GetStringFn>(reinterpret_cast<void*>(GetProcAddress(Dll(), VogExportName("_KvGetString@8").c_str())));
  auto close = reinterpret_cast<CloseFn>(reinterpret_cast<void*>(GetProcAddress(Dll(), VogExportName("_KvLang_Close@4").c_str())));
  ASSERT_TRUE(open && get && close);
  HKVLANG h = nullptr;
  ASSERT_EQ(open(&h, Dll(), 0, 0), S_OK);
  EXPECT_EQ(std::wstring(get(h, 1005)), L"Tessaly AAC");
  EXPECT_EQ(std::wstring(get(h, 1018)).empty(), false);
  EXPECT_EQ(close(h), S_OK);
}

}  // namespace
