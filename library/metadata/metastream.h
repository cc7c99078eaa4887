// The read-only COM streams that carry metadata to the host: the summary
// stream, the generic stream of one metadata-type GUID, the entry stream (the
// raw data of one GUID) and the two marker streams, all over one buffer of
// movable global memory. Read at the end answers 38 and reads nothing.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "metadataset.h"

namespace fileutil {

class MetaStream : public IStream {
 public:
  MetaStream();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // ISequentialStream
  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG requested, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  // IStream
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

  // Frees the buffer when the object owns it.
  virtual ~MetaStream();

  // Takes a buffer as it is (a buffer owned before is freed) and rewinds.
  void Attach(void* buffer, DWORD size, bool ownsBuffer);
  DWORD GetSize() const { return size_; }
  const BYTE* GetBuffer() const { return buffer_; }

 protected:
  // Puts the bytes into a new zeroed buffer of exactly their size, position 0.
  HRESULT FillFromBytes(const ByteVector& bytes);

 private:
  MetaStream(const MetaStream&) = delete;
  MetaStream& operator=(const MetaStream&) = delete;

  volatile LONG refCount_;
  BYTE* buffer_;
  DWORD size_;
  DWORD position_;
  BOOL ownsBuffer_;
};

class MetaSummaryStream : public MetaStream {
 public:
  // The summary stream of the set's texts.
  HRESULT FillFromSummary(const MetaDataSet& set);
};

class MetaGenericStream : public MetaStream {
 public:
  // The generic stream of the set's entries under the GUID.
  HRESULT FillFromEntries(const MetaDataSet& set, const GUID& guid);
};

class MetaEntryStream : public MetaStream {
 public:
  // E_INVALIDARG for a null set, E_OUTOFMEMORY when the buffer cannot be had.
  HRESULT FillFromEntry(const MetaDataSet* set, const GUID& guid);
};

class MetaLegacyMarkerStream : public MetaStream {};
class MetaMarkerStream : public MetaStream {};

// Movable, zero-filled global memory kept locked for its life and found again
// from its pointer (the form of every block that crosses the library's exports).
void* AllocLockedGlobal(SIZE_T size);
void FreeLockedGlobal(void* block);

}  // namespace fileutil
