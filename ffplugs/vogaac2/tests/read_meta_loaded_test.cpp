// The metadata reader of an opened file: tags written by the library's 3GPP,
// ID3v2 and iTunes writers (and by AtomicParsley when its fixture is there)
// come back through the summary and generic faces of the DLL's reader, the
// 3GPP text first, then the ID3v2 text, then the iTunes item.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "boxreader.h"
#include "meta3gpp.h"
#include "metadataset.h"
#include "metafactories.h"
#include "metaid3.h"
#include "metaitunes.h"
#include "read_support.h"
#include "rewrite.h"
#include "vog_tools.h"

namespace {

const HRESULT kAbsent = static_cast<HRESULT>(0x8004E00A);
const GUID kHostGuid = {0x0badc0de, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kProjectLinkGuid = {0x2a33d899, 0x550b, 0x468c, {0x9c, 0x47, 0x3c, 0xe3, 0x90, 0x0d, 0x87, 0x34}};

UINT Id(const char (&s)[5]) { return fileutil::FCC(s); }

std::wstring TempCopy(const std::wstring& source, const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + name;
  if (!CopyFileW(source.c_str(), path.c_str(), FALSE)) return std::wstring();
  return path;
}

// Writes tags into the file with the library linked into this test (its own factories).
bool WriteTags(const std::wstring& path) {
  InitMetaFactories();
  fileutil::MetaDataSet itunes, assets, id3;
  itunes.SetSummaryText(Id("INAM"), L"iTunes title");
  itunes.SetSummaryText(Id("IKEY"), L"key words");
  assets.SetSummaryText(Id("INAM"), L"3GPP title");
  assets.SetSummaryText(Id("ISRC"), L"Album");
  assets.SetSummaryText(Id("TRCK"), L"5");
  id3.SetSummaryText(Id("INAM"), L"ID3 title");
  id3.SetSummaryText(Id("TCOM"), L"Composer");
  id3.AddPicture(L"image/png", reinterpret_cast<const uint8_t*>("PNGDATA"), 7, 3);
  id3.AddEntry(kHostGuid, {1, 2, 3});
  id3.AddEntry(kHostGuid, {4, 5});
  id3.AddEntry(kProjectLinkGuid, {9, 9, 9, 9, 9});
  bool ok = false;
  fileutil::BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(path.c_str());
    boxes = reader.ReadBoxesForMetaWrite();
  }
  if (boxes) {
    ok = fileutil::PutiTunesMetaData(itunes, *boxes).Apply() && fileutil::Put3gppMetaData(assets, *boxes).Apply() &&
         fileutil::PutId3v2MetaData(id3, *boxes).Apply() && SUCCEEDED(fileutil::RewriteBoxFile(path.c_str(), *boxes));
    fileutil::DeleteBoxList(boxes);
  }
  TermMetaFactories();
  return ok;
}

std::wstring Text(IKvReadMeta* meta, UINT key) {
  wchar_t buf[256] = L"?";
  HRESULT hr = meta->GetSummaryText(key, buf, 256);
  return hr == S_OK ? std::wstring(buf) : L"<" + std::to_wstring(hr) + L">";
}

std::vector<BYTE> StreamBytes(IStream* stream) {
  std::vector<BYTE> out;
  BYTE block[512];
  ULONG got = 0;
  while (stream->Read(block, sizeof block, &got) == S_OK && got > 0) out.insert(out.end(), block, block + got);
  return out;
}

DWORD Le32(const std::vector<BYTE>& b, size_t at) {
  DWORD v = 0;
  std::memcpy(&v, &b[at], 4);
  return v;
}

class LoadedReadMeta : public ::testing::Test {
 protected:
  IKvReadMeta* Open(const std::wstring& path) {
    IKvReadFile* file = nullptr;
    EXPECT_EQ(reader_.OpenFile(path, &file), S_OK);
    if (!file) return nullptr;
    IKvReadMeta* meta = nullptr;
    EXPECT_EQ(file->GetReadMeta(&meta), S_OK);
    file->Release();
    return meta;
  }
  Reader reader_;
};

TEST_F(LoadedReadMeta, TagsOfTheThreeFormsInReadingOrder) {
  std::wstring path = TempCopy(WinePath(ReadFixtureDir() + "sine_1s.m4a"), L"vog_readmeta_tags.m4a");
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(WriteTags(path));
  IKvReadMeta* meta = Open(path);
  ASSERT_NE(meta, nullptr);

  EXPECT_EQ(Text(meta, Id("INAM")), L"3GPP title");  // 3GPP before ID3v2 before iTunes
  EXPECT_EQ(Text(meta, Id("ISRC")), L"Album");
  EXPECT_EQ(Text(meta, Id("TRCK")), L"5");
  EXPECT_EQ(Text(meta, Id("TCOM")), L"Composer");   // only in the ID3v2 tag
  EXPECT_EQ(Text(meta, Id("IKEY")), L"key words");  // only in the item list
  wchar_t small[4] = L"xyz";
  EXPECT_EQ(meta->GetSummaryText(Id("INAM"), small, 4), S_OK);
  EXPECT_EQ(std::wstring(small), L"3GP");
  wchar_t untouched[2] = L"u";
  EXPECT_EQ(meta->GetSummaryText(Id("INAM"), untouched, 0), S_OK);
  EXPECT_EQ(untouched[0], L'u');
  wchar_t absent[4] = L"abc";
  EXPECT_EQ(meta->GetSummaryText(Id("ICOP"), absent, 4), kAbsent);
  EXPECT_EQ(absent[0], 0);

  // The summary stream: header {12, 100, count}, then {12, id, bytes} + UTF-16 text + NUL per text.
  IStream* summary = nullptr;
  ASSERT_EQ(meta->GetSummaryStream(&summary), S_OK);
  std::vector<BYTE> s = StreamBytes(summary);
  summary->Release();
  ASSERT_GE(s.size(), 12u);
  EXPECT_EQ(Le32(s, 0), 12u);
  EXPECT_EQ(Le32(s, 4), 100u);
  std::map<DWORD, std::wstring> texts;
  size_t at = 12;
  for (DWORD i = 0; i < Le32(s, 8) && at + 12 <= s.size(); ++i) {
    DWORD bytes = Le32(s, at + 8);
    ASSERT_LE(at + 12 + bytes, s.size());
    texts[Le32(s, at + 4)] = std::wstring(reinterpret_cast<const wchar_t*>(&s[at + 12]), bytes / 2 - 1);
    at += 12 + bytes;
  }
  EXPECT_EQ(at, s.size());
  EXPECT_EQ(texts[Id("INAM")], L"3GPP title");
  EXPECT_EQ(texts[Id("TCOM")], L"Composer");

  // The generic face: the picture as a picture block, the host's record with
  // both its entries in one stream; the project link has a face of its own.
  IKvReadGenericMeta* generic = nullptr;
  ASSERT_EQ(meta->QueryInterface(IID_IKvReadGenericMeta, reinterpret_cast<void**>(&generic)), S_OK);
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(generic->Reset(), S_OK);
    std::map<std::string, DWORD> seen;  // GUID bytes -> entry count
    IStream* stream = nullptr;
    HRESULT hr;
    while ((hr = generic->Next(&stream)) == S_OK) {
      std::vector<BYTE> g = StreamBytes(stream);
      stream->Release();
      ASSERT_GE(g.size(), 28u);
      EXPECT_EQ(Le32(g, 0), 28u);
      std::string key(reinterpret_cast<const char*>(&g[12]), 16);
      EXPECT_EQ(seen.count(key), 0u) << "a GUID handed out twice";
      seen[key] = Le32(g, 8);
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[std::string(reinterpret_cast<const char*>(&kHostGuid), 16)], 2u);
    EXPECT_EQ(seen[std::string(reinterpret_cast<const char*>(&fileutil::kPictureEntryGuid), 16)], 1u);
    EXPECT_EQ(seen.count(std::string(reinterpret_cast<const char*>(&kProjectLinkGuid), 16)), 0u);
  }
  generic->Release();
  EXPECT_EQ(meta->Release(), 0u);
  DeleteFileW(path.c_str());
}

TEST_F(LoadedReadMeta, FileWithoutTags) {
  IKvReadMeta* meta = Open(WinePath(ReadFixtureDir() + "sine_1s.m4a"));
  ASSERT_NE(meta, nullptr);
  wchar_t buf[8] = L"x";
  EXPECT_EQ(meta->GetSummaryText(Id("INAM"), buf, 8), kAbsent);
  EXPECT_EQ(buf[0], 0);
  IKvReadGenericMeta* generic = nullptr;
  ASSERT_EQ(meta->QueryInterface(IID_IKvReadGenericMeta, reinterpret_cast<void**>(&generic)), S_OK);
  EXPECT_EQ(generic->Reset(), S_OK);
  IStream* stream = nullptr;
  EXPECT_EQ(generic->Next(&stream), S_FALSE);
  generic->Release();
  meta->Release();
}

// Items written by AtomicParsley (made by the metadata area's fixtures when they ran first).
TEST_F(LoadedReadMeta, ItemsWrittenByAtomicParsley) {
  std::string fixture = std::string(VOG_FIXTURE_DIR) + "/id3/ap_items.m4a";
  if (GetFileAttributesW(WinePath(fixture).c_str()) == INVALID_FILE_ATTRIBUTES) VOG_TOOL_MISSING("ffmpeg/AtomicParsley") << "no " << fixture;
  IKvReadMeta* meta = Open(WinePath(fixture));
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(Text(meta, Id("INAM")), L"AP t\u00eftle");
  EXPECT_EQ(Text(meta, Id("IART")), L"AP artist");
  EXPECT_EQ(Text(meta, Id("TRCK")), L"9");
  EXPECT_EQ(Text(meta, Id("IGNR")), L"Reggae");
  meta->Release();
}

}  // namespace
