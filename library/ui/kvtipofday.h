// The tip-of-the-day dialog: one tip of a range of strings at a time, a
// "Next Tip" button and a "Show tips at Startup" check box, built in memory.
#pragma once

#include "kvapi.h"
#include "kvlang.h"

// The caller's tip record; the dialog updates it.
typedef struct KvTipRecord {
  HKVLANG lang;  // whose string table holds the tips
  UINT first;  // string id of the first tip
  UINT last;  // string id of the last tip
  UINT current;  // string id of the tip to show next
  BOOL showAtStartup;
  HBITMAP panelBitmap;  // set by the dialog while it runs
} KvTipRecord;

// Control ids of the dialog.
#define KV_TIP_CLOSE 1001
#define KV_TIP_NEXT 1002
#define KV_TIP_SHOW_AT_STARTUP 1003
#define KV_TIP_PANEL 1004

KV_EXTERN_C_BEGIN

// Shows the dialog modally over the parent unless force is 0 and the record's
// show-at-startup flag is 0; afterwards current moves on to the next tip
// (wrapping to first after last). TRUE when the dialog was shown.
BOOL KVAPI KvTipOfDay(HWND parent, KvTipRecord* tip, BOOL force);

KV_EXTERN_C_END
