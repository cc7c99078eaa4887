// File-handle primitives shared by the RIFF-family functions: exact reads and
// writes, 64-bit positions, and moves that never go backwards.
#pragma once

#include <stdint.h>
#include <string.h>

#include <windows.h>

#include "kvguid.h"

namespace kvriffio {

inline bool GetPos(HANDLE file, uint64_t* pos) {
  LARGE_INTEGER zero, now;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(file, zero, &now, FILE_CURRENT)) return false;
  *pos = static_cast<uint64_t>(now.QuadPart);
  return true;
}

// The current position, 0 when it cannot be had.
inline uint64_t Tell(HANDLE file) {
  uint64_t pos = 0;
  return GetPos(file, &pos) ? pos : 0;
}

// Moves to an absolute position; positions a file cannot have are refused.
inline bool SetPos(HANDLE file, uint64_t pos) {
  if (pos > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

inline bool SeekBy(HANDLE file, int64_t distance) {
  LARGE_INTEGER by;
  by.QuadPart = distance;
  return SetFilePointerEx(file, by, nullptr, FILE_CURRENT) != FALSE;
}

inline bool GetLength(HANDLE file, uint64_t* length) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return false;
  *length = static_cast<uint64_t>(size.QuadPart);
  return true;
}

// The file's length, 0 when it cannot be had.
inline uint64_t FileLength(HANDLE file) {
  uint64_t length = 0;
  return GetLength(file, &length) ? length : 0;
}

// Moves forward by amount bytes. A distance past what a file position can
// hold goes to the end of the file instead: never backwards.
inline bool Forward(HANDLE file, uint64_t amount) {
  if (amount == 0) return true;
  uint64_t pos = 0;
  if (!GetPos(file, &pos)) return false;
  if (amount > static_cast<uint64_t>(INT64_MAX) - pos) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return SetFilePointerEx(file, zero, nullptr, FILE_END) != FALSE;
  }
  return SetPos(file, pos + amount);
}

// Bytes of the file from the current position to its end (0 when past it).
inline bool BytesAhead(HANDLE file, uint64_t* ahead) {
  uint64_t pos = 0, length = 0;
  if (!GetPos(file, &pos) || !GetLength(file, &length)) return false;
  *ahead = length > pos ? length - pos : 0;
  return true;
}

// All size bytes or failure.
inline bool ReadAll(HANDLE file, void* buffer, DWORD size) {
  if (size == 0) return true;
  DWORD got = 0;
  return ReadFile(file, buffer, size, &got, nullptr) && got == size;
}

inline bool WriteAll(HANDLE file, const void* data, DWORD size) {
  if (size == 0) return true;
  DWORD put = 0;
  return WriteFile(file, data, size, &put, nullptr) && put == size;
}

// A RIFF chunk's size with its pad byte.
inline uint64_t Padded(DWORD size) { return static_cast<uint64_t>(size) + (size & 1); }

// A 64-bit RIFF chunk's size rounded up to its 8-byte alignment (saturating).
inline uint64_t RoundUp8(uint64_t n) {
  return n > UINT64_MAX - 7 ? (UINT64_MAX & ~uint64_t(7)) : (n + 7) & ~uint64_t(7);
}

}  // namespace kvriffio
