// The flat little-endian layouts that carry metadata between the host and the
// plug-in: the picture block and the SMFMF block (each one self-describing
// record), and the summary, generic and entry streams. Pure byte work, shared
// by the exported block functions, the COM streams and the metadata set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kvbyteorder.h"
#include "kvportable.h"
#include "metadataset.h"

namespace fileutil {

// Picture block: {u32 total, u32 struct version 2, u32 type, u32 MIME byte
// count m, u32 description byte count d, u32 data size n}, then m bytes of
// UTF-16 MIME type with its NUL, d bytes of description, n bytes of data.
const uint32_t kPictureBlockHeaderSize = 24;
const uint32_t kPictureBlockVersion = 2;
// SMFMF block: {u32 total = n + 16, u32 format version, u32 struct version 2, u32 n}, then the data.
const uint32_t kSmfmfBlockHeaderSize = 16;
const uint32_t kSmfmfFormatVersion = 0x10041;
const uint32_t kSmfmfBlockVersion = 2;

// Stream layouts: header and record sizes, and the version word of every record.
const uint32_t kMetaStreamVersion = 100;
const uint32_t kSummaryHeaderSize = 12;   // {12, 100, item count}
const uint32_t kSummaryItemSize = 12;     // {12, summary id, byte count}, then the text
const uint32_t kGenericHeaderSize = 28;   // {28, 100, entry count, GUID}
const uint32_t kGenericEntrySize = 28;    // {28, 100, GUID, data size}, then the data
const uint32_t kEntryHeaderSize = 12;     // {12, 100, entry count}, then the data back to back

// Bytes of a text as UTF-16 with its NUL: (characters + 1) x 2; 0 for an
// absent text (null).
uint64_t WideTextByteCount(const std::wstring* text);
// Writes the text's UTF-16LE units followed by a NUL unit.
void PutWideText(uint8_t* p, const std::wstring& text);
// Reads `bytes` bytes of UTF-16LE (an odd last byte is ignored) without the
// trailing NULs.
std::wstring GetWideText(const uint8_t* p, uint64_t bytes);

// 24 + m + d + n (64-bit: the caller checks it against 32 bits).
uint64_t PictureBlockSize(const std::wstring* mimeType, const std::wstring* description, uint64_t dataSize);
// Fills a block of at least PictureBlockSize bytes.
void WritePictureBlock(uint8_t* block, uint32_t type, const std::wstring* mimeType, const std::wstring* description,
                       const uint8_t* data, uint32_t dataSize);
// Parses a block held in `size` bytes; false when its counts do not fit the bytes.
bool ReadPictureBlock(const uint8_t* block, size_t size, PictureRecord& out);
// Builds a whole block as bytes; false when it would pass 4 GB.
bool MakePictureBlock(const PictureRecord& picture, ByteVector& out);

void WriteSmfmfBlock(uint8_t* block, const uint8_t* data, uint32_t dataSize);
bool ReadSmfmfBlock(const uint8_t* block, size_t size, ByteVector& data);
bool MakeSmfmfBlock(const ByteVector& data, ByteVector& out);

// The streams of a set. E_OUTOFMEMORY when the layout would pass 4 GB.
HRESULT BuildSummaryStream(const MetaDataSet& set, ByteVector& out);
HRESULT BuildGenericStream(const MetaDataSet& set, const GUID& guid, ByteVector& out);
HRESULT BuildEntryStream(const MetaDataSet& set, const GUID& guid, ByteVector& out);

}  // namespace fileutil
