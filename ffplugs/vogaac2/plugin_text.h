// The plug-in's own texts by info id (names, format strings, about-box texts).
#pragma once

#include <windows.h>

// Identifier of the plug-in's about-box bitmap; GetPluginText(10) answers it.
constexpr UINT kVogAacAboutBitmapId = 1020;

// A read-only text of the plug-in, never null (an empty text for an unknown
// id). Info id 10 is not a text: its answer is the value 1020 itself, the
// bitmap resource id, as a pointer-sized value.
const wchar_t* GetPluginText(int infoId);
