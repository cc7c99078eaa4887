// Helpers shared by the base library's tests: paths as Wine sees them.
#pragma once

#include <string>

#include "vog_paths.h"

namespace kvtest {

// A Unix path as Wine's Z: drive sees it.
using vogtest::WinePath;

// The build's fixture folder (VOG_FIXTURE_DIR) through the Z: drive.
inline std::wstring WineFixtureDir() { return WinePath(VOG_FIXTURE_DIR); }

}  // namespace kvtest
