// The eight blanket classes and their factory.
//
// Every slot of a blanket is one of three kinds: forwarded (the calling
// thread's proxy is called with the same arguments), forwarded and wrapped
// (an interface the call hands back becomes a new blanket), or answered by the
// blanket itself (class index, manager, owner lookups along the chain of
// blankets that made this one).
#include "kvblanket.h"

#include <cwctype>
#include <new>
#include <string>
#include <vector>

#include "kvcomobject.h"
#include "kvdizuvo.h"
#include "kvgitholder.h"
#include "kvrendertemp.h"
#include "kvsurrogate.h"

namespace {

// Where a blanket came from. The parent is the blanket (or for class
// blankets, the manager) that made this one; `parentLinks` is the same parent
// seen as a blanket, so that owners further up the chain can be found, or
// null when the parent is not a blanket. Neither is referenced.
struct BlanketLinks {
  IUnknown* parent = nullptr;
  BlanketLinks* parentLinks = nullptr;
};

HRESULT CreateBlanket(REFIID iid, void** pointer, IUnknown* outer, IUnknown* parent, BlanketLinks* parentLinks);

// Results that say a proxy cannot reach its object from the calling thread's
// apartment, so the call was never made: the apartment the proxy was fetched
// for has gone (a thread left it, or a new thread got the id of an ended one).
bool IsUnreachable(HRESULT hr) {
  return hr == CO_E_OBJNOTCONNECTED || hr == RPC_E_DISCONNECTED || hr == RPC_E_WRONG_THREAD;
}

// `who`'s QueryInterface; no `who` means no such owner.
HRESULT AskFor(IUnknown* who, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!who) return E_NOINTERFACE;
  return who->QueryInterface(iid, out);
}

// The temporary files of renders into `target`'s folder: "~vog", eight
// hexadecimal digits and the target's extension.
std::vector<std::wstring> RenderTemporaries(const wchar_t* target) {
  std::vector<std::wstring> found;
  if (!target || !target[0]) return found;
  std::wstring folder, extension;
  kvrendertemp::SplitTarget(target, folder, extension);
  const std::wstring pattern = folder + kvrendertemp::kPrefix + std::wstring(kvrendertemp::kDigits, L'?') + extension;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    const std::wstring file(entry.cFileName);
    const size_t stem = kvrendertemp::kPrefixLength + kvrendertemp::kDigits;
    bool hex = file.size() == stem + extension.size() && _wcsicmp(file.c_str() + stem, extension.c_str()) == 0;
    for (size_t i = kvrendertemp::kPrefixLength; hex && i < stem; ++i) hex = iswxdigit(file[i]) != 0;
    if (hex && !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(folder + file);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return found;
}

// Deletes the render temporaries beside `target` that are not in `before`.
// The ended process's handles may take a moment to close.
void RemoveNewTemporaries(const wchar_t* target, const std::vector<std::wstring>& before) {
  for (const std::wstring& file : RenderTemporaries(target)) {
    bool old = false;
    for (const std::wstring& b : before) old = old || _wcsicmp(b.c_str(), file.c_str()) == 0;
    if (old) continue;
    for (int attempt = 0; attempt < 40; ++attempt) {
      if (DeleteFileW(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) break;
      Sleep(50);
    }
  }
}

// The common part: reference count, outer, the holder of the wrapped pointer
// and the three IUnknown slots. Only the interface's own slots are virtual:
// the destructor is not, so the virtual table is exactly the interface's.
template <class Derived, class I>
class Blanket : public I, public BlanketLinks {
 public:
  typedef I Interface;

  explicit Blanket(IUnknown* outer) : outer_(outer), holder_(Derived::kIid) {}

  HRESULT Register(I* real) { return holder_.Register(real); }
  IUnknown* Face() { return static_cast<I*>(this); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    HRESULT hr = kvcom::QueryFaces(this, iid, out, {{IID_IUnknown, Face()}, {Derived::kIid, Face()}});
    if (hr != E_NOINTERFACE) return hr;
    I* proxy = nullptr;
    hr = Proxy(&proxy);
    if (FAILED(hr)) return hr;
    hr = proxy->QueryInterface(iid, out);
    if (IsUnreachable(hr) && SUCCEEDED(Refresh(proxy, &proxy))) hr = proxy->QueryInterface(iid, out);
    if (FAILED(hr)) return hr;
    // One of the eight interfaces becomes a new blanket made from this one;
    // any other interface is handed out as it came.
    return CreateBlanket(iid, out, Face(), Face(), this);
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left != 0) return static_cast<ULONG>(left);
    if (holder_.registered()) holder_.Revoke();
    delete static_cast<Derived*>(this);
    return 0;
  }

 protected:
  ~Blanket() = default;

  // The wrapped interface as the calling thread must call it.
  HRESULT Proxy(I** out) {
    IUnknown* p = nullptr;
    HRESULT hr = holder_.GetForCurrentThread(&p);
    *out = static_cast<I*>(p);
    return hr;
  }

  // A fresh pointer for the calling thread after `stale` could not reach the
  // object.
  HRESULT Refresh(I* stale, I** out) {
    IUnknown* p = nullptr;
    HRESULT hr = holder_.RefreshForCurrentThread(stale, &p);
    *out = static_cast<I*>(p);
    return hr;
  }

  // A wrapped slot's interface out-argument after the forwarded call.
  template <class T>
  static HRESULT Wrap(HRESULT hr, REFIID iid, T** out, IUnknown* parent, BlanketLinks* parentLinks) {
    if (FAILED(hr)) return hr;
    return CreateBlanket(iid, reinterpret_cast<void**>(out), nullptr, parent, parentLinks);
  }

  // Owners along the chain: the parent's parent, and the one above it.
  IUnknown* Grandparent() const { return parentLinks ? parentLinks->parent : nullptr; }
  IUnknown* GreatGrandparent() const {
    return parentLinks && parentLinks->parentLinks ? parentLinks->parentLinks->parent : nullptr;
  }

  LONG refs_ = 1;
  IUnknown* outer_;
  CKvGITHolder holder_;
};

// The forwarded call: the calling thread's proxy, same slot, same arguments;
// once more through a fresh proxy when the cached one cannot reach the object.
#define KV_CALL_THROUGH_PROXY(Method, ...)                                      \
  Interface* proxy_ = nullptr;                                                  \
  HRESULT hr_ = Proxy(&proxy_);                                                 \
  if (FAILED(hr_)) return hr_;                                                  \
  hr_ = proxy_->Method(__VA_ARGS__);                                            \
  if (IsUnreachable(hr_) && SUCCEEDED(Refresh(proxy_, &proxy_))) hr_ = proxy_->Method(__VA_ARGS__);

// Forwarded slot.
#define KV_FORWARD(Method, ...)                 \
  {                                             \
    KV_CALL_THROUGH_PROXY(Method, __VA_ARGS__)  \
    return hr_;                                 \
  }

// Forwarded and wrapped slot: the interface in `out` becomes a new blanket.
#define KV_FORWARD_WRAP(iid, out, parent, links, Method, ...)  \
  {                                                            \
    KV_CALL_THROUGH_PROXY(Method, __VA_ARGS__)                 \
    return Wrap(hr_, iid, out, parent, links);                 \
  }

// The class blankets answer the class index and the manager themselves.
template <class Derived, class I>
class ClassBlanket : public Blanket<Derived, I> {
 public:
  using Blanket<Derived, I>::Blanket;
  void SetManager(IUnknown* manager) { manager_ = manager; }

  HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD index) override {
    classIndex_ = index;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD* index) override {
    if (!index) return E_POINTER;
    *index = classIndex_;
    return S_OK;
  }
  // The manager stays the one that made the chain.
  HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager** manager) override {
    return AskFor(manager_, IID_IKvDizuVOManager, reinterpret_cast<void**>(manager));
  }

 protected:
  DWORD classIndex_ = 0;
  IUnknown* manager_ = nullptr;
};

class ReadFileClassBlanket final : public ClassBlanket<ReadFileClassBlanket, IKvReadFileClass> {
 public:
  static constexpr const IID& kIid = IID_IKvReadFileClass;
  using ClassBlanket::ClassBlanket;

  HRESULT STDMETHODCALLTYPE GetReaderGuid(GUID* id) override KV_FORWARD(GetReaderGuid, id)
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* version) override KV_FORWARD(GetClassVersion, version)
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) override KV_FORWARD(GetFlags, flags)
  HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** renderer) override
      KV_FORWARD_WRAP(IID_IKvRenderFileClass, renderer, manager_, nullptr, GetRendererClass, renderer)
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count, BSTR* texts) override
      KV_FORWARD(GetInfoTexts, ids, count, texts)
  HRESULT STDMETHODCALLTYPE IdentifyFile(HANDLE file, const BYTE* header, DWORD cb, const wchar_t* extension) override
      KV_FORWARD(IdentifyFile, file, header, cb, extension)
  HRESULT STDMETHODCALLTYPE IsFileSupported(const wchar_t* path) override KV_FORWARD(IsFileSupported, path)
  HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR a) override KV_FORWARD(Reserved14, a)
  HRESULT STDMETHODCALLTYPE OpenReadFile(IKvReadFile** file, HANDLE handle, DWORD ownerProcessId, const wchar_t* path,
                                         BOOL open) override
      KV_FORWARD_WRAP(IID_IKvReadFile, file, Face(), this, OpenReadFile, file, handle, ownerProcessId, path, open)
  HRESULT STDMETHODCALLTYPE Reserved16() override KV_FORWARD(Reserved16)
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND parent) override KV_FORWARD(ShowAbout, parent)
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR a, DWORD_PTR b) override KV_FORWARD(Reserved18, a, b)
};

class RenderFileClassBlanket final : public ClassBlanket<RenderFileClassBlanket, IKvRenderFileClass> {
 public:
  static constexpr const IID& kIid = IID_IKvRenderFileClass;
  using ClassBlanket::ClassBlanket;

  HRESULT STDMETHODCALLTYPE GetRendererGuid(GUID* id) override KV_FORWARD(GetRendererGuid, id)
  HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* version) override KV_FORWARD(GetClassVersion, version)
  HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) override KV_FORWARD(GetFlags, flags)
  HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** reader) override
      KV_FORWARD_WRAP(IID_IKvReadFileClass, reader, manager_, nullptr, GetReaderClass, reader)
  HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count, BSTR* texts) override
      KV_FORWARD(GetInfoTexts, ids, count, texts)
  HRESULT STDMETHODCALLTYPE Reserved12(DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) override KV_FORWARD(Reserved12, a, b, c)
  HRESULT STDMETHODCALLTYPE CreateRenderFile(IKvRenderFile** file, const wchar_t* path, int streamCount,
                                             IKvReadStream** streams, const tagKVTEMPLATExV2* tmpl) override
      KV_FORWARD_WRAP(IID_IKvRenderFile, file, Face(), this, CreateRenderFile, file, path, streamCount, streams, tmpl)
  HRESULT STDMETHODCALLTYPE GetTemplateCount(int* count) override KV_FORWARD(GetTemplateCount, count)
  HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2** tmpl, int index) override
      KV_FORWARD(GetTemplate, tmpl, index)
  HRESULT STDMETHODCALLTYPE FindTemplateByGuid(const GUID* id, int* index) override
      KV_FORWARD(FindTemplateByGuid, id, index)
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR a, DWORD_PTR b, DWORD* out) override KV_FORWARD(Reserved17, a, b, out)
  HRESULT STDMETHODCALLTYPE ConvertTemplate(void** out, DWORD_PTR a, DWORD_PTR b) override
      KV_FORWARD(ConvertTemplate, out, a, b)
  HRESULT STDMETHODCALLTYPE Reserved19(void** out, DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) override
      KV_FORWARD(Reserved19, out, a, b, c)
  HRESULT STDMETHODCALLTYPE GetTemplateInfo(const tagKVTEMPLATExV2* tmpl, void* buf, DWORD cb, DWORD infoId) override
      KV_FORWARD(GetTemplateInfo, tmpl, buf, cb, infoId)
  HRESULT STDMETHODCALLTYPE GetTemplatePageCounts(DWORD* pages, DWORD* extraPages, DWORD* flags) override
      KV_FORWARD(GetTemplatePageCounts, pages, extraPages, flags)
  HRESULT STDMETHODCALLTYPE CreateTemplatePage(DWORD pageIndex, IUnknown** page) override
      KV_FORWARD(CreateTemplatePage, pageIndex, page)
  HRESULT STDMETHODCALLTYPE PrepareTemplatePages(DWORD_PTR a) override KV_FORWARD(PrepareTemplatePages, a)
  HRESULT STDMETHODCALLTYPE Reserved24() override KV_FORWARD(Reserved24)
  HRESULT STDMETHODCALLTYPE ShowAbout(HWND parent) override KV_FORWARD(ShowAbout, parent)
  HRESULT STDMETHODCALLTYPE Reserved26(DWORD_PTR a, DWORD_PTR b) override KV_FORWARD(Reserved26, a, b)
};

class ReadFileBlanket final : public Blanket<ReadFileBlanket, IKvReadFile> {
 public:
  static constexpr const IID& kIid = IID_IKvReadFile;
  using Blanket::Blanket;

  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) override {
    return AskFor(parent, IID_IKvReadFileClass, reinterpret_cast<void**>(owner));
  }
  HRESULT STDMETHODCALLTYPE GetInfoText(wchar_t* buf, int cch, UINT id) override KV_FORWARD(GetInfoText, buf, cch, id)
  HRESULT STDMETHODCALLTYPE GetStreamInfoText(wchar_t* buf, int cch, UINT stream, UINT id) override
      KV_FORWARD(GetStreamInfoText, buf, cch, stream, id)
  HRESULT STDMETHODCALLTYPE GetInfoValue(void* buf, DWORD cb, UINT id) override KV_FORWARD(GetInfoValue, buf, cb, id)
  HRESULT STDMETHODCALLTYPE GetStreamInfoValue(void* buf, DWORD cb, UINT stream, UINT id) override
      KV_FORWARD(GetStreamInfoValue, buf, cb, stream, id)
  // The copy belongs to the same class as this file.
  HRESULT STDMETHODCALLTYPE Clone(IKvReadFile** copy) override
      KV_FORWARD_WRAP(IID_IKvReadFile, copy, parent, parentLinks, Clone, copy)
  HRESULT STDMETHODCALLTYPE Close() override KV_FORWARD(Close)
  HRESULT STDMETHODCALLTYPE IsOpen() override KV_FORWARD(IsOpen)
  HRESULT STDMETHODCALLTYPE Open(DWORD access, DWORD share) override KV_FORWARD(Open, access, share)
  HRESULT STDMETHODCALLTYPE SetPath(const wchar_t* path) override KV_FORWARD(SetPath, path)
  HRESULT STDMETHODCALLTYPE GetPath(wchar_t* buf, int cch) override KV_FORWARD(GetPath, buf, cch)
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override KV_FORWARD(GetDuration, duration)
  HRESULT STDMETHODCALLTYPE GetStreamCount(UINT* count) override KV_FORWARD(GetStreamCount, count)
  HRESULT STDMETHODCALLTYPE GetStreamTypes(DWORD* mask) override KV_FORWARD(GetStreamTypes, mask)
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* records, UINT first, UINT count) override
      KV_FORWARD(GetStreamFormatInfo, records, first, count)
  HRESULT STDMETHODCALLTYPE GetStreamType(UINT stream, DWORD* type, DWORD* subIndex) override
      KV_FORWARD(GetStreamType, stream, type, subIndex)
  HRESULT STDMETHODCALLTYPE FindStreamIndex(DWORD ignored, DWORD type, UINT* index) override
      KV_FORWARD(FindStreamIndex, ignored, type, index)
  HRESULT STDMETHODCALLTYPE GetStreamByType(IKvReadStream** stream, DWORD typeMask, DWORD a, DWORD b, DWORD c) override
      KV_FORWARD_WRAP(IID_IKvReadStream, stream, Face(), this, GetStreamByType, stream, typeMask, a, b, c)
  HRESULT STDMETHODCALLTYPE SetStreamParam(UINT stream, DWORD ignored, DWORD value) override
      KV_FORWARD(SetStreamParam, stream, ignored, value)
  HRESULT STDMETHODCALLTYPE GetReadMeta(IKvReadMeta** meta) override
      KV_FORWARD_WRAP(IID_IKvReadMeta, meta, nullptr, nullptr, GetReadMeta, meta)
  HRESULT STDMETHODCALLTYPE Reserved23(void** out, DWORD a, DWORD b) override KV_FORWARD(Reserved23, out, a, b)
};

class RenderFileBlanket final : public Blanket<RenderFileBlanket, IKvRenderFile> {
 public:
  static constexpr const IID& kIid = IID_IKvRenderFile;
  using Blanket::Blanket;

  HRESULT STDMETHODCALLTYPE GetRenderFileClass(IKvRenderFileClass** owner) override {
    return AskFor(parent, IID_IKvRenderFileClass, reinterpret_cast<void**>(owner));
  }
  HRESULT STDMETHODCALLTYPE ReleaseSources() override KV_FORWARD(ReleaseSources)
  HRESULT STDMETHODCALLTYPE Reserved5() override KV_FORWARD(Reserved5)
  HRESULT STDMETHODCALLTYPE Reserved6(DWORD_PTR a, DWORD_PTR b) override KV_FORWARD(Reserved6, a, b)
  HRESULT STDMETHODCALLTYPE SetPath(const wchar_t* path) override KV_FORWARD(SetPath, path)
  HRESULT STDMETHODCALLTYPE GetPath(wchar_t* buf, int cch) override KV_FORWARD(GetPath, buf, cch)
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) override KV_FORWARD(GetStreamCount, count)
  HRESULT STDMETHODCALLTYPE Reserved10(DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) override KV_FORWARD(Reserved10, a, b, c)
  HRESULT STDMETHODCALLTYPE Reserved11(DWORD_PTR a, DWORD_PTR b) override KV_FORWARD(Reserved11, a, b)
  HRESULT STDMETHODCALLTYPE SetSourceStream(IKvReadStream* stream, UINT index) override
      KV_FORWARD(SetSourceStream, stream, index)
  HRESULT STDMETHODCALLTYPE SetSourceMeta(IKvReadMeta* meta) override KV_FORWARD(SetSourceMeta, meta)
  HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2** tmpl, DWORD reserved) override
      KV_FORWARD(GetTemplate, tmpl, reserved)
  HRESULT STDMETHODCALLTYPE Reserved15(DWORD_PTR a) override KV_FORWARD(Reserved15, a)
  // A render goes into a temporary file beside its target, which takes the
  // target's name once complete; the rendering process deletes it when the
  // render fails. When that process ends in the middle of the render, the
  // host deletes what it left.
  HRESULT STDMETHODCALLTYPE Render(IUnknown* progress) override {
    Interface* proxy = nullptr;
    HRESULT hr = Proxy(&proxy);
    if (FAILED(hr)) return hr;
    wchar_t target[MAX_PATH] = {};
    hr = proxy->GetPath(target, MAX_PATH);
    if (IsUnreachable(hr) && SUCCEEDED(Refresh(proxy, &proxy))) hr = proxy->GetPath(target, MAX_PATH);
    if (FAILED(hr)) target[0] = 0;
    target[MAX_PATH - 1] = 0;
    const std::vector<std::wstring> before = RenderTemporaries(target);
    hr = proxy->Render(progress);
    if (IsUnreachable(hr) && SUCCEEDED(Refresh(proxy, &proxy))) hr = proxy->Render(progress);
    if (KvFio_IsProcessGone(hr) || IsUnreachable(hr)) RemoveNewTemporaries(target, before);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE WriteMetadata(DWORD sampleRate, DWORD reserved) override
      KV_FORWARD(WriteMetadata, sampleRate, reserved)
};

// The slots common to the three stream blankets (5-10), forwarded.
#define KV_STREAM_FORWARDS                                                                                  \
  HRESULT STDMETHODCALLTYPE GetStreamFlags(DWORD* flags) override KV_FORWARD(GetStreamFlags, flags)         \
  HRESULT STDMETHODCALLTYPE GetStreamType(DWORD* type, DWORD* subIndex, DWORD* reserved) override           \
      KV_FORWARD(GetStreamType, type, subIndex, reserved)                                                   \
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override KV_FORWARD(GetDuration, duration)      \
  HRESULT STDMETHODCALLTYPE GetStartTime(LONGLONG* start) override KV_FORWARD(GetStartTime, start)          \
  HRESULT STDMETHODCALLTYPE SetUserValue(DWORD value) override KV_FORWARD(SetUserValue, value)              \
  HRESULT STDMETHODCALLTYPE Close() override KV_FORWARD(Close)

class ReadStreamBlanket final : public Blanket<ReadStreamBlanket, IKvReadStream> {
 public:
  static constexpr const IID& kIid = IID_IKvReadStream;
  using Blanket::Blanket;

  // The class of the file that returned this stream.
  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) override {
    return AskFor(Grandparent(), IID_IKvReadFileClass, reinterpret_cast<void**>(owner));
  }
  // The file blanket that returned this stream, without a reference.
  IKvReadFile* STDMETHODCALLTYPE GetReadFile() override {
    IKvReadFile* file = nullptr;
    if (FAILED(AskFor(parent, IID_IKvReadFile, reinterpret_cast<void**>(&file))) || !file) return nullptr;
    file->Release();
    return file;
  }
  KV_STREAM_FORWARDS
};

// A typed stream blanket is made by QueryInterface on a read-stream blanket:
// its outer and parent are that blanket, whose parent is the file blanket.
// IUnknown and IKvReadStream are answered by the outer, so that the stream
// keeps one identity.
template <class Derived, class I>
class TypedStreamBlanket : public Blanket<Derived, I> {
 public:
  using Blanket<Derived, I>::Blanket;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (this->outer_ && out && (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IKvReadStream))) {
      return this->outer_->QueryInterface(iid, out);
    }
    return Blanket<Derived, I>::QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) override {
    return AskFor(this->GreatGrandparent(), IID_IKvReadFileClass, reinterpret_cast<void**>(owner));
  }
  IKvReadFile* STDMETHODCALLTYPE GetReadFile() override {
    IKvReadFile* file = nullptr;
    if (FAILED(AskFor(this->Grandparent(), IID_IKvReadFile, reinterpret_cast<void**>(&file))) || !file) return nullptr;
    file->Release();
    return file;
  }
};

class ReadAudioStreamBlanket final : public TypedStreamBlanket<ReadAudioStreamBlanket, IKvReadAudioStream> {
 public:
  static constexpr const IID& kIid = IID_IKvReadAudioStream;
  using TypedStreamBlanket::TypedStreamBlanket;

  KV_STREAM_FORWARDS
  HRESULT STDMETHODCALLTYPE GetSampleCount(LONGLONG* frames) override KV_FORWARD(GetSampleCount, frames)
  HRESULT STDMETHODCALLTYPE GetBlockAlign(DWORD* blockAlign) override KV_FORWARD(GetBlockAlign, blockAlign)
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override
      KV_FORWARD(GetStreamFormatInfo, info)
  HRESULT STDMETHODCALLTYPE GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override
      KV_FORWARD(GetSourceFormatInfo, info)
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const _KVFILESTREAMFORMATINFOv2* info) override
      KV_FORWARD(IsFormatSupported, info)
  HRESULT STDMETHODCALLTYPE ReadSamples(LONGLONG firstSample, _kvmemorytoken buffer, LONG count, LONG* done) override
      KV_FORWARD(ReadSamples, firstSample, buffer, count, done)
  HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) override KV_FORWARD(Reserved17, a, b, c)
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR a) override KV_FORWARD(Reserved18, a)
};

class ReadVideoStreamBlanket final : public TypedStreamBlanket<ReadVideoStreamBlanket, IKvReadVideoStream> {
 public:
  static constexpr const IID& kIid = IID_IKvReadVideoStream;
  using TypedStreamBlanket::TypedStreamBlanket;

  KV_STREAM_FORWARDS
  HRESULT STDMETHODCALLTYPE Reserved11(DWORD_PTR a) override KV_FORWARD(Reserved11, a)
  HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) override
      KV_FORWARD(GetStreamFormatInfo, info)
  HRESULT STDMETHODCALLTYPE Reserved13(DWORD_PTR a) override KV_FORWARD(Reserved13, a)
  HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR a) override KV_FORWARD(Reserved14, a)
  HRESULT STDMETHODCALLTYPE Reserved15(DWORD a, DWORD b, DWORD c, DWORD d) override KV_FORWARD(Reserved15, a, b, c, d)
  HRESULT STDMETHODCALLTYPE Reserved16(DWORD a, DWORD b, DWORD c, DWORD d) override KV_FORWARD(Reserved16, a, b, c, d)
  HRESULT STDMETHODCALLTYPE ReadFrames(DWORD a, DWORD b, DWORD c, _kvmemorytoken buffer, DWORD d, DWORD e) override
      KV_FORWARD(ReadFrames, a, b, c, buffer, d, e)
  HRESULT STDMETHODCALLTYPE Reserved18(DWORD a, DWORD b, DWORD c) override KV_FORWARD(Reserved18, a, b, c)
  HRESULT STDMETHODCALLTYPE Reserved19(DWORD a, DWORD b, DWORD c) override KV_FORWARD(Reserved19, a, b, c)
  HRESULT STDMETHODCALLTYPE SetDoubleParam(double value) override KV_FORWARD(SetDoubleParam, value)
  HRESULT STDMETHODCALLTYPE Reserved21(DWORD_PTR a) override KV_FORWARD(Reserved21, a)
  HRESULT STDMETHODCALLTYPE Reserved22(DWORD_PTR a) override KV_FORWARD(Reserved22, a)
};

class ReadMetaBlanket final : public Blanket<ReadMetaBlanket, IKvReadMeta> {
 public:
  static constexpr const IID& kIid = IID_IKvReadMeta;
  using Blanket::Blanket;

  HRESULT STDMETHODCALLTYPE GetMarkers(IStream** markers) override KV_FORWARD(GetMarkers, markers)
  HRESULT STDMETHODCALLTYPE GetType2Stream(IStream** stream) override KV_FORWARD(GetType2Stream, stream)
  HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR a) override KV_FORWARD(Reserved5, a)
  HRESULT STDMETHODCALLTYPE GetSummaryText(UINT key, wchar_t* buf, int cch) override
      KV_FORWARD(GetSummaryText, key, buf, cch)
  HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream** summary) override KV_FORWARD(GetSummaryStream, summary)
};

#undef KV_STREAM_FORWARDS
#undef KV_FORWARD_WRAP
#undef KV_FORWARD
#undef KV_CALL_THROUGH_PROXY

// Where each kind of blanket keeps what made it.
void Attach(ReadFileClassBlanket* b, IUnknown* parent, BlanketLinks*) { b->SetManager(parent); }
void Attach(RenderFileClassBlanket* b, IUnknown* parent, BlanketLinks*) { b->SetManager(parent); }
void Attach(ReadMetaBlanket*, IUnknown*, BlanketLinks*) {}
void Attach(BlanketLinks* b, IUnknown* parent, BlanketLinks* parentLinks) {
  b->parent = parent;
  b->parentLinks = parentLinks;
}

template <class B>
HRESULT Make(IUnknown* real, IUnknown* outer, IUnknown* parent, BlanketLinks* parentLinks, IUnknown** out) {
  *out = nullptr;
  B* blanket = new (std::nothrow) B(outer);
  if (!blanket) return E_OUTOFMEMORY;
  HRESULT hr = blanket->Register(static_cast<typename B::Interface*>(real));
  if (FAILED(hr)) {
    blanket->Release();
    return hr;
  }
  Attach(blanket, parent, parentLinks);
  *out = blanket->Face();
  return S_OK;
}

HRESULT CreateBlanket(REFIID iid, void** pointer, IUnknown* outer, IUnknown* parent, BlanketLinks* parentLinks) {
  if (!pointer) return E_POINTER;
  if (!*pointer) return E_OUTOFMEMORY;
  IUnknown* real = static_cast<IUnknown*>(*pointer);
  IUnknown* blanket = nullptr;
  HRESULT hr;
  if (IsEqualGUID(iid, IID_IKvReadFileClass)) {
    hr = Make<ReadFileClassBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvRenderFileClass)) {
    hr = Make<RenderFileClassBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvReadFile)) {
    hr = Make<ReadFileBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvRenderFile)) {
    hr = Make<RenderFileBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvReadStream)) {
    hr = Make<ReadStreamBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvReadAudioStream)) {
    hr = Make<ReadAudioStreamBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvReadVideoStream)) {
    hr = Make<ReadVideoStreamBlanket>(real, outer, parent, parentLinks, &blanket);
  } else if (IsEqualGUID(iid, IID_IKvReadMeta)) {
    hr = Make<ReadMetaBlanket>(real, outer, parent, parentLinks, &blanket);
  } else {
    return S_OK;
  }
  // The blanket (through the table) now keeps the object; the caller's
  // reference goes, also when no blanket could be made.
  *pointer = blanket;
  real->Release();
  return blanket ? S_OK : hr;
}

}  // namespace

HRESULT KVAPI KvFio_CreateBlanket(REFIID iid, void** pointer, IUnknown* outer, IUnknown* parent) {
  // Called by the manager: the parent of a class blanket is the manager, and
  // a parent handed in from outside is not known as a blanket.
  return CreateBlanket(iid, pointer, outer, parent, nullptr);
}
