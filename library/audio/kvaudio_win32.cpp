// The Windows-only parts of the audio library: the self-test's wait cursor,
// its details report and failure message box through the library's error
// handler.
#include <windows.h>

#include "kvaudio_selftest.h"
#include "kverror.h"

HRESULT KvAudioCopy_UnitTestWith(void* owner, HRESULT (*run)(KvAudioSelfTestReport*)) {
  // 32514 is the system's wait cursor.
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
  KvErrorHandler_DetailsInit();
  KvAudioSelfTestReport report;
  HRESULT hr = run(&report);
  for (int node : report.failedNodes)
    KvErrorHandler_DetailsAddString(E_UNEXPECTED, L"KvAudioCopy_UnitTest node[%d] failed.", node);
  SetCursor(previous);
  // A failed node leaves its code as the details' last error.
  if (SUCCEEDED(hr)) hr = KvErrorHandler_GetLastError();
  if (SUCCEEDED(hr) || !owner) return hr;
  KvErrorHandler_MsgBox(static_cast<HWND>(owner), MB_ICONEXCLAMATION, 0, hr, L"INTERNAL: AudioCopy unit test failed!",
                        FALSE);
  return S_OK;
}

extern "C" HRESULT KVAPI KvAudioCopy_UnitTest(void* owner) {
  return KvAudioCopy_UnitTestWith(owner, KvAudioCopy_RunSelfTest);
}
