// Quick media-file identification, the rules themselves: an ordered table of
// cheap tests (magic numbers, a few header fields, the file name's extension)
// over the first bytes of a file, and two tests that walk the boxes of an MP4
// file. Win32-free: the exported functions (kvfileid.h) feed it the header
// bytes, the extension and a reader of the file.
#pragma once

#include "kvportable.h"

// The identified media format. Codes 2-4095 are audio, 0x1000-0x1FFF video and
// containers, 0x2000 and up still images.
enum KVFILEID_IDENTIFIED_TYPE {
  KVFILEID_UNDECIDED = 0,
  KVFILEID_NOT_IDENTIFIED = 1,

  KVFILEID_WAVE = 2,
  KVFILEID_WAVE64 = 3,
  KVFILEID_MP3 = 4,
  KVFILEID_WAVE_1971 = 5,       // RIFF WAVE whose format tag is 0x1971
  KVFILEID_WAVE_SCOT = 6,       // RIFF WAVE with a "scot" chunk after the format
  KVFILEID_OGG = 7,
  KVFILEID_AC3 = 8,
  KVFILEID_AIFF = 9,
  KVFILEID_TYPED_AUDIO = 10,    // word 0xFFFF or 1, then a sample-type byte
  KVFILEID_AU = 11,
  KVFILEID_MAGIC_0538 = 12,
  KVFILEID_VOX = 13,
  KVFILEID_RIFF_KVA = 14,
  KVFILEID_RAW = 15,
  KVFILEID_EA3 = 16,
  KVFILEID_CSW = 17,
  KVFILEID_MP2 = 18,
  KVFILEID_M4A = 0x13,          // MP4 with the "M4A " brand
  KVFILEID_FLAC = 21,           // 0x15
  KVFILEID_MP4_AAC = 0x14,      // MP4 (mp41/mp42) whose sound is AAC and that has no video

  KVFILEID_AVI = 0x1000,
  KVFILEID_MPEG1 = 0x1001,
  KVFILEID_MPEG2 = 0x1002,
  KVFILEID_ASF = 0x1003,
  KVFILEID_WMV = 0x1004,
  KVFILEID_WMA = 0x1005,
  KVFILEID_DVRMS = 0x1006,
  KVFILEID_TIVO = 0x1007,
  KVFILEID_REALMEDIA = 0x1008,
  KVFILEID_QUICKTIME = 0x1009,
  KVFILEID_SWF = 0x100A,
  KVFILEID_PAL_NTC = 0x100B,
  KVFILEID_MXF = 0x100C,
  KVFILEID_AAF = 0x100D,
  KVFILEID_MP4_AVC = 0x100E,
  KVFILEID_MP4_VIDEO = 0x100F,
  KVFILEID_3GPP = 0x1010,
  KVFILEID_DV = 0x1011,
  KVFILEID_MPEG_TS = 0x1012,
  KVFILEID_AVC_STREAM = 0x1013,

  KVFILEID_JPEG = 0x2000,
  KVFILEID_PNG = 0x2001,
  KVFILEID_EXR = 0x2002,
  KVFILEID_PSD = 0x2003,
  KVFILEID_GIF = 0x2004,
  KVFILEID_TIFF = 0x2005,
  KVFILEID_TGA = 0x2006,
  KVFILEID_BMP = 0x2007,
  KVFILEID_DPX = 0x2008,
};

// Request flags.
#define KVFILEID_F_IGNORE_EXTENSION 0x01u
#define KVFILEID_F_SCOT_AS_WAVE 0x02u     // report KVFILEID_WAVE_SCOT as KVFILEID_WAVE
#define KVFILEID_F_AUDIO 0x04u            // category filter: audio codes
#define KVFILEID_F_VIDEO 0x08u            // category filter: video and container codes
#define KVFILEID_F_IMAGE 0x10u            // category filter: still-image codes
#define KVFILEID_F_CATEGORIES 0x1Cu

// Bytes of the file's start that the tests look at.
#define KVFILEID_HEADER_BYTES 4096u

// Random access to the file, for the tests that walk MP4 boxes and look for
// the MXF key. A reader over the header bytes alone serves callers that have
// no file.
class KvFileIdReader {
 public:
  virtual ~KvFileIdReader() = default;
  virtual uint64_t Size() = 0;
  // Reads up to `size` bytes at `offset`; the number read (0 at or past the
  // end, or when the read fails).
  virtual uint32_t ReadAt(uint64_t offset, void* out, uint32_t size) = 0;
};

// A reader over bytes in memory.
class KvFileIdMemoryReader : public KvFileIdReader {
 public:
  KvFileIdMemoryReader(const uint8_t* bytes, uint32_t count) : bytes_(bytes), count_(count) {}
  uint64_t Size() override { return count_; }
  uint32_t ReadAt(uint64_t offset, void* out, uint32_t size) override;

 private:
  const uint8_t* bytes_;
  uint32_t count_;
};

// Longest extension (with its dot) that can match a test.
#define KVFILEID_EXTENSION_CHARS 16

struct KvFileIdInput {
  const uint8_t* bytes = nullptr;  // the file's first bytes
  uint32_t count = 0;              // how many (at most KVFILEID_HEADER_BYTES are looked at)
  // The file name's extension with its dot, lower-case ASCII; empty when
  // unknown. An extension that cannot match any test is given as "?".
  const char* extension = "";
  KvFileIdReader* file = nullptr;  // the whole file; null: the header bytes alone
  uint32_t flags = 0;              // KVFILEID_F_*
};

// Walks the table in order and returns the code of the first test that
// succeeds (KVFILEID_WAVE_SCOT becomes KVFILEID_WAVE with
// KVFILEID_F_SCOT_AS_WAVE), or KVFILEID_NOT_IDENTIFIED.
KVFILEID_IDENTIFIED_TYPE KvFileId_Identify(const KvFileIdInput& input);

// Lower-cases an extension (with its dot) for KvFileIdInput: `out` gets ""
// for an empty one and "?" for one that holds non-ASCII characters or is too
// long to match. `chars` are UTF-16 code units.
void KvFileId_NormaliseExtension(const uint16_t* chars, size_t length, char (&out)[KVFILEID_EXTENSION_CHARS + 1]);
