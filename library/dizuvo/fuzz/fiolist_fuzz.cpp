// libFuzzer target of the list parsing of the plug-in cache and profile
// files. The input is read as 16-bit units (little-endian): once as a list
// text (its terminator added), walked in every blank mode, normalised,
// searched for each of its own extensions and split into pattern
// extensions; and once as a section's key-name list exactly as long as the
// input (no terminator added), each name read as a GUID. The walks must
// agree with each other: a token counted is a token found at its index, a
// normalised list normalises to itself, an extension taken from the list is
// found in it, and a GUID read prints back as the same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kvfiolist.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool SameText(const WCHAR* a, const WCHAR* b) {
  size_t i = 0;
  while (a[i] && a[i] == b[i]) ++i;
  return a[i] == b[i];
}

WCHAR UpperHex(WCHAR c) { return c >= 'a' && c <= 'f' ? WCHAR(c - 32) : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<WCHAR> units(size / 2);
  for (size_t i = 0; i < units.size(); ++i) units[i] = WCHAR(data[2 * i] | (data[2 * i + 1] << 8));

  // The key-name list, bounded by its length alone.
  size_t cursor = 0, length = 0;
  const WCHAR* name = nullptr;
  while (kvfiolist::NextKeyName(units.data(), units.size(), &cursor, &name, &length)) {
    Check(name >= units.data() && name + length < units.data() + units.size() && name[length] == 0);
    GUID id;
    if (!kvfiolist::ParseGuid(name, &id)) continue;
    char printed[40];
    std::snprintf(printed, sizeof printed, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(id.Data1), unsigned(id.Data2), unsigned(id.Data3), id.Data4[0], id.Data4[1],
                  id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    Check(length == 38);
    for (size_t i = 0; i < 38; ++i) Check(UpperHex(name[i]) == WCHAR(printed[i]));
  }

  // The list text.
  units.push_back(0);
  const WCHAR* text = units.data();
  const DWORD count = kvfiolist::CountTokens(text);
  kvfiolist::Tokens kept(text, kvfiolist::kKeepBlanks);
  const WCHAR* a;
  int n;
  DWORD index = 0;
  while (kept.Next(&a, &n)) {
    const WCHAR* b;
    int k;
    Check(n > 0 && a >= text && a + n < text + units.size());
    Check(kvfiolist::TokenAt(text, index, &b, &k) && a == b && n == k);
    ++index;
    WCHAR ext[261];
    if (kvfiolist::PatternExtension(a, n, ext, 261)) Check(ext[0] != 0);
  }
  Check(index == count);

  for (kvfiolist::Blanks mode : {kvfiolist::kLeadingSpaces, kvfiolist::kSpacesAndTabs}) {
    kvfiolist::Tokens t(text, mode);
    while (t.Next(&a, &n)) {
      Check(n > 0 && a >= text && a + n < text + units.size() && a[0] != ' ');
      if (mode != kvfiolist::kLeadingSpaces || n >= 260) continue;
      // The token's own extension, as the manager would ask for it.
      WCHAR ext[260];
      const WCHAR* e = a;
      int k = n;
      if (k >= 2 && e[0] == '*' && e[1] == '.') e += 2, k -= 2;
      while (k > 0 && e[k - 1] == ' ') --k;
      bool hasNul = false;
      for (int i = 0; i < k; ++i) hasNul |= e[i] == 0;
      if (k <= 0 || hasNul) continue;
      for (int i = 0; i < k; ++i) ext[i] = e[i];
      ext[k] = 0;
      kvfiolist::ToUpper(ext, k);
      Check(kvfiolist::HoldsExtension(text, ext));
    }
  }

  std::vector<WCHAR> once(units.size() + 1), twice(units.size() + 1);
  int len = kvfiolist::Normalise(text, once.data(), int(once.size()));
  Check(len >= 0 && size_t(len) < once.size() && once[len] == 0);
  int again = kvfiolist::Normalise(once.data(), twice.data(), int(twice.size()));
  Check(again == len && SameText(once.data(), twice.data()));
  // A small buffer cuts, and stays terminated inside it.
  WCHAR small[8];
  len = kvfiolist::Normalise(text, small, 8);
  Check(len >= 0 && len < 8 && small[len] == 0);
  return 0;
}
