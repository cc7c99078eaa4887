// The host's private metadata inside a metadata collection: the user-defined
// (media-manager) and Plim blobs answered to the host, the project-link
// fields, and the conversion of markers between the host's legacy marker
// stream (times in 100-nanosecond units) and generic marker entries (times
// in samples).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <map>

#include "metadataset.h"

class CKvLinkProjectInfo;

namespace fileutil {
class MetaStream;
}

namespace ffbase {

// Keys of the host's data in a collection.
extern const GUID kHostMarkerKey;          // {ABF76256-392D-11D2-86C7-00C04F8EDB8A}
extern const GUID kHostProjectLinkKey;     // {2A33D899-550B-468C-9C47-3CE3900D8734}
extern const GUID kHostUserDefRecordKey;   // {CDB04C70-91A0-4668-AD38-6873E2956415}, 12 bytes
extern const GUID kHostUserDefEntryKey;    // {2183E19B-0225-455C-9FBF-7514AFFDBA7D}
extern const GUID kHostPlimRecordKey;      // {3152F494-C993-4B31-96E1-A33C79C7A8D0}, 24 bytes
extern const GUID kHostPlimRecordExKey;    // {53CBEDB8-992A-4202-AA8D-E2889279E86F}, 28 bytes
extern const GUID kHostPlimEntryKey;       // {FDB28EB2-7D5E-4A7B-AFBD-F1E38C7EC5F6}

// Copies the first blob under `key` into `out`: E_INVALIDARG for a null out,
// E_FAIL without a source or when the blob is not `size` bytes long, S_FALSE
// when there is none.
HRESULT GetMetaBlob(const fileutil::MetaDataSet* source, BYTE* out, DWORD size, const GUID* key);
// A new entry stream over the blobs under `key` with its one reference.
HRESULT CreateMetaEntryStream(const GUID& key, const fileutil::MetaDataSet* source, IStream** out);

class UserDefManager {
 public:
  UserDefManager() : source(nullptr) {}
  virtual HRESULT GetStream(IStream** out);
  virtual HRESULT GetInfo(BYTE* out);
  virtual ~UserDefManager() {}
  void SetSource(fileutil::MetaDataSet* set) { source = set; }

  fileutil::MetaDataSet* source;  // not owned
};

class PlimManager {
 public:
  PlimManager() : source(nullptr) {}
  virtual HRESULT GetInfo(BYTE* out);
  virtual HRESULT GetInfoEx(BYTE* out);
  virtual HRESULT GetStream(IStream** out);
  virtual ~PlimManager() {}
  void SetSource(fileutil::MetaDataSet* set) { source = set; }

  fileutil::MetaDataSet* source;  // not owned
};

// Project-link fields 1 to 9, each kept as its id (32-bit little-endian)
// followed by the field's bytes.
class ProjectLinkFieldMap {
 public:
  // The fields the info holds; a failure of the info's writers is returned.
  HRESULT FromInfo(CKvLinkProjectInfo& info);
  // Every field, in ascending id, as one entry under the project-link key.
  void AddTo(fileutil::MetaDataSet& set) const;
  // The fields stored in the set; blobs too short to hold an id are skipped.
  void LoadFrom(const fileutil::MetaDataSet& set);
  // A stream over the bytes of field `id`; 0x8004E00A when it has none.
  HRESULT GetFieldStream(IStream** out, uint32_t id) const;

  const std::map<uint32_t, fileutil::ByteVector>& Fields() const { return fields_; }

 private:
  std::map<uint32_t, fileutil::ByteVector> fields_;
};

// Host legacy markers -> generic marker stream; times scaled by scale / divisor
// per second.
HRESULT LegacyToGenericMarkers(fileutil::MetaStream& out, IStream* legacy, DWORD scale, DWORD divisor);
// Generic marker entries of `source` -> host legacy marker stream.
HRESULT GenericToLegacyMarkers(fileutil::MetaStream& out, const fileutil::MetaDataSet& source, DWORD scale,
                               DWORD divisor);

// Rounds half away from zero.
int64_t RoundToInt64(double x);

}  // namespace ffbase
