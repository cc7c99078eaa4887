// Wide-string helpers: copies, concatenation, comparison, white space and code
// page conversion.
#include "kvstr.h"

#include <wctype.h>

#include <vector>

namespace {

const wchar_t kEmpty[] = L"";

// Length of at most `n` leading characters of `text`.
int PrefixLength(const wchar_t* text, int n) {
  int len = 0;
  while (len < n && text[len]) ++len;
  return len;
}

int ComparePrefixes(const wchar_t* a, const wchar_t* b, int n, DWORD flags) {
  if (n < 0) return 0;
  if (!a) a = kEmpty;
  if (!b) b = kEmpty;
  int la = PrefixLength(a, n);
  int lb = PrefixLength(b, n);
  // The same locale-aware comparison as lstrcmpW / lstrcmpiW, limited to the
  // first n characters of each text.
  int r = CompareStringW(GetThreadLocale(), flags, a, la, b, lb);
  return r ? r - CSTR_EQUAL : 0;
}

}  // namespace

extern "C" {

wchar_t* KVAPI KvStrCpy(wchar_t* dst, const wchar_t* src) {
  if (!dst) return dst;
  if (!src) src = kEmpty;
  wchar_t* d = dst;
  while ((*d++ = *src++) != 0) {
  }
  return dst;
}

wchar_t* KVAPI KvStrCat(wchar_t* dst, const wchar_t* src) {
  if (!dst) return dst;
  KvStrCpy(dst + KvStrLen(dst), src);
  return dst;
}

wchar_t* KVAPI KvStrCpyN(wchar_t* dst, const wchar_t* src, int cch) {
  if (!dst || cch < 1) return dst;
  if (!src) src = kEmpty;
  int i = 0;
  for (; i < cch - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

int KVAPI KvStrCpyNLen(wchar_t* dst, const wchar_t* src, int cch) {
  if (!dst || cch < 1) return 0;
  KvStrCpyN(dst, src, cch);
  return KvStrLen(dst);
}

wchar_t* KVAPI KvStrCatN(wchar_t* dst, const wchar_t* src, int cch) {
  if (!dst || cch < 1) return dst;
  int len = PrefixLength(dst, cch);
  if (len >= cch - 1) return dst;
  KvStrCpyN(dst + len, src, cch - len);
  return dst;
}

int KVAPI KvStrLen(const wchar_t* text) {
  if (!text) return 0;
  int n = 0;
  while (text[n]) ++n;
  return n;
}

wchar_t* KVAPI KvCharNext(const wchar_t* p) {
  if (!p) return nullptr;
  return const_cast<wchar_t*>(*p ? p + 1 : p);
}

wchar_t* KVAPI KvStrChr(const wchar_t* text, wchar_t c) {
  if (!text) return const_cast<wchar_t*>(kEmpty);
  while (*text && *text != c) ++text;
  return const_cast<wchar_t*>(text);
}

wchar_t* KVAPI KvStrUpr(wchar_t* text) {
  if (!text) return text;
  for (wchar_t* p = text; *p; ++p) *p = towupper(*p);
  return text;
}

int KVAPI KvStrCmpN(const wchar_t* a, const wchar_t* b, int n) {
  return ComparePrefixes(a, b, n, 0);
}

int KVAPI KvStrCmpNI(const wchar_t* a, const wchar_t* b, int n) {
  return ComparePrefixes(a, b, n, NORM_IGNORECASE);
}

wchar_t* KVAPI KvSkipWhiteSpace(const wchar_t* text) {
  if (!text) return const_cast<wchar_t*>(kEmpty);
  while (*text && iswspace(*text)) ++text;
  return const_cast<wchar_t*>(text);
}

wchar_t* KVAPI KvFindTrailingWhiteSpace(const wchar_t* text) {
  if (!text) return const_cast<wchar_t*>(kEmpty);
  const wchar_t* end = text + KvStrLen(text);
  while (end > text && iswspace(end[-1])) --end;
  return const_cast<wchar_t*>(end);
}

int KVAPI KvWideToMultiByte(char* out, const wchar_t* text, int outBytes, UINT codePage) {
  if (!out || outBytes < 1) return 0;
  out[0] = 0;
  int len = KvStrLen(text);
  if (len == 0) return 0;
  int room = outBytes - 1;
  int n = room > 0 ? WideCharToMultiByte(codePage, 0, text, len, out, room, nullptr, nullptr) : 0;
  if (n <= 0 && room > 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    // Too long: convert the longest leading run of characters that fits, never
    // splitting a surrogate pair, so the result is a whole-character prefix.
    int lo = 0, hi = len;
    while (lo < hi) {
      int mid = (lo + hi + 1) / 2;
      int need = WideCharToMultiByte(codePage, 0, text, mid, nullptr, 0, nullptr, nullptr);
      if (need > 0 && need <= room) lo = mid; else hi = mid - 1;
    }
    if (lo > 0 && text[lo - 1] >= 0xD800 && text[lo - 1] <= 0xDBFF) --lo;
    n = lo > 0 ? WideCharToMultiByte(codePage, 0, text, lo, out, room, nullptr, nullptr) : 0;
  }
  if (n <= 0) {
    out[0] = 0;
    return 0;
  }
  out[n] = 0;
  return n;
}

int KVAPI KvMultiByteToWide(wchar_t* out, const char* text, int outChars, int textBytes, UINT codePage) {
  if (!out || outChars < 1) return 0;
  out[0] = 0;
  if (!text) return 0;
  int bytes = textBytes;
  if (bytes < 0) {
    bytes = 0;
    while (text[bytes]) ++bytes;
  }
  if (bytes == 0) return 0;
  // UTF-8 accepts no flags; every other code page converts to precomposed forms.
  DWORD flags = codePage == CP_UTF8 ? 0 : MB_PRECOMPOSED;
  int need = MultiByteToWideChar(codePage, flags, text, bytes, nullptr, 0);
  if (need <= 0) return 0;
  // The result never exceeds outChars - 1 characters, so the terminator always
  // fits inside the buffer.
  std::vector<wchar_t> all(static_cast<size_t>(need));
  if (MultiByteToWideChar(codePage, flags, text, bytes, all.data(), need) != need) return 0;
  int n = need < outChars - 1 ? need : outChars - 1;
  if (n > 0 && n < need && all[n - 1] >= 0xD800 && all[n - 1] <= 0xDBFF) --n;
  for (int i = 0; i < n; ++i) out[i] = all[i];
  out[n] = 0;
  return n;
}

BOOL KVAPI KvIsDirectory(const wchar_t* path) {
  if (!path || !*path) return FALSE;
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? TRUE : FALSE;
}

BOOL KVAPI KvPtInRect(const RECT* rect, int x, int y) {
  if (!rect) return FALSE;
  return x >= rect->left && x < rect->right && y >= rect->top && y < rect->bottom;
}

}  // extern "C"
