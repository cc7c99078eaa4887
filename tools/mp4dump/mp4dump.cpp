// mp4dump FILE: one line per box, "depth type offset size" (decimal, absolute
// offsets). Options:
//   --factory all|meta|metawrite   the read factory (default: all, the audio side)
//   --samples                      then "samples N", "dsi HEX" and one line per
//                                  sample of the audio track: "index time duration size position"
// Round trips of the writing side:
//   --rewrite [--grow N] [--copy] FILE   reads FILE for a metadata rewrite and writes it
//                                        back (after adding an N-byte 'free' box to
//                                        'moov'); --copy takes the copy path
//   --remux IN OUT                       writes the access units of IN's audio track into
//                                        a new one-track file OUT (track writer)
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "boxreader.h"
#include "boxtree.h"
#include "factories.h"
#include "filestream.h"
#include "textencoding.h"
#include "trackreader.h"
#include "remux.h"
#include "rewrite.h"

using namespace fileutil;

namespace {

std::string TypeText(FourCC type) {
  std::string out;
  if (type.IsPrintable()) {
    for (int i = 0; i < 4; ++i) {
      uint8_t b = type.Byte(i);
      if (b == 0xA9) {
        out += "\xC2\xA9";  // the copyright sign in UTF-8
      } else {
        out += char(b);
      }
    }
    return out;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x%02x", type.Byte(0), type.Byte(1), type.Byte(2), type.Byte(3));
  return hex;
}

int Usage() {
  std::fprintf(stderr, "usage: mp4dump [--factory all|meta|metawrite] [--samples] FILE\n");
  return 2;
}

int Dump(const std::wstring& path, const std::string& factoryName, bool samples) {
  IFactory* factory = factoryName == "meta" ? static_cast<IFactory*>(GetReadMetaFactory())
                      : factoryName == "metawrite" ? static_cast<IFactory*>(GetMetaFactory())
                                                   : static_cast<IFactory*>(GetBoxFactory());
  BoxReader reader(path.c_str());
  BoxList* boxes = reader.ReadWith(factory);
  if (!boxes) {
    std::fprintf(stderr, "mp4dump: no box could be read\n");
    return 1;
  }
  WalkBoxTree(*boxes, [](IBox& box, unsigned depth) {
    std::printf("%u %s %" PRIu64 " %" PRIu64 "\n", depth, TypeText(box.GetType()).c_str(), box.GetOffset(),
                box.GetSize());
  });
  int status = 0;
  if (samples) {
    ifstream in(path.c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess,
                nullptr);
    TrackReader track(*boxes, in);
    if (!track.Init()) {
      std::printf("samples none\n");
      bool fragmented = false;
      WalkBoxTree(*boxes, [&](IBox& box, unsigned) {
        fragmented = fragmented || box.GetType() == FourCC("moof") || box.GetType() == FourCC("mvex");
      });
      if (fragmented)
        std::fprintf(stderr, "mp4dump: fragmented file: its samples are in 'moof' boxes, not in the track's tables\n");
      else if (track.GetMissingSampleCount())
        std::fprintf(stderr, "mp4dump: the file ends before the first of the track's %u samples\n",
                     track.GetMissingSampleCount());
      else
        std::fprintf(stderr, "mp4dump: no readable AAC ('mp4a') track\n");
      status = 3;
    } else {
      std::printf("samples %u\n", track.GetSampleCount());
      if (track.GetMissingSampleCount())
        std::fprintf(stderr, "mp4dump: %u samples the tables list are not in the file\n", track.GetMissingSampleCount());
      std::printf("dsi ");
      for (uint8_t b : track.GetDecoderSpecificInfo()) std::printf("%02x", b);
      std::printf("\n");
      uint64_t time = 0;
      std::vector<uint8_t> bytes;
      for (uint32_t n = 1; n <= track.GetSampleCount(); ++n) {
        if (!track.SeekSample(n)) {
          status = 4;
          break;
        }
        uint64_t start = 0;
        uint32_t delta = 0;
        uint32_t found = 0;
        if (!track.FindSampleForTime(time, found, start, delta) || found != n) delta = 0;
        if (!track.ReadSample(bytes)) status = 5;
        std::printf("%u %" PRIu64 " %u %u %" PRIu64 "\n", n, time, delta, track.GetCurrentSampleSize(),
                    track.GetCurrentSampleOffset());
        time += delta;
      }
    }
  }
  DeleteBoxList(boxes);
  return status;
}

int Rewrite(const std::wstring& path, uint64_t grow, bool copy) {
  BoxList* boxes = nullptr;
  {
    // The file is closed again before it is rewritten.
    BoxReader reader(path.c_str());
    boxes = reader.ReadBoxesForMetaWrite();
  }
  if (!boxes) {
    std::fprintf(stderr, "mp4dump: no box could be read\n");
    return 1;
  }
  if (grow >= 8) {
    FreeBox* added = new FreeBox();
    added->SetSize(grow);
    BoxList::iterator moov = boxes->begin();
    while (moov != boxes->end() && (*moov)->GetType() != FourCC("moov")) ++moov;
    BoxList* children = moov == boxes->end() ? nullptr : ChildrenOf(**moov);
    if (!children) {
      delete added;
      DeleteBoxList(boxes);
      std::fprintf(stderr, "mp4dump: no 'moov' to grow\n");
      return 1;
    }
    children->push_back(added);
  }
  RewriteResult result;
  HRESULT hr = RewriteBoxFile(path.c_str(), *boxes, copy, &result);
  DeleteBoxList(boxes);
  std::string backup;
  WideToUtf8(result.backupPath, backup);
  if (FAILED(hr)) {
    std::printf("failed%s%s\n", backup.empty() ? "" : " backup ", backup.c_str());
    return 6;
  }
  std::printf("%s%s%s\n", result.inPlace ? "in place" : "copy", backup.empty() ? "" : " backup ", backup.c_str());
  return 0;
}

int Run(const std::vector<std::wstring>& args) {
  std::string factory = "all";
  bool samples = false, rewrite = false, copy = false, remux = false;
  uint64_t grow = 0;
  std::wstring path, out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == L"--rewrite") {
      rewrite = true;
    } else if (args[i] == L"--copy") {
      copy = true;
    } else if (args[i] == L"--remux") {
      remux = true;
    } else if (args[i] == L"--grow" && i + 1 < args.size()) {
      grow = std::wcstoull(args[++i].c_str(), nullptr, 10);
    } else if (remux && !path.empty() && out.empty()) {
      out = args[i];
    } else if (args[i] == L"--samples") {
      samples = true;
    } else if (args[i] == L"--factory" && i + 1 < args.size()) {
      std::string v;
      WideToUtf8(args[++i], v);
      factory = v;
    } else if (path.empty()) {
      path = args[i];
    } else {
      return Usage();
    }
  }
  if (path.empty()) return Usage();
  CreateGlobalFactories();
  esds::CreateDescriptorFactory();
  int status = rewrite ? Rewrite(path, grow, copy)
               : remux ? (out.empty() ? Usage() : Remux(path, out))
                       : Dump(path, factory, samples);
  esds::DestroyDescriptorFactory();
  DestroyGlobalFactories();
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  return Run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) {
    std::wstring w;
    Utf8ToWide(reinterpret_cast<const uint8_t*>(argv[i]), std::strlen(argv[i]), w);
    args.push_back(w);
  }
  return Run(args);
}
#endif
