// The about box: a property sheet of pages chosen by flags (general, computer,
// performance, skin, components, multimedia devices and the product's notice
// pages), and the system information it shows.
#pragma once

#include "kvapi.h"

// Page flags.
#define KVABOUT_GENERAL 0x0001
#define KVABOUT_COMPUTER 0x0002
#define KVABOUT_PERFORMANCE 0x0004
#define KVABOUT_SKIN 0x0080
#define KVABOUT_COPYRIGHTS_PATENTS 0x0100
#define KVABOUT_GENERAL_WIDE 0x0200
#define KVABOUT_COMPONENTS 0x0400
#define KVABOUT_MULTIMEDIA 0x0800

// Control ids of the pages.
#define KVABOUT_ID_SKIN_TITLE 53004
#define KVABOUT_ID_SKIN_AUTHOR 53005
#define KVABOUT_ID_SKIN_COPYRIGHT 53006
#define KVABOUT_ID_SKIN_ABOUT 53007
#define KVABOUT_ID_NAME 53010
#define KVABOUT_ID_VERSION 53011
#define KVABOUT_ID_COPYRIGHT 53012
#define KVABOUT_ID_COPYRIGHT2 53013
#define KVABOUT_ID_COMMENTS 53014
#define KVABOUT_ID_LEGAL 53015
#define KVABOUT_ID_LOGO 53016
#define KVABOUT_ID_SYSINFO 53017
#define KVABOUT_ID_LINK 53018
#define KVABOUT_ID_COMPONENTS 53022
#define KVABOUT_ID_MULTIMEDIA 53039

#ifdef __cplusplus
// The provider of the multimedia-devices page's text.
struct KvAboutDeviceInfo {
  virtual HRESULT __stdcall Attach(HWND page) = 0;
  virtual HRESULT __stdcall Refresh(DWORD reserved) = 0;
  virtual HRESULT __stdcall GetText(wchar_t** text, DWORD* length) = 0;
};
#else
typedef struct KvAboutDeviceInfo KvAboutDeviceInfo;
#endif

// The caller's description of the about box (104 bytes; a shorter record
// reads as zeros beyond its size). Texts may be null.
#pragma pack(push, 4)
typedef struct KvAboutRecord {
  DWORD start;  // 1-3: open on that page position (if that page is chosen); else the page last shown
  DWORD reserved4;
  const wchar_t* appName;
  const wchar_t* version;
  const wchar_t* copyright;
  const wchar_t* copyright2;
  DWORD reserved24[3];
  const wchar_t* comments;  // 36
  const wchar_t* linkText;
  const wchar_t* linkTarget;  // a page id 101-105 or an address
  DWORD reserved48;
  const wchar_t* skinTitle;  // 52
  const wchar_t* skinAuthor;
  const wchar_t* skinCopyright;
  const wchar_t* skinAbout;
  const wchar_t* extra;  // 68: appended to the computer page
  const wchar_t* components;
  KvAboutDeviceInfo* devices;  // 76
  DWORD flags;  // 80: pages; 0 means 7
  const void* logo;  // 84: packed DIB
  int logoWidth, logoHeight;
  DWORD noticeFlags;  // 96
  const wchar_t* linkClassFormat;  // 100: null = "KvKrn_Static_Class"
} KvAboutRecord;
#pragma pack(pop)

KV_EXTERN_C_BEGIN

// Runs the modal about box over the parent.
void KVAPI KvAboutBox(HWND parent, DWORD recordSize, const KvAboutRecord* record);
// Writes the system information into a multi-line edit control; detail adds a
// debug section; extra (may be null) is appended.
void KVAPI KvSysInfo(HWND edit, BOOL detail, const wchar_t* extra);
// Four spaces, the label, ":" and spaces up to min(width, outSize) - 1
// characters; returns min(width, outSize).
int KVAPI KvFormatPropLabel(const wchar_t* label, int width, wchar_t* out, int outSize);

KV_EXTERN_C_END
