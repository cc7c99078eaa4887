// The small file layer under the stream buffers: Win32 file handles in the
// Windows build, POSIX descriptors natively. Positions are 64-bit throughout.
#pragma once

#include <cstdint>
#include <string>

namespace fileutil {

#ifdef _WIN32
typedef void* FileHandle;  // a Win32 HANDLE
#else
typedef intptr_t FileHandle;  // a POSIX file descriptor
#endif

FileHandle InvalidFileHandle();

// Access, share, disposition and flag values (the Win32 values on both builds).
const uint32_t kGenericRead = 0x80000000u;
const uint32_t kGenericWrite = 0x40000000u;
const uint32_t kFileShareRead = 0x1;
const uint32_t kFileShareWrite = 0x2;
const uint32_t kCreateNew = 1;
const uint32_t kCreateAlways = 2;
const uint32_t kOpenExisting = 3;
const uint32_t kOpenAlways = 4;
const uint32_t kFlagsSequentialScan = 0x08000080u;  // sequential scan, normal attributes
const uint32_t kFlagsRandomAccess = 0x10000080u;    // random access, normal attributes
const uint32_t kFlagsNormal = 0x00000080u;

enum SeekOrigin { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

FileHandle FileOpen(const wchar_t* path, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags);
bool FileRead(FileHandle file, void* buffer, uint32_t count, uint32_t& got);
bool FileWrite(FileHandle file, const void* buffer, uint32_t count, uint32_t& written);
// Asked right after a failed FileWrite: true when the volume had no room left.
bool LastWriteFoundDiskFull();
bool FileSeek(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t& position);
// Cuts the file (or extends it) to `size` bytes; the file position is kept.
bool FileTruncate(FileHandle file, uint64_t size);
bool FileClose(FileHandle file);

bool FileExists(const wchar_t* path);
// Renames; fails when the target exists.
bool FileMove(const wchar_t* from, const wchar_t* to);
bool FileDelete(const wchar_t* path);
bool FileGetSize(const wchar_t* path, uint64_t& size);

}  // namespace fileutil
