// Box factories (by four-character code, by 'uuid' GUID, by 'data' type code)
// and the prototype tables of the metadata writers; all process-wide, created
// at module attach and destroyed at detach.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>

#include "boxcloner.h"

namespace fileutil {

class IFactory {
 public:
  virtual ~IFactory() {}
  // Makes the box for a header (null when memory is short) and answers the
  // bytes it read from the stream to identify it.
  virtual uint64_t Create(IBox*& out, FourCC type, std::istream& in) = 0;
  virtual void RegisterBoxes() = 0;
};

class FourCCFactory : public IFactory {
 public:
  uint64_t Create(IBox*& out, FourCC type, std::istream& in) override;
  bool Knows(FourCC type) const { return factory_.Has(type); }
  size_t Count() const { return factory_.Count(); }

 protected:
  Factory<FourCC, IBox, UnknownBox, FourCCCmp> factory_;
  void Add(IBox* prototype);
};

// The audio reading side.
class BoxFactory : public FourCCFactory {
 public:
  void RegisterBoxes() override;
};
// Metadata reading.
class ReadMetaFactory : public FourCCFactory {
 public:
  void RegisterBoxes() override;
};
// Metadata rewriting: only what the metadata writers change is parsed.
class MetaFactory : public FourCCFactory {
 public:
  void RegisterBoxes() override;
};
// The children of 'ilst'.
class ITunesReadFactory : public FourCCFactory {
 public:
  void RegisterBoxes() override;
};

class GuidBoxFactory : public IFactory {
 public:
  uint64_t Create(IBox*& out, FourCC type, std::istream& in) override;
  void RegisterBoxes() override;

 private:
  Factory<GUID, IBox, UnknownGuidBox, GuidCmp> factory_;
};

class DataBoxFactory : public IFactory {
 public:
  uint64_t Create(IBox*& out, FourCC type, std::istream& in) override;
  void RegisterBoxes() override;

 private:
  Factory<uint32_t, IBox, UnknownDataBox, std::less<uint32_t>> factory_;
};

// Summary id (four characters spelled in memory order) to a prototype box.
class SummaryBoxTable {
 public:
  SummaryBoxTable() = default;
  ~SummaryBoxTable();
  SummaryBoxTable(const SummaryBoxTable&) = delete;
  SummaryBoxTable& operator=(const SummaryBoxTable&) = delete;
  bool Add(uint32_t id, IBox* prototype);
  // A deep copy of the prototype for the id; null when there is none.
  IBox* CreateBox(uint32_t id) const;
  const std::map<uint32_t, IBox*>& Entries() const { return map_; }

 private:
  std::map<uint32_t, IBox*> map_;
};

class AssetBoxTable : public SummaryBoxTable {
 public:
  void Fill();
};

class ITunesItemTable : public SummaryBoxTable {
 public:
  void Fill();
};

// The two freeform ('----') items of the item table: their summary ids and
// the namespace text of their 'mean' boxes.
extern const char kFreeformKeyA[5];
extern const char kFreeformKeyB[5];
extern const char kFreeformNamespace[17];

struct MimeLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class MimeDataBoxTable {
 public:
  MimeDataBoxTable() = default;
  ~MimeDataBoxTable();
  MimeDataBoxTable(const MimeDataBoxTable&) = delete;
  MimeDataBoxTable& operator=(const MimeDataBoxTable&) = delete;
  void Fill();
  // A deep copy of the 'data' prototype for the MIME type (any letter case); null when none.
  IDataBox* CreateBox(const std::wstring& mimeType) const;

 private:
  std::map<std::wstring, IBox*, MimeLess> map_;
};

void CreateGlobalFactories();
void DestroyGlobalFactories();
bool GlobalFactoriesReady();

BoxFactory* GetBoxFactory();
ReadMetaFactory* GetReadMetaFactory();
MetaFactory* GetMetaFactory();
ITunesReadFactory* GetITunesReadFactory();
GuidBoxFactory* GetGuidBoxFactory();
DataBoxFactory* GetDataBoxFactory();
const AssetBoxTable* GetAssetBoxTable();
const ITunesItemTable* GetITunesItemTable();
const MimeDataBoxTable* GetMimeDataBoxTable();

}  // namespace fileutil
