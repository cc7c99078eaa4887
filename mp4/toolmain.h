// The entry of the command-line tools built on the container library: their
// body takes wide arguments on both builds (natively converted from UTF-8) and
// runs with the box and descriptor factories set up around it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "descriptors.h"
#include "factories.h"
#include "textencoding.h"

namespace fileutil {

typedef int (*ToolBody)(const std::vector<std::wstring>& args);

inline int RunToolWithFactories(ToolBody body, const std::vector<std::wstring>& args) {
  CreateGlobalFactories();
  esds::CreateDescriptorFactory();
  const int r = body(args);
  esds::DestroyDescriptorFactory();
  DestroyGlobalFactories();
  return r;
}

// The arguments after the program's name, as wide text.
inline std::vector<std::wstring> ToolArguments(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) {
    std::wstring w;
    Utf8ToWide(reinterpret_cast<const uint8_t*>(argv[i]), std::strlen(argv[i]), w);
    args.push_back(w);
  }
  return args;
}

}  // namespace fileutil

// Defines the program's entry for a tool whose body is `body`.
#ifdef _WIN32
#define VOG_TOOL_MAIN(body)                                                                    \
  int wmain(int argc, wchar_t** argv) {                                                        \
    return fileutil::RunToolWithFactories(body, std::vector<std::wstring>(argv + 1, argv + argc)); \
  }
#else
#define VOG_TOOL_MAIN(body) \
  int main(int argc, char** argv) { return fileutil::RunToolWithFactories(body, fileutil::ToolArguments(argc, argv)); }
#endif
