// Wide-string helpers used throughout the library instead of the runtime's.
// Bounded operations count their capacity in characters including the
// terminator; a capacity below 1 writes nothing and a bounded result is always
// terminated.
#pragma once

#include "kvapi.h"

KV_EXTERN_C_BEGIN

wchar_t* KVAPI KvStrCpy(wchar_t* dst, const wchar_t* src);
wchar_t* KVAPI KvStrCat(wchar_t* dst, const wchar_t* src);
wchar_t* KVAPI KvStrCpyN(wchar_t* dst, const wchar_t* src, int cch);
int KVAPI KvStrCpyNLen(wchar_t* dst, const wchar_t* src, int cch);
wchar_t* KVAPI KvStrCatN(wchar_t* dst, const wchar_t* src, int cch);
int KVAPI KvStrLen(const wchar_t* text);
wchar_t* KVAPI KvCharNext(const wchar_t* p);
wchar_t* KVAPI KvStrChr(const wchar_t* text, wchar_t c);
wchar_t* KVAPI KvStrUpr(wchar_t* text);
int KVAPI KvStrCmpN(const wchar_t* a, const wchar_t* b, int n);
int KVAPI KvStrCmpNI(const wchar_t* a, const wchar_t* b, int n);
wchar_t* KVAPI KvSkipWhiteSpace(const wchar_t* text);
wchar_t* KVAPI KvFindTrailingWhiteSpace(const wchar_t* text);
int KVAPI KvWideToMultiByte(char* out, const wchar_t* text, int outBytes, UINT codePage);
int KVAPI KvMultiByteToWide(wchar_t* out, const char* text, int outChars, int textBytes, UINT codePage);
BOOL KVAPI KvIsDirectory(const wchar_t* path);
BOOL KVAPI KvPtInRect(const RECT* rect, int x, int y);

KV_EXTERN_C_END
