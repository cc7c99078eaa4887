// The plug-in's about box, shown by both class objects (reader and renderer).
#pragma once

#include <windows.h>

// Fills the about description from the plug-in's texts and the module's path
// and runs the modal about box over `parent`. Always S_OK.
HRESULT ShowPluginAbout(HWND parent);
