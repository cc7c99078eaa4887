// The iTunes-style item list: writer and reader.
#include "metaitunes.h"

#include <new>
#include <string>

#include "factories.h"
#include "gaplesscomment.h"
#include "id3meta.h"
#include "meta3gpp.h"
#include "metautil.h"
#include "summaryids.h"
#include "textencoding.h"

namespace fileutil {

bool PutiTunesMetaData::Apply() {
  written_ = false;
  failed_ = false;
  try {
    for (IBox* box : boxes_) box->Accept(*this);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
  return written_ && !failed_;
}

uint32_t PutiTunesMetaData::Visit(MoovBox& moov) {
  if (!WriteInto(moov)) failed_ = true;
  written_ = true;
  return 0;
}

bool PutiTunesMetaData::WriteInto(MoovBox& moov) {
  const ITunesItemTable* table = GetITunesItemTable();
  if (!table) return false;
  // The movie's own user data: a track's user data never receives the list.
  UdtaBox* udta = FindMovieUdta(moov);
  if (!udta) {
    udta = new (std::nothrow) UdtaBox();
    if (!udta) return false;
    moov.AddChild(udta);
  } else {
    // Every earlier item list goes, with everything its meta box held, but
    // for the gapless comment: it describes the audio, not the tags.
    BoxList& children = udta->Children();
    for (auto it = children.begin(); it != children.end();) {
      if (MetaBox* old = dynamic_cast<MetaBox*>(*it)) {
        KeepGaplessComment(*old);
        delete *it;
        it = children.erase(it);
      } else {
        ++it;
      }
    }
  }

  MetaBox* meta = NewMetaBox(FourCC(FCC("mdir")));
  if (!meta) return false;
  udta->AddChild(meta);
  IlstBox* ilst = new (std::nothrow) IlstBox();
  if (!ilst) return false;
  meta->AddChild(ilst);

  // Ascending 32-bit id value: the map's order.
  for (const auto& text : set_.Texts()) {
    IBox* item = table->CreateBox(text.first);
    if (!item) continue;
    ilst->AddChild(item);
    text_ = text.second;
    filling_ = true;
    item->Accept(*this);
    filling_ = false;
  }
  text_.clear();
  WriteCover(*ilst);
  if (kept_) {
    ilst->AddChild(kept_);
    kept_ = nullptr;
  }
  return true;
}

// Takes the last gapless comment out of an item list that is about to go.
void PutiTunesMetaData::KeepGaplessComment(MetaBox& meta) {
  for (IBox* child : meta.Children()) {
    IlstBox* ilst = dynamic_cast<IlstBox*>(child);
    if (!ilst) continue;
    BoxList& items = ilst->Children();
    for (auto it = items.begin(); it != items.end();) {
      if (IsGaplessComment(*it)) {
        delete kept_;
        kept_ = *it;
        it = items.erase(it);
      } else {
        ++it;
      }
    }
  }
}

uint32_t PutiTunesMetaData::Visit(TrknItemBox& box) {
  if (!filling_) return 0;
  trackData_ = nullptr;
  VisitChildren(box.Children());
  if (trackData_) {
    // u16 0, u16 track number (big-endian), u32 0.
    trackData_->payload.assign(8, 0);
    PutBE16(trackData_->payload.data() + 2, uint16_t(ParseLeadingNumber(text_, 0xFFFF)));
  }
  trackData_ = nullptr;
  return 0;
}

uint32_t PutiTunesMetaData::Visit(DataBox0& box) {
  if (!filling_) return 0;
  trackData_ = &box;
  return 0;
}

uint32_t PutiTunesMetaData::Visit(DataBox1& box) {
  if (!filling_) return 0;
  std::string bytes = WStringToMultiByte(text_, kCodePageUtf8);
  box.payload.assign(bytes.begin(), bytes.end());
  return 0;
}

uint32_t PutiTunesMetaData::Visit(DataBox3& box) {
  if (!filling_) return 0;
  std::string bytes = WStringToMultiByte(text_, kCodePageMacintosh);
  box.payload.assign(bytes.begin(), bytes.end());
  return 0;
}

// The picture MIME types that have a cover form; compared exactly.
static bool HasCoverForm(const std::wstring& mime) {
  return mime == L"image/jpeg" || mime == L"image/jpg" || mime == L"image/png" || mime == L"image/bmp";
}

void PutiTunesMetaData::WriteCover(IlstBox& ilst) {
  const PictureMap& pictures = set_.Pictures();
  if (pictures.empty()) return;
  // The front cover (type 0 here, as the reader stores covers), else type 3,
  // else the lowest type.
  auto it = pictures.find(0);
  if (it == pictures.end()) it = pictures.find(3);
  if (it == pictures.end()) it = pictures.begin();
  const PictureRecord& picture = it->second;
  const MimeDataBoxTable* table = GetMimeDataBoxTable();
  if (!table || !HasCoverForm(picture.mimeType)) return;
  IDataBox* data = table->CreateBox(picture.mimeType);
  if (!data) return;
  CovrBox* covr = new (std::nothrow) CovrBox();
  if (!covr) {
    delete data->GetBox();
    return;
  }
  ilst.AddChild(covr);
  covr->AddChild(data->GetBox());
  data->Data() = picture.data;
}

// ---------------------------------------------------------------------------
// Reader

void GetiTunesMetaData::Apply() {
  currentId_ = 0;
  typeZero_ = nullptr;
  audioEntrySeen_ = false;
  for (IBox* box : boxes_) box->Accept(*this);
}

uint32_t GetiTunesMetaData::Visit(DataBox0& box) {
  typeZero_ = &box;
  return 0;
}

// A text that ends up empty is not stored: it would keep a later reader's text out.
uint32_t GetiTunesMetaData::Visit(DataBox1& box) {
  if (box.payload.empty() || currentId_ == 0 || currentId_ == FCC("covr")) return 0;
  std::wstring text;
  Utf8ToWide(box.payload.data(), box.payload.size(), text);
  TrimTrailingNuls(text);
  if (!text.empty()) set_.SetSummaryText(currentId_, text);
  return 0;
}

uint32_t GetiTunesMetaData::Visit(DataBox3& box) {
  if (box.payload.empty() || currentId_ == 0 || currentId_ == FCC("covr")) return 0;
  std::wstring text = MultiByteToWString(reinterpret_cast<const char*>(box.payload.data()), box.payload.size(),
                                         kCodePageMacintosh);
  if (!text.empty()) set_.SetSummaryText(currentId_, text);
  return 0;
}

// The track number is bytes 2-3 of the payload {u16 0, u16 track, u16 total, u16 0}.
uint32_t GetiTunesMetaData::Visit(TrknItemBox& box) {
  typeZero_ = nullptr;
  currentId_ = 0;
  VisitChildren(box.Children());
  if (typeZero_ && typeZero_->payload.size() >= 4)
    set_.SetSummaryText(FCC("TRCK"), std::to_wstring(GetBE16(typeZero_->payload.data() + 2)));
  typeZero_ = nullptr;
  return 0;
}

// The genre number (ID3v1 index + 1) is a big-endian u16; a one-byte payload is the number itself.
uint32_t GetiTunesMetaData::Visit(GnreItemBox& box) {
  typeZero_ = nullptr;
  currentId_ = 0;
  VisitChildren(box.Children());
  if (typeZero_ && !typeZero_->payload.empty()) {
    const ByteVector& p = typeZero_->payload;
    uint32_t number = p.size() >= 2 ? GetBE16(p.data()) : p[0];
    std::wstring name = id3meta::Id3v1GenreName(number);
    if (!name.empty()) set_.SetSummaryText(FCC("IGNR"), name);
  }
  typeZero_ = nullptr;
  return 0;
}

uint32_t GetiTunesMetaData::Cover(const ByteVector& payload, const wchar_t* mimeType) {
  if (currentId_ != FCC("covr")) return 0;
  PictureRecord picture;
  picture.type = 0;
  picture.mimeType = mimeType;
  picture.data = payload;
  set_.AddPicture(picture);
  return 0;
}

uint32_t GetiTunesMetaData::Visit(FreeformItemBox& box) {
  mean_.clear();
  name_.clear();
  currentId_ = 0;
  VisitChildren(box.Children());
  mean_.clear();
  name_.clear();
  currentId_ = 0;
  return 0;
}

uint32_t GetiTunesMetaData::Visit(MeanBox& box) {
  mean_.assign(box.text_.begin(), box.text_.end());
  FreeformKey();
  return 0;
}

uint32_t GetiTunesMetaData::Visit(NameBox& box) {
  name_.assign(box.text_.begin(), box.text_.end());
  FreeformKey();
  return 0;
}

// The free-form rows of the item table: the namespace and a key that is also the summary id.
void GetiTunesMetaData::FreeformKey() {
  if (mean_.empty() || name_.empty()) return;
  currentId_ = 0;
  if (mean_ != kFreeformNamespace) return;
  for (const char* key : {kFreeformKeyA, kFreeformKeyB})
    if (name_ == key) currentId_ = FourCC(key).GetValue();
}

uint32_t GetiTunesMetaData::Visit(Mpeg4AudioSampleEntry& box) {
  audioEntrySeen_ = true;
  return BoxVisitor::Visit(box);
}

uint32_t GetiTunesMetaData::Visit(MediaHeaderBox& box) {
  if (!audioEntrySeen_) return 0;
  audioEntrySeen_ = false;
  // A time scale of 0 gives no length.
  if (box.timescale != 0) set_.SetSummaryText(FCC("TLEN"), std::to_wstring(box.duration * 1000 / box.timescale));
  return 0;
}

// The media header of another track never gives this track's length.
uint32_t GetiTunesMetaData::Visit(TrakBox& box) {
  BoxVisitor::Visit(box);
  audioEntrySeen_ = false;
  return 0;
}

bool UsesITunesTags(const std::wstring& path) {
  std::wstring ext = GetFileExtension(path);
  if (ext.size() != 3) return false;
  for (wchar_t& c : ext)
    if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
  return ext == L"m4a" || ext == L"m4v" || ext == L"m4b" || ext == L"m4p";
}

}  // namespace fileutil
