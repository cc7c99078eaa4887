// Resource loading: a windres-built menu (tests/kvres_test.rc) loaded through a
// language handle, culled, cleaned and token-replaced, read back item by item;
// the satellite choice (kvbasesys_res_tests.LNG holds a German menu only);
// sub-menu searches; accelerators. (Dialog sizes are checked on a display,
// with the message boxes.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvlang.h"
#include "kvprintf.h"
#include "kvres.h"

namespace {

// The menu as text: items separated by " | ", a separator as "-", a popup as
// "Caption{...}", a command as "Text=id", greyed items with a leading "~".
std::wstring Dump(HMENU menu) {
  std::wstring out;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    if (i) out += L" | ";
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    wchar_t text[256] = {};
    info.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_SUBMENU | MIIM_ID | MIIM_STATE;
    info.dwTypeData = text;
    info.cch = 256;
    GetMenuItemInfoW(menu, i, TRUE, &info);
    if (info.fType & MFT_SEPARATOR) {
      out += L"-";
      continue;
    }
    if (info.fState & MFS_GRAYED) out += L"~";
    out += text;
    if (info.hSubMenu)
      out += L"{" + Dump(info.hSubMenu) + L"}";
    else
      out += L"=" + std::to_wstring(info.wID);
  }
  return out;
}

// A handle on the test program, which is also the library's handle (the
// language switch changes both), and the format engine's token table.
struct Handle {
  Handle() {
    EXPECT_EQ(KvLang_Open(&h, GetModuleHandleW(nullptr), 1033, 0), S_OK);
    KvLang_SetLibraryHandle(h);
    KvPrintF_CreateTokenList();
  }
  ~Handle() {
    KvPrintF_DestroyTokenList();
    KvLang_SetLibraryHandle(nullptr);
    KvLang_Close(h);
  }
  HKVLANG h = nullptr;
};

const wchar_t kFullMenu[] =
    L"&File{&Open...\tCtrl+O=101 | - | &Export=102 | - | E&xit=103} | "
    L"&Tools{Only &one=201 | &Two=202} | "
    L"&Edit{&Undo=301 | - | $(VogTestApp) &Settings=302 | - | "
    L"&Convert to $(VogTestFormat){To $(VogTestFormat) at 100%=311 | To $(VogTestOther) $d %s=312}} | "
    L"^*&View{&Zoom=401 | ^*Mo&re{&Deep=411}} | &Help=900";

TEST(KvResMenu, LoadStripsMarkersBelowTheTopLevelOnly) {
  Handle lang;
  HMENU menu = KvLoadMenu(lang.h, MAKEINTRESOURCEW(500));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Dump(menu), kFullMenu);
  DestroyMenu(menu);
}

TEST(KvResMenu, CullAndCleanAsTheExamplesSay) {
  Handle lang;
  // The only command between two separators: one separator stays.
  const UINT exportOnly[] = {102};
  HMENU menu = KvLoadCulledMenu(lang.h, MAKEINTRESOURCEW(500), exportOnly, 1, TRUE);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Dump(GetSubMenu(menu, 0)), L"&Open...\tCtrl+O=101 | - | E&xit=103");
  DestroyMenu(menu);

  // A submenu whose commands are all culled leaves its parent, and so does
  // the separator left at the parent's end; an emptied top-level popup goes.
  const UINT all[] = {311, 312, 201, 202, 0, 103};
  menu = KvLoadCulledMenu(lang.h, MAKEINTRESOURCEW(500), all, -1, TRUE);
  EXPECT_EQ(Dump(menu),
            L"&File{&Open...\tCtrl+O=101 | - | &Export=102 | - | E&xit=103} | "
            L"&Edit{&Undo=301 | - | $(VogTestApp) &Settings=302} | "
            L"^*&View{&Zoom=401 | ^*Mo&re{&Deep=411}} | &Help=900");
  DestroyMenu(menu);

  // The list ends at its first 0.
  const UINT stop[] = {201, 0, 202};
  menu = KvLoadMenu(lang.h, MAKEINTRESOURCEW(500));
  EXPECT_TRUE(KvCullMenu(menu, stop, -1, FALSE));
  EXPECT_EQ(Dump(GetSubMenu(menu, 1)), L"&Two=202");
  // Separators collapse: remove Export and Exit, then Open: nothing but separators is left.
  const UINT file[] = {102, 103, 101};
  KvCullMenu(menu, file, 3, TRUE);
  EXPECT_EQ(Dump(menu).substr(0, 14), L"&Tools{&Two=20");
  DestroyMenu(menu);
}

TEST(KvResMenu, GreyingAndSearches) {
  Handle lang;
  HMENU menu = KvLoadMenu(lang.h, MAKEINTRESOURCEW(500));
  const UINT grey[] = {101, 411};
  KvGrayMenu(menu, grey, 2);
  EXPECT_EQ(Dump(GetSubMenu(menu, 0)).substr(0, 2), L"~&");
  EXPECT_NE(Dump(menu).find(L"~&Deep=411"), std::wstring::npos);
  HMENU file = GetSubMenu(menu, 0);
  KvGrayAllMenuItems(file);
  EXPECT_EQ(Dump(file), L"~&Open...\tCtrl+O=101 | - | ~&Export=102 | - | ~E&xit=103");
  KvEnableAllMenuItems(file);
  EXPECT_EQ(Dump(file), L"&Open...\tCtrl+O=101 | - | &Export=102 | - | E&xit=103");

  int position = 99;
  EXPECT_EQ(KvGetSubmenuByID(menu, 900, &position), menu);  // a top-level command
  EXPECT_EQ(position, -1);
  HMENU holder = KvGetSubmenuByID(menu, 411, &position);
  EXPECT_EQ(holder, GetSubMenu(GetSubMenu(menu, 3), 1));
  EXPECT_EQ(position, 3);  // the top-most branch
  EXPECT_EQ(KvGetSubmenuByID(menu, 312, &position), GetSubMenu(GetSubMenu(menu, 2), 4));
  EXPECT_EQ(position, 2);
  EXPECT_EQ(KvGetSubmenuByID(menu, 12345, &position), nullptr);
  EXPECT_EQ(position, -1);
  position = 77;
  EXPECT_TRUE(KvFindSubMenu(file, 103, &holder, &position));
  EXPECT_EQ(holder, file);
  EXPECT_EQ(position, 77);  // a direct hit leaves the position
  DestroyMenu(menu);
}

TEST(KvResMenu, TokensExpandAndPopupsKeepTheirSubmenus) {
  Handle lang;
  ASSERT_TRUE(KvPrintF_AddToken(L"VogTestApp", L"Vog"));
  ASSERT_TRUE(KvPrintF_AddToken(L"VogTestFormat", L"AAC"));
  std::wstring longValue(3000, L'L');
  ASSERT_TRUE(KvPrintF_AddToken(L"VogTestOther", longValue.c_str()));
  HMENU menu = KvLoadMenu(lang.h, MAKEINTRESOURCEW(500));
  ASSERT_TRUE(KvMenuReplaceTokens(menu));
  HMENU edit = GetSubMenu(menu, 2);
  std::wstring dump = Dump(edit);
  EXPECT_EQ(dump.substr(0, dump.find(L"To L")),
            L"&Undo=301 | - | Vog &Settings=302 | - | &Convert to AAC{To AAC at 100%=311 | ");
  // A long token value is cut at the bounded buffer; codes stay as they are.
  wchar_t text[4096] = {};
  GetMenuStringW(GetSubMenu(edit, 4), 312, text, 4096, MF_BYCOMMAND);
  EXPECT_EQ(wcslen(text), 2047u);
  EXPECT_EQ(std::wstring(text).substr(0, 4), L"To L");
  // The popup still opens its submenu.
  EXPECT_NE(GetSubMenu(edit, 4), nullptr);
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(edit, 4)), 2);
  EXPECT_EQ(Dump(GetSubMenu(menu, 0)), L"&Open...\tCtrl+O=101 | - | &Export=102 | - | E&xit=103");
  DestroyMenu(menu);
  KvPrintF_DeleteToken(L"VogTestApp");
  KvPrintF_DeleteToken(L"VogTestFormat");
  KvPrintF_DeleteToken(L"VogTestOther");
}

TEST(KvResSatellite, TranslatedMenuFirstThenTheModules) {
  Handle lang;
  ASSERT_TRUE(KvLang_UpdateKernelLCID(lang.h, 1031, 0));
  HMENU menu = KvLoadMenu(lang.h, MAKEINTRESOURCEW(500));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Dump(menu), L"&Datei{\u00d6&ffnen...=101}");
  DestroyMenu(menu);
  HMODULE self = GetModuleHandleW(nullptr);
  EXPECT_NE(KvFindResInstance(lang.h, MAKEINTRESOURCEW(500), RT_MENU), self);
  EXPECT_EQ(KvFindResInstance(lang.h, MAKEINTRESOURCEW(501), RT_MENU), self);
  HACCEL accel = KvLoadAccelerators(lang.h, MAKEINTRESOURCEW(500));
  ACCEL entries[4] = {};
  ASSERT_EQ(CopyAcceleratorTableW(accel, entries, 4), 1);
  EXPECT_EQ(entries[0].cmd, 102);
  EXPECT_EQ(entries[0].key, 'D');
  EXPECT_EQ(entries[0].fVirt & (FCONTROL | FSHIFT | FVIRTKEY), FCONTROL | FSHIFT | FVIRTKEY);
  DestroyAcceleratorTable(accel);
  // French: the satellite is active but has no French menu: the module's.
  ASSERT_TRUE(KvLang_UpdateKernelLCID(lang.h, 1036, 0));
  menu = KvLoadMenu(lang.h, MAKEINTRESOURCEW(500));
  EXPECT_EQ(Dump(menu), kFullMenu);
  DestroyMenu(menu);
  EXPECT_EQ(KvFindResInstance(lang.h, MAKEINTRESOURCEW(500), RT_MENU), self);
  accel = KvLoadAccelerators(lang.h, MAKEINTRESOURCEW(500));
  EXPECT_EQ(CopyAcceleratorTableW(accel, entries, 4), 2);
  DestroyAcceleratorTable(accel);
  // Resource data found in the module loads from the module.
  DWORD size = 0;
  HRSRC r = KvFindResource(lang.h, MAKEINTRESOURCEW(500), RT_MENU);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(KvSizeofResource(lang.h, r), SizeofResource(self, r));
  EXPECT_NE(KvLoadResourceCustom(lang.h, MAKEINTRESOURCEW(500), RT_MENU, &size), nullptr);
  EXPECT_EQ(size, SizeofResource(self, r));
  const LPCWSTR names[] = {MAKEINTRESOURCEW(499), MAKEINTRESOURCEW(500)};
  int index = -1;
  EXPECT_NE(KvFindResourceMulti(lang.h, RT_MENU, names, 2, &index), nullptr);
  EXPECT_EQ(index, 1);
}

}  // namespace
