// Help files and context help. Kind 0 is WinHelp (".hlp"; off on Windows
// Vista and later), kind 1 HTML Help (".chm"). A module's help file is looked
// for in the product family's shared help folder or beside the module, in a
// translated form when one exists for the user's language.
#pragma once

#include "kvapi.h"

#define KV_HELP_WINHELP 0
#define KV_HELP_HTMLHELP 1

KV_EXTERN_C_BEGIN

BOOL KVAPI KvHelp_SetHelpFilePath(int kind, const wchar_t* path);
BOOL KVAPI KvHelp_GetHelpFilePath(int kind, wchar_t* out, int cch);
BOOL KVAPI KvHelp_CreateHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch, const wchar_t* name,
                                     BOOL noLocalize);
BOOL KVAPI KvHelp_CreateSharedHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch, const wchar_t* name,
                                           BOOL noLocalize);
BOOL KVAPI KvHelp_CreateHelpFilePathEX(int kind, HMODULE module, wchar_t* out, int cch, const wchar_t* name,
                                       BOOL noLocalize);
BOOL KVAPI KvHelp_CreateUnsharedHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch);
BOOL KVAPI KvHelp_CreatePluginHelpFilePath(int kind, HMODULE module, wchar_t* out, int cch, BOOL preferShared);
BOOL KVAPI KvHelp_ContextHelp(int kind, HWND window, DWORD_PTR data, UINT command, const wchar_t* path);
BOOL KVAPI KvHelp_ContextPopupHelp(int kind, HWND window, DWORD defaultTopic, int controlId, const DWORD* idMap,
                                   const wchar_t* path);
BOOL KVAPI KvHelp_HitTestToolbar(HWND toolbar, HELPINFO* info);

KV_EXTERN_C_END

// Library-internal: the topic of a pop-up (0: none) and the command.
DWORD KvHelp_PopupTopic(int kind, DWORD defaultTopic, int controlId, const DWORD* idMap, UINT* command);
// Replaces path (MAX_PATH characters) by its translated variant for the
// language abbreviation, when one exists; TRUE when it did.
BOOL KvHelp_TranslatedVariant(wchar_t* path, const wchar_t* abbreviation);
