// The project-link record: presence bits and validation, text getters into
// caller buffers, stream writers, the in-memory "spel" project-data list
// (also walked by Python in the oracle script), and the class as the DLL
// exports it.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "kvglobalblock.h"
#include "kvlinkproject.h"
#include "kvriff.h"
#include "metariff_test_util.h"
#include "vog_exports.h"

using namespace metariff;

namespace {

const HRESULT kInvalid = static_cast<HRESULT>(0x8004E05D);
const GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

// The bytes one Write*ToStream call puts into a memory stream (S_FALSE: none).
struct StreamOut {
  HRESULT hr = E_FAIL;
  std::vector<uint8_t> bytes;
};
template <typename F>
StreamOut Capture(F write) {
  StreamOut out;
  IStream* s = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &s))) return out;
  out.hr = write(s);
  STATSTG st;
  s->Stat(&st, STATFLAG_NONAME);
  out.bytes.resize(static_cast<size_t>(st.cbSize.QuadPart));
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!out.bytes.empty()) s->Read(out.bytes.data(), static_cast<ULONG>(out.bytes.size()), &got);
  s->Release();
  return out;
}

std::vector<uint8_t> Raw(const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

TEST(LinkProjectRecord, FreshRecordIsInvalidAndEmpty) {
  CKvLinkProjectInfo r;
  EXPECT_EQ(kInvalid, r.Validate());
  EXPECT_EQ(kInvalid, r.ValidateProjectLink());
  EXPECT_EQ(kInvalid, r.ValidateProjectData());
  wchar_t buf[8] = {L'x', L'x', L'x'};
  typedef int (CKvLinkProjectInfo::*Getter)(wchar_t*, int);
  const Getter getters[] = {&CKvLinkProjectInfo::GetProjectPath, &CKvLinkProjectInfo::GetCommandLineW,
                            &CKvLinkProjectInfo::GetTemplateName, &CKvLinkProjectInfo::GetCreatorAppInfo,
                            &CKvLinkProjectInfo::GetCreatorAppWindowClassName};
  for (Getter g : getters) {
    buf[0] = L'x';
    EXPECT_EQ(0, (r.*g)(buf, 8));
    EXPECT_EQ(0, buf[0]);
  }
  typedef HRESULT (CKvLinkProjectInfo::*Writer)(IStream*);
  const Writer writers[] = {&CKvLinkProjectInfo::WriteProjectPathToStream,
                            &CKvLinkProjectInfo::WriteCommandLineToStream,
                            &CKvLinkProjectInfo::WriteRendererGuidToStream,
                            &CKvLinkProjectInfo::WriteTemplateNameToStream,
                            &CKvLinkProjectInfo::WriteTemplateDataToStream,
                            &CKvLinkProjectInfo::WriteAppTemplateDataToStream,
                            &CKvLinkProjectInfo::WriteCreatorAppInfoToStream,
                            &CKvLinkProjectInfo::WriteCreatorAppWindowClassNameToStream,
                            &CKvLinkProjectInfo::WriteProjectDataToStream};
  for (Writer w : writers) {
    StreamOut o = Capture([&](IStream* s) { return (r.*w)(s); });
    EXPECT_EQ(S_FALSE, o.hr);
    EXPECT_TRUE(o.bytes.empty());
  }
  StreamOut v = Capture([&](IStream* s) { return r.WriteVersionToStream(s); });
  EXPECT_EQ(S_OK, v.hr);
  EXPECT_EQ(std::vector<uint8_t>(4, 0), v.bytes);
}

TEST(LinkProjectRecord, ValidationFollowsBitsAndBuffers) {
  {
    CKvLinkProjectInfo r;
    EXPECT_EQ(E_INVALIDARG, r.SetProjectPath(nullptr));
    ASSERT_EQ(S_OK, r.SetProjectPath(L"C:\\p\\song.prj"));
    EXPECT_EQ(kInvalid, r.ValidateProjectLink()) << "the command line is required too";
    ASSERT_EQ(S_OK, r.SetCommandLine(L"app.exe /open"));
    EXPECT_EQ(S_OK, r.ValidateProjectLink());
    EXPECT_EQ(S_OK, r.Validate());
    EXPECT_EQ(28u, r.GetProjectPathSize()) << "(13 + 1) x 2 bytes";
    // A template-name buffer without its bit: valid, but flagged.
    wchar_t* name = static_cast<wchar_t*>(kvblock::Alloc(8));
    memcpy(name, L"tpl", 8);
    r.SetTemplateNameToBuffer(name, 8);
    EXPECT_EQ(S_FALSE, r.ValidateProjectLink());
    EXPECT_EQ(S_FALSE, r.Validate());
    EXPECT_EQ(S_FALSE, r.WriteTemplateNameToStream(nullptr)) << "no bit, nothing written";
  }
  {
    // Project data alone: not a link, but a valid record.
    CKvLinkProjectInfo r;
    const char data[] = "xyz";
    ASSERT_EQ(S_OK, r.SetProjectData(KVRIFF_FOURCC('a', 'b', 'c', 'd'), data, 3));
    EXPECT_EQ(kInvalid, r.ValidateProjectLink());
    EXPECT_EQ(S_OK, r.ValidateProjectData());
    EXPECT_EQ(S_OK, r.Validate());
  }
  {
    // Data setters refuse empty data; a set bit with a buffer that went
    // missing makes the link invalid.
    CKvLinkProjectInfo r;
    EXPECT_EQ(E_INVALIDARG, r.SetTemplateData(nullptr, 4));
    EXPECT_EQ(E_INVALIDARG, r.SetTemplateData("abc", 0));
    r.SetProjectPath(L"p");
    r.SetCommandLine(L"c");
    ASSERT_EQ(S_OK, r.SetTemplateData("abc", 3));
    EXPECT_EQ(S_OK, r.Validate());
    void* taken = *r.GetTemplateDataPtr();
    *r.GetTemplateDataPtr() = nullptr;  // a caller moved the buffer out
    EXPECT_EQ(kInvalid, r.ValidateProjectLink());
    kvblock::Free(taken);
  }
}

TEST(LinkProjectRecord, TextGettersCopyBoundedAndTerminated) {
  CKvLinkProjectInfo r;
  r.SetProjectPath(L"C:\\projects\\night.prj");
  r.SetCreatorAppWindowClassName(L"HostFrame");
  wchar_t buf[32];
  buf[0] = L'x';
  EXPECT_EQ(0, r.GetProjectPath(buf, 1));
  EXPECT_EQ(0, buf[0]);
  EXPECT_EQ(5, r.GetProjectPath(buf, 6));
  EXPECT_STREQ(L"C:\\pr", buf);
  EXPECT_EQ(21, r.GetProjectPath(buf, 32));
  EXPECT_STREQ(L"C:\\projects\\night.prj", buf);
  EXPECT_EQ(9, r.GetCreatorAppWindowClassName(buf, 32));
  EXPECT_STREQ(L"HostFrame", buf);
  // A placed buffer without a terminator is read only as far as its size.
  wchar_t* raw = static_cast<wchar_t*>(kvblock::Alloc(64));
  for (int i = 0; i < 32; ++i) raw[i] = L'a' + (i % 26);
  r.SetCommandLineToBuffer(raw, 6);  // three characters, no terminator
  EXPECT_EQ(0, r.GetCommandLineW(buf, 32)) << "no bit yet";
}

TEST(LinkProjectRecord, StreamWritersGiveTheFieldBytes) {
  CKvLinkProjectInfo r;
  r.SetProjectPath(L"ab");
  r.SetTemplateName(L"t");
  r.SetRendererGuid(kGuid);
  r.SetVersion(0x01000100);
  const uint8_t tdata[5] = {1, 2, 3, 4, 5};
  r.SetTemplateData(tdata, 5);
  r.SetAppTemplateData(tdata, 2);
  EXPECT_EQ(Raw(L"ab", 6), Capture([&](IStream* s) { return r.WriteProjectPathToStream(s); }).bytes);
  EXPECT_EQ(Raw(L"t", 4), Capture([&](IStream* s) { return r.WriteTemplateNameToStream(s); }).bytes);
  EXPECT_EQ(Raw(&kGuid, 16), Capture([&](IStream* s) { return r.WriteRendererGuidToStream(s); }).bytes);
  EXPECT_EQ(Raw(tdata, 5), Capture([&](IStream* s) { return r.WriteTemplateDataToStream(s); }).bytes);
  EXPECT_EQ(Raw(tdata, 2), Capture([&](IStream* s) { return r.WriteAppTemplateDataToStream(s); }).bytes);
  EXPECT_EQ((std::vector<uint8_t>{0, 1, 0, 1}), Capture([&](IStream* s) { return r.WriteVersionToStream(s); }).bytes);
  // FreeMemory releases the buffers but keeps the GUID, its bit and the version.
  r.FreeMemory();
  EXPECT_EQ(nullptr, r.GetProjectPath());
  EXPECT_EQ(0u, r.GetTemplateDataSize());
  EXPECT_EQ(S_FALSE, r.WriteProjectPathToStream(nullptr));
  StreamOut g = Capture([&](IStream* s) { return r.WriteRendererGuidToStream(s); });
  EXPECT_EQ(S_OK, g.hr);
  EXPECT_EQ(Raw(&kGuid, 16), g.bytes);
  EXPECT_EQ(0x01000100u, r.GetVersion());
}

TEST(LinkProjectRecord, ProjectDataListLayoutAndItems) {
  CKvLinkProjectInfo r;
  const DWORD a = KVRIFF_FOURCC('a', 'a', 'a', 'a'), b = KVRIFF_FOURCC('b', 'b', 'b', 'b');
  EXPECT_EQ(E_INVALIDARG, r.SetProjectData(a, nullptr, 3));
  EXPECT_EQ(E_INVALIDARG, r.SetProjectData(a, "xyz", 0));
  EXPECT_EQ(E_UNEXPECTED, r.SetProjectData(a, "xyz", 0xFFFFFFFFu));
  ASSERT_EQ(S_OK, r.SetProjectData(a, "xyz", 3));
  Bytes want;
  want.Tag("LIST").U32(16).Tag("spel").Tag("aaaa").U32(3);
  want.b.insert(want.b.end(), {'x', 'y', 'z', 0});
  ASSERT_EQ(24u, r.GetProjectDataSize());
  EXPECT_EQ(want.b, Raw(r.GetProjectData(), 24));
  EXPECT_EQ(static_cast<HRESULT>(0x8004E0A9), r.SetProjectData(a, "other", 5));
  EXPECT_EQ(want.b, Raw(r.GetProjectData(), r.GetProjectDataSize())) << "a duplicate changes nothing";
  ASSERT_EQ(S_OK, r.SetProjectData(b, "0123456789", 10));
  EXPECT_EQ(42u, r.GetProjectDataSize());

  DWORD size = 0;
  EXPECT_EQ(E_INVALIDARG, r.GetProjectData(a, nullptr, nullptr));
  EXPECT_EQ(S_OK, r.GetProjectData(a, nullptr, &size));
  EXPECT_EQ(3u, size);
  char buf[16] = {0};
  size = 9;
  EXPECT_EQ(E_OUTOFMEMORY, r.GetProjectData(b, buf, &size));
  size = 10;
  EXPECT_EQ(S_OK, r.GetProjectData(b, buf, &size));
  EXPECT_EQ(0, memcmp(buf, "0123456789", 10));
  EXPECT_EQ(static_cast<HRESULT>(0x8004E00A), r.GetProjectData(KVRIFF_FOURCC('c', 'c', 'c', 'c'), nullptr, &size));

  // The list for the Python walk of the oracle script.
  if (HaveFixtures()) {
    WriteAll(FixturePath("metariff/written/projectdata.spel"),
             std::vector<uint8_t>(static_cast<uint8_t*>(r.GetProjectData()),
                                  static_cast<uint8_t*>(r.GetProjectData()) + r.GetProjectDataSize()));
  }

  CKvLinkProjectInfo none;
  size = 7;
  EXPECT_EQ(static_cast<HRESULT>(0x8004E00A), none.GetProjectData(a, nullptr, &size));
  EXPECT_EQ(0u, size);
}

// Project-data buffers placed by a caller: damaged lists give clean errors.
TEST(LinkProjectRecord, DamagedProjectDataListsGiveCleanErrors) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    HRESULT get;  // GetProjectData of "aaaa" with a null buffer
    HRESULT set;  // SetProjectData of a new item
  };
  const HRESULT kAbsent = static_cast<HRESULT>(0x8004E00A), kShort = static_cast<HRESULT>(0x8004E008);
  auto list = [](const char* type, uint32_t listSize, std::vector<uint8_t> items) {
    Bytes b;
    b.Tag("LIST").U32(listSize).Tag(type);
    b.b.insert(b.b.end(), items.begin(), items.end());
    return b.b;
  };
  const Case cases[] = {
      {"wrong list type", list("spex", 16, Bytes().Tag("aaaa").U32(2).U32(0).b), E_UNEXPECTED, kAbsent},
      {"not a list", Bytes().Tag("RIFF").U32(4).Tag("spel").b, static_cast<HRESULT>(0x8004E081), kAbsent},
      {"item past the buffer", list("spel", 16, Bytes().Tag("aaaa").U32(0x7FFFFFF0u).U32(0).b), kShort, S_OK},
      {"list size past the buffer", list("spel", 4000, Bytes().Tag("aaaa").U32(2).U32(0).b), S_OK, kAbsent},
      {"short header", Bytes().Tag("LIST").b, kShort, kAbsent},
  };
  for (const Case& c : cases) {
    CKvLinkProjectInfo r;
    void* p = kvblock::Alloc(static_cast<DWORD>(c.bytes.size()));
    memcpy(p, c.bytes.data(), c.bytes.size());
    r.SetProjectDataToBuffer(p, static_cast<DWORD>(c.bytes.size()));
    DWORD size = 0;
    EXPECT_EQ(c.get, r.GetProjectData(KVRIFF_FOURCC('a', 'a', 'a', 'a'), nullptr, &size)) << c.name;
    EXPECT_EQ(c.set, r.SetProjectData(KVRIFF_FOURCC('n', 'e', 'w', ' '), "new", 3)) << c.name;
    if (FAILED(c.set)) {
      EXPECT_EQ(nullptr, r.GetProjectData()) << c.name << ": the damaged list is released";
    }
  }
}

TEST(LinkProjectRecord, AssignmentSharesBuffers) {
  CKvLinkProjectInfo a;
  a.SetProjectPath(L"path");
  a.SetCommandLine(L"cmd");
  CKvLinkProjectInfo b;
  b = a;
  EXPECT_EQ(a.GetProjectPath(), b.GetProjectPath());
  EXPECT_EQ(S_OK, b.Validate());
  a.Init();  // a gives up its claim; b releases the buffers
  EXPECT_EQ(kInvalid, a.Validate());
}

template <typename F>
F Proc(HMODULE dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName(name).c_str())));
}

// The class and the summary functions as the DLL exports them.
TEST(LinkProjectRecord, CalledThroughTheDllExports) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(nullptr, dll);
  typedef void(__thiscall * Ctor)(void*);
  typedef HRESULT(__thiscall * SetText)(void*, const wchar_t*);
  typedef HRESULT(__thiscall * Check)(void*);
  typedef int(__thiscall * GetText)(void*, wchar_t*, int);
  auto ctor = Proc<Ctor>(dll, "_ZN18CKvLinkProjectInfoC1Ev");
  auto dtor = Proc<Ctor>(dll, "_ZN18CKvLinkProjectInfoD1Ev");
  auto setPath = Proc<SetText>(dll, "_ZN18CKvLinkProjectInfo14SetProjectPathEPKw");
  auto setCmd = Proc<SetText>(dll, "_ZN18CKvLinkProjectInfo14SetCommandLineEPKw");
  auto validate = Proc<Check>(dll, "_ZN18CKvLinkProjectInfo8ValidateEv");
  auto getPath = Proc<GetText>(dll, "_ZN18CKvLinkProjectInfo14GetProjectPathEPwi");
  ASSERT_TRUE(ctor && dtor && setPath && setCmd && validate && getPath);
  alignas(8) unsigned char storage[sizeof(CKvLinkProjectInfo)];
  ctor(storage);
  EXPECT_EQ(kInvalid, validate(storage));
  EXPECT_EQ(S_OK, setPath(storage, L"C:\\a.prj"));
  EXPECT_EQ(S_OK, setCmd(storage, L"a.exe"));
  EXPECT_EQ(S_OK, validate(storage));
  wchar_t buf[16];
  EXPECT_EQ(8, getPath(storage, buf, 16));
  EXPECT_STREQ(L"C:\\a.prj", buf);
  dtor(storage);

  const char* names[] = {"_KvSummary_Free@4",        "_KvSummary_GetItemIndex@8", "_KvSummary_GetItemText@8",
                         "_KvSummary_SetItem@12",    "_KvSummary_Copy@8",         "_KvSummary_Compare@8",
                         "_KvSummary_Merge@16",      "_KvSummary_Load@12",        "_KvSummary_LoadUNFO@12",
                         "_KvSummary_Save@12",       "_KvSummary_SaveUNFO@12",    "_KvSummary_GetStringFromFile@20",
                         "_ProjectLinkRiff_LoadInfo@12", "_ProjectLinkReadMeta_LoadInfo@12"};
  for (const char* n : names) EXPECT_NE(nullptr, GetProcAddress(dll, VogExportName(n).c_str())) << n;
  typedef HRESULT(__stdcall * SetItem)(void*, DWORD, const wchar_t*);
  typedef const wchar_t*(__stdcall * ItemText)(const void*, DWORD);
  typedef HRESULT(__stdcall * FreeList)(void*);
  auto setItem = Proc<SetItem>(dll, "_KvSummary_SetItem@12");
  auto itemText = Proc<ItemText>(dll, "_KvSummary_GetItemText@8");
  auto freeList = Proc<FreeList>(dll, "_KvSummary_Free@4");
  struct {
    DWORD count;
    void* items;
  } list = {0, nullptr};
  EXPECT_EQ(S_OK, setItem(&list, KVRIFF_FOURCC('I', 'N', 'A', 'M'), L"via dll"));
  EXPECT_STREQ(L"via dll", itemText(&list, KVRIFF_FOURCC('I', 'N', 'A', 'M')));
  EXPECT_EQ(S_OK, freeList(&list));
  FreeLibrary(dll);
}

}  // namespace
