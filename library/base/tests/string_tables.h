// Shared by the tests that compare library text with the string tables of
// vogaac2.dll and vogaac2.LNG as pefile reads them (fixture
// string_tables.tsv): the five languages and the table reader.
#pragma once

#include <windows.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "base_test_util.h"

namespace kvtest {

const LCID kLanguages[] = {1031, 1033, 1034, 1036, 1041};

// The string tables: (module label "dll" or "lng", language, id) -> text.
struct StringTables {
  std::map<std::tuple<std::string, int, int>, std::wstring> text;
  std::set<int> dllIds;
  std::set<int> lngIds;
  bool loaded = false;

  const std::wstring* Find(const std::string& label, int lang, int id) const {
    auto it = text.find(std::make_tuple(label, lang, id));
    return it == text.end() ? nullptr : &it->second;
  }
};

// Read once; each fixture line is "label language id hex-of-UTF-16".
inline const StringTables& Tables() {
  static StringTables t;
  if (t.loaded) return t;
  t.loaded = true;
  std::ifstream in(WinePath(std::string(VOG_FIXTURE_DIR) + "/string_tables.tsv").c_str());
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string label, hex;
    int lang = 0, id = 0;
    fields >> label >> lang >> id >> hex;
    std::wstring s;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
      s += static_cast<wchar_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
    t.text[std::make_tuple(label, lang, id)] = s;
    (label == "dll" ? t.dllIds : t.lngIds).insert(id);
  }
  return t;
}

}  // namespace kvtest
