// Handle duplication from a process id: a handle of this process comes back as
// a second handle to the same object; a dead or unknown process gives a Win32
// error as an HRESULT and no handle.
#include <gtest/gtest.h>

#include "kvdizuvo.h"

TEST(DuplicateHandleFromProcessId, SameObjectAndFailures) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  HANDLE copy = nullptr;
  ASSERT_EQ(DuplicateHandleFromProcessId(event, GetCurrentProcessId(), &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, event);
  // Signalling through the copy is seen through the original.
  EXPECT_TRUE(SetEvent(copy));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(copy);

  // A handle value that names nothing.
  copy = reinterpret_cast<HANDLE>(1);
  HRESULT hr = DuplicateHandleFromProcessId(reinterpret_cast<HANDLE>(0x7ff8), GetCurrentProcessId(), &copy);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);
  EXPECT_EQ(copy, nullptr);

  // A process id that is not in use (ids are multiples of 4; 0x7FFFFFFC is never handed out here).
  copy = reinterpret_cast<HANDLE>(1);
  hr = DuplicateHandleFromProcessId(event, 0x7FFFFFFC, &copy);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32);
  EXPECT_EQ(copy, nullptr);

  EXPECT_EQ(DuplicateHandleFromProcessId(event, GetCurrentProcessId(), nullptr), E_POINTER);
  CloseHandle(event);
}
