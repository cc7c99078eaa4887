// The format engine, its token table and the window-text setters.
#include "kvprintf.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "kvlist.h"
#include "kvnumtext.h"
#include "kvtextlocale.h"

namespace {

const int kMaxCollect = 260;    // longest specification, token name or literal number
const int kSetterChars = 2048;  // the window-text setters' buffer

// ---------------------------------------------------------------- tokens

// One token: a block holding the flags word, the name pointer, the value's
// length and the value pointer, then the name text (padded to 4 bytes) and
// the value text. The table keeps them sorted by name without case.
struct TokenBlock {
  DWORD flags;
  const wchar_t* name;
  DWORD valueLength;
  const wchar_t* value;
};

tKVLIST* g_tokens = nullptr;

int KVAPI CompareTokenNames(DWORD, const void* key, const void* item) {
  return lstrcmpiW(static_cast<const wchar_t*>(key), static_cast<const TokenBlock*>(item)->name);
}

const TokenBlock* TokenAt(const tKVLIST* list, int index) {
  return *reinterpret_cast<TokenBlock* const*>(list->items + static_cast<size_t>(index) * list->stride);
}

// ---------------------------------------------------------------- output

struct Sink {
  wchar_t* out;
  size_t cap;  // characters including the terminator; SIZE_MAX: unbounded
  size_t len;
  void Put(wchar_t c) {
    if (len + 1 < cap) out[len] = c;
    if (len + 1 < cap || cap == SIZE_MAX) ++len;
    else full = true;
  }
  void Put(const wchar_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i) Put(s[i]);
  }
  void Put(const wchar_t* s) {
    if (s) Put(s, wcslen(s));
  }
  bool full = false;
};

bool IsConversion(wchar_t c) {
  switch (c) {
    case L'!': case L'&': case L'*': case L',': case L':':
    case L'E': case L'G': case L'X':
    case L'c': case L'd': case L'e': case L'f': case L'g': case L'i':
    case L'o': case L's': case L'u': case L'x': case L'z':
      return true;
    default:
      return false;
  }
}

// The platform's formatting of one value with a conversion's format text, into
// a growing buffer (a width can be as large as that text allows). The format
// text handed to the platform's formatters never ends in 'n': a "%n" there
// would store through the number argument.
std::wstring PlatformFormat(const std::wstring& spec, wchar_t conv) {
  std::wstring f = L"%";
  for (wchar_t c : spec)
    if (c != L'n') f += c;
  return f + conv;
}

template <typename T>
std::wstring Platform(const std::wstring& spec, wchar_t conv, T value) {
  std::wstring f = PlatformFormat(spec, conv);
  std::vector<wchar_t> buf(128);
  for (;;) {
    int n = _snwprintf(buf.data(), buf.size() - 1, f.c_str(), value);
    if (n >= 0 && static_cast<size_t>(n) < buf.size() - 1) return std::wstring(buf.data(), n);
    if (buf.size() > (1u << 22)) return std::wstring();
    buf.resize(buf.size() * 2);
  }
}

typedef int(KVAPI* Regrouper)(const wchar_t*, wchar_t*, int);

std::wstring Regrouped(const std::wstring& raw, Regrouper fn) {
  std::vector<wchar_t> buf(raw.size() * 4 + 32);
  int n = fn(raw.c_str(), buf.data(), static_cast<int>(buf.size()));
  return std::wstring(buf.data(), n);
}

std::wstring GroupDecimal(const std::wstring& raw, int digits) {
  std::vector<wchar_t> buf(raw.size() * 4 + 32);
  int n = KvFormatGroupDecimalNumber(raw.c_str(), buf.data(), static_cast<int>(buf.size()), digits);
  return std::wstring(buf.data(), n);
}

bool Has64BitPrefix(const std::wstring& spec) {
  // "I64" belongs right after the introducer; found anywhere in the
  // specification (or as "ll") it still means a 64-bit argument, so that the
  // arguments after it stay aligned.
  return spec.find(L"I64") != std::wstring::npos || spec.find(L"ll") != std::wstring::npos;
}

void WriteSeparator(Sink& out, int id) {
  wchar_t sep[16];
  int n = KvTextLocale_Separator(id, sep);
  out.Put(sep, n);
}

int Format(Sink& out, const wchar_t* format, va_list args) {
  if (!format) {
    if (out.cap > 0) out.out[0] = 0;
    return 0;
  }
  va_list ap;
  va_copy(ap, args);
  const wchar_t* p = format;
  while (*p && !out.full) {
    wchar_t c = *p;
    if (c != L'$' && c != L'%') {
      out.Put(c);
      ++p;
      continue;
    }
    bool locale = c == L'$';
    if (p[1] == L'$' && locale) {
      out.Put(L'$');
      p += 2;
      continue;
    }
    if (p[1] == L'%') {
      out.Put(L'%');
      p += 2;
      continue;
    }
    if (locale && p[1] == L'(') {
      const wchar_t* q = p + 2;
      wchar_t first = *q;
      if ((first >= L'0' && first <= L'9') || first == L'-' || first == L'.') {
        // A literal number regrouped in the locale: "$(1234567.5)".
        const wchar_t* e = q + 1;
        while ((*e >= L'0' && *e <= L'9') || *e == L'.' || *e == L',') ++e;
        if (*e == L')' && e - q <= kMaxCollect) {
          out.Put(GroupDecimal(std::wstring(q, e), -1).c_str());
          p = e + 1;
        } else {
          out.Put(p, e - p);
          p = e;
        }
        continue;
      }
      // A named token: "$(name)".
      const wchar_t* e = q;
      while (*e && *e != L')') ++e;
      if (!*e) {
        out.Put(p, e - p);
        p = e;
        continue;
      }
      bool found = false;
      tKVLIST* tokens = g_tokens;
      if (e - q <= kMaxCollect && tokens) {
        std::wstring name(q, e);
        EnterCriticalSection(&tokens->lock);
        int i = KvList_FindSortedItemRange(tokens, name.c_str(), 0, -1, CompareTokenNames);
        if (i >= 0) {
          const TokenBlock* t = TokenAt(tokens, i);
          out.Put(t->value, t->valueLength);
          found = true;
        }
        LeaveCriticalSection(&tokens->lock);
      }
      if (!found) out.Put(p, e + 1 - p);
      p = e + 1;
      continue;
    }

    // A conversion: collect its format text up to the conversion character.
    const wchar_t* s = p + 1;
    const wchar_t* e = s;
    while (*e && !IsConversion(*e) && e - s < kMaxCollect) ++e;
    if (!*e || !IsConversion(*e)) {
      out.Put(p, e - p);
      p = e;
      continue;
    }
    std::wstring spec(s, e);
    wchar_t conv = *e;
    p = e + 1;
    bool bare = spec.empty();
    switch (conv) {
      case L':': WriteSeparator(out, 60); break;
      case L',': WriteSeparator(out, 40); break;
      case L'*': WriteSeparator(out, 24); break;
      case L'!':
        if (*p == L':') WriteSeparator(out, 100), ++p;
        else if (*p == L'.') WriteSeparator(out, 101), ++p;
        else if (*p == L',') WriteSeparator(out, 102), ++p;
        break;
      case L'&':
        if (*p == L':') WriteSeparator(out, 120), ++p;
        else if (*p == L'.') WriteSeparator(out, 121), ++p;
        break;
      case L'd': case L'i': case L'u': case L'x': case L'X': case L'o': case L'z': {
        if (conv == L'z' && spec.size() >= 2 && spec[0] == L'.' &&
            spec.find_first_not_of(L"0123456789", 1) == std::wstring::npos) {
          int digits = _wtoi(spec.c_str() + 1);
          if (digits > 0) {
            // Fixed point: the value in units of 10^-digits.
            int v = va_arg(ap, int);
            double scale = 1.0;
            for (int i = 0; i < digits; ++i) scale *= 10.0;
            std::wstring raw = Platform(L"." + std::to_wstring(digits), L'f', v / scale);
            if (locale) out.Put(GroupDecimal(raw, digits).c_str());
            else out.Put(Regrouped(raw, KvFormatDecimalNumber).c_str());
            break;
          }
        }
        wchar_t pc = conv == L'z' ? L'd' : conv;
        bool signedConv = pc == L'd' || pc == L'i';
        if (bare && (signedConv || pc == L'u')) {
          wchar_t text[80];
          if (signedConv) KvLongToText(va_arg(ap, int), text, locale);
          else KvDWordToText(va_arg(ap, unsigned), text, locale);
          out.Put(text);
          break;
        }
        std::wstring raw = Has64BitPrefix(spec) ? Platform(spec, pc, va_arg(ap, long long))
                                                : Platform(spec, pc, va_arg(ap, int));
        if (locale && (signedConv || pc == L'u')) raw = Regrouped(raw, KvFormatNumber);
        out.Put(raw.c_str());
        break;
      }
      case L'f': {
        std::wstring raw = Platform(spec, conv, va_arg(ap, double));
        if (locale) raw = GroupDecimal(raw, -1);
        out.Put(raw.c_str());
        break;
      }
      case L'e': case L'E':
        out.Put(Platform(spec, conv, va_arg(ap, double)).c_str());
        break;
      case L'g': case L'G': {
        std::wstring raw = Platform(spec, conv, va_arg(ap, double));
        if (locale && raw.find_first_of(L"eE") == std::wstring::npos) raw = Regrouped(raw, KvFormatDecimalNumber);
        out.Put(raw.c_str());
        break;
      }
      case L'c': case L's': {
        void* arg = va_arg(ap, void*);
        if (bare && conv == L's') {
          // A plain "%s" is copied whole (the platform's formatter stops at
          // 1,024 characters).
          out.Put(arg ? static_cast<const wchar_t*>(arg) : L"(null)");
        } else if (bare) {
          out.Put(static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(arg)));
        } else {
          wchar_t buf[1025];
          int n = wsprintfW(buf, PlatformFormat(spec, conv).c_str(), arg);
          if (n > 0) out.Put(buf, n);
        }
        break;
      }
    }
  }
  va_end(ap);
  if (out.cap == SIZE_MAX) {
    out.out[out.len] = 0;
  } else if (out.cap > 0) {
    if (out.len > out.cap - 1) out.len = out.cap - 1;
    out.out[out.len] = 0;
  }
  return static_cast<int>(out.len);
}

}  // namespace

// No exception leaves the engine: when memory for a conversion runs out the
// text formatted so far is terminated and returned.
int SafeFormat(Sink& sink, const wchar_t* format, va_list args) {
  try {
    return Format(sink, format, args);
  } catch (...) {
    size_t n = sink.cap == SIZE_MAX ? sink.len : (sink.len < sink.cap ? sink.len : sink.cap - 1);
    sink.out[n] = 0;
    return static_cast<int>(n);
  }
}

extern "C" int KVAPI KvVPrintF(wchar_t* out, const wchar_t* format, va_list args) {
  if (!out) return 0;
  Sink sink{out, SIZE_MAX, 0};
  return SafeFormat(sink, format, args);
}

extern "C" int __cdecl KvPrintF(wchar_t* out, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = KvVPrintF(out, format, args);
  va_end(args);
  return n;
}

int KvVPrintFN(wchar_t* out, int cch, const wchar_t* format, va_list args) {
  if (!out || cch < 1) return 0;
  Sink sink{out, static_cast<size_t>(cch), 0};
  return SafeFormat(sink, format, args);
}

int KvPrintFN(wchar_t* out, int cch, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = KvVPrintFN(out, cch, format, args);
  va_end(args);
  return n;
}

// The token table: pointer items, 16 slots growing by 16, locked.
BOOL KvPrintF_CreateTokenList() {
  if (g_tokens) return TRUE;
  tKVLIST* list = nullptr;
  if (FAILED(KvList_CreateExZ(&list, 4, 16, 16, KVLIST_LOCKED | KVLIST_ALLOCATED_ITEMS, 0, 0, 0))) return FALSE;
  g_tokens = list;
  return TRUE;
}

void KvPrintF_DestroyTokenList() {
  tKVLIST* list = g_tokens;
  g_tokens = nullptr;
  if (list) KvList_Destroy(list);
}

extern "C" BOOL KVAPI KvPrintF_AddToken(const wchar_t* name, const wchar_t* value) {
  tKVLIST* tokens = g_tokens;
  if (!tokens || !name || !value || !name[0]) return FALSE;
  size_t nameChars = wcslen(name) + 1, valueChars = wcslen(value) + 1;
  size_t nameBytes = (nameChars * sizeof(wchar_t) + 3) & ~static_cast<size_t>(3);
  size_t size = sizeof(TokenBlock) + nameBytes + valueChars * sizeof(wchar_t);
  if (size > 0x7FFFFFFF) return FALSE;
  BOOL ok = FALSE;
  EnterCriticalSection(&tokens->lock);
  int old = KvList_FindSortedItemRange(tokens, name, 0, -1, CompareTokenNames);
  if (old >= 0) KvList_DeleteList(tokens, old, 1, FALSE);
  int at = KvList_FindSortedInsertIndexRange(tokens, name, 0, -1, CompareTokenNames);
  int index = -1;
  if (at >= 0 && SUCCEEDED(KvList_AllocAndInsertItem(tokens, nullptr, static_cast<DWORD>(size), at, &index)) &&
      index >= 0) {
    BYTE* block = *reinterpret_cast<BYTE**>(tokens->items + static_cast<size_t>(index) * tokens->stride);
    wchar_t* nameText = reinterpret_cast<wchar_t*>(block + sizeof(TokenBlock));
    wchar_t* valueText = reinterpret_cast<wchar_t*>(block + sizeof(TokenBlock) + nameBytes);
    memcpy(nameText, name, nameChars * sizeof(wchar_t));
    memcpy(valueText, value, valueChars * sizeof(wchar_t));
    TokenBlock* t = reinterpret_cast<TokenBlock*>(block);
    t->flags = 0;
    t->name = nameText;
    t->valueLength = static_cast<DWORD>(valueChars - 1);
    t->value = valueText;
    ok = TRUE;
  }
  LeaveCriticalSection(&tokens->lock);
  return ok;
}

extern "C" BOOL KVAPI KvPrintF_DeleteToken(const wchar_t* name) {
  tKVLIST* tokens = g_tokens;
  if (!tokens || !name) return FALSE;
  EnterCriticalSection(&tokens->lock);
  int i = KvList_FindSortedItemRange(tokens, name, 0, -1, CompareTokenNames);
  if (i >= 0) KvList_DeleteList(tokens, i, 1, FALSE);
  LeaveCriticalSection(&tokens->lock);
  return i >= 0;
}

// Registers the separator tokens of the international record (called by
// every reload of the record): the SMPTE and music separators and the labels
// built from the library's strings with them.
extern "C" void KVAPI KvLang_RegisterSeparatorTokens(const KVINTERNATIONALS* r) {
  if (!r) return;
  HKVLANG lang = KvLang_GetLibraryHandle();
  const wchar_t* whole = r->smpteWholeSeparator;
  const wchar_t* nonDrop = r->smpteNonDropSeparator;
  const wchar_t* drop = r->smpteDropSeparator;
  const wchar_t* mb = r->measureBeatSeparator;
  const wchar_t* bt = r->beatTickSeparator;
  KvPrintF_AddToken(L"SMPTE.Whole", whole);
  KvPrintF_AddToken(L"SMPTE.NonDrop", nonDrop);
  KvPrintF_AddToken(L"SMPTE.Drop", drop);
  wchar_t label[512];
  const wchar_t* smpte = KvGetString(lang, IDS_KV_SMPTE_LABEL);
  const wchar_t* smpteFull = KvGetString(lang, IDS_KV_SMPTE_LABEL_FULL);
  KvPrintFN(label, 512, smpte, whole, whole, nonDrop);
  KvPrintF_AddToken(L"SMPTE.Label.NonDrop", label);
  KvPrintFN(label, 512, smpte, whole, whole, drop);
  KvPrintF_AddToken(L"SMPTE.Label.Drop", label);
  KvPrintFN(label, 512, smpteFull, whole, whole, nonDrop);
  KvPrintF_AddToken(L"SMPTE.Label.NonDrop.Full", label);
  KvPrintFN(label, 512, smpteFull, whole, whole, drop);
  KvPrintF_AddToken(L"SMPTE.Label.Drop.Full", label);
  KvPrintF_AddToken(L"m.b", mb);
  KvPrintF_AddToken(L"b.t", bt);
  KvPrintFN(label, 512, KvGetString(lang, IDS_KV_MUSICTIME_LABEL), mb, bt);
  KvPrintF_AddToken(L"MusicTime.Label", label);
  KvPrintFN(label, 512, KvGetString(lang, IDS_KV_MUSICTIME_LABEL_FULL), mb, bt);
  KvPrintF_AddToken(L"MusicTime.Label.Full", label);
}

extern "C" DWORD __cdecl KvComposeStr(wchar_t* buf, DWORD cch, const wchar_t* format, ...) {
  if (!buf || !cch || !format) return 0;
  va_list args;
  va_start(args, format);
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, format, 0, 0, buf, cch, &args);
  va_end(args);
  if (!n) buf[0] = 0;
  return n;
}

extern "C" BOOL KVAPI KvHasFormatCodes(const wchar_t* text) {
  if (!text) return FALSE;
  for (; *text; ++text)
    if (*text == L'%' || *text == L'$') return TRUE;
  return FALSE;
}

namespace {
// The setters' text: formatted into a 2,048-character buffer when it holds
// conversions, else the format itself.
const wchar_t* SetterText(wchar_t* buf, const wchar_t* format, va_list args, int* len) {
  if (KvHasFormatCodes(format)) {
    *len = KvVPrintFN(buf, kSetterChars, format, args);
    return buf;
  }
  *len = static_cast<int>(wcslen(format));
  return format;
}

// Hands the setter text to set (which returns nonzero on success): the
// text's length on success, else 0.
template <typename Set>
int SetFormatted(const wchar_t* format, va_list args, Set set) {
  wchar_t buf[kSetterChars];
  int len;
  const wchar_t* text = SetterText(buf, format, args, &len);
  return set(text) ? len : 0;
}
}  // namespace

extern "C" int __cdecl KvSetWindowText(HWND window, const wchar_t* format, ...) {
  if (!format) return 0;
  va_list args;
  va_start(args, format);
  int len = SetFormatted(format, args, [&](const wchar_t* text) { return SetWindowTextW(window, text); });
  va_end(args);
  return len;
}

extern "C" int __cdecl KvSetDlgItemText(HWND dialog, int control, const wchar_t* format, ...) {
  if (!format) return 0;
  va_list args;
  va_start(args, format);
  int len = SetFormatted(format, args, [&](const wchar_t* text) { return SetDlgItemTextW(dialog, control, text); });
  va_end(args);
  return len;
}

extern "C" int __cdecl KvSetWindowTextId(HKVLANG lang, HWND window, UINT id, ...) {
  va_list args;
  va_start(args, id);
  int len =
      SetFormatted(KvGetString(lang, id), args, [&](const wchar_t* text) { return SetWindowTextW(window, text); });
  va_end(args);
  return len;
}

extern "C" int __cdecl KvSetDlgItemTextId(HKVLANG lang, HWND dialog, int control, UINT id, ...) {
  va_list args;
  va_start(args, id);
  int len = SetFormatted(KvGetString(lang, id), args,
                         [&](const wchar_t* text) { return SetDlgItemTextW(dialog, control, text); });
  va_end(args);
  return len;
}

extern "C" int __cdecl KvSetDlgItemTextNoFlash(HWND dialog, int control, const wchar_t* format, ...) {
  if (!format) return 0;
  wchar_t buf[kSetterChars];
  int len;
  va_list args;
  va_start(args, format);
  const wchar_t* text = SetterText(buf, format, args, &len);
  va_end(args);
  HWND item = GetDlgItem(dialog, control);
  int current = item ? GetWindowTextLengthW(item) : -1;
  if (current >= 0 && current + 1 < 8193) {
    wchar_t now[8193];
    GetWindowTextW(item, now, current + 1);
    if (wcscmp(now, text) == 0) return current;
  }
  return SetDlgItemTextW(dialog, control, text) ? len : 0;
}

extern "C" int __cdecl KvMEditPrintF(HWND edit, const wchar_t* format, ...) {
  if (!format) {
    SetWindowTextW(edit, L"");
    return 0;
  }
  bool lineBreak = true;
  if (*format == L'~') {
    lineBreak = false;
    while (*format == L'~') ++format;
  }
  wchar_t buf[kSetterChars + 2];
  va_list args;
  va_start(args, format);
  int len = KvVPrintFN(buf, kSetterChars, format, args);
  va_end(args);
  if (lineBreak) wcscat(buf, L"\r\n");
  int end = GetWindowTextLengthW(edit);
  SendMessageW(edit, EM_SETSEL, end, end);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(buf));
  return len;
}

namespace {
bool Width(HDC dc, const wchar_t* text, int n, int* cx) {
  SIZE size;
  if (!GetTextExtentPoint32W(dc, text, n, &size)) return false;
  *cx = size.cx;
  return true;
}

BOOL EllipsisIn(HDC dc, wchar_t* text, int maxChars, int maxWidth, bool fromEnd) {
  if (maxChars < 0) maxChars = 0;
  std::wstring work(text);
  int full;
  if (!Width(dc, work.c_str(), static_cast<int>(work.size()), &full)) return FALSE;
  if (full <= maxWidth - 2) return FALSE;
  int dots;
  if (!Width(dc, L"...", 3, &dots)) return FALSE;
  for (;;) {
    if (work.empty()) return FALSE;
    if (fromEnd) work.erase(0, 1);
    else work.pop_back();
    if (work.empty()) return FALSE;
    int w;
    if (!Width(dc, work.c_str(), static_cast<int>(work.size()), &w)) return FALSE;
    // maxChars counts the terminator: the shortened text and its "..." must
    // leave room for it.
    if (w + dots <= maxWidth - 2 && static_cast<int>(work.size()) + 3 <= maxChars - 1) break;
  }
  std::wstring result = fromEnd ? L"..." + work : work + L"...";
  wcscpy(text, result.c_str());
  return TRUE;
}

BOOL Ellipsis(HDC dc, wchar_t* text, int maxChars, int maxWidth, bool fromEnd) {
  if (!text) return FALSE;
  try {
    return EllipsisIn(dc, text, maxChars, maxWidth, fromEnd);
  } catch (...) {  // out of memory for the working copy: text unchanged
    return FALSE;
  }
}
}  // namespace

extern "C" BOOL KVAPI KvCalcStringEllipsis(HDC dc, wchar_t* text, int maxChars, int maxWidth) {
  return Ellipsis(dc, text, maxChars, maxWidth, false);
}

extern "C" BOOL KVAPI KvCalcStringEllipsisFromEnd(HDC dc, wchar_t* text, int maxChars, int maxWidth) {
  return Ellipsis(dc, text, maxChars, maxWidth, true);
}
