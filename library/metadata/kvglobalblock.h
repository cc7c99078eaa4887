// The memory blocks that cross the library's exports (summary texts,
// project-link fields): see kvmemblock.h.
#pragma once

#include "kvmemblock.h"
