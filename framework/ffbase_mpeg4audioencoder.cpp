// The MP4 audio file writer.
#include "ffbase_mpeg4audioencoder.h"

#include <cstring>
#include <cwctype>
#include <new>

#include "audiofilewriter.h"
#include "boxreader.h"
#include "descriptors.h"
#include "filestream.h"
#include "kvaudio.h"
#include "meta3gpp.h"
#include "metadataset.h"
#include "metaid3.h"
#include "metaitunes.h"
#include "rewrite.h"

namespace ffbase {

namespace {

const uint32_t kOutputBufferSize = 65536;

bool IsItunesExtension(const wchar_t* path) {
  const wchar_t* dot = nullptr;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'.') dot = p;
  if (!dot) return false;
  static const wchar_t* const kItunes[] = {L"m4a", L"m4v", L"m4b", L"m4p"};
  for (const wchar_t* ext : kItunes) {
    const wchar_t* a = dot + 1;
    const wchar_t* b = ext;
    while (*a && *b && std::towlower(*a) == *b) ++a, ++b;
    if (!*a && !*b) return true;
  }
  return false;
}

// Counts the source frames the compressor pulls: the length the file presents.
class CountingReader : public IAudioSampleReader {
 public:
  explicit CountingReader(IAudioSampleReader& inner) : inner_(inner) {}
  HRESULT GetLength(LONGLONG* frames) override { return inner_.GetLength(frames); }
  HRESULT Read(void* buffer, DWORD frames, DWORD* framesRead) override {
    HRESULT hr = inner_.Read(buffer, frames, framesRead);
    if (SUCCEEDED(hr) && framesRead) count += *framesRead;
    return hr;
  }
  HRESULT SetOutputFormat(const WAVEFORMATEX* target) override { return inner_.SetOutputFormat(target); }
  uint64_t count = 0;

 private:
  IAudioSampleReader& inner_;
};

// The compressor seen by the file writer: its descriptors, its access units
// pulled from the sample reader, and the part of them a player presents.
class CompressorTrack : public fileutil::IAudioTrackDescription, public fileutil::IAccessUnitSource {
 public:
  CompressorTrack(IAudioCompressor* compressor, CountingReader* reader)
      : compressor_(compressor), reader_(reader) {}
  HRESULT SetProfileLevels(fileutil::ISetInitialObjectDescriptor* iod) override {
    return compressor_ ? compressor_->SetProfileLevels(iod) : S_OK;
  }
  HRESULT FillDecoderConfig(fileutil::ISetElementaryStreamInfo* es) override {
    return compressor_ ? compressor_->FillDecoderConfig(es) : S_OK;
  }
  HRESULT NextAccessUnit(std::vector<uint8_t>* unit, uint32_t* duration) override {
    DWORD d = 0;
    const HRESULT hr = compressor_->Encode(unit, reader_, &d);
    *duration = d;
    return hr;
  }
  // Players start after the encoder's delay and stop at the source's end.
  bool GetPresentation(uint64_t* priming, uint64_t* length) override {
    if (!compressor_ || !reader_) return false;
    *priming = compressor_->GetPrimingFrames();
    *length = reader_->count;
    return *priming > 0;
  }

 private:
  IAudioCompressor* compressor_;
  CountingReader* reader_;
};

}  // namespace

HRESULT RewriteFile(const wchar_t* path, fileutil::BoxList& boxes) {
  return fileutil::RewriteBoxFile(path, boxes);
}

Mpeg4AudioEncoder::Mpeg4AudioEncoder(IAudioCompressor* compressor) : compressor_(compressor) {
  std::memset(&outputFormat_, 0, sizeof outputFormat_);
}

Mpeg4AudioEncoder::~Mpeg4AudioEncoder() {
  delete compressor_;
  fileutil::DeleteBoxes(boxes_);
}

HRESULT Mpeg4AudioEncoder::Init(const _kvwaveformat* source, WAVEFORMATEX* output, DWORD, const void*) {
  if (!source || !output) return E_INVALIDARG;
  if (!compressor_) return E_FAIL;
  _kvwaveformat_wfxcopyhelper wfx(*source);
  HRESULT hr = compressor_->Open(&decoderInfo_, &wfx.wfx, output);
  std::memcpy(&outputFormat_, output, sizeof outputFormat_);
  return hr;
}

HRESULT Mpeg4AudioEncoder::Open(const wchar_t* path) {
  if (!path) return E_INVALIDARG;
  path_ = path;
  fileutil::DeleteBoxes(boxes_);
  HRESULT hr = BuildTree();
  if (FAILED(hr)) fileutil::DeleteBoxes(boxes_);
  return hr;
}

HRESULT Mpeg4AudioEncoder::BuildTree() {
  CompressorTrack track(compressor_, nullptr);
  return fileutil::BuildAudioFileTree(boxes_, outputFormat_.nChannels, outputFormat_.nSamplesPerSec, &track);
}

HRESULT Mpeg4AudioEncoder::Encode(IAudioSampleReader* reader) {
  if (!reader || !compressor_) return E_INVALIDARG;
  LONGLONG frames = 0;
  HRESULT hr = reader->GetLength(&frames);
  if (FAILED(hr)) return hr;
  // Any success of the length query goes on: the length itself is not needed.
  CountingReader counted(*reader);
  CompressorTrack track(compressor_, &counted);
  // Files of the iTunes family also carry the presentation as the comment
  // those players read.
  const fileutil::GaplessComment comment =
      IsItunesExtension(path_.c_str()) ? fileutil::GaplessComment::kWrite : fileutil::GaplessComment::kNone;
  return fileutil::WriteAudioFile(path_.c_str(), boxes_, track, comment);
}

HRESULT Mpeg4AudioEncoder::Close() { return compressor_ ? compressor_->Close() : S_OK; }

HRESULT Mpeg4AudioEncoder::WriteMetadata(fileutil::MetaDataSet& collection, const wchar_t* path) {
  if (!path) return E_INVALIDARG;
  collection.ImportPictures();
  if (collection.IsEmpty()) return S_OK;
  if (!fileutil::FileExists(path)) return E_FAIL;
  fileutil::BoxList* tree = nullptr;
  {
    fileutil::ifstream in;
    in.open(path, kOutputBufferSize, fileutil::kGenericRead, fileutil::kFileShareRead, nullptr,
            fileutil::kOpenExisting, fileutil::kFlagsSequentialScan, nullptr);
    if (!in.is_open()) return E_FAIL;
    fileutil::BoxReader reader(in);
    tree = reader.ReadBoxesForMetaWrite();
  }
  if (!tree) return E_OUTOFMEMORY;
  bool applied;
  if (IsItunesExtension(path)) {
    applied = fileutil::PutiTunesMetaData(collection, *tree).Apply();
  } else {
    // The 3GPP assets hold the texts; the ID3v2 tag also carries the
    // pictures and the host's private entries, which have no asset form.
    applied = fileutil::Put3gppMetaData(collection, *tree).Apply() &&
              fileutil::PutId3v2MetaData(collection, *tree).Apply();
  }
  HRESULT hr = applied ? RewriteFile(path, *tree) : E_FAIL;
  fileutil::DeleteBoxList(tree);
  return hr;
}

}  // namespace ffbase
