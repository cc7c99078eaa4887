// The surrogate process: our AAC reader, forced out of process by a
// configuration file, reads an ffmpeg-made file through the manager exactly as
// it does in process, and our renderer writes the same file bytes there as in
// process, calling back the host's source stream and progress sink; reads from
// eight threads of every apartment kind agree with the direct read; a
// surrogate that is killed (in a read or a render), a plug-in that crashes in
// it, a render the host cancels and a surrogate that never registers give the
// host clean failures and leave no file; a surrogate that registers late is
// still found; two managers share one surrogate; template edits of an
// out-of-process renderer run in the surrogate; a surrogate ends with a host
// that dies without shutting down; and nothing (process, handle, mutex) is
// left behind.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmreg.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fiomanager_util.h"
#include "kvfiodiscovery.h"
#include "kvfiomanager.h"
#include "kvsurrogate.h"
#include "kvtemplate.h"

using namespace fiotest;

namespace {

// How long a host waits at most for a failure once its surrogate is gone.
constexpr DWORD kFailureBoundMs = 10000;
// How long a surrogate may take to end once its hosts let go (its idle time
// plus a margin for a loaded machine).
constexpr DWORD kSurrogateEndMs = 15000;

std::wstring BinDir() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  wchar_t* slash = wcsrchr(path, L'\\');
  if (slash) slash[1] = 0;
  return path;
}

// Surrogate processes running on the machine (this prefix). A process that
// has ended may stay listed while the system still holds a handle to it (Wine
// does, for a while, after the process called back into its host): it is not
// counted.
int SurrogateCount() {
  int n = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, kKvSurrogateExeName) != 0) continue;
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
    const bool ended = h && WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    if (h) CloseHandle(h);
    if (!ended) ++n;
  }
  CloseHandle(snapshot);
  return n;
}

bool WaitForNoSurrogate(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (SurrogateCount() == 0) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(100);
  }
}

// Ends every surrogate still running (after a failed check), so that no
// process outlives the test.
void KillSurrogates() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, kKvSurrogateExeName) != 0) continue;
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (!h) continue;
    TerminateProcess(h, 1);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
  }
  CloseHandle(snapshot);
}

bool MutexExists(const std::wstring& key) {
  wchar_t name[MAX_PATH];
  KvFio_AccessMutexName(key.c_str(), name, MAX_PATH);
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name);
  if (!h) return false;
  CloseHandle(h);
  return true;
}

// A manager over our plug-in DLL, scanned afresh (no cache): in process, or
// forced out of process by a configuration file (as a host's set-up would).
CKvDizuVOManager* MakeManager(const std::wstring& key, bool outOfProcess) {
  CKvDizuVOManager* m = new CKvDizuVOManager();
  if (FAILED(m->Initialize(0, key.c_str()))) {
    m->Release();
    return nullptr;
  }
  tKVLIST* list = nullptr;
  const std::wstring dll = BinDir() + L"vogaac2.dll";
  if (outOfProcess) {
    const std::wstring dir = ScratchFolder(L"surrogate-config");
    const std::wstring conf = dir + L"aac.Duv2007-Config";
    WritePrivateProfileStringW(L"DizuVO Plug-Ins", L"Aac", dll.c_str(), conf.c_str());
    WritePrivateProfileStringW(L"Aac", L"ForceOutOfProcess", L"1", conf.c_str());
    KvFio_FindPluginConfigFilesIn(&list, dir.c_str());
  } else {
    KvFio_CreatePluginList(&list);
    KvFio_AddPluginCandidate(list, dll.c_str(), nullptr);
  }
  if (!list || FAILED(m->RegisterPlugins(list, 0x84)) || FAILED(m->CreateEnumerators(list, 0, nullptr, 0))) {
    m->Release();
    return nullptr;
  }
  m->PreloadPlugins();
  return m;
}

void Close(CKvDizuVOManager* m) {
  if (!m) return;
  m->Shutdown();
  m->Release();
}

// One opened file's audio.
struct Audio {
  IKvReadFile* file = nullptr;
  IKvReadAudioStream* audio = nullptr;
  LONGLONG frames = 0;
  DWORD blockAlign = 0;
  ~Audio() { Reset(); }
  void Reset() {
    if (audio) audio->Release();
    if (file) file->Release();
    audio = nullptr;
    file = nullptr;
  }
};

HRESULT OpenAudio(IKvDizuVOManager* m, const std::wstring& path, Audio* a) {
  HRESULT hr = m->OpenFile(path.c_str(), &a->file, 0);
  if (FAILED(hr)) return hr;
  IKvReadStream* stream = nullptr;
  hr = a->file->GetStreamByType(&stream, 1, 0, 0, 0);
  if (FAILED(hr)) return hr;
  hr = stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&a->audio));
  stream->Release();
  if (FAILED(hr)) return hr;
  hr = a->audio->GetSampleCount(&a->frames);
  if (SUCCEEDED(hr)) hr = a->audio->GetBlockAlign(&a->blockAlign);
  return hr;
}

HRESULT Read(IKvReadAudioStream* audio, LONGLONG first, LONG count, DWORD blockAlign, std::vector<BYTE>* out) {
  out->assign(static_cast<size_t>(count) * blockAlign, 0xCD);
  _kvmemorytoken token = {};
  token.size = token.size2 = static_cast<DWORD>(out->size());
  token.base = reinterpret_cast<DWORD_PTR>(out->data());
  token.ownerProcessId = GetCurrentProcessId();
  LONG done = 0;
  HRESULT hr = audio->ReadSamples(first, token, count, &done);
  if (SUCCEEDED(hr)) out->resize(static_cast<size_t>(done) * blockAlign);
  return hr;
}

std::vector<BYTE> SummaryBytes(IKvReadFile* file) {
  std::vector<BYTE> bytes;
  IKvReadMeta* meta = nullptr;
  if (FAILED(file->GetReadMeta(&meta)) || !meta) return bytes;
  IStream* summary = nullptr;
  if (SUCCEEDED(meta->GetSummaryStream(&summary)) && summary) {
    LARGE_INTEGER zero = {};
    summary->Seek(zero, STREAM_SEEK_SET, nullptr);
    BYTE chunk[512];
    ULONG got = 0;
    // The stream's end is any answer other than S_OK, or a short read.
    for (;;) {
      got = 0;
      HRESULT hr = summary->Read(chunk, sizeof chunk, &got);
      if (hr != S_OK || got == 0 || got > sizeof chunk) break;
      bytes.insert(bytes.end(), chunk, chunk + got);
      if (got < sizeof chunk || bytes.size() > (1u << 20)) break;
    }
    summary->Release();
  }
  wchar_t text[256] = {};
  HRESULT hr = meta->GetSummaryText(0x54465349 /* "ISFT" */, text, 256);
  bytes.push_back(static_cast<BYTE>(SUCCEEDED(hr)));
  for (const wchar_t* p = text; *p; ++p) bytes.push_back(static_cast<BYTE>(*p));
  meta->Release();
  return bytes;
}

// A Win32 thread running `body`, so that the test can wait for it with a bound.
struct Body {
  std::function<void()> run;
};
DWORD WINAPI BodyMain(void* body) {
  static_cast<Body*>(body)->run();
  return 0;
}
HANDLE StartThread(Body* body) { return CreateThread(nullptr, 0, BodyMain, body, 0, nullptr); }

// Our renderer's id.
constexpr GUID kAacRenderer = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

// The host's source of a render: 1.5 s of a 440 Hz tone with a little noise,
// interleaved float stereo at 44.1 kHz. A render that runs in another process
// hands in buffers of that process: a read then writes there.
class SourceStream final : public IKvReadAudioStream {
 public:
  static constexpr DWORD kRate = 44100;
  static constexpr WORD kChannels = 2;
  SourceStream() : samples_(kRate * 3 / 2 * kChannels) {
    uint32_t seed = 12345;
    for (size_t i = 0; i < samples_.size(); ++i) {
      seed = seed * 1664525u + 1013904223u;
      const double t = static_cast<double>(i / kChannels) / kRate;
      samples_[i] = 0.5f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * 440.0 * t)) +
                    (static_cast<float>((seed >> 8) & 0xFFFF) / 32768.0f - 1.0f) * 0.01f;
    }
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IKvReadStream) &&
        !IsEqualGUID(iid, IID_IKvReadAudioStream))
      return E_NOINTERFACE;
    *out = static_cast<IKvReadAudioStream*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass**) override { return E_NOTIMPL; }
  IKvReadFile* STDMETHODCALLTYPE GetReadFile() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE GetStreamFlags(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStreamType(DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStartTime(LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetUserValue(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSampleCount(LONGLONG* frames) override {
    if (!frames) return E_POINTER;
    *frames = static_cast<LONGLONG>(samples_.size() / kChannels);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBlockAlign(DWORD* blockAlign) override {
    if (!blockAlign) return E_POINTER;
    *blockAlign = kChannels * sizeof(float);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override {
    return GetSourceFormatInfo(info);
  }
  HRESULT STDMETHODCALLTYPE GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override {
    const WAVEFORMATEX format = {WAVE_FORMAT_IEEE_FLOAT, kChannels, kRate, kRate * 4u * kChannels,
                                 WORD(4 * kChannels), 32, 0};
    return KvFio_SetStreamFormatInfo(info, &format, nullptr, static_cast<LONGLONG>(samples_.size() / kChannels));
  }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const _KVFILESTREAMFORMATINFOv2*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadSamples(LONGLONG first, _kvmemorytoken token, LONG count, LONG* done) override {
    if (!done) return E_POINTER;
    *done = 0;
    const DWORD align = kChannels * sizeof(float);
    const LONGLONG total = static_cast<LONGLONG>(samples_.size() / kChannels);
    if (count < 0 || first < 0 || token.isMapping || static_cast<ULONGLONG>(count) * align > token.size)
      return E_INVALIDARG;
    LONG n = first >= total ? 0 : static_cast<LONG>(std::min<LONGLONG>(count, total - first));
    const void* from = samples_.data() + first * kChannels;
    void* to = reinterpret_cast<void*>(static_cast<UINT_PTR>(token.base) + token.offset);
    const SIZE_T bytes = static_cast<SIZE_T>(n) * align;
    if (token.ownerProcessId == GetCurrentProcessId()) {
      std::memcpy(to, from, bytes);
    } else if (bytes) {
      HANDLE owner = OpenProcess(PROCESS_VM_WRITE | PROCESS_VM_OPERATION, FALSE, token.ownerProcessId);
      SIZE_T written = 0;
      const BOOL ok = owner && WriteProcessMemory(owner, to, from, bytes, &written) && written == bytes;
      if (owner) CloseHandle(owner);
      if (!ok) return E_FAIL;
      ++remoteReads;
    }
    *done = n;
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR, DWORD_PTR, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR) override { return E_NOTIMPL; }

  std::atomic<int> remoteReads{0};

 private:
  ~SourceStream() = default;
  LONG refs_ = 1;
  std::vector<float> samples_;
};

// The host's progress sink (slots 3 and 6; no interface id of its own). At
// call `actAt` of slot 6 it runs `act`; from call `cancelAt` on it refuses
// (the user's cancel).
struct Sink : public IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  virtual HRESULT STDMETHODCALLTYPE Begin(DWORD, LONGLONG total) {
    ++begins;
    this->total = total;
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE Slot4() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Slot5() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Position(LONGLONG position) {
    const int n = ++positions;
    last = position;
    if (n == actAt && act) act();
    return n >= cancelAt ? E_ABORT : S_OK;
  }
  std::atomic<int> begins{0}, positions{0};
  std::atomic<LONGLONG> total{0}, last{0};
  int cancelAt = 1 << 30;
  int actAt = -1;
  std::function<void()> act;
};

std::vector<BYTE> FileBytes(const std::wstring& path) {
  std::vector<BYTE> bytes;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size = {};
  GetFileSizeEx(h, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && (!ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                         got != bytes.size()))
    bytes.clear();
  CloseHandle(h);
  return bytes;
}


// Runs the copy of this program in `dir` (host.exe) with the child test
// `filter`, its output into a file there: only this program's own summary
// reaches the test log, so a run that ends early cannot pass on a child's.
// The child's exit code, or -1 when it did not end within a minute; `output`
// receives what it printed.
int RunChild(const std::wstring& dir, const wchar_t* filter, std::string* output) {
  const std::wstring log = dir + L"child.log";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                           0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return -1;
  std::wstring command = L"\"" + dir + L"host.exe\" --gtest_filter=" + filter;
  SetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", L"1");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = startup.hStdError = out;
  PROCESS_INFORMATION child = {};
  const BOOL started =
      CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, BinDir().c_str(), &startup, &child);
  SetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", nullptr);
  CloseHandle(out);
  if (!started) return -1;
  const bool ended = WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(child.hProcess, 1);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  // (A surrogate that the child started may still hold the file.)
  output->clear();
  HANDLE in = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
  if (in != INVALID_HANDLE_VALUE) {
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got) output->append(chunk, got);
    CloseHandle(in);
  }
  return ended ? static_cast<int>(code) : -1;
}

// The file's bytes with the times a render stamps into its movie, track and
// media headers (when the file was made) set to zero: two renders of the same
// source and template differ in nothing else.
std::vector<BYTE> WithoutTimes(std::vector<BYTE> bytes) {
  struct Walk {
    static void Boxes(std::vector<BYTE>& b, size_t at, size_t end) {
      while (at + 8 <= end) {
        const size_t size = (size_t(b[at]) << 24) | (size_t(b[at + 1]) << 16) | (size_t(b[at + 2]) << 8) | b[at + 3];
        if (size < 8 || at + size > end) return;
        const std::string type(reinterpret_cast<const char*>(&b[at + 4]), 4);
        if (type == "moov" || type == "trak" || type == "mdia") {
          Boxes(b, at + 8, at + size);
        } else if ((type == "mvhd" || type == "tkhd" || type == "mdhd") && size >= 12) {
          // Version 1 holds two 64-bit times, version 0 two 32-bit ones.
          const size_t bytesOfTimes = b[at + 8] == 1 ? 16 : 8;
          if (at + 12 + bytesOfTimes <= at + size) std::fill(b.begin() + at + 12, b.begin() + at + 12 + bytesOfTimes, 0);
        }
        at += size;
      }
    }
  };
  Walk::Boxes(bytes, 0, bytes.size());
  return bytes;
}

// The files in `folder` (names only).
std::vector<std::wstring> FolderFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return names;
}

// Renders the source with our renderer's template `preset` into `path`,
// through whatever class object the manager hands out; `templateBytes`
// receives the template the class gave.
HRESULT RenderThrough(IKvDizuVOManager* m, int preset, const std::wstring& path, Sink* sink,
                      std::vector<BYTE>* templateBytes) {
  IKvRenderFileClass* cls = nullptr;
  HRESULT hr = m->GetRendererClass(&cls, &kAacRenderer);
  if (FAILED(hr)) return hr;
  tagKVTEMPLATExV2* t = nullptr;
  hr = cls->GetTemplate(&t, preset);
  if (SUCCEEDED(hr) && !t) hr = E_UNEXPECTED;
  if (FAILED(hr)) {
    cls->Release();
    return hr;
  }
  if (templateBytes) templateBytes->assign(reinterpret_cast<BYTE*>(t), reinterpret_cast<BYTE*>(t) + t->cbSize);
  SourceStream* source = new SourceStream();
  IKvReadStream* streams[1] = {source};
  IKvRenderFile* file = nullptr;
  hr = cls->CreateRenderFile(&file, path.c_str(), 1, streams, t);
  std::free(t);
  if (SUCCEEDED(hr)) {
    // The file keeps the template it was made with.
    tagKVTEMPLATExV2* kept = nullptr;
    if (templateBytes && SUCCEEDED(file->GetTemplate(&kept, 0)) && kept) {
      if (kept->cbSize != templateBytes->size() || std::memcmp(kept, templateBytes->data(), kept->cbSize) != 0)
        templateBytes->clear();
      std::free(kept);
    }
    hr = file->Render(sink);
    file->ReleaseSources();
    file->Release();
  }
  source->Release();
  cls->Release();
  return hr;
}

class Surrogate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitForNoSurrogate(kSurrogateEndMs)) << "a surrogate of an earlier test is still running";
    mp4_ = FixtureDir() + L"aac.mp4";
  }
  void TearDown() override {
    if (HasFailure()) KillSurrogates();
  }
  std::wstring mp4_;
};

}  // namespace

TEST(SurrogateParts, HandleDuplicationIntoAProcess) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE copy = nullptr;
  ASSERT_EQ(DuplicateHandleToProcessId(event, GetCurrentProcessId(), &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(SetEvent(copy));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "the copy names the same event";
  CloseHandle(copy);
  struct Case {
    HANDLE handle;
    DWORD process;
  } failing[] = {{reinterpret_cast<HANDLE>(0x7ff8), GetCurrentProcessId()}, {event, 0x7FFFFFFC}};
  for (const Case& c : failing) {
    copy = reinterpret_cast<HANDLE>(1);
    HRESULT hr = DuplicateHandleToProcessId(c.handle, c.process, &copy);
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
    EXPECT_EQ(copy, nullptr);
  }
  EXPECT_EQ(DuplicateHandleToProcessId(event, GetCurrentProcessId(), nullptr), E_POINTER);
  // A failure that leaves no error code is still a failure.
  SetLastError(0);
  EXPECT_EQ(KvFio_LastErrorResult(), E_FAIL);
  CloseHandle(event);
}

namespace {
DWORD __stdcall ThreadIdPlus(DWORD_PTR add) { return GetCurrentThreadId() + static_cast<DWORD>(add); }
CKvWorkerThread* g_worker = nullptr;
DWORD __stdcall Nested(DWORD_PTR) {
  DWORD inner = 0;
  return SUCCEEDED(g_worker->Run(&ThreadIdPlus, 0, &inner)) ? inner : 0;
}
}  // namespace

TEST(SurrogateParts, WorkerThreadRunsCallsOneAtATime) {
  CKvWorkerThread worker;
  g_worker = &worker;
  DWORD result = 0;
  ASSERT_EQ(worker.Run(&ThreadIdPlus, 1, &result), S_OK);
  ASSERT_TRUE(worker.Running());
  EXPECT_EQ(result, worker.ThreadId() + 1);
  EXPECT_NE(worker.ThreadId(), GetCurrentThreadId());
  // A call that runs another on the worker from the worker itself.
  ASSERT_EQ(worker.Run(&Nested, 0, &result), S_OK);
  EXPECT_EQ(result, worker.ThreadId());
  worker.Stop();
  EXPECT_FALSE(worker.Running());
  g_worker = nullptr;
}

TEST(SurrogateParts, ALoadFromAThreadThatHoldsTheAccessMutexDoesNotDeadlock) {
  CKvDizuVOManager* m = MakeManager(L"Vog\\SurrogateTest\\Mutex", false);
  ASSERT_NE(m, nullptr);
  ASSERT_GT(m->Plugins()->count, 0);
  KvFioPluginRecord* record = KvFio_RecordAt(m->Plugins(), 0);
  std::atomic<HRESULT> result{E_PENDING};
  Body body{[&] {
    m->LockAccess();
    result = m->RunOnWorkerThread(record, false);
    m->UnlockAccess();
  }};
  HANDLE h = StartThread(&body);
  ASSERT_NE(h, nullptr);
  const bool ended = WaitForSingleObject(h, 10000) == WAIT_OBJECT_0;
  ASSERT_TRUE(ended) << "the load waits for its own caller";
  CloseHandle(h);
  EXPECT_EQ(result.load(), S_OK);
  Close(m);
}

TEST_F(Surrogate, OurReaderOutOfProcessReadsWhatItReadsInProcess) {
  const std::wstring key = L"Vog\\SurrogateTest\\Read";
  CKvDizuVOManager* in = MakeManager(key + L"In", false);
  ASSERT_NE(in, nullptr);
  Audio direct;
  ASSERT_EQ(OpenAudio(in, mp4_, &direct), S_OK);
  std::vector<BYTE> expected;
  ASSERT_EQ(Read(direct.audio, 0, static_cast<LONG>(direct.frames), direct.blockAlign, &expected), S_OK);
  const std::vector<BYTE> expectedMeta = SummaryBytes(direct.file);
  std::vector<BYTE> expectedPart;
  ASSERT_EQ(Read(direct.audio, 4321, 1000, direct.blockAlign, &expectedPart), S_OK);
  direct.Reset();
  Close(in);
  EXPECT_EQ(KVDizuVO_GetSurrogateProcessID(), 0u) << "in process no surrogate runs";

  const LONG users = KvFio_SurrogateUserCount();
  CKvDizuVOManager* out = MakeManager(key, true);
  ASSERT_NE(out, nullptr);
  const KvFioPluginRecord* record = KvFio_RecordAt(out->Plugins(), 0);
  EXPECT_EQ(record->state & (KVFIO_PLUGIN_FORCED_OUT | KVFIO_PLUGIN_IN_SURROGATE | KVFIO_PLUGIN_UNUSABLE),
            KVFIO_PLUGIN_FORCED_OUT | KVFIO_PLUGIN_IN_SURROGATE);
  const DWORD surrogate = KVDizuVO_GetSurrogateProcessID();
  EXPECT_NE(surrogate, 0u);
  EXPECT_NE(surrogate, GetCurrentProcessId());
  EXPECT_EQ(out->SurrogateProcessId(), surrogate);
  EXPECT_EQ(KvFio_SurrogateUserCount(), users + 1);
  EXPECT_EQ(SurrogateCount(), 1);
  {
    Audio remote;
    ASSERT_EQ(OpenAudio(out, mp4_, &remote), S_OK);
    EXPECT_EQ(remote.frames, direct.frames);
    EXPECT_EQ(remote.blockAlign, direct.blockAlign);
    std::vector<BYTE> got;
    ASSERT_EQ(Read(remote.audio, 0, static_cast<LONG>(remote.frames), remote.blockAlign, &got), S_OK);
    EXPECT_TRUE(got == expected) << "the whole file, sample for sample";
    // A read in pieces from the middle.
    const LONG piece = 1000;
    std::vector<BYTE> part;
    ASSERT_EQ(Read(remote.audio, 4321, piece, remote.blockAlign, &part), S_OK);
    ASSERT_EQ(part.size(), static_cast<size_t>(piece) * remote.blockAlign);
    EXPECT_TRUE(part == expectedPart);
    EXPECT_EQ(SummaryBytes(remote.file), expectedMeta) << "the metadata reads the same";
  }
  Close(out);
  EXPECT_EQ(KvFio_SurrogateUserCount(), users);
  EXPECT_FALSE(MutexExists(key));
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs)) << "the surrogate ends once its host lets go";
}

TEST_F(Surrogate, EightThreadsOfEveryKindReadThroughTheBlankets) {
  // The host opens the file eight times through the manager (a manager
  // belongs to the thread that made it); then eight threads read at once,
  // each through its own file's blankets, its own ranges in its own order. A
  // decoder's output at a position depends on the reads before it, so the
  // direct read of each thread's ranges is made in process, in the same
  // order, on a freshly opened file.
  const int kReads = 12;
  auto range = [](int t, int i, LONGLONG frames, LONGLONG* first, LONG* count) {
    *first = (static_cast<LONGLONG>(t) * 977 + i * 1531) % (frames - 600);
    *count = 200 + (t * 37 + i * 53) % 400;
  };
  CKvDizuVOManager* in = MakeManager(L"Vog\\SurrogateTest\\ThreadsIn", false);
  ASSERT_NE(in, nullptr);
  std::vector<std::vector<BYTE>> expected(8 * kReads);
  for (int t = 0; t < 8; ++t) {
    Audio direct;
    ASSERT_EQ(OpenAudio(in, mp4_, &direct), S_OK);
    for (int i = 0; i < kReads; ++i) {
      LONGLONG first = 0;
      LONG count = 0;
      range(t, i, direct.frames, &first, &count);
      ASSERT_EQ(Read(direct.audio, first, count, direct.blockAlign, &expected[t * kReads + i]), S_OK);
    }
  }
  Close(in);

  CKvDizuVOManager* out = MakeManager(L"Vog\\SurrogateTest\\Threads", true);
  ASSERT_NE(out, nullptr);
  enum Kind { kMta, kSta, kNoCom };
  const Kind kinds[8] = {kMta, kSta, kNoCom, kMta, kSta, kNoCom, kMta, kSta};
  std::atomic<int> mismatches{0}, failures{0};
  std::vector<Audio> remotes(8);
  for (Audio& remote : remotes) ASSERT_EQ(OpenAudio(out, mp4_, &remote), S_OK);
  std::vector<Body> bodies(8);
  std::vector<HANDLE> threads;
  for (int t = 0; t < 8; ++t) {
    bodies[t].run = [&, t] {
      const Kind kind = kinds[t];
      if (kind != kNoCom) CoInitializeEx(nullptr, kind == kMta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
      const Audio& remote = remotes[t];
      for (int i = 0; i < kReads; ++i) {
        LONGLONG first = 0;
        LONG count = 0;
        range(t, i, remote.frames, &first, &count);
        std::vector<BYTE> got;
        if (FAILED(Read(remote.audio, first, count, remote.blockAlign, &got))) ++failures;
        else if (got != expected[t * kReads + i]) ++mismatches;
      }
      if (kind != kNoCom) CoUninitialize();
    };
    threads.push_back(StartThread(&bodies[t]));
  }
  const bool ended =
      WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 120000) == WAIT_OBJECT_0;
  for (HANDLE h : threads) CloseHandle(h);
  if (!ended) KillSurrogates();
  ASSERT_TRUE(ended);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(mismatches.load(), 0);
  for (Audio& remote : remotes) remote.Reset();
  Close(out);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

TEST_F(Surrogate, AKilledSurrogateFailsTheReadCleanlyAndTheNextOpenStartsAnother) {
  CKvDizuVOManager* m = MakeManager(L"Vog\\SurrogateTest\\Killed", true);
  ASSERT_NE(m, nullptr);
  Audio remote;
  ASSERT_EQ(OpenAudio(m, mp4_, &remote), S_OK);
  const DWORD first = m->SurrogateProcessId();
  ASSERT_NE(first, 0u);
  std::vector<BYTE> expected;
  ASSERT_EQ(Read(remote.audio, 0, static_cast<LONG>(remote.frames), remote.blockAlign, &expected), S_OK);

  // A reader thread reads on and on; the surrogate is killed under it.
  std::atomic<bool> started{false};
  std::atomic<HRESULT> failure{S_OK};
  std::atomic<DWORD> failedAt{0};
  Body body{[&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (int i = 0; i < 100000; ++i) {
      std::vector<BYTE> got;
      HRESULT hr = Read(remote.audio, (i * 257) % (remote.frames - 300), 256, remote.blockAlign, &got);
      started = true;
      if (FAILED(hr)) {
        failedAt = GetTickCount();
        failure = hr;
        break;
      }
    }
    CoUninitialize();
  }};
  HANDLE rh = StartThread(&body);
  ASSERT_NE(rh, nullptr);
  while (!started) Sleep(1);
  Sleep(50);
  HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first);
  ASSERT_NE(h, nullptr);
  const DWORD killedAt = GetTickCount();
  TerminateProcess(h, 9);
  WaitForSingleObject(h, 5000);
  CloseHandle(h);
  const bool ended = WaitForSingleObject(rh, kFailureBoundMs) == WAIT_OBJECT_0;
  if (!ended) KillSurrogates();
  ASSERT_TRUE(ended) << "the read did not come back within " << kFailureBoundMs << " ms";
  CloseHandle(rh);
  EXPECT_TRUE(FAILED(failure.load())) << std::hex << failure.load();
  EXPECT_LE(failedAt.load() - killedAt, kFailureBoundMs);
  remote.Reset();

  // The next open starts a new surrogate and reads correctly.
  Audio again;
  ASSERT_EQ(OpenAudio(m, mp4_, &again), S_OK);
  EXPECT_NE(m->SurrogateProcessId(), first);
  EXPECT_NE(m->SurrogateProcessId(), 0u);
  std::vector<BYTE> got;
  ASSERT_EQ(Read(again.audio, 0, static_cast<LONG>(again.frames), again.blockAlign, &got), S_OK);
  EXPECT_TRUE(got == expected);
  again.Reset();
  Close(m);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

TEST_F(Surrogate, APlugInThatCrashesInTheSurrogateDoesNotTakeTheHostDown) {
  CKvDizuVOManager* m = MakeManager(L"Vog\\SurrogateTest\\Crash", true);
  ASSERT_NE(m, nullptr);
  KvFioPluginRecord crash = {};
  crash.size = sizeof crash;
  wcscpy(crash.dllPath, (BinDir() + L"crashplugin.dll").c_str());
  crash.pluginId = kAacPlugin;
  IUnknown* object = nullptr;
  const DWORD start = GetTickCount();
  HRESULT hr = m->CreateInSurrogate(&crash, nullptr, IID_IKvReadFileClass, reinterpret_cast<void**>(&object));
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(object, nullptr);
  EXPECT_LE(GetTickCount() - start, kFailureBoundMs);
  // The host lives on, and its next open is served by a new surrogate.
  Audio again;
  ASSERT_EQ(OpenAudio(m, mp4_, &again), S_OK);
  std::vector<BYTE> got;
  EXPECT_EQ(Read(again.audio, 0, 1024, again.blockAlign, &got), S_OK);
  again.Reset();
  Close(m);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

// Run in a copy of this program beside a surrogate stand-in that never
// registers (see the next test); skipped otherwise.
TEST(SurrogateChild, ASurrogateThatNeverRegistersFailsTheConnection) {
  if (!GetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", nullptr, 0)) GTEST_SKIP() << "run by NeverRegisters";
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CKvDizuVOManager* m = new CKvDizuVOManager();
  ASSERT_EQ(m->Initialize(0, L"Vog\\SurrogateTest\\Child"), S_OK);
  const LONG users = KvFio_SurrogateUserCount();
  const DWORD start = GetTickCount();
  HRESULT hr = m->ConnectSurrogate();
  const DWORD took = GetTickCount() - start;
  // Not registered under its own id; the fallback id answers "not
  // registered", or "unavailable" when a surrogate that was killed earlier
  // left its registration behind.
  EXPECT_TRUE(hr == REGDB_E_CLASSNOTREG || KvFio_IsProcessGone(hr)) << std::hex << hr;
  EXPECT_GE(took, 900u) << "ten tries, 100 ms apart";
  EXPECT_EQ(KvFio_SurrogateUserCount(), users) << "the user count is rolled back";
  EXPECT_EQ(KVDizuVO_GetSurrogateProcessID(), 0u);
  EXPECT_FALSE(m->SurrogateConnected());
  EXPECT_EQ(SurrogateCount(), 0) << "the stand-in that never answered was ended";
  m->Shutdown();
  m->Release();
  CoUninitialize();
}

TEST_F(Surrogate, NeverRegisters) {
  const std::wstring dir = ScratchFolder(L"silent-surrogate");
  ASSERT_TRUE(CopyBinFile(L"kvsurrogate_tests.exe", dir + L"host.exe"));
  ASSERT_TRUE(CopyBinFile(L"silent_surrogate.exe", dir + kKvSurrogateExeName));
  std::string output;
  EXPECT_EQ(RunChild(dir, L"SurrogateChild.ASurrogateThatNeverRegisters*", &output), 0)
      << "the child's checks failed:\n" << output;
}

TEST_F(Surrogate, NothingIsLeftBehind) {
  // Handles the first round may keep for the life of the process (COM's own)
  // are counted after it; further rounds must not add any.
  const std::wstring key = L"Vog\\SurrogateTest\\Leaks";
  DWORD handles[2] = {};
  for (int round = 0; round < 4; ++round) {
    CKvDizuVOManager* m = MakeManager(key, true);
    ASSERT_NE(m, nullptr);
    {
      Audio remote;
      ASSERT_EQ(OpenAudio(m, mp4_, &remote), S_OK);
      std::vector<BYTE> got;
      ASSERT_EQ(Read(remote.audio, 0, 2048, remote.blockAlign, &got), S_OK);
    }
    EXPECT_TRUE(MutexExists(key));
    Close(m);
    EXPECT_FALSE(MutexExists(key)) << "the access mutex is gone with the manager";
    EXPECT_EQ(KvFio_SurrogateUserCount(), 0);
    EXPECT_EQ(KVDizuVO_GetSurrogateProcessID(), 0u);
    ASSERT_TRUE(WaitForNoSurrogate(kSurrogateEndMs)) << "round " << round;
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    if (round == 0) handles[0] = count;
    handles[1] = count;
  }
  EXPECT_LE(handles[1], handles[0] + 2) << "handles grow with every round: " << handles[0] << " -> " << handles[1];
  // The host's exceptions still work once COM let go of the proxy DLL: debug
  // output is raised as one (a handler left in an unloaded DLL ended the
  // process here, half-way, so that it never finished).
  OutputDebugStringW(L"surrogate rounds done\n");
}

TEST_F(Surrogate, ARenderOutOfProcessWritesTheBytesOfTheRenderInProcess) {
  const std::wstring dir = ScratchFolder(L"surrogate-render");
  // An AAC-LC and an HE-AAC preset; first in process, then out of process.
  const int presets[2] = {0, 9};
  Sink inSinks[2], outSinks[2];
  std::vector<BYTE> inTemplates[2];
  CKvDizuVOManager* in = MakeManager(L"Vog\\SurrogateTest\\RenderIn", false);
  ASSERT_NE(in, nullptr);
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(RenderThrough(in, presets[i], dir + L"in" + std::to_wstring(presets[i]) + L".m4a", &inSinks[i],
                            &inTemplates[i]),
              S_OK);
  Close(in);
  CKvDizuVOManager* out = MakeManager(L"Vog\\SurrogateTest\\Render", true);
  ASSERT_NE(out, nullptr);
  for (int i = 0; i < 2; ++i) {
    const int preset = presets[i];
    SCOPED_TRACE("preset " + std::to_string(preset));
    const std::wstring inPath = dir + L"in" + std::to_wstring(preset) + L".m4a";
    const std::wstring outPath = dir + L"out" + std::to_wstring(preset) + L".m4a";
    Sink& inSink = inSinks[i];
    Sink& outSink = outSinks[i];
    const std::vector<BYTE>& inTemplate = inTemplates[i];
    std::vector<BYTE> outTemplate;
    ASSERT_EQ(RenderThrough(out, preset, outPath, &outSink, &outTemplate), S_OK);
    EXPECT_EQ(KvFio_RecordAt(out->Plugins(), 0)->state & KVFIO_PLUGIN_IN_SURROGATE, KVFIO_PLUGIN_IN_SURROGATE);
    ASSERT_FALSE(inTemplate.empty());
    EXPECT_TRUE(outTemplate == inTemplate) << "the templates cross whole, both ways";
    const std::vector<BYTE> expected = FileBytes(inPath);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(WithoutTimes(FileBytes(outPath)) == WithoutTimes(expected))
        << "the same file, byte for byte but for the times it was made";
    // The host's sink heard the render from the other process as it hears
    // one in its own.
    EXPECT_EQ(outSink.begins.load(), 1);
    EXPECT_EQ(outSink.total.load(), inSink.total.load());
    EXPECT_EQ(outSink.positions.load(), inSink.positions.load());
    EXPECT_EQ(outSink.last.load(), inSink.last.load());
  }
  EXPECT_EQ(FolderFiles(dir).size(), 4u) << "the renders left no temporary file";
  Close(out);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

TEST_F(Surrogate, ARenderCancelledOrCutOffFailsCleanly) {
  const std::wstring dir = ScratchFolder(L"surrogate-render-fail");
  CKvDizuVOManager* m = MakeManager(L"Vog\\SurrogateTest\\RenderFail", true);
  ASSERT_NE(m, nullptr);
  const std::wstring whole = dir + L"whole.m4a";
  Sink wholeSink;
  ASSERT_EQ(RenderThrough(m, 0, whole, &wholeSink, nullptr), S_OK);
  const std::vector<BYTE> expected = FileBytes(whole);
  ASSERT_FALSE(expected.empty());
  ASSERT_GT(wholeSink.positions.load(), 4);

  struct Case {
    const char* name;
    bool kill;  // the surrogate is killed at the third progress call; else the host cancels there
  } cases[] = {{"cancelled by the host", false}, {"surrogate killed", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring target = dir + L"cut.m4a";
    const DWORD surrogate = m->SurrogateProcessId();
    ASSERT_NE(surrogate, 0u);
    Sink sink;
    std::atomic<DWORD> actedAt{0};
    if (c.kill) {
      sink.actAt = 3;
      sink.act = [&] {
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, surrogate);
        if (h) {
          TerminateProcess(h, 9);
          WaitForSingleObject(h, 5000);
          CloseHandle(h);
        }
        actedAt = GetTickCount();
      };
    } else {
      sink.cancelAt = 3;
    }
    std::atomic<HRESULT> result{E_PENDING};
    std::atomic<DWORD> endedAt{0};
    Body body{[&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      result = RenderThrough(m, 0, target, &sink, nullptr);
      endedAt = GetTickCount();
      CoUninitialize();
    }};
    HANDLE h = StartThread(&body);
    ASSERT_NE(h, nullptr);
    const bool ended = WaitForSingleObject(h, 60000) == WAIT_OBJECT_0;
    if (!ended) KillSurrogates();
    ASSERT_TRUE(ended) << "the render did not come back";
    CloseHandle(h);
    EXPECT_TRUE(FAILED(result.load())) << std::hex << result.load();
    if (c.kill) {
      EXPECT_TRUE(KvFio_IsProcessGone(result.load())) << std::hex << result.load();
      EXPECT_LE(endedAt.load() - actedAt.load(), kFailureBoundMs);
    } else {
      EXPECT_EQ(sink.positions.load(), 3) << "the render stops at the cancel";
    }
    EXPECT_FALSE(Exists(target));
    const std::vector<std::wstring> left = FolderFiles(dir);
    EXPECT_EQ(left.size(), 1u) << "a temporary file is left beside the target";
    // The next render is whole (in a new surrogate after the kill).
    Sink again;
    ASSERT_EQ(RenderThrough(m, 0, target, &again, nullptr), S_OK);
    EXPECT_TRUE(WithoutTimes(FileBytes(target)) == WithoutTimes(expected));
    if (c.kill) EXPECT_NE(m->SurrogateProcessId(), surrogate);
    else EXPECT_EQ(m->SurrogateProcessId(), surrogate) << "a cancel leaves the surrogate serving";
    DeleteFileW(target.c_str());
  }
  Close(m);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

// The first manager of a thread ends the thread's apartment when it shuts
// down; the second then lets go of the surrogate from its worker thread.
TEST_F(Surrogate, TwoManagersShareOneSurrogateAndLeaveNothingBehind) {
  // Two managers of one host with one application key (one access mutex).
  const std::wstring key = L"Vog\\SurrogateTest\\Two";
  const LONG users = KvFio_SurrogateUserCount();
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  CKvDizuVOManager* first = MakeManager(key, true);
  ASSERT_NE(first, nullptr);
  CKvDizuVOManager* second = MakeManager(key, true);
  ASSERT_NE(second, nullptr);
  const DWORD surrogate = KVDizuVO_GetSurrogateProcessID();
  ASSERT_NE(surrogate, 0u);
  EXPECT_EQ(first->SurrogateProcessId(), surrogate);
  EXPECT_EQ(second->SurrogateProcessId(), surrogate);
  EXPECT_EQ(SurrogateCount(), 1) << "the second manager starts no surrogate of its own";
  EXPECT_EQ(KvFio_SurrogateUserCount(), users + 2);
  std::vector<BYTE> expected;
  {
    Audio a, b;
    ASSERT_EQ(OpenAudio(first, mp4_, &a), S_OK);
    ASSERT_EQ(OpenAudio(second, mp4_, &b), S_OK);
    std::vector<BYTE> got;
    ASSERT_EQ(Read(a.audio, 0, 4096, a.blockAlign, &expected), S_OK);
    ASSERT_EQ(Read(b.audio, 0, 4096, b.blockAlign, &got), S_OK);
    EXPECT_TRUE(got == expected);
  }
  // The first lets go: the surrogate serves the second on.
  Close(first);
  EXPECT_EQ(KvFio_SurrogateUserCount(), users + 1);
  EXPECT_EQ(KVDizuVO_GetSurrogateProcessID(), surrogate);
  EXPECT_TRUE(MutexExists(key)) << "the second manager still holds the access mutex";
  Sleep(3000);  // longer than the surrogate's idle time
  EXPECT_EQ(SurrogateCount(), 1) << "the surrogate ended while a manager still held it";
  {
    Audio b;
    ASSERT_EQ(OpenAudio(second, mp4_, &b), S_OK);
    EXPECT_EQ(second->SurrogateProcessId(), surrogate);
    std::vector<BYTE> got;
    ASSERT_EQ(Read(b.audio, 0, 4096, b.blockAlign, &got), S_OK);
    EXPECT_TRUE(got == expected);
  }
  Close(second);
  EXPECT_EQ(KvFio_SurrogateUserCount(), users);
  EXPECT_EQ(KVDizuVO_GetSurrogateProcessID(), 0u);
  EXPECT_FALSE(MutexExists(key));
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
  DWORD after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &after);
  EXPECT_LE(after, handles + 8) << "handles before " << handles << ", after " << after;
}

TEST_F(Surrogate, TemplateEditsOfAnOutOfProcessRendererGoToTheSurrogate) {
  struct Edit {
    HRESULT hr = E_PENDING;
    DWORD flags = 0x7;
    tagKVTEMPLATExV2* result = nullptr;
  };
  auto edit = [](CKvDizuVOManager* m, Edit* e) {
    IKvRenderFileClass* cls = nullptr;
    ASSERT_EQ(m->GetRendererClass(&cls, &kAacRenderer), S_OK);
    tagKVTEMPLATExV2* current = nullptr;
    ASSERT_EQ(cls->GetTemplate(&current, 1), S_OK);
    const DWORD placement[7] = {1, 2, 3, 4, 5, 6, 7};
    e->result = reinterpret_cast<tagKVTEMPLATExV2*>(1);
    e->hr = m->EditTemplate(nullptr, cls, 0, placement, &e->flags, nullptr, current, &e->result);
    std::free(current);
    cls->Release();
  };
  Edit local, remote;
  CKvDizuVOManager* in = MakeManager(L"Vog\\SurrogateTest\\EditIn", false);
  ASSERT_NE(in, nullptr);
  edit(in, &local);
  Close(in);
  CKvDizuVOManager* out = MakeManager(L"Vog\\SurrogateTest\\Edit", true);
  ASSERT_NE(out, nullptr);
  edit(out, &remote);
  // This library carries no template pages: the editor's answer comes back
  // from the surrogate as it does in process.
  EXPECT_EQ(local.hr, E_NOTIMPL);
  EXPECT_EQ(remote.hr, local.hr);
  EXPECT_EQ(remote.flags, local.flags);
  EXPECT_EQ(local.result, nullptr);
  EXPECT_EQ(remote.result, nullptr);
  // The edit is the surrogate's: with the surrogate gone it fails as a lost
  // connection, not with the editor's answer.
  HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, out->SurrogateProcessId());
  ASSERT_NE(h, nullptr);
  TerminateProcess(h, 9);
  WaitForSingleObject(h, 5000);
  CloseHandle(h);
  IKvRenderFileClass* cls = nullptr;
  KvFioPluginRecord* record = KvFio_RecordAt(out->Plugins(), 0);
  ASSERT_NE(record->renderer.classObject, nullptr);
  ASSERT_EQ(record->renderer.classObject->QueryInterface(IID_IKvRenderFileClass, reinterpret_cast<void**>(&cls)),
            S_OK);
  tagKVTEMPLATExV2* result = nullptr;
  DWORD flags = 0;
  HRESULT hr = out->EditTemplate(nullptr, cls, 0, nullptr, &flags, nullptr, nullptr, &result);
  EXPECT_TRUE(KvFio_IsProcessGone(hr)) << std::hex << hr;
  EXPECT_EQ(result, nullptr);
  cls->Release();
  Close(out);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

// Run in a copy of this program beside a surrogate that registers only after
// 300 ms and only under its per-process id (see the next test); skipped
// otherwise.
TEST(SurrogateChild, ASurrogateThatRegistersLateIsFoundByTheTries) {
  if (!GetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", nullptr, 0)) GTEST_SKIP() << "run by RegistersLate";
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CKvDizuVOManager* m = new CKvDizuVOManager();
  ASSERT_EQ(m->Initialize(0, L"Vog\\SurrogateTest\\LateChild"), S_OK);
  const LONG users = KvFio_SurrogateUserCount();
  const DWORD start = GetTickCount();
  HRESULT hr = m->ConnectSurrogate();
  const DWORD took = GetTickCount() - start;
  ASSERT_EQ(hr, S_OK) << std::hex << hr;
  EXPECT_GE(took, 300u) << "the class was there before it registered";
  EXPECT_LE(took, 10000u);
  EXPECT_EQ(KvFio_SurrogateUserCount(), users + 1);
  IKvSurrogateManager* link = nullptr;
  ASSERT_EQ(m->GetSurrogateManager(&link), S_OK);
  DWORD id = 0;
  EXPECT_EQ(link->GetProcessId(&id), S_OK);
  link->Release();
  EXPECT_EQ(id, KVDizuVO_GetSurrogateProcessID()) << "the surrogate this host started answered";
  EXPECT_EQ(SurrogateCount(), 1);
  m->Shutdown();
  m->Release();
  EXPECT_EQ(KvFio_SurrogateUserCount(), users);
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
  CoUninitialize();
}

TEST_F(Surrogate, RegistersLate) {
  const std::wstring dir = ScratchFolder(L"late-surrogate");
  ASSERT_TRUE(CopyBinFile(L"kvsurrogate_tests.exe", dir + L"host.exe"));
  ASSERT_TRUE(CopyBinFile(L"late_surrogate.exe", dir + kKvSurrogateExeName));
  ASSERT_TRUE(CopyBinFile(L"vogaac2.dll", dir + L"vogaac2.dll"));
  std::string output;
  const int code = RunChild(dir, L"SurrogateChild.ASurrogateThatRegistersLate*", &output);
  if (code < 0) KillSurrogates();
  EXPECT_EQ(code, 0) << "the child's checks failed:\n" << output;
  EXPECT_TRUE(WaitForNoSurrogate(kSurrogateEndMs));
}

// Run in a copy of this program beside the surrogate program (see the next
// test); skipped otherwise. It connects, says which surrogate serves it, and
// ends at once with code 3, shutting nothing down, as a host that crashes.
TEST(SurrogateChild, AHostThatEndsWithoutShuttingDown) {
  if (!GetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", nullptr, 0)) GTEST_SKIP() << "run by ASurrogateEndsWithAHostThatDies";
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CKvDizuVOManager* m = new CKvDizuVOManager();
  ASSERT_EQ(m->Initialize(0, L"Vog\\SurrogateTest\\HostGone"), S_OK);
  ASSERT_EQ(m->ConnectSurrogate(), S_OK);
  ASSERT_NE(KVDizuVO_GetSurrogateProcessID(), 0u);
  printf("surrogate %lu\n", static_cast<unsigned long>(KVDizuVO_GetSurrogateProcessID()));
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), 3);
}

TEST_F(Surrogate, ASurrogateEndsWithAHostThatDies) {
  const std::wstring dir = ScratchFolder(L"host-gone");
  ASSERT_TRUE(CopyBinFile(L"kvsurrogate_tests.exe", dir + L"host.exe"));
  ASSERT_TRUE(CopyBinFile(kKvSurrogateExeName, dir + kKvSurrogateExeName));
  ASSERT_TRUE(CopyBinFile(L"vogaac2.dll", dir + L"vogaac2.dll"));
  std::string output;
  const int code = RunChild(dir, L"SurrogateChild.AHostThatEndsWithoutShuttingDown", &output);
  ASSERT_EQ(code, 3) << "the child did not connect:\n" << output;
  unsigned long surrogate = 0;
  const size_t at = output.find("surrogate ");
  ASSERT_NE(at, std::string::npos) << output;
  surrogate = std::strtoul(output.c_str() + at + 10, nullptr, 10);
  ASSERT_NE(surrogate, 0ul);
  // The surrogate sees its host end and ends too: nothing is left running.
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, surrogate);
  const bool ended = !h || WaitForSingleObject(h, kSurrogateEndMs) == WAIT_OBJECT_0;
  if (h) CloseHandle(h);
  if (!ended) KillSurrogates();
  EXPECT_TRUE(ended) << "the surrogate outlived its host by " << kSurrogateEndMs << " ms";
}
