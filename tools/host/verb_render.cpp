// Verb "render": renders a WAV file (16-bit PCM or 32-bit float) through the
// plug-in's render class with one of its templates into an MP4 file, serving
// the samples as the host's audio stream, and prints the result.
//
//   render IN.wav OUT.m4a [--preset N] [--tag KEY=VALUE]...
//
// Each --tag is a summary field of the host's metadata (IKvReadMeta), handed
// to the render file before it renders.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "host_meta.h"
#include "host_output.h"
#include "host_verbs.h"
#include "kvbyteorder.h"
#include "kvfileio.h"
#include "kvtemplate.h"
#include "standin_host.h"

namespace {

// The plug-in's renderer id.
const GUID kRendererId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};


// The format and sample bytes of a RIFF WAVE file; false when it is not one
// with PCM or float samples.
bool LoadWav(const std::wstring& path, WAVEFORMATEX& format, std::vector<BYTE>& data, std::string& why) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) {
    why = "cannot open";
    return false;
  }
  std::vector<BYTE> bytes;
  BYTE buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVE", 4)) {
    why = "not a RIFF WAVE file";
    return false;
  }
  bool haveFormat = false, haveData = false;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const BYTE* chunk = bytes.data() + at;
    const size_t size = GetLE32(chunk + 4);
    const size_t avail = bytes.size() - at - 8;
    const size_t body = size < avail ? size : avail;
    if (!std::memcmp(chunk, "fmt ", 4) && body >= 16) {
      std::memset(&format, 0, sizeof format);
      format.wFormatTag = GetLE16(chunk + 8);
      format.nChannels = GetLE16(chunk + 10);
      format.nSamplesPerSec = GetLE32(chunk + 12);
      format.nAvgBytesPerSec = GetLE32(chunk + 16);
      format.nBlockAlign = GetLE16(chunk + 20);
      format.wBitsPerSample = GetLE16(chunk + 22);
      // An extensible format names its sample kind in its sub-format.
      if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && body >= 26) format.wFormatTag = GetLE16(chunk + 8 + 24);
      haveFormat = true;
    } else if (!std::memcmp(chunk, "data", 4)) {
      data.assign(chunk + 8, chunk + 8 + body);
      haveData = true;
    }
    at += 8 + body + (body & 1);
  }
  const bool pcm16 = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16;
  const bool float32 = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32;
  if (!haveFormat || !haveData || !(pcm16 || float32) || format.nChannels < 1 || format.nChannels > 2 ||
      format.nSamplesPerSec == 0) {
    why = "needs 16-bit PCM or 32-bit float samples, one or two channels";
    return false;
  }
  format.nBlockAlign = WORD(format.nChannels * format.wBitsPerSample / 8);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  data.resize(data.size() / format.nBlockAlign * format.nBlockAlign);
  return true;
}

}  // namespace

int RunRenderVerb(PluginModule& plugin, int argc, wchar_t** argv) {
  std::vector<std::wstring> paths;
  long preset = 0;
  SummaryFields tags;
  for (int i = 0; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--tag") == 0 && i + 1 < argc) {
      const std::wstring tag = argv[++i];
      const size_t eq = tag.find(L'=');
      DWORD id = 0;
      if (eq == std::wstring::npos || !SummaryIdOfKey(tag.substr(0, eq), id)) {
        std::fprintf(stderr, "host: render: --tag needs KEY=VALUE with KEY one of %s or four letters\n",
                     SummaryKeyNames().c_str());
        return 2;
      }
      tags.emplace_back(id, tag.substr(eq + 1));
      continue;
    }
    if (std::wcscmp(argv[i], L"--preset") == 0 && i + 1 < argc) {
      wchar_t* end = nullptr;
      preset = std::wcstol(argv[++i], &end, 10);
      if (!end || *end || preset < 0) {
        std::fprintf(stderr, "host: render: --preset needs a template number\n");
        return 2;
      }
    } else if (argv[i][0] == L'-') {
      std::fprintf(stderr, "host: render: unexpected argument %s\n", ToUtf8(argv[i]).c_str());
      return 2;
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 2) {
    std::fprintf(stderr, "usage: host render IN.wav OUT.m4a [--preset N] [--tag KEY=VALUE]...\n");
    return 2;
  }
  WAVEFORMATEX format;
  std::vector<BYTE> data;
  std::string why;
  if (!LoadWav(paths[0], format, data, why)) {
    std::fprintf(stderr, "host: render: %s: %s\n", ToUtf8(paths[0]).c_str(), why.c_str());
    return 1;
  }
  IKvRenderFileClass* cls = nullptr;
  HRESULT hr = plugin.Create(kRendererId, IID_IKvRenderFileClass, reinterpret_cast<void**>(&cls));
  if (FAILED(hr) || !cls) {
    std::fprintf(stderr, "host: creating the render class failed: %s\n", FormatResult(hr).c_str());
    return 1;
  }
  tagKVTEMPLATExV2* t = nullptr;
  hr = cls->GetTemplate(&t, DWORD(preset));
  if (hr != S_OK || !t) {
    std::fprintf(stderr, "host: render: no template %ld: %s\n", preset, FormatResult(hr).c_str());
    cls->Release();
    return 1;
  }
  const std::string name = ToUtf8(KvFio_GetTemplateName(t));
  const LONGLONG frames = LONGLONG(data.size() / format.nBlockAlign);
  StandInStream stream(std::move(data), format);
  IKvReadStream* source = &stream;
  IKvRenderFile* file = nullptr;
  hr = cls->CreateRenderFile(&file, paths[1].c_str(), 1, &source, t);
  std::free(t);
  if (SUCCEEDED(hr) && file) {
    ProgressSink sink;
    if (!tags.empty()) {
      HostSummaryMeta* meta = new HostSummaryMeta(std::move(tags));
      hr = file->SetSourceMeta(meta);
      meta->Release();
    }
    if (SUCCEEDED(hr)) hr = file->Render(&sink);
    file->ReleaseSources();
    file->Release();
  } else if (SUCCEEDED(hr)) {
    hr = E_FAIL;
  }
  cls->Release();
  if (FAILED(hr)) {
    std::fprintf(stderr, "host: render with template %ld (%s) failed: %s\n", preset, name.c_str(),
                 FormatResult(hr).c_str());
    return 1;
  }
  std::printf("rendered %lld frames (%u Hz, %u channels) with template %ld (%s) into %s\n", frames,
              unsigned(format.nSamplesPerSec), unsigned(format.nChannels), preset, name.c_str(),
              ToUtf8(paths[1]).c_str());
  return 0;
}
