// The name under which the DLL exports a function, given its 32-bit export
// name. The 32-bit product exports __stdcall functions MSVC-style
// ("_Name@N", C++ ones as "_Z...@N"); 64-bit Windows has one calling
// convention and no decoration, so the 64-bit test build exports "Name" and
// "_Z...". The record form of KvGetDialogSize shares its plain name with the
// resource form and keeps its size suffix there ("KvGetDialogSize@12").
#pragma once

#include <string>

inline std::string VogExportName(const std::string& name) {
#ifdef _WIN64
  const size_t at = name.rfind('@');
  if (name.size() < 2 || name[0] != '_' || at == std::string::npos) return name;
  if (name == "_KvGetDialogSize@12") return name.substr(1);
  if (name[1] == 'Z') return name.substr(0, at);
  return name.substr(1, at - 1);
#else
  return name;
#endif
}
