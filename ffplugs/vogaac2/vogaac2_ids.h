// The AAC plug-in's fixed identifiers.
#pragma once

#include <windows.h>

#include "kvresult.h"

// Plug-in category of the plug-in info row.
inline constexpr GUID VogAacCategoryId = {0xabd1218c, 0xb335, 0x4343, {0xb5, 0x78, 0x00, 0xaa, 0x00, 0x6b, 0xa2, 0xba}};
// The reader class's id.
inline constexpr GUID VogAacReaderId = {0x249f8688, 0xfb9a, 0x4fae, {0x9e, 0xd5, 0x2e, 0xc6, 0x6d, 0x1d, 0xd3, 0x9c}};
// The renderer's id; owner id of every template the render class makes.
inline constexpr GUID VogAacPluginId = {0x5a64caa1, 0xfa2a, 0x45a8, {0xb7, 0x77, 0x88, 0xe0, 0x39, 0xad, 0xd0, 0xa8}};

// The plug-in's display name.
inline constexpr wchar_t kVogAacDisplayName[] = L"VOG AAC 2 File Format";

