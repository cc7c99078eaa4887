// File-handle primitives shared by the RIFF-family functions: exact reads and
// writes, 64-bit positions, and moves that never go backwards. They work on
// the file handles of kvfile.h, so the same code builds natively.
#pragma once

#include <stdint.h>
#include <string.h>

#include "kvfile.h"
#include "kvguid.h"

namespace kvriffio {

inline bool GetPos(HANDLE file, uint64_t* pos) { return kvfile::Seek(file, 0, FILE_CURRENT, pos); }

// The current position, 0 when it cannot be had.
inline uint64_t Tell(HANDLE file) {
  uint64_t pos = 0;
  return GetPos(file, &pos) ? pos : 0;
}

// Moves to an absolute position; positions a file cannot have are refused.
inline bool SetPos(HANDLE file, uint64_t pos) {
  if (pos > static_cast<uint64_t>(INT64_MAX)) return false;
  return kvfile::Seek(file, static_cast<int64_t>(pos), FILE_BEGIN);
}

inline bool SeekBy(HANDLE file, int64_t distance) { return kvfile::Seek(file, distance, FILE_CURRENT); }

inline bool GetLength(HANDLE file, uint64_t* length) { return kvfile::Length(file, length); }

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
  if (amount > static_cast<uint64_t>(INT64_MAX) - pos) return kvfile::Seek(file, 0, FILE_END);
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
  return kvfile::Read(file, buffer, size, &got) && got == size;
}

inline bool WriteAll(HANDLE file, const void* data, DWORD size) {
  if (size == 0) return true;
  DWORD put = 0;
  return kvfile::Write(file, data, size, &put) && put == size;
}

// A RIFF chunk's size with its pad byte.
inline uint64_t Padded(DWORD size) { return static_cast<uint64_t>(size) + (size & 1); }

// A 64-bit RIFF chunk's size rounded up to its 8-byte alignment (saturating).
inline uint64_t RoundUp8(uint64_t n) {
  return n > UINT64_MAX - 7 ? (UINT64_MAX & ~uint64_t(7)) : (n + 7) & ~uint64_t(7);
}

}  // namespace kvriffio
