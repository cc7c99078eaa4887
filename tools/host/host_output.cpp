// Text output of the stand-in host.
#include "host_output.h"

#include <cstdio>

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::string FormatGuid(const GUID& id) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2],
                id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
  return buf;
}

std::string FormatHex(DWORD value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(value));
  return buf;
}

std::string FormatResult(HRESULT hr) { return FormatHex(static_cast<DWORD>(hr)); }
