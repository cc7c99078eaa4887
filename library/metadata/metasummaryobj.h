// MetaSummary: a stand-alone object over one MP4 file path. It reads the tag
// kinds a mask names into its own metadata set on demand, answers text,
// picture and SMFMF queries from that set, and writes the set back into the
// file. Each method has a __stdcall twin MetaSummary_<Method> taking the
// object first; those twins are what the DLL exports.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>

#include "kvapi.h"
#include "kvmetablocks.h"
#include "metadataset.h"

// Kind mask bits.
const DWORD kMetaKindITunes = 1;
const DWORD kMetaKind3gpp = 2;
const DWORD kMetaKindId3v2 = 4;
const DWORD kMetaKindCardwell = 8;

class MetaSummary {
 public:
  static MetaSummary* Create();
  static HRESULT Destroy(MetaSummary* object);

  HRESULT SetPath(const wchar_t* path);
  // Forgets the loaded kinds and empties the texts and pictures.
  HRESULT Reset();

  // Reads the kinds of the mask; returns 0 at once when a kind of the mask is
  // already loaded. Readers run ID3v2, 3GPP, iTunes, Cardwell: the first text
  // of an id stays.
  HRESULT Read(DWORD mask);

  // Read(mask), then the text of the id, always terminated within `count`
  // characters (empty when absent).
  HRESULT GetText(DWORD id, wchar_t* buffer, DWORD count, DWORD mask);
  HRESULT CreateSummaryStream(IStream** stream, DWORD mask);
  // 1 when no picture of the type; else the block and data sizes.
  HRESULT GetPictureInfo(DWORD type, DWORD* blockSize, DWORD* dataSize, DWORD mask);
  // 1 when absent; else fills the caller's block (sized by GetPictureInfo).
  HRESULT SetPictureValue(DWORD type, KvPicture* block, DWORD mask);
  HRESULT AddPictureBlock(const KvPicture* block);
  HRESULT GetSmfmf(DWORD* blockSize, DWORD* dataSize);
  HRESULT GetSmfmfData(KvSmfmf* block);

  // Adds the summary stream's texts (texts present stay) and the SMFMF block,
  // then rewrites the file with the writers of the mask (iTunes items only for
  // "m4a", "m4v", "m4b", "m4p"). Failure leaves the file as it was.
  HRESULT Write(IStream* summary, const KvSmfmf* smfmf, DWORD mask);

  fileutil::MetaDataSet& Set() { return set_; }
  DWORD LoadedKinds() const { return loadedKinds_; }

 private:
  MetaSummary();
  bool HasWritableExtension() const;
  const fileutil::GenericItem* FirstSmfmf() const;

  fileutil::MetaDataSet set_;
  std::wstring path_;
  DWORD loadedKinds_;
};

extern "C" {
MetaSummary* KVAPI MetaSummary_Create();
HRESULT KVAPI MetaSummary_Destroy(MetaSummary* object);
HRESULT KVAPI MetaSummary_SetPath(MetaSummary* object, const wchar_t* path);
HRESULT KVAPI MetaSummary_Reset(MetaSummary* object);
HRESULT KVAPI MetaSummary_Read(MetaSummary* object, DWORD mask);
HRESULT KVAPI MetaSummary_GetText(MetaSummary* object, DWORD id, wchar_t* buffer, DWORD count, DWORD mask);
HRESULT KVAPI MetaSummary_CreateSummaryStream(MetaSummary* object, IStream** stream, DWORD mask);
HRESULT KVAPI MetaSummary_GetPictureInfo(MetaSummary* object, DWORD type, DWORD* blockSize, DWORD* dataSize,
                                         DWORD mask);
HRESULT KVAPI MetaSummary_SetPictureValue(MetaSummary* object, DWORD type, KvPicture* block, DWORD mask);
HRESULT KVAPI MetaSummary_AddPictureBlock(MetaSummary* object, const KvPicture* block);
HRESULT KVAPI MetaSummary_GetSmfmf(MetaSummary* object, DWORD* blockSize, DWORD* dataSize);
HRESULT KVAPI MetaSummary_GetSmfmfData(MetaSummary* object, KvSmfmf* block);
HRESULT KVAPI MetaSummary_Write(MetaSummary* object, IStream* summary, const KvSmfmf* smfmf, DWORD mask);
}
