// Templates from files and streams (with a stand-in render class), the MD5
// identity against python's hashlib, the file-class string helpers, the
// global cache and the editor entry.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "fake_dizuvo_manager.h"
#include "kvlang.h"
#include "kvtemplate_io.h"
#include "template_test_util.h"

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A render class that answers its renderer GUID and a scripted ConvertTemplate.
class FakeRenderClass : public IKvRenderFileClass {
 public:
  GUID guid = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};
  HRESULT convertResult = E_NOTIMPL;
  bool convertReturnsCopy = false;
  int convertCalls = 0;
  DWORD_PTR lastTemplate = 0, lastReason = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRendererGuid(GUID* id) override {
    *id = guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT*, ULONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved12(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateRenderFile(IKvRenderFile**, const wchar_t*, int, IKvReadStream**,
                                             const tagKVTEMPLATExV2*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTemplateCount(int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2**, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindTemplateByGuid(const GUID*, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR, DWORD_PTR, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConvertTemplate(void** out, DWORD_PTR tmpl, DWORD_PTR reason) override {
    ++convertCalls;
    lastTemplate = tmpl;
    lastReason = reason;
    *out = nullptr;
    if (SUCCEEDED(convertResult) && convertReturnsCopy && tmpl) {
      tagKVTEMPLATExV2* copy = KvFio_CopyTemplateRenamed(reinterpret_cast<const tagKVTEMPLATExV2*>(tmpl),
                                                         L"converted", nullptr);
      *out = copy;
    }
    return convertResult;
  }
  HRESULT STDMETHODCALLTYPE Reserved19(void**, DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTemplateInfo(const tagKVTEMPLATExV2*, void*, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTemplatePageCounts(DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateTemplatePage(DWORD, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PrepareTemplatePages(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved24() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved26(DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
};

// A file of the test's own in the temporary folder, deleted at the end.
struct TempFile {
  std::wstring path;
  explicit TempFile(const std::vector<BYTE>& bytes) {
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"tpl", 0, name);
    path = name;
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
  }
  ~TempFile() { DeleteFileW(path.c_str()); }
};

IStream* StreamOf(const std::vector<BYTE>& bytes) {
  IStream* s = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &s))) return nullptr;
  ULONG written = 0;
  s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER zero = {};
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  return s;
}

// ---- the file loader and the MD5 identity on struct-built files ---------------

TEST(TemplateFileLoader, FixtureTableWithPythonIdentities) {
  std::vector<tt::ManifestRow> rows = tt::ReadManifest();
  ASSERT_GT(rows.size(), 20u);
  int hashed = 0;
  for (const tt::ManifestRow& r : rows) {
    SCOPED_TRACE(r.file);
    std::vector<BYTE> bytes;
    ASSERT_TRUE(tt::ReadFile(tt::FixturePath(r.file), &bytes));
    HANDLE h = CreateFileW(Wide(tt::FixturePath(r.file)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Start somewhere in the middle: the whole file is read from its start.
    SetFilePointer(h, static_cast<LONG>(bytes.size() / 2), nullptr, FILE_BEGIN);
    tt::Owned t;
    EXPECT_EQ(KvFio_LoadTemplateData(t.out(), h), r.expected);
    CloseHandle(h);
    if (r.expected != S_OK) {
      EXPECT_EQ(t.t, nullptr);
      continue;
    }
    ASSERT_TRUE(t.t);
    EXPECT_EQ(std::memcmp(t.t, bytes.data(), bytes.size()), 0);
    if (r.crc0 == "-") continue;
    EXPECT_EQ(tt::Hex32(KvFio_GetTemplateDataCRC32(t.t, FALSE)), r.crc0);
    EXPECT_EQ(tt::Hex32(KvFio_GetTemplateDataCRC32(t.t, TRUE)), r.crc1);
    GUID g0, g1;
    ASSERT_EQ(KvFio_InitGUIDFromTemplateMD5DataHash(&g0, t.t, FALSE), S_OK) << "Cryptdll.dll's MD5 routines";
    ASSERT_EQ(KvFio_InitGUIDFromTemplateMD5DataHash(&g1, t.t, TRUE), S_OK);
    EXPECT_EQ(tt::HexBytes(&g0, 16), r.md5_0);
    EXPECT_EQ(tt::HexBytes(&g1, 16), r.md5_1);
    EXPECT_EQ(g0.Data3 >> 12, 3) << "a name-based identifier";
    ++hashed;
  }
  EXPECT_GE(hashed, 10);
  EXPECT_EQ(KvFio_LoadTemplateData(nullptr, INVALID_HANDLE_VALUE), E_INVALIDARG);
}

// ---- stream loader with a render class -------------------------------------------

TEST(TemplateStreamLoader, V1LiftWithARenderClass) {
  struct Case {
    const char* what;
    DWORD version;
    bool withBlock;
    HRESULT convert;
    bool convertCopies;
    HRESULT expected;
    bool marked;        // owner and CRC GUID written
    bool upliftedMark;  // KvFio_IsUpliftedV1Template
  } const cases[] = {
      {"class declines (E_NOTIMPL)", 0x1000000, true, E_NOTIMPL, false, S_OK, true, true},
      {"minor version 3", 0x1000003, true, E_NOTIMPL, false, S_OK, true, false},
      {"empty codec block: no class involved", 0x1000000, false, E_NOTIMPL, false, S_OK, false, false},
      {"class fails", 0x1000000, true, E_FAIL, false, E_FAIL, true, true},
      {"class succeeds with its own record", 0x1000000, true, S_OK, true, S_OK, true, true},
      {"class succeeds with no record", 0x1000000, true, S_OK, false, S_OK, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tt::V1Spec s;
    s.version = c.version;
    if (c.withBlock) s.audioCodec = {1, 2, 3, 4, 5, 6};
    FakeRenderClass cls;
    cls.convertResult = c.convert;
    cls.convertReturnsCopy = c.convertCopies;
    IStream* stream = StreamOf(tt::BuildV1(s));
    tt::Owned t;
    ASSERT_EQ(KvFio_LoadTemplateData(t.out(), stream, 0x2000000, &cls), c.expected);
    stream->Release();
    EXPECT_EQ(cls.convertCalls, c.withBlock ? 1 : 0);
    if (c.withBlock) {
      EXPECT_EQ(cls.lastReason, 1u);
    }
    if (FAILED(c.expected)) {
      EXPECT_EQ(t.t, nullptr);
      continue;
    }
    ASSERT_TRUE(t.t);
    if (c.convertCopies) {
      EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"converted");
    }
    if (c.marked) {
      EXPECT_TRUE(KvGuidEquals(t->guidOwner, cls.guid));
      EXPECT_EQ(t->guidTemplate.Data1, KvFio_GetTemplateDataCRC32(t.t, FALSE));
      EXPECT_EQ(t->guidTemplate.Data2, 0);
      EXPECT_EQ(t->guidTemplate.Data3, 0x1010);
    } else {
      EXPECT_TRUE(KvGuidEquals(t->guidOwner, GUID{}));
      EXPECT_TRUE(KvGuidEquals(t->guidTemplate, GUID{}));
    }
    EXPECT_EQ(KvFio_IsUpliftedV1Template(t.t) != FALSE, c.upliftedMark);
  }
}

TEST(TemplateStreamLoader, V2RecordsAndTheV1Reader) {
  std::vector<BYTE> bytes;
  ASSERT_TRUE(tt::ReadFile(tt::FixturePath("named.bin"), &bytes));
  IStream* stream = StreamOf(bytes);
  tt::Owned t;
  FakeRenderClass cls;
  ASSERT_EQ(KvFio_LoadTemplateData(t.out(), stream, 0x2000000, &cls), S_OK);
  EXPECT_EQ(std::memcmp(t.t, bytes.data(), bytes.size()), 0);
  EXPECT_EQ(cls.convertCalls, 0) << "only lifted records go to the class";
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(KvFio_LoadTemplateData(t.out(), stream, 0x1000000, nullptr), KV_E_CORRUPT);
  ULARGE_INTEGER pos;
  stream->Seek(zero, STREAM_SEEK_CUR, &pos);
  EXPECT_EQ(pos.QuadPart, 8u) << "nothing read after the version";
  stream->Release();

  tt::V1Spec s;
  s.audioCodec = {4, 5};
  stream = StreamOf(tt::BuildV1(s));
  KVTEMPLATEV1_AUDIO a = {};
  KVTEMPLATEV1_VIDEO v = {};
  KVTEMPLATExV1 v1 = {};
  v1.pAudio = &a;
  v1.pVideo = &v;
  ASSERT_EQ(KvFio_LoadTemplateDataV1(&v1, stream, 0x2000000, FALSE), S_OK);
  EXPECT_EQ(static_cast<DWORD>(a.cbCodecData), 2u);
  EXPECT_EQ(static_cast<int>(a.pCodecData[1]), 5);
  std::free(a.pCodecData);
  stream->Release();
}

// ---- loading by path -------------------------------------------------------------

TEST(RawUserTemplate, PathsV1FilesAndLaterVersions) {
  tt::Owned t;
  EXPECT_EQ(KvFio_LoadRawUserTemplate(nullptr, L"Z:\\no\\such\\template.tpl", t.out()), KV_E_OPEN);
  EXPECT_EQ(KvFio_LoadRawUserTemplate(nullptr, Wide(tt::FixturePath("named.bin")).c_str(), t.out()), S_OK);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"AAC 128 Kbps");
  EXPECT_EQ(KvFio_LoadRawUserTemplate(nullptr, Wide(tt::FixturePath("bad_audio_part.bin")).c_str(), t.out()),
            KV_E_CORRUPT);
  EXPECT_EQ(t.t, nullptr);
  // A later major version is never handed out as a V2 record.
  EXPECT_EQ(KvFio_LoadRawUserTemplate(nullptr, Wide(tt::FixturePath("major3.bin")).c_str(), t.out()),
            KV_E_CORRUPT);

  tt::V1Spec s;
  s.audioCodec = {1, 2, 3};
  s.name = u"Legacy";
  TempFile file(tt::BuildV1(s));
  FakeRenderClass cls;
  ASSERT_EQ(KvFio_LoadRawUserTemplate(&cls, file.path.c_str(), t.out()), S_OK);
  EXPECT_EQ(t->dwVersion, 0x2000000u);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"Legacy");
  EXPECT_TRUE(KvGuidEquals(t->guidOwner, cls.guid));
  EXPECT_TRUE(KvFio_IsUpliftedV1Template(t.t));
  // The file was closed: it can be opened exclusively again.
  HANDLE h = CreateFileW(file.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  // A V1 file that is cut short is refused after the file is read.
  std::vector<BYTE> cut = tt::BuildV1(s);
  cut.resize(cut.size() - 2);
  DWORD total = static_cast<DWORD>(cut.size());
  std::memcpy(cut.data(), &total, 4);
  TempFile shortFile(cut);
  EXPECT_EQ(KvFio_LoadRawUserTemplate(&cls, shortFile.path.c_str(), t.out()), KV_E_CORRUPT);
  EXPECT_EQ(t.t, nullptr);

  EXPECT_EQ(KvFio_LoadRawLegacyTemplate(&cls, 3, t.out()), E_UNEXPECTED);
  EXPECT_EQ(t.t, nullptr);
}

TEST(ProjectDefaultTemplate, AsksTheClassWithReasonTwo) {
  tagKVTEMPLATExV2 basic;
  KvFio_InitBasicTemplate(basic, 0, nullptr, 0, nullptr, 0, KVINTERLACE_PROGRESSIVE, 0);
  FakeRenderClass cls;
  tt::Owned t;
  EXPECT_EQ(KvFio_MakeProjectDefaultTemplate(&cls, &basic, t.out()), E_NOTIMPL);
  EXPECT_EQ(t.t, nullptr);
  EXPECT_EQ(cls.lastReason, 2u);
  EXPECT_EQ(cls.lastTemplate, reinterpret_cast<DWORD_PTR>(&basic));
  cls.convertResult = S_OK;
  cls.convertReturnsCopy = true;
  EXPECT_EQ(KvFio_MakeProjectDefaultTemplate(&cls, &basic, t.out()), S_OK);
  ASSERT_TRUE(t.t);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(t.t)), u"converted");
}

// ---- file-class strings ------------------------------------------------------------

TEST(FileClassStrings, MapRowsBecomeBstrs) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_TRUE(dll);
  HKVLANG lang = nullptr;
  ASSERT_EQ(KvLang_Open(&lang, dll, 1033, 0), S_OK);
  const FILECLASS_INFO_STRING_MAP map[] = {
      {1, reinterpret_cast<UINT_PTR>(L"AAC")},
      {2, reinterpret_cast<UINT_PTR>(L"AAC Audio")},
      {4, 1007},  // "*.mp4"
      {5, reinterpret_cast<UINT_PTR>(L"Tessaly AAC")},
      {7, reinterpret_cast<UINT_PTR>(L"")},
  };
  const KVFIO_FILECLASS_INFO_TEXT ids[] = {4, 2, 3, 5, 1, 7};
  BSTR out[6];
  ASSERT_EQ(KvFio_FillBstrArrayFromStringResourceMap(lang, ids, 6, out, map, 5, L" (x86)"), S_OK);
  EXPECT_STREQ(out[0], L"*.mp4");
  EXPECT_STREQ(out[1], L"AAC Audio (x86)");
  EXPECT_EQ(out[2], nullptr) << "no row for id 3";
  EXPECT_STREQ(out[3], L"Tessaly AAC (x86)");
  EXPECT_STREQ(out[4], L"AAC");
  ASSERT_NE(out[5], nullptr);
  EXPECT_EQ(SysStringLen(out[5]), 0u);
  KvFio_FreeBstrArray(out, 6);
  for (BSTR b : out) EXPECT_EQ(b, nullptr);
  ASSERT_EQ(KvFio_FillBstrArrayFromStringResourceMap(lang, ids, 2, out, map, 5, L""), S_OK);
  EXPECT_STREQ(out[1], L"AAC Audio") << "an empty suffix adds nothing";
  KvFio_FreeBstrArray(out, 2);
  EXPECT_EQ(KvFio_FillBstrArrayFromStringResourceMap(lang, ids, 0, nullptr, map, 5, nullptr), S_OK);
  EXPECT_EQ(KvFio_FillBstrArrayFromStringResourceMap(lang, nullptr, 2, out, map, 5, nullptr), E_INVALIDARG);
  KvLang_Close(lang);
  FreeLibrary(dll);

  BSTR d = KvFio_DupBstr(L"copy");
  EXPECT_STREQ(d, L"copy");
  SysFreeString(d);
  d = KvFio_DupBstr(nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(SysStringLen(d), 0u);
  SysFreeString(d);
}

// ---- template-list streams -----------------------------------------------------------

std::vector<BYTE> ListStream(const std::vector<std::vector<BYTE>>& records, DWORD count) {
  tt::Bytes b;
  b.u32(0x4C504D54).u32(1).u32(count);
  for (const auto& r : records) b.raw(r.data(), r.size());
  return b.v;
}

TEST(TemplateListStream, RecordsAreAppended) {
  std::vector<BYTE> a, b;
  ASSERT_TRUE(tt::ReadFile(tt::FixturePath("named.bin"), &a));
  ASSERT_TRUE(tt::ReadFile(tt::FixturePath("block_only.bin"), &b));
  std::vector<BYTE> bad(540);
  bad[0] = 0xF4;  // 500 bytes: below 536
  bad[1] = 0x01;
  bad[7] = 2;
  struct Case {
    const char* what;
    DWORD options;
    std::vector<BYTE> stream;
    HRESULT expected;
    int appended;
  } const cases[] = {
      {"pointer slots", 0, ListStream({a, b}, 2), S_OK, 2},
      {"list-owned copies", KVLIST_ALLOCATED_ITEMS, ListStream({a, b}, 2), S_OK, 2},
      {"a record below 536 bytes", 0, ListStream({a, b, bad}, 3), KV_E_CORRUPT, 2},
      {"fewer records than counted", KVLIST_ALLOCATED_ITEMS, ListStream({a}, 2), KV_E_CORRUPT, 1},
      {"no header", 0, {1, 2, 3}, KV_E_CORRUPT, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tKVLIST* list = nullptr;
    ASSERT_EQ(KvList_CreateExZ(&list, 4, 0, 0, c.options, 0, 0, 0), S_OK);
    IStream* stream = StreamOf(c.stream);
    // The reader starts from the stream's beginning wherever it stands.
    LARGE_INTEGER end = {};
    stream->Seek(end, STREAM_SEEK_END, nullptr);
    EXPECT_EQ(KvFio_AddTemplatesToListFromIStream(list, stream), c.expected);
    stream->Release();
    ASSERT_EQ(list->count, c.appended);
    // Both kinds of list hold one pointer per slot: 4 bytes in the 32-bit
    // build, 8 in the 64-bit one.
    ASSERT_EQ(list->stride, sizeof(void*));
    for (int i = 0; i < list->count; ++i) {
      tagKVTEMPLATExV2* t = nullptr;
      std::memcpy(&t, list->items + static_cast<size_t>(i) * list->stride, sizeof t);
      const std::vector<BYTE>& want = i == 0 ? a : b;
      EXPECT_EQ(std::memcmp(t, want.data(), want.size()), 0) << i;
      if (!(c.options & KVLIST_ALLOCATED_ITEMS)) KvFio_ReleaseTemplate(t);
    }
    KvList_Destroy(list);
  }
  tKVLIST* inplace = nullptr;
  ASSERT_EQ(KvList_CreateExZ(&inplace, 16, 0, 0, KVLIST_INPLACE_ITEMS, 0, 0, 0), S_OK);
  IStream* stream = StreamOf(ListStream({a}, 1));
  EXPECT_EQ(KvFio_AddTemplatesToListFromIStream(inplace, stream), E_INVALIDARG);
  stream->Release();
  KvList_Destroy(inplace);
}

// ---- settings through the manager -----------------------------------------------------

TEST(ManagerMetrics, ForwardersAndTheirResults) {
  vogtest::FakeDizuVOManager m;
  EXPECT_EQ(KvFioMgr_GetMetric(m.AsManager(), 40, 5), 77u);
  EXPECT_EQ(m.lastId, 40);
  m.metricResult = static_cast<HRESULT>(0x8004E00A);
  EXPECT_EQ(KvFioMgr_GetMetric(m.AsManager(), 41, 5), 5u) << "the default when the manager fails";
  EXPECT_EQ(KvFioMgr_SetMetric(m.AsManager(), 42, 9), static_cast<HRESULT>(0x8004E00A));
  EXPECT_EQ(m.lastValue, 9u);
  EXPECT_EQ(KvFioMgr_DeleteMetric(m.AsManager(), 43, 3), static_cast<HRESULT>(0x8004E00A));
  EXPECT_EQ(m.lastValue, 3u);

  struct Case {
    HRESULT result;
    DWORD count;
    DWORD stringResult, binaryResult;
  } const cases[] = {
      {S_OK, 6, 5, 6},
      {KV_E_BUFFERTOOSMALL, 12, 12, 12},
      {static_cast<HRESULT>(0x8004E00A), 4, 0, 0},
  };
  for (const Case& c : cases) {
    m.metricResult = c.result;
    m.outCount = c.count;
    wchar_t text[8] = {};
    DWORD words[4] = {};
    EXPECT_EQ(KvFioMgr_GetMetricString(m.AsManager(), 50, text, 8), c.stringResult) << std::hex << c.result;
    EXPECT_EQ(KvFioMgr_GetMetricBinary(m.AsManager(), 51, words, sizeof words), c.binaryResult) << std::hex << c.result;
  }
  m.metricResult = S_OK;
  const DWORD words[2] = {1, 2};
  EXPECT_EQ(KvFioMgr_SetMetricBinary(m.AsManager(), 52, words, 2), S_OK);
  EXPECT_EQ(m.lastValue, 2u);
  EXPECT_EQ(KvFioMgr_SetMetricString(m.AsManager(), 53, L"x"), S_OK);
  EXPECT_EQ(m.lastId, 53);
  EXPECT_EQ(KvFioMgr_GetMetric(nullptr, 1, 99), 99u);
  EXPECT_EQ(KvFioMgr_GetMetricString(nullptr, 1, nullptr, 0), 0u);
}

// ---- cache and editor --------------------------------------------------------------

TEST(GlobalTemplateCache, AddFindReplaceClear) {
  CKvGlobalTemplateCache::Clear();
  tt::Owned a(KvFio_AllocTemplate(L"A", L"", 4, nullptr));
  tt::Owned b(KvFio_AllocTemplate(L"B", L"", 4, nullptr));
  a->guidTemplate.Data1 = 1;
  b->guidTemplate.Data1 = 2;
  EXPECT_EQ(CKvGlobalTemplateCache::Add(a.t), S_OK);
  EXPECT_EQ(CKvGlobalTemplateCache::Add(b.t), S_OK);
  EXPECT_EQ(CKvGlobalTemplateCache::Count(), 2u);
  tt::Owned renamed(KvFio_CopyTemplateRenamed(a.t, L"A2", nullptr));
  EXPECT_EQ(CKvGlobalTemplateCache::Add(renamed.t), S_OK);
  EXPECT_EQ(CKvGlobalTemplateCache::Count(), 2u) << "same template GUID: replaced";
  tt::Owned found;
  ASSERT_EQ(CKvGlobalTemplateCache::Find(a->guidTemplate, found.out()), S_OK);
  EXPECT_EQ(tt::ToU16(KvFio_GetTemplateName(found.t)), u"A2");
  EXPECT_NE(found.t, renamed.t) << "the cache keeps its own copies";
  GUID none = {};
  EXPECT_EQ(CKvGlobalTemplateCache::Find(none, found.out()), S_FALSE);
  EXPECT_EQ(found.t, nullptr);
  CKvGlobalTemplateCache::Clear();
  EXPECT_EQ(CKvGlobalTemplateCache::Count(), 0u);
  EXPECT_EQ(CKvGlobalTemplateCache::Find(a->guidTemplate, found.out()), S_FALSE);
}

TEST(TemplateEditor, NoPagesInThisModule) {
  _FIOEDITTEMPLATE edit = {};
  EXPECT_EQ(KvFioMgr_EditTemplate(nullptr, &edit), E_INVALIDARG);
  EXPECT_EQ(KvFioMgr_EditTemplate(reinterpret_cast<IKvDizuVOManager*>(&edit), nullptr), E_INVALIDARG);
  EXPECT_EQ(KvFioMgr_EditTemplate(reinterpret_cast<IKvDizuVOManager*>(&edit), &edit), E_NOTIMPL);
}

}  // namespace
