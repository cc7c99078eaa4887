// Stand-in host application: loads the plug-in DLL by path and drives it only
// through DllGetClassObject and the plug-in interfaces, as a host application
// or the file-IO manager would.
//
//   host [--dll PATH] VERB [ARGS...]
//
// Without --dll the host loads vogaac2.dll from its own folder.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "host_output.h"
#include "host_verbs.h"

namespace {

const HostVerb kVerbs[] = {
    {L"info", "", "print the plug-in info items", &RunInfoVerb},
    {L"read", "IN OUT.wav [--first FRAME] [--count N] [--block N]",
     "decode IN through the reader; print its format, sample count and duration; write a 16-bit WAV", &RunReadVerb},
    {L"render", "IN.wav OUT.m4a [--preset N] [--tag KEY=VALUE]...",
     "render a 16-bit or float WAV through the render class with template N (default 0); each --tag hands the "
     "renderer a summary field as the host's metadata (KEY: title, artist, album, comment, date, genre, track, "
     "... or four letters such as INAM)",
     &RunRenderVerb},
    {L"tags", "IN", "print what the reader's metadata object answers: summary fields, markers, project link",
     &RunTagsVerb},
};

void PrintUsage() {
  std::fprintf(stderr, "usage: host [--dll PATH] VERB [ARGS...]\nverbs:\n");
  for (const HostVerb& verb : kVerbs)
    std::fprintf(stderr, "  %s %s\n      %s\n", ToUtf8(verb.name).c_str(), verb.usage, verb.help);
}

std::wstring DefaultDllPath() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"vogaac2.dll";
  std::wstring path(self, n);
  size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"vogaac2.dll";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring dllPath = DefaultDllPath();
  int next = 1;
  while (next < argc && argv[next][0] == L'-') {
    if (std::wcscmp(argv[next], L"--dll") == 0 && next + 1 < argc) {
      dllPath = argv[next + 1];
      next += 2;
    } else {
      PrintUsage();
      return 2;
    }
  }
  if (next >= argc) {
    PrintUsage();
    return 2;
  }
  const HostVerb* verb = nullptr;
  for (const HostVerb& candidate : kVerbs)
    if (std::wcscmp(candidate.name, argv[next]) == 0) verb = &candidate;
  if (!verb) {
    std::fprintf(stderr, "host: unknown verb %s\n", ToUtf8(argv[next]).c_str());
    PrintUsage();
    return 2;
  }

  PluginModule plugin;
  if (!plugin.Load(dllPath)) {
    std::fprintf(stderr, "host: %s\n", plugin.Error().c_str());
    return 1;
  }
  int status = verb->run(plugin, argc - next - 1, argv + next + 1);
  std::fflush(stdout);
  return status;
}
