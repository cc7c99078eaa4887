// The stand-in host's verbs. Each verb drives the plug-in only through its
// class object and interfaces and prints what it found; it returns the
// process exit code (0 success, 1 a plug-in call failed, 2 bad usage).
#pragma once

#include "plugin_module.h"

struct HostVerb {
  const wchar_t* name;
  const char* usage;  // arguments after the verb
  const char* help;
  int (*run)(PluginModule& plugin, int argc, wchar_t** argv);  // argv: the verb's own arguments
};

// info: the plug-in info items (IKvUnsharedFIOPluginInfo).
int RunInfoVerb(PluginModule& plugin, int argc, wchar_t** argv);

// read: opens a file through the reader, prints the stream's format, sample
// count and duration, writes the decoded samples to a 16-bit WAV.
int RunReadVerb(PluginModule& plugin, int argc, wchar_t** argv);

// render: renders a WAV file through the render class with template N
// (default 0) into an MP4 file, handing the renderer the --tag fields as the
// host's metadata.
int RunRenderVerb(PluginModule& plugin, int argc, wchar_t** argv);

// tags: prints what the reader's read-metadata object answers for a file: the
// summary fields, the markers and the project link.
int RunTagsVerb(PluginModule& plugin, int argc, wchar_t** argv);
