// Creates the process-wide box and descriptor factories for every test.
#include "mp4_test_util.h"

static ::testing::Environment* const g_factories =
    ::testing::AddGlobalTestEnvironment(new mp4test::FactoryEnvironment);
