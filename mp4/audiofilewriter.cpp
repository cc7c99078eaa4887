// The one-track MP4 audio file.
#include "audiofilewriter.h"

#include <new>

#include "filestream.h"
#include "gaplesscomment.h"
#include "rewrite.h"
#include "trackwriter.h"

namespace fileutil {

namespace {

const uint32_t kOutputBufferSize = 65536;

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

// ftyp; moov [mvhd, iods, trak [tkhd, mdia [mdhd, hdlr, minf [smhd, dinf [dref [url]],
// stbl [stts, stsd [mp4a [esds]], stsz, stsc, stco]]]]]; free; mdat.
HRESULT BuildAudioFileTree(BoxList& boxes, uint16_t channels, uint32_t sampleRate,
                           IAudioTrackDescription* description) {
  bool ok = true;
  FileTypeBox* ftyp = new (std::nothrow) FileTypeBox();
  if (!ftyp) return E_FAIL;
  boxes.push_back(ftyp);
  ftyp->majorBrand = FourCC(FCC("mp42"));
  ftyp->minorVersion = FourCC(0u);
  for (uint32_t brand : {FCC("isom"), FCC("3gp4"), FCC("3gp5"), FCC("3gp6"), FCC("3gp7")}) ftyp->AddBrand(brand);

  MoovBox* moov = new (std::nothrow) MoovBox();
  if (!moov) return E_FAIL;
  boxes.push_back(moov);
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
    if (description && FAILED(description->SetProfileLevels(iod))) return E_FAIL;
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
  mp4a->channelCount = channels;
  mp4a->sampleSize = 16;
  mp4a->sampleRate = sampleRate << 16;
  ElementaryStreamDescriptorBox* esdsBox = Add(mp4a, new (std::nothrow) ElementaryStreamDescriptorBox(), ok);
  if (!ok) return E_FAIL;
  esds::ElementaryStreamDescriptor* es = new (std::nothrow) esds::ElementaryStreamDescriptor();
  if (!es) return E_FAIL;
  esdsBox->SetDescriptor(es);
  if (description && FAILED(description->FillDecoderConfig(es))) return E_FAIL;

  FreeBox* freeBox = new (std::nothrow) FreeBox();
  if (!freeBox) return E_FAIL;
  freeBox->SetSize(8);
  boxes.push_back(freeBox);
  MediaDataBox* mdat = new (std::nothrow) MediaDataBox();
  if (!mdat) return E_FAIL;
  boxes.push_back(mdat);
  return S_OK;
}

HRESULT WriteAudioFile(const wchar_t* path, BoxList& boxes, IAccessUnitSource& source, GaplessComment comment) {
  if (!path) return E_INVALIDARG;
  ofstream out;
  out.open(path, kOutputBufferSize, kGenericWrite, kFileShareRead | kFileShareWrite, nullptr, kCreateAlways,
           kFlagsSequentialScan, nullptr);
  TrackWriter writer(boxes, out, kAudioFileReservedHeaderSpace);
  if (!out.is_open() || !writer.Init()) {
    out.close();
    return out.HadDiskFull() ? KV_E_DISKFULL : E_FAIL;
  }
  std::vector<uint8_t> accessUnit;
  HRESULT hr = S_OK;
  while (hr == S_OK) {
    uint32_t duration = 0;
    hr = source.NextAccessUnit(&accessUnit, &duration);
    if (FAILED(hr)) {
      out.close();
      return hr;
    }
    if (!accessUnit.empty() && !writer.WriteSample(accessUnit, duration)) {
      out.close();
      return out.HadDiskFull() ? KV_E_DISKFULL : E_FAIL;
    }
  }
  uint64_t priming = 0, length = 0;
  bool commentOk = true;
  if (source.GetPresentation(&priming, &length)) {
    writer.SetPresentation(priming, length);
    const uint64_t total = writer.GetTotalDuration();
    if (comment == GaplessComment::kWrite && priming < total) {
      if (length > total - priming) length = total - priming;
      commentOk = PutGaplessComment(boxes, priming, total - priming - length, length);
    }
  }
  writer.Finish();
  // Every byte must have reached the file, or the write failed; a full
  // volume is told apart.
  const bool streamOk = bool(out) && out.GetBuffer() && !out.GetBuffer()->HadError();
  const bool closed = out.close();
  if (out.HadDiskFull()) return KV_E_DISKFULL;
  if (!streamOk || !closed || !commentOk) return E_FAIL;
  return RewriteBoxFile(path, boxes);
}

}  // namespace fileutil
