// The host's private metadata: blob answers, project-link fields and the
// marker conversion in both directions, with damaged inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ffbase_hostmeta.h"
#include "metadataset.h"
#include "metastream.h"

namespace {

using Bytes = std::vector<BYTE>;

void Put32(Bytes& b, DWORD v) { b.insert(b.end(), reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4); }
void Put64(Bytes& b, int64_t v) { b.insert(b.end(), reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 8); }
DWORD Get32(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, 4);
  return v;
}
int64_t Get64(const BYTE* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

IStream* StreamOver(const Bytes& bytes) {
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
  if (!bytes.empty()) std::memcpy(GlobalLock(g), bytes.data(), bytes.size());
  GlobalUnlock(g);
  IStream* s = nullptr;
  CreateStreamOnHGlobal(g, TRUE, &s);
  return s;
}

Bytes ReadAll(IStream* s) {
  Bytes out;
  BYTE buf[4096];
  for (;;) {
    ULONG got = 0;
    HRESULT hr = s->Read(buf, sizeof buf, &got);
    if (hr != S_OK || got == 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

struct LegacyMarker {
  int64_t position;  // 100-ns
  int64_t length;
  DWORD hasLength;
  std::wstring name;
};

Bytes LegacyStream(const std::vector<LegacyMarker>& markers, DWORD count) {
  Bytes b;
  Put32(b, 12);
  Put32(b, 100);
  Put32(b, count);
  for (const auto& m : markers) {
    Put32(b, 28);
    Put64(b, m.position);
    Put64(b, m.length);
    Put32(b, m.hasLength);
    Put32(b, DWORD(m.name.size() * 2));
    const BYTE* n = reinterpret_cast<const BYTE*>(m.name.data());
    b.insert(b.end(), n, n + m.name.size() * 2);
  }
  return b;
}

// Generic marker record: {28, 0, position, length, name bytes} + name.
Bytes GenericRecord(int64_t position, int64_t length, const std::wstring& name, DWORD nameBytesField) {
  Bytes b;
  Put32(b, 28);
  Put32(b, 0);
  Put64(b, position);
  Put64(b, length);
  Put32(b, nameBytesField);
  const BYTE* n = reinterpret_cast<const BYTE*>(name.data());
  b.insert(b.end(), n, n + name.size() * 2);
  return b;
}

// Python: round(t / 1e7 * rate) with halves away from zero.
TEST(HostMarkers, LegacyToGenericScalesAndRounds) {
  struct Case {
    LegacyMarker in;
    DWORD scale, divisor;
    int64_t position, length;
  } cases[] = {
      {{10000000, 0, 0, L"one second"}, 44100, 1, 44100, -1},
      {{5000000, 20000000, 1, L"region"}, 48000, 1, 24000, 96000},
      {{1133, 0, 0, L""}, 44100, 1, 5, -1},          // 4.99653 -> 5
      {{-3628, 0, 0, L"neg"}, 44100, 1, -16, -1},    // -15.99948 -> -16 (half away from zero)
      {{10000000, 10000000, 1, L"d"}, 44100, 2, 22050, 22050},
      {{123456789, 0, 0, L"x"}, 0, 1, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.position);
    IStream* legacy = StreamOver(LegacyStream({c.in}, 1));
    fileutil::MetaMarkerStream out;
    ASSERT_EQ(S_OK, ffbase::LegacyToGenericMarkers(out, legacy, c.scale, c.divisor));
    legacy->Release();
    const DWORD nameBytes = DWORD(c.in.name.size() * 2);
    ASSERT_EQ(28u + 56u + nameBytes, out.GetSize());
    const BYTE* p = out.GetBuffer();
    EXPECT_EQ(28u, Get32(p));
    EXPECT_EQ(100u, Get32(p + 4));
    EXPECT_EQ(1u, Get32(p + 8));
    EXPECT_EQ(0, std::memcmp(p + 12, &ffbase::kHostMarkerKey, 16));
    const BYTE* e = p + 28;
    EXPECT_EQ(28u, Get32(e));
    EXPECT_EQ(0, std::memcmp(e + 8, &ffbase::kHostMarkerKey, 16));
    EXPECT_EQ(28u + nameBytes, Get32(e + 24));
    const BYTE* r = e + 28;
    EXPECT_EQ(c.position, Get64(r + 8));
    EXPECT_EQ(c.length, Get64(r + 16));
    EXPECT_EQ(nameBytes, Get32(r + 24));
    EXPECT_EQ(0, std::memcmp(r + 28, c.in.name.data(), nameBytes));
  }
}

TEST(HostMarkers, GenericToLegacyThroughTheSet) {
  struct Case {
    int64_t position, length;
    DWORD scale, divisor;
    int64_t legacyPosition, legacyLength;
    DWORD flag;
  } cases[] = {
      {44100, -1, 44100, 1, 10000000, 0, 0},
      {24000, 96000, 48000, 1, 5000000, 20000000, 1},
      {1, 1, 44100, 1, 227, 227, 1},  // 226.757 -> 227
      {44100, 5, 0, 1, 0, 0, 1},      // no time scale: every time is 0
      {22050, -1, 44100, 2, 10000000, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    fileutil::MetaDataSet set;
    set.AddEntry(ffbase::kHostMarkerKey, GenericRecord(c.position, c.length, L"m", 2));
    fileutil::MetaLegacyMarkerStream out;
    ASSERT_EQ(S_OK, ffbase::GenericToLegacyMarkers(out, set, c.scale, c.divisor));
    ASSERT_EQ(12u + 28u + 2u, out.GetSize());
    const BYTE* p = out.GetBuffer();
    EXPECT_EQ(12u, Get32(p));
    EXPECT_EQ(100u, Get32(p + 4));
    EXPECT_EQ(1u, Get32(p + 8));
    const BYTE* r = p + 12;
    EXPECT_EQ(28u, Get32(r));
    EXPECT_EQ(c.legacyPosition, Get64(r + 4));
    EXPECT_EQ(c.legacyLength, Get64(r + 12));
    EXPECT_EQ(c.flag, Get32(r + 20));
    EXPECT_EQ(2u, Get32(r + 24));
    EXPECT_EQ(L'm', *reinterpret_cast<const wchar_t*>(r + 28));
  }
}

// Damaged host streams: what was read whole is kept, the rest is dropped.
TEST(HostMarkers, DamagedLegacyStreamsKeepWholeMarkers) {
  const std::vector<LegacyMarker> two = {{10000000, 0, 0, L"a"}, {20000000, 0, 0, L"bb"}};
  Bytes full = LegacyStream(two, 2);
  struct Case {
    const char* what;
    Bytes stream;
    HRESULT hr;
    DWORD count;
  } cases[] = {
      {"count 0", LegacyStream({}, 0), S_OK, 0},
      {"count larger than the records", LegacyStream(two, 5), S_OK, 2},
      {"last name cut", Bytes(full.begin(), full.end() - 1), S_OK, 1},
      {"last record cut", Bytes(full.begin(), full.begin() + 12 + 30 + 10), S_OK, 1},
      {"huge name length", [] {
         Bytes b = LegacyStream({{0, 0, 0, L"z"}}, 1);
         b[12 + 24] = 0xFF; b[12 + 25] = 0xFF; b[12 + 26] = 0xFF; b[12 + 27] = 0x7F;
         return b;
       }(), S_OK, 0},
      {"header cut", Bytes(full.begin(), full.begin() + 8), E_FAIL, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IStream* legacy = StreamOver(c.stream);
    fileutil::MetaMarkerStream out;
    EXPECT_EQ(c.hr, ffbase::LegacyToGenericMarkers(out, legacy, 44100, 1));
    legacy->Release();
    if (c.hr != S_OK) {
      EXPECT_EQ(0u, out.GetSize());
      continue;
    }
    ASSERT_GE(out.GetSize(), 28u);
    EXPECT_EQ(c.count, Get32(out.GetBuffer() + 8));
    // The stream reads back into the set as that many marker entries.
    fileutil::MetaDataSet set;
    set.LoadGenericStream(&out);
    EXPECT_EQ(c.count, set.CountEntries(ffbase::kHostMarkerKey));
  }
  fileutil::MetaMarkerStream out;
  EXPECT_EQ(E_INVALIDARG, ffbase::LegacyToGenericMarkers(out, nullptr, 44100, 1));
}

// Entries from a file whose name lengths lie are skipped, not copied past
// their data.
TEST(HostMarkers, DamagedGenericEntriesAreSkipped) {
  fileutil::MetaDataSet set;
  set.AddEntry(ffbase::kHostMarkerKey, GenericRecord(1, -1, L"ok", 4));
  set.AddEntry(ffbase::kHostMarkerKey, GenericRecord(2, -1, L"ab", 0xFFFFFFF0u));  // length past the data
  set.AddEntry(ffbase::kHostMarkerKey, Bytes(20, 0));                              // record cut
  set.AddEntry(ffbase::kHostMarkerKey, GenericRecord(3, -1, L"abc", 6));
  fileutil::MetaLegacyMarkerStream out;
  ASSERT_EQ(S_OK, ffbase::GenericToLegacyMarkers(out, set, 44100, 1));
  ASSERT_EQ(12u + (28 + 4) + (28 + 6), out.GetSize());
  EXPECT_EQ(2u, Get32(out.GetBuffer() + 8));
  fileutil::MetaDataSet empty;
  fileutil::MetaLegacyMarkerStream none;
  ASSERT_EQ(S_OK, ffbase::GenericToLegacyMarkers(none, empty, 44100, 1));
  EXPECT_EQ(12u, none.GetSize());
}

TEST(HostBlobs, ManagersAnswerByKeyAndSize) {
  fileutil::MetaDataSet set;
  set.AddEntry(ffbase::kHostUserDefRecordKey, Bytes(16, 1));  // wrong size
  set.AddEntry(ffbase::kHostPlimRecordKey, Bytes(24, 2));
  set.AddEntry(ffbase::kHostPlimRecordExKey, Bytes(28, 3));
  set.AddEntry(ffbase::kHostPlimEntryKey, Bytes(32, 4));
  set.AddEntry(ffbase::kHostPlimEntryKey, Bytes(32, 5));
  ffbase::UserDefManager user;
  ffbase::PlimManager plim;
  BYTE buf[28] = {};
  EXPECT_EQ(E_FAIL, user.GetInfo(buf));  // no source yet
  user.SetSource(&set);
  plim.SetSource(&set);
  EXPECT_EQ(E_INVALIDARG, user.GetInfo(nullptr));
  EXPECT_EQ(E_FAIL, user.GetInfo(buf));
  EXPECT_EQ(S_OK, plim.GetInfo(buf));
  EXPECT_EQ(2, buf[23]);
  EXPECT_EQ(S_OK, plim.GetInfoEx(buf));
  EXPECT_EQ(3, buf[27]);
  fileutil::MetaDataSet empty;
  plim.SetSource(&empty);
  EXPECT_EQ(S_FALSE, plim.GetInfo(buf));
  plim.SetSource(&set);
  IStream* s = nullptr;
  ASSERT_EQ(S_OK, plim.GetStream(&s));
  Bytes all = ReadAll(s);
  s->Release();
  EXPECT_GE(all.size(), 64u);
  EXPECT_EQ(E_INVALIDARG, plim.GetStream(nullptr));
}

TEST(HostProjectLink, FieldsComeBackWithoutTheirIds) {
  fileutil::MetaDataSet set;
  const GUID renderer = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  Bytes guidField;
  Put32(guidField, 3);
  guidField.insert(guidField.end(), reinterpret_cast<const BYTE*>(&renderer),
                   reinterpret_cast<const BYTE*>(&renderer) + 16);
  set.AddEntry(ffbase::kHostProjectLinkKey, guidField);
  Bytes idOnly;
  Put32(idOnly, 4);
  set.AddEntry(ffbase::kHostProjectLinkKey, idOnly);
  set.AddEntry(ffbase::kHostProjectLinkKey, Bytes{9, 0});  // too short to hold an id
  Bytes path;
  Put32(path, 1);
  path.insert(path.end(), {'C', 0, ':', 0, 0, 0});
  set.AddEntry(ffbase::kHostProjectLinkKey, path);

  ffbase::ProjectLinkFieldMap map;
  map.LoadFrom(set);
  EXPECT_EQ(3u, map.Fields().size());
  struct Case {
    uint32_t id;
    HRESULT hr;
    Bytes bytes;
  } cases[] = {
      {3, S_OK, Bytes(guidField.begin() + 4, guidField.end())},
      {1, S_OK, Bytes{'C', 0, ':', 0, 0, 0}},
      {4, HRESULT(0x8004E00A), {}},  // the id alone
      {2, HRESULT(0x8004E00A), {}},  // absent
      {9, HRESULT(0x8004E00A), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    IStream* s = reinterpret_cast<IStream*>(1);
    ASSERT_EQ(c.hr, map.GetFieldStream(&s, c.id));
    if (c.hr != S_OK) {
      EXPECT_EQ(nullptr, s);
      continue;
    }
    EXPECT_EQ(c.bytes, ReadAll(s));
    s->Release();
  }
  EXPECT_EQ(E_INVALIDARG, map.GetFieldStream(nullptr, 1));
  // Stored again, the fields come back in ascending id.
  fileutil::MetaDataSet again;
  map.AddTo(again);
  EXPECT_EQ(3u, again.CountEntries(ffbase::kHostProjectLinkKey));
  ffbase::ProjectLinkFieldMap reread;
  reread.LoadFrom(again);
  EXPECT_TRUE(reread.Fields() == map.Fields());
}

}  // namespace
