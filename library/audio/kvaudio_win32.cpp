// The Windows-only parts of the audio library: the self-test's wait cursor
// and failure message box.
#include <windows.h>

#include "kvaudio_selftest.h"

extern "C" HRESULT KVAPI KvAudioCopy_UnitTest(void* owner) {
  // 32514 is the system's wait cursor.
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
  KvAudioSelfTestReport report;
  HRESULT hr = KvAudioCopy_RunSelfTest(&report);
  SetCursor(previous);
  if (SUCCEEDED(hr)) return hr;
  if (!owner) return hr;
  std::wstring text = L"INTERNAL: AudioCopy unit test failed!\r\n\r\n";
  for (char c : report.details) text += static_cast<wchar_t>(c);
  MessageBoxW(static_cast<HWND>(owner), text.c_str(), L"vogaac2", MB_ICONEXCLAMATION);
  return S_OK;
}
