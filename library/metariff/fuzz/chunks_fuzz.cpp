// libFuzzer target of the metadata chunks. The input is
//   byte 0: the kind of the reader's stream (its index in kKinds below),
//   byte 1: bit 0 a 64-bit RIFF file, bit 1 (without bit 0) the sampler as
//           an AIFF instrument, bit 2 a marker rate of 0,
//   bytes 2-3: the stream's item count, bytes 4-5: the file's length n,
//   then n bytes of the file (RIFF, 64-bit RIFF, AIFF or a sidecar) and the
//   reader's stream (the items after its header, or a whole legacy stream).
// The file's sidecar name is read; the stale chunks of the kind are deleted;
// the stream is written into the file. The file and the stream must never be
// read or written outside their bytes, every block must be released, and:
// a stream refused as malformed leaves the file as it was (its kinds read
// every item before they write), and a file whose size fields matched its
// length before matches it after a write that succeeded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kvbyteorder.h"
#include "kvfile.h"
#include "kvmetachunks.h"
#include "kvresult.h"
#include "kvriff.h"
#include "kvwave64.h"

namespace {

// The reader's stream, held in memory.
class MemoryStream : public IStream {
 public:
  MemoryStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  HRESULT Read(void* buffer, ULONG n, ULONG* got) override {
    size_t left = pos_ < size_ ? size_ - pos_ : 0;
    size_t k = n < left ? n : left;
    if (k) std::memcpy(buffer, data_ + pos_, k);
    pos_ += k;
    if (got) *got = static_cast<ULONG>(k);
    return k == n ? S_OK : S_FALSE;
  }
  HRESULT Write(const void*, ULONG, ULONG* put) override {
    if (put) *put = 0;
    return E_NOTIMPL;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
    int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? int64_t(pos_) : int64_t(size_);
    int64_t at = base + move.QuadPart;
    if (move.QuadPart > 0 && base > INT64_MAX - move.QuadPart) return E_INVALIDARG;
    if (at < 0) return E_INVALIDARG;
    pos_ = size_t(at);
    if (newPos) newPos->QuadPart = uint64_t(at);
    return S_OK;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The generic kinds, then the two legacy streams.
const KVFIO_TYPESOFMETADATA kKinds[] = {
    KVFIO_META_SUMMARY, KVFIO_META_MARKERS, KVFIO_META_PLAYLIST, KVFIO_META_DISPLAY, KVFIO_META_SAMPLER,
    KVFIO_META_RAW,     KVFIO_META_SCOT,    KVFIO_META_TLST,     KVFIO_META_STR2,    KVFIO_META_BMRK,
    KVFIO_META_DTBT,    KVFIO_META_KV03,    KVFIO_META_KV04,     KVFIO_META_BMPI,    KVFIO_META_BMPM,
};
const size_t kGeneric = sizeof(kKinds) / sizeof(kKinds[0]);
const size_t kLegacyMarkers = kGeneric, kLegacySummary = kGeneric + 1;

// The file's own size field matches its length.
bool Tight(const std::vector<uint8_t>& b, bool riff64) {
  if (riff64) {
    if (b.size() < 24 || std::memcmp(b.data(), &KVRIFF64_RIFF, 16) != 0) return false;
    uint64_t size = 0;
    std::memcpy(&size, b.data() + 16, 8);
    return size == b.size();
  }
  if (b.size() < 12) return false;
  if (std::memcmp(b.data(), "RIFF", 4) == 0) return GetLE32(b.data() + 4) + uint64_t(8) == b.size();
  if (std::memcmp(b.data(), "FORM", 4) == 0)
    return (uint64_t(b[4]) << 24 | uint64_t(b[5]) << 16 | uint64_t(b[6]) << 8 | b[7]) + 8 == b.size();
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const size_t which = data[0] % (kGeneric + 2);
  // The sampler goes into AIFF files only, never 64-bit RIFF ones (as the
  // dispatcher asks for it).
  const bool riff64 = data[1] & 1, asAiff = !riff64 && (data[1] & 2) != 0;
  const unsigned long rate = (data[1] & 4) ? 0 : 44100;
  const DWORD count = GetLE16(data + 2);
  size_t fileSize = GetLE16(data + 4);
  data += 6;
  size -= 6;
  if (fileSize > size) fileSize = size;
  KvMemoryFile file(data, fileSize);
  MemoryStream stream(data + fileSize, size - fileSize);

  for (DWORD cch : {1u, 5u, 260u}) {
    char name[260];
    std::memset(name, 'x', sizeof name);
    if (SUCCEEDED(KvFMMeta_ReadAttachedName(&file, name, cch)) && !std::memchr(name, 0, cch)) std::abort();
  }

  const KVFIO_TYPESOFMETADATA kind =
      which < kGeneric ? kKinds[which] : which == kLegacyMarkers ? KVFIO_META_MARKERS : KVFIO_META_SUMMARY;
  if (riff64) KvFMMeta64_DeleteChunksOfKinds(&file, kind);
  else KvFMMeta_DeleteChunksOfKinds(&file, asAiff ? KVFIO_META_AIFFINST : kind);

  const std::vector<uint8_t> before = file.Bytes();
  HRESULT hr;
  if (which == kLegacyMarkers) hr = KvMetaChunks_WriteLegacyMarkers(&file, &stream, rate, riff64);
  else if (which == kLegacySummary) hr = KvMetaChunks_WriteLegacySummary(&file, &stream, riff64);
  else hr = KvMetaChunks_WriteGeneric(&file, &stream, count, kind, riff64, asAiff);

  // Raw chunks are copied one by one as they are read: a later item refused
  // keeps the earlier ones.
  if (hr == KV_E_READ && kind != KVFIO_META_RAW && file.Bytes() != before) std::abort();
  if (SUCCEEDED(hr) && Tight(before, riff64) && !Tight(file.Bytes(), riff64)) std::abort();
  return 0;
}
