// Damaged input at random and at page ends: buffers placed right before an
// inaccessible page show that no read passes their end, and randomly
// corrupted files (sizes, ids, lengths) only ever give a result from the
// known set, never a crash or a hang.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <set>
#include <vector>

#include "kvlinkstorage.h"
#include "kvriff.h"
#include "kvsummary.h"
#include "metariff_test_util.h"

using namespace metariff;

namespace {

// size bytes that end exactly where an inaccessible page starts.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    size_t page = si.dwPageSize;
    size_t span = (bytes.size() + page - 1) / page * page;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + span, page, PAGE_NOACCESS, &old);
    data_ = base_ + span - bytes.size();
    if (!bytes.empty()) memcpy(data_, bytes.data(), bytes.size());
  }
  ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
  uint8_t* data() { return data_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
};

TEST(HostileInput, RecordReadsStopAtTheBufferEnd) {
  // Project-data lists whose items or sizes point past the buffer.
  const std::vector<std::vector<uint8_t>> lists = {
      Bytes().Tag("LIST").U32(16).Tag("spel").Tag("aaaa").U32(0x100).U32(0).b,
      Bytes().Tag("LIST").U32(0xFFFFFFFFu).Tag("spel").Tag("bbbb").U32(2).U32(0).b,
      Bytes().Tag("LIST").U32(12).Tag("spel").Tag("bbbb").U32(0).b,
      Bytes().Tag("LIST").U32(4).Tag("spel").b,
      Bytes().Tag("LIST").U32(4).Tag("sp\0\0").b,
  };
  for (const auto& l : lists) {
    GuardedBytes g(l);
    CKvLinkProjectInfo r;
    r.SetProjectDataToBuffer(g.data(), static_cast<DWORD>(l.size()));
    DWORD size = 0;
    char buf[8];
    HRESULT hr = r.GetProjectData(KVRIFF_FOURCC('a', 'a', 'a', 'a'), nullptr, &size);
    EXPECT_TRUE(FAILED(hr) || size <= l.size());
    size = sizeof(buf);
    r.GetProjectData(KVRIFF_FOURCC('a', 'a', 'a', 'a'), buf, &size);
    r.Init();  // the guarded block is not the record's to free
  }
}

// Corrupts n random bytes of the range [from, to) of a copy of b.
std::vector<uint8_t> Corrupt(std::vector<uint8_t> b, size_t from, size_t to, int n, std::mt19937& rng) {
  for (int i = 0; i < n; ++i) {
    size_t at = from + rng() % (to - from);
    switch (rng() % 3) {
      case 0: b[at] = static_cast<uint8_t>(rng()); break;
      case 1: b[at] = 0xFF; break;
      default: b[at] = 0; break;
    }
  }
  if (rng() % 4 == 0) b.resize(from + rng() % (b.size() - from));  // cut short
  return b;
}

TEST(HostileInput, RandomlyDamagedLinkFilesAndListsEndCleanly) {
  ScratchDir dir;
  // A RIFF file holding a full link and an INFO list.
  std::wstring path = MakeFile(dir, L"seed.wav", Bytes().Tag("RIFF").U32(4).Tag("WAVE").b);
  size_t listAt = 0;
  {
    Handle h(path);
    CKvLinkProjectInfo r;
    r.SetProjectPath(L"C:\\p\\x.prj");
    r.SetCommandLine(L"x.exe");
    r.SetTemplateName(L"tpl");
    r.SetTemplateData("abcdefg", 7);
    r.SetAppTemplateData("z", 1);
    r.SetProjectData(KVRIFF_FOURCC('i', 't', 'e', 'm'), "12345", 5);
    ASSERT_EQ(S_OK, ProjectLinkRiff_SaveInfo(h, &r));
    KvSummary s{0, nullptr};
    KvSummary_SetItem(&s, KVRIFF_FOURCC('I', 'N', 'A', 'M'), L"title");
    KvSummary_SetItem(&s, KVRIFF_FOURCC('I', 'A', 'R', 'T'), L"odd");
    listAt = static_cast<size_t>(h.Length());
    h.SetPos(listAt);
    DWORD written = 0;
    ASSERT_EQ(S_OK, KvSummary_Save(h, &s, &written));
    riff_UpdateRIFFSize(h, written);
    KvSummary_Free(&s);
  }
  std::vector<uint8_t> seed = ReadAll(path);
  const std::set<HRESULT> known = {S_OK,
                                   static_cast<HRESULT>(0x8004E008),
                                   static_cast<HRESULT>(0x8004E00A),
                                   static_cast<HRESULT>(0x8004E00B),
                                   static_cast<HRESULT>(0x8004E01C),
                                   static_cast<HRESULT>(0x8004E080),
                                   static_cast<HRESULT>(0x8004E081),
                                   static_cast<HRESULT>(0x8004E083),
                                   E_OUTOFMEMORY};
  std::mt19937 rng(20261210);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> b = Corrupt(seed, 4, seed.size(), 1 + static_cast<int>(rng() % 4), rng);
    std::wstring p = MakeFile(dir, L"damaged.wav", b);
    Handle h(p, false);
    CKvLinkProjectInfo r;
    int loaded = 0;
    HRESULT hr = ProjectLinkRiff_LoadInfo(h, &r, &loaded);
    EXPECT_TRUE(known.count(hr)) << "round " << round << " link: " << std::hex << hr;
    if (r.GetProjectPath()) {
      EXPECT_LT(wcslen(r.GetProjectPath()) * 2, r.GetProjectPathSize() + 2u);
    }
    DWORD size = 0;
    r.GetProjectData(KVRIFF_FOURCC('i', 't', 'e', 'm'), nullptr, &size);
    // The list: from where the seed had it, with the bytes left as its bound.
    if (b.size() > listAt + 12) {
      h.SetPos(listAt + 12);
      DWORD listBytes = static_cast<DWORD>(rng() % 2 ? b.size() - listAt - 12 : rifftest::GetU32(b, listAt + 4));
      KvSummary s{0, nullptr};
      hr = KvSummary_Load(h, &s, &listBytes);
      EXPECT_TRUE(known.count(hr)) << "round " << round << " list: " << std::hex << hr;
      for (DWORD i = 0; i < s.count; ++i) EXPECT_NE(nullptr, s.items[i].text);
      KvSummary_Free(&s);
      h.SetPos(0);
      wchar_t text[32];
      hr = KvSummary_GetStringFromFile(h, KVRIFF_FOURCC('I', 'A', 'R', 'T'), text, 32,
                                       static_cast<DWORD>(b.size()));
      EXPECT_TRUE(known.count(hr)) << "round " << round << " text: " << std::hex << hr;
      EXPECT_EQ(0u, h.Pos());
    }
  }
}

}  // namespace
