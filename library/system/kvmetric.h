// Registry settings ("metrics"): one persisted setting of an application is a
// registry value under a per-application, per-version key, addressed by a
// number and a type ("%d" REG_DWORD, "S%d" REG_SZ, "B%d" REG_BINARY, "Z%d"
// REG_MULTI_SZ, by the absolute value of the id).
#pragma once

#include <objidl.h>

#include "kvapi.h"

typedef struct KvMetricHandle* HKVMETRIC;
// The process default handle (never set by the library: it has no key).
#define KV_METRIC_DEFAULT (reinterpret_cast<HKVMETRIC>(-1))

KV_EXTERN_C_BEGIN

HRESULT KVAPI KvMetric_Open(HKVMETRIC* out, const wchar_t* application, DWORD version, const wchar_t* subKey);
HRESULT KVAPI KvMetric_OpenAppVersion(HKVMETRIC* out, const wchar_t* applicationAndVersion, const wchar_t* subKey);
HRESULT KVAPI KvMetric_OpenService(HKVMETRIC* out, const wchar_t* service, DWORD version, const wchar_t* subKey);
HRESULT KVAPI KvMetric_OpenSubKey(HKVMETRIC* out, HKVMETRIC parent, const wchar_t* subKey);
HRESULT KVAPI KvMetric_Close(HKVMETRIC metric);
HRESULT KVAPI KvMetric_CloseAndDeleteKey(HKVMETRIC metric);
HRESULT KVAPI KvMetric_DeleteAll(const wchar_t* application, DWORD version);
HRESULT KVAPI KvMetric_DeleteKey(const wchar_t* application, DWORD version, const wchar_t* subKey);
HRESULT KVAPI KvMetric_DeleteAllService(const wchar_t* service, DWORD version);
HRESULT KVAPI KvMetric_DeleteKeyService(const wchar_t* service, DWORD version, const wchar_t* subKey);
int KVAPI KvMetricGetName(int id, DWORD type, wchar_t* buffer);

DWORD KVAPI KvGetMetric(HKVMETRIC metric, int id);
int KVAPI KvGetMetricEx(HKVMETRIC metric, int id, int minimum, int maximum, int defaultValue);
BOOL KVAPI KvGetMetricBool(HKVMETRIC metric, int id, BOOL defaultValue);
HRESULT KVAPI KvSetMetric(HKVMETRIC metric, int id, DWORD value);
DWORD KVAPI KvGetMetricUsingName(HKVMETRIC metric, const wchar_t* name, DWORD defaultValue);
HRESULT KVAPI KvSetMetricUsingName(HKVMETRIC metric, const wchar_t* name, DWORD value);

int KVAPI KvGetMetricStringEx(HKVMETRIC metric, int id, wchar_t* buffer, int chars, const wchar_t* defaultText,
                              BOOL keepEmpty);
HRESULT KVAPI KvSetMetricString(HKVMETRIC metric, int id, const wchar_t* text);
int KVAPI KvGetMetricMultiStringEx(HKVMETRIC metric, int id, wchar_t* buffer, int chars, const wchar_t* defaultText,
                                   BOOL keepEmpty);
HRESULT KVAPI KvSetMetricMultiString(HKVMETRIC metric, int id, const wchar_t* data, int chars);

DWORD KVAPI KvGetMetricBinary(HKVMETRIC metric, int id, void* buffer, DWORD size);
HRESULT KVAPI KvGetMetricBinaryEx(HKVMETRIC metric, int id, void* buffer, DWORD size, DWORD* storedSize);
HRESULT KVAPI KvSetMetricBinary(HKVMETRIC metric, int id, const void* data, DWORD size);
HRESULT KVAPI KvSetMetricStream(HKVMETRIC metric, int id, IStream* stream);
HRESULT KVAPI KvGetMetricStream(HKVMETRIC metric, int id, IStream* stream);

HRESULT KVAPI KvGetMetricAny(HKVMETRIC metric, int id, DWORD type, void* buffer, DWORD size, DWORD* storedSize);
HRESULT KVAPI KvDoesMetricExist(HKVMETRIC metric, int id, DWORD type);
HRESULT KVAPI KvDeleteMetric(HKVMETRIC metric, int id, DWORD type);
HRESULT KVAPI KvDeleteMetricUsingName(HKVMETRIC metric, const wchar_t* name, DWORD type);

KV_EXTERN_C_END
