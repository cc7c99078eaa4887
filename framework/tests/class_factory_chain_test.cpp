// The class factory's creator chain: order, stopping rules, out-of-memory.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "ffbase_classfactory.h"
#include "kvfileio.h"

namespace {

std::vector<int> g_calls;  // which creators ran, in order
void* const kMadeObject = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x1234));

template <int N, HRESULT R>
HRESULT Scripted(REFIID, void** ppv) {
  g_calls.push_back(N);
  if (R == S_OK) *ppv = kMadeObject;
  return R;
}

template <int N>
HRESULT Throwing(REFIID, void**) {
  g_calls.push_back(N);
  throw std::bad_alloc();
}

const HRESULT kNotMine = ffbase::kCreatorNotMine;

TEST(CreatorChain, StopsAtTheFirstDecisiveAnswer) {
  struct Case {
    const char* what;
    std::vector<ffbase::ClassCreator> chain;
    HRESULT expected;
    std::vector<int> calls;
  };
  const std::vector<Case> cases = {
      {"second creator takes it", {&Scripted<1, kNotMine>, &Scripted<2, S_OK>, &Scripted<3, S_OK>}, S_OK, {1, 2}},
      {"nobody takes it", {&Scripted<1, kNotMine>, &Scripted<2, kNotMine>}, E_NOINTERFACE, {1, 2}},
      {"empty chain", {}, E_NOINTERFACE, {}},
      {"out of memory stops", {&Scripted<1, E_OUTOFMEMORY>, &Scripted<2, S_OK>}, E_OUTOFMEMORY, {1}},
      {"no interface stops", {&Scripted<1, E_NOINTERFACE>, &Scripted<2, S_OK>}, E_NOINTERFACE, {1}},
      {"another failure is no interface", {&Scripted<1, E_FAIL>, &Scripted<2, S_OK>}, E_NOINTERFACE, {1}},
      {"another success is no interface", {&Scripted<1, S_FALSE + 1>, &Scripted<2, S_OK>}, E_NOINTERFACE, {1}},
      {"a throwing constructor is out of memory", {&Throwing<1>, &Scripted<2, S_OK>}, E_OUTOFMEMORY, {1}},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    void* out = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A));
    HRESULT hr = ffbase::RunCreatorChain(c.chain.data(), c.chain.size(), IID_IKvReadMeta, &out);
    EXPECT_EQ(hr, c.expected) << c.what;
    EXPECT_EQ(g_calls, c.calls) << c.what;
    if (hr == S_OK) {
      EXPECT_EQ(out, kMadeObject) << c.what;
    } else {
      EXPECT_EQ(out, reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A))) << c.what << ": written on failure";
    }
  }
}

// An object whose allocation fails, as under memory exhaustion.
class Unallocatable : public IUnknown {
 public:
  static void* operator new(size_t, const std::nothrow_t&) noexcept { return nullptr; }
  static void operator delete(void*) noexcept {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 0; }
};

// A counted object that records its count for the test.
class Counted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --count;
    if (left == 0) delete this;
    return left;
  }
  ULONG count = 0;
};

TEST(CreatorChain, CreateForKeyChecksItsKeyAndTheAllocation) {
  void* out = nullptr;
  EXPECT_EQ((ffbase::CreateForKey<Counted, IUnknown, IID_IKvReadMeta>(IID_IKvReadFile, &out)), kNotMine);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ((ffbase::CreateForKey<Unallocatable, IUnknown, IID_IKvReadMeta>(IID_IKvReadMeta, &out)), E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ((ffbase::CreateForKey<Counted, IUnknown, IID_IKvReadMeta>(IID_IKvReadMeta, &out)), S_OK);
  ASSERT_NE(out, nullptr);
  Counted* made = static_cast<Counted*>(static_cast<IUnknown*>(out));
  EXPECT_EQ(made->count, 1u);
  made->Release();
}

}  // namespace
