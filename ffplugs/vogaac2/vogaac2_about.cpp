// The plug-in's about box.
#include "vogaac2_about.h"

#include <cstring>

#include "kvabout.h"
#include "kvpath.h"
#include "kvprintf.h"
#include "kvstr.h"
#include "module.h"
#include "plugin_text.h"

namespace {
const DWORD kAboutRecordSize = sizeof(KvAboutRecord);
// Room for the title: the format and the product name with room to spare.
const int kTitleCapacity = 512;
}  // namespace

HRESULT ShowPluginAbout(HWND parent) {
#ifndef _WIN64
  static_assert(kAboutRecordSize == 104, "the about description is 104 bytes");
#endif
  const wchar_t* product = GetPluginText(12);
  wchar_t title[kTitleCapacity];
  title[0] = 0;
  // The format takes one text: a product name that does not fit is cut.
  wchar_t name[128];
  KvStrCpyNLen(name, product, 128);
  KvPrintF(title, GetPluginText(11), name);
  wchar_t modulePath[MAX_PATH];
  modulePath[0] = 0;
  KvGetModuleFileName(vogaac2::ModuleHandle(), modulePath, MAX_PATH);

  KvAboutRecord record;
  std::memset(&record, 0, sizeof record);
  record.appName = title;
  record.comments = GetPluginText(13);
  record.linkText = GetPluginText(14);
  record.linkTarget = GetPluginText(15);
  record.extra = modulePath;
  // The plug-in's mark (its bitmap resource, a packed DIB) beside the texts.
  HMODULE module = vogaac2::ModuleHandle();
  HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(kVogAacAboutBitmapId), RT_BITMAP) : nullptr;
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const BITMAPINFOHEADER* logo = loaded ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded)) : nullptr;
  if (logo && SizeofResource(module, found) >= sizeof(BITMAPINFOHEADER) && logo->biSize >= sizeof(BITMAPINFOHEADER)) {
    record.logo = logo;
    record.logoWidth = logo->biWidth;
    record.logoHeight = logo->biHeight;
  }
  KvAboutBox(parent, kAboutRecordSize, &record);
  return S_OK;
}
