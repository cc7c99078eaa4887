// Creation and destruction of the metadata services' factories.
#include "metafactories.h"

#include "descriptors.h"
#include "factories.h"

void InitMetaFactories() {
  fileutil::CreateGlobalFactories();
  esds::CreateDescriptorFactory();
}

void TermMetaFactories() {
  esds::DestroyDescriptorFactory();
  fileutil::DestroyGlobalFactories();
}
