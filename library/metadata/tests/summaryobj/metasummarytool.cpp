// metasummarytool: drives one MetaSummary object over a file for the oracle checks.
//
//   metasummarytool FILE COMMAND...
//
// Commands run in order on the same object, each printing one result line:
//   read=MASK             "read MASK HR", then "ID=text" per text and
//                         "picture TYPE SIZE" per picture of the set
//   text=ID,COUNT,MASK    "text HR [buffer]" (the buffer up to its terminator,
//                         "!" when the buffer has none)
//   stream=MASK           "stream HR", then "ID=text" per text the summary
//                         stream gives back to a new set
//   reset                 "reset HR"
//   pic=TYPE,MASK         "pic HR BLOCK DATA SUM" (FNV-1a of the picture bytes)
//   smfmf                 "smfmf HR BLOCK DATA [data as text]"
//   add=ID=VALUE          a text for the next write's summary stream
//   addsmfmf=TEXT         an SMFMF block for the next write
//   write=MASK            "write HR"
// Masks and HRs are printed in hex.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "metafactories.h"
#include "metastream.h"
#include "metasummaryobj.h"
#include "textencoding.h"

namespace {

std::string Utf8(const std::wstring& w) {
  std::string s;
  fileutil::WideToUtf8(w, s);
  return s;
}

DWORD Id(const std::wstring& s) {
  DWORD v = 0;
  for (int i = 0; i < 4 && i < int(s.size()); ++i) v |= DWORD(uint8_t(s[i])) << (8 * i);
  return v;
}

std::string IdText(DWORD id) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += char(uint8_t(id >> (8 * i)));
  return s;
}

DWORD Number(const std::wstring& s) { return DWORD(std::wcstoul(s.c_str(), nullptr, 0)); }

std::vector<std::wstring> Split(const std::wstring& s, wchar_t sep) {
  std::vector<std::wstring> out;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
    if (at == std::wstring::npos) return out;
    start = at + 1;
  }
}

uint32_t Fnv(const BYTE* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: metasummarytool FILE COMMAND...\n");
    return 2;
  }
  MetaSummary* object = MetaSummary_Create();
  if (!object) return 1;
  MetaSummary_SetPath(object, args[0].c_str());
  fileutil::MetaDataSet pending;
  std::vector<BYTE> pendingSmfmf;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    size_t eq = a.find(L'=');
    std::wstring cmd = a.substr(0, eq), arg = eq == std::wstring::npos ? L"" : a.substr(eq + 1);
    if (cmd == L"read") {
      DWORD mask = Number(arg);
      HRESULT hr = MetaSummary_Read(object, mask);
      std::printf("read %lx %08lx\n", (unsigned long)mask, (unsigned long)hr);
      for (const auto& t : object->Set().Texts()) std::printf("%s=%s\n", IdText(t.first).c_str(), Utf8(t.second).c_str());
      for (const auto& p : object->Set().Pictures())
        std::printf("picture %u %u\n", unsigned(p.first), unsigned(p.second.data.size()));
    } else if (cmd == L"text") {
      std::vector<std::wstring> f = Split(arg, L',');
      if (f.size() != 3) return 2;
      DWORD count = Number(f[1]);
      std::vector<wchar_t> buffer(count + 1, L'#');
      HRESULT hr = MetaSummary_GetText(object, Id(f[0]), buffer.data(), count, Number(f[2]));
      std::wstring text;
      bool terminated = false;
      for (DWORD k = 0; k < count; ++k) {
        if (!buffer[k]) {
          terminated = true;
          break;
        }
        text += buffer[k];
      }
      std::printf("text %08lx %s%s\n", (unsigned long)hr, Utf8(text).c_str(), terminated || !count ? "" : "!");
    } else if (cmd == L"stream") {
      IStream* stream = nullptr;
      HRESULT hr = MetaSummary_CreateSummaryStream(object, &stream, Number(arg));
      std::printf("stream %08lx\n", (unsigned long)hr);
      if (stream) {
        fileutil::MetaDataSet loaded;
        loaded.LoadSummaryStream(stream);
        stream->Release();
        for (const auto& t : loaded.Texts()) std::printf("%s=%s\n", IdText(t.first).c_str(), Utf8(t.second).c_str());
      }
    } else if (cmd == L"reset") {
      std::printf("reset %08lx\n", (unsigned long)MetaSummary_Reset(object));
    } else if (cmd == L"pic") {
      std::vector<std::wstring> f = Split(arg, L',');
      if (f.size() != 2) return 2;
      DWORD blockSize = 0, dataSize = 0;
      HRESULT hr = MetaSummary_GetPictureInfo(object, Number(f[0]), &blockSize, &dataSize, Number(f[1]));
      uint32_t sum = 0;
      if (hr == S_OK) {
        std::vector<BYTE> block(blockSize);
        hr = MetaSummary_SetPictureValue(object, Number(f[0]), reinterpret_cast<KvPicture*>(block.data()),
                                         Number(f[1]));
        KvPicture* p = reinterpret_cast<KvPicture*>(block.data());
        if (hr == S_OK && p->totalSize == blockSize && KvPicture_GetPictureDataSize(p) == dataSize)
          sum = Fnv(KvPicture_GetPictureData(p), dataSize);
      }
      std::printf("pic %08lx %lu %lu %08x\n", (unsigned long)hr, (unsigned long)blockSize, (unsigned long)dataSize,
                  unsigned(sum));
    } else if (cmd == L"smfmf") {
      DWORD blockSize = 0, dataSize = 0;
      HRESULT hr = MetaSummary_GetSmfmf(object, &blockSize, &dataSize);
      std::string data;
      if (hr == S_OK) {
        std::vector<BYTE> block(blockSize);
        hr = MetaSummary_GetSmfmfData(object, reinterpret_cast<KvSmfmf*>(block.data()));
        KvSmfmf* s = reinterpret_cast<KvSmfmf*>(block.data());
        if (hr == S_OK && KvSmfmf_GetDataSize(s) == dataSize) data.assign(block.begin() + 16, block.end());
      }
      std::printf("smfmf %08lx %lu %lu %s\n", (unsigned long)hr, (unsigned long)blockSize, (unsigned long)dataSize,
                  data.c_str());
    } else if (cmd == L"add") {
      size_t at = arg.find(L'=');
      if (at == std::wstring::npos) return 2;
      pending.SetSummaryText(Id(arg.substr(0, at)), arg.substr(at + 1));
    } else if (cmd == L"addsmfmf") {
      std::string bytes = Utf8(arg);
      pendingSmfmf.assign(16 + bytes.size(), 0);
      KvSmfmf_SetMeta(reinterpret_cast<KvSmfmf*>(pendingSmfmf.data()), DWORD(bytes.size()), bytes.data());
    } else if (cmd == L"write") {
      fileutil::MetaSummaryStream* stream = new fileutil::MetaSummaryStream();
      stream->FillFromSummary(pending);
      HRESULT hr = MetaSummary_Write(object, stream, pendingSmfmf.empty() ? nullptr
                                                       : reinterpret_cast<KvSmfmf*>(pendingSmfmf.data()),
                                     Number(arg));
      stream->Release();
      std::printf("write %08lx\n", (unsigned long)hr);
    } else {
      std::fprintf(stderr, "metasummarytool: unknown command\n");
      return 2;
    }
  }
  MetaSummary_Destroy(object);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  InitMetaFactories();
  int rc = Run(std::vector<std::wstring>(argv + 1, argv + argc));
  TermMetaFactories();
  std::fflush(stdout);
  return rc;
}
