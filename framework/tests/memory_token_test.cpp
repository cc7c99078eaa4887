// Memory tokens: a buffer of this process, plain memory of another process
// (a private copy written back at Dispose), a file mapping of another process
// at offset 0 and at a non-zero offset, and a process that has ended. The
// other process is tokenowner.exe; its bytes are read back through its own
// dump command.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kvmemorytoken.h"
#include "owner_process.h"

namespace {

_kvmemorytoken Token(DWORD pid, DWORD_PTR base, DWORD offset, DWORD size, DWORD_PTR mapping = 0,
                     bool isMapping = false) {
  _kvmemorytoken t = {};
  t.mapping = mapping;
  t.offset = offset;
  t.size = t.size2 = size;
  t.base = base;
  t.isMapping = isMapping ? 1 : 0;
  t.ownerProcessId = pid;
  return t;
}

}  // namespace

TEST(MemoryToken, SameProcessUsesTheBufferInPlace) {
  std::vector<unsigned char> buffer(4096, 0x11);
  _kvmemorytoken t = Token(GetCurrentProcessId(), static_cast<DWORD>(reinterpret_cast<UINT_PTR>(buffer.data())), 100, 3000);
  CMappingOfKvMemoryToken m(t, 0);
  EXPECT_EQ(m.Pointer(), buffer.data() + 100);
  EXPECT_EQ(m.DataSize(), 3000);
  void* p = nullptr;
  EXPECT_EQ(m.GetPointer(&p), S_OK);
  EXPECT_EQ(p, buffer.data() + 100);
  std::memset(m.Pointer(), 0x22, 3000);
  EXPECT_EQ(m.Dispose(), S_OK);
  EXPECT_EQ(m.Pointer(), nullptr);
  // Nothing was freed or copied: the writes are in the caller's buffer.
  EXPECT_EQ(buffer[99], 0x11);
  EXPECT_EQ(buffer[100], 0x22);
  EXPECT_EQ(buffer[3099], 0x22);
  EXPECT_EQ(buffer[3100], 0x11);
  EXPECT_EQ(m.Dispose(), S_OK);
}

TEST(MemoryToken, OtherProcessMemoryIsCopiedAndWrittenBack) {
  const DWORD size = 4096;
  OwnerProcess owner(size, false);
  ASSERT_TRUE(owner.ok()) << "tokenowner.exe did not start";
  const DWORD offset = 512, length = 2048;
  {
    CMappingOfKvMemoryToken m(Token(owner.pid(), owner.base(), offset, length), 0);
    unsigned char* p = static_cast<unsigned char*>(m.Pointer());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(m.DataSize(), static_cast<long>(length));
    // The private copy holds the owner's bytes at base + offset.
    for (DWORD i = 0; i < length; ++i) ASSERT_EQ(p[i], OwnerProcess::Pattern(offset + i, 3)) << i;
    // Only part of the area is filled; the rest goes back unchanged.
    for (DWORD i = 0; i < 1000; ++i) p[i] = static_cast<unsigned char>(0xA0 ^ i);
    EXPECT_EQ(m.Dispose(), S_OK);
  }
  std::vector<unsigned char> back = owner.Dump(0, size);
  ASSERT_EQ(back.size(), size);
  for (DWORD i = 0; i < size; ++i) {
    unsigned char want = (i >= offset && i < offset + 1000) ? static_cast<unsigned char>(0xA0 ^ (i - offset))
                                                           : OwnerProcess::Pattern(i, 3);
    ASSERT_EQ(back[i], want) << "owner byte " << i;
  }
}

TEST(MemoryToken, FailedWriteBackIsReported) {
  const DWORD size = 4096;
  OwnerProcess owner(size, false);
  ASSERT_TRUE(owner.ok());
  CMappingOfKvMemoryToken m(Token(owner.pid(), owner.base(), 0, size), 0);
  ASSERT_NE(m.Pointer(), nullptr);
  owner.Quit();  // the owner is gone before its data can be given back
  EXPECT_TRUE(FAILED(m.Dispose()));
  EXPECT_EQ(m.Pointer(), nullptr);
}

TEST(MemoryToken, MappingOfAnotherProcessAtOffsets) {
  const DWORD size = 8192;
  for (DWORD offset : {0u, 4100u}) {
    SCOPED_TRACE(offset);
    OwnerProcess owner(size, true);
    ASSERT_TRUE(owner.ok());
    ASSERT_NE(owner.mapping(), 0u);
    const DWORD length = 1024;
    {
      CMappingOfKvMemoryToken m(Token(owner.pid(), owner.base(), offset, length, owner.mapping(), true), 0);
      unsigned char* p = static_cast<unsigned char*>(m.Pointer());
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(m.DataSize(), static_cast<long>(length));
      // The view shows the token's data, not the start of the section.
      for (DWORD i = 0; i < length; ++i) ASSERT_EQ(p[i], OwnerProcess::Pattern(offset + i, 3)) << i;
      std::memset(p, 0xEE, length);
      EXPECT_EQ(m.Dispose(), S_OK);
      EXPECT_EQ(m.Pointer(), nullptr);
    }
    std::vector<unsigned char> back = owner.Dump(0, size);
    ASSERT_EQ(back.size(), size);
    for (DWORD i = 0; i < size; ++i) {
      unsigned char want = (i >= offset && i < offset + length) ? 0xEE : OwnerProcess::Pattern(i, 3);
      ASSERT_EQ(back[i], want) << "owner byte " << i;
    }
  }
}

#ifdef _WIN64
// A buffer above 4 GB: the token carries the whole address.
TEST(MemoryToken, AddressAbove4GBInProcess) {
  void* high = VirtualAlloc(reinterpret_cast<void*>(0x345670000ull), 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!high) GTEST_SKIP() << "no memory at that address";
  ASSERT_GT(reinterpret_cast<DWORD_PTR>(high), 0xFFFFFFFFull);
  {
    CMappingOfKvMemoryToken m(Token(GetCurrentProcessId(), reinterpret_cast<DWORD_PTR>(high), 16, 64), 0);
    EXPECT_EQ(m.Pointer(), static_cast<BYTE*>(high) + 16);
  }
  VirtualFree(high, 0, MEM_RELEASE);
}
#endif

TEST(MemoryToken, DeadProcess) {
  DWORD pid = 0;
  DWORD_PTR base = 0, section = 0;
  {
    OwnerProcess owner(4096, true);
    ASSERT_TRUE(owner.ok());
    pid = owner.pid();
    base = owner.base();
    section = owner.mapping();
  }  // ended and every handle to it closed
  for (bool isMapping : {false, true}) {
    CMappingOfKvMemoryToken m(Token(pid, base, 0, 4096, section, isMapping), 0);
    EXPECT_EQ(m.Pointer(), nullptr);
    EXPECT_EQ(m.DataSize(), -1);
    void* p = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A5A5A));
    EXPECT_EQ(m.GetPointer(&p), E_FAIL);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(m.Dispose(), S_OK);
  }
}

// A mapping whose view cannot be made (the token asks for more than the
// section holds) fails cleanly and keeps no duplicated handle.
TEST(MemoryToken, FailedViewLeavesNoHandle) {
  OwnerProcess owner(4096, true);
  ASSERT_TRUE(owner.ok());
  DWORD before = 0, after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int i = 0; i < 20; ++i) {
    CMappingOfKvMemoryToken m(Token(owner.pid(), owner.base(), 0, 1u << 24, owner.mapping(), true), 0);
    EXPECT_EQ(m.Pointer(), nullptr);
    EXPECT_EQ(m.DataSize(), -1);
  }
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
  // And a good mapping releases its handle when disposed.
  for (int i = 0; i < 20; ++i) {
    CMappingOfKvMemoryToken m(Token(owner.pid(), owner.base(), 0, 4096, owner.mapping(), true), 0);
    EXPECT_NE(m.Pointer(), nullptr);
  }
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
}
