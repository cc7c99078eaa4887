// mp4dump FILE: one line per box, "depth type offset size" (decimal, absolute
// offsets). Options:
//   --factory all|meta|metawrite   the read factory (default: all, the audio side)
//   --samples                      then "samples N", "dsi HEX" and one line per
//                                  sample of the audio track: "index time duration size position"
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "boxreader.h"
#include "boxtree.h"
#include "factories.h"
#include "filestream.h"
#include "textencoding.h"
#include "trackreader.h"

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
      status = 3;
    } else {
      std::printf("samples %u\n", track.GetSampleCount());
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

int Run(const std::vector<std::wstring>& args) {
  std::string factory = "all";
  bool samples = false;
  std::wstring path;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == L"--samples") {
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
  int status = Dump(path, factory, samples);
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
