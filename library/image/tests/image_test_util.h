// Helpers of the image tests: fixture paths (Unix paths seen from Wine) and
// reading whitespace-separated number tables.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "vog_files.h"
#include "vog_paths.h"

namespace kvimagetest {

using vogtest::FixturePath;

// Rows of `columns` numbers; empty when the file is missing or malformed.
inline std::vector<std::vector<double>> ReadTable(const std::string& name, size_t columns) {
  std::vector<std::vector<double>> rows;
  FILE* f = std::fopen(FixturePath(name).c_str(), "r");
  if (!f) return rows;
  for (;;) {
    std::vector<double> row(columns);
    size_t i = 0;
    for (; i < columns; ++i)
      if (std::fscanf(f, "%lf", &row[i]) != 1) break;
    if (i == 0) break;
    if (i != columns) {
      rows.clear();
      break;
    }
    rows.push_back(row);
  }
  std::fclose(f);
  return rows;
}

}  // namespace kvimagetest
