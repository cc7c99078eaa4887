// 3GPP asset boxes: writer, remover and reader.
#include "meta3gpp.h"

#include <new>
#include <string>
#include <vector>

#include "factories.h"
#include "metautil.h"
#include "summaryids.h"
#include "textencoding.h"

namespace fileutil {

uint16_t PackLanguageCode(const char letters[3]) {
  return uint16_t((((letters[0] - 0x60) & 31) << 10) | (((letters[1] - 0x60) & 31) << 5) | ((letters[2] - 0x60) & 31));
}

void UnpackLanguageCode(uint16_t code, char letters[3]) {
  letters[0] = char(((code >> 10) & 31) + 0x60);
  letters[1] = char(((code >> 5) & 31) + 0x60);
  letters[2] = char((code & 31) + 0x60);
}

MoovBox* FindMoov(BoxList& boxes) {
  MoovBox* moov = nullptr;
  for (IBox* box : boxes)
    if (MoovBox* m = dynamic_cast<MoovBox*>(box)) moov = m;
  return moov;
}

UdtaBox* FindMovieUdta(MoovBox& moov) {
  UdtaBox* udta = nullptr;
  for (IBox* box : moov.Children())
    if (UdtaBox* u = dynamic_cast<UdtaBox*>(box)) udta = u;
  return udta;
}

static bool IsAssetType(FourCC type) {
  static const uint32_t kTypes[] = {FCC("titl"), FCC("dscp"), FCC("cprt"), FCC("perf"),
                                    FCC("gnre"), FCC("albm"), FCC("yrrc")};
  for (uint32_t t : kTypes)
    if (type == FourCC(t)) return true;
  return false;
}

void Del3gppMetaData::Apply() {
  MoovBox* moov = FindMoov(boxes_);
  if (!moov) return;
  for (IBox* child : moov->Children()) {
    UdtaBox* udta = dynamic_cast<UdtaBox*>(child);
    if (!udta) continue;
    BoxList& list = udta->Children();
    for (auto it = list.begin(); it != list.end();) {
      if (IsAssetType((*it)->GetType())) {
        delete *it;
        it = list.erase(it);
      } else {
        ++it;
      }
    }
  }
}

namespace {

// Fills a new asset box with one summary text.
class AssetFiller : public BoxVisitor {
 public:
  AssetFiller(const std::wstring& text, uint32_t track) : text_(text), track_(track) {}
  using BoxVisitor::Visit;
  uint32_t Visit(TitlAssetBox& box) override { return Fill(box); }
  uint32_t Visit(DscpAssetBox& box) override { return Fill(box); }
  uint32_t Visit(CprtAssetBox& box) override { return Fill(box); }
  uint32_t Visit(PerfAssetBox& box) override { return Fill(box); }
  uint32_t Visit(GnreAssetBox& box) override { return Fill(box); }
  uint32_t Visit(AlbmAssetBox& box) override {
    Fill(box);
    // One byte carries the track number: a number it cannot hold is left out
    // rather than written wrong.
    if (track_ != 0 && track_ <= 255) box.text_.push_back(uint8_t(track_));
    return 0;
  }
  uint32_t Visit(RecordingYearBox& box) override {
    uint16_t year = uint16_t(ParseLeadingNumber(text_, 0xFFFF));
    box.versionAndFlags = 0;
    box.payload.assign(2, 0);
    PutBE16(box.payload.data(), year);
    return 0;
  }

 private:
  template <class T>
  uint32_t Fill(T& box) {
    std::string utf8 = WStringToMultiByte(text_, kCodePageUtf8);
    box.versionAndFlags = 0;
    box.language = PackLanguageCode(kAssetLanguage);
    box.text_.assign(utf8.begin(), utf8.end());
    box.text_.push_back(0);
    return 0;
  }

  const std::wstring& text_;
  uint32_t track_;
};

}  // namespace

bool Put3gppMetaData::Apply() {
  MoovBox* moov = FindMoov(boxes_);
  const AssetBoxTable* table = GetAssetBoxTable();
  if (!moov || !table) return false;
  try {
    UdtaBox* udta = FindMovieUdta(*moov);
    if (udta) {
      Del3gppMetaData(boxes_).Apply();
    } else {
      udta = new (std::nothrow) UdtaBox();
      if (!udta) return false;
      moov->AddChild(udta);
    }
    uint32_t track = ParseLeadingNumber(set_.GetSummaryText(kSummaryTrack), 0xFFFFFFFFu);
    for (const auto& text : set_.Texts()) {
      IBox* box = table->CreateBox(text.first);
      if (!box) continue;
      udta->AddChild(box);
      AssetFiller filler(text.second, track);
      box->Accept(filler);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Reading

void Get3gppMetaData::Apply() {
  audioEntrySeen_ = false;
  for (IBox* box : boxes_) box->Accept(*this);
}

void Get3gppMetaData::StoreText(uint32_t id, const ByteVector& payload) {
  std::wstring text;
  Utf8BytesToString(text, payload);
  if (!text.empty()) set_.SetSummaryText(id, text);
}

uint32_t Get3gppMetaData::Visit(TitlAssetBox& box) {
  StoreText(kSummaryTitle, box.text_);
  return 0;
}
uint32_t Get3gppMetaData::Visit(DscpAssetBox& box) {
  StoreText(kSummarySubject, box.text_);
  return 0;
}
uint32_t Get3gppMetaData::Visit(CprtAssetBox& box) {
  StoreText(kSummaryCopyright, box.text_);
  return 0;
}
uint32_t Get3gppMetaData::Visit(PerfAssetBox& box) {
  StoreText(kSummaryArtist, box.text_);
  return 0;
}
uint32_t Get3gppMetaData::Visit(GnreAssetBox& box) {
  StoreText(kSummaryGenre, box.text_);
  return 0;
}

uint32_t Get3gppMetaData::Visit(AlbmAssetBox& box) {
  const ByteVector& p = box.text_;
  size_t n = p.size();
  // A track byte follows the title's terminator; a title without one has no
  // track byte, and its last letter stays part of the title.
  bool wide = n >= 2 && ((p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0xFF && p[1] == 0xFE));
  bool hasTrack = wide ? (n >= 5 && n % 2 == 1 && p[n - 1] != 0 && p[n - 2] == 0 && p[n - 3] == 0)
                       : (n >= 2 && p[n - 1] != 0 && p[n - 2] == 0);
  if (hasTrack) set_.SetSummaryText(kSummaryTrack, std::to_wstring(unsigned(p[n - 1])));
  ByteVector title(p.begin(), hasTrack ? p.end() - 1 : p.end());
  StoreText(kSummaryAlbum, title);
  return 0;
}

uint32_t Get3gppMetaData::Visit(RecordingYearBox& box) {
  const ByteVector& p = box.payload;
  uint32_t year = 0;
  if (p.size() == 2) {
    year = GetBE16(p.data());
  } else if (p.size() == 4) {
    std::wstring digits(p.begin(), p.end());
    year = ParseLeadingNumber(digits, 0xFFFF);
  }
  // A year that could not be read would otherwise hide a real date found later.
  if (year != 0) set_.SetSummaryText(kSummaryDate, std::to_wstring(year));
  return 0;
}

uint32_t Get3gppMetaData::Visit(Mpeg4AudioSampleEntry& box) {
  audioEntrySeen_ = true;
  return BoxVisitor::Visit(box);
}

uint32_t Get3gppMetaData::Visit(MediaHeaderBox& box) {
  if (!audioEntrySeen_) return 0;
  audioEntrySeen_ = false;
  // A time scale of 0 gives no length.
  if (box.timescale != 0)
    set_.SetSummaryText(kSummaryLength, std::to_wstring(box.duration * 1000 / box.timescale));
  return 0;
}

// The media header of another track never gives this track's length.
uint32_t Get3gppMetaData::Visit(TrakBox& box) {
  BoxVisitor::Visit(box);
  audioEntrySeen_ = false;
  return 0;
}

}  // namespace fileutil
