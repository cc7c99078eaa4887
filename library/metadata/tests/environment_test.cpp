// The metadata factories exist for the whole test program, as in the module.
#include "metatest_util.h"

namespace {
::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new metatest::MetaFactoryEnvironment);
}  // namespace
