// The UI toolkit: one header for all of it. Fonts, colours, brushes, pens and
// cursors shared by every window of the host and the library; bitmap helpers;
// dialogs built in memory, window and dialog operations and placement; the
// tip of the day, web pages, mail, sounds and version strings; the scope
// control; the about box.
#pragma once

#include "kvapi.h"
#include "kvuibitmap.h"
#include "kvuicolor.h"
#include "kvuicursor.h"
#include "kvuifont.h"
#include "kvdlgtemplate.h"
#include "kvdlgutil.h"
#include "kvwndplace.h"
#include "kvtipofday.h"
#include "kvinternet.h"
#include "kvscope.h"
#include "kvabout.h"

KV_EXTERN_C_BEGIN

// Frees every cached UI GDI object: the brushes and pens
// (KvResetUIColors(0)), then the named fonts. Returns 1.
BOOL KVAPI KvFreeUIObjects(void);

KV_EXTERN_C_END

// Hands the library kernel the toolkit's colour reset and cache teardown
// (KvKernel_SetUiHooks). Called once at start-up, before KvKernel_Initialize.
void KvUI_InstallKernelHooks();
