// The plug-in's render file class as a host creates it: through the DLL's
// class factory, released to a count of 0 at the end of each test.
#pragma once

#include <gtest/gtest.h>

#include "kvfileio.h"
#include "plugin_dll.h"

// The plug-in's renderer (and plug-in) id.
const GUID kRendererId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

class RenderClassFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    IClassFactory* factory = dll_.Factory(kRendererId);
    ASSERT_NE(factory, nullptr);
    void* obj = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IKvRenderFileClass, &obj));
    factory->Release();
    cls_ = static_cast<IKvRenderFileClass*>(obj);
  }
  void TearDown() override {
    if (cls_) {
      EXPECT_EQ(0u, cls_->Release());
    }
  }
  PluginDll dll_;
  IKvRenderFileClass* cls_ = nullptr;
};
