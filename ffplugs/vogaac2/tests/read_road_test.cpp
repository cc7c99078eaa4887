// The read road through the DLL: every fixture of the table (mono, stereo and
// 5.1 at four rates, made by ffmpeg) reads whole to within 1 LSB of ffmpeg's
// float decode converted as the plug-in converts; the length is ffprobe's
// duration in media units; reads at any position give the samples of the full
// read; two threads can read one stream.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "read_support.h"

namespace {

struct Fixture {
  std::string name;
  int channels;
  DWORD rate;
  LONGLONG durationTs;  // ffprobe -ignore_editlist 1 stream=duration_ts
};

std::vector<Fixture> FixtureTable() {
  std::vector<Fixture> table;
  for (DWORD rate : {22050u, 32000u, 44100u, 48000u})
    for (int ch : {1, 2, 6}) {
      Fixture f;
      f.name = "lc_" + std::to_string(ch) + "ch_" + std::to_string(rate);
      std::ifstream txt(ReadFixtureDir() + f.name + ".txt");
      int c = 0;
      DWORD r = 0;
      txt >> c >> r >> f.durationTs;
      f.channels = ch;
      f.rate = rate;
      table.push_back(f);
    }
  return table;
}

class ReadRoad : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(reader_.cls(), nullptr) << "no reader class from vogaac2.dll"; }
  Reader reader_;
};

TEST_F(ReadRoad, FixtureTableAgainstFfmpeg) {
  for (const Fixture& f : FixtureTable()) {
    SCOPED_TRACE(f.name);
    ASSERT_GT(f.durationTs, 0) << "fixture list missing";
    IKvReadFile* file = nullptr;
    ASSERT_EQ(reader_.OpenFile(WinePath(ReadFixtureDir() + f.name + ".m4a"), &file), S_OK);
    IKvReadAudioStream* audio = Reader::Audio(file);
    ASSERT_NE(audio, nullptr);

    BYTE record[184] = {};
    ASSERT_EQ(audio->GetStreamFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(record)), S_OK);
    WORD channels = 0;
    DWORD rate = 0;
    RecordFormat(record, &channels, &rate);
    EXPECT_EQ(channels, f.channels);
    EXPECT_EQ(rate, f.rate);
    LONGLONG length = 0;
    std::memcpy(&length, record + 8, 8);
    LONGLONG frames = 0, duration = 0;
    DWORD blockAlign = 0;
    ASSERT_EQ(audio->GetSampleCount(&frames), S_OK);
    ASSERT_EQ(audio->GetDuration(&duration), S_OK);
    ASSERT_EQ(audio->GetBlockAlign(&blockAlign), S_OK);
    EXPECT_EQ(frames, f.durationTs);
    EXPECT_EQ(length, frames);
    EXPECT_EQ(duration, frames * 10000000 / f.rate);
    EXPECT_EQ(blockAlign, 2u * f.channels);

    HRESULT last = S_OK;
    LONG total = 0;
    std::vector<short> got =
        Reader::ReadRange(audio, 0, static_cast<LONG>(frames) + 5000, 4096, static_cast<WORD>(f.channels), &last, &total);
    EXPECT_EQ(last, S_FALSE);
    EXPECT_EQ(total, frames);
    std::vector<short> ref = ReferenceSamples(ReadFixtureDir() + f.name + ".f32");
    ASSERT_GE(ref.size(), got.size()) << "ffmpeg decodes every unit; the track length cuts the last one";
    size_t bad = 0, worst = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      size_t d = static_cast<size_t>(std::abs(got[i] - ref[i]));
      if (d > 1) ++bad;
      if (d > worst) worst = d;
    }
    EXPECT_EQ(bad, 0u) << "largest difference " << worst;
    audio->Release();
    file->Release();
  }
}

TEST_F(ReadRoad, OneSecondFileHasTheStttsLength) {
  IKvReadFile* file = nullptr;
  ASSERT_EQ(reader_.OpenFile(WinePath(ReadFixtureDir() + "sine_1s.m4a"), &file), S_OK);
  IKvReadAudioStream* audio = Reader::Audio(file);
  ASSERT_NE(audio, nullptr);
  LONGLONG frames = 0, duration = 0;
  ASSERT_EQ(audio->GetSampleCount(&frames), S_OK);
  ASSERT_EQ(audio->GetDuration(&duration), S_OK);
  EXPECT_EQ(frames, 45124);
  EXPECT_EQ(duration, 45124LL * 10000000 / 44100);
  LONGLONG fileDuration = 0;
  EXPECT_EQ(file->GetDuration(&fileDuration), S_OK);
  EXPECT_EQ(fileDuration, duration);
  audio->Release();
  file->Release();
}

class ReadPositions : public ReadRoad {
 protected:
  void SetUp() override {
    ReadRoad::SetUp();
    path_ = WinePath(ReadFixtureDir() + "lc_2ch_44100.m4a");
    IKvReadFile* file = nullptr;
    ASSERT_EQ(reader_.OpenFile(path_, &file), S_OK);
    IKvReadAudioStream* audio = Reader::Audio(file);
    ASSERT_NE(audio, nullptr);
    ASSERT_EQ(audio->GetSampleCount(&frames_), S_OK);
    full_ = Reader::ReadRange(audio, 0, static_cast<LONG>(frames_), 1024, 2);
    ASSERT_EQ(full_.size(), static_cast<size_t>(frames_) * 2);
    audio->Release();
    file->Release();
  }
  // A fresh stream (nothing decoded beyond what opening does).
  IKvReadAudioStream* Fresh(IKvReadFile** file) {
    if (FAILED(reader_.OpenFile(path_, file))) return nullptr;
    return Reader::Audio(*file);
  }
  void ExpectSame(LONGLONG first, const std::vector<short>& got) {
    if (got.empty()) return;
    ASSERT_LE(static_cast<LONGLONG>(got.size() / 2) + first, frames_);
    for (size_t i = 0; i < got.size(); ++i)
      ASSERT_EQ(got[i], full_[static_cast<size_t>(first) * 2 + i]) << "frame " << first + static_cast<LONGLONG>(i / 2);
  }

  std::wstring path_;
  LONGLONG frames_ = 0;
  std::vector<short> full_;
};

TEST_F(ReadPositions, TableOfReads) {
  struct Step {
    LONGLONG first;
    LONG count;
    LONG expectDone;
    HRESULT expect;
    bool fresh;  // on a newly opened file
  };
  const LONGLONG n = 67174;
  const Step steps[] = {
      {0, 1024, 1024, S_OK, true},     {1024, 1024, 1024, S_OK, false},  // sequential 1024 + 1024
      {0, 100, 100, S_OK, true},       {100, 100, 100, S_OK, false},     // 100 at 0, then 100 at 100
      {1500, 548, 548, S_OK, true},    {1500, 3000, 3000, S_OK, true},   // right after opening
      {n - 1, 10, 1, S_FALSE, false},  {n - 1000, 5000, 1000, S_FALSE, false},
      {n, 10, 0, S_FALSE, false},      {n + 5000, 10, 0, S_FALSE, false},
      {20000, 1, 1, S_OK, false},      {19999, 2, 2, S_OK, false},
      {40000, 10, 10, S_OK, false},    {380, 100, 100, S_OK, false},     // back to the first unit
  };
  IKvReadFile* file = nullptr;
  IKvReadAudioStream* audio = nullptr;
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.count << " at " << s.first << (s.fresh ? " (fresh)" : ""));
    if (s.fresh || !audio) {
      if (audio) audio->Release();
      if (file) file->Release();
      audio = Fresh(&file);
      ASSERT_NE(audio, nullptr);
    }
    HRESULT last = S_OK;
    LONG done = 0;
    std::vector<short> got = Reader::ReadRange(audio, s.first, s.count, s.count, 2, &last, &done);
    EXPECT_EQ(last, s.expect);
    EXPECT_EQ(done, s.expectDone);
    ExpectSame(s.first, got);
  }
  audio->Release();
  file->Release();
  ASSERT_EQ(frames_, n);
}

TEST_F(ReadPositions, RandomSeeks) {
  IKvReadFile* file = nullptr;
  IKvReadAudioStream* audio = Fresh(&file);
  ASSERT_NE(audio, nullptr);
  std::mt19937 random(42);
  for (int i = 0; i < 50; ++i) {
    LONGLONG first = random() % frames_;
    LONG count = 1 + static_cast<LONG>(random() % 5000);
    HRESULT last = S_OK;
    LONG done = 0;
    std::vector<short> got = Reader::ReadRange(audio, first, count, count, 2, &last, &done);
    ASSERT_TRUE(SUCCEEDED(last)) << first;
    LONGLONG expect = std::min<LONGLONG>(count, frames_ - first);
    ASSERT_EQ(done, expect) << first;
    ExpectSame(first, got);
  }
  audio->Release();
  file->Release();
}

TEST_F(ReadPositions, TwoThreadsReadOneStream) {
  IKvReadFile* file = nullptr;
  IKvReadAudioStream* audio = Fresh(&file);
  ASSERT_NE(audio, nullptr);
  // The host asks for the format before reading from several threads.
  LONGLONG frames = 0;
  ASSERT_EQ(audio->GetSampleCount(&frames), S_OK);
  std::vector<int> errors(2, 0);
  auto worker = [&](int id) {
    std::mt19937 random(100 + id);
    std::vector<short> buffer(2 * 3000);
    for (int i = 0; i < 150; ++i) {
      LONGLONG first = random() % frames;
      LONG count = 1 + static_cast<LONG>(random() % 3000);
      LONG done = 0;
      HRESULT hr = audio->ReadSamples(first, LocalToken(buffer.data(), static_cast<DWORD>(buffer.size() * 2)), count, &done);
      if (FAILED(hr) || done != std::min<LONGLONG>(count, frames - first)) {
        if (!errors[id]) std::printf("thread %d: %ld at %lld: 0x%08lx, %ld done\n", id, count, first, hr, done);
        ++errors[id];
        continue;
      }
      if (std::memcmp(buffer.data(), full_.data() + first * 2, static_cast<size_t>(done) * 4) != 0) {
        if (!errors[id]) {
          size_t k = 0;
          while (buffer[k] == full_[first * 2 + k]) ++k;
          std::printf("thread %d: %ld at %lld: sample %u differs: %d vs %d\n", id, count, first, unsigned(k), buffer[k], full_[first * 2 + k]);
        }
        ++errors[id];
      }
    }
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(errors[0], 0);
  EXPECT_EQ(errors[1], 0);
  audio->Release();
  file->Release();
}

TEST_F(ReadPositions, StreamArgumentsAndTokens) {
  IKvReadFile* file = nullptr;
  IKvReadAudioStream* audio = Fresh(&file);
  ASSERT_NE(audio, nullptr);
  // The block align is there before any other format query.
  DWORD blockAlign = 0;
  EXPECT_EQ(audio->GetBlockAlign(&blockAlign), S_OK);
  EXPECT_EQ(blockAlign, 4u);

  std::vector<short> buffer(2 * 2048, 0x5555);
  LONG done = 77;
  EXPECT_EQ(audio->ReadSamples(0, LocalToken(buffer.data(), 8192), 0, &done), S_OK);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(audio->ReadSamples(-1, LocalToken(buffer.data(), 8192), 10, &done), E_INVALIDARG);
  EXPECT_EQ(audio->ReadSamples(0, LocalToken(buffer.data(), 8192), -10, &done), E_INVALIDARG);
  EXPECT_EQ(audio->ReadSamples(0, LocalToken(buffer.data(), 8192), 10, nullptr), E_POINTER);

  // A token smaller than the request: never written past its size.
  done = 0;
  EXPECT_EQ(audio->ReadSamples(3000, LocalToken(buffer.data(), 400), 2048, &done), S_OK);
  EXPECT_EQ(done, 100);
  EXPECT_EQ(buffer[200], 0x5555);
  EXPECT_EQ(0, std::memcmp(buffer.data(), full_.data() + 6000, 400));

  // A token of a process that does not exist: nothing read, a failure.
  _kvmemorytoken dead = LocalToken(buffer.data(), 8192);
  dead.ownerProcessId = 0x7FFFFFFC;
  done = 77;
  EXPECT_TRUE(FAILED(audio->ReadSamples(0, dead, 10, &done)));
  EXPECT_EQ(done, 0);

  // The second face and its texts and values.
  ffbase::IStreamInfo* info = nullptr;
  ASSERT_EQ(audio->QueryInterface(ffbase::IID_IStreamInfo, reinterpret_cast<void**>(&info)), S_OK);
  LONGLONG kbps = -1;
  EXPECT_EQ(info->GetInfoValue(&kbps, 4, 2), S_OK);
  EXPECT_EQ(kbps, -1);
  EXPECT_EQ(info->GetInfoValue(&kbps, 8, 3), S_FALSE);
  EXPECT_EQ(info->GetInfoValue(&kbps, 8, 2), S_OK);
  EXPECT_GT(kbps, 100);
  EXPECT_LT(kbps, 140);
  wchar_t text[64] = {};
  EXPECT_EQ(info->GetInfoText(text, 64, 2), S_OK);
  std::wstring expect = std::to_wstring(kbps) + L" Kbps, 44,100 Hz, Stereo";
  EXPECT_EQ(std::wstring(text), expect);
  EXPECT_EQ(info->GetInfoText(text, 64, 9), S_FALSE);
  info->Release();

  BYTE zero[184] = {};
  EXPECT_EQ(audio->IsFormatSupported(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(zero)), S_OK);
  BYTE own[184] = {};
  ASSERT_EQ(audio->GetStreamFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(own)), S_OK);
  EXPECT_EQ(audio->IsFormatSupported(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(own)), S_OK);
  BYTE source[184] = {};
  ASSERT_EQ(audio->GetSourceFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(source)), S_OK);
  EXPECT_EQ(audio->IsFormatSupported(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(source)), S_FALSE);

  DWORD type = 9, sub = 9, reserved = 9;
  EXPECT_EQ(audio->GetStreamType(&type, &sub, &reserved), S_OK);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(sub, 0u);
  IKvReadFileClass* cls = nullptr;
  EXPECT_EQ(audio->GetReadFileClass(&cls), S_OK);
  EXPECT_EQ(cls, reader_.cls());
  if (cls) cls->Release();
  audio->Release();
  file->Release();
}

}  // namespace

namespace {

// A sample entry whose sample-size field says 24 bits still reads as 16-bit
// PCM, sample for sample the same as the file that says 16.
TEST_F(ReadPositions, SampleSizeFieldDoesNotChangeThePcm) {
  IKvReadFile* file = nullptr;
  ASSERT_EQ(reader_.OpenFile(WinePath(ReadFixtureDir() + "lc_2ch_44100_size24.m4a"), &file), S_OK);
  IKvReadAudioStream* audio = Reader::Audio(file);
  ASSERT_NE(audio, nullptr);
  DWORD align = 0;
  ASSERT_EQ(audio->GetBlockAlign(&align), S_OK);
  EXPECT_EQ(align, 4u);
  BYTE source[184] = {};
  ASSERT_EQ(audio->GetSourceFormatInfo(reinterpret_cast<_KVFILESTREAMFORMATINFOv2*>(source)), S_OK);
  std::vector<short> got = Reader::ReadRange(audio, 0, static_cast<LONG>(frames_), 4096, 2);
  EXPECT_EQ(got, full_);
  audio->Release();
  file->Release();
}

}  // namespace
