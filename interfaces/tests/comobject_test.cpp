// The COM object helpers: QueryInterface over a face list (the face of each
// id, one reference per answer, a cleared out-pointer on every refusal) and
// the interlocked count that deletes its object at zero.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>

#include "kvcomobject.h"

namespace {

const IID kFirstId = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const IID kSecondId = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56}};
const IID kOptionalId = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x57}};

// An object with two faces (two bases, each with a virtual table of its own)
// and an id it answers only while offersOptional is set.
struct First : public IUnknown {};
struct Second : public IUnknown {};

class TwoFaces : public First, public Second {
 public:
  explicit TwoFaces(int* deleted = nullptr) : deleted_(deleted) {}
  virtual ~TwoFaces() {
    if (deleted_) ++*deleted_;
  }
  bool offersOptional = false;
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    First* first = this;
    Second* second = this;
    return kvcom::QueryFaces(this, riid, ppv,
                             {{IID_IUnknown, first},
                              {kFirstId, first},
                              {kSecondId, second},
                              {kOptionalId, offersOptional ? second : nullptr}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return kvcom::AddRefCount(refs); }
  ULONG STDMETHODCALLTYPE Release() override { return kvcom::ReleaseRef(this, refs); }

 private:
  int* deleted_;
};

void* const kPoison = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5A));

TEST(QueryFaces, AnswersEachIdWithItsFaceAndOneReference) {
  TwoFaces object;
  struct Case {
    const char* name;
    const IID& iid;
    void* face;
  } const cases[] = {
      {"IUnknown", IID_IUnknown, static_cast<First*>(&object)},
      {"first", kFirstId, static_cast<First*>(&object)},
      {"second", kSecondId, static_cast<Second*>(&object)},
  };
  ASSERT_NE(cases[1].face, cases[2].face) << "the two faces are distinct pointers";
  for (const Case& c : cases) {
    void* out = kPoison;
    const LONG before = object.refs;
    EXPECT_EQ(object.QueryInterface(c.iid, &out), S_OK) << c.name;
    EXPECT_EQ(out, c.face) << c.name;
    EXPECT_EQ(object.refs, before + 1) << c.name;
  }
}

TEST(QueryFaces, RefusalsClearTheOutPointerAndAddNoReference) {
  TwoFaces object;
  struct Case {
    const char* name;
    const IID& iid;
  } const cases[] = {
      {"unknown id", IID_IStream},
      {"face not offered now", kOptionalId},
      {"null id", GUID_NULL},
  };
  for (const Case& c : cases) {
    void* out = kPoison;
    EXPECT_EQ(object.QueryInterface(c.iid, &out), E_NOINTERFACE) << c.name;
    EXPECT_EQ(out, nullptr) << c.name;
    EXPECT_EQ(object.refs, 1) << c.name;
  }
  EXPECT_EQ(object.QueryInterface(kFirstId, nullptr), E_POINTER);
  EXPECT_EQ(object.refs, 1);
  object.offersOptional = true;
  void* out = kPoison;
  EXPECT_EQ(object.QueryInterface(kOptionalId, &out), S_OK);
  EXPECT_EQ(out, static_cast<Second*>(&object));
}

TEST(QueryFaces, FindFaceWithoutAReference) {
  TwoFaces object;
  Second* second = &object;
  EXPECT_EQ(kvcom::FindFace(kSecondId, {{kFirstId, nullptr}, {kSecondId, second}}), second);
  EXPECT_EQ(kvcom::FindFace(kFirstId, {{kFirstId, nullptr}, {kSecondId, second}}), nullptr);
  EXPECT_EQ(object.refs, 1);
}

TEST(RefCount, DeletesAtZeroAndReportsEachCount) {
  int deleted = 0;
  TwoFaces* object = new TwoFaces(&deleted);
  EXPECT_EQ(object->AddRef(), 2u);
  IUnknown* second = nullptr;
  ASSERT_EQ(object->QueryInterface(kSecondId, reinterpret_cast<void**>(&second)), S_OK);
  EXPECT_EQ(second->Release(), 2u) << "a release through the second face counts on the same object";
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(deleted, 1);
}

}  // namespace
