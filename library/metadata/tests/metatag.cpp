// metatag: the test tool of the oracle checks.
//
//   metatag write TAGS FILE     writes the tags TAGS lists into the MP4 FILE
//   metatag read FILE           prints the 3GPP asset texts of FILE, one per line
//   metatag readall FILE        runs the 3GPP, ID3v2 and iTunes readers (in the
//                               plug-in's order) and prints texts and pictures
//   metatag id3read FILE        prints what the ID3v2 tag at the start of FILE
//                               (an MP3 file, a raw tag) gives a metadata set
//   metatag id3write TAGS OUT [3|4]  writes the ID3v2 tag built from TAGS to OUT
//   metatag genres              prints the ID3v1 genre list, one name a line
//
// TAGS is a UTF-8 text file of lines:
//   mode itunes|3gpp|mp4        which writer runs (default: by the file's
//                               extension; mp4 = 3GPP assets and an ID3v2 tag)
//   text ID VALUE               a summary text ("text INAM Grüße")
//   picture TYPE MIME PATH      a picture from a file
//   object MIME NAME DESC PATH  a generic item from a file
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "boxreader.h"
#include "filestream.h"
#include "meta3gpp.h"
#include "metadataset.h"
#include "metafactories.h"
#include "id3meta.h"
#include "metaid3.h"
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

std::string Utf8(const std::wstring& wide) {
  std::string s;
  WideToUtf8(wide, s);
  return s;
}

// The box tree of an MP4 file read by one of the box reader's readings, or
// null after saying on stderr why there is none.
BoxList* ReadBoxesOf(const std::wstring& path, BoxList* (BoxReader::*reading)()) {
  {
    ifstream probe(path.c_str(), 64, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsSequentialScan, nullptr);
    if (!probe.is_open()) {
      std::fprintf(stderr, "metatag: %s: cannot open the file\n", Utf8(path).c_str());
      return nullptr;
    }
  }
  BoxList* boxes = nullptr;
  {
    // The file is closed again before the caller goes on (a rewrite replaces it).
    BoxReader reader(path.c_str());
    boxes = (reader.*reading)();
  }
  if (!boxes) std::fprintf(stderr, "metatag: %s: not an MP4 file (no box could be read)\n", Utf8(path).c_str());
  return boxes;
}

// Fills the set from a tag list; false (with a message) when the list or a file it names cannot be read.
bool LoadTags(const std::wstring& tagsPath, MetaDataSet& set, std::string& mode) {
  std::string tags;
  if (!ReadFile(tagsPath, tags)) {
    std::fprintf(stderr, "metatag: cannot read the tag list\n");
    return false;
  }
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
      if (id.size() != 4) {
        std::fprintf(stderr, "metatag: tag list: \"%s\" is not a four-character id\n", id.c_str());
        return false;
      }
      set.SetSummaryText(FourCC(id.c_str()).GetValue(), Wide(value));
    } else if (kind == "picture" || kind == "object") {
      uint32_t type = 0;
      std::string mime, name, desc, file;
      if (kind == "picture")
        words >> type >> mime;
      else
        words >> mime >> name >> desc;
      std::getline(words >> std::ws, file);
      std::string bytes;
      if (!ReadFile(Wide(file), bytes)) {
        std::fprintf(stderr, "metatag: cannot read %s\n", file.c_str());
        return false;
      }
      if (kind == "picture") {
        set.AddPicture(Wide(mime), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), type);
      } else {
        GenericItem item;
        item.mimeType = Wide(mime);
        item.fileName = Wide(name);
        item.description = Wide(desc);
        item.data.assign(bytes.begin(), bytes.end());
        set.AddGenericItem(item);
      }
    }
  }
  return true;
}

int Write(const std::wstring& tagsPath, const std::wstring& path) {
  MetaDataSet set;
  std::string mode = UsesITunesTags(path) ? "itunes" : "3gpp";
  if (!LoadTags(tagsPath, set, mode)) return 1;
  BoxList* boxes = ReadBoxesOf(path, &BoxReader::ReadBoxesForMetaWrite);
  if (!boxes) return 1;
  bool applied = mode == "itunes" ? PutiTunesMetaData(set, *boxes).Apply() : Put3gppMetaData(set, *boxes).Apply();
  if (applied && mode == "mp4") applied = PutId3v2MetaData(set, *boxes).Apply();
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
  BoxList* boxes = ReadBoxesOf(path, &BoxReader::ReadMetaBoxes);
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

void PrintUtf8(const std::wstring& text) {
  std::string utf8;
  WideToUtf8(text, utf8);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

// FNV-1a over the bytes: the checks compare it with the same sum over the source file.
uint32_t Fnv(const ByteVector& bytes) {
  uint32_t h = 2166136261u;
  for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

// Texts, then one line per picture and per generic item.
void PrintSet(const MetaDataSet& set) {
  std::wostringstream out;
  set.DumpTexts(out);
  for (const auto& p : set.Pictures()) {
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08x", Fnv(p.second.data));
    out << L"picture " << p.first << L" " << p.second.mimeType << L" " << p.second.data.size() << L" " << sum
        << L" \"" << p.second.description << L"\"\n";
  }
  for (const auto& g : set.GenericItems()) {
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08x", Fnv(g.second.data));
    out << L"object " << g.second.mimeType << L" \"" << g.second.fileName << L"\" \"" << g.second.description
        << L"\" " << g.second.data.size() << L" " << sum << L"\n";
  }
  PrintUtf8(out.str());
}

int ReadAll(const std::wstring& path) {
  BoxList* boxes = ReadBoxesOf(path, &BoxReader::ReadMetaBoxes);
  if (!boxes) return 1;
  MetaDataSet set;
  Get3gppMetaData(set, *boxes).Apply();
  GetId3v2MetaData(set, *boxes).Apply();
  GetiTunesMetaData(set, *boxes).Apply();
  DeleteBoxList(boxes);
  PrintSet(set);
  return 0;
}

int Id3Read(const std::wstring& path) {
  std::string bytes;
  if (!ReadFile(path, bytes)) {
    std::fprintf(stderr, "metatag: %s: cannot open the file\n", Utf8(path).c_str());
    return 1;
  }
  std::istringstream in(bytes);
  uint32_t count = bytes.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(bytes.size());
  std::unique_ptr<id3meta::Header> tag(id3meta::ReadTag(in, count));
  if (!tag) {
    std::fprintf(stderr, "metatag: no ID3v2 tag\n");
    return 1;
  }
  MetaDataSet set;
  id3meta::CollectVisitor collect(set);
  id3meta::VisitFrames(tag.get(), collect);
  std::printf("version %s\n", tag->VersionName());
  PrintSet(set);
  return 0;
}

// A version 4 tag holds the frames the version 4 factory gives the same data.
id3meta::Header* BuildTag(const MetaDataSet& set, int version) {
  id3meta::Header* v3 = BuildId3v2Tag(set);
  if (!v3 || version == 3) return v3;
  std::unique_ptr<id3meta::Header> source(v3);
  id3meta::Header* v4 = id3meta::CreateTag(4);
  if (!v4) return nullptr;
  auto text = set.Texts().begin();
  for (id3meta::Frame* f : source->Frames()) {
    id3meta::Frame* copy = nullptr;
    if (dynamic_cast<id3meta::TextFrame*>(f)) {
      while (text != set.Texts().end() && !(copy = v4->GetFactory().FindByHostId(text->first))) ++text;
      if (!copy) break;
      copy->SetEncoding(f->GetHeader().encodingByte);
      static_cast<id3meta::TextFrame*>(copy)->text = text->second;
      ++text;
    } else {
      copy = f->Clone();
    }
    v4->AddFrame(copy);
  }
  return v4;
}

int Id3Write(const std::wstring& tagsPath, const std::wstring& path, int version) {
  MetaDataSet set;
  std::string mode;
  if (!LoadTags(tagsPath, set, mode)) return 1;
  std::unique_ptr<id3meta::Header> tag(BuildTag(set, version));
  if (!tag) {
    std::fprintf(stderr, "metatag: no ID3v2 tag could be built from the tag list\n");
    return 1;
  }
  tag->UpdateSize(0);
  std::ostringstream out;
  tag->WriteTag(out);
  std::string bytes = out.str();
  ofstream file(path.c_str(), 4096, kGenericWrite, 0, nullptr, kCreateAlways, kFlagsSequentialScan, nullptr);
  if (!file.is_open()) {
    std::fprintf(stderr, "metatag: %s: cannot create the file\n", Utf8(path).c_str());
    return 1;
  }
  file.write(bytes.data(), std::streamsize(bytes.size()));
  bool ok = bool(file);
  if (file.close() && ok) return 0;
  std::fprintf(stderr, "metatag: %s: writing failed\n", Utf8(path).c_str());
  return 1;
}

int Genres() {
  for (uint32_t n = 1; n <= id3meta::Id3v1GenreCount(); ++n) {
    PrintUtf8(id3meta::Id3v1GenreName(n));
    std::printf("\n");
  }
  return 0;
}

int Run(const std::vector<std::wstring>& args) {
  InitMetaFactories();
  int status = args.size() == 3 && args[0] == L"write"  ? Write(args[1], args[2])
               : args.size() == 2 && args[0] == L"read" ? Read(args[1])
               : args.size() == 2 && args[0] == L"readall" ? ReadAll(args[1])
               : args.size() == 2 && args[0] == L"id3read" ? Id3Read(args[1])
               : args.size() >= 3 && args.size() <= 4 && args[0] == L"id3write"
                   ? Id3Write(args[1], args[2], args.size() == 4 && args[3] == L"4" ? 4 : 3)
               : args.size() == 1 && args[0] == L"genres" ? Genres()
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
