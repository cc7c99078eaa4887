// Tree walking through the visitor.
#include "boxtree.h"

#include <type_traits>

namespace fileutil {

namespace {

class ChildFinder : public IBoxVisitor {
 public:
#define FILEUTIL_VISIT_DEF(C) \
  uint32_t Visit(C& box) override { return Find(box); }
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_DEF)
#undef FILEUTIL_VISIT_DEF
  BoxList* children = nullptr;

 private:
  template <class T>
  typename std::enable_if<std::is_base_of<IContainerBox, T>::value, uint32_t>::type Find(T& box) {
    children = &box.Children();
    return 1;
  }
  template <class T>
  typename std::enable_if<!std::is_base_of<IContainerBox, T>::value, uint32_t>::type Find(T&) {
    return 0;
  }
};

void Walk(BoxList& boxes, const BoxTreeCallback& callback, unsigned depth) {
  for (IBox* box : boxes) {
    callback(*box, depth);
    if (BoxList* children = ChildrenOf(*box)) Walk(*children, callback, depth + 1);
  }
}

}  // namespace

BoxList* ChildrenOf(IBox& box) {
  ChildFinder finder;
  box.Accept(finder);
  return finder.children;
}

void WalkBoxTree(BoxList& boxes, const BoxTreeCallback& callback) { Walk(boxes, callback, 0); }

}  // namespace fileutil
