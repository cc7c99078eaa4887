// Window placement: rectangles kept on the desktop, pop-ups placed beside an
// anchor, windows centred, and window placements saved as settings.
#pragma once

#include "kvapi.h"
#include "kvmetric.h"

// KvWndCenter flags: the position (flags & 15) and the reference.
#define KV_CENTER_MIDDLE 0x0000
#define KV_CENTER_UPPER_THIRD 0x0001
#define KV_CENTER_ON_CURSOR 0x0002
#define KV_CENTER_ON_POINT 0x0003
#define KV_CENTER_CLIENT_AREA 0x1000
#define KV_CENTER_OVER_PARENT 0x8000

// KvWindowPlacement modes.
#define KV_PLACEMENT_SAVE 0
#define KV_PLACEMENT_LOAD 1
#define KV_PLACEMENT_LOAD_OR_DEFAULT 2

KV_EXTERN_C_BEGIN

// Whether some monitor shows a piece of the window's caption strip at least
// half a small caption high and wide.
BOOL KVAPI KvIsWindowCaptionVisible(const RECT* window);
// Shifts the rectangle (size kept) into the work area of its monitor, keeping
// the margins.
BOOL KVAPI KvForceRectOntoDesktop(RECT* rect, int marginX, int marginY);
// Places the pop-up at the anchor's corner that faces the middle of the work
// area, then keeps it on the desktop.
BOOL KVAPI KvForcePopupRectOntoDesktop(RECT* popup, const RECT* anchor, int marginX, int marginY);
// Centres or places the window (see the flags) over its parent, a reference
// window or the screen, kept on the desktop; point is read by
// KV_CENTER_ON_POINT.
BOOL KVAPI KvWndCenter(HWND window, HWND reference, const POINT* point, DWORD flags);
// Reads a saved placement: 0 when a whole record was read, else 1. Mode 2
// fills in a default placement when none with negative maximised coordinates
// is stored.
HRESULT KVAPI KvLoadWindowPlacement(HKVMETRIC metric, int id, int mode, WINDOWPLACEMENT* placement);
// A minimised placement becomes normal; a rectangle whose caption cannot be
// seen is moved onto the desktop.
BOOL KVAPI KvFixWindowPlacement(WINDOWPLACEMENT* placement);
// Mode 0 saves the window's placement; 1 loads, fixes and applies it (1 when
// none is stored); 2 as 1 with a default placement. 0x80004005 for other modes
// or when the placement cannot be applied.
HRESULT KVAPI KvWindowPlacement(HWND window, HKVMETRIC metric, int id, int mode);

KV_EXTERN_C_END
