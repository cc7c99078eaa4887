// Writes a sized box tree (see PrepareWrite) to a stream, in list order from
// offset 0, adding the media-data shift to the chunk offsets. The in-place
// writer passes over the contents it does not hold (media data, unknown
// boxes); the copier (BoxCopy) copies them from the old file instead.
// Every write is checked: Write answers whether all of it reached the stream.
#pragma once

#include <cstdint>
#include <istream>
#include <list>
#include <ostream>

#include "boxes.h"

namespace fileutil {

class BoxWriter : public IBoxVisitor {
 public:
  BoxWriter(std::ostream& stream, BoxList& boxes, uint64_t shift);
  // Writes every box; answers the bytes written or passed over. Succeeded()
  // tells whether the stream took all of it and every box came out at the size
  // the size pass gave it.
  uint64_t Write();
  bool Succeeded() const { return !failed_; }
  uint64_t WriteBoxes(BoxList& list);

#define FILEUTIL_VISIT_DECL(C) uint32_t Visit(C& box) override;
  FILEUTIL_BOX_CLASSES(FILEUTIL_VISIT_DECL)
#undef FILEUTIL_VISIT_DECL

 protected:
  // The content the writer does not hold: passed over here, copied by BoxCopy.
  virtual void KeptContent(IBox& box);
  void Count(uint64_t n) { open_.back() += n; }
  void Fail() { failed_ = true; }
  std::ostream& out_;
  uint64_t sourcePosition_ = 0;

 private:
  void Header(IBox& box, uint32_t headerSize);
  void Put8(uint8_t v);
  void Put16(uint16_t v);
  void Put32(uint32_t v);
  void Put64(uint64_t v);
  void PutRaw(const void* p, size_t n);
  void PutCode(FourCC c);
  void PutZeros(uint64_t n);
  template <class T> uint32_t Asset(T& box);
  template <class T> uint32_t Data(T& box);
  template <class T> uint32_t Children(T& box);
  uint32_t Kept(IBox& box);

  BoxList& boxes_;
  uint64_t shift_;
  std::list<uint64_t> open_;
  bool failed_ = false;
};

class BoxCopy : public BoxWriter {
 public:
  BoxCopy(std::ostream& output, std::istream& source, BoxList& boxes, uint64_t shift);

 protected:
  void KeptContent(IBox& box) override;

 private:
  std::istream* source_;
};

}  // namespace fileutil
