// The reader of the metadata that Cardwell devices record: a user-specific
// 'uuid' box holding a metadata container ('MTSM') with keyed text items
// ('MTDT'), a sample table ('MDST') and PNG thumbnail sample entries, whose
// samples sit behind the sample data box. The texts become summary texts and
// the thumbnails pictures of a metadata set.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>

#include "boxes.h"
#include "metadataset.h"

namespace fileutil {

// The summary id of an 'MTDT' item key; 0 for a key without one.
uint32_t CardwellKeyToSummaryId(uint32_t key);

// 'MTDT' item encoding of big-endian UTF-16 text, the only one read.
const uint16_t kCardwellTextEncoding = 1;
// Type of the first thumbnail; each further one counts up from it, clear of
// the ID3 picture types the other readers store.
const uint32_t kCardwellFirstPictureType = 0xFF00;

class GetCardwellMetaData : public BoxVisitor {
 public:
  // `in` is the open file the tree was read from.
  GetCardwellMetaData(MetaDataSet& set, BoxList& boxes, std::istream& in);

  // Walks the tree, then stores the texts and the thumbnails (a text or a
  // picture type already in the set stays). Nothing is reported: what is
  // missing or damaged is left out.
  void Apply();

  using BoxVisitor::Visit;
  uint32_t Visit(UserSpecificMetaData& box) override;
  uint32_t Visit(MetaDataBox& box) override;
  uint32_t Visit(MetaDataSampleTableBox& box) override;
  uint32_t Visit(MetaDataSampleData& box) override;
  uint32_t Visit(SampleDescriptionBox& box) override;
  uint32_t Visit(PNGSampleEntryBox& box) override;

 private:
  struct Thumbnail {
    std::wstring mimeType;
    uint16_t width = 0;
    uint16_t height = 0;
  };

  void StoreTexts();
  void StoreThumbnails();

  MetaDataSet& set_;
  BoxList& boxes_;
  MetaDataBox* metaData_ = nullptr;
  MetaDataSampleTableBox* sampleTable_ = nullptr;
  bool insideUserSpecific_ = false;
  int64_t descriptionIndex_ = -1;  // -1 outside a sample description
  std::map<uint32_t, Thumbnail> thumbnails_;
  std::istream& in_;
  uint64_t sampleDataPosition_ = 0;
  bool sampleDataSeen_ = false;
};

}  // namespace fileutil
