// The Cardwell metadata reader.
#include "metacardwell.h"

#include <string>

#include "summaryids.h"
#include "textencoding.h"

namespace fileutil {

namespace {

struct KeyRow {
  uint32_t key;
  uint32_t summaryId;
};

// Looked up in order: keys 4 and 5 both name the software, and the first one
// stored stays.
const KeyRow kKeyTable[] = {
    {1, kSummaryTitle},    {2, kSummaryTitleId3}, {3, kSummaryDate},     {4, kSummarySoftware}, {5, kSummarySoftware},
    {6, kSummarySubject},  {7, kSummaryComment},  {8, kSummaryKeywords}, {0x0A02, FCC("VCHP")},
};

// The bytes the stream holds from `position` on; false when its size is unknown.
bool BytesLeft(std::istream& in, uint64_t position, uint64_t& left) {
  in.clear();
  in.seekg(0, std::ios::end);
  std::streamoff end = in.tellg();
  in.clear();
  if (end < 0) return false;
  left = uint64_t(end) > position ? uint64_t(end) - position : 0;
  return true;
}

}  // namespace

uint32_t CardwellKeyToSummaryId(uint32_t key) {
  for (const KeyRow& row : kKeyTable)
    if (row.key == key) return row.summaryId;
  return 0;
}

GetCardwellMetaData::GetCardwellMetaData(MetaDataSet& set, BoxList& boxes, std::istream& in)
    : set_(set), boxes_(boxes), in_(in) {}

void GetCardwellMetaData::Apply() {
  metaData_ = nullptr;
  sampleTable_ = nullptr;
  insideUserSpecific_ = false;
  descriptionIndex_ = -1;
  thumbnails_.clear();
  sampleDataPosition_ = 0;
  sampleDataSeen_ = false;
  for (IBox* box : boxes_) box->Accept(*this);
  StoreTexts();
  StoreThumbnails();
}

uint32_t GetCardwellMetaData::Visit(UserSpecificMetaData& box) {
  // A user-specific box nested in another leaves its parent's state as it was.
  bool outer = insideUserSpecific_;
  insideUserSpecific_ = true;
  uint32_t result = BoxVisitor::Visit(box);
  insideUserSpecific_ = outer;
  return result;
}

uint32_t GetCardwellMetaData::Visit(MetaDataBox& box) {
  if (insideUserSpecific_) metaData_ = &box;
  return 1;
}

uint32_t GetCardwellMetaData::Visit(MetaDataSampleTableBox& box) {
  if (insideUserSpecific_) sampleTable_ = &box;
  return 1;
}

uint32_t GetCardwellMetaData::Visit(MetaDataSampleData& box) {
  sampleDataPosition_ = box.GetOffset();
  sampleDataSeen_ = true;
  return 1;
}

uint32_t GetCardwellMetaData::Visit(SampleDescriptionBox& box) {
  if (!insideUserSpecific_) return BoxVisitor::Visit(box);
  int64_t outer = descriptionIndex_;
  int64_t index = 0;
  for (IBox* child : box.Children()) {
    descriptionIndex_ = ++index;
    child->Accept(*this);
  }
  descriptionIndex_ = outer;
  return 1;
}

uint32_t GetCardwellMetaData::Visit(PNGSampleEntryBox& box) {
  if (!insideUserSpecific_ || descriptionIndex_ <= 0 || descriptionIndex_ > int64_t(UINT32_MAX)) return 1;
  uint32_t index = uint32_t(descriptionIndex_);
  if (thumbnails_.count(index)) return 1;
  Thumbnail thumb;
  thumb.mimeType = L"image/png";
  thumb.width = box.width;
  thumb.height = box.height;
  thumbnails_.emplace(index, thumb);
  return 1;
}

void GetCardwellMetaData::StoreTexts() {
  if (!metaData_) return;
  for (const MetaDataEntry& item : metaData_->entries) {
    if (item.value2 != kCardwellTextEncoding) continue;
    uint32_t id = CardwellKeyToSummaryId(item.id);
    if (!id) continue;
    std::wstring text;
    Utf16BEBytesToString(text, item.data);
    TrimTrailingNuls(text);
    // An empty item would only keep a later key of the same id out.
    if (!text.empty()) set_.SetSummaryText(id, text);
  }
}

void GetCardwellMetaData::StoreThumbnails() {
  // The table's offsets count from the sample data box: without one there is
  // nothing to read the thumbnails from.
  if (!sampleTable_ || !sampleDataSeen_) return;
  uint32_t type = kCardwellFirstPictureType;
  for (const MetaDataSampleTableEntry& entry : sampleTable_->entries) {
    auto found = thumbnails_.find(entry.values[0]);
    if (found == thumbnails_.end()) continue;
    const Thumbnail& thumb = found->second;
    uint32_t pictureType = type++;
    // Offsets count from the sample data box; sizes come from the file and are
    // held to the bytes that are really there.
    uint64_t position = sampleDataPosition_ + entry.values[1];
    uint64_t count = entry.values[2];
    uint64_t left = 0;
    if (BytesLeft(in_, position, left) && left < count) count = left;
    if (count == 0) continue;
    in_.clear();
    in_.seekg(std::streamoff(position));
    if (!in_) continue;
    std::wstring description = std::to_wstring(thumb.width) + L"x" + std::to_wstring(thumb.height);
    set_.AddPicture(thumb.mimeType, description, in_, uint32_t(count), pictureType);
  }
}

}  // namespace fileutil
