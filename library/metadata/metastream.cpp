// The metadata COM streams, and the metadata set's loaders over COM streams.
#include "metastream.h"

#include <cstring>
#include <new>

#include "kvcomobject.h"
#include "metablocks.h"

namespace fileutil {

// The status of a read at or past the end of the data.

void* AllocLockedGlobal(SIZE_T size) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size ? size : 1);
  if (!handle) return nullptr;
  void* block = GlobalLock(handle);
  if (!block) GlobalFree(handle);
  return block;
}

void FreeLockedGlobal(void* block) {
  if (!block) return;
  HGLOBAL handle = GlobalHandle(block);
  if (!handle) return;
  GlobalUnlock(handle);
  GlobalFree(handle);
}

MetaStream::MetaStream() : refCount_(1), buffer_(nullptr), size_(0), position_(0), ownsBuffer_(TRUE) {}

MetaStream::~MetaStream() {
  if (ownsBuffer_) FreeLockedGlobal(buffer_);
}

HRESULT STDMETHODCALLTYPE MetaStream::QueryInterface(REFIID riid, void** object) {
  IStream* self = this;
  return kvcom::QueryFaces(this, riid, object, {{IID_IStream, self}, {IID_IUnknown, self}});
}

ULONG STDMETHODCALLTYPE MetaStream::AddRef() { return kvcom::AddRefCount(refCount_); }

ULONG STDMETHODCALLTYPE MetaStream::Release() { return kvcom::ReleaseRef(this, refCount_); }

HRESULT STDMETHODCALLTYPE MetaStream::Read(void* buffer, ULONG requested, ULONG* read) {
  if (!buffer || !read) return E_FAIL;
  if (position_ >= size_) return KV_S_READATEND;
  DWORD n = size_ - position_;
  if (requested < n) n = requested;
  std::memcpy(buffer, buffer_ + position_, n);
  position_ += n;
  *read = n;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MetaStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  DWORD low = DWORD(move.LowPart);
  DWORD target;
  switch (origin) {
    case STREAM_SEEK_SET: target = low; break;
    case STREAM_SEEK_CUR: target = position_ + low; break;
    case STREAM_SEEK_END: target = DWORD(LONGLONG(size_) + LONG(low)); break;
    default: return E_FAIL;
  }
  position_ = target;
  if (position_ > size_) return E_FAIL;
  if (position) position->QuadPart = position_;
  return S_OK;
}

void MetaStream::Attach(void* buffer, DWORD size, bool ownsBuffer) {
  if (ownsBuffer_ && buffer_ != buffer) FreeLockedGlobal(buffer_);
  buffer_ = static_cast<BYTE*>(buffer);
  size_ = size;
  ownsBuffer_ = ownsBuffer ? TRUE : FALSE;
  position_ = 0;
}

HRESULT MetaStream::FillFromBytes(const ByteVector& bytes) {
  void* block = AllocLockedGlobal(bytes.size());
  if (!block) return E_OUTOFMEMORY;
  if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
  Attach(block, DWORD(bytes.size()), true);
  return S_OK;
}

HRESULT MetaSummaryStream::FillFromSummary(const MetaDataSet& set) {
  try {
    ByteVector bytes;
    HRESULT hr = BuildSummaryStream(set, bytes);
    return FAILED(hr) ? hr : FillFromBytes(bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MetaGenericStream::FillFromEntries(const MetaDataSet& set, const GUID& guid) {
  try {
    ByteVector bytes;
    HRESULT hr = BuildGenericStream(set, guid, bytes);
    return FAILED(hr) ? hr : FillFromBytes(bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT MetaEntryStream::FillFromEntry(const MetaDataSet* set, const GUID& guid) {
  if (!set) return E_INVALIDARG;
  try {
    ByteVector bytes;
    HRESULT hr = BuildEntryStream(*set, guid, bytes);
    return FAILED(hr) ? hr : FillFromBytes(bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---------------------------------------------------------------------------
// The metadata set's loaders over a COM stream.

namespace {

class ComStreamSource : public IMetaByteSource {
 public:
  explicit ComStreamSource(IStream* stream) : stream_(stream) {}
  HRESULT Rewind() override {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return stream_->Seek(zero, STREAM_SEEK_SET, nullptr);
  }
  HRESULT Read(void* buffer, uint32_t requested, uint32_t* delivered) override {
    ULONG got = 0;
    HRESULT hr = stream_->Read(buffer, requested, &got);
    *delivered = got > requested ? requested : uint32_t(got);
    return hr;
  }

 private:
  IStream* stream_;
};

}  // namespace

void MetaDataSet::AddEntryFromStream(const GUID& guid, IStream* stream) {
  if (!stream) return;
  ComStreamSource source(stream);
  AddEntryFromSource(guid, source);
}

void MetaDataSet::LoadSummaryStream(IStream* stream) {
  if (!stream) return;
  ComStreamSource source(stream);
  LoadSummarySource(source);
}

void MetaDataSet::LoadGenericStream(IStream* stream) {
  if (!stream) return;
  ComStreamSource source(stream);
  LoadGenericSource(source);
}

}  // namespace fileutil
