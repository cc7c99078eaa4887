// The metadata set: its maps, the first-value-stays rules, the loaders of the
// host streams and the conversions between pictures, SMFMF data, opaque host
// records and entries.
#include "metadataset.h"

#include <cstring>
#include <sstream>

#include "filestream.h"
#include "metablocks.h"
#include "textencoding.h"

namespace fileutil {

const GUID kPictureEntryGuid = {0x20636970, 0xACF2, 0x11D3, {0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};
const GUID kSmfmfEntryGuid = {0x6D666D73, 0xACF2, 0x11D3, {0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A}};

const wchar_t kSmfmfMimeType[] = L"Application/SMFMF";
const wchar_t kSmfmfDescription[] = L"USR_SMFMF";
const wchar_t kBinaryEntryMimeType[] = L"application/binary";
const wchar_t kBinaryEntryPrefix[] = L"ORVANE_";
const wchar_t kNoDescriptionName[] = L"NO_DESCRIPTION";

// Data read from files and streams grows by at most this much at a time, so
// that a size claimed by the source never allocates more than really arrives.
static const uint32_t kReadBlock = 65536;

bool GuidByteLess::operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }

HRESULT MemoryByteSource::Read(void* buffer, uint32_t requested, uint32_t* delivered) {
  if (!buffer || !delivered) return E_FAIL;
  size_t left = position_ < size_ ? size_ - position_ : 0;
  size_t n = requested < left ? requested : left;
  if (n) std::memcpy(buffer, bytes_ + position_, n);
  position_ += n;
  *delivered = uint32_t(n);
  return S_OK;
}

// ---------------------------------------------------------------------------
// Reading helpers

// Reads exactly `count` bytes (several reads when the source hands out less
// at a time); false when the source fails or runs dry first.
static bool ReadExact(IMetaByteSource& source, void* buffer, uint32_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count) {
    uint32_t got = 0;
    HRESULT hr = source.Read(p, count, &got);
    if (FAILED(hr) || got == 0 || got > count) return false;
    p += got;
    count -= got;
  }
  return true;
}

// Reads `count` bytes into `out`, growing it only as bytes arrive.
static bool ReadBytes(IMetaByteSource& source, uint64_t count, ByteVector& out) {
  out.clear();
  while (count) {
    uint32_t step = count < kReadBlock ? uint32_t(count) : kReadBlock;
    size_t at = out.size();
    out.resize(at + step);
    if (!ReadExact(source, out.data() + at, step)) {
      out.clear();
      return false;
    }
    count -= step;
  }
  return true;
}

// The whole file; false when it cannot be opened or read.
static bool ReadWholeFile(const wchar_t* path, ByteVector& out) {
  out.clear();
  if (!path) return false;
  ifstream in(path, 1024, kGenericRead, kFileShareRead, nullptr, kOpenExisting, kFlagsRandomAccess, nullptr);
  if (!in.is_open()) return false;
  char block[4096];
  for (;;) {
    in.read(block, sizeof(block));
    std::streamsize got = in.gcount();
    if (got > 0) out.insert(out.end(), block, block + got);
    if (!in) break;
  }
  return in.eof() && !in.GetBuffer()->HadError();
}

// ---------------------------------------------------------------------------
// The maps

void MetaDataSet::Clear() {
  pictures_.clear();
  texts_.clear();
  genericItems_.clear();
  entries_.clear();
}

bool MetaDataSet::IsEmpty() const {
  return pictures_.empty() && texts_.empty() && genericItems_.empty() && entries_.empty();
}

void MetaDataSet::ClearTextsAndPictures() {
  texts_.clear();
  pictures_.clear();
}

std::wstring MetaDataSet::GetSummaryText(uint32_t id) const {
  auto it = texts_.find(id);
  return it == texts_.end() ? std::wstring() : it->second;
}

bool MetaDataSet::HasSummaryText(uint32_t id) const { return texts_.count(id) != 0; }

void MetaDataSet::SetSummaryText(uint32_t id, const std::wstring& text) {
  if (id == 0) return;
  texts_.emplace(id, text);  // an id already present keeps its text
}

uint32_t MetaDataSet::TextsByteSize() const {
  uint64_t total = 0;
  for (const auto& t : texts_) total += (uint64_t(t.second.size()) + 1) * 2;
  return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total);
}

bool MetaDataSet::MergeTexts(const MetaDataSet& other) {
  bool differ = false;
  for (const auto& t : texts_) {
    auto it = other.texts_.find(t.first);
    if (it == other.texts_.end() || it->second != t.second) differ = true;
  }
  for (const auto& t : other.texts_) {
    if (texts_.emplace(t.first, t.second).second) differ = true;
  }
  return differ || !pictures_.empty() || !genericItems_.empty() || !entries_.empty();
}

void MetaDataSet::DumpTexts(std::wostream& out) const {
  for (const auto& t : texts_) {
    for (int i = 0; i < 4; ++i) out.put(wchar_t(uint8_t(t.first >> (8 * i))));
    out << L" = \"" << t.second << L'"' << L'\n';
  }
}

// ---------------------------------------------------------------------------
// Pictures

void MetaDataSet::AddPicture(const PictureRecord& record) { pictures_.emplace(record.type, record); }

void MetaDataSet::AddPicture(const std::wstring& mimeType, const uint8_t* data, size_t size, uint32_t type) {
  if (pictures_.count(type)) return;
  PictureRecord record;
  record.type = type;
  record.mimeType = mimeType;
  if (data && size) record.data.assign(data, data + size);
  AddPicture(record);
}

void MetaDataSet::AddPicture(const std::wstring& mimeType, const std::wstring& description, std::istream& in,
                             uint32_t count, uint32_t type) {
  if (pictures_.count(type)) return;
  PictureRecord record;
  record.type = type;
  record.mimeType = mimeType;
  record.description = description;
  // A picture cut short by the stream would be a damaged image: it is not kept.
  while (record.data.size() < count) {
    size_t step = count - record.data.size();
    if (step > kReadBlock) step = kReadBlock;
    size_t at = record.data.size();
    record.data.resize(at + step);
    in.read(reinterpret_cast<char*>(record.data.data() + at), std::streamsize(step));
    if (size_t(in.gcount()) != step) return;
  }
  AddPicture(record);
}

bool MetaDataSet::AddPictureFromFile(const wchar_t* path) {
  if (!path) return false;
  std::wstring p(path);
  size_t cut = p.find_last_of(L'\\');
  if (cut == std::wstring::npos) cut = p.find_last_of(L'/');
  size_t nameStart = cut == std::wstring::npos ? 0 : cut + 1;
  // The number that starts the file name is the picture type.
  uint64_t type = 0;
  for (size_t i = nameStart; i < p.size() && p[i] >= L'0' && p[i] <= L'9'; ++i) {
    type = type * 10 + uint32_t(p[i] - L'0');
    if (type > 0xFFFFFFFFu) type = 0xFFFFFFFFu;
  }
  size_t dot = p.find_last_of(L'.');
  std::wstring mime = L"image/" + (dot == std::wstring::npos ? std::wstring() : p.substr(dot + 1));
  PictureRecord record;
  record.type = uint32_t(type);
  record.mimeType = mime;
  // A file that cannot be read adds no (empty) picture that would block a real one.
  if (!ReadWholeFile(path, record.data)) return false;
  AddPicture(record);
  return true;
}

bool MetaDataSet::SavePictures(const std::wstring& folder, const std::wstring& baseName) const {
#ifdef _WIN32
  const wchar_t separator = L'\\';
#else
  const wchar_t separator = L'/';
#endif
  bool ok = true;
  for (const auto& entry : pictures_) {
    const PictureRecord& pic = entry.second;
    size_t slash = pic.mimeType.find(L'/');
    if (slash == std::wstring::npos) continue;
    std::wstring name = folder + separator + baseName + L'.' +
                        (pic.description.empty() ? std::wstring(kNoDescriptionName) : pic.description) + L'.' +
                        std::to_wstring(pic.type) + L'.' + pic.mimeType.substr(slash + 1);
    ofstream out(name.c_str(), 65536, kGenericWrite, 0, nullptr, kCreateAlways, kFlagsNormal, nullptr);
    if (!out.is_open()) {
      ok = false;
      continue;
    }
    if (!pic.data.empty()) out.write(reinterpret_cast<const char*>(pic.data.data()), std::streamsize(pic.data.size()));
    bool written = bool(out);
    if (!out.close() || !written) ok = false;
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Generic items

void MetaDataSet::AddGenericItem(const GenericItem& item) { genericItems_.emplace(item.mimeType, item); }

// One terminated string of a GEOB body starting at `at`; false without a terminator.
static bool TakeEncodedString(const ByteVector& body, size_t& at, uint8_t encoding, std::wstring& out) {
  bool wide = encoding == 1 || encoding == 2;
  size_t end = at;
  if (wide) {
    while (end + 1 < body.size() && !(body[end] == 0 && body[end + 1] == 0)) end += 2;
    if (end + 1 >= body.size()) return false;
  } else {
    while (end < body.size() && body[end] != 0) ++end;
    if (end >= body.size()) return false;
  }
  ByteVector bytes(body.begin() + ptrdiff_t(at), body.begin() + ptrdiff_t(end));
  if (encoding == 2)
    Utf16BEBytesToString(out, bytes);
  else
    BytesToString(out, bytes, encoding == 3 ? kCodePageUtf8 : kCodePageLatin1);
  at = end + (wide ? 2 : 1);
  return true;
}

bool MetaDataSet::AddGenericItemFromFile(const wchar_t* path) {
  ByteVector body;
  if (!ReadWholeFile(path, body) || body.empty()) return false;
  uint8_t encoding = body[0];
  size_t at = 1;
  GenericItem item;
  if (!TakeEncodedString(body, at, 0, item.mimeType)) return false;
  if (!TakeEncodedString(body, at, encoding, item.fileName)) return false;
  if (!TakeEncodedString(body, at, encoding, item.description)) return false;
  item.data.assign(body.begin() + ptrdiff_t(at), body.end());
  AddGenericItem(item);
  return true;
}

bool MetaDataSet::AddSmfmfFile(const wchar_t* path) {
  ByteVector bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  AddSmfmf(bytes);
  return true;
}

void MetaDataSet::AddSmfmf(const ByteVector& bytes) {
  GenericItem item;
  item.mimeType = kSmfmfMimeType;
  item.description = kSmfmfDescription;
  item.data = bytes;
  AddGenericItem(item);
}

// ---------------------------------------------------------------------------
// Entries

void MetaDataSet::AddEntry(const GUID& guid, const ByteVector& bytes) { entries_.emplace(guid, bytes); }

void MetaDataSet::AddEntryFromSource(const GUID& guid, IMetaByteSource& source) {
  source.Rewind();
  ByteVector bytes;
  uint8_t block[4096];
  // A host stream may answer S_OK with nothing at its end: a read that
  // delivers nothing ends the loop as well.
  for (;;) {
    uint32_t got = 0;
    HRESULT hr = source.Read(block, sizeof(block), &got);
    if (FAILED(hr)) break;
    if (got > sizeof(block)) got = sizeof(block);
    bytes.insert(bytes.end(), block, block + got);
    if (hr != S_OK || got == 0) break;
  }
  AddEntry(guid, bytes);
}

uint32_t MetaDataSet::CountEntries(const GUID& guid) const { return uint32_t(entries_.count(guid)); }

uint64_t MetaDataSet::EntriesByteSize(const GUID& guid) const {
  uint64_t total = 0;
  auto range = entries_.equal_range(guid);
  for (auto it = range.first; it != range.second; ++it) total += it->second.size();
  return total;
}

void MetaDataSet::CopyEntries(EntryMap& destination) const {
  for (const auto& e : entries_) destination.emplace(e.first, e.second);
}

void MetaDataSet::LoadSummarySource(IMetaByteSource& source) {
  source.Rewind();
  uint8_t header[kSummaryHeaderSize];
  if (!ReadExact(source, header, sizeof(header))) return;
  uint32_t count = GetLE32(header + 8);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t item[kSummaryItemSize];
    if (!ReadExact(source, item, sizeof(item))) return;
    uint32_t id = GetLE32(item + 4);
    uint32_t bytes = GetLE32(item + 8);
    ByteVector text;
    // A one-byte text is read and dropped so that the next item is found.
    if (!ReadBytes(source, bytes, text)) return;
    if (bytes <= 1) continue;
    std::wstring value;
    for (size_t k = 0; k + 1 < text.size(); k += 2) value.push_back(wchar_t(text[k] | (text[k + 1] << 8)));
    if (!value.empty() && value.back() == 0) value.pop_back();
    SetSummaryText(id, value);
  }
}

void MetaDataSet::LoadGenericSource(IMetaByteSource& source) {
  source.Rewind();
  uint8_t header[kGenericHeaderSize];
  if (!ReadExact(source, header, sizeof(header))) return;
  int32_t count = int32_t(GetLE32(header + 8));
  for (int32_t i = 0; i < count; ++i) {
    uint8_t record[kGenericEntrySize];
    if (!ReadExact(source, record, sizeof(record))) return;
    GUID guid;
    std::memcpy(&guid, record + 8, sizeof(GUID));
    ByteVector data;
    if (!ReadBytes(source, GetLE32(record + 24), data)) return;
    AddEntry(guid, data);
  }
}

// ---------------------------------------------------------------------------
// Conversions

void MetaDataSet::ImportPictures() {
  auto range = entries_.equal_range(kPictureEntryGuid);
  for (auto it = range.first; it != range.second; ++it) {
    PictureRecord record;
    if (ReadPictureBlock(it->second.data(), it->second.size(), record)) AddPicture(record);
  }
}

void MetaDataSet::ExportPictures() {
  for (const auto& p : pictures_) {
    ByteVector block;
    if (MakePictureBlock(p.second, block)) AddEntry(kPictureEntryGuid, block);
  }
}

void MetaDataSet::ImportSmfmf() {
  auto range = entries_.equal_range(kSmfmfEntryGuid);
  for (auto it = range.first; it != range.second; ++it) {
    ByteVector data;
    if (ReadSmfmfBlock(it->second.data(), it->second.size(), data)) AddSmfmf(data);
  }
}

void MetaDataSet::ExportSmfmf() {
  auto range = genericItems_.equal_range(kSmfmfMimeType);
  for (auto it = range.first; it != range.second; ++it) {
    ByteVector block;
    if (MakeSmfmfBlock(it->second.data, block)) AddEntry(kSmfmfEntryGuid, block);
  }
}

void MetaDataSet::ExportGenericEntries() {
  std::vector<std::pair<GUID, ByteVector>> found;
  for (const auto& g : genericItems_) {
    GUID guid;
    ByteVector bytes;
    if (GenericItemToEntry(g.second, guid, bytes)) found.emplace_back(guid, bytes);
  }
  for (const auto& f : found) AddEntry(f.first, f.second);
}

GenericItem EntryToGenericItem(const GUID& guid, const ByteVector& bytes) {
  GenericItem item;
  std::wstring text = GuidToString(guid);
  item.mimeType = kBinaryEntryMimeType;
  item.description = kBinaryEntryPrefix + text;
  item.fileName = text + L".bin";
  item.data = bytes;
  return item;
}

bool GenericItemToEntry(const GenericItem& item, GUID& guid, ByteVector& bytes) {
  guid = GUID();
  if (item.mimeType != kBinaryEntryMimeType) return false;
  const std::wstring prefix(kBinaryEntryPrefix);
  if (item.description.compare(0, prefix.size(), prefix) != 0) return false;
  if (!StringToGuid(item.description.substr(prefix.size()), guid)) return false;
  if (KvGuidEquals(guid, GUID())) return false;
  bytes = item.data;
  return true;
}

std::wstring GuidToString(const GUID& guid) {
  std::wostringstream out;
  WriteGuid(out, guid);
  return out.str();
}

bool StringToGuid(const std::wstring& text, GUID& guid) {
  guid = GUID();
  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}": anything else is refused.
  if (text.size() != 38 || text[0] != L'{' || text[37] != L'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    wchar_t c = text[i];
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (dash ? c != L'-' : !hex) return false;
  }
  std::wistringstream in(text);
  ReadGuid(in, guid);
  return true;
}

}  // namespace fileutil
