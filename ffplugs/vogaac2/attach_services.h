// Services of other parts of the library that the module's attach and detach
// steps call: library initialisation and termination, the plug-in help path
// and the metadata factories.
//
// The module calls them only through these functions. attach_services.cpp
// holds their present definitions: stand-ins until the owning parts of the
// library are linked into the module, then thin calls into those parts.
#pragma once

#include <windows.h>

namespace vogaac2 {

// Library start-up and shut-down (KvKernel_Initialize(module, null) and
// KvKernel_Terminate()).
BOOL InitializeLibrary(HMODULE module);
void TerminateLibrary();

// Builds the plug-in's help file path (HTML Help kind) into `path` (cch
// characters, empty when there is no help file) and installs it.
void InstallPluginHelpPath(HMODULE module, wchar_t* path, int cch);

// Creates and destroys the process-wide box, descriptor and tag factories.
void CreateMetaFactories();
void DestroyMetaFactories();

}  // namespace vogaac2
