// The about box's property sheet and pages, and the system information text.
#include "kvabout.h"

#include <commctrl.h>
#include <cpuid.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "kvcpu.h"
#include "kvdlgutil.h"
#include "kvinternet.h"
#include "kvkernel.h"
#include "kvlang.h"
#include "kvprintf.h"
#include "kvres.h"
#include "kvuifont.h"
#include "kvwndplace.h"

#ifndef _WIN64
// The record's 32-bit layout is fixed; a 64-bit compiler lays it out its own way.
static_assert(sizeof(KvAboutRecord) == 104, "the about record is 104 bytes");
static_assert(offsetof(KvAboutRecord, comments) == 36, "comments at 36");
static_assert(offsetof(KvAboutRecord, devices) == 76, "provider at 76");
static_assert(offsetof(KvAboutRecord, linkClassFormat) == 100, "link class at 100");
#endif

namespace {

const UINT kStrLegal1 = 48274, kStrLegal2 = 48275, kStrTitle = 48276;
const UINT kSecondLogo = 24023, kSecondLogoJapanese = 24024;
const int kLinkClicked = -105;
const DWORD kLinkStyle = 0x50020050;

// The sheet's own state behind the caller's record.
struct Context {
  KvAboutRecord record;
  HWND parent;
  BOOL changed;
  BOOL initialising;
  BOOL centreOnce;
  int activePage;
  HBITMAP logo2;
  int logo2Width, logo2Height;
};

struct PageParam {
  Context* context;
  int resourceId;
};

// Pages in the order they are added: flag, resource.
const struct {
  DWORD flag;
  int resource;
} kPages[] = {
    {0x0001, 24001}, {0x0200, 24007}, {0x0002, 24002}, {0x0004, 24003}, {0x0008, 24014},
    {0x0010, 24015}, {0x0020, 24005}, {0x0040, 24008}, {0x0080, 24006}, {0x0400, 24016},
    {0x0800, 24026}, {0x0100, 24004}, {0x1000, 24027}, {0x2000, 24017},
};
// The start selector's positions 0-2 stand for these page-table entries
// (General, Computer, Performance).
const DWORD kStartFlags[3] = {0x0001, 0x0002, 0x0004};

int g_lastPage = 0;

const wchar_t* Or(const wchar_t* text) { return text ? text : L""; }

std::wstring Format(const wchar_t* pattern, const wchar_t* value) {
  std::wstring out = Or(pattern);
  size_t at = out.find(L"%s");
  if (at != std::wstring::npos) out.replace(at, 2, Or(value));
  return out;
}

// A value as hex digits and "h": 8 digits, or 16 for a value that needs them.
std::wstring HexH(ULONGLONG v) {
  const int digits = v > 0xFFFFFFFFull ? 16 : 8;
  wchar_t buf[24];
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  for (int i = 0; i < digits; ++i) buf[i] = kDigits[(v >> (4 * (digits - 1 - i))) & 0xF];
  buf[digits] = L'h';
  buf[digits + 1] = 0;
  return buf;
}

std::wstring Num(long long v) { return std::to_wstring(v); }

std::wstring Tenths(unsigned long long bytes) {
  unsigned long long t = bytes / 104857;  // tenths of a megabyte
  return std::to_wstring(t / 10) + L"." + std::to_wstring(t % 10) + L" MB";
}

std::wstring TwoDigits(DWORD v, int digits) {
  std::wstring s = std::to_wstring(v);
  while (static_cast<int>(s.size()) < digits) s.insert(s.begin(), L'0');
  return s;
}

void Row(HWND edit, const wchar_t* label, const std::wstring& value) {
  wchar_t buf[128];
  KvFormatPropLabel(label, 30, buf, 128);
  KvMEditPrintF(edit, L"%s%s", buf, value.c_str());
}

void Line(HWND edit, const wchar_t* text) { KvMEditPrintF(edit, L"%s", text); }

std::wstring EnglishLanguage(LCID lcid) {
  wchar_t name[128] = {};
  if (!lcid || !GetLocaleInfoW(lcid, LOCALE_SENGLANGUAGE, name, 128)) return std::wstring();
  return name;
}

const wchar_t* YesNo(bool v) { return v ? L"Yes" : L"No"; }

HBITMAP LoadSecondLogo(int* w, int* h) {
  HMODULE module = KvKernel_GetModule();
  if (!module) return nullptr;
  UINT id = PRIMARYLANGID(LANGIDFROMLCID(KvLang_GetLCID(KvLang_GetLibraryHandle()))) == LANG_JAPANESE
                ? kSecondLogoJapanese
                : kSecondLogo;
  HBITMAP bmp = static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
  BITMAP info;
  if (bmp && GetObjectW(bmp, sizeof info, &info)) {
    *w = info.bmWidth;
    *h = info.bmHeight;
  }
  return bmp;
}

void InitGeneral(HWND page, Context* c) {
  const KvAboutRecord& r = c->record;
  // The logo is painted by the page into its place; the place's own (empty)
  // static control would paint over it.
  if (r.logo)
    if (HWND place = GetDlgItem(page, KVABOUT_ID_LOGO)) ShowWindow(place, SW_HIDE);
  SetDlgItemTextW(page, KVABOUT_ID_NAME, Or(r.appName));
  SetDlgItemTextW(page, KVABOUT_ID_VERSION, Or(r.version));
  SetDlgItemTextW(page, KVABOUT_ID_COPYRIGHT, Or(r.copyright));
  SetDlgItemTextW(page, KVABOUT_ID_COPYRIGHT2, Or(r.copyright2));
  SetDlgItemTextW(page, KVABOUT_ID_COMMENTS, Or(r.comments));
  HKVLANG lang = KvLang_GetLibraryHandle();
  std::wstring legal = std::wstring(Or(KvGetString(lang, kStrLegal1))) + L" " + Or(KvGetString(lang, kStrLegal2));
  SetDlgItemTextW(page, KVABOUT_ID_LEGAL, legal.c_str());
  HWND link = GetDlgItem(page, KVABOUT_ID_LINK);
  if (!link) return;
  SetWindowTextW(link, Or(r.linkText));
  // The link becomes a window of the host's link class, in its place.
  std::wstring cls = r.linkClassFormat ? Format(r.linkClassFormat, L"") : L"KvKrn_Static_Class";
  RECT rc;
  GetWindowRect(link, &rc);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rc), 2);
  HWND linked = CreateWindowExW(0, cls.c_str(), Or(r.linkText), kLinkStyle, rc.left, rc.top, rc.right - rc.left,
                                rc.bottom - rc.top, page, reinterpret_cast<HMENU>(KVABOUT_ID_LINK),
                                KvKernel_GetModule(), nullptr);
  if (linked) {
    DestroyWindow(link);
    SendMessageW(linked, WM_SETFONT, reinterpret_cast<WPARAM>(KvGetUIFont(KV_UIFONT_DEFAULT)), TRUE);
  }
}

void PaintLogos(HWND page, Context* c) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(page, &ps);
  HWND place = GetDlgItem(page, KVABOUT_ID_LOGO);
  const KvAboutRecord& r = c->record;
  if (place && r.logo && r.logoWidth > 0 && r.logoHeight != 0) {
    RECT rc;
    GetWindowRect(place, &rc);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rc), 2);
    const BITMAPINFO* info = static_cast<const BITMAPINFO*>(r.logo);
    const BITMAPINFOHEADER& h = info->bmiHeader;
    DWORD colors = h.biClrUsed ? h.biClrUsed : (h.biBitCount <= 8 ? 1u << h.biBitCount : 0);
    if (h.biCompression == BI_BITFIELDS && h.biSize == sizeof(BITMAPINFOHEADER)) colors = 3;
    const BYTE* bits = static_cast<const BYTE*>(r.logo) + h.biSize + colors * sizeof(RGBQUAD);
    StretchDIBits(dc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, 0, 0, r.logoWidth,
                  r.logoHeight < 0 ? -r.logoHeight : r.logoHeight, bits, info, DIB_RGB_COLORS, SRCCOPY);
  }
  if (c->logo2) {
    HDC src = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(src, c->logo2);
    RECT client;
    GetClientRect(page, &client);
    BitBlt(dc, client.right - c->logo2Width - 7, client.bottom - c->logo2Height - 7, c->logo2Width, c->logo2Height,
           src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
  }
  EndPaint(page, &ps);
}

void SetEditText(HWND page, int id, const wchar_t* text) {
  HWND edit = GetDlgItem(page, id);
  if (!edit) return;
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(KvGetUIFont(KV_UIFONT_FIXED)), FALSE);
  SetWindowTextW(edit, Or(text));
}

void RefreshDevices(HWND page, Context* c) {
  if (!c->record.devices) return;
  c->record.devices->Refresh(0);
  wchar_t* text = nullptr;
  DWORD length = 0;
  if (SUCCEEDED(c->record.devices->GetText(&text, &length)) && text && *text)
    SetDlgItemTextW(page, KVABOUT_ID_MULTIMEDIA, text);
}

void FitSheet(HWND sheet) {
  // One button is enough: Cancel goes, OK takes its place; no context help.
  HWND ok = GetDlgItem(sheet, IDOK), cancel = GetDlgItem(sheet, IDCANCEL);
  if (ok && cancel && IsWindowVisible(cancel)) {
    RECT rc;
    GetWindowRect(cancel, &rc);
    MapWindowPoints(nullptr, sheet, reinterpret_cast<POINT*>(&rc), 2);
    ShowWindow(cancel, SW_HIDE);
    SetWindowPos(ok, nullptr, rc.left, rc.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LONG ex = GetWindowLongW(sheet, GWL_EXSTYLE);
  if (ex & WS_EX_CONTEXTHELP) SetWindowLongW(sheet, GWL_EXSTYLE, ex & ~WS_EX_CONTEXTHELP);
}

INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wp, LPARAM lp) {
  PageParam* param = reinterpret_cast<PageParam*>(GetWindowLongPtrW(page, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      param = reinterpret_cast<PageParam*>(reinterpret_cast<PROPSHEETPAGEW*>(lp)->lParam);
      SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(param));
      Context* c = param->context;
      c->initialising = TRUE;
      HWND sheet = GetParent(page);
      if (c->centreOnce) {
        c->centreOnce = FALSE;
        KvWndCenter(sheet, nullptr, nullptr, KV_CENTER_OVER_PARENT | KV_CENTER_UPPER_THIRD);
      }
      if (!c->logo2) c->logo2 = LoadSecondLogo(&c->logo2Width, &c->logo2Height);
      FitSheet(sheet);
      switch (param->resourceId) {
        case 24001:
        case 24007:
          KvDlgInitFont(page, nullptr);
          InitGeneral(page, c);
          break;
        case 24002:
          KvSysInfo(GetDlgItem(page, KVABOUT_ID_SYSINFO), GetKeyState(VK_SHIFT) < 0, c->record.extra);
          break;
        case 24006:
          KvDlgInitFont(page, nullptr);
          SetDlgItemTextW(page, KVABOUT_ID_SKIN_TITLE, Or(c->record.skinTitle));
          SetDlgItemTextW(page, KVABOUT_ID_SKIN_AUTHOR, Or(c->record.skinAuthor));
          SetDlgItemTextW(page, KVABOUT_ID_SKIN_COPYRIGHT, Or(c->record.skinCopyright));
          SetDlgItemTextW(page, KVABOUT_ID_SKIN_ABOUT, Or(c->record.skinAbout));
          break;
        case 24016:
          SetEditText(page, KVABOUT_ID_COMPONENTS, c->record.components);
          break;
        case 24026:
          SetEditText(page, KVABOUT_ID_MULTIMEDIA, nullptr);
          if (c->record.devices) c->record.devices->Attach(page);
          break;
        default:
          break;
      }
      c->initialising = FALSE;
      return TRUE;
    }
    case WM_PAINT:
      if (param && (param->resourceId == 24001 || param->resourceId == 24007)) {
        PaintLogos(page, param->context);
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      if (param && HIWORD(wp) == EN_CHANGE && !param->context->initialising) {
        SendMessageW(GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
        param->context->changed = TRUE;
      }
      return FALSE;
    case WM_NOTIFY: {
      if (!param) return FALSE;
      const NMHDR* n = reinterpret_cast<const NMHDR*>(lp);
      if (n->idFrom == KVABOUT_ID_LINK && static_cast<int>(n->code) == kLinkClicked) {
        Internet_BrowseWebPage(page, param->context->record.linkTarget);
        return TRUE;
      }
      switch (n->code) {
        case PSN_SETACTIVE:
          param->context->activePage = param->resourceId;
          if (param->resourceId == 24026) RefreshDevices(page, param->context);
          SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
          return TRUE;
        case PSN_APPLY:
        case PSN_KILLACTIVE:
          param->context->changed = FALSE;
          SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
          return TRUE;
        default:
          return FALSE;
      }
    }
    default:
      return FALSE;
  }
}

}  // namespace

extern "C" void KVAPI KvAboutBox(HWND parent, DWORD recordSize, const KvAboutRecord* record) {
  Context c;
  std::memset(&c, 0, sizeof c);
  if (record) std::memcpy(&c.record, record, recordSize < sizeof c.record ? recordSize : sizeof c.record);
  c.parent = parent;
  c.centreOnce = TRUE;
  DWORD flags = c.record.flags ? c.record.flags : 7;
  if ((flags & KVABOUT_COPYRIGHTS_PATENTS) && !c.record.noticeFlags) c.record.noticeFlags = 3;

  // A start selector that names a page not chosen shows nothing.
  int startPosition = -1;
  if (c.record.start >= 1 && c.record.start <= 3) {
    if (!(flags & kStartFlags[c.record.start - 1])) return;
    startPosition = static_cast<int>(c.record.start) - 1;
  }

  HKVLANG lang = KvLang_GetLibraryHandle();
  HMODULE module = KvKernel_GetModule();
  std::vector<PageParam> params;
  params.reserve(sizeof kPages / sizeof kPages[0]);
  std::vector<HPROPSHEETPAGE> pages;
  int lastPosition = 0;
  for (const auto& p : kPages) {
    if (!(flags & p.flag)) continue;
    HGLOBAL res = KvLoadResourceCustom(lang, MAKEINTRESOURCEW(p.resource), RT_DIALOG, nullptr);
    const void* data = res ? LockResource(res) : nullptr;
    if (!data) continue;
    params.push_back({&c, p.resource});
    PROPSHEETPAGEW psp;
    std::memset(&psp, 0, sizeof psp);
    psp.dwSize = sizeof psp;
    psp.dwFlags = PSP_DLGINDIRECT;
    psp.hInstance = module;
    psp.pResource = static_cast<LPCDLGTEMPLATEW>(data);
    psp.pfnDlgProc = PageProc;
    psp.lParam = reinterpret_cast<LPARAM>(&params.back());
    HPROPSHEETPAGE h;
    {
      KvUI_ActivationScope scope;
      h = CreatePropertySheetPageW(&psp);
    }
    if (!h) {
      params.pop_back();
      continue;
    }
    if (p.resource == g_lastPage) lastPosition = static_cast<int>(pages.size());
    pages.push_back(h);
  }
  if (pages.empty()) return;
  if (startPosition >= static_cast<int>(pages.size())) startPosition = 0;

  std::wstring title = Format(KvGetString(lang, kStrTitle), c.record.appName);
  PROPSHEETHEADERW psh;
  std::memset(&psh, 0, sizeof psh);
  psh.dwSize = sizeof psh;
  psh.dwFlags = PSH_NOAPPLYNOW;
  psh.hwndParent = parent;
  psh.hInstance = module;
  psh.pszCaption = title.c_str();
  psh.nPages = static_cast<UINT>(pages.size());
  psh.nStartPage = static_cast<UINT>(startPosition >= 0 ? startPosition : lastPosition);
  psh.phpage = pages.data();
  {
    KvUI_ActivationScope scope;
    PropertySheetW(&psh);
  }
  if (c.activePage) g_lastPage = c.activePage;
  if (c.logo2) DeleteObject(c.logo2);
}

extern "C" int KVAPI KvFormatPropLabel(const wchar_t* label, int width, wchar_t* out, int outSize) {
  int n = width < outSize ? width : outSize;
  if (!out || n < 1) return n < 0 ? 0 : n;
  // The text fills n - 1 characters: four spaces, the label cut to fit, ":",
  // then spaces.
  const int room = n - 1;
  int at = 0;
  for (int i = 0; i < 4 && at < room; ++i) out[at++] = L' ';
  const int labelRoom = room - at - 1;
  for (const wchar_t* p = label ? label : L""; *p && at < 4 + labelRoom; ++p) out[at++] = *p;
  if (at < room) out[at++] = L':';
  while (at < room) out[at++] = L' ';
  out[at] = 0;
  return n;
}

extern "C" void KVAPI KvSysInfo(HWND edit, BOOL detail, const wchar_t* extra) {
  if (!edit) return;
  SetWindowTextW(edit, L"");
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(KvGetUIFont(KV_UIFONT_FIXED)), FALSE);

  Line(edit, L"Operating System");
  wchar_t os[33] = {};
  KvGetOS(os, 33);
  Row(edit, L"Platform", os);
  OSVERSIONINFOW v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&v);
#pragma GCC diagnostic pop
  std::wstring version = Num(v.dwMajorVersion) + L"." + TwoDigits(v.dwMinorVersion, 2) + L"." +
                         TwoDigits(v.dwBuildNumber & 0xFFFF, 3);
  if (v.szCSDVersion[0]) version += std::wstring(L" (") + v.szCSDVersion + L")";
  Row(edit, L"Version", version);
  Row(edit, L"Language", EnglishLanguage(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT)));
  Row(edit, L"System locale", EnglishLanguage(GetSystemDefaultLCID()));
  Row(edit, L"User locale", EnglishLanguage(GetUserDefaultLCID()));

  Line(edit, L"\r\nProcessor");
  wchar_t brand[64] = {};
  std::wstring cls;
  if (SUCCEEDED(KvGetCPUBrandString(brand, 64)) && brand[0]) {
    cls = brand;
    if (cls.size() > 50) cls.resize(50);
    while (!cls.empty() && cls[0] == L' ') cls.erase(cls.begin());
  } else {
    static const wchar_t* const kClasses[] = {L"Generic", L"i486", L"Pentium", L"Pentium Pro",
                                              L"Pentium II", L"Pentium III", L"Pentium 4"};
    DWORD c = KvGetCPUSupport(0) & KVCPU_CLASS_MASK;
    cls = c >= 1 && c <= 6 ? kClasses[c] : kClasses[0];
  }
  Row(edit, L"Class", cls);
  wchar_t vendor[17] = {};
  Row(edit, L"Identifier", SUCCEEDED(KvGetCPUVendorString(vendor, 17)) && vendor[0] ? vendor : L"Unknown");
  Row(edit, L"Number of processors", Num(KvGetProcessorCount()));
  const DWORD raw = KvGetCPUSupportRaw(0);
  const struct {
    const wchar_t* label;
    DWORD bit;
  } features[] = {{L"MMX available", KVCPU_MMX},     {L"SSE available", KVCPU_SSE},
                  {L"SSE2 available", KVCPU_SSE2},   {L"SSE3 available", KVCPU_SSE3},
                  {L"SSSE3 available", KVCPU_SSSE3}, {L"SSE4.1 available", KVCPU_SSE41},
                  {L"SSE4.2 available", KVCPU_SSE42}};
  for (const auto& f : features) Row(edit, f.label, YesNo(raw & f.bit));

  Line(edit, L"\r\nDisplay");
  HDC dc = GetDC(nullptr);
  int depth = dc ? GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) : 0;
  if (dc) ReleaseDC(nullptr, dc);
  Row(edit, L"Primary", Num(GetSystemMetrics(SM_CXSCREEN)) + L"x" + Num(GetSystemMetrics(SM_CYSCREEN)) + L"x" +
                            Num(depth));

  Line(edit, L"\r\nMemory");
  MEMORYSTATUSEX mem;
  std::memset(&mem, 0, sizeof mem);
  mem.dwLength = sizeof mem;
  GlobalMemoryStatusEx(&mem);
  Row(edit, L"Physical memory", Tenths(mem.ullTotalPhys));
  Row(edit, L"Paging memory available", Tenths(mem.ullTotalPageFile));
  Row(edit, L"Virtual memory possible", Tenths(mem.ullTotalVirtual));

  if (detail) {
    Line(edit, L"\r\nDebug");
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    Row(edit, L"Active processor mask", HexH(si.dwActiveProcessorMask));
    Row(edit, L"Memory load (current)", Num(mem.dwMemoryLoad) + L" %");
    Row(edit, L"Page size", Num(si.dwPageSize / 1024) + L" KB");
    Row(edit, L"Allocation granularity", Num(si.dwAllocationGranularity / 1024) + L" KB");
    Row(edit, L"Min. app address", HexH(reinterpret_cast<UINT_PTR>(si.lpMinimumApplicationAddress)));
    Row(edit, L"Max. app address", HexH(reinterpret_cast<UINT_PTR>(si.lpMaximumApplicationAddress)));
    const DWORD support = KvGetCPUSupport(0);
    Row(edit, L"CMOV available", YesNo(support & KVCPU_CMOV));
    Row(edit, L"FCOMI available", YesNo(support & KVCPU_CMOV_X87));
    Row(edit, L"RDTSC available", YesNo(support & KVCPU_TSC));
    int level = KvGetCPUIDMaxLevel();
    if (level >= 0) {
      Row(edit, L"CPU ID level supported", Num(level));
      unsigned a, b, cx, d;
      if (level >= 1 && __get_cpuid(1, &a, &b, &cx, &d)) {
        Row(edit, L"Version info (EAX)", HexH(a));
        Row(edit, L"Features (EDX)", HexH(d));
      }
      if (level >= 2 && __get_cpuid(2, &a, &b, &cx, &d)) {
        Row(edit, L"Cache/TLB (EAX)", HexH(a));
        Row(edit, L"Cache/TLB (EBX)", HexH(b));
        Row(edit, L"Cache/TLB (ECX)", HexH(cx));
        Row(edit, L"Cache/TLB (EDX)", HexH(d));
      }
    }
  }
  if (extra && *extra) KvMEditPrintF(edit, L"\r\n%s", extra);
}
