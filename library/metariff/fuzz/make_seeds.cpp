// Writes the seed corpora of the summary-list and project-link fuzz targets
// with the library's own writers: kvmetariff_seeds SUMMARY_DIR LINK_DIR.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kvfile.h"
#include "kvlinkstorage.h"
#include "kvriff.h"
#include "kvsummary.h"

namespace {

void Put(const std::string& path, const std::vector<uint8_t>& bytes, int prefix = -1) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  if (prefix >= 0) std::fputc(prefix, f);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::u16string U(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

// A wave file's skeleton: the RIFF header, a format chunk and a short data chunk.
void Skeleton(HANDLE h) {
  const BYTE fmt[16] = {1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0};
  const BYTE pcm[6] = {1, 2, 3, 4, 5, 6};
  riff_WriteFileID(h, KVRIFF_FOURCC('W', 'A', 'V', 'E'), 4);
  DWORD n = 0;
  riff_WriteChunk(h, KVRIFF_FOURCC('f', 'm', 't', ' '), fmt, 16, &n);
  riff_UpdateRIFFSize(h, n);
  riff_WriteChunk(h, KVRIFF_FOURCC('d', 'a', 't', 'a'), pcm, 6, &n);
  riff_UpdateRIFFSize(h, n);
}

void Summaries(const std::string& dir) {
  struct Item {
    const char* id;
    std::u16string text;
  };
  const std::vector<std::vector<Item>> lists = {
      {{"INAM", U("Night Train")}, {"IART", U("The Players")}, {"ICMT", U("odd")}},
      {{"INAM", U("")}, {"ISFT", U("a longer text that spans more than one small buffer")}},
      {{"INAM", u"Caf\u00e9 \u266b \u4e2d"}},
  };
  int n = 0;
  for (const auto& items : lists) {
    for (bool wide : {false, true}) {
      KvSummary s{0, nullptr};
      for (const Item& it : items)
        KvSummary_SetItem(&s, KVRIFF_FOURCC(it.id[0], it.id[1], it.id[2], it.id[3]),
                          reinterpret_cast<const WCHAR*>(it.text.c_str()));
      KvMemoryFile f;
      Skeleton(&f);
      DWORD written = 0;
      (wide ? KvSummary_SaveUNFO : KvSummary_Save)(&f, &s, &written);
      riff_UpdateRIFFSize(&f, written);
      // Both lists in one file too.
      if (n == 0) {
        DWORD more = 0;
        (wide ? KvSummary_Save : KvSummary_SaveUNFO)(&f, &s, &more);
        riff_UpdateRIFFSize(&f, more);
      }
      KvSummary_Free(&s);
      Put(dir + "/seed-" + std::to_string(n++) + (wide ? "-unfo" : "-info"), f.Bytes());
    }
  }
}

void Links(const std::string& dir) {
  const BYTE templ[] = {1, 2, 3, 4, 5};
  const GUID renderer = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  for (int full = 0; full < 2; ++full) {
    for (bool is64 : {false, true}) {
      CKvLinkProjectInfo info;
      info.SetProjectPath(reinterpret_cast<const WCHAR*>(u"C:\\Projects\\song.vpr"));
      info.SetCommandLine(reinterpret_cast<const WCHAR*>(u"/render"));
      if (full) {
        info.SetRendererGuid(renderer);
        info.SetTemplateName(reinterpret_cast<const WCHAR*>(u"AAC 128 kbit/s"));
        info.SetTemplateData(templ, sizeof(templ));
        info.SetAppTemplateData(templ, 3);
        info.SetCreatorAppInfo(reinterpret_cast<const WCHAR*>(u"Creator 1.0"));
        info.SetCreatorAppWindowClassName(reinterpret_cast<const WCHAR*>(u"CreatorWnd"));
        info.SetProjectData(KVRIFF_FOURCC('s', 'p', 'e', 'd'), "hello", 5);
        info.SetProjectData(KVRIFF_FOURCC('J', 'U', 'N', 'K'), templ, 4);
      }
      KvMemoryFile f;
      if (is64) {
        riff64_WriteFileID(&f, KVRIFF64_WAVE, 16);
      } else {
        Skeleton(&f);
      }
      HRESULT hr = is64 ? ProjectLinkRiff64_SaveInfo(&f, &info) : ProjectLinkRiff_SaveInfo(&f, &info);
      if (FAILED(hr)) {
        std::fprintf(stderr, "saving a project link failed: 0x%08X\n", unsigned(hr));
        std::exit(1);
      }
      Put(dir + "/seed-" + (full ? "full" : "plain") + (is64 ? "-64" : "-riff"), f.Bytes(), is64 ? 1 : 0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kvmetariff_seeds SUMMARY_DIR LINK_DIR\n");
    return 2;
  }
  Summaries(argv[1]);
  Links(argv[2]);
  return 0;
}
