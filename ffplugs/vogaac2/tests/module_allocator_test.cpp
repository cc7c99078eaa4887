// The module allocator: operator new and delete over zero-filled global memory
// (linked into the test with the plug-in's core, so they serve this program).
#include <gtest/gtest.h>

#include <windows.h>

#include <new>
#include <vector>

#include "module.h"

namespace {

TEST(ModuleAllocator, BlocksAreZeroFilledGlobalMemory) {
  for (size_t size : {1u, 17u, 4096u, 1u << 20}) {
    BYTE* block = static_cast<BYTE*>(vogaac2::ModuleAllocate(size));
    ASSERT_NE(block, nullptr) << size;
    HGLOBAL handle = GlobalHandle(block);
    ASSERT_NE(handle, nullptr) << "not global memory, size " << size;
    EXPECT_GE(GlobalSize(handle), size);
    size_t nonzero = 0;
    for (size_t i = 0; i < size; ++i) nonzero += block[i] != 0;
    EXPECT_EQ(nonzero, 0u) << "size " << size;
    vogaac2::ModuleFree(block);
  }
}

TEST(ModuleAllocator, OperatorNewUsesTheModuleAllocator) {
  int* value = new int(5);
  EXPECT_NE(GlobalHandle(value), nullptr);
  delete value;
  std::vector<double> values(1000, 1.5);
  EXPECT_NE(GlobalHandle(values.data()), nullptr);
  char* array = new char[3];
  EXPECT_NE(GlobalHandle(array), nullptr);
  delete[] array;
}

TEST(ModuleAllocator, ZeroBytesGiveDistinctBlocks) {
  void* a = ::operator new(0);
  void* b = ::operator new(0);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(a, b);
  ::operator delete(a);
  ::operator delete(b);
  ::operator delete(nullptr);
  vogaac2::ModuleFree(nullptr);
}

// A request that cannot be met: the throwing form throws, the nothrow form
// gives null, never a null from the throwing form.
TEST(ModuleAllocator, FailureThrowsOrGivesNull) {
  const size_t huge = static_cast<size_t>(-1) / 2 - 15;  // 0x7FFFFFF0 in the 32-bit build
  EXPECT_THROW(::operator delete(::operator new(huge)), std::bad_alloc);
  EXPECT_THROW(::operator delete[](::operator new[](huge)), std::bad_alloc);
  EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
  EXPECT_EQ(new (std::nothrow) char[huge], nullptr);
  EXPECT_EQ(vogaac2::ModuleAllocate(huge), nullptr);
}

}  // namespace
