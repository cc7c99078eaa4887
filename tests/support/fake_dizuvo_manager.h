// A stand-in for the file-IO manager, built on the one declaration of its
// interface. It answers the language query, the class look-ups and the
// settings slots from values a test sets, records what it was asked, and
// counts references (a release below zero is counted, not done). Every other
// slot answers E_NOTIMPL.
#pragma once

#include <windows.h>

#include <cwchar>

#include "kvcomobject.h"
#include "kvdizuvomanager.h"

namespace vogtest {

class FakeDizuVOManager : public IKvDizuVOMgrForApp {
 public:
  // ---- what the test sets -------------------------------------------------
  LCID lcid = 1033;
  // GetReaderClass and GetRendererClass: no class, this result.
  HRESULT classResult = static_cast<HRESULT>(0x8004E016);
  // The settings slots return metricResult; GetMetric gives metricValue, the
  // string getter copies metricText when it fits, and both sized getters
  // report outCount.
  HRESULT metricResult = S_OK;
  DWORD metricValue = 77;
  const wchar_t* metricText = L"hello";
  DWORD outCount = 0;

  // ---- what the test reads back ---------------------------------------------
  LONG refs = 1;
  int underflows = 0;
  int languageCalls = 0;
  GUID askedReader = {};
  GUID askedRenderer = {};
  int lastId = 0;
  DWORD lastValue = 0;

  IKvDizuVOManager* AsManager() { return this; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return kvcom::QueryFaces(this, riid, ppv,
                             {{IID_IUnknown, static_cast<IKvDizuVOManager*>(this)},
                              {IID_IKvDizuVOManager, static_cast<IKvDizuVOManager*>(this)},
                              {IID_IKvDizuVOMgrForApp, static_cast<IKvDizuVOMgrForApp*>(this)}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return kvcom::AddRefCount(refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs <= 0) {
      ++underflows;
      return 0;
    }
    return static_cast<ULONG>(InterlockedDecrement(&refs));
  }

  HRESULT STDMETHODCALLTYPE GetLanguageID(LCID* out, DWORD reserved) override {
    ++languageCalls;
    if (reserved != 0) return E_INVALIDARG;
    *out = lcid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetMetric(int id, DWORD* value) override {
    lastId = id;
    *value = metricValue;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE SetMetric(int id, DWORD value) override {
    lastId = id;
    lastValue = value;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE GetMetricString(int id, wchar_t* buf, DWORD cch, DWORD* cchOut) override {
    lastId = id;
    if (SUCCEEDED(metricResult) && buf && cch > std::wcslen(metricText)) std::wcscpy(buf, metricText);
    *cchOut = outCount;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE SetMetricString(int id, const wchar_t*) override {
    lastId = id;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE DeleteMetric(int id, DWORD type) override {
    lastId = id;
    lastValue = type;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE GetMetricBinary(int id, void*, DWORD, DWORD* cbOut) override {
    lastId = id;
    *cbOut = outCount;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE SetMetricBinary(int id, const DWORD*, DWORD count) override {
    lastId = id;
    lastValue = count;
    return metricResult;
  }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetReaderClassByFormatId(IKvReadFileClass**, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderClass(IKvReadFileClass** out, const GUID* id) override {
    askedReader = *id;
    *out = nullptr;
    return classResult;
  }
  HRESULT STDMETHODCALLTYPE GetRendererClass(IKvRenderFileClass** out, const GUID* id) override {
    askedRenderer = *id;
    *out = nullptr;
    return classResult;
  }
  HRESULT STDMETHODCALLTYPE FindReaderClassByExtension(IKvReadFileClass**, const wchar_t*, int*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindRendererClassByExtension(IKvRenderFileClass**, const wchar_t*, int*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OpenFile(const wchar_t*, IKvReadFile**, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenFileEx(const wchar_t*, IKvReadFile**, DWORD, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EditTemplate(HWND, IKvRenderFileClass*, DWORD, const DWORD*, DWORD*, IStream*,
                                         const tagKVTEMPLATExV2*, tagKVTEMPLATExV2**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE InitializeDefault(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Shutdown() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAppValue(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderEnum(IKvDizuVOTypeEnum**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRendererEnum(IKvDizuVOTypeEnum**) override { return E_NOTIMPL; }
  int STDMETHODCALLTYPE GetReaderCount() override { return 0; }
  int STDMETHODCALLTYPE GetRendererCount() override { return 0; }
  HRESULT STDMETHODCALLTYPE FindReaderForFile(HANDLE, const wchar_t*, int*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindReaderForPath(const wchar_t*, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetReaderClassByIndex(IKvReadFileClass**, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRendererClassByIndex(IKvRenderFileClass**, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindRendererClassForExtension(IKvRenderFileClass**, const wchar_t*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reserved33() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindReaderClassForFile(const wchar_t*, IKvReadFileClass**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CheckFileWithReader(const wchar_t*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPluginCount(int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE HasPlugin(const GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPluginEnum(IKvFIOPluginEnum**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPluginInfo(const GUID*, KVFIO_PLUGININFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateFilterBuilder(IUnknown**, DWORD, DWORD, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateFilterBuilderEx(IUnknown**, DWORD, DWORD, DWORD, DWORD) override {
    return E_NOTIMPL;
  }
};

}  // namespace vogtest
