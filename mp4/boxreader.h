// Reads a byte source into a tree of boxes. Every field is bounded by the end of
// its box, every box by its parent and the source; after each box the reader
// stands exactly at the box's end. Counts and sizes from the file never cause an
// allocation beyond the bytes that are really there.
#pragma once

#include <cstdint>
#include <istream>

#include "boxes.h"
#include "datahandler.h"
#include "factories.h"

namespace fileutil {

// Parsing limits.
const uint32_t kMaxBoxDepth = 64;         // deeper boxes are kept with their payload unread
const uint64_t kMaxBoxCount = 1000000;    // boxes per read; the rest of the source is not read
const uint32_t kMaxFileTypeBrands = 100;  // 'ftyp' brand lists of this length or longer are not kept

class BoxReader : public IBoxVisitor {
 public:
  // A seekable stream: the budget is its length (the stream is rewound).
  explicit BoxReader(std::istream& in);
  // A forward-only stream with a budget (UINT64_MAX when unknown).
  BoxReader(std::istream& in, uint64_t budget);
  // A file by path.
  explicit BoxReader(const wchar_t* path);
  ~BoxReader();
  BoxReader(const BoxReader&) = delete;
  BoxReader& operator=(const BoxReader&) = delete;

  // Each answers a new top-level list that the caller owns (release it with
  // DeleteBoxList), or null when no box could be read.
  BoxList* ReadAllBoxes();
  BoxList* ReadMetaBoxes();
  BoxList* ReadBoxesForMetaWrite();
  BoxList* ReadWith(IFactory* factory);

#define FILEUTIL_VISIT_DECL(C) uint32_t Visit(C& box) override;
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_DECL)
#undef FILEUTIL_VISIT_DECL

 private:
  IBox* ReadBox(uint64_t limit);
  uint64_t ReadBoxes(BoxList& list, uint64_t budget);
  void ReadChildren(IBox& box, BoxList& children);
  void Advance(IBox& box, uint64_t n);
  uint64_t Left(IBox& box) const;
  bool ReadRaw(IBox& box, void* dst, uint32_t n);
  bool Read16(IBox& box, uint16_t& v);
  bool Read32(IBox& box, uint32_t& v);
  bool Read64(IBox& box, uint64_t& v);
  bool ReadWord(IBox& box, uint32_t& v) { return ReadRaw(box, &v, 4); }
  bool ReadBytes(IBox& box, ByteVector& out, uint64_t n);
  bool ReadRest(IBox& box, ByteVector& out) { return ReadBytes(box, out, Left(box)); }
  bool SkipBytes(IBox& box, uint64_t n);
  template <class T> uint32_t ReadTextBox(T& box, bool hasLanguage);
  template <class T> uint32_t ReadDataBox(T& box);

  DataHandler* handler_;
  uint64_t budget_;
  uint64_t position_ = 0;
  IFactory* factory_ = nullptr;
  uint32_t depth_ = 0;
  uint64_t boxCount_ = 0;
  bool stop_ = false;
};

}  // namespace fileutil
