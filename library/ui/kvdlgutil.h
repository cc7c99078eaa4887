// Small window and dialog operations: moving, sizing, enabling and showing
// controls, radio-button groups, control rectangles, hook dialogs lined up with
// their main dialog, toolbars, and window-class registration under the
// library's activation context.
#pragma once

#include "kvapi.h"
#include "kvlang.h"

KV_EXTERN_C_BEGIN

// Moves a control by an offset (size kept); 0 when it is missing.
BOOL KVAPI KvDlgDeltaControlMove(HWND dialog, int id, int dx, int dy);
// Grows a control's size by the deltas (position kept); 0 when it is missing.
BOOL KVAPI KvDlgDeltaControlSize(HWND dialog, int id, int dw, int dh);
BOOL KVAPI KvDlgEnableControls(HWND dialog, const int* ids, int count, BOOL enable);
BOOL KVAPI KvDlgShowControls(HWND dialog, const int* ids, int count, BOOL show);
// The first checked button from first to last, else fallback.
int KVAPI KvDlgWhichRadioButton(HWND dialog, int first, int last, int fallback);
// A control's rectangle in the dialog's client coordinates (the control given
// by its window, or by its id when the window is null); 0 and an empty
// rectangle when it is missing.
BOOL KVAPI KvDlgGetControlRect(HWND dialog, HWND control, int id, RECT* rect);
// Focus on a dropped-down combo box: closes its list and returns 1. Focus on
// an edit: moves the focus on in its parent dialog and returns 0.
BOOL KVAPI KvDlgUndropComboBox(HWND dialog);
// Whether the point lies in the control's window rectangle (right and bottom
// edges excluded); with mapToDialog the rectangle is taken in the dialog's
// client coordinates, else in screen coordinates.
BOOL KVAPI KvIsMouseInControl(HWND dialog, int id, int x, int y, BOOL mapToDialog);
// Gives the hook dialog's control the left edge and width of the main
// dialog's control (main null: the hook's parent).
BOOL KVAPI KvSetHorizHookControlPos(HWND hook, HWND main, int hookId, int mainId);
// Stretches the hook window to the main window's right edge when it ends
// short of it.
BOOL KVAPI KvLineupHookWithMainDialog(HWND hook, HWND main);
// The client rectangle with the scroll bars' room added back.
BOOL KVAPI KvGetRealClientRect(HWND window, RECT* rect);
// Brings a running top window of the class (and its last active pop-up) to
// the front; the window, or null when there is none.
HWND KVAPI KvActivatePrevAppInstance(const wchar_t* className);
// A movable global block of the same size holding a copy.
HGLOBAL KVAPI KvCopyHandle(HGLOBAL block);
// init: initialises OLE once; otherwise uninitialises it when it was
// initialised. Returns whether OLE is initialised.
BOOL KVAPI KvOleInit(BOOL init);
// An empty toolbar child window in the language's module.
HWND KVAPI KvCreateToolbarEmpty(HKVLANG lang, HWND parent, DWORD style, UINT id);
// Width of the visible buttons together, height of the tallest.
BOOL KVAPI KvGetToolbarSize(HWND toolbar, SIZE* size);
// Window-class registration under the library's activation context.
ATOM KVAPI KvRegisterClass(const WNDCLASSW* windowClass);
BOOL KVAPI KvUnregisterClass(const wchar_t* className, HINSTANCE instance);

KV_EXTERN_C_END

#ifdef __cplusplus
// Library-internal: keeps the library's activation context active for its
// life (nothing when the library has none).
class KvUI_ActivationScope {
 public:
  KvUI_ActivationScope();
  ~KvUI_ActivationScope();
  KvUI_ActivationScope(const KvUI_ActivationScope&) = delete;
  KvUI_ActivationScope& operator=(const KvUI_ActivationScope&) = delete;

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};
#endif
