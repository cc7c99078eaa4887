// The plug-in info object, called as the file-IO manager calls it.
#include <gtest/gtest.h>

#include <cwchar>

#include "kvfileio.h"
#include "plugin_dll.h"

namespace {

const GUID kCategory = {0xabd1218c, 0xb335, 0x4343, {0xb5, 0x78, 0x00, 0xaa, 0x00, 0x6b, 0xa2, 0xba}};

class PluginInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IClassFactory* factory = dll_.Factory(CLSID_KvUnsharedFIOPluginInfo);
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvUnsharedFIOPluginInfo, reinterpret_cast<void**>(&info_)), S_OK);
    factory->Release();
    ASSERT_NE(info_, nullptr);
  }
  void TearDown() override {
    if (info_) {
      EXPECT_EQ(info_->Release(), 0u);
    }
  }
  HRESULT GetName(int index, wchar_t* name, int cch) {
    return info_->GetItem(index, nullptr, name, cch, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr);
  }
  PluginDll dll_;
  IKvUnsharedFIOPluginInfo* info_ = nullptr;
};

TEST_F(PluginInfoTest, ItemCallsFailBeforeInitialize) {
  UINT count = 77;
  EXPECT_EQ(info_->GetItemCount(&count), E_FAIL);
  EXPECT_EQ(count, 77u);
  wchar_t name[8] = L"x";
  EXPECT_EQ(GetName(0, name, 8), E_FAIL);
  EXPECT_STREQ(name, L"x");
  EXPECT_EQ(static_cast<DWORD>(E_FAIL), 0x80004005u);
}

TEST_F(PluginInfoTest, OneRowWithTheManagersValues) {
  ASSERT_EQ(info_->Initialize(0, 0, 0), S_OK);
  UINT count = 0;
  ASSERT_EQ(info_->GetItemCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(info_->GetItemCount(nullptr), E_INVALIDARG);

  GUID id = {};
  wchar_t name[MAX_PATH];
  DWORD v[8];
  for (DWORD& value : v) value = 0xCCCCCCCC;
  ASSERT_EQ(info_->GetItem(0, &id, name, MAX_PATH, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]), S_OK);
  EXPECT_EQ(memcmp(&id, &kCategory, sizeof id), 0);
  EXPECT_STREQ(name, L"VOG AAC 2 File Format");
  // value1..value6, zero, last.
  const DWORD expected[8] = {0x30, 1, 0x00480048, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(v[i], expected[i]) << "out value " << i;
}

TEST_F(PluginInfoTest, IndexOutsideTheTableIsInvalid) {
  ASSERT_EQ(info_->Initialize(0, 0, 0), S_OK);
  for (int index : {1, 2, -1, 0x7FFFFFFF, static_cast<int>(0x80000000u)}) {
    wchar_t name[8] = L"x";
    EXPECT_EQ(GetName(index, name, 8), E_INVALIDARG) << "index " << index;
    EXPECT_STREQ(name, L"x") << "index " << index;
  }
}

TEST_F(PluginInfoTest, NullOutsAreSkipped) {
  ASSERT_EQ(info_->Initialize(1, 2, 3), S_OK);
  EXPECT_EQ(info_->GetItem(0, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr),
            S_OK);
}

// The name is copied with a bounded copy: at most cch - 1 characters and a terminator.
TEST_F(PluginInfoTest, NameIsCopiedWithinTheBuffer) {
  ASSERT_EQ(info_->Initialize(0, 0, 0), S_OK);
  struct Case {
    int cch;
    const wchar_t* expected;
  };
  const Case cases[] = {{4, L"VOG"}, {1, L""}, {21, L"VOG AAC 2 File Forma"}, {22, L"VOG AAC 2 File Format"}};
  for (const Case& c : cases) {
    wchar_t name[40];
    wmemset(name, L'#', 40);
    ASSERT_EQ(GetName(0, name, c.cch), S_OK) << "cch " << c.cch;
    EXPECT_STREQ(name, c.expected) << "cch " << c.cch;
    EXPECT_EQ(name[c.cch], L'#') << "written past cch " << c.cch;
  }
  // cch 0 and negative: nothing written.
  for (int cch : {0, -5}) {
    wchar_t name[4] = {L'#', L'#', L'#', 0};
    ASSERT_EQ(GetName(0, name, cch), S_OK);
    EXPECT_STREQ(name, L"###") << "cch " << cch;
  }
}

TEST_F(PluginInfoTest, AnswersOnlyItsInterface) {
  void* p = nullptr;
  ASSERT_EQ(info_->QueryInterface(IID_IUnknown, &p), S_OK);
  EXPECT_EQ(p, info_);
  info_->Release();
  p = UntouchedPointer();
  EXPECT_EQ(info_->QueryInterface(IID_IKvReadFileClass, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr) << "a refusal clears the out-pointer";
}

}  // namespace
