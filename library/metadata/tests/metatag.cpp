// metatag: the test tool of the oracle checks.
//
//   metatag write TAGS FILE   writes the tags TAGS lists into the MP4 FILE
//   metatag read FILE         prints the 3GPP asset texts of FILE, one per line
//
// TAGS is a UTF-8 text file of lines:
//   mode itunes|3gpp          which writer runs (default: by the file's extension)
//   text ID VALUE             a summary text ("text INAM Grüße")
//   picture TYPE MIME PATH    a picture from a file
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "boxreader.h"
#include "filestream.h"
#include "meta3gpp.h"
#include "metadataset.h"
#include "metafactories.h"
#include "metaitunes.h"
#include "rewrite.h"
#include "textencoding.h"

using namespace fileutil;

namespace {

int Usage() {
  std::fprintf(stderr, "usage: metatag write TAGS FILE | metatag read FILE\n");
  return 2;
}

bool ReadFile(const std::wstring& path, std::string& out) {
  ifstream in(path.c_str(), 4096, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsSequentialScan, nullptr);
  if (!in.is_open()) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring w;
  Utf8ToWide(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), w);
  return w;
}

int Write(const std::wstring& tagsPath, const std::wstring& path) {
  std::string tags;
  if (!ReadFile(tagsPath, tags)) {
    std::fprintf(stderr, "metatag: cannot read the tag list\n");
    return 1;
  }
  MetaDataSet set;
  std::string mode = UsesITunesTags(path) ? "itunes" : "3gpp";
  std::istringstream lines(tags);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "mode") {
      words >> mode;
    } else if (kind == "text") {
      std::string id, value;
      words >> id;
      std::getline(words >> std::ws, value);
      if (id.size() != 4) return Usage();
      set.SetSummaryText(FourCC(id.c_str()).GetValue(), Wide(value));
    } else if (kind == "picture") {
      uint32_t type = 0;
      std::string mime, file;
      words >> type >> mime;
      std::getline(words >> std::ws, file);
      std::string bytes;
      if (!ReadFile(Wide(file), bytes)) {
        std::fprintf(stderr, "metatag: cannot read picture %s\n", file.c_str());
        return 1;
      }
      set.AddPicture(Wide(mime), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), type);
    }
  }
  BoxList* boxes = nullptr;
  {
    // The file is closed again before it is rewritten.
    BoxReader reader(path.c_str());
    boxes = reader.ReadBoxesForMetaWrite();
  }
  if (!boxes) {
    std::fprintf(stderr, "metatag: no box could be read\n");
    return 1;
  }
  bool applied = mode == "itunes" ? PutiTunesMetaData(set, *boxes).Apply() : Put3gppMetaData(set, *boxes).Apply();
  HRESULT hr = applied ? RewriteBoxFile(path.c_str(), *boxes) : E_FAIL;
  DeleteBoxList(boxes);
  if (FAILED(hr)) {
    std::fprintf(stderr, "metatag: writing failed\n");
    return 1;
  }
  std::printf("%s tags written\n", mode.c_str());
  return 0;
}

int Read(const std::wstring& path) {
  BoxList* boxes = nullptr;
  {
    BoxReader reader(path.c_str());
    boxes = reader.ReadMetaBoxes();
  }
  if (!boxes) return 1;
  MetaDataSet set;
  Get3gppMetaData(set, *boxes).Apply();
  DeleteBoxList(boxes);
  std::wostringstream out;
  set.DumpTexts(out);
  std::string utf8;
  WideToUtf8(out.str(), utf8);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  return 0;
}

int Run(const std::vector<std::wstring>& args) {
  InitMetaFactories();
  int status = args.size() == 3 && args[0] == L"write"  ? Write(args[1], args[2])
               : args.size() == 2 && args[0] == L"read" ? Read(args[1])
                                                         : Usage();
  TermMetaFactories();
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(std::vector<std::wstring>(argv + 1, argv + argc)); }
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(Wide(argv[i]));
  return Run(args);
}
#endif
