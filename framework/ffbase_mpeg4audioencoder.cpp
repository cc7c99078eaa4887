// The MP4 audio file writer.
#include "ffbase_mpeg4audioencoder.h"

#include <cstring>
#include <cwctype>
#include <new>

#include "boxreader.h"
#include "descriptors.h"
#include "filestream.h"
#include "kvaudio.h"
#include "meta3gpp.h"
#include "metadataset.h"
#include "metaid3.h"
#include "metaitunes.h"
#include "rewrite.h"
#include "trackwriter.h"

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

// Adds `box` to `parent`; a null box (memory short) clears `ok`.
template <class Parent, class Child>
Child* Add(Parent* parent, Child* box, bool& ok) {
  if (!box) {
    ok = false;
    return nullptr;
  }
  parent->AddChild(box);
  return box;
}

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

// ftyp; moov [mvhd, iods, trak [tkhd, mdia [mdhd, hdlr, minf [smhd, dinf [dref [url]],
// stbl [stts, stsd [mp4a [esds]], stsz, stsc, stco]]]]]; free; mdat.
HRESULT Mpeg4AudioEncoder::BuildTree() {
  using namespace fileutil;
  bool ok = true;
  FileTypeBox* ftyp = new (std::nothrow) FileTypeBox();
  if (!ftyp) return E_FAIL;
  boxes_.push_back(ftyp);
  ftyp->majorBrand = FourCC(FCC("mp42"));
  ftyp->minorVersion = FourCC(0u);
  for (uint32_t brand : {FCC("isom"), FCC("3gp4"), FCC("3gp5"), FCC("3gp6"), FCC("3gp7")}) ftyp->AddBrand(brand);

  MoovBox* moov = new (std::nothrow) MoovBox();
  if (!moov) return E_FAIL;
  boxes_.push_back(moov);
  MovieHeaderBox* mvhd = Add(moov, new (std::nothrow) MovieHeaderBox(), ok);
  if (mvhd) mvhd->nextTrackId = 2;

  InitialObjectDescriptorBox* iods = Add(moov, new (std::nothrow) InitialObjectDescriptorBox(), ok);
  if (iods) {
    esds::InitialObjectDescriptor* iod = new (std::nothrow) esds::InitialObjectDescriptor();
    esds::ESIDIncDescriptor* inc = new (std::nothrow) esds::ESIDIncDescriptor();
    if (!iod || !inc) {
      delete iod;
      delete inc;
      return E_FAIL;
    }
    inc->trackId = 1;
    iod->children.push_back(inc);
    iods->SetDescriptor(iod);
    if (compressor_ && FAILED(compressor_->SetProfileLevels(iod))) return E_FAIL;
  }

  TrakBox* trak = Add(moov, new (std::nothrow) TrakBox(), ok);
  if (!ok) return E_FAIL;
  Add(trak, new (std::nothrow) TrackHeaderBox(), ok);
  MdiaBox* mdia = Add(trak, new (std::nothrow) MdiaBox(), ok);
  if (!ok) return E_FAIL;
  Add(mdia, new (std::nothrow) MediaHeaderBox(), ok);
  MediaHandlerReferenceBox* hdlr = Add(mdia, new (std::nothrow) MediaHandlerReferenceBox(), ok);
  if (hdlr) hdlr->InitSoundHandler();
  MinfBox* minf = Add(mdia, new (std::nothrow) MinfBox(), ok);
  if (!ok) return E_FAIL;
  Add(minf, new (std::nothrow) SoundMediaInfoHeaderBox(), ok);
  DinfBox* dinf = Add(minf, new (std::nothrow) DinfBox(), ok);
  if (!ok) return E_FAIL;
  DataReferenceBox* dref = Add(dinf, new (std::nothrow) DataReferenceBox(), ok);
  if (!ok) return E_FAIL;
  Add(dref, new (std::nothrow) UrlBox(), ok);
  dref->entryCount = 1;
  StblBox* stbl = Add(minf, new (std::nothrow) StblBox(), ok);
  if (!ok) return E_FAIL;
  Add(stbl, new (std::nothrow) TimeToSampleBox(), ok);
  SampleDescriptionBox* stsd = Add(stbl, new (std::nothrow) SampleDescriptionBox(), ok);
  Add(stbl, new (std::nothrow) SampleSizeBox(), ok);
  Add(stbl, new (std::nothrow) SampleToChunkBox(), ok);
  Add(stbl, new (std::nothrow) ChunkOffsetBox(), ok);
  if (!ok) return E_FAIL;
  Mpeg4AudioSampleEntry* mp4a = Add(stsd, new (std::nothrow) Mpeg4AudioSampleEntry(), ok);
  if (!ok) return E_FAIL;
  stsd->entryCount = 1;
  mp4a->dataReferenceIndex = 1;
  mp4a->channelCount = outputFormat_.nChannels;
  mp4a->sampleSize = 16;
  mp4a->sampleRate = outputFormat_.nSamplesPerSec << 16;
  ElementaryStreamDescriptorBox* esdsBox = Add(mp4a, new (std::nothrow) ElementaryStreamDescriptorBox(), ok);
  if (!ok) return E_FAIL;
  esds::ElementaryStreamDescriptor* es = new (std::nothrow) esds::ElementaryStreamDescriptor();
  if (!es) return E_FAIL;
  esdsBox->SetDescriptor(es);
  if (compressor_ && FAILED(compressor_->FillDecoderConfig(es))) return E_FAIL;

  FreeBox* freeBox = new (std::nothrow) FreeBox();
  if (!freeBox) return E_FAIL;
  freeBox->SetSize(8);
  boxes_.push_back(freeBox);
  MediaDataBox* mdat = new (std::nothrow) MediaDataBox();
  if (!mdat) return E_FAIL;
  boxes_.push_back(mdat);
  return S_OK;
}

HRESULT Mpeg4AudioEncoder::Encode(IAudioSampleReader* reader) {
  if (!reader || !compressor_) return E_INVALIDARG;
  LONGLONG frames = 0;
  HRESULT hr = reader->GetLength(&frames);
  if (FAILED(hr)) return hr;
  fileutil::ofstream out;
  out.open(path_.c_str(), kOutputBufferSize, fileutil::kGenericWrite,
           fileutil::kFileShareRead | fileutil::kFileShareWrite, nullptr, fileutil::kCreateAlways,
           fileutil::kFlagsSequentialScan, nullptr);
  fileutil::TrackWriter writer(boxes_, out, kMpeg4ReservedHeaderSpace);
  if (!out.is_open() || !writer.Init()) {
    out.close();
    return E_FAIL;
  }
  // Any success of the length query goes on: the length itself is not needed.
  std::vector<uint8_t> accessUnit;
  CountingReader counted(*reader);
  hr = S_OK;
  while (hr == S_OK) {
    DWORD duration = 0;
    hr = compressor_->Encode(&accessUnit, &counted, &duration);
    if (FAILED(hr)) {
      out.close();
      return hr;
    }
    if (!accessUnit.empty() && !writer.WriteSample(accessUnit, duration)) {
      out.close();
      return E_FAIL;
    }
  }
  // Players start after the encoder's delay and stop at the source's end.
  const DWORD priming = compressor_->GetPrimingFrames();
  if (priming > 0) writer.SetPresentation(priming, counted.count);
  writer.Finish();
  // Every byte must have reached the file, or the render failed.
  const bool streamOk = bool(out) && out.GetBuffer() && !out.GetBuffer()->HadError();
  const bool closed = out.close();
  if (!streamOk || !closed) return E_FAIL;
  return RewriteFile(path_.c_str(), boxes_);
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
