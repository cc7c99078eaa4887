// Web pages, mail, sounds and version strings.
#include "kvinternet.h"

#include <mapi.h>
#include <mmsystem.h>

#include <string>

#include "kvdlgutil.h"

namespace {

// The product site's pages and the support address (deployment settings).
const wchar_t* const kPages[] = {
    L"https://www.calbrey.example/vogaac2/news",
    L"https://www.calbrey.example/vogaac2/faq",
    L"https://www.calbrey.example/vogaac2/support",
    L"https://www.calbrey.example/",
    L"https://www.calbrey.example/vogaac2",
};
const wchar_t kSupportAddress[] = L"support@calbrey.example";

// MAPI results that are not failures: sent, cancelled by the user, no
// profile logged on.
const ULONG kMapiUserAbort = 1;
const ULONG kMapiLoginFailure = 3;

// Text in the ANSI code page, cut to fit a buffer of bufferBytes (with its
// terminator) without splitting a double-byte character.
std::string Ansi(const wchar_t* text, int bufferBytes) {
  if (!text) return std::string();
  int need = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (need <= 1) return std::string();
  std::string all(static_cast<size_t>(need), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &all[0], need, nullptr, nullptr);
  all.resize(static_cast<size_t>(need - 1));
  const size_t room = static_cast<size_t>(bufferBytes - 1);
  if (all.size() > room) {
    size_t keep = 0;
    for (size_t i = 0; i < all.size();) {
      size_t step = IsDBCSLeadByte(static_cast<BYTE>(all[i])) ? 2 : 1;
      if (i + step > room) break;
      i += step;
      keep = i;
    }
    all.resize(keep);
  }
  return all;
}

HRESULT SendThroughMapi(HWND owner, MapiMessage* message) {
  HMODULE lib;
  {
    KvUI_ActivationScope scope;
    lib = LoadLibraryW(KvUI_GetShellServices().mailLibrary);
  }
  if (!lib) return E_FAIL;
  auto send = reinterpret_cast<LPMAPISENDMAIL>(reinterpret_cast<void*>(GetProcAddress(lib, "MAPISendMail")));
  if (!send) {
    FreeLibrary(lib);
    return E_FAIL;
  }
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  // The owner takes no input while the mail program runs.
  if (owner) {
    EnableWindow(owner, FALSE);
    SetCapture(owner);
  }
  SetFocus(nullptr);
  ULONG result = send(0, reinterpret_cast<ULONG_PTR>(owner), message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
  ReleaseCapture();
  if (owner) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(GetDesktopWindow());
    SetActiveWindow(owner);
    SetFocus(owner);
  }
  FreeLibrary(lib);
  SetCursor(old);
  return result == SUCCESS_SUCCESS || result == kMapiUserAbort || result == kMapiLoginFailure ? S_OK : E_FAIL;
}

}  // namespace

KvUI_ShellServices& KvUI_GetShellServices() {
  static KvUI_ShellServices services = {ShellExecuteW, sndPlaySoundW, L"MAPI32.DLL"};
  return services;
}

const wchar_t* KvUI_WebPageAddress(int pageId) {
  return pageId >= KV_WEBPAGE_NEWS && pageId <= KV_WEBPAGE_PRODUCT ? kPages[pageId - KV_WEBPAGE_NEWS] : nullptr;
}

const wchar_t* KvUI_SupportAddress() { return kSupportAddress; }

// The page is opened in a normal window (show command 1): a browser started
// hidden would never be seen.
extern "C" HINSTANCE KVAPI Internet_BrowseWebPage(HWND, const wchar_t* address) {
  if (IS_INTRESOURCE(address)) address = KvUI_WebPageAddress(static_cast<int>(reinterpret_cast<UINT_PTR>(address)));
  if (!address) return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(ERROR_FILE_NOT_FOUND));
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return KvUI_GetShellServices().shellExecute(GetDesktopWindow(), L"open", address, nullptr, windows, SW_SHOWNORMAL);
}

extern "C" HRESULT KVAPI Internet_MailFile(HWND owner, const wchar_t* path, const wchar_t* displayName,
                                           const wchar_t* subject) {
  std::string file = Ansi(path, MAX_PATH), name = Ansi(displayName, MAX_PATH), subj = Ansi(subject, 256);
  MapiFileDesc attachment;
  ZeroMemory(&attachment, sizeof attachment);
  attachment.nPosition = static_cast<ULONG>(-1);
  attachment.lpszPathName = &file[0];
  attachment.lpszFileName = name.empty() ? nullptr : &name[0];
  MapiMessage message;
  ZeroMemory(&message, sizeof message);
  message.lpszSubject = &subj[0];
  message.nFileCount = 1;
  message.lpFiles = &attachment;
  return SendThroughMapi(owner, &message);
}

extern "C" HRESULT KVAPI Internet_SendMail(HWND owner, const wchar_t* subject, const wchar_t* recipientName,
                                           const wchar_t* recipientAddress) {
  std::string subj = Ansi(subject, 256), name = Ansi(recipientName, 256), address = Ansi(recipientAddress, 256);
  MapiRecipDesc recipient;
  ZeroMemory(&recipient, sizeof recipient);
  recipient.ulRecipClass = MAPI_TO;
  recipient.lpszName = &name[0];
  recipient.lpszAddress = &address[0];
  MapiMessage message;
  ZeroMemory(&message, sizeof message);
  message.lpszSubject = &subj[0];
  message.nRecipCount = 1;
  message.lpRecips = &recipient;
  return SendThroughMapi(owner, &message);
}

extern "C" HRESULT KVAPI Internet_SendFeedback(HWND owner, const wchar_t* subject) {
  return Internet_SendMail(owner, subject, kSupportAddress, kSupportAddress);
}

extern "C" BOOL KVAPI KvBeep(int kind) {
  const wchar_t* sound;
  switch (kind) {
    case KV_BEEP_EXCLAMATION: sound = L"SystemExclamation"; break;
    case KV_BEEP_ASTERISK: sound = L"SystemAsterisk"; break;
    case KV_BEEP_QUESTION: sound = L"SystemQuestion"; break;
    case KV_BEEP_DONE_PROCESSING: sound = L"Wendmark_DoneProcessing"; break;
    default: sound = L"SystemDefault"; break;
  }
  return KvUI_GetShellServices().playSound(sound, SND_ASYNC);
}

namespace {
void AppendHex4(std::wstring& s, WORD v) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  for (int shift = 12; shift >= 0; shift -= 4) s += kDigits[(v >> shift) & 0xF];
}
}  // namespace

extern "C" HRESULT KVAPI KvVersion_GetString(const wchar_t* file, const wchar_t* valueName, wchar_t* buffer,
                                             DWORD cch) {
  if (!buffer || cch == 0) return KV_E_BUFFERTOOSMALL;
  buffer[0] = 0;
  if (!file || !valueName) return E_INVALIDARG;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(file, &handle);
  if (!size) return KV_E_NOTFOUND;
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(file, 0, size, &data[0])) return KV_E_NOTFOUND;
  WORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(&data[0], L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      !translation || length < 4)
    return KV_E_NOTFOUND;
  std::wstring query = L"\\StringFileInfo\\";
  AppendHex4(query, translation[0]);
  AppendHex4(query, translation[1]);
  query += L"\\";
  query += valueName;
  wchar_t* value = nullptr;
  if (!VerQueryValueW(&data[0], query.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
    return KV_E_NOTFOUND;
  lstrcpynW(buffer, value, static_cast<int>(cch));
  return S_OK;
}
