// The in-memory metadata of one media file: summary texts, pictures, generic
// (GEOB-like) items and GUID-keyed entries. Every tag reader fills one, every
// tag writer reads one, and the host-facing metadata streams are built from one
// or loaded into one.
//
// A text or a picture already present is never replaced: the first reader that
// finds an id decides its value.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "kvportable.h"

#ifdef _WIN32
struct IStream;
#endif

namespace fileutil {

typedef std::vector<uint8_t> ByteVector;

// Picture types follow the ID3v2 APIC numbering; 255 means none.
const uint32_t kPictureTypeNone = 255;

struct PictureRecord {
  uint32_t type = kPictureTypeNone;
  std::wstring mimeType;
  std::wstring description;
  ByteVector data;
};

// The model of an ID3v2 general encapsulated object.
struct GenericItem {
  std::wstring mimeType;
  std::wstring fileName;
  std::wstring description;
  ByteVector data;
};

// GUIDs ordered by their 16 bytes in memory order.
struct GuidByteLess {
  bool operator()(const GUID& a, const GUID& b) const;
};

typedef std::map<uint32_t, PictureRecord> PictureMap;
typedef std::map<uint32_t, std::wstring> SummaryTextMap;
typedef std::multimap<std::wstring, GenericItem> GenericItemMap;
// Several entries under one GUID stay in insertion order.
typedef std::multimap<GUID, ByteVector, GuidByteLess> EntryMap;

// Entries carrying pictures as picture blocks ("pic ") and SMFMF data as SMFMF blocks ("smfm").
extern const GUID kPictureEntryGuid;  // {20636970-ACF2-11D3-8CD1-00C04F8EDB8A}
extern const GUID kSmfmfEntryGuid;    // {6D666D73-ACF2-11D3-8CD1-00C04F8EDB8A}

extern const wchar_t kSmfmfMimeType[];         // "Application/SMFMF"
extern const wchar_t kSmfmfDescription[];      // "USR_SMFMF"
extern const wchar_t kBinaryEntryMimeType[];   // "application/binary"
extern const wchar_t kBinaryEntryPrefix[];     // "ORVANE_"
extern const wchar_t kNoDescriptionName[];     // "NO_DESCRIPTION"

// A source of stream bytes with the read semantics of a COM stream: Read
// answers a status and the count really delivered. The stream loaders work on
// it so that they can be used (and tested) without COM.
class IMetaByteSource {
 public:
  virtual HRESULT Rewind() = 0;
  virtual HRESULT Read(void* buffer, uint32_t requested, uint32_t* delivered) = 0;

 protected:
  ~IMetaByteSource() {}
};

// A byte source over a byte range (the caller keeps the bytes alive).
class MemoryByteSource : public IMetaByteSource {
 public:
  MemoryByteSource(const void* bytes, size_t size) : bytes_(static_cast<const uint8_t*>(bytes)), size_(size) {}
  HRESULT Rewind() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Read(void* buffer, uint32_t requested, uint32_t* delivered) override;

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
};

class MetaDataSet {
 public:
  MetaDataSet() = default;

  void Clear();
  bool IsEmpty() const;
  void ClearTextsAndPictures();

  // Summary texts.
  std::wstring GetSummaryText(uint32_t id) const;
  bool HasSummaryText(uint32_t id) const;
  // Stores when the id is not 0 and not yet present.
  void SetSummaryText(uint32_t id, const std::wstring& text);
  // Sum over all texts of (length + 1) x 2.
  uint32_t TextsByteSize() const;
  // Copies every text of `other` whose id this set lacks. True when the two
  // sets' texts differed in any way, or when this set holds anything but texts.
  bool MergeTexts(const MetaDataSet& other);
  // One line per text: the id's four letters, " = \"", the text, '"'.
  void DumpTexts(std::wostream& out) const;

  // Pictures: stored under their type when that type is absent.
  void AddPicture(const PictureRecord& record);
  void AddPicture(const std::wstring& mimeType, const uint8_t* data, size_t size, uint32_t type);
  // Reads `count` bytes of the stream; a stream that delivers fewer adds nothing.
  void AddPicture(const std::wstring& mimeType, const std::wstring& description, std::istream& in, uint32_t count,
                  uint32_t type);
  // The type is the decimal number that starts the file name (0 when none),
  // the MIME type "image/" + the path's extension, the data the whole file
  // (a file that cannot be read adds nothing and answers false).
  bool AddPictureFromFile(const wchar_t* path);
  // Writes every picture to "<folder>\<base>.<description>.<type>.<subtype>";
  // pictures whose MIME type has no slash are skipped. False when a file could
  // not be written whole.
  bool SavePictures(const std::wstring& folder, const std::wstring& baseName) const;

  // Generic items and SMFMF data.
  void AddGenericItem(const GenericItem& item);
  // The file holds a GEOB body: encoding byte, MIME type (ISO-8859-1), file
  // name and description (in that encoding, each terminated), then the data.
  // False when the file cannot be read or is not such a body.
  bool AddGenericItemFromFile(const wchar_t* path);
  bool AddSmfmfFile(const wchar_t* path);
  void AddSmfmf(const ByteVector& bytes);

  // Entries.
  void AddEntry(const GUID& guid, const ByteVector& bytes);
  // Rewinds, then reads until the source fails, reports a status other than
  // S_OK or delivers nothing, and stores the bytes delivered as one entry.
  void AddEntryFromSource(const GUID& guid, IMetaByteSource& source);
  uint32_t CountEntries(const GUID& guid) const;
  uint64_t EntriesByteSize(const GUID& guid) const;
  void CopyEntries(EntryMap& destination) const;

  // The host streams read back (layouts in metastreamlayout.h). Loading stops
  // at the first failed or short read; what was stored before stays.
  void LoadSummarySource(IMetaByteSource& source);
  void LoadGenericSource(IMetaByteSource& source);
#ifdef _WIN32
  void AddEntryFromStream(const GUID& guid, IStream* stream);
  void LoadSummaryStream(IStream* stream);
  void LoadGenericStream(IStream* stream);
#endif

  // Conversions between the representations.
  void ImportPictures();        // "pic " entries -> pictures
  void ExportPictures();        // pictures -> "pic " entries
  void ImportSmfmf();           // "smfm" entries -> SMFMF items
  void ExportSmfmf();           // SMFMF items -> "smfm" entries
  void ExportGenericEntries();  // opaque host records carried as generic items -> entries

  const SummaryTextMap& Texts() const { return texts_; }
  const PictureMap& Pictures() const { return pictures_; }
  const GenericItemMap& GenericItems() const { return genericItems_; }
  const EntryMap& Entries() const { return entries_; }

 private:
  PictureMap pictures_;
  SummaryTextMap texts_;
  GenericItemMap genericItems_;
  EntryMap entries_;
};

// An opaque host record as a generic item: MIME type "application/binary",
// description "ORVANE_" + the braced GUID text, file name the GUID text + ".bin".
GenericItem EntryToGenericItem(const GUID& guid, const ByteVector& bytes);
// The reverse: false unless the MIME type is exactly "application/binary" and
// the description is "ORVANE_" followed by a braced GUID other than GUID_NULL.
bool GenericItemToEntry(const GenericItem& item, GUID& guid, ByteVector& bytes);

// The braced lower-case 8-4-4-4-12 form.
std::wstring GuidToString(const GUID& guid);
// False (and GUID_NULL) unless the text is exactly a braced GUID.
bool StringToGuid(const std::wstring& text, GUID& guid);

}  // namespace fileutil
