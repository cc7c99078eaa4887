// dllsweep: drives the plug-in DLL's read road over every file of a folder,
// as a host would: the reader class opens the file, every sample of its
// audio stream is read (and positioned reads past the end are tried), and
// the read-metadata object gives its summary texts, summary stream, markers,
// generic entries and project-link fields. Made for damaged files: a file
// may be refused or read short, but the process must not crash, no file may
// take longer than the bound, and over the whole sweep the process may not
// grow its handles (GetProcessHandleCount) or private bytes.
//
//   dllsweep [--bound-ms N] [--warmup N] [--max-handles N] [--max-private-kb N] FOLDER
//
// The DLL is vogaac2.dll from the working directory. Each file's name goes
// to stdout before it is opened, so the last line names the file of a crash.
// Exit status: 0 clean; 2 usage; 3 a file took longer than the bound; 4 a
// crash inside the read road; 5 growth of handles or private bytes; 6 the
// DLL or its reader class is missing.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "kvfileio.h"
#include "vog_exports.h"

namespace {

IKvReadFileClass* g_class = nullptr;
std::wstring g_current;
volatile LONG g_frames = 0;

_kvmemorytoken Token(void* buffer, DWORD size) {
  _kvmemorytoken t = {};
  t.base = reinterpret_cast<DWORD_PTR>(buffer);
  t.size = t.size2 = size;
  t.ownerProcessId = GetCurrentProcessId();
  return t;
}

// Reads a stream to its end (at most `limit` bytes).
void Drain(IStream* stream, size_t limit = 64u << 20) {
  if (!stream) return;
  BYTE block[4096];
  size_t total = 0;
  ULONG got = 0;
  while (total < limit && SUCCEEDED(stream->Read(block, sizeof block, &got)) && got > 0) total += got;
  stream->Release();
}

// Answers the frames read.
LONGLONG ReadAudio(IKvReadFile* file) {
  IKvReadStream* stream = nullptr;
  if (FAILED(file->GetStreamByType(&stream, 1, 0, 0, 0)) || !stream) return 0;
  IKvReadAudioStream* audio = nullptr;
  stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&audio));
  stream->Release();
  if (!audio) return 0;
  LONGLONG at = 0;
  LONGLONG frames = 0, duration = 0;
  DWORD align = 0;
  audio->GetSampleCount(&frames);
  audio->GetDuration(&duration);
  if (SUCCEEDED(audio->GetBlockAlign(&align)) && align > 0 && align <= 64 * 8) {
    const LONG block = 4096;
    std::vector<BYTE> buffer(static_cast<size_t>(block) * align);
    const _kvmemorytoken token = Token(buffer.data(), static_cast<DWORD>(buffer.size()));
    for (;;) {
      LONG done = 0;
      HRESULT hr = audio->ReadSamples(at, token, block, &done);
      if (FAILED(hr) || done <= 0 || done > block) break;
      at += done;
      InterlockedExchangeAdd(&g_frames, done);
      if (hr != S_OK) break;
    }
    // Positioned reads: the middle, the end, past the end.
    for (LONGLONG p : {frames / 2, frames, frames + 4096, at + 1}) {
      LONG done = 0;
      audio->ReadSamples(p, token, block, &done);
    }
  }
  audio->Release();
  return at;
}

void ReadMeta(IKvReadFile* file) {
  IKvReadMeta* meta = nullptr;
  if (FAILED(file->GetReadMeta(&meta)) || !meta) return;
  static const char* const kKeys[] = {"INAM", "IART", "IPRD", "ICMT", "ICRD", "IGNR", "TRCK", "IKEY", "ICOP", "ISFT"};
  for (const char* k : kKeys) {
    UINT key = static_cast<UINT>(k[0]) | static_cast<UINT>(k[1]) << 8 | static_cast<UINT>(k[2]) << 16 |
               static_cast<UINT>(k[3]) << 24;
    wchar_t buf[256];
    meta->GetSummaryText(key, buf, 256);
    meta->GetSummaryText(key, buf, 3);
  }
  IStream* s = nullptr;
  if (SUCCEEDED(meta->GetSummaryStream(&s))) Drain(s);
  s = nullptr;
  if (SUCCEEDED(meta->GetMarkers(&s))) Drain(s);
  IKvReadGenericMeta* generic = nullptr;
  if (SUCCEEDED(meta->QueryInterface(IID_IKvReadGenericMeta, reinterpret_cast<void**>(&generic))) && generic) {
    generic->Reset();
    for (int i = 0; i < 10000; ++i) {
      s = nullptr;
      if (generic->Next(&s) != S_OK || !s) break;
      Drain(s);
    }
    generic->Release();
  }
  IKvReadProjectLinkMeta* link = nullptr;
  if (SUCCEEDED(meta->QueryInterface(IID_IKvReadProjectLinkMeta, reinterpret_cast<void**>(&link))) && link) {
    typedef HRESULT (STDMETHODCALLTYPE IKvReadProjectLinkMeta::*Getter)(IStream**);
    const Getter getters[] = {&IKvReadProjectLinkMeta::GetProjectPath,   &IKvReadProjectLinkMeta::GetCommandLine,
                              &IKvReadProjectLinkMeta::GetRendererGuid,  &IKvReadProjectLinkMeta::GetTemplateName,
                              &IKvReadProjectLinkMeta::GetTemplateData,  &IKvReadProjectLinkMeta::GetAppTemplateData,
                              &IKvReadProjectLinkMeta::GetProjectData,   &IKvReadProjectLinkMeta::GetCreatorAppInfo,
                              &IKvReadProjectLinkMeta::GetCreatorAppWindowClassName};
    for (Getter g : getters) {
      s = nullptr;
      if (SUCCEEDED((link->*g)(&s))) Drain(s);
    }
    link->Release();
  }
  meta->Release();
}

struct Outcome {
  bool opened = false;
  HRESULT open = E_FAIL;
  UINT streams = 0;
  LONGLONG frames = 0;
};

DWORD WINAPI ReadOne(void* arg) {
  Outcome* out = static_cast<Outcome*>(arg);
  IKvReadFile* file = nullptr;
  HRESULT hr = g_class->OpenReadFile(&file, INVALID_HANDLE_VALUE, GetCurrentProcessId(), g_current.c_str(), TRUE);
  out->open = hr;
  if (SUCCEEDED(hr) && file) {
    out->opened = true;
    LONGLONG duration = 0;
    UINT count = 0;
    file->GetDuration(&duration);
    file->GetStreamCount(&count);
    out->streams = count;
    out->frames = ReadAudio(file);
    ReadMeta(file);
    file->Release();
  }
  return 0;
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  std::printf("CRASH 0x%08lX in %ls\n", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
              g_current.c_str());
  std::fflush(stdout);
  ExitProcess(4);
}

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
};

// Open handles: the system's count where it gives one; else (Wine gives
// none) the handle values that name an object, probed one by one.
DWORD HandleCount() {
  DWORD n = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0) return n;
  n = 0;
  for (ULONG_PTR v = 4; v < 0x4000; v += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags)) ++n;
  }
  return n;
}

// Private bytes: the committed private pages of the address space (the
// memory counters' PrivateUsage where the system fills it in).
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  pmc.cb = sizeof pmc;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc) &&
      pmc.PrivateUsage > 0)
    return pmc.PrivateUsage;
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION mbi;
  for (BYTE* p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;) {
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
    BYTE* next = static_cast<BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return total;
}

Usage Measure() {
  Usage u;
  u.handles = HandleCount();
  u.privateBytes = PrivateBytes();
  return u;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD bound = 20000;
  int warmup = 20;
  long maxHandles = 16, maxPrivateKb = 32 * 1024;
  std::wstring folder;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--bound-ms" && i + 1 < argc) bound = static_cast<DWORD>(_wtol(argv[++i]));
    else if (a == L"--warmup" && i + 1 < argc) warmup = _wtoi(argv[++i]);
    else if (a == L"--max-handles" && i + 1 < argc) maxHandles = _wtol(argv[++i]);
    else if (a == L"--max-private-kb" && i + 1 < argc) maxPrivateKb = _wtol(argv[++i]);
    else folder = a;
  }
  if (folder.empty()) {
    std::fprintf(stderr, "usage: dllsweep [--bound-ms N] [--warmup N] [--max-handles N] [--max-private-kb N] FOLDER\n");
    return 2;
  }
  SetUnhandledExceptionFilter(OnCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  typedef HRESULT(__stdcall * GetClassObjectFn)(REFCLSID, REFIID, void**);
  GetClassObjectFn get = dll ? reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(
                                   GetProcAddress(dll, VogExportName("DllGetClassObject").c_str())))
                             : nullptr;
  IClassFactory* factory = nullptr;
  if (get) get(CLSID_NULL, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (factory) {
    factory->CreateInstance(nullptr, IID_IKvReadFileClass, reinterpret_cast<void**>(&g_class));
    factory->Release();
  }
  if (!g_class) {
    std::fprintf(stderr, "dllsweep: no reader class from vogaac2.dll\n");
    return 6;
  }

  std::vector<std::wstring> files;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  Usage start, end, peak;
  int opened = 0;
  DWORD slowest = 0;
  std::wstring slowestName;
  for (size_t i = 0; i < files.size(); ++i) {
    if (static_cast<int>(i) == warmup) start = Measure();
    g_current = files[i];
    std::printf("FILE %ls\n", g_current.c_str());
    std::fflush(stdout);
    Outcome outcome;
    DWORD t0 = GetTickCount();
    HANDLE worker = CreateThread(nullptr, 0, ReadOne, &outcome, 0, nullptr);
    if (!worker) return 6;
    if (WaitForSingleObject(worker, bound) != WAIT_OBJECT_0) {
      std::printf("HANG over %lu ms in %ls\n", static_cast<unsigned long>(bound), g_current.c_str());
      std::fflush(stdout);
      ExitProcess(3);
    }
    CloseHandle(worker);
    DWORD took = GetTickCount() - t0;
    std::printf("  open 0x%08lX, %u streams, %lld frames read, %lu ms\n", static_cast<unsigned long>(outcome.open),
                outcome.streams, static_cast<long long>(outcome.frames), static_cast<unsigned long>(took));
    if (took > slowest) {
      slowest = took;
      slowestName = g_current;
    }
    if (outcome.opened) ++opened;
    if (static_cast<int>(i) >= warmup && (i - warmup) % 25 == 24) {
      Usage u = Measure();
      if (u.handles > peak.handles) peak.handles = u.handles;
      if (u.privateBytes > peak.privateBytes) peak.privateBytes = u.privateBytes;
    }
  }
  end = Measure();
  g_class->Release();

  long handleGrowth = static_cast<long>(end.handles) - static_cast<long>(start.handles);
  long privateGrowthKb = static_cast<long>((static_cast<long long>(end.privateBytes) -
                                            static_cast<long long>(start.privateBytes)) / 1024);
  std::printf("files %zu, opened %d, refused %zu, frames read %ld, slowest %lu ms (%ls)\n", files.size(), opened,
              files.size() - static_cast<size_t>(opened), static_cast<long>(g_frames),
              static_cast<unsigned long>(slowest), slowestName.c_str());
  std::printf("after %d files: handles %lu -> %lu (peak %lu), private bytes %lu KiB -> %lu KiB (peak %lu KiB)\n",
              warmup, static_cast<unsigned long>(start.handles), static_cast<unsigned long>(end.handles),
              static_cast<unsigned long>(peak.handles), static_cast<unsigned long>(start.privateBytes / 1024),
              static_cast<unsigned long>(end.privateBytes / 1024), static_cast<unsigned long>(peak.privateBytes / 1024));
  if (static_cast<int>(files.size()) <= warmup) {
    std::printf("too few files to judge growth (warm-up %d)\n", warmup);
    return 0;
  }
  if (handleGrowth > maxHandles || privateGrowthKb > maxPrivateKb) {
    std::printf("GROWTH: %ld handles, %ld KiB private bytes (allowed %ld, %ld KiB)\n", handleGrowth, privateGrowthKb,
                maxHandles, maxPrivateKb);
    return 5;
  }
  std::printf("clean\n");
  return 0;
}
