// The identification table: fifty tests tried in a fixed order, the first
// that succeeds naming the format. Every test checks the byte count before it
// reads; the MP4 box walks check every size read from the file against the
// bytes that are really there.
#include "kvfileid_rules.h"

#include <cstring>
#include <initializer_list>

#include "kvbyteorder.h"
#include "kvwave64.h"

namespace {

// Limits of the MP4 walks: boxes looked at per search and tracks per file, so
// that a file of millions of tiny boxes cannot keep the walk busy.
constexpr int kMaxBoxesPerSearch = 4096;
constexpr int kMaxTracks = 256;
// The MXF key may stand anywhere in the file's first 64 KiB.
constexpr uint32_t kMxfSearchBytes = 64 * 1024;
// Frame scans look at whole buffers of at least this size.
constexpr uint32_t kFrameScanMinBytes = 2048;


constexpr uint32_t Four(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

// 28-bit number stored as four 7-bit bytes (ID3 tag sizes).
uint32_t SyncSafe(const uint8_t* p) {
  return (uint32_t(p[0] & 0x7F) << 21) | (uint32_t(p[1] & 0x7F) << 14) | (uint32_t(p[2] & 0x7F) << 7) | (p[3] & 0x7F);
}

struct Ctx {
  const uint8_t* b;
  uint32_t n;
  const char* ext;  // "" when unknown
  KvFileIdReader* file;

  bool Has(uint32_t bytes) const { return n >= bytes; }
  // The bytes of `text` stand at `at`.
  bool At(uint32_t at, const char* text, uint32_t len) const {
    return at <= n && n - at >= len && std::memcmp(b + at, text, len) == 0;
  }
  template <size_t N>
  bool At(uint32_t at, const char (&text)[N]) const {
    return At(at, text, N - 1);
  }
  bool ExtKnown() const { return ext[0] != 0; }
  bool ExtIs(const char* e) const { return std::strcmp(ext, e) == 0; }
};

// --- MPEG audio frame headers ---------------------------------------------

enum class MpegLayer { kNone, kI, kII, kIII };

// The layer of a valid frame header (11 sync bits, a version that is not the
// reserved one, bitrate index 1-14, sample-rate index 0-2), else kNone.
MpegLayer FrameHeaderLayer(uint32_t h) {
  if ((h >> 21) != 0x7FF) return MpegLayer::kNone;
  if (((h >> 19) & 3) == 1) return MpegLayer::kNone;
  uint32_t bitrate = (h >> 12) & 0xF;
  if (bitrate < 1 || bitrate > 14) return MpegLayer::kNone;
  if (((h >> 10) & 3) > 2) return MpegLayer::kNone;
  switch ((h >> 17) & 3) {
    case 1: return MpegLayer::kIII;
    case 2: return MpegLayer::kII;
    case 3: return MpegLayer::kI;
    default: return MpegLayer::kNone;
  }
}

// Scans the buffer for frame headers (a 0xFF byte followed by a byte with its
// top three bits set); the layer of the first valid layer II or III header.
MpegLayer FirstFrameLayer(const Ctx& c) {
  if (!c.Has(kFrameScanMinBytes)) return MpegLayer::kNone;
  for (uint32_t i = 0; i + 4 <= c.n; ++i) {
    if (c.b[i] != 0xFF || (c.b[i + 1] & 0xE0) != 0xE0) continue;
    MpegLayer layer = FrameHeaderLayer(GetBE32(c.b + i));
    if (layer == MpegLayer::kII || layer == MpegLayer::kIII) return layer;
  }
  return MpegLayer::kNone;
}

// --- MP4 boxes in the file --------------------------------------------------

struct Box {
  uint64_t start = 0;
  uint64_t size = 0;
  uint32_t header = 8;  // 16 with a 64-bit size
  uint64_t End() const { return start + size; }
  uint64_t Body() const { return start + header; }
};

bool ReadExact(KvFileIdReader* file, uint64_t offset, void* out, uint32_t size) {
  return file->ReadAt(offset, out, size) == size;
}

// The first box of type `type` among the boxes from `start` to `end`. A size
// of 0, one smaller than the box header, or one that runs past `end` ends the
// search unsuccessfully.
bool FindBox(KvFileIdReader* file, uint64_t start, uint64_t end, uint32_t type, Box* out) {
  uint64_t pos = start;
  for (int i = 0; i < kMaxBoxesPerSearch && pos < end && end - pos >= 8; ++i) {
    uint8_t h[16];
    if (!ReadExact(file, pos, h, 8)) return false;
    uint64_t size = GetBE32(h);
    uint32_t header = 8;
    if (size == 1) {
      if (end - pos < 16 || !ReadExact(file, pos + 8, h + 8, 8)) return false;
      size = GetBE64(h + 8);
      header = 16;
    }
    if (size < header || size > end - pos) return false;
    if (GetBE32(h + 4) == type) {
      out->start = pos;
      out->size = size;
      out->header = header;
      return true;
    }
    pos += size;
  }
  return false;
}

bool FindChild(KvFileIdReader* file, const Box& parent, uint32_t type, Box* out) {
  return FindBox(file, parent.Body(), parent.End(), type, out);
}

// Four bytes at `offset` bytes into a box, when the box holds them.
bool BoxWord(KvFileIdReader* file, const Box& box, uint32_t offset, uint32_t* out) {
  uint8_t w[4];
  if (box.size < uint64_t(offset) + 4 || !ReadExact(file, box.start + offset, w, 4)) return false;
  *out = GetBE32(w);
  return true;
}

// The handler type of a track ("vide", "soun" ...), 0 when it has none.
uint32_t TrackHandler(KvFileIdReader* file, const Box& trak, Box* mdia) {
  Box hdlr;
  uint32_t type = 0;
  if (FindChild(file, trak, Four("mdia"), mdia) && FindChild(file, *mdia, Four("hdlr"), &hdlr))
    BoxWord(file, hdlr, 16, &type);
  return type;
}

// The sample-description box of a track's media.
bool TrackStsd(KvFileIdReader* file, const Box& mdia, Box* stsd) {
  Box minf, stbl;
  return FindChild(file, mdia, Four("minf"), &minf) && FindChild(file, minf, Four("stbl"), &stbl) &&
         FindChild(file, stbl, Four("stsd"), stsd);
}

// Calls `visit(trak)` for each track of the file's movie box until it returns
// false; false when the file has no movie box.
template <typename Visit>
bool ForEachTrack(KvFileIdReader* file, Visit visit) {
  Box moov;
  if (!FindBox(file, 0, file->Size(), Four("moov"), &moov)) return false;
  uint64_t pos = moov.Body();
  Box trak;
  for (int i = 0; i < kMaxTracks && FindBox(file, pos, moov.End(), Four("trak"), &trak); ++i) {
    if (!visit(trak)) break;
    pos = trak.End();
  }
  return true;
}

// A descriptor's tag and its 1-4 length bytes (each but the last with its top
// bit set) at `*i`; leaves `*i` at the descriptor's body.
bool DescriptorHead(const uint8_t* d, uint32_t n, uint32_t* i, uint8_t tag) {
  if (*i >= n || d[*i] != tag) return false;
  ++*i;
  for (int k = 0; k < 4; ++k) {
    if (*i >= n) return false;
    uint8_t byte = d[(*i)++];
    if (!(byte & 0x80)) return true;
  }
  return false;
}

// The audio object type of an elementary-stream descriptor (the "esds" box's
// body after its version and flags): ES descriptor (tag 3) with its optional
// fields, decoder configuration (tag 4, 13 fixed bytes), decoder-specific
// information (tag 5), whose first five bits are the object type. Lengths
// are read in their 1- to 4-byte forms: writers differ in which they use.
int AudioObjectType(const uint8_t* d, uint32_t n) {
  uint32_t i = 0;
  if (!DescriptorHead(d, n, &i, 3)) return -1;
  if (n - i < 3) return -1;
  uint8_t flags = d[i + 2];
  i += 3;
  if (flags & 0x80) i += 2;  // depends-on stream id
  if (flags & 0x40) {        // URL: length byte and text
    if (i >= n) return -1;
    i += 1 + d[i];
  }
  if (flags & 0x20) i += 2;  // OCR stream id
  if (i > n || !DescriptorHead(d, n, &i, 4)) return -1;
  if (n - i < 13) return -1;
  i += 13;
  if (!DescriptorHead(d, n, &i, 5) || i >= n) return -1;
  return d[i] >> 3;
}

// Bytes of the "esds" body looked at: enough for every optional field.
constexpr uint32_t kEsdsBytes = 512;

bool TrackSoundIsAac(KvFileIdReader* file, const Box& mdia) {
  Box stsd;
  if (!TrackStsd(file, mdia, &stsd)) return false;
  // The first sample entry, 16 bytes into "stsd", must be "mp4a"; its "esds"
  // box stands 36 bytes into the entry.
  uint8_t h[8];
  if (stsd.size < 16 + 8 || !ReadExact(file, stsd.start + 16, h, 8)) return false;
  Box entry{stsd.start + 16, GetBE32(h), 8};
  if (GetBE32(h + 4) != Four("mp4a") || entry.size < 8 || entry.End() > stsd.End()) return false;
  if (entry.size < 36 + 8 || !ReadExact(file, entry.start + 36, h, 8)) return false;
  Box esds{entry.start + 36, GetBE32(h), 8};
  if (GetBE32(h + 4) != Four("esds") || esds.size < 12 || esds.End() > entry.End()) return false;
  uint64_t bodySize = esds.size - 12;
  if (bodySize < 23) return false;
  uint8_t d[kEsdsBytes];
  uint32_t n = bodySize < kEsdsBytes ? uint32_t(bodySize) : kEsdsBytes;
  if (!ReadExact(file, esds.start + 12, d, n)) return false;
  int aot = AudioObjectType(d, n);
  return aot == 2 || aot == 5 || aot == 29;
}

// --- "ftyp" brands -----------------------------------------------------------

// The "ftyp" box at the start: its size capped to the buffer, at least `min`.
bool FtypSize(const Ctx& c, uint32_t min, uint32_t* size) {
  if (!c.Has(12) || !c.At(4, "ftyp")) return false;
  uint32_t s = GetBE32(c.b);
  if (s > c.n) s = c.n;
  if (s < min) return false;
  *size = s;
  return true;
}

// Calls `visit(brand)` for the major brand and each compatible brand (the
// minor version is skipped) until it returns false.
template <typename Visit>
void ForEachBrand(const Ctx& c, uint32_t ftypSize, Visit visit) {
  if (!visit(GetBE32(c.b + 8))) return;
  for (uint32_t at = 16; at + 4 <= ftypSize; at += 4)
    if (!visit(GetBE32(c.b + at))) return;
}

bool HasBrand(const Ctx& c, uint32_t ftypSize, std::initializer_list<uint32_t> brands) {
  bool found = false;
  ForEachBrand(c, ftypSize, [&](uint32_t brand) {
    for (uint32_t b : brands) found = found || brand == b;
    return !found;
  });
  return found;
}

// --- The tests ---------------------------------------------------------------

bool Ac3(const Ctx& c) {
  if (c.ExtKnown() && !c.ExtIs(".ac3")) return false;
  if (!c.Has(1)) return false;
  uint32_t off = 0;
  if (c.b[0] == 0) {
    off = 16;
  } else if (c.b[0] < 64 && c.b[0] != 0x0B) {
    // A short wrapper whose length is its second byte.
    if (!c.Has(2)) return false;
    if (c.b[1] > 16) off = c.b[1];
  }
  if (c.n < off || c.n - off < 40) return false;
  const uint8_t* p = c.b + off;
  uint8_t q[6];
  std::memcpy(q, p, 6);
  if (p[0] == 0x77) {  // byte-swapped 16-bit words
    for (int i = 0; i < 6; i += 2) {
      q[i] = p[i + 1];
      q[i + 1] = p[i];
    }
  }
  if (GetBE16(q) != 0x0B77) return false;
  uint32_t sampleRateCode = q[4] >> 6;
  uint32_t frameSizeCode = q[4] & 0x3F;
  return sampleRateCode <= 2 && frameSizeCode <= 37;
}

bool QuickTime(const Ctx& c) {
  if (!c.Has(16)) return false;
  uint32_t type = GetBE32(c.b + 4);
  uint32_t next = GetBE32(c.b + 12);
  switch (type) {
    case Four("mdat"): return true;
    case Four("pnot"): return c.b[12] == 0 && c.b[13] == 0;
    case Four("moov"): return next == Four("mvhd") || next == Four("cmov");
    case Four("ftyp"): return GetBE32(c.b + 8) == Four("isom") || GetBE32(c.b + 8) == Four("qt  ");
    case Four("wide"): return next == Four("mdat");
    case Four("free"): return next == Four("mvhd") || next == Four("cmov") || next == 0;
    case Four("skip"): {
      uint64_t size = GetBE32(c.b);
      if (size > uint64_t(c.n) + 8) return true;
      if (size + 8 > c.n) return false;
      uint32_t following = GetBE32(c.b + size + 4);
      return following == Four("mdat") || following == Four("wide") || following == Four("free") ||
             following == Four("skip") || following == Four("pnot") || following == Four("moov");
    }
    default: return false;
  }
}

bool Gif(const Ctx& c) { return c.Has(6) && c.At(0, "GIF8") && (c.b[4] == '7' || c.b[4] == '9') && c.b[5] == 'a'; }

bool Tiff(const Ctx& c) { return c.At(0, "II*\0", 4) || c.At(0, "MM\0*", 4); }

bool Targa(const Ctx& c) {
  if (!c.Has(18)) return false;
  uint32_t depth;
  switch (c.b[2]) {
    case 1:
    case 9:
      if (c.b[1] != 1) return false;
      depth = c.b[7];
      break;
    case 2:
    case 3:
    case 10:
    case 11: depth = c.b[16]; break;
    default: return false;
  }
  if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
  return c.b[12] != 0 && c.b[14] != 0;
}

bool Aiff(const Ctx& c) { return c.Has(12) && c.At(0, "FORM") && (c.At(8, "AIFF") || c.At(8, "AIFC")); }

bool RiffForm(const Ctx& c, const char* form) { return c.Has(12) && c.At(0, "RIFF") && c.At(8, form, 4); }
uint32_t RiffSize(const Ctx& c) { return GetLE32(c.b + 4); }

bool Avi(const Ctx& c) {
  if (!RiffForm(c, "AVI ")) return false;
  int32_t size = static_cast<int32_t>(RiffSize(c));
  return size < 0 || size > 2048;
}

bool Dv(const Ctx& c) {
  if (!c.Has(563)) return false;
  for (int k = 0; k < 8; ++k)
    if (c.b[80 * k + 1] != 0x07) return false;
  const uint8_t* b = c.b;
  if (b[0] != 0x1F || b[2] != 0 || (b[3] != 0x3F && b[3] != 0xBF)) return false;
  if (b[80] != 0x3F || b[82] != 0) return false;
  if (b[160] != 0x3F || b[162] != 1) return false;
  for (int k = 3; k <= 5; ++k)
    if ((b[80 * k] >> 4) != 0x5 || b[80 * k + 2] != k - 3) return false;
  if ((b[480] >> 4) != 0x7 || b[482] != 0) return false;
  return (b[560] >> 4) == 0x9 && b[562] == 0;
}

bool M4a(const Ctx& c) {
  uint32_t size;
  if (!FtypSize(c, 12, &size)) return false;
  bool yes = false;
  ForEachBrand(c, size, [&](uint32_t brand) {
    if (brand == Four("M4V ") || brand == Four("M4VH")) return false;
    if (brand == Four("M4A ")) {
      yes = true;
      return false;
    }
    return true;
  });
  return yes;
}

bool TransportStream(const Ctx& c) {
  static const uint32_t kPacket[2][2] = {{188, 0}, {192, 4}};
  for (const auto& p : kPacket) {
    uint32_t size = p[0], first = p[1];
    if (c.n < first + 3 * size) continue;
    bool all = true;
    for (uint32_t at = first; at < c.n && all; at += size) all = c.b[at] == 'G';
    if (all) return true;
  }
  return false;
}

bool Mpeg2(const Ctx& c) {
  if (c.Has(5) && c.At(0, "\0\0\1\xBA", 4) && (c.b[4] >> 6) == 1) return true;
  if (c.Has(377) && c.b[0] == 'G' && c.b[188] == 'G' && c.b[376] == 'G') return true;
  return c.At(0, "\0\0\1\xB3", 4) || c.At(0, "DVDVIDEO-");
}

bool Mpeg1(const Ctx& c) {
  if (c.Has(5) && c.At(0, "\0\0\1\xBA", 4) && c.b[4] < 0x40) return true;
  return c.At(0, "\0\0\1\xB3", 4);
}

bool Mp3Scan(const Ctx& c) { return FirstFrameLayer(c) == MpegLayer::kIII; }

bool Mp3Id3(const Ctx& c) {
  if (!c.Has(14) || !c.At(0, "ID3")) return false;
  uint64_t end = 10 + uint64_t(SyncSafe(c.b + 6));
  if (end + 4 > c.n) return true;  // the tag runs past the buffer
  if (FrameHeaderLayer(GetBE32(c.b + end)) == MpegLayer::kIII) return true;
  return Mp3Scan(c);
}

bool Bmp(const Ctx& c) { return c.At(0, "BM"); }

bool Jpeg(const Ctx& c) {
  if (!c.Has(10) || !c.At(0, "\xFF\xD8\xFF", 3)) return false;
  return (c.b[3] == 0xE0 && c.At(6, "JFIF")) || c.b[3] == 0xE1 || c.b[3] == 0xDB;
}

bool Dpx(const Ctx& c) { return c.At(0, "SDPX"); }
bool Png(const Ctx& c) { return c.At(0, "\x89PNG\r\n\x1A\n", 8); }
bool Exr(const Ctx& c) { return c.At(0, "\x76\x2F\x31\x01", 4); }
bool Psd(const Ctx& c) { return c.Has(26) && c.At(0, "8BPS"); }
bool Swf(const Ctx& c) { return c.Has(9) && (c.At(0, "FWS") || c.At(0, "FWC")); }

bool PalNtc(const Ctx& c) {
  if (!c.Has(9)) return false;
  return c.At(0, "PAL") || c.At(0, "NTC") || c.At(0, "P\0A\0L\0", 6) || c.At(0, "N\0T\0C\0", 6);
}

bool RiffKva(const Ctx& c) { return RiffForm(c, "KVA "); }

// A "fmt " chunk at byte 12 whose format tag is 0x1971.
bool Fmt1971(const Ctx& c) { return c.Has(22) && c.At(12, "fmt ") && GetLE16(c.b + 20) == 0x1971; }

bool WaveScot(const Ctx& c) { return RiffForm(c, "WAVE") && !Fmt1971(c) && c.Has(69) && c.At(60, "scot"); }

bool Wave1971(const Ctx& c) { return RiffForm(c, "WAVE") && RiffSize(c) != 0 && c.Has(25) && Fmt1971(c); }

bool RiffAudio(const Ctx& c, const char* form) {
  if (!RiffForm(c, form) || RiffSize(c) == 0) return false;
  return !c.Has(25) || !Fmt1971(c);
}
bool Wave(const Ctx& c) { return RiffAudio(c, "WAVE"); }
bool Csw(const Ctx& c) { return RiffAudio(c, "CSW "); }

const uint8_t kAsfHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool Wave64(const Ctx& c) {
  return c.Has(40) && std::memcmp(c.b, &KVRIFF64_RIFF, 16) == 0 && std::memcmp(c.b + 24, &KVRIFF64_WAVE, 16) == 0;
}

bool Tivo(const Ctx& c) { return c.At(0, "TiVo"); }

bool Asf(const Ctx& c) {
  if (!c.Has(30) || std::memcmp(c.b, kAsfHeaderId, 16) != 0) return false;
  uint64_t size = GetLE64(c.b + 16);
  return size >= 1 && size <= 0x3FFFFF;
}
bool Wma(const Ctx& c) { return c.ExtIs(".wma") && Asf(c); }
bool Wmv(const Ctx& c) { return (c.ExtIs(".wmv") || c.ExtIs(".asf")) && Asf(c); }
bool DvrMs(const Ctx& c) { return (c.ExtIs(".dvr-ms") || c.ExtIs(".dvr")) && Asf(c); }

bool Ea3(const Ctx& c) {
  if (!c.Has(14) || !c.At(0, "ea3") || c.b[3] != 3 || c.b[4] != 0) return false;
  uint64_t tag = SyncSafe(c.b + 6);
  if (c.n < tag + 13) return true;
  return c.At(uint32_t(10 + tag), "EA3");
}

bool Aaf(const Ctx& c) { return c.At(8, "AAF"); }

bool ThreeGpp(const Ctx& c) {
  uint32_t size;
  if (!FtypSize(c, 20, &size) || GetBE32(c.b + 8) == Four("mp42")) return false;
  for (uint32_t at = 16; at + 4 <= size; at += 4) {
    uint32_t brand = GetBE32(c.b + at);
    if (brand == Four("3gp4") || brand == Four("3gp5") || brand == Four("3gp6") || brand == Four("3gp7")) return true;
  }
  return false;
}

bool AvcStream(const Ctx& c) { return c.ExtIs(".avc") || c.ExtIs(".bsf"); }

bool Mp4Aac(const Ctx& c) {
  uint32_t size;
  if (!FtypSize(c, 12, &size)) return false;
  uint32_t major = GetBE32(c.b + 8);
  if (major == Four("M4V ") || major == Four("M4A ") || major == Four("M4VP") || major == Four("M4VH")) return false;
  if (!HasBrand(c, size, {Four("mp42"), Four("mp41"), Four("M4VH")})) return false;
  bool video = false, sound = false, aac = false;
  ForEachTrack(c.file, [&](const Box& trak) {
    Box mdia;
    uint32_t handler = TrackHandler(c.file, trak, &mdia);
    if (handler == Four("vide")) {
      video = true;
      return false;
    }
    if (handler == Four("soun")) {
      sound = true;
      aac = aac || TrackSoundIsAac(c.file, mdia);
    }
    return true;
  });
  return !video && sound && aac;
}

// An "mp42" file: AVC unless it has video tracks and none of them is AVC.
bool Mp42Avc(KvFileIdReader* file) {
  bool video = false, avc = false;
  ForEachTrack(file, [&](const Box& trak) {
    Box mdia, stsd;
    if (TrackHandler(file, trak, &mdia) != Four("vide")) return true;
    video = true;
    uint32_t entry = 0;
    avc = TrackStsd(file, mdia, &stsd) && BoxWord(file, stsd, 20, &entry) && entry == Four("avc1");
    return !avc;
  });
  return avc || !video;
}

bool Mp4Avc(const Ctx& c) {
  uint32_t size;
  if (!c.Has(13) || !FtypSize(c, 12, &size)) return false;
  int verdict = -1;
  ForEachBrand(c, size, [&](uint32_t brand) {
    if (brand == Four("avc1")) verdict = 1;
    else if (brand == Four("mp42")) verdict = Mp42Avc(c.file) ? 1 : 0;
    return verdict < 0;
  });
  return verdict == 1;
}

bool Mp4Video(const Ctx& c) {
  uint32_t size;
  return FtypSize(c, 12, &size) && HasBrand(c, size, {Four("M4VH"), Four("qt  "), Four("M4V "), Four("mp42"),
                                                       Four("M4VP"), Four("MSNV")});
}

bool Mxf(const Ctx& c) {
  static const uint8_t kKey[11] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02};
  // Read in blocks; each block after the first repeats the last 10 bytes of
  // the one before, so that a key across a block edge is found.
  uint8_t block[4096];
  uint64_t limit = c.file->Size() < kMxfSearchBytes ? c.file->Size() : kMxfSearchBytes;
  uint32_t kept = 0;
  for (uint64_t pos = 0; pos < limit;) {
    uint32_t want = uint32_t(sizeof(block) - kept);
    if (limit - pos < want) want = uint32_t(limit - pos);
    uint32_t got = c.file->ReadAt(pos, block + kept, want);
    if (got == 0) break;
    uint32_t have = kept + got;
    for (uint32_t i = 0; i + sizeof(kKey) <= have; ++i)
      if (block[i] == 0x06 && std::memcmp(block + i, kKey, sizeof(kKey)) == 0) return true;
    kept = have < sizeof(kKey) - 1 ? have : uint32_t(sizeof(kKey) - 1);
    std::memmove(block, block + have - kept, kept);
    pos += got;
  }
  return c.ExtIs(".mxf");
}

bool Ogg(const Ctx& c) { return c.Has(6) && c.At(0, "OggS"); }
bool Flac(const Ctx& c) { return c.Has(6) && c.At(0, "fLaC"); }

bool TypedAudio(const Ctx& c) {
  if (!c.Has(3)) return false;
  uint32_t word = GetLE16(c.b);
  if (word != 0xFFFF && word != 1) return false;
  switch (c.b[2]) {
    case 5: case 12: case 13: case 14: case 16: case 17: case 18: case 19: return true;
    default: return false;
  }
}

bool Au(const Ctx& c) { return c.At(0, ".snd"); }
bool Magic0538(const Ctx& c) { return c.At(0, "\x05\x38", 2); }
bool Vox(const Ctx& c) { return c.ExtIs(".vox"); }
bool Raw(const Ctx& c) { return c.ExtIs(".raw"); }
bool RealMedia(const Ctx& c) { return c.ExtIs(".rm") || c.ExtIs(".rmvb"); }

bool Mp2(const Ctx& c) {
  if (c.ExtKnown() && !c.ExtIs(".mp2")) return false;
  return FirstFrameLayer(c) == MpegLayer::kII;
}

struct Row {
  bool (*test)(const Ctx&);
  KVFILEID_IDENTIFIED_TYPE code;
};

// The order matters: earlier rows take files that later rows would also take.
const Row kRows[] = {
    {Ac3, KVFILEID_AC3},
    {QuickTime, KVFILEID_QUICKTIME},
    {Gif, KVFILEID_GIF},
    {Tiff, KVFILEID_TIFF},
    {Targa, KVFILEID_TGA},
    {Aiff, KVFILEID_AIFF},
    {Avi, KVFILEID_AVI},
    {Dv, KVFILEID_DV},
    {M4a, KVFILEID_M4A},
    {TransportStream, KVFILEID_MPEG_TS},
    {Mpeg2, KVFILEID_MPEG2},
    {Mpeg1, KVFILEID_MPEG1},
    {Mp3Id3, KVFILEID_MP3},
    {Bmp, KVFILEID_BMP},
    {Jpeg, KVFILEID_JPEG},
    {Dpx, KVFILEID_DPX},
    {Png, KVFILEID_PNG},
    {Exr, KVFILEID_EXR},
    {Psd, KVFILEID_PSD},
    {Swf, KVFILEID_SWF},
    {PalNtc, KVFILEID_PAL_NTC},
    {RiffKva, KVFILEID_RIFF_KVA},
    {WaveScot, KVFILEID_WAVE_SCOT},
    {Wave1971, KVFILEID_WAVE_1971},
    {Wave, KVFILEID_WAVE},
    {Csw, KVFILEID_CSW},
    {Wave64, KVFILEID_WAVE64},
    {Tivo, KVFILEID_TIVO},
    {Wma, KVFILEID_WMA},
    {Wmv, KVFILEID_WMV},
    {DvrMs, KVFILEID_DVRMS},
    {Asf, KVFILEID_ASF},
    {Ea3, KVFILEID_EA3},
    {Aaf, KVFILEID_AAF},
    {ThreeGpp, KVFILEID_3GPP},
    {AvcStream, KVFILEID_AVC_STREAM},
    {Mp4Aac, KVFILEID_MP4_AAC},
    {Mp4Avc, KVFILEID_MP4_AVC},
    {Mp4Video, KVFILEID_MP4_VIDEO},
    {Mxf, KVFILEID_MXF},
    {Ogg, KVFILEID_OGG},
    {Flac, KVFILEID_FLAC},
    {TypedAudio, KVFILEID_TYPED_AUDIO},
    {Au, KVFILEID_AU},
    {Magic0538, KVFILEID_MAGIC_0538},
    {Vox, KVFILEID_VOX},
    {Raw, KVFILEID_RAW},
    {RealMedia, KVFILEID_REALMEDIA},
    {Mp3Scan, KVFILEID_MP3},
    {Mp2, KVFILEID_MP2},
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) == 50, "fifty identification rows");

uint32_t CategoryFlag(uint32_t code) {
  if (code < 0x1000) return KVFILEID_F_AUDIO;
  if (code < 0x2000) return KVFILEID_F_VIDEO;
  return KVFILEID_F_IMAGE;
}

}  // namespace

uint32_t KvFileIdMemoryReader::ReadAt(uint64_t offset, void* out, uint32_t size) {
  if (offset >= count_) return 0;
  uint64_t left = count_ - offset;
  uint32_t n = left < size ? uint32_t(left) : size;
  std::memcpy(out, bytes_ + offset, n);
  return n;
}

KVFILEID_IDENTIFIED_TYPE KvFileId_Identify(const KvFileIdInput& input) {
  static const uint8_t kNoBytes[1] = {0};
  uint32_t count = input.count < KVFILEID_HEADER_BYTES ? input.count : KVFILEID_HEADER_BYTES;
  const uint8_t* bytes = input.bytes && count ? input.bytes : kNoBytes;
  if (!input.bytes) count = 0;
  KvFileIdMemoryReader headerOnly(bytes, count);
  const char* ext = (input.flags & KVFILEID_F_IGNORE_EXTENSION) || !input.extension ? "" : input.extension;
  Ctx c{bytes, count, ext, input.file ? input.file : &headerOnly};
  uint32_t categories = input.flags & KVFILEID_F_CATEGORIES;
  for (const Row& row : kRows) {
    if (categories && !(categories & CategoryFlag(row.code))) continue;
    if (!row.test(c)) continue;
    if (row.code == KVFILEID_WAVE_SCOT && (input.flags & KVFILEID_F_SCOT_AS_WAVE)) return KVFILEID_WAVE;
    return row.code;
  }
  return KVFILEID_NOT_IDENTIFIED;
}

void KvFileId_NormaliseExtension(const uint16_t* chars, size_t length, char (&out)[KVFILEID_EXTENSION_CHARS + 1]) {
  out[0] = 0;
  if (!chars || length == 0) return;
  if (length > KVFILEID_EXTENSION_CHARS) {
    out[0] = '?';
    out[1] = 0;
    return;
  }
  for (size_t i = 0; i < length; ++i) {
    uint16_t ch = chars[i];
    if (ch == 0 || ch > 0x7E) {
      out[0] = '?';
      out[1] = 0;
      return;
    }
    out[i] = char(ch >= 'A' && ch <= 'Z' ? ch + ('a' - 'A') : ch);
  }
  out[length] = 0;
}
