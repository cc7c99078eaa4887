// Text output of the stand-in host.
#pragma once

#include <windows.h>

#include <string>

std::string ToUtf8(const std::wstring& text);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", lower case.
std::string FormatGuid(const GUID& id);
// "0x%08X"
std::string FormatHex(DWORD value);
// "0x%08X" of an HRESULT, for messages.
std::string FormatResult(HRESULT hr);
