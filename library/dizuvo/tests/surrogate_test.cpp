// The surrogate process: our AAC reader, forced out of process by a
// configuration file, reads an ffmpeg-made file through the manager exactly as
// it does in process; reads from eight threads of every apartment kind agree
// with the direct read; a surrogate that is killed, a plug-in that crashes in
// it and a surrogate that never registers give the host clean failures; and
// nothing (process, handle, mutex) is left behind.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fiomanager_util.h"
#include "kvfiodiscovery.h"
#include "kvfiomanager.h"
#include "kvsurrogate.h"

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

// Surrogate processes running on the machine (this prefix).
int SurrogateCount() {
  int n = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (_wcsicmp(entry.szExeFile, kKvSurrogateExeName) == 0) ++n;
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
  std::wstring command = L"\"" + dir + L"host.exe\" --gtest_filter=SurrogateChild.*";
  SetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", L"1");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, BinDir().c_str(), &startup,
                             &child));
  SetEnvironmentVariableW(L"VOG_SURROGATE_CHILD", nullptr);
  const bool ended = WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(child.hProcess, 1);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_TRUE(ended);
  EXPECT_EQ(code, 0u) << "the child's checks failed";
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
}
