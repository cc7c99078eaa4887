// The library services of the attach and detach steps. Each is a stand-in
// until the part of the library that owns it is linked into the module; then
// its body becomes the call into that part.
#include "attach_services.h"

#include "descriptors.h"
#include "factories.h"

namespace vogaac2 {

// Library initialisation is not linked in yet: nothing to set up.
BOOL InitializeLibrary(HMODULE) { return TRUE; }
void TerminateLibrary() {}

// No help library yet: no help file, an empty path.
void InstallPluginHelpPath(HMODULE, wchar_t* path, int cch) {
  if (path && cch > 0) path[0] = 0;
}

// The box factories and prototype tables, then the descriptor factory (the
// tag factories of the metadata library join when it is linked in);
// destroyed in the reverse order.
void CreateMetaFactories() {
  fileutil::CreateGlobalFactories();
  esds::CreateDescriptorFactory();
}
void DestroyMetaFactories() {
  esds::DestroyDescriptorFactory();
  fileutil::DestroyGlobalFactories();
}

}  // namespace vogaac2
