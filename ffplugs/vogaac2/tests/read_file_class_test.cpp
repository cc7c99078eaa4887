// The reader class and the read file through the DLL: identification by
// "ftyp" at byte 4, files identified by path, the manager link, opening,
// the stream collection and its ranges, texts and values; every shared test
// vector opens or is refused with a clean result and leaves no handle behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_dizuvo_manager.h"
#include "kvdizuvo.h"
#include "read_support.h"

namespace {

const HRESULT kTooFewBytes = static_cast<HRESULT>(0x8004E007);
const HRESULT kAbsent = static_cast<HRESULT>(0x8004E00A);
const GUID kReaderId = {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}};
const GUID kRendererId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

std::wstring TempDir() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, buf);
  std::wstring dir(buf, n);
  dir += L"vogreadtest\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

void WriteBytes(const std::wstring& path, const std::vector<BYTE>& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::vector<BYTE> Header(const char* type, size_t size) {
  std::vector<BYTE> b(size, 0);
  const BYTE start[] = {0, 0, 0, 0x20};
  for (size_t i = 0; i < 4 && i < size; ++i) b[i] = start[i];
  for (size_t i = 0; i < 4 && 4 + i < size; ++i) b[4 + i] = static_cast<BYTE>(type[i]);
  return b;
}

class ReadFileClass : public ::testing::Test {
 protected:
  void SetUp() override {
    cls_ = reader_.cls();
    ASSERT_NE(cls_, nullptr);
    mp4_ = WinePath(ReadFixtureDir() + "lc_2ch_44100.m4a");
  }
  Reader reader_;
  IKvReadFileClass* cls_ = nullptr;
  std::wstring mp4_;
};

TEST_F(ReadFileClass, IdentificationTable) {
  struct Case {
    const char* what;
    std::vector<BYTE> header;
    HRESULT expect;
  };
  const Case cases[] = {
      {"8 bytes with ftyp", Header("ftyp", 8), kTooFewBytes},
      {"9 bytes with ftyp", Header("ftyp", 9), S_OK},
      {"4096 bytes with ftyp", Header("ftyp", 4096), S_OK},
      {"FTYP in capitals", Header("FTYP", 9), E_FAIL},
      {"moov first", Header("moov", 64), E_FAIL},
      {"ftyp one byte late", [] { std::vector<BYTE> b(16, 0); std::memcpy(&b[5], "ftyp", 4); return b; }(), E_FAIL},
      {"nothing", {}, kTooFewBytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(cls_->IdentifyFile(INVALID_HANDLE_VALUE, c.header.empty() ? nullptr : c.header.data(),
                                 static_cast<DWORD>(c.header.size()), L"m4a"),
              c.expect);
  }
}

TEST_F(ReadFileClass, FilesIdentifiedByPath) {
  std::wstring dir = TempDir();
  WriteBytes(dir + L"empty.m4a", {});
  WriteBytes(dir + L"eight.m4a", Header("ftyp", 8));
  WriteBytes(dir + L"nine.m4a", Header("ftyp", 9));
  WriteBytes(dir + L"other.m4a", Header("FTYP", 100));
  // A path of 259 characters names a real MP4 file; a longer path that starts
  // with it must not be taken for it.
  std::wstring longName = dir;
  while (longName.size() < 255) longName += L'a';
  longName += L".m4a";
  ASSERT_EQ(longName.size(), 259u);
  ASSERT_TRUE(CopyFileW(mp4_.c_str(), longName.c_str(), FALSE));
  struct Case {
    std::wstring path;
    HRESULT expect;
  };
  const Case cases[] = {
      {mp4_, S_OK},
      {dir + L"no-such-file.m4a", E_FAIL},
      {dir + L"empty.m4a", kTooFewBytes},
      {dir + L"eight.m4a", kTooFewBytes},
      {dir + L"nine.m4a", S_OK},
      {dir + L"other.m4a", E_FAIL},
      {longName, S_OK},
      {longName + L"bbbbbbbbbbbbbbbbbbbb", E_FAIL},
      {dir, E_FAIL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.path.size() << " characters");
    EXPECT_EQ(cls_->IsFileSupported(c.path.c_str()), c.expect);
  }
  // Opening by a path that is too long is refused too.
  IKvReadFile* file = reinterpret_cast<IKvReadFile*>(UntouchedPointer());
  EXPECT_TRUE(FAILED(reader_.OpenFile(longName + L"bbbbbbbbbbbbbbbbbbbb", &file)));
  EXPECT_EQ(file, nullptr);
  DeleteFileW(longName.c_str());
}

TEST_F(ReadFileClass, ClassSlotsAndManager) {
  GUID id = {};
  EXPECT_EQ(cls_->GetReaderGuid(&id), S_OK);
  EXPECT_TRUE(IsEqualGUID(id, kReaderId));
  EXPECT_EQ(cls_->GetReaderGuid(nullptr), E_INVALIDARG);
  DWORD value = 0;
  EXPECT_EQ(cls_->GetFlags(&value), S_OK);
  EXPECT_EQ(value, 1782u);
  EXPECT_EQ(cls_->GetClassVersion(&value), S_OK);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(cls_->SetClassIndex(7), S_OK);
  EXPECT_EQ(cls_->GetClassIndex(&value), S_OK);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(cls_->Reserved14(0), E_NOTIMPL);
  EXPECT_EQ(cls_->Reserved16(), S_OK);
  EXPECT_EQ(cls_->Reserved18(0, 0), E_NOTIMPL);

  IKvRenderFileClass* renderer = nullptr;
  EXPECT_EQ(cls_->GetRendererClass(&renderer), kAbsent);
  IKvDizuVOManager* got = nullptr;
  EXPECT_EQ(cls_->GetDizuVOManager(&got), E_NOINTERFACE);

  vogtest::FakeDizuVOManager manager;
  EXPECT_EQ(cls_->SetDizuVOManager(&manager), S_OK);
  EXPECT_EQ(manager.languageCalls, 1);
  EXPECT_EQ(manager.refs, 1);  // kept without a reference
  EXPECT_EQ(cls_->GetRendererClass(&renderer), static_cast<HRESULT>(0x8004E016));
  EXPECT_TRUE(IsEqualGUID(manager.askedRenderer, kRendererId));
  EXPECT_EQ(cls_->GetDizuVOManager(&got), S_OK);
  EXPECT_EQ(got, &manager);
  EXPECT_EQ(manager.refs, 2);
  EXPECT_EQ(cls_->SetDizuVOManager(nullptr), S_OK);
  EXPECT_EQ(cls_->GetDizuVOManager(&got), E_NOINTERFACE);
}

TEST_F(ReadFileClass, InfoTexts) {
  const KVFIO_FILECLASS_INFO_TEXT ids[] = {1, 2, 3, 4, 5, 6, 7, 99};
  BSTR texts[8] = {};
  ASSERT_EQ(cls_->GetInfoTexts(ids, 8, texts), S_OK);
  const wchar_t* expect[] = {L"AAC", L"AAC Audio", L"", L"*.mp4", L"Tessaly AAC", L"Tessaly HE-AAC", L""};
  for (int i = 0; i < 7; ++i) {
    ASSERT_NE(texts[i], nullptr) << i;
    EXPECT_EQ(std::wstring(texts[i]), expect[i]) << i;
  }
  EXPECT_EQ(texts[7], nullptr);
  for (BSTR t : texts) SysFreeString(t);
}

TEST_F(ReadFileClass, OpeningAndTheStreamCollection) {
  IKvReadFile* file = nullptr;
  ASSERT_EQ(reader_.OpenFile(mp4_, &file, FALSE), S_OK);
  EXPECT_EQ(file->IsOpen(), S_FALSE);  // a path, no streams yet
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(file->GetPath(path, MAX_PATH), S_OK);
  EXPECT_EQ(std::wstring(path), mp4_);
  path[0] = L'x';
  path[1] = L'y';
  EXPECT_EQ(file->GetPath(path, 1), S_OK);
  EXPECT_EQ(path[0], 0);
  EXPECT_EQ(path[1], L'y');
  EXPECT_EQ(file->Open(GENERIC_READ, FILE_SHARE_READ), S_OK);
  EXPECT_EQ(file->IsOpen(), S_OK);
  EXPECT_EQ(file->Close(), S_OK);
  EXPECT_EQ(file->IsOpen(), S_FALSE);

  UINT count = 0;
  EXPECT_EQ(file->GetStreamCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  IKvReadFileClass* owner = nullptr;
  EXPECT_EQ(file->GetReadFileClass(&owner), S_OK);
  EXPECT_EQ(owner, cls_);
  owner->Release();

  // Format records: ranges, and exactly one 184-byte record cleared per stream.
  std::vector<BYTE> records(2 * 184, 0xCC);
  DWORD huge = 0x10000;
  std::memcpy(records.data(), &huge, 4);
  auto* rec = reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(records.data());
  EXPECT_EQ(file->GetStreamFormatInfo(rec, 0, 2), E_INVALIDARG);
  EXPECT_EQ(file->GetStreamFormatInfo(rec, 1, 0), E_INVALIDARG);
  EXPECT_EQ(file->GetStreamFormatInfo(rec, 0, 0), E_FAIL);
  EXPECT_EQ(file->GetStreamFormatInfo(rec, 0, 1), S_OK);
  DWORD word[2];
  std::memcpy(word, records.data(), 8);
  EXPECT_EQ(word[0], 184u);
  EXPECT_EQ(word[1], 1u);
  LONGLONG length = 0;
  std::memcpy(&length, records.data() + 8, 8);
  EXPECT_EQ(length, 67174);
  for (size_t i = 184; i < records.size(); ++i) ASSERT_EQ(records[i], 0xCC) << "byte " << i;

  DWORD mask = 0;
  EXPECT_EQ(file->GetStreamTypes(&mask), S_OK);
  EXPECT_EQ(mask, 1u);
  DWORD type = 0, sub = 9;
  EXPECT_EQ(file->GetStreamType(0, &type, &sub), S_OK);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(file->GetStreamType(1, &type, &sub), E_FAIL);
  UINT index = 9;
  EXPECT_EQ(file->FindStreamIndex(0, 1, &index), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(file->FindStreamIndex(0, 2, &index), E_FAIL);
  IKvReadStream* stream = nullptr;
  EXPECT_EQ(file->GetStreamByType(&stream, 1, 0, 0, 0), S_OK);
  ASSERT_NE(stream, nullptr);
  stream->Release();
  EXPECT_EQ(file->GetStreamByType(&stream, 2, 0, 0, 0), E_FAIL);
  EXPECT_EQ(file->SetStreamParam(0, 0, 5), S_OK);
  EXPECT_EQ(file->SetStreamParam(1, 0, 5), E_FAIL);

  // Values and texts.
  LONGLONG value = -1;
  EXPECT_EQ(file->GetInfoValue(&value, 4, 1), S_FALSE);
  EXPECT_EQ(file->GetInfoValue(&value, 8, 1), S_OK);
  LONGLONG kbps = 0;
  EXPECT_EQ(file->GetStreamInfoValue(&kbps, 8, 0, 2), S_OK);
  EXPECT_EQ(value, kbps / 8);
  EXPECT_EQ(file->GetStreamInfoValue(&kbps, 8, 1, 2), E_FAIL);
  wchar_t text[64] = {};
  EXPECT_EQ(file->GetInfoText(text, 64, 1), S_OK);
  EXPECT_EQ(std::wstring(text), L"Tessaly AAC");
  EXPECT_EQ(file->GetInfoText(text, 64, 2), S_OK);
  EXPECT_EQ(std::wstring(text), L"");
  EXPECT_EQ(file->GetInfoText(text, 64, 3), S_FALSE);
  EXPECT_EQ(file->GetStreamInfoText(text, 64, 0, 2), S_OK);
  EXPECT_EQ(std::wstring(text), std::to_wstring(kbps) + L" Kbps, 44,100 Hz, Stereo");
  EXPECT_EQ(file->GetStreamInfoText(text, 64, 1, 2), E_FAIL);
  LONGLONG duration = 0;
  EXPECT_EQ(file->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 67174LL * 10000000 / 44100);

  IKvReadFile* clone = reinterpret_cast<IKvReadFile*>(UntouchedPointer());
  EXPECT_EQ(file->Clone(&clone), E_NOTIMPL);
  void* reserved = UntouchedPointer();
  EXPECT_EQ(file->Reserved23(&reserved, 0, 0), E_NOTIMPL);
  EXPECT_EQ(reserved, nullptr);
  IKvReadMeta* meta = nullptr;
  EXPECT_EQ(file->GetReadMeta(&meta), S_OK);
  ASSERT_NE(meta, nullptr);
  meta->Release();
  file->Release();
}

TEST_F(ReadFileClass, HandleFromTheHostAndFilesThatAreNotMp4) {
  // A handle of this process is duplicated and closed again; the file is read by path.
  HANDLE h = CreateFileW(mp4_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  IKvReadFile* file = nullptr;
  EXPECT_EQ(cls_->OpenReadFile(&file, h, GetCurrentProcessId(), mp4_.c_str(), TRUE), S_OK);
  ASSERT_NE(file, nullptr);
  file->Release();
  CloseHandle(h);
  // A handle that names nothing: the duplication's failure comes back.
  file = reinterpret_cast<IKvReadFile*>(UntouchedPointer());
  HRESULT hr = cls_->OpenReadFile(&file, reinterpret_cast<HANDLE>(0x7ff8), GetCurrentProcessId(), mp4_.c_str(), TRUE);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);

  // Not MP4: the file opens (its stream exists) and the stream's queries fail.
  std::wstring dir = TempDir();
  WriteBytes(dir + L"junk.m4a", Header("ftyp", 300));
  ASSERT_EQ(reader_.OpenFile(dir + L"junk.m4a", &file), S_OK);
  UINT count = 0;
  EXPECT_EQ(file->GetStreamCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  IKvReadAudioStream* audio = Reader::Audio(file);
  ASSERT_NE(audio, nullptr);
  LONGLONG frames = 0;
  EXPECT_TRUE(FAILED(audio->GetSampleCount(&frames)));
  EXPECT_TRUE(FAILED(audio->GetSampleCount(&frames)));  // asked again: the same clean failure
  DWORD align = 0;
  EXPECT_TRUE(FAILED(audio->GetBlockAlign(&align)));
  std::vector<BYTE> buffer(4096);
  LONG done = 5;
  EXPECT_TRUE(FAILED(audio->ReadSamples(0, LocalToken(buffer.data(), 4096), 100, &done)));
  EXPECT_EQ(done, 0);
  LONGLONG duration = 0;
  EXPECT_TRUE(FAILED(file->GetDuration(&duration)));
  audio->Release();
  file->Release();
}

TEST_F(ReadFileClass, SharedVectorsOpenOrAreRefusedWithoutLeaks) {
  std::string dir = std::string(VOG_SHARED_DIR) + "/vectors/mp4/";
  if (GetFileAttributesW(WinePath(dir).c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no shared vectors";
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((WinePath(dir) + L"*").c_str(), &fd);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(WinePath(dir) + fd.cFileName);
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  ASSERT_GT(files.size(), 10u);

  auto readAll = [&](const std::wstring& path) {
    IKvReadFile* file = nullptr;
    HRESULT hr = reader_.OpenFile(path, &file);
    if (FAILED(hr)) return;
    IKvReadAudioStream* audio = Reader::Audio(file);
    if (audio) {
      LONGLONG frames = 0;
      DWORD align = 0;
      if (SUCCEEDED(audio->GetSampleCount(&frames)) && SUCCEEDED(audio->GetBlockAlign(&align)) && align > 0) {
        // At most the first ten seconds, in blocks, and a few positioned reads.
        LONG limit = static_cast<LONG>(frames < 480000 ? frames : 480000);
        Reader::ReadRange(audio, 0, limit, 4096, static_cast<WORD>(align / 2));
        Reader::ReadRange(audio, frames / 2, 3000, 3000, static_cast<WORD>(align / 2));
        Reader::ReadRange(audio, frames - 10, 100, 100, static_cast<WORD>(align / 2));
      }
      audio->Release();
    }
    file->Release();
  };
  for (const std::wstring& f : files) readAll(f);  // first pass: one-time allocations
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int round = 0; round < 2; ++round)
    for (const std::wstring& f : files) readAll(f);
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
}

}  // namespace
