// The manager object: created over a plug-in folder holding our own plug-in,
// it chooses the AAC reader for an MP4 file made by ffmpeg and reads its
// audio; it refuses WAV and MP3 files (no reader of ours) and the maker's
// own containers; metrics round-trip through the metrics file.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <functional>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fiomanager_util.h"
#include "kverror.h"
#include "kvfiodiscovery.h"
#include "kvfiomanager.h"
#include "kvtemplate_io.h"
#include "vog_exports.h"

using namespace fiotest;

namespace {

class Manager : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchFolder(L"mgr-plugins");
    ASSERT_TRUE(CopyBinFile(L"vogaac2.dll", dir_ + L"vogaac2.dll"));
    ASSERT_TRUE(CopyBinFile(L"noexport.dll", dir_ + L"noexport.dll"));
    std::wstring a = dir_ + L"vogaac2.dll", b = dir_ + L"noexport.dll";
    const wchar_t* dlls[] = {a.c_str(), b.c_str()};
    ASSERT_EQ(KVDizuVO_CreateInstance(&mgr_, 0, dlls, 2), S_OK);
    ASSERT_NE(mgr_, nullptr);
    impl_ = static_cast<CKvDizuVOManager*>(mgr_);
  }
  // A host shuts the manager down before its last release: the render class
  // holds a counted reference to the manager until then.
  void TearDown() override {
    if (mgr_) {
      mgr_->Shutdown();
      mgr_->Release();
    }
  }
  std::wstring dir_;
  IKvDizuVOMgrForApp* mgr_ = nullptr;
  CKvDizuVOManager* impl_ = nullptr;
};

std::map<std::string, std::string> Probe() {
  std::map<std::string, std::string> out;
  std::ifstream in(std::string(VOG_FIXTURE_DIR) + "/fiomanager/aac.mp4.probe");
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

HANDLE OpenRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

TEST_F(Manager, RegistersOurPluginAndItsClasses) {
  int plugins = 0;
  EXPECT_EQ(mgr_->GetPluginCount(&plugins), S_OK);
  EXPECT_EQ(plugins, 2) << "the unusable DLL keeps its record";
  EXPECT_EQ(mgr_->GetReaderCount(), 1);
  EXPECT_EQ(mgr_->GetRendererCount(), 1);
  EXPECT_EQ(mgr_->HasPlugin(&kAacPlugin), S_OK);
  GUID other = kAacPlugin;
  other.Data1 ^= 1;
  EXPECT_EQ(mgr_->HasPlugin(&other), S_FALSE);
  KVFIO_PLUGININFO info = {};
  info.cbSize = sizeof info;
  ASSERT_EQ(mgr_->GetPluginInfo(&kAacPlugin, &info), S_OK);
  EXPECT_TRUE(IsEqualGUID(info.readerId, kAacReader));
  EXPECT_EQ(lstrcmpiW(info.dllPath, (dir_ + L"vogaac2.dll").c_str()), 0);

  struct Case {
    const char* what;
    GUID id;
    HRESULT expect;
  };
  GUID prefix = kAacReader;
  prefix.Data4[7] ^= 0xFF;  // agrees in its first 10 bytes
  GUID early = kAacReader;
  early.Data4[1] ^= 0xFF;
  const Case cases[] = {
      {"exact id", kAacReader, S_OK},
      {"first 10 bytes", prefix, S_OK},
      {"differs early", early, KV_E_UNSUPPORTEDFILE},
      {"all zero", GUID{}, KV_E_UNSUPPORTEDFILE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IKvReadFileClass* cls = nullptr;
    EXPECT_EQ(mgr_->GetReaderClass(&cls, &c.id), c.expect);
    EXPECT_EQ(cls != nullptr, c.expect == S_OK);
    if (cls) {
      DWORD index = 99;
      EXPECT_EQ(cls->GetClassIndex(&index), S_OK);
      EXPECT_EQ(index, 0u);
      cls->Release();
    }
  }
  // The renderer's class by its id.
  const GUID renderer = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};
  IKvRenderFileClass* render = nullptr;
  EXPECT_EQ(mgr_->GetRendererClass(&render, &renderer), S_OK);
  EXPECT_NE(render, nullptr);
  if (render) {
    // Its DLL through the class's manager.
    wchar_t path[MAX_PATH] = L"x";
    EXPECT_EQ(KvFio_GetRendererModulePath(render, path, MAX_PATH), S_OK);
    EXPECT_EQ(lstrcmpiW(path, (dir_ + L"vogaac2.dll").c_str()), 0) << path;
    wchar_t small[4];
    EXPECT_EQ(KvFio_GetRendererModulePath(render, small, 4), S_OK);
    EXPECT_EQ(std::wstring(small), std::wstring(path, 3));
    EXPECT_EQ(KvFio_GetRendererModulePath(nullptr, path, MAX_PATH), E_INVALIDARG);
    render->Release();
  }
  // The reader by its extension list ("*.mp4"), "." and letter case ignored.
  int position = -1;
  IKvReadFileClass* cls = nullptr;
  EXPECT_EQ(mgr_->FindReaderClassByExtension(&cls, L".MP4", &position), S_OK);
  EXPECT_EQ(position, 0);
  if (cls) cls->Release();
  position = -1;
  EXPECT_EQ(mgr_->FindReaderClassByExtension(&cls, L"wav", &position), KV_E_UNSUPPORTEDFILE);
  LCID lcid = 0;
  EXPECT_EQ(mgr_->GetLanguageID(&lcid, 1), E_INVALIDARG);
  EXPECT_EQ(mgr_->GetLanguageID(&lcid, 0), S_OK);
  EXPECT_EQ(lcid, KvFio_ModuleLCID());
}

TEST_F(Manager, ChoosesTheAacReaderAndReadsTheAudio) {
  const std::wstring mp4 = FixtureDir() + L"aac.mp4";
  HANDLE h = OpenRead(mp4);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  int index = -1;
  EXPECT_EQ(mgr_->FindReaderForFile(h, mp4.c_str(), &index, 0), S_OK);
  EXPECT_EQ(index, 0);
  CloseHandle(h);

  IKvReadFile* file = nullptr;
  ASSERT_EQ(mgr_->OpenFile(mp4.c_str(), &file, 0), S_OK);
  ASSERT_NE(file, nullptr);
  IKvReadFileClass* last = nullptr;
  EXPECT_EQ(impl_->GetLastReaderClass(&last), S_OK) << "the reader is remembered";
  if (last) last->Release();
  IKvReadStream* stream = nullptr;
  ASSERT_EQ(file->GetStreamByType(&stream, 1, 0, 0, 0), S_OK);
  IKvReadAudioStream* audio = nullptr;
  ASSERT_EQ(stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&audio)), S_OK);
  stream->Release();
  LONGLONG frames = 0;
  DWORD blockAlign = 0;
  ASSERT_EQ(audio->GetSampleCount(&frames), S_OK);
  ASSERT_EQ(audio->GetBlockAlign(&blockAlign), S_OK);
  // ffprobe's count of the track's samples, which holds the encoder's delay.
  auto probe = Probe();
  ASSERT_FALSE(probe["duration_ts"].empty());
  const long long probed = std::stoll(probe["duration_ts"]);
  EXPECT_NEAR(static_cast<double>(frames), static_cast<double>(probed), 2048.0);
  const int channels = std::stoi(probe["channels"]);
  ASSERT_EQ(blockAlign % channels, 0u);

  std::vector<BYTE> buffer(static_cast<size_t>(frames) * blockAlign);
  _kvmemorytoken token = {};
  token.size = token.size2 = static_cast<DWORD>(buffer.size());
  token.base = reinterpret_cast<DWORD_PTR>(buffer.data());
  token.ownerProcessId = GetCurrentProcessId();
  LONG done = 0;
  HRESULT hr = audio->ReadSamples(0, token, static_cast<LONG>(frames), &done);
  EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
  EXPECT_EQ(done, frames);
  // A 440 Hz tone: the left channel crosses zero about 880 times a second.
  const DWORD bytesPerSample = blockAlign / channels;
  long crossings = 0;
  double energy = 0;
  double previous = 0;
  for (LONG i = 0; i < done; ++i) {
    const BYTE* p = &buffer[static_cast<size_t>(i) * blockAlign];
    double v;
    if (bytesPerSample == 2) v = static_cast<short>(p[0] | (p[1] << 8)) / 32768.0;
    else if (bytesPerSample == 4) v = *reinterpret_cast<const float*>(p);
    else v = static_cast<int>((p[0] << 8) | (p[1] << 16) | (p[2] << 24)) / 2147483648.0;
    energy += v * v;
    if (i > 0 && ((previous < 0) != (v < 0))) ++crossings;
    previous = v;
  }
  const double seconds = static_cast<double>(done) / std::stod(probe["sample_rate"]);
  EXPECT_GT(energy / (done ? done : 1), 0.001);
  EXPECT_NEAR(crossings / seconds, 880.0, 60.0);
  audio->Release();
  file->Release();
}

TEST_F(Manager, RefusesFilesNoReaderTakes) {
  std::wstring scratch = ScratchFolder(L"refused");
  std::vector<BYTE> riffZero = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  std::vector<BYTE> kvpl = {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'K', 'V', 'P', 'L', 0, 0, 0, 0, 0};
  std::vector<BYTE> midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96};
  std::vector<BYTE> shortRiff = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'};
  WriteBytes(scratch + L"zero.wav", riffZero);
  WriteBytes(scratch + L"link.kvl", kvpl);
  WriteBytes(scratch + L"song.mid", midi);
  WriteBytes(scratch + L"short.wav", shortRiff);
  struct Case {
    const char* what;
    std::wstring path;
    HRESULT expect;
  };
  const Case cases[] = {
      {"WAV by ffmpeg", FixtureDir() + L"pcm.wav", KV_E_UNSUPPORTEDFILE},
      {"MP3 by ffmpeg", FixtureDir() + L"tone.mp3", KV_E_UNSUPPORTEDFILE},
      {"RIFF of size 0", scratch + L"zero.wav", KV_E_FILETYPENOTSUPPORTED},
      {"own KVPL container", scratch + L"link.kvl", KV_E_FILETYPENOTSUPPORTED},
      {"MIDI", scratch + L"song.mid", KV_E_FILETYPENOTSUPPORTED},
      {"11 bytes are never refused", scratch + L"short.wav", KV_E_UNSUPPORTEDFILE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE h = OpenRead(c.path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int index = 5;
    EXPECT_EQ(mgr_->FindReaderForFile(h, c.path.c_str(), &index, 0), c.expect);
    EXPECT_EQ(index, -1);
    CloseHandle(h);
    IKvReadFile* file = nullptr;
    EXPECT_EQ(mgr_->OpenFile(c.path.c_str(), &file, 0), c.expect);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(mgr_->CheckFileWithReader(c.path.c_str(), 0), S_FALSE);
  }
  IKvReadFile* file = nullptr;
  EXPECT_EQ(mgr_->OpenFile((scratch + L"absent.mp4").c_str(), &file, 0),
            KvErrorHandler_TranslateWin32Error(ERROR_FILE_NOT_FOUND));
}

TEST_F(Manager, MetricsInMemoryAndInTheMetricsFile) {
  const std::wstring metricsFile = KvFio_MetricsFilePath();
  DWORD v = 1;
  EXPECT_EQ(mgr_->SetMetric(5, 77), S_OK);
  EXPECT_EQ(mgr_->GetMetric(5, &v), S_OK);
  EXPECT_EQ(v, 77u);
  EXPECT_EQ(mgr_->SetMetric(40, 7), S_OK);
  EXPECT_EQ(GetPrivateProfileIntW(L"Metrics", L"D40", -1, metricsFile.c_str()), 7u);
  EXPECT_EQ(mgr_->GetMetric(40, &v), S_OK);
  EXPECT_EQ(v, 7u);
  EXPECT_EQ(mgr_->SetMetric(42, 61453), S_OK);
  EXPECT_EQ(mgr_->GetMetric(42, &v), S_OK) << "a stored 0xF00D is not taken for a missing key";
  EXPECT_EQ(v, 61453u);
  EXPECT_EQ(mgr_->GetMetric(41, &v), KV_E_NOTFOUND);
  wchar_t text[32];
  DWORD cch = 0;
  EXPECT_EQ(mgr_->GetMetricString(20, text, 32, &cch), E_INVALIDARG);
  EXPECT_EQ(mgr_->SetMetricString(50, L"hello"), S_OK);
  EXPECT_EQ(mgr_->GetMetricString(50, text, 32, &cch), S_OK);
  EXPECT_STREQ(text, L"hello");
  EXPECT_EQ(cch, 6u);
  EXPECT_EQ(mgr_->GetMetricString(51, text, 32, &cch), KV_E_NOTFOUND);
  const DWORD words[] = {1, static_cast<DWORD>(-2), 0, 0};
  EXPECT_EQ(mgr_->SetMetricBinary(60, words, 4), S_OK);
  wchar_t raw[64];
  GetPrivateProfileStringW(L"Metrics", L"B60", L"", raw, 64, metricsFile.c_str());
  EXPECT_STREQ(raw, L"1,-2");
  DWORD back[4] = {};
  DWORD cb = 0;
  EXPECT_EQ(mgr_->GetMetricBinary(60, back, sizeof back, &cb), S_OK);
  EXPECT_EQ(cb, 8u);
  EXPECT_EQ(back[1], static_cast<DWORD>(-2));
  EXPECT_EQ(mgr_->SetMetricBinary(60, words, 129), E_INVALIDARG);
  EXPECT_EQ(mgr_->DeleteMetric(40, 4), S_OK);
  EXPECT_EQ(mgr_->GetMetric(40, &v), KV_E_NOTFOUND);
  int index = 0;
  EXPECT_EQ(impl_->GetReaderIndexForFormat(0x5FFF, &index), E_INVALIDARG);
  EXPECT_EQ(impl_->GetReaderIndexForFormat(0x6000, &index), KV_E_UNSUPPORTEDFILE);
}

// How far the stack pointer moved across one call. Under __stdcall the callee
// removes its arguments: a caller whose declaration of a slot has other
// arguments than the implementation's finds its stack moved. The 64-bit
// calling convention has the caller clean up, so there the answer is 0.
template <class Call>
__attribute__((noinline)) long StackDrift(Call call) {
#if defined(__i386__)
  char* before = nullptr;
  char* after = nullptr;
  __asm__ volatile("movl %%esp, %0" : "=r"(before));
  call();
  __asm__ volatile("movl %%esp, %0" : "=r"(after));
  return static_cast<long>(after - before);
#else
  call();
  return 0;
#endif
}

// Slots 5 to 11 through the interface the plug-ins hold (queried by its own
// id), and through the template library's forwarders over it: results and
// values come back as stored, and every call leaves the stack where it was.
TEST_F(Manager, SettingsSlotsThroughThePluginInterface) {
  IKvDizuVOManager* m = nullptr;
  ASSERT_EQ(mgr_->QueryInterface(IID_IKvDizuVOManager, reinterpret_cast<void**>(&m)), S_OK);
  ASSERT_EQ(static_cast<void*>(m), static_cast<void*>(mgr_)) << "one object answers both ids";
  HRESULT hr = E_FAIL;
  DWORD value = 0, size = 0;
  wchar_t text[16] = {};
  const DWORD words[] = {3, 0xFFFFFFFE};
  DWORD back[4] = {};
  struct Step {
    const char* slot;
    std::function<HRESULT()> call;
    HRESULT expected;
  } const steps[] = {
      {"SetMetric (6)", [&] { return m->SetMetric(44, 1234); }, S_OK},
      {"GetMetric (5)", [&] { return m->GetMetric(44, &value); }, S_OK},
      {"SetMetricString (8)", [&] { return m->SetMetricString(52, L"slots"); }, S_OK},
      {"GetMetricString (7)", [&] { return m->GetMetricString(52, text, 16, &size); }, S_OK},
      {"SetMetricBinary (11)", [&] { return m->SetMetricBinary(62, words, 2); }, S_OK},
      {"GetMetricBinary (10)", [&] { return m->GetMetricBinary(62, back, sizeof back, &size); }, S_OK},
      {"DeleteMetric (9)", [&] { return m->DeleteMetric(44, 4); }, S_OK},
      {"GetMetric after delete (5)", [&] { return m->GetMetric(44, &value); }, KV_E_NOTFOUND},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(StackDrift([&] { hr = step.call(); }), 0) << step.slot;
    EXPECT_EQ(hr, step.expected) << step.slot;
    if (std::string(step.slot) == "GetMetric (5)") EXPECT_EQ(value, 1234u);
    if (std::string(step.slot) == "GetMetricString (7)") {
      EXPECT_STREQ(text, L"slots");
      EXPECT_EQ(size, 6u) << "characters with the terminator";
    }
    if (std::string(step.slot) == "GetMetricBinary (10)") {
      EXPECT_EQ(size, 8u);
      EXPECT_EQ(back[0], 3u);
      EXPECT_EQ(back[1], 0xFFFFFFFEu);
    }
  }

  // The template library's forwarders reach the same slots.
  DWORD got = 0;
  EXPECT_EQ(StackDrift([&] { hr = KvFioMgr_SetMetric(m, 45, 99); }), 0);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(StackDrift([&] { got = KvFioMgr_GetMetric(m, 45, 5); }), 0);
  EXPECT_EQ(got, 99u);
  EXPECT_EQ(StackDrift([&] { hr = KvFioMgr_SetMetricString(m, 53, L"abc"); }), 0);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(StackDrift([&] { got = KvFioMgr_GetMetricString(m, 53, text, 16); }), 0);
  EXPECT_EQ(got, 3u);
  EXPECT_STREQ(text, L"abc");
  EXPECT_EQ(StackDrift([&] { hr = KvFioMgr_SetMetricBinary(m, 63, words, 2); }), 0);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(StackDrift([&] { got = KvFioMgr_GetMetricBinary(m, 63, back, sizeof back); }), 0);
  EXPECT_EQ(got, 8u);
  EXPECT_EQ(StackDrift([&] { hr = KvFioMgr_DeleteMetric(m, 45, 4); }), 0);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(KvFioMgr_GetMetric(m, 45, 5), 5u) << "deleted: the default";
  m->Release();
}

TEST(ManagerParts, AccessMutexName) {
  wchar_t name[MAX_PATH];
  KvFio_AccessMutexName(L"Orvane\\Product\\1.0", name, MAX_PATH);
  EXPECT_STREQ(name, L"Local\\Calbrey Orvane Product 1.0");
}

TEST(ManagerParts, TheCacheWrittenByOneManagerServesTheNext) {
  std::wstring dir = ScratchFolder(L"mgr-cache");
  ASSERT_TRUE(CopyBinFile(L"vogaac2.dll", dir + L"vogaac2.dll"));
  std::wstring a = dir + L"vogaac2.dll";
  const wchar_t* dlls[] = {a.c_str()};
  DeleteFileW(KvFio_CacheFilePath());
  IKvDizuVOMgrForApp* first = nullptr;
  ASSERT_EQ(KVDizuVO_CreateInstance(&first, 0, dlls, 1), S_OK);
  first->Release();
  wchar_t reader[64];
  GetPrivateProfileStringW(L"{ABD1218C-B335-4343-B578-00AA006BA2BA}", L"Reader", L"", reader, 64,
                           KvFio_CacheFilePath());
  EXPECT_STREQ(reader, L"{249F8688-FB9A-4FAE-9ED5-2EC66D1DD39C}");
  // A second manager takes the plug-in from the cache: its reader is known by
  // id before any class object exists.
  IKvDizuVOMgrForApp* second = nullptr;
  ASSERT_EQ(KVDizuVO_CreateInstance(&second, 0x0, dlls, 1), S_OK);
  KVFIO_PLUGININFO info = {};
  info.cbSize = sizeof info;
  EXPECT_EQ(second->GetPluginInfo(&kAacPlugin, &info), S_OK);
  EXPECT_TRUE(IsEqualGUID(info.readerId, kAacReader));
  second->Release();
}

// The creators as hosts reach them: exported by the plug-in DLL.
TEST(ManagerExports, TheDllCreatesAManagerOverAPluginFolder) {
  HMODULE dll = LoadLibraryW(L"vogaac2.dll");
  ASSERT_NE(dll, nullptr);
  typedef HRESULT(__stdcall * Create)(IKvDizuVOMgrForApp**, DWORD, const wchar_t**, long);
  typedef DWORD(__stdcall * SurrogateId)();
  auto create = reinterpret_cast<Create>(
      reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_Z23KVDizuVO_CreateInstancePP18IKvDizuVOMgrForAppmPPKwl@16").c_str())));
  auto surrogate = reinterpret_cast<SurrogateId>(
      reinterpret_cast<void*>(GetProcAddress(dll, VogExportName("_KVDizuVO_GetSurrogateProcessID@0").c_str())));
  ASSERT_NE(create, nullptr);
  ASSERT_NE(surrogate, nullptr);
  EXPECT_NE(GetProcAddress(dll, VogExportName("_Z28KvFio_SetPluginCandidateDLLsPP7tKVLISTPPKwl@12").c_str()), nullptr);
  EXPECT_EQ(surrogate(), 0u);
  std::wstring dir = ScratchFolder(L"mgr-export");
  ASSERT_TRUE(CopyBinFile(L"vogaac2.dll", dir + L"vogaac2.dll"));
  std::wstring a = dir + L"vogaac2.dll";
  const wchar_t* dlls[] = {a.c_str()};
  IKvDizuVOMgrForApp* mgr = nullptr;
  ASSERT_EQ(create(&mgr, 0, dlls, 1), S_OK);
  ASSERT_NE(mgr, nullptr);
  const std::wstring mp4 = FixtureDir() + L"aac.mp4";
  IKvReadFile* file = nullptr;
  EXPECT_EQ(mgr->OpenFile(mp4.c_str(), &file, 0), S_OK);
  if (file) file->Release();
  const std::wstring wav = FixtureDir() + L"pcm.wav";
  EXPECT_EQ(mgr->OpenFile(wav.c_str(), &file, 0), KV_E_UNSUPPORTEDFILE);
  mgr->Release();
  FreeLibrary(dll);
}

// Reader selection over readers whose answers are set per case: the stages
// (format table, extension, last used, every reader), which failures are
// remembered, and that no reader is asked twice.
TEST(ManagerSelection, StagesAndTheirResults) {
  std::wstring dir = ScratchFolder(L"mgr-fake");
  ASSERT_TRUE(CopyBinFile(L"fakeplugin.dll", dir + L"fakeplugin.dll"));
  std::wstring a = dir + L"fakeplugin.dll";
  const wchar_t* dlls[] = {a.c_str()};
  IKvDizuVOMgrForApp* mgr = nullptr;
  ASSERT_EQ(KVDizuVO_CreateInstance(&mgr, 0, dlls, 1), S_OK);
  ASSERT_EQ(mgr->GetReaderCount(), 3);
  HMODULE fake = GetModuleHandleW(a.c_str());
  ASSERT_NE(fake, nullptr);
  typedef LONG (*Calls)(int, BOOL);
  Calls calls = reinterpret_cast<Calls>(reinterpret_cast<void*>(GetProcAddress(fake, "FakeCalls")));
  ASSERT_NE(calls, nullptr);
  const GUID ids[3] = {{0x0a30c422, 0xb91b, 0x11d3, {0xa4, 0x84, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37}},
                       {0x7e57b000, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}},
                       {0xbfd5db7f, 0xe73b, 0x41f9, {0xaf, 0x05, 0x61, 0x7c, 0x1d, 0x2e, 0x4a, 0x09}}};
  int index[3];
  for (int i = 0; i < 3; ++i) {
    IKvReadFileClass* cls = nullptr;
    ASSERT_EQ(mgr->GetReaderClass(&cls, &ids[i]), S_OK);
    DWORD n = 0;
    cls->GetClassIndex(&n);
    index[i] = static_cast<int>(n);
    cls->Release();
  }
  const HRESULT ok = S_OK, no = E_FAIL, refused = KV_E_READERREFUSED, gone = KV_E_PLUGINNOTINITIALIZED;
  struct Case {
    const char* what;
    HRESULT answer[3];
    HRESULT expect;
    int reader;      // expected index owner (0..2), -1 none
    LONG calls[3];   // calls each reader gets
  };
  const Case cases[] = {
      {"table reader takes it", {ok, ok, ok}, S_OK, 0, {1, 0, 0}},
      {"table reader refuses: at once", {refused, ok, ok}, refused, 0, {1, 0, 0}},
      {"table reader unavailable: at once", {gone, ok, ok}, gone, 0, {1, 0, 0}},
      {"extension reader", {no, ok, ok}, S_OK, 1, {1, 1, 0}},
      {"found after a refusal", {no, gone, ok}, KV_S_READERAFTERFAILURE, 2, {1, 1, 1}},
      {"only a refusal", {no, no, refused}, refused, 2, {1, 1, 1}},
      {"nobody: each asked once", {no, no, no}, KV_E_UNSUPPORTEDFILE, -1, {1, 1, 1}},
  };
  const std::wstring wav = FixtureDir() + L"pcm.wav";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int i = 0; i < 3; ++i) {
      char name[16], value[16];
      wsprintfA(name, "KVFIO_FAKE_%d", i);
      wsprintfA(value, "%08lX", static_cast<unsigned long>(c.answer[i]));
      SetEnvironmentVariableA(name, value);
      calls(i, TRUE);
    }
    HANDLE h = CreateFileW(wav.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int got = 99;
    EXPECT_EQ(mgr->FindReaderForFile(h, wav.c_str(), &got, 0), c.expect);
    CloseHandle(h);
    EXPECT_EQ(got, c.reader < 0 ? -1 : index[c.reader]);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(calls(i, TRUE), c.calls[i]) << "reader " << i;
  }
  // By path alone: the reader of the extension, then the others; the reader
  // never remembered is passed over once a refusal is known.
  const HRESULT pathAnswers[3] = {refused, no, ok};
  for (int i = 0; i < 3; ++i) {
    char name[16], value[16];
    wsprintfA(name, "KVFIO_FAKE_%d", i);
    wsprintfA(value, "%08lX", static_cast<unsigned long>(pathAnswers[i]));
    SetEnvironmentVariableA(name, value);
    calls(i, TRUE);
  }
  int got = 99;
  HRESULT hr = mgr->FindReaderForPath(wav.c_str(), &got);
  EXPECT_EQ(calls(1, TRUE), 1) << "the extension reader is asked";
  EXPECT_EQ(calls(2, TRUE), index[2] > index[0] ? 0 : 1);
  if (index[2] > index[0]) {
    EXPECT_EQ(hr, refused);
    EXPECT_EQ(got, index[0]);
  }
  mgr->Release();
}

// Keyed creation: the record's application data and initial metrics reach
// the manager; flag 0x100 registers nothing; a rescan request (metric 0) is
// cleared once the cache is written.
TEST(ManagerCreation, KeyedRecordAndFlags) {
  _KVFIO_KEYED_INFO keyed = {};
  keyed.appValue = 0x00FF00FF;
  keyed.appNumber = 3;
  keyed.appText = L"Test Host";
  keyed.metrics.maskLow = (1u << 0) | (1u << 7);
  keyed.metrics.values[0] = 1;
  keyed.metrics.values[7] = 1234;
  keyed.metrics.values[8] = 99;  // bit not set: not copied
  IKvDizuVOMgrForApp* mgr = nullptr;
  ASSERT_EQ(KVDizuVO_CreateInstance(&mgr, 0x100, &keyed), S_OK);
  DWORD v = 0;
  EXPECT_EQ(mgr->GetAppValue(&v), S_OK);
  EXPECT_EQ(v, 0x00FF00FFu);
  EXPECT_EQ(mgr->GetMetric(7, &v), S_OK);
  EXPECT_EQ(v, 1234u);
  EXPECT_EQ(mgr->GetMetric(8, &v), S_OK);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(mgr->GetMetric(0, &v), S_OK);
  EXPECT_EQ(v, 1u) << "nothing registered, the rescan request stays";
  int count = -1;
  EXPECT_EQ(mgr->GetPluginCount(&count), S_FALSE);
  EXPECT_EQ(mgr->GetReaderCount(), 0);
  IKvDizuVOTypeEnum* e = nullptr;
  EXPECT_EQ(mgr->GetReaderEnum(&e), KV_E_NOTFOUND);
  EXPECT_EQ(mgr->HasPlugin(&kAacPlugin), E_FAIL);
  mgr->Release();

  // Without 0x100 the default candidates are registered (none beside a test
  // program) and the request is cleared.
  ASSERT_EQ(KVDizuVO_CreateInstance(&mgr, 0, &keyed), S_OK);
  EXPECT_EQ(mgr->GetMetric(0, &v), S_OK);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(mgr->GetReaderCount(), 0);
  IKvFIOPluginEnum* plugins = nullptr;
  EXPECT_EQ(mgr->GetPluginEnum(&plugins), S_OK);
  if (plugins) plugins->Release();
  EXPECT_EQ(mgr->Shutdown(), S_OK);
  EXPECT_EQ(mgr->Shutdown(), S_OK) << "a second shutdown does nothing";
  EXPECT_EQ(mgr->GetReaderCount(), 0);
  mgr->Release();
}
