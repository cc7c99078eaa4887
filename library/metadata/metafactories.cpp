// Creation and destruction of the metadata services' factories.
#include "metafactories.h"

#include "smfframes.h"

#include "descriptors.h"
#include "factories.h"
#include "id3meta.h"

void InitMetaFactories() {
  fileutil::CreateGlobalFactories();
  id3meta::CreateIdTables();
  id3meta::InstallTagOperations();
  esds::CreateDescriptorFactory();
  smf::CreateFactory();
}

void TermMetaFactories() {
  smf::DestroyFactory();
  esds::DestroyDescriptorFactory();
  id3meta::RemoveTagOperations();
  id3meta::DestroyIdTables();
  fileutil::DestroyGlobalFactories();
}
