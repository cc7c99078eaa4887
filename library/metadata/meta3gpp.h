// 3GPP asset-information boxes in moov/udta: title, description, copyright,
// performer, genre, album (with an optional track byte) and recording year.
// Put3gppMetaData writes a set's texts as asset boxes, Del3gppMetaData removes
// the old ones, Get3gppMetaData reads them into a set.
//
// Only the udta that is a direct child of moov carries the file's assets: the
// user data of a track is neither written nor cleared here.
#pragma once

#include <cstdint>

#include "boxes.h"
#include "metadataset.h"

namespace fileutil {

// "eng" and the like as three 5-bit letters (each letter - 0x60).
uint16_t PackLanguageCode(const char letters[3]);
void UnpackLanguageCode(uint16_t code, char letters[3]);

// The language every asset box is written with.
const char kAssetLanguage[4] = "eng";

// The moov among the top-level boxes (the last one when there are several).
MoovBox* FindMoov(BoxList& boxes);
// The last udta that is a direct child of the moov; null when none.
UdtaBox* FindMovieUdta(MoovBox& moov);

class Del3gppMetaData {
 public:
  explicit Del3gppMetaData(BoxList& boxes) : boxes_(boxes) {}
  // Removes and deletes every asset box ('titl', 'dscp', 'cprt', 'perf',
  // 'gnre', 'albm', 'yrrc') of moov's user data; other boxes stay.
  void Apply();

 private:
  BoxList& boxes_;
};

class Put3gppMetaData {
 public:
  Put3gppMetaData(const MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  // Replaces the asset boxes of moov/udta (made when absent) with one box per
  // text of the set that has an asset form, in ascending id order. False when
  // the tree has no moov or memory ran short (the tree then stays valid).
  bool Apply();

 private:
  const MetaDataSet& set_;
  BoxList& boxes_;
};

class Get3gppMetaData : public BoxVisitor {
 public:
  Get3gppMetaData(MetaDataSet& set, BoxList& boxes) : set_(set), boxes_(boxes) {}
  // Visits every top-level box in order and stores what the asset boxes hold
  // (a text already in the set stays).
  void Apply();

  using BoxVisitor::Visit;
  uint32_t Visit(TitlAssetBox& box) override;
  uint32_t Visit(DscpAssetBox& box) override;
  uint32_t Visit(CprtAssetBox& box) override;
  uint32_t Visit(PerfAssetBox& box) override;
  uint32_t Visit(GnreAssetBox& box) override;
  uint32_t Visit(AlbmAssetBox& box) override;
  uint32_t Visit(RecordingYearBox& box) override;
  uint32_t Visit(Mpeg4AudioSampleEntry& box) override;
  uint32_t Visit(MediaHeaderBox& box) override;
  uint32_t Visit(TrakBox& box) override;

 private:
  void StoreText(uint32_t id, const ByteVector& payload);

  MetaDataSet& set_;
  BoxList& boxes_;
  bool audioEntrySeen_ = false;
};

}  // namespace fileutil
