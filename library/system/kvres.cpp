#include "kvres.h"

#include "kvguard.h"

#include <string>
#include <vector>

#include "kvkernel.h"
#include "kvstr.h"
#include "kvsysfmt.h"
#include "kvuifont.h"

namespace {

const int kMenuTextChars = 2048;

struct Modules {
  HMODULE module = nullptr;
  HMODULE satellite = nullptr;
  BOOL active = FALSE;
};

Modules Of(HKVLANG lang) {
  Modules m;
  KvLang_GetModules(lang, &m.module, &m.satellite, &m.active);
  return m;
}

WORD LangId(HKVLANG lang) { return LANGIDFROMLCID(KvLang_GetLCID(lang)); }

// The resource in the active satellite with the handle's language.
HRSRC FindInSatellite(HKVLANG lang, const Modules& m, LPCWSTR name, LPCWSTR type) {
  if (!m.active || !m.satellite) return nullptr;
  return FindResourceExW(m.satellite, type, name, LangId(lang));
}

// The resource in the module: in English when the module is its own
// satellite, else by the platform's choice.
HRSRC FindInModule(const Modules& m, LPCWSTR name, LPCWSTR type) {
  if (!m.module) return nullptr;
  if (m.satellite == m.module) {
    HRSRC r = FindResourceExW(m.module, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (r) return r;
  }
  return FindResourceW(m.module, name, type);
}

// The module whose image holds a resource handle (a resource handle points
// into its module's resource directory).
HMODULE HolderOf(const Modules& m, HRSRC resource) {
  MEMORY_BASIC_INFORMATION mbi;
  if (resource && VirtualQuery(resource, &mbi, sizeof(mbi))) {
    HMODULE base = static_cast<HMODULE>(mbi.AllocationBase);
    if (base == m.satellite || base == m.module) return base;
  }
  return m.active && m.satellite ? m.satellite : m.module;
}

struct Found {
  HMODULE holder = nullptr;
  HRSRC resource = nullptr;
};

Found FindCommon(HKVLANG lang, LPCWSTR name, LPCWSTR type) {
  Modules m = Of(lang);
  Found f;
  if ((f.resource = FindInSatellite(lang, m, name, type))) {
    f.holder = m.satellite;
  } else if ((f.resource = FindInModule(m, name, type))) {
    f.holder = m.module;
  }
  return f;
}

const void* Data(const Found& f, DWORD* size = nullptr) {
  if (!f.resource) return nullptr;
  HGLOBAL g = LoadResource(f.holder, f.resource);
  if (size) *size = SizeofResource(f.holder, f.resource);
  return g ? LockResource(g) : nullptr;
}

bool IsPlainSeparator(HMENU menu, int position) {
  MENUITEMINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_SUBMENU;
  if (!GetMenuItemInfoW(menu, position, TRUE, &info)) return false;
  return (info.fType & MFT_SEPARATOR) && !info.hSubMenu;
}

// Rewrites only the item's text, so that a popup keeps its submenu.
void SetItemText(HMENU menu, int position, const wchar_t* text) {
  MENUITEMINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STRING;
  info.dwTypeData = const_cast<wchar_t*>(text);
  SetMenuItemInfoW(menu, position, TRUE, &info);
}

bool ItemText(HMENU menu, int position, std::vector<wchar_t>* text) {
  MENUITEMINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_STRING;
  if (!GetMenuItemInfoW(menu, position, TRUE, &info) || (info.fType & (MFT_SEPARATOR | MFT_BITMAP))) return false;
  text->assign(info.cch + 1, 0);
  info.cch += 1;
  info.dwTypeData = text->data();
  return GetMenuItemInfoW(menu, position, TRUE, &info) != FALSE;
}

// Removes the "^*" markers of every item with a text below a submenu.
void StripMarkers(HMENU menu) {
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    std::vector<wchar_t> text;
    HMENU sub = GetSubMenu(menu, i);
    if (!sub && ItemText(menu, i, &text) && text[0] == L'^' && text[1] == L'*') SetItemText(menu, i, text.data() + 2);
    if (sub) StripMarkers(sub);
  }
}

void MarkerPass(HMENU menu) {
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i)
    if (HMENU sub = GetSubMenu(menu, i)) StripMarkers(sub);
}

template <typename Fn>
void ForEachListed(const UINT* ids, int count, Fn fn) {
  if (!ids) return;
  int limit = count < 0 ? 10000 : count;
  for (int i = 0; i < limit && ids[i]; ++i) fn(ids[i]);
}

HACCEL AcceleratorsFrom(const void* data, DWORD size) {
  // Resource entries: flags, key, command, padding (8 bytes); 0x80 marks the last.
  struct Entry {
    WORD flags, key, command, padding;
  };
  const Entry* e = static_cast<const Entry*>(data);
  std::vector<ACCEL> table;
  for (DWORD i = 0; (i + 1) * sizeof(Entry) <= size; ++i) {
    ACCEL a;
    a.fVirt = static_cast<BYTE>(e[i].flags & 0x7F);
    a.key = e[i].key;
    a.cmd = e[i].command;
    table.push_back(a);
    if (e[i].flags & 0x80) break;
  }
  return table.empty() ? nullptr : CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Skips a menu/class entry of a dialog template: 0, 0xFFFF + ordinal, or text.
const WORD* SkipSzOrOrd(const WORD* p) {
  if (*p == 0) return p + 1;
  if (*p == 0xFFFF) return p + 2;
  while (*p) ++p;
  return p + 1;
}

}  // namespace

extern "C" HRSRC KVAPI KvFindResource(HKVLANG lang, LPCWSTR name, LPCWSTR type) {
  return FindCommon(lang, name, type).resource;
}

extern "C" HRSRC KVAPI KvFindResourceMulti(HKVLANG lang, LPCWSTR type, const LPCWSTR* names, int count, int* index) {
  if (index) *index = -1;
  if (!names) return nullptr;
  Modules m = Of(lang);
  for (int i = 0; i < count; ++i)
    if (HRSRC r = FindInSatellite(lang, m, names[i], type)) {
      if (index) *index = i;
      return r;
    }
  for (int i = 0; i < count; ++i)
    if (HRSRC r = FindInModule(m, names[i], type)) {
      if (index) *index = i;
      return r;
    }
  return nullptr;
}

extern "C" HMODULE KVAPI KvFindResInstance(HKVLANG lang, LPCWSTR name, LPCWSTR type) {
  Modules m = Of(lang);
  return FindInSatellite(lang, m, name, type) ? m.satellite : m.module;
}

extern "C" HGLOBAL KVAPI KvLoadResource(HKVLANG lang, HRSRC resource) {
  if (!resource) return nullptr;
  return LoadResource(HolderOf(Of(lang), resource), resource);
}

extern "C" DWORD KVAPI KvSizeofResource(HKVLANG lang, HRSRC resource) {
  if (!resource) return 0;
  return SizeofResource(HolderOf(Of(lang), resource), resource);
}

extern "C" HGLOBAL KVAPI KvLoadResourceCustom(HKVLANG lang, LPCWSTR name, LPCWSTR type, DWORD* size) {
  if (size) *size = 0;
  Found f = FindCommon(lang, name, type);
  if (!f.resource) return nullptr;
  if (size) *size = SizeofResource(f.holder, f.resource);
  return LoadResource(f.holder, f.resource);
}

extern "C" HACCEL KVAPI KvLoadAccelerators(HKVLANG lang, LPCWSTR name) {
  return KvGuard<HACCEL>(static_cast<HACCEL>(nullptr), [&]() -> HACCEL {
  Modules m = Of(lang);
  Found f;
  if ((f.resource = FindInSatellite(lang, m, name, RT_ACCELERATOR))) {
    f.holder = m.satellite;
    DWORD size = 0;
    const void* data = Data(f, &size);
    if (HACCEL a = data ? AcceleratorsFrom(data, size) : nullptr) return a;
  }
  return m.module ? LoadAcceleratorsW(m.module, name) : nullptr;
  });
}

extern "C" HMENU KVAPI KvLoadMenu(HKVLANG lang, LPCWSTR name) {
  return KvGuard<HMENU>(static_cast<HMENU>(nullptr), [&]() -> HMENU {
  Found f = FindCommon(lang, name, RT_MENU);
  const void* data = Data(f);
  HMENU menu = data ? LoadMenuIndirectW(static_cast<const MENUTEMPLATEW*>(data)) : nullptr;
  if (menu) MarkerPass(menu);
  return menu;
  });
}

extern "C" HMENU KVAPI KvLoadCulledMenu(HKVLANG lang, LPCWSTR name, const UINT* ids, int count, BOOL clean) {
  HMENU menu = KvLoadMenu(lang, name);
  if (menu) KvCullMenu(menu, ids, count, clean);
  return menu;
}

namespace {

// Runs a dialog resource through run(module, template): the satellite's
// template first, when the satellite has one and run does not answer failed;
// else the module's. failed when neither holds the dialog.
template <typename R, typename Run>
R RunDialogResource(HKVLANG lang, LPCWSTR name, R failed, Run run) {
  Modules m = Of(lang);
  if (HRSRC r = FindInSatellite(lang, m, name, RT_DIALOG)) {
    Found f;
    f.holder = m.satellite;
    f.resource = r;
    if (const void* data = Data(f)) {
      R result = run(m.satellite, static_cast<LPCDLGTEMPLATEW>(data));
      if (result != failed) return result;
    }
  }
  Found f;
  f.holder = m.module;
  f.resource = FindInModule(m, name, RT_DIALOG);
  const void* data = Data(f);
  return data ? run(m.module, static_cast<LPCDLGTEMPLATEW>(data)) : failed;
}

}  // namespace

extern "C" HWND KVAPI KvCreateDialogParam(HKVLANG lang, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  return RunDialogResource(lang, name, static_cast<HWND>(nullptr), [&](HMODULE holder, LPCDLGTEMPLATEW t) {
    return CreateDialogIndirectParamW(holder, t, parent, proc, param);
  });
}

extern "C" INT_PTR KVAPI KvDialogBoxParam(HKVLANG lang, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  return RunDialogResource(lang, name, static_cast<INT_PTR>(-1), [&](HMODULE holder, LPCDLGTEMPLATEW t) {
    return DialogBoxIndirectParamW(holder, t, parent, proc, param);
  });
}

extern "C" HWND KVAPI KvCreateDialogIndirectParam(HKVLANG lang, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                                  DLGPROC proc, LPARAM param) {
  Modules m = Of(lang);
  if (m.active && m.satellite)
    if (HWND w = CreateDialogIndirectParamW(m.satellite, dialogTemplate, parent, proc, param)) return w;
  return CreateDialogIndirectParamW(m.module, dialogTemplate, parent, proc, param);
}

extern "C" INT_PTR KVAPI KvDialogBoxIndirectParam(HKVLANG lang, LPCDLGTEMPLATEW dialogTemplate, HWND parent,
                                                  DLGPROC proc, LPARAM param) {
  return DialogBoxIndirectParamW(Of(lang).module, dialogTemplate, parent, proc, param);
}

extern "C" HBITMAP KVAPI KvLoadBitmap(HKVLANG lang, LPCWSTR name) { return LoadBitmapW(Of(lang).module, name); }

extern "C" HICON KVAPI KvLoadIcon(HKVLANG lang, LPCWSTR name) { return LoadIconW(Of(lang).module, name); }

extern "C" HANDLE KVAPI KvLoadImage(HKVLANG lang, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  return LoadImageW(Of(lang).module, name, type, cx, cy, flags);
}

extern "C" HIMAGELIST KVAPI KvImageList_LoadImage(HKVLANG lang, LPCWSTR bitmap, int cx, int grow, COLORREF mask,
                                                  UINT type, UINT flags) {
  return ImageList_LoadImageW(Of(lang).module, bitmap, cx, grow, mask, type, flags);
}

extern "C" HCURSOR KVAPI KvLoadCursor(HKVLANG lang, LPCWSTR id) {
  if (lang) return LoadCursorW(Of(lang).module, id);
  UINT_PTR value = reinterpret_cast<UINT_PTR>(id);
  if (IS_INTRESOURCE(id) && value >= 32512 && value <= 65535) return LoadCursorW(nullptr, id);
  return LoadCursorW(KvKernel_GetModule(), id);
}

// ---- Menus ----

extern "C" BOOL KVAPI KvCullMenu(HMENU menu, const UINT* ids, int count, BOOL clean) {
  if (!menu) return FALSE;
  ForEachListed(ids, count, [&](UINT id) { DeleteMenu(menu, id, MF_BYCOMMAND); });
  if (clean) KvCleanMenu(menu, nullptr, -1);
  return TRUE;
}

extern "C" BOOL KVAPI KvGrayMenu(HMENU menu, const UINT* ids, int count) {
  if (!menu) return FALSE;
  ForEachListed(ids, count, [&](UINT id) { EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED); });
  return TRUE;
}

static int SetAllItems(HMENU menu, UINT state) {
  int count = GetMenuItemCount(menu);
  if (count < 1) return count;
  int result = 0;
  for (int i = 0; i < count; ++i) result = EnableMenuItem(menu, i, MF_BYPOSITION | state);
  return result;
}

extern "C" int KVAPI KvGrayAllMenuItems(HMENU menu) { return SetAllItems(menu, MF_GRAYED); }
extern "C" int KVAPI KvEnableAllMenuItems(HMENU menu) { return SetAllItems(menu, MF_ENABLED); }

extern "C" BOOL KVAPI KvCleanMenu(HMENU menu, HMENU parent, int position) {
  if (!menu) return FALSE;
  int i = 0;
  while (i < GetMenuItemCount(menu)) {
    int count = GetMenuItemCount(menu);
    if (HMENU sub = GetSubMenu(menu, i)) {
      if (KvCleanMenu(sub, menu, i)) {
        // The emptied submenu left this menu: look at the item before again.
        i = i > 0 ? i - 1 : 0;
        count = GetMenuItemCount(menu);
        if (count > 0 && i == count - 1 && IsPlainSeparator(menu, i)) DeleteMenu(menu, i, MF_BYPOSITION);
        continue;
      }
      ++i;
      continue;
    }
    if (IsPlainSeparator(menu, i)) {
      if (i == 0 || i == count - 1 || IsPlainSeparator(menu, i - 1) || IsPlainSeparator(menu, i + 1)) {
        DeleteMenu(menu, i, MF_BYPOSITION);
        continue;
      }
    }
    ++i;
  }
  if (GetMenuItemCount(menu) > 0) return FALSE;
  if (parent) DeleteMenu(parent, position, MF_BYPOSITION);
  return TRUE;
}

extern "C" BOOL KVAPI KvFindSubMenu(HMENU menu, UINT id, HMENU* holder, int* position) {
  if (!menu) return FALSE;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    if (HMENU sub = GetSubMenu(menu, i)) {
      if (KvFindSubMenu(sub, id, holder, position)) {
        if (position) *position = i;
        return TRUE;
      }
    } else if (GetMenuItemID(menu, i) == id) {
      if (holder) *holder = menu;
      return TRUE;
    }
  }
  return FALSE;
}

extern "C" HMENU KVAPI KvGetSubmenuByID(HMENU menu, UINT id, int* position) {
  int pos = -1;
  HMENU holder = nullptr;
  if (!KvFindSubMenu(menu, id, &holder, &pos)) {
    holder = nullptr;
    pos = -1;
  }
  if (position) *position = pos;
  return holder;
}

extern "C" BOOL KVAPI KvMenuReplaceTokens(HMENU menu) {
  return KvGuard<BOOL>(FALSE, [&]() -> BOOL {
  if (!menu) return FALSE;
  int count = GetMenuItemCount(menu);
  std::vector<wchar_t> out(kMenuTextChars);
  for (int i = 0; i < count; ++i) {
    std::vector<wchar_t> text;
    if (ItemText(menu, i, &text)) {
      // Only the named tokens expand: other codes are kept as they stand, so
      // that nothing reads an argument that was never passed.
      std::wstring format;
      for (size_t k = 0; k < 100 && text[k]; ++k) {
        wchar_t c = text[k];
        if (c == L'%') format += L"%%";
        else if (c == L'$' && text[k + 1] != L'(') format += L"$$";
        else format += c;
      }
      KvSysFormat(out.data(), kMenuTextChars, format.c_str());
      SetItemText(menu, i, out.data());
    }
    if (HMENU sub = GetSubMenu(menu, i)) KvMenuReplaceTokens(sub);
  }
  return TRUE;
  });
}

// ---- Dialog sizes ----

extern "C" BOOL KVAPI KvGetDialogUnitsForFont(const wchar_t* face, int points, int weight, BYTE charset, BYTE italic,
                                              SIZE* units) {
  if (!units) return FALSE;
  units->cx = units->cy = 0;
  HDC dc = GetDC(nullptr);
  if (!dc) return FALSE;
  wchar_t name[32];
  KvStrCpyN(name, face ? face : L"", 32);
  int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  HFONT font = CreateFontW(height, 0, 0, 0, weight, italic, 0, 0, charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, name);
  if (font) {
    HGDIOBJ old = SelectObject(dc, font);
    SIZE s = {0, 0};
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &s);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    units->cx = (s.cx + 26) / 52;
    units->cy = tm.tmHeight + tm.tmExternalLeading;
    SelectObject(dc, old);
    DeleteObject(font);
  }
  ReleaseDC(nullptr, dc);
  return units->cx != 0;
}

extern "C" BOOL KVAPI KvGetDialogSizeIndirect(HKVLANG, const void* dialogTemplate, SIZE* size) {
  if (!dialogTemplate || !size) return FALSE;
  const WORD* p = static_cast<const WORD*>(dialogTemplate);
  bool extended = *reinterpret_cast<const DWORD*>(p) == 0xFFFF0001;
  DWORD style;
  short cx, cy;
  if (extended) {
    style = *reinterpret_cast<const DWORD*>(p + 6);
    cx = static_cast<short>(p[11]);
    cy = static_cast<short>(p[12]);
    p += 13;
  } else {
    style = *reinterpret_cast<const DWORD*>(p);
    cx = static_cast<short>(p[7]);
    cy = static_cast<short>(p[8]);
    p += 9;
  }
  SIZE units = {0, 0};
  if (style & DS_SETFONT) {
    p = SkipSzOrOrd(p);  // menu
    p = SkipSzOrOrd(p);  // class
    while (*p) ++p;      // title
    ++p;
    int points = *p++;
    int weight = 400;
    BYTE italic = 0, charset = 1;
    if (extended) {
      weight = *p++;
      italic = LOBYTE(*p);
      charset = HIBYTE(*p);
      ++p;
    }
    KvGetDialogUnitsForFont(reinterpret_cast<const wchar_t*>(p), points, weight, charset, italic, &units);
  }
  if (units.cx == 0 || units.cy == 0) units = *KvGetUIFontSize(KV_UIFONT_DEFAULT);
  size->cx = MulDiv(cx, units.cx, 4);
  size->cy = MulDiv(cy, units.cy, 8);
  return TRUE;
}

extern "C" BOOL KVAPI KvGetDialogSize(HKVLANG lang, WORD id, LPVOID, LPARAM param, SIZE* size) {
  if (!size) return FALSE;
  HDC dc = GetDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 0;
  if (dc) ReleaseDC(nullptr, dc);
  if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_ENGLISH && dpi == 96) {
    HGLOBAL g = KvLoadResourceCustom(lang, MAKEINTRESOURCEW(id), RT_DIALOG, nullptr);
    const void* data = g ? LockResource(g) : nullptr;
    return data ? KvGetDialogSizeIndirect(lang, data, size) : FALSE;
  }
  HWND dialog = KvCreateDialogParam(lang, MAKEINTRESOURCEW(id), GetDesktopWindow(), QuietDialogProc, param);
  if (!dialog) return FALSE;
  RECT r;
  GetWindowRect(dialog, &r);
  DestroyWindow(dialog);
  size->cx = r.right - r.left;
  size->cy = r.bottom - r.top;
  return TRUE;
}
