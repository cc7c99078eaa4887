// The metadata reader that the class factory makes is never loaded: every face
// answers as an empty reader, and its count is safe across threads.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "kvfileio.h"
#include "plugin_dll.h"

namespace {

const HRESULT kAbsent = static_cast<HRESULT>(0x8004E00A);

class UnloadedReadMeta : public ::testing::Test {
 protected:
  void SetUp() override {
    IClassFactory* factory = dll_.Factory(GUID_NULL);
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvReadMeta, reinterpret_cast<void**>(&meta_)), S_OK);
    factory->Release();
  }
  void TearDown() override {
    if (meta_) {
      EXPECT_EQ(meta_->Release(), 0u);
    }
  }
  template <class I>
  I* Face(REFIID iid) {
    I* face = nullptr;
    EXPECT_EQ(meta_->QueryInterface(iid, reinterpret_cast<void**>(&face)), S_OK);
    faces_.push_back(face);
    return face;
  }
  void ReleaseFaces() {
    for (IUnknown* f : faces_)
      if (f) f->Release();
    faces_.clear();
  }
  PluginDll dll_;
  IKvReadMeta* meta_ = nullptr;
  std::vector<IUnknown*> faces_;
};

TEST_F(UnloadedReadMeta, EveryFaceAnswersAsEmpty) {
  IStream* stream = reinterpret_cast<IStream*>(UntouchedPointer());
  BYTE record[32] = {};
  wchar_t text[8] = L"x";
  auto* generic = Face<IKvReadGenericMeta>(IID_IKvReadGenericMeta);
  auto* link = Face<IKvReadProjectLinkMeta>(IID_IKvReadProjectLinkMeta);
  auto* linkEx = Face<IKvReadProjectLinkMetaEx>(IID_IKvReadProjectLinkMetaEx);
  auto* mediaMgr = Face<IKvReadMediaMgrMeta>(IID_IKvReadMediaMgrMeta);
  auto* plim = Face<IKvReadPlimMeta>(IID_IKvReadPlimMeta);
  ASSERT_TRUE(generic && link && linkEx && mediaMgr && plim);

  struct Case {
    const char* call;
    std::function<HRESULT()> run;
    HRESULT expected;
  };
  const Case cases[] = {
      {"GetMarkers(null)", [&] { return meta_->GetMarkers(nullptr); }, E_INVALIDARG},
      {"GetMarkers", [&] { return meta_->GetMarkers(&stream); }, E_UNEXPECTED},
      {"GetType2Stream", [&] { return meta_->GetType2Stream(&stream); }, E_NOTIMPL},
      {"GetSummaryText", [&] { return meta_->GetSummaryText(1, text, 8); }, kAbsent},
      {"GetSummaryText(null buffer)", [&] { return meta_->GetSummaryText(1, nullptr, 8); }, kAbsent},
      {"GetSummaryStream(null)", [&] { return meta_->GetSummaryStream(nullptr); }, E_INVALIDARG},
      {"GetSummaryStream", [&] { return meta_->GetSummaryStream(&stream); }, kAbsent},
      {"Reset", [&] { return generic->Reset(); }, E_UNEXPECTED},
      {"Next(null)", [&] { return generic->Next(nullptr); }, E_INVALIDARG},
      {"Next", [&] { return generic->Next(&stream); }, S_FALSE},
      {"GetProjectPath", [&] { return link->GetProjectPath(&stream); }, E_FAIL},
      {"GetCreatorAppWindowClassName", [&] { return link->GetCreatorAppWindowClassName(&stream); }, E_FAIL},
      {"GetField(0)", [&] { return linkEx->GetField(&stream, 0); }, E_FAIL},
      {"GetUserDefStream", [&] { return mediaMgr->GetUserDefStream(&stream); }, E_FAIL},
      {"GetUserDefInfo", [&] { return mediaMgr->GetUserDefInfo(record); }, E_FAIL},
      {"GetPlimInfo", [&] { return plim->GetPlimInfo(record); }, E_FAIL},
      {"GetPlimInfoEx", [&] { return plim->GetPlimInfoEx(record); }, E_FAIL},
      {"GetPlimStream", [&] { return plim->GetPlimStream(&stream); }, E_FAIL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(), c.expected) << c.call;
    if (stream != reinterpret_cast<IStream*>(UntouchedPointer())) {
      EXPECT_EQ(stream, nullptr) << c.call << " handed out a stream";
      stream = reinterpret_cast<IStream*>(UntouchedPointer());
    }
  }
  EXPECT_STREQ(text, L"");
  ReleaseFaces();
}

DWORD WINAPI CountUpAndDown(void* object) {
  IUnknown* unknown = static_cast<IUnknown*>(object);
  for (int i = 0; i < 20000; ++i) unknown->AddRef();
  for (int i = 0; i < 20000; ++i) unknown->Release();
  return 0;
}

// Its reference count is interlocked: concurrent AddRef/Release from several
// threads, through different faces, leave the count where it was.
TEST_F(UnloadedReadMeta, CountSurvivesConcurrentUse) {
  IUnknown* faces[4] = {meta_, Face<IKvReadGenericMeta>(IID_IKvReadGenericMeta),
                        Face<IKvReadPlimMeta>(IID_IKvReadPlimMeta), meta_};
  HANDLE threads[8];
  for (int i = 0; i < 8; ++i) {
    threads[i] = CreateThread(nullptr, 0, &CountUpAndDown, faces[i % 4], 0, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }
  WaitForMultipleObjects(8, threads, TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
  // One reference from the factory and one per face asked for.
  EXPECT_EQ(meta_->AddRef(), 4u);
  EXPECT_EQ(meta_->Release(), 3u);
  ReleaseFaces();
}

}  // namespace
