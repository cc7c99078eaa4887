// The file-IO plug-in interfaces: what a host (or the file-IO manager) calls on
// a file-format plug-in, and what a plug-in calls back on the host's streams.
//
// One declaration for the plug-in, the manager and every host program. The
// interfaces are pure abstract classes whose methods use the standard calling
// convention, so their virtual tables have the COM layout: the order of the
// methods below is the slot order and must never change. Records that belong
// to other parts of the library are only named here.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <oleauto.h>

// ---------------------------------------------------------------------------
// Records passed through the interfaces.

// A buffer that may live in another process, passed by value to the sample
// reads (ten 32-bit words in the 32-bit build; a wire format between
// processes). The handle and the address are pointer-sized: DWORD_PTR is DWORD
// in the 32-bit build, and holds them whole in the 64-bit one.
struct _kvmemorytoken {
  DWORD_PTR mapping;     // file-mapping handle, valid in the owner process
  DWORD reserved1;       // 0 in the tokens this program builds
  DWORD offset;          // byte offset of the data from base
  DWORD reserved3;       // 0
  DWORD size;            // bytes of data
  DWORD size2;           // the size again
  DWORD_PTR base;        // address of the buffer in the owner process
  DWORD reserved7;       // 0
  DWORD isMapping;       // nonzero: the buffer is the mapping named by `mapping`
  DWORD ownerProcessId;  // process that owns the buffer
};
#ifndef _WIN64
static_assert(sizeof(_kvmemorytoken) == 40, "_kvmemorytoken is ten 32-bit words");
#endif

// One stream's format as read files report it (184 bytes; declared by the
// render-template library).
struct _KVFILESTREAMFORMATINFOv2;
constexpr DWORD kKvFileStreamFormatInfoV2Size = 184;

// A render template (declared by the render-template library).
struct tagKVTEMPLATExV2;

// Identifier of an information text of a file class (extension list, dialog
// name, ...); 32 bits.
typedef DWORD KVFIO_FILECLASS_INFO_TEXT;

// The host-side file-IO manager (declared by the manager).
struct IKvDizuVOManager;

struct IKvReadFileClass;
struct IKvReadFile;
struct IKvReadStream;
struct IKvReadAudioStream;
struct IKvReadMeta;
struct IKvRenderFileClass;
struct IKvRenderFile;

// ---------------------------------------------------------------------------
// Interface ids.

inline constexpr IID IID_IKvReadFileClass = {0xeef647f1, 0x02ab, 0x4fcd, {0xb0, 0x6e, 0xa5, 0x01, 0xae, 0xff, 0x2d, 0x34}};
inline constexpr IID IID_IKvReadFile = {0x08458fe3, 0x09b8, 0x4c25, {0x8b, 0x42, 0xfa, 0x7a, 0x46, 0x0d, 0xfc, 0x47}};
inline constexpr IID IID_IKvReadStream = {0x60fd1c41, 0x7825, 0x11d3, {0xa4, 0x83, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37}};
inline constexpr IID IID_IKvReadAudioStream = {0x6e362ea8, 0xf473, 0x4167, {0xb8, 0x5f, 0x07, 0x4e, 0xab, 0x32, 0x90, 0xce}};
inline constexpr IID IID_IKvReadVideoStream = {0xd8e86f3c, 0x4c2f, 0x403c, {0xac, 0x5b, 0x43, 0xf0, 0x2a, 0xf1, 0xb4, 0x27}};
inline constexpr IID IID_IKvReadMeta = {0x001420e1, 0x938c, 0x11d3, {0xa4, 0x83, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37}};
inline constexpr IID IID_IKvReadGenericMeta = {0x960a6634, 0x5de0, 0x4c22, {0x90, 0xe0, 0x35, 0xd0, 0x1a, 0x0c, 0xf9, 0x71}};
inline constexpr IID IID_IKvReadProjectLinkMeta = {0xaf5f58c0, 0xf8e2, 0x4f2a, {0xb1, 0x48, 0x82, 0x92, 0x9d, 0x17, 0x2d, 0xbf}};
inline constexpr IID IID_IKvReadProjectLinkMetaEx = {0x13e407d5, 0x5fb5, 0x4626, {0xb6, 0xe4, 0x49, 0x66, 0x78, 0x88, 0xf5, 0xc0}};
inline constexpr IID IID_IKvReadMediaMgrMeta = {0x50feb89b, 0x8026, 0x4fcc, {0xa2, 0xcc, 0x85, 0x5b, 0xcf, 0x8f, 0xf7, 0x4f}};
inline constexpr IID IID_IKvReadPlimMeta = {0xf0345341, 0xbaf2, 0x11d4, {0xb2, 0x6a, 0x00, 0xa0, 0xd2, 0x18, 0x83, 0x87}};
inline constexpr IID IID_IKvRenderFileClass = {0x5f351064, 0x46ad, 0x47ee, {0x89, 0x99, 0x54, 0x87, 0x69, 0xe7, 0x36, 0x39}};
inline constexpr IID IID_IKvRenderFile = {0xa69223f6, 0x6701, 0x4b79, {0x95, 0xe5, 0x86, 0x4c, 0x2b, 0x24, 0xdc, 0xd7}};
// The two meta-support ids; a render file class answers both with the same face.
inline constexpr IID IID_IKvRenderMetaSupport = {0xba95f583, 0xfa5c, 0x436e, {0xb4, 0x5a, 0x0b, 0x76, 0xb6, 0x3b, 0x01, 0x0f}};
inline constexpr IID IID_IKvRenderMetaSupport2 = {0x6084e4b3, 0x9479, 0x4545, {0xb4, 0x69, 0xe2, 0xc0, 0x03, 0x2f, 0x20, 0xc3}};
inline constexpr IID IID_IKvUnsharedFIOPluginInfo = {0x404e18a7, 0xc288, 0x4499, {0x8e, 0x42, 0x33, 0xfe, 0xcf, 0xa1, 0x64, 0x2c}};

// The class id under which the manager asks every plug-in module for its
// plug-in info object (a plug-in's factory may ignore class ids).
inline constexpr CLSID CLSID_KvUnsharedFIOPluginInfo = {0xf6e48972, 0x515b, 0x4a5e, {0xb3, 0x16, 0xa4, 0x6a, 0x03, 0xc9, 0xc3, 0xc0}};

// ---------------------------------------------------------------------------
// Reader side.

// The reader's class object: identifies files and opens them.
struct IKvReadFileClass : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD index) = 0;                          // 3
  virtual HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD* index) = 0;                         // 4
  virtual HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager* manager) = 0;         // 5
  virtual HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager** manager) = 0;        // 6
  virtual HRESULT STDMETHODCALLTYPE GetReaderGuid(GUID* id) = 0;                             // 7
  virtual HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* version) = 0;                     // 8
  virtual HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) = 0;                              // 9
  virtual HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** renderer) = 0;     // 10
  virtual HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count,
                                                 BSTR* texts) = 0;                           // 11
  virtual HRESULT STDMETHODCALLTYPE IdentifyFile(HANDLE file, const BYTE* header, DWORD cb,
                                                 const wchar_t* extension) = 0;              // 12
  virtual HRESULT STDMETHODCALLTYPE IsFileSupported(const wchar_t* path) = 0;                // 13
  virtual HRESULT STDMETHODCALLTYPE Reserved14(DWORD_PTR a) = 0;                             // 14
  virtual HRESULT STDMETHODCALLTYPE OpenReadFile(IKvReadFile** file, HANDLE handle, DWORD ownerProcessId,
                                                 const wchar_t* path, BOOL open) = 0;        // 15
  virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;                                        // 16
  virtual HRESULT STDMETHODCALLTYPE ShowAbout(HWND parent) = 0;                              // 17
  virtual HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR a, DWORD_PTR b) = 0;                // 18
};

// One opened file of a reader: its streams, their formats, texts and metadata.
struct IKvReadFile : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) = 0;          // 3
  virtual HRESULT STDMETHODCALLTYPE GetInfoText(wchar_t* buf, int cch, UINT id) = 0;         // 4
  virtual HRESULT STDMETHODCALLTYPE GetStreamInfoText(wchar_t* buf, int cch, UINT stream, UINT id) = 0;  // 5
  virtual HRESULT STDMETHODCALLTYPE GetInfoValue(void* buf, DWORD cb, UINT id) = 0;          // 6
  virtual HRESULT STDMETHODCALLTYPE GetStreamInfoValue(void* buf, DWORD cb, UINT stream, UINT id) = 0;   // 7
  virtual HRESULT STDMETHODCALLTYPE Clone(IKvReadFile** copy) = 0;                           // 8
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                             // 9
  virtual HRESULT STDMETHODCALLTYPE IsOpen() = 0;                                            // 10
  virtual HRESULT STDMETHODCALLTYPE Open(DWORD access, DWORD share) = 0;                     // 11
  virtual HRESULT STDMETHODCALLTYPE SetPath(const wchar_t* path) = 0;                        // 12
  virtual HRESULT STDMETHODCALLTYPE GetPath(wchar_t* buf, int cch) = 0;                      // 13
  virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) = 0;                     // 14
  virtual HRESULT STDMETHODCALLTYPE GetStreamCount(UINT* count) = 0;                         // 15
  virtual HRESULT STDMETHODCALLTYPE GetStreamTypes(DWORD* mask) = 0;                         // 16
  virtual HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* records, UINT first,
                                                        UINT count) = 0;                     // 17
  virtual HRESULT STDMETHODCALLTYPE GetStreamType(UINT stream, DWORD* type, DWORD* subIndex) = 0;  // 18
  virtual HRESULT STDMETHODCALLTYPE FindStreamIndex(DWORD ignored, DWORD type, UINT* index) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE GetStreamByType(IKvReadStream** stream, DWORD typeMask, DWORD a,
                                                    DWORD b, DWORD c) = 0;                   // 20
  virtual HRESULT STDMETHODCALLTYPE SetStreamParam(UINT stream, DWORD ignored, DWORD value) = 0;  // 21
  virtual HRESULT STDMETHODCALLTYPE GetReadMeta(IKvReadMeta** meta) = 0;                     // 22
  virtual HRESULT STDMETHODCALLTYPE Reserved23(void** out, DWORD a, DWORD b) = 0;            // 23
};

// A stream of a read file (type 1 audio, 2 video).
struct IKvReadStream : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetReadFileClass(IKvReadFileClass** owner) = 0;          // 3
  // Returns the stream's file without adding a reference (may be null).
  virtual IKvReadFile* STDMETHODCALLTYPE GetReadFile() = 0;                                  // 4
  virtual HRESULT STDMETHODCALLTYPE GetStreamFlags(DWORD* flags) = 0;                        // 5
  virtual HRESULT STDMETHODCALLTYPE GetStreamType(DWORD* type, DWORD* subIndex, DWORD* reserved) = 0;  // 6
  virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) = 0;                     // 7 (100 ns)
  virtual HRESULT STDMETHODCALLTYPE GetStartTime(LONGLONG* start) = 0;                       // 8
  virtual HRESULT STDMETHODCALLTYPE SetUserValue(DWORD value) = 0;                           // 9
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                             // 10
};

// An audio stream: sample-frame reads into a host buffer named by a memory token.
struct IKvReadAudioStream : public IKvReadStream {
  virtual HRESULT STDMETHODCALLTYPE GetSampleCount(LONGLONG* frames) = 0;                    // 11
  virtual HRESULT STDMETHODCALLTYPE GetBlockAlign(DWORD* blockAlign) = 0;                    // 12
  virtual HRESULT STDMETHODCALLTYPE GetStreamFormatInfo(_KVFILESTREAMFORMATINFOv2* info) = 0;   // 13
  virtual HRESULT STDMETHODCALLTYPE GetSourceFormatInfo(_KVFILESTREAMFORMATINFOv2* info) = 0;   // 14
  virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const _KVFILESTREAMFORMATINFOv2* info) = 0;  // 15
  virtual HRESULT STDMETHODCALLTYPE ReadSamples(LONGLONG firstSample, _kvmemorytoken buffer, LONG count,
                                                LONG* done) = 0;                             // 16
  virtual HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) = 0;   // 17
  virtual HRESULT STDMETHODCALLTYPE Reserved18(DWORD_PTR a) = 0;                             // 18
};

// ---------------------------------------------------------------------------
// Metadata of a read file: the primary face and five further faces of one object.

struct IKvReadMeta : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetMarkers(IStream** markers) = 0;                       // 3
  virtual HRESULT STDMETHODCALLTYPE GetType2Stream(IStream** stream) = 0;                    // 4
  virtual HRESULT STDMETHODCALLTYPE Reserved5(DWORD_PTR a) = 0;                              // 5
  virtual HRESULT STDMETHODCALLTYPE GetSummaryText(UINT key, wchar_t* buf, int cch) = 0;     // 6
  virtual HRESULT STDMETHODCALLTYPE GetSummaryStream(IStream** summary) = 0;                 // 7
};

struct IKvReadGenericMeta : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                                             // 3
  virtual HRESULT STDMETHODCALLTYPE Next(IStream** entries) = 0;                             // 4
};

// Project-link fields 1 to 9, in this order. (The platform headers turn the
// name GetCommandLine into GetCommandLineW; callers see the same macro, so the
// slot is unaffected.)
struct IKvReadProjectLinkMeta : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProjectPath(IStream** field) = 0;                     // 3
  virtual HRESULT STDMETHODCALLTYPE GetCommandLine(IStream** field) = 0;                     // 4
  virtual HRESULT STDMETHODCALLTYPE GetRendererGuid(IStream** field) = 0;                    // 5
  virtual HRESULT STDMETHODCALLTYPE GetTemplateName(IStream** field) = 0;                    // 6
  virtual HRESULT STDMETHODCALLTYPE GetTemplateData(IStream** field) = 0;                    // 7
  virtual HRESULT STDMETHODCALLTYPE GetAppTemplateData(IStream** field) = 0;                 // 8
  virtual HRESULT STDMETHODCALLTYPE GetProjectData(IStream** field) = 0;                     // 9
  virtual HRESULT STDMETHODCALLTYPE GetCreatorAppInfo(IStream** field) = 0;                  // 10
  virtual HRESULT STDMETHODCALLTYPE GetCreatorAppWindowClassName(IStream** field) = 0;       // 11
};

struct IKvReadProjectLinkMetaEx : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetField(IStream** field, UINT fieldId) = 0;             // 3
};

struct IKvReadMediaMgrMeta : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetUserDefStream(IStream** entries) = 0;                 // 3
  virtual HRESULT STDMETHODCALLTYPE GetUserDefInfo(BYTE* record12) = 0;                      // 4
};

struct IKvReadPlimMeta : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPlimInfo(BYTE* record24) = 0;                         // 3
  virtual HRESULT STDMETHODCALLTYPE GetPlimInfoEx(BYTE* record28) = 0;                       // 4
  virtual HRESULT STDMETHODCALLTYPE GetPlimStream(IStream** entries) = 0;                    // 5
};

// ---------------------------------------------------------------------------
// Render side.

// The renderer's class object: templates and the creation of render files.
struct IKvRenderFileClass : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetClassIndex(DWORD index) = 0;                          // 3
  virtual HRESULT STDMETHODCALLTYPE GetClassIndex(DWORD* index) = 0;                         // 4
  virtual HRESULT STDMETHODCALLTYPE SetDizuVOManager(IKvDizuVOManager* manager) = 0;         // 5
  virtual HRESULT STDMETHODCALLTYPE GetDizuVOManager(IKvDizuVOManager** manager) = 0;        // 6
  virtual HRESULT STDMETHODCALLTYPE GetRendererGuid(GUID* id) = 0;                           // 7
  virtual HRESULT STDMETHODCALLTYPE GetClassVersion(DWORD* version) = 0;                     // 8
  virtual HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) = 0;                              // 9
  virtual HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** reader) = 0;           // 10
  virtual HRESULT STDMETHODCALLTYPE GetInfoTexts(const KVFIO_FILECLASS_INFO_TEXT* ids, ULONG count,
                                                 BSTR* texts) = 0;                           // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12(DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) = 0;   // 12
  virtual HRESULT STDMETHODCALLTYPE CreateRenderFile(IKvRenderFile** file, const wchar_t* path, int streamCount,
                                                     IKvReadStream** streams,
                                                     const tagKVTEMPLATExV2* tmpl) = 0;      // 13
  virtual HRESULT STDMETHODCALLTYPE GetTemplateCount(int* count) = 0;                        // 14
  // The caller owns the returned template and frees it with the runtime's free.
  virtual HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2** tmpl, int index) = 0;     // 15
  virtual HRESULT STDMETHODCALLTYPE FindTemplateByGuid(const GUID* id, int* index) = 0;      // 16
  virtual HRESULT STDMETHODCALLTYPE Reserved17(DWORD_PTR a, DWORD_PTR b, DWORD* out) = 0;    // 17
  virtual HRESULT STDMETHODCALLTYPE ConvertTemplate(void** out, DWORD_PTR a, DWORD_PTR b) = 0;  // 18
  virtual HRESULT STDMETHODCALLTYPE Reserved19(void** out, DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE GetTemplateInfo(const tagKVTEMPLATExV2* tmpl, void* buf, DWORD cb,
                                                    DWORD infoId) = 0;                       // 20
  virtual HRESULT STDMETHODCALLTYPE GetTemplatePageCounts(DWORD* pages, DWORD* extraPages, DWORD* flags) = 0;  // 21
  virtual HRESULT STDMETHODCALLTYPE CreateTemplatePage(DWORD pageIndex, IUnknown** page) = 0;  // 22
  virtual HRESULT STDMETHODCALLTYPE PrepareTemplatePages(DWORD_PTR a) = 0;                   // 23
  virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;                                        // 24
  virtual HRESULT STDMETHODCALLTYPE ShowAbout(HWND parent) = 0;                              // 25
  virtual HRESULT STDMETHODCALLTYPE Reserved26(DWORD_PTR a, DWORD_PTR b) = 0;                // 26
};

// Which kinds of metadata a renderer can write.
struct IKvRenderMetaSupport : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                                             // 3
  virtual HRESULT STDMETHODCALLTYPE Next(void* item, DWORD* size) = 0;                       // 4
};

struct IKvRenderMetaSupport2 : public IKvRenderMetaSupport {
  virtual HRESULT STDMETHODCALLTYPE GetSupportedMetaFlags(DWORD* flags, DWORD* flags2) = 0;  // 5
};

// One save operation: target path, source streams and metadata, then Render.
struct IKvRenderFile : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetRenderFileClass(IKvRenderFileClass** owner) = 0;      // 3
  virtual HRESULT STDMETHODCALLTYPE ReleaseSources() = 0;                                    // 4
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;                                         // 5
  virtual HRESULT STDMETHODCALLTYPE Reserved6(DWORD_PTR a, DWORD_PTR b) = 0;                 // 6
  virtual HRESULT STDMETHODCALLTYPE SetPath(const wchar_t* path) = 0;                        // 7
  virtual HRESULT STDMETHODCALLTYPE GetPath(wchar_t* buf, int cch) = 0;                      // 8
  virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) = 0;                        // 9
  virtual HRESULT STDMETHODCALLTYPE Reserved10(DWORD_PTR a, DWORD_PTR b, DWORD_PTR c) = 0;   // 10
  virtual HRESULT STDMETHODCALLTYPE Reserved11(DWORD_PTR a, DWORD_PTR b) = 0;                // 11
  virtual HRESULT STDMETHODCALLTYPE SetSourceStream(IKvReadStream* stream, UINT index) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE SetSourceMeta(IKvReadMeta* meta) = 0;                    // 13
  virtual HRESULT STDMETHODCALLTYPE GetTemplate(tagKVTEMPLATExV2** tmpl, DWORD reserved) = 0;  // 14
  virtual HRESULT STDMETHODCALLTYPE Reserved15(DWORD_PTR a) = 0;                             // 15
  // `progress` is the host's progress sink (its slots 3 and 6 are called).
  virtual HRESULT STDMETHODCALLTYPE Render(IUnknown* progress) = 0;                          // 16
  virtual HRESULT STDMETHODCALLTYPE WriteMetadata(DWORD sampleRate, DWORD reserved) = 0;     // 17
};

// ---------------------------------------------------------------------------
// The plug-in's description for the manager: one row per plug-in in the module.

struct IKvUnsharedFIOPluginInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(DWORD a, DWORD b, DWORD c) = 0;               // 3
  virtual HRESULT STDMETHODCALLTYPE GetItemCount(UINT* count) = 0;                           // 4
  // value1: access mask (16 reader, 32 renderer); value2: stream type;
  // value3: application level; value4..value6 and last: further values; zero: 0.
  virtual HRESULT STDMETHODCALLTYPE GetItem(int index, GUID* id, wchar_t* name, int cchName, DWORD* value1,
                                            DWORD* value2, DWORD* value3, DWORD* value4, DWORD* value5,
                                            DWORD* value6, DWORD* zero, DWORD* last) = 0;   // 5
};

// __uuidof support for the interfaces above.
__CRT_UUID_DECL(IKvReadFileClass, 0xeef647f1, 0x02ab, 0x4fcd, 0xb0, 0x6e, 0xa5, 0x01, 0xae, 0xff, 0x2d, 0x34)
__CRT_UUID_DECL(IKvReadFile, 0x08458fe3, 0x09b8, 0x4c25, 0x8b, 0x42, 0xfa, 0x7a, 0x46, 0x0d, 0xfc, 0x47)
__CRT_UUID_DECL(IKvReadStream, 0x60fd1c41, 0x7825, 0x11d3, 0xa4, 0x83, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37)
__CRT_UUID_DECL(IKvReadAudioStream, 0x6e362ea8, 0xf473, 0x4167, 0xb8, 0x5f, 0x07, 0x4e, 0xab, 0x32, 0x90, 0xce)
__CRT_UUID_DECL(IKvReadMeta, 0x001420e1, 0x938c, 0x11d3, 0xa4, 0x83, 0x00, 0x10, 0x5a, 0x24, 0xaa, 0x37)
__CRT_UUID_DECL(IKvReadGenericMeta, 0x960a6634, 0x5de0, 0x4c22, 0x90, 0xe0, 0x35, 0xd0, 0x1a, 0x0c, 0xf9, 0x71)
__CRT_UUID_DECL(IKvReadProjectLinkMeta, 0xaf5f58c0, 0xf8e2, 0x4f2a, 0xb1, 0x48, 0x82, 0x92, 0x9d, 0x17, 0x2d, 0xbf)
__CRT_UUID_DECL(IKvReadProjectLinkMetaEx, 0x13e407d5, 0x5fb5, 0x4626, 0xb6, 0xe4, 0x49, 0x66, 0x78, 0x88, 0xf5, 0xc0)
__CRT_UUID_DECL(IKvReadMediaMgrMeta, 0x50feb89b, 0x8026, 0x4fcc, 0xa2, 0xcc, 0x85, 0x5b, 0xcf, 0x8f, 0xf7, 0x4f)
__CRT_UUID_DECL(IKvReadPlimMeta, 0xf0345341, 0xbaf2, 0x11d4, 0xb2, 0x6a, 0x00, 0xa0, 0xd2, 0x18, 0x83, 0x87)
__CRT_UUID_DECL(IKvRenderFileClass, 0x5f351064, 0x46ad, 0x47ee, 0x89, 0x99, 0x54, 0x87, 0x69, 0xe7, 0x36, 0x39)
__CRT_UUID_DECL(IKvRenderMetaSupport, 0xba95f583, 0xfa5c, 0x436e, 0xb4, 0x5a, 0x0b, 0x76, 0xb6, 0x3b, 0x01, 0x0f)
__CRT_UUID_DECL(IKvRenderMetaSupport2, 0x6084e4b3, 0x9479, 0x4545, 0xb4, 0x69, 0xe2, 0xc0, 0x03, 0x2f, 0x20, 0xc3)
__CRT_UUID_DECL(IKvRenderFile, 0xa69223f6, 0x6701, 0x4b79, 0x95, 0xe5, 0x86, 0x4c, 0x2b, 0x24, 0xdc, 0xd7)
__CRT_UUID_DECL(IKvUnsharedFIOPluginInfo, 0x404e18a7, 0xc288, 0x4499, 0x8e, 0x42, 0x33, 0xfe, 0xcf, 0xa1, 0x64, 0x2c)
