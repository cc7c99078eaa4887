// Helpers shared by the template record code and its loaders: the record's
// layout arithmetic with every range kept inside the record, the V1 reader's
// byte source, and the parts of the loaders that need no Win32.
#pragma once

#include "kvtemplate.h"
#include "kvtemplate_v1.h"

namespace kvtemplate {

// The codec block (and what follows it) of a record.
inline BYTE* CodecBlock(tagKVTEMPLATExV2* t) { return reinterpret_cast<BYTE*>(t) + kKvTemplateHeaderSize; }
inline const BYTE* CodecBlock(const tagKVTEMPLATExV2* t) {
  return reinterpret_cast<const BYTE*>(t) + kKvTemplateHeaderSize;
}

inline uint64_t Round4(uint64_t x) { return (x + 3) & ~uint64_t(3); }

// Bytes the layout of a record with these sizes needs (no minimum applied).
inline uint64_t LayoutBytes(uint64_t blockSize, uint64_t stringChars) {
  return kKvTemplateHeaderSize + Round4(blockSize) + 2 * stringChars;
}

// The ranges of a record's codec block and string area, cut to the record's
// own total size, so that code handed an inconsistent record never reads
// past it.
struct Layout {
  DWORD blockBytes;    // codec-block bytes inside the record
  DWORD stringOffset;  // offset of the string area
  DWORD stringChars;   // string-area code units inside the record
};
Layout RecordLayout(const tagKVTEMPLATExV2* t);

// Length of a NUL-terminated UTF-16 string (0 for null).
size_t StrLen16(const WCHAR* s);
// Length of the string at `s` if a NUL lies within `limit` units, else -1.
long BoundedStrLen16(const WCHAR* s, size_t limit);

// The checks every loaded V2 record passes: 536 + round4(block) + 2 x length
// <= total size <= available bytes, total size of at least `minimum`, and
// part sizes of 0 or 200. Computed in 64 bits.
bool V2LayoutIsSound(const tagKVTEMPLATExV2* t, uint64_t available, DWORD minimum);

// The whole-file acceptance rule of the file loader. S_OK or
// KV_E_CORRUPT.
HRESULT CheckFileImage(const BYTE* data, uint64_t bytesRead);

// Where a loader reads from. Read gives the number of bytes that arrived in
// *got; a failing HRESULT is the source's own error.
struct ByteSource {
  virtual HRESULT Read(void* dst, DWORD n, DWORD* got) = 0;

 protected:
  ~ByteSource() = default;
};

// The stream loader without the render class's part: reads one record,
// lifting a V1 record to V2 (*wasV1 tells). Errors leave *out null.
HRESULT LoadRecord(tagKVTEMPLATExV2** out, ByteSource& source, DWORD maxVersion, bool* wasV1);

// Reads the V1 stream form after (or, without headerRead, with) its two
// header words into `v1`, whose description blocks the caller provides.
HRESULT ReadV1(KVTEMPLATExV1* v1, ByteSource& source, DWORD maxVersion, bool headerRead);
// Builds the V2 record of a V1 template read by ReadV1.
HRESULT LiftV1(const KVTEMPLATExV1& v1, tagKVTEMPLATExV2** out);
// Frees the format and codec-data blocks ReadV1 allocated (not the
// description blocks themselves) and nulls their pointers.
void FreeV1Data(KVTEMPLATExV1* v1);

// Largest record a stream may announce, and the limit of each V1 codec block.
constexpr DWORD kMaxStreamRecord = 0x2000000;

}  // namespace kvtemplate
