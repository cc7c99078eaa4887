// The size pass before writing: gives every box its write size and write
// offset, decides whether the file can be rewritten in place (media data left
// where it lies, the 'free' box before it absorbing the change) or must be
// rewritten through a copy, and yields the distance the media data moves.
#pragma once

#include <cstdint>
#include <list>

#include "boxes.h"

namespace fileutil {

class PrepareWrite : public IBoxVisitor {
 public:
  explicit PrepareWrite(BoxList& boxes);
  void Run();
  // False: rewrite in place with BoxWriter; true: through a copy with BoxCopy.
  bool NeedsCopy() const { return copyNeeded_; }
  // Write offset minus read offset of the media data (mod 2^64); 0 without media data.
  uint64_t GetMediaDataShift() const;
  // Bytes of the whole output (the end of the last box).
  uint64_t GetTotalSize() const { return runningOffset_; }
  // False when a box that is rebuilt from memory was not read whole (writing
  // the tree would lose the bytes the reader could not take apart), or when
  // media data boxes would move by different distances.
  bool CanWrite() const { return !incomplete_; }

#define FILEUTIL_VISIT_DECL(C) uint32_t Visit(C& box) override;
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_DECL)
#undef FILEUTIL_VISIT_DECL

 private:
  void Place(IBox& box, uint64_t size);
  void PlaceKept(IBox& box);
  void Container(IBox& box, BoxList& children, uint64_t header);

  BoxList& boxes_;
  std::list<BoxList*> parents_;
  std::list<FreeBox*> freeBoxes_;
  MediaDataBox* mediaData_ = nullptr;
  uint64_t runningSize_ = 0;
  uint64_t runningOffset_ = 0;
  bool copyNeeded_ = false;
  bool anyMediaDataMoves_ = false;
  bool incomplete_ = false;
};

// Lets every box of the list accept the visitor (the walk of PrepareWrite::Run).
void ApplyToBoxes(BoxList& boxes, IBoxVisitor& visitor);

}  // namespace fileutil
