// The video stream blanket around a fake video stream (no reader of this
// program has one): every argument shape reaches the object unchanged (also
// through a real proxy from a single-threaded apartment), the
// typed blanket keeps the stream's identity, and owner lookups on a chain
// that has no file above it answer "none" instead of following null links.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <thread>

#include "kvblanket.h"
#include "kvcomobject.h"
#include "kvreadroad_proxy_api.h"

namespace {

// Records the arguments of the last call.
class FakeVideo : public IKvReadVideoStream {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    IKvReadVideoStream* self = this;
    return kvcom::QueryFaces(this, iid, out,
                             {{IID_IUnknown, self}, {IID_IKvReadStream, self}, {IID_IKvReadVideoStream, self}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass**) override { return Record(3); }
  IKvReadFile* STDMETHODCALLTYPE GetReadFile() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE GetStreamFlags(DWORD* flags) override { return Record(5, flags ? *flags : 0); }
  HRESULT STDMETHODCALLTYPE GetStreamType(DWORD* type, DWORD*, DWORD*) override {
    if (type) *type = 2;
    return Record(6);
  }
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG*) override { return Record(7); }
  HRESULT STDMETHODCALLTYPE GetStartTime(LONGLONG*) override { return Record(8); }
  HRESULT STDMETHODCALLTYPE SetUserValue(DWORD value) override { return Record(9, value); }
  HRESULT STDMETHODCALLTYPE Close() override { return Record(10); }
  HRESULT STDMETHODCALLTYPE Reserved11(DWORD_PTR a) override { return Record(11, a); }
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2*) override { return Record(12); }
  HRESULT STDMETHODCALLTYPE Reserved13(DWORD_PTR a) override { return Record(13, a); }
  HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR a) override { return Record(14, a); }
  HRESULT STDMETHODCALLTYPE Reserved15(DWORD a, DWORD b, DWORD c, DWORD d) override { return Record(15, a, b, c, d); }
  HRESULT STDMETHODCALLTYPE Reserved16(DWORD a, DWORD b, DWORD c, DWORD d) override { return Record(16, a, b, c, d); }
  HRESULT STDMETHODCALLTYPE ReadFrames(DWORD a, DWORD b, DWORD c, _kvmemorytoken t, DWORD d, DWORD e) override {
    token = t;
    return Record(17, a, b, c, d, e);
  }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD a, DWORD b, DWORD c) override { return Record(18, a, b, c); }
  HRESULT STDMETHODCALLTYPE Reserved19(DWORD a, DWORD b, DWORD c) override { return Record(19, a, b, c); }
  HRESULT STDMETHODCALLTYPE SetDoubleParam(double value) override {
    real = value;
    return Record(20);
  }
  HRESULT STDMETHODCALLTYPE Reserved21(DWORD_PTR a) override { return Record(21, a); }
  HRESULT STDMETHODCALLTYPE Reserved22(DWORD_PTR a) override { return Record(22, a); }

  LONG refs = 1;
  int slot = 0;
  DWORD_PTR words[5] = {};
  _kvmemorytoken token = {};
  double real = 0;

 private:
  // Each slot answers with its own number, so a call that lands in the wrong
  // slot shows.
  HRESULT Record(int s, DWORD_PTR a = 0, DWORD_PTR b = 0, DWORD_PTR c = 0, DWORD_PTR d = 0, DWORD_PTR e = 0) {
    slot = s;
    words[0] = a;
    words[1] = b;
    words[2] = c;
    words[3] = d;
    words[4] = e;
    return MAKE_HRESULT(0, 0x77, s);
  }
};

// Every slot shape with distinct values; the fake must see them all.
void CheckEverySlot(IKvReadVideoStream* video, FakeVideo& fake) {
  // Distinct values in every field of the token; the handle and the address
  // with a high half where they have one (the 64-bit build).
  _kvmemorytoken token;
  std::memset(&token, 0, sizeof token);
  DWORD* fields[] = {&token.reserved1, &token.offset, &token.reserved3, &token.size,
                     &token.size2,     &token.reserved7, &token.isMapping, &token.ownerProcessId};
  for (int i = 0; i < 8; ++i) *fields[i] = 0x1000u + i * 0x111u;
  token.mapping = static_cast<DWORD_PTR>(0xA1B2C3D400002000ull);
  token.base = static_cast<DWORD_PTR>(0xE5F6071800003000ull);
  EXPECT_EQ(video->ReadFrames(1, 2, 3, token, 4, 5), MAKE_HRESULT(0, 0x77, 17));
  EXPECT_EQ(fake.slot, 17);
  EXPECT_EQ(fake.token.mapping, token.mapping);
  EXPECT_EQ(fake.token.base, token.base);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(&fake.token) +
                                              (reinterpret_cast<const BYTE*>(fields[i]) -
                                               reinterpret_cast<const BYTE*>(&token))),
              *fields[i])
        << "field " << i;
  EXPECT_EQ(fake.words[0], 1u);
  EXPECT_EQ(fake.words[4], 5u);
  EXPECT_EQ(video->SetDoubleParam(29.97002997), MAKE_HRESULT(0, 0x77, 20));
  EXPECT_EQ(fake.real, 29.97002997);
  EXPECT_EQ(video->Reserved15(11, 12, 13, 14), MAKE_HRESULT(0, 0x77, 15));
  EXPECT_EQ(fake.words[3], 14u);
  EXPECT_EQ(video->Reserved16(21, 22, 23, 24), MAKE_HRESULT(0, 0x77, 16));
  EXPECT_EQ(fake.words[0], 21u);
  EXPECT_EQ(video->Reserved18(31, 32, 33), MAKE_HRESULT(0, 0x77, 18));
  EXPECT_EQ(fake.words[2], 33u);
  EXPECT_EQ(video->Reserved19(41, 42, 43), MAKE_HRESULT(0, 0x77, 19));
  EXPECT_EQ(fake.words[1], 42u);
  struct {
    HRESULT (STDMETHODCALLTYPE IKvReadVideoStream::*call)(DWORD_PTR);
    int slot;
  } const oneWord[] = {{&IKvReadVideoStream::Reserved11, 11}, {&IKvReadVideoStream::Reserved13, 13},
                       {&IKvReadVideoStream::Reserved14, 14}, {&IKvReadVideoStream::Reserved21, 21},
                       {&IKvReadVideoStream::Reserved22, 22}};
  // The one-word slots carry a pointer-sized word: in the 64-bit build its
  // high half must arrive too (the conversion leaves 0 in the 32-bit build).
  const DWORD_PTR highHalf = static_cast<DWORD_PTR>(0x5A5A3C3C00000000ull);
  for (const auto& c : oneWord) {
    const DWORD_PTR word = highHalf + 0xABC0u + c.slot;
    EXPECT_EQ((video->*c.call)(word), MAKE_HRESULT(0, 0x77, c.slot));
    EXPECT_EQ(fake.slot, c.slot);
    EXPECT_EQ(fake.words[0], word);
  }
  EXPECT_EQ(video->SetUserValue(99), MAKE_HRESULT(0, 0x77, 9));
  EXPECT_EQ(fake.words[0], 99u);
  BYTE format[kKvFileStreamFormatInfoV2Size] = {};
  EXPECT_EQ(video->GetStreamFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(format)),
            MAKE_HRESULT(0, 0x77, 12));
  EXPECT_EQ(video->Close(), MAKE_HRESULT(0, 0x77, 10));

}

class VideoBlanket : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    proxies_ = KvTestProxies_Register();
  }
  void TearDown() override {
    KvTestProxies_Revoke(proxies_);
    CoUninitialize();
  }
  DWORD proxies_ = 0;
};

TEST_F(VideoBlanket, ArgumentsPassUnchangedAndIdentityIsTheStreams) {
  FakeVideo fake;
  IKvReadStream* stream = &fake;
  stream->AddRef();
  ASSERT_EQ(KvFio_CreateBlanket(IID_IKvReadStream, reinterpret_cast<void**>(&stream), nullptr, nullptr), S_OK);
  IKvReadVideoStream* video = nullptr;
  ASSERT_EQ(stream->QueryInterface(IID_IKvReadVideoStream, reinterpret_cast<void**>(&video)), S_OK);
  ASSERT_NE(video, nullptr);
  EXPECT_NE(static_cast<void*>(video), static_cast<void*>(&fake));

  // Identity: IUnknown and IKvReadStream are the stream blanket's.
  IUnknown* unknown = nullptr;
  ASSERT_EQ(video->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(stream));
  unknown->Release();

  // Every slot shape: from this thread (the object itself) and from a
  // single-threaded apartment (through a proxy).
  CheckEverySlot(video, fake);
  std::thread([&]() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    DWORD proxies = KvTestProxies_Register();
    CheckEverySlot(video, fake);
    KvTestProxies_Revoke(proxies);
    CoUninitialize();
  }).join();

  // No file blanket above this stream: the owners are absent, not followed.
  EXPECT_EQ(video->GetReadFile(), nullptr);
  EXPECT_EQ(stream->GetReadFile(), nullptr);
  IKvReadFileClass* owner = reinterpret_cast<IKvReadFileClass*>(&fake);
  EXPECT_EQ(video->GetReadFileClass(&owner), E_NOINTERFACE);
  EXPECT_EQ(owner, nullptr);
  EXPECT_EQ(stream->GetReadFileClass(&owner), E_NOINTERFACE);
  EXPECT_EQ(fake.slot, 10);  // the object was not asked

  EXPECT_EQ(video->Release(), 0u);
  EXPECT_EQ(stream->Release(), 0u);
  EXPECT_EQ(fake.refs, 1);
}

}  // namespace
