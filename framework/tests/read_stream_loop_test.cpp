// The generic audio read stream's read loop over a scripted decoder: a call
// that delivers nothing ends the request with S_FALSE; a failure gives
// *done = 0; the request is clamped to the host buffer; formats are loaded
// before the first read or block-align query.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ffbase_readaudiostream.h"
#include "ffbase_readfile.h"

// The plug-in module's texts (the framework's generic classes show them).
const wchar_t* GetPluginText(int id) { return id == 2 ? L"$d Kbps, $ld Hz, %s" : L""; }

namespace {

struct Script {
  LONGLONG stallAt = -1;  // Read at this position delivers nothing (S_OK)
  LONGLONG failAt = -1;   // Read at this position fails
  int opens = 0;
  int reads = 0;
};

// 1000 frames of mono 16-bit; frame p holds the value p; at most 100 frames a call.
class ScriptedDecoder : public ffbase::IAudioDecoder {
 public:
  explicit ScriptedDecoder(Script* s) : s_(s), pcm_() {
    pcm_.wFormatTag = WAVE_FORMAT_PCM;
    pcm_.nChannels = 1;
    pcm_.nSamplesPerSec = 8000;
    pcm_.nBlockAlign = 2;
    pcm_.wBitsPerSample = 16;
    pcm_.nAvgBytesPerSec = 16000;
  }
  HRESULT Reserved0() override { return E_NOTIMPL; }
  WORD GetBlockAlign() override { return 2; }
  bool IsOpen() override { return open_; }
  HRESULT GetOutputFormat(WAVEFORMATEX** f) override {
    *f = &pcm_;
    return S_OK;
  }
  HRESULT GetSourceFormat(WAVEFORMATEX** f) override {
    *f = &pcm_;
    return S_OK;
  }
  HRESULT GetSampleCount(LONGLONG* n) override {
    *n = 1000;
    return S_OK;
  }
  HRESULT GetByteRate(LONGLONG* b) override {
    *b = 16000;
    return S_OK;
  }
  HRESULT GetDuration(LONGLONG* d) override {
    *d = 1000LL * 10000000 / 8000;
    return S_OK;
  }
  HRESULT SetPath(const wchar_t*) override { return S_OK; }
  HRESULT Open() override {
    ++s_->opens;
    open_ = true;
    return S_OK;
  }
  HRESULT Close() override {
    open_ = false;
    return S_OK;
  }
  HRESULT Read(LONGLONG first, void* dest, DWORD count, DWORD* done) override {
    ++s_->reads;
    *done = 0;
    if (first == s_->failAt) return E_FAIL;
    if (first == s_->stallAt) return S_OK;
    if (first >= 1000) return S_FALSE;
    DWORD n = count < 100 ? count : 100;
    if (first + n > 1000) n = static_cast<DWORD>(1000 - first);
    short* out = static_cast<short*>(dest);
    for (DWORD i = 0; i < n; ++i) out[i] = static_cast<short>(first + i);
    *done = n;
    return S_OK;
  }

 private:
  Script* s_;
  WAVEFORMATEX pcm_;
  bool open_ = false;
};

class ScriptedStream : public ffbase::BaseReadAudioStream {
 public:
  ScriptedStream(IKvReadFile* owner, Script* s) : ffbase::BaseReadAudioStream(owner), s_(s) {}
  const char* CodecId() override { return "TEST"; }
  HRESULT CreateDecoder(ffbase::IAudioDecoder** out) override {
    *out = new ScriptedDecoder(s_);
    return S_OK;
  }

 private:
  Script* s_;
};

class ScriptedFile : public ffbase::BaseReadFile {
 public:
  explicit ScriptedFile(Script* s) : ffbase::BaseReadFile(nullptr), s_(s) {}
  HRESULT STDMETHODCALLTYPE GetStreamCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetReadMeta(IKvReadMeta**) override { return E_NOTIMPL; }
  HRESULT CreateStream(IKvReadStream** out, UINT) override {
    ScriptedStream* stream = new ScriptedStream(this, s_);
    stream->AddRef();
    *out = stream;
    return S_OK;
  }

 private:
  Script* s_;
};

_kvmemorytoken Local(void* p, DWORD size) {
  _kvmemorytoken t = {};
  t.base = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(p));
  t.size = t.size2 = size;
  t.ownerProcessId = GetCurrentProcessId();
  return t;
}

class ReadLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = new ScriptedFile(&script_);
    file_->AddRef();
    ASSERT_EQ(file_->SetPath(L"C:\\scripted.m4a"), S_OK);
    IKvReadStream* stream = nullptr;
    ASSERT_EQ(file_->GetStreamByType(&stream, 1, 0, 0, 0), S_OK);
    ASSERT_EQ(stream->QueryInterface(IID_IKvReadAudioStream, reinterpret_cast<void**>(&audio_)), S_OK);
    stream->Release();
  }
  void TearDown() override {
    if (audio_) audio_->Release();
    if (file_) file_->Release();
  }
  Script script_;
  ScriptedFile* file_ = nullptr;
  IKvReadAudioStream* audio_ = nullptr;
};

TEST_F(ReadLoop, BlockAlignLoadsTheFormatFirst) {
  DWORD align = 0;
  EXPECT_EQ(audio_->GetBlockAlign(&align), S_OK);
  EXPECT_EQ(align, 2u);
  EXPECT_EQ(script_.opens, 1);
}

TEST_F(ReadLoop, RequestsAcrossCallsAndTheEnd) {
  std::vector<short> buf(2000, -1);
  LONG done = 0;
  EXPECT_EQ(audio_->ReadSamples(150, Local(buf.data(), 4000), 450, &done), S_OK);
  EXPECT_EQ(done, 450);
  for (int i = 0; i < 450; ++i) ASSERT_EQ(buf[i], 150 + i);
  EXPECT_EQ(buf[450], -1);
  EXPECT_EQ(audio_->ReadSamples(900, Local(buf.data(), 4000), 500, &done), S_FALSE);
  EXPECT_EQ(done, 100);
  EXPECT_EQ(audio_->ReadSamples(1000, Local(buf.data(), 4000), 5, &done), S_FALSE);
  EXPECT_EQ(done, 0);
}

TEST_F(ReadLoop, ACallThatDeliversNothingEndsTheRequest) {
  script_.stallAt = 300;
  std::vector<short> buf(1000);
  LONG done = 0;
  EXPECT_EQ(audio_->ReadSamples(100, Local(buf.data(), 2000), 900, &done), S_FALSE);
  EXPECT_EQ(done, 200);
  EXPECT_LT(script_.reads, 10);
}

TEST_F(ReadLoop, FailureGivesNothingDone) {
  script_.failAt = 400;
  std::vector<short> buf(1000);
  LONG done = 77;
  EXPECT_EQ(audio_->ReadSamples(100, Local(buf.data(), 2000), 900, &done), E_FAIL);
  EXPECT_EQ(done, 0);
}

TEST_F(ReadLoop, RequestClampedToTheBuffer) {
  std::vector<short> buf(600, -1);
  LONG done = 0;
  // 501 bytes hold 250 frames.
  EXPECT_EQ(audio_->ReadSamples(0, Local(buf.data(), 501), 600, &done), S_OK);
  EXPECT_EQ(done, 250);
  EXPECT_EQ(buf[249], 249);
  EXPECT_EQ(buf[250], -1);
}

TEST_F(ReadLoop, TextsAndValues) {
  ffbase::IStreamInfo* info = nullptr;
  ASSERT_EQ(audio_->QueryInterface(ffbase::IID_IStreamInfo, reinterpret_cast<void**>(&info)), S_OK);
  wchar_t text[64] = {};
  EXPECT_EQ(info->GetInfoText(text, 64, 2), S_OK);
  EXPECT_EQ(std::wstring(text), L"128 Kbps, 8,000 Hz, ");
  // A short buffer gets a terminated prefix.
  wchar_t shortText[5];
  std::wmemset(shortText, L'#', 5);
  EXPECT_EQ(info->GetInfoText(shortText, 4, 2), S_OK);
  EXPECT_EQ(std::wstring(shortText), L"128");
  EXPECT_EQ(shortText[4], L'#');
  info->Release();
  LONGLONG total = 0;
  EXPECT_EQ(file_->GetInfoValue(&total, 8, 1), S_OK);
  EXPECT_EQ(total, 128 / 8);
}

}  // namespace

namespace {

// The host may keep a stream after releasing its file: the stream no longer
// refers to the file, and what it had loaded still serves.
TEST_F(ReadLoop, StreamOutlivesItsFile) {
  LONGLONG frames = 0;
  ASSERT_EQ(audio_->GetSampleCount(&frames), S_OK);
  file_->Release();
  file_ = nullptr;
  IKvReadFileClass* cls = reinterpret_cast<IKvReadFileClass*>(static_cast<UINT_PTR>(0x5A5A5A5A));
  EXPECT_EQ(audio_->GetReadFileClass(&cls), E_UNEXPECTED);
  std::vector<short> buf(100);
  LONG done = 0;
  EXPECT_EQ(audio_->ReadSamples(10, Local(buf.data(), 200), 100, &done), S_OK);
  EXPECT_EQ(done, 100);
  EXPECT_EQ(buf[0], 10);
}

}  // namespace
