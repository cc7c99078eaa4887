// The render file: its slots through the DLL, and the whole render loop (host
// stream -> sample reader -> compressor -> MP4 writer -> metadata) with a
// compressor that pulls the host's PCM block by block and answers with the
// access units of an ffmpeg file, so that the rendered file can be checked by
// ffmpeg (render_writer_oracles.sh decodes it).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boxreader.h"
#include "descriptors.h"
#include "factories.h"
#include "filestream.h"
#include "kvaudio.h"
#include "kvfileio.h"
#include "kvtemplate.h"
#include "metadataset.h"
#include "metafactories.h"
#include "metastream.h"
#include "plugin_dll.h"
#include "render_class_fixture.h"
#include "read_support.h"
#include "standin_host.h"
#include "summaryids.h"
#include "trackreader.h"
#include "vogaac2_presets.h"
#include "vogaac2_renderfile.h"
#include "vogaac2_readmeta.h"
#include "vogaac2_renderfileclass.h"
#include "vog_files.h"

namespace {


std::wstring RenderDir() {
  std::wstring dir = WinePath(std::string(VOG_FIXTURE_DIR) + "/render");
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir + L"\\";
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<BYTE> LoadFile(const std::string& unix) { return vogtest::ReadBytes(WinePath(unix)); }

// The access units, durations and decoder configuration of an MP4 file.
struct Units {
  std::vector<std::vector<uint8_t>> units;
  std::vector<uint32_t> durations;
  std::vector<uint8_t> asc;
  uint16_t channels = 0;
  uint32_t rate = 0;
};

class SttsCollector : public fileutil::BoxVisitor {
 public:
  ~SttsCollector() {}
  using fileutil::BoxVisitor::Visit;
  uint32_t Visit(fileutil::TimeToSampleBox& box) override {
    for (const auto& e : box.entries)
      for (uint32_t i = 0; i < e.sampleCount; ++i) durations.push_back(e.sampleDelta);
    return 0;
  }
  std::vector<uint32_t> durations;
};

bool LoadUnits(const std::wstring& path, Units& u) {
  // The test's own copy of the container library needs its factories.
  fileutil::CreateGlobalFactories();
  esds::CreateDescriptorFactory();
  fileutil::ifstream in;
  in.open(path.c_str(), 65536, fileutil::kGenericRead, fileutil::kFileShareRead, nullptr, fileutil::kOpenExisting,
          fileutil::kFlagsNormal, nullptr);
  if (!in.is_open()) return false;
  fileutil::BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(in);
    boxes = reader.ReadAllBoxes();
  }
  if (!boxes) return false;
  SttsCollector stts;
  fileutil::VisitBoxes(*boxes, stts);
  u.durations = stts.durations;
  in.clear();
  fileutil::TrackReader track(*boxes, in);
  bool ok = track.Init();
  if (ok) {
    u.asc = track.GetDecoderSpecificInfo();
    u.channels = track.GetChannelCount();
    u.rate = track.GetSampleRate();
    for (uint32_t n = 1; ok && n <= track.GetSampleCount(); ++n) {
      std::vector<uint8_t> unit;
      ok = track.SeekSample(n) && track.ReadSample(unit);
      u.units.push_back(unit);
    }
  }
  fileutil::DeleteBoxList(boxes);
  return ok;
}

// Pulls 1024 frames of float PCM per call from the reader and answers with
// the next recorded access unit.
class PullingReplayCompressor : public ffbase::IAudioCompressor {
 public:
  explicit PullingReplayCompressor(const Units& u) : u_(u) {}
  HRESULT Open(void*, const WAVEFORMATEX* source, WAVEFORMATEX* output) override {
    KvAudio_InitWfx(output, u_.rate, KVST_FLOAT, u_.channels);
    sourceChannels = source->nChannels;
    return S_OK;
  }
  HRESULT Encode(std::vector<uint8_t>* accessUnit, ffbase::IAudioSampleReader* reader, DWORD* duration) override {
    *duration = 0;
    accessUnit->clear();
    std::vector<float> block(1024 * u_.channels);
    DWORD frames = 0;
    HRESULT hr = reader->Read(block.data(), 1024, &frames);
    if (hr != S_OK || frames == 0) return hr;
    framesPulled += frames;
    if (next_ >= u_.units.size()) return S_OK;
    *accessUnit = u_.units[next_];
    *duration = u_.durations[next_];
    ++next_;
    return S_OK;
  }
  HRESULT SetProfileLevels(fileutil::ISetInitialObjectDescriptor* iod) override {
    iod->Set(0xFF, 0xFF, 0x29, 0xFF, 0xFF);
    return S_OK;
  }
  HRESULT FillDecoderConfig(fileutil::ISetElementaryStreamInfo* es) override {
    return es->Set(0x40, 5, 1536, 288000, 128000, 0, u_.asc) ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Close() override { return S_OK; }

  static inline LONGLONG framesPulled = 0;
  static inline WORD sourceChannels = 0;

 private:
  Units u_;
  size_t next_ = 0;
};

class ReplayRenderFile : public VogAacRenderFile {
 public:
  ReplayRenderFile(IKvRenderFileClass* owner, tagKVTEMPLATExV2* tmpl, const Units& u)
      : VogAacRenderFile(owner, tmpl), units_(u) {}
  AacPresetRecord preset = {};

 protected:
  HRESULT NewCompressor(const AacPresetRecord& p, ffbase::IAudioCompressor** out) override {
    preset = p;
    *out = new PullingReplayCompressor(units_);
    return S_OK;
  }

 private:
  Units units_;
};

// A replayed render whose compressor fails at its `failAt`-th call: a source
// or encoder that gives out half-way.
class FailingCompressor : public PullingReplayCompressor {
 public:
  FailingCompressor(const Units& u, int failAt) : PullingReplayCompressor(u), failAt_(failAt) {}
  HRESULT Encode(std::vector<uint8_t>* accessUnit, ffbase::IAudioSampleReader* reader, DWORD* duration) override {
    if (++calls_ >= failAt_) return E_FAIL;
    return PullingReplayCompressor::Encode(accessUnit, reader, duration);
  }

 private:
  int failAt_;
  int calls_ = 0;
};

class FailingRenderFile : public VogAacRenderFile {
 public:
  FailingRenderFile(IKvRenderFileClass* owner, tagKVTEMPLATExV2* tmpl, const Units& u, int failAt)
      : VogAacRenderFile(owner, tmpl), units_(u), failAt_(failAt) {}

 protected:
  HRESULT NewCompressor(const AacPresetRecord&, ffbase::IAudioCompressor** out) override {
    *out = new FailingCompressor(units_, failAt_);
    return S_OK;
  }

 private:
  Units units_;
  int failAt_;
};

// The host's metadata: a summary stream with a title, nothing else.
class SummaryMeta : public IKvReadMeta {
 public:
  explicit SummaryMeta(const wchar_t* title) { set_.SetSummaryText(fileutil::kSummaryTitle, title); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IKvReadMeta) || IsEqualGUID(riid, IID_IUnknown)) {
      *ppv = this;
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream**) override { return HRESULT(0x8004E00A); }
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT, wchar_t*, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream** out) override {
    fileutil::MetaSummaryStream* s = new fileutil::MetaSummaryStream();
    HRESULT hr = s->FillFromSummary(set_);
    *out = s;
    return hr;
  }
  ULONG refs = 1;

 private:
  fileutil::MetaDataSet set_;
};

class RenderFileTest : public RenderClassFixture {};

TEST_F(RenderFileTest, SlotsOfANewFile) {
  std::wstring path = RenderDir() + L"slots.mp4";
  DeleteFileW(path.c_str());
  IKvRenderFile* file = nullptr;
  ASSERT_EQ(S_OK, cls_->CreateRenderFile(&file, path.c_str(), 0, nullptr, nullptr));
  ASSERT_NE(file, nullptr);
  wchar_t buf[MAX_PATH];
  EXPECT_EQ(S_OK, file->GetPath(buf, MAX_PATH));
  EXPECT_EQ(path, std::wstring(buf));
  EXPECT_EQ(S_OK, file->GetPath(buf, 4));
  EXPECT_EQ(path.substr(0, 3), std::wstring(buf));
  // A path that does not fit is refused, not cut to another file's name.
  std::wstring longPath(300, L'a');
  EXPECT_EQ(HRESULT(0x800700CE), file->SetPath(longPath.c_str()));
  EXPECT_EQ(S_OK, file->GetPath(buf, MAX_PATH));
  EXPECT_EQ(path, std::wstring(buf));

  DWORD streams = 0;
  EXPECT_EQ(S_OK, file->GetStreamCount(&streams));
  EXPECT_EQ(1u, streams);
  tagKVTEMPLATExV2* t = reinterpret_cast<tagKVTEMPLATExV2*>(UntouchedPointer());
  EXPECT_EQ(E_NOTIMPL, file->GetTemplate(&t, 1));
  EXPECT_EQ(E_POINTER, file->GetTemplate(nullptr, 0));
  ASSERT_EQ(S_OK, file->GetTemplate(&t, 0));
  EXPECT_TRUE(IsEqualGUID(GUID_NULL, t->guidTemplate)) << "the default template";
  EXPECT_STREQ(L"Default Template", KvFio_GetTemplateName(t));
  std::free(t);
  IKvRenderFileClass* owner = nullptr;
  EXPECT_EQ(S_OK, file->GetRenderFileClass(&owner));
  EXPECT_EQ(cls_, owner);
  owner->Release();
  EXPECT_EQ(E_NOTIMPL, file->Reserved5());

  // Without an audio source nothing is rendered and no file appears.
  EXPECT_EQ(E_FAIL, file->Render(nullptr));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(0u, file->Release());
}

// A source is there, but the encoder cannot take the preset (preset 12 made
// HE-AAC without parametric stereo in the parametric-stereo channel mode):
// the render stops before any file is made.
TEST_F(RenderFileTest, RenderWithRefusedPresetMakesNoFile) {
  std::wstring path = RenderDir() + L"no_encoder.mp4";
  DeleteFileW(path.c_str());
  StandInStream stream(LoadFile(ReadFixtureDir() + "lc_2ch_44100.f32"),
                       WAVEFORMATEX{WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 352800, 8, 32, 0});
  IKvReadStream* source = &stream;
  tagKVTEMPLATExV2* t = nullptr;
  ASSERT_EQ(S_OK, cls_->GetTemplate(&t, 12));
  const DWORD he = kAacObjectTypeHe;
  std::memcpy(t->abData + offsetof(AacPresetRecord, objectType), &he, sizeof he);
  IKvRenderFile* file = nullptr;
  ASSERT_EQ(S_OK, cls_->CreateRenderFile(&file, path.c_str(), 1, &source, t));
  std::free(t);  // the file keeps its own copy
  EXPECT_EQ(E_FAIL, file->Render(nullptr));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(S_OK, file->ReleaseSources());
  EXPECT_EQ(0u, file->Release());
}

// The render loop end to end with the replaying compressor: the host's float
// PCM (ffmpeg's decode of the file whose units are replayed) is pulled through
// the reader, the units go into the MP4 file, and the host's title follows.
// Names in `dir` that start with "~vog": renders' temporary files.
std::vector<std::wstring> TemporaryFiles(const std::wstring& dir) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW((dir + L"~vog*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return found;
  do found.push_back(d.cFileName);
  while (FindNextFileW(h, &d));
  FindClose(h);
  return found;
}

// A render that fails half-way, is cancelled or finds its volume full leaves
// an existing file of the target's name as it was and no temporary file; a
// complete render replaces it. The full volume is drive V:, a 64 KiB tmpfs
// the small-volume fixture maps into the Wine prefix; where it could not be
// mounted that run skips.
TEST(RenderLoop, ExistingFileSurvivesFailedRenders) {
  Units units;
  ASSERT_TRUE(LoadUnits(WinePath(ReadFixtureDir() + "lc_2ch_44100.m4a"), units));
  std::vector<BYTE> pcm = LoadFile(ReadFixtureDir() + "lc_2ch_44100.f32");
  ASSERT_FALSE(pcm.empty());
  const WAVEFORMATEX sourceFormat = {WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 352800, 8, 32, 0};
  const std::wstring local = RenderDir() + L"replace\\";
  CreateDirectoryW(local.c_str(), nullptr);
  const std::wstring smallVolume = L"V:\\";
  const std::string before = "the user's earlier file";
  VogAacRenderFileClass* cls = new VogAacRenderFileClass();
  cls->AddRef();
  struct Run {
    const char* what;
    const std::wstring& dir;
    int failAt;    // compressor call that fails (large: none)
    int cancelAt;  // progress step that cancels (large: none)
    HRESULT expect;
  } runs[] = {
      {"source fails half-way", local, 20, 1 << 30, E_FAIL},
      {"cancelled", local, 1 << 30, 5, HRESULT(0x8004E00C)},
      {"volume full", smallVolume, 1 << 30, 1 << 30, HRESULT(0x8004E002)},
      {"complete", local, 1 << 30, 1 << 30, S_OK},
  };
  bool skippedFull = false;
  for (const Run& r : runs) {
    SCOPED_TRACE(r.what);
    if (GetFileAttributesW(r.dir.c_str()) == INVALID_FILE_ATTRIBUTES) {
      std::printf("%s: skipped, no small volume is mapped (mounting a tmpfs was not possible)\n", r.what);
      skippedFull = true;
      continue;
    }
    const std::wstring path = r.dir + L"existing.m4a";
    {
      FILE* f = _wfopen(path.c_str(), L"wb");
      ASSERT_NE(f, nullptr);
      ASSERT_EQ(before.size(), std::fwrite(before.data(), 1, before.size(), f));
      ASSERT_EQ(0, std::fclose(f));
    }
    StandInStream stream(pcm, sourceFormat);
    ProgressSink sink;
    sink.cancelAt = r.cancelAt;
    FailingRenderFile* file = new FailingRenderFile(cls, cls->MakePresetTemplate(0), units, r.failAt);
    file->AddRef();
    ASSERT_EQ(S_OK, file->SetPath(path.c_str()));
    ASSERT_EQ(S_OK, file->SetSourceStream(&stream, 0));
    EXPECT_EQ(r.expect, file->Render(&sink));
    EXPECT_EQ(0u, file->Release());
    EXPECT_TRUE(TemporaryFiles(r.dir).empty());
    const std::vector<BYTE> now = vogtest::ReadBytes(path);
    if (r.expect == S_OK) {
      Units written;
      ASSERT_TRUE(LoadUnits(path, written));
      EXPECT_TRUE(units.units == written.units);
    } else {
      EXPECT_EQ(before, std::string(now.begin(), now.end()));
    }
    if (r.dir == smallVolume) DeleteFileW(path.c_str());
  }
  EXPECT_EQ(0u, cls->Release());
  if (skippedFull) std::printf("the full-volume render was not checked\n");
}

TEST(RenderLoop, RendersThroughReaderCompressorAndWriter) {
  Units units;
  ASSERT_TRUE(LoadUnits(WinePath(ReadFixtureDir() + "lc_2ch_44100.m4a"), units));
  std::vector<BYTE> pcm = LoadFile(ReadFixtureDir() + "lc_2ch_44100.f32");
  ASSERT_FALSE(pcm.empty());
  const WAVEFORMATEX sourceFormat = {WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 352800, 8, 32, 0};

  VogAacRenderFileClass* cls = new VogAacRenderFileClass();
  cls->AddRef();
  struct Run {
    const char* name;
    int cancelAt;
    HRESULT expect;
  } runs[] = {{"rendered_lc_2ch_44100.m4a", 1 << 30, S_OK}, {"cancelled.m4a", 5, HRESULT(0x8004E00C)}};
  for (const Run& r : runs) {
    SCOPED_TRACE(r.name);
    std::wstring path = RenderDir() + std::wstring(r.name, r.name + std::strlen(r.name));
    StandInStream stream(pcm, sourceFormat);
    ProgressSink sink;
    sink.cancelAt = r.cancelAt;
    SummaryMeta meta(L"Rendered title");
    ReplayRenderFile* file = new ReplayRenderFile(cls, cls->MakePresetTemplate(0), units);
    file->AddRef();
    ASSERT_EQ(S_OK, file->SetPath(path.c_str()));
    ASSERT_EQ(S_OK, file->SetSourceStream(&stream, 0));
    ASSERT_EQ(S_OK, file->SetSourceMeta(&meta));
    PullingReplayCompressor::framesPulled = 0;
    EXPECT_EQ(r.expect, file->Render(&sink));
    EXPECT_EQ(44100u, file->preset.sampleRate);
    EXPECT_EQ(128000u, file->preset.bitRate);
    EXPECT_EQ(2u, PullingReplayCompressor::sourceChannels);
    ASSERT_EQ(1u, sink.begins.size());
    EXPECT_EQ(LONGLONG(pcm.size() / 8), sink.begins[0]);
    if (r.expect == S_OK) {
      EXPECT_EQ(LONGLONG(pcm.size() / 8), PullingReplayCompressor::framesPulled);
      Units written;
      ASSERT_TRUE(LoadUnits(path, written));
      EXPECT_EQ(units.asc, written.asc);
      EXPECT_EQ(units.durations, written.durations);
      EXPECT_TRUE(units.units == written.units);
    }
    EXPECT_EQ(0u, file->Release());
    EXPECT_EQ(1u, meta.refs) << "the file let go of the host's metadata";
  }
  // A template whose codec block is no whole preset record configures no
  // encoder: the render is refused and no file is made.
  {
    std::wstring path = RenderDir() + L"short_block.m4a";
    DeleteFileW(path.c_str());
    StandInStream stream(pcm, sourceFormat);
    tagKVTEMPLATExV2* t = cls->MakePresetTemplate(0);
    ASSERT_NE(t, nullptr);
    t->cbCodecBlock = 40;
    ReplayRenderFile* file = new ReplayRenderFile(cls, t, units);
    file->AddRef();
    ASSERT_EQ(S_OK, file->SetPath(path.c_str()));
    ASSERT_EQ(S_OK, file->SetSourceStream(&stream, 0));
    EXPECT_EQ(E_INVALIDARG, file->Render(nullptr));
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(0u, file->Release());
  }
  // Parametric-stereo presets name one channel in their templates; the
  // encoder is given a stereo source.
  for (int preset : {12, 13, 8, 9}) {
    std::wstring path = RenderDir() + L"preset_channels.m4a";
    StandInStream stream(pcm, sourceFormat);
    ReplayRenderFile* file = new ReplayRenderFile(cls, cls->MakePresetTemplate(preset), units);
    file->AddRef();
    ASSERT_EQ(S_OK, file->SetPath(path.c_str()));
    ASSERT_EQ(S_OK, file->SetSourceStream(&stream, 0));
    PullingReplayCompressor::sourceChannels = 0;
    EXPECT_EQ(S_OK, file->Render(nullptr));
    EXPECT_EQ(preset == 8 ? 1 : 2, PullingReplayCompressor::sourceChannels) << "preset " << preset;
    EXPECT_EQ(0u, file->Release());
  }
  EXPECT_EQ(0u, cls->Release());
}

// The host's media-manager and loop-music data, served from memory streams.
// The entry streams may end inside an entry.
class PrivateDataMeta : public IKvReadMeta,
                        public IKvReadMediaMgrMeta,
                        public IKvReadPlimMeta,
                        public IKvReadProjectLinkMeta {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IKvReadProjectLinkMeta) && withLink)
      *ppv = static_cast<IKvReadProjectLinkMeta*>(this);
    if (IsEqualGUID(riid, IID_IKvReadMeta) || IsEqualGUID(riid, IID_IUnknown)) *ppv = static_cast<IKvReadMeta*>(this);
    if (IsEqualGUID(riid, IID_IKvReadMediaMgrMeta)) *ppv = static_cast<IKvReadMediaMgrMeta*>(this);
    if (IsEqualGUID(riid, IID_IKvReadPlimMeta)) *ppv = static_cast<IKvReadPlimMeta*>(this);
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream**) override { return HRESULT(0x8004E00A); }
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT, wchar_t*, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream**) override { return HRESULT(0x8004E00A); }
  HRESULT STDMETHODCALLTYPE GetUserDefStream(IStream** out) override { return Stream(userDef, out); }
  HRESULT STDMETHODCALLTYPE GetUserDefInfo(BYTE* record) override {
    std::memset(record, 0x11, 12);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPlimInfo(BYTE* record) override {
    std::memset(record, 0x22, 24);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPlimInfoEx(BYTE* record) override {
    std::memset(record, 0x33, 28);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPlimStream(IStream** out) override { return Stream(plim, out); }
  // Project link: a path, a command line and the renderer's id.
  HRESULT STDMETHODCALLTYPE GetProjectPath(IStream** out) override { return Text(L"C:\\p.vpr", out); }
  HRESULT STDMETHODCALLTYPE GetCommandLine(IStream** out) override { return Text(L"vog /r", out); }
  HRESULT STDMETHODCALLTYPE GetRendererGuid(IStream** out) override {
    return Stream(std::vector<BYTE>(reinterpret_cast<const BYTE*>(&kRendererId),
                                    reinterpret_cast<const BYTE*>(&kRendererId) + 16), out);
  }
  HRESULT STDMETHODCALLTYPE GetTemplateName(IStream** out) override { return Stream({}, out); }
  HRESULT STDMETHODCALLTYPE GetTemplateData(IStream** out) override { return Stream({}, out); }
  HRESULT STDMETHODCALLTYPE GetAppTemplateData(IStream** out) override { return Stream({}, out); }
  HRESULT STDMETHODCALLTYPE GetProjectData(IStream** out) override { return Stream({}, out); }
  HRESULT STDMETHODCALLTYPE GetCreatorAppInfo(IStream** out) override { return Stream({}, out); }
  HRESULT STDMETHODCALLTYPE GetCreatorAppWindowClassName(IStream** out) override { return Stream({}, out); }

  std::vector<BYTE> userDef, plim;  // empty: "nothing there"
  bool withLink = false;

 private:
  static HRESULT Stream(const std::vector<BYTE>& bytes, IStream** out) {
    *out = nullptr;
    if (bytes.empty()) return HRESULT(0x8004E00A);
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(g), bytes.data(), bytes.size());
    GlobalUnlock(g);
    return CreateStreamOnHGlobal(g, TRUE, out);
  }
  static HRESULT Text(const wchar_t* text, IStream** out) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text);
    return Stream(std::vector<BYTE>(p, p + (wcslen(text) + 1) * 2), out);
  }
};

void PutWord(std::vector<BYTE>& b, size_t at, DWORD v) { std::memcpy(&b[at], &v, 4); }

// Records what the gathering collected instead of writing it.
class GatheringRenderFile : public VogAacRenderFile {
 public:
  using VogAacRenderFile::VogAacRenderFile;
  HRESULT WriteFileMetadata(fileutil::MetaDataSet& collection, const wchar_t*, DWORD) override {
    const GUID keys[] = {
        {0xCDB04C70, 0x91A0, 0x4668, {0xAD, 0x38, 0x68, 0x73, 0xE2, 0x95, 0x64, 0x15}},
        {0x2183E19B, 0x0225, 0x455C, {0x9F, 0xBF, 0x75, 0x14, 0xAF, 0xFD, 0xBA, 0x7D}},
        {0x3152F494, 0xC993, 0x4B31, {0x96, 0xE1, 0xA3, 0x3C, 0x79, 0xC7, 0xA8, 0xD0}},
        {0x53CBEDB8, 0x992A, 0x4202, {0xAA, 0x8D, 0xE2, 0x88, 0x92, 0x79, 0xE8, 0x6F}},
        {0xFDB28EB2, 0x7D5E, 0x4A7B, {0xAF, 0xBD, 0xF1, 0xE3, 0x8C, 0x7E, 0xC5, 0xF6}},
        {0x2A33D899, 0x550B, 0x468C, {0x9C, 0x47, 0x3C, 0xE3, 0x90, 0x0D, 0x87, 0x34}},
    };
    counts.clear();
    bytes.clear();
    for (const GUID& k : keys) {
      counts.push_back(collection.CountEntries(k));
      bytes.push_back(collection.EntriesByteSize(k));
    }
    // The ids of the project-link entries, in the collection's order.
    linkIds.clear();
    fileutil::EntryMap entries;
    collection.CopyEntries(entries);
    for (const auto& e : entries)
      if (IsEqualGUID(e.first, keys[5]) && e.second.size() >= 4) {
        DWORD id;
        std::memcpy(&id, e.second.data(), 4);
        linkIds.push_back(id);
      }
    return S_OK;
  }
  std::vector<DWORD> linkIds;
  std::vector<uint32_t> counts;
  std::vector<uint64_t> bytes;
};

// Entry streams cut inside an entry keep the whole entries before the cut and
// store nothing of the cut one; missing streams are no failure.
TEST(RenderMetadata, HostPrivateDataIsGatheredWholeEntriesOnly) {
  VogAacRenderFileClass* cls = new VogAacRenderFileClass();
  cls->AddRef();
  PrivateDataMeta meta;
  // User-defined entries: header {?, ?, count 3}; each entry a 56-byte header
  // with lengths at 44 and 52, then that many bytes. The third is cut.
  meta.userDef.assign(12, 0);
  PutWord(meta.userDef, 8, 3);
  for (DWORD lengths : {10u, 20u, 30u}) {
    std::vector<BYTE> e(56, 0);
    PutWord(e, 44, lengths);
    PutWord(e, 52, 2);
    e.resize(56 + lengths + 2, 0x5A);
    meta.userDef.insert(meta.userDef.end(), e.begin(), e.end());
  }
  meta.userDef.resize(meta.userDef.size() - 5);
  // Loop-music entries: count 4, two and a half entries of 32 bytes.
  meta.plim.assign(12, 0);
  PutWord(meta.plim, 8, 4);
  meta.plim.resize(12 + 32 * 2 + 16, 0x7E);

  GatheringRenderFile* file = new GatheringRenderFile(cls, cls->MakePresetTemplate(0));
  file->AddRef();
  ASSERT_EQ(S_OK, file->SetSourceMeta(static_cast<IKvReadMeta*>(&meta)));
  EXPECT_EQ(S_OK, file->WriteMetadata(44100, 0));
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 1, 1, 2, 0}), file->counts);
  EXPECT_EQ((std::vector<uint64_t>{12, (56 + 12) + (56 + 22), 24, 28, 64, 0}), file->bytes);
  // A project link: one entry per field, the field id before its bytes.
  meta.withLink = true;
  EXPECT_EQ(S_OK, file->WriteMetadata(44100, 0));
  EXPECT_EQ(3u, file->counts.back());
  EXPECT_EQ(uint64_t(4 + 18) + (4 + 14) + (4 + 16), file->bytes.back());
  EXPECT_EQ((std::vector<DWORD>{1, 2, 3}), file->linkIds);
  meta.withLink = false;

  // Without entry streams the records are still gathered.
  meta.userDef.clear();
  meta.plim.clear();
  EXPECT_EQ(S_OK, file->WriteMetadata(44100, 0));
  EXPECT_EQ((std::vector<uint32_t>{1, 0, 1, 1, 0, 0}), file->counts);
  // Without any metadata object every collector has nothing to do.
  ASSERT_EQ(S_OK, file->SetSourceMeta(nullptr));
  EXPECT_EQ(S_OK, file->WriteMetadata(44100, 0));
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0, 0, 0}), file->counts);
  EXPECT_EQ(0u, file->Release());
  EXPECT_EQ(0u, cls->Release());
}

// The host's markers in its legacy form (times in 100-ns units).
std::vector<BYTE> LegacyMarkers(const std::vector<std::pair<LONGLONG, LONGLONG>>& markers) {
  std::vector<BYTE> b(12, 0);
  PutWord(b, 0, 12);
  PutWord(b, 4, 100);
  PutWord(b, 8, DWORD(markers.size()));
  for (size_t i = 0; i < markers.size(); ++i) {
    const std::wstring name = L"marker " + std::to_wstring(i);
    std::vector<BYTE> r(28 + name.size() * 2, 0);
    PutWord(r, 0, 28);
    std::memcpy(&r[4], &markers[i].first, 8);
    const LONGLONG length = markers[i].second < 0 ? 0 : markers[i].second;
    std::memcpy(&r[12], &length, 8);
    PutWord(r, 20, markers[i].second < 0 ? 0 : 1);
    PutWord(r, 24, DWORD(name.size() * 2));
    std::memcpy(&r[28], name.data(), name.size() * 2);
    b.insert(b.end(), r.begin(), r.end());
  }
  return b;
}

class MarkerLinkMeta : public PrivateDataMeta {
 public:
  HRESULT STDMETHODCALLTYPE GetMarkers(IStream** out) override {
    *out = nullptr;
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, markers.size());
    std::memcpy(GlobalLock(g), markers.data(), markers.size());
    GlobalUnlock(g);
    return CreateStreamOnHGlobal(g, TRUE, out);
  }
  std::vector<BYTE> markers;
};

std::vector<BYTE> StreamBytes(IStream* s) {
  std::vector<BYTE> out;
  BYTE buf[4096];
  for (;;) {
    ULONG got = 0;
    if (s->Read(buf, sizeof buf, &got) != S_OK || got == 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

// Markers, regions, a project link and the host's private records go from the
// host through the render into the file and come back out of the read
// metadata object of that file as the host gave them.
TEST(RenderMetadata, MarkersAndProjectLinkSurviveTheFile) {
  Units units;
  ASSERT_TRUE(LoadUnits(WinePath(ReadFixtureDir() + "lc_2ch_44100.m4a"), units));
  std::vector<BYTE> pcm = LoadFile(ReadFixtureDir() + "lc_2ch_44100.f32");
  ASSERT_FALSE(pcm.empty());
  const WAVEFORMATEX sourceFormat = {WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 352800, 8, 32, 0};
  // The ID3v2 tag that carries the host's entries needs the tag factories
  // the module installs at attach.
  InitMetaFactories();
  VogAacRenderFileClass* cls = new VogAacRenderFileClass();
  cls->AddRef();
  // Times that are whole samples at 44100 Hz (n * 10^7 / 44100 exact for n
  // a multiple of 441): the host's values come back unchanged.
  struct Set {
    const char* name;
    std::vector<std::pair<LONGLONG, LONGLONG>> markers;  // position, length (-1: a point)
  } sets[] = {
      {"no_markers.mp4", {}},
      {"one_point.mp4", {{10000000, -1}}},
      {"points_and_regions.mp4", {{0, -1}, {5000000, 20000000}, {1000000, -1}, {2000000, 100000}}},
  };
  for (const Set& set : sets) {
    SCOPED_TRACE(set.name);
    std::wstring path = RenderDir() + std::wstring(set.name, set.name + std::strlen(set.name));
    StandInStream stream(pcm, sourceFormat);
    MarkerLinkMeta meta;
    meta.withLink = true;
    meta.markers = LegacyMarkers(set.markers);
    ReplayRenderFile* file = new ReplayRenderFile(cls, cls->MakePresetTemplate(0), units);
    file->AddRef();
    ASSERT_EQ(S_OK, file->SetPath(path.c_str()));
    ASSERT_EQ(S_OK, file->SetSourceStream(&stream, 0));
    ASSERT_EQ(S_OK, file->SetSourceMeta(static_cast<IKvReadMeta*>(&meta)));
    ASSERT_EQ(S_OK, file->Render(nullptr));
    EXPECT_EQ(0u, file->Release());

    VogAacReadMeta* read = new VogAacReadMeta();
    read->AddRef();
    ASSERT_EQ(S_OK, read->Load(path.c_str()));
    IStream* s = nullptr;
    ASSERT_EQ(S_OK, read->GetMarkers(&s));
    EXPECT_EQ(meta.markers, StreamBytes(s));
    s->Release();
    // Project link: the host's fields byte for byte; absent fields are absent.
    struct Field {
      UINT id;
      std::vector<BYTE> bytes;
    } fields[] = {
        {1, [] { const wchar_t t[] = L"C:\\p.vpr"; return std::vector<BYTE>((const BYTE*)t, (const BYTE*)t + sizeof t); }()},
        {2, [] { const wchar_t t[] = L"vog /r"; return std::vector<BYTE>((const BYTE*)t, (const BYTE*)t + sizeof t); }()},
        {3, std::vector<BYTE>((const BYTE*)&kRendererId, (const BYTE*)&kRendererId + 16)},
        {4, {}},
        {9, {}},
    };
    for (const Field& f : fields) {
      SCOPED_TRACE(f.id);
      s = nullptr;
      if (f.bytes.empty()) {
        EXPECT_EQ(HRESULT(0x8004E00A), read->GetField(&s, f.id));
        EXPECT_EQ(nullptr, s);
        continue;
      }
      ASSERT_EQ(S_OK, read->GetField(&s, f.id));
      EXPECT_EQ(f.bytes, StreamBytes(s));
      s->Release();
    }
    s = nullptr;
    ASSERT_EQ(S_OK, read->GetRendererGuid(&s));
    EXPECT_EQ(fields[2].bytes, StreamBytes(s));
    s->Release();
    // The private records.
    BYTE record[28];
    ASSERT_EQ(S_OK, read->GetUserDefInfo(record));
    EXPECT_EQ(std::vector<BYTE>(12, 0x11), std::vector<BYTE>(record, record + 12));
    ASSERT_EQ(S_OK, read->GetPlimInfo(record));
    EXPECT_EQ(std::vector<BYTE>(24, 0x22), std::vector<BYTE>(record, record + 24));
    ASSERT_EQ(S_OK, read->GetPlimInfoEx(record));
    EXPECT_EQ(std::vector<BYTE>(28, 0x33), std::vector<BYTE>(record, record + 28));
    EXPECT_EQ(0u, read->Release());
  }
  EXPECT_EQ(0u, cls->Release());
  TermMetaFactories();
}

}  // namespace
