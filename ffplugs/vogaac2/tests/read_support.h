// Helpers of the read-road tests: the reader reached through the DLL as a
// host reaches it, same-process memory tokens, fixture paths and ffmpeg's
// reference decodes.
#pragma once

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ffbase_interfaces.h"
#include "kvfileio.h"
#include "plugin_dll.h"
#include "vog_paths.h"

using vogtest::WinePath;

inline std::string ReadFixtureDir() { return std::string(VOG_FIXTURE_DIR) + "/readroad/"; }

inline _kvmemorytoken LocalToken(void* buffer, DWORD size) {
  _kvmemorytoken t = {};
  t.base = reinterpret_cast<DWORD_PTR>(buffer);
  t.size = t.size2 = size;
  t.ownerProcessId = GetCurrentProcessId();
  return t;
}

// ffmpeg's float decode turned into 16-bit samples as the plug-in turns its
// decoder's samples: scaled to 16 bits, clipped, truncated toward zero.
inline std::vector<short> ReferenceSamples(const std::string& f32Path) {
  std::vector<short> out;
  FILE* f = std::fopen(f32Path.c_str(), "rb");
  if (!f) return out;
  float v;
  while (std::fread(&v, 4, 1, f) == 1) {
    double s = static_cast<double>(v) * 32768.0;
    if (std::isnan(s)) s = 0;
    if (s >= 32767.0) s = 32767.0;
    if (s <= -32768.0) s = -32768.0;
    out.push_back(static_cast<short>(std::trunc(s)));
  }
  std::fclose(f);
  return out;
}

// The reader class of the loaded DLL and files opened through it.
class Reader {
 public:
  Reader() {
    IClassFactory* factory = dll_.Factory(CLSID_NULL);
    if (factory) {
      factory->CreateInstance(nullptr, IID_IKvReadFileClass, reinterpret_cast<void**>(&cls_));
      factory->Release();
    }
  }
  ~Reader() {
    if (cls_) cls_->Release();
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  IKvReadFileClass* cls() { return cls_; }

  HRESULT OpenFile(const std::wstring& path, IKvReadFile** file, BOOL open = TRUE) {
    *file = nullptr;
    if (!cls_) return E_UNEXPECTED;
    return cls_->OpenReadFile(file, INVALID_HANDLE_VALUE, GetCurrentProcessId(), path.c_str(), open);
  }

  // The file's audio stream (a new reference), or null.
  static IKvReadAudioStream* Audio(IKvReadFile* file) {
    IKvReadStream* stream = nullptr;
    if (FAILED(file->GetStreamByType(&stream, 1, 0, 0, 0)) || !stream) return nullptr;
    IKvReadAudioStream* audio = nullptr;
    stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&audio));
    stream->Release();
    return audio;
  }

  // Reads [first, first + count) in blocks of `block` frames; the result of
  // the last call goes to *last.
  static std::vector<short> ReadRange(IKvReadAudioStream* audio, LONGLONG first, LONG count, LONG block, WORD channels,
                                      HRESULT* last = nullptr, LONG* total = nullptr) {
    std::vector<short> out;
    std::vector<short> buffer(static_cast<size_t>(block) * channels);
    LONGLONG position = first;
    LONG remaining = count;
    HRESULT hr = S_OK;
    while (remaining > 0) {
      LONG want = remaining < block ? remaining : block;
      LONG done = 0;
      hr = audio->ReadSamples(position, LocalToken(buffer.data(), static_cast<DWORD>(buffer.size() * 2)), want, &done);
      if (FAILED(hr)) break;
      out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<size_t>(done) * channels);
      position += done;
      remaining -= done;
      if (hr != S_OK || done == 0) break;
    }
    if (last) *last = hr;
    if (total) *total = static_cast<LONG>(position - first);
    return out;
  }

 private:
  PluginDll dll_;
  IKvReadFileClass* cls_ = nullptr;
};

// The channel count and rate of a format record (its `_kvwaveformat` at 88).
inline void RecordFormat(const BYTE* record, WORD* channels, DWORD* rate) {
  std::memcpy(rate, record + 88 + 8, 4);
  std::memcpy(channels, record + 88 + 12, 2);
}
