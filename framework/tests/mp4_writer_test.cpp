// The MP4 audio file writer, driven by a compressor that replays the access
// units and decoder configuration of AAC files that ffmpeg made: the written
// file must hold the same units, durations and configuration (checked here
// through our reader) and decode in ffmpeg to the same PCM as the original
// (checked by render_writer_oracles.sh over the files this test leaves).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "boxes.h"
#include "boxreader.h"
#include "descriptors.h"
#include "ffbase_mpeg4audioencoder.h"
#include "filestream.h"
#include "kvaudio.h"
#include "meta3gpp.h"
#include "metadataset.h"
#include "metaid3.h"
#include "summaryids.h"
#include "trackreader.h"
#include "vog_paths.h"

namespace {

using fileutil::BoxList;
using fileutil::FCC;

using vogtest::WinePath;

std::string FixtureDir(const char* sub) { return std::string(VOG_FIXTURE_DIR) + "/" + sub; }

std::wstring WrittenPath(const std::string& name) {
  CreateDirectoryW(WinePath(FixtureDir("render")).c_str(), nullptr);
  return WinePath(FixtureDir("render") + "/" + name);
}

bool LoadBytes(const std::wstring& path, std::vector<uint8_t>& out) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(f, nullptr);
  out.resize(size);
  DWORD got = 0;
  bool ok = size == 0 || (ReadFile(f, out.data(), size, &got, nullptr) && got == size);
  CloseHandle(f);
  return ok;
}

// The time-to-sample table as one duration per sample.
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

struct Track {
  bool ok = false;
  std::vector<std::vector<uint8_t>> units;
  std::vector<uint32_t> durations;
  std::vector<uint8_t> asc;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t timescale = 0;
  std::vector<uint32_t> topLevel;  // box types in file order
  uint64_t mdatOffset = 0;
};

Track LoadTrack(const std::wstring& path) {
  Track t;
  fileutil::ifstream in;
  in.open(path.c_str(), 65536, fileutil::kGenericRead, fileutil::kFileShareRead, nullptr, fileutil::kOpenExisting,
          fileutil::kFlagsNormal, nullptr);
  if (!in.is_open()) return t;
  BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(in);
    boxes = reader.ReadAllBoxes();
  }
  if (!boxes) return t;
  for (fileutil::IBox* b : *boxes) {
    t.topLevel.push_back(b->GetType().GetValue());
    if (b->GetType().GetValue() == FCC("mdat")) t.mdatOffset = b->GetOffset();
  }
  SttsCollector stts;
  fileutil::VisitBoxes(*boxes, stts);
  t.durations = stts.durations;
  in.clear();
  fileutil::TrackReader track(*boxes, in);
  if (track.Init()) {
    t.asc = track.GetDecoderSpecificInfo();
    t.channels = track.GetChannelCount();
    t.rate = track.GetSampleRate();
    t.timescale = track.GetTimescale();
    t.ok = true;
    for (uint32_t n = 1; n <= track.GetSampleCount(); ++n) {
      std::vector<uint8_t> unit;
      if (!track.SeekSample(n) || !track.ReadSample(unit)) {
        t.ok = false;
        break;
      }
      t.units.push_back(unit);
    }
  }
  fileutil::DeleteBoxList(boxes);
  return t;
}

// Serves a prepared list of access units with their durations and the
// decoder configuration they belong to.
class ReplayCompressor : public ffbase::IAudioCompressor {
 public:
  explicit ReplayCompressor(const Track& t) : track_(t) {}
  HRESULT Open(void*, const WAVEFORMATEX*, WAVEFORMATEX* output) override {
    KvAudio_InitWfx(output, track_.rate, KVST_FLOAT, track_.channels);
    return S_OK;
  }
  HRESULT Encode(std::vector<uint8_t>* accessUnit, ffbase::IAudioSampleReader*, DWORD* duration) override {
    *duration = 0;
    accessUnit->clear();
    if (next_ >= track_.units.size()) return S_FALSE;
    *accessUnit = track_.units[next_];
    *duration = track_.durations[next_];
    ++next_;
    return S_OK;
  }
  HRESULT SetProfileLevels(fileutil::ISetInitialObjectDescriptor* iod) override {
    if (!iod) return E_INVALIDARG;
    iod->Set(0xFF, 0xFF, 0x29, 0xFF, 0xFF);
    return S_OK;
  }
  HRESULT FillDecoderConfig(fileutil::ISetElementaryStreamInfo* es) override {
    if (!es) return E_INVALIDARG;
    return es->Set(0x40, 5, 768 * track_.channels, 288000, 128000, 0, track_.asc) ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Close() override { return S_OK; }

 private:
  Track track_;
  size_t next_ = 0;
};

class LengthOnlyReader : public ffbase::IAudioSampleReader {
 public:
  HRESULT GetLength(LONGLONG* frames) override {
    *frames = 0;
    return lengthResult;
  }
  HRESULT Read(void*, DWORD, DWORD* framesRead) override {
    *framesRead = 0;
    return S_FALSE;
  }
  HRESULT SetOutputFormat(const WAVEFORMATEX*) override { return S_OK; }
  HRESULT lengthResult = S_OK;
};

HRESULT WriteTrack(const Track& source, const std::wstring& path, HRESULT lengthResult = S_OK) {
  ffbase::Mpeg4AudioEncoder encoder(new ReplayCompressor(source));
  _kvwaveformat format;
  format.InitAsWfx(WAVE_FORMAT_IEEE_FLOAT, source.rate, 32, source.channels, 0, 0);
  WAVEFORMATEX output = {};
  HRESULT hr = encoder.Init(&format, &output, 0, nullptr);
  if (FAILED(hr)) return hr;
  EXPECT_EQ(source.channels, output.nChannels);
  EXPECT_EQ(source.rate, output.nSamplesPerSec);
  hr = encoder.Open(path.c_str());
  if (FAILED(hr)) return hr;
  LengthOnlyReader reader;
  reader.lengthResult = lengthResult;
  hr = encoder.Encode(&reader);
  encoder.Close();
  return hr;
}

const char* const kSources[] = {"lc_1ch_44100", "lc_2ch_44100", "lc_1ch_48000", "lc_2ch_48000",
                                "lc_2ch_22050", "lc_1ch_32000", "lc_6ch_48000"};

TEST(Mpeg4AudioEncoder, RewritesFfmpegUnitsIntoAFileOfTheSameTrack) {
  for (const char* name : kSources) {
    SCOPED_TRACE(name);
    Track source = LoadTrack(WinePath(FixtureDir("readroad") + "/" + name + ".m4a"));
    ASSERT_TRUE(source.ok);
    ASSERT_EQ(source.units.size(), source.durations.size());
    std::wstring path = WrittenPath(std::string("written_") + name + ".mp4");
    ASSERT_EQ(S_OK, WriteTrack(source, path));
    Track written = LoadTrack(path);
    ASSERT_TRUE(written.ok);
    EXPECT_EQ(source.asc, written.asc);
    EXPECT_EQ(source.channels, written.channels);
    EXPECT_EQ(source.rate, written.rate);
    EXPECT_EQ(source.rate, written.timescale);
    EXPECT_EQ(source.durations, written.durations);
    ASSERT_EQ(source.units.size(), written.units.size());
    EXPECT_TRUE(source.units == written.units);
    // The header boxes went into the reserved space: media data stays behind it.
    EXPECT_EQ((std::vector<uint32_t>{FCC("ftyp"), FCC("moov"), FCC("free"), FCC("mdat")}), written.topLevel);
    EXPECT_EQ(ffbase::kMpeg4ReservedHeaderSpace - 8, written.mdatOffset);
  }
}

// A source that answers its length with S_FALSE still renders (the length is
// not used), and a source without any unit gives a well-formed empty file.
TEST(Mpeg4AudioEncoder, EmptyAndLengthlessSources) {
  Track source = LoadTrack(WinePath(FixtureDir("readroad") + "/lc_2ch_44100.m4a"));
  ASSERT_TRUE(source.ok);
  std::wstring path = WrittenPath("lengthless.mp4");
  ASSERT_EQ(S_OK, WriteTrack(source, path, S_FALSE));
  EXPECT_EQ(source.units.size(), LoadTrack(path).units.size());

  Track empty = source;
  empty.units.clear();
  empty.durations.clear();
  path = WrittenPath("empty.mp4");
  ASSERT_EQ(S_OK, WriteTrack(empty, path));
  Track written = LoadTrack(path);
  EXPECT_EQ((std::vector<uint32_t>{FCC("ftyp"), FCC("moov"), FCC("free"), FCC("mdat")}), written.topLevel);
  EXPECT_TRUE(written.units.empty());
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(LoadBytes(path, bytes));
  EXPECT_EQ(ffbase::kMpeg4ReservedHeaderSpace, bytes.size());
}

// A header larger than the reserved space: the file is rewritten through a
// backup copy, which is gone afterwards; a user's own ".bak" file is kept.
TEST(Mpeg4AudioEncoder, LargeHeaderGoesThroughACopy) {
  Track many;
  many.channels = 2;
  many.rate = 44100;
  many.asc = {0x12, 0x10};
  for (uint32_t i = 0; i < 15000; ++i) {
    many.units.push_back({uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)});
    many.durations.push_back(1024);
  }
  std::wstring path = WrittenPath("many_units.mp4");
  std::wstring userBackup = path + L".bak";
  {
    HANDLE f = CreateFileW(userBackup.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    DWORD put = 0;
    WriteFile(f, "mine", 4, &put, nullptr);
    CloseHandle(f);
  }
  ASSERT_EQ(S_OK, WriteTrack(many, path));
  Track written = LoadTrack(path);
  ASSERT_TRUE(written.ok);
  EXPECT_TRUE(many.units == written.units);
  EXPECT_EQ(many.durations, written.durations);
  EXPECT_EQ(FCC("moov"), written.topLevel.at(1));
  std::vector<uint8_t> mine;
  ASSERT_TRUE(LoadBytes(userBackup, mine));
  EXPECT_EQ(std::string("mine"), std::string(mine.begin(), mine.end()));
  for (const wchar_t* suffix : {L".bak1", L".bak2"})
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((path + suffix).c_str())) << "backup left behind";
  DeleteFileW(userBackup.c_str());
}

// A file that cannot be created or written reports failure, never S_OK.
TEST(Mpeg4AudioEncoder, WriteFailuresAreReported) {
  Track source = LoadTrack(WinePath(FixtureDir("readroad") + "/lc_1ch_44100.m4a"));
  ASSERT_TRUE(source.ok);
  EXPECT_EQ(E_FAIL, WriteTrack(source, WrittenPath("no-such-folder\\x.mp4")));
  // A device that takes no bytes (writes fail with "no space").
  EXPECT_TRUE(FAILED(WriteTrack(source, L"Z:\\dev\\full")));
  // Without a compressor there is nothing to encode with.
  ffbase::Mpeg4AudioEncoder none(nullptr);
  _kvwaveformat format;
  format.InitAsWfx(WAVE_FORMAT_IEEE_FLOAT, 44100, 32, 2, 0, 0);
  WAVEFORMATEX output = {};
  EXPECT_EQ(E_FAIL, none.Init(&format, &output, 0, nullptr));
}

// Metadata goes in by extension: iTunes items for .m4a, 3GPP assets and an
// ID3v2 tag for others; an empty collection leaves the file byte for byte as
// it was.
TEST(Mpeg4AudioEncoder, MetadataByExtension) {
  Track source = LoadTrack(WinePath(FixtureDir("readroad") + "/lc_2ch_44100.m4a"));
  ASSERT_TRUE(source.ok);
  for (const char* name : {"tagged.m4a", "tagged.MP4"}) {
    SCOPED_TRACE(name);
    std::wstring path = WrittenPath(name);
    ASSERT_EQ(S_OK, WriteTrack(source, path));
    std::vector<uint8_t> before, after;
    ASSERT_TRUE(LoadBytes(path, before));
    ffbase::Mpeg4AudioEncoder writer(nullptr);
    fileutil::MetaDataSet empty;
    EXPECT_EQ(S_OK, writer.WriteMetadata(empty, path.c_str()));
    ASSERT_TRUE(LoadBytes(path, after));
    EXPECT_TRUE(before == after);

    fileutil::MetaDataSet set;
    set.SetSummaryText(fileutil::kSummaryTitle, L"Render title");
    EXPECT_EQ(S_OK, writer.WriteMetadata(set, path.c_str()));
    Track tagged = LoadTrack(path);
    EXPECT_TRUE(source.units == tagged.units) << "the media survives the metadata rewrite";
  }
  // The 3GPP title of the .MP4 file, read back by our reader.
  BoxList* boxes = nullptr;
  {
    fileutil::BoxReader reader(WrittenPath("tagged.MP4").c_str());
    boxes = reader.ReadAllBoxes();
  }
  ASSERT_TRUE(boxes);
  fileutil::MetaDataSet read;
  fileutil::Get3gppMetaData(read, *boxes).Apply();
  EXPECT_EQ(L"Render title", read.GetSummaryText(fileutil::kSummaryTitle));
  fileutil::MetaDataSet id3;
  fileutil::GetId3v2MetaData(id3, *boxes).Apply();
  EXPECT_EQ(L"Render title", id3.GetSummaryText(fileutil::kSummaryTitle));
  fileutil::DeleteBoxList(boxes);

  ffbase::Mpeg4AudioEncoder writer(nullptr);
  fileutil::MetaDataSet set;
  set.SetSummaryText(fileutil::kSummaryTitle, L"x");
  EXPECT_EQ(E_FAIL, writer.WriteMetadata(set, WrittenPath("absent.m4a").c_str()));
}

}  // namespace
