// Plug-in discovery: candidate lists, configuration files, the scan of our own
// plug-in DLL (copied into a scratch plug-in folder), the cache written and
// read again, damaged caches and modules that cannot serve as plug-ins.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "fiomanager_util.h"
#include "kvfileio.h"
#include "kvfiodiscovery.h"

using namespace fiotest;

namespace {

// The settings files of this process go to a scratch folder, beside a host
// named "host.exe" (no per-user folders).
class SettingsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::wstring dir = ScratchFolder(L"settings");
    ASSERT_EQ(KvFio_InitSettingsPaths((dir + L"host.exe").c_str(), nullptr, KVFIO_SETTINGS_NO_USER_FOLDERS), S_OK);
  }
};
::testing::Environment* const kSettings = ::testing::AddGlobalTestEnvironment(new SettingsEnvironment);

struct List {
  tKVLIST* list = nullptr;
  ~List() { KvFio_DestroyPluginList(list); }
  int count() const { return list ? list->count : 0; }
  KvFioPluginRecord* at(int i) const { return KvFio_RecordAt(list, i); }
};

// The DLL headers of the fixtures: one for the machine of this build's
// pointer width, and one for the other width (a plug-in that would have to run
// out of process).
const wchar_t* const kSameWidthDll = sizeof(void*) == 8 ? L"amd64.dll" : L"i386.dll";
const wchar_t* const kOtherWidthDll = sizeof(void*) == 8 ? L"i386.dll" : L"amd64.dll";

// A plug-in folder with a copy of vogaac2.dll, of the DLL without the
// class-object entry, a text file named like a DLL and the two DLL headers.
std::wstring PluginFolder(const wchar_t* name) {
  std::wstring dir = ScratchFolder(name);
  EXPECT_TRUE(CopyBinFile(L"vogaac2.dll", dir + L"vogaac2.dll"));
  EXPECT_TRUE(CopyBinFile(L"noexport.dll", dir + L"noexport.dll"));
  for (const wchar_t* file : {L"text.dll", L"amd64.dll", L"i386.dll"})
    EXPECT_TRUE(CopyFileW((FixtureDir() + file).c_str(), (dir + file).c_str(), FALSE));
  return dir;
}

HRESULT Candidates(List& l, const std::vector<std::wstring>& paths) {
  std::vector<const wchar_t*> p;
  for (const auto& s : paths) p.push_back(s.c_str());
  return KvFio_SetPluginCandidateDLLs(&l.list, p.data(), static_cast<long>(p.size()));
}

}  // namespace

TEST(FioSettings, FilesBesideTheHostWithoutUserFolders) {
  std::wstring cache = KvFio_CacheFilePath();
  std::wstring metrics = KvFio_MetricsFilePath();
  EXPECT_EQ(cache, FixtureDir() + L"settings\\host.exe FFCache.ini");
  EXPECT_EQ(metrics, FixtureDir() + L"settings\\host.exe FFMetrics.ini");
  // Set up once per process: a second call changes nothing.
  EXPECT_EQ(KvFio_InitSettingsPaths(L"C:\\elsewhere\\other.exe", nullptr, KVFIO_SETTINGS_NO_USER_FOLDERS), S_FALSE);
  EXPECT_EQ(std::wstring(KvFio_CacheFilePath()), cache);
}

TEST(FioCandidates, RecordsOfEveryKindOfFile) {
  std::wstring dir = PluginFolder(L"cand");
  List l;
  ASSERT_EQ(Candidates(l, {dir + L"vogaac2.dll", dir + L"VOGAAC2.DLL", dir + L"noexport", dir + L"text.dll",
                           dir + kOtherWidthDll, dir + kSameWidthDll, dir + L"absent.dll"}),
            S_OK);
  // The second spelling of vogaac2 and the absent file add nothing; the
  // extension-less name becomes noexport.dll.
  ASSERT_EQ(l.count(), 5);
  struct Want {
    const wchar_t* file;
    DWORD state;
  };
  // Only the DLL of the other pointer width is marked to run out of process.
  const Want want[] = {
      {L"vogaac2.dll", KVFIO_PLUGIN_FIRST_OF_DLL},
      {L"noexport.dll", KVFIO_PLUGIN_FIRST_OF_DLL},
      {L"text.dll", KVFIO_PLUGIN_FIRST_OF_DLL | KVFIO_PLUGIN_UNUSABLE},
      {kOtherWidthDll, KVFIO_PLUGIN_FIRST_OF_DLL | KVFIO_PLUGIN_OTHER_WIDTH},
      {kSameWidthDll, KVFIO_PLUGIN_FIRST_OF_DLL},
  };
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const KvFioPluginRecord* r = l.at(i);
    EXPECT_EQ(std::wstring(r->dllPath), dir + want[i].file);
    EXPECT_EQ(r->state, want[i].state);
    EXPECT_EQ(r->version, KVFIO_PLUGIN_RECORD_VERSION);
    EXPECT_EQ(r->size, sizeof(KvFioPluginRecord));
    EXPECT_EQ(r->language, KvFio_ModuleLCID());
    EXPECT_NE(r->modTime, 0u);
  }
  // Adding an existing path in other letters again is refused quietly.
  EXPECT_EQ(KvFio_AddPluginCandidate(l.list, (dir + L"NoExport.Dll").c_str(), nullptr), S_FALSE);
  EXPECT_EQ(l.count(), 5);
}

TEST(FioCandidates, ConfigurationFilesNameDllsRelativeToThemselves) {
  std::wstring dir = PluginFolder(L"config");
  MakeFolder(dir + L"conf");
  std::wstring conf = dir + L"conf\\plugins.Duv2007-Config";
  WritePrivateProfileStringW(L"Default", L"ForceOutOfProcess", L"1", conf.c_str());
  WritePrivateProfileStringW(L"DizuVO Plug-Ins", L"Aac", L"..\\vogaac2.dll", conf.c_str());
  WritePrivateProfileStringW(L"DizuVO Plug-Ins", L"Plain", L"..\\noexport.dll", conf.c_str());
  WritePrivateProfileStringW(L"DizuVO Plug-Ins", L"Gone", L"..\\gone.dll", conf.c_str());
  WritePrivateProfileStringW(L"Aac", L"ForceOutOfProcess", L"0", conf.c_str());
  List l;
  ASSERT_EQ(KvFio_FindPluginConfigFilesIn(&l.list, (dir + L"conf").c_str()), S_OK);
  ASSERT_EQ(l.count(), 2);
  wchar_t full[MAX_PATH];
  GetFullPathNameW((dir + L"vogaac2.dll").c_str(), MAX_PATH, full, nullptr);
  EXPECT_EQ(lstrcmpiW(l.at(0)->dllPath, full), 0) << l.at(0)->dllPath;
  EXPECT_EQ(l.at(0)->state & KVFIO_PLUGIN_FORCED_OUT, 0u) << "its own section says 0";
  EXPECT_EQ(l.at(1)->state & KVFIO_PLUGIN_FORCED_OUT, KVFIO_PLUGIN_FORCED_OUT) << "the file's default";
}

TEST(FioScan, OurPluginDescribesItselfAndTheCacheHoldsIt) {
  std::wstring dir = PluginFolder(L"plugins");
  std::wstring checkDir = ScratchFolder(L"check");
  std::wstring cache = checkDir + L"FFCache.ini";
  List l;
  ASSERT_EQ(Candidates(l, {dir + L"vogaac2.dll", dir + L"noexport.dll", dir + L"text.dll", dir + kOtherWidthDll}),
            S_OK);
  ASSERT_EQ(KvFio_RegisterPlugins(l.list, 0, nullptr, cache.c_str()), S_OK);
  ASSERT_EQ(l.count(), 4);
  const KvFioPluginRecord* aac = l.at(0);
  EXPECT_TRUE(IsEqualGUID(aac->pluginId, kAacPlugin));
  EXPECT_STREQ(aac->displayName, L"VOG AAC 2 File Format");
  EXPECT_EQ(aac->access, 0x30u);
  EXPECT_EQ(aac->streamType, 1u);
  EXPECT_EQ(aac->appLevel, 0x00480048u);
  EXPECT_EQ(aac->state & (KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_NOT_CACHED), 0u);
  EXPECT_EQ(aac->preload & 1, 1u);
  EXPECT_NE(aac->module, nullptr) << "a DLL with a usable plug-in stays loaded";
  for (int i = 1; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(l.at(i)->state & KVFIO_PLUGIN_UNUSABLE, KVFIO_PLUGIN_UNUSABLE);
    EXPECT_EQ(l.at(i)->module, nullptr);
  }
  // The class objects give the reader's id, extensions and dialog name.
  ASSERT_EQ(KvFio_PreloadPlugins(l.list, nullptr), S_OK);
  EXPECT_TRUE(IsEqualGUID(aac->reader.classId, kAacReader));
  EXPECT_EQ(aac->reader.loadState, KVFIO_LOAD_CREATED);
  ASSERT_NE(aac->reader.extensions, nullptr);
  EXPECT_NE(std::wstring(aac->reader.extensions).find(L"mp4"), std::wstring::npos);
  ASSERT_EQ(KvFio_SavePluginCache(l.list, 1, cache.c_str()), S_OK);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(l.at(i)->state & KVFIO_PLUGIN_CHANGED, 0u);

  // Read again into new candidates: complete, and nothing is loaded.
  List again;
  ASSERT_EQ(Candidates(again, {dir + L"vogaac2.dll", dir + L"noexport.dll", dir + L"text.dll", dir + kOtherWidthDll}),
            S_OK);
  int complete = 0;
  ASSERT_EQ(KvFio_ReadPluginCache(again.list, &complete, cache.c_str()), S_OK);
  EXPECT_EQ(complete, 1);
  ASSERT_EQ(again.count(), 4);
  const KvFioPluginRecord* back = again.at(0);
  EXPECT_TRUE(IsEqualGUID(back->pluginId, kAacPlugin));
  EXPECT_STREQ(back->displayName, aac->displayName);
  EXPECT_EQ(back->access, aac->access);
  EXPECT_EQ(back->appLevel, aac->appLevel);
  EXPECT_EQ(back->streamType, aac->streamType);
  EXPECT_TRUE(IsEqualGUID(back->reader.classId, kAacReader));
  EXPECT_TRUE(IsEqualGUID(back->renderer.classId, aac->renderer.classId));
  EXPECT_STREQ(back->reader.extensions, aac->reader.extensions);
  EXPECT_EQ(back->state & (KVFIO_PLUGIN_UNUSABLE | KVFIO_PLUGIN_NOT_CACHED | KVFIO_PLUGIN_CHANGED), 0u);
  EXPECT_EQ(back->module, nullptr);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(again.at(i)->state & KVFIO_PLUGIN_UNUSABLE, KVFIO_PLUGIN_UNUSABLE);
}

// Damaged or outdated caches: each case edits a good cache, reads it, then
// registers: the plug-in must come out whole either way.
TEST(FioCache, DamagedCachesCauseARescanOnly) {
  std::wstring dir = PluginFolder(L"damaged");
  std::wstring good = ScratchFolder(L"damaged-cache") + L"good.ini";
  {
    List l;
    ASSERT_EQ(Candidates(l, {dir + L"vogaac2.dll"}), S_OK);
    ASSERT_EQ(KvFio_RegisterPlugins(l.list, 0, nullptr, good.c_str()), S_OK);
    ASSERT_EQ(KvFio_PreloadPlugins(l.list, nullptr), S_OK);
    ASSERT_EQ(KvFio_SavePluginCache(l.list, 1, good.c_str()), S_OK);
  }
  const std::wstring sub = L"vogaac2.{ABD1218C-B335-4343-B578-00AA006BA2BA}";
  const std::wstring id = L"{ABD1218C-B335-4343-B578-00AA006BA2BA}";
  struct Case {
    const char* what;
    std::wstring section;  // empty: replace the whole file with `value`
    const wchar_t* key;
    const wchar_t* value;  // null: remove the key
    int complete;
  };
  const Case cases[] = {
      {"DLL time differs", L"vogaac2", L"ModTime", L"12345", 0},
      {"DLL path differs", L"vogaac2", L"Path", L"C:\\other\\vogaac2.dll", 0},
      {"AppLevel missing", sub, L"AppLevel", nullptr, 0},
      {"AppLevel 0", sub, L"AppLevel", L"0", 0},
      {"Access missing", sub, L"Access", nullptr, 0},
      {"StreamType missing", sub, L"StreamType", nullptr, 0},
      {"plug-in time differs", id, L"ModTime", L"1", 0},
      {"other language", id, L"LangID", L"1041", 0},
      {"not text at all", L"", nullptr, L"\x01\x02\x03\xFFFE garbage [[[", 0},
      {"empty file", L"", nullptr, L"", 0},
      {"unchanged", L"vogaac2", L"Unrelated", L"1", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring file = ScratchFolder(L"damaged-case") + L"FFCache.ini";
    if (c.section.empty()) {
      std::vector<BYTE> bytes;
      for (const wchar_t* p = c.value; *p; ++p) {
        bytes.push_back(static_cast<BYTE>(*p & 0xFF));
        bytes.push_back(static_cast<BYTE>(*p >> 8));
      }
      WriteBytes(file, bytes);
    } else {
      ASSERT_TRUE(CopyFileW(good.c_str(), file.c_str(), FALSE));
      WritePrivateProfileStringW(c.section.c_str(), c.key, c.value, file.c_str());
    }
    List l;
    ASSERT_EQ(Candidates(l, {dir + L"vogaac2.dll"}), S_OK);
    int complete = -1;
    ASSERT_EQ(KvFio_ReadPluginCache(l.list, &complete, file.c_str()), S_OK);
    EXPECT_EQ(complete, c.complete);
    ASSERT_EQ(l.count(), 1);
    if (!c.complete) {
      EXPECT_EQ(l.at(0)->state & KVFIO_PLUGIN_NOT_CACHED, KVFIO_PLUGIN_NOT_CACHED);
    }
    List r;
    ASSERT_EQ(Candidates(r, {dir + L"vogaac2.dll"}), S_OK);
    ASSERT_EQ(KvFio_RegisterPlugins(r.list, 0, nullptr, file.c_str()), S_OK);
    ASSERT_EQ(r.count(), 1);
    EXPECT_TRUE(IsEqualGUID(r.at(0)->pluginId, kAacPlugin));
    EXPECT_EQ(r.at(0)->appLevel, 0x00480048u);
    EXPECT_EQ(r.at(0)->state & KVFIO_PLUGIN_UNUSABLE, 0u);
  }
}

TEST(FioCache, AChangedDllInvalidatesOnlyItsOwnEntries) {
  std::wstring dir = PluginFolder(L"mtime");
  ASSERT_TRUE(CopyFileW((dir + L"vogaac2.dll").c_str(), (dir + L"second.dll").c_str(), FALSE));
  std::wstring cache = ScratchFolder(L"mtime-cache") + L"FFCache.ini";
  const std::vector<std::wstring> paths = {dir + L"vogaac2.dll", dir + L"second.dll"};
  {
    List l;
    ASSERT_EQ(Candidates(l, paths), S_OK);
    ASSERT_EQ(KvFio_RegisterPlugins(l.list, 0, nullptr, cache.c_str()), S_OK);
    ASSERT_EQ(KvFio_SavePluginCache(l.list, 1, cache.c_str()), S_OK);
  }
  // DOS times have a 2-second step: move by 10 s.
  ShiftWriteTime(dir + L"second.dll", 10);
  List l;
  ASSERT_EQ(Candidates(l, paths), S_OK);
  int complete = -1;
  ASSERT_EQ(KvFio_ReadPluginCache(l.list, &complete, cache.c_str()), S_OK);
  EXPECT_EQ(complete, 0);
  EXPECT_EQ(l.at(0)->state & KVFIO_PLUGIN_NOT_CACHED, 0u);
  EXPECT_EQ(l.at(1)->state & KVFIO_PLUGIN_NOT_CACHED, KVFIO_PLUGIN_NOT_CACHED);
  ASSERT_EQ(KvFio_LoadPluginInfo(l.list, FALSE, nullptr), S_OK);
  EXPECT_EQ(l.at(0)->module, nullptr) << "the cached DLL is not loaded for the scan";
  EXPECT_NE(l.at(1)->module, nullptr);
  EXPECT_EQ(l.at(1)->state & KVFIO_PLUGIN_CHANGED, KVFIO_PLUGIN_CHANGED);
}

// Modules that cannot give class objects, as loading sees them.
TEST(FioLoad, ModulesThatCannotServe) {
  std::wstring dir = PluginFolder(L"load");
  struct Case {
    const char* what;
    std::wstring path;
    const wchar_t* preload;
    HRESULT expect;
  };
  const Case cases[] = {
      {"no class-object entry", dir + L"noexport.dll", nullptr, E_NOINTERFACE},
      {"not an executable", dir + L"text.dll", nullptr, E_UNEXPECTED},
      {"removed after listing", dir + L"removed.dll", nullptr, E_UNEXPECTED},
      {"preload module missing", dir + L"vogaac2.dll", L"missing-helper.dll",
       HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
      {"our plug-in", dir + L"vogaac2.dll", L"kernel32.dll", S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KvFioPluginRecord r = {};
    r.size = sizeof r;
    wcscpy(r.dllPath, c.path.c_str());
    r.pluginId = kAacPlugin;
    r.preloadModules = c.preload;
    IUnknown* object = nullptr;
    HRESULT hr = KvFio_LoadPluginModule(&r, nullptr, IID_IKvReadFileClass, reinterpret_cast<void**>(&object));
    if (c.expect == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) EXPECT_TRUE(FAILED(hr));
    else EXPECT_EQ(hr, c.expect);
    EXPECT_EQ(object != nullptr, SUCCEEDED(hr));
    if (FAILED(hr)) {
      EXPECT_EQ(r.module, nullptr);
      EXPECT_EQ(r.factory, nullptr);
    }
    if (object) object->Release();
    if (r.factory) r.factory->Release();
    if (r.module) FreeLibrary(r.module);
  }
  // A 64-bit or forced out-of-process plug-in cannot be served here: its
  // class entry fails once and stays failed.
  KvFioPluginRecord r = {};
  r.size = sizeof r;
  wcscpy(r.dllPath, (dir + L"vogaac2.dll").c_str());
  r.pluginId = kAacPlugin;
  r.access = KVFIO_ACCESS_READER;
  r.state = KVFIO_PLUGIN_FORCED_OUT;
  EXPECT_EQ(KvFio_LoadClassEntry(nullptr, &r, false, nullptr), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(r.reader.loadState, KVFIO_LOAD_NOT_AVAILABLE);
  EXPECT_EQ(KvFio_LoadClassEntry(nullptr, &r, false, nullptr), static_cast<HRESULT>(0x8004E047));
  EXPECT_EQ(r.module, nullptr);
}
