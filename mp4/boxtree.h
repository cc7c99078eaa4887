// Walks every box of a tree, depth first in file order, with its depth; used by
// the dump tool and the tests.
#pragma once

#include <functional>

#include "boxes.h"

namespace fileutil {

typedef std::function<void(IBox& box, unsigned depth)> BoxTreeCallback;

void WalkBoxTree(BoxList& boxes, const BoxTreeCallback& callback);

// The children of a box that holds any, else null (found through the visitor).
BoxList* ChildrenOf(IBox& box);

}  // namespace fileutil
