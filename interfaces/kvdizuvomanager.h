// The file-IO manager's interface: what plug-ins and host programs call on the
// host-side registry of file-format plug-ins. Declared once, here, for the
// manager that implements it, the plug-ins and library code that call it and
// the test stand-ins that imitate it.
//
// The methods use the standard calling convention and their order is the slot
// order of the virtual table; under __stdcall the callee removes its
// arguments, so every slot must carry exactly the arguments the manager takes.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "kvfileio.h"

inline constexpr IID IID_IKvDizuVOManager = {0xd4ff4749, 0x8ace, 0x457e, {0xa8, 0x78, 0xd4, 0xad, 0x33, 0x21, 0x74, 0xba}};
inline constexpr IID IID_IKvDizuVOMgrForApp = {0xd4ff4750, 0x8ace, 0x457e, {0xa8, 0x78, 0xd4, 0xad, 0x33, 0x21, 0x74, 0xba}};

// Records and enumerators of the manager's library, named here only.
struct KVFIO_PLUGININFO;
struct IKvDizuVOTypeEnum;
struct IKvFIOPluginEnum;

// Slots 3 to 41.
struct IKvDizuVOManager : public IUnknown {
  // The host's language (the manager module's language handle); reserved must be 0.
  virtual HRESULT STDMETHODCALLTYPE GetLanguageID(LCID* lcid, DWORD reserved) = 0;                       // 3
  virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;                                                     // 4
  // The host's settings ("metrics"), by id: numbers, strings and binary
  // values. The string and binary getters report the size they need
  // (characters with the terminator, bytes) through the last argument.
  virtual HRESULT STDMETHODCALLTYPE GetMetric(int id, DWORD* value) = 0;                                 // 5
  virtual HRESULT STDMETHODCALLTYPE SetMetric(int id, DWORD value) = 0;                                  // 6
  virtual HRESULT STDMETHODCALLTYPE GetMetricString(int id, wchar_t* buf, DWORD cch, DWORD* cchOut) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE SetMetricString(int id, const wchar_t* text) = 0;                    // 8
  virtual HRESULT STDMETHODCALLTYPE DeleteMetric(int id, DWORD type) = 0;                                // 9
  virtual HRESULT STDMETHODCALLTYPE GetMetricBinary(int id, void* buf, DWORD cb, DWORD* cbOut) = 0;      // 10
  virtual HRESULT STDMETHODCALLTYPE SetMetricBinary(int id, const DWORD* words, DWORD count) = 0;        // 11
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                                    // 12
  virtual HRESULT STDMETHODCALLTYPE GetReaderClassByFormatId(IKvReadFileClass** out, DWORD formatId) = 0;  // 13
  virtual HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** out, const GUID* readerId) = 0;      // 14
  virtual HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** out, const GUID* rendererId) = 0;  // 15
  virtual HRESULT STDMETHODCALLTYPE FindReaderClassByExtension(IKvReadFileClass** out, const wchar_t* ext,
                                                               int* position) = 0;                       // 16
  virtual HRESULT STDMETHODCALLTYPE FindRendererClassByExtension(IKvRenderFileClass** out, const wchar_t* ext,
                                                                 int* position) = 0;                     // 17
  virtual HRESULT STDMETHODCALLTYPE OpenFile(const wchar_t* path, IKvReadFile** out, DWORD flags) = 0;     // 18
  virtual HRESULT STDMETHODCALLTYPE OpenFileEx(const wchar_t* path, IKvReadFile** out, DWORD ignored,
                                               DWORD flags) = 0;                                         // 19
  virtual HRESULT STDMETHODCALLTYPE EditTemplate(HWND owner, IKvRenderFileClass* cls, DWORD value,
                                                 const DWORD* placement, DWORD* flags, IStream* templates,
                                                 const tagKVTEMPLATExV2* current,
                                                 tagKVTEMPLATExV2** result) = 0;                         // 20
  virtual HRESULT STDMETHODCALLTYPE InitializeDefault(DWORD flags) = 0;                                  // 21
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;                                                      // 22
  virtual HRESULT STDMETHODCALLTYPE GetAppValue(DWORD* value) = 0;                                       // 23
  virtual HRESULT STDMETHODCALLTYPE GetReaderEnum(IKvDizuVOTypeEnum** out) = 0;                          // 24
  virtual HRESULT STDMETHODCALLTYPE GetRendererEnum(IKvDizuVOTypeEnum** out) = 0;                        // 25
  virtual int STDMETHODCALLTYPE GetReaderCount() = 0;                                                    // 26
  virtual int STDMETHODCALLTYPE GetRendererCount() = 0;                                                  // 27
  virtual HRESULT STDMETHODCALLTYPE FindReaderForFile(HANDLE file, const wchar_t* path, int* readerIndex,
                                                      DWORD flags) = 0;                                  // 28
  virtual HRESULT STDMETHODCALLTYPE FindReaderForPath(const wchar_t* path, int* readerIndex) = 0;          // 29
  virtual HRESULT STDMETHODCALLTYPE GetReaderClassByIndex(IKvReadFileClass** out, int index) = 0;          // 30
  virtual HRESULT STDMETHODCALLTYPE GetRendererClassByIndex(IKvRenderFileClass** out, int index) = 0;      // 31
  virtual HRESULT STDMETHODCALLTYPE FindRendererClassForExtension(IKvRenderFileClass** out,
                                                                  const wchar_t* ext) = 0;               // 32
  virtual HRESULT STDMETHODCALLTYPE Reserved33() = 0;                                                    // 33
  virtual HRESULT STDMETHODCALLTYPE FindReaderClassForFile(const wchar_t* path, IKvReadFileClass** out) = 0;  // 34
  virtual HRESULT STDMETHODCALLTYPE CheckFileWithReader(const wchar_t* path, DWORD flags) = 0;             // 35
  virtual HRESULT STDMETHODCALLTYPE GetPluginCount(int* count) = 0;                                      // 36
  virtual HRESULT STDMETHODCALLTYPE HasPlugin(const GUID* id) = 0;                                       // 37
  virtual HRESULT STDMETHODCALLTYPE GetPluginEnum(IKvFIOPluginEnum** out) = 0;                           // 38
  virtual HRESULT STDMETHODCALLTYPE GetPluginInfo(const GUID* id, KVFIO_PLUGININFO* info) = 0;           // 39
  virtual HRESULT STDMETHODCALLTYPE CreateFilterBuilder(IUnknown** out, DWORD kind, DWORD value,
                                                        DWORD flags) = 0;                                // 40
  virtual HRESULT STDMETHODCALLTYPE CreateFilterBuilderEx(IUnknown** out, DWORD kind, DWORD mask, DWORD value,
                                                          DWORD flags) = 0;                              // 41
};

// The host application's id for the same interface: the manager answers both
// with one pointer.
struct IKvDizuVOMgrForApp : public IKvDizuVOManager {};

__CRT_UUID_DECL(IKvDizuVOManager, 0xd4ff4749, 0x8ace, 0x457e, 0xa8, 0x78, 0xd4, 0xad, 0x33, 0x21, 0x74, 0xba)
__CRT_UUID_DECL(IKvDizuVOMgrForApp, 0xd4ff4750, 0x8ace, 0x457e, 0xa8, 0x78, 0xd4, 0xad, 0x33, 0x21, 0x74, 0xba)
