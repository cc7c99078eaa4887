// The module's entry points and class factory, called as a host calls them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvfileio.h"
#include "plugin_dll.h"

namespace {

const GUID kSomeClsid = {0x12345678, 0x9abc, 0xdef0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
const GUID kRendererId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

std::string Hex(HRESULT hr) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

class ClassFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(dll_.module(), nullptr) << "vogaac2.dll did not load";
    ASSERT_NE(dll_.GetClassObject(), nullptr);
  }
  PluginDll dll_;
};

TEST_F(ClassFactoryTest, AnyClassIdGivesTheFactory) {
  struct Case {
    const char* what;
    GUID clsid;
  };
  const Case cases[] = {{"null class id", GUID_NULL},
                        {"plug-in info class id", CLSID_KvUnsharedFIOPluginInfo},
                        {"renderer id", kRendererId},
                        {"unrelated class id", kSomeClsid}};
  for (const Case& c : cases) {
    for (const IID* iid : {&IID_IClassFactory, &IID_IUnknown}) {
      void* object = nullptr;
      HRESULT hr = dll_.GetClassObject()(c.clsid, *iid, &object);
      EXPECT_EQ(hr, S_OK) << c.what << ": " << Hex(hr);
      ASSERT_NE(object, nullptr) << c.what;
      IClassFactory* factory = static_cast<IClassFactory*>(object);
      // The entry handed out the only reference.
      EXPECT_EQ(factory->AddRef(), 2u) << c.what;
      EXPECT_EQ(factory->Release(), 1u) << c.what;
      EXPECT_EQ(factory->Release(), 0u) << c.what;
    }
  }
}

TEST_F(ClassFactoryTest, ClassObjectRefusesOtherInterfaces) {
  for (const IID* iid : {&IID_IKvReadFile, &IID_IKvReadFileClass, &IID_IKvUnsharedFIOPluginInfo, &IID_IStream}) {
    void* object = UntouchedPointer();
    EXPECT_EQ(dll_.GetClassObject()(kSomeClsid, *iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, UntouchedPointer()) << "out-pointer written on failure";
  }
  EXPECT_EQ(static_cast<DWORD>(E_NOINTERFACE), 0x80004002u);
}

TEST_F(ClassFactoryTest, NullOutPointersAreRefused) {
  EXPECT_EQ(dll_.GetClassObject()(kSomeClsid, IID_IClassFactory, nullptr), E_POINTER);
  IClassFactory* factory = dll_.Factory(kSomeClsid);
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvReadMeta, nullptr), E_POINTER);
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(factory->Release(), 0u);
}

// Each key interface creates its object with one reference, and the object
// answers its own interface with the same pointer.
TEST_F(ClassFactoryTest, KeyInterfacesCreateTheirObjects) {
  struct Case {
    const char* what;
    const IID* iid;
  };
  const Case cases[] = {{"IKvRenderFileClass", &IID_IKvRenderFileClass},
                        {"IKvReadFileClass", &IID_IKvReadFileClass},
                        {"IKvUnsharedFIOPluginInfo", &IID_IKvUnsharedFIOPluginInfo},
                        {"IKvReadMeta", &IID_IKvReadMeta}};
  IClassFactory* factory = dll_.Factory(kSomeClsid);
  ASSERT_NE(factory, nullptr);
  for (const Case& c : cases) {
    void* object = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, *c.iid, &object);
    ASSERT_EQ(hr, S_OK) << c.what << ": " << Hex(hr);
    ASSERT_NE(object, nullptr) << c.what;
    IUnknown* unknown = static_cast<IUnknown*>(object);
    EXPECT_EQ(unknown->AddRef(), 2u) << c.what << ": count after creation is not 1";
    EXPECT_EQ(unknown->Release(), 1u) << c.what;

    void* again = nullptr;
    ASSERT_EQ(unknown->QueryInterface(*c.iid, &again), S_OK) << c.what;
    EXPECT_EQ(again, object) << c.what << ": its own interface is another pointer";
    EXPECT_EQ(unknown->Release(), 1u) << c.what;
    void* other = UntouchedPointer();
    EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE) << c.what;
    EXPECT_EQ(other, nullptr) << c.what << ": a refusal clears the out-pointer";
    EXPECT_EQ(unknown->Release(), 0u) << c.what;
  }
  EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ClassFactoryTest, OtherInterfacesCreateNothing) {
  IClassFactory* factory = dll_.Factory(kSomeClsid);
  ASSERT_NE(factory, nullptr);
  const IID* refused[] = {&IID_IUnknown,        &IID_IClassFactory,     &IID_IKvReadFile,
                          &IID_IKvReadStream,   &IID_IKvReadAudioStream, &IID_IKvRenderFile,
                          &IID_IKvReadPlimMeta, &IID_IKvRenderMetaSupport2};
  for (const IID* iid : refused) {
    void* object = UntouchedPointer();
    EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, UntouchedPointer());
  }
  EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ClassFactoryTest, FactoryAnswersItsOwnInterfacesOnly) {
  IClassFactory* factory = dll_.Factory(kSomeClsid);
  ASSERT_NE(factory, nullptr);
  void* object = nullptr;
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(object, factory);
  EXPECT_EQ(factory->Release(), 1u);
  object = UntouchedPointer();
  EXPECT_EQ(factory->QueryInterface(IID_IKvReadFileClass, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr) << "the factory clears the out-pointer first";
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->Release(), 0u);
}

// The faces of the metadata reader and of the render class lead to one object.
TEST_F(ClassFactoryTest, MultiFaceObjectsShareOneCount) {
  IClassFactory* factory = dll_.Factory(kSomeClsid);
  ASSERT_NE(factory, nullptr);
  struct Case {
    const IID* key;
    std::vector<const IID*> faces;
  };
  const Case cases[] = {
      {&IID_IKvReadMeta,
       {&IID_IUnknown, &IID_IKvReadGenericMeta, &IID_IKvReadProjectLinkMeta, &IID_IKvReadProjectLinkMetaEx,
        &IID_IKvReadMediaMgrMeta, &IID_IKvReadPlimMeta}},
      {&IID_IKvRenderFileClass, {&IID_IUnknown, &IID_IKvRenderMetaSupport, &IID_IKvRenderMetaSupport2}},
  };
  for (const Case& c : cases) {
    IUnknown* primary = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, *c.key, reinterpret_cast<void**>(&primary)), S_OK);
    ULONG expected = 1;
    std::vector<IUnknown*> faces;
    for (const IID* face : c.faces) {
      IUnknown* p = nullptr;
      ASSERT_EQ(primary->QueryInterface(*face, reinterpret_cast<void**>(&p)), S_OK);
      faces.push_back(p);
      ++expected;
      // AddRef through the face counts on the same object.
      EXPECT_EQ(p->AddRef(), expected + 1);
      EXPECT_EQ(p->Release(), expected);
    }
    for (IUnknown* p : faces) EXPECT_EQ(p->Release(), --expected);
    EXPECT_EQ(primary->Release(), 0u);
  }
  EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ClassFactoryTest, ModuleNeverAsksToUnload) {
  ASSERT_NE(dll_.CanUnloadNow(), nullptr);
  EXPECT_EQ(dll_.CanUnloadNow()(), S_FALSE);
  IClassFactory* factory = dll_.Factory(kSomeClsid);
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(dll_.CanUnloadNow()(), S_FALSE);
  factory->Release();
  EXPECT_EQ(dll_.CanUnloadNow()(), S_FALSE);
  ASSERT_NE(dll_.InitClasses(), nullptr);
  dll_.InitClasses()(0);
}

// Attach and detach run cleanly more than once in a process.
TEST(ModuleLifetime, LoadsAgainAfterUnload) {
  for (int round = 0; round < 3; ++round) {
    PluginDll dll;
    ASSERT_NE(dll.module(), nullptr) << "round " << round;
    IClassFactory* factory = dll.Factory(GUID_NULL);
    ASSERT_NE(factory, nullptr) << "round " << round;
    IUnknown* info = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvUnsharedFIOPluginInfo, reinterpret_cast<void**>(&info)), S_OK);
    if (info) info->Release();
    factory->Release();
  }
}

TEST(ExportedGuidCompare, ComparesAllSixteenBytes) {
  PluginDll dll;
  ASSERT_NE(dll.IsEqualGuid(), nullptr) << "_IsEqualGUID@8 is not exported";
  PluginDll::IsEqualGuidFn same = dll.IsEqualGuid();
  const GUID base = IID_IKvReadMeta;
  EXPECT_EQ(same(&base, &base), TRUE);
  GUID copy = base;
  EXPECT_EQ(same(&base, &copy), TRUE);
  for (int byte = 0; byte < 16; ++byte) {
    GUID other = base;
    reinterpret_cast<BYTE*>(&other)[byte] ^= 0x01;
    EXPECT_EQ(same(&base, &other), FALSE) << "difference in byte " << byte;
    EXPECT_EQ(same(&other, &base), FALSE) << "difference in byte " << byte;
  }
  EXPECT_EQ(same(&base, nullptr), FALSE);
}

}  // namespace
