// Verb "read": opens a file through the reader class and read file, prints
// the audio stream's format, sample count and duration, and writes the
// decoded samples to a 16-bit WAV file.
//
//   read IN OUT.wav [--first FRAME] [--count N] [--block N] [--remote | --remote-mapping]
//
// With --remote the samples are read into the memory of a second process
// (tokenowner.exe beside the host), named by a memory token of that process:
// plain memory, or a file mapping with --remote-mapping. The host takes each
// block back from that process.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "host_output.h"
#include "host_verbs.h"
#include "kvbyteorder.h"
#include "kvfileio.h"
#include "owner_process.h"

namespace {

const DWORD kRecordSize = 184;
const DWORD kFormatOffset = 88;

// The fields of a format record's `_kvwaveformat` that the host prints.
struct FormatFields {
  DWORD sampleType, rate, avgBytes;
  WORD channels, blockAlign, tag, bits;
};

FormatFields ReadFormat(const BYTE* record) {
  const BYTE* f = record + kFormatOffset;
  FormatFields out;
  std::memcpy(&out.sampleType, f + 4, 4);
  std::memcpy(&out.rate, f + 8, 4);
  std::memcpy(&out.channels, f + 12, 2);
  std::memcpy(&out.blockAlign, f + 14, 2);
  std::memcpy(&out.tag, f + 24, 2);
  std::memcpy(&out.bits, f + 26, 2);
  std::memcpy(&out.avgBytes, f + 28, 4);
  return out;
}

void Put16(std::vector<BYTE>& b, unsigned v) {
  b.resize(b.size() + 2);
  PutLE16(&b[b.size() - 2], uint16_t(v));
}
void Put32(std::vector<BYTE>& b, unsigned long v) {
  b.resize(b.size() + 4);
  PutLE32(&b[b.size() - 4], uint32_t(v));
}

bool WriteWav(const std::wstring& path, const std::vector<BYTE>& data, WORD channels, DWORD rate) {
  std::vector<BYTE> header;
  header.insert(header.end(), {'R', 'I', 'F', 'F'});
  Put32(header, 36 + data.size());
  header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(header, 16);
  Put16(header, 1);
  Put16(header, channels);
  Put32(header, rate);
  Put32(header, rate * channels * 2ul);
  Put16(header, channels * 2u);
  Put16(header, 16);
  header.insert(header.end(), {'d', 'a', 't', 'a'});
  Put32(header, data.size());
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return false;
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  if (ok && !data.empty()) ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

std::wstring OwnerProgramPath() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n < MAX_PATH ? n : 0);
  size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"tokenowner.exe";
}

bool ParseNumber(const wchar_t* text, long long* out) {
  wchar_t* end = nullptr;
  *out = std::wcstoll(text, &end, 10);
  return end && *end == 0 && end != text;
}

}  // namespace

int RunReadVerb(PluginModule& plugin, int argc, wchar_t** argv) {
  std::wstring in, out;
  long long first = 0, count = -1, block = 4096;
  int remote = 0;  // 1 plain memory of another process, 2 a mapping of another process
  for (int i = 0; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--remote" || a == L"--remote-mapping") {
      remote = a == L"--remote" ? 1 : 2;
      continue;
    }
    long long* target = a == L"--first" ? &first : a == L"--count" ? &count : a == L"--block" ? &block : nullptr;
    if (target) {
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], target)) {
        std::fprintf(stderr, "host: read: %s needs a number\n", ToUtf8(a).c_str());
        return 2;
      }
      ++i;
    } else if (in.empty()) {
      in = a;
    } else if (out.empty()) {
      out = a;
    } else {
      std::fprintf(stderr, "host: read: unexpected argument %s\n", ToUtf8(a).c_str());
      return 2;
    }
  }
  if (in.empty() || out.empty() || block < 1 || block > 1 << 20) {
    std::fprintf(stderr, "usage: host read IN OUT.wav [--first FRAME] [--count N] [--block N] [--remote | --remote-mapping]\n");
    return 2;
  }

  IKvReadFileClass* cls = nullptr;
  HRESULT hr = plugin.Create(CLSID_NULL, IID_IKvReadFileClass, reinterpret_cast<void**>(&cls));
  if (FAILED(hr) || !cls) {
    std::fprintf(stderr, "host: creating the reader class failed: %s\n", FormatResult(hr).c_str());
    return 1;
  }
  hr = cls->IsFileSupported(in.c_str());
  std::printf("identify %s\n", FormatResult(hr).c_str());
  IKvReadFile* file = nullptr;
  hr = cls->OpenReadFile(&file, INVALID_HANDLE_VALUE, GetCurrentProcessId(), in.c_str(), TRUE);
  if (FAILED(hr) || !file) {
    std::fprintf(stderr, "host: OpenReadFile: %s\n", FormatResult(hr).c_str());
    cls->Release();
    return 1;
  }
  int status = 0;
  IKvReadStream* stream = nullptr;
  IKvReadAudioStream* audio = nullptr;
  hr = file->GetStreamByType(&stream, 1, 0, 0, 0);
  if (SUCCEEDED(hr) && stream) {
    hr = stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&audio));
    stream->Release();
  }
  BYTE record[kRecordSize] = {};
  BYTE source[kRecordSize] = {};
  LONGLONG frames = 0, duration = 0;
  DWORD blockAlign = 0;
  if (SUCCEEDED(hr) && audio) hr = audio->GetStreamFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(record));
  if (SUCCEEDED(hr)) hr = audio->GetSourceFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(source));
  if (SUCCEEDED(hr)) hr = audio->GetSampleCount(&frames);
  if (SUCCEEDED(hr)) hr = audio->GetDuration(&duration);
  if (SUCCEEDED(hr)) hr = audio->GetBlockAlign(&blockAlign);
  if (FAILED(hr) || !audio) {
    std::fprintf(stderr, "host: audio stream: %s\n", FormatResult(FAILED(hr) ? hr : E_FAIL).c_str());
    if (audio) audio->Release();
    file->Release();
    cls->Release();
    return 1;
  }
  FormatFields pcm = ReadFormat(record), src = ReadFormat(source);
  wchar_t text[256] = {};
  file->GetStreamInfoText(text, 256, 0, 2);
  std::printf("source tag=0x%04X channels=%u rate=%lu bits=%u avgbytes=%lu\n", src.tag, src.channels, src.rate,
              src.bits, src.avgBytes);
  std::printf("format pcm channels=%u rate=%lu bits=%lu blockalign=%lu sampletype=%lu\n", pcm.channels, pcm.rate,
              pcm.channels ? blockAlign * 8 / pcm.channels : 0ul, blockAlign, pcm.sampleType);
  std::printf("samples %lld\n", frames);
  std::printf("duration %lld\n", duration);
  std::printf("text %s\n", ToUtf8(text).c_str());

  if (count < 0) count = frames > first ? frames - first : 0;
  std::vector<BYTE> data;
  std::vector<BYTE> buffer(static_cast<size_t>(block) * blockAlign);
  OwnerProcess* owner = nullptr;
  if (remote) {
    owner = new OwnerProcess(static_cast<DWORD>(buffer.size()), remote == 2, OwnerProgramPath());
    if (!owner->ok()) {
      std::fprintf(stderr, "host: cannot start tokenowner.exe\n");
      delete owner;
      audio->Release();
      file->Release();
      cls->Release();
      return 1;
    }
    std::printf("remote pid=%lu %s\n", owner->pid(), remote == 2 ? "mapping" : "memory");
  }
  long long position = first, remaining = count;
  HRESULT readResult = S_OK;
  while (remaining > 0) {
    LONG want = static_cast<LONG>(remaining < block ? remaining : block);
    _kvmemorytoken token = {};
    token.size = token.size2 = static_cast<DWORD>(buffer.size());
    if (owner) {
      token.base = owner->base();
      token.mapping = owner->mapping();
      token.isMapping = remote == 2 ? 1 : 0;
      token.ownerProcessId = owner->pid();
    } else {
      token.base = reinterpret_cast<DWORD_PTR>(buffer.data());
      token.ownerProcessId = GetCurrentProcessId();
    }
    LONG done = 0;
    readResult = audio->ReadSamples(position, token, want, &done);
    if (FAILED(readResult)) {
      std::fprintf(stderr, "host: ReadSamples at %lld: %s\n", position, FormatResult(readResult).c_str());
      status = 1;
      break;
    }
    if (owner) {
      std::vector<unsigned char> back = owner->Dump(0, static_cast<DWORD>(done) * blockAlign);
      if (back.size() != static_cast<size_t>(done) * blockAlign) {
        std::fprintf(stderr, "host: the owner process did not give its buffer back\n");
        status = 1;
        break;
      }
      std::memcpy(buffer.data(), back.data(), back.size());
    }
    data.insert(data.end(), buffer.begin(), buffer.begin() + static_cast<size_t>(done) * blockAlign);
    position += done;
    remaining -= done;
    if (readResult != S_OK || done == 0) break;
  }
  delete owner;
  std::printf("read %lld\n", position - first);
  if (!WriteWav(out, data, pcm.channels, pcm.rate)) {
    std::fprintf(stderr, "host: cannot write %s\n", ToUtf8(out).c_str());
    status = 1;
  }
  audio->Release();
  file->Release();
  cls->Release();
  return status;
}
