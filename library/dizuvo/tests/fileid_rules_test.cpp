// The identification rules, without Win32: ffmpeg/sox files against what
// ffprobe reports, a table of hand-made headers (every test's boundary),
// MP4 box walks with both descriptor-length forms, and truncated, damaged
// and random inputs (run under AddressSanitizer in the native build: no read
// out of bounds, no hang).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fileid_manifest.h"
#include "kvfileid_rules.h"
#include "vog_tools.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fileidtest::ExpectedCode;
using fileidtest::Fixture;

std::string FixtureDir() { return std::string(VOG_FIXTURE_DIR) + "/fileid/"; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Identifies `file` (the whole file) with its first 4096 bytes as header.
int Identify(const Bytes& file, const std::string& ext = "", uint32_t flags = 0, bool headerOnly = false) {
  KvFileIdMemoryReader reader(file.data(), uint32_t(file.size()));
  KvFileIdInput in;
  in.bytes = file.data();
  in.count = uint32_t(std::min<size_t>(file.size(), KVFILEID_HEADER_BYTES));
  in.extension = ext.c_str();
  in.file = headerOnly ? nullptr : &reader;
  in.flags = flags;
  return KvFileId_Identify(in);
}

// --- building bytes ---

Bytes& Put(Bytes& b, const char* text) {
  b.insert(b.end(), text, text + std::strlen(text));
  return b;
}
Bytes& PutRaw(Bytes& b, std::initializer_list<int> v) {
  for (int x : v) b.push_back(uint8_t(x));
  return b;
}
Bytes& Be32(Bytes& b, uint32_t v) { return PutRaw(b, {int(v >> 24), int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)}); }
Bytes& Le32(Bytes& b, uint32_t v) { return PutRaw(b, {int(v & 255), int(v >> 8 & 255), int(v >> 16 & 255), int(v >> 24)}); }
Bytes& Zeros(Bytes& b, size_t n) {
  b.insert(b.end(), n, 0);
  return b;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(const char* s) {
  Bytes b;
  return Put(b, s);
}
Bytes Raw(std::initializer_list<int> v) {
  Bytes b;
  return PutRaw(b, v);
}
Bytes Cut(Bytes b, size_t size) {
  if (b.size() > size) b.resize(size);
  return b;
}
Bytes Padded(Bytes b, size_t size) {
  if (b.size() < size) b.resize(size, 0);
  return b;
}

Bytes Box(const char* type, const Bytes& payload) {
  Bytes b;
  Be32(b, uint32_t(payload.size() + 8));
  Put(b, type);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

Bytes Ftyp(const char* major, std::initializer_list<const char*> compatible) {
  Bytes p = Text(major);
  Be32(p, 0x200);
  for (const char* c : compatible) Put(p, c);
  return Box("ftyp", p);
}

Bytes Hdlr(const char* handler) {
  Bytes p;
  Zeros(p, 8);
  Put(p, handler);
  Zeros(p, 13);
  return Box("hdlr", p);
}

// A track: mdia with hdlr and minf/stbl/stsd holding one sample entry.
Bytes Trak(const char* handler, const Bytes& entry) {
  Bytes stsd;
  Zeros(stsd, 4);
  Be32(stsd, 1);
  stsd.insert(stsd.end(), entry.begin(), entry.end());
  Bytes mdia = Concat({Hdlr(handler), Box("minf", Box("stbl", Box("stsd", stsd)))});
  return Box("trak", Box("mdia", mdia));
}

// Descriptor length in 1 byte, or in 4 bytes as some writers do.
Bytes DescriptorLength(size_t n, bool long_form) {
  if (!long_form) return Raw({int(n)});
  return Raw({0x80 | int(n >> 21 & 0x7F), 0x80 | int(n >> 14 & 0x7F), 0x80 | int(n >> 7 & 0x7F), int(n & 0x7F)});
}

// An "mp4a" sample entry whose esds carries audio object type `aot`.
Bytes Mp4a(int aot, bool long_form, int es_flags = 0) {
  Bytes asc = Raw({aot << 3 | 2, 0x10});
  Bytes dsi = Concat({Raw({5}), DescriptorLength(asc.size(), long_form), asc});
  Bytes dcd = Raw({0x40, 0x15, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0});
  dcd.insert(dcd.end(), dsi.begin(), dsi.end());
  Bytes dcd_full = Concat({Raw({4}), DescriptorLength(dcd.size(), long_form), dcd});
  Bytes es = Raw({0, 1, es_flags});
  if (es_flags & 0x80) PutRaw(es, {0, 2});
  if (es_flags & 0x40) Put(PutRaw(es, {3}), "abc");
  if (es_flags & 0x20) PutRaw(es, {0, 3});
  es.insert(es.end(), dcd_full.begin(), dcd_full.end());
  PutRaw(es, {6, 1, 2});  // SL configuration
  Bytes esd = Concat({Raw({3}), DescriptorLength(es.size(), long_form), es});
  Bytes esds = Concat({Raw({0, 0, 0, 0}), esd});
  Bytes entry;
  Zeros(entry, 6);
  PutRaw(entry, {0, 1});
  Zeros(entry, 8);
  PutRaw(entry, {0, 2, 0, 16, 0, 0, 0, 0});
  Be32(entry, 44100u << 16);
  Bytes e = Box("esds", esds);
  entry.insert(entry.end(), e.begin(), e.end());
  return Box("mp4a", entry);
}

Bytes VideoEntry(const char* type) {
  Bytes p;
  Zeros(p, 78);
  return Box(type, p);
}

Bytes Mp4(const Bytes& ftyp, std::initializer_list<Bytes> traks, bool moovFirst = true) {
  Bytes moov;
  Bytes mvhd;
  Zeros(mvhd, 100);
  moov = Box("mvhd", mvhd);
  for (const Bytes& t : traks) moov.insert(moov.end(), t.begin(), t.end());
  Bytes mdat = Box("mdat", Bytes(64, 0x5A));
  return moovFirst ? Concat({ftyp, Box("moov", moov), mdat}) : Concat({ftyp, mdat, Box("moov", moov)});
}

// An MPEG audio frame header: MPEG-1, layer (1 = III, 2 = II), bitrate
// index, sample-rate index.
Bytes FrameHeader(int layerBits, int bitrate = 9, int rate = 0, int version = 3) {
  uint32_t h = 0xFFE00000u | uint32_t(version) << 19 | uint32_t(layerBits) << 17 | 1u << 16 |
               uint32_t(bitrate) << 12 | uint32_t(rate) << 10;
  Bytes b;
  return Be32(b, h);
}

Bytes Id3(uint32_t tagSize) {
  Bytes b = Text("ID3");
  PutRaw(b, {4, 0, 0, int(tagSize >> 21 & 0x7F), int(tagSize >> 14 & 0x7F), int(tagSize >> 7 & 0x7F),
             int(tagSize & 0x7F)});
  return Zeros(b, tagSize);
}

Bytes Riff(const char* form, uint32_t size, const Bytes& body = {}) {
  Bytes b = Text("RIFF");
  Le32(b, size);
  Put(b, form);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes FmtChunk(int tag) {
  Bytes b = Text("fmt ");
  Le32(b, 16);
  PutRaw(b, {tag & 255, tag >> 8, 2, 0});
  return Zeros(b, 12);
}

Bytes Asf(uint64_t headerSize) {
  Bytes b = Raw({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
  Le32(b, uint32_t(headerSize));
  Le32(b, uint32_t(headerSize >> 32));
  return Zeros(b, 8);
}

Bytes DvBlocks() {
  Bytes b(640, 0);
  const int ids[8][3] = {{0x1F, 0, 0x3F}, {0x3F, 0, 0}, {0x3F, 1, 0}, {0x5F, 0, 0},
                         {0x5F, 1, 0},    {0x5F, 2, 0}, {0x7F, 0, 0}, {0x9F, 0, 0}};
  for (int k = 0; k < 8; ++k) {
    b[80 * k] = uint8_t(ids[k][0]);
    b[80 * k + 1] = 0x07;
    b[80 * k + 2] = uint8_t(ids[k][1]);
    if (k == 0) b[3] = uint8_t(ids[k][2]);
  }
  return b;
}

Bytes TsPackets(int size, int first, int count, int badAt = -1) {
  Bytes b(size_t(first + size * count), 0);
  for (int k = 0; k < count; ++k) b[size_t(first + k * size)] = k == badAt ? 'H' : 'G';
  return b;
}

Bytes Mxf(size_t at, size_t total) {
  Bytes b(total, 0x11);
  const uint8_t key[11] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02};
  std::copy(key, key + 11, b.begin() + long(at));
  return b;
}

Bytes Ea3(uint32_t tag, bool withHeader) {
  Bytes b = Text("ea3");
  PutRaw(b, {3, 0, 0, int(tag >> 21 & 0x7F), int(tag >> 14 & 0x7F), int(tag >> 7 & 0x7F), int(tag & 0x7F)});
  Zeros(b, tag);
  if (withHeader) Put(b, "EA3");
  return Zeros(b, 8);
}

Bytes Ac3(int srCode, int sizeCode, bool swapped = false) {
  Bytes b = Raw({0x0B, 0x77, 0x12, 0x34, srCode << 6 | sizeCode, 0x40});
  Zeros(b, 34);
  if (swapped)
    for (size_t i = 0; i + 1 < b.size(); i += 2) std::swap(b[i], b[i + 1]);
  return b;
}

Bytes Tga(int type, int cmapType, int cmapDepth, int depth, int width = 64, int height = 48) {
  Bytes b(18, 0);
  b[1] = uint8_t(cmapType);
  b[2] = uint8_t(type);
  b[7] = uint8_t(cmapDepth);
  b[12] = uint8_t(width);
  b[14] = uint8_t(height);
  b[16] = uint8_t(depth);
  return b;
}

struct Case {
  const char* name;
  Bytes bytes;
  const char* ext;
  uint32_t flags;
  int expected;
};

std::vector<Case> HeaderCases() {
  Bytes zeros2048(2048, 0);
  auto at = [](Bytes b, size_t pos, const Bytes& what) {
    if (b.size() < pos + what.size()) b.resize(pos + what.size(), 0);
    std::copy(what.begin(), what.end(), b.begin() + long(pos));
    return b;
  };
  Bytes id3Layer2 = Padded(Concat({Id3(20), FrameHeader(2)}), 2100);
  Bytes wave69 = Padded(Riff("WAVE", 100, FmtChunk(1)), 69);
  Bytes waveScot = at(wave69, 60, Text("scot"));
  Bytes mp4Aac = Mp4(Ftyp("mp42", {"mp42", "isom"}), {Trak("soun", Mp4a(2, false))});
  return {
      // Extension-only rows with nothing to read.
      {"3 bytes .vox", Raw({1, 2, 3}), ".vox", 0, KVFILEID_VOX},
      {"3 bytes .raw", Raw({1, 2, 3}), ".raw", 0, KVFILEID_RAW},
      {"3 bytes .rm", Raw({1, 2, 3}), ".rm", 0, KVFILEID_REALMEDIA},
      {"3 bytes .rmvb", Raw({1, 2, 3}), ".rmvb", 0, KVFILEID_REALMEDIA},
      {"3 bytes .avc", Raw({1, 2, 3}), ".avc", 0, KVFILEID_AVC_STREAM},
      {"3 bytes .bsf", Raw({1, 2, 3}), ".bsf", 0, KVFILEID_AVC_STREAM},
      {"3 bytes .mxf", Raw({1, 2, 3}), ".mxf", 0, KVFILEID_MXF},
      {"3 bytes, no extension", Raw({1, 2, 3}), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"3 bytes .vox, extension ignored", Raw({1, 2, 3}), ".vox", KVFILEID_F_IGNORE_EXTENSION,
       KVFILEID_NOT_IDENTIFIED},
      {"empty .raw", Bytes(), ".raw", 0, KVFILEID_RAW},
      {"3 bytes 'GIF'", Text("GIF"), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"3 bytes 'BM' + 0", Raw({'B', 'M', 0}), "", 0, KVFILEID_BMP},
      // AC-3.
      {"AC-3", Ac3(0, 10), "", 0, KVFILEID_AC3},
      {"AC-3 .ac3", Ac3(2, 37), ".ac3", 0, KVFILEID_AC3},
      {"AC-3 sample-rate code 3", Ac3(3, 10), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"AC-3 frame-size code 38", Ac3(0, 38), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"AC-3 byte-swapped", Ac3(1, 20, true), "", 0, KVFILEID_AC3},
      {"AC-3 39 bytes", Cut(Ac3(0, 10), 39), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"AC-3 named .wav", Ac3(0, 10), ".wav", 0, KVFILEID_NOT_IDENTIFIED},
      {"AC-3 named .wav, extension ignored", Ac3(0, 10), ".wav", KVFILEID_F_IGNORE_EXTENSION, KVFILEID_AC3},
      {"AC-3 after 16 zero bytes", Concat({Bytes(16, 0), Ac3(0, 10)}), "", 0, KVFILEID_AC3},
      {"AC-3 after a 20-byte wrapper", Concat({Raw({1, 20}), Bytes(18, 0), Ac3(0, 10)}), "", 0, KVFILEID_AC3},
      {"AC-3 wrapper length past the buffer", Concat({Raw({1, 200}), Bytes(30, 0)}), "", 0, KVFILEID_NOT_IDENTIFIED},
      // QuickTime boxes at the start.
      {"mdat first", Padded(Box("mdat", Bytes(8, 1)), 16), "", 0, KVFILEID_QUICKTIME},
      {"moov mvhd", Padded(Box("moov", Box("mvhd", Bytes(8, 0))), 16), "", 0, KVFILEID_QUICKTIME},
      {"moov cmov", Padded(Box("moov", Box("cmov", Bytes(8, 0))), 16), "", 0, KVFILEID_QUICKTIME},
      {"moov trak", Padded(Box("moov", Box("trak", Bytes(8, 0))), 16), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"moov 15 bytes", Cut(Box("moov", Box("mvhd", Bytes(8, 0))), 15), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"ftyp isom", Ftyp("isom", {"isom"}), "", 0, KVFILEID_QUICKTIME},
      {"ftyp qt", Ftyp("qt  ", {"qt  "}), "", 0, KVFILEID_QUICKTIME},
      {"wide mdat", Concat({Box("wide", {}), Box("mdat", Bytes(8, 0))}), "", 0, KVFILEID_QUICKTIME},
      {"free mvhd", Concat({Box("free", {}), Box("mvhd", Bytes(8, 0))}), "", 0, KVFILEID_QUICKTIME},
      {"free then zero", Concat({Box("free", {}), Bytes(8, 0)}), "", 0, KVFILEID_QUICKTIME},
      {"free then ftyp", Concat({Box("free", {}), Box("ftyp", Bytes(8, 0))}), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"pnot", Concat({Box("pnot", Bytes(12, 0))}), "", 0, KVFILEID_QUICKTIME},
      {"pnot with bytes 12-13 set", at(Box("pnot", Bytes(12, 0)), 12, Raw({1})), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"skip then moov", Concat({Box("skip", Bytes(4, 0)), Box("moov", Bytes(8, 0))}), "", 0, KVFILEID_QUICKTIME},
      {"skip then jpeg", Concat({Box("skip", Bytes(4, 0)), Box("jpeg", Bytes(8, 0))}), "", 0,
       KVFILEID_NOT_IDENTIFIED},
      {"skip larger than the buffer", at(Bytes(16, 0), 0, Concat({Raw({0, 0, 1, 0}), Text("skip")})), "", 0,
       KVFILEID_QUICKTIME},
      {"skip whose follower is cut off", at(Bytes(16, 0), 0, Concat({Raw({0, 0, 0, 20}), Text("skip")})), "", 0,
       KVFILEID_NOT_IDENTIFIED},
      // Images.
      {"GIF87a", Text("GIF87a"), "", 0, KVFILEID_GIF},
      {"GIF89a", Text("GIF89a"), "", 0, KVFILEID_GIF},
      {"GIF88a", Text("GIF88a"), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"TIFF II", Raw({'I', 'I', '*', 0}), "", 0, KVFILEID_TIFF},
      {"TIFF MM", Raw({'M', 'M', 0, '*'}), "", 0, KVFILEID_TIFF},
      {"TGA true colour 24", Tga(2, 0, 0, 24), "", 0, KVFILEID_TGA},
      {"TGA RLE grey 8", Tga(11, 0, 0, 8), "", 0, KVFILEID_TGA},
      {"TGA depth 17", Tga(2, 0, 0, 17), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"TGA colour map missing", Tga(1, 0, 24, 8), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"TGA colour-mapped, entries of 24", Tga(9, 1, 24, 8), "", 0, KVFILEID_TGA},
      {"TGA width 256", Tga(2, 0, 0, 24, 256), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"TGA 17 bytes", Cut(Tga(2, 0, 0, 24), 17), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"JPEG JFIF", at(Raw({0xFF, 0xD8, 0xFF, 0xE0, 0, 16}), 6, Text("JFIF")), "", 0, KVFILEID_JPEG},
      {"JPEG Exif", Padded(Raw({0xFF, 0xD8, 0xFF, 0xE1}), 10), "", 0, KVFILEID_JPEG},
      {"JPEG quantisation table first", Padded(Raw({0xFF, 0xD8, 0xFF, 0xDB}), 10), "", 0, KVFILEID_JPEG},
      {"JPEG APP0 without JFIF", Padded(Raw({0xFF, 0xD8, 0xFF, 0xE0}), 10), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"JPEG 9 bytes", Padded(Raw({0xFF, 0xD8, 0xFF, 0xDB}), 9), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"DPX big-endian", Padded(Text("SDPX"), 32), "", 0, KVFILEID_DPX},
      {"DPX little-endian", Padded(Text("XPDS"), 32), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"PNG", Raw({0x89, 'P', 'N', 'G', 13, 10, 26, 10}), "", 0, KVFILEID_PNG},
      {"OpenEXR", Raw({0x76, 0x2F, 0x31, 0x01}), "", 0, KVFILEID_EXR},
      {"8BPS", Padded(Text("8BPS"), 26), "", 0, KVFILEID_PSD},
      {"8BPS 25 bytes", Padded(Text("8BPS"), 25), "", 0, KVFILEID_NOT_IDENTIFIED},
      // Containers.
      {"AIFF", Padded(Concat({Text("FORM"), Raw({0, 0, 1, 0}), Text("AIFF")}), 12), "", 0, KVFILEID_AIFF},
      {"AIFC", Padded(Concat({Text("FORM"), Raw({0, 0, 1, 0}), Text("AIFC")}), 12), "", 0, KVFILEID_AIFF},
      {"FORM 8SVX", Padded(Concat({Text("FORM"), Raw({0, 0, 1, 0}), Text("8SVX")}), 12), "", 0,
       KVFILEID_NOT_IDENTIFIED},
      {"AVI size 5000", Riff("AVI ", 5000), "", 0, KVFILEID_AVI},
      {"AVI size 2048", Riff("AVI ", 2048), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"AVI size above 2 GiB", Riff("AVI ", 0x80000010u), "", 0, KVFILEID_AVI},
      {"DV", DvBlocks(), "", 0, KVFILEID_DV},
      {"DV 562 bytes", Cut(DvBlocks(), 562), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"DV block 6 wrong", at(DvBlocks(), 480, Raw({0x5F})), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"ftyp M4A", Ftyp("M4A ", {"M4A ", "mp42", "isom"}), "", 0, KVFILEID_M4A},
      {"ftyp M4A among compatible brands", Ftyp("abcd", {"M4A "}), "", 0, KVFILEID_M4A},
      {"ftyp M4V before M4A", Ftyp("M4V ", {"M4A "}), "", 0, KVFILEID_MP4_VIDEO},
      {"ftyp size cuts the brand list", at(Ftyp("abcd", {"M4A "}), 3, Raw({16})), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"transport stream 188", TsPackets(188, 0, 3), "", 0, KVFILEID_MPEG_TS},
      {"transport stream 192", TsPackets(192, 4, 5), "", 0, KVFILEID_MPEG_TS},
      {"transport stream with a bad sync byte", TsPackets(188, 0, 8, 1), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"two packets and one sync byte", Cut(TsPackets(188, 0, 3), 377), "", 0, KVFILEID_MPEG2},
      {"two packets", Cut(TsPackets(188, 0, 3), 376), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"program stream MPEG-2", Padded(Raw({0, 0, 1, 0xBA, 0x44}), 16), "", 0, KVFILEID_MPEG2},
      {"program stream MPEG-1", Padded(Raw({0, 0, 1, 0xBA, 0x21}), 16), "", 0, KVFILEID_MPEG1},
      {"pack header, 4 bytes", Raw({0, 0, 1, 0xBA}), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"sequence header", Raw({0, 0, 1, 0xB3}), "", 0, KVFILEID_MPEG2},
      {"DVDVIDEO-", Text("DVDVIDEO-VTS"), "", 0, KVFILEID_MPEG2},
      {"FWS", Padded(Text("FWS"), 9), "", 0, KVFILEID_SWF},
      {"FWC", Padded(Text("FWC"), 9), "", 0, KVFILEID_SWF},
      {"FWS 8 bytes", Padded(Text("FWS"), 8), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"PAL", Padded(Text("PAL"), 9), "", 0, KVFILEID_PAL_NTC},
      {"NTC as UTF-16", Padded(Raw({'N', 0, 'T', 0, 'C', 0}), 9), "", 0, KVFILEID_PAL_NTC},
      {"TiVo", Text("TiVo"), "", 0, KVFILEID_TIVO},
      {"AAF", at(Bytes(12, 0), 8, Text("AAF")), "", 0, KVFILEID_AAF},
      {"ASF", Asf(100), "", 0, KVFILEID_ASF},
      {"ASF .wma", Asf(100), ".wma", 0, KVFILEID_WMA},
      {"ASF .wmv", Asf(100), ".wmv", 0, KVFILEID_WMV},
      {"ASF .asf", Asf(100), ".asf", 0, KVFILEID_WMV},
      {"ASF .dvr-ms", Asf(100), ".dvr-ms", 0, KVFILEID_DVRMS},
      {"ASF .dvr", Asf(100), ".dvr", 0, KVFILEID_DVRMS},
      {"ASF .wma, extension ignored", Asf(100), ".wma", KVFILEID_F_IGNORE_EXTENSION, KVFILEID_ASF},
      {"ASF header size 0", Asf(0), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"ASF header size 4 MiB", Asf(0x400000), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"ASF header size 2^32 + 1", Asf(0x100000001ull), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"3GPP", Ftyp("3gp6", {"3gp6", "isom"}), "", 0, KVFILEID_3GPP},
      {"3GPP brand in the major place only", Padded(Ftyp("3gp4", {"isom"}), 20), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"3GPP brand with major mp42", Ftyp("mp42", {"3gp4"}), "", 0, KVFILEID_MP4_AVC},
      {"ftyp MSNV", Ftyp("MSNV", {"MSNV"}), "", 0, KVFILEID_MP4_VIDEO},
      {"ftyp M4VP", Ftyp("M4VP", {}), "", 0, KVFILEID_MP4_VIDEO},
      {"ftyp unknown brands", Ftyp("abcd", {"efgh"}), "", 0, KVFILEID_NOT_IDENTIFIED},
      // RIFF family.
      {"RIFF KVA", Riff("KVA ", 4), "", 0, KVFILEID_RIFF_KVA},
      {"WAVE", Riff("WAVE", 100, FmtChunk(1)), "", 0, KVFILEID_WAVE},
      {"WAVE 12 bytes", Riff("WAVE", 100), "", 0, KVFILEID_WAVE},
      {"WAVE size 0", Riff("WAVE", 0, FmtChunk(1)), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"WAVE 0x1971", Riff("WAVE", 100, FmtChunk(0x1971)), "", 0, KVFILEID_WAVE_1971},
      {"WAVE 0x1971 with scot", at(Padded(Riff("WAVE", 100, FmtChunk(0x1971)), 69), 60, Text("scot")), "", 0,
       KVFILEID_WAVE_1971},
      {"WAVE with scot", waveScot, "", 0, KVFILEID_WAVE_SCOT},
      {"WAVE with scot, reported as WAVE", waveScot, "", KVFILEID_F_SCOT_AS_WAVE, KVFILEID_WAVE},
      {"WAVE with scot, 68 bytes", Cut(waveScot, 68), "", 0, KVFILEID_WAVE},
      {"CSW", Riff("CSW ", 100, FmtChunk(1)), "", 0, KVFILEID_CSW},
      {"CSW size 0", Riff("CSW ", 0), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"Wave64",
       Padded(Concat({Raw({0x72, 0x69, 0x66, 0x66, 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0, 0}),
                      Bytes(8, 0),
                      Raw({0x77, 0x61, 0x76, 0x65, 0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E,
                           0xDB, 0x8A})}),
              40),
       "", 0, KVFILEID_WAVE64},
      // MPEG audio.
      {"ID3 then layer III", Concat({Id3(30), FrameHeader(1), Bytes(8, 0)}), "", 0, KVFILEID_MP3},
      {"ID3, empty tag, no frame after it", Concat({Id3(0), Bytes(20, 0)}), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"ID3 whose tag runs past the buffer", Padded(at(Text("ID3"), 3, Raw({4, 0, 0, 0, 1, 0, 0})), 64), "", 0,
       KVFILEID_MP3},
      {"ID3 then layer II (no extension)", id3Layer2, "", 0, KVFILEID_MP2},
      {"ID3 then layer II .mp2", id3Layer2, ".mp2", 0, KVFILEID_MP2},
      {"ID3 then layer II .mp3", id3Layer2, ".mp3", 0, KVFILEID_NOT_IDENTIFIED},
      {"layer III at 1000", at(zeros2048, 1000, FrameHeader(1)), "", 0, KVFILEID_MP3},
      {"layer III at the very end", at(zeros2048, 2044, FrameHeader(1)), "", 0, KVFILEID_MP3},
      {"layer III, 2047 bytes", at(Bytes(2047, 0), 1000, FrameHeader(1)), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"layer III, bitrate index 15", at(zeros2048, 10, FrameHeader(1, 15)), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"layer III, bitrate index 0", at(zeros2048, 10, FrameHeader(1, 0)), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"layer III, sample-rate index 3", at(zeros2048, 10, FrameHeader(1, 9, 3)), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"layer III, reserved version", at(zeros2048, 10, FrameHeader(1, 9, 0, 1)), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"layer III, MPEG-2.5", at(zeros2048, 10, FrameHeader(1, 9, 0, 0)), "", 0, KVFILEID_MP3},
      {"layer II then layer III", at(at(zeros2048, 10, FrameHeader(2)), 100, FrameHeader(1)), "", 0, KVFILEID_MP2},
      {"layer I then layer III", at(at(zeros2048, 10, FrameHeader(3)), 100, FrameHeader(1)), "", 0, KVFILEID_MP3},
      {"layer II .mp2", at(zeros2048, 10, FrameHeader(2)), ".mp2", 0, KVFILEID_MP2},
      {"layer II .wav", at(zeros2048, 10, FrameHeader(2)), ".wav", 0, KVFILEID_NOT_IDENTIFIED},
      // Other audio.
      {"ea3 with EA3", Ea3(20, true), "", 0, KVFILEID_EA3},
      {"ea3 without EA3", Ea3(20, false), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"ea3 tag past the buffer", Cut(Ea3(1000, false), 100), "", 0, KVFILEID_EA3},
      {"OggS", Padded(Text("OggS"), 6), "", 0, KVFILEID_OGG},
      {"OggS 5 bytes", Padded(Text("OggS"), 5), "", 0, KVFILEID_NOT_IDENTIFIED},
      {"fLaC", Padded(Text("fLaC"), 6), "", 0, KVFILEID_FLAC},
      {"typed audio FFFF 05", Raw({0xFF, 0xFF, 5}), "", 0, KVFILEID_TYPED_AUDIO},
      {"typed audio 0001 19", Raw({1, 0, 19}), "", 0, KVFILEID_TYPED_AUDIO},
      {"typed audio 0001 15", Raw({1, 0, 15}), "", 0, KVFILEID_NOT_IDENTIFIED},
      {".snd", Text(".snd"), "", 0, KVFILEID_AU},
      {"05 38", Raw({5, 0x38}), "", 0, KVFILEID_MAGIC_0538},
      // MXF key.
      {"MXF key at 3000", Mxf(3000, 4096), "", 0, KVFILEID_MXF},
      {"MXF key cut by the buffer end", Cut(Mxf(4090, 4101), 4096), "", 0, KVFILEID_NOT_IDENTIFIED},
      // Category filter.
      {"WAVE, video filter", Riff("WAVE", 100, FmtChunk(1)), "", KVFILEID_F_VIDEO, KVFILEID_NOT_IDENTIFIED},
      {"WAVE, audio filter", Riff("WAVE", 100, FmtChunk(1)), "", KVFILEID_F_AUDIO, KVFILEID_WAVE},
      {"PNG, audio and video filter", Raw({0x89, 'P', 'N', 'G', 13, 10, 26, 10}), "",
       KVFILEID_F_AUDIO | KVFILEID_F_VIDEO, KVFILEID_NOT_IDENTIFIED},
      {"PNG, image filter", Raw({0x89, 'P', 'N', 'G', 13, 10, 26, 10}), "", KVFILEID_F_IMAGE, KVFILEID_PNG},
      {".vox, video filter", Raw({1, 2, 3}), ".vox", KVFILEID_F_VIDEO, KVFILEID_NOT_IDENTIFIED},
      {"AVI, video filter", Riff("AVI ", 5000), "", KVFILEID_F_VIDEO, KVFILEID_AVI},
      // The box walk runs over the header bytes when there is no file.
      {"AAC MP4 header only (moov first)", mp4Aac, "", 0, KVFILEID_MP4_AAC},
  };
}

TEST(FileIdRules, HeaderCases) {
  for (const Case& c : HeaderCases()) {
    KvFileIdInput in;
    in.bytes = c.bytes.data();
    in.count = uint32_t(c.bytes.size());
    in.extension = c.ext;
    in.flags = c.flags;
    EXPECT_EQ(KvFileId_Identify(in), c.expected) << c.name << " (" << c.bytes.size() << " bytes, extension '"
                                                 << c.ext << "', flags " << c.flags << ")";
  }
}

// MP4 files walked box by box: the sound track's descriptor, video tracks.
TEST(FileIdRules, Mp4BoxWalks) {
  struct Mp4Case {
    const char* name;
    Bytes file;
    int expected;
  };
  Bytes mp42 = Ftyp("mp42", {"mp42", "isom"});
  Bytes mp41 = Ftyp("mp41", {"mp41"});
  const Mp4Case cases[] = {
      {"AAC LC, 1-byte lengths", Mp4(mp42, {Trak("soun", Mp4a(2, false))}), KVFILEID_MP4_AAC},
      {"AAC LC, 4-byte lengths", Mp4(mp42, {Trak("soun", Mp4a(2, true))}), KVFILEID_MP4_AAC},
      {"SBR, 4-byte lengths", Mp4(mp42, {Trak("soun", Mp4a(5, true))}), KVFILEID_MP4_AAC},
      {"PS, 1-byte lengths", Mp4(mp42, {Trak("soun", Mp4a(29, false))}), KVFILEID_MP4_AAC},
      {"AAC LC, moov last", Mp4(mp42, {Trak("soun", Mp4a(2, true))}, false), KVFILEID_MP4_AAC},
      {"AAC LC, mp41", Mp4(mp41, {Trak("soun", Mp4a(2, true))}), KVFILEID_MP4_AAC},
      {"AAC LC, M4VH compatible", Mp4(Ftyp("abcd", {"M4VH"}), {Trak("soun", Mp4a(2, true))}), KVFILEID_MP4_AAC},
      {"AAC LC, ES flags (depends, URL, OCR)", Mp4(mp42, {Trak("soun", Mp4a(2, true, 0xE0))}), KVFILEID_MP4_AAC},
      {"AAC Main (type 1), mp42", Mp4(mp42, {Trak("soun", Mp4a(1, true))}), KVFILEID_MP4_AVC},
      {"AAC Main (type 1), mp41", Mp4(mp41, {Trak("soun", Mp4a(1, true))}), KVFILEID_NOT_IDENTIFIED},
      {"AAC and AVC video", Mp4(mp42, {Trak("soun", Mp4a(2, true)), Trak("vide", VideoEntry("avc1"))}),
       KVFILEID_MP4_AVC},
      {"AVC video then AAC", Mp4(mp42, {Trak("vide", VideoEntry("avc1")), Trak("soun", Mp4a(2, true))}),
       KVFILEID_MP4_AVC},
      {"MPEG-4 video", Mp4(mp42, {Trak("vide", VideoEntry("mp4v"))}), KVFILEID_MP4_VIDEO},
      {"MPEG-4 video then AVC video", Mp4(mp42, {Trak("vide", VideoEntry("mp4v")), Trak("vide", VideoEntry("avc1"))}),
       KVFILEID_MP4_AVC},
      {"MPEG-4 video, mp41", Mp4(mp41, {Trak("vide", VideoEntry("mp4v"))}), KVFILEID_NOT_IDENTIFIED},
      {"avc1 brand", Mp4(Ftyp("abcd", {"avc1"}), {Trak("vide", VideoEntry("mp4v"))}), KVFILEID_MP4_AVC},
      {"no tracks", Mp4(mp42, {}), KVFILEID_MP4_AVC},
      {"hint track only", Mp4(mp41, {Trak("hint", VideoEntry("rtp "))}), KVFILEID_NOT_IDENTIFIED},
      {"no moov", Concat({mp42, Box("mdat", Bytes(40, 1))}), KVFILEID_MP4_AVC},
      {"no moov, mp41", Concat({mp41, Box("mdat", Bytes(40, 1))}), KVFILEID_NOT_IDENTIFIED},
      {"major M4A", Mp4(Ftyp("M4A ", {"mp42"}), {Trak("soun", Mp4a(2, true))}), KVFILEID_M4A},
  };
  for (const Mp4Case& c : cases) EXPECT_EQ(Identify(c.file), c.expected) << c.name;

  // Damaged sizes: the walk stops cleanly wherever the file lies.
  Bytes good = Mp4(mp42, {Trak("soun", Mp4a(2, true))});
  for (size_t pos = 0; pos + 4 <= good.size(); ++pos) {
    for (uint32_t v : {0u, 1u, 7u, 8u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      Bytes bad = good;
      bad[pos] = uint8_t(v >> 24);
      bad[pos + 1] = uint8_t(v >> 16);
      bad[pos + 2] = uint8_t(v >> 8);
      bad[pos + 3] = uint8_t(v);
      int code = Identify(bad);
      EXPECT_GE(code, 1) << "size " << v << " at " << pos;
    }
  }
}

// The MXF key is looked for in the file's first 64 KiB, past the header.
TEST(FileIdRules, MxfKeyInTheFirst64KiB) {
  struct {
    size_t at, total;
    const char* ext;
    int expected;
  } cases[] = {
      {5000, 10000, "", KVFILEID_MXF},
      {4090, 10000, "", KVFILEID_MXF},       // across the edge of the first block read
      {8187, 10000, "", KVFILEID_MXF},       // across the edge of a later block
      {65536 - 11, 70000, "", KVFILEID_MXF}, // last place inside 64 KiB
      {65536 - 10, 70000, "", KVFILEID_NOT_IDENTIFIED},
      {65536 - 10, 70000, ".mxf", KVFILEID_MXF},
      {9990, 10001, "", KVFILEID_MXF},       // ends at the file's last byte
  };
  for (const auto& c : cases) {
    Bytes file = Mxf(c.at, c.total);
    EXPECT_EQ(Identify(file, c.ext), c.expected) << "key at " << c.at << " of " << c.total;
  }
}

uint32_t Category(int code) {
  return code < 0x1000 ? KVFILEID_F_AUDIO : code < 0x2000 ? KVFILEID_F_VIDEO : KVFILEID_F_IMAGE;
}

// Every identification fixture against what ffprobe says it is: through the
// whole file with and without its extension, and through its first 4096
// bytes alone where the answer lies within them.
TEST(FileIdRules, FfmpegFilesAsFfprobeSeesThem) {
  std::vector<Fixture> fixtures = fileidtest::LoadManifest(FixtureDir() + "manifest.txt");
  if (fixtures.empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures in " << FixtureDir();
  int checked = 0;
  for (const Fixture& f : fixtures) {
    Bytes file = ReadFile(FixtureDir() + f.file);
    ASSERT_FALSE(file.empty()) << f.file;
    std::string what = f.file + " (ffprobe: " + f.format + " " + f.major + " audio " + f.audio + " video " + f.video + ")";
    int withExt = ExpectedCode(f, f.Extension());
    if (withExt >= 0) {
      EXPECT_EQ(Identify(file, f.Extension()), withExt) << what;
      ++checked;
    }
    int noExt = ExpectedCode(f, "");
    if (noExt >= 0) {
      EXPECT_EQ(Identify(file, ""), noExt) << what << " without extension";
    }
    bool fitsHeader = file.size() <= KVFILEID_HEADER_BYTES || f.file.find("faststart") != std::string::npos ||
                      f.format.rfind("mov,mp4", 0) != 0;
    if (withExt >= 0 && fitsHeader) {
      EXPECT_EQ(Identify(file, f.Extension(), 0, true), withExt) << what << " header only";
    }
    // The category filter never yields a code of another category, and with
    // the expected code's category it changes nothing.
    for (uint32_t filter : {KVFILEID_F_AUDIO, KVFILEID_F_VIDEO, KVFILEID_F_IMAGE}) {
      int code = Identify(file, f.Extension(), filter);
      if (code != KVFILEID_NOT_IDENTIFIED) {
        EXPECT_EQ(Category(code), filter) << what << " filter " << filter << " gave " << code;
      }
      if (withExt > KVFILEID_NOT_IDENTIFIED && Category(withExt) == filter) {
        EXPECT_EQ(code, withExt) << what << " filter " << filter;
      }
    }
  }
  EXPECT_GE(checked, 40);
}

// Every prefix of every fixture (a file cut short anywhere), and damaged
// copies: no crash, no read outside the bytes, always an answer.
TEST(FileIdRules, TruncatedAndDamagedFiles) {
  std::vector<Fixture> fixtures = fileidtest::LoadManifest(FixtureDir() + "manifest.txt");
  if (fixtures.empty()) VOG_TOOL_MISSING("ffmpeg/sox") << "no fixtures in " << FixtureDir();
  std::mt19937 rng(20261210);
  for (const Fixture& f : fixtures) {
    Bytes file = ReadFile(FixtureDir() + f.file);
    bool iso = f.format.rfind("mov,mp4", 0) == 0;
    // Box walks read the whole file: cut it at every length; other files at
    // every length of the header.
    size_t limit = iso ? file.size() : std::min<size_t>(file.size(), KVFILEID_HEADER_BYTES + 1);
    for (size_t n = 0; n <= limit; n += (iso || n < 1024) ? 1 : 7) {
      // An exact-size copy, so that AddressSanitizer sees any read past it.
      Bytes cut(file.begin(), file.begin() + long(n));
      cut.shrink_to_fit();
      int code = Identify(cut, f.Extension());
      ASSERT_GE(code, 1) << f.file << " cut to " << n;
    }
    for (int round = 0; round < 200; ++round) {
      Bytes bad = file;
      int flips = 1 + int(rng() % 8);
      for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = uint8_t(rng());
      int code = Identify(bad, f.Extension());
      ASSERT_GE(code, 1) << f.file << " damaged, round " << round << " (seed 20261210)";
    }
  }
}

TEST(FileIdRules, RandomBytes) {
  std::mt19937 rng(777);
  const char* exts[] = {"", ".ac3", ".mp2", ".wma", ".mxf", ".vox"};
  for (int round = 0; round < 3000; ++round) {
    size_t n = rng() % 5000;
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    // Plant a likely start now and then, so that deeper paths run.
    static const char* starts[] = {"RIFF", "ID3", "\0\0\0\x20" "ftypmp42", "FORM", "ea3\3", "\xFF\xFB"};
    if (n >= 16 && round % 3 == 0) {
      const char* s = starts[rng() % (sizeof(starts) / sizeof(starts[0]))];
      size_t len = s[0] == 0 ? 12 : std::strlen(s);
      std::copy(s, s + len, b.begin());
    }
    b.shrink_to_fit();
    int code = Identify(b, exts[round % 6], rng() & 0x1F);
    ASSERT_GE(code, 1) << "round " << round << " (seed 777)";
  }
}

TEST(FileIdRules, NormalisedExtensions) {
  char out[KVFILEID_EXTENSION_CHARS + 1];
  const uint16_t mixed[] = {'.', 'M', 'p', '2'};
  KvFileId_NormaliseExtension(mixed, 4, out);
  EXPECT_STREQ(out, ".mp2");
  KvFileId_NormaliseExtension(mixed, 0, out);
  EXPECT_STREQ(out, "");
  const uint16_t accented[] = {'.', 'w', 0xE4, 'v'};
  KvFileId_NormaliseExtension(accented, 4, out);
  EXPECT_STREQ(out, "?");
  std::vector<uint16_t> longExt(40, 'a');
  longExt[0] = '.';
  KvFileId_NormaliseExtension(longExt.data(), longExt.size(), out);
  EXPECT_STREQ(out, "?");
}

}  // namespace
