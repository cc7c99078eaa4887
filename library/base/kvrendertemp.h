// The temporary file of a render: the renderer writes beside its target, under
// "~vog", eight hexadecimal digits and the target's extension, and puts the
// file in place only when it is complete; the manager finds the ones a dead
// out-of-process render left by the same name.
#pragma once

#include <string>

namespace kvrendertemp {

const wchar_t kPrefix[] = L"~vog";
const size_t kPrefixLength = 4;
const size_t kDigits = 8;

// The folder of `target` with its last separator (empty for a bare name) and
// its extension with the dot (empty when it has none).
inline void SplitTarget(const std::wstring& target, std::wstring& folder, std::wstring& extension) {
  const size_t slash = target.find_last_of(L"\\/:");
  folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  extension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

}  // namespace kvrendertemp
