// Minimal MP4 sample-table walk and ADTS framing for the aacdec tool. Every
// size and offset is checked against the file before it is used.
#include "trackinput.h"

#include <cstdio>
#include <cstring>

#include "vog_files.h"

namespace {

using vogtest::Be32;
using vogtest::Be64;

struct Span {
  const uint8_t* p;
  uint64_t n;
};

// Finds the first child box of a type inside [p, p + n).
bool findBox(Span in, const char* type, Span* out) {
  uint64_t pos = 0;
  while (pos + 8 <= in.n) {
    uint64_t size = Be32(in.p + pos);
    uint64_t header = 8;
    if (size == 1) {
      if (pos + 16 > in.n) return false;
      size = Be64(in.p + pos + 8);
      header = 16;
    } else if (size == 0) {
      size = in.n - pos;
    }
    if (size < header || size > in.n - pos) return false;
    if (std::memcmp(in.p + pos + 4, type, 4) == 0) {
      *out = Span{in.p + pos + header, size - header};
      return true;
    }
    pos += size;
  }
  return false;
}

bool findPath(Span in, const char* const* path, int depth, Span* out) {
  Span cur = in;
  for (int i = 0; i < depth; ++i)
    if (!findBox(cur, path[i], &cur)) return false;
  *out = cur;
  return true;
}

// Reads an MPEG-4 descriptor header; returns the payload span.
bool descriptor(Span in, uint64_t* pos, int* tag, Span* body) {
  if (*pos >= in.n) return false;
  *tag = in.p[(*pos)++];
  uint64_t len = 0;
  for (int i = 0; i < 4; ++i) {
    if (*pos >= in.n) return false;
    const uint8_t b = in.p[(*pos)++];
    len = (len << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  if (len > in.n - *pos) return false;
  *body = Span{in.p + *pos, len};
  *pos += len;
  return true;
}

bool ascFromEsds(Span esds, std::vector<uint8_t>* asc) {
  if (esds.n < 4) return false;
  Span in{esds.p + 4, esds.n - 4};
  uint64_t pos = 0;
  int tag;
  Span es;
  if (!descriptor(in, &pos, &tag, &es) || tag != 3 || es.n < 3) return false;
  uint64_t p = 2;
  const uint8_t flags = es.p[p++];
  if (flags & 0x80) p += 2;
  if (flags & 0x40) {
    if (p >= es.n) return false;
    p += 1 + es.p[p];
  }
  if (flags & 0x20) p += 2;
  if (p > es.n) return false;
  Span rest{es.p + p, es.n - p};
  pos = 0;
  Span dcd;
  if (!descriptor(rest, &pos, &tag, &dcd) || tag != 4 || dcd.n < 13) return false;
  Span dsiArea{dcd.p + 13, dcd.n - 13};
  pos = 0;
  Span dsi;
  if (!descriptor(dsiArea, &pos, &tag, &dsi) || tag != 5) return false;
  asc->assign(dsi.p, dsi.p + dsi.n);
  return true;
}

}  // namespace

bool TrackInput::open(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open";
    return false;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) file_.insert(file_.end(), buf, buf + n);
  std::fclose(f);
  if (file_.size() >= 2 && file_[0] == 0xFF && (file_[1] & 0xF6) == 0xF0) return openAdts(error);
  return openMp4(error);
}

bool TrackInput::openMp4(std::string* error) {
  Span all{file_.data(), file_.size()};
  Span moov;
  if (!findBox(all, "moov", &moov)) {
    *error = "no moov box";
    return false;
  }
  uint64_t pos = 0;
  while (pos + 8 <= moov.n) {
    uint64_t size = Be32(moov.p + pos);
    if (size < 8 || size > moov.n - pos) break;
    if (std::memcmp(moov.p + pos + 4, "trak", 4) == 0) {
      Span trak{moov.p + pos + 8, size - 8};
      static const char* const stblPath[] = {"mdia", "minf", "stbl"};
      Span stbl, stsd, entry, esds, stsz, stsc, stco;
      bool co64 = false;
      if (findPath(trak, stblPath, 3, &stbl) && findBox(stbl, "stsd", &stsd) && stsd.n >= 8) {
        Span entries{stsd.p + 8, stsd.n - 8};
        if (findBox(entries, "mp4a", &entry) && entry.n >= 28) {
          Span inner{entry.p + 28, entry.n - 28};
          if (findBox(inner, "esds", &esds) && ascFromEsds(esds, &asc_) && findBox(stbl, "stsz", &stsz) &&
              findBox(stbl, "stsc", &stsc) &&
              (findBox(stbl, "stco", &stco) || (co64 = findBox(stbl, "co64", &stco)))) {
            // Sample sizes.
            if (stsz.n < 12) break;
            const uint32_t fixed = Be32(stsz.p + 4), count = Be32(stsz.p + 8);
            if (!fixed && count > (stsz.n - 12) / 4) break;
            for (uint32_t i = 0; i < count; ++i) sizes_.push_back(fixed ? fixed : Be32(stsz.p + 12 + 4 * i));
            // Chunk offsets.
            if (stco.n < 8) break;
            const uint32_t chunks = Be32(stco.p + 4);
            const uint32_t width = co64 ? 8 : 4;
            if (chunks > (stco.n - 8) / width) break;
            std::vector<uint64_t> chunkOffsets;
            for (uint32_t i = 0; i < chunks; ++i)
              chunkOffsets.push_back(co64 ? Be64(stco.p + 8 + 8 * i) : Be32(stco.p + 8 + 4 * i));
            // Samples per chunk.
            if (stsc.n < 8) break;
            const uint32_t runs = Be32(stsc.p + 4);
            if (runs > (stsc.n - 8) / 12) break;
            uint32_t sample = 0;
            for (uint32_t r = 0; r < runs && sample < count; ++r) {
              const uint32_t first = Be32(stsc.p + 8 + 12 * r);
              const uint32_t perChunk = Be32(stsc.p + 12 + 12 * r);
              const uint32_t last = r + 1 < runs ? Be32(stsc.p + 8 + 12 * (r + 1)) : chunks + 1;
              for (uint32_t c = first; c < last && c <= chunks && sample < count; ++c) {
                uint64_t off = chunkOffsets[c - 1];
                for (uint32_t s = 0; s < perChunk && sample < count; ++s) {
                  offsets_.push_back(off);
                  off += sizes_[sample++];
                }
              }
            }
            sizes_.resize(offsets_.size());
            return true;
          }
        }
      }
    }
    pos += size;
  }
  *error = asc_.empty() ? "no AAC track" : "damaged sample tables";
  return false;
}

bool TrackInput::openAdts(std::string* error) {
  uint64_t pos = 0;
  bool first = true;
  while (pos + 7 <= file_.size()) {
    const uint8_t* h = file_.data() + pos;
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) break;
    const bool crc = !(h[1] & 1);
    const int profile = (h[2] >> 6) & 3;
    const int sfi = (h[2] >> 2) & 15;
    const int cc = ((h[2] & 1) << 2) | (h[3] >> 6);
    const uint32_t len = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    const uint32_t headerLen = crc ? 9 : 7;
    if (len < headerLen || pos + len > file_.size()) break;
    if (first) {
      const int aot = profile + 1;
      asc_ = {static_cast<uint8_t>((aot << 3) | (sfi >> 1)), static_cast<uint8_t>(((sfi & 1) << 7) | (cc << 3))};
      first = false;
    }
    offsets_.push_back(pos + headerLen);
    sizes_.push_back(len - headerLen);
    pos += len;
  }
  if (first) {
    *error = "no ADTS frames";
    return false;
  }
  return true;
}

bool TrackInput::next(std::vector<uint8_t>* unit) {
  while (next_ < offsets_.size()) {
    const uint64_t off = offsets_[next_], size = sizes_[next_];
    ++next_;
    if (off > file_.size() || size > file_.size() - off) {
      unit->clear();
      return true;  // a unit outside the file decodes as a failure
    }
    unit->assign(file_.data() + off, file_.data() + off + size);
    return true;
  }
  return false;
}
