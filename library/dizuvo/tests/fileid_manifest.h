// The identification fixtures as ffprobe sees them (manifest.txt, written by
// fileid_fixtures.sh), and the code each must be given, derived from
// ffprobe's container name, ftyp brands and stream codecs.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kvfileid_rules.h"

namespace fileidtest {

struct Fixture {
  std::string file, format, major;
  std::vector<std::string> brands;  // major brand, then the compatible brands
  std::string audio, video, muxer, profiles;

  std::string Extension() const {
    size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : file.substr(dot);
  }
};

inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(part);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

inline std::vector<Fixture> LoadManifest(const std::string& path) {
  std::vector<Fixture> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Split(line, '|');
    if (f.size() < 8) continue;
    Fixture x;
    x.file = f[0];
    x.format = f[1];
    x.major = f[2];
    if (!x.major.empty()) x.brands.push_back(x.major);
    for (size_t i = 0; i + 4 <= f[3].size(); i += 4) x.brands.push_back(f[3].substr(i, 4));
    x.audio = f[4];
    x.video = f[5];
    x.muxer = f[6];
    x.profiles = f[7];
    out.push_back(x);
  }
  return out;
}

inline bool Contains(const std::string& list, const std::string& item) {
  for (const std::string& s : Split(list, ','))
    if (s == item) return true;
  return false;
}

inline bool AnyBrand(const Fixture& f, std::initializer_list<const char*> set) {
  for (const std::string& b : f.brands)
    for (const char* s : set)
      if (b == s) return true;
  return false;
}

// The ISO/QuickTime family: the brand rules in table order.
inline int ExpectedIsoCode(const Fixture& f) {
  if (f.major == "isom" || f.major == "qt  ") return KVFILEID_QUICKTIME;
  for (const std::string& b : f.brands) {
    if (b == "M4V " || b == "M4VH") break;
    if (b == "M4A ") return KVFILEID_M4A;
  }
  if (f.major != "mp42")
    for (size_t i = 1; i < f.brands.size(); ++i)
      if (f.brands[i] == "3gp4" || f.brands[i] == "3gp5" || f.brands[i] == "3gp6" || f.brands[i] == "3gp7")
        return KVFILEID_3GPP;
  bool aac = Contains(f.audio, "aac") && (Contains(f.profiles, "LC") || Contains(f.profiles, "HE-AAC") ||
                                          Contains(f.profiles, "HE-AACv2"));
  if (f.major != "M4V " && f.major != "M4A " && f.major != "M4VP" && f.major != "M4VH" &&
      AnyBrand(f, {"mp42", "mp41", "M4VH"}) && f.video.empty() && aac)
    return KVFILEID_MP4_AAC;
  for (const std::string& b : f.brands) {
    if (b == "avc1") return KVFILEID_MP4_AVC;
    if (b == "mp42") {
      if (f.video.empty() || Contains(f.video, "h264")) return KVFILEID_MP4_AVC;
      break;
    }
  }
  if (AnyBrand(f, {"M4VH", "qt  ", "M4V ", "mp42", "M4VP", "MSNV"})) return KVFILEID_MP4_VIDEO;
  return KVFILEID_NOT_IDENTIFIED;
}

// The code a fixture must be given when its extension is `ext` ("" when the
// extension is not looked at); -1 when the answer is left to the bytes that
// the rules read without meaning (no expectation).
inline int ExpectedCode(const Fixture& f, const std::string& ext) {
  const std::string& c = f.format;
  if (c == "wav") return KVFILEID_WAVE;
  if (c == "w64") return KVFILEID_WAVE64;
  if (c == "aiff") return KVFILEID_AIFF;
  if (c == "flac") return KVFILEID_FLAC;
  if (c == "ogg") return KVFILEID_OGG;
  if (c == "au") return KVFILEID_AU;
  if (c == "avi") return KVFILEID_AVI;
  if (c == "dv") return KVFILEID_DV;
  if (c == "mxf") return KVFILEID_MXF;
  if (c == "mpegts") return KVFILEID_MPEG_TS;
  if (c == "swf") return KVFILEID_SWF;
  if (c == "ac3") return ext.empty() || ext == ".ac3" ? KVFILEID_AC3 : -1;
  if (c == "mp3") {
    if (Contains(f.audio, "mp2")) return ext.empty() || ext == ".mp2" ? KVFILEID_MP2 : KVFILEID_NOT_IDENTIFIED;
    return KVFILEID_MP3;
  }
  // ffprobe names MPEG-1 and MPEG-2 program streams alike; the muxer tells them apart.
  if (c == "mpeg") return f.muxer == "vob" ? KVFILEID_MPEG2 : KVFILEID_MPEG1;
  // A sequence header at the start is taken by the MPEG-2 test, which comes first.
  if (c == "mpegvideo") return KVFILEID_MPEG2;
  if (c == "asf") {
    if (ext == ".wma") return KVFILEID_WMA;
    if (ext == ".wmv" || ext == ".asf") return KVFILEID_WMV;
    if (ext == ".dvr-ms" || ext == ".dvr") return KVFILEID_DVRMS;
    return KVFILEID_ASF;
  }
  if (c == "rm") return ext == ".rm" || ext == ".rmvb" ? KVFILEID_REALMEDIA : -1;
  if (c == "png_pipe") return KVFILEID_PNG;
  if (c == "bmp_pipe") return KVFILEID_BMP;
  if (c == "tiff_pipe") return KVFILEID_TIFF;
  if (c == "gif") return KVFILEID_GIF;
  if (c == "jpeg_pipe") return KVFILEID_JPEG;
  if (c == "image2" && f.video == "targa") return KVFILEID_TGA;
  // ffmpeg writes little-endian DPX ("XPDS"); only the big-endian "SDPX" is known.
  if (c == "dpx_pipe") return KVFILEID_NOT_IDENTIFIED;
  if (c.rfind("mov,mp4", 0) == 0) return ExpectedIsoCode(f);
  return -1;
}

}  // namespace fileidtest
