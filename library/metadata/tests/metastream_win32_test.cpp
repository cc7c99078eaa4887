// The metadata COM streams (read, seek and the result codes hosts rely on),
// the set's loaders over real COM streams, and the exported picture and SMFMF
// block functions, also as the DLL exports them.
#include <windows.h>
#include <objidl.h>

#include "kvmetablocks.h"
#include "metablocks.h"
#include "metastream.h"
#include "metatest_util.h"
#include "summaryids.h"
#include "vog_exports.h"

using namespace fileutil;

namespace {

const GUID kGuidA = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}};

LARGE_INTEGER Move(LONGLONG v) {
  LARGE_INTEGER li;
  li.QuadPart = v;
  return li;
}

TEST(MetaStream, ReadsToTheEndThenAnswers38AndSeeksWithinItsData) {
  MetaDataSet set;
  set.SetSummaryText(kSummaryTitle, L"abc");
  MetaSummaryStream* stream = new MetaSummaryStream();
  ASSERT_EQ(stream->FillFromSummary(set), S_OK);
  ASSERT_EQ(stream->GetSize(), 12u + 12 + 8);

  BYTE buffer[64];
  ULONG got = 0;
  ASSERT_EQ(stream->Read(buffer, 10, &got), S_OK);
  EXPECT_EQ(got, 10u);
  ASSERT_EQ(stream->Read(buffer, sizeof(buffer), &got), S_OK);
  EXPECT_EQ(got, 22u);
  got = 12345;
  EXPECT_EQ(stream->Read(buffer, sizeof(buffer), &got), HRESULT(38));
  EXPECT_EQ(got, 12345u);
  EXPECT_EQ(stream->Read(nullptr, 4, &got), E_FAIL);
  EXPECT_EQ(stream->Read(buffer, 4, nullptr), E_FAIL);

  ULARGE_INTEGER at;
  ASSERT_EQ(stream->Seek(Move(0), STREAM_SEEK_SET, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 0u);
  ASSERT_EQ(stream->Read(buffer, 4, &got), S_OK);
  EXPECT_EQ(buffer[0], 12);
  ASSERT_EQ(stream->Seek(Move(0), STREAM_SEEK_END, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 32u);
  ASSERT_EQ(stream->Seek(Move(-4), STREAM_SEEK_END, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 28u);
  ASSERT_EQ(stream->Seek(Move(2), STREAM_SEEK_CUR, nullptr), S_OK);
  ASSERT_EQ(stream->Read(buffer, 8, &got), S_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(stream->Seek(Move(33), STREAM_SEEK_SET, &at), E_FAIL);
  EXPECT_EQ(stream->Read(buffer, 8, &got), HRESULT(38));
  EXPECT_EQ(stream->Seek(Move(0), 3, &at), E_FAIL);

  EXPECT_EQ(stream->Write(buffer, 1, &got), E_NOTIMPL);
  STATSTG stat;
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), E_NOTIMPL);
  IStream* clone = nullptr;
  EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);

  void* face = nullptr;
  EXPECT_EQ(stream->QueryInterface(IID_IStream, &face), S_OK);
  EXPECT_EQ(face, static_cast<IStream*>(stream));
  EXPECT_EQ(stream->QueryInterface(IID_IUnknown, &face), S_OK);
  EXPECT_EQ(stream->QueryInterface(IID_ISequentialStream, &face), E_NOINTERFACE);
  EXPECT_EQ(face, nullptr);
  EXPECT_EQ(stream->Release(), 2u);
  EXPECT_EQ(stream->Release(), 1u);
  EXPECT_EQ(stream->Release(), 0u);
}

TEST(MetaStream, StreamsLoadBackIntoASet) {
  MetaDataSet set;
  set.SetSummaryText(kSummaryArtist, L"Band");
  set.SetSummaryText(kSummaryTitle, L"");
  set.AddEntry(kGuidA, ByteVector({1, 2, 3}));
  set.AddEntry(kGuidA, ByteVector());
  MetaSummaryStream* summary = new MetaSummaryStream();
  MetaGenericStream* generic = new MetaGenericStream();
  MetaEntryStream* entry = new MetaEntryStream();
  ASSERT_EQ(summary->FillFromSummary(set), S_OK);
  ASSERT_EQ(generic->FillFromEntries(set, kGuidA), S_OK);
  EXPECT_EQ(entry->FillFromEntry(nullptr, kGuidA), E_INVALIDARG);
  ASSERT_EQ(entry->FillFromEntry(&set, kGuidA), S_OK);
  EXPECT_EQ(entry->GetSize(), 12u + 3);

  MetaDataSet back;
  back.LoadSummaryStream(summary);
  back.LoadGenericStream(generic);
  EXPECT_EQ(back.GetSummaryText(kSummaryArtist), L"Band");
  // An empty text travels as its NUL alone (byte count 2) and comes back empty.
  EXPECT_TRUE(back.HasSummaryText(kSummaryTitle));
  EXPECT_EQ(back.CountEntries(kGuidA), 2u);
  summary->Release();
  generic->Release();
  entry->Release();
}

TEST(MetaStream, EntryFromAGlobalMemoryStreamEnds) {
  // Such a stream answers S_OK with nothing at its end.
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  std::vector<BYTE> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = BYTE(i * 13);
  ULONG written = 0;
  ASSERT_EQ(stream->Write(data.data(), ULONG(data.size()), &written), S_OK);
  MetaDataSet set;
  set.AddEntryFromStream(kGuidA, stream);
  stream->Release();
  ASSERT_EQ(set.CountEntries(kGuidA), 1u);
  EXPECT_EQ(set.Entries().find(kGuidA)->second, data);
}

TEST(KvPictureBlocks, SizesFieldsAndResultCodes) {
  EXPECT_EQ(KvPicture_GetMetaSizeNeeded(L"image/png", nullptr, 100), 144u);
  EXPECT_EQ(KvPicture_GetMetaSizeNeeded(nullptr, nullptr, 0), 24u);
  EXPECT_EQ(KvPicture_GetMetaSizeNeeded(L"", L"d", 0), 24u + 2 + 4);
  EXPECT_EQ(KvPicture_GetMetaSizeNeeded(L"image/png", nullptr, 0xFFFFFFF0u), 0u);

  const BYTE png[4] = {0x89, 'P', 'N', 'G'};
  KvPicture* block = KvPicture_CreateMeta(3, L"image/png", L"Front", sizeof(png), png);
  ASSERT_NE(block, nullptr);
  HGLOBAL handle = GlobalHandle(block);
  ASSERT_NE(handle, nullptr);
  EXPECT_GE(GlobalSize(handle), 24u + 20 + 12 + 4);
  EXPECT_EQ(KvPicture_GetPictureTotalSize(block), 24u + 20 + 12 + 4);
  EXPECT_EQ(KvPicture_GetStructVersion(block), 2u);
  EXPECT_EQ(KvPicture_GetPictureType(block), 3u);
  EXPECT_EQ(KvPicture_GetMimeTypeByteCount(block), 20u);
  EXPECT_EQ(KvPicture_GetDescriptionByteCount(block), 12u);
  EXPECT_EQ(KvPicture_GetPictureDataSize(block), 4u);
  EXPECT_STREQ(KvPicture_GetMimeType(block), L"image/png");
  EXPECT_STREQ(KvPicture_GetDescription(block), L"Front");
  EXPECT_EQ(std::memcmp(KvPicture_GetPictureData(block), png, 4), 0);

  // The same block read by the set's picture import.
  PictureRecord record;
  ASSERT_TRUE(ReadPictureBlock(reinterpret_cast<const uint8_t*>(block), KvPicture_GetPictureTotalSize(block), record));
  EXPECT_EQ(record.mimeType, L"image/png");
  EXPECT_EQ(record.description, L"Front");
  FreeLockedGlobal(block);

  // One byte too small: refused, nothing written.
  DWORD needed = KvPicture_GetMetaSizeNeeded(L"image/png", nullptr, 4);
  std::vector<BYTE> room(needed + 8, 0xCC);
  KvPicture* raw = reinterpret_cast<KvPicture*>(room.data());
  EXPECT_EQ(KvPicture_SetMeta(raw, needed - 1, 0, L"image/png", nullptr, 4, png), HRESULT(0x8004E03C));
  EXPECT_EQ(std::count(room.begin(), room.end(), 0xCC), ptrdiff_t(room.size()));
  EXPECT_EQ(KvPicture_SetMeta(raw, needed, 0, L"image/png", nullptr, 4, png), S_OK);
  EXPECT_EQ(room[needed], 0xCC);
  EXPECT_EQ(KvPicture_GetMimeType(raw), std::wstring(L"image/png"));
  EXPECT_EQ(KvPicture_GetDescription(raw), nullptr);
  EXPECT_EQ(KvPicture_SetMeta(raw, 0xFFFFFFFFu, 1, nullptr, nullptr, 4, png), S_OK);
  EXPECT_EQ(KvPicture_GetMimeType(raw), nullptr);
  EXPECT_EQ(KvPicture_SetMeta(nullptr, needed, 0, nullptr, nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(KvPicture_SetMeta(raw, 0, 0, nullptr, nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(KvPicture_SetMeta(raw, needed, 0, nullptr, nullptr, 4, nullptr), E_INVALIDARG);

  // Picture type 255 without a block or without data; null block getters answer 0 and null.
  EXPECT_EQ(KvPicture_GetPictureType(nullptr), 255u);
  EXPECT_EQ(KvPicture_SetMeta(raw, needed, 6, L"image/png", nullptr, 0, nullptr), S_OK);
  EXPECT_EQ(KvPicture_GetPictureType(raw), 255u);
  EXPECT_EQ(KvPicture_GetPictureData(raw), nullptr);
  EXPECT_EQ(KvPicture_GetPictureTotalSize(nullptr), 0u);
  EXPECT_EQ(KvPicture_GetMimeType(nullptr), nullptr);
  EXPECT_EQ(KvPicture_GetPictureData(nullptr), nullptr);
}

TEST(KvSmfmfBlocks, SizesFieldsAndResultCodes) {
  EXPECT_EQ(KvSmfmf_GetMetaSizeNeeded(10), 26u);
  KvSmfmf* empty = KvSmfmf_CreateMeta(0, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(KvSmfmf_GetTotalSize(empty), 16u);
  EXPECT_EQ(KvSmfmf_GetSmfmfVersion(empty), 0x10041u);
  EXPECT_EQ(KvSmfmf_GetStructVersion(empty), 2u);
  EXPECT_EQ(KvSmfmf_GetDataSize(empty), 0u);
  EXPECT_EQ(KvSmfmf_GetData(empty), nullptr);
  FreeLockedGlobal(empty);

  const char data[] = "MThd";
  KvSmfmf* block = KvSmfmf_CreateMeta(4, data);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(KvSmfmf_GetTotalSize(block), 20u);
  EXPECT_EQ(std::memcmp(KvSmfmf_GetData(block), "MThd", 4), 0);
  ByteVector back;
  ASSERT_TRUE(ReadSmfmfBlock(reinterpret_cast<const uint8_t*>(block), 20, back));
  EXPECT_EQ(back, ByteVector({'M', 'T', 'h', 'd'}));
  EXPECT_EQ(KvSmfmf_SetMeta(block, 4, nullptr), E_INVALIDARG);
  EXPECT_EQ(KvSmfmf_SetMeta(nullptr, 4, data), E_INVALIDARG);
  EXPECT_EQ(KvSmfmf_SetMeta(block, 2, "xy"), S_OK);
  EXPECT_EQ(KvSmfmf_GetTotalSize(block), 18u);
  EXPECT_EQ(KvSmfmf_GetTotalSize(nullptr), 0u);
  EXPECT_EQ(KvSmfmf_GetData(nullptr), nullptr);
  FreeLockedGlobal(block);
}

TEST(KvMetaBlockExports, TheDllExportsEveryBlockFunctionUnderItsDecoratedName) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  if (!dll) GTEST_SKIP() << "vogaac2.dll not built";
  const char* names[] = {
      "_KvPicture_GetMetaSizeNeeded@12", "_KvPicture_CreateMeta@20", "_KvPicture_SetMeta@28",
      "_KvPicture_GetPictureTotalSize@4", "_KvPicture_GetStructVersion@4", "_KvPicture_GetPictureType@4",
      "_KvPicture_GetMimeType@4", "_KvPicture_GetDescription@4", "_KvPicture_GetMimeTypeByteCount@4",
      "_KvPicture_GetDescriptionByteCount@4", "_KvPicture_GetPictureDataSize@4", "_KvPicture_GetPictureData@4",
      "_KvSmfmf_GetMetaSizeNeeded@4", "_KvSmfmf_CreateMeta@8", "_KvSmfmf_SetMeta@12", "_KvSmfmf_GetTotalSize@4",
      "_KvSmfmf_GetSmfmfVersion@4", "_KvSmfmf_GetStructVersion@4", "_KvSmfmf_GetDataSize@4", "_KvSmfmf_GetData@4"};
  for (const char* name : names) EXPECT_NE(GetProcAddress(dll, VogExportName(name).c_str()), nullptr) << name;
  typedef DWORD(__stdcall * SizeNeeded)(const wchar_t*, const wchar_t*, DWORD);
  SizeNeeded size =
      reinterpret_cast<SizeNeeded>(reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KvPicture_GetMetaSizeNeeded@12").c_str())));
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(size(L"image/png", nullptr, 100), 144u);
  FreeLibrary(dll);
}

}  // namespace
