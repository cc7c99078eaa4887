// Test tool of the Cardwell reader's oracle checks: reads a file's Cardwell
// texts and thumbnails, prints the texts as "ID=text" lines (UTF-8) and the
// pictures as "picture TYPE MIME DESCRIPTION SIZE" lines, and saves the
// pictures into a folder when one is given.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "boxreader.h"
#include "filestream.h"
#include "metacardwell.h"
#include "metafactories.h"
#include "textencoding.h"

using namespace fileutil;

namespace {

std::string Utf8(const std::wstring& w) {
  std::string s;
  WideToUtf8(w, s);
  return s;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.empty() || args.size() > 2) {
    std::fprintf(stderr, "usage: cardwelldump FILE [PICTURE-FOLDER]\n");
    return 2;
  }
  ifstream in(args[0].c_str(), 1024, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess, nullptr);
  if (!in.is_open()) {
    std::fprintf(stderr, "cardwelldump: %s: cannot open the file\n", Utf8(args[0]).c_str());
    return 1;
  }
  BoxList* boxes = nullptr;
  {
    BoxReader reader(in);
    boxes = reader.ReadMetaBoxes();
  }
  if (!boxes) {
    std::fprintf(stderr, "cardwelldump: %s: not an MP4 file (no box could be read)\n", Utf8(args[0]).c_str());
    return 1;
  }
  MetaDataSet set;
  GetCardwellMetaData(set, *boxes, in).Apply();
  DeleteBoxList(boxes);
  for (const auto& text : set.Texts()) {
    uint32_t id = text.first;
    std::printf("%c%c%c%c=%s\n", char(id), char(id >> 8), char(id >> 16), char(id >> 24), Utf8(text.second).c_str());
  }
  for (const auto& pic : set.Pictures())
    std::printf("picture %u %s %s %u\n", pic.first, Utf8(pic.second.mimeType).c_str(),
                Utf8(pic.second.description).c_str(), unsigned(pic.second.data.size()));
  if (args.size() == 2 && !set.SavePictures(args[1], L"thumb")) {
    std::fprintf(stderr, "cardwelldump: cannot save the pictures into %s\n", Utf8(args[1]).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) {
    std::wstring w;
    Utf8ToWide(reinterpret_cast<const uint8_t*>(argv[i]), std::string(argv[i]).size(), w);
    args.push_back(w);
  }
  InitMetaFactories();
  int status = Run(args);
  TermMetaFactories();
  return status;
}
