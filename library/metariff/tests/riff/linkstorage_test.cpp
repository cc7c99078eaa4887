// Project links in files and from readers: full records saved into WAV and
// Wave64 files that ffmpeg made and loaded back equal (the oracle script
// checks the audio and walks the chunks with Python), the loaders' rules on
// hand-built files, in-place chunk replacement, hostile chunk sizes, and the
// copy from a reader's project-link faces.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "kvcomobject.h"
#include "kvglobalblock.h"
#include "kvlinkstorage.h"
#include "kvriff.h"
#include "metariff_test_util.h"
#include "vog_tools.h"

using namespace metariff;

namespace {

const HRESULT kAbsent = static_cast<HRESULT>(0x8004E00A), kMissing = static_cast<HRESULT>(0x8004E00B),
              kVersion = static_cast<HRESULT>(0x8004E01C), kShort = static_cast<HRESULT>(0x8004E008),
              kInvalid = static_cast<HRESULT>(0x8004E05D);
const GUID kRenderer = {0xA1B2C3D4, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x00}};

std::vector<uint8_t> Raw(const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return p ? std::vector<uint8_t>(b, b + n) : std::vector<uint8_t>();
}

// A record with every field.
void Fill(CKvLinkProjectInfo& r) {
  r.SetProjectPath(L"C:\\Projects\\Night Train.prj");
  r.SetCommandLine(L"\"C:\\Program Files\\Host\\host.exe\" /open");
  r.SetRendererGuid(kRenderer);
  r.SetTemplateName(L"AAC 256 kbps");
  const uint8_t tdata[7] = {9, 8, 7, 6, 5, 4, 3};
  r.SetTemplateData(tdata, 7);
  r.SetAppTemplateData("app!", 4);
  r.SetCreatorAppInfo(L"Host 12.0");
  r.SetCreatorAppWindowClassName(L"HostMainFrame");
  r.SetProjectData(KVRIFF_FOURCC('t', 'r', 'k', '1'), "first track", 11);
  r.SetProjectData(KVRIFF_FOURCC('t', 'r', 'k', '2'), "second", 6);
  r.SetVersion(0x00000007);
}

// Every field of two records, as bytes.
std::map<std::string, std::vector<uint8_t>> Fields(CKvLinkProjectInfo& r) {
  std::map<std::string, std::vector<uint8_t>> f;
  f["path"] = Raw(r.GetProjectPath(), r.GetProjectPathSize());
  f["cmd"] = Raw(r.GetCommandLineW(), r.GetCommandLineSize());
  f["guid"] = r.WriteRendererGuidToStream(nullptr) == S_FALSE ? std::vector<uint8_t>() : Raw(r.GetRendererGuid(), 16);
  f["tname"] = Raw(r.GetTemplateName(), r.GetTemplateNameSize());
  f["tdata"] = Raw(r.GetTemplateData(), r.GetTemplateDataSize());
  f["atdata"] = Raw(r.GetAppTemplateData(), r.GetAppTemplateDataSize());
  f["app"] = Raw(r.GetCreatorAppInfo(), r.GetCreatorAppInfoSize());
  f["wnd"] = Raw(r.GetCreatorAppWindowClassName(), r.GetCreatorAppWindowClassNameSize());
  f["pdata"] = Raw(r.GetProjectData(), r.GetProjectDataSize());
  return f;
}

HRESULT SaveFile(const std::wstring& path, CKvLinkProjectInfo& r, bool is64) {
  Handle h(path);
  if (!h.ok()) return E_FAIL;
  return is64 ? ProjectLinkRiff64_SaveInfo(h, &r) : ProjectLinkRiff_SaveInfo(h, &r);
}

HRESULT LoadFile(const std::wstring& path, CKvLinkProjectInfo& r, int* loaded, bool is64) {
  Handle h(path, false);
  if (!h.ok()) return E_FAIL;
  return is64 ? ProjectLinkRiff64_LoadInfo(h, &r, loaded) : ProjectLinkRiff_LoadInfo(h, &r, loaded);
}

TEST(LinkStorage, FullRecordsRoundTripThroughWavAndWave64) {
  if (!HaveFixtures()) VOG_TOOL_MISSING("ffmpeg") << "fixtures missing";
  struct Target {
    const char* from;
    const char* to;
    bool is64;
  } const targets[] = {{"plain.wav", "link_saved.wav", false},
                       {"plain.w64", "link_saved.w64", true},
                       {"info.wav", "info_link.wav", false}};
  for (const Target& t : targets) {
    std::wstring path = CopyToWritten(t.from, t.to);
    CKvLinkProjectInfo saved;
    Fill(saved);
    // Saved twice: the second save replaces the chunks of the first.
    ASSERT_EQ(S_OK, SaveFile(path, saved, t.is64)) << t.to;
    uint64_t once = ReadAll(path).size();
    ASSERT_EQ(S_OK, SaveFile(path, saved, t.is64)) << t.to;
    EXPECT_EQ(once, ReadAll(path).size()) << t.to;
    CKvLinkProjectInfo back;
    int loaded = 0;
    ASSERT_EQ(S_OK, LoadFile(path, back, &loaded, t.is64)) << t.to;
    EXPECT_EQ(1, loaded);
    EXPECT_EQ(0x01000100u, back.GetVersion()) << "the savers store their own version";
    EXPECT_EQ(Fields(saved), Fields(back)) << t.to;
    EXPECT_EQ(S_OK, back.Validate());
    DWORD size = 0;
    EXPECT_EQ(S_OK, back.GetProjectData(KVRIFF_FOURCC('t', 'r', 'k', '2'), nullptr, &size));
    EXPECT_EQ(6u, size);
  }
  // Path and command line only: "splp", "spcl", then "splv" (the script checks the order).
  std::wstring path = CopyToWritten("plain.wav", "link_minimal.wav");
  CKvLinkProjectInfo minimal;
  minimal.SetProjectPath(L"p.prj");
  minimal.SetCommandLine(L"c");
  ASSERT_EQ(S_OK, SaveFile(path, minimal, false));
  std::wstring path64 = CopyToWritten("plain.w64", "link_minimal.w64");
  ASSERT_EQ(S_OK, SaveFile(path64, minimal, true));
  // An invalid record leaves the file untouched.
  std::vector<uint8_t> before = ReadAll(path);
  CKvLinkProjectInfo invalid;
  invalid.SetProjectPath(L"only a path");
  EXPECT_EQ(kInvalid, SaveFile(path, invalid, false));
  EXPECT_EQ(kInvalid, SaveFile(path64, invalid, true));
  EXPECT_EQ(before, ReadAll(path));
}

// A RIFF file of the given chunks after a "fmt " chunk.
std::vector<uint8_t> RiffOf(const std::vector<std::pair<const char*, std::vector<uint8_t>>>& chunks) {
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE").Chunk("fmt ", 16, 1);
  for (auto& c : chunks) {
    b.Tag(c.first).U32(static_cast<uint32_t>(c.second.size()));
    b.b.insert(b.b.end(), c.second.begin(), c.second.end());
    if (c.second.size() & 1) b.b.push_back(0);
  }
  return b.FixRIFF().b;
}

std::vector<uint8_t> U32v(uint32_t v) { return Bytes().U32(v).b; }
std::vector<uint8_t> W(const wchar_t* s, bool terminated = true) {
  return Raw(s, (wcslen(s) + (terminated ? 1 : 0)) * 2);
}

TEST(LinkStorage, RiffLoaderRules) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, std::vector<uint8_t>>> chunks;
    HRESULT hr;
    int loaded;
    DWORD version;
    const wchar_t* path;  // expected text, null when not loaded
    const wchar_t* cmd;
    bool appTemplate;
  };
  const Case cases[] = {
      {"no version", {{"splp", W(L"a.prj")}, {"spcl", W(L"c")}}, kMissing, 0, 0, nullptr, nullptr, false},
      {"version of 3 bytes", {{"splv", {0, 1, 0}}, {"splp", W(L"a.prj")}}, kMissing, 0, 0, nullptr, nullptr, false},
      {"version 2.0", {{"splv", U32v(0x02000000)}, {"splp", W(L"a.prj")}}, kVersion, 0, 0, nullptr, nullptr, false},
      {"version 1.FFFFFF", {{"splv", U32v(0x01FFFFFF)}, {"spcl", W(L"c")}}, S_OK, 1, 0x01FFFFFF, nullptr, L"c",
       false},
      {"only a version", {{"splv", U32v(0x01000100)}}, S_OK, 0, 0x01000100, nullptr, nullptr, false},
      {"2-byte path skipped, 2-byte command line loaded",
       {{"splp", W(L"")}, {"spcl", W(L"")}, {"splv", U32v(0x01000100)}}, S_OK, 1, 0x01000100, nullptr, L"", false},
      {"app template data without template data",
       {{"splv", U32v(0x01000100)}, {"splp", W(L"a.prj")}, {"srat", {1, 2}}}, S_OK, 1, 0x01000100, L"a.prj",
       nullptr, false},
      {"texts without terminators", {{"splv", U32v(0x01000100)}, {"splp", W(L"abc", false)}, {"spcl", W(L"x", false)}},
       S_OK, 1, 0x01000100, L"abc", L"x", false},
      {"chunks in any order among others",
       {{"JUNK", {0, 0, 0}}, {"spcl", W(L"cmd")}, {"srat", {7}}, {"data", std::vector<uint8_t>(33, 5)},
        {"srtd", {1, 2, 3}}, {"splp", W(L"p")}, {"splv", U32v(0x00000001)}},
       S_OK, 1, 1, L"p", L"cmd", true},
  };
  for (const Case& c : cases) {
    std::wstring path = MakeFile(dir, L"rules.wav", RiffOf(c.chunks));
    CKvLinkProjectInfo r;
    int loaded = -1;
    EXPECT_EQ(c.hr, LoadFile(path, r, &loaded, false)) << c.name;
    EXPECT_EQ(c.loaded, loaded) << c.name;
    EXPECT_EQ(c.version, r.GetVersion()) << c.name;
    wchar_t buf[32];
    if (c.path) {
      ASSERT_NE(nullptr, r.GetProjectPath()) << c.name;
      EXPECT_STREQ(c.path, r.GetProjectPath()) << c.name << ": the buffer ends in a terminator";
      EXPECT_EQ(static_cast<int>(wcslen(c.path)), r.GetProjectPath(buf, 32)) << c.name;
    } else {
      EXPECT_EQ(0, r.GetProjectPath(buf, 32)) << c.name;
    }
    if (c.cmd) {
      ASSERT_NE(nullptr, r.GetCommandLineW()) << c.name;
      EXPECT_STREQ(c.cmd, r.GetCommandLineW()) << c.name;
    } else {
      EXPECT_EQ(nullptr, r.GetCommandLineW()) << c.name;
    }
    EXPECT_EQ(c.appTemplate, r.GetAppTemplateData() != nullptr) << c.name;
  }
}

// Loader inputs that are damaged: clean errors, the record left empty.
TEST(LinkStorage, DamagedFilesGiveCleanErrors) {
  ScratchDir dir;
  auto huge = [](const char* id, uint32_t size) {
    Bytes b;
    b.Tag(id).U32(size).U32(0x00410041);
    return b.b;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    HRESULT hr;
  };
  std::vector<uint8_t> hugePath = RiffOf({{"splv", U32v(0x01000100)}});
  std::vector<uint8_t> tail = huge("splp", 0x7FFFFFF0u);
  hugePath.insert(hugePath.end(), tail.begin(), tail.end());
  Bytes fixed;
  fixed.b = hugePath;
  fixed.FixRIFF();
  std::vector<uint8_t> hugeData = RiffOf({{"splv", U32v(0x01000100)}, {"spcl", W(L"c")}});
  std::vector<uint8_t> tail2 = huge("spem", 0xFFFFFFF7u);
  hugeData.insert(hugeData.end(), tail2.begin(), tail2.end());
  Bytes fixed2;
  fixed2.b = hugeData;
  fixed2.FixRIFF();
  const Case cases[] = {
      {"empty file", {}, kShort},
      {"not RIFF", Bytes().Tag("RIFX").U32(4).Tag("WAVE").b, static_cast<HRESULT>(0x8004E080)},
      {"path larger than the file", fixed.b, kShort},
      {"project data larger than the file", fixed2.b, kShort},
      {"RIFF size past the file", Bytes().Tag("RIFF").U32(0x7FFFFFF0u).Tag("WAVE").Chunk("fmt ", 16, 1).b, kMissing},
  };
  for (const Case& c : cases) {
    std::wstring path = MakeFile(dir, L"damaged.wav", c.bytes);
    CKvLinkProjectInfo r;
    int loaded = -1;
    EXPECT_EQ(c.hr, LoadFile(path, r, &loaded, false)) << c.name;
    EXPECT_EQ(0, loaded) << c.name;
    EXPECT_EQ(nullptr, r.GetProjectPath()) << c.name;
    EXPECT_EQ(nullptr, r.GetProjectData()) << c.name;
  }
}

// One top-level chunk of a RIFF file as a Python-free walk sees it.
struct Top {
  std::string id;
  uint32_t size;
  size_t offset;
};
std::vector<Top> Walk(const std::vector<uint8_t>& b) {
  std::vector<Top> out;
  size_t p = 12;
  while (p + 8 <= b.size()) {
    uint32_t size = rifftest::GetU32(b, p + 4);
    out.push_back({std::string(b.begin() + p, b.begin() + p + 4), size, p});
    p += 8 + size + (size & 1);
  }
  return out;
}

TEST(LinkStorage, RiffChunkReplacementKeepsTheWalkIntact) {
  ScratchDir dir;
  const DWORD id = KVRIFF_FOURCC('s', 'r', 't', 'd');
  struct Case {
    DWORD oldSize, newSize;
    DWORD added;
    const char* walk;  // ids and sizes after the replacement
  };
  const Case cases[] = {
      {10, 10, 0, "fmt 16 srtd10 "},
      {20, 6, 0, "fmt 16 srtd6 JUNK6 "},         // shrunk in place, the rest a JUNK chunk
      {11, 1, 0, "fmt 16 srtd1 JUNK2 "},
      {10, 6, 14, "fmt 16 JUNK10 srtd6 "},       // too little room left for a JUNK header
      {10, 12, 20, "fmt 16 JUNK10 srtd12 "},
      {0, 5, 14, "fmt 16 srtd5 "},               // absent: appended
  };
  for (const Case& c : cases) {
    std::vector<std::pair<const char*, std::vector<uint8_t>>> chunks;
    if (c.oldSize) chunks.push_back({"srtd", std::vector<uint8_t>(c.oldSize, 0xEE)});
    std::vector<uint8_t> start = RiffOf(chunks);
    std::wstring path = MakeFile(dir, L"replace.wav", start);
    std::vector<uint8_t> data(c.newSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
    DWORD added = 99;
    {
      Handle h(path);
      ASSERT_EQ(S_OK, ProjectLinkRiff_WriteChunk(h, id, data.data(), c.newSize, &added));
    }
    EXPECT_EQ(c.added, added) << c.oldSize << " -> " << c.newSize;
    std::vector<uint8_t> b = ReadAll(path);
    EXPECT_EQ(start.size() + c.added, b.size());
    EXPECT_EQ(b.size() - 8, rifftest::GetU32(b, 4)) << "RIFF size";
    std::string walk;
    size_t dataAt = 0;
    for (const Top& t : Walk(b)) {
      walk += t.id + std::to_string(t.size) + " ";
      if (t.id == "srtd") dataAt = t.offset + 8;
    }
    EXPECT_EQ(c.walk, walk) << c.oldSize << " -> " << c.newSize;
    ASSERT_NE(0u, dataAt);
    EXPECT_EQ(data, std::vector<uint8_t>(b.begin() + dataAt, b.begin() + dataAt + c.newSize));
  }
}

// A Wave64 file: header, a format chunk, then the given chunks.
std::vector<uint8_t> W64Of(const std::vector<std::pair<GUID, std::vector<uint8_t>>>& chunks) {
  std::vector<uint8_t> b;
  auto put = [&](const void* p, size_t n) { b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n); };
  auto chunk = [&](const GUID& g, const std::vector<uint8_t>& d) {
    uint64_t size = 24 + d.size();
    put(&g, 16);
    put(&size, 8);
    put(d.data(), d.size());
    while (b.size() % 8) b.push_back(0);
  };
  uint64_t zero = 0;
  put(&KVRIFF64_RIFF, 16);
  put(&zero, 8);
  put(&KVRIFF64_WAVE, 16);
  chunk(KVRIFF64_FMT, std::vector<uint8_t>(16, 1));
  for (auto& c : chunks) chunk(c.first, c.second);
  uint64_t total = b.size();
  memcpy(&b[16], &total, 8);
  return b;
}

TEST(LinkStorage, Wave64LoaderRulesAndReplacement) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::vector<std::pair<GUID, std::vector<uint8_t>>> chunks;
    HRESULT hr;
    int loaded;
  };
  const Case cases[] = {
      {"no version", {{KVLINK64_PROJECTPATH, W(L"a.prj")}, {KVLINK64_COMMANDLINE, W(L"c")}}, kMissing, 0},
      {"no project path", {{KVLINK64_VERSION, U32v(0x01000100)}, {KVLINK64_COMMANDLINE, W(L"c")}}, kMissing, 0},
      {"no command line", {{KVLINK64_VERSION, U32v(0x01000100)}, {KVLINK64_PROJECTPATH, W(L"a")}}, kMissing, 0},
      {"version 2", {{KVLINK64_VERSION, U32v(0x02000000)}}, kVersion, 0},
      {"minimal", {{KVLINK64_COMMANDLINE, W(L"")}, {KVLINK64_VERSION, U32v(0x01000100)},
                   {KVLINK64_PROJECTPATH, W(L"ab", false)}}, S_OK, 1},
      {"path larger than the file", {{KVLINK64_VERSION, U32v(0x01000100)}}, kShort, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = W64Of(c.chunks);
    if (std::string(c.name) == "path larger than the file") {
      // A path chunk whose size runs far past the end of the file.
      uint64_t size = 0x7FFFFFF0u;
      bytes.insert(bytes.end(), reinterpret_cast<const uint8_t*>(&KVLINK64_PROJECTPATH),
                   reinterpret_cast<const uint8_t*>(&KVLINK64_PROJECTPATH) + 16);
      bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(&size), reinterpret_cast<uint8_t*>(&size) + 8);
      bytes.insert(bytes.end(), 8, 0x41);
      uint64_t total = bytes.size();
      memcpy(&bytes[16], &total, 8);
    }
    std::wstring path = MakeFile(dir, L"rules.w64", bytes);
    CKvLinkProjectInfo r;
    int loaded = -1;
    EXPECT_EQ(c.hr, LoadFile(path, r, &loaded, true)) << c.name;
    EXPECT_EQ(c.loaded, loaded) << c.name;
    if (SUCCEEDED(c.hr)) {
      EXPECT_STREQ(L"ab", r.GetProjectPath()) << c.name;
    } else {
      EXPECT_EQ(nullptr, r.GetProjectPath()) << c.name;
    }
  }
  // Replacement: in place when the rounded sizes match or a filler chunk
  // fits, else the old chunk loses its id and the new one is appended.
  struct Rep {
    size_t oldSize, newSize;
    uint64_t added;
  };
  const Rep reps[] = {{16, 13, 0}, {40, 8, 0}, {16, 8, 32}, {8, 20, 48}};
  for (const Rep& rp : reps) {
    std::vector<uint8_t> start = W64Of({{KVLINK64_TEMPLATEDATA, std::vector<uint8_t>(rp.oldSize, 0xEE)}});
    std::wstring path = MakeFile(dir, L"replace.w64", start);
    std::vector<uint8_t> data(rp.newSize, 0x5A);
    uint64_t added = 99;
    {
      Handle h(path);
      ASSERT_EQ(S_OK, ProjectLinkRiff64_WriteChunk(h, &KVLINK64_TEMPLATEDATA, data.data(), rp.newSize, &added));
    }
    EXPECT_EQ(rp.added, added) << rp.oldSize << " -> " << rp.newSize;
    std::vector<uint8_t> b = ReadAll(path);
    EXPECT_EQ(start.size() + rp.added, b.size());
    uint64_t riffSize = 0;
    memcpy(&riffSize, &b[16], 8);
    EXPECT_EQ(b.size(), riffSize);
    // Walk: exactly one template-data chunk, of the new size, and every
    // chunk ends on the file's end.
    size_t p = 40, found = 0;
    while (p + 24 <= b.size()) {
      uint64_t size = 0;
      memcpy(&size, &b[p + 16], 8);
      ASSERT_GE(size, 24u);
      if (memcmp(&b[p], &KVLINK64_TEMPLATEDATA, 16) == 0) {
        ++found;
        EXPECT_EQ(rp.newSize + 24, size);
        EXPECT_EQ(data, std::vector<uint8_t>(b.begin() + p + 24, b.begin() + p + 24 + rp.newSize));
      }
      p += (size + 7) & ~uint64_t(7);
    }
    EXPECT_EQ(b.size(), p);
    EXPECT_EQ(1u, found);
  }
}

// ---- a reader's project-link faces ----

IStream* StreamOf(const std::vector<uint8_t>& bytes) {
  IStream* s = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &s);
  ULONG put = 0;
  if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &put);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  return s;
}

// A reader object with the project-link faces; fields absent from the map
// answer 0x8004E00A.
class FakeMeta : public IKvReadMeta, public IKvReadProjectLinkMeta, public IKvReadProjectLinkMetaEx {
 public:
  std::map<int, std::vector<uint8_t>> fields;  // by field id; 0 is the version
  std::map<int, HRESULT> failures;
  bool hasLink = true, hasEx = true;
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    IKvReadMeta* primary = this;
    IKvReadProjectLinkMeta* link = this;
    IKvReadProjectLinkMetaEx* ex = this;
    return kvcom::QueryFaces(this, riid, ppv,
                             {{IID_IUnknown, primary},
                              {IID_IKvReadMeta, primary},
                              {IID_IKvReadProjectLinkMeta, hasLink ? link : nullptr},
                              {IID_IKvReadProjectLinkMetaEx, hasEx ? ex : nullptr}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT, wchar_t*, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream**) override { return E_NOTIMPL; }
  HRESULT Field(int id, IStream** out) {
    *out = nullptr;
    if (failures.count(id)) return failures[id];
    if (!fields.count(id)) return kAbsent;
    *out = StreamOf(fields[id]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetProjectPath(IStream** s) override { return Field(1, s); }
  HRESULT STDMETHODCALLTYPE GetCommandLine(IStream** s) override { return Field(2, s); }
  HRESULT STDMETHODCALLTYPE GetRendererGuid(IStream** s) override { return Field(3, s); }
  HRESULT STDMETHODCALLTYPE GetTemplateName(IStream** s) override { return Field(4, s); }
  HRESULT STDMETHODCALLTYPE GetTemplateData(IStream** s) override { return Field(5, s); }
  HRESULT STDMETHODCALLTYPE GetAppTemplateData(IStream** s) override { return Field(6, s); }
  HRESULT STDMETHODCALLTYPE GetProjectData(IStream** s) override { return Field(7, s); }
  HRESULT STDMETHODCALLTYPE GetCreatorAppInfo(IStream** s) override { return Field(8, s); }
  HRESULT STDMETHODCALLTYPE GetCreatorAppWindowClassName(IStream** s) override { return Field(9, s); }
  HRESULT STDMETHODCALLTYPE GetField(IStream** s, UINT id) override { return Field(static_cast<int>(id), s); }
};

// The bytes a record's stream writer produces.
std::vector<uint8_t> Capture(HRESULT (CKvLinkProjectInfo::*w)(IStream*), CKvLinkProjectInfo& r) {
  IStream* s = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &s);
  (r.*w)(s);
  STATSTG st;
  s->Stat(&st, STATFLAG_NONAME);
  std::vector<uint8_t> b(static_cast<size_t>(st.cbSize.QuadPart));
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!b.empty()) s->Read(b.data(), static_cast<ULONG>(b.size()), &got);
  s->Release();
  return b;
}

// A reader that offers every field of the record.
void FillMeta(FakeMeta& meta, CKvLinkProjectInfo& src) {
  meta.fields[1] = Capture(&CKvLinkProjectInfo::WriteProjectPathToStream, src);
  meta.fields[2] = Capture(&CKvLinkProjectInfo::WriteCommandLineToStream, src);
  meta.fields[3] = Capture(&CKvLinkProjectInfo::WriteRendererGuidToStream, src);
  meta.fields[4] = Capture(&CKvLinkProjectInfo::WriteTemplateNameToStream, src);
  meta.fields[5] = Capture(&CKvLinkProjectInfo::WriteTemplateDataToStream, src);
  meta.fields[6] = Capture(&CKvLinkProjectInfo::WriteAppTemplateDataToStream, src);
  meta.fields[7] = Capture(&CKvLinkProjectInfo::WriteProjectDataToStream, src);
  meta.fields[8] = Capture(&CKvLinkProjectInfo::WriteCreatorAppInfoToStream, src);
  meta.fields[9] = Capture(&CKvLinkProjectInfo::WriteCreatorAppWindowClassNameToStream, src);
  meta.fields[0] = Capture(&CKvLinkProjectInfo::WriteVersionToStream, src);
}

TEST(LinkStorage, ReaderFacesCopyFieldByField) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    // Every field present, from a record's own stream writers.
    CKvLinkProjectInfo src;
    Fill(src);
    FakeMeta meta;
    FillMeta(meta, src);
    CKvLinkProjectInfo r;
    int loaded = 0;
    EXPECT_EQ(S_OK, ProjectLinkReadMeta_LoadInfo(&meta, &r, &loaded));
    EXPECT_EQ(1, loaded);
    EXPECT_EQ(Fields(src), Fields(r));
    EXPECT_EQ(7u, r.GetVersion()) << "the reader's own version field";
    EXPECT_EQ(1, meta.refs) << "every face released";
  }
  {
    // Every field absent.
    FakeMeta meta;
    CKvLinkProjectInfo r;
    IKvReadProjectLinkMeta* link = &meta;
    EXPECT_EQ(S_FALSE, ProjectLinkReadMeta_LoadInfoFrom(&meta, link, &r));
    CKvLinkProjectInfo r2;
    int loaded = -1;
    EXPECT_EQ(kInvalid, ProjectLinkReadMeta_LoadInfo(&meta, &r2, &loaded));
    EXPECT_EQ(0, loaded);
    EXPECT_EQ(0x01000100u, r2.GetVersion()) << "the default version";
  }
  {
    // A 15-byte GUID is not taken; a text stream without a terminator reads terminated.
    FakeMeta meta;
    meta.hasEx = false;
    meta.fields[1] = W(L"path", false);
    meta.fields[2] = W(L"cmd");
    meta.fields[3] = std::vector<uint8_t>(15, 0x11);
    CKvLinkProjectInfo r;
    int loaded = 0;
    EXPECT_EQ(S_OK, ProjectLinkReadMeta_LoadInfo(&meta, &r, &loaded));
    EXPECT_EQ(S_FALSE, r.WriteRendererGuidToStream(nullptr));
    EXPECT_STREQ(L"path", r.GetProjectPath());
    EXPECT_EQ(8u, r.GetProjectPathSize());
  }
  {
    // A field that fails otherwise ends the copy with that failure.
    FakeMeta meta;
    meta.fields[1] = W(L"p");
    meta.fields[2] = W(L"c");
    meta.failures[4] = E_ACCESSDENIED;
    meta.fields[5] = {1, 2, 3};
    CKvLinkProjectInfo r;
    EXPECT_EQ(E_ACCESSDENIED, ProjectLinkReadMeta_LoadInfoFrom(&meta, &meta, &r));
    EXPECT_EQ(nullptr, r.GetTemplateData()) << "fields after the failure are not read";
  }
  {
    FakeMeta meta;
    meta.hasLink = false;
    CKvLinkProjectInfo r;
    int loaded = -1;
    EXPECT_EQ(E_NOINTERFACE, ProjectLinkReadMeta_LoadInfo(&meta, &r, &loaded));
    EXPECT_EQ(0, loaded);
    EXPECT_EQ(E_INVALIDARG, ProjectLinkReadMeta_LoadInfo(nullptr, &r, &loaded));
  }
  CoUninitialize();
}

bool Exists(const std::wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(LinkStorage, ReaderLinksSavedIntoMediaAndSidecarFiles) {
  if (!HaveFixtures()) VOG_TOOL_MISSING("ffmpeg") << "fixtures missing";
  ScratchDir dir;
  CKvLinkProjectInfo src;
  Fill(src);
  FakeMeta meta;
  FillMeta(meta, src);
  {
    // Into the media file itself, RIFF and Wave64.
    std::wstring wav = CopyToWritten("plain.wav", "readmeta_link.wav");
    std::wstring w64 = CopyToWritten("plain.w64", "readmeta_link.w64");
    EXPECT_EQ(S_OK, ProjectLinkRiff_SaveFromReadMeta(wav.c_str(), &meta, FALSE));
    EXPECT_EQ(S_OK, ProjectLinkRiff64_SaveFromReadMeta(w64.c_str(), &meta));
    for (bool is64 : {false, true}) {
      CKvLinkProjectInfo back;
      int loaded = 0;
      ASSERT_EQ(S_OK, LoadFile(is64 ? w64 : wav, back, &loaded, is64));
      EXPECT_EQ(Fields(src), Fields(back));
    }
  }
  {
    // A missing media file is an error and is not created.
    std::wstring missing = dir.Path(L"missing.wav");
    EXPECT_NE(S_OK, ProjectLinkRiff_SaveFromReadMeta(missing.c_str(), &meta, FALSE));
    EXPECT_NE(S_OK, ProjectLinkRiff64_SaveFromReadMeta(missing.c_str(), &meta));
    EXPECT_FALSE(Exists(missing));
  }
  {
    // A new sidecar: "KVPL" with "KVPI" naming the media file, then the link.
    std::wstring media = dir.Path(L"song.wav");
    std::wstring side = dir.Path(L"song.wav.kvl");
    CopyFileW(FixturePath("metariff/plain.wav").c_str(), media.c_str(), FALSE);
    EXPECT_EQ(S_OK, ProjectLinkRiff_SaveFromReadMeta(media.c_str(), &meta, TRUE));
    std::vector<uint8_t> b = ReadAll(side);
    ASSERT_GT(b.size(), 24u);
    EXPECT_EQ(0, memcmp(b.data() + 8, "KVPLKVPI", 8));
    EXPECT_EQ(9u, rifftest::GetU32(b, 16));
    EXPECT_EQ(0, memcmp(b.data() + 20, "song.wav", 9));
    CKvLinkProjectInfo back;
    int loaded = 0;
    ASSERT_EQ(S_OK, LoadFile(side, back, &loaded, false));
    EXPECT_EQ(Fields(src), Fields(back));
    // Saved again into the existing sidecar: the same file.
    EXPECT_EQ(S_OK, ProjectLinkRiff_SaveFromReadMeta(media.c_str(), &meta, TRUE));
    EXPECT_EQ(b, ReadAll(side));
    DeleteFileW(side.c_str());
    // A reader without any field leaves no sidecar behind.
    FakeMeta empty;
    EXPECT_EQ(S_OK, ProjectLinkRiff_SaveFromReadMeta(media.c_str(), &empty, TRUE));
    EXPECT_FALSE(Exists(side));
    // No reader, or no project-link face: nothing done.
    FakeMeta noLink;
    noLink.hasLink = false;
    EXPECT_EQ(S_OK, ProjectLinkRiff_SaveFromReadMeta(media.c_str(), &noLink, TRUE));
    EXPECT_EQ(S_OK, ProjectLinkRiff_SaveFromReadMeta(media.c_str(), nullptr, TRUE));
    EXPECT_FALSE(Exists(side));
  }
}

TEST(LinkStorage, StreamReaders) {
  IStream* s = StreamOf({1, 2, 3, 4, 5});
  void* block = nullptr;
  DWORD size = 0;
  EXPECT_EQ(S_OK, ProjectLinkReadMeta_ReadAll(s, &block, &size));
  EXPECT_EQ(5u, size);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0}), Raw(block, 7));
  kvblock::Free(block);
  uint8_t buf[3] = {0};
  EXPECT_EQ(S_OK, ProjectLinkReadMeta_ReadFixed(s, buf, 3, &size));
  EXPECT_EQ(5u, size);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), Raw(buf, 3));
  s->Release();
  IStream* empty = StreamOf({});
  block = reinterpret_cast<void*>(1);
  EXPECT_EQ(S_OK, ProjectLinkReadMeta_ReadAll(empty, &block, &size));
  EXPECT_EQ(nullptr, block);
  EXPECT_EQ(0u, size);
  empty->Release();
  EXPECT_EQ(E_INVALIDARG, ProjectLinkReadMeta_ReadAll(nullptr, &block, &size));
}

}  // namespace
