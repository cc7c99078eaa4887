// Web pages opened with the shell, mail sent through the system's simple mail
// interface (the user edits and sends it in the mail program), the system
// sounds, and strings of a file's version resource.
#pragma once

#include "kvapi.h"

// Page ids of Internet_BrowseWebPage: the product site's pages.
#define KV_WEBPAGE_NEWS 101
#define KV_WEBPAGE_FAQ 102
#define KV_WEBPAGE_SUPPORT 103
#define KV_WEBPAGE_HOME 104
#define KV_WEBPAGE_PRODUCT 105

// KvBeep kinds.
#define KV_BEEP_EXCLAMATION 1
#define KV_BEEP_ASTERISK 2
#define KV_BEEP_QUESTION 3
#define KV_BEEP_DONE_PROCESSING 4

KV_EXTERN_C_BEGIN

// Opens an address (or a page id 101-105 given in place of the pointer) with
// the shell's "open" verb; the shell's result.
HINSTANCE KVAPI Internet_BrowseWebPage(HWND window, const wchar_t* address);
// Mail with one attached file, edited and sent in the mail program. 0 when
// sent, cancelled or no profile could be logged on; 0x80004005 otherwise.
HRESULT KVAPI Internet_MailFile(HWND owner, const wchar_t* path, const wchar_t* displayName, const wchar_t* subject);
// Mail to one recipient, without attachment.
HRESULT KVAPI Internet_SendMail(HWND owner, const wchar_t* subject, const wchar_t* recipientName,
                                const wchar_t* recipientAddress);
// Mail to the product's support address.
HRESULT KVAPI Internet_SendFeedback(HWND owner, const wchar_t* subject);
// Plays a system sound event asynchronously: 1 "SystemExclamation",
// 2 "SystemAsterisk", 3 "SystemQuestion", 4 "Wendmark_DoneProcessing", any
// other kind "SystemDefault".
BOOL KVAPI KvBeep(int kind);
// A value of the file's version resource in its first translation (at most
// cch - 1 characters, terminated). 0x8004E00A when the file has no version
// resource or no such value; 0x8004E03C for an empty buffer.
HRESULT KVAPI KvVersion_GetString(const wchar_t* file, const wchar_t* valueName, wchar_t* buffer, DWORD cch);

KV_EXTERN_C_END

// Library-internal: what these services call, replaceable by stand-ins (the
// tests record the calls instead of opening a browser, a mail program or a
// sound device).
struct KvUI_ShellServices {
  HINSTANCE(WINAPI* shellExecute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
  BOOL(WINAPI* playSound)(LPCWSTR, UINT);
  const wchar_t* mailLibrary;  // the simple mail interface's module
};
KvUI_ShellServices& KvUI_GetShellServices();
// The addresses behind the page ids and the support address.
const wchar_t* KvUI_WebPageAddress(int pageId);
const wchar_t* KvUI_SupportAddress();
