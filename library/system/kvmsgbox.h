// Message boxes: one entry (KvMessageBox) that a host can take over with a
// hook (or the built-in no-UI hook that answers the default button), the
// platform box centred on its owner, and the custom box with the buttons the
// platform lacks, a check box and a collapsible details pane.
#pragma once

#include "kvapi.h"
#include "kvlang.h"

// Hook: answers instead of the user; KV_MSGBOX_NOT_HANDLED shows the box.
typedef DWORD(__stdcall* KVMSGBOXHOOK)(void* data, HWND owner, const wchar_t* text, const wchar_t* caption,
                                       UINT type);
// Callback of the built-in no-UI hook: receives every message text.
typedef void(__stdcall* KVMSGBOXNOUICALLBACK)(const wchar_t* text);

#define KV_MSGBOX_NOT_HANDLED 0xFFFFFFFFu

// Custom box flags: button set (bits 0-3), icon (bits 4-7), default button
// index (bits 8-11), check box, details pane.
#define KVMB_OK 0
#define KVMB_OKCANCEL 1
#define KVMB_ABORTRETRYIGNORE 2
#define KVMB_YESNOCANCEL 3
#define KVMB_YESNO 4
#define KVMB_RETRYCANCEL 5
#define KVMB_YESYESALLNOCANCEL 10
#define KVMB_YESNODELETE 11
#define KVMB_YESNONOALLCANCEL 12
#define KVMB_YESYESALLNONOALLCANCEL 13
#define KVMB_CHECKBOX 0x1000
#define KVMB_DETAILS 0xC000

// Answers of the custom buttons, and control ids of the custom box.
#define KVID_YESTOALL 100
#define KVID_DELETE 101
#define KVID_NOTOALL 102
#define KVID_MSGBOX_ICON 1001
#define KVID_MSGBOX_BUTTON 1002
#define KVID_MSGBOX_TEXT 1003
#define KVID_MSGBOX_DETAILS_BUTTON 200
#define KVID_MSGBOX_DETAILS_PANE 201
#define KVID_MSGBOX_CHECK 300

// Library string ids of the buttons and the check box.
#define IDS_KV_BTN_OK 48383
#define IDS_KV_BTN_CANCEL 48384
#define IDS_KV_BTN_ABORT 48385
#define IDS_KV_BTN_RETRY 48386
#define IDS_KV_BTN_IGNORE 48387
#define IDS_KV_BTN_YES 48388
#define IDS_KV_BTN_NO 48389
#define IDS_KV_BTN_YESTOALL 48390
#define IDS_KV_BTN_NOTOALL 48391
#define IDS_KV_BTN_DELETE 48392
#define IDS_KV_BTN_DETAILS 48393
#define IDS_KV_CHECK_DONTSHOW 48394
#define IDS_KV_BTN_NODETAILS 48395

KV_EXTERN_C_BEGIN

BOOL KVAPI KvMsgBoxSetAppData(HINSTANCE instance, HWND appWindow, const wchar_t* appName);
BOOL KVAPI KvMsgBoxSetHook(KVMSGBOXHOOK hook, void* data);
BOOL KVAPI KvMsgBoxSetNoUIHook(KVMSGBOXNOUICALLBACK callback);
int KVAPI KvMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
int __cdecl KvMsgBox(HWND owner, UINT type, const wchar_t* format, ...);
int __cdecl KvMsgBoxId(HKVLANG lang, HWND owner, UINT type, UINT stringId, ...);
int __cdecl KvMsgBox_Custom(HWND owner, DWORD flags, const wchar_t* details, const wchar_t* format, ...);
int __cdecl KvMsgBox_CustomEx(HWND owner, DWORD flags, const wchar_t* details, const wchar_t* checkText,
                              int* checkState, const wchar_t* format, ...);

KV_EXTERN_C_END

// Library-internal: the application name recorded by KvMsgBoxSetAppData.
const wchar_t* KvMsgBox_GetAppName();
// The no-UI hook's answer for a type (no callback): the default button's id,
// or KV_MSGBOX_NOT_HANDLED when the default index lies beyond the set.
DWORD KvMsgBox_DefaultAnswer(UINT type);
