// Blankets around the AAC plug-in's real reader objects (loaded from the DLL,
// reading an MP4 file made by ffmpeg): calls from many threads in the
// multithreaded apartment, in single-threaded apartments (through real
// proxies) and without COM give the same results as direct calls; the answered
// slots and identities; lifetimes (once the last blanket is gone the real
// class object has only the test's own reference left and the file is closed).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_dizuvo_manager.h"
#include "kvblanket.h"
#include "kvdizuvo.h"
#include "kvreadroad_proxy_api.h"
#include "vog_paths.h"
#include "vog_tools.h"

namespace {

std::wstring FixturePath(const char* name) { return vogtest::WineFixturePath(std::string("readroad/") + name); }

_kvmemorytoken LocalToken(void* buffer, DWORD size) {
  _kvmemorytoken t = {};
  t.base = reinterpret_cast<DWORD_PTR>(buffer);
  t.size = t.size2 = size;
  t.ownerProcessId = GetCurrentProcessId();
  return t;
}

// How a test thread enters COM.
enum class Apartment { kMta, kSta, kNone };

const char* Name(Apartment a) { return a == Apartment::kMta ? "MTA" : a == Apartment::kSta ? "STA" : "no COM"; }

// Runs `body` on a new thread of the given apartment (proxies registered
// there) and waits for it.
template <class Body>
std::thread StartIn(Apartment apartment, Body body) {
  return std::thread([apartment, body]() {
    DWORD proxies = 0;
    if (apartment != Apartment::kNone) {
      CoInitializeEx(nullptr, apartment == Apartment::kSta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
      if (apartment == Apartment::kSta) proxies = KvTestProxies_Register();
    }
    body();
    KvTestProxies_Revoke(proxies);
    if (apartment != Apartment::kNone) CoUninitialize();
  });
}

// The plug-in DLL and its reader class objects.
class PluginReader {
 public:
  PluginReader() : module_(LoadLibraryW(L"vogaac2.dll")) {}
  ~PluginReader() {
    if (module_) FreeLibrary(module_);
  }
  bool loaded() const { return module_ != nullptr; }

  IKvReadFileClass* NewClass() { return New<IKvReadFileClass>(IID_IKvReadFileClass); }
  IKvRenderFileClass* NewRenderClass() { return New<IKvRenderFileClass>(IID_IKvRenderFileClass); }

 private:
  template <class I>
  I* New(REFIID iid) {
    typedef HRESULT(__stdcall * GetClassObjectFn)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!get || FAILED(get(CLSID_NULL, IID_IClassFactory, reinterpret_cast<void**>(&factory))) || !factory) return nullptr;
    I* object = nullptr;
    factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
  }
  HMODULE module_;
};

// True when nothing holds the file open: a reader's file or stream object
// that is still alive keeps its handle, and an exclusive open then fails.
bool NobodyHasOpen(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

// The count an object's references are at (probed with AddRef and Release).
ULONG RefsOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// What a reader says of one stereo file, by any road.
struct Observed {
  HRESULT open = E_FAIL;
  LONGLONG frames = -1;
  DWORD blockAlign = 0;
  LONGLONG duration = -1;
  GUID readerId = {};
  std::vector<short> samples;
};

// Reads the whole stream in blocks of `block` frames.
std::vector<short> ReadAll(IKvReadAudioStream* audio, LONGLONG frames, LONG block) {
  std::vector<short> out;
  std::vector<short> buffer(static_cast<size_t>(block) * 2);
  for (LONGLONG at = 0; at < frames;) {
    LONG done = 0;
    HRESULT hr = audio->ReadSamples(at, LocalToken(buffer.data(), static_cast<DWORD>(buffer.size() * 2)), block, &done);
    if (FAILED(hr) || done <= 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + done * 2);
    at += done;
  }
  return out;
}

void Observe(IKvReadAudioStream* audio, Observed* o, LONG block) {
  o->open = S_OK;
  audio->GetSampleCount(&o->frames);
  audio->GetBlockAlign(&o->blockAlign);
  audio->GetDuration(&o->duration);
  o->samples = ReadAll(audio, o->frames, block);
}

// The file's audio stream by the host's road: file, stream, typed stream.
struct Chain {
  IKvReadFile* file = nullptr;
  IKvReadStream* stream = nullptr;
  IKvReadAudioStream* audio = nullptr;
  HRESULT Open(IKvReadFileClass* cls, const std::wstring& path) {
    HRESULT hr = cls->OpenReadFile(&file, INVALID_HANDLE_VALUE, GetCurrentProcessId(), path.c_str(), TRUE);
    if (FAILED(hr)) return hr;
    hr = file->GetStreamByType(&stream, 1, 0, 0, 0);
    if (FAILED(hr)) return hr;
    return stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&audio));
  }
  void Release() {
    if (audio) audio->Release();
    if (stream) stream->Release();
    if (file) file->Release();
    audio = nullptr;
    stream = nullptr;
    file = nullptr;
  }
};

// The process's multithreaded apartment, with the proxies registered in it.
class Blankets : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    proxies_ = KvTestProxies_Register();
    ASSERT_NE(proxies_, 0u);
    ASSERT_TRUE(reader_.loaded());
    const std::wstring fixture = FixturePath("lc_2ch_44100.m4a");
    if (GetFileAttributesW(fixture.c_str()) == INVALID_FILE_ATTRIBUTES) VOG_TOOL_MISSING("ffmpeg") << "fixture missing";
    // The lifetime checks open the file exclusively, so the test reads a copy
    // of its own: other test programs that CTest runs at the same time open
    // the shared fixture too.
    path_ = PrivateCopy(fixture);
    ASSERT_FALSE(path_.empty()) << "cannot copy the fixture";
    // The direct road: what every blanket call must reproduce.
    IKvReadFileClass* cls = reader_.NewClass();
    ASSERT_NE(cls, nullptr);
    cls->GetReaderGuid(&direct_.readerId);
    Chain chain;
    ASSERT_EQ(chain.Open(cls, path_), S_OK);
    Observe(chain.audio, &direct_, 1024);
    chain.Release();
    cls->Release();
    ASSERT_GT(direct_.frames, 40000);
    ASSERT_EQ(direct_.samples.size(), static_cast<size_t>(direct_.frames) * 2);
  }
  void TearDown() override {
    KvTestProxies_Revoke(proxies_);
    CoUninitialize();
    // Fails where Wine kept an STA row's file open: the copy then stays in
    // the prefix's temporary folder.
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }

  // A copy of `source` in the temporary folder, named for this process and
  // test so that no other program or earlier test holds it; empty on failure.
  static std::wstring PrivateCopy(const std::wstring& source) {
    static int copies = 0;
    wchar_t folder[MAX_PATH] = {};
    if (!GetTempPathW(MAX_PATH, folder)) return std::wstring();
    std::wstring path = std::wstring(folder) + L"blanket_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                        std::to_wstring(++copies) + L".m4a";
    if (!CopyFileW(source.c_str(), path.c_str(), FALSE)) return std::wstring();
    return path;
  }

  // A class blanket around a new reader class object; the test keeps its
  // own reference to the real object in real_.
  IKvReadFileClass* WrappedClass() {
    IKvReadFileClass* cls = reader_.NewClass();
    if (!cls) return nullptr;
    real_ = cls;
    real_->AddRef();
    if (FAILED(KvFio_CreateBlanket(IID_IKvReadFileClass, reinterpret_cast<void**>(&cls), nullptr, nullptr))) return nullptr;
    return cls;
  }

  // After the last blanket: only the test's reference to the real class is
  // left, and no reader object keeps the file open.
  void ExpectAllGone() {
    EXPECT_TRUE(NobodyHasOpen(path_)) << "a reader object outlived its blankets";
    ASSERT_NE(real_, nullptr);
    EXPECT_EQ(real_->Release(), 0u) << "the class object is still referenced";
    real_ = nullptr;
  }

  IKvReadFileClass* real_ = nullptr;
  PluginReader reader_;
  DWORD proxies_ = 0;
  std::wstring path_;
  Observed direct_;
};

TEST_F(Blankets, ThreadsOfEveryApartmentReadWhatDirectCallsRead) {
  IKvReadFileClass* cls = WrappedClass();
  ASSERT_NE(cls, nullptr);
  Chain chain;
  ASSERT_EQ(chain.Open(cls, path_), S_OK);

  // A table of threads, all started before any ends (their ids stay
  // distinct), each with its own block size.
  struct Case {
    Apartment apartment;
    LONG block;
  };
  const std::vector<Case> cases = {{Apartment::kMta, 1024}, {Apartment::kSta, 777},  {Apartment::kNone, 4096},
                                   {Apartment::kMta, 333},  {Apartment::kSta, 2048}, {Apartment::kNone, 1},
                                   {Apartment::kMta, 65536}, {Apartment::kSta, 1500}};
  std::vector<Observed> seen(cases.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < cases.size(); ++i) {
    IKvReadAudioStream* audio = chain.audio;
    IKvReadFileClass* c = cls;
    Observed* o = &seen[i];
    LONG block = cases[i].block == 1 ? 97 : cases[i].block;
    threads.push_back(StartIn(cases[i].apartment, [audio, c, o, block]() {
      c->GetReaderGuid(&o->readerId);
      Observe(audio, o, block);
    }));
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(std::string(Name(cases[i].apartment)) + " thread, block " + std::to_string(cases[i].block));
    EXPECT_EQ(seen[i].frames, direct_.frames);
    EXPECT_EQ(seen[i].blockAlign, direct_.blockAlign);
    EXPECT_EQ(seen[i].duration, direct_.duration);
    EXPECT_TRUE(IsEqualGUID(seen[i].readerId, direct_.readerId));
    EXPECT_TRUE(seen[i].samples == direct_.samples) << "samples differ from the direct read";
  }

  // Everything the chain holds goes with the last blanket.
  EXPECT_FALSE(NobodyHasOpen(path_));
  EXPECT_GT(RefsOf(real_), 1u);
  chain.Release();
  EXPECT_EQ(cls->Release(), 0u);
  ExpectAllGone();
}

TEST_F(Blankets, StressManyThreadsOnOneStream) {
  IKvReadFileClass* cls = WrappedClass();
  ASSERT_NE(cls, nullptr);
  Chain chain;
  ASSERT_EQ(chain.Open(cls, path_), S_OK);
  const int kThreads = 24;
  const int kReads = 40;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    IKvReadAudioStream* audio = chain.audio;
    const std::vector<short>* expected = &direct_.samples;
    LONGLONG frames = direct_.frames;
    Apartment a = t % 3 == 0 ? Apartment::kSta : t % 3 == 1 ? Apartment::kMta : Apartment::kNone;
    threads.push_back(StartIn(a, [audio, expected, frames, t, &wrong]() {
      std::vector<short> buffer(2 * 512);
      for (int r = 0; r < kReads; ++r) {
        LONGLONG at = (static_cast<LONGLONG>(t) * 7919 + r * 1543) % (frames - 512);
        LONG done = 0;
        HRESULT hr = audio->ReadSamples(at, LocalToken(buffer.data(), 2048), 512, &done);
        if (FAILED(hr) || done <= 0) {
          ++wrong;
          continue;
        }
        for (LONG i = 0; i < done * 2; ++i) {
          if (buffer[i] != (*expected)[static_cast<size_t>(at * 2 + i)]) {
            ++wrong;
            break;
          }
        }
      }
    }));
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  chain.Release();
  EXPECT_EQ(cls->Release(), 0u);
  ExpectAllGone();
}

// Many threads at once, each opening its own file, stream and typed stream
// through the one class blanket (so blankets are made, called and released
// concurrently), reading, and releasing them. The plug-in's class object is
// driven by one thread at a time, as its contract asks: opening is
// serialised, everything else runs at once.
//
// Chains made in single-threaded apartments register proxies in the table.
// Wine keeps the object behind a proxy alive, until the object's own
// apartment ends, once that proxy has been registered, called and revoked
// (raw proxies without the table, and proxies fetched from it, are released
// properly), so the rows with such threads check results and stability, not
// that the file was closed.
std::mutex gOpenLock;

TEST_F(Blankets, StressEachThreadItsOwnChain) {
  IKvReadFileClass* cls = WrappedClass();
  ASSERT_NE(cls, nullptr);
  struct Case {
    int threads;
    int rounds;
    bool withSta;
  };
  for (const Case c : {Case{4, 4, false}, Case{16, 2, false}, Case{32, 1, false}, Case{24, 2, true}}) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads" + (c.withSta ? ", some in STAs" : ""));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < c.threads; ++t) {
      Apartment a = t % 2 == 0 ? Apartment::kMta : Apartment::kNone;
      if (c.withSta && t % 3 == 1) a = Apartment::kSta;
      const std::wstring* path = &path_;
      const std::vector<short>* expected = &direct_.samples;
      threads.push_back(StartIn(a, [cls, path, expected, t, c, &wrong]() {
        for (int r = 0; r < c.rounds; ++r) {
          Chain chain;
          HRESULT openResult;
          {
            std::lock_guard<std::mutex> hold(gOpenLock);
            openResult = chain.Open(cls, *path);
          }
          if (FAILED(openResult)) {
            ++wrong;
            chain.Release();
            continue;
          }
          std::vector<short> buffer(2 * 700);
          LONGLONG at = (t * 3001 + r * 977) % 40000;
          LONG done = 0;
          HRESULT hr = chain.audio->ReadSamples(at, LocalToken(buffer.data(), 2800), 700, &done);
          if (FAILED(hr) || done != 700 ||
              !std::equal(buffer.begin(), buffer.end(), expected->begin() + static_cast<size_t>(at) * 2)) {
            ++wrong;
          }
          if (chain.audio->GetReadFile() != chain.file) ++wrong;
          chain.Release();
        }
      }));
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    if (!c.withSta) {
      EXPECT_TRUE(NobodyHasOpen(path_)) << "a chain outlived its release";
    }
  }
  EXPECT_EQ(cls->Release(), 0u);
  // Only the class is checked: Wine has kept the STA rows' files.
  ASSERT_NE(real_, nullptr);
  EXPECT_EQ(real_->Release(), 0u) << "the class object is still referenced";
  real_ = nullptr;
}

TEST_F(Blankets, AnsweredSlotsAndIdentities) {
  IKvReadFileClass* cls = WrappedClass();
  ASSERT_NE(cls, nullptr);
  // Class index and manager are the blanket's own.
  DWORD index = 0xFFFFFFFF;
  EXPECT_EQ(cls->GetClassIndex(&index), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(cls->SetClassIndex(12), S_OK);
  EXPECT_EQ(cls->GetClassIndex(&index), S_OK);
  EXPECT_EQ(index, 12u);
  EXPECT_EQ(cls->SetDizuVOManager(nullptr), S_OK);
  IKvDizuVOManager* manager = reinterpret_cast<IKvDizuVOManager*>(cls);
  EXPECT_EQ(cls->GetDizuVOManager(&manager), E_NOINTERFACE);  // no manager made this chain
  EXPECT_EQ(manager, nullptr);

  // QueryInterface: null out, IUnknown and the own id give the blanket.
  EXPECT_EQ(cls->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(cls->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(cls));
  unknown->Release();

  Chain chain;
  ASSERT_EQ(chain.Open(cls, path_), S_OK);
  // The typed stream keeps the stream's identity.
  IUnknown* audioUnknown = nullptr;
  ASSERT_EQ(chain.audio->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&audioUnknown)), S_OK);
  EXPECT_EQ(audioUnknown, static_cast<IUnknown*>(chain.stream));
  audioUnknown->Release();
  IKvReadStream* asStream = nullptr;
  ASSERT_EQ(chain.audio->QueryInterface(IID_IKvReadStream, reinterpret_cast<void**>(&asStream)), S_OK);
  EXPECT_EQ(asStream, chain.stream);
  asStream->Release();
  // Each query makes a new blanket.
  IKvReadAudioStream* second = nullptr;
  ASSERT_EQ(chain.stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&second)), S_OK);
  EXPECT_NE(second, chain.audio);
  LONGLONG frames = 0;
  EXPECT_EQ(second->GetSampleCount(&frames), S_OK);
  EXPECT_EQ(frames, direct_.frames);
  second->Release();

  // Owners along the chain are the blankets that made it.
  EXPECT_EQ(chain.audio->GetReadFile(), chain.file);
  EXPECT_EQ(chain.stream->GetReadFile(), chain.file);
  IKvReadFileClass* owner = nullptr;
  for (IKvReadFileClass** got : {&owner}) {
    ASSERT_EQ(chain.file->GetReadFileClass(got), S_OK);
    EXPECT_EQ(*got, cls);
    (*got)->Release();
    ASSERT_EQ(chain.stream->GetReadFileClass(got), S_OK);
    EXPECT_EQ(*got, cls);
    (*got)->Release();
    ASSERT_EQ(chain.audio->GetReadFileClass(got), S_OK);
    EXPECT_EQ(*got, cls);
    (*got)->Release();
  }

  // A wrapped slot that fails returns the object's failure and no blanket
  // (here: a handle of a process that does not exist).
  HANDLE foreignHandle = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x1234));
  const DWORD noProcess = 0xFFFFFFF0;
  IKvReadFileClass* plain = reader_.NewClass();
  ASSERT_NE(plain, nullptr);
  IKvReadFile* direct = nullptr;
  HRESULT expected = plain->OpenReadFile(&direct, foreignHandle, noProcess, path_.c_str(), TRUE);
  EXPECT_TRUE(FAILED(expected));
  if (direct) direct->Release();
  plain->Release();
  IKvReadFile* none = nullptr;
  EXPECT_EQ(cls->OpenReadFile(&none, foreignHandle, noProcess, path_.c_str(), TRUE), expected);
  EXPECT_EQ(none, nullptr);

  chain.Release();
  EXPECT_EQ(cls->Release(), 0u);
  ExpectAllGone();
}

TEST_F(Blankets, RenderClassBlanketWithItsManager) {
  // The class blankets hand the manager out.
  vogtest::FakeDizuVOManager manager;
  IKvRenderFileClass* real = reader_.NewRenderClass();
  ASSERT_NE(real, nullptr);
  // What the object says directly (its slots may still be unimplemented: the
  // blanket must give the same answers, whatever they are).
  GUID directId = {};
  int directTemplates = -1;
  const HRESULT directIdResult = real->GetRendererGuid(&directId);
  const HRESULT directTemplatesResult = real->GetTemplateCount(&directTemplates);
  IKvReadFileClass* directReader = nullptr;
  const HRESULT directReaderResult = real->GetReaderClass(&directReader);
  if (directReader) directReader->Release();
  real->AddRef();  // the test's own
  const ULONG before = RefsOf(real);

  IKvRenderFileClass* cls = real;
  ASSERT_EQ(KvFio_CreateBlanket(IID_IKvRenderFileClass, reinterpret_cast<void**>(&cls), nullptr, &manager), S_OK);
  ASSERT_NE(cls, real);
  GUID id = {};
  int templates = -1;
  EXPECT_EQ(cls->GetRendererGuid(&id), directIdResult);
  EXPECT_TRUE(IsEqualGUID(id, directId));
  EXPECT_EQ(cls->GetTemplateCount(&templates), directTemplatesResult);
  EXPECT_EQ(templates, directTemplates);
  // The same from a single-threaded apartment, through a proxy.
  std::thread([&]() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    DWORD proxies = KvTestProxies_Register();
    GUID staId = {};
    int staTemplates = -1;
    // (A proxy clears the out-arguments of a failed call: only successful
    // answers are compared.)
    EXPECT_EQ(cls->GetRendererGuid(&staId), directIdResult);
    if (SUCCEEDED(directIdResult)) {
      EXPECT_TRUE(IsEqualGUID(staId, directId));
    }
    EXPECT_EQ(cls->GetTemplateCount(&staTemplates), directTemplatesResult);
    if (SUCCEEDED(directTemplatesResult)) {
      EXPECT_EQ(staTemplates, directTemplates);
    }
    KvTestProxies_Revoke(proxies);
    CoUninitialize();
  }).join();

  // Class index and manager are the blanket's.
  DWORD index = 7;
  EXPECT_EQ(cls->GetClassIndex(&index), S_OK);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(cls->SetClassIndex(3), S_OK);
  EXPECT_EQ(cls->GetClassIndex(&index), S_OK);
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(cls->SetDizuVOManager(nullptr), S_OK);
  IKvDizuVOManager* got = nullptr;
  ASSERT_EQ(cls->GetDizuVOManager(&got), S_OK);
  EXPECT_EQ(static_cast<void*>(got), static_cast<void*>(&manager));
  got->Release();

  // A wrapped slot gives the object's own result (the plug-in's render class
  // has no manager of its own to ask for its reader).
  IKvReadFileClass* readerClass = nullptr;
  EXPECT_EQ(cls->GetReaderClass(&readerClass), directReaderResult);
  if (SUCCEEDED(directReaderResult)) {
    ASSERT_NE(readerClass, nullptr);
    readerClass->Release();
  }

  // An interface outside the eight comes back bare: here, in the object's
  // own apartment, the object's own face.
  IUnknown* support = nullptr;
  IUnknown* directSupport = nullptr;
  const HRESULT directSupportResult = real->QueryInterface(IID_IKvRenderMetaSupport, reinterpret_cast<void**>(&directSupport));
  EXPECT_EQ(cls->QueryInterface(IID_IKvRenderMetaSupport, reinterpret_cast<void**>(&support)), directSupportResult);
  EXPECT_EQ(support, directSupport);
  if (support) support->Release();
  if (directSupport) directSupport->Release();

  EXPECT_EQ(cls->Release(), 0u);
  EXPECT_EQ(RefsOf(real), before - 1) << "the table's reference was not given back";
  EXPECT_EQ(real->Release(), 0u);
  EXPECT_EQ(manager.refs, 1);
}

TEST(BlanketFactory, PointersOutsideTheEightAndNullPointers) {
  // Another interface id: the pointer stays and is not touched (a value that
  // would crash if it were released).
  void* foreign = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A5A5A));
  EXPECT_EQ(KvFio_CreateBlanket(IID_IStream, &foreign, nullptr, nullptr), S_OK);
  EXPECT_EQ(foreign, reinterpret_cast<void*>(static_cast<UINT_PTR>(0x5A5A5A5A)));
  void* null = nullptr;
  EXPECT_EQ(KvFio_CreateBlanket(IID_IKvReadFile, &null, nullptr, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(KvFio_CreateBlanket(IID_IKvReadFile, nullptr, nullptr, nullptr), E_POINTER);
}

// Registered in a single-threaded apartment while no multithreaded one
// exists: a thread without COM cannot get a proxy. It gets a clean failure,
// every time (a failed fetch is not cached), and the owner still works.
TEST(BlanketWithoutCom, CallsFromAThreadWithoutComFailCleanly) {
  PluginReader reader;
  ASSERT_TRUE(reader.loaded());
  HRESULT first = S_OK, second = S_OK, owner = E_FAIL, made = E_FAIL;
  ULONG left = 1, realLeft = 1;
  std::thread sta = StartIn(Apartment::kSta, [&]() {
    IKvReadFileClass* cls = reader.NewClass();
    if (!cls) return;
    IKvReadFileClass* real = cls;
    real->AddRef();
    made = KvFio_CreateBlanket(IID_IKvReadFileClass, reinterpret_cast<void**>(&cls), nullptr, nullptr);
    if (FAILED(made)) return;
    std::thread bare([&]() {
      GUID id;
      first = cls->GetReaderGuid(&id);
      second = cls->GetReaderGuid(&id);
    });
    bare.join();
    GUID id;
    owner = cls->GetReaderGuid(&id);
    left = cls->Release();
    realLeft = real->Release();
  });
  sta.join();
  ASSERT_EQ(made, S_OK);
  EXPECT_TRUE(FAILED(first)) << std::hex << first;
  EXPECT_EQ(second, first);
  EXPECT_EQ(owner, S_OK);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(realLeft, 0u);
}

}  // namespace
