// The holder of a registered pointer and the meta blanket, around a fake
// metadata object that records which thread calls it: the last-pair shortcut,
// one cache entry per thread, every reference given back on revocation, and
// calls from a single-threaded apartment arriving through a real proxy.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "kvblanket.h"
#include "kvcomobject.h"
#include "kvgitholder.h"
#include "kvreadroad_proxy_api.h"

// Blocks of this program's allocator still alive: a blanket, its cache nodes
// and its map come from it, so a blanket that is never freed shows here.
static std::atomic<long> gLiveBlocks{0};

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  ++gLiveBlocks;
  return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  void* p = std::malloc(size ? size : 1);
  if (p) ++gLiveBlocks;
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept {
  if (!p) return;
  --gLiveBlocks;
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

// A metadata object whose GetSummaryText reports the calling thread.
class FakeMeta : public IKvReadMeta {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    IKvReadMeta* self = this;
    return kvcom::QueryFaces(this, iid, out, {{IID_IUnknown, self}, {IID_IKvReadMeta, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT key, wchar_t* buf, int cch) override {
    ++calls_;
    if (script_ && *script_ != S_OK) return *script_++;
    if (!buf || cch < 3) return E_INVALIDARG;
    DWORD thread = GetCurrentThreadId();
    buf[0] = static_cast<wchar_t>(thread & 0xFFFF);
    buf[1] = static_cast<wchar_t>(thread >> 16);
    buf[2] = static_cast<wchar_t>(key);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream**) override { return E_NOTIMPL; }
  LONG refs() const { return refs_; }
  // Results the next calls give, up to an S_OK entry; then the normal answer.
  void Script(const HRESULT* results) { script_ = results; }
  int calls() const { return calls_; }

 private:
  LONG refs_ = 1;  // the test's own
  const HRESULT* script_ = nullptr;
  int calls_ = 0;
};

DWORD CallingThreadSeenBy(IKvReadMeta* meta, HRESULT* hr) {
  wchar_t buf[4] = {};
  *hr = meta->GetSummaryText(7, buf, 4);
  return static_cast<DWORD>(buf[0]) | (static_cast<DWORD>(buf[1]) << 16);
}

class Holder : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    proxies_ = KvTestProxies_Register();
    ASSERT_NE(proxies_, 0u);
  }
  void TearDown() override {
    KvTestProxies_Revoke(proxies_);
    CoUninitialize();
  }
  DWORD proxies_ = 0;
};

// Runs `body` on a new thread of the multithreaded apartment and waits.
template <class Body>
void OnMtaThread(Body body) {
  std::thread([&]() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    body();
    CoUninitialize();
  }).join();
}

TEST_F(Holder, LastPairAndOneCacheEntryPerThread) {
  FakeMeta fake;
  IUnknown* const real = &fake;
  CKvGITHolder holder(IID_IKvReadMeta);
  ASSERT_EQ(holder.Register(real), S_OK);
  EXPECT_TRUE(holder.registered());
  const LONG registered = fake.refs();
  EXPECT_GT(registered, 1);  // the table keeps the object
  // The registering thread is the last pair and uses the pointer itself.
  EXPECT_EQ(holder.lastThreadId(), GetCurrentThreadId());
  IUnknown* got = nullptr;
  ASSERT_EQ(holder.GetForCurrentThread(&got), S_OK);
  EXPECT_EQ(got, real);
  EXPECT_EQ(holder.map().count(), 0u);

  DWORD second = 0, third = 0;
  OnMtaThread([&]() {
    second = GetCurrentThreadId();
    IUnknown* p = nullptr;
    ASSERT_EQ(holder.GetForCurrentThread(&p), S_OK);  // first call: fetched and cached
    EXPECT_EQ(p, real);                               // same apartment: the object itself
    EXPECT_EQ(holder.map().count(), 1u);
    EXPECT_NE(holder.lastThreadId(), second);         // a fresh fetch is not the last pair
    ASSERT_EQ(holder.GetForCurrentThread(&p), S_OK);  // second call: a map hit
    EXPECT_EQ(holder.lastThreadId(), second);
    EXPECT_EQ(holder.map().count(), 1u);
  });
  OnMtaThread([&]() {
    third = GetCurrentThreadId();
    IUnknown* p = nullptr;
    ASSERT_EQ(holder.GetForCurrentThread(&p), S_OK);
    EXPECT_EQ(holder.map().count(), 2u);
    EXPECT_EQ(holder.lastThreadId(), second);  // undisturbed
  });
  ASSERT_NE(second, third);
  EXPECT_EQ(holder.map().Head(0)->key, third);
  // The registering thread has lost the last pair: it fetches like any other.
  ASSERT_EQ(holder.GetForCurrentThread(&got), S_OK);
  EXPECT_EQ(holder.map().count(), 3u);
  EXPECT_EQ(fake.refs(), registered + 3);  // one reference per cached pointer

  // Revocation gives back every cached reference once, and the table's.
  holder.Revoke();
  EXPECT_FALSE(holder.registered());
  EXPECT_EQ(holder.map().count(), 0u);
  EXPECT_EQ(fake.refs(), 1);
  EXPECT_EQ(holder.GetForCurrentThread(&got), E_UNEXPECTED);
  EXPECT_EQ(got, nullptr);
}

TEST_F(Holder, WithoutTheShortcutEveryThreadUsesTheMap) {
  FakeMeta fake;
  {
    CKvGITHolder holder(IID_IKvReadMeta, false);
    ASSERT_EQ(holder.Register(&fake), S_OK);
    IUnknown* got = nullptr;
    ASSERT_EQ(holder.GetForCurrentThread(&got), S_OK);
    ASSERT_EQ(holder.GetForCurrentThread(&got), S_OK);
    EXPECT_EQ(holder.map().count(), 1u);
    EXPECT_EQ(holder.lastThreadId(), 0u);
  }  // the destructor revokes
  EXPECT_EQ(fake.refs(), 1);
}

TEST_F(Holder, MetaBlanketCallsArriveThroughEachThreadsOwnProxy) {
  FakeMeta fake;
  IKvReadMeta* meta = &fake;
  meta->AddRef();  // the reference the blanket takes over
  ASSERT_EQ(KvFio_CreateBlanket(IID_IKvReadMeta, reinterpret_cast<void**>(&meta), nullptr, nullptr), S_OK);
  ASSERT_NE(meta, static_cast<IKvReadMeta*>(&fake));

  // Apartment of the caller -> whether the object runs on the caller's thread.
  struct Case {
    DWORD coinit;  // 0: no COM on the thread
    bool sameThread;
  };
  const Case cases[] = {{COINIT_MULTITHREADED, true}, {COINIT_APARTMENTTHREADED, false}, {0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.coinit == 0 ? "no COM" : c.coinit == COINIT_MULTITHREADED ? "MTA" : "STA");
    DWORD caller = 0, seen = 0, seenAgain = 0;
    HRESULT hr = E_FAIL, hrAgain = E_FAIL;
    std::thread([&]() {
      DWORD proxies = 0;
      if (c.coinit) CoInitializeEx(nullptr, c.coinit);
      if (c.coinit == COINIT_APARTMENTTHREADED) proxies = KvTestProxies_Register();
      caller = GetCurrentThreadId();
      seen = CallingThreadSeenBy(meta, &hr);
      seenAgain = CallingThreadSeenBy(meta, &hrAgain);
      KvTestProxies_Revoke(proxies);
      if (c.coinit) CoUninitialize();
    }).join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(hrAgain, S_OK);
    EXPECT_EQ(seen == caller, c.sameThread);
    EXPECT_EQ(seenAgain == caller, c.sameThread);
  }
  EXPECT_EQ(meta->Release(), 0u);
  EXPECT_EQ(fake.refs(), 1);  // every proxy and the registration gave their references back
}

TEST_F(Holder, ReferenceCountsAndMemoryOfABlanket) {
  FakeMeta fake;
  const long before = gLiveBlocks.load();
  IKvReadMeta* meta = &fake;
  meta->AddRef();
  ASSERT_EQ(KvFio_CreateBlanket(IID_IKvReadMeta, reinterpret_cast<void**>(&meta), nullptr, nullptr), S_OK);
  EXPECT_GT(gLiveBlocks.load(), before);
  EXPECT_EQ(meta->AddRef(), 2u);
  EXPECT_EQ(meta->Release(), 1u);
  HRESULT hr = E_FAIL;
  CallingThreadSeenBy(meta, &hr);  // the registering thread: no cache entry
  EXPECT_EQ(hr, S_OK);
  OnMtaThread([&]() {
    HRESULT threadHr = E_FAIL;
    CallingThreadSeenBy(meta, &threadHr);  // one cache node
    EXPECT_EQ(threadHr, S_OK);
  });
  EXPECT_EQ(meta->Release(), 0u);
  EXPECT_EQ(gLiveBlocks.load(), before) << "blocks of the blanket are still allocated";
  EXPECT_EQ(fake.refs(), 1);
}

}  // namespace

namespace {

// Threads come and go; a later thread may get the id of one that has ended.
// Each must still reach the object, whatever apartment the earlier owner of
// its id was in.
TEST_F(Holder, ThreadsThatEndAndTheirIdsComeBack) {
  FakeMeta fake;
  IKvReadMeta* meta = &fake;
  meta->AddRef();
  ASSERT_EQ(KvFio_CreateBlanket(IID_IKvReadMeta, reinterpret_cast<void**>(&meta), nullptr, nullptr), S_OK);
  std::vector<DWORD> ids;
  int failures = 0;
  for (int i = 0; i < 24; ++i) {
    DWORD coinit = i % 3 == 0 ? COINIT_MULTITHREADED : i % 3 == 1 ? COINIT_APARTMENTTHREADED : 0;
    HRESULT hr = E_FAIL;
    DWORD id = 0;
    std::thread([&]() {
      DWORD proxies = 0;
      if (coinit) CoInitializeEx(nullptr, coinit);
      if (coinit == COINIT_APARTMENTTHREADED) proxies = KvTestProxies_Register();
      id = GetCurrentThreadId();
      CallingThreadSeenBy(meta, &hr);
      KvTestProxies_Revoke(proxies);
      if (coinit) CoUninitialize();
    }).join();
    ids.push_back(id);
    if (FAILED(hr)) ++failures;
  }
  std::sort(ids.begin(), ids.end());
  size_t distinct = std::unique(ids.begin(), ids.end()) - ids.begin();
  RecordProperty("distinct_thread_ids", static_cast<int>(distinct));
  EXPECT_EQ(failures, 0) << distinct << " distinct ids among 24 threads";
  EXPECT_EQ(meta->Release(), 0u);
  EXPECT_EQ(fake.refs(), 1);
}

}  // namespace

namespace {

// A cached proxy that can no longer reach the object (its apartment has gone)
// is replaced by a fresh one and the call made once more; other failures are
// returned as they are, and nothing loops.
TEST_F(Holder, UnreachableProxiesAreFetchedAgainOnce) {
  struct Case {
    const char* name;
    std::vector<HRESULT> script;
    HRESULT result;
    int calls;
  };
  const Case cases[] = {
      {"object not connected, then reached", {CO_E_OBJNOTCONNECTED, S_OK}, S_OK, 2},
      {"disconnected, then reached", {RPC_E_DISCONNECTED, S_OK}, S_OK, 2},
      {"wrong thread, then reached", {RPC_E_WRONG_THREAD, S_OK}, S_OK, 2},
      {"disconnected twice", {RPC_E_DISCONNECTED, RPC_E_DISCONNECTED, S_OK}, RPC_E_DISCONNECTED, 2},
      {"another failure", {E_FAIL, S_OK}, E_FAIL, 1},
      {"server died: maybe run, not repeated", {RPC_E_SERVER_DIED, S_OK}, RPC_E_SERVER_DIED, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMeta fake;
    const long before = gLiveBlocks.load();
    IKvReadMeta* meta = &fake;
    meta->AddRef();
    ASSERT_EQ(KvFio_CreateBlanket(IID_IKvReadMeta, reinterpret_cast<void**>(&meta), nullptr, nullptr), S_OK);
    // From the registering thread (which uses the object itself) and from
    // another thread (which has a cache entry after its first call).
    HRESULT hr = E_UNEXPECTED;
    fake.Script(c.script.data());
    CallingThreadSeenBy(meta, &hr);
    EXPECT_EQ(hr, c.result);
    EXPECT_EQ(fake.calls(), c.calls);
    OnMtaThread([&]() {
      HRESULT first = E_UNEXPECTED, second = E_UNEXPECTED;
      CallingThreadSeenBy(meta, &first);
      fake.Script(c.script.data());
      CallingThreadSeenBy(meta, &second);
      EXPECT_EQ(first, S_OK);
      EXPECT_EQ(second, c.result);
    });
    EXPECT_EQ(fake.calls(), 2 * c.calls + 1);
    EXPECT_EQ(meta->Release(), 0u);
    EXPECT_EQ(fake.refs(), 1);
    EXPECT_EQ(gLiveBlocks.load(), before);
  }
}

TEST_F(Holder, RefreshReplacesTheThreadsEntryInPlace) {
  FakeMeta fake;
  CKvGITHolder holder(IID_IKvReadMeta);
  ASSERT_EQ(holder.Register(&fake), S_OK);
  const LONG registered = fake.refs();
  IUnknown* got = nullptr;
  // The registering thread has no entry: it gets one, and loses the last pair.
  ASSERT_EQ(holder.RefreshForCurrentThread(&fake, &got), S_OK);
  EXPECT_EQ(got, static_cast<IUnknown*>(&fake));
  EXPECT_EQ(holder.map().count(), 1u);
  EXPECT_EQ(holder.lastThreadId(), 0u);
  EXPECT_EQ(fake.refs(), registered + 1);
  // Its entry is replaced, not added to.
  ASSERT_EQ(holder.RefreshForCurrentThread(got, &got), S_OK);
  EXPECT_EQ(holder.map().count(), 1u);
  EXPECT_EQ(fake.refs(), registered + 1);
  holder.Revoke();
  EXPECT_EQ(fake.refs(), 1);
}

}  // namespace

namespace {

// One thread leaves its apartment and enters another (as a new thread does
// that is given the id of an ended thread): the proxy cached for the old
// apartment cannot reach the object any more, and the call goes through a
// fresh one. (A pointer cached in the multithreaded apartment is the object
// itself here, in process, and would keep working from any apartment; so the
// sequence only leaves single-threaded apartments.)
TEST_F(Holder, AThreadThatChangesApartmentIsServedInTheNewOne) {
  FakeMeta fake;
  IKvReadMeta* meta = &fake;
  meta->AddRef();
  ASSERT_EQ(KvFio_CreateBlanket(IID_IKvReadMeta, reinterpret_cast<void**>(&meta), nullptr, nullptr), S_OK);
  const DWORD sequence[] = {COINIT_APARTMENTTHREADED, COINIT_APARTMENTTHREADED, COINIT_APARTMENTTHREADED,
                            COINIT_MULTITHREADED, COINIT_MULTITHREADED};
  std::vector<HRESULT> results;
  std::vector<bool> onCaller;
  std::thread([&]() {
    for (DWORD coinit : sequence) {
      CoInitializeEx(nullptr, coinit);
      DWORD proxies = coinit == COINIT_APARTMENTTHREADED ? KvTestProxies_Register() : 0;
      for (int call = 0; call < 2; ++call) {
        HRESULT hr = E_FAIL;
        DWORD seen = CallingThreadSeenBy(meta, &hr);
        results.push_back(hr);
        onCaller.push_back(seen == GetCurrentThreadId());
      }
      KvTestProxies_Revoke(proxies);
      CoUninitialize();
    }
  }).join();
  for (size_t i = 0; i < results.size(); ++i) {
    SCOPED_TRACE("call " + std::to_string(i));
    EXPECT_EQ(results[i], S_OK) << std::hex << results[i];
    // Calls from the single-threaded apartments go through a proxy.
    EXPECT_EQ(onCaller[i], sequence[i / 2] == COINIT_MULTITHREADED);
  }
  EXPECT_EQ(meta->Release(), 0u);
  EXPECT_EQ(fake.refs(), 1);
}

}  // namespace

namespace {

// Without marshaling support for the interface the table refuses the
// pointer: no blanket is handed out (it could not serve another thread), the
// failure is returned and the caller's reference is given back.
// An object that refuses to be marshaled (its own marshaler fails), so that
// the table cannot register it whatever proxies the system has.
class RefusingMarshal : public IMarshal {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!kvcom::SameIid(iid, IID_IUnknown) && !kvcom::SameIid(iid, IID_IMarshal)) return E_NOINTERFACE;
    *out = static_cast<IMarshal*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream*, REFIID, void**) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD) override { return E_FAIL; }
};

class UnmarshalableMeta : public FakeMeta {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out && kvcom::SameIid(iid, IID_IMarshal)) return refusing_.QueryInterface(iid, out);
    return FakeMeta::QueryInterface(iid, out);
  }

 private:
  RefusingMarshal refusing_;
};

TEST(BlanketRegistration, APointerTheTableRefusesGivesNoBlanket) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // The system may hold proxies of the plug-in interfaces (the surrogate's
  // proxy/stub DLL): the object itself refuses to be marshaled.
  UnmarshalableMeta fake;
  IKvReadMeta* meta = &fake;
  meta->AddRef();
  const long before = gLiveBlocks.load();
  HRESULT hr = KvFio_CreateBlanket(IID_IKvReadMeta, reinterpret_cast<void**>(&meta), nullptr, nullptr);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(meta, nullptr);
  EXPECT_EQ(fake.refs(), 1);
  EXPECT_EQ(gLiveBlocks.load(), before);
  CoUninitialize();
}

}  // namespace
